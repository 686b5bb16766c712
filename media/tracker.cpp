// The tracker-module replayer: parsing, the row and tick effects, and the mixer.
#include "media/tracker.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "base/errors.h"

namespace qv {

namespace {

// The format's standard period table: finetunes 0..7, then -8..-1 (stored as 8..15).
const int16_t kPeriods[16][36] = {
    {856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453, 428, 404, 381, 360, 339, 320,
     302, 285, 269, 254, 240, 226, 214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120, 113},
    {850, 802, 757, 715, 674, 637, 601, 567, 535, 505, 477, 450, 425, 401, 379, 357, 337, 318,
     300, 284, 268, 253, 239, 225, 213, 201, 189, 179, 169, 159, 150, 142, 134, 126, 119, 113},
    {844, 796, 752, 709, 670, 632, 597, 563, 532, 502, 474, 447, 422, 398, 376, 355, 335, 316,
     298, 282, 266, 251, 237, 224, 211, 199, 188, 177, 167, 158, 149, 141, 133, 125, 118, 112},
    {838, 791, 746, 704, 665, 628, 592, 559, 528, 498, 470, 444, 419, 395, 373, 352, 332, 314,
     296, 280, 264, 249, 235, 222, 209, 198, 187, 176, 166, 157, 148, 140, 132, 125, 118, 111},
    {832, 785, 741, 699, 660, 623, 588, 555, 524, 495, 467, 441, 416, 392, 370, 350, 330, 312,
     294, 278, 262, 247, 233, 220, 208, 196, 185, 175, 165, 156, 147, 139, 131, 124, 117, 110},
    {826, 779, 736, 694, 655, 619, 584, 551, 520, 491, 463, 437, 413, 390, 368, 347, 328, 309,
     292, 276, 260, 245, 232, 219, 206, 195, 184, 174, 164, 155, 146, 138, 130, 123, 116, 109},
    {820, 774, 730, 689, 651, 614, 580, 547, 516, 487, 460, 434, 410, 387, 365, 345, 325, 307,
     290, 274, 258, 244, 230, 217, 205, 193, 183, 172, 163, 154, 145, 137, 129, 122, 115, 109},
    {814, 768, 725, 684, 646, 610, 575, 543, 513, 484, 457, 431, 407, 384, 363, 342, 323, 305,
     288, 272, 256, 242, 228, 216, 204, 192, 181, 171, 161, 152, 144, 136, 128, 121, 114, 108},
    {907, 856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453, 428, 404, 381, 360, 339,
     320, 302, 285, 269, 254, 240, 226, 214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120},
    {900, 850, 802, 757, 715, 675, 636, 601, 567, 535, 505, 477, 450, 425, 401, 379, 357, 337,
     318, 300, 284, 268, 253, 238, 225, 212, 200, 189, 179, 169, 159, 150, 142, 134, 126, 119},
    {894, 844, 796, 752, 709, 670, 632, 597, 563, 532, 502, 474, 447, 422, 398, 376, 355, 335,
     316, 298, 282, 266, 251, 237, 223, 211, 199, 188, 177, 167, 158, 149, 141, 133, 125, 118},
    {887, 838, 791, 746, 704, 665, 628, 592, 559, 528, 498, 470, 444, 419, 395, 373, 352, 332,
     314, 296, 280, 264, 249, 235, 222, 209, 198, 187, 176, 166, 157, 148, 140, 132, 125, 118},
    {881, 832, 785, 741, 699, 660, 623, 588, 555, 524, 494, 467, 441, 416, 392, 370, 350, 330,
     312, 294, 278, 262, 247, 233, 220, 208, 196, 185, 175, 165, 156, 147, 139, 131, 123, 117},
    {875, 826, 779, 736, 694, 655, 619, 584, 551, 520, 491, 463, 437, 413, 390, 368, 347, 328,
     309, 292, 276, 260, 245, 232, 219, 206, 195, 184, 174, 164, 155, 146, 138, 130, 123, 116},
    {868, 820, 774, 730, 689, 651, 614, 580, 547, 516, 487, 460, 434, 410, 387, 365, 345, 325,
     307, 290, 274, 258, 244, 230, 217, 205, 193, 183, 172, 163, 154, 145, 137, 129, 122, 115},
    {862, 814, 768, 725, 684, 646, 610, 575, 543, 513, 484, 457, 431, 407, 384, 363, 342, 323,
     305, 288, 272, 256, 242, 228, 216, 203, 192, 181, 171, 161, 152, 144, 136, 128, 121, 114},
};

const uint8_t kSine[32] = {0,   24,  49,  74,  97,  120, 141, 161, 180, 197, 212,
                           224, 235, 244, 250, 253, 255, 253, 250, 244, 235, 224,
                           212, 197, 180, 161, 141, 120, 97,  74,  49,  24};

const uint8_t kFunk[16] = {0, 5, 6, 7, 8, 10, 11, 13, 16, 19, 22, 26, 32, 43, 64, 128};

constexpr int32_t kCellsPerPattern = kTrackerRows * kTrackerChannels;

int32_t NoteIndex(int32_t period) {
  int best = 0;
  int32_t bestDiff = INT32_MAX;
  for (int i = 0; i < 36; i++) {
    int32_t d = std::abs(kPeriods[0][i] - period);
    if (d < bestDiff) {
      bestDiff = d;
      best = i;
    }
  }
  return best;
}

uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return std::min(std::max(v, lo), hi); }

int32_t Wave(int32_t kind, int32_t pos) {
  switch (kind & 3) {
    case 0:
      return pos < 32 ? kSine[pos & 31] : -kSine[pos & 31];
    case 1:
      return pos < 32 ? pos * 8 : pos * 8 - 512;
    default:
      return pos < 32 ? 255 : -255;
  }
}

void SetPeriod(qvTrackerChannel* c, int32_t period) {
  c->period = period;
  c->step = TrackerStep(period);
}

// Starts the channel's current sample at `offset` bytes (past the end: silent, or the loop start
// of a looping sample).
void StartSample(qvTrackerModule* m, qvTrackerChannel* c, int32_t offset) {
  if (c->sample == 0) {
    c->position = -1;
    return;
  }
  const qvTrackerSample& s = m->samples[c->sample - 1];
  int64_t at = static_cast<int64_t>(offset) << 14;
  if (at >= s.length) at = s.loops ? s.repeatStart : -1;
  c->position = at;
}

// The sample-number and note part of the channel's cell (on the row's first tick, or on tick x of
// a note delay).
void ApplyCellNote(qvTrackerModule* m, qvTrackerChannel* c) {
  const qvTrackerCell& cell = c->cell;
  bool hasPeriod = cell.period != 0;
  int32_t number = cell.sample >= 1 && cell.sample <= kTrackerSamples ? cell.sample : 0;
  if (number != 0) {
    const qvTrackerSample& s = m->samples[number - 1];
    if (hasPeriod) {
      c->sample = number;
      c->pending = 0;
      c->finetune = s.finetune;
    } else {
      c->pending = number;
    }
    c->baseVolume = c->volume = std::min(s.volume, 63);
  } else if (hasPeriod) {
    if (c->pending != 0) {
      c->sample = c->pending;
      c->pending = 0;
      c->finetune = m->samples[c->sample - 1].finetune;
    }
    bool keeps = cell.effect == 0 || cell.effect == 0xC || cell.effect == 0xF;
    if (!keeps && c->sample != 0) {
      c->baseVolume = c->volume = std::min(m->samples[c->sample - 1].volume, 63);
    }
  }
  if (!hasPeriod) return;
  if (cell.effect == 0xE && cell.paramHi == 5) c->finetune = cell.paramLo;
  int32_t period = LookupTrackerPeriod(cell.period, c->finetune, 0);
  if (cell.effect == 3 || cell.effect == 5) {
    c->portaTarget = period;
    return;
  }
  c->notePeriod = period;
  SetPeriod(c, period);
  if ((c->vibratoWave & 4) == 0) c->vibratoPos = 0;
  if ((c->tremoloWave & 4) == 0) c->tremoloPos = 0;
  int32_t offset = 0;
  if (cell.effect == 9) {
    if (cell.param != 0) c->lastOffset = cell.param * 256;
    offset = c->lastOffset;
  }
  StartSample(m, c, offset);
}

void VolumeSlide(qvTrackerChannel* c) {
  c->baseVolume = Clamp(c->baseVolume + c->volumeSlide, 0, 63);
  c->volume = c->baseVolume;
}

void Funk(qvTrackerModule* m, qvTrackerChannel* c) {
  if (c->funkSpeed == 0) return;
  c->funkCount += kFunk[c->funkSpeed];
  if (c->funkCount < 128) return;
  c->funkCount = 0;
  if (c->sample == 0) return;
  qvTrackerSample& s = m->samples[c->sample - 1];
  if (!s.loops) return;
  int32_t start = static_cast<int32_t>(s.repeatStart >> 14);
  int32_t length = static_cast<int32_t>(s.repeatLength >> 14);
  if (++c->funkPos >= length) c->funkPos = 0;
  s.data[start + c->funkPos] = static_cast<int8_t>(~s.data[start + c->funkPos]);
}

void TickChannel(qvTrackerModule* m, qvTrackerChannel* c) {
  const qvTrackerCell& cell = c->cell;
  int32_t t = m->tick;
  Funk(m, c);
  if (c->delayed && t == cell.paramLo) {
    c->delayed = false;
    ApplyCellNote(m, c);
  }
  if (t == 0) return;
  switch (cell.effect) {
    case 0:
      if (cell.param != 0) {
        int32_t offset = t % 3 == 1 ? cell.paramHi : t % 3 == 2 ? cell.paramLo : 0;
        SetPeriod(c, LookupTrackerPeriod(c->notePeriod, c->finetune, offset));
      }
      break;
    case 1:
    case 2:
      c->notePeriod = Clamp(c->notePeriod + c->slide, kTrackerMinPeriod, kTrackerMaxPeriod);
      SetPeriod(c, c->notePeriod);
      break;
    case 3:
    case 5:
      if (c->portaTarget != 0 && c->portaSpeed != 0 && c->notePeriod != 0) {
        if (c->notePeriod < c->portaTarget) {
          c->notePeriod = std::min(c->notePeriod + c->portaSpeed, c->portaTarget);
        } else {
          c->notePeriod = std::max(c->notePeriod - c->portaSpeed, c->portaTarget);
        }
        int32_t shown = c->notePeriod;
        if (c->glissando != 0) shown = LookupTrackerPeriod(shown, c->finetune, 0);
        SetPeriod(c, Clamp(shown, kTrackerMinPeriod, kTrackerMaxPeriod));
      }
      if (cell.effect == 5) VolumeSlide(c);
      break;
    case 4:
    case 6:
      if (c->notePeriod != 0) {
        c->vibratoPos = (c->vibratoPos + c->vibratoSpeed) & 63;
        int32_t p = c->notePeriod + c->vibratoDepth * Wave(c->vibratoWave, c->vibratoPos) / 128;
        SetPeriod(c, Clamp(p, kTrackerMinPeriod, kTrackerMaxPeriod));
      }
      if (cell.effect == 6) VolumeSlide(c);
      break;
    case 7:
      c->tremoloPos = (c->tremoloPos + c->tremoloSpeed) & 63;
      c->volume = Clamp(c->baseVolume + c->tremoloDepth * Wave(c->tremoloWave, c->tremoloPos) / 256,
                        0, 63);
      break;
    case 0xA:
      VolumeSlide(c);
      break;
    case 0xE:
      if (cell.paramHi == 9 && cell.paramLo != 0 && t % cell.paramLo == 0) {
        StartSample(m, c, 0);
      } else if (cell.paramHi == 0xC && t == cell.paramLo) {
        c->baseVolume = c->volume = 0;
      }
      break;
    default:
      break;
  }
}

// The row's first-tick effects for one channel. Sets *jump / *breakRow / *loopTo.
void RowEffects(qvTrackerModule* m, qvTrackerChannel* c, int32_t* jump, int32_t* breakRow,
                int32_t* loopTo) {
  const qvTrackerCell& cell = c->cell;
  int32_t x = cell.paramHi, y = cell.paramLo, p = cell.param;
  switch (cell.effect) {
    case 1:
      c->slide = -p;
      break;
    case 2:
      c->slide = p;
      break;
    case 3:
      if (p != 0) c->portaSpeed = p;
      break;
    case 4:
      if (x != 0) c->vibratoSpeed = x;
      if (y != 0) c->vibratoDepth = y;
      break;
    case 5:
    case 6:
    case 0xA:
      c->volumeSlide = x != 0 ? x : -y;
      break;
    case 7:
      if (y != 0) c->tremoloDepth = 2 * y;
      if (x != 0) c->tremoloSpeed = x;
      break;
    case 0xB:
      if (m->position >= p) m->songEnds++;
      *jump = p;
      if (*breakRow < 0) *breakRow = 0;
      break;
    case 0xC:
      c->baseVolume = c->volume = std::min(p, 63);
      break;
    case 0xD: {
      int32_t r = x * 10 + y;
      *breakRow = r >= 1 && r <= 63 ? r : 0;
      break;
    }
    case 0xE:
      switch (x) {
        case 0:
          if (m->filterAllowed) m->filterOn = (y & 1) == 0;
          break;
        case 1:
        case 2:
          if (c->notePeriod != 0) {
            c->notePeriod = Clamp(c->notePeriod + (x == 1 ? -y : y), kTrackerMinPeriod,
                                  kTrackerMaxPeriod);
            SetPeriod(c, c->notePeriod);
          }
          break;
        case 3:
          c->glissando = y;
          break;
        case 4:
          c->vibratoWave = y;
          break;
        case 6:
          if (y == 0) {
            c->loopRow = m->row;
          } else if (c->loopCount == 0) {
            c->loopCount = y;
            *loopTo = c->loopRow;
          } else if (--c->loopCount != 0) {
            *loopTo = c->loopRow;
          }
          break;
        case 7:
          c->tremoloWave = y;
          break;
        case 9:
          if (y != 0 && cell.period == 0) StartSample(m, c, 0);
          break;
        case 0xA:
          c->baseVolume = c->volume = std::min(c->baseVolume + y, 63);
          break;
        case 0xB:
          c->baseVolume = c->volume = std::max(c->baseVolume - y, 0);
          break;
        case 0xC:
          if (y == 0) c->baseVolume = c->volume = 0;
          break;
        case 0xE:
          m->patternDelay = y;
          break;
        case 0xF:
          c->funkSpeed = y;
          break;
        default:
          break;
      }
      break;
    case 0xF:
      if (p >= 32) {
        m->tempo = p;
        m->tickLength = kTrackerMixRate * 60 / (p * 24);
      } else if (p == 0) {
        m->songEnds++;
      } else {
        m->speed = p;
      }
      break;
    default:
      break;
  }
}

void Publish(qvTrackerModule* m) {
  m->shownPosition.store(m->position, std::memory_order_relaxed);
  m->shownRow.store(m->row, std::memory_order_relaxed);
}

}  // namespace

