// Brushes from picture files: the picture loader that wraps the pixels in a shared buffer and
// splits the alpha channel off, loading a picture (or a part of it) into a brush, and single
// brush pixels.
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/errors.h"
#include "core/plugins.h"
#include "display/display.h"
#include "image/picture.h"

namespace qv {

namespace {

bool InsideBrush(const qvBrush* brush, int32_t x, int32_t y) {
  return x >= 0 && y >= 0 && x < brush->width && y < brush->height;
}

uint8_t* MaskByte(const qvPlane* mask, int32_t x, int32_t y) {
  return mask->data + static_cast<size_t>(y) * mask->bytesPerRow + static_cast<size_t>(x >> 3);
}

uint8_t* AlphaByte(const qvPlane* alpha, int32_t x, int32_t y) {
  return alpha->data + static_cast<size_t>(y) * alpha->bytesPerRow + static_cast<size_t>(x);
}

// The brush's alpha channel for the part at (x, y): the loaded one cut out (scaled by the global
// alpha when one is given), or one filled with the global alpha. Null with *code set on failure.
qvPlane* PartAlpha(const qvPlane* loaded, int32_t x, int32_t y, int32_t width, int32_t height,
                   int32_t globalAlpha, int* code) {
  qvPlane* alpha = AllocAlphaChannel(width, height, false);
  if (alpha == nullptr) {
    *code = ERR_MEM;
    return nullptr;
  }
  for (int32_t row = 0; row < height; ++row) {
    uint8_t* out = AlphaByte(alpha, 0, row);
    if (loaded == nullptr) {
      std::memset(out, globalAlpha, static_cast<size_t>(width));
      continue;
    }
    std::memcpy(out, AlphaByte(loaded, x, y + row), static_cast<size_t>(width));
    if (globalAlpha >= 0) {
      for (int32_t i = 0; i < width; ++i) out[i] = static_cast<uint8_t>(out[i] * globalAlpha / 255);
    }
  }
  return alpha;
}

// Checks the part rectangle against the picture and fills in a size of 0 as the rest.
int ResolvePart(const qvBrushLoadOptions& o, int32_t pictureWidth, int32_t pictureHeight,
                int32_t* width, int32_t* height) {
  if (o.x < 0 || o.y < 0) return ERR_NEGCOORDS;
  if (o.x >= pictureWidth || o.y >= pictureHeight) return ERR_COORDSRANGE;
  if (o.width < 0 || o.height < 0) return ERR_BADDIMENSIONS;
  *width = o.width != 0 ? o.width : pictureWidth - o.x;
  *height = o.height != 0 ? o.height : pictureHeight - o.y;
  if (int64_t{o.x} + *width > pictureWidth || int64_t{o.y} + *height > pictureHeight) {
    return ERR_COORDSRANGE;
  }
  return 0;
}

// Asks every image plugin in list order to load the file; the first image handle wins. True with
// the buffer holding the plugin's image and pixels, the facts, the kind flag and the load-alpha
// flag turned on when the plugin forces alpha.
bool LoadPictureViaPlugins(const char* name, qvPixelBuffer* buffer, qvPictureFacts* facts,
                           int32_t* kindFlag, bool* loadAlpha) {
  for (const qvPluginRecord* r = FirstPluginRecord(); r != nullptr; r = r->next) {
    if (r->handle == nullptr || (r->handle->capabilities & QV_CAP_IMAGE) == 0) continue;
    const qvPluginInfo* info = r->handle->info;
    qvImageFacts f{};
    void* image = info->loadImage(name, &f);
    if (image == nullptr) continue;
    const qvImageFacts loaded = f;
    uint32_t* pixels = info->getImage(image, &f);
    // A plugin's picture that cannot be read as it describes it counts as a refusal; so does one
    // whose pixels claim another size than the load did, as the buffer may be only that big.
    if (pixels == nullptr || f.width <= 0 || f.height <= 0 || f.pixelsPerRow < f.width ||
        f.width != loaded.width || f.height != loaded.height) {
      info->freeImage(image);
      continue;
    }
    buffer->plugin = info;
    buffer->image = image;
    buffer->pixels = pixels;
    buffer->rowWidth = f.pixelsPerRow;
    facts->width = f.width;
    facts->height = f.height;
    facts->alpha = f.alpha != 0 ? 1 : 0;
    facts->transparentColour = -1;
    *kindFlag = f.kind == 1 ? 1 : 0;
    if (f.forceAlpha != 0) *loadAlpha = true;
    return true;
  }
  return false;
}

}  // namespace

int LoadPictureWithPlugins(const char* name, const qvIlbmRequest* ilbm, bool loadAlpha,
                           qvLoadedPicture* out, uint32_t** palette) {
  auto* buffer = new (std::nothrow) qvPixelBuffer{1, nullptr, 0, nullptr, nullptr};
  if (buffer == nullptr) return ERR_MEM;
  qvPictureFacts facts;
  int32_t kindFlag = 0;
  // The image plugins first, in list order: one that takes the file wins over every built-in
  // reader, whatever the file's name says.
  bool bitmapRows = false;
  if (!LoadPictureViaPlugins(name, buffer, &facts, &kindFlag, &loadAlpha)) {
    qvIlbmRequest request = ilbm != nullptr ? *ilbm : qvIlbmRequest{};
    request.wantPalette = palette != nullptr;
    int code = LoadPictureForBitMap(name, &request, &buffer->pixels, &facts);
    if (code != 0) {
      ReleasePixelBuffer(buffer);
      return code;
    }
    buffer->rowWidth = facts.wordsPerRow;
    bitmapRows = facts.wordsPerRow == BitMapWordsPerRow(facts.width);
  }
  int code = 0;
  qvPlane* alpha = nullptr;
  if (loadAlpha) {
    code = !facts.alpha ? ERR_NOALPHA : 0;
    if (code == 0) {
      alpha = AllocAlphaChannel(facts.width, facts.height, false);
      if (alpha == nullptr) code = ERR_MEM;
    }
    if (code != 0) {
      std::free(facts.palette);
      ReleasePixelBuffer(buffer);
      return code;
    }
    ExtractAlphaKernel(buffer->pixels, facts.width, facts.height, buffer->rowWidth, alpha->data,
                       alpha->bytesPerRow);
  }
  *out = {buffer,           alpha,       facts.width, facts.height,
          buffer->rowWidth, facts.alpha, kindFlag,    facts.transparentColour,
          bitmapRows};
  if (palette != nullptr) *palette = facts.palette;
  return 0;
}

int LoadPictureOrCached(const char* file, const char* cachedName, bool loadAlpha, bool keepAlpha,
                        const qvIlbmRequest* ilbm, qvLoadedPicture* out) {
  if (cachedName == nullptr) {
    // A brush keeps no palette: only a BGPic's loader keeps one (for GetPen).
    return LoadPictureWithPlugins(file, ilbm, keepAlpha, out, nullptr);
  }
  qvCachedImage cached{};
  int code = FindCachedImage(cachedName, loadAlpha, &cached);
  if (code != 0) return code;
  *out = {cached.buffer,
          cached.alpha,
          cached.width,
          cached.height,
          cached.buffer->rowWidth,
          cached.word1,
          0,
          -1,
          false};
  return 0;
}

int LoadBrushFromFile(qvScriptState* L, qvObjectId* id, bool automatic, const char* file,
                      const qvBrushLoadOptions& o, qvBrush** out) {
  if (o.transparentColour != -1 && (o.loadAlpha || o.globalAlpha != -1)) return ERR_MASKNALPHA;
  if (o.globalAlpha < -1 || o.globalAlpha > 255) return ERR_WRONGUSAGE;
  // With "loadalpha" the brush's own alpha channel goes into the cache; "cachealpha" asks for it
  // when the brush takes none.
  const bool keepAlpha = o.loadAlpha || o.cacheAlpha;
  qvLoadedPicture picture{};
  int code = LoadPictureOrCached(file, o.cachedLoadName, o.loadAlpha, keepAlpha, &o.ilbm, &picture);
  if (code != 0) return code;
  qvBitMap* bitmap = nullptr;
  qvPlane* mask = nullptr;
  qvPlane* alpha = nullptr;
  int32_t width = 0;
  int32_t height = 0;
  if (o.cacheName != nullptr) {
    code = AddCachedImage(o.cacheName, picture.width, picture.height, picture.alphaFlag,
                          picture.buffer, keepAlpha ? picture.alpha : nullptr, 0);
  }
  if (code == 0) code = ResolvePart(o, picture.width, picture.height, &width, &height);
  // The colour the script gives keys the brush, else the one the picture's reader reports (an
  // ILBM stencil or transparent pen), unless an alpha channel is asked for.
  int64_t key = o.transparentColour;
  if (key == -1 && !o.loadAlpha && o.globalAlpha == -1) key = picture.transparentColour;
  // The whole picture, its pixels nobody else's: the brush's planes are the loaded ones, as
  // they are (a picture's pixels are as large as everything else the brush holds together).
  const bool whole = o.x == 0 && o.y == 0 && width == picture.width && height == picture.height;
  if (code == 0 && whole && picture.bitmapRows && picture.buffer->references == 1 &&
      picture.buffer->plugin == nullptr) {
    code = AdoptBitMapFromARGB(picture.buffer->pixels, key, width, height, &bitmap, &mask);
    if (code == 0) picture.buffer->pixels = nullptr;
  } else if (code == 0) {
    const uint32_t* corner = picture.buffer->pixels + static_cast<size_t>(o.y) * picture.rowWidth +
                             static_cast<size_t>(o.x);
    code = AllocBitMapFromARGB(corner, key, width, height, picture.rowWidth, &bitmap, &mask);
  }
  if (code == 0 && o.loadAlpha && o.globalAlpha == -1 && whole && picture.alpha != nullptr) {
    // The split-off channel is this load's own (the cache keeps a copy of its own).
    alpha = picture.alpha;
    picture.alpha = nullptr;
  } else if (code == 0 && (o.loadAlpha || o.globalAlpha != -1)) {
    alpha = PartAlpha(o.loadAlpha ? picture.alpha : nullptr, o.x, o.y, width, height, o.globalAlpha,
                      &code);
  }
  // A plugin's vector picture stays with its brush, which asks the plugin to draw it again at
  // another size; any other picture is done with once the brush has its pixels.
  qvPixelBuffer* vector = nullptr;
  if (picture.kindFlag == 1 && picture.buffer->plugin != nullptr) {
    vector = picture.buffer;
  } else {
    ReleasePixelBuffer(picture.buffer);
  }
  FreeMaskOrAlpha(picture.alpha);
  // The id is given up only now, so that a picture that fails to load leaves the old brush.
  if (code == 0 && !automatic) code = ReleaseBrushId(L, *id, false);
  qvBrush* brush = nullptr;
  if (code == 0) {
    int32_t brushKey = key == -1 ? kNoTransparentColour : static_cast<int32_t>(key & 0xFFFFFF);
    code = AddBrush(id, automatic, vector != nullptr ? kBrushVector : kBrushRaster, width, height,
                    width, 0, vector, bitmap, brushKey, mask, alpha, &brush);
  }
  if (code != 0) {
    ReleasePixelBuffer(vector);
    FreeBitMap(bitmap);
    FreeMaskOrAlpha(mask);
    FreeMaskOrAlpha(alpha);
    return code;
  }
  brush->sourceX = o.x;
  brush->sourceY = o.y;
  brush->sourceWidth = width;
  brush->sourceHeight = height;
  if (out != nullptr) *out = brush;
  return 0;
}

bool ReadBrushPixelAt(const qvBrush* brush, int32_t x, int32_t y, uint32_t* colour,
                      int32_t* second) {
  if (!InsideBrush(brush, x, y)) return false;
  *colour = ReadBitMapPixel(brush->bitmap, x, y) & 0xFFFFFF;
  if (brush->mask != nullptr) {
    *second = (*MaskByte(brush->mask, x, y) & (0x80 >> (x & 7))) != 0 ? 1 : 0;
  } else if (brush->alpha != nullptr) {
    *second = *AlphaByte(brush->alpha, x, y);
  } else {
    *second = -1;
  }
  return true;
}

void WriteBrushPixelAt(qvBrush* brush, int32_t x, int32_t y, uint32_t colour, int32_t alpha) {
  if (!InsideBrush(brush, x, y)) return;
  WriteBitMapPixel(brush->bitmap, x, y, colour & 0xFFFFFF);
  if (alpha < 0) return;
  if (brush->mask != nullptr) {
    uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
    uint8_t* byte = MaskByte(brush->mask, x, y);
    *byte = alpha != 0 ? (*byte | bit) : (*byte & ~bit);
  } else if (brush->alpha != nullptr) {
    *AlphaByte(brush->alpha, x, y) = static_cast<uint8_t>(alpha);
  }
}

int TransformPluginPicture(void*, void* pixelBuffer, const qvPluginTransform& request,
                           qvBitMap** outBitmap, qvPlane** outAlpha) {
  auto* buffer = static_cast<qvPixelBuffer*>(pixelBuffer);
  if (buffer == nullptr || buffer->plugin == nullptr) return ERR_TFIMAGE;
  const qvPluginInfo* info = buffer->plugin;
  if (info->transformImage(buffer->image, request.transform, request.width, request.height) == 0) {
    return ERR_TFIMAGE;
  }
  qvImageFacts f{};
  uint32_t* pixels = info->getImage(buffer->image, &f);
  // The image now holds the new pixels: the buffer's pointer follows, the old one may be gone.
  buffer->pixels = pixels;
  buffer->rowWidth = f.pixelsPerRow;
  if (pixels == nullptr || f.width != request.width || f.height != request.height ||
      f.pixelsPerRow < f.width) {
    return ERR_TFIMAGE;
  }
  qvBitMap* bitmap = nullptr;
  qvPlane* noMask = nullptr;
  int code = AllocBitMapFromARGB(pixels, -1, f.width, f.height, f.pixelsPerRow, &bitmap, &noMask);
  if (code != 0) return code;
  FreeMaskOrAlpha(noMask);
  qvPlane* alpha = nullptr;
  if (f.alpha != 0) {
    alpha = AllocAlphaChannel(f.width, f.height, false);
    if (alpha == nullptr) {
      FreeBitMap(bitmap);
      return ERR_MEM;
    }
    ExtractAlphaKernel(pixels, f.width, f.height, f.pixelsPerRow, alpha->data, alpha->bytesPerRow);
  }
  *outBitmap = bitmap;
  *outAlpha = alpha;
  return 0;
}

}  // namespace qv
