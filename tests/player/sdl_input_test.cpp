// An applet in the whole player on SDL's dummy video driver, with input pushed as SDL events from
// another thread through the real window procedure: the key "a", Space and a left click reach the
// script's callbacks with the key names, the display's id and the pointer; the window's surface
// holds the display's picture; a close request runs the closewindow handler when there is one and
// otherwise ends the script normally; Alt+Return switches the display to a full screen and back
// unless it has "nomodeswitch"; two displays each take their own keys, activations, closes and
// sizes.
#include <SDL.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "display/display.h"
#include "platform/sdl/sdl_internal.h"
#include "tests/fixtures/sdl_events.h"
#include "tests/player/window_test_support.h"

namespace qv {
namespace {

// A display with a gradient; the applet installs the handlers (the close handler where @CLOSE@
// stands), says "ready" and waits for events until the close handler sets "done".
constexpr char kApplet[] = R"(
.declare display 1 "" width=160 height=120 fillstyle=2 color=0x102030 endcolor=0xF0E0D0 angle=30
.function main
  .line 1
  GETGLOBAL R0, "installeventhandler"
  NEWTABLE R1, 0, 0
  CLOSURE R2, keydown
  SETTABLE R1, "onkeydown", R2
  CLOSURE R2, keyup
  SETTABLE R1, "onkeyup", R2
  CLOSURE R2, mousedown
  SETTABLE R1, "onmousedown", R2
  CLOSURE R2, close
  @CLOSE@
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "debugprint"
  LOADCONST R1, "ready"
  CALL R0, nargs=1, nres=0
wait:
  .line 2
  GETGLOBAL R0, "waitevent"
  CALL R0, nargs=0, nres=0
  GETGLOBAL R0, "done"
  EQ 1, R0, nil
  JUMP @wait
  GETGLOBAL R0, "debugprint"
  LOADCONST R1, "ended by the handler"
  CALL R0, nargs=1, nres=0
  RETURN R0, 1
  .function keydown
    .param "msg"
    GETGLOBAL R1, "debugprint"
    GETTABLE R2, R0, "action"
    LOADCONST R3, "["
    GETTABLE R4, R0, "key"
    LOADCONST R5, "]"
    CONCAT R3, R3, R5
    GETTABLE R4, R0, "id"
    CALL R1, nargs=3, nres=0
    RETURN R0, n=0
  .end
  .function keyup
    .param "msg"
    GETGLOBAL R1, "debugprint"
    GETTABLE R2, R0, "action"
    LOADCONST R3, "["
    GETTABLE R4, R0, "key"
    LOADCONST R5, "]"
    CONCAT R3, R3, R5
    CALL R1, nargs=2, nres=0
    RETURN R0, n=0
  .end
  .function mousedown
    .param "msg"
    GETGLOBAL R1, "debugprint"
    GETTABLE R2, R0, "action"
    GETTABLE R3, R0, "id"
    GETGLOBAL R4, "mousex"
    CALL R4, nargs=0, nres=1
    GETGLOBAL R5, "mousey"
    CALL R5, nargs=0, nres=1
    CALL R1, nargs=4, nres=0
    RETURN R0, n=0
  .end
  .function close
    .param "msg"
    GETGLOBAL R1, "debugprint"
    GETTABLE R2, R0, "action"
    GETTABLE R3, R0, "id"
    CALL R1, nargs=2, nres=0
    LOADCONST R1, 1
    SETGLOBAL R1, "done"
    RETURN R0, n=0
  .end
.end
)";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  return text.replace(text.find(from), from.size(), to);
}

// The SDL window of the display (0 when it has none).
uint32_t SdlWindowIdOf(qvDisplay* display) {
  qvSdlWindow* rec = display != nullptr ? SdlRecord(display->window) : nullptr;
  return rec != nullptr ? SDL_GetWindowID(rec->sdl) : 0;
}
uint32_t SdlWindowIdOf(int32_t display) {
  qvDisplay* d = nullptr;
  return FindDisplay({display, nullptr}, &d) == 0 ? SdlWindowIdOf(d) : 0;
}

