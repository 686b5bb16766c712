// The brush distortion: coefficients and their failures, the result's box, nearest rendering
// (truncation toward zero, the horizon, non-finite points), the EWA sampler and the plane choice.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
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

constexpr double kPi = 3.14159265358979323846;

TEST(Distort, RoundHalfAway) {
  const double rows[][2] = {{2.5, 3}, {-2.5, -3}, {0.5, 1}, {-0.5, -1}, {0.49, 0}, {-1.2, -1}};
  for (const auto& r : rows) EXPECT_EQ(RoundHalfAway(r[0]), r[1]) << r[0];
}

TEST(Distort, GaussJordanPivotsAndRefusesSingular) {
  // A zero on the diagonal needs a pivot from elsewhere.
  double a[9] = {0, 2, 1, 1, 0, 0, 0, 1, 3};
  double b[3] = {7, 1, 11};  // x = (1, 2, 3)
  ASSERT_TRUE(SolveGaussJordan(a, b, 3));
  EXPECT_NEAR(b[0], 1, 1e-12);
  EXPECT_NEAR(b[1], 2, 1e-12);
  EXPECT_NEAR(b[2], 3, 1e-12);
  double s[9] = {1, 2, 3, 2, 4, 6, 0, 1, 1};
  double t[3] = {1, 2, 3};
  EXPECT_FALSE(SolveGaussJordan(s, t, 3));
  double nan[4] = {1, 0, 0, std::nan("")};
  double u[2] = {1, 1};
  EXPECT_FALSE(SolveGaussJordan(nan, u, 2));
}

qvDistortJob Job(int32_t mode, std::vector<double> values, int32_t w, int32_t h) {
  qvDistortJob job{};
  job.mode = mode;
  job.valueCount = int32_t(values.size());
  for (size_t i = 0; i < values.size() && i < kDistortMaxValues; ++i) job.values[i] = values[i];
  job.source.width = w, job.source.height = h;
  return job;
}

std::vector<double> Perspective(int w, int h, std::vector<double> to) {
  const double from[8] = {0, 0, double(w), 0, double(w), double(h), 0, double(h)};
  std::vector<double> v;
  for (int g = 0; g < 4; ++g)
    v.insert(v.end(), {from[2 * g], from[2 * g + 1], to[2 * g], to[2 * g + 1]});
  return v;
}

// The values each mode refuses with ERR_WRONGUSAGE, and a few it takes.
TEST(Distort, PrepareAcceptsAndRefuses) {
  const double nan = std::nan("");
  const struct {
    int32_t mode;
    std::vector<double> values;
    int error;
  } rows[] = {
      {kDistortPerspective, Perspective(40, 30, {5, 5, 5, 5, 5, 5, 5, 5}), ERR_WRONGUSAGE},
      {kDistortPerspective, Perspective(40, 30, {0, 0, 40, 0, 40, 30, 0, 30}), 0},
      {kDistortPerspective, Perspective(40, 30, {0, 0, 40, 0, nan, 30, 0, 30}), ERR_WRONGUSAGE},
      {kDistortArc, {0}, ERR_WRONGUSAGE},
      {kDistortArc, {60, 0, 0}, ERR_WRONGUSAGE},
      {kDistortArc, {60}, 0},
      {kDistortArc, {}, 0},
      {kDistortArc, {nan}, ERR_WRONGUSAGE},
      {kDistortArc, {60, 0, 50, 20, 1}, ERR_WRONGUSAGE},
      // A box of about 1.6e9 x 1.5e9: its byte count passes even 64 bits.
      {kDistortArc, {64.47, -4, 1.542e9, 0}, ERR_MEM},
      {kDistortPolar, {10, 0, 5}, ERR_WRONGUSAGE},
      {kDistortPolar, {10, 0, 5, 5, 0, 90, 1}, ERR_WRONGUSAGE},
      {kDistortPolar, {10, 20}, ERR_WRONGUSAGE},  // outer radius inside the inner one
      {kDistortPolar, {10, -1}, ERR_WRONGUSAGE},
      {kDistortPolar, {}, 0},
      {kDistortPolar, {10}, 0},
      {kDistortBarrel, {0, 0, 0}, ERR_WRONGUSAGE},
      {kDistortBarrel, {0, 0, 0, 1, 2}, ERR_WRONGUSAGE},
      {kDistortBarrel, {0, 0, 0, 1, 0, 0, 0}, ERR_WRONGUSAGE},
      {kDistortBarrel, {0, 0, 0, 1, 0, 0, 0, 1, 5}, ERR_WRONGUSAGE},
      {kDistortBarrel, {0.1, 0, 0, 1}, 0},
      {kDistortBarrel, {0.1, 0, 0, 1, 3, 4}, 0},
      {kDistortBarrel, {0.1, 0, 0, 1, 0, 0, 0, 1}, 0},
      {kDistortBarrel, {0.1, 0, 0, 1, 0, 0, 0, 1, 3, 4}, 0},
      {7, {}, ERR_WRONGUSAGE},
  };
  int i = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(i++);
    qvDistortJob job = Job(row.mode, row.values, 40, 30);
    DistortPrepare(job);
    EXPECT_EQ(job.error, row.error);
    EXPECT_EQ(job.prepared, row.error == 0);
  }
}

