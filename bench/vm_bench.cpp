// The script machine against CPython 3: the same algorithms, timed in the same run, printed as
// ratios (our time / CPython's; below 1 means faster).
//
// Two tables. "In process": each program's main chunk loaded through the player's LoadMainChunk,
// which installs the player's line hook with its real break check, connected to the platform as
// while an applet runs (the platform started and display 1's input host installed), timed with
// Google Benchmark beside the same chunk with the hook removed; CPython times f(n) inside its
// process, plain and with an empty line tracer (sys.settrace). "Through the player": every program
// assembled as an applet and run by the real quillvane program as a whole process, beside python3
// running the same algorithm as a whole process; both print their result, which must agree. Every
// time in process is the best of five repetitions, run in a shuffled order over all programs with
// and without the hook (a slow spell of the machine, which may last seconds, then seldom meets all
// five of one side), every whole process the best of seven rounds that run both side by side (a
// whole process meets more of a shared machine's noise: page faults, other tenants' memory
// traffic); the traced CPython runs once (not for the appending programs, where a tracer makes
// CPython copy the string at every step). Last, start-up and exit alone: the player on an applet
// that does nothing beside "python3 -c pass", the best of twenty.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/events.h"
#include "core/player_state.h"
#include "core/registry.h"
#include "platform/loop.h"
#include "player/player.h"
#include "tools/qvasm/qvasm.h"
#include "vm/vm.h"

namespace {

struct Case {
  const char* name;
  double n;
  // The body of a function whose one parameter R0 is n and which returns one value; nested
  // functions may follow the body. Lines: a few instructions each, as compiled scripts have.
  const char* body;
  const char* python;  // defines f(n)
  // Whether CPython runs it under a tracer too: a traced s += piece copies the string at every
  // step (the tracer holds a reference to it), minutes for nothing to compare.
  bool traced = true;
};

// s = s .. "item" .. i .. "," for i = 1 .. n.
constexpr char kAppend[] = R"qv(
  .line 1
  LOADCONST R1, ""
  LOADCONST R2, 0
  MOVE R3, R0
  LOADCONST R4, 1
  JUMP @test
body:
  .line 2
  MOVE R5, R1
  LOADCONST R6, "item"
  MOVE R7, R2
  LOADCONST R8, ","
  CONCAT R1, R5, R8
test:
  FORLOOP R2, @body
  .line 3
  RETURN R1, n=1
)qv";

