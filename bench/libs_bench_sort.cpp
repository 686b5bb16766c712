// Sort against CPython 3 on the same numbers: 10^6 numbers from a 31-bit generator that both
// sides follow, sorted in the machine's order (beside `sorted`) and through a script comparison
// function (beside `sorted` with `functools.cmp_to_key`). Each case times our sort of a fresh
// table, runs the same sort in python3 in the same run and reports CPython's best time and the
// ratio (ours / CPython's; below 1 means faster) as counters.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/registry.h"
#include "libs/libraries.h"
#include "tools/qvasm/qvasm.h"
#include "vm/vm.h"

namespace {

constexpr int kCount = 1000000;

std::vector<double> MakeNumbers() {
  std::vector<double> v;
  v.reserve(kCount);
  uint32_t x = 12345;
  for (int i = 0; i < kCount; ++i) {
    x = (x * 1103515245u + 12345u) & 0x7FFFFFFFu;
    v.push_back(static_cast<double>(x));
  }
  return v;
}

const char kPythonNumbers[] =
    "a = []\n"
    "x = 12345\n"
    "for i in range(1000000):\n"
    "    x = (x * 1103515245 + 12345) & 0x7FFFFFFF\n"
    "    a.append(float(x))\n";

struct SortCase {
  const char* qvasm;   // main(t) sorts t
  const char* python;  // the statement timed, over the list a
};

const SortCase kPlain = {R"qv(
.function main
  .param "t"
  GETGLOBAL R1, "sort"
  MOVE R2, R0
  CALL R1, nargs=1, nres=0
  RETURN R0, n=0
.end
)qv",
                         "b = sorted(a)"};

const SortCase kWithFunction = {
    R"qv(
.function main
  .param "t"
  GETGLOBAL R1, "sort"
  MOVE R2, R0
  CLOSURE R3, less
  CALL R1, nargs=2, nres=0
  RETURN R0, n=0
  .function less
    .param "a" "b"
    LOADCONST R2, 0
    LT 0, R0, R1
    JUMP @done
    LOADCONST R2, 1
  done:
    RETURN R2, n=1
  .end
.end
)qv",
    "b = sorted(a, key=functools.cmp_to_key(lambda x, y: -1 if x < y else (1 if x > y else 0)))"};

const char* Reader(qv::qvScriptState*, void* data, size_t* size) {
  auto* bytes = static_cast<std::vector<uint8_t>*>(data);
  *size = bytes->size();
  const char* p = bytes->empty() ? nullptr : reinterpret_cast<const char*>(bytes->data());
  bytes->clear();
  return p;
}

// CPython's best of three for the statement, in milliseconds; negative when python3 cannot run.
double PythonMs(const char* statement) {
  std::string script = std::string("import functools, time\n") + kPythonNumbers + "best = None\n" +
                       "for i in range(3):\n" + "    t = time.perf_counter()\n" + "    " +
                       statement + "\n" + "    e = time.perf_counter() - t\n" +
                       "    best = e if best is None or e < best else best\n" +
                       "assert all(b[i] <= b[i + 1] for i in range(len(b) - 1))\n" +
                       "print(best * 1000.0)\n";
  setenv("QV_PY", script.c_str(), 1);
  FILE* p = popen("/usr/bin/python3 -c \"$QV_PY\"", "r");
  if (p == nullptr) return -1;
  char line[64];
  double ms = -1;
  if (std::fgets(line, sizeof line, p) != nullptr) ms = std::atof(line);
  if (pclose(p) != 0) return -1;
  return ms;
}

void RunSort(benchmark::State& state, const SortCase* c) {
  static const std::vector<double> numbers = MakeNumbers();
  qvasm::Result chunk = qvasm::Assemble(c->qvasm);
  if (!chunk.ok()) {
    state.SkipWithError(chunk.diags[0].message.c_str());
    return;
  }
  qv::qvScriptState* L = qv::VmOpenState(qv::CoreVmHost());
  qv::OpenLibrary(L, qv::kSystemLibrary);
  std::vector<uint8_t> bytes = chunk.bytes;
  if (qv::VmLoad(L, Reader, &bytes, "bench") != 0) {
    state.SkipWithError("load failed");
    qv::VmCloseState(L);
    return;
  }
  double best = -1;
  bool ordered = true;
  for (auto _ : state) {
    state.PauseTiming();
    qv::VmSetTop(L, 1);
    qv::VmPushValue(L, 1);
    qv::VmNewTable(L);
    for (int i = 0; i < kCount; ++i) {
      qv::VmPushNumber(L, numbers[i]);
      qv::VmRawSetI(L, -2, i);
    }
    qv::VmPushValue(L, -1);
    qv::VmInsert(L, 2);  // keep the table below the call
    auto started = std::chrono::steady_clock::now();
    state.ResumeTiming();
    int32_t code = qv::VmPCall(L, 1, 0, 0);
    state.PauseTiming();
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                          started)
                    .count();
    if (best < 0 || ms < best) best = ms;
    if (code != 0) {
      state.SkipWithError("sort failed");
      break;
    }
    double previous = -1;
    for (int i = 0; i < kCount; i += 997) {
      qv::VmRawGetI(L, 2, i);
      double v = qv::VmToNumber(L, -1);
      qv::VmSetTop(L, -2);
      if (v < previous) ordered = false;
      previous = v;
    }
    state.ResumeTiming();
  }
  qv::VmCloseState(L);
  if (!ordered) state.SkipWithError("the result is out of order");
  double py = PythonMs(c->python);
  if (py > 0) {
    state.counters["cpython_ms"] = py;
    state.counters["ratio"] = best / py;
  }
}

BENCHMARK_CAPTURE(RunSort, Sort, &kPlain)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(RunSort, SortWithFunction, &kWithFunction)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace
