// Brush commands over the effect kernels: SwirlBrush, PixelateBrush, WaterRippleBrush.
#include "base/errors.h"
#include "core/args.h"
#include "display/display.h"
#include "libs/brush/brush_rules.h"
#include "libs/brush/commands.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

int32_t SwirlBrush(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvObjectId id = CheckObjectId(L, 1);
  int32_t degrees = VmCheckInt(L, 2);
  qvBrush* brush = nullptr;
  if (int code = FindBrushToModify(L, id, kModifyRaster, &brush); code != 0) return code;
  return SwirlBitMap(brush->bitmap, brush->mask, brush->alpha, brush->width, brush->height,
                     degrees);
}

int32_t PixelateBrush(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvObjectId id = CheckObjectId(L, 1);
  int32_t size = VmCheckInt(L, 2);
  if (size < 1) return ERR_WRONGUSAGE;
  qvBrush* brush = nullptr;
  if (int code = FindBrushToModify(L, id, kModifyRaster, &brush); code != 0) return code;
  return PixelateBitMap(brush->bitmap, brush->mask, brush->alpha, brush->width, brush->height,
                        size);
}

int32_t WaterRippleBrush(qvScriptState* L) {
  CheckArgCount(L, 1, 6);
  qvObjectId id = CheckObjectId(L, 1);
  double wavelength = VmOptNumber(L, 2, 32);
  double amplitude = VmOptNumber(L, 3, 1);
  double phase = VmOptNumber(L, 4, 0);
  double centreX = VmOptNumber(L, 5, 0.5);
  double centreY = VmOptNumber(L, 6, 0.5);
  qvBrush* brush = nullptr;
  if (int code = FindBrushToModify(L, id, kModifyRaster, &brush); code != 0) return code;
  return WaterRippleBitMap(brush->bitmap, brush->mask, brush->alpha, brush->width, brush->height,
                           wavelength, amplitude, phase, centreX, centreY);
}

}  // namespace qv::cmd
