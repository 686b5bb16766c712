// Showing brushes and BGPic parts on an open headless display: the pixels that reach the window
// (opaque, colour-keyed, alpha by its formula), the rectangle's cuts and clips, the special
// positions, the error codes, a scaled display, double buffering, and a seeded random sequence
// after each step of which the window equals a full refresh of the display's picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "base/errors.h"
#include "core/errors.h"
#include "core/registry.h"
#include "display/display.h"
#include "display/draw.h"
#include "fixtures/display_setup.h"
#include "platform/window_services.h"

namespace qv {
namespace {

constexpr uint32_t kWhite = 0xFFFFFF;

class DisplayObjectTest : public ::testing::Test {
 protected:
  void SetUp() override { ConfigureHeadlessScreen(qvScreenSetup{}); }
  // A white display of width x height, open and current; scaled to scaleW x scaleH when given.
  void Open(int32_t width, int32_t height, int32_t scaleW = 0, int32_t scaleH = 0) {
    ASSERT_EQ(test::OpenDisplayForTest(), 0);
    opened = true;
    qvObjectId id{1, nullptr};
    test::TagList tags = {{"width", width}, {"height", height}, {"color", kWhite}};
    if (scaleW != 0) {
      tags.push_back({"scalemode", 1});  // SCALEMODE_AUTO
      tags.push_back({"scalewidth", scaleW});
      tags.push_back({"scaleheight", scaleH});
    }
    qvDisplayTags given = test::TagsOf(tags);
    ASSERT_EQ(CreateDisplayCore(L, &id, false, &given, &display), 0);
    ASSERT_EQ(OpenDisplayCore(L, display, true), 0);
    SetCurrentDisplay(display);
    SetOutputTarget(display->bgpic);
  }
  void TearDown() override {
    if (!opened) return;
    opened = false;
    RecordWindowCalls(false);
    test::CloseDisplayForTest();
  }
  qvBrush* Brush(int32_t number, int32_t width, int32_t height, uint32_t colour, bool mask = false,
                 bool alpha = false) {
    qvObjectId id{number, nullptr};
    qvBrush* brush = nullptr;
    EXPECT_EQ(AllocBrush(&id, false, width, height, colour, mask, alpha, false, false, &brush), 0);
    return brush;
  }
  int Show(int32_t kind, int32_t number, int32_t srcX, int32_t srcY, int32_t x, int32_t y,
           int32_t width = 0, int32_t height = 0, const qvTransformBlock* transform = nullptr,
           const qvLayerOptions* options = nullptr) {
    qvDisplayObjectRequest r;
    r.kind = kind;
    r.id = {number, nullptr};
    r.srcX = srcX;
    r.srcY = srcY;
    r.x = x;
    r.y = y;
    r.width = width;
    r.height = height;
    r.transform = transform;
    r.layerOptions = options;
    return DisplayObjectCore(L, r, nullptr, nullptr);
  }
  std::vector<uint32_t> Window(int32_t* width = nullptr, int32_t* height = nullptr) {
    std::vector<uint32_t> pixels;
    EXPECT_TRUE(ReadWindowPixels(display->window, &pixels, width, height));
    for (uint32_t& p : pixels) p &= 0xFFFFFF;
    return pixels;
  }
  uint32_t WindowPixel(int32_t x, int32_t y) {
    int32_t width = 0;
    std::vector<uint32_t> pixels = Window(&width);
    return pixels[static_cast<size_t>(y) * width + x];
  }
  static std::vector<qvWindowCallRecord> Blits() { return test::TakeBlits(); }
  // The window as a full refresh of the display's picture makes it.
  std::vector<uint32_t> FullRefresh() {
    qvBitMap* picture = display->doubleBuffer ? display->frontBuffer : display->displayBitmap;
    RefreshDisplayRect(picture, 0, 0, display, 0, 0, display->width, display->height,
                       kRefreshStretch);
    return Window();
  }
  qvScriptState* L = nullptr;
  bool opened = false;
  qvDisplay* display = nullptr;
};

// A scale size given as a percentage (negative) is taken of the display's size in 64 bits: the
// most negative one was negated in 32 bits, which overflowed (found by the preload fuzz target).
TEST_F(DisplayObjectTest, ScalePercentagesAreTakenInSixtyFourBits) {
  ASSERT_EQ(test::OpenDisplayForTest(), 0);
  opened = true;
  qvObjectId id{1, nullptr};
  qvDisplayTags given = test::TagsOf({{"width", 40},
                                      {"height", 30},
                                      {"scalemode", 1},
                                      {"scalewidth", INT32_MIN},
                                      {"scaleheight", -50}});
  ASSERT_EQ(CreateDisplayCore(L, &id, false, &given, &display), 0);
  EXPECT_EQ(display->scaleWidth, 858993459);  // 2^31 % of 40, truncated
  EXPECT_EQ(display->scaleHeight, 15);
}

TEST_F(DisplayObjectTest, OpaqueBrushReachesOnlyItsRectangle) {
  Open(32, 16);
  Brush(1, 4, 3, 0x102030);
  RecordWindowCalls(true);
  ASSERT_EQ(Show(kObjectBrush, 1, 0, 0, 5, 2), 0);
  std::vector<qvWindowCallRecord> blits = Blits();
  ASSERT_EQ(blits.size(), 1u);
  EXPECT_EQ(blits[0].x, 5);
  EXPECT_EQ(blits[0].y, 2);
  EXPECT_EQ(blits[0].width, 4);
  EXPECT_EQ(blits[0].height, 3);
  EXPECT_EQ(WindowPixel(5, 2), 0x102030u);
  EXPECT_EQ(WindowPixel(8, 4), 0x102030u);
  EXPECT_EQ(WindowPixel(9, 4), kWhite);
  EXPECT_EQ(WindowPixel(8, 5), kWhite);
  EXPECT_EQ(WindowPixel(4, 2), kWhite);
}

TEST_F(DisplayObjectTest, ColourKeyedBrushKeepsTheBackgroundWhereMasked) {
  Open(16, 8);
  qvBrush* brush = Brush(1, 3, 1, 0x00FF00, true);
  WriteBrushPixelAt(brush, 1, 0, 0xFF0000, 0);  // masked out
  ASSERT_EQ(Show(kObjectBrush, 1, 0, 0, 0, 0), 0);
  EXPECT_EQ(WindowPixel(0, 0), 0x00FF00u);
  EXPECT_EQ(WindowPixel(1, 0), kWhite);
  EXPECT_EQ(WindowPixel(2, 0), 0x00FF00u);
}

// Each channel becomes d + (((s - d) x a) >> 8), the shift arithmetic; 0 keeps, 255 copies.
TEST_F(DisplayObjectTest, AlphaBlendsByItsFormula) {
  Open(16, 4);
  const uint8_t alphas[] = {0, 1, 2, 127, 128, 129, 200, 254, 255};
  const uint32_t sources[] = {0x000000, 0xFF80FE, 0x7F0102};
  int32_t columns = int32_t(std::size(alphas));
  qvBrush* brush = Brush(1, columns, 3, 0, false, true);
  for (int32_t row = 0; row < 3; ++row) {
    for (int32_t i = 0; i < columns; ++i) WriteBrushPixelAt(brush, i, row, sources[row], alphas[i]);
  }
  // A background that is not white everywhere: the top row darkened first.
  qvBrush* under = Brush(2, columns, 1, 0x3C5A78);
  ASSERT_NE(under, nullptr);
  ASSERT_EQ(Show(kObjectBrush, 2, 0, 0, 0, 0), 0);
  ASSERT_EQ(Show(kObjectBrush, 1, 0, 0, 0, 0), 0);
  for (int32_t row = 0; row < 3; ++row) {
    uint32_t d = row == 0 ? 0x3C5A78 : kWhite;
    for (int32_t i = 0; i < columns; ++i) {
      uint32_t want = 0;
      for (int shift : {16, 8, 0}) {
        int32_t sc = int32_t((sources[row] >> shift) & 255), dc = int32_t((d >> shift) & 255);
        int32_t a = alphas[i];
        int32_t v = a == 0 ? dc : a == 255 ? sc : dc + (((sc - dc) * a) >> 8);
        want |= uint32_t(v) << shift;
      }
      EXPECT_EQ(WindowPixel(i, row), want) << "row " << row << " alpha " << int(alphas[i]);
    }
  }
}

// Parts are cut at the brush's edge, negative places clip the source, special positions resolve
// against the target with their displacements inside each band.
TEST_F(DisplayObjectTest, PartsClipsAndSpecialPositions) {
  Open(40, 20);
  qvBrush* brush = Brush(1, 6, 4, 0);
  for (int32_t y = 0; y < 4; ++y) {
    for (int32_t x = 0; x < 6; ++x) WriteBrushPixelAt(brush, x, y, uint32_t(y * 16 + x), -1);
  }
  struct Case {
    const char* what;
    int32_t kind, srcX, srcY, x, y, width, height;
    int32_t wantX, wantY, wantSrcX, wantSrcY, wantWidth, wantHeight;
  } cases[] = {
      {"part inside", kObjectBrushPart, 1, 1, 10, 10, 2, 2, 10, 10, 1, 1, 2, 2},
      {"part cut at the edge", kObjectBrushPart, 4, 2, 10, 10, 9, 9, 10, 10, 4, 2, 2, 2},
      {"negative place", kObjectBrush, 0, 0, -2, -3, 0, 0, 0, 0, 2, 3, 4, 1},
      {"right bottom edge", kObjectBrush, 0, 0, 37, 18, 0, 0, 37, 18, 0, 0, 3, 2},
      {"centre", kObjectBrush, 0, 0, -100000, -100000, 0, 0, 17, 8, 0, 0, 6, 4},
      {"centre +4999", kObjectBrush, 0, 0, -95001, -95001, 0, 0, 17 + 4999, 8 + 4999, 0, 0, 0, 0},
      {"between two bands", kObjectBrush, 0, 0, -95000, 0, 0, 0, 0, 0, 0, 0, 0, 0},
      {"centre -3", kObjectBrush, 0, 0, -100003, -100002, 0, 0, 14, 6, 0, 0, 6, 4},
      {"left +2, top +1", kObjectBrush, 0, 0, -89998, -69999, 0, 0, 2, 1, 0, 0, 6, 4},
      {"right -1, bottom -1", kObjectBrush, 0, 0, -80001, -60001, 0, 0, 33, 15, 0, 0, 6, 4},
      {"left out +1", kObjectBrush, 0, 0, -49999, 0, 0, 0, 0, 0, 5, 0, 1, 4},
      {"right out -2", kObjectBrush, 0, 0, -40002, 0, 0, 0, 38, 0, 0, 0, 2, 4},
      {"part at a special source corner", kObjectBrushPart, -80000, -60000, 0, 0, 2, 2, 0, 0, 4, 2,
       2, 2},
      // A part asked larger than the brush is placed as it is cut.
      {"centred part larger than the brush", kObjectBrushPart, 0, 0, -100000, -100000, 20, 10, 17,
       8, 0, 0, 6, 4},
      {"centred part cut at its corner", kObjectBrushPart, 2, 1, -100000, -100000, 9, 9, 18, 8, 2,
       1, 4, 3},
      {"part larger than the brush at the right bottom", kObjectBrushPart, 0, 0, -80000, -60000, 30,
       30, 34, 16, 0, 0, 6, 4},
  };
  for (const Case& c : cases) {
    TearDown();
    Open(40, 20);
    brush = Brush(1, 6, 4, 0);
    for (int32_t y = 0; y < 4; ++y) {
      for (int32_t x = 0; x < 6; ++x) WriteBrushPixelAt(brush, x, y, uint32_t(y * 16 + x), -1);
    }
    ASSERT_EQ(Show(c.kind, 1, c.srcX, c.srcY, c.x, c.y, c.width, c.height), 0) << c.what;
    int32_t width = 0, height = 0;
    std::vector<uint32_t> window = Window(&width, &height);
    for (int32_t y = 0; y < height; ++y) {
      for (int32_t x = 0; x < width; ++x) {
        bool inside = x >= c.wantX && x < c.wantX + c.wantWidth && y >= c.wantY &&
                      y < c.wantY + c.wantHeight;
        uint32_t want = inside
                            ? uint32_t((y - c.wantY + c.wantSrcY) * 16 + x - c.wantX + c.wantSrcX)
                            : kWhite;
        ASSERT_EQ(window[size_t(y) * width + x], want) << c.what << " at " << x << "," << y;
      }
    }
  }
}

// Quarter and half turns through the "rotate" option, nearest and smooth, and mirrors, against a
// plain model: every brush pixel lands once, at the place the turn puts it. Thin brushes show a
// lost edge row at once: a 5 x 1 brush that loses its only row draws nothing.
TEST_F(DisplayObjectTest, RightAngleTurnsAndMirrorsAreExact) {
  struct Size {
    int32_t w, h;
  } const sizes[] = {{5, 1}, {1, 5}, {7, 3}};
  struct Turn {
    const char* what;
    double rotate;               // degrees, through the display options
    std::vector<double> mirror;  // or a given matrix
  } const turns[] = {{"rotate 90", 90, {}},          {"rotate 180", 180, {}},
                     {"rotate 270", 270, {}},        {"rotate -90", -90, {}},
                     {"rotate -180", -180, {}},      {"rotate 450", 450, {}},
                     {"mirror x", 0, {-1, 0, 0, 1}}, {"mirror y", 0, {1, 0, 0, -1}}};
  for (const Size& size : sizes) {
    for (const Turn& turn : turns) {
      for (int32_t smooth : {0, 1}) {
        SCOPED_TRACE(std::string(turn.what) + " of " + std::to_string(size.w) + "x" +
                     std::to_string(size.h) + (smooth ? " smooth" : ""));
        TearDown();
        Open(20, 20);
        qvBrush* brush = Brush(1, size.w, size.h, 0);
        auto colour = [](int32_t x, int32_t y) { return uint32_t(0x100000 + y * 0x100 + x); };
        for (int32_t y = 0; y < size.h; ++y) {
          for (int32_t x = 0; x < size.w; ++x) WriteBrushPixelAt(brush, x, y, colour(x, y), -1);
        }
        qvTransformBlock t;
        InitTransformBlock(&t);
        if (turn.mirror.empty()) {
          BuildTransformMatrix(&t, 0, 0, size.w, size.h, 1, 1, turn.rotate);
        } else {
          std::copy(turn.mirror.begin(), turn.mirror.end(), t.matrix);
        }
        t.smoothScale = smooth;
        ASSERT_EQ(Show(kObjectBrush, 1, 0, 0, 4, 6, 0, 0, &t), 0);
        // The model in whole pixels: "rotate" 90 maps source (x, y) to (y, -x), 270 to (-y, x),
        // each moved into the box.
        const int32_t w = size.w, h = size.h;
        const int32_t quarter = turn.mirror.empty() ? int32_t(std::lround(turn.rotate / 90)) & 3
                                                    : 0;
        const bool sideways = quarter == 1 || quarter == 3;
        const int32_t outW = sideways ? h : w, outH = sideways ? w : h;
        auto model = [&](int32_t X, int32_t Y) {
          if (!turn.mirror.empty()) {
            return turn.mirror[0] < 0 ? colour(w - 1 - X, Y) : colour(X, h - 1 - Y);
          }
          switch (quarter) {
            case 1:
              return colour(w - 1 - Y, X);
            case 2:
              return colour(w - 1 - X, h - 1 - Y);
            case 3:
              return colour(Y, h - 1 - X);
            default:
              return colour(X, Y);
          }
        };
        int32_t width = 0, height = 0;
        std::vector<uint32_t> window = Window(&width, &height);
        for (int32_t y = 0; y < height; ++y) {
          for (int32_t x = 0; x < width; ++x) {
            const int32_t X = x - 4, Y = y - 6;
            const bool inside = X >= 0 && X < outW && Y >= 0 && Y < outH;
            ASSERT_EQ(window[size_t(y) * width + x], inside ? model(X, Y) : kWhite)
                << "at " << X << "," << Y;
          }
        }
      }
    }
  }
}

// The "width" and "height" options give the size asked for, whatever the rounding of the scale
// they make: an 11 x 13 brush asked for 15 x 30 draws 15 x 30, not 14 x 29.
TEST_F(DisplayObjectTest, AskedSizesAreDrawnExactly) {
  Open(8, 8);
  int wrong = 0;
  for (int32_t sw = 1; sw <= 24; ++sw) {
    for (int32_t sh : {1, 3, 7, 11, 13, 29}) {
      for (int32_t w = 1; w <= 64; ++w) {
        for (int32_t h : {1, 2, 5, 15, 30, 49, 64}) {
          qvTransformBlock t;
          InitTransformBlock(&t);
          BuildTransformMatrix(&t, w, h, sw, sh, 1, 1, 0);
          int32_t gotW = 0, gotH = 0;
          GetTransformedSize(t.matrix, sw, sh, &gotW, &gotH);
          if (gotW != w || gotH != h) {
            ++wrong;
            ADD_FAILURE() << sw << "x" << sh << " asked for " << w << "x" << h << " gives " << gotW
                          << "x" << gotH;
          }
          if (wrong > 10) return;
        }
      }
    }
  }
  // And on screen, the case first seen.
  TearDown();
  Open(40, 40);
  Brush(1, 11, 13, 0x123456);
  qvTransformBlock t;
  InitTransformBlock(&t);
  BuildTransformMatrix(&t, 15, 30, 11, 13, 1, 1, 0);
  ASSERT_EQ(Show(kObjectBrush, 1, 0, 0, 2, 3, 0, 0, &t), 0);
  int32_t width = 0, height = 0;
  std::vector<uint32_t> window = Window(&width, &height);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const bool inside = x >= 2 && x < 2 + 15 && y >= 3 && y < 3 + 30;
      ASSERT_EQ(window[size_t(y) * width + x], inside ? 0x123456u : kWhite) << x << "," << y;
    }
  }
}

