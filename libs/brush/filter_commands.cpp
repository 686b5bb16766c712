// Brush commands that filter a brush's picture in place (blur, emboss, edge, sharpen, solarize,
// gamma, contrast, modulate, sepia, charcoal, oil paint, monochrome) and the two that make a new
// brush of another's shadow or border.
#include <cmath>

#include "base/errors.h"
#include "base/support.h"
#include "core/args.h"
#include "display/display.h"
#include "image/image.h"
#include "libs/brush/brush_rules.h"
#include "libs/brush/commands.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

namespace {

// BlurBrush, EmbossBrush, EdgeBrush, SharpenBrush: id [, radius [, sigma]].
int32_t Convolve(qvScriptState* L, int32_t mode, int maxArgs) {
  CheckArgCount(L, 1, maxArgs);
  qvObjectId id = CheckObjectId(L, 1);
  const double radius = VmOptNumber(L, 2, 0.0);
  const double sigma = maxArgs >= 3 ? VmOptNumber(L, 3, 1.0) : 1.0;
  if (radius < 0) return ERR_WRONGUSAGE;
  qvBrush* brush = nullptr;
  int code = FindBrushToModify(L, id, kModifyRaster, &brush);
  if (code != 0) return code;
  return ConvolveBitMap(mode, brush->bitmap, brush->alpha, brush->width, brush->height, radius,
                        sigma);
}

// SolarizeBrush and SepiaToneBrush: id, threshold level.
int32_t WithThreshold(qvScriptState* L, int (*filter)(qvBitMap*, int32_t, int32_t, int32_t)) {
  CheckArgCount(L, 2, 2);
  qvObjectId id = CheckObjectId(L, 1);
  const int32_t threshold = CheckLevel(L, 2);
  qvBrush* brush = nullptr;
  int code = FindBrushToModify(L, id, kModifyRaster, &brush);
  if (code != 0) return code;
  return filter(brush->bitmap, brush->width, brush->height, threshold);
}

// CreateShadowBrush and CreateBorderBrush: new id, source id, colour [, size [, softness]].
int32_t MakeShadow(qvScriptState* L, bool border) {
  CheckArgCount(L, 3, 5);
  qvOptionalId optional = OptObjectId(L, 1);
  qvObjectId source = CheckObjectId(L, 2);
  const auto colour = static_cast<uint32_t>(DoubleToInt32(VmCheckNumber(L, 3))) & 0xFFFFFFu;
  double size = VmOptNumber(L, 4, 5.0);
  if (!(size > 0)) size = 0;
  double softness = VmGetTop(L) >= 5 ? VmCheckNumber(L, 5) : size / 3.0;
  if (!(softness > 0)) softness = 0;
  qvBrush* src = nullptr;
  int code = FindBrush(L, source, &src, kFindRasterOnly | kFindHardware);
  if (code != 0) return code;
  // The new bitmap is the largest plane: one over 2^31 bytes is refused before anything is made.
  const double side = std::trunc(size);
  if ((src->width + 2 * side) * (src->height + 2 * side) * 4 > 2147483648.0) return ERR_MEM;
  // The new planes are made before the new id is released, so that a brush may be replaced by
  // its own shadow.
  qvPlane* alpha = BuildShadowAlpha(src->alpha, src->mask, 0, 0, src->width, src->height, size,
                                    softness, 255, border, border && size >= 4);
  if (!alpha) return ERR_MEM;
  const int32_t width = alpha->width, height = alpha->height;
  qvBitMap* bitmap = AllocBitMap(width, height);
  if (!bitmap) {
    FreeMaskOrAlpha(alpha);
    return ERR_MEM;
  }
  FillBitMapRect(bitmap, 0, 0, width, height, colour);
  qvObjectId id{optional.number, nullptr};
  if (!optional.automatic) code = ReleaseBrushId(L, id, false);
  if (code != 0) {
    FreeBitMap(bitmap);
    FreeMaskOrAlpha(alpha);
    return code;
  }
  code = AddRasterBrush(&id, optional.automatic != 0, width, height, bitmap, kNoTransparentColour,
                        nullptr, alpha, nullptr);
  if (code != 0) return code;
  return FinishNewBrush(L, optional, id);
}

}  // namespace

