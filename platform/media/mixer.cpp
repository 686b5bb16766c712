// The software mixer behind platform/mixer.h: voices over shared PCM, resampled linearly in
// 32.32 fixed point so that a buffer at the mix rate, full volume and centre pan passes its
// samples through unchanged.
#include "platform/mixer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "base/errors.h"

namespace qv {

namespace {

struct PcmStore {
  std::mutex lock;  // writers commit under it; the mixer reads under it
  std::vector<uint8_t> bytes;
};

struct Notify {
  uint32_t frame;  // kNotifyAtStop for the stop
  qvSignal* signal;
  uint32_t count;
};

}  // namespace

struct qvSoundBuffer {
  std::shared_ptr<PcmStore> pcm;
  int channels = 1;
  int bits = 8;
  uint32_t block = 1;
  uint32_t frames = 0;
  // Guarded by the mixer's lock.
  int rate = kMixRate;
  int32_t volume = 0;
  int32_t pan = 0;
  int64_t gainLeft = 65536;  // Q16
  int64_t gainRight = 65536;
  uint64_t step = uint64_t{1} << 32;
  uint64_t pos = 0;  // 32.32 frames into the current pass
  uint64_t consumed = 0;
  bool playing = false;
  int32_t passes = 0;  // 0: for ever
  int32_t pass = 1;
  uint32_t lastPassFrames = 0;
  // Stream buffers: frames written since the start (the ring's write index is this modulo
  // `frames`, its read index the consumed count modulo `frames`) and whether the end is written.
  bool stream = false;
  uint64_t written = 0;
  bool streamEnded = false;
  // The producer's wake-up (SetStreamBufferRoomSignal) and whether it is set for the room now.
  qvSignal* roomSignal = nullptr;
  uint32_t roomWanted = 0;
  bool roomSignalled = false;
  Notify notes[kMaxNotifications];
  int noteCount = 0;
  // The lock of LockSoundBuffer (one at a time per buffer).
  std::vector<uint8_t> scratch;
  uint32_t lockOffset = 0;
  bool locked = false;
};

namespace {

struct Mixer {
  std::mutex lock;
  std::vector<qvSoundBuffer*> voices;  // the playing buffers
};

Mixer& M() {
  static Mixer* mixer = new Mixer;  // lives until exit: the device thread may outlast statics
  return *mixer;
}

int64_t GainQ16(double millibels) {
  if (millibels <= kSilentMillibels) return 0;
  return std::llround(std::pow(10.0, millibels / 2000.0) * 65536.0);
}

void UpdateGains(qvSoundBuffer* b) {
  double left = b->volume - std::max<int32_t>(b->pan, 0);
  double right = b->volume + std::min<int32_t>(b->pan, 0);
  b->gainLeft = GainQ16(left);
  b->gainRight = GainQ16(right);
}

void UpdateStep(qvSoundBuffer* b) { b->step = (static_cast<uint64_t>(b->rate) << 32) / kMixRate; }

void RemoveVoice(qvSoundBuffer* b) {
  auto& v = M().voices;
  v.erase(std::remove(v.begin(), v.end(), b), v.end());
}

// One frame's left and right as 16-bit values.
inline void ReadFrame(const uint8_t* data, const qvSoundBuffer* b, uint32_t frame, int32_t* l,
                      int32_t* r) {
  const uint8_t* p = data + static_cast<size_t>(frame) * b->block;
  if (b->bits == 8) {
    *l = (static_cast<int32_t>(p[0]) - 128) * 256;
    *r = b->channels == 2 ? (static_cast<int32_t>(p[1]) - 128) * 256 : *l;
  } else {
    *l = static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
    *r = b->channels == 2 ? static_cast<int16_t>(static_cast<uint16_t>(p[2] | (p[3] << 8))) : *l;
  }
}

struct Fired {
  qvSignal* signals[64];
  int count = 0;
  void Add(qvSignal* s) {
    if (s == nullptr) return;
    for (int i = 0; i < count; i++) {
      if (signals[i] == s) return;
    }
    if (count < 64) signals[count++] = s;
  }
};

uint32_t PassLimit(const qvSoundBuffer* b) {
  if (b->passes != 0 && b->pass >= b->passes && b->lastPassFrames != 0 &&
      b->lastPassFrames < b->frames) {
    return b->lastPassFrames;
  }
  return b->frames;
}

// Fires the notifications of frames [from, to) of the current pass.
void FireConsumed(qvSoundBuffer* b, uint32_t from, uint32_t to, Fired* fired) {
  for (int i = 0; i < b->noteCount; i++) {
    Notify& n = b->notes[i];
    if (n.frame != kNotifyAtStop && n.frame >= from && n.frame < to) {
      n.count++;
      fired->Add(n.signal);
    }
  }
}

void FireStop(qvSoundBuffer* b, Fired* fired) {
  for (int i = 0; i < b->noteCount; i++) {
    Notify& n = b->notes[i];
    if (n.frame == kNotifyAtStop) {
      n.count++;
      fired->Add(n.signal);
    }
  }
}

// Mixes one voice into the accumulators; false when it stopped at its end.
bool MixVoice(qvSoundBuffer* b, int32_t* acc, int frames, Fired* fired) {
  std::lock_guard<std::mutex> data(b->pcm->lock);
  const uint8_t* pcm = b->pcm->bytes.data();
  uint32_t limit = PassLimit(b);
  for (int i = 0; i < frames; i++) {
    uint32_t ip = static_cast<uint32_t>(b->pos >> 32);
    uint32_t frac = static_cast<uint32_t>(b->pos);
    int32_t l0, r0;
    ReadFrame(pcm, b, ip, &l0, &r0);
    int32_t l = l0, r = r0;
    if (frac != 0) {
      uint32_t next = ip + 1;
      bool have = true;
      if (next >= limit) {
        // The next frame is the first of the next pass, when there is one.
        bool more = b->passes == 0 || b->pass < b->passes;
        have = more;
        next = 0;
      }
      if (have) {
        int32_t l1, r1;
        ReadFrame(pcm, b, next, &l1, &r1);
        l = l0 + static_cast<int32_t>((static_cast<int64_t>(l1 - l0) * frac) >> 32);
        r = r0 + static_cast<int32_t>((static_cast<int64_t>(r1 - r0) * frac) >> 32);
      }
    }
    int32_t* frame = acc + static_cast<ptrdiff_t>(2) * i;
    frame[0] += static_cast<int32_t>((l * b->gainLeft) >> 16);
    frame[1] += static_cast<int32_t>((r * b->gainRight) >> 16);
    b->pos += b->step;
    uint32_t np = static_cast<uint32_t>(b->pos >> 32);
    if (np == ip) continue;
    b->consumed += np - ip;
    // Frames [ip, np) were consumed; the pass may end (several times for a very short buffer).
    while (true) {
      uint32_t to = std::min(np, limit);
      FireConsumed(b, ip, to, fired);
      if (np < limit) break;
      if (b->passes != 0 && b->pass >= b->passes) {
        b->playing = false;
        b->pos = static_cast<uint64_t>(limit) << 32;
        b->consumed -= np - limit;  // what lay past the end was never played
        FireStop(b, fired);
        return false;
      }
      b->pass++;
      np -= limit;
      b->pos -= static_cast<uint64_t>(limit) << 32;
      ip = 0;
      limit = PassLimit(b);
    }
  }
  return true;
}

// Stops a voice at its end: no further frame is heard.
void StopAtEnd(qvSoundBuffer* b, Fired* fired) {
  b->playing = false;
  FireStop(b, fired);
}

// Mixes one stream voice: only frames written are read, and a frame that needs the next one for
// its interpolation waits for it too, so that a stream mixed across an underrun gives the very
// frames it gives without one. False when it stopped at its end.
bool MixStreamVoice(qvSoundBuffer* b, int32_t* acc, int frames, Fired* fired) {
  std::lock_guard<std::mutex> data(b->pcm->lock);
  const uint8_t* pcm = b->pcm->bytes.data();
  for (int i = 0; i < frames; i++) {
    // Frames from the cursor on that hold audio (negative when a step passed the last written).
    int64_t ahead = static_cast<int64_t>(b->written - b->consumed);
    uint32_t ip = static_cast<uint32_t>(b->pos >> 32);
    uint32_t frac = static_cast<uint32_t>(b->pos);
    bool interpolate = frac != 0 && ahead > 1;
    if (ahead <= 0 || (frac != 0 && ahead == 1 && !b->streamEnded)) {
      if (b->streamEnded && ahead <= 0) {
        b->consumed = b->written;
        StopAtEnd(b, fired);
        return false;
      }
      return true;  // an underrun: silence, and the cursor stays for the producer to catch up
    }
    int32_t l, r;
    ReadFrame(pcm, b, ip, &l, &r);
    if (interpolate) {
      uint32_t next = ip + 1 == b->frames ? 0 : ip + 1;
      int32_t l1, r1;
      ReadFrame(pcm, b, next, &l1, &r1);
      l += static_cast<int32_t>((static_cast<int64_t>(l1 - l) * frac) >> 32);
      r += static_cast<int32_t>((static_cast<int64_t>(r1 - r) * frac) >> 32);
    }
    int32_t* frame = acc + static_cast<ptrdiff_t>(2) * i;
    frame[0] += static_cast<int32_t>((l * b->gainLeft) >> 16);
    frame[1] += static_cast<int32_t>((r * b->gainRight) >> 16);
    b->pos += b->step;
    uint64_t np = b->pos >> 32;
    b->consumed += np - ip;
    b->pos -= (np / b->frames * b->frames) << 32;  // the ring wraps
    if (b->streamEnded && b->consumed >= b->written) {
      b->consumed = b->written;  // what lay past the end was never played
      StopAtEnd(b, fired);
      return false;
    }
  }
  if (b->roomSignal != nullptr && !b->roomSignalled && !b->streamEnded) {
    uint64_t held = b->written > b->consumed ? b->written - b->consumed : 0;
    if (b->frames - held >= b->roomWanted) {
      b->roomSignalled = true;
      fired->Add(b->roomSignal);
    }
  }
  return true;
}

}  // namespace

qvSoundBuffer* CreateSoundBuffer(int rate, int channels, int bits, const void* data,
                                 uint32_t bytes) {
  if ((channels != 1 && channels != 2) || (bits != 8 && bits != 16)) return nullptr;
  if (rate < kMinBufferFrequency || rate > kMaxBufferFrequency) return nullptr;
  uint32_t block = static_cast<uint32_t>(channels * bits / 8);
  if (bytes == 0 || bytes % block != 0 || bytes > kMaxSoundBufferBytes) return nullptr;
  auto* b = new (std::nothrow) qvSoundBuffer;
  if (b == nullptr) return nullptr;
  try {
    b->pcm = std::make_shared<PcmStore>();
    if (data != nullptr) {
      const auto* p = static_cast<const uint8_t*>(data);
      b->pcm->bytes.assign(p, p + bytes);
    } else {
      b->pcm->bytes.assign(bytes, bits == 8 ? 0x80 : 0);
    }
  } catch (const std::bad_alloc&) {
    delete b;
    return nullptr;
  }
  b->channels = channels;
  b->bits = bits;
  b->block = block;
  b->frames = bytes / block;
  b->rate = rate;
  UpdateStep(b);
  return b;
}

qvSoundBuffer* CreateStreamBuffer(int rate, int channels, int bits, uint32_t frames) {
  if (frames == 0 || frames > UINT32_MAX / 4) return nullptr;
  qvSoundBuffer* b = CreateSoundBuffer(rate, channels, bits, nullptr,
                                       frames * static_cast<uint32_t>(channels * bits / 8));
  if (b != nullptr) b->stream = true;
  return b;
}

uint32_t GetStreamBufferRoom(const qvSoundBuffer* buffer) {
  if (buffer == nullptr || !buffer->stream) return 0;
  std::lock_guard<std::mutex> g(M().lock);
  if (buffer->streamEnded) return 0;
  uint64_t held = buffer->written > buffer->consumed ? buffer->written - buffer->consumed : 0;
  return buffer->frames - static_cast<uint32_t>(held);
}

uint32_t WriteStreamBuffer(qvSoundBuffer* buffer, const void* data, uint32_t frames) {
  uint32_t room = GetStreamBufferRoom(buffer);
  uint32_t n = std::min(frames, room);
  if (n == 0 || data == nullptr) return 0;
  uint64_t written;
  {
    std::lock_guard<std::mutex> g(M().lock);
    written = buffer->written;  // only this producer moves it
  }
  // The room lies past the frames the mixer may still read: it reads none of these bytes until
  // they are counted as written below.
  uint32_t at = static_cast<uint32_t>(written % buffer->frames);
  uint32_t first = std::min(n, buffer->frames - at);
  const auto* src = static_cast<const uint8_t*>(data);
  {
    std::lock_guard<std::mutex> g(buffer->pcm->lock);
    uint8_t* ring = buffer->pcm->bytes.data();
    std::memcpy(ring + static_cast<size_t>(at) * buffer->block, src,
                static_cast<size_t>(first) * buffer->block);
    std::memcpy(ring, src + static_cast<size_t>(first) * buffer->block,
                static_cast<size_t>(n - first) * buffer->block);
  }
  std::lock_guard<std::mutex> g(M().lock);
  buffer->written += n;
  uint64_t held = buffer->written > buffer->consumed ? buffer->written - buffer->consumed : 0;
  if (buffer->frames - held < buffer->roomWanted) buffer->roomSignalled = false;
  return n;
}

void EndStreamBuffer(qvSoundBuffer* buffer) {
  if (buffer == nullptr || !buffer->stream) return;
  std::lock_guard<std::mutex> g(M().lock);
  buffer->streamEnded = true;
}

bool SetStreamBufferRoomSignal(qvSoundBuffer* buffer, uint32_t frames, qvSignal* signal) {
  if (buffer == nullptr || !buffer->stream) return false;
  std::lock_guard<std::mutex> g(M().lock);
  bool off = signal == nullptr || frames == 0;
  buffer->roomSignal = off ? nullptr : signal;
  buffer->roomWanted = off ? 0 : std::min(frames, buffer->frames);
  buffer->roomSignalled = false;
  return true;
}

bool GetRefillStallSeam(int* afterMs, int* stallMs) {
  static const int* seam = [] {
    static int values[2] = {-1, -1};
    const char* v = std::getenv("QV_TEST_REFILL_STALL");
    if (v == nullptr) return values;
    char* end = nullptr;
    long after = std::strtol(v, &end, 10);
    if (end == v || *end != ':') return values;
    const char* rest = end + 1;
    long stall = std::strtol(rest, &end, 10);
    if (end == rest || *end != 0 || after < 0 || stall < 0 || after > 3600000 || stall > 60000) {
      return values;
    }
    values[0] = static_cast<int>(after);
    values[1] = static_cast<int>(stall);
    return values;
  }();
  if (seam[0] < 0) return false;
  *afterMs = seam[0];
  *stallMs = seam[1];
  return true;
}

qvSoundBuffer* DuplicateSoundBuffer(qvSoundBuffer* source) {
  if (source == nullptr) return nullptr;
  auto* b = new (std::nothrow) qvSoundBuffer;
  if (b == nullptr) return nullptr;
  b->pcm = source->pcm;
  b->channels = source->channels;
  b->bits = source->bits;
  b->block = source->block;
  b->frames = source->frames;
  std::lock_guard<std::mutex> g(M().lock);
  b->rate = source->rate;
  b->volume = source->volume;
  b->pan = source->pan;
  UpdateGains(b);
  UpdateStep(b);
  return b;
}

void ReleaseSoundBuffer(qvSoundBuffer* buffer) {
  if (buffer == nullptr) return;
  {
    std::lock_guard<std::mutex> g(M().lock);
    RemoveVoice(buffer);
  }
  delete buffer;
}

uint32_t GetSoundBufferBytes(const qvSoundBuffer* buffer) {
  return buffer ? buffer->frames * buffer->block : 0;
}
uint32_t GetSoundBufferBlock(const qvSoundBuffer* buffer) { return buffer ? buffer->block : 0; }

void* LockSoundBuffer(qvSoundBuffer* buffer, uint32_t offset, uint32_t bytes) {
  if (buffer == nullptr || buffer->locked || bytes == 0) return nullptr;
  uint64_t total = uint64_t{buffer->frames} * buffer->block;
  if (uint64_t{offset} + bytes > total) return nullptr;
  try {
    buffer->scratch.resize(bytes);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  buffer->lockOffset = offset;
  buffer->locked = true;
  return buffer->scratch.data();
}

void UnlockSoundBuffer(qvSoundBuffer* buffer) {
  if (buffer == nullptr || !buffer->locked) return;
  {
    std::lock_guard<std::mutex> g(buffer->pcm->lock);
    std::memcpy(buffer->pcm->bytes.data() + buffer->lockOffset, buffer->scratch.data(),
                buffer->scratch.size());
  }
  buffer->locked = false;
}

int PlaySoundBuffer(qvSoundBuffer* buffer, int32_t passes, uint32_t lastPassFrames) {
  if (buffer == nullptr) return ERR_DSOUNDPLAY;
  std::lock_guard<std::mutex> g(M().lock);
  buffer->passes = std::max<int32_t>(passes, 0);
  buffer->pass = 1;
  buffer->lastPassFrames = lastPassFrames;
  buffer->consumed = 0;
  if ((buffer->pos >> 32) >= PassLimit(buffer)) buffer->pos = 0;
  if (!buffer->playing) {
    try {
      M().voices.push_back(buffer);
    } catch (const std::bad_alloc&) {
      return ERR_DSOUNDPLAY;
    }
    buffer->playing = true;
  }
  return 0;
}

void StopSoundBuffer(qvSoundBuffer* buffer) {
  if (buffer == nullptr) return;
  std::lock_guard<std::mutex> g(M().lock);
  buffer->playing = false;
  RemoveVoice(buffer);
}

bool IsSoundBufferPlaying(const qvSoundBuffer* buffer) {
  if (buffer == nullptr) return false;
  std::lock_guard<std::mutex> g(M().lock);
  return buffer->playing;
}

uint32_t GetSoundBufferPosition(const qvSoundBuffer* buffer) {
  if (buffer == nullptr) return 0;
  std::lock_guard<std::mutex> g(M().lock);
  return static_cast<uint32_t>(buffer->pos >> 32) * buffer->block;
}

uint64_t GetSoundBufferConsumed(const qvSoundBuffer* buffer) {
  if (buffer == nullptr) return 0;
  std::lock_guard<std::mutex> g(M().lock);
  return buffer->consumed;
}

void SetSoundBufferPosition(qvSoundBuffer* buffer, uint32_t offset) {
  if (buffer == nullptr) return;
  std::lock_guard<std::mutex> g(M().lock);
  uint32_t frame = offset / buffer->block;
  if (frame < buffer->frames) buffer->pos = static_cast<uint64_t>(frame) << 32;
}

bool SetSoundBufferFrequency(qvSoundBuffer* buffer, int hz) {
  if (buffer == nullptr || hz < kMinBufferFrequency || hz > kMaxBufferFrequency) return false;
  std::lock_guard<std::mutex> g(M().lock);
  buffer->rate = hz;
  UpdateStep(buffer);
  return true;
}

void SetSoundBufferVolume(qvSoundBuffer* buffer, int32_t millibels) {
  if (buffer == nullptr) return;
  std::lock_guard<std::mutex> g(M().lock);
  buffer->volume = std::clamp<int32_t>(millibels, kSilentMillibels, 0);
  UpdateGains(buffer);
}

void SetSoundBufferPan(qvSoundBuffer* buffer, int32_t pan) {
  if (buffer == nullptr) return;
  std::lock_guard<std::mutex> g(M().lock);
  buffer->pan = std::clamp<int32_t>(pan, kSilentMillibels, -kSilentMillibels);
  UpdateGains(buffer);
}

bool SetSoundBufferNotifications(qvSoundBuffer* buffer, const qvBufferNotify* list, int count) {
  if (buffer == nullptr || count < 0 || count > kMaxNotifications) return false;
  uint32_t total = buffer->frames * buffer->block;
  for (int i = 0; i < count; i++) {
    if (list[i].offset != kNotifyAtStop && list[i].offset >= total) return false;
  }
  std::lock_guard<std::mutex> g(M().lock);
  for (int i = 0; i < count; i++) {
    uint32_t off = list[i].offset;
    buffer->notes[i] = {off == kNotifyAtStop ? kNotifyAtStop : off / buffer->block, list[i].signal,
                        0};
  }
  buffer->noteCount = count;
  return true;
}

uint32_t GetSoundBufferNotifyCount(const qvSoundBuffer* buffer, int index) {
  if (buffer == nullptr) return 0;
  std::lock_guard<std::mutex> g(M().lock);
  if (index < 0 || index >= buffer->noteCount) return 0;
  return buffer->notes[index].count;
}

void RenderMix(int16_t* out, int frames) {
  constexpr int kChunk = 512;
  int32_t acc[2 * kChunk];
  Fired fired;
  while (frames > 0) {
    int n = std::min(frames, kChunk);
    std::memset(acc, 0, sizeof(int32_t) * 2 * static_cast<size_t>(n));
    {
      std::lock_guard<std::mutex> g(M().lock);
      auto& voices = M().voices;
      for (size_t i = 0; i < voices.size();) {
        qvSoundBuffer* v = voices[i];
        if (v->stream ? MixStreamVoice(v, acc, n, &fired) : MixVoice(v, acc, n, &fired)) {
          i++;
        } else {
          voices.erase(voices.begin() + static_cast<std::ptrdiff_t>(i));
        }
      }
    }
    for (int i = 0; i < 2 * n; i++) {
      out[i] = static_cast<int16_t>(std::clamp<int32_t>(acc[i], -32768, 32767));
    }
    out += static_cast<ptrdiff_t>(2) * n;
    frames -= n;
    // Waiters learn of what this chunk consumed before the next chunk is mixed.
    for (int i = 0; i < fired.count; i++) SetSignal(fired.signals[i]);
    fired.count = 0;
  }
}

int CountPlayingSoundBuffers() {
  std::lock_guard<std::mutex> g(M().lock);
  return static_cast<int>(M().voices.size());
}

}  // namespace qv
