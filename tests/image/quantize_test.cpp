// The median-cut quantiser: the pixel reader of every format, the histogram's saturation, the
// palette cut and its limits, transparent and reserved entries, plain and dithered mapping, and
// clean failure when memory runs out.
#include "image/quantize.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

#include "image/image.h"

using namespace qv;

namespace {

struct Quantized {
  bool ok = false;
  int32_t count = 0;
  std::vector<uint8_t> indices;
  std::vector<uint32_t> palette;
};

Quantized Quantize(const std::vector<uint32_t>& argb, int width, int wanted,
                   uint32_t transparent = kNoTransparentRGB, bool reserve = false,
                   bool dither = false) {
  Quantized r;
  int height = int(argb.size()) / width;
  r.indices.assign(argb.size(), 0xEE);
  r.palette.assign(256, 0xDEADBEEF);
  r.count = wanted;
  r.ok = QuantizeBitMap(reinterpret_cast<const uint8_t*>(argb.data()), kPixARGB32, 4, width, height,
                        width, r.indices.data(), r.palette.data(), &r.count, transparent, reserve,
                        dither);
  return r;
}

// A picture whose pixels fall into many more than 256 histogram cells.
std::vector<uint32_t> Gradient(int width, int height) {
  std::vector<uint32_t> argb;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      argb.push_back(uint32_t((x * 4) << 16 | (y * 4) << 8 | ((x + y) * 2)));
  return argb;
}

}  // namespace

TEST(ReadPixelRGB, EveryFormat) {
  struct Case {
    int32_t format;
    std::vector<uint8_t> bytes;
    uint8_t r, g, b;
  } cases[] = {
      // 16-bit words as the processor reads them (little-endian bytes here).
      {kPixRGB555, {0x1F, 0x7C}, 248, 0, 248},    // 0x7C1F: red and blue full
      {kPixRGB555, {0xE0, 0x03}, 0, 248, 0},      // 0x03E0: green full
      {kPixBGR555, {0x1F, 0x00}, 248, 0, 0},      // the low five bits are red
      {kPixRGB555PC, {0x7C, 0x00}, 248, 0, 0},    // bytes exchanged: 0x007C read as 0x7C00
      {kPixBGR555PC, {0x7C, 0x00}, 0, 0, 248},    // 0x007C exchanged to 0x7C00: blue
      {kPixRGB565, {0xFF, 0xFF}, 248, 252, 248},  // no low-bit replication
      {kPixRGB565, {0x20, 0x00}, 0, 4, 0},        // green's lowest bit is 4
      {kPixBGR565, {0x01, 0xF8}, 8, 0, 248},      // 0xF801: red low, blue high
      {kPixRGB565PC, {0xF8, 0x00}, 248, 0, 0},    // 0x00F8 exchanged to 0xF800
      {kPixBGR565PC, {0x00, 0x1F}, 248, 0, 0},    // 0x1F00 exchanged to 0x001F: red
      {kPixRGB24, {1, 2, 3}, 1, 2, 3},
      {kPixBGR24, {1, 2, 3}, 3, 2, 1},
      {kPixARGB32, {0x33, 0x22, 0x11, 0xFF}, 0x11, 0x22, 0x33},  // 0xFF112233
      {kPixBGRx32, {0x99, 0x11, 0x22, 0x33}, 0x11, 0x22, 0x33},  // 0x33221199
      {kPixRGBx32, {0x99, 0x33, 0x22, 0x11}, 0x11, 0x22, 0x33},  // 0x11223399
      {kPixxBGR32, {0x11, 0x22, 0x33, 0x99}, 0x11, 0x22, 0x33},  // 0x99332211
  };
  for (const Case& c : cases) {
    uint8_t out[3] = {7, 7, 7};
    ReadPixelRGB(out, c.format, c.bytes.data());
    EXPECT_EQ(out[0], c.r) << c.format;
    EXPECT_EQ(out[1], c.g) << c.format;
    EXPECT_EQ(out[2], c.b) << c.format;
  }
  uint8_t out[3] = {7, 8, 9};
  uint8_t pixel[4] = {1, 2, 3, 4};
  ReadPixelRGB(out, 14, pixel);
  EXPECT_EQ(out[0], 7);
  EXPECT_EQ(out[1], 8);
  EXPECT_EQ(out[2], 9);
}

TEST(Quantize, FewCellsGiveTheirCentresAndExactIndices) {
  // Three colours in three cells, each the centre of its cell, and the white that must stay white
  // when no transparent colour is set.
  const uint32_t colours[] = {0x040204, 0x7C7E7C, 0xFCFEFC, 0xFFFFFF};
  std::vector<uint32_t> argb;
  for (int i = 0; i < 40; ++i) argb.push_back(colours[i % 4] | 0xFF000000u);
  Quantized q = Quantize(argb, 8, 16);
  ASSERT_TRUE(q.ok);
  ASSERT_EQ(q.count, 3);  // FCFEFC and FFFFFF share a cell
  std::set<uint32_t> pal(q.palette.begin(), q.palette.begin() + 3);
  EXPECT_EQ(pal, (std::set<uint32_t>{0x040204, 0x7C7E7C, 0xFCFEFC}));
  for (size_t i = 0; i < argb.size(); ++i) {
    uint32_t want = colours[i % 4] == 0xFFFFFF ? 0xFCFEFC : colours[i % 4];
    ASSERT_LT(q.indices[i], 3);
    EXPECT_EQ(q.palette[q.indices[i]], want) << i;
  }
  EXPECT_EQ(q.palette[3], 0xDEADBEEFu) << "nothing written behind the count";
}

