// Tables: raw access, insertion with rehash, traversal, and metamethod lookup.
#pragma once

#include <cstdint>

#include "vm/state.h"

namespace qv {

constexpr int kMaxTableBits = 24;  // at most 2^24 array slots and 2^24 nodes

inline bool IsDummyNode(const qvTable* t) { return t->lsizenode == 0; }
inline uint32_t NodeCount(const qvTable* t) { return 1u << t->lsizenode; }
size_t TableBlockBytes(const qvTable* t);  // nodes + array part, without the record

qvTable* VmNewTableObject(qvScriptState* L, uint32_t narray, int lnhash);
void VmFreeTable(qvScriptState* L, qvTable* t);

// The array slot of a number key that falls inside the array part, else null: integer keys read
// and written without hashing.
inline qvScriptValue* ArraySlot(qvTable* t, double d) {
  if (d >= 1.0 && d <= double(t->sizearray)) {
    const auto n = static_cast<uint32_t>(d);
    if (double(n) == d) return &t->array[n - 1];
  }
  return nullptr;
}

// Raw reads: the value slot, or kNilValue when absent. A string key goes straight to its node
// through the hash the string keeps (inline: globals and fields are read this way).
inline const qvScriptValue* VmTableGetString(qvTable* t, qvString* key) {
  for (qvHashNode* n = &t->node[key->hash & ((1u << t->lsizenode) - 1)]; n != nullptr;
       n = NextNode(n))
    if (n->key.type == kTypeString && n->key.value.gc == key) return &n->val;
  return &kNilValue;
}
const qvScriptValue* VmTableGetInt(qvTable* t, int32_t n);
const qvScriptValue* VmTableGet(qvTable* t, const qvScriptValue* key);
// Raw writes: the slot for the key, created when missing; the caller stores the value.
qvScriptValue* VmTableSet(qvScriptState* L, qvTable* t, const qvScriptValue* key);
// The same after a raw read of the key gave `got`, saving the second lookup.
qvScriptValue* VmTableSetAfterGet(qvScriptState* L, qvTable* t, const qvScriptValue* key,
                                  const qvScriptValue* got);
qvScriptValue* VmTableSetInt(qvScriptState* L, qvTable* t, int32_t n);
// Writes the key after `key` and its value over key[0] and key[1]; 0 at the end.
int VmTableNext(qvScriptState* L, qvTable* t, qvScriptValue* key);
void VmTableResize(qvScriptState* L, qvTable* t, uint32_t narray, int lnhash);

// Metamethods.
void VmInitEvents(qvScriptState* L);
const qvScriptValue* VmFastMetamethod(qvTable* mt, qvEvent event, qvString* name);
inline const qvScriptValue* VmFastMeta(qvScriptState* L, qvTable* mt, qvEvent event) {
  return (mt->flags & (1u << event)) ? nullptr : VmFastMetamethod(mt, event, G(L)->tmname[event]);
}
const qvScriptValue* VmGetMetamethod(qvScriptState* L, const qvScriptValue* v, qvEvent event);
// The metatable of a table or userdata (the default one stands for none), else null.
qvTable* VmMetatableOf(const qvScriptValue* v);

}  // namespace qv
