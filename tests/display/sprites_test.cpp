// Sprites on an open headless display with the layer system's compositor registered: the list,
// links, what may be modified, the refreshes of a move (as the window's call log shows them) and
// what the window and the display bitmap hold.
#include "display/sprites.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "base/errors.h"
#include "core/errors.h"
#include "core/layer_system.h"
#include "core/registry.h"
#include "display/display.h"
#include "fixtures/display_setup.h"
#include "layers/layers.h"
#include "platform/window_services.h"

namespace qv {
namespace {

constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kKey = 0x000000;

class SpritesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ConfigureHeadlessScreen(qvScreenSetup{});
    ASSERT_EQ(test::OpenDisplayForTest(), 0);
    ASSERT_EQ(OpenLayerSystem(), 0);
    qvObjectId id{1, nullptr};
    // A white 64 x 32 display, open and current.
    qvDisplayTags tags = test::TagsOf({{"width", 64}, {"height", 32}, {"color", kWhite}});
    ASSERT_EQ(CreateDisplayCore(L, &id, false, &tags, &display), 0);
    ASSERT_EQ(OpenDisplayCore(L, display, true), 0);
    SetCurrentDisplay(display);
    SetOutputTarget(display->bgpic);
    RecordWindowCalls(true);
  }
  void TearDown() override {
    RecordWindowCalls(false);
    test::CloseDisplayForTest();
    CloseLayerSystem();
  }

  // A sprite of `frames` frames of w x h, frame i filled with colours[i] and keyed: its left
  // column is the key colour (a cleared mask bit), so that the picture beneath shows there.
  qvSprite* MakeSprite(int32_t number, int32_t w, int32_t h, std::vector<uint32_t> colours) {
    auto n = static_cast<int32_t>(colours.size());
    auto** bitmaps = static_cast<qvBitMap**>(std::calloc(n, sizeof(qvBitMap*)));
    auto** masks = static_cast<qvPlane**>(std::calloc(n, sizeof(qvPlane*)));
    auto** alphas = static_cast<qvPlane**>(std::calloc(n, sizeof(qvPlane*)));
    for (int32_t i = 0; i < n; ++i) {
      bitmaps[i] = AllocBitMap(w, h);
      FillBitMapRect(bitmaps[i], 0, 0, w, h, colours[i]);
      FillBitMapRect(bitmaps[i], 0, 0, 1, h, kKey);
      masks[i] = CreateColorKeyMask(bitmaps[i], w, h, kKey);
    }
    qvObjectId id{number, nullptr};
    qvSprite* sprite = nullptr;
    EXPECT_EQ(
        AddSprite(&id, false, w, h, nullptr, bitmaps, masks, alphas, n, kKey, nullptr, &sprite), 0);
    return sprite;
  }
  // A sprite that shows the frames of others.
  qvSprite* LinkSprites(int32_t number, std::vector<qvSprite*> sources) {
    auto** links = static_cast<qvSprite**>(std::calloc(sources.size() + 1, sizeof(qvSprite*)));
    int32_t frames = 0;
    for (size_t i = 0; i < sources.size(); ++i) {
      links[i] = sources[i];
      frames += sources[i]->frames;
    }
    qvObjectId id{number, nullptr};
    qvSprite* sprite = nullptr;
    EXPECT_EQ(AddSprite(&id, false, sources[0]->width, sources[0]->height, nullptr, nullptr,
                        nullptr, nullptr, frames, kKey, links, &sprite),
              0);
    return sprite;
  }
  static qvObjectId Id(int32_t number) { return {number, nullptr}; }

  static std::vector<qvWindowCallRecord> Blits() { return test::TakeBlits(); }
  uint32_t WindowPixel(int32_t x, int32_t y) {
    std::vector<uint32_t> pixels;
    int32_t width = 0;
    EXPECT_TRUE(ReadWindowPixels(display->window, &pixels, &width, nullptr));
    return pixels[static_cast<size_t>(y) * width + x] & 0xFFFFFF;
  }
  static uint32_t Pixel(const qvBitMap* b, int32_t x, int32_t y) {
    return ReadBitMapPixel(b, x, y) & 0xFFFFFF;
  }

  qvScriptState* L = nullptr;
  qvDisplay* display = nullptr;
};

