// The in-process player on real X windows: the test's thread works them through an Xlib
// connection of its own and xdotool, finds them by their titles and measures them on the server.
#pragma once

// gtest first: Xlib's macros (None, Bool, Status) would break its headers.
#include <gtest/gtest.h>
// clang-format off
#include <X11/Xlib.h>
// clang-format on
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>

#include "tests/fixtures/run_command.h"
#include "tests/player/window_test_support.h"

namespace qv::testing {

// A window's client area on the screen.
struct Rect {
  int x = -1, y = -1, width = -1, height = -1;
  bool operator==(const Rect& o) const {
    return x == o.x && y == o.y && width == o.width && height == o.height;
  }
};
inline std::ostream& operator<<(std::ostream& out, const Rect& r) {
  return out << r.width << "x" << r.height << "+" << r.x << "+" << r.y;
}

class X11PlayerTest : public InProcessPlayerTest {
 protected:
  // Runs xdotool with `args`, its output dropped; whether it succeeded. Bounded in time: a
  // "--sync" step waits for as long as the window manager ignores the request, and on a loaded
  // machine that was once the whole test's time.
  static bool Xdotool(const std::string& args) {
    return std::system(("timeout 30 " + std::string(QV_XDOTOOL) + " " + args + " >/dev/null 2>&1")
                           .c_str()) == 0;
  }

  // The newest visible window with the title (0 when there is none).
  static ::Window WindowNamed(const std::string& title) {
    std::istringstream ids(qvtest::RunCommand(
        std::string(QV_XDOTOOL) + " search --onlyvisible --name '^" + title + "$' 2>/dev/null"));
    unsigned long id = 0;
    for (unsigned long next; ids >> next;) id = next;
    return id;
  }

  // The window's client area as the X server has it; false when the window is gone.
  static bool ReadClientArea(Display* x, ::Window w, Rect* r) {
    XSync(x, False);
    XWindowAttributes a{};
    ::Window child;
    if (w == 0 || XGetWindowAttributes(x, w, &a) == 0) return false;
    XTranslateCoordinates(x, w, DefaultRootWindow(x), 0, 0, &r->x, &r->y, &child);
    r->width = a.width;
    r->height = a.height;
    return true;
  }

  // Plays the applet while `steps` works its windows through a connection of its own, once the
  // applet has written `ready` (at once when that is empty). A step that failed leaves the
  // applet waiting: a quit request ends it five seconds later.
  int PlayWithX(const std::string& text, const std::string& name, const std::string& ready,
                const std::function<void(Display*)>& steps) {
    return Play(text, name, [&] {
      if (Display* x = XOpenDisplay(nullptr)) {
        if (ready.empty() || !WaitForLines(ready).empty()) {
          steps(x);
        } else {
          ADD_FAILURE() << "the applet did not start\n" << Output();
        }
        XCloseDisplay(x);
      } else {
        ADD_FAILURE() << "no X display";
      }
      for (int i = 0; i < 500 && !played_.load(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      if (!played_.load()) kill(getpid(), SIGTERM);
    });
  }
};

}  // namespace qv::testing
