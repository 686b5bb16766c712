// The headless window backend under the displays: copies and stretches into front buffers, the
// desktop picture with the windows on it, and the BMP files of snapshots.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/errors.h"
#include "display/display.h"
#include "platform/window_services.h"

namespace qv {
namespace {

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ConfigureHeadlessScreen(qvScreenSetup{});
    RecordWindowCalls(true);
    window = AttachPlatformDisplay();
    ASSERT_NE(window, nullptr);
  }
  void TearDown() override {
    DetachPlatformDisplay(window);
    RecordWindowCalls(false);
  }
  void Open(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags = 0) {
    qvWindowPlacement p{x, y, width, height, flags, "t", true, false};
    ASSERT_EQ(OpenDisplayWindow(window, p), 0);
  }
  std::vector<uint32_t> Front() {
    std::vector<uint32_t> pixels;
    EXPECT_TRUE(ReadWindowPixels(window, &pixels, nullptr, nullptr));
    return pixels;
  }
  qvWindow* window = nullptr;
};

TEST_F(WindowTest, StretchTakesTheTruncatedSourcePixel) {
  Open(0, 0, 7, 5);
  // A 3 x 2 source whose pixels name their coordinates, inside a wider bitmap.
  const int32_t stride = 8;
  std::vector<uint32_t> src(stride * 3, 0xEEEEEE);
  for (int32_t y = 0; y < 2; ++y) {
    for (int32_t x = 0; x < 3; ++x) src[(y + 1) * stride + x + 2] = 0xFF000000u | (y << 8) | x;
  }
  TakeWindowCalls();
  BlitToWindow(src.data(), stride, 2, 1, window, 0, 0, 3, 2, 7, 5);
  std::vector<uint32_t> front = Front();
  for (int32_t y = 0; y < 5; ++y) {
    for (int32_t x = 0; x < 7; ++x) {
      uint32_t want = static_cast<uint32_t>((y * 2 / 5) << 8 | (x * 3 / 7));
      EXPECT_EQ(front[y * 7 + x], want) << x << "," << y;  // the alpha byte is dropped
    }
  }
  auto calls = TakeWindowCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].call, WindowCall::kStretch);
  EXPECT_EQ(calls[0].width, 7);
  EXPECT_EQ(calls[0].height, 5);
}

TEST_F(WindowTest, CopiesAndFillsAreClippedToTheClientArea) {
  Open(0, 0, 4, 3);
  std::vector<uint32_t> src(16, 0x123456);
  BlitToWindow(src.data(), 4, 0, 0, window, -2, 2, 4, 4, 0, 0);
  FillWindowRect(window, 3, -1, 5, 2, 0xABCDEF);
  std::vector<uint32_t> front = Front();
  const std::vector<uint32_t> want = {0,        0,        0, 0xABCDEF,  //
                                      0,        0,        0, 0,         //
                                      0x123456, 0x123456, 0, 0};
  EXPECT_EQ(front, want);
  DrawWindowLine(window, 0, 0, 3, 2, 0x010101);
  front = Front();
  EXPECT_EQ(front[0], 0x010101u);
  EXPECT_EQ(front[2 * 4 + 3], 0x010101u);
}

TEST_F(WindowTest, TheDesktopShowsOpenWindowsInsideTheirFrames) {
  qvScreenSetup setup;
  setup.width = 40;
  setup.height = 30;
  setup.borderLeft = 2;
  setup.borderTop = 5;
  setup.borderRight = 3;
  setup.borderBottom = 1;
  setup.desktopColour = 0x00AA00;
  ConfigureHeadlessScreen(setup);
  EXPECT_EQ(GetScreenAttr(14), 40);
  EXPECT_EQ(GetScreenAttr(15), 30);
  qvWindowFrame frame = ComputeWindowBorders(0);
  EXPECT_EQ(frame.totalWidth, 5);
  EXPECT_EQ(frame.totalHeight, 6);
  EXPECT_EQ(ComputeWindowBorders(1).totalWidth, 0);
  Open(10, 10, 3, 2);
  FillWindowRect(window, 0, 0, 3, 2, 0x0000FF);
  std::vector<uint32_t> grab(40 * 30);
  GrabScreen(0, 0, 40, 30, grab.data(), 40);
  EXPECT_EQ(grab[0], 0x00AA00u);
  EXPECT_EQ(grab[15 * 40 + 12], 0x0000FFu);  // client origin: 10 + 2, 10 + 5
  EXPECT_EQ(grab[16 * 40 + 14], 0x0000FFu);
  EXPECT_EQ(grab[15 * 40 + 11], 0x00AA00u);
  EXPECT_EQ(grab[17 * 40 + 12], 0x00AA00u);
  CloseDisplayWindow(window);
  GrabScreen(0, 0, 40, 30, grab.data(), 40);
  EXPECT_EQ(grab[15 * 40 + 12], 0x00AA00u);
}

