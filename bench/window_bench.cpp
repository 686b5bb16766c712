// Windows over SDL's dummy driver (cmake --preset bench): presenting full 1920 x 1080 frames and 50
// dirty 64 x 64 rectangles a frame through the main loop, beside memcpy of the same bytes; the
// nearest stretch of 640 x 480 to 1920 x 1080 beside SDL_SoftStretch; and the input latency, an
// SDL key event pushed until WaitEvent returns from its callback (the median of the runs), with
// the processor time an idle window's loop takes. The presents count the processor time of the
// whole process, the main thread's copy into the surface included.
#include <SDL.h>
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "core/errors.h"
#include "core/events.h"
#include "core/registry.h"
#include "core/runtime_buffers.h"
#include "libs/libraries.h"
#include "platform/loop.h"
#include "platform/window_services.h"
#include "vm/vm.h"

using namespace qv;

namespace {

constexpr int32_t kWidth = 1920, kHeight = 1080;
constexpr int32_t kRect = 64, kRects = 50;

// The platform with SDL's dummy windows and one open window of the size.
struct Windows {
  Windows(int32_t width, int32_t height) {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    ok = InitPlatform() == 0 && StartWindowSystem() == WindowSystemKind::kSdl;
    window = AttachPlatformDisplay();
    ok = ok && window != nullptr &&
         OpenDisplayWindow(window, {0, 0, width, height, 1, "bench", true, false}) == 0;
  }
  ~Windows() {
    DetachPlatformDisplay(window);
    StopWindowSystem();
    ShutdownPlatform();
  }
  bool ok = false;
  qvWindow* window = nullptr;
};

// One pass of the main loop after the writes: the pump presents them.
void Present() {
  WakeMainLoop();
  WaitMainLoopPass();
}

// A frame without writes: the pass itself, the floor under the two below.
void BM_EmptyPass(benchmark::State& state) {
  Windows w(kWidth, kHeight);
  if (!w.ok) return state.SkipWithError("windows");
  MessageLoop([&] {
    for (auto _ : state) Present();
    return 0;
  });
}
BENCHMARK(BM_EmptyPass)->Name("Present/no writes (one pass)")->Unit(benchmark::kMicrosecond);

void BM_PresentFullFrame(benchmark::State& state) {
  Windows w(kWidth, kHeight);
  if (!w.ok) return state.SkipWithError("windows");
  std::vector<uint32_t> frame(size_t{kWidth} * kHeight, 0x336699);
  MessageLoop([&] {
    for (auto _ : state) {
      frame[0] ^= 1;
      BlitToWindow(frame.data(), kWidth, 0, 0, w.window, 0, 0, kWidth, kHeight, 0, 0);
      Present();
    }
    return 0;
  });
  state.SetBytesProcessed(state.iterations() * int64_t{kWidth} * kHeight * 4);
}
BENCHMARK(BM_PresentFullFrame)
    ->Name("Present/full/1920x1080")
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

// The same bytes twice (into the front buffer, then into the surface).
void BM_MemcpyFullFrame(benchmark::State& state) {
  std::vector<uint32_t> a(size_t{kWidth} * kHeight, 1), b(a.size()), c(a.size());
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), a.size() * 4);
    std::memcpy(c.data(), b.data(), a.size() * 4);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kWidth} * kHeight * 4);
}
BENCHMARK(BM_MemcpyFullFrame)
    ->Name("Present/memcpy x2/1920x1080")
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

std::vector<std::pair<int32_t, int32_t>> RectPlaces() {
  std::mt19937 random(18);
  std::vector<std::pair<int32_t, int32_t>> places;
  for (int i = 0; i < kRects; ++i) {
    places.push_back({int32_t(random() % (kWidth - kRect)), int32_t(random() % (kHeight - kRect))});
  }
  return places;
}

void BM_Present50Rects(benchmark::State& state) {
  Windows w(kWidth, kHeight);
  if (!w.ok) return state.SkipWithError("windows");
  std::vector<uint32_t> frame(size_t{kWidth} * kHeight, 0x336699);
  auto places = RectPlaces();
  MessageLoop([&] {
    for (auto _ : state) {
      for (auto [x, y] : places) {
        BlitToWindow(frame.data(), kWidth, x, y, w.window, x, y, kRect, kRect, 0, 0);
      }
      Present();
    }
    return 0;
  });
  state.SetBytesProcessed(state.iterations() * kRects * kRect * kRect * 4);
}
BENCHMARK(BM_Present50Rects)
    ->Name("Present/50 rects 64x64")
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMicrosecond);

