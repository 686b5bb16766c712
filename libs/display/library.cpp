// The display library's table: its commands and constants; opening it registers the lists of
// displays, BGPics and brushes with the object registry.
#include "display/display.h"
#include "libs/display/commands.h"
#include "libs/libraries.h"

namespace qv {

namespace {

const qvLibraryRow kCommands[] = {
    {"ChangeDisplaySize", cmd::ChangeDisplaySize},
    {"SetTitle", cmd::SetTitle},
    {"MoveDisplay", cmd::MoveDisplay},
    {"HideDisplay", cmd::HideDisplay},
    {"ShowDisplay", cmd::ShowDisplay},
    {"SetDisplayAttributes", cmd::SetDisplayAttributes},
    {"CreateDisplay", cmd::CreateDisplay},
    {"FreeDisplay", cmd::FreeDisplay},
    {"OpenDisplay", cmd::OpenDisplay},
    {"CloseDisplay", cmd::CloseDisplay},
    {"SelectDisplay", cmd::SelectDisplay},
    {"ActivateDisplay", cmd::ActivateDisplay},
    {"ChangeDisplayMode", cmd::ChangeDisplayMode},
    {"GetDisplayModes", cmd::GetDisplayModes},
    {nullptr, nullptr},
};

const qvConstantRow kConstants[] = {
    {"DISPSTATE_OPEN", nullptr, 1},
    {"DISPSTATE_CLOSED", nullptr, 0},
    {"DISPSTATE_MINIMIZED", nullptr, 2},
    {"DISPMODE_FULLSCREEN", nullptr, 2},
    {"DISPMODE_WINDOWED", nullptr, 1},
    {"SCALEMODE_NONE", nullptr, 0},
    {"SCALEMODE_AUTO", nullptr, 1},
    {"SCALEMODE_LAYER", nullptr, 2},
    {"KEEPPOSITION", nullptr, 100000},
    {"ORIENTATION_NONE", nullptr, 0},
    {"ORIENTATION_PORTRAIT", nullptr, 1},
    {"ORIENTATION_LANDSCAPE", nullptr, 3},
    {"ORIENTATION_PORTRAITREV", nullptr, 2},
    {"ORIENTATION_LANDSCAPEREV", nullptr, 4},
    {nullptr, nullptr, 0},
};

int32_t OpenDisplayLibrary(qvScriptState* L) {
  int32_t code = OpenDisplaySubsystem();
  if (code == 0) InstallModeSwitch(L);
  return code;
}

}  // namespace

const qvLibrary kDisplayLibrary{"display", kCommands, kConstants, OpenDisplayLibrary};

}  // namespace qv
