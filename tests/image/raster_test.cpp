// The coverage rasteriser: images and views, clipping, lines, thick lines and caps, polygon
// fills, and degenerate input.
#include "image/raster.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "image/image.h"

using namespace qv;
using raster::Point;

namespace {

// A cleared coverage image freed with the record.
struct Coverage {
  qvRasterImage* image = nullptr;
  uint8_t* data = nullptr;
  int32_t bytesPerRow = 0;
  Coverage(int w, int h) { CreateCoverageImage(w, h, &image, &data, &bytesPerRow); }
  ~Coverage() { ReleaseCoverageImage(image); }
  uint8_t At(int x, int y) const { return data[y * bytesPerRow + x]; }
  raster::Canvas Canvas() {
    raster::Canvas c{};
    EXPECT_TRUE(raster::CanvasOf(image, &c));
    return c;
  }
  int64_t Sum() const {
    int64_t s = 0;
    for (int y = 0; y < image->height; ++y)
      for (int x = 0; x < image->width; ++x) s += At(x, y);
    return s;
  }
  int Count() const {
    int n = 0;
    for (int y = 0; y < image->height; ++y)
      for (int x = 0; x < image->width; ++x) n += At(x, y) != 0;
    return n;
  }
  std::string Row(int y, int x0, int x1) const {
    std::string s;
    for (int x = x0; x <= x1; ++x) s += At(x, y) == 255 ? '#' : At(x, y) ? '+' : '.';
    return s;
  }
};

}  // namespace

TEST(CoverageImage, RowsRoundUpToFourBytesAndStartCleared) {
  Coverage c(5, 3);
  ASSERT_TRUE(c.image);
  EXPECT_EQ(c.bytesPerRow, 8);
  EXPECT_EQ(c.image->imageSize, 24);
  qvRasterMatrix m;
  ASSERT_TRUE(GetRasterMatrixView(c.image, &m));
  EXPECT_EQ(m.type & 0xFFFF0000u, kRasterMatrixMarker);
  EXPECT_EQ(m.type & kRasterContinuous, 0u);  // 5 columns in rows of 8 bytes
  EXPECT_EQ(m.rows, 3);
  EXPECT_EQ(m.columns, 5);
  EXPECT_EQ(c.Sum(), 0);
  Coverage eight(8, 2);
  ASSERT_TRUE(GetRasterMatrixView(eight.image, &m));
  EXPECT_NE(m.type & kRasterContinuous, 0u);
  // Bad requests set the status and give nothing.
  EXPECT_EQ(CreateRasterImage(-1, 2, 8, 1), nullptr);
  EXPECT_EQ(RasterStatus(), raster::kBadSize);
  EXPECT_EQ(CreateRasterImage(2, 2, 12, 1), nullptr);
  EXPECT_EQ(RasterStatus(), raster::kBadDepth);
  EXPECT_EQ(GetRasterMatrixView(nullptr, &m), nullptr);
  EXPECT_EQ(RasterStatus(), raster::kNullPointer);
}

TEST(CoverageImage, AlignedBlocksAndAllocationFailures) {
  void* block = AllocAligned(100);
  ASSERT_TRUE(block);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 32, 0u);
  ClearRasterStatus();
  FreeAligned(static_cast<uint8_t*>(block) + 8);  // refused, nothing freed
  EXPECT_EQ(RasterStatus(), raster::kBadAlignment);
  FreeAligned(block);
  EXPECT_EQ(AllocAligned(0x40000001), nullptr);
  EXPECT_EQ(RasterStatus(), raster::kOutOfRange);
  // Each allocation of a coverage image failing in turn leaves no image and nothing leaked.
  for (int64_t n = 1; n <= 2; ++n) {
    ClearRasterStatus();
    SetImageAllocFault(n);
    qvRasterImage* image = reinterpret_cast<qvRasterImage*>(1);
    CreateCoverageImage(16, 16, &image, nullptr, nullptr);
    SetImageAllocFault(0);
    EXPECT_EQ(image, nullptr) << n;
    EXPECT_EQ(RasterStatus(), raster::kNoMemory) << n;
  }
  // Without memory for its point copy a polygon draws nothing.
  Coverage c(8, 8);
  int32_t square[8] = {1, 1, 6, 1, 6, 6, 1, 6};
  SetImageAllocFault(1);
  DrawPolygonCoverage(c.image, square, 4, false, 0);
  SetImageAllocFault(0);
  EXPECT_EQ(c.Sum(), 0);
}

