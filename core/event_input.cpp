// The input side of the event core: the displays' input records, the window procedure that gathers
// the window states on the main thread and queues events, the display host that copies the
// gathered states into the display on the script thread, and the key table with the names that key
// events carry.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "core/eventqueue.h"
#include "core/events.h"
#include "platform/input.h"
#include "platform/loop.h"
#include "platform/loop_hosts.h"
#include "platform/time.h"
#include "platform/window_services.h"

namespace qv {

const char* const kInputEventNames[kInputEventCount] = {
    "onkeydown",    "onkeyup",           "onmousemove",      "closewindow",     "movewindow",
    "sizewindow",   "activewindow",      "inactivewindow",   "hidewindow",      "showwindow",
    "onmousedown",  "onmouseup",         "onrightmousedown", "onrightmouseup",  "onwheeldown",
    "onwheelup",    "modeswitch",        "ondropfile",       "clipboardchange", "onmidmousedown",
    "onmidmouseup", "orientationchange", "showkeyboard",     "hidekeyboard",    "hotkey",
    "trayicon",
};

const char* const kObjectEventNames[kObjectEventCount] = {
    "onsampleloop", "onsampleend",   "onmusicend",      "onhostmessage",
    "onconnect",    "ondisconnect",  "onreceivedata",   "onreceiveudpdata",
    "onvideoend",   "onusermessage", "fillmusicbuffer",
};

const qvKeyRow kKeyTable[kKeyTableRows] = {
    {"MOVEWINDOW", 6},
    {"SIZEWINDOW", 7},
    {"INACTIVEWINDOW", 8},
    {"ACTIVEWINDOW", 9},
    {"CLOSEWINDOW", 10},
    {"ONBUTTONCLICKALL", 11},
    {"ONBUTTONRIGHTCLICKALL", 12},
    {"ONBUTTONOVERALL", 13},
    {"ONKEYDOWNALL", 14},
    {"TAB", 0x110},
    {"RETURN", 0x112},
    {"ENTER", 0x111},
    {"SPACE", 0x114},
    {"ESC", 0x113},
    {"UP", 0x100},
    {"DOWN", 0x101},
    {"RIGHT", 0x102},
    {"LEFT", 0x103},
    {"HELP", 0x104},
    {"BACKSPACE", 0x10F},
    {"DEL", 0x115},
    {"F1", 0x105},
    {"F2", 0x106},
    {"F3", 0x107},
    {"F4", 0x108},
    {"F5", 0x109},
    {"F6", 0x10A},
    {"F7", 0x10B},
    {"F8", 0x10C},
    {"F9", 0x10D},
    {"F10", 0x10E},
    {"F11", 0x116},
    {"F12", 0x117},
    {"F13", 0x11F},
    {"F14", 0x120},
    {"F15", 0x121},
    {"F16", 0x122},
    {"INSERT", 0x118},
    {"HOME", 0x119},
    {"END", 0x11A},
    {"PAGEUP", 0x11B},
    {"PAGEDOWN", 0x11C},
    {"PRINT", 0x11D},
    {"PAUSE", 0x11E},
    {"LSHIFT", 0x80010000u},
    {"RSHIFT", 0x80020000u},
    {"LALT", 0x80040000u},
    {"RALT", 0x80080000u},
    {"LCOMMAND", 0x80100000u},
    {"RCOMMAND", 0x80200000u},
    {"LCONTROL", 0x80400000u},
    {"RCONTROL", 0x80800000u},
};

namespace {

constexpr int kFirstSpecialRow = 9;
constexpr int kLastSpecialRow = 43;
constexpr int kLastQualifierRow = 51;

// What the main thread gathered for one display since the last copy; guarded by the display-list
// lock.
struct Gathered {
  int32_t pointerX = 0, pointerY = 0;
  bool pointerMoved = false;
  qvTimeVal pointerMoveTime{};
  int32_t windowX = 0, windowY = 0;
  int32_t width = 640, height = 480;
  int32_t buttons[kButtonCount] = {};
  uint32_t releases[kButtonCount] = {};
  uint8_t keyDown[kKeyCodeCount] = {};
  uint16_t keyReleases[kKeyCodeCount] = {};
  // Alt+Return's pending switch: 1 full screen, 0 window, -1 none.
  int32_t modeSwitch = -1;
  // The user resized the window to width x height: the display follows at the next copy.
  bool userSized = false;
  // Quit conditions seen in this pass.
  bool escape = false, leftClick = false, ctrlC = false, close = false;
};

// A display's input with what the main thread gathers for it. The list is in the order the
// displays were made; the script thread changes it under the display-list lock, the main thread
// walks it under the same lock.
struct InputRecord : qvDisplayInput {
  Gathered gathered;
  // The display has a closewindow handler: the main thread reads it when a close comes.
  std::atomic<bool> closeHandled{false};
  InputRecord* next = nullptr;
};

InputRecord* gRecords = nullptr;
InputRecord* gCurrent = nullptr;
bool gLive = false;  // between OpenInputDisplay and CloseInputDisplay
const qvWindow* gStandIn = nullptr;
std::atomic<void (*)(int32_t)> gModeSwitchHandler{nullptr};
std::atomic<void (*)(const qvWindow*, int32_t, int32_t)> gResizeHandler{nullptr};

void Lock() {
  if (qvLock* lock = GetDisplayListLock()) EnterLock(lock);
}
void Unlock() {
  if (qvLock* lock = GetDisplayListLock()) LeaveLock(lock);
}

InputRecord* Record(qvDisplayInput* input) { return static_cast<InputRecord*>(input); }

// The display whose window it is; events that no window names (the tray icon's) and those of the
// stand-in window go to the first. Null when the input is not live or no display has the window.
// Main thread, lock held.
InputRecord* RecordOf(const qvWindow* window) {
  if (!gLive) return nullptr;
  for (InputRecord* r = gRecords; r != nullptr; r = r->next) {
    if (r->window == window) return r;
  }
  return window == nullptr || window == gStandIn ? gRecords : nullptr;
}

int ButtonIndex(int32_t type) {
  return type == kEventLeftButton    ? kLeftButtonIndex
         : type == kEventRightButton ? kRightButtonIndex
         : type == kEventMidButton   ? kMidButtonIndex
                                     : -1;
}

void CopyGathered(InputRecord& d) {
  Gathered& g = d.gathered;
  d.pointerX = g.pointerX;
  d.pointerY = g.pointerY;
  if (g.pointerMoved) {
    d.pointerMoved = 1;
    d.pointerMoveTime = g.pointerMoveTime;
    g.pointerMoved = false;
  }
  d.windowX = g.windowX;
  d.windowY = g.windowY;
  d.width = g.width;
  d.height = g.height;
  d.leftButton = g.buttons[kLeftButtonIndex];
  d.rightButton = g.buttons[kRightButtonIndex];
  d.midButton = g.buttons[kMidButtonIndex];
  std::memcpy(d.releases, g.releases, sizeof d.releases);
  std::memcpy(d.keyDown, g.keyDown, sizeof d.keyDown);
  std::memcpy(d.keyReleases, g.keyReleases, sizeof d.keyReleases);
}

class InputHost : public DisplayHost {
 public:
  bool EndPass(bool, const qvQuitSwitches& switches) override {
    bool quit = false;
    for (InputRecord* r = gRecords; r != nullptr; r = r->next) {
      Gathered& g = r->gathered;
      // A close request ends the script unless that display's closewindow handler takes it.
      quit = quit || (switches.escape && g.escape) || (switches.leftButton && g.leftClick) ||
             (switches.ctrlC && g.ctrlC) || (g.close && gLive && !r->closeHandled.load());
      g.escape = g.leftClick = g.ctrlC = g.close = false;
    }
    return quit;
  }
  void SyncDisplays() override {
    if (!gLive) return;
    for (InputRecord* r = gRecords; r != nullptr; r = r->next) {
      CopyGathered(*r);
      int32_t modeSwitch = r->gathered.modeSwitch;
      r->gathered.modeSwitch = -1;
      auto handler = gModeSwitchHandler.load();
      if (modeSwitch != -1 && handler != nullptr) {
        // The switch opens and closes windows, which waits for the main thread's pump; the list
        // itself changes only on this thread.
        Unlock();
        handler(modeSwitch);
        Lock();
      }
      auto resize = gResizeHandler.load();
      if (r->gathered.userSized && resize != nullptr) {
        // The display's new buffers and the window's new front buffer wait for the main thread.
        r->gathered.userSized = false;
        int32_t width = r->gathered.width, height = r->gathered.height;
        Unlock();
        resize(r->window, width, height);
        Lock();
      }
    }
  }
};

InputHost gHost;

// What the window system hands over: the window procedure below.
const qvWindowEvents kWindowEvents = {WindowKey,     WindowCtrlC, WindowButton,   WindowWheel,
                                      WindowPointer, WindowEvent, WindowDropFiles};

qvTimeVal Now() {
  qvTimeVal now;
  GetSysTime(&now);
  return now;
}

// Every display hears of the desktop's clipboard; only those with a handler act on it.
void OnClipboardChange() {
  for (InputRecord* r = gLive ? gRecords : nullptr; r != nullptr; r = r->next) {
    WindowEvent(r->window, kEventClipboard, 0, 0);
  }
}

// The window system's drop target and clipboard watch serve every display: they stop with the
// last display that has the handler (r is no longer in the list).
void ReleaseHandlers(qvScriptState* L, InputRecord* r) {
  if (r->handlers[kClipboardChange].callback != kNoReference &&
      !AnyDisplayHandler(kClipboardChange)) {
    JoinClipboardChain(r, false);
  }
  if (r->open && r->handlers[kOnDropFile].callback != kNoReference &&
      !AnyDisplayHandler(kOnDropFile)) {
    SetDropTarget(r, false);
  }
  if (L != nullptr) {
    for (qvHandlerSlot& slot : r->handlers) {
      VmUnref(L, kRegistryIndex, slot.callback);
      VmUnref(L, kRegistryIndex, slot.userdata);
    }
  }
  if (qvEventQueue* queue = RuntimeEventQueue()) queue->Purge(r);
}

}  // namespace

qvDisplayInput* CurrentDisplayInput() { return gLive ? gCurrent : nullptr; }

void SetStandInWindow(const qvWindow* window) {
  Lock();
  gStandIn = window;
  Unlock();
}

bool AnyDisplayHandler(int slot) {
  for (InputRecord* r = gRecords; r != nullptr; r = r->next) {
    if (r->handlers[slot].callback != kNoReference) return true;
  }
  return false;
}

qvDisplayInput* NextDisplayInput(qvDisplayInput* after) {
  if (!gLive) return nullptr;
  return after == nullptr ? gRecords : Record(after)->next;
}

qvDisplayInput* FindDisplayInput(const qvWindow* window) {
  for (InputRecord* r = gRecords; r != nullptr; r = r->next) {
    if (r->window == window) return r;
  }
  return nullptr;
}

qvDisplayInput* AddDisplayInput(const qvWindow* window, qvObjectId id) {
  auto* r = new (std::nothrow) InputRecord;
  if (r == nullptr) return nullptr;
  r->window = window;
  r->id = id.number;
  r->handle = id.handle;
  Lock();
  r->open = gLive;
  InputRecord** tail = &gRecords;
  while (*tail != nullptr) tail = &(*tail)->next;
  *tail = r;
  if (gCurrent == nullptr) gCurrent = r;
  if (gLive) MarkWindowStatesGathered();
  Unlock();
  return r;
}

void RemoveDisplayInput(qvScriptState* L, const qvWindow* window) {
  auto* r = static_cast<InputRecord*>(FindDisplayInput(window));
  if (r == nullptr) return;
  InputRecord* previous = nullptr;
  Lock();
  for (InputRecord** p = &gRecords; *p != nullptr; previous = *p, p = &(*p)->next) {
    if (*p == r) {
      *p = r->next;
      break;
    }
  }
  if (gCurrent == r) gCurrent = gRecords;
  Unlock();
  ForgetDispatchedDisplay(r, previous);
  ReleaseHandlers(L, r);
  delete r;
}

void SelectDisplayInput(const qvWindow* window) {
  if (auto* r = static_cast<InputRecord*>(FindDisplayInput(window))) gCurrent = r;
}

void OpenInputDisplay() {
  SetClipboardChangeHandler(OnClipboardChange);
  // Without displays of the display code (tests of the event core alone) display 1 stands
  // without a window.
  if (gRecords == nullptr) AddDisplayInput(nullptr, {1, nullptr});
  Lock();
  for (InputRecord* r = gRecords; r != nullptr; r = r->next) {
    r->open = true;
    r->gathered = Gathered{};
  }
  gLive = true;
  MarkWindowStatesGathered();  // the displays take the gathered states at the next copy
  Unlock();
  SetWindowEvents(&kWindowEvents);
}

void CloseInputDisplay(qvScriptState* L) {
  SetWindowEvents(nullptr);
  Lock();
  gLive = false;
  InputRecord* records = gRecords;
  gRecords = gCurrent = nullptr;
  Unlock();
  SetClipboardChangeHandler(nullptr);
  while (records != nullptr) {
    InputRecord* next = records->next;
    ForgetDispatchedDisplay(records, nullptr);
    ReleaseHandlers(L, records);
    delete records;
    records = next;
  }
}

void ResetDisplayInputState(qvDisplayInput* display) {
  if (display == nullptr) return;
  Lock();
  Gathered& g = Record(display)->gathered;
  std::memset(g.buttons, 0, sizeof g.buttons);
  std::memset(g.keyDown, 0, sizeof g.keyDown);
  Unlock();
  display->leftButton = display->rightButton = display->midButton = 0;
  std::memset(display->keyDown, 0, sizeof display->keyDown);
}

DisplayHost* InputDisplayHost() { return &gHost; }

void SetModeSwitchHandler(void (*handler)(int32_t word)) { gModeSwitchHandler.store(handler); }

void SetUserResizeHandler(void (*handler)(const qvWindow* window, int32_t width, int32_t height)) {
  gResizeHandler.store(handler);
}

void SetInputFullScreen(bool on) {
  for (InputRecord* r = gRecords; r != nullptr; r = r->next) r->fullScreen = on ? 1 : 0;
}

void SetCloseHandled(qvDisplayInput* display, bool handled) {
  if (display != nullptr) Record(display)->closeHandled.store(handled);
}

// ---- window procedure ----

void WindowKey(const qvWindow* window, int32_t code, bool pressed, uint32_t qualifiers) {
  InputRecord* r = RecordOf(window);
  if (r == nullptr) return;
  Gathered& g = r->gathered;
  if (code >= 0 && code < kKeyCodeCount) {
    if (!pressed && g.keyDown[code] != 0) ++g.keyReleases[code];
    g.keyDown[code] = pressed ? 1 : 0;
  }
  RecordQualifiers(qualifiers);
  if (pressed && code == kKeyEsc) g.escape = true;
  if (pressed && (code == 'c' || code == 'C' || code == 3) &&
      (qualifiers & (kQualifierLeftControl | kQualifierRightControl))) {
    g.ctrlC = true;
  }
  MarkWindowStatesGathered();
  PostEvent(r, kEventKey, pressed ? 1 : 0, code, static_cast<int32_t>(qualifiers), nullptr);
}

void WindowCtrlC(const qvWindow* window) {
  InputRecord* r = RecordOf(window);
  if (r == nullptr) return;
  r->gathered.ctrlC = true;
  MarkWindowStatesGathered();
}

void WindowButton(const qvWindow* window, int32_t type, bool pressed, int32_t x, int32_t y) {
  InputRecord* r = RecordOf(window);
  int index = ButtonIndex(type);
  if (r == nullptr || index < 0) return;
  Gathered& g = r->gathered;
  // A release is counted as well as the state: a press and its release in one pump leave the
  // state as it was, and the waits for a click would never see it.
  if (!pressed && g.buttons[index] != 0) ++g.releases[index];
  g.buttons[index] = pressed ? 1 : 0;
  if (pressed && type == kEventLeftButton) g.leftClick = true;
  g.pointerX = x;
  g.pointerY = y;
  MarkWindowStatesGathered();
  PostEvent(r, type, x, y, pressed ? 1 : 0, nullptr);
}

void WindowWheel(const qvWindow* window, bool up) {
  InputRecord* r = RecordOf(window);
  if (r == nullptr) return;
  PostEvent(r, up ? kEventWheelUp : kEventWheelDown, 0, 0, 0, nullptr);
}

void WindowPointer(const qvWindow* window, int32_t x, int32_t y) {
  InputRecord* r = RecordOf(window);
  if (r == nullptr) return;
  Gathered& g = r->gathered;
  g.pointerX = x;
  g.pointerY = y;
  g.pointerMoved = true;
  g.pointerMoveTime = Now();
  MarkWindowStatesGathered();
}

void WindowEvent(const qvWindow* window, int32_t type, int32_t x, int32_t y) {
  bool windowType = type >= kEventWindowMoved && type <= kEventTrayIcon && type != kEventWheelUp &&
                    type != kEventWheelDown && type != kEventDropFiles && type != kEventMidButton;
  InputRecord* r = RecordOf(window);
  if (r == nullptr || !windowType) return;
  Gathered& g = r->gathered;
  if (type == kEventWindowMoved) {
    g.windowX = x;
    g.windowY = y;
  } else if (type == kEventWindowSized) {
    g.width = x;
    g.height = y;
    g.userSized = true;
  } else if (type == kEventWindowInactive) {
    // A key held while the window loses the focus is not reported as still down.
    std::memset(g.keyDown, 0, sizeof g.keyDown);
  } else if (type == kEventCloseWindow) {
    g.close = true;
  } else if (type == kEventModeSwitch) {
    g.modeSwitch = x;
  }
  MarkWindowStatesGathered();
  PostEvent(r, type, x, y, 0, nullptr);
}

void WindowDropFiles(const qvWindow* window, const std::vector<std::string>& names, int32_t x,
                     int32_t y) {
  InputRecord* r = RecordOf(window);
  if (r == nullptr) return;
  void* list = MakeDropList(names);
  if (list != nullptr) PostEvent(r, kEventDropFiles, x, y, 0, list);
}

// ---- key names ----

uint32_t KeyCodeLookup(const char* name, bool qualifiers) {
  if (name == nullptr || name[0] == '\0') return 0;
  if (name[1] == '\0') {
    int c = static_cast<unsigned char>(name[0]);
    return IsGraphChar(c) ? static_cast<uint32_t>(c) : 0;
  }
  int last = qualifiers ? kLastQualifierRow : kLastSpecialRow;
  for (int row = kFirstSpecialRow; row <= last; ++row) {
    if (StrCaseCmp(kKeyTable[row].name, name) == 0) return kKeyTable[row].code;
  }
  return 0;
}

std::string KeyEventName(int32_t code) {
  switch (code) {
    case kKeyTab:
      return std::string(8, ' ');
    case kKeyReturn:
    case kKeyEnter:
      return "\n";
    case kKeySpace:
      return " ";
    default:
      break;
  }
  for (int row = kFirstSpecialRow; row <= kLastSpecialRow; ++row) {
    if (kKeyTable[row].code == static_cast<uint32_t>(code)) return kKeyTable[row].name;
  }
  return std::string(1, static_cast<char>(code));
}

}  // namespace qv
