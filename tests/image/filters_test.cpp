// The filters and colour effects below the brush commands: kernel widths and kernels, the edge
// cases of each filter, the wrappers' rules (locks, shared tables, steps on one lock), the four
// 32-bit formats filtered alike, allocation failures, and the shadow alpha. The pictures the
// filters make are compared with an independent transcription of the formulas in the applet
// tests (tests/applets/brush/filter-*).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "base/errors.h"
#include "image/filters_internal.h"
#include "image/image.h"
#include "tests/image/image_fixture.h"

using namespace qv;
using namespace qv::testimage;

namespace {

std::vector<uint32_t> Pixels(const qvBitMap* b) {
  std::vector<uint32_t> out;
  for (int y = 0; y < b->height; ++y)
    for (int x = 0; x < b->width; ++x)
      out.push_back(reinterpret_cast<const uint32_t*>(b->pixels + int64_t(y) * b->bytesPerRow)[x]);
  return out;
}

std::vector<uint8_t> Bytes(const qvPlane* p, int w, int h) {
  std::vector<uint8_t> out;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) out.push_back(p->data[int64_t(y) * p->bytesPerRow + x]);
  return out;
}

// A picture with its spare bytes cleared: the filters write them as 0.
BitMapPtr Colours(int w, int h, uint32_t seed) {
  BitMapPtr b(Pattern(w, h, seed));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) Px(b.get(), x, y) &= 0xFFFFFF;
  return b;
}

void Fill(qvBitMap* b, uint32_t colour) {
  for (int y = 0; y < b->height; ++y)
    for (int x = 0; x < b->width; ++x) Px(b, x, y) = colour;
}

}  // namespace

TEST(Filters, KernelWidths) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Row {
    double radius, sigma;
    int32_t oneD, twoD;
  } rows[] = {
      {0, 1.0, 7, 7},
      {0, 0.5, 3, 3},
      {0, 2.0, 11, 11},
      {0, 5.0, 25, 25},
      {0, 0.3, 3, 3},
      {1, 1.0, 3, 3},
      {2.5, 0.1, 7, 7},
      {0.01, 9, 3, 3},
      {0, 0.0, 1, 105},
      {0, 1e-11, 1, 3},
      {0, nan, 1, 1},
      {0, inf, 1, 1},
      {1e300, 1, INT32_MAX, INT32_MAX},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << "radius " << r.radius << " sigma " << r.sigma);
    EXPECT_EQ(OptimalKernelWidth1D(r.radius, r.sigma), r.oneD);
    // Sigma 0 never ends the 2-D search: it stops past the limit.
    EXPECT_EQ(OptimalKernelWidth2D(r.radius, r.sigma, 101), r.twoD);
  }
  // Wide Gaussians: the 1-D search ends by 257 whatever the sigma; the 2-D one at its limit.
  EXPECT_LE(OptimalKernelWidth1D(0, 1e6), 255);
  EXPECT_GT(OptimalKernelWidth2D(0, 1e6, 101), 101);
}

TEST(Filters, BlurKernelGathersThreeSubSamples) {
  double k[5];
  ASSERT_TRUE(BuildBlurKernel(3, 1.0, k));
  EXPECT_NEAR(k[0], 0.27852191442470114, 1e-16);
  EXPECT_NEAR(k[1], 0.44295617115059777, 1e-16);
  EXPECT_EQ(k[0], k[2]);
  ASSERT_TRUE(BuildBlurKernel(5, 2.0, k));
  const double want[5] = {0.15328900394341272, 0.22150220998169756, 0.25041757214977944,
                          0.22150220998169756, 0.15328900394341272};
  for (int i = 0; i < 5; ++i) EXPECT_NEAR(k[i], want[i], 1e-16) << i;
  EXPECT_FALSE(BuildBlurKernel(3, 1e308, k));  // every entry underflows: no kernel
}

