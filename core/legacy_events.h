// The label-based handlers of older scripts: rectangles and keys whose events call a label of the
// applet (its name made from the event and the record's id) as a subroutine. One global list of
// records, appended at the tail, with the all-switches that send every record of a kind to one
// label. Script thread only.
#pragma once

#include <cstdint>
#include <string>

#include "core/eventqueue.h"

namespace qv {

// Record kinds, also the codes of EnableEvent and DisableEvent.
enum : int32_t {
  kLegacyButtonOver = 1,
  kLegacyButtonClick = 2,
  kLegacyKeyDown = 3,
  kLegacyRightClick = 5,
};
// EnableEvent and DisableEvent codes beyond the kinds: the close box and the all-switches.
enum : int32_t {
  kLegacyCloseWindow = 10,
  kLegacyClickAll = 11,
  kLegacyRightClickAll = 12,
  kLegacyOverAll = 13,
  kLegacyKeyDownAll = 14,
};

struct qvLegacyEvent {
  qvLegacyEvent* next;
  int32_t kind;
  int32_t id;
  int32_t x1, y1, x2, y2;  // inclusive, display coordinates
  char* key;               // owned; null for buttons
  int32_t enabled;
};

// The records in list order (null: none).
const qvLegacyEvent* LegacyEvents();
bool HaveLegacyRecords();

// Appends an over, a click and a right-click record with the rectangle; all three or none:
// ERR_MEM leaves the list as it was.
int32_t CreateLegacyButton(int32_t id, int32_t x1, int32_t y1, int32_t x2, int32_t y2);
// Appends a key record with a copy of the key name: 0 or ERR_MEM.
int32_t CreateLegacyKey(int32_t id, const char* key);
// The first over, click and right-click record with the id take the rectangle.
void ModifyLegacyButton(int32_t id, int32_t x1, int32_t y1, int32_t x2, int32_t y2);
// The first key record with the id: its rectangle zeroed, its key name replaced. 0 or ERR_MEM
// (the record keeps its old name); no such record: 0.
int32_t ModifyLegacyKey(int32_t id, const char* key);
// Removes the first over, click and right-click record with the id.
void RemoveLegacyButton(int32_t id);
// Removes the first key record with the id.
void RemoveLegacyKey(int32_t id);
// Frees every record (the library's teardown and ClearEvents); the switches stay.
void ClearLegacyEvents();
// EnableEvent (on) and DisableEvent (off): CLOSEWINDOW marks whether the current display's close
// box is handled, 11-14 set an all-switch; then the first record of that kind with the id is
// enabled or disabled.
void SetLegacyEventEnabled(int32_t code, int32_t id, bool on);

// The id of the record that fired while its all-switch was on (GetEventCode).
int32_t GetLegacyEventCode();
// The key code of the last key record that matched, 0 before any (WhileKeyDown).
uint32_t GetLegacyKeyCode();

// The label a queued event stands for: a left or right press in an enabled click record's
// rectangle, or a key press whose name equals an enabled key record's; empty when none applies.
// The point is converted to display coordinates as the pointer is.
std::string LegacyEventName(const qvEvent& event);
// The label of the first enabled over record whose rectangle holds the point (display
// coordinates), which becomes the record under the pointer; empty when none holds it.
std::string LegacyButtonOver(int32_t x, int32_t y);
// The record under the pointer, null when none (WhileMouseOn); BreakWhileMouseOn forgets it.
const qvLegacyEvent* LegacyRecordUnderPointer();
void ForgetLegacyRecordUnderPointer();
// Everything back to the start: no records, switches off, event and key codes 0.
void ResetLegacyEvents();

}  // namespace qv
