// Shape geometry and rasterising: the ellipse generator's steps and angle ranges, arcs, rounded
// and rotated boxes, the edge outline and the form margins, the polygon fill against a model of
// the coverage rasteriser, anti-aliased and plain circles, the composition of shadow, edge and
// body, texture and gradient fills, and the pictures that cannot be had.
#include "display/shapes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "base/errors.h"
#include "display/brushes.h"
#include "display/displays.h"
#include "display/records.h"
#include "image/image.h"

namespace qv {
namespace {

qvShapeParams Shape(int32_t type, int32_t width, int32_t height) {
  qvShapeParams p{};
  p.type = type;
  p.width = width;
  p.height = height;
  return p;
}

qvDrawStyle Style(int32_t fill, int32_t form = kFormNormal) {
  qvDrawStyle s;
  InitDrawStyle(&s);
  s.fillStyle = fill;
  s.formStyle = form;
  return s;
}

// A shape's outline and its picture, freed with the fixture.
struct Drawn {
  qvShapeOutline outline;
  qvShapeImage image{};
  Drawn() = default;
  Drawn(const Drawn&) = delete;
  ~Drawn() { FreeShapeImage(&image); }

  bool Covered(int32_t x, int32_t y) const {
    if (x < 0 || y < 0 || x >= image.width || y >= image.height) return false;
    if (image.mask) return ReadBitMapPixel(image.mask, x, y) != 0;
    return Alpha(x, y) != 0;
  }
  uint8_t Alpha(int32_t x, int32_t y) const {
    return image.alpha->data[int64_t(y) * image.alpha->bytesPerRow + x];
  }
  uint32_t Pixel(int32_t x, int32_t y) const { return ReadBitMapPixel(image.bitmap, x, y); }
};

int Draw(const qvShapeParams& p, const qvDrawStyle& style, Drawn* d, uint32_t colour = 0xFF0000) {
  int code = MakeShapeOutline(p, &d->outline);
  if (code != 0) return code;
  const qvShapeMatrix m = p.transform ? ShapeMatrixOf(*p.transform) : kIdentityShapeMatrix;
  return RasteriseShape(nullptr, d->outline, {colour, &style, m, false}, &d->image);
}

int32_t FullEllipseCount(double r) {
  std::vector<qvPointD> pts;
  return GenerateEllipseArc(&pts, r, r, r, r, 0, 360, kIdentityShapeMatrix, r, r, false, false);
}

TEST(ShapeGeometry, EllipsePointCountsFollowTheRadius) {
  // 90 degrees below 3, 30 up to 9, 18 up to 14, 5 from 15: 360 / step + 1 points (the last
  // point repeats the first and closes the outline).
  struct Row {
    double radius;
    int32_t points;
  } rows[] = {{1, 5}, {2, 5}, {3, 13}, {9, 13}, {10, 21}, {14, 21}, {15, 73}, {20, 73}, {200, 73}};
  for (const Row& row : rows) EXPECT_EQ(FullEllipseCount(row.radius), row.points) << row.radius;
  // The larger radius decides (a flat ellipse drops its repeated points, but has more than the
  // 21 of an 18-degree step), and a radius of 0 still gives two points.
  std::vector<qvPointD> pts;
  EXPECT_GT(
      GenerateEllipseArc(&pts, 20, 2, 20, 2, 0, 360, kIdentityShapeMatrix, 0, 0, false, false), 21);
  pts.clear();
  EXPECT_EQ(GenerateEllipseArc(&pts, 0, 0, 0, 0, 0, 360, kIdentityShapeMatrix, 0, 0, false, false),
            2);

  // The outline of a circle of radius 2 (drawn 5 wide) is closed with 5 points, of radius 20 with
  // 73; its points lie on the circle around the drawn size's centre.
  std::vector<qvPointD> outline;
  EXPECT_EQ(
      BuildShapeOutline(Shape(kShapeCircle, 5, 5), 5, 5, kIdentityShapeMatrix, 0.5, 0.5, &outline),
      5);
  EXPECT_EQ(outline.front().x, 4);
  EXPECT_EQ(outline.front().y, 2);
  EXPECT_EQ(outline[1].x, 2);  // 90 degrees: up on the screen
  EXPECT_EQ(outline[1].y, 0);
  EXPECT_EQ(BuildShapeOutline(Shape(kShapeCircle, 41, 41), 41, 41, kIdentityShapeMatrix, 0.5, 0.5,
                              &outline),
            73);
  // Coordinates are cut to whole pixels (toward the top left), so within 1.5 of the circle.
  for (const qvPointD& p : outline) EXPECT_NEAR(std::hypot(p.x - 20, p.y - 20), 20, 1.5);
}

TEST(ShapeGeometry, HugeAnglesAreBroughtIntoRangeAtOnce) {
  // The angle that the clockwise flag raises above the other may be millions of turns below it:
  // the slice is the one of the angles within a turn, and costs no more, since whole turns are
  // divided off, never stepped.
  auto arc = [](int32_t start, int32_t end, bool clockwise) {
    qvShapeParams p = Shape(kShapeArc, 41, 41);
    p.startAngle = start;
    p.endAngle = end;
    p.clockwise = clockwise;
    std::vector<qvPointD> pts;
    BuildShapeOutline(p, 41, 41, kIdentityShapeMatrix, 0.5, 0.5, &pts);
    return pts;
  };
  const auto began = std::chrono::steady_clock::now();
  struct Row {
    int32_t start, end;
    bool clockwise;
    int32_t sameStart, sameEnd;
  } rows[] = {
      {10, 100 + 360 * 5000000, false, 10, 100},
      {10 + 360 * 5000000, 100, true, 10, 100},
      {0, INT32_MAX, false, 0, INT32_MAX % 360},
      {INT32_MAX, 0, true, INT32_MAX % 360, 0},
  };
  for (const Row& row : rows) {
    const auto a = arc(row.start, row.end, row.clockwise);
    const auto b = arc(row.sameStart, row.sameEnd, row.clockwise);
    ASSERT_EQ(a.size(), b.size()) << row.start << " " << row.end;
    for (size_t i = 0; i < a.size(); ++i) {
      EXPECT_EQ(a[i].x, b[i].x);
      EXPECT_EQ(a[i].y, b[i].y);
    }
  }
  std::vector<qvPointD> pts;
  GenerateEllipseArc(&pts, 10, 10, 10, 10, INT64_C(-4000000000000), INT64_C(4000000000000),
                     kIdentityShapeMatrix, 10, 10, true, true);
  EXPECT_EQ(pts.size(), 2u + 21u);  // bounds, then the whole ellipse: a span above 360
  // The other way round the same angles span millions of turns: the whole ellipse.
  EXPECT_EQ(arc(10 + 360 * 5000000, 100, false).size(), arc(0, 360, true).size());
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(1));
}

TEST(ShapeGeometry, BoundsWalkIsTheEllipsesOwnBox) {
  // The two leading points are the whole ellipse's box wherever it lies, also far from the
  // origin on either side (a walk started from +-100000 kept the sentinel there).
  for (double c : {0.0, 150000.0, -150000.0, 250000.0}) {
    std::vector<qvPointD> pts;
    GenerateEllipseArc(&pts, c, c + 7, 10, 5, 0, 45, kIdentityShapeMatrix, c, c, true, true);
    ASSERT_GE(pts.size(), 4u);
    EXPECT_EQ(pts[0].x, c - 10);
    EXPECT_EQ(pts[0].y, c + 7 - 5);
    EXPECT_EQ(pts[1].x, c + 10);
    EXPECT_EQ(pts[1].y, c + 7 + 5);
    EXPECT_EQ(pts.back().x, c);  // the pie's centre
    EXPECT_EQ(pts.back().y, c + 7);
  }
}

TEST(ShapeGeometry, ArcSlicesWithBothFlagsAreComplementary) {
  // 0 to 90 clockwise is the quarter below and right of the centre (90 is down); the other flag
  // draws the rest. Together they cover the filled circle; apart they meet only along the radii.
  const qvDrawStyle fill = Style(kFillColour);
  Drawn circle, cw, ccw;
  ASSERT_EQ(Draw(Shape(kShapeCircle, 41, 41), fill, &circle), 0);
  qvShapeParams p = Shape(kShapeArc, 41, 41);
  p.startAngle = 0;
  p.endAngle = 90;
  p.clockwise = true;
  ASSERT_EQ(Draw(p, fill, &cw), 0);
  p.clockwise = false;
  ASSERT_EQ(Draw(p, fill, &ccw), 0);
  // Both slices keep the frame of their whole ellipse.
  for (const Drawn* d : {&cw, &ccw}) {
    EXPECT_EQ(d->outline.x, 0);
    EXPECT_EQ(d->outline.y, 0);
    EXPECT_EQ(d->image.width, 41);
    EXPECT_EQ(d->image.height, 41);
  }
  EXPECT_TRUE(cw.Covered(30, 30));
  EXPECT_FALSE(ccw.Covered(30, 30));
  for (auto [x, y] : {std::pair{10, 10}, {30, 10}, {10, 30}}) {
    EXPECT_FALSE(cw.Covered(x, y)) << x << "," << y;
    EXPECT_TRUE(ccw.Covered(x, y)) << x << "," << y;
  }
  int32_t both = 0;
  for (int32_t y = 0; y < 41; ++y) {
    for (int32_t x = 0; x < 41; ++x) {
      const bool a = cw.Covered(x, y), b = ccw.Covered(x, y);
      EXPECT_EQ(a || b, circle.Covered(x, y)) << x << "," << y;
      if (a && b) {
        ++both;
        EXPECT_TRUE(x == 20 || y == 20) << "overlap off the radii at " << x << "," << y;
      }
    }
  }
  EXPECT_GT(both, 0);
}

TEST(ShapeGeometry, RoundedBoxCornersFollowTheRadiusRule) {
  // Level 100 on 20 x 10: the radius is half the smaller side, 5.
  qvShapeParams p = Shape(kShapeBox, 20, 10);
  for (int32_t& c : p.corners) c = 100;
  std::vector<qvPointD> pts;
  BuildShapeOutline(p, 20, 10, kIdentityShapeMatrix, 0.5, 0.5, &pts);
  auto has = [&](double x, double y) {
    for (const qvPointD& q : pts)
      if (q.x == x && q.y == y) return true;
    return false;
  };
  for (auto [x, y] : {std::pair{5, 0}, {0, 5}, {14, 0}, {19, 5}, {0, 4}, {5, 9}, {14, 9}, {19, 4}})
    EXPECT_TRUE(has(x, y)) << x << "," << y;
  EXPECT_EQ(pts.front().x, pts.back().x);
  EXPECT_EQ(pts.front().y, pts.back().y);

  Drawn d;
  ASSERT_EQ(Draw(p, Style(kFillColour), &d), 0);
  EXPECT_EQ(d.image.width, 20);
  EXPECT_EQ(d.image.height, 10);
  for (auto [x, y] : {std::pair{0, 0}, {19, 0}, {0, 9}, {19, 9}})
    EXPECT_FALSE(d.Covered(x, y)) << x << "," << y;
  for (auto [x, y] : {std::pair{10, 0}, {0, 5}, {19, 5}, {10, 9}, {10, 5}})
    EXPECT_TRUE(d.Covered(x, y)) << x << "," << y;

  // Each corner has its own level (top-left, top-right, bottom-right, bottom-left); level 0
  // counts as 1, which on this box is a radius of 0: a square corner.
  p.corners[0] = 0;
  p.corners[1] = 100;
  p.corners[2] = 0;
  p.corners[3] = 100;
  Drawn e;
  ASSERT_EQ(Draw(p, Style(kFillColour), &e), 0);
  EXPECT_TRUE(e.Covered(0, 0));
  EXPECT_FALSE(e.Covered(19, 0));
  EXPECT_TRUE(e.Covered(19, 9));
  EXPECT_FALSE(e.Covered(0, 9));
}

TEST(ShapeGeometry, RotatedBoxesTurnAboutTheAnchor) {
  qvTransformBlock t;
  InitTransformBlock(&t);
  t.anchorX = t.anchorY = 0.5;
  // A quarter turn as the display options make it: the 21 x 5 box stands up as 5 x 21.
  BuildTransformMatrix(&t, 0, 0, 21, 5, 1.0, 1.0, 90.0);
  qvShapeParams p = Shape(kShapeBox, 21, 5);
  p.transform = &t;
  Drawn d;
  ASSERT_EQ(Draw(p, Style(kFillColour), &d), 0);
  EXPECT_NEAR(d.image.width, 5, 1);
  EXPECT_NEAR(d.image.height, 21, 1);
  // It turned about its centre: the picture's centre stays at the box's centre (10, 2).
  EXPECT_NEAR(d.outline.x + d.outline.width / 2.0, 10.5, 1.0);
  EXPECT_NEAR(d.outline.y + d.outline.height / 2.0, 2.5, 1.0);
  int32_t covered = 0;
  for (int32_t y = 0; y < d.image.height; ++y)
    for (int32_t x = 0; x < d.image.width; ++x) covered += d.Covered(x, y);
  EXPECT_NEAR(covered, 21 * 5, 21 + 5);

  // The anchor at the top-left corner: the box turns about that corner instead, and the same
  // turn brings the box into the rows above it (a positive angle turns counter-clockwise on the
  // screen, as the image engine turns a brush with this matrix).
  t.anchorX = t.anchorY = 0.0;
  Drawn c;
  ASSERT_EQ(Draw(p, Style(kFillColour), &c), 0);
  EXPECT_NEAR(c.outline.x, 0, 1);
  EXPECT_NEAR(c.outline.y, -20, 1);
  int32_t outX = 0, outY = 0, outW = 0, outH = 0;
  double m[4] = {t.matrix[0], t.matrix[1], t.matrix[2], t.matrix[3]};
  GetTransformedBounds(0, 0, 21, 5, 0.0, 0.0, m, &outX, &outY, &outW, &outH);
  EXPECT_NEAR(c.outline.y, outY, 1);

  // 45 degrees: a diamond-like rectangle whose box corners stay empty.
  InitTransformBlock(&t);
  BuildTransformMatrix(&t, 0, 0, 31, 31, 1.0, 1.0, 45.0);
  qvShapeParams sq = Shape(kShapeBox, 31, 31);
  sq.transform = &t;
  Drawn r;
  ASSERT_EQ(Draw(sq, Style(kFillColour), &r), 0);
  EXPECT_NEAR(r.image.width, 43, 1);
  EXPECT_FALSE(r.Covered(2, 2));
  EXPECT_FALSE(r.Covered(r.image.width - 3, r.image.height - 3));
  EXPECT_TRUE(r.Covered(r.image.width / 2, r.image.height / 2));
  EXPECT_TRUE(r.Covered(r.image.width / 2, 1));
}

TEST(ShapeGeometry, TurnedEllipsesKeepTheBoxOfTheirBox) {
  // An ellipse and a rounded box turn inside the box they fill: by quarter turns about any anchor
  // their outline's box is the turned box's (the ellipse and corners are generated already
  // turned, the plain box's corners are turned afterwards, so this ties the two roads).
  for (double angle : {90.0, 180.0, 270.0}) {
    for (auto [ax, ay] : {std::pair{0.0, 0.0}, {0.5, 0.5}, {1.0, 0.25}}) {
      qvTransformBlock t;
      InitTransformBlock(&t);
      BuildTransformMatrix(&t, 0, 0, 41, 21, 1.0, 1.0, angle);
      t.anchorX = ax;
      t.anchorY = ay;
      qvShapeOutline box, ellipse, rounded;
      qvShapeParams p = Shape(kShapeBox, 41, 21);
      p.transform = &t;
      ASSERT_EQ(MakeShapeOutline(p, &box), 0);
      for (int32_t& c : p.corners) c = 60;
      ASSERT_EQ(MakeShapeOutline(p, &rounded), 0);
      p = Shape(kShapeEllipse, 41, 21);
      p.transform = &t;
      ASSERT_EQ(MakeShapeOutline(p, &ellipse), 0);
      for (const qvShapeOutline* o : {&ellipse, &rounded}) {
        SCOPED_TRACE(testing::Message() << angle << " " << ax << "," << ay);
        EXPECT_NEAR(o->x, box.x, 1);
        EXPECT_NEAR(o->y, box.y, 1);
        EXPECT_NEAR(o->width, box.width, 1);
        EXPECT_NEAR(o->height, box.height, 1);
      }
    }
  }
}

TEST(ShapeGeometry, BoundsRotationAndNormalising) {
  std::vector<qvPointD> pts = {{3, -4}, {10, 2}, {-1, 7}};
  int32_t x = 0, y = 0, w = 0, h = 0;
  ShapeBounds(pts.data(), 3, &x, &y, &w, &h);
  EXPECT_EQ(x, -1);
  EXPECT_EQ(y, -4);
  EXPECT_EQ(w, 12);
  EXPECT_EQ(h, 12);
  EXPECT_EQ(pts[2].x, 0);
  EXPECT_EQ(pts[0].y, 0);
  ShapeBounds(pts.data(), 0, &x, &y, &w, &h);
  EXPECT_EQ(x, 100000);
  EXPECT_EQ(y, 100000);

  // The identity leaves the points (and without normalising their place), a half turn about the
  // centre of a 11 x 11 area mirrors them through (5.5, 5.5) and truncates.
  std::vector<qvPointD> q = {{2, 3}, {8, 3}};
  RotateShapePoints(kIdentityShapeMatrix, 0.5, 0.5, 11, 11, q.data(), 2, false, &x, &y, &w, &h);
  EXPECT_EQ(q[0].x, 2);
  EXPECT_EQ(x, 2);
  EXPECT_EQ(w, 7);
  RotateShapePoints({-1, 0, 0, -1}, 0.5, 0.5, 11, 11, q.data(), 2, true, &x, &y, &w, &h);
  EXPECT_EQ(x, 3);  // 11 - 8, truncated
  EXPECT_EQ(y, 8);
  EXPECT_EQ(q[1].x, 0);
  EXPECT_EQ(q[0].x, 6);
}

TEST(ShapeGeometry, OffsetOutlineIsMitred) {
  auto same = [](const std::vector<qvPointD>& got, const std::vector<qvPointD>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].x, want[i].x) << i;
      EXPECT_EQ(got[i].y, want[i].y) << i;
    }
  };
  // A square grows by the distance on every side whichever way it runs; the closing repeats and
  // a point in the middle of a side (a straight corner) change nothing.
  const std::vector<qvPointD> grown = {{-2, -2}, {12, -2}, {12, 12}, {-2, 12}, {-2, -2}};
  std::vector<qvPointD> square = {{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}, {0, 0}};
  same(OffsetOutline(square.data(), 6, 2), grown);
  std::vector<qvPointD> reversed = {{0, 0}, {0, 10}, {10, 10}, {10, 0}};
  same(OffsetOutline(reversed.data(), 4, 2), {{-2, -2}, {-2, 12}, {12, 12}, {12, -2}, {-2, -2}});
  std::vector<qvPointD> withMiddle = {{0, 0}, {5, 0}, {10, 0}, {10, 10}, {0, 10}};
  same(OffsetOutline(withMiddle.data(), 5, 2),
       {{-2, -2}, {5, -2}, {12, -2}, {12, 12}, {-2, 12}, {-2, -2}});
  // A right triangle: the sharp corner's mitre reaches further than the distance.
  std::vector<qvPointD> tri = {{0, 0}, {20, 0}, {0, 20}};
  const auto t = OffsetOutline(tri.data(), 3, 2);
  ASSERT_EQ(t.size(), 4u);
  EXPECT_EQ(t[0].x, -2);
  EXPECT_EQ(t[0].y, -2);
  EXPECT_EQ(t[1].x, std::round(20 + 2 + 2 * std::sqrt(2.0)));  // 20 + 2 / tan(22.5 degrees)
  EXPECT_EQ(t[1].y, -2);
  // Degenerate lists stay finite: one point, a line folded back on itself, repeated points.
  for (std::vector<qvPointD> odd : std::vector<std::vector<qvPointD>>{
           {{5, 5}}, {{0, 0}, {10, 0}}, {{0, 0}, {0, 0}, {0, 0}}, {{0, 0}, {10, 0}, {0, 0}}}) {
    for (const qvPointD& p : OffsetOutline(odd.data(), int32_t(odd.size()), 3)) {
      EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));
      EXPECT_LE(std::fabs(p.x) + std::fabs(p.y), 40);
    }
  }
  EXPECT_TRUE(OffsetOutline(nullptr, 0, 2).empty());
}

