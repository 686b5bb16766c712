// The player's start-up as a whole process: what it cleans up of players that were killed, and
// which shared libraries a run loads (the window system's only where a display is asked for).
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "tests/player/player_fixture.h"

namespace qv::testing {
namespace {

constexpr char kEmpty[] = R"(
.function main
  .line 1
  RETURN R0, 1
.end
)";

class StartupTest : public PlayerTest {};

// The scan runs beside the rest of start-up; the run still ends with the dead player's directory
// gone and a live player's untouched.
TEST_F(StartupTest, PrivateDirectoriesOfEndedPlayersAreRemoved) {
  pid_t dead = fork();
  if (dead == 0) _exit(0);
  ASSERT_GT(dead, 0);
  ASSERT_EQ(waitpid(dead, nullptr, 0), dead);
  const std::string gone = TempDir() + "/quillvane-" + std::to_string(dead) + "-a1B2c3";
  const std::string live = TempDir() + "/quillvane-" + std::to_string(getpid()) + "-a1B2c3";
  std::filesystem::create_directories(gone + "/sub");
  std::ofstream(gone + "/sub/qv0001.tmp") << "left behind";
  std::filesystem::create_directories(live);

  WriteFile("empty.qva", Applet(kEmpty));
  PlayerRun r = Run({"empty.qva", "-QUIET"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_FALSE(std::filesystem::exists(gone));
  EXPECT_TRUE(std::filesystem::exists(live));
}

// The dynamic loader's list of the files it loads (LD_DEBUG=files) shows which libraries a run
// brought in, at start or later.
TEST_F(StartupTest, WindowSystemLibrariesAreLoadedOnlyForADisplay) {
  WriteFile("empty.qva", Applet(kEmpty));
  unsetEnv_ = {"DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER"};
  env_ = {"LD_DEBUG=files"};
  PlayerRun r = Run({"empty.qva", "-QUIET"});
  EXPECT_EQ(r.status, 0) << r.err;
  for (const char* library : {"libSDL2", "libX11", "libfontconfig"}) {
    EXPECT_EQ(r.err.find(library), std::string::npos) << library << " loaded without a display";
  }

  // SDL's own headless video driver: the window system starts, and SDL comes in for it.
  env_.push_back("SDL_VIDEODRIVER=dummy");
  r = Run({"empty.qva", "-QUIET"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("libSDL2"), std::string::npos);
}

}  // namespace
}  // namespace qv::testing
