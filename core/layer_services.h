// What the player core asks of the layers subsystem, which stands above it: the layers code
// registers its services at start-up. Until it does (and in programs without layers) there is no
// current BGPic and no layer, so every lookup answers "not found".
#pragma once

#include <cstdint>

namespace qv {

struct qvBGPic;

struct qvLayerServices {
  // The BGPic that the current display shows, or null.
  qvBGPic* (*currentBGPic)();
  // The 1-based position of the layer of that name (without regard to case) in the BGPic's layer
  // list, 0 when there is none.
  int32_t (*findLayerByName)(qvBGPic* bgpic, const char* name);
};

// Registers the services (kept, not copied; null forgets them). Start-up, before scripts run.
void SetLayerServices(const qvLayerServices* services);

// The lookups through the registered services.
qvBGPic* CurrentBGPic();
int32_t FindLayerByName(qvBGPic* bgpic, const char* name);

}  // namespace qv
