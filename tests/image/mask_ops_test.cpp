// The mask and alpha helpers of clip regions: mask bits to alpha bytes and back at odd bit
// offsets, alpha planes scaled and filled, colours drawn through coverage, polygons filled into
// masks and cut at one boundary, and the outline points of ellipses and pie slices.
#include "image/mask_ops.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/errors.h"
#include "image/image.h"
#include "image_fixture.h"

using namespace qv;
using qv::testimage::AlphaAt;
using qv::testimage::BitMapPtr;
using qv::testimage::MaskBit;
using qv::testimage::PlanePtr;
using qv::testimage::Px;

namespace {

bool PatternBit(int x, int y) { return (x * 7 + y * 13 + x * y) % 5 < 2; }

qvPlane* PatternMask(int w, int h) {
  qvPlane* mask = AllocMask(w, h, true);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      if (PatternBit(x, y)) WriteBitMapPixel(mask, x, y, 0);
    }
  }
  return mask;
}

using Points = std::vector<int32_t>;

Points Clip(const Points& polygon, int32_t c, int32_t kind) {
  auto count = static_cast<int32_t>(polygon.size() / 2);
  Points out(polygon.size() * 2, -999);
  int32_t n = ClipPolygonEdge(count, polygon.data(), out.data(), c, kind);
  out.resize(static_cast<size_t>(n) * 2);
  return out;
}

}  // namespace

TEST(MaskToAlpha, WritesTheValueOrZeroFromOddBitOffsets) {
  PlanePtr mask(PatternMask(21, 3)), alpha(AllocAlphaChannel(16, 3, true));
  for (int sx : {0, 3, 5, 13}) {
    SCOPED_TRACE(sx);
    FillAlphaRect(alpha.get(), 0, 0, 16, 3, 9);
    MaskToAlpha(mask.get(), sx, 0, alpha.get(), 2, 1, 8, 5, 200);  // cut to 2 rows
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 16; ++x) {
        int expected = y == 0 || x < 2 || x >= 10 ? 9 : (PatternBit(sx + x - 2, y - 1) ? 200 : 0);
        ASSERT_EQ(AlphaAt(alpha.get(), x, y), expected) << x << "," << y;
      }
    }
  }
}

TEST(AlphaToMask, TreatsAnythingBelow255AsClearAndStartsInsideAByte) {
  PlanePtr alpha(AllocAlphaChannel(4, 1, true)), mask(AllocMask(24, 1, true));
  uint8_t a[4] = {255, 254, 0, 255};
  for (int x = 0; x < 4; ++x) AlphaAt(alpha.get(), x, 0) = a[x];
  FillPlaneRect(mask.get(), 0, 0, 24, 1, 0);
  // Column 13 is bit 2 of byte 1.
  AlphaToMask(alpha.get(), 0, 0, mask.get(), 13, 0, 4, 1, 0);
  EXPECT_EQ(mask->data[1], 0xFC);  // columns 14 and 15 cleared
  for (int x = 0; x < 24; ++x) {
    bool cleared = x == 14 || x == 15;
    EXPECT_EQ(MaskBit(mask.get(), x, 0), !cleared) << x;
  }
}

TEST(AlphaPlanes, CombineScalesByTheFactorAndFillStaysInside) {
  PlanePtr a(AllocAlphaChannel(5, 2, true)), b(AllocAlphaChannel(5, 2, true));
  AlphaAt(a.get(), 0, 0) = 255, AlphaAt(a.get(), 4, 1) = 100, AlphaAt(a.get(), 2, 1) = 1;
  CombineAlphaChannels(a.get(), b.get(), 128, 5, 2);
  EXPECT_EQ(AlphaAt(b.get(), 0, 0), 128);
  EXPECT_EQ(AlphaAt(b.get(), 4, 1), 50);  // 12800 / 255 truncated
  EXPECT_EQ(AlphaAt(b.get(), 2, 1), 0);
  FillAlphaRect(b.get(), -2, 1, 4, 9, 77);
  EXPECT_EQ(AlphaAt(b.get(), 0, 1), 77);
  EXPECT_EQ(AlphaAt(b.get(), 1, 1), 77);
  EXPECT_EQ(AlphaAt(b.get(), 2, 1), 0);
  EXPECT_EQ(AlphaAt(b.get(), 0, 0), 128);
}

