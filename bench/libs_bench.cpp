// The general libraries against CPython 3 on the same inputs: each case runs one script (through
// the machine with the libraries open) and the same work in python3, timed in the same run and
// printed as ratios (our time / CPython's; below 1 means faster). Our runs and CPython's take
// the best of three. The text is ~10 MB of words, numbers and number pairs ("12-345") that both
// sides generate with the same 31-bit generator; a length check shows they agree.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/registry.h"
#include "libs/libraries.h"
#include "tools/qvasm/qvasm.h"
#include "vm/vm.h"

namespace {

constexpr size_t kTextSize = 10u << 20;

// The words and pairs of the text: both sides follow this exactly.
std::string MakeText() {
  static const char* const kWords[] = {"the",  "quick", "brown", "fox",  "jumps",
                                       "over", "lazy",  "dog",   "alpha"};
  std::string s;
  s.reserve(kTextSize + 16);
  uint32_t x = 12345;
  while (s.size() < kTextSize) {
    x = (x * 1103515245u + 12345u) & 0x7FFFFFFFu;
    uint32_t r = x >> 8;
    if (r % 10 == 9) {
      s += std::to_string(r % 1000) + "-" + std::to_string((r >> 10) % 1000);
    } else {
      s += kWords[r % 10];
    }
    s += (r % 16 == 0) ? "\n" : " ";
  }
  return s;
}

const char kPythonText[] =
    "W = ['the', 'quick', 'brown', 'fox', 'jumps', 'over', 'lazy', 'dog', 'alpha']\n"
    "parts = []\n"
    "size = 0\n"
    "x = 12345\n"
    "while size < 10 << 20:\n"
    "    x = (x * 1103515245 + 12345) & 0x7FFFFFFF\n"
    "    r = x >> 8\n"
    "    p = '%d-%d' % (r % 1000, (r >> 10) % 1000) if r % 10 == 9 else W[r % 10]\n"
    "    p += '\\n' if r % 16 == 0 else ' '\n"
    "    parts.append(p)\n"
    "    size += len(p)\n"
    "s = ''.join(parts)\n";

struct Case {
  const char* name;
  const char* qvasm;   // main reads the global "text" and returns one number
  const char* python;  // defines f(s) returning one number
};

const Case kCases[] = {
    {"FindStr", R"qv(
.function main
  GETGLOBAL R0, "findstr"
  GETGLOBAL R1, "text"
  LOADCONST R2, "dogs"
  CALL R0, nargs=2, nres=1
  RETURN R0, n=1
.end
)qv",
     "def f(s):\n    return s.find('dogs')\n"},
    {"ReplaceStr", R"qv(
.function main
  GETGLOBAL R0, "strlen"
  GETGLOBAL R1, "replacestr"
  GETGLOBAL R2, "text"
  LOADCONST R3, "fox"
  LOADCONST R4, "wolf"
  CALL R1, nargs=3, nres=1
  CALL R0, nargs=1, nres=1
  RETURN R0, n=1
.end
)qv",
     "def f(s):\n    return len(s.replace('fox', 'wolf'))\n"},
    {"CountStr", R"qv(
.function main
  GETGLOBAL R0, "countstr"
  GETGLOBAL R1, "text"
  LOADCONST R2, "the "
  CALL R0, nargs=2, nres=1
  RETURN R0, n=1
.end
)qv",
     "def f(s):\n    return s.count('the ')\n"},
    {"SplitStr", R"qv(
.function main
  GETGLOBAL R0, "splitstr"
  GETGLOBAL R1, "text"
  LOADCONST R2, " "
  CALL R0, nargs=2, nres=2
  RETURN R1, n=1
.end
)qv",
     "def f(s):\n    return len(s.split(' '))\n"},
    {"%a+ iteration", R"qv(
.function main
  LOADCONST R0, 0
  GETGLOBAL R1, "patternfindstr"
  GETGLOBAL R2, "text"
  LOADCONST R3, "%a+"
  CALL R1, nargs=2, nres=1
  LOADNIL R2, R3
  JUMP @loop
body:
  ADD R0, R0, 1
loop:
  FORINLOOP R1, vars=1
  JUMP @body
  RETURN R0, n=1
.end
)qv",
     "import re\n"
     "def f(s):\n    n = 0\n    for m in re.finditer('[A-Za-z]+', s):\n        n += 1\n    return n\n"},
    {"(%d+)-(%d+) replace", R"qv(
.function main
  GETGLOBAL R0, "patternreplacestr"
  GETGLOBAL R1, "text"
  LOADCONST R2, "(%d+)-(%d+)"
  LOADCONST R3, "%2-%1"
  CALL R0, nargs=3, nres=2
  RETURN R1, n=1
.end
)qv",
     "import re\n"
     "def f(s):\n    return re.subn(r'(\\d+)-(\\d+)', r'\\2-\\1', s)[1]\n"},
};