TEST_F(SpritesTest, FindersAnswerWithTheirCodes) {
  qvSprite* sprite = nullptr;
  EXPECT_EQ(FindSprite(L, Id(7), &sprite, 0), ERR_FINDSPRITE);
  EXPECT_EQ(GetErrorNumber(), 7);
  int handle = 0;
  EXPECT_EQ(FindSprite(L, {0, &handle}, &sprite, 0), ERR_FINDARRAY);

  qvSprite* made = MakeSprite(7, 4, 4, {0xFF0000});
  ASSERT_EQ(FindSprite(L, Id(7), &sprite, 0), 0);
  EXPECT_EQ(sprite, made);
  made->locked = 1;
  EXPECT_EQ(FindSprite(L, Id(7), &sprite, kFindSpriteModify), ERR_LOCKEDOBJ);
  EXPECT_EQ(FreeSpriteById(L, Id(7), false), ERR_LOCKEDOBJ);
  made->locked = 0;

  qvSpriteEntry* entry = nullptr;
  EXPECT_EQ(FindSpriteEntry(Id(7), &entry), ERR_SPRITEONSCREEN);
  EXPECT_EQ(GetErrorNumber(), 7);
  EXPECT_EQ(FindSpriteEntry({0, made}, &entry), ERR_SPRITEONSCREEN2);
  ASSERT_EQ(DisplaySpriteCore(L, Id(7), 1, 1, 0), 0);
  ASSERT_EQ(FindSpriteEntry(Id(7), &entry), 0);
  EXPECT_EQ(entry->sprite, made);
  EXPECT_EQ(DisplaySpriteCore(L, Id(7), 1, 1, 2), ERR_ANIMFRAME);
  EXPECT_EQ(DisplaySpriteCore(L, Id(7), 1, 1, -1), ERR_ANIMFRAME);

  EXPECT_EQ(FreeSpriteById(L, Id(8), false), 0);
  EXPECT_EQ(FreeSpriteById(L, Id(8), true), ERR_FINDSPRITE);
}

TEST_F(SpritesTest, LinkedFramesRunThroughTheSourcesInOrder) {
  qvSprite* a = MakeSprite(1, 4, 4, {0x110000, 0x220000});
  qvSprite* b = MakeSprite(2, 4, 4, {0x000011, 0x000022, 0x000033});
  qvSprite* link = LinkSprites(3, {a, b});
  struct Case {
    int32_t frame;
    qvBitMap* bitmap;
  };
  const Case cases[] = {
      {0, a->bitmaps[0]}, {1, a->bitmaps[1]}, {2, b->bitmaps[0]}, {4, b->bitmaps[2]}};
  for (const Case& c : cases) {
    qvBitMap* bitmap = nullptr;
    qvPlane* mask = nullptr;
    qvPlane* alpha = nullptr;
    GetSpriteFrameBitMaps(link, c.frame, &bitmap, &mask, &alpha);
    EXPECT_EQ(bitmap, c.bitmap) << "frame " << c.frame;
  }
  // Beyond every frame the outputs stay as they were.
  auto* sentinel = reinterpret_cast<qvBitMap*>(&link);
  qvBitMap* bitmap = sentinel;
  qvPlane* mask = nullptr;
  qvPlane* alpha = nullptr;
  GetSpriteFrameBitMaps(link, 5, &bitmap, &mask, &alpha);
  EXPECT_EQ(bitmap, sentinel);
}

TEST_F(SpritesTest, ModifiableRefusesShownBeforeLinked) {
  qvSprite* a = MakeSprite(1, 4, 4, {0xFF0000});
  qvSprite* b = MakeSprite(2, 4, 4, {0x00FF00});
  qvSprite* link = LinkSprites(3, {a});
  EXPECT_EQ(CheckSpriteModifiable(b), 0);
  EXPECT_EQ(CheckSpriteModifiable(a), ERR_MODIFYSPRITE2);     // another links to it
  EXPECT_EQ(CheckSpriteModifiable(link), ERR_MODIFYSPRITE2);  // it links to others
  ASSERT_EQ(DisplaySpriteCore(L, Id(3), 0, 0, 0), 0);
  ASSERT_EQ(DisplaySpriteCore(L, Id(2), 10, 0, 0), 0);
  EXPECT_EQ(CheckSpriteModifiable(link), ERR_MODIFYSPRITE);
  EXPECT_EQ(CheckSpriteModifiable(b), ERR_MODIFYSPRITE);
  EXPECT_EQ(ScaleSpriteCore(L, b, 8, 8, false), ERR_MODIFYSPRITE);
  EXPECT_EQ(FlipSpriteCore(link, true), ERR_MODIFYSPRITE);
}

