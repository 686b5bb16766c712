// Where the script is: call levels, current lines and names of functions.
#pragma once

#include "vm/state.h"

namespace qv {

struct qvLevelInfo {
  bool native;
  const char* name;      // null when unknown
  const char* namewhat;  // "global", "local", "field", "method" or ""
  int32_t currentline;   // -1 for a native function
};

// Level 0 is the running function. Returns false when the level does not exist.
bool VmDescribeLevel(qvScriptState* L, int level, qvLevelInfo* info);
// The name of the function that a call record runs, with its kind; null and "" when unknown.
const char* VmFunctionName(qvScriptState* L, const qvCallInfo* ci, const char** namewhat);
// A name for the value in register `reg` of a script call record: "local", "global", "field" or
// "method" with the name in *name, or null.
const char* VmVariableName(qvScriptState* L, const qvCallInfo* ci, int reg, const char** name);
// The instruction index a script call record is at.
int VmCurrentPc(qvScriptState* L, const qvCallInfo* ci);

}  // namespace qv
