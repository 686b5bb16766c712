// The effect kernels: the integer square root, swirl and ripple in their still and transition
// modes, pixelate, the dissolve mask and line rolling, and the brush wrappers over them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "base/errors.h"
#include "image/image.h"
#include "tests/image/image_fixture.h"

namespace qv {
namespace {

using testimage::AlphaAt;
using testimage::BitMapPtr;
using testimage::MaskBit;
using testimage::PlanePtr;
using testimage::Px;

// ---------------------------------------------------------------------------------------------
// IntSqrt

TEST(IntSqrt, EdgeValues) {
  const struct {
    int64_t n;
    int32_t root;
  } rows[] = {
      {0, 0},
      {1, 1},
      {3, 1},
      {4, 2},
      {255, 15},
      {256, 16},
      {65535, 255},
      {65536, 256},
      {65537, 256},
      {-1, -1},
      {INT64_MIN, -1},
      {2147483647, 46340},
      {2147395600, 46340},
      {2147395599, 46339},
      {int64_t(1) << 60, int32_t(1) << 30},
  };
  for (const auto& r : rows) EXPECT_EQ(IntSqrt(r.n), r.root) << r.n;
}

// floor(sqrt(n)) for every n below 2^20 and on both sides of every square below 2^31, where a
// root estimate that is one off shows.
TEST(IntSqrt, FloorOfRootBelowTwoToThe31) {
  for (int64_t n = 0; n < (int64_t(1) << 20); ++n)
    ASSERT_EQ(IntSqrt(n), int32_t(std::sqrt(double(n)))) << n;
  for (int64_t k = 1; k * k < (int64_t(1) << 31); ++k) {
    ASSERT_EQ(IntSqrt(k * k), k) << k;
    ASSERT_EQ(IntSqrt(k * k - 1), k - 1) << k;
    ASSERT_EQ(IntSqrt(k * k + k), k) << k;
  }
}

// ---------------------------------------------------------------------------------------------
// Pictures that say where each pixel came from: the pixel is (y << 12 | x), the mask bit and the
// alpha byte are functions of the same position.

constexpr int kW = 48, kH = 30;

uint32_t PositionPixel(int x, int y) { return uint32_t(y) << 12 | uint32_t(x); }
bool PositionBit(int x, int y) { return (x * 7 + y * 3) % 5 < 2; }
uint8_t PositionAlpha(int x, int y) { return uint8_t(x * 5 + y * 3); }

struct PositionPicture {
  std::vector<uint32_t> pixels = std::vector<uint32_t>(kW * kH);
  std::vector<uint8_t> mask = std::vector<uint8_t>(size_t(MaskBytesPerRow(kW)) * kH);
  std::vector<uint8_t> alpha = std::vector<uint8_t>(kW * kH);
  PositionPicture() {
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        pixels[y * kW + x] = PositionPixel(x, y);
        alpha[y * kW + x] = PositionAlpha(x, y);
        if (PositionBit(x, y)) mask[y * MaskBytesPerRow(kW) + x / 8] |= uint8_t(0x80 >> (x & 7));
      }
  }
  bool Bit(int x, int y) const {
    return (mask[y * MaskBytesPerRow(kW) + x / 8] >> (7 - (x & 7))) & 1;
  }
};

// Every pixel of a still effect comes from inside the picture, with its mask bit and alpha byte
// from the same place; returns how many moved.
int CheckCarried(const PositionPicture& p) {
  int moved = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const uint32_t v = p.pixels[y * kW + x];
      const int sx = int(v & 0xFFF), sy = int(v >> 12);
      EXPECT_LT(sx, kW);
      EXPECT_LT(sy, kH);
      if (sx >= kW || sy >= kH) return moved;
      EXPECT_EQ(p.Bit(x, y), PositionBit(sx, sy)) << x << "," << y;
      EXPECT_EQ(p.alpha[y * kW + x], PositionAlpha(sx, sy)) << x << "," << y;
      moved += sx != x || sy != y;
    }
  return moved;
}

struct SwirlTables {
  std::vector<double> sine = std::vector<double>(kEffectTableSize);
  std::vector<double> cosine = std::vector<double>(kEffectTableSize);
};

SwirlRecord StillSwirl(PositionPicture& p, SwirlTables& t) {
  SwirlRecord r{};
  r.dst = p.pixels.data();
  r.dstPixelsPerRow = kW;
  r.sine = t.sine.data(), r.cosine = t.cosine.data();
  r.format = kPixARGB32;
  r.width = kW, r.height = kH;
  r.dstMask = p.mask.data(), r.dstMaskBytesPerRow = MaskBytesPerRow(kW);
  r.dstAlpha = p.alpha.data(), r.dstAlphaBytesPerRow = kW;
  InitSwirlTables(r);
  return r;
}

