#include "core/value_text.h"

#include <cstdio>
#include <new>

#include "base/errors.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {

void PushValueText(qvScriptState* L, int index) {
  index = VmAbsIndex(L, index);
  if (VmCallMeta(L, index, "__tostring")) return;
  const char* kind = nullptr;
  switch (VmType(L, index)) {
    case kTypeNil:
      VmPushString(L, "Nil");
      return;
    case kTypeBoolean:
      VmPushString(L, VmToBoolean(L, index) ? "true" : "false");
      return;
    case kTypeNumber:
      VmPushValue(L, index);
      VmToString(L, -1);  // the machine's own number text, in place
      return;
    case kTypeString:
      VmPushValue(L, index);
      return;
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
  std::snprintf(text, sizeof text, "%s: %p", kind, VmToPointer(L, index));
  VmPushString(L, text);
}

namespace {

constexpr int32_t kScriptEnded = -1;

// Appends the text of the value at `index` through the global "tostring" (after a blank with
// `blank`). Returns 0, an error code, or kScriptEnded when the call ended the script.
int32_t AppendDebugText(qvScriptState* L, int index, bool blank, std::string* line) {
  VmPushString(L, "tostring");
  VmGetTable(L, kGlobalsIndex);
  VmPushValue(L, index);
  int32_t word = VmCall(L, 1, 1);
  if (word >= kFirstErrorCode) return word;
  if (VmGetEndFlag(L)) return kScriptEnded;
  int32_t type = VmType(L, -1);
  if (type != kTypeString && type != kTypeNumber) return ERR_STRINGEXPECTED;
  if (blank) *line += ' ';
  *line += VmToString(L, -1);
  return 0;
}

}  // namespace

int32_t MakeDebugLine(qvScriptState* L, int count, std::string* line) try {
  line->clear();
  const int top = VmGetTop(L);
  int32_t code = 0;
  for (int i = 1; i <= count && code == 0; ++i) {
    code = AppendDebugText(L, i, i > 1, line);
    VmSetTop(L, top);
  }
  if (code != 0) {
    line->clear();
    return code == kScriptEnded ? 0 : code;
  }
  *line += '\n';
  return 0;
} catch (const std::bad_alloc&) {
  return ERR_MEM;
}

}  // namespace qv
