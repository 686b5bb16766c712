// The dispatcher: each step walks the event sources in a fixed cycle and runs at most one
// callback; a phase word and the stages' cursors remember where the cycle stopped, so that one
// busy source cannot starve the others and a callback that adds or frees objects does not restart
// the cycle.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "base/errors.h"
#include "core/args.h"
#include "core/eventqueue.h"
#include "core/events.h"
#include "platform/loop.h"
#include "platform/ports.h"
#include "platform/time.h"
#include "platform/timers.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {

namespace {

// Phases: where the next step enters the cycle.
enum : int32_t {
  kPhaseStart = 0,
  kPhaseTimersResume = 1,
  kPhaseSoundEnds = 2,
  kPhasePointerMoves = 3,
  kPhaseCurrentEvent = 5,
  kPhaseNextEvent = 6,
  kPhaseHover = 7,
  kPhaseUdpData = 9,
  kPhaseConnect = 10,
  kPhaseData = 11,
  kPhaseDisconnect = 12,
  kPhaseTimersAfterMusic = 13,
  kPhaseUserMessages = 14,
};

// Message kinds: which fields RunEventCallback writes.
enum : int32_t {
  kKindButton = 1,
  kKindKey = 2,
  kKindDisplay = 3,
  kKindSize = 4,
  kKindMove = 5,
  kKindInterval = 6,
  kKindTimeout = 7,
  kKindMouseMove = 8,
  kKindSound = 9,
  kKindLabel = 11,
  kKindModeSwitch = 12,
  kKindDropFile = 13,
  kKindConnect = 14,
  kKindDisconnect = 15,
  kKindData = 16,
  kKindUdpData = 17,
  kKindUserMessage = 18,
  kKindOrientation = 19,
  kKindFillMusic = kDispatchFillMusic,
  kKindCustom = 21,
};

struct DispatchState {
  int32_t phase = kPhaseStart;
  qvQueueTimer* timerCursor = nullptr;
  bool timerAtHead = true;  // the cursor has not moved yet in this cycle
  qvEvent current{};
  bool haveCurrent = false;
  qvDisplayInput* displayCursor = nullptr;
  bool displayAtHead = true;
  void* networkCursor = nullptr;
  qvPortMessage* message = nullptr;        // the user message whose callback runs
  qvDisplayInput* hoverDisplay = nullptr;  // the display whose buttons the hover walk is on
};

DispatchState gState;
qvEventSources gSources;
qvButtonSources gButtons;
qvCustomEventType* gCustomTypes = nullptr;

void SetAction(qvDispatchResult* result, const char* action) {
  std::snprintf(result->action, sizeof result->action, "%s", action);
}

void UseSlot(qvDispatchResult* result, const qvHandlerSlot& slot) {
  result->callback = slot.callback;
  result->userdata = slot.userdata;
}

void FreeEventData(qvEvent* event) {
  if (event->type < kFirstCustomEventType) std::free(event->data);
  event->data = nullptr;
}

void DropCurrent() {
  if (gState.haveCurrent) FreeEventData(&gState.current);
  gState.haveCurrent = false;
}

int32_t AttrNumber(uint32_t tag) {
  intptr_t value = 0;
  const qvAttrGetItem items[] = {{tag, &value}, {0, nullptr}};
  GetRuntimeAttrs(nullptr, items);
  return static_cast<int32_t>(value);
}

void StepNesting(bool up) {
  const qvAttrSetItem items[] = {{kAttrCallbackNesting, up ? 1 : 0}, {0, 0}};
  SetRuntimeAttrs(nullptr, items);
}

bool DisplayMouseSlot(const qvEvent& e, int* slot, const char** action) {
  switch (e.type) {
    case kEventLeftButton:
      *slot = e.pressed ? kOnMouseDown : kOnMouseUp;
      *action = e.pressed ? "OnMouseDown" : "OnMouseUp";
      return true;
    case kEventRightButton:
      *slot = e.pressed ? kOnRightMouseDown : kOnRightMouseUp;
      *action = e.pressed ? "OnRightMouseDown" : "OnRightMouseUp";
      return true;
    case kEventMidButton:
      *slot = e.pressed ? kOnMidMouseDown : kOnMidMouseUp;
      *action = e.pressed ? "OnMidMouseDown" : "OnMidMouseUp";
      return true;
    case kEventWheelUp:
      *slot = kOnWheelUp;
      *action = "OnWheelUp";
      return true;
    case kEventWheelDown:
      *slot = kOnWheelDown;
      *action = "OnWheelDown";
      return true;
    default:
      return false;
  }
}

// Display-level mouse handlers: 1 when the display's slot for the event has a callback.
int DispatchDisplayMouseEvent(qvDispatchResult* result, const qvEvent& e) {
  auto* display = static_cast<qvDisplayInput*>(e.display);
  int slot;
  const char* action;
  if (display == nullptr || !DisplayMouseSlot(e, &slot, &action)) return 0;
  if (display->handlers[slot].callback == kNoReference) return 0;
  result->kind = kKindDisplay;
  result->display = display;
  UseSlot(result, display->handlers[slot]);
  SetAction(result, action);
  return 1;
}

int MatchWindowHandler(const char* action, int slot, qvDispatchResult* result, const qvEvent& e,
                       int32_t kind) {
  auto* display = static_cast<qvDisplayInput*>(e.display);
  if (display == nullptr || display->handlers[slot].callback == kNoReference) return 0;
  result->kind = kind;
  result->display = display;
  result->x = e.x;
  result->y = e.y;
  UseSlot(result, display->handlers[slot]);
  SetAction(result, action);
  if (kind == kKindDropFile) result->dropList = e.data;
  return 1;
}

// Button presses over the buttons of the display's picture, keys, window events, dropped files and
// custom types: 1 when a handler applies.
int DispatchHandlerEvent(qvDispatchResult* result, const qvEvent& e) {
  result->kind = 0;
  result->userdata = kNoReference;
  auto* display = static_cast<qvDisplayInput*>(e.display);
  switch (e.type) {
    case kEventLeftButton:
    case kEventRightButton:
    case kEventMidButton:
      if (display == nullptr || gButtons.buttonEvent == nullptr) return 0;
      if (!gButtons.buttonEvent(e, result)) return 0;
      result->kind = kKindButton;
      result->display = display;
      return 1;
    case kEventKey: {
      int slot = e.pressed ? kOnKeyDown : kOnKeyUp;
      if (display == nullptr || display->handlers[slot].callback == kNoReference) return 0;
      result->kind = kKindKey;
      result->display = display;
      UseSlot(result, display->handlers[slot]);
      result->qualifiers = e.qualifiers;
      SetAction(result, e.pressed ? "OnKeyDown" : "OnKeyUp");
      std::snprintf(result->key, sizeof result->key, "%s", KeyEventName(e.keyCode).c_str());
      return 1;
    }
    case kEventWindowMoved:
      return MatchWindowHandler("MoveWindow", kMoveWindow, result, e, kKindMove);
    case kEventWindowSized:
      // As for a mode switch: the display takes the window's new size before the callback.
      SyncWindowStates();
      return MatchWindowHandler("SizeWindow", kSizeWindow, result, e, kKindSize);
    case kEventWindowInactive:
      return MatchWindowHandler("InactiveWindow", kInactiveWindow, result, e, kKindDisplay);
    case kEventCloseWindow:
      return MatchWindowHandler("CloseWindow", kCloseWindow, result, e, kKindDisplay);
    case kEventWindowActive:
      return MatchWindowHandler("ActiveWindow", kActiveWindow, result, e, kKindDisplay);
    case kEventWindowHidden:
      return MatchWindowHandler("HideWindow", kHideWindow, result, e, kKindDisplay);
    case kEventWindowShown:
      return MatchWindowHandler("ShowWindow", kShowWindow, result, e, kKindDisplay);
    case kEventModeSwitch:
      // The queue may hand the event over before the window states that carry the switch were
      // taken over: the switch happens first, so that the callback sees the mode it reports.
      SyncWindowStates();
      return MatchWindowHandler("ModeSwitch", kModeSwitch, result, e, kKindModeSwitch);
    case kEventDropFiles:
      return MatchWindowHandler("OnDropFile", kOnDropFile, result, e, kKindDropFile);
    case kEventClipboard:
      return MatchWindowHandler("ClipboardChange", kClipboardChange, result, e, kKindDisplay);
    case kEventOrientation:
      return MatchWindowHandler("OrientationChange", kOrientationChange, result, e,
                                kKindOrientation);
    case kEventKeyboardShown:
      return MatchWindowHandler("ShowKeyboard", kShowKeyboard, result, e, kKindDisplay);
    case kEventKeyboardHidden:
      return MatchWindowHandler("HideKeyboard", kHideKeyboard, result, e, kKindDisplay);
    case kEventHotKey:
      return MatchWindowHandler("Hotkey", kHotkey, result, e, kKindDisplay);
    case kEventTrayIcon:
      return MatchWindowHandler("TrayIcon", kTrayIcon, result, e, kKindDisplay);
    default:
      break;
  }
  for (qvCustomEventType* t = gCustomTypes; t != nullptr; t = t->next) {
    if (t->type != e.type) continue;
    if (t->slot.callback == kNoReference) return 0;
    result->kind = kKindCustom;
    result->display = nullptr;
    UseSlot(result, t->slot);
    result->customType = t;
    result->customData = e.data;
    SetAction(result, t->name);  // cut to the field's 31 characters
    return 1;
  }
  return 0;
}

int32_t RunTimerCallback(qvScriptState* L, qvDispatchResult* result, TimerKind kind,
                         qvObjectId id) {
  bool interval = kind == TimerKind::kInterval;
  qvTimerObject* timer = FindTimerObject(interval ? kObjectInterval : kObjectTimeout, id);
  if (timer == nullptr || timer->callback == kNoReference) return 0;  // gone, or the tick
  gState.phase = kPhaseTimersResume;
  result->kind = interval ? kKindInterval : kKindTimeout;
  SetAction(result, interval ? "Interval" : "Timeout");
  result->callback = timer->callback;
  result->userdata = timer->userdata;
  result->objectId = id;
  if (interval) return RunEventCallback(L, result, 0);
  // A time-out fires once: its record goes before the call, its references after it.
  int32_t callback = timer->callback, userdata = timer->userdata;
  timer->callback = timer->userdata = kNoReference;
  FreeTimerObject(L, kObjectTimeout, id);
  int32_t status = RunEventCallback(L, result, 0);
  VmUnref(L, kRegistryIndex, callback);
  VmUnref(L, kRegistryIndex, userdata);
  return status;
}

// The fired-timer stage from its cursor: 0 when it ran out, else a callback ran (its status in
// *status).
bool TimerStage(qvScriptState* L, qvDispatchResult* result, int32_t* status) {
  while (gState.timerAtHead || gState.timerCursor != nullptr) {
    TimerKind kind;
    qvTimerOwner owner{};
    qvQueueTimer* next = TakeFiredTimer(gState.timerCursor, &kind, &owner);
    gState.timerAtHead = false;
    gState.timerCursor = next;
    if (kind == TimerKind::kNone) continue;
    *status = RunTimerCallback(L, result, kind, {owner.number, owner.handle});
    if (result->kind != 0 || *status != 0) return true;
  }
  return false;
}

bool SoundStage(qvScriptState* L, qvDispatchResult* result, int32_t* status) {
  qvHandlerSlot* slots = ObjectHandlers();
  if (gSources.soundEvent == nullptr) return false;
  if (slots[kOnSampleLoop].callback == kNoReference &&
      slots[kOnSampleEnd].callback == kNoReference && slots[kOnMusicEnd].callback == kNoReference &&
      slots[kOnVideoEnd].callback == kNoReference) {
    return false;
  }
  int32_t type, time, starts;
  qvObjectId id;
  while (gSources.soundEvent(&type, &id, &time, &starts)) {
    int slot;
    const char* action;
    switch (type) {
      case kSoundEventSampleEnd:
        slot = kOnSampleEnd;
        action = "OnSampleEnd";
        break;
      case kSoundEventSampleLoop:
        slot = kOnSampleLoop;
        action = "OnSampleLoop";
        break;
      case kSoundEventMusicEnd:
        slot = kOnMusicEnd;
        action = "OnMusicEnd";
        break;
      case kSoundEventVideoEnd:
        slot = kOnVideoEnd;
        action = "OnVideoEnd";
        break;
      default:
        continue;
    }
    if (slots[slot].callback == kNoReference) continue;
    gState.phase = kPhaseSoundEnds;
    result->kind = kKindSound;
    SetAction(result, action);
    UseSlot(result, slots[slot]);
    result->objectId = id;
    result->time = time;
    result->starts = starts;
    *status = RunEventCallback(L, result, 0);
    return true;
  }
  return false;
}

bool PointerStage(qvScriptState* L, qvDispatchResult* result, int32_t* status) {
  int32_t timeout = AttrNumber(kAttrStaleEventAge);
  for (;;) {
    qvDisplayInput* d = gState.displayAtHead
                            ? NextDisplayInput(nullptr)
                            : (gState.displayCursor ? NextDisplayInput(gState.displayCursor)
                                                    : nullptr);
    gState.displayAtHead = false;
    gState.displayCursor = d;
    if (d == nullptr) return false;
    if (d->handlers[kOnMouseMove].callback == kNoReference || !d->pointerMoved) continue;
    qvTimeVal now;
    GetSysTime(&now);
    int64_t elapsed = (int64_t(now.seconds) - int64_t(d->pointerMoveTime.seconds)) * 1000 +
                      (int64_t(now.micros) - int64_t(d->pointerMoveTime.micros)) / 1000;
    if (elapsed > timeout) continue;
    gState.phase = kPhasePointerMoves;
    result->kind = kKindMouseMove;
    result->display = d;
    SetAction(result, "OnMouseMove");
    UseSlot(result, d->handlers[kOnMouseMove]);
    *status = RunEventCallback(L, result, 0);
    return true;
  }
}

bool NetworkStage(qvScriptState* L, int32_t phase, qvDispatchResult* result, int32_t* status) {
  static const struct {
    int32_t phase;
    int slot;
    int32_t kind;
    const char* action;
  } kStages[] = {{kPhaseUdpData, kOnReceiveUdpData, kKindUdpData, "OnReceiveUDPData"},
                 {kPhaseConnect, kOnConnect, kKindConnect, "OnConnect"},
                 {kPhaseData, kOnReceiveData, kKindData, "OnReceiveData"},
                 {kPhaseDisconnect, kOnDisconnect, kKindDisconnect, "OnDisconnect"}};
  if (gSources.network == nullptr) return false;
  for (const auto& stage : kStages) {
    if (stage.phase < phase && phase != kPhaseStart) continue;
    if (stage.phase != phase) gState.networkCursor = nullptr;
    const qvHandlerSlot& slot = ObjectHandlers()[stage.slot];
    if (slot.callback == kNoReference) continue;
    while (gSources.network(stage.phase, &gState.networkCursor, result)) {
      gState.phase = stage.phase;
      result->kind = stage.kind;
      SetAction(result, stage.action);
      UseSlot(result, slot);
      *status = RunEventCallback(L, result, 0);
      return true;
    }
    phase = kPhaseStart;
  }
  return false;
}

bool UserMessageStage(qvScriptState* L, qvDispatchResult* result, int32_t* status) {
  for (;;) {
    char* data = nullptr;
    size_t size = 0;
    qvPortMessage* message = TakePortMessage(&data, &size);
    if (message == nullptr) return false;
    const qvHandlerSlot& slot = ObjectHandlers()[kOnUserMessage];
    if (slot.callback == kNoReference) {
      std::free(message);
      continue;
    }
    std::string_view text = PortMessageText(data, size);
    gState.phase = kPhaseUserMessages;
    result->kind = kKindUserMessage;
    SetAction(result, "OnUserMessage");
    UseSlot(result, slot);
    result->messageText = text.data();
    result->messageSize = text.size();
    *status = RunEventCallback(L, result, 0);
    std::free(message);
    return true;
  }
}

// A label-based handler: the VM calls the label as a subroutine when the command returns -1,
// `offset` instructions from the current one. False when the applet has no such label.
bool LabelJump(qvScriptState* L, const std::string& name, qvDispatchResult* result) {
  if (name.empty()) return false;
  int32_t label = VmFindLabel(L, name.c_str());
  if (label < 0) return false;
  VmSetJumpOffset(L, label - VmGetCurrentInstruction(L));
  gState.phase = kPhaseStart;
  result->kind = kKindLabel;
  return true;
}

// Label-based records see the whole queue first: the first event whose label exists is taken,
// with every event before it.
bool LegacyLabelStage(qvScriptState* L, qvEventQueue* queue, qvDispatchResult* result) {
  if (gButtons.haveLegacyRecords == nullptr || !gButtons.haveLegacyRecords() ||
      gButtons.legacyEventName == nullptr) {
    return false;
  }
  std::lock_guard<std::recursive_mutex> lock(queue->Lock());
  queue->DropStale();
  qvEvent e{};
  for (int n = 0; queue->Fetch(n, &e, false) != 0; ++n) {
    if (LabelJump(L, gButtons.legacyEventName(e), result)) {
      queue->Remove(n, false);
      return true;
    }
  }
  return false;
}

// The queued events from the phase: 0 when the queue ran dry, else a callback ran (or a label
// jump was set up: *status -1).
bool QueueStage(qvScriptState* L, qvDispatchResult* result, int32_t* status) {
  qvEventQueue* queue = RuntimeEventQueue();
  if (queue == nullptr) return false;
  if (gState.phase != kPhaseCurrentEvent && LegacyLabelStage(L, queue, result)) {
    *status = -1;
    return true;
  }
  if (gState.phase == kPhaseCurrentEvent && gState.haveCurrent) {
    if (DispatchHandlerEvent(result, gState.current)) {
      gState.phase = kPhaseNextEvent;
      *status = RunEventCallback(L, result, 0);
      DropCurrent();
      return true;
    }
    DropCurrent();
  }
  for (;;) {
    {
      std::lock_guard<std::recursive_mutex> lock(queue->Lock());
      queue->DropStale();
      if (queue->Fetch(0, &gState.current, true) == 0) return false;
      queue->Remove(0, false);
    }
    gState.haveCurrent = true;
    const qvEvent& e = gState.current;
    if (e.type >= 1 && e.type < kFirstCustomEventType && e.display == nullptr) {
      DropCurrent();
      continue;
    }
    if (DispatchDisplayMouseEvent(result, e)) {
      gState.phase = kPhaseCurrentEvent;
      *status = RunEventCallback(L, result, 0);
      return true;
    }
    if (DispatchHandlerEvent(result, e)) {
      gState.phase = kPhaseNextEvent;
      *status = RunEventCallback(L, result, 0);
      DropCurrent();
      return true;
    }
    DropCurrent();
  }
}

// The label-based button-over test at the pointer; `flag` keeps it quiet.
bool LegacyOverStage(qvScriptState* L, int flag, qvDispatchResult* result) {
  if (flag != 0 || gButtons.haveLegacyRecords == nullptr || !gButtons.haveLegacyRecords() ||
      gButtons.legacyButtonOver == nullptr) {
    return false;
  }
  qvDisplayInput* d = CurrentDisplayInput();
  if (d == nullptr || !d->open) return false;
  return LabelJump(L, gButtons.legacyButtonOver(GetPointerX(), GetPointerY()), result);
}

// Button hovering over each display whose pointer moved: its flag is taken here, and the walk over
// its buttons runs one callback per step, resuming where it stopped.
bool HoverStage(qvScriptState* L, bool resume, qvDispatchResult* result, int32_t* status) {
  qvDisplayInput* d = NextDisplayInput(nullptr);
  if (resume) {  // the display may have closed since
    while (d != nullptr && d != gState.hoverDisplay) d = NextDisplayInput(d);
    if (d == nullptr) {
      resume = false;
      d = NextDisplayInput(nullptr);
    }
  }
  for (; d != nullptr; d = NextDisplayInput(d), resume = false) {
    if (!resume) {
      if (!d->pointerMoved) continue;
      d->pointerMoved = 0;
    }
    if (gButtons.hover == nullptr) continue;
    if (gButtons.hover(d, d->pointerX, d->pointerY, resume, result)) {
      gState.phase = kPhaseHover;
      gState.hoverDisplay = d;
      result->kind = kKindButton;
      result->display = d;
      *status = RunEventCallback(L, result, 0);
      return true;
    }
  }
  gState.hoverDisplay = nullptr;
  return false;
}

// table[key] = text, which may hold zero bytes (an empty view may have no data at all).
void SetFieldText(qvScriptState* L, const char* key, std::string_view text) {
  VmPushString(L, key);
  VmPushLString(L, text.empty() ? "" : text.data(), text.size());
  VmRawSet(L, -3);
}

void PushUserMessageFields(qvScriptState* L, const qvDispatchResult* result) {
  qvUserMessageParts parts;
  SplitUserMessage(
      std::string_view(result->messageText ? result->messageText : "", result->messageSize),
      &parts);
  SetFieldText(L, "command", parts.command);
  SetFieldText(L, "args", parts.args);
  SetFieldText(L, "rawargs", parts.rawargs);
  SetFieldInt(L, "argc", parts.argc);
}

void PushDropFields(qvScriptState* L, const qvDispatchResult* result) {
  std::vector<std::string_view> names;
  if (result->dropList != nullptr) {
    uint32_t bytes;
    std::memcpy(&bytes, result->dropList, sizeof bytes);
    names = ReadDropList(static_cast<const char*>(result->dropList) + sizeof bytes, bytes);
  }
  VmPushString(L, "dropfiles");
  VmNewTable(L);
  for (size_t i = 0; i < names.size(); ++i) {
    VmPushLString(L, names[i].empty() ? "" : names[i].data(), names[i].size());
    VmRawSetI(L, -2, static_cast<int>(i));
  }
  VmRawSet(L, -3);
  SetFieldInt(L, "numdropfiles", static_cast<int32_t>(names.size()));
}

qvObjectId DisplayId(const qvDispatchResult* result) {
  if (result->display == nullptr) return {0, nullptr};
  return {result->display->id, result->display->handle};
}

// The fields of the message table by kind, into the table on the stack top.
void FillMessage(qvScriptState* L, qvDispatchResult* result) {
  qvDisplayInput* d = result->display;
  switch (result->kind) {
    case kKindButton:
      if (gButtons.pushButtonFields != nullptr) gButtons.pushButtonFields(L, result);
      break;
    case kKindKey:
      SetFieldString(L, "key", result->key);
      SetMessageId(L, result, DisplayId(result));
      break;
    case kKindDisplay:
      SetMessageId(L, result, DisplayId(result));
      break;
    case kKindSize:
      SetFieldInt(L, "width", d ? d->width : result->x);
      SetFieldInt(L, "height", d ? d->height : result->y);
      SetMessageId(L, result, DisplayId(result));
      break;
    case kKindMove:
      SetFieldInt(L, "x", d ? d->windowX : result->x);
      SetFieldInt(L, "y", d ? d->windowY : result->y);
      SetMessageId(L, result, DisplayId(result));
      break;
    case kKindInterval:
    case kKindTimeout:
    case kKindUdpData:
    case kKindData:
    case kKindDisconnect:
      SetMessageId(L, result, result->objectId);
      break;
    case kKindMouseMove:
      SetFieldInt(L, "x", GetPointerX());
      SetFieldInt(L, "y", GetPointerY());
      SetMessageId(L, result, DisplayId(result));
      break;
    case kKindSound:
      if (std::strcmp(result->action, "OnSampleEnd") == 0 ||
          std::strcmp(result->action, "OnSampleLoop") == 0) {
        SetFieldInt(L, "time", result->time);
        SetFieldInt(L, "starts", result->starts);
      }
      SetMessageId(L, result, result->objectId);
      break;
    case kKindModeSwitch:
      SetFieldInt(L, "mode", d && d->fullScreen ? 2 : 1);
      SetMessageId(L, result, DisplayId(result));
      break;
    case kKindDropFile:
      SetMessageId(L, result, DisplayId(result));
      SetFieldInt(L, "x", result->x);
      SetFieldInt(L, "y", result->y);
      PushDropFields(L, result);
      break;
    case kKindConnect:
      SetFieldObjectId(L, "serverid", result->objectId);
      SetFieldObjectId(L, "clientid", result->id);
      break;
    case kKindUserMessage:
      PushUserMessageFields(L, result);
      break;
    case kKindOrientation:
      SetMessageId(L, result, DisplayId(result));
      SetFieldInt(L, "orientation", d ? d->orientation : 0);
      break;
    case kKindFillMusic:
      SetMessageId(L, result, result->objectId);
      SetFieldInt(L, "samples", result->samples);
      SetFieldInt(L, "count", result->count);
      break;
    case kKindCustom:
      if (result->customType && result->customType->pushFields) {
        result->customType->pushFields(L, result->customData);
      }
      break;
    default:
      break;
  }
  SetFieldString(L, "action", result->action);
}

struct FillArgs {
  qvDispatchResult* result;
};

void FillBody(qvScriptState* L, void* arg) { FillMessage(L, static_cast<FillArgs*>(arg)->result); }

}  // namespace

