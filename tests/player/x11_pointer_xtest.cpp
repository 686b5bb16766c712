// Pointer images on a real X window (the suite runs in its own X server through xvfb-run): the
// cursor the X server shows over the display, read back through XFixes, is the brush's picture
// with its hot spot kept inside the picture, MovePointer puts it at the display's point (scaled as
// the window shows the display), and freeing the shown pointer leaves it shown.
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "tests/player/x11_test_support.h"
// clang-format off
#include <X11/extensions/Xfixes.h>
// clang-format on

namespace qv {
namespace {

using namespace std::chrono_literals;

constexpr char kTitle[] = "qv pointer test";

// A 12 x 8 red brush whose top-left pixel is blue becomes the pointer with the hot spot asked at
// (40, 2): it stays at (11, 2). The display (640 x 480) is shown at half its size.
constexpr char kScript[] = R"(
do SetTitle("qv pointer test")
do SetDisplayAttributes({scalemode = 1, scalewidth = 320, scaleheight = 240})
do CreateBrush(1, 12, 8, 0xFF0000)
do SelectBrush(1)
do Plot(0, 0, 0x0000FF)
do EndSelect()
do CreatePointer(1, GetConstant("#BRUSH"), 1, 40, 2)
do SetPointer(1)
do MovePointer(20, 30)
do DebugPrint("shown")
do WaitKeyDown("a")
do FreePointer(1)
do MovePointer(50, 40)
do DebugPrint("freed")
do WaitKeyDown("b")
)";

struct Cursor {
  int width = -1, height = -1, hotX = -1, hotY = -1, x = -1, y = -1;
  uint32_t topLeft = 0, middle = 0;
};

// The cursor the server shows now; false without XFixes.
bool ReadCursor(Display* x, Cursor* out) {
  XSync(x, False);
  XFixesCursorImage* image = XFixesGetCursorImage(x);
  if (image == nullptr) return false;
  out->width = image->width;
  out->height = image->height;
  out->hotX = image->xhot;
  out->hotY = image->yhot;
  out->x = image->x;
  out->y = image->y;
  // One unsigned long a pixel, 0xAARRGGBB in its low 32 bits.
  out->topLeft = static_cast<uint32_t>(image->pixels[0]);
  out->middle = static_cast<uint32_t>(image->pixels[4 * image->width + 6]);
  XFree(image);
  return true;
}

class X11PointerTest : public testing::X11PlayerTest {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run under xvfb-run";
    MakeRunDirectory("x11", "qv_x11_pointer_");
  }
  // The cursor once it is the 12 x 8 picture (five seconds: SDL applies it after its next pump).
  static Cursor AwaitPicture(Display* x) {
    Cursor c;
    for (int i = 0; i < 500; ++i) {
      if (ReadCursor(x, &c) && c.width == 12 && c.height == 8) break;
      std::this_thread::sleep_for(10ms);
    }
    return c;
  }
};

TEST_F(X11PointerTest, TheServerShowsTheBrushAtTheDisplaysPointEvenAfterItIsFreed) {
  std::string text = qvasm::TranslateOrFail(kScript);
  int status = PlayWithX(text, "pointer.qva", "shown", [&](Display* x) {
    int eventBase = 0, errorBase = 0;
    ASSERT_TRUE(XFixesQueryExtension(x, &eventBase, &errorBase)) << "no XFixes";
    unsigned long window = 0;
    for (int i = 0; i < 200 && window == 0; ++i) {
      window = WindowNamed(kTitle);
      if (window == 0) std::this_thread::sleep_for(10ms);
    }
    ASSERT_NE(window, 0u);
    testing::Rect client;
    ASSERT_TRUE(ReadClientArea(x, window, &client));
    EXPECT_EQ(client.width, 320);

    Cursor c = AwaitPicture(x);
    EXPECT_EQ(c.width, 12);
    EXPECT_EQ(c.height, 8);
    EXPECT_EQ(c.hotX, 11);
    EXPECT_EQ(c.hotY, 2);
    EXPECT_EQ(c.topLeft, 0xFF0000FFu);
    EXPECT_EQ(c.middle, 0xFFFF0000u);
    // (20, 30) of the display is (10, 15) of the window at half its size.
    EXPECT_EQ(c.x, client.x + 10);
    EXPECT_EQ(c.y, client.y + 15);

    ASSERT_TRUE(Xdotool("windowfocus --sync " + std::to_string(window)));
    ASSERT_TRUE(Xdotool("key a"));
    ASSERT_FALSE(WaitForLines("freed").empty()) << Output();
    std::this_thread::sleep_for(200ms);
    c = AwaitPicture(x);
    EXPECT_EQ(c.width, 12) << "the freed pointer is still the display's";
    EXPECT_EQ(c.hotX, 11);
    EXPECT_EQ(c.middle, 0xFFFF0000u);
    EXPECT_EQ(c.x, client.x + 25);
    EXPECT_EQ(c.y, client.y + 20);
    ASSERT_TRUE(Xdotool("key b"));
  });
  EXPECT_EQ(status, 0) << Output();
}

}  // namespace
}  // namespace qv
