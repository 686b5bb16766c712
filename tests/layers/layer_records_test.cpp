// The layer records without a script: creation with its insert positions, anchors, refresh rule
// and rollback, layer names, the distinct-state walk that frees each state once, copy-on-write
// re-rendering at a display's scale and its revert, and the text-rotation classifier. The
// sanitizer build checks that every state, name and picture is freed exactly once.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/errors.h"
#include "base/support.h"
#include "core/errors.h"
#include "core/layer_system.h"
#include "core/registry.h"
#include "display/display.h"
#include "layers/layers.h"
#include "vm/vm.h"

namespace qv {
namespace {

// What the hooks saw; a render fails with ERR_MEM once `failRender` renders have passed.
struct HookLog {
  int renders = 0;
  int failRender = -1;
  std::vector<int32_t> renderFlags;
  std::vector<qvLayer*> refreshed;
  std::vector<qvLayer*> removed;
};
HookLog gLog;

// A render of the state's draw size, made when the state has none (the buffers a re-render
// takes over are kept).
int Render(qvScriptState*, qvDisplay*, qvLayer*, qvLayerState* state, const qvTransformBlock&,
           int32_t flags) {
  if (gLog.failRender >= 0 && gLog.renders == gLog.failRender) return ERR_MEM;
  ++gLog.renders;
  gLog.renderFlags.push_back(flags);
  if (state->render.bitmap == nullptr) {
    state->render.bitmap = AllocBitMap(std::max(state->drawWidth, 1),
                                       std::max(state->drawHeight, 1));
    if (state->render.bitmap == nullptr) return ERR_MEM;
    state->render.alpha = AllocAlphaChannel(std::max(state->drawWidth, 1),
                                            std::max(state->drawHeight, 1), true);
    if (state->render.alpha == nullptr) return ERR_MEM;  // the state's free takes the bitmap
  }
  return 0;
}
void Refresh(qvScriptState*, qvBGPic*, qvLayer* layer) { gLog.refreshed.push_back(layer); }
void Notify(int32_t message, qvLayer* layer) {
  if (message == kAsyncDrawLayerRemoved) gLog.removed.push_back(layer);
}

class LayerRecordsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    L = VmOpenState(CoreVmHost());
    SetProcessVm(L);
    ASSERT_EQ(OpenDisplaySubsystem(), 0);
    ASSERT_EQ(OpenLayerSystem(), 0);
    qvLayerHooks hooks{Render, Refresh, Notify, nullptr};
    SetLayerHooks(&hooks);
    gLog = HookLog{};
    qvObjectId id{1, nullptr};
    ASSERT_EQ(CreateColorBGPic(&id, false, 64, 48, 0, &bgpic), 0);
  }
  void TearDown() override {
    SetLayerAllocFault(0);
    SetImageAllocFault(0);
    FreeLayerList(L, bgpic, true, true);
    SetLayerHooks(nullptr);
    CloseLayerSystem();
    FreeDisplaySubsystem(L);
    FreeRegistries();
    SetProcessVm(nullptr);
    VmCloseState(L);
  }

