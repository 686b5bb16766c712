// The blit road into the output target: rectangle clipping, SafeBlt with the clip-region mask,
// the sprites, the output's own planes and the refresh; the refresh of a transition's area and
// the frames that video threads queue for a window; the mask mode and alpha intensity.
#include <algorithm>
#include <cstdlib>
#include <new>

#include "base/errors.h"
#include "core/layer_system.h"
#include "core/registry.h"
#include "display/display.h"
#include "platform/sync.h"
#include "platform/textout.h"

namespace qv {

namespace {

int32_t gMaskMode = 0;
int32_t gAlphaIntensity = -1;
bool gCopyAlpha = false;

uint8_t* gClipScratch = nullptr;
size_t gClipScratchSize = 0;

// The layer system's compositor (core/layer_system.h) recomposes layers and sprites; without
// one no target has sprites and nothing is recomposed.
bool HitsSprites(const qvBGPic* target, int32_t x, int32_t y, int32_t width, int32_t height) {
  return RectHitsSprites(target, x, y, width, height);
}

void Redraw(qvScriptState* L, qvDisplay* d, qvBGPic* target, qvBitMap* dst, int32_t x, int32_t y,
            int32_t width, int32_t height, RecomposeMode mode) {
  RedrawLayers(L, d, target, dst, x, y, width, height, 0, mode);
}

bool MaskBitAt(const qvPlane* plane, int64_t x, int64_t y) {
  return (plane->data[y * plane->bytesPerRow + (x >> 3)] >> (7 - (x & 7))) & 1;
}

// False when the plane knows its size and the rectangle does not lie inside it.
bool PlaneHolds(const qvPlane* plane, int32_t x, int32_t y, int32_t width, int32_t height) {
  if (plane->width <= 0 || plane->height <= 0) return true;
  return x >= 0 && y >= 0 && int64_t{x} + width <= plane->width &&
         int64_t{y} + height <= plane->height;
}

// The source's mask (or alpha, or nothing) cut by the clip region's mask, as a plane of the
// rectangle's size in the scratch buffer.
int CombineWithClipMask(const qvClipRegion* clip, const qvPlane* mask, const qvPlane* alpha,
                        int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t width,
                        int32_t height, qvPlane* out, bool* isAlpha) {
  *isAlpha = mask == nullptr && alpha != nullptr;
  int32_t stride = *isAlpha ? AlphaBytesPerRow(width) : MaskBytesPerRow(width);
  int code = EnsureClipScratch(static_cast<size_t>(stride) * static_cast<size_t>(height));
  if (code != 0) return code;
  int64_t cx = int64_t{dx} - clip->x, cy = int64_t{dy} - clip->y;
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = gClipScratch + static_cast<size_t>(y) * stride;
    std::fill(row, row + stride, uint8_t{0});
    for (int32_t x = 0; x < width; ++x) {
      bool inside = MaskBitAt(clip->mask, cx + x, cy + y);
      if (*isAlpha) {
        row[x] = inside ? alpha->data[int64_t{sy + y} * alpha->bytesPerRow + sx + x] : 0;
      } else if (inside && (mask == nullptr || MaskBitAt(mask, int64_t{sx} + x, sy + y))) {
        row[x >> 3] = static_cast<uint8_t>(row[x >> 3] | (0x80 >> (x & 7)));
      }
    }
  }
  *out = *isAlpha ? MakeTempPlane(gClipScratch, stride) : MakeTempMask(gClipScratch, width, height);
  return 0;
}

}  // namespace