TEST_F(SpritesTest, FreeingAnOwnerFreesTheSpritesThatLinkToItAndTheirEntries) {
  qvSprite* a = MakeSprite(1, 4, 4, {0xFF0000});
  qvSprite* b = MakeSprite(2, 4, 4, {0x00FF00});
  LinkSprites(3, {a, b});
  LinkSprites(4, {b});
  ASSERT_EQ(DisplaySpriteCore(L, Id(3), 0, 0, 2), 0);
  ASSERT_EQ(FreeSpriteById(L, Id(1), true), 0);
  EXPECT_EQ(CountObjects(kObjectSprite), 2);  // 2 and 4 remain
  qvSprite* found = nullptr;
  EXPECT_EQ(FindSprite(L, Id(3), &found, 0), ERR_FINDSPRITE);
  EXPECT_EQ(TargetSpriteEntries(display->bgpic), nullptr);
  EXPECT_EQ(WindowPixel(2, 2), kWhite);
  // Freeing a linked sprite leaves its sources.
  ASSERT_EQ(FreeSpriteById(L, Id(4), true), 0);
  EXPECT_EQ(FindSprite(L, Id(2), &found, 0), 0);
}

TEST_F(SpritesTest, AFreedSpriteLeavesNoEntryOnABackgroundThatIsNotCurrent) {
  MakeSprite(1, 4, 4, {0xFF0000});
  qvObjectId bgId{5, nullptr};
  qvBGPic* other = nullptr;
  ASSERT_EQ(CreateColorBGPic(&bgId, false, 64, 32, 0x0000FF, &other), 0);
  SetOutputTarget(other);
  ASSERT_EQ(DisplaySpriteCore(L, Id(1), 0, 0, 0), 0);
  ASSERT_NE(TargetSpriteEntries(other), nullptr);
  SetOutputTarget(display->bgpic);
  ASSERT_EQ(FreeSpriteById(L, Id(1), true), 0);
  EXPECT_EQ(TargetSpriteEntries(other), nullptr);
}

TEST_F(SpritesTest, FrameZeroShowsTheNextFrameWrapping) {
  MakeSprite(1, 4, 4, {0x110000, 0x220000, 0x330000});
  std::vector<int32_t> frames;
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(DisplaySpriteCore(L, Id(1), 0, 0, 0), 0);
    qvSpriteEntry* entry = nullptr;
    ASSERT_EQ(FindSpriteEntry(Id(1), &entry), 0);
    frames.push_back(entry->frame);
  }
  EXPECT_EQ(frames, (std::vector<int32_t>{1, 2, 3, 1, 2}));
  EXPECT_EQ(WindowPixel(2, 2), 0x220000u);
}

TEST_F(SpritesTest, AMoveRefreshesTheUnionWhenTheRectanglesTouchElseBoth) {
  MakeSprite(1, 4, 4, {0xFF0000});
  ASSERT_EQ(DisplaySpriteCore(L, Id(1), 10, 10, 0), 0);
  struct Case {
    int32_t x, y;
    std::vector<std::vector<int32_t>> rects;  // dx, dy, width, height
  };
  const Case cases[] = {
      {11, 10, {{10, 10, 5, 4}}},                  // one pixel
      {15, 10, {{11, 10, 8, 4}}},                  // edges touch: still one
      {40, 20, {{15, 10, 4, 4}, {40, 20, 4, 4}}},  // far: old, then new
      {40, 20, {}},                                // nothing changed
  };
  for (const Case& c : cases) {
    TakeWindowCalls();
    ASSERT_EQ(DisplaySpriteCore(L, Id(1), c.x, c.y, 1), 0);
    std::vector<std::vector<int32_t>> got;
    for (const auto& b : Blits()) got.push_back({b.x, b.y, b.width, b.height});
    EXPECT_EQ(got, c.rects) << "to " << c.x << ", " << c.y;
  }
  EXPECT_EQ(WindowPixel(12, 12), kWhite);
  EXPECT_EQ(WindowPixel(42, 22), 0xFF0000u);
  EXPECT_EQ(WindowPixel(40, 22), kWhite);  // the keyed column
}

TEST_F(SpritesTest, DrawingBeneathASpriteStaysBeneathIt) {
  MakeSprite(1, 4, 4, {0xFF0000});
  ASSERT_EQ(DisplaySpriteCore(L, Id(1), 10, 10, 0), 0);
  qvBitMap* green = AllocBitMap(8, 8);
  FillBitMapRect(green, 0, 0, 8, 8, 0x00FF00);
  ASSERT_EQ(SafeBlt(L, green, 0, 0, nullptr, 8, 8, 8, 8, 8, 8, 64, 32,
                    kBltBeneathSprites | kBltRecompose, nullptr, nullptr, nullptr),
            0);
  FreeBitMap(green);
  EXPECT_EQ(WindowPixel(12, 12), 0xFF0000u);  // the sprite stays on top
  EXPECT_EQ(WindowPixel(10, 12), 0x00FF00u);  // its keyed column shows the green
  EXPECT_EQ(WindowPixel(8, 8), 0x00FF00u);
  EXPECT_EQ(Pixel(display->displayBitmap, 12, 12), 0x00FF00u);  // the picture beneath
  // A snapshot of the display shows the sprite.
  qvBitMap* composite = GetBGPicComposite(L, display, display->bgpic);
  EXPECT_EQ(Pixel(composite, 12, 12), 0xFF0000u);
  EXPECT_EQ(Pixel(composite, 9, 9), 0x00FF00u);
}

