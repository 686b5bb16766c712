// Errors and how they are handled: raising them, reading the last one, naming codes, and whether
// a failed command ends the script or goes to the script's error handler.
#include "core/args.h"
#include "core/error_table.h"
#include "core/errors.h"
#include "core/player_state.h"
#include "libs/system/commands.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

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

// GetLastError(): the code of the last failed command; the machine keeps it for this command
// (the library's open function names it to the machine).
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

// ExitOnError(flag): whether errors end the script.
int32_t ExitOnError(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  return ChangeExitOnError(L, VmCheckInt(L, 1) != 0);
}

// RaiseOnError(function or Nil): the function that failed commands are handed to, or none.
int32_t RaiseOnError(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  // The refusal while ExitOnError is off comes before the type check.
  if (!GetExitOnError()) return ERR_WRONGUSAGE;
  if (VmType(L, 1) != kTypeNil) VmCheckFunction(L, 1);
  return SetScriptErrorHandler(L, 1);
}

}  // namespace qv::cmd
