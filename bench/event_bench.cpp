// The event core's two costs. Dispatch: queued key events taken one by one through CheckEvent to a
// script callback (100 000 in batches of the queue's 256 slots), beside a plain script loop that
// calls the same callback with a new table. Timers: from a time-out's deadline to the start of its
// script-side callback through the timer service, the main loop and WaitEvent, beside a bare
// timerfd + poll loop on the same deadlines; median and 99th percentile in microseconds.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/eventqueue.h"
#include "core/events.h"
#include "core/registry.h"
#include "core/runtime_buffers.h"
#include "libs/libraries.h"
#include "platform/loop.h"
#include "platform/os/null_window_system.h"
#include "platform/platform.h"
#include "tools/qvasm/qvasm.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace {

using qv::qvScriptState;

constexpr int kBatch = qv::kEventQueueSize;
constexpr int kTimerSamples = 1000;
constexpr int kTimerDelayMs = 2;

// The callback both loops call, the handler install, and the two loops of 256 calls.
constexpr char kSetup[] = R"(
.function main
  CLOSURE R0, cb
  SETGLOBAL R0, "cb"
  LOADCONST R1, 0
  SETGLOBAL R1, "count"
  GETGLOBAL R1, "installeventhandler"
  NEWTABLE R2, 0, 0
  SETTABLE R2, "onkeydown", R0
  CALL R1, nargs=1, nres=0
  RETURN R0, 1
  .function cb
    .param "msg"
    GETGLOBAL R1, "count"
    ADD R1, R1, 1
    SETGLOBAL R1, "count"
    RETURN R0, 1
  .end
.end
)";
constexpr char kDispatchLoop[] = R"(
.function main
  GETGLOBAL R1, "checkevent"
  LOADCONST R2, 0
  LOADCONST R3, 256
  LOADCONST R4, 1
  JUMP @test
body:
  MOVE R5, R1
  CALL R5, nargs=0, nres=0
test:
  FORLOOP R2, @body
  RETURN R0, 1
.end
)";
constexpr char kBareLoop[] = R"(
.function main
  GETGLOBAL R1, "cb"
  LOADCONST R2, 0
  LOADCONST R3, 256
  LOADCONST R4, 1
  JUMP @test
body:
  MOVE R5, R1
  NEWTABLE R6, 0, 0
  CALL R5, nargs=1, nres=0
test:
  FORLOOP R2, @body
  RETURN R0, 1
.end
)";

// A machine with the event library open and display 1 standing; the platform started.
struct Player {
  qvScriptState* L = nullptr;
  Player() {
    qv::InitPlatform();
    L = qv::VmOpenState(qv::CoreVmHost());
    qv::SetProcessVm(L);
    qv::SetExitOnError(1);
    qv::AllocRuntimeBuffers();
    qv::OpenLibrary(L, qv::kEventLibrary);
    qv::OpenInputDisplay();
    qv::SetDisplayHost(qv::InputDisplayHost());
  }
  ~Player() {
    qv::FreeEventLibrary(L);
    qv::CloseInputDisplay(L);
    qv::FreeRuntimeBuffers();
    qv::FreeRegistries();
    qv::VmCloseState(L);
    qv::SetProcessVm(nullptr);
    qv::ShutdownPlatform();
  }
  // Loads the program and keeps its main function as a registry reference.
  int32_t Load(const char* text) {
    qv::qvasm::Result r = qv::qvasm::Assemble(text, {});
    if (!r.diags.empty()) {
      std::fprintf(stderr, "qvasm: %s\n", r.diags[0].message.c_str());
      std::abort();
    }
    qv::qvChunkBuffer chunk{reinterpret_cast<const char*>(r.bytes.data()), r.bytes.size()};
    if (qv::VmLoad(L, qv::ChunkReader, &chunk, "bench") != 0) std::abort();
    return qv::VmRef(L, qv::kRegistryIndex);
  }
  int32_t Run(int32_t ref) {
    qv::VmRawGetI(L, qv::kRegistryIndex, ref);
    return qv::VmPCall(L, 0, 0, 0);
  }
};

