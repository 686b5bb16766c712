// The blit road into the output target on a headless display: clipping, SafeBlt's roads and
// flags with the clip mask, the sprites, the output's own planes and the refresh, the refresh of
// a transition's area and the frames that video threads queue.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "base/errors.h"
#include "core/errors.h"
#include "core/layer_system.h"
#include "core/registry.h"
#include "display/display.h"
#include "fixtures/display_setup.h"
#include "platform/window_services.h"

namespace qv {
namespace {

constexpr uint32_t kWhite = 0xFFFFFF;

// Pixel (x, y) of the source pictures: unique per position.
uint32_t SourceColour(int32_t x, int32_t y) { return 0x100000u * x + 0x1000u * y + 0x42u; }

class BlitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ConfigureHeadlessScreen(qvScreenSetup{});
    ASSERT_EQ(test::OpenDisplayForTest(), 0);
    source = AllocBitMap(16, 16);
    for (int32_t y = 0; y < 16; ++y) {
      for (int32_t x = 0; x < 16; ++x) WriteBitMapPixel(source, x, y, SourceColour(x, y));
    }
  }
  void TearDown() override {
    RegisterLayerSystem(nullptr);
    RecordWindowCalls(false);
    FreeBitMap(source);
    FreeMaskOrAlpha(mask);
    FreeMaskOrAlpha(alpha);
    test::CloseDisplayForTest();
  }
  // A white display of 32 x 24 (with more tags), open and current.
  void OpenDisplay(std::vector<std::pair<const char*, double>> tags = {}) {
    tags.insert(tags.begin(), {{"width", 32}, {"height", 24}, {"color", kWhite}});
    qvDisplayTags given = test::TagsOf(tags);
    qvObjectId id{1, nullptr};
    ASSERT_EQ(CreateDisplayCore(L, &id, false, &given, &display), 0);
    ASSERT_EQ(OpenDisplayCore(L, display, true), 0);
    SetCurrentDisplay(display);
    SetOutputTarget(display->bgpic);
    RecordWindowCalls(true);
  }
  // A mask over the source, set where keep(x, y).
  template <typename Keep>
  qvPlane* MakeMask(Keep keep) {
    qvPlane* plane = AllocMask(16, 16, true);
    for (int32_t y = 0; y < 16; ++y) {
      for (int32_t x = 0; x < 16; ++x) {
        if (keep(x, y)) plane->data[y * plane->bytesPerRow + x / 8] |= uint8_t(0x80 >> (x % 8));
      }
    }
    return plane;
  }
  qvPlane* MakeAlpha(uint8_t value) {
    qvPlane* plane = AllocAlphaChannel(16, 16, true);
    for (int32_t y = 0; y < 16; ++y) std::memset(plane->data + y * plane->bytesPerRow, value, 16);
    return plane;
  }
  // SafeBlt of the source's rectangle onto the display's target size.
  int Blt(int32_t sx, int32_t sy, qvBitMap* dst, int32_t dx, int32_t dy, int32_t w, int32_t h,
          int32_t flags, const qvClipRegion* clip = nullptr) {
    return SafeBlt(L, source, sx, sy, dst, dx, dy, w, h, 16, 16, OutputTarget()->width,
                   OutputTarget()->height, flags, mask, alpha, clip);
  }
  uint32_t Picture(int32_t x, int32_t y) { return ReadBitMapPixel(display->displayBitmap, x, y); }
  uint32_t Window(int32_t x, int32_t y) {
    std::vector<uint32_t> pixels;
    int32_t width = 0;
    EXPECT_TRUE(ReadWindowPixels(display->window, &pixels, &width, nullptr));
    return pixels[static_cast<size_t>(y) * width + x];
  }
  size_t WindowBlits() {
    size_t n = 0;
    for (const auto& c : TakeWindowCalls()) {
      n += c.call == WindowCall::kBlit || c.call == WindowCall::kStretch;
    }
    return n;
  }

  qvScriptState* L = nullptr;
  qvDisplay* display = nullptr;
  qvBitMap* source = nullptr;
  qvPlane* mask = nullptr;
  qvPlane* alpha = nullptr;
};

