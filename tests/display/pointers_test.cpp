// Pointer images without a script: the picture and hot spot a brush gives the platform, the
// standard pointers, a freed pointer that displays still show, and the pointer's position on a
// scaled display read back through the display's input.
#include "display/pointers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>

#include "base/errors.h"
#include "core/events.h"
#include "display/display.h"
#include "display/sprites.h"
#include "fixtures/display_setup.h"
#include "platform/os/window_native.h"
#include "platform/window_services.h"

namespace qv {
namespace {

class PointersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ConfigureHeadlessScreen(qvScreenSetup{});
    ASSERT_EQ(test::OpenDisplayForTest(), 0);
    display = test::OpenCurrentDisplay(L, {{"width", 64}, {"height", 48}});
    ASSERT_NE(display, nullptr);
  }
  void TearDown() override { test::CloseDisplayForTest(); }

  qvBrush* Brush(int32_t number, int32_t width, int32_t height, bool mask, bool alpha) {
    qvObjectId id{number, nullptr};
    qvBrush* brush = nullptr;
    EXPECT_EQ(AllocBrush(&id, false, width, height, 0x336699, mask, alpha, false, false, &brush),
              0);
    return brush;
  }
  qvPointer* FromBrush(int32_t number, int32_t brush, int32_t hotX = -1, int32_t hotY = -1) {
    qvPointerRequest request{};
    EXPECT_EQ(PointerPictureFromBrush(L, {brush, nullptr}, &request.picture), 0);
    request.hotX = hotX;
    request.hotY = hotY;
    qvObjectId id{number, nullptr};
    qvPointer* pointer = nullptr;
    EXPECT_EQ(CreatePointer(L, &id, false, request, &pointer), 0);
    return pointer;
  }
  static int Listed() {
    int n = 0;
    for (qvObjectHeader* h = *PointerListHead(); h != nullptr; h = h->next) ++n;
    return n;
  }
  qvScriptState* L = nullptr;
  qvDisplay* display = nullptr;
};

TEST_F(PointersTest, TheHotSpotIsTheMiddleByDefaultAndStaysInsideThePicture) {
  Brush(1, 32, 32, false, false);
  Brush(2, 5, 3, false, false);
  struct Row {
    int32_t brush, hotX, hotY;
    int32_t wantX, wantY;
  };
  const Row rows[] = {
      {1, -1, -1, 16, 16}, {1, 40, 40, 31, 31}, {1, 32, 31, 31, 31}, {1, 0, 7, 0, 7},
      {1, -5, 3, 16, 3},   {2, -1, -1, 2, 1},   {2, 9, 0, 4, 0},
  };
  for (const Row& row : rows) {
    qvPointer* pointer = FromBrush(1, row.brush, row.hotX, row.hotY);
    ASSERT_NE(pointer, nullptr);
    ASSERT_NE(pointer->image, nullptr);
    EXPECT_EQ(pointer->image->hotX, row.wantX) << row.hotX << "," << row.hotY;
    EXPECT_EQ(pointer->image->hotY, row.wantY) << row.hotX << "," << row.hotY;
    EXPECT_EQ(pointer->kind, kPointerCustom);
  }
  EXPECT_EQ(Listed(), 1) << "each new pointer 1 replaced the one before";
}

TEST_F(PointersTest, TheMaskClearsPixelsAndTheAlphaChannelKeepsItsShades) {
  qvBrush* masked = Brush(1, 3, 2, true, false);
  WriteBitMapPixel(masked->mask, 1, 0, 1);
  qvBrush* shaded = Brush(2, 3, 2, false, true);
  shaded->alpha->data[shaded->alpha->bytesPerRow + 2] = 0x80;
  qvPointer* a = FromBrush(1, 1);
  qvPointer* b = FromBrush(2, 2);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  const auto& pa = a->image->pixels;
  const auto& pb = b->image->pixels;
  EXPECT_EQ(pa[0], 0xFF336699u);
  EXPECT_EQ(pa[1] >> 24, 0u);
  EXPECT_EQ(pb[5], 0x80336699u);
  EXPECT_EQ(pb[4], 0xFF336699u);
  EXPECT_EQ(a->width, 3);
  EXPECT_EQ(a->height, 2);
}