void BM_CheckEventToScriptCallback(benchmark::State& state) {
  Player p;
  if (p.Run(p.Load(kSetup)) != 0) state.SkipWithError("setup failed");
  int32_t loop = p.Load(kDispatchLoop);
  qv::qvDisplayInput* display = qv::CurrentDisplayInput();
  for (auto _ : state) {
    state.PauseTiming();
    for (int i = 0; i < kBatch; ++i) qv::PostEvent(display, qv::kEventKey, 1, 'a', 0, nullptr);
    state.ResumeTiming();
    if (p.Run(loop) != 0) state.SkipWithError("dispatch failed");
  }
  qv::VmPushString(p.L, "count");
  qv::VmRawGet(p.L, qv::kGlobalsIndex);
  if (qv::VmToNumber(p.L, -1) != double(state.iterations()) * kBatch)
    state.SkipWithError("events lost");
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_CheckEventToScriptCallback)
    ->Iterations(100000 / kBatch + 1)
    ->Unit(benchmark::kMicrosecond);

void BM_BareScriptCallback(benchmark::State& state) {
  Player p;
  if (p.Run(p.Load(kSetup)) != 0) state.SkipWithError("setup failed");
  int32_t loop = p.Load(kBareLoop);
  for (auto _ : state) {
    if (p.Run(loop) != 0) state.SkipWithError("call failed");
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_BareScriptCallback)->Iterations(100000 / kBatch + 1)->Unit(benchmark::kMicrosecond);

double NowUs() {
  using namespace std::chrono;
  return duration<double, std::micro>(steady_clock::now().time_since_epoch()).count();
}

void Report(benchmark::State& state, std::vector<double> latencies) {
  std::sort(latencies.begin(), latencies.end());
  state.counters["median_us"] = latencies[latencies.size() / 2];
  state.counters["p99_us"] = latencies[latencies.size() * 99 / 100];
  state.counters["samples"] = double(latencies.size());
}

// Each callback measures how late it starts and sets the next time-out.
std::vector<double> gLatencies;
double gDeadline = 0;

int32_t TimeoutCallback(qvScriptState* L);

// SetTimeout(1, TimeoutCallback, 2 ms) with its deadline noted just before.
int32_t StartTimeout(qvScriptState* L) {
  qv::VmPushString(L, "settimeout");
  qv::VmRawGet(L, qv::kGlobalsIndex);
  qv::VmPushNumber(L, 1);
  qv::VmPushCClosure(L, TimeoutCallback, 0);
  qv::VmPushNumber(L, kTimerDelayMs);
  gDeadline = NowUs() + kTimerDelayMs * 1000.0;
  return qv::VmPCall(L, 3, 0, 0);
}

int32_t TimeoutCallback(qvScriptState* L) {
  gLatencies.push_back(NowUs() - gDeadline);
  if (gLatencies.size() >= kTimerSamples) return 0;
  return StartTimeout(L);
}

void BM_TimeoutToCallback(benchmark::State& state) {
  for (auto _ : state) {
    Player p;
    qv::NullWindowSystem windows;
    qv::SetWindowSystem(&windows);
    gLatencies.clear();
    int result = qv::MessageLoop([&] {
      if (StartTimeout(p.L) != 0) return 1;
      while (gLatencies.size() < kTimerSamples) {
        qv::VmPushString(p.L, "waitevent");
        qv::VmRawGet(p.L, qv::kGlobalsIndex);
        if (qv::VmPCall(p.L, 0, 0, 0) != 0) return 1;
        qv::VmSetTop(p.L, 0);
      }
      return 0;
    });
    qv::SetWindowSystem(nullptr);
    if (result != 0) state.SkipWithError("the loop failed");
  }
  Report(state, gLatencies);
}
BENCHMARK(BM_TimeoutToCallback)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_BareTimerfdPoll(benchmark::State& state) {
  std::vector<double> latencies;
  for (auto _ : state) {
    int fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    for (int i = 0; i < kTimerSamples; ++i) {
      itimerspec spec{};
      spec.it_value.tv_nsec = kTimerDelayMs * 1000000L;
      double deadline = NowUs() + kTimerDelayMs * 1000.0;
      timerfd_settime(fd, 0, &spec, nullptr);
      pollfd pfd{fd, POLLIN, 0};
      poll(&pfd, 1, -1);
      latencies.push_back(NowUs() - deadline);
      uint64_t expiries;
      (void)!read(fd, &expiries, sizeof expiries);
    }
    close(fd);
  }
  Report(state, latencies);
}
BENCHMARK(BM_BareTimerfdPoll)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
