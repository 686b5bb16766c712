// GetAttribute's rows of event handlers (by event name, on the current display), intervals and
// time-outs: the script function and the user data they hold.
#include "base/errors.h"
#include "base/support.h"
#include "core/attribute_table.h"
#include "core/events.h"

namespace qv {

namespace {

int32_t EventHandlerAttribute(const qvAttrQuery& q, qvAttrAnswer* out) {
  int slot = -1;
  for (int i = 0; i < kInputEventCount; ++i) {
    if (StrCaseCmp(q.name, kInputEventNames[i]) == 0) slot = i;
  }
  if (slot < 0) return ERR_WRONGUSAGE;
  if (q.attribute != attr::kFunction && q.attribute != attr::kUserData) return ERR_UNKNOWNATTR;
  const qvDisplayInput* input = CurrentDisplayInput();
  if (input == nullptr) {
    out->Nil();
    return 0;
  }
  const qvHandlerSlot& handler = input->handlers[slot];
  out->Reference(q.attribute == attr::kFunction ? handler.callback : handler.userdata);
  return 0;
}

int32_t TimerAttribute(const qvAttrQuery& q, qvAttrAnswer* out) {
  const qvTimerObject* timer = FindTimerObject(q.kind, q.id);
  if (timer == nullptr) {
    return ObjectNotFound(q.id, q.kind == kObjectInterval ? ERR_FINDINTERVAL : ERR_FINDTIMEOUT);
  }
  if (q.attribute == attr::kFunction) {
    out->Reference(timer->callback);
  } else if (q.attribute == attr::kUserData) {
    out->Reference(timer->userdata);
  } else {
    return ERR_UNKNOWNATTR;
  }
  return 0;
}

const qvAttrKind kRows[] = {
    {kObjectEventHandler, qvAttrIdForm::kEventName, EventHandlerAttribute},
    {kObjectInterval, qvAttrIdForm::kObject, TimerAttribute},
    {kObjectTimeout, qvAttrIdForm::kObject, TimerAttribute},
    {0, qvAttrIdForm::kObject, nullptr},
};

}  // namespace

int32_t RegisterEventAttributes() { return RegisterAttributeKinds(kRows); }

}  // namespace qv
