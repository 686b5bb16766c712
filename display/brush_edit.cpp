// Reworking a brush's pictures for the brush library's commands: scaling and turning (raster
// brushes through the engine, vector brushes through their image plugin), cutting, keying,
// filling, reading and building pixel words, and brushes taken from other objects.
#include "display/brush_edit.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/errors.h"
#include "display/display.h"
#include "display/internal.h"
#include "display/sprites.h"
#include "platform/window_services.h"

namespace qv {

namespace {

uint8_t* Row(const qvPlane* plane, int32_t y) {
  return plane->data + static_cast<size_t>(y) * static_cast<size_t>(plane->bytesPerRow);
}

bool MaskBitAt(const qvPlane* mask, int32_t x, int32_t y) {
  return (Row(mask, y)[x >> 3] & (0x80 >> (x & 7))) != 0;
}

// The channels a colour compares on in a 32-bit format: the low three bytes, or the high three.
uint32_t ColourChannels(int32_t format) {
  return format == kPixARGB32 || format == kPixxBGR32 ? 0x00FFFFFFu : 0xFFFFFF00u;
}

// A vector brush is drawn again by its image plugin: the pixel buffer is the plugin's picture.
int TransformVector(qvBrush* brush, const double matrix[4], bool smooth) {
  qvBitMap* bitmap = nullptr;
  qvPlane* mask = nullptr;
  qvPlane* alpha = nullptr;
  int32_t width = 0, height = 0;
  const double anchor[2] = {0.0, 0.0};
  int code = TransformBitMap(brush->pixelBuffer, kTransformPlugin, nullptr, brush->bitmap,
                             brush->mask, brush->alpha, 0, 0, 0, 0, brush->width, brush->height,
                             anchor, matrix, smooth, &bitmap, &mask, &alpha, nullptr, nullptr,
                             &width, &height);
  if (code != 0) return code;
  if (bitmap == nullptr) {
    FreeMaskOrAlpha(mask);
    FreeMaskOrAlpha(alpha);
    return ERR_MEM;
  }
  SetBrushPlanes(brush, bitmap, mask, alpha, width, height);
  brush->transformed = 1;
  return 0;
}

}  // namespace

void SetBrushPlanes(qvBrush* brush, qvBitMap* bitmap, qvPlane* mask, qvPlane* alpha, int32_t width,
                    int32_t height) {
  if (brush->bitmap != bitmap) FreeBitMap(brush->bitmap);
  if (brush->mask != mask) FreeMaskOrAlpha(brush->mask);
  if (brush->alpha != alpha) FreeMaskOrAlpha(brush->alpha);
  brush->bitmap = bitmap;
  brush->mask = mask;
  brush->alpha = alpha;
  brush->width = brush->rowWidth = width;
  brush->height = height;
}

int ScaleBrushTo(qvBrush* brush, int32_t width, int32_t height, bool smooth) {
  if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
  if (width == brush->width && height == brush->height) return 0;
  if (brush->kind == kBrushVector) {
    const double matrix[4] = {double(width) / brush->width, 0.0, 0.0,
                              double(height) / brush->height};
    return TransformVector(brush, matrix, smooth);
  }
  qvBitMap* bitmap = nullptr;
  qvPlane* mask = nullptr;
  qvPlane* alpha = nullptr;
  int code = ScaleBitMap(brush->bitmap, brush->mask, brush->alpha, 0, 0, nullptr, brush->width,
                         brush->height, width, height, smooth, &bitmap, &mask, &alpha);
  if (code != 0) return code;
  SetBrushPlanes(brush, bitmap, mask, alpha, width, height);
  return 0;
}

int TransformBrushBy(qvBrush* brush, const double matrix[4], bool smooth) {
  if (brush->kind == kBrushVector) return TransformVector(brush, matrix, smooth);
  qvBitMap* bitmap = nullptr;
  qvPlane* mask = nullptr;
  qvPlane* alpha = nullptr;
  int32_t width = 0, height = 0;
  int code = RotateBitMap(brush->bitmap, brush->mask, brush->alpha, 0, 0, brush->width,
                          brush->height, matrix, smooth, &bitmap, &mask, &alpha, &width, &height);
  if (code != 0) return code;
  SetBrushPlanes(brush, bitmap, mask, alpha, width, height);
  return 0;
}

int ReplaceBrushColours(qvBrush* brush, const std::vector<uint32_t>& pairs) {
  qvBitMapLock lock;
  if (!LockBitMap(brush->bitmap, &lock)) return ERR_LOCKBMAP;
  if (lock.bytesPerPixel == 4 && !pairs.empty()) {
    uint32_t channels = ColourChannels(lock.format);
    // The kernel's list ends at an old word of all bits set: a converted colour never is one,
    // since the channel mask clears one byte.
    std::vector<uint32_t> converted;
    try {
      converted.reserve(pairs.size() + 2);
    } catch (const std::bad_alloc&) {
      UnLockBitMap(&lock);
      return ERR_MEM;
    }
    for (size_t i = 0; i + 1 < pairs.size(); i += 2) {
      converted.push_back(ColorToPixelFormat(pairs[i] & 0xFFFFFF, lock.format) & channels);
      converted.push_back(ColorToPixelFormat(pairs[i + 1] & 0xFFFFFF, lock.format) & channels);
    }
    converted.push_back(0xFFFFFFFFu);
    converted.push_back(0);
    ReplaceColorsKernel(std::min(lock.width, brush->width), std::min(lock.height, brush->height),
                        converted.data(), reinterpret_cast<uint32_t*>(lock.pixels),
                        lock.pixelsPerRow, channels);
  }
  UnLockBitMap(&lock);
  return 0;
}

int MixBrushInto(qvBrush* brush, const qvBrush* source, int32_t level) {
  int32_t width = std::min(brush->width, source->width);
  int32_t height = std::min(brush->height, source->height);
  return MixBitMaps(brush->bitmap, source->bitmap, source->mask, 0, 0, 0, 0, width, height, level,
                    source->alpha, width, height);
}

int CropBrushTo(qvBrush* brush, int32_t x, int32_t y, int32_t width, int32_t height) {
  if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
  if (x < 0 || y < 0) return ERR_NEGCOORDS;
  if (x >= brush->width || y >= brush->height) return ERR_COORDSRANGE;
  width = int32_t(std::min<int64_t>(width, int64_t{brush->width} - x));
  height = int32_t(std::min<int64_t>(height, int64_t{brush->height} - y));
  qvBitMap* bitmap = nullptr;
  qvPlane* mask = nullptr;
  qvPlane* alpha = nullptr;
  int code = CopyBitMapRegion(brush->bitmap, brush->mask, brush->alpha, x, y, width, height, false,
                              &bitmap, &mask, &alpha);
  if (code != 0) return code;
  SetBrushPlanes(brush, bitmap, mask, alpha, width, height);
  return 0;
}

int FindVisibleBox(const qvBrush* brush, int32_t* x, int32_t* y, int32_t* width, int32_t* height) {
  int32_t left = brush->width, right = -1, top = brush->height, bottom = -1;
  for (int32_t row = 0; row < brush->height; ++row) {
    for (int32_t col = 0; col < brush->width; ++col) {
      bool visible = true;
      if (brush->mask != nullptr) {
        visible = MaskBitAt(brush->mask, col, row);
      } else if (brush->alpha != nullptr) {
        visible = Row(brush->alpha, row)[col] != 0;
      }
      if (!visible) continue;
      left = std::min(left, col);
      right = std::max(right, col);
      top = std::min(top, row);
      bottom = row;
    }
  }
  if (right < 0) return ERR_TRANSBRUSH;
  *x = left;
  *y = top;
  *width = right - left + 1;
  *height = bottom - top + 1;
  return 0;
}

int TrimBrushToVisible(qvBrush* brush, int32_t* x, int32_t* y, int32_t* width, int32_t* height) {
  int code = FindVisibleBox(brush, x, y, width, height);
  if (code != 0) return code;
  if (*width == brush->width && *height == brush->height) return 0;
  return CropBrushTo(brush, *x, *y, *width, *height);
}

int KeyBrushColour(qvBrush* brush, uint32_t colour) {
  qvPlane* mask = CreateColorKeyMask(brush->bitmap, brush->width, brush->height, colour & 0xFFFFFF);
  if (mask == nullptr) return ERR_MEM;
  FreeMaskOrAlpha(brush->mask);
  FreeMaskOrAlpha(brush->alpha);
  brush->mask = mask;
  brush->alpha = nullptr;
  brush->transparentColour = static_cast<int32_t>(colour & 0xFFFFFF);
  return 0;
}

int ChangeBrushTransparencyKind(qvBrush* brush, int32_t kind) {
  const int32_t w = brush->width, h = brush->height;
  switch (kind) {
    case kObjectMask: {
      if (brush->mask != nullptr) return 0;
      qvPlane* mask = AllocMask(w, h, true);
      if (mask == nullptr) return ERR_MEM;
      if (brush->alpha != nullptr) {
        AlphaToMaskRect rect{0, 0, 0, 0, w, h};
        AlphaToMaskKernel(brush->alpha->data, mask->data, brush->alpha->bytesPerRow,
                          mask->bytesPerRow, 0, rect);
        FreeMaskOrAlpha(brush->alpha);
        brush->alpha = nullptr;
      } else {
        FillPlaneRect(mask, 0, 0, w, h, 0);
      }
      brush->mask = mask;
      return 0;
    }
    case kObjectAlphaChannel: {
      if (brush->alpha != nullptr) return 0;
      // Expanded from the mask (set bits 255, clear bits 0), or 255 everywhere.
      qvPlane* alpha = nullptr;
      qvPlane* mask = brush->mask;
      int code = ApplyTransparencyToAlpha(&alpha, &mask, w, h, 255);
      if (code != 0) return code;
      brush->mask = mask;
      brush->alpha = alpha;
      return 0;
    }
    case kTransparencyNone:
      FreeMaskOrAlpha(brush->mask);
      FreeMaskOrAlpha(brush->alpha);
      brush->mask = brush->alpha = nullptr;
      return 0;
    default:
      return ERR_WRONGUSAGE;
  }
}

int InvertBrushMask(qvBrush* brush) {
  if (brush->mask == nullptr) return ERR_WRONGUSAGE;
  InvertBytesKernel(brush->mask->data, brush->height, brush->mask->bytesPerRow);
  return 0;
}

int InvertBrushAlpha(qvBrush* brush) {
  if (brush->alpha == nullptr) return ERR_WRONGUSAGE;
  InvertBytesKernel(brush->alpha->data, brush->height, brush->alpha->bytesPerRow);
  return 0;
}

int FloodFillBrush(qvBrush* brush, int32_t x, int32_t y, uint32_t border, uint32_t fill) {
  qvBitMapLock lock;
  if (!LockBitMap(brush->bitmap, &lock)) return ERR_LOCKBMAP;
  int code = 0;
  if (lock.bytesPerPixel == 4) {
    FloodFillRecord r{};
    r.pixels = reinterpret_cast<uint32_t*>(lock.pixels);
    r.areaWidth = std::min(lock.width, brush->width);
    r.areaHeight = std::min(lock.height, brush->height);
    r.pixelsPerRow = lock.pixelsPerRow;
    r.border = ColorToPixelFormat(border & 0xFFFFFF, lock.format);
    r.fill = ColorToPixelFormat(fill & 0xFFFFFF, lock.format);
    code = FloodFillKernel(r, x, y, ColourChannels(lock.format));
  }
  UnLockBitMap(&lock);
  return code;
}

int RasterizeVectorBrush(qvBrush* brush) {
  if (brush->kind != kBrushVector) return ERR_WRONGUSAGE;
  brush->kind = kBrushRaster;
  brush->transformed = 0;
  ReleasePixelBuffer(brush->pixelBuffer);
  brush->pixelBuffer = nullptr;
  return 0;
}

int ReadBrushWords(const qvBrush* brush, bool withAlpha, std::vector<uint32_t>* words) {
  qvBitMapLock lock;
  if (!LockBitMap(brush->bitmap, &lock)) return ERR_LOCKBMAP;
  const int32_t w = std::min(brush->width, lock.width), h = std::min(brush->height, lock.height);
  try {
    words->assign(size_t(w) * size_t(h), 0);
  } catch (const std::bad_alloc&) {
    UnLockBitMap(&lock);
    return ERR_MEM;
  }
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      uint32_t word = ReadBitMapPixel(brush->bitmap, x, y) & 0xFFFFFF;
      if (withAlpha) {
        uint32_t a = 255;
        if (brush->alpha != nullptr) {
          a = Row(brush->alpha, y)[x];
        } else if (brush->mask != nullptr) {
          a = MaskBitAt(brush->mask, x, y) ? 255 : 0;
        }
        word |= a << 24;
      }
      (*words)[size_t(y) * size_t(w) + size_t(x)] = word;
    }
  }
  UnLockBitMap(&lock);
  return 0;
}

