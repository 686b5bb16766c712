// The window system over SDL2 video and events, used on the main thread only. The loop sleeps in
// SDL's wait (in poll() for the drivers without a screen, woken by every event queued); every
// loop signal that is set pushes one user event (coalesced while one is still queued) so the
// sleep ends, and every other event goes to the window procedure during the pump.
#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include "platform/window_system.h"

union SDL_Event;

namespace qv {

class SdlWindowSystem : public WindowSystem {
 public:
  // Starts SDL's video and events on the calling (main) thread; null when SDL cannot.
  static std::unique_ptr<SdlWindowSystem> Create();
  ~SdlWindowSystem() override;

  void Wait(const int* fds, int count, int timeoutMs) override;
  void Wake() override;
  void Pump() override;
  bool QueryPointer(int* x, int* y) override;
  bool PointerChangesOnlyInPump() const override { return true; }

  // The window procedure: gets every SDL event but the system's own wake-ups.
  void SetEventHandler(std::function<void(const SDL_Event&)> handler);
  // Runs at the end of every pump (presenting the windows, recording the qualifiers).
  void SetAfterPump(std::function<void()> afterPump);

 private:
  SdlWindowSystem(uint32_t wakeType, int wakeFd);
  uint32_t wakeType_;
  int wakeFd_;     // set by every event queued (an event watch), drained by Pump
  bool pollOnly_;  // a driver without a screen: Wait sleeps in poll()
  std::atomic<bool> wakePending_{false};
  std::atomic<int64_t> pointer_{0};
  std::atomic<bool> havePointer_{false};
  std::function<void(const SDL_Event&)> handler_;
  std::function<void()> afterPump_;
};

}  // namespace qv