TEST(ClipBltRectTest, Cases) {
  struct Rect {
    int32_t sx, sy, dx, dy, w, h;
  };
  struct Case {
    const char* what;
    bool withClip;
    bool useClip;
    Rect in;
    bool drawn;
    Rect out;
  };
  const Case cases[] = {
      {"a negative x moves the source right",
       false,
       false,
       {0, 0, -10, 0, 20, 5},
       true,
       {10, 0, 0, 0, 6, 5}},
      {"a negative y likewise", false, false, {2, 0, 3, -4, 8, 8}, true, {2, 4, 3, 0, 8, 4}},
      {"cut at the destination's far edges",
       false,
       false,
       {0, 0, 28, 20, 16, 16},
       true,
       {0, 0, 28, 20, 4, 4}},
      {"cut to what the source holds",
       false,
       false,
       {12, 10, 0, 0, 16, 16},
       true,
       {12, 10, 0, 0, 4, 6}},
      {"the region's near and far edges",
       true,
       true,
       {0, 0, 0, 0, 16, 16},
       true,
       {5, 6, 5, 6, 10, 8}},
      {"the region unused", true, false, {0, 0, 0, 0, 16, 16}, true, {0, 0, 0, 0, 16, 16}},
      {"wholly right of the region", true, true, {0, 0, 15, 0, 4, 4}, false, {}},
      {"wholly beyond the destination", false, false, {0, 0, 32, 0, 4, 4}, false, {}},
      {"a far corner that would wrap",
       false,
       false,
       {0, 0, 2147483000, 0, 2147483647, 5},
       false,
       {}},
      {"a near corner that would wrap",
       false,
       false,
       {0, 0, -2147483647 - 1, 0, 2147483647, 1},
       false,
       {}},
  };
  qvClipRegion region{};
  region.x = 5;
  region.y = 6;
  region.width = 10;
  region.height = 8;
  for (const Case& c : cases) {
    Rect r = c.in;
    bool drawn = ClipBltRect(c.withClip ? &region : nullptr, &r.sx, &r.sy, &r.dx, &r.dy, &r.w, &r.h,
                             16, 16, 32, 24, c.useClip);
    EXPECT_EQ(drawn, c.drawn) << c.what;
    if (!c.drawn || !drawn) continue;
    EXPECT_EQ(std::vector<int32_t>({r.sx, r.sy, r.dx, r.dy, r.w, r.h}),
              std::vector<int32_t>({c.out.sx, c.out.sy, c.out.dx, c.out.dy, c.out.w, c.out.h}))
        << c.what;
  }
}

TEST_F(BlitTest, IntoTheDisplayBitmapReachesTheWindow) {
  OpenDisplay();
  // The destination at x -10 takes the source from x 10.
  ASSERT_EQ(Blt(0, 0, display->displayBitmap, -10, 2, 16, 4, 0), 0);
  EXPECT_EQ(Picture(0, 2), SourceColour(10, 0));
  EXPECT_EQ(Picture(5, 5), SourceColour(15, 3));
  EXPECT_EQ(Picture(6, 2), kWhite);
  EXPECT_EQ(Window(5, 5), SourceColour(15, 3));
  EXPECT_EQ(Window(6, 2), kWhite);

  // The same through flag 64 without a destination; flag 32 keeps it from the window.
  ASSERT_EQ(Blt(0, 0, nullptr, 20, 10, 2, 2, kBltToDisplayBitmap | kBltNoRefresh), 0);
  EXPECT_EQ(Picture(21, 11), SourceColour(1, 1));
  EXPECT_EQ(Window(21, 11), kWhite);
  EXPECT_EQ(WindowBlits(), 1u);
}

TEST_F(BlitTest, WithoutDestinationOnlyTheWindowShowsTheSource) {
  OpenDisplay();
  ASSERT_EQ(Blt(2, 3, nullptr, 4, 4, 3, 3, 0), 0);
  EXPECT_EQ(Window(4, 4), SourceColour(2, 3));
  EXPECT_EQ(Window(6, 6), SourceColour(4, 5));
  EXPECT_EQ(Picture(4, 4), kWhite);
  // A negative source corner draws nothing.
  TakeWindowCalls();
  ASSERT_EQ(Blt(-1, 0, nullptr, 0, 0, 3, 3, 0), 0);
  EXPECT_EQ(WindowBlits(), 0u);
}

