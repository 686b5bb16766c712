// What the dispatcher asks the buttons of a display's picture, without a script: which callback a
// press or a release runs (a release only where the press happened, none after a disable), the
// hover walk one callback a call (the button left first, a held button alone), a walk that
// survives the freeing of the button it would visit next, and the hit test on a scaled window.
#include "display/buttons.h"

#include <gtest/gtest.h>

#include <string>

#include "base/errors.h"
#include "core/events.h"
#include "display/display.h"
#include "fixtures/display_setup.h"

namespace qv {
namespace {

// Callback references stand for themselves here: no script machine holds them.
constexpr int32_t kRefs = 100;

class ButtonsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(test::OpenDisplayForTest(), 0);
    OpenInputDisplay();
    display = test::OpenCurrentDisplay(nullptr, {{"width", 100}, {"height", 80}});
    ASSERT_NE(display, nullptr);
    input = FindDisplayInput(display->window);
    ASSERT_NE(input, nullptr);
  }
  void TearDown() override {
    CloseInputDisplay(nullptr);
    test::CloseDisplayForTest();
  }

  // A button at (x, y) of 10 x 10 whose callback i is kRefs * id + i where `mask` has bit i.
  void Make(int32_t id, int32_t x, int32_t y, unsigned mask = 0xFF) {
    qvButtonSpec spec;
    spec.x = x;
    spec.y = y;
    spec.width = spec.height = 10;
    for (int i = 0; i < kButtonCallbackCount; ++i) {
      if (mask & (1u << i)) spec.callbacks[i] = kRefs * id + i;
    }
    ASSERT_EQ(AddSimpleButton(nullptr, display->bgpic, {id, nullptr}, false, spec, nullptr), 0);
  }
  // "<button id>:<action>" of the callback a left-button event runs, or "-".
  std::string Press(bool down, int32_t x, int32_t y, int32_t type = kEventLeftButton) {
    qvEvent e{};
    e.display = input;
    e.type = type;
    e.x = x;
    e.y = y;
    e.pressed = down ? 1 : 0;
    qvDispatchResult r;
    if (!DispatchButtonEvent(e, &r)) return "-";
    return Said(r);
  }
  std::string Hover(int32_t x, int32_t y, bool resume) {
    qvDispatchResult r;
    if (!DispatchButtonHover(input, x, y, resume, &r)) return "-";
    return Said(r);
  }
  static std::string Said(const qvDispatchResult& r) {
    const auto* b = static_cast<const qvBGPicButton*>(r.button);
    EXPECT_EQ(r.callback / kRefs, b->id.number) << r.action;
    return std::to_string(b->id.number) + ":" + r.action;
  }

  qvDisplay* display = nullptr;
  qvDisplayInput* input = nullptr;
};

TEST_F(ButtonsTest, AReleaseRunsOnlyWhereItsPressHappened) {
  Make(1, 10, 10);
  Make(2, 40, 10, 0xFF & ~(1u << kButtonMouseDown));  // no OnMouseDown
  EXPECT_EQ(Press(true, 15, 15), "1:OnMouseDown");
  EXPECT_EQ(Press(false, 15, 15), "1:OnMouseUp");
  EXPECT_EQ(Press(false, 15, 15), "-");  // released already
  EXPECT_EQ(Press(true, 60, 60), "-");
  EXPECT_EQ(Press(false, 15, 15), "-");  // pressed elsewhere
  EXPECT_EQ(Press(true, 15, 15), "1:OnMouseDown");
  EXPECT_EQ(Press(false, 70, 70), "-");  // let go elsewhere: the press is forgotten
  EXPECT_EQ(Press(false, 15, 15), "-");
  EXPECT_EQ(Press(true, 45, 15), "-");  // no callback, but the press counts
  EXPECT_EQ(Press(false, 45, 15), "2:OnMouseUp");
  EXPECT_EQ(Press(true, 15, 15, kEventRightButton), "1:OnRightMouseDown");
  EXPECT_EQ(Press(false, 15, 15, kEventRightButton), "1:OnRightMouseUp");
  EXPECT_EQ(Press(true, 19, 19, kEventMidButton), "1:OnMidMouseDown");  // corners are inside
  EXPECT_EQ(Press(false, 19, 19, kEventMidButton), "1:OnMidMouseUp");
}

