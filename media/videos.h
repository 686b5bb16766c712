// The script's video objects: a video file opened for the internal engine, its list (appended at
// the tail and guarded by the video list lock), the driver setting that picks the engine, and
// the operations of the video library that need no display: seeks in milliseconds, pause and
// resume, and dumping a stopped video's frames and sound into files.
//
// The script thread opens, closes and drives videos; the engine's tasks reach a video only
// through SetVideoStateByStream, which looks it up under the list lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "core/args.h"      // qvOptionalId
#include "core/registry.h"  // qvObjectHeader, qvObjectId
#include "media/video_player.h"

namespace qv {

struct qvScriptState;
struct qvDisplay;

// Video states.
enum : int32_t {
  kVideoStopped = 0,
  kVideoPlaying = 1,
  kVideoPaused = 2,
  kVideoSuspended = 3,  // its display is closed
  kVideoEnded = 4,
};
// The driver setting: the start value tries the internal engine first, then the platform's.
enum : int32_t { kVideoDriverAny = -1, kVideoDriverOs = 0, kVideoDriverInternal = 1 };
// Backend kinds.
enum : int32_t { kVideoBackendPlatform = 0, kVideoBackendInternal = 1 };

struct qvVideo {
  qvObjectHeader header{};  // kObjectVideo
  std::unique_ptr<qvVideoPlayer> player;
  int32_t backend = kVideoBackendInternal;
  int32_t width = 0, height = 0;  // natural size
  int32_t frameCount = 0;
  int32_t durationMs = 0;
  bool seekable = false;
  int32_t volume = 64;
  qvDisplay* display = nullptr;  // the display it plays on, none while stopped
  int32_t x = 0, y = 0;          // its place there
  std::unique_ptr<qvVideoFrameSink> sink;
  // Written by the engine's refresh task when the video ends, read by the script thread.
  std::atomic<int32_t> state{kVideoStopped};
};

// Registers the list and makes its lock: 0, ERR_MEM or ERR_SEMAPHORE.
int32_t OpenVideoObjects();
// Closes every video (shutdown).
void FreeAllVideos(qvScriptState* L);

void SetVideoDriver(int32_t driver);
int32_t GetVideoDriver();

// Opens the file under the driver setting. 0; ERR_READFILE; ERR_LOADVIDEO (the internal engine
// takes no such file, or the platform's engine, which is not there yet, was the one asked);
// ERR_MEM. A numeric id closes that video first.
int32_t OpenVideoObject(qvScriptState* L, qvOptionalId id, const char* file, qvVideo** out);
int32_t CloseVideoObject(qvScriptState* L, qvObjectId id);
// 0 with the video, or ERR_FINDVIDEO (a number) / ERR_FINDARRAY (a handle).
int32_t FindVideoOrError(qvObjectId id, qvVideo** out);
// True when the file opens as a video.
bool ProbeVideoFile(const char* file);

// ERR_SEEKFORMAT for a video that cannot seek, ERR_SEEKRANGE for a position outside 0..duration
// (milliseconds, as the position reads).
int32_t SeekVideoObject(qvVideo* video, int64_t ms);
// Starts a stopped (or ended: stopped first) video. ERR_VIDPLAYING, ERR_VIDPAUSED, ERR_THREAD,
// ERR_SEEKRANGE. The frame of a seek while paused or ended is drawn into the display's window
// at once; the frames of the playback are kept by the engine (their road to the window through
// the display's pending frames is not built yet). The end posts OnVideoEnd once when the script
// asked for it.
int32_t PlayVideoObject(qvVideo* video, qvDisplay* display, int32_t x, int32_t y);
int32_t PauseVideoObject(qvVideo* video);   // ERR_VIDNOTPLAYING unless playing
int32_t ResumeVideoObject(qvVideo* video);  // ERR_VIDNOTPAUSED unless paused
void StopVideoObject(qvVideo* video);
void SetVideoObjectVolume(qvVideo* video, int32_t volume);
int64_t GetVideoPositionMs(qvVideo* video);

// The engine's report: sets the state of the video whose player it is (none: nothing).
void SetVideoStateByStream(const qvVideoPlayer* player, int32_t state);

// Every packet of a stopped video from its position: frames saved as "<destination><n>.<ext>"
// (n from 0) in the picture format, the sound as "<destination>.wav". `checkBreak` (may be null)
// runs between packets; its non-zero code ends the dump. 0, ERR_WRITEFILE (the name is the
// error's text), a saver's error, or the source's.
int32_t DumpVideoFrames(qvVideo* video, const char* destination, int32_t format,
                        const char* extension, int32_t (*checkBreak)(void*), void* context);

}  // namespace qv
