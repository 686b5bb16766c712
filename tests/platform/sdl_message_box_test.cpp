// SDL's message box stands in for zenity once SDL's video runs; SDL wants it on the main thread,
// so a script thread's message requester is handed to the main loop and its answer handed back.
#include <SDL.h>

#include <cstdlib>

#include "platform/dialogs.h"
#include "platform/sdl/sdl_window_system.h"
#include "tests/platform/fixture.h"

using namespace qv;

TEST_F(PlatformTest, MessageRequestersOfTheScriptThreadGoThroughTheMainLoop) {
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  for (const char* name : {"QUILLVANE_REQUESTER_SCRIPT", "DISPLAY", "WAYLAND_DISPLAY"}) {
    unsetenv(name);
  }
  auto sdl = SdlWindowSystem::Create();
  ASSERT_NE(sdl, nullptr) << SDL_GetError();
  SetWindowSystem(sdl.get());
  bool answered = true;
  int pressed = -1;
  int rc = MessageLoop([&] {
    qvMessageAsk ask;
    ask.title = "title";
    ask.body = "body";
    ask.buttons = {"Yes", "No"};
    // The dummy driver shows no box: the requester is cancelled, on the main thread.
    answered = AskMessage(ask, &pressed);
    return 0;
  });
  SetWindowSystem(nullptr);
  EXPECT_EQ(rc, 0);
  EXPECT_FALSE(answered);
  EXPECT_EQ(pressed, -1);
}
