// Sound through the real player with SDL's disk audio driver: the mix the device received is
// captured in a file and compared with the samples the script played.
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/errors.h"
#include "tests/media/mod_writer.h"
#include "tests/player/disk_audio_fixture.h"

namespace qv::testing {

namespace {

int16_t RampValue(int i) { return static_cast<int16_t>(i * 13 - 4000); }

// A 48 kHz mono 16-bit WAVE of `frames` ramp values.
std::vector<uint8_t> RampWave(int frames) {
  std::vector<uint8_t> b;
  auto u32 = [&](uint32_t v) {
    for (int i = 0; i < 4; i++) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  auto u16 = [&](uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
  };
  b.insert(b.end(), {'R', 'I', 'F', 'F'});
  u32(36 + static_cast<uint32_t>(frames) * 2);
  b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  u32(16);
  u16(1);
  u16(1);
  u32(48000);
  u32(96000);
  u16(2);
  u16(16);
  b.insert(b.end(), {'d', 'a', 't', 'a'});
  u32(static_cast<uint32_t>(frames) * 2);
  for (int i = 0; i < frames; i++) u16(static_cast<uint16_t>(RampValue(i)));
  return b;
}

// Plays sample 1 three times and prints its loop and end events until the end.
constexpr char kThreeTimes[] = R"(
.function main
  .line 1
  GETGLOBAL R0, "loadsample"
  LOADCONST R1, 1
  LOADCONST R2, "ramp.wav"
  CALL R0, nargs=2, nres=0
  LOADCONST R0, 0
  SETGLOBAL R0, "done"
  GETGLOBAL R0, "installeventhandler"
  NEWTABLE R1, 0, 0
  CLOSURE R2, onloop
  SETTABLE R1, "onsampleloop", R2
  CLOSURE R2, onend
  SETTABLE R1, "onsampleend", R2
  CALL R0, nargs=1, nres=0
  .line 2
  GETGLOBAL R0, "playsample"
  LOADCONST R1, 1
  LOADCONST R2, 3
  CALL R0, nargs=2, nres=0
loop:
  .line 3
  GETGLOBAL R0, "waitevent"
  CALL R0, nargs=0, nres=0
  GETGLOBAL R1, "done"
  EQ 1, R1, 0
  JUMP @loop
  .line 4
  GETGLOBAL R0, "issampleplaying"
  LOADCONST R1, 1
  CALL R0, nargs=1, nres=2
  GETGLOBAL R1, "debugprint"
  MOVE R2, R0
  CALL R1, nargs=1, nres=0
  RETURN R0, 1
  .function onloop
    .param "msg"
    .line 10
    GETGLOBAL R1, "debugprint"
    GETTABLE R2, R0, "action"
    GETTABLE R3, R0, "id"
    GETTABLE R4, R0, "time"
    GETTABLE R5, R0, "starts"
    CALL R1, nargs=4, nres=0
    RETURN R0, 1
  .end
  .function onend
    .param "msg"
    .line 20
    GETGLOBAL R1, "debugprint"
    GETTABLE R2, R0, "action"
    GETTABLE R3, R0, "id"
    GETTABLE R4, R0, "time"
    GETTABLE R5, R0, "starts"
    CALL R1, nargs=4, nres=0
    LOADCONST R1, 1
    SETGLOBAL R1, "done"
    RETURN R0, 1
  .end
.end
)";

// Plays music 1 with a pause of 200 ms after 200 ms, until its end; then gives the device 100 ms
// to write out the last of the mix.
constexpr char kPauseResume[] = R"(
.function main
  .line 1
  GETGLOBAL R0, "openmusic"
  LOADCONST R1, 1
  LOADCONST R2, "tones.ogg"
  CALL R0, nargs=2, nres=0
  LOADCONST R0, 0
  SETGLOBAL R0, "done"
  GETGLOBAL R0, "installeventhandler"
  NEWTABLE R1, 0, 0
  CLOSURE R2, onend
  SETTABLE R1, "onmusicend", R2
  CALL R0, nargs=1, nres=0
  .line 2
  GETGLOBAL R0, "playmusic"
  LOADCONST R1, 1
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "wait"
  LOADCONST R1, 10
  CALL R0, nargs=1, nres=0
  .line 3
  GETGLOBAL R0, "pausemusic"
  LOADCONST R1, 1
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "wait"
  LOADCONST R1, 10
  CALL R0, nargs=1, nres=0
  .line 4
  GETGLOBAL R0, "resumemusic"
  LOADCONST R1, 1
  CALL R0, nargs=1, nres=0
loop:
  .line 5
  GETGLOBAL R0, "waitevent"
  CALL R0, nargs=0, nres=0
  GETGLOBAL R1, "done"
  EQ 1, R1, 0
  JUMP @loop
  .line 6
  GETGLOBAL R0, "wait"
  LOADCONST R1, 5
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "ismusicplaying"
  LOADCONST R1, 1
  CALL R0, nargs=1, nres=2
  GETGLOBAL R1, "debugprint"
  MOVE R2, R0
  CALL R1, nargs=1, nres=0
  RETURN R0, 1
  .function onend
    .param "msg"
    .line 20
    GETGLOBAL R1, "debugprint"
    GETTABLE R2, R0, "action"
    GETTABLE R3, R0, "id"
    CALL R1, nargs=2, nres=0
    LOADCONST R1, 1
    SETGLOBAL R1, "done"
    RETURN R0, 1
  .end
.end
)";

// A module of two patterns whose row 3 (and row 0 of pattern 1) is held 16 times by EE F, so that
// the positions are read while the rows are held: played, moved to its second position, paused,
// resumed, stopped and played again from the start. show(label) prints the label, the last error
// and both positions.
constexpr char kModule[] = R"(
.function main
  .line 1
  CLOSURE R0, show
  SETGLOBAL R0, "show"
  GETGLOBAL R0, "exitonerror"
  LOADCONST R1, 0
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "openmusic"
  LOADCONST R1, 1
  LOADCONST R2, "song.mod"
  CALL R0, nargs=2, nres=0
  GETGLOBAL R0, "show"
  LOADCONST R1, "none"
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "playmusic"
  LOADCONST R1, 1
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "waitpatternposition"
  LOADCONST R1, 4
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "show"
  LOADCONST R1, "held"
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "playsubsong"
  LOADCONST R1, 1
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "waitsongposition"
  LOADCONST R1, 1
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "show"
  LOADCONST R1, "subsong"
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "playsubsong"
  LOADCONST R1, 2
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "show"
  LOADCONST R1, "past"
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "seekmusic"
  LOADCONST R1, 1
  LOADCONST R2, 0
  CALL R0, nargs=2, nres=0
  GETGLOBAL R0, "show"
  LOADCONST R1, "seek"
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "pausemusic"
  CALL R0, nargs=0, nres=0
  GETGLOBAL R0, "show"
  LOADCONST R1, "paused"
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "resumemusic"
  CALL R0, nargs=0, nres=0
  GETGLOBAL R0, "show"
  LOADCONST R1, "resumed"
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "stopmusic"
  CALL R0, nargs=0, nres=0
  GETGLOBAL R0, "playmusic"
  LOADCONST R1, 1
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "waitpatternposition"
  LOADCONST R1, 4
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "show"
  LOADCONST R1, "again"
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "stopmusic"
  CALL R0, nargs=0, nres=0
  GETGLOBAL R0, "playsubsong"
  LOADCONST R1, 0
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "show"
  LOADCONST R1, "stopped"
  CALL R0, nargs=1, nres=0
  RETURN R0, 1
  .function show
    .param "label"
    .line 10
    GETGLOBAL R1, "debugprint"
    MOVE R2, R0
    GETGLOBAL R3, "getlasterror"
    CALL R3, nargs=0, nres=1
    GETGLOBAL R4, "getsongposition"
    CALL R4, nargs=0, nres=1
    GETGLOBAL R5, "getpatternposition"
    CALL R5, nargs=0, nres=1
    CALL R1, nargs=4, nres=0
    RETURN R0, 1
  .end
.end
)";

