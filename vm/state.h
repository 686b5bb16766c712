// The machine's state records: the per-machine state with its value stack and call records, the
// global record, the process words, and the error-unwinding type.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "vm/host.h"
#include "vm/object.h"
#include "vm/pool.h"

namespace qv {

// The one exception type that VM errors unwind with.
struct VmError {
  int32_t code;
};

// One record per active protected run, innermost first.
struct qvErrorJump {
  qvErrorJump* previous;
  int32_t status;
};

// Call-record state flags.
constexpr uint32_t kCallNative = 1;    // a native function
constexpr uint32_t kCallHasFrame = 2;  // the interpreter runs this frame
constexpr uint32_t kCallCalling = 4;   // the interpreter called the next record itself
constexpr uint32_t kCallSavedPc = 8;   // savedpc is valid

struct qvCallInfo {
  qvScriptValue* base;  // first slot of the frame
  qvScriptValue* top;   // frame limit
  uint32_t state;
  int32_t nresults;         // while kCallCalling: the result count the call instruction wants
  const uint32_t* savedpc;  // next instruction of a script frame
  int32_t tailcalls;        // tail calls folded into this record
  int32_t lastpc;           // the instruction the line hook saw last in this frame
  // A script frame's closure and constants, set when the interpreter enters or resumes it: its
  // instructions read them here, which spares the loop two registers, and a return finds them
  // without walking from the function slot again.
  qvLClosure* closure;
  const qvScriptValue* k;
};

// Metamethod events; the first five have the absence cache of tables.
enum qvEvent : int {
  kEventIndex,
  kEventNewIndex,
  kEventGc,
  kEventMode,
  kEventEq,
  kEventAdd,
  kEventSub,
  kEventMul,
  kEventDiv,
  kEventDivInt,
  kEventMod,
  kEventLsh,
  kEventRsh,
  kEventOr,
  kEventAnd,
  kEventXor,
  kEventPow,
  kEventUnm,
  kEventNot,
  kEventLt,
  kEventLe,
  kEventConcat,
  kEventCall,
  kEventCount
};

// One place of the string table in one word: the string's address, a 16-byte aligned block
// below 2^47, over 16 in the low 43 bits, and the top 21 bits of the string's scrambled hash above
// them (0: free). Probes compare those bits without reading the strings, and a resize finds each
// string's first slot from them alone up to 2^21 slots; half the memory of a pointer beside a
// whole hash, so that the random place each new string probes more often lies in the cache.
struct qvStringSlot {
  uint64_t word;
};
constexpr int kStringTagBits = 21;
constexpr int kStringAddressBits = 64 - kStringTagBits;

// Spreads a hash over the top bits, which choose a string's first slot.
inline uint32_t StringScramble(uint32_t hash) { return hash * 0x9E3779B1u; }
inline uint32_t StringTag(uint32_t scrambled) { return scrambled >> (32 - kStringTagBits); }
inline uint32_t SlotTag(qvStringSlot slot) { return uint32_t(slot.word >> kStringAddressBits); }
inline qvString* SlotString(qvStringSlot slot) {
  return reinterpret_cast<qvString*>((slot.word << kStringTagBits) >> (kStringTagBits - 4));
}
// False for an address the slot cannot hold: never met where the heap lies below 2^47 and
// aligns its blocks to 16 bytes, as on every platform the player runs on.
inline bool StringAddressFits(const void* p) {
  const auto a = reinterpret_cast<uintptr_t>(p);
  return (a & 15) == 0 && (a >> (kStringAddressBits + 4)) == 0;
}
inline qvStringSlot MakeStringSlot(qvString* s, uint32_t tag) {
  return {(reinterpret_cast<uintptr_t>(s) >> 4) | (uint64_t(tag) << kStringAddressBits)};
}

// The interned strings, open addressing with linear probing: at most three quarters of the
// places are in use, so that a free one always ends a run. A place is a slot and a check byte;
// the check bytes, an eighth of the slots' memory, follow the slots in the same block. A probe
// reads the bytes and only the slots whose byte matches: a new string, which most strings a
// program makes are, is placed without reading a slot, and its random place's byte lies in the
// cache far more often than the slot.
struct qvStringTable {
  qvStringSlot* slots;
  uint8_t* checks;  // 0: a free place; else 0x80 and the low 7 bits of the scrambled hash
  uint32_t nuse;
  uint32_t size;   // a power of two
  uint32_t shift;  // 32 - log2(size): a string's first slot is the top of its scrambled hash
  uint32_t nlong;  // strings that own more than a pool block (StringOwnsHeap)
  uint64_t bytes;  // the blocks of every string
};

// Whether a string holds more than a pool block (counted in `nlong`): closing the machine
// visits those.
inline bool StringOwnsHeap(const qvString* s) {
  return InTextBlock(s) || StringBlockSize(s->len) > kPoolMaxBlock;
}

inline uint32_t StringHome(uint32_t scrambled, uint32_t shift) {
  return uint32_t(uint64_t(scrambled) >> shift);
}
// The first slot of the string in `slot`, in a table of that shift.
inline uint32_t SlotHome(qvStringSlot slot, uint32_t shift) {
  if (shift >= 32 - kStringTagBits) return SlotTag(slot) >> (shift - (32 - kStringTagBits));
  qvString* s = SlotString(slot);
  const uint32_t hash = InTextBlock(s) ? VmKeptInternHash(s) : VmInternHash(s->data(), s->len);
  return StringHome(StringScramble(hash), shift);
}
// The bytes of a place: its slot and its check byte.
constexpr size_t kStringPlaceBytes = sizeof(qvStringSlot) + 1;
// The check byte of a string: bits the slot's tag does not hold, since in a big table the tag
// is no more than the first place, which the strings of a run share.
inline uint8_t StringCheck(uint32_t scrambled) { return uint8_t(0x80 | (scrambled & 0x7F)); }
// The first free place from `home` on.
inline uint32_t StringFreeSlot(const uint8_t* checks, uint32_t mask, uint32_t home) {
  uint32_t i = home;
  while (checks[i] != 0) i = (i + 1) & mask;
  return i;
}
void VmFreeStringPlaces(qvScriptState* L, qvStringTable* tb);
// The places of [from, to) that hold a string, in order, as offsets from `base`, eight check bytes
// at a time and without a branch on each (whether a place is full is as good as random).
// `base` is a multiple of 8 and `from` one of the eight places from it; `to` is no more than
// base + kStringPlaceRun and the table's size; `out` has room for kStringPlaceRun + 8 offsets.
// Returns their number.
constexpr uint32_t kStringPlaceRun = 256;
uint32_t VmFullStringPlaces(const uint8_t* checks, uint32_t base, uint32_t from, uint32_t to,
                            uint8_t* out);

// One GOSUB return address: the prototype it belongs to and the instruction index.
struct qvGosubEntry {
  const qvProto* proto;
  int32_t pc;
};
constexpr int32_t kGosubLimit = 4096;

// No automatic collection while the threshold holds this value.
constexpr uint64_t kNoGCLimit = 0xFFFFFFFFu;

struct qvScriptGlobal {
  qvStringTable strt;
  qvGCObject* rootgc;     // every collectable object except strings and userdata
  qvGCObject* rootudata;  // userdata
  qvGCObject* tmudata;    // userdata awaiting "__gc"
  char* buffer;           // concatenation buffer
  size_t buffsize;
  uint64_t threshold;  // bytes; kNoGCLimit disables automatic collection
  uint64_t gcLimit;    // what the check points compare with (the threshold, or never)
  uint64_t nblocks;    // allocated bytes
  qvCFunction panic;
  qvScriptValue registry;
  qvScriptValue defaultMeta;  // an empty table that is its own metatable
  qvScriptState* mainthread;
  qvHashNode dummynode[1];
  qvString* tmname[kEventCount];
  qvScriptValue builtinNext;  // the iterator used when the global "next" is nil
  qvString* nextName;         // the string "next"
  qvGosubEntry* gosub;        // the GOSUB stack, grown as needed up to kGosubLimit
  int32_t gosubSize;
  int32_t gosubTop;
  qvPool pool;           // the small blocks
  const qvVmHost* host;  // never null once the state is open
};

// Bits of the pending word that the interpreter tests before every instruction. They lie above
// the six opcode bits: the threaded dispatch adds the word to its index.
constexpr uint32_t kPendingEnd = 64;
constexpr uint32_t kPendingHook = 128;     // the hook step runs before every instruction
constexpr uint32_t kPendingRequest = 256;  // VmRequestHook: set by any thread

struct qvScriptState : qvGCObject {
  qvScriptValue* top;   // first free slot
  qvScriptValue* base;  // first slot of the running function's frame
  qvScriptGlobal* g;
  qvCallInfo* ci;
  qvScriptValue* stackLast;  // the last usable slot
  qvScriptValue* stack;
  int32_t stacksize;
  qvCallInfo* endCi;
  qvCallInfo* baseCi;
  int32_t sizeCi;
  int32_t nCcalls;  // native-call nesting
  uint8_t hookmask;
  uint8_t allowhook;
  uint8_t hookinit;
  int32_t basehookcount;
  int32_t hookcount;
  qvHook hook;
  qvScriptValue gt;       // the globals table
  qvGCObject* openupval;  // open upvalues, highest stack slot first
  qvGCObject* gclist;
  qvErrorJump* errorJmp;
  ptrdiff_t errfunc;