bool ClipBltRect(const qvClipRegion* clip, int32_t* srcX, int32_t* srcY, int32_t* dstX,
                 int32_t* dstY, int32_t* width, int32_t* height, int32_t srcWidth,
                 int32_t srcHeight, int32_t dstWidth, int32_t dstHeight, bool useClip) {
  int64_t sx = *srcX, sy = *srcY, dx = *dstX, dy = *dstY, w = *width, h = *height;
  int64_t left = 0, top = 0, right = dstWidth, bottom = dstHeight;
  if (clip != nullptr && useClip) {
    left = clip->x;
    top = clip->y;
    right = int64_t{clip->x} + clip->width;
    bottom = int64_t{clip->y} + clip->height;
  }
  if (dx < left) {
    sx += left - dx;
    w -= left - dx;
    dx = left;
  }
  if (dy < top) {
    sy += top - dy;
    h -= top - dy;
    dy = top;
  }
  w = std::min(w, srcWidth - sx);
  h = std::min(h, srcHeight - sy);
  w = std::min(w, right - dx);
  h = std::min(h, bottom - dy);
  if (w < 1 || h < 1) {
    *width = *height = 0;
    return false;
  }
  *srcX = static_cast<int32_t>(sx);
  *srcY = static_cast<int32_t>(sy);
  *dstX = static_cast<int32_t>(dx);
  *dstY = static_cast<int32_t>(dy);
  *width = static_cast<int32_t>(w);
  *height = static_cast<int32_t>(h);
  return true;
}

