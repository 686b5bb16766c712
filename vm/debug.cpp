// Where the script is: call levels, the function, source and line of each, and names for
// functions and values.
#include "vm/debug.h"

#include <cstring>

#include "base/errors.h"
#include "vm/call.h"
#include "vm/chunk.h"
#include "vm/func.h"
#include "vm/opcodes.h"
#include "vm/table.h"

namespace qv {

namespace {

const qvProto* ProtoOf(const qvCallInfo* ci) {
  return static_cast<qvLClosure*>(ClosureOf(ci->base - 1))->p;
}

// The instruction a script record is at: the one before its saved pc. A record whose function
// has not started yet counts as being at its first instruction.
int CurrentPc(const qvCallInfo* ci) {
  const int pc = int(ci->savedpc - ProtoOf(ci)->code) - 1;
  return pc < 0 ? 0 : pc;
}

// The line of a record's current instruction: -1 in a native, `noTable` when the function has
// no line table.
int32_t RecordLine(const qvCallInfo* ci, int32_t noTable) {
  if (ci->state & kCallNative) return -1;
  const qvProto* p = ProtoOf(ci);
  if (p->sizelineinfo == 0) return noTable;
  return p->lineinfo[CurrentPc(ci)];
}

// The constant name of a table key operand, "?" otherwise.
const char* KeyName(const qvProto* p, int c) {
  if (IsConstantRK(c) && IsString(&p->k[c - kRKBase])) return StringOf(&p->k[c - kRKBase])->data();
  return "?";
}

// A string key of the globals table whose value is the function.
const char* GlobalName(qvScriptState* L, const qvScriptValue* fn) {
  const qvTable* gt = TableOf(&L->gt);
  if (IsDummyNode(gt)) return nullptr;
  for (uint32_t i = 0; i < NodeCount(gt); ++i) {
    const qvHashNode* n = &gt->node[i];
    if (n->ref == 0) continue;
    const qvTableEntry* e = EntryOf(gt, n);
    if (e->keyType == kTypeString && RawEqualValues(&e->val, fn))
      return VmStringText(L, static_cast<qvString*>(e->keyValue.gc));
  }
  return nullptr;
}

// The name the calling instruction gives the function of a record: register A of a script
// caller's OpCall or OpTailCall. None for a function reached through a tail call.
const char* CallerName(qvScriptState* L, const qvCallInfo* ci, const char** name) {
  if (!(ci->state & kCallNative) && ci->tailcalls > 0) return nullptr;
  const qvCallInfo* caller = ci - 1;
  if (caller->state & kCallNative) return nullptr;
  const uint32_t i = ProtoOf(caller)->code[CurrentPc(caller)];
  if (GetOp(i) != OpCall && GetOp(i) != OpTailCall) return nullptr;
  return VmVariableName(L, caller, GetA(i), name);
}

void FillTailCall(qvDebugRecord* ar) {
  ar->name = ar->namewhat = "";
  ar->what = "tail";
  ar->source = "=(tail call)";
  ar->currentline = ar->linedefined = -1;
  ar->nups = 0;
  VmChunkId(ar->shortSrc, ar->source, sizeof ar->shortSrc);
}

void FillSource(qvDebugRecord* ar, const qvClosure* cl) {
  if (cl->isNative) {
    ar->source = "=[C]";
    ar->linedefined = -1;
    ar->what = "C";
  } else {
    const qvProto* p = static_cast<const qvLClosure*>(cl)->p;
    ar->source = p->source != nullptr ? p->source->data() : "=?";  // a main function may have none
    ar->linedefined = p->linedefined;
    ar->what = p->linedefined == 0 ? "main" : "Quillvane";
  }
  VmChunkId(ar->shortSrc, ar->source, sizeof ar->shortSrc);
}

// Appends to a fixed buffer, cutting at its end.
struct BoundedText {
  char* out;
  size_t size;
  size_t len = 0;
  void Put(const char* s, size_t n) {
    if (n > size - 1 - len) n = size - 1 - len;
    std::memcpy(out + len, s, n);
    len += n;
    out[len] = '\0';
  }
  void Put(const char* s) { Put(s, std::strlen(s)); }
};

}  // namespace

int32_t VmCurrentLine(qvScriptState*, const qvCallInfo* ci) { return RecordLine(ci, 0); }

void VmFillErrorLine(qvScriptState* L) {
  qvDebugRecord ar;
  if (L->errorLine == -1 && VmGetStack(L, 1, &ar) && VmGetInfo(L, "l", &ar))
    L->errorLine = ar.currentline;
}

void VmChunkId(char* out, const char* source, size_t size) {
  if (size == 0) return;
  BoundedText text{out, size};
  out[0] = '\0';
  if (*source == '=') {
    text.Put(source + 1);
  } else if (*source == '@') {
    const char* path = source + 1;
    size_t len = std::strlen(path);
    const size_t keep = size > 8 ? size - 8 : 0;  // room for "..." and what callers add around it
    if (len > keep) {
      text.Put("...");
      path += len - keep;
      len = keep;
    }
    text.Put(path, len);
  } else {
    size_t len = std::strcspn(source, "\n");
    const size_t room = size > 17 ? size - 17 : 0;
    if (len > room) len = room;
    text.Put("[string \"");
    text.Put(source, len);
    if (source[len] != '\0') text.Put("...");  // cut, or more lines follow
    text.Put("\"]");
  }
}

int VmGetStack(qvScriptState* L, int level, qvDebugRecord* ar) {
  if (level < 0) return 0;
  const qvCallInfo* ci = L->ci;
  for (; level > 0 && ci > L->baseCi; --ci) {
    --level;
    if (!(ci->state & kCallNative)) level -= ci->tailcalls;
  }
  if (level < 0) {  // inside a run of folded tail calls
    ar->ci = 0;
    return 1;
  }
  if (level > 0 || ci == L->baseCi) return 0;
  ar->ci = int32_t(ci - L->baseCi);
  return 1;
}

int VmGetInfo(qvScriptState* L, const char* options, qvDebugRecord* ar) {
  const qvCallInfo* ci = nullptr;
  qvScriptValue fn;
  bool tail = false;  // the tail-call entry, filled whole at once
  if (*options == '>') {
    ++options;
    if (L->top <= L->base || !IsFunction(L->top - 1)) VmRaiseError(L, ERR_FUNCEXPECTED);
    fn = *--L->top;
  } else if (ar->ci == 0) {
    FillTailCall(ar);
    SetNil(&fn);
    tail = true;
  } else {
    if (ar->ci < 0 || ar->ci > L->ci - L->baseCi) return 0;  // not a live record
    ci = L->baseCi + ar->ci;
    fn = ci->base[-1];
  }
  int status = 1;
  bool push = false;
  for (; *options != '\0'; ++options) {
    switch (*options) {
      case 'S':
        if (!tail) FillSource(ar, ClosureOf(&fn));
        break;
      case 'l':
        if (!tail) ar->currentline = ci != nullptr ? RecordLine(ci, -1) : -1;
        break;
      case 'u':
        if (!tail) ar->nups = ClosureOf(&fn)->nupvalues;
        break;
      case 'n':
        if (tail) break;
        ar->name = nullptr;
        ar->namewhat = ci != nullptr ? CallerName(L, ci, &ar->name) : nullptr;
        if (ar->namewhat == nullptr) {
          ar->name = GlobalName(L, &fn);
          ar->namewhat = ar->name != nullptr ? "global" : "";
        }
        break;
      case 'f':
        push = true;
        break;
      default:
        status = 0;
        break;
    }
  }
  if (push) *VmPushSlot(L) = fn;
  return status;
}

const char* VmVariableName(qvScriptState* L, const qvCallInfo* ci, int reg, const char** name) {
  if (ci->state & kCallNative) return nullptr;
  const qvProto* p = ProtoOf(ci);
  const int pc = CurrentPc(ci);
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

}  // namespace qv
