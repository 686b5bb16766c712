// Gradient options of script tables: the centre, balance and border of radial and conical
// gradients and the list of colour stops, shared by brushes, BGPics, displays and the draw
// library.
#include "base/errors.h"
#include "base/support.h"
#include "core/args.h"
#include "libs/options/options.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {

namespace {

bool InUnitRange(double v) { return v >= 0.0 && v <= 1.0; }  // false for NaN

int StoreKey(const char* key, int32_t code) {
  SetErrorString(key);
  return code;
}

// The stops of the list table at `list` (absolute index).
int ReadStops(qvScriptState* L, int list, const char* key, qvGradient* gradient) {
  int32_t count = 0;
  for (int i = 0;; i += 2) {
    VmRawGetI(L, list, i);
    int colourType = VmType(L, -1);
    if (colourType == kTypeNil) {
      VmSetTop(L, -2);
      break;
    }
    if (count == kMaxGradientStops) {
      VmSetTop(L, -2);
      return ERR_INTERNAL;
    }
    VmRawGetI(L, list, i + 1);
    int positionType = VmType(L, -1);
    if (positionType == kTypeNil) {
      VmSetTop(L, -3);
      return ERR_MISSINGPARAMTR;
    }
    if (colourType != kTypeNumber || positionType != kTypeNumber) {
      VmSetTop(L, -3);
      return StoreKey(key, ERR_NUMTABLEARG);
    }
    double colour = VmToNumber(L, -2);
    double position = VmToNumber(L, -1);
    VmSetTop(L, -3);
    if (!InUnitRange(position)) return ERR_WRONGUSAGE;
    gradient->stops[count].colour = static_cast<uint32_t>(DoubleToInt32(colour));
    gradient->stops[count].position = position;
    ++count;
  }
  if (count == 1) return ERR_WRONGUSAGE;
  gradient->stopCount = count;
  return 0;
}

}  // namespace

int ReadGradientOptions(qvScriptState* L, int index, qvGradient* gradient, const char* centerXKey,
                        const char* centerYKey, const char* balanceKey, const char* borderKey,
                        const char* coloursKey, int* multi) {
  index = VmAbsIndex(L, index);
  if (gradient->type == kGradientRadial || gradient->type == kGradientConical) {
    const char* keys[] = {centerXKey, centerYKey, balanceKey, borderKey};
    double* fields[] = {&gradient->centreX, &gradient->centreY, &gradient->balance,
                        &gradient->border};
    for (int k = 0; k < 4; ++k) {
      if (keys[k] == nullptr) continue;
      double value = *fields[k];
      GetFieldNumber(L, index, keys[k], &value, nullptr);
      if (!InUnitRange(value)) return ERR_WRONGUSAGE;
      *fields[k] = value;
    }
  }
  gradient->stopCount = 0;
  if (coloursKey == nullptr) return 0;
  VmPushString(L, coloursKey);
  VmGetTable(L, index);
  int type = VmType(L, -1);
  int code = 0;
  if (type == kTypeTable) {
    code = ReadStops(L, VmGetTop(L), coloursKey, gradient);
  } else if (type != kTypeNil) {
    code = StoreKey(coloursKey, ERR_TABEXPECTED2);
  }
  VmSetTop(L, -2);
  if (code == 0 && gradient->stopCount >= 2 && multi != nullptr) *multi = 1;
  return code;
}

int ReadGradientArguments(qvScriptState* L, int styleIndex, int angleIndex, qvGradient* gradient) {
  int32_t style = VmCheckInt(L, styleIndex);
  switch (style) {
    case 0:
    case 1:
      gradient->type = kGradientLinear;
      gradient->angle = style == 0 ? 0 : 90;
      break;
    case kGradientLinear:
    case kGradientConical:
      gradient->type = style;
      gradient->angle = VmOptInt(L, angleIndex, 0);
      break;
    case kGradientRadial:
      gradient->type = style;
      gradient->angle = 0;
      break;
    default:
      return ERR_WRONGUSAGE;
  }
  int options = angleIndex + 1;
  gradient->stopCount = 0;
  if (VmGetTop(L) < options) return 0;
  if (VmType(L, options) != kTypeTable) return ERR_TABEXPECTED;
  return ReadGradientOptions(L, options, gradient, "centerx", "centery", "balance", "border",
                             "colors", nullptr);
}

int ReadBackfillGradientFields(qvScriptState* L, int index, qvGradient* gradient) {
  GetFieldInt(L, index, "gradientstyle", &gradient->type, nullptr);
  if (gradient->type < kGradientLinear || gradient->type > kGradientConical) return ERR_WRONGUSAGE;
  GetFieldUInt(L, index, "gradientstartcolor", &gradient->startColour, nullptr);
  GetFieldUInt(L, index, "gradientendcolor", &gradient->endColour, nullptr);
  GetFieldInt(L, index, "gradientangle", &gradient->angle, nullptr);
  return ReadGradientOptions(L, index, gradient, "gradientcenterx", "gradientcentery",
                             "gradientbalance", "gradientborder", "gradientcolors", nullptr);
}

}  // namespace qv