TEST(Swirl, StillCarriesMaskAndAlphaFromTheSourcePosition) {
  for (int angle : {0, 90, 359, -90, -359}) {
    SCOPED_TRACE(angle);
    PositionPicture p;
    SwirlTables t;
    SwirlRecord r = StillSwirl(p, t);
    ASSERT_EQ(SwirlKernel(r, angle), 0);
    const int moved = CheckCarried(p);
    if (angle == 0)
      EXPECT_EQ(moved, 0);
    else
      EXPECT_GT(moved, kW * kH / 4);
    // The corners lie outside the inscribed ellipse: they stay.
    EXPECT_EQ(p.pixels[0], PositionPixel(0, 0));
    EXPECT_EQ(p.pixels[kW * kH - 1], PositionPixel(kW - 1, kH - 1));
  }
}

// A transition starts on the second picture (level 0) and ends on the source (level 255, the
// swirl folded back to 0 degrees); the level scales the transition alpha, or its inverse.
TEST(Swirl, TransitionLevels) {
  std::mt19937 rng(5);
  std::vector<uint32_t> src(kW * kH), second(kW * kH);
  for (auto& v : src) v = rng() & 0xFFFFFF;
  for (auto& v : second) v = rng() & 0xFFFFFF;
  SwirlTables t;
  auto run = [&](int angle, std::vector<uint32_t>* dst) {
    SwirlRecord r{};
    r.src = src.data(), r.second = second.data(), r.dst = dst->data();
    r.srcPixelsPerRow = r.secondPixelsPerRow = r.dstPixelsPerRow = kW;
    r.sine = t.sine.data(), r.cosine = t.cosine.data();
    r.width = kW, r.height = kH;
    InitSwirlTables(r);
    ASSERT_EQ(SwirlKernel(r, angle), 0);
  };
  std::vector<uint32_t> dst(kW * kH);
  run(0, &dst);
  EXPECT_EQ(dst, second);
  run(720, &dst);
  for (int i = 0; i < kW * kH; ++i)
    for (int shift = 0; shift < 24; shift += 8) {
      const int d = int((dst[i] >> shift) & 0xFF), s = int((src[i] >> shift) & 0xFF);
      ASSERT_LE(std::abs(d - s), 1) << i;
    }
  // Level 127 at 360 degrees: halfway, channel by channel, o + (((s - o) x 127) >> 8), on the
  // pixels the swirl leaves in place (the corners).
  run(360, &dst);
  auto half = [](uint32_t o, uint32_t s) {
    uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
      const int ob = int((o >> shift) & 0xFF), sb = int((s >> shift) & 0xFF);
      out |= uint32_t((ob + (((sb - ob) * 127) >> 8)) & 0xFF) << shift;
    }
    return out;
  };
  EXPECT_EQ(dst[0], half(second[0], src[0]));
  EXPECT_EQ(dst[kW - 1], half(second[kW - 1], src[kW - 1]));

  const struct {
    int angle;
    bool invert;
    uint8_t a;
    uint8_t alpha;  // expected
  } rows[] = {
      {0, false, 200, 0},     {0, true, 200, 200},   {720, false, 200, 200}, {720, true, 200, 0},
      {360, false, 255, 127}, {360, true, 255, 128}, {360, false, 0, 0},     {360, true, 0, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.angle << " " << row.invert << " " << int(row.a));
    std::vector<uint8_t> transition(kW * kH, row.a), alpha(kW * kH, 77);
    std::vector<uint32_t> out(kW * kH, 0xABCDEF);
    SwirlRecord r{};
    r.src = src.data(), r.dst = out.data();
    r.srcPixelsPerRow = r.dstPixelsPerRow = kW;
    r.sine = t.sine.data(), r.cosine = t.cosine.data();
    r.width = kW, r.height = kH;
    r.invertLevel = row.invert;
    r.transitionAlpha = transition.data(), r.transitionAlphaBytesPerRow = kW;
    r.dstAlpha = alpha.data(), r.dstAlphaBytesPerRow = kW;
    InitSwirlTables(r);
    ASSERT_EQ(SwirlKernel(r, row.angle), 0);
    EXPECT_EQ(alpha[0], row.alpha);
    // Where the transition alpha is 0 the pixel is left; elsewhere it is the source's.
    EXPECT_EQ(out[0], row.a ? src[0] : 0xABCDEFu);
  }
}

TEST(SwirlBitMap, AngleClampedTo359) {
  BitMapPtr a(testimage::Pattern(40, 24, 3)), b(testimage::Pattern(40, 24, 3));
  ASSERT_EQ(SwirlBitMap(a.get(), nullptr, nullptr, 40, 24, 720), 0);
  ASSERT_EQ(SwirlBitMap(b.get(), nullptr, nullptr, 40, 24, 359), 0);
  EXPECT_TRUE(testimage::SamePixels(a.get(), b.get()));
  ASSERT_EQ(SwirlBitMap(a.get(), nullptr, nullptr, 40, 24, INT32_MIN), 0);
  ASSERT_EQ(SwirlBitMap(b.get(), nullptr, nullptr, 40, 24, -359), 0);
  EXPECT_TRUE(testimage::SamePixels(a.get(), b.get()));
}

