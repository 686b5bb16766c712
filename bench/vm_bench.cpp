// The script machine against CPython 3: the same algorithms, timed in the same run, printed as
// ratios (our time / CPython's; below 1 means faster). Each of ours also runs with a line hook
// (an empty native hook), shown against plain CPython and against CPython with its own line
// hook (an empty sys.settrace tracer). Our runs and plain CPython take the best of three, which
// keeps the ratios steady on a shared machine; the traced CPython runs once.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "tools/qvasm/qvasm.h"
#include "vm/vm.h"

namespace {

struct Case {
  const char* name;
  double n;
  const char* qvasm;   // main takes n and returns one number
  const char* python;  // defines f(n)
};

const Case kCases[] = {
    {"fib(30)", 30, R"qv(
.function main params=1
  .line 1
  CLOSURE R1, fib
  SETGLOBAL R1, "fib"
  MOVE R2, R0
  CALL R1, nargs=1, nres=1
  RETURN R1, n=1
  .function fib params=1
    .line 2
    LT 0, R0, 2
    JUMP @rec
    .line 3
    RETURN R0, n=1
  rec:
    .line 4
    GETGLOBAL R1, "fib"
    SUB R2, R0, 1
    CALL R1, nargs=1, nres=1
    GETGLOBAL R2, "fib"
    SUB R3, R0, 2
    CALL R2, nargs=1, nres=1
    ADD R1, R1, R2
    RETURN R1, n=1
  .end
.end
)qv",
     "def fib(n):\n"
     "    if n < 2:\n"
     "        return n\n"
     "    return fib(n - 1) + fib(n - 2)\n"
     "def f(n):\n"
     "    return fib(n)\n"},
    {"loop 10^8", 1e8, R"qv(
.function main params=1
  .line 1
  LOADCONST R1, 0
  LOADCONST R2, 0
  MOVE R3, R0
  LOADCONST R4, 1
  JUMP @test
body:
  .line 2
  ADD R1, R1, R2
test:
  .line 3
  FORLOOP R2, @body
  RETURN R1, n=1
.end
)qv",
     "def f(n):\n"
     "    s = 0\n"
     "    for i in range(1, n + 1):\n"
     "        s += i\n"
     "    return s\n"},
    {"sieve 10^7", 1e7, R"qv(
.function main params=1
  .line 1
  NEWTABLE R1, arr=10000001 hashlog=1
  LOADCONST R2, -1
  MOVE R3, R0
  LOADCONST R4, 1
  JUMP @init_test
init:
  .line 2
  SETTABLE R1, R2, 0
init_test:
  FORLOOP R2, @init
  .line 3
  LOADCONST R5, 0
  LOADCONST R2, 1
  MOVE R3, R0
  LOADCONST R4, 1
  JUMP @outer_test
outer:
  .line 4
  GETTABLE R6, R1, R2
  EQ 0, R6, 0
  JUMP @outer_test
  .line 5
  ADD R5, R5, 1
  .line 6
  MUL R7, R2, R2
  SUB R7, R7, R2
  MOVE R8, R0
  MOVE R9, R2
  JUMP @inner_test
inner:
  .line 7
  SETTABLE R1, R7, 1
inner_test:
  FORLOOP R7, @inner
outer_test:
  .line 8
  FORLOOP R2, @outer
  RETURN R5, n=1
.end
)qv",
     "def f(n):\n"
     "    flags = [0] * (n + 1)\n"
     "    count = 0\n"
     "    for i in range(2, n + 1):\n"
     "        if flags[i] == 0:\n"
     "            count += 1\n"
     "            for j in range(i * i, n + 1, i):\n"
     "                flags[j] = 1\n"
     "    return count\n"},
    {"string keys 10^6", 1e6, R"qv(
.function main params=1
  .line 1
  NEWTABLE R1, 0, 0
  LOADCONST R2, 0
  MOVE R3, R0
  LOADCONST R4, 1
  JUMP @t1
insert:
  .line 2
  LOADCONST R5, "k"
  MOVE R6, R2
  CONCAT R5, R5, R6
  SETTABLE R1, R5, R2
t1:
  FORLOOP R2, @insert
  .line 3
  LOADCONST R7, 0
  LOADCONST R2, 0
  MOVE R3, R0
  LOADCONST R4, 1
  JUMP @t2
lookup:
  .line 4
  LOADCONST R5, "k"
  MOVE R6, R2
  CONCAT R5, R5, R6
  GETTABLE R8, R1, R5
  ADD R7, R7, R8
t2:
  FORLOOP R2, @lookup
  RETURN R7, n=1
.end
)qv",
     "def f(n):\n"
     "    d = {}\n"
     "    for i in range(1, n + 1):\n"
     "        d[\"k\" + str(i)] = i\n"
     "    s = 0\n"
     "    for i in range(1, n + 1):\n"
     "        s += d[\"k\" + str(i)]\n"
     "    return s\n"},
    {"concat 10^5", 1e5, R"qv(
.function main params=1
  .line 1
  LOADCONST R1, ""
  LOADCONST R9, 0
  LOADCONST R2, 0
  MOVE R3, R0
  LOADCONST R4, 1
  JUMP @test
body:
  .line 2
  LOADCONST R5, "item"
  MOVE R6, R2
  LOADCONST R7, ","
  MUL R8, R2, 2
  CONCAT R1, R5, R8
test:
  FORLOOP R2, @body
  .line 3
  MOVE R5, R1
  RETURN R5, n=1
.end
)qv",
     "def f(n):\n"
     "    s = \"\"\n"
     "    for i in range(1, n + 1):\n"
     "        s = \"item\" + str(i) + \",\" + str(i * 2)\n"
     "    return s\n"},
};

