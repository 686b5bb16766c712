#include "platform/mixer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "base/errors.h"
#include "platform/sync.h"

using namespace qv;

namespace {

std::vector<int16_t> Render(int frames) {
  std::vector<int16_t> out(static_cast<size_t>(frames) * 2);
  RenderMix(out.data(), frames);
  return out;
}

// A buffer released at the end of the test.
struct Buf {
  qvSoundBuffer* b;
  explicit Buf(qvSoundBuffer* buffer) : b(buffer) {}
  ~Buf() { ReleaseSoundBuffer(b); }
};

std::vector<int16_t> Ramp16(int frames) {
  std::vector<int16_t> v(static_cast<size_t>(frames));
  for (int i = 0; i < frames; i++) v[static_cast<size_t>(i)] = static_cast<int16_t>(i * 37 - 900);
  return v;
}

}  // namespace

TEST(Mixer, PassesAtMixRateAreBitExactAndStopAtTheEnd) {
  auto pcm = Ramp16(50);
  Buf s(CreateSoundBuffer(kMixRate, 1, 16, pcm.data(), 100));
  ASSERT_NE(s.b, nullptr);
  qvSignal* passEnd = CreateSignal();
  qvSignal* stop = CreateSignal();
  qvBufferNotify notes[] = {{99, passEnd}, {kNotifyAtStop, stop}};
  ASSERT_TRUE(SetSoundBufferNotifications(s.b, notes, 2));
  ASSERT_EQ(PlaySoundBuffer(s.b, 3, 0), 0);
  auto out = Render(200);
  for (int i = 0; i < 200; i++) {
    int16_t want = i < 150 ? pcm[static_cast<size_t>(i % 50)] : 0;
    ASSERT_EQ(out[2 * i], want) << i;
    ASSERT_EQ(out[2 * i + 1], want) << i;
  }
  EXPECT_FALSE(IsSoundBufferPlaying(s.b));
  EXPECT_EQ(GetSoundBufferConsumed(s.b), 150u);
  EXPECT_EQ(GetSoundBufferNotifyCount(s.b, 0), 3u);  // the last frame of every pass
  EXPECT_EQ(GetSoundBufferNotifyCount(s.b, 1), 1u);
  qvSignal* both[] = {passEnd, stop};
  EXPECT_EQ(WaitAnySignal(both, 2, 0), 0);
  EXPECT_EQ(WaitAnySignal(both, 2, 0), 1);
  DeleteSignal(passEnd);
  DeleteSignal(stop);
}

TEST(Mixer, ShortenedLastPassAndManyPassesInOneChunk) {
  // Five passes of 3 frames, the last cut to 2: 14 frames, all inside one render chunk.
  uint8_t pcm[] = {0x90, 0xA0, 0xB0};
  Buf s(CreateSoundBuffer(kMixRate, 1, 8, pcm, 3));
  qvBufferNotify notes[] = {{2, nullptr}, {kNotifyAtStop, nullptr}};
  ASSERT_TRUE(SetSoundBufferNotifications(s.b, notes, 2));
  ASSERT_EQ(PlaySoundBuffer(s.b, 5, 2), 0);
  auto out = Render(20);
  for (int i = 0; i < 20; i++) {
    int16_t want = i < 14 ? static_cast<int16_t>((pcm[i % 3] - 128) * 256) : 0;
    ASSERT_EQ(out[2 * i], want) << i;
  }
  EXPECT_EQ(GetSoundBufferNotifyCount(s.b, 0), 4u);
  EXPECT_EQ(GetSoundBufferConsumed(s.b), 14u);
  EXPECT_EQ(GetSoundBufferNotifyCount(s.b, 1), 1u);
}