TEST(ShapeGeometry, FormMargins) {
  struct Row {
    int32_t direction;
    int32_t left, top, right, bottom;
  } rows[] = {{kShadowNorth, 0, 4, 0, 0}, {kShadowNorthEast, 0, 4, 4, 0},
              {kShadowEast, 0, 0, 4, 0},  {kShadowSouthEast, 0, 0, 4, 4},
              {kShadowSouth, 0, 0, 0, 4}, {kShadowSouthWest, 4, 0, 0, 4},
              {kShadowWest, 4, 0, 0, 0},  {kShadowNorthWest, 4, 4, 0, 0}};
  for (const Row& r : rows) {
    int32_t l, t, rt, b;
    ShadowPaddings(4, r.direction, &l, &t, &rt, &b);
    EXPECT_EQ(l, r.left) << r.direction;
    EXPECT_EQ(t, r.top) << r.direction;
    EXPECT_EQ(rt, r.right) << r.direction;
    EXPECT_EQ(b, r.bottom) << r.direction;
    ShadowPaddings(0, r.direction, &l, &t, &rt, &b);
    EXPECT_EQ(l + t + rt + b, 0);
  }

  qvDrawStyle s = Style(kFillColour, kFormShadow);
  s.shadowDirection = kShadowSouthEast;
  qvFormBox box = FormStyleBox(10, 20, 30, 40, s);
  EXPECT_EQ(box.x, 10);
  EXPECT_EQ(box.width, 34);
  EXPECT_EQ(box.height, 44);
  s.shadowDirection = kShadowNorth;
  box = FormStyleBox(10, 20, 30, 40, s);
  EXPECT_EQ(box.width, 30);
  EXPECT_EQ(box.height, 44);
  EXPECT_EQ(box.boxY, 24);
  s.formStyle = kFormShadow | kFormEdge;
  s.edgeSize = 2;
  s.shadowDirection = kShadowWest;
  s.shadowDistance = 3;
  box = FormStyleBox(10, 20, 30, 40, s);
  EXPECT_EQ(box.x, 8);
  EXPECT_EQ(box.y, 18);
  EXPECT_EQ(box.width, 37);
  EXPECT_EQ(box.height, 44);
  EXPECT_EQ(box.boxX, 13);
  EXPECT_EQ(box.boxY, 20);

  // The shape's picture grows by the same margins: SHDWSOUTHEAST by 4 to the right and down,
  // SHDWNORTH only in height.
  qvDrawStyle shadowed = Style(kFillColour, kFormShadow);
  Drawn se, n;
  ASSERT_EQ(Draw(Shape(kShapeBox, 10, 6), shadowed, &se), 0);
  EXPECT_EQ(se.image.width, 14);
  EXPECT_EQ(se.image.height, 10);
  EXPECT_EQ(se.image.x, 0);
  shadowed.shadowDirection = kShadowNorth;
  ASSERT_EQ(Draw(Shape(kShapeBox, 10, 6), shadowed, &n), 0);
  EXPECT_EQ(n.image.width, 10);
  EXPECT_EQ(n.image.height, 10);
}

