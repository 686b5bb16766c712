// Tracker effects through the real player with SDL's disk audio driver: one small module per
// effect family is played for a while and the captured mix is read back. Every note sits on
// channel 0 (the right side) at volume 64, which the replayer caps at 63, so that each frame is
// the replayer's arithmetic on one sample byte: rows are told apart by the constant value of the
// sample each one starts, pitches are measured from a square wave's cycle, volumes read from a
// constant sample tick by tick.
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "tests/media/mod_writer.h"
#include "tests/player/disk_audio_fixture.h"

namespace qv::testing {
namespace {

constexpr int kTickFrames = 960;  // 96000 x 60 / (125 x 24) steps, two a frame
constexpr int kRowFrames = 6 * kTickFrames;

// What the mixer makes of a byte on channel 0 at volume 63 (two equal steps a frame).
int Heard(int byte, int volume = 63) { return byte * volume * 255 >> 7; }

// Sample `k` (1-30) is a loop of the constant value 4k; its rows are told by that value.
ModSample Constant(int k) {
  ModSample s;
  s.data.assign(16, static_cast<int8_t>(4 * k));
  s.repeatLength = 16;
  return s;
}

// A square wave of 16-byte cycles, looping, with the finetune given.
ModSample Square(int finetune = 0) {
  ModSample s;
  for (int i = 0; i < 1024; i++) s.data.push_back(static_cast<int8_t>(i % 16 < 8 ? 80 : -80));
  s.repeatLength = 1024;
  s.finetune = finetune;
  return s;
}

// The mixing step of a period (1/16384 sample per step).
double Step(int period) { return static_cast<double>(1172874197 / (1920 * period)); }

struct Segment {
  int label;  // the sample number whose value sounds; 0 silence
  int start;  // frame
};

// Runs of equal right-side values from the first sound on, as (sample number, start frame).
std::vector<Segment> Segments(const std::vector<int16_t>& mix) {
  size_t first = 1;
  while (first < mix.size() && mix[first] == 0) first += 2;
  std::vector<Segment> out;
  for (size_t i = first; i < mix.size(); i += 2) {
    int v = mix[i];
    int label = -1;
    for (int k = 0; k <= 31; k++) {
      if (v == Heard(4 * k)) label = k;
    }
    int frame = static_cast<int>((i - first) / 2);
    if (out.empty() || out.back().label != label) out.push_back({label, frame});
  }
  return out;
}

// Cycles of the square wave between two frames, by its rising edges: frames per cycle.
double CycleFrames(const std::vector<int16_t>& mix, size_t first, int from, int to) {
  int firstEdge = -1, lastEdge = -1, edges = 0;
  for (int f = from + 1; f < to; f++) {
    size_t i = first + 2 * static_cast<size_t>(f);
    if (i >= mix.size()) break;
    if (mix[i - 2] <= 0 && mix[i] > 0) {
      if (firstEdge < 0) firstEdge = f;
      lastEdge = f;
      edges++;
    }
  }
  return edges < 2 ? 0.0 : double(lastEdge - firstEdge) / (edges - 1);
}

// Plays song.mod for `ticks50` fiftieths of a second, then stops it.
std::string PlayFor(int ticks50) {
  return R"(
.function main
  .line 1
  GETGLOBAL R0, "openmusic"
  LOADCONST R1, 1
  LOADCONST R2, "song.mod"
  CALL R0, nargs=2, nres=0
  GETGLOBAL R0, "playmusic"
  LOADCONST R1, 1
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "wait"
  LOADCONST R1, )" +
         std::to_string(ticks50) + R"(
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "stopmusic"
  CALL R0, nargs=0, nres=0
  RETURN R0, 1
.end
)";
}

// A row started: the sample's value from this frame on (up to `slack` frames later).
struct RowStart {
  int label, frame, slack = 0;
};

constexpr int Ticks(int n) { return n * kTickFrames; }

