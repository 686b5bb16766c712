// Clip regions: the rectangles, optionally shaped by a 1-bit mask, that limit drawing into the
// output target. The region record itself is in display/output.h beside the blits that honour it.
//
// Drawing code that writes pixels on its own road (not through SafeBlt) asks here whether the
// current region has a mask and whether a pixel lies inside it. Script thread only.
#pragma once

#include <cstdint>

#include "core/registry.h"
#include "display/output.h"

namespace qv {

qvObjectHeader** ClipRegionListHead();

// What CreateClipRegion makes: a plain rectangle (kObjectBox) of x, y, width, height, or a region
// of a brush's size shaped by its mask (kObjectMask) at x, y.
struct qvClipRegionRequest {
  int32_t kind;
  int32_t x, y, width, height;
  qvObjectId brush;
};
// Makes a region and appends it to the list: a chosen number that exists frees that region first
// (a missing one is no error); x and y are resolved against the output target's size; the part
// left of or above the target's origin is cut off. ERR_WRONGUSAGE for another kind or when
// x + width or y + height is below 1, FindBrush's codes, ERR_NOMASKBRUSH for a brush without a
// mask, ERR_MEM; nothing is made and the list is unchanged on failure. The brush keeps its mask.
int CreateClipRegion(qvScriptState* L, qvObjectId* id, bool automatic,
                     const qvClipRegionRequest& request, qvClipRegion** out);
// Sets the output target's region (none: clears it): the text cursor goes to the region's left
// edge at row 0 and the margins to its columns (without a region, to the target's width).
// ERR_WRONGUSAGE without a display or while a mask or alpha channel is the output, the finder's
// codes, ERR_WRONGCLIPREG when the region does not lie inside the target.
int SetClipRegion(qvScriptState* L, qvObjectId id, bool none);

// FindClipRegion flags (the values of FindBrush's).
enum : int32_t {
  kFindClipModify = 1,       // ERR_LOCKEDOBJ for a locked region
  kFindClipLayerCopies = 2,  // layer copies count too
  kFindClipNoCopy = 4,       // modify without detaching the region from the layers that show it
};
// 0 with the region, ERR_FINDARRAY for a handle that names none, ERR_FINDCLIPREGION with the
// number stored; ERR_LOCKEDOBJ; ERR_MEM when a copy for the layers cannot be made.
int FindClipRegion(qvScriptState* L, qvObjectId id, qvClipRegion** out, int32_t flags);
// Frees the region (layer copies excluded) and every reference to it: the output targets and
// BGPics that clip by it, and whatever the holders keep; while a layer still shows it, it stays as
// a layer copy. 0, or the finder's codes when mustExist (else a missing region is no error).
int FreeClipRegionCore(qvScriptState* L, qvObjectId id, bool mustExist);
// Frees every layer copy that no layer shows any more.
void PurgeDetachedClipRegions(qvScriptState* L);
// Library teardown: every region with its mask, after every reference is dropped.
void FreeAllClipRegions(qvScriptState* L);

// Drawing records beyond the output targets that keep a region (layer states, sprite entries on
// screen): each registers a function that drops its references to a region being freed. 0 or
// ERR_MEM; removing one that is not registered does nothing.
using qvClipRegionForget = void (*)(const qvClipRegion* region);
int32_t AddClipRegionHolder(qvClipRegionForget forget);
void RemoveClipRegionHolder(qvClipRegionForget forget);
// Drops every reference to the region: every listed BGPic, every display's BGPic, selection and
// double-buffer records, and the holders.
void ForgetClipRegion(const qvClipRegion* region);

// Cuts a region's rectangle to the origin: a negative x shortens the width by -x and moves the
// mask start right by -x (x becomes 0), the same for y. Without a cut a mask is duplicated only
// when `copy` is set; with one a new mask of the reduced size is filled from the old one at the
// offset. The old mask is freed when `freeOld` is set and a new one was made. 0 or ERR_MEM (then
// nothing changed and the old mask is not freed).
int CutRegionToOrigin(int32_t* x, int32_t* y, int32_t* width, int32_t* height, qvPlane** mask,
                      bool copy, bool freeOld);

// A locked region for a layer (not listed): the region's mask transformed by the scale factors
// and the matrix; a plain rectangle under a matrix without rotation scaled by its diagonal;
// any other rectangle as the mask of its transformed corners. With useDisplayScale the matrix is
// the current display's scale; with scaledDisplay (and not useDisplayScale) the position and
// size are then scaled by the display's factors. Null on failure. FreeClipRegionNode frees it.
qvClipRegion* BuildTransformedClipRegion(const qvClipRegion* region, double scaleX, double scaleY,
                                         const double matrix[4], bool scaledDisplay,
                                         bool useDisplayScale);
// Frees an unlinked region with its mask and name (null is allowed).
void FreeClipRegionNode(qvScriptState* L, qvClipRegion* region);

// Registers the list and GetAttribute's row of CLIPREGION (x, y, width, height, count). 0 or an
// error code.
int32_t OpenClipRegions();

// The output target's clip region, or null (no display, no target, or no region set).
const qvClipRegion* CurrentClipRegion();

// True when the region limits drawing by a mask as well as its rectangle: fast roads that clip
// only to the rectangle must then test every pixel (ClipRegionAdmits) or draw through SafeBlt.
inline bool ClipRegionHasMask(const qvClipRegion* region) {
  return region != nullptr && region->mask != nullptr;
}

// True when the pixel (x, y) of the output target may be drawn: there is no region, or the pixel
// lies inside the region's rectangle and, with a mask, on a set bit (the mask is indexed from
// the region's corner).
inline bool ClipRegionAdmits(const qvClipRegion* region, int32_t x, int32_t y) {
  if (region == nullptr) return true;
  int64_t cx = int64_t{x} - region->x, cy = int64_t{y} - region->y;
  if (cx < 0 || cy < 0 || cx >= region->width || cy >= region->height) return false;
  if (region->mask == nullptr) return true;
  const uint8_t* row = region->mask->data + cy * region->mask->bytesPerRow;
  return (row[cx >> 3] >> (7 - (cx & 7))) & 1;
}

// The row of the region's mask that covers row y of the output target, for a loop over one row
// that tests its pixels with ClipMaskRowAdmits; null when the region has no mask or the row lies
// outside the region.
inline const uint8_t* ClipMaskRow(const qvClipRegion* region, int32_t y) {
  if (!ClipRegionHasMask(region)) return nullptr;
  int64_t cy = int64_t{y} - region->y;
  if (cy < 0 || cy >= region->height) return nullptr;
  return region->mask->data + cy * region->mask->bytesPerRow;
}
// Whether column x of the output target is set in a row that ClipMaskRow gave (x must lie inside
// the region's columns).
inline bool ClipMaskRowAdmits(const qvClipRegion* region, const uint8_t* row, int32_t x) {
  int32_t cx = x - region->x;
  return (row[cx >> 3] >> (7 - (cx & 7))) & 1;
}

}  // namespace qv
