// Eval: arithmetic and logical expressions given as text, with named variables.
#include <new>
#include <vector>

#include "base/errors.h"
#include "core/args.h"
#include "core/eval.h"
#include "libs/string/commands.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

namespace {

// The options table's "variables": items from 0 up to the first Nil, each a table with "name"
// (a variable name) and "value" (a number, 0 when missing). ERR_WRONGUSAGE for an item that is
// no table or has no valid name.
int32_t ReadVariables(qvScriptState* L, int options, std::vector<qvEvalVariable>* out) {
  VmPushString(L, "variables");
  VmGetTable(L, options);
  int list = VmGetTop(L);
  if (VmType(L, list) == kTypeNil) return 0;
  VmCheckTable(L, list);
  for (int i = 0;; ++i) {
    VmRawGetI(L, list, i);
    int item = VmGetTop(L);
    int32_t type = VmType(L, item);
    if (type == kTypeNil) break;
    if (type != kTypeTable) return ERR_WRONGUSAGE;
    VmPushString(L, "name");
    VmGetTable(L, item);
    if (VmType(L, -1) != kTypeString) return ERR_WRONGUSAGE;
    size_t length = VmStrLen(L, -1);
    const char* name = VmToString(L, -1);
    if (!IsEvalVariableName(name, length)) return ERR_WRONGUSAGE;
    qvEvalVariable v{std::string(name, length), 0};
    VmPushString(L, "value");
    VmGetTable(L, item);
    if (VmType(L, -1) != kTypeNil) v.value = VmCheckNumberField(L, -1, "value");
    out->push_back(std::move(v));
    VmSetTop(L, list);
  }
  return 0;
}

}  // namespace

// Eval(expression, options): the value of the expression.
int32_t Eval(qvScriptState* L) {
  CheckArgCount(L, 1, 2);
  const char* text = VmCheckString(L, 1);
  try {
    std::vector<qvEvalVariable> variables;
    if (VmGetTop(L) >= 2 && VmType(L, 2) != kTypeNil) {
      VmCheckTable(L, 2);
      int32_t code = ReadVariables(L, 2, &variables);
      if (code != 0) return code;
    }
    double value = 0;
    int32_t code = EvaluateExpression(text, variables, &value);
    if (code != 0) return code;
    VmPushNumber(L, value);
    return 1;
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
}

}  // namespace qv::cmd
