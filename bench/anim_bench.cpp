// Anim sources and the Motion-JPEG AVI writer beside ffmpeg, one thread each (cmake --preset
// bench): 640 x 480 Motion-JPEG frames read through the AVI anim source beside `ffmpeg -i a.avi -f
// null -` on the same file, and frames written at quality 90 beside `ffmpeg -c:v mjpeg` on the same
// raw frames; 320 x 256 IFF ANIM deltas (32 colours) beside ffmpeg's iff decoder, the anim made by
// the fixtures' op-5 encoder. The ffmpeg runs are timed whole: they loop over the input ten times
// so that their start-up (about half a second on a busy machine) weighs little in the frames a
// second.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench/picture_bench.h"
#include "media/anim_source.h"
#include "media/avi_writer.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kFrames = 100;

const qv::bench::BenchFolder& Folder() {
  static const qv::bench::BenchFolder folder("qvanimbench");
  return folder;
}

// A moving test picture, as ffmpeg's test source draws it.
const std::string& MjpegFile() {
  static std::string name = [] {
    std::string n = Folder().File("frames.avi");
    std::string command = "ffmpeg -v error -y -f lavfi -i testsrc=size=640x480:rate=25 -frames:v " +
                          std::to_string(kFrames) + " -c:v mjpeg -q:v 3 -pix_fmt yuvj420p " + n;
    if (std::system(command.c_str()) != 0) std::abort();
    return n;
  }();
  return name;
}

// The same pictures as raw 0x00RRGGBB words (bgra in memory, top byte 0), for both writers.
const std::vector<uint32_t>& RawFrames() {
  static std::vector<uint32_t> frames = [] {
    std::string n = Folder().File("frames.bgra");
    std::string command = "ffmpeg -v error -y -i " + MjpegFile() + " -f rawvideo -pix_fmt bgr0 " +
                          n;
    if (std::system(command.c_str()) != 0) std::abort();
    std::ifstream in(n, std::ios::binary);
    std::vector<uint32_t> words(size_t(kWidth) * kHeight * kFrames);
    in.read(reinterpret_cast<char*>(words.data()), std::streamsize(words.size() * 4));
    return words;
  }();
  return frames;
}

constexpr int kFfmpegLoops = 10;

constexpr int kIffFrames = 30;

const std::string& IffFile() {
  static std::string name = [] {
    std::string n = Folder().File("deltas.anim");
    std::string command =
        "/usr/bin/python3 -c \"import sys, random; sys.path.insert(0, '" QV_FIXTURES
        "'); import make_anim_fixtures as m; rng = random.Random(1); "
        "pictures = m.moving_pictures(320, 256, " +
        std::to_string(kIffFrames) +
        ", 32, rng); palette = [rng.randrange(1 << 24) for _ in range(32)]; "
        "open('" +
        n + "', 'wb').write(m.make_anim(320, 256, 5, palette, pictures, [2] * " +
        std::to_string(kIffFrames) + "))\"";
    if (std::system(command.c_str()) != 0) std::abort();
    return n;
  }();
  return name;
}

void TimeCommand(benchmark::State& state, const std::string& command, int frames = kFrames) {
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("ffmpeg failed");
      break;
    }
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  state.SetItemsProcessed(state.iterations() * frames * kFfmpegLoops);
}

void TimeSource(benchmark::State& state, const std::string& name, int frames) {
  for (auto _ : state) {
    qv::qvAnimSource* source = nullptr;
    if (qv::OpenAnimSource(name.c_str(), &source) != 0) {
      state.SkipWithError("OpenAnimSource failed");
      break;
    }
    for (int32_t n = 0; n < source->frames; ++n) {
      uint32_t* frame = qv::LoadAnimSourceFrame(source, n);
      benchmark::DoNotOptimize(frame);
      qv::FreeAnimSourceFrame(source, frame);
    }
    qv::CloseAnimSource(source);
  }
  state.SetItemsProcessed(state.iterations() * frames);
}

void BM_AviSourceFrames(benchmark::State& state) { TimeSource(state, MjpegFile(), kFrames); }
BENCHMARK(BM_AviSourceFrames)->Unit(benchmark::kMillisecond);

void BM_FfmpegDecodeAvi(benchmark::State& state) {
  TimeCommand(state, "ffmpeg -v error -threads 1 -stream_loop " + std::to_string(kFfmpegLoops - 1) +
                         " -i " + MjpegFile() + " -f null -");
}
BENCHMARK(BM_FfmpegDecodeAvi)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_AviWriterQuality90(benchmark::State& state) {
  const std::vector<uint32_t>& frames = RawFrames();
  const std::string out = Folder().File("written.avi");
  for (auto _ : state) {
    qv::qvAviWriter* w = nullptr;
    if (qv::OpenAVIWriter(out.c_str(), 25, kWidth, kHeight, 90, "bench", &w) != 0) {
      state.SkipWithError("OpenAVIWriter failed");
      break;
    }
    for (int n = 0; n < kFrames; ++n) {
      const uint32_t* picture = frames.data() + size_t(n) * kWidth * kHeight;
      if (qv::WriteAVIFrame(w, picture, kWidth, kWidth, kHeight) != 0) std::abort();
    }
    if (qv::FinishAVIFile(w) != 0) std::abort();
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_AviWriterQuality90)->Unit(benchmark::kMillisecond);

void BM_FfmpegMjpegEncode(benchmark::State& state) {
  RawFrames();
  TimeCommand(
      state,
      "ffmpeg -v error -y -threads 1 -f rawvideo -pix_fmt bgr0 -s 640x480 -r 25 -stream_loop " +
          std::to_string(kFfmpegLoops - 1) + " -i " + Folder().File("frames.bgra") +
          " -c:v mjpeg -q:v 3 -threads 1 " + Folder().File("ffmpeg.avi"));
}
BENCHMARK(BM_FfmpegMjpegEncode)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_IffSourceFrames(benchmark::State& state) { TimeSource(state, IffFile(), kIffFrames); }
BENCHMARK(BM_IffSourceFrames)->Unit(benchmark::kMillisecond);

void BM_FfmpegDecodeIff(benchmark::State& state) {
  TimeCommand(state,
              "ffmpeg -v error -threads 1 -stream_loop " + std::to_string(kFfmpegLoops - 1) +
                  " -i " + IffFile() + " -f null -",
              kIffFrames);
}
BENCHMARK(BM_FfmpegDecodeIff)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
