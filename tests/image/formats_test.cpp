// Pixel formats, their conversions, and the per-pixel kernels.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "image/image.h"
#include "image_fixture.h"

using namespace qv;
using qv::testimage::BitMapPtr;
using qv::testimage::MaskBit;
using qv::testimage::PlanePtr;
using qv::testimage::Px;

TEST(Formats, ColourToEveryFormat) {
  // R 0x12, G 0x34, B 0x56.
  const uint32_t want[15] = {0x08CA,   0x28C2,     0xCA08,     0xC228,   0x11AA,
                             0x51A2,   0xAA11,     0xA251,     0x123456, 0x563412,
                             0x123456, 0x56341200, 0x12345600, 0x563412, 0};
  for (int f = 0; f < 15; ++f) EXPECT_EQ(ColorToPixelFormat(0xFF123456, f), want[f]) << f;
  EXPECT_EQ(ColorToPixelFormat(0x123456, -1), 0u);
}

TEST(Formats, ChannelOrderBothWays) {
  struct Case {
    int32_t format;
    uint32_t pixel;
  } cases[] = {{kPixBGRx32, 0x56341200}, {kPixRGBx32, 0x12345600}, {kPixxBGR32, 0x00563412}};
  for (auto c : cases) {
    EXPECT_EQ(ConvertPixelOrder(c.format, 0x123456), c.pixel) << c.format;
    EXPECT_EQ(PixelToRGB(c.format, c.pixel), 0x123456u) << c.format;
    EXPECT_EQ(PixelToRGB(c.format, c.pixel | (c.format == kPixxBGR32 ? 0xFF000000 : 0xFF)),
              0x123456u)
        << c.format;  // the x byte never reaches the colour
  }
  EXPECT_EQ(PixelToRGB(kPixARGB32, 0x80123456), 0x80123456u);  // format 10 keeps its alpha
  EXPECT_EQ(ConvertPixelOrder(kPixARGB32, 0x123456), 0x123456u);
  EXPECT_EQ(ConvertPixelOrder(42, 0xAB123456), 0xAB123456u);
  uint32_t out = 7;
  PackRGBToPixel(0x12, 0x34, 0x56, &out, kPixRGBx32);
  EXPECT_EQ(out, 0x12345600u);
  PackRGBToPixel(0x12, 0x34, 0x56, &out, kPixARGB32);
  EXPECT_EQ(out, 0x123456u);
}

TEST(Formats, SixteenBitLayouts) {
  // Each layout agrees with the colour conversion, and converts back keeping every bit both
  // layouts carry (a 555 layout loses the lowest green bit).
  std::mt19937 rng(16);
  for (int i = 0; i < 2000; ++i) {
    uint32_t c = rng() & 0xFFFFFF;
    uint16_t w = uint16_t(ColorToPixelFormat(c, kPixRGB565));
    for (int layout = 0; layout < 8; ++layout) {
      uint16_t l = Rgb565ToLayout(layout, w);
      ASSERT_EQ(l, ColorToPixelFormat(c, layout)) << layout << " " << std::hex << c;
      uint16_t back = LayoutToRgb565(layout, l);
      ASSERT_EQ(back, layout < 4 ? (w & ~0x20) : w) << layout;
    }
  }
  EXPECT_EQ(Rgb565ToLayout(8, 0x1234), 0x1234);
  EXPECT_EQ(LayoutToRgb565(99, 0x1234), 0x1234);
}

TEST(PixelKernels, ColourKeyUsesTheChannelMask) {
  // Format 11 keys ignore the low byte; the mask row starts at column 0.
  uint32_t px[2 * 10] = {};
  for (int i = 0; i < 20; ++i) px[i] = i % 3 == 0 ? 0x563412FFu - i : 0x11111100u;
  uint8_t mask[2 * 2];
  std::memset(mask, 0xFF, sizeof mask);
  ColorKeyMaskKernel(px, mask, 9, 2, 2, 0x56341200, 10, 0xFFFFFF00);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 9; ++x) {
      bool keyed = (y * 10 + x) % 3 == 0;
      EXPECT_EQ((mask[y * 2 + x / 8] >> (7 - x % 8)) & 1, keyed ? 0 : 1) << x << "," << y;
    }
  EXPECT_EQ(mask[1] & 0x7F, 0x7F);  // bits past the width are left as they were
}