// ---------------------------------------------------------------------------------------------
// Ripple

struct RippleTables {
  std::vector<int32_t> distance = std::vector<int32_t>(kW * kH);
  std::vector<double> sine = std::vector<double>(kEffectTableSize);
};

RippleRecord StillRipple(PositionPicture& p, RippleTables& t, double cx, double cy) {
  RippleRecord r{};
  r.dst = p.pixels.data();
  r.dstPixelsPerRow = kW;
  r.distance = t.distance.data(), r.sine = t.sine.data();
  r.wavelength = 8;
  r.amplitude = 2;
  r.width = kW, r.height = kH;
  r.dstMask = p.mask.data(), r.dstMaskBytesPerRow = MaskBytesPerRow(kW);
  r.dstAlpha = p.alpha.data(), r.dstAlphaBytesPerRow = kW;
  InitRippleTables(r, cx, cy);
  return r;
}

TEST(Ripple, TablesAndCentre) {
  PositionPicture p;
  RippleTables t;
  RippleRecord r = StillRipple(p, t, 0.25, 0.5);
  EXPECT_EQ(r.centreX, 12);
  EXPECT_EQ(r.centreY, 15);
  EXPECT_EQ(r.radius, 15);
  EXPECT_EQ(t.distance[15 * kW + 12], 0);
  EXPECT_EQ(t.distance[15 * kW + 15], 3);
  EXPECT_EQ(t.distance[19 * kW + 15], 5);  // 3, 4, 5
  EXPECT_DOUBLE_EQ(t.sine[1571], std::sin(1.571));
  // Fractions outside 0 .. 1 (and NaN) are held.
  r = StillRipple(p, t, 7.0, std::nan(""));
  EXPECT_EQ(r.centreX, kW);
  EXPECT_EQ(r.centreY, 0);
}

// Phases far from 0 .. 2 pi (one subtraction once left the angle beyond the sine table), the
// infinities and NaN: every pixel still comes from the picture with its mask and alpha.
TEST(Ripple, StillCarriesMaskAndAlphaAtAnyPhase) {
  const double inf = std::numeric_limits<double>::infinity();
  for (double phase : {0.0, 1.0, -100.0, 1e6, -1e300, inf, -inf, std::nan("")}) {
    for (double amplitude : {2.0, 1e9, -inf, std::nan("")}) {
      SCOPED_TRACE(testing::Message() << phase << " " << amplitude);
      PositionPicture p;
      RippleTables t;
      RippleRecord r = StillRipple(p, t, 0.5, 0.5);
      r.phase = phase;
      r.amplitude = amplitude;
      ASSERT_EQ(RippleKernel(r, -1), 0);
      CheckCarried(p);
    }
  }
}

TEST(Ripple, RadiusZeroChangesNothing) {
  PositionPicture p;
  RippleTables t;
  RippleRecord r = StillRipple(p, t, 0, 0);
  EXPECT_EQ(r.radius, 0);
  r.amplitude = 50;
  ASSERT_EQ(RippleKernel(r, -1), 0);
  EXPECT_EQ(CheckCarried(p), 0);
}

// Step s of 2n: amplitude min(s, 2n - s) x the amplitude per step, the phase s, the blend level
// s x 255 / 2n toward the source.
TEST(Ripple, TransitionSteps) {
  std::mt19937 rng(9);
  std::vector<uint32_t> src(kW * kH), second(kW * kH), dst(kW * kH);
  for (auto& v : src) v = rng() & 0xFFFFFF;
  for (auto& v : second) v = rng() & 0xFFFFFF;
  RippleTables t;
  auto run = [&](int step) {
    RippleRecord r{};
    r.src = src.data(), r.second = second.data(), r.dst = dst.data();
    r.srcPixelsPerRow = r.secondPixelsPerRow = r.dstPixelsPerRow = kW;
    r.distance = t.distance.data(), r.sine = t.sine.data();
    r.wavelength = 8;
    r.amplitudePerStep = 0.5;
    r.steps = 10;
    r.width = kW, r.height = kH;
    InitRippleTables(r, 0.5, 0.5);
    EXPECT_EQ(RippleKernel(r, step), 0);
    return r.amplitude;
  };
  EXPECT_EQ(run(0), 0.0);
  EXPECT_EQ(dst, second);  // no ripple, level 0
  EXPECT_EQ(run(4), 2.0);
  EXPECT_EQ(run(16), 2.0);
  EXPECT_EQ(run(20), 0.0);
  for (int i = 0; i < kW * kH; ++i)
    for (int shift = 0; shift < 24; shift += 8)
      ASSERT_LE(std::abs(int((dst[i] >> shift) & 0xFF) - int((src[i] >> shift) & 0xFF)), 1);
}