// A screen-sized perspective: its normal equations hold terms from 1 to about 10^13, and only
// a rounding-noise pivot may count as zero.
TEST(Distort, PerspectiveOfALargePicture) {
  const double w = 1920, h = 1080;
  qvDistortJob job = Job(kDistortPerspective,
                         {0, 0, 100, 60, w, 0, w - 300, 0, w, h, w - 80, h - 40, 0, h, 0, h - 200},
                         1920, 1080);
  DistortPrepare(job);
  ASSERT_EQ(job.error, 0);
  // The map takes each destination corner back to its source corner.
  const double to[4][2] = {{100, 60}, {w - 300, 0}, {w - 80, h - 40}, {0, h - 200}};
  const double from[4][2] = {{0, 0}, {w, 0}, {w, h}, {0, h}};
  const double* c = job.coefficients;
  for (int g = 0; g < 4; ++g) {
    const double x = to[g][0], y = to[g][1], r = c[6] * x + c[7] * y + 1;
    EXPECT_NEAR((c[0] * x + c[1] * y + c[2]) / r, from[g][0], 1e-6);
    EXPECT_NEAR((c[3] * x + c[4] * y + c[5]) / r, from[g][1], 1e-6);
  }
  // The box of the four points, half a pixel wider on each side.
  EXPECT_EQ(job.outX, -1);
  EXPECT_EQ(job.outY, -1);
  EXPECT_EQ(job.outWidth, 1842);
  EXPECT_EQ(job.outHeight, 1042);
}

TEST(Distort, ArcCoefficientsAndBox) {
  // The arc angle alone: centred at the top, the top edge at radius w / angle + (h - 1) / 2.
  qvDistortJob job = Job(kDistortArc, {90}, 40, 11);
  DistortPrepare(job);
  ASSERT_EQ(job.error, 0);
  EXPECT_DOUBLE_EQ(job.coefficients[0], -kPi / 2);
  EXPECT_DOUBLE_EQ(job.coefficients[2], 40 / (kPi / 2) + 5);
  EXPECT_DOUBLE_EQ(job.coefficients[4], 19.5);
  // The box of a quarter arc about the top: x from -c2 sin 45 to +c2 sin 45, y from -c2 to
  // -(c2 - 10) cos 45.
  const double c2 = 40 / (kPi / 2) + 5;
  EXPECT_EQ(job.outX, int32_t(std::floor(-c2 * std::sin(kPi / 4) - 0.5)));
  EXPECT_EQ(job.outY, int32_t(std::floor(-c2 - 0.5)));
  // A rotation of 360 is the same arc.
  qvDistortJob turned = Job(kDistortArc, {90, 360}, 40, 11);
  DistortPrepare(turned);
  EXPECT_NEAR(turned.coefficients[0], -kPi / 2, 1e-12);
  // A huge arc angle ends (the box's quarter steps once never did) with a usable box.
  for (double angle : {1e300, 1e17, 7200.0}) {
    qvDistortJob huge = Job(kDistortArc, {angle}, 40, 11);
    DistortPrepare(huge);
    EXPECT_EQ(huge.error, 0) << angle;
  }
}