void SetEventSources(const qvEventSources* sources) {
  gSources = sources ? *sources : qvEventSources{};
}

void SetButtonSources(const qvButtonSources* sources) {
  gButtons = sources ? *sources : qvButtonSources{};
}

qvEventSources GetEventSources() { return gSources; }

void SetNetworkEventSource(bool (*network)(int stage, void** cursor, qvDispatchResult* result)) {
  gSources.network = network;
}

void StepNetworkCursorPast(void* object, void* next) {
  if (object != nullptr && gState.networkCursor == object) gState.networkCursor = next;
}

void SetMessageId(qvScriptState* L, qvDispatchResult* result, qvObjectId id) {
  SetFieldObjectId(L, "id", id);
  result->id = id;
  result->idSet = 1;
}

int32_t RunEventCallback(qvScriptState* L, qvDispatchResult* result, int keep) {
  int base = VmGetTop(L);
  result->stackBase = base;
  VmCheckStack(L, 8);
  VmRawGetI(L, kRegistryIndex, result->callback);
  VmNewTable(L);
  // The fields come from the machine's allocator: a failure unwinds to here as ERR_MEM.
  FillArgs args{result};
  if (VmRunProtected(L, FillBody, &args) != 0) {
    VmSetTop(L, base);
    return ERR_MEM;
  }
  if (result->userdata != kNoReference) {
    VmPushString(L, "userdata");
    VmRawGetI(L, kRegistryIndex, result->userdata);
    VmRawSet(L, -3);
  }
  if (keep == 0) {
    VmPushValue(L, -1);
    VmInsert(L, base + 1);
  }
  StepNesting(true);
  int32_t status = VmPCall(L, 1, kMultipleResults, 0);
  StepNesting(false);
  if (status != 0) return status;
  if (SyncWindowStates() != 0) return ERR_USERABORT;
  return 0;
}

