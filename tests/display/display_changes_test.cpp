// Changing open displays on the headless screen where a script cannot look: the window's pixels
// after a size change, the double buffer following it, the auto-scaled roads, the screen's modes in
// order, the full-screen switch with its backdrop and the way back, which window Alt+Return may
// switch, and attributes that refill or replace the picture or take the frame away.
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <utility>
#include <vector>

#include "base/errors.h"
#include "core/errors.h"
#include "core/player_state.h"
#include "core/registry.h"
#include "display/display.h"
#include "fixtures/display_setup.h"
#include "platform/window_services.h"

namespace qv {
namespace {

constexpr int32_t kCenter = -100000;

class DisplayChangesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qvScreenSetup screen;
    screen.width = 1024;
    screen.height = 768;
    screen.desktopColour = 0x336699;
    screen.modes = {{1024, 768}, {640, 480}, {800, 600}, {640, 400}};
    ConfigureHeadlessScreen(screen);
    ASSERT_EQ(test::OpenDisplayForTest(), 0);
  }
  void TearDown() override {
    test::CloseDisplayForTest();
    ConfigureHeadlessScreen(qvScreenSetup{});
  }
  // A display made from tags, opened at (x, y) and made current when asked.
  qvDisplay* Make(int32_t number, const test::TagList& fields, bool open = true,
                  bool current = true) {
    qvObjectId id{number, nullptr};
    qvDisplayTags tags = test::TagsOf(fields);
    qvDisplay* d = nullptr;
    EXPECT_EQ(CreateDisplayCore(L, &id, false, &tags, &d), 0);
    if (d == nullptr) return nullptr;
    if (open) {
      EXPECT_EQ(OpenDisplayCore(L, d, true), 0);
    }
    if (current) {
      SetCurrentDisplay(d);
      SetOutputTarget(d->bgpic);
    }
    return d;
  }
  static std::vector<uint32_t> Pixels(const qvBitMap* bitmap) {
    std::vector<uint32_t> out;
    const auto* p = reinterpret_cast<const uint32_t*>(bitmap->pixels);
    for (int32_t y = 0; y < bitmap->height; ++y) {
      for (int32_t x = 0; x < bitmap->width; ++x) {
        out.push_back(p[y * (bitmap->bytesPerRow / 4) + x] & 0xFFFFFFu);
      }
    }
    return out;
  }
  static qvWindowPlacement Placed(const qvDisplay* d) {
    qvWindowPlacement p{};
    EXPECT_TRUE(GetWindowPlacement(d->window, &p));
    return p;
  }
  static std::vector<uint32_t> Shown(const qvDisplay* d, int32_t* w, int32_t* h) {
    std::vector<uint32_t> pixels;
    EXPECT_TRUE(ReadWindowPixels(d->window, &pixels, w, h));
    return pixels;
  }
  qvScriptState* L = nullptr;
};

TEST_F(DisplayChangesTest, AResizedDisplaysWindowShowsThePictureAtItsNewSize) {
  // A gradient, so that a picture left at its old size or copied at the wrong stride shows.
  qvDisplay* d = Make(1, {{"width", 40},
                          {"height", 30},
                          {"fillstyle", 2},
                          {"gradientstartcolor", 0xFF0000},
                          {"gradientendcolor", 0x0000FF}});
  ASSERT_EQ(ReopenDisplay(L, d, 100, 50, 90, 70, true, false, false), 0);
  int32_t w = 0, h = 0;
  std::vector<uint32_t> shown = Shown(d, &w, &h);
  EXPECT_EQ(w, 90);
  EXPECT_EQ(h, 70);
  EXPECT_EQ(d->bgpic->width, 90);
  EXPECT_EQ(d->displayBitmap->width, 90);
  EXPECT_EQ(shown, Pixels(d->displayBitmap));
  EXPECT_NE(shown.front(), shown.back());
  qvWindowPlacement p = Placed(d);
  EXPECT_EQ(p.x, 100);
  EXPECT_EQ(p.y, 50);
  EXPECT_EQ(d->marginRight, 89);

  // KEEPPOSITION keeps where the window is; CENTER centres it with its new size.
  ASSERT_EQ(ReopenDisplay(L, d, kKeepPosition, kCenter, 20, 10, true, true, false), 0);
  p = Placed(d);
  EXPECT_EQ(p.x, 100);
  EXPECT_EQ(p.y, (768 - 10) / 2);
  EXPECT_EQ(Shown(d, &w, &h), Pixels(d->displayBitmap));
  EXPECT_EQ(w, 20);
}

