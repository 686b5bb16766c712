// Brush commands that show a brush or a part of it on the output device.
#include "base/errors.h"
#include "core/args.h"
#include "display/display.h"
#include "libs/brush/commands.h"
#include "libs/options/options.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

int32_t DisplayBrush(qvScriptState* L) {
  CheckArgCount(L, 3, 4);
  qvDisplayObjectRequest r;
  r.kind = kObjectBrush;
  r.id = CheckObjectId(L, 1);
  r.x = VmCheckInt(L, 2);
  r.y = VmCheckInt(L, 3);
  qvTransformBlock transform;
  qvLayerOptions options;
  ReadShowOptions(L, 4, kOptTableRequired, &transform, &options, &r);
  return DisplayObjectCore(L, r, nullptr, nullptr);
}

int32_t DisplayBrushPart(qvScriptState* L) {
  CheckArgCount(L, 7, 8);
  qvDisplayObjectRequest r;
  r.kind = kObjectBrushPart;
  r.id = CheckObjectId(L, 1);
  r.srcX = VmCheckInt(L, 2);
  r.srcY = VmCheckInt(L, 3);
  r.x = VmCheckInt(L, 4);
  r.y = VmCheckInt(L, 5);
  r.width = VmCheckInt(L, 6);
  r.height = VmCheckInt(L, 7);
  qvTransformBlock transform;
  qvLayerOptions options;
  ReadShowOptions(L, 8, kOptTableRequired, &transform, &options, &r);
  return DisplayObjectCore(L, r, nullptr, nullptr);
}

}  // namespace qv::cmd
