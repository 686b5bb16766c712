// The draw library's commands: they read their arguments, fill in the defaults and hand the work
// to the primitives of display/draw.h.
#include <algorithm>
#include <cmath>
#include <vector>

#include "base/errors.h"
#include "base/support.h"
#include "core/args.h"
#include "display/display.h"
#include "display/draw.h"
#include "libs/draw/commands.h"
#include "libs/options/options.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {

namespace {

constexpr int32_t kMaxPolygonPoints = 999;

uint32_t OptColour(qvScriptState* L, int index) {
  return static_cast<uint32_t>(VmOptInt(L, index, 0));
}

bool IsTableArg(qvScriptState* L, int index) {
  return index <= VmGetTop(L) && VmType(L, index) == kTypeTable;
}

// A rotation counts only as the last argument and when it is not a table.
bool RotationArg(qvScriptState* L, int index, double* degrees) {
  if (VmGetTop(L) != index || VmType(L, index) == kTypeTable) return false;
  double angle = std::fmod(VmCheckNumber(L, index), 360.0);
  *degrees = std::isfinite(angle) ? angle : 0.0;
  return true;
}

// The transform of a shape: the options table at `optionsIndex` (when it is one) and the rotation
// at `rotationIndex`, the matrix built for the drawn size. 0 or the option reader's error.
int ReadShapeTransform(qvScriptState* L, int optionsIndex, int rotationIndex, int32_t width,
                       int32_t height, qvTransformBlock* block) {
  qvLayerOptions options;
  InitDisplayOptions(block, &options, 0, 0, 0, 0);
  bool build = false;
  if (IsTableArg(L, optionsIndex)) {
    int code = ReadDisplayOptions(L, optionsIndex, 0, 0, block, &options, &build);
    if (code != 0) return code;
  }
  double rotation = 0.0;
  if (RotationArg(L, rotationIndex, &rotation)) {
    block->rotate = rotation;
    build = true;
  }
  if (build && !block->matrixGiven) {
    BuildTransformMatrix(block, block->width, block->height, width, height, block->scaleX,
                         block->scaleY, block->rotate);
  }
  return 0;
}

int32_t IntField(qvScriptState* L, int table, const char* key, int32_t fallback) {
  int32_t value = fallback;
  GetFieldInt(L, table, key, &value, nullptr);
  return value;
}

// The style a shape command draws with: the global one.
const qvDrawStyle& Style() { return *GetDrawStyle(); }

// Hands a shape to the vectorgraphics library while its ForcePathUse is on.
bool PathDrawer(qvShapePathDrawer* drawer) {
  *drawer = GetShapePathDrawer();
  return *drawer != nullptr;
}

// The transform of an ellipse or arc, whose box is 2 r + 1 pixels each way.
int ReadEllipseTransform(qvScriptState* L, int optionsIndex, int rotationIndex, int32_t radiusX,
                         int32_t radiusY, qvTransformBlock* transform) {
  int64_t width = 2 * int64_t{radiusX} + 1, height = 2 * int64_t{radiusY} + 1;
  return ReadShapeTransform(L, optionsIndex, rotationIndex,
                            static_cast<int32_t>(std::clamp<int64_t>(width, 1, INT32_MAX)),
                            static_cast<int32_t>(std::clamp<int64_t>(height, 1, INT32_MAX)),
                            transform);
}

// An ellipse or arc handed to the path drawer; radii already checked to keep the box in 32 bits.
qvShapeParams EllipseShape(int32_t type, int32_t x, int32_t y, int32_t radiusX, int32_t radiusY,
                           uint32_t colour, const qvTransformBlock* transform) {
  qvShapeParams shape{};
  shape.type = type;
  shape.x = x;
  shape.y = y;
  shape.width = 2 * radiusX + 1;
  shape.height = 2 * radiusY + 1;
  shape.radiusX = radiusX;
  shape.radiusY = radiusY;
  shape.colour = colour;
  shape.style = &Style();
  shape.transform = transform;
  return shape;
}

}  // namespace