TEST(Distort, PolarRadiusDefaults) {
  // Outer radius 0: the nearest edge from the centre (20, 15); -1: the farthest corner.
  qvDistortJob nearest = Job(kDistortPolar, {0}, 40, 30);
  DistortPrepare(nearest);
  ASSERT_EQ(nearest.error, 0);
  EXPECT_DOUBLE_EQ(nearest.coefficients[0], 15);
  // Fewer than two values: the box is centred on (0, 0).
  EXPECT_EQ(nearest.outX, -16);
  EXPECT_EQ(nearest.outWidth, 32);
  qvDistortJob farthest = Job(kDistortPolar, {-1, 0, 20, 15}, 40, 30);
  DistortPrepare(farthest);
  ASSERT_EQ(farthest.error, 0);
  EXPECT_DOUBLE_EQ(farthest.coefficients[0], 25);
  EXPECT_EQ(farthest.outX, int32_t(std::floor(20 - 25 - 0.5)));
  EXPECT_DOUBLE_EQ(farthest.coefficients[5] - farthest.coefficients[4], 2 * kPi);
}

// A result plane over 2^31 bytes is refused before anything is allocated.
TEST(Distort, HugeResultIsErrMemBeforeAllocating) {
  BitMapPtr b(testimage::Pattern(4, 4, 1));
  qvBitMap* out = nullptr;
  qvPlane* mask = nullptr;
  qvPlane* alpha = nullptr;
  int32_t w = 0, h = 0;
  const auto v = Perspective(4, 4, {0, 0, 1e5, 0, 1e5, 1e5, 0, 1e5});
  SetImageAllocFault(0);
  EXPECT_EQ(DistortBitMap(b.get(), nullptr, nullptr, 4, 4, kDistortPerspective, 16, v.data(), false,
                          &out, &mask, &alpha, &w, &h),
            ERR_MEM);
  EXPECT_EQ(ImageAllocCount(), 0);
  EXPECT_EQ(out, nullptr);
}

struct Result {
  int code;
  BitMapPtr bitmap;
  PlanePtr mask, alpha;
  int32_t w = 0, h = 0;
};

Result Distort(qvBitMap* b, qvPlane* mask, qvPlane* alpha, int32_t mode, std::vector<double> v,
               bool smooth) {
  qvBitMap* out = nullptr;
  qvPlane* m = nullptr;
  qvPlane* a = nullptr;
  Result r;
  r.code = DistortBitMap(b, mask, alpha, b->width, b->height, mode, int32_t(v.size()), v.data(),
                         smooth, &out, &m, &a, &r.w, &r.h);
  r.bitmap.reset(out);
  r.mask.reset(m);
  r.alpha.reset(a);
  return r;
}

// Without smoothing a point at -0.7 still samples column 0: a shift by (0.7, 0.3) doubles the
// first column (source x -0.7 and 0.3) and the first row (source y -0.3 and 0.7); the last
// column (x 4.3) and the first row of the box (y -1.3) lie outside.
TEST(Distort, NearestTruncatesTowardZero) {
  BitMapPtr b(AllocBitMap(4, 2));
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) Px(b.get(), x, y) = uint32_t(0x10 * (x + 1) + y);
  Result r = Distort(b.get(), nullptr, nullptr, kDistortPerspective,
                     Perspective(4, 2, {0.7, 0.3, 4.7, 0.3, 4.7, 2.3, 0.7, 2.3}), false);
  ASSERT_EQ(r.code, 0);
  ASSERT_EQ(r.w, 6);
  ASSERT_EQ(r.h, 4);
  ASSERT_TRUE(r.mask);
  EXPECT_FALSE(r.alpha);
  const int sourceRow[4] = {-1, 0, 0, 1};
  const int sourceColumn[6] = {0, 0, 1, 2, 3, -1};
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) {
      const int sx = sourceColumn[x], sy = sourceRow[y];
      const bool inside = sx >= 0 && sy >= 0;
      EXPECT_EQ(Px(r.bitmap.get(), x, y), inside ? Px(b.get(), sx, sy) : 0u) << x << "," << y;
      EXPECT_EQ(MaskBit(r.mask.get(), x, y), inside) << x << "," << y;
    }
}

