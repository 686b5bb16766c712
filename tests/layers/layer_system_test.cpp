// The layer system's plug: the display code asks a registered layer system (a fake one here, then
// the layers code's own) whether a layer shows an object, and answers as before without one.
#include "core/layer_system.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/errors.h"
#include "base/support.h"
#include "core/attribute_table.h"
#include "core/errors.h"
#include "core/registry.h"
#include "display/display.h"
#include "layers/layers.h"
#include "vm/vm.h"

namespace qv {
namespace {

class LayerSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    L = VmOpenState(CoreVmHost());
    SetProcessVm(L);
    ASSERT_EQ(OpenDisplaySubsystem(), 0);
  }
  void TearDown() override {
    RegisterLayerSystem(nullptr);
    for (qvObjectHeader* h = *BGPicListHead(); h != nullptr; h = h->next) {
      InitList(&reinterpret_cast<qvBGPic*>(h)->layers);  // the layers are the test's
    }
    FreeDisplaySubsystem(L);
    FreeRegistries();
    SetProcessVm(nullptr);
    VmCloseState(L);
  }
  qvBrush* Brush(int32_t number) {
    qvObjectId id{number, nullptr};
    qvBrush* brush = nullptr;
    EXPECT_EQ(AllocBrush(&id, false, 4, 3, 0x123456, false, false, false, false, &brush), 0);
    return brush;
  }
  qvBGPic* BGPic(int32_t number) {
    qvObjectId id{number, nullptr};
    qvBGPic* bgpic = nullptr;
    EXPECT_EQ(CreateColorBGPic(&id, false, 8, 8, 0, &bgpic), 0);
    return bgpic;
  }
  qvScriptState* L = nullptr;
};

// A fake layer system with one layer that shows brush 5, recording where it is pointed.
qvObjectId gShown;
std::vector<qvObjectId> gRepointed;
bool ShowsBrushFive(int32_t kind, qvObjectId id, const qvLayer*) {
  return kind == kObjectBrush && id.number == gShown.number && id.handle == gShown.handle;
}
bool RepointBrushFive(int32_t kind, qvObjectId id, void* handle) {
  if (!ShowsBrushFive(kind, id, nullptr)) return false;
  gShown = {0, handle};
  gRepointed.push_back(gShown);
  return true;
}
qvLayerSystem FakeLayerSystem() {
  qvLayerSystem system{};
  system.isShownByLayer = ShowsBrushFive;
  system.repointLayers = RepointBrushFive;
  system.countLayers = [](const qvBGPic*) { return int32_t{3}; };
  system.findLayerByName = [](const char* name) { return StrCaseCmp(name, "sky") == 0 ? 2 : 0; };
  return system;
}
const qvLayerSystem kFake = FakeLayerSystem();

TEST_F(LayerSystemTest, TheDisplayCodeAsksTheRegisteredLayerSystem) {
  qvBrush* shown = Brush(5);
  Brush(6);
  RegisterLayerSystem(&kFake);
  gShown = {5, nullptr};
  gRepointed.clear();

  // Freeing a brush that a layer shows keeps its record for the layer under id 0.
  ASSERT_EQ(ReleaseBrushId(L, {5, nullptr}, true), 0);
  ASSERT_EQ(gRepointed.size(), 1u);
  EXPECT_EQ(gRepointed[0].handle, shown);
  qvBrush* found = nullptr;
  EXPECT_EQ(FindBrush(L, {5, nullptr}, &found, 0), ERR_FINDBRUSH);
  EXPECT_EQ(FindBrush(L, {0, shown}, &found, kFindLayerCopies), 0);
  EXPECT_EQ(found, shown);
  EXPECT_EQ(shown->layerCopy, 1);
  // A brush no layer shows goes at once.
  ASSERT_EQ(ReleaseBrushId(L, {6, nullptr}, true), 0);
  EXPECT_EQ(gRepointed.size(), 1u);
  EXPECT_EQ(FindBrush(L, {6, nullptr}, &found, kFindLayerCopies), ERR_FINDBRUSH);

  // The core's questions go to the same record.
  EXPECT_EQ(FindLayerByName("SKY"), 2);
  EXPECT_EQ(FindLayerByName("sea"), 0);
  EXPECT_EQ(CountLayers(BGPic(1)), 3);

  // The layer copy stays while the layer shows it; once the layer system is gone, nothing
  // shows it and the purge frees it.
  PurgeDetachedBrushes(L);
  EXPECT_EQ(FindBrush(L, {0, shown}, &found, kFindLayerCopies), 0);
  RegisterLayerSystem(nullptr);
  PurgeDetachedBrushes(L);
  EXPECT_NE(FindBrush(L, {0, shown}, &found, kFindLayerCopies), 0);
}

