#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>

#include "base/errors.h"
#include "media/pcm_sample.h"
#include "media/sound_stream.h"
#include "platform/time.h"
#include "tests/media/mod_writer.h"
#include "tests/media/sound_fixture.h"

using namespace qv;

namespace {

struct Ev {
  int32_t kind, position, count;
  int32_t id;
};

std::vector<Ev> TakeEvents() {
  std::vector<Ev> v;
  int32_t kind, pos, count;
  qvObjectId id;
  while (GetSoundEvent(&kind, &id, &pos, &count)) v.push_back({kind, pos, count, id.number});
  return v;
}

// The events once there are any, the channels' news handled as the main loop does (empty after
// ten seconds).
std::vector<Ev> WaitForEvents() {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::vector<Ev> ev;
  while (ev.empty() && std::chrono::steady_clock::now() < deadline) {
    ProcessAudioChannels();
    ev = TakeEvents();
    if (ev.empty()) DelayMs(2);
  }
  return ev;
}

// A 16-bit mono sample of `frames` frames, value i * 7 - 3000.
qvPcmSample* Ramp(uint32_t frames, int32_t frequency) {
  auto* data = static_cast<uint8_t*>(std::malloc(frames * 2));
  for (uint32_t i = 0; i < frames; i++) {
    auto v = static_cast<int16_t>(static_cast<int32_t>(i) * 7 - 3000);
    std::memcpy(data + 2 * i, &v, 2);
  }
  qvPcmSample* pcm = nullptr;
  int32_t stored;
  EXPECT_EQ(CreatePcmSample(data, frames, frequency, kPcm16Mono, &pcm, &stored), 0);
  return pcm;
}

int16_t RampValue(int64_t i) { return static_cast<int16_t>(i * 7 - 3000); }

class Channels : public AudioTest {
 protected:
  void SetUp() override {
    AudioTest::SetUp();
    for (const char* e : {"onsampleloop", "onsampleend", "onmusicend"}) EnableSoundEvent(e, true);
  }
};

}  // namespace

TEST_F(Channels, ThreePassesGiveThreeLoopsOneEndAndAnExactMix) {
  qvPcmSample* pcm = Ramp(100, kMixRate);
  ASSERT_EQ(PrepareSampleChannel(pcm, {7, nullptr}, kMixRate, 64, 128, -1, 3), 0);
  EXPECT_TRUE(IsSampleOnChannel(pcm));
  ASSERT_EQ(StartPreparedChannels(), 0);
  auto out = Render(400);
  for (int i = 0; i < 400; i++) {
    int16_t want = i < 300 ? RampValue(i % 100) : 0;
    ASSERT_EQ(out[2 * i], want) << i;
    ASSERT_EQ(out[2 * i + 1], want) << i;
  }
  ProcessAudioChannels();
  EXPECT_FALSE(IsSampleOnChannel(pcm));
  auto ev = TakeEvents();
  ASSERT_EQ(ev.size(), 4u);
  for (int i = 0; i < 3; i++) {
    EXPECT_EQ(ev[i].kind, kSoundEventSampleLoop);
    EXPECT_EQ(ev[i].count, i + 1);
    EXPECT_EQ(ev[i].position, i * 2);  // 100 frames at 48 kHz: passes of 2 ms
    EXPECT_EQ(ev[i].id, 7);
  }
  EXPECT_EQ(ev[3].kind, kSoundEventSampleEnd);
  EXPECT_EQ(ev[3].count, 3);
  EXPECT_EQ(ev[3].position, 6);
  FreePcmSample(pcm);
}

