// The clock rules of the internal video engine, apart from its threads so that tests drive them
// with times of their own: when a decoded frame is due, which frames are skipped before they are
// decoded into the ring, which shown frames are late and dropped, and how pausing freezes the
// clock that the frames follow. Times are seconds on one clock (the engine's wall clock).
//
// Not thread-safe: the engine calls it under its ring lock.
#pragma once

#include <cstdint>

namespace qv {

// A time stamp jump this large or larger (or backwards) keeps the previous frame delay.
inline constexpr double kVideoJumpSeconds = 10.0;

struct qvVideoTiming {
  double frameTimer = 0.0;  // when the next scheduled frame is due
  double lastStamp = -10000.0;
  double lastDelay = 0.0;
  float dropFactor = 1.0f;
  float skipAccumulator = 0.0f;
  // The clock the frames follow: while paused the frozen value, else now + offset.
  bool paused = false;
  double frozen = 0.0;
  double offset = 0.0;
  double pausedAt = 0.0;      // wall time of the pause
  double lastShown = -1.0e9;  // wall time the last frame was shown

  // Starts again at `now` (playback start, a seek's flush marker): the first frame is due at once.
  void Reset(double now);
  double ExternalClock(double now) const { return paused ? frozen : now + offset; }
  // The display time of a frame with time stamp `stamp`. `audioClock` is the sound heard now
  // (ignored without sound), which pulls the frames back into step.
  double Schedule(double stamp, double now, bool hasSound, double audioClock);
  // Counts a decoded frame against the drop factor: true when it is to be skipped.
  bool SkipDecodedFrame();
  // Both ring slots are full: the video keeps up, so fewer frames are skipped.
  void RingFull(bool seeking);

  enum class Refresh { kWait, kShow, kDrop };
  // For the ring's oldest frame at `now`: kWait before its display time; else the clock follows
  // it and it is shown, or dropped as late. `nextDisplay` is the second ready frame's display
  // time, or a negative value when it is the only one.
  Refresh Decide(double now, double display, double stamp, double nextDisplay);
  void Shown(double now) { lastShown = now; }

  void Pause(double now);
  void Resume(double now);
};

}  // namespace qv
