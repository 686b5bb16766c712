// Satellites of displays without a script: who may attach one, the input a satellite hands over
// as it reaches the event queue and the display's input state, a resize it asks for, the nodes
// that a display frees or refuses to be freed with; and the window that opens without its frame
// when only that lets it fit.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "base/errors.h"
#include "core/eventqueue.h"
#include "core/events.h"
#include "core/runtime_buffers.h"
#include "display/display.h"
#include "fixtures/display_setup.h"
#include "platform/loop_hosts.h"
#include "platform/window_services.h"

namespace qv {
namespace {

struct Told {
  int calls = 0;
  int32_t width = 0, height = 0;
};
void Tell(void* data, int32_t width, int32_t height) {
  auto* told = static_cast<Told*>(data);
  ++told->calls;
  told->width = width;
  told->height = height;
}

class SatelliteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qvScreenSetup screen;
    screen.width = 640;
    screen.height = 480;
    ConfigureHeadlessScreen(screen);
    ASSERT_EQ(test::OpenDisplayForTest(), 0);
    ASSERT_EQ(AllocRuntimeBuffers(), 0);
    OpenInputDisplay();
  }
  void TearDown() override {
    CloseInputDisplay(nullptr);
    FreeRuntimeBuffers();
    test::CloseDisplayForTest();
    ConfigureHeadlessScreen(qvScreenSetup{});
  }
  // The queued events, oldest first; the queue is emptied.
  static std::vector<qvEventSlot> TakeEvents() {
    std::vector<qvEventSlot> events;
    qvEventQueue* queue = RuntimeEventQueue();
    std::lock_guard<std::recursive_mutex> guard(queue->Lock());
    qvEvent e{};
    for (int i = 0; FetchEvent(i, &e, false) != 0; ++i) {
      qvEventSlot slot{};
      slot.type = e.type;
      slot.display = e.display;
      // Buttons carry x, y and the press; keys the press, the code and the qualifiers.
      slot.args[0] = e.type == kEventKey ? e.pressed : e.x;
      slot.args[1] = e.type == kEventKey ? e.keyCode : e.y;
      slot.args[2] = e.type == kEventKey ? e.qualifiers : e.pressed;
      events.push_back(slot);
    }
    RemoveEvents(-1, false);
    return events;
  }
};

TEST_F(SatelliteTest, OnlyAnOpaquePictureWithoutAKeyColourTakesASatellite) {
  qvDisplay* d = test::OpenCurrentDisplay(nullptr, {{"width", 30}, {"height", 20}});
  ASSERT_NE(d, nullptr);
  int32_t width = 0, height = 0;
  qvSatellite* node = AttachSatellite({1, nullptr}, nullptr, nullptr, &width, &height);
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(width, 30);
  EXPECT_EQ(height, 20);
  EXPECT_EQ(FindSatelliteDisplay(node), d);
  EXPECT_EQ(AttachSatellite({2, nullptr}, nullptr, nullptr, &width, &height), nullptr);

  // A mask, an alpha channel or a key colour on the picture: refused, nothing attached.
  qvBGPic* bgpic = d->bgpic;
  qvPlane* mask = AllocMask(30, 20, false);
  qvPlane* alpha = AllocAlphaChannel(30, 20, false);
  ASSERT_NE(mask, nullptr);
  ASSERT_NE(alpha, nullptr);
  const std::pair<qvPlane**, qvPlane*> planes[] = {{&bgpic->current.mask, mask},
                                                   {&bgpic->current.alpha, alpha}};
  for (auto [slot, plane] : planes) {
    *slot = plane;
    EXPECT_EQ(AttachSatellite({1, nullptr}, nullptr, nullptr, nullptr, nullptr), nullptr);
    *slot = nullptr;
  }
  FreeMaskOrAlpha(mask);
  FreeMaskOrAlpha(alpha);
  bgpic->transparentColour = 0x000000;
  EXPECT_EQ(AttachSatellite({1, nullptr}, nullptr, nullptr, nullptr, nullptr), nullptr);
  bgpic->transparentColour = kNoTransparentColour;
  EXPECT_EQ(d->satellites, node);
  EXPECT_EQ(node->next, nullptr);
  DetachSatellite(node);
  EXPECT_EQ(d->satellites, nullptr);
}

