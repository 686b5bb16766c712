#include "platform/sdl/sdl_window_system.h"

#include <SDL.h>

namespace qv {

std::unique_ptr<SdlWindowSystem> SdlWindowSystem::Create() {
  // The platform handles the signals that end a run itself.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) return nullptr;
  uint32_t type = SDL_RegisterEvents(1);
  if (type == static_cast<uint32_t>(-1)) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
    return nullptr;
  }
  return std::unique_ptr<SdlWindowSystem>(new SdlWindowSystem(type));
}

SdlWindowSystem::SdlWindowSystem(uint32_t wakeType) : wakeType_(wakeType) {}

SdlWindowSystem::~SdlWindowSystem() {
  SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
  if (SDL_WasInit(SDL_INIT_EVERYTHING) == 0) SDL_Quit();
}

void SdlWindowSystem::Wait(const int*, int) { SDL_WaitEvent(nullptr); }

void SdlWindowSystem::Wake() {
  if (wakePending_.exchange(true)) return;
  SDL_Event event{};
  event.type = wakeType_;
  if (SDL_PushEvent(&event) != 1) wakePending_.store(false);
}

void SdlWindowSystem::Pump() {
  SDL_Event event;
  while (SDL_PollEvent(&event)) {
    if (event.type == wakeType_) {
      // Taken out of the queue: the next signal must push again.
      wakePending_.store(false);
    } else if (handler_) {
      handler_(event);
    }
  }
  if (afterPump_) afterPump_();
  int x, y;
  SDL_GetGlobalMouseState(&x, &y);
  pointer_.store((static_cast<int64_t>(x) << 32) | static_cast<uint32_t>(y));
  havePointer_.store(true);
}

// The position the main thread saw at its last pump: SDL's video calls stay on the main thread.
bool SdlWindowSystem::QueryPointer(int* x, int* y) {
  if (!havePointer_.load()) return false;
  int64_t p = pointer_.load();
  *x = static_cast<int32_t>(p >> 32);
  *y = static_cast<int32_t>(p & 0xffffffff);
  return true;
}

void SdlWindowSystem::SetEventHandler(std::function<void(const SDL_Event&)> handler) {
  handler_ = std::move(handler);
}

void SdlWindowSystem::SetAfterPump(std::function<void()> afterPump) {
  afterPump_ = std::move(afterPump);
}

}  // namespace qv
