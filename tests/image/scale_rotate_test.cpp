// The scaler (hard and smooth, with mask and alpha) and the rotator.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "base/errors.h"
#include "image/image.h"
#include "image_fixture.h"
#include "platform/tasks.h"

using namespace qv;
using qv::testimage::AlphaAt;
using qv::testimage::BitMapPtr;
using qv::testimage::MaskBit;
using qv::testimage::PlanePtr;
using qv::testimage::Px;

namespace {

struct Scaled {
  BitMapPtr bitmap;
  PlanePtr mask, alpha;
};

Scaled Scale(qvBitMap* b, qvPlane* m, qvPlane* a, int left, int top, int w, int h, int nw, int nh,
             bool smooth) {
  qvBitMap* ob = nullptr;
  qvPlane *om = nullptr, *oa = nullptr;
  EXPECT_EQ(ScaleBitMap(b, m, a, left, top, nullptr, w, h, nw, nh, smooth, &ob, &om, &oa), 0);
  return Scaled{BitMapPtr(ob), PlanePtr(om), PlanePtr(oa)};
}

}  // namespace

TEST(Scale, HardTakesEveryOtherRowAndColumn) {
  BitMapPtr b(testimage::Pattern(4, 4, 1));
  PlanePtr m(AllocMask(4, 4, true)), a(AllocAlphaChannel(4, 4, true));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      AlphaAt(a.get(), x, y) = uint8_t(y * 4 + x);
      if ((x + y) % 3 == 0) WriteBitMapPixel(m.get(), x, y, 0);
    }
  Scaled s = Scale(b.get(), m.get(), a.get(), 0, 0, 4, 4, 2, 2, false);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) {
      EXPECT_EQ(Px(s.bitmap.get(), x, y), Px(b.get(), 2 * x, 2 * y));
      EXPECT_EQ(AlphaAt(s.alpha.get(), x, y), 2 * y * 4 + 2 * x);
      EXPECT_EQ(MaskBit(s.mask.get(), x, y), MaskBit(m.get(), 2 * x, 2 * y));
    }
}

TEST(Scale, HardMaskFromAMidByteRectangle) {
  BitMapPtr b(testimage::Pattern(24, 2, 2));
  PlanePtr m(AllocMask(24, 2, true));
  for (int x = 0; x < 24; ++x)
    if (x % 5 == 1) WriteBitMapPixel(m.get(), x, 1, 0);
  Scaled s = Scale(b.get(), m.get(), nullptr, 11, 1, 12, 1, 24, 2, false);
  for (int x = 0; x < 24; ++x) {
    EXPECT_EQ(MaskBit(s.mask.get(), x, 0), (11 + x / 2) % 5 == 1) << x;
    EXPECT_EQ(Px(s.bitmap.get(), x, 1), Px(b.get(), 11 + x / 2, 1)) << x;
  }
}

TEST(Scale, SmoothInterpolatesInTheFixedOrder) {
  BitMapPtr b(AllocBitMap(2, 1));
  Px(b.get(), 0, 0) = 0xFF000000;
  Px(b.get(), 1, 0) = 0xFFFFFFFF;
  PlanePtr a(AllocAlphaChannel(2, 1, true)), m(AllocMask(2, 1, true));
  AlphaAt(a.get(), 1, 0) = 255;
  WriteBitMapPixel(m.get(), 1, 0, 0);
  Scaled s = Scale(b.get(), m.get(), a.get(), 0, 0, 2, 1, 3, 1, true);
  const uint32_t want[3] = {0, 84, 169};
  for (int x = 0; x < 3; ++x) {
    EXPECT_EQ(Px(s.bitmap.get(), x, 0), want[x] * 0x010101u) << x;  // top byte 0
    EXPECT_EQ(AlphaAt(s.alpha.get(), x, 0), want[x]) << x;
    EXPECT_FALSE(MaskBit(s.mask.get(), x, 0)) << x;  // every step lands on source column 0
  }
  ScaleTables t = CurrentScaleTables();
  EXPECT_EQ(t.columnFraction[1], 21845u);
  EXPECT_EQ(t.columnFraction[2], 43690u);
}