TEST(Ripple, TransitionAlphaFollowsTheLevel) {
  std::vector<uint32_t> src(kW * kH, 0x123456), dst(kW * kH, 0);
  std::vector<uint8_t> transition(kW * kH, 255), alpha(kW * kH, 9);
  RippleTables t;
  for (bool invert : {false, true}) {
    RippleRecord r{};
    r.src = src.data(), r.dst = dst.data();
    r.srcPixelsPerRow = r.dstPixelsPerRow = kW;
    r.distance = t.distance.data(), r.sine = t.sine.data();
    r.wavelength = 8;
    r.steps = 10;  // step 5 of 20: level 5 x 255 / 20 = 63
    r.width = kW, r.height = kH;
    r.invertLevel = invert;
    r.transitionAlpha = transition.data(), r.transitionAlphaBytesPerRow = kW;
    r.dstAlpha = alpha.data(), r.dstAlphaBytesPerRow = kW;
    InitRippleTables(r, 0.5, 0.5);
    ASSERT_EQ(RippleKernel(r, 5), 0);
    EXPECT_EQ(alpha[100], invert ? 192 : 63);
    EXPECT_EQ(dst[100], 0x123456u);
  }
}

// ---------------------------------------------------------------------------------------------
// The vector paths of swirl and ripple against the scalar reference: random sizes, angles,
// centres and steps in every mode (still from a copy or a given source, in place, blended with a
// second picture, scaling a transition alpha), with padded rows; every output byte must agree.

struct EffectScene {
  int w, h, ppr, bpr, mbpr;
  std::vector<uint32_t> src, second, dst;
  std::vector<uint8_t> srcMask, dstMask, srcAlpha, dstAlpha, transition;
  EffectScene(int width, int height, std::mt19937& rng)
      : w(width),
        h(height),
        ppr(width + int(rng() % 3)),
        bpr(width + int(rng() % 5)),
        mbpr(MaskBytesPerRow(width) + int(rng() % 2)) {
    auto fill = [&](auto& v, size_t n, bool positions) {
      v.resize(n);
      for (size_t i = 0; i < n; ++i) {
        const auto r = uint32_t(rng());
        // A pixel that names its place shows any position that differs.
        v[i] = positions ? decltype(v[0] + 0)(uint32_t(i) ^ (r & 0xFF000000u))
                         : decltype(v[0] + 0)(r);
      }
    };
    fill(src, size_t(ppr) * h, true);
    fill(second, size_t(ppr) * h, false);
    fill(dst, size_t(ppr) * h, true);
    fill(srcMask, size_t(mbpr) * h, false);
    fill(dstMask, size_t(mbpr) * h, false);
    fill(srcAlpha, size_t(bpr) * h, false);
    fill(dstAlpha, size_t(bpr) * h, false);
    fill(transition, size_t(bpr) * h, false);
    for (size_t i = 0; i < transition.size(); i += 3) transition[i] = 0;
  }
};

enum class EffectMode { kStillCopy, kStillSource, kInPlace, kSecond, kTransitionAlpha };
constexpr EffectMode kEffectModes[] = {EffectMode::kStillCopy, EffectMode::kStillSource,
                                       EffectMode::kInPlace, EffectMode::kSecond,
                                       EffectMode::kTransitionAlpha};

// Fills the planes of a swirl or ripple record for the mode.
template <typename Record>
void PointAt(Record& r, EffectScene& s, EffectMode mode, bool invert) {
  r.dst = s.dst.data();
  r.srcPixelsPerRow = r.secondPixelsPerRow = r.dstPixelsPerRow = s.ppr;
  r.width = s.w, r.height = s.h;
  r.dstAlpha = s.dstAlpha.data(), r.dstAlphaBytesPerRow = s.bpr;
  r.dstMask = s.dstMask.data(), r.dstMaskBytesPerRow = s.mbpr;
  r.invertLevel = invert;
  if (mode == EffectMode::kStillSource || mode == EffectMode::kSecond ||
      mode == EffectMode::kTransitionAlpha) {
    r.src = s.src.data();
    r.srcMask = s.srcMask.data(), r.srcMaskBytesPerRow = s.mbpr;
    r.srcAlpha = s.srcAlpha.data(), r.srcAlphaBytesPerRow = s.bpr;
  }
  if (mode == EffectMode::kInPlace) r.src = s.dst.data();
  if (mode == EffectMode::kSecond) r.second = s.second.data();
  if (mode == EffectMode::kTransitionAlpha)
    r.transitionAlpha = s.transition.data(), r.transitionAlphaBytesPerRow = s.bpr;
}

void ExpectSameOutput(const EffectScene& a, const EffectScene& b) {
  ASSERT_EQ(a.dst, b.dst);
  ASSERT_EQ(a.dstMask, b.dstMask);
  ASSERT_EQ(a.dstAlpha, b.dstAlpha);
}

