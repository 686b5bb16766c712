// The moveobject library's commands and their shared argument reader.
#include "base/errors.h"
#include "core/args.h"
#include "display/mover.h"
#include "libs/moveobject/commands.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {

namespace {

// id, x1, y1, x2, y2, then an options table ("speed", "animspeed", "fx", "async") or the speed,
// for anims and sprites the animation speed, and the effect. Pushes the async object's handle.
int32_t MoveObjectCommand(qvScriptState* L, int32_t kind, bool animated) {
  CheckArgCount(L, 5, animated ? 8 : 7);
  qvMoveRequest r;
  r.kind = kind;
  if (kind == kObjectLayer && VmType(L, 1) == kTypeString) {
    r.layerName = CheckName(L, 1);
  } else {
    r.id = CheckObjectId(L, 1);
  }
  r.x1 = VmCheckInt(L, 2);
  r.y1 = VmCheckInt(L, 3);
  r.x2 = VmCheckInt(L, 4);
  r.y2 = VmCheckInt(L, 5);
  if (VmGetTop(L) >= 6 && VmType(L, 6) == kTypeTable) {
    GetFieldInt(L, 6, "fx", &r.effect, nullptr);
    GetFieldInt(L, 6, "speed", &r.speed, nullptr);
    GetFieldInt(L, 6, "animspeed", &r.animSpeed, nullptr);
    GetFieldFlag(L, 6, "async", &r.async, nullptr);
  } else {
    r.speed = VmOptInt(L, 6, -1);
    if (animated) {
      r.animSpeed = VmOptInt(L, 7, -1);
      r.effect = VmOptInt(L, 8, kMoveStraight);
    } else {
      r.effect = VmOptInt(L, 7, kMoveStraight);
    }
  }
  qvObjectId handle{0, nullptr};
  int code = MoveObjectCore(L, r, &handle);
  if (code != 0) return code;
  if (handle.handle == nullptr) return 0;
  VmPushLightUserdata(L, handle.handle);
  return 1;
}

}  // namespace

namespace cmd {

int32_t MoveBrush(qvScriptState* L) { return MoveObjectCommand(L, kObjectBrush, false); }
int32_t MoveTextObject(qvScriptState* L) { return MoveObjectCommand(L, kObjectTextObject, false); }
int32_t MoveLayer(qvScriptState* L) { return MoveObjectCommand(L, kObjectLayer, false); }
int32_t MoveAnim(qvScriptState* L) { return MoveObjectCommand(L, kObjectAnim, true); }
int32_t MoveSprite(qvScriptState* L) { return MoveObjectCommand(L, kObjectSprite, true); }

}  // namespace cmd

}  // namespace qv