  // A brush layer of 10 x 20 at (x, y) with the options and transform given; the code of the
  // creation.
  int Add(int32_t x, int32_t y, const qvLayerOptions* options = nullptr,
          const qvTransformBlock* transform = nullptr, int32_t insertPos = kInsertOnTop,
          int32_t flags = 0, qvLayer** out = nullptr, int32_t type = kObjectBrush) {
    qvLayerRequest r;
    r.bgpic = bgpic;
    r.display = display;
    r.type = type;
    r.objectId = {7, nullptr};
    r.x = x;
    r.y = y;
    r.width = 10;
    r.height = 20;
    r.transform = transform;
    r.options = options;
    r.state = AllocLayerState(type);
    if (r.state != nullptr) {
      r.state->x = x;
      r.state->y = y;
      r.state->width = 10;
      r.state->height = 20;
      if (type == kObjectPolygon) {
        auto* shape = static_cast<qvShapeLayerState*>(r.state);
        shape->vertices = static_cast<double*>(std::calloc(6, sizeof(double)));
        shape->vertexCount = 3;
      }
    }
    // Pixels of the layer's own, which a failed creation must free.
    r.bitmap = AllocBitMap(10, 20);
    r.mask = AllocMask(10, 20, true);
    r.insertPos = insertPos;
    r.flags = flags;
    // Armed here: the request's own records are the caller's, made before the creation.
    SetLayerAllocFault(layerFault);
    SetImageAllocFault(imageFault);
    int code = CreateLayerRecord(L, r, out);
    SetLayerAllocFault(0);
    SetImageAllocFault(0);
    return code;
  }
  // The x of each layer from the bottom: which layer stands where.
  std::vector<int32_t> Order() const {
    std::vector<int32_t> xs;
    for (qvLayer* l = FirstLayer(bgpic); l != nullptr; l = NextLayer(l)) xs.push_back(l->base->x);
    return xs;
  }
  static qvLayerOptions Options() {
    qvLayerOptions o;
    InitLayerOptions(&o);
    return o;
  }
  static qvTransformBlock Turned(double degrees) {
    qvTransformBlock t;
    InitTransformBlock(&t);
    BuildTransformMatrix(&t, 0, 0, 10, 20, 1.0, 1.0, degrees);
    return t;
  }

  qvScriptState* L = nullptr;
  qvBGPic* bgpic = nullptr;
  qvDisplay* display = nullptr;
  int64_t layerFault = 0, imageFault = 0;  // the allocation of the creation that fails
};

TEST_F(LayerRecordsTest, InsertPositions) {
  ASSERT_EQ(Add(1, 0), 0);
  ASSERT_EQ(Add(2, 0), 0);
  ASSERT_EQ(Add(3, 0), 0);
  struct Case {
    const char* what;
    int32_t insertPos;     // the caller's
    int32_t optionsPos;    // the options' (0: none)
    int32_t wantPosition;  // where the new layer stands among the four
  };
  const Case cases[] = {
      {"on top", kInsertOnTop, 0, 4},
      {"at the bottom", 1, 0, 1},
      {"after the first", 2, 0, 2},
      {"beyond the count: on top", 9, 0, 4},
      {"the options' position wins", kInsertOnTop, 2, 2},
      {"the options' position beyond count + 1 is count + 1", 1, 40, 4},
      {"the options' 0 leaves the caller's", 1, 0, 1},
  };
  for (const Case& c : cases) {
    qvLayerOptions o = Options();
    o.insertPos = c.optionsPos;
    qvLayer* layer = nullptr;
    ASSERT_EQ(Add(100, 0, &o, nullptr, c.insertPos, 0, &layer), 0) << c.what;
    EXPECT_EQ(GetLayerPosition(bgpic, layer), c.wantPosition) << c.what;
    EXPECT_EQ(CountBGPicLayers(bgpic), 4) << c.what;
    DeleteLayerRecord(L, bgpic, layer, true);
    EXPECT_EQ(Order(), (std::vector<int32_t>{1, 2, 3})) << c.what;
  }
  EXPECT_EQ(GetLayerByIndex(bgpic, 0), nullptr);
  EXPECT_EQ(GetLayerByIndex(bgpic, 4), nullptr);
  EXPECT_EQ(GetLayerByIndex(bgpic, 3)->base->x, 3);
  EXPECT_EQ(GetLayerPosition(bgpic, nullptr), -1);
  EXPECT_EQ(bgpic->layersChanged, 1);
}

