// The brush list and the copy-on-write rule that lets layers keep showing the picture a brush
// had when the script changes or frees it.
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/errors.h"
#include "core/layer_system.h"
#include "display/display.h"
#include "display/internal.h"

namespace qv {

namespace {

qvObjectHeader* gBrushes = nullptr;

bool SameId(const qvObjectHeader* header, qvObjectId id) {
  return header->id == id.number && header->handle == id.handle;
}

int NotFound(qvObjectId id, int32_t code) {
  if (id.handle != nullptr) return ERR_FINDARRAY;
  SetErrorNumber(id.number);
  return code;
}

void FreeBrushRecord(qvScriptState* L, qvBrush* brush) {
  ReleasePixelBuffer(brush->pixelBuffer);
  FreeBitMap(brush->bitmap);
  FreeMaskOrAlpha(brush->mask);
  FreeMaskOrAlpha(brush->alpha);
  FreeObjectData(L, &brush->header);
  delete brush;
}

int CloneForLayers(qvScriptState* L, void* object, qvObjectHeader** clone) {
  qvObjectId id{0, nullptr};
  qvBrush* copy = nullptr;
  int code = CloneBrush(L, static_cast<qvBrush*>(object), &id, true, &copy);
  if (code == 0) *clone = &copy->header;
  return code;
}

}  // namespace

qvObjectHeader** BrushListHead() { return &gBrushes; }

int AddBrush(qvObjectId* id, bool automatic, int32_t kind, int32_t width, int32_t height,
             int32_t rowWidth, int32_t transformed, qvPixelBuffer* pixelBuffer, qvBitMap* bitmap,
             int32_t transparentColour, qvPlane* mask, qvPlane* alpha, qvBrush** out) {
  auto* brush = new (std::nothrow) qvBrush{};
  if (brush == nullptr) return ERR_MEM;
  brush->header.type = kObjectBrush;
  if (automatic) *id = {0, brush};
  brush->header.id = id->number;
  brush->header.handle = id->handle;
  brush->kind = kind;
  brush->width = width;
  brush->height = height;
  brush->rowWidth = rowWidth;
  brush->transformed = transformed;
  brush->pixelBuffer = pixelBuffer;
  brush->bitmap = bitmap;
  brush->transparentColour = transparentColour;
  brush->mask = mask;
  brush->alpha = alpha;
  AppendToList(&gBrushes, &brush->header);
  if (out != nullptr) *out = brush;
  return 0;
}

int AddRasterBrush(qvObjectId* id, bool automatic, int32_t width, int32_t height, qvBitMap* bitmap,
                   int32_t transparentColour, qvPlane* mask, qvPlane* alpha, qvBrush** out) {
  int code = AddBrush(id, automatic, kBrushRaster, width, height, width, 0, nullptr, bitmap,
                      transparentColour, mask, alpha, out);
  if (code != 0) {
    FreeBitMap(bitmap);
    FreeMaskOrAlpha(mask);
    FreeMaskOrAlpha(alpha);
  }
  return code;
}

int AllocBrush(qvObjectId* id, bool automatic, int32_t width, int32_t height, uint32_t colour,
               bool withMask, bool withAlpha, bool clearPlanes, bool noFill, qvBrush** out) {
  qvBitMap* bitmap = AllocBitMap(width, height);
  if (bitmap == nullptr) return ERR_MEM;
  if (!noFill) FillBitMapRect(bitmap, 0, 0, width, height, colour);
  qvPlane* mask = nullptr;
  qvPlane* alpha = nullptr;
  int32_t key = kNoTransparentColour;
  if (withMask) {
    mask = AllocMask(width, height, clearPlanes);
    if (mask == nullptr) {
      FreeBitMap(bitmap);
      return ERR_MEM;
    }
    if (!clearPlanes) FillPlaneRect(mask, 0, 0, width, height, 0);
    key = static_cast<int32_t>(kAllocBrushMaskColour);
  }
  if (withAlpha) {
    alpha = AllocAlphaChannel(width, height, clearPlanes);
    if (alpha == nullptr) {
      FreeBitMap(bitmap);
      FreeMaskOrAlpha(mask);
      return ERR_MEM;
    }
    if (!clearPlanes) {
      for (int32_t row = 0; row < height; ++row) {
        std::memset(alpha->data + static_cast<size_t>(row) * alpha->bytesPerRow, 255,
                    static_cast<size_t>(width));
      }
    }
  }
  return AddRasterBrush(id, automatic, width, height, bitmap, key, mask, alpha, out);
}

int FindBrush(qvScriptState* L, qvObjectId id, qvBrush** out, int32_t flags) {
  *out = nullptr;
  for (qvObjectHeader* h = gBrushes; h != nullptr; h = h->next) {
    if (!SameId(h, id)) continue;
    auto* brush = reinterpret_cast<qvBrush*>(h);
    if ((flags & kFindRasterOnly) && brush->kind == kBrushVector) return ERR_BRUSHTYPE;
    if (brush->hardware && !(flags & kFindHardware)) return ERR_HWBRUSH;
    if (brush->layerCopy && !(flags & kFindLayerCopies)) continue;
    if ((flags & kFindModify) && brush->locked) return ERR_LOCKEDOBJ;
    if ((flags & kFindModify) && !(flags & kFindNoCopy)) {
      qvObjectHeader* clone = nullptr;
      int code = DetachFromLayers(L, kObjectBrush, id, CloneForLayers, brush, &clone);
      if (code != 0) return code;
      if (clone != nullptr) reinterpret_cast<qvBrush*>(clone)->layerCopy = 1;
    }
    *out = brush;
    return 0;
  }
  return NotFound(id, ERR_FINDBRUSH);
}

int CloneBrush(qvScriptState* L, const qvBrush* source, qvObjectId* id, bool automatic,
               qvBrush** out) {
  qvBitMap* bitmap = nullptr;
  qvPlane* mask = nullptr;
  qvPlane* alpha = nullptr;
  int code = CopyPlanes(source->bitmap, source->mask, source->alpha, source->width, source->height,
                        &bitmap, &mask, &alpha);
  if (code != 0) return code;
  qvObjectDataItem* data = nullptr;
  code = CopyObjectDataList(L, source->header.data, &data);
  qvBrush* brush = nullptr;
  if (code == 0) {
    code = AddBrush(id, automatic, source->kind, source->width, source->height, source->width,
                    source->transformed, source->pixelBuffer, bitmap, source->transparentColour,
                    mask, alpha, &brush);
  }
  if (code != 0) {
    FreeRefList(L, data);
    FreeBitMap(bitmap);
    FreeMaskOrAlpha(mask);
    FreeMaskOrAlpha(alpha);
    return code;
  }
  RetainPixelBuffer(brush->pixelBuffer);
  brush->header.data = data;
  if (out != nullptr) *out = brush;
  return 0;
}

int DeleteBrushNode(qvScriptState* L, qvObjectId id) {
  for (qvObjectHeader** link = &gBrushes; *link != nullptr; link = &(*link)->next) {
    if (!SameId(*link, id)) continue;
    auto* brush = reinterpret_cast<qvBrush*>(*link);
    *link = brush->header.next;
    FreeBrushRecord(L, brush);
    return 0;
  }
  return NotFound(id, ERR_FINDBRUSH);
}

int ReleaseBrushId(qvScriptState* L, qvObjectId id, bool mustExist) {
  if (IsSelectedOutput(kObjectBrush, id)) return ERR_MODIFYABR;
  qvBrush* brush = nullptr;
  int code = FindBrush(L, id, &brush, kFindModify | kFindNoCopy | kFindHardware);
  if (code == 0) {
    if (RepointLayers(kObjectBrush, id, brush)) {
      brush->header.id = 0;
      brush->header.handle = brush;
      brush->layerCopy = 1;
      return 0;
    }
    return DeleteBrushNode(L, id);
  }
  if (!mustExist && code != ERR_LOCKEDOBJ) return 0;
  return code;
}

void FreeAllBrushes(qvScriptState* L) {
  while (gBrushes != nullptr) {
    auto* brush = reinterpret_cast<qvBrush*>(gBrushes);
    gBrushes = brush->header.next;
    FreeBrushRecord(L, brush);
  }
}

void PurgeDetachedBrushes(qvScriptState* L) {
  for (qvObjectHeader** link = &gBrushes; *link != nullptr;) {
    auto* brush = reinterpret_cast<qvBrush*>(*link);
    qvObjectId id{brush->header.id, brush->header.handle};
    if (brush->layerCopy && !IsShownByLayer(kObjectBrush, id, nullptr)) {
      *link = brush->header.next;
      FreeBrushRecord(L, brush);
    } else {
      link = &brush->header.next;
    }
  }
}

int GetBrushBitMaps(qvScriptState* L, qvObjectId id, qvBitMap** bitmap, qvPlane** mask,
                    qvPlane** alpha, int32_t* width, int32_t* height) {
  qvBrush* brush = nullptr;
  if (FindBrush(L, id, &brush, kFindRasterOnly) != 0) return 0;
  if (bitmap != nullptr) *bitmap = brush->bitmap;
  if (mask != nullptr) *mask = brush->mask;
  if (alpha != nullptr) *alpha = brush->alpha;
  if (width != nullptr) *width = brush->width;
  if (height != nullptr) *height = brush->height;
  return 1;
}

// ---- copy-on-write over the layers ----

int DetachFromLayers(qvScriptState* L, int32_t kind, qvObjectId id, qvCloneFunction cloneFn,
                     void* object, qvObjectHeader** clone) {
  if (!IsShownByLayer(kind, id, nullptr)) return 0;
  qvObjectHeader* copy = nullptr;
  int code = cloneFn(L, object, &copy);
  if (code != 0) return code;
  RepointLayers(kind, id, copy->handle);
  *clone = copy;
  return 0;
}

}  // namespace qv
