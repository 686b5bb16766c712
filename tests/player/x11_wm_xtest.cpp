// Two displays under a real window manager: the suite starts its own X server (Xvfb) and openbox
// and stops them by their process ids. Keys typed into each window (xdotool), the focus moved
// between them, display 2's window resized and closed as a user would, each reach the script as
// that display's; the frame that openbox puts around display 2 is what GetAttribute reports, and
// saving and restoring its position leaves the window where it was.
// First: it has gtest come before Xlib, whose macros (None, Bool, Status) would break gtest.
#include "tests/player/x11_test_support.h"
// clang-format off
#include <X11/Xatom.h>
#include <X11/Xutil.h>
// clang-format on
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/fixtures/run_command.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

constexpr char kFirstTitle[] = "qv wm one";
constexpr char kSecondTitle[] = "qv wm two";

// Display 1 and display 2 (sizeable, green) with the same handlers each. A key writes the key
// and the display's id; "m" also reads the display's position, moves it there and writes where
// it then is with its frame ("where <id> <x> <y> <left> <top> <right> <bottom>"); "q" ends.
// Activations, closes and sizes write the display's id; a size also what GetAttribute reads.
constexpr char kApplet[] = R"(
.display size 160 120
.display pos 40 30
.function main
  GETGLOBAL R0, "settitle"
  LOADCONST R1, "qv wm one"
  CALL R0, nargs=1, nres=0
  CLOSURE R0, install
  SETGLOBAL R0, "install"
  GETGLOBAL R0, "install"
  CALL R0, nargs=0, nres=0
  GETGLOBAL R0, "createdisplay"
  LOADCONST R1, 2
  NEWTABLE R2, 0, 0
  SETTABLE R2, "width", 100
  SETTABLE R2, "height", 80
  SETTABLE R2, "x", 400
  SETTABLE R2, "y", 300
  SETTABLE R2, "sizeable", 1
  SETTABLE R2, "color", 0x00FF00
  SETTABLE R2, "title", "qv wm two"
  CALL R0, nargs=2, nres=0
  GETGLOBAL R0, "opendisplay"
  LOADCONST R1, 2
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "selectdisplay"
  LOADCONST R1, 2
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "install"
  CALL R0, nargs=0, nres=0
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
  .function install
    GETGLOBAL R0, "installeventhandler"
    NEWTABLE R1, 0, 0
    CLOSURE R2, keydown
    SETTABLE R1, "onkeydown", R2
    CLOSURE R2, window
    SETTABLE R1, "activewindow", R2
    SETTABLE R1, "inactivewindow", R2
    SETTABLE R1, "closewindow", R2
    CLOSURE R2, sized
    SETTABLE R1, "sizewindow", R2
    CALL R0, nargs=1, nres=0
    RETURN R0, n=0
  .function keydown
    .param "msg"
    GETGLOBAL R1, "debugprint"
    GETTABLE R2, R0, "action"
    GETTABLE R3, R0, "key"
    GETTABLE R4, R0, "id"
    CALL R1, nargs=3, nres=0
    GETTABLE R1, R0, "key"
    EQ 0, R1, "q"
    JUMP @notq
    SETGLOBAL R1, "done"
    RETURN R0, n=0
  notq:
    EQ 0, R1, "m"
    JUMP @notm
    GETGLOBAL R1, "selectdisplay"
    GETTABLE R2, R0, "id"
    CALL R1, nargs=1, nres=0
    GETGLOBAL R1, "movedisplay"
    GETGLOBAL R2, "getattribute"
    LOADCONST R3, 21
    GETTABLE R4, R0, "id"
    LOADCONST R5, 7
    CALL R2, nargs=3, nres=1
    GETGLOBAL R3, "getattribute"
    LOADCONST R4, 21
    GETTABLE R5, R0, "id"
    LOADCONST R6, 8
    CALL R3, nargs=3, nres=1
    CALL R1, nargs=2, nres=0
    GETGLOBAL R1, "debugprint"
    LOADCONST R2, "where"
    GETTABLE R3, R0, "id"
    GETGLOBAL R4, "getattribute"
    LOADCONST R5, 21
    MOVE R6, R3
    LOADCONST R7, 7
    CALL R4, nargs=3, nres=1
    GETGLOBAL R5, "getattribute"
    LOADCONST R6, 21
    MOVE R7, R3
    LOADCONST R8, 8
    CALL R5, nargs=3, nres=1
    GETGLOBAL R6, "getattribute"
    LOADCONST R7, 21
    MOVE R8, R3
    LOADCONST R9, 24
    CALL R6, nargs=3, nres=1
    GETGLOBAL R7, "getattribute"
    LOADCONST R8, 21
    MOVE R9, R3
    LOADCONST R10, 25
    CALL R7, nargs=3, nres=1
    GETGLOBAL R8, "getattribute"
    LOADCONST R9, 21
    MOVE R10, R3
    LOADCONST R11, 26
    CALL R8, nargs=3, nres=1
    GETGLOBAL R9, "getattribute"
    LOADCONST R10, 21
    MOVE R11, R3
    LOADCONST R12, 27
    CALL R9, nargs=3, nres=1
    CALL R1, nargs=8, nres=0
  notm:
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
  .function sized
    .param "msg"
    GETGLOBAL R1, "debugprint"
    GETTABLE R2, R0, "action"
    GETTABLE R3, R0, "width"
    GETTABLE R4, R0, "height"
    GETTABLE R5, R0, "id"
    GETGLOBAL R6, "getattribute"
    LOADCONST R7, 21
    MOVE R8, R5
    LOADCONST R9, 0
    CALL R6, nargs=3, nres=1
    GETGLOBAL R7, "getattribute"
    LOADCONST R8, 21
    MOVE R9, R5
    LOADCONST R10, 1
    CALL R7, nargs=3, nres=1
    CALL R1, nargs=6, nres=0
    RETURN R0, n=0
  .end
  .end
