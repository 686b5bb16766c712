#include "image/planar.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "image/image.h"

namespace qv {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Unpack(const Bytes& src, size_t dstLen, size_t* pos, uint8_t fill = 0) {
  Bytes dst(dstLen, fill);
  UnpackByteRun(src.data(), src.size(), pos, dst.data(), dst.size());
  return dst;
}

TEST(PlanarTest, PlaneRowBytesIsWholeWords) {
  EXPECT_EQ(PlaneRowBytes(1), 2);
  EXPECT_EQ(PlaneRowBytes(16), 2);
  EXPECT_EQ(PlaneRowBytes(17), 4);
  EXPECT_EQ(PlaneRowBytes(320), 40);
}

TEST(PlanarTest, UnpackByteRunCases) {
  struct Case {
    const char* name;
    Bytes src;
    size_t dstLen;
    Bytes want;
    size_t wantPos;
  };
  const Case cases[] = {
      {"literal", {2, 'a', 'b', 'c'}, 3, {'a', 'b', 'c'}, 4},
      {"replicate", {0xFD, 7}, 4, {7, 7, 7, 7}, 2},
      {"replicate of 20", {0xED, 7}, 20, Bytes(20, 7), 2},
      {"literal of 20",
       {19, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20},
       20,
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20},
       21},
      {"no-op control", {0x80, 0, 9}, 1, {9}, 3},
      // A run past the row is cut; the next row starts behind the whole control.
      {"replicate cut", {0xF9, 5, 0, 6}, 3, {5, 5, 5}, 2},
      {"literal cut skips its bytes", {4, 1, 2, 3, 4, 5, 0, 6}, 2, {1, 2}, 6},
      // A body ending early leaves what the row held.
      {"short body", {1, 8}, 4, {8, 0, 0, 0}, 2},
      {"replicate without value", {0xFE}, 2, {0, 0}, 1},
  };
  for (const Case& c : cases) {
    size_t pos = 0;
    EXPECT_EQ(Unpack(c.src, c.dstLen, &pos), c.want) << c.name;
    EXPECT_EQ(pos, c.wantPos) << c.name;
  }
}

TEST(PlanarTest, UnpackRowsInSequence) {
  // Two rows of 3: a cut replicate must not leak into the second row.
  const Bytes src = {0xFB, 1, 2, 'x', 'y', 'z'};
  size_t pos = 0;
  EXPECT_EQ(Unpack(src, 3, &pos), (Bytes{1, 1, 1}));
  EXPECT_EQ(Unpack(src, 3, &pos), (Bytes{'x', 'y', 'z'}));
  EXPECT_EQ(pos, src.size());
}

TEST(PlanarTest, PackByteRunExactOutput) {
  struct Case {
    const char* name;
    Bytes src;
    Bytes want;
  };
  const Case cases[] = {
      {"empty", {}, {}},
      {"single", {9}, {0, 9}},
      {"pair stays literal", {4, 4}, {1, 4, 4}},
      {"three replicate", {4, 4, 4}, {0xFE, 4}},
      {"literal then run", {1, 2, 3, 3, 3}, {1, 1, 2, 0xFE, 3}},
      {"run then literal", {5, 5, 5, 5, 6}, {0xFD, 5, 0, 6}},
  };
  for (const Case& c : cases) {
    Bytes out;
    PackByteRun(c.src.data(), c.src.size(), &out);
    EXPECT_EQ(out, c.want) << c.name;
  }
}

TEST(PlanarTest, PackByteRunLongRunsSplitAt128) {
  Bytes same(300, 0xAA);
  Bytes out;
  PackByteRun(same.data(), same.size(), &out);
  EXPECT_EQ(out, (Bytes{0x81, 0xAA, 0x81, 0xAA, 0xD5, 0xAA}));  // 128 + 128 + 44

  Bytes ramp(200);
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<uint8_t>(i);
  out.clear();
  PackByteRun(ramp.data(), ramp.size(), &out);
  ASSERT_EQ(out.size(), 202u);
  EXPECT_EQ(out[0], 127);
  EXPECT_EQ(out[129], 71);
}

TEST(PlanarTest, ByteRunRoundTrips) {
  uint32_t seed = 12345;
  for (int trial = 0; trial < 200; ++trial) {
    Bytes src(1 + trial * 3);
    for (uint8_t& b : src) {
      seed = seed * 1103515245u + 12345u;
      // Few distinct values so runs of every length occur.
      b = static_cast<uint8_t>((seed >> 16) % (trial % 2 ? 3 : 200));
    }
    Bytes packed;
    PackByteRun(src.data(), src.size(), &packed);
    size_t pos = 0;
    EXPECT_EQ(Unpack(packed, src.size(), &pos, 0xEE), src) << trial;
    EXPECT_EQ(pos, packed.size()) << trial;
  }
}