TEST_F(BlitTest, MaskAndAlphaOfTheSource) {
  OpenDisplay();
  mask = MakeMask([](int32_t x, int32_t) { return x % 2 == 0; });
  ASSERT_EQ(Blt(0, 0, display->displayBitmap, 0, 0, 4, 1, 0), 0);
  EXPECT_EQ(Picture(0, 0), SourceColour(0, 0));
  EXPECT_EQ(Picture(1, 0), kWhite);
  EXPECT_EQ(Window(2, 0), SourceColour(2, 0));
  FreeMaskOrAlpha(mask);
  mask = nullptr;

  // Each channel d + (((s - d) x a) >> 8), the shift rounding toward minus infinity.
  FillBitMapRect(source, 0, 0, 16, 16, 0x000000);
  alpha = MakeAlpha(128);
  alpha->data[1] = 0;
  alpha->data[2] = 255;
  ASSERT_EQ(Blt(0, 0, display->displayBitmap, 0, 4, 3, 1, 0), 0);
  EXPECT_EQ(Picture(0, 4), 0x7F7F7Fu);
  EXPECT_EQ(Picture(1, 4), kWhite);
  EXPECT_EQ(Picture(2, 4), 0u);
  EXPECT_EQ(Window(0, 4), 0x7F7F7Fu);
}

TEST_F(BlitTest, TheClipRegionsMaskCutsEveryKindOfSource) {
  OpenDisplay();
  // The region x 4..11, y 0..7, open on its own even columns.
  qvClipRegion region{};
  region.x = 4;
  region.width = region.height = 8;
  qvPlane* regionMask = AllocMask(8, 8, true);
  for (int32_t y = 0; y < 8; ++y) regionMask->data[y * regionMask->bytesPerRow] = 0xAA;
  region.mask = regionMask;
  auto row = [&](int32_t y) {
    std::vector<bool> drawn;
    for (int32_t x = 0; x < 14; ++x) drawn.push_back(Picture(x, y) != kWhite);
    return drawn;
  };
  const std::vector<bool> evenInside = {false, false, false, false, true,  false, true,
                                        false, true,  false, true,  false, false, false};
  ASSERT_EQ(Blt(0, 0, display->displayBitmap, 0, 0, 14, 1, 0, &region), 0);
  EXPECT_EQ(row(0), evenInside);
  EXPECT_EQ(Picture(6, 0), SourceColour(6, 0));

  // A source mask: both must be set (source column 5 closes region column 6).
  mask = MakeMask([](int32_t x, int32_t) { return x != 5; });
  ASSERT_EQ(Blt(0, 1, display->displayBitmap, 1, 1, 14, 1, 0, &region), 0);
  std::vector<bool> want = evenInside;
  want[6] = false;
  EXPECT_EQ(row(1), want);
  EXPECT_EQ(Picture(8, 1), SourceColour(7, 1));
  FreeMaskOrAlpha(mask);
  mask = nullptr;

  // A source alpha: the region's clear bits give alpha 0.
  alpha = MakeAlpha(255);
  ASSERT_EQ(Blt(0, 2, display->displayBitmap, 0, 2, 14, 1, 0, &region), 0);
  EXPECT_EQ(row(2), evenInside);

  // Flag 1 ignores the region and its mask.
  ASSERT_EQ(Blt(0, 3, display->displayBitmap, 0, 3, 14, 1, kBltNoClip, &region), 0);
  EXPECT_EQ(row(3), std::vector<bool>(14, true));

  // Wholly outside the region: nothing drawn, nothing refreshed.
  TakeWindowCalls();
  ASSERT_EQ(Blt(0, 0, display->displayBitmap, 20, 4, 4, 4, 0, &region), 0);
  EXPECT_EQ(WindowBlits(), 0u);
  EXPECT_EQ(Picture(20, 4), kWhite);
  FreeMaskOrAlpha(regionMask);
}