TEST(PixelKernels, ReplacementsChainInListOrder) {
  const uint32_t A = 0x00AAAAAA, B = 0x00BBBBBB, C = 0x00CCCCCC;
  struct Case {
    std::vector<uint32_t> pairs;
    uint32_t in, want;
  } cases[] = {
      {{A, B, B, C, 0xFFFFFFFF}, A, C},
      {{B, C, A, B, 0xFFFFFFFF}, A, B},  // B to C was tested before A became B
      {{0xFFFFFFFF, 0, A, B}, A, A},
      {{A, B, 0xFFFFFFFF}, 0x55000000 | A, 0x55000000 | A},  // the alpha byte is not masked off
  };
  for (auto& c : cases) {
    uint32_t px[3] = {c.in, 0x123456, c.in};
    ReplaceColorsKernel(2, 1, c.pairs.data(), px, 3, 0xFFFFFFFF);
    EXPECT_EQ(px[0], c.want);
    EXPECT_EQ(px[1], 0x123456u);
    EXPECT_EQ(px[2], c.in);  // past the width
  }
  uint32_t px = 0xFF000000 | A;
  const uint32_t pairs[] = {A, B, 0xFFFFFFFF};
  ReplaceColorsKernel(1, 1, pairs, &px, 1, 0x00FFFFFF);
  EXPECT_EQ(px, B);
}

TEST(PixelKernels, GrayTruncatesTheDoubleSum) {
  struct Case {
    uint32_t in;
    uint32_t gray, mono;
  } cases[] = {{0x80FFFFFF, 255, 255}, {0x00808080, 127, 0},  // 127.99999999999999
               {0x00818181, 129, 255}, {0x00FF0000, 76, 0},  {0x0000FF00, 149, 255},
               {0x000000FF, 29, 0},    {0x000AC81E, 123, 0}};
  for (auto c : cases) {
    for (bool mono : {false, true}) {
      uint32_t want = (mono ? c.mono : c.gray) * 0x010101u;
      uint32_t px = c.in;
      GrayKernel(&px, 1, 1, kPixARGB32, 1, mono);
      EXPECT_EQ(px, want) << std::hex << c.in;
      uint32_t p11 = ConvertPixelOrder(kPixBGRx32, c.in & 0xFFFFFF) | 0xFF;
      GrayKernel(&p11, 1, 1, kPixBGRx32, 1, mono);
      EXPECT_EQ(p11, ConvertPixelOrder(kPixBGRx32, want)) << std::hex << c.in;
    }
  }
}

TEST(PixelKernels, InvertFlipsEveryBit) {
  uint32_t px[4] = {0x12345678, 0, 0xFFFFFFFF, 0xAAAAAAAA};
  InvertKernel(px, 3, 1, 4);
  EXPECT_EQ(px[0], 0xEDCBA987u);
  EXPECT_EQ(px[1], 0xFFFFFFFFu);
  EXPECT_EQ(px[2], 0u);
  EXPECT_EQ(px[3], 0xAAAAAAAAu);
  uint8_t bytes[6] = {0, 1, 0xFF, 0x0F, 9, 9};
  InvertBytesKernel(bytes, 2, 2);
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[1], 0xFE);
  EXPECT_EQ(bytes[2], 0x00);
  EXPECT_EQ(bytes[3], 0xF0);
  EXPECT_EQ(bytes[4], 9);
}

TEST(PixelKernels, TintRoundsTowardMinusInfinity) {
  struct Case {
    uint32_t px, colour;
    int level;
    uint32_t want;
  } cases[] = {
      {0x00000000, 0xFFFFFF, 255, 0x00FEFEFE},
      {0x00FFFFFF, 0x000000, 255, 0x00000000},
      {0x80123456, 0xFFFFFF, 0, 0x00123456},  // level 0 clears only the alpha byte
      {0x00102030, 0x302010, 128, 0x00202020},
  };
  for (auto c : cases) {
    uint32_t px[3 * 3];
    for (auto& p : px) p = c.px;
    TintKernel(TintRecord{px, 1, 1, 2, 1, c.colour, c.level, 3, kPixARGB32});
    EXPECT_EQ(px[4], c.want) << std::hex << c.px;
    EXPECT_EQ(px[5], c.want);
    EXPECT_EQ(px[3], c.px);
    EXPECT_EQ(px[1], c.px);
    uint32_t p13 = ConvertPixelOrder(kPixxBGR32, c.px & 0xFFFFFF) | 0xFF000000;
    TintKernel(TintRecord{&p13, 0, 0, 1, 1, c.colour, c.level, 1, kPixxBGR32});
    EXPECT_EQ(p13, ConvertPixelOrder(kPixxBGR32, c.want));
  }
}