// Destination pixels beyond a perspective's horizon come out 0 with a clear mask bit.
TEST(Distort, BeyondTheHorizonIsEmpty) {
  BitMapPtr src(AllocBitMap(64, 8));
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 64; ++x) Px(src.get(), x, y) = 0x808080;
  std::vector<uint8_t> dst(32 * 8 * 4, 0xEE), mask(size_t(MaskBytesPerRow(32)) * 8, 0);
  qvDistortJob job{};
  job.mode = kDistortPerspective;
  job.source = {64, 8, 0, 0, src->pixels, src->bytesPerRow / 4};
  job.destination = {32, 8, 0, 0, dst.data(), 32};
  // u = X / r, v = -Y / r with r = 0.1 X + 1: the horizon is the column X = -10, and beyond it
  // the map comes back into the source (u = 19.5 at X = -20), where nothing may be taken.
  double c[9] = {1, 0, 0, 0, -1, 0, 0.1, 0, 1};
  for (int i = 0; i < 9; ++i) job.coefficients[i] = c[i];
  job.prepared = true;
  job.outWidth = 32, job.outHeight = 8;
  job.outX = -30, job.outY = 0;
  job.dstMask = mask.data(), job.dstMaskBytesPerRow = MaskBytesPerRow(32);
  job.format = kPixARGB32, job.bytesPerPixel = 4;
  DistortRender(job);
  for (int y = 0; y < 8; ++y)
    for (int i = 0; i < 32; ++i) {
      const double X = i - 30 + 0.5;
      uint32_t v;
      std::memcpy(&v, &dst[size_t(y * 32 + i) * 4], 4);
      const bool bit = (mask[size_t(y * MaskBytesPerRow(32) + i / 8)] >> (7 - (i & 7))) & 1;
      if (X < -10.5) {  // r below 0 (and outside the half-pixel fall-off)
        EXPECT_EQ(v, 0u) << i;
        EXPECT_FALSE(bit) << i;
      }
    }
}

// The default centre of a brush of even size lies on result pixel (w/2 - 1, h/2 - 1), which takes
// the source's colour there.
TEST(Distort, BarrelCentrePixelAndSize) {
  BitMapPtr b(testimage::Pattern(20, 14, 8));
  for (bool smooth : {false, true}) {
    Result r = Distort(b.get(), nullptr, nullptr, kDistortBarrel, {0.2, 0.1, -0.3, 0.7}, smooth);
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.w, 20);
    EXPECT_EQ(r.h, 14);
    if (!smooth) {
      EXPECT_EQ(Px(r.bitmap.get(), 9, 6), Px(b.get(), 9, 6));
    } else {
      // The smooth path rebuilds the pixel from its channels: the top byte is dropped.
      EXPECT_EQ(Px(r.bitmap.get(), 9, 6), Px(b.get(), 9, 6) & 0xFFFFFF);
      EXPECT_EQ(AlphaAt(r.alpha.get(), 9, 6), 255);
    }
  }
}

TEST(Distort, NonFinitePointsAreOutside) {
  BitMapPtr b(testimage::Pattern(10, 10, 2));
  for (double bad : {std::nan(""), std::numeric_limits<double>::infinity()}) {
    for (bool smooth : {false, true}) {
      Result r = Distort(b.get(), nullptr, nullptr, kDistortBarrel, {bad, 0, 0, 1}, smooth);
      ASSERT_EQ(r.code, 0);
      for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) {
          // Only the centre itself (R = 0) escapes the polynomial.
          if (x == 4 && y == 4) continue;
          ASSERT_EQ(Px(r.bitmap.get(), x, y), 0u) << x << "," << y;
          if (smooth)
            ASSERT_EQ(AlphaAt(r.alpha.get(), x, y), 0);
          else
            ASSERT_FALSE(MaskBit(r.mask.get(), x, y));
        }
    }
  }
}

