// What the draw primitives' files share: the clip of the output target and the road into the
// output's planes and the display's window.
#pragma once

#include <cstdint>

#include "display/display.h"

namespace qv::draw {

// The output target's clip: its region's rectangle (or the whole target) and the region's mask.
struct Clip {
  int32_t x, y, width, height;
  const qvClipRegion* region;  // or null
  bool Inside(int64_t px, int64_t py) const;
  // The mask bit at the point (true without a mask); the point lies inside the rectangle.
  bool MaskAllows(int64_t px, int64_t py) const;
  bool HasMask() const { return region != nullptr && region->mask != nullptr; }
};
Clip OutputClip(const qvBGPic* target);

// Binds a brush, mask or alpha output that is not bound yet. 0 or BindOutputDevice's error.
int BindForDrawing(qvScriptState* L, qvDisplay* d);

// Cuts the rectangle to the clip rectangle; false when nothing is left.
bool CutToClip(const Clip& clip, int32_t* x, int32_t* y, int32_t* width, int32_t* height);

// Brings a rectangle of the display bitmap to the window: unscaled straight, scaled through the
// window-size bitmap (which must already hold it) and the stretched refresh.
void ShowDisplayRect(qvDisplay* d, int32_t x, int32_t y, int32_t width, int32_t height);

}  // namespace qv::draw
