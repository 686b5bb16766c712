// The draw primitives without a script: a clip region with a mask limits every primitive, the
// direct roads of boxes and one-pixel lines included; a line's cut end is truncated along its
// slope; the transparency mix rounds toward minus infinity; the style's clamps and the degree
// tables.
#include "display/draw.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "base/errors.h"
#include "display/display.h"
#include "fixtures/display_setup.h"
#include "platform/window_services.h"

namespace qv {
namespace {

constexpr uint32_t kGround = 0x102030;
constexpr uint32_t kInk = 0xFF8000;

class DrawTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ConfigureHeadlessScreen(qvScreenSetup{});
    ASSERT_EQ(test::OpenDisplayForTest(), 0);
    ASSERT_EQ(OpenDrawStyle(), 0);
    display = test::OpenCurrentDisplay(nullptr, {{"width", 16}, {"height", 8}, {"color", kGround}});
    ASSERT_NE(display, nullptr);
    InitDrawStyle(&style);
  }
  void TearDown() override {
    if (display != nullptr && display->bgpic != nullptr) display->bgpic->clipRegion = nullptr;
    FreeMaskOrAlpha(mask);
    FreeDrawStyle();
    test::CloseDisplayForTest();
  }
  // A region over the whole display whose mask lets only the even columns through.
  void SetStripedRegion(qvBGPic* target) {
    mask = AllocMask(16, 8, true);
    ASSERT_NE(mask, nullptr);
    for (int32_t i = 0; i < mask->bytesPerRow * 8; ++i) mask->data[i] = 0xAA;
    region = {};
    region.width = 16;
    region.height = 8;
    region.mask = mask;
    region.bytesPerRow = mask->bytesPerRow;
    target->clipRegion = &region;
  }
  std::vector<uint32_t> Window() {
    std::vector<uint32_t> pixels;
    EXPECT_TRUE(ReadWindowPixels(display->window, &pixels, nullptr, nullptr));
    for (uint32_t& p : pixels) p &= 0xFFFFFF;
    return pixels;
  }
  // Every pixel of the bitmap that differs from the ground lies on an even column.
  void ExpectOnlyEvenColumns(const qvBitMap* bitmap, const std::string& what) {
    int drawn = 0;
    for (int32_t y = 0; y < bitmap->height; ++y) {
      for (int32_t x = 0; x < bitmap->width; ++x) {
        uint32_t pixel = ReadBitMapPixel(bitmap, x, y) & 0xFFFFFF;
        if (pixel == kGround) continue;
        ++drawn;
        EXPECT_EQ(x % 2, 0) << what << " drew (" << x << ", " << y << ")";
      }
    }
    EXPECT_GT(drawn, 0) << what << " drew nothing";
  }

  qvDisplay* display = nullptr;
  qvDrawStyle style{};
  qvPlane* mask = nullptr;
  qvClipRegion region{};
};