int BuildBrushFromWords(qvObjectId* id, bool automatic, const std::vector<uint32_t>& words,
                        int32_t width, int32_t height, bool withAlpha, int64_t transparentColour,
                        qvBrush** out) {
  if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
  if (withAlpha && transparentColour != -1) return ERR_MASKNALPHA;
  if (words.size() < size_t(width) * size_t(height)) return ERR_WRONGUSAGE;
  qvBitMap* bitmap = AllocBitMap(width, height);
  qvPlane* alpha = withAlpha ? AllocAlphaChannel(width, height, true) : nullptr;
  if (bitmap == nullptr || (withAlpha && alpha == nullptr)) {
    FreeBitMap(bitmap);
    FreeMaskOrAlpha(alpha);
    return ERR_MEM;
  }
  qvBitMapLock lock;
  if (!LockBitMap(bitmap, &lock)) {
    FreeBitMap(bitmap);
    FreeMaskOrAlpha(alpha);
    return ERR_LOCKBMAP;
  }
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = lock.pixels + size_t(y) * size_t(lock.pixelsPerRow) * size_t(lock.bytesPerPixel);
    for (int32_t x = 0; x < width; ++x) {
      uint32_t word = words[size_t(y) * size_t(width) + size_t(x)];
      const uint8_t rgb[3] = {uint8_t(word >> 16), uint8_t(word >> 8), uint8_t(word)};
      ConvertPixels(rgb, row + size_t(x) * size_t(lock.bytesPerPixel), lock.format);
      if (alpha != nullptr) Row(alpha, y)[x] = uint8_t(word >> 24);
    }
  }
  UnLockBitMap(&lock);
  qvPlane* mask = nullptr;
  int32_t key = kNoTransparentColour;
  if (transparentColour != -1) {
    key = static_cast<int32_t>(transparentColour & 0xFFFFFF);
    mask = CreateColorKeyMask(bitmap, width, height, uint32_t(key));
    if (mask == nullptr) {
      FreeBitMap(bitmap);
      return ERR_MEM;
    }
  }
  return AddRasterBrush(id, automatic, width, height, bitmap, key, mask, alpha, out);
}

