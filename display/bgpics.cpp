// The BGPic list, its three plane sets (original, scaled, current) that may share planes, the
// background fills and the display buffers made from a BGPic.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/errors.h"
#include "core/layer_system.h"
#include "core/plugins.h"
#include "display/buttons.h"
#include "display/display.h"
#include "display/internal.h"
#include "display/sprites.h"

namespace qv {

namespace {

qvObjectHeader* gBGPics = nullptr;

bool SameId(const qvObjectHeader* header, qvObjectId id) {
  return header->id == id.number && header->handle == id.handle;
}

void SetAllPlaneSets(qvBGPic* bgpic, qvBitMap* bitmap, qvPlane* mask, qvPlane* alpha, int32_t width,
                     int32_t height) {
  bgpic->current = bgpic->scaled = bgpic->original = {bitmap, mask, alpha};
  bgpic->width = bgpic->scaledWidth = bgpic->originalWidth = width;
  bgpic->height = bgpic->scaledHeight = bgpic->originalHeight = height;
}

int CloneForLayers(qvScriptState* L, void* object, qvObjectHeader** clone) {
  qvObjectId id{0, nullptr};
  qvBGPic* copy = nullptr;
  int code = CopyBGPic(L, static_cast<qvBGPic*>(object), &id, true, &copy);
  if (code == 0) *clone = &copy->header;
  return code;
}

}  // namespace

bool BGPicShownByDisplay(const qvBGPic* bgpic) {
  for (qvObjectHeader* h = *DisplayListHead(); h != nullptr; h = h->next) {
    if (reinterpret_cast<qvDisplay*>(h)->bgpic == bgpic) return true;
  }
  return false;
}

// ---- shared helpers ----

void AppendToList(qvObjectHeader** head, qvObjectHeader* record) {
  record->next = nullptr;
  qvObjectHeader** link = head;
  while (*link != nullptr) link = &(*link)->next;
  *link = record;
}

bool UnlinkFromList(qvObjectHeader** head, qvObjectHeader* record) {
  for (qvObjectHeader** link = head; *link != nullptr; link = &(*link)->next) {
    if (*link == record) {
      *link = record->next;
      record->next = nullptr;
      return true;
    }
  }
  return false;
}

qvBitMap* CopyBitMap(const qvBitMap* bitmap, int32_t width, int32_t height) {
  qvBitMap* copy = AllocBitMap(width, height);
  if (copy != nullptr) BltBitMap(bitmap, 0, 0, copy, 0, 0, width, height);
  return copy;
}

int CopyPlanes(const qvBitMap* bitmap, const qvPlane* mask, const qvPlane* alpha, int32_t width,
               int32_t height, qvBitMap** outBitmap, qvPlane** outMask, qvPlane** outAlpha) {
  *outBitmap = nullptr;
  *outMask = *outAlpha = nullptr;
  qvBitMap* b = bitmap != nullptr ? CopyBitMap(bitmap, width, height) : nullptr;
  qvPlane* m = mask != nullptr ? AllocMask(width, height, true) : nullptr;
  qvPlane* a = alpha != nullptr ? AllocAlphaChannel(width, height, true) : nullptr;
  if ((bitmap != nullptr && b == nullptr) || (mask != nullptr && m == nullptr) ||
      (alpha != nullptr && a == nullptr)) {
    FreeBitMap(b);
    FreeMaskOrAlpha(m);
    FreeMaskOrAlpha(a);
    return ERR_MEM;
  }
  if (m != nullptr) BltPlane(mask, 0, 0, m, 0, 0, width, height, 2);
  if (a != nullptr) {
    for (int32_t row = 0; row < height; ++row) {
      std::memcpy(a->data + static_cast<size_t>(row) * a->bytesPerRow,
                  alpha->data + static_cast<size_t>(row) * alpha->bytesPerRow,
                  static_cast<size_t>(width));
    }
  }
  *outBitmap = b;
  *outMask = m;
  *outAlpha = a;
  return 0;
}

void RetainPixelBuffer(qvPixelBuffer* buffer) {
  if (buffer != nullptr) ++buffer->references;
}

void ReleasePixelBuffer(qvPixelBuffer* buffer) {
  if (buffer == nullptr || --buffer->references > 0) return;
  if (buffer->plugin != nullptr) {
    buffer->plugin->freeImage(buffer->image);
  } else {
    std::free(buffer->pixels);
  }
  delete buffer;
}

void InitGradientDefaults(qvGradient* gradient) {
  std::memset(gradient, 0, sizeof *gradient);
  gradient->type = kGradientLinear;
  gradient->centreX = gradient->centreY = gradient->balance = 0.5;
  gradient->border = 0.0;
}

// ---- records ----

qvObjectHeader** BGPicListHead() { return &gBGPics; }

void InitBGPicRecord(qvBGPic* record, int32_t kind, void* object, int32_t frame, qvObjectId id,
                     qvBitMap* bitmap, qvPlane* mask, qvPlane* alpha, int32_t width, int32_t height,
                     bool clear) {
  if (clear) {
    *record = qvBGPic{};
    InitList(&record->layers);
    InitGradientDefaults(&record->settings.gradient);
  }
  record->header.type = kObjectBGPic;
  record->header.id = id.number;
  record->header.handle = id.handle;
  record->objectKind = kind;
  record->object = object;
  record->frame = frame;
  record->transparentColour = kNoTransparentColour;
  SetAllPlaneSets(record, bitmap, mask, alpha, width, height);
  record->rowWidth = width;
  record->bound = 0;
}

int AddBGPic(qvObjectId* id, bool automatic, int32_t kind, int32_t width, int32_t height,
             int32_t rowWidth, qvPixelBuffer* pixelBuffer, qvBitMap* bitmap, void* ownedBlock,
             int32_t transparentColour, qvPlane* mask, qvPlane* alpha,
             const qvBackfillSettings* settings, qvBGPic** out) {
  auto* bgpic = new (std::nothrow) qvBGPic{};
  if (bgpic == nullptr) return ERR_MEM;
  InitList(&bgpic->layers);
  bgpic->header.type = kObjectBGPic;
  if (automatic) *id = {0, bgpic};
  bgpic->header.id = id->number;
  bgpic->header.handle = id->handle;
  bgpic->kind = kind;
  bgpic->rowWidth = rowWidth;
  bgpic->pixelBuffer = pixelBuffer;
  bgpic->ownedBlock = ownedBlock;
  bgpic->transparentColour = transparentColour;
  SetAllPlaneSets(bgpic, bitmap, mask, alpha, width, height);
  if (settings != nullptr) {
    bgpic->settings = *settings;
    bgpic->settings.textureCache = nullptr;  // each record owns its own cache
  } else {
    InitGradientDefaults(&bgpic->settings.gradient);
  }
  AppendToList(&gBGPics, &bgpic->header);
  if (out != nullptr) *out = bgpic;
  return 0;
}

int CreateColorBGPic(qvObjectId* id, bool automatic, int32_t width, int32_t height, uint32_t colour,
                     qvBGPic** out) {
  qvBitMap* bitmap = AllocBitMap(width, height);
  if (bitmap == nullptr) return ERR_MEM;
  FillBitMapRect(bitmap, 0, 0, width, height, colour);
  int code = AddBGPic(id, automatic, kBGPicPicture, width, height, width, nullptr, bitmap, nullptr,
                      kNoTransparentColour, nullptr, nullptr, nullptr, out);
  if (code != 0) FreeBitMap(bitmap);
  return code;
}

int FindBGPic(qvScriptState* L, qvObjectId id, qvBGPic** out, int32_t flags) {
  *out = nullptr;
  for (qvObjectHeader* h = gBGPics; h != nullptr; h = h->next) {
    if (!SameId(h, id)) continue;
    auto* bgpic = reinterpret_cast<qvBGPic*>(h);
    if (bgpic->layerCopy && !(flags & kFindLayerCopies)) continue;
    if ((flags & kFindModify) && bgpic->locked) return ERR_LOCKEDOBJ;
    if ((flags & kFindModify) && !(flags & kFindNoCopy)) {
      qvObjectHeader* clone = nullptr;
      int code = DetachFromLayers(L, kObjectBGPicPart, id, CloneForLayers, bgpic, &clone);
      if (code != 0) return code;
      if (clone != nullptr) reinterpret_cast<qvBGPic*>(clone)->layerCopy = 1;
    }
    *out = bgpic;
    return 0;
  }
  if (id.handle != nullptr) return ERR_FINDARRAY;
  SetErrorNumber(id.number);
  return ERR_FINDBGPIC;
}

void FreeBGPicBitMaps(qvBGPic* bgpic) {
  qvPlaneSet& o = bgpic->original;
  qvPlaneSet& s = bgpic->scaled;
  qvPlaneSet& c = bgpic->current;
  if (s.bitmap != o.bitmap) FreeBitMap(s.bitmap);
  if (s.mask != o.mask) FreeMaskOrAlpha(s.mask);
  if (s.alpha != o.alpha) FreeMaskOrAlpha(s.alpha);
  if (c.bitmap != o.bitmap && c.bitmap != s.bitmap) FreeBitMap(c.bitmap);
  if (c.mask != o.mask && c.mask != s.mask) FreeMaskOrAlpha(c.mask);
  if (c.alpha != o.alpha && c.alpha != s.alpha) FreeMaskOrAlpha(c.alpha);
  s = c = o;
}

void FreeBGPicRecord(qvScriptState* L, qvBGPic* bgpic) {
  // Layers belong to the layer system, which frees its nodes before the pictures go.
  FreeBGPicLayers(L, bgpic);
  FreeBGPicButtons(L, bgpic);
  FreeTargetSpriteEntries(bgpic);
  ReleasePixelBuffer(bgpic->pixelBuffer);
  FreeBGPicBitMaps(bgpic);
  FreeBitMap(bgpic->original.bitmap);
  FreeMaskOrAlpha(bgpic->original.mask);
  FreeMaskOrAlpha(bgpic->original.alpha);
  std::free(bgpic->ownedBlock);
  FreeBitMap(bgpic->settings.textureCache);
  FreeObjectData(L, &bgpic->header);
  delete bgpic;
}

int DeleteBGPicNode(qvScriptState* L, qvObjectId id, bool mustExist) {
  if (IsSelectedOutput(kObjectBGPic, id)) return ERR_MODIFYABGPIC;
  qvBGPic* bgpic = nullptr;
  int code = FindBGPic(L, id, &bgpic, kFindModify | kFindNoCopy);
  if (code != 0) return (mustExist || code == ERR_LOCKEDOBJ) ? code : 0;
  bool layers = RepointLayers(kObjectBGPicPart, id, bgpic);
  if (layers || BGPicShownByDisplay(bgpic)) {
    bgpic->header.id = 0;
    bgpic->header.handle = bgpic;
    bgpic->layerCopy = 1;
    return 0;
  }
  UnlinkFromList(&gBGPics, &bgpic->header);
  FreeBGPicRecord(L, bgpic);
  return 0;
}

void FreeAllBGPics(qvScriptState* L) {
  while (gBGPics != nullptr) {
    auto* bgpic = reinterpret_cast<qvBGPic*>(gBGPics);
    gBGPics = bgpic->header.next;
    FreeBGPicRecord(L, bgpic);
  }
}

int CopyBGPic(qvScriptState* L, const qvBGPic* source, qvObjectId* id, bool automatic,
              qvBGPic** out) {
  qvBitMap* bitmap = nullptr;
  qvPlane* mask = nullptr;
  qvPlane* alpha = nullptr;
  int code = CopyPlanes(source->original.bitmap, source->original.mask, source->original.alpha,
                        source->originalWidth, source->originalHeight, &bitmap, &mask, &alpha);
  if (code != 0) return code;
  qvObjectDataItem* data = nullptr;
  code = CopyObjectDataList(L, source->header.data, &data);
  qvBGPic* copy = nullptr;
  if (code == 0) {
    code = AddBGPic(id, automatic, source->kind, source->originalWidth, source->originalHeight,
                    source->rowWidth, source->pixelBuffer, bitmap, nullptr,
                    source->transparentColour, mask, alpha, &source->settings, &copy);
  }
  if (code == 0) copy->transformed = source->transformed;
  if (code != 0) {
    FreeRefList(L, data);
    FreeBitMap(bitmap);
    FreeMaskOrAlpha(mask);
    FreeMaskOrAlpha(alpha);
    return code;
  }
  RetainPixelBuffer(copy->pixelBuffer);
  copy->header.data = data;
  if (out != nullptr) *out = copy;
  return 0;
}

// ---- backgrounds ----

bool FillLeavesZero(const qvBackfillSettings& settings) {
  return settings.fillStyle == kFillColour && ColorToPixelFormat(settings.colour, kPixARGB32) == 0;
}

int FillBackground(qvScriptState* L, qvBitMap* bitmap, int32_t width, int32_t height,
                   qvBackfillSettings* settings) {
  switch (settings->fillStyle) {
    case kFillColour:
      FillBitMapRect(bitmap, 0, 0, width, height, settings->colour);
      return 0;
    case kFillGradient:
      return DrawGradient(bitmap, 0, 0, width, height, &settings->gradient);
    case kFillTexture: {
      if (settings->textureCache == nullptr) {
        qvBrush* brush = nullptr;
        int code = FindBrush(L, settings->textureBrush, &brush, 0);
        if (code != 0) return code;
        settings->textureCache = CopyBitMap(brush->bitmap, brush->width, brush->height);
        if (settings->textureCache == nullptr) return ERR_MEM;
      }
      const qvBitMap* tile = settings->textureCache;
      TileBitMap(bitmap, 0, 0, width, height, tile, settings->textureX, settings->textureY,
                 tile->width, tile->height);
      return 0;
    }
    default:
      return 0;
  }
}

int CreateFilledBGPic(qvScriptState* L, qvObjectId* id, int32_t kind, int32_t width, int32_t height,
                      qvBackfillSettings* settings, qvBGPic** out) {
  // A black picture (the default display's) is fresh cleared memory: no page of it is touched
  // until something draws there.
  bool zero = FillLeavesZero(*settings);
  qvBitMap* bitmap = zero ? AllocClearedBitMap(width, height) : AllocBitMap(width, height);
  if (bitmap == nullptr) return ERR_MEM;
  int code = zero ? 0 : FillBackground(L, bitmap, width, height, settings);
  if (code == 0) {
    code = AddBGPic(id, true, kind, width, height, width, nullptr, bitmap, nullptr,
                    kNoTransparentColour, nullptr, nullptr, settings, out);
  }
  if (code != 0) FreeBitMap(bitmap);
  return code;
}

int RenderBackfill(qvScriptState* L, const uint32_t* pixels, qvBackfillSettings* settings,
                   int32_t transparentColour, int32_t width, int32_t height, int32_t rowWidth,
                   qvBitMap** outBitmap, qvPlane** outMask, qvPlane** outAlpha,
                   qvPlane* pictureAlpha) {
  *outBitmap = nullptr;
  *outMask = *outAlpha = nullptr;
  qvBitMap* picture = nullptr;
  qvPlane* pictureMask = nullptr;
  if (pixels != nullptr) {
    // A picture with an alpha channel is blended through it, never keyed.
    int64_t key = transparentColour == kNoTransparentColour || pictureAlpha != nullptr
                      ? -1
                      : (transparentColour & 0xFFFFFF);
    int code = AllocBitMapFromARGB(pixels, key, width, height, rowWidth, &picture, &pictureMask);
    if (code != 0) {
      FreeMaskOrAlpha(pictureAlpha);
      return code;
    }
    if (settings == nullptr || settings->fillStyle == kFillNone ||
        (pictureMask == nullptr && pictureAlpha == nullptr)) {
      *outBitmap = picture;
      *outMask = pictureMask;
      *outAlpha = pictureAlpha;
      return 0;
    }
  }
  qvBitMap* bitmap = AllocBitMap(width, height);
  int code = bitmap != nullptr ? 0 : ERR_MEM;
  if (code == 0 && settings != nullptr) code = FillBackground(L, bitmap, width, height, settings);
  if (code == 0 && picture != nullptr) {
    if (pictureAlpha != nullptr) {
      BltAlphaBitMap(picture, 0, 0, bitmap, 0, 0, width, height, pictureAlpha);
    } else {
      BltMaskBitMap(picture, 0, 0, bitmap, 0, 0, width, height, pictureMask);
    }
  }
  FreeBitMap(picture);
  FreeMaskOrAlpha(pictureMask);
  FreeMaskOrAlpha(pictureAlpha);
  if (code != 0) {
    FreeBitMap(bitmap);
    return code;
  }
  *outBitmap = bitmap;
  return 0;
}

int ResolvePreloadedBGPics(qvScriptState* L) {
  for (qvObjectHeader* h = gBGPics; h != nullptr; h = h->next) {
    auto* bgpic = reinterpret_cast<qvBGPic*>(h);
    if (bgpic->pixelBuffer == nullptr) continue;
    qvBitMap* bitmap = nullptr;
    qvPlane* mask = nullptr;
    qvPlane* alpha = nullptr;
    int code = RenderBackfill(L, bgpic->pixelBuffer->pixels, &bgpic->settings,
                              bgpic->transparentColour, bgpic->originalWidth, bgpic->originalHeight,
                              bgpic->rowWidth, &bitmap, &mask, &alpha);
    if (code != 0) return code;
    FreeMaskOrAlpha(mask);  // the fill shows through: the result stands without a mask
    FreeMaskOrAlpha(alpha);
    FreeBGPicBitMaps(bgpic);
    FreeBitMap(bgpic->original.bitmap);
    FreeMaskOrAlpha(bgpic->original.mask);
    FreeMaskOrAlpha(bgpic->original.alpha);
    if (bgpic->kind != kBGPicGenerated) {
      ReleasePixelBuffer(bgpic->pixelBuffer);
      bgpic->pixelBuffer = nullptr;
    }
    SetAllPlaneSets(bgpic, bitmap, nullptr, nullptr, bgpic->originalWidth, bgpic->originalHeight);
    bgpic->objectKind = 0;
    bgpic->object = nullptr;
    bgpic->frame = 0;
    bgpic->bound = 0;
  }
  return 0;
}

int RenderBGPicAtSize(qvScriptState* L, int32_t kind, const qvBitMap* bitmap, const qvPlane* mask,
                      const qvPlane* alpha, qvPixelBuffer* pixelBuffer, int32_t width,
                      int32_t height, qvBackfillSettings* settings, int32_t newWidth,
                      int32_t newHeight, bool smooth, qvBitMap** outBitmap, qvPlane** outMask,
                      qvPlane** outAlpha) {
  *outBitmap = nullptr;
  *outMask = *outAlpha = nullptr;
  if (newWidth < 1 || newHeight < 1 || width < 1 || height < 1) return ERR_BADDIMENSIONS;
  if (kind == kBGPicGenerated && pixelBuffer == nullptr) {
    // A gradient or texture is generated again: scaling it would blur what was exact.
    return RenderBackfill(L, nullptr, settings, kNoTransparentColour, newWidth, newHeight, newWidth,
                          outBitmap, outMask, outAlpha);
  }
  if (kind == kBGPicGenerated) {
    // The plugin that made the picture draws it again at the new size.
    qvPluginTransform request{};
    request.transform[0] = static_cast<double>(newWidth) / width;
    request.transform[3] = static_cast<double>(newHeight) / height;
    request.width = newWidth;
    request.height = newHeight;
    request.smooth = smooth;
    return TransformPluginPicture(nullptr, pixelBuffer, request, outBitmap, outAlpha);
  }
  int code = ScaleBitMap(bitmap, mask, alpha, 0, 0, nullptr, width, height, newWidth, newHeight,
                         smooth, outBitmap, outMask, outAlpha);
  if (code == 0 && *outBitmap == nullptr) {
    FreeMaskOrAlpha(*outMask);
    FreeMaskOrAlpha(*outAlpha);
    *outMask = *outAlpha = nullptr;
    code = ERR_MEM;
  }
  return code;
}

int ResizeBGPic(qvScriptState* L, qvBGPic* bgpic, int32_t width, int32_t height, bool smooth) {
  if (bgpic->width == width && bgpic->height == height && bgpic->current.bitmap != nullptr) {
    return 0;
  }
  qvBitMap* bitmap = nullptr;
  qvPlane* mask = nullptr;
  qvPlane* alpha = nullptr;
  const qvPlaneSet& o = bgpic->original;
  int code = RenderBGPicAtSize(L, bgpic->kind, o.bitmap, o.mask, o.alpha, bgpic->pixelBuffer,
                               bgpic->originalWidth, bgpic->originalHeight, &bgpic->settings, width,
                               height, smooth, &bitmap, &mask, &alpha);
  if (code != 0) return code;
  FreeBGPicBitMaps(bgpic);
  FreeBitMap(bgpic->original.bitmap);
  FreeMaskOrAlpha(bgpic->original.mask);
  FreeMaskOrAlpha(bgpic->original.alpha);
  SetAllPlaneSets(bgpic, bitmap, mask, alpha, width, height);
  bgpic->rowWidth = width;
  if (bgpic->kind == kBGPicGenerated && bgpic->pixelBuffer != nullptr) bgpic->transformed = 1;
  return 0;
}

void PurgeDetachedBGPics(qvScriptState* L) {
  for (qvObjectHeader** link = &gBGPics; *link != nullptr;) {
    auto* bgpic = reinterpret_cast<qvBGPic*>(*link);
    qvObjectId id{bgpic->header.id, bgpic->header.handle};
    // Every display's background stays, not only the current one's: a display still points at it.
    if (bgpic->layerCopy && !IsShownByLayer(kObjectBGPicPart, id, nullptr) &&
        !BGPicShownByDisplay(bgpic)) {
      *link = bgpic->header.next;
      FreeBGPicRecord(L, bgpic);
    } else {
      link = &bgpic->header.next;
    }
  }
}

// ---- display buffers ----

int AllocDisplayBuffers(qvDisplay* display, qvBGPic* bgpic, bool reallocate, bool blankPicture) {
  // Bitmaps of the size asked for are filled again in place: switching between BGPics of one
  // size then allocates nothing.
  const qvBitMap* shown = display->displayBitmap;
  bool fresh = shown == nullptr ||
               (reallocate && (shown->width != bgpic->width || shown->height != bgpic->height ||
                               display->windowBitmap == nullptr));
  if (fresh) {
    auto alloc = blankPicture ? AllocClearedBitMap : AllocBitMap;
    qvBitMap* d = alloc(bgpic->width, bgpic->height);
    qvBitMap* w = nullptr;
    // The window-size bitmap is where layers are composed; with auto scaling the refresh
    // stretches it, so it keeps the picture's size.
    if (d != nullptr) w = alloc(bgpic->width, bgpic->height);
    if (d == nullptr || w == nullptr) {
      FreeBitMap(d);
      return ERR_MEM;
    }
    // A selected mask or alpha channel leaves the drawing bitmap on the display's picture: it
    // follows the new one as the display's own output does.
    bool drawsIntoShown = display->outputType == kOutputDisplay || display->outBitmap == nullptr ||
                          display->outBitmap == shown;
    FreeBitMap(display->displayBitmap);
    FreeBitMap(display->windowBitmap);
    display->displayBitmap = d;
    display->windowBitmap = w;
    if (drawsIntoShown) display->outBitmap = d;
  }
  // Cleared new bitmaps hold a blank picture already.
  if (fresh && blankPicture) return 0;
  BltBitMap(bgpic->current.bitmap, 0, 0, display->displayBitmap, 0, 0, bgpic->width, bgpic->height);
  BltBitMap(bgpic->current.bitmap, 0, 0, display->windowBitmap, 0, 0, bgpic->width, bgpic->height);
  return 0;
}

qvBitMap* GetBGPicComposite(qvScriptState* L, qvDisplay* display, qvBGPic* bgpic) {
  // The display bitmap holds the picture beneath the sprites and the layers: with either on it
  // the composite is made in the window-size bitmap.
  const bool layers = display->layersOn && CountLayers(bgpic) > 0;
  if (bgpic == nullptr || (TargetSpriteEntries(bgpic) == nullptr && !layers) || !HasCompositor() ||
      display->windowBitmap == nullptr) {
    return display->displayBitmap;
  }
  RedrawLayers(L, display, bgpic, display->windowBitmap, 0, 0, bgpic->width, bgpic->height, 0,
               kRecomposeAll);
  return display->windowBitmap;
}

}  // namespace qv
