// SDL's clipboard text; main thread only (os/clipboard.cpp forwards the calls there).
#include <string>

#include "platform/os/dialog_backends.h"
#include "platform/sdl/sdl_library.h"

namespace qv {

int SdlSetClipboardText(const std::string& text) { return SDL_SetClipboardText(text.c_str()); }

bool SdlHasClipboardText() { return SDL_HasClipboardText() == SDL_TRUE; }

bool SdlGetClipboardText(std::string* text) {
  char* t = SDL_GetClipboardText();
  if (t == nullptr) return false;
  *text = t;
  SDL_free(t);
  return true;
}

}  // namespace qv