TEST_F(LayerRecordsTest, TheRefreshRule) {
  ASSERT_EQ(Add(0, 0), 0);
  qvTransformBlock turned = Turned(30);
  struct Case {
    const char* what;
    int32_t insertPos;
    int32_t flags;
    bool turn;
    int32_t transparency;
    bool shadow, hidden;
    bool refreshed;
  };
  const Case cases[] = {
      {"a plain top layer was blitted already", kInsertOnTop, 0, false, 0, false, false, false},
      {"a layer under another", 1, 0, false, 0, false, false, true},
      {"a transformed top layer is rendered", kInsertOnTop, 0, true, 0, false, false, true},
      {"... unless told not to", kInsertOnTop, kLayerNoRefresh, true, 0, false, false, false},
      {"a transparent top layer", kInsertOnTop, 0, false, 40, false, false, true},
      {"a top layer with a shadow", kInsertOnTop, 0, false, 0, true, false, true},
      {"a hidden layer under another", 1, kLayerHidden, false, 0, false, false, false},
      {"a layer hidden by its options", 1, 0, false, 0, true, true, false},
  };
  for (const Case& c : cases) {
    qvLayerOptions o = Options();
    o.transparency = c.transparency;
    o.shadow.on = c.shadow;
    o.hidden = c.hidden;
    gLog.refreshed.clear();
    qvLayer* layer = nullptr;
    ASSERT_EQ(Add(5, 5, &o, c.turn ? &turned : nullptr, c.insertPos, c.flags, &layer), 0) << c.what;
    EXPECT_EQ(gLog.refreshed.size(), c.refreshed ? 1u : 0u) << c.what;
    EXPECT_EQ(layer->hidden, (c.flags & kLayerHidden) || c.hidden ? 1 : 0) << c.what;
    DeleteLayerRecord(L, bgpic, layer, true);
  }
  // Deleting refreshes the area with the layer standing in as a placeholder that is not drawn.
  qvLayer* layer = nullptr;
  ASSERT_EQ(Add(5, 5, nullptr, nullptr, kInsertOnTop, 0, &layer), 0);
  static int32_t seenKind;
  qvLayerHooks hooks{Render, [](qvScriptState*, qvBGPic*, qvLayer* l) { seenKind = l->kind; },
                     Notify, nullptr};
  SetLayerHooks(&hooks);
  seenKind = -1;
  DeleteLayerRecord(L, bgpic, layer, false);
  EXPECT_EQ(seenKind, kObjectNoObject);
}

TEST_F(LayerRecordsTest, AnchorsMoveTheCornerButNotALine) {
  qvTransformBlock anchored;
  InitTransformBlock(&anchored);
  anchored.anchorX = 0.5;
  anchored.anchorY = 1.0;
  qvLayer* brush = nullptr;
  ASSERT_EQ(Add(100, 50, nullptr, &anchored, kInsertOnTop, 0, &brush), 0);
  EXPECT_EQ(brush->base->anchoredX, 95);
  EXPECT_EQ(brush->base->anchoredY, 30);
  EXPECT_EQ(brush->base->drawX, 95);
  EXPECT_EQ(brush->base->drawY, 30);
  EXPECT_EQ(brush->anchorX, 0.5);
  qvLayer* line = nullptr;
  ASSERT_EQ(Add(100, 50, nullptr, &anchored, kInsertOnTop, 0, &line, kObjectLine), 0);
  EXPECT_EQ(line->base->drawX, 100);
  EXPECT_EQ(line->base->drawY, 50);
  // Without options: the default shadow and border blocks.
  EXPECT_EQ(line->shadow.colour, 0x80000000u);
  EXPECT_EQ(line->border.size, 2);
  EXPECT_EQ(line->id.number, 7);
  EXPECT_EQ(line->sourceId.number, 7);
}

