// Programs: running other programs without a shell, and this program's own file.
#pragma once

#include <cstddef>

namespace qv {

// Runs a program (an absolute name as it is, else joined to the current directory) with its
// arguments (split at blanks; double quotes group), without a shell. Unless async, waits for it and
// gives its exit status (128 + signal when killed). 0, or ERR_FILEEXIST (with the name as error
// text) when it cannot be started.
int ExecuteProgram(const char* name, const char* arguments, int async, int* exitStatus);
// The full path of the program file; 1, or 0 when it does not fit.
int GetProgramPath(char* buffer, size_t size);

}  // namespace qv
