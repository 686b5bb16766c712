// Brush commands over a brush's transparency: the colour key, the mask and the alpha channel,
// and how drawing changes a selected mask or alpha channel.
#include "base/errors.h"
#include "base/support.h"
#include "core/args.h"
#include "core/registry.h"
#include "display/brush_edit.h"
#include "display/display.h"
#include "libs/brush/brush_rules.h"
#include "libs/brush/commands.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

namespace {

// The mask modes a script can name: MASKVISIBLE .. MASKOR.
constexpr int32_t kLastMaskMode = 5;
constexpr int32_t kVanillaCopy = -1;

int32_t SetDrawAttribute(uint32_t tag, int32_t value) {
  const qvAttrSetItem items[] = {{tag, value}, {0, 0}};
  SetRuntimeAttrs(nullptr, items);
  return 0;
}

}  // namespace

int32_t SetBrushTransparency(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvObjectId id = CheckObjectId(L, 1);
  auto colour = static_cast<uint32_t>(DoubleToInt32(VmCheckNumber(L, 2)));
  qvBrush* brush = nullptr;
  int code = FindBrushToModify(L, id, kModifyRaster, &brush);
  if (code != 0) return code;
  return KeyBrushColour(brush, colour);
}

int32_t SetMaskMode(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  int32_t mode = VmCheckInt(L, 1);
  if (mode < 0 || mode > kLastMaskMode) return ERR_WRONGUSAGE;
  return SetDrawAttribute(kAttrMaskMode, mode);
}

int32_t SetAlphaIntensity(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  double value = GetNumberOrPercent(L, 1, 255, 0, nullptr);
  int32_t intensity = TruncateToInt(value);
  if (intensity != kVanillaCopy && (intensity < 0 || intensity > 255)) return ERR_WRONGUSAGE;
  return SetDrawAttribute(kAttrAlphaIntensity, intensity);
}

int32_t DeleteAlphaChannel(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvBrush* brush = nullptr;
  int code = CheckBrushToModify(L, 1, kModifyRaster, &brush);
  if (code != 0) return code;
  FreeMaskOrAlpha(brush->alpha);
  brush->alpha = nullptr;
  return 0;
}

int32_t InvertMask(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvBrush* brush = nullptr;
  int code = CheckBrushToModify(L, 1, kModifyRaster, &brush);
  if (code != 0) return code;
  return InvertBrushMask(brush);
}

int32_t InvertAlphaChannel(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvBrush* brush = nullptr;
  int code = CheckBrushToModify(L, 1, kModifyRaster, &brush);
  if (code != 0) return code;
  return InvertBrushAlpha(brush);
}

int32_t DeleteMask(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvBrush* brush = nullptr;
  int code = CheckBrushToModify(L, 1, kModifyRaster, &brush);
  if (code != 0) return code;
  FreeMaskOrAlpha(brush->mask);
  brush->mask = nullptr;
  return 0;
}

int32_t ChangeBrushTransparency(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvObjectId id = CheckObjectId(L, 1);
  int32_t kind = VmCheckInt(L, 2);
  if (kind != kObjectMask && kind != kObjectAlphaChannel && kind != kTransparencyNone) {
    return ERR_WRONGUSAGE;
  }
  qvBrush* brush = nullptr;
  int code = FindBrushToModify(L, id, kModifyRaster, &brush);
  if (code != 0) return code;
  return ChangeBrushTransparencyKind(brush, kind);
}

}  // namespace qv::cmd
