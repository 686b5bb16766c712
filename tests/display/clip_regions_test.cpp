// Clip regions without a script: made, cut to the origin (masks from any bit offset), set on the
// output, freed with every reference to them, kept for the layers, transformed for them, and the
// limits they put on a blit.
#include "display/clip_regions.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "base/errors.h"
#include "core/registry.h"
#include "display/display.h"
#include "fixtures/display_setup.h"

namespace qv {
namespace {

constexpr int32_t kCenter = -100000;

bool Bit(const qvPlane* mask, int32_t x, int32_t y) {
  return (mask->data[int64_t{y} * mask->bytesPerRow + (x >> 3)] >> (7 - (x & 7))) & 1;
}

// A mask of width x height whose bits follow a fixed irregular pattern.
qvPlane* PatternMask(int32_t width, int32_t height) {
  qvPlane* mask = AllocMask(width, height, true);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      if ((x * 7 + y * 13 + x * y) % 5 < 2) WriteBitMapPixel(mask, x, y, 0);
    }
  }
  return mask;
}

class ClipRegionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ConfigureHeadlessScreen(qvScreenSetup{});
    ASSERT_EQ(test::OpenDisplayForTest(), 0);
    display = Make(1, {{"width", 64}, {"height", 32}, {"color", 0xFFFFFF}});
    ASSERT_NE(display, nullptr);
  }
  void TearDown() override { test::CloseDisplayForTest(); }

  qvDisplay* Make(int32_t number, const test::TagList& fields) {
    qvObjectId id{number, nullptr};
    qvDisplayTags tags = test::TagsOf(fields);
    qvDisplay* d = nullptr;
    EXPECT_EQ(CreateDisplayCore(L, &id, false, &tags, &d), 0);
    if (d == nullptr) return nullptr;
    EXPECT_EQ(OpenDisplayCore(L, d, true), 0);
    MakeCurrent(d);
    return d;
  }
  static void MakeCurrent(qvDisplay* d) {
    SetCurrentDisplay(d);
    SetOutputTarget(d->bgpic);
  }
  qvClipRegion* Box(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height) {
    qvObjectId id{number, nullptr};
    qvClipRegion* region = nullptr;
    EXPECT_EQ(CreateClipRegion(L, &id, false, {kObjectBox, x, y, width, height, {}}, &region), 0);
    return region;
  }
  qvScriptState* L = nullptr;
  qvDisplay* display = nullptr;
};

TEST_F(ClipRegionsTest, RectanglesAreCutToTheOriginAndRefusedWhenNothingIsLeft) {
  struct Row {
    int32_t x, y, width, height;
    int32_t code;
    int32_t outX, outY, outWidth, outHeight;
  };
  const Row rows[] = {
      {-10, 0, 30, 5, 0, 0, 0, 20, 5}, {3, -2, 4, 6, 0, 3, 0, 4, 4}, {-1, -1, 2, 2, 0, 0, 0, 1, 1},
      {70, 40, 5, 5, 0, 70, 40, 5, 5},  // beyond the output: only SetClipRegion refuses it
      {-30, 0, 30, 5, ERR_WRONGUSAGE},  // x + width is 0
      {0, -5, 5, 4, ERR_WRONGUSAGE},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.x << "," << r.y << " " << r.width << "x" << r.height);
    qvObjectId id{9, nullptr};
    qvClipRegion* region = nullptr;
    ASSERT_EQ(
        CreateClipRegion(L, &id, false, {kObjectBox, r.x, r.y, r.width, r.height, {}}, &region),
        r.code);
    if (r.code != 0) continue;
    EXPECT_EQ(region->x, r.outX);
    EXPECT_EQ(region->y, r.outY);
    EXPECT_EQ(region->width, r.outWidth);
    EXPECT_EQ(region->height, r.outHeight);
    EXPECT_EQ(region->mask, nullptr);
  }
  // The same number was replaced each time: one region is listed.
  EXPECT_EQ(CountObjects(kObjectClipRegion), 1);
}

