// Fuzz target of the quantiser: the first eight bytes choose the pixel format, the width, the
// wanted colour count, the flags and the transparent colour; the rest are the pixels. Every call
// with a wanted count of at least 1 must succeed, hand out only indices inside the palette, keep
// the spare entry for the transparent pixels alone and give them exactly that entry.
// With QV_FUZZ_REPLAY the same entry function replays the committed corpus as a unit test.
#include <cstdint>
#include <cstring>
#include <vector>

#include "image/quantize.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qv;
  if (size < 8) return 0;
  int32_t format = data[0] % 14;
  int32_t bytesPerPixel = format < 8 ? 2 : format < 10 ? 3 : 4;
  int32_t width = 1 + data[1] % 40;
  int32_t wanted = int32_t(data[2]) + (data[3] & 0x80 ? 100 : 0) - 2;  // -2 .. 353
  bool reserve = (data[3] & 1) != 0;
  bool dither = (data[3] & 2) != 0;
  uint32_t transparent = kNoTransparentRGB;
  if (data[3] & 4) transparent = uint32_t(data[4]) << 16 | uint32_t(data[5]) << 8 | data[6];
  int32_t pixelsPerRow = width + (data[7] & 3);
  const uint8_t* pixels = data + 8;
  size_t rowBytes = size_t(pixelsPerRow) * bytesPerPixel;
  // The last row needs only its width.
  size_t left = size - 8;
  int32_t height = 0;
  // Each colour is a box that the median cut may split and shrink, a scan of the histogram cells
  // the box spans; 320 pixels hold more colours than a palette, so every count stays reachable.
  constexpr int32_t kMaxPixels = 320;
  while (left >= size_t(width) * bytesPerPixel && (height + 1) * width <= kMaxPixels) {
    ++height;
    if (left < rowBytes) break;
    left -= rowBytes;
  }
  if (height == 0) return 0;
  std::vector<uint8_t> indices(size_t(width) * height);
  uint32_t palette[256];
  int32_t count = wanted;
  bool ok = QuantizeBitMap(pixels, format, bytesPerPixel, width, height, pixelsPerRow,
                           indices.data(), palette, &count, transparent, reserve, dither);
  if (wanted < 1) {
    if (ok || count != wanted) __builtin_trap();
    return 0;
  }
  bool spare = reserve || transparent != kNoTransparentRGB;
  if (!ok || count < 1 || count > 256 || (spare && count < 2)) __builtin_trap();
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      uint8_t rgb[3];
      ReadPixelRGB(rgb, format, pixels + (size_t(y) * pixelsPerRow + x) * bytesPerPixel);
      uint32_t value = uint32_t(rgb[0]) << 16 | uint32_t(rgb[1]) << 8 | rgb[2];
      int index = indices[size_t(y) * width + x];
      if (index >= count) __builtin_trap();
      bool isTransparent = transparent != kNoTransparentRGB && value == transparent;
      if (isTransparent != (spare && index == count - 1)) __builtin_trap();
    }
  }
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(QuantizeFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
