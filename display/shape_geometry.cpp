// Shape outlines and their geometry (display/shapes.h): the draw style's defaults, the outlines
// of boxes, rounded boxes, ellipses, arcs and polygons, the ellipse generator in 16.16, rotation
// about the anchor, bounds, the mitred edge outline and the form margins.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "base/errors.h"
#include "base/support.h"
#include "display/records.h"
#include "display/shapes.h"

namespace qv {
namespace {

// Entry i holds the cosine and the sine of 360 - i degrees, i = 0..360: the generator walks
// them by whole degrees, and the sine's sign gives screen y growing downwards for free.
struct DegreeTables {
  double cosine[361];
  double sine[361];
  DegreeTables() {
    for (int i = 0; i <= 360; ++i) {
      const double t = double(360 - i) * (M_PI / 180.0);
      cosine[i] = std::cos(t);
      sine[i] = std::sin(t);
    }
  }
};

const DegreeTables& Tables() {
  static const DegreeTables tables;
  return tables;
}

// Nearest, ties to even, in 64 bits; NaN and values beyond 2^62 are held to the range so that a
// degenerate input yields some point rather than undefined behaviour.
int64_t RoundToInt64(double v) {
  if (!(v == v)) return 0;
  constexpr double kLimit = 4611686018427387904.0;  // 2^62
  v = std::clamp(v, -kLimit, kLimit);
  return static_cast<int64_t>(std::nearbyint(v));
}

// Truncation toward zero, held to +-2^30 (far beyond any picture that can be allocated).
double TruncCoord(double v) {
  if (!(v == v)) return 0.0;
  return std::clamp(std::trunc(v), -1073741824.0, 1073741824.0);
}

int32_t ToCoord(double v) { return static_cast<int32_t>(TruncCoord(v)); }

int32_t AngleStep(double rx, double ry) {
  const int64_t r = RoundToInt64(std::max(std::fabs(rx), std::fabs(ry)));
  if (r < 3) return 90;
  if (r < 10) return 30;
  if (r < 15) return 18;
  return 5;
}

// A whole degree of any size as an index of the tables.
int32_t DegreeIndex(int64_t a) {
  int64_t i = a % 360;
  if (i < 0) i += 360;
  return static_cast<int32_t>(i);
}

// The smallest k >= 0 with value + k turns >= 0.
int64_t TurnsUpToZero(int64_t value) { return value >= 0 ? 0 : (-value + 359) / 360; }

}  // namespace

void InitDrawStyle(qvDrawStyle* style) {
  *style = qvDrawStyle{};
  style->fillStyle = kFillNone;
  style->formStyle = kFormNormal;
  InitGradientDefaults(&style->gradient);
  style->gradient.startColour = 0x0000FF;
  style->gradient.endColour = 0x000000;
  style->edgeSize = 2;
  style->edgeColour = 0x0093DD;
  style->shadowDistance = 4;
  style->shadowDirection = kShadowSouthEast;
  style->shadowColour = 0;
  style->lineWidth = 1;
}

bool IsIdentityMatrix(const qvShapeMatrix& m) {
  return m.m00 == 1.0 && m.m01 == 0.0 && m.m10 == 0.0 && m.m11 == 1.0;
}

qvShapeMatrix ShapeMatrixOf(const qvTransformBlock& block) {
  return {block.matrix[0], block.matrix[2], block.matrix[1], block.matrix[3]};
}

int32_t GenerateEllipseArc(std::vector<qvPointD>* points, double cx, double cy, double rx,
                           double ry, int64_t start, int64_t end, const qvShapeMatrix& m,
                           double anchorX, double anchorY, bool pie, bool bounds) {
  const DegreeTables& t = Tables();
  const size_t first = points->size();
  const int32_t step = AngleStep(rx, ry);

  // Whole turns are taken off by division, never by a loop: an angle of two billion degrees
  // costs what an angle of ten does.
  if (start > end) std::swap(start, end);
  if (start < 0) {
    const int64_t k = TurnsUpToZero(start);
    start += 360 * k;
    end += 360 * k;
  }
  if (end > 360) {
    const int64_t k = (end - 360 + 359) / 360;
    start -= 360 * k;
    end -= 360 * k;
  }
  if (end - start > 360) {
    start = 0;
    end = 360;
  }

  const double fx = cx * 65536.0, fy = cy * 65536.0;
  const double frx = rx * 65536.0, fry = ry * 65536.0;
  auto at = [&](int64_t a) {
    const int32_t i = DegreeIndex(a);
    const double c = t.cosine[i], s = t.sine[i];
    const double x = fx + m.m00 * frx * c + m.m01 * fry * s;
    const double y = fy + m.m10 * frx * c + m.m11 * fry * s;
    return qvPointD{double(RoundToInt64(x) >> 16), double(RoundToInt64(y) >> 16)};
  };

  if (bounds) {
    // The box of the whole ellipse starts from its first point, so that it is the ellipse's box
    // wherever the ellipse lies.
    qvPointD lo = at(0), hi = lo;
    for (int32_t a = step;; a += step) {
      if (a > 360) a = 360;
      const qvPointD p = at(a);
      lo.x = std::min(lo.x, p.x);
      lo.y = std::min(lo.y, p.y);
      hi.x = std::max(hi.x, p.x);
      hi.y = std::max(hi.y, p.y);
      if (a == 360) break;
    }
    points->push_back(lo);
    points->push_back(hi);
  }

  const size_t arcFirst = points->size();
  for (int64_t a = start;; a += step) {
    if (a > end) a = end;
    const qvPointD p = at(a);
    if (points->size() == arcFirst || p.x != points->back().x || p.y != points->back().y)
      points->push_back(p);
    if (a == end) break;
  }
  if (pie && end - start < 360) {
    points->push_back({double(RoundToInt64(fx) >> 16), double(RoundToInt64(fy) >> 16)});
  }
  if (points->size() - arcFirst < 2) points->push_back(points->back());

  if (!IsIdentityMatrix(m)) {
    // The shape turns about the anchor: every point moves by where the centre goes when turned
    // about the anchor rather than about itself.
    const double dx = TruncCoord(anchorX + m.m00 * (cx - anchorX) + m.m01 * (cy - anchorY)) -
                      TruncCoord(cx);
    const double dy = TruncCoord(anchorY + m.m10 * (cx - anchorX) + m.m11 * (cy - anchorY)) -
                      TruncCoord(cy);
    for (size_t i = first; i < points->size(); ++i) {
      (*points)[i].x += dx;
      (*points)[i].y += dy;
    }
  }
  return static_cast<int32_t>(points->size() - first);
}

void ArcGeneratorAngles(int64_t start, int64_t end, bool clockwise, int64_t* outStart,
                        int64_t* outEnd) {
  // The one angle is raised by the whole turns that put it above the other, counted at once.
  if (!clockwise && start < end) start += 360 * ((end - start) / 360 + 1);
  if (clockwise && end < start) end += 360 * ((start - end) / 360 + 1);
  *outStart = -start;
  *outEnd = -end;
}

int32_t BuildShapeOutline(const qvShapeParams& shape, int32_t width, int32_t height,
                          const qvShapeMatrix& matrix, double anchorX, double anchorY,
                          std::vector<qvPointD>* points) {
  points->clear();
  const double w = width, h = height;
  auto close = [&](size_t from) {
    if (points->size() > from) {
      const qvPointD f = (*points)[from];
      if (points->back().x != f.x || points->back().y != f.y) points->push_back(f);
    }
  };
  switch (shape.type) {
    case kShapeBox: {
      const int32_t* c = shape.corners;
      if (c[0] == 0 && c[1] == 0 && c[2] == 0 && c[3] == 0) {
        *points = {{0, 0}, {w - 1, 0}, {w - 1, h - 1}, {0, h - 1}, {0, 0}};
        break;
      }
      const double half = std::min(w, h) / 2.0;
      double r[4];
      for (int i = 0; i < 4; ++i) r[i] = std::trunc(half * std::clamp(c[i], 1, 100) / 100.0);
      const double ax = w * anchorX, ay = h * anchorY;
      // Counter-clockwise on the screen, as the generator walks: top-left, bottom-left,
      // bottom-right, top-right.
      GenerateEllipseArc(points, r[0], r[0], r[0], r[0], 90, 180, matrix, ax, ay, false, false);
      GenerateEllipseArc(points, r[3], h - 1 - r[3], r[3], r[3], 180, 270, matrix, ax, ay, false,
                         false);
      GenerateEllipseArc(points, w - 1 - r[2], h - 1 - r[2], r[2], r[2], 270, 360, matrix, ax, ay,
                         false, false);
      GenerateEllipseArc(points, w - 1 - r[1], r[1], r[1], r[1], 0, 90, matrix, ax, ay, false,
                         false);
      close(0);
      break;
    }
    case kShapeCircle:
    case kShapeEllipse: {
      // The centre and the radii are whole: a drawn size of 2r + 1 gives radius r.
      const int32_t halfWidth = width / 2, halfHeight = height / 2;
      const double cx = halfWidth, cy = halfHeight;
      GenerateEllipseArc(points, cx, cy, cx, cy, 0, 360, matrix, w * anchorX, h * anchorY, false,
                         false);
      close(0);
      break;
    }
    case kShapePolygon:
      if (shape.points != nullptr && shape.pointCount > 0)
        points->assign(shape.points, shape.points + shape.pointCount);
      break;
    case kShapeArc: {
      const int32_t halfWidth = width / 2, halfHeight = height / 2;
      const double cx = halfWidth, cy = halfHeight;
      int64_t start = 0, end = 0;
      ArcGeneratorAngles(shape.startAngle, shape.endAngle, shape.clockwise, &start, &end);
      GenerateEllipseArc(points, cx, cy, cx, cy, start, end, matrix, w * anchorX, h * anchorY, true,
                         true);
      close(2);
      break;
    }
    default:
      break;
  }
  return static_cast<int32_t>(points->size());
}

void RotateShapePoints(const qvShapeMatrix& m, double anchorX, double anchorY, int32_t width,
                       int32_t height, qvPointD* points, int32_t count, bool normalise,
                       int32_t* outX, int32_t* outY, int32_t* outWidth, int32_t* outHeight) {
  const double ax = double(width) * anchorX, ay = double(height) * anchorY;
  if (!IsIdentityMatrix(m)) {
    for (int32_t i = 0; i < count; ++i) {
      const double px = points[i].x - ax, py = points[i].y - ay;
      points[i] = {TruncCoord(ax + m.m00 * px + m.m01 * py),
                   TruncCoord(ay + m.m10 * px + m.m11 * py)};
    }
  }
  int32_t x = 0, y = 0, w = 0, h = 0;
  if (normalise) {
    ShapeBounds(points, count, &x, &y, &w, &h);
  } else {
    std::vector<qvPointD> copy(points, points + count);
    ShapeBounds(copy.data(), count, &x, &y, &w, &h);
  }
  if (outX) *outX = x;
  if (outY) *outY = y;
  if (outWidth) *outWidth = w;
  if (outHeight) *outHeight = h;
}

void ShapeBounds(qvPointD* points, int32_t count, int32_t* outX, int32_t* outY, int32_t* outWidth,
                 int32_t* outHeight) {
  if (count <= 0) {
    *outX = *outY = 100000;
    *outWidth = *outHeight = 0;
    return;
  }
  double lx = points[0].x, ly = points[0].y, hx = lx, hy = ly;
  for (int32_t i = 1; i < count; ++i) {
    lx = std::min(lx, points[i].x);
    ly = std::min(ly, points[i].y);
    hx = std::max(hx, points[i].x);
    hy = std::max(hy, points[i].y);
  }
  for (int32_t i = 0; i < count; ++i) {
    points[i].x -= lx;
    points[i].y -= ly;
  }
  *outX = ToCoord(lx);
  *outY = ToCoord(ly);
  *outWidth = ToCoord(hx - lx + 1);
  *outHeight = ToCoord(hy - ly + 1);
}

int MakeShapeOutline(const qvShapeParams& shape, qvShapeOutline* out) {
  out->points.clear();
  out->x = out->y = out->width = out->height = 0;
  const qvShapeMatrix m = shape.transform ? ShapeMatrixOf(*shape.transform) : kIdentityShapeMatrix;
  const double ax = shape.transform ? shape.transform->anchorX : 0.5;
  const double ay = shape.transform ? shape.transform->anchorY : 0.5;
  const int32_t n = BuildShapeOutline(shape, shape.width, shape.height, m, ax, ay, &out->points);
  if (n == 0) return ERR_WRONGUSAGE;
  const bool plainBox = shape.type == kShapeBox && shape.corners[0] == 0 && shape.corners[1] == 0 &&
                        shape.corners[2] == 0 && shape.corners[3] == 0;
  if (plainBox || shape.type == kShapePolygon) {
    RotateShapePoints(m, ax, ay, shape.width, shape.height, out->points.data(), n, true, &out->x,
                      &out->y, &out->width, &out->height);
  } else if (shape.type == kShapeArc) {
    // The slice keeps its place within the box of its whole ellipse.
    const qvPointD lo = out->points[0], hi = out->points[1];
    out->points.erase(out->points.begin(), out->points.begin() + 2);
    for (qvPointD& p : out->points) {
      p.x -= lo.x;
      p.y -= lo.y;
    }
    out->x = ToCoord(lo.x);
    out->y = ToCoord(lo.y);
    out->width = ToCoord(hi.x - lo.x + 1);
    out->height = ToCoord(hi.y - lo.y + 1);
  } else {
    ShapeBounds(out->points.data(), n, &out->x, &out->y, &out->width, &out->height);
  }
  return 0;
}

std::vector<qvPointD> OffsetOutline(const qvPointD* points, int32_t count, double distance) {
  std::vector<qvPointD> p;
  p.reserve(size_t(std::max(count, 0)));
  for (int32_t i = 0; i < count; ++i) {
    if (p.empty() || points[i].x != p.back().x || points[i].y != p.back().y) p.push_back(points[i]);
  }
  while (p.size() > 1 && p.back().x == p.front().x && p.back().y == p.front().y) p.pop_back();
  const size_t n = p.size();
  std::vector<qvPointD> out;
  if (n == 0) return out;

  double sum = 0.0;
  for (size_t i = 0; i < n; ++i) {
    const qvPointD a = p[i], b = p[(i + 1) % n];
    sum += a.x * b.y - b.x * a.y;
  }
  const double turn = sum < 0 ? -1.0 : 1.0;
  // The outward unit normal of the edge a -> b.
  auto normal = [&](qvPointD a, qvPointD b) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    double len = std::sqrt(dx * dx + dy * dy);
    if (len == 0.0) len = 0.0001;
    return qvPointD{turn * dy / len, -turn * dx / len};
  };
  out.reserve(n + 1);
  for (size_t i = 0; i < n; ++i) {
    const qvPointD prev = p[(i + n - 1) % n], cur = p[i], next = p[(i + 1) % n];
    const qvPointD n1 = n == 1 ? qvPointD{0, 0} : normal(prev, cur);
    const qvPointD n2 = n == 1 ? qvPointD{0, 0} : normal(cur, next);
    qvPointD q;
    if (std::fabs(n1.x * n2.y - n1.y * n2.x) < 0.001) {
      q = {cur.x + distance * n1.x, cur.y + distance * n1.y};
    } else {
      // Both edges move out by the distance: the mitre point lies along n1 + n2, scaled by
      // 1 / (1 + n1 . n2).
      double div = 1.0 + n1.x * n2.x + n1.y * n2.y;
      if (div == 0.0) div = 0.0001;
      q = {cur.x + distance * (n1.x + n2.x) / div, cur.y + distance * (n1.y + n2.y) / div};
    }
    out.push_back({double(RoundToInt64(q.x)), double(RoundToInt64(q.y))});
  }
  out.push_back(out.front());
  return out;
}

