// The window procedure over SDL events: keys with the special-key table, printable keys as the
// one Latin-1 character of the text input that follows them, Ctrl+letter as its control code;
// buttons with the pointer captured, the wheel, pointer moves, focus, close, minimise and
// restore, the user's moves and sizes (not the program's own), exposure, Alt+Return and dropped
// files. What happens goes to the event core's entry points (SetWindowEvents); the qualifier
// state is recorded after every pump. Main thread, inside the pump, display-list lock held.
#include <cstring>
#include <string>
#include <vector>

#include "platform/input.h"
#include "platform/sdl/sdl_internal.h"
#include "platform/sdl/sdl_library.h"

namespace qv {

namespace {

struct SpecialKey {
  SDL_Keycode key;
  int32_t code;
};
// The keys that have codes of their own; keypad Enter is Return as well.
constexpr SpecialKey kSpecialKeys[] = {
    {SDLK_BACKSPACE, 0x10F},   {SDLK_TAB, 0x110},   {SDLK_RETURN, 0x112}, {SDLK_KP_ENTER, 0x112},
    {SDLK_ESCAPE, 0x113},      {SDLK_SPACE, 0x114}, {SDLK_DELETE, 0x115}, {SDLK_UP, 0x100},
    {SDLK_DOWN, 0x101},        {SDLK_RIGHT, 0x102}, {SDLK_LEFT, 0x103},   {SDLK_F1, 0x105},
    {SDLK_F2, 0x106},          {SDLK_F3, 0x107},    {SDLK_F4, 0x108},     {SDLK_F5, 0x109},
    {SDLK_F6, 0x10A},          {SDLK_F7, 0x10B},    {SDLK_F8, 0x10C},     {SDLK_F9, 0x10D},
    {SDLK_F10, 0x10E},         {SDLK_F11, 0x116},   {SDLK_F12, 0x117},    {SDLK_INSERT, 0x118},
    {SDLK_HOME, 0x119},        {SDLK_END, 0x11A},   {SDLK_PAGEUP, 0x11B}, {SDLK_PAGEDOWN, 0x11C},
    {SDLK_PRINTSCREEN, 0x11D}, {SDLK_PAUSE, 0x11E},
};
constexpr int32_t kF10 = 0x10E;

// Window event types of the queue.
constexpr int32_t kMoved = 4, kSized = 5, kInactive = 6, kClose = 7, kActive = 8, kHidden = 9,
                  kShown = 10, kModeSwitch = 13;
constexpr int32_t kLeft = 1, kRight = 2, kMiddle = 16;
constexpr uint32_t kNoModeSwitchFlag = 8;

// The code each scancode gave when it went down, for its release.
int32_t gCodeOf[SDL_NUM_SCANCODES] = {};
// A key down that waits for its text input, and the window it went to.
bool gPending = false;
const qvWindow* gPendingWindow = nullptr;
SDL_Scancode gPendingScan = SDL_SCANCODE_UNKNOWN;
uint32_t gPendingQualifiers = 0;
// Dropped files gathered between the begin and the end of a drop.
std::vector<std::string> gDropped;

uint32_t Qualifiers(Uint16 mod) {
  uint32_t bits = kQualifierAlways;
  bool altGr = (mod & (KMOD_RALT | KMOD_MODE)) != 0;
  if (mod & KMOD_LSHIFT) bits |= kQualifierLeftShift;
  if (mod & KMOD_RSHIFT) bits |= kQualifierRightShift;
  if (mod & KMOD_LALT) bits |= kQualifierLeftAlt;
  if (altGr) bits |= kQualifierRightAlt;
  // AltGr arrives with a left Ctrl on some systems: it does not count as Ctrl.
  if ((mod & KMOD_LCTRL) && !altGr) bits |= kQualifierLeftControl;
  if (mod & KMOD_RCTRL) bits |= kQualifierRightControl;
  return bits;
}

const qvWindowEvents* Events() { return InstalledWindowEvents(); }

void PostKey(const qvWindow* window, int32_t code, bool pressed, uint32_t qualifiers) {
  if (const qvWindowEvents* e = Events(); e != nullptr && e->key != nullptr) {
    e->key(window, code, pressed, qualifiers);
  }
}

void PostWindowEvent(const qvWindow* window, int32_t type, int32_t x, int32_t y) {
  if (const qvWindowEvents* e = Events(); e != nullptr && e->event != nullptr) {
    e->event(window, type, x, y);
  }
}

int32_t SpecialCode(SDL_Keycode key) {
  for (const SpecialKey& k : kSpecialKeys) {
    if (k.key == key) return k.code;
  }
  return 0;
}

// The one character of a text input as Latin-1, or 0 when it is more than one character or
// outside Latin-1.
int32_t Latin1Of(const char* text) {
  auto* s = reinterpret_cast<const unsigned char*>(text);
  int32_t c;
  size_t length;
  if (s[0] < 0x80) {
    c = s[0];
    length = 1;
  } else if ((s[0] & 0xE0) == 0xC0 && (s[1] & 0xC0) == 0x80) {
    c = ((s[0] & 0x1F) << 6) | (s[1] & 0x3F);
    length = 2;
  } else {
    return 0;
  }
  if (s[length] != '\0' || c < 0x20 || c > 0xFF) return 0;
  return c;
}

void KeyDown(const SDL_KeyboardEvent& key) {
  gPending = false;
  uint32_t qualifiers = Qualifiers(key.keysym.mod);
  bool ctrl = (qualifiers & (kQualifierLeftControl | kQualifierRightControl)) != 0;
  bool altGr = (qualifiers & kQualifierRightAlt) != 0;
  bool alt = (qualifiers & kQualifierLeftAlt) != 0;
  SDL_Keycode sym = key.keysym.sym;
  SDL_Scancode scan = key.keysym.scancode;
  qvWindow* window = WindowFromSdlId(key.windowID);
  if (alt && !altGr) {
    // With Alt only F10 is a key; Alt+Return switches between window and full screen.
    if (sym == SDLK_F10) {
      gCodeOf[scan] = kF10;
      PostKey(window, kF10, true, qualifiers);
    } else if ((sym == SDLK_RETURN || sym == SDLK_KP_ENTER) && key.repeat == 0) {
      if (window == nullptr) window = AnySdlWindow();
      qvSdlWindow* rec = SdlRecord(window);
      if (rec != nullptr && !(rec->flags & kNoModeSwitchFlag) && ModeSwitchAllowed(window)) {
        PostWindowEvent(window, kModeSwitch, SdlFullScreen() ? 0 : 1, 0);
      }
    }
    return;
  }
  if (ctrl && !altGr && sym == SDLK_c) {
    gCodeOf[scan] = 0;
    if (const qvWindowEvents* e = Events(); e != nullptr && e->ctrlC != nullptr) e->ctrlC(window);
    return;
  }
  int32_t code = SpecialCode(sym);
  if (code == 0 && ctrl && !altGr && sym >= SDLK_a && sym <= SDLK_z) code = sym - SDLK_a + 1;
  if (code != 0) {
    gCodeOf[scan] = code;
    PostKey(window, code, true, qualifiers);
    return;
  }
  // A printable key: its character comes with the text input that follows.
  gPending = true;
  gPendingWindow = window;
  gPendingScan = scan;
  gPendingQualifiers = qualifiers;
}

void TextInput(const SDL_TextInputEvent& text) {
  if (!gPending) return;  // text of an input method, not of one key
  gPending = false;
  int32_t code = Latin1Of(text.text);
  if (code == 0) return;
  gCodeOf[gPendingScan] = code;
  PostKey(gPendingWindow, code, true, gPendingQualifiers);
}

void KeyUp(const SDL_KeyboardEvent& key) {
  gPending = false;
  int32_t code = gCodeOf[key.keysym.scancode];
  gCodeOf[key.keysym.scancode] = 0;
  if (code != 0) PostKey(WindowFromSdlId(key.windowID), code, false, Qualifiers(key.keysym.mod));
}

void Button(const SDL_MouseButtonEvent& button, bool pressed) {
  int32_t type = button.button == SDL_BUTTON_LEFT     ? kLeft
                 : button.button == SDL_BUTTON_RIGHT  ? kRight
                 : button.button == SDL_BUTTON_MIDDLE ? kMiddle
                                                      : 0;
  if (type == 0) return;
  // The window keeps the pointer while a button is held, as a captured window does.
  if (pressed) {
    SDL_CaptureMouse(SDL_TRUE);
  } else if ((SDL_GetMouseState(nullptr, nullptr) & ~SDL_BUTTON(button.button)) == 0) {
    SDL_CaptureMouse(SDL_FALSE);
  }
  if (const qvWindowEvents* e = Events(); e != nullptr && e->button != nullptr) {
    e->button(WindowFromSdlId(button.windowID), type, pressed, button.x, button.y);
  }
}

void Wheel(const SDL_MouseWheelEvent& wheel) {
  int32_t y = wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -wheel.y : wheel.y;
  if (y == 0) return;
  if (const qvWindowEvents* e = Events(); e != nullptr && e->wheel != nullptr) {
    e->wheel(WindowFromSdlId(wheel.windowID), y > 0);
  }
}

void Window(const SDL_WindowEvent& event) {
  qvWindow* window = WindowFromSdlId(event.windowID);
  qvSdlWindow* rec = SdlRecord(window);
  if (rec == nullptr) return;
  switch (event.event) {
    case SDL_WINDOWEVENT_FOCUS_GAINED:
      PostWindowEvent(window, kActive, 0, 0);
      break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
      // A key held while the focus goes is not reported as still down.
      ResetSdlKeys();
      PostWindowEvent(window, kInactive, 0, 0);
      break;
    case SDL_WINDOWEVENT_CLOSE:
      PostWindowEvent(window, kClose, 0, 0);
      break;
    case SDL_WINDOWEVENT_MINIMIZED:
      rec->minimised = true;
      PostWindowEvent(window, kHidden, 0, 0);
      break;
    case SDL_WINDOWEVENT_RESTORED:
      if (rec->minimised) {
        rec->minimised = false;
        PostWindowEvent(window, kShown, 0, 0);
      }
      MarkWindowExposed(window);
      break;
    case SDL_WINDOWEVENT_MOVED: {
      // SDL reports the client area's corner. The window manager may have framed the window
      // since it was placed: with the frame read again, a move that only put the frame around
      // the window leaves its outer corner where the program asked.
      MeasureSdlFrame(window);
      int32_t x = event.data1 - rec->frame.left, y = event.data2 - rec->frame.top;
      if (x == rec->askedX && y == rec->askedY) break;  // our own move
      rec->askedX = x;
      rec->askedY = y;
      {
        std::lock_guard<std::mutex> guard(window->lock);
        window->placement.x = x;
        window->placement.y = y;
      }
      PostWindowEvent(window, kMoved, x, y);
      break;
    }
    case SDL_WINDOWEVENT_SIZE_CHANGED:
      MarkWindowExposed(window);
      if (event.data1 == rec->askedWidth && event.data2 == rec->askedHeight) break;
      rec->askedWidth = event.data1;
      rec->askedHeight = event.data2;
      DropSdlShape(window);
      PostWindowEvent(window, kSized, event.data1, event.data2);
      break;
    case SDL_WINDOWEVENT_EXPOSED:
      // The front buffer is shown again: the script thread is not asked to redraw.
      MarkWindowExposed(window);
      break;
    default:
      break;
  }
}

void Drop(const SDL_DropEvent& drop) {
  switch (drop.type) {
    case SDL_DROPBEGIN:
      gDropped.clear();
      break;
    case SDL_DROPFILE:
      if (drop.file != nullptr && DropTargetOn()) gDropped.emplace_back(drop.file);
      break;
    case SDL_DROPCOMPLETE:
      if (!gDropped.empty()) {
        int x = 0, y = 0;
        SDL_GetMouseState(&x, &y);
        if (const qvWindowEvents* e = Events(); e != nullptr && e->drop != nullptr) {
          e->drop(WindowFromSdlId(drop.windowID), gDropped, x, y);
        }
      }
      gDropped.clear();
      break;
    default:
      break;
  }
  SDL_free(drop.file);
}

}  // namespace

void ResetSdlKeys() {
  std::memset(gCodeOf, 0, sizeof gCodeOf);
  gPending = false;
}

void SdlWindowEvent(const SDL_Event& event) {
  switch (event.type) {
    case SDL_KEYDOWN:
      KeyDown(event.key);
      break;
    case SDL_KEYUP:
      KeyUp(event.key);
      break;
    case SDL_TEXTINPUT:
      TextInput(event.text);
      break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
      Button(event.button, event.type == SDL_MOUSEBUTTONDOWN);
      break;
    case SDL_MOUSEWHEEL:
      Wheel(event.wheel);
      break;
    case SDL_MOUSEMOTION:
      if (const qvWindowEvents* e = Events(); e != nullptr && e->pointer != nullptr) {
        e->pointer(WindowFromSdlId(event.motion.windowID), event.motion.x, event.motion.y);
      }
      break;
    case SDL_WINDOWEVENT:
      Window(event.window);
      break;
    case SDL_DROPBEGIN:
    case SDL_DROPFILE:
    case SDL_DROPTEXT:
    case SDL_DROPCOMPLETE:
      Drop(event.drop);
      break;
    default:
      break;
  }
}

void SdlEndOfPump() {
  RefreshSdlFrames();
  RecordQualifiers(Qualifiers(SDL_GetModState()) & ~kQualifierAlways);
  PresentDirtyWindows();
  ApplySdlPointer();
}

}  // namespace qv
