// Buttons of a BGPic through the player without windows: what MakeButton accepts and refuses, what
// DumpButtons prints, finding and freeing them by id, and the output devices they need.
#include <regex>
#include <string>

#include "tests/player/player_fixture.h"

namespace qv::testing {
namespace {

class ButtonsTest : public PlayerTest {
 protected:
  std::string RunScript(const std::string& script) {
    WriteFile("main.qva", Applet(qvasm::TranslateOrFail(script)));
    PlayerRun r = Run({"main.qva", "-QUIET", "-DEBUGDEVICE", "::file" + Path("out.txt")});
    EXPECT_EQ(r.status, 0) << r.err;
    // The BGPic's address differs from run to run.
    return std::regex_replace(ReadFile("out.txt"), std::regex("\\(0x[0-9a-f]+\\)"), "(ADDRESS)");
  }
};

TEST_F(ButtonsTest, MakeButtonChecksItsArgumentsAndDumpButtonsListsTheNewestFirst) {
  EXPECT_EQ(RunScript(R"(
function f(m)
  return 1
end
MakeButton(1, 0, 10, 10, 0, 20, {onmousedown = @f})
MakeButton(1, 0, 10, 10, 1, 20, {})
MakeButton(1, 0, 10, 10, 1, 20, {onmousedown = @f})
MakeButton(2, 0, 5, 6, 7, 8, {onmouseup = @f}, "ud")
MakeButton(1, 0, 1, 2, 3, 4, {onmouseover = @f})
h = MakeButton(Nil, 0, 0, 0, 640, 480, {onmouseout = @f, onmidmouseup = @f})
MakeButton(3, 7, 0, 0, 640, 480, {onmouseout = @f})
MakeButton(3, 1, "layer", 0, 0, {onmouseout = @f})
MakeButton(3, 1, {}, 0, 0, {onmouseout = @f})
DumpButtons()
DeleteButton(2)
DeleteButton(2)
DisableButton(9)
EnableButton(9)
DisableButton(h)
EnableButton(h)
DeleteButton(h)
DeleteButton(h)
DumpButtons()
)"),
            // Width 0 and an empty event table are refused; button 1 made twice stays once.
            "error ERR_WRONGUSAGE MakeButton\nMakeButton(1, 0, 10, 10, 0, 20, {onmousedown = @f})\n"
            "error ERR_WRONGUSAGE MakeButton\nMakeButton(1, 0, 10, 10, 1, 20, {})\n"
            "MakeButton(1, 0, 10, 10, 1, 20, {onmousedown = @f})\n"
            "MakeButton(2, 0, 5, 6, 7, 8, {onmouseup = @f}, \"ud\")\n"
            "MakeButton(1, 0, 1, 2, 3, 4, {onmouseover = @f})\n"
            "error ERR_WRONGUSAGE MakeButton\n"
            "MakeButton(3, 7, 0, 0, 640, 480, {onmouseout = @f})\n"
            "error ERR_NOLAYERS MakeButton\n"
            "MakeButton(3, 1, \"layer\", 0, 0, {onmouseout = @f})\n"
            "error ERR_STRORNUM MakeButton\nMakeButton(3, 1, {}, 0, 0, {onmouseout = @f})\n"
            "BUTTON SYSTEM INFO - BGPIC: 0 (ADDRESS)\nsizeof(qvBGPicButton): 100\nButtons: 3\n"
            "(1) Type: 0 - X1: 0 - Y1: 0 - X2: 639 - Y2: 479\n"
            "(2) Type: 0 - X1: 1 - Y1: 2 - X2: 3 - Y2: 5\n"
            "(3) Type: 0 - X1: 5 - Y1: 6 - X2: 11 - Y2: 13\n"
            "DumpButtons()\n"
            "DeleteButton(2)\nerror ERR_FINDBUTTON DeleteButton\nDeleteButton(2)\n"
            "error ERR_FINDBUTTON DisableButton\nDisableButton(9)\n"
            "error ERR_FINDBUTTON EnableButton\nEnableButton(9)\n"
            "DisableButton(h)\nEnableButton(h)\nDeleteButton(h)\n"
            "error ERR_FINDARRAY DeleteButton\nDeleteButton(h)\n"
            "BUTTON SYSTEM INFO - BGPIC: 0 (ADDRESS)\nsizeof(qvBGPicButton): 100\nButtons: 1\n"
            "(1) Type: 0 - X1: 1 - Y1: 2 - X2: 3 - Y2: 5\n"
            "DumpButtons()\n");
}

TEST_F(ButtonsTest, ButtonsNeedTheDisplayOrABGPicAsOutput) {
  // CENTER is resolved against the picture; a brush as output device has no buttons, the
  // display again has.
  EXPECT_EQ(RunScript(R"(
function f(m)
  return 1
end
MakeButton(1, 0, -100000, -100000, 40, 10, {onmousedown = @f})
DumpButtons()
do CreateBrush(5, 10, 10)
do SelectBrush(5)
MakeButton(4, 0, 0, 0, 10, 10, {onmousedown = @f})
DumpButtons()
DeleteButton(1)
EnableButton(1)
do EndSelect()
DeleteButton(1)
DumpButtons()
)"),
            "MakeButton(1, 0, -100000, -100000, 40, 10, {onmousedown = @f})\n"
            "BUTTON SYSTEM INFO - BGPIC: 0 (ADDRESS)\nsizeof(qvBGPicButton): 100\nButtons: 1\n"
            "(1) Type: 0 - X1: 300 - Y1: 235 - X2: 339 - Y2: 244\n"
            "DumpButtons()\n"
            "error ERR_BGPICBUTTON MakeButton\nMakeButton(4, 0, 0, 0, 10, 10, {onmousedown = @f})\n"
            "error ERR_BGPICBUTTON DumpButtons\nDumpButtons()\n"
            "error ERR_BGPICBUTTON DeleteButton\nDeleteButton(1)\n"
            "error ERR_BGPICBUTTON EnableButton\nEnableButton(1)\n"
            "DeleteButton(1)\n"
            "BUTTON SYSTEM INFO - BGPIC: 0 (ADDRESS)\nsizeof(qvBGPicButton): 100\nButtons: 0\n"
            "DumpButtons()\n");
}

}  // namespace
}  // namespace qv::testing