// ---- the integer polygon fill against a model of the coverage rasteriser ----

using Grid = std::vector<std::vector<bool>>;

// The 8-connected line iterator: left to right, the major axis stepped every pixel, the minor one
// while the error is negative.
void ModelLine(Grid& g, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  if (x2 < x1) {
    std::swap(x1, x2);
    std::swap(y1, y2);
  }
  int32_t dx = x2 - x1, dy = std::abs(y2 - y1);
  const int32_t ys = y2 < y1 ? -1 : 1;
  int32_t majorX = 1, majorY = 0, minorX = 0, minorY = ys;
  if (dy > dx) {
    std::swap(dx, dy);
    majorX = 0;
    majorY = ys;
    minorX = 1;
    minorY = 0;
  }
  int32_t err = dx - 2 * dy, x = x1, y = y1;
  for (int32_t i = 0; i <= dx; ++i) {
    g[size_t(y)][size_t(x)] = true;
    const bool negative = err < 0;
    x += majorX;
    y += majorY;
    err -= 2 * dy;
    if (negative) {
      x += minorX;
      y += minorY;
      err += 2 * dx;
    }
  }
}

// Outline lines, then per row the even-odd spans between edges (x in 16.16 from the top end,
// the step truncated), each from the left crossing rounded up to the right one rounded down.
Grid ModelPolygon(const std::vector<qvPointI>& pts, int32_t w, int32_t h) {
  Grid g{size_t(h), std::vector<bool>(size_t(w), false)};
  const size_t n = pts.size();
  struct Edge {
    int64_t x, dx;
    int32_t top, bottom;
  };
  std::vector<Edge> edges;
  for (size_t i = 0; i < n; ++i) {
    const qvPointI a = pts[(i + n - 1) % n], b = pts[i];
    ModelLine(g, a.x, a.y, b.x, b.y);
    if (a.y == b.y) continue;
    const qvPointI t = a.y < b.y ? a : b, u = a.y < b.y ? b : a;
    edges.push_back({int64_t(t.x) << 16, ((int64_t(u.x) - t.x) << 16) / (u.y - t.y), t.y, u.y});
  }
  for (int32_t y = 0; y < h; ++y) {
    std::vector<int64_t> xs;
    for (const Edge& e : edges)
      if (e.top <= y && y < e.bottom) xs.push_back(e.x + e.dx * (y - e.top));
    std::sort(xs.begin(), xs.end());
    for (size_t i = 0; i + 1 < xs.size(); i += 2) {
      for (int64_t x = (xs[i] + 0xFFFF) >> 16; x <= xs[i + 1] >> 16; ++x)
        if (x >= 0 && x < w) g[size_t(y)][size_t(x)] = true;
    }
  }
  return g;
}

