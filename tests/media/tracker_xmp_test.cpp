// The replayer beside libxmp (Protracker mode, nearest-neighbour resampling, 48 kHz) on modules of
// the test-side writer, tick by tick: the row playing, speed and tempo, each channel's period and
// volume, and each channel alone rendered, compared by its 5 ms loudness envelope and its pitch.
//
// Where the two are known to differ by design the comparison leaves the value out: our volume cap
// of 63, the tremolo depth, libxmp's periods computed from notes (one unit off now and then), the
// volume a note without sample number takes under other effects than 0, C and F, F00 and the
// stereo layout (each channel is compared alone, on its own side); our vibrato runs a tick ahead.
// The writer's modules are checked by openmpt123 as well.
#include <gtest/gtest.h>
#include <xmp.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fixtures/run_command.h"
#include "fixtures/temp_dir.h"
#include "fixtures/temp_path.h"
#include "media/tracker.h"
#include "mod_writer.h"

namespace qv {
namespace {

struct TickState {
  int position, row, speed, tempo;
  int tick;  // of the row
  int period[kTrackerChannels];
  int volume[kTrackerChannels];
};

// Ticks of libxmp on the module's bytes; with `alone` >= 0 every other channel is muted and the
// rendered mono frames of each tick are appended to *audio.
std::vector<TickState> XmpTicks(const std::vector<uint8_t>& bytes, int ticks, int alone = -1,
                                std::vector<int16_t>* audio = nullptr) {
  std::vector<TickState> out;
  xmp_context ctx = xmp_create_context();
  EXPECT_EQ(xmp_load_module_from_memory(ctx, bytes.data(), static_cast<long>(bytes.size())), 0);
  EXPECT_EQ(xmp_start_player(ctx, kTrackerOutputRate, XMP_FORMAT_MONO), 0);
  xmp_set_player(ctx, XMP_PLAYER_MODE, XMP_MODE_PROTRACKER);
  xmp_set_player(ctx, XMP_PLAYER_INTERP, XMP_INTERP_NEAREST);
  if (alone >= 0) {
    for (int c = 0; c < kTrackerChannels; c++) xmp_channel_mute(ctx, c, c == alone ? 0 : 1);
  }
  for (int t = 0; t < ticks; t++) {
    if (xmp_play_frame(ctx) != 0) break;
    xmp_frame_info fi;
    xmp_get_frame_info(ctx, &fi);
    TickState s{fi.pos, fi.row, fi.speed, fi.bpm, fi.frame, {}, {}};
    for (int c = 0; c < kTrackerChannels; c++) {
      // Periods in 1/4096 units, rounded to whole ones.
      s.period[c] = static_cast<int>((fi.channel_info[c].period + 2048) / 4096);
      s.volume[c] = fi.channel_info[c].volume;
    }
    out.push_back(s);
    if (audio != nullptr) {
      auto* p = static_cast<const int16_t*>(fi.buffer);
      audio->insert(audio->end(), p, p + fi.buffer_size / 2);
    }
  }
  xmp_end_player(ctx);
  xmp_release_module(ctx);
  xmp_free_context(ctx);
  return out;
}

// The same ticks of our replayer: the row playing is the one its last row read took.
std::vector<TickState> OurTicks(const std::vector<uint8_t>& bytes, int ticks) {
  auto m = std::make_unique<qvTrackerModule>();
  EXPECT_EQ(ParseTrackerModule(bytes.data(), bytes.size(), m.get()), 0);
  std::vector<TickState> out;
  int position = 0, row = 0;
  for (int t = 0; t < ticks; t++) {
    if (m->tick == 0 && m->patternDelay == 0) {
      position = m->position;
      row = m->row;
    }
    int tick = m->tick;
    ProcessTrackerTick(m.get());
    TickState s{position, row, m->speed, m->tempo, tick, {}, {}};
    for (int c = 0; c < kTrackerChannels; c++) {
      s.period[c] = m->channels[c].period;
      s.volume[c] = m->channels[c].position < 0 ? 0 : m->channels[c].volume;
    }
    out.push_back(s);
  }
  return out;
}

// Our rendering of the module with only channel `alone` sounding (the others keep their effects
// but lose their notes), the channel's side of each frame.
std::vector<int16_t> OurAlone(const std::vector<uint8_t>& bytes, int frames, int alone) {
  auto m = std::make_unique<qvTrackerModule>();
  EXPECT_EQ(ParseTrackerModule(bytes.data(), bytes.size(), m.get()), 0);
  for (size_t i = 0; i < m->cells.size(); i++) {
    if (static_cast<int>(i % kTrackerChannels) != alone)
      m->cells[i].period = m->cells[i].sample = 0;
  }
  std::vector<int16_t> stereo(static_cast<size_t>(frames) * 2);
  MixTrackerAudio(m.get(), stereo.data(), frames);
  int side = alone == 1 || alone == 2 ? 0 : 1;
  std::vector<int16_t> out(static_cast<size_t>(frames));
  for (int f = 0; f < frames; f++) out[static_cast<size_t>(f)] = stereo[2 * f + side];
  return out;
}

// Root mean square of each 5 ms window.
std::vector<double> Envelope(const std::vector<int16_t>& v, size_t frames) {
  const size_t window = kTrackerOutputRate / 200;
  std::vector<double> out;
  for (size_t at = 0; at + window <= frames; at += window) {
    double sum = 0;
    for (size_t i = at; i < at + window; i++) sum += double(v[i]) * v[i];
    out.push_back(std::sqrt(sum / window));
  }
  return out;
}

double Correlation(const std::vector<double>& a, const std::vector<double>& b) {
  size_t n = std::min(a.size(), b.size());
  double ma = 0, mb = 0;
  for (size_t i = 0; i < n; i++) ma += a[i], mb += b[i];
  ma /= n, mb /= n;
  double sab = 0, saa = 0, sbb = 0;
  for (size_t i = 0; i < n; i++) {
    sab += (a[i] - ma) * (b[i] - mb);
    saa += (a[i] - ma) * (a[i] - ma);
    sbb += (b[i] - mb) * (b[i] - mb);
  }
  // A steady envelope has no shape to correlate: two steady ones agree.
  auto steady = [n](double s, double mean) { return std::sqrt(s / n) <= 0.02 * mean; };
  if (steady(saa, ma) && steady(sbb, mb)) return 1.0;
  if (saa == 0 || sbb == 0) return 0.0;
  return sab / std::sqrt(saa * sbb);
}

// Upward zero crossings in the frames.
int Crossings(const std::vector<int16_t>& v, size_t frames) {
  int n = 0;
  for (size_t i = 1; i < frames; i++) n += v[i - 1] <= 0 && v[i] > 0;
  return n;
}

// A looping sample of `bytes` bytes: a square wave of 16-byte cycles.
ModSample Square(int bytes, int volume = 64, int finetune = 0) {
  ModSample s;
  for (int i = 0; i < bytes; i++) s.data.push_back(static_cast<int8_t>(i % 16 < 8 ? 90 : -90));
  s.repeatLength = bytes;
  s.volume = volume;
  s.finetune = finetune;
  return s;
}

struct Case {
  const char* name;
  std::function<void(ModWriter&)> build;
  int ticks;
  bool rows;     // position, row, speed and tempo every tick
  bool periods;  // every channel's period every tick
  bool volumes;  // every sounding channel's volume every tick
  int lag = 0;   // our period at tick t is libxmp's at tick t + lag
};

// One note on channel `ch` of pattern 0, row `row`.
void Note(ModWriter& w, int row, int ch, int period, int sample, int effect = 0, int param = 0) {
  w.Cell(0, row, ch) = {period, sample, effect, param};
}

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"speed and tempo (F)",
       [](ModWriter& w) {
         Note(w, 0, 0, 428, 1, 0xF, 3);
         Note(w, 2, 1, 0, 0, 0xF, 200);
         Note(w, 5, 2, 0, 0, 0xF, 9);
         Note(w, 9, 3, 0, 0, 0xF, 32);
       },
       140, true, true, true},
      {"position jump and pattern break (B, D)",
       [](ModWriter& w) {
         w.order = {0, 1, 2};
         w.Cell(0, 1, 0) = {428, 1, 0xD, 0x12};  // to row 12 of position 1
         w.Cell(1, 13, 1) = {0, 0, 0xB, 2};
         w.Cell(2, 0, 2) = {0, 0, 0xD, 0x70};  // 70: out of range, row 0
         w.Cell(2, 1, 3) = {0, 0, 0xB, 1};
         w.Cell(2, 1, 2) = {0, 0, 0xD, 0x05};
       },
       120, true, false, false},
      {"pattern loop (E6)",
       [](ModWriter& w) {
         Note(w, 1, 0, 428, 1, 0xE, 0x60);
         Note(w, 3, 0, 0, 0, 0xE, 0x62);
         Note(w, 4, 1, 320, 1, 0xE, 0x60);
         Note(w, 5, 1, 0, 0, 0xE, 0x61);
       },
       120, true, true, true},
      {"pattern delay (EE)",
       [](ModWriter& w) {
         Note(w, 1, 0, 428, 1, 0xE, 0xE3);
         Note(w, 2, 1, 0, 0, 0xE, 0xE1);
         Note(w, 3, 2, 320, 1, 0xA, 0x02);
       },
       120, true, true, true},
      {"slides and fine slides (1, 2, E1, E2)",
       [](ModWriter& w) {
         w.Sample(1) = Square(512);
         Note(w, 0, 0, 428, 1, 1, 6);
         Note(w, 2, 0, 0, 0, 1, 0x60);  // to the bottom clamp
         Note(w, 4, 0, 0, 0, 2, 0x40);
         Note(w, 0, 1, 300, 1, 2, 3);
         Note(w, 3, 1, 0, 0, 0xE, 0x1F);
         Note(w, 4, 1, 0, 0, 0xE, 0x24);
         Note(w, 5, 1, 0, 0, 2, 0xFF);  // to the top clamp
       },
       48, false, true, true},
      {"tone portamento and glissando (3, 5, E3)",
       [](ModWriter& w) {
         Note(w, 0, 0, 428, 1);
         Note(w, 1, 0, 214, 0, 3, 9);
         Note(w, 2, 0, 0, 0, 3, 0);
         Note(w, 4, 0, 320, 0, 5, 0x01);
         Note(w, 0, 1, 856, 1, 0xE, 0x31);
         Note(w, 1, 1, 400, 0, 3, 12);
         Note(w, 2, 1, 0, 0, 3, 0);
       },
       48, false, true, true},
      {"arpeggio (0)",
       [](ModWriter& w) {
         Note(w, 0, 0, 428, 1, 0, 0x47);
         Note(w, 1, 0, 0, 0, 0, 0x37);
         Note(w, 0, 2, 254, 1, 0, 0xC0);
       },
       24, false, true, true},
      // Our vibrato moves its position before it reads the wave, libxmp after: a tick ahead. The
      // ramp waveform runs the other way in libxmp and is left out.
      {"vibrato, sine and square (4, 6, E4)",
       [](ModWriter& w) {
         Note(w, 0, 0, 428, 1, 4, 0x48);
         Note(w, 1, 0, 0, 0, 4, 0);
         Note(w, 2, 0, 0, 0, 6, 0x01);
         Note(w, 0, 2, 0, 0, 0xE, 0x42);
         Note(w, 1, 2, 254, 1, 4, 0x6A);
         Note(w, 2, 2, 0, 0, 4, 0);
       },
       17, false, true, false, 1},
      {"volume: set, slides, fine slides, cut (C, A, EA, EB, EC)",
       [](ModWriter& w) {
         w.Sample(1) = Square(512, 40);
         Note(w, 0, 0, 428, 1, 0xC, 20);
         Note(w, 1, 0, 0, 0, 0xA, 0x30);
         Note(w, 2, 0, 0, 0, 0xA, 0x05);
         Note(w, 3, 0, 0, 0, 0xE, 0xA7);
         Note(w, 4, 0, 0, 0, 0xE, 0xB3);
         Note(w, 5, 0, 0, 0, 0xE, 0xC2);
         Note(w, 0, 1, 320, 1, 0xA, 0x0F);
         Note(w, 2, 1, 320, 1, 0xC, 60);
         Note(w, 3, 1, 0, 0, 0xE, 0xBF);
       },
       42, false, true, true},
      {"retrigger and note delay (E9, ED)",
       [](ModWriter& w) {
         Note(w, 0, 0, 428, 1, 0xE, 0x92);
         Note(w, 1, 0, 0, 0, 0xE, 0x93);
         Note(w, 0, 1, 320, 1, 0xE, 0xD3);
         Note(w, 1, 1, 254, 1, 0xE, 0xD9);  // past the row: never
       },
       24, false, true, true},
      {"finetunes and E5",
       [](ModWriter& w) {
         w.Sample(1) = Square(512, 64, 5);
         w.Sample(2) = Square(512, 64, 11);
         Note(w, 0, 0, 428, 1);
         Note(w, 0, 1, 428, 2);
         Note(w, 1, 2, 428, 1, 0xE, 0x58);
         Note(w, 1, 3, 320, 2, 0xE, 0x57);
       },
       18, false, true, true},
  };
  return cases;
}