TEST(ClipLine, CutsToTheRectangleInWideArithmetic) {
  struct Case {
    Point a, b;
    bool inside;
    Point ca, cb;
  } cases[] = {
      {{-5, 5}, {15, 5}, true, {0, 5}, {9, 5}},
      {{5, -5}, {5, 15}, true, {5, 0}, {5, 9}},
      {{-10, -10}, {20, 20}, true, {0, 0}, {9, 9}},
      {{-5, -1}, {-1, 20}, false, {}, {}},
      {{12, 0}, {20, 9}, false, {}, {}},
      // Far ends whose products need more than 64 bits.
      {{-(int64_t(1) << 46), 5}, {int64_t(1) << 46, 5}, true, {0, 5}, {9, 5}},
      {{5, -(int64_t(1) << 46)}, {6, int64_t(1) << 46}, true, {5, 0}, {6, 9}},
  };
  for (auto& c : cases) {
    Point a = c.a, b = c.b;
    EXPECT_EQ(raster::ClipLine(10, 10, &a, &b), c.inside) << c.a.x << "," << c.a.y;
    if (!c.inside) continue;
    EXPECT_EQ(a.x, c.ca.x);
    EXPECT_EQ(a.y, c.ca.y);
    EXPECT_EQ(b.x, c.cb.x);
    EXPECT_EQ(b.y, c.cb.y);
  }
  ClearRasterStatus();
  Point a{0, 0}, b{1, 1};
  EXPECT_FALSE(raster::ClipLine(0, 10, &a, &b));
  EXPECT_EQ(RasterStatus(), raster::kOutOfRange);
}

TEST(Lines, EightAndFourConnected) {
  Coverage c8(8, 4), c4(8, 4);
  raster::DrawLine8(c8.Canvas(), 8, {0, 0}, {4, 2});
  raster::DrawLine8(c4.Canvas(), 4, {4, 2}, {0, 0});
  EXPECT_EQ(c8.Count(), 5);
  EXPECT_EQ(c4.Count(), 7);
  // The error starts at dx - 2 dy = 0: the first step goes along the row.
  EXPECT_EQ(c8.Row(0, 0, 4) + c8.Row(1, 0, 4) + c8.Row(2, 0, 4), "##.....##.....#");
  // Every step of a 4-connected line shares an edge with the one before.
  for (int y = 0; y < 3; ++y) EXPECT_NE(c4.Row(y, 0, 7).find('#'), std::string::npos);
}

TEST(Lines, FixedAndAntialiasedLinesKeepTwoPixelsOffTheBorder) {
  Coverage c(40, 20);
  const int64_t one = 65536;
  // Along row 0 and column 0: clipped away entirely.
  raster::DrawLineAntialiased(c.Canvas(), {0, 0}, {39 * one, 0});
  raster::DrawLineAntialiased(c.Canvas(), {0, 0}, {0, 19 * one});
  raster::DrawLineFixed(c.Canvas(), {0, 0}, {39 * one, 0});
  EXPECT_EQ(c.Sum(), 0);
  DrawLineCoverage(c.image, 0, 0, 39, 0, true, 1);
  EXPECT_EQ(c.Sum(), 0);
  // A line through the middle: its ends held to columns 2 .. 37 (the last step's cap reaches 38),
  // rows 0 and 1 untouched.
  DrawLineCoverage(c.image, -50, 10, 90, 10, true, 1);
  for (int x = 0; x < 40; ++x) {
    EXPECT_EQ(c.At(x, 0), 0);
    EXPECT_EQ(c.At(x, 1), 0);
  }
  EXPECT_GT(c.At(20, 10), 200);
  EXPECT_EQ(c.At(1, 10), 0);
  EXPECT_EQ(c.At(39, 10), 0);
  Coverage f(40, 20);
  raster::DrawLineFixed(f.Canvas(), {5 * one, 5 * one}, {30 * one, 12 * one});
  EXPECT_EQ(f.At(5, 5), 255);
  EXPECT_EQ(f.At(30, 12), 255);
  EXPECT_EQ(f.Count(), 26);
}