struct RowCase {
  const char* name;
  std::function<void(ModWriter&)> build;
  std::vector<RowStart> starts;  // in order, from the module's first frame
};

// Rows played in order and on time: the samples' values mark the rows.
const RowCase kRowCases[] = {
    {"F: speed 3, then tempo 250 (ticks of half the length)",
     [](ModWriter& w) {
       w.Cell(0, 0, 0) = {428, 1, 0xF, 3};
       w.Cell(0, 1, 0) = {428, 2, 0xF, 250};
       w.Cell(0, 2, 0) = {428, 3, 0, 0};
       w.Cell(0, 3, 0) = {428, 4, 0, 0};
     },
     // Ticks of 960 x 125 / 250 frames from row 1 on.
     {{1, Ticks(0)}, {2, Ticks(3)}, {3, Ticks(3) + 3 * 480}, {4, Ticks(3) + 6 * 480}}},
    {"B: a jump forward, then back to the start (the song loops)",
     [](ModWriter& w) {
       w.order = {0, 1, 0};
       w.Cell(0, 0, 0) = {428, 1, 0, 0};
       w.Cell(0, 1, 0) = {428, 2, 0xB, 1};
       w.Cell(1, 0, 0) = {428, 3, 0, 0};
       w.Cell(1, 1, 0) = {428, 4, 0xB, 0};
     },
     {{1, Ticks(0)},
      {2, Ticks(6)},
      {3, Ticks(12)},
      {4, Ticks(18)},
      {1, Ticks(24)},
      {2, Ticks(30)}}},
    {"D: a break to row 32, and one of 70 to row 0 past the song's end",
     [](ModWriter& w) {
       w.order = {0, 1};
       w.Cell(0, 0, 0) = {428, 1, 0xD, 0x32};
       w.Cell(1, 32, 0) = {428, 2, 0, 0};
       w.Cell(1, 33, 0) = {428, 3, 0xD, 0x70};
     },
     {{1, Ticks(0)}, {2, Ticks(6)}, {3, Ticks(12)}, {1, Ticks(18)}}},
    {"E6: rows 0 and 1 played three times",
     [](ModWriter& w) {
       w.Cell(0, 0, 0) = {428, 1, 0xE, 0x60};
       w.Cell(0, 1, 0) = {428, 2, 0xE, 0x62};
       w.Cell(0, 2, 0) = {428, 3, 0, 0};
     },
     {{1, Ticks(0)},
      {2, Ticks(6)},
      {1, Ticks(12)},
      {2, Ticks(18)},
      {1, Ticks(24)},
      {2, Ticks(30)},
      {3, Ticks(36)}}},
    {"EE: row 0 held three times without new notes",
     [](ModWriter& w) {
       w.Cell(0, 0, 0) = {428, 1, 0xE, 0xE2};
       w.Cell(0, 1, 0) = {428, 2, 0, 0};
     },
     {{1, Ticks(0)}, {2, Ticks(18)}}},
    {"ED: a note from tick 3; one delayed past the row never starts",
     [](ModWriter& w) {
       w.Cell(0, 0, 0) = {428, 1, 0, 0};
       w.Cell(0, 1, 0) = {428, 2, 0xE, 0xD3};
       w.Cell(0, 2, 0) = {428, 3, 0xE, 0xD7};
       w.Cell(0, 3, 0) = {428, 4, 0, 0};
     },
     {{1, Ticks(0)}, {2, Ticks(9)}, {4, Ticks(18)}}},
    {"EC: cut on tick 2",
     [](ModWriter& w) {
       w.Cell(0, 0, 0) = {428, 1, 0xE, 0xC2};
       w.Cell(0, 1, 0) = {428, 2, 0, 0};
     },
     {{1, Ticks(0)}, {0, Ticks(2)}, {2, Ticks(6)}}},
    {"E9: retriggered on ticks 0, 2 and 4",
     [](ModWriter& w) {
       // Sample 5 starts with 8 bytes of its own value, then loops over sample 6's value.
       ModSample s = Constant(6);
       for (int i = 0; i < 8; i++) s.data.insert(s.data.begin(), 4 * 5);
       s.repeatStart = 8;
       w.Sample(5) = s;
       w.Cell(0, 0, 0) = {428, 5, 0xE, 0x92};
       w.Cell(0, 1, 0) = {428, 1, 0, 0};
     },
     // 8 bytes take 8 x 16384 / (2 x 1427) = 46 frames.
     {{5, Ticks(0)},
      {6, Ticks(0), 47},
      {5, Ticks(2)},
      {6, Ticks(2), 47},
      {5, Ticks(4)},
      {6, Ticks(4), 47},
      {1, Ticks(6)}}},
    {"the song's end: row 63 of the only position goes back to row 0",
     [](ModWriter& w) {
       w.Cell(0, 0, 0) = {428, 1, 0xF, 1};
       w.Cell(0, 63, 0) = {428, 2, 0, 0};
     },
     {{1, Ticks(0)}, {2, Ticks(63)}, {1, Ticks(64)}}},
    {"a sample number without a note swaps at the loop's wrap",
     [](ModWriter& w) {
       w.Cell(0, 0, 0) = {428, 1, 0, 0};
       w.Cell(0, 1, 0) = {0, 2, 0, 0};
     },
     // The 16-byte loop takes 92 frames.
     {{1, Ticks(0)}, {2, Ticks(6), 92}}},
};

