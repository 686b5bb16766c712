// The bitmap operations in front of the pixel kernels: argument checks, result planes, locks and
// the status, and the transform helpers that choose between copying, scaling and rotating.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "base/errors.h"
#include "base/support.h"
#include "image/image.h"
#include "image/internal.h"

namespace qv {

namespace {

int64_t KnownWidth(const qvPlane* p) { return p->width > 0 || p->height > 0 ? p->width : -1; }
int64_t KnownHeight(const qvPlane* p) { return p->width > 0 || p->height > 0 ? p->height : -1; }

// A lock view: the caller's when given, else a fresh one (false when the bitmap has none).
bool View(const qvBitMap* bitmap, const qvBitMapLock* given, qvBitMapLock* view) {
  if (given) {
    *view = *given;
    return view->valid && view->pixels;
  }
  return LockBitMap(bitmap, view);
}

// Holds the top-left width x height inside the view.
bool ClipToView(const qvBitMapLock& v, int32_t* width, int32_t* height) {
  *width = std::min(*width, v.width);
  *height = std::min(*height, v.height);
  return *width > 0 && *height > 0;
}

uint32_t KeyChannels(int32_t format) {
  return format == kPixARGB32 || format == kPixxBGR32 ? 0x00FFFFFFu : 0xFFFFFF00u;
}

// A scaled side: trunc(size x |factor|) held to 1 .. INT32_MAX (NaN gives 1).
int32_t ScaledSide(int32_t size, double factor) {
  double v = std::trunc(double(size) * std::abs(factor));
  if (!(v >= 1)) return 1;
  return v >= 2147483647.0 ? INT32_MAX : int32_t(v);
}

}  // namespace

void ClearBitMap(qvBitMap* bitmap, bool spareColumnsOnly) {
  if (!bitmap || !bitmap->pixels || bitmap->height < 1) return;
  int64_t rowBytes = bitmap->bytesPerRow;
  int64_t from = spareColumnsOnly ? int64_t(bitmap->width) * bitmap->bytesPerPixel : 0;
  if (from >= rowBytes) return;
  if (from == 0) {
    std::memset(bitmap->pixels, 0, size_t(rowBytes * bitmap->height));
    return;
  }
  for (int64_t y = 0; y < bitmap->height; ++y)
    std::memset(bitmap->pixels + y * rowBytes + from, 0, size_t(rowBytes - from));
}

int TintBitMap(qvBitMap* bitmap, int32_t left, int32_t top, int32_t width, int32_t height,
               uint32_t colour, int32_t level) {
  qvBitMapLock lock;
  if (!LockBitMap(bitmap, &lock)) return ERR_LOCKBMAP;
  int32_t sx = left, sy = top;
  if (lock.bytesPerPixel == 4 &&
      image::ClipBlit(&sx, &sy, &left, &top, &width, &height, -1, -1, lock.width, lock.height)) {
    TintRecord r{};
    r.pixels = reinterpret_cast<uint32_t*>(lock.pixels);
    r.left = left, r.top = top, r.width = width, r.height = height;
    r.colour = colour & 0xFFFFFF;
    r.level = std::clamp(level, 0, 255);
    r.pixelsPerRow = lock.pixelsPerRow;
    r.format = lock.format;
    TintKernel(r);
  }
  UnLockBitMap(&lock);
  return 0;
}

int MixBitMaps(qvBitMap* dst, const qvBitMap* src, const qvPlane* srcMask, int32_t dx, int32_t dy,
               int32_t sx, int32_t sy, int32_t width, int32_t height, int32_t level,
               const qvPlane* srcAlpha, int32_t alphaWidth, int32_t alphaHeight) {
  level = std::clamp(level, 0, 255);
  if (srcAlpha && srcAlpha->data) {
    if (KnownWidth(srcAlpha) >= 0) {
      alphaWidth = int32_t(std::min<int64_t>(alphaWidth, srcAlpha->width));
      alphaHeight = int32_t(std::min<int64_t>(alphaHeight, srcAlpha->height));
    }
    if (alphaWidth < 1 || alphaHeight < 1) return 0;
    qvPlane* scratch = AllocAlphaChannel(alphaWidth, alphaHeight, false);
    if (!scratch) return ERR_MEM;
    // Only the window the blit reads is scaled (the blit clips to the source and the planes at
    // the same corner); the rest of the scratch is never read.
    int32_t x0 = std::clamp(sx, 0, alphaWidth), y0 = std::clamp(sy, 0, alphaHeight);
    int32_t x1 = int32_t(std::clamp<int64_t>(int64_t(sx) + std::max(width, 0), x0, alphaWidth));
    int32_t y1 = int32_t(std::clamp<int64_t>(int64_t(sy) + std::max(height, 0), y0, alphaHeight));
    for (int32_t y = y0; y < y1; ++y)
      ScaleBytesKernel(srcAlpha->data + int64_t(y) * srcAlpha->bytesPerRow + x0,
                       scratch->data + int64_t(y) * scratch->bytesPerRow + x0, level, x1 - x0, 1);
    BltAlphaBitMap(src, sx, sy, dst, dx, dy, width, height, scratch);
    FreeMaskOrAlpha(scratch);
    return 0;
  }
  qvBitMapLock dl, sl;
  if (!LockBitMap(dst, &dl)) return ERR_LOCKBMAP;
  if (!LockBitMap(src, &sl)) {
    UnLockBitMap(&dl);
    return ERR_LOCKBMAP;
  }
  if (srcMask && !srcMask->data) srcMask = nullptr;
  // The mask is read at the source's coordinates: the source's clip is narrowed to it.
  int64_t srcW = sl.width, srcH = sl.height;
  if (srcMask && KnownWidth(srcMask) >= 0) {
    srcW = std::min<int64_t>(srcW, srcMask->width);
    srcH = std::min<int64_t>(srcH, srcMask->height);
  }
  if (dl.bytesPerPixel == 4 && sl.bytesPerPixel == 4 &&
      image::ClipBlit(&sx, &sy, &dx, &dy, &width, &height, srcW, srcH, dl.width, dl.height)) {
    MixRecord r{};
    r.src = reinterpret_cast<const uint32_t*>(sl.pixels) + int64_t(sy) * sl.pixelsPerRow + sx;
    r.dst = reinterpret_cast<uint32_t*>(dl.pixels) + int64_t(dy) * dl.pixelsPerRow + dx;
    if (srcMask) {
      r.maskRow = srcMask->data + int64_t(sy) * srcMask->bytesPerRow;
      r.maskColumn = sx;
    }
    MixKernel(r, width, height, level, dl.format, sl.pixelsPerRow, dl.pixelsPerRow,
              srcMask ? srcMask->bytesPerRow : 0);
  }
  UnLockBitMap(&sl);
  UnLockBitMap(&dl);
  return 0;
}

int GrayBitMap(qvBitMap* bitmap, int32_t width, int32_t height, bool monochrome,
               const qvBitMapLock* lock) {
  qvBitMapLock v;
  if (!View(bitmap, lock, &v)) return ERR_LOCKBMAP;
  if (v.bytesPerPixel == 4 && ClipToView(v, &width, &height))
    GrayKernel(reinterpret_cast<uint32_t*>(v.pixels), width, height, v.format, v.pixelsPerRow,
               monochrome);
  if (!lock) UnLockBitMap(&v);
  return 0;
}

int InvertBitMap(qvBitMap* bitmap, int32_t width, int32_t height, const qvBitMapLock* lock) {
  qvBitMapLock v;
  if (!View(bitmap, lock, &v)) return ERR_LOCKBMAP;
  if (v.bytesPerPixel == 4 && ClipToView(v, &width, &height))
    InvertKernel(reinterpret_cast<uint32_t*>(v.pixels), width, height, v.pixelsPerRow);
  if (!lock) UnLockBitMap(&v);
  return 0;
}

int FlipBitMap(qvBitMap* bitmap, qvPlane* mask, qvPlane* alpha, int32_t width, int32_t height,
               bool horizontal) {
  if (mask && !mask->data) mask = nullptr;
  if (alpha && !alpha->data) alpha = nullptr;
  // One rectangle for every plane: the smallest that knows its size bounds it.
  int64_t w = width, h = height;
  if (bitmap) w = std::min<int64_t>(w, bitmap->width), h = std::min<int64_t>(h, bitmap->height);
  for (const qvPlane* p : {mask, alpha})
    if (p && KnownWidth(p) >= 0)
      w = std::min<int64_t>(w, p->width), h = std::min<int64_t>(h, p->height);
  if (w < 1 || h < 1) return 0;
  uint8_t* scratch = nullptr;
  if (mask && horizontal) {
    scratch = static_cast<uint8_t*>(image::Allocate(size_t(std::max(mask->bytesPerRow, 1)), false));
    if (!scratch) return ERR_MEM;
  }
  qvBitMapLock lock{};
  if (bitmap && !LockBitMap(bitmap, &lock)) {
    std::free(scratch);
    return ERR_LOCKBMAP;
  }
  FlipRecord r{};
  if (bitmap) {
    r.pixels = reinterpret_cast<uint32_t*>(lock.pixels);
    r.pixelsPerRow = lock.pixelsPerRow;
    r.bytesPerPixel = lock.bytesPerPixel;
  }
  r.width = int32_t(w), r.height = int32_t(h);
  if (mask) r.mask = mask->data, r.maskBytesPerRow = mask->bytesPerRow;
  if (alpha) r.alpha = alpha->data, r.alphaBytesPerRow = alpha->bytesPerRow;
  r.horizontal = horizontal;
  r.scratch = scratch;
  FlipKernel(r);
  if (bitmap) UnLockBitMap(&lock);
  std::free(scratch);
  return 0;
}

int CopyBitMapRegion(const qvBitMap* bitmap, const qvPlane* mask, const qvPlane* alpha,
                     int32_t left, int32_t top, int32_t width, int32_t height, bool fastMemory,
                     qvBitMap** outBitmap, qvPlane** outMask, qvPlane** outAlpha) {
  if (mask && !mask->data) mask = nullptr;
  if (alpha && !alpha->data) alpha = nullptr;
  auto inside = [&](int64_t w, int64_t h) {
    return w < 0 || (int64_t(left) + width <= w && int64_t(top) + height <= h);
  };
  if (width < 0 || height < 0 || left < 0 || top < 0 ||
      (bitmap && !inside(bitmap->width, bitmap->height)) ||
      (mask && !inside(KnownWidth(mask), KnownHeight(mask))) ||
      (alpha && !inside(KnownWidth(alpha), KnownHeight(alpha))))
    return ERR_OUTOFRANGE;
  qvBitMap* newBitmap = nullptr;
  qvPlane* newMask = nullptr;
  qvPlane* newAlpha = nullptr;
  if (bitmap) {
    newBitmap = AllocBitMap(width, height);
    if (!newBitmap && fastMemory) newBitmap = AllocBitMap(width, height);
  }
  if ((bitmap && !newBitmap) || (mask && !(newMask = AllocMask(width, height, false))) ||
      (alpha && !(newAlpha = AllocAlphaChannel(width, height, false)))) {
    FreeBitMap(newBitmap);
    FreeMaskOrAlpha(newMask);
    FreeMaskOrAlpha(newAlpha);
    return ERR_MEM;
  }
  if (newBitmap) BltBitMap(bitmap, left, top, newBitmap, 0, 0, width, height);
  if (newMask) BltPlane(mask, left, top, newMask, 0, 0, width, height, 2);
  if (newAlpha) CopyAlphaRect(alpha, left, top, newAlpha, 0, 0, width, height, 0, 0);
  auto store = [](auto** out, auto* made, auto freeIt) {
    if (out)
      *out = made;
    else
      freeIt(made);
  };
  store(outBitmap, newBitmap, FreeBitMap);
  store(outMask, newMask, FreeMaskOrAlpha);
  store(outAlpha, newAlpha, FreeMaskOrAlpha);
  return 0;
}

qvPlane* CreateColorKeyMask(const qvBitMap* bitmap, int32_t width, int32_t height, uint32_t key) {
  qvBitMapLock lock;
  if (!LockBitMap(bitmap, &lock)) return nullptr;
  width = std::clamp(width, 0, lock.width);
  height = std::clamp(height, 0, lock.height);
  qvPlane* mask = AllocMask(width, height, true);
  if (mask && lock.bytesPerPixel == 4) {
    uint32_t channels = KeyChannels(lock.format);
    ColorKeyMaskKernel(reinterpret_cast<const uint32_t*>(lock.pixels), mask->data, width, height,
                       mask->bytesPerRow,
                       ColorToPixelFormat(key & 0xFFFFFF, lock.format) & channels,
                       lock.pixelsPerRow, channels);
  }
  UnLockBitMap(&lock);
  return mask;
}

void GetTransformedSize(const double matrix[4], int32_t width, int32_t height, int32_t* outWidth,
                        int32_t* outHeight) {
  const double a = matrix[0], b = matrix[1], c = matrix[2], d = matrix[3];
  int32_t w, h;
  if (b == 0 && c == 0) {
    qvDisplayScale scale{};
    const auto& host = CurrentImageHost();
    if (a == 1 && d == 1) {
      w = width, h = height;
    } else if (host.displayScale && host.displayScale(&scale) && a == scale.scaleX &&
               d == scale.scaleY && width == scale.width && height == scale.height) {
      // A full display picture scaled by the display's factors hits the window exactly.
      w = scale.scaledWidth, h = scale.scaledHeight;
    } else {
      // A mirror keeps its size: the sign only turns the picture over.
      w = ScaledSide(width, a), h = ScaledSide(height, d);
    }
  } else {
    GetRotatedBox(matrix, width, height, &w, &h, nullptr, nullptr);
  }
  if (outWidth) *outWidth = w;
  if (outHeight) *outHeight = h;
}

int TransformBitMap(void* pluginImage, int32_t mode, void* plugin, const qvBitMap* bitmap,
                    const qvPlane* mask, const qvPlane* alpha, int32_t left, int32_t top, int32_t x,
                    int32_t y, int32_t width, int32_t height, const double anchor[2],
                    const double matrix[4], bool smooth, qvBitMap** outBitmap, qvPlane** outMask,
                    qvPlane** outAlpha, int32_t* outX, int32_t* outY, int32_t* outWidth,
                    int32_t* outHeight) {
  if (!matrix) return ERR_WRONGUSAGE;
  int32_t boxX = 0, boxY = 0;
  GetTransformedBounds(x, y, width, height, anchor ? anchor[0] : 0, anchor ? anchor[1] : 0, matrix,
                       &boxX, &boxY, nullptr, nullptr);
  int32_t newWidth = 1, newHeight = 1;
  GetTransformedSize(matrix, width, height, &newWidth, &newHeight);
  newWidth = std::max(newWidth, 1), newHeight = std::max(newHeight, 1);
  const double a = matrix[0], b = matrix[1], c = matrix[2], d = matrix[3];
  const bool identity = a == 1 && b == 0 && c == 0 && d == 1;
  int err = 0;
  if (mode == kTransformBitMap) {
    if (identity) {
      err = CopyBitMapRegion(bitmap, mask, alpha, left, top, width, height, false, outBitmap,
                             outMask, outAlpha);
    } else if (b == 0 && c == 0 && a >= 0 && d >= 0) {
      err = ScaleBitMap(bitmap, mask, alpha, left, top, nullptr, width, height, newWidth, newHeight,
                        smooth, outBitmap, outMask, outAlpha);
    } else {
      err = RotateBitMap(bitmap, mask, alpha, left, top, width, height, matrix, smooth, outBitmap,
                         outMask, outAlpha, &newWidth, &newHeight);
    }
  } else if (mode == kTransformPlugin) {
    const auto& host = CurrentImageHost();
    if (identity) {
      err = CopyBitMapRegion(bitmap, mask, alpha, left, top, width, height, false, outBitmap,
                             outMask, outAlpha);
    } else if (!host.pluginTransform) {
      err = ERR_TFIMAGE;
    } else {
      qvPluginTransform request{{a, b, c, d, 0, 0}, newWidth, newHeight, smooth};
      qvBitMap* made = nullptr;
      qvPlane* madeAlpha = nullptr;
      err = host.pluginTransform(plugin, pluginImage, request, &made, &madeAlpha);
      if (!err) {
        if (outBitmap)
          *outBitmap = made;
        else
          FreeBitMap(made);
        if (outAlpha)
          *outAlpha = madeAlpha;
        else
          FreeMaskOrAlpha(madeAlpha);
        if (outMask) *outMask = nullptr;
      }
    }
  }
  if (err) return err;
  if (outX) *outX = boxX;
  if (outY) *outY = boxY;
  if (outWidth) *outWidth = newWidth;
  if (outHeight) *outHeight = newHeight;
  return 0;
}

int ApplyTransparencyToAlpha(qvPlane** alpha, qvPlane** mask, int32_t width, int32_t height,
                             int32_t factor) {
  if (!alpha) return ERR_WRONGUSAGE;
  factor = std::clamp(factor, 0, 255);
  qvPlane* a = *alpha;
  if (a && a->data) {
    int64_t rows = KnownHeight(a) >= 0 ? std::min<int64_t>(height, a->height) : height;
    if (rows > 0) ScaleBytesKernel(a->data, a->data, factor, a->bytesPerRow, int32_t(rows));
    return 0;
  }
  if (width < 0 || height < 0) return ERR_OUTOFRANGE;
  qvPlane* made = AllocAlphaChannel(width, height, false);
  if (!made) return ERR_MEM;
  qvPlane* m = mask ? *mask : nullptr;
  if (m && m->data) {
    std::memset(made->data, 0, size_t(int64_t(made->bytesPerRow) * height));
    TemplateToBytesRecord r{};
    r.tmpl = m->data, r.tmplBytesPerRow = m->bytesPerRow;
    r.dst = made->data, r.dstBytesPerRow = made->bytesPerRow;
    r.width = KnownWidth(m) >= 0 ? std::min(width, m->width) : width;
    r.height = KnownHeight(m) >= 0 ? std::min(height, m->height) : height;
    r.value = uint8_t(factor);
    TemplateToBytesKernel(r);
    FreeMaskOrAlpha(m);
    *mask = nullptr;
  } else {
    std::memset(made->data, factor, size_t(int64_t(made->bytesPerRow) * height));
  }
  FreeMaskOrAlpha(a);  // a record without data is replaced
  *alpha = made;
  return 0;
}

int ApplyStyleTransparency(const qvStyleEffects* style, qvBitMap* bitmap, qvPlane** mask,
                           qvPlane** alpha, int32_t width, int32_t height) {
  const auto& host = CurrentImageHost();
  if (!style || (host.layersOn && host.layersOn())) return 0;
  if (style->filters && host.applyFilters)
    host.applyFilters(style->filters, bitmap, mask, alpha, width, height);
  if (style->transparency == 0) return 0;
  return ApplyTransparencyToAlpha(alpha, mask, width, height,
                                  255 - std::clamp(style->transparency, 0, 255));
}

}  // namespace qv
