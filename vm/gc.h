// The stop-the-world mark-and-sweep collector.
#pragma once

#include "vm/state.h"

namespace qv {

// Links a new object at the head of the object list.
void VmLinkObject(qvScriptState* L, qvGCObject* o, uint8_t type);
// One full collection.
void VmCheckGC(qvScriptState* L);
// The check point: a full collection when the allocated bytes have reached the threshold.
inline void VmGCStep(qvScriptState* L) {
  if (G(L)->nblocks >= G(L)->gcLimit) VmCheckGC(L);
}
void VmSetThreshold(qvScriptState* L, uint64_t bytes);
// Moves unfinalised userdata with "__gc" to the finalisation list: the unmarked ones, or all.
size_t VmSeparateUserdata(qvScriptState* L, bool all);
// Runs the pending "__gc" finalisers.
void VmCallFinalisers(qvScriptState* L);
// Frees every object (state close).
void VmFreeAllObjects(qvScriptState* L);

}  // namespace qv
