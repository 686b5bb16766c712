// Programs: running other programs without a shell, and this program's own file.
#pragma once

#include <cstddef>

namespace qv {

enum class RunMode {
  kWait,   // wait for the program and give its exit status
  kAsync,  // start it and return; it is collected when it ends
};
// Runs a program (an absolute name as it is, else joined to the current directory) with its
// arguments (split at blanks; double quotes group), without a shell. With kWait, *exitStatus (when
// given) gets its exit status, 128 + the signal when killed. 0, or ERR_FILEEXIST (with the name as
// error text) when it cannot be started. Any thread; kWait blocks it until the program ends.
int ExecuteProgram(const char* name, const char* arguments, RunMode mode, int* exitStatus);
// The full name of the program file that a bare name (no "/") means along PATH: true, or false
// when no directory of PATH holds a runnable file of that name or it does not fit.
bool FindProgramOnPath(const char* name, char* buffer, size_t size);
// Removes what players left behind when they could not shut down (killed by SIGKILL, a power
// cut): private temporary directories whose owner, the pid in the name, no longer runs, and
// debug-device blocks that no running player holds. A running player's are never touched. True
// when everything found could be removed. Any thread.
bool RemoveLeftoversOfEndedPlayers();
// Start-up's call of RemoveLeftoversOfEndedPlayers, on a thread of its own: the scan of the
// temporary directory (thousands of entries on a busy machine) then costs the start nothing.
// ShutdownPlatform waits for it to end. Main thread, after InitPlatform; without a thread the
// removal runs at once.
void StartLeftoverRemoval();
// The full path of the program file: true, or false with "" when it does not fit or cannot be
// read. Any thread.
bool GetProgramPath(char* buffer, size_t size);

}  // namespace qv
