// The running script: ending it, and the user arguments it was started with.
#include "core/args.h"
#include "core/player_state.h"
#include "libs/system/commands.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

// End(): the script stops before its next instruction.
int32_t End(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  VmSetEndFlag(L, 1);
  return 0;
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

}  // namespace qv::cmd