// Music 1 from the file @FILE@ played to its end, with @BEFORE@ done to it before it plays.
constexpr char kPlayToEnd[] = R"(
.function main
  .line 1
  GETGLOBAL R0, "openmusic"
  LOADCONST R1, 1
  LOADCONST R2, "@FILE@"
  CALL R0, nargs=2, nres=0
@BEFORE@
  GETGLOBAL R0, "playmusic"
  LOADCONST R1, 1
  CALL R0, nargs=1, nres=0
loop:
  .line 2
  GETGLOBAL R0, "wait"
  LOADCONST R1, 2
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "ismusicplaying"
  LOADCONST R1, 1
  CALL R0, nargs=1, nres=1
  EQ 1, R0, 1
  JUMP @loop
  GETGLOBAL R0, "wait"
  LOADCONST R1, 5
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "debugprint"
  LOADCONST R1, "ended"
  CALL R0, nargs=1, nres=0
  RETURN R0, 1
.end
)";

// Seeks music 1 to 250 ms.
constexpr char kSeekTo250[] = R"(
  GETGLOBAL R0, "seekmusic"
  LOADCONST R1, 1
  LOADCONST R2, 250
  CALL R0, nargs=2, nres=0
)";

std::string PlayToEnd(const std::string& file, const std::string& before = "") {
  std::string text = kPlayToEnd;
  text.replace(text.find("@FILE@"), 6, file);
  text.replace(text.find("@BEFORE@"), 8, before);
  return text;
}

