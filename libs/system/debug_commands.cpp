// Debugging output: lines of values and the trace of command calls.
#include <string>

#include "core/args.h"
#include "core/value_text.h"
#include "libs/system/commands.h"
#include "platform/textout.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

// DebugPrint(...), also DebugStr(...) and DebugVal(...): the arguments as one line of text
// output.
int32_t DebugPrint(qvScriptState* L) {
  std::string line;
  int32_t code = MakeDebugLine(L, VmGetTop(L), &line);
  if (!line.empty()) OutputText(line.c_str());
  return code;
}

// DebugOutput(flag): traces every command call with its arguments.
int32_t DebugOutput(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  VmSetTraceFlag(L, VmCheckInt(L, 1) != 0);
  return 0;
}

}  // namespace qv::cmd
