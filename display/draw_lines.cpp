// Lines: the direct road of one-pixel lines into the output and the window, the render-record
// road of thick and anti-aliased lines, and the picture road through SafeBlt (display/draw.h).
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "base/errors.h"
#include "base/support.h"
#include "core/layer_system.h"
#include "display/display.h"
#include "display/draw.h"
#include "display/draw_internal.h"

namespace qv {

namespace {

// Cuts the line to the clip rectangle: each end outside is moved along the line (its slope
// worked in doubles) to the edge it crosses, the other coordinate truncated. False when no part
// of the line lies inside.
bool ClipLine(const draw::Clip& clip, int64_t* x1, int64_t* y1, int64_t* x2, int64_t* y2) {
  if (clip.width < 1 || clip.height < 1) return false;
  const int64_t xmin = clip.x, xmax = int64_t{clip.x} + clip.width - 1;
  const int64_t ymin = clip.y, ymax = int64_t{clip.y} + clip.height - 1;
  const int64_t ax = *x1, ay = *y1, bx = *x2, by = *y2;
  if ((ax < xmin && bx < xmin) || (ax > xmax && bx > xmax) || (ay < ymin && by < ymin) ||
      (ay > ymax && by > ymax)) {
    return false;
  }
  const double dx = static_cast<double>(bx - ax), dy = static_cast<double>(by - ay);
  // Far-off crossings are held where a 64-bit cast stays defined; such ends fail the test below.
  auto cut = [](double v) { return static_cast<int64_t>(std::trunc(std::clamp(v, -1e15, 1e15))); };
  auto cutEnd = [&](int64_t* px, int64_t* py) {
    if (*px < xmin || *px > xmax) {
      int64_t edge = *px < xmin ? xmin : xmax;
      *py = cut(static_cast<double>(ay) + static_cast<double>(edge - ax) * dy / dx);
      *px = edge;
    }
    if (*py < ymin || *py > ymax) {
      int64_t edge = *py < ymin ? ymin : ymax;
      *px = cut(static_cast<double>(ax) + static_cast<double>(edge - ay) * dx / dy);
      *py = edge;
    }
  };
  cutEnd(x1, y1);
  cutEnd(x2, y2);
  return *x1 >= xmin && *x1 <= xmax && *y1 >= ymin && *y1 <= ymax && *x2 >= xmin && *x2 <= xmax &&
         *y2 >= ymin && *y2 <= ymax;
}

// The pixels of a one-pixel line from (x1, y1) to (x2, y2), both ends included: the same walk as
// the window's line, so that the picture and the window agree pixel for pixel.
template <typename Plot>
void WalkLine(int64_t x1, int64_t y1, int64_t x2, int64_t y2, Plot plot) {
  int64_t x = x1, y = y1;
  int64_t ddx = std::llabs(x2 - x1), ddy = -std::llabs(y2 - y1);
  int64_t stepX = x1 < x2 ? 1 : -1, stepY = y1 < y2 ? 1 : -1;
  int64_t err = ddx + ddy;
  for (;;) {
    plot(x, y);
    if (x == x2 && y == y2) break;
    int64_t e2 = 2 * err;
    if (e2 >= ddy) {
      err += ddy;
      x += stepX;
    }
    if (e2 <= ddx) {
      err += ddx;
      y += stepY;
    }
  }
}

bool IsIdentity(const qvTransformBlock* transform) {
  return transform == nullptr || IsIdentityMatrix(ShapeMatrixOf(*transform));
}

// The line drawn into a new picture (with an alpha channel when anti-aliased or transparent,
// else a mask) that covers the part of the line's box within the clip rectangle, and blitted
// onto the output through SafeBlt with the target's clip region.
int DrawLineAsPicture(qvScriptState* L, qvDisplay* d, qvBGPic* target, const draw::Clip& clip,
                      int64_t x1, int64_t y1, int64_t x2, int64_t y2, uint32_t colour,
                      int32_t thickness, bool antialias) {
  int64_t margin = thickness / 2 + 2;
  int64_t left = std::max<int64_t>(std::min(x1, x2) - margin, clip.x);
  int64_t top = std::max<int64_t>(std::min(y1, y2) - margin, clip.y);
  int64_t right = std::min<int64_t>(std::max(x1, x2) + margin + 1, int64_t{clip.x} + clip.width);
  int64_t bottom = std::min<int64_t>(std::max(y1, y2) + margin + 1, int64_t{clip.y} + clip.height);
  if (right <= left || bottom <= top) return 0;
  auto width = static_cast<int32_t>(right - left), height = static_cast<int32_t>(bottom - top);
  bool useAlpha = antialias || (colour >> 24) != 0;
  qvShapeImage image{};
  image.bitmap = AllocClearedBitMap(width, height);
  if (useAlpha) {
    image.alpha = AllocAlphaChannel(width, height, true);
  } else {
    image.mask = AllocMask(width, height, true);
  }
  if (image.bitmap == nullptr || (image.alpha == nullptr && image.mask == nullptr)) {
    FreeShapeImage(&image);
    return ERR_MEM;
  }
  // The ends relative to the picture; far-off ends are held where the rasteriser's sums stay
  // defined (the part of the line beyond them lies outside the picture anyway).
  auto local = [](int64_t v, int64_t origin) {
    return static_cast<int32_t>(
        std::clamp<int64_t>(v - origin, -(int64_t{1} << 28), int64_t{1} << 28));
  };
  qvPointI ends[2] = {{local(x1, left), local(y1, top)}, {local(x2, left), local(y2, top)}};
  qvRenderTarget canvas{image.bitmap, image.mask, image.alpha, width, height, nullptr, 0};
  int code = DrawThroughRenderRecord(canvas, kRoadLine, ends, 2, thickness, antialias, colour, 2,
                                     -1);
  if (code == 0) {
    auto x = static_cast<int32_t>(left), y = static_cast<int32_t>(top);
    if (d->doubleBuffer) AddDirtyRect(x, y, width, height);
    code = SafeBlt(L, image.bitmap, 0, 0, d->outBitmap, x, y, width, height, width, height,
                   target->width, target->height, kBltBeneathSprites | kBltRecompose, image.mask,
                   image.alpha, target->clipRegion);
  }
  FreeShapeImage(&image);
  return code;
}

}  // namespace

int DrawLinePrim(qvScriptState* L, const qvDrawStyle& style, const qvTransformBlock* transform,
                 int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour,
                 int32_t thickness) {
  qvDisplay* d = CurrentDisplay();
  if (d == nullptr) return ERR_WRONGUSAGE;
  // Shape layers come with the layer system.
  if (d->layersOn) return ERR_NOLAYERS;
  int code = draw::BindForDrawing(L, d);
  if (code != 0) return code;
  qvBGPic* target = OutputTarget();
  if (target == nullptr) return ERR_WRONGUSAGE;
  thickness = std::max(thickness, 1);
  bool antialias = (style.formStyle & kFormAntialias) != 0;
  x1 = ResolveCoordX(x1, 1, 0, 0.0);
  y1 = ResolveCoordY(y1, 1, 0, 0.0);
  x2 = ResolveCoordX(x2, 1, 0, 0.0);
  y2 = ResolveCoordY(y2, 1, 0, 0.0);
  int64_t ax = x1, ay = y1, bx = x2, by = y2;
  if (!IsIdentity(transform)) {
    // The ends turn about the anchor of the line's box; the turned line is drawn as any other.
    int64_t left = std::min(ax, bx), top = std::min(ay, by);
    qvPointD ends[2] = {{static_cast<double>(ax - left), static_cast<double>(ay - top)},
                        {static_cast<double>(bx - left), static_cast<double>(by - top)}};
    auto w = static_cast<int32_t>(std::min<int64_t>(std::llabs(bx - ax) + 1, INT32_MAX));
    auto h = static_cast<int32_t>(std::min<int64_t>(std::llabs(by - ay) + 1, INT32_MAX));
    RotateShapePoints(ShapeMatrixOf(*transform), transform->anchorX, transform->anchorY, w, h, ends,
                      2, false, nullptr, nullptr, nullptr, nullptr);
    ax = left + static_cast<int64_t>(ends[0].x);
    ay = top + static_cast<int64_t>(ends[0].y);
    bx = left + static_cast<int64_t>(ends[1].x);
    by = top + static_cast<int64_t>(ends[1].y);
  }
  draw::Clip clip = draw::OutputClip(target);

  if (thickness > 1 || antialias) {
    // Without a clip region the render record keeps to the target itself.
    if (d->outputType != kOutputDisplay && clip.region == nullptr &&
        !RectHitsSprites(target, clip.x, clip.y, clip.width, clip.height)) {
      qvRenderTarget canvas{d->outBitmap, d->outMask, d->outAlpha, target->width, target->height,
                            nullptr,      0};
      auto local = [](int64_t v) {
        return static_cast<int32_t>(std::clamp<int64_t>(v, -(int64_t{1} << 28), int64_t{1} << 28));
      };
      qvPointI ends[2] = {{local(ax), local(ay)}, {local(bx), local(by)}};
      code = DrawThroughRenderRecord(canvas, kRoadLine, ends, 2, thickness, antialias, colour,
                                     GetMaskMode(), GetAlphaIntensity());
      if (code == 0 && d->doubleBuffer) {
        int64_t margin = thickness / 2 + 1;
        int32_t x = static_cast<int32_t>(std::max<int64_t>(std::min(ax, bx) - margin, 0));
        int32_t y = static_cast<int32_t>(std::max<int64_t>(std::min(ay, by) - margin, 0));
        int64_t r = std::min<int64_t>(std::max(ax, bx) + margin + 1, target->width);
        int64_t b = std::min<int64_t>(std::max(ay, by) + margin + 1, target->height);
        if (r > x && b > y) {
          AddDirtyRect(x, y, static_cast<int32_t>(r - x), static_cast<int32_t>(b - y));
        }
      }
      return code;
    }
    return DrawLineAsPicture(L, d, target, clip, ax, ay, bx, by, colour, thickness, antialias);
  }

  if (!ClipLine(clip, &ax, &ay, &bx, &by)) return 0;
  auto boxX = static_cast<int32_t>(std::min(ax, bx)), boxY = static_cast<int32_t>(std::min(ay, by));
  auto boxW = static_cast<int32_t>(std::llabs(bx - ax) + 1);
  auto boxH = static_cast<int32_t>(std::llabs(by - ay) + 1);
  if (RectHitsSprites(target, boxX, boxY, boxW, boxH)) {
    return DrawLineAsPicture(L, d, target, clip, ax, ay, bx, by, colour, 1, false);
  }

  uint32_t rgb = colour & 0xFFFFFFu;
  int32_t transparency = static_cast<int32_t>(colour >> 24);
  // A clip region's mask limits the line pixel by pixel: the rectangle alone would let it run
  // over the region's clear bits.
  if (d->outputType == kOutputDisplay) {
    qvBitMap* bitmap = d->displayBitmap;
    if (bitmap == nullptr) return 0;
    WalkLine(ax, ay, bx, by, [&](int64_t x, int64_t y) {
      if (!clip.MaskAllows(x, y)) return;
      auto px = static_cast<int32_t>(x), py = static_cast<int32_t>(y);
      uint32_t pixel = rgb;
      if (transparency != 0) {
        pixel = MixTransparent(ReadBitMapPixel(bitmap, px, py), rgb, transparency);
      }
      WriteBitMapPixel(bitmap, px, py, pixel);
    });
    if (transparency == 0 && !clip.HasMask() && !IsScaledDisplay(d)) {
      DrawWindowLine(d->window, static_cast<int32_t>(ax), static_cast<int32_t>(ay),
                     static_cast<int32_t>(bx), static_cast<int32_t>(by), rgb);
    } else {
      draw::ShowDisplayRect(d, boxX, boxY, boxW, boxH);
    }
    return 0;
  }

  qvBitMap* bitmap = d->outBitmap;
  qvPlane* mask = d->outMask;
  qvPlane* alpha = d->outAlpha;
  int32_t maskMode = GetMaskMode();
  int32_t alphaValue = GetAlphaIntensity() != -1 ? GetAlphaIntensity() : 255 - transparency;
  WalkLine(ax, ay, bx, by, [&](int64_t x, int64_t y) {
    if (!clip.MaskAllows(x, y)) return;
    auto px = static_cast<int32_t>(x), py = static_cast<int32_t>(y);
    if (bitmap != nullptr) {
      uint32_t pixel = rgb;
      if (transparency != 0 && alpha == nullptr) {
        pixel = MixTransparent(ReadBitMapPixel(bitmap, px, py), rgb, transparency);
      }
      WriteBitMapPixel(bitmap, px, py, pixel);
    }
    if (mask != nullptr) WriteBitMapPixel(mask, px, py, maskMode);
    if (alpha != nullptr && (alpha->width <= 0 || (px < alpha->width && py < alpha->height))) {
      alpha->data[y * alpha->bytesPerRow + x] = static_cast<uint8_t>(alphaValue);
    }
  });
  if (d->doubleBuffer) AddDirtyRect(boxX, boxY, boxW, boxH);
  return 0;
}

}  // namespace qv
