// The headless window backend under the displays: copies and stretches into front buffers, the
// desktop picture with the windows on it, and the BMP files of snapshots.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "base/errors.h"
#include "display/display.h"
#include "fixtures/temp_path.h"
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

// A new window's buffer is left untouched by a black picture; after any write to it a black
// picture covers that write again.
TEST_F(WindowTest, ABlackCopyOverwritesWhateverWasWrittenBefore) {
  const std::vector<uint32_t> black(12, 0xFF000000u), colour(12, 0x123456);
  const std::vector<std::pair<const char*, std::function<void()>>> writes = {
      {"copy", [&] { BlitToWindow(colour.data(), 4, 0, 0, window, 0, 0, 4, 3, 0, 0); }},
      {"stretch", [&] { BlitToWindow(colour.data(), 4, 0, 0, window, 0, 0, 2, 2, 4, 3); }},
      {"fill", [&] { FillWindowRect(window, 1, 1, 2, 1, 0xABCDEF); }},
      {"plot", [&] { PlotWindowPixel(window, 3, 2, 0xABCDEF); }},
      {"line", [&] { DrawWindowLine(window, 0, 2, 3, 0, 0xABCDEF); }},
  };
  for (const auto& [what, write] : writes) {
    Open(0, 0, 4, 3);
    BlitToWindow(black.data(), 4, 0, 0, window, 0, 0, 4, 3, 0, 0);
    EXPECT_EQ(Front(), std::vector<uint32_t>(12, 0)) << what;
    write();
    EXPECT_NE(Front(), std::vector<uint32_t>(12, 0)) << what;
    BlitToWindow(black.data(), 4, 0, 0, window, 0, 0, 4, 3, 0, 0);
    EXPECT_EQ(Front(), std::vector<uint32_t>(12, 0)) << what;
    CloseDisplayWindow(window);
  }
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
  EXPECT_EQ(GetScreenAttr(ScreenAttr::kWidth), 40);
  EXPECT_EQ(GetScreenAttr(ScreenAttr::kHeight), 30);
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
  EXPECT_EQ(GetScreenAttr(ScreenAttr::kWorkArea, rect), 0);
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
  std::string path = qvtest::TempPath("bmp_test.bmp");
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

// A shape as rows of '#' (solid) and '.' (hole).
std::vector<uint8_t> Solid(const std::vector<std::string>& rows) {
  std::vector<uint8_t> solid;
  for (const std::string& row : rows) {
    for (char c : row) solid.push_back(c == '#' ? 1 : 0);
  }
  return solid;
}

TEST_F(WindowTest, ShapesComeFromTheMaskAndTheAlphaChannel) {
  // 4 x 2 planes: mask bits 1011 / 0110 (rows of 2 bytes), alpha 0 1 128 255 / 255 0 7 0.
  const uint8_t maskRows[] = {0xB0, 0xFF, 0x60, 0x00};
  const uint8_t alphaRows[] = {0, 1, 128, 255, 255, 0, 7, 0};
  const qvShapePlane mask{maskRows, 4, 2, 2}, alpha{alphaRows, 4, 2, 4};
  // A 2 x 1 mask (10) read at the nearest pixel of a 4 x 2 window.
  const uint8_t smallRows[] = {0x80};
  const qvShapePlane small{smallRows, 2, 1, 1};
  struct Case {
    const char* name;
    qvWindowShapeSource source;
    std::vector<std::string> want;  // empty: no shape
  } cases[] = {
      {"mask", {mask, {}}, {"#.##", ".##."}},
      {"alpha: only 0 is a hole", {{}, alpha}, {".###", "#.#."}},
      {"both: solid in each", {mask, alpha}, {"..##", "..#."}},
      {"a plane of another size", {small, {}}, {"##..", "##.."}},
      {"no plane", {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    qvWindowPlacement p{0, 0, 4, 2, 1, "t", true, false};
    ASSERT_EQ(OpenDisplayWindow(window, p, &c.source), 0);
    std::vector<uint8_t> solid;
    int32_t w = 0, h = 0;
    qvWindowPlacement placed{};
    ASSERT_TRUE(GetWindowPlacement(window, &placed));
    EXPECT_EQ(placed.shaped, !c.want.empty());
    if (c.want.empty()) {
      EXPECT_FALSE(GetWindowShape(window, &solid, &w, &h));
      continue;
    }
    ASSERT_TRUE(GetWindowShape(window, &solid, &w, &h));
    EXPECT_EQ(w, 4);
    EXPECT_EQ(h, 2);
    EXPECT_EQ(solid, Solid(c.want));
  }
  // Reopened without a shape the window is whole again; a closed window has none.
  qvWindowShapeSource source{mask, {}};
  ASSERT_EQ(OpenDisplayWindow(window, {0, 0, 4, 2, 1, "t", true, false}, &source), 0);
  ASSERT_EQ(OpenDisplayWindow(window, {0, 0, 4, 2, 1, "t", true, false}), 0);
  EXPECT_FALSE(GetWindowShape(window, nullptr, nullptr, nullptr));
  ASSERT_EQ(OpenDisplayWindow(window, {0, 0, 4, 2, 1, "t", true, false}, &source), 0);
  CloseDisplayWindow(window);
  EXPECT_FALSE(GetWindowShape(window, nullptr, nullptr, nullptr));
}

TEST_F(WindowTest, SizeZonesAreClassifiedByTheBorderBandsTheyTouch) {
  // A 100 x 80 window: bands of 10 pixels along each edge, corner squares first.
  struct Case {
    qvWindowZone zone;
    int32_t want;
  } cases[] = {
      {{0, 0, 5, 5}, 0},     {{0, 75, 5, 5}, 1},    {{95, 0, 5, 5}, 2},   {{90, 70, 10, 10}, 3},
      {{0, 30, 10, 10}, 4},  {{90, 30, 10, 10}, 5}, {{40, 0, 10, 10}, 6}, {{40, 70, 10, 10}, 7},
      {{40, 30, 10, 10}, 8}, {{10, 10, 80, 60}, 8},  // inside the bands, touching none
      {{9, 9, 1, 1}, 0},                             // one pixel of the top-left square
      {{0, 0, 100, 80}, 0},                          // the whole window: the first square wins
      {{50, 0, 50, 80}, 2},   // the right half touches the top-right square first
      {{0, 40, 100, 40}, 1},  // the lower half: bottom-left before bottom-right
      {{5, 20, 10, 40}, 4},  {{0, 0, 0, 10}, 8},  // an empty zone touches nothing
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HitTestSizeEdge(c.zone, 100, 80), c.want)
        << c.zone.x << "," << c.zone.y << " " << c.zone.width << "x" << c.zone.height;
  }
}

TEST_F(WindowTest, PressesHitDragAreasBeforeSizeZonesOnBorderlessWindowsOnly) {
  const qvWindowZone drag[] = {{0, 0, 100, 15}, {40, 40, 5, 5}};
  const qvWindowZone size[] = {{90, 70, 10, 10}, {30, 30, 40, 20}, {0, 0, 20, 20}};
  CopyDragZones(window, drag, 2, size, 3);
  struct Case {
    uint32_t flags;  // 1 borderless, 2 sizeable, 4 fixed
    int32_t x, y;
    WindowHit want;
  } cases[] = {
      {3, 50, 5, WindowHit::kDrag},
      {3, 42, 42, WindowHit::kDrag},  // the second drag area, inside a size zone
      {3, 95, 75, WindowHit::kSizeBottomRight},
      {3, 35, 35, WindowHit::kNormal},      // a size zone on no border band does nothing
      {3, 5, 17, WindowHit::kSizeTopLeft},  // a size zone below the drag strip
      {3, 5, 5, WindowHit::kDrag},          // the drag strip over that size zone
      {3, 100, 5, WindowHit::kNormal},      // right of the strip: x + width is outside
      {3, 50, 50, WindowHit::kNormal},
      {7, 50, 5, WindowHit::kNormal},  // fixed: no dragging
      {7, 95, 75, WindowHit::kSizeBottomRight},
      {1, 95, 75, WindowHit::kNormal},  // not sizeable: no size zones
      {1, 50, 5, WindowHit::kDrag},
      {2, 50, 5, WindowHit::kNormal},  // a framed window has the window manager's frame
      {0, 95, 75, WindowHit::kNormal},
  };
  for (const Case& c : cases) {
    qvWindowPlacement p{0, 0, 100, 80, c.flags, "t", true, false};
    ASSERT_EQ(OpenDisplayWindow(window, p), 0);
    EXPECT_EQ(HitTestWindow(window, c.x, c.y), c.want)
        << "flags " << c.flags << " at " << c.x << "," << c.y;
  }
  // The zones outlive a close; a closed window is hit nowhere.
  CloseDisplayWindow(window);
  EXPECT_EQ(HitTestWindow(window, 50, 5), WindowHit::kNormal);
  ASSERT_EQ(OpenDisplayWindow(window, {0, 0, 100, 80, 1, "t", true, false}), 0);
  EXPECT_EQ(HitTestWindow(window, 50, 5), WindowHit::kDrag);
  CopyDragZones(window, nullptr, 0, nullptr, 0);
  EXPECT_EQ(HitTestWindow(window, 50, 5), WindowHit::kNormal);
}

}  // namespace
}  // namespace qv
