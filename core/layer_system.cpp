#include "core/layer_system.h"

#include "base/errors.h"

namespace qv {

namespace {
const qvLayerSystem* gSystem = nullptr;
}  // namespace

void RegisterLayerSystem(const qvLayerSystem* system) { gSystem = system; }

bool HasCompositor() { return gSystem != nullptr && gSystem->redraw != nullptr; }

int32_t FindLayerByName(const char* name) {
  return gSystem != nullptr && gSystem->findLayerByName != nullptr ? gSystem->findLayerByName(name)
                                                                   : 0;
}

int32_t CountLayers(const qvBGPic* bgpic) {
  return gSystem != nullptr && gSystem->countLayers != nullptr && bgpic != nullptr
             ? gSystem->countLayers(bgpic)
             : 0;
}

bool IsShownByLayer(int32_t kind, qvObjectId id, const qvLayer* except) {
  return gSystem != nullptr && gSystem->isShownByLayer != nullptr &&
         gSystem->isShownByLayer(kind, id, except);
}

bool RepointLayers(int32_t kind, qvObjectId id, void* newHandle) {
  return gSystem != nullptr && gSystem->repointLayers != nullptr &&
         gSystem->repointLayers(kind, id, newHandle);
}

bool RectHitsSprites(const qvBGPic* target, int32_t x, int32_t y, int32_t width, int32_t height) {
  return gSystem != nullptr && gSystem->rectHitsSprites != nullptr && target != nullptr &&
         gSystem->rectHitsSprites(target, x, y, width, height);
}

void RedrawLayers(qvScriptState* L, qvDisplay* display, qvBGPic* target, qvBitMap* dst, int32_t x,
                  int32_t y, int32_t width, int32_t height, int32_t flags, int32_t mode) {
  if (HasCompositor()) gSystem->redraw(L, display, target, dst, x, y, width, height, flags, mode);
}

int AddObjectLayer(qvScriptState* L, const qvObjectLayerArgs& args) {
  return gSystem != nullptr && gSystem->addObjectLayer != nullptr ? gSystem->addObjectLayer(L, args)
                                                                  : ERR_NOLAYERS;
}

void EndLayerTarget(qvBGPic* bgpic) {
  if (gSystem != nullptr && gSystem->endLayerTarget != nullptr && bgpic != nullptr) {
    gSystem->endLayerTarget(bgpic);
  }
}

qvLayer* LayerAt(const qvBGPic* bgpic, int32_t position) {
  return gSystem != nullptr && gSystem->layerAt != nullptr && bgpic != nullptr
             ? gSystem->layerAt(bgpic, position)
             : nullptr;
}

void LayerPlace(const qvLayer* layer, int32_t* x, int32_t* y, int32_t* width, int32_t* height) {
  *x = *y = *width = *height = 0;
  if (gSystem != nullptr && gSystem->layerPlace != nullptr) {
    gSystem->layerPlace(layer, x, y, width, height);
  }
}

void MoveLayerTo(qvScriptState* L, qvBGPic* bgpic, qvLayer* layer, int32_t x, int32_t y) {
  if (gSystem != nullptr && gSystem->moveLayer != nullptr)
    gSystem->moveLayer(L, bgpic, layer, x, y);
}

void FreeBGPicLayers(qvScriptState* L, qvBGPic* bgpic) {
  if (gSystem != nullptr && gSystem->freeLayers != nullptr && bgpic != nullptr) {
    gSystem->freeLayers(L, bgpic);
  }
}

}  // namespace qv
