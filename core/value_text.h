// The text that scripts see for a value: what ToString gives and what the debug output commands
// print. Both run on the script thread, on the machine that holds the values.
#pragma once

#include <cstdint>
#include <string>

namespace qv {

struct qvScriptState;

// Pushes the text of the value at `index`: the result of its "__tostring" metamethod when it has
// one, else "Nil", "true" or "false", the machine's number text, the string itself, or the kind
// and address ("Table: 0x...", "Function: ", "Thread: ", "UserData: ").
void PushValueText(qvScriptState* L, int index);

// The line that DebugPrint writes for the stack values 1 to `count`: each through the global
// "tostring", separated by blanks, ending in a line feed. Returns 0 with the line, or with an
// empty line when the script ended (End) inside a call: nothing is to be written. Else an empty
// line and the error code of a failing "tostring" call, ERR_STRINGEXPECTED when a call gives no
// string or number, or ERR_MEM. The stack is left as found.
int32_t MakeDebugLine(qvScriptState* L, int count, std::string* line);

}  // namespace qv
