// Tables: an array part for small positive integer keys and a chained hash part in which a
// colliding key that is not in its own main position is moved away. Full rehashes re-choose the
// array size.
#include "vm/table.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "base/errors.h"
#include "vm/gc.h"

namespace qv {

const qvScriptValue kNilValue = {kTypeNil, {nullptr}};

static const char* const kEventNames[kEventCount] = {
    "__index", "__newindex", "__gc",  "__mode", "__eq",  "__add",    "__sub", "__mul",
    "__div",   "__divint",   "__mod", "__lsh",  "__rsh", "__or",     "__and", "__xor",
    "__pow",   "__unm",      "__not", "__lt",   "__le",  "__concat", "__call"};

// A numeric array part below this many keys takes the room of value slots all the same: it turns
// into slots in place, without a second block (table constructors of strings start numeric).
constexpr uint32_t kSmallArray = 64;

// The bytes of an array part's block.
static size_t ArrayBytes(uint32_t size, bool numeric) {
  return size_t(size) * (numeric && size >= kSmallArray ? sizeof(uint64_t) : sizeof(qvScriptValue));
}

// The blocks of 2^lsize nodes and of their entries.
static size_t NodeBlockBytes(int lsize) { return sizeof(qvHashNode) << lsize; }
static size_t EntryBlockBytes(int lsize) { return sizeof(qvTableEntry) << lsize; }

size_t TableBlockBytes(const qvTable* t) {
  size_t hash = IsDummyNode(t) ? 0 : NodeBlockBytes(t->lsizenode) + EntryBlockBytes(t->lsizenode);
  return hash + ArrayBytes(t->sizearray, t->numeric);
}

static void FreeArray(qvScriptState* L, void* block, uint32_t size, bool numeric) {
  VmRealloc(L, block, ArrayBytes(size, numeric), 0);
}

// The value of array key i + 1, whichever form the part has.
static qvScriptValue ArrayValue(const qvTable* t, uint32_t i) {
  return t->numeric ? WordValue(t->words[i]) : t->array[i];
}

// Turns a numeric array part into value slots, for good.
static void ConvertToSlots(qvScriptState* L, qvTable* t) {
  const uint32_t n = t->sizearray;
  if (n < kSmallArray) {
    // From the last key down: slot i covers words 2i and 2i + 1, read before it (i > 0), and
    // word i is read first.
    auto* block = reinterpret_cast<unsigned char*>(t->words);
    for (uint32_t i = n; i-- > 0;) {
      uint64_t w;
      std::memcpy(&w, block + i * sizeof(uint64_t), sizeof w);
      const qvScriptValue v = WordValue(w);
      std::memcpy(block + i * sizeof(qvScriptValue), &v, sizeof v);
    }
    t->numeric = 0;
    return;
  }
  auto* slots = VmNewZeroedVector<qvScriptValue>(L, n);
  for (uint32_t i = 0; i < n; ++i)
    if (t->words[i] != 0) SetNumber(&slots[i], WordNumber(t->words[i]));
  FreeArray(L, t->words, n, true);
  t->array = slots;
  t->numeric = 0;
}

// ---- positions ----

static qvHashNode* HashMod(const qvTable* t, uint64_t n) {
  return &t->node[n % ((NodeCount(t) - 1) | 1)];
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
      return HashPow2(t, StringHash(StringOf(key)));
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

// ---- raw reads ----

static const qvScriptValue* GetNumber(qvTable* t, double d) {
  uint32_t i;
  if (ArrayIndex(d, t->sizearray, &i)) {
    assert(!t->numeric);  // a word has no slot
    return &t->array[i];
  }
  qvScriptValue k;
  SetNumber(&k, d);
  for (const qvHashNode* n = ChainAt(MainPosition(t, &k)); n != nullptr; n = NextNode(n)) {
    if (n->ref == 0) continue;
    qvTableEntry* e = EntryOf(t, n);
    if (e->keyType == kTypeNumber && e->keyValue.n == d) return &e->val;
  }
  return &kNilValue;
}

qvScriptValue VmTableGetIntValue(qvTable* t, int32_t n) {
  if (uint32_t(n) - 1u < t->sizearray) return ArrayValue(t, uint32_t(n) - 1u);
  return *GetNumber(t, double(n));
}

qvScriptValue VmTableGetValue(qvTable* t, const qvScriptValue* key) {
  uint32_t i;
  if (key->type == kTypeNumber && ArrayIndex(key->value.n, t->sizearray, &i))
    return ArrayValue(t, i);
  return *VmTableGet(t, key);
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
      for (const qvHashNode* n = ChainAt(MainPosition(t, key)); n != nullptr; n = NextNode(n)) {
        if (n->ref == 0) continue;
        qvTableEntry* e = EntryOf(t, n);
        const qvScriptValue k = EntryKey(e);
        if (RawEqualValues(&k, key)) return &e->val;
      }
      return &kNilValue;
  }
}

qvString* VmTableFindStringKey(const qvTable* t, const char* s, size_t len, uint32_t hash) {
  const uint32_t tag = HashTag(hash);
  for (const qvHashNode* n = ChainAt(HashPow2(t, hash)); n != nullptr; n = NextNode(n)) {
    if (HashTag(n->ref) != tag || n->ref == 0) continue;
    const qvTableEntry* e = EntryOf(t, n);
    if (e->keyHash != hash || e->keyType != kTypeString || IsNil(&e->val)) continue;
    auto* key = static_cast<qvString*>(e->keyValue.gc);
    if (key->len == len && SameTextBytes(key->data(), s, len)) return key;
  }
  return nullptr;
}

// ---- sizes ----

static int CeilLog2(uint32_t x) {  // x >= 1
  int l = 0;
  while ((uint64_t(1) << l) < x) ++l;
  return l;
}

// Counts an integer key 1 .. 2^24 into its slice: (0,1], (1,2], (2,4], ...
static int CountIntKey(const qvScriptValue* key, uint32_t* nums) {
  uint32_t i;
  if (key->type == kTypeNumber && ArrayIndex(key->value.n, 1u << kMaxTableBits, &i)) {
    nums[CeilLog2(i + 1)]++;
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
    if (t->numeric) {
      for (; i <= lim; ++i)
        if (t->words[i - 1] != 0) ++count;
    } else {
      for (; i <= lim; ++i)
        if (!IsNil(&t->array[i - 1])) ++count;
    }
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

static qvScriptValue* NewKey(qvScriptState* L, qvTable* t, const qvScriptValue* key, uint32_t hash,
                             uint32_t ref = 0);
constexpr uint32_t kUnknownStaying = UINT32_MAX;

static void Resize(qvScriptState* L, qvTable* t, uint32_t nasize, int lsize, uint32_t knownStaying);

static void Rehash(qvScriptState* L, qvTable* t, const qvScriptValue* extraKey) {
  uint32_t nums[kMaxTableBits + 1] = {};
  const uint32_t arrayLive = NumUseArray(t, nums);
  uint32_t nasize = arrayLive;
  uint32_t total = arrayLive;
  uint32_t intKeys = 0;                       // of the hash part
  for (uint32_t i = 0; i < t->nentry; ++i) {  // each entry belongs to one node
    const qvTableEntry* e = &t->entry[i];
    if (!IsNil(&e->val)) {
      const qvScriptValue k = EntryKey(e);
      intKeys += CountIntKey(&k, nums);
      ++total;
    }
  }
  nasize += intKeys;
  const uint32_t hashLive = total - arrayLive;
  nasize += CountIntKey(extraKey, nums);
  ++total;
  uint32_t na = ComputeSizes(nums, &nasize);
  uint32_t nhash = total - na;
  int lsize = 0;  // the smallest power of two strictly greater than nhash
  if (nhash > 0)
    while ((uint64_t(1) << lsize) <= nhash) ++lsize;
  // Without integer keys in the hash part, every live entry of it stays there.
  Resize(L, t, nasize, lsize, intKeys == 0 ? hashLive : kUnknownStaying);
}

void VmTableResize(qvScriptState* L, qvTable* t, uint32_t nasize, int lsize) {
  Resize(L, t, nasize, lsize, kUnknownStaying);
}

// `knownStaying`: the number of live entries that stay in the hash part when the caller knows
// that none of them moves to the array part, else kUnknownStaying.
static void Resize(qvScriptState* L, qvTable* t, uint32_t nasize, int lsize,
                   uint32_t knownStaying) {
  if (lsize > kMaxTableBits || nasize > (1u << kMaxTableBits)) VmRaiseError(L, ERR_TABLEOVERFLOW);
  const bool oldNumeric = t->numeric != 0;
  const uint32_t oldasize = t->sizearray;
  qvHashNode* const oldNode = t->node;
  qvTableEntry* const oldEntry = t->entry;
  const uint32_t oldEntries = t->nentry;
  const bool oldDummy = IsDummyNode(t);
  const int oldLsize = t->lsizenode;
  const uint32_t oldNodeCount = NodeCount(t);
  // The live entries that stay in the hash part. A numeric array part stays numeric while every
  // value moving into it from the hash part is a number with a word.
  bool numeric = oldNumeric;
  uint32_t staying = knownStaying != kUnknownStaying ? knownStaying : 0;
  for (uint32_t j = 0; j < oldEntries && knownStaying == kUnknownStaying; ++j) {
    const qvTableEntry* e = &oldEntry[j];
    if (IsNil(&e->val)) continue;
    uint32_t i;
    if (e->keyType == kTypeNumber && ArrayIndex(e->keyValue.n, nasize, &i)) {
      if (numeric) numeric = IsNumber(&e->val) && HasNumberWord(e->val.value.n);
    } else {
      ++staying;
    }
  }
  assert(lsize > 0 ? staying < (1u << lsize) : staying == 0);  // the sizes leave room for them
  // Allocate everything first, so that a failure leaves the table as it was. The entries grow
  // where they lie: a growing table's entries are neither copied nor faulted in again.
  void* const oldArray = t->array;
  void* newArray = oldArray;
  qvHashNode* newNode = G(L)->dummynode;
  uint32_t* renumber = nullptr;  // an old entry's new number + 1, 0 when it goes
  const size_t oldEntryBytes = oldDummy ? 0 : EntryBlockBytes(oldLsize);
  const size_t newEntryBytes = lsize > 0 ? EntryBlockBytes(lsize) : 0;
  const bool inPlace = oldEntryBytes > 0 && newEntryBytes >= oldEntryBytes;
  qvTableEntry* newEntry = nullptr;
  try {
    if (staying < oldEntries && staying > 0) renumber = VmNewVector<uint32_t>(L, oldEntries);
    // Zeroed: nil slots, nil words and free nodes with no link, without a clearing pass.
    if (nasize != oldasize || numeric != oldNumeric)
      newArray = VmNewZeroed(L, ArrayBytes(nasize, numeric));
    if (lsize > 0) newNode = static_cast<qvHashNode*>(VmNewZeroedAligned(L, NodeBlockBytes(lsize)));
    if (newEntryBytes > 0) {
      newEntry = static_cast<qvTableEntry*>(VmReallocAligned(
          L, inPlace ? oldEntry : nullptr, inPlace ? oldEntryBytes : 0, newEntryBytes));
    }
  } catch (...) {
    if (lsize > 0 && newNode != G(L)->dummynode) VmFreeAligned(L, newNode, NodeBlockBytes(lsize));
    if (newArray != oldArray) FreeArray(L, newArray, nasize, numeric);
    if (renumber != nullptr) VmFreeVector(L, renumber, oldEntries);
    throw;
  }
  const uint32_t keep = std::min(oldasize, nasize);
  if (newArray != oldArray && keep > 0) {
    if (numeric == oldNumeric) {
      std::memcpy(newArray, oldArray,
                  size_t(keep) * (numeric ? sizeof(uint64_t) : sizeof(qvScriptValue)));
    } else {  // numeric words into slots
      const auto* words = static_cast<const uint64_t*>(oldArray);
      auto* slots = static_cast<qvScriptValue*>(newArray);
      for (uint32_t i = 0; i < keep; ++i)
        if (words[i] != 0) SetNumber(&slots[i], WordNumber(words[i]));
    }
  }
  t->array = static_cast<qvScriptValue*>(newArray);
  t->numeric = numeric ? 1 : 0;
  t->sizearray = nasize;
  t->node = newNode;
  t->lsizenode = static_cast<uint8_t>(lsize);
  t->entry = newEntry;
  t->nentry = 0;
  t->nilvals = 0;                                              // only keys with values move
  t->lastfree = lsize > 0 ? newNode + NodeCount(t) : newNode;  // the shared node is never free
  // The live old entries: those of keys in the new array part go there, the others take the
  // first new entries in their order. Moved within the same block, an entry goes no further
  // than its own place, read before.
  const qvTableEntry* const from = inPlace ? newEntry : oldEntry;
  if (inPlace && staying == oldEntries) t->nentry = oldEntries;  // each where it was
  for (uint32_t j = t->nentry; j < oldEntries; ++j) {
    const qvTableEntry e = from[j];
    if (renumber != nullptr) renumber[j] = 0;
    if (IsNil(&e.val)) continue;
    uint32_t i;
    if (e.keyType == kTypeNumber && ArrayIndex(e.keyValue.n, nasize, &i)) {
      if (numeric)
        t->words[i] = NumberWord(e.val.value.n);
      else
        t->array[i] = e.val;
      continue;
    }
    if (renumber != nullptr) renumber[j] = t->nentry + 1;
    t->entry[t->nentry++] = e;
  }
  // The surplus of a shrinking array part, then the old nodes from the last to the first; none
  // of them is in the new parts yet, so no lookup is needed.
  for (uint32_t i = nasize; i < oldasize; ++i) {
    const qvScriptValue v = oldNumeric ? WordValue(static_cast<const uint64_t*>(oldArray)[i])
                                       : static_cast<const qvScriptValue*>(oldArray)[i];
    if (IsNil(&v)) continue;
    qvScriptValue key;
    SetNumber(&key, double(i + 1));
    *VmTableSetAfterGet(L, t, &key, &kNilValue) = v;
  }
  // An old node's entry under its new number: the same one when every entry stayed.
  auto entryNow = [&](const qvHashNode* n) -> uint32_t {
    const uint32_t was = n->ref & kEntryMask;
    if (staying == oldEntries) return was;
    return renumber != nullptr ? renumber[was - 1] : 0;
  };
  // Each reinsertion reads an entry and writes the key's new main position, both far from the
  // last ones: the entry is fetched some nodes ahead, the main position half as far.
  constexpr uint32_t kAhead = 8;
  for (uint32_t j = oldNodeCount; j-- > 0 && !oldDummy && staying > 0;) {
    if (j >= 2 * kAhead) {
      const qvHashNode* far = &oldNode[j - 2 * kAhead];
      if (far->ref != 0) {
        const uint32_t now = entryNow(far);
        if (now != 0) __builtin_prefetch(&t->entry[now - 1]);
      }
    }
    if (j >= kAhead) {
      const qvHashNode* next = &oldNode[j - kAhead];
      if (next->ref != 0) {
        const uint32_t now = entryNow(next);
        if (now != 0) {
          const qvTableEntry* e = &t->entry[now - 1];
          const qvScriptValue k = EntryKey(e);
          __builtin_prefetch(MainPositionHashed(t, &k, e->keyHash), 1);
        }
      }
    }
    const qvHashNode* old = &oldNode[j];
    if (old->ref == 0) continue;
    const uint32_t now = entryNow(old);
    if (now == 0) continue;
    const qvTableEntry* e = &t->entry[now - 1];
    const qvScriptValue key = EntryKey(e);
    qvHashNode* mp = MainPositionHashed(t, &key, e->keyHash);
    if (mp->ref == 0) {  // a free main position, as most are while the new part fills
      mp->ref = NodeRef(now, e->keyHash);
      mp->home = 1;
      mp->back = 0;
      continue;
    }
    NewKey(L, t, &key, e->keyHash, now);  // never full
  }
  if (renumber != nullptr) VmFreeVector(L, renumber, oldEntries);
  if (newArray != oldArray) FreeArray(L, oldArray, oldasize, oldNumeric);
  if (!oldDummy) {
    VmFreeAligned(L, oldNode, NodeBlockBytes(oldLsize));
    if (!inPlace) VmFreeAligned(L, oldEntry, oldEntryBytes);
  }
}

// ---- raw writes ----

static qvHashNode* GetFreePos(qvTable* t) {
  while (t->lastfree > t->node) {
    --t->lastfree;
    if (t->lastfree->ref == 0) return t->lastfree;
  }
  return nullptr;
}

// Inserts a key that is not in the table; `hash` is its hash when it is a string. Null when the
// table had no room and was rehashed instead: the key may then belong to the array part. `ref`
// names an entry that already holds the key and its value (a rehash placing an old key), else 0:
// the key gets an entry of its own.
static qvScriptValue* NewKey(qvScriptState* L, qvTable* t, const qvScriptValue* key, uint32_t hash,
                             uint32_t ref) {
  qvHashNode* mp = MainPositionHashed(t, key, hash);
  bool home = true;  // whether the key ends up in its main position
  if (IsDummyNode(t) || (mp->ref != 0 && (!t->nilvals || !IsNil(&EntryOf(t, mp)->val)))) {
    qvHashNode* n = GetFreePos(t);
    if (n == nullptr) {
      Rehash(L, t, key);
      return nullptr;
    }
    if (!mp->home) {
      // The colliding node is out of its main position: it moves to the free node, its entry
      // stays where it is.
      const qvTableEntry* mpEntry = EntryOf(t, mp);
      qvHashNode* main;
      if (mp->back != 0) {
        main = mp + mp->back;
#ifndef NDEBUG
        const qvScriptValue mpKey = EntryKey(mpEntry);
        assert(main == MainPositionHashed(t, &mpKey, mpEntry->keyHash));
#endif
      } else {
        const qvScriptValue mpKey = EntryKey(mpEntry);
        main = MainPositionHashed(t, &mpKey, mpEntry->keyHash);
      }
      qvHashNode* othern = main;
      while (NextNode(othern) != mp) othern = NextNode(othern);
      LinkNode(othern, n);
      n->ref = mp->ref;
      n->home = 0;
      n->back = BackOffset(n, main);
      LinkNode(n, NextNode(mp));
      mp->next = 0;
      mp->ref = 0;
    } else {
      // The colliding node is in its own main position: the new key takes the free node.
      LinkNode(n, NextNode(mp));
      LinkNode(mp, n);
      n->back = BackOffset(n, mp);
      mp = n;
      home = false;
    }
  }
  mp->home = home ? 1 : 0;
  if (home) mp->back = 0;
  if (ref != 0) {
    assert(mp->ref == 0);  // while a rehash places keys, every value is set
    mp->ref = NodeRef(ref, hash);
    return &EntryOf(t, mp)->val;
  }
  // A free node gets a new entry; a cleared key's entry is taken over.
  mp->ref = NodeRef(mp->ref != 0 ? mp->ref & kEntryMask : ++t->nentry, hash);
  qvTableEntry* e = EntryOf(t, mp);
  SetEntryKey(e, key);
  if (IsString(key)) StringOf(key)->wasKey = 1;
  e->keyHash = hash;
  return &e->val;
}

// The key as stored: nil reads and writes key 0, -0 is stored as 0, NaN is no key.
// Read field by field: a key that a join or a move has just written is still in pending stores.
static qvScriptValue StoredKey(qvScriptState* L, const qvScriptValue* key) {
  qvScriptValue k;
  CopyValue(&k, key);
  if (k.type == kTypeNil) {
    SetNumber(&k, 0.0);
  } else if (k.type == kTypeNumber) {
    if (k.value.n != k.value.n) VmRaiseError(L, ERR_TABLEINDEX);
    if (k.value.n == 0) k.value.n = 0.0;
  }
  return k;
}

qvScriptValue* VmTableSetAfterGet(qvScriptState* L, qvTable* t, const qvScriptValue* key,
                                  const qvScriptValue* p) {
  t->flags = 0;  // any write may add an event name
  if (p != &kNilValue) return const_cast<qvScriptValue*>(p);
  const qvScriptValue k = StoredKey(L, key);
  const uint32_t hash = IsString(&k) ? StringHash(StringOf(&k)) : 0;
  for (;;) {
    qvScriptValue* slot = NewKey(L, t, &k, hash);
    if (slot != nullptr) return slot;
    uint32_t i;
    if (k.type == kTypeNumber && ArrayIndex(k.value.n, t->sizearray, &i)) {
      if (t->numeric) ConvertToSlots(L, t);
      return &t->array[i];
    }
  }
}

void VmTableSetValue(qvScriptState* L, qvTable* t, const qvScriptValue* key,
                     const qvScriptValue* val) {
  const qvScriptValue v = *val;  // the write may move the block that holds it
  t->flags = 0;
  const qvScriptValue k = StoredKey(L, key);
  const uint32_t hash = IsString(&k) ? StringHash(StringOf(&k)) : 0;
  for (;;) {
    uint32_t i;
    if (k.type == kTypeNumber && ArrayIndex(k.value.n, t->sizearray, &i)) {
      if (t->numeric) {
        if (IsNil(&v)) {
          t->words[i] = 0;
          return;
        }
        if (IsNumber(&v) && HasNumberWord(v.value.n)) {
          t->words[i] = NumberWord(v.value.n);
          return;
        }
        ConvertToSlots(L, t);
      }
      t->array[i] = v;
      return;
    }
    if (IsNil(&v)) t->nilvals = 1;
    const qvScriptValue* got = VmTableGet(t, &k);
    if (got != &kNilValue) {
      *const_cast<qvScriptValue*>(got) = v;
      return;
    }
    qvScriptValue* slot = NewKey(L, t, &k, hash);
    if (slot != nullptr) {
      *slot = v;
      return;
    }
  }
}

void VmTableSetIntValue(qvScriptState* L, qvTable* t, int32_t n, const qvScriptValue* val) {
  const uint32_t i = uint32_t(n) - 1u;
  if (i < t->sizearray) {
    if (!t->numeric) {
      t->flags = 0;
      t->array[i] = *val;
      return;
    }
    if (IsNil(val) || (IsNumber(val) && HasNumberWord(val->value.n))) {
      t->flags = 0;
      t->words[i] = IsNil(val) ? 0 : NumberWord(val->value.n);
      return;
    }
  }
  qvScriptValue k;
  SetNumber(&k, double(n));
  VmTableSetValue(L, t, &k, val);
}

// ---- creation ----

qvTable* VmNewTableObject(qvScriptState* L, uint32_t narray, int lnhash) {
  if (lnhash > kMaxTableBits || narray > (1u << kMaxTableBits)) VmRaiseError(L, ERR_TABLEOVERFLOW);
  auto* t = static_cast<qvTable*>(VmRealloc(L, nullptr, 0, sizeof(qvTable)));
  t->flags = 0xFF;
  t->lsizenode = 0;
  t->numeric = 1;
  t->nilvals = 0;
  t->metatable = IsNil(&G(L)->defaultMeta) ? t : TableOf(&G(L)->defaultMeta);
  t->array = nullptr;
  t->sizearray = 0;
  t->node = G(L)->dummynode;
  t->entry = nullptr;
  t->nentry = 0;
  t->lastfree = t->node;
  t->gclist = nullptr;
  VmLinkObject(L, t, kTypeTable);  // a failure below leaves an empty table to the collector
  if (narray > 0 || lnhash > 0) VmTableResize(L, t, narray, lnhash);
  return t;
}

void VmFreeTable(qvScriptState* L, qvTable* t) {
  if (!IsDummyNode(t)) {
    VmFreeAligned(L, t->node, NodeBlockBytes(t->lsizenode));
    VmFreeAligned(L, t->entry, EntryBlockBytes(t->lsizenode));
  }
  FreeArray(L, t->array, t->sizearray, t->numeric);
  VmRealloc(L, t, sizeof(qvTable), 0);
}

// ---- traversal ----

// -1 before the start, an array slot, or sizearray + the node's index.
static int64_t FindIndex(qvScriptState* L, qvTable* t, const qvScriptValue* key) {
  if (IsNil(key)) return -1;
  uint32_t i;
  if (key->type == kTypeNumber && ArrayIndex(key->value.n, t->sizearray, &i)) return i;
  for (const qvHashNode* n = MainPosition(t, key); n != nullptr; n = NextNode(n)) {
    if (n->ref == 0) continue;
    const qvScriptValue k = EntryKey(EntryOf(t, n));
    if (RawEqualValues(&k, key)) return int64_t(t->sizearray) + (n - t->node);
  }
  VmRaiseError(L, ERR_INVNEXTKEY);
}

int VmTableNext(qvScriptState* L, qvTable* t, qvScriptValue* key) {
  int64_t i = FindIndex(L, t, key);
  for (++i; i < int64_t(t->sizearray); ++i) {
    const qvScriptValue v = ArrayValue(t, uint32_t(i));
    if (!IsNil(&v)) {
      SetNumber(key, double(i + 1));
      key[1] = v;
      return 1;
    }
  }
  for (i -= t->sizearray; i < int64_t(NodeCount(t)); ++i) {
    const qvHashNode* n = &t->node[i];
    if (n->ref == 0) continue;
    const qvTableEntry* e = EntryOf(t, n);
    if (!IsNil(&e->val)) {
      key[0] = EntryKey(e);
      key[1] = e->val;
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