TEST_F(LayerSystemTest, WithoutALayerSystemNothingIsShownOrFound) {
  Brush(5);
  EXPECT_FALSE(IsShownByLayer(kObjectBrush, {5, nullptr}, nullptr));
  EXPECT_FALSE(RepointLayers(kObjectBrush, {5, nullptr}, nullptr));
  EXPECT_EQ(FindLayerByName("sky"), 0);
  EXPECT_EQ(CountLayers(BGPic(1)), 0);
  EXPECT_FALSE(HasCompositor());
  ASSERT_EQ(ReleaseBrushId(L, {5, nullptr}, true), 0);
  qvBrush* found = nullptr;
  EXPECT_EQ(FindBrush(L, {5, nullptr}, &found, kFindLayerCopies), ERR_FINDBRUSH);
}

qvLayer Layer(int32_t kind, qvObjectId id) {
  qvLayer layer{};
  layer.kind = kind;
  layer.id = id;
  return layer;
}

// The layers code's own record walks every BGPic's layer list.
TEST_F(LayerSystemTest, TheLayerSystemWalksEveryBGPicsLayers) {
  ASSERT_EQ(OpenLayerSystem(), 0);
  qvBrush* brush = Brush(5);
  qvBGPic* first = BGPic(1);
  qvBGPic* second = BGPic(2);
  // A brush part of brush 5 on the first BGPic, brush 5 and a BGPic part on the second, and a
  // layer that shows no object under BGPic 5's id.
  qvLayer part = Layer(kObjectBrushPart, {5, nullptr});
  qvLayer whole = Layer(kObjectBrush, {5, nullptr});
  qvLayer bgpicPart = Layer(kObjectBGPicPart, {1, nullptr});
  qvLayer none = Layer(kObjectNoObject, {7, nullptr});
  AddListTail(&first->layers, &part.node);
  AddListTail(&second->layers, &whole.node);
  AddListTail(&second->layers, &bgpicPart.node);
  AddListTail(&second->layers, &none.node);

  EXPECT_EQ(CountLayers(first), 1);
  EXPECT_EQ(CountLayers(second), 3);
  // GetAttribute's BGPic row counts through the layer system.
  qvAttrAnswer answer;
  ASSERT_EQ(FindAttributeKind(kObjectBGPic)
                ->answer({L, kObjectBGPic, attr::kLayers, {2, nullptr}, nullptr}, &answer),
            0);
  ASSERT_EQ(answer.count, 1);
  EXPECT_EQ(answer.values[0].number, 3);
  EXPECT_TRUE(IsShownByLayer(kObjectBrush, {5, nullptr}, nullptr));
  EXPECT_TRUE(IsShownByLayer(kObjectBrush, {5, nullptr}, &whole));  // the part still shows it
  EXPECT_FALSE(IsShownByLayer(kObjectBrush, {6, nullptr}, nullptr));
  EXPECT_FALSE(IsShownByLayer(kObjectBrush, {7, nullptr}, nullptr));  // no object: not a brush
  EXPECT_TRUE(IsShownByLayer(kObjectBGPicPart, {7, nullptr}, nullptr));
  EXPECT_TRUE(IsShownByLayer(kObjectBGPicPart, {1, nullptr}, nullptr));
  EXPECT_FALSE(IsShownByLayer(kObjectBGPicPart, {1, nullptr}, &bgpicPart));

  // Freeing the brush points both of its layers at the kept record.
  ASSERT_EQ(ReleaseBrushId(L, {5, nullptr}, true), 0);
  for (const qvLayer* layer : {&part, &whole}) {
    EXPECT_EQ(layer->id.number, 0);
    EXPECT_EQ(layer->id.handle, brush);
  }
  EXPECT_EQ(bgpicPart.id.number, 1);
  EXPECT_TRUE(IsShownByLayer(kObjectBrush, {0, brush}, nullptr));

  CloseLayerSystem();
  EXPECT_FALSE(IsShownByLayer(kObjectBrush, {0, brush}, nullptr));
}

}  // namespace
}  // namespace qv