// Frames count from 1, across the sprites a linked sprite shows.
TEST_F(PointersTest, ASpriteGivesTheFrameAskedFor) {
  constexpr uint32_t kColours[] = {0x110000, 0x220000, 0x330000};
  qvSprite* sources[2] = {};
  for (int32_t s = 0; s < 2; ++s) {
    int32_t n = s == 0 ? 2 : 1;
    auto** bitmaps = static_cast<qvBitMap**>(std::calloc(n, sizeof(qvBitMap*)));
    auto** masks = static_cast<qvPlane**>(std::calloc(n, sizeof(qvPlane*)));
    auto** alphas = static_cast<qvPlane**>(std::calloc(n, sizeof(qvPlane*)));
    for (int32_t i = 0; i < n; ++i) {
      bitmaps[i] = AllocBitMap(4, 2);
      FillBitMapRect(bitmaps[i], 0, 0, 4, 2, kColours[s * 2 + i]);
    }
    qvObjectId id{s + 1, nullptr};
    ASSERT_EQ(
        AddSprite(&id, false, 4, 2, nullptr, bitmaps, masks, alphas, n, -1, nullptr, &sources[s]),
        0);
  }
  auto** links = static_cast<qvSprite**>(std::calloc(3, sizeof(qvSprite*)));
  links[0] = sources[0];
  links[1] = sources[1];
  qvObjectId linkedId{3, nullptr};
  ASSERT_EQ(
      AddSprite(&linkedId, false, 4, 2, nullptr, nullptr, nullptr, nullptr, 3, -1, links, nullptr),
      0);
  struct Row {
    int32_t sprite, frame;
    int code;
    uint32_t colour;
  };
  const Row rows[] = {
      {1, 1, 0, 0x110000},      {1, 2, 0, 0x220000},      {3, 3, 0, 0x330000},
      {1, 3, ERR_ANIMFRAME, 0}, {1, 0, ERR_ANIMFRAME, 0}, {9, 1, ERR_FINDSPRITE, 0},
  };
  for (const Row& row : rows) {
    qvPointerPicture picture{};
    ASSERT_EQ(PointerPictureFromSprite(L, {row.sprite, nullptr}, row.frame, &picture), row.code)
        << row.sprite << " frame " << row.frame;
    if (row.code != 0) continue;
    qvPointerRequest request{};
    request.picture = picture;
    qvObjectId id{1, nullptr};
    qvPointer* pointer = nullptr;
    ASSERT_EQ(CreatePointer(L, &id, false, request, &pointer), 0);
    EXPECT_EQ(pointer->image->pixels[0], 0xFF000000u | row.colour) << row.frame;
    EXPECT_EQ(pointer->image->hotX, 2);
  }
}

