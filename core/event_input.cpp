// The input side of the event core: display 1's input record, the window procedure that gathers
// the window states on the main thread and queues events, the display host that copies the
// gathered states into the display on the script thread, and the key table with the names that key
// events carry.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

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

// What the main thread gathered since the last copy; guarded by the display-list lock.
struct Gathered {
  int32_t pointerX = 0, pointerY = 0;
  bool pointerMoved = false;
  qvTimeVal pointerMoveTime{};
  int32_t windowX = 0, windowY = 0;
  int32_t width = 640, height = 480;
  int32_t leftButton = 0, rightButton = 0, midButton = 0;
  uint8_t keyDown[kKeyCodeCount] = {};
  // Alt+Return's pending switch: 1 full screen, 0 window, -1 none.
  int32_t modeSwitch = -1;
  // Quit conditions seen in this pass.
  bool escape = false, leftClick = false, ctrlC = false, close = false;
};

qvDisplayInput gDisplay1;
Gathered gGathered;
// Display 1's closewindow handler is installed: the main thread reads it when a close comes.
std::atomic<bool> gCloseHandled{false};
bool gOpen = false;  // mirrors gDisplay1.open for the main thread, under the display-list lock
std::atomic<void (*)(int32_t)> gModeSwitchHandler{nullptr};

void Lock() {
  if (qvLock* lock = GetDisplayListLock()) EnterLock(lock);
}
void Unlock() {
  if (qvLock* lock = GetDisplayListLock()) LeaveLock(lock);
}

