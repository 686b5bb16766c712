// Drawing vector paths through the vector graphics plugin (display/path_render.h).
#include "display/path_render.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/errors.h"
#include "display/displays.h"
#include "display/draw.h"
#include "display/output.h"
#include "display/records.h"

namespace qv {

namespace {

// The planes of one render, freed unless handed over.
struct RenderPlanes {
  qvBitMap* bitmap = nullptr;
  qvPlane* alpha = nullptr;
  qvBitMap* fill = nullptr;  // gradient or texture pixels
  qvPlane* body = nullptr;
  qvPlane* edge = nullptr;
  ~RenderPlanes() {
    FreeBitMap(bitmap);
    FreeMaskOrAlpha(alpha);
    FreeBitMap(fill);
    FreeMaskOrAlpha(body);
    FreeMaskOrAlpha(edge);
  }
};

// The largest side a rendered picture may have: its rows are addressed in 32 bits.
constexpr double kLargestSide = 2147483647.0;

// The picture and its alpha channel go to the caller, its corner the margins before the position.
int HandOver(RenderPlanes* planes, const qvPathRender* r, int32_t padLeft, int32_t padTop,
             int32_t width, int32_t height, qvPathImage* out) {
  out->bitmap = planes->bitmap;
  out->alpha = planes->alpha;
  planes->bitmap = nullptr;
  planes->alpha = nullptr;
  out->x = r->x - padLeft;
  out->y = r->y - padTop;
  out->width = width;
  out->height = height;
  return 0;
}

// Coverage of the path into the plane: filled, or stroked `width` wide.
int32_t DrawCoverage(const qvPathRender& r, qvPlane* plane, bool fill, double width,
                     const qvShapeMatrix& m, double tx, double ty) {
  qvDrawPathRequest request{};
  request.style = r.pathStyle;
  request.antialias = (r.drawStyle.formStyle & kFormAntialias) != 0 ? 1 : 0;
  request.stream = r.stream.data();
  request.streamBytes = r.stream.size();
  request.fill = fill ? 1 : 0;
  request.lineWidth = width;
  request.colour = r.colour;
  request.alpha = plane->data;
  request.bytesPerRow = plane->bytesPerRow;
  request.translateX = tx;
  request.translateY = ty;
  request.matrix[0] = m.m00;
  request.matrix[1] = m.m10;
  request.matrix[2] = m.m01;
  request.matrix[3] = m.m11;
  request.width = plane->width;
  request.height = plane->height;
  return VectorEngine()->drawPath(&request);
}

}  // namespace

int BuildPathRender(const qvPath& path, const qvDrawStyle& style, uint32_t colour, int32_t x,
                    int32_t y, const qvTransformBlock* transform, qvPathRender* out) {
  const qvPathStyle& ps = CurrentPathStyle();
  try {
    out->dashes.assign(ps.dashes, ps.dashes + ps.dashCount);
    out->stream.assign(path.buffer, path.buffer + PathStreamBytes(path));
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
  out->pathStyle = ps;
  out->pathStyle.dashes = out->dashes.empty() ? nullptr : out->dashes.data();
  out->drawStyle = style;
  out->colour = colour;
  out->x = x;
  out->y = y;
  if (transform != nullptr) {
    out->transform = *transform;
  } else {
    InitTransformBlock(&out->transform);
  }
  out->extentsX = out->extentsY = 0;
  out->redraw = false;
  out->transparency = 0;
  return 0;
}

void FreePathImage(qvPathImage* image) {
  FreeBitMap(image->bitmap);
  FreeMaskOrAlpha(image->alpha);
  *image = qvPathImage{};
}

namespace {

// RenderPathImage; with `blitAtOnce` a picture of one colour may be a single row read for every
// row (its bytes per row 0): the caller blits it and frees it before anything else sees it.
int RenderPath(qvScriptState* L, qvPathRender* r, bool blitAtOnce, qvPathImage* out) {
  *out = qvPathImage{};
  if (r->stream.size() <= 4) return ERR_EMPTYPATH;
  int32_t code = CheckVectorEngine();
  if (code != 0) return code;
  r->pathStyle.dashes = r->dashes.empty() ? nullptr : r->dashes.data();
  r->pathStyle.dashCount = int32_t(r->dashes.size());

  const qvDrawStyle& style = r->drawStyle;
  const bool filled = style.fillStyle != kFillNone;
  const bool edge = filled && (style.formStyle & kFormEdge) != 0;
  const bool shadow = filled && (style.formStyle & kFormShadow) != 0;
  const bool antialias = (style.formStyle & kFormAntialias) != 0;
  const double lineWidth = style.lineWidth;
  const double edgeWidth = 2.0 * style.edgeSize;

  // The box that everything drawn covers: the fill, the stroke, or the fill with its edge.
  qvPathExtentsRequest ask{};
  ask.style = r->pathStyle;
  ask.antialias = antialias ? 1 : 0;
  ask.stream = r->stream.data();
  ask.streamBytes = r->stream.size();
  ask.fill = filled && !edge ? 1 : 0;
  ask.lineWidth = edge ? edgeWidth : lineWidth;
  double ex = 0, ey = 0, ew = 0, eh = 0;
  if (VectorEngine()->getPathExtents(&ask) != 0 && std::isfinite(ask.x) && std::isfinite(ask.y) &&
      std::isfinite(ask.width) && std::isfinite(ask.height)) {
    ex = ask.x;
    ey = ask.y;
    ew = ask.width;
    eh = ask.height;
  }
  if (!(ew > 0) || !(eh > 0)) return ERR_EMPTYPATH;
  if (r->redraw) {
    ex = r->extentsX;
    ey = r->extentsY;
  } else {
    r->extentsX = ex;
    r->extentsY = ey;
  }

  // The matrix turns the extents box; the picture holds the turned box, and the drawing moves
  // by what brings the box's corner to the picture's.
  const qvShapeMatrix m = ShapeMatrixOf(r->transform);
  double bx = 0, by = 0, bw = ew, bh = eh;
  if (!IsIdentityMatrix(m)) {
    const double cx[4] = {0, ew, ew, 0}, cy[4] = {0, 0, eh, eh};
    double minX = 0, minY = 0, maxX = 0, maxY = 0;
    for (int i = 0; i < 4; ++i) {
      double px = m.m00 * cx[i] + m.m01 * cy[i];
      double py = m.m10 * cx[i] + m.m11 * cy[i];
      if (i == 0 || px < minX) minX = px;
      if (i == 0 || px > maxX) maxX = px;
      if (i == 0 || py < minY) minY = py;
      if (i == 0 || py > maxY) maxY = py;
    }
    bx = minX;
    by = minY;
    bw = maxX - minX;
    bh = maxY - minY;
    if (!std::isfinite(bw) || !std::isfinite(bh)) return ERR_EMPTYPATH;
    if (!(bw > 0) || !(bh > 0)) return ERR_EMPTYPATH;
  }
  const double tx = -(m.m00 * ex + m.m01 * ey) - bx;
  const double ty = -(m.m10 * ex + m.m11 * ey) - by;

  int32_t padLeft = 0, padTop = 0, padRight = 0, padBottom = 0;
  if (shadow) {
    ShadowPaddings(style.shadowDistance, style.shadowDirection, &padLeft, &padTop, &padRight,
                   &padBottom);
  }
  const double bodyW = std::ceil(bw), bodyH = std::ceil(bh);
  if (bodyW > kLargestSide - 256 || bodyH > kLargestSide - 256) return ERR_MEM;
  const auto bodyWidth = int32_t(bodyW), bodyHeight = int32_t(bodyH);
  const int32_t width = bodyWidth + padLeft + padRight;
  const int32_t height = bodyHeight + padTop + padBottom;
  size_t bytes = 0;
  if (CheckObjectSize(width, height, 4, &bytes) != 0) return ERR_MEM;

  // A body alone in one opaque colour is its coverage: the plugin draws straight into the
  // picture's alpha channel, and the picture is that colour.
  const bool plainBody = !edge && !shadow && (r->colour >> 24) == 0 &&
                         (style.fillStyle == kFillNone || style.fillStyle == kFillColour);
  // Filling a screen-sized picture with one colour cost as much as cairo's fill of the path.
  const bool oneRow = plainBody && blitAtOnce;
  RenderPlanes planes;
  planes.bitmap = AllocBitMap(width, oneRow ? 1 : height);
  planes.alpha = AllocAlphaChannel(width, height, true);
  if (planes.bitmap == nullptr || planes.alpha == nullptr) return ERR_MEM;
  if (!plainBody) {
    planes.body = AllocAlphaChannel(bodyWidth, bodyHeight, true);
    if (planes.body == nullptr) return ERR_MEM;
  }
  if (edge) {
    planes.edge = AllocAlphaChannel(bodyWidth, bodyHeight, true);
    if (planes.edge == nullptr) return ERR_MEM;
  }

  // The body's colour: plain, or gradient or texture pixels over the picture.
  const uint32_t* source = nullptr;
  int32_t sourcePixelsPerRow = 0;
  if (style.fillStyle == kFillGradient || style.fillStyle == kFillTexture) {
    planes.fill = AllocBitMap(width, height);
    if (planes.fill == nullptr) return ERR_MEM;
    code = style.fillStyle == kFillGradient
               ? DrawGradient(planes.fill, padLeft, padTop, bodyWidth, bodyHeight, &style.gradient)
               : TextureFill(L, planes.fill, padLeft, padTop, bodyWidth, bodyHeight, style, m,
                             r->transform.smoothScale != 0);
    if (code != 0) return code;
    qvBitMapLock lock{};
    if (LockBitMap(planes.fill, &lock) && lock.bytesPerPixel == 4) {
      source = reinterpret_cast<const uint32_t*>(lock.pixels);
      sourcePixelsPerRow = lock.pixelsPerRow;
    }
  }

  if (plainBody) {
    if (DrawCoverage(*r, planes.alpha, filled, lineWidth, m, tx, ty) == 0) return 0;
    FillBitMapRect(planes.bitmap, 0, 0, width, oneRow ? 1 : height, r->colour & 0x00FFFFFFu);
    if (oneRow) {
      planes.bitmap->height = height;
      planes.bitmap->bytesPerRow = 0;
    }
    return HandOver(&planes, r, 0, 0, width, height, out);
  }
  if (DrawCoverage(*r, planes.body, filled, lineWidth, m, tx, ty) == 0) return 0;
  // The edge's plane is the body grown by the edge: the fill and the stroke of twice the edge
  // size about its outline. The shadow takes it as the silhouette, and the alpha under the body
  // comes from it.
  if (edge) {
    DrawCoverage(*r, planes.edge, true, lineWidth, m, tx, ty);
    DrawCoverage(*r, planes.edge, false, edgeWidth, m, tx, ty);
  }

  qvFormLayers layers{};
  layers.bitmap = planes.bitmap;
  layers.alpha = planes.alpha;
  layers.shadowOn = shadow;
  layers.shadowDx = padRight - padLeft;
  layers.shadowDy = padBottom - padTop;
  layers.shadowColour = style.shadowColour;
  if (edge) {
    layers.edge = {planes.edge->data, planes.edge->bytesPerRow, padLeft, padTop, bodyWidth,
                   bodyHeight};
    layers.edgeColour = style.edgeColour & 0x00FFFFFFu;
  }
  layers.body = {planes.body->data, planes.body->bytesPerRow, padLeft, padTop, bodyWidth,
                 bodyHeight};
  layers.bodyColour = r->colour;
  layers.bodySource = source;
  layers.bodySourcePixelsPerRow = sourcePixelsPerRow;
  ComposeFormLayers(layers);
  return HandOver(&planes, r, padLeft, padTop, width, height, out);
}

}  // namespace

int RenderPathImage(qvScriptState* L, qvPathRender* r, qvPathImage* out) {
  return RenderPath(L, r, false, out);
}

int PathRenderer(qvScriptState* L, qvPathRender* request) {
  if (request->stream.size() <= 4) return ERR_EMPTYPATH;
  int code = CheckVectorEngine();
  if (code != 0) return code;
  // A brush, BGPic, mask or alpha channel selected as the output is bound before the first
  // drawing into it.
  qvDisplay* d = CurrentDisplay();
  if (d != nullptr &&
      (d->outputType == kOutputPicture || d->outputType == kOutputMask ||
       d->outputType == kOutputAlpha) &&
      OutputTarget() != nullptr && !OutputTarget()->bound) {
    code = BindOutputDevice(L);
    if (code != 0) return code;
  }
  qvPathImage image;
  code = RenderPath(L, request, true, &image);
  if (code != 0 || image.bitmap == nullptr) return code;
  if (request->transparency > 0) {
    qvPlane* noMask = nullptr;
    code = ApplyTransparencyToAlpha(&image.alpha, &noMask, image.width, image.height,
                                    255 - std::min(request->transparency, 255));
    if (code != 0) {
      FreePathImage(&image);
      return code;
    }
  }
  qvBGPic* target = OutputTarget();
  if (d == nullptr || target == nullptr) {
    FreePathImage(&image);
    return ERR_WRONGUSAGE;
  }
  if (d->doubleBuffer) AddDirtyRect(image.x, image.y, image.width, image.height);
  code = SafeBlt(L, image.bitmap, 0, 0, d->outBitmap, image.x, image.y, image.width, image.height,
                 image.width, image.height, target->width, target->height,
                 kBltBeneathSprites | kBltRecompose, nullptr, image.alpha, target->clipRegion);
  FreePathImage(&image);
  return code;
}

int DrawPathById(qvScriptState* L, qvObjectId id, int32_t x, int32_t y, uint32_t colour,
                 const qvDrawStyle& style, const qvTransformBlock* transform,
                 int32_t transparency) {
  int code = CheckVectorEngine();
  if (code != 0) return code;
  qvPath* path = nullptr;
  code = FindPath(id, &path);
  if (code != 0) return code;
  qvPathRender request;
  code = BuildPathRender(*path, style, colour, x, y, transform, &request);
  if (code != 0) return code;
  request.transparency = transparency;
  return PathRenderer(L, &request);
}

int DrawPathLayer(qvScriptState* L, const qvTransformBlock& layerTransform, double displayScaleX,
                  double displayScaleY, const qvPathRender& state, qvPathImage* out) {
  qvPathRender request = state;
  request.transform = layerTransform;
  request.transform.matrix[0] *= displayScaleX;
  request.transform.matrix[2] *= displayScaleX;
  request.transform.matrix[1] *= displayScaleY;
  request.transform.matrix[3] *= displayScaleY;
  request.transform.scaleX *= displayScaleX;
  request.transform.scaleY *= displayScaleY;
  request.redraw = true;
  return RenderPathImage(L, &request, out);
}

int AppendShapeSegments(qvPath* path, const qvShapeParams& shape) {
  int32_t code = 0;
  auto arc = [&](double cx, double cy, double rx, double ry, double start, double end,
                 int32_t direction) {
    const qvSegmentOperand ops[] = {DoubleOperand(cx),    DoubleOperand(cy),    DoubleOperand(rx),
                                    DoubleOperand(ry),    DoubleOperand(start), DoubleOperand(end),
                                    IntOperand(direction)};
    return AppendPathSegment(path, QV_SEG_ARC, ops, 7);
  };
  auto point = [&](int32_t opcode, double px, double py) {
    const qvSegmentOperand ops[] = {IntOperand(0), DoubleOperand(px), DoubleOperand(py)};
    return AppendPathSegment(path, opcode, ops, 3);
  };
  switch (shape.type) {
    case kShapeBox: {
      qvSegmentOperand ops[8] = {DoubleOperand(0), DoubleOperand(0), DoubleOperand(shape.width),
                                 DoubleOperand(shape.height)};
      for (int i = 0; i < 4; ++i) ops[4 + i] = IntOperand(shape.corners[i]);
      code = AppendPathSegment(path, QV_SEG_BOX, ops, 8);
      break;
    }
    case kShapeCircle:
    case kShapeEllipse:
      code = arc(shape.radiusX, shape.radiusY, shape.radiusX, shape.radiusY, 0, 360, 1);
      break;
    case kShapePolygon:
      if (shape.pointCount < 1 || shape.points == nullptr) return ERR_WRONGUSAGE;
      code = point(QV_SEG_MOVETO, shape.points[0].x, shape.points[0].y);
      for (int32_t i = 1; code == 0 && i < shape.pointCount; ++i) {
        code = point(QV_SEG_LINETO, shape.points[i].x, shape.points[i].y);
      }
      break;
    case kShapeArc:
      code = point(QV_SEG_MOVETO, shape.radiusX, shape.radiusY);
      if (code == 0) {
        code = arc(shape.radiusX, shape.radiusY, shape.radiusX, shape.radiusY, shape.startAngle,
                   shape.endAngle, shape.clockwise ? 1 : 0);
      }
      break;
    default:
      return ERR_WRONGUSAGE;
  }
  if (code != 0) return code;
  return AppendPathSegment(path, QV_SEG_CLOSEPATH, nullptr, 0);
}

int DrawShapeAsPath(qvScriptState* L, const qvShapeParams& shape, const qvDrawStyle& style) {
  int code = CheckVectorEngine();
  if (code != 0) return code;
  qvPath* path = nullptr;
  code = StartPath(L, {0, 1}, &path);
  if (code != 0) return code;
  code = AppendShapeSegments(path, shape);
  if (code == 0) {
    // The shape renderers put the shape itself at its position and grow the picture outward by
    // the edge; a path's extents include the edge, so they start that much further out.
    int32_t grow = 0;
    if (style.fillStyle != kFillNone && (style.formStyle & kFormEdge) != 0) grow = style.edgeSize;
    code = DrawPathById(L, {0, path->header.handle}, int32_t(int64_t(shape.x) - grow),
                        int32_t(int64_t(shape.y) - grow), shape.colour, style, shape.transform);
  }
  FreePath(L, path);
  return code;
}

}  // namespace qv

namespace qv {

namespace {

int DrawShapeWithItsStyle(qvScriptState* L, const qvShapeParams& shape) {
  return DrawShapeAsPath(L, shape, shape.style != nullptr ? *shape.style : *GetDrawStyle());
}

}  // namespace

void SetForcePathUse(bool on) { SetShapePathDrawer(on ? DrawShapeWithItsStyle : nullptr); }

}  // namespace qv