TEST_F(BlitTest, TheOutputsOwnMaskAndAlpha) {
  OpenDisplay();
  qvObjectId id{7, nullptr};
  qvBrush* brush = nullptr;
  ASSERT_EQ(AllocBrush(&id, false, 16, 16, 0x000000, true, true, true, false, &brush), 0);
  auto maskBit = [&](int32_t x, int32_t y) { return ReadBitMapPixel(brush->mask, x, y); };
  auto alphaAt = [&](int32_t x, int32_t y) {
    return brush->alpha->data[y * brush->alpha->bytesPerRow + x];
  };
  mask = MakeMask([](int32_t x, int32_t) { return x == 0; });

  // Drawing into the brush's pictures with its planes: the mask is copied, the alpha opaque.
  ASSERT_EQ(SelectOutputDevice(L, kObjectBrush, id, kOutputPicture, 0, 1, 0), 0);
  ASSERT_EQ(Blt(0, 0, display->outBitmap, 2, 2, 4, 4, 0), 0);
  EXPECT_EQ(ReadBitMapPixel(brush->bitmap, 2, 2), SourceColour(0, 0));
  EXPECT_EQ(ReadBitMapPixel(brush->bitmap, 3, 2), 0u);
  EXPECT_EQ(maskBit(2, 5), 1u);
  EXPECT_EQ(maskBit(3, 5), 0u);
  EXPECT_EQ(alphaAt(2, 5), 255);
  EXPECT_EQ(alphaAt(3, 5), 0);
  // Flag 16 leaves both planes alone.
  ASSERT_EQ(Blt(0, 0, display->outBitmap, 8, 8, 4, 4, kBltKeepPlanes), 0);
  EXPECT_EQ(ReadBitMapPixel(brush->bitmap, 8, 8), SourceColour(0, 0));
  EXPECT_EQ(maskBit(8, 8), 0u);
  EXPECT_EQ(alphaAt(8, 8), 0);
  ASSERT_EQ(EndSelectOutput(L, display, false), 0);

  // The mask as output: no bitmap, so the mask mode decides.
  ASSERT_EQ(SelectOutputDevice(L, kObjectBrush, id, kOutputMask, 0, 0, 0), 0);
  ASSERT_EQ(display->outBitmap, nullptr);
  SetMaskMode(1);  // clear where the source is set
  ASSERT_EQ(Blt(0, 0, nullptr, 2, 2, 4, 4, 0), 0);
  EXPECT_EQ(maskBit(2, 3), 0u);
  SetMaskMode(3);  // invert
  ASSERT_EQ(Blt(0, 0, nullptr, 2, 2, 4, 4, 0), 0);
  ASSERT_EQ(Blt(0, 0, nullptr, 3, 2, 4, 4, 0), 0);
  EXPECT_EQ(maskBit(2, 3), 1u);
  EXPECT_EQ(maskBit(3, 3), 1u);
  SetMaskMode(0);
  ASSERT_EQ(EndSelectOutput(L, display, false), 0);

  // The alpha channel as output takes the intensity where no bitmap is drawn.
  FreeMaskOrAlpha(mask);
  mask = nullptr;
  ASSERT_EQ(SelectOutputDevice(L, kObjectBrush, id, kOutputAlpha, 0, 0, 0), 0);
  ASSERT_EQ(Blt(0, 0, nullptr, 0, 10, 2, 2, 0), 0);
  EXPECT_EQ(alphaAt(1, 11), 255);
  SetAlphaIntensity(100);
  ASSERT_EQ(Blt(0, 0, nullptr, 4, 10, 2, 2, 0), 0);
  EXPECT_EQ(alphaAt(5, 11), 100);
  SetAlphaIntensity(-1);
  ASSERT_EQ(EndSelectOutput(L, display, false), 0);
}

TEST_F(BlitTest, AnAlphaSourceIntoAnOutputWithAlpha) {
  OpenDisplay();
  qvObjectId id{8, nullptr};
  qvBrush* brush = nullptr;
  ASSERT_EQ(AllocBrush(&id, false, 16, 16, 0x0000FF, false, true, false, false, &brush), 0);
  alpha = MakeAlpha(0);
  alpha->data[0] = 200;
  ASSERT_EQ(SelectOutputDevice(L, kObjectBrush, id, kOutputPicture, 0, 1, 0), 0);
  auto alphaAt = [&](int32_t x) { return brush->alpha->data[x]; };
  // Copy-alpha off: the pixels are copied whole and the alpha with them.
  ASSERT_EQ(Blt(0, 0, display->outBitmap, 0, 0, 2, 1, 0), 0);
  EXPECT_EQ(ReadBitMapPixel(brush->bitmap, 0, 0), SourceColour(0, 0));
  EXPECT_EQ(ReadBitMapPixel(brush->bitmap, 1, 0), SourceColour(1, 0));
  EXPECT_EQ(alphaAt(0), 200);
  EXPECT_EQ(alphaAt(1), 0);
  // Copy-alpha on: only where the source alpha is not 0.
  SetCopyAlpha(true);
  FillBitMapRect(brush->bitmap, 0, 0, 16, 16, 0x0000FF);
  std::memset(brush->alpha->data, 255, 16);
  ASSERT_EQ(Blt(0, 0, display->outBitmap, 0, 0, 2, 1, 0), 0);
  SetCopyAlpha(false);
  EXPECT_EQ(ReadBitMapPixel(brush->bitmap, 0, 0), SourceColour(0, 0));
  EXPECT_EQ(ReadBitMapPixel(brush->bitmap, 1, 0), 0x0000FFu);
  EXPECT_EQ(alphaAt(0), 200);
  EXPECT_EQ(alphaAt(1), 255);
  ASSERT_EQ(EndSelectOutput(L, display, false), 0);
}