int32_t BlurBrush(qvScriptState* L) { return Convolve(L, 'b', 3); }
int32_t EmbossBrush(qvScriptState* L) { return Convolve(L, 'e', 2); }
int32_t EdgeBrush(qvScriptState* L) { return Convolve(L, 'g', 2); }
int32_t SharpenBrush(qvScriptState* L) { return Convolve(L, 's', 2); }

int32_t SolarizeBrush(qvScriptState* L) { return WithThreshold(L, SolarizeBitMap); }

int32_t GammaBrush(qvScriptState* L) {
  CheckArgCount(L, 4, 4);
  qvObjectId id = CheckObjectId(L, 1);
  const double red = VmCheckNumber(L, 2), green = VmCheckNumber(L, 3), blue = VmCheckNumber(L, 4);
  qvBrush* brush = nullptr;
  int code = FindBrushToModify(L, id, kModifyRaster, &brush);
  if (code != 0) return code;
  return GammaBitMap(brush->bitmap, brush->width, brush->height, red, green, blue);
}

int32_t ContrastBrush(qvScriptState* L) {
  CheckArgCount(L, 2, 3);
  qvObjectId id = CheckObjectId(L, 1);
  const bool sharpen = VmCheckNumber(L, 2) != 0;
  const int32_t times = VmOptInt(L, 3, 1);
  if (times < 1) return ERR_WRONGUSAGE;
  qvBrush* brush = nullptr;
  int code = FindBrushToModify(L, id, kModifyRaster, &brush);
  if (code != 0) return code;
  return ContrastBitMap(brush->bitmap, brush->width, brush->height, sharpen, times);
}

int32_t ModulateBrush(qvScriptState* L) {
  CheckArgCount(L, 4, 4);
  qvObjectId id = CheckObjectId(L, 1);
  const double brightness = VmCheckNumber(L, 2), saturation = VmCheckNumber(L, 3),
               hue = VmCheckNumber(L, 4);
  if (brightness < 0 || saturation < 0 || hue < 0) return ERR_WRONGUSAGE;
  qvBrush* brush = nullptr;
  int code = FindBrushToModify(L, id, kModifyRaster, &brush);
  if (code != 0) return code;
  return ModulateBitMap(brush->bitmap, brush->width, brush->height, brightness, saturation, hue);
}

int32_t SepiaToneBrush(qvScriptState* L) { return WithThreshold(L, SepiaToneBitMap); }

int32_t CharcoalBrush(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvObjectId id = CheckObjectId(L, 1);
  const double radius = VmCheckNumber(L, 2);
  if (radius < 0) return ERR_WRONGUSAGE;
  qvBrush* brush = nullptr;
  int code = FindBrushToModify(L, id, kModifyRaster, &brush);
  if (code != 0) return code;
  return CharcoalBitMap(brush->bitmap, brush->alpha, brush->width, brush->height, radius, 1.0);
}

int32_t OilPaintBrush(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvObjectId id = CheckObjectId(L, 1);
  const double radius = VmCheckNumber(L, 2);
  if (radius < 0) return ERR_WRONGUSAGE;
  qvBrush* brush = nullptr;
  int code = FindBrushToModify(L, id, kModifyRaster, &brush);
  if (code != 0) return code;
  return OilPaintBitMap(brush->bitmap, brush->width, brush->height, radius);
}

int32_t BrushToMonochrome(qvScriptState* L) {
  CheckArgCount(L, 1, 2);
  qvObjectId id = CheckObjectId(L, 1);
  const bool dither = VmOptNumber(L, 2, 1) != 0;
  qvBrush* brush = nullptr;
  int code = FindBrushToModify(L, id, kModifyRaster, &brush);
  if (code != 0) return code;
  return MonochromeBitMap(brush->bitmap, brush->width, brush->height, dither);
}

int32_t CreateShadowBrush(qvScriptState* L) { return MakeShadow(L, false); }
int32_t CreateBorderBrush(qvScriptState* L) { return MakeShadow(L, true); }

}  // namespace qv::cmd