// Fills the samples the case did not set with a looping square wave.
std::vector<uint8_t> Build(const Case& c) {
  ModWriter w;
  w.Sample(1) = Square(2048, 48);
  w.Sample(2) = Square(2048, 32);
  c.build(w);
  return w.Bytes();
}

TEST(TrackerBesideLibxmp, TickStateMatches) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = Build(c);
    auto theirs = XmpTicks(bytes, c.ticks);
    auto ours = OurTicks(bytes, c.ticks);
    ASSERT_EQ(theirs.size(), ours.size());
    for (size_t t = 0; t + c.lag < ours.size(); t++) {
      // A lag holds inside a row; on a row's first tick both take the note's period.
      size_t u = ours[t].tick == 0 ? t : t + c.lag;
      if (theirs[u].tick == 0 && u != t) continue;
      const TickState &a = ours[t], &b = theirs[u];
      std::string at = "tick " + std::to_string(t);
      if (c.rows) {
        EXPECT_EQ(a.position, b.position) << at;
        EXPECT_EQ(a.row, b.row) << at;
        EXPECT_EQ(a.speed, b.speed) << at;
        EXPECT_EQ(a.tempo, b.tempo) << at;
      }
      for (int ch = 0; ch < kTrackerChannels; ch++) {
        std::string where = at + " channel " + std::to_string(ch);
        if (c.periods && b.period[ch] != 0) {
          EXPECT_NEAR(a.period[ch], b.period[ch], 1) << where;
        }
        if (c.volumes && b.period[ch] != 0) {
          EXPECT_EQ(a.volume[ch], std::min(b.volume[ch], 63)) << where;
        }
      }
    }
  }
}