int32_t DispatchEvent(qvScriptState* L, int flag, qvDispatchResult* result) {
  int32_t status = 0;
  switch (gState.phase) {
    default:
    case kPhaseStart: {
      gState.timerCursor = nullptr;
      gState.timerAtHead = true;
      gState.displayCursor = nullptr;
      gState.displayAtHead = true;
      gState.networkCursor = nullptr;
      qvObjectId id{};
      int32_t count = 0;
      int32_t samples = gSources.musicBufferNeed ? gSources.musicBufferNeed(&id, &count) : 0;
      const qvHandlerSlot& slot = ObjectHandlers()[kFillMusicBuffer];
      if (samples > 0 && slot.callback != kNoReference) {
        gState.phase = kPhaseTimersAfterMusic;
        result->kind = kKindFillMusic;
        SetAction(result, "FillMusicBuffer");
        UseSlot(result, slot);
        result->objectId = id;
        result->samples = samples;
        result->count = count;
        // The sound library refuses some calls while the handler that feeds the music runs.
        if (gSources.musicCallback) gSources.musicCallback(true);
        int32_t code = RunEventCallback(L, result, 0);
        if (gSources.musicCallback) gSources.musicCallback(false);
        return code;
      }
    }
      [[fallthrough]];
    case kPhaseTimersAfterMusic:
    case kPhaseTimersResume:
      if (TimerStage(L, result, &status)) return status;
      gState.displayAtHead = true;
      [[fallthrough]];
    case kPhaseSoundEnds:
      if (SoundStage(L, result, &status)) return status;
      [[fallthrough]];
    case kPhasePointerMoves:
      if (PointerStage(L, result, &status)) return status;
      [[fallthrough]];
    case kPhaseUdpData:
    case kPhaseConnect:
    case kPhaseData:
    case kPhaseDisconnect: {
      int32_t from = gState.phase >= kPhaseUdpData && gState.phase <= kPhaseDisconnect
                         ? gState.phase
                         : kPhaseStart;
      if (NetworkStage(L, from, result, &status)) return status;
    }
      [[fallthrough]];
    case kPhaseUserMessages:
      if (UserMessageStage(L, result, &status)) return status;
      [[fallthrough]];
    case kPhaseCurrentEvent:
    case kPhaseNextEvent:
      if (QueueStage(L, result, &status)) return status;
      if (LegacyOverStage(L, flag, result)) return -1;
      if (HoverStage(L, false, result, &status)) return status;
      break;
    case kPhaseHover:
      if (HoverStage(L, true, result, &status)) return status;
      break;
  }
  gState.phase = kPhaseStart;
  return 0;
}

