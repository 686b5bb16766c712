// Intervals and time-outs: a script function called every (or once after) so many milliseconds.
#include "base/errors.h"
#include "core/args.h"
#include "core/events.h"
#include "libs/event/commands.h"

namespace qv::cmd {

namespace {

// SetInterval / SetTimeout(id, function, ms [, userdata]): the handle of an automatic id.
int32_t AddTimer(qvScriptState* L, int32_t type) {
  CheckArgCount(L, 3, 4);
  qvOptionalId id = OptObjectId(L, 1);
  int32_t ms = VmCheckInt(L, 3);
  if (ms < 1) return ERR_WRONGUSAGE;
  VmCheckFunction(L, 2);
  qvObjectId made;
  int32_t code = AddTimerObject(L, type, id, 2, ms, VmGetTop(L) >= 4 ? 4 : 0, &made);
  if (code != 0) return code;
  if (!id.automatic) return 0;
  VmPushLightUserdata(L, made.handle);
  return 1;
}

int32_t ClearTimer(qvScriptState* L, int32_t type) {
  CheckArgCount(L, 1, 1);
  return FreeTimerObject(L, type, CheckObjectId(L, 1));
}

}  // namespace

int32_t SetInterval(qvScriptState* L) { return AddTimer(L, kObjectInterval); }
int32_t SetTimeout(qvScriptState* L) { return AddTimer(L, kObjectTimeout); }
int32_t ClearInterval(qvScriptState* L) { return ClearTimer(L, kObjectInterval); }
int32_t ClearTimeout(qvScriptState* L) { return ClearTimer(L, kObjectTimeout); }

int32_t ChangeInterval(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvObjectId id = CheckObjectId(L, 1);
  return ChangeIntervalPeriod(L, id, VmCheckInt(L, 2));
}

}  // namespace qv::cmd