TEST(ShapeRaster, IntegerPolygonFillMatchesTheRasteriserModel) {
  const std::vector<std::vector<qvPointD>> polygons = {
      // A pentagram (its centre is a hole by the even-odd rule), placed away from the origin.
      {{120, 100}, {138, 155}, {91, 121}, {149, 121}, {102, 155}},
      // A concave arrow with steep and flat edges and a horizontal one.
      {{-30, -7}, {10, -7}, {10, -20}, {35, 3}, {10, 26}, {10, 13}, {-30, 13}},
      // A thin sliver and a repeated point.
      {{0, 0}, {57, 3}, {57, 3}, {1, 9}},
  };
  for (const auto& poly : polygons) {
    qvShapeParams p = Shape(kShapePolygon, 0, 0);
    p.points = poly.data();
    p.pointCount = int32_t(poly.size());
    Drawn d;
    ASSERT_EQ(Draw(p, Style(kFillColour), &d), 0);
    // Placed by its smallest point.
    double minX = poly[0].x, minY = poly[0].y;
    for (const qvPointD& q : poly) {
      minX = std::min(minX, q.x);
      minY = std::min(minY, q.y);
    }
    EXPECT_EQ(d.outline.x, minX);
    EXPECT_EQ(d.outline.y, minY);
    ASSERT_EQ(d.image.alpha, nullptr);  // plain: a mask, no partial levels
    std::vector<qvPointI> shifted;
    shifted.reserve(poly.size());
    for (const qvPointD& q : poly) shifted.push_back({int32_t(q.x - minX), int32_t(q.y - minY)});
    const Grid model = ModelPolygon(shifted, d.image.width, d.image.height);
    int32_t set = 0, differ = 0;
    for (int32_t y = 0; y < d.image.height; ++y) {
      for (int32_t x = 0; x < d.image.width; ++x) {
        set += model[size_t(y)][size_t(x)];
        if (d.Covered(x, y) != model[size_t(y)][size_t(x)]) {
          if (++differ <= 5) {
            ADD_FAILURE() << "pixel " << x << "," << y;
          }
          continue;
        }
        if (d.Covered(x, y)) {
          EXPECT_EQ(d.Pixel(x, y), 0xFF0000u);
        }
      }
    }
    EXPECT_EQ(differ, 0);
    EXPECT_GT(set, 50);
  }
}