int32_t ProcessEvents(qvScriptState* L, bool wait) {
  if (AttrNumber(kAttrCallbackNesting) != 0) return ERR_WRONGUSAGE;
  qvDispatchResult result;
  for (;;) {
    do {
      int32_t code = DispatchEvent(L, 0, &result);
      if (code != 0) return code;
    } while (result.kind == 0 && gState.phase != kPhaseStart);
    if (result.kind != 0 || !wait) break;
    int32_t passed = 0;
    WaitPlatformSignal(L, -1, &passed);
    if (passed != 0) return passed;  // no main loop: nothing will ever come
    if (SyncWindowStates() != 0) return 0;
  }
  int n = 0;
  if (result.kind != 0) {
    n = VmGetTop(L) - result.stackBase - 1;
    if (n > 0) {
      VmNewTable(L);
      for (int i = 0; i < n; ++i) {
        VmPushValue(L, result.stackBase + 2 + i);
        VmRawSetI(L, -2, i);
      }
      VmPushString(L, "results");
      VmInsert(L, -2);
      VmRawSet(L, result.stackBase + 1);
      VmSetTop(L, result.stackBase + 1);
    }
  } else {
    VmNewTable(L);
  }
  SetFieldString(L, "action", result.kind != 0 ? result.action : "");
  SetFieldObjectId(L, "id", result.idSet ? result.id : qvObjectId{0, nullptr});
  SetFieldInt(L, "nresults", n);
  SetFieldInt(L, "triggered", result.kind != 0 ? 1 : 0);
  return 1;
}

