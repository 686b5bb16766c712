// Waiting for and polling the mouse buttons, keys and joysticks of the current display, and the
// quit switches. The waits run no callbacks; each pass takes over the window states and ends on a
// quit request.
#include "platform/input.h"

#include "base/errors.h"
#include "core/args.h"
#include "core/eventqueue.h"
#include "core/events.h"
#include "core/legacy_events.h"
#include "libs/event/commands.h"
#include "platform/loop.h"

namespace qv::cmd {

namespace {

constexpr int kJoystickButtons = 32;

// One pass of the main loop and the window states after it: false when the wait must end (a quit
// request, or no main loop that could ever change the state).
bool NextPass() {
  if (WaitMainLoopPass() != 0) return false;
  return SyncWindowStates() == 0;
}

// Waits while the flag reads `down`; false when the wait was cut short.
bool WaitWhile(const int32_t* flag, int32_t down) {
  if (SyncWindowStates() != 0) return false;
  while ((*flag != 0) == (down != 0)) {
    if (!NextPass()) return false;
  }
  return true;
}

// Waits until the button is down and up again: a button already down only has to be let go.
// The release is counted, not sampled: a click whose press and release came in one pass leaves
// the state up, as it was.
int32_t WaitClick(qvScriptState* L, int index) {
  CheckArgCount(L, 0, 0);
  qvDisplayInput* d = CurrentDisplayInput();
  if (d == nullptr) return 0;
  if (SyncWindowStates() == 0) {
    uint32_t before = d->releases[index];
    while (d->releases[index] == before && NextPass()) {
    }
  }
  RemoveEvents(-1, true);
  return 0;
}

int32_t WhileDown(qvScriptState* L, int32_t qvDisplayInput::*button) {
  CheckArgCount(L, 0, 0);
  qvDisplayInput* d = CurrentDisplayInput();
  if (d != nullptr) WaitWhile(&(d->*button), 1);
  return 0;
}

int32_t PushFlag(qvScriptState* L, int32_t qvDisplayInput::*button) {
  CheckArgCount(L, 0, 0);
  qvDisplayInput* d = CurrentDisplayInput();
  VmPushNumber(L, d != nullptr ? d->*button : 0);
  return 1;
}

bool KeyHeld(qvDisplayInput* d, uint32_t code) {
  if (code & kQualifierAlways) return (GetQualifiers() & code) == code;
  return d != nullptr && code < kKeyCodeCount && d->keyDown[code] != 0;
}

int32_t SetSwitch(qvScriptState* L, PlatformAttr attr) {
  CheckArgCount(L, 1, 1);
  SetPlatformAttr(attr, VmCheckInt(L, 1));
  return 0;
}

}  // namespace

int32_t WaitLeftMouse(qvScriptState* L) { return WaitClick(L, kLeftButtonIndex); }
int32_t WaitRightMouse(qvScriptState* L) { return WaitClick(L, kRightButtonIndex); }
int32_t WaitMidMouse(qvScriptState* L) { return WaitClick(L, kMidButtonIndex); }

// WaitKeyDown(key): a key already held is first let go, then pressed and let go again.
int32_t WaitKeyDown(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  uint32_t code = KeyCodeLookup(VmCheckString(L, 1), false);
  if (code == 0) return ERR_WRONGUSAGE;
  qvDisplayInput* d = CurrentDisplayInput();
  if (d == nullptr) return 0;
  // Releases are counted, as for the mouse buttons: a press and its release in one pass still
  // end the wait. A key held at the start is let go first: two releases then.
  bool going = SyncWindowStates() == 0;
  bool held = KeyHeld(d, code);
  uint16_t start = d->keyReleases[code];
  while (going) {
    auto released = static_cast<uint16_t>(d->keyReleases[code] - start);
    if (released >= (held ? 2 : 1)) break;
    if (held && released == 0 && !KeyHeld(d, code)) {
      // Let go unseen (the window lost the focus): a press and a release are still wanted.
      held = false;
      continue;
    }
    going = NextPass();
  }
  RemoveEvents(-1, true);
  return 0;
}

int32_t WhileMouseDown(qvScriptState* L) { return WhileDown(L, &qvDisplayInput::leftButton); }
int32_t WhileRightMouseDown(qvScriptState* L) { return WhileDown(L, &qvDisplayInput::rightButton); }

// WhileKeyDown(): waits while the key of the last label-based key event is held (none seen yet:
// at once).
int32_t WhileKeyDown(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  qvDisplayInput* d = CurrentDisplayInput();
  uint32_t code = GetLegacyKeyCode();
  if (d == nullptr || code == 0 || code >= kKeyCodeCount || SyncWindowStates() != 0) return 0;
  while (KeyHeld(d, code) && NextPass()) {
  }
  return 0;
}

// IsKeyDown(key): qualifier keys are held when all their bits are in the qualifier state.
int32_t IsKeyDown(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  uint32_t code = KeyCodeLookup(VmCheckString(L, 1), true);
  if (code == 0) return ERR_WRONGUSAGE;
  VmPushNumber(L, KeyHeld(CurrentDisplayInput(), code) ? 1 : 0);
  return 1;
}

int32_t IsLeftMouse(qvScriptState* L) { return PushFlag(L, &qvDisplayInput::leftButton); }
int32_t IsRightMouse(qvScriptState* L) { return PushFlag(L, &qvDisplayInput::rightButton); }
int32_t IsMidMouse(qvScriptState* L) { return PushFlag(L, &qvDisplayInput::midButton); }

int32_t MouseX(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  VmPushNumber(L, GetPointerX());
  return 1;
}

int32_t MouseY(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  VmPushNumber(L, GetPointerY());
  return 1;
}

int32_t ResetKeyStates(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  ResetDisplayInputState(CurrentDisplayInput());
  return 0;
}

int32_t JoyDir(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  int32_t direction;
  uint32_t buttons;
  int code = ReadJoystick(VmCheckInt(L, 1), &direction, &buttons);
  if (code != 0) return code;
  VmPushNumber(L, direction);
  return 1;
}

// JoyFire(port [, button]): button 0 gives the whole mask.
int32_t JoyFire(qvScriptState* L) {
  CheckArgCount(L, 1, 2);
  int32_t port = VmCheckInt(L, 1);
  int32_t button = VmOptInt(L, 2, 1);
  if (button < 0 || button > kJoystickButtons) return ERR_WRONGUSAGE;
  int32_t direction;
  uint32_t buttons;
  int code = ReadJoystick(port, &direction, &buttons);
  if (code != 0) return code;
  VmPushNumber(L, button == 0 ? double(buttons) : double((buttons >> (button - 1)) & 1));
  return 1;
}

int32_t CountJoysticks(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  int32_t count = 0;
  int code = CountJoysticksCore(&count);
  if (code != 0) return code;
  VmPushNumber(L, count);
  return 1;
}

int32_t LeftMouseQuit(qvScriptState* L) { return SetSwitch(L, PlatformAttr::kQuitOnLeftButton); }
int32_t EscapeQuit(qvScriptState* L) { return SetSwitch(L, PlatformAttr::kQuitOnEscape); }
int32_t CtrlCQuit(qvScriptState* L) { return SetSwitch(L, PlatformAttr::kQuitOnCtrlC); }

}  // namespace qv::cmd