TEST(Mixer, StereoDuplicatesShareDataAndMix) {
  int16_t pcm[] = {1000, -1000, 2000, -2000};
  Buf a(CreateSoundBuffer(kMixRate, 2, 16, pcm, 8));
  Buf b(DuplicateSoundBuffer(a.b));
  ASSERT_NE(b.b, nullptr);
  PlaySoundBuffer(a.b, 1, 0);
  PlaySoundBuffer(b.b, 1, 0);
  auto out = Render(3);
  EXPECT_EQ(out[0], 2000);
  EXPECT_EQ(out[1], -2000);
  EXPECT_EQ(out[2], 4000);
  EXPECT_EQ(out[3], -4000);
  EXPECT_EQ(out[4], 0);
}

TEST(Mixer, ClipsTheSum) {
  int16_t pcm[] = {30000};
  Buf a(CreateSoundBuffer(kMixRate, 1, 16, pcm, 2));
  Buf b(DuplicateSoundBuffer(a.b));
  PlaySoundBuffer(a.b, 1, 0);
  PlaySoundBuffer(b.b, 1, 0);
  auto out = Render(1);
  EXPECT_EQ(out[0], 32767);
}

TEST(Mixer, ResamplesLinearly) {
  // At half the mix rate every second output frame lies halfway between two samples.
  int16_t pcm[] = {0, 1000, 3000, 3000};
  Buf s(CreateSoundBuffer(kMixRate / 2, 1, 16, pcm, 8));
  PlaySoundBuffer(s.b, 1, 0);
  auto out = Render(9);
  const int16_t want[] = {0, 500, 1000, 2000, 3000, 3000, 3000, 3000, 0};
  for (int i = 0; i < 9; i++) EXPECT_EQ(out[2 * i], want[i]) << i;
  // At twice the rate every second sample is skipped; the cursor says what was consumed.
  std::vector<int16_t> many(1000, 100);
  Buf f(CreateSoundBuffer(kMixRate * 2, 1, 16, many.data(), 2000));
  PlaySoundBuffer(f.b, 0, 0);
  Render(100);
  EXPECT_EQ(GetSoundBufferPosition(f.b), 400u);
  EXPECT_TRUE(SetSoundBufferFrequency(f.b, kMaxBufferFrequency));
  EXPECT_FALSE(SetSoundBufferFrequency(f.b, kMinBufferFrequency - 1));
  EXPECT_FALSE(SetSoundBufferFrequency(f.b, kMaxBufferFrequency + 1));
  StopSoundBuffer(f.b);
}

TEST(Mixer, VolumeAndPanInMillibels) {
  std::vector<int16_t> pcm(16, 20000);
  Buf s(CreateSoundBuffer(kMixRate, 1, 16, pcm.data(), 32));
  struct Row {
    int32_t volume, pan;
    int16_t left, right;
  };
  const Row rows[] = {
      {0, 0, 20000, 20000},   {-600, 0, 10024, 10024},  // 10^(-0.3) of full
      {-10000, 0, 0, 0},                                // silence
      {0, 10000, 0, 20000},                             // right only
      {0, -10000, 20000, 0},                            // left only
      {0, 600, 10024, 20000},                           // the left attenuated
      {-20000, -20000, 0, 0},                           // clamped
  };
  for (const Row& r : rows) {
    SetSoundBufferVolume(s.b, r.volume);
    SetSoundBufferPan(s.b, r.pan);
    SetSoundBufferPosition(s.b, 0);
    PlaySoundBuffer(s.b, 1, 0);
    auto out = Render(1);
    EXPECT_NEAR(out[0], r.left, 1) << r.volume << " " << r.pan;
    EXPECT_NEAR(out[1], r.right, 1) << r.volume << " " << r.pan;
    StopSoundBuffer(s.b);
  }
}

TEST(Mixer, LockedRegionIsCommittedOnUnlock) {
  Buf s(CreateSoundBuffer(kMixRate, 1, 16, nullptr, 8));
  PlaySoundBuffer(s.b, 0, 0);
  auto* p = static_cast<int16_t*>(LockSoundBuffer(s.b, 4, 4));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(LockSoundBuffer(s.b, 0, 2), nullptr);  // one lock at a time
  p[0] = 7;
  p[1] = 8;
  auto before = Render(4);  // the old bytes play until the unlock
  EXPECT_EQ(before[4], 0);
  UnlockSoundBuffer(s.b);
  auto after = Render(4);
  EXPECT_EQ(after[4], 7);
  EXPECT_EQ(after[6], 8);
  EXPECT_EQ(LockSoundBuffer(s.b, 6, 4), nullptr);  // past the end
  EXPECT_EQ(LockSoundBuffer(s.b, 0, 0), nullptr);
  StopSoundBuffer(s.b);
}