TEST(Lines, AntialiasedLinesPeakOnTheLineAndSpreadOverThreePixels) {
  Coverage c(200, 200);
  DrawLineCoverage(c.image, 20, 30, 180, 110, true, 1);
  for (int x = 25; x <= 175; ++x) {
    // The row nearest the line holds the column's largest value; at most three rows are touched.
    double y = 30 + (x - 20) * 0.5;
    int best = 0, touched = 0;
    for (int r = 0; r < 200; ++r) {
      if (c.At(x, r) > c.At(x, best)) best = r;
      touched += c.At(x, r) != 0;
    }
    EXPECT_LE(std::abs(best - y), 1.0) << x;
    EXPECT_LE(touched, 3) << x;
    EXPECT_GT(c.At(x, best), 128) << x;
  }
  // Two blends toward 255 make the line a little heavier than one pixel.
  double length = std::hypot(160.0, 80.0);
  EXPECT_GT(double(c.Sum()) / 255.0, length);
  EXPECT_LT(double(c.Sum()) / 255.0, 1.5 * length);
}

TEST(ThickLines, EqualEndsDrawADiscOfHalfTheThickness) {
  Coverage c(40, 40);
  DrawLineCoverage(c.image, 20, 20, 20, 20, false, 10);
  EXPECT_EQ(RasterStatus(), 0);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) {
      double d = std::hypot(x - 20, y - 20);
      if (d <= 4.5) {
        EXPECT_EQ(c.At(x, y), 255) << x << "," << y;
      } else if (d > 5.5) {
        EXPECT_EQ(c.At(x, y), 0) << x << "," << y;
      }
    }
  EXPECT_EQ(c.At(25, 20), 255);
  EXPECT_EQ(c.At(20, 15), 255);
  EXPECT_EQ(c.At(26, 20), 0);
  // Anti-aliased, the caps make an anti-aliased disc of about the same area.
  Coverage aa(40, 40);
  DrawLineCoverage(aa.image, 20, 20, 20, 20, true, 10);
  EXPECT_NEAR(double(aa.Sum()) / 255.0, M_PI * 25, 25);
}

TEST(ThickLines, ThicknessAndShiftOutOfRangeDrawNothing) {
  Coverage c(20, 20);
  struct Case {
    int32_t thickness, shift, status;
  } cases[] = {{256, 0, raster::kOutOfRange},
               {-1, 0, raster::kOutOfRange},
               {3, 17, raster::kOutOfRange},
               {3, -1, raster::kOutOfRange}};
  for (auto k : cases) {
    ClearRasterStatus();
    raster::DrawThickLine(c.Canvas(), {2, 2}, {15, 15}, k.thickness, 8, k.shift);
    EXPECT_EQ(RasterStatus(), k.status) << k.thickness << " " << k.shift;
  }
  DrawLineCoverage(c.image, 2, 2, 15, 15, false, 256);
  EXPECT_EQ(RasterStatus(), raster::kOutOfRange);
  EXPECT_EQ(c.Sum(), 0);
  // Polylines accept -1 (one pixel wide) but not -2.
  Point pts[2] = {{2, 2}, {15, 2}};
  const Point* contour = pts;
  int32_t count = 2;
  ClearRasterStatus();
  raster::DrawPolyLines(c.Canvas(), &contour, &count, 1, false, -2, 8, 0);
  EXPECT_EQ(RasterStatus(), raster::kBadObject);
  EXPECT_EQ(c.Sum(), 0);
  ClearRasterStatus();
  raster::DrawPolyLines(c.Canvas(), &contour, &count, 1, false, -1, 8, 0);
  EXPECT_EQ(RasterStatus(), 0);
  EXPECT_EQ(c.Count(), 14);
}