// Boxes and one-pixel lines have direct roads that clip to the rectangle only; with a masked
// region they must keep off the clear bits as every other primitive does, on the display (and
// its window) and on a brush alike.
TEST_F(DrawTest, AMaskedClipRegionLimitsEveryPrimitive) {
  struct Case {
    const char* name;
    int32_t fill;
    int (*draw)(const qvDrawStyle& style);
  };
  const Case cases[] = {
      {"filled box", kFillColour,
       [](const qvDrawStyle& s) {
         return DrawBoxShape(nullptr, s, nullptr, 1, 1, 12, 5, kInk, nullptr);
       }},
      {"framed box", kFillNone,
       [](const qvDrawStyle& s) {
         return DrawBoxShape(nullptr, s, nullptr, 0, 0, 15, 7, kInk, nullptr);
       }},
      {"transparent box", kFillColour,
       [](const qvDrawStyle& s) {
         return DrawBoxShape(nullptr, s, nullptr, 2, 2, 9, 4, 0x80000000 | kInk, nullptr);
       }},
      {"horizontal line", kFillNone,
       [](const qvDrawStyle& s) {
         return DrawLinePrim(nullptr, s, nullptr, -3, 4, 30, 4, kInk, 1);
       }},
      {"diagonal line", kFillNone,
       [](const qvDrawStyle& s) { return DrawLinePrim(nullptr, s, nullptr, 0, 0, 7, 7, kInk, 1); }},
      {"thick line", kFillNone,
       [](const qvDrawStyle& s) {
         return DrawLinePrim(nullptr, s, nullptr, 1, 3, 14, 3, kInk, 3);
       }},
      {"ellipse", kFillColour,
       [](const qvDrawStyle& s) {
         return DrawEllipseShape(nullptr, s, nullptr, kShapeEllipse, 1, 0, 6, 3, kInk);
       }},
  };
  qvObjectId brushId{1, nullptr};
  qvBrush* brush = nullptr;
  ASSERT_EQ(AllocBrush(&brushId, false, 16, 8, kGround, false, false, false, false, &brush), 0);
  for (const Case& c : cases) {
    style.fillStyle = c.fill;
    // The display: its picture and the window.
    FillBitMapRect(display->displayBitmap, 0, 0, 16, 8, kGround);
    RedrawDisplay(nullptr, display, 0);
    SetStripedRegion(display->bgpic);
    ASSERT_EQ(c.draw(style), 0) << c.name;
    ExpectOnlyEvenColumns(display->displayBitmap, std::string(c.name) + " on the display");
    std::vector<uint32_t> window = Window();
    for (size_t i = 0; i < window.size(); ++i) {
      if (window[i] != kGround) {
        EXPECT_EQ(i % 16 % 2, 0u) << c.name << " in the window at " << i;
      }
    }
    display->bgpic->clipRegion = nullptr;
    FreeMaskOrAlpha(mask);
    mask = nullptr;
    // A brush as output.
    FillBitMapRect(brush->bitmap, 0, 0, 16, 8, kGround);
    ASSERT_EQ(SelectOutputDevice(nullptr, kObjectBrush, brushId, kOutputPicture, 0, 0, 0), 0);
    SetStripedRegion(OutputTarget());
    ASSERT_EQ(c.draw(style), 0) << c.name;
    ExpectOnlyEvenColumns(brush->bitmap, std::string(c.name) + " on a brush");
    OutputTarget()->clipRegion = nullptr;
    FreeMaskOrAlpha(mask);
    mask = nullptr;
    ASSERT_EQ(EndSelectOutput(nullptr, display, false), 0);
  }
}

TEST_F(DrawTest, PlotAndReadPixelHonourTheMask) {
  SetStripedRegion(display->bgpic);
  EXPECT_EQ(PlotPixel(nullptr, 3, 2, kInk), 0);
  EXPECT_EQ(PlotPixel(nullptr, 4, 2, kInk), 0);
  uint32_t value = 0;
  EXPECT_EQ(ReadPixelValue(nullptr, 3, 2, &value), ERR_PIXELRANGE);
  ASSERT_EQ(ReadPixelValue(nullptr, 4, 2, &value), 0);
  EXPECT_EQ(value, kInk);
  EXPECT_EQ(ReadBitMapPixel(display->displayBitmap, 3, 2) & 0xFFFFFF, kGround);
}

// A line cut at the clip rectangle continues from where it crosses the edge, the crossing's
// other coordinate truncated: (-5, 0) .. (15, 10) crosses x = 0 at y = 2.5 and is drawn from
// (0, 2); it leaves through the bottom row at x = 9.
TEST_F(DrawTest, ACutLineStartsAtTheTruncatedCrossing) {
  FillBitMapRect(display->displayBitmap, 0, 0, 16, 8, kGround);
  ASSERT_EQ(DrawLinePrim(nullptr, style, nullptr, -5, 0, 15, 10, kInk, 1), 0);
  EXPECT_EQ(ReadBitMapPixel(display->displayBitmap, 0, 2) & 0xFFFFFF, kInk);
  EXPECT_EQ(ReadBitMapPixel(display->displayBitmap, 0, 3) & 0xFFFFFF, kGround);
  EXPECT_EQ(ReadBitMapPixel(display->displayBitmap, 9, 7) & 0xFFFFFF, kInk);
  for (int32_t x = 10; x < 16; ++x) {
    EXPECT_EQ(ReadBitMapPixel(display->displayBitmap, x, 7) & 0xFFFFFF, kGround) << x;
  }
  EXPECT_EQ(Window()[2 * 16 + 0], kInk);
}

