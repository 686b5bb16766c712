// The command handlers of the system library; library.cpp lists them.
#pragma once

#include <cstdint>

namespace qv {
struct qvScriptState;
}

namespace qv::cmd {

// program.cpp: the running script
int32_t End(qvScriptState* L);
int32_t GetCommandLine(qvScriptState* L);

// errors.cpp: errors and how they are handled
int32_t Error(qvScriptState* L);
int32_t Assert(qvScriptState* L);
int32_t GetLastError(qvScriptState* L);
int32_t GetErrorName(qvScriptState* L);
int32_t ExitOnError(qvScriptState* L);
int32_t RaiseOnError(qvScriptState* L);

// debug.cpp: debugging output
int32_t DebugPrint(qvScriptState* L);
int32_t DebugOutput(qvScriptState* L);

}  // namespace qv::cmd
