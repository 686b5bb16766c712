// The string library. ToString is here so far; DebugPrint converts its arguments through it.
#include <cstdio>

#include "core/args.h"
#include "libs/libraries.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {

namespace {

// ToString(value): the "__tostring" metamethod's result, else a text for the value's type.
int32_t ToString(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  if (VmCallMeta(L, 1, "__tostring")) return 1;
  const char* kind = nullptr;
  switch (VmType(L, 1)) {
    case kTypeNil:
      VmPushString(L, "Nil");
      return 1;
    case kTypeBoolean:
      VmPushString(L, VmToBoolean(L, 1) ? "true" : "false");
      return 1;
    case kTypeNumber:
      VmPushValue(L, 1);
      VmToString(L, -1);  // the machine's own number text, in place
      return 1;
    case kTypeString:
      VmPushValue(L, 1);
      return 1;
    case kTypeTable:
      kind = "Table";
      break;
    case kTypeFunction:
      kind = "Function";
      break;
    case kTypeThread:
      kind = "Thread";
      break;
    default:  // userdata and light userdata
      kind = "UserData";
      break;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%s: %p", kind, VmToPointer(L, 1));
  VmPushString(L, text);
  return 1;
}

const qvLibraryRow kStringCommands[] = {
    {"ToString", ToString},
    {nullptr, nullptr},
};

}  // namespace

int32_t OpenStringLibrary(qvScriptState* L) {
  VmRegisterLibrary(L, nullptr, kStringCommands, 0);
  return RegisterLibrary(kStringCommands, "string");
}

}  // namespace qv
