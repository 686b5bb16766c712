// The draw style, the degree tables, and the pixel primitives: Plot, ReadPixel and Cls
// (display/draw.h).
#include "display/draw.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "base/errors.h"
#include "core/layer_system.h"
#include "display/display.h"
#include "display/draw_internal.h"

namespace qv {

namespace {

qvDrawStyle gStyle{};
double* gSines = nullptr;
double* gCosines = nullptr;
qvShapePathDrawer gPathDrawer = nullptr;

constexpr int32_t kTableEntries = 361;

}  // namespace

qvDrawStyle* GetDrawStyle() { return &gStyle; }

void ValidateFormStyle(qvDrawStyle* style) {
  if (style->lineWidth < 1) style->lineWidth = 1;
  style->edgeSize = std::clamp(style->edgeSize, 1, 64);
  style->shadowDistance = std::clamp(style->shadowDistance, 1, 64);
  if (style->shadowDirection < kShadowNorth || style->shadowDirection > kShadowNorthWest) {
    style->shadowDirection = kShadowSouthEast;
  }
  if (style->fillStyle < kFillNone || style->fillStyle > kFillTexture) style->fillStyle = kFillNone;
}

int32_t OpenDrawStyle() {
  InitDrawStyle(&gStyle);
  if (gSines == nullptr) {
    gSines = static_cast<double*>(std::malloc(sizeof(double) * kTableEntries));
    gCosines = static_cast<double*>(std::malloc(sizeof(double) * kTableEntries));
    if (gSines == nullptr || gCosines == nullptr) {
      FreeDrawStyle();
      return ERR_MEM;
    }
    for (int32_t i = 0; i < kTableEntries; ++i) {
      double radians = (360 - i) * 3.141592653589793 / 180.0;
      gSines[i] = std::sin(radians);
      gCosines[i] = std::cos(radians);
    }
  }
  gPathDrawer = nullptr;
  return 0;
}

void FreeDrawStyle() {
  std::free(gSines);
  std::free(gCosines);
  gSines = gCosines = nullptr;
  gPathDrawer = nullptr;
}

const double* DegreeSineTable() { return gSines; }
const double* DegreeCosineTable() { return gCosines; }

void SetShapePathDrawer(qvShapePathDrawer drawer) { gPathDrawer = drawer; }
qvShapePathDrawer GetShapePathDrawer() { return gPathDrawer; }

uint32_t MixTransparent(uint32_t old, uint32_t colour, int32_t transparency) {
  int32_t ratio = 255 - std::clamp(transparency, 0, 255);
  uint32_t mixed = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    int32_t a = static_cast<int32_t>((old >> shift) & 255);
    int32_t b = static_cast<int32_t>((colour >> shift) & 255);
    int32_t channel = a + ((b - a) * ratio >> 8);
    mixed |= static_cast<uint32_t>(channel) << shift;
  }
  return mixed;
}

// ---- shared helpers ----

