// The stack interface: everything outside the machine reaches values by stack index.
#include <cstring>

#include "vm/call.h"
#include "vm/func.h"
#include "vm/gc.h"
#include "vm/ops.h"
#include "vm/table.h"

namespace qv {

// ---- addressing ----

qvScriptValue* VmIndexToAddress(qvScriptState* L, int index) {
  if (index > 0) return L->base + index - 1;
  if (index > kRegistryIndex) {
    qvScriptValue* o = L->top + index;
    return (index != 0 && o >= L->base) ? o : nullptr;
  }
  if (index == kRegistryIndex) return &G(L)->registry;
  if (index == kGlobalsIndex) return &L->gt;
  // The upvalues of the running native closure.
  int i = kGlobalsIndex - index;
  const qvScriptValue* fn = L->base - 1;
  if (!IsFunction(fn) || !ClosureOf(fn)->isNative) return nullptr;
  auto* c = static_cast<qvCClosure*>(ClosureOf(fn));
  return i <= c->nupvalues ? &c->upvalues()[i - 1] : nullptr;
}

// The value at an index, or null when the index addresses nothing.
static qvScriptValue* ValueAt(qvScriptState* L, int index) {
  if (index > 0) {
    qvScriptValue* o = L->base + index - 1;
    return o < L->top ? o : nullptr;
  }
  return VmIndexToAddress(L, index);
}

// The value at an index, or nil when the index addresses nothing.
static const qvScriptValue* ValueOrNil(qvScriptState* L, int index) {
  const qvScriptValue* o = ValueAt(L, index);
  return o != nullptr ? o : &kNilValue;
}

static qvTable* TableAt(qvScriptState* L, int index) {
  qvScriptValue* o = ValueAt(L, index);
  return (o != nullptr && IsTable(o)) ? TableOf(o) : nullptr;
}

// ---- the stack ----

int VmCheckStack(qvScriptState* L, int n) {
  if (n < 0) return 1;
  if ((L->top - L->base) + n > kMaxNativeStack) return 0;
  VmEnsureStack(L, n);
  if (L->ci->top < L->top + n) L->ci->top = L->top + n;
  return 1;
}

int VmGetTop(qvScriptState* L) { return int(L->top - L->base); }

void VmSetTop(qvScriptState* L, int index) {
  if (index >= 0) {
    ptrdiff_t grow = (L->base + index) - L->top;
    if (grow > 0) {
      VmEnsureStack(L, int(grow));
      while (grow-- > 0) SetNil(L->top++);
    } else {
      L->top += grow;
    }
  } else {
    L->top += index + 1;
    if (L->top < L->base) L->top = L->base;
  }
}

static bool IsStackSlot(qvScriptState* L, const qvScriptValue* o) {
  return o != nullptr && o >= L->base && o < L->top;
}

void VmRemove(qvScriptState* L, int index) {
  qvScriptValue* p = ValueAt(L, index);
  if (!IsStackSlot(L, p)) return;
  while (++p < L->top) p[-1] = *p;
  --L->top;
}

void VmInsert(qvScriptState* L, int index) {
  qvScriptValue* p = ValueAt(L, index);
  if (!IsStackSlot(L, p)) return;
  for (qvScriptValue* q = L->top; q > p; --q) *q = q[-1];
  *p = *L->top;
}

void VmReplace(qvScriptState* L, int index) {
  if (L->top <= L->base) return;
  qvScriptValue* o = ValueAt(L, index);
  const qvScriptValue* v = L->top - 1;
  bool tableOnly = (index == kGlobalsIndex || index == kRegistryIndex);
  if (o != nullptr && (!tableOnly || IsTable(v))) *o = *v;
  --L->top;
}

void VmPushValue(qvScriptState* L, int index) {
  qvScriptValue* o = ValueAt(L, index);
  qvScriptValue v = o != nullptr ? *o : kNilValue;
  *VmPushSlot(L) = v;
}

// ---- reading ----

int32_t VmType(qvScriptState* L, int index) {
  qvScriptValue* o = ValueAt(L, index);
  return o != nullptr ? o->type : kTypeNone;
}

int VmIsCFunction(qvScriptState* L, int index) {
  qvScriptValue* o = ValueAt(L, index);
  return o != nullptr && IsFunction(o) && ClosureOf(o)->isNative;
}

int VmIsNumber(qvScriptState* L, int index) {
  qvScriptValue* o = ValueAt(L, index);
  double n;
  return o != nullptr && VmToNumberValue(o, &n);
}

int VmIsString(qvScriptState* L, int index) {
  int32_t t = VmType(L, index);
  return t == kTypeString || t == kTypeNumber;
}

int VmIsUserdata(qvScriptState* L, int index) {
  int32_t t = VmType(L, index);
  return t == kTypeUserdata || t == kTypeLightUserdata;
}

int VmRawEqual(qvScriptState* L, int index1, int index2) {
  qvScriptValue* a = ValueAt(L, index1);
  qvScriptValue* b = ValueAt(L, index2);
  return a != nullptr && b != nullptr && RawEqualValues(a, b);
}

int VmEqual(qvScriptState* L, int index1, int index2) {
  qvScriptValue* a = ValueAt(L, index1);
  qvScriptValue* b = ValueAt(L, index2);
  if (a == nullptr || b == nullptr || a->type != b->type) return 0;
  return VmEqualValue(L, a, b);
}

int VmLessThan(qvScriptState* L, int index1, int index2, int byteOrder) {
  qvScriptValue* a = ValueAt(L, index1);
  qvScriptValue* b = ValueAt(L, index2);
  if (a == nullptr || b == nullptr) return 0;
  return VmLessThanValue(L, a, b, byteOrder != 0);
}

double VmToNumber(qvScriptState* L, int index) {
  qvScriptValue* o = ValueAt(L, index);
  double n;
  return (o != nullptr && VmToNumberValue(o, &n)) ? n : 0;
}

int VmToBoolean(qvScriptState* L, int index) {
  qvScriptValue* o = ValueAt(L, index);
  if (o == nullptr || IsNil(o)) return 0;
  return !(o->type == kTypeBoolean && o->value.b == 0);
}

// A string, or a number or nil converted to one in place (then a collection step).
static qvString* StringAt(qvScriptState* L, int index) {
  qvScriptValue* o = ValueAt(L, index);
  if (o == nullptr) return nullptr;
  if (IsString(o)) return StringOf(o);
  if (!VmToStringInPlace(L, o)) return nullptr;
  qvString* s = StringOf(o);
  VmGCStep(L);
  return s;
}

const char* VmToString(qvScriptState* L, int index) {
  qvString* s = StringAt(L, index);
  return s != nullptr ? VmStringText(L, s) : nullptr;
}

size_t VmStrLen(qvScriptState* L, int index) {
  qvString* s = StringAt(L, index);
  return s != nullptr ? s->len : 0;
}

qvCFunction VmToCFunction(qvScriptState* L, int index) {
  qvScriptValue* o = ValueAt(L, index);
  if (o == nullptr || !IsFunction(o) || !ClosureOf(o)->isNative) return nullptr;
  return static_cast<qvCClosure*>(ClosureOf(o))->f;
}

void* VmToUserdata(qvScriptState* L, int index) {
  qvScriptValue* o = ValueAt(L, index);
  if (o == nullptr) return nullptr;
  if (o->type == kTypeUserdata) return UserdataOf(o)->data();
  if (o->type == kTypeLightUserdata) return o->value.p;
  return nullptr;
}

qvScriptState* VmToThread(qvScriptState* L, int index) {
  qvScriptValue* o = ValueAt(L, index);
  return (o != nullptr && o->type == kTypeThread) ? static_cast<qvScriptState*>(o->value.gc)
                                                  : nullptr;
}

const void* VmToPointer(qvScriptState* L, int index) {
  qvScriptValue* o = ValueAt(L, index);
  if (o == nullptr) return nullptr;
  switch (o->type) {
    case kTypeTable:
    case kTypeFunction:
    case kTypeThread:
      return o->value.gc;
    case kTypeUserdata:
    case kTypeLightUserdata:
      return VmToUserdata(L, index);
    default:
      return nullptr;
  }
}

// ---- pushing ----

void VmPushNil(qvScriptState* L) { SetNil(VmPushSlot(L)); }

void VmPushNumber(qvScriptState* L, double n) { SetNumber(VmPushSlot(L), n); }

void VmPushLightUserdata(qvScriptState* L, void* p) {
  qvScriptValue* o = VmPushSlot(L);
  o->type = kTypeLightUserdata;
  o->value.p = p;
}

void VmPushStringNoGC(qvScriptState* L, const char* s) {
  if (s == nullptr) {
    VmPushNil(L);
    return;
  }
  qvString* ts = VmInternCString(L, s);
  SetString(VmPushSlot(L), ts);
}

void VmPushLString(qvScriptState* L, const char* s, size_t len) {
  VmGCStep(L);
  qvString* ts = VmInternString(L, s, len);
  SetString(VmPushSlot(L), ts);
}

void VmPushString(qvScriptState* L, const char* s) {
  if (s == nullptr) {
    VmPushNil(L);
    return;
  }
  VmPushLString(L, s, std::strlen(s));
}

void VmPushCClosure(qvScriptState* L, qvCFunction fn, int n) {
  VmGCStep(L);
  if (n < 0) n = 0;
  if (n > 255) n = 255;
  if (n > L->top - L->base) n = int(L->top - L->base);
  qvCClosure* cl = VmNewCClosure(L, n);
  cl->f = fn;
  L->top -= n;
  for (int i = 0; i < n; ++i) cl->upvalues()[i] = L->top[i];
  SetObject(VmPushSlot(L), kTypeFunction, cl);
}

// ---- tables ----

void VmGetTable(qvScriptState* L, int index) {
  qvScriptValue v = VmGetTableValue(L, ValueOrNil(L, index), L->top - 1, qvMissing::kNil);
  L->top[-1] = v;
}

void VmRawGet(qvScriptState* L, int index) {
  qvTable* h = TableAt(L, index);
  L->top[-1] = h != nullptr ? VmTableGetValue(h, L->top - 1) : kNilValue;
}

void VmRawGetI(qvScriptState* L, int index, int n) {
  qvTable* h = TableAt(L, index);
  qvScriptValue v = h != nullptr ? VmTableGetIntValue(h, n) : kNilValue;
  *VmPushSlot(L) = v;
}

void VmNewTableNoGC(qvScriptState* L) {
  qvTable* t = VmNewTableObject(L, 0, 0);
  SetObject(VmPushSlot(L), kTypeTable, t);
}

void VmNewTable(qvScriptState* L) {
  VmGCStep(L);
  VmNewTableNoGC(L);
}

int VmGetMetaTable(qvScriptState* L, int index) {
  qvScriptValue* o = ValueAt(L, index);
  qvTable* mt = o != nullptr ? VmMetatableOf(o) : nullptr;
  if (mt == nullptr || mt == TableOf(&G(L)->defaultMeta)) return 0;
  SetObject(VmPushSlot(L), kTypeTable, mt);
  return 1;
}

void VmGetFEnv(qvScriptState* L, int index) {
  qvScriptValue* o = ValueAt(L, index);
  qvScriptValue env = L->gt;
  if (o != nullptr && IsFunction(o) && !ClosureOf(o)->isNative)
    env = static_cast<qvLClosure*>(ClosureOf(o))->env;
  *VmPushSlot(L) = env;
}

void VmSetTable(qvScriptState* L, int index) {
  VmSetTableValue(L, ValueOrNil(L, index), L->top - 2, L->top - 1);
  L->top -= 2;
}

void VmRawSet(qvScriptState* L, int index) {
  qvTable* h = TableAt(L, index);
  if (h != nullptr) {
    VmTableSetValue(L, h, L->top - 2, L->top - 1);
  }
  L->top -= 2;
}

void VmRawSetI(qvScriptState* L, int index, int n) {
  qvTable* h = TableAt(L, index);
  if (h != nullptr) {
    VmTableSetIntValue(L, h, n, L->top - 1);
  }
  --L->top;
}

int VmSetMetaTable(qvScriptState* L, int index) {
  qvScriptValue* o = ValueAt(L, index);
  const qvScriptValue* m = L->top - 1;
  qvTable* mt = nullptr;
  if (IsNil(m))
    mt = TableOf(&G(L)->defaultMeta);
  else if (IsTable(m))
    mt = TableOf(m);
  int done = 0;
  if (o != nullptr && mt != nullptr) {
    if (IsTable(o)) {
      TableOf(o)->metatable = mt;
      done = 1;
    } else if (o->type == kTypeUserdata) {
      UserdataOf(o)->metatable = mt;
      done = 1;
    }
  }
  --L->top;
  return done;
}

int VmSetFEnv(qvScriptState* L, int index) {
  qvScriptValue* o = ValueAt(L, index);
  int done = 0;
  if (o != nullptr && IsFunction(o) && !ClosureOf(o)->isNative && IsTable(L->top - 1)) {
    static_cast<qvLClosure*>(ClosureOf(o))->env = L->top[-1];
    done = 1;
  }
  // NOLINTNEXTLINE(clang-analyzer-core.NullDereference): it takes a null slot for a null state
  --L->top;
  return done;
}

int VmNext(qvScriptState* L, int index) {
  qvTable* h = TableAt(L, index);
  if (h != nullptr && VmTableNext(L, h, L->top - 1)) {
    VmPushSlot(L);  // the value is already in place
    return 1;
  }
  --L->top;
  return 0;
}

// ---- garbage collection ----

uint32_t VmGetGCThreshold(qvScriptState* L) { return uint32_t(G(L)->threshold >> 10); }
uint32_t VmGetGCCount(qvScriptState* L) { return uint32_t(G(L)->nblocks >> 10); }

void VmSetGCThreshold(qvScriptState* L, uint32_t kilobytes) {
  VmSetThreshold(L, kilobytes < 0x400000u ? uint64_t(kilobytes) * 1024 : kNoGCLimit);
  VmGCStep(L);
}

// ---- miscellaneous ----

void VmConcat(qvScriptState* L, int n) {
  if (n >= 2) {
    VmGCStep(L);
    VmConcatValues(L, n, int(L->top - L->base) - 1);
    L->top -= n - 1;
  } else if (n == 0) {
    SetString(VmPushSlot(L), VmInternString(L, "", 0));
  }
}

void* VmNewUserdata(qvScriptState* L, size_t size) {
  VmGCStep(L);
  qvUserdata* u = VmNewUserdataObject(L, size);
  SetObject(VmPushSlot(L), kTypeUserdata, u);
  return u->data();
}

int VmPushUpvalues(qvScriptState* L) {
  const qvScriptValue* fn = L->base - 1;
  if (!IsFunction(fn) || !ClosureOf(fn)->isNative) return 0;
  int n = ClosureOf(fn)->nupvalues;
  VmEnsureStack(L, n + kMinNativeStack);
  auto* c = static_cast<qvCClosure*>(ClosureOf(L->base - 1));  // the stack may have moved
  for (int i = 0; i < n; ++i) L->top[i] = c->upvalues()[i];
  L->top += n;
  return n;
}

// The slot and the name of upvalue n of a function, or null.
static const char* UpvalueSlot(qvScriptValue* fn, int n, qvScriptValue** slot) {
  if (fn == nullptr || !IsFunction(fn) || n < 1) return nullptr;
  qvClosure* cl = ClosureOf(fn);
  if (cl->isNative) {
    if (n > cl->nupvalues) return nullptr;
    *slot = &static_cast<qvCClosure*>(cl)->upvalues()[n - 1];
    return "";
  }
  auto* c = static_cast<qvLClosure*>(cl);
  if (n > c->p->sizeupvalues || n > c->nupvalues || c->upvals()[n - 1] == nullptr) return nullptr;
  *slot = c->upvals()[n - 1]->v;
  qvString* name = c->p->upvalues[n - 1];
  return name != nullptr ? name->data() : "";
}

const char* VmGetUpvalue(qvScriptState* L, int funcIndex, int n) {
  qvScriptValue* slot;
  const char* name = UpvalueSlot(ValueAt(L, funcIndex), n, &slot);
  if (name != nullptr) {
    qvScriptValue v = *slot;
    *VmPushSlot(L) = v;
  }
  return name;
}

const char* VmSetUpvalue(qvScriptState* L, int funcIndex, int n) {
  qvScriptValue* slot;
  const char* name = UpvalueSlot(ValueAt(L, funcIndex), n, &slot);
  if (name != nullptr) {
    *slot = L->top[-1];
    --L->top;
  }
  return name;
}

}  // namespace qv
