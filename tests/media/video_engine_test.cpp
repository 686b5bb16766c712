// The internal video engine: its clock rules driven with times of the test's own, then whole
// playbacks of a synthetic packet source (frames that carry their number in every pixel, sound
// packets beside them) through the engine's tasks on the real clock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

#include "base/errors.h"
#include "media/video_player.h"
#include "media/video_timing.h"

namespace {

using qv::qvVideoTiming;
using Refresh = qv::qvVideoTiming::Refresh;

TEST(VideoTiming, LateFramesAreDroppedUnlessNoneShowedForASecond) {
  struct Case {
    const char* what;
    double now, display, next, lastShown;
    Refresh want;
    bool factorGrows;
  };
  // Frames 40 ms apart; the clock is at 100.0 when the first is due.
  const Case cases[] = {
      {"before its time", 99.99, 100.0, 100.04, 99.96, Refresh::kWait, false},
      {"on time", 100.0, 100.0, 100.04, 99.96, Refresh::kShow, false},
      {"past the next frame's time", 100.05, 100.0, 100.04, 99.96, Refresh::kDrop, true},
      {"late, but nothing shown for a second", 100.05, 100.0, 100.04, 99.0, Refresh::kShow, true},
      {"alone and 0.4 s past the next time", 100.44, 100.0, -1.0, 99.96, Refresh::kShow, false},
      {"alone and 0.6 s past the next time", 100.64, 100.0, -1.0, 99.96, Refresh::kDrop, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    qvVideoTiming t;
    t.lastDelay = 0.04;
    t.lastShown = c.lastShown;
    EXPECT_EQ(t.Decide(c.now, c.display, 4.0, c.next), c.want);
    EXPECT_FLOAT_EQ(t.dropFactor, c.factorGrows ? 1.05f : 1.0f);
    if (c.want != Refresh::kWait) {
      // The clock follows the frame: its time stamp now, running on from there.
      EXPECT_DOUBLE_EQ(t.ExternalClock(c.now), 4.0);
      EXPECT_DOUBLE_EQ(t.ExternalClock(c.now + 0.5), 4.5);
    }
  }
}

TEST(VideoTiming, DropFactorSkipsDecodedFramesAndShrinksWhenTheRingIsFull) {
  qvVideoTiming t;
  t.dropFactor = 2.0f;
  std::vector<bool> skipped;
  for (int i = 0; i < 6; ++i) skipped.push_back(t.SkipDecodedFrame());
  EXPECT_EQ(skipped, (std::vector<bool>{true, false, true, false, true, false}));

  t.dropFactor = 1.0f;
  t.skipAccumulator = 0.0f;
  for (int i = 0; i < 4; ++i) EXPECT_FALSE(t.SkipDecodedFrame()) << i;

  t.dropFactor = 1.0f;
  t.RingFull(false);
  EXPECT_FLOAT_EQ(t.dropFactor, 0.95f);
  t.RingFull(false);
  EXPECT_FLOAT_EQ(t.dropFactor, 0.95f);  // not below
  t.dropFactor = 1.5f;
  t.RingFull(true);  // a seek in progress fills the ring for its own reasons
  EXPECT_FLOAT_EQ(t.dropFactor, 1.5f);
}

TEST(VideoTiming, DisplayTimesFollowTheStampsAndKeepTheDelayOverJumps) {
  qvVideoTiming t;
  t.Reset(50.0);
  // The first frame after a reset (a start or a seek) is due at once.
  EXPECT_DOUBLE_EQ(t.Schedule(7.0, 50.0, false, 0.0), 50.0);
  EXPECT_DOUBLE_EQ(t.Schedule(7.04, 50.0, false, 0.0), 50.04);
  // A jump of 10 s or more, or backwards, keeps the last delay.
  EXPECT_DOUBLE_EQ(t.Schedule(17.04, 50.0, false, 0.0), 50.08);
  EXPECT_DOUBLE_EQ(t.Schedule(3.0, 50.0, false, 0.0), 50.12);
  EXPECT_DOUBLE_EQ(t.Schedule(3.0 + 9.99, 50.0, false, 0.0), 50.12 + 9.99);
}

TEST(VideoTiming, TheSoundPullsTheFramesIntoStep) {
  struct Case {
    const char* what;
    double audio;  // the frames' clock reads 10.0
    double delay;
  };
  const Case cases[] = {
      {"in step", 10.0, 0.04},
      {"sound ahead by more than a delay: at once", 10.05, 0.0},
      {"sound behind by more than a delay: twice the delay", 9.95, 0.08},
      {"apart by 10 s or more: left alone", 30.0, 0.04},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    qvVideoTiming t;
    t.frozen = 10.0;
    t.Reset(100.0);
    t.Schedule(1.0, 100.0, true, 10.0 - 1.0);  // far apart: the first frame keeps its time
    const double before = t.frameTimer;
    EXPECT_NEAR(t.Schedule(1.04, 100.0, true, c.audio) - before, c.delay, 1e-9);
  }
}

TEST(VideoTiming, PauseFreezesTheClockAndResumeShiftsTheTimer) {
  qvVideoTiming t;
  t.Reset(100.0);
  t.Schedule(0.0, 100.0, false, 0.0);
  t.Schedule(0.04, 100.0, false, 0.0);
  ASSERT_EQ(t.Decide(100.0, 100.0, 0.0, 100.04), Refresh::kShow);
  t.Shown(100.0);
  t.Pause(100.02);
  EXPECT_NEAR(t.ExternalClock(100.02), 0.02, 1e-9);
  EXPECT_DOUBLE_EQ(t.ExternalClock(105.0), t.ExternalClock(100.02));
  t.Resume(105.02);
  EXPECT_DOUBLE_EQ(t.frameTimer, 105.04);
  EXPECT_NEAR(t.ExternalClock(105.03), 0.03, 1e-9);
  // The frame after the pause is on time, not late.
  EXPECT_EQ(t.Decide(105.04, 105.04, 0.04, -1.0), Refresh::kShow);
  EXPECT_FLOAT_EQ(t.dropFactor, 1.0f);
}

// ---- whole playbacks ----

// Frames of 8x4 pixels at `fps`, every pixel the frame's number; with sound, a packet of
// `soundBytes` after each frame at 8000 Hz mono.
class SyntheticSource final : public qv::qvVideoSource {
 public:
  SyntheticSource(int frames, double fps, uint32_t videoBytes, uint32_t soundBytes)
      : frames_(frames), fps_(fps), videoBytes_(videoBytes), soundBytes_(soundBytes) {
    facts_.width = 8;
    facts_.height = 4;
    facts_.frameCount = frames;
    facts_.durationMs = int32_t(frames / fps * 1000);
    facts_.channels = soundBytes > 0 ? 1 : 0;
    facts_.frequency = soundBytes > 0 ? 8000 : 0;
    facts_.seekable = true;
  }
  int32_t NextPacket(qv::qvVideoPacket* p) override {
    if (next_ >= frames_ && !soundNext_) return qv::kSourceEnd;
    p->data = new int(next_);
    p->timeStamp = next_ / fps_;
    if (soundNext_) {
      p->kind = qv::kVideoPacketSound;
      p->size = soundBytes_;
      soundNext_ = false;
      p->timeStamp = (next_ - 1) / fps_;
    } else {
      p->kind = qv::kVideoPacketVideo;
      p->size = videoBytes_;
      ++next_;
      soundNext_ = soundBytes_ > 0;
    }
    ++packetsRead;
    return 0;
  }
  void FreePacket(qv::qvVideoPacket* p) override {
    delete static_cast<int*>(p->data);
    p->data = nullptr;
  }
  int32_t DecodeVideo(const qv::qvVideoPacket& p, uint32_t* pixels, double* stamp) override {
    for (int i = 0; i < 32; ++i) pixels[i] = uint32_t(*static_cast<int*>(p.data));
    *stamp = -1.0;
    return 0;
  }
  int32_t DecodeAudio(const qv::qvVideoPacket&, int16_t* out, uint32_t capacity,
                      uint32_t* bytes) override {
    *bytes = std::min(capacity, soundBytes_);
    for (uint32_t i = 0; i < *bytes / 2; ++i) out[i] = 1000;
    return 0;
  }
  int32_t Seek(int64_t ms) override {
    next_ = std::clamp(int(double(ms) / 1000.0 * fps_), 0, frames_ - 1);
    soundNext_ = false;
    return 0;
  }
  const char* FormatName() const override { return "synthetic"; }

  std::atomic<int> packetsRead{0};

 private:
  int frames_;
  double fps_;
  uint32_t videoBytes_, soundBytes_;
  int next_ = 0;
  bool soundNext_ = false;
};

class RecordingSink final : public qv::qvVideoFrameSink {
 public:
  void ShowFrame(const uint32_t* pixels, int32_t, int32_t, int64_t, bool queued) override {
    std::lock_guard<std::mutex> hold(lock);
    (queued ? shown : drawnAtOnce).push_back(int(pixels[0]));
  }
  void VideoEnded() override { ++ends; }
  std::vector<int> Shown() {
    std::lock_guard<std::mutex> hold(lock);
    return shown;
  }
  std::mutex lock;
  std::vector<int> shown, drawnAtOnce;
  std::atomic<int> ends{0};
};

template <typename F>
bool WaitFor(F done, int ms) {
  for (int i = 0; i < ms / 5; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return done();
}

TEST(VideoPlayer, PlaysEveryFrameInOrderAndReportsTheEndOnceAfterTheQueuesDrain) {
  for (uint32_t sound : {0u, 64u}) {
    SCOPED_TRACE(sound);
    auto source = std::make_unique<SyntheticSource>(20, 100.0, 32, sound);
    RecordingSink sink;
    auto player = qv::qvVideoPlayer::Create(std::move(source), &sink, nullptr);
    ASSERT_NE(player, nullptr);
    // Without an output device the mixer takes nothing: the sound is read when it plays only.
    ASSERT_EQ(player->Start(false), 0);
    ASSERT_TRUE(WaitFor([&] { return sink.ends.load() > 0; }, 3000));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(sink.ends.load(), 1);
    EXPECT_EQ(player->state(), qv::qvVideoPlayer::State::kEnded);
    EXPECT_EQ(player->FramesShown() + player->FramesDropped(), 20);
    std::vector<int> shown = sink.Shown();
    ASSERT_FALSE(shown.empty());
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end()));
    EXPECT_EQ(shown.back(), 19);
    // The whole video took about its length.
    EXPECT_GE(player->PositionMs(), 150);
    player->Stop();
    EXPECT_EQ(player->state(), qv::qvVideoPlayer::State::kStopped);
  }
}

TEST(VideoPlayer, ReadsAheadNoFurtherThanTheQueueLimits) {
  auto source = std::make_unique<SyntheticSource>(100000, 25.0, 100000, 10000);
  SyntheticSource* raw = source.get();
  RecordingSink sink;
  auto player = qv::qvVideoPlayer::Create(std::move(source), &sink, nullptr);
  ASSERT_NE(player, nullptr);
  ASSERT_EQ(player->Start(true), 0);  // no output device: the mixer takes no sound
  player->Pause();                    // nor the frames
  ASSERT_TRUE(
      WaitFor([&] { return player->QueuedAudioBytes() > qv::kVideoAudioQueueBytes; }, 3000));
  const int read = raw->packetsRead.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(raw->packetsRead.load(), read);  // the reader stands still
  EXPECT_LE(player->QueuedAudioBytes(), qv::kVideoAudioQueueBytes + 10000);
  EXPECT_LE(player->QueuedVideoBytes(), qv::kVideoVideoQueueBytes + 100000);
  // A stop while everything waits ends at once.
  const auto before = std::chrono::steady_clock::now();
  player->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(500));
  EXPECT_EQ(player->QueuedVideoBytes(), 0u);
}

