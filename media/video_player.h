// The internal video engine: a packet source (video_source.h) played by four named tasks. The
// decoder task reads packets ahead into an audio and a video queue; the video server decodes
// pictures into a ring of two frames, each with its display time (video_timing.h); the refresh
// task hands each frame to the frame sink when its time comes, dropping late ones, and reports
// the end once both queues have drained; the audio server (only with sound) feeds the mixer from
// ReadAudio, whose decoded time is the clock the frames keep step with.
//
// The script thread owns a player: it starts, stops, pauses, resumes, seeks and closes it; the
// sink is called on the refresh task (and on the script thread for the frame of a paused seek).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "media/video_source.h"
#include "media/video_timing.h"

namespace qv {

struct qvTask;
struct qvSoundBuffer;

// The engine's read-ahead limits.
inline constexpr uint32_t kVideoAudioQueueBytes = 81920;
inline constexpr uint32_t kVideoVideoQueueBytes = 1310720;
inline constexpr uint32_t kVideoStagingBytes = 0x40000;

// A queue of packets between the decoder task and a consumer. A packet without data is the
// flush marker that follows a seek.
class qvPacketQueue {
 public:
  enum : int { kGot = 1, kEmpty = 0, kQuit = -1, kEnded = -2 };
  // Takes the packet (its data is the source's).
  void Put(const qvVideoPacket& packet);
  void PutFlushMarker();
  // kGot with the oldest packet; when empty: kEnded once the end flag is set, else kEmpty, or with
  // `block` waits until a packet comes or `quit` is set (kQuit).
  int Get(qvVideoPacket* packet, bool block, const std::atomic<bool>* quit);
  // Frees every queued packet through the source.
  void Flush(qvVideoSource* source);
  void SetEnd(bool end);
  uint32_t Bytes() const;
  bool Empty() const;
  void Wake();

 private:
  mutable std::mutex lock_;
  std::condition_variable signal_;
  std::deque<qvVideoPacket> packets_;
  uint32_t bytes_ = 0;
  bool end_ = false;
};

// Where shown frames go.
class qvVideoFrameSink {
 public:
  virtual ~qvVideoFrameSink() = default;
  // A frame of width x height words 0x00RRGGBB; `queued` false for the frame of a seek while
  // paused or ended, which is drawn at once and kept.
  virtual void ShowFrame(const uint32_t* pixels, int32_t width, int32_t height, int64_t frame,
                         bool queued) = 0;
  // The video ended: called once per playback, on the refresh task.
  virtual void VideoEnded() = 0;
};

// What the engine reads as the time, in seconds.
class qvVideoClock {
 public:
  virtual ~qvVideoClock() = default;
  virtual double Now() = 0;
};
qvVideoClock* SystemVideoClock();

class qvVideoPlayer {
 public:
  enum class State { kStopped, kPlaying, kPaused, kEnded };

  // Takes the source. Null without memory. `clock` null: the system's.
  static std::unique_ptr<qvVideoPlayer> Create(std::unique_ptr<qvVideoSource> source,
                                               qvVideoFrameSink* sink, qvVideoClock* clock);
  ~qvVideoPlayer();

  const qvVideoFacts& facts() const { return source_->facts(); }
  // The sink of the next playback (set while stopped).
  void SetSink(qvVideoFrameSink* sink) { sink_ = sink; }
  qvVideoSource* source() { return source_.get(); }

  // Starts the tasks (the audio server only with sound and `withAudio`): 0, ERR_THREAD,
  // ERR_SEEKRANGE when the seek stored while stopped fails.
  int32_t Start(bool withAudio);
  // Ends the tasks in order and keeps the position; the queues and the ring are emptied.
  void Stop();
  // Freezes the clock; the tasks keep running and the video server idles. Waits a bounded time
  // for the ring to empty.
  void Pause();
  void Resume();
  // Stopped: stored for the next Start. Playing: handed to the decoder task. Paused or ended:
  // done at once, the frame at the target shown (not queued) and kept. 0 or ERR_SEEKRANGE.
  int32_t Seek(int64_t ms);
  int64_t PositionMs();
  State state() const { return state_.load(); }
  // Frames shown and dropped since the start (for benchmarks and tests).
  int64_t FramesShown() const { return shown_.load(); }
  int64_t FramesDropped() const { return dropped_.load(); }
  // The last frame shown (empty before the first).
  std::vector<uint32_t> LastFrame();

  // The video's sound as 16-bit PCM: 0 with `bytes` filled (silence where none is decoded), -1
  // once the player is told to stop.
  int32_t ReadAudio(uint8_t* out, uint32_t bytes);
  void SetVolume(int32_t volume);

  // For tests of the read-ahead limits.
  uint32_t QueuedAudioBytes() const { return audioQueue_.Bytes(); }
  uint32_t QueuedVideoBytes() const { return videoQueue_.Bytes(); }

 private:
  explicit qvVideoPlayer(std::unique_ptr<qvVideoSource> source);
  static void DecoderTask(qvTask* task);
  static void ServerTask(qvTask* task);
  static void RefreshTask(qvTask* task);
  static void AudioTask(qvTask* task);
  void RunDecoder(qvTask* task);
  void RunServer(qvTask* task);
  void RunRefresh(qvTask* task);
  void RunAudio(qvTask* task);
  void ResetRing();
  double AudioClock();
  int32_t SeekAtOnce(int64_t ms);

  struct Slot {
    std::vector<uint32_t> pixels;
    double display = 0.0, stamp = 0.0;
    int64_t frame = 0;
  };

  std::unique_ptr<qvVideoSource> source_;
  qvVideoFrameSink* sink_ = nullptr;
  qvVideoClock* clock_ = nullptr;
  bool hasSound_ = false;
  bool playSound_ = false;  // this playback's sound is read and played
  std::atomic<State> state_{State::kStopped};

  std::mutex sourceLock_;  // reading and seeking the source
  qvPacketQueue audioQueue_, videoQueue_;

  std::mutex ringLock_;  // the ring, the timing, the flags below
  std::condition_variable ringSignal_;
  std::condition_variable refreshSignal_;
  Slot slots_[2];
  int ringCount_ = 0, readIndex_ = 0, writeIndex_ = 0;
  qvVideoTiming timing_;
  std::vector<uint32_t> scratch_;
  std::vector<uint32_t> lastFrame_;
  int64_t frameNumber_ = 0;
  bool seekRequested_ = false;
  int64_t seekTarget_ = 0;
  uint64_t seekGeneration_ = 0;
  bool seeking_ = false;  // from the request until the first frame after it
  bool endOfStream_ = false;
  bool endReported_ = false;
  int64_t keptPositionMs_ = 0;
  bool keptPositionPending_ = false;
  int64_t pausedPositionMs_ = 0;
  int64_t endPositionMs_ = 0;
  int refreshPasses_ = 0;
  double stampCandidates_[2] = {-1.0, -1.0};  // the decoder's and the packet's last stamps
  int stampFailures_[2] = {0, 0};

  std::atomic<bool> quit_{false};
  std::atomic<int64_t> shown_{0}, dropped_{0};
  qvTask* decoder_ = nullptr;
  qvTask* server_ = nullptr;
  qvTask* refresh_ = nullptr;
  qvTask* audio_ = nullptr;

  // Sound.
  std::mutex audioLock_;
  std::vector<int16_t> staging_;
  uint32_t stagingRead_ = 0, stagingFill_ = 0;  // bytes
  double audioStamp_ = 0.0;                     // the end of the decoded sound, seconds
  qvSoundBuffer* output_ = nullptr;
  std::atomic<int32_t> volume_{64};
};

}  // namespace qv