int32_t LookupTrackerPeriod(int32_t period, int32_t finetune, int32_t offset) {
  int32_t index = Clamp(NoteIndex(period) + offset, 0, 35);
  return kPeriods[finetune & 15][index];
}

int32_t TrackerStep(int32_t period) {
  if (period <= 0) return 0;
  return static_cast<int32_t>(1172874197LL / (static_cast<int64_t>(kTrackerMixRate / 50) * period));
}

bool IsTrackerModule(const uint8_t* data, size_t size) {
  return size >= 1084 && std::memcmp(data + 1080, "M.K.", 4) == 0;
}

int32_t ParseTrackerModule(const uint8_t* data, size_t size, qvTrackerModule* m) {
  if (!IsTrackerModule(data, size)) return ERR_UNKNOWNMUSFMT;
  int32_t patterns = 0;
  for (int i = 0; i < 128; i++) patterns = std::max<int32_t>(patterns, data[952 + i] + 1);
  size_t patternEnd = 1084 + static_cast<size_t>(patterns) * 1024;
  if (size < patternEnd) return ERR_UNKNOWNMUSFMT;

  m->image.assign(data, data + size);
  std::memcpy(m->name, data, 20);
  m->name[20] = 0;
  m->patterns = patterns;
  m->songLength = Clamp(data[950], 1, 128);
  std::memcpy(m->order, data + 952, 128);
  m->cells.resize(static_cast<size_t>(patterns) * kCellsPerPattern);
  for (size_t i = 0; i < m->cells.size(); i++) {
    const uint8_t* b = data + 1084 + i * 4;
    qvTrackerCell& c = m->cells[i];
    c.period = (b[0] & 0x0F) << 8 | b[1];
    c.sample = (b[0] & 0xF0) | b[2] >> 4;
    c.effect = b[2] & 0x0F;
    c.param = b[3];
    c.paramHi = b[3] >> 4;
    c.paramLo = b[3] & 0x0F;
  }
  size_t at = patternEnd;
  for (int i = 0; i < kTrackerSamples; i++) {
    const uint8_t* h = data + 20 + static_cast<ptrdiff_t>(30) * i;
    qvTrackerSample& s = m->samples[i];
    std::memcpy(s.name, h, 22);
    s.name[22] = 0;
    int64_t bytes = int64_t{Be16(h + 22)} * 2;
    bytes = std::min<int64_t>(bytes, static_cast<int64_t>(size - at));
    s.data = reinterpret_cast<int8_t*>(m->image.data() + at);
    at += static_cast<size_t>(bytes);
    s.bytes = static_cast<int32_t>(bytes);
    s.finetune = h[24] & 0x0F;
    s.volume = std::min<int32_t>(h[25], 64);
    int64_t start = int64_t{Be16(h + 26)} * 2;
    int64_t length = int64_t{Be16(h + 28)} * 2;
    if (start >= bytes) length = 0;
    length = std::min(length, bytes - start);
    s.loops = length > 2;
    if (!s.loops) start = length = 0;
    s.length = bytes << 14;
    s.repeatStart = start << 14;
    s.repeatLength = length << 14;
    s.loopEnd = (start + length) << 14;
  }
  m->filterAllowed = true;
  m->masterVolume = 256;
  // Hard left for channels 1 and 2, hard right for 0 and 3.
  const float t = std::atan(2.0f * 3.14159265f * 2000.0f / kTrackerOutputRate);
  m->filterA = -(t - 1.0f) / (t + 1.0f);
  m->filterB = (1.0f - m->filterA) / 2.0f;
  ResetTrackerPlayback(m);
  return 0;
}

