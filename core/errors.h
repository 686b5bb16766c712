// Error arguments, raising a command's error code, where an error happened (function, source
// file and line) and how the final message reaches the user: a requester or the debug device.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/errors.h"

namespace qv {

struct qvScriptState;
struct qvVmHost;

// The script machine's host: raises command errors by the ExitOnError rule below, names the
// failing function, formats messages through the error table and writes the call trace through
// the text output. Hand it to VmOpenState.
const qvVmHost* CoreVmHost();

constexpr size_t kFunctionNameSize = 256;  // the current function name, terminator included

// Whether errors end the script (runtime attribute 12, default 1).
int32_t GetExitOnError();
void SetExitOnError(int32_t on);

// The script's error handler is the function that failed commands are handed to instead of
// ending the script. It exists only while ExitOnError is on: neither rule below lets the two
// disagree.
// Switches ExitOnError for the script; ERR_WRONGUSAGE, with nothing changed, when switching it
// off while an error handler is installed.
int32_t ChangeExitOnError(qvScriptState* L, bool on);
// Installs the function at `index` as the error handler, or removes the handler when that value
// is no function. ERR_WRONGUSAGE, with nothing changed, while ExitOnError is off.
int32_t SetScriptErrorHandler(qvScriptState* L, int index);
// Removes the error handler and releases its reference (shutdown, or before another one).
void ReleaseScriptErrorHandler(qvScriptState* L);

// Records the code for GetLastError. While ExitOnError is on, records the failing function and
// throws the code through the machine (never returning). Otherwise, outside callbacks, forgets
// the function name and the line, and returns 0: the command goes on.
int32_t RaiseError(qvScriptState* L, int32_t code);
// 1 once an error was raised while no callback was running.
int32_t GetTopLevelError();

// Fills the current function name (once; "----" means unknown) and, while it is unknown, the
// current line from the machine's call levels.
void GetErrorFunctionName(qvScriptState* L);
// The current function name, "----" when unknown.
const char* GetCurrentFunctionName();
// Names the command that start-up runs for a declared object (cut to fit).
void SetCurrentFunctionName(const char* name);
void ResetErrorFunctionName();

// Names the script that error reports point at: a script file `name` whose first line is
// `beginLine`, or (name null) an applet's chunk, whose line maps name the source files.
// ForgetReportScript returns to no script ("---").
void SetReportScript(const char* name, int32_t beginLine);
void ForgetReportScript();

// The line in the source file of the current line: through the applet's line maps while an
// applet's chunk runs, else shifted by the script's first line and the included files. -1 when
// unknown.
int32_t GetSourceLine(qvScriptState* L);
// The source file for messages: the script's name unless an applet runs; for an applet the file
// of the line map that encloses the current line, "---" when none does.
const char* GetErrorScriptName(qvScriptState* L);

// The finished message of `code` into `out` (`size` bytes, cut to fit), and, while a script is
// running (runtime attribute 23), its source file and line; else null and 0. Either out pointer
// may be null.
void BuildErrorReport(qvScriptState* L, int32_t code, char* out, size_t size, const char** fileName,
                      int32_t* line);

// The requester text: the message alone when `plain` is set or no script runs, else followed by
// a line naming the file, the line and (when known) the function. Cut to `size`; returns the
// length written.
size_t FormatErrorRequesterText(qvScriptState* L, const char* message, bool plain, char* out,
                                size_t size);
// Shows the message to the user in a requester titled "QuillvanePlayer". Without a display the
// text goes to standard error: this never waits for anybody.
void ShowErrorText(qvScriptState* L, const char* message, bool plain, int style);

// The error line for a debug device: "@_qverror<line>:<file>*<message>", or with no file known
// "@_qverror0:\"\"*<message>", ending in a line feed. Cut to `size`; returns the length written.
size_t FormatDebugDeviceError(const char* fileName, int32_t line, const char* message, char* out,
                              size_t size);

// Status output through the text output unless quiet (runtime attribute 2): `format` with the
// display name of `name` for its "%s" (when a name is given), then "..." with `ellipsis`.
void PrintStatusMessage(const char* format, const char* name, bool ellipsis);
void PrintDoneMessage();    // "done" and a line feed
void PrintFailedMessage();  // "failed" and a line feed

}  // namespace qv