TEST(VideoPlayer, PauseAndResumeDropNoFrame) {
  // 100 ms between frames: a busy machine's delays stay well inside a frame.
  auto source = std::make_unique<SyntheticSource>(12, 10.0, 32, 0);
  RecordingSink sink;
  auto player = qv::qvVideoPlayer::Create(std::move(source), &sink, nullptr);
  ASSERT_NE(player, nullptr);
  ASSERT_EQ(player->Start(false), 0);
  ASSERT_TRUE(WaitFor([&] { return sink.Shown().size() >= 3; }, 3000));
  player->Pause();
  const size_t atPause = sink.Shown().size();
  const int64_t position = player->PositionMs();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_LE(sink.Shown().size(), atPause + 1);
  EXPECT_EQ(player->PositionMs(), position);
  player->Resume();
  ASSERT_TRUE(WaitFor([&] { return sink.ends.load() > 0; }, 3000));
  EXPECT_EQ(player->FramesDropped(), 0);
  EXPECT_EQ(sink.Shown().size(), 12u);
  player->Stop();
}

TEST(VideoPlayer, SeeksWhilePausedOrEndedShowTheFrameAtOnce) {
  auto source = std::make_unique<SyntheticSource>(50, 25.0, 32, 16);
  RecordingSink sink;
  auto player = qv::qvVideoPlayer::Create(std::move(source), &sink, nullptr);
  ASSERT_NE(player, nullptr);
  EXPECT_EQ(player->Seek(-1), qv::ERR_SEEKRANGE);
  EXPECT_EQ(player->Seek(2001), qv::ERR_SEEKRANGE);
  ASSERT_EQ(player->Seek(1000), 0);  // stopped: kept for the start
  ASSERT_EQ(player->Start(false), 0);
  ASSERT_TRUE(WaitFor([&] { return !sink.Shown().empty(); }, 3000));
  EXPECT_EQ(sink.Shown().front(), 25);
  player->Pause();
  for (int64_t ms : {0, 1239, 1240, 2000}) {
    SCOPED_TRACE(ms);
    ASSERT_EQ(player->Seek(ms), 0);
    EXPECT_EQ(player->PositionMs(), ms);
    ASSERT_FALSE(sink.drawnAtOnce.empty());
    EXPECT_EQ(sink.drawnAtOnce.back(), std::min<int>(int(ms * 25 / 1000), 49));
    EXPECT_EQ(player->LastFrame().front(), uint32_t(sink.drawnAtOnce.back()));
  }
  player->Stop();
}

}  // namespace
