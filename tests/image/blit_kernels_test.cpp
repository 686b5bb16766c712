// The blit kernels: copies, masked and alpha blits, coverage paint, byte planes and the flood fill.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "base/errors.h"
#include "image/image.h"
#include "image_fixture.h"

using namespace qv;
using qv::testimage::BitMapPtr;
using qv::testimage::MaskBit;
using qv::testimage::PlanePtr;
using qv::testimage::Px;

namespace {

uint32_t Formula(uint32_t d, uint32_t s, int a) {
  uint32_t out = 0;
  for (int shift : {16, 8, 0}) {
    int dc = (d >> shift) & 255, sc = (s >> shift) & 255;
    out |= uint32_t(dc + (((sc - dc) * a) >> 8)) << shift;
  }
  return out;
}

uint32_t* P(qvBitMap* b) { return reinterpret_cast<uint32_t*>(b->pixels); }

}  // namespace

TEST(BlitKernels, ConvertingCopyCarriesTheChannelsWithTheSpareByteZero) {
  const uint32_t rgb = 0x123456;
  for (int32_t from = kPixARGB32; from <= kPixxBGR32; ++from)
    for (int32_t to = kPixARGB32; to <= kPixxBGR32; ++to) {
      uint32_t spare = from == kPixARGB32 || from == kPixxBGR32 ? 0xAB000000 : 0xAB;
      uint32_t src[2] = {0, ConvertPixelOrder(from, rgb) | spare};
      uint32_t dst[2] = {0xEEEEEEEE, 0xEEEEEEEE};
      BltBitMapKernel(BltBitMapRecord{src, dst, 1, 0, 0, 0, 1, 1, 2, 2, true, from, to});
      EXPECT_EQ(dst[0], ConvertPixelOrder(to, rgb)) << from << "->" << to;
      EXPECT_EQ(dst[1], 0xEEEEEEEEu);
    }
}

TEST(BlitKernels, MaskConversions) {
  uint32_t src[4] = {0x80123456, 0x80123456, 0x80123456, 0x80123456};
  uint8_t mask[1] = {0xA0};  // columns 0 and 2
  struct Case {
    int conversion;
    uint32_t want;
  } cases[] = {
      {0, 0x80123456}, {1, 0x56341200}, {2, 0x12345600}, {3, 0xEEEEEEEE}, {-1, 0xEEEEEEEE}};
  for (auto c : cases) {
    uint32_t dst[4] = {0xEEEEEEEE, 0xEEEEEEEE, 0xEEEEEEEE, 0xEEEEEEEE};
    BltMaskKernel(BltMaskRecord{src, dst, mask, 0, 0, 0, 0, 4, 1, 4, 1, 4, c.conversion});
    EXPECT_EQ(dst[0], c.want) << c.conversion;
    EXPECT_EQ(dst[1], 0xEEEEEEEEu);
    EXPECT_EQ(dst[2], c.want);
  }
}

TEST(BlitKernels, AlphaBlendOfRandomPicturesFollowsTheFormula) {
  for (SimdLevel level : {SimdLevel::kScalar, BestSimdLevel()}) {
    SetSimdLevel(level);
    for (int a : {0, 128, 255}) {
      BitMapPtr src(testimage::Pattern(64, 64, 11)), dst(testimage::Pattern(64, 64, 12));
      BitMapPtr orig(testimage::Pattern(64, 64, 12));
      std::vector<uint8_t> alpha(64 * 64, uint8_t(a));
      BltAlphaBitMapKernel(BltAlphaBitMapRecord{P(src.get()), 0, 0, 0, 0, 68, P(dst.get()), 0, 0,
                                                68, 64, 64, alpha.data(), 64, kPixARGB32});
      for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
          uint32_t d = Px(orig.get(), x, y), s = Px(src.get(), x, y);
          uint32_t want = a == 0 ? d : a == 255 ? s : Formula(d, s, a);
          ASSERT_EQ(Px(dst.get(), x, y), want) << a << " at " << x << "," << y;
        }
    }
  }
  SetSimdLevel(BestSimdLevel());
}

TEST(BlitKernels, AlphaBlendInOtherChannelOrders) {
  uint32_t d = ConvertPixelOrder(kPixBGRx32, 0x000000) | 0x77;
  uint32_t s = ConvertPixelOrder(kPixBGRx32, 0xFF8040);
  uint8_t a = 128;
  BltAlphaBitMapKernel(
      BltAlphaBitMapRecord{&s, 0, 0, 0, 0, 1, &d, 0, 0, 1, 1, 1, &a, 1, kPixBGRx32});
  EXPECT_EQ(d, ConvertPixelOrder(kPixBGRx32, 0x7F4020));
}