int32_t GetPointerX() {
  qvDisplayInput* d = CurrentDisplayInput();
  if (d == nullptr || d->scaleX == 0) return 0;
  return TruncateToInt((d->pointerX - d->borderLeft) / d->scaleX);
}

int32_t GetPointerY() {
  qvDisplayInput* d = CurrentDisplayInput();
  if (d == nullptr || d->scaleY == 0) return 0;
  return TruncateToInt((d->pointerY - d->borderTop) / d->scaleY);
}

int32_t CheckBreak(qvScriptState*, int, int32_t* out) {
  if (out != nullptr) *out = 0;
  return SyncWindowStates();
}

int32_t WaitPlatformSignal(qvScriptState*, int, int32_t* out) {
  int32_t r = WaitMainLoopPass();
  if (out != nullptr) *out = r;
  return 0;
}

void BreakEventCycle() {
  if (gState.phase == kPhaseCurrentEvent) DropCurrent();
  gState.phase = kPhaseStart;
  gState.timerCursor = nullptr;
  gState.timerAtHead = true;
}

void ForgetDispatchedDisplay(qvDisplayInput* display, qvDisplayInput* previous) {
  if (display == nullptr) return;
  if (gState.displayCursor == display) {
    // The pointer stage carries on behind the display that went.
    gState.displayCursor = previous;
    if (previous == nullptr) gState.displayAtHead = true;
  }
  if (gState.hoverDisplay == display) gState.hoverDisplay = nullptr;
  if (gState.haveCurrent && gState.current.display == display) gState.current.display = nullptr;
}