int SafeBlt(qvScriptState* L, const qvBitMap* src, int32_t sx, int32_t sy, qvBitMap* dst,
            int32_t dx, int32_t dy, int32_t width, int32_t height, int32_t srcWidth,
            int32_t srcHeight, int32_t dstWidth, int32_t dstHeight, int32_t flags,
            const qvPlane* mask, const qvPlane* alpha, const qvClipRegion* clip) {
  qvDisplay* d = CurrentDisplay();
  if (d == nullptr) {
    // Pictures made before the first display (brushes drawn into at start-up) need no display
    // as long as nothing reaches a window.
    if (dst == nullptr || !(flags & kBltKeepPlanes)) {
      OutputText("ERROR! SAFEBLT() CALLED WITH DISPLAY=NULL!\n");
      return ERR_INTERNAL;
    }
    flags |= kBltIgnoreSprites;
  }
  qvBGPic* target = d != nullptr ? OutputTarget() : nullptr;
  bool displayOutput = d != nullptr && d->outputType == kOutputDisplay;
  bool scaled = d != nullptr && IsScaledDisplay(d);

  if (src == nullptr) {
    // The background itself: what transitions restore and what lies under layers.
    if (!displayOutput) return ERR_INTERNAL;
    if (flags & (kBltBeneathSprites | kBltToDisplayBitmap)) {
      src = d->displayBitmap;
    } else if (flags & kBltRecompose) {
      if (d->layersOn && HasCompositor()) {
        Redraw(L, d, target, d->windowBitmap, sx, sy, width, height, kRecomposeAll);
        src = d->windowBitmap;
      } else {
        src = GetBGPicComposite(L, d, d->bgpic);
      }
    }
    if (src == nullptr) return ERR_INTERNAL;
    srcWidth = src->width;
    srcHeight = src->height;
  }

  if (sx < 0 || sy < 0) return 0;
  if (!ClipBltRect(clip, &sx, &sy, &dx, &dy, &width, &height, srcWidth, srcHeight, dstWidth,
                   dstHeight, !(flags & kBltNoClip))) {
    return 0;
  }

  if (!(flags & kBltIgnoreSprites) && HitsSprites(target, dx, dy, width, height)) {
    int code = 0;
    // The display bitmap holds the picture beneath the sprites: it never takes them in.
    bool intoDisplayBitmap = dst != nullptr && dst == d->displayBitmap;
    if ((flags & kBltBeneathSprites) || intoDisplayBitmap) {
      code = SafeBlt(L, src, sx, sy, d->displayBitmap, dx, dy, width, height, srcWidth, srcHeight,
                     dstWidth, dstHeight, flags | kBltIgnoreSprites | kBltNoRefresh, mask, alpha,
                     clip);
      if (code == 0) Redraw(L, d, target, d->windowBitmap, dx, dy, width, height, kRecomposeAll);
    } else {
      Redraw(L, d, target, d->windowBitmap, dx, dy, width, height, kRecomposeBeneath);
      code = SafeBlt(L, src, sx, sy, d->windowBitmap, dx, dy, width, height, srcWidth, srcHeight,
                     dstWidth, dstHeight, flags | kBltIgnoreSprites, mask, alpha, clip);
      if (code == 0) Redraw(L, d, target, d->windowBitmap, dx, dy, width, height, kRecomposeAbove);
    }
    if (code == 0 && !(flags & kBltNoRefresh)) {
      code = SafeBlt(L, d->windowBitmap, dx, dy, intoDisplayBitmap ? nullptr : dst, dx, dy, width,
                     height, d->windowBitmap->width, d->windowBitmap->height, dstWidth, dstHeight,
                     kBltNoClip | kBltIgnoreSprites, nullptr, nullptr, nullptr);
    }
    return code;
  }

  const qvBitMap* given = src;
  qvBitMap view{};
  qvPlane combined{};
  if (!(flags & kBltNoClip) && clip != nullptr && clip->mask != nullptr) {
    bool isAlpha = false;
    int code = CombineWithClipMask(clip, mask, alpha, sx, sy, dx, dy, width, height, &combined,
                                   &isAlpha);
    if (code != 0) return code;
    mask = isAlpha ? nullptr : &combined;
    alpha = isAlpha ? &combined : nullptr;
    // The combined plane starts at the rectangle's corner: so does the source from here on.
    view = {width,
            height,
            src->pixels + static_cast<int64_t>(sy) * src->bytesPerRow +
                static_cast<int64_t>(sx) * src->bytesPerPixel,
            src->bytesPerRow,
            src->bytesPerPixel,
            src->format};
    src = &view;
    sx = sy = 0;
  }

  // Where the rectangle is brought to the window from at the end.
  const qvBitMap* refreshFrom = nullptr;
  if (dst == nullptr && displayOutput) {
    if ((flags & kBltToDisplayBitmap) || ((flags & kBltBeneathSprites) && !d->layersOn)) {
      dst = d->displayBitmap;
    } else if ((flags & kBltRecompose) && d->layersOn) {
      Redraw(L, d, target, d->windowBitmap, dx, dy, width, height, kRecomposeAll);
      if (!(flags & kBltNoRefresh)) {
        RefreshDisplayRect(d->windowBitmap, dx, dy, d, dx, dy, width, height, kRefreshStretch);
      }
      return 0;
    }
  }
  if (displayOutput && dst != nullptr && dst == d->displayBitmap && !(flags & kBltNoRefresh)) {
    refreshFrom = scaled ? d->windowBitmap : d->displayBitmap;
  }
  // A scaled display keeps both of its pictures current, so that a refresh only stretches.
  qvBitMap* twin = scaled && dst != nullptr && dst == d->displayBitmap ? d->windowBitmap : nullptr;

  qvPlane* outMask = d != nullptr && !(flags & kBltKeepPlanes) ? d->outMask : nullptr;
  qvPlane* outAlpha = d != nullptr && !(flags & kBltKeepPlanes) ? d->outAlpha : nullptr;
  if (outMask != nullptr && !PlaneHolds(outMask, dx, dy, width, height)) outMask = nullptr;
  if (outAlpha != nullptr && !PlaneHolds(outAlpha, dx, dy, width, height)) outAlpha = nullptr;
  int32_t maskMode = dst != nullptr ? 2 : gMaskMode;
  bool intensity = gAlphaIntensity != -1 && dst == nullptr;
  uint8_t alphaValue = static_cast<uint8_t>(intensity ? gAlphaIntensity : 255);

  if (mask != nullptr) {
    if (dst != nullptr) {
      BltMaskBitMap(src, sx, sy, dst, dx, dy, width, height, mask);
      if (twin != nullptr) BltMaskBitMap(src, sx, sy, twin, dx, dy, width, height, mask);
    }
    if (outMask != nullptr) BltPlane(mask, sx, sy, outMask, dx, dy, width, height, maskMode);
    if (outAlpha != nullptr) {
      TemplateToBytesKernel({mask->data, sx, sy, mask->bytesPerRow, outAlpha->data, dx, dy,
                             outAlpha->bytesPerRow, width, height, alphaValue});
    }
  } else if (alpha != nullptr) {
    if (dst != nullptr) {
      if (d != nullptr && d->outAlpha != nullptr) {
        // An output with an alpha channel takes the pixels unblended: the alpha goes with them.
        if (gCopyAlpha) {
          BltAlphaBitMap(src, sx, sy, dst, dx, dy, width, height, alpha, true);
        } else {
          BltBitMap(src, sx, sy, dst, dx, dy, width, height);
        }
      } else {
        BltAlphaBitMap(src, sx, sy, dst, dx, dy, width, height, alpha);
        if (twin != nullptr) BltAlphaBitMap(src, sx, sy, twin, dx, dy, width, height, alpha);
      }
    }
    if (outMask != nullptr) {
      AlphaToMaskKernel(alpha->data, outMask->data, alpha->bytesPerRow, outMask->bytesPerRow,
                        maskMode, {sx, sy, dx, dy, width, height});
    }
    if (outAlpha != nullptr) {
      int32_t mode = intensity ? 6 : (gCopyAlpha ? 1 : 0);
      CopyAlphaRect(alpha, sx, sy, outAlpha, dx, dy, width, height, mode, gAlphaIntensity);
    }
  } else {
    if (dst != nullptr) {
      BltBitMap(src, sx, sy, dst, dx, dy, width, height);
      if (twin != nullptr) BltBitMap(src, sx, sy, twin, dx, dy, width, height);
    } else if (displayOutput) {
      // Nothing is kept: the source goes straight to the window.
      bool own = given == d->displayBitmap || given == d->windowBitmap;
      int32_t refreshFlags = scaled && own && !(flags & kBltKeepPlanes) ? kRefreshStretch : 0;
      RefreshDisplayRect(src, sx, sy, d, dx, dy, width, height, refreshFlags);
    }
    if (outMask != nullptr) FillPlaneRect(outMask, dx, dy, width, height, maskMode);
    if (outAlpha != nullptr) {
      FillBytesRectKernel(outAlpha->data, dx, dy, width, height, outAlpha->bytesPerRow, alphaValue);
    }
  }

  if (refreshFrom != nullptr) {
    RefreshDisplayRect(refreshFrom, dx, dy, d, dx, dy, width, height, kRefreshStretch);
  }
  return 0;
}