const Case kCases[] = {
    {"fib(30)", 30, R"qv(
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
)qv",
     "def fib(n):\n"
     "    if n < 2:\n"
     "        return n\n"
     "    return fib(n - 1) + fib(n - 2)\n"
     "def f(n):\n"
     "    return fib(n)\n"},
    {"sieve 2x10^6", 2e6, R"qv(
  .line 1
  NEWTABLE R1, arr=2000000 hashlog=1
  .line 2
  LOADCONST R2, -1
  SUB R3, R0, 1
  LOADCONST R4, 1
  JUMP @init_test
init:
  .line 3
  SETTABLE R1, R2, 0
init_test:
  .line 4
  FORLOOP R2, @init
  .line 5
  LOADCONST R5, 0
  .line 6
  LOADCONST R2, 1
  SUB R3, R0, 1
  LOADCONST R4, 1
  JUMP @outer_test
outer:
  .line 7
  GETTABLE R6, R1, R2
  EQ 0, R6, 0
  JUMP @outer_test
  .line 8
  ADD R5, R5, 1
  .line 9
  MUL R7, R2, R2
  SUB R7, R7, R2
  SUB R8, R0, 1
  MOVE R9, R2
  JUMP @inner_test
inner:
  .line 10
  SETTABLE R1, R7, 1
inner_test:
  .line 11
  FORLOOP R7, @inner
outer_test:
  .line 12
  FORLOOP R2, @outer
  .line 13
  RETURN R5, n=1
)qv",
     "def f(n):\n"
     "    flags = [0] * n\n"
     "    count = 0\n"
     "    for i in range(2, n):\n"
     "        if flags[i] == 0:\n"
     "            count += 1\n"
     "            for j in range(i * i, n, i):\n"
     "                flags[j] = 1\n"
     "    return count\n"},
    {"sum 2x10^7", 2e7, R"qv(
  .line 1
  LOADCONST R1, 0
  .line 2
  LOADCONST R2, 0
  MOVE R3, R0
  LOADCONST R4, 1
  JUMP @test
body:
  .line 3
  MUL R5, R2, 2
  ADD R5, R5, 1
  ADD R1, R1, R5
test:
  .line 4
  FORLOOP R2, @body
  .line 5
  RETURN R1, n=1
)qv",
     "def f(n):\n"
     "    s = 0\n"
     "    for i in range(1, n + 1):\n"
     "        s += i * 2 + 1\n"
     "    return s\n"},
    {"keys 3x10^5", 3e5, R"qv(
  .line 1
  NEWTABLE R1, 0, 0
  .line 2
  LOADCONST R2, 0
  MOVE R3, R0
  LOADCONST R4, 1
  JUMP @t1
insert:
  .line 3
  LOADCONST R5, "k"
  MOVE R6, R2
  CONCAT R5, R5, R6
  SETTABLE R1, R5, R2
t1:
  .line 4
  FORLOOP R2, @insert
  .line 5
  LOADCONST R7, 0
  .line 6
  LOADCONST R2, 0
  MOVE R3, R0
  LOADCONST R4, 1
  JUMP @t2
lookup:
  .line 7
  LOADCONST R5, "k"
  MOVE R6, R2
  CONCAT R5, R5, R6
  GETTABLE R8, R1, R5
  .line 8
  ADD R7, R7, R8
t2:
  .line 9
  FORLOOP R2, @lookup
  .line 10
  RETURN R7, n=1
)qv",
     "def f(n):\n"
     "    d = {}\n"
     "    for i in range(1, n + 1):\n"
     "        d[\"k\" + str(i)] = i\n"
     "    s = 0\n"
     "    for i in range(1, n + 1):\n"
     "        s += d[\"k\" + str(i)]\n"
     "    return s\n"},
    {"loop 10^8", 1e8, R"qv(
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
)qv",
     "def f(n):\n"
     "    s = 0\n"
     "    for i in range(1, n + 1):\n"
     "        s += i\n"
     "    return s\n"},
    {"sieve 10^7", 1e7, R"qv(
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
)qv",
     "def f(n):\n"
     "    s = \"\"\n"
     "    for i in range(1, n + 1):\n"
     "        s = \"item\" + str(i) + \",\" + str(i * 2)\n"
     "    return s\n"},
    // A string grown by appending, s = s .. piece, beside CPython's s += piece (which grows its
    // string in place while nothing else holds it).
    {"append 2x10^4", 2e4, kAppend,
     "def f(n):\n"
     "    s = \"\"\n"
     "    for i in range(1, n + 1):\n"
     "        s += \"item\" + str(i) + \",\"\n"
     "    return s\n",
     false},
    {"append 10^5", 1e5, kAppend,
     "def f(n):\n"
     "    s = \"\"\n"
     "    for i in range(1, n + 1):\n"
     "        s += \"item\" + str(i) + \",\"\n"
     "    return s\n",
     false},
};

constexpr int kRepetitions = 5;
constexpr int kProcessRounds = 7;

// The chunk the in-process runs call: main(n) returns the result.
std::string InProcessText(const Case& c) {
  return std::string(".function main params=1\n") + c.body + ".end\n";
}

// The applet: main runs the program on n and prints its result through DebugPrint.
std::string AppletText(const Case& c) {
  char n[32];
  std::snprintf(n, sizeof n, "%.0f", c.n);
  return std::string(".function main\n  .line 1\n  CLOSURE R0, program\n  LOADCONST R1, ") + n +
         "\n  CALL R0, nargs=1, nres=1\n  GETGLOBAL R1, \"debugprint\"\n  MOVE R2, R0\n"
         "  CALL R1, nargs=1, nres=0\n  RETURN R0, n=0\n  .function program params=1\n" +
         c.body + "  .end\n.end\n";
}