int ReadPolygonPoints(qvScriptState* L, int index, int32_t count, std::vector<qvPointD>* points,
                      int32_t* minX, int32_t* minY, int32_t* width, int32_t* height) {
  points->clear();
  VmCheckTable(L, index);
  bool toNil = count == 0;
  if (!toNil && (count < 2 || count > kMaxPolygonPoints)) return ERR_WRONGUSAGE;
  for (int32_t i = 0; toNil || i < count; ++i) {
    VmRawGetI(L, index, 2 * i);
    VmRawGetI(L, index, 2 * i + 1);
    bool end = VmType(L, -2) == kTypeNil;
    if (toNil && end) {
      VmSetTop(L, -3);
      break;
    }
    if (toNil && i >= kMaxPolygonPoints) {
      VmSetTop(L, -3);
      return ERR_INTERNAL;
    }
    if (VmType(L, -2) != kTypeNumber || VmType(L, -1) != kTypeNumber) {
      VmSetTop(L, -3);
      SetErrorString("polygon");
      return ERR_NUMTABLEARG;
    }
    points->push_back({static_cast<double>(DoubleToInt32(VmToNumber(L, -2))),
                       static_cast<double>(DoubleToInt32(VmToNumber(L, -1)))});
    VmSetTop(L, -3);
  }
  if (points->size() < 2) return ERR_WRONGUSAGE;
  if (points->back().x != points->front().x || points->back().y != points->front().y) {
    points->push_back(points->front());
  }
  double lowX = points->front().x, lowY = points->front().y;
  double highX = lowX, highY = lowY;
  for (const qvPointD& p : *points) {
    lowX = std::min(lowX, p.x);
    lowY = std::min(lowY, p.y);
    highX = std::max(highX, p.x);
    highY = std::max(highY, p.y);
  }
  for (qvPointD& p : *points) {
    p.x -= lowX;
    p.y -= lowY;
  }
  // Points are 32-bit numbers: the box's sides are at most 2^32 - 1 and are held at INT32_MAX.
  *minX = static_cast<int32_t>(lowX);
  *minY = static_cast<int32_t>(lowY);
  *width = static_cast<int32_t>(std::min(highX - lowX + 1, static_cast<double>(INT32_MAX)));
  *height = static_cast<int32_t>(std::min(highY - lowY + 1, static_cast<double>(INT32_MAX)));
  return 0;
}

