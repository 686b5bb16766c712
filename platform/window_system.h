// The window system that the main loop sleeps in and pumps. Backends fill it: the headless one in
// os/null_window_system.h, the SDL2 one in sdl/sdl_window_system.h.
#pragma once

namespace qv {

class WindowSystem {
 public:
  virtual ~WindowSystem() = default;
  // Main thread: sleeps until one of the descriptors is readable, Wake() was called, a window
  // event is pending or `timeoutMs` passed (never with -1). May return early.
  virtual void Wait(const int* fds, int count, int timeoutMs) = 0;
  // Any thread: makes a Wait in progress (or the next one) return. Calls are coalesced.
  virtual void Wake() = 0;
  // Main thread, display-list lock held: hands every pending window event to its handler.
  virtual void Pump() = 0;
  // Timer thread: the pointer's screen position; false when unknown.
  virtual bool QueryPointer(int* x, int* y) = 0;
  // True when QueryPointer's answer changes only in Pump: the pointer poll then rests from the
  // first unchanged answer until the next pump, so that an idle window does not wake on a clock.
  virtual bool PointerChangesOnlyInPump() const { return false; }
};

}  // namespace qv
