// Buttons on a real X window (the suite runs in its own X server through xvfb-run): the pointer
// moved and clicked through xdotool runs a button's callbacks with its id, corner, size and
// userdata, a disabled button stays silent, and the label-based button and key handler that the
// applet declares call their labels (the over label waiting in WhileMouseOn, which runs the
// others, the key label in WhileKeyDown until the key is let go), the click label of all buttons
// with the id as event code.
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/player/x11_test_support.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

constexpr char kTitle[] = "qv buttons test";

// Button 1 (10,10 40x30) reports all four of its callbacks; button 2 (10,60 40x30) is disabled.
// The declared label-based button 3 (100,10 to 140,40) and key handler 4 ("a") call labels; the
// key's label switches the click all-switch on, after which button 3 calls ONBUTTONCLICKALL,
// which prints the event code and ends the applet once the pointer has left button 3.
constexpr char kApplet[] = R"(
.display size 200 150
.declare button 3 "" rect=100,10,140,40
.declare keydown 4 "a"
.function main
  GETGLOBAL R0, "settitle"
  LOADCONST R1, "qv buttons test"
  CALL R0, nargs=1, nres=0
  NEWTABLE R2, 0, 0
  CLOSURE R3, report
  SETTABLE R2, "onmousedown", R3
  SETTABLE R2, "onmouseup", R3
  SETTABLE R2, "onmouseover", R3
  SETTABLE R2, "onmouseout", R3
  SETGLOBAL R2, "events"
  GETGLOBAL R0, "makebutton"
  LOADCONST R1, 1
  LOADCONST R2, 0
  LOADCONST R3, 10
  LOADCONST R4, 10
  LOADCONST R5, 40
  LOADCONST R6, 30
  GETGLOBAL R7, "events"
  LOADCONST R8, "first"
  CALL R0, nargs=8, nres=0
  GETGLOBAL R0, "makebutton"
  LOADCONST R1, 2
  LOADCONST R2, 0
  LOADCONST R3, 10
  LOADCONST R4, 60
  LOADCONST R5, 40
  LOADCONST R6, 30
  GETGLOBAL R7, "events"
  LOADCONST R8, "second"
  CALL R0, nargs=8, nres=0
  GETGLOBAL R0, "disablebutton"
  LOADCONST R1, 2
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
  .export "ONBUTTONOVER3"
  GETGLOBAL R0, "debugprint"
  LOADCONST R1, "label over 3"
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "whilemouseon"
  CALL R0, nargs=0, nres=0
  GETGLOBAL R0, "debugprint"
  LOADCONST R1, "label left 3"
  CALL R0, nargs=1, nres=0
  RETSUB
  .export "ONBUTTONCLICK3"
  GETGLOBAL R0, "debugprint"
  LOADCONST R1, "label click 3"
  CALL R0, nargs=1, nres=0
  RETSUB
  .export "ONKEYDOWN4"
  GETGLOBAL R0, "debugprint"
  LOADCONST R1, "label key 4"
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "enableevent"
  LOADCONST R1, 11
  LOADCONST R2, 0
  CALL R0, nargs=2, nres=0
  GETGLOBAL R0, "whilekeydown"
  CALL R0, nargs=0, nres=0
  GETGLOBAL R0, "debugprint"
  LOADCONST R1, "label key up"
  CALL R0, nargs=1, nres=0
  RETSUB
  .export "ONBUTTONCLICKALL"
  GETGLOBAL R0, "debugprint"
  LOADCONST R1, "label click all"
  GETGLOBAL R2, "geteventcode"
  CALL R2, nargs=0, nres=1
  CALL R0, nargs=2, nres=0
  LOADCONST R0, 1
  SETGLOBAL R0, "done"
  RETSUB
  .function report
    .param "msg"
    GETGLOBAL R1, "debugprint"
    LOADCONST R2, "button"
    GETTABLE R3, R0, "action"
    GETTABLE R4, R0, "id"
    GETTABLE R5, R0, "x"
    GETTABLE R6, R0, "y"
    GETTABLE R7, R0, "width"
    GETTABLE R8, R0, "height"
    GETTABLE R9, R0, "userdata"
    CALL R1, nargs=8, nres=0
    RETURN R0, n=0
  .end
.end
)";

class X11ButtonsTest : public testing::X11PlayerTest {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run under xvfb-run";
    MakeRunDirectory("x11", "qv_x11_buttons_");
  }

  // Moves the pointer to the display point and waits a moment for the applet to see it.
  void PointTo(unsigned long window, int x, int y) {
    EXPECT_TRUE(Xdotool("mousemove --window " + std::to_string(window) + " --sync " +
                        std::to_string(x) + " " + std::to_string(y)));
    std::this_thread::sleep_for(200ms);
  }
  void Click() {
    EXPECT_TRUE(Xdotool("click 1"));
    std::this_thread::sleep_for(200ms);
  }
  // The lines starting with `prefix` once there are `count` of them (ten seconds).
  std::vector<std::string> Await(const std::string& prefix, size_t count) {
    return WaitForLines(prefix, count - 1);
  }
};

TEST_F(X11ButtonsTest, CallbacksLabelsAndTheAllSwitch) {
  int status = PlayWithX(kApplet, "buttons.qva", "ready", [&](Display*) {
    unsigned long window = 0;
    for (int i = 0; i < 200 && window == 0; ++i) {
      window = WindowNamed(kTitle);
      if (window == 0) std::this_thread::sleep_for(10ms);
    }
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(Xdotool("windowfocus --sync " + std::to_string(window)));
    PointTo(window, 120, 120);  // over nothing first

    PointTo(window, 20, 20);
    EXPECT_EQ(Await("button", 1).back(), "button OnMouseOver 1 10 10 40 30 first");
    Click();
    std::vector<std::string> lines = Await("button", 3);
    ASSERT_EQ(lines.size(), 3u) << Output();
    EXPECT_EQ(lines[1], "button OnMouseDown 1 10 10 40 30 first");
    EXPECT_EQ(lines[2], "button OnMouseUp 1 10 10 40 30 first");
    // Onto the disabled button: the first one is left, the second one says nothing.
    PointTo(window, 20, 70);
    lines = Await("button", 4);
    ASSERT_EQ(lines.size(), 4u) << Output();
    EXPECT_EQ(lines[3], "button OnMouseOut 1 10 10 40 30 first");
    Click();

    // Entering button 3 calls its over label, which stays in WhileMouseOn while the pointer is
    // on the button: the click and key labels run from there, and leaving ends it.
    PointTo(window, 110, 20);
    EXPECT_EQ(Await("label", 1).back(), "label over 3");
    Click();
    EXPECT_EQ(Await("label", 2).back(), "label click 3");
    // The key's label waits in WhileKeyDown until the key is let go.
    EXPECT_TRUE(Xdotool("keydown a"));
    EXPECT_EQ(Await("label", 3).back(), "label key 4");
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(Lines("label").size(), 3u) << Output();
    EXPECT_TRUE(Xdotool("keyup a"));
    EXPECT_EQ(Await("label", 4).back(), "label key up");
    Click();
    EXPECT_EQ(Await("label", 5).back(), "label click all 3");
    PointTo(window, 120, 120);
    EXPECT_EQ(Await("label", 6).back(), "label left 3");
  });
  EXPECT_EQ(Lines("label").size(), 6u) << Output();
  EXPECT_EQ(status, 0) << Output();
  // Nothing more came from the buttons: the disabled one stayed silent.
  EXPECT_EQ(Lines("button").size(), 4u) << Output();
  EXPECT_EQ(Output().substr(0, 6), "ready\n");
}

}  // namespace
}  // namespace qv
