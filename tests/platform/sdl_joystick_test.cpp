// Joysticks through SDL's joystick interface, fed by a virtual controller: the axes on the scale
// of -1000..1000 with the dead zone of 500 giving the direction, the fire buttons as a mask, and
// the port numbers from 0.
#include <SDL.h>

#include "base/errors.h"
#include "platform/input.h"
#include "tests/platform/fixture.h"

using namespace qv;

namespace {

TEST(JoystickDirection, EightSidesAndTheCentreAroundTheDeadZone) {
  struct Row {
    int32_t x, y, want;
  } rows[] = {
      {0, 0, 8},         {400, 400, 8},   {500, -500, 8}, {600, -600, 1}, {0, -501, 0},
      {501, 0, 2},       {1000, 1000, 3}, {0, 1000, 4},   {-600, 600, 5}, {-501, 0, 6},
      {-1000, -1000, 7}, {501, 500, 2},   {-500, 501, 4},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(JoystickDirection(r.x, r.y), r.want) << r.x << "," << r.y;
  }
  EXPECT_EQ(ScaleJoystickAxis(32767), 1000);
  EXPECT_EQ(ScaleJoystickAxis(-32768), -1000);
  EXPECT_EQ(ScaleJoystickAxis(0), 0);
  EXPECT_EQ(ScaleJoystickAxis(19661), 600);
}

TEST_F(PlatformTest, AVirtualJoystickIsReadAtPortZero) {
  ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK), 0) << SDL_GetError();
  int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 2, 32, 0);
  ASSERT_GE(index, 0) << SDL_GetError();
  SDL_Joystick* stick = SDL_JoystickOpen(index);
  ASSERT_NE(stick, nullptr);

  int32_t count = -1;
  EXPECT_EQ(CountJoysticksCore(&count), 0);
  EXPECT_EQ(count, index + 1);
  SDL_JoystickSetVirtualAxis(stick, 0, 19661);   // 600
  SDL_JoystickSetVirtualAxis(stick, 1, -19661);  // -600
  SDL_JoystickSetVirtualButton(stick, 0, SDL_PRESSED);
  SDL_JoystickSetVirtualButton(stick, 31, SDL_PRESSED);
  int32_t direction = -1;
  uint32_t buttons = 0;
  EXPECT_EQ(ReadJoystick(index, &direction, &buttons), 0);
  EXPECT_EQ(direction, 1);  // up and right
  EXPECT_EQ(buttons, 0x80000001u);
  SDL_JoystickSetVirtualAxis(stick, 0, 13107);  // 400: inside the dead zone
  SDL_JoystickSetVirtualAxis(stick, 1, 13107);
  SDL_JoystickSetVirtualButton(stick, 31, SDL_RELEASED);
  EXPECT_EQ(ReadJoystick(index, &direction, &buttons), 0);
  EXPECT_EQ(direction, 8);
  EXPECT_EQ(buttons, 1u);
  EXPECT_EQ(ReadJoystick(count, &direction, &buttons), ERR_NOJOYATPORT);
  EXPECT_EQ(ReadJoystick(-1, nullptr, nullptr), ERR_NOJOYATPORT);

  SDL_JoystickClose(stick);
  SDL_JoystickDetachVirtual(index);
  SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
}

}  // namespace