// Music fed by the script: four frames from a table of two values, then the end.
constexpr char kFed[] = R"(
.function main
  .line 1
  LOADCONST R0, 0
  SETGLOBAL R0, "done"
  SETGLOBAL R0, "fills"
  GETGLOBAL R0, "installeventhandler"
  NEWTABLE R1, 0, 0
  CLOSURE R2, fill
  SETTABLE R1, "fillmusicbuffer", R2
  CLOSURE R2, onend
  SETTABLE R1, "onmusicend", R2
  CALL R0, nargs=1, nres=0
  .line 2
  GETGLOBAL R0, "createmusic"
  LOADCONST R1, 1
  LOADCONST R2, 48000
  LOADCONST R3, 1
  CALL R0, nargs=3, nres=0
  GETGLOBAL R0, "playmusic"
  LOADCONST R1, 1
  CALL R0, nargs=1, nres=0
loop:
  .line 3
  GETGLOBAL R0, "waitevent"
  CALL R0, nargs=0, nres=0
  GETGLOBAL R1, "done"
  EQ 1, R1, 0
  JUMP @loop
  GETGLOBAL R0, "wait"
  LOADCONST R1, 5
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "debugprint"
  LOADCONST R1, "fills"
  GETGLOBAL R2, "fills"
  CALL R0, nargs=2, nres=0
  RETURN R0, 1
  .function fill
    .param "msg"
    .line 10
    GETGLOBAL R1, "fills"
    ADD R1, R1, 1
    SETGLOBAL R1, "fills"
    EQ 0, R1, 1
    JUMP @skip
    GETGLOBAL R1, "fillmusicbuffer"
    GETTABLE R2, R0, "id"
    LOADCONST R3, "pcm"
    LOADCONST R4, 4
    NEWTABLE R5, 0, 0
    SETTABLE R5, 0, 1000
    SETTABLE R5, 1, 2000
    CALL R1, nargs=4, nres=0
    GETGLOBAL R1, "fillmusicbuffer"
    GETTABLE R2, R0, "id"
    LOADCONST R3, "end"
    LOADCONST R4, 0
    CALL R1, nargs=3, nres=0
skip:
    RETURN R0, 1
  .end
  .function onend
    .param "msg"
    .line 20
    LOADCONST R1, 1
    SETGLOBAL R1, "done"
    RETURN R0, 1
  .end
.end
)";

// Makes a 48 kHz stereo Ogg Vorbis file with the ffmpeg tool and its decode (16-bit
// interleaved): at the mix rate the mixer passes the music through unchanged.
std::vector<int16_t> MakeOgg(const std::string& path, double seconds) {
  std::string s = std::to_string(seconds);
  std::string cmd = "ffmpeg -loglevel error -y -f lavfi -i \"sine=frequency=440:duration=" + s +
                    "\" -f lavfi -i \"sine=frequency=550:duration=" + s +
                    "\" -filter_complex amerge -ar 48000 \"" + path +
                    "\" && ffmpeg -loglevel error " + "-y -i \"" + path + "\" -f s16le \"" + path +
                    ".raw\"";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  std::ifstream in(path + ".raw", std::ios::binary);
  return PcmValues(std::string(std::istreambuf_iterator<char>(in), {}));
}

// The silent gaps a capture has where the audio it plays stopped for a while.
struct Gaps {
  size_t values = 0;  // 16-bit values, both sides counted
  int count = 0;
};

// Compares the capture with the audio `heard` from the first sound of each on: the capture holds
// every value of it in order, with silent gaps (counted into *gaps) where the audio was not
// silent, then silence only. Stops at the first difference.
void CompareAcrossGaps(const std::vector<int16_t>& mix, const std::vector<int16_t>& heard,
                       Gaps* gaps) {
  size_t d = FirstSound(heard, 0);
  size_t m = FirstSound(mix, 0);
  while (d < heard.size()) {
    ASSERT_LT(m + 1, mix.size()) << "the capture ends at " << d << " of " << heard.size();
    if (mix[m] == 0 && mix[m + 1] == 0 && (heard[d] != 0 || heard[d + 1] != 0)) {
      size_t next = FirstSound(mix, m);
      gaps->values += next - m;
      gaps->count++;
      m = next;
      continue;
    }
    ASSERT_EQ(mix[m], heard[d]) << "value " << d << " gap " << gaps->values << " at " << m;
    m++;
    d++;
  }
  for (; m < mix.size(); m++) ASSERT_EQ(mix[m], 0) << m;
}

}  // namespace

