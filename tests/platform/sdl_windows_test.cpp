// The window services over SDL's dummy video driver: real SDL windows behind the same calls as
// the headless ones, the front buffer presented into the window's surface (in place before the
// main loop runs, by the main thread's pump while it runs), the program's own moves told apart
// from the user's, and the window procedure's mapping of SDL events.
#include <SDL.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/errors.h"
#include "platform/os/internal.h"
#include "platform/sdl/sdl_internal.h"
#include "platform/window_services.h"
#include "tests/fixtures/sdl_events.h"
#include "tests/platform/fixture.h"

using namespace qv;

namespace {

std::vector<std::string> gSeen;  // main thread writes inside the pump; read after the loop

void SeenKey(const qvWindow*, int32_t code, bool pressed, uint32_t qualifiers) {
  gSeen.push_back("key " + std::to_string(code) + (pressed ? " down" : " up") +
                  ((qualifiers & kQualifierLeftControl) ? " ctrl" : ""));
}
void SeenCtrlC(const qvWindow*) { gSeen.push_back("ctrl-c"); }
void SeenButton(const qvWindow*, int32_t type, bool pressed, int32_t x, int32_t y) {
  gSeen.push_back("button " + std::to_string(type) + (pressed ? " down " : " up ") +
                  std::to_string(x) + "," + std::to_string(y));
}
void SeenWheel(const qvWindow*, bool up) { gSeen.push_back(up ? "wheel up" : "wheel down"); }
void SeenPointer(const qvWindow*, int32_t x, int32_t y) {
  gSeen.push_back("pointer " + std::to_string(x) + "," + std::to_string(y));
}
void SeenEvent(const qvWindow*, int32_t type, int32_t x, int32_t y) {
  gSeen.push_back("event " + std::to_string(type) + " " + std::to_string(x) + "," +
                  std::to_string(y));
}
void SeenDrop(const qvWindow*, const std::vector<std::string>& names, int32_t, int32_t) {
  std::string line = "drop";
  for (const auto& n : names) line += " " + n;
  gSeen.push_back(line);
}
const qvWindowEvents kSeen = {SeenKey,     SeenCtrlC, SeenButton, SeenWheel,
                              SeenPointer, SeenEvent, SeenDrop};

// Lets the main loop pass until what was pushed before the call has been pumped.
void Settle() {
  for (int i = 0; i < 3; ++i) {
    WakeMainLoop();
    WaitMainLoopPass();
  }
}

class SdlWindowsTest : public PlatformTest {
 protected:
  void SetUp() override {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    PlatformTest::SetUp();
    ASSERT_EQ(StartWindowSystem(), WindowSystemKind::kSdl) << SDL_GetError();
    window = AttachPlatformDisplay();
    ASSERT_NE(window, nullptr);
    gSeen.clear();
    SetWindowEvents(&kSeen);
  }
  void TearDown() override {
    SetWindowEvents(nullptr);
    DetachPlatformDisplay(window);
    StopWindowSystem();
    PlatformTest::TearDown();
  }
  void Open(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags = 0) {
    qvWindowPlacement p{x, y, width, height, flags, "sdl test", true, false};
    ASSERT_EQ(OpenDisplayWindow(window, p), 0);
  }
  uint32_t SdlId() { return SDL_GetWindowID(SdlRecord(window)->sdl); }
  qvWindow* window = nullptr;
};

std::vector<uint32_t> Pattern(int32_t width, int32_t height) {
  std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) pixels[y * width + x] = 0xFF000000u | (x * 7) << 16 | y;
  }
  return pixels;
}