TEST_F(WindowTest, WindowsFitTheWorkArea) {
  qvScreenSetup setup;
  setup.width = 800;
  setup.height = 600;
  setup.workX = 0;
  setup.workY = 40;
  setup.workWidth = 800;
  setup.workHeight = 560;
  ConfigureHeadlessScreen(setup);
  EXPECT_TRUE(WindowFits(0, 0, 800, 560, false));
  EXPECT_FALSE(WindowFits(0, 0, 800, 561, false));
  EXPECT_TRUE(WindowFits(0, 0, 800, 600, true));
  int32_t rect[4];
  EXPECT_EQ(GetScreenAttr(23, rect), 0);
  EXPECT_EQ(rect[1], 40);
  EXPECT_EQ(rect[3], 560);
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

TEST(BmpTest, RowsArePaddedByWidthModFourAndStoredBottomUp) {
  std::string path = ::testing::TempDir() + "/bmp_test.bmp";
  struct Case {
    int32_t width, height;
    size_t rowBytes;
  };
  for (Case c : {Case{1, 1, 4}, Case{3, 2, 12}, Case{2, 3, 8}, Case{5, 1, 16}, Case{4, 2, 12}}) {
    qvBitMap* bitmap = AllocBitMap(c.width, c.height);
    ASSERT_NE(bitmap, nullptr);
    for (int32_t y = 0; y < c.height; ++y) {
      for (int32_t x = 0; x < c.width; ++x) {
        WriteBitMapPixel(bitmap, x, y, static_cast<uint32_t>(0x100000 * (y + 1) + 0x100 * x + 7));
      }
    }
    ASSERT_EQ(SaveBitMapAsBmp(bitmap, c.width, c.height, path.c_str()), 0);
    FreeBitMap(bitmap);
    std::vector<uint8_t> b = ReadAll(path);
    ASSERT_EQ(b.size(), c.rowBytes * c.height + 54) << c.width;
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(U32(b, 2), b.size());
    EXPECT_EQ(U32(b, 10), 54u);
    EXPECT_EQ(U32(b, 14), 40u);
    EXPECT_EQ(U32(b, 18), static_cast<uint32_t>(c.width));
    EXPECT_EQ(U32(b, 22), static_cast<uint32_t>(c.height));
    EXPECT_EQ(b[26] | b[27] << 8, 1);
    EXPECT_EQ(b[28] | b[29] << 8, 24);
    // The first row in the file is the bottom one; pixels as blue, green, red.
    for (int32_t fileRow = 0; fileRow < c.height; ++fileRow) {
      int32_t y = c.height - 1 - fileRow;
      for (int32_t x = 0; x < c.width; ++x) {
        size_t at = 54 + fileRow * c.rowBytes + x * 3;
        EXPECT_EQ(b[at], 7);
        EXPECT_EQ(b[at + 1], x);
        EXPECT_EQ(b[at + 2], 0x10 * (y + 1));
      }
    }
  }
  std::remove(path.c_str());
  qvBitMap* one = AllocBitMap(1, 1);
  EXPECT_EQ(SaveBitMapAsBmp(one, 1, 1, "/nonexistent-dir/x.bmp"), ERR_WRITEFILE);
  FreeBitMap(one);
}

}  // namespace
}  // namespace qv