TEST_F(ClipRegionsTest, MasksAreCutFromAnyBitOffset) {
  constexpr int32_t kWidth = 29, kHeight = 6;
  qvPlane* source = PatternMask(kWidth, kHeight);
  std::vector<uint8_t> before(source->data, source->data + source->bytesPerRow * kHeight);
  const struct {
    int32_t x, y;
  } cuts[] = {{-1, 0}, {-3, -1}, {-7, 0}, {-8, 0}, {-9, -2}, {-13, -5}, {-21, 0}, {-28, -3}};
  for (auto cut : cuts) {
    SCOPED_TRACE(testing::Message() << "cut " << cut.x << "," << cut.y);
    int32_t x = cut.x, y = cut.y, width = kWidth, height = kHeight;
    qvPlane* mask = source;
    ASSERT_EQ(CutRegionToOrigin(&x, &y, &width, &height, &mask, false, false), 0);
    ASSERT_NE(mask, source);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
    EXPECT_EQ(width, kWidth + cut.x);
    EXPECT_EQ(height, kHeight + cut.y);
    for (int32_t row = 0; row < height; ++row) {
      for (int32_t col = 0; col < width; ++col) {
        ASSERT_EQ(Bit(mask, col, row), Bit(source, col - cut.x, row - cut.y))
            << "at " << col << "," << row;
      }
    }
    FreeMaskOrAlpha(mask);
  }
  // Without a cut the mask is duplicated only when a copy is asked for.
  int32_t x = 2, y = 3, width = kWidth, height = kHeight;
  qvPlane* mask = source;
  ASSERT_EQ(CutRegionToOrigin(&x, &y, &width, &height, &mask, false, false), 0);
  EXPECT_EQ(mask, source);
  ASSERT_EQ(CutRegionToOrigin(&x, &y, &width, &height, &mask, true, false), 0);
  ASSERT_NE(mask, source);
  EXPECT_EQ(std::vector<uint8_t>(mask->data, mask->data + mask->bytesPerRow * kHeight), before);
  FreeMaskOrAlpha(mask);
  // The source was only read.
  EXPECT_EQ(std::vector<uint8_t>(source->data, source->data + source->bytesPerRow * kHeight),
            before);
  FreeMaskOrAlpha(source);
}

TEST_F(ClipRegionsTest, AMaskRegionTakesACopyOfTheBrushMaskAndNeedsOne) {
  qvObjectId plain{3, nullptr};
  ASSERT_EQ(AllocBrush(&plain, false, 12, 9, 0, false, false, false, false, nullptr), 0);
  qvObjectId id{1, nullptr};
  qvClipRegion* region = nullptr;
  EXPECT_EQ(CreateClipRegion(L, &id, false, {kObjectMask, 0, 0, 0, 0, plain}, &region),
            ERR_NOMASKBRUSH);
  qvObjectId missing{77, nullptr};
  EXPECT_EQ(CreateClipRegion(L, &id, false, {kObjectMask, 0, 0, 0, 0, missing}, &region),
            ERR_FINDBRUSH);
  EXPECT_EQ(CreateClipRegion(L, &id, false, {kObjectPlot, 0, 0, 5, 5, {}}, &region),
            ERR_WRONGUSAGE);
  EXPECT_EQ(CountObjects(kObjectClipRegion), 0);

  qvBrush* brush = nullptr;
  ASSERT_EQ(FindBrush(L, plain, &brush, 0), 0);
  brush->mask = PatternMask(12, 9);
  ASSERT_EQ(CreateClipRegion(L, &id, false, {kObjectMask, -5, 2, 0, 0, plain}, &region), 0);
  EXPECT_EQ(region->x, 0);
  EXPECT_EQ(region->y, 2);
  EXPECT_EQ(region->width, 7);
  EXPECT_EQ(region->height, 9);
  ASSERT_NE(region->mask, brush->mask);
  EXPECT_EQ(Bit(region->mask, 0, 0), Bit(brush->mask, 5, 0));
  EXPECT_EQ(region->bytesPerRow, region->mask->bytesPerRow);
  // A refused remake under the same number leaves the region there.
  EXPECT_EQ(CreateClipRegion(L, &id, false, {kObjectBox, -40, 0, 40, 5, {}}, nullptr),
            ERR_WRONGUSAGE);
  qvClipRegion* found = nullptr;
  EXPECT_EQ(FindClipRegion(L, id, &found, 0), 0);
  EXPECT_EQ(found, region);
}

