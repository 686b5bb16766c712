// Buttons: clickable areas of a BGPic with up to eight script callbacks, kept in a list of their
// BGPic (newest first), and what the event dispatcher asks of them: the button a mouse press or
// release hits and the hover callbacks as the pointer moves. The callbacks and the userdata are
// registry references that the event library took; this code keeps them and releases them with
// the button. Script thread only.
#pragma once

#include <cstdint>
#include <string>

#include "core/events.h"
#include "core/registry.h"

namespace qv {

struct qvBGPic;
struct qvDisplay;
struct qvLayer;

enum : int32_t { kSimpleButton = 0, kLayerButton = 1 };

// The callbacks of a button, in the order of its event table's fields.
enum ButtonCallback : int {
  kButtonMouseOver,
  kButtonMouseOut,
  kButtonMouseDown,
  kButtonMouseUp,
  kButtonRightMouseDown,
  kButtonRightMouseUp,
  kButtonMidMouseDown,
  kButtonMidMouseUp,
  kButtonCallbackCount,
};
// The event table's field of each callback (lower case) and the action its message carries.
extern const char* const kButtonCallbackFields[kButtonCallbackCount];
extern const char* const kButtonCallbackActions[kButtonCallbackCount];

struct qvBGPicButton {
  qvBGPicButton* next;
  qvObjectId id;           // handle = the record's own address for an automatic id
  int32_t type;            // kSimpleButton or kLayerButton
  int32_t x1, y1, x2, y2;  // inclusive, display coordinates (simple buttons)
  int32_t enabled;
  int32_t pressed[kButtonCount];  // left, right, middle: pressed on the button
  int32_t hovered;
  int32_t callbacks[kButtonCallbackCount];  // registry references, kNoReference for none
  qvLayer* layer;                           // layer buttons
  int32_t exactHit, activeWhileHidden;      // layer buttons
  int32_t userdata;                         // registry reference, kNoReference for none
};

// A new simple button: its rectangle (x and y special positions, resolved against the BGPic)
// and the references it takes over.
struct qvButtonSpec {
  int32_t x = 0, y = 0, width = 0, height = 0;
  int32_t callbacks[kButtonCallbackCount] = {kNoReference, kNoReference, kNoReference,
                                             kNoReference, kNoReference, kNoReference,
                                             kNoReference, kNoReference};
  int32_t userdata = kNoReference;
};

// The BGPic that the button commands work on: the current display's output must be the display
// itself or a BGPic selected as layer target. 0 with it, or ERR_BGPICBUTTON.
int CurrentButtonBGPic(qvBGPic** out);
// Makes a simple button on the BGPic. An explicit id first frees the button with that id.
// ERR_WRONGUSAGE for a width or height below 1, ERR_MEM; on failure the caller keeps the
// references. *out (may be null) gets the button, whose id holds the automatic handle.
int AddSimpleButton(qvScriptState* L, qvBGPic* bgpic, qvObjectId id, bool automatic,
                    const qvButtonSpec& spec, qvBGPicButton** out);
qvBGPicButton* FindButton(const qvBGPic* bgpic, qvObjectId id);
// Frees the button: its references are released, and the dispatcher's walks forget it. 0, or
// ERR_FINDARRAY (a handle) / ERR_FINDBUTTON (a number, the error argument) when it is not there.
int FreeButton(qvScriptState* L, qvBGPic* bgpic, qvObjectId id);
// enabled := on, and its pressed states cleared. 0 or the errors of FreeButton.
int SetButtonEnabled(qvBGPic* bgpic, qvObjectId id, bool on);
// Clears the pressed states of every button of the BGPic (null allowed).
void ResetButtonStates(qvBGPic* bgpic);
// Frees every button of the BGPic; with the BGPic, which L (null after the machine closed)
// releases the references in.
void FreeBGPicButtons(qvScriptState* L, qvBGPic* bgpic);
// The text of DumpButtons.
std::string DumpButtonsText(const qvBGPic* bgpic);

// Whether the window point hits the button of the display's picture: the point minus the border
// strips, divided by the scale factors (truncated). Layer buttons are not hit.
bool ButtonHitTest(const qvDisplay* display, int32_t x, int32_t y, const qvBGPicButton* button);

// The dispatcher's questions (core/events.h qvButtonSources): a mouse press or release over the
// buttons of its display's picture, and the next hover callback.
bool DispatchButtonEvent(const qvEvent& event, qvDispatchResult* result);
bool DispatchButtonHover(qvDisplayInput* input, int32_t x, int32_t y, bool resume,
                         qvDispatchResult* result);
// The display a dispatched input belongs to, or null.
qvDisplay* DisplayOfInput(const qvDisplayInput* input);
// Forgets the hover walk (the library's teardown).
void ResetButtonDispatch();

}  // namespace qv