class SdlInputTest : public testing::InProcessPlayerTest {
 protected:
  void SetUp() override { MakeRunDirectory("dummy", "qv_sdl_input_"); }

  // Runs the applet in this process while `inject` runs on its own thread once the script said
  // "ready"; the player's exit status.
  int Run(const std::string& text, const std::function<void(uint32_t window)>& inject) {
    return Play(text, "input.qva", [&] {
      if (!WaitForOutput("ready")) return;
      uint32_t window = SdlWindowIdOf(CurrentDisplay());
      ASSERT_NE(window, 0u);
      inject(window);
    });
  }
};

void Push(SDL_Event e) { ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError(); }

// Without `release` the key stays down: a key that ends the script is not followed by pushes
// that could come after SDL has stopped.
void PushKey(uint32_t window, SDL_Keycode sym, SDL_Scancode scan, const char* text,
             bool release = true) {
  Push(qvtest::SdlKey(SDL_KEYDOWN, window, sym, scan));
  if (text != nullptr) Push(qvtest::SdlText(window, text));
  if (release) Push(qvtest::SdlKey(SDL_KEYUP, window, sym, scan));
}

void PushClick(uint32_t window, int32_t x, int32_t y) {
  Push(qvtest::SdlLeftButton(SDL_MOUSEBUTTONDOWN, window, x, y));
  Push(qvtest::SdlLeftButton(SDL_MOUSEBUTTONUP, window, x, y));
}

void PushWindowEvent(uint32_t window, SDL_WindowEventID event, int32_t data1 = 0,
                     int32_t data2 = 0) {
  Push(qvtest::SdlWindowEvent(window, event, data1, data2));
}

void PushClose(uint32_t window) { PushWindowEvent(window, SDL_WINDOWEVENT_CLOSE); }

TEST_F(SdlInputTest, KeysAClickAndACloseReachTheCallbacks) {
  std::vector<uint32_t> shown, picture;
  int32_t shownWidth = 0, shownHeight = 0;
  int status = Run(
      Replace(kApplet, "@CLOSE@", "SETTABLE R1, \"closewindow\", R2"), [&](uint32_t window) {
        PushKey(window, SDLK_a, SDL_SCANCODE_A, "a");
        PushKey(window, SDLK_SPACE, SDL_SCANCODE_SPACE, " ");
        PushClick(window, 12, 34);
        ASSERT_TRUE(WaitForOutput("OnMouseDown"));
        // The script waits in WaitEvent: its display stands still.
        qvDisplay* d = CurrentDisplay();
        ASSERT_TRUE(ReadShownPixels(d->window, &shown, &shownWidth, &shownHeight));
        const auto* pixels = reinterpret_cast<const uint32_t*>(d->displayBitmap->pixels);
        int32_t stride = d->displayBitmap->bytesPerRow / 4;
        for (int32_t y = 0; y < d->displayBitmap->height; ++y) {
          for (int32_t x = 0; x < d->displayBitmap->width; ++x) {
            picture.push_back(pixels[y * stride + x] & 0x00FFFFFFu);
          }
        }
        PushClose(window);
      });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Output(),
            "ready\n"
            "OnKeyDown [a] 1\n"
            "OnKeyUp [a]\n"
            "OnKeyDown [ ] 1\n"
            "OnKeyUp [ ]\n"
            "OnMouseDown 1 12 34\n"
            "CloseWindow 1\n"
            "ended by the handler\n");
  EXPECT_EQ(shownWidth, 160);
  EXPECT_EQ(shownHeight, 120);
  EXPECT_EQ(shown, picture);
}

