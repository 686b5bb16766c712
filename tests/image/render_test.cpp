// Plotting through the render record: pixels, lines, coverage images, rectangles and the polygon
// scan fill into masks.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "image/image.h"
#include "image_fixture.h"

using namespace qv;
using qv::testimage::BitMapPtr;
using qv::testimage::Px;

namespace {

// A target of w x h pixels with an alpha and a mask plane, all cleared.
struct Target {
  int w, h;
  std::vector<uint32_t> pixels;
  std::vector<uint8_t> alpha, mask;
  qvRenderRecord r{};

  Target(int width, int height, uint32_t colour = 0xFF8040)
      : w(width),
        h(height),
        pixels(size_t(w * h)),
        alpha(size_t(w * h)),
        mask(size_t((w / 8 + 1) * h)) {
    r.pixels = pixels.data();
    r.pixelsPerRow = w;
    r.bytesPerPixel = 4;
    r.width = w;
    r.height = h;
    r.format = kPixARGB32;
    r.colour = r.pixel = colour;
    r.opacity = r.baseOpacity = 255;
    r.alphaBytesPerRow = w;
    r.maskBytesPerRow = w / 8 + 1;
  }
  uint32_t& At(int x, int y) { return pixels[size_t(y * w + x)]; }
  uint8_t& A(int x, int y) { return alpha[size_t(y * w + x)]; }
  bool M(int x, int y) { return (mask[size_t(y * (w / 8 + 1) + x / 8)] >> (7 - x % 8)) & 1; }
};

}  // namespace

TEST(PlotRenderPixel, StoresBlendsAndFeedsTheTargets) {
  Target t(4, 1, 0x00FF00);
  t.At(0, 0) = 0x000000;
  t.At(1, 0) = 0x000000;
  t.r.opacity = 255;
  PlotRenderPixel(t.r, 0, 0);
  EXPECT_EQ(t.At(0, 0), 0x00FF00u);
  // Opacity 128 blends d + (((k - d) x 128) >> 8).
  t.r.opacity = 128;
  PlotRenderPixel(t.r, 1, 0);
  EXPECT_EQ(t.At(1, 0), 0x007F00u);
  // With an alpha target the pixel is stored unblended and the alpha takes the opacity.
  t.r.alpha = t.alpha.data();
  t.r.opacity = 77;
  PlotRenderPixel(t.r, 2, 0);
  EXPECT_EQ(t.At(2, 0), 0x00FF00u);
  EXPECT_EQ(t.A(2, 0), 77);
  // A texture gives the pixel at the same coordinates.
  std::vector<uint32_t> texture = {1, 2, 3, 0xABCDEF};
  t.r.texture = texture.data();
  t.r.texturePixelsPerRow = 4;
  PlotRenderPixel(t.r, 3, 0);
  EXPECT_EQ(t.At(3, 0), 0xABCDEFu);
}

TEST(PlotRenderPixel, MaskModes) {
  struct Case {
    int mode;
    bool before, after;
  } cases[] = {{0, false, true}, {2, false, true}, {5, false, true}, {1, true, false},
               {3, true, false}, {3, false, true}, {4, true, true},  {4, false, false}};
  for (auto c : cases) {
    Target t(8, 1);
    t.r.pixels = nullptr;
    t.r.mask = t.mask.data();
    t.r.maskMode = c.mode;
    t.mask[0] = c.before ? 0x10 : 0;  // column 3
    PlotRenderPixel(t.r, 3, 0);
    EXPECT_EQ(t.M(3, 0), c.after) << c.mode << " " << c.before;
  }
}

TEST(PlotRenderPixel, ClipsToTheTargetTheRectangleAndTheClipMask) {
  Target t(8, 4, 0xFFFFFF);
  uint8_t clipMask[2] = {0x80, 0x40};  // row 0 column 0, row 1 column 1 of the clip rectangle
  t.r.clip = true;
  t.r.clipLeft = 2, t.r.clipTop = 1, t.r.clipWidth = 3, t.r.clipHeight = 2;
  t.r.clipMask = clipMask;
  t.r.clipMaskBytesPerRow = 1;
  for (int y = -1; y <= 4; ++y)
    for (int x = -1; x <= 8; ++x) PlotRenderPixel(t.r, x, y);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x) {
      bool want = (x == 2 && y == 1) || (x == 3 && y == 2);
      EXPECT_EQ(t.At(x, y), want ? 0xFFFFFFu : 0u) << x << "," << y;
    }
  // Without the clip flag only the target's size bounds the plot.
  Target u(2, 2, 0xFFFFFF);
  PlotRenderPixel(u.r, 2, 0);
  PlotRenderPixel(u.r, 0, 2);
  PlotRenderPixel(u.r, -1, -1);
  for (uint32_t p : u.pixels) EXPECT_EQ(p, 0u);
}