TEST(BltAlphaChannel, DrawsTheColourThroughCoverageByMode) {
  BitMapPtr dst(AllocBitMap(4, 1));
  PlanePtr coverage(AllocAlphaChannel(4, 1, true)), dstAlpha(AllocAlphaChannel(4, 1, true));
  uint8_t c[4] = {0, 64, 63, 255};
  for (int x = 0; x < 4; ++x) AlphaAt(coverage.get(), x, 0) = c[x];
  auto reset = [&] { FillBitMapRect(dst.get(), 0, 0, 4, 1, 0x000000); };

  reset();
  BltAlphaChannel(coverage.get(), 0, 0, dst.get(), 0, 0, 4, 1, 0xFFFFFF, 0, 255, nullptr);
  EXPECT_EQ(Px(dst.get(), 0, 0) & 0xFFFFFF, 0u);
  EXPECT_EQ(Px(dst.get(), 2, 0) & 0xFFFFFF, 0xFFFFFFu);

  // 65 levels: 64 stores the colour, 63 blends with weight 252.
  reset();
  BltAlphaChannel(coverage.get(), 0, 0, dst.get(), 0, 0, 3, 1, 0xFF0000, 4, 255, nullptr);
  EXPECT_EQ(Px(dst.get(), 1, 0) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(Px(dst.get(), 2, 0) & 0xFFFFFF, uint32_t((255 * 252) >> 8) << 16);

  // Mode 2 writes the destination alpha, scaled by the opacity.
  reset();
  BltAlphaChannel(coverage.get(), 0, 0, dst.get(), 0, 0, 4, 1, 0x00FF00, 2, 255, dstAlpha.get());
  EXPECT_EQ(AlphaAt(dstAlpha.get(), 3, 0), 255);
  EXPECT_EQ(AlphaAt(dstAlpha.get(), 1, 0), 64);
  EXPECT_EQ(Px(dst.get(), 3, 0) & 0xFFFFFF, 0x00FF00u);
  // Without its alpha plane mode 2 draws nothing.
  reset();
  BltAlphaChannel(coverage.get(), 0, 0, dst.get(), 0, 0, 4, 1, 0x00FF00, 2, 255, nullptr);
  EXPECT_EQ(Px(dst.get(), 3, 0) & 0xFFFFFF, 0u);

  // Clipped on both sides: a coverage corner left of the plane moves the destination.
  reset();
  BltAlphaChannel(coverage.get(), -1, 0, dst.get(), 0, 0, 9, 1, 0x0000FF, 0, 255, nullptr);
  EXPECT_EQ(Px(dst.get(), 0, 0) & 0xFFFFFF, 0u);  // coverage 0 at column 0 lands at 1
  EXPECT_EQ(Px(dst.get(), 2, 0) & 0xFFFFFF, 0xFFu);
  EXPECT_EQ(Px(dst.get(), 3, 0) & 0xFFFFFF, 0xFFu);

  testing::internal::CaptureStdout();
  BltAlphaChannel(coverage.get(), 0, 0, nullptr, 0, 0, 1, 1, 0, 0, 255, nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "ERROR! BLTALPHACHANNEL() CALLED WITH DST=NULL!\n");
}

TEST(FillMaskShape, FillsAClosedPolygonAndNothingForTooFewPoints) {
  PlanePtr mask(AllocMask(10, 10, true));
  const int32_t line[] = {1, 1, 8, 8};
  EXPECT_EQ(FillMaskShape(mask.get(), line, 2), 0);
  const int32_t square[] = {2, 2, 6, 2, 6, 5, 2, 5};
  EXPECT_EQ(FillMaskShape(mask.get(), square, 4), 0);
  int set = 0;
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 10; ++x) {
      bool inside = x >= 2 && x <= 6 && y >= 2 && y <= 5;
      EXPECT_EQ(MaskBit(mask.get(), x, y), inside) << x << "," << y;
      set += MaskBit(mask.get(), x, y);
    }
  }
  EXPECT_EQ(set, 20);
}

