// The stop-the-world mark-and-sweep collector with weak tables and "__gc" finalisers.
#include "vm/gc.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "vm/call.h"
#include "vm/func.h"
#include "vm/table.h"

namespace qv {

void VmLinkObject(qvScriptState* L, qvGCObject* o, uint8_t type) {
  o->next = G(L)->rootgc;
  G(L)->rootgc = o;
  o->type = type;
  o->marked = 0;
}

void VmSetThreshold(qvScriptState* L, uint64_t bytes) {
  G(L)->threshold = bytes;
  G(L)->gcLimit = (bytes == kNoGCLimit) ? UINT64_MAX : bytes;
}

namespace {

struct GCState {
  qvScriptState* L;
  qvGCObject* gray;  // marked objects whose children are still to be marked
  qvGCObject* weak;  // weak tables met so far
};

qvGCObject** GrayLink(qvGCObject* o) {
  switch (o->type) {
    case kTypeTable:
      return &static_cast<qvTable*>(o)->gclist;
    case kTypeFunction:
      return &static_cast<qvClosure*>(o)->gclist;
    case kTypeProto:
      return &static_cast<qvProto*>(o)->gclist;
    default:
      return &static_cast<qvScriptState*>(o)->gclist;
  }
}

void MarkObject(GCState* st, qvGCObject* o);

// A string has nothing to mark beneath it: flagged here, without the call (most values that
// reach the collector in numbers are strings, the keys of big tables).
void MarkValue(GCState* st, const qvScriptValue* v) {
  if (v->type == kTypeString)
    v->value.gc->marked |= kMarkBit;
  else if (IsCollectable(v) && !(v->value.gc->marked & kMarkBit))
    MarkObject(st, v->value.gc);
}

void MarkObject(GCState* st, qvGCObject* o) {
  o->marked |= kMarkBit;
  switch (o->type) {
    case kTypeString:
      break;
    case kTypeUserdata: {
      qvTable* mt = static_cast<qvUserdata*>(o)->metatable;
      if (!(mt->marked & kMarkBit)) MarkObject(st, mt);
      break;
    }
    case kTypeUpval: {
      auto* uv = static_cast<qvUpVal*>(o);
      MarkValue(st, uv->v);
      break;
    }
    default:  // tables, closures, prototypes and states: children later
      *GrayLink(o) = st->gray;
      st->gray = o;
      break;
  }
}

void MarkMaybe(GCState* st, qvGCObject* o) {
  if (o != nullptr && !(o->marked & kMarkBit)) MarkObject(st, o);
}

// The keys and values of a table's entries, those that hold their objects (a nil value: a dead
// entry). One loop per kind of table, so that the loop over a big one tests nothing else per
// entry.
template <bool kKeys, bool kValues>
void MarkEntries(GCState* st, const qvTableEntry* e, uint32_t count) {
  // Marking writes into each key and value object: fetched ahead, but for the last few entries.
  constexpr uint32_t kAhead = 8;
  auto mark = [st](const qvTableEntry* e) {
    if (IsNil(&e->val)) return;
    if constexpr (kKeys) {
      const qvScriptValue k = EntryKey(e);
      MarkValue(st, &k);
    }
    if constexpr (kValues) MarkValue(st, &e->val);
  };
  uint32_t i = 0;
  for (; i + kAhead < count; ++i) {
    if constexpr (kKeys) {
      const qvScriptValue ahead = EntryKey(&e[i + kAhead]);
      PrefetchObject(&ahead);
    }
    if constexpr (kValues) PrefetchObject(&e[i + kAhead].val);
    mark(&e[i]);
  }
  for (; i < count; ++i) mark(&e[i]);
}

void TraverseTable(GCState* st, qvTable* h) {
  MarkMaybe(st, h->metatable);
  bool weakkey = false;
  bool weakvalue = false;
  const qvScriptValue* mode = VmFastMeta(st->L, h->metatable, kEventMode);
  if (mode != nullptr && IsString(mode)) {
    qvString* s = StringOf(mode);
    weakkey = std::memchr(s->data(), 'k', s->len) != nullptr;
    weakvalue = std::memchr(s->data(), 'v', s->len) != nullptr;
  }
  h->marked &= static_cast<uint8_t>(~(kWeakKeyBit | kWeakValueBit));
  if (weakkey || weakvalue) {
    if (weakkey) h->marked |= kWeakKeyBit;
    if (weakvalue) h->marked |= kWeakValueBit;
    h->gclist = st->weak;
    st->weak = h;
  }
  if (!weakvalue && !h->numeric)  // numbers are no objects
    for (uint32_t i = 0; i < h->sizearray; ++i) MarkValue(st, &h->array[i]);
  // The entries in their order: each belongs to one node.
  switch ((weakkey ? 2 : 0) | (weakvalue ? 1 : 0)) {
    case 0:
      MarkEntries<true, true>(st, h->entry, h->nentry);
      break;
    case 1:
      MarkEntries<true, false>(st, h->entry, h->nentry);
      break;
    case 2:
      MarkEntries<false, true>(st, h->entry, h->nentry);
      break;
    default:
      break;  // neither keys nor values hold their objects
  }
}

void TraverseClosure(GCState* st, qvClosure* cl) {
  if (cl->isNative) {
    auto* c = static_cast<qvCClosure*>(cl);
    for (int i = 0; i < c->nupvalues; ++i) MarkValue(st, &c->upvalues()[i]);
    return;
  }
  auto* c = static_cast<qvLClosure*>(cl);
  MarkMaybe(st, c->p);
  MarkValue(st, &c->env);
  for (int i = 0; i < c->nupvalues; ++i) MarkMaybe(st, c->upvals()[i]);
}

void TraverseProto(GCState* st, qvProto* f) {
  MarkMaybe(st, f->source);
  for (int i = 0; i < f->sizek; ++i) MarkValue(st, &f->k[i]);
  for (int i = 0; i < f->sizeupvalues; ++i) MarkMaybe(st, f->upvalues[i]);
  for (int i = 0; i < f->sizep; ++i) MarkMaybe(st, f->p[i]);
  for (int i = 0; i < f->sizelocvars; ++i) MarkMaybe(st, f->locvars[i].name);
}

// Shrinks a state's call records and stack when they are mostly unused; a failing
// reallocation just keeps the larger block.
void CheckStackSizes(qvScriptState* L, qvScriptValue* max) {
  try {
    int used = int(L->ci - L->baseCi);
    if (4 * used < L->sizeCi && 2 * kBasicCiSize < L->sizeCi) VmReallocCI(L, L->sizeCi / 2);
    used = int(max - L->stack);
    if (4 * used < L->stacksize && 2 * kBasicStackSize < L->stacksize)
      VmReallocStack(L, L->stacksize / 2);
  } catch (const VmError&) {
  }
}

void TraverseStack(GCState* st, qvScriptState* L1) {
  MarkValue(st, &L1->gt);
  qvScriptValue* lim = L1->top;
  for (qvCallInfo* ci = L1->baseCi; ci <= L1->ci; ++ci)
    if (lim < ci->top) lim = ci->top;
  qvScriptValue* o = L1->stack;
  for (; o < L1->top; ++o) MarkValue(st, o);
  for (; o <= lim; ++o) SetNil(o);
  CheckStackSizes(L1, lim);
}

void Propagate(GCState* st) {
  while (st->gray != nullptr) {
    qvGCObject* o = st->gray;
    st->gray = *GrayLink(o);
    switch (o->type) {
      case kTypeTable:
        TraverseTable(st, static_cast<qvTable*>(o));
        break;
      case kTypeFunction:
        TraverseClosure(st, static_cast<qvClosure*>(o));
        break;
      case kTypeProto:
        TraverseProto(st, static_cast<qvProto*>(o));
        break;
      default:
        TraverseStack(st, static_cast<qvScriptState*>(o));
        break;
    }
  }
}

// An entry of a weak table vanishes when it refers to an unmarked object; strings count as
// values and are kept (and marked).
bool IsCleared(const qvScriptValue* v) {
  if (!IsCollectable(v)) return false;
  if (IsString(v)) {
    v->value.gc->marked |= kMarkBit;
    return false;
  }
  return !(v->value.gc->marked & kMarkBit);
}

void ClearWeak(qvGCObject* list, bool keys) {
  for (qvGCObject* o = list; o != nullptr; o = static_cast<qvTable*>(o)->gclist) {
    auto* h = static_cast<qvTable*>(o);
    if ((h->marked & kWeakValueBit) && !h->numeric)
      for (uint32_t i = 0; i < h->sizearray; ++i)
        if (IsCleared(&h->array[i])) SetNil(&h->array[i]);
    for (uint32_t i = 0; i < h->nentry; ++i) {
      qvTableEntry* e = &h->entry[i];
      if (IsNil(&e->val)) continue;
      if ((h->marked & kWeakValueBit) && IsCleared(&e->val)) {
        SetNil(&e->val);
        h->nilvals = 1;
      }
      const qvScriptValue k = EntryKey(e);
      if (keys && (h->marked & kWeakKeyBit) && IsCleared(&k)) {
        SetNil(&e->val);
        h->nilvals = 1;
        e->keyType = kTypeNone;  // a dead key: its node stays in its chain
      }
    }
  }
}

void FreeObject(qvScriptState* L, qvGCObject* o) {
  switch (o->type) {
    case kTypeString: {
      auto* s = static_cast<qvString*>(o);
      const size_t size = StringObjectBytes(s);
      qvStringTable* tb = &G(L)->strt;
      tb->bytes -= size;
      if (StringOwnsHeap(s)) tb->nlong--;
      if (InTextBlock(s)) VmReleaseText(L, s);
      VmRealloc(L, o, size, 0);
      break;
    }
    case kTypeTable:
      VmFreeTable(L, static_cast<qvTable*>(o));
      break;
    case kTypeFunction:
      VmFreeClosure(L, static_cast<qvClosure*>(o));
      break;
    case kTypeUserdata:
      VmRealloc(L, o, sizeof(qvUserdata) + static_cast<qvUserdata*>(o)->len, 0);
      break;
    case kTypeProto:
      VmFreeProto(L, static_cast<qvProto*>(o));
      break;
    case kTypeUpval:
      VmRealloc(L, o, sizeof(qvUpVal), 0);
      break;
    default:
      break;
  }
}

// Frees the unmarked objects of a list (every object when `all`); survivors lose their mark.
uint32_t SweepList(qvScriptState* L, qvGCObject** p, bool all) {
  uint32_t freed = 0;
  qvGCObject* curr;
  while ((curr = *p) != nullptr) {
    if (!all && (curr->marked & (kMarkBit | kFixedBit))) {
      curr->marked &= static_cast<uint8_t>(~kMarkBit);
      p = &curr->next;
    } else {
      *p = curr->next;
      FreeObject(L, curr);
      ++freed;
    }
  }
  return freed;
}

// Frees the unmarked strings; survivors lose their mark. One walk in slot order, starting after
// a free slot so that no run wraps past the start: each slot is emptied as it is passed, and a
// survivor goes back into the first free slot from its own, which lies between that slot and
// where it was. Every slot before the walk's position then holds a string whose run from its own
// slot is unbroken, and the strings still ahead are placed again when the walk reaches them.
// Compared with closing each dead string's gap at once, no run is walked more than once.
// Until a string of a run dies, that first free slot is the survivor's own (every slot from the
// run's start to it is still full), so it stays without its first slot being worked out.
void SweepStrings(qvScriptState* L) {
  qvScriptGlobal* g = G(L);
  qvStringTable* tb = &g->strt;
  qvStringSlot* slots = tb->slots;
  uint8_t* checks = tb->checks;
  const uint32_t mask = tb->size - 1;
  uint32_t start = 0;
  while (checks[start] != 0) ++start;
  constexpr uint32_t kAhead = 16;  // marks are read at random places: fetched ahead
  // The places after `start` to the table's end, then those before it; a block of places at a
  // time, first the list of its full ones, then those strings.
  uint8_t full[kStringPlaceRun + 8];
  uint64_t freedBytes = 0;
  uint32_t freed = 0;
  bool moving = false;  // a string of the current run died: those behind it may move up
  uint32_t last = 0;    // while moving, the last place passed
  const uint32_t pieces[2][2] = {{start + 1, tb->size}, {0, start}};
  for (const auto& [from, to] : pieces) {
    for (uint32_t base = from & ~7u; base < to; base += kStringPlaceRun) {
      const uint32_t n = VmFullStringPlaces(checks, base, std::max(from, base),
                                            std::min(to, base + kStringPlaceRun), full);
      for (uint32_t x = 0; x < n; ++x) {
        if (x + kAhead < n) __builtin_prefetch(SlotString(slots[base + full[x + kAhead]]), 1);
        const uint32_t j = base + full[x];
        if (moving) {
          if (j == ((last + 1) & mask))
            last = j;
          else
            moving = false;  // a free place lies between: a new run
        }
        const qvStringSlot slot = slots[j];
        qvString* s = SlotString(slot);
        if (s->marked & (kMarkBit | kFixedBit)) {
          s->marked &= static_cast<uint8_t>(~kMarkBit);
          if (!moving) continue;
          const uint8_t check = checks[j];
          checks[j] = 0;
          const uint32_t k = StringFreeSlot(checks, mask, SlotHome(slot, tb->shift));
          slots[k] = slot;
          checks[k] = check;
          continue;
        }
        checks[j] = 0;
        moving = true;
        last = j;
        const size_t size = StringBlockSize(s->len);
        ++freed;
        if (size <= kPoolMaxBlock && !InTextBlock(s)) {
          PoolFree(&g->pool, s, size);
          freedBytes += size;
        } else {
          FreeObject(L, s);
        }
      }
    }
  }
  g->nblocks -= freedBytes;  // the pool's blocks, counted once
  tb->bytes -= freedBytes;
  tb->nuse -= freed;
}

// `peakStrings`: the strings in use before the sweep, the most since the last collection. The
// string table halves only when they would have fitted the half within its load limit: a
// program that makes many short-lived strings between collections would otherwise have it
// halved at every collection and doubled again before the next.
void CheckSizes(qvScriptState* L, uint64_t deadmem, uint32_t peakStrings) {
  qvScriptGlobal* g = G(L);
  try {
    if (g->strt.nuse < g->strt.size / 4 && uint64_t(peakStrings) * 8 < uint64_t(g->strt.size) * 3 &&
        g->strt.size > 64)
      VmResizeStringTable(L, g->strt.size / 2);
    if (g->buffsize > 64) {
      size_t newSize = g->buffsize / 2;
      g->buffer = static_cast<char*>(VmRealloc(L, g->buffer, g->buffsize, newSize));
      g->buffsize = newSize;
    }
  } catch (const VmError&) {
  }
  VmSetThreshold(L, 2 * g->nblocks - deadmem);
}

}  // namespace

size_t VmSeparateUserdata(qvScriptState* L, bool all) {
  qvScriptGlobal* g = G(L);
  size_t deadmem = 0;
  qvGCObject** tail = &g->tmudata;
  while (*tail != nullptr) tail = &(*tail)->next;
  qvGCObject** p = &g->rootudata;
  qvGCObject* curr;
  while ((curr = *p) != nullptr) {
    auto* u = static_cast<qvUserdata*>(curr);
    if ((!all && (curr->marked & kMarkBit)) || !(curr->marked & kNotFinalisedBit)) {
      p = &curr->next;
    } else if (VmFastMeta(L, u->metatable, kEventGc) == nullptr) {
      curr->marked &= static_cast<uint8_t>(~kNotFinalisedBit);  // nothing to run
      p = &curr->next;
    } else {
      deadmem += sizeof(qvUserdata) + u->len;
      *p = curr->next;
      curr->next = nullptr;
      *tail = curr;
      tail = &curr->next;
    }
  }
  return deadmem;
}

void VmCheckGC(qvScriptState* L) {
  qvScriptGlobal* g = G(L);
  GCState st{L, nullptr, nullptr};
  MarkValue(&st, &g->defaultMeta);
  MarkValue(&st, &g->registry);
  MarkValue(&st, &g->builtinNext);
  MarkObject(&st, g->mainthread);
  if (L != g->mainthread) MarkObject(&st, L);
  for (int32_t i = 0; i < g->gosubTop; ++i) MarkMaybe(&st, const_cast<qvProto*>(g->gosub[i].proto));
  Propagate(&st);
  ClearWeak(st.weak, false);
  uint64_t deadmem = VmSeparateUserdata(L, false);
  // Keep the userdata to be finalised (also those left over by a failed finaliser) alive.
  for (qvGCObject* o = g->tmudata; o != nullptr; o = o->next) MarkObject(&st, o);
  Propagate(&st);
  ClearWeak(st.weak, true);
  SweepList(L, &g->rootudata, false);
  const uint32_t peakStrings = g->strt.nuse;
  SweepStrings(L);
  SweepList(L, &g->rootgc, false);
  // The state is never on a list: clear its mark here.
  g->mainthread->marked &= static_cast<uint8_t>(~kMarkBit);
  L->marked &= static_cast<uint8_t>(~kMarkBit);
  CheckSizes(L, deadmem, peakStrings);
  VmCallFinalisers(L);
}

void VmCallFinalisers(qvScriptState* L) {
  qvScriptGlobal* g = G(L);
  struct HookGuard {
    qvScriptState* L;
    uint8_t saved;
    ~HookGuard() { L->allowhook = saved; }
  } guard{L, L->allowhook};
  L->allowhook = 0;
  while (g->tmudata != nullptr) {
    auto* u = static_cast<qvUserdata*>(g->tmudata);
    g->tmudata = u->next;
    u->next = g->rootudata;
    g->rootudata = u;
    u->marked = 0;
    const qvScriptValue* tm = VmFastMeta(L, u->metatable, kEventGc);
    if (tm != nullptr) {
      VmEnsureStack(L, 2);
      L->top[0] = *tm;
      SetObject(&L->top[1], kTypeUserdata, u);
      L->top += 2;
      VmCallChecked(L, L->top - 2, 0);
    }
  }
}

// Closing: the strings in the pool are not handed back one by one, since its arenas go as a
// whole; only their bytes leave the count. Longer ones go back to the C heap, and only when
// there are some are the strings walked (a walk costs a cache miss per string).
static void FreeAllStrings(qvScriptState* L) {
  qvScriptGlobal* g = G(L);
  qvStringTable* tb = &g->strt;
  if (tb->nlong == 0) {
    g->nblocks -= tb->bytes;
    std::fill_n(tb->checks, tb->size, uint8_t{0});
    tb->nuse = 0;
    tb->bytes = 0;
    return;
  }
  for (uint32_t i = 0; i < tb->size; ++i) {
    if (tb->checks[i] == 0) continue;
    qvString* s = SlotString(tb->slots[i]);
    if (InTextBlock(s)) VmReleaseText(L, s);
    const size_t size = StringObjectBytes(s);
    if (size <= kPoolMaxBlock)
      g->nblocks -= size;
    else
      VmRealloc(L, s, size, 0);
    tb->checks[i] = 0;
  }
  tb->nuse = 0;
  tb->nlong = 0;
  tb->bytes = 0;
}

void VmFreeAllObjects(qvScriptState* L) {
  qvScriptGlobal* g = G(L);
  SweepList(L, &g->rootudata, true);
  SweepList(L, &g->tmudata, true);
  FreeAllStrings(L);
  SweepList(L, &g->rootgc, true);
}

}  // namespace qv
