// SDL2 by its versioned name, loaded once, never closed: its threads (sound, events) may run
// until the process ends.
#define QV_SDL_NO_REDIRECT
#include "platform/sdl/sdl_library.h"

#include <dlfcn.h>

#include "platform/os/lazy_library.h"

namespace qv {

namespace {

constexpr qvSdl MakeNothingTable() {
  qvSdl table;
#define QV_SDL_NOTHING(name) table.name = NothingFunction<decltype(&::name)>();
  QV_SDL_FUNCTIONS(QV_SDL_NOTHING)
#undef QV_SDL_NOTHING
  table.SDL_GetWindowWMInfo = NothingFunction<decltype(table.SDL_GetWindowWMInfo)>();
  // A subsystem that cannot start says so.
  table.SDL_InitSubSystem = [](Uint32) { return -1; };
  table.SDL_GetError = [] { return ""; };
  return table;
}

constexpr qvSdl kNothing = MakeNothingTable();
constinit qvLazyTable<qvSdl> gTable(&kNothing);

bool LoadInto(qvSdl* table) {
  void* handle = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return false;
  bool all = true;
#define QV_SDL_FIND(name) all = FindFunction(handle, #name, &table->name) && all;
  QV_SDL_FUNCTIONS(QV_SDL_FIND)
  QV_SDL_FIND(SDL_GetWindowWMInfo)
#undef QV_SDL_FIND
  return all;
}

}  // namespace

bool LoadSdl() { return gTable.Load(LoadInto); }

const qvSdl* SdlFunctions() { return gTable.Get(); }

}  // namespace qv