TEST(Scale, SmoothKeepsTheChannelOrder) {
  BitMapPtr b(AllocBitMap(2, 2));
  b->format = kPixBGRx32;
  for (int y = 0; y < 2; ++y) {
    Px(b.get(), 0, y) = 0x000000FF;  // the x byte must come out 0
    Px(b.get(), 1, y) = 0xFF8040FF;
  }
  BitMapPtr dst(AllocBitMap(3, 3));
  dst->format = kPixBGRx32;
  EXPECT_EQ(ScaleBitMap(b.get(), nullptr, nullptr, 0, 0, dst.get(), 2, 2, 3, 3, true, nullptr,
                        nullptr, nullptr),
            0);
  EXPECT_EQ(Px(dst.get(), 0, 2), 0u);
  EXPECT_EQ(Px(dst.get(), 1, 1), 0x542A1500u);  // 255, 128, 64 at a third: 84, 42, 21
}

TEST(Scale, LargeUpscaleStaysInsideTheSource) {
  // The single-precision row sum of 5 rows over 30000 passes 5.0 before the end.
  BitMapPtr b(testimage::Pattern(1, 5, 3));
  std::vector<uint8_t> maskBytes(5), alphaBytes(5);  // exactly the planes, no spare row
  for (int y = 0; y < 5; ++y) maskBytes[y] = y % 2 ? 0x80 : 0, alphaBytes[y] = uint8_t(10 + y);
  qvPlane m = MakeTempMask(maskBytes.data(), 1, 5);
  qvPlane a = MakeTempPlane(alphaBytes.data(), 1);
  a.width = 1, a.height = 5;
  Scaled s = Scale(b.get(), &m, &a, 0, 0, 1, 5, 1, 30000, false);
  EXPECT_EQ(Px(s.bitmap.get(), 0, 29999), Px(b.get(), 0, 4));
  EXPECT_EQ(AlphaAt(s.alpha.get(), 0, 29999), 14);
  EXPECT_FALSE(MaskBit(s.mask.get(), 0, 29999));
  EXPECT_EQ(Px(s.bitmap.get(), 0, 0), Px(b.get(), 0, 0));
}

TEST(Scale, SmoothOneRowSourceReadsOnlyItsRow) {
  std::vector<uint8_t> alphaBytes = {0, 200, 100};  // one row of three, nothing after it
  qvPlane a = MakeTempPlane(alphaBytes.data(), 3);
  a.width = 3, a.height = 1;
  Scaled s = Scale(nullptr, nullptr, &a, 0, 0, 3, 1, 5, 3, true);
  ASSERT_TRUE(s.alpha);
  // Steps of (2 << 16) / 5 = 26214: positions 0, 0.4, 0.8, 1.2, 1.6.
  const uint8_t want[5] = {0, 79, 159, 180, 140};
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(AlphaAt(s.alpha.get(), x, y), want[x]) << x << "," << y;
}