TEST_F(LayerRecordsTest, LayerNames) {
  qvLayer* sky = nullptr;
  qvLayer* sea = nullptr;
  qvLayerOptions named = Options();
  std::strcpy(named.name, "Sky");
  ASSERT_EQ(Add(1, 0, &named, nullptr, kInsertOnTop, 0, &sky), 0);
  ASSERT_EQ(Add(2, 0, nullptr, nullptr, kInsertOnTop, 0, &sea), 0);
  std::strcpy(sea->group, "waves");
  const std::string longest(255, 'x');
  struct Case {
    const char* what;
    qvLayer** layer;
    std::string name;
    int code;
  };
  const Case cases[] = {
      {"another layer's name, in other case", &sea, "SKY", ERR_NAMEUSED},
      {"another layer's group name", &sky, "Waves", ERR_NAMEUSED},
      {"its own group name", &sea, "waves", 0},
      {"its own name again", &sky, "sky", 0},
      {"255 characters", &sea, longest, 0},
      {"256 characters", &sea, longest + "x", ERR_NAMETOOLONG},
  };
  for (const Case& c : cases) {
    std::string before = (*c.layer)->name != nullptr ? (*c.layer)->name : "";
    EXPECT_EQ(SetLayerNameCore(bgpic, *c.layer, c.name.c_str()), c.code) << c.what;
    std::string after = (*c.layer)->name != nullptr ? (*c.layer)->name : "";
    EXPECT_EQ(after, c.code == 0 ? c.name : before) << c.what;
  }
  // Look-ups without regard to case; a position is taken as it is.
  EXPECT_EQ(FindLayerByName(bgpic, "SKY"), 1);
  EXPECT_EQ(FindLayerByName(bgpic, "waves"), 0);  // a group is no name
  // The core's question goes to the layers of the BGPic the current display shows.
  qvDisplay shown{};
  shown.bgpic = bgpic;
  qvDisplay* before = CurrentDisplay();
  SetCurrentDisplay(&shown);
  EXPECT_EQ(FindLayerByName("sky"), 1);
  EXPECT_EQ(FindLayerByName("moon"), 0);
  SetCurrentDisplay(before);
  int32_t position = -5;
  EXPECT_EQ(FindLayer(bgpic, {qvLayerArg::kName, 0, "sKy", 1}, &position), 0);
  EXPECT_EQ(position, 1);
  EXPECT_EQ(FindLayer(bgpic, {qvLayerArg::kNumber, 9.7, nullptr, 1}, &position), 0);
  EXPECT_EQ(position, 9);
  EXPECT_EQ(FindLayer(bgpic, {qvLayerArg::kNumber, 0, nullptr, 1}, &position), 0);
  EXPECT_EQ(position, 0);
  EXPECT_EQ(FindLayer(bgpic, {qvLayerArg::kName, 0, "moon", 1}, &position), ERR_FINDLAYER);
  EXPECT_STREQ(GetErrorString(), "moon");
  EXPECT_EQ(FindLayer(bgpic, {qvLayerArg::kOther, 0, nullptr, 3}, &position), ERR_STRORNUM);
  EXPECT_EQ(GetErrorNumber(), 3);
  // The empty name removes it; a name taken by another layer refuses the creation.
  ASSERT_EQ(SetLayerNameCore(bgpic, sea, ""), 0);
  EXPECT_EQ(sea->name, nullptr);
  EXPECT_EQ(Add(3, 0, &named), ERR_NAMEUSED);
  EXPECT_EQ(CountBGPicLayers(bgpic), 2);
}

