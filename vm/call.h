// Calls: the pre-call that builds a frame or runs a native, the post-call that places the
// results, protected runs and the error path.
#pragma once

#include "base/errors.h"
#include "vm/state.h"

namespace qv {

// A native's result that is neither a result count nor a label request.
inline bool IsErrorWord(int32_t r) { return r >= kFirstErrorCode || (r < 0 && r != -1 && r != -2); }

// Builds the frame of the function at `func`. For a script function returns null (the caller
// runs the interpreter); for a native runs it and returns its first result, with *word set to 0,
// -1 or -2 (a label request) or an error code (then there are no results).
qvScriptValue* VmPreCall(qvScriptState* L, qvScriptValue* func, int32_t* word);
// A new script frame's registers from firstFree (the slot after its parameters) up start as
// nil, whatever arguments beyond the parameters were passed; the top moves to the frame top.
inline void VmClearFrame(qvScriptState* L, qvScriptValue* firstFree, qvScriptValue* frameTop) {
  for (qvScriptValue* s = firstFree < L->top ? firstFree : L->top; s < frameTop; ++s) SetNil(s);
  L->top = frameTop;
}
// Pops the call record and moves the results (all when wanted is -1) to the function slot.
void VmPostCall(qvScriptState* L, int wanted, qvScriptValue* firstResult);
// The common body of every call from native code: returns the callee's word.
int32_t VmCallValue(qvScriptState* L, qvScriptValue* func, int nresults);
// A call whose error word goes to RaiseError (metamethods, finalisers, iterators).
void VmCallChecked(qvScriptState* L, qvScriptValue* func, int nresults);
// A protected run that restores the call records, base and native nesting after a failure and
// closes the upvalues above oldTop.
int32_t VmProtectedCall(qvScriptState* L, qvProtectedBody body, void* arg, ptrdiff_t oldTop,
                        ptrdiff_t errfunc);
// Makes sure a further call record exists (raising ERR_STACK beyond the limit).
void VmEnsureCI(qvScriptState* L);

// Runs the hook for an event (while hooks are allowed).
void VmCallHook(qvScriptState* L, int event, int32_t line);

// The interpreter: runs the script frame on top of the call records; returns its first result.
qvScriptValue* VmExecute(qvScriptState* L);

// Names the value slot in the error-text buffer ("??" when it cannot be named), appends the
// suffix and raises the code.
[[noreturn]] void VmTypeError(qvScriptState* L, const qvScriptValue* v, int32_t code,
                              const char* suffix);

// The line of the running script instruction; 0 without a line table, -1 in a native.
int32_t VmCurrentLine(qvScriptState* L, const qvCallInfo* ci);

// The iterator a generic loop uses on a table when the global "next" is nil.
int32_t VmBuiltinNext(qvScriptState* L);

}  // namespace qv
