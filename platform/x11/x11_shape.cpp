// Window shapes on an X display, where SDL has no call that removes one: a shaped window that the
// user resized shows and takes input over all of it. Built where the X shape extension is found.
// clang-format off
#include <SDL_syswm.h>  // before the SDL table renames its functions
#include "platform/sdl/sdl_internal.h"
#include "platform/x11/x11_library.h"
// clang-format on

namespace qv {

void ClearX11Shape(SDL_Window* sdl) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(sdl, &info) || info.subsystem != SDL_SYSWM_X11) return;
  if (!LoadXlib()) return;
  ::Display* display = info.info.x11.display;
  ::Window window = info.info.x11.window;
  XShapeCombineMask(display, window, ShapeBounding, 0, 0, None, ShapeSet);
  XShapeCombineMask(display, window, ShapeInput, 0, 0, None, ShapeSet);
  XFlush(display);
}

}  // namespace qv