TEST(Quantize, WantedCountIsCappedAndAReservedEntryStaysUnused) {
  std::vector<uint32_t> argb = Gradient(64, 64);
  struct Case {
    uint32_t transparent;
    bool reserve;
    int32_t boxes;
  } cases[] = {
      {kNoTransparentRGB, false, 256}, {kNoTransparentRGB, true, 255}, {0x123456, false, 255}};
  for (const Case& c : cases) {
    Quantized q = Quantize(argb, 64, 300, c.transparent, c.reserve);
    ASSERT_TRUE(q.ok);
    int32_t spare = c.boxes == 256 ? 0 : 1;
    ASSERT_EQ(q.count, c.boxes + spare) << c.reserve;
    for (uint8_t index : q.indices) ASSERT_LT(index, c.boxes) << "the spare entry stays unused";
    uint32_t spareEntry = c.transparent != kNoTransparentRGB ? c.transparent : 0;
    if (spare != 0) {
      EXPECT_EQ(q.palette[255], spareEntry);
    }
  }
}

// Small pictures are counted by sorting their cells, larger ones in the whole grid: the same
// pixels give the same palette and indices either way. The wider copy's extra column is
// transparent, so that it counts the same cells with more pixels than the sorting road takes
// (dithered, that column stops the error diffusion, so only the palettes compare).
TEST(Quantize, BothCountingRoadsGiveTheSamePalette) {
  const int w = 64, h = 64;  // 4096 pixels: sorted
  // Columns repeat unevenly, so that the cells' counts weigh the box colours.
  const std::vector<uint32_t> gradient = Gradient(w, h);
  std::vector<uint32_t> argb;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) argb.push_back(gradient[y * w + x * x / w]);
  std::vector<uint32_t> wide;  // 65 x 64: counted in the grid
  for (int y = 0; y < h; ++y) {
    wide.insert(wide.end(), argb.begin() + y * w, argb.begin() + (y + 1) * w);
    wide.push_back(0x00FF00);
  }
  for (bool dither : {false, true}) {
    Quantized sorted = Quantize(argb, w, 255, kNoTransparentRGB, true, dither);
    Quantized grid = Quantize(wide, w + 1, 255, 0x00FF00, false, dither);
    ASSERT_TRUE(sorted.ok && grid.ok);
    ASSERT_EQ(sorted.count, 256);
    ASSERT_EQ(grid.count, 256);
    for (int i = 0; i < 255; ++i) ASSERT_EQ(grid.palette[i], sorted.palette[i]) << i << dither;
    if (dither) continue;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        ASSERT_EQ(grid.indices[y * (w + 1) + x], sorted.indices[y * w + x]) << x << "," << y;
      }
      EXPECT_EQ(grid.indices[y * (w + 1) + w], 255);
    }
  }
}

TEST(Quantize, AllTransparentPictureHasWhiteAndTheTransparentEntry) {
  for (bool dither : {false, true}) {
    std::vector<uint32_t> argb(30, 0xFF00FF00u);
    Quantized q = Quantize(argb, 5, 255, 0x00FF00, false, dither);
    ASSERT_TRUE(q.ok);
    ASSERT_EQ(q.count, 2);
    EXPECT_EQ(q.palette[0], 0xFFFFFFu);
    EXPECT_EQ(q.palette[1], 0x00FF00u);
    for (uint8_t index : q.indices) EXPECT_EQ(index, 1);
  }
}

TEST(Quantize, TransparentPixelsTakeTheEntryBehindTheBoxes) {
  std::vector<uint32_t> argb;
  for (int i = 0; i < 64; ++i)
    argb.push_back(i % 3 == 0 ? 0x00FF00 : (i % 3 == 1 ? 0x0C0A0C : 0xF4F6F4));
  for (bool dither : {false, true}) {
    Quantized q = Quantize(argb, 8, 8, 0x00FF00, false, dither);
    ASSERT_TRUE(q.ok);
    ASSERT_EQ(q.count, 3);
    EXPECT_EQ(q.palette[2], 0x00FF00u);
    for (size_t i = 0; i < argb.size(); ++i) {
      if (argb[i] == 0x00FF00)
        EXPECT_EQ(q.indices[i], 2) << i;
      else
        EXPECT_EQ(q.palette[q.indices[i]], argb[i]) << i;
    }
  }
}

