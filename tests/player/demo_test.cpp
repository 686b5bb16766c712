// The demo applet in the whole player on SDL's dummy video driver, with a user's input pushed as
// SDL events from another thread: the brush shows in display 1, display 2 takes its own key, its
// picture follows a resize, its close leaves the demo going, and a key in display 1 or its close
// ends the demo normally.
#include <SDL.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "display/display.h"
#include "platform/sdl/sdl_internal.h"
#include "player/player.h"
#include "tests/fixtures/sdl_events.h"
#include "tests/player/demo_tour.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

// The brush's pixel (x, y): red grows to the right, green downwards.
uint32_t BrushPixel(int32_t x, int32_t y) {
  return static_cast<uint32_t>(x * 8) << 16 | static_cast<uint32_t>(y * 8) << 8 | 0x60u;
}

// Each channel of `a` within `tolerance` of `b`'s.
bool Near(uint32_t a, uint32_t b, int tolerance) {
  for (int shift : {16, 8, 0}) {
    int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
    if (d > tolerance || d < -tolerance) return false;
  }
  return true;
}

class DemoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    char pattern[] = "/tmp/qv_demo_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    std::filesystem::create_directory(dir_ + "/tmp");
    setenv("TMPDIR", (dir_ + "/tmp").c_str(), 1);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Output() {
    std::ifstream in(dir_ + "/out.txt", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool WaitForOutput(const std::string& text) {
    for (int i = 0; i < 2000; ++i) {
      if (Output().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  // Runs the demo in this process (the test's thread is the player's main thread) while `user`
  // runs on its own thread once the demo waits; the player's exit status.
  int Run(const std::function<void()>& user) {
    std::thread injector([&] {
      if (WaitForOutput("close it to end.\n")) user();
    });
    std::vector<std::string> args = {"quillvane", QV_DEMO_APPLET, "-QUIET", "-DEBUGDEVICE",
                                     "::file" + dir_ + "/out.txt"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int status = PlayerMain(static_cast<int>(args.size()), argv.data());
    injector.join();
    return status;
  }

  std::string dir_;
};

void Push(SDL_Event e) { ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError(); }

// Without `release` the key stays down: a key that ends the demo is not followed by pushes that
// could come after SDL has stopped.
void PushKey(uint32_t window, SDL_Keycode sym, SDL_Scancode scan, const char* text,
             bool release = true) {
  Push(qvtest::SdlKey(SDL_KEYDOWN, window, sym, scan));
  Push(qvtest::SdlText(window, text));
  if (release) Push(qvtest::SdlKey(SDL_KEYUP, window, sym, scan));
}

void PushWindowEvent(uint32_t window, SDL_WindowEventID event, int32_t data1 = 0,
                     int32_t data2 = 0) {
  Push(qvtest::SdlWindowEvent(window, event, data1, data2));
}

// A display's window title as SDL has it (UTF-8).
std::string SdlTitleOf(int32_t display) {
  qvDisplay* d = nullptr;
  if (FindDisplay({display, nullptr}, &d) != 0) return "";
  qvSdlWindow* rec = SdlRecord(d->window);
  return rec != nullptr ? SDL_GetWindowTitle(rec->sdl) : "";
}

uint32_t SdlWindowIdOf(int32_t display) {
  qvDisplay* d = nullptr;
  if (FindDisplay({display, nullptr}, &d) != 0) return 0;
  qvSdlWindow* rec = SdlRecord(d->window);
  return rec != nullptr ? SDL_GetWindowID(rec->sdl) : 0;
}

struct Shown {
  std::vector<uint32_t> pixels;
  int32_t width = 0, height = 0;
  uint32_t At(int32_t x, int32_t y) const {
    return pixels[static_cast<size_t>(y * width + x)] & 0xFFFFFFu;
  }
};

bool ReadShown(int32_t display, Shown* out) {
  qvDisplay* d = nullptr;
  if (FindDisplay({display, nullptr}, &d) != 0) return false;
  return ReadShownPixels(d->window, &out->pixels, &out->width, &out->height);
}

// A script has drawn when it prints, and the main thread shows the picture a moment later: the
// window is read until `shown` holds (or 2 s have passed); false when it cannot be read.
bool ReadShownOnce(int32_t display, Shown* out, const std::function<bool(const Shown&)>& shown) {
  for (int i = 0; i < 200; ++i) {
    if (!ReadShown(display, out)) return false;
    if (shown(*out)) break;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// The user tries display 2 (a key, a resize, its close) and then ends the demo with a key in
// display 1, or closes display 1 at once.
TEST_F(DemoTest, DisplayTwoAnswersOnItsOwnAndDisplayOneEndsTheDemo) {
  struct Case {
    const char* name;
    bool tryDisplayTwo;
    bool endWithKey;
    const char* ending;
  };
  const Case cases[] = {
      {"key", true, true,
       "   display 2 got the key g\n"
       "   display 2 resized to 240 x 180\n"
       "   display 2 closed; the demo goes on\n"},
      {"close", false, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(dir_ + "/out.txt");
    Shown first, second, resized;
    std::string title;
    int status = Run([&] {
      uint32_t one = SdlWindowIdOf(1), two = SdlWindowIdOf(2);
      // Display 1 ends the demo, also after a failed step.
      struct Ender {
        uint32_t window;
        bool key;
        ~Ender() {
          if (key) {
            PushKey(window, SDLK_q, SDL_SCANCODE_Q, "q", false);
          } else {
            PushWindowEvent(window, SDL_WINDOWEVENT_CLOSE);
          }
        }
      } ender{one, c.endWithKey};
      ASSERT_NE(one, 0u);
      ASSERT_NE(two, 0u);
      ASSERT_NE(one, two);
      title = SdlTitleOf(2);
      EXPECT_TRUE(ReadShownOnce(1, &first, [](const Shown& r) {
        return r.width == 480 && r.height == 270 && r.At(71, 150) == BrushPixel(31, 31);
      }));
      EXPECT_TRUE(ReadShownOnce(2, &second, [](const Shown& r) {
        return r.width == 192 && r.height == 144 && r.At(191, 143) == BrushPixel(31, 31);
      }));
      if (!c.tryDisplayTwo) return;
      PushKey(two, SDLK_g, SDL_SCANCODE_G, "g");
      ASSERT_TRUE(WaitForOutput("got the key"));
      PushWindowEvent(two, SDL_WINDOWEVENT_SIZE_CHANGED, 240, 180);
      ASSERT_TRUE(WaitForOutput("resized to"));
      EXPECT_TRUE(ReadShownOnce(2, &resized, [](const Shown& r) {
        return r.width == 240 && r.height == 180 && r.At(239, 179) == BrushPixel(31, 31);
      }));
      PushWindowEvent(two, SDL_WINDOWEVENT_CLOSE);
      ASSERT_TRUE(WaitForOutput("closed; the demo goes on"));
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Output(), std::string(qvtest::kDemoTour) + c.ending + "\nDone.\n");
    // The script's ISO-8859-1 title "Gr\xFC\xDFe" in UTF-8.
    EXPECT_EQ(title,
              "Gr\xC3\xBC\xC3\x9F"
              "e");

    // Display 1: the brush as it is at (40, 119) on the gradient, three times as large at
    // (112, 87).
    ASSERT_EQ(first.width, 480);
    ASSERT_EQ(first.height, 270);
    EXPECT_EQ(first.At(40, 119), BrushPixel(0, 0));
    EXPECT_EQ(first.At(71, 150), BrushPixel(31, 31));
    EXPECT_EQ(first.At(112 + 3 * 5 + 1, 87 + 3 * 9 + 2), BrushPixel(5, 9));
    EXPECT_EQ(first.At(112 + 95, 87 + 95), BrushPixel(31, 31));
    // Twice as large and turned by 45 degrees at (280, 90): about 91 pixels square with the
    // brush's middle in its middle and the brush's corners (turned one way or the other) at the
    // middles of its edges; the turned picture is resampled, so colours are near, not equal.
    EXPECT_PRED3(Near, first.At(325, 135), BrushPixel(16, 16), 16);
    EXPECT_PRED3(Near, first.At(283, 135), BrushPixel(0, 0), 16);
    EXPECT_PRED3(Near, first.At(367, 135), BrushPixel(31, 31), 16);
    bool clockwise = Near(first.At(325, 93), BrushPixel(0, 31), 16);
    EXPECT_PRED3(Near, first.At(325, 93), BrushPixel(clockwise ? 0 : 31, clockwise ? 31 : 0), 16);
    EXPECT_PRED3(Near, first.At(325, 177), BrushPixel(clockwise ? 31 : 0, clockwise ? 0 : 31), 16);
    // Along the foot, 64 x 64 copies at x = 40, 120, 200, 280 and a gradient at 360, all at
    // y = 200. A blur and a swirl keep the middle of a smooth ramp; pixelating by 8 gives each
    // 8 x 8 block one colour; the gradient runs from orange in one corner to blue in the other.
    EXPECT_PRED3(Near, first.At(40 + 32, 232), BrushPixel(16, 16), 8);
    EXPECT_PRED3(Near, first.At(120 + 32, 232), BrushPixel(16, 16), 8);
    for (int32_t y = 0; y < 8; ++y) {
      for (int32_t x = 0; x < 8; ++x)
        EXPECT_EQ(first.At(200 + 16 + x, 216 + y), first.At(216, 216));
    }
    EXPECT_NE(first.At(216, 216), first.At(224, 216));
    uint32_t a = first.At(360, 200), b = first.At(423, 263);
    bool orangeFirst = Near(a, 0xFF8000, 48);
    EXPECT_PRED3(Near, orangeFirst ? a : b, 0xFF8000u, 48);
    EXPECT_PRED3(Near, orangeFirst ? b : a, 0x0040FFu, 48);
    // The drawn box and circle (a point inside the circle whether it is placed by its centre or
    // by its box's corner).
    EXPECT_EQ(first.At(430, 45), 0xE0F0FFu);
    EXPECT_EQ(first.At(415, 115), 0xFFD700u);
    // The sprite rests where its move ended, over the gradient.
    EXPECT_EQ(first.At(330, 20), BrushPixel(0, 0));
    EXPECT_EQ(first.At(330 + 31, 20 + 31), BrushPixel(31, 31));
    // The line of text: white glyphs, each ringed by its dark edge, in the band it was put in
    // and nowhere above it (the gradient holds neither colour).
    int white = 0, edge = 0, stray = 0;
    for (int32_t y = 55; y < 80; ++y) {
      for (int32_t x = 0; x < 300; ++x) {
        uint32_t p = first.At(x, y);
        bool inBand = y >= 61 && y <= 72 && x >= 9;
        if (p == 0xFFFFFFu) (inBand ? white : stray)++;
        if (p == 0x102040u) (inBand ? edge : stray)++;
      }
    }
    EXPECT_GT(white, 100);
    EXPECT_GT(edge, white);
    EXPECT_EQ(stray, 0);
    // Display 2: the brush fills it, also after the resize (its corners are the brush's).
    ASSERT_EQ(second.width, 192);
    ASSERT_EQ(second.height, 144);
    EXPECT_EQ(second.At(0, 0), BrushPixel(0, 0));
    EXPECT_EQ(second.At(191, 143), BrushPixel(31, 31));
    if (!c.tryDisplayTwo) continue;
    ASSERT_EQ(resized.width, 240);
    ASSERT_EQ(resized.height, 180);
    EXPECT_EQ(resized.At(0, 0), BrushPixel(0, 0));
    EXPECT_EQ(resized.At(239, 0), BrushPixel(31, 0));
    EXPECT_EQ(resized.At(0, 179), BrushPixel(0, 31));
    EXPECT_EQ(resized.At(239, 179), BrushPixel(31, 31));
  }
}

}  // namespace
}  // namespace qv
