// The compositor with layers (see layers/layer_draw.h).
#include "layers/layer_draw.h"

#include "base/errors.h"

namespace qv {

void Redraw(qvScriptState*, qvDisplay*, qvBGPic*, qvBitMap*, int32_t, int32_t, int32_t, int32_t,
            int32_t) {}

int DrawLayerObject(qvScriptState*, qvDisplay*, qvLayer*, qvLayerState*, const qvTransformBlock&,
                    int32_t) {
  return 0;
}

int GetLayerObjectBitmaps(qvScriptState*, const qvLayer*, const qvLayerState*, bool, bool, int32_t,
                          qvLayerPixels* out) {
  *out = {};
  return ERR_WRONGUSAGE;
}

void LayerStateScale(const qvDisplay*, const qvBGPic*, const qvLayer*, const qvLayerState*,
                     double* scaleX, double* scaleY) {
  *scaleX = *scaleY = 1.0;
}

int DrawLayer(qvScriptState*, qvLayer*, const qvLayerState*, uint32_t, int32_t, double, double,
              qvBorderRender* out) {
  *out = {};
  return ERR_MEM;
}

int BuildLayerBorder(qvScriptState*, qvLayer*, qvLayerState*, double, double, qvLayerArea* out) {
  if (out != nullptr) *out = {};
  return 0;
}

qvLayerArea GetShadowRect(const qvLayer*, const qvLayerState* state, double, double) {
  return {state->drawX, state->drawY, state->drawWidth, state->drawHeight};
}

int EnsureFilteredBitmap(qvScriptState*, qvLayer*, qvLayerState*) { return 0; }

int ApplyLayerFilters(const qvFilterSlot*, qvBitMap*, qvPlane*, qvPlane*, int32_t, int32_t) {
  return 0;
}

int DrawClippedLayerBitmap(qvScriptState*, const qvBitMap*, const qvPlane*, const qvPlane*, int32_t,
                           int32_t, qvBitMap*, int32_t, int32_t, int32_t, int32_t, int32_t,
                           const qvClipRegion*) {
  return 0;
}

int32_t GetRotatedInset(const double*, int32_t, int32_t, int32_t border) { return border; }

}  // namespace qv