TEST(Scale, NothingToDoAndHostileRectangles) {
  BitMapPtr b(testimage::Pattern(8, 8, 4));
  qvBitMap* out = reinterpret_cast<qvBitMap*>(0x1);
  EXPECT_EQ(ScaleBitMap(b.get(), nullptr, nullptr, 0, 0, nullptr, 8, 8, 0, 10, true, &out, nullptr,
                        nullptr),
            0);
  EXPECT_EQ(out, reinterpret_cast<qvBitMap*>(0x1));  // nothing stored
  struct Case {
    int l, t, w, h;
  } bad[] = {{-1, 0, 4, 4}, {0, 0, 9, 8},  {5, 5, 4, 1},
             {0, 0, 0, 4},  {0, 0, 4, -4}, {INT32_MAX, 0, 2, 2}};
  for (auto c : bad)
    EXPECT_EQ(ScaleBitMap(b.get(), nullptr, nullptr, c.l, c.t, nullptr, c.w, c.h, 3, 3, false, &out,
                          nullptr, nullptr),
              ERR_OUTOFRANGE)
        << c.l << " " << c.w;
  PlanePtr small(AllocMask(4, 4, true));
  EXPECT_EQ(ScaleBitMap(b.get(), small.get(), nullptr, 0, 0, nullptr, 8, 8, 3, 3, false, &out,
                        nullptr, nullptr),
            ERR_OUTOFRANGE);
  BitMapPtr dst(AllocBitMap(2, 2));
  EXPECT_EQ(ScaleBitMap(b.get(), nullptr, nullptr, 0, 0, dst.get(), 8, 8, 3, 3, false, nullptr,
                        nullptr, nullptr),
            ERR_OUTOFRANGE);
  EXPECT_EQ(ScaleBitMap(b.get(), nullptr, nullptr, 0, 0, nullptr, 8, 8, 1 << 30, 1 << 30, false,
                        &out, nullptr, nullptr),
            ERR_MEM);
}

TEST(ScaleTablesTest, GrowthFailureKeepsTheOldTables) {
  ASSERT_EQ(EnsureScaleTables(100, 50), 0);
  ScaleTables before = CurrentScaleTables();
  EXPECT_EQ(EnsureScaleTables(INT32_MAX, 10), ERR_MEM);
  ScaleTables after = CurrentScaleTables();
  EXPECT_EQ(after.columnFraction, before.columnFraction);
  EXPECT_EQ(after.rowStep, before.rowStep);
  EXPECT_EQ(EnsureScaleTables(10, 10), 0);  // never shrinks
  EXPECT_EQ(CurrentScaleTables().columnStep, before.columnStep);
}

namespace {
struct TableProbe {
  bool startedEmpty = false;
  int grow = -1;
  ScaleTables seen{};
};
void ProbeTables(qvTask* task) {
  if (int err = CreateTaskQuitEvent(task)) {
    ReportTaskResult(task, err);
    return;
  }
  auto* probe = static_cast<TableProbe*>(GetTaskData(task));
  probe->startedEmpty = CurrentScaleTables().columnFraction == nullptr;
  probe->grow = EnsureScaleTables(64, 64);
  probe->seen = CurrentScaleTables();
  FreeScaleTables();
  SignalTaskStarted(task);
  ReportTaskResult(task, 0);
}
}  // namespace

TEST(ScaleTablesTest, EachThreadHasItsOwn) {
  ASSERT_EQ(EnsureScaleTables(32, 32), 0);
  ScaleTables mine = CurrentScaleTables();
  TableProbe probe;
  qvTask* task = CreateTask("scale tables", ProbeTables, &probe);
  ASSERT_NE(task, nullptr);
  EndTask(task);
  EXPECT_TRUE(probe.startedEmpty);
  EXPECT_EQ(probe.grow, 0);
  EXPECT_NE(probe.seen.columnFraction, mine.columnFraction);
  EXPECT_EQ(CurrentScaleTables().columnFraction, mine.columnFraction);
}

namespace {
struct Rotated {
  BitMapPtr bitmap;
  PlanePtr mask, alpha;
  int32_t w = 0, h = 0;
};
Rotated Rotate(qvBitMap* b, qvPlane* m, qvPlane* a, int w, int h, std::vector<double> matrix,
               bool smooth) {
  Rotated r;
  qvBitMap* ob = nullptr;
  qvPlane *om = nullptr, *oa = nullptr;
  EXPECT_EQ(RotateBitMap(b, m, a, 0, 0, w, h, matrix.data(), smooth, &ob, &om, &oa, &r.w, &r.h), 0);
  r.bitmap.reset(ob), r.mask.reset(om), r.alpha.reset(oa);
  return r;
}
}  // namespace