TEST(TrackerBesideLibxmp, ChannelsAloneHaveTheSameEnvelopeAndPitch) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = Build(c);
    for (int ch = 0; ch < kTrackerChannels; ch++) {
      std::vector<int16_t> theirs;
      XmpTicks(bytes, c.ticks, ch, &theirs);
      std::vector<int16_t> ours = OurAlone(bytes, static_cast<int>(theirs.size()), ch);
      size_t frames = std::min(theirs.size(), ours.size());
      auto a = Envelope(ours, frames), b = Envelope(theirs, frames);
      EXPECT_GE(Correlation(a, b), 0.98) << "channel " << ch;
      int ca = Crossings(ours, frames), cb = Crossings(theirs, frames);
      EXPECT_NEAR(ca, cb, 2 + cb * (c.lag == 0 ? 1 : 3) / 100) << "channel " << ch;
    }
  }
}

// The writer's modules as another reader sees them: openmpt123 --info names the format, the
// channels, the orders and the patterns.
TEST(TrackerBesideLibxmp, OpenmptReadsTheWritersModules) {
  std::string path = qvtest::TempPath("tracker_xmp_case.mod");
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    ModWriter w;
    c.build(w);
    std::vector<uint8_t> bytes = w.Bytes();
    ASSERT_TRUE(qvtest::WriteBytes(path, w.Bytes()));
    int status = 0;
    std::string out = qvtest::RunCommand("openmpt123 --info '" + path + "' 2>&1", &status);
    EXPECT_EQ(status, 0) << out;
    int patterns = 0;
    for (int o : w.order) patterns = std::max(patterns, o + 1);
    EXPECT_NE(out.find("Type.......: mod (ProTracker MOD (M.K.))"), std::string::npos) << out;
    EXPECT_NE(out.find("Channels...: 4\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Orders.....: " + std::to_string(w.order.size()) + "\n"), std::string::npos)
        << out;
    EXPECT_NE(out.find("Patterns...: " + std::to_string(patterns) + "\n"), std::string::npos)
        << out;
  }
  std::remove(path.c_str());
}

}  // namespace
}  // namespace qv
