// Where drawing goes: the display itself, the pictures, mask or alpha channel of a brush or BGPic,
// a BGPic selected as the target of new layers, or the back buffer of double buffering.
#include <algorithm>
#include <cstring>
#include <new>

#include "base/errors.h"
#include "core/layer_system.h"
#include "display/display.h"
#include "display/internal.h"
#include "display/sprites.h"

namespace qv {

namespace {

int32_t gComboFlags = 0;

qvBGPic* NewRecord() {
  auto* record = new (std::nothrow) qvBGPic{};
  if (record != nullptr) InitList(&record->layers);
  return record;
}

void ClearDrawingPlanes(qvDisplay* d) {
  d->outBitmap = nullptr;
  d->outMask = nullptr;
  d->outAlpha = nullptr;
}

bool EnsureDirtyList(qvDisplay* d) {
  if (d->dirty.entries == nullptr) {
    d->dirty.entries = new (std::nothrow) qvRect[kDirtyListCapacity];
    if (d->dirty.entries == nullptr) return false;
    d->dirty.capacity = kDirtyListCapacity;
  }
  d->dirty.count = 0;
  return true;
}

// Brings the scaled and current sets of a BGPic that was drawn into up to date with its original:
// a set with planes of its own is scaled again (hard), a set that shares the original's planes
// takes a mask or alpha the original gained.
int RebuildSet(qvBGPic* b, qvPlaneSet* set, int32_t width, int32_t height, bool freeOld) {
  const qvPlaneSet& o = b->original;
  if (set->bitmap == o.bitmap) {
    if (set->mask == nullptr) set->mask = o.mask;
    if (set->alpha == nullptr) set->alpha = o.alpha;
    return 0;
  }
  qvBitMap* bitmap = nullptr;
  qvPlane* mask = nullptr;
  qvPlane* alpha = nullptr;
  int code = ScaleBitMap(o.bitmap, o.mask, o.alpha, 0, 0, nullptr, b->originalWidth,
                         b->originalHeight, width, height, false, &bitmap, &mask, &alpha);
  if (code != 0) return code;
  if (freeOld) {
    FreeBitMap(set->bitmap);
    if (set->mask != o.mask) FreeMaskOrAlpha(set->mask);
    if (set->alpha != o.alpha) FreeMaskOrAlpha(set->alpha);
  }
  *set = {bitmap, mask, alpha};
  return 0;
}

int RebuildPlaneSets(qvBGPic* b) {
  bool currentIsScaled = b->current.bitmap == b->scaled.bitmap &&
                         b->scaled.bitmap != b->original.bitmap;
  int code = RebuildSet(b, &b->scaled, b->scaledWidth, b->scaledHeight, true);
  if (code != 0 || !currentIsScaled) {
    return code != 0 ? code : RebuildSet(b, &b->current, b->width, b->height, true);
  }
  // The current set was the old scaled set, freed above.
  if (b->width == b->scaledWidth && b->height == b->scaledHeight) {
    b->current = b->scaled;
    return 0;
  }
  b->current = b->original;
  return 0;
}

}  // namespace

void SaveDrawState(qvDisplay* d, int32_t width, bool keepLayers) {
  if (!d->saved.saved) {
    d->saved = {1, d->cursorX, d->cursorY, d->marginLeft, d->marginRight, d->layersOn};
  }
  if (!keepLayers) d->layersOn = 0;
  d->cursorX = d->cursorY = d->marginLeft = 0;
  d->marginRight = width - 1;
}

void RestoreDrawState(qvDisplay* d) {
  if (!d->saved.saved) return;
  d->cursorX = d->saved.cursorX;
  d->cursorY = d->saved.cursorY;
  d->marginLeft = d->saved.marginLeft;
  d->marginRight = d->saved.marginRight;
  d->layersOn = d->saved.layersOn;
  d->saved.saved = 0;
}

void FreeOutputRecords(qvDisplay* d) {
  if (OutputTarget() == d->selection || OutputTarget() == d->doubleBufferRecord) {
    SetOutputTarget(nullptr);
  }
  delete[] d->dirty.entries;
  d->dirty = {nullptr, 0, 0};
  FreeBitMap(d->frontBuffer);
  FreeBitMap(d->backBuffer);
  d->frontBuffer = d->backBuffer = nullptr;
  delete d->selection;
  delete d->doubleBufferRecord;
  d->selection = d->doubleBufferRecord = nullptr;
}

bool IsSelectedOutput(int32_t kind, qvObjectId id) {
  qvDisplay* d = CurrentDisplay();
  const qvBGPic* target = OutputTarget();
  if (d == nullptr || target == nullptr) return false;
  bool sameId = target->header.id == id.number && target->header.handle == id.handle;
  if (d->outputType == kOutputBGPic) return kind == kObjectBGPic && sameId;
  bool picture = d->outputType == kOutputPicture || d->outputType == kOutputMask ||
                 d->outputType == kOutputAlpha;
  return picture && target == d->selection && target->objectKind == kind && sameId;
}

int SelectOutputDevice(qvScriptState* L, int32_t kind, qvObjectId id, int32_t outputType,
                       int32_t frame, int32_t mode, int32_t comboFlags) {
  qvDisplay* d = CurrentDisplay();
  if (d == nullptr) return ERR_WRONGUSAGE;
  qvBGPic* target = OutputTarget();
  if (d->outputType == outputType && target != nullptr && target == d->selection &&
      target->objectKind == kind && target->frame == frame && target->header.id == id.number &&
      target->header.handle == id.handle) {
    return 0;
  }
  if (d->outputType != kOutputDisplay && !d->doubleBuffer) {
    int code = EndSelectOutput(L, d, false);
    if (code != 0) return code;
  }
  if (kind != kObjectBGPic && kind != kObjectBrush && kind != kObjectAnim && kind != kObjectLayer) {
    return ERR_WRONGUSAGE;
  }
  void* object = nullptr;
  qvPlaneSet planes{};
  int32_t width = 0, height = 0;
  switch (kind) {
    case kObjectBGPic: {
      qvBGPic* bgpic = nullptr;
      int code = FindBGPic(L, id, &bgpic, 0);
      if (code != 0) return code;
      if (bgpic->kind == kBGPicGenerated) return ERR_BGPICTYPE;
      for (qvObjectHeader* h = *DisplayListHead(); h != nullptr; h = h->next) {
        if (reinterpret_cast<qvDisplay*>(h)->bgpic == bgpic) return ERR_SELECTBGPIC2;
      }
      object = bgpic;
      planes = bgpic->original;
      width = bgpic->originalWidth;
      height = bgpic->originalHeight;
      break;
    }
    case kObjectBrush: {
      qvBrush* brush = nullptr;
      int code = FindBrush(L, id, &brush, kFindRasterOnly);
      if (code != 0) return code;
      object = brush;
      planes = {brush->bitmap, brush->mask, brush->alpha};
      width = brush->width;
      height = brush->height;
      break;
    }
    case kObjectAnim:
      // Anims come with their own library.
      if (id.handle != nullptr) return ERR_FINDARRAY;
      SetErrorNumber(id.number);
      return ERR_FINDANIM;
    default:
      // Layers come with the layer system: the current target has none.
      return ERR_LAYERRANGE;
  }
  if (d->selection == nullptr) {
    d->selection = NewRecord();
    if (d->selection == nullptr) return ERR_MEM;
  }
  SetOutputTarget(d->selection);
  InitBGPicRecord(d->selection, kind, object, frame, id, planes.bitmap, planes.mask, planes.alpha,
                  width, height, true);
  d->selection->bound = 0;
  SaveDrawState(d, width, false);
  d->outputType = outputType;
  if (d->doubleBuffer) {
    d->doubleBuffer = 0;
    d->doubleBufferSuspended = 1;
  }
  ClearDrawingPlanes(d);
  if (outputType == kOutputPicture) {
    d->outBitmap = planes.bitmap;
    if (mode == 1) {
      d->outMask = planes.mask;
      d->outAlpha = planes.alpha;
      gComboFlags = comboFlags;
    }
  } else if (outputType == kOutputMask) {
    d->outMask = planes.mask;
  } else if (outputType == kOutputAlpha) {
    d->outAlpha = planes.alpha;
  }
  return 0;
}

int SelectBGPicAsLayerTarget(qvScriptState* L, qvObjectId id, bool ownBGPic) {
  qvDisplay* d = CurrentDisplay();
  if (d == nullptr) return ERR_WRONGUSAGE;
  qvBGPic* bgpic = d->bgpic;
  if (!ownBGPic) {
    int code = FindBGPic(L, id, &bgpic, 0);
    if (code != 0) return code;
  }
  if (d->outputType == kOutputBGPic && OutputTarget() == bgpic) return 0;
  if (d->outputType != kOutputDisplay && !d->doubleBuffer) {
    int code = EndSelectOutput(L, d, false);
    if (code != 0) return code;
  }
  if (!d->layersOn) return ERR_NOLAYERS;
  if (bgpic != d->bgpic) {
    for (qvObjectHeader* h = *DisplayListHead(); h != nullptr; h = h->next) {
      if (reinterpret_cast<qvDisplay*>(h)->bgpic == bgpic) return ERR_SELECTBGPIC;
    }
  }
  if (!EnsureDirtyList(d)) return ERR_MEM;
  ClearDrawingPlanes(d);
  SaveDrawState(d, bgpic->width, true);
  SetOutputTarget(bgpic);
  d->outputType = kOutputBGPic;
  return 0;
}

int BindOutputDevice(qvScriptState* L) {
  qvDisplay* d = CurrentDisplay();
  qvBGPic* target = OutputTarget();
  if (d == nullptr || target == nullptr || target == d->doubleBufferRecord) return 0;
  qvObjectId id{target->header.id, target->header.handle};
  qvPlane** mask = nullptr;
  qvPlane** alpha = nullptr;
  qvBitMap* bitmap = nullptr;
  int32_t width = 0, height = 0;
  if (target->objectKind == kObjectBGPic) {
    qvBGPic* bgpic = nullptr;
    int code = FindBGPic(L, id, &bgpic, kFindModify);
    if (code != 0) return code;
    mask = &bgpic->original.mask;
    alpha = &bgpic->original.alpha;
    bitmap = bgpic->original.bitmap;
    width = bgpic->originalWidth;
    height = bgpic->originalHeight;
  } else if (target->objectKind == kObjectBrush) {
    qvBrush* brush = nullptr;
    int code = FindBrush(L, id, &brush, kFindModify);
    if (code != 0) return code;
    mask = &brush->mask;
    alpha = &brush->alpha;
    bitmap = brush->bitmap;
    width = brush->width;
    height = brush->height;
  } else {
    return ERR_WRONGUSAGE;
  }
  (void)bitmap;
  if (d->outputType == kOutputMask && *mask == nullptr) {
    qvPlane* plane = AllocMask(width, height, true);
    if (plane == nullptr) return ERR_MEM;
    FillPlaneRect(plane, 0, 0, width, height, 0);
    *mask = plane;
    d->outMask = plane;
    target->original.mask = plane;
    FreeMaskOrAlpha(*alpha);
    *alpha = nullptr;
    target->original.alpha = nullptr;
  } else if (d->outputType == kOutputAlpha && *alpha == nullptr) {
    qvPlane* plane = AllocAlphaChannel(width, height, true);
    if (plane == nullptr) return ERR_MEM;
    for (int32_t row = 0; row < height; ++row) {
      std::memset(plane->data + static_cast<size_t>(row) * plane->bytesPerRow, 255,
                  static_cast<size_t>(width));
    }
    *alpha = plane;
    d->outAlpha = plane;
    target->original.alpha = plane;
    FreeMaskOrAlpha(*mask);
    *mask = nullptr;
    target->original.mask = nullptr;
  }
  target->current = target->scaled = target->original;
  target->bound = 1;
  return 0;
}

int EndSelectOutput(qvScriptState* L, qvDisplay* d, bool noRefresh) {
  if (d->doubleBufferSuspended) {
    SetOutputTarget(d->doubleBufferRecord);
    ClearDrawingPlanes(d);
    d->outBitmap = d->backBuffer;
    d->outputType = kOutputPicture;
    d->doubleBuffer = 1;
    d->doubleBufferSuspended = 0;
    RestoreDrawState(d);
    return 0;
  }
  int32_t oldType = d->outputType;
  qvBGPic* target = OutputTarget();
  ClearDrawingPlanes(d);
  d->outputType = kOutputDisplay;
  d->outBitmap = d->displayBitmap;
  if (oldType == kOutputBGPic && target == d->bgpic) {
    // The layers made meanwhile are drawn from now; what changed is recomposed with them.
    EndLayerTarget(target);
    RestoreDrawState(d);
    if (!noRefresh && d->dirty.entries != nullptr) {
      if (d->dirty.count >= d->dirty.capacity) {
        RefreshLayerRect(L, 0, 0, target->width, target->height);
      } else {
        MergeDirtyRects(&d->dirty);
        for (int32_t i = 0; i < d->dirty.count; ++i) {
          const qvRect& r = d->dirty.entries[i];
          if (r.x1 == kAbsorbedRect) continue;
          RefreshLayerRect(L, r.x1, r.y1, r.x2 - r.x1 + 1, r.y2 - r.y1 + 1);
        }
      }
      d->dirty.count = 0;
    }
    return 0;
  }
  int code = 0;
  if (target != nullptr && target == d->selection && target->objectKind == kObjectBGPic &&
      target->bound) {
    code = RebuildPlaneSets(static_cast<qvBGPic*>(target->object));
  }
  SetOutputTarget(d->bgpic);
  RestoreDrawState(d);
  (void)L;
  return code;
}

int CheckOutputIsDisplay(const qvDisplay* d) {
  const qvBGPic* target = OutputTarget();
  switch (d->outputType) {
    case kOutputBGPic:
      return ERR_SELECTBG;
    case kOutputPicture:
      if (d->doubleBuffer) return ERR_ENDDOUBLEBUFFER;
      if (target != nullptr && target->objectKind == kObjectAnim) return ERR_SELECTANIM;
      return ERR_SELECTBRUSH;
    case kOutputMask:
      return ERR_SELECTMASK;
    case kOutputAlpha:
      return ERR_SELECTALPHACHANNEL;
    default:
      return 0;
  }
}

int BeginDoubleBuffer(qvScriptState*, bool hardware) {
  (void)hardware;  // never granted: no hardware bitmaps here
  qvDisplay* d = CurrentDisplay();
  if (d == nullptr) return ERR_WRONGUSAGE;
  int code = CheckOutputIsDisplay(d);
  if (code != 0) return code;
  qvBGPic* target = OutputTarget();
  if (target == nullptr) target = d->bgpic;
  if (d->layersOn || !IsListEmpty(&target->layers)) return ERR_LAYERSOFF;
  if (target->sprites != nullptr) return ERR_NOSPRITES;
  if (target->current.mask != nullptr || target->current.alpha != nullptr) return ERR_DBTRANSWIN;

  FreeBitMap(d->frontBuffer);
  FreeBitMap(d->backBuffer);
  d->frontBuffer = d->backBuffer = nullptr;
  bool scaled = IsScaledDisplay(d);
  int32_t width = target->width, height = target->height;
  d->frontBuffer = AllocClearedBitMap(scaled ? d->scaleWidth : width,
                                      scaled ? d->scaleHeight : height);
  d->backBuffer = AllocClearedBitMap(width, height);
  if (d->doubleBufferRecord == nullptr) d->doubleBufferRecord = NewRecord();
  if (d->frontBuffer == nullptr || d->backBuffer == nullptr || d->doubleBufferRecord == nullptr ||
      !EnsureDirtyList(d)) {
    FreeBitMap(d->frontBuffer);
    FreeBitMap(d->backBuffer);
    d->frontBuffer = d->backBuffer = nullptr;
    return ERR_MEM;
  }
  qvBGPic* record = d->doubleBufferRecord;
  InitBGPicRecord(record, kObjectBrush, nullptr, 0, {0, record}, d->backBuffer, nullptr, nullptr,
                  width, height, true);
  SetOutputTarget(record);
  d->outputType = kOutputPicture;
  d->doubleBuffer = 1;
  d->hardwareDoubleBuffer = 0;
  ClearDrawingPlanes(d);
  d->outBitmap = d->backBuffer;
  return 0;
}

namespace {

// An entry as {x, y, width, height} clipped to width x height; false when empty.
bool ClipEntry(const qvRect& r, int32_t width, int32_t height, int32_t* x, int32_t* y, int32_t* w,
               int32_t* h) {
  int64_t x1 = std::max<int64_t>(r.x1, 0), y1 = std::max<int64_t>(r.y1, 0);
  int64_t x2 = std::min<int64_t>(r.x2, int64_t{width} - 1);
  int64_t y2 = std::min<int64_t>(r.y2, int64_t{height} - 1);
  if (x2 < x1 || y2 < y1) return false;
  *x = static_cast<int32_t>(x1);
  *y = static_cast<int32_t>(y1);
  *w = static_cast<int32_t>(x2 - x1 + 1);
  *h = static_cast<int32_t>(y2 - y1 + 1);
  return true;
}

}  // namespace

int FlipDisplay(qvScriptState* L, bool sync) {
  qvDisplay* d = CurrentDisplay();
  if (d == nullptr || !d->doubleBuffer) return ERR_NODOUBLEBUFFER;
  qvBGPic* record = d->doubleBufferRecord;
  bool full = d->dirty.count >= d->dirty.capacity;
  if (IsScaledDisplay(d)) {
    int code = ScaleBitMap(d->backBuffer, nullptr, nullptr, 0, 0, d->frontBuffer, record->width,
                           record->height, d->frontBuffer->width, d->frontBuffer->height,
                           d->smoothScale != 0, nullptr, nullptr, nullptr);
    if (code != 0) return code;
  } else if (full) {
    BltBitMap(d->backBuffer, 0, 0, d->frontBuffer, 0, 0, record->width, record->height);
  } else {
    MergeDirtyRects(&d->dirty);
    for (int32_t i = 0; i < d->dirty.count; ++i) {
      const qvRect& r = d->dirty.entries[i];
      int32_t x, y, w, h;
      if (r.x1 == kAbsorbedRect || !ClipEntry(r, record->width, record->height, &x, &y, &w, &h)) {
        continue;
      }
      BltBitMap(d->backBuffer, x, y, d->frontBuffer, x, y, w, h);
    }
  }
  if (sync) UpdateCurrentDisplay(L);
  FlipDoubleBuffer(d, false, 0);
  d->dirty.count = 0;
  return 0;
}

void FlipDoubleBuffer(qvDisplay* d, bool whole, int32_t refreshFlags) {
  qvBGPic* record = d->doubleBufferRecord;
  if (record == nullptr || d->frontBuffer == nullptr) return;
  bool scaled = IsScaledDisplay(d);
  int32_t width = std::min(record->width, d->bgpic->width);
  int32_t height = std::min(record->height, d->bgpic->height);
  if (scaled) {
    BlitToWindow(reinterpret_cast<const uint32_t*>(d->frontBuffer->pixels),
                 d->frontBuffer->bytesPerRow / 4, 0, 0, d->window, 0, 0, d->frontBuffer->width,
                 d->frontBuffer->height, 0, 0);
    return;
  }
  bool full = d->dirty.count >= d->dirty.capacity;
  if (!whole && !full) {
    for (int32_t i = 0; i < d->dirty.count; ++i) {
      const qvRect& r = d->dirty.entries[i];
      int32_t x, y, w, h;
      if (r.x1 == kAbsorbedRect || !ClipEntry(r, width, height, &x, &y, &w, &h)) continue;
      RefreshDisplayRect(d->frontBuffer, x, y, d, x, y, w, h, refreshFlags);
    }
    return;
  }
  RefreshDisplayRect(d->frontBuffer, 0, 0, d, 0, 0, width, height, refreshFlags);
  if (whole) {
    if (d->bgpic->width > width) {
      RefreshDisplayRect(d->displayBitmap, width, 0, d, width, 0, d->bgpic->width - width,
                         d->bgpic->height, refreshFlags);
    }
    if (d->bgpic->height > height) {
      RefreshDisplayRect(d->displayBitmap, 0, height, d, 0, height, width,
                         d->bgpic->height - height, refreshFlags);
    }
  }
}

int FreeDoubleBuffer(qvDisplay* d) {
  if (d == nullptr || (!d->doubleBuffer && !d->doubleBufferSuspended)) return ERR_NODOUBLEBUFFER;
  BltBitMap(d->backBuffer, 0, 0, d->displayBitmap, 0, 0, d->backBuffer->width,
            d->backBuffer->height);
  if (IsScaledDisplay(d)) {
    BltBitMap(d->backBuffer, 0, 0, d->windowBitmap, 0, 0, d->backBuffer->width,
              d->backBuffer->height);
  }
  FreeBitMap(d->frontBuffer);
  FreeBitMap(d->backBuffer);
  d->frontBuffer = d->backBuffer = nullptr;
  SetOutputTarget(d->bgpic);
  ClearDrawingPlanes(d);
  d->outBitmap = d->displayBitmap;
  d->doubleBuffer = d->hardwareDoubleBuffer = d->doubleBufferSuspended = 0;
  d->outputType = kOutputDisplay;
  return 0;
}

int ResetFrontBuffer(qvDisplay* d, int32_t width, int32_t height) {
  qvBitMap* front = AllocClearedBitMap(width, height);
  if (front == nullptr) return ERR_MEM;
  FreeBitMap(d->frontBuffer);
  d->frontBuffer = front;
  RefreshDisplayRect(front, 0, 0, d, 0, 0, width, height, 0);
  return 0;
}

}  // namespace qv
