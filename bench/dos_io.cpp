// The dos library's file transfers on one large file (1 GiB; QV_DOS_IO_MB sets another size in
// MiB): written and read line by line (WriteLine, ReadLine, FileLines) beside python3's f.write
// and `for line in f` on binary files, and in blocks of 64 KiB (WriteString and ReadString,
// WriteMem and ReadMem) beside `dd bs=64k`, all in one run on the same directory, printed as
// ratios (our time / the reference's; below 1 means faster). Goals: lines no slower than
// python3, blocks within 1.25 times dd. The scripts run in process on the machine with the
// libraries open, as the player runs them (cmake --preset bench).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "core/errors.h"
#include "core/registry.h"
#include "libs/libraries.h"
#include "tools/qvasm/qvasm.h"
#include "vm/vm.h"

namespace {

constexpr int64_t kLineBytes = 101;  // 99 characters, CR and LF
constexpr int64_t kBlock = 65536;

int64_t Megabytes() {
  const char* v = std::getenv("QV_DOS_IO_MB");
  int64_t mb = v != nullptr ? std::atoll(v) : 1024;
  return mb > 0 ? mb : 1024;
}
int64_t Lines() { return Megabytes() * 1048576 / kLineBytes; }
int64_t Blocks() { return Megabytes() * 1048576 / kBlock; }

std::string Dir() {
  static std::string dir = [] {
    char pattern[] = "/tmp/qv_dos_io_XXXXXX";
    return std::string(mkdtemp(pattern));
  }();
  return dir;
}
std::string LinesFile() { return Dir() + "/lines.txt"; }
std::string BlocksFile() { return Dir() + "/blocks.bin"; }

std::string Replace(std::string s, const std::string& from, const std::string& to) {
  for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) {
    s.replace(at, from.size(), to);
  }
  return s;
}

struct Case {
  const char* name;
  const char* script;     // in the script notation of tools/qvasm
  const char* reference;  // shell command; LINES, BLOCKS, LFILE and BFILE are filled in
};

const Case kCases[] = {
    {"WriteLine", R"(
line = RepeatStr("x", 99)
do OpenFile(1, LFILE, 1006)
for i = 1, LINES
  do WriteLine(1, line)
end
do CloseFile(1)
)",
     "python3 -c \"\nline = b'x' * 99 + b'\\r\\n'\nwith open('LFILE', 'wb') as f:\n"
     "  for i in range(LINES): f.write(line)\n\""},
    {"ReadLine", R"(
do OpenFile(1, LFILE)
for i = 1, LINES
  do ReadLine(1)
end
do CloseFile(1)
)",
     "python3 -c \"\nwith open('LFILE', 'rb') as f:\n  for line in f: pass\n\""},
    {"FileLines", R"(
for line in FileLines(LFILE)
end
)",
     "python3 -c \"\nwith open('LFILE', 'rb') as f:\n  for line in f: pass\n\""},
    {"WriteString", R"(
b = RepeatStr("y", 65536)
do OpenFile(1, BFILE, 1006)
for i = 1, BLOCKS
  do WriteString(1, b)
end
do CloseFile(1)
)",
     "dd if=/dev/zero of=BFILE bs=64k count=BLOCKS status=none"},
    {"ReadString", R"(
do OpenFile(1, BFILE)
for i = 1, BLOCKS
  do ReadString(1, 65536)
end
do CloseFile(1)
)",
     "dd if=BFILE of=/dev/null bs=64k status=none"},
    {"WriteMem", R"(
do AllocMem(1, 65536)
do FillMem(1, 122, 65536)
do OpenFile(1, BFILE, 1006)
for i = 1, BLOCKS
  do WriteMem(1, 1, 65536)
end
do CloseFile(1)
)",
     "dd if=/dev/zero of=BFILE bs=64k count=BLOCKS status=none"},
    {"ReadMem", R"(
do AllocMem(1, 65536)
do OpenFile(1, BFILE)
for i = 1, BLOCKS
  do ReadMem(1, 1, 65536)
end
do CloseFile(1)
)",
     "dd if=BFILE of=/dev/null bs=64k status=none"},
};

std::string Fill(const std::string& text, bool quoted) {
  std::string q = quoted ? "\"" : "";
  std::string s = Replace(text, "LINES", std::to_string(Lines()));
  s = Replace(s, "BLOCKS", std::to_string(Blocks()));
  s = Replace(s, "LFILE", q + LinesFile() + q);
  return Replace(s, "BFILE", q + BlocksFile() + q);
}

qv::qvScriptState* OpenMachine() {
  qv::qvScriptState* L = qv::VmOpenState(qv::CoreVmHost());
  qv::SetProcessVm(L);
  for (const qv::qvLibrary* library : {&qv::kStringLibrary, &qv::kMathLibrary, &qv::kDosLibrary,
                                       &qv::kSystemLibrary, &qv::kMemBlockLibrary}) {
    qv::OpenLibrary(L, *library);
  }
  return L;
}

void RunOurs(benchmark::State& state, const Case* c) {
  qvasm::Result chunk = qvasm::Assemble(qvasm::TranslateScript(Fill(c->script, true)).text);
  if (!chunk.ok()) {
    state.SkipWithError(chunk.diags[0].message.c_str());
    return;
  }
  qv::qvScriptState* L = OpenMachine();
  for (auto _ : state) {
    qv::qvChunkBuffer buffer{reinterpret_cast<const char*>(chunk.bytes.data()), chunk.bytes.size()};
    if (qv::VmLoad(L, qv::ChunkReader, &buffer, "bench") != 0 || qv::VmPCall(L, 0, 0, 0) != 0) {
      state.SkipWithError("the script failed");
      break;
    }
  }
  qv::FreeDosLibrary(L);
  qv::FreeMemBlockLibrary(L);
  qv::VmCloseState(L);
  qv::SetProcessVm(nullptr);
}

double RunReference(const Case& c) {
  std::string command = Fill(c.reference, false);
  auto start = std::chrono::steady_clock::now();
  if (std::system(command.c_str()) != 0) return -1;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class Collector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration) {
        times[run.run_name.function_name] = run.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;  // seconds
};

}  // namespace

int main(int argc, char** argv) {
  for (const Case& c : kCases) {
    benchmark::RegisterBenchmark(c.name, RunOurs, &c)
        ->Unit(benchmark::kSecond)
        ->Iterations(1)
        ->UseRealTime();
  }
  benchmark::Initialize(&argc, argv);
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  std::printf("\n%lld MiB; %-12s %9s %12s %7s  %s\n", static_cast<long long>(Megabytes()), "case",
              "ours s", "reference s", "ratio", "reference");
  for (const Case& c : kCases) {
    auto ours = collector.times.find(c.name);
    if (ours == collector.times.end()) continue;
    double reference = RunReference(c);
    const char* who = c.reference[0] == 'd' ? "dd bs=64k" : "python3";
    if (reference <= 0) {
      std::printf("%-22s %9.2f %12s\n", c.name, ours->second, "(failed)");
      continue;
    }
    std::printf("%-22s %9.2f %12.2f %7.3f  %s\n", c.name, ours->second, reference,
                ours->second / reference, who);
  }
  std::filesystem::remove_all(Dir());
  benchmark::Shutdown();
  return 0;
}