TEST(AntialiasedLine, VerticalLineGivesFullCoverageAndZeroToItsRight) {
  Target t(8, 8);
  t.r.alpha = t.alpha.data();
  std::memset(t.alpha.data(), 9, t.alpha.size());
  DrawAntialiasedLineKernel(t.r, 3, 1, 3, 6);
  for (int y = 0; y < 8; ++y) {
    bool on = y >= 1 && y <= 6;
    EXPECT_EQ(t.A(3, y), on ? 255 : 9) << y;
    EXPECT_EQ(t.A(4, y), on ? 0 : 9) << y;
  }
}

TEST(AntialiasedLine, CoveragesShareTheStepAndTheBaseOpacityScales) {
  Target t(8, 4);
  t.r.alpha = t.alpha.data();
  // A flat line from (0, 0) to (4, 2): y grows by 0.5 a column.
  DrawAntialiasedLineKernel(t.r, 4, 2, 0, 0);
  int want[5][2] = {{255, 0}, {127, 128}, {255, 0}, {127, 128}, {255, 0}};
  int rows[5] = {0, 0, 1, 1, 2};
  for (int x = 0; x < 5; ++x) {
    EXPECT_EQ(t.A(x, rows[x]), want[x][0]) << x;
    EXPECT_EQ(t.A(x, rows[x] + 1), want[x][1]) << x;
  }
  // A single point plots at the base opacity; coverages are scaled by base / 255.
  Target u(4, 4);
  u.r.alpha = u.alpha.data();
  u.r.baseOpacity = 100;
  DrawAntialiasedLineKernel(u.r, 1, 1, 1, 1);
  EXPECT_EQ(u.A(1, 1), 100);
  DrawAntialiasedLineKernel(u.r, 3, 0, 3, 2);
  EXPECT_EQ(u.A(3, 0), 100);  // 255 x 100 / 255
}

TEST(AntialiasedLine, FarEndsCostNothingAndDrawOnlyTheVisiblePart) {
  Target t(16, 16);
  t.r.alpha = t.alpha.data();
  DrawAntialiasedLineKernel(t.r, 5, -1000000000, 5, 1000000000);
  for (int y = 0; y < 16; ++y) EXPECT_EQ(t.A(5, y), 255) << y;
  DrawAntialiasedLineKernel(t.r, INT32_MIN, 3, INT32_MAX, 3);
  for (int x = 0; x < 16; ++x) EXPECT_GT(t.A(x, 3) + t.A(x, 4), 0) << x;
}

TEST(ThickLine, RunsAcrossTheMajorAxis) {
  struct Case {
    int x1, y1, x2, y2, thickness;
    int run;  // pixels per step across the line
  } cases[] = {
      {2, 5, 12, 5, 3, 3},   // flat: 3 / cos 0
      {5, 1, 5, 12, 4, 4},   // steep
      {0, 0, 10, 10, 3, 4},  // 45 degrees: trunc(3 x sqrt 2)
      {3, 3, 3, 3, 5, 1},    // a point: one pixel
      {1, 8, 14, 8, 0, 1},   // thickness 0 still plots one
  };
  for (auto c : cases) {
    Target t(16, 16, 0xFFFFFF);
    t.r.thickness = c.thickness;
    DrawLineKernel(t.r, c.x1, c.y1, c.x2, c.y2);
    // The column (flat) or row (steep) through the line's middle step holds the run.
    bool steep = std::abs(c.y2 - c.y1) > std::abs(c.x2 - c.x1);
    int mid = steep ? (c.y1 + c.y2) / 2 : (c.x1 + c.x2) / 2;
    int count = 0;
    for (int k = 0; k < 16; ++k) count += (steep ? t.At(k, mid) : t.At(mid, k)) != 0;
    EXPECT_EQ(count, c.run) << c.x1 << "," << c.y1 << " t" << c.thickness;
  }
}

TEST(ThickLine, IsCentredAndFollowsBresenham) {
  Target t(16, 16, 0xFFFFFF);
  t.r.thickness = 1;
  DrawLineKernel(t.r, 0, 0, 6, 3);
  // Bresenham of (0,0)-(6,3): rows 0 0 1 1 2 2 3 with error 2*3-6 = 0 at the start.
  int rows[7] = {0, 1, 1, 2, 2, 3, 3};
  for (int x = 0; x < 7; ++x)
    for (int y = 0; y < 5; ++y) EXPECT_EQ(t.At(x, y) != 0, y == rows[x]) << x << "," << y;
  Target u(16, 16, 0xFFFFFF);
  u.r.thickness = 5;
  DrawLineKernel(u.r, 2, 8, 12, 8);
  for (int y = 0; y < 16; ++y) EXPECT_EQ(u.At(7, y) != 0, y >= 6 && y <= 10) << y;
  // A line crossing the target from far away draws only its visible steps, the same pixels.
  Target v(16, 16, 0xFFFFFF);
  v.r.thickness = 1;
  DrawLineKernel(v.r, -1000000000, 8, 1000000000, 8);
  for (int x = 0; x < 16; ++x) EXPECT_NE(v.At(x, 8), 0u) << x;
}

