// Bitmaps, masks and alpha planes: allocation, wrapping, the lock view, single pixels, ARGB
// arrays, attributes and the checked blit entry points in front of the kernels.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/errors.h"
#include "image/image.h"
#include "image/internal.h"
#include "platform/textout.h"

namespace qv {

namespace {

// No plane may exceed this many bytes: offsets inside it then fit the kernels' 32-bit strides.
constexpr int64_t kMaxPlaneBytes = int64_t(1) << 31;

uint8_t* AllocPlaneBytes(int64_t bytes, bool clear) {
  if (bytes < 0 || bytes > kMaxPlaneBytes) return nullptr;
  size_t n = bytes > 0 ? size_t(bytes) : 1;
  return static_cast<uint8_t*>(image::Allocate(n, clear));
}

qvPlane* NewPlane(int32_t width, int32_t height, int32_t bytesPerRow, bool clear) {
  if (width < 0 || height < 0) return nullptr;
  auto* plane = static_cast<qvPlane*>(image::Allocate(sizeof(qvPlane), true));
  if (!plane) return nullptr;
  plane->data = AllocPlaneBytes(int64_t(bytesPerRow) * height, clear);
  if (!plane->data) {
    std::free(plane);
    return nullptr;
  }
  plane->width = width;
  plane->height = height;
  plane->bytesPerRow = bytesPerRow;
  return plane;
}

qvPlane* NewForeignPlane(uint8_t* data, int32_t width, int32_t height, int32_t bytesPerRow) {
  auto* plane = static_cast<qvPlane*>(image::Allocate(sizeof(qvPlane), true));
  if (!plane) return nullptr;
  plane->data = data;
  plane->width = width;
  plane->height = height;
  plane->bytesPerRow = bytesPerRow;
  plane->foreign = 1;
  return plane;
}

// A plane's size for clipping: wrapped rows know none.
int64_t KnownWidth(const qvPlane* p) { return p->width > 0 || p->height > 0 ? p->width : -1; }
int64_t KnownHeight(const qvPlane* p) { return p->width > 0 || p->height > 0 ? p->height : -1; }

uint32_t ReadPixelValue(const uint8_t* p, int32_t format) {
  switch (format) {
    case kPixRGB565: {
      uint16_t w;
      std::memcpy(&w, p, 2);
      return (uint32_t(w & 0xF800) << 8) | (uint32_t(w & 0x07E0) << 5) | (uint32_t(w & 0x1F) << 3);
    }
    case kPixARGB32:
    case kPixBGRx32:
    case kPixRGBx32:
    case kPixxBGR32: {
      uint32_t v;
      std::memcpy(&v, p, 4);
      return PixelToRGB(format, v) & (format == kPixARGB32 ? 0xFFFFFFu : 0xFFFFFFFFu);
    }
    default:
      return 0;
  }
}

}  // namespace

namespace image {

bool ClipBlit(int32_t* sx, int32_t* sy, int32_t* dx, int32_t* dy, int32_t* width, int32_t* height,
              int64_t srcW, int64_t srcH, int64_t dstW, int64_t dstH) {
  auto clip = [](int64_t& s, int64_t& d, int64_t& n, int64_t sMax, int64_t dMax) {
    if (s < 0) {
      n += s;
      d -= s;
      s = 0;
    }
    if (d < 0) {
      n += d;
      s -= d;
      d = 0;
    }
    if (sMax >= 0) n = std::min(n, sMax - s);
    if (dMax >= 0) n = std::min(n, dMax - d);
    return n > 0;
  };
  int64_t x0 = *sx, y0 = *sy, x1 = *dx, y1 = *dy, w = *width, h = *height;
  if (!clip(x0, x1, w, srcW, dstW) || !clip(y0, y1, h, srcH, dstH)) return false;
  // Unknown sizes leave coordinates that may still lie beyond 32 bits: refuse them.
  for (int64_t v : {x0, y0, x1, y1, w, h})
    if (v > INT32_MAX) return false;
  *sx = int32_t(x0), *sy = int32_t(y0), *dx = int32_t(x1), *dy = int32_t(y1);
  *width = int32_t(w), *height = int32_t(h);
  return true;
}

}  // namespace image

using image::ClipBlit;

int32_t MaskBytesPerRow(int32_t width) { return width < 0 ? 0 : width / 8 + 1; }
int32_t AlphaBytesPerRow(int32_t width) {
  return width < 0 ? 0 : int32_t((int64_t(width) + 3) & ~int64_t(3));
}

namespace {

// Four spare pixels per row and one spare row let kernels read past the edges unchecked.
int64_t WordsPerRow(int32_t width) { return (int64_t(width) & ~int64_t(3)) + 4; }

qvBitMap* NewBitMap(int32_t width, int32_t height, bool clear) {
  if (width < 0 || height < 0) return nullptr;
  int64_t bytesPerRow = WordsPerRow(width) * 4;
  if (bytesPerRow > INT32_MAX) return nullptr;
  auto* bitmap = static_cast<qvBitMap*>(image::Allocate(sizeof(qvBitMap), true));
  if (!bitmap) return nullptr;
  bitmap->pixels = AllocPlaneBytes(bytesPerRow * (int64_t(height) + 1), clear);
  if (!bitmap->pixels) {
    std::free(bitmap);
    return nullptr;
  }
  bitmap->width = width;
  bitmap->height = height;
  bitmap->bytesPerRow = int32_t(bytesPerRow);
  bitmap->bytesPerPixel = 4;
  bitmap->format = kPixARGB32;
  return bitmap;
}

}  // namespace

qvBitMap* AllocBitMap(int32_t width, int32_t height) { return NewBitMap(width, height, false); }

qvBitMap* AllocClearedBitMap(int32_t width, int32_t height) {
  return NewBitMap(width, height, true);
}

void FreeBitMap(qvBitMap* bitmap) {
  if (!bitmap) return;
  std::free(bitmap->pixels);
  std::free(bitmap);
}

qvPlane* AllocMask(int32_t width, int32_t height, bool clear) {
  return NewPlane(width, height, MaskBytesPerRow(width), clear);
}

qvPlane* AllocAlphaChannel(int32_t width, int32_t height, bool clear) {
  return NewPlane(width, height, AlphaBytesPerRow(width), clear);
}

void FreeMaskOrAlpha(qvPlane* plane) {
  if (!plane) return;
  if (!plane->foreign) std::free(plane->data);
  std::free(plane);
}

qvPlane* WrapPlaneBuffer(uint8_t* data, int32_t width, int32_t height, int32_t bytesPerRow) {
  return NewForeignPlane(data, width, height, bytesPerRow);
}

qvPlane* WrapPlaneRows(uint8_t* data, int32_t bytesPerRow) {
  return NewForeignPlane(data, 0, 0, bytesPerRow);
}

void SetPlaneBuffer(qvPlane* plane, uint8_t* data, int32_t bytesPerRow) {
  if (!plane) return;
  if (!plane->foreign) std::free(plane->data);
  plane->data = data;
  plane->bytesPerRow = bytesPerRow;
  plane->foreign = 1;
}

qvPlane MakeTempMask(uint8_t* data, int32_t width, int32_t height) {
  qvPlane p{};
  p.data = data;
  p.width = width;
  p.height = height;
  p.bytesPerRow = MaskBytesPerRow(width);
  p.foreign = 1;
  return p;
}

qvPlane MakeTempPlane(uint8_t* data, int32_t bytesPerRow) {
  qvPlane p{};
  p.data = data;
  p.bytesPerRow = bytesPerRow;
  p.foreign = 1;
  return p;
}

bool LockBitMap(const qvBitMap* bitmap, qvBitMapLock* lock) {
  *lock = qvBitMapLock{};
  if (!bitmap || !bitmap->pixels || bitmap->bytesPerPixel <= 0) return false;
  lock->pixels = bitmap->pixels;
  lock->valid = 1;
  lock->format = bitmap->format;
  lock->bytesPerPixel = bitmap->bytesPerPixel;
  lock->pixelsPerRow = bitmap->bytesPerRow / bitmap->bytesPerPixel;
  lock->width = bitmap->width;
  lock->height = bitmap->height;
  return true;
}

void UnLockBitMap(qvBitMapLock*) {}

uint32_t ReadBitMapPixel(const qvBitMap* bitmap, int32_t x, int32_t y) {
  if (!bitmap || !bitmap->pixels || x < 0 || y < 0 || x >= bitmap->width || y >= bitmap->height)
    return 0;
  int bpp = bitmap->format == kPixRGB565 ? 2 : 4;
  if (bitmap->bytesPerPixel != bpp) return 0;
  const uint8_t* p = bitmap->pixels + int64_t(y) * bitmap->bytesPerRow + int64_t(x) * bpp;
  return ReadPixelValue(p, bitmap->format);
}

uint32_t ReadBitMapPixel(const qvPlane* mask, int32_t x, int32_t y) {
  if (!mask || !mask->data || x < 0 || y < 0 || x >= mask->width || y >= mask->height) return 0;
  return image::MaskBit(mask->data + int64_t(y) * mask->bytesPerRow, x);
}

void WriteBitMapPixel(qvBitMap* bitmap, int32_t x, int32_t y, uint32_t colour) {
  if (!bitmap || !bitmap->pixels || x < 0 || y < 0 || x >= bitmap->width || y >= bitmap->height)
    return;
  uint8_t* p = bitmap->pixels + int64_t(y) * bitmap->bytesPerRow;
  if (bitmap->format == kPixRGB565 && bitmap->bytesPerPixel == 2) {
    uint16_t w = uint16_t(ColorToPixelFormat(colour, kPixRGB565));
    std::memcpy(p + int64_t(x) * 2, &w, 2);
  } else if (bitmap->format >= kPixARGB32 && bitmap->format <= kPixxBGR32 &&
             bitmap->bytesPerPixel == 4) {
    uint32_t v = ColorToPixelFormat(colour, bitmap->format);
    std::memcpy(p + int64_t(x) * 4, &v, 4);
  }
}

void WriteBitMapPixel(qvPlane* mask, int32_t x, int32_t y, int32_t mode) {
  if (!mask || !mask->data || x < 0 || y < 0 || x >= mask->width || y >= mask->height) return;
  uint8_t* row = mask->data + int64_t(y) * mask->bytesPerRow;
  switch (mode) {
    case 0:
    case 2:
    case 5:
      image::SetMaskBit(row, x);
      break;
    case 1:
      image::ClearMaskBit(row, x);
      break;
    case 3:
      image::PutMaskBit(row, x, !image::MaskBit(row, x));
      break;
    default:
      break;
  }
}

uint32_t* ReadBitMapARGB(const qvBitMap* bitmap, int32_t width, int32_t height) {
  qvBitMapLock lock;
  if (!LockBitMap(bitmap, &lock) || width < 0 || height < 0 || width > lock.width ||
      height > lock.height)
    return nullptr;
  int64_t bytes = int64_t(width) * height * 4;
  if (bytes > kMaxPlaneBytes) return nullptr;
  auto* out = static_cast<uint32_t*>(image::Allocate(bytes > 0 ? size_t(bytes) : 1, false));
  if (!out) return nullptr;
  int fmt = lock.format;
  int bpp = fmt == kPixRGB565 ? 2 : (fmt >= kPixARGB32 && fmt <= kPixxBGR32 ? 4 : 0);
  if (bpp == 0 || bpp != lock.bytesPerPixel) {
    std::memset(out, 0, size_t(bytes));  // no reader for the format: rows stay empty
    return out;
  }
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* row = lock.pixels + int64_t(y) * bitmap->bytesPerRow;
    uint32_t* o = out + int64_t(y) * width;
    if (fmt == kPixARGB32) {
      std::memcpy(o, row, size_t(width) * 4);
    } else {
      for (int32_t x = 0; x < width; ++x) o[x] = ReadPixelValue(row + int64_t(x) * bpp, fmt);
    }
  }
  return out;
}

