// The command handlers of the graphics library; library.cpp lists them.
#pragma once

#include <cstdint>

namespace qv {
struct qvScriptState;
}

namespace qv::cmd {

// snapshot_commands.cpp
int32_t SaveSnapshot(qvScriptState* L);

}  // namespace qv::cmd
