// The eight audio channels of the sound engine and the queue of sound events. A sample plays on a
// channel as a duplicate of its sound buffer for a number of passes or a time; a music stream plays
// on a channel through the mixer's stream ring, which its own thread keeps topped up 250 ms ahead
// (a late refill is heard as silence, never as stale audio). Pass ends and stream ends come back
// as notifications that the main thread handles (the main loop's audio host), which posts
// OnSampleLoop, OnSampleEnd and OnMusicEnd events for the script.
//
// The channel table is guarded by the audio lock; stream positions by the stream lock (taken before
// the audio lock where both are needed). A channel is ended only under the audio lock on the main
// thread (ProcessAudioChannels); the script thread starts, stops and adjusts channels.
#pragma once

#include <cstdint>

#include "core/events.h"    // SoundEventKind
#include "core/registry.h"  // qvObjectId

namespace qv {

struct qvPcmSample;
struct qvSampleStream;

inline constexpr int kAudioChannels = 8;

// Start-up (script or main thread, before channels are used): resets the channels, makes the
// locks, signals and the event queue and installs the main loop's audio host. 0, ERR_SEMAPHORE or
// ERR_CREATEEVENT. ShutdownAudio stops everything and frees it (also the output device).
int32_t InitAudio();
void ShutdownAudio();
// Opens the output device once: 0 or ERR_OPENAUDIO.
int32_t OpenAudioDevice();
bool IsAudioDeviceOpen();

// Levels: volume 0-64 and panning 0-255 in hundredths of a decibel.
int32_t VolumeToMillibels(int32_t volume);
int32_t PanToMillibels(int32_t pan);

// ---- sound events (any thread) ----

// Switches "onsampleloop", "onsampleend", "onmusicend" or "onvideoend" (exact names).
void EnableSoundEvent(const char* name, bool on);
bool IsSoundEventEnabled(int32_t kind);
// Queues an event with position (count - 1) x passMs, plus `remainder` for a sample end, and wakes
// the main loop. A failed allocation loses the event.
void PostSoundEvent(int32_t kind, qvObjectId id, int32_t passMs, int32_t count, int32_t remainder);
// Takes the oldest: 1 with its values, 0 when none is pending.
int GetSoundEvent(int32_t* kind, qvObjectId* id, int32_t* position, int32_t* count);

// ---- samples (script thread) ----

// Takes the first free channel for the sample: `time` ms (-1: none) or `times` passes (0: for
// ever) at `pitch` Hz, volume 0-64, panning 0-255. 0, ERR_NOCHANNEL, or ERR_LOADSOUND.
int32_t PrepareSampleChannel(qvPcmSample* pcm, qvObjectId id, int32_t pitch, int32_t volume,
                             int32_t panning, int32_t time, int32_t times);
// Starts every prepared channel, in channel order: 0 or the first error.
int32_t StartPreparedChannels();
// Stops every channel playing the sample (null: every sample channel).
void StopSampleChannels(const qvPcmSample* pcm);
bool IsSampleOnChannel(const qvPcmSample* pcm);
// The lowest channel with the sample: pitch other than -1 sets only the frequency, else the volume
// and panning.
void UpdateSampleChannel(const qvPcmSample* pcm, int32_t pitch, int32_t volume, int32_t panning);
// For the first channel with the sample: the position in the current pass in ms and the passes
// done; false (values untouched) when it plays nowhere.
bool GetSampleChannelPosition(const qvPcmSample* pcm, int32_t* ms, int32_t* passes);

// ---- music streams (script thread) ----

// Plays the stream from its current frame on the first free channel: `times` passes (0: for
// ever), counting from `pass`. 0, ERR_NOCHANNEL, ERR_THREAD or the thread's start error.
int32_t StartStreamChannel(qvSampleStream* stream, qvObjectId id, int32_t times, int32_t pass,
                           int32_t volume);
// Stops the channel playing the stream (if any): *pass and *position get the pass and the frame
// actually heard; the stream is left there when pausing, else at frame 0.
void StopStreamChannel(qvSampleStream* stream, bool pause, int32_t* pass, int64_t* position);
void SetStreamChannelVolume(const qvSampleStream* stream, int32_t volume);
// The heard frame of a playing stream (never backwards within a pass), or -1.
int64_t GetStreamChannelPosition(const qvSampleStream* stream);
bool IsStreamOnChannel(const qvSampleStream* stream);
// Frames the stream's buffer holds beyond what the mixer consumed (-1 when it plays nowhere;
// INT64_MAX once the stream's end is written, when no more comes): an offline renderer waits for
// the refill thread with it before mixing more.
int64_t StreamFramesAhead(const qvSampleStream* stream);
// Frees the channels of streams whose end was reported; the streams go to `out` (at most `max`),
// left at frame 0. Returns their count.
int ReapEndedStreams(qvSampleStream** out, int max);

// ---- main thread ----

// Handles what the notifications of every channel announce (pass ends, stops, stream ends). The
// audio host calls it; tests without a main loop call it after rendering.
void ProcessAudioChannels();

// Test seam: while held, the refill threads write nothing into their buffers.
void HoldStreamRefills(bool hold);

}  // namespace qv
