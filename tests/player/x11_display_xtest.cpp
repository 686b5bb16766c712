// The display commands on real X windows (the suite runs in its own X server through xvfb-run):
// an applet moves and sizes its display, switches to a full screen of a listed mode and back, and
// the user switches with Alt+Return typed through xdotool; after every step the place and size
// that GetAttribute reports are measured on the X server.
#include <stdlib.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/player/x11_test_support.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

constexpr char kTitle[] = "qv display test";

// After each step the applet writes "<step> <mode> <x> <y> <width> <height> <screen width>
// <screen height>" and waits for a key;
// the modeswitch handler writes the same with "switched"; the key "q" ends it.
constexpr char kApplet[] = R"(
.display size 160 120
.display pos 40 30
.function main
  GETGLOBAL R0, "settitle"
  LOADCONST R1, "qv display test"
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "installeventhandler"
  NEWTABLE R1, 0, 0
  CLOSURE R2, keydown
  SETTABLE R1, "onkeydown", R2
  CLOSURE R2, modeswitch
  SETTABLE R1, "modeswitch", R2
  CALL R0, nargs=1, nres=0
  CLOSURE R0, report
  SETGLOBAL R0, "report"
  CLOSURE R0, pause
  SETGLOBAL R0, "pause"
  GETGLOBAL R0, "report"
  LOADCONST R1, "open"
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "pause"
  CALL R0, nargs=0, nres=0
  GETGLOBAL R0, "movedisplay"
  LOADCONST R1, 200
  LOADCONST R2, 150
  CALL R0, nargs=2, nres=0
  GETGLOBAL R0, "report"
  LOADCONST R1, "moved"
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "pause"
  CALL R0, nargs=0, nres=0
  GETGLOBAL R0, "changedisplaysize"
  LOADCONST R1, 320
  LOADCONST R2, 200
  NEWTABLE R3, 0, 0
  SETTABLE R3, "x", 100000
  SETTABLE R3, "y", 100000
  CALL R0, nargs=3, nres=0
  GETGLOBAL R0, "report"
  LOADCONST R1, "sized"
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "pause"
  CALL R0, nargs=0, nres=0
  GETGLOBAL R0, "getdisplaymodes"
  CALL R0, nargs=0, nres=1
  GETTABLE R3, R0, 0
  GETGLOBAL R0, "changedisplaymode"
  LOADCONST R1, 2
  GETTABLE R2, R3, "width"
  GETTABLE R3, R3, "height"
  CALL R0, nargs=3, nres=0
  GETGLOBAL R0, "report"
  LOADCONST R1, "full"
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "pause"
  CALL R0, nargs=0, nres=0
  GETGLOBAL R0, "changedisplaymode"
  LOADCONST R1, 1
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "report"
  LOADCONST R1, "window"
  CALL R0, nargs=1, nres=0
wait:
  GETGLOBAL R0, "waitevent"
  CALL R0, nargs=0, nres=0
  GETGLOBAL R0, "done"
  EQ 1, R0, nil
  JUMP @wait
  RETURN R0, 1
  .function report
    .param "label"
    GETGLOBAL R1, "debugprint"
    MOVE R2, R0
    GETGLOBAL R3, "getattribute"
    LOADCONST R4, 21
    LOADCONST R5, 1
    LOADCONST R6, 42
    CALL R3, nargs=3, nres=1
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
    LOADCONST R9, 0
    CALL R6, nargs=3, nres=1
    GETGLOBAL R7, "getattribute"
    LOADCONST R8, 21
    LOADCONST R9, 1
    LOADCONST R10, 1
    CALL R7, nargs=3, nres=1
    GETGLOBAL R8, "getattribute"
    LOADCONST R9, 21
    LOADCONST R10, 1
    LOADCONST R11, 28
    CALL R8, nargs=3, nres=1
    GETGLOBAL R9, "getattribute"
    LOADCONST R10, 21
    LOADCONST R11, 1
    LOADCONST R12, 29
    CALL R9, nargs=3, nres=1
    CALL R1, nargs=8, nres=0
    RETURN R0, n=0
  .end
  .function pause
    LOADNIL R0, R0
    SETGLOBAL R0, "go"
  again:
    GETGLOBAL R0, "waitevent"
    CALL R0, nargs=0, nres=0
    GETGLOBAL R0, "go"
    EQ 1, R0, nil
    JUMP @again
    RETURN R0, n=0
  .end
  .function keydown
    .param "msg"
    LOADCONST R1, 1
    SETGLOBAL R1, "go"
    GETTABLE R1, R0, "key"
    EQ 0, R1, "q"
    JUMP @other
    SETGLOBAL R1, "done"
  other:
    RETURN R0, n=0
  .end
  .function modeswitch
    .param "msg"
    GETGLOBAL R1, "report"
    LOADCONST R2, "switched"
    CALL R1, nargs=1, nres=0
    RETURN R0, n=0
  .end