class SoundEffectsTest : public DiskAudioTest {
 protected:
  // The module played for `ms` milliseconds: the captured interleaved mix.
  std::vector<int16_t> Play(const ModWriter& w, int ms) {
    WriteFile("song.mod", w.Bytes());
    WriteFile("main.qva", Applet(PlayFor(ms / 20)));
    PlayerRun r = Run({"main.qva", "-QUIET"});
    EXPECT_EQ(r.status, 0) << r.err;
    return Mix();
  }
};

class RowsTest : public SoundEffectsTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(RowsTest, RowsStartInOrderAndOnTime) {
  const RowCase& c = kRowCases[GetParam()];
  SCOPED_TRACE(c.name);
  ModWriter w;
  for (int k = 1; k <= 30; k++) w.Sample(k) = Constant(k);
  c.build(w);
  int last = c.starts.back().frame;
  std::vector<Segment> got = Segments(Play(w, (last + Ticks(12)) / 48 + 300));
  size_t at = 0;
  for (const RowStart& s : c.starts) {
    while (at < got.size() && got[at].label != s.label) at++;
    ASSERT_LT(at, got.size()) << "sample " << s.label << " at frame " << s.frame << " never came";
    EXPECT_GE(got[at].start, s.frame) << "sample " << s.label;
    EXPECT_LE(got[at].start, s.frame + s.slack) << "sample " << s.label;
    at++;
  }
}

INSTANTIATE_TEST_SUITE_P(Effects, RowsTest,
                         ::testing::Range<size_t>(0, sizeof kRowCases / sizeof kRowCases[0]));