void StepTimerCursorPast(qvQueueTimer* timer, qvQueueTimer* next) {
  if (timer != nullptr && gState.timerCursor == timer) {
    gState.timerCursor = next;
    // An empty cursor in mid-cycle means the stage is done, not "start again at the head".
  }
}

int32_t RegisterEventType(const char* name, qvPushEventFields pushFields) {
  if (name == nullptr) name = "";
  size_t len = std::strlen(name);
  auto* type = static_cast<qvCustomEventType*>(std::malloc(sizeof(qvCustomEventType) + len + 1));
  if (type == nullptr) return 0;
  char* text = reinterpret_cast<char*>(type + 1);
  std::memcpy(text, name, len + 1);
  type->next = nullptr;
  type->name = text;
  type->slot = qvHandlerSlot{};
  type->pushFields = pushFields;
  qvCustomEventType** tail = &gCustomTypes;
  int32_t number = kFirstCustomEventType;
  while (*tail) {
    number = (*tail)->type + 1;
    tail = &(*tail)->next;
  }
  type->type = number;
  *tail = type;
  return number;
}

void PostCustomEvent(int32_t type, void* data) { PostEvent(nullptr, type, 0, 0, 0, data); }

qvCustomEventType* CustomEventTypes() { return gCustomTypes; }

void ResetDispatcher(qvScriptState* L) {
  DropCurrent();
  gState = DispatchState{};
  while (gCustomTypes != nullptr) {
    qvCustomEventType* next = gCustomTypes->next;
    if (L != nullptr) {
      VmUnref(L, kRegistryIndex, gCustomTypes->slot.callback);
      VmUnref(L, kRegistryIndex, gCustomTypes->slot.userdata);
    }
    std::free(gCustomTypes);
    gCustomTypes = next;
  }
}

}  // namespace qv