int GrabDesktopBrush(qvObjectId* id, bool automatic, int32_t x, int32_t y, int32_t width,
                     int32_t height, qvBrush** out) {
  if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
  qvBitMap* bitmap = AllocBitMap(width, height);
  if (bitmap == nullptr) return ERR_MEM;
  GrabScreen(x, y, width, height, reinterpret_cast<uint32_t*>(bitmap->pixels),
             bitmap->bytesPerRow / 4);
  return AddRasterBrush(id, automatic, width, height, bitmap, kNoTransparentColour, nullptr,
                        nullptr, out);
}

int ConvertObjectToBrush(qvScriptState* L, int32_t sourceType, qvObjectId sourceId,
                         qvObjectId* newId, bool automatic, int32_t frame, qvBrush** out) {
  if (sourceType == kObjectBrush && !automatic && sourceId.handle == nullptr &&
      sourceId.number == newId->number) {
    return ERR_WRONGUSAGE;
  }
  if (!automatic) {
    int code = ReleaseBrushId(L, *newId, false);
    if (code != 0) return code;
  }
  const qvBitMap* bitmap = nullptr;
  const qvPlane* mask = nullptr;
  const qvPlane* alpha = nullptr;
  int32_t width = 0, height = 0, key = kNoTransparentColour;
  switch (sourceType) {
    case kObjectBGPic: {
      qvBGPic* bgpic = nullptr;
      int code = FindBGPic(L, sourceId, &bgpic, 0);
      if (code != 0) return code;
      bitmap = bgpic->scaled.bitmap;
      mask = bgpic->scaled.mask;
      alpha = bgpic->scaled.alpha;
      width = bgpic->scaledWidth;
      height = bgpic->scaledHeight;
      key = bgpic->transparentColour;
      break;
    }
    case kObjectBrush: {
      qvBrush* brush = nullptr;
      int code = FindBrush(L, sourceId, &brush, kFindHardware);
      if (code != 0) return code;
      bitmap = brush->bitmap;
      mask = brush->mask;
      alpha = brush->alpha;
      width = brush->width;
      height = brush->height;
      key = brush->transparentColour;
      break;
    }
    // The objects whose subsystems do not convert yet: not found, as their finders say.
    case kObjectAnim:
      SetErrorNumber(sourceId.number);
      return sourceId.handle != nullptr ? ERR_FINDARRAY : ERR_FINDANIM;
    case kObjectTextObject:
      SetErrorNumber(sourceId.number);
      return sourceId.handle != nullptr ? ERR_FINDARRAY : ERR_FINDTEXTOBJECT;
    case kObjectSprite: {
      qvSprite* sprite = nullptr;
      int code = FindSprite(L, sourceId, &sprite, 0);
      if (code != 0) return code;
      // Frames count from 1 here.
      if (frame < 1 || frame > sprite->frames) return ERR_ANIMFRAME;
      qvBitMap* b = nullptr;
      qvPlane* m = nullptr;
      qvPlane* a = nullptr;
      GetSpriteFrameBitMaps(sprite, frame - 1, &b, &m, &a);
      bitmap = b;
      mask = m;
      alpha = a;
      width = sprite->width;
      height = sprite->height;
      key = sprite->transparentColour;
      break;
    }
    case kObjectLayer:
      return ERR_NOLAYERS;
    default:
      return ERR_WRONGUSAGE;
  }
  if (bitmap == nullptr || width < 1 || height < 1) return ERR_WRONGUSAGE;
  qvBitMap* b = nullptr;
  qvPlane* m = nullptr;
  qvPlane* a = nullptr;
  int code = CopyBitMapRegion(bitmap, mask, alpha, 0, 0, width, height, false, &b, &m, &a);
  if (code != 0) return code;
  return AddRasterBrush(newId, automatic, width, height, b, key, m, a, out);
}