TEST(Rotate, IdentityCopiesAndSetsEveryMaskBit) {
  BitMapPtr b(testimage::Pattern(13, 7, 5));
  for (bool smooth : {false, true}) {
    Rotated r = Rotate(b.get(), nullptr, nullptr, 13, 7, {1, 0, 0, 1}, smooth);
    ASSERT_EQ(r.w, 13);
    ASSERT_EQ(r.h, 7);
    ASSERT_TRUE(r.mask);
    EXPECT_FALSE(r.alpha);
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < 13; ++x) {
        uint32_t want = Px(b.get(), x, y);
        if (smooth) want &= 0xFFFFFF;  // the interpolated pixel is packed with a 0 top byte
        EXPECT_EQ(Px(r.bitmap.get(), x, y), want) << x << "," << y;
        EXPECT_TRUE(MaskBit(r.mask.get(), x, y)) << x << "," << y;
      }
  }
}

TEST(Rotate, QuarterTurnKeepsTheSizeAndReadsEverySourcePixelOnce) {
  // {0, 1, -1, 0} on 4 x 3: the box's corner x of -3 stays -3 (rounded half up), so the box is
  // 3 x 4; each result pixel's centre maps back into source (y, 2 - x).
  BitMapPtr b(testimage::Pattern(4, 3, 6));
  Rotated r = Rotate(b.get(), nullptr, nullptr, 4, 3, {0, 1, -1, 0}, false);
  ASSERT_EQ(r.w, 3);
  ASSERT_EQ(r.h, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 3; ++x) {
      EXPECT_EQ(Px(r.bitmap.get(), x, y), Px(b.get(), y, 2 - x)) << x << "," << y;
      EXPECT_TRUE(MaskBit(r.mask.get(), x, y));
    }
  // The same through the masked road.
  PlanePtr m(AllocMask(4, 3, false));
  FillPlaneRect(m.get(), 0, 0, 4, 3, 0);
  Rotated rm = Rotate(b.get(), m.get(), nullptr, 4, 3, {0, 1, -1, 0}, false);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 3; ++x)
      EXPECT_EQ(Px(rm.bitmap.get(), x, y), Px(b.get(), y, 2 - x)) << x << "," << y;
  // A mirror keeps its width too.
  int32_t w, h;
  const double mirror[4] = {-1, 0, 0, 1};
  GetRotatedBox(mirror, 6, 4, &w, &h, nullptr, nullptr);
  EXPECT_EQ(w, 6);
  EXPECT_EQ(h, 4);
}

TEST(Rotate, ThirtyDegreesMarksExactlyThePicture) {
  BitMapPtr b(AllocBitMap(40, 30));
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) Px(b.get(), x, y) = 0xFF000000 | uint32_t(y * 40 + x + 1);
  const double c = std::cos(M_PI / 6), s = std::sin(M_PI / 6);
  for (bool smooth : {false, true}) {
    Rotated r = Rotate(b.get(), nullptr, nullptr, 40, 30, {c, s, -s, c}, smooth);
    EXPECT_GT(r.w, 40);
    EXPECT_GT(r.h, 30);
    int set = 0;
    for (int y = 0; y < r.h; ++y)
      for (int x = 0; x < r.w; ++x) {
        bool bit = MaskBit(r.mask.get(), x, y);
        // The new bitmap was cleared, and every source pixel has a non-zero colour.
        ASSERT_EQ(bit, (Px(r.bitmap.get(), x, y) & 0xFFFFFF) != 0) << x << "," << y;
        set += bit;
      }
    EXPECT_NEAR(set, 40 * 30, 120) << smooth;  // about the picture's area
  }
}