namespace draw {

bool Clip::Inside(int64_t px, int64_t py) const {
  return px >= x && py >= y && px < int64_t{x} + width && py < int64_t{y} + height;
}

bool Clip::MaskAllows(int64_t px, int64_t py) const {
  if (!HasMask()) return true;
  int64_t mx = px - region->x, my = py - region->y;
  const uint8_t* row = region->mask->data + my * region->bytesPerRow;
  return (row[mx >> 3] >> (7 - (mx & 7))) & 1;
}

Clip OutputClip(const qvBGPic* target) {
  if (target == nullptr) return {0, 0, 0, 0, nullptr};
  Clip clip{0, 0, target->width, target->height, target->clipRegion};
  if (const qvClipRegion* region = target->clipRegion) {
    // A region is kept inside its target; the cut keeps a stale one from reaching past it.
    clip.x = region->x;
    clip.y = region->y;
    clip.width = region->width;
    clip.height = region->height;
    if (!CutToClip({0, 0, target->width, target->height, nullptr}, &clip.x, &clip.y, &clip.width,
                   &clip.height)) {
      clip.width = clip.height = 0;
    }
  }
  return clip;
}

int BindForDrawing(qvScriptState* L, qvDisplay* d) {
  if (d->outputType != kOutputPicture && d->outputType != kOutputMask &&
      d->outputType != kOutputAlpha) {
    return 0;
  }
  const qvBGPic* target = OutputTarget();
  if (target == nullptr || target->bound) return 0;
  return BindOutputDevice(L);
}

bool CutToClip(const Clip& clip, int32_t* x, int32_t* y, int32_t* width, int32_t* height) {
  int64_t x1 = std::max<int64_t>(*x, clip.x), y1 = std::max<int64_t>(*y, clip.y);
  int64_t x2 = std::min<int64_t>(int64_t{*x} + *width, int64_t{clip.x} + clip.width);
  int64_t y2 = std::min<int64_t>(int64_t{*y} + *height, int64_t{clip.y} + clip.height);
  if (x2 <= x1 || y2 <= y1) return false;
  *x = static_cast<int32_t>(x1);
  *y = static_cast<int32_t>(y1);
  *width = static_cast<int32_t>(x2 - x1);
  *height = static_cast<int32_t>(y2 - y1);
  return true;
}

void ShowDisplayRect(qvDisplay* d, int32_t x, int32_t y, int32_t width, int32_t height) {
  if (IsScaledDisplay(d)) {
    // The window-size bitmap is what the stretched refresh reads: it must hold the change too.
    if (d->windowBitmap != nullptr && d->windowBitmap != d->displayBitmap) {
      BltBitMap(d->displayBitmap, x, y, d->windowBitmap, x, y, width, height);
    }
    RefreshDisplayRect(d->windowBitmap, x, y, d, x, y, width, height, kRefreshStretch);
    return;
  }
  RefreshDisplayRect(d->displayBitmap, x, y, d, x, y, width, height, 0);
}

}  // namespace draw

// ---- Plot ----

int PlotPixel(qvScriptState* L, int32_t x, int32_t y, uint32_t colour) {
  qvDisplay* d = CurrentDisplay();
  if (d == nullptr) return ERR_WRONGUSAGE;
  uint32_t rgb = colour & 0xFFFFFFu;
  int32_t transparency = static_cast<int32_t>(colour >> 24);
  if (d->layersOn) return ERR_LAYERSUPPORT2;
  int code = draw::BindForDrawing(L, d);
  if (code != 0) return code;
  qvBGPic* target = OutputTarget();
  draw::Clip clip = draw::OutputClip(target);
  x = ResolveCoordX(x, 1, 0, 0.0);
  y = ResolveCoordY(y, 1, 0, 0.0);
  if (!clip.Inside(x, y) || !clip.MaskAllows(x, y)) return 0;
  // The layer system answers for the sprites of the target (none without one).
  if (RectHitsSprites(target, x, y, 1, 1)) return 0;

  if (d->outputType != kOutputDisplay) {
    qvBitMap* bitmap = d->outBitmap;
    if (bitmap != nullptr) {
      uint32_t pixel = rgb;
      if (transparency != 0 && d->outAlpha == nullptr) {
        pixel = MixTransparent(ReadBitMapPixel(bitmap, x, y), rgb, transparency);
      }
      WriteBitMapPixel(bitmap, x, y, pixel);
    }
    if (d->outMask != nullptr) {
      WriteBitMapPixel(d->outMask, x, y, bitmap != nullptr ? 2 : GetMaskMode());
    }
    if (qvPlane* alpha = d->outAlpha) {
      int32_t value = 255 - transparency;
      if (bitmap == nullptr && GetAlphaIntensity() != -1) value = GetAlphaIntensity();
      // The plane may be shorter than the picture (an alpha output of another size).
      if (alpha->width <= 0 || (x < alpha->width && y < alpha->height)) {
        alpha->data[static_cast<int64_t>(y) * alpha->bytesPerRow + x] = static_cast<uint8_t>(value);
      }
    }
    if (d->doubleBuffer) AddDirtyRect(x, y, 1, 1);
    return 0;
  }

  qvBitMap* bitmap = d->displayBitmap;
  if (bitmap == nullptr) return 0;
  uint32_t pixel = rgb;
  if (transparency != 0) pixel = MixTransparent(ReadBitMapPixel(bitmap, x, y), rgb, transparency);
  WriteBitMapPixel(bitmap, x, y, pixel);
  if (IsScaledDisplay(d)) {
    draw::ShowDisplayRect(d, x, y, 1, 1);
  } else {
    // No video plays here yet, so nothing covers the point.
    PlotWindowPixel(d->window, x, y, pixel);
  }
  return 0;
}

