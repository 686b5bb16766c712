// The backdrop display behind a full screen, on the headless screen: each backfill's picture as
// the screen shows it around the program's display, the order in which the windows open, and a
// backfill that cannot be made.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/errors.h"
#include "core/applet.h"
#include "core/player_state.h"
#include "display/display.h"
#include "fixtures/display_setup.h"
#include "platform/window_services.h"

namespace qv {
namespace {

constexpr int32_t kScreenWidth = 320, kScreenHeight = 200;
constexpr uint32_t kDesktop = 0x336699;

class BackdropTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qvScreenSetup screen;
    screen.width = kScreenWidth;
    screen.height = kScreenHeight;
    screen.desktopColour = kDesktop;
    screen.modes = {{kScreenWidth, kScreenHeight}};
    ConfigureHeadlessScreen(screen);
    ASSERT_EQ(test::OpenDisplayForTest(), 0);
    ResetDisplaySettings(&settings_);
  }
  void TearDown() override {
    SetDisplayModeSettings(nullptr, false);
    test::CloseDisplayForTest();
    ConfigureHeadlessScreen(qvScreenSetup{});
  }
  // Display 1, 20 x 10 and white, open and current.
  qvDisplay* MakeDisplay() {
    qvObjectId id{1, nullptr};
    qvDisplayTags tags = test::TagsOf({{"width", 20}, {"height", 10}, {"color", 0xFFFFFF}});
    qvDisplay* d = nullptr;
    EXPECT_EQ(CreateDisplayCore(nullptr, &id, false, &tags, &d), 0);
    if (d == nullptr) return nullptr;
    EXPECT_EQ(OpenDisplayCore(nullptr, d, true), 0);
    SetCurrentDisplay(d);
    SetOutputTarget(d->bgpic);
    return d;
  }
  // Brush `number`, width x height, its pixel (x, y) coloured x * 16 + y * 256 + 1; with a mask,
  // the pixels of the first column are masked out.
  static qvBrush* MakeBrush(int32_t number, int32_t width, int32_t height, bool mask) {
    qvObjectId id{number, nullptr};
    qvBrush* brush = nullptr;
    EXPECT_EQ(AllocBrush(&id, false, width, height, 0, mask, false, false, false, &brush), 0);
    for (int32_t y = 0; y < height; ++y) {
      for (int32_t x = 0; x < width; ++x) {
        WriteBrushPixelAt(brush, x, y, BrushColour(x, y), mask ? (x == 0 ? 0 : 1) : -1);
      }
    }
    return brush;
  }
  static uint32_t BrushColour(int32_t x, int32_t y) {
    return static_cast<uint32_t>(x * 16 + y * 256 + 1);
  }
  // The switch to full screen with the backfill in force; the screen as it then shows.
  std::vector<uint32_t> FullScreen(int expected = 0) {
    SetDisplayModeSettings(&settings_, false);
    EXPECT_EQ(ChangeDisplayModeCore(nullptr, DisplayMode::kFullScreen, 20, 10), expected);
    return Screen();
  }
  static std::vector<uint32_t> Screen() {
    std::vector<uint32_t> screen(kScreenWidth * kScreenHeight);
    GrabScreen(0, 0, kScreenWidth, kScreenHeight, screen.data(), kScreenWidth);
    return screen;
  }
  static uint32_t At(const std::vector<uint32_t>& screen, int32_t x, int32_t y) {
    return screen[static_cast<size_t>(y) * kScreenWidth + x] & 0xFFFFFFu;
  }
  qvAppletSettings settings_;
};

TEST_F(BackdropTest, ATextureBackfillTilesACopyOfItsBrushOverTheScreenBehindTheDisplay) {
  qvDisplay* d = MakeDisplay();
  MakeBrush(7, 3, 2, false);
  settings_.backfill.type = kBackfillTexture;
  settings_.backfill.brushId = 7;
  RecordWindowCalls(true);
  std::vector<uint32_t> screen = FullScreen();
  std::vector<qvWindowCallRecord> calls = TakeWindowCalls();
  RecordWindowCalls(false);

  for (auto [x, y] : {std::pair{0, 0}, {1, 0}, {2, 1}, {3, 0}, {5, 1}, {319, 199}, {100, 7}}) {
    EXPECT_EQ(At(screen, x, y), BrushColour(x % 3, y % 2)) << x << "," << y;
  }
  // The display lies in front of it: the backdrop opened first and without being activated.
  qvWindowPlacement p{};
  ASSERT_TRUE(GetWindowPlacement(d->window, &p));
  EXPECT_EQ(At(screen, p.x + 1, p.y + 1), 0xFFFFFFu);
  auto* backdrop = reinterpret_cast<qvDisplay*>(*DisplayListHead());
  ASSERT_NE(backdrop, d);
  std::vector<const qvWindow*> opened;
  for (const qvWindowCallRecord& call : calls) {
    if (call.call == WindowCall::kOpen) opened.push_back(call.window);
  }
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[0], backdrop->window);
  EXPECT_EQ(opened[1], d->window);
  qvWindowPlacement bp{};
  ASSERT_TRUE(GetWindowPlacement(backdrop->window, &bp));
  EXPECT_FALSE(bp.activate);
  EXPECT_EQ(bp.width, kScreenWidth);
  EXPECT_EQ(bp.height, kScreenHeight);

  // Back in a window the applet's backfill keeps its backdrop.
  ASSERT_EQ(ChangeDisplayModeCore(nullptr, DisplayMode::kWindowed, 0, 0), 0);
  EXPECT_EQ(At(Screen(), 4, 1), BrushColour(1, 1));
  // The script's brush may go: the backdrop tiles its own copy.
  ASSERT_EQ(ReleaseBrushId(nullptr, {7, nullptr}, true), 0);
  EXPECT_EQ(At(Screen(), 4, 1), BrushColour(1, 1));
}