// Runs `effect` on two copies of one scene, on the scalar path and on `path`.
template <typename F>
void CompareWithScalar(SimdLevel path, int w, int h, uint32_t seed, F effect) {
  std::mt19937 rng(seed), rng2(seed);
  EffectScene reference(w, h, rng), vector(w, h, rng2);
  const SimdLevel saved = SetSimdLevel(SimdLevel::kScalar);
  effect(reference);
  SetSimdLevel(path);
  effect(vector);
  SetSimdLevel(saved);
  ExpectSameOutput(reference, vector);
}

std::vector<std::pair<int, int>> EffectSizes(std::mt19937& rng) {
  // Single pixels, a row and a column, odd and even halves, tails of every length, and the
  // stretch along either axis.
  std::vector<std::pair<int, int>> sizes = {{1, 1}, {1, 9},  {9, 1},  {4, 4},    {5, 4},
                                            {7, 6}, {64, 3}, {3, 64}, {201, 37}, {37, 201}};
  for (int i = 0; i < 30; ++i) sizes.push_back({1 + int(rng() % 90), 1 + int(rng() % 90)});
  return sizes;
}

TEST(Swirl, VectorPathsMatchTheScalar) {
  std::mt19937 rng(38);
  SwirlTables t;
  for (SimdLevel path : {SimdLevel::kSse2, SimdLevel::kAvx2})
    for (const auto& [w, h] : EffectSizes(rng))
      for (EffectMode mode : kEffectModes) {
        for (int angle : {0, 1, -1, 359, 360, 720, int(rng() % 1200) - 400}) {
          const bool invert = rng() & 1;
          SCOPED_TRACE(testing::Message() << "path " << int(path) << " " << w << "x" << h
                                          << " mode " << int(mode) << " angle " << angle);
          CompareWithScalar(path, w, h, uint32_t(rng()), [&](EffectScene& s) {
            SwirlRecord r{};
            PointAt(r, s, mode, invert);
            r.sine = t.sine.data(), r.cosine = t.cosine.data();
            InitSwirlTables(r);
            ASSERT_EQ(SwirlKernel(r, angle), 0);
          });
          if (HasFatalFailure()) return;
        }
      }
}

TEST(Ripple, VectorPathsMatchTheScalar) {
  std::mt19937 rng(39);
  for (SimdLevel path : {SimdLevel::kSse2, SimdLevel::kAvx2})
    for (const auto& [w, h] : EffectSizes(rng))
      for (EffectMode mode : kEffectModes)
        for (int round = 0; round < 3; ++round) {
          const double centreX = (rng() % 11) / 10.0, centreY = (rng() % 11) / 10.0;
          const double wavelength = 1 + rng() % 40, amplitude = double(rng() % 60) - 20;
          const int steps = 1 + int(rng() % 30), step = int(rng() % (2 * steps + 1));
          const bool still = mode == EffectMode::kStillCopy || mode == EffectMode::kStillSource ||
                             mode == EffectMode::kInPlace;
          const bool invert = rng() & 1;
          SCOPED_TRACE(testing::Message() << "path " << int(path) << " " << w << "x" << h
                                          << " mode " << int(mode) << " round " << round);
          const size_t pixels = size_t(w) * h;  // older compilers capture no structured binding
          CompareWithScalar(path, w, h, uint32_t(rng()), [&](EffectScene& s) {
            std::vector<int32_t> distance(pixels);
            std::vector<double> sine(kEffectTableSize);
            RippleRecord r{};
            PointAt(r, s, mode, invert);
            r.distance = distance.data(), r.sine = sine.data();
            r.wavelength = wavelength;
            r.amplitude = amplitude, r.amplitudePerStep = amplitude / steps;
            r.phase = wavelength / 3;
            r.steps = steps;
            InitRippleTables(r, centreX, centreY);
            ASSERT_EQ(RippleKernel(r, still ? -1 : step), 0);
          });
          if (HasFatalFailure()) return;
        }
}

// ---------------------------------------------------------------------------------------------
// Pixelate

TEST(Pixelate, BlocksTakeTheirTopLeftPixel) {
  // A block as wide as the picture fills each band of b rows with its first pixel; the last band
  // is cut to what remains.
  PositionPicture source, p;
  PixelateRecord r{};
  r.src = source.pixels.data(), r.dst = p.pixels.data();
  r.srcPixelsPerRow = r.dstPixelsPerRow = kW;
  r.width = kW, r.height = kH, r.blockSize = kW;
  PixelateKernel(r);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) ASSERT_EQ(p.pixels[y * kW + x], PositionPixel(0, 0)) << y;
  r.blockSize = 7;
  PixelateKernel(r);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      ASSERT_EQ(p.pixels[y * kW + x], PositionPixel(x / 7 * 7, y / 7 * 7)) << x << "," << y;
}