TEST(ShapeRaster, AntialiasedCircleCoverage) {
  const int32_t r = 40;
  Drawn d;
  ASSERT_EQ(Draw(Shape(kShapeCircle, 2 * r + 1, 2 * r + 1), Style(kFillColour, kFormAntialias), &d),
            0);
  ASSERT_NE(d.image.alpha, nullptr);
  EXPECT_EQ(d.image.width, 2 * r + 1 + 5);
  EXPECT_EQ(d.image.x, -2);
  const double cx = r + 2, cy = r + 2;  // the outline moved 2 pixels in
  double sum = 0;
  int32_t partial = 0;
  for (int32_t y = 0; y < d.image.height; ++y) {
    for (int32_t x = 0; x < d.image.width; ++x) {
      const uint8_t a = d.Alpha(x, y);
      sum += a / 255.0;
      const double dist = std::hypot(x - cx, y - cy);
      if (dist < r - 2) {
        EXPECT_EQ(a, 255) << x << "," << y;
      }
      if (dist > r + 2) {
        EXPECT_EQ(a, 0) << x << "," << y;
      }
      if (a > 0 && a < 255) {
        ++partial;
        EXPECT_NEAR(dist, r, 2.0) << x << "," << y;
      }
      if (a != 0) {
        EXPECT_EQ(d.Pixel(x, y), 0xFF0000u);
      }
    }
  }
  EXPECT_NEAR(sum, M_PI * r * r, 1.5 * 2 * M_PI * r);
  EXPECT_GT(partial, int32_t(2 * M_PI * r));

  // The plain circle: a mask only, set inside, clear outside.
  Drawn plain;
  ASSERT_EQ(Draw(Shape(kShapeCircle, 2 * r + 1, 2 * r + 1), Style(kFillColour), &plain), 0);
  EXPECT_EQ(plain.image.alpha, nullptr);
  ASSERT_NE(plain.image.mask, nullptr);
  int32_t set = 0;
  for (int32_t y = 0; y < plain.image.height; ++y) {
    for (int32_t x = 0; x < plain.image.width; ++x) {
      const double dist = std::hypot(x - r, y - r);
      set += plain.Covered(x, y);
      if (dist < r - 1.5) {
        EXPECT_TRUE(plain.Covered(x, y)) << x << "," << y;
      }
      if (dist > r + 1.5) {
        EXPECT_FALSE(plain.Covered(x, y)) << x << "," << y;
      }
    }
  }
  EXPECT_NEAR(set, M_PI * r * r, 1.5 * 2 * M_PI * r);
}

TEST(ShapeRaster, OutlinesAndTransparency) {
  // FILLNONE draws the ring only; a line width of 5 grows the picture by 5 and moves it by 2.
  const qvDrawStyle none = Style(kFillNone);
  Drawn thin;
  ASSERT_EQ(Draw(Shape(kShapeCircle, 21, 21), none, &thin), 0);
  EXPECT_TRUE(thin.Covered(20, 10));
  EXPECT_FALSE(thin.Covered(10, 10));
  qvDrawStyle thick = none;
  thick.lineWidth = 5;
  Drawn t;
  ASSERT_EQ(Draw(Shape(kShapeCircle, 21, 21), thick, &t), 0);
  EXPECT_EQ(t.image.width, 26);
  EXPECT_EQ(t.image.x, -2);
  for (int32_t dx = -2; dx <= 2; ++dx) EXPECT_TRUE(t.Covered(22 + dx, 12)) << dx;
  EXPECT_FALSE(t.Covered(12, 12));

  // A transparency needs an alpha channel: 255 minus it wherever the body covers.
  Drawn half;
  ASSERT_EQ(Draw(Shape(kShapeBox, 6, 4), Style(kFillColour), &half, 0x80FF0000), 0);
  ASSERT_NE(half.image.alpha, nullptr);
  EXPECT_EQ(half.Alpha(3, 2), 127);
  EXPECT_EQ(half.Pixel(3, 2), 0xFF0000u);
}

