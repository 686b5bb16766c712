// Events end to end through the player program: user messages between two running players with
// the handler replaced, kept and removed, and a WaitEvent that sleeps until SIGINT ends the run.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/player/player_fixture.h"

namespace qv::testing {
namespace {

using namespace std::chrono_literals;

class EventsTest : public PlayerTest {
 protected:
  // Polls the file until it holds `text`; false after ten seconds.
  bool WaitFor(const std::string& name, const std::string& text) {
    for (int i = 0; i < 1000; ++i) {
      if (ReadFile(name).find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }
  std::vector<std::string> DebugArgs(const std::string& file) {
    return {"-QUIET", "-DEBUGDEVICE", "::file" + Path(file)};
  }
  PlayerRun RunApplet(const std::string& name, const std::string& text, const std::string& out) {
    WriteFile(name, Applet(text));
    std::vector<std::string> args = {name};
    for (auto& a : DebugArgs(out)) args.push_back(a);
    return Run(args);
  }
};

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// The receiving player: its own port refused, then three handlers in turn, the third removing
// itself; it waits for events until SIGINT.
constexpr char kReceiver[] = R"(
.function main
  GETGLOBAL R0, "exitonerror"
  LOADCONST R1, 0
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "createport"
  LOADCONST R1, "PORT"
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "sendmessage"
  LOADCONST R1, "PORT"
  LOADCONST R2, "hello"
  CALL R0, nargs=2, nres=0
  GETGLOBAL R0, "debugprint"
  LOADCONST R1, "own port:"
  GETGLOBAL R2, "getlasterror"
  CALL R2, nargs=0, nres=1
  CALL R0, nargs=2, nres=0
  CLOSURE R0, show
  SETGLOBAL R0, "show"
  CLOSURE R0, h2
  SETGLOBAL R0, "h2"
  CLOSURE R0, h3
  SETGLOBAL R0, "h3"
  LOADCONST R0, 0
  SETGLOBAL R0, "done"
  GETGLOBAL R0, "installeventhandler"
  NEWTABLE R1, 0, 0
  CLOSURE R2, h1
  SETTABLE R1, "onusermessage", R2
  LOADCONST R2, "ud1"
  CALL R0, nargs=2, nres=0
  GETGLOBAL R0, "debugprint"
  LOADCONST R1, "ready"
  CALL R0, nargs=1, nres=0
loop:
  GETGLOBAL R0, "waitevent"
  CALL R0, nargs=0, nres=0
  GETGLOBAL R1, "done"
  EQ 1, R1, 0
  JUMP @loop
  GETGLOBAL R0, "debugprint"
  LOADCONST R1, "end"
  CALL R0, nargs=1, nres=0
  RETURN R0, 1
  .function show
    .param "tag" "msg"
    GETGLOBAL R2, "debugprint"
    MOVE R3, R0
    GETTABLE R4, R1, "action"
    GETTABLE R5, R1, "command"
    GETTABLE R6, R1, "args"
    GETTABLE R7, R1, "rawargs"
    GETTABLE R8, R1, "argc"
    GETTABLE R9, R1, "userdata"
    CALL R2, nargs=7, nres=0
    RETURN R0, 1
  .end
  .function h1
    .param "msg"
    GETGLOBAL R1, "show"
    LOADCONST R2, "h1"
    MOVE R3, R0
    CALL R1, nargs=2, nres=0
    GETGLOBAL R1, "installeventhandler"
    NEWTABLE R2, 0, 0
    GETGLOBAL R3, "h2"
    SETTABLE R2, "onusermessage", R3
    CALL R1, nargs=1, nres=0
    RETURN R0, 1
  .end
  .function h2
    .param "msg"
    GETGLOBAL R1, "show"
    LOADCONST R2, "h2"
    MOVE R3, R0
    CALL R1, nargs=2, nres=0
    GETGLOBAL R1, "installeventhandler"
    NEWTABLE R2, 0, 0
    GETGLOBAL R3, "h3"
    SETTABLE R2, "onusermessage", R3
    LOADCONST R3, "ud3"
    CALL R1, nargs=2, nres=0
    RETURN R0, 1
  .end
  .function h3
    .param "msg"
    GETGLOBAL R1, "show"
    LOADCONST R2, "h3"
    MOVE R3, R0
    CALL R1, nargs=2, nres=0
    GETGLOBAL R1, "installeventhandler"
    NEWTABLE R2, 0, 0
    SETTABLE R2, "onusermessage", 0
    CALL R1, nargs=1, nres=0
    GETGLOBAL R1, "debugprint"
    LOADCONST R2, "removed"
    CALL R1, nargs=1, nres=0
    RETURN R0, 1
  .end
.end
)";

// A sender: ExitOnError off, then each message's SendMessage (a port of "PORT" is the receiver's)
// followed by its error code.
std::string Sender(const std::string& port, const std::vector<std::vector<std::string>>& messages) {
  std::string text =
      ".function main\n  GETGLOBAL R0, \"exitonerror\"\n  LOADCONST R1, 0\n"
      "  CALL R0, nargs=1, nres=0\n";
  for (const auto& m : messages) {
    text += "  GETGLOBAL R0, \"sendmessage\"\n";
    for (size_t i = 0; i < m.size(); ++i) {
      text += "  LOADCONST R" + std::to_string(i + 1) + ", \"" +
              (i == 0 && m[i] == "PORT" ? port : m[i]) + "\"\n";
    }
    text += "  CALL R0, nargs=" + std::to_string(m.size()) + ", nres=0\n";
    text +=
        "  GETGLOBAL R0, \"debugprint\"\n  GETGLOBAL R1, \"getlasterror\"\n"
        "  CALL R1, nargs=0, nres=1\n  CALL R0, nargs=1, nres=0\n";
  }
  return text + "  RETURN R0, 1\n.end\n";
}

TEST_F(EventsTest, UserMessagesBetweenTwoPlayers) {
  const std::string port = "qvevents" + std::to_string(getpid());
  WriteFile("receiver.qva", Applet(Replace(kReceiver, "PORT", port)));
  std::vector<std::string> args = {"receiver.qva"};
  for (auto& a : DebugArgs("receiver.txt")) args.push_back(a);
  pid_t receiver = Start(args);
  ASSERT_TRUE(WaitFor("receiver.txt", "ready\n")) << ReadFile("receiver.txt");

  struct Step {
    std::vector<std::vector<std::string>> messages;
    std::string sent;      // what the sender prints: one error code per message
    std::string received;  // what the receiver then prints
  };
  const Step steps[] = {
      {{{"PORT", "play", "a b", "c"}}, "0\n", "h1 OnUserMessage play a b \"a b\" \"c\" 2 ud1\n"},
      // Replaced without a userdata: the old one stays.
      {{{"PORT", "stop"}}, "0\n", "h2 OnUserMessage stop   0 ud1\n"},
      // Replaced with a userdata: the new one.
      {{{"PORT", "go", "x y z"}}, "0\n", "h3 OnUserMessage go x y z \"x y z\" 1 ud3\nremoved\n"},
      {{{"qvnosuchport", "hi"}, {"PORT", "two words"}, {"PORT", ""}}, "1275\n1055\n1055\n", ""},
  };
  std::string expected = "own port: 1055\nready\n";
  for (const Step& step : steps) {
    PlayerRun r = RunApplet("sender.qva", Sender(port, step.messages), "sender.txt");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile("sender.txt"), step.sent);
    expected += step.received;
    if (!step.received.empty()) {
      ASSERT_TRUE(WaitFor("receiver.txt", expected)) << ReadFile("receiver.txt");
    }
  }
  // Removed: a message now is taken and dropped.
  PlayerRun r = RunApplet("sender.qva", Sender(port, {{"PORT", "lost"}}), "sender.txt");
  EXPECT_EQ(ReadFile("sender.txt"), "0\n");
  kill(receiver, SIGINT);
  PlayerRun end = Wait(receiver);
  EXPECT_EQ(end.status, 0) << end.err;
  EXPECT_EQ(ReadFile("receiver.txt"), expected);
}

// Processor time of all the process's threads so far, in seconds (the scheduler's nanosecond
// counts, finer than the clock ticks of /proc/<pid>/stat).
double CpuSeconds(pid_t pid) {
  double ns = 0;
  std::string dir = "/proc/" + std::to_string(pid) + "/task";
  for (const auto& task : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(task.path() / "schedstat");
    double run = 0;
    if (in >> run) ns += run;
  }
  return ns / 1e9;
}

// A WaitEvent with nothing pending sleeps: it uses almost no processor time, and SIGINT ends the
// run at once with status 0 (the script does not go on behind the wait).
TEST_F(EventsTest, WaitEventSleepsUntilSigint) {
  WriteFile("wait.qva", Applet(R"(
.function main
  GETGLOBAL R0, "debugprint"
  LOADCONST R1, "waiting"
  CALL R0, nargs=1, nres=0
  GETGLOBAL R0, "waitevent"
  CALL R0, nargs=0, nres=0
  GETGLOBAL R0, "debugprint"
  LOADCONST R1, "went on"
  CALL R0, nargs=1, nres=0
  RETURN R0, 1
.end
)"));
  std::vector<std::string> args = {"wait.qva"};
  for (auto& a : DebugArgs("wait.txt")) args.push_back(a);
  pid_t pid = Start(args);
  ASSERT_TRUE(WaitFor("wait.txt", "waiting\n"));
  double before = CpuSeconds(pid);
  std::this_thread::sleep_for(2s);
  double used = CpuSeconds(pid) - before;
  RecordProperty("cpu_ms_over_2s", std::to_string(used * 1000));
  std::printf("processor time over a 2 s WaitEvent: %.3f ms\n", used * 1000);
  EXPECT_LT(used, 0.1);
  auto start = std::chrono::steady_clock::now();
  kill(pid, SIGINT);
  PlayerRun r = Wait(pid);
  double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_LT(ms, 2000);
  EXPECT_EQ(ReadFile("wait.txt"), "waiting\n");
}

}  // namespace
}  // namespace qv::testing