TEST_F(SatelliteTest, InputOfEachKindReachesTheQueueAndTheDisplaysState) {
  qvDisplay* d = test::OpenCurrentDisplay(nullptr, {{"width", 40}, {"height", 30}});
  ASSERT_NE(d, nullptr);
  qvDisplayInput* input = FindDisplayInput(d->window);
  qvSatellite* node = AttachSatellite({1, nullptr}, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(node, nullptr);
  TakeEvents();
  struct Case {
    SatelliteInputKind kind;
    qvSatelliteInput in;
    int32_t type;  // 0: no event
    int32_t args[3];
  } const cases[] = {
      {SatelliteInputKind::kPointer, {5, 6, 0, 0, 0}, 0, {}},
      {SatelliteInputKind::kLeftButton, {7, 8, 1, 0, 0}, kEventLeftButton, {7, 8, 1}},
      {SatelliteInputKind::kRightButton, {9, 10, 0, 0, 0}, kEventRightButton, {9, 10, 0}},
      {SatelliteInputKind::kMidButton, {11, 12, 1, 0, 0}, kEventMidButton, {11, 12, 1}},
      {SatelliteInputKind::kWheel, {0, 0, 1, 0, 0}, kEventWheelDown, {0, 0, 0}},
      {SatelliteInputKind::kWheel, {0, 0, 0, 0, 0}, kEventWheelUp, {0, 0, 0}},
      {SatelliteInputKind::kKey, {0, 0, 1, 'q', 0x80000000u}, kEventKey, {1, 'q', INT32_MIN}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    ASSERT_EQ(SatelliteInput(node, static_cast<int32_t>(c.kind), c.in), 0);
    std::vector<qvEventSlot> events = TakeEvents();
    if (c.type == 0) {
      EXPECT_TRUE(events.empty());
      continue;
    }
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, c.type);
    EXPECT_EQ(events[0].display, input);
    EXPECT_EQ(events[0].args[0], c.args[0]);
    EXPECT_EQ(events[0].args[1], c.args[1]);
    EXPECT_EQ(events[0].args[2], c.args[2]);
  }
  // The display's state follows at the next copy of the window states.
  InputDisplayHost()->SyncDisplays();
  EXPECT_EQ(input->pointerMoved, 1);
  EXPECT_EQ(input->leftButton, 1);
  EXPECT_EQ(input->midButton, 1);
  EXPECT_EQ(input->rightButton, 0);
  EXPECT_EQ(input->keyDown['q'], 1);

  EXPECT_EQ(SatelliteInput(node, 6, {}), ERR_WRONGUSAGE);
  EXPECT_EQ(SatelliteInput(node, -1, {}), ERR_WRONGUSAGE);
  EXPECT_TRUE(TakeEvents().empty());
  qvSatellite stranger{};
  EXPECT_EQ(SatelliteInput(&stranger, 1, {}), ERR_FINDDISPLAY);
  DetachSatellite(node);
  EXPECT_EQ(SatelliteInput(node = nullptr, 1, {}), ERR_FINDDISPLAY);
}

TEST_F(SatelliteTest, AScaledDisplayGetsTheSatellitesPositionsInItsWindow) {
  qvDisplay* d = test::OpenCurrentDisplay(
      nullptr,
      {{"width", 40}, {"height", 30}, {"scalemode", 1}, {"scalewidth", 80}, {"scaleheight", 90}});
  ASSERT_NE(d, nullptr);
  // The factors as start-up sets them for a scaled display.
  d->scaleX = 2.0;
  d->scaleY = 3.0;
  qvSatellite* node = AttachSatellite({1, nullptr}, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(node, nullptr);
  TakeEvents();
  ASSERT_EQ(SatelliteInput(node, 1, {10, 10, 1, 0, 0}), 0);
  std::vector<qvEventSlot> events = TakeEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].args[0], 20);
  EXPECT_EQ(events[0].args[1], 30);
  DetachSatellite(node);
}

TEST_F(SatelliteTest, AResizeTellsTheSatellitesAndQueuesTheSizeEvent) {
  qvDisplay* d = test::OpenCurrentDisplay(nullptr, {{"width", 40}, {"height", 30}, {"x", 50}});
  ASSERT_NE(d, nullptr);
  Told told, other;
  qvSatellite* node = AttachSatellite({1, nullptr}, Tell, &told, nullptr, nullptr);
  qvSatellite* second = AttachSatellite({1, nullptr}, Tell, &other, nullptr, nullptr);
  ASSERT_NE(second, nullptr);
  TakeEvents();
  ASSERT_EQ(ResizeSatellite(nullptr, node, 60, 45), 0);
  EXPECT_EQ(d->bgpic->width, 60);
  EXPECT_EQ(d->bgpic->height, 45);
  qvWindowPlacement p{};
  ASSERT_TRUE(GetWindowPlacement(d->window, &p));
  EXPECT_EQ(p.x, 50);  // kept where it was
  EXPECT_EQ(p.width, 60);
  for (const Told* t : {&told, &other}) {
    EXPECT_EQ(t->calls, 1);
    EXPECT_EQ(t->width, 60);
    EXPECT_EQ(t->height, 45);
  }
  std::vector<qvEventSlot> events = TakeEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].type, kEventWindowSized);
  // The same size again tells nobody; a refused size is the resize's error.
  ASSERT_EQ(ResizeSatellite(nullptr, node, 60, 45), 0);
  EXPECT_EQ(told.calls, 1);
  EXPECT_EQ(ResizeSatellite(nullptr, node, 0, 45), ERR_BADDIMENSIONS);
  // Resizes by the script itself tell no satellite.
  ASSERT_EQ(ReopenDisplay(nullptr, d, kKeepPosition, kKeepPosition, 20, 20, true, false, false), 0);
  EXPECT_EQ(told.calls, 1);

  DetachSatellite(second);
  qvSatellite stranger{};
  EXPECT_EQ(ResizeSatellite(nullptr, &stranger, 10, 10), ERR_FINDDISPLAY);
  EXPECT_EQ(RedrawSatellite(nullptr, &stranger), ERR_FINDDISPLAY);
  EXPECT_EQ(RedrawSatellite(nullptr, node), 0);
  DetachSatellite(node);
}

