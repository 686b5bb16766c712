// Requesters in a running player where nobody can answer them: without a display and without
// answers they are said on standard error and cancelled at once, never waited for.
#include <chrono>

#include "tests/player/player_fixture.h"

namespace qv::testing {
namespace {

class RequesterTest : public PlayerTest {
 protected:
  void SetUp() override {
    PlayerTest::SetUp();
    unsetEnv_ = {"DISPLAY", "WAYLAND_DISPLAY", "QUILLVANE_REQUESTER_SCRIPT",
                 "QUILLVANE_REQUESTER_LOG"};
  }
  PlayerRun RunApplet(const std::string& text) {
    WriteFile("main.qva", Applet(text));
    return Run({"main.qva", "-QUIET", "-DEBUGDEVICE", "::file" + Path("debug.txt")});
  }
};

TEST_F(RequesterTest, HeadlessRequestersAnswerCancelAtOnceWithTheirTextOnStandardError) {
  auto started = std::chrono::steady_clock::now();
  PlayerRun r = RunApplet(R"(
.function main
  GETGLOBAL R0, "debugprint"
  GETGLOBAL R1, "systemrequest"
  LOADCONST R2, "Quit?"
  LOADCONST R3, "Unsaved work"
  LOADCONST R4, "Yes|No"
  CALL R1, nargs=3, nres=1
  GETGLOBAL R2, "stringrequest"
  LOADCONST R3, "Name"
  LOADCONST R4, "Who?"
  LOADCONST R5, "Bob"
  CALL R2, nargs=3, nres=all
  CALL R0, nargs=top, nres=0
  GETGLOBAL R0, "debugprint"
  GETGLOBAL R1, "listrequest"
  LOADCONST R2, "Pick"
  LOADCONST R3, "One"
  NEWTABLE R4, 0, 0
  SETTABLE R4, 0, "a"
  CALL R1, nargs=3, nres=1
  GETGLOBAL R2, "colorrequest"
  LOADCONST R3, "Colour"
  CALL R2, nargs=1, nres=1
  GETGLOBAL R3, "filerequest"
  LOADCONST R4, "File"
  LOADCONST R5, "txt"
  CALL R3, nargs=2, nres=all
  CALL R0, nargs=top, nres=0
  RETURN R0, 1
.end
)");
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile("debug.txt"), "0  0\n-1 -1 \n");
  EXPECT_NE(r.err.find("Quit?"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Unsaved work"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Who?"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace qv::testing
