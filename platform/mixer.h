// Sound buffers and the software mixer that plays them: PCM buffers that play once, a number of
// passes or for ever, at their own frequency, volume and pan, with notifications when the mixer
// has consumed given frames and when a buffer stops at its end. One output device (48000 Hz,
// 16-bit stereo) pulls the mix on its own thread; without it, RenderMix produces the same mix on
// the caller's thread for exact tests and offline work.
//
// Every function may be called on any thread: the voices are guarded by the mixer's lock, the PCM
// of a buffer by the buffer's own lock (held briefly by the mixer and by UnlockSoundBuffer).
#pragma once

#include <cstdint>

#include "platform/sync.h"

namespace qv {

inline constexpr int kMixRate = 48000;  // frames per second of the mix and of the device
inline constexpr int kMinBufferFrequency = 100;
inline constexpr int kMaxBufferFrequency = 200000;
inline constexpr int32_t kSilentMillibels = -10000;  // volume and pan limits, hundredths of dB
// The most one sound buffer holds, as the sound systems the scripts were written for allowed:
// about 23 minutes of 16-bit stereo at 48 kHz.
inline constexpr uint32_t kMaxSoundBufferBytes = 0x0FFFFFFF;

struct qvSoundBuffer;

// A buffer of `bytes` bytes (whole frames) of PCM: 8-bit unsigned or 16-bit signed little-endian
// samples, 1 or 2 channels interleaved, at `rate` Hz. `data` (may be null: silence) is copied
// once. Null for a bad format, an empty or ragged length, one above kMaxSoundBufferBytes, or
// without memory.
qvSoundBuffer* CreateSoundBuffer(int rate, int channels, int bits, const void* data,
                                 uint32_t bytes);
// A second voice over the same PCM (no copy), with the source's frequency, volume and pan,
// stopped, cursor at 0, no notifications. Null without memory.
qvSoundBuffer* DuplicateSoundBuffer(qvSoundBuffer* source);
// Stops the buffer and frees it (null is ignored); the PCM goes with the last buffer sharing it.
void ReleaseSoundBuffer(qvSoundBuffer* buffer);

// The length in bytes and the bytes per frame.
uint32_t GetSoundBufferBytes(const qvSoundBuffer* buffer);
uint32_t GetSoundBufferBlock(const qvSoundBuffer* buffer);

// A writable copy of bytes [offset, offset + bytes) of the buffer: the pointer, or null when the
// range is outside or empty (or without memory). The mixer keeps playing the old bytes until
// UnlockSoundBuffer commits the copy under the buffer's lock; one lock at a time per buffer.
void* LockSoundBuffer(qvSoundBuffer* buffer, uint32_t offset, uint32_t bytes);
void UnlockSoundBuffer(qvSoundBuffer* buffer);

// Starts the buffer from its cursor. `passes` 0 loops for ever; n plays n passes and stops, the
// last pass after `lastPassFrames` frames (0 or more than the buffer: the whole pass). Playing a
// buffer that plays restarts its pass count. Returns 0, or ERR_DSOUNDPLAY for a null buffer.
int PlaySoundBuffer(qvSoundBuffer* buffer, int32_t passes, uint32_t lastPassFrames);
// Stops it where it is (no stop notification).
void StopSoundBuffer(qvSoundBuffer* buffer);
bool IsSoundBufferPlaying(const qvSoundBuffer* buffer);
// The play cursor in bytes: the first frame of the current pass the mixer has not consumed.
uint32_t GetSoundBufferPosition(const qvSoundBuffer* buffer);
// Frames consumed since the last PlaySoundBuffer, over every pass: what has been heard of a
// looping buffer that is refilled as it plays.
uint64_t GetSoundBufferConsumed(const qvSoundBuffer* buffer);
// Moves the cursor to the frame holding byte `offset` (ignored when outside).
void SetSoundBufferPosition(qvSoundBuffer* buffer, uint32_t offset);
// Frequency in Hz, kMinBufferFrequency..kMaxBufferFrequency: false (unchanged) outside.
bool SetSoundBufferFrequency(qvSoundBuffer* buffer, int hz);
// Attenuation in hundredths of a decibel, kSilentMillibels (silence) to 0 (full), clamped.
void SetSoundBufferVolume(qvSoundBuffer* buffer, int32_t millibels);
// Pan in hundredths of a decibel, -10000 (left only) to 10000 (right only), 0 centre, clamped.
void SetSoundBufferPan(qvSoundBuffer* buffer, int32_t pan);

// Notifications: the signal is set and the count grows each time the mixer consumes the frame
// holding byte `offset`; with kNotifyAtStop, each time the buffer stops at the end of its last
// pass. Replaces the earlier list; false for more than kMaxNotifications or an offset outside.
inline constexpr uint32_t kNotifyAtStop = 0xFFFFFFFFu;
inline constexpr int kMaxNotifications = 4;
struct qvBufferNotify {
  uint32_t offset;
  qvSignal* signal;  // may be null: only the count
};
bool SetSoundBufferNotifications(qvSoundBuffer* buffer, const qvBufferNotify* list, int count);
// How often notification `index` of the current list fired (0 for an index outside).
uint32_t GetSoundBufferNotifyCount(const qvSoundBuffer* buffer, int index);

// Stream buffers: a ring of `frames` frames that one producer appends to while the mixer drains
// it. The mixer plays only what was written: when it catches up with the producer it plays silence
// and stands where it was (an underrun), so a late refill delays the stream and never repeats or
// skips any of it. After EndStreamBuffer it stops, with the kNotifyAtStop notifications, once the
// last frame written has been consumed. PlaySoundBuffer(buffer, 0, 0) starts it (once); the
// consumed count is what has been heard. Null for a bad format or size, or without memory.
qvSoundBuffer* CreateStreamBuffer(int rate, int channels, int bits, uint32_t frames);
// Appends up to `frames` frames of `data` (the buffer's format, whole frames): the frames taken,
// at most the room. 0 for a buffer that is no stream or has ended.
uint32_t WriteStreamBuffer(qvSoundBuffer* buffer, const void* data, uint32_t frames);
// The frames it can take now: its size less what is written and not yet consumed.
uint32_t GetStreamBufferRoom(const qvSoundBuffer* buffer);
// The stream has nothing after what is written.
void EndStreamBuffer(qvSoundBuffer* buffer);
// The producer's wake-up: the mixer sets `signal` once when the room of the stream buffer has
// grown to `frames` or more, and again only after a write has left less room than that. So a
// producer that waits on it sleeps until a stretch of the ring is free instead of polling the
// cursor. A null signal or 0 frames ends it; false for a buffer that is no stream.
bool SetStreamBufferRoomSignal(qvSoundBuffer* buffer, uint32_t frames, qvSignal* signal);

// Test seam of the player run whole: QV_TEST_REFILL_STALL="<after ms>:<stall ms>" asks each music
// refill thread to stall once, for <stall ms>, after <after ms> of its stream have been heard (the
// stall of a busy machine, at a known place). False when it is unset or malformed. Read once.
bool GetRefillStallSeam(int* afterMs, int* stallMs);

// Mixes `frames` frames of interleaved 16-bit stereo at kMixRate into `out`, advancing every
// playing buffer; what the device callback calls. Any thread; notifications are set after the
// mixer's lock is left.
void RenderMix(int16_t* out, int frames);
// How many buffers play now.
int CountPlayingSoundBuffers();

// The output device: 0, or ERR_OPENAUDIO when SDL's audio cannot start (no driver, no device).
// Opening an open device returns 0. While it is open its thread calls RenderMix.
int OpenAudioOutput();
void CloseAudioOutput();
bool IsAudioOutputOpen();

}  // namespace qv
