// Mixing and range copies of samples.
#include "media/sound_edit.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "base/errors.h"
#include "base/support.h"
#include "media/pcm_sample.h"

namespace qv {

namespace {

// A double frame position to an index; NaN and huge values land past any sample.
int64_t FramePosition(double offset) {
  if (!(offset < 9.0e15)) return INT64_MAX;
  return static_cast<int64_t>(offset);
}

}  // namespace

uint8_t* MixSamples(const std::vector<qvMixSource>& sources, int32_t frames, int32_t frequency,
                    int32_t code) {
  int32_t frameSize = GetPcmFrameSize(code);
  auto* out = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(frames) * frameSize + 1));
  if (out == nullptr) return nullptr;
  struct Voice {
    qvMixSource src;
    double step;
    int64_t mixed;
  };
  std::vector<Voice> voices;
  voices.reserve(sources.size());
  for (const qvMixSource& s : sources) voices.push_back({s, s.pitch / frequency, 0});
  for (int32_t i = 0; i < frames; i++) {
    int64_t left = 0, right = 0;
    for (Voice& v : voices) {
      if (v.src.threshold > i) continue;
      if (v.src.length >= 0 && v.mixed >= v.src.length) continue;
      const qvPcmSample* pcm = v.src.pcm;
      int64_t pos = FramePosition(v.src.offset);
      bool sound = true;
      if (pos >= pcm->frames) {
        if (v.src.loop && pcm->frames > 0 && pos != INT64_MAX) {
          pos %= pcm->frames;
        } else {
          sound = false;
        }
      }
      if (sound) {
        auto frame = static_cast<uint32_t>(pos);
        // 24-bit values: 8-bit times 65536, 16-bit times 256.
        int64_t l = int64_t{PcmValue16(pcm, frame, 0)} * 256;
        int64_t r = int64_t{PcmValue16(pcm, frame, 1)} * 256;
        if (v.src.scale != 1.0) {
          l = static_cast<int64_t>(DoubleToInt32(static_cast<double>(l) * v.src.scale));
          r = static_cast<int64_t>(DoubleToInt32(static_cast<double>(r) * v.src.scale));
        }
        left += l;
        right += r;
      }
      v.src.offset += v.step;
      v.mixed++;
    }
    left = std::clamp<int64_t>(left, -8388608, 8388607);
    right = std::clamp<int64_t>(right, -8388608, 8388607);
    uint8_t* p = out + static_cast<size_t>(i) * frameSize;
    switch (code) {
      case kPcm8MonoSigned:
        p[0] = static_cast<uint8_t>((left + right) >> 17);
        break;
      case kPcm8StereoSigned:
        p[0] = static_cast<uint8_t>(left >> 16);
        p[1] = static_cast<uint8_t>(right >> 16);
        break;
      case kPcm16Mono: {
        auto v = static_cast<uint16_t>((left + right) >> 9);
        p[0] = static_cast<uint8_t>(v);
        p[1] = static_cast<uint8_t>(v >> 8);
        break;
      }
      default: {
        auto l = static_cast<uint16_t>(left >> 8);
        auto r = static_cast<uint16_t>(right >> 8);
        p[0] = static_cast<uint8_t>(l);
        p[1] = static_cast<uint8_t>(l >> 8);
        p[2] = static_cast<uint8_t>(r);
        p[3] = static_cast<uint8_t>(r >> 8);
        break;
      }
    }
  }
  return out;
}

int32_t CheckRange(const qvPcmSample* source, const qvRangeOptions& o) {
  if (o.offset < 0 || o.start < 0 || o.end < 0) return ERR_SMPRANGE;
  if (o.end > 0 && o.start >= o.end) return ERR_SMPRANGE;
  if (o.end > static_cast<int64_t>(source->frames)) return ERR_SMPRANGE;
  if (o.end == 0 && o.start >= static_cast<int64_t>(source->frames)) return ERR_SMPRANGE;
  return 0;
}

void ReadRange(const qvPcmSample* source, const qvRangeOptions& o, uint8_t* out, uint32_t frames,
               int32_t bits, int32_t channels, bool isSigned) {
  int64_t end = o.end > 0 ? o.end : source->frames;
  int64_t length = std::max<int64_t>(end - o.start, 0);
  int64_t offset = o.offset;
  size_t frameSize = static_cast<size_t>(bits / 8) * static_cast<size_t>(channels);
  for (uint32_t j = 0; j < frames; j++) {
    if (offset >= length) {
      if (o.loop && length > 0) {
        offset %= length;
      } else {
        uint8_t silence = bits == 8 && !isSigned ? 128 : 0;
        std::memset(out + j * frameSize, silence, (frames - j) * frameSize);
        return;
      }
    }
    auto frame = static_cast<uint32_t>(o.start + offset);
    for (int c = 0; c < channels; c++) {
      int32_t v = PcmValue16(source, frame, c);  // a mono source feeds both; stereo to mono: left
      uint8_t* p = out + j * frameSize + static_cast<size_t>(c) * (bits / 8);
      if (bits == 16) {
        p[0] = static_cast<uint8_t>(v);
        p[1] = static_cast<uint8_t>(v >> 8);
      } else if (isSigned) {
        p[0] = static_cast<uint8_t>(v / 256);
      } else {
        p[0] = static_cast<uint8_t>((v >> 8) + 128);
      }
    }
    offset++;
  }
}

uint8_t* InsertSampleFrames(const qvPcmSample* target, const qvPcmSample* source, int64_t position,
                            uint32_t frames, const qvRangeOptions& options) {
  position = std::clamp<int64_t>(position, 0, target->frames);
  size_t frameSize = static_cast<size_t>(target->frameSize);
  size_t total = (static_cast<size_t>(target->frames) + frames) * frameSize;
  auto* out = static_cast<uint8_t*>(std::malloc(total + 1));
  if (out == nullptr) return nullptr;
  size_t before = static_cast<size_t>(position) * frameSize;
  std::memcpy(out, target->data, before);
  ReadRange(source, options, out + before, frames, target->bits, target->channels,
            (target->flags & kPcmSigned) != 0);
  std::memcpy(out + before + frames * frameSize, target->data + before,
              static_cast<size_t>(target->frames) * frameSize - before);
  return out;
}

}  // namespace qv
