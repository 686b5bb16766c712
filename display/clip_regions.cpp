// Clip regions: the list of regions, their commands and the references that drawing records keep
// to them.
#include "display/clip_regions.h"

#include "display/display.h"

namespace qv {

const qvClipRegion* CurrentClipRegion() {
  const qvBGPic* target = OutputTarget();
  return target != nullptr ? target->clipRegion : nullptr;
}

}  // namespace qv