TEST(Filters, EdgeRadiusOneIsTheUnscaledLaplacian) {
  BitMapPtr b(AllocBitMap(5, 5));
  Fill(b.get(), 0x101010);
  Px(b.get(), 2, 2) = 0x112030;
  ASSERT_EQ(ConvolveBitMap('g', b.get(), nullptr, 5, 5, 1, 1.0), 0);
  // Centre: 8 x (0x11, 0x20, 0x30) - 8 x 0x10 per channel, blue limited to 255; its neighbours
  // lose the difference.
  EXPECT_EQ(Px(b.get(), 2, 2), 0x0880FFu);
  EXPECT_EQ(Px(b.get(), 1, 1), 0u);
  EXPECT_EQ(Px(b.get(), 0, 0), 0u);  // flat: the kernel's sum is 0
}

TEST(Filters, SquareKernelsWiderThanThePictureOrEvenDoNothing) {
  for (int32_t mode : {'e', 'g', 's'}) {
    BitMapPtr b = Colours(6, 6, 3);
    PlanePtr a(AllocAlphaChannel(6, 6, false));
    for (int i = 0; i < 36; ++i) AlphaAt(a.get(), i % 6, i / 6) = uint8_t(i * 7);
    const auto before = Pixels(b.get());
    const auto alphaBefore = Bytes(a.get(), 6, 6);
    ASSERT_EQ(ConvolveBitMap(mode, b.get(), a.get(), 6, 6, 3, 1.0), 0);  // 7 wide
    EXPECT_EQ(Pixels(b.get()), before) << char(mode);
    EXPECT_EQ(Bytes(a.get(), 6, 6), alphaBefore) << char(mode);
  }
  BitMapPtr b = Colours(9, 9, 4);
  const auto before = Pixels(b.get());
  ConvolveBitMap('x', b.get(), nullptr, 9, 9, 1, 1.0);  // no such mode
  EXPECT_EQ(Pixels(b.get()), before);
}

TEST(Filters, BlurSigmaAndRadiusRules) {
  BitMapPtr b = Colours(12, 9, 5);
  const auto before = Pixels(b.get());
  ASSERT_EQ(ConvolveBitMap('b', b.get(), nullptr, 12, 9, 2, 0.0), 0);
  EXPECT_EQ(Pixels(b.get()), before);  // sigma 0
  ConvolveBitMap('b', b.get(), nullptr, 12, 9, 2, 5e-11);
  EXPECT_EQ(Pixels(b.get()), before);  // within 1e-10 of 0
  ConvolveBitMap('b', b.get(), nullptr, 12, 9, 2, std::nan(""));
  EXPECT_EQ(Pixels(b.get()), before);
  ConvolveBitMap('b', b.get(), nullptr, 12, 9, std::numeric_limits<double>::infinity(), 1);
  EXPECT_EQ(Pixels(b.get()), before);
  // Radius 0 takes sigma 1.0 whatever is given; a negative radius is 0.
  BitMapPtr c = Colours(12, 9, 5), d = Colours(12, 9, 5), e = Colours(12, 9, 5);
  ConvolveBitMap('b', c.get(), nullptr, 12, 9, 0, 0.0);
  ConvolveBitMap('b', d.get(), nullptr, 12, 9, 0, 1.0);
  ConvolveBitMap('b', e.get(), nullptr, 12, 9, -3, 7.0);
  EXPECT_NE(Pixels(c.get()), before);
  EXPECT_EQ(Pixels(c.get()), Pixels(d.get()));
  EXPECT_EQ(Pixels(e.get()), Pixels(d.get()));
}