TEST(ShapeRaster, GradientFillColoursTheBody) {
  qvDrawStyle s = Style(kFillGradient);
  s.gradient.angle = 90;  // left to right
  Drawn d;
  ASSERT_EQ(Draw(Shape(kShapeBox, 16, 8), s, &d), 0);
  qvBitMap* ref = AllocClearedBitMap(16, 8);
  ASSERT_EQ(DrawGradient(ref, 0, 0, 16, 8, &s.gradient), 0);
  for (int32_t y = 0; y < 8; ++y)
    for (int32_t x = 0; x < 16; ++x) EXPECT_EQ(d.Pixel(x, y), ReadBitMapPixel(ref, x, y));
  EXPECT_NE(d.Pixel(0, 4), d.Pixel(15, 4));
  // Anti-aliased, the body is moved 2 pixels in and takes the same gradient where it covers.
  s.formStyle = kFormAntialias;
  Drawn aa;
  ASSERT_EQ(Draw(Shape(kShapeBox, 16, 8), s, &aa), 0);
  ASSERT_NE(aa.image.alpha, nullptr);
  for (int32_t y = 1; y < 7; ++y) {
    for (int32_t x = 1; x < 15; ++x) {
      EXPECT_EQ(aa.Alpha(x + 2, y + 2), 255) << x << "," << y;
      EXPECT_EQ(aa.Pixel(x + 2, y + 2), ReadBitMapPixel(ref, x, y)) << x << "," << y;
    }
  }
  EXPECT_EQ(aa.Alpha(0, 0), 0);
  EXPECT_EQ(aa.Pixel(0, 0), 0u);
  FreeBitMap(ref);
}

// ---- composition of shadow, edge and body ----

struct Row1 {
  // A one-row picture and its alpha, and coverage planes of the same width.
  static constexpr int32_t kW = 5;
  qvBitMap* bitmap = AllocClearedBitMap(kW, 1);
  qvPlane* alpha = AllocAlphaChannel(kW, 1, true);
  std::vector<uint8_t> body = std::vector<uint8_t>(8), edge = std::vector<uint8_t>(8);
  ~Row1() {
    FreeBitMap(bitmap);
    FreeMaskOrAlpha(alpha);
  }
  qvFormLayers Layers(uint32_t bodyColour) {
    qvFormLayers f{};
    f.bitmap = bitmap;
    f.alpha = alpha;
    f.body = {body.data(), 8, 0, 0, kW, 1};
    f.bodyColour = bodyColour;
    return f;
  }
  void Expect(std::vector<uint32_t> pixels, std::vector<uint8_t> alphas) {
    for (int32_t x = 0; x < kW; ++x) {
      EXPECT_EQ(ReadBitMapPixel(bitmap, x, 0), pixels[size_t(x)]) << "pixel " << x;
      EXPECT_EQ(alpha->data[x], alphas[size_t(x)]) << "alpha " << x;
    }
  }
};

constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF;

TEST(ComposeFormLayers, BodyAlone) {
  // The colour wherever the body covers, the coverage (times its opacity) as alpha.
  Row1 a;
  a.body = {0, 128, 255, 0, 0, 0, 0, 0};
  ComposeFormLayers(a.Layers(kRed));
  a.Expect({0, kRed, kRed, 0, 0}, {0, 128, 255, 0, 0});
  Row1 t;
  t.body = {0, 128, 255, 0, 0, 0, 0, 0};
  ComposeFormLayers(t.Layers(0x80000000 | kRed));
  t.Expect({0, kRed, kRed, 0, 0}, {0, 63, 127, 0, 0});
  // A gradient or texture body takes its source's pixels.
  Row1 s;
  s.body = {255, 0, 255, 0, 0, 0, 0, 0};
  const uint32_t source[5] = {0x111111, 0x222222, 0x333333, 0x444444, 0x555555};
  qvFormLayers f = s.Layers(kRed);
  f.bodySource = source;
  f.bodySourcePixelsPerRow = 5;
  ComposeFormLayers(f);
  s.Expect({0x111111, 0, 0x333333, 0, 0}, {255, 0, 255, 0, 0});
}

TEST(ComposeFormLayers, BodyOverShadow) {
  // The shadow (blue, one pixel east) through the body's coverage, then the body merged in mode 2:
  // over no shadow it is stored with its coverage as alpha; over the shadow it blends by its
  // coverage and the alpha rises toward 255.
  Row1 r;
  r.body = {255, 128, 0, 0, 0, 0, 0, 0};
  qvFormLayers f = r.Layers(kRed);
  f.shadowOn = true;
  f.shadowDx = 1;
  f.shadowColour = kBlue;
  ComposeFormLayers(f);
  // x = 1: red over blue at 128: 0 + (255 x 128 >> 8) = 127, 255 + ((0 - 255) x 128 >> 8) = 127;
  // alpha ((128 - 255) x 128 >> 8) + 255 = -64 + 255 = 191.
  r.Expect({kRed, 0x7F007F, kBlue, 0, 0}, {255, 191, 128, 0, 0});

  // A transparent body keeps its transparency beside the shadow (alpha 255 - 128 = 127, not
  // 255) and over it (255 x 127 / 255).
  Row1 t;
  t.body = {255, 255, 0, 0, 0, 0, 0, 0};
  f = t.Layers(0x80000000 | kRed);
  f.shadowOn = true;
  f.shadowDx = 1;
  f.shadowColour = kBlue;
  ComposeFormLayers(f);
  t.Expect({kRed, kRed, kBlue, 0, 0}, {127, 127, 255, 0, 0});
}

TEST(ComposeFormLayers, BodyOverEdge) {
  // Opaque over opaque: the body blends into the edge by its coverage, the edge's alpha stays.
  Row1 o;
  o.edge = {255, 255, 255, 255, 0, 0, 0, 0};
  o.body = {0, 255, 128, 0, 0, 0, 0, 0};
  qvFormLayers f = o.Layers(kRed);
  f.edge = {o.edge.data(), 8, 0, 0, Row1::kW, 1};
  f.edgeColour = kGreen;
  ComposeFormLayers(f);
  o.Expect({kGreen, kRed, 0x7F7F00, kGreen, 0}, {255, 255, 255, 255, 0});

  // A transparent body opens the alpha under it first (255 - coverage), then merges at its own
  // opacity 127: x = 1 alpha 255 x 127 / 255; x = 2 ((128 - 127) x 128 >> 8) + 127, x 127 / 255.
  Row1 t;
  t.edge = o.edge;
  t.body = o.body;
  f = t.Layers(0x80000000 | kRed);
  f.edge = {t.edge.data(), 8, 0, 0, Row1::kW, 1};
  f.edgeColour = kGreen;
  ComposeFormLayers(f);
  t.Expect({kGreen, kRed, 0x7F7F00, kGreen, 0}, {255, 127, 63, 255, 0});

  // A body of transparency 255 only cuts its hole into the edge's alpha.
  Row1 h;
  h.edge = o.edge;
  h.body = o.body;
  f = h.Layers(0xFF000000 | kRed);
  f.edge = {h.edge.data(), 8, 0, 0, Row1::kW, 1};
  f.edgeColour = kGreen;
  ComposeFormLayers(f);
  h.Expect({kGreen, kGreen, kGreen, kGreen, 0}, {255, 0, 127, 255, 0});
}