int AllocBitMapFromARGB(const uint32_t* argb, int64_t colourKey, int32_t width, int32_t height,
                        int32_t sourceWordsPerRow, qvBitMap** outBitmap, qvPlane** outMask) {
  qvBitMap* bitmap = AllocBitMap(width, height);
  if (!bitmap || !argb) {
    FreeBitMap(bitmap);
    return ERR_MEM;
  }
  qvBitMapLock lock;
  if (!LockBitMap(bitmap, &lock)) {
    FreeBitMap(bitmap);
    return ERR_LOCKBMAP;
  }
  for (int32_t y = 0; y < height; ++y) {
    const uint32_t* s = argb + int64_t(y) * sourceWordsPerRow;
    auto* d = reinterpret_cast<uint32_t*>(lock.pixels + int64_t(y) * bitmap->bytesPerRow);
    if (lock.format == kPixARGB32) {
      std::memcpy(d, s, size_t(width) * 4);
    } else {
      for (int32_t x = 0; x < width; ++x) d[x] = ConvertPixelOrder(lock.format, s[x] & 0xFFFFFF);
    }
  }
  qvPlane* mask = nullptr;
  if (colourKey != -1) {
    mask = AllocMask(width, height, true);
    if (!mask) {
      FreeBitMap(bitmap);
      return ERR_MEM;
    }
    ColorKeyMaskKernel(reinterpret_cast<const uint32_t*>(lock.pixels), mask->data, width, height,
                       mask->bytesPerRow, uint32_t(colourKey) & 0xFFFFFF, lock.pixelsPerRow,
                       0xFFFFFF);
  }
  UnLockBitMap(&lock);
  *outBitmap = bitmap;
  if (outMask) {
    *outMask = mask;
  } else {
    FreeMaskOrAlpha(mask);
  }
  return 0;
}