TEST_F(SdlWindowsTest, TheSurfaceShowsTheFrontBufferBeforeAndDuringTheLoop) {
  Open(10, 20, 64, 48);
  std::vector<uint32_t> front, shown;
  int32_t w = 0, h = 0;
  ASSERT_TRUE(ReadShownPixels(window, &shown, &w, &h));
  EXPECT_EQ(w, 64);
  EXPECT_EQ(h, 48);
  EXPECT_EQ(shown, std::vector<uint32_t>(64 * 48, 0));  // black until the first refresh

  // Before the loop: written and presented in place on the main thread.
  std::vector<uint32_t> src = Pattern(64, 48);
  BlitToWindow(src.data(), 64, 0, 0, window, 0, 0, 64, 48, 0, 0);
  ASSERT_TRUE(ReadWindowPixels(window, &front, nullptr, nullptr));
  ASSERT_TRUE(ReadShownPixels(window, &shown, &w, &h));
  EXPECT_EQ(shown, front);

  // From the script thread: the write wakes the loop, whose pump presents it.
  int rc = MessageLoop([&] {
    FillWindowRect(window, 5, 6, 10, 4, 0x00ABCDEF);
    DrawWindowLine(window, 0, 47, 63, 47, 0x00123456);
    BlitToWindow(src.data(), 64, 3, 4, window, 40, 30, 8, 8, 16, 12);  // a stretch
    Settle();
    return 0;
  });
  EXPECT_EQ(rc, 0);
  ASSERT_TRUE(ReadWindowPixels(window, &front, nullptr, nullptr));
  ASSERT_TRUE(ReadShownPixels(window, &shown, &w, &h));
  EXPECT_EQ(shown, front);
  EXPECT_EQ(shown[7 * 64 + 9], 0x00ABCDEFu);
  EXPECT_EQ(shown[47 * 64 + 63], 0x00123456u);
}

// More scattered writes than the dirty list holds, presented in one go: the surface equals the
// front buffer.
TEST_F(SdlWindowsTest, ScatteredWritesReachTheSurface) {
  Open(0, 0, 600, 400);
  ScatterWritesOffTheMainThread(window, 600, 400);
  EXPECT_GT(window->dirty.count, 1);  // not merged into one box
  PresentDirtyWindows();
  std::vector<uint32_t> front, shown;
  int32_t w = 0, h = 0;
  ASSERT_TRUE(ReadWindowPixels(window, &front, nullptr, nullptr));
  ASSERT_TRUE(ReadShownPixels(window, &shown, &w, &h));
  EXPECT_EQ(shown, front);
  EXPECT_NE(std::count(front.begin(), front.end(), 0u), int64_t{600} * 400);
}

TEST_F(SdlWindowsTest, ProgramMovesAndTitlesAreNoUserEvents) {
  Open(30, 40, 32, 32);
  qvWindowPlacement placed{};
  ASSERT_TRUE(GetWindowPlacement(window, &placed));
  EXPECT_EQ(placed.x, 30);
  EXPECT_EQ(placed.y, 40);
  int rc = MessageLoop([&] {
    SetWindowTitle(window, "renamed");
    EXPECT_EQ(MoveResizeWindow(window, 50, 60, 40, 20), 0);
    Settle();
    return 0;
  });
  EXPECT_EQ(rc, 0);
  EXPECT_STREQ(SDL_GetWindowTitle(SdlRecord(window)->sdl), "renamed");
  int w = 0, h = 0;
  SDL_GetWindowSize(SdlRecord(window)->sdl, &w, &h);
  EXPECT_EQ(w, 40);
  EXPECT_EQ(h, 20);
  ASSERT_TRUE(GetWindowPlacement(window, &placed));
  EXPECT_EQ(placed.x, 50);
  EXPECT_EQ(placed.width, 40);
  for (const std::string& seen : gSeen) {
    EXPECT_EQ(seen.find("event 4"), std::string::npos) << seen;
    EXPECT_EQ(seen.find("event 5"), std::string::npos) << seen;
  }
  // Closing destroys the SDL window; reopening makes a new one.
  CloseDisplayWindow(window);
  EXPECT_EQ(SdlRecord(window), nullptr);
  EXPECT_FALSE(ReadShownPixels(window, nullptr, nullptr, nullptr));
  Open(0, 0, 8, 8);
  EXPECT_NE(SdlRecord(window), nullptr);
}

// Titles are ISO-8859-1 text: the window shows them converted, every letter kept, whether the
// window opens with one or is renamed.
TEST_F(SdlWindowsTest, TitlesAreConvertedFromIso88591) {
  qvWindowPlacement p{0,
                      0,
                      8,
                      8,
                      0,
                      "Gr\xFC\xDF"
                      "e",
                      true,
                      false};
  ASSERT_EQ(OpenDisplayWindow(window, p), 0);
  EXPECT_STREQ(SDL_GetWindowTitle(SdlRecord(window)->sdl),
               "Gr\xC3\xBC\xC3\x9F"
               "e");
  int rc = MessageLoop([&] {
    SetWindowTitle(window, "\xC0 \x7F\xA0\xFF");
    Settle();
    return 0;
  });
  EXPECT_EQ(rc, 0);
  EXPECT_STREQ(SDL_GetWindowTitle(SdlRecord(window)->sdl), "\xC3\x80 \x7F\xC2\xA0\xC3\xBF");
}

