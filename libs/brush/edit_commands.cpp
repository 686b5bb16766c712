// Brush commands that rework a brush's picture in place or into a new size: scaling, turning,
// colours, mixing, cutting, trimming, filling and making a vector brush raster.
#include <cmath>
#include <vector>

#include "base/errors.h"
#include "base/support.h"
#include "core/args.h"
#include "display/brush_edit.h"
#include "display/display.h"
#include "libs/brush/brush_rules.h"
#include "libs/brush/commands.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

namespace {

// A scale factor of RotateBrush: 0 and NaN turn the picture into nothing.
bool UsableScale(double scale) { return scale == scale && scale != 0.0; }

}  // namespace

int32_t ScaleBrush(qvScriptState* L) {
  CheckArgCount(L, 3, 4);
  qvBrush* brush = nullptr;
  int code = CheckBrushToModify(L, 1, kModifyAnyKind, &brush);
  if (code != 0) return code;
  int32_t width = DoubleToInt32(GetNumberOrPercent(L, 2, brush->width, 1, nullptr));
  int32_t height = DoubleToInt32(GetNumberOrPercent(L, 3, brush->height, 1, nullptr));
  bool smooth = VmOptInt(L, 4, 0) != 0;
  code = ResolveScaleSize(brush->width, brush->height, &width, &height);
  if (code != 0) return code;
  return ScaleBrushTo(brush, width, height, smooth);
}

int32_t TintBrush(qvScriptState* L) {
  CheckArgCount(L, 3, 3);
  qvObjectId id = CheckObjectId(L, 1);
  auto colour = static_cast<uint32_t>(DoubleToInt32(VmCheckNumber(L, 2)));
  int32_t level = CheckLevel(L, 3);
  qvBrush* brush = nullptr;
  int code = FindBrushToModify(L, id, kModifyRaster, &brush);
  if (code != 0) return code;
  return TintBitMap(brush->bitmap, 0, 0, brush->width, brush->height, colour & 0xFFFFFF, level);
}

int32_t ReplaceColors(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvObjectId id = CheckObjectId(L, 1);
  VmCheckTable(L, 2);
  std::vector<uint32_t> pairs;
  for (int i = 0;; i += 2) {
    VmRawGetI(L, 2, i);
    if (VmType(L, -1) == kTypeNil) {
      VmSetTop(L, -2);
      break;
    }
    VmRawGetI(L, 2, i + 1);
    if (VmType(L, -1) == kTypeNil) {
      VmSetTop(L, -3);
      return ERR_MISSINGPARAMTR;
    }
    if (VmType(L, -2) != kTypeNumber || VmType(L, -1) != kTypeNumber) {
      VmSetTop(L, -3);
      return ERR_NUMTABLEARG;
    }
    pairs.push_back(static_cast<uint32_t>(DoubleToInt32(VmToNumber(L, -2))));
    pairs.push_back(static_cast<uint32_t>(DoubleToInt32(VmToNumber(L, -1))));
    VmSetTop(L, -3);
  }
  qvBrush* brush = nullptr;
  int code = FindBrushToModify(L, id, kModifyRaster, &brush);
  if (code != 0) return code;
  return ReplaceBrushColours(brush, pairs);
}

int32_t InvertBrush(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvBrush* brush = nullptr;
  int code = CheckBrushToModify(L, 1, kModifyRaster, &brush);
  if (code != 0) return code;
  return InvertBitMap(brush->bitmap, brush->width, brush->height);
}

int32_t FlipBrush(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvObjectId id = CheckObjectId(L, 1);
  bool leftRight = VmCheckInt(L, 2) != 0;
  qvBrush* brush = nullptr;
  int code = FindBrushToModify(L, id, kModifyRaster, &brush);
  if (code != 0) return code;
  return FlipBitMap(brush->bitmap, brush->mask, brush->alpha, brush->width, brush->height,
                    leftRight);
}

int32_t MixBrush(qvScriptState* L) {
  CheckArgCount(L, 3, 3);
  qvObjectId id = CheckObjectId(L, 1);
  qvObjectId sourceId = CheckObjectId(L, 2);
  int32_t level = CheckLevel(L, 3);
  qvBrush* brush = nullptr;
  int code = FindBrushToModify(L, id, kModifyRaster, &brush);
  if (code != 0) return code;
  qvBrush* source = nullptr;
  code = FindBrush(L, sourceId, &source, kFindRasterOnly);
  if (code != 0) return code;
  return MixBrushInto(brush, source, level);
}