TEST(ComposeFormLayers, ShadowEdgeAndBody) {
  // The shadow's silhouette is the edge; the edge merges over the shadow in mode 2, the opaque
  // body blends over the opaque edge.
  Row1 r;
  r.edge = {255, 255, 0, 0, 0, 0, 0, 0};
  r.body = {0, 255, 0, 0, 0, 0, 0, 0};
  qvFormLayers f = r.Layers(kRed);
  f.edge = {r.edge.data(), 8, 0, 0, Row1::kW, 1};
  f.edgeColour = kGreen;
  f.shadowOn = true;
  f.shadowDx = 1;
  f.shadowColour = kBlue;
  ComposeFormLayers(f);
  r.Expect({kGreen, kRed, kBlue, 0, 0}, {255, 255, 255, 0, 0});

  // A shadow whose offset puts part of it outside the picture is cut, not written outside.
  Row1 c;
  c.body = {255, 255, 255, 255, 255, 0, 0, 0};
  f = c.Layers(kRed);
  f.shadowOn = true;
  f.shadowDx = -3;
  f.shadowColour = 0x40000000 | kBlue;
  ComposeFormLayers(f);
  // Where the shadow lies (alpha 191) the body merges to ((255 - 191) x 255 >> 8) + 191 = 254.
  c.Expect({kRed, kRed, kRed, kRed, kRed}, {254, 254, 255, 255, 255});
}

// ---- textures, render-record roads, silhouettes, failures ----

TEST(ShapeRaster, TextureFillTilesAndScales) {
  qvBitMap* tex = AllocClearedBitMap(2, 2);
  WriteBitMapPixel(tex, 0, 0, 0x000001);
  WriteBitMapPixel(tex, 1, 0, 0x000002);
  WriteBitMapPixel(tex, 0, 1, 0x000003);
  WriteBitMapPixel(tex, 1, 1, 0x000004);
  qvObjectId id{77, nullptr};
  ASSERT_EQ(AddRasterBrush(&id, false, 2, 2, tex, kNoTransparentColour, nullptr, nullptr, nullptr),
            0);
  qvDrawStyle s = Style(kFillTexture);
  s.textureBrush = id;
  s.textureX = 1;

  qvBitMap* target = AllocClearedBitMap(6, 4);
  ASSERT_EQ(TextureFill(nullptr, target, 1, 1, 4, 2, s, kIdentityShapeMatrix, false), 0);
  EXPECT_EQ(ReadBitMapPixel(target, 0, 0), 0u);
  const uint32_t row1[] = {0, 2, 1, 2, 1, 0};
  const uint32_t row2[] = {0, 4, 3, 4, 3, 0};
  for (int32_t x = 0; x < 6; ++x) {
    EXPECT_EQ(ReadBitMapPixel(target, x, 1), row1[x]) << x;
    EXPECT_EQ(ReadBitMapPixel(target, x, 2), row2[x]) << x;
  }
  // Scaled by |m00| and |m11|: a mirrored double size shows each texel twice across and down.
  s.textureX = 0;
  ASSERT_EQ(TextureFill(nullptr, target, 0, 0, 6, 4, s, {-2, 0, 0, 2}, false), 0);
  const uint32_t scaled[4][6] = {
      {1, 1, 2, 2, 1, 1}, {1, 1, 2, 2, 1, 1}, {3, 3, 4, 4, 3, 3}, {3, 3, 4, 4, 3, 3}};
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 6; ++x) EXPECT_EQ(ReadBitMapPixel(target, x, y), scaled[y][x]);

  // Through the rasteriser, and with a missing brush the lookup's code and nothing kept.
  Drawn d;
  ASSERT_EQ(Draw(Shape(kShapeBox, 3, 3), s, &d), 0);
  EXPECT_EQ(d.Pixel(1, 1), 4u);
  s.textureBrush = {78, nullptr};
  EXPECT_EQ(TextureFill(nullptr, target, 0, 0, 6, 4, s, kIdentityShapeMatrix, false),
            ERR_FINDBRUSH);
  Drawn missing;
  EXPECT_EQ(Draw(Shape(kShapeBox, 3, 3), s, &missing), ERR_FINDBRUSH);
  EXPECT_EQ(missing.image.bitmap, nullptr);
  FreeBitMap(target);
  EXPECT_EQ(DeleteBrushNode(nullptr, id), 0);
}

TEST(ShapeRaster, RenderRecordRoads) {
  qvBitMap* bm = AllocClearedBitMap(12, 12);
  qvPlane* alpha = AllocAlphaChannel(12, 12, true);
  qvPlane* mask = AllocMask(12, 12, true);
  const qvRenderTarget target{bm, nullptr, alpha, 12, 12, nullptr, 0};
  // A plain line of thickness 1 goes straight into the target; the alpha takes 255 minus the
  // transparency, or the value given.
  const qvPointI line[] = {{1, 1}, {10, 1}};
  EXPECT_EQ(DrawThroughRenderRecord(target, kRoadLine, line, 2, 1, false, 0x40FF0000, 0, -1), 0);
  for (int32_t x = 1; x <= 10; ++x) {
    EXPECT_EQ(ReadBitMapPixel(bm, x, 1), kRed);
    EXPECT_EQ(alpha->data[alpha->bytesPerRow + x], 0xBF);
  }
  const qvPointI col[] = {{0, 3}, {0, 8}};
  EXPECT_EQ(DrawThroughRenderRecord(target, kRoadLine, col, 2, 1, false, kGreen, 0, 200), 0);
  EXPECT_EQ(alpha->data[5 * int64_t(alpha->bytesPerRow)], 200);
  // A thick line and a filled polygon through a coverage image, into a mask target too.
  const qvRenderTarget masked{bm, mask, nullptr, 12, 12, nullptr, 0};
  const qvPointI thick[] = {{3, 6}, {9, 6}};
  EXPECT_EQ(DrawThroughRenderRecord(masked, kRoadLine, thick, 2, 3, false, kBlue, 0, -1), 0);
  for (int32_t y = 5; y <= 7; ++y) {
    EXPECT_EQ(ReadBitMapPixel(bm, 6, y), kBlue) << y;
    EXPECT_EQ(ReadBitMapPixel(mask, 6, y), 1u) << y;
  }
  EXPECT_EQ(ReadBitMapPixel(mask, 6, 9), 0u);
  const qvPointI tri[] = {{2, 9}, {10, 9}, {10, 11}};
  EXPECT_EQ(DrawThroughRenderRecord(masked, kRoadPolygonFill, tri, 3, 0, false, kGreen, 0, -1), 0);
  EXPECT_EQ(ReadBitMapPixel(bm, 9, 10), kGreen);
  EXPECT_EQ(ReadBitMapPixel(mask, 9, 10), 1u);
  EXPECT_EQ(ReadBitMapPixel(mask, 2, 11), 0u);
  // Lines outside the target and empty lists draw nothing and fail nothing.
  const qvPointI far[] = {{-100, -100}, {-50, 400}};
  EXPECT_EQ(DrawThroughRenderRecord(masked, kRoadLine, far, 2, 7, true, kGreen, 0, -1), 0);
  EXPECT_EQ(DrawThroughRenderRecord(masked, kRoadPolygonOutline, tri, 0, 2, true, kRed, 0, -1), 0);
  FreeBitMap(bm);
  FreeMaskOrAlpha(alpha);
  FreeMaskOrAlpha(mask);
}