TEST_F(SdlInputTest, WithoutACloseHandlerACloseEndsTheScriptNormally) {
  int status = Run(Replace(kApplet, "@CLOSE@", ""), [&](uint32_t window) {
    PushKey(window, SDLK_a, SDL_SCANCODE_A, "a");
    ASSERT_TRUE(WaitForOutput("OnKeyUp"));
    PushClose(window);
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Output(), "ready\nOnKeyDown [a] 1\nOnKeyUp [a]\n");
}

// A display at a place of its own that reports every mode switch with the mode, where the window
// is and whether it is borderless; a key ends it.
constexpr char kModeSwitchApplet[] = R"(
.display size 160 120
.display pos 10 20
@FLAGS@
.function main
  GETGLOBAL R0, "installeventhandler"
  NEWTABLE R1, 0, 0
  CLOSURE R2, modeswitch
  SETTABLE R1, "modeswitch", R2
  CLOSURE R2, keydown
  SETTABLE R1, "onkeydown", R2
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "debugprint"
  LOADCONST R1, "ready"
  CALL R0, nargs=1, nres=0
wait:
  GETGLOBAL R0, "waitevent"
  CALL R0, nargs=0, nres=0
  GETGLOBAL R0, "done"
  EQ 1, R0, nil
  JUMP @wait
  RETURN R0, 1
  .function modeswitch
    .param "msg"
    GETGLOBAL R1, "debugprint"
    GETTABLE R2, R0, "action"
    GETTABLE R3, R0, "mode"
    GETGLOBAL R4, "getattribute"
    LOADCONST R5, 21
    LOADCONST R6, 1
    LOADCONST R7, 7
    CALL R4, nargs=3, nres=1
    GETGLOBAL R5, "getattribute"
    LOADCONST R6, 21
    LOADCONST R7, 1
    LOADCONST R8, 8
    CALL R5, nargs=3, nres=1
    GETGLOBAL R6, "getattribute"
    LOADCONST R7, 21
    LOADCONST R8, 1
    LOADCONST R9, 46
    CALL R6, nargs=3, nres=1
    CALL R1, nargs=5, nres=0
    RETURN R0, n=0
  .end
  .function keydown
    .param "msg"
    GETGLOBAL R1, "debugprint"
    GETTABLE R2, R0, "action"
    GETTABLE R3, R0, "key"
    CALL R1, nargs=2, nres=0
    LOADCONST R1, 1
    SETGLOBAL R1, "done"
    RETURN R0, n=0
  .end
.end
)";

void PushAltReturn(uint32_t window) {
  Push(qvtest::SdlKey(SDL_KEYDOWN, window, SDLK_RETURN, SDL_SCANCODE_RETURN, KMOD_LALT));
  Push(qvtest::SdlKey(SDL_KEYUP, window, SDLK_RETURN, SDL_SCANCODE_RETURN, KMOD_LALT));
}

TEST_F(SdlInputTest, AltReturnSwitchesToAFullScreenAndBack) {
  int status = Run(Replace(kModeSwitchApplet, "@FLAGS@", ""), [&](uint32_t window) {
    // Failures go on to the key that ends the applet, which would wait for it for ever.
    PushAltReturn(window);
    EXPECT_TRUE(WaitForOutput("ModeSwitch 2"));
    // The switch reopened the window: Alt+Return goes to the new one.
    uint32_t reopened = SdlWindowIdOf(CurrentDisplay());
    PushAltReturn(reopened != 0 ? reopened : window);
    EXPECT_TRUE(WaitForOutput("ModeSwitch 1"));
    PushKey(window, SDLK_q, SDL_SCANCODE_Q, "q", false);
  });
  EXPECT_EQ(status, 0);
  // The dummy driver's one mode is 1024 x 768: the display is centred on it, borderless.
  EXPECT_EQ(Output(),
            "ready\n"
            "ModeSwitch 2 432 324 1\n"
            "ModeSwitch 1 10 20 0\n"
            "OnKeyDown q\n");
}

