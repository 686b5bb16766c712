// What is recomposed after a layer changes, on an open headless display whose compositor is a
// seam that logs every rectangle it is asked to recompose: the rectangle lists (merging, growth,
// the full-list rule), the bounds with border and shadow, the refresh or marking by output
// device, moves, swaps, uncovered layers and a re-rendered state's geometry.
#include "layers/layer_refresh.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/errors.h"
#include "base/support.h"
#include "core/layer_system.h"
#include "display/display.h"
#include "display/output.h"
#include "fixtures/display_setup.h"
#include "layers/compositor.h"
#include "layers/layers.h"
#include "platform/window_services.h"

namespace qv {

// Found by argument lookup in the records' own namespace; internal to this test.
static bool operator==(const qvLayerArea& a, const qvLayerArea& b) {
  return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}
static std::ostream& operator<<(std::ostream& os, const qvLayerArea& r) {
  return os << "{" << r.x << ", " << r.y << ", " << r.width << ", " << r.height << "}";
}

namespace {

constexpr int32_t kWidth = 200, kHeight = 100;

std::vector<qvLayerArea> gRedrawn;

void LogRedraw(qvScriptState*, qvDisplay*, qvBGPic*, qvBitMap*, int32_t x, int32_t y, int32_t width,
               int32_t height, int32_t, int32_t) {
  gRedrawn.push_back({x, y, width, height});
}

const qvLayerSystem kLoggingSystem = {
    nullptr,         CountBGPicLayers, IsObjectShownByLayer, RepointObjectLayers,
    SpritesMeetRect, LogRedraw,
};

class LayerRefreshTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ConfigureHeadlessScreen(qvScreenSetup{});
    ASSERT_EQ(test::OpenDisplayForTest(), 0);
    ASSERT_EQ(OpenLayerSystem(), 0);
    RegisterLayerSystem(&kLoggingSystem);
    display = test::OpenCurrentDisplay(L, {{"width", kWidth}, {"height", kHeight}});
    ASSERT_NE(display, nullptr);
    bgpic = display->bgpic;
    if (display->dirty.entries == nullptr) {
      display->dirty = {new qvRect[kDirtyListCapacity], 0, kDirtyListCapacity};
    }
    gRedrawn.clear();
  }
  void TearDown() override {
    DropMade();
    CloseLayerSystem();
    test::CloseDisplayForTest();
  }

  // A layer of w x h at (x, y) on top of the display's BGPic, its three states one record.
  qvLayer* Push(int32_t x, int32_t y, int32_t w, int32_t h, int32_t kind = kObjectBrush) {
    auto* layer = new qvLayer{};
    auto* s = new qvShapeLayerState{};
    s->x = s->anchoredX = s->drawX = x;
    s->y = s->anchoredY = s->drawY = y;
    s->width = s->drawWidth = w;
    s->height = s->drawHeight = h;
    layer->kind = kind;
    layer->transform.matrix[0] = layer->transform.matrix[3] = 1.0;
    layer->base = layer->previous = layer->current = s;
    AddListTail(&bgpic->layers, &layer->node);
    made.push_back(layer);
    return layer;
  }
  void DropMade() {
    for (qvLayer* layer : made) {
      RemoveListNode(&layer->node);
      ForEachDistinctState(layer, [&](qvLayerState* s) {
        FreeStateBuffers(L, s);
        delete static_cast<qvShapeLayerState*>(s);
      });
      delete layer;
    }
    made.clear();
  }
  // A distinct `current` state (a display-scaled render) beside the shared base and previous.
  static void SplitCurrent(qvLayer* layer) {
    auto* c = new qvShapeLayerState(*static_cast<qvShapeLayerState*>(layer->base));
    layer->current = c;
  }
  // The list from the bottom, each layer by its x (the layers of a case stand at 1, 2, 3...).
  std::vector<int32_t> Order() const {
    std::vector<int32_t> xs;
    for (qvLayer* l = FirstLayer(bgpic); l != nullptr; l = NextLayer(l)) xs.push_back(l->base->x);
    return xs;
  }

  qvScriptState* L = nullptr;
  qvDisplay* display = nullptr;
  qvBGPic* bgpic = nullptr;
  std::vector<qvLayer*> made;
};

