// Clip regions: the rectangles, optionally shaped by a 1-bit mask, that limit drawing into the
// output target. The region record itself is in display/output.h beside the blits that honour it.
//
// Drawing code that writes pixels on its own road (not through SafeBlt) asks here whether the
// current region has a mask and whether a pixel lies inside it. Script thread only.
#pragma once

#include <cstdint>

#include "display/output.h"

namespace qv {

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