void ResetTrackerPlayback(qvTrackerModule* m) {
  for (int i = 0; i < kTrackerChannels; i++) {
    qvTrackerChannel& c = m->channels[i];
    c = qvTrackerChannel{};
    c.position = -1;
    c.panning = i == 1 || i == 2 ? 255 : 0;
  }
  m->position = 0;
  m->row = 0;
  m->speed = 6;
  m->tempo = 125;
  m->tickLength = kTrackerMixRate / 50;
  m->stepsToTick = 0;  // the first row is read at once
  m->tick = 0;
  m->patternDelay = 0;
  m->songEnds = 0;
  m->filterOn = false;
  std::memset(m->filterHistory, 0, sizeof m->filterHistory);
  m->jumpRequest.store(-1, std::memory_order_relaxed);
  Publish(m);
}

void SetTrackerPosition(qvTrackerModule* m, int32_t position, int32_t row) {
  m->position = position % m->songLength;
  m->row = Clamp(row, 0, kTrackerRows - 1);
  m->tick = 0;
  m->patternDelay = 0;
  m->stepsToTick = 0;
  Publish(m);
}

void ProcessTrackerRow(qvTrackerModule* m) {
  int32_t pattern = m->order[m->position];
  const qvTrackerCell* cells = m->cells.data() + static_cast<size_t>(pattern) * kCellsPerPattern +
                               static_cast<size_t>(m->row) * kTrackerChannels;
  int32_t jump = -1, breakRow = -1, loopTo = -1;
  for (int i = 0; i < kTrackerChannels; i++) {
    qvTrackerChannel* c = &m->channels[i];
    // Arpeggio and vibrato hold for one row only; a tone portamento that goes on keeps the note
    // its glissando last chose.
    bool gliding = (cells[i].effect == 3 || cells[i].effect == 5) && c->glissando != 0;
    if (!gliding) SetPeriod(c, c->notePeriod);
    c->cell = cells[i];
    c->volume = c->baseVolume;
    const qvTrackerCell& cell = c->cell;
    c->delayed = false;
    if (cell.effect == 0xE && cell.paramHi == 0xD && cell.paramLo != 0) {
      // The note starts on tick x only, and never when x is past the row.
      c->delayed = cell.paramLo < m->speed && (cell.period != 0 || cell.sample != 0);
    } else {
      ApplyCellNote(m, c);
    }
    RowEffects(m, c, &jump, &breakRow, &loopTo);
  }
  int32_t position = m->position, row = m->row;
  if (jump >= 0 || breakRow >= 0) {
    position = jump >= 0 ? jump : position + 1;
    row = breakRow >= 0 ? breakRow : 0;
  } else if (loopTo >= 0) {
    row = loopTo;
  } else if (++row >= kTrackerRows) {
    row = 0;
    position++;
  }
  if (position >= m->songLength) {
    position = 0;
    m->songEnds++;
  }
  if (position != m->position) {
    for (auto& c : m->channels) c.loopRow = 0;
  }
  m->position = position;
  m->row = row;
  Publish(m);
}

