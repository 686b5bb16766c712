// Real X windows under Xvfb (the test runs in xvfb-run): a window opens at the asked position and
// size as X11 measures its client area, shows the front buffer on the screen (read back from the
// root window through Xlib and through GrabScreen), moves and sizes for the program without a
// user's event while a move by someone else is reported, a full-screen switch to a listed mode
// and back leaves the window as it was, a shaped window's region is its mask, and presses in drag
// areas and size zones (made with xdotool) ask the window manager to move or size the window, and
// the pointer over them is the move or sizing pointer.
// gtest first: Xlib's macros (None, Bool, Status) would break its headers.
#include "tests/platform/fixture.h"
// clang-format off
#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>
// clang-format on

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/os/internal.h"
#include "platform/sdl/sdl_internal.h"
#include "platform/window_services.h"

using namespace qv;

namespace {

std::vector<std::string> gEvents;  // moves and sizes only
void SeenEvent(int32_t type, int32_t x, int32_t y) {
  if (type == 4 || type == 5)
    gEvents.push_back(std::to_string(type) + " " + std::to_string(x) + "," + std::to_string(y));
}
const qvWindowEvents kSeen = {nullptr, nullptr, nullptr, nullptr, nullptr, SeenEvent, nullptr};

struct Geometry {
  int x = -1, y = -1, width = -1, height = -1;
  bool operator==(const Geometry& o) const {
    return x == o.x && y == o.y && width == o.width && height == o.height;
  }
};
std::ostream& operator<<(std::ostream& out, const Geometry& g) {
  return out << g.width << "x" << g.height << "+" << g.x << "+" << g.y;
}

class X11WindowTest : public PlatformTest {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run under xvfb-run";
    setenv("SDL_VIDEODRIVER", "x11", 1);
    PlatformTest::SetUp();
    ASSERT_EQ(StartWindowSystem(), WindowSystemKind::kSdl) << SDL_GetError();
    x_ = XOpenDisplay(nullptr);
    ASSERT_NE(x_, nullptr);
    window = AttachPlatformDisplay();
    SetWindowEvents(&kSeen);
  }
  void TearDown() override {
    SetWindowEvents(nullptr);
    DetachPlatformDisplay(window);
    StopWindowSystem();
    if (x_ != nullptr) XCloseDisplay(x_);
    PlatformTest::TearDown();
  }
  Window XWindowOf() {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    EXPECT_TRUE(SDL_GetWindowWMInfo(SdlRecord(window)->sdl, &info));
    return info.info.x11.window;
  }
  // The client area as the X server has it.
  Geometry Measure() {
    XSync(x_, False);
    Window w = XWindowOf(), child;
    XWindowAttributes a;
    Geometry g;
    if (XGetWindowAttributes(x_, w, &a) == 0) return g;
    XTranslateCoordinates(x_, w, DefaultRootWindow(x_), 0, 0, &g.x, &g.y, &child);
    g.width = a.width;
    g.height = a.height;
    return g;
  }
  // The X server settles asynchronously: measures until the geometry is the wanted one or two
  // seconds have passed, pumping SDL's events meanwhile.
  Geometry MeasureUntil(const Geometry& want) {
    Geometry g;
    for (int i = 0; i < 200; ++i) {
      SDL_PumpEvents();
      g = Measure();
      if (g == want) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return g;
  }
  // Root window pixels of the rectangle.
  std::vector<uint32_t> Screenshot(int x, int y, int width, int height) {
    XSync(x_, False);
    std::vector<uint32_t> pixels;
    XImage* image = XGetImage(x_, DefaultRootWindow(x_), x, y, unsigned(width), unsigned(height),
                              AllPlanes, ZPixmap);
    if (image == nullptr) return pixels;
    for (int row = 0; row < height; ++row) {
      for (int col = 0; col < width; ++col) {
        pixels.push_back(uint32_t(XGetPixel(image, col, row)) & 0x00FFFFFFu);
      }
    }
    XDestroyImage(image);
    return pixels;
  }
  void Open(const qvWindowPlacement& p) { ASSERT_EQ(OpenDisplayWindow(window, p), 0); }

  Display* x_ = nullptr;
  qvWindow* window = nullptr;
};

std::vector<uint32_t> Pattern(int width, int height) {
  std::vector<uint32_t> pixels;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      pixels.push_back(uint32_t((x * 5 & 0xFF) << 16 | (y * 3 & 0xFF) << 8 | 0x40));
    }
  }
  return pixels;
}