class InputHost : public DisplayHost {
 public:
  bool EndPass(bool, const qvQuitSwitches& switches) override {
    // A close request ends the script unless a closewindow handler takes it.
    bool quit = (switches.escape && gGathered.escape) ||
                (switches.leftButton && gGathered.leftClick) ||
                (switches.ctrlC && gGathered.ctrlC) ||
                (gGathered.close && gOpen && !gCloseHandled.load());
    gGathered.escape = gGathered.leftClick = gGathered.ctrlC = gGathered.close = false;
    return quit;
  }
  void SyncDisplays() override {
    if (!gOpen) return;
    qvDisplayInput& d = gDisplay1;
    d.pointerX = gGathered.pointerX;
    d.pointerY = gGathered.pointerY;
    if (gGathered.pointerMoved) {
      d.pointerMoved = 1;
      d.pointerMoveTime = gGathered.pointerMoveTime;
      gGathered.pointerMoved = false;
    }
    d.windowX = gGathered.windowX;
    d.windowY = gGathered.windowY;
    d.width = gGathered.width;
    d.height = gGathered.height;
    d.leftButton = gGathered.leftButton;
    d.rightButton = gGathered.rightButton;
    d.midButton = gGathered.midButton;
    std::memcpy(d.keyDown, gGathered.keyDown, sizeof d.keyDown);
    int32_t modeSwitch = gGathered.modeSwitch;
    gGathered.modeSwitch = -1;
    auto handler = gModeSwitchHandler.load();
    if (modeSwitch != -1 && handler != nullptr) {
      // The switch opens and closes windows, which waits for the main thread's pump.
      Unlock();
      handler(modeSwitch);
      Lock();
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

}  // namespace

qvDisplayInput* CurrentDisplayInput() { return gDisplay1.open ? &gDisplay1 : nullptr; }

qvDisplayInput* NextDisplayInput(qvDisplayInput* after) {
  if (after == nullptr) return CurrentDisplayInput();
  return nullptr;
}

namespace {
// The window procedure's entry for changes of the desktop's clipboard.
void OnClipboardChange() { WindowEvent(kEventClipboard, 0, 0); }
}  // namespace

void OpenInputDisplay() {
  SetClipboardChangeHandler(OnClipboardChange);
  Lock();
  gDisplay1 = qvDisplayInput{};
  gDisplay1.open = true;
  gGathered = Gathered{};
  gOpen = true;
  gCloseHandled.store(false);
  MarkWindowStatesGathered();  // display 1 takes the gathered states at the next copy
  Unlock();
  SetWindowEvents(&kWindowEvents);
}

void CloseInputDisplay(qvScriptState* L) {
  SetWindowEvents(nullptr);
  Lock();
  gOpen = false;
  Unlock();
  SetClipboardChangeHandler(nullptr);
  if (gDisplay1.handlers[kClipboardChange].callback != kNoReference) {
    JoinClipboardChain(&gDisplay1, false);
  }
  gCloseHandled.store(false);
  if (L != nullptr) {
    for (qvHandlerSlot& slot : gDisplay1.handlers) {
      VmUnref(L, kRegistryIndex, slot.callback);
      VmUnref(L, kRegistryIndex, slot.userdata);
    }
  }
  if (qvEventQueue* queue = RuntimeEventQueue()) queue->Purge(&gDisplay1);
  gDisplay1 = qvDisplayInput{};
}

void ResetDisplayInputState(qvDisplayInput* display) {
  if (display == nullptr) return;
  Lock();
  if (display == &gDisplay1) {
    gGathered.leftButton = gGathered.rightButton = gGathered.midButton = 0;
    std::memset(gGathered.keyDown, 0, sizeof gGathered.keyDown);
  }
  Unlock();
  display->leftButton = display->rightButton = display->midButton = 0;
  std::memset(display->keyDown, 0, sizeof display->keyDown);
}

DisplayHost* InputDisplayHost() { return &gHost; }

void SetModeSwitchHandler(void (*handler)(int32_t word)) { gModeSwitchHandler.store(handler); }

void SetInputFullScreen(bool on) { gDisplay1.fullScreen = on ? 1 : 0; }

// ---- window procedure ----

void WindowKey(int32_t code, bool pressed, uint32_t qualifiers) {
  if (!gOpen) return;
  if (code >= 0 && code < kKeyCodeCount) gGathered.keyDown[code] = pressed ? 1 : 0;
  RecordQualifiers(qualifiers);
  if (pressed && code == kKeyEsc) gGathered.escape = true;
  if (pressed && (code == 'c' || code == 'C' || code == 3) &&
      (qualifiers & (kQualifierLeftControl | kQualifierRightControl))) {
    gGathered.ctrlC = true;
  }
  MarkWindowStatesGathered();
  PostEvent(&gDisplay1, kEventKey, pressed ? 1 : 0, code, static_cast<int32_t>(qualifiers),
            nullptr);
}

void WindowCtrlC() {
  if (!gOpen) return;
  gGathered.ctrlC = true;
  MarkWindowStatesGathered();
}

void SetCloseHandled(bool handled) { gCloseHandled.store(handled); }

void WindowButton(int32_t type, bool pressed, int32_t x, int32_t y) {
  if (!gOpen) return;
  int32_t* flag = type == kEventLeftButton    ? &gGathered.leftButton
                  : type == kEventRightButton ? &gGathered.rightButton
                  : type == kEventMidButton   ? &gGathered.midButton
                                              : nullptr;
  if (flag == nullptr) return;
  *flag = pressed ? 1 : 0;
  if (pressed && type == kEventLeftButton) gGathered.leftClick = true;
  gGathered.pointerX = x;
  gGathered.pointerY = y;
  MarkWindowStatesGathered();
  PostEvent(&gDisplay1, type, x, y, pressed ? 1 : 0, nullptr);
}

void WindowWheel(bool up) {
  if (!gOpen) return;
  PostEvent(&gDisplay1, up ? kEventWheelUp : kEventWheelDown, 0, 0, 0, nullptr);
}

void WindowPointer(int32_t x, int32_t y) {
  if (!gOpen) return;
  gGathered.pointerX = x;
  gGathered.pointerY = y;
  gGathered.pointerMoved = true;
  gGathered.pointerMoveTime = Now();
  MarkWindowStatesGathered();
}

void WindowEvent(int32_t type, int32_t x, int32_t y) {
  bool windowType = type >= kEventWindowMoved && type <= kEventTrayIcon && type != kEventWheelUp &&
                    type != kEventWheelDown && type != kEventDropFiles && type != kEventMidButton;
  if (!gOpen || !windowType) return;
  if (type == kEventWindowMoved) {
    gGathered.windowX = x;
    gGathered.windowY = y;
  } else if (type == kEventWindowSized) {
    gGathered.width = x;
    gGathered.height = y;
  } else if (type == kEventWindowInactive) {
    // A key held while the window loses the focus is not reported as still down.
    std::memset(gGathered.keyDown, 0, sizeof gGathered.keyDown);
  } else if (type == kEventCloseWindow) {
    gGathered.close = true;
  } else if (type == kEventModeSwitch) {
    gGathered.modeSwitch = x;
  }
  MarkWindowStatesGathered();
  PostEvent(&gDisplay1, type, x, y, 0, nullptr);
}

void WindowDropFiles(const std::vector<std::string>& names, int32_t x, int32_t y) {
  if (!gOpen) return;
  void* list = MakeDropList(names);
  if (list != nullptr) PostEvent(&gDisplay1, kEventDropFiles, x, y, 0, list);
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