TEST_F(BackdropTest, APictureBackfillLiesOnItsColourOrGradientWhereItIsPlaced) {
  struct Case {
    int32_t start, end;
    bool gradient;        // top and bottom edges differ
    uint32_t leftColour;  // the fill at (0, 0)
  } const cases[] = {
      {-1, 0x0000FF, false, 0},         // start unset: black
      {-2, 0x0000FF, false, 0},         // likewise
      {0x00FF00, -1, false, 0x00FF00},  // end unset: the start colour alone
      {0xFF0000, 0x0000FF, true, 0xFF0000},
  };
  MakeDisplay();
  MakeBrush(3, 4, 3, true);
  settings_.backfill.type = kBackfillPicture;
  settings_.backfill.brushId = 3;
  settings_.backfill.pictureX = 10;
  settings_.backfill.pictureY = kPositionUnset;  // centred
  const int32_t top = (kScreenHeight - 3) / 2;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start);
    settings_.backfill.startColor = c.start;
    settings_.backfill.endColor = c.end;
    std::vector<uint32_t> screen = FullScreen();
    EXPECT_EQ(At(screen, 0, 0), c.leftColour);
    EXPECT_EQ(At(screen, 0, 0) != At(screen, 0, kScreenHeight - 1), c.gradient);
    // Unmasked pixels show the brush; the masked column shows the fill under it.
    EXPECT_EQ(At(screen, 11, top), BrushColour(1, 0));
    EXPECT_EQ(At(screen, 13, top + 2), BrushColour(3, 2));
    EXPECT_NE(At(screen, 10, top + 1), BrushColour(0, 1));
    if (!c.gradient) {
      EXPECT_EQ(At(screen, 10, top + 1), c.leftColour);
      EXPECT_EQ(At(screen, 14, top), c.leftColour);
    }
    ASSERT_EQ(ChangeDisplayModeCore(nullptr, DisplayMode::kWindowed, 0, 0), 0);
  }
}

TEST_F(BackdropTest, APictureOffTheScreenIsCutAndAScaledOneFillsIt) {
  MakeDisplay();
  MakeBrush(3, 4, 3, false);
  settings_.backfill.type = kBackfillPicture;
  settings_.backfill.brushId = 3;
  settings_.backfill.startColor = 0x102030;
  settings_.backfill.endColor = -1;
  settings_.backfill.pictureX = kScreenWidth - 2;
  settings_.backfill.pictureY = -1;
  std::vector<uint32_t> screen = FullScreen();
  EXPECT_EQ(At(screen, kScreenWidth - 2, 0), BrushColour(0, 1));
  EXPECT_EQ(At(screen, kScreenWidth - 1, 1), BrushColour(1, 2));
  EXPECT_EQ(At(screen, kScreenWidth - 3, 0), 0x102030u);
  EXPECT_EQ(At(screen, kScreenWidth - 1, 2), 0x102030u);
  ASSERT_EQ(ChangeDisplayModeCore(nullptr, DisplayMode::kWindowed, 0, 0), 0);

  // Scaled to the screen (and so centred at 0, 0), each brush pixel covers its share of it.
  settings_.backfill.scalePicture = 1;
  settings_.backfill.pictureX = settings_.backfill.pictureY = kPositionUnset;
  SetDisplayModeSettings(&settings_, false);
  ASSERT_EQ(ChangeDisplayModeCore(nullptr, DisplayMode::kFullScreen, 20, 10), 0);
  screen = Screen();
  EXPECT_EQ(At(screen, 0, 0), BrushColour(0, 0));
  EXPECT_EQ(At(screen, kScreenWidth - 1, kScreenHeight - 1), BrushColour(3, 2));
  EXPECT_EQ(At(screen, kScreenWidth / 4 + 1, kScreenHeight / 3 + 1), BrushColour(1, 1));
}

TEST_F(BackdropTest, ABackfillWhoseBrushIsMissingLeavesNoBackdropAndTheDisplayOpen) {
  qvDisplay* d = MakeDisplay();
  settings_.backfill.type = kBackfillTexture;
  settings_.backfill.brushId = 9;
  std::vector<uint32_t> screen = FullScreen(ERR_FINDBRUSH);
  EXPECT_EQ(d->state, kDisplayOpen);
  EXPECT_EQ(*DisplayListHead(), &d->header);
  EXPECT_EQ(At(screen, 0, 0), kDesktop);
  // No brush or BGPic of the attempt is left behind.
  EXPECT_EQ(*BrushListHead(), nullptr);
  EXPECT_EQ((*BGPicListHead())->next, nullptr);
}

}  // namespace
}  // namespace qv
