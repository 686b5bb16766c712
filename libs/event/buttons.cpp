// Buttons of the current BGPic with their callbacks, and the label-based buttons and key handlers
// of older scripts; the dispatcher's questions about both are answered through the sources
// installed at the library's open.
#include "display/buttons.h"

#include <string>

#include "base/errors.h"
#include "core/args.h"
#include "core/events.h"
#include "core/legacy_events.h"
#include "display/displays.h"
#include "libs/event/commands.h"
#include "platform/loop.h"
#include "platform/textout.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

namespace {

constexpr int kSimpleEventsArg = 7;
constexpr int kSimpleUserdataArg = 8;

// The event table's callbacks: every field is checked before any reference is taken, so that a
// bad one leaves nothing behind. ERR_WRONGUSAGE when the table names none.
int32_t ReadButtonCallbacks(qvScriptState* L, int table, int32_t callbacks[]) {
  VmCheckTable(L, table);
  int found = 0;
  for (int i = 0; i < kButtonCallbackCount; ++i) {
    VmPushString(L, kButtonCallbackFields[i]);
    VmRawGet(L, table);
    int32_t type = VmType(L, -1);
    VmSetTop(L, -2);
    if (type == kTypeNil) continue;
    if (type != kTypeFunction) {
      SetErrorNumber(table);  // the message names the argument that holds the table
      VmRaiseError(L, ERR_FUNCEXPECTED);
    }
    ++found;
  }
  if (found == 0) return ERR_WRONGUSAGE;
  for (int i = 0; i < kButtonCallbackCount; ++i) {
    VmPushString(L, kButtonCallbackFields[i]);
    VmRawGet(L, table);
    callbacks[i] = VmType(L, -1) == kTypeFunction ? VmRef(L, kRegistryIndex) : kNoReference;
    if (callbacks[i] == kNoReference) VmSetTop(L, -2);
  }
  return 0;
}

void ReleaseSpec(qvScriptState* L, const qvButtonSpec& spec) {
  for (int32_t ref : spec.callbacks) ReleaseReference(L, ref);
  ReleaseReference(L, spec.userdata);
}

int32_t CurrentBGPicOrError(qvBGPic** bgpic) { return CurrentButtonBGPic(bgpic); }

int32_t SetEnabled(qvScriptState* L, bool on) {
  CheckArgCount(L, 1, 1);
  qvObjectId id = CheckObjectId(L, 1);
  qvBGPic* bgpic = nullptr;
  int32_t code = CurrentBGPicOrError(&bgpic);
  return code != 0 ? code : SetButtonEnabled(bgpic, id, on);
}

int32_t SetEventEnabled(qvScriptState* L, bool on) {
  CheckArgCount(L, 2, 2);
  int32_t code = VmCheckInt(L, 1);
  int32_t id = VmCheckInt(L, 2);
  SetLegacyEventEnabled(code, id, on);
  return 0;
}

// The fields of a button's message.
void PushButtonFields(qvScriptState* L, qvDispatchResult* result) {
  const auto* b = static_cast<const qvBGPicButton*>(result->button);
  if (b == nullptr) return;
  SetMessageId(L, result, b->id);
  SetFieldInt(L, "x", b->x1);
  SetFieldInt(L, "y", b->y1);
  SetFieldInt(L, "width", static_cast<int32_t>(int64_t{b->x2} - b->x1 + 1));
  SetFieldInt(L, "height", static_cast<int32_t>(int64_t{b->y2} - b->y1 + 1));
  SetFieldInt(L, "mousedown", b->pressed[kLeftButtonIndex]);
  SetFieldInt(L, "rightmousedown", b->pressed[kRightButtonIndex]);
  SetFieldInt(L, "midmousedown", b->pressed[kMidButtonIndex]);
  if (const qvDisplayInput* d = result->display) {
    SetFieldObjectId(L, "display", {d->id, d->handle});
  }
}

}  // namespace

// MakeButton(id, SIMPLEBUTTON, x, y, width, height, events [, userdata])
// MakeButton(id, LAYERBUTTON, layer, exacthit, activewhilehidden, events [, userdata])
int32_t MakeButton(qvScriptState* L) {
  CheckArgCount(L, 6, 8);
  qvOptionalId optional = OptObjectId(L, 1);
  int32_t type = VmCheckInt(L, 2);
  qvBGPic* bgpic = nullptr;
  int32_t code = CurrentBGPicOrError(&bgpic);
  if (code != 0) return code;
  if (type == kLayerButton) {
    int32_t layer = VmType(L, 3);
    if (layer != kTypeNumber && layer != kTypeString) return ERR_STRORNUM;
    return ERR_NOLAYERS;  // no layer stands on a BGPic yet
  }
  if (type != kSimpleButton) return ERR_WRONGUSAGE;
  qvButtonSpec spec;
  spec.x = VmCheckInt(L, 3);
  spec.y = VmCheckInt(L, 4);
  spec.width = VmCheckInt(L, 5);
  spec.height = VmCheckInt(L, 6);
  if (spec.width < 1 || spec.height < 1) return ERR_WRONGUSAGE;
  if (VmGetTop(L) < kSimpleEventsArg) return ERR_MISSINGPARAMTR;
  code = ReadButtonCallbacks(L, kSimpleEventsArg, spec.callbacks);
  if (code != 0) return code;
  if (VmGetTop(L) >= kSimpleUserdataArg) {
    VmPushValue(L, kSimpleUserdataArg);
    spec.userdata = VmRef(L, kRegistryIndex);
  }
  qvBGPicButton* button = nullptr;
  code = AddSimpleButton(L, bgpic, {optional.number, nullptr}, optional.automatic != 0, spec,
                         &button);
  if (code != 0) {
    ReleaseSpec(L, spec);
    return code;
  }
  if (!optional.automatic) return 0;
  VmPushLightUserdata(L, button->id.handle);
  return 1;
}