TEST_F(X11WindowTest, OpensWhereAskedAndShowsTheFrontBuffer) {
  Open({100, 80, 200, 150, 1, "x11 test", true, false});  // borderless: no frame to count
  EXPECT_EQ(MeasureUntil({100, 80, 200, 150}), (Geometry{100, 80, 200, 150}));
  std::vector<uint32_t> pattern = Pattern(200, 150);
  BlitToWindow(pattern.data(), 200, 0, 0, window, 0, 0, 200, 150, 0, 0);
  std::vector<uint32_t> shot;
  for (int i = 0; i < 100 && shot != pattern; ++i) {  // the server draws asynchronously
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    shot = Screenshot(100, 80, 200, 150);
  }
  EXPECT_EQ(shot, pattern);
  std::vector<uint32_t> grabbed(200 * 150);
  GrabScreen(100, 80, 200, 150, grabbed.data(), 200);
  EXPECT_EQ(grabbed, pattern);
}

// Scattered writes, more than the dirty list holds, presented in one go: each of the rectangles
// reaches the screen.
TEST_F(X11WindowTest, ScatteredWritesReachTheScreen) {
  Open({100, 80, 600, 400, 1, "x11 test", true, false});
  EXPECT_EQ(MeasureUntil({100, 80, 600, 400}), (Geometry{100, 80, 600, 400}));
  ScatterWritesOffTheMainThread(window, 600, 400);
  EXPECT_GT(window->dirty.count, 1);  // not merged into one box
  PresentDirtyWindows();
  std::vector<uint32_t> front, shot;
  ASSERT_TRUE(ReadWindowPixels(window, &front, nullptr, nullptr));
  for (int i = 0; i < 100 && shot != front; ++i) {  // the server draws asynchronously
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    shot = Screenshot(100, 80, 600, 400);
  }
  EXPECT_EQ(shot, front);
}