int EnsureClipScratch(size_t bytes) {
  if (bytes <= gClipScratchSize && gClipScratch != nullptr) return 0;
  // No plane is larger than 2^31 bytes.
  if (bytes > size_t{INT32_MAX}) return ERR_MEM;
  auto* grown = static_cast<uint8_t*>(std::realloc(gClipScratch, std::max<size_t>(bytes, 1)));
  if (grown == nullptr) return ERR_MEM;
  gClipScratch = grown;
  gClipScratchSize = std::max<size_t>(bytes, 1);
  return 0;
}

void FreeClipScratch() {
  std::free(gClipScratch);
  gClipScratch = nullptr;
  gClipScratchSize = 0;
}

// ---- the output planes' settings ----

int32_t GetMaskMode() { return gMaskMode; }
void SetMaskMode(int32_t mode) { gMaskMode = mode; }
int32_t GetAlphaIntensity() { return gAlphaIntensity; }
void SetAlphaIntensity(int32_t intensity) { gAlphaIntensity = intensity; }
bool GetCopyAlpha() { return gCopyAlpha; }
void SetCopyAlpha(bool on) { gCopyAlpha = on; }

namespace {

int SetDrawAttribute(void*, uint32_t tag, intptr_t value) {
  if (tag == kAttrMaskMode) {
    gMaskMode = static_cast<int32_t>(value);
    return 1;
  }
  if (tag == kAttrAlphaIntensity) {
    gAlphaIntensity = static_cast<int32_t>(value);
    return 1;
  }
  return 0;
}

int GetDrawAttribute(void*, uint32_t tag, intptr_t* out) {
  if (tag == kAttrMaskMode) {
    *out = gMaskMode;
    return 1;
  }
  if (tag == kAttrAlphaIntensity) {
    *out = gAlphaIntensity;
    return 1;
  }
  return 0;
}

}  // namespace

