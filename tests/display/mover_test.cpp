// The mover on an open headless display: at every step the display's picture and its window hold
// the background with the object at the step's position and nothing where it stood before; the
// saved pictures follow the display to a new size; a moved sprite ends on its entry and every
// counter the move raised comes down again.
#include "display/mover.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "base/errors.h"
#include "core/registry.h"
#include "display/display.h"
#include "display/sprites.h"
#include "fixtures/display_setup.h"
#include "platform/window_services.h"

namespace qv {
namespace {

constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kRed = 0xFF0000;

class MoverTest : public ::testing::Test {
 protected:
  void SetUp() override { ConfigureHeadlessScreen(qvScreenSetup{}); }
  void Open(int32_t width, int32_t height) {
    ASSERT_EQ(test::OpenDisplayForTest(), 0);
    opened = true;
    qvObjectId id{1, nullptr};
    test::TagList tags = {{"width", width}, {"height", height}, {"color", kWhite}};
    qvDisplayTags given = test::TagsOf(tags);
    ASSERT_EQ(CreateDisplayCore(nullptr, &id, false, &given, &display), 0);
    ASSERT_EQ(OpenDisplayCore(nullptr, display, true), 0);
    SetCurrentDisplay(display);
    SetOutputTarget(display->bgpic);
  }
  void TearDown() override {
    if (opened) test::CloseDisplayForTest();
  }
  // The display's picture as it should be: white with a w x h red box at (x, y).
  ::testing::AssertionResult PictureShows(int32_t x, int32_t y, int32_t w, int32_t h) {
    const qvBitMap* picture = display->displayBitmap;
    std::vector<uint32_t> window;
    int32_t ww = 0, wh = 0;
    if (!ReadWindowPixels(display->window, &window, &ww, &wh) || ww != picture->width ||
        wh != picture->height) {
      return ::testing::AssertionFailure() << "window unread or of another size";
    }
    for (int32_t j = 0; j < picture->height; ++j) {
      for (int32_t i = 0; i < picture->width; ++i) {
        bool inside = i >= x && i < x + w && j >= y && j < y + h;
        uint32_t want = inside ? kRed : kWhite;
        uint32_t got = ReadBitMapPixel(picture, i, j) & 0xFFFFFF;
        uint32_t shown = window[static_cast<size_t>(j) * ww + i] & 0xFFFFFF;
        if (got != want || shown != want) {
          return ::testing::AssertionFailure() << "(" << i << ", " << j << ") picture " << std::hex
                                               << got << " window " << shown << " want " << want;
        }
      }
    }
    return ::testing::AssertionSuccess();
  }
  qvDisplay* display = nullptr;
  bool opened = false;
};

qvMoveRequest Request(int32_t kind, int32_t number, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                      int32_t speed) {
  qvMoveRequest r;
  r.kind = kind;
  r.id = {number, nullptr};
  r.x1 = x1;
  r.y1 = y1;
  r.x2 = x2;
  r.y2 = y2;
  r.speed = speed;
  return r;
}

TEST_F(MoverTest, EveryStepShowsTheBrushOnlyWhereItStandsOnPictureAndWindow) {
  Open(64, 32);
  qvObjectId id{1, nullptr};
  qvBrush* brush = nullptr;
  ASSERT_EQ(AllocBrush(&id, false, 8, 4, kRed, false, false, false, false, &brush), 0);
  qvMover* m = nullptr;
  ASSERT_EQ(BeginMoveContinuation(nullptr, Request(kObjectBrush, 1, 0, 0, 40, 12, 10), &m), 0);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(brush->locked, 1);
  const int32_t expected[][2] = {{10, 3}, {20, 6}, {30, 9}, {40, 12}};
  for (size_t i = 0; i < 4; ++i) {
    int32_t finished = 0;
    ASSERT_EQ(m->step(nullptr, m, &finished), 0);
    EXPECT_EQ(finished, i == 3 ? 1 : 0) << i;
    EXPECT_TRUE(PictureShows(expected[i][0], expected[i][1], 8, 4)) << "step " << i + 1;
  }
  m->free(nullptr, m);
  EXPECT_EQ(brush->locked, 0);
  EXPECT_TRUE(PictureShows(40, 12, 8, 4));
}

TEST_F(MoverTest, TheSavedPicturesFollowTheDisplayToANewSize) {
  // The move reaches beyond the display's first width: the pictures it saved are made again at
  // the new size, so the brush shows there.
  Open(40, 30);
  qvObjectId id{1, nullptr};
  qvBrush* brush = nullptr;
  ASSERT_EQ(AllocBrush(&id, false, 8, 4, kRed, false, false, false, false, &brush), 0);
  qvMover* m = nullptr;
  ASSERT_EQ(BeginMoveContinuation(nullptr, Request(kObjectBrush, 1, 0, 0, 60, 0, 10), &m), 0);
  int32_t finished = 0;
  ASSERT_EQ(m->step(nullptr, m, &finished), 0);
  EXPECT_TRUE(PictureShows(10, 0, 8, 4));
  ASSERT_EQ(
      ReopenDisplay(nullptr, display, kKeepPosition, kKeepPosition, 80, 30, true, false, false), 0);
  ASSERT_EQ(display->displayBitmap->width, 80);
  while (!finished) ASSERT_EQ(m->step(nullptr, m, &finished), 0);
  m->free(nullptr, m);
  EXPECT_TRUE(PictureShows(60, 0, 8, 4));
}

TEST_F(MoverTest, ASpriteEndsOnItsEntryAndEveryLockComesDown) {
  Open(64, 32);
  // The sprite takes over its arrays, which it frees with free().
  auto** bitmaps = static_cast<qvBitMap**>(std::calloc(2, sizeof(qvBitMap*)));
  auto** masks = static_cast<qvPlane**>(std::calloc(2, sizeof(qvPlane*)));
  auto** alphas = static_cast<qvPlane**>(std::calloc(2, sizeof(qvPlane*)));
  for (int i = 0; i < 2; ++i) {
    bitmaps[i] = AllocBitMap(4, 4);
    FillBitMapRect(bitmaps[i], 0, 0, 4, 4, kRed);
  }
  qvObjectId id{1, nullptr};
  qvSprite* sprite = nullptr;
  ASSERT_EQ(AddSprite(&id, false, 4, 4, nullptr, bitmaps, masks, alphas, 2, -1, nullptr, &sprite),
            0);
  qvMover* m = nullptr;
  ASSERT_EQ(BeginMoveContinuation(nullptr, Request(kObjectSprite, 1, 0, 0, 20, 8, 10), &m), 0);
  EXPECT_EQ(sprite->locked, 1);
  // Locked: nothing may change or free it while it moves.
  qvSprite* found = nullptr;
  EXPECT_EQ(FindSprite(nullptr, id, &found, kFindSpriteModify), ERR_LOCKEDOBJ);
  int32_t finished = 0;
  while (!finished) ASSERT_EQ(m->step(nullptr, m, &finished), 0);
  m->free(nullptr, m);
  EXPECT_EQ(sprite->locked, 0);
  qvSpriteEntry* entry = nullptr;
  ASSERT_EQ(FindSpriteEntry(id, &entry), 0);
  EXPECT_EQ(entry->x, 20);
  EXPECT_EQ(entry->y, 8);
}

TEST_F(MoverTest, SpeedsAndFrameDelays) {
  EXPECT_EQ(MoveSpeedPixels(-1), 10);
  EXPECT_EQ(MoveSpeedPixels(-2), 15);
  EXPECT_EQ(MoveSpeedPixels(-3), 5);
  EXPECT_EQ(MoveSpeedPixels(-4), -4);  // below 1: refused
  EXPECT_EQ(MoveFrameDelayMs(-1), 60);
  EXPECT_EQ(MoveFrameDelayMs(-2), 0);
  EXPECT_EQ(MoveFrameDelayMs(-3), 160);
  EXPECT_EQ(MoveFrameDelayMs(-4), 60);
  EXPECT_EQ(MoveFrameDelayMs(-9), 0);
  EXPECT_EQ(MoveFrameDelayMs(7), 140);
  EXPECT_EQ(MoveFrameDelayMs(INT32_MAX), INT32_MAX);
}

}  // namespace
}  // namespace qv