  // Process words (one machine per process).
  // kPendingEnd | kPendingHook | kPendingRequest, tested before every instruction; read and
  // written through PendingWord, since other threads set kPendingRequest.
  uint32_t pending;
  int32_t endFlag;
  int32_t traceFlag;
  int32_t lastError;
  qvCFunction lastErrorReader;  // the native whose call keeps lastError
  int32_t errorHandlerRef;
  int32_t inErrorHandler;
  int32_t handlerSuppression;
  int32_t currentInstruction;
  int32_t jumpOffset;
  int32_t errorLine;
};

inline qvScriptGlobal* G(qvScriptState* L) { return L->g; }

// Closes the state; returns the byte count left once every object, the stack and the call
// records were freed (the sizes of the state and global records when the accounting is exact).
uint64_t VmCloseStateResidue(qvScriptState* L);

// ---- stack ----

constexpr int kExtraStack = 5;               // slots beyond the limit that pushes may use unchecked
constexpr int kBasicStackSize = 45;          // slots at creation
constexpr int kBasicCiSize = 8;              // call records at creation
constexpr int kMinNativeStack = 20;          // slots guaranteed to a native function
constexpr int kMaxNativeStack = 2048;        // VmCheckStack's frame limit
constexpr int kMaxCalls = 4096;              // call records
constexpr int kMaxNativeCalls = 200;         // native-call nesting
constexpr int32_t kMaxStackSlots = 1 << 21;  // hard cap on the value stack

inline ptrdiff_t SaveStack(qvScriptState* L, const qvScriptValue* p) {
  return reinterpret_cast<const char*>(p) - reinterpret_cast<const char*>(L->stack);
}
inline qvScriptValue* RestoreStack(qvScriptState* L, ptrdiff_t n) {
  return reinterpret_cast<qvScriptValue*>(reinterpret_cast<char*>(L->stack) + n);
}

void VmReallocStack(qvScriptState* L, int newSize);
void VmGrowStack(qvScriptState* L, int n);
// Makes sure n slots above the top exist.
inline void VmEnsureStack(qvScriptState* L, int n) {
  if (L->stackLast - L->top <= n) VmGrowStack(L, n);
}
// Pushes one slot, growing the stack when the limit is reached.
inline qvScriptValue* VmPushSlot(qvScriptState* L) {
  if (L->top >= L->stackLast) VmGrowStack(L, 1);
  return L->top++;
}
void VmReallocCI(qvScriptState* L, int newSize);
// The next call record, growing the array (and raising ERR_STACK beyond the limit).
qvCallInfo* VmNextCI(qvScriptState* L);

// ---- memory ----

#ifdef QV_VM_TEST_HOOKS
// Test builds: an allocation that would take the byte count above this fails like an exhausted
// heap.
extern uint64_t gAllocationLimit;
#endif

// A new block of a complete state, as VmRealloc(L, nullptr, 0, size) makes it: small ones come
// straight from the pool (test builds go through VmRealloc and its limit).
inline void* VmNewBlock(qvScriptState* L, size_t size) {
#ifndef QV_VM_TEST_HOOKS
  if (size <= kPoolMaxBlock) {
    void* p = PoolAlloc(&G(L)->pool, size);
    if (p != nullptr) {
      G(L)->nblocks += size;
      return p;
    }
  }
#endif
  return VmRealloc(L, nullptr, 0, size);
}

// The same from the pool without a call, or null where VmNewBlock would need one: a new arena,
// a larger block, or in test builds a block above the limit, which VmNewBlock then refuses.
inline void* VmTakeBlock(qvScriptState* L, size_t size) {
  if (size > kPoolMaxBlock) return nullptr;
#ifdef QV_VM_TEST_HOOKS
  if (G(L)->nblocks + size > gAllocationLimit) return nullptr;
#endif
  void* p = PoolTake(&G(L)->pool, size);
  if (p != nullptr) G(L)->nblocks += size;
  return p;
}

template <typename T>
T* VmNewVector(qvScriptState* L, size_t n) {
  // NOLINTNEXTLINE(bugprone-sizeof-expression): T is the element type, a pointer for some vectors
  return static_cast<T*>(VmRealloc(L, nullptr, 0, n * sizeof(T)));
}
// A new block of a complete state with every byte zero, freed with VmRealloc like any other.
// Raises ERR_MEM when memory runs out.
void* VmNewZeroed(qvScriptState* L, size_t size);
// Vectors of nil values, null pointers or empty hash nodes: all of them are zero bytes.
static_assert(kTypeNil == 0, "zeroed memory reads as nil");
template <typename T>
T* VmNewZeroedVector(qvScriptState* L, size_t n) {
  return static_cast<T*>(VmNewZeroed(L, n * sizeof(T)));  // NOLINT(bugprone-sizeof-expression)
}
// The same, its address a multiple of a cache line when it is larger than a pool block (hash
// nodes: none of them straddles two lines); freed with VmFreeAligned and the same size.
void* VmNewZeroedAligned(qvScriptState* L, size_t size);
void VmFreeAligned(qvScriptState* L, void* block, size_t size);
// Resizes a block made by VmNewZeroedAligned or by this function (null and 0 make one) to a size
// above 0, keeping its contents up to the smaller size; freed with VmFreeAligned. Bytes past the
// old size are not cleared. A failure leaves the block as it was.
void* VmReallocAligned(qvScriptState* L, void* block, size_t oldSize, size_t newSize);
template <typename T>
void VmFreeVector(qvScriptState* L, T* p, size_t n) {
  VmRealloc(L, p, n * sizeof(T), 0);  // NOLINT(bugprone-sizeof-expression): as in VmNewVector
}

// ---- process words ----

inline std::atomic_ref<uint32_t> PendingWord(qvScriptState* L) {
  return std::atomic_ref<uint32_t>(L->pending);
}

// The script thread's bits of the pending word, from the End flag and the hooks: the hook step
// runs before every instruction for a count hook, for a line hook that runs at every line event
// and for the first step after VmSetHook; an on-request line hook needs it only while requested.
inline void VmUpdatePending(qvScriptState* L) {
  const uint8_t mask = L->hookmask;
  const bool stepped = (mask & kMaskCount) ||
                       ((mask & kMaskLine) && (!(mask & kMaskOnRequest) || !L->hookinit));
  const uint32_t own = (L->endFlag ? kPendingEnd : 0u) | (stepped ? kPendingHook : 0u);
  std::atomic_ref<uint32_t> word = PendingWord(L);
  uint32_t old = word.load(std::memory_order_relaxed);
  while (
      !word.compare_exchange_weak(old, (old & kPendingRequest) | own, std::memory_order_relaxed)) {
  }
}

}  // namespace qv