// ---- ReadPixel ----

int ReadPixelValue(qvScriptState* L, int32_t x, int32_t y, uint32_t* out) {
  *out = 0;
  qvDisplay* d = CurrentDisplay();
  if (d == nullptr) return ERR_WRONGUSAGE;
  int code = draw::BindForDrawing(L, d);
  if (code != 0) return code;
  qvBGPic* target = OutputTarget();
  draw::Clip clip = draw::OutputClip(target);
  x = ResolveCoordX(x, 1, 0, 0.0);
  y = ResolveCoordY(y, 1, 0, 0.0);
  if (!clip.Inside(x, y) || !clip.MaskAllows(x, y)) return ERR_PIXELRANGE;
  switch (d->outputType) {
    case kOutputBGPic:
      *out = ReadBitMapPixel(target->current.bitmap, x, y) & 0xFFFFFFu;
      break;
    case kOutputPicture:
      *out = ReadBitMapPixel(d->outBitmap, x, y) & 0xFFFFFFu;
      break;
    case kOutputDisplay:
      *out = ReadBitMapPixel(d->displayBitmap, x, y) & 0xFFFFFFu;
      break;
    case kOutputMask:
      *out = d->outMask != nullptr ? ReadBitMapPixel(d->outMask, x, y) : 1;
      break;
    case kOutputAlpha: {
      const qvPlane* alpha = d->outAlpha;
      *out = 255;
      if (alpha != nullptr && (alpha->width <= 0 || (x < alpha->width && y < alpha->height))) {
        *out = alpha->data[static_cast<int64_t>(y) * alpha->bytesPerRow + x];
      }
      break;
    }
    default:
      return ERR_WRONGUSAGE;
  }
  return 0;
}

// ---- Cls ----

int ClearOutput(qvScriptState* L, uint32_t colour) {
  qvDisplay* d = CurrentDisplay();
  if (d == nullptr) return ERR_WRONGUSAGE;
  int code = draw::BindForDrawing(L, d);
  if (code != 0) return code;
  qvBGPic* target = OutputTarget();
  if (target == nullptr) return 0;
  int32_t width = target->width, height = target->height;

  if (d->outputType != kOutputDisplay && d->outputType != kOutputBGPic) {
    qvBitMap* bitmap = d->outBitmap;
    if (bitmap != nullptr) FillBitMapRect(bitmap, 0, 0, width, height, colour & 0xFFFFFFu);
    if (qvPlane* alpha = d->outAlpha) {
      int32_t value = 255;
      if (bitmap == nullptr && GetAlphaIntensity() != -1) value = GetAlphaIntensity();
      FillBytesRectKernel(alpha->data, 0, 0,
                          std::min(width, alpha->width > 0 ? alpha->width : width),
                          std::min(height, alpha->height > 0 ? alpha->height : height),
                          alpha->bytesPerRow, static_cast<uint8_t>(value));
    }
    if (d->outMask != nullptr) {
      FillPlaneRect(d->outMask, 0, 0, width, height, bitmap != nullptr ? 2 : GetMaskMode());
    }
    if (d->doubleBuffer) AddDirtyRect(0, 0, width, height);
    return 0;
  }

  if (d->layersOn) {
    // Freeing the target's layers is the layer system's; until it takes this over a display
    // with layers cannot be cleared here.
    return ERR_NOLAYERS;
  }
  // The display gets its background picture back. A BGPic output that is not the one shown
  // leaves the display bitmap alone: copying another picture into it would show that picture
  // at the next refresh.
  if (target == d->bgpic && d->displayBitmap != nullptr && target->current.bitmap != nullptr) {
    BltBitMap(target->current.bitmap, 0, 0, d->displayBitmap, 0, 0, width, height);
    if (IsScaledDisplay(d) && d->windowBitmap != nullptr && d->windowBitmap != d->displayBitmap) {
      BltBitMap(target->current.bitmap, 0, 0, d->windowBitmap, 0, 0, width, height);
    }
  }
  if (d->outputType == kOutputDisplay) RedrawDisplay(L, d, 0);
  return 0;
}

}  // namespace qv
