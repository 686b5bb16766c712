// The internal video engine's tasks. Every wait is bounded (10 ms at most) and ends on the stop
// request, so Stop never hangs on a task waiting for a ring or a queue that nobody drains.
#include "media/video_player.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <new>

#include "base/errors.h"
#include "media/audio_channels.h"
#include "platform/mixer.h"
#include "platform/tasks.h"
#include "platform/time.h"

namespace qv {
namespace {

constexpr auto kStep = std::chrono::milliseconds(10);

class SystemClockAdapter final : public qvVideoClock {
 public:
  double Now() override { return GetUnixTimeFloat(); }
};

// The common start of a task: its quit signal, then the creator is released.
template <typename Run>
void RunTask(qvTask* task, Run run) {
  const int err = CreateTaskQuitEvent(task);
  if (err != 0) {
    ReportTaskResult(task, err);
    return;
  }
  SignalTaskStarted(task);
  run(static_cast<qvVideoPlayer*>(GetTaskData(task)));
  ReportTaskResult(task, 0);
}

}  // namespace

qvVideoClock* SystemVideoClock() {
  static SystemClockAdapter clock;
  return &clock;
}

// ---- packet queues ----

void qvPacketQueue::Put(const qvVideoPacket& packet) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    packets_.push_back(packet);
    bytes_ += packet.size;
  }
  signal_.notify_all();
}

void qvPacketQueue::PutFlushMarker() { Put(qvVideoPacket{}); }

int qvPacketQueue::Get(qvVideoPacket* packet, bool block, const std::atomic<bool>* quit) {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    if (quit != nullptr && quit->load()) return kQuit;
    if (!packets_.empty()) {
      *packet = packets_.front();
      packets_.pop_front();
      bytes_ -= packet->size;
      return kGot;
    }
    if (end_) return kEnded;
    if (!block) return kEmpty;
    signal_.wait_for(hold, kStep);
  }
}

void qvPacketQueue::Flush(qvVideoSource* source) {
  std::deque<qvVideoPacket> old;
  {
    std::lock_guard<std::mutex> hold(lock_);
    old.swap(packets_);
    bytes_ = 0;
  }
  for (qvVideoPacket& p : old) {
    if (p.data != nullptr) source->FreePacket(&p);
  }
}

void qvPacketQueue::SetEnd(bool end) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    end_ = end;
  }
  signal_.notify_all();
}

uint32_t qvPacketQueue::Bytes() const {
  std::lock_guard<std::mutex> hold(lock_);
  return bytes_;
}

bool qvPacketQueue::Empty() const {
  std::lock_guard<std::mutex> hold(lock_);
  return packets_.empty();
}

void qvPacketQueue::Wake() { signal_.notify_all(); }

// ---- the player ----

qvVideoPlayer::qvVideoPlayer(std::unique_ptr<qvVideoSource> source) : source_(std::move(source)) {}

