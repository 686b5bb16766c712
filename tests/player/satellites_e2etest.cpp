// Display satellites through the player program on SDL's dummy video driver: a test plugin
// (tests/plugins/satellite_plugin.c, beside a copy of the player) attaches another view of a
// display through the host interface, hands it input that the script's handlers receive, asks
// for a new size and keeps the display from being freed.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/errors.h"
#include "tests/player/player_fixture.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using testing::PlayerRun;
using testing::PlayerTest;

class SatellitesE2eTest : public PlayerTest {
 protected:
  void SetUp() override {
    PlayerTest::SetUp();
    // Plugins load only from the player's own folder.
    std::error_code ec;
    fs::create_hard_link(QV_PLAYER_PATH, Path("quillvane"), ec);
    if (ec) fs::copy_file(QV_PLAYER_PATH, Path("quillvane"));
    fs::copy_file(std::string(QV_TEST_PLUGIN_DIR) + "/satview.qvp", Path("satview.qvp"));
    env_.push_back("SDL_VIDEODRIVER=dummy");
  }
  std::string RunScript(const std::string& script) {
    WriteFile("main.qva", Applet(qvasm::TranslateOrFail(script)));
    PlayerRun r = Run({"main.qva", "-QUIET", "-DEBUGDEVICE", "::file" + Path("debug.txt")},
                      Path("quillvane"));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    return ReadFile("debug.txt");
  }
};

// Every handler prints what it got; each input is handed over and then taken from the queue, so
// that the pointer each handler reads is the one that input brought.
constexpr char kHandlers[] = R"(.display size 40 30
function pointer(msg)
do DebugPrint(msg.action, msg.id, MouseX(), MouseY())
end
function key(msg)
do DebugPrint(msg.action, msg.id, msg.key)
end
function size(msg)
do DebugPrint(msg.action, msg.id, msg.width, msg.height)
end
do InstallEventHandler({onmousemove = @pointer, onmousedown = @pointer, onmouseup = @pointer, onrightmousedown = @pointer, onmidmouseup = @pointer, onwheeldown = @pointer, onwheelup = @pointer, onkeydown = @key, onkeyup = @key, sizewindow = @size})
)";

TEST_F(SatellitesE2eTest, ASatellitesInputAndResizeReachTheScript) {
  std::string script = std::string(kHandlers) + R"(
do CreateBrush(5, 8, 6, 0x102030, {alphachannel = 1})
do BrushToBGPic(5, 6)
do CreateDisplay(2, {bgpic = 6})
satview.attach(2)
satview.attach(1)
satview.input(0, 5, 6, 0)
do CheckEvent()
satview.input(1, 7, 8, 1)
do CheckEvent()
satview.input(1, 9, 10, 0)
do CheckEvent()
satview.input(2, 11, 12, 1)
do CheckEvent()
satview.input(3, 13, 14, 0)
do CheckEvent()
satview.input(4, 0, 0, 1)
do CheckEvent()
satview.input(4, 0, 0, 0)
do CheckEvent()
satview.input(5, 0, 0, 1, 113, 0)
do CheckEvent()
satview.input(5, 0, 0, 0, 113, 0)
do CheckEvent()
satview.input(6, 0, 0, 1)
satview.resize(60, 45)
satview.told()
do CheckEvent()
GetAttribute(GetConstant("#DISPLAY"), 1, GetConstant("#ATTRWIDTH"))
satview.redraw()
)";
  const std::string wrong = std::to_string(ERR_WRONGUSAGE);
  EXPECT_EQ(RunScript(script),
            // An alpha channel on the display's picture: refused.
            "satview.attach(2) 0\n"
            "satview.attach(1) 1 40 30\n"
            "satview.input(0, 5, 6, 0) 0\n"
            "OnMouseMove 1 5 6\n"
            "satview.input(1, 7, 8, 1) 0\n"
            "OnMouseDown 1 7 8\n"
            "satview.input(1, 9, 10, 0) 0\n"
            "OnMouseUp 1 9 10\n"
            "satview.input(2, 11, 12, 1) 0\n"
            "OnRightMouseDown 1 11 12\n"
            "satview.input(3, 13, 14, 0) 0\n"
            "OnMidMouseUp 1 13 14\n"
            "satview.input(4, 0, 0, 1) 0\n"
            "OnWheelDown 1 13 14\n"
            "satview.input(4, 0, 0, 0) 0\n"
            "OnWheelUp 1 13 14\n"
            "satview.input(5, 0, 0, 1, 113, 0) 0\n"
            "OnKeyDown 1 q\n"
            "satview.input(5, 0, 0, 0, 113, 0) 0\n"
            "OnKeyUp 1 q\n"
            "satview.input(6, 0, 0, 1) " +
                wrong +
                "\n"
                // The satellite is told the new size before the script's size event.
                "satview.resize(60, 45) 0\n"
                "satview.told() 1 60 45\n"
                "SizeWindow 1 60 45\n"
                "GetAttribute(GetConstant(\"#DISPLAY\"), 1, GetConstant(\"#ATTRWIDTH\")) 60\n"
                "satview.redraw() 0\n");
}

// A display that holds a satellite is not freed; once the satellite is gone it is, and the
// plugin's services answer that no display holds its handle.
TEST_F(SatellitesE2eTest, ADisplayWithASatelliteIsNotFreed) {
  const std::string missing = std::to_string(ERR_FINDDISPLAY);
  EXPECT_EQ(RunScript(R"(do CreateDisplay(2, {width = 20, height = 10})
satview.attach(2)
do FreeDisplay(2)
do satview.detach()
do FreeDisplay(2)
satview.input(1, 1, 1, 1)
satview.resize(10, 10)
satview.redraw()
satview.attach(2)
)"),
            "satview.attach(2) 1 20 10\n"
            "error ERR_SATFREEDISP FreeDisplay\n"
            "satview.input(1, 1, 1, 1) " +
                missing + "\nsatview.resize(10, 10) " + missing + "\nsatview.redraw() " + missing +
                "\n"
                // The display is gone.
                "satview.attach(2) 0\n");
}

}  // namespace
}  // namespace qv
