// A full-screen Flip (cmake --preset bench): 1920 x 1080 with an overflowed dirty list, so the
// whole back buffer goes to the front buffer and the whole front buffer to the window; and an
// opaque 1920 x 1080 brush shown with DisplayBrush, into the display's picture and from there to
// the window; two 1920 x 1080 BGPics shown in turn with DisplayBGPic. All beside two memcpy of the
// same bytes (the bandwidth roof of two full copies), all reporting the bytes moved.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "core/errors.h"
#include "core/player_state.h"
#include "core/registry.h"
#include "display/display.h"
#include "libs/libraries.h"
#include "platform/window_services.h"
#include "vm/vm.h"

using namespace qv;

namespace {

constexpr int32_t kWidth = 1920, kHeight = 1080;
constexpr size_t kBytes = size_t{kWidth} * kHeight * 4;

// A 1920 x 1080 borderless display, open and current; null (the state told) when it cannot be had.
qvScriptState* OpenFullDisplay(benchmark::State& state) {
  ConfigureHeadlessScreen(qvScreenSetup{});
  qvScriptState* L = VmOpenState(CoreVmHost());
  SetProcessVm(L);
  if (OpenLibrary(L, kDisplayLibrary) != 0 || OpenLibrary(L, kGraphicsLibrary) != 0) {
    state.SkipWithError("libraries");
  }
  qvDisplayTags tags;
  tags.width = kWidth;
  tags.height = kHeight;
  tags.switchesGiven = tags.switchesOn = kDisplayBorderless;
  qvObjectId id{1, nullptr};
  qvDisplay* display = nullptr;
  if (CreateDisplayCore(L, &id, false, &tags, &display) != 0 ||
      OpenDisplayCore(L, display, true) != 0) {
    state.SkipWithError("display");
    return nullptr;
  }
  VmSetTop(L, 0);
  SetCurrentDisplay(display);
  SetOutputTarget(display->bgpic);
  return L;
}

void CloseFullDisplay(qvScriptState* L) {
  FreeDisplaySubsystem(L);
  FreeRegistries();
  SetProcessVm(nullptr);
  VmCloseState(L);
}

void BM_Flip(benchmark::State& state) {
  qvScriptState* L = OpenFullDisplay(state);
  if (L == nullptr) return;
  if (BeginDoubleBuffer(L, false) != 0) state.SkipWithError("double buffer");
  for (auto _ : state) {
    AddDirtyRect(0, 0, kWidth, kHeight);  // everything is dirty
    if (FlipDisplay(L, false) != 0) state.SkipWithError("flip");
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2 * kBytes);
  CloseFullDisplay(L);
}
BENCHMARK(BM_Flip)->Name("Flip/ours/1920x1080")->Unit(benchmark::kMillisecond);

// An opaque 1920 x 1080 brush shown on a 1920 x 1080 display: the blit into the display's picture
// and the refresh of the window, beside the same two memcpy.
void BM_DisplayBrush(benchmark::State& state) {
  qvScriptState* L = OpenFullDisplay(state);
  if (L == nullptr) return;
  qvObjectId id{1, nullptr};
  if (AllocBrush(&id, false, kWidth, kHeight, 0x336699, false, false, false, false, nullptr) != 0) {
    state.SkipWithError("brush");
  }
  for (auto _ : state) {
    if (DisplayBrushObject(L, id, 0, 0) != 0) state.SkipWithError("display brush");
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2 * kBytes);
  CloseFullDisplay(L);
}
BENCHMARK(BM_DisplayBrush)->Name("DisplayBrush/ours/1920x1080")->Unit(benchmark::kMillisecond);

// DisplayBGPic alternating two BGPics of the display's size: each switch makes the other the
// display's background (its buffers filled from it) and refreshes the whole window.
void BM_BGPicSwitch(benchmark::State& state) {
  qvScriptState* L = OpenFullDisplay(state);
  if (L == nullptr) return;
  for (int32_t number : {2, 3}) {
    qvObjectId id{number, nullptr};
    if (CreateColorBGPic(&id, false, kWidth, kHeight, 0x102030u * number, nullptr) != 0) {
      state.SkipWithError("bgpic");
    }
  }
  int32_t next = 2;
  for (auto _ : state) {
    if (DisplayBGPicCore(L, {next, nullptr}, kPositionNotGiven, kPositionNotGiven, nullptr) != 0) {
      state.SkipWithError("display bgpic");
    }
    next = 5 - next;
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2 * kBytes);
  CloseFullDisplay(L);
}
BENCHMARK(BM_BGPicSwitch)->Name("bgpic_switch/quillvane/1920/1080")->Unit(benchmark::kMillisecond);

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
BENCHMARK(BM_TwoMemcpy)->Name("bgpic_switch/memcpy/1920/1080")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
