// SDL's message box, which shows message requesters when zenity is missing but SDL's video runs.
#include <vector>

#include "platform/os/dialog_backends.h"
#include "platform/sdl/sdl_library.h"

namespace qv {

// The dummy and offscreen drivers have no screen to show a box on.
bool SdlVideoRunning() {
  if (SDL_WasInit(SDL_INIT_VIDEO) == 0) return false;
  const char* driver = SDL_GetCurrentVideoDriver();
  return driver != nullptr && SDL_strcmp(driver, "dummy") != 0 &&
         SDL_strcmp(driver, "offscreen") != 0;
}

// Main thread only (dialogs.cpp forwards the call there), as SDL's video calls are.
bool ShowSdlMessageBox(const qvMessageAsk& ask, int* pressed) {
  std::vector<SDL_MessageBoxButtonData> buttons;
  for (size_t i = 0; i < ask.buttons.size(); ++i) {
    Uint32 flags = 0;
    if (static_cast<int>(i) + 1 == ask.defaultButton)
      flags |= SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT;
    buttons.push_back({flags, static_cast<int>(i) + 1, ask.buttons[i].c_str()});
  }
  Uint32 flags = ask.icon == 2   ? SDL_MESSAGEBOX_ERROR
                 : ask.icon == 3 ? SDL_MESSAGEBOX_WARNING
                                 : SDL_MESSAGEBOX_INFORMATION;
  SDL_MessageBoxData data{flags,
                          nullptr,
                          ask.title.c_str(),
                          ask.body.c_str(),
                          static_cast<int>(buttons.size()),
                          buttons.data(),
                          nullptr};
  int id = -1;
  if (SDL_ShowMessageBox(&data, &id) != 0 || id < 1) return false;
  *pressed = id;
  return true;
}

}  // namespace qv