TEST_F(ButtonsTest, ADisabledButtonIsSilentAndForgetsItsPress) {
  Make(1, 10, 10);
  EXPECT_EQ(Press(true, 15, 15), "1:OnMouseDown");
  ASSERT_EQ(SetButtonEnabled(display->bgpic, {1, nullptr}, false), 0);
  EXPECT_EQ(Press(false, 15, 15), "-");
  EXPECT_EQ(Press(true, 15, 15), "-");
  EXPECT_EQ(Hover(15, 15, false), "-");
  ASSERT_EQ(SetButtonEnabled(display->bgpic, {1, nullptr}, true), 0);
  EXPECT_EQ(Press(false, 15, 15), "-");  // no OnMouseUp follows the press before the disable
  EXPECT_EQ(SetButtonEnabled(display->bgpic, {9, nullptr}, true), ERR_FINDBUTTON);
}

TEST_F(ButtonsTest, HoveringLeavesOneButtonBeforeItEntersTheNext) {
  Make(1, 10, 10);
  Make(2, 30, 10);
  EXPECT_EQ(Hover(15, 15, false), "1:OnMouseOver");
  EXPECT_EQ(Hover(15, 15, true), "-");
  EXPECT_EQ(Hover(16, 16, false), "-");  // still on it
  EXPECT_EQ(Hover(35, 15, false), "1:OnMouseOut");
  EXPECT_EQ(Hover(35, 15, true), "2:OnMouseOver");
  EXPECT_EQ(Hover(35, 15, true), "-");
  EXPECT_EQ(Hover(90, 70, false), "2:OnMouseOut");
  EXPECT_EQ(Hover(90, 70, true), "-");

  // While button 1 is held the pointer enters nothing else.
  EXPECT_EQ(Hover(15, 15, false), "1:OnMouseOver");
  EXPECT_EQ(Press(true, 15, 15), "1:OnMouseDown");
  EXPECT_EQ(Hover(35, 15, false), "1:OnMouseOut");
  EXPECT_EQ(Hover(35, 15, true), "-");
  EXPECT_EQ(Press(false, 35, 15), "-");
  EXPECT_EQ(Hover(36, 15, false), "2:OnMouseOver");
}

TEST_F(ButtonsTest, TheHoverWalkSurvivesTheFreeingOfTheButtonAheadOfIt) {
  Make(1, 10, 10);
  Make(2, 30, 10);
  Make(3, 50, 10);  // the list is 3, 2, 1
  EXPECT_EQ(Hover(55, 15, false), "3:OnMouseOver");
  EXPECT_EQ(Hover(15, 15, false), "3:OnMouseOut");
  // The walk would go on at button 2, then mark button 1.
  ASSERT_EQ(FreeButton(nullptr, display->bgpic, {2, nullptr}), 0);
  ASSERT_EQ(FreeButton(nullptr, display->bgpic, {1, nullptr}), 0);
  EXPECT_EQ(Hover(15, 15, true), "-");
  EXPECT_EQ(FreeButton(nullptr, display->bgpic, {1, nullptr}), ERR_FINDBUTTON);
  EXPECT_EQ(FreeButton(nullptr, display->bgpic, {0, display}), ERR_FINDARRAY);
}

TEST_F(ButtonsTest, TheHitTestTakesTheBordersAndTheScaleAway) {
  Make(1, 10, 10);
  const qvBGPicButton* b = FindButton(display->bgpic, {1, nullptr});
  ASSERT_NE(b, nullptr);
  display->borderLeft = 5;
  display->borderTop = 3;
  display->scaleX = display->scaleY = 2.0;
  EXPECT_TRUE(ButtonHitTest(display, 5 + 20, 3 + 20, b));
  EXPECT_TRUE(ButtonHitTest(display, 5 + 39, 3 + 39, b));  // 19.5 truncates to 19
  EXPECT_FALSE(ButtonHitTest(display, 5 + 40, 3 + 20, b));
  EXPECT_FALSE(ButtonHitTest(display, 5 + 19, 3 + 20, b));
}

}  // namespace
}  // namespace qv