TEST(Filters, BlurFiltersTheAlphaPlaneAloneOrAlong) {
  PlanePtr a(AllocAlphaChannel(9, 9, true));
  AlphaAt(a.get(), 4, 4) = 255;
  ASSERT_EQ(ConvolveBitMap('b', nullptr, a.get(), 9, 9, 2, 1.0), 0);
  EXPECT_GT(AlphaAt(a.get(), 4, 4), 0);
  EXPECT_LT(AlphaAt(a.get(), 4, 4), 255);
  EXPECT_GT(AlphaAt(a.get(), 3, 4), 0);
  EXPECT_EQ(AlphaAt(a.get(), 3, 4), AlphaAt(a.get(), 5, 4));
  EXPECT_EQ(AlphaAt(a.get(), 4, 3), AlphaAt(a.get(), 4, 5));
  // The same blur on pixels whose channels all hold the alpha gives the same bytes.
  PlanePtr b(AllocAlphaChannel(9, 9, true));
  AlphaAt(b.get(), 4, 4) = 255;
  BitMapPtr px(AllocBitMap(9, 9));
  Fill(px.get(), 0);
  Px(px.get(), 4, 4) = 0xFFFFFF;
  ConvolveBitMap('b', px.get(), b.get(), 9, 9, 2, 1.0);
  EXPECT_EQ(Bytes(a.get(), 9, 9), Bytes(b.get(), 9, 9));
  for (int i = 0; i < 81; ++i)
    EXPECT_EQ(Px(px.get(), i % 9, i / 9), AlphaAt(b.get(), i % 9, i / 9) * 0x010101u) << i;
}

TEST(Filters, EveryThirtyTwoBitFormatIsFilteredAlike) {
  // A picture in format 10 and the same in format F: the filter's result in F is the format-10
  // result in F's order, with the spare byte 0.
  using Op = std::function<void(qvBitMap*)>;
  const std::pair<const char*, Op> ops[] = {
      {"blur", [](qvBitMap* b) { ConvolveBitMap('b', b, nullptr, 11, 7, 2, 1.3); }},
      {"sharpen", [](qvBitMap* b) { ConvolveBitMap('s', b, nullptr, 11, 7, 0, 1.0); }},
      {"emboss", [](qvBitMap* b) { ConvolveBitMap('e', b, nullptr, 11, 7, 1, 1.0); }},
      {"solarize", [](qvBitMap* b) { SolarizeBitMap(b, 11, 7, 100); }},
      {"gamma", [](qvBitMap* b) { GammaBitMap(b, 11, 7, 2.2, 1.0, 0.4); }},
      {"contrast", [](qvBitMap* b) { ContrastBitMap(b, 11, 7, true, 2); }},
      {"modulate", [](qvBitMap* b) { ModulateBitMap(b, 11, 7, 1.1, 0.7, 1.4); }},
      {"sepia", [](qvBitMap* b) { SepiaToneBitMap(b, 11, 7, 90); }},
      {"charcoal", [](qvBitMap* b) { CharcoalBitMap(b, nullptr, 11, 7, 1, 1.0); }},
      {"oilpaint", [](qvBitMap* b) { OilPaintBitMap(b, 11, 7, 1); }},
      {"monochrome", [](qvBitMap* b) { MonochromeBitMap(b, 11, 7, true); }},
  };
  for (const auto& [name, op] : ops) {
    BitMapPtr ref = Colours(11, 7, 21);
    for (int32_t format : {kPixBGRx32, kPixRGBx32, kPixxBGR32}) {
      SCOPED_TRACE(testing::Message() << name << " format " << format);
      BitMapPtr other = Colours(11, 7, 21);
      for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 11; ++x)
          Px(other.get(), x, y) = ConvertPixelOrder(format, Px(ref.get(), x, y));
      other->format = format;
      BitMapPtr want = Colours(11, 7, 21);
      op(want.get());
      op(other.get());
      for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 11; ++x)
          ASSERT_EQ(Px(other.get(), x, y), ConvertPixelOrder(format, Px(want.get(), x, y)))
              << x << "," << y;
    }
  }
}

TEST(Filters, SolarizeEnds) {
  BitMapPtr b(AllocBitMap(3, 1));
  Px(b.get(), 0, 0) = 0xFF00FF80;
  Px(b.get(), 1, 0) = 0x000180FE;
  Px(b.get(), 2, 0) = 0x00000000;
  SolarizeBitMap(b.get(), 3, 1, 255);
  EXPECT_EQ(Px(b.get(), 0, 0), 0x0000FF80u);  // nothing but the spare byte
  SolarizeBitMap(b.get(), 3, 1, 0);
  EXPECT_EQ(Px(b.get(), 0, 0), 0x0000007Fu);
  EXPECT_EQ(Px(b.get(), 1, 0), 0x00FE7F01u);
  EXPECT_EQ(Px(b.get(), 2, 0), 0u);
  SolarizeBitMap(b.get(), 3, 1, 1000);  // held to 255
  EXPECT_EQ(Px(b.get(), 1, 0), 0x00FE7F01u);
}

