// The system library: ending the script, errors and how they are handled, debugging output.
#include <new>
#include <string>
#include <vector>

#include "core/args.h"
#include "core/error_table.h"
#include "core/errors.h"
#include "core/player_state.h"
#include "core/registry.h"
#include "libs/libraries.h"
#include "platform/platform.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {

namespace {

// End(): the script stops before its next instruction.
int32_t End(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  VmSetEndFlag(L, 1);
  return 0;
}

// Error(text): fails with the text itself as the message.
int32_t Error(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  SetErrorString(VmCheckString(L, 1));
  return ERR_ERRORCALLED;
}

// Assert(value): Nil and 0 fail; anything else is returned.
int32_t Assert(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  int32_t type = VmType(L, 1);
  if (type == kTypeNil || (type == kTypeNumber && VmToNumber(L, 1) == 0)) return ERR_ASSERTFAILED;
  VmPushValue(L, 1);
  return 1;
}

// GetLastError(): the code of the last failed command; the machine keeps it for this command.
int32_t GetLastError(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  VmPushNumber(L, VmGetLastError(L));
  return 1;
}

// GetErrorName(code): the message of a code, as a report shows it without file and line.
int32_t GetErrorName(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  char message[kErrorMessageSize];
  FormatErrorText(VmCheckInt(L, 1), message, sizeof message);
  VmPushString(L, message);
  return 1;
}

// ExitOnError(flag): whether errors end the script. It stays on while an error handler is
// installed.
int32_t ExitOnError(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  int32_t on = VmCheckInt(L, 1) != 0;
  if (!on && VmGetErrorHandlerRef(L) != kNoReference) return ERR_WRONGUSAGE;
  const qvAttrSetItem items[] = {{kAttrExitOnError, on}, {0, 0}};
  SetRuntimeAttrs(nullptr, items);
  return 0;
}

// RaiseOnError(function or Nil): the function that failed commands are handed to, or none.
int32_t RaiseOnError(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  if (!GetExitOnError()) return ERR_WRONGUSAGE;
  if (VmType(L, 1) != kTypeNil) VmCheckFunction(L, 1);
  VmUnref(L, kRegistryIndex, VmGetErrorHandlerRef(L));
  VmSetErrorHandlerRef(L, kNoReference);
  if (VmType(L, 1) == kTypeFunction) {
    VmPushValue(L, 1);
    VmSetErrorHandlerRef(L, VmRef(L, kRegistryIndex));
  }
  return 0;
}

// DebugPrint(...), DebugStr(...), DebugVal(...): every argument through the global "tostring",
// separated by blanks, as one line of text output.
int32_t DebugPrint(qvScriptState* L) try {
  int count = VmGetTop(L);
  std::string line;
  for (int i = 1; i <= count; ++i) {
    VmPushString(L, "tostring");
    VmGetTable(L, kGlobalsIndex);
    VmPushValue(L, i);
    int32_t word = VmCall(L, 1, 1);
    if (word >= 1000) return word;
    if (VmGetEndFlag(L)) return 0;
    int32_t type = VmType(L, -1);
    if (type != kTypeString && type != kTypeNumber) return ERR_STRINGEXPECTED;
    if (i > 1) line += ' ';
    line += VmToString(L, -1);
    VmSetTop(L, count);
  }
  line += '\n';
  OutputText(line.c_str());
  return 0;
} catch (const std::bad_alloc&) {
  return ERR_MEM;
}

// GetCommandLine(): the user arguments (the -NAME value pairs that name no option) as a table
// from index 0 of {"arg", "param"}, their number, and 1.
int32_t GetCommandLine(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  auto* state = static_cast<const qvPlayerState*>(VmRegistryGetUserdata(L, "clargs"));
  VmNewTable(L);
  int count = 0;
  if (state != nullptr) {
    for (const qvUserArgument& a : state->userArguments) {
      VmNewTable(L);
      SetFieldString(L, "arg", a.name.c_str());
      SetFieldString(L, "param", a.value.c_str());
      VmRawSetI(L, -2, count++);
    }
  }
  VmPushNumber(L, count);
  VmPushNumber(L, 1);
  return 3;
}

// DebugOutput(flag): traces every command call with its arguments.
int32_t DebugOutput(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  VmSetTraceFlag(L, VmCheckInt(L, 1) != 0);
  return 0;
}

const qvLibraryRow kSystemCommands[] = {
    {"End", End},
    {"Error", Error},
    {"Assert", Assert},
    {"GetLastError", GetLastError},
    {"GetErrorName", GetErrorName},
    {"ExitOnError", ExitOnError},
    {"RaiseOnError", RaiseOnError},
    {"DebugPrint", DebugPrint},
    {"DebugStr", DebugPrint},
    {"DebugVal", DebugPrint},
    {"DebugOutput", DebugOutput},
    {"GetCommandLine", GetCommandLine},
    {nullptr, nullptr},
};

const qvConstantRow kSystemConstants[] = {
    // time units
    {"SECONDS", nullptr, 0},
    {"MILLISECONDS", nullptr, 1},
    {"TICKS", nullptr, 2},
    // parts of a date
    {"DATEYEAR", nullptr, 0},
    {"DATEMONTH", nullptr, 1},
    {"DATEDAY", nullptr, 2},
    {"DATETIME", nullptr, 3},
    // type codes
    {"NIL", nullptr, 0},
    {"NUMBER", nullptr, 2},
    {"STRING", nullptr, 3},
    {"TABLE", nullptr, 4},
    {"FUNCTION", nullptr, 5},
    {"USERDATA", nullptr, 8},
    {"LIGHTUSERDATA", nullptr, 9},
    {"THREAD", nullptr, 10},
    // integer widths
    {"INTEGER", nullptr, 1},
    {"SHORT", nullptr, 6},
    {"WORD", nullptr, 6},
    {"BYTE", nullptr, 7},
    {nullptr, nullptr, 0},
};

}  // namespace

int32_t OpenSystemLibrary(qvScriptState* L) {
  VmRegisterLibrary(L, nullptr, kSystemCommands, 0);
  VmRegisterConstants(L, kSystemConstants, 0);
  std::vector<qvConstantRow> errors;
  try {
    for (const qvErrorName& e : ErrorNames()) errors.push_back({e.name, nullptr, double(e.code)});
    errors.push_back({nullptr, nullptr, 0});
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
  VmRegisterConstants(L, errors.data(), 0);
  VmSetLastErrorReader(L, GetLastError);
  return RegisterLibrary(kSystemCommands, "system");
}

void FreeSystemLibrary(qvScriptState* L) {
  VmUnref(L, kRegistryIndex, VmGetErrorHandlerRef(L));
  VmSetErrorHandlerRef(L, kNoReference);
}

}  // namespace qv
