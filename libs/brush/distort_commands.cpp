// Brush commands over the distortion: PerspectiveDistortBrush, ArcDistortBrush,
// PolarDistortBrush, BarrelDistortBrush. Each replaces the brush's pictures with the distorted
// ones, of a new size.
#include <cstddef>

#include "base/errors.h"
#include "core/args.h"
#include "display/display.h"
#include "libs/brush/brush_rules.h"
#include "libs/brush/commands.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

namespace {

// The arguments between the id and the smooth flag's own place are values; the flag is read only
// at flagIndex, so that a short call never takes its last value for the flag.
struct DistortArgs {
  qvObjectId id;
  int32_t count = 0;
  double values[kDistortMaxValues] = {};
  bool smooth = false;
};

DistortArgs ReadDistortArgs(qvScriptState* L, int min, int flagIndex) {
  CheckArgCount(L, min, flagIndex);
  DistortArgs a;
  a.id = CheckObjectId(L, 1);
  const int top = VmGetTop(L);
  const int lastValue = top < flagIndex ? top : flagIndex - 1;
  for (int i = 2; i <= lastValue; ++i) a.values[a.count++] = VmCheckNumber(L, i);
  a.smooth = top >= flagIndex && VmType(L, flagIndex) != kTypeNil &&
             VmCheckNumber(L, flagIndex) != 0;
  return a;
}

// Distorts the brush and puts the new pictures in place of the old: the bitmap, and the mask or
// alpha channel that the distortion made. The brush is unchanged on failure.
int32_t ApplyDistortion(qvBrush* brush, int32_t mode, const double* values, int32_t count,
                        bool smooth) {
  qvBitMap* bitmap = nullptr;
  qvPlane* mask = nullptr;
  qvPlane* alpha = nullptr;
  int32_t width = 0, height = 0;
  int code = DistortBitMap(brush->bitmap, brush->mask, brush->alpha, brush->width, brush->height,
                           mode, count, values, smooth, &bitmap, &mask, &alpha, &width, &height);
  if (code != 0) return code;
  FreeBitMap(brush->bitmap);
  FreeMaskOrAlpha(brush->mask);
  FreeMaskOrAlpha(brush->alpha);
  brush->bitmap = bitmap;
  brush->mask = mask;
  brush->alpha = alpha;
  brush->width = width;
  brush->height = height;
  return 0;
}

// The commands whose values go to the distortion as the script gives them.
int32_t DistortWithValues(qvScriptState* L, int32_t mode, int min, int flagIndex) {
  DistortArgs a = ReadDistortArgs(L, min, flagIndex);
  qvBrush* brush = nullptr;
  if (int code = FindBrushToModify(L, a.id, kModifyRaster, &brush); code != 0) return code;
  return ApplyDistortion(brush, mode, a.values, a.count, a.smooth);
}

}  // namespace

int32_t PerspectiveDistortBrush(qvScriptState* L) {
  DistortArgs a = ReadDistortArgs(L, 9, 10);
  qvBrush* brush = nullptr;
  if (int code = FindBrushToModify(L, a.id, kModifyRaster, &brush); code != 0) return code;
  // The brush's corners (0, 0), (w, 0), (w, h), (0, h) go to the script's four points.
  const double w = brush->width, h = brush->height;
  const double corners[4][2] = {{0, 0}, {w, 0}, {w, h}, {0, h}};
  double values[16];
  for (ptrdiff_t g = 0; g < 4; ++g) {
    values[4 * g] = corners[g][0];
    values[4 * g + 1] = corners[g][1];
    values[4 * g + 2] = a.values[2 * g];
    values[4 * g + 3] = a.values[2 * g + 1];
  }
  return ApplyDistortion(brush, kDistortPerspective, values, 16, a.smooth);
}

int32_t ArcDistortBrush(qvScriptState* L) { return DistortWithValues(L, kDistortArc, 2, 6); }

int32_t PolarDistortBrush(qvScriptState* L) { return DistortWithValues(L, kDistortPolar, 1, 8); }

int32_t BarrelDistortBrush(qvScriptState* L) { return DistortWithValues(L, kDistortBarrel, 4, 12); }

}  // namespace qv::cmd