.end
)";

using testing::Rect;

// A window that a mode switch has just destroyed may still be named in a request on its way:
// Xlib's default handler would end the process for it.
int IgnoreVanishedWindows(Display*, XErrorEvent* error) {
  if (error->error_code == BadWindow) return 0;
  ADD_FAILURE() << "X error " << int(error->error_code) << " in request "
                << int(error->request_code);
  return 0;
}

class X11DisplayTest : public testing::X11PlayerTest {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run under xvfb-run";
    XSetErrorHandler(IgnoreVanishedWindows);
    MakeRunDirectory("x11", "qv_x11_display_");
  }

  // The line that starts with `label` once it is there (empty after ten seconds).
  std::string WaitForLine(const std::string& label) {
    std::vector<std::string> lines = WaitForLines(label + " ");
    return lines.empty() ? std::string() : lines.front();
  }
  // The display's X window: the newest one with the display's title.
  static unsigned long DisplayWindow() { return WindowNamed(kTitle); }
  // The client area of the display's window as the X server has it, once it is `want` or two
  // seconds have passed.
  Rect Measure(Display* x, const Rect& want) {
    Rect r;
    for (int i = 0; i < 200; ++i) {
      if (ReadClientArea(x, DisplayWindow(), &r) && r == want) break;
      std::this_thread::sleep_for(10ms);
    }
    return r;
  }
  // The place and size a report line gives (its mode in *mode, the screen's size in *screen).
  static Rect Reported(const std::string& line, int* mode, Rect* screen = nullptr) {
    std::istringstream in(line);
    std::string label;
    Rect r, s;
    in >> label >> *mode >> r.x >> r.y >> r.width >> r.height >> s.width >> s.height;
    if (screen != nullptr) *screen = s;
    return r;
  }
  // Where a full screen of the reported screen size centres a 320 x 200 display.
  static Rect Centred(const Rect& screen) {
    return {(screen.width - 320) / 2, (screen.height - 200) / 2, 320, 200};
  }
  // Focuses the display's window and types the keys through XTest. A window that a mode switch
  // has just replaced may vanish between the search and the focus: then the search is repeated.
  void Type(const std::string& keys) {
    for (int attempt = 0; attempt < 20; ++attempt) {
      // A window that has just been opened again takes a moment before it is given the keys.
      std::this_thread::sleep_for(300ms);
      if (!Xdotool("windowfocus --sync " + std::to_string(DisplayWindow()))) continue;
      EXPECT_TRUE(Xdotool("key " + keys)) << "xdotool key " << keys;
      return;
    }
    ADD_FAILURE() << "the display's window could not be focused to type " << keys;
  }
};

TEST_F(X11DisplayTest, MovesSizesAndModeSwitchesAreReportedAndMeasured) {
  int status = PlayWithX(kApplet, "display.qva", "", [&](Display* x) {
    int mode = 0;
    Rect screen;
    // Step by step: what GetAttribute reports is where the window is; a full screen centres the
    // display on the mode chosen, which the screen's size then reports.
    const struct {
      const char* label;
      Rect want;  // width -1: centred
      int mode;
    } kSteps[] = {
        {"open", {40, 30, 160, 120}, 1},     {"moved", {200, 150, 160, 120}, 1},
        {"sized", {200, 150, 320, 200}, 1},  {"full", {0, 0, -1, -1}, 2},
        {"window", {200, 150, 320, 200}, 1},
    };
    for (const auto& step : kSteps) {
      std::string line = WaitForLine(step.label);
      ASSERT_FALSE(line.empty()) << step.label << "\n" << Output();
      Rect reported = Reported(line, &mode, &screen);
      Rect want = step.want.width < 0 ? Centred(screen) : step.want;
      EXPECT_EQ(reported, want) << line;
      EXPECT_EQ(mode, step.mode) << line;
      EXPECT_EQ(Measure(x, want), want) << step.label;
      if (std::string(step.label) != "window") Type("a");
    }
    // Alt+Return switches to a full screen and back.
    Type("alt+Return");
    std::string line = WaitForLine("switched 2");
    ASSERT_FALSE(line.empty()) << Output();
    EXPECT_EQ(Reported(line, &mode, &screen), Centred(screen)) << line;
    EXPECT_EQ(Measure(x, Centred(screen)), Centred(screen));
    Type("alt+Return");
    line = WaitForLine("switched 1");
    ASSERT_FALSE(line.empty()) << Output();
    Rect window{200, 150, 320, 200};
    EXPECT_EQ(Reported(line, &mode), window) << line;
    EXPECT_EQ(Measure(x, window), window);
    Type("q");
  });
  EXPECT_EQ(status, 0) << Output();
}

}  // namespace
}  // namespace qv
