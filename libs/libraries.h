// The script libraries of this folder as start-up opens and closes them. An open function is
// called with the globals table on the stack top; it registers its commands (as global functions
// and in the runtime's library list) and its constants, and returns 0 or an error code.
#pragma once

#include <cstdint>

namespace qv {

struct qvScriptState;

int32_t OpenStringLibrary(qvScriptState* L);
int32_t OpenSystemLibrary(qvScriptState* L);
// Releases what the system library holds (the script's error handler).
void FreeSystemLibrary(qvScriptState* L);

}  // namespace qv
