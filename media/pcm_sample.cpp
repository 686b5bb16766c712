// PCM format codes and the engine sample with its sound buffer.
#include "media/pcm_sample.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "base/errors.h"
#include "media/sound_stream.h"
#include "platform/loop.h"
#include "platform/mixer.h"

namespace qv {

namespace {

// The mixer plays unsigned 8-bit and little-endian 16-bit data; anything else gets a converted
// copy first.
qvSoundBuffer* MakeBuffer(const qvPcmSample* pcm, uint32_t bytes, int32_t frequency) {
  int rate = std::clamp(frequency, kMinBufferFrequency, kMaxBufferFrequency);
  if (bytes == 0) return nullptr;
  bool swap = pcm->bits == 16 && (pcm->flags & kPcmBigEndian) != 0;
  bool flip = pcm->bits == 8 && (pcm->flags & kPcmSigned) != 0;
  if (!swap && !flip) return CreateSoundBuffer(rate, pcm->channels, pcm->bits, pcm->data, bytes);
  std::vector<uint8_t> copy;
  try {
    copy.assign(pcm->data, pcm->data + bytes);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  if (swap) {
    for (size_t i = 0; i + 1 < copy.size(); i += 2) std::swap(copy[i], copy[i + 1]);
  } else {
    for (uint8_t& b : copy) b = static_cast<uint8_t>(b + 128);
  }
  return CreateSoundBuffer(rate, pcm->channels, pcm->bits, copy.data(), bytes);
}

}  // namespace

int32_t GetPcmFormatCode(int32_t bits, int32_t channels, uint32_t flags) {
  bool stereo = channels == 2;
  if (bits == 8) return (stereo ? 1 : 0) + ((flags & kPcmSigned) ? 2 : 0);
  if (bits == 16) return stereo ? kPcm16Stereo : kPcm16Mono;
  return -1;
}

int32_t GetPcmFrameSize(int32_t code) {
  switch (code) {
    case kPcm8Mono:
    case kPcm8MonoSigned:
      return 1;
    case kPcm8Stereo:
    case kPcm8StereoSigned:
    case kPcm16Mono:
      return 2;
    case kPcm16Stereo:
      return 4;
    default:
      return 0;
  }
}

int32_t PcmChannels(int32_t code) {
  return code == kPcm8Stereo || code == kPcm8StereoSigned || code == kPcm16Stereo ? 2 : 1;
}
int32_t PcmBits(int32_t code) { return code == kPcm16Mono || code == kPcm16Stereo ? 16 : 8; }

int32_t ScriptFormatToPcm(int32_t format) {
  switch (format) {
    case kMono8:
      return kPcm8MonoSigned;
    case kMono16:
      return kPcm16Mono;
    case kStereo8:
      return kPcm8StereoSigned;
    case kStereo16:
      return kPcm16Stereo;
    default:
      return -1;
  }
}

int32_t PcmToScriptFormat(int32_t code) {
  switch (code) {
    case kPcm8Mono:
    case kPcm8MonoSigned:
      return kMono8;
    case kPcm8Stereo:
    case kPcm8StereoSigned:
      return kStereo8;
    case kPcm16Mono:
      return kMono16;
    default:
      return kStereo16;
  }
}

int32_t LoadSampleFile(const char* name, qvPcmSample** out, uint32_t* bytes, int32_t* frequency,
                       int32_t* code) {
  *out = nullptr;
  qvSampleStream* s = nullptr;
  int32_t err = OpenSampleFile(name, false, &s);
  if (err != 0) return err;
  if (s->dataSize == 0 || s->frameSize == 0 || s->bits == 0) {
    CloseSampleStream(s);
    return ERR_STREAMASSAMPLE;
  }
  if (s->code == -1) {
    CloseSampleStream(s);
    return ERR_8OR16BITONLY;
  }
  // A sound longer than a sound buffer holds is refused as the buffer would refuse it: before
  // decoding when its length is known (a tracker module of a few kilobytes can play for hours),
  // else as soon as the decoded data passes the limit.
  const uint64_t limit = kMaxSoundBufferBytes;
  if (s->frames > 0 && uint64_t(s->frames) * uint64_t(s->frameSize) > limit) {
    CloseSampleStream(s);
    return ERR_LOADSOUND;
  }
  // Decoded files know their length only roughly: read to the end in pieces.
  std::vector<uint8_t> data;
  constexpr int32_t kPiece = 16384;  // a few milliseconds of decoding between quit checks
  try {
    if (s->frames > 0) data.reserve(static_cast<size_t>(s->frames) * s->frameSize);
    while (true) {
      int32_t quit = SyncWindowStates();
      if (quit != 0 || data.size() > limit) {
        CloseSampleStream(s);
        return quit != 0 ? quit : ERR_LOADSOUND;
      }
      size_t at = data.size();
      data.resize(at + static_cast<size_t>(kPiece) * s->frameSize);
      bool end = false;
      int32_t got = ReadSampleStream(s, data.data() + at, kPiece, &end);
      data.resize(at + static_cast<size_t>(got) * s->frameSize);
      if (end || got == 0) break;
    }
    if (data.size() > limit) {
      CloseSampleStream(s);
      return ERR_LOADSOUND;
    }
  } catch (const std::bad_alloc&) {
    CloseSampleStream(s);
    return ERR_MEM;
  }
  if (data.empty()) {
    CloseSampleStream(s);
    return ERR_STREAMASSAMPLE;
  }
  auto* pcm = static_cast<qvPcmSample*>(std::calloc(1, sizeof(qvPcmSample)));
  auto* block = static_cast<uint8_t*>(std::malloc(data.size()));
  if (pcm == nullptr || block == nullptr) {
    std::free(pcm);
    std::free(block);
    CloseSampleStream(s);
    return ERR_MEM;
  }
  std::memcpy(block, data.data(), data.size());
  pcm->data = block;
  pcm->bits = s->bits;
  pcm->frameSize = s->frameSize;
  pcm->channels = s->channels;
  pcm->flags = s->flags;
  pcm->frames = static_cast<uint32_t>(data.size() / static_cast<size_t>(s->frameSize));
  pcm->loadedCode = s->code;
  pcm->frequency = s->frequency;
  CloseSampleStream(s);
  pcm->buffer = MakeBuffer(pcm, static_cast<uint32_t>(data.size()), pcm->frequency);
  if (pcm->buffer == nullptr) {
    FreePcmSample(pcm);
    return ERR_LOADSOUND;
  }
  *out = pcm;
  *bytes = static_cast<uint32_t>(data.size());
  *frequency = pcm->frequency;
  *code = pcm->loadedCode;
  return 0;
}

int32_t CreatePcmSample(uint8_t* data, uint32_t frames, int32_t frequency, int32_t code,
                        qvPcmSample** out, int32_t* stored) {
  *out = nullptr;
  auto* pcm = static_cast<qvPcmSample*>(std::calloc(1, sizeof(qvPcmSample)));
  if (pcm == nullptr) {
    std::free(data);
    return ERR_MEM;
  }
  pcm->channels = PcmChannels(code);
  pcm->bits = PcmBits(code);
  pcm->frameSize = GetPcmFrameSize(code);
  pcm->frames = frames;
  pcm->frequency = frequency;
  pcm->data = data;
  size_t bytes = static_cast<size_t>(frames) * pcm->frameSize;
  if (code == kPcm8MonoSigned || code == kPcm8StereoSigned) {
    for (size_t i = 0; i < bytes; i++) data[i] = static_cast<uint8_t>(data[i] + 128);
  }
  if (pcm->bits == 16) pcm->flags = kPcmSigned;
  pcm->loadedCode = GetPcmFormatCode(pcm->bits, pcm->channels, pcm->flags);
  pcm->buffer = MakeBuffer(pcm, static_cast<uint32_t>(bytes), frequency);
  if (pcm->buffer == nullptr) {
    FreePcmSample(pcm);
    return ERR_LOADSOUND;
  }
  *stored = pcm->loadedCode;
  *out = pcm;
  return 0;
}

int32_t CopyPcmSample(const qvPcmSample* source, int32_t frequency, qvPcmSample** out) {
  *out = nullptr;
  size_t bytes = static_cast<size_t>(source->frames) * source->frameSize;
  auto* pcm = static_cast<qvPcmSample*>(std::malloc(sizeof(qvPcmSample)));
  auto* data = static_cast<uint8_t*>(std::malloc(bytes ? bytes : 1));
  if (pcm == nullptr || data == nullptr) {
    std::free(pcm);
    std::free(data);
    return ERR_MEM;
  }
  *pcm = *source;
  std::memcpy(data, source->data, bytes);
  pcm->data = data;
  pcm->buffer = MakeBuffer(pcm, static_cast<uint32_t>(bytes), frequency);
  if (pcm->buffer == nullptr) {
    FreePcmSample(pcm);
    return ERR_LOADSOUND;
  }
  *out = pcm;
  return 0;
}

int32_t ReplaceSampleData(qvPcmSample* pcm, uint8_t* data, uint32_t frames, int32_t frequency) {
  qvPcmSample next = *pcm;
  next.data = data;
  next.frames = frames;
  next.buffer = MakeBuffer(&next, frames * static_cast<uint32_t>(pcm->frameSize), frequency);
  if (next.buffer == nullptr) {
    std::free(data);
    return ERR_LOADSOUND;
  }
  ReleaseSoundBuffer(pcm->buffer);
  std::free(pcm->data);
  *pcm = next;
  return 0;
}

void FreePcmSample(qvPcmSample* pcm) {
  if (pcm == nullptr) return;
  ReleaseSoundBuffer(pcm->buffer);
  std::free(pcm->data);
  std::free(pcm);
}

bool IsSampleBigEndian(const qvPcmSample* pcm) { return (pcm->flags & kPcmBigEndian) != 0; }

bool ProbeSampleFile(const char* name) {
  qvSampleStream* s = nullptr;
  if (OpenSampleFile(name, false, &s) != 0) return false;
  bool ok = s->dataSize != 0 && s->frameSize != 0 && s->bits != 0;
  CloseSampleStream(s);
  return ok;
}

int32_t PcmValue16(const qvPcmSample* pcm, uint32_t frame, int channel) {
  if (pcm->channels == 1) channel = 0;
  const uint8_t* p = pcm->data + static_cast<size_t>(frame) * pcm->frameSize;
  if (pcm->bits == 8) {
    int32_t v = p[channel];
    return (pcm->flags & kPcmSigned) ? static_cast<int8_t>(v) * 256 : (v - 128) * 256;
  }
  p += static_cast<ptrdiff_t>(2) * channel;
  uint16_t u = (pcm->flags & kPcmBigEndian) ? static_cast<uint16_t>((p[0] << 8) | p[1])
                                            : static_cast<uint16_t>(p[0] | (p[1] << 8));
  return static_cast<int16_t>(u);
}

}  // namespace qv