std::string PythonText(const Case& c, bool timed, bool traced) {
  std::string n = std::to_string(static_cast<long long>(c.n));
  std::string out = "import sys, time\n" + std::string(c.python);
  if (!timed) return out + "r = f(" + n + ")\nprint(r if not isinstance(r, str) else r[:24])\n";
  return out +
         "def tracer(frame, event, arg):\n"
         "    return tracer\n"
         "t = time.perf_counter()\n" +
         (traced ? "sys.settrace(tracer)\n" : "") + "r = f(" + n +
         ")\n"
         "sys.settrace(None)\n"
         "e = time.perf_counter() - t\n"
         "print(e * 1000.0)\n"
         "print(r if not isinstance(r, str) else r[:24])\n";
}

// The player's surroundings while an applet runs: the platform started and display 1's input
// host installed, so that the break check does what it does in the player.
struct PlayerSurroundings {
  PlayerSurroundings() {
    qv::InitPlatform();
    const qv::qvAttrSetItem quiet[] = {{qv::kAttrQuiet, 1}, {0, 0}};
    qv::SetRuntimeAttrs(nullptr, quiet);
    qv::OpenInputDisplay();
    qv::SetDisplayHost(qv::InputDisplayHost());
  }
  ~PlayerSurroundings() {
    qv::SetDisplayHost(nullptr);
    qv::CloseInputDisplay(nullptr);
    qv::ShutdownPlatform();
  }
};

void RunOurs(benchmark::State& state, const Case* c, bool hook) {
  qvasm::Result chunk = qvasm::Assemble(InProcessText(*c));
  if (!chunk.ok()) {
    state.SkipWithError(chunk.diags[0].message.c_str());
    return;
  }
  qv::qvScriptState* L = qv::VmOpenState(qv::CoreVmHost());  // the player's host, as it opens it
  qv::qvAppletSettings settings{};
  qv::qvPlayerState player{};
  settings.mainChunk = chunk.bytes;
  // The player's own loading: it installs the line hook with the break check.
  if (qv::LoadMainChunk(L, &player, &settings) != 0) {
    state.SkipWithError("load failed");
    qv::VmCloseState(L);
    return;
  }
  if (hook)
    qv::ConnectBreakCheck(L);  // as the player does before the script runs
  else
    qv::VmSetHook(L, nullptr, 0, 0);
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
  qv::ConnectBreakCheck(nullptr);
  qv::VmCloseState(L);
}

// Runs a command and returns its wall-clock time in milliseconds with the first line it printed,
// or a negative time when it failed.
double RunProcess(const std::string& command, std::string* firstLine) {
  auto start = std::chrono::steady_clock::now();
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return -1;
  char line[256];
  firstLine->clear();
  if (std::fgets(line, sizeof line, p) != nullptr) *firstLine = line;
  while (std::fgets(line, sizeof line, p) != nullptr) {
  }
  int status = pclose(p);
  double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  if (!firstLine->empty() && firstLine->back() == '\n') firstLine->pop_back();
  return status == 0 ? ms : -1;
}

// CPython's in-process time of f(n) in milliseconds (start-up excluded), or negative.
double RunPythonTimed(const std::string& file, std::string* result) {
  std::string command = "/usr/bin/python3 " + file;
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

bool WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  return bool(out);
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return bool(out);
}

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