void ProcessTrackerTick(qvTrackerModule* m) {
  if (m->tick == 0) {
    if (m->patternDelay > 0) {
      m->patternDelay--;
    } else {
      ProcessTrackerRow(m);
    }
  }
  for (auto& c : m->channels) TickChannel(m, &c);
  if (++m->tick >= m->speed) m->tick = 0;
}

namespace {

// Mixes `n` steps of one channel into the side sums.
void MixChannel(qvTrackerModule* m, qvTrackerChannel* c, int32_t* left, int32_t* right, int32_t n) {
  if (c->position < 0 || c->sample == 0) return;
  const qvTrackerSample* s = &m->samples[c->sample - 1];
  int64_t pos = c->position;
  const int32_t step = c->step;
  const int32_t lp = c->panning, rp = 255 - c->panning;
  int32_t i = 0;
  while (i < n) {
    int64_t end = s->loops ? s->loopEnd : s->length;
    if (pos >= end) {
      if (!s->loops) {
        pos = -1;
        break;
      }
      pos -= s->repeatLength;
      if (c->pending != 0) {
        int64_t over = pos - s->repeatStart;
        c->sample = c->pending;
        c->pending = 0;
        s = &m->samples[c->sample - 1];
        if (!s->loops) {
          pos = -1;
          break;
        }
        pos = s->repeatStart + over % s->repeatLength;
      }
      continue;
    }
    // Steps until the end is reached (at least one).
    int32_t run = n - i;
    if (step > 0) run = static_cast<int32_t>(std::min<int64_t>(run, (end - pos + step - 1) / step));
    const int8_t* data = s->data;
    const int32_t vol = c->volume;
    // The channels sit hard left or hard right: one side takes nothing.
    int32_t* side = rp == 0 ? left + i : lp == 0 ? right + i : nullptr;
    if (side != nullptr) {
      const int32_t gain = vol * (lp + rp);
      for (int32_t k = 0; k < run; k++) {
        side[k] += data[pos >> 14] * gain;
        pos += step;
      }
    } else {
      for (int32_t k = 0; k < run; k++) {
        int32_t v = data[pos >> 14] * vol;
        left[i + k] += v * lp;
        right[i + k] += v * rp;
        pos += step;
      }
    }
    i += run;
  }
  c->position = pos;
}

int16_t Finish(qvTrackerModule* m, int side, int32_t sum) {
  float x = static_cast<float>(sum >> 7);
  if (m->filterOn) {
    float* h = m->filterHistory[side];
    float y1 = m->filterB * (x + h[0]) + m->filterA * h[1];
    float y2 = m->filterB * (y1 + h[1]) + m->filterA * h[2];
    h[0] = x;
    h[1] = y1;
    h[2] = y2;
    x = y2;
  }
  x = std::min(std::max(x, -32768.0f), 32767.0f);
  return static_cast<int16_t>(x);
}

}  // namespace