TEST(BlendCoverage, PlotsEveryNonZeroByteAndTheSecondPlaneAtTheEntryOpacity) {
  Target t(6, 3);
  t.r.alpha = t.alpha.data();
  t.r.opacity = 200;
  t.r.baseOpacity = 255;
  uint8_t coverage[8] = {0, 10, 255, 0, 0, 0, 60, 0};
  uint8_t second[8] = {0, 0, 0, 1, 0, 0, 1, 0};
  BlendCoverageKernel(coverage, second, 1, t.r, 4, 2, 4, 1);
  EXPECT_EQ(t.A(1, 1), 0);
  EXPECT_EQ(t.A(2, 1), 10);
  EXPECT_EQ(t.A(3, 1), 255);
  EXPECT_EQ(t.A(4, 1), 200);  // second plane
  EXPECT_EQ(t.A(3, 2), 200);  // second plane beats the coverage 60
  // Half off the target: clipped, never written beyond.
  Target u(2, 2);
  u.r.alpha = u.alpha.data();
  uint8_t full[16];
  std::memset(full, 255, sizeof full);
  BlendCoverageKernel(full, nullptr, -2, u.r, 4, 4, 4, -2);
  EXPECT_EQ(u.A(0, 0), 255);
  EXPECT_EQ(u.A(1, 1), 255);
}

TEST(FillBitMapRectRender, FillsTheClippedRectangle) {
  BitMapPtr b(AllocBitMap(5, 4));
  FillBitMapRect(b.get(), 0, 0, 5, 4, 0);
  FillBitMapRectRender(b.get(), -2, 1, 4, 10, 0x123456);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x)
      EXPECT_EQ(Px(b.get(), x, y), (x < 2 && y >= 1) ? 0x123456u : 0u) << x << "," << y;
}

namespace {

std::vector<std::string> FillPolygon(std::vector<int32_t> points, int w, int h) {
  std::vector<uint8_t> mask(size_t((w / 8 + 1) * h));
  std::vector<int32_t> crossings(points.size() / 2 + 1);
  FillPolygonKernel(mask.data(), w / 8 + 1, w, h, crossings.data(), points.data(),
                    int32_t(points.size() / 2));
  std::vector<std::string> rows;
  for (int y = 0; y < h; ++y) {
    std::string row;
    for (int x = 0; x < w; ++x)
      row += (mask[size_t(y * (w / 8 + 1) + x / 8)] >> (7 - x % 8)) & 1 ? '#' : '.';
    rows.push_back(row);
  }
  return rows;
}

}  // namespace

TEST(FillPolygon, TriangleWithAHorizontalTopFillsItsTopRowCornerToCorner) {
  auto rows = FillPolygon({1, 0, 9, 0, 5, 4}, 12, 6);
  EXPECT_EQ(rows[0], ".#########..");
  EXPECT_EQ(rows[1], "..#######...");
  EXPECT_EQ(rows[2], "...#####....");
  EXPECT_EQ(rows[3], "....###.....");
  // The last row counts edges that end on it: the apex is filled.
  EXPECT_EQ(rows[4], ".....#......");
  EXPECT_EQ(rows[5], "............");
}

TEST(FillPolygon, ClipsToTheMaskAndSurvivesDegenerateInput) {
  // A square far larger than the mask fills it whole, nothing beyond.
  auto rows = FillPolygon({-100000, -100000, 100000, -100000, 100000, 100000, -100000, 100000}, 10,
                          3);
  for (auto& r : rows) EXPECT_EQ(r, "##########");
  // Coordinates near 2^30 and all-horizontal or too short outlines fill nothing.
  for (auto pts : std::vector<std::vector<int32_t>>{
           {1 << 30, 1 << 30, -(1 << 30), 1 << 30, 0, (1 << 30) + 5},
           {0, 2, 5, 2, 9, 2},
           {3, 3},
       })
    for (auto& r : FillPolygon(pts, 10, 3)) EXPECT_EQ(r, "..........");
  // A bow tie: each row pairs its crossings left to right.
  rows = FillPolygon({0, 0, 8, 4, 8, 0, 0, 4}, 9, 5);
  EXPECT_EQ(rows[1], "###...###");
}
