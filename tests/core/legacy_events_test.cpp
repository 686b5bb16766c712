// The label-based buttons and key handlers: which label an event names, the all-switches with the
// event code, enabling and disabling, changing and removing records, and the record under the
// pointer.
#include "core/legacy_events.h"

#include <gtest/gtest.h>

#include <string>

#include "core/events.h"

namespace qv {
namespace {

class LegacyEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLegacyEvents();
    display.borderLeft = 4;
    display.borderTop = 2;
    display.scaleX = display.scaleY = 2.0;
  }
  void TearDown() override { ResetLegacyEvents(); }

  // An event at a window point: (4 + 2x, 2 + 2y) is the display point (x, y).
  std::string Name(int32_t type, bool pressed, int32_t x, int32_t y, int32_t key = 0) {
    qvEvent e{};
    e.display = &display;
    e.type = type;
    e.x = 4 + 2 * x;
    e.y = 2 + 2 * y;
    e.pressed = pressed ? 1 : 0;
    e.keyCode = key;
    return LegacyEventName(e);
  }

  qvDisplayInput display;
};

TEST_F(LegacyEventsTest, EventsNameTheLabelOfTheFirstEnabledRecordThatTheyMatch) {
  ASSERT_EQ(CreateLegacyButton(7, 10, 10, 20, 20), 0);
  ASSERT_EQ(CreateLegacyButton(8, 15, 15, 30, 30), 0);
  ASSERT_EQ(CreateLegacyKey(3, "esc"), 0);
  ASSERT_EQ(CreateLegacyKey(4, "a"), 0);
  struct Case {
    int32_t type;
    bool pressed;
    int32_t x, y, key;
    const char* name;
  } cases[] = {
      {kEventLeftButton, true, 10, 10, 0, "ONBUTTONCLICK7"},  // corners are inside
      {kEventLeftButton, true, 20, 20, 0, "ONBUTTONCLICK7"},
      {kEventLeftButton, true, 21, 20, 0, "ONBUTTONCLICK8"},
      {kEventLeftButton, true, 31, 20, 0, ""},
      {kEventLeftButton, false, 10, 10, 0, ""},  // releases name nothing
      {kEventRightButton, true, 12, 12, 0, "ONBUTTONRIGHTCLICK7"},
      {kEventMidButton, true, 12, 12, 0, ""},
      {kEventKey, true, 0, 0, kKeyEsc, "ONKEYDOWN3"},  // the key table's name, any case
      {kEventKey, true, 0, 0, 'A', "ONKEYDOWN4"},
      {kEventKey, false, 0, 0, 'a', ""},
      {kEventKey, true, 0, 0, 'b', ""},
      {kEventWheelUp, true, 12, 12, 0, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Name(c.type, c.pressed, c.x, c.y, c.key), c.name)
        << c.type << " " << c.pressed << " " << c.x << "," << c.y;
  }
  EXPECT_EQ(GetLegacyKeyCode(), uint32_t{'A'});
  EXPECT_EQ(GetLegacyEventCode(), 0);  // no all-switch was on
}

TEST_F(LegacyEventsTest, AnAllSwitchSendsEveryRecordOfItsKindToOneLabelAndKeepsTheId) {
  ASSERT_EQ(CreateLegacyButton(7, 0, 0, 9, 9), 0);
  ASSERT_EQ(CreateLegacyKey(5, "x"), 0);
  SetLegacyEventEnabled(kLegacyClickAll, 0, true);
  EXPECT_EQ(Name(kEventLeftButton, true, 3, 3), "ONBUTTONCLICKALL");
  EXPECT_EQ(GetLegacyEventCode(), 7);
  EXPECT_EQ(Name(kEventRightButton, true, 3, 3), "ONBUTTONRIGHTCLICK7");  // its own switch is off
  SetLegacyEventEnabled(kLegacyKeyDownAll, 0, true);
  EXPECT_EQ(Name(kEventKey, true, 0, 0, 'x'), "ONKEYDOWNALL");
  EXPECT_EQ(GetLegacyEventCode(), 5);
  SetLegacyEventEnabled(kLegacyOverAll, 0, true);
  EXPECT_EQ(LegacyButtonOver(9, 9), "ONBUTTONOVERALL");
  SetLegacyEventEnabled(kLegacyClickAll, 0, false);
  EXPECT_EQ(Name(kEventLeftButton, true, 3, 3), "ONBUTTONCLICK7");
}

TEST_F(LegacyEventsTest, DisabledRecordsAreSkippedAndChangesReachTheFirstRecordOfTheId) {
  ASSERT_EQ(CreateLegacyButton(1, 0, 0, 9, 9), 0);
  ASSERT_EQ(CreateLegacyButton(2, 0, 0, 9, 9), 0);
  SetLegacyEventEnabled(kLegacyButtonClick, 1, false);
  EXPECT_EQ(Name(kEventLeftButton, true, 1, 1), "ONBUTTONCLICK2");
  EXPECT_EQ(Name(kEventRightButton, true, 1, 1), "ONBUTTONRIGHTCLICK1");
  SetLegacyEventEnabled(kLegacyButtonClick, 1, true);
  EXPECT_EQ(Name(kEventLeftButton, true, 1, 1), "ONBUTTONCLICK1");

  ModifyLegacyButton(1, 50, 50, 60, 60);
  EXPECT_EQ(Name(kEventLeftButton, true, 1, 1), "ONBUTTONCLICK2");
  EXPECT_EQ(Name(kEventLeftButton, true, 55, 55), "ONBUTTONCLICK1");
  EXPECT_EQ(LegacyButtonOver(55, 55), "ONBUTTONOVER1");
  ASSERT_NE(LegacyRecordUnderPointer(), nullptr);
  EXPECT_EQ(LegacyRecordUnderPointer()->id, 1);
  // Removing the record under the pointer forgets it, so WhileMouseOn ends.
  RemoveLegacyButton(1);
  EXPECT_EQ(LegacyRecordUnderPointer(), nullptr);
  EXPECT_EQ(Name(kEventLeftButton, true, 55, 55), "");
  EXPECT_EQ(LegacyButtonOver(55, 55), "");

  ASSERT_EQ(CreateLegacyKey(3, "a"), 0);
  ASSERT_EQ(ModifyLegacyKey(3, "F1"), 0);
  EXPECT_EQ(Name(kEventKey, true, 0, 0, 'a'), "");
  EXPECT_EQ(Name(kEventKey, true, 0, 0, kKeyF1), "ONKEYDOWN3");
  RemoveLegacyKey(3);
  EXPECT_EQ(Name(kEventKey, true, 0, 0, kKeyF1), "");
  EXPECT_TRUE(HaveLegacyRecords());
  ClearLegacyEvents();
  EXPECT_FALSE(HaveLegacyRecords());
}

TEST_F(LegacyEventsTest, CloseWindowMarksTheCurrentDisplaysCloseBox) {
  OpenInputDisplay();
  qvDisplayInput* d = CurrentDisplayInput();
  ASSERT_NE(d, nullptr);
  SetLegacyEventEnabled(kLegacyCloseWindow, 0, true);
  EXPECT_EQ(d->closeWindowHandled, 1);
  SetLegacyEventEnabled(kLegacyCloseWindow, 0, false);
  EXPECT_EQ(d->closeWindowHandled, 0);
  CloseInputDisplay(nullptr);
}

}  // namespace
}  // namespace qv