const char* Reader(qv::qvScriptState*, void* data, size_t* size) {
  auto* bytes = static_cast<std::vector<uint8_t>*>(data);
  *size = bytes->size();
  return bytes->empty() ? nullptr : reinterpret_cast<const char*>(bytes->data());
}

void EmptyHook(qv::qvScriptState*, qv::qvDebugRecord*, int32_t*) {}

void RunOurs(benchmark::State& state, const Case* c, bool hook) {
  qvasm::Result chunk = qvasm::Assemble(c->qvasm);
  if (!chunk.ok()) {
    state.SkipWithError(chunk.diags[0].message.c_str());
    return;
  }
  qv::qvScriptState* L = qv::VmOpenState();
  std::vector<uint8_t> bytes = chunk.bytes;
  if (qv::VmLoad(L, Reader, &bytes, "bench") != 0) {
    state.SkipWithError("load failed");
    qv::VmCloseState(L);
    return;
  }
  if (hook) qv::VmSetHook(L, EmptyHook, qv::kMaskLine, 0);
  std::string result;
  for (auto _ : state) {
    qv::VmPushValue(L, 1);
    qv::VmPushNumber(L, c->n);
    if (qv::VmPCall(L, 1, 1, 0) != 0) {
      state.SkipWithError("run failed");
      break;
    }
    result = qv::VmToString(L, -1);
    qv::VmSetTop(L, 1);
  }
  state.SetLabel(result.size() > 24 ? result.substr(0, 24) : result);
  qv::VmCloseState(L);
}

// Runs f(n) in CPython once (with a line tracer when `traced`) and returns its time in
// milliseconds (the interpreter's start-up excluded), or a negative value when python3 cannot
// run.
double RunPython(const Case& c, bool traced, std::string* result) {
  std::string script = "import sys, time\n" + std::string(c.python) +
                       "def tracer(frame, event, arg):\n"
                       "    return tracer\n"
                       "t = time.perf_counter()\n" +
                       (traced ? "sys.settrace(tracer)\n" : "") + "r = f(" +
                       std::to_string(static_cast<long long>(c.n)) +
                       ")\n"
                       "sys.settrace(None)\n"
                       "e = time.perf_counter() - t\n"
                       "print(e * 1000.0)\n"
                       "print(r if not isinstance(r, str) else r[:24])\n";
  std::string command = "/usr/bin/python3 -c '" + script + "'";
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return -1;
  char line[256];
  double ms = -1;
  if (std::fgets(line, sizeof line, p) != nullptr) ms = std::atof(line);
  if (std::fgets(line, sizeof line, p) != nullptr) {
    *result = line;
    if (!result->empty() && result->back() == '\n') result->pop_back();
  }
  if (pclose(p) != 0) return -1;
  return ms;
}

constexpr int kRepetitions = 3;

// Keeps the best time per iteration of each benchmark's repetitions.
class Collector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration) continue;
      auto [it, added] = times.emplace(run.run_name.function_name, run.GetAdjustedRealTime());
      if (!added && run.GetAdjustedRealTime() < it->second) it->second = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;  // milliseconds
};

}  // namespace

int main(int argc, char** argv) {
  for (const Case& c : kCases) {
    benchmark::RegisterBenchmark(c.name, RunOurs, &c, false)
        ->Unit(benchmark::kMillisecond)
        ->Repetitions(kRepetitions);
    benchmark::RegisterBenchmark((std::string(c.name) + " +hook").c_str(), RunOurs, &c, true)
        ->Unit(benchmark::kMillisecond)
        ->Repetitions(kRepetitions);
  }
  benchmark::Initialize(&argc, argv);
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);

  std::printf("\n%-18s %9s %11s %7s %13s %13s %15s %14s  %s\n", "benchmark", "ours ms",
              "CPython ms", "ratio", "ours+hook ms", "ratio+hook", "CPython+trace",
              "ratio vs trace", "CPython result");
  for (const Case& c : kCases) {
    auto ours = collector.times.find(c.name);
    auto hooked = collector.times.find(std::string(c.name) + " +hook");
    if (ours == collector.times.end() || hooked == collector.times.end()) continue;
    std::string result;
    double py = -1;
    for (int i = 0; i < kRepetitions; ++i) {
      double t = RunPython(c, false, &result);
      if (t > 0 && (py < 0 || t < py)) py = t;
    }
    double traced = RunPython(c, true, &result);
    if (py <= 0 || traced <= 0) {
      std::printf("%-18s %9.1f %11s\n", c.name, ours->second, "(no python3)");
      continue;
    }
    std::printf("%-18s %9.1f %11.1f %7.3f %13.1f %13.3f %15.1f %14.3f  %s\n", c.name, ours->second,
                py, ours->second / py, hooked->second, hooked->second / py, traced,
                hooked->second / traced, result.c_str());
  }
  benchmark::Shutdown();
  return 0;
}