TEST_F(Channels, NinthPlayFindsNoChannelAndStopFreesAll) {
  qvPcmSample* pcm = Ramp(1000, 22050);
  for (int i = 0; i < kAudioChannels; i++) {
    ASSERT_EQ(PrepareSampleChannel(pcm, {1, nullptr}, 22050, 64, 128, -1, 0), 0);
  }
  EXPECT_EQ(PrepareSampleChannel(pcm, {1, nullptr}, 22050, 64, 128, -1, 1), ERR_NOCHANNEL);
  ASSERT_EQ(StartPreparedChannels(), 0);
  EXPECT_EQ(CountPlayingSoundBuffers(), kAudioChannels);
  Render(5000);
  ProcessAudioChannels();  // endless passes never end by themselves
  EXPECT_EQ(CountPlayingSoundBuffers(), kAudioChannels);
  int32_t ms = -1, passes = -1;
  ASSERT_TRUE(GetSampleChannelPosition(pcm, &ms, &passes));
  EXPECT_EQ(passes, 2);  // 5000 frames at 48 kHz consume 2296 frames of each channel
  StopSampleChannels(pcm);
  EXPECT_FALSE(IsSampleOnChannel(pcm));
  EXPECT_EQ(CountPlayingSoundBuffers(), 0);
  EXPECT_EQ(PrepareSampleChannel(pcm, {1, nullptr}, 22050, 64, 128, -1, 1), 0);
  StopSampleChannels(nullptr);
  FreePcmSample(pcm);
  TakeEvents();
}

TEST_F(Channels, TimeLimitsCutTheLastPass) {
  struct Row {
    int32_t time;
    int samplesHeard;  // frames of 48 kHz output that carry the sample
    int32_t endPosition, endCount, loops;
  };
  // 4800 frames at 48 kHz: passes of 100 ms.
  const Row rows[] = {
      {30, 1440, 30, 1, 1},     // shorter than one pass
      {250, 12000, 250, 3, 3},  // two passes and half of a third
      {200, 9600, 200, 3, 3},   // exactly two: a third pass of 0 ms begins and ends at once
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.time);
    qvPcmSample* pcm = Ramp(4800, kMixRate);
    ASSERT_EQ(PrepareSampleChannel(pcm, {2, nullptr}, kMixRate, 64, 128, r.time, 1), 0);
    ASSERT_EQ(StartPreparedChannels(), 0);
    auto out = Render(15000);
    for (int i = 0; i < 15000; i++) {
      int16_t want = i < r.samplesHeard ? RampValue(i % 4800) : 0;
      ASSERT_EQ(out[2 * i], want) << i;
    }
    ProcessAudioChannels();
    auto ev = TakeEvents();
    ASSERT_EQ(ev.size(), static_cast<size_t>(r.loops + 1));
    EXPECT_EQ(ev.back().kind, kSoundEventSampleEnd);
    EXPECT_EQ(ev.back().position, r.endPosition);
    EXPECT_EQ(ev.back().count, r.endCount);
    FreePcmSample(pcm);
  }
}

TEST_F(Channels, TinySamplesAndOddPitchesNeverDivideByZero) {
  qvPcmSample* pcm = Ramp(10, 48000);  // 0.2 ms
  ASSERT_EQ(PrepareSampleChannel(pcm, {3, nullptr}, 48000, 64, 128, 5, 1), 0);
  ASSERT_EQ(PrepareSampleChannel(pcm, {3, nullptr}, 256, 0, 0, 1, 1), 0);
  ASSERT_EQ(PrepareSampleChannel(pcm, {3, nullptr}, 1000000, 64, 255, -1, 2), 0);
  ASSERT_EQ(StartPreparedChannels(), 0);
  Render(48000);
  ProcessAudioChannels();
  EXPECT_FALSE(IsSampleOnChannel(pcm));
  FreePcmSample(pcm);
  TakeEvents();
}

TEST(AudioLevels, VolumeAndPanMapping) {
  EXPECT_EQ(VolumeToMillibels(64), 0);
  EXPECT_EQ(VolumeToMillibels(32), -693);
  EXPECT_EQ(VolumeToMillibels(0), kSilentMillibels);
  EXPECT_EQ(PanToMillibels(0), -10000);
  EXPECT_EQ(PanToMillibels(127), 0);
  EXPECT_EQ(PanToMillibels(128), 0);  // both are the centre
  EXPECT_EQ(PanToMillibels(255), 10000);
  EXPECT_EQ(PanToMillibels(64), static_cast<int32_t>(2000 * std::log10(64 / 127.0)));
  EXPECT_EQ(PanToMillibels(200), static_cast<int32_t>(-2000 * std::log10(55 / 128.0)));
}