TEST(Filters, GammaSharesTablesAndSkipsTheLockForOnes) {
  EXPECT_EQ(GammaBitMap(nullptr, 4, 4, 1.0, 1.0, 1.0), 0);
  EXPECT_EQ(GammaBitMap(nullptr, 4, 4, 2.0, 1.0, 1.0), ERR_LOCKBMAP);
  struct Row {
    double r, g, b;
    int64_t tables;
  } rows[] = {{2, 2, 2, 1}, {2, 3, 2, 2}, {2, 3, 3, 2}, {2, 3, 4, 3}, {1, 3, 3, 1}, {-1, 0, 2, 2}};
  for (const Row& r : rows) {
    BitMapPtr b = Colours(4, 4, 8);
    SetImageAllocFault(0);
    ASSERT_EQ(GammaBitMap(b.get(), 4, 4, r.r, r.g, r.b), 0);
    EXPECT_EQ(ImageAllocCount(), r.tables) << r.r << " " << r.g << " " << r.b;
  }
  uint8_t t[256];
  BuildGammaTable(0.0, t);
  EXPECT_EQ(t[255], 0);
  BuildGammaTable(std::nan(""), t);
  EXPECT_EQ(t[200], 0);
  BuildGammaTable(2.0, t);
  EXPECT_EQ(t[0], 0);
  EXPECT_EQ(t[64], 128);  // 255 sqrt(64 / 255) + 0.5 = 128.2
  EXPECT_EQ(t[255], 255);
  // A failed table skips the filter and still answers 0.
  BitMapPtr b = Colours(4, 4, 8);
  const auto before = Pixels(b.get());
  SetImageAllocFault(1);
  EXPECT_EQ(GammaBitMap(b.get(), 4, 4, 2, 3, 4), 0);
  SetImageAllocFault(0);
  EXPECT_EQ(Pixels(b.get()), before);
}

TEST(Filters, ContrastTimesMatchesSingleSteps) {
  for (bool sharpen : {true, false}) {
    BitMapPtr many = Colours(23, 9, 31), steps = Colours(23, 9, 31);
    ASSERT_EQ(ContrastBitMap(many.get(), 23, 9, sharpen, 150), 0);
    for (int i = 0; i < 150; ++i)
      ContrastKernel(reinterpret_cast<uint32_t*>(steps->pixels), 23, 9, steps->bytesPerRow / 4,
                     kPixARGB32, sharpen ? 1 : -1);
    EXPECT_EQ(Pixels(many.get()), Pixels(steps.get())) << sharpen;
  }
  // A huge count ends: every pixel settles or cycles.
  BitMapPtr b = Colours(64, 64, 32);
  EXPECT_EQ(ContrastBitMap(b.get(), 64, 64, true, INT32_MAX), 0);
  BitMapPtr c = Colours(5, 5, 33);
  const auto before = Pixels(c.get());
  EXPECT_EQ(ContrastBitMap(c.get(), 5, 5, true, 0), 0);
  EXPECT_EQ(Pixels(c.get()), before);
}

TEST(Filters, ModulateRules) {
  EXPECT_EQ(ModulateBitMap(nullptr, 4, 4, 1.0, 1.0, 1.0), 0);  // no lock for 1.0 x 3
  EXPECT_EQ(ModulateBitMap(nullptr, 4, 4, 1.0, 1.0, 1.5), ERR_LOCKBMAP);
  // The hue is held to 2 (half a turn each way) and huge factors do not overflow the percents.
  BitMapPtr a = Colours(8, 8, 9), b = Colours(8, 8, 9), c = Colours(8, 8, 9);
  ModulateBitMap(a.get(), 8, 8, 1.0, 1.0, 2.0);
  ModulateBitMap(b.get(), 8, 8, 1.0, 1.0, 1e12);
  EXPECT_EQ(Pixels(a.get()), Pixels(b.get()));
  ModulateBitMap(c.get(), 8, 8, 1e300, 1e300, std::nan(""));
  for (uint32_t p : Pixels(c.get())) EXPECT_EQ(p & 0xFF000000u, 0u);
  // Brightness 0 makes black.
  BitMapPtr d = Colours(8, 8, 9);
  ModulateBitMap(d.get(), 8, 8, 0.0, 1.0, 1.0);
  for (uint32_t p : Pixels(d.get())) EXPECT_EQ(p, 0u);
}