TEST_F(DisplayObjectTest, ErrorCodes) {
  Open(16, 8);
  Brush(1, 4, 4, 0x123456);
  EXPECT_EQ(Show(kObjectBrushPart, 1, -1, 0, 0, 0, 2, 2), ERR_NEGCOORDS);
  EXPECT_EQ(Show(kObjectBrushPart, 1, 0, -1, 0, 0, 2, 2), ERR_NEGCOORDS);
  EXPECT_EQ(Show(kObjectBrushPart, 1, 4, 0, 0, 0, 2, 2), ERR_COORDSRANGE);
  EXPECT_EQ(Show(kObjectBrushPart, 1, 0, 4, 0, 0, 2, 2), ERR_COORDSRANGE);
  EXPECT_EQ(Show(kObjectBrushPart, 1, 0, 0, 0, 0, 0, 2), ERR_BADDIMENSIONS);
  EXPECT_EQ(Show(kObjectBrushPart, 1, 0, 0, 0, 0, 2, -1), ERR_BADDIMENSIONS);
  EXPECT_EQ(Show(kObjectBrush, 2, 0, 0, 0, 0), ERR_FINDBRUSH);
  EXPECT_EQ(Show(kObjectBGPicPart, 9, 0, 0, 0, 0, 2, 2), ERR_FINDBGPIC);
  // The options' refusal comes after the object's own errors: a missing brush and a width of 0
  // are reported first.
  qvDisplayObjectRequest r;
  r.kind = kObjectBrushPart;
  r.id = {1, nullptr};
  r.width = 0;
  r.height = 2;
  r.optionsError = ERR_TABEXPECTED;
  EXPECT_EQ(DisplayObjectCore(L, r, nullptr, nullptr), ERR_BADDIMENSIONS);
  r.id = {2, nullptr};
  r.width = 2;
  EXPECT_EQ(DisplayObjectCore(L, r, nullptr, nullptr), ERR_FINDBRUSH);
  r.id = {1, nullptr};
  EXPECT_EQ(DisplayObjectCore(L, r, nullptr, nullptr), ERR_TABEXPECTED);
  EXPECT_EQ(WindowPixel(0, 0), kWhite);
}