TEST_F(SpritesTest, RemovingEverySpriteKeepsThePicturesOnlyWhenAsked) {
  MakeSprite(1, 4, 4, {0xFF0000});
  MakeSprite(2, 4, 4, {0x0000FF});
  for (bool keep : {false, true}) {
    ASSERT_EQ(DisplaySpriteCore(L, Id(1), 0, 0, 0), 0);
    ASSERT_EQ(DisplaySpriteCore(L, Id(2), 30, 10, 0), 0);
    ASSERT_EQ(RemoveAllSprites(L, keep), 0);
    EXPECT_EQ(TargetSpriteEntries(display->bgpic), nullptr);
    EXPECT_EQ(WindowPixel(2, 2), keep ? 0xFF0000u : kWhite) << keep;
    EXPECT_EQ(WindowPixel(32, 12), keep ? 0x0000FFu : kWhite) << keep;
    EXPECT_EQ(Pixel(display->displayBitmap, 32, 12), keep ? 0x0000FFu : kWhite) << keep;
  }
}

TEST_F(SpritesTest, ALockedShownSpriteStopsRemovingThemAll) {
  qvSprite* a = MakeSprite(1, 4, 4, {0xFF0000});
  ASSERT_EQ(DisplaySpriteCore(L, Id(1), 0, 0, 0), 0);
  a->locked = 1;
  EXPECT_EQ(RemoveAllSprites(L, false), ERR_LOCKEDOBJ);
  EXPECT_NE(TargetSpriteEntries(display->bgpic), nullptr);
  a->locked = 0;
}

TEST_F(SpritesTest, CopiesScalesAndFlipsEveryFrame) {
  qvSprite* a = MakeSprite(1, 4, 2, {0xFF0000, 0x00FF00});
  qvObjectId copyId{2, nullptr};
  qvSprite* copy = nullptr;
  ASSERT_EQ(CopySpriteRecord(L, a, &copyId, false, &copy), 0);
  ASSERT_EQ(copy->frames, 2);
  EXPECT_NE(copy->bitmaps[1], a->bitmaps[1]);
  EXPECT_EQ(Pixel(copy->bitmaps[1], 2, 1), 0x00FF00u);
  ASSERT_EQ(FlipSpriteCore(copy, true), 0);
  EXPECT_EQ(Pixel(copy->bitmaps[1], 3, 0), kKey);  // the keyed column moved right
  EXPECT_EQ(Pixel(copy->bitmaps[1], 0, 0), 0x00FF00u);
  ASSERT_EQ(ScaleSpriteCore(L, copy, 8, 4, false), 0);
  EXPECT_EQ(copy->width, 8);
  EXPECT_EQ(copy->bitmaps[1]->width, 8);
  EXPECT_EQ(Pixel(copy->bitmaps[0], 1, 3), 0xFF0000u);
  EXPECT_EQ(Pixel(a->bitmaps[0], 1, 1), 0xFF0000u);  // the source is untouched
}

TEST_F(SpritesTest, OutputRefusalsComeInTheirOrder) {
  EXPECT_EQ(CheckSpriteOutput(), 0);
  display->layersOn = 1;
  EXPECT_EQ(CheckSpriteOutput(), ERR_LAYERSOFF);
  display->layersOn = 0;
  struct Case {
    int32_t outputType;
    int32_t doubleBuffer;
    int code;
  };
  const Case cases[] = {
      {kOutputBGPic, 0, ERR_SELECTBG},           {kOutputPicture, 1, ERR_ENDDOUBLEBUFFER},
      {kOutputPicture, 0, ERR_SELECTBRUSH},      {kOutputMask, 0, ERR_SELECTMASK},
      {kOutputAlpha, 0, ERR_SELECTALPHACHANNEL},
  };
  for (const Case& c : cases) {
    display->outputType = c.outputType;
    display->doubleBuffer = c.doubleBuffer;
    display->layersOn = 1;  // the device's refusal comes first
    EXPECT_EQ(CheckSpriteOutput(), c.code) << c.outputType;
  }
  display->outputType = kOutputDisplay;
  display->doubleBuffer = 0;
  display->layersOn = 0;
}

}  // namespace
}  // namespace qv