// The identity through the smooth path: bilinear at whole pixels gives every pixel back, opaque.
TEST(Distort, SmoothIdentityIsExact) {
  BitMapPtr b(testimage::Pattern(16, 9, 6));
  Result r = Distort(b.get(), nullptr, nullptr, kDistortBarrel, {0, 0, 0, 1}, true);
  ASSERT_EQ(r.code, 0);
  ASSERT_TRUE(r.alpha);
  EXPECT_FALSE(r.mask);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 16; ++x) {
      ASSERT_EQ(Px(r.bitmap.get(), x, y), Px(b.get(), x, y) & 0xFFFFFF) << x << "," << y;
      ASSERT_EQ(AlphaAt(r.alpha.get(), x, y), 255);
    }
}

// Halving a plain-coloured brush goes through the weighted average: inside, the colour itself
// and full alpha; at the edges, where part of the ellipse lies outside, partial alpha.
TEST(Distort, SmoothingGivesPartialAlphaAtTheEdges) {
  BitMapPtr b(AllocBitMap(32, 32));
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) Px(b.get(), x, y) = 0x336699;
  Result r = Distort(b.get(), nullptr, nullptr, kDistortPerspective,
                     Perspective(32, 32, {0, 0, 16, 0, 16, 16, 0, 16}), true);
  ASSERT_EQ(r.code, 0);
  ASSERT_TRUE(r.alpha);
  EXPECT_EQ(Px(r.bitmap.get(), 8, 8), 0x336699u);
  EXPECT_EQ(AlphaAt(r.alpha.get(), 8, 8), 255);
  int partial = 0;
  for (int y = 0; y < r.h; ++y)
    for (int x = 0; x < r.w; ++x) {
      const uint8_t a = AlphaAt(r.alpha.get(), x, y);
      partial += a > 0 && a < 255;
    }
  EXPECT_GT(partial, 8);
}

// The source's mask gives a mask, its alpha an alpha channel; a brush with neither gets a mask
// without smoothing and an alpha channel with it.
TEST(Distort, PlaneChoice) {
  BitMapPtr b(testimage::Pattern(12, 12, 3));
  PlanePtr mask(AllocMask(12, 12, true)), alpha(AllocAlphaChannel(12, 12, true));
  FillPlaneRect(mask.get(), 0, 0, 12, 12, 0);
  const struct {
    bool mask, alpha, smooth;
    bool outMask;
  } rows[] = {
      {true, false, false, true}, {true, false, true, true},   {false, true, false, false},
      {false, true, true, false}, {false, false, false, true}, {false, false, true, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.mask << row.alpha << row.smooth);
    Result r = Distort(b.get(), row.mask ? mask.get() : nullptr, row.alpha ? alpha.get() : nullptr,
                       kDistortBarrel, {0.1, 0, 0, 0.9}, row.smooth);
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(bool(r.mask), row.outMask);
    EXPECT_EQ(bool(r.alpha), !row.outMask);
  }
}

// Every allocation failing in turn: ERR_MEM, nothing stored.
TEST(Distort, AllocationFailure) {
  BitMapPtr b(testimage::Pattern(12, 12, 3));
  int failures = 0;
  for (int64_t n = 1;; ++n) {
    qvBitMap* out = nullptr;
    qvPlane* m = nullptr;
    qvPlane* a = nullptr;
    int32_t w = 0, h = 0;
    const double v[4] = {0.1, 0, 0, 0.9};
    SetImageAllocFault(n);
    const int code = DistortBitMap(b.get(), nullptr, nullptr, 12, 12, kDistortBarrel, 4, v, true,
                                   &out, &m, &a, &w, &h);
    SetImageAllocFault(0);
    if (code == 0) {
      FreeBitMap(out);
      FreeMaskOrAlpha(a);
      break;
    }
    EXPECT_EQ(code, ERR_MEM);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(a, nullptr);
    ++failures;
  }
  EXPECT_GE(failures, 3);  // the bitmap, the alpha channel, the sampler
}

}  // namespace
}  // namespace qv
