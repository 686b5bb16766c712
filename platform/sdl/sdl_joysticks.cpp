// Joysticks over SDL's joystick interface: the controllers attached when they are first asked
// for, in SDL's order for the whole run, their x and y axes scaled to -1000..1000 and buttons 0-31.
// SDL guards its joysticks with a lock of its own, so the script thread reads them directly;
// events from them are allowed while the window is in the background.
#include <mutex>
#include <vector>

#include "base/errors.h"
#include "platform/input.h"
#include "platform/os/window_native.h"
#include "platform/sdl/sdl_library.h"

namespace qv {

namespace {

std::mutex gMutex;
bool gStarted = false;
std::vector<SDL_Joystick*> gSticks;

// Starts SDL's joysticks and opens every controller attached now; gMutex held.
int StartJoysticks() {
  if (gStarted) return 0;
  if (!LoadSdl()) return ERR_DINPUT;
  SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
  if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) return ERR_DINPUT;
  int count = SDL_NumJoysticks();
  for (int i = 0; i < count; ++i) {
    // A controller that cannot be opened is left out; the others keep their order.
    if (SDL_Joystick* stick = SDL_JoystickOpen(i)) gSticks.push_back(stick);
  }
  gStarted = true;
  return 0;
}

}  // namespace

int32_t ScaleJoystickAxis(int32_t value) {
  int32_t scaled = static_cast<int32_t>(int64_t{value} * 1000 / 32767);
  return scaled < -1000 ? -1000 : scaled > 1000 ? 1000 : scaled;
}

int32_t JoystickDirection(int32_t x, int32_t y) {
  constexpr int32_t kDeadZone = 500;
  if (x > kDeadZone) return y > kDeadZone ? 3 : y < -kDeadZone ? 1 : 2;
  if (x < -kDeadZone) return y > kDeadZone ? 5 : y < -kDeadZone ? 7 : 6;
  return y > kDeadZone ? 4 : y < -kDeadZone ? 0 : 8;
}

int ReadJoystick(int port, int32_t* direction, uint32_t* buttons) {
  std::lock_guard<std::mutex> guard(gMutex);
  int code = StartJoysticks();
  if (code != 0) return code;
  if (port < 0 || static_cast<size_t>(port) >= gSticks.size()) return ERR_NOJOYATPORT;
  SDL_Joystick* stick = gSticks[static_cast<size_t>(port)];
  SDL_JoystickUpdate();
  int32_t dir = 8;
  uint32_t pressed = 0;
  if (SDL_JoystickGetAttached(stick)) {
    int32_t x = SDL_JoystickNumAxes(stick) > 0 ? ScaleJoystickAxis(SDL_JoystickGetAxis(stick, 0))
                                               : 0;
    int32_t y = SDL_JoystickNumAxes(stick) > 1 ? ScaleJoystickAxis(SDL_JoystickGetAxis(stick, 1))
                                               : 0;
    dir = JoystickDirection(x, y);
    int count = SDL_JoystickNumButtons(stick);
    for (int i = 0; i < count && i < 32; ++i) {
      if (SDL_JoystickGetButton(stick, i)) pressed |= 1u << i;
    }
  }
  if (direction != nullptr) *direction = dir;
  if (buttons != nullptr) *buttons = pressed;
  return 0;
}

int CountJoysticksCore(int32_t* count) {
  std::lock_guard<std::mutex> guard(gMutex);
  int code = StartJoysticks();
  if (count != nullptr) *count = code == 0 ? static_cast<int32_t>(gSticks.size()) : 0;
  return code;
}

void ShutdownJoysticks() {
  std::lock_guard<std::mutex> guard(gMutex);
  if (!gStarted) return;
  for (SDL_Joystick* stick : gSticks) SDL_JoystickClose(stick);
  gSticks.clear();
  SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
  if (SDL_WasInit(SDL_INIT_EVERYTHING) == 0) SDL_Quit();
  gStarted = false;
}

}  // namespace qv