TEST_F(DisplayChangesTest, AResizedWindowGetsItsRegionsAndShapeAtTheNewSize) {
  // Default regions follow the size: the drag strip spans the new width, the size square sits in
  // the new corner.
  qvDisplay* plain = Make(1, {{"width", 40}, {"height", 30}, {"borderless", 1}, {"sizeable", 1}});
  ASSERT_EQ(ReopenDisplay(L, plain, 10, 10, 90, 70, true, false, false), 0);
  EXPECT_EQ(HitTestWindow(plain->window, 85, 5), WindowHit::kDrag);
  EXPECT_EQ(HitTestWindow(plain->window, 85, 65), WindowHit::kSizeBottomRight);
  EXPECT_EQ(HitTestWindow(plain->window, 35, 25), WindowHit::kNormal);  // the old corner
  EXPECT_FALSE(GetWindowShape(plain->window, nullptr, nullptr, nullptr));

  // A 4 x 2 BGPic whose mask leaves out its left column: twice the size, the window is opened
  // anew with the scaled mask.
  qvBitMap* bitmap = AllocBitMap(4, 2);
  qvPlane* mask = AllocMask(4, 2, true);
  ASSERT_TRUE(bitmap != nullptr && mask != nullptr);
  FillBitMapRect(bitmap, 0, 0, 4, 2, 0x00FF00);
  for (int32_t y = 0; y < 2; ++y) {
    for (int32_t x = 0; x < 4; ++x) WriteBitMapPixel(mask, x, y, x == 0 ? 1 : 0);  // 1 clears
  }
  qvObjectId picture{5, nullptr};
  ASSERT_EQ(AddBGPic(&picture, false, 0, 4, 2, 4, nullptr, bitmap, nullptr, -1, mask, nullptr,
                     nullptr, nullptr),
            0);
  qvDisplay* shaped = Make(2, {{"bgpic", 5}, {"borderless", 1}, {"x", 0}, {"y", 0}});
  RecordWindowCalls(true);
  ASSERT_EQ(ReopenDisplay(L, shaped, 0, 0, 8, 4, true, false, false), 0);
  std::vector<WindowCall> calls;
  for (const qvWindowCallRecord& r : TakeWindowCalls()) {
    if (r.window == shaped->window) calls.push_back(r.call);
  }
  RecordWindowCalls(false);
  EXPECT_NE(std::find(calls.begin(), calls.end(), WindowCall::kOpen), calls.end());
  std::vector<uint8_t> solid;
  int32_t w = 0, h = 0;
  ASSERT_TRUE(GetWindowShape(shaped->window, &solid, &w, &h));
  EXPECT_EQ(w, 8);
  EXPECT_EQ(h, 4);
  const std::vector<uint8_t> row = {0, 0, 1, 1, 1, 1, 1, 1};
  for (int32_t y = 0; y < 4; ++y) {
    EXPECT_EQ(std::vector<uint8_t>(solid.begin() + y * 8, solid.begin() + y * 8 + 8), row) << y;
  }
  EXPECT_EQ(Shown(shaped, &w, &h), Pixels(shaped->displayBitmap));
}