int32_t BitMapWordsPerRow(int32_t width) {
  return width < 0 ? 0 : int32_t(std::min<int64_t>(WordsPerRow(width), INT32_MAX));
}

int AdoptBitMapFromARGB(uint32_t* block, int64_t colourKey, int32_t width, int32_t height,
                        qvBitMap** outBitmap, qvPlane** outMask) {
  if (block == nullptr || width < 0 || height < 0 || WordsPerRow(width) * 4 > INT32_MAX)
    return ERR_MEM;
  const int32_t wordsPerRow = int32_t(WordsPerRow(width));
  qvPlane* mask = nullptr;
  if (colourKey != -1) {
    mask = AllocMask(width, height, true);
    if (!mask) return ERR_MEM;
  }
  auto* bitmap = static_cast<qvBitMap*>(image::Allocate(sizeof(qvBitMap), true));
  if (!bitmap) {
    FreeMaskOrAlpha(mask);
    return ERR_MEM;
  }
  if (mask) {
    ColorKeyMaskKernel(block, mask->data, width, height, mask->bytesPerRow,
                       uint32_t(colourKey) & 0xFFFFFF, wordsPerRow, 0xFFFFFF);
  }
  bitmap->pixels = reinterpret_cast<uint8_t*>(block);
  bitmap->width = width;
  bitmap->height = height;
  bitmap->bytesPerRow = wordsPerRow * 4;
  bitmap->bytesPerPixel = 4;
  bitmap->format = kPixARGB32;
  *outBitmap = bitmap;
  if (outMask) {
    *outMask = mask;
  } else {
    FreeMaskOrAlpha(mask);
  }
  return 0;
}