int ResolvePreloadedBrushes() {
  for (qvObjectHeader* h = *BrushListHead(); h != nullptr; h = h->next) {
    auto* brush = reinterpret_cast<qvBrush*>(h);
    qvPixelBuffer* buffer = brush->pixelBuffer;
    if (buffer == nullptr) continue;
    int32_t x = std::max(brush->sourceX, 0), y = std::max(brush->sourceY, 0);
    int32_t width = brush->sourceWidth > 0 ? brush->sourceWidth : brush->width;
    int32_t height = brush->sourceHeight > 0 ? brush->sourceHeight : brush->height;
    if (width < 1 || height < 1 || buffer->pixels == nullptr || x >= buffer->rowWidth) {
      return ERR_WRONGUSAGE;
    }
    width = std::min(width, buffer->rowWidth - x);
    const uint32_t* first = buffer->pixels + size_t(y) * size_t(buffer->rowWidth) + size_t(x);
    int64_t key = brush->transparentColour == kNoTransparentColour ||
                          uint32_t(brush->transparentColour) == kAllocBrushMaskColour
                      ? -1
                      : int64_t{brush->transparentColour & 0xFFFFFF};
    qvBitMap* bitmap = nullptr;
    qvPlane* mask = nullptr;
    int code = AllocBitMapFromARGB(first, key, width, height, buffer->rowWidth, &bitmap, &mask);
    if (code != 0) return code;
    // An alpha channel the loader split off belongs to the whole picture: it stays only when the
    // brush is the whole picture.
    qvPlane* alpha = brush->alpha;
    if (alpha != nullptr && (alpha->width != width || alpha->height != height)) alpha = nullptr;
    SetBrushPlanes(brush, bitmap, mask, alpha, width, height);
    if (brush->kind != kBrushVector) {
      ReleasePixelBuffer(buffer);
      brush->pixelBuffer = nullptr;
    }
  }
  return 0;
}

}  // namespace qv
