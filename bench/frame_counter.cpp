// The frames that reach a window, counted by the X server: the DAMAGE extension reports every
// rectangle drawn into the window by whatever program draws it. Waits for a top-level window of
// the given title, counts the reports that cover the whole window (a shown frame), and once none
// came for `idle` seconds prints the count and the milliseconds from the first frame to the last.
//   frame_counter TITLE [idle seconds, default 1]
#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>
#include <poll.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

// Windows come and go while the tree is walked: a request about one that went is no failure.
int IgnoreError(Display*, XErrorEvent*) { return 0; }

Window FindWindow(Display* display, Window under, const char* title) {
  char* name = nullptr;
  if (XFetchName(display, under, &name) != 0 && name != nullptr) {
    bool same = std::strcmp(name, title) == 0;
    XFree(name);
    if (same) return under;
  }
  Window root, parent, *children = nullptr;
  unsigned count = 0;
  if (XQueryTree(display, under, &root, &parent, &children, &count) == 0) return 0;
  Window found = 0;
  for (unsigned i = 0; i < count && found == 0; ++i)
    found = FindWindow(display, children[i], title);
  if (children != nullptr) XFree(children);
  return found;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s TITLE [idle seconds]\n", argv[0]);
    return 2;
  }
  const double idle = argc > 2 ? std::atof(argv[2]) : 1.0;
  Display* display = XOpenDisplay(nullptr);
  XSetErrorHandler(IgnoreError);
  int eventBase = 0, errorBase = 0;
  if (display == nullptr || !XDamageQueryExtension(display, &eventBase, &errorBase)) return 1;
  Window window = 0;
  for (int i = 0; i < 3000 && window == 0; ++i) {
    window = FindWindow(display, DefaultRootWindow(display), argv[1]);
    if (window == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (window == 0) return 1;
  XWindowAttributes attributes;
  XGetWindowAttributes(display, window, &attributes);
  XDamageCreate(display, window, XDamageReportRawRectangles);
  XFlush(display);
  std::printf("ready\n");
  std::fflush(stdout);
  using Clock = std::chrono::steady_clock;
  long frames = 0;
  Clock::time_point first, last = Clock::now();
  pollfd fd{ConnectionNumber(display), POLLIN, 0};
  for (;;) {
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type != eventBase + XDamageNotify) continue;
      const auto& notify = reinterpret_cast<const XDamageNotifyEvent&>(event);
      if (notify.area.width < attributes.width || notify.area.height < attributes.height) continue;
      last = Clock::now();
      if (frames++ == 0) first = last;
    }
    if (std::chrono::duration<double>(Clock::now() - last).count() > idle) break;
    poll(&fd, 1, 20);
  }
  const double ms = std::chrono::duration<double, std::milli>(last - first).count();
  std::printf("%ld %.3f\n", frames, ms);
  XCloseDisplay(display);
  return 0;
}
