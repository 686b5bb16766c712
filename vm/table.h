// Tables: raw access, insertion with rehash, traversal, and metamethod lookup.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#if defined(__x86_64__)
#include <emmintrin.h>
#endif

#include "vm/state.h"

namespace qv {

constexpr int kMaxTableBits = 24;  // at most 2^24 array slots and 2^24 nodes

inline bool IsDummyNode(const qvTable* t) { return t->lsizenode == 0; }
inline uint32_t NodeCount(const qvTable* t) { return 1u << t->lsizenode; }
size_t TableBlockBytes(const qvTable* t);  // nodes, entries and array part, without the record
// The node of a hash taken modulo the node count (a string's, a boolean's main position).
inline qvHashNode* HashPow2(const qvTable* t, uint32_t h) {
  return &t->node[h & (NodeCount(t) - 1)];
}
// The chain of the keys whose main position is `mp`, null when there is none: a node that is
// free or holds a key from another main position heads none, since a key arriving at its main
// position takes that node (moving such a key away) and a node in use never becomes free again.
// A lookup of a missing key stops there instead of walking another key's chain.
inline const qvHashNode* ChainAt(const qvHashNode* mp) { return mp->home ? mp : nullptr; }
// The entry of a node in use.
inline qvTableEntry* EntryOf(const qvTable* t, const qvHashNode* n) {
  return &t->entry[(n->ref & kEntryMask) - 1];
}

qvTable* VmNewTableObject(qvScriptState* L, uint32_t narray, int lnhash);
void VmFreeTable(qvScriptState* L, qvTable* t);

// The index (from 0) of a number key that falls inside an array part of `size` keys: an integer
// 1 .. size. One truncation and one unsigned compare: NaN and every value out of range truncate
// to a number whose predecessor is not below the size.
inline bool ArrayIndex(double d, uint32_t size, uint32_t* index) {
#if defined(__x86_64__)
  const int64_t n = _mm_cvttsd_si64(_mm_set_sd(d));  // out of range and NaN: INT64_MIN
#else
  if (!(d >= 1.0 && d <= double(size))) return false;
  const auto n = static_cast<int64_t>(d);
#endif
  if (uint64_t(n) - 1u >= size || double(n) != d) return false;
  *index = uint32_t(n - 1);
  return true;
}

// A numeric array part keeps each number as its bits exclusive-or one reserved NaN pattern, so
// that the zero word (fresh zeroed memory) is nil. The one number carrying that pattern has no
// word: storing it turns the part into slots.
constexpr uint64_t kReservedNaN = 0x7FF4A3C58E1D0B29u;  // a signalling NaN: no arithmetic makes it
inline bool HasNumberWord(double d) { return std::bit_cast<uint64_t>(d) != kReservedNaN; }
inline uint64_t NumberWord(double d) { return std::bit_cast<uint64_t>(d) ^ kReservedNaN; }
inline double WordNumber(uint64_t w) { return std::bit_cast<double>(w ^ kReservedNaN); }
inline qvScriptValue WordValue(uint64_t w) {
  qvScriptValue v;
  if (w == 0) {
    v = kNilValue;
  } else {
    SetNumber(&v, WordNumber(w));
  }
  return v;
}

// Raw reads: the value, nil when absent.
qvScriptValue VmTableGetValue(qvTable* t, const qvScriptValue* key);
qvScriptValue VmTableGetIntValue(qvTable* t, int32_t n);
// Raw writes of a value under a key, created when missing.
void VmTableSetValue(qvScriptState* L, qvTable* t, const qvScriptValue* key,
                     const qvScriptValue* val);
void VmTableSetIntValue(qvScriptState* L, qvTable* t, int32_t n, const qvScriptValue* val);

// Slot access, for keys whose value is kept in a slot: never a key inside a numeric array part.
// A string key goes straight to its node through the hash the string keeps (inline: globals
// and fields are read this way). Reads give the value slot, or kNilValue when absent.
inline const qvScriptValue* VmTableGetString(qvTable* t, qvString* key) {
  // A string no table ever took as a key is in none: its node is not read (a key just made by a
  // concatenation, about to be stored, or a name that is missing).
  if (!key->wasKey) return &kNilValue;
  const uint32_t hash = StringLookupHash(key);
  const uint32_t tag = HashTag(hash);
  const qvHashNode* n = HashPow2(t, hash);
  if (!n->home) return &kNilValue;  // see ChainAt
  for (;;) {
    if (HashTag(n->ref) == tag && n->ref != 0) {
      qvTableEntry* e = EntryOf(t, n);
      if (e->keyValue.gc == key && e->keyType == kTypeString) return &e->val;
    }
    if (n->next == 0) return &kNilValue;
    n += n->next;
  }
}
// A string constant's lookup hint: the number of the entry where a table held its key when last
// looked up, kept in the four bytes between the constant slot's type and payload (the loader
// clears them), beside the key that the instruction reads anyway.
static_assert(offsetof(qvScriptValue, value) == 2 * sizeof(uint32_t));
inline uint32_t ConstantHint(const qvScriptValue* k) {
  uint32_t hint;
  std::memcpy(&hint, reinterpret_cast<const char*>(k) + sizeof(uint32_t), sizeof hint);
  return hint;
}
inline void SetConstantHint(qvScriptValue* k, uint32_t hint) {
  std::memcpy(reinterpret_cast<char*>(k) + sizeof(uint32_t), &hint, sizeof hint);
}
// VmTableGetString for a string constant: the entry of the hint first, taken when it holds the
// key (an entry below nentry that holds a key is that key's only entry), else the chain, whose
// answer renews the hint.
inline const qvScriptValue* VmTableGetConstantString(qvTable* t, qvScriptValue* k) {
  qvString* const key = StringOf(k);
  const uint32_t hint = ConstantHint(k);
  if (hint < t->nentry) {
    const qvTableEntry* e = &t->entry[hint];
    if (e->keyValue.gc == key && e->keyType == kTypeString) return &e->val;
  }
  const qvScriptValue* v = VmTableGetString(t, key);
  if (v != &kNilValue)  // the value is its entry's first member
    SetConstantHint(k, uint32_t(reinterpret_cast<const qvTableEntry*>(v) - t->entry));
  return v;
}
// True when the key is a number inside the table's numeric array part.
inline bool InNumericArray(const qvTable* t, const qvScriptValue* key) {
  uint32_t i;
  return t->numeric && key->type == kTypeNumber && ArrayIndex(key->value.n, t->sizearray, &i);
}
// The key string of the table with these characters (and hash), when its value is not nil:
// then it is the interned string itself. Null otherwise. Only live keys are read: a key whose
// value is nil may have been collected.
qvString* VmTableFindStringKey(const qvTable* t, const char* s, size_t len, uint32_t hash);
const qvScriptValue* VmTableGet(qvTable* t, const qvScriptValue* key);
// The slot for the key after a raw read of it gave `got`, created when missing; the caller
// stores the value. A key that lands in a numeric array part (after a rehash) turns the part
// into slots first.
qvScriptValue* VmTableSetAfterGet(qvScriptState* L, qvTable* t, const qvScriptValue* key,
                                  const qvScriptValue* got);
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
