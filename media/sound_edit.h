// Sample editing: mixing several samples into a new one with 24-bit accumulators, and the range
// reader that copies part of a sample into another layout (inserting into a sample, feeding
// music). Script thread.
#pragma once

#include <cstdint>
#include <vector>

namespace qv {

struct qvPcmSample;

struct qvMixSource {
  const qvPcmSample* pcm;
  double pitch;       // Hz; the step is pitch / output frequency
  double offset;      // start frame in the source
  int32_t threshold;  // output frame where the source begins
  int32_t length;     // frames to mix, -1 unlimited
  bool loop;
  double scale;
};

// Mixes `frames` frames at `frequency` into a new block (malloc'd) in engine code 2, 3, 4 or 5
// (signed 8-bit or 16-bit). Null without memory.
uint8_t* MixSamples(const std::vector<qvMixSource>& sources, int32_t frames, int32_t frequency,
                    int32_t code);

struct qvRangeOptions {
  bool loop = false;
  int64_t offset = 0;  // frame inside the range to start at
  int64_t start = 0;
  int64_t end = 0;  // 0: the source's frame count
};
// 0, or ERR_SMPRANGE for a negative value, start at or after a given end, or an end beyond the
// source.
int32_t CheckRange(const qvPcmSample* source, const qvRangeOptions& options);
// Writes `frames` frames of the source's range into `out` in `bits` (8 or 16), `channels` and
// signedness (8-bit only); past the range: wrapped with `loop`, else silence.
void ReadRange(const qvPcmSample* source, const qvRangeOptions& options, uint8_t* out,
               uint32_t frames, int32_t bits, int32_t channels, bool isSigned);

// A new block (malloc'd) holding the target with `frames` frames of the source's range inserted
// at `position` (clamped to the target), in the target's layout; null without memory.
uint8_t* InsertSampleFrames(const qvPcmSample* target, const qvPcmSample* source, int64_t position,
                            uint32_t frames, const qvRangeOptions& options);

}  // namespace qv
