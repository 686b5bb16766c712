// A layer's filters: the 20 slots run on a copy of the pixels the layer draws, by descending
// priority and, within one priority, in slot order; the result is kept in the state until a
// style change clears it.
#include <cstdlib>

#include "base/errors.h"
#include "layers/layer_draw.h"

namespace qv {

namespace {

int ApplySlot(int32_t filter, const qvFilterSlot& s, qvBitMap* bitmap, qvPlane* mask,
              qvPlane* alpha, int32_t w, int32_t h) {
  const int32_t* i = s.ints;
  const float* f = s.floats;
  switch (filter) {
    case kFilterBlur:
      // The alpha is blurred along, so that the soft edge goes with the picture.
      return ConvolveBitMap('b', bitmap, alpha, w, h, f[0], f[0] / 3.0);
    case kFilterCharcoal:
      return CharcoalBitMap(bitmap, alpha, w, h, f[0], 1.0);
    case kFilterContrast:
      return ContrastBitMap(bitmap, w, h, i[0] != 0, i[1]);
    case kFilterEdge:
      return ConvolveBitMap('g', bitmap, nullptr, w, h, f[0], 0.0);
    case kFilterEmboss:
      return ConvolveBitMap('e', bitmap, nullptr, w, h, f[0], 1.0);
    case kFilterGamma:
      return GammaBitMap(bitmap, w, h, f[0], f[1], f[2]);
    case kFilterGrayscale:
      return GrayBitMap(bitmap, w, h, false);
    case kFilterInvert:
      return InvertBitMap(bitmap, w, h);
    case kFilterModulate:
      // The script gives percents (100 leaves a channel); the image engine takes factors.
      return ModulateBitMap(bitmap, w, h, f[0] / 100.0, f[1] / 100.0, f[2] / 100.0);
    case kFilterMonochrome:
      return MonochromeBitMap(bitmap, w, h, i[0] != 0);
    case kFilterOilPaint:
      return OilPaintBitMap(bitmap, w, h, f[0]);
    case kFilterPixelate:
      return PixelateBitMap(bitmap, mask, alpha, w, h, i[0]);
    case kFilterSepiaTone:
      return SepiaToneBitMap(bitmap, w, h, i[0]);
    case kFilterSharpen:
      return ConvolveBitMap('s', bitmap, nullptr, w, h, f[0], 1.0);
    case kFilterSolarize:
      return SolarizeBitMap(bitmap, w, h, i[0]);
    case kFilterSwirl:
      return SwirlBitMap(bitmap, mask, alpha, w, h, i[0]);
    case kFilterTint:
      return TintBitMap(bitmap, 0, 0, w, h, static_cast<uint32_t>(i[0]), i[1]);
    case kFilterWaterRipple:
      return WaterRippleBitMap(bitmap, mask, alpha, w, h, i[0], i[1], i[2], f[0], f[1]);
    case kFilterXFlip:
      return FlipBitMap(bitmap, mask, alpha, w, h, true);
    case kFilterYFlip:
      return FlipBitMap(bitmap, mask, alpha, w, h, false);
    default:
      return 0;
  }
}

}  // namespace

int ApplyLayerFilters(const qvFilterSlot slots[kLayerFilterCount], qvBitMap* bitmap, qvPlane* mask,
                      qvPlane* alpha, int32_t width, int32_t height) {
  bool applied[kLayerFilterCount] = {};
  // One pass a priority from the top: a slot runs in the first pass that reaches its priority,
  // so equal priorities keep the slot order.
  for (int32_t p = 255; p >= 0; --p) {
    for (int32_t i = 0; i < kLayerFilterCount; ++i) {
      if (!slots[i].on || applied[i] || slots[i].priority < p) continue;
      applied[i] = true;
      int code = ApplySlot(i, slots[i], bitmap, mask, alpha, width, height);
      if (code != 0) return code;
    }
  }
  return 0;
}

int EnsureFilteredBitmap(qvScriptState* L, qvLayer* layer, qvLayerState* state) {
  if (state->filtered.bitmap != nullptr || !HasActiveFilters(layer->filters)) return 0;
  qvLayerPixels px{};
  int code = GetLayerObjectBitmaps(L, layer, state, false, true, -1, &px);
  if (code != 0) return code;
  qvPlaneSet copy{};
  code = CopyBitMapRegion(px.bitmap, px.mask, px.alpha, px.srcX, px.srcY, px.width, px.height,
                          false, &copy.bitmap, &copy.mask, &copy.alpha);
  if (code != 0) return code;
  code = ApplyLayerFilters(layer->filters, copy.bitmap, copy.mask, copy.alpha, px.width, px.height);
  if (code != 0) {
    FreeBitMap(copy.bitmap);
    FreeMaskOrAlpha(copy.mask);
    FreeMaskOrAlpha(copy.alpha);
    return code;
  }
  state->filtered = copy;
  return 0;
}

}  // namespace qv