// A window that opens sets the frame limit to the screen's refresh rate, over a limit set
// before; resizing an open window does not.
TEST_F(SdlWindowsTest, OpeningAWindowSetsTheFrameLimitToTheRefreshRate) {
  SDL_DisplayMode mode;
  ASSERT_EQ(SDL_GetDesktopDisplayMode(0, &mode), 0);
  int refresh = mode.refresh_rate != 0 ? mode.refresh_rate : 60;
  EXPECT_EQ(GetFrameLimit(), 0);
  SetPlatformAttr(PlatformAttr::kFrameLimit, 25);
  Open(0, 0, 8, 8);
  EXPECT_EQ(GetFrameLimit(), refresh);
  EXPECT_EQ(GetScreenAttr(ScreenAttr::kFrameRate), refresh);
  SetPlatformAttr(PlatformAttr::kFrameLimit, 25);
  Open(0, 0, 16, 8);  // already open: moved and sized
  EXPECT_EQ(GetFrameLimit(), 25);
  CloseDisplayWindow(window);
  Open(0, 0, 8, 8);
  EXPECT_EQ(GetFrameLimit(), refresh);
}

TEST_F(SdlWindowsTest, ScreenQueriesComeFromTheDriver) {
  SDL_DisplayMode mode;
  ASSERT_EQ(SDL_GetDesktopDisplayMode(0, &mode), 0);
  EXPECT_EQ(GetScreenAttr(ScreenAttr::kWidth), mode.w);
  EXPECT_EQ(GetScreenAttr(ScreenAttr::kHeight), mode.h);
  EXPECT_EQ(GetScreenAttr(ScreenAttr::kDepth), 32);
  // The frame limit follows the refresh rate until one is set; 0 Hz reads as 60.
  EXPECT_EQ(GetScreenAttr(ScreenAttr::kFrameRate), mode.refresh_rate != 0 ? mode.refresh_rate : 60);
  int32_t count = ListDisplayModes(nullptr, 0);
  ASSERT_GE(count, 1);
  std::vector<std::pair<int32_t, int32_t>> modes(static_cast<size_t>(count));
  EXPECT_EQ(ListDisplayModes(modes.data(), count), count);
  EXPECT_EQ(FindBestDisplayMode(modes[0].first, modes[0].second, 32), 0);
  EXPECT_EQ(FindBestDisplayMode(100001, 100001, 32), ERR_SCREEN);
  EXPECT_EQ(RestoreDisplayMode(), 0);
  // Dummy windows have no frame.
  qvWindowFrame frame = ComputeWindowBorders(0);
  EXPECT_EQ(frame.totalWidth, 0);
  EXPECT_EQ(frame.totalHeight, 0);
}

TEST(WindowSystemChoice, HeadlessWithoutADisplayOrDriver) {
  std::string saved[3];
  const char* names[3] = {"SDL_VIDEODRIVER", "DISPLAY", "WAYLAND_DISPLAY"};
  for (int i = 0; i < 3; ++i) {
    const char* v = std::getenv(names[i]);
    saved[i] = v != nullptr ? v : "";
    unsetenv(names[i]);
  }
  EXPECT_EQ(StartWindowSystem(), WindowSystemKind::kHeadless);
  EXPECT_EQ(ActiveWindowSystemKind(), WindowSystemKind::kHeadless);
  for (int i = 0; i < 3; ++i) {
    if (!saved[i].empty()) setenv(names[i], saved[i].c_str(), 1);
  }
}

// A driver that cannot start leaves the run headless, and SDL's reason survives the clean-up that
// follows the failed start, for the caller to tell.
TEST(WindowSystemChoice, HeadlessWhenTheDriverFailsWithItsReason) {
  const char* v = std::getenv("SDL_VIDEODRIVER");
  std::string saved = v != nullptr ? v : "";
  setenv("SDL_VIDEODRIVER", "qv-no-such-driver", 1);
  EXPECT_EQ(StartWindowSystem(), WindowSystemKind::kHeadless);
  EXPECT_NE(std::string(SDL_GetError()).find("qv-no-such-driver"), std::string::npos)
      << SDL_GetError();
  if (saved.empty()) {
    unsetenv("SDL_VIDEODRIVER");
  } else {
    setenv("SDL_VIDEODRIVER", saved.c_str(), 1);
  }
}

