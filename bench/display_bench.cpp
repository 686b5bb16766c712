// A full-screen Flip (cmake --preset bench): 1920 x 1080 with an overflowed dirty list, so the
// whole back buffer goes to the front buffer and the whole front buffer to the window, beside two
// memcpy of the same bytes (the bandwidth roof of two full copies). Both report the bytes moved.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "core/errors.h"
#include "core/registry.h"
#include "display/display.h"
#include "libs/libraries.h"
#include "platform/window_services.h"
#include "vm/vm.h"

using namespace qv;

namespace {

constexpr int32_t kWidth = 1920, kHeight = 1080;
constexpr size_t kBytes = size_t{kWidth} * kHeight * 4;

void BM_Flip(benchmark::State& state) {
  ConfigureHeadlessScreen(qvScreenSetup{});
  qvScriptState* L = VmOpenState(CoreVmHost());
  SetProcessVm(L);
  if (OpenLibrary(L, kDisplayLibrary) != 0) state.SkipWithError("display library");
  VmNewTable(L);
  VmPushString(L, "width");
  VmPushNumber(L, kWidth);
  VmSetTable(L, -3);
  VmPushString(L, "height");
  VmPushNumber(L, kHeight);
  VmSetTable(L, -3);
  VmPushString(L, "borderless");
  VmPushNumber(L, 1);
  VmSetTable(L, -3);
  qvObjectId id{1, nullptr};
  qvDisplay* display = nullptr;
  if (CreateDisplayCore(L, &id, false, VmGetTop(L), &display) != 0 ||
      OpenDisplayCore(L, display, true) != 0) {
    state.SkipWithError("display");
    return;
  }
  SetCurrentDisplay(display);
  SetOutputTarget(display->bgpic);
  if (BeginDoubleBuffer(L, false) != 0) state.SkipWithError("double buffer");
  for (auto _ : state) {
    AddDirtyRect(0, 0, kWidth, kHeight);  // everything is dirty
    if (FlipDisplay(L, false) != 0) state.SkipWithError("flip");
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2 * kBytes);
  FreeDisplaySubsystem(L);
  FreeRegistries();
  SetProcessVm(nullptr);
  VmCloseState(L);
}
BENCHMARK(BM_Flip)->Name("Flip/ours/1920x1080")->Unit(benchmark::kMillisecond);

void BM_TwoMemcpy(benchmark::State& state) {
  std::vector<uint8_t> back(kBytes, 1), front(kBytes, 2), window(kBytes, 3);
  for (auto _ : state) {
    std::memcpy(front.data(), back.data(), kBytes);
    std::memcpy(window.data(), front.data(), kBytes);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2 * kBytes);
}
BENCHMARK(BM_TwoMemcpy)->Name("Flip/two_memcpy/1920x1080")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