// Any turn, skew or scale samples result pixel (x, y) at its back-mapped point: source
// (i0 x + i2 y + tx, i1 x + i3 y + ty) through the inverse, with the box's offset its least corner
// plus a half, truncated toward 0. Nearest takes the pixel the point lies in, smooth weighs its
// four neighbours. Checked against that model wherever the point lies inside the picture and off
// the borders between pixels, on the plain road and through a mask with every bit set.
TEST(Rotate, EveryMatrixSamplesAtTheBackMappedPoint) {
  const int w = 23, h = 17;
  BitMapPtr b(testimage::Pattern(w, h, 11));
  PlanePtr full(AllocMask(w, h, true));
  FillPlaneRect(full.get(), 0, 0, w, h, 0);
  std::vector<std::vector<double>> matrices;
  for (double degrees : {10.0, 30.0, 45.0, 100.0, 163.0, 200.0, 250.0, 300.0, -37.0}) {
    const double t = degrees * M_PI / 180;
    matrices.push_back({std::cos(t), std::sin(t), -std::sin(t), std::cos(t)});
  }
  matrices.push_back({1.3, 0.4, -0.2, 0.9});
  matrices.push_back({-0.7, 0.2, 0.5, 1.6});
  for (const std::vector<double>& m : matrices) {
    // The model's box and inverse.
    const double cx[4] = {0, double(w), double(w), 0}, cy[4] = {0, 0, double(h), double(h)};
    double leastX = HUGE_VAL, leastY = HUGE_VAL;
    for (int i = 0; i < 4; ++i) {
      leastX = std::min(leastX, m[0] * cx[i] + m[2] * cy[i]);
      leastY = std::min(leastY, m[1] * cx[i] + m[3] * cy[i]);
    }
    const double e = -std::trunc(leastX + 0.5), f = -std::trunc(leastY + 0.5);
    const double det = m[0] * m[3] - m[2] * m[1];
    const double i0 = m[3] / det, i1 = -m[1] / det, i2 = -m[2] / det, i3 = m[0] / det;
    const double tx = -e * i0 - f * i2, ty = -e * i1 - f * i3;
    for (bool smooth : {false, true}) {
      for (bool masked : {false, true}) {
        SCOPED_TRACE(::testing::Message()
                     << m[0] << "," << m[1] << "," << m[2] << "," << m[3]
                     << (smooth ? " smooth" : "") << (masked ? " masked" : ""));
        Rotated r = Rotate(b.get(), masked ? full.get() : nullptr, nullptr, w, h, m, smooth);
        int checked = 0;
        for (int y = 0; y < r.h; ++y)
          for (int x = 0; x < r.w; ++x) {
            const double sx = i0 * x + i2 * y + tx, sy = i1 * x + i3 * y + ty;
            if (!(sx > 1e-6 && sx < w - 1e-6 && sy > 1e-6 && sy < h - 1e-6)) continue;
            const double fx = sx - std::floor(sx), fy = sy - std::floor(sy);
            uint32_t want;
            const int ix = int(sx), iy = int(sy);
            if (!smooth) {
              if (fx < 1e-6 || fx > 1 - 1e-6 || fy < 1e-6 || fy > 1 - 1e-6) continue;
              want = Px(b.get(), ix, iy);
            } else {
              const int ix1 = std::min(ix + 1, w - 1), iy1 = std::min(iy + 1, h - 1);
              want = 0;
              for (int shift = 0; shift < 24; shift += 8) {
                auto c = [&](int px, int py) {
                  return double((Px(b.get(), px, py) >> shift) & 255);
                };
                const double v = (c(ix, iy) * (1 - fx) + c(ix1, iy) * fx) * (1 - fy) +
                                 (c(ix, iy1) * (1 - fx) + c(ix1, iy1) * fx) * fy;
                want |= uint32_t(v + 0.5) << shift;
              }
            }
            ASSERT_EQ(Px(r.bitmap.get(), x, y), want)
                << x << "," << y << " from " << sx << "," << sy;
            ASSERT_TRUE(MaskBit(r.mask.get(), x, y)) << x << "," << y;
            ++checked;
          }
        EXPECT_GT(checked, w * h / 2);
      }
    }
  }
}