const char* Reader(qv::qvScriptState*, void* data, size_t* size) {
  auto* bytes = static_cast<std::vector<uint8_t>*>(data);
  *size = bytes->size();
  return bytes->empty() ? nullptr : reinterpret_cast<const char*>(bytes->data());
}

const std::string& Text() {
  static const std::string text = MakeText();
  return text;
}

void RunOurs(benchmark::State& state, const Case* c) {
  qvasm::Result chunk = qvasm::Assemble(c->qvasm);
  if (!chunk.ok()) {
    state.SkipWithError(chunk.diags[0].message.c_str());
    return;
  }
  qv::qvScriptState* L = qv::VmOpenState(qv::CoreVmHost());
  qv::OpenLibrary(L, qv::kStringLibrary);
  qv::VmPushString(L, "text");
  qv::VmPushLString(L, Text().data(), Text().size());
  qv::VmSetTable(L, qv::kGlobalsIndex);
  std::vector<uint8_t> bytes = chunk.bytes;
  if (qv::VmLoad(L, Reader, &bytes, "bench") != 0) {
    state.SkipWithError("load failed");
    qv::VmCloseState(L);
    return;
  }
  std::string result;
  for (auto _ : state) {
    qv::VmPushValue(L, 1);
    if (qv::VmPCall(L, 0, 1, 0) != 0) {
      state.SkipWithError("run failed");
      break;
    }
    result = qv::VmToString(L, -1);
    qv::VmSetTop(L, 1);
  }
  state.SetLabel(result);
  qv::VmCloseState(L);
}

// Runs f(s) in CPython once and returns its time in milliseconds (the interpreter's start-up
// and the text's generation excluded), or a negative value when python3 cannot run.
double RunPython(const Case& c, std::string* result, size_t* textSize) {
  std::string script = "import time\n" + std::string(kPythonText) + c.python +
                       "t = time.perf_counter()\n"
                       "r = f(s)\n"
                       "e = time.perf_counter() - t\n"
                       "print(e * 1000.0)\n"
                       "print(r)\n"
                       "print(len(s))\n";
  std::string command = "/usr/bin/python3 -c \"$QV_PY\"";
  setenv("QV_PY", script.c_str(), 1);
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return -1;
  char line[256];
  double ms = -1;
  if (std::fgets(line, sizeof line, p) != nullptr) ms = std::atof(line);
  if (std::fgets(line, sizeof line, p) != nullptr) {
    *result = line;
    if (!result->empty() && result->back() == '\n') result->pop_back();
  }
  if (std::fgets(line, sizeof line, p) != nullptr) *textSize = size_t(std::atoll(line));
  if (pclose(p) != 0) return -1;
  return ms;
}

constexpr int kRepetitions = 3;

// Keeps the best time per iteration of each benchmark's repetitions, and its label.
class Collector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration) continue;
      auto [it, added] = times.emplace(run.run_name.function_name, run.GetAdjustedRealTime());
      if (!added && run.GetAdjustedRealTime() < it->second) it->second = run.GetAdjustedRealTime();
      labels[run.run_name.function_name] = run.report_label;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;  // milliseconds
  std::map<std::string, std::string> labels;
};

}  // namespace

int main(int argc, char** argv) {
  for (const Case& c : kCases) {
    benchmark::RegisterBenchmark(c.name, RunOurs, &c)
        ->Unit(benchmark::kMillisecond)
        ->Repetitions(kRepetitions);
  }
  benchmark::Initialize(&argc, argv);
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);

  std::printf("\n%-22s %9s %11s %7s  %-12s %s\n", "benchmark", "ours ms", "CPython ms", "ratio",
              "ours result", "CPython result");
  for (const Case& c : kCases) {
    auto ours = collector.times.find(c.name);
    if (ours == collector.times.end()) continue;
    std::string result;
    size_t textSize = 0;
    double py = -1;
    for (int i = 0; i < kRepetitions; ++i) {
      double t = RunPython(c, &result, &textSize);
      if (t > 0 && (py < 0 || t < py)) py = t;
    }
    if (py <= 0) {
      std::printf("%-22s %9.1f %11s\n", c.name, ours->second, "(no python3)");
      continue;
    }
    std::printf("%-22s %9.1f %11.1f %7.3f  %-12s %s%s\n", c.name, ours->second, py,
                ours->second / py, collector.labels[c.name].c_str(), result.c_str(),
                textSize == Text().size() ? "" : "  (texts differ)");
  }
  benchmark::Shutdown();
  return 0;
}