int32_t GetBitMapAttr(const qvBitMap* bitmap, int32_t code) {
  if (!bitmap) return 0;
  switch (code) {
    case kBmaWidth:
    case kBmaWidth3:
    case kBmaWidth4:
      return bitmap->width;
    case kBmaBytesPerRow:
    case kBmaBytesPerRow2:
      return bitmap->bytesPerRow;
    case kBmaMaskBytesPerRow:
      return MaskBytesPerRow(bitmap->width);
    case kBmaPixelsPerRow:
      return bitmap->bytesPerPixel > 0 ? bitmap->bytesPerRow / bitmap->bytesPerPixel : 0;
    case kBmaHeight:
      return bitmap->height;
    case kBmaDepth:
      return 32;
    default:
      return 0;
  }
}

void BltBitMap(const qvBitMap* src, int32_t sx, int32_t sy, qvBitMap* dst, int32_t dx, int32_t dy,
               int32_t width, int32_t height) {
  if (!dst) {
    OutputText("ERROR! BLTBITMAP() CALLED WITH DST=NULL!\n");
    return;
  }
  qvBitMapLock sl, dl;
  if (!LockBitMap(src, &sl) || !LockBitMap(dst, &dl)) return;
  if (sl.bytesPerPixel != 4 || dl.bytesPerPixel != 4) return;
  if (!ClipBlit(&sx, &sy, &dx, &dy, &width, &height, sl.width, sl.height, dl.width, dl.height))
    return;
  BltBitMapRecord r{};
  r.src = reinterpret_cast<const uint32_t*>(sl.pixels);
  r.dst = reinterpret_cast<uint32_t*>(dl.pixels);
  r.sx = sx, r.sy = sy, r.dx = dx, r.dy = dy, r.width = width, r.height = height;
  r.srcPixelsPerRow = sl.pixelsPerRow;
  r.dstPixelsPerRow = dl.pixelsPerRow;
  r.srcFormat = sl.format;
  r.dstFormat = dl.format;
  r.convert = sl.format != dl.format;
  BltBitMapKernel(r);
}

