// Waiting in a running player: Wait sleeps on the platform's queued wait (no busy loop) and a
// break (SIGINT) ends it at once, the script then ending quietly with status 0.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>

#include "tests/player/player_fixture.h"

namespace qv::testing {
namespace {

// Prints "waiting", waits `time` in `unit` (0 seconds, 1 milliseconds, 2 ticks), then prints
// "after".
std::string WaitApplet(int time, int unit) {
  return R"(
.function main
  GETGLOBAL R0, "debugprint"
  LOADCONST R1, "waiting"
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "wait"
  LOADCONST R1, )" +
         std::to_string(time) + R"(
  LOADCONST R2, )" +
         std::to_string(unit) + R"(
  CALL R0, nargs=2, nres=0
  GETGLOBAL R0, "debugprint"
  LOADCONST R1, "after"
  CALL R0, nargs=1, nres=0
  RETURN R0, 1
.end
)";
}

double ChildCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

class WaitTest : public PlayerTest {};

TEST_F(WaitTest, SigintEndsATenSecondWaitQuietly) {
  WriteFile("wait.qva", Applet(WaitApplet(10, 0)));
  pid_t pid = Start({"wait.qva", "-QUIET", "-DEBUGDEVICE", "::file" + Path("debug.txt")});
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (ReadFile("debug.txt") != "waiting\n" && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(ReadFile("debug.txt"), "waiting\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // well inside the wait
  auto sent = std::chrono::steady_clock::now();
  kill(pid, SIGINT);
  PlayerRun r = Wait(pid);
  auto took = std::chrono::steady_clock::now() - sent;
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_LT(took, std::chrono::seconds(1));
  EXPECT_EQ(ReadFile("debug.txt"), "waiting\n");  // nothing after the wait, no error line
  EXPECT_EQ(r.err, "");
}

TEST_F(WaitTest, WaitSleepsWithoutSpendingProcessorTime) {
  struct Case {
    int time, unit;
    int atLeastMs;
  };
  // The processor time of a run whose wait is 0, start-up and shutdown included: a slow build on
  // a busy machine spends a good part of a second there, which is no part of the wait.
  auto run = [&](int time, int unit, std::chrono::steady_clock::duration* took) {
    WriteFile("wait.qva", Applet(WaitApplet(time, unit)));
    double cpuBefore = ChildCpuSeconds();
    auto started = std::chrono::steady_clock::now();
    PlayerRun r = Run({"wait.qva", "-QUIET", "-DEBUGDEVICE", "::file" + Path("debug.txt")});
    *took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile("debug.txt"), "waiting\nafter\n");
    return ChildCpuSeconds() - cpuBefore;
  };
  std::chrono::steady_clock::duration took;
  // 25 ticks of 20 ms; 600 milliseconds; 1 second.
  for (Case c : {Case{25, 2, 500}, Case{600, 1, 600}, Case{1, 0, 1000}}) {
    // A busy wait spends about the wait's length beyond the run without one, every time. A
    // machine busy with other work adds processor time to a run now and then (slower page
    // faults, shared caches), so a case has three tries, each against its own run without one.
    const double limit = 0.5 * c.atLeastMs / 1000;
    double extra = 1e9;  // the least extra time of the tries
    for (int attempt = 0; attempt < 3 && extra >= limit; ++attempt) {
      const double baseline = run(0, 1, &took);
      const double cpu = run(c.time, c.unit, &took);
      EXPECT_GE(took, std::chrono::milliseconds(c.atLeastMs)) << c.time << " in unit " << c.unit;
      extra = std::min(extra, cpu - baseline);
    }
    EXPECT_LT(extra, limit) << c.time << " in unit " << c.unit;
  }
}

}  // namespace
}  // namespace qv::testing