// Each way the three state pointers can share records: every distinct record visited once and
// freed once (the sanitizer build reports a double free or a leak).
TEST_F(LayerRecordsTest, TheDistinctStateWalkVisitsEachStateOnce) {
  struct Case {
    const char* what;
    int previous, current;  // which record: 0 base, 1 a second, 2 a third
    int distinct;
  };
  const Case cases[] = {
      {"all one", 0, 0, 1},
      {"previous and current one record", 1, 1, 2},
      {"only current distinct", 0, 1, 2},
      {"current back on base", 1, 0, 2},
      {"three records", 1, 2, 3},
  };
  for (int32_t type : {kObjectBrush, kObjectPolygon, kObjectTextOut, kObjectVectorPath}) {
    for (const Case& c : cases) {
      auto* layer = static_cast<qvLayer*>(std::calloc(1, sizeof(qvLayer)));
      layer->kind = type;
      qvLayerState* records[3];
      records[0] = AllocLayerState(type);
      if (type == kObjectPolygon) {
        auto* shape = static_cast<qvShapeLayerState*>(records[0]);
        shape->vertices = static_cast<double*>(std::calloc(4, sizeof(double)));
        shape->vertexCount = 2;
      }
      // Copies own their vertex arrays, as re-rendered states do.
      for (int i : {1, 2}) {
        records[i] = type == kObjectPolygon ? CloneLayerState(type, records[0])
                                            : AllocLayerState(type);
      }
      for (qvLayerState* s : records) {
        s->render.bitmap = AllocBitMap(4, 4);
        s->shadowMask = AllocAlphaChannel(4, 4, true);
      }
      if (type == kObjectTextOut) {
        auto* text = static_cast<qvTextLayoutLayerState*>(records[2]);
        text->text = static_cast<char*>(std::calloc(6, 1));
        text->textLength = 5;
      }
      layer->base = records[0];
      layer->previous = records[c.previous];
      layer->current = records[c.current];
      for (int i = c.distinct; i < 3; ++i) {
        // Records no pointer holds: only the walk's own would free them.
        bool held = layer->previous == records[i] || layer->current == records[i];
        if (!held) FreeLayerState(L, type, records[i]);
      }
      int visits = 0;
      ForEachDistinctState(layer, [&](qvLayerState*) { ++visits; });
      EXPECT_EQ(visits, c.distinct) << c.what << " type " << type;
      layer->name = static_cast<char*>(std::calloc(4, 1));
      AddListTail(&bgpic->layers, &layer->node);
    }
  }
  // The list frees them all, each state once.
  FreeLayerList(L, bgpic, true, true);
  EXPECT_EQ(FirstLayer(bgpic), nullptr);
}

// Every allocation of a creation failing in turn, of the layer records and of the pictures the
// render makes: ERR_MEM, no layer added, the list as it was, and nothing kept.
TEST_F(LayerRecordsTest, AFailedCreationAddsNoLayer) {
  ASSERT_EQ(Add(1, 0), 0);
  ASSERT_EQ(Add(2, 0), 0);
  qvTransformBlock turned = Turned(45);
  qvLayerOptions named = Options();
  std::strcpy(named.name, "middle");
  named.shadow.on = 1;

  for (bool imageFault : {false, true}) {
    int code = ERR_MEM;
    int64_t n = 1;
    for (; code == ERR_MEM && n < 40; ++n) {
      (imageFault ? this->imageFault : layerFault) = n;
      code = Add(50, 0, &named, &turned, 2, 0, nullptr, kObjectPolygon);
      this->imageFault = layerFault = 0;
      if (code != 0) {
        EXPECT_EQ(code, ERR_MEM) << "allocation " << n;
        EXPECT_EQ(Order(), (std::vector<int32_t>{1, 2})) << "allocation " << n;
        EXPECT_EQ(FindLayerByName(bgpic, "middle"), 0);
      }
    }
    EXPECT_EQ(code, 0) << (imageFault ? "image" : "layer") << " allocations";
    EXPECT_GT(n, 2);  // at least one allocation was refused on the way
    EXPECT_EQ(Order(), (std::vector<int32_t>{1, 50, 2}));
    EXPECT_NE(GetLayerByIndex(bgpic, 2)->previous, GetLayerByIndex(bgpic, 2)->base);
    DeleteLayerRecord(L, bgpic, GetLayerByIndex(bgpic, 2), true);
  }

  // A render that fails: its code, and again no layer. A state the caller could not allocate
  // frees the pixels it came with.
  gLog.failRender = gLog.renders;
  EXPECT_EQ(Add(60, 0, nullptr, &turned), ERR_MEM);
  gLog.failRender = -1;
  EXPECT_EQ(Order(), (std::vector<int32_t>{1, 2}));
  qvLayerRequest r;
  r.bgpic = bgpic;
  r.bitmap = AllocBitMap(4, 4);
  r.alpha = AllocAlphaChannel(4, 4, true);
  EXPECT_EQ(CreateLayerRecord(L, r, nullptr), ERR_MEM);
  EXPECT_EQ(CountBGPicLayers(bgpic), 2);
}