TEST(ThickLines, AClosedPolylineHasRoundCorners) {
  for (bool aa : {false, true}) {
    Coverage c(80, 80);
    int32_t square[8] = {20, 20, 60, 20, 60, 60, 20, 60};
    DrawPolygonCoverage(c.image, square, 4, aa, 8);
    EXPECT_EQ(RasterStatus(), 0);
    // The middle of each side is covered 4 pixels out; the corner's diagonal is cut round.
    EXPECT_EQ(c.At(40, 17), 255) << aa;
    EXPECT_EQ(c.At(17, 40), 255) << aa;
    EXPECT_EQ(c.At(19, 19), 255) << aa;
    EXPECT_EQ(c.At(16, 16), 0) << aa;
    // A square corner would cover (63, 63) whole; the round one leaves it (nearly) empty.
    EXPECT_LT(c.At(63, 63), aa ? 255 : 1) << aa;
    EXPECT_EQ(c.At(40, 40), 0) << aa;  // an outline, not a fill
  }
}

TEST(PolygonFill, ASquareWithoutAntialiasingIsExactlyItsBlock) {
  Coverage c(10, 10);
  int32_t square[8] = {2, 2, 7, 2, 7, 7, 2, 7};
  DrawPolygonCoverage(c.image, square, 4, false, 0);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x)
      EXPECT_EQ(c.At(x, y), (x >= 2 && x <= 7 && y >= 2 && y <= 7) ? 255 : 0) << x << "," << y;
}

namespace {

double Cross(double ax, double ay, double bx, double by) { return ax * by - ay * bx; }

double SegmentDistance(double px, double py, double ax, double ay, double bx, double by) {
  double vx = bx - ax, vy = by - ay;
  double t = std::clamp(((px - ax) * vx + (py - ay) * vy) / (vx * vx + vy * vy), 0.0, 1.0);
  return std::hypot(px - ax - t * vx, py - ay - t * vy);
}

}  // namespace

TEST(PolygonFill, AnAntialiasedStarKeepsItsHoleItsOutlineAndItsArea) {
  const int n = 5;
  const double cx = 256, cy = 256, r = 200;
  std::vector<int32_t> pts;
  std::vector<double> vx, vy;
  for (int k = 0; k < n; ++k) {
    // Every second vertex: a pentagram whose middle is covered twice.
    double a = -M_PI / 2 + 2 * M_PI * (2 * k % n) / n;
    vx.push_back(std::round(cx + r * std::cos(a)));
    vy.push_back(std::round(cy + r * std::sin(a)));
    pts.push_back(int32_t(vx.back()));
    pts.push_back(int32_t(vy.back()));
  }
  Coverage c(512, 512);
  DrawPolygonCoverage(c.image, pts.data(), n, true, 0);
  EXPECT_EQ(RasterStatus(), 0);
  // Even-odd inside test and distance to the outline for every pixel centre.
  auto inside = [&](double px, double py) {
    bool in = false;
    for (int i = 0, j = n - 1; i < n; j = i++)
      if ((vy[i] > py) != (vy[j] > py) &&
          px < vx[j] + (vx[i] - vx[j]) * (py - vy[j]) / (vy[i] - vy[j]))
        in = !in;
    return in;
  };
  double outline = 0;
  for (int i = 0, j = n - 1; i < n; j = i++) outline += std::hypot(vx[i] - vx[j], vy[i] - vy[j]);
  int far = 0;
  for (int y = 0; y < 512; ++y)
    for (int x = 0; x < 512; ++x) {
      if (!c.At(x, y) || inside(x, y)) continue;
      double d = 1e9;
      for (int i = 0, j = n - 1; i < n; j = i++)
        d = std::min(d, SegmentDistance(x, y, vx[j], vy[j], vx[i], vy[i]));
      far += d > 2.0;
    }
  EXPECT_EQ(far, 0);
  EXPECT_EQ(c.At(256, 256), 0);    // the hole
  EXPECT_EQ(c.At(256, 100), 255);  // a point of the star
  // The analytic even-odd area: the points' triangles, i.e. twice the pentagram's signed-area
  // sum minus the pentagon, computed by sampling a fine grid exactly once per pixel quarter.
  double area = 0;
  for (int y = 0; y < 512 * 4; ++y)
    for (int x = 0; x < 512 * 4; ++x) area += inside((x + 0.5) / 4, (y + 0.5) / 4);
  area /= 16;
  EXPECT_NEAR(double(c.Sum()) / 255.0, area, 2 * outline);
  (void)Cross;
}