TEST(Mixer, StreamBuffersWaitForTheProducerAndStopAtTheLastFrameWritten) {
  // 3000 frames of a ramp through a ring of 400, at the mix rate and at two rates that resample
  // (one consumes more than a frame per output frame): written as room allows, once before each
  // chunk (never short) and once in a trickle that leaves the mixer waiting. The trickled play is
  // the same frames with silence between, and both stop at the last frame.
  auto pcm = Ramp16(3000);
  for (int rate : {kMixRate, 22050, 100000}) {
    SCOPED_TRACE(rate);
    std::vector<int16_t> plays[2];
    for (int trickle = 0; trickle < 2; trickle++) {
      Buf s(CreateStreamBuffer(rate, 1, 16, 400));
      ASSERT_NE(s.b, nullptr);
      qvSignal* stop = CreateSignal();
      qvBufferNotify note = {kNotifyAtStop, stop};
      ASSERT_TRUE(SetSoundBufferNotifications(s.b, &note, 1));
      EXPECT_EQ(GetStreamBufferRoom(s.b), 400u);
      ASSERT_EQ(PlaySoundBuffer(s.b, 0, 0), 0);
      size_t written = 0;
      std::vector<int16_t>& all = plays[trickle];
      for (int chunk = 0; chunk < 500; chunk++) {
        uint32_t room = GetStreamBufferRoom(s.b);
        uint32_t n = std::min<uint32_t>(trickle ? std::min<uint32_t>(room, 7) : room,
                                        static_cast<uint32_t>(pcm.size() - written));
        if (n > 0) {
          EXPECT_EQ(WriteStreamBuffer(s.b, pcm.data() + written, n), n);
          written += n;
          if (written == pcm.size()) EndStreamBuffer(s.b);
        }
        auto out = Render(64);
        all.insert(all.end(), out.begin(), out.end());
      }
      ASSERT_EQ(written, pcm.size());
      EXPECT_FALSE(IsSoundBufferPlaying(s.b));
      EXPECT_EQ(GetSoundBufferConsumed(s.b), 3000u);
      EXPECT_EQ(GetSoundBufferNotifyCount(s.b, 0), 1u);
      EXPECT_EQ(WaitAnySignal(&stop, 1, 0), 0);
      EXPECT_EQ(GetStreamBufferRoom(s.b), 0u);  // ended: it takes nothing more
      EXPECT_EQ(WriteStreamBuffer(s.b, pcm.data(), 1), 0u);
      DeleteSignal(stop);
    }
    // The trickled play without its silent frames is the other one without its trailing silence
    // (the ramp has no zero), and at the mix rate that is the ramp itself.
    std::vector<int16_t> heard[2];
    for (int t = 0; t < 2; t++) {
      for (size_t i = 0; i < plays[t].size(); i += 2) {
        if (plays[t][i] != 0 || plays[t][i + 1] != 0) heard[t].push_back(plays[t][i]);
      }
    }
    EXPECT_EQ(heard[0], heard[1]);
    EXPECT_GT(heard[0].size(), 0u);
    if (rate == kMixRate) {
      EXPECT_EQ(heard[0], pcm);
    }
  }
}

