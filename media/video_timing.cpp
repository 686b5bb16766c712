#include "media/video_timing.h"

#include <algorithm>
#include <cmath>

namespace qv {

void qvVideoTiming::Reset(double now) {
  frameTimer = now;
  lastStamp = -10000.0;
  lastDelay = 0.0;
  dropFactor = 1.0f;
  skipAccumulator = 0.0f;
  offset = frozen - now;
}

double qvVideoTiming::Schedule(double stamp, double now, bool hasSound, double audioClock) {
  double delay = stamp - lastStamp;
  if (delay <= 0.0 || delay >= kVideoJumpSeconds || std::isnan(delay)) {
    delay = lastDelay;
  } else {
    lastDelay = delay;
  }
  lastStamp = stamp;
  if (hasSound) {
    const double diff = ExternalClock(now) - audioClock;
    const double threshold = std::max(delay, 0.01);
    if (std::fabs(diff) < kVideoJumpSeconds) {
      if (diff <= -threshold) {
        delay = 0.0;  // behind the sound: show it at once
      } else if (diff >= threshold) {
        delay *= 2.0;  // ahead of the sound: let it wait
      }
    }
  }
  frameTimer += delay;
  return frameTimer;
}

bool qvVideoTiming::SkipDecodedFrame() {
  skipAccumulator += 1.0f;
  if (skipAccumulator < dropFactor) return true;
  skipAccumulator -= std::max(dropFactor, 1.0f);
  return false;
}

void qvVideoTiming::RingFull(bool seeking) {
  if (!seeking) dropFactor = std::max(dropFactor * 0.95f, 0.95f);
}

qvVideoTiming::Refresh qvVideoTiming::Decide(double now, double display, double stamp,
                                             double nextDisplay) {
  if (now < display) return Refresh::kWait;
  frozen = stamp;
  offset = stamp - now;
  const bool single = nextDisplay < 0.0;
  // With one frame ready, the next is expected a frame's delay after this one.
  const double next = single ? display + lastDelay : nextDisplay;
  const bool late = single ? now > next + 0.5 : now > next;
  if (late) {
    dropFactor *= 1.05f;
    // A video too slow for its pace still shows a frame a second.
    if (now - lastShown < 1.0) return Refresh::kDrop;
  }
  return Refresh::kShow;
}

void qvVideoTiming::Pause(double now) {
  if (paused) return;
  frozen = ExternalClock(now);
  pausedAt = now;
  paused = true;
}

void qvVideoTiming::Resume(double now) {
  if (!paused) return;
  const double length = now - pausedAt;
  frameTimer += length;
  lastShown += length;
  paused = false;
  offset = frozen - now;
}

}  // namespace qv