TEST_F(SdlInputTest, AltReturnDoesNothingOnADisplayWithoutModeSwitches) {
  int status = Run(Replace(kModeSwitchApplet, "@FLAGS@", ".display nomodeswitch 1"),
                   [&](uint32_t window) {
                     PushAltReturn(window);
                     PushKey(window, SDLK_q, SDL_SCANCODE_Q, "q", false);
                   });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Output(), "ready\nOnKeyDown q\n");
}

// Two displays, each with handlers of its own: display 1 takes keys, activations and closes,
// display 2 (sizeable, green) keys, deactivations, closes and sizes. Every message names its
// display; a size also says what GetAttribute then reads of display 2. Display 1's close ends it.
constexpr char kTwoDisplaysApplet[] = R"(
.display size 160 120
.function main
  GETGLOBAL R0, "installeventhandler"
  NEWTABLE R1, 0, 0
  CLOSURE R2, keydown
  SETTABLE R1, "onkeydown", R2
  CLOSURE R2, window
  SETTABLE R1, "activewindow", R2
  CLOSURE R2, close
  SETTABLE R1, "closewindow", R2
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "createdisplay"
  LOADCONST R1, 2
  NEWTABLE R2, 0, 0
  SETTABLE R2, "width", 100
  SETTABLE R2, "height", 80
  SETTABLE R2, "x", 400
  SETTABLE R2, "y", 50
  SETTABLE R2, "sizeable", 1
  SETTABLE R2, "color", 0x00FF00
  CALL R0, nargs=2, nres=0
  GETGLOBAL R0, "opendisplay"
  LOADCONST R1, 2
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "selectdisplay"
  LOADCONST R1, 2
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "installeventhandler"
  NEWTABLE R1, 0, 0
  CLOSURE R2, keydown
  SETTABLE R1, "onkeydown", R2
  CLOSURE R2, window
  SETTABLE R1, "inactivewindow", R2
  CLOSURE R2, close
  SETTABLE R1, "closewindow", R2
  CLOSURE R2, sized
  SETTABLE R1, "sizewindow", R2
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "debugprint"
  LOADCONST R1, "ready"
  CALL R0, nargs=1, nres=0
wait:
  GETGLOBAL R0, "waitevent"
  CALL R0, nargs=0, nres=0
  GETGLOBAL R0, "done"
  EQ 1, R0, nil
  JUMP @wait
  RETURN R0, 1
  .function keydown
    .param "msg"
    GETGLOBAL R1, "debugprint"
    GETTABLE R2, R0, "action"
    GETTABLE R3, R0, "key"
    GETTABLE R4, R0, "id"
    CALL R1, nargs=3, nres=0
    RETURN R0, n=0
  .end
  .function window
    .param "msg"
    GETGLOBAL R1, "debugprint"
    GETTABLE R2, R0, "action"
    GETTABLE R3, R0, "id"
    CALL R1, nargs=2, nres=0
    RETURN R0, n=0
  .end
  .function close
    .param "msg"
    GETGLOBAL R1, "debugprint"
    GETTABLE R2, R0, "action"
    GETTABLE R3, R0, "id"
    CALL R1, nargs=2, nres=0
    GETTABLE R1, R0, "id"
    EQ 0, R1, 1
    JUMP @other
    SETGLOBAL R1, "done"
  other:
    RETURN R0, n=0
  .end
  .function sized
    .param "msg"
    GETGLOBAL R1, "debugprint"
    GETTABLE R2, R0, "action"
    GETTABLE R3, R0, "width"
    GETTABLE R4, R0, "height"
    GETTABLE R5, R0, "id"
    GETGLOBAL R6, "getattribute"
    LOADCONST R7, 21
    LOADCONST R8, 2
    LOADCONST R9, 0
    CALL R6, nargs=3, nres=1
    GETGLOBAL R7, "getattribute"
    LOADCONST R8, 21
    LOADCONST R9, 2
    LOADCONST R10, 1
    CALL R7, nargs=3, nres=1
    CALL R1, nargs=6, nres=0
    RETURN R0, n=0
  .end