TEST_F(ClipRegionsTest, SetClipRegionFitsTheOutputAndMovesTheCursorAndMargins) {
  Box(1, 10, 4, 20, 8);
  Box(2, 50, 0, 15, 4);  // one column beyond the 64-wide display
  EXPECT_EQ(SetClipRegion(L, {2, nullptr}, false), ERR_WRONGCLIPREG);
  EXPECT_EQ(CurrentClipRegion(), nullptr);
  EXPECT_EQ(SetClipRegion(L, {5, nullptr}, false), ERR_FINDCLIPREGION);
  int marker = 0;
  EXPECT_EQ(SetClipRegion(L, {0, &marker}, false), ERR_FINDARRAY);

  display->cursorY = 7;
  ASSERT_EQ(SetClipRegion(L, {1, nullptr}, false), 0);
  ASSERT_NE(CurrentClipRegion(), nullptr);
  EXPECT_EQ(display->cursorX, 10);
  EXPECT_EQ(display->cursorY, 0);
  EXPECT_EQ(display->marginLeft, 10);
  EXPECT_EQ(display->marginRight, 29);
  // Special positions lie inside the region: a 10-wide object centred in its 20 columns.
  EXPECT_EQ(ResolveCoordX(kCenter, 10, 0, 0), 15);
  EXPECT_EQ(ResolveCoordY(kCenter, 2, 0, 0), 7);

  ASSERT_EQ(SetClipRegion(L, {}, true), 0);
  EXPECT_EQ(CurrentClipRegion(), nullptr);
  EXPECT_EQ(display->cursorX, 0);
  EXPECT_EQ(display->marginLeft, 0);
  EXPECT_EQ(display->marginRight, 63);
  EXPECT_EQ(ResolveCoordX(kCenter, 10, 0, 0), 27);

  // A mask or alpha channel as the output takes no region.
  qvObjectId brush{4, nullptr};
  ASSERT_EQ(AllocBrush(&brush, false, 8, 8, 0, true, false, false, false, nullptr), 0);
  ASSERT_EQ(SelectOutputDevice(L, kObjectBrush, brush, kOutputMask, 0, 0, 0), 0);
  EXPECT_EQ(SetClipRegion(L, {1, nullptr}, false), ERR_WRONGUSAGE);
  EXPECT_EQ(SetClipRegion(L, {}, true), ERR_WRONGUSAGE);
}

TEST_F(ClipRegionsTest, ABlitStaysInsideTheRegionAndItsMask) {
  qvObjectId id{6, nullptr};
  qvBrush* red = nullptr;
  ASSERT_EQ(AllocBrush(&id, false, 64, 32, 0xFF0000, false, false, false, false, &red), 0);
  qvClipRegion* region = Box(1, 4, 2, 13, 5);
  region->mask = PatternMask(13, 5);
  ASSERT_EQ(EnsureClipScratch(1), 0);
  ASSERT_EQ(SetClipRegion(L, {1, nullptr}, false), 0);
  ASSERT_EQ(DisplayBrushObject(L, id, 0, 0), 0);
  for (int32_t y = 0; y < 32; ++y) {
    for (int32_t x = 0; x < 64; ++x) {
      bool inside = ClipRegionAdmits(region, x, y);
      ASSERT_EQ(ReadBitMapPixel(display->displayBitmap, x, y), inside ? 0xFF0000u : 0xFFFFFFu)
          << "at " << x << "," << y;
      const uint8_t* row = ClipMaskRow(region, y);
      if (row != nullptr && x >= region->x && x < region->x + region->width) {
        EXPECT_EQ(ClipMaskRowAdmits(region, row, x), inside);
      }
    }
  }
  EXPECT_TRUE(ClipRegionHasMask(region));
  EXPECT_FALSE(ClipRegionHasMask(nullptr));
  EXPECT_TRUE(ClipRegionAdmits(nullptr, -5, 1000));
}

