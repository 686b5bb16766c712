// Brushes and BGPics: the finder's flag order, copy-on-write for layers, planes shared between a
// BGPic's sets, and the dirty-rectangle merge.
#include <gtest/gtest.h>

#include <cstring>

#include "base/errors.h"
#include "core/errors.h"
#include "display/display.h"
#include "layers/layers.h"

namespace qv {
namespace {

class RecordsTest : public ::testing::Test {
 protected:
  // The copy-on-write over layers asks the layer system: the layers code's own.
  void SetUp() override { ASSERT_EQ(OpenLayerSystem(), 0); }
  void TearDown() override {
    FreeAllBGPics(L);
    FreeAllBrushes(L);
    CloseLayerSystem();
    FreeRegistries();
  }
  qvBrush* MakeBrush(int32_t number, uint32_t colour = 0x102030) {
    qvObjectId id{number, nullptr};
    qvBrush* brush = nullptr;
    EXPECT_EQ(AllocBrush(&id, false, 4, 3, colour, false, false, false, false, &brush), 0);
    return brush;
  }
  static int CountBrushes() {
    int n = 0;
    for (qvObjectHeader* h = *BrushListHead(); h != nullptr; h = h->next) ++n;
    return n;
  }
  // A BGPic whose layer list holds the given layer.
  qvBGPic* BGPicWithLayer(qvLayerHead* layer) {
    qvObjectId id{0, nullptr};
    qvBGPic* bgpic = nullptr;
    EXPECT_EQ(CreateColorBGPic(&id, true, 8, 8, 0, &bgpic), 0);
    AddListTail(&bgpic->layers, &layer->node);
    return bgpic;
  }
  qvScriptState* L = nullptr;
};

TEST_F(RecordsTest, FindBrushChecksItsFlagsInOrder) {
  struct Case {
    const char* what;
    int32_t kind, hardware, layerCopy, locked;
    int32_t flags;
    int want;
  };
  // Each row sets two conditions so that the earlier check must win.
  const Case kCases[] = {
      {"vector and hardware, raster only", 1, 1, 0, 0, kFindRasterOnly, ERR_BRUSHTYPE},
      {"vector and hardware, hardware allowed", 1, 1, 0, 0, kFindHardware, 0},
      {"hardware layer copy", 0, 1, 1, 0, 0, ERR_HWBRUSH},
      {"locked layer copy, modify", 0, 0, 1, 1, kFindModify, ERR_FINDBRUSH},
      {"locked layer copy, modify with copies", 0, 0, 1, 1, kFindModify | kFindLayerCopies,
       ERR_LOCKEDOBJ},
      {"locked, read only", 0, 0, 0, 1, 0, 0},
      {"locked, modify", 0, 0, 0, 1, kFindModify, ERR_LOCKEDOBJ},
  };
  for (const Case& c : kCases) {
    qvBrush* brush = MakeBrush(7);
    brush->kind = c.kind;
    brush->hardware = c.hardware;
    brush->layerCopy = c.layerCopy;
    brush->locked = c.locked;
    qvBrush* found = reinterpret_cast<qvBrush*>(1);
    EXPECT_EQ(FindBrush(L, {7, nullptr}, &found, c.flags), c.want) << c.what;
    EXPECT_EQ(found, c.want == 0 ? brush : nullptr) << c.what;
    FreeAllBrushes(L);
  }
}

TEST_F(RecordsTest, AnAutomaticIdIsFoundByItsHandleOnly) {
  qvObjectId id{0, nullptr};
  qvBrush* brush = nullptr;
  ASSERT_EQ(AllocBrush(&id, true, 2, 2, 0, false, false, false, false, &brush), 0);
  EXPECT_EQ(id.handle, brush);
  qvBrush* found = nullptr;
  EXPECT_EQ(FindBrush(L, id, &found, 0), 0);
  EXPECT_EQ(found, brush);
  EXPECT_EQ(FindBrush(L, {0, nullptr}, &found, 0), ERR_FINDBRUSH);
  EXPECT_EQ(FindBrush(L, {0, &found}, &found, 0), ERR_FINDARRAY);
}

TEST_F(RecordsTest, AllocBrushPlanes) {
  qvObjectId id{1, nullptr};
  qvBrush* visible = nullptr;
  ASSERT_EQ(AllocBrush(&id, false, 9, 2, 0xFF0000, true, false, false, false, &visible), 0);
  EXPECT_EQ(static_cast<uint32_t>(visible->transparentColour), kAllocBrushMaskColour);
  EXPECT_EQ(ReadBitMapPixel(visible->mask, 8, 1), 1u);
  EXPECT_EQ(ReadBitMapPixel(visible->bitmap, 8, 1), 0xFF0000u);
  id = {2, nullptr};
  qvBrush* hidden = nullptr;
  ASSERT_EQ(AllocBrush(&id, false, 9, 2, 0, true, false, true, false, &hidden), 0);
  EXPECT_EQ(static_cast<uint32_t>(hidden->transparentColour), kAllocBrushMaskColour);
  EXPECT_EQ(ReadBitMapPixel(hidden->mask, 0, 0), 0u);
  id = {3, nullptr};
  qvBrush* alpha = nullptr;
  ASSERT_EQ(AllocBrush(&id, false, 5, 2, 0, false, true, false, false, &alpha), 0);
  EXPECT_EQ(alpha->transparentColour, kNoTransparentColour);
  EXPECT_EQ(alpha->alpha->data[4], 255);
  // Sizes multiply in 64 bits: 100000 x 100000 is far too much, not a small wrapped product.
  id = {4, nullptr};
  EXPECT_EQ(AllocBrush(&id, false, 100000, 100000, 0, false, false, false, true, nullptr), ERR_MEM);
  EXPECT_EQ(AllocBrush(&id, false, 65536, 65537, 0, false, false, false, true, nullptr), ERR_MEM);
  EXPECT_EQ(CountBrushes(), 3);
}

TEST_F(RecordsTest, ModifyingABrushALayerShowsGivesTheLayerACopy) {
  qvBrush* brush = MakeBrush(1, 0x111111);
  qvLayerHead layer{{nullptr, nullptr}, kObjectBrush, {1, nullptr}};
  BGPicWithLayer(&layer);

  qvBrush* found = nullptr;
  ASSERT_EQ(FindBrush(L, {1, nullptr}, &found, kFindModify), 0);
  EXPECT_EQ(found, brush);
  ASSERT_EQ(layer.id.number, 0);
  auto* copy = static_cast<qvBrush*>(layer.id.handle);
  ASSERT_NE(copy, brush);
  EXPECT_TRUE(copy->layerCopy);
  WriteBitMapPixel(brush->bitmap, 0, 0, 0x222222);
  EXPECT_EQ(ReadBitMapPixel(copy->bitmap, 0, 0), 0x111111u);

  // No layer shows id 1 now: modifying again copies nothing, freeing frees at once.
  ASSERT_EQ(FindBrush(L, {1, nullptr}, &found, kFindModify), 0);
  EXPECT_EQ(CountBrushes(), 2);
  EXPECT_EQ(ReleaseBrushId(L, {1, nullptr}, true), 0);
  EXPECT_EQ(CountBrushes(), 1);
  // The copy goes once its layer does.
  PurgeDetachedBrushes(L);
  EXPECT_EQ(CountBrushes(), 1);
  RemoveListNode(&layer.node);
  PurgeDetachedBrushes(L);
  EXPECT_EQ(CountBrushes(), 0);
}

TEST_F(RecordsTest, FreeingABrushALayerShowsKeepsThePictureAndFreesTheId) {
  qvBrush* brush = MakeBrush(2, 0x333333);
  qvLayerHead layer{{nullptr, nullptr}, kObjectBrushPart, {2, nullptr}};
  BGPicWithLayer(&layer);

  ASSERT_EQ(ReleaseBrushId(L, {2, nullptr}, true), 0);
  EXPECT_TRUE(brush->layerCopy);
  EXPECT_EQ(layer.id.number, 0);
  EXPECT_EQ(layer.id.handle, brush);
  qvBrush* found = nullptr;
  EXPECT_EQ(FindBrush(L, {2, nullptr}, &found, 0), ERR_FINDBRUSH);
  qvBrush* again = MakeBrush(2, 0x444444);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(ReadBitMapPixel(brush->bitmap, 0, 0), 0x333333u);
  EXPECT_EQ(ReleaseBrushId(L, {9, nullptr}, true), ERR_FINDBRUSH);
  EXPECT_EQ(ReleaseBrushId(L, {9, nullptr}, false), 0);

  RemoveListNode(&layer.node);
  PurgeDetachedBrushes(L);
  EXPECT_EQ(CountBrushes(), 1);
  EXPECT_EQ(FindBrush(L, {2, nullptr}, &found, 0), 0);
  EXPECT_EQ(found, again);
}

TEST_F(RecordsTest, PlanesSharedBetweenSetsAreFreedOnce) {
  // The sanitizer build reports a plane freed twice; the plain build checks the sets.
  struct Case {
    const char* what;
    bool scaledOwn, currentOwn, currentIsScaled;
  };
  const Case kCases[] = {
      {"all three share", false, false, false},
      {"own scaled, current shares the original", true, false, false},
      {"own scaled, current is the scaled set", true, false, true},
      {"own scaled and own current", true, true, false},
  };
  for (const Case& c : kCases) {
    qvObjectId id{5, nullptr};
    qvBGPic* bgpic = nullptr;
    ASSERT_EQ(CreateColorBGPic(&id, false, 6, 4, 0, &bgpic), 0);
    bgpic->original.mask = AllocMask(6, 4, false);
    bgpic->scaled.mask = bgpic->current.mask = bgpic->original.mask;
    if (c.scaledOwn) bgpic->scaled = {AllocBitMap(3, 2), AllocMask(3, 2, true), nullptr};
    if (c.currentIsScaled) bgpic->current = bgpic->scaled;
    if (c.currentOwn)
      bgpic->current = {AllocBitMap(12, 8), nullptr, AllocAlphaChannel(12, 8, true)};
    EXPECT_EQ(DeleteBGPicNode(L, id, true), 0) << c.what;
  }
}

TEST_F(RecordsTest, DeletingABGPicThatALayerShowsKeepsIt) {
  qvObjectId id{3, nullptr};
  qvBGPic* shown = nullptr;
  ASSERT_EQ(CreateColorBGPic(&id, false, 4, 4, 0x0000FF, &shown), 0);
  qvLayerHead layer{{nullptr, nullptr}, kObjectBGPicPart, {3, nullptr}};
  BGPicWithLayer(&layer);
  ASSERT_EQ(DeleteBGPicNode(L, id, true), 0);
  EXPECT_TRUE(shown->layerCopy);
  EXPECT_EQ(layer.id.handle, shown);
  qvBGPic* found = nullptr;
  EXPECT_EQ(FindBGPic(L, id, &found, 0), ERR_FINDBGPIC);
  EXPECT_EQ(DeleteBGPicNode(L, id, true), ERR_FINDBGPIC);
  EXPECT_EQ(DeleteBGPicNode(L, id, false), 0);
  RemoveListNode(&layer.node);
}

TEST(DirtyRectsTest, MergeJoinsNeighboursWithinOnePixel) {
  struct Case {
    const char* what;
    std::vector<qvRect> in;
    std::vector<qvRect> out;  // the entries not absorbed, in order
  };
  const Case kCases[] = {
      // Edges are inclusive: x1 one past the other's x2 touches it, two past leaves a gap.
      {"touching merges", {{0, 0, 9, 9}, {10, 0, 20, 9}}, {{0, 0, 20, 9}}},
      {"overlap merges", {{0, 0, 9, 9}, {3, 2, 4, 12}}, {{0, 0, 9, 12}}},
      {"a pixel between stays apart",
       {{0, 0, 9, 9}, {11, 0, 20, 9}},
       {{0, 0, 9, 9}, {11, 0, 20, 9}}},
      {"diagonal within a pixel merges", {{0, 0, 4, 4}, {5, 5, 8, 8}}, {{0, 0, 8, 8}}},
      {"diagonal two pixels off", {{0, 0, 4, 4}, {6, 6, 8, 8}}, {{0, 0, 4, 4}, {6, 6, 8, 8}}},
      {"gap on one axis only", {{0, 0, 4, 4}, {0, 7, 4, 9}}, {{0, 0, 4, 4}, {0, 7, 4, 9}}},
      // One pass: the grown first entry takes the third, which the second could not reach.
      {"chain through the grown entry",
       {{0, 0, 4, 4}, {5, 0, 9, 4}, {10, 0, 14, 4}},
       {{0, 0, 14, 4}}},
      // An entry that grows later is not tested again against those before it.
      {"no second pass",
       {{20, 0, 24, 4}, {0, 0, 4, 4}, {5, 0, 9, 4}, {10, 0, 14, 4}, {15, 0, 18, 4}},
       {{20, 0, 24, 4}, {0, 0, 18, 4}}},
  };
  for (const Case& c : kCases) {
    std::vector<qvRect> entries = c.in;
    qvRectList list{entries.data(), static_cast<int32_t>(entries.size()),
                    static_cast<int32_t>(entries.size()) + 1};
    MergeDirtyRects(&list);
    std::vector<qvRect> kept;
    for (const qvRect& r : entries) {
      if (r.x1 != kAbsorbedRect) kept.push_back(r);
    }
    ASSERT_EQ(kept.size(), c.out.size()) << c.what;
    for (size_t i = 0; i < kept.size(); ++i) {
      EXPECT_EQ(std::memcmp(&kept[i], &c.out[i], sizeof(qvRect)), 0)
          << c.what << ": entry " << i << " is " << kept[i].x1 << "," << kept[i].y1 << ","
          << kept[i].x2 << "," << kept[i].y2;
    }
  }
}

TEST(PositionsTest, SpecialPositionsResolveAgainstTheArea) {
  struct Case {
    int32_t v, size, area;
    bool x;
    int32_t want;
  };
  const Case kCases[] = {
      {-100000 + 10, 100, 640, true, 280},
      {-95000, 100, 640, true, -95000},
      {-90000 + 5, 100, 640, true, 5},
      {-80000, 100, 640, true, 540},
      {-50000, 100, 640, true, -100},
      {-40000, 100, 640, true, 640},
      {-35000, 100, 640, true, -35000},
      {-70000, 50, 480, false, 0},
      {-60000, 50, 480, false, 430},
      {-30000, 50, 480, false, -50},
      {-20000 - 1, 50, 480, false, 479},
      {-90000, 50, 480, false, -90000},
      {17, 100, 640, true, 17},
  };
  for (const Case& c : kCases) {
    int32_t got = c.x ? ResolveCoordX(c.v, c.size, c.area, 0.0)
                      : ResolveCoordY(c.v, c.size, c.area, 0.0);
    EXPECT_EQ(got, c.want) << c.v;
  }
}

}  // namespace
}  // namespace qv
