// The display options table of the commands that show an object (brushes, BGPic parts and the
// draw defaults now; layers, text, anims and sprites take the same keys).
#include <algorithm>
#include <cmath>
#include <utility>

#include "base/errors.h"
#include "base/support.h"
#include "core/args.h"
#include "core/errors.h"
#include "libs/options/options.h"
#include "vm/vm.h"

namespace qv {

int ReadDisplayOptions(qvScriptState* L, int argIndex, int32_t smooth, int32_t flags,
                       qvTransformBlock* block, qvLayerOptions* options, bool* buildMatrix) {
  *buildMatrix = false;
  if (argIndex < 1 || argIndex > VmGetTop(L)) return 0;
  if (VmType(L, argIndex) != kTypeTable) {
    if (!(flags & kOptTableRequired)) return 0;
    SetErrorNumber(argIndex);
    return ERR_TABEXPECTED;
  }
  int t = argIndex;

  double given[4];
  if (GetFieldMatrix(L, t, "transform", given, nullptr)) {
    if (given[0] == 0.0 || given[3] == 0.0) return ERR_WRONGUSAGE;
    std::copy(given, given + 4, block->matrix);
    std::copy(given, given + 4, block->givenMatrix);
    block->matrixGiven = 1;
  } else {
    int found = 0;
    double scaleX = block->scaleX, scaleY = block->scaleY;
    int scaleGiven = GetFieldNumber(L, t, "scalex", &scaleX, &found);
    scaleGiven |= GetFieldNumber(L, t, "scaley", &scaleY, &found);
    if (scaleX == 0.0 || scaleY == 0.0) return ERR_WRONGUSAGE;
    int32_t w = block->width, h = block->height;
    if (!scaleGiven && !(flags & kOptNoSize)) {
      GetFieldInt(L, t, "width", &w, &found);
      GetFieldInt(L, t, "height", &h, &found);
    }
    double angle = block->rotate;
    if (!(flags & kOptNoRotate) && GetFieldNumber(L, t, "rotate", &angle, &found)) {
      angle = std::fmod(angle, 360.0);
      if ((flags & kOptRotationSmooth) && angle != 0.0) block->smoothScale = smooth;
    }
    if (found) {
      // The matrix needs the object's size, which only the subsystem showing it knows.
      block->width = w;
      block->height = h;
      block->scaleX = scaleX;
      block->scaleY = scaleY;
      block->rotate = angle;
      *buildMatrix = true;
    } else {
      block->matrixGiven = 0;
    }
  }

  int32_t smoothScale = 0;
  if (GetFieldInt(L, t, "smoothscale", &smoothScale, nullptr)) block->smoothScale = smoothScale;
  for (auto [key, anchor] : {std::pair{"anchorx", &block->anchorX}, {"anchory", &block->anchorY}}) {
    double value = 0;
    if (!GetFieldNumber(L, t, key, &value, nullptr)) continue;
    if (!(value >= 0.0 && value <= 1.0)) return ERR_WRONGUSAGE;
    *anchor = value;
  }

  if (options == nullptr) return 0;
  double transparency = 0;
  if (GetFieldNumberOrPercent(L, t, "transparency", 255, 0, nullptr, &transparency, nullptr)) {
    options->transparency = std::clamp(TruncateToInt(transparency), 0, 255);
    // TruncateToInt maps NaN and huge values to INT_MIN; a huge one means fully transparent.
    if (transparency > 255.0) options->transparency = 255;
  }
  options->renderNeeded = options->transparency != 0;
  return 0;
}

void ReadShowOptions(qvScriptState* L, int argIndex, int32_t flags, qvTransformBlock* transform,
                     qvLayerOptions* options, qvDisplayObjectRequest* request) {
  InitDisplayOptions(transform, options, 0, 0, 0, flags);
  struct Read {
    int argIndex;
    int32_t flags;
    qvTransformBlock* transform;
    qvLayerOptions* options;
    qvDisplayObjectRequest* request;
    int code;
  } read{argIndex, flags, transform, options, request, 0};
  // A field of the wrong type raises; caught here, it waits in the request like a returned code
  // (the key or the argument is stored already).
  int top = VmGetTop(L);
  int32_t raised = VmRunProtected(
      L,
      [](qvScriptState* L, void* data) {
        auto* r = static_cast<Read*>(data);
        r->code = ReadDisplayOptions(L, r->argIndex, 0, r->flags, r->transform, r->options,
                                     &r->request->buildMatrix);
      },
      &read);
  VmSetTop(L, top);
  request->transform = transform;
  request->layerOptions = options;
  request->optionsError = raised != 0 ? raised : read.code;
}

}  // namespace qv