TEST_F(SatelliteTest, ADisplayWithSatellitesIsNotFreedAndAStrangeNodeIsLeftAlone) {
  test::OpenCurrentDisplay(nullptr, {{"width", 10}, {"height", 10}});
  qvObjectId second{2, nullptr};
  qvDisplayTags tags = test::TagsOf({{"width", 10}, {"height", 10}});
  qvDisplay* d2 = nullptr;
  ASSERT_EQ(CreateDisplayCore(nullptr, &second, false, &tags, &d2), 0);
  qvSatellite* node = AttachSatellite(second, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(FreeDisplayCore(nullptr, second, true), ERR_SATFREEDISP);
  // Making a display under its id frees the old one first, which it may not.
  EXPECT_EQ(CreateDisplayCore(nullptr, &second, false, &tags, nullptr), ERR_SATFREEDISP);

  // A node that no display holds is not freed (it lives on this stack), nor is any list changed.
  qvSatellite stranger{};
  DetachSatellite(&stranger);
  EXPECT_EQ(d2->satellites, node);
  DetachSatellite(node);
  DetachSatellite(node);  // once detached it is a stranger too
  EXPECT_EQ(FreeDisplayCore(nullptr, second, true), 0);
  // A display freed at the end frees the satellites it still holds.
  ASSERT_NE(AttachSatellite({1, nullptr}, nullptr, nullptr, nullptr, nullptr), nullptr);
}

TEST_F(SatelliteTest, AWindowThatFitsOnlyWithoutItsFrameOpensWithout) {
  qvScreenSetup screen;
  screen.width = 320;
  screen.height = 200;
  screen.workWidth = 320;
  screen.workHeight = 180;
  screen.borderLeft = screen.borderRight = 2;
  screen.borderTop = 20;
  screen.borderBottom = 2;
  CloseInputDisplay(nullptr);
  test::CloseDisplayForTest();
  ConfigureHeadlessScreen(screen);
  ASSERT_EQ(test::OpenDisplayForTest(), 0);
  OpenInputDisplay();
  struct Case {
    int32_t width, height;
    bool borderless;  // given
    int code;
    bool opensBorderless;
  } const cases[] = {
      {316, 150, false, 0, false},                // fits with its frame
      {320, 170, false, 0, true},                 // fits only without
      {316, 175, false, 0, true},                 // likewise, by its height alone
      {321, 100, false, ERR_DISPLAYSIZE, false},  // fits neither way
      {320, 180, true, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.width * 1000 + c.height);
    qvObjectId id{3, nullptr};
    qvDisplayTags tags = test::TagsOf(
        {{"width", c.width}, {"height", c.height}, {"borderless", c.borderless}});
    qvDisplay* d = nullptr;
    ASSERT_EQ(CreateDisplayCore(nullptr, &id, false, &tags, &d), 0);
    int32_t outerWidth = 0, outerHeight = 0;
    GetMaxWindowSize(d, &outerWidth, &outerHeight);
    EXPECT_EQ(outerWidth, c.width + (c.opensBorderless ? 0 : 4));
    EXPECT_EQ(outerHeight, c.height + (c.opensBorderless ? 0 : 22));
    d->flags &= ~kDisplayBorderless;
    if (c.borderless) d->flags |= kDisplayBorderless;
    EXPECT_EQ(OpenDisplayCore(nullptr, d, false), c.code);
    EXPECT_EQ((d->flags & kDisplayBorderless) != 0, c.opensBorderless);
    EXPECT_EQ(IsWindowOpen(d->window), c.code == 0);
    ASSERT_EQ(FreeDisplayCore(nullptr, id, true), 0);
  }
}

}  // namespace
}  // namespace qv
