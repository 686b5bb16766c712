// Calls, protected runs, the error path and the command-call contract.
#include "vm/call.h"

#include <cstdio>
#include <cstdlib>

#include "base/errors.h"
#include "vm/debug.h"
#include "vm/func.h"
#include "vm/gc.h"
#include "vm/ops.h"
#include "vm/table.h"

namespace qv {

// ---- protected runs and throwing ----

int32_t VmRunProtected(qvScriptState* L, qvProtectedBody body, void* arg) {
  qvErrorJump ej{L->errorJmp, 0};
  L->errorJmp = &ej;
  try {
    body(L, arg);
  } catch (const VmError& e) {
    ej.status = e.code;
  }
  L->errorJmp = ej.previous;
  return ej.status;
}

void VmThrow(qvScriptState* L, int32_t code) {
  if (L->errorJmp != nullptr) throw VmError{code};
  if (L->g != nullptr && G(L)->panic != nullptr) G(L)->panic(L);
  // No protected run to unwind to: the embedding program broke the machine's contract.
  std::abort();
}

void VmRaiseError(qvScriptState* L, int32_t code) {
  L->errorLine = VmCurrentLine(L, L->ci);
  VmFillErrorLine(L);
  G(L)->host->noteErrorFunction(L);
  VmThrow(L, code);
}

int32_t VmHostRaise(qvScriptState* L, int32_t code) { return G(L)->host->raiseError(L, code); }

void VmTypeError(qvScriptState* L, const qvScriptValue* v, int32_t code, const char* suffix) {
  const char* name = nullptr;
  const qvCallInfo* ci = L->ci;
  if (!(ci->state & kCallNative) && v >= ci->base && v < ci->top &&
      VmVariableName(L, ci, int(v - ci->base), &name) == nullptr)
    name = nullptr;
  char text[512];
  std::snprintf(text, sizeof text, "%s%s", name != nullptr ? name : "??",
                suffix);  // cut to the buffer
  SetErrorString(text);
  VmRaiseError(L, code);
}

// ---- hooks ----

void VmSetHook(qvScriptState* L, qvHook hook, int mask, int count) {
  if (count <= 0) mask &= ~kMaskCount;  // a count hook needs a count to run down
  if (hook == nullptr || (mask & ~kMaskOnRequest) == 0) {
    mask = 0;
    hook = nullptr;
  }
  L->hook = hook;
  L->basehookcount = count;
  L->hookcount = count;
  L->hookmask = static_cast<uint8_t>(mask);
  L->hookinit = 0;  // the line tracking restarts
  VmUpdatePending(L);
}

void VmRequestHook(qvScriptState* L) {
  PendingWord(L).fetch_or(kPendingRequest, std::memory_order_release);
}

void VmCallHook(qvScriptState* L, int event, int32_t line) {
  qvHook hook = L->hook;
  if (hook == nullptr || !L->allowhook) return;
  const ptrdiff_t top = SaveStack(L, L->top);
  const ptrdiff_t ciTop = SaveStack(L, L->ci->top);
  qvDebugRecord ar;
  ar.event = event;
  ar.name = ar.namewhat = ar.what = ar.source = nullptr;
  ar.currentline = line;
  ar.nups = ar.linedefined = 0;
  ar.shortSrc[0] = '\0';
  ar.ci = event == kHookTailReturn ? 0 : int32_t(L->ci - L->baseCi);
  VmEnsureStack(L, kMinNativeStack);
  L->ci->top = L->top + kMinNativeStack;
  L->allowhook = 0;  // no hooks inside the hook; a protected call restores the flag on errors
  int32_t error = 0;
  hook(L, &ar, &error);
  L->allowhook = 1;
  L->ci->top = RestoreStack(L, ciTop);
  L->top = RestoreStack(L, top);
  if (error != 0) VmThrow(L, error);
}

// ---- call records ----

void VmEnsureCI(qvScriptState* L) {
  if (L->ci == L->endCi) {
    if (L->sizeCi > kMaxCalls) VmThrow(L, ERR_STACK);  // overflow while handling overflow
    VmReallocCI(L, 2 * L->sizeCi);
    if (L->sizeCi > kMaxCalls) VmRaiseError(L, ERR_STACK);
  }
}

// A value that is no function is called through its "__call" metamethod, with itself as the
// first argument.
static qvScriptValue* TryCallMeta(qvScriptState* L, qvScriptValue* func) {
  const qvScriptValue* tm = VmGetMetamethod(L, func, kEventCall);
  if (!IsFunction(tm)) VmTypeError(L, func, ERR_FUNCDECLA, "()");
  qvScriptValue f = *tm;
  ptrdiff_t funcr = SaveStack(L, func);
  for (qvScriptValue* p = L->top; p > func; --p) *p = p[-1];
  VmPushSlot(L);
  func = RestoreStack(L, funcr);
  *func = f;
  return func;
}

// Moves the arguments beyond the fixed parameters into a table (keys 0 .. n-1 and "n") that
// takes the slot after the parameters.
static void AdjustVarargs(qvScriptState* L, int nfixargs, qvScriptValue* base) {
  int actual = int(L->top - base);
  if (actual < nfixargs) {
    VmEnsureStack(L, nfixargs - actual);
    for (; actual < nfixargs; ++actual) SetNil(L->top++);
  }
  actual -= nfixargs;
  qvTable* htab = VmNewTableObject(L, uint32_t(actual), 1);
  for (int i = 0; i < actual; ++i) VmTableSetIntValue(L, htab, i, L->top - actual + i);
  qvScriptValue key;
  SetString(&key, VmInternString(L, "n", 1));
  qvScriptValue count;
  SetNumber(&count, actual);
  VmTableSetValue(L, htab, &key, &count);
  L->top -= actual;
  SetObject(VmPushSlot(L), kTypeTable, htab);
}

// "Now calling name() with arguments #1=(NUMBER)5 ...\n", item by item.
static void TraceCall(qvScriptState* L) {
  auto out = G(L)->host->outputText;
  qvDebugRecord ar;
  ar.ci = int32_t(L->ci - L->baseCi);
  VmGetInfo(L, "n", &ar);
  const char* name = ar.name;
  char item[kNumberBufferSize + 64];
  out("Now calling ");
  out(name != nullptr ? name : "?");
  out("()");
  int nargs = int(L->top - L->base);
  if (nargs > 0) out(" with arguments ");
  for (int i = 0; i < nargs; ++i) {
    const qvScriptValue* v = L->base + i;
    switch (v->type) {
      case kTypeNil:
        std::snprintf(item, sizeof item, "#%d=(NIL) ", i + 1);
        break;
      case kTypeNumber: {
        char num[kNumberBufferSize];
        VmFormatNumberG(v->value.n, num);
        std::snprintf(item, sizeof item, "#%d=(NUMBER)%s ", i + 1, num);
        break;
      }
      case kTypeString:
        std::snprintf(item, sizeof item, "#%d=(STRING)\"", i + 1);
        out(item);
        out(VmStringText(L, StringOf(v)));  // up to an embedded NUL, like "%s"
        std::snprintf(item, sizeof item, "\" ");
        break;
      case kTypeTable:
        std::snprintf(item, sizeof item, "#%d=(TABLE)%p ", i + 1, static_cast<void*>(v->value.gc));
        break;
      case kTypeFunction:
        std::snprintf(item, sizeof item, "#%d=(FUNCPTR)%p ", i + 1,
                      static_cast<void*>(v->value.gc));
        break;
      default:
        std::snprintf(item, sizeof item, "#%d=(INTERNAL)%d ", i + 1, int(v->type));
        break;
    }
    out(item);
  }
  out("\n");
}

// Runs a native function and applies the command contract to its result.
static qvScriptValue* CallNative(qvScriptState* L, qvCClosure* cl, int32_t* word) {
  if (L->traceFlag && !L->endFlag) TraceCall(L);
  if (cl->f != L->lastErrorReader) L->lastError = 0;
  int32_t r = cl->f(L);
  if (IsErrorWord(r) && L->errorHandlerRef != -1 && L->handlerSuppression == 0 &&
      !L->inErrorHandler) {
    struct InHandler {
      qvScriptState* L;
      ~InHandler() { L->inErrorHandler = 0; }
    } guard{L};
    L->inErrorHandler = 1;
    r = CallErrorHandler(L, r);
  }
  if (uint32_t(r) <= 999) {
    *word = 0;
    // A native that claims more results than its frame holds gets only those.
    return (L->top - L->base < r) ? L->base : L->top - r;
  }
  *word = r;
  return L->top;
}

qvScriptValue* VmPreCall(qvScriptState* L, qvScriptValue* func, int32_t* word) {
  if (!IsFunction(func)) func = TryCallMeta(L, func);
  VmEnsureCI(L);
  ptrdiff_t funcr = SaveStack(L, func);
  qvClosure* cl = ClosureOf(func);
  if (!cl->isNative) {
    qvProto* p = static_cast<qvLClosure*>(cl)->p;
    if (p->isVararg) AdjustVarargs(L, p->numparams, func + 1);
    VmEnsureStack(L, p->maxstacksize);
    qvCallInfo* ci = ++L->ci;
    L->base = ci->base = RestoreStack(L, funcr) + 1;
    ci->top = L->base + p->maxstacksize;
    ci->savedpc = p->code;
    ci->tailcalls = 0;
    ci->state = kCallSavedPc;
    VmClearFrame(L, L->base + p->numparams + (p->isVararg ? 1 : 0),
                 ci->top);  // the table of extras stays
    *word = 0;
    return nullptr;
  }
  VmEnsureStack(L, kMinNativeStack);
  qvCallInfo* ci = ++L->ci;
  L->base = ci->base = RestoreStack(L, funcr) + 1;
  ci->top = L->top + kMinNativeStack;
  ci->state = kCallNative;
  ci->savedpc = nullptr;
  ci->tailcalls = 0;
  if (L->hookmask & kMaskCall) VmCallHook(L, kHookCall, -1);
  return CallNative(L, static_cast<qvCClosure*>(cl), word);
}

void VmPostCall(qvScriptState* L, int wanted, qvScriptValue* res) {
  if (L->hookmask & kMaskReturn) {
    const ptrdiff_t resr = SaveStack(L, res);
    VmCallHook(L, kHookReturn, -1);
    if (!(L->ci->state & kCallNative))
      while (L->ci->tailcalls > 0) {
        L->ci->tailcalls--;
        VmCallHook(L, kHookTailReturn, -1);
      }
    res = RestoreStack(L, resr);
  }
  qvCallInfo* ci = L->ci--;
  qvScriptValue* dst = ci->base - 1;  // the function slot
  L->base = L->ci->base;
  if (wanted == kMultipleResults) {
    while (res < L->top) *dst++ = *res++;
  } else {
    ptrdiff_t missing = (dst + wanted) - L->top;
    if (missing > 0 && L->stackLast - L->top <= missing) {
      ptrdiff_t dstr = SaveStack(L, dst);
      ptrdiff_t resr = SaveStack(L, res);
      VmGrowStack(L, int(missing));
      dst = RestoreStack(L, dstr);
      res = RestoreStack(L, resr);
    }
    for (; wanted > 0 && res < L->top; --wanted) *dst++ = *res++;
    for (; wanted > 0; --wanted) SetNil(dst++);
  }
  L->top = dst;
}

int32_t VmCallValue(qvScriptState* L, qvScriptValue* func, int nresults) {
  if (++L->nCcalls >= kMaxNativeCalls) {
    if (L->nCcalls == kMaxNativeCalls)
      VmRaiseError(L, ERR_STACK);
    else if (L->nCcalls >= kMaxNativeCalls + (kMaxNativeCalls >> 3))
      VmThrow(L, ERR_STACK);  // an overflow while the first one is handled
  }
  int32_t word;
  qvScriptValue* res = VmPreCall(L, func, &word);
  if (res == nullptr) res = VmExecute(L);
  VmPostCall(L, nresults, res);
  L->nCcalls--;
  VmGCStep(L);
  return word;
}

void VmCallChecked(qvScriptState* L, qvScriptValue* func, int nresults) {
  int32_t word = VmCallValue(L, func, nresults);
  if (IsErrorWord(word)) VmHostRaise(L, word);
}

int32_t VmProtectedCall(qvScriptState* L, qvProtectedBody body, void* arg, ptrdiff_t oldTop,
                        ptrdiff_t errfunc) {
  const int32_t oldNCcalls = L->nCcalls;
  const ptrdiff_t oldCi = L->ci - L->baseCi;
  const uint8_t oldAllowhook = L->allowhook;
  const ptrdiff_t oldErrfunc = L->errfunc;
  const int32_t oldGosub = G(L)->gosubTop;
  L->errfunc = errfunc;
  int32_t status = VmRunProtected(L, body, arg);
  if (status != 0) {
    VmCloseUpvals(L, RestoreStack(L, oldTop));
    L->nCcalls = oldNCcalls;
    L->ci = L->baseCi + oldCi;
    L->base = L->ci->base;
    L->allowhook = oldAllowhook;
    if (G(L)->gosubTop > oldGosub) G(L)->gosubTop = oldGosub;
    if (L->sizeCi > kMaxCalls && L->ci - L->baseCi + 1 < kMaxCalls) {
      try {
        VmReallocCI(L, kMaxCalls);
      } catch (const VmError&) {
      }
    }
  }
  L->errfunc = oldErrfunc;
  return status;
}

// ---- the interface's calls ----

int32_t VmCall(qvScriptState* L, int nargs, int nresults) {
  int32_t word = VmCallValue(L, L->top - (nargs + 1), nresults);
  if (nresults == kMultipleResults && L->top >= L->ci->top) L->ci->top = L->top;
  return word;
}

namespace {
struct CallArgs {
  qvScriptValue* func;
  int nresults;
  int32_t word;
};
void CallBody(qvScriptState* L, void* arg) {
  auto* c = static_cast<CallArgs*>(arg);
  c->word = VmCallValue(L, c->func, c->nresults);
}
}  // namespace

int32_t VmPCall(qvScriptState* L, int nargs, int nresults, int errorFunction) {
  ptrdiff_t ef = 0;
  if (errorFunction != 0) {
    qvScriptValue* o = VmIndexToAddress(L, errorFunction);
    if (o != nullptr) ef = SaveStack(L, o);
  }
  CallArgs c{L->top - (nargs + 1), nresults, 0};
  int32_t status = VmProtectedCall(L, CallBody, &c, SaveStack(L, c.func), ef);
  if (status != 0) return status;
  if (nresults == kMultipleResults && L->top >= L->ci->top) L->ci->top = L->top;
  return c.word;
}

int32_t VmBuiltinNext(qvScriptState* L) {
  VmSetTop(L, 2);
  if (VmType(L, 1) == kTypeTable && VmNext(L, 1)) return 2;
  VmPushNil(L);
  return 1;
}

// ---- the command contract's error handler ----

int32_t CallErrorHandler(qvScriptState* L, int32_t code) {
  const qvVmHost* host = G(L)->host;
  host->noteErrorFunction(L);
  char message[1024];
  host->formatMessage(code, message, sizeof message);
  VmRawGetI(L, kRegistryIndex, L->errorHandlerRef);
  VmPushNumber(L, code);
  VmPushString(L, message);
  VmPushString(L, host->errorFunctionName());
  VmPushNumber(L, L->errorLine);
  host->forgetErrorFunction();
  L->errorLine = -1;
  struct Nesting {
    qvScriptState* L;
    ~Nesting() { L->handlerSuppression--; }
  } nesting{L};
  L->handlerSuppression++;
  return VmPCall(L, 4, 0, 0);
}

// ---- process words ----

int32_t VmGetEndFlag(qvScriptState* L) { return L->endFlag; }
void VmSetEndFlag(qvScriptState* L, int32_t on) {
  L->endFlag = on;
  VmUpdatePending(L);
}
int32_t VmGetTraceFlag(qvScriptState* L) { return L->traceFlag; }
void VmSetTraceFlag(qvScriptState* L, int32_t on) { L->traceFlag = on; }
int32_t VmGetLastError(qvScriptState* L) { return L->lastError; }
void VmSetLastError(qvScriptState* L, int32_t code) { L->lastError = code; }
void VmSetLastErrorReader(qvScriptState* L, qvCFunction fn) { L->lastErrorReader = fn; }
int32_t VmGetErrorHandlerRef(qvScriptState* L) { return L->errorHandlerRef; }
void VmSetErrorHandlerRef(qvScriptState* L, int32_t ref) { L->errorHandlerRef = ref; }
int32_t VmGetInErrorHandler(qvScriptState* L) { return L->inErrorHandler; }
int32_t VmGetHandlerSuppression(qvScriptState* L) { return L->handlerSuppression; }
void VmSetHandlerSuppression(qvScriptState* L, int32_t count) { L->handlerSuppression = count; }
int32_t VmGetCurrentInstruction(qvScriptState* L) { return L->currentInstruction; }
int32_t VmGetJumpOffset(qvScriptState* L) { return L->jumpOffset; }
void VmSetJumpOffset(qvScriptState* L, int32_t offset) { L->jumpOffset = offset; }
int32_t VmGetErrorLine(qvScriptState* L) { return L->errorLine; }
void VmSetErrorLine(qvScriptState* L, int32_t line) { L->errorLine = line; }

}  // namespace qv