// Every record that may clip by a region drops it when the region is freed; a display that is
// not current kept a dangling region until it was drawn into again.
TEST_F(ClipRegionsTest, FreeingARegionClearsEveryReferenceToIt) {
  static std::vector<const qvClipRegion*> forgotten;
  forgotten.clear();
  auto holder = [](const qvClipRegion* region) { forgotten.push_back(region); };
  ASSERT_EQ(AddClipRegionHolder(holder), 0);

  qvClipRegion* region = Box(1, 0, 0, 8, 8);
  ASSERT_EQ(SetClipRegion(L, {1, nullptr}, false), 0);
  qvBGPic* first = display->bgpic;
  qvDisplay* second = Make(2, {{"width", 20}, {"height", 20}});
  ASSERT_EQ(SetClipRegion(L, {1, nullptr}, false), 0);
  qvObjectId bgpicId{0, nullptr};
  qvBGPic* other = nullptr;
  ASSERT_EQ(CreateColorBGPic(&bgpicId, true, 10, 10, 0, &other), 0);
  other->clipRegion = region;
  // The first display is current again, with a brush as its output.
  MakeCurrent(display);
  qvObjectId brush{4, nullptr};
  ASSERT_EQ(AllocBrush(&brush, false, 16, 16, 0, false, false, false, false, nullptr), 0);
  ASSERT_EQ(SelectOutputDevice(L, kObjectBrush, brush, kOutputPicture, 0, 0, 0), 0);
  ASSERT_EQ(SetClipRegion(L, {1, nullptr}, false), 0);
  ASSERT_EQ(display->selection->clipRegion, region);

  ASSERT_EQ(FreeClipRegionCore(L, {1, nullptr}, true), 0);
  EXPECT_EQ(display->selection->clipRegion, nullptr);
  EXPECT_EQ(first->clipRegion, nullptr);
  EXPECT_EQ(second->bgpic->clipRegion, nullptr);
  EXPECT_EQ(other->clipRegion, nullptr);
  EXPECT_EQ(forgotten, std::vector<const qvClipRegion*>{region});
  EXPECT_EQ(CountObjects(kObjectClipRegion), 0);
  EXPECT_EQ(FreeClipRegionCore(L, {1, nullptr}, true), ERR_FINDCLIPREGION);
  EXPECT_EQ(FreeClipRegionCore(L, {1, nullptr}, false), 0);
  // The other display draws again, unclipped (a dangling region would be read here).
  ASSERT_EQ(EndSelectOutput(L, display, true), 0);
  MakeCurrent(second);
  qvObjectId red{6, nullptr};
  ASSERT_EQ(AllocBrush(&red, false, 20, 20, 0xFF0000, false, false, false, false, nullptr), 0);
  ASSERT_EQ(DisplayBrushObject(L, red, 0, 0), 0);
  EXPECT_EQ(ReadBitMapPixel(second->displayBitmap, 19, 19), 0xFF0000u);
  RemoveClipRegionHolder(holder);
}

TEST_F(ClipRegionsTest, ANewBGPicDropsTheRegionOfThePictureShownBefore) {
  qvObjectId a{5, nullptr}, b{6, nullptr};
  qvBGPic* first = nullptr;
  ASSERT_EQ(CreateColorBGPic(&a, false, 40, 30, 0x00FF00, &first), 0);
  ASSERT_EQ(CreateColorBGPic(&b, false, 40, 30, 0x0000FF, nullptr), 0);
  qvDisplay* d = Make(2, {{"bgpic", 5}});
  ASSERT_EQ(d->bgpic, first);
  Box(1, 2, 2, 10, 10);
  ASSERT_EQ(SetClipRegion(L, {1, nullptr}, false), 0);
  ASSERT_NE(first->clipRegion, nullptr);
  qvDisplayTags tags;
  tags.bgpic = b;
  ASSERT_EQ(ApplyDisplayAttributes(L, d, tags), 0);
  EXPECT_EQ(first->clipRegion, nullptr);
  EXPECT_EQ(CurrentClipRegion(), nullptr);
}

TEST_F(ClipRegionsTest, FindingHonoursLocksAndLayerCopies) {
  qvClipRegion* region = Box(1, 0, 0, 4, 4);
  qvClipRegion* found = nullptr;
  EXPECT_EQ(FindClipRegion(L, {1, nullptr}, &found, kFindClipModify), 0);
  region->locked = 1;
  EXPECT_EQ(FindClipRegion(L, {1, nullptr}, &found, kFindClipModify), ERR_LOCKEDOBJ);
  EXPECT_EQ(FindClipRegion(L, {1, nullptr}, &found, 0), 0);
  region->locked = 0;
  // A layer copy is found only when asked for, and purged once no layer shows it.
  region->layerCopy = 1;
  EXPECT_EQ(FindClipRegion(L, {1, nullptr}, &found, 0), ERR_FINDCLIPREGION);
  EXPECT_EQ(FindClipRegion(L, {1, nullptr}, &found, kFindClipLayerCopies), 0);
  EXPECT_EQ(FreeClipRegionCore(L, {1, nullptr}, true), ERR_FINDCLIPREGION);
  Box(2, 0, 0, 4, 4);
  PurgeDetachedClipRegions(L);
  EXPECT_EQ(CountObjects(kObjectClipRegion), 1);
  EXPECT_EQ(FindClipRegion(L, {2, nullptr}, &found, 0), 0);
}