TEST(BlitKernels, CoverageModes) {
  const uint32_t k = 0x00FF8000, d0 = 0x80000080;
  struct Case {
    int mode;
    int c;
    uint32_t want;
  } cases[] = {
      {0, 0, d0},  {0, 1, k},
      {7, 5, k},   {1, 0, d0},
      {1, 255, k}, {1, 128, Formula(d0, k, 128)},
      {4, 64, k},  {4, 63, Formula(d0, k, 252)},
      {4, 0, d0},  {4, 1, Formula(d0, k, 4)},
  };
  for (SimdLevel level : {SimdLevel::kScalar, BestSimdLevel()}) {
    SetSimdLevel(level);
    for (auto c : cases) {
      std::vector<uint32_t> dst(20, d0);
      std::vector<uint8_t> cov(20, uint8_t(c.c));
      BltAlphaChannelRecord r{};
      r.dst = dst.data();
      r.dx = 1, r.dstPixelsPerRow = 20, r.width = 17, r.height = 1;
      r.coverage = cov.data(), r.coverageBytesPerRow = 20;
      r.format = kPixARGB32, r.colour = k, r.mode = c.mode;
      BltAlphaChannelKernel(r);
      EXPECT_EQ(dst[0], d0);
      EXPECT_EQ(dst[17], c.want) << "mode " << c.mode << " c " << c.c;
      EXPECT_EQ(dst[18], d0);
    }
  }
  SetSimdLevel(BestSimdLevel());
}

TEST(BlitKernels, CoverageWithAlphaUpdate) {
  const uint32_t k = 0x00FFFFFF;
  struct Case {
    int c, a, opacity;
    uint32_t wantPx;
    int wantA;
  } cases[] = {
      {0, 77, 255, 0x00000000, 77},
      {200, 0, 255, k, 200},
      {200, 0, 128, k, 200 * 128 / 255},
      {200, 100, 255, Formula(0, k, 200), ((((200 - 100) * 200) >> 8) + 100)},
      {100, 200, 200, Formula(0, k, 100), ((((100 - 200) * 100) >> 8) + 200) * 200 / 255},
  };
  for (int mode : {2, 3}) {
    for (auto c : cases) {
      uint32_t px = 0;
      uint8_t alpha = uint8_t(c.a), cov = uint8_t(c.c);
      uint16_t cov16 = uint16_t(c.c);
      BltAlphaChannelRecord r{};
      r.dst = &px, r.dstPixelsPerRow = 1, r.width = 1, r.height = 1;
      r.coverage = &cov, r.coverageBytesPerRow = 1, r.dstAlpha = &alpha, r.dstAlphaBytesPerRow = 1;
      r.format = kPixARGB32, r.colour = k, r.mode = mode, r.opacity = c.opacity;
      r.coverage16 = &cov16, r.coverage16Stride = 1;
      BltAlphaChannelKernel(r);
      EXPECT_EQ(px, c.wantPx) << mode << " c " << c.c << " a " << c.a;
      EXPECT_EQ(alpha, c.wantA) << mode << " c " << c.c << " a " << c.a;
    }
  }
}

TEST(BlitKernels, ByteModes) {
  // Source bytes 0, 100, 255 over destination bytes 0 and 50, value 128.
  const uint8_t s[6] = {0, 100, 255, 0, 100, 255}, d0[6] = {0, 0, 0, 50, 50, 50};
  struct Case {
    int mode;
    uint8_t want[6];
  } cases[] = {
      {0, {0, 100, 255, 0, 100, 255}},  {1, {0, 100, 255, 50, 100, 255}},
      {2, {0, 155, 0, 50, 155, 0}},     {3, {0, 255, 255, 50, 255, 255}},
      {4, {0, 50, 128, 50, 50, 128}},   {5, {0, 0, 0, 50, 155, 0}},
      {6, {0, 128, 128, 50, 128, 128}}, {7, {0, 0, 0, 0, 100, 255}},
      {8, {0, 0, 255, 50, 50, 255}},    {9, {0, 100, 255, 0, 100, 255}},
  };
  for (auto& c : cases) {
    uint8_t d[6];
    std::memcpy(d, d0, 6);
    BltBytesKernel(BltBytesRecord{s, 0, 0, d, 0, 0, 3, 2, 3, 3, c.mode, 128});
    for (int i = 0; i < 6; ++i) EXPECT_EQ(d[i], c.want[i]) << "mode " << c.mode << " at " << i;
  }
}