.end
)";

// The window's property `name` once it holds `count` values of `type` (32-bit values, which Xlib
// hands out as longs); empty when it did not within `tries` times 10 ms.
std::vector<long> WaitForProperty(Display* x, ::Window w, const char* name, Atom type,
                                  unsigned long count, int tries) {
  Atom property = XInternAtom(x, name, False);
  std::vector<long> values;
  for (int i = 0; i < tries && values.empty(); ++i) {
    Atom actual;
    int format;
    unsigned long got = 0, after;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(x, w, property, 0, static_cast<long>(count), False, type, &actual,
                           &format, &got, &after, &data) == Success &&
        got == count) {
      auto* longs = reinterpret_cast<long*>(data);
      values.assign(longs, longs + count);
    }
    if (data != nullptr) XFree(data);
    if (values.empty()) std::this_thread::sleep_for(10ms);
  }
  return values;
}

// A program started for the suite, stopped by its process id.
pid_t Start(const std::vector<std::string>& args, int keepFd = -1) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  // A suite that dies before it stops them takes them along.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  int null = open("/dev/null", O_RDWR);
  dup2(null, 0);
  dup2(null, 1);
  dup2(null, 2);
  for (int fd = 3; fd < 256; ++fd) {
    if (fd != keepFd) close(fd);
  }
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

