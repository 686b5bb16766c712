// Tables: an array part for small positive integer keys and a chained hash part in which a
// colliding key that is not in its own main position is moved away. Full rehashes re-choose the
// array size.
#include "vm/table.h"

#include <algorithm>
#include <cstring>

#include "base/errors.h"
#include "vm/gc.h"

namespace qv {

const qvScriptValue kNilValue = {kTypeNil, {nullptr}};

static const char* const kEventNames[kEventCount] = {
    "__index", "__newindex", "__gc",  "__mode", "__eq",  "__add",    "__sub", "__mul",
    "__div",   "__divint",   "__mod", "__lsh",  "__rsh", "__or",     "__and", "__xor",
    "__pow",   "__unm",      "__not", "__lt",   "__le",  "__concat", "__call"};

size_t TableBlockBytes(const qvTable* t) {
  size_t nodes = IsDummyNode(t) ? 0 : size_t(NodeCount(t)) * sizeof(qvHashNode);
  return nodes + size_t(t->sizearray) * sizeof(qvScriptValue);
}

// ---- positions ----

static qvHashNode* HashMod(const qvTable* t, uint64_t n) {
  return &t->node[n % ((NodeCount(t) - 1) | 1)];
}
static qvHashNode* HashPow2(const qvTable* t, uint32_t h) {
  return &t->node[h & (NodeCount(t) - 1)];
}

static qvHashNode* MainPosition(const qvTable* t, const qvScriptValue* key) {
  switch (key->type) {
    case kTypeNumber: {
      double d = key->value.n + 1;  // 0 and -0 share a position
      uint32_t halves[2];
      std::memcpy(halves, &d, sizeof d);
      return HashMod(t, uint32_t(halves[0] + halves[1]));
    }
    case kTypeString:
      return HashPow2(t, StringOf(key)->hash);
    case kTypeBoolean:
      return HashPow2(t, uint32_t(key->value.b));
    default:
      return HashMod(t, reinterpret_cast<uintptr_t>(key->value.p));
  }
}

// The main position of a key whose hash, when it is a string, is already known.
static qvHashNode* MainPositionHashed(const qvTable* t, const qvScriptValue* key, uint32_t hash) {
  return IsString(key) ? HashPow2(t, hash) : MainPosition(t, key);
}

// The array slot number (from 1) of a number key inside 1 .. size.
static bool ArrayIndex(double d, uint32_t size, uint32_t* index) {
  if (d >= 1.0 && d <= double(size)) {
    auto i = static_cast<uint32_t>(d);
    if (double(i) == d) {
      *index = i;
      return true;
    }
  }
  return false;
}

// ---- raw reads ----

static const qvScriptValue* GetNumber(qvTable* t, double d) {
  uint32_t i;
  if (ArrayIndex(d, t->sizearray, &i)) return &t->array[i - 1];
  qvScriptValue k;
  SetNumber(&k, d);
  for (qvHashNode* n = MainPosition(t, &k); n != nullptr; n = NextNode(n))
    if (n->key.type == kTypeNumber && n->key.value.n == d) return &n->val;
  return &kNilValue;
}

const qvScriptValue* VmTableGetInt(qvTable* t, int32_t n) {
  if (uint32_t(n) - 1u < t->sizearray) return &t->array[n - 1];
  return GetNumber(t, double(n));
}

const qvScriptValue* VmTableGet(qvTable* t, const qvScriptValue* key) {
  switch (key->type) {
    case kTypeString:
      return VmTableGetString(t, StringOf(key));
    case kTypeNumber:
      return GetNumber(t, key->value.n);
    case kTypeNil:  // nil reads key 0
      return GetNumber(t, 0.0);
    default:
      for (qvHashNode* n = MainPosition(t, key); n != nullptr; n = NextNode(n))
        if (RawEqualValues(&n->key, key)) return &n->val;
      return &kNilValue;
  }
}

// ---- sizes ----

static int CeilLog2(uint32_t x) {  // x >= 1
  int l = 0;
  while ((uint64_t(1) << l) < x) ++l;
  return l;
}

// Counts an integer key 1 .. 2^24 into its slice: (0,1], (1,2], (2,4], ...
static int CountIntKey(const qvScriptValue* key, uint32_t* nums) {
  uint32_t k;
  if (key->type == kTypeNumber && ArrayIndex(key->value.n, 1u << kMaxTableBits, &k)) {
    nums[CeilLog2(k)]++;
    return 1;
  }
  return 0;
}

static uint32_t NumUseArray(const qvTable* t, uint32_t* nums) {
  uint32_t total = 0;
  uint32_t i = 1;
  for (int lg = 0, limit = 1; lg <= kMaxTableBits; ++lg, limit *= 2) {
    uint32_t lim = std::min<uint32_t>(uint32_t(limit), t->sizearray);
    if (i > lim) break;
    uint32_t count = 0;
    for (; i <= lim; ++i)
      if (!IsNil(&t->array[i - 1])) ++count;
    nums[lg] += count;
    total += count;
  }
  return total;
}

// The array size: the largest 2^n whose keys 1 .. 2^n fill at least half of it, counting slices
// only while integer keys remain. Returns the number of keys that go to the array part.
static uint32_t ComputeSizes(const uint32_t* nums, uint32_t* narray) {
  uint32_t a = nums[0];
  uint32_t na = a;
  int n = (na == 0) ? -1 : 0;
  for (int i = 1; i <= kMaxTableBits && a < *narray && *narray >= (1u << (i - 1)); ++i) {
    if (nums[i] > 0) {
      a += nums[i];
      if (a >= (1u << (i - 1))) {
        n = i;
        na = a;
      }
    }
  }
  *narray = (n == -1) ? 0 : (1u << n);
  return na;
}

static qvScriptValue* NewKey(qvScriptState* L, qvTable* t, const qvScriptValue* key, uint32_t hash);

static void Rehash(qvScriptState* L, qvTable* t, const qvScriptValue* extraKey) {
  uint32_t nums[kMaxTableBits + 1] = {};
  uint32_t nasize = NumUseArray(t, nums);
  uint32_t total = nasize;
  if (!IsDummyNode(t)) {
    for (uint32_t i = 0; i < NodeCount(t); ++i) {
      const qvHashNode* n = &t->node[i];
      if (!IsNil(&n->val)) {
        nasize += CountIntKey(&n->key, nums);
        ++total;
      }
    }
  }
  nasize += CountIntKey(extraKey, nums);
  ++total;
  uint32_t na = ComputeSizes(nums, &nasize);
  uint32_t nhash = total - na;
  int lsize = 0;  // the smallest power of two strictly greater than nhash
  if (nhash > 0)
    while ((uint64_t(1) << lsize) <= nhash) ++lsize;
  VmTableResize(L, t, nasize, lsize);
}

void VmTableResize(qvScriptState* L, qvTable* t, uint32_t nasize, int lsize) {
  if (lsize > kMaxTableBits || nasize > (1u << kMaxTableBits)) VmRaiseError(L, ERR_TABLEOVERFLOW);
  // Allocate everything first, so that a failure leaves the table as it was.
  const uint32_t oldasize = t->sizearray;
  qvScriptValue* const oldArray = t->array;
  qvHashNode* const oldNode = t->node;
  const bool oldDummy = IsDummyNode(t);
  const uint32_t oldNodeCount = NodeCount(t);
  qvScriptValue* newArray = oldArray;
  // Zeroed: nil slots and empty nodes with no link, without a clearing pass.
  if (nasize != oldasize) newArray = VmNewZeroedVector<qvScriptValue>(L, nasize);
  qvHashNode* newNode = G(L)->dummynode;
  if (lsize > 0) {
    try {
      newNode = VmNewZeroedVector<qvHashNode>(L, size_t(1) << lsize);
    } catch (...) {
      if (newArray != oldArray) VmFreeVector(L, newArray, nasize);
      throw;
    }
  }
  if (newArray != oldArray) {
    uint32_t keep = std::min(oldasize, nasize);
    if (keep > 0) std::memcpy(static_cast<void*>(newArray), oldArray, keep * sizeof(qvScriptValue));
  }
  t->array = newArray;
  t->sizearray = nasize;
  t->node = newNode;
  t->lsizenode = static_cast<uint8_t>(lsize);
  if (lsize > 0) {
    t->lastfree = newNode + NodeCount(t);
  } else {
    t->lastfree = newNode;  // the shared node is never free
  }
  // The surplus of a shrinking array part, then the old nodes from the last to the first; none
  // of them is in the new parts yet, so no lookup is needed.
  for (uint32_t i = nasize; i < oldasize; ++i) {
    if (IsNil(&oldArray[i])) continue;
    qvScriptValue key;
    SetNumber(&key, double(i + 1));
    *VmTableSetAfterGet(L, t, &key, &kNilValue) = oldArray[i];
  }
  // Each reinsertion writes the key's new main position, far from the last one: it is fetched
  // some nodes ahead.
  constexpr uint32_t kAhead = 8;
  for (uint32_t j = oldNodeCount; j-- > 0;) {
    if (j >= kAhead && lsize > 0) {
      const qvHashNode* next = &oldNode[j - kAhead];
      if (!IsNil(&next->val))
        __builtin_prefetch(MainPositionHashed(t, &next->key, next->keyHash), 1);
    }
    const qvHashNode* old = &oldNode[j];
    if (IsNil(&old->val)) continue;
    uint32_t i;
    if (old->key.type == kTypeNumber && ArrayIndex(old->key.value.n, t->sizearray, &i))
      t->array[i - 1] = old->val;  // moves into the array part
    else
      *NewKey(L, t, &old->key, old->keyHash) = old->val;
  }
  if (newArray != oldArray) VmFreeVector(L, oldArray, oldasize);
  if (!oldDummy) VmFreeVector(L, oldNode, oldNodeCount);
}

// ---- raw writes ----

static qvHashNode* GetFreePos(qvTable* t) {
  while (t->lastfree > t->node) {
    --t->lastfree;
    if (IsNil(&t->lastfree->key)) return t->lastfree;
  }
  return nullptr;
}

// Inserts a key that is not in the table; `hash` is its hash when it is a string.
static qvScriptValue* NewKey(qvScriptState* L, qvTable* t, const qvScriptValue* key,
                             uint32_t hash) {
  qvHashNode* mp = MainPositionHashed(t, key, hash);
  if (!IsNil(&mp->val) || IsDummyNode(t)) {
    qvHashNode* n = GetFreePos(t);
    if (n == nullptr) {
      Rehash(L, t, key);
      return VmTableSet(L, t, key);
    }
    qvHashNode* othern = MainPositionHashed(t, &mp->key, mp->keyHash);
    if (othern != mp) {
      // The colliding node is out of its main position: move it to the free node.
      while (NextNode(othern) != mp) othern = NextNode(othern);
      LinkNode(othern, n);
      *n = *mp;
      LinkNode(n, NextNode(mp));
      mp->next = 0;
      SetNil(&mp->val);
    } else {
      // The colliding node is in its own main position: the new key takes the free node.
      LinkNode(n, NextNode(mp));
      LinkNode(mp, n);
      mp = n;
    }
  }
  mp->key = *key;
  mp->keyHash = hash;
  return &mp->val;
}

qvScriptValue* VmTableSet(qvScriptState* L, qvTable* t, const qvScriptValue* key) {
  return VmTableSetAfterGet(L, t, key, VmTableGet(t, key));
}

qvScriptValue* VmTableSetAfterGet(qvScriptState* L, qvTable* t, const qvScriptValue* key,
                                  const qvScriptValue* p) {
  t->flags = 0;  // any write may add an event name
  if (p != &kNilValue) return const_cast<qvScriptValue*>(p);
  qvScriptValue k = *key;
  if (k.type == kTypeNil) {
    SetNumber(&k, 0.0);
  } else if (k.type == kTypeNumber) {
    if (k.value.n != k.value.n) VmRaiseError(L, ERR_TABLEINDEX);
    if (k.value.n == 0) k.value.n = 0.0;  // -0 is stored as 0
  }
  return NewKey(L, t, &k, IsString(&k) ? StringOf(&k)->hash : 0);
}

qvScriptValue* VmTableSetInt(qvScriptState* L, qvTable* t, int32_t n) {
  if (uint32_t(n) - 1u < t->sizearray) {
    t->flags = 0;
    return &t->array[n - 1];
  }
  qvScriptValue k;
  SetNumber(&k, double(n));
  return VmTableSet(L, t, &k);
}

// ---- creation ----

qvTable* VmNewTableObject(qvScriptState* L, uint32_t narray, int lnhash) {
  if (lnhash > kMaxTableBits || narray > (1u << kMaxTableBits)) VmRaiseError(L, ERR_TABLEOVERFLOW);
  auto* t = static_cast<qvTable*>(VmRealloc(L, nullptr, 0, sizeof(qvTable)));
  t->flags = 0xFF;
  t->lsizenode = 0;
  t->metatable = IsNil(&G(L)->defaultMeta) ? t : TableOf(&G(L)->defaultMeta);
  t->array = nullptr;
  t->sizearray = 0;
  t->node = G(L)->dummynode;
  t->lastfree = t->node;
  t->gclist = nullptr;
  VmLinkObject(L, t, kTypeTable);  // a failure below leaves an empty table to the collector
  if (narray > 0 || lnhash > 0) VmTableResize(L, t, narray, lnhash);
  return t;
}

void VmFreeTable(qvScriptState* L, qvTable* t) {
  if (!IsDummyNode(t)) VmFreeVector(L, t->node, NodeCount(t));
  VmFreeVector(L, t->array, t->sizearray);
  VmRealloc(L, t, sizeof(qvTable), 0);
}

// ---- traversal ----

// -1 before the start, an array slot, or sizearray + the node's index.
static int64_t FindIndex(qvScriptState* L, qvTable* t, const qvScriptValue* key) {
  if (IsNil(key)) return -1;
  uint32_t i;
  if (key->type == kTypeNumber && ArrayIndex(key->value.n, t->sizearray, &i)) return int64_t(i) - 1;
  for (qvHashNode* n = MainPosition(t, key); n != nullptr; n = NextNode(n))
    if (RawEqualValues(&n->key, key)) return int64_t(t->sizearray) + (n - t->node);
  VmRaiseError(L, ERR_INVNEXTKEY);
}

int VmTableNext(qvScriptState* L, qvTable* t, qvScriptValue* key) {
  int64_t i = FindIndex(L, t, key);
  for (++i; i < int64_t(t->sizearray); ++i) {
    if (!IsNil(&t->array[i])) {
      SetNumber(key, double(i + 1));
      key[1] = t->array[i];
      return 1;
    }
  }
  for (i -= t->sizearray; i < int64_t(NodeCount(t)); ++i) {
    const qvHashNode* n = &t->node[i];
    if (!IsNil(&n->val)) {
      key[0] = n->key;
      key[1] = n->val;
      return 1;
    }
  }
  return 0;
}

// ---- metamethods ----

void VmInitEvents(qvScriptState* L) {
  for (int i = 0; i < kEventCount; ++i) {
    G(L)->tmname[i] = VmInternCString(L, kEventNames[i]);
    G(L)->tmname[i]->marked |= kFixedBit;
  }
}

const qvScriptValue* VmFastMetamethod(qvTable* mt, qvEvent event, qvString* name) {
  const qvScriptValue* tm = VmTableGetString(mt, name);
  if (IsNil(tm)) {
    mt->flags |= static_cast<uint8_t>(1u << event);
    return nullptr;
  }
  return tm;
}

qvTable* VmMetatableOf(const qvScriptValue* v) {
  if (v->type == kTypeTable) return TableOf(v)->metatable;
  if (v->type == kTypeUserdata) return UserdataOf(v)->metatable;
  return nullptr;
}

const qvScriptValue* VmGetMetamethod(qvScriptState* L, const qvScriptValue* v, qvEvent event) {
  qvTable* mt = VmMetatableOf(v);
  if (mt == nullptr) return &kNilValue;
  if (event <= kEventEq) {
    const qvScriptValue* tm = VmFastMeta(L, mt, event);
    return tm != nullptr ? tm : &kNilValue;
  }
  return VmTableGetString(mt, G(L)->tmname[event]);
}

}  // namespace qv