TEST_F(BlitTest, AScaledDisplayKeepsBothPicturesAndStretchesTheWindow) {
  OpenDisplay({{"scalemode", 1}, {"scalewidth", 64}, {"scaleheight", 48}});
  ASSERT_TRUE(IsScaledDisplay(display));
  ASSERT_EQ(Blt(0, 0, display->displayBitmap, 3, 2, 2, 2, 0), 0);
  EXPECT_EQ(ReadBitMapPixel(display->windowBitmap, 4, 3), SourceColour(1, 1));
  // The nearest stretch: window pixel (x, y) shows picture pixel (x / 2, y / 2).
  for (auto [x, y] : {std::pair{6, 4}, {7, 5}, {8, 6}, {9, 7}}) {
    EXPECT_EQ(Window(x, y), Picture(x / 2, y / 2)) << x << "," << y;
  }
  EXPECT_EQ(Window(9, 7), SourceColour(1, 1));
}

TEST_F(BlitTest, TheImageEngineSeesTheCurrentDisplaysScale) {
  // Sizes where the scale factor times the size falls short of the scaled size: only the
  // display's own scale makes a full picture hit the window to the pixel.
  OpenDisplay(
      {{"width", 22}, {"height", 23}, {"scalemode", 1}, {"scalewidth", 49}, {"scaleheight", 52}});
  ASSERT_TRUE(IsScaledDisplay(display));
  const double m[4] = {49.0 / 22, 0, 0, 52.0 / 23};
  int32_t w = 0, h = 0;
  GetTransformedSize(m, 22, 23, &w, &h);
  EXPECT_EQ(w, 49);
  EXPECT_EQ(h, 52);
  // Another size scales plainly (truncated).
  GetTransformedSize(m, 22, 22, &w, &h);
  EXPECT_EQ(w, 48);
  EXPECT_EQ(h, 49);
}

// A fake layer system whose compositor has one sprite at (10, 10, 4, 4) and paints it green when
// it recomposes.
std::vector<int32_t> gRedrawModes;
bool HitsTheSprite(const qvBGPic*, int32_t x, int32_t y, int32_t w, int32_t h) {
  return x <= 13 && y <= 13 && x + w - 1 >= 10 && y + h - 1 >= 10;
}
void PaintTheSprite(qvScriptState*, qvDisplay* d, qvBGPic*, qvBitMap* dst, int32_t x, int32_t y,
                    int32_t w, int32_t h, int32_t, int32_t mode) {
  gRedrawModes.push_back(mode);
  // The whole and the part beneath lay the background down, the whole and the part above put the
  // sprite on top.
  if (mode != kRecomposeAbove) BltBitMap(d->displayBitmap, x, y, dst, x, y, w, h);
  if (mode != kRecomposeBeneath) FillBitMapRect(dst, 10, 10, 4, 4, 0x00FF00);
}
qvLayerSystem OneSprite() {
  qvLayerSystem system{};
  system.rectHitsSprites = HitsTheSprite;
  system.redraw = PaintTheSprite;
  return system;
}
const qvLayerSystem kOneSprite = OneSprite();