// A BGPic part without a place goes to its own place; with a place elsewhere.
TEST_F(DisplayObjectTest, BGPicPartsGoToTheirOwnPlace) {
  Open(16, 8);
  qvObjectId id{2, nullptr};
  ASSERT_EQ(CreateColorBGPic(&id, false, 16, 8, 0x0000FF, nullptr), 0);
  ASSERT_EQ(Show(kObjectBGPicPart, 2, 3, 2, -1, -1, 4, 2), 0);
  EXPECT_EQ(WindowPixel(3, 2), 0x0000FFu);
  EXPECT_EQ(WindowPixel(6, 3), 0x0000FFu);
  EXPECT_EQ(WindowPixel(7, 3), kWhite);
  EXPECT_EQ(WindowPixel(2, 2), kWhite);
  ASSERT_EQ(Show(kObjectBGPicPart, 2, 0, 0, 10, 6, 4, 4), 0);
  EXPECT_EQ(WindowPixel(13, 7), 0x0000FFu);
  EXPECT_EQ(WindowPixel(9, 7), kWhite);
  // A transition asks for the part's picture: the whole picture as it is, a part as a copy;
  // nothing is drawn either way.
  qvBGPic* bgpic = nullptr;
  ASSERT_EQ(FindBGPic(L, id, &bgpic, 0), 0);
  qvDisplayObjectRequest r;
  r.kind = kObjectBGPicPart;
  r.id = id;
  r.width = 16;
  r.height = 8;
  r.x = r.y = -1;
  qvBitMap* out = nullptr;
  bool allocated = true;
  RecordWindowCalls(true);
  ASSERT_EQ(DisplayObjectCore(L, r, &out, &allocated), 0);
  EXPECT_EQ(out, bgpic->scaled.bitmap);
  EXPECT_FALSE(allocated);
  r.srcX = 2;
  r.width = 3;
  r.height = 2;
  ASSERT_EQ(DisplayObjectCore(L, r, &out, &allocated), 0);
  ASSERT_TRUE(allocated);
  EXPECT_EQ(out->width, 3);
  EXPECT_EQ(ReadBitMapPixel(out, 2, 1) & 0xFFFFFF, 0x0000FFu);
  FreeBitMap(out);
  EXPECT_TRUE(Blits().empty());
}

