// Boxes with their direct road, and the common shape renderer that ellipses, circles, arcs,
// polygons and the other boxes go through (display/draw.h).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "base/errors.h"
#include "base/support.h"
#include "core/layer_system.h"
#include "display/display.h"
#include "display/draw.h"
#include "display/draw_internal.h"

namespace qv {

namespace {

bool IsIdentity(const qvTransformBlock* transform) {
  return transform == nullptr || IsIdentityMatrix(ShapeMatrixOf(*transform));
}

// Where a box part is painted: planes, the clip that limits it, and how the mask and the alpha
// channel take it.
struct Canvas {
  qvBitMap* bitmap;          // or null
  qvPlane* mask;             // or null
  qvPlane* alpha;            // or null
  int32_t originX, originY;  // output coordinates of the canvas's (0, 0)
  draw::Clip clip;           // in output coordinates
  int32_t maskMode;
  int32_t alphaIntensity;  // -1: 255 minus the part's transparency
  bool tint;               // a transparent solid fill tints the bitmap (no alpha channel)
};

struct Rect {
  int32_t x, y, width, height;
};

// The part of the rectangle inside the canvas's clip, in canvas coordinates.
bool CanvasRect(const Canvas& c, Rect r, Rect* out) {
  if (!draw::CutToClip(c.clip, &r.x, &r.y, &r.width, &r.height)) return false;
  *out = {r.x - c.originX, r.y - c.originY, r.width, r.height};
  return true;
}

void PaintPlanes(const Canvas& c, const Rect& r, int32_t transparency) {
  if (c.mask != nullptr) FillPlaneRect(c.mask, r.x, r.y, r.width, r.height, c.maskMode);
  if (qvPlane* alpha = c.alpha) {
    int32_t value = c.alphaIntensity != -1 ? c.alphaIntensity : 255 - transparency;
    int32_t w = r.width, h = r.height;
    if (alpha->width > 0) w = std::min<int32_t>(w, alpha->width - r.x);
    if (alpha->height > 0) h = std::min<int32_t>(h, alpha->height - r.y);
    FillBytesRectKernel(alpha->data, r.x, r.y, w, h, alpha->bytesPerRow,
                        static_cast<uint8_t>(value));
  }
}

// A solid rectangle in 0xAARRGGBB: filled, or tinted towards the colour by its opacity where the
// canvas has no alpha channel.
void PaintSolid(const Canvas& c, Rect box, uint32_t colour) {
  Rect r;
  if (!CanvasRect(c, box, &r)) return;
  int32_t transparency = static_cast<int32_t>(colour >> 24);
  if (c.bitmap != nullptr) {
    if (transparency != 0 && c.tint) {
      TintBitMap(c.bitmap, r.x, r.y, r.width, r.height, colour & 0xFFFFFFu, 255 - transparency);
    } else {
      FillBitMapRect(c.bitmap, r.x, r.y, r.width, r.height, colour & 0xFFFFFFu);
    }
  }
  PaintPlanes(c, r, transparency);
}

// The one-pixel frame: each side painted as a rectangle of its own, so that a side the clip cut
// off is left out. A right or bottom side past the coordinate range lies off every canvas.
void PaintFrame(const Canvas& c, Rect box, uint32_t colour) {
  const int64_t right = int64_t{box.x} + box.width - 1, bottom = int64_t{box.y} + box.height - 1;
  PaintSolid(c, {box.x, box.y, box.width, 1}, colour);
  if (box.height > 1 && bottom <= INT32_MAX) {
    PaintSolid(c, {box.x, static_cast<int32_t>(bottom), box.width, 1}, colour);
  }
  if (box.height > 2) {
    PaintSolid(c, {box.x, box.y + 1, 1, box.height - 2}, colour);
    if (box.width > 1 && right <= INT32_MAX) {
      PaintSolid(c, {static_cast<int32_t>(right), box.y + 1, 1, box.height - 2}, colour);
    }
  }
}

// The largest box whose whole gradient is made to show a part of it; beyond it the gradient is
// laid over the part that shows.
constexpr int64_t kWholeGradientPixels = int64_t{1} << 24;

// A gradient over the box, of which the rectangle r (canvas coordinates) shows.
int PaintGradient(const Canvas& c, const Rect& box, const Rect& r, const qvGradient& gradient) {
  Rect whole{box.x - c.originX, box.y - c.originY, box.width, box.height};
  bool cut = r.x != whole.x || r.y != whole.y || r.width != whole.width || r.height != whole.height;
  if (!cut || int64_t{box.width} * box.height > kWholeGradientPixels) {
    return DrawGradient(c.bitmap, r.x, r.y, r.width, r.height, &gradient);
  }
  qvBitMap* full = AllocBitMap(box.width, box.height);
  if (full == nullptr) return ERR_MEM;
  int code = DrawGradient(full, 0, 0, box.width, box.height, &gradient);
  if (code == 0)
    BltBitMap(full, r.x - whole.x, r.y - whole.y, c.bitmap, r.x, r.y, r.width, r.height);
  FreeBitMap(full);
  return code;
}

// The texture tiled over the box from its offsets, of which the rectangle r shows: the offsets
// move by the cut.
int PaintTexture(qvScriptState* L, const Canvas& c, const Rect& box, const Rect& r,
                 const qvDrawStyle& style, bool smooth) {
  qvBrush* brush = nullptr;
  int code = FindBrush(L, style.textureBrush, &brush, 0);
  if (code != 0) return code;
  qvDrawStyle moved = style;
  int64_t dx = int64_t{r.x} + c.originX - box.x, dy = int64_t{r.y} + c.originY - box.y;
  if (brush->width > 0 && brush->height > 0) {
    moved.textureX = static_cast<int32_t>((int64_t{style.textureX} + dx) % brush->width);
    moved.textureY = static_cast<int32_t>((int64_t{style.textureY} + dy) % brush->height);
  }
  return TextureFill(L, c.bitmap, r.x, r.y, r.width, r.height, moved, kIdentityShapeMatrix, smooth);
}

// The box itself by its fill style.
int PaintBody(qvScriptState* L, const Canvas& c, Rect box, uint32_t colour,
              const qvDrawStyle& style, bool smooth) {
  switch (style.fillStyle) {
    case kFillNone:
      PaintFrame(c, box, colour);
      return 0;
    case kFillGradient:
    case kFillTexture: {
      Rect r;
      if (!CanvasRect(c, box, &r)) return 0;
      if (c.bitmap != nullptr) {
        int code = style.fillStyle == kFillGradient ? PaintGradient(c, box, r, style.gradient)
                                                    : PaintTexture(L, c, box, r, style, smooth);
        if (code != 0) return code;
      }
      PaintPlanes(c, r, static_cast<int32_t>(colour >> 24));
      return 0;
    }
    default:
      PaintSolid(c, box, colour);
      return 0;
  }
}

// The rectangles of the shadow, the edge and the box.
struct BoxParts {
  qvFormBox form;
  bool shadow, edge;
  Rect shadowBox, edgeBox, box;
};

BoxParts LayOutBox(int32_t x, int32_t y, int32_t width, int32_t height, const qvDrawStyle& style) {
  BoxParts p{};
  p.form = FormStyleBox(x, y, width, height, style);
  p.shadow = (style.formStyle & kFormShadow) != 0;
  p.edge = (style.formStyle & kFormEdge) != 0;
  const int64_t e = p.edge ? style.edgeSize : 0;
  p.box = {p.form.boxX, p.form.boxY, width, height};
  // Boxes at the far ends of the coordinate range: the edge and the shadow saturate there
  // instead of wrapping round to the other side (the clip then leaves nothing of them).
  auto sat = SaturateToInt32;
  p.edgeBox = {sat(p.box.x - e), sat(p.box.y - e), sat(width + 2 * e), sat(height + 2 * e)};
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  ShadowPaddings(style.shadowDistance, style.shadowDirection, &left, &top, &right, &bottom);
  // The shadow is the silhouette (the edge box with an edge) moved towards its direction.
  p.shadowBox = p.edgeBox;
  p.shadowBox.x = sat(int64_t{p.shadowBox.x} + right - left);
  p.shadowBox.y = sat(int64_t{p.shadowBox.y} + bottom - top);
  return p;
}

int PaintBoxParts(qvScriptState* L, const Canvas& c, const BoxParts& p, uint32_t colour,
                  const qvDrawStyle& style, bool smooth) {
  bool frame = style.fillStyle == kFillNone;
  auto paint = frame ? PaintFrame : PaintSolid;
  if (p.shadow) paint(c, p.shadowBox, style.shadowColour);
  if (p.edge) paint(c, p.edgeBox, style.edgeColour & 0xFFFFFFu);
  return PaintBody(L, c, p.box, colour, style, smooth);
}

// The box with its forms drawn into a new picture (a mask, or an alpha channel where a
// transparency needs one) and blitted through SafeBlt with the target's clip region.
int DrawBoxAsPicture(qvScriptState* L, qvDisplay* d, qvBGPic* target, const BoxParts& p,
                     uint32_t colour, const qvDrawStyle& style) {
  // Only the part that can show is made.
  Rect area{p.form.x, p.form.y, p.form.width, p.form.height};
  draw::Clip clip = draw::OutputClip(target);
  if (!draw::CutToClip(clip, &area.x, &area.y, &area.width, &area.height)) return 0;
  bool useAlpha = (colour >> 24) != 0 || (p.shadow && (style.shadowColour >> 24) != 0);
  qvShapeImage image{};
  image.bitmap = AllocClearedBitMap(area.width, area.height);
  if (useAlpha) {
    image.alpha = AllocAlphaChannel(area.width, area.height, true);
  } else {
    image.mask = AllocMask(area.width, area.height, true);
  }
  if (image.bitmap == nullptr || (image.alpha == nullptr && image.mask == nullptr)) {
    FreeShapeImage(&image);
    return ERR_MEM;
  }
  Canvas canvas{image.bitmap,
                image.mask,
                image.alpha,
                area.x,
                area.y,
                {area.x, area.y, area.width, area.height, nullptr},
                2,
                -1,
                false};
  int code = PaintBoxParts(L, canvas, p, colour, style, d->smoothScale != 0);
  if (code == 0) {
    if (d->doubleBuffer) AddDirtyRect(area.x, area.y, area.width, area.height);
    code = SafeBlt(L, image.bitmap, 0, 0, d->outBitmap, area.x, area.y, area.width, area.height,
                   area.width, area.height, target->width, target->height,
                   kBltBeneathSprites | kBltRecompose, image.mask, image.alpha, target->clipRegion);
  }
  FreeShapeImage(&image);
  return code;
}

}  // namespace

int DrawBoxPrim(qvScriptState* L, const qvDrawStyle& style, int32_t x, int32_t y, int32_t width,
                int32_t height, uint32_t colour, BoxRoad* road) {
  *road = BoxRoad::kNeedsRenderer;
  qvDisplay* d = CurrentDisplay();
  qvBGPic* target = OutputTarget();
  if (d == nullptr || target == nullptr) return ERR_WRONGUSAGE;
  BoxParts parts = LayOutBox(x, y, width, height, style);
  draw::Clip clip = draw::OutputClip(target);
  Rect whole{parts.form.x, parts.form.y, parts.form.width, parts.form.height};
  Rect visible = whole;
  if (!draw::CutToClip(clip, &visible.x, &visible.y, &visible.width, &visible.height)) {
    *road = BoxRoad::kDrawnDirectly;
    return 0;
  }
  // The direct road clips to the rectangle only: a region with a mask, or a sprite in the way,
  // takes the picture road.
  if (clip.HasMask() || RectHitsSprites(target, whole.x, whole.y, whole.width, whole.height)) {
    return 0;
  }
  *road = BoxRoad::kDrawnDirectly;
  bool display = d->outputType == kOutputDisplay;
  qvBitMap* bitmap = display ? d->displayBitmap : d->outBitmap;
  Canvas canvas{bitmap,
                display ? nullptr : d->outMask,
                display ? nullptr : d->outAlpha,
                0,
                0,
                clip,
                bitmap != nullptr ? 2 : GetMaskMode(),
                bitmap != nullptr ? -1 : GetAlphaIntensity(),
                display || d->outAlpha == nullptr};
  int code = PaintBoxParts(L, canvas, parts, colour, style, d->smoothScale != 0);
  if (code != 0) return code;
  if (display) {
    draw::ShowDisplayRect(d, visible.x, visible.y, visible.width, visible.height);
  } else if (d->doubleBuffer) {
    AddDirtyRect(visible.x, visible.y, visible.width, visible.height);
  }
  return 0;
}

int DrawBoxShape(qvScriptState* L, const qvDrawStyle& style, const qvTransformBlock* transform,
                 int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour,
                 const int32_t corners[4]) {
  if (width < 1 || height < 1) return ERR_WRONGUSAGE;
  qvDisplay* d = CurrentDisplay();
  if (d == nullptr) return ERR_WRONGUSAGE;
  if (d->layersOn) return ERR_NOLAYERS;
  int code = draw::BindForDrawing(L, d);
  if (code != 0) return code;
  qvShapeParams shape{};
  shape.type = kShapeBox;
  shape.x = x;
  shape.y = y;
  shape.width = width;
  shape.height = height;
  bool rounded = false;
  for (int i = 0; i < 4; ++i) {
    shape.corners[i] = std::clamp(corners != nullptr ? corners[i] : 0, 0, 100);
    rounded = rounded || shape.corners[i] != 0;
  }
  shape.colour = colour;
  shape.style = &style;
  shape.transform = transform;
  bool thickOutline = style.fillStyle == kFillNone && style.lineWidth > 1;
  if (!rounded && IsIdentity(transform) && !thickOutline && !(style.formStyle & kFormAntialias)) {
    double anchorX = transform != nullptr ? transform->anchorX : 0.0;
    double anchorY = transform != nullptr ? transform->anchorY : 0.0;
    x = ResolveCoordX(x, width, 0, anchorX) - TruncateToInt(width * anchorX);
    y = ResolveCoordY(y, height, 0, anchorY) - TruncateToInt(height * anchorY);
    qvDrawStyle copy = style;
    ValidateFormStyle(&copy);
    BoxRoad road = BoxRoad::kNeedsRenderer;
    code = DrawBoxPrim(L, copy, x, y, width, height, colour, &road);
    if (code != 0 || road == BoxRoad::kDrawnDirectly) return code;
    qvBGPic* target = OutputTarget();
    return DrawBoxAsPicture(L, d, target, LayOutBox(x, y, width, height, copy), colour, copy);
  }
  return RenderShape(L, shape);
}

namespace {

// An ellipse's parameters: its box of 2r + 1 pixels each way at (x, y), drawn in `colour`.
qvShapeParams EllipseParams(const qvDrawStyle& style, const qvTransformBlock* transform,
                            int32_t type, int32_t x, int32_t y, int32_t radiusX, int32_t radiusY,
                            uint32_t colour) {
  qvShapeParams shape{};
  shape.type = type;
  shape.x = x;
  shape.y = y;
  shape.width = 2 * radiusX + 1;
  shape.height = 2 * radiusY + 1;
  shape.radiusX = radiusX;
  shape.radiusY = radiusY;
  shape.colour = colour;
  shape.style = &style;
  shape.transform = transform;
  return shape;
}

// The drawn size 2r + 1 stays a 32-bit number.
bool UsableRadii(int32_t radiusX, int32_t radiusY) {
  return radiusX >= 1 && radiusY >= 1 && radiusX <= (INT32_MAX - 1) / 2 &&
         radiusY <= (INT32_MAX - 1) / 2;
}

}  // namespace

int DrawEllipseShape(qvScriptState* L, const qvDrawStyle& style, const qvTransformBlock* transform,
                     int32_t type, int32_t x, int32_t y, int32_t radiusX, int32_t radiusY,
                     uint32_t colour) {
  if (!UsableRadii(radiusX, radiusY)) return ERR_WRONGUSAGE;
  return RenderShape(L, EllipseParams(style, transform, type, x, y, radiusX, radiusY, colour));
}

int DrawArcShape(qvScriptState* L, const qvDrawStyle& style, const qvTransformBlock* transform,
                 int32_t x, int32_t y, int32_t radiusX, int32_t radiusY, int32_t startAngle,
                 int32_t endAngle, bool clockwise, uint32_t colour) {
  if (!UsableRadii(radiusX, radiusY) || startAngle < 0 || endAngle < 0) return ERR_WRONGUSAGE;
  if (startAngle == endAngle) return 0;
  qvShapeParams shape = EllipseParams(style, transform, kShapeArc, x, y, radiusX, radiusY, colour);
  shape.startAngle = startAngle;
  shape.endAngle = endAngle;
  shape.clockwise = clockwise;
  return RenderShape(L, shape);
}

int DrawPolygonShape(qvScriptState* L, const qvDrawStyle& style, const qvTransformBlock* transform,
                     int32_t x, int32_t y, int32_t width, int32_t height, const qvPointD* points,
                     int32_t count, uint32_t colour) {
  if (width < 1 || height < 1 || count < 1) return ERR_WRONGUSAGE;
  qvShapeParams shape{};
  shape.type = kShapePolygon;
  shape.x = x;
  shape.y = y;
  shape.width = width;
  shape.height = height;
  shape.points = points;
  shape.pointCount = count;
  shape.colour = colour;
  shape.style = &style;
  shape.transform = transform;
  return RenderShape(L, shape);
}

int RenderShape(qvScriptState* L, const qvShapeParams& given) {
  qvDisplay* d = CurrentDisplay();
  if (d == nullptr) return ERR_WRONGUSAGE;
  // Shape layers come with the layer system.
  if (d->layersOn) return ERR_NOLAYERS;
  int code = draw::BindForDrawing(L, d);
  if (code != 0) return code;
  qvBGPic* target = OutputTarget();
  if (target == nullptr) return ERR_WRONGUSAGE;

  qvShapeParams shape = given;
  qvTransformBlock identity{};
  InitTransformBlock(&identity);
  const qvTransformBlock& transform = given.transform != nullptr ? *given.transform : identity;
  shape.x = ResolveCoordX(given.x, given.width, 0, transform.anchorX) -
            TruncateToInt(given.width * transform.anchorX);
  shape.y = ResolveCoordY(given.y, given.height, 0, transform.anchorY) -
            TruncateToInt(given.height * transform.anchorY);

  qvDrawStyle style{};
  if (given.style != nullptr) {
    style = *given.style;
  } else {
    InitDrawStyle(&style);
  }
  qvShapeMatrix matrix = ShapeMatrixOf(transform);
  // The forms grow with the shape's scale.
  double scale = std::fabs(matrix.m00);
  style.shadowDistance = RoundToInt(style.shadowDistance * scale);
  style.lineWidth = RoundToInt(style.lineWidth * scale);
  ValidateFormStyle(&style);
  shape.style = &style;

  qvShapeOutline outline;
  code = MakeShapeOutline(shape, &outline);
  if (code != 0) return code;
  qvShapeImage image{};
  code = RasteriseShape(L, outline, {shape.colour, &style, matrix, d->smoothScale != 0}, &image);
  if (code != 0) return code;
  int64_t x = int64_t{shape.x} + outline.x + image.x;
  int64_t y = int64_t{shape.y} + outline.y + image.y;
  // A picture placed beyond the 32-bit plane lies wholly outside every target.
  if (x < INT32_MIN || x > INT32_MAX || y < INT32_MIN || y > INT32_MAX) {
    FreeShapeImage(&image);
    return 0;
  }
  auto px = static_cast<int32_t>(x), py = static_cast<int32_t>(y);
  if (d->doubleBuffer) AddDirtyRect(px, py, image.width, image.height);
  code = SafeBlt(L, image.bitmap, 0, 0, d->outBitmap, px, py, image.width, image.height,
                 image.width, image.height, target->width, target->height,
                 kBltBeneathSprites | kBltRecompose, image.mask, image.alpha, target->clipRegion);
  FreeShapeImage(&image);
  return code;
}

}  // namespace qv