TEST(BlitKernels, TemplatesAndByteMasks) {
  uint8_t tmpl[2 * 2] = {0x00, 0x20, 0x00, 0x40};  // column 10 in row 0, column 9 in row 1
  uint8_t bytes[2 * 4] = {};
  TemplateToBytesKernel(TemplateToBytesRecord{tmpl, 8, 0, 2, bytes, 1, 0, 4, 3, 2, 0xAB});
  const uint8_t want[8] = {0, 0, 0, 0xAB, 0, 0, 0xAB, 0};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(bytes[i], want[i]) << i;

  uint32_t dst[8] = {};
  BltTemplateKernel(BltTemplateRecord{tmpl, dst, 9, 0, 0, 0, 2, 2, 2, 4, 0x123});
  EXPECT_EQ(dst[0], 0u);
  EXPECT_EQ(dst[1], 0x123u);
  EXPECT_EQ(dst[4], 0x123u);
  EXPECT_EQ(dst[5], 0u);

  uint32_t src[6] = {1, 2, 3, 4, 5, 6}, out[6] = {};
  uint8_t bm[2 * 4] = {9, 0, 7, 0, 0, 1, 0, 0};
  CopyThroughByteMaskKernel(
      CopyThroughByteMaskRecord{src, 0, 0, bm, 0, 3, out, 0, 0, 3, 3, 2, 0, 4});
  const uint32_t wantOut[6] = {1, 0, 3, 0, 5, 0};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(out[i], wantOut[i]) << i;
}

TEST(BlitKernels, SafeBltMakesMaskOrAlpha) {
  // Clip mask bits 1100 at its column 2 onward; object mask bits 1010 at the destination.
  uint8_t clip[1] = {0x30}, obj[1] = {0x0A << 2}, dst[1] = {0xFF};
  SafeBltRecord r{clip, dst, obj, 0, 0, 2, 0, 2, 0, 4, 1, nullptr, 0, 1, 1, 0};
  SafeBltKernel(r);
  EXPECT_EQ(dst[0], 0xC3 | 0x20);  // 1000 written at columns 2-5, the rest kept
  uint8_t alphaDst[8], objAlpha[8] = {9, 9, 10, 20, 30, 40, 9, 9};
  std::memset(alphaDst, 0xEE, 8);
  r.dst = alphaDst, r.objAlpha = objAlpha, r.dstAlphaBytesPerRow = 8, r.objAlphaBytesPerRow = 8;
  SafeBltKernel(r);
  const uint8_t want[8] = {0xEE, 0xEE, 10, 20, 0, 0, 0xEE, 0xEE};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(alphaDst[i], want[i]) << i;
}

TEST(BlitKernels, FillsScalingAndPlaneExtraction) {
  uint32_t px[3 * 4] = {};
  FillPixelRectKernel(px, 4, 1, 1, 2, 2, 0xCAFE);
  for (int i = 0; i < 12; ++i)
    EXPECT_EQ(px[i], (i == 5 || i == 6 || i == 9 || i == 10) ? 0xCAFEu : 0u);
  uint8_t b[3 * 4] = {};
  FillBytesRectKernel(b, 3, 0, 1, 3, 4, 7);
  EXPECT_EQ(b[3], 7);
  EXPECT_EQ(b[11], 7);
  EXPECT_EQ(b[2], 0);

  uint8_t s[4] = {255, 128, 1, 0}, d[4];
  ScaleBytesKernel(s, d, 128, 2, 2);
  EXPECT_EQ(d[0], 128);
  EXPECT_EQ(d[1], 64);  // 16384 / 255 truncated
  EXPECT_EQ(d[2], 0);

  // Every byte at every factor is the truncated a x f / 255, over a row long enough for vector
  // code and a tail.
  std::vector<uint8_t> all(259), scaled(259);
  for (size_t i = 0; i < all.size(); ++i) all[i] = uint8_t(i * 97 % 256);
  for (int32_t f = 0; f <= 255; ++f) {
    ScaleBytesKernel(all.data(), scaled.data(), f, int32_t(all.size()), 1);
    for (size_t i = 0; i < all.size(); ++i) {
      ASSERT_EQ(scaled[i], all[i] * f / 255) << "byte " << int(all[i]) << " factor " << f;
    }
  }

  uint32_t argb[4] = {0xFF000000, 0x80FFFFFF, 0x01000000, 0x7F000000};
  uint8_t alpha[2 * 4] = {};
  ExtractAlphaKernel(argb, 2, 2, 2, alpha, 4);
  EXPECT_EQ(alpha[0], 255);
  EXPECT_EQ(alpha[1], 128);
  EXPECT_EQ(alpha[4], 1);
  EXPECT_EQ(alpha[5], 127);
}

