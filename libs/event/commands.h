// The command handlers of the event library; library.cpp lists them.
#pragma once

#include <cstdint>

namespace qv {
struct qvScriptState;
}

namespace qv::cmd {

// input.cpp: waiting for and polling the mouse, keys and joysticks
int32_t WaitLeftMouse(qvScriptState* L);
int32_t WaitRightMouse(qvScriptState* L);
int32_t WaitMidMouse(qvScriptState* L);
int32_t WaitKeyDown(qvScriptState* L);
int32_t WhileMouseDown(qvScriptState* L);
int32_t WhileRightMouseDown(qvScriptState* L);
int32_t WhileKeyDown(qvScriptState* L);
int32_t IsKeyDown(qvScriptState* L);
int32_t IsLeftMouse(qvScriptState* L);
int32_t IsRightMouse(qvScriptState* L);
int32_t IsMidMouse(qvScriptState* L);
int32_t MouseX(qvScriptState* L);
int32_t MouseY(qvScriptState* L);
int32_t ResetKeyStates(qvScriptState* L);
int32_t JoyDir(qvScriptState* L);
int32_t JoyFire(qvScriptState* L);
int32_t CountJoysticks(qvScriptState* L);
int32_t LeftMouseQuit(qvScriptState* L);
int32_t EscapeQuit(qvScriptState* L);
int32_t CtrlCQuit(qvScriptState* L);

// dispatch.cpp: events and their handlers
int32_t CheckEvent(qvScriptState* L);
int32_t WaitEvent(qvScriptState* L);
int32_t InstallEventHandler(qvScriptState* L);
int32_t SetEventTimeout(qvScriptState* L);
int32_t FreeEventCache(qvScriptState* L);
int32_t BreakEventHandler(qvScriptState* L);

// timers.cpp: intervals and time-outs
int32_t SetInterval(qvScriptState* L);
int32_t SetTimeout(qvScriptState* L);
int32_t ClearInterval(qvScriptState* L);
int32_t ClearTimeout(qvScriptState* L);
int32_t ChangeInterval(qvScriptState* L);

// buttons.cpp: buttons of the current BGPic and the label-based buttons and key handlers
int32_t MakeButton(qvScriptState* L);
int32_t DeleteButton(qvScriptState* L);
int32_t EnableButton(qvScriptState* L);
int32_t DisableButton(qvScriptState* L);
int32_t DumpButtons(qvScriptState* L);
int32_t CreateButton(qvScriptState* L);
int32_t CreateKeyDown(qvScriptState* L);
int32_t ModifyButton(qvScriptState* L);
int32_t ModifyKeyDown(qvScriptState* L);
int32_t RemoveButton(qvScriptState* L);
int32_t RemoveKeyDown(qvScriptState* L);
int32_t ClearEvents(qvScriptState* L);
int32_t EnableEvent(qvScriptState* L);
int32_t DisableEvent(qvScriptState* L);
int32_t GetEventCode(qvScriptState* L);
int32_t WhileMouseOn(qvScriptState* L);
int32_t BreakWhileMouseOn(qvScriptState* L);
// Hands the dispatcher the button code's answers (the library's open).
void InstallButtonSources();

// ports.cpp: messages between players
int32_t CreatePort(qvScriptState* L);
int32_t SendMessage(qvScriptState* L);

}  // namespace qv::cmd
