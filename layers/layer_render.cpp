// Rendering a layer's state: its object drawn at the state's transform (with the display's scale
// where the records asked for it) into the state's render planes, and the place and size of the
// render in the state's draw rectangle.
#include <cmath>
#include <vector>

#include "base/errors.h"
#include "base/support.h"
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
  for (int32_t i = 0; s->vertices != nullptr && i < s->vertexCount; ++i) {
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

}  // namespace

int DrawLayerObject(qvScriptState* L, qvDisplay*, qvLayer* layer, qvLayerState* state,
                    const qvTransformBlock& transform, int32_t) {
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
    default:
      // Anims, text, lines and vector paths render with their subsystems' layer roads, which
      // come later: until then such a state keeps the pixels it was made with and succeeds.
      return 0;
  }
}

}  // namespace qv
