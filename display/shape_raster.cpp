// Rasterising shape outlines into pictures with a mask or an alpha channel (display/shapes.h).
#include "base/errors.h"
#include "display/shapes.h"

namespace qv {

void FreeShapeImage(qvShapeImage* image) {
  FreeBitMap(image->bitmap);
  FreeMaskOrAlpha(image->mask);
  FreeMaskOrAlpha(image->alpha);
  *image = qvShapeImage{};
}

int RasteriseShape(qvScriptState*, const qvShapeOutline&, const qvRasterRequest&,
                   qvShapeImage* out) {
  *out = qvShapeImage{};
  return ERR_MEM;
}

int DrawThroughRenderRecord(const qvRenderTarget&, int32_t, const qvPointI*, int32_t, int32_t, bool,
                            uint32_t, int32_t, int32_t) {
  return 0;
}

void ComposeFormLayers(const qvFormLayers&) {}

int TextureFill(qvScriptState*, qvBitMap*, int32_t, int32_t, int32_t, int32_t, const qvDrawStyle&,
                const qvShapeMatrix&, bool) {
  return 0;
}

int DrawAntialiasedShape(const qvPointI*, int32_t, int32_t, int32_t, uint32_t, bool, int32_t,
                         qvShapeImage* out) {
  *out = qvShapeImage{};
  return ERR_MEM;
}

}  // namespace qv
