// What the main loop needs of its other neighbours: the displays whose window states it gathers,
// and the audio channels whose notifications it waits on. The display and audio parts of the
// player implement the hosts; tests fake them.
#pragma once

#include "platform/sync.h"

namespace qv {

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
  // wait for the main thread): copies the gathered window states into the displays. Called by
  // SyncWindowStates only when states were marked since its last run (MarkWindowStatesGathered;
  // every pass marks), so work of its own that waits for it must be marked too.
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