TEST(Quantize, CellCountsSaturate) {
  // 70000 pixels in one cell and 65535 in another: both count 65535, so one box's colour lies
  // halfway between the two centres (R 4 and 252: (65535 x 256 + 65535) / 131070 = 128).
  std::vector<uint32_t> argb(70000, 0x040204);
  argb.insert(argb.end(), 65535, 0xFC0204);
  Quantized q = Quantize(argb, 5, 1);
  ASSERT_TRUE(q.ok);
  ASSERT_EQ(q.count, 1);
  EXPECT_EQ(q.palette[0], 0x800204u);
}

TEST(Quantize, DitherOfACellCentreIsExact) {
  std::vector<uint32_t> argb(12 * 9, 0x0C0A0C);
  Quantized q = Quantize(argb, 12, 2, kNoTransparentRGB, false, true);
  ASSERT_TRUE(q.ok);
  ASSERT_EQ(q.count, 1);
  EXPECT_EQ(q.palette[0], 0x0C0A0Cu);
  for (uint8_t index : q.indices) EXPECT_EQ(index, 0);
}

TEST(Quantize, DitherSpreadsAGreyBetweenTwoEntries) {
  // Dark grey on the left, light grey on the right, a middle grey between: with two colours plain
  // mapping paints the middle one colour (mean 106), error diffusion mixes both so that its mean
  // stays near 124; the error limit keeps it a few levels short.
  const int w = 64;
  const int h = 64;
  std::vector<uint32_t> argb;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) argb.push_back(x < 16 ? 0x404040 : x >= 48 ? 0xC0C0C0 : 0x7C7C7C);
  Quantized plain = Quantize(argb, w, 2);
  Quantized mixed = Quantize(argb, w, 2, kNoTransparentRGB, false, true);
  ASSERT_TRUE(plain.ok && mixed.ok);
  ASSERT_EQ(plain.count, 2);
  ASSERT_EQ(mixed.palette[0], plain.palette[0]);
  ASSERT_EQ(mixed.palette[1], plain.palette[1]);
  std::set<uint8_t> plainGrey, mixedGrey;
  int64_t sum = 0;
  int64_t n = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 20; x < 44; ++x) {
      plainGrey.insert(plain.indices[y * w + x]);
      mixedGrey.insert(mixed.indices[y * w + x]);
      sum += (mixed.palette[mixed.indices[y * w + x]] >> 8) & 0xFF;
      ++n;
    }
  EXPECT_EQ(plainGrey.size(), 1u);
  EXPECT_EQ(mixedGrey.size(), 2u);
  EXPECT_NEAR(double(sum) / double(n), 124.0, 6.0);
}

TEST(Quantize, OtherFormatsAndRowStride) {
  // RGB24 rows of 3 pixels inside rows of 5: the two pixels past the width are never read.
  std::vector<uint8_t> rows = {4,   2,   4,   252, 254, 252, 4, 2, 4, 9, 9, 9, 9, 9, 9,
                               252, 254, 252, 4,   2,   4,   4, 2, 4, 9, 9, 9, 9, 9, 9};
  std::vector<uint8_t> indices(6);
  uint32_t palette[256];
  int32_t count = 8;
  ASSERT_TRUE(QuantizeBitMap(rows.data(), kPixRGB24, 3, 3, 2, 5, indices.data(), palette, &count,
                             kNoTransparentRGB, false, false));
  ASSERT_EQ(count, 2);
  const uint32_t want[] = {0x040204, 0xFCFEFC, 0x040204, 0xFCFEFC, 0x040204, 0x040204};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(palette[indices[i]], want[i]) << i;
}

TEST(Quantize, RefusalsAndFailedAllocationsWriteNothing) {
  std::vector<uint32_t> argb = Gradient(16, 16);
  for (int32_t wanted : {0, -3}) {
    Quantized q = Quantize(argb, 16, wanted);
    EXPECT_FALSE(q.ok);
    EXPECT_EQ(q.count, wanted);
  }
  for (int64_t fault = 1; fault <= 4; ++fault) {
    SetImageAllocFault(fault);
    Quantized q = Quantize(argb, 16, 16, kNoTransparentRGB, false, true);
    SetImageAllocFault(0);
    EXPECT_FALSE(q.ok) << fault;
    EXPECT_EQ(q.count, 16) << fault;
    EXPECT_EQ(q.palette[0], 0xDEADBEEFu) << fault;
  }
  Quantized q = Quantize(argb, 16, 16, kNoTransparentRGB, false, true);
  EXPECT_TRUE(q.ok);
  // A picture counted in the whole grid takes one block more.
  std::vector<uint32_t> large = Gradient(80, 60);
  for (int64_t fault = 1; fault <= 6; ++fault) {
    SetImageAllocFault(fault);
    Quantized failed = Quantize(large, 80, 16, kNoTransparentRGB, false, true);
    SetImageAllocFault(0);
    EXPECT_FALSE(failed.ok) << fault;
    EXPECT_EQ(failed.count, 16) << fault;
    EXPECT_EQ(failed.palette[0], 0xDEADBEEFu) << fault;
  }
  EXPECT_TRUE(Quantize(large, 80, 16, kNoTransparentRGB, false, true).ok);
}