void ShadowPaddings(int32_t distance, int32_t direction, int32_t* left, int32_t* top,
                    int32_t* right, int32_t* bottom) {
  *left = *top = *right = *bottom = 0;
  if (distance == 0) return;
  const int32_t d = direction;
  if (d == kShadowSouthWest || d == kShadowWest || d == kShadowNorthWest) *left = distance;
  if (d == kShadowNorth || d == kShadowNorthEast || d == kShadowNorthWest) *top = distance;
  if (d == kShadowNorthEast || d == kShadowEast || d == kShadowSouthEast) *right = distance;
  if (d == kShadowSouthEast || d == kShadowSouth || d == kShadowSouthWest) *bottom = distance;
}

qvFormBox FormStyleBox(int32_t x, int32_t y, int32_t width, int32_t height,
                       const qvDrawStyle& style) {
  qvFormBox box{x, y, width, height, x, y};
  if (style.formStyle & kFormEdge) {
    const int64_t e = style.edgeSize;
    box.x = SaturateToInt32(box.x - e);
    box.y = SaturateToInt32(box.y - e);
    box.width = SaturateToInt32(box.width + 2 * e);
    box.height = SaturateToInt32(box.height + 2 * e);
  }
  if (style.formStyle & kFormShadow) {
    int32_t l = 0, t = 0, r = 0, b = 0;
    ShadowPaddings(style.shadowDistance, style.shadowDirection, &l, &t, &r, &b);
    box.width = SaturateToInt32(int64_t{box.width} + l + r);
    box.height = SaturateToInt32(int64_t{box.height} + t + b);
    // A shadow to the west or north keeps the form's corner where it was and pushes the box.
    box.boxX = SaturateToInt32(int64_t{box.boxX} + l);
    box.boxY = SaturateToInt32(int64_t{box.boxY} + t);
  }
  return box;
}

std::vector<qvPointI> RoundOutline(const qvPointD* points, int32_t count) {
  std::vector<qvPointI> out(size_t(std::max(count, 0)));
  for (int32_t i = 0; i < count; ++i) {
    out[size_t(i)] = {
        static_cast<int32_t>(std::clamp<int64_t>(RoundToInt64(points[i].x), -(1 << 30), 1 << 30)),
        static_cast<int32_t>(std::clamp<int64_t>(RoundToInt64(points[i].y), -(1 << 30), 1 << 30))};
  }
  return out;
}

}  // namespace qv
