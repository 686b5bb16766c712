// The road from a display's bitmaps to its window, the dirty-rectangle list, and the shared
// drawing helpers of displays and backgrounds (special positions, tiling, gradients).
#include <algorithm>
#include <cmath>

#include "base/errors.h"
#include "display/display.h"
#include "display/internal.h"
#include "platform/textout.h"

namespace qv {

void RefreshDisplayRect(const qvBitMap* bitmap, int32_t sx, int32_t sy, qvDisplay* display,
                        int32_t dx, int32_t dy, int32_t width, int32_t height, int32_t flags) {
  if (bitmap == nullptr || display == nullptr || display->state != kDisplayOpen) return;
  const auto* pixels = reinterpret_cast<const uint32_t*>(bitmap->pixels);
  int32_t stride = bitmap->bytesPerRow / 4;
  if ((flags & kRefreshStretch) && IsScaledDisplay(display) &&
      (display->scaleWidth != bitmap->width || display->scaleHeight != bitmap->height)) {
    BlitToWindow(pixels, stride, 0, 0, display->window, display->borderLeft, display->borderTop,
                 bitmap->width, bitmap->height,
                 display->scaleWidth - display->borderLeft - display->borderRight,
                 display->scaleHeight - display->borderTop - display->borderBottom);
    return;
  }
  // Clip to the source bitmap: the window clips the other side.
  if (sx < 0 || sy < 0) return;
  width = static_cast<int32_t>(std::min<int64_t>(width, int64_t{bitmap->width} - sx));
  height = static_cast<int32_t>(std::min<int64_t>(height, int64_t{bitmap->height} - sy));
  if (width < 1 || height < 1) return;
  BlitToWindow(pixels, stride, sx, sy, display->window, dx, dy, width, height, 0, 0);
}

void FillDisplayBorders(qvDisplay* d) {
  int32_t l = d->borderLeft, t = d->borderTop, r = d->borderRight, b = d->borderBottom;
  if (l != 0) FillWindowRect(d->window, -l, -t, l, d->height, 0);
  if (t != 0) FillWindowRect(d->window, -l, -t, d->width, t, 0);
  if (r != 0) FillWindowRect(d->window, d->width - r - l, -t, r, d->height, 0);
  if (b != 0) FillWindowRect(d->window, -l, d->height - t - b, d->width, b, 0);
}

void RedrawDisplay(qvScriptState* L, qvDisplay* display, int32_t flags) {
  if (display == nullptr) return;
  FillDisplayBorders(display);
  if (display->doubleBuffer) {
    FlipDoubleBuffer(display, true, flags);
    return;
  }
  // Without layers the composed picture is the display bitmap.
  qvBitMap* picture = GetBGPicComposite(L, display, display->bgpic);
  if (picture == nullptr) return;
  RefreshDisplayRect(picture, 0, 0, display, 0, 0, display->bgpic->width, display->bgpic->height,
                     flags | kRefreshStretch | kRefreshWholePicture);
}

void UpdateCurrentDisplay(qvScriptState*) {
  if (qvDisplay* display = CurrentDisplay()) WaitVerticalFrame(display->window);
}

qvDisplay* BeginDisplayRequester() {
  qvDisplay* display = CurrentDisplay();
  if (display != nullptr) display->requesterOpen = 1;
  return display;
}

void EndDisplayRequester(qvScriptState* L, qvDisplay* display) {
  if (display == nullptr) return;
  display->requesterOpen = 0;
  if (display->bgpic != nullptr && IsWindowOpen(display->window)) RedrawDisplay(L, display, 0);
}

void AddDirtyRect(int32_t x, int32_t y, int32_t width, int32_t height) {
  qvDisplay* d = CurrentDisplay();
  if (d == nullptr || d->dirty.entries == nullptr || d->bgpic == nullptr) return;
  qvRectList& list = d->dirty;
  if (x <= 0 && y <= 0 && int64_t{x} + width >= d->bgpic->originalWidth &&
      int64_t{y} + height >= d->bgpic->originalHeight) {
    list.count = list.capacity;
    return;
  }
  if (list.count >= list.capacity) return;
  list.entries[list.count++] = {x, y, static_cast<int32_t>(int64_t{x} + width - 1),
                                static_cast<int32_t>(int64_t{y} + height - 1)};
}

void MergeDirtyRects(qvRectList* list) {
  for (int32_t i = 0; i < list->count; ++i) {
    qvRect& a = list->entries[i];
    if (a.x1 == kAbsorbedRect) continue;
    for (int32_t j = 0; j < list->count; ++j) {
      if (j == i) continue;
      qvRect& b = list->entries[j];
      if (b.x1 == kAbsorbedRect) continue;
      if (int64_t{b.x1} - a.x2 <= 1 && int64_t{a.x1} - b.x2 <= 1 && int64_t{b.y1} - a.y2 <= 1 &&
          int64_t{a.y1} - b.y2 <= 1) {
        a = {std::min(a.x1, b.x1), std::min(a.y1, b.y1), std::max(a.x2, b.x2),
             std::max(a.y2, b.y2)};
        b.x1 = kAbsorbedRect;
      }
    }
  }
}

// ---- special positions ----

namespace {

int32_t Resolve(int32_t v, int32_t size, int32_t area, double anchor, bool horizontal) {
  int32_t origin = 0;
  if (area == 0) {
    // The area is the clip region when the target has one: special positions lie inside it.
    const qvBGPic* target = OutputTarget();
    const qvClipRegion* clip = target != nullptr ? target->clipRegion : nullptr;
    if (clip != nullptr) {
      area = horizontal ? clip->width : clip->height;
      origin = horizontal ? clip->x : clip->y;
    } else {
      area = target != nullptr ? (horizontal ? target->width : target->height) : 0;
    }
  }
  int64_t offset = origin + TruncateToInt(size * anchor);
  struct Band {
    int32_t low, high;  // inclusive
    int32_t constant;
    int kind;  // 0 centre, 1 near edge, 2 far edge, 3 out before, 4 out after
  };
  static const Band kX[] = {{-104999, -95001, -100000, 0},
                            {-94999, -85001, -90000, 1},
                            {-84999, -75001, -80000, 2},
                            {-54999, -45001, -50000, 3},
                            {-44999, -35001, -40000, 4}};
  static const Band kY[] = {{-104999, -95001, -100000, 0},
                            {-74999, -65001, -70000, 1},
                            {-64999, -55001, -60000, 2},
                            {-34999, -25001, -30000, 3},
                            {-24999, -15001, -20000, 4}};
  for (const Band& b : horizontal ? kX : kY) {
    if (v < b.low || v > b.high) continue;
    int64_t d = int64_t{v} - b.constant;
    int64_t r = 0;
    switch (b.kind) {
      case 0:
        r = (int64_t{area} - size) / 2 + offset + d;
        break;
      case 1:
        r = offset + d;
        break;
      case 2:
        r = int64_t{area} - size + offset + d;
        break;
      case 3:
        r = offset - size + d;
        break;
      default:
        r = int64_t{area} + offset + d;
        break;
    }
    return static_cast<int32_t>(r);
  }
  return v;
}

}  // namespace

int32_t ResolveCoordX(int32_t x, int32_t objectWidth, int32_t areaWidth, double anchor) {
  return Resolve(x, objectWidth, areaWidth, anchor, true);
}
int32_t ResolveCoordY(int32_t y, int32_t objectHeight, int32_t areaHeight, double anchor) {
  return Resolve(y, objectHeight, areaHeight, anchor, false);
}

void TileBitMap(qvBitMap* dst, int32_t x, int32_t y, int32_t width, int32_t height,
                const qvBitMap* src, int32_t offsetX, int32_t offsetY, int32_t srcWidth,
                int32_t srcHeight) {
  if (dst == nullptr || src == nullptr || srcWidth < 1 || srcHeight < 1 || width < 1 ||
      height < 1) {
    return;
  }
  if (offsetX < 0) offsetX = offsetX % srcWidth + srcWidth;
  if (offsetX >= srcWidth) offsetX %= srcWidth;
  if (offsetY < 0) offsetY = offsetY % srcHeight + srcHeight;
  if (offsetY >= srcHeight) offsetY %= srcHeight;
  int64_t dy = y;
  for (int32_t row = 0; row <= height / srcHeight + 1; ++row) {
    int32_t sy = row == 0 ? offsetY : 0;
    int64_t h = std::min<int64_t>(srcHeight - sy, int64_t{y} + height - dy);
    if (h <= 0) break;
    int64_t dx = x;
    for (int32_t col = 0; col <= width / srcWidth + 1; ++col) {
      int32_t sx = col == 0 ? offsetX : 0;
      int64_t w = std::min<int64_t>(srcWidth - sx, int64_t{x} + width - dx);
      if (w <= 0) break;
      BltBitMap(src, sx, sy, dst, static_cast<int32_t>(dx), static_cast<int32_t>(dy),
                static_cast<int32_t>(w), static_cast<int32_t>(h));
      dx += w;
    }
    dy += h;
  }
}

int DrawGradient(qvBitMap* bitmap, int32_t left, int32_t top, int32_t width, int32_t height,
                 const qvGradient* gradient) {
  if (bitmap == nullptr) {
    OutputText("ERROR! DRAWGRADIENT() CALLED WITH DST=NULL!\n");
    return 0;
  }
  qvBitMapLock lock;
  if (!LockBitMap(bitmap, &lock)) return ERR_LOCKBMAP;
  GradientRecord record{lock.pixels, lock.bytesPerPixel, lock.format, left, top, width,
                        height,      lock.pixelsPerRow,  gradient};
  GradientKernel(record);
  UnLockBitMap(&lock);
  return 0;
}

}  // namespace qv