TEST_F(DisplayChangesTest, ARefusedSizeLeavesDisplayPictureAndWindowAsTheyWere) {
  qvDisplay* d = Make(1, {{"width", 40}, {"height", 30}, {"color", 0x00FF00}, {"x", 5}, {"y", 6}});
  for (auto [w, h] : {std::pair{2000, 10}, {10, 900}}) {
    EXPECT_EQ(ReopenDisplay(L, d, 5, 6, w, h, true, false, false), ERR_DISPLAYSIZE);
  }
  EXPECT_EQ(ReopenDisplay(L, d, 5, 6, 0, 10, true, false, false), ERR_BADDIMENSIONS);
  EXPECT_EQ(d->width, 40);
  EXPECT_EQ(d->height, 30);
  EXPECT_EQ(d->bgpic->width, 40);
  int32_t w = 0, h = 0;
  EXPECT_EQ(Shown(d, &w, &h), Pixels(d->displayBitmap));
  EXPECT_EQ(w, 40);
}

TEST_F(DisplayChangesTest, TheDoubleBufferFollowsTheNewSize) {
  qvDisplay* d = Make(1, {{"width", 16}, {"height", 8}, {"color", 0xFFFFFF}});
  ASSERT_EQ(BeginDoubleBuffer(L, false), 0);
  ASSERT_EQ(ReopenDisplay(L, d, kCenter, kCenter, 48, 24, true, false, false), 0);
  ASSERT_NE(d->backBuffer, nullptr);
  EXPECT_EQ(d->backBuffer->width, 48);
  EXPECT_EQ(d->outBitmap, d->backBuffer);
  EXPECT_EQ(OutputTarget()->width, 48);
  // The whole new back buffer reaches the window.
  FillBitMapRect(d->backBuffer, 0, 0, 48, 24, 0x123456);
  AddDirtyRect(0, 0, 48, 24);
  ASSERT_EQ(FlipDisplay(L, false), 0);
  int32_t w = 0, h = 0;
  std::vector<uint32_t> shown = Shown(d, &w, &h);
  EXPECT_EQ(shown, std::vector<uint32_t>(48 * 24, 0x123456));
}

TEST_F(DisplayChangesTest, AnAutoScaledDisplayKeepsItsWindowOnAResizeAndSizesItOtherwise) {
  qvDisplay* d = Make(1, {{"width", 20},
                          {"height", 10},
                          {"scalemode", 1},
                          {"scalewidth", 200},
                          {"scaleheight", 100},
                          {"keepproportions", 1}});
  // The picture changes resolution; the window stays at the scale size.
  ASSERT_EQ(ReopenDisplay(L, d, kCenter, kCenter, 40, 40, true, false, false), 0);
  EXPECT_EQ(d->bgpic->width, 40);
  EXPECT_EQ(d->bgpic->height, 40);
  EXPECT_DOUBLE_EQ(d->scaleX, 5.0);
  EXPECT_DOUBLE_EQ(d->scaleY, 2.5);
  EXPECT_EQ(Placed(d).width, 200);
  // The window takes a new size; the square picture keeps its aspect between border strips.
  ASSERT_EQ(ReopenDisplay(L, d, kCenter, kCenter, 300, 100, false, false, false), 0);
  EXPECT_EQ(Placed(d).width, 300);
  EXPECT_EQ(d->scaleWidth, 300);
  EXPECT_EQ(d->borderLeft, 100);
  EXPECT_EQ(d->borderRight, 100);
  EXPECT_EQ(d->borderTop, 0);
  int32_t w = 0, h = 0;
  std::vector<uint32_t> shown = Shown(d, &w, &h);
  EXPECT_EQ(shown[0], 0u);  // a strip
}

TEST_F(DisplayChangesTest, ALayerScaledDisplayIsNotResizedUntilLayersCome) {
  qvDisplay* d = Make(
      1,
      {{"width", 20}, {"height", 10}, {"scalemode", 2}, {"scalewidth", 40}, {"scaleheight", 20}});
  EXPECT_EQ(ReopenDisplay(L, d, kCenter, kCenter, 30, 30, true, false, false), ERR_NOLAYERS);
}