TEST(Pixelate, MaskAndAlphaDecideEachBlock) {
  PositionPicture source, masked, alphaed;
  const int b = 4;
  PixelateRecord r{};
  r.src = source.pixels.data(), r.dst = masked.pixels.data();
  r.srcPixelsPerRow = r.dstPixelsPerRow = kW;
  r.srcMask = source.mask.data(), r.dstMask = masked.mask.data();
  r.srcMaskBytesPerRow = r.dstMaskBytesPerRow = MaskBytesPerRow(kW);
  r.width = kW, r.height = kH, r.blockSize = b;
  PixelateKernel(r);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const int bx = x / b * b, by = y / b * b;
      const bool on = PositionBit(bx, by);
      ASSERT_EQ(masked.Bit(x, y), on) << x << "," << y;
      // A clear corner bit leaves the block's pixels as they were.
      ASSERT_EQ(masked.pixels[y * kW + x], on ? PositionPixel(bx, by) : PositionPixel(x, y));
    }
  r.dst = alphaed.pixels.data();
  r.srcMask = r.dstMask = nullptr;
  r.srcAlpha = source.alpha.data(), r.dstAlpha = alphaed.alpha.data();
  r.srcAlphaBytesPerRow = r.dstAlphaBytesPerRow = kW;
  // Make one corner transparent.
  source.alpha[4 * kW + 8] = 0;
  PixelateKernel(r);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const int bx = x / b * b, by = y / b * b;
      const uint8_t a = source.alpha[by * kW + bx];
      ASSERT_EQ(alphaed.alpha[y * kW + x], a);
      ASSERT_EQ(alphaed.pixels[y * kW + x], a ? PositionPixel(bx, by) : PositionPixel(x, y));
    }
}

TEST(PixelateBitMap, SizeBelowTwoLeavesThePicture) {
  BitMapPtr a(testimage::Pattern(20, 10, 1)), b(testimage::Pattern(20, 10, 1));
  for (int size : {1, 0, -5}) {
    ASSERT_EQ(PixelateBitMap(a.get(), nullptr, nullptr, 20, 10, size), 0);
    EXPECT_TRUE(testimage::SamePixels(a.get(), b.get()));
  }
  // A size beyond the picture is the smaller side: one block per band of 10 rows.
  ASSERT_EQ(PixelateBitMap(a.get(), nullptr, nullptr, 20, 10, 1000), 0);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x) ASSERT_EQ(Px(a.get(), x, y), Px(b.get(), x / 10 * 10, 0));
}

// Each allocation of each wrapper failing in turn: ERR_MEM with the picture as it was, until the
// call has all it needs.
TEST(EffectWrappers, AllocationFailureLeavesThePicture) {
  const auto calls = {
      +[](qvBitMap* b, qvPlane* m) { return SwirlBitMap(b, m, nullptr, 30, 20, 100); },
      +[](qvBitMap* b, qvPlane* m) { return PixelateBitMap(b, m, nullptr, 30, 20, 3); },
      +[](qvBitMap* b, qvPlane* m) {
        return WaterRippleBitMap(b, m, nullptr, 30, 20, 8, 3, 0, 0.5, 0.5);
      },
  };
  int which = 0;
  for (auto call : calls) {
    int failures = 0;
    for (int64_t n = 1;; ++n) {
      SCOPED_TRACE(testing::Message() << "wrapper " << which << " allocation " << n);
      BitMapPtr a(testimage::Pattern(30, 20, 4)), b(testimage::Pattern(30, 20, 4));
      PlanePtr mask(AllocMask(30, 20, true));
      SetImageAllocFault(n);
      const int code = call(a.get(), mask.get());
      SetImageAllocFault(0);
      if (code == 0) break;
      ASSERT_EQ(code, ERR_MEM);
      EXPECT_TRUE(testimage::SamePixels(a.get(), b.get()));
      ++failures;
    }
    EXPECT_GE(failures, 2);
    ++which;
  }
}

// A picture whose tables or copies would pass 2^31 bytes is ERR_MEM before anything is
// allocated for them (the sizes are reckoned in 64 bits). Wrapped rows do not know their size, so
// the wrappers take the caller's 50000 x 50000.
TEST(EffectWrappers, HugeTablesAreErrMemBeforeAllocating) {
  std::vector<uint8_t> rows(64);
  qvPlane alpha = MakeTempPlane(rows.data(), 50000);
  SetImageAllocFault(0);
  EXPECT_EQ(WaterRippleBitMap(nullptr, nullptr, &alpha, 50000, 50000, 8, 2, 0, 0.5, 0.5), ERR_MEM);
  EXPECT_EQ(ImageAllocCount(), 0);
  SetImageAllocFault(0);
  EXPECT_EQ(SwirlBitMap(nullptr, nullptr, &alpha, 50000, 50000, 90), ERR_MEM);
  EXPECT_EQ(ImageAllocCount(), 2);  // the sine and cosine tables only
}