TEST_F(PointersTest, StandardPointersAreSystemOrBusyOnly) {
  for (int32_t kind : {kPointerSystem, kPointerBusy}) {
    qvPointerRequest request{};
    request.standardPointer = true;
    request.standard = kind;
    qvObjectId id{0, nullptr};
    qvPointer* pointer = nullptr;
    ASSERT_EQ(CreatePointer(L, &id, true, request, &pointer), 0);
    EXPECT_EQ(id.handle, pointer);
    EXPECT_EQ(pointer->image, nullptr);
    EXPECT_EQ(pointer->kind, kind);
    EXPECT_EQ(pointer->width, GetScreenAttr(ScreenAttr::kPointerWidth));
  }
  qvPointerRequest custom{};
  custom.standardPointer = true;
  custom.standard = kPointerCustom;
  qvObjectId id{3, nullptr};
  EXPECT_EQ(CreatePointer(L, &id, false, custom, nullptr), ERR_WRONGUSAGE);
  EXPECT_EQ(Listed(), 2);

  qvPointer* busy = reinterpret_cast<qvPointer*>((*PointerListHead())->next);
  ASSERT_EQ(SetPointer(L, {0, busy}), 0);
  EXPECT_EQ(GetWindowPointer(display->window, nullptr), PointerShape::kBusy);
  ShowPointer(false);
  EXPECT_EQ(GetWindowPointer(display->window, nullptr), PointerShape::kHidden);
  EXPECT_EQ(display->pointerHidden, 1);
  ShowPointer(true);
  EXPECT_EQ(GetWindowPointer(display->window, nullptr), PointerShape::kBusy);
}

// A pointer the script frees while two displays show it stays until neither does: the first
// display's next SetPointer must not free the picture that the second still shows.
TEST_F(PointersTest, AFreedPointerStaysWhileAnyDisplayShowsIt) {
  Brush(1, 8, 8, false, false);
  qvPointer* shared = FromBrush(1, 1);
  qvPointer* other = FromBrush(2, 1);
  ASSERT_EQ(SetPointer(L, {1, nullptr}), 0);
  qvObjectId secondId{2, nullptr};
  qvDisplayTags tags = test::TagsOf({{"width", 16}, {"height", 16}});
  qvDisplay* second = nullptr;
  ASSERT_EQ(CreateDisplayCore(L, &secondId, false, &tags, &second), 0);
  SetCurrentDisplay(second);
  SetOutputTarget(second->bgpic);
  ASSERT_EQ(SetPointer(L, {1, nullptr}), 0);

  ASSERT_EQ(FreePointer(L, {1, nullptr}), 0);
  qvPointer* found = nullptr;
  EXPECT_EQ(FindPointer({1, nullptr}, &found, 0), ERR_FINDPOINTER);
  EXPECT_EQ(shared->detached, 1);
  EXPECT_EQ(Listed(), 2);

  SetCurrentDisplay(display);
  SetOutputTarget(display->bgpic);
  ASSERT_EQ(SetPointer(L, {2, nullptr}), 0);
  EXPECT_EQ(Listed(), 2) << "display 2 still shows the freed pointer";
  qvPointerImage* shown = nullptr;
  EXPECT_EQ(GetWindowPointer(second->window, &shown), PointerShape::kImage);
  EXPECT_EQ(shown, shared->image);

  // Display 2 freed: nothing shows the detached pointer any more.
  EXPECT_EQ(FreeDisplayCore(L, secondId, true), 0);
  EXPECT_EQ(Listed(), 1);
  EXPECT_EQ(*PointerListHead(), &other->header);
  EXPECT_EQ(FreePointer(L, {2, nullptr}), 0) << "shown by display 1: detached";
  EXPECT_EQ(Listed(), 1);
}

TEST_F(PointersTest, APointerOnAScaledDisplayReadsInTheDisplaysCoordinates) {
  qvDisplayTags tags = test::TagsOf({{"scalemode", 1}, {"scalewidth", 128}, {"scaleheight", 144}});
  ASSERT_EQ(ApplyDisplayAttributes(L, display, tags), 0);
  ASSERT_DOUBLE_EQ(display->scaleX, 2.0);
  ASSERT_DOUBLE_EQ(display->scaleY, 3.0);
  OpenInputDisplay();
  SelectDisplayInput(display->window);
  qvDisplayInput* input = FindDisplayInput(display->window);
  ASSERT_NE(input, nullptr);
  input->pointerX = 101;
  input->pointerY = 62;
  EXPECT_EQ(GetPointerX(), 50);
  EXPECT_EQ(GetPointerY(), 20);
  CloseInputDisplay(nullptr);
}

}  // namespace
}  // namespace qv