TEST_F(BlitTest, SpritesStayOnTopAndOutOfTheDisplayBitmap) {
  OpenDisplay();
  RegisterLayerSystem(&kOneSprite);
  gRedrawModes.clear();
  // Into the display bitmap: beneath the sprite, recomposed, the window from the composition.
  ASSERT_EQ(Blt(0, 0, display->displayBitmap, 8, 8, 4, 4, 0), 0);
  EXPECT_EQ(gRedrawModes, std::vector<int32_t>({kRecomposeAll}));
  EXPECT_EQ(Picture(10, 10), SourceColour(2, 2));
  EXPECT_EQ(Window(10, 10), 0x00FF00u);
  EXPECT_EQ(Window(9, 9), SourceColour(1, 1));

  // Without a destination: composed around the blit in the window-size bitmap.
  gRedrawModes.clear();
  ASSERT_EQ(Blt(4, 4, nullptr, 12, 12, 4, 4, 0), 0);
  EXPECT_EQ(gRedrawModes, std::vector<int32_t>({kRecomposeBeneath, kRecomposeAbove}));
  EXPECT_EQ(Window(13, 13), 0x00FF00u);
  EXPECT_EQ(Window(15, 15), SourceColour(7, 7));
  EXPECT_EQ(Picture(15, 15), kWhite);

  // Flag 2 ignores the sprite; flag 32 keeps the composition from the window.
  gRedrawModes.clear();
  ASSERT_EQ(Blt(0, 0, nullptr, 10, 10, 2, 2, kBltIgnoreSprites), 0);
  EXPECT_TRUE(gRedrawModes.empty());
  EXPECT_EQ(Window(10, 10), SourceColour(0, 0));
  ASSERT_EQ(Blt(0, 0, nullptr, 12, 12, 2, 2, kBltNoRefresh), 0);
  EXPECT_EQ(Window(12, 12), 0x00FF00u);
}

TEST_F(BlitTest, WithoutSourceTheBackgroundIsRead) {
  OpenDisplay();
  FillBitMapRect(display->displayBitmap, 4, 4, 2, 2, 0xFF0000);
  qvBitMap* copy = AllocBitMap(8, 8);
  FillBitMapRect(copy, 0, 0, 8, 8, 0);
  for (int32_t flags : {kBltToDisplayBitmap, kBltBeneathSprites, kBltRecompose}) {
    FillBitMapRect(copy, 0, 0, 8, 8, 0);
    EXPECT_EQ(SafeBlt(L, nullptr, 4, 4, copy, 1, 1, 2, 2, 0, 0, 8, 8, flags | kBltKeepPlanes,
                      nullptr, nullptr, nullptr),
              0)
        << flags;
    EXPECT_EQ(ReadBitMapPixel(copy, 2, 2), 0xFF0000u) << flags;
    EXPECT_EQ(ReadBitMapPixel(copy, 3, 3), 0u) << flags;
  }
  // Without one of those flags, or on another output, there is nothing to read.
  EXPECT_EQ(SafeBlt(L, nullptr, 4, 4, copy, 1, 1, 2, 2, 0, 0, 8, 8, 0, nullptr, nullptr, nullptr),
            ERR_INTERNAL);
  qvObjectId id{9, nullptr};
  ASSERT_EQ(AllocBrush(&id, false, 4, 4, 0, false, false, false, false, nullptr), 0);
  ASSERT_EQ(SelectOutputDevice(L, kObjectBrush, id, kOutputPicture, 0, 0, 0), 0);
  EXPECT_EQ(SafeBlt(L, nullptr, 4, 4, copy, 1, 1, 2, 2, 0, 0, 8, 8, kBltToDisplayBitmap, nullptr,
                    nullptr, nullptr),
            ERR_INTERNAL);
  ASSERT_EQ(EndSelectOutput(L, display, false), 0);
  FreeBitMap(copy);
}

TEST_F(BlitTest, WithoutDisplayOnlyAPlainCopyRuns) {
  qvBitMap* dst = AllocBitMap(4, 4);
  FillBitMapRect(dst, 0, 0, 4, 4, 0);
  EXPECT_EQ(SafeBlt(L, source, 1, 1, dst, 0, 0, 2, 2, 16, 16, 4, 4, kBltKeepPlanes, nullptr,
                    nullptr, nullptr),
            0);
  EXPECT_EQ(ReadBitMapPixel(dst, 1, 1), SourceColour(2, 2));
  EXPECT_EQ(SafeBlt(L, source, 0, 0, dst, 0, 0, 2, 2, 16, 16, 4, 4, 0, nullptr, nullptr, nullptr),
            ERR_INTERNAL);
  EXPECT_EQ(SafeBlt(L, source, 0, 0, nullptr, 0, 0, 2, 2, 16, 16, 4, 4, kBltKeepPlanes, nullptr,
                    nullptr, nullptr),
            ERR_INTERNAL);
  // Neither refused call wrote a pixel.
  EXPECT_EQ(ReadBitMapPixel(dst, 0, 0), SourceColour(1, 1));
  FreeBitMap(dst);
}

