// The command handlers of the display library; library.cpp lists them.
#pragma once

#include <cstdint>

namespace qv {
struct qvScriptState;
}

namespace qv::cmd {

// display_commands.cpp
int32_t ChangeDisplaySize(qvScriptState* L);
int32_t SetTitle(qvScriptState* L);
int32_t MoveDisplay(qvScriptState* L);
int32_t HideDisplay(qvScriptState* L);
int32_t ShowDisplay(qvScriptState* L);
int32_t SetDisplayAttributes(qvScriptState* L);
int32_t CreateDisplay(qvScriptState* L);
int32_t FreeDisplay(qvScriptState* L);
int32_t OpenDisplay(qvScriptState* L);
int32_t CloseDisplay(qvScriptState* L);
int32_t SelectDisplay(qvScriptState* L);
int32_t ActivateDisplay(qvScriptState* L);
int32_t ChangeDisplayMode(qvScriptState* L);
int32_t GetDisplayModes(qvScriptState* L);

}  // namespace qv::cmd