TEST_F(ClipRegionsTest, TransformedRegionsTakeTheirThreeRoads) {
  const double stretch[4] = {2, 0, 0, 3};
  qvClipRegion* box = Box(1, 10, 5, 10, 6);
  qvClipRegion* scaled = BuildTransformedClipRegion(box, 1, 1, stretch, false, false);
  ASSERT_NE(scaled, nullptr);
  EXPECT_EQ(scaled->locked, 1);
  EXPECT_EQ(scaled->x, 20);
  EXPECT_EQ(scaled->y, 15);
  EXPECT_EQ(scaled->width, 20);
  EXPECT_EQ(scaled->height, 18);
  EXPECT_EQ(scaled->mask, nullptr);
  FreeClipRegionNode(L, scaled);

  // A quarter turn: the rectangle becomes the mask of its turned corners, filled whole.
  const double turn[4] = {0, 1, -1, 0};
  qvClipRegion* turned = BuildTransformedClipRegion(box, 1, 1, turn, false, false);
  ASSERT_NE(turned, nullptr);
  ASSERT_NE(turned->mask, nullptr);
  EXPECT_EQ(turned->width, 6);
  EXPECT_EQ(turned->height, 10);
  EXPECT_EQ(turned->x, 5);
  EXPECT_EQ(turned->y, 5);
  int32_t set = 0;
  for (int32_t y = 0; y < turned->height; ++y) {
    for (int32_t x = 0; x < turned->width; ++x) set += Bit(turned->mask, x, y);
  }
  EXPECT_EQ(set, turned->width * turned->height);
  EXPECT_EQ(turned->bytesPerRow, turned->mask->bytesPerRow);
  FreeClipRegionNode(L, turned);

  // A masked region: its mask grows with the factors, bits where the source's were.
  qvClipRegion* masked = Box(2, 0, 0, 9, 4);
  masked->mask = PatternMask(9, 4);
  const double identity[4] = {1, 0, 0, 1};
  qvClipRegion* doubled = BuildTransformedClipRegion(masked, 2, 2, identity, false, false);
  ASSERT_NE(doubled, nullptr);
  ASSERT_NE(doubled->mask, nullptr);
  EXPECT_EQ(doubled->width, 18);
  EXPECT_EQ(doubled->height, 8);
  for (int32_t y = 0; y < 8; ++y) {
    for (int32_t x = 0; x < 18; ++x) {
      ASSERT_EQ(Bit(doubled->mask, x, y), Bit(masked->mask, x / 2, y / 2)) << x << "," << y;
    }
  }
  FreeClipRegionNode(L, doubled);
  EXPECT_EQ(BuildTransformedClipRegion(nullptr, 1, 1, identity, false, false), nullptr);
  const double huge[4] = {0, 1e12, -1e12, 0};
  EXPECT_EQ(BuildTransformedClipRegion(box, 1, 1, huge, false, false), nullptr);

  // A rectangle of negative size covers nothing, turned or stretched: its copy is empty, not a
  // mask spanning the corners' wrapped bounds.
  const double steep[4] = {64, 64, -64, 64};
  for (auto [w, h] : {std::pair{-29, 28}, std::pair{28, -29}}) {
    qvClipRegion* negative = Box(3, 61, 61, w, h);
    ASSERT_NE(negative, nullptr) << w << "x" << h;
    for (const double* m : {steep, stretch}) {
      qvClipRegion* copy = BuildTransformedClipRegion(negative, 1, 1, m, false, false);
      ASSERT_NE(copy, nullptr) << w << "x" << h;
      EXPECT_EQ(copy->width, 0) << w << "x" << h;
      EXPECT_EQ(copy->height, 0) << w << "x" << h;
      EXPECT_EQ(copy->mask, nullptr) << w << "x" << h;
      FreeClipRegionNode(L, copy);
    }
  }
}

}  // namespace
}  // namespace qv