std::unique_ptr<qvVideoPlayer> qvVideoPlayer::Create(std::unique_ptr<qvVideoSource> source,
                                                     qvVideoFrameSink* sink, qvVideoClock* clock) {
  std::unique_ptr<qvVideoPlayer> player(new (std::nothrow) qvVideoPlayer(std::move(source)));
  if (player == nullptr) return nullptr;
  player->sink_ = sink;
  player->clock_ = clock != nullptr ? clock : SystemVideoClock();
  const qvVideoFacts& f = player->facts();
  player->hasSound_ = f.channels > 0 && f.frequency > 0;
  if (f.frameKind != kFrameKindSourceDrawn) {
    // Sized in 64 bits: the product of two 16-bit sides and 4 overflows 32.
    const uint64_t pixels = uint64_t(uint32_t(f.width)) * uint64_t(uint32_t(f.height));
    if (f.width < 1 || f.height < 1 || pixels > (uint64_t{1} << 32)) return nullptr;
    try {
      player->scratch_.resize(pixels);
      for (Slot& s : player->slots_) s.pixels.resize(pixels);
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  }
  return player;
}

qvVideoPlayer::~qvVideoPlayer() { Stop(); }

void qvVideoPlayer::ResetRing() {
  ringCount_ = readIndex_ = writeIndex_ = 0;
  for (Slot& s : slots_) s.stamp = s.display = 0.0;
}

int32_t qvVideoPlayer::Start(bool withAudio) {
  if (state_ != State::kStopped) Stop();
  quit_ = false;
  if (keptPositionPending_) {
    std::lock_guard<std::mutex> hold(sourceLock_);
    if (source_->Seek(keptPositionMs_) != 0) return ERR_SEEKRANGE;
    source_->FlushAudio();
    source_->FlushVideo();
    keptPositionPending_ = false;
  }
  {
    std::lock_guard<std::mutex> hold(ringLock_);
    timing_ = qvVideoTiming{};
    timing_.frozen = double(keptPositionMs_) / 1000.0;
    timing_.Reset(clock_->Now());
    ResetRing();
    stampCandidates_[0] = stampCandidates_[1] = -1.0;
    stampFailures_[0] = stampFailures_[1] = 0;
    seekRequested_ = seeking_ = endOfStream_ = endReported_ = false;
    refreshPasses_ = 0;
  }
  audioQueue_.SetEnd(false);
  videoQueue_.SetEnd(false);
  {
    std::lock_guard<std::mutex> hold(audioLock_);
    staging_.assign(kVideoStagingBytes / 2, 0);
    stagingRead_ = stagingFill_ = 0;
    audioStamp_ = double(keptPositionMs_) / 1000.0;
  }
  shown_ = dropped_ = 0;
  // Sound that no audio server takes is not read ahead, nor waited for at the end.
  playSound_ = hasSound_ && withAudio;
  state_ = State::kPlaying;
  server_ = CreateTask("Quillvane video server", &ServerTask, this);
  if (server_ != nullptr && playSound_) {
    audio_ = CreateTask("Quillvane audio server", &AudioTask, this);
    if (audio_ == nullptr) {
      Stop();
      return ERR_THREAD;
    }
  }
  if (server_ != nullptr) decoder_ = CreateTask("Quillvane video decoder", &DecoderTask, this);
  if (decoder_ != nullptr) refresh_ = CreateTask("Quillvane video refresh", &RefreshTask, this);
  if (refresh_ == nullptr) {
    Stop();
    return ERR_THREAD;
  }
  return 0;
}

void qvVideoPlayer::Stop() {
  if (state_ == State::kStopped && decoder_ == nullptr && server_ == nullptr) return;
  const int64_t position = PositionMs();
  quit_ = true;
  audioQueue_.Wake();
  videoQueue_.Wake();
  ringSignal_.notify_all();
  refreshSignal_.notify_all();
  EndTask(refresh_);
  EndTask(decoder_);
  EndTask(server_);
  EndTask(audio_);
  refresh_ = decoder_ = server_ = audio_ = nullptr;
  audioQueue_.Flush(source_.get());
  videoQueue_.Flush(source_.get());
  {
    std::lock_guard<std::mutex> hold(ringLock_);
    ResetRing();
    timing_.paused = false;
  }
  // The next start goes on from here.
  keptPositionMs_ = position;
  keptPositionPending_ = true;
  state_ = State::kStopped;
}

void qvVideoPlayer::Pause() {
  if (state_ != State::kPlaying) return;
  {
    std::lock_guard<std::mutex> hold(ringLock_);
    timing_.Pause(clock_->Now());
    pausedPositionMs_ = std::llround(timing_.frozen * 1000.0);
  }
  state_ = State::kPaused;
}

void qvVideoPlayer::Resume() {
  if (state_ != State::kPaused) return;
  {
    std::lock_guard<std::mutex> hold(ringLock_);
    const double now = clock_->Now();
    // The frames decoded before the pause are due as much later as the pause lasted.
    for (int i = 0; i < ringCount_; ++i)
      slots_[(readIndex_ + i) % 2].display += now - timing_.pausedAt;
    timing_.Resume(now);
  }
  state_ = State::kPlaying;
  refreshSignal_.notify_all();
}

int32_t qvVideoPlayer::Seek(int64_t ms) {
  const State state = state_;
  if (ms < 0 || (facts().durationMs > 0 && ms > facts().durationMs)) return ERR_SEEKRANGE;
  if (state == State::kStopped) {
    keptPositionMs_ = ms;
    keptPositionPending_ = true;
    return 0;
  }
  if (state == State::kPlaying) {
    // Let an earlier seek land first; the wait is bounded and ends on a stop or the end.
    for (int i = 0; i < 200 && !quit_; ++i) {
      {
        std::lock_guard<std::mutex> hold(ringLock_);
        if ((!seekRequested_ && !seeking_ && refreshPasses_ >= 10) || endOfStream_) break;
      }
      DelayMs(10);
    }
    std::lock_guard<std::mutex> hold(ringLock_);
    seekTarget_ = ms;
    seekRequested_ = true;
    seeking_ = true;
    return 0;
  }
  return SeekAtOnce(ms);
}

int32_t qvVideoPlayer::SeekAtOnce(int64_t ms) {
  std::vector<uint32_t> frame;
  int64_t number = 0;
  {
    std::lock_guard<std::mutex> hold(sourceLock_);
    if (source_->Seek(ms) != 0) return ERR_SEEKRANGE;
    source_->FlushVideo();
    if (hasSound_) source_->FlushAudio();
    audioQueue_.Flush(source_.get());
    videoQueue_.Flush(source_.get());
    // Packets are read and freed until one video packet decodes into a picture.
    for (;;) {
      qvVideoPacket packet;
      if (source_->NextPacket(&packet) != 0) break;
      if (packet.kind == kVideoPacketVideo && !scratch_.empty()) {
        double stamp = -1.0;
        const int32_t got = source_->DecodeVideo(packet, scratch_.data(), &stamp);
        if (got == 0) {
          frame = scratch_;
          number = std::llround((stamp >= 0.0 ? stamp : packet.timeStamp) * 1000.0);
          source_->FreePacket(&packet);
          break;
        }
      }
      source_->FreePacket(&packet);
    }
    // Later packets follow the frame; the queues start again after the markers.
    if (playSound_) audioQueue_.PutFlushMarker();
    videoQueue_.PutFlushMarker();
    audioQueue_.SetEnd(false);
    videoQueue_.SetEnd(false);
  }
  {
    std::lock_guard<std::mutex> hold(ringLock_);
    ResetRing();
    ++seekGeneration_;
    endOfStream_ = false;
    timing_.frozen = double(ms) / 1000.0;
    if (state_ == State::kPaused) {
      pausedPositionMs_ = ms;
    } else {
      endPositionMs_ = ms;
    }
    if (!frame.empty()) lastFrame_ = frame;
  }
  if (!frame.empty() && sink_ != nullptr) {
    sink_->ShowFrame(frame.data(), facts().width, facts().height, number, false);
  }
  return 0;
}

int64_t qvVideoPlayer::PositionMs() {
  std::lock_guard<std::mutex> hold(ringLock_);
  switch (state_.load()) {
    case State::kStopped:
      return keptPositionMs_;
    case State::kPaused:
      return pausedPositionMs_;
    case State::kEnded:
      return endPositionMs_;
    default:
      return std::llround(timing_.ExternalClock(clock_->Now()) * 1000.0);
  }
}

std::vector<uint32_t> qvVideoPlayer::LastFrame() {
  std::lock_guard<std::mutex> hold(ringLock_);
  return lastFrame_;
}

void qvVideoPlayer::SetVolume(int32_t volume) {
  volume_ = std::clamp(volume, 0, 64);
  std::lock_guard<std::mutex> hold(audioLock_);
  if (output_ != nullptr) SetSoundBufferVolume(output_, VolumeToMillibels(volume_));
}

// ---- decoder task ----

void qvVideoPlayer::DecoderTask(qvTask* task) {
  RunTask(task, [task](qvVideoPlayer* p) { p->RunDecoder(task); });
}

void qvVideoPlayer::RunDecoder(qvTask* task) {
  while (!quit_ && !TaskQuitRequested(task)) {
    bool seek = false;
    int64_t target = 0;
    bool ended;
    {
      std::lock_guard<std::mutex> hold(ringLock_);
      seek = seekRequested_;
      target = seekTarget_;
      ended = endOfStream_;
    }
    if (seek) {
      {
        std::lock_guard<std::mutex> hold(sourceLock_);
        source_->Seek(target);
        if (playSound_) audioQueue_.Flush(source_.get());
        videoQueue_.Flush(source_.get());
        if (playSound_) audioQueue_.PutFlushMarker();
        videoQueue_.PutFlushMarker();
        audioQueue_.SetEnd(false);
        videoQueue_.SetEnd(false);
      }
      std::lock_guard<std::mutex> hold(ringLock_);
      seekRequested_ = false;
      ++seekGeneration_;
      endOfStream_ = false;
      continue;
    }
    if (audioQueue_.Bytes() > kVideoAudioQueueBytes ||
        videoQueue_.Bytes() > kVideoVideoQueueBytes || ended) {
      if (ended) {
        audioQueue_.SetEnd(true);
        videoQueue_.SetEnd(true);
      }
      audioQueue_.Wake();
      videoQueue_.Wake();
      DelayMs(10);
      continue;
    }
    qvVideoPacket packet;
    int32_t got;
    {
      std::lock_guard<std::mutex> hold(sourceLock_);
      got = source_->NextPacket(&packet);
      if (got == 0) {
        if (packet.kind == kVideoPacketVideo) {
          videoQueue_.Put(packet);
        } else if (playSound_) {
          audioQueue_.Put(packet);
        } else {
          source_->FreePacket(&packet);
        }
      }
    }
    if (got != 0) {
      // The end, or a file that fails to read further: what was read plays out.
      std::lock_guard<std::mutex> hold(ringLock_);
      endOfStream_ = true;
    }
  }
}

// ---- video server task ----

void qvVideoPlayer::ServerTask(qvTask* task) {
  RunTask(task, [task](qvVideoPlayer* p) { p->RunServer(task); });
}

void qvVideoPlayer::RunServer(qvTask* task) {
  const qvVideoFacts& f = facts();
  while (!quit_ && !TaskQuitRequested(task)) {
    if (state_ == State::kPaused) {
      DelayMs(10);
      continue;
    }
    qvVideoPacket packet;
    const int got = videoQueue_.Get(&packet, true, &quit_);
    if (got == qvPacketQueue::kQuit) break;
    if (got != qvPacketQueue::kGot) {
      DelayMs(10);
      continue;
    }
    if (packet.data == nullptr) {
      source_->FlushVideo();
      std::unique_lock<std::mutex> hold(ringLock_);
      ResetRing();
      stampCandidates_[0] = stampCandidates_[1] = -1.0;
      stampFailures_[0] = stampFailures_[1] = 0;
      timing_.Reset(clock_->Now());
      // The clock starts at the seek's target until its first frame shows.
      timing_.offset = timing_.frozen - clock_->Now();
      continue;
    }
    double decoded = -1.0;
    const int32_t code = scratch_.empty() ? kNoFrame
                                          : source_->DecodeVideo(packet, scratch_.data(), &decoded);
    const double packetStamp = packet.timeStamp;
    source_->FreePacket(&packet);
    if (code != 0) continue;

    std::unique_lock<std::mutex> hold(ringLock_);
    // The stamp whose run of increases failed less often wins.
    const double candidates[2] = {decoded, packetStamp};
    for (int i = 0; i < 2; ++i) {
      if (candidates[i] >= 0.0) {
        if (candidates[i] <= stampCandidates_[i]) ++stampFailures_[i];
        stampCandidates_[i] = candidates[i];
      }
    }
    double stamp = 0.0;
    if (decoded >= 0.0 && (packetStamp < 0.0 || stampFailures_[0] <= stampFailures_[1])) {
      stamp = decoded;
    } else if (packetStamp >= 0.0) {
      stamp = packetStamp;
    }
    if (timing_.SkipDecodedFrame()) {
      ++dropped_;
      continue;
    }
    // A paused video keeps the frame here until it resumes; a seek in the meantime makes it stale.
    const uint64_t generation = seekGeneration_;
    while ((ringCount_ == 2 || state_ == State::kPaused) && !quit_) {
      if (ringCount_ == 2) timing_.RingFull(seeking_);
      ringSignal_.wait_for(hold, kStep);
    }
    if (quit_) break;
    if (generation != seekGeneration_) continue;
    Slot& slot = slots_[writeIndex_];
    std::memcpy(slot.pixels.data(), scratch_.data(), scratch_.size() * 4);
    slot.stamp = stamp;
    slot.frame = std::llround(stamp * 1000.0);
    const double audio = playSound_ ? AudioClock() : 0.0;
    slot.display = timing_.Schedule(stamp, clock_->Now(), playSound_, audio);
    writeIndex_ = (writeIndex_ + 1) % 2;
    ++ringCount_;
    seeking_ = false;
    hold.unlock();
    refreshSignal_.notify_all();
    (void)f;
  }
}

// ---- refresh task ----

void qvVideoPlayer::RefreshTask(qvTask* task) {
  RunTask(task, [task](qvVideoPlayer* p) { p->RunRefresh(task); });
}

void qvVideoPlayer::RunRefresh(qvTask* task) {
  const qvVideoFacts& f = facts();
  std::unique_lock<std::mutex> hold(ringLock_);
  while (!quit_ && !TaskQuitRequested(task)) {
    ++refreshPasses_;
    if (state_ == State::kPaused) {
      refreshSignal_.wait_for(hold, kStep);
      continue;
    }
    if (ringCount_ > 0) {
      Slot& slot = slots_[readIndex_];
      const double now = clock_->Now();
      const double next = ringCount_ == 2 ? slots_[(readIndex_ + 1) % 2].display : -1.0;
      const qvVideoTiming::Refresh what = timing_.Decide(now, slot.display, slot.stamp, next);
      if (what == qvVideoTiming::Refresh::kWait) {
        const double wait = std::min(slot.display - now, 0.01);
        refreshSignal_.wait_for(hold, std::chrono::microseconds(int64_t(wait * 1e6) + 1));
        continue;
      }
      if (what == qvVideoTiming::Refresh::kShow) {
        timing_.Shown(now);
        lastFrame_ = slot.pixels;
        ++shown_;
        if (sink_ != nullptr) {
          // The video server writes only the other slot while this one counts as ready.
          hold.unlock();
          sink_->ShowFrame(slot.pixels.data(), f.width, f.height, slot.frame, true);
          hold.lock();
        }
      } else {
        ++dropped_;
      }
      if (ringCount_ > 0) {
        readIndex_ = (readIndex_ + 1) % 2;
        --ringCount_;
      }
      ringSignal_.notify_all();
      continue;
    }
    if (endOfStream_ && !endReported_ && !seekRequested_ && videoQueue_.Empty() &&
        (!playSound_ || audioQueue_.Empty())) {
      endReported_ = true;
      endPositionMs_ = std::llround(timing_.ExternalClock(clock_->Now()) * 1000.0);
      state_ = State::kEnded;
      if (sink_ != nullptr) {
        hold.unlock();
        sink_->VideoEnded();
        hold.lock();
      }
    }
    refreshSignal_.wait_for(hold, std::chrono::milliseconds(1));
  }
}

// ---- sound ----

double qvVideoPlayer::AudioClock() {
  std::lock_guard<std::mutex> hold(audioLock_);
  const double rate = double(facts().frequency) * facts().channels * 2;
  return audioStamp_ - double(stagingFill_ - stagingRead_) / rate;
}

int32_t qvVideoPlayer::ReadAudio(uint8_t* out, uint32_t bytes) {
  const double rate = double(facts().frequency) * std::max(facts().channels, 1) * 2;
  uint32_t done = 0;
  while (done < bytes) {
    {
      std::lock_guard<std::mutex> hold(audioLock_);
      if (stagingRead_ < stagingFill_) {
        const uint32_t n = std::min(bytes - done, stagingFill_ - stagingRead_);
        std::memcpy(out + done, reinterpret_cast<uint8_t*>(staging_.data()) + stagingRead_, n);
        stagingRead_ += n;
        done += n;
        continue;
      }
    }
    qvVideoPacket packet;
    const int got = audioQueue_.Get(&packet, false, &quit_);
    if (got == qvPacketQueue::kQuit) return -1;
    if (got != qvPacketQueue::kGot) break;  // nothing decoded yet: silence
    if (packet.data == nullptr) {
      source_->FlushAudio();
      std::lock_guard<std::mutex> hold(audioLock_);
      stagingRead_ = stagingFill_ = 0;
      continue;
    }
    uint32_t decoded = 0;
    const int32_t code = source_->DecodeAudio(packet, staging_.data(), kVideoStagingBytes,
                                              &decoded);
    {
      std::lock_guard<std::mutex> hold(audioLock_);
      if (packet.timeStamp >= 0.0) audioStamp_ = packet.timeStamp;
      if (code == 0) {
        stagingRead_ = 0;
        stagingFill_ = decoded & ~1u;
        audioStamp_ += double(stagingFill_) / rate;
      }
    }
    source_->FreePacket(&packet);
  }
  if (done < bytes) std::memset(out + done, 0, bytes - done);
  return 0;
}

void qvVideoPlayer::AudioTask(qvTask* task) {
  RunTask(task, [task](qvVideoPlayer* p) { p->RunAudio(task); });
}

void qvVideoPlayer::RunAudio(qvTask* task) {
  RaiseThreadPriority();
  const qvVideoFacts& f = facts();
  const int channels = std::clamp(f.channels, 1, 2);
  const uint32_t block = uint32_t(channels) * 2;
  const uint32_t frames = uint32_t(std::max(f.frequency / 2, 2048));
  qvSoundBuffer* buffer = nullptr;
  if (f.frequency >= kMinBufferFrequency && f.frequency <= kMaxBufferFrequency) {
    buffer = CreateStreamBuffer(f.frequency, channels, 16, frames);
  }
  if (buffer != nullptr) {
    SetSoundBufferVolume(buffer, VolumeToMillibels(volume_));
    std::lock_guard<std::mutex> hold(audioLock_);
    output_ = buffer;
  }
  std::vector<uint8_t> chunk(size_t{2048} * block);
  bool started = false;
  while (!quit_ && !TaskQuitRequested(task)) {
    if (buffer == nullptr || state_ == State::kPaused) {
      DelayMs(10);
      continue;
    }
    uint32_t room = GetStreamBufferRoom(buffer);
    if (room < 2048) {
      DelayMs(10);
      continue;
    }
    if (ReadAudio(chunk.data(), uint32_t(chunk.size())) != 0) break;
    WriteStreamBuffer(buffer, chunk.data(), 2048);
    if (!started) {
      PlaySoundBuffer(buffer, 0, 0);
      started = true;
    }
    if (state_ == State::kEnded) break;
  }
  std::lock_guard<std::mutex> hold(audioLock_);
  output_ = nullptr;
  ReleaseSoundBuffer(buffer);
}

}  // namespace qv