TEST(PolygonFill, DegenerateInputDrawsNothingOrASoundResult) {
  Coverage c(32, 32);
  auto draw = [&](std::vector<int32_t> p, bool aa) {
    ClearRasterStatus();
    DrawPolygonCoverage(c.image, p.data(), int32_t(p.size() / 2), aa, 0);
  };
  draw({}, false);
  EXPECT_EQ(c.Sum(), 0);
  draw({5, 5}, false);  // one point: its outline pixel
  EXPECT_EQ(c.Count(), 1);
  draw({5, 5, 20, 5, 28, 5}, false);  // all horizontal: the outline only
  EXPECT_EQ(c.Count(), 24);
  Coverage big(32, 32);
  auto start = std::chrono::steady_clock::now();
  for (bool aa : {false, true}) {
    // A triangle reaching 2^30 covers the canvas wholly; one far beyond it draws nothing.
    ClearRasterStatus();
    std::vector<int32_t> huge = {-(1 << 30), -(1 << 30), 1 << 30, -(1 << 30), 0, 1 << 30};
    DrawPolygonCoverage(big.image, huge.data(), 3, aa, 0);
    EXPECT_EQ(big.Count(), 32 * 32) << aa;
    Coverage away(32, 32);
    std::vector<int32_t> off = {1 << 30, 1 << 30, (1 << 30) + 9, 1 << 30, 1 << 30, (1 << 30) + 9};
    DrawPolygonCoverage(away.image, off.data(), 3, aa, 0);
    EXPECT_EQ(away.Sum(), 0);
    // Thick outlines and lines from far away take the same road.
    Coverage thick(32, 32);
    DrawPolygonCoverage(thick.image, huge.data(), 3, aa, 7);
    DrawLineCoverage(thick.image, -(1 << 30), 16, 1 << 30, 17, aa, 9);
    EXPECT_GT(thick.Count(), 32 * 5) << aa;
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  // Convex fills of fewer than three points draw only their outline.
  Coverage two(16, 16);
  Point seg[2] = {{2, 2}, {12, 2}};
  raster::FillConvexPolygon(two.Canvas(), seg, 2, 8, 0);
  EXPECT_EQ(two.Count(), 11);
}

TEST(Ellipse, OutlinePointsFromTheSineTable) {
  std::vector<Point> pts;
  raster::EllipseToPolygon({0, 0}, {10, 20}, 0, 0, 360, 90, &pts);
  ASSERT_EQ(pts.size(), 5u);
  EXPECT_EQ(pts[0].x, 10);
  EXPECT_EQ(pts[0].y, 0);
  EXPECT_EQ(pts[1].x, 0);
  EXPECT_EQ(pts[1].y, -20);
  EXPECT_EQ(pts[2].x, -10);
  EXPECT_EQ(pts[3].y, 20);
  // A tiny arc repeats its point to two; a span over a full turn is one turn.
  raster::EllipseToPolygon({0, 0}, {0, 0}, 0, 10, 20, 5, &pts);
  EXPECT_EQ(pts.size(), 2u);
  raster::EllipseToPolygon({0, 0}, {1000, 1000}, 45, -30, 700, 30, &pts);
  EXPECT_EQ(pts.size(), 13u);
  ClearRasterStatus();
  Coverage c(8, 8);
  raster::FillEllipseAntialiased(c.Canvas(), {4 << 16, 4 << 16}, {-1, 5}, 16);
  EXPECT_EQ(RasterStatus(), raster::kBadCount);
}
