// Double buffering on an open headless display: what Flip copies to the window, as the call log
// and the front buffer show it.
#include <gtest/gtest.h>

#include <vector>

#include "base/errors.h"
#include "core/errors.h"
#include "core/registry.h"
#include "display/display.h"
#include "fixtures/display_setup.h"
#include "platform/window_services.h"

namespace qv {
namespace {

class DoubleBufferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ConfigureHeadlessScreen(qvScreenSetup{});
    ASSERT_EQ(test::OpenDisplayForTest(), 0);
    qvObjectId id{1, nullptr};
    // A white 64 x 32 display, open and current.
    qvDisplayTags tags = test::TagsOf({{"width", 64}, {"height", 32}, {"color", 16777215}});
    ASSERT_EQ(CreateDisplayCore(L, &id, false, &tags, &display), 0);
    ASSERT_EQ(OpenDisplayCore(L, display, true), 0);
    SetCurrentDisplay(display);
    SetOutputTarget(display->bgpic);
    RecordWindowCalls(true);
  }
  void TearDown() override {
    RecordWindowCalls(false);
    test::CloseDisplayForTest();
  }
  // Paints a rectangle of the back buffer and marks it dirty, as a drawing command does.
  void Draw(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour) {
    FillBitMapRect(display->backBuffer, x, y, w, h, colour);
    AddDirtyRect(x, y, w, h);
  }
  static std::vector<qvWindowCallRecord> Blits() { return test::TakeBlits(); }
  uint32_t WindowPixel(int32_t x, int32_t y) {
    std::vector<uint32_t> pixels;
    int32_t width = 0;
    EXPECT_TRUE(ReadWindowPixels(display->window, &pixels, &width, nullptr));
    return pixels[static_cast<size_t>(y) * width + x];
  }
  qvScriptState* L = nullptr;
  qvDisplay* display = nullptr;
};

TEST_F(DoubleBufferTest, TheBackBufferStartsZeroedAndAnEmptyFlipLeavesTheWindow) {
  EXPECT_EQ(WindowPixel(10, 10), 0xFFFFFFu);
  ASSERT_EQ(BeginDoubleBuffer(L, false), 0);
  EXPECT_EQ(display->outputType, kOutputPicture);
  EXPECT_EQ(display->outBitmap, display->backBuffer);
  qvBitMap* snapshot = nullptr;
  bool owned = true;
  ASSERT_EQ(GrabSnapshot(L, kSnapDisplay, &snapshot, &owned), 0);
  EXPECT_FALSE(owned);
  EXPECT_EQ(ReadBitMapPixel(snapshot, 63, 31), 0u);
  TakeWindowCalls();
  ASSERT_EQ(FlipDisplay(L, true), 0);
  EXPECT_TRUE(Blits().empty());
  EXPECT_EQ(WindowPixel(10, 10), 0xFFFFFFu);
}

TEST_F(DoubleBufferTest, FlipCopiesTheMergedRectangles) {
  ASSERT_EQ(BeginDoubleBuffer(L, false), 0);
  Draw(2, 2, 4, 4, 0xFF0000);      // 2..5
  Draw(6, 3, 3, 2, 0x00FF00);      // touches the first: 6..8
  Draw(20, 10, 5, 5, 0x0000FF);    // apart
  Draw(60, 30, 10, 10, 0x123456);  // cut at the picture's edge
  TakeWindowCalls();
  ASSERT_EQ(FlipDisplay(L, false), 0);
  auto blits = Blits();
  ASSERT_EQ(blits.size(), 3u);
  EXPECT_EQ(std::vector<int32_t>({blits[0].x, blits[0].y, blits[0].width, blits[0].height}),
            std::vector<int32_t>({2, 2, 7, 4}));
  EXPECT_EQ(std::vector<int32_t>({blits[1].x, blits[1].y, blits[1].width, blits[1].height}),
            std::vector<int32_t>({20, 10, 5, 5}));
  EXPECT_EQ(std::vector<int32_t>({blits[2].x, blits[2].y, blits[2].width, blits[2].height}),
            std::vector<int32_t>({60, 30, 4, 2}));
  EXPECT_EQ(WindowPixel(2, 2), 0xFF0000u);
  EXPECT_EQ(WindowPixel(8, 4), 0x00FF00u);
  // Inside the merged rectangle but never drawn: the back buffer's zero shows.
  EXPECT_EQ(WindowPixel(8, 2), 0u);
  // Outside every rectangle the window keeps the display's picture.
  EXPECT_EQ(WindowPixel(15, 15), 0xFFFFFFu);
  EXPECT_EQ(display->dirty.count, 0);
  ASSERT_EQ(FlipDisplay(L, false), 0);
  EXPECT_TRUE(Blits().empty());
}

TEST_F(DoubleBufferTest, AnOverflowedListCopiesEverything) {
  ASSERT_EQ(BeginDoubleBuffer(L, false), 0);
  for (int i = 0; i < kDirtyListCapacity + 5; ++i) Draw(i % 60, i % 30, 1, 1, 0xABCDEF);
  EXPECT_EQ(display->dirty.count, display->dirty.capacity);
  TakeWindowCalls();
  ASSERT_EQ(FlipDisplay(L, false), 0);
  auto blits = Blits();
  ASSERT_EQ(blits.size(), 1u);
  EXPECT_EQ(std::vector<int32_t>({blits[0].x, blits[0].y, blits[0].width, blits[0].height}),
            std::vector<int32_t>({0, 0, 64, 32}));
  EXPECT_EQ(WindowPixel(63, 31), 0u);

  // A rectangle over the whole picture marks everything at once.
  Draw(0, 0, 64, 32, 0x111111);
  EXPECT_EQ(display->dirty.count, display->dirty.capacity);
  TakeWindowCalls();
  ASSERT_EQ(FlipDisplay(L, false), 0);
  EXPECT_EQ(Blits().size(), 1u);
  EXPECT_EQ(WindowPixel(63, 31), 0x111111u);
}

TEST_F(DoubleBufferTest, EndingCopiesTheBackBufferIntoThePicture) {
  ASSERT_EQ(BeginDoubleBuffer(L, false), 0);
  Draw(0, 0, 8, 8, 0x00FFFF);
  ASSERT_EQ(FreeDoubleBuffer(display), 0);
  EXPECT_EQ(display->outputType, kOutputDisplay);
  EXPECT_EQ(OutputTarget(), display->bgpic);
  EXPECT_EQ(ReadBitMapPixel(display->displayBitmap, 7, 7), 0x00FFFFu);
  EXPECT_EQ(ReadBitMapPixel(display->displayBitmap, 8, 8), 0u);
  EXPECT_EQ(FreeDoubleBuffer(display), ERR_NODOUBLEBUFFER);
  EXPECT_EQ(FlipDisplay(L, true), ERR_NODOUBLEBUFFER);
}

}  // namespace
}  // namespace qv