namespace {

// A 16-bit WAVE of the ramp (every channel the same), 48 kHz mono unless asked otherwise.
std::string RampWave(uint32_t frames, uint32_t rate = 48000, uint16_t channels = 1) {
  std::vector<uint8_t> b;
  auto u32 = [&](uint32_t v) {
    for (int i = 0; i < 4; i++) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  auto u16 = [&](uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
  };
  uint32_t block = 2u * channels;
  b.insert(b.end(), {'R', 'I', 'F', 'F'});
  u32(36 + frames * block);
  b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  u32(16);
  u16(1);
  u16(channels);
  u32(rate);
  u32(rate * block);
  u16(static_cast<uint16_t>(block));
  u16(16);
  b.insert(b.end(), {'d', 'a', 't', 'a'});
  u32(frames * block);
  for (uint32_t i = 0; i < frames; i++) {
    for (int c = 0; c < channels; c++) u16(static_cast<uint16_t>(RampValue(i)));
  }
  return WriteTemp("ramp.wav", b);
}

// Renders `frames` frames in steps, each after the refill thread has caught up: it tops the
// buffer up every few milliseconds, so then more than 50 ms lie ahead (or the stream's end).
std::vector<int16_t> RenderStream(const qvSampleStream* s, int frames) {
  std::vector<int16_t> all;
  const int kStep = 600;
  for (int done = 0; done < frames; done += kStep) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (IsStreamOnChannel(s) && StreamFramesAhead(s) <= 2400 &&
           std::chrono::steady_clock::now() < deadline) {
      DelayMs(1);
    }
    auto out = Render(kStep);
    all.insert(all.end(), out.begin(), out.end());
  }
  return all;
}

}  // namespace

TEST_F(Channels, MusicStreamPlaysItsPassesPausesAndResumesWhereHeard) {
  std::string path = RampWave(7000);
  qvSampleStream* s = nullptr;
  ASSERT_EQ(OpenSampleFile(path.c_str(), true, &s), 0);
  ASSERT_EQ(StartStreamChannel(s, {9, nullptr}, 2, 1, 64), 0);
  EXPECT_EQ(StartStreamChannel(s, {9, nullptr}, 1, 1, 64), 0);  // a second channel may play it
  int32_t pass;
  int64_t pos;
  StopStreamChannel(s, false, &pass, &pos);  // the first of the two
  ASSERT_TRUE(IsStreamOnChannel(s));
  StopStreamChannel(s, false, &pass, &pos);
  ASSERT_FALSE(IsStreamOnChannel(s));

  ASSERT_EQ(StartStreamChannel(s, {9, nullptr}, 2, 1, 64), 0);
  auto first = RenderStream(s, 9000);
  int64_t heard = GetStreamChannelPosition(s);
  EXPECT_EQ(heard, 9000 - 7000);  // in the second pass
  StopStreamChannel(s, true, &pass, &pos);
  EXPECT_EQ(pass, 2);
  EXPECT_EQ(pos, 2000);
  EXPECT_EQ(s->position, 2000);
  Render(1000);  // nothing plays between
  ASSERT_EQ(StartStreamChannel(s, {9, nullptr}, 2, pass, 64), 0);
  auto second = RenderStream(s, 12000);
  first.insert(first.end(), second.begin(), second.end());
  for (int i = 0; i < 21000; i++) {
    int16_t want = i < 14000 ? RampValue(i % 7000) : 0;
    ASSERT_EQ(first[2 * i], want) << i;
  }
  // The end is reported once the last frame has been heard.
  std::vector<Ev> ev = WaitForEvents();
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_EQ(ev[0].kind, kSoundEventMusicEnd);
  EXPECT_EQ(ev[0].count, 2);
  EXPECT_EQ(ev[0].id, 9);
  qvSampleStream* ended[kAudioChannels];
  EXPECT_EQ(ReapEndedStreams(ended, kAudioChannels), 1);
  EXPECT_EQ(ended[0], s);
  EXPECT_FALSE(IsStreamOnChannel(s));
  EXPECT_EQ(s->position, 0);
  CloseSampleStream(s);
}

