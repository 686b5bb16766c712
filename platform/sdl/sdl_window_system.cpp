#include "platform/sdl/sdl_window_system.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/sdl/sdl_library.h"

namespace qv {

namespace {

constexpr int kRecheckMs = 50;

// Every event that enters SDL's queue, from any thread, also sets the wake descriptor; not the
// marker that each poll of SDL's queue puts at its end, which would wake the loop for nothing.
int WatchEvents(void* data, SDL_Event* event) {
  if (event->type == SDL_POLLSENTINEL) return 0;
  uint64_t one = 1;
  (void)!write(*static_cast<int*>(data), &one, sizeof one);
  return 0;
}

bool DriverWithoutScreen() {
  const char* driver = SDL_GetCurrentVideoDriver();
  return driver != nullptr &&
         (std::strcmp(driver, "dummy") == 0 || std::strcmp(driver, "offscreen") == 0);
}

}  // namespace

std::unique_ptr<SdlWindowSystem> SdlWindowSystem::Create() {
  if (!LoadSdl()) return nullptr;
  // The platform handles the signals that end a run itself.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  // Window surfaces go through the driver's own framebuffer: a texture framebuffer remakes each
  // window for OpenGL on its first surface, which loses the shape of a shaped window.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
    // What a failed start made (a bus connection) goes with SDL when nothing else uses it. That
    // also frees the thread's error text, so the reason is kept across it for the caller.
    const char* error = SDL_GetError();
    std::string reason = error != nullptr ? error : "";
    if (SDL_WasInit(SDL_INIT_EVERYTHING) == 0) SDL_Quit();
    SDL_SetError("%s", reason.c_str());
    return nullptr;
  }
  uint32_t type = SDL_RegisterEvents(1);
  int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (type == static_cast<uint32_t>(-1) || fd < 0) {
    if (fd >= 0) close(fd);
    SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
    if (SDL_WasInit(SDL_INIT_EVERYTHING) == 0) SDL_Quit();
    return nullptr;
  }
  return std::unique_ptr<SdlWindowSystem>(new SdlWindowSystem(type, fd));
}

SdlWindowSystem::SdlWindowSystem(uint32_t wakeType, int wakeFd)
    : wakeType_(wakeType), wakeFd_(wakeFd), pollOnly_(DriverWithoutScreen()) {
  SDL_AddEventWatch(WatchEvents, &wakeFd_);
}

SdlWindowSystem::~SdlWindowSystem() {
  SDL_DelEventWatch(WatchEvents, &wakeFd_);
  close(wakeFd_);
  SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
  if (SDL_WasInit(SDL_INIT_EVERYTHING) == 0) SDL_Quit();
}

// A driver without a screen gets no events but those pushed into SDL's queue, and each of them
// sets the wake descriptor: the loop sleeps in poll() on its own descriptors and that one. A real
// driver's events come from its connection, so the loop sleeps in SDL's wait, which pushed events
// end (every loop signal that is set pushes one); it sleeps without a time limit unless the caller
// gives one, so an idle window costs nothing.
void SdlWindowSystem::Wait(const int* fds, int count, int timeoutMs) {
  pollfd set[13];
  int n = 0;
  for (int i = 0; i < count && n < 12; ++i) set[n++] = {fds[i], POLLIN, 0};
  if (pollOnly_) {
    set[n++] = {wakeFd_, POLLIN, 0};
    // The watch runs just before its event enters the queue, so a pass may have drained the wake
    // of an event not queued yet: the queue is looked at again every 50 ms.
    int recheck = timeoutMs >= 0 && timeoutMs < kRecheckMs ? timeoutMs : kRecheckMs;
    for (;;) {
      if (SDL_PeepEvents(nullptr, 1, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0) return;
      if (poll(set, static_cast<nfds_t>(n), recheck) > 0 || timeoutMs >= 0) return;
    }
  }
  if (n > 0 && poll(set, static_cast<nfds_t>(n), 0) > 0) return;
  SDL_WaitEventTimeout(nullptr, timeoutMs);
}

void SdlWindowSystem::Wake() {
  if (wakePending_.exchange(true)) return;
  SDL_Event event{};
  event.type = wakeType_;
  if (SDL_PushEvent(&event) != 1) wakePending_.store(false);
}

void SdlWindowSystem::Pump() {
  uint64_t value;
  (void)!read(wakeFd_, &value, sizeof value);
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
