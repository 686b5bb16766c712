// Brushes as pictures of the desktop: a brush's picture through the clipboard and back into a new
// brush, what refuses to go either way, the tray icon, and the display's mark while a requester
// holds the script.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/errors.h"
#include "core/dib.h"
#include "core/errors.h"
#include "core/registry.h"
#include "display/display.h"
#include "fixtures/display_setup.h"
#include "platform/clipboard.h"
#include "platform/desktop.h"
#include "platform/window_services.h"

namespace qv {
namespace {

class BrushClipboardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ConfigureHeadlessScreen(qvScreenSetup{});
    ASSERT_EQ(test::OpenDisplayForTest(), 0);
    ASSERT_EQ(ClearClipboardData(), 0);
  }
  void TearDown() override {
    ClearClipboardData();
    RemoveTrayIcon();
    test::CloseDisplayForTest();
  }
  // Brush 1, 3 x 2, each pixel naming its place.
  qvBrush* MakeBrush() {
    qvObjectId id{1, nullptr};
    qvBrush* brush = nullptr;
    EXPECT_EQ(AllocBrush(&id, false, 3, 2, 0, false, false, false, false, &brush), 0);
    for (int32_t y = 0; y < 2; ++y) {
      for (int32_t x = 0; x < 3; ++x) WriteBitMapPixel(brush->bitmap, x, y, Pixel(x, y));
    }
    return brush;
  }
  static uint32_t Pixel(int32_t x, int32_t y) { return 0x102030u * (x + 1) + 0x0A0000u * y; }
  qvScriptState* L = nullptr;
};

TEST_F(BrushClipboardTest, APictureGoesOutAsABitmapAndComesBackAsANewBrush) {
  MakeBrush();
  ASSERT_EQ(CopyBrushToClipboard(L, {1, nullptr}), 0);
  EXPECT_EQ(ClipboardKind(), kClipboardPicture);
  std::vector<uint8_t> dib;
  ASSERT_EQ(ReadClipboardPicture(&dib), 0);
  ASSERT_EQ(dib.size(), kDibHeaderSize + 2 * 12);  // 9 bytes of pixels and 3 of padding a row
  EXPECT_EQ(dib[14], 24);
  // The bottom row comes first, blue, green, red.
  EXPECT_EQ(dib[kDibHeaderSize + 0], Pixel(0, 1) & 0xFF);
  EXPECT_EQ(dib[kDibHeaderSize + 2], Pixel(0, 1) >> 16 & 0xFF);

  // The brush copied may go: the clipboard holds its own picture.
  ASSERT_EQ(ReleaseBrushId(L, {1, nullptr}, true), 0);
  qvObjectId id{0, nullptr};
  qvBrush* pasted = nullptr;
  ASSERT_EQ(PasteClipboardBrush(&id, &pasted), 0);
  ASSERT_NE(pasted, nullptr);
  EXPECT_EQ(id.handle, pasted);
  EXPECT_EQ(pasted->width, 3);
  EXPECT_EQ(pasted->height, 2);
  EXPECT_EQ(pasted->mask, nullptr);
  EXPECT_EQ(pasted->alpha, nullptr);
  for (int32_t y = 0; y < 2; ++y) {
    for (int32_t x = 0; x < 3; ++x) {
      EXPECT_EQ(ReadBitMapPixel(pasted->bitmap, x, y) & 0xFFFFFF, Pixel(x, y)) << x << "," << y;
    }
  }
  qvBrush* found = nullptr;
  EXPECT_EQ(FindBrush(L, id, &found, 0), 0);
  EXPECT_EQ(found, pasted);
}

TEST_F(BrushClipboardTest, WhatCannotGoOutOrComeBack) {
  // A missing brush and a vector brush stay off the clipboard, which keeps its text.
  ASSERT_EQ(WriteClipboardText("kept"), 0);
  EXPECT_EQ(CopyBrushToClipboard(L, {7, nullptr}), ERR_FINDBRUSH);
  qvObjectId vectorId{2, nullptr};
  qvBrush* vector = nullptr;
  ASSERT_EQ(AllocBrush(&vectorId, false, 2, 2, 0, false, false, false, false, &vector), 0);
  vector->kind = 1;
  EXPECT_EQ(CopyBrushToClipboard(L, vectorId), ERR_BRUSHTYPE);
  EXPECT_EQ(ClipboardKind(), kClipboardText);

  // Text, nothing, or a picture that does not read give no brush.
  const uint32_t pixel = 0x00F81F;
  std::vector<uint8_t> deep16 = EncodeDib(&pixel, 1, 1, 1);
  deep16[14] = 16;
  std::vector<uint8_t> cut = EncodeDib(&pixel, 1, 1, 1);
  cut.resize(cut.size() - 1);
  for (int round = 0; round < 4; ++round) {
    if (round == 1) ClearClipboardData();
    if (round == 2) WriteClipboardPicture(deep16);
    if (round == 3) WriteClipboardPicture(cut);
    qvObjectId id{0, nullptr};
    EXPECT_EQ(PasteClipboardBrush(&id, nullptr), ERR_CLIPREAD) << round;
    EXPECT_EQ(id.handle, nullptr) << round;
    if (round >= 2) {
      EXPECT_EQ(ClipboardKind(), kClipboardOther) << round;
    }
  }
  int count = 0;
  for (qvObjectHeader* h = *BrushListHead(); h != nullptr; h = h->next) ++count;
  EXPECT_EQ(count, 1);  // the vector brush only
}

TEST_F(BrushClipboardTest, TheTrayIconKeepsACopyOfThePicture) {
  qvBrush* brush = MakeBrush();
  EXPECT_EQ(SetBrushTrayIcon(L, {3, nullptr}, "tip"), ERR_FINDBRUSH);
  EXPECT_FALSE(GetTrayIcon(nullptr, nullptr, nullptr));
  ASSERT_EQ(SetBrushTrayIcon(L, {1, nullptr}, "tip"), 0);
  WriteBitMapPixel(brush->bitmap, 0, 0, 0);
  ASSERT_EQ(ReleaseBrushId(L, {1, nullptr}, true), 0);
  int32_t width = 0, height = 0;
  std::string tooltip;
  ASSERT_TRUE(GetTrayIcon(&width, &height, &tooltip));
  EXPECT_EQ(width, 3);
  EXPECT_EQ(height, 2);
  EXPECT_EQ(tooltip, "tip");
  EXPECT_TRUE(RemoveTrayIcon());
  EXPECT_FALSE(RemoveTrayIcon());
}

// A requester over an open display marks it while it is up and redraws the window afterwards,
// whatever the requester drew over it.
TEST_F(BrushClipboardTest, ARequesterMarksTheDisplayAndRedrawsItWhenItCloses) {
  qvDisplay* display = test::OpenCurrentDisplay(L, {{"width", 8}, {"height", 4}, {"color", 255}});
  ASSERT_NE(display, nullptr);
  ASSERT_EQ(test::WindowPixel(display, 9), 255u);
  EXPECT_EQ(BeginDisplayRequester(), display);
  EXPECT_EQ(display->requesterOpen, 1);
  FillWindowRect(display->window, 0, 0, 8, 4, 0x123456);
  EndDisplayRequester(L, display);
  EXPECT_EQ(display->requesterOpen, 0);
  EXPECT_EQ(test::WindowPixel(display, 9), 255u);
}

}  // namespace
}  // namespace qv