void InProcessTable(const Collector& collector, const std::string& dir) {
  std::printf(
      "\nIn process (ours with and without the player's line hook; CPython inside its "
      "process)\n");
  std::printf("%-17s %9s %13s %9s %11s %7s %11s %15s %12s  %s\n", "program", "ours ms",
              "ours+hook ms", "overhead", "CPython ms", "ratio", "ratio+hook", "CPython+trace",
              "hook/trace", "CPython result");
  for (const Case& c : kCases) {
    auto ours = collector.times.find(std::string(c.name));
    auto hooked = collector.times.find(std::string(c.name) + " +hook");
    if (ours == collector.times.end() || hooked == collector.times.end()) continue;
    std::string plainFile = dir + "/timed.py", tracedFile = dir + "/traced.py";
    WriteFile(plainFile, PythonText(c, true, false));
    WriteFile(tracedFile, PythonText(c, true, true));
    std::string result;
    double py = -1;
    for (int i = 0; i < kRepetitions; ++i) {
      double t = RunPythonTimed(plainFile, &result);
      if (t > 0 && (py < 0 || t < py)) py = t;
    }
    double traced = c.traced ? RunPythonTimed(tracedFile, &result) : 0;
    double overhead = 100.0 * (hooked->second / ours->second - 1.0);
    if (py <= 0 || (c.traced && traced <= 0)) {
      std::printf("%-17s %9.1f %13.1f %8.1f%% %11s\n", c.name, ours->second, hooked->second,
                  overhead, "(no python3)");
      continue;
    }
    if (!c.traced) {
      std::printf("%-17s %9.1f %13.1f %8.1f%% %11.1f %7.3f %11.3f %15s %12s  %s\n", c.name,
                  ours->second, hooked->second, overhead, py, ours->second / py,
                  hooked->second / py, "-", "-", result.c_str());
      continue;
    }
    std::printf("%-17s %9.1f %13.1f %8.1f%% %11.1f %7.3f %11.3f %15.1f %12.3f  %s\n", c.name,
                ours->second, hooked->second, overhead, py, ours->second / py, hooked->second / py,
                traced, hooked->second / traced, result.c_str());
  }
}

// Whether two printed results agree: as numbers when both read as numbers (the player prints
// "%.14g", Python prints integers whole), else as the first 24 characters.
bool SameResult(const std::string& a, const std::string& b) {
  char* endA;
  char* endB;
  double x = std::strtod(a.c_str(), &endA), y = std::strtod(b.c_str(), &endB);
  if (!a.empty() && !b.empty() && *endA == '\0' && *endB == '\0') return x == y;
  return a.substr(0, 24) == b.substr(0, 24);
}

// Only the programs that the in-process part ran (--benchmark_filter chooses them).
void ThroughPlayerTable(const Collector& collector, const std::string& dir) {
  std::printf(
      "\nThrough the player (whole processes: quillvane on the applet, python3 on the "
      "same algorithm)\n");
  std::printf("%-17s %10s %11s %7s  %-24s %s\n", "program", "player ms", "CPython ms", "ratio",
              "player result", "CPython result");
  for (const Case& c : kCases) {
    if (collector.times.find(c.name) == collector.times.end()) continue;
    qvasm::Result applet = qvasm::AssembleApplet(AppletText(c));
    std::string appletFile = dir + "/program.qva", pyFile = dir + "/program.py";
    if (!applet.ok() || !WriteFile(appletFile, applet.bytes) ||
        !WriteFile(pyFile, PythonText(c, false, false))) {
      std::printf("%-17s (cannot write the applet or the script)\n", c.name);
      continue;
    }
    std::string ours, theirs;
    double player = -1, py = -1;
    // Side by side: each round runs both, so that a busy moment of the machine hits both.
    for (int i = 0; i < kProcessRounds; ++i) {
      double t = RunProcess(std::string(QV_PLAYER_PATH) + " " + appletFile + " -QUIET", &ours);
      if (t > 0 && (player < 0 || t < player)) player = t;
      t = RunProcess("/usr/bin/python3 " + pyFile, &theirs);
      if (t > 0 && (py < 0 || t < py)) py = t;
    }
    if (player <= 0 || py <= 0) {
      std::printf("%-17s (the player or python3 failed)\n", c.name);
      continue;
    }
    std::printf("%-17s %10.1f %11.1f %7.3f  %-24s %s%s\n", c.name, player, py, player / py,
                ours.substr(0, 24).c_str(), theirs.c_str(),
                SameResult(ours, theirs) ? "" : "  (results differ)");
  }
}

