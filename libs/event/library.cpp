// The event library's table: handlers, waiting for events, intervals and time-outs, the mouse,
// keys and joysticks, and messages between players; the window-event, legacy-button and joystick
// direction constants.
#include "core/events.h"
#include "libs/event/commands.h"
#include "libs/libraries.h"

namespace qv {

namespace {

const qvLibraryRow kCommands[] = {
    {"WaitLeftMouse", cmd::WaitLeftMouse},
    {"WaitRightMouse", cmd::WaitRightMouse},
    {"WaitKeyDown", cmd::WaitKeyDown},
    {"IsKeyDown", cmd::IsKeyDown},
    {"WhileRightMouseDown", cmd::WhileRightMouseDown},
    {"WhileMouseDown", cmd::WhileMouseDown},
    {"WhileKeyDown", cmd::WhileKeyDown},
    {"IsLeftMouse", cmd::IsLeftMouse},
    {"IsRightMouse", cmd::IsRightMouse},
    {"BreakWhileMouseOn", cmd::BreakWhileMouseOn},
    {"SetEventTimeout", cmd::SetEventTimeout},
    {"GetEventCode", cmd::GetEventCode},
    {"LeftMouseQuit", cmd::LeftMouseQuit},
    {"EscapeQuit", cmd::EscapeQuit},
    {"CtrlCQuit", cmd::CtrlCQuit},
    {"EnableEvent", cmd::EnableEvent},
    {"DisableEvent", cmd::DisableEvent},
    {"RemoveButton", cmd::RemoveButton},
    {"RemoveKeyDown", cmd::RemoveKeyDown},
    {"ModifyButton", cmd::ModifyButton},
    {"ModifyKeyDown", cmd::ModifyKeyDown},
    {"CreateButton", cmd::CreateButton},
    {"CreateKeyDown", cmd::CreateKeyDown},
    {"ClearEvents", cmd::ClearEvents},
    {"WhileMouseOn", cmd::WhileMouseOn},
    {"FreeEventCache", cmd::FreeEventCache},
    {"CheckEvent", cmd::CheckEvent},
    {"WaitEvent", cmd::WaitEvent},
    {"MouseX", cmd::MouseX},
    {"MouseY", cmd::MouseY},
    {"MakeButton", cmd::MakeButton},
    {"DeleteButton", cmd::DeleteButton},
    {"DisableButton", cmd::DisableButton},
    {"EnableButton", cmd::EnableButton},
    {"DumpButtons", cmd::DumpButtons},
    {"InstallEventHandler", cmd::InstallEventHandler},
    {"SetInterval", cmd::SetInterval},
    {"SetTimeout", cmd::SetTimeout},
    {"ClearInterval", cmd::ClearInterval},
    {"ClearTimeout", cmd::ClearTimeout},
    {"ChangeInterval", cmd::ChangeInterval},
    {"WaitMidMouse", cmd::WaitMidMouse},
    {"IsMidMouse", cmd::IsMidMouse},
    {"ResetKeyStates", cmd::ResetKeyStates},
    {"JoyDir", cmd::JoyDir},
    {"JoyFire", cmd::JoyFire},
    {"CountJoysticks", cmd::CountJoysticks},
    {"BreakEventHandler", cmd::BreakEventHandler},
    {"CreatePort", cmd::CreatePort},
    {"SendMessage", cmd::SendMessage},
    {nullptr, nullptr},
};

const qvConstantRow kConstants[] = {
    {"MOVEWINDOW", nullptr, 6},
    {"SIZEWINDOW", nullptr, 7},
    {"INACTIVEWINDOW", nullptr, 8},
    {"ACTIVEWINDOW", nullptr, 9},
    {"CLOSEWINDOW", nullptr, 10},
    {"ONBUTTONCLICKALL", nullptr, 11},
    {"ONBUTTONRIGHTCLICKALL", nullptr, 12},
    {"ONBUTTONOVERALL", nullptr, 13},
    {"ONKEYDOWNALL", nullptr, 14},
    {"JOYUP", nullptr, 0},
    {"JOYUPRIGHT", nullptr, 1},
    {"JOYRIGHT", nullptr, 2},
    {"JOYDOWNRIGHT", nullptr, 3},
    {"JOYDOWN", nullptr, 4},
    {"JOYDOWNLEFT", nullptr, 5},
    {"JOYLEFT", nullptr, 6},
    {"JOYUPLEFT", nullptr, 7},
    {"JOYNODIR", nullptr, 8},
    {"ONBUTTONCLICK", nullptr, 2},
    {"ONBUTTONOVER", nullptr, 1},
    {"ONKEYDOWN", nullptr, 3},
    {"ONBUTTONRIGHTCLICK", nullptr, 5},
    {"SIMPLEBUTTON", nullptr, 0},
    {"LAYERBUTTON", nullptr, 1},
    {nullptr, nullptr, 0},
};

int32_t OpenEventLibrary(qvScriptState* L) {
  cmd::InstallButtonSources();
  int32_t code = OpenEventCore(L);
  return code != 0 ? code : RegisterEventAttributes();
}

}  // namespace

const qvLibrary kEventLibrary{"event", kCommands, kConstants, OpenEventLibrary};

}  // namespace qv