TEST_F(LayerRecordsTest, ReplacingTakesTheOldLayersPlace) {
  ASSERT_EQ(Add(1, 0), 0);
  qvLayer* old = nullptr;
  ASSERT_EQ(Add(2, 0, nullptr, nullptr, kInsertOnTop, 0, &old), 0);
  ASSERT_EQ(Add(3, 0), 0);
  VmPushNumber(L, 42);
  ASSERT_EQ(SetObjectDataItem(L, "score", -1, &old->objectData), 0);
  VmSetTop(L, 0);
  // A render that fails leaves the old layer as it was.
  qvTransformBlock turned = Turned(10);
  gLog.failRender = gLog.renders;
  EXPECT_EQ(Add(20, 0, nullptr, &turned, 2, kLayerReplace), ERR_MEM);
  gLog.failRender = -1;
  EXPECT_EQ(Order(), (std::vector<int32_t>{1, 2, 3}));
  ASSERT_NE(old->objectData, nullptr);

  gLog.refreshed.clear();
  qvLayer* fresh = nullptr;
  ASSERT_EQ(Add(20, 0, nullptr, &turned, 2, kLayerReplace, &fresh), 0);
  EXPECT_EQ(Order(), (std::vector<int32_t>{1, 20, 3}));
  EXPECT_NE(fresh->objectData, nullptr);  // the data went over
  EXPECT_EQ(FindObjectDataItem(fresh->objectData, "score") != nullptr, true);
  ASSERT_EQ(gLog.removed.size(), 1u);
  EXPECT_EQ(gLog.removed[0], old);
  EXPECT_EQ(gLog.refreshed.size(), 1u);
}

// A display that scales its layers: the transformed render is `previous`, the scaled one
// `current`; reverting frees the scaled one and shows the unscaled render again.
TEST_F(LayerRecordsTest, ScaledRendersAndTheirRevert) {
  qvDisplay scaled{};
  scaled.bgpic = bgpic;
  scaled.layerScale = 1;
  scaled.scaleX = 2.0;
  scaled.scaleY = 1.5;
  scaled.outputType = kOutputDisplay;
  display = &scaled;
  qvTransformBlock turned = Turned(90);
  qvLayer* layer = nullptr;
  ASSERT_EQ(Add(10, 20, nullptr, &turned, kInsertOnTop, kLayerDisplayScale, &layer), 0);
  EXPECT_NE(layer->previous, layer->base);
  EXPECT_NE(layer->current, layer->previous);
  EXPECT_NE(layer->current, layer->base);
  EXPECT_EQ(layer->previous->x, 10);
  EXPECT_EQ(layer->current->x, 20);
  EXPECT_EQ(layer->current->y, 30);
  // The transform rendered, then the scaled pass queued by it, then the scaled pass of the flag.
  EXPECT_EQ(gLog.renderFlags, (std::vector<int32_t>{kRenderLayer, kRenderLayer | kRenderScaled,
                                                    kRenderLayer | kRenderScaled}));

  // A re-render of both replaces both, each old state freed once.
  qvLayerState* oldPrevious = layer->previous;
  qvLayerArea area{};
  ASSERT_EQ(RebuildLayerState(L, display, bgpic, layer, kRebuildTransform, &area), 0);
  EXPECT_NE(layer->previous, oldPrevious);
  EXPECT_NE(layer->current, layer->previous);
  EXPECT_NE(layer->current, layer->base);
  // The old area: where the replaced unscaled render stood.
  EXPECT_EQ(area.x, 10);
  EXPECT_EQ(area.y, 20);
  EXPECT_EQ(area.width, 10);
  EXPECT_EQ(area.height, 20);

  // A failing scaled render leaves the states as they were.
  qvLayerState* before[3] = {layer->base, layer->previous, layer->current};
  gLog.failRender = gLog.renders;
  EXPECT_EQ(RebuildLayerState(L, display, bgpic, layer, kRebuildScaled), ERR_MEM);
  gLog.failRender = -1;
  EXPECT_EQ(layer->base, before[0]);
  EXPECT_EQ(layer->previous, before[1]);
  EXPECT_EQ(layer->current, before[2]);
  EXPECT_NE(layer->current->render.bitmap, nullptr);  // its buffers given back

  RevertLayerStates(L, bgpic);
  EXPECT_EQ(layer->current, layer->previous);
  EXPECT_NE(layer->current->render.bitmap, nullptr);
  display = nullptr;
}