TEST_F(Channels, StreamPositionsNeverRunBackwards) {
  std::string path = RampWave(48000);
  qvSampleStream* s = nullptr;
  ASSERT_EQ(OpenSampleFile(path.c_str(), true, &s), 0);
  ASSERT_EQ(StartStreamChannel(s, {1, nullptr}, 1, 1, 64), 0);
  int64_t last = 0;
  for (int i = 0; i < 40; i++) {
    RenderStream(s, 600);
    int64_t now = GetStreamChannelPosition(s);
    EXPECT_GE(now, last);
    EXPECT_EQ(now, (i + 1) * 600);
    last = now;
  }
  int32_t pass;
  int64_t pos;
  StopStreamChannel(s, false, &pass, &pos);
  EXPECT_EQ(s->position, 0);
  CloseSampleStream(s);
}

namespace {

// Renders `frames` output frames of the stream playing on a channel, in steps of 600. Before each
// step the refill thread may catch up until 100 ms and a step lie ahead (or the stream's end),
// except for the `holdFrames` output frames from `holdAt` on, while its refills are withheld: the
// stall of a busy machine, at a known place.
std::vector<int16_t> RenderStalled(const qvSampleStream* s, int frames, int holdAt,
                                   int holdFrames) {
  const int kStep = 600;
  int64_t need = s->frequency / 10 + int64_t{kStep} * s->frequency / kMixRate + 2;
  std::vector<int16_t> all;
  for (int done = 0; done < frames; done += kStep) {
    bool held = done >= holdAt && done < holdAt + holdFrames;
    HoldStreamRefills(held);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!held && IsStreamOnChannel(s) && StreamFramesAhead(s) < need &&
           std::chrono::steady_clock::now() < deadline) {
      DelayMs(1);
    }
    auto out = Render(kStep);
    all.insert(all.end(), out.begin(), out.end());
  }
  HoldStreamRefills(false);
  return all;
}

// How many silent frames `got` has where it departs from `want`, when it is `want` with one run of
// silence inserted (0 when they are equal; both stereo, of one length, cut at the end); -1 when it
// is anything else, such as repeated or skipped audio.
int64_t InsertedSilence(const std::vector<int16_t>& want, const std::vector<int16_t>& got) {
  if (want.size() != got.size()) return -1;
  size_t n = want.size() / 2;
  size_t k = 0;
  while (k < n && want[2 * k] == got[2 * k] && want[2 * k + 1] == got[2 * k + 1]) k++;
  if (k == n) return 0;
  size_t zeros = 0;
  while (k + zeros < n && got[2 * (k + zeros)] == 0 && got[2 * (k + zeros) + 1] == 0) zeros++;
  // The silence may run on into silence of the stream itself: the shortest run that fits.
  for (size_t len = 1; len <= zeros; len++) {
    if (std::equal(got.begin() + static_cast<ptrdiff_t>(2 * (k + len)), got.end(),
                   want.begin() + static_cast<ptrdiff_t>(2 * k))) {
      return static_cast<int64_t>(len);
    }
  }
  return -1;
}