// A display shown at 3 x 2 times its size: the window is the nearest stretch of its picture.
TEST_F(DisplayObjectTest, AutoScaledDisplayIsTheNearestStretch) {
  Open(10, 6, 30, 12);
  qvBrush* brush = Brush(1, 3, 2, 0);
  for (int32_t x = 0; x < 3; ++x) {
    WriteBrushPixelAt(brush, x, 0, 0x400000u * uint32_t(x + 1), -1);
    WriteBrushPixelAt(brush, x, 1, 0x000040u * uint32_t(x + 1), -1);
  }
  ASSERT_EQ(Show(kObjectBrush, 1, 0, 0, 4, 3), 0);
  int32_t width = 0, height = 0;
  std::vector<uint32_t> window = Window(&width, &height);
  ASSERT_EQ(width, 30);
  ASSERT_EQ(height, 12);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      uint32_t want = ReadBitMapPixel(display->displayBitmap, x * 10 / 30, y * 6 / 12) & 0xFFFFFF;
      ASSERT_EQ(window[size_t(y) * width + x], want) << x << "," << y;
    }
  }
  EXPECT_EQ(window[size_t(6) * width + 12], 0x400000u);
}

// While double buffering nothing reaches the window until Flip, which copies only the dirty
// rectangles.
TEST_F(DisplayObjectTest, DoubleBufferingShowsOnlyDirtyRectanglesAtFlip) {
  Open(32, 16);
  Brush(1, 2, 2, 0xFF0000);
  ASSERT_EQ(BeginDoubleBuffer(L, false), 0);
  ASSERT_EQ(FlipDisplay(L, false), 0);
  RecordWindowCalls(true);
  ASSERT_EQ(Show(kObjectBrush, 1, 0, 0, 3, 4), 0);
  ASSERT_EQ(Show(kObjectBrush, 1, 0, 0, 20, 10), 0);
  EXPECT_TRUE(Blits().empty());
  ASSERT_EQ(FlipDisplay(L, false), 0);
  std::vector<qvWindowCallRecord> blits = Blits();
  ASSERT_EQ(blits.size(), 2u);
  EXPECT_EQ(blits[0].x, 3);
  EXPECT_EQ(blits[0].y, 4);
  EXPECT_EQ(blits[0].width, 2);
  EXPECT_EQ(blits[1].x, 20);
  EXPECT_EQ(blits[1].height, 2);
  EXPECT_EQ(WindowPixel(4, 5), 0xFF0000u);
  EXPECT_EQ(WindowPixel(21, 11), 0xFF0000u);
}

