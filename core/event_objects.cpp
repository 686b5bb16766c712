// The event library's objects: intervals and time-outs (object types 41 and 42) with their
// platform timers, the shared 20 ms tick, the handler slots that InstallEventHandler fills, and
// the library's open and teardown.
#include <cstdio>
#include <cstdlib>
#include <new>

#include "base/errors.h"
#include "core/events.h"
#include "core/legacy_events.h"
#include "platform/input.h"
#include "platform/timers.h"

namespace qv {

qvCustomEventType* CustomEventTypes();   // event_dispatch.cpp
void ResetDispatcher(qvScriptState* L);  // event_dispatch.cpp

namespace {

constexpr int32_t kTickMs = 20;
constexpr int kTickSlots = 2;

qvObjectHeader* gIntervals = nullptr;
qvObjectHeader* gTimeouts = nullptr;
qvHandlerSlot gObjectHandlers[kObjectEventCount];
bool gTickSlots[kTickSlots] = {};
qvObjectId gTick{};
bool gTickRunning = false;

// Runtime attributes that tell the sound code which of its events a script wants.
constexpr uint32_t kAttrWantSampleLoop = 13;
constexpr uint32_t kAttrWantSampleEnd = 14;
constexpr uint32_t kAttrWantMusicEnd = 19;
constexpr uint32_t kAttrWantVideoEnd = 24;

qvObjectHeader** ListOf(int32_t type) { return type == kObjectInterval ? &gIntervals : &gTimeouts; }

void ReleaseTimer(qvScriptState* L, qvTimerObject* timer) {
  if (L != nullptr) {
    VmUnref(L, kRegistryIndex, timer->callback);
    VmUnref(L, kRegistryIndex, timer->userdata);
  }
  FreeObjectData(L, &timer->header);
  delete timer;
}

bool IsNetworkSlot(int slot) {
  return slot == kOnConnect || slot == kOnDisconnect || slot == kOnReceiveData ||
         slot == kOnReceiveUdpData;
}

bool AnyNetworkHandler() {
  for (int i = 0; i < kObjectEventCount; ++i) {
    if (IsNetworkSlot(i) && gObjectHandlers[i].callback != kNoReference) return true;
  }
  return false;
}

// A field's verdict: keep the slot, remove the handler, or a new function (on the stack).
enum class FieldAction { kKeep, kRemove, kReplace };

FieldAction ReadHandlerField(qvScriptState* L, int table, const char* name) {
  VmPushString(L, name);
  VmRawGet(L, table);
  int32_t type = VmType(L, -1);
  VmSetTop(L, -2);
  if (type == kTypeNil) return FieldAction::kKeep;
  if (type == kTypeNumber) return FieldAction::kRemove;
  if (type == kTypeFunction) return FieldAction::kReplace;
  // The message names the argument that holds the table.
  SetErrorNumber(table);
  VmRaiseError(L, ERR_FUNCEXPECTED);
}

void SetHandlerSlot(qvScriptState* L, qvHandlerSlot* slot, FieldAction action, int table,
                    const char* name, int userdata) {
  if (action == FieldAction::kKeep) return;
  VmUnref(L, kRegistryIndex, slot->callback);
  slot->callback = kNoReference;
  if (action == FieldAction::kReplace) {
    VmPushString(L, name);
    VmRawGet(L, table);
    slot->callback = VmRef(L, kRegistryIndex);
  }
  if (userdata != 0 || action == FieldAction::kRemove) {
    VmUnref(L, kRegistryIndex, slot->userdata);
    slot->userdata = kNoReference;
  }
  if (userdata != 0 && action == FieldAction::kReplace) {
    VmPushValue(L, userdata);
    slot->userdata = VmRef(L, kRegistryIndex);
  }
}

}  // namespace

qvHandlerSlot* ObjectHandlers() { return gObjectHandlers; }

qvTimerObject* FindTimerObject(int32_t type, qvObjectId id) {
  for (qvObjectHeader* h = *ListOf(type); h != nullptr; h = h->next) {
    if (h->type == type && h->id == id.number && h->handle == id.handle) {
      return reinterpret_cast<qvTimerObject*>(h);
    }
  }
  return nullptr;
}

int32_t AddTimerObject(qvScriptState* L, int32_t type, qvOptionalId id, int function, int32_t ms,
                       int userdata, qvObjectId* out) {
  if (ms < 1) return ERR_WRONGUSAGE;
  if (!id.automatic && FindTimerObject(type, {id.number, nullptr}) != nullptr) {
    FreeTimerObject(L, type, {id.number, nullptr});  // a namesake goes first
  }
  auto* timer = new (std::nothrow) qvTimerObject{};
  if (timer == nullptr) return ERR_MEM;
  timer->header.type = type;
  timer->header.id = id.automatic ? 0 : id.number;
  timer->header.handle = id.automatic ? timer : nullptr;
  timer->ms = ms;
  timer->callback = kNoReference;
  timer->userdata = kNoReference;
  if (function != 0) {
    VmPushValue(L, function);
    timer->callback = VmRef(L, kRegistryIndex);
  }
  if (userdata != 0) {
    VmPushValue(L, userdata);
    timer->userdata = VmRef(L, kRegistryIndex);
  }
  qvObjectHeader** tail = ListOf(type);
  while (*tail) tail = &(*tail)->next;
  *tail = &timer->header;
  qvObjectId owned{timer->header.id, timer->header.handle};
  int code = SetTimerQueueTimer(
      type == kObjectInterval ? TimerOp::kSetInterval : TimerOp::kSetTimeout,
      {owned.number, owned.handle}, ms);
  if (code != 0) {
    *tail = nullptr;
    ReleaseTimer(L, timer);
    return code;
  }
  if (out != nullptr) *out = owned;
  return 0;
}

int32_t FreeTimerObject(qvScriptState* L, int32_t type, qvObjectId id) {
  for (qvObjectHeader** link = ListOf(type); *link != nullptr; link = &(*link)->next) {
    qvObjectHeader* h = *link;
    if (h->id != id.number || h->handle != id.handle) continue;
    *link = h->next;
    TimerKind kind = type == kObjectInterval ? TimerKind::kInterval : TimerKind::kTimeout;
    qvQueueTimer* next = nullptr;
    qvQueueTimer* timer = FindTimerByOwner(kind, {id.number, id.handle}, &next);
    StepTimerCursorPast(timer, next);
    SetTimerQueueTimer(type == kObjectInterval ? TimerOp::kClearInterval : TimerOp::kClearTimeout,
                       {id.number, id.handle}, 0);
    ReleaseTimer(L, reinterpret_cast<qvTimerObject*>(h));
    return 0;
  }
  return ObjectNotFound(id, type == kObjectInterval ? ERR_FINDINTERVAL : ERR_FINDTIMEOUT);
}

int32_t ChangeIntervalPeriod(qvScriptState*, qvObjectId id, int32_t ms) {
  if (FindTimerObject(kObjectInterval, id) == nullptr) return ObjectNotFound(id, ERR_FINDINTERVAL);
  if (ms < 1) return ERR_WRONGUSAGE;
  return SetTimerQueueTimer(TimerOp::kChangeInterval, {id.number, id.handle}, ms);
}

int32_t AcquireTickTimer(qvScriptState* L, int slot) {
  if (slot < 0 || slot >= kTickSlots) return ERR_WRONGUSAGE;
  if (!gTickRunning) {
    int32_t code = AddTimerObject(L, kObjectInterval, {0, 1}, 0, kTickMs, 0, &gTick);
    if (code != 0) return code;
    gTickRunning = true;
  }
  gTickSlots[slot] = true;
  return 0;
}

void ReleaseTickTimer(qvScriptState* L, int slot) {
  if (slot < 0 || slot >= kTickSlots) return;
  gTickSlots[slot] = false;
  if (gTickRunning && !gTickSlots[0] && !gTickSlots[1]) {
    FreeTimerObject(L, kObjectInterval, gTick);
    gTickRunning = false;
  }
}

bool TickTimerRunning() { return gTickRunning; }

int32_t InstallEventHandlers(qvScriptState* L, int table, int userdata) {
  VmCheckTable(L, table);
  table = VmAbsIndex(L, table);
  if (userdata != 0) userdata = VmAbsIndex(L, userdata);
  qvDisplayInput* display = CurrentDisplayInput();
  bool hadNetwork = AnyNetworkHandler();

  // Every field is read before any slot changes, so that a bad one raises with nothing changed.
  FieldAction input[kInputEventCount];
  FieldAction object[kObjectEventCount];
  for (int i = 0; i < kInputEventCount; ++i)
    input[i] = ReadHandlerField(L, table, kInputEventNames[i]);
  for (int i = 0; i < kObjectEventCount; ++i)
    object[i] = ReadHandlerField(L, table, kObjectEventNames[i]);
  for (qvCustomEventType* t = CustomEventTypes(); t != nullptr; t = t->next) {
    char name[kNameBufferSize];
    std::snprintf(name, sizeof name, "%s", t->name);
    LowerCaseString(name);
    ReadHandlerField(L, table, name);
  }

  // The drop target and the clipboard watch of the window system serve every display: they
  // change when the first display wants them or the last one no longer does.
  bool hadDrop = AnyDisplayHandler(kOnDropFile);
  bool hadClipboard = AnyDisplayHandler(kClipboardChange);
  if (display != nullptr) {
    for (int i = 0; i < kInputEventCount; ++i) {
      SetHandlerSlot(L, &display->handlers[i], input[i], table, kInputEventNames[i], userdata);
    }
  }
  for (int i = 0; i < kObjectEventCount; ++i) {
    SetHandlerSlot(L, &gObjectHandlers[i], object[i], table, kObjectEventNames[i], userdata);
  }
  for (qvCustomEventType* t = CustomEventTypes(); t != nullptr; t = t->next) {
    char name[kNameBufferSize];
    std::snprintf(name, sizeof name, "%s", t->name);
    LowerCaseString(name);
    SetHandlerSlot(L, &t->slot, ReadHandlerField(L, table, name), table, name, userdata);
  }

  int32_t code = 0;
  if (display != nullptr) {
    display->closeWindowHandled = display->handlers[kCloseWindow].callback != kNoReference;
    SetCloseHandled(display, display->closeWindowHandled != 0);
    if (display->open) {
      bool hasDrop = AnyDisplayHandler(kOnDropFile);
      bool hasClipboard = AnyDisplayHandler(kClipboardChange);
      if (hadDrop != hasDrop) code = SetDropTarget(display, hasDrop);
      if (code == 0 && hadClipboard != hasClipboard) {
        code = JoinClipboardChain(display, hasClipboard);
      }
    }
  }
  bool hasNetwork = AnyNetworkHandler();
  if (!hadNetwork && hasNetwork) {
    int32_t tick = AcquireTickTimer(L, 1);
    if (code == 0) code = tick;
  } else if (hadNetwork && !hasNetwork) {
    ReleaseTickTimer(L, 1);
  }
  const qvAttrSetItem wanted[] = {
      {kAttrWantSampleLoop, gObjectHandlers[kOnSampleLoop].callback != kNoReference},
      {kAttrWantSampleEnd, gObjectHandlers[kOnSampleEnd].callback != kNoReference},
      {kAttrWantMusicEnd, gObjectHandlers[kOnMusicEnd].callback != kNoReference},
      {kAttrWantVideoEnd, gObjectHandlers[kOnVideoEnd].callback != kNoReference},
      {0, 0}};
  SetRuntimeAttrs(nullptr, wanted);
  return code;
}

int32_t OpenEventCore(qvScriptState* L) {
  FreeEventLibrary(L);  // a second open starts clean
  int32_t code = RegisterObjectList(&gIntervals);
  if (code == 0) code = RegisterObjectList(&gTimeouts);
  return code;
}

void FreeEventLibrary(qvScriptState* L) {
  for (qvObjectHeader** list : {&gIntervals, &gTimeouts}) {
    while (*list != nullptr) {
      qvObjectHeader* h = *list;
      *list = h->next;
      SetTimerQueueTimer(
          h->type == kObjectInterval ? TimerOp::kClearInterval : TimerOp::kClearTimeout,
          {h->id, h->handle}, 0);
      ReleaseTimer(L, reinterpret_cast<qvTimerObject*>(h));
    }
  }
  for (qvHandlerSlot& slot : gObjectHandlers) {
    if (L != nullptr) {
      VmUnref(L, kRegistryIndex, slot.callback);
      VmUnref(L, kRegistryIndex, slot.userdata);
    }
    slot = qvHandlerSlot{};
  }
  gTickSlots[0] = gTickSlots[1] = false;
  gTickRunning = false;
  gTick = {};
  ResetLegacyEvents();
  ResetDispatcher(L);
}

}  // namespace qv