// ---------------------------------------------------------------------------------------------
// Dissolve

std::vector<uint8_t> Noise(int w, int h, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> n(size_t(w) * h);
  for (auto& v : n) v = uint8_t(rng() % 255);
  return n;
}

TEST(Dissolve, LevelZeroHidesAllOrShowsAllInverted) {
  const int w = 37, h = 5;
  const auto noise = Noise(w, h, 2);
  for (bool bytes : {false, true})
    for (bool invert : {false, true})
      for (int level : {0, 256}) {
        SCOPED_TRACE(testing::Message() << bytes << invert << level);
        const int bpr = bytes ? w : MaskBytesPerRow(w);
        std::vector<uint8_t> dst(size_t(bpr) * h, 0x5A);
        DissolveMaskKernel({nullptr, dst.data(), w, h, 0, bpr, noise.data(), bytes, invert}, level);
        const bool shown = (level == 256) != invert;
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x) {
            const uint8_t* row = dst.data() + y * bpr;
            if (bytes)
              ASSERT_EQ(row[x], shown ? 255 : 0) << x;
            else
              ASSERT_EQ((row[x >> 3] >> (7 - (x & 7))) & 1, shown) << x;
          }
      }
}

// Every width from 1 to 100 (whole 32- and 16-pixel groups, whole bytes and single bits) on
// every kernel path, with and without a source plane, against the rule pixel by pixel; bits
// past the width stay.
TEST(Dissolve, EveryPixelByTheRule) {
  std::mt19937 rng(17);
  const SimdLevel saved = CurrentSimdLevel();
  for (SimdLevel path : {SimdLevel::kScalar, SimdLevel::kSse2, SimdLevel::kAvx2})
    for (int w = 1; w <= 100; ++w)
      for (bool bytes : {false, true})
        for (bool withSource : {false, true})
          for (bool invert : {false, true}) {
            SetSimdLevel(path);
            const int h = 3;
            const int level = int(rng() % 257);
            const auto noise = Noise(w, h, uint32_t(w));
            const int bpr = bytes ? w + 3 : MaskBytesPerRow(w);
            std::vector<uint8_t> src(size_t(bpr) * h), dst(size_t(bpr) * h, 0xFF);
            for (auto& v : src) v = uint8_t(rng());
            DissolveMaskKernel({withSource ? src.data() : nullptr, dst.data(), w, h, bpr, bpr,
                                noise.data(), bytes, invert},
                               level);
            SCOPED_TRACE(testing::Message()
                         << "w " << w << " bytes " << bytes << " source " << withSource
                         << " invert " << invert << " level " << level);
            for (int y = 0; y < h; ++y) {
              const uint8_t* s = src.data() + y * bpr;
              const uint8_t* d = dst.data() + y * bpr;
              for (int x = 0; x < w; ++x) {
                const bool shown = (noise[size_t(y) * w + x] < level) != invert;
                if (bytes) {
                  ASSERT_EQ(d[x], shown ? (withSource ? s[x] : 255) : 0) << x << "," << y;
                } else {
                  const bool sbit = (s[x >> 3] >> (7 - (x & 7))) & 1;
                  ASSERT_EQ((d[x >> 3] >> (7 - (x & 7))) & 1, shown && (!withSource || sbit))
                      << x << "," << y;
                }
              }
              if (!bytes) {
                for (int x = w; x < bpr * 8; ++x) ASSERT_EQ((d[x >> 3] >> (7 - (x & 7))) & 1, 1);
              }
            }
          }
  SetSimdLevel(saved);
}

// ---------------------------------------------------------------------------------------------
// Rolling

struct RollFixture {
  static constexpr int w = 6, h = 8;
  std::vector<uint32_t> src = std::vector<uint32_t>(w * h), dst = std::vector<uint32_t>(w * h);
  std::vector<double> table;
  RollRecord Record(bool columns, int position, double divisor, int offset) {
    for (int i = 0; i < w * h; ++i) src[i] = uint32_t(0x100 + i);
    std::fill(dst.begin(), dst.end(), 0u);
    RollRecord r{};
    r.src = src.data(), r.dst = dst.data();
    r.srcPixelsPerRow = r.dstPixelsPerRow = w;
    r.width = w, r.height = h;
    r.diameter = int32_t(table.size());
    r.columns = columns;
    r.position = position;
    r.table = table.data();
    r.divisor = divisor;
    r.offset = offset;
    r.bytesPerPixel = 4;
    return r;
  }
};