// A frame whose right or bottom side lies past the coordinate range draws its other sides; the
// far ones lie off every canvas (they were computed in 32 bits and overflowed).
TEST_F(DrawTest, AFrameReachingPastTheCoordinateRangeDrawsItsNearSides) {
  style.fillStyle = kFillNone;
  FillBitMapRect(display->displayBitmap, 0, 0, 16, 8, kGround);
  ASSERT_EQ(DrawBoxShape(nullptr, style, nullptr, 3, 2, INT32_MAX, INT32_MAX, kInk, nullptr), 0);
  for (int32_t x = 0; x < 16; ++x) {
    EXPECT_EQ(ReadBitMapPixel(display->displayBitmap, x, 2) & 0xFFFFFF, x < 3 ? kGround : kInk)
        << x;
  }
  for (int32_t y = 0; y < 8; ++y) {
    EXPECT_EQ(ReadBitMapPixel(display->displayBitmap, 3, y) & 0xFFFFFF, y < 2 ? kGround : kInk)
        << y;
  }
  EXPECT_EQ(ReadBitMapPixel(display->displayBitmap, 15, 7) & 0xFFFFFF, kGround);
}

TEST(DrawStyleTest, MixRoundsTowardMinusInfinity) {
  // 255 + (-255 x 127 >> 8): -32385 >> 8 is -127 (a truncating division would give -126).
  EXPECT_EQ(MixTransparent(0xFFFFFF, 0x000000, 0x80), 0x808080u);
  EXPECT_EQ(MixTransparent(0x000000, 0xFFFFFF, 0x80), 0x7E7E7Eu);
  EXPECT_EQ(MixTransparent(0x123456, 0xABCDEF, 255), 0x123456u);
}

TEST(DrawStyleTest, ValidateClampsEachField) {
  struct Row {
    int32_t lineWidth, edgeSize, distance, direction, fill;
    int32_t wantLineWidth, wantEdge, wantDistance, wantDirection, wantFill;
  };
  const Row rows[] = {
      {0, 0, 0, -1, -1, 1, 1, 1, kShadowSouthEast, kFillNone},
      {-5, 65, 1000, 8, 4, 1, 64, 64, kShadowSouthEast, kFillNone},
      {7, 64, 64, 7, 3, 7, 64, 64, kShadowNorthWest, kFillTexture},
      {1, 1, 1, 0, 0, 1, 1, 1, kShadowNorth, kFillNone},
      {INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MAX, 1, 64, kShadowSouthEast,
       kFillNone},
  };
  for (const Row& r : rows) {
    qvDrawStyle s;
    InitDrawStyle(&s);
    s.lineWidth = r.lineWidth;
    s.edgeSize = r.edgeSize;
    s.shadowDistance = r.distance;
    s.shadowDirection = r.direction;
    s.fillStyle = r.fill;
    ValidateFormStyle(&s);
    EXPECT_EQ(s.lineWidth, r.wantLineWidth);
    EXPECT_EQ(s.edgeSize, r.wantEdge);
    EXPECT_EQ(s.shadowDistance, r.wantDistance);
    EXPECT_EQ(s.shadowDirection, r.wantDirection);
    EXPECT_EQ(s.fillStyle, r.wantFill);
  }
}

// Entry i holds the function of 360 - i degrees.
TEST(DrawStyleTest, DegreeTablesHoldThreeSixtyMinusI) {
  ASSERT_EQ(OpenDrawStyle(), 0);
  const double* sine = DegreeSineTable();
  const double* cosine = DegreeCosineTable();
  ASSERT_NE(sine, nullptr);
  EXPECT_NEAR(sine[0], 0.0, 1e-12);
  EXPECT_NEAR(sine[90], -1.0, 1e-12);
  EXPECT_NEAR(sine[270], 1.0, 1e-12);
  EXPECT_NEAR(cosine[180], -1.0, 1e-12);
  EXPECT_NEAR(sine[30], std::sin(330 * 3.141592653589793 / 180), 1e-12);
  EXPECT_NEAR(cosine[360], 1.0, 1e-12);
  FreeDrawStyle();
  EXPECT_EQ(DegreeSineTable(), nullptr);
}

}  // namespace
}  // namespace qv