TEST(BlitKernels, AlphaToMaskModes) {
  // Alpha 255, 254, 0 at mask columns 6-8 over a mask 1 0 1 there.
  const uint8_t alpha[3] = {255, 254, 0};
  struct Case {
    int mode;
    const char* want;
  } cases[] = {{0, "100"}, {1, "011"}, {2, "100"}, {3, "001"}, {4, "101"}, {5, "101"}, {6, "101"}};
  for (auto c : cases) {
    uint8_t mask[2] = {0x02, 0x80};
    AlphaToMaskKernel(alpha, mask, 3, 2, c.mode, AlphaToMaskRect{0, 0, 6, 0, 3, 1});
    std::string got;
    for (int x = 6; x < 9; ++x) got += (mask[x / 8] >> (7 - x % 8)) & 1 ? '1' : '0';
    EXPECT_EQ(got, c.want) << c.mode;
  }
}

class FloodFill : public testing::Test {
 protected:
  int w = 0, h = 0;
  std::vector<uint32_t> px;
  void Make(int width, int height, uint32_t v) {
    w = width, h = height;
    px.assign(size_t(w) * h, v);
  }
  uint32_t& At(int x, int y) { return px[size_t(y) * w + x]; }
  int Fill(int x, int y, uint32_t border, uint32_t fill, uint32_t channelMask = 0xFFFFFF) {
    return FloodFillKernel(FloodFillRecord{px.data(), w, h, w, border, fill, 0, 0}, x, y,
                           channelMask);
  }
};

TEST_F(FloodFill, StartOnBorderChangesNothing) {
  Make(8, 8, 0);
  for (int x = 0; x < 8; ++x) At(x, 4) = 0x00FF0000;
  auto before = px;
  EXPECT_EQ(Fill(3, 4, 0xFF0000, 0x00FF00), 0);
  EXPECT_EQ(px, before);
  EXPECT_EQ(Fill(-1, 0, 0xFF0000, 0x00FF00), 0);
  EXPECT_EQ(Fill(8, 0, 0xFF0000, 0x00FF00), 0);
  EXPECT_EQ(Fill(0, 99, 0xFF0000, 0x00FF00), 0);
  EXPECT_EQ(px, before);
}

TEST_F(FloodFill, StopsAtTheBorderUnderTheChannelMask) {
  Make(9, 9, 0x11000000);
  for (int i = 0; i < 9; ++i) At(i, 4) = At(4, i) = 0x22FF0000;  // a cross with alpha bits
  EXPECT_EQ(Fill(1, 1, 0xFF0000, 0x0000FF), 0);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 9; ++x) {
      uint32_t want = (x == 4 || y == 4) ? 0x22FF0000 : (x < 4 && y < 4) ? 0x0000FF : 0x11000000;
      ASSERT_EQ(At(x, y), want) << x << "," << y;
    }
}

TEST_F(FloodFill, FillWithBitsOutsideTheMaskEnds) {
  // The fill colour's alpha byte lies outside the mask: it must still count as filled.
  Make(32, 32, 0);
  for (int y = 0; y < 32; y += 4)
    for (int x = 0; x < 31; ++x) At((y / 4) % 2 ? x + 1 : x, y) = 0x00FFFFFF;
  EXPECT_EQ(Fill(5, 1, 0xFFFFFF, 0xFF123456), 0);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x)
      ASSERT_TRUE(At(x, y) == 0x00FFFFFF || At(x, y) == 0xFF123456) << x << "," << y;
}

TEST_F(FloodFill, SerpentineMazeOfAMillionRuns) {
  // Walls on odd columns, open alternately at the top and the bottom: one corridor two million
  // pixels long, every row of it its own run.
  Make(2048, 2048, 0);
  for (int x = 1; x < w; x += 2)
    for (int y = 0; y < h; ++y)
      if (!((x / 2) % 2 == 0 ? y == h - 1 : y == 0)) At(x, y) = 0xFFFFFF;
  EXPECT_EQ(Fill(0, 0, 0xFFFFFF, 0x00ABCDEF), 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint32_t v = At(x, y);
      ASSERT_TRUE(v == 0xFFFFFF || v == 0x00ABCDEF) << x << "," << y;
    }
}