TEST_F(DisplayChangesTest, ModesComeSortedByWidthThenHeight) {
  std::vector<std::pair<int32_t, int32_t>> modes;
  ASSERT_EQ(GetSortedDisplayModes(&modes), 0);
  const std::vector<std::pair<int32_t, int32_t>> want = {
      {640, 400}, {640, 480}, {800, 600}, {1024, 768}};
  EXPECT_EQ(modes, want);
}

TEST_F(DisplayChangesTest, FullScreenWithItsBackdropAndBackToTheWindowAsItWas) {
  qvDisplay* d = Make(
      1,
      {{"width", 100}, {"height", 80}, {"color", 0xFFFFFF}, {"x", 30}, {"y", 40}, {"sizeable", 1}});
  qvDisplay* closed = Make(2, {{"width", 10}, {"height", 10}}, false, false);
  ASSERT_EQ(ChangeDisplayModeCore(L, DisplayMode::kFullScreen, 600, 450), 0);
  EXPECT_TRUE(IsFullScreen());
  EXPECT_EQ(GetScreenAttr(ScreenAttr::kWidth), 640);
  EXPECT_EQ(GetScreenAttr(ScreenAttr::kHeight), 480);
  qvWindowPlacement p = Placed(d);
  EXPECT_EQ(p.x, (640 - 100) / 2);
  EXPECT_EQ(p.y, (480 - 80) / 2);
  EXPECT_EQ(d->flags & (kDisplayBorderless | kDisplayFixed | kDisplaySizeable),
            kDisplayBorderless | kDisplayFixed);
  EXPECT_FALSE(IsWindowOpen(closed->window));
  // The screen is black around the display: the backdrop lies behind it.
  std::vector<uint32_t> screen(640 * 480);
  GrabScreen(0, 0, 640, 480, screen.data(), 640);
  EXPECT_EQ(screen[0], 0u);
  EXPECT_EQ(screen[(p.y + 1) * 640 + p.x + 1], 0xFFFFFFu);
  EXPECT_FALSE(IsMainDisplay(closed));

  // The same mode again changes nothing.
  RecordWindowCalls(true);
  ASSERT_EQ(ChangeDisplayModeCore(L, DisplayMode::kFullScreen, 600, 450), 0);
  EXPECT_TRUE(TakeWindowCalls().empty());
  RecordWindowCalls(false);

  ASSERT_EQ(ChangeDisplayModeCore(L, DisplayMode::kWindowed, 0, 0), 0);
  EXPECT_FALSE(IsFullScreen());
  EXPECT_EQ(GetScreenAttr(ScreenAttr::kWidth), 1024);
  p = Placed(d);
  EXPECT_EQ(p.x, 30);
  EXPECT_EQ(p.y, 40);
  EXPECT_EQ(p.width, 100);
  EXPECT_EQ(d->flags & (kDisplayBorderless | kDisplayFixed | kDisplaySizeable), kDisplaySizeable);
  std::vector<uint32_t> desktop(1);
  GrabScreen(0, 0, 1, 1, desktop.data(), 1);
  EXPECT_EQ(desktop[0], 0x336699u);  // the backdrop is gone
  EXPECT_EQ(*DisplayListHead(), &d->header);
}

TEST_F(DisplayChangesTest, AModeTheScreenCannotTakeLeavesTheWindowsAsTheyWere) {
  qvDisplay* d = Make(1, {{"width", 100}, {"height", 80}, {"x", 30}, {"y", 40}});
  EXPECT_EQ(ChangeDisplayModeCore(L, DisplayMode::kFullScreen, 2000, 2000), ERR_SCREEN);
  EXPECT_FALSE(IsFullScreen());
  qvWindowPlacement p = Placed(d);
  EXPECT_EQ(p.x, 30);
  EXPECT_EQ(p.y, 40);
  EXPECT_EQ(d->state, kDisplayOpen);
  EXPECT_EQ(d->flags & kDisplayBorderless, 0u);
}