TEST(Filters, LevelStretchLeavesWhatHasNoTwoLevels) {
  BitMapPtr one(AllocBitMap(5, 4));
  Fill(one.get(), 0x336699);
  const auto before = Pixels(one.get());
  EXPECT_EQ(NormalizeLevels(one.get(), 5, 4, 0, 19), 0);
  EXPECT_EQ(Pixels(one.get()), before);  // one colour: low equals high
  BitMapPtr pixel(AllocBitMap(1, 1));
  Px(pixel.get(), 0, 0) = 0x204080;
  SepiaToneBitMap(pixel.get(), 1, 1, 255);
  // A single pixel has no high level (the count from the top never exceeds 1 - 0): the stretch
  // leaves it, and the sepia's own values stay.
  BitMapPtr kernelOnly(AllocBitMap(1, 1));
  Px(kernelOnly.get(), 0, 0) = 0x204080;
  SepiaKernel(reinterpret_cast<uint32_t*>(kernelOnly->pixels), 1, 1, 1, kPixARGB32, 255);
  ContrastKernel(reinterpret_cast<uint32_t*>(kernelOnly->pixels), 1, 1, 1, kPixARGB32, 1);
  EXPECT_EQ(Px(pixel.get(), 0, 0), Px(kernelOnly.get(), 0, 0));
  // Two grays: their intensities truncate to 63 and 127 (the weights' sum is a hair below 1), so
  // the levels are 63 and 127 and the channels map to (64 - 63) 255 / 64 and, above 127, 255.
  BitMapPtr two(AllocBitMap(10, 1));
  for (int x = 0; x < 10; ++x) Px(two.get(), x, 0) = x < 5 ? 0x404040 : 0x808080;
  NormalizeLevels(two.get(), 10, 1, 0, 9);
  EXPECT_EQ(Px(two.get(), 0, 0), 0x030303u);
  EXPECT_EQ(Px(two.get(), 9, 0), 0xFFFFFFu);
}

TEST(Filters, SepiaZeroMakesRedAndGreenFull) {
  BitMapPtr b = Colours(9, 4, 12);
  SepiaKernel(reinterpret_cast<uint32_t*>(b->pixels), 9, 4, b->bytesPerRow / 4, kPixARGB32, 0);
  for (uint32_t p : Pixels(b.get())) EXPECT_EQ(p & 0xFFFF00u, 0xFFFF00u);
}

TEST(Filters, MonochromeDecidesByGray) {
  struct Row {
    uint32_t colour;
    uint32_t want;
  } rows[] = {{0xFFFFFF, 0xFFFFFF}, {0x000000, 0},        {0x808080, 0},
              {0x818181, 0xFFFFFF}, {0x00FF00, 0xFFFFFF}, {0xFF0000, 0}};
  for (const Row& r : rows) {
    for (bool dither : {false, true}) {
      BitMapPtr b(AllocBitMap(6, 3));
      Fill(b.get(), r.colour);
      ASSERT_EQ(MonochromeBitMap(b.get(), 6, 3, dither), 0);
      EXPECT_EQ(Px(b.get(), 2, 1), r.want) << std::hex << r.colour << " dither " << dither;
    }
  }
  // Two colours: the lighter is white whichever the quantiser numbers first.
  for (auto [left, right] : {std::pair{0x0000FFu, 0xFF0000u},
                             {0xFF0000u, 0x0000FFu},
                             {0x202020u, 0xE0E0E0u},
                             {0xE0E0E0u, 0x202020u}}) {
    BitMapPtr b(AllocBitMap(8, 2));
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 8; ++x) Px(b.get(), x, y) = x < 4 ? left : right;
    ASSERT_EQ(MonochromeBitMap(b.get(), 8, 2, true), 0);
    const bool leftLighter = (left == 0xFF0000u) || (left == 0xE0E0E0u);
    EXPECT_EQ(Px(b.get(), 0, 0), leftLighter ? 0xFFFFFFu : 0u) << std::hex << left;
    EXPECT_EQ(Px(b.get(), 7, 1), leftLighter ? 0u : 0xFFFFFFu) << std::hex << left;
  }
  BitMapPtr b(AllocBitMap(6, 3));
  SetImageAllocFault(1);
  EXPECT_EQ(MonochromeBitMap(b.get(), 6, 3, true), ERR_MEM);
  SetImageAllocFault(0);
  EXPECT_EQ(MonochromeBitMap(nullptr, 6, 3, true), ERR_LOCKBMAP);
}