void BM_Memcpy50Rects(benchmark::State& state) {
  std::vector<uint32_t> a(size_t{kWidth} * kHeight, 1), b(a.size()), c(a.size());
  auto places = RectPlaces();
  for (auto _ : state) {
    for (auto [x, y] : places) {
      for (int32_t row = 0; row < kRect; ++row) {
        size_t at = size_t(y + row) * kWidth + size_t(x);
        std::memcpy(&b[at], &a[at], kRect * 4);
        std::memcpy(&c[at], &b[at], kRect * 4);
      }
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kRects * kRect * kRect * 4);
}
BENCHMARK(BM_Memcpy50Rects)
    ->Name("Present/memcpy x2/50 rects 64x64")
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMicrosecond);

void BM_Stretch(benchmark::State& state) {
  ConfigureHeadlessScreen(qvScreenSetup{});
  qvWindow* window = AttachPlatformDisplay();
  if (OpenDisplayWindow(window, {0, 0, kWidth, kHeight, 1, "bench", true, false}) != 0) {
    return state.SkipWithError("window");
  }
  std::vector<uint32_t> source(640 * 480);
  for (size_t i = 0; i < source.size(); ++i) source[i] = uint32_t(i * 2654435761u);
  for (auto _ : state) {
    BlitToWindow(source.data(), 640, 0, 0, window, 0, 0, 640, 480, kWidth, kHeight);
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
  DetachPlatformDisplay(window);
}
BENCHMARK(BM_Stretch)->Name("Stretch/ours/640x480 to 1920x1080")->Unit(benchmark::kMillisecond);

void BM_SdlSoftStretch(benchmark::State& state) {
  SDL_Surface* src = SDL_CreateRGBSurfaceWithFormat(0, 640, 480, 32, SDL_PIXELFORMAT_RGB888);
  SDL_Surface* dst = SDL_CreateRGBSurfaceWithFormat(0, kWidth, kHeight, 32, SDL_PIXELFORMAT_RGB888);
  auto* pixels = static_cast<uint32_t*>(src->pixels);
  for (int i = 0; i < 640 * 480; ++i) pixels[i] = uint32_t(i * 2654435761u);
  for (auto _ : state) SDL_SoftStretch(src, nullptr, dst, nullptr);
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
  SDL_FreeSurface(src);
  SDL_FreeSurface(dst);
}
BENCHMARK(BM_SdlSoftStretch)
    ->Name("Stretch/SDL_SoftStretch/640x480 to 1920x1080")
    ->Unit(benchmark::kMillisecond);

int32_t KeyHandler(qvScriptState*) { return 0; }

// A key pushed into SDL's queue until WaitEvent returns from its onkeydown callback, run 1000
// times: the median and the slowest in microseconds. Then the processor time of the whole process
// while the window stands idle for a second.
void BM_InputLatency(benchmark::State& state) {
  Windows w(320, 200);
  if (!w.ok) return state.SkipWithError("windows");
  qvScriptState* L = VmOpenState(CoreVmHost());
  SetProcessVm(L);
  SetExitOnError(1);
  AllocRuntimeBuffers();
  OpenLibrary(L, kEventLibrary);
  OpenInputDisplay();
  SetDisplayHost(InputDisplayHost());
  VmNewTable(L);
  VmPushString(L, "onkeydown");
  VmPushCClosure(L, KeyHandler, 0);
  VmSetTable(L, -3);
  InstallEventHandlers(L, VmGetTop(L), 0);
  VmSetTop(L, 0);
  std::vector<double> micros;
  double idleCpuMs = 0;
  MessageLoop([&] {
    for (auto _ : state) {
      micros.clear();
      for (int i = 0; i < 1000; ++i) {
        SDL_Event e{};
        e.type = SDL_KEYDOWN;
        e.key.state = SDL_PRESSED;
        e.key.keysym.sym = SDLK_F1;
        e.key.keysym.scancode = SDL_SCANCODE_F1;
        auto t0 = std::chrono::steady_clock::now();
        SDL_PushEvent(&e);
        ProcessEvents(L, true);
        auto t1 = std::chrono::steady_clock::now();
        VmSetTop(L, 0);
        micros.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        e.type = SDL_KEYUP;
        e.key.state = SDL_RELEASED;
        SDL_PushEvent(&e);
        ProcessEvents(L, false);
        VmSetTop(L, 0);
      }
    }
    rusage before, after;
    getrusage(RUSAGE_SELF, &before);
    usleep(1000000);
    getrusage(RUSAGE_SELF, &after);
    auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    idleCpuMs = ms(after.ru_utime) + ms(after.ru_stime) - ms(before.ru_utime) - ms(before.ru_stime);
    return 0;
  });
  std::sort(micros.begin(), micros.end());
  state.counters["median_us"] = micros[micros.size() / 2];
  state.counters["max_us"] = micros.back();
  state.counters["idle_cpu_ms_per_s"] = idleCpuMs;
  SetDisplayHost(nullptr);
  FreeEventLibrary(L);
  CloseInputDisplay(L);
  FreeRuntimeBuffers();
  FreeRegistries();
  SetProcessVm(nullptr);
  VmCloseState(L);
}
BENCHMARK(BM_InputLatency)
    ->Name("Input/key to WaitEvent")
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
