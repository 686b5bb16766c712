// Input services that the window system records and the event library reads: the qualifier
// keys, joysticks, and the window's roles as a drop target and a clipboard viewer. The headless
// player has no joystick and no desktop to join; the window system fills these in.
#pragma once

#include <cstdint>

namespace qv {

// Qualifier bits as the key table names them; kQualifierAlways is set in every answer.
enum : uint32_t {
  kQualifierAlways = 0x80000000u,
  kQualifierLeftShift = 0x00010000u,
  kQualifierRightShift = 0x00020000u,
  kQualifierLeftAlt = 0x00040000u,
  kQualifierRightAlt = 0x00080000u,
  kQualifierLeftCommand = 0x00100000u,
  kQualifierRightCommand = 0x00200000u,
  kQualifierLeftControl = 0x00400000u,
  kQualifierRightControl = 0x00800000u,
};

// The qualifier keys held now: kQualifierAlways plus what the window system recorded. Any thread.
uint32_t GetQualifiers();
// The window system's record of the held qualifier keys (kQualifierAlways need not be given).
// Main thread; ShutdownPlatform clears it.
void RecordQualifiers(uint32_t bits);

// Joysticks are the controllers attached when one is first asked for, numbered from 0 in the
// order SDL lists them, for the whole run.
// The joystick at a port: *direction 0 (up) clockwise to 7 (up left), 8 none, and a mask of up to
// 32 fire buttons; 0, ERR_NOJOYATPORT when no joystick is there, ERR_DINPUT when joysticks cannot
// be read at all. Script thread.
int ReadJoystick(int port, int32_t* direction, uint32_t* buttons);
// The number of joysticks: 0 with *count set, or ERR_DINPUT (*count 0). Script thread.
int CountJoysticksCore(int32_t* count);
// An SDL axis value (-32768..32767) on the scale of -1000..1000.
int32_t ScaleJoystickAxis(int32_t value);
// The direction of a stick at (x, y) on that scale: beyond 500 either way a side counts.
int32_t JoystickDirection(int32_t x, int32_t y);

// Makes a display's window accept dropped files or not: 0 or an error code (0 without windows).
int SetDropTarget(void* display, bool on);
// Makes a display's window hear of clipboard changes or not: 0 or an error code (0 without an X
// display, where there is no desktop clipboard to watch). While on, every new owner of the X
// display's clipboard (the player included) reaches the clipboard-change handler.
int JoinClipboardChain(void* display, bool on);
// Where clipboard changes are told: the event core installs its window procedure's entry here.
// It runs on the main thread inside a pass of the main loop with the display-list lock held, once
// for any number of changes since the pass before. Null: none. Any thread.
void SetClipboardChangeHandler(void (*handler)());

}  // namespace qv