TEST(Filters, ShadowAlpha) {
  // Radius 4 on 10 x 10: 18 x 18, the filled square blurred, symmetric.
  PlanePtr a(BuildShadowAlpha(nullptr, nullptr, 0, 0, 10, 10, 4, 4.0 / 3, 255, false, false));
  ASSERT_TRUE(a);
  EXPECT_EQ(a->width, 18);
  EXPECT_EQ(a->height, 18);
  EXPECT_EQ(AlphaAt(a.get(), 9, 9), 255);
  EXPECT_EQ(AlphaAt(a.get(), 0, 0), 0);
  EXPECT_GT(AlphaAt(a.get(), 4, 9), 0);
  EXPECT_LT(AlphaAt(a.get(), 4, 9), 255);
  EXPECT_EQ(AlphaAt(a.get(), 4, 9), AlphaAt(a.get(), 13, 9));
  // From a mask at (left, top): only the set bits, moved to (r, r).
  PlanePtr mask(AllocMask(16, 4, true));
  mask->data[mask->bytesPerRow * 2 + 1] = 0x80;  // column 8, row 2
  PlanePtr m(BuildShadowAlpha(nullptr, mask.get(), 8, 2, 3, 2, 1, 0, 200, false, false));
  ASSERT_TRUE(m);
  EXPECT_EQ(m->width, 5);
  EXPECT_EQ(AlphaAt(m.get(), 1, 1), 200);  // sigma 0: no blur
  EXPECT_EQ(AlphaAt(m.get(), 2, 1), 0);
  // From an alpha source, hardened: every covered byte is 255.
  PlanePtr src(AllocAlphaChannel(3, 3, true));
  AlphaAt(src.get(), 1, 1) = 9;
  PlanePtr h(BuildShadowAlpha(src.get(), nullptr, 0, 0, 3, 3, 2, 1, 255, true, false));
  ASSERT_TRUE(h);
  for (uint8_t v : Bytes(h.get(), 7, 7)) EXPECT_TRUE(v == 0 || v == 255);
  EXPECT_EQ(AlphaAt(h.get(), 3, 3), 255);
  // Sizes beyond 2^31 bytes, or below 1, give none before anything is allocated.
  SetImageAllocFault(0);
  EXPECT_EQ(BuildShadowAlpha(nullptr, nullptr, 0, 0, 50000, 50000, 100, 1, 255, false, false),
            nullptr);
  EXPECT_EQ(BuildShadowAlpha(nullptr, nullptr, 0, 0, 4, 4, 1e300, 1, 255, false, false), nullptr);
  EXPECT_EQ(BuildShadowAlpha(nullptr, nullptr, 0, 0, 0, 4, 1, 1, 255, false, false), nullptr);
  EXPECT_EQ(ImageAllocCount(), 0);
}