void BltMaskBitMap(const qvBitMap* src, int32_t sx, int32_t sy, qvBitMap* dst, int32_t dx,
                   int32_t dy, int32_t width, int32_t height, const qvPlane* mask) {
  if (!dst) {
    OutputText("ERROR! BLTMASK() CALLED WITH DST=NULL!\n");
    return;
  }
  qvBitMapLock sl, dl;
  if (!LockBitMap(src, &sl) || !LockBitMap(dst, &dl) || !mask || !mask->data) return;
  if (sl.bytesPerPixel != 4 || dl.bytesPerPixel != 4) return;
  // The mask is read at the source's coordinates: the source's clip is narrowed to the mask.
  int64_t srcW = sl.width, srcH = sl.height;
  if (KnownWidth(mask) >= 0) {
    srcW = std::min<int64_t>(srcW, mask->width);
    srcH = std::min<int64_t>(srcH, mask->height);
  }
  if (!ClipBlit(&sx, &sy, &dx, &dy, &width, &height, srcW, srcH, dl.width, dl.height)) return;
  BltMaskRecord r{};
  r.src = reinterpret_cast<const uint32_t*>(sl.pixels);
  r.dst = reinterpret_cast<uint32_t*>(dl.pixels);
  r.mask = mask->data;
  r.sx = sx, r.sy = sy, r.dx = dx, r.dy = dy, r.width = width, r.height = height;
  r.srcPixelsPerRow = sl.pixelsPerRow;
  r.maskBytesPerRow = mask->bytesPerRow;
  r.dstPixelsPerRow = dl.pixelsPerRow;
  r.conversion = dl.format == kPixBGRx32 ? 1 : dl.format == kPixRGBx32 ? 2 : 0;
  BltMaskKernel(r);
}