TEST(Rotate, SmoothTakesTheFirstOpaqueNeighbour) {
  // A 2 x 1 picture doubled: result columns sample 0, 0.5, 1 and 1.5.
  BitMapPtr b(AllocBitMap(2, 1));
  Px(b.get(), 0, 0) = 0x00000010;
  Px(b.get(), 1, 0) = 0x000000FF;
  PlanePtr m(AllocMask(2, 1, true));
  WriteBitMapPixel(m.get(), 0, 0, 0);
  Rotated r = Rotate(b.get(), m.get(), nullptr, 2, 1, {2, 0, 0, 2}, true);
  ASSERT_EQ(r.w, 4);
  EXPECT_EQ(Px(r.bitmap.get(), 0, 0), 0x10u);
  EXPECT_EQ(Px(r.bitmap.get(), 1, 0), 0x10u);  // not the blend with the hidden 0xFF
  EXPECT_EQ(Px(r.bitmap.get(), 2, 0), 0u);
  const bool bits[4] = {1, 1, 0, 0};
  for (int x = 0; x < 4; ++x) EXPECT_EQ(MaskBit(r.mask.get(), x, 0), bits[x]) << x;

  WriteBitMapPixel(m.get(), 1, 0, 0);
  PlanePtr a(AllocAlphaChannel(2, 1, true));
  AlphaAt(a.get(), 1, 0) = 255;
  Rotated ra = Rotate(b.get(), m.get(), a.get(), 2, 1, {2, 0, 0, 2}, true);
  ASSERT_TRUE(ra.alpha);
  EXPECT_FALSE(ra.mask);
  const uint8_t alpha[4] = {0, 128, 255, 255};
  const uint32_t blue[4] = {0x10, 0x88, 0xFF, 0xFF};
  for (int x = 0; x < 4; ++x) {
    EXPECT_EQ(AlphaAt(ra.alpha.get(), x, 0), alpha[x]) << x;
    EXPECT_EQ(Px(ra.bitmap.get(), x, 0), blue[x]) << x;
  }
}

TEST(Rotate, SingularAndNonFiniteMatrices) {
  BitMapPtr b(testimage::Pattern(6, 4, 7));
  Rotated r = Rotate(b.get(), nullptr, nullptr, 6, 4, {1, 1, 1, 1}, false);
  ASSERT_EQ(r.w, 10);
  ASSERT_EQ(r.h, 10);
  for (int y = 0; y < r.h; ++y)
    for (int x = 0; x < r.w; ++x) {
      EXPECT_EQ(Px(r.bitmap.get(), x, y), 0u);
      EXPECT_FALSE(MaskBit(r.mask.get(), x, y));
    }
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (std::vector<double> m : std::vector<std::vector<double>>{
           {nan, 0, 0, 1}, {inf, 0, 0, 1}, {1, nan, nan, 1}, {1e300, 1, -1, 1e-300}}) {
    qvBitMap* ob = nullptr;
    qvPlane *om = nullptr, *oa = nullptr;
    int32_t w = 0, h = 0;
    int err = RotateBitMap(b.get(), nullptr, nullptr, 0, 0, 6, 4, m.data(), true, &ob, &om, &oa, &w,
                           &h);
    EXPECT_TRUE(err == 0 || err == ERR_MEM) << err;
    FreeBitMap(ob);
    FreeMaskOrAlpha(om);
    FreeMaskOrAlpha(oa);
  }
  double id[4] = {1, 0, 0, 1};
  qvBitMap* ob = nullptr;
  EXPECT_EQ(RotateBitMap(b.get(), nullptr, nullptr, 3, 0, 6, 4, id, false, &ob, nullptr, nullptr,
                         nullptr, nullptr),
            ERR_OUTOFRANGE);
}
