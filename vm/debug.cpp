// Where the script is: call levels, current lines and names of functions.
#include "vm/debug.h"

#include "vm/call.h"
#include "vm/chunk.h"
#include "vm/func.h"
#include "vm/opcodes.h"
#include "vm/table.h"

namespace qv {

static qvLClosure* ScriptClosureOf(const qvCallInfo* ci) {
  return static_cast<qvLClosure*>(ClosureOf(ci->base - 1));
}

int VmCurrentPc(qvScriptState*, const qvCallInfo* ci) {
  if (ci->state & kCallNative || ci->savedpc == nullptr) return -1;
  return int(ci->savedpc - ScriptClosureOf(ci)->p->code) - 1;
}

int32_t VmCurrentLine(qvScriptState* L, const qvCallInfo* ci) {
  if (ci->state & kCallNative) return -1;
  const qvProto* p = ScriptClosureOf(ci)->p;
  if (p->sizelineinfo == 0) return 0;
  int pc = VmCurrentPc(L, ci);
  return (pc >= 0 && pc < p->sizelineinfo) ? p->lineinfo[pc] : 0;
}

// A global whose value is the function.
static const char* GlobalName(qvScriptState* L, const qvScriptValue* fn) {
  qvTable* gt = TableOf(&L->gt);
  if (IsDummyNode(gt)) return nullptr;
  for (uint32_t i = 0; i < NodeCount(gt); ++i) {
    const qvHashNode* n = &gt->node[i];
    if (IsString(&n->key) && RawEqualValues(&n->val, fn)) return StringOf(&n->key)->data();
  }
  return nullptr;
}

// The constant name of a table key operand, "?" otherwise.
static const char* KeyName(const qvProto* p, int c) {
  if (IsConstantRK(c) && IsString(&p->k[c - kRKBase])) return StringOf(&p->k[c - kRKBase])->data();
  return "?";
}

const char* VmVariableName(qvScriptState* L, const qvCallInfo* ci, int reg, const char** name) {
  if (ci->state & kCallNative) return nullptr;
  const qvProto* p = ScriptClosureOf(ci)->p;
  const int pc = VmCurrentPc(L, ci);
  if (pc < 0) return nullptr;
  *name = VmLocalName(p, reg + 1, pc);
  if (*name != nullptr) return "local";
  int setter;
  if (!VmSymbolicExec(p, pc, reg, &setter) || setter < 0) return nullptr;
  const uint32_t i = p->code[setter];
  switch (GetOp(i)) {
    case OpGetGlobal:
      *name = StringOf(&p->k[GetBx(i)])->data();
      return "global";
    case OpMove:
      if (GetB(i) < GetA(i)) return VmVariableName(L, ci, GetB(i), name);
      return nullptr;
    case OpGetTable:
      *name = KeyName(p, GetC(i));
      return "field";
    case OpSelf:
      *name = KeyName(p, GetC(i));
      return "method";
    default:
      return nullptr;
  }
}

// The name the calling instruction gives the function of a record: a script caller's OpCall
// or OpTailCall names its register A. Else a global holding the function.
const char* VmFunctionName(qvScriptState* L, const qvCallInfo* ci, const char** namewhat) {
  const char* name = nullptr;
  const qvCallInfo* caller = ci - 1;
  bool tail = !(ci->state & kCallNative) && ci->tailcalls > 0;
  if (!tail && ci > L->baseCi && !(caller->state & kCallNative)) {
    int pc = VmCurrentPc(L, caller);
    if (pc >= 0) {
      uint32_t i = ScriptClosureOf(caller)->p->code[pc];
      if (GetOp(i) == OpCall || GetOp(i) == OpTailCall) {
        *namewhat = VmVariableName(L, caller, GetA(i), &name);
        if (*namewhat != nullptr) return name;
      }
    }
  }
  name = GlobalName(L, ci->base - 1);
  *namewhat = name != nullptr ? "global" : "";
  return name;
}

bool VmDescribeLevel(qvScriptState* L, int level, qvLevelInfo* info) {
  qvCallInfo* ci = L->ci;
  for (; level > 0 && ci > L->baseCi; --ci) --level;
  if (level != 0 || ci == L->baseCi) return false;
  info->native = (ci->state & kCallNative) != 0;
  info->currentline = VmCurrentLine(L, ci);
  info->name = VmFunctionName(L, ci, &info->namewhat);
  return true;
}

}  // namespace qv
