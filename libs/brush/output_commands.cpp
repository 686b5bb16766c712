// Brush commands that choose where drawing goes: a brush, a mask or alpha channel, the double
// buffer.
#include "base/errors.h"
#include "core/args.h"
#include "display/display.h"
#include "libs/brush/commands.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

namespace {

int32_t SelectPlane(qvScriptState* L, int32_t outputType) {
  CheckArgCount(L, 1, 3);
  qvObjectId id = CheckObjectId(L, 1);
  int32_t kind = VmOptInt(L, 2, kObjectBrush);
  // An anim frame needs its frame number.
  if (kind == kObjectAnim && VmGetTop(L) == 2) return ERR_MISSINGPARAMTR;
  int32_t frame = VmOptInt(L, 3, 0);
  return SelectOutputDevice(L, kind, id, outputType, frame, 0, 0);
}

}  // namespace

int32_t SelectBrush(qvScriptState* L) {
  CheckArgCount(L, 1, 3);
  qvObjectId id = CheckObjectId(L, 1);
  int32_t mode = VmOptInt(L, 2, 0);
  int32_t combo = VmOptInt(L, 3, 0);
  return SelectOutputDevice(L, kObjectBrush, id, kOutputPicture, 0, mode, combo);
}

int32_t SelectMask(qvScriptState* L) { return SelectPlane(L, kOutputMask); }

int32_t SelectAlphaChannel(qvScriptState* L) { return SelectPlane(L, kOutputAlpha); }

int32_t BeginDoubleBuffer(qvScriptState* L) {
  CheckArgCount(L, 0, 1);
  return qv::BeginDoubleBuffer(L, VmOptInt(L, 1, 0) != 0);
}

int32_t EndDoubleBuffer(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  return FreeDoubleBuffer(CurrentDisplay());
}

int32_t Flip(qvScriptState* L) {
  CheckArgCount(L, 0, 1);
  return FlipDisplay(L, VmOptInt(L, 1, 1) != 0);
}

}  // namespace qv::cmd
