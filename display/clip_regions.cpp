// Clip regions: the list of regions, their commands, the layers' transformed copies and the
// references that drawing records keep to them.
#include "display/clip_regions.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "base/errors.h"
#include "base/support.h"
#include "core/attribute_table.h"
#include "core/layer_system.h"
#include "display/display.h"
#include "display/internal.h"
#include "image/mask_ops.h"

namespace qv {

namespace {

qvObjectHeader* gRegions = nullptr;

// What the scratch buffer for clip masks starts with once a region has a mask.
constexpr size_t kClipScratchStart = 240000;

constexpr int kMaxHolders = 8;
qvClipRegionForget gHolders[kMaxHolders] = {};

bool SameId(const qvObjectHeader* header, qvObjectId id) {
  return header->id == id.number && header->handle == id.handle;
}

qvPlane* CopyMaskRect(const qvPlane* mask, int32_t x, int32_t y, int32_t width, int32_t height) {
  if (width < 1 || height < 1) return nullptr;
  qvPlane* copy = AllocMask(width, height, true);
  if (copy != nullptr) BltPlane(mask, x, y, copy, 0, 0, width, height, 2);
  return copy;
}

void FreeNode(qvScriptState* L, qvClipRegion* region) {
  FreeMaskOrAlpha(region->mask);
  FreeObjectData(L, &region->header);
  delete region;
}

// A copy of the region for the layers that show it, appended under an automatic id.
int CloneForLayers(qvScriptState*, void* object, qvObjectHeader** clone) {
  const auto* source = static_cast<const qvClipRegion*>(object);
  auto* copy = new (std::nothrow) qvClipRegion{};
  if (copy == nullptr) return ERR_MEM;
  *copy = *source;
  copy->header.data = nullptr;
  copy->mask = nullptr;
  if (source->mask != nullptr) {
    copy->mask = CopyMaskRect(source->mask, 0, 0, source->width, source->height);
    if (copy->mask == nullptr) {
      delete copy;
      return ERR_MEM;
    }
  }
  AddObject(&gRegions, &copy->header, kObjectClipRegion, 0, true);
  *clone = &copy->header;
  return 0;
}

int32_t ClipRegionAttribute(const qvAttrQuery& q, qvAttrAnswer* out) {
  qvClipRegion* region = nullptr;
  int code = FindClipRegion(q.L, q.id, &region, 0);
  if (code != 0) return code;
  switch (q.attribute) {
    case attr::kXPos:
      out->Number(region->x);
      return 0;
    case attr::kYPos:
      out->Number(region->y);
      return 0;
    case attr::kWidth:
      out->Number(region->width);
      return 0;
    case attr::kHeight:
      out->Number(region->height);
      return 0;
    default:
      return ERR_UNKNOWNATTR;
  }
}

const qvAttrKind kRows[] = {
    {kObjectClipRegion, qvAttrIdForm::kObject, ClipRegionAttribute},
    {0, qvAttrIdForm::kObject, nullptr},
};

void ForgetIn(qvBGPic* bgpic, const qvClipRegion* region) {
  if (bgpic != nullptr && bgpic->clipRegion == region) bgpic->clipRegion = nullptr;
}

// The output targets and BGPics only: what the script's own commands point at the region.
void ForgetInTargets(const qvClipRegion* region) {
  for (qvObjectHeader* h = *BGPicListHead(); h != nullptr; h = h->next) {
    ForgetIn(reinterpret_cast<qvBGPic*>(h), region);
  }
  for (qvObjectHeader* h = *DisplayListHead(); h != nullptr; h = h->next) {
    auto* d = reinterpret_cast<qvDisplay*>(h);
    ForgetIn(d->bgpic, region);
    ForgetIn(d->selection, region);
    ForgetIn(d->doubleBufferRecord, region);
  }
  ForgetIn(OutputTarget(), region);
}

}  // namespace

const qvClipRegion* CurrentClipRegion() {
  const qvBGPic* target = OutputTarget();
  return target != nullptr ? target->clipRegion : nullptr;
}

qvObjectHeader** ClipRegionListHead() { return &gRegions; }

int CutRegionToOrigin(int32_t* x, int32_t* y, int32_t* width, int32_t* height, qvPlane** mask,
                      bool copy, bool freeOld) {
  int64_t cutX = *x < 0 ? -int64_t{*x} : 0, cutY = *y < 0 ? -int64_t{*y} : 0;
  int64_t w = *width - cutX, h = *height - cutY;
  qvPlane* old = *mask;
  qvPlane* made = nullptr;
  if (old != nullptr && (cutX != 0 || cutY != 0 || copy)) {
    // A region cut to nothing has no mask to hold.
    if (w < 1 || h < 1 || w > INT32_MAX || h > INT32_MAX) return ERR_MEM;
    made = CopyMaskRect(old, static_cast<int32_t>(cutX), static_cast<int32_t>(cutY),
                        static_cast<int32_t>(w), static_cast<int32_t>(h));
    if (made == nullptr) return ERR_MEM;
  }
  if (made != nullptr) {
    if (freeOld) FreeMaskOrAlpha(old);
    *mask = made;
  }
  // A rectangle cut to nothing keeps no negative size.
  if (cutX != 0) {
    *x = 0;
    *width = static_cast<int32_t>(std::max<int64_t>(w, 0));
  }
  if (cutY != 0) {
    *y = 0;
    *height = static_cast<int32_t>(std::max<int64_t>(h, 0));
  }
  return 0;
}

int FindClipRegion(qvScriptState* L, qvObjectId id, qvClipRegion** out, int32_t flags) {
  *out = nullptr;
  for (qvObjectHeader* h = gRegions; h != nullptr; h = h->next) {
    if (!SameId(h, id)) continue;
    auto* region = reinterpret_cast<qvClipRegion*>(h);
    if (region->layerCopy && !(flags & kFindClipLayerCopies)) continue;
    if ((flags & kFindClipModify) && region->locked) return ERR_LOCKEDOBJ;
    if ((flags & kFindClipModify) && !(flags & kFindClipNoCopy)) {
      qvObjectHeader* clone = nullptr;
      int code = DetachFromLayers(L, kObjectClipRegion, id, CloneForLayers, region, &clone);
      if (code != 0) return code;
      if (clone != nullptr) reinterpret_cast<qvClipRegion*>(clone)->layerCopy = 1;
    }
    *out = region;
    return 0;
  }
  return ObjectNotFound(id, ERR_FINDCLIPREGION);
}

int CreateClipRegion(qvScriptState* L, qvObjectId* id, bool automatic,
                     const qvClipRegionRequest& request, qvClipRegion** out) {
  if (out != nullptr) *out = nullptr;
  int32_t width = request.width, height = request.height;
  const qvPlane* brushMask = nullptr;
  if (request.kind == kObjectMask) {
    qvBrush* brush = nullptr;
    int code = FindBrush(L, request.brush, &brush, 0);
    if (code != 0) return code;
    if (brush->mask == nullptr) return ERR_NOMASKBRUSH;
    brushMask = brush->mask;
    width = brush->width;
    height = brush->height;
  } else if (request.kind != kObjectBox) {
    return ERR_WRONGUSAGE;
  }
  const qvBGPic* target = OutputTarget();
  int32_t x = ResolveCoordX(request.x, width, target != nullptr ? target->width : 0, 0);
  int32_t y = ResolveCoordY(request.y, height, target != nullptr ? target->height : 0, 0);
  if (int64_t{x} + width < 1 || int64_t{y} + height < 1) return ERR_WRONGUSAGE;

  // The brush keeps its own mask: the region takes a copy, cut or whole.
  qvPlane* mask = const_cast<qvPlane*>(brushMask);
  int code = CutRegionToOrigin(&x, &y, &width, &height, &mask, true, false);
  if (code != 0) return code;
  if (mask != nullptr && EnsureClipScratch(kClipScratchStart) != 0) {
    FreeMaskOrAlpha(mask);
    return ERR_MEM;
  }
  auto* region = new (std::nothrow) qvClipRegion{};
  if (region == nullptr) {
    FreeMaskOrAlpha(mask);
    return ERR_MEM;
  }
  // Everything is checked: only now may a region of the same number go.
  if (!automatic) FreeClipRegionCore(L, *id, false);
  region->x = x;
  region->y = y;
  region->width = width;
  region->height = height;
  region->mask = mask;
  region->bytesPerRow = mask != nullptr ? mask->bytesPerRow : 0;
  AddObject(&gRegions, &region->header, kObjectClipRegion, automatic ? 0 : id->number, automatic);
  *id = {region->header.id, region->header.handle};
  if (out != nullptr) *out = region;
  return 0;
}

int SetClipRegion(qvScriptState* L, qvObjectId id, bool none) {
  qvDisplay* d = CurrentDisplay();
  qvBGPic* target = OutputTarget();
  if (d == nullptr || target == nullptr) return ERR_WRONGUSAGE;
  if (d->outputType == kOutputMask || d->outputType == kOutputAlpha) return ERR_WRONGUSAGE;
  if (none) {
    target->clipRegion = nullptr;
    d->cursorX = d->cursorY = 0;
    d->marginLeft = 0;
    d->marginRight = target->width - 1;
    return 0;
  }
  qvClipRegion* region = nullptr;
  int code = FindClipRegion(L, id, &region, 0);
  if (code != 0) return code;
  if (int64_t{region->x} + region->width > target->width ||
      int64_t{region->y} + region->height > target->height) {
    return ERR_WRONGCLIPREG;
  }
  target->clipRegion = region;
  d->cursorX = region->x;
  d->cursorY = 0;
  d->marginLeft = region->x;
  d->marginRight = region->x + region->width - 1;
  return 0;
}

int FreeClipRegionCore(qvScriptState* L, qvObjectId id, bool mustExist) {
  qvClipRegion* region = nullptr;
  int code = FindClipRegion(L, id, &region, 0);
  if (code != 0) return mustExist ? code : 0;
  // No output target or BGPic clips by a region the script freed, even one that layers keep.
  ForgetInTargets(region);
  if (RepointLayers(kObjectClipRegion, id, region)) {
    region->header.id = 0;
    region->header.handle = region;
    region->layerCopy = 1;
    return 0;
  }
  UnlinkFromList(&gRegions, &region->header);
  ForgetClipRegion(region);
  FreeNode(L, region);
  return 0;
}

void PurgeDetachedClipRegions(qvScriptState* L) {
  qvObjectHeader** link = &gRegions;
  while (*link != nullptr) {
    auto* region = reinterpret_cast<qvClipRegion*>(*link);
    qvObjectId id{region->header.id, region->header.handle};
    if (region->layerCopy && !IsShownByLayer(kObjectClipRegion, id, nullptr)) {
      *link = region->header.next;
      ForgetClipRegion(region);
      FreeNode(L, region);
      continue;
    }
    link = &(*link)->next;
  }
}

void FreeAllClipRegions(qvScriptState* L) {
  while (gRegions != nullptr) {
    auto* region = reinterpret_cast<qvClipRegion*>(gRegions);
    gRegions = region->header.next;
    ForgetClipRegion(region);
    FreeNode(L, region);
  }
}

int32_t AddClipRegionHolder(qvClipRegionForget forget) {
  for (qvClipRegionForget& slot : gHolders) {
    if (slot == forget) return 0;
  }
  for (qvClipRegionForget& slot : gHolders) {
    if (slot == nullptr) {
      slot = forget;
      return 0;
    }
  }
  return ERR_MEM;
}

void RemoveClipRegionHolder(qvClipRegionForget forget) {
  for (qvClipRegionForget& slot : gHolders) {
    if (slot == forget) slot = nullptr;
  }
}

void ForgetClipRegion(const qvClipRegion* region) {
  ForgetInTargets(region);
  for (qvClipRegionForget forget : gHolders) {
    if (forget != nullptr) forget(region);
  }
}

qvClipRegion* BuildTransformedClipRegion(const qvClipRegion* source, double scaleX, double scaleY,
                                         const double matrixIn[4], bool scaledDisplay,
                                         bool useDisplayScale) {
  if (source == nullptr) return nullptr;
  auto* region = new (std::nothrow) qvClipRegion{};
  if (region == nullptr) return nullptr;
  region->header.type = kObjectClipRegion;
  region->locked = 1;
  const qvDisplay* d = CurrentDisplay();
  double displayX = d != nullptr && IsScaledDisplay(d) ? d->scaleX : 1.0;
  double displayY = d != nullptr && IsScaledDisplay(d) ? d->scaleY : 1.0;
  double matrix[4] = {1, 0, 0, 1};
  if (useDisplayScale) {
    matrix[0] = displayX;
    matrix[3] = displayY;
  } else if (matrixIn != nullptr) {
    std::copy(matrixIn, matrixIn + 4, matrix);
  }
  int32_t x = source->x, y = source->y, width = source->width, height = source->height;
  qvPlane* mask = nullptr;
  bool scalePosition = scaledDisplay && !useDisplayScale;
  auto fail = [&]() {
    FreeMaskOrAlpha(mask);
    delete region;
    return nullptr;
  };

  if (source->mask != nullptr) {
    // The mask turns with the scale factors and the matrix. On a scaled display the display's
    // factors go in too: scaling only the position and size afterwards would leave a mask
    // smaller than the region that reads it.
    double sx = scaleX * (scalePosition ? displayX : 1.0);
    double sy = scaleY * (scalePosition ? displayY : 1.0);
    double m[4] = {matrix[0] * sx, matrix[1] * sx, matrix[2] * sy, matrix[3] * sy};
    int32_t px = scalePosition ? TruncateToInt(x * displayX) : x;
    int32_t py = scalePosition ? TruncateToInt(y * displayY) : y;
    scalePosition = false;
    qvBitMap* blank = AllocClearedBitMap(width, height);
    if (blank == nullptr) return fail();
    qvBitMap* turned = nullptr;
    qvPlane* turnedAlpha = nullptr;
    const double anchor[2] = {0, 0};
    int code = TransformBitMap(nullptr, kTransformBitMap, nullptr, blank, source->mask, nullptr, 0,
                               0, px, py, width, height, anchor, m, false, &turned, &mask,
                               &turnedAlpha, &x, &y, &width, &height);
    FreeBitMap(blank);
    FreeBitMap(turned);
    FreeMaskOrAlpha(turnedAlpha);
    if (code != 0 || mask == nullptr) return fail();
  } else if (width < 1 || height < 1) {
    // A script may make a rectangle of negative size (only x + width must reach the picture);
    // it covers nothing, and turned it still covers nothing. Its corners would span bounds of
    // up to 2^32 pixels a side, filled for nothing.
    width = height = 0;
  } else if (matrix[1] == 0 && matrix[2] == 0) {
    x = TruncateToInt(x * matrix[0]);
    y = TruncateToInt(y * matrix[3]);
    width = TruncateToInt(width * matrix[0]);
    height = TruncateToInt(height * matrix[3]);
  } else {
    int32_t bx, by, bw, bh;
    GetTransformedBounds(x, y, width, height, 0, 0, matrix, &bx, &by, &bw, &bh);
    if (bw < 1 || bh < 1 || bx == INT32_MIN || by == INT32_MIN) return fail();
    mask = AllocMask(bw, bh, true);
    if (mask == nullptr) return fail();
    const double cx[4] = {0, double(width) - 1, double(width) - 1, 0};
    const double cy[4] = {0, 0, double(height) - 1, double(height) - 1};
    int32_t points[8];
    for (size_t i = 0; i < 4; ++i) {
      double px = matrix[0] * cx[i] + matrix[2] * cy[i];
      double py = matrix[1] * cx[i] + matrix[3] * cy[i];
      points[2 * i] = TruncateToInt(x + px - double(bx));
      points[2 * i + 1] = TruncateToInt(y + py - double(by));
    }
    if (FillMaskShape(mask, points, 4) != 0) return fail();
    x = bx;
    y = by;
    width = bw;
    height = bh;
  }
  if (scalePosition) {
    x = TruncateToInt(x * displayX);
    y = TruncateToInt(y * displayY);
    width = TruncateToInt(width * displayX);
    height = TruncateToInt(height * displayY);
  }
  if (CutRegionToOrigin(&x, &y, &width, &height, &mask, false, true) != 0) return fail();
  region->x = x;
  region->y = y;
  region->width = width;
  region->height = height;
  region->mask = mask;
  region->bytesPerRow = mask != nullptr ? mask->bytesPerRow : 0;
  return region;
}

void FreeClipRegionNode(qvScriptState* L, qvClipRegion* region) {
  if (region == nullptr) return;
  ForgetClipRegion(region);
  FreeNode(L, region);
}

int32_t OpenClipRegions() {
  int32_t code = RegisterObjectList(&gRegions);
  return code != 0 ? code : RegisterAttributeKinds(kRows);
}

}  // namespace qv
