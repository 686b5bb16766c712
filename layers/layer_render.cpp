// Rendering a layer's state: its object drawn at the state's transform (with the display's scale
// where the records asked for it) into the state's render planes, and the place and size of the
// render in the state's draw rectangle.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "base/errors.h"
#include "base/support.h"
#include "display/displays.h"
#include "display/draw.h"
#include "layers/layer_draw.h"

namespace qv {

namespace {

void FreeSet(qvPlaneSet* set) {
  FreeBitMap(set->bitmap);
  FreeMaskOrAlpha(set->mask);
  FreeMaskOrAlpha(set->alpha);
  *set = {};
}

// A new render replaces the old one, and whatever was made from the old one goes with it.
void TakeRender(qvLayerState* state, const qvPlaneSet& render, int32_t x, int32_t y, int32_t width,
                int32_t height) {
  FreeSet(&state->render);
  FreeSet(&state->filtered);
  FreeSet(&state->bordered);
  FreeMaskOrAlpha(state->shadowMask);
  state->shadowMask = nullptr;
  state->borderOffsetX = state->borderOffsetY = state->borderWidth = state->borderHeight = 0;
  state->render = render;
  state->drawX = x;
  state->drawY = y;
  state->drawWidth = width;
  state->drawHeight = height;
}

// The corner of the untransformed object: the anchor point less the anchor's share of the size.
int32_t Corner(int32_t position, int32_t size, double anchor) {
  return position - TruncateToInt(size * anchor);
}

// Brushes and parts: the base's pixels (the object itself, or the pixels the layer owns)
// through the transform.
int RenderPicture(qvScriptState* L, qvLayer* layer, qvLayerState* state,
                  const qvTransformBlock& t) {
  qvLayerPixels px{};
  int code = GetLayerObjectBitmaps(L, layer, layer->base, false, false, -1, &px);
  if (code != 0) return code;
  if (px.bitmap == nullptr || px.width < 1 || px.height < 1) return ERR_BADDIMENSIONS;
  const int32_t w = px.width, h = px.height;
  const double anchor[2] = {t.anchorX, t.anchorY};
  qvPlaneSet render{};
  int32_t ox = 0, oy = 0, ow = 0, oh = 0;
  code = TransformBitMap(nullptr, kTransformBitMap, nullptr, px.bitmap, px.mask, px.alpha, px.srcX,
                         px.srcY, Corner(state->x, w, t.anchorX), Corner(state->y, h, t.anchorY), w,
                         h, anchor, t.matrix, t.smoothScale != 0, &render.bitmap, &render.mask,
                         &render.alpha, &ox, &oy, &ow, &oh);
  if (code != 0) return code;
  if (render.bitmap == nullptr) return ERR_MEM;
  TakeRender(state, render, ox, oy, ow, oh);
  return 0;
}

// Box, circle, ellipse, polygon, arc: the outline through the shape rasteriser, as the draw
// library draws it, at the state's transform.
int RenderShapeLayer(qvScriptState* L, qvLayer* layer, qvLayerState* state,
                     const qvTransformBlock& t) {
  auto* s = static_cast<qvShapeLayerState*>(state);
  std::vector<qvPointD> points;
  for (int64_t i = 0; s->vertices != nullptr && i < s->vertexCount; ++i) {
    points.push_back({s->vertices[2 * i], s->vertices[2 * i + 1]});
  }
  qvShapeParams p{};
  p.type = layer->kind;
  p.width = state->width;
  p.height = state->height;
  p.radiusX = RoundToInt(s->radiusA);
  p.radiusY = RoundToInt(s->radiusB);
  p.startAngle = RoundToInt(s->startAngle);
  p.endAngle = RoundToInt(s->endAngle);
  p.clockwise = s->clockwise != 0;
  for (int i = 0; i < 4; ++i) p.corners[i] = s->corners[i];
  p.points = points.data();
  p.pointCount = static_cast<int32_t>(points.size());
  p.colour = s->colour;
  p.transform = &t;
  qvDrawStyle style = s->style;
  const qvShapeMatrix matrix = ShapeMatrixOf(t);
  // The forms grow with the shape's scale, as the draw library's do.
  const double scale = std::fabs(matrix.m00);
  style.shadowDistance = RoundToInt(style.shadowDistance * scale);
  style.lineWidth = RoundToInt(style.lineWidth * scale);
  ValidateFormStyle(&style);
  p.style = &style;
  qvShapeOutline outline;
  int code = MakeShapeOutline(p, &outline);
  if (code != 0) return code;
  qvShapeImage image{};
  code = RasteriseShape(L, outline, {s->colour, &style, matrix, t.smoothScale != 0}, &image);
  if (code != 0) return code;
  const int32_t x = Corner(state->x, state->width, t.anchorX) + outline.x + image.x;
  const int32_t y = Corner(state->y, state->height, t.anchorY) + outline.y + image.y;
  TakeRender(state, {image.bitmap, image.mask, image.alpha}, x, y, image.width, image.height);
  return 0;
}

// A line: its ends turned about the anchor of its box (as the draw library turns them), drawn
// into a cleared picture of their box grown by the thickness, its alpha the line's coverage.
int RenderLineLayer(const qvDisplay* display, qvLayerState* state, const qvTransformBlock& t,
                    int32_t flags) {
  auto* s = static_cast<qvShapeLayerState*>(state);
  const int32_t thickness = std::max(s->thickness, 1);
  const bool antialias = (s->style.formStyle & kFormAntialias) != 0;
  int64_t left = std::min(s->x1, s->x2), top = std::min(s->y1, s->y2);
  qvPointD ends[2] = {{static_cast<double>(s->x1 - left), static_cast<double>(s->y1 - top)},
                      {static_cast<double>(s->x2 - left), static_cast<double>(s->y2 - top)}};
  auto w = static_cast<int32_t>(std::min<int64_t>(std::llabs(int64_t{s->x2} - s->x1) + 1, 1 << 20));
  auto h = static_cast<int32_t>(std::min<int64_t>(std::llabs(int64_t{s->y2} - s->y1) + 1, 1 << 20));
  RotateShapePoints(ShapeMatrixOf(t), t.anchorX, t.anchorY, w, h, ends, 2, false, nullptr, nullptr,
                    nullptr, nullptr);
  if ((flags & kRenderScaled) && display != nullptr) {
    // The matrix carries the display's scale for the line's length; its place scales too.
    left = RoundToInt(static_cast<double>(left) * display->scaleX);
    top = RoundToInt(static_cast<double>(top) * display->scaleY);
  }
  const double minX = std::min(ends[0].x, ends[1].x), minY = std::min(ends[0].y, ends[1].y);
  const double maxX = std::max(ends[0].x, ends[1].x), maxY = std::max(ends[0].y, ends[1].y);
  const int32_t margin = thickness / 2 + 2;
  if (maxX - minX > (1 << 20) || maxY - minY > (1 << 20)) return ERR_MEM;
  const int32_t ox = static_cast<int32_t>(std::floor(minX)) - margin;
  const int32_t oy = static_cast<int32_t>(std::floor(minY)) - margin;
  const int32_t pw = static_cast<int32_t>(std::ceil(maxX)) - ox + margin + 1;
  const int32_t ph = static_cast<int32_t>(std::ceil(maxY)) - oy + margin + 1;
  qvPlaneSet render{AllocClearedBitMap(pw, ph), nullptr, AllocAlphaChannel(pw, ph, true)};
  if (render.bitmap == nullptr || render.alpha == nullptr) {
    FreeSet(&render);
    return ERR_MEM;
  }
  const qvPointI local[2] = {
      {static_cast<int32_t>(ends[0].x) - ox, static_cast<int32_t>(ends[0].y) - oy},
      {static_cast<int32_t>(ends[1].x) - ox, static_cast<int32_t>(ends[1].y) - oy}};
  qvRenderTarget target{render.bitmap, nullptr, render.alpha, pw, ph, nullptr, 0};
  int code = DrawThroughRenderRecord(target, kRoadLine, local, 2, thickness, antialias, s->colour,
                                     0, -1);
  if (code != 0) {
    FreeSet(&render);
    return code;
  }
  TakeRender(state, render, static_cast<int32_t>(left) + ox, static_cast<int32_t>(top) + oy, pw,
             ph);
  return 0;
}

}  // namespace

int DrawLayerObject(qvScriptState* L, qvDisplay* display, qvLayer* layer, qvLayerState* state,
                    const qvTransformBlock& transform, int32_t flags) {
  switch (layer->kind) {
    case kObjectBrush:
    case kObjectBrushPart:
    case kObjectBGPicPart:
      return RenderPicture(L, layer, state, transform);
    case kObjectBox:
    case kObjectCircle:
    case kObjectEllipse:
    case kObjectPolygon:
    case kObjectArc:
      return RenderShapeLayer(L, layer, state, transform);
    case kObjectLine:
      return RenderLineLayer(display, state, transform, flags);
    default:
      // Anims, text and vector paths render with their subsystems' layer roads, which
      // come later: until then such a state keeps the pixels it was made with and succeeds.
      return 0;
  }
}

}  // namespace qv