TEST_F(SoundEffectsTest, PitchesOfFinetunesFineSlidesClampsAndPortamento) {
  // Row by row on channel 0: the period each row holds from its second tick on.
  struct Row {
    ModCell cell;
    int period;
    const char* what;
  };
  const Row rows[] = {
      {{428, 1, 0, 0}, 428, "finetune 0"},
      {{428, 2, 0, 0}, 413, "finetune 5 from the sample"},
      {{428, 3, 0, 0}, 437, "finetune -3 from the sample"},
      {{428, 1, 0xE, 0x55}, 413, "finetune 5 by E5"},
      {{0, 0, 0xE, 0x15}, 408, "fine slide up 5"},
      {{0, 0, 0xE, 0x2F}, 423, "fine slide down 15"},
      {{120, 1, 0xE, 0x1F}, 113, "fine slide up clamped at 113"},
      {{856, 1, 0xE, 0x2F}, 856, "fine slide down clamped at 856"},
      {{428, 1, 0, 0}, 428, "a note"},
      {{214, 0, 3, 0xFF}, 214, "portamento reaching its target at once"},
      {{856, 0, 3, 2}, 214 + 2 * 5, "portamento of 2 a tick (the row's end)"},
      {{0, 0, 0, 0}, 214 + 2 * 5, "held"},
  };
  ModWriter w;
  w.Sample(1) = Square();
  w.Sample(2) = Square(5);
  w.Sample(3) = Square(13);
  for (int r = 0; r < 12; r++) w.Cell(0, r, 0) = rows[r].cell;
  std::vector<int16_t> mix = Play(w, 12 * kRowFrames / 48 + 300);
  size_t first = 1;
  while (first < mix.size() && mix[first] == 0) first += 2;
  for (int r = 0; r < 12; r++) {
    // From the second tick (slides and portamento have moved) to the row's end.
    int from = r * kRowFrames + kTickFrames, to = (r + 1) * kRowFrames;
    if (r == 10) from = to - kTickFrames;  // the last tick only
    double cycle = CycleFrames(mix, first, from, to);
    ASSERT_GT(cycle, 0) << rows[r].what;
    // 16 bytes a cycle at 2 x step / 16384 bytes a frame.
    double want = 16 * 16384 / (2 * Step(rows[r].period));
    EXPECT_NEAR(cycle / want, 1.0, 0.002) << rows[r].what;
  }
}

TEST_F(SoundEffectsTest, VolumesTickByTick) {
  // Row by row on channel 0 (a constant sample of 100): the volume of each of its six ticks.
  struct Row {
    ModCell cell;
    int volumes[6];
    const char* what;
  };
  const Row rows[] = {
      {{428, 1, 0xC, 32}, {32, 32, 32, 32, 32, 32}, "C: set"},
      {{0, 0, 0xA, 0x40}, {32, 36, 40, 44, 48, 52}, "A: up 4 a tick, not on the first"},
      {{0, 0, 0xA, 0x0F}, {52, 37, 22, 7, 0, 0}, "A: down 15 a tick, floored at 0"},
      {{0, 0, 0xE, 0xA9}, {9, 9, 9, 9, 9, 9}, "EA: up 9 once"},
      {{0, 0, 0xE, 0xB3}, {6, 6, 6, 6, 6, 6}, "EB: down 3 once"},
      {{0, 0, 0xC, 70}, {63, 63, 63, 63, 63, 63}, "C: capped at 63"},
      {{0, 0, 0xC, 32}, {32, 32, 32, 32, 32, 32}, "C: set again"},
      // Depth 2 x 8, speed 4, sine: 32 + 16 x sine(4t) / 256.
      {{0, 0, 7, 0x48}, {32, 38, 43, 46, 47, 46}, "7: tremolo"},
  };
  ModWriter w;
  ModSample s;
  s.data.assign(16, 100);
  s.repeatLength = 16;
  w.Sample(1) = s;
  for (int r = 0; r < 8; r++) w.Cell(0, r, 0) = rows[r].cell;
  std::vector<int16_t> mix = Play(w, 8 * kRowFrames / 48 + 300);
  size_t first = 1;
  while (first < mix.size() && mix[first] == 0) first += 2;
  for (int r = 0; r < 8; r++) {
    for (int t = 0; t < 6; t++) {
      size_t at = first + 2 * static_cast<size_t>(r * kRowFrames + t * kTickFrames + 480);
      ASSERT_LT(at, mix.size());
      EXPECT_EQ(mix[at], Heard(100, rows[r].volumes[t])) << rows[r].what << ", tick " << t;
    }
  }
}

}  // namespace
}  // namespace qv::testing
