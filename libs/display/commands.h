// The command handlers of the display library; library.cpp lists them.
#pragma once

#include <cstdint>

namespace qv {
struct qvScriptState;
}

namespace qv::cmd {

// display_commands.cpp
int32_t CreateDisplay(qvScriptState* L);

}  // namespace qv::cmd