TEST_F(DisplayChangesTest, OnlyTheMainDisplaySwitchesWithAltReturn) {
  // The display library installs the switch with its machine, which display/ only hands on: a
  // stand-in handle does here.
  alignas(8) char machine[8];
  InstallModeSwitch(reinterpret_cast<qvScriptState*>(machine));
  qvDisplay* first = Make(1, {{"width", 20}, {"height", 20}});
  EXPECT_TRUE(ModeSwitchAllowed(first->window));
  first->requesterOpen = 1;
  EXPECT_FALSE(ModeSwitchAllowed(first->window));
  first->requesterOpen = 0;
  first->flags |= kDisplayNoModeSwitch;
  EXPECT_FALSE(ModeSwitchAllowed(first->window));
  first->flags &= ~kDisplayNoModeSwitch;
  qvDisplay* second = Make(2, {{"width", 20}, {"height", 20}}, true, false);
  EXPECT_FALSE(ModeSwitchAllowed(first->window));
  EXPECT_FALSE(ModeSwitchAllowed(second->window));
}

// SetDisplayAttributes with the tags given as numbers.
int32_t Apply(qvScriptState* L, qvDisplay* d, const test::TagList& fields) {
  return ApplyDisplayAttributes(L, d, test::TagsOf(fields));
}

TEST_F(DisplayChangesTest, AttributesRefillTheOwnPictureAndTakeANewOne) {
  qvDisplay* d = Make(1, {{"width", 30}, {"height", 20}, {"color", 0x0000FF}});
  qvBGPic* own = d->bgpic;
  qvObjectId ownId{own->header.id, own->header.handle};
  ASSERT_EQ(Apply(L, d, {{"color", 0x00FF00}}), 0);
  int32_t w = 0, h = 0;
  EXPECT_EQ(Shown(d, &w, &h), std::vector<uint32_t>(30 * 20, 0x00FF00));

  qvObjectId id{0, nullptr};
  qvBGPic* picture = nullptr;
  ASSERT_EQ(CreateColorBGPic(&id, true, 50, 40, 0xFF00FF, &picture), 0);
  qvDisplayTags tags;
  tags.bgpic = id;
  ASSERT_EQ(ApplyDisplayAttributes(L, d, tags), 0);
  EXPECT_EQ(d->bgpic, picture);
  EXPECT_EQ(OutputTarget(), picture);
  EXPECT_EQ(Shown(d, &w, &h), std::vector<uint32_t>(50 * 40, 0xFF00FF));
  EXPECT_EQ(w, 50);
  // The picture the display had made for itself went with it.
  qvBGPic* found = nullptr;
  EXPECT_NE(FindBGPic(L, ownId, &found, 0), 0);
}

TEST_F(DisplayChangesTest, TheClientAreaStaysWhereItWasWhenTheFrameGoesAndComes) {
  qvScreenSetup screen;
  screen.borderLeft = 4;
  screen.borderTop = 22;
  screen.borderRight = 4;
  screen.borderBottom = 4;
  ConfigureHeadlessScreen(screen);
  qvDisplay* d = Make(1, {{"width", 30}, {"height", 20}, {"x", 100}, {"y", 200}});
  ASSERT_EQ(Apply(L, d, {{"borderless", 1}}), 0);
  qvWindowPlacement p = Placed(d);
  EXPECT_EQ(p.x, 104);
  EXPECT_EQ(p.y, 222);
  ASSERT_EQ(Apply(L, d, {{"borderless", 0}}), 0);
  p = Placed(d);
  EXPECT_EQ(p.x, 100);
  EXPECT_EQ(p.y, 200);
  // A refused tag changes nothing.
  EXPECT_EQ(Apply(L, d, {{"x", 5}, {"scalemode", 9}}), ERR_WRONGUSAGE);
  EXPECT_EQ(Placed(d).x, 100);
  EXPECT_EQ(d->x, 100);
}

}  // namespace
}  // namespace qv
