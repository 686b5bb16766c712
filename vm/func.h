// Closures, upvalues and prototypes.
#pragma once

#include "vm/state.h"

namespace qv {

size_t CClosureSize(int n);
size_t LClosureSize(int n);

qvCClosure* VmNewCClosure(qvScriptState* L, int n);
qvLClosure* VmNewScriptClosure(qvScriptState* L, int n, const qvScriptValue* env);
// The open upvalue of a stack slot, created and linked in order when missing.
qvUpVal* VmFindUpval(qvScriptState* L, qvScriptValue* slot);
// Closes every open upvalue at or above the level.
void VmCloseUpvals(qvScriptState* L, qvScriptValue* level);
qvProto* VmNewProto(qvScriptState* L);
// The name of the n-th (from 1) local variable active at pc, or null.
const char* VmLocalName(const qvProto* p, int n, int pc);

void VmFreeProto(qvScriptState* L, qvProto* p);
void VmFreeClosure(qvScriptState* L, qvClosure* c);

}  // namespace qv