namespace cmd {

// Box(x, y, width, height [, colour, roundlevel or options, rotation])
int32_t Box(qvScriptState* L) {
  CheckArgCount(L, 4, 7);
  int32_t x = VmCheckInt(L, 1), y = VmCheckInt(L, 2);
  int32_t width = VmCheckInt(L, 3), height = VmCheckInt(L, 4);
  uint32_t colour = OptColour(L, 5);
  int32_t corners[4] = {0, 0, 0, 0};
  if (IsTableArg(L, 6)) {
    int32_t level = IntField(L, 6, "roundlevel", 0);
    const char* keys[4] = {"cornera", "cornerb", "cornerc", "cornerd"};
    for (int i = 0; i < 4; ++i) corners[i] = IntField(L, 6, keys[i], level);
  } else if (VmGetTop(L) >= 6 && VmType(L, 6) != kTypeNil) {
    std::fill(corners, corners + 4, VmCheckInt(L, 6));
  }
  qvTransformBlock transform;
  int code = ReadShapeTransform(L, 6, 7, width, height, &transform);
  if (code != 0) return code;
  qvShapePathDrawer drawer = nullptr;
  if (PathDrawer(&drawer)) {
    qvShapeParams shape{};
    shape.type = kShapeBox;
    shape.x = x;
    shape.y = y;
    shape.width = width;
    shape.height = height;
    std::copy(corners, corners + 4, shape.corners);
    shape.colour = colour;
    shape.style = &Style();
    shape.transform = &transform;
    return drawer(L, shape);
  }
  return DrawBoxShape(L, Style(), &transform, x, y, width, height, colour, corners);
}

// Plot(x, y [, colour])
int32_t Plot(qvScriptState* L) {
  CheckArgCount(L, 2, 3);
  int32_t x = VmCheckInt(L, 1), y = VmCheckInt(L, 2);
  return PlotPixel(L, x, y, OptColour(L, 3));
}

namespace {

int32_t EllipseCommand(qvScriptState* L, int32_t type, int32_t radiusX, int32_t radiusY,
                       int optionsIndex) {
  int32_t x = VmCheckInt(L, 1), y = VmCheckInt(L, 2);
  uint32_t colour = OptColour(L, optionsIndex - 1);
  qvTransformBlock transform;
  int code = ReadEllipseTransform(L, optionsIndex, optionsIndex, radiusX, radiusY, &transform);
  if (code != 0) return code;
  qvShapePathDrawer drawer = nullptr;
  if (PathDrawer(&drawer)) {
    if (radiusX < 1 || radiusY < 1 || radiusX > (INT32_MAX - 1) / 2 ||
        radiusY > (INT32_MAX - 1) / 2) {
      return ERR_WRONGUSAGE;
    }
    return drawer(L, EllipseShape(type, x, y, radiusX, radiusY, colour, &transform));
  }
  return DrawEllipseShape(L, Style(), &transform, type, x, y, radiusX, radiusY, colour);
}

}  // namespace

// Ellipse(x, y, radius x, radius y [, colour, options or rotation])
int32_t Ellipse(qvScriptState* L) {
  CheckArgCount(L, 4, 6);
  return EllipseCommand(L, kShapeEllipse, VmCheckInt(L, 3), VmCheckInt(L, 4), 6);
}

// Circle(x, y, radius [, colour, options or rotation])
int32_t Circle(qvScriptState* L) {
  CheckArgCount(L, 3, 5);
  int32_t radius = VmCheckInt(L, 3);
  return EllipseCommand(L, kShapeCircle, radius, radius, 5);
}

// Line(x1, y1, x2, y2 [, colour, thickness or options, rotation])
int32_t Line(qvScriptState* L) {
  CheckArgCount(L, 4, 7);
  int32_t x1 = VmCheckInt(L, 1), y1 = VmCheckInt(L, 2);
  int32_t x2 = VmCheckInt(L, 3), y2 = VmCheckInt(L, 4);
  uint32_t colour = OptColour(L, 5);
  int32_t thickness = 1;
  if (IsTableArg(L, 6)) {
    thickness = IntField(L, 6, "thickness", 1);
  } else if (VmGetTop(L) >= 6 && VmType(L, 6) != kTypeNil) {
    thickness = VmCheckInt(L, 6);
  }
  int64_t width = std::llabs(int64_t{x2} - x1) + 1, height = std::llabs(int64_t{y2} - y1) + 1;
  qvTransformBlock transform;
  int code = ReadShapeTransform(L, 6, 7, static_cast<int32_t>(std::min<int64_t>(width, INT32_MAX)),
                                static_cast<int32_t>(std::min<int64_t>(height, INT32_MAX)),
                                &transform);
  if (code != 0) return code;
  return DrawLinePrim(L, Style(), &transform, x1, y1, x2, y2, colour, thickness);
}

// Polygon(x, y, points, count [, colour, options or rotation])
int32_t Polygon(qvScriptState* L) {
  CheckArgCount(L, 4, 6);
  int32_t x = VmCheckInt(L, 1), y = VmCheckInt(L, 2);
  VmCheckTable(L, 3);
  int32_t count = VmCheckInt(L, 4);
  uint32_t colour = OptColour(L, 5);
  if (count < 2 || count > kMaxPolygonPoints) return ERR_WRONGUSAGE;
  std::vector<qvPointD> points;
  int32_t minX = 0, minY = 0, width = 0, height = 0;
  int code = ReadPolygonPoints(L, 3, count, &points, &minX, &minY, &width, &height);
  if (code != 0) return code;
  qvTransformBlock transform;
  code = ReadShapeTransform(L, 6, 6, width, height, &transform);
  if (code != 0) return code;
  // The polygon lies where its smallest point puts it.
  auto px = static_cast<int32_t>(int64_t{x} + minX), py = static_cast<int32_t>(int64_t{y} + minY);
  auto pointCount = static_cast<int32_t>(points.size());
  qvShapePathDrawer drawer = nullptr;
  if (PathDrawer(&drawer)) {
    qvShapeParams shape{};
    shape.type = kShapePolygon;
    shape.x = px;
    shape.y = py;
    shape.width = width;
    shape.height = height;
    shape.points = points.data();
    shape.pointCount = pointCount;
    shape.colour = colour;
    shape.style = &Style();
    shape.transform = &transform;
    return drawer(L, shape);
  }
  return DrawPolygonShape(L, Style(), &transform, px, py, width, height, points.data(), pointCount,
                          colour);
}

// SetFillStyle(style [, ...])
int32_t SetFillStyle(qvScriptState* L) {
  CheckArgCount(L, 1, 6);
  qvDrawStyle* style = GetDrawStyle();
  int32_t fill = VmCheckInt(L, 1);
  switch (fill) {
    case kFillNone:
      style->fillStyle = kFillNone;
      style->lineWidth = VmOptInt(L, 2, 1);
      break;
    case kFillColour:
      style->fillStyle = kFillColour;
      break;
    case kFillGradient: {
      qvGradient gradient = style->gradient;
      gradient.startColour = static_cast<uint32_t>(VmCheckInt(L, 3)) & 0xFFFFFFu;
      gradient.endColour = static_cast<uint32_t>(VmCheckInt(L, 4)) & 0xFFFFFFu;
      gradient.stopCount = 0;
      int code = ReadGradientArguments(L, 2, 5, &gradient);
      if (code != 0) return code;
      style->gradient = gradient;
      style->fillStyle = kFillGradient;
      break;
    }
    case kFillTexture:
      style->textureBrush = CheckObjectId(L, 2);
      style->textureX = VmOptInt(L, 3, 0);
      style->textureY = VmOptInt(L, 4, 0);
      style->fillStyle = kFillTexture;
      break;
    default:
      return ERR_WRONGUSAGE;
  }
  ValidateFormStyle(style);
  return 0;
}

// ReadPixel(x, y)
int32_t ReadPixel(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  int32_t x = VmCheckInt(L, 1), y = VmCheckInt(L, 2);
  uint32_t value = 0;
  int code = ReadPixelValue(L, x, y, &value);
  if (code != 0) return code;
  VmPushNumber(L, value);
  return 1;
}

// Cls([colour])
int32_t Cls(qvScriptState* L) {
  CheckArgCount(L, 0, 1);
  return ClearOutput(L, OptColour(L, 1));
}

// Arc(x, y, radius x, radius y, start, end [, colour, clockwise or options, rotation])
int32_t Arc(qvScriptState* L) {
  CheckArgCount(L, 6, 9);
  int32_t x = VmCheckInt(L, 1), y = VmCheckInt(L, 2);
  int32_t radiusX = VmCheckInt(L, 3), radiusY = VmCheckInt(L, 4);
  int32_t start = VmCheckInt(L, 5), end = VmCheckInt(L, 6);
  uint32_t colour = OptColour(L, 7);
  bool clockwise = true;
  if (IsTableArg(L, 8)) {
    bool flag = true;
    if (GetFieldFlag(L, 8, "clockwise", &flag, nullptr)) clockwise = flag;
  } else if (VmGetTop(L) >= 8 && VmType(L, 8) != kTypeNil) {
    clockwise = VmCheckInt(L, 8) != 0;
  }
  qvTransformBlock transform;
  int code = ReadEllipseTransform(L, 8, 9, radiusX, radiusY, &transform);
  if (code != 0) return code;
  qvShapePathDrawer drawer = nullptr;
  if (PathDrawer(&drawer)) {
    if (radiusX < 1 || radiusY < 1 || start < 0 || end < 0 || radiusX > (INT32_MAX - 1) / 2 ||
        radiusY > (INT32_MAX - 1) / 2) {
      return ERR_WRONGUSAGE;
    }
    if (start == end) return 0;
    qvShapeParams shape = EllipseShape(kShapeArc, x, y, radiusX, radiusY, colour, &transform);
    shape.startAngle = start;
    shape.endAngle = end;
    shape.clockwise = clockwise;
    return drawer(L, shape);
  }
  return DrawArcShape(L, Style(), &transform, x, y, radiusX, radiusY, start, end, clockwise,
                      colour);
}

// SetFormStyle(style [, ...])
int32_t SetFormStyle(qvScriptState* L) {
  CheckArgCount(L, 1, 4);
  qvDrawStyle* style = GetDrawStyle();
  int32_t form = VmCheckInt(L, 1);
  int top = VmGetTop(L);
  if (form & 1) {
    // NORMAL switches every form off.
    style->formStyle = kFormNormal;
  } else if (form == kFormShadow) {
    if (top >= 2) style->shadowColour = static_cast<uint32_t>(VmCheckInt(L, 2));
    if (top >= 3) style->shadowDistance = VmCheckInt(L, 3);
    if (top >= 4) style->shadowDirection = VmCheckInt(L, 4);
    style->formStyle = (style->formStyle & ~kFormNormal) | kFormShadow;
  } else if (form == kFormEdge) {
    if (top >= 4) return ERR_TOOMANYARGS;
    if (top >= 2) style->edgeColour = static_cast<uint32_t>(VmCheckInt(L, 2)) & 0xFFFFFFu;
    if (top >= 3) style->edgeSize = VmCheckInt(L, 3);
    style->formStyle = (style->formStyle & ~kFormNormal) | kFormEdge;
  } else {
    if (top >= 2) return ERR_TOOMANYARGS;
    style->formStyle = (style->formStyle & ~kFormNormal) | form;
    if (style->formStyle == 0) style->formStyle = kFormNormal;
  }
  ValidateFormStyle(style);
  return 0;
}

// SetLineWidth(width)
int32_t SetLineWidth(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  int32_t width = VmCheckInt(L, 1);
  if (width < 1) return ERR_WRONGUSAGE;
  GetDrawStyle()->lineWidth = width;
  return 0;
}

}  // namespace cmd

}  // namespace qv