TEST_F(X11WindowTest, TheProgramsMovesAreNotReportedButOthersAre) {
  Open({100, 80, 200, 150, 1, "x11 test", true, false});
  MeasureUntil({100, 80, 200, 150});
  EXPECT_EQ(MoveResizeWindow(window, 300, 200, 120, 90), 0);
  EXPECT_EQ(MeasureUntil({300, 200, 120, 90}), (Geometry{300, 200, 120, 90}));
  qvWindowPlacement placed{};
  ASSERT_TRUE(GetWindowPlacement(window, &placed));
  EXPECT_EQ(placed.width, 120);
  int rc = MessageLoop([&] {
    for (int i = 0; i < 5; ++i) {
      WakeMainLoop();
      WaitMainLoopPass();
    }
    XMoveWindow(x_, XWindowOf(), 40, 30);  // as a window manager or a user would
    XSync(x_, False);
    for (int i = 0; i < 100 && gEvents.empty(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      WakeMainLoop();
      WaitMainLoopPass();
    }
    return 0;
  });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(gEvents, std::vector<std::string>{"4 40,30"});
  ASSERT_TRUE(GetWindowPlacement(window, &placed));
  EXPECT_EQ(placed.x, 40);
  EXPECT_EQ(placed.y, 30);
}

TEST_F(X11WindowTest, AFullScreenModeAndBackRestoresTheWindow) {
  const qvWindowPlacement windowed{100, 80, 200, 150, 1, "x11 test", true, false};
  Open(windowed);
  MeasureUntil({100, 80, 200, 150});
  std::vector<std::pair<int32_t, int32_t>> modes(size_t(ListDisplayModes(nullptr, 0)));
  ASSERT_FALSE(modes.empty());
  ListDisplayModes(modes.data(), int32_t(modes.size()));
  auto [w, h] = modes[0];
  ASSERT_EQ(FindBestDisplayMode(w, h, 32), 0);
  EXPECT_EQ(GetScreenAttr(ScreenAttr::kWidth), w);
  Open({0, 0, w, h, 1, "x11 test", true, false});
  EXPECT_EQ(MeasureUntil({0, 0, w, h}), (Geometry{0, 0, w, h}));
  ASSERT_EQ(RestoreDisplayMode(), 0);
  Open(windowed);
  EXPECT_EQ(MeasureUntil({100, 80, 200, 150}), (Geometry{100, 80, 200, 150}));
}

// The shape's rows: '#' solid, '.' a hole.
const char* const kShapeRows[] = {
    "########################################", "##########..............################",
    "##########..............################", "#######.........................########",
    "#######.........................########", "###############......###################",
    "###############......###################", "########################################",
    "#..####################################.", "##..################################..##",
};
constexpr int kShapeWidth = 40, kShapeHeight = 10;

// The region X11 reports for a window (bounding or input), as one byte per pixel.
std::vector<uint8_t> RegionOf(Display* x, Window w, int kind, int width, int height) {
  std::vector<uint8_t> solid(size_t(width * height), 0);
  int count = 0, ordering = 0;
  XRectangle* rects = XShapeGetRectangles(x, w, kind, &count, &ordering);
  for (int i = 0; i < count; ++i) {
    for (int y = std::max(0, int(rects[i].y)); y < std::min(height, rects[i].y + rects[i].height);
         ++y) {
      for (int c = std::max(0, int(rects[i].x)); c < std::min(width, rects[i].x + rects[i].width);
           ++c) {
        solid[size_t(y * width + c)] = 1;
      }
    }
  }
  if (rects != nullptr) XFree(rects);
  return solid;
}

TEST_F(X11WindowTest, AShapedWindowsRegionIsItsMask) {
  // The mask of the rows, most significant bit first.
  const int bytesPerRow = kShapeWidth / 8 + 1;
  std::vector<uint8_t> mask(size_t(bytesPerRow * kShapeHeight), 0);
  std::vector<uint8_t> want;
  for (int y = 0; y < kShapeHeight; ++y) {
    for (int x = 0; x < kShapeWidth; ++x) {
      bool on = kShapeRows[y][x] == '#';
      if (on) mask[size_t(y * bytesPerRow + x / 8)] |= uint8_t(0x80 >> (x % 8));
      want.push_back(on ? 1 : 0);
    }
  }
  qvWindowShapeSource shape{{mask.data(), kShapeWidth, kShapeHeight, bytesPerRow}, {}};
  ASSERT_EQ(OpenDisplayWindow(window, {100, 80, kShapeWidth, kShapeHeight, 1, "x11", true, false},
                              &shape),
            0);
  ASSERT_TRUE(SDL_IsShapedWindow(SdlRecord(window)->sdl));
  // Made off the screen, the shaped window is placed where it was asked.
  EXPECT_EQ(MeasureUntil({100, 80, kShapeWidth, kShapeHeight}),
            (Geometry{100, 80, kShapeWidth, kShapeHeight}));
  EXPECT_EQ(RegionOf(x_, XWindowOf(), ShapeBounding, kShapeWidth, kShapeHeight), want);

  // Where the shape has holes the screen keeps what lies below the window.
  std::vector<uint32_t> below = Screenshot(100, 80, kShapeWidth, kShapeHeight);
  std::vector<uint32_t> colour(size_t(kShapeWidth * kShapeHeight), 0x40C0FF);
  BlitToWindow(colour.data(), kShapeWidth, 0, 0, window, 0, 0, kShapeWidth, kShapeHeight, 0, 0);
  std::vector<uint32_t> expected(below.size());
  for (size_t i = 0; i < below.size(); ++i) expected[i] = want[i] ? 0x40C0FF : below[i];
  std::vector<uint32_t> shot;
  for (int i = 0; i < 100 && shot != expected; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    shot = Screenshot(100, 80, kShapeWidth, kShapeHeight);
  }
  EXPECT_EQ(shot, expected);

  // Resized by someone else (a user through the window manager), the window drops the shape:
  // all of it shows.
  int rc = MessageLoop([&] {
    XResizeWindow(x_, XWindowOf(), 60, 30);
    XSync(x_, False);
    for (int i = 0; i < 200 && GetWindowShape(window, nullptr, nullptr, nullptr); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      WakeMainLoop();
      WaitMainLoopPass();
    }
    return 0;
  });
  EXPECT_EQ(rc, 0);
  EXPECT_FALSE(GetWindowShape(window, nullptr, nullptr, nullptr));
  XSync(x_, False);
  EXPECT_EQ(RegionOf(x_, XWindowOf(), ShapeBounding, 60, 30), std::vector<uint8_t>(60 * 30, 1));
  EXPECT_EQ(RegionOf(x_, XWindowOf(), ShapeInput, 60, 30), std::vector<uint8_t>(60 * 30, 1));
}

std::vector<std::string> gPresses;
void SeenButton(int32_t type, bool pressed, int32_t x, int32_t y) {
  if (pressed) {
    gPresses.push_back("button " + std::to_string(type) + " " + std::to_string(x) + "," +
                       std::to_string(y));
  }
}
const qvWindowEvents kPresses = {nullptr, nullptr, SeenButton, nullptr, nullptr, nullptr, nullptr};

TEST_F(X11WindowTest, PressesInDragAreasAndSizeZonesAskTheWindowManager) {
#ifndef QV_XDOTOOL
  GTEST_SKIP() << "xdotool is not installed";
#else
  // Without a window manager on the server nothing moves: the test stands in for one and reads
  // the requests that the presses send to the root window.
  const Atom moveResize = XInternAtom(x_, "_NET_WM_MOVERESIZE", False);
  XSelectInput(x_, DefaultRootWindow(x_), SubstructureNotifyMask);
  XSync(x_, False);
  SetWindowEvents(&kPresses);
  const qvWindowZone drag[] = {{0, 0, 200, 15}};
  const qvWindowZone size[] = {{190, 140, 10, 10}, {0, 60, 10, 20}};
  CopyDragZones(window, drag, 1, size, 2);
  Open({100, 80, 200, 150, 1 | 2, "x11 test", true, false});  // borderless, sizeable
  MeasureUntil({100, 80, 200, 150});
  struct Case {
    int x, y;           // in the window
    long direction;     // of the request: 8 move, 4 bottom-right, 7 left; -1 none
    const char* press;  // the button event, or null
  } cases[] = {
      {50, 5, 8, nullptr},
      {195, 145, 4, nullptr},
      {3, 70, 7, nullptr},
      {50, 70, -1, "button 1 50,70"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
    gPresses.clear();
    long direction = -1;
    int rc = MessageLoop([&] {
      std::string command = std::string(QV_XDOTOOL) + " mousemove --sync " +
                            std::to_string(100 + c.x) + " " + std::to_string(80 + c.y) +
                            " mousedown 1 mouseup 1";
      EXPECT_EQ(std::system(command.c_str()), 0);
      for (int i = 0; i < 50; ++i) {
        WakeMainLoop();
        WaitMainLoopPass();
        while (XPending(x_) > 0) {
          XEvent event;
          XNextEvent(x_, &event);
          if (event.type == ClientMessage && event.xclient.message_type == moveResize) {
            direction = event.xclient.data.l[2];
          }
        }
        if (direction != -1 || !gPresses.empty()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      return 0;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(direction, c.direction);
    std::vector<std::string> want;
    if (c.press != nullptr) want.push_back(c.press);
    EXPECT_EQ(gPresses, want);
  }
#endif
}

TEST_F(X11WindowTest, DragAreasAndSizeZonesShowTheMoveAndSizingPointers) {
#ifndef QV_XDOTOOL
  GTEST_SKIP() << "xdotool is not installed";
#else
  const qvWindowZone drag[] = {{0, 0, 200, 15}};
  const qvWindowZone size[] = {{190, 140, 10, 10}, {0, 60, 10, 20}};
  CopyDragZones(window, drag, 1, size, 2);
  Open({100, 80, 200, 150, 1 | 2, "x11 test", true, false});  // borderless, sizeable
  MeasureUntil({100, 80, 200, 150});
  struct Case {
    int x, y;  // in the window
    WindowHit hit;
  } cases[] = {
      {50, 5, WindowHit::kDrag},
      {195, 145, WindowHit::kSizeBottomRight},
      {3, 70, WindowHit::kSizeLeft},
      {50, 70, WindowHit::kNormal},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
    bool shown = false;
    int rc = MessageLoop([&] {
      std::string command = std::string(QV_XDOTOOL) + " mousemove --sync " +
                            std::to_string(100 + c.x) + " " + std::to_string(80 + c.y);
      EXPECT_EQ(std::system(command.c_str()), 0);
      struct Call {
        WindowHit hit;
        bool shown;
      } call{c.hit, false};
      for (int i = 0; i < 100 && !call.shown; ++i) {
        WakeMainLoop();
        WaitMainLoopPass();
        RunOnMainThread(
            [](void* p) {
              auto* k = static_cast<Call*>(p);
              SDL_Cursor* want = k->hit == WindowHit::kNormal ? SDL_GetDefaultCursor()
                                                              : SdlZoneCursor(k->hit);
              k->shown = want != nullptr && SDL_GetCursor() == want;
              return 0;
            },
            &call);
        if (!call.shown) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      shown = call.shown;
      return 0;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(shown);
  }
#endif
}

}  // namespace