TEST(Roll, LinesThroughTheTable) {
  const double nan = std::nan("");
  const struct {
    bool columns;
    int position;
    std::vector<double> table;
    double divisor;
    int offset;
    std::vector<int> sources;  // per destination line, -1 not drawn
    int first, count;
  } rows[] = {
      // Rows 2 .. 4 from trunc(t / 2) + 1: 3.9 -> 2, 0 -> 1, 9 -> 5.
      {false, 2, {3.9, 0.0, 9.0}, 2.0, 1, {-1, -1, 2, 1, 5, -1, -1, -1}, 2, 3},
      // A band starting above the picture: its first two lines are skipped.
      {false, -2, {1.0, 1.0, 7.0, 3.0}, 1.0, 0, {7, 3, -1, -1, -1, -1, -1, -1}, 0, 2},
      // Source lines outside the picture, NaN and huge: skipped; none drawn.
      {false, 0, {-1.5, 8.0, nan, 1e300}, 1.0, 0, {-1, -1, -1, -1, -1, -1, -1, -1}, -100000, 0},
      // Columns 4 .. 5 (the band's third line lies past the right edge).
      {true, 4, {0.0, 5.0, 1.0}, 1.0, 0, {-1, -1, -1, -1, 0, 5}, 4, 2},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.columns << " " << row.position);
    RollFixture f;
    f.table = row.table;
    RollRecord r = f.Record(row.columns, row.position, row.divisor, row.offset);
    RollRowsKernel(r);
    EXPECT_EQ(r.firstLine, row.first);
    EXPECT_EQ(r.lineCount, row.count);
    EXPECT_EQ(r.drawn, row.count > 0);
    for (int line = 0; line < int(row.sources.size()); ++line) {
      const int s = row.sources[size_t(line)];
      const int span = row.columns ? RollFixture::h : RollFixture::w;
      for (int k = 0; k < span; ++k) {
        const int di = row.columns ? k * RollFixture::w + line : line * RollFixture::w + k;
        const int si = row.columns ? k * RollFixture::w + s : s * RollFixture::w + k;
        ASSERT_EQ(f.dst[size_t(di)], s < 0 ? 0u : f.src[size_t(si)]) << line << " " << k;
      }
    }
  }
}

TEST(Roll, OnlyFourBytePixels) {
  RollFixture f;
  f.table = {0, 1, 2};
  RollRecord r = f.Record(false, 0, 1, 0);
  r.bytesPerPixel = 2;
  RollRowsKernel(r);
  EXPECT_EQ(r.lineCount, 0);
  EXPECT_EQ(r.firstLine, -100000);
  EXPECT_EQ(f.dst, std::vector<uint32_t>(RollFixture::w * RollFixture::h, 0));
}

// A line through the source mask copies its bits and only the set pixels; through the alpha,
// pixels where it is not 0 and the alpha itself.
TEST(Roll, LineThroughMaskOrAlpha) {
  RollFixture f;
  f.table = {};
  RollRecord r = f.Record(false, 0, 1, 0);
  std::vector<uint8_t> srcMask(size_t(MaskBytesPerRow(RollFixture::w)) * RollFixture::h, 0);
  std::vector<uint8_t> dstMask(srcMask.size(), 0xFF);
  srcMask[size_t(MaskBytesPerRow(RollFixture::w)) * 3] = 0xA0;  // row 3: columns 0 and 2
  r.srcMask = srcMask.data(), r.dstMask = dstMask.data();
  r.srcMaskBytesPerRow = r.dstMaskBytesPerRow = MaskBytesPerRow(RollFixture::w);
  RollLineKernel(r, 0, 3, RollFixture::w, 1, 0, 5);
  EXPECT_EQ(dstMask[size_t(MaskBytesPerRow(RollFixture::w)) * 5] & 0xFC, 0xA0);
  EXPECT_EQ(f.dst[5 * RollFixture::w + 0], f.src[3 * RollFixture::w + 0]);
  EXPECT_EQ(f.dst[5 * RollFixture::w + 1], 0u);
  EXPECT_EQ(f.dst[5 * RollFixture::w + 2], f.src[3 * RollFixture::w + 2]);

  r.srcMask = r.dstMask = nullptr;
  std::vector<uint8_t> srcAlpha(RollFixture::w * RollFixture::h, 0), dstAlpha(srcAlpha.size(), 9);
  srcAlpha[2 * RollFixture::w + 1] = 130;
  r.srcAlpha = srcAlpha.data(), r.dstAlpha = dstAlpha.data();
  r.srcAlphaBytesPerRow = r.dstAlphaBytesPerRow = RollFixture::w;
  std::fill(f.dst.begin(), f.dst.end(), 0u);
  RollLineKernel(r, 0, 2, RollFixture::w, 1, 0, 0);
  EXPECT_EQ(f.dst[0], 0u);
  EXPECT_EQ(f.dst[1], f.src[2 * RollFixture::w + 1]);
  EXPECT_EQ(dstAlpha[0], 0);
  EXPECT_EQ(dstAlpha[1], 130);
}

}  // namespace
}  // namespace qv