// FindBestDisplayMode's choice: the first mode that holds the size and is smaller in both sides
// than every earlier one that did.
TEST(SelectDisplayMode, TakesTheSmallestModeThatHoldsTheSize) {
  const std::vector<std::pair<int32_t, int32_t>> modes = {
      {1024, 768}, {800, 600}, {1280, 720}, {1920, 1080}, {640, 480}};
  struct Row {
    int32_t width, height, depth, want;
  } rows[] = {
      {640, 480, 32, 4},                          // listed: itself
      {700, 500, 32, 1},                          // 800 x 600, not the larger ones
      {801, 600, 32, 0},                          // 1024 x 768: 1280 x 720 is not smaller in both
      {1025, 700, 32, 2},                         // only the wide ones hold it
      {1920, 1080, 32, 3}, {1921, 1080, 32, -1},  // nothing holds it
      {640, 480, 33, -1},                         // deeper than any mode
      {0, 0, 0, 4},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(SelectDisplayMode(modes.data(), int32_t(modes.size()), r.width, r.height, r.depth),
              r.want)
        << r.width << "x" << r.height << "x" << r.depth;
  }
  EXPECT_EQ(SelectDisplayMode(nullptr, 0, 640, 480, 32), -1);
}

}  // namespace

using qvtest::SdlKey;
using qvtest::SdlLeftButton;
using qvtest::SdlText;
using qvtest::SdlWindowEvent;

