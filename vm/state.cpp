// The machine's state: creation and destruction, the allocator, the value stack and the call
// records.
#include "vm/state.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <cstring>

#include "base/errors.h"
#include "vm/call.h"
#include "vm/func.h"
#include "vm/gc.h"
#include "vm/table.h"

namespace qv {

#ifdef QV_VM_TEST_HOOKS
uint64_t gAllocationLimit = UINT64_MAX;
#endif

// Zeroed blocks from this size on are made resident when they are made.
constexpr size_t kPopulateBytes = size_t(64) << 10;
constexpr size_t kPageBytes = 4096;

// Moves a block between the pool and the heap, or between two pool classes.
static void* MoveBlock(qvPool* pool, void* block, size_t oldSize, size_t newSize) {
  void* p = newSize <= kPoolMaxBlock ? PoolAlloc(pool, newSize) : HeapAlloc(pool, newSize, false);
  if (p == nullptr) return nullptr;
  if (block != nullptr) {
    std::memcpy(p, block, std::min(oldSize, newSize));
    if (oldSize <= kPoolMaxBlock)
      PoolFree(pool, block, oldSize);
    else
      PoolDrop(pool, block, oldSize);
  }
  return p;
}

// Test builds make every allocation that would take the byte count above the limit fail.
static bool WithinLimit([[maybe_unused]] qvScriptState* L, [[maybe_unused]] size_t oldSize,
                        [[maybe_unused]] size_t newSize) {
#ifdef QV_VM_TEST_HOOKS
  return L == nullptr || L->g == nullptr || newSize <= oldSize ||
         G(L)->nblocks + (newSize - oldSize) <= gAllocationLimit;
#else
  return true;
#endif
}

void* VmRealloc(qvScriptState* L, void* block, size_t oldSize, size_t newSize) {
  // Blocks of a complete state up to kPoolMaxBlock bytes live in its pool, larger ones on its
  // heap; the state and global records themselves, made and freed without it, on the C heap.
  qvPool* pool = (L != nullptr && L->g != nullptr) ? &G(L)->pool : nullptr;
  if (newSize == 0) {
    if (block != nullptr) {
      if (pool == nullptr)
        std::free(block);
      else if (oldSize <= kPoolMaxBlock)
        PoolFree(pool, block, oldSize);
      else
        PoolDrop(pool, block, oldSize);
    }
    if (pool != nullptr) G(L)->nblocks -= oldSize;
    return nullptr;
  }
  if (newSize >= 0xFFFFFFFDu) {
    if (L == nullptr) return nullptr;
    VmRaiseError(L, ERR_MEM);
  }
  void* p = nullptr;
  if (WithinLimit(L, oldSize, newSize)) {
    if (pool == nullptr)
      p = std::realloc(block, newSize);
    else if (oldSize > kPoolMaxBlock && newSize > kPoolMaxBlock)
      p = HeapRealloc(pool, block, oldSize, newSize);
    else if (block != nullptr && newSize <= kPoolMaxBlock && PoolSameClass(oldSize, newSize))
      p = block;
    else
      p = MoveBlock(pool, block, oldSize, newSize);
  }
  if (p == nullptr) {
    if (L == nullptr) return nullptr;
    VmThrow(L, ERR_MEM);
  }
  if (pool != nullptr) G(L)->nblocks += newSize - oldSize;
  return p;
}

// Table parts and string buckets are written throughout soon after, and a lookup reads a slot
// before it writes it: untouched, each page would fault twice (once for the shared zero page,
// once more for the write). Made resident in one request they fault no more; where that cannot
// be done, a write to each page leaves one fault per page.
static void MakeResident(qvScriptState* L, void* p, size_t size) {
  if (size < kPopulateBytes) return;
  const qvVmHost* host = G(L)->host;
  if (host->populatePages == nullptr || !host->populatePages(p, size)) {
    for (size_t i = 0; i < size; i += kPageBytes) static_cast<volatile char*>(p)[i] = 0;
  }
}

void* VmNewZeroed(qvScriptState* L, size_t size) {
  if (size <= kPoolMaxBlock || size >= 0xFFFFFFFDu) {
    void* p = VmRealloc(L, nullptr, 0, size);
    if (p != nullptr) std::memset(p, 0, size);
    return p;
  }
  // The heap's zeroed blocks: fresh pages from the system are not cleared a second time.
  void* p = WithinLimit(L, 0, size) ? HeapAlloc(&G(L)->pool, size, true) : nullptr;
  if (p == nullptr) VmThrow(L, ERR_MEM);
  G(L)->nblocks += size;
  MakeResident(L, p, size);
  return p;
}

// An aligned block from the C heap keeps the address the C heap gave just below itself; a large
// block from the host starts on a page.
constexpr size_t kLineBytes = 64;
constexpr size_t kAlignSlack = kLineBytes + sizeof(void*);

// The first line boundary in a block from the C heap with room for its address below it.
static void* LineIn(void* raw) {
  return reinterpret_cast<void*>(
      (reinterpret_cast<uintptr_t>(raw) + sizeof(void*) + kLineBytes - 1) &
      ~uintptr_t(kLineBytes - 1));
}
// The same, the address noted below it.
static void* AlignedIn(void* raw) {
  void* p = LineIn(raw);
  static_cast<void**>(p)[-1] = raw;
  return p;
}

void* VmNewZeroedAligned(qvScriptState* L, size_t size) {
  if (size <= kPoolMaxBlock || size >= 0xFFFFFFFDu || HeapMapped(&G(L)->pool, size))
    return VmNewZeroed(L, size);
  void* raw = WithinLimit(L, 0, size) ? std::calloc(1, size + kAlignSlack) : nullptr;
  if (raw == nullptr) VmThrow(L, ERR_MEM);
  void* p = AlignedIn(raw);
  G(L)->nblocks += size;
  MakeResident(L, p, size);
  return p;
}

// The heap grows a large block where it lies or remaps its pages, so that its contents are
// neither copied nor faulted in afresh; the new bytes are left as they are.
void* VmReallocAligned(qvScriptState* L, void* block, size_t oldSize, size_t newSize) {
  assert(newSize > 0);
  if (newSize >= 0xFFFFFFFDu) VmRaiseError(L, ERR_MEM);
  qvPool* const pool = &G(L)->pool;
  const bool mapped = HeapMapped(pool, newSize);
  // Into or out of the pool, or between the C heap and the host's large blocks.
  if (oldSize <= kPoolMaxBlock || newSize <= kPoolMaxBlock || HeapMapped(pool, oldSize) != mapped) {
    void* p;
    if (newSize > kPoolMaxBlock) {
      if (!WithinLimit(L, 0, newSize)) VmThrow(L, ERR_MEM);
      void* raw = mapped ? HeapAlloc(pool, newSize, false) : std::malloc(newSize + kAlignSlack);
      if (raw == nullptr) VmThrow(L, ERR_MEM);
      p = mapped ? raw : AlignedIn(raw);
      G(L)->nblocks += newSize;
    } else {
      p = VmRealloc(L, nullptr, 0, newSize);
    }
    if (block != nullptr) {
      std::memcpy(p, block, std::min(oldSize, newSize));
      VmFreeAligned(L, block, oldSize);
    }
    return p;
  }
  if (mapped) {
    void* p = WithinLimit(L, oldSize, newSize) ? HeapRealloc(pool, block, oldSize, newSize)
                                               : nullptr;
    if (p == nullptr) VmThrow(L, ERR_MEM);  // the block stays as it was
    G(L)->nblocks += newSize - oldSize;
    return p;
  }
  void* raw = static_cast<void**>(block)[-1];
  const auto shift = static_cast<size_t>(static_cast<char*>(block) - static_cast<char*>(raw));
  void* newRaw = WithinLimit(L, oldSize, newSize) ? std::realloc(raw, newSize + kAlignSlack)
                                                  : nullptr;
  if (newRaw == nullptr) VmThrow(L, ERR_MEM);  // the block stays as it was
  // The contents keep their offset from the start; a start of another alignment moves them,
  // before the address below them is noted.
  void* p = LineIn(newRaw);
  char* was = static_cast<char*>(newRaw) + shift;
  if (was != p) std::memmove(p, was, std::min(oldSize, newSize));
  static_cast<void**>(p)[-1] = newRaw;
  G(L)->nblocks += newSize - oldSize;
  return p;
}

void VmFreeAligned(qvScriptState* L, void* block, size_t size) {
  if (size <= kPoolMaxBlock || size >= 0xFFFFFFFDu) {
    VmRealloc(L, block, size, 0);
    return;
  }
  qvPool* const pool = &G(L)->pool;
  // A block from the C heap is given up as the `size` bytes from its own start: no more than it
  // holds, and a size that still tells the C heap's blocks from the host's.
  PoolDrop(pool, HeapMapped(pool, size) ? block : static_cast<void**>(block)[-1], size);
  G(L)->nblocks -= size;
}

// ---- stack ----

static void CorrectStack(qvScriptState* L, qvScriptValue* oldStack) {
  auto move = [&](qvScriptValue* p) { return L->stack + (p - oldStack); };
  L->top = move(L->top);
  L->base = move(L->base);
  for (qvGCObject* o = L->openupval; o != nullptr; o = o->next) {
    auto* uv = static_cast<qvUpVal*>(o);
    uv->v = move(uv->v);
  }
  for (qvCallInfo* ci = L->baseCi; ci <= L->ci; ++ci) {
    ci->base = move(ci->base);
    ci->top = move(ci->top);
  }
}

void VmReallocStack(qvScriptState* L, int newSize) {
  if (newSize > kMaxStackSlots) VmRaiseError(L, ERR_STACK);
  qvScriptValue* old = L->stack;
  L->stack = static_cast<qvScriptValue*>(VmRealloc(L, L->stack,
                                                   size_t(L->stacksize) * sizeof(qvScriptValue),
                                                   size_t(newSize) * sizeof(qvScriptValue)));
  for (int i = L->stacksize; i < newSize; ++i) SetNil(&L->stack[i]);
  L->stacksize = newSize;
  L->stackLast = L->stack + newSize - 1 - kExtraStack;
  CorrectStack(L, old);
}

void VmGrowStack(qvScriptState* L, int n) {
  if (n <= L->stacksize)
    VmReallocStack(L, 2 * L->stacksize);
  else
    VmReallocStack(L, L->stacksize + n + kExtraStack);
}

// ---- call records ----

void VmReallocCI(qvScriptState* L, int newSize) {
  qvCallInfo* old = L->baseCi;
  L->baseCi = static_cast<qvCallInfo*>(VmRealloc(
      L, L->baseCi, size_t(L->sizeCi) * sizeof(qvCallInfo), size_t(newSize) * sizeof(qvCallInfo)));
  L->sizeCi = newSize;
  L->ci = L->baseCi + (L->ci - old);
  L->endCi = L->baseCi + newSize - 1;
}

qvCallInfo* VmNextCI(qvScriptState* L) {
  if (L->ci == L->endCi) {
    if (L->sizeCi > kMaxCalls) VmThrow(L, ERR_STACK);  // overflow while handling overflow
    VmReallocCI(L, 2 * L->sizeCi);
    if (L->sizeCi > kMaxCalls) VmRaiseError(L, ERR_STACK);
  }
  return ++L->ci;
}

// ---- opening and closing ----

static int32_t DefaultPanic(qvScriptState*) { return 0; }

static void OpenBody(qvScriptState* L, void* host) {
  auto* g = static_cast<qvScriptGlobal*>(VmRealloc(L, nullptr, 0, sizeof(qvScriptGlobal)));
  std::memset(static_cast<void*>(g), 0, sizeof(qvScriptGlobal));
  L->g = g;
  g->nblocks = sizeof(qvScriptState) + sizeof(qvScriptGlobal);
  g->panic = DefaultPanic;
  g->host = host != nullptr ? static_cast<const qvVmHost*>(host) : VmDefaultHost();
  g->pool.large = g->host->largeBlocks;
  g->pool.populate = g->host->populatePages;
  g->mainthread = L;
  g->threshold = g->gcLimit = kNoGCLimit;  // no collection until the state is complete
  SetNil(&g->registry);
  SetNil(&g->defaultMeta);
  SetNil(&g->builtinNext);
  g->dummynode[0].ref = 0;
  g->dummynode[0].next = 0;

  // The stack and the first call record: slot 0 is the outermost level's "function".
  L->stack = VmNewVector<qvScriptValue>(L, kBasicStackSize);
  L->stacksize = kBasicStackSize;
  for (int i = 0; i < kBasicStackSize; ++i) SetNil(&L->stack[i]);
  L->stackLast = L->stack + kBasicStackSize - 1 - kExtraStack;
  L->baseCi = VmNewVector<qvCallInfo>(L, kBasicCiSize);
  L->sizeCi = kBasicCiSize;
  L->endCi = L->baseCi + kBasicCiSize - 1;
  L->ci = L->baseCi;
  L->ci->state = kCallNative;
  L->ci->savedpc = nullptr;
  L->ci->tailcalls = 0;
  L->top = L->stack + 1;
  L->base = L->ci->base = L->top;
  L->ci->top = L->top + kMinNativeStack;

  qvTable* meta = VmNewTableObject(L, 0, 0);
  meta->metatable = meta;
  SetObject(&g->defaultMeta, kTypeTable, meta);
  SetObject(&L->gt, kTypeTable, VmNewTableObject(L, 0, 4));
  SetObject(&g->registry, kTypeTable, VmNewTableObject(L, 4, 4));
  VmResizeStringTable(L, 64);  // the smallest size, with room beyond the names made here
  VmInitEvents(L);
  g->nextName = VmInternCString(L, "next");
  g->nextName->marked |= kFixedBit;
  SetObject(&g->builtinNext, kTypeFunction, VmNewCClosure(L, 0));
  static_cast<qvCClosure*>(g->builtinNext.value.gc)->f = VmBuiltinNext;
  VmSetThreshold(L, 4 * g->nblocks);
}

// Frees everything the state owns, then the state itself. Returns the byte count that remained
// before the two records went: exactly their sizes when every block was accounted for.
static uint64_t FreeState(qvScriptState* L) {
  uint64_t residue = 0;
  qvScriptGlobal* g = L->g;
  if (g != nullptr) {
    VmFreeAllObjects(L);
    VmFreeStringPlaces(L, &g->strt);
    VmRealloc(L, g->buffer, g->buffsize, 0);
    VmFreeVector(L, g->gosub, size_t(g->gosubSize));
  }
  VmFreeVector(L, L->baseCi, size_t(L->sizeCi));
  VmFreeVector(L, L->stack, size_t(L->stacksize));
  if (g != nullptr) {
    residue = g->nblocks;
    assert(residue == sizeof(qvScriptState) + sizeof(qvScriptGlobal));
    PoolRelease(&g->pool);
    L->g = nullptr;
    VmRealloc(nullptr, g, sizeof(qvScriptGlobal), 0);
  }
  VmRealloc(nullptr, L, sizeof(qvScriptState), 0);
  return residue;
}

qvScriptState* VmOpenState(const qvVmHost* host) {
  auto* L = static_cast<qvScriptState*>(VmRealloc(nullptr, nullptr, 0, sizeof(qvScriptState)));
  if (L == nullptr) return nullptr;
  std::memset(static_cast<void*>(L), 0, sizeof(qvScriptState));
  L->type = kTypeThread;
  L->allowhook = 1;
  SetNil(&L->gt);
  L->errorHandlerRef = -1;
  L->errorLine = -1;
  if (VmRunProtected(L, OpenBody, const_cast<qvVmHost*>(host)) != 0) {
    FreeState(L);
    return nullptr;
  }
  return L;
}

static void CloseBody(qvScriptState* L, void*) { VmCallFinalisers(L); }

void VmCloseState(qvScriptState* L) { VmCloseStateResidue(L); }

uint64_t VmCloseStateResidue(qvScriptState* L) {
  if (L == nullptr) return 0;
  L = G(L)->mainthread;
  VmCloseUpvals(L, L->stack);
  VmSeparateUserdata(L, true);
  L->errfunc = 0;
  do {  // run the finalisers until one pass completes without an error
    L->ci = L->baseCi;
    L->base = L->top = L->ci->base;
    L->nCcalls = 0;
  } while (VmRunProtected(L, CloseBody, nullptr) != 0);
  return FreeState(L);
}

}  // namespace qv