TEST_F(BlitTest, TheClipScratchRefusesWhatNoPlaneCouldHold) {
  EXPECT_EQ(EnsureClipScratch(240000), 0);
  EXPECT_EQ(EnsureClipScratch(size_t{1} << 32), ERR_MEM);
  EXPECT_EQ(EnsureClipScratch(16), 0);
}

TEST_F(BlitTest, RefreshDisplayAreaClipsToTheTarget) {
  OpenDisplay();
  FillBitMapRect(display->displayBitmap, 0, 0, 32, 24, 0x0000FF);
  // A negative corner moves the source: window x 0 shows picture x 2.
  WriteBitMapPixel(display->displayBitmap, 2, 0, 0xFF0000);
  RefreshDisplayArea(L, 0, 0, display, -2, 0, 4, 4);
  EXPECT_EQ(Window(0, 0), 0xFF0000u);
  EXPECT_EQ(Window(1, 1), 0x0000FFu);
  EXPECT_EQ(Window(2, 2), kWhite);
  // Cut at the target's edge; beyond it, nothing.
  RefreshDisplayArea(L, 30, 22, display, 30, 22, 10, 10);
  EXPECT_EQ(Window(31, 23), 0x0000FFu);
  TakeWindowCalls();
  RefreshDisplayArea(L, 0, 0, display, 32, 0, 4, 4);
  EXPECT_EQ(WindowBlits(), 0u);
}

TEST_F(BlitTest, PendingRefreshesFromAnotherThread) {
  OpenDisplay();
  auto frame = [](uint32_t colour) {
    qvBitMap* b = AllocBitMap(2, 2);
    FillBitMapRect(b, 0, 0, 2, 2, colour);
    return b;
  };
  int owner = 0;
  std::thread video([&] {
    EXPECT_EQ(QueuePendingRefresh(display, &owner, frame(0xFF0000), 5, 5, 2, 2), 0);
    EXPECT_EQ(QueuePendingRefresh(display, &owner, frame(0x00FF00), 6, 6, 2, 2), 0);
  });
  video.join();
  EXPECT_EQ(Window(5, 5), kWhite);
  RefreshAllDisplays();
  EXPECT_EQ(display->pendingRefreshes, nullptr);
  EXPECT_EQ(Window(5, 5), 0xFF0000u);
  EXPECT_EQ(Window(6, 6), 0x00FF00u);

  // Dropped frames are freed unseen; one left queued is freed with the display.
  ASSERT_EQ(QueuePendingRefresh(display, &owner, frame(0x123456), 0, 0, 2, 2), 0);
  DropPendingRefreshes(display);
  RefreshAllDisplays();
  EXPECT_EQ(Window(0, 0), kWhite);
  ASSERT_EQ(QueuePendingRefresh(display, &owner, frame(0x123456), 0, 0, 2, 2), 0);
}

TEST_F(BlitTest, MaskModeAndAlphaIntensityAreRuntimeAttributes) {
  EXPECT_EQ(GetMaskMode(), 0);
  EXPECT_EQ(GetAlphaIntensity(), -1);
  qvAttrSetItem set[] = {{kAttrMaskMode, 3}, {kAttrAlphaIntensity, 40}, {0, 0}};
  EXPECT_EQ(SetRuntimeAttrs(nullptr, set), 2);
  EXPECT_EQ(GetMaskMode(), 3);
  EXPECT_EQ(GetAlphaIntensity(), 40);
  intptr_t mode = 0, intensity = 0;
  qvAttrGetItem get[] = {{kAttrMaskMode, &mode}, {kAttrAlphaIntensity, &intensity}, {0, nullptr}};
  EXPECT_EQ(GetRuntimeAttrs(nullptr, get), 2);
  EXPECT_EQ(mode, 3);
  EXPECT_EQ(intensity, 40);
  // Opening again starts from the defaults.
  FreeRegistries();
  ASSERT_EQ(OpenDrawAttributes(), 0);
  EXPECT_EQ(GetMaskMode(), 0);
  EXPECT_EQ(GetAlphaIntensity(), -1);
}

}  // namespace
}  // namespace qv