TEST(Filters, AllocationFailuresSkipTheFilter) {
  for (int32_t mode : {'b', 'e', 'g', 's'}) {
    BitMapPtr b = Colours(9, 9, 40);
    const auto before = Pixels(b.get());
    SetImageAllocFault(1);
    EXPECT_EQ(ConvolveBitMap(mode, b.get(), nullptr, 9, 9, 1, 1.0), 0);
    SetImageAllocFault(0);
    EXPECT_EQ(Pixels(b.get()), before) << char(mode);
  }
  BitMapPtr b = Colours(9, 9, 41);
  const auto before = Pixels(b.get());
  SetImageAllocFault(1);
  EXPECT_EQ(OilPaintBitMap(b.get(), 9, 9, 1), 0);
  SetImageAllocFault(0);
  EXPECT_EQ(Pixels(b.get()), before);
}

TEST(Filters, CharcoalFiltersTheAlphaAlong) {
  BitMapPtr b = Colours(10, 10, 50);
  PlanePtr a(AllocAlphaChannel(10, 10, true));
  for (int x = 0; x < 10; ++x) AlphaAt(a.get(), x, 5) = 255;
  ASSERT_EQ(CharcoalBitMap(b.get(), a.get(), 10, 10, 1, 1.0), 0);
  EXPECT_GT(AlphaAt(a.get(), 3, 4), 0);  // the edge of the line, blurred
  for (uint32_t p : Pixels(b.get())) {
    EXPECT_EQ(p >> 16 & 0xFF, p & 0xFF);  // gray
    EXPECT_EQ(p >> 24, 0u);
  }
  EXPECT_EQ(CharcoalBitMap(nullptr, nullptr, 10, 10, 1, 1.0), ERR_LOCKBMAP);
}

TEST(Filters, OilPaintTakesThePixelThatLastRaisedTheWinningCount) {
  // 3 x 1, window 3 (radius 1); the one row is repeated above and below. 0x000001 and 0x000000
  // share intensity 0, 0x0000FF has 29.
  BitMapPtr b(AllocBitMap(3, 1));
  Px(b.get(), 0, 0) = 0x000001;
  Px(b.get(), 1, 0) = 0x000000;
  Px(b.get(), 2, 0) = 0x0000FF;
  OilPaintBitMap(b.get(), 3, 1, 1);
  // Pixel 1 sees 1, 0, FF three times: intensity 0 reaches its count 6 at the last 0x000000,
  // although 0x000001 was the first of it.
  EXPECT_EQ(Px(b.get(), 1, 0), 0u);
  EXPECT_EQ(Px(b.get(), 0, 0), 0u);     // 1, 1, 0 three times
  EXPECT_EQ(Px(b.get(), 2, 0), 0xFFu);  // 0, FF, FF three times: 29 wins
}

TEST(Filters, OilPaintOfLargeWindowsMatchesTheWholeScan) {
  // Windows of 17 and more are scanned by runs; pictures of few intensities make ties common.
  std::mt19937 rng(77);
  for (int iter = 0; iter < 60; ++iter) {
    const int w = 1 + int(rng() % 30), h = 1 + int(rng() % 20);
    const double radius = 8 + double(rng() % 300) / 10.0;
    BitMapPtr a(AllocBitMap(w, h)), b(AllocBitMap(w, h));
    const uint32_t palette[] = {0x000000, 0x000001, 0x0000FF, 0x808080, 0x818080, 0xFFFFFF};
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        Px(a.get(), x, y) = Px(b.get(), x, y) = iter % 3 ? palette[rng() % 6] : uint32_t(rng());
    const int32_t format = 10 + iter % 4;
    OilPaintRecord ra{
        reinterpret_cast<uint32_t*>(a->pixels), w, h, a->bytesPerRow / 4, format, radius};
    OilPaintRecord rb{
        reinterpret_cast<uint32_t*>(b->pixels), w, h, b->bytesPerRow / 4, format, radius};
    OilPaintKernel(ra);
    image::OilPaintReference(rb);
    ASSERT_EQ(Pixels(a.get()), Pixels(b.get())) << w << "x" << h << " radius " << radius;
  }
  // A window far wider than the picture costs the picture's size, not the window's.
  BitMapPtr c = Colours(40, 40, 78);
  EXPECT_EQ(OilPaintBitMap(c.get(), 40, 40, 10000), 0);
}
