#include "platform/sdl/sdl_window_system.h"

#include <SDL.h>
#include <poll.h>

namespace qv {

namespace {
constexpr int kRecheckMs = 50;
}  // namespace

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

// A set signal wakes SDL's wait through Wake, but a signal set while the loop was marking it as
// one of its own may have missed its wake: the descriptors are looked at again every 50 ms, so
// that such a signal costs a short delay instead of a lost pass.
void SdlWindowSystem::Wait(const int* fds, int count) {
  pollfd set[12];
  int n = 0;
  for (int i = 0; i < count && n < 12; ++i) set[n++] = {fds[i], POLLIN, 0};
  for (;;) {
    if (n > 0 && poll(set, static_cast<nfds_t>(n), 0) > 0) return;
    if (SDL_WaitEventTimeout(nullptr, kRecheckMs) != 0) return;
  }
}

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