// Without a refresh of the compositor's: while the display's own BGPic is the output the area is
// recorded in the display's dirty list, and a layer made then is not drawn until the selection
// ends.
TEST_F(LayerRecordsTest, TheDefaultRefreshMarksWhileTheBGPicIsTheOutput) {
  qvLayerHooks hooks{Render, nullptr, nullptr, nullptr};
  SetLayerHooks(&hooks);
  qvRect entries[4]{};
  qvDisplay shown{};
  shown.bgpic = bgpic;
  shown.outputType = kOutputBGPic;
  shown.dirty = {entries, 0, 4};
  display = &shown;
  qvDisplay* before = CurrentDisplay();
  SetCurrentDisplay(&shown);
  ASSERT_EQ(Add(1, 2), 0);
  qvLayer* below = nullptr;
  ASSERT_EQ(Add(3, 4, nullptr, nullptr, 1, 0, &below), 0);
  SetCurrentDisplay(before);
  display = nullptr;
  EXPECT_EQ(below->skipDraw, 1);
  ASSERT_EQ(shown.dirty.count, 1);  // the plain top layer was blitted by its caller
  EXPECT_EQ(entries[0].x1, 3);
  EXPECT_EQ(entries[0].y1, 4);
  EXPECT_EQ(entries[0].x2, 12);
  EXPECT_EQ(entries[0].y2, 23);
}

TEST(TextRotation, WholeDegreeTurnsOfAUniformScale) {
  struct Case {
    const char* what;
    double degrees, scaleX, scaleY;
    int32_t isRotated;
  };
  const Case cases[] = {
      {"30 degrees at scale 2", 30, 2, 2, 0},
      {"217 degrees at scale 0.5", 217, 0.5, 0.5, 0},
      {"scales within 0.01", 45, 1.0, 1.005, 0},
      {"scales apart", 45, 1.0, 1.5, 1},
      {"not a whole degree", 30.5, 1, 1, 1},
      // The quarter turns need a division by a cosine or a sine of 0: skipped, so they stay
      // rotated instead of dividing by zero.
      {"a quarter turn", 90, 1, 1, 1},
      {"three quarters", 270, 2, 2, 1},
  };
  for (const Case& c : cases) {
    qvTransformBlock t;
    InitTransformBlock(&t);
    BuildTransformMatrix(&t, 0, 0, 10, 10, c.scaleX, c.scaleY, c.degrees);
    ClassifyTextRotation(&t);
    EXPECT_EQ(t.isRotated, c.isRotated) << c.what;
    if (c.isRotated == 0) {
      EXPECT_NEAR(t.rotatedScaleX, c.scaleX, 1e-3) << c.what;
      EXPECT_NEAR(t.rotatedScaleY, c.scaleY, 1e-3) << c.what;
    }
  }
  // A matrix without turn keeps the flag as it was; a shear is rotated.
  qvTransformBlock t;
  InitTransformBlock(&t);
  t.isRotated = 1;
  t.matrix[0] = 3;
  ClassifyTextRotation(&t);
  EXPECT_EQ(t.isRotated, 1);
  t.isRotated = 0;
  t.matrix[2] = 0.5;
  ClassifyTextRotation(&t);
  EXPECT_EQ(t.isRotated, 1);
}

}  // namespace
}  // namespace qv
