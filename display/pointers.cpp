// Pointer images: the list, the pictures handed to the platform, and which display shows which.
#include "display/pointers.h"

#include <cstdlib>
#include <new>

#include "base/errors.h"
#include "base/support.h"
#include "core/attribute_table.h"
#include "display/display.h"
#include "display/internal.h"
#include "display/picture_files.h"
#include "platform/window_services.h"

namespace qv {

namespace {

qvObjectHeader* gPointers = nullptr;

bool SameId(const qvObjectHeader* header, qvObjectId id) {
  return header->id == id.number && header->handle == id.handle;
}

bool ShownByDisplay(const qvPointer* pointer) {
  for (qvObjectHeader* h = *DisplayListHead(); h != nullptr; h = h->next) {
    if (reinterpret_cast<qvDisplay*>(h)->pointer == pointer) return true;
  }
  return false;
}

void FreeNode(qvScriptState* L, qvPointer* pointer) {
  FreePointerImage(pointer->image);
  FreeObjectData(L, &pointer->header);
  delete pointer;
}

// A pointer that a display still shows is kept, under an id the script cannot name.
void FreeOrDetach(qvScriptState* L, qvPointer* pointer) {
  if (ShownByDisplay(pointer)) {
    pointer->header.id = 0;
    pointer->header.handle = pointer;
    pointer->detached = 1;
    return;
  }
  UnlinkFromList(&gPointers, &pointer->header);
  FreeNode(L, pointer);
}

// A hot spot given as a negative number is the middle; one outside the picture its last pixel.
int32_t ClampHotSpot(int32_t hot, int32_t side) {
  if (hot < 0) return side / 2;
  return hot >= side ? side - 1 : hot;
}

int32_t PointerAttribute(const qvAttrQuery& q, qvAttrAnswer* out) {
  qvPointer* pointer = nullptr;
  int code = FindPointer(q.id, &pointer, 0);
  if (code != 0) return code;
  if (q.attribute != attr::kType) return ERR_UNKNOWNATTR;
  out->Number(pointer->kind);
  return 0;
}

const qvAttrKind kRows[] = {
    {kObjectPointer, qvAttrIdForm::kObject, PointerAttribute},
    {0, qvAttrIdForm::kObject, nullptr},
};

}  // namespace

int32_t OpenPointers() {
  int32_t code = RegisterObjectList(&gPointers);
  return code != 0 ? code : RegisterAttributeKinds(kRows);
}

qvObjectHeader** PointerListHead() { return &gPointers; }

int FindPointer(qvObjectId id, qvPointer** out, int32_t flags) {
  *out = nullptr;
  for (qvObjectHeader* h = gPointers; h != nullptr; h = h->next) {
    if (!SameId(h, id)) continue;
    auto* pointer = reinterpret_cast<qvPointer*>(h);
    if (pointer->detached && !(flags & kFindPointerDetached)) continue;
    if ((flags & kFindPointerModify) && pointer->locked) return ERR_LOCKEDOBJ;
    *out = pointer;
    return 0;
  }
  return ObjectNotFound(id, ERR_FINDPOINTER);
}

int PointerPictureFromBrush(qvScriptState* L, qvObjectId id, qvPointerPicture* out) {
  qvBrush* brush = nullptr;
  int code = FindBrush(L, id, &brush, 0);
  if (code != 0) return code;
  if (brush->bitmap == nullptr) return ERR_BRUSHTYPE;
  *out = {brush->bitmap, brush->mask, brush->alpha, brush->width, brush->height};
  return 0;
}

int CreatePointer(qvScriptState* L, qvObjectId* id, bool automatic, const qvPointerRequest& request,
                  qvPointer** out) {
  if (out != nullptr) *out = nullptr;
  if (request.standardPointer && request.standard != kPointerSystem &&
      request.standard != kPointerBusy) {
    return ERR_WRONGUSAGE;
  }
  // Freed before anything is made: the picture may come from a sprite that stays, and a failure
  // below leaves no pointer of that number either way.
  if (!automatic) {
    qvPointer* old = nullptr;
    if (FindPointer(*id, &old, 0) == 0) FreeOrDetach(L, old);
  }

  auto* pointer = new (std::nothrow) qvPointer{};
  if (pointer == nullptr) return ERR_MEM;
  if (request.standardPointer) {
    pointer->kind = request.standard;
    pointer->width = GetScreenAttr(ScreenAttr::kPointerWidth);
    pointer->height = GetScreenAttr(ScreenAttr::kPointerHeight);
  } else {
    const qvPointerPicture& picture = request.picture;
    if (picture.bitmap == nullptr || picture.width < 1 || picture.height < 1) {
      delete pointer;
      return ERR_WRONGUSAGE;
    }
    int32_t hotX = ClampHotSpot(request.hotX, picture.width);
    int32_t hotY = ClampHotSpot(request.hotY, picture.height);
    // Pixels outside a mask are clear; an alpha channel keeps its shades.
    uint32_t* pixels = BuildARGBPixels(picture.bitmap, picture.width, picture.height, picture.mask,
                                       picture.alpha, 0, true);
    if (pixels == nullptr) {
      delete pointer;
      return ERR_MEM;
    }
    int code = CreatePointerImage(pixels, picture.width, picture.height, hotX, hotY,
                                  &pointer->image);
    std::free(pixels);
    if (code != 0) {
      delete pointer;
      return code;
    }
    pointer->kind = kPointerCustom;
    pointer->width = picture.width;
    pointer->height = picture.height;
  }
  AddObject(&gPointers, &pointer->header, kObjectPointer, id->number, automatic);
  if (automatic) *id = {0, pointer};
  if (out != nullptr) *out = pointer;
  return 0;
}

int FreePointer(qvScriptState* L, qvObjectId id) {
  qvPointer* pointer = nullptr;
  int code = FindPointer(id, &pointer, kFindPointerModify);
  if (code != 0) return code;
  FreeOrDetach(L, pointer);
  return 0;
}

int SetPointer(qvScriptState* L, qvObjectId id) {
  qvDisplay* d = CurrentDisplay();
  if (d == nullptr) return ERR_WRONGUSAGE;
  qvPointer* pointer = nullptr;
  int code = FindPointer(id, &pointer, 0);
  if (code != 0) return code;
  d->pointer = pointer;
  d->pointerHidden = 0;
  // The window keeps its pointer while closed and shows it when it opens.
  SetPointerImage(d->window, pointer->image, pointer->kind == kPointerBusy);
  // The pointer this display showed before may have been freed by the script: now that no
  // display shows it, it goes. One that another display still shows stays.
  PurgeDetachedPointers(L);
  return 0;
}

void ShowPointer(bool show) {
  qvDisplay* d = CurrentDisplay();
  if (d == nullptr) return;
  d->pointerHidden = show ? 0 : 1;
  if (show) {
    ShowDisplayPointer(d->window);
  } else {
    HideDisplayPointer(d->window);
  }
}

void DisplayPointerSize(const qvDisplay* display, int32_t* width, int32_t* height) {
  if (display != nullptr && display->pointer != nullptr) {
    *width = display->pointer->width;
    *height = display->pointer->height;
    return;
  }
  *width = GetScreenAttr(ScreenAttr::kPointerWidth);
  *height = GetScreenAttr(ScreenAttr::kPointerHeight);
}

void MovePointer(int32_t x, int32_t y) {
  qvDisplay* d = CurrentDisplay();
  if (d == nullptr || d->state != kDisplayOpen) return;
  int32_t width = 0, height = 0;
  DisplayPointerSize(d, &width, &height);
  const qvBGPic* target = OutputTarget();
  int32_t areaWidth = target != nullptr ? target->width : d->bgpic->width;
  int32_t areaHeight = target != nullptr ? target->height : d->bgpic->height;
  int32_t py = ResolveCoordY(y, height, areaHeight, 0);
  int32_t px = ResolveCoordX(x, width, areaWidth, 0);
  // The window shows a scaled display stretched inside its border strips.
  int32_t wx = TruncateToInt(px * d->scaleX), wy = TruncateToInt(py * d->scaleY);
  if (IsScaledDisplay(d)) {
    wx += d->borderLeft;
    wy += d->borderTop;
  }
  MovePointerTo(d->window, wx, wy);
}

void PurgeDetachedPointers(qvScriptState* L) {
  qvObjectHeader* h = gPointers;
  while (h != nullptr) {
    qvObjectHeader* next = h->next;
    auto* pointer = reinterpret_cast<qvPointer*>(h);
    if (pointer->detached && !ShownByDisplay(pointer)) {
      UnlinkFromList(&gPointers, h);
      FreeNode(L, pointer);
    }
    h = next;
  }
}

void FreeAllPointers(qvScriptState* L) {
  for (qvObjectHeader* h = *DisplayListHead(); h != nullptr; h = h->next) {
    reinterpret_cast<qvDisplay*>(h)->pointer = nullptr;
  }
  while (gPointers != nullptr) {
    auto* pointer = reinterpret_cast<qvPointer*>(gPointers);
    gPointers = gPointers->next;
    FreeNode(L, pointer);
  }
}

}  // namespace qv
