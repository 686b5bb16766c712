// RIFF WAVE images of samples.
#include "media/wave_writer.h"

#include <cstddef>
#include <new>

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

}  // namespace qv
