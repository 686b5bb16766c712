// How events reach scripts: the input state of the displays and the window procedure that fills
// it, the dispatcher that turns pending events into calls of script callbacks one at a time, the
// intervals and time-outs, the handler slots, the key table and custom event types.
//
// The dispatcher and the event objects belong to the script thread; the window procedure runs on
// the main thread inside a pump (display-list lock held).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/support.h"
#include "core/args.h"        // qvOptionalId
#include "core/eventqueue.h"  // kEventWindowSized
#include "core/registry.h"

namespace qv {

class DisplayHost;
struct qvWindow;
struct qvQueueTimer;

// ---- handler slots ----

constexpr int kInputEventCount = 26;   // per display
constexpr int kObjectEventCount = 11;  // global

// The slots of a display, in the order of kInputEventNames.
enum InputEvent : int {
  kOnKeyDown,
  kOnKeyUp,
  kOnMouseMove,
  kCloseWindow,
  kMoveWindow,
  kSizeWindow,
  kActiveWindow,
  kInactiveWindow,
  kHideWindow,
  kShowWindow,
  kOnMouseDown,
  kOnMouseUp,
  kOnRightMouseDown,
  kOnRightMouseUp,
  kOnWheelDown,
  kOnWheelUp,
  kModeSwitch,
  kOnDropFile,
  kClipboardChange,
  kOnMidMouseDown,
  kOnMidMouseUp,
  kOrientationChange,
  kShowKeyboard,
  kHideKeyboard,
  kHotkey,
  kTrayIcon,
};
// The global slots, in the order of kObjectEventNames.
enum ObjectEvent : int {
  kOnSampleLoop,
  kOnSampleEnd,
  kOnMusicEnd,
  kOnHostMessage,
  kOnConnect,
  kOnDisconnect,
  kOnReceiveData,
  kOnReceiveUdpData,
  kOnVideoEnd,
  kOnUserMessage,
  kFillMusicBuffer,
};
extern const char* const kInputEventNames[kInputEventCount];
extern const char* const kObjectEventNames[kObjectEventCount];

// Registry references of a handler and its userdata; kNoReference for none.
struct qvHandlerSlot {
  int32_t callback = kNoReference;
  int32_t userdata = kNoReference;
};

// ---- event types of the queue ----

enum : int32_t {
  kEventLeftButton = 1,
  kEventRightButton = 2,
  kEventKey = 3,
  kEventWindowMoved = 4,
  kEventWindowInactive = 6,
  kEventCloseWindow = 7,
  kEventWindowActive = 8,
  kEventWindowHidden = 9,
  kEventWindowShown = 10,
  kEventWheelUp = 11,
  kEventWheelDown = 12,
  kEventModeSwitch = 13,
  kEventDropFiles = 14,
  kEventClipboard = 15,
  kEventMidButton = 16,
  kEventOrientation = 17,
  kEventKeyboardShown = 18,
  kEventKeyboardHidden = 19,
  kEventHotKey = 20,
  kEventTrayIcon = 21,
};

// ---- the key table ----

struct qvKeyRow {
  const char* name;
  uint32_t code;
};
constexpr int kKeyTableRows = 52;
// Rows 0-8 repeat the event codes, 9-43 name the special keys, 44-51 the qualifier keys.
extern const qvKeyRow kKeyTable[kKeyTableRows];
enum : int32_t {
  kKeyUp = 0x100,
  kKeyDown = 0x101,
  kKeyRight = 0x102,
  kKeyLeft = 0x103,
  kKeyHelp = 0x104,
  kKeyF1 = 0x105,
  kKeyBackspace = 0x10F,
  kKeyTab = 0x110,
  kKeyEnter = 0x111,
  kKeyReturn = 0x112,
  kKeyEsc = 0x113,
  kKeySpace = 0x114,
  kKeyDel = 0x115,
};
// The code of a key name: one character gives its code (read unsigned, so "ä" is 0xE4) when it
// is a graphic character, else 0; a longer name the code of the special key (rows 9-43, or 9-51
// with `qualifiers`) whose name equals it without regard to case, else 0.
uint32_t KeyCodeLookup(const char* name, bool qualifiers);
// The name a key event carries: the special key's name, eight blanks for TAB, a line feed for
// RETURN and ENTER, one blank for SPACE, else the code as one character.
std::string KeyEventName(int32_t code);

// ---- display input state ----

constexpr int kKeyCodeCount = 0x200;  // characters and the special keys
// The mouse buttons in the per-button arrays.
enum : int { kLeftButtonIndex, kRightButtonIndex, kMidButtonIndex, kButtonCount };

// What the dispatcher and the input commands read of a display. It is copied from the window
// system's gathered states by SyncWindowStates, never written by the main thread directly. Each
// display has its own, found by its window; events carry it as their display.
struct qvDisplayInput {
  int32_t id = 1;
  void* handle = nullptr;  // the id's handle (an automatic id)
  const qvWindow* window = nullptr;
  bool open = false;
  qvHandlerSlot handlers[kInputEventCount];
  int32_t pointerMoved = 0;
  qvTimeVal pointerMoveTime{};
  int32_t pointerX = 0, pointerY = 0;  // window pixels
  int32_t windowX = 0, windowY = 0;
  int32_t width = 640, height = 480;
  int32_t leftButton = 0, rightButton = 0, midButton = 0;
  // Releases of each button seen so far: a press and its release in one pass leave the state as
  // it was, the count shows the click.
  uint32_t releases[kButtonCount] = {};
  uint8_t keyDown[kKeyCodeCount] = {};
  uint16_t keyReleases[kKeyCodeCount] = {};  // as the button releases, counting round
  int32_t closeWindowHandled = 0;
  int32_t borderLeft = 0, borderTop = 0;
  double scaleX = 1.0, scaleY = 1.0;
  int32_t orientation = 0;
  int32_t fullScreen = 0;
};

// The current display's input (the display the script selected), or null outside
// OpenInputDisplay .. CloseInputDisplay.
qvDisplayInput* CurrentDisplayInput();
// The displays in the order they were made: null gives the first; null after the last.
qvDisplayInput* NextDisplayInput(qvDisplayInput* after);
// The display code's side, script thread. A display's input comes with the display, keyed by its
// window (null when memory runs out); the first one made is current until another is selected.
// Removing releases its handlers' references in L (may be null) and forgets its queued events;
// a window without input is left alone.
qvDisplayInput* AddDisplayInput(const qvWindow* window, qvObjectId id);
void RemoveDisplayInput(qvScriptState* L, const qvWindow* window);
void SelectDisplayInput(const qvWindow* window);
qvDisplayInput* FindDisplayInput(const qvWindow* window);
// A window of no display's own that stands for the first display (the backdrop behind a full
// screen): its events go there. Null: none.
void SetStandInWindow(const qvWindow* window);
// Whether any display has a callback in that handler slot (an InputEvent).
bool AnyDisplayHandler(int slot);
// Starts the input of every display with empty handler slots and a clean state (start-up, before
// the main loop); without any display, display 1 stands without a window. Closing releases every
// display's handlers' references in L (may be null) and forgets them all.
void OpenInputDisplay();
void CloseInputDisplay(qvScriptState* L);
// Forgets the buttons and keys held (the gathered states too).
void ResetDisplayInputState(qvDisplayInput* display);
// The display host that copies the window states into the displays; install it with
// SetDisplayHost for the main loop.
DisplayHost* InputDisplayHost();
// Alt+Return's switch between a window and a full screen: the window procedure keeps the word
// that it posts with event 13 (1 full screen, 0 window), and the script thread's copy of the
// window states hands it to this handler with the display-list lock left (the switch waits for
// the main thread). Null: the switch is not acted on. Any thread.
void SetModeSwitchHandler(void (*handler)(int32_t word));
// A user's resize of a window: the script thread's copy of the window states hands the new client
// size to this handler with the display-list lock left, before a SizeWindow callback runs. Null:
// the displays keep their sizes. Any thread.
void SetUserResizeHandler(void (*handler)(const qvWindow* window, int32_t width, int32_t height));
// The mode that ModeSwitch messages report (full screen or a window). Script thread.
void SetInputFullScreen(bool on);

// ---- the window procedure: main thread, inside a pump ----
// Each records the state and queues the event for the display whose window it is (a null window:
// the first display); for a window of no display, or before the input starts, it does nothing.

void WindowKey(const qvWindow* window, int32_t code, bool pressed, uint32_t qualifiers);
// Ctrl+C: the quit condition only, no key event.
void WindowCtrlC(const qvWindow* window);
// type: kEventLeftButton, kEventRightButton or kEventMidButton; window pixels.
void WindowButton(const qvWindow* window, int32_t type, bool pressed, int32_t x, int32_t y);
void WindowWheel(const qvWindow* window, bool up);
void WindowPointer(const qvWindow* window, int32_t x, int32_t y);
// Window events 4-21 but the wheel, the middle button and dropped files; moves and sizes also set
// the window's position or size.
void WindowEvent(const qvWindow* window, int32_t type, int32_t x, int32_t y);
void WindowDropFiles(const qvWindow* window, const std::vector<std::string>& names, int32_t x,
                     int32_t y);
// Whether the display has a closewindow handler: without one a close request of its window ends
// the script at the end of the main loop's pass. Script thread (the event library keeps it
// current).
void SetCloseHandled(qvDisplayInput* display, bool handled);

// A dropped-file list as the queue carries it: a 32-bit byte count, then each name with a zero
// byte, an empty name ending the list. Null when memory runs out.
void* MakeDropList(const std::vector<std::string>& names);
// The names of a list of `size` bytes (the block past its count): up to an empty name or the end
// of the bytes, a name cut by the end included.
std::vector<std::string_view> ReadDropList(const char* names, size_t size);

// ---- user messages ----

// A message text split as handlers receive it: "command" before the first blank, "rawargs" after
// it, "args" the same characters with every blank outside double quotes made a zero byte and the
// quotes dropped, "argc" one more than those blanks (0 without a blank). An unclosed quote runs
// to the end of the text.
struct qvUserMessageParts {
  std::string_view command;
  std::string_view rawargs;
  std::string args;
  int32_t argc = 0;
};
void SplitUserMessage(std::string_view text, qvUserMessageParts* out);
// The text of a port message block (the port's name, a zero, the text, a zero) of `size` bytes;
// empty when the block holds no text, cut at the block's end when its zero is missing.
std::string_view PortMessageText(const char* block, size_t size);

// ---- the dispatcher ----

// The message kind of a FillMusicBuffer call (its table holds "id", "samples" and "count").
inline constexpr int32_t kDispatchFillMusic = 20;

// What one dispatch step found, read by RunEventCallback and ProcessEvents.
struct qvDispatchResult {
  qvDisplayInput* display = nullptr;
  int32_t kind = 0;  // 0: nothing ran; 11: a label jump
  void* bgpic = nullptr;
  void* button = nullptr;
  int32_t callback = kNoReference;
  int32_t userdata = kNoReference;
  qvObjectId objectId{};
  int32_t qualifiers = 0;
  int32_t x = 0, y = 0;
  char action[32] = {};
  char key[32] = {};
  int32_t time = 0, starts = 0;
  const char* messageText = nullptr;
  size_t messageSize = 0;
  const void* dropList = nullptr;
  int stackBase = 0;
  void* server = nullptr;
  void* connection = nullptr;
  void* udpObject = nullptr;
  int32_t samples = 0, count = 0;
  int32_t idSet = 0;
  qvObjectId id{};
  struct qvCustomEventType* customType = nullptr;
  void* customData = nullptr;
};

// CheckEvent (wait false) and WaitEvent (wait true): runs at most one callback and pushes the
// table it received, completed with "action", "id", "nresults", "results" and "triggered";
// returns 1. Returns ERR_WRONGUSAGE inside a callback, a callback's error code, ERR_USERABORT when
// a quit request follows a callback, -1 for a label jump, or 0 with nothing pushed when a quit
// request ends the wait.
int32_t ProcessEvents(qvScriptState* L, bool wait);
// Runs the next pending callback (result->kind says whether one ran): 0, an error code, or -1
// for a label jump. A non-zero flag keeps the legacy button-over test quiet.
int32_t DispatchEvent(qvScriptState* L, int flag, qvDispatchResult* result);
// Builds the message table and calls the callback in a protected call: the call's status,
// ERR_MEM when the table cannot be built, or ERR_USERABORT after the callback when a quit request
// is pending. With keep 0 a second reference to the table stays below the callback's results.
int32_t RunEventCallback(qvScriptState* L, qvDispatchResult* result, int keep);
// Writes "id" into the table on the stack top and keeps it in the result.
void SetMessageId(qvScriptState* L, qvDispatchResult* result, qvObjectId id);
// The pointer in the current display's coordinates; 0 when it is not open.
int32_t GetPointerX();
int32_t GetPointerY();
// *out := 0; returns the platform's quit state (SyncWindowStates).
int32_t CheckBreak(qvScriptState* L, int ignored, int32_t* out);
// Waits once for the main loop's next pass; its result in *out when given; returns 0.
int32_t WaitPlatformSignal(qvScriptState* L, int timeout, int32_t* out);
// Ends the dispatcher's current cycle (a fetched event's data is freed).
void BreakEventCycle();
// Forgets a display whose input goes: cursors that point at it step back to `previous` (null: the
// head), and an event being dispatched for it loses its display.
void ForgetDispatchedDisplay(qvDisplayInput* display, qvDisplayInput* previous);
// Moves the dispatcher's timer cursor past `timer` when it points there.
void StepTimerCursorPast(qvQueueTimer* timer, qvQueueTimer* next);

// The kinds of sound and video end events that the sound code posts and the dispatcher matches to
// the object handlers.
enum SoundEventKind : int32_t {
  kSoundEventSampleEnd = 5,
  kSoundEventSampleLoop = 6,
  kSoundEventMusicEnd = 7,
  kSoundEventVideoEnd = 8,
};

// What the dispatcher asks the sound and network code; null members answer "nothing".
struct qvEventSources {
  // Samples the fed music stream wants now (0: none), with its id and a count.
  int32_t (*musicBufferNeed)(qvObjectId* id, int32_t* count) = nullptr;
  // The oldest sound or video end (a SoundEventKind): 1 with its values, 0 when none is pending.
  int (*soundEvent)(int32_t* type, qvObjectId* id, int32_t* time, int32_t* starts) = nullptr;
  // The next network object from *cursor with traffic of the stage's kind (9 UDP data, 10 new
  // connection, 11 data, 12 closed): true with the result's network fields and *cursor moved on.
  bool (*network)(int stage, void** cursor, qvDispatchResult* result) = nullptr;
  // Told when the FillMusicBuffer handler starts (true) and ends (false).
  void (*musicCallback)(bool inside) = nullptr;
};
// Replaces every member; a library that fills in its own members reads the others first.
void SetEventSources(const qvEventSources* sources);
qvEventSources GetEventSources();
// Sets only the network member (the network library's open), leaving the others.
void SetNetworkEventSource(bool (*network)(int stage, void** cursor, qvDispatchResult* result));
// Moves the dispatcher's network cursor to `next` when it points at `object` (which is being
// freed); `next` is whatever the network source takes for "the rest of the list".
void StepNetworkCursorPast(void* object, void* next);

// What the dispatcher asks the button code: the buttons of each display's current picture and the
// label-based records. Null members answer "nothing": no buttons, no records.
struct qvButtonSources {
  // A mouse-button event (left, right, middle) over the buttons of its display's picture: true
  // with the button's callback, userdata, bgpic and button in the result. The button code keeps
  // the pressed states and clears them when no button takes a release.
  bool (*buttonEvent)(const qvEvent& event, qvDispatchResult* result) = nullptr;
  // The next hover callback (OnMouseOut or OnMouseOver) for the display with the pointer at (x, y)
  // in window pixels: true with the result filled. `resume` continues the walk that the previous
  // call left after running a callback.
  bool (*hover)(qvDisplayInput* display, int32_t x, int32_t y, bool resume,
                qvDispatchResult* result) = nullptr;
  // Whether any label-based record exists.
  bool (*haveLegacyRecords)() = nullptr;
  // The label a queued event stands for, empty when none.
  std::string (*legacyEventName)(const qvEvent& event) = nullptr;
  // The label-based button-over test at (x, y) in display coordinates: the label to call, or
  // empty. The button code remembers the record under the pointer.
  std::string (*legacyButtonOver)(int32_t x, int32_t y) = nullptr;
  // The fields of a button's message table, into the table on the stack top; its "id" through
  // SetMessageId, so that the completed table keeps it.
  void (*pushButtonFields)(qvScriptState* L, qvDispatchResult* result) = nullptr;
};
void SetButtonSources(const qvButtonSources* sources);

// ---- custom event types (plugin host) ----

using qvPushEventFields = void (*)(qvScriptState* L, void* data);
struct qvCustomEventType {
  qvCustomEventType* next;
  const char* name;
  int32_t type;  // 22 and up
  qvHandlerSlot slot;
  qvPushEventFields pushFields;
};
// A new type numbered one past the last (22 for the first): its number, or 0 without memory.
int32_t RegisterEventType(const char* name, qvPushEventFields pushFields);
// Queues an event of that type with no display; the data stays the poster's.
void PostCustomEvent(int32_t type, void* data);

// ---- intervals, time-outs and handlers ----

// An interval (kObjectInterval) or time-out (kObjectTimeout) of the object registry.
struct qvTimerObject {
  qvObjectHeader header;
  int32_t callback;  // kNoReference: the shared tick, which runs no script
  int32_t ms;
  int32_t userdata;
};

// Starts an interval or time-out (type kObjectInterval or kObjectTimeout) calling the function at
// `function` (0: none, the shared tick's internal mode) every (or after) ms with the userdata at
// `userdata` (0: none). An explicit id first clears its namesake. *out gets the id. 0,
// ERR_WRONGUSAGE for ms below 1, ERR_MEM, or the platform's error.
int32_t AddTimerObject(qvScriptState* L, int32_t type, qvOptionalId id, int function, int32_t ms,
                       int userdata, qvObjectId* out);
// Frees one: 0, or ERR_FINDARRAY (a handle) / ERR_FINDINTERVAL / ERR_FINDTIMEOUT (a number,
// stored as the error argument) when there is none.
int32_t FreeTimerObject(qvScriptState* L, int32_t type, qvObjectId id);
qvTimerObject* FindTimerObject(int32_t type, qvObjectId id);
// Restarts the interval at once with the new period (the record keeps its first period).
int32_t ChangeIntervalPeriod(qvScriptState* L, qvObjectId id, int32_t ms);
// The shared 20 ms tick with its two slots: acquiring starts it when neither slot is held.
int32_t AcquireTickTimer(qvScriptState* L, int slot);
void ReleaseTickTimer(qvScriptState* L, int slot);
bool TickTimerRunning();

// The global handler slots.
qvHandlerSlot* ObjectHandlers();
// InstallEventHandler: the table at `table`, the userdata at `userdata` (0: none). Every field is
// checked before any slot changes, so a bad field changes and leaks nothing (it raises).
int32_t InstallEventHandlers(qvScriptState* L, int table, int userdata);

// The event library's open and teardown.
int32_t OpenEventCore(qvScriptState* L);
// Registers GetAttribute's rows of event handlers, intervals and time-outs
// (core/attribute_table.h); the event library's open. 0 or an error code.
int32_t RegisterEventAttributes();
void FreeEventLibrary(qvScriptState* L);

}  // namespace qv