TEST_F(DiskAudioTest, SamplePlayedThreeTimesLoopsThreeTimesEndsOnceAndMixesExactly) {
  const int kFrames = 4800;              // 100 ms
  setenv("SDL_DISKAUDIODELAY", "1", 1);  // a sample needs no refills: as fast as it goes
  WriteFile("ramp.wav", RampWave(kFrames));
  WriteFile("main.qva", Applet(kThreeTimes));
  PlayerRun r = Run({"main.qva", "-QUIET"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "OnSampleLoop 1 0 1\n"
            "OnSampleLoop 1 100 2\n"
            "OnSampleLoop 1 200 3\n"
            "OnSampleEnd 1 300 3\n"
            "0\n");
  std::vector<int16_t> mix = Mix();
  // The capture starts with the device's silence; from the first frame of the sample on it holds
  // the sample three times, left and right alike, then silence again.
  size_t start = 0;
  while (start < mix.size() && mix[start] == 0) start++;
  ASSERT_LT(start + 2 * 3 * kFrames, mix.size());
  ASSERT_EQ(mix[start], RampValue(0));
  for (int i = 0; i < 3 * kFrames; i++) {
    ASSERT_EQ(mix[start + 2 * i], RampValue(i % kFrames)) << i;
    ASSERT_EQ(mix[start + 2 * i + 1], RampValue(i % kFrames)) << i;
  }
  for (size_t i = start + 2 * 3 * kFrames; i < mix.size(); i++) ASSERT_EQ(mix[i], 0) << i;
}

TEST_F(DiskAudioTest, MusicPausedAndResumedContinuesWhereItWasHeardAndEnds) {
  auto decoded = MakeOgg(Path("tones.ogg"), 0.6);
  WriteFile("main.qva", Applet(kPauseResume));
  PlayerRun r = Run({"main.qva", "-QUIET"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "OnMusicEnd 1\n0\n");
  auto mix = Mix();
  // The music plays until the pause, a silent gap follows, then the rest: together exactly the
  // decoded music.
  Gaps gaps;
  ASSERT_NO_FATAL_FAILURE(CompareAcrossGaps(mix, decoded, &gaps));
  EXPECT_GT(gaps.values, 2u * 48000 / 10);  // about 200 ms of pause
}

TEST_F(DiskAudioTest, StalledMusicRefillsAreHeardAsSilenceNeverAsRepeatedAudio) {
  // A sweep never repeats itself: audio heard twice, or skipped, breaks the comparison.
  std::string wav = Path("sweep.wav");
  std::string cmd = "sox -n -r 48000 -c 2 -b 16 \"" + wav + "\" synth 0.8 sine 300-3000 vol 0.5" +
                    " && sox \"" + wav + "\" -t raw \"" + wav + ".raw\"";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  auto sweep = PcmValues(ReadFile("sweep.wav.raw"));
  WriteFile("main.qva", Applet(PlayToEnd("sweep.wav")));
  struct Case {
    const char* stall;  // after 300 ms heard, the refill thread stalls this long
    bool covered;       // what lies ahead rides it out
  };
  for (Case c : {Case{"300:100", true}, Case{"300:600", false}}) {
    SCOPED_TRACE(c.stall);
    setenv("QV_TEST_REFILL_STALL", c.stall, 1);
    PlayerRun r = Run({"main.qva", "-QUIET"});
    unsetenv("QV_TEST_REFILL_STALL");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "ended\n");
    auto mix = Mix();
    // The capture is the sweep whole, with at most one silent gap, then silence only.
    Gaps gaps;
    ASSERT_NO_FATAL_FAILURE(CompareAcrossGaps(mix, sweep, &gaps));
    if (c.covered) {
      EXPECT_EQ(gaps.values, 0u);
    } else {
      EXPECT_EQ(gaps.count, 1);
      EXPECT_GT(gaps.values, 0u);
      // The gap comes from the stall: it ends once the refill thread is back, which a busy
      // machine may wake late, so the bound leaves room beyond the stall itself.
      EXPECT_LE(gaps.values, 2u * 48000 * 12 / 10);
    }
  }
}

TEST_F(DiskAudioTest, SeekMusicLandsOnTheExactFrame) {
  auto decoded = MakeOgg(Path("tones.ogg"), 0.5);
  WriteFile("main.qva", Applet(PlayToEnd("tones.ogg", kSeekTo250)));
  PlayerRun r = Run({"main.qva", "-QUIET"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "ended\n");
  auto mix = Mix();
  size_t d = FirstSound(decoded, 2 * 12000);  // 250 ms at 48 kHz
  size_t m = FirstSound(mix, 0);
  ASSERT_GE(mix.size() - m, decoded.size() - d);
  for (; d < decoded.size(); d++, m++) ASSERT_EQ(mix[m], decoded[d]) << "value " << d;
  for (; m < mix.size(); m++) ASSERT_EQ(mix[m], 0);
}

TEST_F(DiskAudioTest, FedMusicFillsAShortTableWithSilenceAndEnds) {
  WriteFile("main.qva", Applet(kFed));
  PlayerRun r = Run({"main.qva", "-QUIET"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, 6), "fills ") << r.out;
  auto mix = Mix();
  size_t m = FirstSound(mix, 0);
  ASSERT_LT(m + 8, mix.size());
  const int16_t want[] = {1000, 1000, 2000, 2000};
  for (int i = 0; i < 4; i++) EXPECT_EQ(mix[m + static_cast<size_t>(i)], want[i]) << i;
  for (size_t i = m + 4; i < mix.size(); i++) ASSERT_EQ(mix[i], 0) << i;
}

TEST_F(DiskAudioTest, ModulePositionsAtHeldRowsSubsongPauseStopAndOneNoteOnEachSideMixedExactly) {
  ModWriter w;
  w.order = {0, 1};
  ModSample s;
  for (int i = 0; i < 64; i++) s.data.push_back(static_cast<int8_t>(i * 3 - 90 + (i == 30)));
  s.repeatLength = 64;
  w.Sample(1) = s;
  ModSample t;
  for (int i = 0; i < 48; i++) t.data.push_back(static_cast<int8_t>(100 - i * 5 + (i == 7)));
  t.repeatLength = 48;
  t.volume = 40;
  w.Sample(2) = t;
  w.Cell(0, 0, 1) = {428, 1, 0, 0};
  w.Cell(0, 0, 3) = {320, 2, 0, 0};
  w.Cell(0, 3, 0) = {0, 0, 0xE, 0xEF};
  w.Cell(1, 0, 0) = {0, 0, 0xE, 0xEF};
  WriteFile("song.mod", w.Bytes());
  WriteFile("main.qva", Applet(kModule));
  PlayerRun r = Run({"main.qva", "-QUIET"});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string wrongUsage = std::to_string(ERR_WRONGUSAGE);
  // Each line: the last error, then the song and pattern positions.
  EXPECT_EQ(r.out, "none 0 -1 -1\nheld 0 0 4\nsubsong 0 1 1\npast " + wrongUsage + " 1 1\nseek " +
                       std::to_string(ERR_SEEKFORMAT) +
                       " 1 1\npaused 0 -1 -1\nresumed 0 1 1\nagain 0 0 4\nstopped " + wrongUsage +
                       " -1 -1\n");
  // The note on channel 1 is on the left only, the one on channel 3 on the right only: each frame
  // the mean of two mixing steps of the sample byte at its volume (64 capped at 63), panned 255.
  struct Side {
    const ModSample& sample;
    int period, volume;
  };
  const Side sides[2] = {{s, 428, 63}, {t, 320, 40}};
  auto mix = Mix();
  size_t m = FirstSound(mix, 0);
  ASSERT_LT(m + 2 * 4000, mix.size());
  for (int side = 0; side < 2; side++) {
    const Side& n = sides[side];
    const int64_t step = 1172874197 / (1920 * n.period);
    const int64_t loop = static_cast<int64_t>(n.sample.data.size()) << 14;
    int64_t pos = 0;
    for (int f = 0; f < 4000; f++) {
      int32_t sum = 0;
      for (int k = 0; k < 2; k++) {
        sum += n.sample.data[static_cast<size_t>(pos >> 14)] * n.volume * 255 >> 7;
        pos += step;
        if (pos >= loop) pos -= loop;
      }
      ASSERT_EQ(mix[m + 2 * static_cast<size_t>(f) + side], 256 * sum >> 9)
          << "side " << side << " frame " << f;
    }
  }
}

}  // namespace qv::testing