// Each row pushes its SDL events into the real loop and names what the window procedure hands to
// the event core.
TEST_F(SdlWindowsTest, SdlEventsReachTheEventCoreAsTheWindowProcedureMapsThem) {
  Open(0, 0, 100, 80);
  const uint32_t id = SdlId();
  struct Row {
    const char* what;
    std::vector<SDL_Event> events;
    std::vector<std::string> want;
  };
  SDL_Event wheel{}, motion{};
  wheel.type = SDL_MOUSEWHEEL;
  wheel.wheel.windowID = id;
  wheel.wheel.y = -1;
  motion.type = SDL_MOUSEMOTION;
  motion.motion.windowID = id;
  motion.motion.x = 7;
  motion.motion.y = 9;
  const std::vector<Row> rows = {
      {"a printable key takes the character of its text input, kept for its release",
       {SdlKey(SDL_KEYDOWN, id, SDLK_a, SDL_SCANCODE_A, 0), SdlText(id, "a"),
        SdlKey(SDL_KEYUP, id, SDLK_a, SDL_SCANCODE_A, 0)},
       {"key 97 down", "key 97 up"}},
      {"shifted: the text's character, released as pressed",
       {SdlKey(SDL_KEYDOWN, id, SDLK_a, SDL_SCANCODE_A, KMOD_LSHIFT), SdlText(id, "A"),
        SdlKey(SDL_KEYUP, id, SDLK_a, SDL_SCANCODE_A, 0)},
       {"key 65 down", "key 65 up"}},
      {"Latin-1 text is one code; text outside Latin-1 is no key",
       {SdlKey(SDL_KEYDOWN, id, 0xE4, SDL_SCANCODE_APOSTROPHE, 0), SdlText(id, "\xC3\xA4"),
        SdlKey(SDL_KEYUP, id, 0xE4, SDL_SCANCODE_APOSTROPHE, 0),
        SdlKey(SDL_KEYDOWN, id, SDLK_e, SDL_SCANCODE_E, KMOD_RALT), SdlText(id, "\xE2\x82\xAC"),
        SdlKey(SDL_KEYUP, id, SDLK_e, SDL_SCANCODE_E, 0)},
       {"key 228 down", "key 228 up"}},
      {"space, Return and keypad Enter have the special codes",
       {SdlKey(SDL_KEYDOWN, id, SDLK_SPACE, SDL_SCANCODE_SPACE, 0), SdlText(id, " "),
        SdlKey(SDL_KEYUP, id, SDLK_SPACE, SDL_SCANCODE_SPACE, 0),
        SdlKey(SDL_KEYDOWN, id, SDLK_KP_ENTER, SDL_SCANCODE_KP_ENTER, 0),
        SdlKey(SDL_KEYDOWN, id, SDLK_RETURN, SDL_SCANCODE_RETURN, 0)},
       {"key 276 down", "key 276 up", "key 274 down", "key 274 down"}},
      {"Ctrl+letter is its control code; Ctrl+C only the quit condition",
       {SdlKey(SDL_KEYDOWN, id, SDLK_a, SDL_SCANCODE_A, KMOD_LCTRL),
        SdlKey(SDL_KEYUP, id, SDLK_a, SDL_SCANCODE_A, KMOD_LCTRL),
        SdlKey(SDL_KEYDOWN, id, SDLK_c, SDL_SCANCODE_C, KMOD_LCTRL),
        SdlKey(SDL_KEYUP, id, SDLK_c, SDL_SCANCODE_C, KMOD_LCTRL)},
       {"key 1 down ctrl", "key 1 up ctrl", "ctrl-c"}},
      {"AltGr+C is a character, not Ctrl+C",
       {SdlKey(SDL_KEYDOWN, id, SDLK_c, SDL_SCANCODE_C, KMOD_LCTRL | KMOD_RALT),
        SdlText(id, "\xC2\xA9"),
        SdlKey(SDL_KEYUP, id, SDLK_c, SDL_SCANCODE_C, KMOD_LCTRL | KMOD_RALT)},
       {"key 169 down", "key 169 up"}},
      {"with Alt only F10 is a key; Alt+Return asks for full screen",
       {SdlKey(SDL_KEYDOWN, id, SDLK_x, SDL_SCANCODE_X, KMOD_LALT),
        SdlKey(SDL_KEYDOWN, id, SDLK_F10, SDL_SCANCODE_F10, KMOD_LALT),
        SdlKey(SDL_KEYDOWN, id, SDLK_RETURN, SDL_SCANCODE_RETURN, KMOD_LALT)},
       {"key 270 down", "event 13 1,0"}},
      {"buttons with window pixels, the wheel towards the user, pointer moves",
       {SdlLeftButton(SDL_MOUSEBUTTONDOWN, id, 12, 34),
        SdlLeftButton(SDL_MOUSEBUTTONUP, id, 12, 34), wheel, motion},
       {"button 1 down 12,34", "button 1 up 12,34", "wheel down", "pointer 7,9"}},
      {"focus, close, minimise and restore; a restore without a minimise posts nothing",
       {SdlWindowEvent(id, SDL_WINDOWEVENT_FOCUS_LOST), SdlWindowEvent(id, SDL_WINDOWEVENT_CLOSE),
        SdlWindowEvent(id, SDL_WINDOWEVENT_RESTORED), SdlWindowEvent(id, SDL_WINDOWEVENT_MINIMIZED),
        SdlWindowEvent(id, SDL_WINDOWEVENT_RESTORED),
        SdlWindowEvent(id, SDL_WINDOWEVENT_FOCUS_GAINED)},
       {"event 6 0,0", "event 7 0,0", "event 9 0,0", "event 10 0,0", "event 8 0,0"}},
      {"the user's move and size are reported",
       {SdlWindowEvent(id, SDL_WINDOWEVENT_MOVED, 200, 150),
        SdlWindowEvent(id, SDL_WINDOWEVENT_SIZE_CHANGED, 120, 90)},
       {"event 4 200,150", "event 5 120,90"}},
  };
  for (const Row& row : rows) {
    gSeen.clear();
    int rc = MessageLoop([&] {
      for (SDL_Event e : row.events) SDL_PushEvent(&e);
      Settle();
      return 0;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(gSeen, row.want) << row.what;
  }
}

// A key held while the window loses the focus has no release to report.
TEST_F(SdlWindowsTest, FocusLossForgetsTheKeysHeld) {
  Open(0, 0, 10, 10);
  const uint32_t id = SdlId();
  int rc = MessageLoop([&] {
    std::vector<SDL_Event> events = {SdlKey(SDL_KEYDOWN, id, SDLK_F1, SDL_SCANCODE_F1, 0),
                                     SdlWindowEvent(id, SDL_WINDOWEVENT_FOCUS_LOST),
                                     SdlKey(SDL_KEYUP, id, SDLK_F1, SDL_SCANCODE_F1, 0)};
    for (SDL_Event e : events) SDL_PushEvent(&e);
    Settle();
    return 0;
  });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(gSeen, (std::vector<std::string>{"key 261 down", "event 6 0,0"}));
}

// Dropped files come as one list, and only while the display takes drops.
TEST_F(SdlWindowsTest, DroppedFilesAreGatheredIntoOneList) {
  Open(0, 0, 10, 10);
  auto drop = [](Uint32 type, const char* file) {
    SDL_Event e{};
    e.type = type;
    e.drop.file = file != nullptr ? SDL_strdup(file) : nullptr;
    return e;
  };
  for (bool on : {false, true}) {
    SetDropTarget(nullptr, on);
    gSeen.clear();
    int rc = MessageLoop([&] {
      std::vector<SDL_Event> events = {drop(SDL_DROPBEGIN, nullptr), drop(SDL_DROPFILE, "/a b"),
                                       drop(SDL_DROPFILE, "/c"), drop(SDL_DROPCOMPLETE, nullptr)};
      for (SDL_Event e : events) SDL_PushEvent(&e);
      Settle();
      return 0;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(gSeen, on ? std::vector<std::string>{"drop /a b /c"} : std::vector<std::string>{});
  }
  SetDropTarget(nullptr, false);
}

// A window's pointer: the state the script sets, applied by the main thread after its pump (the
// dummy driver has no pictures of its own, so only shown or hidden reaches SDL), and a warp.
TEST_F(SdlWindowsTest, PointersAreAppliedByTheMainThread) {
  Open(0, 0, 40, 30);
  const uint32_t pixels[4] = {0xFF0000FFu, 0x00000000u, 0x80FFFFFFu, 0xFF000000u};
  qvPointerImage* image = nullptr;
  EXPECT_EQ(CreatePointerImage(pixels, 2, 2, 2, 0, &image), ERR_CREATEICON);  // hot spot outside
  EXPECT_EQ(CreatePointerImage(pixels, 0, 2, 0, 0, &image), ERR_CREATEICON);
  EXPECT_EQ(image, nullptr);
  ASSERT_EQ(CreatePointerImage(pixels, 2, 2, 1, 1, &image), 0);
  EXPECT_EQ(GetWindowPointer(window, nullptr), PointerShape::kArrow);
  int shownWhileHidden = -1, shownWithImage = -1;
  qvPointerImage* seen = nullptr;
  int rc = MessageLoop([&] {
    HideDisplayPointer(window);
    Settle();
    shownWhileHidden = RunOnMainThread([](void*) { return SDL_ShowCursor(SDL_QUERY); }, nullptr);
    SetPointerImage(window, image, false);  // a picture shows the pointer again
    Settle();
    shownWithImage = RunOnMainThread([](void*) { return SDL_ShowCursor(SDL_QUERY); }, nullptr);
    EXPECT_EQ(GetWindowPointer(window, &seen), PointerShape::kImage);
    SetPointerImage(window, nullptr, true);
    EXPECT_EQ(GetWindowPointer(window, nullptr), PointerShape::kBusy);
    MovePointerTo(window, 5, 6);
    Settle();
    return 0;
  });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(shownWhileHidden, SDL_DISABLE);
  EXPECT_EQ(shownWithImage, SDL_ENABLE);
  EXPECT_EQ(seen, image);
  EXPECT_NE(std::find(gSeen.begin(), gSeen.end(), "pointer 5,6"), gSeen.end());
  SetPointerImage(window, nullptr, false);
  EXPECT_EQ(GetWindowPointer(window, nullptr), PointerShape::kArrow);
  FreePointerImage(image);
}

TEST_F(SdlWindowsTest, ADriverWithoutShapesGivesAPlainWindow) {
  // Mask rows 10 / 01: the dummy driver cannot shape, so the window opens whole, without an
  // error, shows its front buffer, and keeps the shape it was given.
  const uint8_t rows[] = {0x80, 0x40};
  const qvWindowShapeSource shape{{rows, 2, 2, 1}, {}};
  for (int pass = 0; pass < 2; ++pass) {  // the second open finds the driver known
    ASSERT_EQ(OpenDisplayWindow(window, {10, 20, 2, 2, 1, "sdl test", true, false}, &shape), 0);
    ASSERT_NE(SdlRecord(window), nullptr);
    EXPECT_FALSE(SDL_IsShapedWindow(SdlRecord(window)->sdl));
    std::vector<uint8_t> solid;
    ASSERT_TRUE(GetWindowShape(window, &solid, nullptr, nullptr));
    EXPECT_EQ(solid, (std::vector<uint8_t>{1, 0, 0, 1}));
    FillWindowRect(window, 0, 0, 2, 2, 0x00123456);
    std::vector<uint32_t> shown;
    int32_t w = 0, h = 0;
    ASSERT_TRUE(ReadShownPixels(window, &shown, &w, &h));
    EXPECT_EQ(shown, std::vector<uint32_t>(4, 0x00123456));
    CloseDisplayWindow(window);
  }
}
