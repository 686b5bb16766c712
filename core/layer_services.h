// What the player core asks of the layers subsystem. Until that subsystem and the displays
// exist there is no current BGPic and no layer, so every lookup answers "not found"; the
// subsystem replaces core/layer_services.cpp with the real lookups.
#pragma once

#include <cstdint>

namespace qv {

struct qvBGPic;

// The BGPic that the current display shows, or null.
qvBGPic* CurrentBGPic();
// The 1-based position of the layer of that name (without regard to case) in the BGPic's layer
// list, 0 when there is none.
int32_t FindLayerByName(qvBGPic* bgpic, const char* name);

}  // namespace qv
