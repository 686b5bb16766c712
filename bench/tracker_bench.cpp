// The tracker replayer beside libxmp (nearest-neighbour, 48 kHz, its four-channel tracker mode) on
// the same busy module (every channel a note and an effect on every row): 10 minutes of audio
// rendered offline by each (cmake --preset bench). The counter "x_realtime" is the minutes of audio
// per minute of rendering.
#include <benchmark/benchmark.h>
#include <xmp.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "media/tracker.h"
#include "tests/media/mod_writer.h"

namespace {

constexpr int kSeconds = 600;

std::vector<uint8_t> BusyModule() {
  static const int kPeriods[] = {856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453,
                                 428, 404, 381, 360, 339, 320, 302, 285, 269, 254, 240, 226};
  // Pitch and volume effects that keep the song's flow: arpeggio, slides, portamento, vibrato,
  // tremolo, volume slides, offsets, volume, fine slides, retrigger.
  static const int kEffects[][2] = {{0, 0x37}, {1, 3},      {2, 3},      {3, 8},      {4, 0x46},
                                    {5, 0x21}, {6, 0x12},   {7, 0x46},   {9, 1},      {0xA, 0x02},
                                    {0xC, 48}, {0xE, 0x12}, {0xE, 0x22}, {0xE, 0x93}, {0xA, 0x20}};
  ModWriter w;
  for (int n = 1; n <= 4; n++) {
    ModSample& s = w.Sample(n);
    for (int i = 0; i < 2048; i++) {
      s.data.push_back(static_cast<int8_t>((i * (n + 2) * 7) % 200 - 100));
    }
    s.repeatStart = 512;
    s.repeatLength = 1536;
    s.volume = 40 + n * 5;
  }
  w.order = {0, 1, 2, 3};
  int k = 0;
  for (int p = 0; p < 4; p++) {
    for (int r = 0; r < 64; r++) {
      for (int c = 0; c < 4; c++, k++) {
        const int* e = kEffects[k % 15];
        w.Cell(p, r, c) = {kPeriods[(k * 7) % 24], c + 1, e[0], e[1]};
      }
    }
  }
  return w.Bytes();
}

void Replayer(benchmark::State& state) {
  std::vector<uint8_t> bytes = BusyModule();
  std::vector<int16_t> out(2 * 4800);
  for (auto _ : state) {
    auto m = std::make_unique<qv::qvTrackerModule>();
    qv::ParseTrackerModule(bytes.data(), bytes.size(), m.get());
    for (int i = 0; i < kSeconds * 10; i++) qv::MixTrackerAudio(m.get(), out.data(), 4800);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["x_realtime"] = benchmark::Counter(
      kSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void Libxmp(benchmark::State& state) {
  std::vector<uint8_t> bytes = BusyModule();
  std::vector<int16_t> out(2 * 4800);
  for (auto _ : state) {
    xmp_context ctx = xmp_create_context();
    if (xmp_load_module_from_memory(ctx, bytes.data(), static_cast<long>(bytes.size())) != 0) {
      state.SkipWithError("libxmp refused the module");
      xmp_free_context(ctx);
      break;
    }
    xmp_start_player(ctx, 48000, 0);
    xmp_set_player(ctx, XMP_PLAYER_INTERP, XMP_INTERP_NEAREST);
    xmp_set_player(ctx, XMP_PLAYER_MODE, XMP_MODE_PROTRACKER);
    for (int i = 0; i < kSeconds * 10; i++) {
      xmp_play_buffer(ctx, out.data(), static_cast<int>(out.size() * 2), 0);
    }
    benchmark::DoNotOptimize(out.data());
    xmp_end_player(ctx);
    xmp_release_module(ctx);
    xmp_free_context(ctx);
  }
  state.counters["x_realtime"] = benchmark::Counter(
      kSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(Replayer)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Libxmp)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
