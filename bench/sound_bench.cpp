// The sound engine's two heavy jobs. Mixing: 60 s of output from 8 looping voices at other rates
// than the mix (so every voice is resampled) and one music stream topped up as it plays, rendered
// offline, beside SDL2 doing the same job (SDL_AudioStream resampling each voice, then
// SDL_MixAudioFormat); the counter "realtime" is the share of the 60 s the render took. Decoding:
// a 5-minute MP3 made by the ffmpeg tool, read to its end through the decoding ring, beside
// `ffmpeg -i f -f null -` on the same file.
#include <SDL.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "media/sound_stream.h"
#include "platform/mixer.h"

namespace {

constexpr int kSeconds = 60;
constexpr int kChunk = 512;
constexpr int kRates[8] = {44100, 22050, 32000, 11025, 8000, 16000, 37800, 96000};

std::vector<int16_t> Tone(int frames, int step) {
  std::vector<int16_t> v(static_cast<size_t>(frames));
  for (int i = 0; i < frames; i++)
    v[static_cast<size_t>(i)] = static_cast<int16_t>((i * step) % 20000 - 10000);
  return v;
}

void BM_MixerOffline(benchmark::State& state) {
  std::vector<qv::qvSoundBuffer*> voices;
  for (int i = 0; i < 8; i++) {
    auto pcm = Tone(kRates[i], 37 + i);  // one second at the voice's rate
    qv::qvSoundBuffer* b = qv::CreateSoundBuffer(kRates[i], 1, 16, pcm.data(),
                                                 static_cast<uint32_t>(pcm.size() * 2));
    qv::SetSoundBufferVolume(b, -600);
    qv::SetSoundBufferPan(b, (i - 4) * 1000);
    voices.push_back(b);
  }
  // The stream: a 250 ms ring of 44.1 kHz stereo, topped up after every chunk.
  const uint32_t ring = 44100 / 4;
  auto fill = Tone(static_cast<int>(ring) * 2, 11);
  std::vector<int16_t> out(kChunk * 2);
  for (auto _ : state) {
    for (auto* b : voices) qv::PlaySoundBuffer(b, 0, 0);
    qv::qvSoundBuffer* stream = qv::CreateStreamBuffer(44100, 2, 16, ring);
    qv::WriteStreamBuffer(stream, fill.data(), ring);
    qv::PlaySoundBuffer(stream, 0, 0);
    auto start = std::chrono::steady_clock::now();
    for (int done = 0; done < kSeconds * qv::kMixRate; done += kChunk) {
      qv::RenderMix(out.data(), kChunk);
      qv::WriteStreamBuffer(stream, fill.data(), qv::GetStreamBufferRoom(stream));
    }
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.counters["realtime"] = secs / kSeconds;
    for (auto* b : voices) qv::StopSoundBuffer(b);
    qv::ReleaseSoundBuffer(stream);
    benchmark::DoNotOptimize(out.data());
  }
  for (auto* b : voices) qv::ReleaseSoundBuffer(b);
}
BENCHMARK(BM_MixerOffline)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SdlMixOffline(benchmark::State& state) {
  std::vector<SDL_AudioStream*> streams;
  std::vector<std::vector<int16_t>> pcm;
  for (int i = 0; i < 9; i++) {
    int rate = i < 8 ? kRates[i] : 44100;
    int channels = i < 8 ? 1 : 2;
    streams.push_back(SDL_NewAudioStream(AUDIO_S16SYS, static_cast<Uint8>(channels), rate,
                                         AUDIO_S16SYS, 2, qv::kMixRate));
    pcm.push_back(Tone(rate * channels, 37 + i));
  }
  std::vector<int16_t> out(kChunk * 2), voice(kChunk * 2);
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    for (int done = 0; done < kSeconds * qv::kMixRate; done += kChunk) {
      std::memset(out.data(), 0, out.size() * 2);
      for (size_t i = 0; i < streams.size(); i++) {
        while (SDL_AudioStreamAvailable(streams[i]) < kChunk * 4) {
          SDL_AudioStreamPut(streams[i], pcm[i].data(), static_cast<int>(pcm[i].size() * 2));
        }
        SDL_AudioStreamGet(streams[i], voice.data(), kChunk * 4);
        SDL_MixAudioFormat(reinterpret_cast<Uint8*>(out.data()),
                           reinterpret_cast<const Uint8*>(voice.data()), AUDIO_S16SYS, kChunk * 4,
                           SDL_MIX_MAXVOLUME / 2);
      }
    }
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.counters["realtime"] = secs / kSeconds;
    benchmark::DoNotOptimize(out.data());
  }
  for (auto* s : streams) SDL_FreeAudioStream(s);
}
BENCHMARK(BM_SdlMixOffline)->Unit(benchmark::kMillisecond)->UseRealTime();

const std::string& Mp3() {
  static std::string path = [] {
    std::string p = "/tmp/qv_sound_bench_5min.mp3";
    std::string cmd =
        "ffmpeg -loglevel error -y -f lavfi -i \"sine=frequency=440:duration=300\" "
        "-ac 2 -ar 44100 -b:a 192k \"" +
        p + "\"";
    if (std::system(cmd.c_str()) != 0)
      std::fprintf(stderr, "ffmpeg could not make %s\n", p.c_str());
    return p;
  }();
  return path;
}

void BM_DecodeMp3ThroughRing(benchmark::State& state) {
  const std::string& path = Mp3();
  std::vector<int16_t> buf(4096 * 2);
  for (auto _ : state) {
    qv::qvSampleStream* s = nullptr;
    if (qv::OpenSampleFile(path.c_str(), true, &s) != 0) {
      state.SkipWithError("open failed");
      return;
    }
    int64_t frames = 0;
    while (true) {
      bool end = false;
      int32_t got = qv::ReadSampleStream(s, buf.data(), 4096, &end);
      frames += got;
      if (end || got == 0) break;
    }
    qv::CloseSampleStream(s);
    state.counters["frames"] = static_cast<double>(frames);
  }
}
BENCHMARK(BM_DecodeMp3ThroughRing)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FfmpegToolNullOutput(benchmark::State& state) {
  std::string cmd = "ffmpeg -loglevel error -y -i \"" + Mp3() + "\" -f null -";
  for (auto _ : state) {
    if (std::system(cmd.c_str()) != 0) state.SkipWithError("ffmpeg failed");
  }
}
BENCHMARK(BM_FfmpegToolNullOutput)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
