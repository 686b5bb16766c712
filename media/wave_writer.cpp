// RIFF WAVE images of samples, and samples through the sample-saver plugins.
#include "media/wave_writer.h"

#include <cstddef>
#include <new>

#include "base/errors.h"
#include "core/plugins.h"
#include "media/pcm_sample.h"

namespace qv {

bool BuildWaveImage(const qvPcmSample* pcm, uint32_t bytes, int32_t frequency,
                    std::vector<uint8_t>* out) {
  const uint32_t channels = static_cast<uint32_t>(pcm->channels);
  const uint32_t bits = static_cast<uint32_t>(pcm->bits);
  const uint32_t block = bits * channels / 8;
  const uint32_t padded = (bytes + 3) & ~3u;
  try {
    out->assign(44 + static_cast<size_t>(padded), 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  uint8_t* p = out->data();
  auto put = [&p](const char* tag) {
    for (int i = 0; i < 4; i++) *p++ = static_cast<uint8_t>(tag[i]);
  };
  auto u32 = [&p](uint32_t v) {
    for (int i = 0; i < 4; i++) *p++ = static_cast<uint8_t>(v >> (8 * i));
  };
  auto u16 = [&p](uint32_t v) {
    *p++ = static_cast<uint8_t>(v);
    *p++ = static_cast<uint8_t>(v >> 8);
  };
  put("RIFF");
  u32(padded + 36);
  put("WAVE");
  put("fmt ");
  u32(16);
  u16(1);
  u16(channels);
  u32(static_cast<uint32_t>(frequency));
  u32(static_cast<uint32_t>(frequency) * block);
  u16(block);
  u16(bits);
  put("data");
  u32(bytes);
  const bool flip = bits == 8 && (pcm->flags & kPcmSigned) != 0;
  const bool swap = bits == 16 && (pcm->flags & kPcmBigEndian) != 0;
  for (uint32_t i = 0; i < bytes; i++) {
    if (swap && (i ^ 1) < bytes) {
      p[i] = pcm->data[i ^ 1];
    } else {
      p[i] = flip ? static_cast<uint8_t>(pcm->data[i] + 128) : pcm->data[i];
    }
  }
  return true;
}

namespace {
// 16-bit data is always signed; 8-bit data only when its flags say so.
uint32_t SaverFlags(const qvPcmSample* pcm) {
  uint32_t flags = pcm->flags & kPcmBigEndian;
  if (pcm->bits == 16 || (pcm->flags & kPcmSigned) != 0) flags |= kPcmSigned;
  return flags;
}
}  // namespace

int32_t SaveSampleWithPlugin(const qvPcmSample* pcm, uint32_t bytes, int32_t frequency,
                             uint32_t format, const char* file) {
  const qvPluginInfo* saver = FindSaverPlugin(QV_CAP_SAMPLESAVER, format);
  if (saver == nullptr) return ERR_UNKNOWNSMPOUT;
  const uint32_t frameSize = static_cast<uint32_t>(pcm->frameSize > 0 ? pcm->frameSize : 1);
  const qvSampleSave sample{pcm->data,
                            bytes,
                            bytes / frameSize,
                            static_cast<uint32_t>(pcm->channels),
                            static_cast<uint32_t>(pcm->bits),
                            static_cast<uint32_t>(frequency),
                            SaverFlags(pcm)};
  return saver->saveSample(file, &sample) != 0 ? 0 : ERR_SAVESAMPLE;
}

}  // namespace qv