int32_t OpenDrawAttributes() {
  gMaskMode = 0;
  gAlphaIntensity = -1;
  gCopyAlpha = false;
  int32_t code = AddSetAttrHandler(SetDrawAttribute);
  return code != 0 ? code : AddGetAttrHandler(GetDrawAttribute);
}

// ---- refreshes ----

void RefreshDisplayArea(qvScriptState* L, int32_t sx, int32_t sy, qvDisplay* d, int32_t dx,
                        int32_t dy, int32_t width, int32_t height) {
  qvBGPic* target = OutputTarget();
  if (d == nullptr || target == nullptr) return;
  int64_t x = dx, y = dy, w = width, h = height, srcX = sx, srcY = sy;
  if (x < 0) {
    srcX -= x;
    w += x;
    x = 0;
  }
  if (y < 0) {
    srcY -= y;
    h += y;
    y = 0;
  }
  w = std::min<int64_t>(w, target->width - x);
  h = std::min<int64_t>(h, target->height - y);
  if (w < 1 || h < 1) return;
  auto rx = static_cast<int32_t>(x), ry = static_cast<int32_t>(y);
  auto rw = static_cast<int32_t>(w), rh = static_cast<int32_t>(h);
  const qvBitMap* from = IsScaledDisplay(d) ? d->windowBitmap : d->displayBitmap;
  if (HitsSprites(target, rx, ry, rw, rh)) {
    Redraw(L, d, target, d->windowBitmap, rx, ry, rw, rh, kRecomposeAll);
    from = d->windowBitmap;
  }
  RefreshDisplayRect(from, static_cast<int32_t>(srcX), static_cast<int32_t>(srcY), d, rx, ry, rw,
                     rh, kRefreshStretch);
}

int QueuePendingRefresh(qvDisplay* d, void* owner, qvBitMap* bitmap, int32_t x, int32_t y,
                        int32_t width, int32_t height) {
  auto* node = new (std::nothrow) qvPendingRefresh{nullptr, owner, bitmap, x, y, width, height};
  if (node == nullptr) return ERR_MEM;
  EnterLock(d->refreshLock);
  qvPendingRefresh** tail = &d->pendingRefreshes;
  while (*tail != nullptr) tail = &(*tail)->next;
  *tail = node;
  LeaveLock(d->refreshLock);
  return 0;
}

namespace {

void TakePending(qvDisplay* d, bool draw) {
  if (d->refreshLock == nullptr) return;
  EnterLock(d->refreshLock);
  qvPendingRefresh* node = d->pendingRefreshes;
  d->pendingRefreshes = nullptr;
  while (node != nullptr) {
    if (draw) {
      RefreshDisplayRect(node->bitmap, 0, 0, d, node->x, node->y, node->width, node->height, 0);
    }
    qvPendingRefresh* next = node->next;
    FreeBitMap(node->bitmap);
    delete node;
    node = next;
  }
  LeaveLock(d->refreshLock);
}

}  // namespace

void FlushPendingRefreshes(qvDisplay* d) { TakePending(d, true); }
void DropPendingRefreshes(qvDisplay* d) { TakePending(d, false); }

void RefreshAllDisplays() {
  for (qvObjectHeader* h = *DisplayListHead(); h != nullptr; h = h->next) {
    FlushPendingRefreshes(reinterpret_cast<qvDisplay*>(h));
  }
}

}  // namespace qv