void MixTrackerAudio(qvTrackerModule* m, int16_t* out, int32_t frames) {
  int32_t request = m->jumpRequest.exchange(-1, std::memory_order_acq_rel);
  if (request >= 0) SetTrackerPosition(m, request >> 8, request & 0xFF);
  constexpr int32_t kChunk = 512;
  int32_t left[kChunk], right[kChunk];
  int32_t steps = frames * 2;
  int32_t done = 0;  // steps
  while (done < steps) {
    if (m->stepsToTick <= 0) {
      ProcessTrackerTick(m);
      m->stepsToTick = m->tickLength;
    }
    int32_t n = std::min({steps - done, m->stepsToTick, kChunk});
    std::memset(left, 0, sizeof(int32_t) * n);
    std::memset(right, 0, sizeof(int32_t) * n);
    for (auto& c : m->channels) MixChannel(m, &c, left, right, n);
    if (m->filterOn) {
      for (int32_t k = 0; k < n; k++) {
        left[k] = Finish(m, 0, left[k]);
        right[k] = Finish(m, 1, right[k]);
      }
    } else {
      // Without the filter the values stay integers: the same clamp without the float round trip.
      for (int32_t k = 0; k < n; k++) {
        left[k] = std::min(std::max(left[k] >> 7, -32768), 32767);
        right[k] = std::min(std::max(right[k] >> 7, -32768), 32767);
      }
    }
    for (int32_t k = 0; k < n; k++) {
      int32_t step = done + k;
      int16_t* frame = out + static_cast<ptrdiff_t>(step >> 1) * 2;
      if ((step & 1) == 0) {
        frame[0] = static_cast<int16_t>(left[k]);
        frame[1] = static_cast<int16_t>(right[k]);
      } else {
        frame[0] = static_cast<int16_t>(m->masterVolume * (frame[0] + left[k]) >> 9);
        frame[1] = static_cast<int16_t>(m->masterVolume * (frame[1] + right[k]) >> 9);
      }
    }
    m->stepsToTick -= n;
    done += n;
  }
}

}  // namespace qv