// A seeded random sequence of brushes, parts, transforms, transparency and selections, of points,
// lines, boxes and ellipses in random styles and of Cls, under a clip region with and without a
// mask that comes and goes, on a plain and a scaled display: after each step the window equals a
// full refresh of the picture.
TEST_F(DisplayObjectTest, RefreshOracle) {
  for (bool scaled : {false, true}) {
    if (opened) TearDown();
    if (scaled) {
      Open(48, 30, 77, 41);
    } else {
      Open(48, 30);
    }
    std::mt19937 rng(scaled ? 1234 : 4321);
    auto pick = [&](int32_t lo, int32_t hi) {
      return std::uniform_int_distribution<int32_t>(lo, hi)(rng);
    };
    int32_t sizes[5][2] = {};
    for (int32_t n = 1; n <= 4; ++n) {
      qvBrush* b = Brush(n, pick(1, 20), pick(1, 14), 0, n == 2, n == 3);
      sizes[n][0] = b->width;
      sizes[n][1] = b->height;
      for (int32_t y = 0; y < b->height; ++y) {
        for (int32_t x = 0; x < b->width; ++x) {
          WriteBrushPixelAt(b, x, y, uint32_t(rng()) & 0xFFFFFF,
                            pick(0, 3) == 0 ? 0 : pick(1, 255));
        }
      }
    }
    // A region of 30 x 20 with a random mask, set and taken off by the sequence.
    qvPlane* regionMask = AllocMask(30, 20, true);
    ASSERT_NE(regionMask, nullptr);
    for (int32_t i = 0; i < regionMask->bytesPerRow * 20; ++i) {
      regionMask->data[i] = static_cast<uint8_t>(rng());
    }
    qvClipRegion region{};
    region.x = 5;
    region.y = 3;
    region.width = 30;
    region.height = 20;
    region.bytesPerRow = regionMask->bytesPerRow;
    bool selected = false;
    for (int step = 0; step < 400; ++step) {
      std::string what = "step " + std::to_string(step);
      int32_t number = pick(1, 4);
      int choice = pick(0, 15);
      if (choice >= 10 && !selected) {
        qvDrawStyle style;
        InitDrawStyle(&style);
        style.fillStyle = pick(0, 2);
        style.formStyle = pick(0, 2) == 0 ? kFormNormal : pick(0, 7) * kFormAntialias;
        if (style.formStyle == 0) style.formStyle = kFormNormal;
        style.shadowDistance = pick(1, 4);
        style.shadowDirection = pick(0, 7);
        style.edgeSize = pick(1, 3);
        style.lineWidth = pick(0, 3) == 0 ? pick(2, 5) : 1;
        uint32_t colour = (uint32_t(rng()) & 0xFFFFFF) |
                          (pick(0, 2) == 0 ? uint32_t(pick(1, 255)) << 24 : 0u);
        int code = 0;
        switch (choice) {
          case 10:
            code = PlotPixel(L, pick(-5, 55), pick(-5, 35), colour);
            break;
          case 11:
            code = DrawLinePrim(L, style, nullptr, pick(-20, 70), pick(-20, 50), pick(-20, 70),
                                pick(-20, 50), colour, pick(0, 3) == 0 ? pick(2, 6) : 1);
            break;
          case 12: {
            int32_t corners[4] = {0, 0, 0, 0};
            if (pick(0, 3) == 0) corners[pick(0, 3)] = pick(1, 100);
            code = DrawBoxShape(L, style, nullptr, pick(-10, 50), pick(-10, 30), pick(1, 30),
                                pick(1, 20), colour, corners);
            break;
          }
          case 13:
            code = DrawEllipseShape(L, style, nullptr, kShapeEllipse, pick(-10, 50), pick(-10, 30),
                                    pick(1, 12), pick(1, 12), colour);
            break;
          case 14:
            region.mask = pick(0, 1) == 0 ? regionMask : nullptr;
            display->bgpic->clipRegion = display->bgpic->clipRegion != nullptr ? nullptr : &region;
            break;
          default:
            if (pick(0, 3) == 0) code = ClearOutput(L, colour);
            break;
        }
        ASSERT_EQ(code, 0) << what;
      } else if (choice >= 10) {
        continue;
      } else if (choice == 9) {
        // Drawing into brush 4 (never onto the display), then back.
        if (!selected) {
          ASSERT_EQ(SelectOutputDevice(L, kObjectBrush, {4, nullptr}, kOutputPicture, 0, 0, 0), 0)
              << what;
          ASSERT_EQ(Show(kObjectBrush, 1, 0, 0, pick(-5, 10), pick(-5, 10)), 0) << what;
        } else {
          ASSERT_EQ(EndSelectOutput(L, display, false), 0) << what;
        }
        selected = !selected;
      } else if (selected) {
        continue;
      } else if (choice < 4) {
        ASSERT_EQ(Show(kObjectBrush, number, 0, 0, pick(-25, 60), pick(-20, 40)), 0) << what;
      } else if (choice < 6) {
        ASSERT_EQ(Show(kObjectBrushPart, number, pick(0, sizes[number][0] - 1),
                       pick(0, sizes[number][1] - 1), pick(-10, 50), pick(-10, 30), pick(1, 30),
                       pick(1, 30)),
                  0)
            << what;
      } else if (choice < 8) {
        qvTransformBlock t;
        InitTransformBlock(&t);
        BuildTransformMatrix(&t, 0, 0, 10, 10, pick(1, 4) / 2.0, pick(1, 4) / 2.0,
                             pick(0, 3) == 0 ? 0.0 : double(pick(-360, 360)));
        t.anchorX = pick(0, 2) / 2.0;
        t.anchorY = pick(0, 2) / 2.0;
        ASSERT_EQ(Show(kObjectBrush, number, 0, 0, pick(-10, 50), pick(-10, 30), 0, 0, &t), 0)
            << what;
      } else {
        qvLayerOptions o;
        InitLayerOptions(&o);
        o.transparency = pick(0, 255);
        ASSERT_EQ(Show(kObjectBrush, number, 0, 0, pick(-10, 50), pick(-10, 30), 0, 0, nullptr, &o),
                  0)
            << what;
      }
      std::vector<uint32_t> before = Window();
      ASSERT_EQ(before, FullRefresh()) << what << (scaled ? " (scaled)" : "");
    }
    display->bgpic->clipRegion = nullptr;
    FreeMaskOrAlpha(regionMask);
  }
}

}  // namespace
}  // namespace qv