TEST(Mixer, StreamRoomSignalWakesTheProducerOncePerFreedStretch) {
  // A ring of 400 frames that wakes its producer when 200 are free. Each row renders a number of
  // frames, may write some, and says whether the signal is set after it.
  auto pcm = Ramp16(400);
  Buf s(CreateStreamBuffer(kMixRate, 1, 16, 400));
  ASSERT_NE(s.b, nullptr);
  qvSignal* room = CreateSignal();
  ASSERT_TRUE(SetStreamBufferRoomSignal(s.b, 200, room));
  ASSERT_EQ(WriteStreamBuffer(s.b, pcm.data(), 400), 400u);
  ASSERT_EQ(PlaySoundBuffer(s.b, 0, 0), 0);
  struct Step {
    int render;
    uint32_t write;
    bool set;
    const char* why;
  };
  const Step steps[] = {
      {199, 0, false, "199 free: not yet"},
      {1, 0, true, "200 free"},
      {50, 0, false, "once per stretch, not per chunk"},
      {0, 10, false, "a write that leaves 240 free does not re-arm it"},
      {10, 0, false, "still armed off"},
      {0, 250, false, "a write that fills the ring re-arms it"},
      {199, 0, false, "199 free again"},
      {1, 0, true, "the next stretch"},
      {500, 0, false, "an underrun sets it no more"},
  };
  for (const Step& st : steps) {
    SCOPED_TRACE(st.why);
    if (st.render > 0) Render(st.render);
    if (st.write > 0) EXPECT_EQ(WriteStreamBuffer(s.b, pcm.data(), st.write), st.write);
    EXPECT_EQ(WaitAnySignal(&room, 1, 0) == 0, st.set);
  }
  // Refused for a buffer that is no stream; ended by a null signal.
  Buf plain(CreateSoundBuffer(kMixRate, 1, 16, pcm.data(), 800));
  EXPECT_FALSE(SetStreamBufferRoomSignal(plain.b, 200, room));
  EXPECT_TRUE(SetStreamBufferRoomSignal(s.b, 200, nullptr));
  EXPECT_EQ(WriteStreamBuffer(s.b, pcm.data(), 400), 400u);
  Render(400);
  EXPECT_EQ(WaitAnySignal(&room, 1, 0), kWaitTimedOut);
  StopSoundBuffer(s.b);
  DeleteSignal(room);
}

TEST(Mixer, RefusesBadFormats) {
  uint8_t pcm[4] = {};
  EXPECT_EQ(CreateSoundBuffer(kMixRate, 3, 16, pcm, 4), nullptr);
  EXPECT_EQ(CreateSoundBuffer(kMixRate, 1, 24, pcm, 4), nullptr);
  EXPECT_EQ(CreateSoundBuffer(kMixRate, 2, 16, pcm, 3), nullptr);  // a ragged frame
  EXPECT_EQ(CreateSoundBuffer(kMixRate, 1, 8, pcm, 0), nullptr);
  EXPECT_EQ(CreateSoundBuffer(50, 1, 8, pcm, 4), nullptr);
  EXPECT_EQ(PlaySoundBuffer(nullptr, 1, 0), ERR_DSOUNDPLAY);
  Buf s(CreateSoundBuffer(kMixRate, 1, 8, pcm, 4));
  qvBufferNotify outside[] = {{4, nullptr}};
  EXPECT_FALSE(SetSoundBufferNotifications(s.b, outside, 1));
}

// The device thread and this thread play, stop and release buffers at once; the sanitizer build
// checks that nothing races.
TEST(Mixer, DeviceRunsBesideTheCallers) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  ASSERT_EQ(OpenAudioOutput(), 0);
  EXPECT_EQ(OpenAudioOutput(), 0);
  EXPECT_TRUE(IsAudioOutputOpen());
  std::vector<int16_t> pcm(480, 5);
  for (int i = 0; i < 200; i++) {
    qvSoundBuffer* b = CreateSoundBuffer(kMixRate, 1, 16, pcm.data(), 960);
    PlaySoundBuffer(b, 2, 0);
    SetSoundBufferVolume(b, -i);
    auto* p = LockSoundBuffer(b, 0, 8);
    if (p) UnlockSoundBuffer(b);
    GetSoundBufferPosition(b);
    ReleaseSoundBuffer(b);
  }
  CloseAudioOutput();
  EXPECT_FALSE(IsAudioOutputOpen());
}