TEST(PlanarTest, PlanarToChunkyGathersBitsPerPlane) {
  // 10 pixels across 3 planes; plane 0 the lowest bit, leftmost pixel in bit 7.
  const Bytes p0 = {0b10100000, 0b01000000};
  const Bytes p1 = {0b01100000, 0b11000000};
  const Bytes p2 = {0b00010000, 0b10000000};
  const uint8_t* rows[] = {p0.data(), p1.data(), p2.data()};
  Bytes pens(10, 0xEE);
  PlanarToChunky(rows, 3, 10, pens.data());
  EXPECT_EQ(pens, (Bytes{1, 2, 3, 4, 0, 0, 0, 0, 6, 3}));

  // Eight planes reach pen 255.
  const Bytes ones = {0x80};
  const uint8_t* eight[8] = {ones.data(), ones.data(), ones.data(), ones.data(),
                             ones.data(), ones.data(), ones.data(), ones.data()};
  uint8_t pen = 0;
  PlanarToChunky(eight, 8, 1, &pen);
  EXPECT_EQ(pen, 255);
}

// Pixels are gathered eight at a time (and 128 at a time by the SIMD paths): on every path,
// every plane count and widths around both group sizes give what a pixel-by-pixel gathering of
// random planes gives, and the palette row equals pens through the palette.
TEST(PlanarTest, GroupedGatheringMatchesPixelByPixel) {
  uint32_t palette[256];
  for (uint32_t i = 0; i < 256; ++i) palette[i] = i * 0x010203u;
  uint32_t seed = 5;
  std::vector<SimdLevel> levels = {SimdLevel::kScalar};
  for (SimdLevel l : {SimdLevel::kSse2, SimdLevel::kAvx2})
    if (l <= BestSimdLevel()) levels.push_back(l);
  for (SimdLevel level : levels)
    for (int32_t planes = 1; planes <= 8; ++planes) {
      SetSimdLevel(level);
      for (int32_t width : {1, 7, 8, 9, 16, 23, 64, 127, 128, 129, 255, 256, 383, 1927}) {
        std::vector<Bytes> rows(size_t(planes), Bytes(size_t(PlaneRowBytes(width))));
        std::vector<const uint8_t*> pointers;
        for (Bytes& row : rows) {
          for (uint8_t& b : row) b = uint8_t((seed = seed * 1103515245u + 12345u) >> 16);
          pointers.push_back(row.data());
        }
        Bytes pens(size_t(width), 0xEE);
        PlanarToChunky(pointers.data(), planes, width, pens.data());
        std::vector<uint32_t> argb(static_cast<size_t>(width));
        PlanarToArgb(pointers.data(), planes, width, palette, argb.data());
        for (int32_t x = 0; x < width; ++x) {
          uint32_t pen = 0;
          for (int32_t p = 0; p < planes; ++p) {
            pen |= uint32_t((rows[size_t(p)][size_t(x / 8)] >> (7 - x % 8)) & 1) << p;
          }
          ASSERT_EQ(pens[size_t(x)], pen)
              << planes << " planes, width " << width << ", x " << x << ", level " << int(level);
          ASSERT_EQ(argb[size_t(x)], palette[pen])
              << planes << " planes, width " << width << ", level " << int(level);
        }
      }
    }
  SetSimdLevel(BestSimdLevel());
}

TEST(PlanarTest, HamSixHoldsComponentsFromBlackEachRow) {
  uint32_t palette[16] = {};
  palette[3] = 0x123456;
  // Blue first: from black. Then red, green, a palette entry, then blue over that entry.
  const Bytes pens = {0x10 | 0xF, 0x20 | 0x8, 0x30 | 0x1, 0x03, 0x10 | 0x2};
  uint32_t out[5];
  HamSixToArgb(pens.data(), 5, palette, out);
  EXPECT_EQ(out[0], 0x0000F0u);
  EXPECT_EQ(out[1], 0x8000F0u);
  EXPECT_EQ(out[2], 0x8010F0u);
  EXPECT_EQ(out[3], 0x123456u);
  EXPECT_EQ(out[4], 0x123420u);

  // A second row starts from black again, not from the last pixel.
  const Bytes row2 = {0x20 | 0x1};
  HamSixToArgb(row2.data(), 1, palette, out);
  EXPECT_EQ(out[0], 0x100000u);
}

TEST(PlanarTest, HamEightUsesSixBitValues) {
  uint32_t palette[64] = {};
  palette[63] = 0xFFFFFFu;
  const Bytes pens = {0x40 | 0x3F, 0x80 | 0x01, 0xC0 | 0x20, 0x3F};
  uint32_t out[4];
  HamEightToArgb(pens.data(), 4, palette, out);
  EXPECT_EQ(out[0], 0x0000FCu);
  EXPECT_EQ(out[1], 0x0400FCu);
  EXPECT_EQ(out[2], 0x0480FCu);
  EXPECT_EQ(out[3], 0xFFFFFFu);
}

TEST(PlanarTest, PensToArgbLooksUpEveryPen) {
  uint32_t palette[256];
  for (uint32_t i = 0; i < 256; ++i) palette[i] = i * 0x010101u;
  const Bytes pens = {0, 1, 255, 128};
  uint32_t out[4];
  PensToArgb(pens.data(), pens.size(), palette, out);
  EXPECT_EQ(out[0], 0u);
  EXPECT_EQ(out[1], 0x010101u);
  EXPECT_EQ(out[2], 0xFFFFFFu);
  EXPECT_EQ(out[3], 0x808080u);
}

}  // namespace
}  // namespace qv
