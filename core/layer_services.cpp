#include "core/layer_services.h"

namespace qv {

namespace {
const qvLayerServices* gServices;
}  // namespace

void SetLayerServices(const qvLayerServices* services) { gServices = services; }

qvBGPic* CurrentBGPic() { return gServices != nullptr ? gServices->currentBGPic() : nullptr; }

int32_t FindLayerByName(qvBGPic* bgpic, const char* name) {
  return gServices != nullptr ? gServices->findLayerByName(bgpic, name) : 0;
}

}  // namespace qv