void Stop(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  int status;
  for (int i = 0; i < 200; ++i) {
    if (waitpid(pid, &status, WNOHANG) == pid) return;
    std::this_thread::sleep_for(10ms);
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
}

// The X server and the window manager, started once for the suite.
class X11WindowManagerTest : public testing::X11PlayerTest {
 protected:
  static void SetUpTestSuite() {
    int fds[2];
    if (pipe(fds) != 0) return;
    // The server writes the number of the display it took: no guessed free number.
    gServer = Start({QV_XVFB, "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x1024x24",
                     "-noreset", "-nolisten", "tcp"},
                    fds[1]);
    close(fds[1]);
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) return;
    gDisplayName = ":" + number;
    setenv("DISPLAY", gDisplayName.c_str(), 1);
    gWm = Start({QV_OPENBOX, "--sm-disable"});
    // Ready once openbox names itself on the root window.
    if (Display* x = XOpenDisplay(nullptr)) {
      gWmReady = !WaitForProperty(x, DefaultRootWindow(x), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW, 1,
                                  500)
                      .empty();
      XCloseDisplay(x);
    }
  }
  static void TearDownTestSuite() {
    Stop(gWm);
    Stop(gServer);
    gWm = gServer = -1;
  }

  void SetUp() override {
    ASSERT_FALSE(gDisplayName.empty()) << "Xvfb did not start";
    ASSERT_TRUE(gWmReady) << "openbox did not start";
    MakeRunDirectory("x11", "qv_x11_wm_");
  }

  static void Activate(::Window w) { Xdotool("windowactivate --sync " + std::to_string(w)); }
  static void Type(::Window w, const char* key) {
    Activate(w);
    Xdotool(std::string("key --window ") + std::to_string(w) + " --clearmodifiers " + key);
  }
  // The frame extents openbox publishes for the window: left, right, top, bottom.
  static std::vector<long> FrameExtents(Display* x, ::Window w) {
    return WaitForProperty(x, w, "_NET_FRAME_EXTENTS", XA_CARDINAL, 4, 200);
  }
  // Asks the window to close as a window manager's close button does.
  static void RequestClose(Display* x, ::Window w) {
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = w;
    e.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(x, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(x, w, False, NoEventMask, &e);
    XFlush(x);
  }

  static pid_t gServer, gWm;
  static std::string gDisplayName;
  static bool gWmReady;
  std::string dir_;
};

pid_t X11WindowManagerTest::gServer = -1;
pid_t X11WindowManagerTest::gWm = -1;
std::string X11WindowManagerTest::gDisplayName;
bool X11WindowManagerTest::gWmReady = false;

TEST_F(X11WindowManagerTest, TwoDisplaysTakeTheirOwnEventsFramesAndSizes) {
  int status = PlayWithX(kApplet, "wm.qva", "ready", [&](Display* x) {
    ::Window first = WindowNamed(kFirstTitle), second = WindowNamed(kSecondTitle);
    ASSERT_NE(first, 0u) << qvtest::RunCommand("xwininfo -root -tree");
    ASSERT_NE(second, 0u);

    // Keys go to the display whose window has them.
    Type(first, "a");
    Type(second, "b");
    std::vector<std::string> keys = WaitForLines("OnKeyDown b");
    EXPECT_EQ(keys, std::vector<std::string>{"OnKeyDown b 2"}) << Output();
    EXPECT_EQ(Lines("OnKeyDown a"), std::vector<std::string>{"OnKeyDown a 1"}) << Output();

    // The focus moves from display 1 to display 2.
    Activate(first);
    size_t active = Lines("ActiveWindow 2").size(), inactive = Lines("InactiveWindow 1").size();
    Activate(second);
    EXPECT_GT(WaitForLines("ActiveWindow 2", active).size(), active) << Output();
    EXPECT_GT(WaitForLines("InactiveWindow 1", inactive).size(), inactive) << Output();

    // Display 2's position read and given back three times: the window stays where the program
    // put it, and the frame is openbox's.
    std::vector<long> extents = FrameExtents(x, second);
    ASSERT_EQ(extents.size(), 4u);
    EXPECT_GT(extents[2], 0) << "openbox gives the window a title bar";
    for (size_t n = 0; n < 3; ++n) {
      Type(second, "m");
      std::vector<std::string> where = WaitForLines("where", n);
      ASSERT_EQ(where.size(), n + 1) << Output();
      std::ostringstream want;
      want << "where 2 400 300 " << extents[0] << " " << extents[2] << " " << extents[1] << " "
           << extents[3];
      EXPECT_EQ(where.back(), want.str()) << Output();
    }
    testing::Rect client;
    for (int i = 0; i < 100; ++i) {
      ReadClientArea(x, second, &client);
      if (client.x == 400 + extents[0] && client.y == 300 + extents[2]) break;
      std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(client.x - extents[0], 400);
    EXPECT_EQ(client.y - extents[2], 300);

    // The user makes display 2's window larger: the display takes the size and fills it.
    Xdotool("windowsize --sync " + std::to_string(second) + " 140 110");
    std::vector<std::string> sized = WaitForLines("SizeWindow");
    EXPECT_EQ(sized, std::vector<std::string>{"SizeWindow 140 110 2 140 110"}) << Output();
    unsigned long corner = 0;
    for (int i = 0; i < 200; ++i) {
      XSync(x, False);
      if (XImage* image = XGetImage(x, second, 130, 100, 1, 1, AllPlanes, ZPixmap)) {
        corner = XGetPixel(image, 0, 0) & 0xFFFFFFu;
        XDestroyImage(image);
      }
      if (corner == 0x00FF00u) break;
      std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(corner, 0x00FF00u) << "the new area shows the display's picture";

    // Display 2's close request runs display 2's handler; the script goes on.
    RequestClose(x, second);
    std::vector<std::string> closed = WaitForLines("CloseWindow");
    EXPECT_EQ(closed, std::vector<std::string>{"CloseWindow 2"}) << Output();
    Type(first, "q");
  });
  EXPECT_EQ(status, 0) << Output();
}

}  // namespace
}  // namespace qv