.end
)";

// The lines the applet wrote that name an event of the test's (the window system may add
// activations of its own when the windows open).
std::vector<std::string> EventLines(const std::string& output, const std::string& ignored) {
  std::vector<std::string> lines;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) {
    if (line != ignored) lines.push_back(line);
  }
  return lines;
}

TEST_F(SdlInputTest, EachOfTwoDisplaysReceivesItsOwnEventsAndResizes) {
  std::vector<uint32_t> shown;
  int32_t shownWidth = 0, shownHeight = 0;
  std::string sizedReport;
  int status = Run(kTwoDisplaysApplet, [&](uint32_t) {
    uint32_t first = SdlWindowIdOf(1), second = SdlWindowIdOf(2);
    // Display 1's close ends the applet, also after a failed step.
    struct Ender {
      uint32_t window;
      ~Ender() { PushClose(window); }
    } ender{first};
    ASSERT_NE(second, 0u);
    ASSERT_NE(second, first);
    PushKey(first, SDLK_a, SDL_SCANCODE_A, "a");
    PushKey(second, SDLK_b, SDL_SCANCODE_B, "b");
    ASSERT_TRUE(WaitForOutput("OnKeyDown b"));
    PushWindowEvent(second, SDL_WINDOWEVENT_FOCUS_LOST);
    PushWindowEvent(first, SDL_WINDOWEVENT_FOCUS_GAINED);
    ASSERT_TRUE(WaitForOutput("InactiveWindow"));
    // The user drags display 2's window larger: the display takes the size, its picture fills
    // the new area.
    PushWindowEvent(second, SDL_WINDOWEVENT_SIZE_CHANGED, 120, 90);
    ASSERT_TRUE(WaitForOutput("SizeWindow"));
    qvDisplay* d = nullptr;
    ASSERT_EQ(FindDisplay({2, nullptr}, &d), 0);
    // The main thread presents a moment after the script prints: read until the new size's
    // picture is there (or give up after two seconds and let the checks below say what came).
    for (int i = 0; i < 200; ++i) {
      EXPECT_TRUE(ReadShownPixels(d->window, &shown, &shownWidth, &shownHeight));
      if (shownWidth == 120 && shownHeight == 90 && shown.size() == 120u * 90u &&
          (shown[120u * 90u - 1] & 0xFFFFFFu) == 0x00FF00u) {
        break;
      }
      SDL_Delay(10);
    }
    // Display 2's close runs its own handler, which leaves the script going.
    PushClose(second);
    ASSERT_TRUE(WaitForOutput("CloseWindow 2"));
  });
  EXPECT_EQ(status, 0);
  std::vector<std::string> lines = EventLines(Output(), "ActiveWindow 1");
  std::vector<std::string> want = {"ready",
                                   "OnKeyDown a 1",
                                   "OnKeyDown b 2",
                                   "InactiveWindow 2",
                                   "SizeWindow 120 90 2 120 90",
                                   "CloseWindow 2",
                                   "CloseWindow 1"};
  EXPECT_EQ(lines, want) << Output();
  // The activation pushed for display 1 reached display 1's handler.
  EXPECT_NE(Output().find("ActiveWindow 1"), std::string::npos) << Output();
  EXPECT_EQ(shownWidth, 120);
  EXPECT_EQ(shownHeight, 90);
  ASSERT_EQ(shown.size(), 120u * 90u);
  for (int32_t y : {0, 79, 89}) {
    for (int32_t x : {0, 99, 119}) {
      EXPECT_EQ(shown[static_cast<size_t>(y * 120 + x)] & 0xFFFFFFu, 0x00FF00u) << x << "," << y;
    }
  }
}

}  // namespace
}  // namespace qv