void BltTemplate(const qvPlane* tmpl, int32_t sx, int32_t sy, qvBitMap* dst, int32_t dx, int32_t dy,
                 int32_t width, int32_t height, uint32_t colour) {
  if (!dst) {
    OutputText("ERROR! BLTTEMPLATE() CALLED WITH DST=NULL!\n");
    return;
  }
  qvBitMapLock dl;
  if (!LockBitMap(dst, &dl) || !tmpl || !tmpl->data || dl.bytesPerPixel != 4) return;
  if (!ClipBlit(&sx, &sy, &dx, &dy, &width, &height, KnownWidth(tmpl), KnownHeight(tmpl), dl.width,
                dl.height))
    return;
  BltTemplateRecord r{};
  r.tmpl = tmpl->data;
  r.dst = reinterpret_cast<uint32_t*>(dl.pixels);
  r.tx = sx, r.ty = sy, r.dx = dx, r.dy = dy, r.width = width, r.height = height;
  r.tmplBytesPerRow = tmpl->bytesPerRow;
  r.dstPixelsPerRow = dl.pixelsPerRow;
  r.colour = ColorToPixelFormat(colour, dl.format);
  BltTemplateKernel(r);
}

void FillBitMapRect(qvBitMap* bitmap, int32_t x, int32_t y, int32_t width, int32_t height,
                    uint32_t colour) {
  qvBitMapLock lock;
  if (!LockBitMap(bitmap, &lock) || lock.bytesPerPixel != 4) return;
  int32_t sx = x, sy = y;
  if (!ClipBlit(&sx, &sy, &x, &y, &width, &height, -1, -1, lock.width, lock.height)) return;
  FillPixelRectKernel(reinterpret_cast<uint32_t*>(lock.pixels), lock.pixelsPerRow, x, y, width,
                      height, ColorToPixelFormat(colour, lock.format));
}

void BltPlane(const qvPlane* src, int32_t sx, int32_t sy, qvPlane* dst, int32_t dx, int32_t dy,
              int32_t width, int32_t height, int32_t mode) {
  if (!src || !dst || !src->data || !dst->data || mode < 0 || mode > 5) return;
  if (!ClipBlit(&sx, &sy, &dx, &dy, &width, &height, KnownWidth(src), KnownHeight(src),
                KnownWidth(dst), KnownHeight(dst)))
    return;
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* s = src->data + int64_t(sy + y) * src->bytesPerRow;
    uint8_t* d = dst->data + int64_t(dy + y) * dst->bytesPerRow;
    for (int32_t x = 0; x < width; ++x) {
      bool bit = image::MaskBit(s, int64_t(sx) + x);
      int64_t at = int64_t(dx) + x;
      switch (mode) {
        case 0:
        case 5:
          if (bit) image::SetMaskBit(d, at);
          break;
        case 1:
          if (bit) image::ClearMaskBit(d, at);
          break;
        case 2:
          image::PutMaskBit(d, at, bit);
          break;
        case 3:
          if (bit) image::PutMaskBit(d, at, !image::MaskBit(d, at));
          break;
        case 4:
          if (!bit) image::ClearMaskBit(d, at);
          break;
      }
    }
  }
}

void FillPlaneRect(qvPlane* plane, int32_t x, int32_t y, int32_t width, int32_t height,
                   int32_t mode) {
  if (!plane || !plane->data) return;
  if (mode != 0 && mode != 1 && mode != 2 && mode != 3 && mode != 5) return;
  int32_t sx = x, sy = y;
  if (!ClipBlit(&sx, &sy, &x, &y, &width, &height, -1, -1, KnownWidth(plane), KnownHeight(plane)))
    return;
  for (int32_t row = 0; row < height; ++row) {
    uint8_t* d = plane->data + int64_t(y + row) * plane->bytesPerRow;
    for (int64_t at = x; at < int64_t(x) + width; ++at) {
      if (mode == 1)
        image::ClearMaskBit(d, at);
      else if (mode == 3)
        image::PutMaskBit(d, at, !image::MaskBit(d, at));
      else
        image::SetMaskBit(d, at);
    }
  }
}

void ClearTwoResults(const qvBitMap*, int32_t, int32_t, int32_t* a, int32_t* b) {
  if (a) *a = 0;
  if (b) *b = 0;
}

}  // namespace qv