// A list on its own array: capacity entries.
struct OwnList {
  explicit OwnList(int32_t capacity) : list{new qvRect[capacity], 0, capacity} {}
  ~OwnList() { delete[] list.entries; }
  qvRectList list;
};

// ---- lists, merging and the full-list rule ----

TEST_F(LayerRefreshTest, FlushMergesNeighboursAndRefreshesTheRestInOrder) {
  struct Case {
    const char* what;
    std::vector<qvLayerArea> added;
    std::vector<qvLayerArea> refreshed;
  };
  const Case cases[] = {
      // Edges one pixel apart (x2 14, x1 15) are neighbours; a free column between is not.
      {"neighbouring edges merge", {{10, 10, 5, 5}, {15, 10, 5, 5}}, {{10, 10, 10, 5}}},
      {"below neighbouring edges merge", {{10, 10, 5, 5}, {12, 15, 5, 5}}, {{10, 10, 7, 10}}},
      {"a free column keeps them apart",
       {{10, 10, 5, 5}, {16, 10, 5, 5}},
       {{10, 10, 5, 5}, {16, 10, 5, 5}}},
      {"a gap on one axis only is no neighbour",
       {{10, 10, 5, 5}, {16, 20, 5, 5}},
       {{10, 10, 5, 5}, {16, 20, 5, 5}}},
      {"a later entry joins an earlier one; the third stays",
       {{50, 50, 10, 10}, {0, 0, 4, 4}, {55, 55, 10, 10}},
       {{50, 50, 15, 15}, {0, 0, 4, 4}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OwnList own(16);
    for (const qvLayerArea& r : c.added) {
      AddRectToList(&own.list, r.x, r.y, r.width, r.height, false);
    }
    gRedrawn.clear();
    FlushDirtyRects(L, &own.list);
    EXPECT_EQ(gRedrawn, c.refreshed);
    EXPECT_EQ(own.list.count, 0);
  }
}

TEST_F(LayerRefreshTest, AFullListRefreshesTheWholeBGPicOnceAndNoStaleEntry) {
  // The display's own list, marked full by a rectangle that covers the BGPic after entries that
  // were recorded before (which the mark makes stale).
  AddDirtyRect(10, 10, 5, 5);
  AddDirtyRect(30, 30, 5, 5);
  AddDirtyRect(0, 0, kWidth, kHeight);
  ASSERT_EQ(display->dirty.count, display->dirty.capacity);
  FlushDirtyRects(L, &display->dirty);
  EXPECT_EQ(gRedrawn, (std::vector<qvLayerArea>{{0, 0, kWidth, kHeight}}));
  EXPECT_EQ(display->dirty.count, 0);
}

// The selection's end flushes the display's list itself: full, it brings the whole picture to
// the window once instead of walking entries that the mark made stale.
TEST_F(LayerRefreshTest, TheSelectionsEndShowsAFullListOnceAsTheWholePicture) {
  display->outputType = kOutputBGPic;
  AddDirtyRect(10, 10, 5, 5);
  AddDirtyRect(0, 0, kWidth, kHeight);
  ASSERT_EQ(display->dirty.count, display->dirty.capacity);
  RecordWindowCalls(true);
  ASSERT_EQ(EndSelectOutput(L, display, false), 0);
  std::vector<qvWindowCallRecord> blits = test::TakeBlits();
  RecordWindowCalls(false);
  ASSERT_EQ(blits.size(), 1u);
  EXPECT_EQ((qvLayerArea{blits[0].x, blits[0].y, blits[0].width, blits[0].height}),
            (qvLayerArea{0, 0, kWidth, kHeight}));
  EXPECT_EQ(display->dirty.count, 0);
  EXPECT_EQ(display->outputType, kOutputDisplay);
}

TEST_F(LayerRefreshTest, AListThatCannotTakeARectangleBecomesFull) {
  OwnList own(3);
  AddRectToList(&own.list, 1, 1, 2, 2, false);
  AddRectToList(&own.list, 150, 80, 2, 2, false);
  // No growth asked: the third rectangle takes the last slot, which marks the list full...
  AddRectToList(&own.list, 100, 50, 2, 2, false);
  EXPECT_EQ(own.list.count, own.list.capacity);
  // ...and a fourth is covered by that mark, not lost.
  AddRectToList(&own.list, 60, 60, 2, 2, true);
  EXPECT_EQ(own.list.count, own.list.capacity);
  FlushDirtyRects(L, &own.list);
  EXPECT_EQ(gRedrawn, (std::vector<qvLayerArea>{{0, 0, kWidth, kHeight}}));
}

TEST_F(LayerRefreshTest, AGrowingListKeepsEveryRectangleAndAMarkedOneStaysFull) {
  OwnList own(kDirtyListCapacity);
  qvRectList& list = own.list;
  // 1100 rectangles two pixels apart along rows: none merges, none is lost.
  for (int32_t i = 0; i < 1100; ++i) AddRectToList(&list, (i % 50) * 3, i / 50 * 3, 1, 1, true);
  EXPECT_EQ(list.count, 1100);
  EXPECT_GT(list.capacity, list.count);
  for (int32_t i = 0; i < 1100; ++i) {
    ASSERT_EQ(list.entries[i].x1, (i % 50) * 3) << i;
  }
  FlushDirtyRects(L, &list);
  EXPECT_EQ(gRedrawn.size(), 1100u);
  // A list marked full does not grow out of its mark: its old entries are stale.
  gRedrawn.clear();
  AddRectToList(&list, 5, 5, 1, 1, true);
  list.count = list.capacity;
  AddRectToList(&list, 7, 7, 1, 1, true);
  EXPECT_EQ(list.count, list.capacity);
  FlushDirtyRects(L, &list);
  EXPECT_EQ(gRedrawn, (std::vector<qvLayerArea>{{0, 0, kWidth, kHeight}}));
}

TEST_F(LayerRefreshTest, EmptyRectanglesAreNotRecorded) {
  OwnList own(4);
  AddRectToList(&own.list, 5, 5, 0, 3, true);
  AddRectToList(&own.list, 5, 5, 3, -1, true);
  EXPECT_EQ(own.list.count, 0);
}

TEST_F(LayerRefreshTest, RefreshOrMarkRectByOutputType) {
  struct Case {
    int32_t outputType;
    size_t redrawn, marked;
  };
  const Case cases[] = {
      {kOutputDisplay, 1, 0}, {kOutputBGPic, 0, 1}, {kOutputPicture, 0, 0}, {kOutputMask, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.outputType);
    gRedrawn.clear();
    display->dirty.count = 0;
    display->outputType = c.outputType;
    RefreshOrMarkRect(L, 5, 6, 7, 8);
    EXPECT_EQ(gRedrawn.size(), c.redrawn);
    ASSERT_EQ(static_cast<size_t>(display->dirty.count), c.marked);
    if (c.marked != 0) {
      const qvRect& r = display->dirty.entries[0];
      EXPECT_EQ((qvLayerArea{r.x1, r.y1, r.x2 - r.x1 + 1, r.y2 - r.y1 + 1}),
                (qvLayerArea{5, 6, 7, 8}));
    }
  }
  display->outputType = kOutputDisplay;
}

// A batch list while a BGPic is the output is recorded for the selection's end, merged.
TEST_F(LayerRefreshTest, ABatchFlushedWhileABGPicIsTheOutputGoesToTheDirtyList) {
  qvRectList* batch = LayerBatchList();
  ASSERT_NE(batch->entries, nullptr);
  ResetLayerBatchList();
  AddRectToList(batch, 10, 10, 10, 10, true);
  AddRectToList(batch, 15, 15, 10, 10, true);
  display->outputType = kOutputBGPic;
  display->dirty.count = 0;
  FlushDirtyRects(L, batch);
  display->outputType = kOutputDisplay;
  EXPECT_TRUE(gRedrawn.empty());
  ASSERT_EQ(display->dirty.count, 1);
  EXPECT_EQ(display->dirty.entries[0].x2, 24);
  FlushDirtyRects(L, &display->dirty);
  EXPECT_EQ(gRedrawn, (std::vector<qvLayerArea>{{10, 10, 15, 15}}));
}

// ---- bounds ----

TEST_F(LayerRefreshTest, BoundsTakeInTheBorderAndTheShadowInItsDirection) {
  qvLayer* layer = Push(50, 40, 20, 10);
  struct Case {
    const char* what;
    bool border, shadow;
    int32_t direction;
    qvLayerArea bounds;
  };
  // Border size 3; shadow radius 2.7 (2 whole pixels) and size 4.
  const Case cases[] = {
      {"plain", false, false, 0, {50, 40, 20, 10}},
      {"border", true, false, 0, {47, 37, 26, 16}},
      {"shadow up", false, true, 0, {48, 34, 24, 16}},
      {"shadow up right", false, true, 1, {50, 34, 26, 16}},
      {"shadow right", false, true, 2, {50, 38, 26, 14}},
      {"shadow down right", false, true, 3, {50, 40, 26, 16}},
      {"shadow down", false, true, 4, {48, 40, 24, 16}},
      {"shadow down left", false, true, 5, {44, 40, 26, 16}},
      {"shadow left", false, true, 6, {44, 38, 26, 14}},
      {"shadow up left", false, true, 7, {44, 34, 26, 16}},
      // The shadow of a bordered layer is cast by the bordered rectangle.
      {"border and shadow down right", true, true, 3, {47, 37, 32, 22}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    layer->border = {c.border ? 1 : 0, 0, 3};
    layer->shadow = {c.shadow ? 1 : 0, 0x80000000u, 4, c.direction, 2.7, 1.0};
    EXPECT_EQ(GetLayerBounds(display, bgpic, layer, layer->current), c.bounds);
  }
}

TEST_F(LayerRefreshTest, OnlyTheDisplayScaledStateCastsItsShadowAtTheDisplaysScale) {
  qvLayer* layer = Push(50, 40, 20, 10);
  layer->shadow = {1, 0x80000000u, 4, 3, 1.0, 1.0};
  SplitCurrent(layer);
  display->layerScale = 1;
  display->scaleX = 2.0;
  display->scaleY = 1.5;
  // Radius 1 round (49, 39, 22, 12); moved 8 right and 6 down scaled, 4 and 4 unscaled.
  EXPECT_EQ(LayerShadowRect(display, bgpic, layer, layer->current), (qvLayerArea{57, 45, 22, 12}));
  EXPECT_EQ(LayerShadowRect(display, bgpic, layer, layer->previous), (qvLayerArea{53, 43, 22, 12}));
  display->layerScale = 0;
  display->scaleX = display->scaleY = 1.0;
}

TEST_F(LayerRefreshTest, ABuiltBorderGivesItsOwnRectangleAndATurnedOneReachesFurther) {
  qvLayer* layer = Push(50, 40, 20, 10);
  layer->border = {1, 0, 3};
  qvLayerState* s = layer->current;
  // The compositor built it 5 pixels out to the left and top, 30 x 19.
  s->bordered.bitmap = AllocBitMap(30, 19);
  s->borderOffsetX = 5;
  s->borderOffsetY = 5;
  s->borderWidth = 30;
  s->borderHeight = 19;
  EXPECT_EQ(GetLayerBounds(display, bgpic, layer, s), (qvLayerArea{45, 35, 30, 19}));
  FreeBitMap(s->bordered.bitmap);
  s->bordered.bitmap = nullptr;
  // Turned by 45 degrees, not built yet: more than the plain size on every side.
  const double c = 0.70710678;
  layer->transform.matrix[0] = c;
  layer->transform.matrix[1] = -c;
  layer->transform.matrix[2] = c;
  layer->transform.matrix[3] = c;
  qvLayerArea turned = GetLayerBounds(display, bgpic, layer, s);
  EXPECT_LT(turned.x, 47);
  EXPECT_LT(turned.y, 37);
  EXPECT_GT(int64_t{turned.x} + turned.width, 73);
}

TEST_F(LayerRefreshTest, TheRecordsRefreshTheBoundsWithTheShadow) {
  // A new layer with a shadow is refreshed by the records themselves: with the shadow its area
  // reaches 4 pixels lower and 2 wider on each side.
  qvLayerOptions options{};
  options.shadow = {1, 0x80000000u, 4, 4, 2.0, 1.0};
  options.border.size = 2;
  qvLayerRequest r;
  r.bgpic = bgpic;
  r.display = display;
  r.type = kObjectBrush;
  r.x = 50;
  r.y = 40;
  r.width = 20;
  r.height = 10;
  r.options = &options;
  r.state = AllocLayerState(kObjectBrush);
  ASSERT_NE(r.state, nullptr);
  r.state->x = 50;
  r.state->y = 40;
  r.state->width = 20;
  r.state->height = 10;
  qvLayer* layer = nullptr;
  ASSERT_EQ(CreateLayerRecord(L, r, &layer), 0);
  EXPECT_EQ(gRedrawn, (std::vector<qvLayerArea>{{48, 40, 24, 16}}));
  gRedrawn.clear();
  DeleteLayerRecord(L, bgpic, layer, false);
  EXPECT_EQ(gRedrawn, (std::vector<qvLayerArea>{{48, 40, 24, 16}}));
}

TEST_F(LayerRefreshTest, UncoveredMeansNoDrawnLayerAboveOverlaps) {
  qvLayer* bottom = Push(10, 10, 20, 20);
  qvLayer* above = Push(30, 10, 5, 5);  // touches the right edge, no overlap
  EXPECT_TRUE(IsLayerUncovered(bgpic, bottom));
  above->current->drawX = 29;
  EXPECT_FALSE(IsLayerUncovered(bgpic, bottom));
  above->hidden = 1;
  EXPECT_TRUE(IsLayerUncovered(bgpic, bottom));
  above->hidden = 0;
  above->skipDraw = 1;
  EXPECT_TRUE(IsLayerUncovered(bgpic, bottom));
  above->skipDraw = 0;
  // What lies below never covers.
  EXPECT_TRUE(IsLayerUncovered(bgpic, above));
}

// ---- moves ----

TEST_F(LayerRefreshTest, MovesByAbsoluteRelativeAndKeptCoordinates) {
  struct Case {
    const char* what;
    int32_t x, y, flags;
    int32_t toX, toY;
    qvLayerArea area;
  };
  // The layer is 10 x 8 at (20, 30).
  const Case cases[] = {
      {"the pair moves nothing",
       kLayerKeepPosition,
       kLayerKeepPosition,
       0,
       20,
       30,
       {20, 30, 10, 8}},
      {"absolute", 25, 31, 0, 25, 31, {20, 30, 15, 9}},
      {"x kept", kLayerKeepPosition, 40, 0, 20, 40, {20, 30, 10, 18}},
      {"y kept", 0, kLayerKeepPosition, 0, 0, 30, {0, 30, 30, 8}},
      {"x relative", -5, 35, kMoveRelativeX, 15, 35, {15, 30, 15, 13}},
      {"both relative", 3, -3, kMoveRelativeX | kMoveRelativeY, 23, 27, {20, 27, 13, 11}},
      {"far apart: one box round both", 150, 80, 0, 150, 80, {20, 30, 140, 58}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    qvLayer* layer = Push(20, 30, 10, 8);
    gRedrawn.clear();
    qvLayerArea area{};
    MoveLayerCore(L, bgpic, layer, nullptr, c.x, c.y, false, c.flags, nullptr, &area);
    EXPECT_EQ(layer->base->x, c.toX);
    EXPECT_EQ(layer->base->y, c.toY);
    EXPECT_EQ(layer->current->drawX, c.toX);
    EXPECT_EQ(area, c.area);
    EXPECT_EQ(gRedrawn, std::vector<qvLayerArea>{c.area});
    layer->hidden = 1;  // out of the next case's way
  }
}

TEST_F(LayerRefreshTest, AMoveKeepsTheAnchorOffsetAndScalesADistinctCurrent) {
  qvLayer* layer = Push(0, 0, 40, 20);
  layer->anchorX = 0.5;
  layer->anchorY = 0.25;
  qvLayerState* base = layer->base;
  // A transform render stands 3 left of the anchored corner.
  base->anchoredX = -20;
  base->anchoredY = -5;
  base->drawX = -23;
  base->drawY = -5;
  SplitCurrent(layer);
  display->scaleX = 1.5;
  display->scaleY = 2.0;
  MoveLayerCore(L, bgpic, layer, nullptr, 60, 30, true, 0, nullptr);
  EXPECT_EQ(base->anchoredX, 40);
  EXPECT_EQ(base->anchoredY, 25);
  EXPECT_EQ(base->drawX, 37);
  EXPECT_EQ(base->drawY, 25);
  EXPECT_EQ(layer->current->drawX, 55);  // trunc(37 * 1.5)
  EXPECT_EQ(layer->current->drawY, 50);
  EXPECT_TRUE(gRedrawn.empty());  // noRefresh
  display->scaleX = display->scaleY = 1.0;
}

TEST_F(LayerRefreshTest, ALineMovesItsEndPoints) {
  qvLayer* layer = Push(10, 10, 21, 11, kObjectLine);
  auto* line = static_cast<qvShapeLayerState*>(layer->base);
  line->x1 = 10;
  line->y1 = 10;
  line->x2 = 30;
  line->y2 = 20;
  layer->anchorX = 0.5;  // no anchor shifts a line
  MoveLayerCore(L, bgpic, layer, nullptr, 15, 5, true, 0, nullptr);
  EXPECT_EQ((std::vector<int32_t>{line->x1, line->y1, line->x2, line->y2}),
            (std::vector<int32_t>{15, 5, 35, 15}));
  EXPECT_EQ(layer->base->drawX, 15);
}

TEST_F(LayerRefreshTest, AMoveWithEffectsCoversOldAndNewBoundsAndCanGoToAList) {
  qvLayer* layer = Push(20, 20, 10, 10);
  layer->shadow = {1, 0x80000000u, 5, 3, 1.0, 1.0};  // 1 round, 5 down and right
  OwnList own(8);
  MoveLayerCore(L, bgpic, layer, nullptr, 40, 20, false, 0, &own.list);
  EXPECT_TRUE(gRedrawn.empty());
  ASSERT_EQ(own.list.count, 1);
  const qvRect& r = own.list.entries[0];
  // Old shadow from (24, 24) to (36, 36) exclusive; new one reaches (56, 36).
  EXPECT_EQ((std::vector<int32_t>{r.x1, r.y1, r.x2, r.y2}), (std::vector<int32_t>{20, 20, 55, 35}));
}

TEST_F(LayerRefreshTest, AMoveRefreshesAtLeastTheOldRectangleSize) {
  qvLayer* layer = Push(20, 20, 10, 10);
  qvLayerArea old{0, 0, 30, 12};  // the object was larger before it changed
  MoveLayerCore(L, bgpic, layer, &old, kLayerKeepPosition, kLayerKeepPosition, false, 0, nullptr);
  EXPECT_EQ(gRedrawn, (std::vector<qvLayerArea>{{20, 20, 30, 12}}));
}

// ---- swaps ----

TEST_F(LayerRefreshTest, SwapsExchangeNodesAdjacentOrNot) {
  struct Case {
    int32_t a, b;
    std::vector<int32_t> order;
  };
  const Case cases[] = {
      {2, 3, {1, 3, 2, 4}}, {3, 2, {1, 3, 2, 4}}, {1, 4, {4, 2, 3, 1}}, {4, 1, {4, 2, 3, 1}},
      {1, 2, {2, 1, 3, 4}}, {3, 4, {1, 2, 4, 3}}, {2, 4, {1, 4, 3, 2}}, {2, 2, {1, 2, 3, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.a) + " with " + std::to_string(c.b));
    for (int32_t i = 1; i <= 4; ++i) Push(i, 0, 5, 5);
    bgpic->layersChanged = 0;
    EXPECT_EQ(SwapLayersCore(L, bgpic, c.a, c.b), 0);
    EXPECT_EQ(Order(), c.order);
    EXPECT_EQ(bgpic->layersChanged, 1);
    // The links back agree with the links forward.
    std::vector<int32_t> backwards;
    for (qvNode* n = bgpic->layers.tailPred; n->prev != nullptr; n = n->prev) {
      backwards.insert(backwards.begin(), LayerOfNode(n)->base->x);
    }
    EXPECT_EQ(backwards, c.order);
    DropMade();
  }
}

TEST_F(LayerRefreshTest, SwapOutOfRangeChangesNothing) {
  for (int32_t i = 1; i <= 3; ++i) Push(i, 0, 5, 5);
  for (auto [a, b] : std::vector<std::pair<int32_t, int32_t>>{{0, 2}, {1, 4}, {-1, 1}, {4, 4}}) {
    EXPECT_EQ(SwapLayersCore(L, bgpic, a, b), ERR_LAYERRANGE);
  }
  EXPECT_EQ(Order(), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_TRUE(gRedrawn.empty());
}

TEST_F(LayerRefreshTest, ASwapRefreshesBothBoundsUnlessOneIsOffTheBGPic) {
  qvLayer* a = Push(10, 10, 20, 20);
  qvLayer* b = Push(25, 15, 20, 20);
  b->border = {1, 0, 2};
  ASSERT_EQ(SwapLayersCore(L, bgpic, 1, 2), 0);
  EXPECT_EQ(gRedrawn, (std::vector<qvLayerArea>{{10, 10, 37, 27}}));
  gRedrawn.clear();
  a->current->drawX = kWidth + 5;  // wholly right of the BGPic
  ASSERT_EQ(SwapLayersCore(L, bgpic, 1, 2), 0);
  EXPECT_TRUE(gRedrawn.empty());
}

// ---- geometry of a re-rendered state ----

TEST_F(LayerRefreshTest, GeometryResizesTheRenderAndRefreshesOldAndNew) {
  qvLayer* layer = Push(20, 20, 10, 10);
  layer->anchorX = 0.5;  // of the base width 10: 5 to the left
  qvLayerState* s = layer->current;
  s->render.bitmap = AllocBitMap(10, 10);
  s->render.alpha = AllocAlphaChannel(10, 10, true);
  s->filtered.bitmap = AllocBitMap(10, 10);
  qvLayerGeometryRect rect{0, 0, -1, 0, 0};
  ASSERT_EQ(SetLayerGeometry(L, bgpic, layer, &rect, 40, 20, 30, 6, nullptr, nullptr, nullptr, 0),
            0);
  EXPECT_EQ((qvLayerArea{rect.x, rect.y, rect.width, rect.height}), (qvLayerArea{20, 20, 10, 10}));
  EXPECT_EQ(LayerDrawRect(s), (qvLayerArea{35, 20, 30, 6}));
  ASSERT_NE(s->render.bitmap, nullptr);
  EXPECT_EQ(s->render.bitmap->width, 30);
  EXPECT_EQ(s->render.bitmap->height, 6);
  ASSERT_NE(s->render.alpha, nullptr);
  EXPECT_EQ(s->render.mask, nullptr);  // only the planes it had
  EXPECT_EQ(s->filtered.bitmap, nullptr);
  EXPECT_EQ(gRedrawn, (std::vector<qvLayerArea>{{20, 20, 45, 10}}));
}

TEST_F(LayerRefreshTest, GeometryOfALineAndWithoutRefresh) {
  qvLayer* line = Push(20, 20, 10, 10, kObjectLine);
  line->anchorX = 0.5;
  qvLayerGeometryRect rect{0, 0, 0, 0, 0};
  ASSERT_EQ(SetLayerGeometry(L, bgpic, line, &rect, 50, 60, 8, 8, nullptr, nullptr, nullptr,
                             kGeometryKeepLinePosition),
            0);
  EXPECT_EQ(LayerDrawRect(line->current), (qvLayerArea{20, 20, 8, 8}));
  ASSERT_EQ(SetLayerGeometry(L, bgpic, line, &rect, 50, 60, 8, 8, nullptr, nullptr, nullptr, 0), 0);
  EXPECT_EQ(LayerDrawRect(line->current), (qvLayerArea{50, 60, 8, 8}));
  EXPECT_EQ(gRedrawn.size(), 2u);
  gRedrawn.clear();
  struct Quiet {
    const char* what;
    int32_t hidden, skipDraw, noRefresh;
  };
  for (const Quiet& q : {Quiet{"hidden", 1, 0, 0}, Quiet{"never drawn", 0, 1, 0},
                         Quiet{"no refresh asked", 0, 0, 1}}) {
    SCOPED_TRACE(q.what);
    line->hidden = q.hidden;
    line->skipDraw = q.skipDraw;
    rect.noRefresh = q.noRefresh;
    ASSERT_EQ(SetLayerGeometry(L, bgpic, line, &rect, 1, 2, 3, 4, nullptr, nullptr, nullptr, 0), 0);
    EXPECT_TRUE(gRedrawn.empty());
  }
}

}  // namespace
}  // namespace qv
