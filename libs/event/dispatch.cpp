// Events and their handlers: installing handlers, running pending callbacks with or without
// waiting, the event time-out and the queue.
#include "core/args.h"
#include "core/eventqueue.h"
#include "core/events.h"
#include "libs/event/commands.h"

namespace qv::cmd {

int32_t CheckEvent(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  return ProcessEvents(L, false);
}

int32_t WaitEvent(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  return ProcessEvents(L, true);
}

// InstallEventHandler(table [, userdata])
int32_t InstallEventHandler(qvScriptState* L) {
  CheckArgCount(L, 1, 2);
  return InstallEventHandlers(L, 1, VmGetTop(L) >= 2 ? 2 : 0);
}

int32_t SetEventTimeout(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  const qvAttrSetItem items[] = {{kAttrStaleEventAge, VmCheckInt(L, 1)}, {0, 0}};
  SetRuntimeAttrs(nullptr, items);
  return 0;
}

int32_t FreeEventCache(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  RemoveEvents(-1, true);
  return 0;
}

int32_t BreakEventHandler(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  BreakEventCycle();
  return 0;
}

}  // namespace qv::cmd
