// Where the script is: call levels, current lines and names of functions.
#include "vm/debug.h"

#include "vm/call.h"
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

const char* VmFunctionName(qvScriptState* L, const qvCallInfo* ci, const char** namewhat) {
  const char* name = GlobalName(L, ci->base - 1);
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
