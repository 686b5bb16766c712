// Moving objects in a running player: a break (SIGINT) during a blocking move that the frame
// limit paces ends the run at once, quietly and with status 0, the rest of the script not run.
#include <chrono>
#include <thread>

#include "tests/player/player_fixture.h"

namespace qv::testing {
namespace {

class MoveObjectTest : public PlayerTest {};

TEST_F(MoveObjectTest, SigintEndsAPacedBlockingMoveAtOnce) {
  // 190 steps at ten frames a second: nineteen seconds unless the break ends the move.
  const char* script = R"(
.display size 200 20
do SetFPSLimit(10)
do CreateBrush(1, 4, 4, 0xFF0000)
do DebugPrint("moving")
do MoveBrush(1, 0, 0, 190, 0, 1)
do DebugPrint("after")
)";
  WriteFile("move.qva", Applet(qvasm::TranslateOrFail(script)));
  env_.push_back("SDL_VIDEODRIVER=dummy");
  pid_t pid = Start({"move.qva", "-QUIET", "-DEBUGDEVICE", "::file" + Path("debug.txt")});
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (ReadFile("debug.txt") != "moving\n" && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(ReadFile("debug.txt"), "moving\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // a few steps into the move
  auto sent = std::chrono::steady_clock::now();
  kill(pid, SIGINT);
  PlayerRun r = Wait(pid);
  auto took = std::chrono::steady_clock::now() - sent;
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_LT(took, std::chrono::seconds(1));
  EXPECT_EQ(ReadFile("debug.txt"), "moving\n");
  EXPECT_EQ(r.err, "");
}

}  // namespace
}  // namespace qv::testing
