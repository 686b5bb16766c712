// The machine's collectable objects and the helpers that read and write value slots.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "vm/vm.h"

namespace qv {

// Internal type codes.
constexpr int32_t kTypeProto = 9;
constexpr int32_t kTypeUpval = 10;

// Mark byte bits.
constexpr uint8_t kMarkBit = 1;
constexpr uint8_t kNotFinalisedBit = 2;  // userdata: "__gc" has not run yet
constexpr uint8_t kWeakKeyBit = 2;       // table: weak keys (set while collecting)
constexpr uint8_t kWeakValueBit = 4;     // table: weak values (set while collecting)
constexpr uint8_t kFixedBit = 16;        // never collected
constexpr uint8_t kTextBlockBit = 32;    // string: its characters lie in a text block

// Head of every collectable object. New objects are linked at the head of their list. The rest
// of its 16 bytes, padding to every other kind of object, keeps a string's hash (see qvString).
struct qvGCObject {
  qvGCObject* next;
  uint8_t type;
  uint8_t marked;
  uint8_t hashKnown;    // a string's cachedHash holds its hash
  uint8_t wasKey;       // a string: some table has taken it as a key (never cleared)
  uint32_t cachedHash;  // a string's hash, read through StringHash
};
static_assert(sizeof(qvGCObject) == 16, "the string fields live in the head's padding");

// An interned, immutable string; the characters and a NUL follow its length at once, 20 bytes
// in: a short string takes a pool class smaller than with a record of its own after the head.
// Its hash, the one tables place string keys by, is made when first asked for (StringHash):
// most strings a script makes are never a key, and the hash's chain takes a few cycles per
// character.
//
// A string made by appending to a long one keeps its characters in a text block instead (the
// kTextBlockBit of `marked`; see qvTextBlock): where the characters would start, the string
// table hash of its text, then the block. Its block holds it as a prefix, so that appending to
// the string at the block's end writes only the new characters.
struct qvTextBlock;
struct qvString : qvGCObject {
  uint32_t len;
  char* data();
};
constexpr size_t kStringHeaderBytes = sizeof(qvGCObject) + sizeof(uint32_t);
constexpr size_t kBlockTextOffset = 24;  // the block's address within such a string
constexpr size_t kBlockStringBytes = kBlockTextOffset + sizeof(void*);

// Characters that strings made by appending share, each string a prefix of them: `fill`
// characters are in use (the longest such string) and a NUL follows them; the room up to the
// block's end is for the next append to the string of length `fill`. Written characters never
// change, so every string of the block stays as it was. The string table hash of the text, a
// chain over 16-byte steps, is kept as far as it was taken (`hashedTo`, `hashSeed`), so that a
// longer string of the block hashes only its new characters. A block goes when its last string
// does.
struct qvTextBlock {
  size_t size;  // bytes of the block, this record included
  uint64_t hashSeed;
  uint32_t fill;
  uint32_t hashedTo;
  uint32_t refs;    // strings whose characters are here
  uint32_t sealed;  // the text of length `fill` was lent out as a C string: no more appends
  char* text() { return reinterpret_cast<char*>(this + 1); }
  size_t room() const { return size - sizeof(qvTextBlock) - 1; }  // characters it can hold
};
static_assert(sizeof(qvTextBlock) % 16 == 0, "text follows the record at 16 bytes");

inline qvTextBlock* BlockOf(const qvString* s) {
  uintptr_t address;
  std::memcpy(&address, reinterpret_cast<const char*>(s) + kBlockTextOffset, sizeof address);
  return reinterpret_cast<qvTextBlock*>(address);
}
inline bool InTextBlock(const qvString* s) { return (s->marked & kTextBlockBit) != 0; }
// Where a string's own characters are (a new string's, before it is known to be in a block).
inline char* InlineText(qvString* s) { return reinterpret_cast<char*>(&s->len + 1); }
inline char* qvString::data() {
  if (__builtin_expect(InTextBlock(this), 0)) return BlockOf(this)->text();
  return InlineText(this);
}

struct qvProto;

// A hash node of a table, 8 bytes: its chain link and the number of the entry that holds its
// key and value. A lookup's first read lands on a random node of a big table; small nodes keep
// those reads within a quarter of the pages that nodes holding keys and values took. `next` is
// the offset from this node to the next one of its chain (0 ends the chain; 25 bits hold every
// offset within 2^24 nodes). `ref` holds the entry's number + 1 (0: a free node) and, above it,
// the top bits of a string key's hash, so that a lookup steps over the nodes of other keys
// without reading their entries. `home` is set while the node is its key's main position: an
// insertion that collides with it knows so without reading the entry. `back`, when not 0, is the
// offset from a node that is not home to its key's main position, so that moving its key away
// finds the chain without reading the entry either (a key placed beside its main position).
struct qvHashNode {
  uint32_t ref;
  int32_t next : 25;
  uint32_t home : 1;
  int32_t back : 6;
};
static_assert(sizeof(qvHashNode) == 8, "a hash node is 8 bytes");
constexpr int kEntryBits = 25;  // entry numbers + 1 up to 2^24
constexpr uint32_t kEntryMask = (1u << kEntryBits) - 1;
inline uint32_t HashTag(uint32_t hash) { return hash >> kEntryBits; }
inline uint32_t NodeRef(uint32_t entryPlusOne, uint32_t hash) {
  return entryPlusOne | (HashTag(hash) << kEntryBits);
}

// The key and value of a node. Entries are appended as keys arrive and keep their relative order
// through rehashes, so that keys written together are read back from the same lines. The key is
// kept as its payload and its type; `keyHash` keeps a string key's hash, so that moving keys
// between nodes never reads the strings themselves.
struct qvTableEntry {
  qvScriptValue val;
  qvValuePayload keyValue;
  uint32_t keyHash;
  int32_t keyType;
};
static_assert(sizeof(qvTableEntry) == 32, "a table entry is 32 bytes");

inline qvScriptValue EntryKey(const qvTableEntry* e) {
  qvScriptValue k;
  k.type = e->keyType;
  k.value = e->keyValue;
  return k;
}
inline void SetEntryKey(qvTableEntry* e, const qvScriptValue* key) {
  e->keyType = key->type;
  e->keyValue = key->value;
}
inline qvHashNode* NextNode(qvHashNode* n) { return n->next != 0 ? n + n->next : nullptr; }
inline const qvHashNode* NextNode(const qvHashNode* n) {
  return n->next != 0 ? n + n->next : nullptr;
}
inline void LinkNode(qvHashNode* n, const qvHashNode* next) {
  n->next = next != nullptr ? int32_t(next - n) : 0;
}
// The offset from n to the main position `main` of its key, 0 when too far to note.
inline int32_t BackOffset(const qvHashNode* n, const qvHashNode* main) {
  const std::ptrdiff_t d = main - n;
  return d >= -31 && d <= 31 ? int32_t(d) : 0;
}

// A table: an array part for the keys 1 .. sizearray and a chained hash part of 2^lsizenode
// nodes and their entries (the shared empty node when it has none). While it holds nothing but
// numbers the array part is numeric: one 8-byte word per key (see NumberWord in vm/table.h), half
// the memory of value slots, which strided writes over big arrays pay for. A table starts numeric
// and turns into slots for good when anything else has to be stored there.
struct qvTable : qvGCObject {
  uint8_t flags;      // bit e set: metamethod event e (0-4) known to be absent
  uint8_t lsizenode;  // log2 of the node count
  uint8_t numeric;    // 1: the array part is `words`, else `array`
  // 0 while every key of the hash part has a value (so since the last rehash, when no nil was
  // stored there and the collector cleared nothing): an insertion that lands on a node in use
  // then knows that it collides without reading the node's entry.
  uint8_t nilvals;
  qvTable* metatable;  // never null: the default metatable stands for none
  union {
    qvScriptValue* array;
    uint64_t* words;
  };
  qvHashNode* node;
  qvTableEntry* entry;   // room for one entry per node, in a block of its own
  qvHashNode* lastfree;  // nodes below it may be free; it only moves down
  qvGCObject* gclist;
  uint32_t sizearray;
  uint32_t nentry;  // entries given to nodes, each to exactly one
};

// A full userdata; its data follows the record.
struct qvUserdata : qvGCObject {
  qvTable* metatable;
  size_t len;
  void* data() { return this + 1; }
};
static_assert(sizeof(qvUserdata) % 16 == 0, "userdata data stays 16-byte aligned");

// An upvalue: open while `v` points into the stack, closed once it points at `closed`.
struct qvUpVal : qvGCObject {
  qvScriptValue* v;
  qvScriptValue closed;
};

// Closures: the common head, then the native or the script part, then the upvalues.
struct qvClosure : qvGCObject {
  uint8_t isNative;
  uint8_t nupvalues;
  qvGCObject* gclist;
};
struct qvCClosure : qvClosure {
  qvCFunction f;
  qvScriptValue* upvalues() { return reinterpret_cast<qvScriptValue*>(this + 1); }
};
struct qvLClosure : qvClosure {
  qvProto* p;
  qvScriptValue env;
  qvUpVal** upvals() { return reinterpret_cast<qvUpVal**>(this + 1); }
};

struct qvLocVar {
  qvString* name;
  int32_t startpc;  // first instruction where the variable is active
  int32_t endpc;    // first instruction where it is dead
};

// A function prototype, as loaded from a chunk.
struct qvProto : qvGCObject {
  qvScriptValue* k;
  uint32_t* code;
  qvProto** p;
  int32_t* lineinfo;
  qvLocVar* locvars;
  qvString** upvalues;
  qvString* source;
  int32_t sizeupvalues;
  int32_t sizek;
  int32_t sizecode;
  int32_t sizelineinfo;
  int32_t sizep;
  int32_t sizelocvars;
  int32_t linedefined;
  qvGCObject* gclist;
  uint8_t nups;
  uint8_t numparams;
  uint8_t isVararg;
  uint8_t maxstacksize;
};

// ---- value slots ----

inline bool IsCollectable(const qvScriptValue* v) { return v->type >= kTypeString; }
inline bool IsNil(const qvScriptValue* v) { return v->type == kTypeNil; }
inline bool IsNumber(const qvScriptValue* v) { return v->type == kTypeNumber; }
inline bool IsString(const qvScriptValue* v) { return v->type == kTypeString; }
inline bool IsTable(const qvScriptValue* v) { return v->type == kTypeTable; }
inline bool IsFunction(const qvScriptValue* v) { return v->type == kTypeFunction; }

inline qvString* StringOf(const qvScriptValue* v) { return static_cast<qvString*>(v->value.gc); }
inline qvTable* TableOf(const qvScriptValue* v) { return static_cast<qvTable*>(v->value.gc); }
inline qvClosure* ClosureOf(const qvScriptValue* v) { return static_cast<qvClosure*>(v->value.gc); }
inline qvUserdata* UserdataOf(const qvScriptValue* v) {
  return static_cast<qvUserdata*>(v->value.gc);
}

inline void SetNil(qvScriptValue* v) { v->type = kTypeNil; }
inline void SetNumber(qvScriptValue* v, double n) {
  v->type = kTypeNumber;
  v->value.n = n;
}
inline void SetObject(qvScriptValue* v, int32_t type, qvGCObject* o) {
  v->type = type;
  v->value.gc = o;
}
inline void SetString(qvScriptValue* v, qvString* s) { SetObject(v, kTypeString, s); }
// Copies a slot field by field. A slot just written field by field (SetNumber, a loop index)
// and then read whole, as a 16-byte block copy would, cannot take its bytes from the pending
// stores and waits until they reach the cache; two field reads never wait.
inline void CopyValue(qvScriptValue* dst, const qvScriptValue* src) {
  dst->type = src->type;
  dst->value = src->value;
}

// Primitive equality: same type and same value (numbers by value, the rest by payload).
inline bool RawEqualValues(const qvScriptValue* a, const qvScriptValue* b) {
  if (a->type != b->type) return false;
  switch (a->type) {
    case kTypeNil:
      return true;
    case kTypeNumber:
      return a->value.n == b->value.n;
    case kTypeBoolean:
      return a->value.b == b->value.b;
    default:
      return a->value.p == b->value.p;
  }
}

// Asks for the object a collectable value points to, ahead of a loop step that reads it: bulk
// walks over big tables and the string table would otherwise wait on one cache miss per object.
inline void PrefetchObject(const qvScriptValue* v) {
  if (IsCollectable(v)) __builtin_prefetch(v->value.gc);
}

// The shared nil value that absent table entries read as.
extern const qvScriptValue kNilValue;

// ---- strings ----

qvString* VmInternString(qvScriptState* L, const char* s, size_t len);
// The same for a hash already computed with VmHashString.
qvString* VmInternHashed(qvScriptState* L, const char* s, size_t len, uint32_t hash);
// The same for a key about to be stored into `keyOf`: a string that the string table shows to be
// new is made at once, without a look into the table; one it may hold is the table's own key
// when the table has it.
qvString* VmInternKey(qvScriptState* L, const char* s, size_t len, uint32_t hash,
                      const qvTable* keyOf);
uint32_t VmHashString(const char* s, size_t len);
// A text block with room for `room` characters and a NUL, holding none; VmFreeTextBlock frees
// one that no string took.
qvTextBlock* VmNewTextBlock(qvScriptState* L, size_t room);
void VmFreeTextBlock(qvScriptState* L, qvTextBlock* b);
// The string of the first `len` characters of a block, where characters up to `fill` are as
// they were and `len` is `fill` or more, above 16, and within the block's room: the block's new
// string when no string has that text yet (its fill then grows to `len`), else the one that has
// it (the block then stays as it was).
qvString* VmInternAppended(qvScriptState* L, qvTextBlock* b, size_t len);
// A freed string in a text block lets go of it.
void VmReleaseText(qvScriptState* L, qvString* s);
// The string table hash of a string in a text block, kept with it.
uint32_t VmKeptInternHash(const qvString* s);
// The characters of a string with a NUL after them, for as long as the string lives: a string
// in a text block is no longer appended to in place (a longer string of its block first gets a
// block of its own). For every reader that takes the text as a C string.
const char* VmStringText(qvScriptState* L, qvString* s);
// Makes and keeps a string's hash; StringHash calls it the first time.
uint32_t VmMakeStringHash(qvString* s);
// The string's VmHashString hash.
inline uint32_t StringHash(qvString* s) {
  return s->hashKnown != 0 ? s->cachedHash : VmMakeStringHash(s);
}
// The hash a read may look under without making it: a string never asked for its hash is no
// table's key (every insertion asks), and a read under any hash then finds nothing, as it must.
inline uint32_t StringLookupHash(const qvString* s) { return s->cachedHash; }
// The hash that places a string in the string table: not the one scripts' tables use.
uint32_t VmInternHash(const char* s, size_t len);
qvString* VmInternCString(qvScriptState* L, const char* s);
// Moves the strings to a table of newSize slots (a power of two above 4/3 of those in use).
void VmResizeStringTable(qvScriptState* L, uint32_t newSize);
inline size_t StringBlockSize(size_t len) { return kStringHeaderBytes + len + 1; }
// The bytes of a string's own block (a string in a text block: without the text block).
inline size_t StringObjectBytes(const qvString* s) {
  return InTextBlock(s) ? kBlockStringBytes : StringBlockSize(s->len);
}
// Copies n bytes; up to 16 of them in two overlapping moves without a call, since most strings
// that scripts join and key by are that short.
inline void CopyTextBytes(char* dst, const char* src, size_t n) {
  if (n > 16) {
    std::memcpy(dst, src, n);
  } else if (n >= 8) {
    uint64_t head, tail;
    std::memcpy(&head, src, 8);
    std::memcpy(&tail, src + n - 8, 8);
    std::memcpy(dst, &head, 8);
    std::memcpy(dst + n - 8, &tail, 8);
  } else if (n >= 4) {
    uint32_t head, tail;
    std::memcpy(&head, src, 4);
    std::memcpy(&tail, src + n - 4, 4);
    std::memcpy(dst, &head, 4);
    std::memcpy(dst + n - 4, &tail, 4);
  } else if (n > 0) {
    const char first = src[0], middle = src[n >> 1], last = src[n - 1];
    dst[0] = first;
    dst[n >> 1] = middle;
    dst[n - 1] = last;
  }
}
// Whether n bytes are the same; up to 16 of them in two overlapping compares without a call, as
// CopyTextBytes copies them.
inline bool SameTextBytes(const char* a, const char* b, size_t n) {
  if (n > 16) return std::memcmp(a, b, n) == 0;
  if (n >= 8) {
    uint64_t a0, a1, b0, b1;
    std::memcpy(&a0, a, 8);
    std::memcpy(&a1, a + n - 8, 8);
    std::memcpy(&b0, b, 8);
    std::memcpy(&b1, b + n - 8, 8);
    return ((a0 ^ b0) | (a1 ^ b1)) == 0;
  }
  if (n >= 4) {
    uint32_t a0, a1, b0, b1;
    std::memcpy(&a0, a, 4);
    std::memcpy(&a1, a + n - 4, 4);
    std::memcpy(&b0, b, 4);
    std::memcpy(&b1, b + n - 4, 4);
    return ((a0 ^ b0) | (a1 ^ b1)) == 0;
  }
  return n == 0 || (a[0] == b[0] && a[n >> 1] == b[n >> 1] && a[n - 1] == b[n - 1]);
}

// ---- userdata ----

qvUserdata* VmNewUserdataObject(qvScriptState* L, size_t size);

}  // namespace qv