// The start and end of both programs: every whole-process time above holds them.
void StartupTable(const std::string& dir) {
  qvasm::Result applet = qvasm::AssembleApplet(".function main\n  .line 1\n  RETURN R0, 1\n.end\n");
  std::string appletFile = dir + "/empty.qva";
  if (!applet.ok() || !WriteFile(appletFile, applet.bytes)) return;
  double player = -1, py = -1;
  std::string line;
  for (int i = 0; i < 20; ++i) {
    double t = RunProcess(std::string(QV_PLAYER_PATH) + " " + appletFile + " -QUIET", &line);
    if (t > 0 && (player < 0 || t < player)) player = t;
    t = RunProcess("/usr/bin/python3 -c pass", &line);
    if (t > 0 && (py < 0 || t < py)) py = t;
  }
  if (player <= 0 || py <= 0) {
    std::printf("\nStart-up and exit: the player or python3 failed\n");
    return;
  }
  std::printf(
      "\nStart-up and exit (an empty applet; python3 -c pass): player %.1f ms, CPython %.1f ms, "
      "ratio %.3f\n",
      player, py, player / py);
}

// A loop without commands, one instruction on its line jumping to itself.
constexpr char kTightLoop[] = R"qv(
.function main
  .line 1
  GETGLOBAL R0, "debugprint"
  LOADCONST R1, "looping"
  CALL R0, nargs=1, nres=0
top:
  .line 2
  JUMP @top
  RETURN R0, 1
.end
)qv";

// Milliseconds from SIGINT to the end of the player's process (shutdown included) while the
// script runs a tight loop, or a negative value when the run failed.
double SigintLatency(const std::string& appletFile, const std::string& outFile) {
  std::remove(outFile.c_str());
  std::string program = QV_PLAYER_PATH, quiet = "-QUIET", device = "-DEBUGDEVICE",
              target = "::file" + outFile;
  char* argv[] = {program.data(), const_cast<char*>(appletFile.c_str()),
                  quiet.data(),   device.data(),
                  target.data(),  nullptr};
  pid_t pid;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0) return -1;
  // The loop runs once the script has printed its line.
  for (int i = 0; i < 2000; ++i) {
    std::ifstream in(outFile);
    std::string line;
    if (std::getline(in, line) && line == "looping") break;
    usleep(5000);
  }
  usleep(50000);
  auto start = std::chrono::steady_clock::now();
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);
  double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms : -1;
}

void SigintTable(const std::string& dir) {
  qvasm::Result applet = qvasm::AssembleApplet(kTightLoop);
  std::string appletFile = dir + "/loop.qva";
  if (!applet.ok() || !WriteFile(appletFile, applet.bytes)) return;
  double best = -1, worst = -1;
  for (int i = 0; i < 5; ++i) {
    double t = SigintLatency(appletFile, dir + "/debug.txt");
    if (t < 0) {
      std::printf("\nSIGINT during a tight loop: the run failed\n");
      return;
    }
    if (best < 0 || t < best) best = t;
    if (t > worst) worst = t;
  }
  std::printf(
      "\nSIGINT during a tight loop to the end of the player: best %.1f ms, worst %.1f ms "
      "of 5\n",
      best, worst);
}

}  // namespace

int main(int argc, char** argv) {
  PlayerSurroundings surroundings;
  for (const Case& c : kCases) {
    benchmark::RegisterBenchmark(c.name, RunOurs, &c, false)
        ->Unit(benchmark::kMillisecond)
        ->Repetitions(kRepetitions);
    benchmark::RegisterBenchmark((std::string(c.name) + " +hook").c_str(), RunOurs, &c, true)
        ->Unit(benchmark::kMillisecond)
        ->Repetitions(kRepetitions);
  }
  // The repetitions of all programs, with and without the hook, run in a shuffled order: a busy
  // moment of the machine then falls on either at random instead of on one of a pair. A flag
  // given on the command line still decides.
  std::vector<char*> args(argv, argv + argc);
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, interleave.data());
  int count = int(args.size());
  benchmark::Initialize(&count, args.data());
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);

  char dir[] = "/tmp/vm_bench.XXXXXX";
  if (mkdtemp(dir) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  InProcessTable(collector, dir);
  ThroughPlayerTable(collector, dir);
  SigintTable(dir);
  StartupTable(dir);
  std::system((std::string("rm -rf ") + dir).c_str());
  benchmark::Shutdown();
  return 0;
}