int32_t DeleteButton(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvObjectId id = CheckObjectId(L, 1);
  qvBGPic* bgpic = nullptr;
  int32_t code = CurrentBGPicOrError(&bgpic);
  return code != 0 ? code : FreeButton(L, bgpic, id);
}

int32_t EnableButton(qvScriptState* L) { return SetEnabled(L, true); }
int32_t DisableButton(qvScriptState* L) { return SetEnabled(L, false); }

int32_t DumpButtons(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  qvBGPic* bgpic = nullptr;
  int32_t code = CurrentBGPicOrError(&bgpic);
  if (code != 0) return code;
  OutputText(DumpButtonsText(bgpic).c_str());
  return 0;
}

// CreateButton(id, x1, y1, x2, y2): the over, click and right-click records.
int32_t CreateButton(qvScriptState* L) {
  CheckArgCount(L, 5, 5);
  int32_t id = VmCheckInt(L, 1);
  return CreateLegacyButton(id, VmCheckInt(L, 2), VmCheckInt(L, 3), VmCheckInt(L, 4),
                            VmCheckInt(L, 5));
}

int32_t CreateKeyDown(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  int32_t id = VmCheckInt(L, 1);
  return CreateLegacyKey(id, VmCheckString(L, 2));
}

int32_t ModifyButton(qvScriptState* L) {
  CheckArgCount(L, 5, 5);
  int32_t id = VmCheckInt(L, 1);
  ModifyLegacyButton(id, VmCheckInt(L, 2), VmCheckInt(L, 3), VmCheckInt(L, 4), VmCheckInt(L, 5));
  return 0;
}

int32_t ModifyKeyDown(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  int32_t id = VmCheckInt(L, 1);
  return ModifyLegacyKey(id, VmCheckString(L, 2));
}

int32_t RemoveButton(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  RemoveLegacyButton(VmCheckInt(L, 1));
  return 0;
}

int32_t RemoveKeyDown(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  RemoveLegacyKey(VmCheckInt(L, 1));
  return 0;
}

int32_t ClearEvents(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  ClearLegacyEvents();
  return 0;
}

int32_t EnableEvent(qvScriptState* L) { return SetEventEnabled(L, true); }
int32_t DisableEvent(qvScriptState* L) { return SetEventEnabled(L, false); }

int32_t GetEventCode(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  VmPushNumber(L, GetLegacyEventCode());
  return 1;
}

int32_t BreakWhileMouseOn(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  ForgetLegacyRecordUnderPointer();
  return 0;
}

// WhileMouseOn(): runs the callbacks that come while the pointer stays on the label-based button
// it last entered. After a label call it answers -2: the machine runs the label and then this
// command again.
int32_t WhileMouseOn(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  int top = VmGetTop(L);
  for (;;) {
    const qvLegacyEvent* r = LegacyRecordUnderPointer();
    if (r == nullptr) return 0;
    int32_t x = GetPointerX(), y = GetPointerY();
    if (x < r->x1 || x > r->x2 || y < r->y1 || y > r->y2) return 0;
    qvDispatchResult result;
    int32_t code = DispatchEvent(L, 1, &result);
    VmSetTop(L, top);
    if (code > 0) return code;
    if (code < 0) return -2;
    if (result.kind == 0) {
      int32_t passed = 0;
      WaitPlatformSignal(L, -1, &passed);
      if (passed != 0) return 0;  // no main loop: the pointer cannot move
    }
    if (SyncWindowStates() != 0) return 0;
  }
}

void InstallButtonSources() {
  qvButtonSources sources;
  sources.buttonEvent = DispatchButtonEvent;
  sources.hover = DispatchButtonHover;
  sources.haveLegacyRecords = HaveLegacyRecords;
  sources.legacyEventName = LegacyEventName;
  sources.legacyButtonOver = LegacyButtonOver;
  sources.pushButtonFields = PushButtonFields;
  SetButtonSources(&sources);
}

}  // namespace qv::cmd
