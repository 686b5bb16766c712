// The tracker-module replayer: four-channel, 31-sample "M.K." modules parsed into a module state
// and rendered as 16-bit stereo at 48000 Hz (mixing at 96000 steps a second, two steps a frame).
// A module loops forever; the end of the song only marks the state.
//
// A module is rendered by one thread at a time; the published position and the jump request are
// atomic so that another thread may read the one and post the other.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qv {

constexpr int32_t kTrackerMixRate = 96000;  // mixing steps a second
constexpr int32_t kTrackerOutputRate = 48000;
constexpr int32_t kTrackerRows = 64;
constexpr int32_t kTrackerChannels = 4;
constexpr int32_t kTrackerSamples = 31;
constexpr int32_t kTrackerMinPeriod = 113;
constexpr int32_t kTrackerMaxPeriod = 856;

struct qvTrackerCell {
  int32_t period;
  int32_t sample;
  uint8_t effect;
  uint8_t paramHi;
  uint8_t paramLo;
  uint8_t param;
};
static_assert(sizeof(qvTrackerCell) == 12);

struct qvTrackerSample {
  char name[23];
  int8_t* data;    // inside the module's own copy of the file (funk writes into it)
  int64_t length;  // 1/16384 sample units
  int64_t repeatStart;
  int64_t repeatLength;
  int64_t loopEnd;
  int32_t bytes;
  bool loops;
  int32_t finetune;
  int32_t volume;  // 0-64 as stored
};

struct qvTrackerChannel {
  int32_t sample;    // current, 0: none
  int32_t pending;   // taken at the current sample's loop wrap
  int64_t position;  // 1/16384 sample; -1: silent
  int32_t step;
  int32_t period;      // playing
  int32_t notePeriod;  // without vibrato or arpeggio
  int32_t portaTarget;
  int32_t portaSpeed;
  int32_t slide;
  int32_t baseVolume;
  int32_t volume;  // output, 0-63
  int32_t volumeSlide;
  int32_t arpeggio;
  int32_t vibratoSpeed, vibratoDepth, vibratoPos, vibratoWave;
  int32_t tremoloSpeed, tremoloDepth, tremoloPos, tremoloWave;
  int32_t glissando;
  int32_t funkSpeed, funkCount, funkPos;
  int32_t finetune;
  int32_t lastOffset;
  int32_t loopRow, loopCount;
  int32_t panning;     // 0-255
  qvTrackerCell cell;  // this row's cell
  bool delayed;        // the cell's note waits for tick ED x
};

struct qvTrackerModule {
  char name[21];
  int32_t patterns;
  int32_t songLength;  // 1..128
  qvTrackerSample samples[kTrackerSamples];
  qvTrackerChannel channels[kTrackerChannels];
  bool filterAllowed;
  int32_t masterVolume;  // 256: the average of the two steps
  uint8_t order[128];
  std::vector<qvTrackerCell> cells;  // patterns x 64 rows x 4 channels
  std::vector<uint8_t> image;        // the module's own copy of the file
  // The next row to read.
  int32_t position;
  int32_t row;
  int32_t speed;
  int32_t tempo;
  int32_t tickLength;   // mixing steps
  int32_t stepsToTick;  // until the next tick
  int32_t tick;         // ticks since the row (or its repetition) began
  int32_t patternDelay;
  int32_t songEnds;  // times the song ended (or was marked ended)
  bool filterOn;
  float filterA, filterB;
  float filterHistory[2][3];  // per side: input, first stage, second stage
  // Published for other threads.
  std::atomic<int32_t> shownPosition;
  std::atomic<int32_t> shownRow;
  std::atomic<int32_t> jumpRequest;  // position << 8 | row, -1: none
};

// The period for the note nearest `period` in the finetune-0 row, moved by `offset` semitones
// (index clamped to 0..35), from the row of `finetune`.
int32_t LookupTrackerPeriod(int32_t period, int32_t finetune, int32_t offset);
// The mixing step (1/16384 sample per step) for a period; 0 for period 0.
int32_t TrackerStep(int32_t period);

// True when the 4 bytes at 1080 announce a module.
bool IsTrackerModule(const uint8_t* data, size_t size);
// Parses a copy of the file into `m` and resets playback: 0, or ERR_UNKNOWNMUSFMT when the file is
// too short for its patterns (nothing kept).
int32_t ParseTrackerModule(const uint8_t* data, size_t size, qvTrackerModule* m);
// Playback from position 0, row 0, speed 6, tempo 125, channels silent.
void ResetTrackerPlayback(qvTrackerModule* m);
// Moves playback to (position, row) as the next row to read; the position taken modulo the song.
void SetTrackerPosition(qvTrackerModule* m, int32_t position, int32_t row);

void ProcessTrackerRow(qvTrackerModule* m);
void ProcessTrackerTick(qvTrackerModule* m);
// Renders `frames` interleaved 16-bit stereo frames at 48000 Hz. A posted jump request is taken
// first.
void MixTrackerAudio(qvTrackerModule* m, int16_t* out, int32_t frames);

}  // namespace qv
