// The command handlers of the string library; library.cpp lists them.
#pragma once

#include <cstdint>

namespace qv {
struct qvScriptState;
}

namespace qv::cmd {

int32_t ToString(qvScriptState* L);

// eval.cpp
int32_t Eval(qvScriptState* L);

}  // namespace qv::cmd
