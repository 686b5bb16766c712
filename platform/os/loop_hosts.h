// What the main loop needs of its neighbours: the window system it sleeps in and pumps, the
// displays whose window states it gathers, and the audio channels whose notifications it waits
// on. The display and audio parts of the player implement the hosts; tests fake them.
#pragma once

#include "platform/platform.h"

namespace qv {

class WindowSystem {
 public:
  virtual ~WindowSystem() = default;
  // Main thread: sleeps until one of the descriptors is readable, Wake() was called or a window
  // event is pending. May return early.
  virtual void Wait(const int* fds, int count) = 0;
  // Any thread: makes a Wait in progress (or the next one) return. Calls are coalesced.
  virtual void Wake() = 0;
  // Main thread, display-list lock held: hands every pending window event to its handler.
  virtual void Pump() = 0;
  // Timer thread: the pointer's screen position; false when unknown.
  virtual bool QueryPointer(int* x, int* y) = 0;
};

struct qvQuitSwitches {
  int ctrlC;
  int leftButton;
  int escape;
};

class DisplayHost {
 public:
  virtual ~DisplayHost() = default;
  // Main thread, display-list lock held, after the pump of every pass: takes each display's
  // gathered flags (pointer moved, close box, keys, size and move events). True when a quit
  // condition holds under the switches.
  virtual bool EndPass(bool pointerMoved, const qvQuitSwitches& switches) = 0;
  // Script thread, display-list lock held (it may leave and enter it again around calls that
  // wait for the main thread): copies the gathered window states into the displays.
  virtual void SyncDisplays() = 0;
};

class AudioHost {
 public:
  virtual ~AudioHost() = default;
  // Main thread, before every wait: the notification signals of the playing channels in channel
  // order (at most `max`).
  virtual int CollectChannelSignals(qvSignal** out, int max) = 0;
  // Main thread: that channel's notification came.
  virtual void OnChannelEvent(qvSignal* signal) = 0;
};

}  // namespace qv