TEST(ShapeRaster, LayerSilhouettes) {
  const qvPointI square[] = {{0, 0}, {9, 0}, {9, 9}, {0, 9}, {0, 0}};
  // Filled, anti-aliased: grown by 5 and moved by 2, coverage in the alpha, colour everywhere.
  qvShapeImage img{};
  ASSERT_EQ(DrawAntialiasedShape(square, 5, 10, 10, kBlue, true, 0, &img), 0);
  EXPECT_EQ(img.width, 15);
  EXPECT_EQ(img.x, -2);
  ASSERT_NE(img.alpha, nullptr);
  EXPECT_EQ(img.alpha->data[7 * img.alpha->bytesPerRow + 7], 255);
  EXPECT_EQ(img.alpha->data[0], 0);
  EXPECT_EQ(ReadBitMapPixel(img.bitmap, 0, 0), kBlue);
  FreeShapeImage(&img);
  // Plain: a mask of the square.
  ASSERT_EQ(DrawAntialiasedShape(square, 5, 10, 10, kBlue, false, 0, &img), 0);
  EXPECT_EQ(img.width, 10);
  EXPECT_EQ(ReadBitMapPixel(img.mask, 5, 5), 1u);
  FreeShapeImage(&img);
  // The border: the outline drawn 2 wide at least (1 asked), the picture grown by that width.
  ASSERT_EQ(DrawAntialiasedShape(square, 5, 10, 10, kBlue, false, 1, &img), 0);
  EXPECT_EQ(img.width, 12);
  EXPECT_EQ(img.x, -1);
  EXPECT_EQ(ReadBitMapPixel(img.mask, 1, 5), 1u);
  EXPECT_EQ(ReadBitMapPixel(img.mask, 6, 6), 0u);
  FreeShapeImage(&img);
}

TEST(ShapeRaster, PicturesThatCannotBeHadAreRefused) {
  // A circle of radius 100000 is a picture of 200006 x 200006 pixels: ERR_MEM, never a wrapped
  // size. Sizes near the int32 limit, with margins on top, are refused the same way.
  Drawn big;
  EXPECT_EQ(Draw(Shape(kShapeCircle, 200001, 200001), Style(kFillColour, kFormAntialias), &big),
            ERR_MEM);
  EXPECT_EQ(big.image.bitmap, nullptr);
  qvShapeOutline wide;
  wide.points = {{0, 0}, {10, 0}, {10, 10}};
  wide.width = INT32_MAX;
  wide.height = 2;
  qvDrawStyle s = Style(kFillColour, kFormEdge | kFormShadow | kFormAntialias);
  qvShapeImage img{};
  EXPECT_EQ(RasteriseShape(nullptr, wide, {kRed, &s, kIdentityShapeMatrix, false}, &img), ERR_MEM);
  EXPECT_EQ(img.bitmap, nullptr);
  EXPECT_EQ(DrawAntialiasedShape(nullptr, 0, 1, 1, 0, true, 0, &img), ERR_WRONGUSAGE);

  // A picture whose rows cannot be had is refused before its mask is made: 600 million pixels a
  // row would first clear a 900 MB mask for nothing.
  qvShapeOutline longRow;
  longRow.points = {{0, 0}, {10, 0}, {10, 10}};
  longRow.width = 600000000;
  longRow.height = 12;
  qvDrawStyle plain = Style(kFillColour);
  SetImageAllocFault(0);
  EXPECT_EQ(RasteriseShape(nullptr, longRow, {kRed, &plain, kIdentityShapeMatrix, false}, &img),
            ERR_MEM);
  EXPECT_EQ(ImageAllocCount(), 0);

  // Every allocation failing in turn: ERR_MEM and nothing kept (the sanitizer build checks the
  // leaks), until the drawing succeeds.
  for (const qvDrawStyle& style :
       {Style(kFillGradient, kFormEdge | kFormShadow | kFormAntialias),
        Style(kFillGradient, kFormAntialias), Style(kFillColour), Style(kFillNone)}) {
    int code = ERR_MEM;
    int64_t n = 1;
    for (; code == ERR_MEM && n < 50; ++n) {
      SetImageAllocFault(n);
      Drawn d;
      code = Draw(Shape(kShapeEllipse, 31, 21), style, &d);
      if (code == ERR_MEM) {
        EXPECT_EQ(d.image.bitmap, nullptr);
      }
    }
    SetImageAllocFault(0);
    EXPECT_EQ(code, 0);
    EXPECT_GT(n, 2);  // at least one allocation was refused on the way
  }
}

TEST(ShapeRaster, EdgeAndShadowAroundABody) {
  // A 10 x 10 box with a 2-pixel edge and a shadow 3 to the south-east: the picture is 14 + 3
  // each way, the edge's colour around the body, the shadow's in the corner it reaches alone.
  qvDrawStyle s = Style(kFillColour, kFormEdge | kFormShadow);
  s.edgeSize = 2;
  s.edgeColour = kGreen;
  s.shadowDistance = 3;
  s.shadowColour = kBlue;
  Drawn d;
  ASSERT_EQ(Draw(Shape(kShapeBox, 10, 10), s, &d), 0);
  EXPECT_EQ(d.image.width, 17);
  EXPECT_EQ(d.image.height, 17);
  EXPECT_EQ(d.image.x, -2);
  EXPECT_EQ(d.Pixel(6, 6), kRed);
  EXPECT_EQ(d.Pixel(0, 6), kGreen);
  EXPECT_EQ(d.Pixel(16, 16), kBlue);
  EXPECT_EQ(d.Alpha(16, 16), 255);
  EXPECT_EQ(d.Alpha(16, 0), 0);
  EXPECT_EQ(d.Alpha(6, 6), 255);
}

}  // namespace
}  // namespace qv