// A module of one long, unlooped, never-repeating note on each side, and a second pattern that
// starts them again: what is heard is never the same twice within a pattern.
std::vector<uint8_t> SweepModule() {
  ModWriter w;
  w.order = {0, 1};
  ModSample a, b;
  for (int i = 0; i < 60000; i++) {
    a.data.push_back(static_cast<int8_t>((int64_t{i} * i / 7 + i) % 251 - 125));
    b.data.push_back(static_cast<int8_t>((i * 13 + i / 50) % 241 - 120));
  }
  w.Sample(1) = a;
  w.Sample(2) = b;
  for (int p = 0; p < 2; p++) {
    w.Cell(p, 0, 0) = {428 - 40 * p, 1, 0, 0};
    w.Cell(p, 0, 1) = {320 + 30 * p, 2, 0, 0};
  }
  return w.Bytes();
}

struct StallCase {
  const char* what;
  int holdFrames;  // output frames without refills
  bool covered;    // what lies ahead rides it out: nothing changes
};
const StallCase kStalls[] = {
    {"a stall of 100 ms", 4800, true},
    {"a stall of 500 ms", 24000, false},
};

// The same stream twice, unstalled and with a stall: the stalled one is the unstalled one, with
// silence inserted where the stall outlasted what lay ahead.
void ExpectStallInsertsSilence(const std::function<qvSampleStream*()>& open, int frames) {
  qvSampleStream* s = open();
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(StartStreamChannel(s, {4, nullptr}, 1, 1, 64), 0);
  auto want = RenderStalled(s, frames, 0, 0);
  int32_t pass;
  int64_t pos;
  StopStreamChannel(s, false, &pass, &pos);
  CloseSampleStream(s);
  for (const StallCase& c : kStalls) {
    SCOPED_TRACE(c.what);
    s = open();
    ASSERT_EQ(StartStreamChannel(s, {4, nullptr}, 1, 1, 64), 0);
    auto got = RenderStalled(s, frames, 6000, c.holdFrames);
    int64_t silence = InsertedSilence(want, got);
    if (c.covered) {
      EXPECT_EQ(silence, 0);
    } else {
      EXPECT_GT(silence, 0);
      EXPECT_LE(silence, c.holdFrames);
    }
    StopStreamChannel(s, false, &pass, &pos);
    CloseSampleStream(s);
  }
  TakeEvents();
}

}  // namespace

TEST_F(Channels, StalledMusicRefillsInsertSilenceAndKeepTheEndWhole) {
  struct Wave {
    uint32_t rate;
    uint16_t channels;
  };
  for (Wave w : {Wave{48000, 1}, Wave{22050, 2}}) {
    SCOPED_TRACE(w.rate);
    const uint32_t frames = w.rate * 6 / 10;  // 600 ms
    std::string path = RampWave(frames, w.rate, w.channels);
    auto open = [&] {
      qvSampleStream* s = nullptr;
      EXPECT_EQ(OpenSampleFile(path.c_str(), true, &s), 0);
      return s;
    };
    // Unstalled at the mix rate: the file whole, then silence.
    qvSampleStream* s = open();
    ASSERT_EQ(StartStreamChannel(s, {4, nullptr}, 1, 1, 64), 0);
    auto plain = RenderStalled(s, 54000, 0, 0);
    if (w.rate == kMixRate) {
      for (int i = 0; i < 54000; i++) {
        ASSERT_EQ(plain[2 * i], i < static_cast<int>(frames) ? RampValue(i) : 0) << i;
      }
    }
    // Heard to its end: reported once.
    std::vector<Ev> ev = WaitForEvents();
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].kind, kSoundEventMusicEnd);
    int32_t pass;
    int64_t pos;
    StopStreamChannel(s, false, &pass, &pos);
    CloseSampleStream(s);
    // 1.125 s of output: the stalled play ends within it too, followed by silence only.
    ExpectStallInsertsSilence(open, 54000);
  }
}

TEST_F(Channels, StalledModuleRefillsInsertSilence) {
  std::vector<uint8_t> image = SweepModule();
  ExpectStallInsertsSilence(
      [&] {
        qvSampleStream* s = nullptr;
        EXPECT_EQ(OpenModuleStream(image, &s), 0);
        return s;
      },
      48000);
}
