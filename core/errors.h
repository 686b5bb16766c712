// Error arguments, raising a command's error code, and the name of the failing function.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv {

struct qvScriptState;

// The text argument of the next error message (truncated to 511 characters) and its number.
void SetErrorString(const char* text);
void SetErrorNumber(int32_t n);
const char* GetErrorString();
int32_t GetErrorNumber();

// Whether errors end the script (runtime attribute 12, default 1).
int32_t GetExitOnError();
void SetExitOnError(int32_t on);

// Records the code for GetLastError; while ExitOnError is on, records the failing function and
// throws the code through the machine (never returning); otherwise returns 0.
int32_t RaiseError(qvScriptState* L, int32_t code);
// 1 once an error was raised while no callback was running.
int32_t GetTopLevelError();

// Fills the current function name (and the current line when unknown) from the call levels.
void GetErrorFunctionName(qvScriptState* L);
// The current function name, "----" when unknown.
const char* GetCurrentFunctionName();
void ResetErrorFunctionName();

// The message of a code with the stored error arguments (FormatErrorText), for the machine's
// error-handler path.
void FormatErrorMessage(int32_t code, char* out, size_t size);

}  // namespace qv
