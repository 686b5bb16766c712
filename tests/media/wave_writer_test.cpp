// WAVE images of samples: header fields, the padding, and the conversions WAVE needs.
#include "media/wave_writer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "media/pcm_sample.h"

namespace qv {
namespace {

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
uint32_t U16(const std::vector<uint8_t>& b, size_t at) { return b[at] | b[at + 1] << 8; }

TEST(WaveWriter, HeaderPaddingAndConversions) {
  struct Case {
    const char* name;
    int bits, channels;
    uint32_t flags;
    std::vector<uint8_t> data;
    std::vector<uint8_t> stored;
  };
  std::vector<Case> cases = {
      {"8-bit mono, 3 bytes: one pad byte", 8, 1, 0, {1, 2, 3}, {1, 2, 3}},
      {"8-bit signed stored + 128", 8, 1, kPcmSigned, {0, 0x80, 0x7F, 0xFF}, {0x80, 0, 0xFF, 0x7F}},
      {"8-bit stereo signed, 2 pad bytes", 8, 2, kPcmSigned, {0x10, 0xF0}, {0x90, 0x70}},
      {"16-bit big-endian swapped", 16, 1, kPcmSigned | kPcmBigEndian, {0x12, 0x34}, {0x34, 0x12}},
      {"16-bit stereo as it is, no pad", 16, 2, kPcmSigned, {1, 2, 3, 4}, {1, 2, 3, 4}},
      {"16-bit mono, empty", 16, 1, kPcmSigned, {}, {}},
      {"8-bit mono, 1 byte: 3 pad bytes", 8, 1, 0, {9}, {9}},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> data = c.data;
    qvPcmSample pcm{};
    pcm.data = data.data();
    pcm.bits = c.bits;
    pcm.channels = c.channels;
    pcm.frameSize = c.bits / 8 * c.channels;
    pcm.flags = c.flags;
    std::vector<uint8_t> out;
    ASSERT_TRUE(BuildWaveImage(&pcm, static_cast<uint32_t>(data.size()), 22050, &out));
    uint32_t padded = (static_cast<uint32_t>(data.size()) + 3) & ~3u;
    ASSERT_EQ(out.size(), 44 + padded) << c.name;
    EXPECT_EQ(std::string(out.begin(), out.begin() + 4), "RIFF");
    EXPECT_EQ(U32(out, 4), padded + 36) << c.name;
    EXPECT_EQ(std::string(out.begin() + 8, out.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(U32(out, 16), 16u);
    EXPECT_EQ(U16(out, 20), 1u);
    EXPECT_EQ(U16(out, 22), static_cast<uint32_t>(c.channels));
    EXPECT_EQ(U32(out, 24), 22050u);
    EXPECT_EQ(U32(out, 28), 22050u * c.bits / 8 * c.channels);
    EXPECT_EQ(U16(out, 32), static_cast<uint32_t>(c.bits / 8 * c.channels));
    EXPECT_EQ(U16(out, 34), static_cast<uint32_t>(c.bits));
    EXPECT_EQ(std::string(out.begin() + 36, out.begin() + 40), "data");
    EXPECT_EQ(U32(out, 40), data.size()) << c.name;
    std::vector<uint8_t> body(out.begin() + 44, out.begin() + 44 + static_cast<long>(data.size()));
    EXPECT_EQ(body, c.stored) << c.name;
    for (size_t i = 44 + data.size(); i < out.size(); i++) EXPECT_EQ(out[i], 0) << c.name;
  }
}

}  // namespace
}  // namespace qv