int32_t BrushToGray(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvBrush* brush = nullptr;
  int code = CheckBrushToModify(L, 1, kModifyRaster, &brush);
  if (code != 0) return code;
  return GrayBitMap(brush->bitmap, brush->width, brush->height, false);
}

int32_t RotateBrush(qvScriptState* L) {
  CheckArgCount(L, 2, 5);
  qvObjectId id = CheckObjectId(L, 1);
  double angle = VmCheckNumber(L, 2);
  double scaleX = VmOptNumber(L, 3, 1.0);
  double scaleY = VmOptNumber(L, 4, 1.0);
  bool smooth = VmOptInt(L, 5, 0) != 0;
  if (!UsableScale(scaleX) || !UsableScale(scaleY) || !std::isfinite(angle)) {
    return ERR_WRONGUSAGE;
  }
  qvBrush* brush = nullptr;
  int code = FindBrushToModify(L, id, kModifyAnyKind, &brush);
  if (code != 0) return code;
  qvTransformBlock block{};
  BuildTransformMatrix(&block, 0, 0, brush->width, brush->height, scaleX, scaleY, angle);
  return TransformBrushBy(brush, block.matrix, smooth);
}

int32_t TransformBrush(qvScriptState* L) {
  CheckArgCount(L, 5, 6);
  qvObjectId id = CheckObjectId(L, 1);
  double matrix[4];
  for (int i = 0; i < 4; ++i) matrix[i] = VmCheckNumber(L, 2 + i);
  bool smooth = VmOptInt(L, 6, 0) != 0;
  // A matrix of NaN or infinities maps the picture nowhere.
  for (double m : matrix) {
    if (!std::isfinite(m)) return ERR_WRONGUSAGE;
  }
  qvBrush* brush = nullptr;
  int code = FindBrushToModify(L, id, kModifyAnyKind, &brush);
  if (code != 0) return code;
  return TransformBrushBy(brush, matrix, smooth);
}

int32_t CropBrush(qvScriptState* L) {
  CheckArgCount(L, 5, 5);
  qvObjectId id = CheckObjectId(L, 1);
  int32_t x = VmCheckInt(L, 2);
  int32_t y = VmCheckInt(L, 3);
  int32_t width = VmCheckInt(L, 4);
  int32_t height = VmCheckInt(L, 5);
  if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
  qvBrush* brush = nullptr;
  int code = FindBrushToModify(L, id, kModifyRaster, &brush);
  if (code != 0) return code;
  x = ResolveCoordX(x, width, brush->width, 0.0);
  y = ResolveCoordY(y, height, brush->height, 0.0);
  return CropBrushTo(brush, x, y, width, height);
}

int32_t FloodFill(qvScriptState* L) {
  CheckArgCount(L, 3, 5);
  qvObjectId id = CheckObjectId(L, 1);
  int32_t x = VmCheckInt(L, 2);
  int32_t y = VmCheckInt(L, 3);
  // The fill colour, then the border colour, which is the fill colour when not given: the
  // outline a script drew in one colour is filled in that colour.
  auto fill = static_cast<uint32_t>(DoubleToInt32(VmOptNumber(L, 4, 0)));
  auto border = VmGetTop(L) >= 5 ? static_cast<uint32_t>(DoubleToInt32(VmCheckNumber(L, 5))) : fill;
  qvBrush* brush = nullptr;
  int code = FindBrushToModify(L, id, kModifyRaster, &brush);
  if (code != 0) return code;
  x = ResolveCoordX(x, 1, brush->width, 0.0);
  y = ResolveCoordY(y, 1, brush->height, 0.0);
  if (x < 0 || y < 0) return ERR_NEGCOORDS;
  if (x >= brush->width || y >= brush->height) return ERR_COORDSRANGE;
  return FloodFillBrush(brush, x, y, border, fill);
}

int32_t TrimBrush(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvBrush* brush = nullptr;
  int code = CheckBrushToModify(L, 1, kModifyRaster, &brush);
  if (code != 0) return code;
  int32_t x = 0, y = 0, width = 0, height = 0;
  code = TrimBrushToVisible(brush, &x, &y, &width, &height);
  if (code != 0) return code;
  VmPushNumber(L, x);
  VmPushNumber(L, y);
  VmPushNumber(L, width);
  VmPushNumber(L, height);
  return 4;
}

int32_t RasterizeBrush(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvBrush* brush = nullptr;
  int code = CheckBrushToModify(L, 1, kModifyAnyKind, &brush);
  if (code != 0) return code;
  return RasterizeVectorBrush(brush);
}

}  // namespace qv::cmd