// Each channel of d + (((s - d) x a) >> 8), written out channel by channel.
static uint32_t Formula(uint32_t d, uint32_t s, int a) {
  uint32_t out = 0;
  for (int shift : {16, 8, 0}) {
    int dc = (d >> shift) & 255, sc = (s >> shift) & 255;
    int v = dc + (((sc - dc) * a) >> 8);
    out |= uint32_t(v) << shift;
  }
  return out;
}

TEST(PixelKernels, MixOfRandomPicturesFollowsTheFormula) {
  for (SimdLevel level : {SimdLevel::kScalar, BestSimdLevel()}) {
    SetSimdLevel(level);
    BitMapPtr src(testimage::Pattern(64, 64, 31)), dst(testimage::Pattern(64, 64, 32));
    BitMapPtr orig(testimage::Pattern(64, 64, 32));
    MixKernel(MixRecord{reinterpret_cast<uint32_t*>(src->pixels),
                        reinterpret_cast<uint32_t*>(dst->pixels), nullptr, 0},
              64, 64, 128, kPixARGB32, BitMapPixelsPerRow(src.get()), BitMapPixelsPerRow(dst.get()),
              0);
    for (int y = 0; y < 64; ++y)
      for (int x = 0; x < 64; ++x)
        ASSERT_EQ(Px(dst.get(), x, y), Formula(Px(src.get(), x, y), Px(orig.get(), x, y), 127))
            << x << "," << y;
  }
  SetSimdLevel(BestSimdLevel());
}

TEST(PixelKernels, MixFollowsTheMaskFromItsColumn) {
  uint32_t src[16], dst[16];
  for (int i = 0; i < 16; ++i) src[i] = 0x00FFFFFF, dst[i] = 0x80000000;
  uint8_t mask[2] = {0x00, 0x5F};  // columns 9, 11-15 set; the rectangle starts at column 10
  MixKernel(MixRecord{src, dst, mask, 10}, 6, 1, 255, kPixARGB32, 16, 16, 2);
  const bool on[6] = {0, 1, 1, 1, 1, 1};
  for (int x = 0; x < 6; ++x) EXPECT_EQ(dst[x], on[x] ? 0x00FFFFFFu : 0x80000000u) << x;
  EXPECT_EQ(dst[6], 0x80000000u);
}

TEST(PixelKernels, FlipsOfAllThreePlanes) {
  // Width 13: a mask flip moves column 12 to 0 and writes only the 13 bits of each row.
  const int w = 13, h = 3;
  BitMapPtr b(testimage::Pattern(w, h, 5)), orig(testimage::Pattern(w, h, 5));
  PlanePtr m(AllocMask(w, h, true)), a(AllocAlphaChannel(w, h, true));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) testimage::AlphaAt(a.get(), x, y) = uint8_t(y * 16 + x);
    m->data[y * 2 + 1] = 0x07;  // the three spare bits of each row, which must survive
  }
  WriteBitMapPixel(m.get(), 12, 0, 0);
  WriteBitMapPixel(m.get(), 1, 2, 0);
  std::vector<uint8_t> scratch(size_t(m->bytesPerRow));
  FlipRecord r{reinterpret_cast<uint32_t*>(b->pixels),
               w,
               h,
               BitMapPixelsPerRow(b.get()),
               m->data,
               m->bytesPerRow,
               a->data,
               a->bytesPerRow,
               true,
               4,
               scratch.data()};
  FlipKernel(r);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      ASSERT_EQ(Px(b.get(), x, y), Px(orig.get(), w - 1 - x, y));
      ASSERT_EQ(testimage::AlphaAt(a.get(), x, y), y * 16 + (w - 1 - x));
      ASSERT_EQ(MaskBit(m.get(), x, y), (x == 0 && y == 0) || (x == 11 && y == 2)) << x << "," << y;
    }
  EXPECT_EQ(m->data[1] & 0x07, 0x07);
  r.horizontal = false;
  FlipKernel(r);
  EXPECT_TRUE(MaskBit(m.get(), 0, 2));
  EXPECT_TRUE(MaskBit(m.get(), 11, 0));
  EXPECT_EQ(Px(b.get(), 0, 0), Px(orig.get(), w - 1, h - 1));
  EXPECT_EQ(Px(b.get(), 3, 1), Px(orig.get(), w - 4, 1));
  EXPECT_EQ(testimage::AlphaAt(a.get(), 0, 0), 2 * 16 + 12);
}