TEST(ClipPolygonEdge, CutsAtEachKindOfBoundary) {
  const Points square = {0, 0, 10, 0, 10, 10, 0, 10};
  struct Row {
    const char* what;
    Points polygon;
    int32_t c, kind;
    Points expected;
  };
  const Row rows[] = {
      {"x >= 5", square, 5, kKeepXAtLeast, {5, 0, 10, 0, 10, 10, 5, 10}},
      {"x <= 5", square, 5, kKeepXAtMost, {0, 0, 5, 0, 5, 10, 0, 10}},
      {"y >= 3", square, 3, kKeepYAtLeast, {10, 3, 10, 10, 0, 10, 0, 3}},
      {"y <= 3", square, 3, kKeepYAtMost, {0, 0, 10, 0, 10, 3, 0, 3}},
      {"all inside", square, -1, kKeepXAtLeast, square},
      {"all outside", square, 11, kKeepXAtLeast, {}},
      // A vertical edge meets a horizontal boundary straight across: no slope to divide by.
      {"vertical edge", {2, 0, 2, 10, 8, 10}, 4, kKeepYAtLeast, {2, 4, 2, 10, 8, 10, 5, 4}},
      // The crossings truncate toward zero: -2/3 and -2.4 lose their fractions toward zero.
      {"toward zero x", {0, 0, 3, -2, 3, 0}, 1, kKeepXAtLeast, {1, 0, 3, -2, 3, 0, 1, 0}},
      {"toward zero y", {6, 0, 0, -10, 0, 5}, -4, kKeepYAtMost, {4, -4, 0, -10, 0, -4}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(Clip(r.polygon, r.c, r.kind), r.expected);
  }
}

TEST(BuildEllipsePoints, TheWholeTurnIsSymmetricAndTruncatesTowardZero) {
  EXPECT_EQ(EllipseCos1024(60), 512);
  EXPECT_EQ(EllipseSin1024(30), 512);
  EXPECT_EQ(EllipseCos1024(45), 724);
  EXPECT_EQ(EllipseSin1024(1), 18);
  EXPECT_EQ(EllipseSin1024(-90), -1024);

  struct Radii {
    int32_t rx, ry;
  };
  for (Radii r : {Radii{10, 10}, Radii{3, 7}, Radii{0, 0}, Radii{1, 100}, Radii{250, 40}}) {
    SCOPED_TRACE(testing::Message() << r.rx << "x" << r.ry);
    std::vector<int32_t> p(2 * 400);
    ASSERT_EQ(BuildEllipsePoints(p.data(), 400, r.rx, r.ry, 0, 360), 361);
    EXPECT_EQ(EllipsePointCount(0, 360), 361);
    auto x = [&](int a) { return p[2 * a] - r.rx; };
    auto y = [&](int a) { return p[2 * a + 1] - r.ry; };
    EXPECT_EQ(x(0), (1024 * (2 * r.rx + 1)) / 2048);
    EXPECT_EQ(y(90), (1024 * (2 * r.ry + 1)) / 2048);
    EXPECT_EQ(x(360), x(0));
    EXPECT_EQ(y(360), y(0));
    for (int a = 0; a <= 360; ++a) {
      // Truncation toward zero mirrors the outline exactly about both axes; a floor division
      // would put the left and top halves one pixel further out.
      ASSERT_EQ(x(a), -x((540 - a) % 360)) << a;
      ASSERT_EQ(y(a), -y((360 - a) % 360)) << a;
      ASSERT_GE(p[2 * a], 0);
      ASSERT_LE(p[2 * a], 2 * r.rx);
      ASSERT_GE(p[2 * a + 1], 0);
      ASSERT_LE(p[2 * a + 1], 2 * r.ry);
    }
  }
  // Radius 10: 10.5 truncates to 10 both ways, so the box is exactly 0..20.
  std::vector<int32_t> p(2 * 361);
  BuildEllipsePoints(p.data(), 361, 10, 10, 0, 360);
  EXPECT_EQ(Points(p.begin(), p.begin() + 2), (Points{20, 10}));
  EXPECT_EQ(Points(p.begin() + 2 * 45, p.begin() + 2 * 46), (Points{17, 17}));
  EXPECT_EQ(Points(p.begin() + 2 * 180, p.begin() + 2 * 181), (Points{0, 10}));
  EXPECT_EQ(Points(p.begin() + 2 * 270, p.begin() + 2 * 271), (Points{10, 0}));
}

TEST(BuildEllipsePoints, APieSliceClosesThroughTheCentre) {
  std::vector<int32_t> p(2 * 100, -1);
  ASSERT_EQ(BuildEllipsePoints(p.data(), 100, 10, 10, 0, 90), 93);
  EXPECT_EQ(EllipsePointCount(0, 90), 93);
  EXPECT_EQ(Points(p.begin() + 2 * 91, p.begin() + 2 * 93), (Points{10, 10, 20, 10}));
  // Negative angles and angles beyond a turn read the tables mod 360.
  std::vector<int32_t> q(2 * 100, -1);
  ASSERT_EQ(BuildEllipsePoints(q.data(), 100, 10, 10, -90, 0), 93);
  EXPECT_EQ(Points(q.begin(), q.begin() + 2), (Points{10, 0}));
  ASSERT_EQ(BuildEllipsePoints(q.data(), 100, 10, 10, 720, 810), 93);
  EXPECT_EQ(Points(q.begin(), q.begin() + 2 * 93), Points(p.begin(), p.begin() + 2 * 93));
  // A range that runs backwards gives nothing; a short buffer takes what fits.
  EXPECT_EQ(BuildEllipsePoints(q.data(), 100, 10, 10, 90, 0), 0);
  EXPECT_EQ(EllipsePointCount(90, 0), 0);
  EXPECT_EQ(BuildEllipsePoints(q.data(), 5, 10, 10, 0, 360), 5);
}
