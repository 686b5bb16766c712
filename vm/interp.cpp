// The interpreter: one loop over the register code of script functions. Script-to-script calls
// and returns stay inside the loop; natives run from the pre-call.
#include <algorithm>
#include <cmath>

#include "base/errors.h"
#include "vm/call.h"
#include "vm/func.h"
#include "vm/gc.h"
#include "vm/opcodes.h"
#include "vm/ops.h"
#include "vm/table.h"

namespace qv {

#ifdef QV_VM_TEST_HOOKS
uint64_t gOpcodeCounts[64];
#define QV_COUNT_OPCODE(op) (++gOpcodeCounts[op])
#else
#define QV_COUNT_OPCODE(op) ((void)0)
#endif

namespace {

void PushGosub(qvScriptState* L, const qvProto* p, int32_t pc) {
  qvScriptGlobal* g = G(L);
  if (g->gosubTop == kGosubLimit) VmRaiseError(L, ERR_INTERNAL);
  if (g->gosubTop == g->gosubSize) {
    int32_t newSize = g->gosubSize == 0 ? 16 : std::min(kGosubLimit, 2 * g->gosubSize);
    g->gosub = static_cast<qvGosubEntry*>(VmRealloc(L, g->gosub,
                                                    size_t(g->gosubSize) * sizeof(qvGosubEntry),
                                                    size_t(newSize) * sizeof(qvGosubEntry)));
    g->gosubSize = newSize;
  }
  g->gosub[g->gosubTop++] = {p, pc};
}

// A GOSUB return takes only an entry of the running prototype.
int32_t PopGosub(qvScriptState* L, const qvProto* p) {
  qvScriptGlobal* g = G(L);
  if (g->gosubTop == 0 || g->gosub[g->gosubTop - 1].proto != p) VmRaiseError(L, ERR_RETWOGOSUB);
  return g->gosub[--g->gosubTop].pc;
}

// A native's -1/-2 result runs the label subroutine at the current-instruction word plus the
// jump offset; the return address is the instruction after the call (-1) or the one before it
// (-2). Targets outside the running function's code are refused.
// Returns the instruction to continue at.
const uint32_t* LabelJump(qvScriptState* L, const qvProto* p, const uint32_t* pc, int32_t word) {
  int32_t after = int32_t(pc - p->code);
  int32_t ret = (word == -1) ? after : after - 2;
  int64_t target = int64_t(L->currentInstruction) + L->jumpOffset;
  if (ret < 0 || target < 0 || target >= p->sizecode) VmRaiseError(L, ERR_INTERNAL);
  PushGosub(L, p, ret);
  return p->code + target;
}

// The limit or step of a numeric loop: nil counts as 0 and a numeric string as its number, both
// written back.
double ForLoopOperand(qvScriptState* L, qvScriptValue* v) {
  double d;
  if (!VmToNumberValue(v, &d)) VmRaiseError(L, ERR_VALUEEXPECTED);
  SetNumber(v, d);
  return d;
}

// Table constructors: t[first + j - 1] = R(A + j) for j = 1 .. count.
void SetList(qvScriptState* L, qvScriptValue* ra, int32_t first, int32_t count) {
  if (!IsTable(ra)) VmRaiseError(L, ERR_BADBYTECODE);
  qvTable* h = TableOf(ra);
  for (int32_t j = 1; j <= count; ++j) VmTableSetIntValue(L, h, first + j - 1, ra + j);
}

int32_t LineAt(const qvProto* p, int pc) { return p->sizelineinfo > 0 ? p->lineinfo[pc] : 0; }

// The hook step before an instruction (pc is past it): the count hook when the count runs out;
// else the line hook when the instruction starts its function, is reached by a jump back (or to
// itself) or starts a new line.
void TraceExec(qvScriptState* L, const uint32_t* pc) {
  const uint8_t mask = L->hookmask;
  if ((mask & kMaskCount) && --L->hookcount == 0) {
    L->hookcount = L->basehookcount;
    VmCallHook(L, kHookCount, -1);
    return;
  }
  if (!(mask & kMaskLine)) return;
  if (!L->hookinit) {  // the first step only records where each script frame is
    for (qvCallInfo* c = L->baseCi + 1; c <= L->ci; ++c)
      if (!(c->state & kCallNative))
        c->lastpc = int32_t(c->savedpc -
                            static_cast<qvLClosure*>(ClosureOf(c->base - 1))->p->code) -
                    1;
    L->hookinit = 1;
    VmUpdatePending(L);  // an on-request hook is stepped only when asked from here on
    return;
  }
  qvCallInfo* ci = L->ci;
  const qvProto* p = static_cast<qvLClosure*>(ClosureOf(ci->base - 1))->p;
  const int npc = int(pc - p->code) - 1;
  if (npc == 0) ci->lastpc = 0;
  if (npc <= ci->lastpc || LineAt(p, npc) != LineAt(p, ci->lastpc)) {
    VmCallHook(L, kHookLine, LineAt(p, npc));
    ci = L->ci;
  }
  ci->lastpc = npc;
}

// The table that the instruction `next` indexes with register `key`, if any: a key built by a
// concatenation and used at once, whose node the concatenation can fetch early.
qvJoinedKey KeyedTable(const qvScriptValue* base, uint32_t next, int key) {
  const qvScriptValue* t;
  bool store = false;
  if (GetOp(next) == OpGetTable && GetC(next) == key) {
    t = base + GetB(next);
  } else if (GetOp(next) == OpSetTable && GetB(next) == key) {
    t = base + GetA(next);
    store = true;
  } else {
    return {};
  }
  return IsTable(t) ? qvJoinedKey{TableOf(t), store} : qvJoinedKey{};
}

// C = 1, tested on the instruction word without taking the field out.
bool IsGosubReturn(uint32_t i) { return (i & (0x1FFu << 6)) == (1u << 6); }

uint64_t NewTableArraySize(int b) {
  if ((b & 7) == 0) return 0;
  if ((b >> 3) > 24) return UINT64_MAX;
  return uint64_t(b & 7) << (b >> 3);
}

}  // namespace

// The loop keeps one dispatch per instruction: GCC would otherwise merge the instructions' ends
// into a few shared indirect jumps, which predict worse and cost a jump more.
#if defined(__GNUC__) && !defined(__clang__)
#define QV_DISPATCH_PER_INSTRUCTION \
  __attribute__((optimize("no-gcse", "no-crossjumping", "no-tree-slp-vectorize")))
#else
#define QV_DISPATCH_PER_INSTRUCTION
#endif

QV_DISPATCH_PER_INSTRUCTION qvScriptValue* VmExecute(qvScriptState* L) {
  // The entry record by index: the records move when deeper calls grow them and when a
  // collection shrinks them, so a pointer would outlive its block.
  const ptrdiff_t entryCi = L->ci - L->baseCi;
  qvCallInfo* ci;
  const uint32_t* pc;
  // The pc past the instruction that this frame ran last, kept only where the hook step reads
  // it: an instruction that falls through leaves it to the dispatch, which sets it only when the
  // pending word is set; one that may jump or skip sets it before it moves the pc.
  const uint32_t* done;
  qvScriptValue* base;

#define RKB(i) (IsConstantRK(GetB(i)) ? ci->k + (GetB(i) - kRKBase) : base + GetB(i))
#define RKC(i) (IsConstantRK(GetC(i)) ? ci->k + (GetC(i) - kRKBase) : base + GetC(i))
#define SAVEPC() (ci->savedpc = pc)
// A value the compiler may not replace by an equal one that it computed otherwise.
#if defined(__GNUC__)
#define QV_OPAQUE(x) __asm__("" : "+r"(x))
#else
#define QV_OPAQUE(x) ((void)0)
#endif
// The pending word read through the state pointer itself: the compiler would otherwise keep the
// word's address as one more loop value and, short of registers, reload it from the stack before
// every instruction.
#if defined(__GNUC__)
#define PENDING_WORD()                              \
  (__extension__({                                  \
    __asm__("" : "+r"(L));                          \
    PendingWord(L).load(std::memory_order_relaxed); \
  }))
#else
#define PENDING_WORD() PendingWord(L).load(std::memory_order_relaxed)
#endif
// Around anything that may call, collect or raise: the pc for error lines and hooks, then the
// stack and the call records, which may have moved.
#define PROTECT(x)  \
  do {              \
    SAVEPC();       \
    x;              \
    base = L->base; \
    ci = L->ci;     \
  } while (0)
// Takes the jump that follows a test; a GOSUB jump runs as the next instruction.
#define TAKE_JUMP()                            \
  do {                                         \
    if (!IsGosub(*pc)) pc += GetJump(*pc) + 1; \
  } while (0)
// Dispatch: threaded (a jump per instruction through a table of labels) where the compiler
// supports labels as values, else one switch.
#if defined(__GNUC__)
#define VM_DISPATCH(op) goto* kLabels[op];
// Each instruction takes its register A at its own label: those that do not use it skip the
// work, which the dispatch would otherwise do for all.
#define VM_CASE(op) L_##op : ra = base + GetA(i);
#define VM_NOOPS \
  L_NoOp:
  // The pending word's bits lie above the opcode's, so that the dispatch takes a set word into
  // the index without a test and a branch: every index past the opcodes leads to the hook step.
  static_assert((kPendingEnd | kPendingHook | kPendingRequest) % 64 == 0 &&
                (kPendingEnd | kPendingHook | kPendingRequest) < 512);
#define QV_SLOTS_8(x) x, x, x, x, x, x, x, x
#define QV_SLOTS_64(x)                                                                      \
  QV_SLOTS_8(x), QV_SLOTS_8(x), QV_SLOTS_8(x), QV_SLOTS_8(x), QV_SLOTS_8(x), QV_SLOTS_8(x), \
      QV_SLOTS_8(x), QV_SLOTS_8(x)
#define QV_SLOTS_448(x)                                                                           \
  QV_SLOTS_64(x), QV_SLOTS_64(x), QV_SLOTS_64(x), QV_SLOTS_64(x), QV_SLOTS_64(x), QV_SLOTS_64(x), \
      QV_SLOTS_64(x)
#define QV_OPCODE_SLOTS                                                                            \
  &&L_OpMove, &&L_OpLoadConst, &&L_OpLoadBool, &&L_OpLoadNil, &&L_OpGetUpval, &&L_OpGetGlobal,     \
      &&L_OpGetTable, &&L_OpSetGlobal, &&L_OpSetUpval, &&L_OpSetTable, &&L_OpNewTable, &&L_OpAdd,  \
      &&L_OpSub, &&L_OpMul, &&L_OpDiv, &&L_OpIntDiv, &&L_OpMod, &&L_OpShl, &&L_OpShr, &&L_OpBitOr, \
      &&L_OpBitAnd, &&L_OpBitXor, &&L_OpPow, &&L_OpNeg, &&L_OpNot, &&L_OpBitNot, &&L_OpConcat,     \
      &&L_OpJump, &&L_OpEq, &&L_OpLt, &&L_OpLe, &&L_OpTest, &&L_OpCall, &&L_OpTailCall,            \
      &&L_OpReturn, &&L_OpForLoop, &&L_OpForInLoop, &&L_OpForInPrep, &&L_OpSetList,                \
      &&L_OpSetListTop, &&L_OpClose, &&L_OpClosure, &&L_OpSelf, &&L_NoOp, &&L_NoOp, &&L_NoOp,      \
      &&L_NoOp, &&L_NoOp, &&L_NoOp, &&L_NoOp, &&L_NoOp, &&L_NoOp, &&L_NoOp, &&L_NoOp, &&L_NoOp,    \
      &&L_NoOp, &&L_NoOp, &&L_NoOp, &&L_NoOp, &&L_NoOp, &&L_NoOp, &&L_NoOp, &&L_NoOp, &&L_NoOp
#ifdef QV_VM_TEST_HOOKS
#define QV_COUNT_DISPATCHED(slot) \
  if ((slot) < 64) QV_COUNT_OPCODE(slot)
#else
#define QV_COUNT_DISPATCHED(slot) ((void)0)
#endif
// Fetches the next instruction and jumps through `table` by its opcode and the pending word.
#define VM_JUMP_THROUGH(table)                                 \
  do {                                                         \
    i = *pc++;                                                 \
    const uint32_t slot = uint32_t(GetOp(i)) | PENDING_WORD(); \
    QV_COUNT_DISPATCHED(slot);                                 \
    goto*(table)[slot];                                        \
  } while (0)
#define VM_NEXT VM_JUMP_THROUGH(kLabels)
// After an instruction that set `done` itself before it moved the pc.
#define VM_NEXT_JUMPED VM_JUMP_THROUGH(kLabelsJumped)
  static const void* const kLabels[] = {QV_OPCODE_SLOTS, QV_SLOTS_448(&&L_PendingNext)};
  // VM_NEXT_JUMPED's: its pending path leaves `done` as the instruction set it.
  static const void* const kLabelsJumped[] = {QV_OPCODE_SLOTS, QV_SLOTS_448(&&L_PendingJumped)};
  static_assert(std::size(kLabels) == 512 && std::size(kLabelsJumped) == 512);
#else
#define VM_DISPATCH(op)                               \
  ra = base + GetA(i); /* one for all instructions */ \
  switch (op)
#define VM_CASE(op) case op:
#define VM_NOOPS default:
#define VM_NEXT \
  {             \
    done = pc;  \
    break;      \
  }
#define VM_NEXT_JUMPED break
#endif
#define ARITH(event, expr)                         \
  {                                                \
    const qvScriptValue* rb = RKB(i);              \
    const qvScriptValue* rc = RKC(i);              \
    if (IsNumber(rb) && IsNumber(rc)) [[likely]] { \
      const double nb = rb->value.n;               \
      const double nc = rc->value.n;               \
      SetNumber(ra, expr);                         \
    } else {                                       \
      qvScriptValue r;                             \
      PROTECT(r = VmArith(L, rb, rc, event));      \
      base[GetA(i)] = r;                           \
    }                                              \
    VM_NEXT;                                       \
  }
#define UNARY(event, expr)                            \
  {                                                   \
    const qvScriptValue* rb = base + GetB(i);         \
    if (IsNumber(rb)) {                               \
      const double nb = rb->value.n;                  \
      SetNumber(ra, expr);                            \
    } else {                                          \
      qvScriptValue r;                                \
      PROTECT(r = VmArith(L, rb, &kNilValue, event)); \
      base[GetA(i)] = r;                              \
    }                                                 \
    VM_NEXT;                                          \
  }

#if defined(__GNUC__)
  // A set pending word sent the dispatch here: the hook step, with the instruction fetched.
  if (false) {
  L_PendingNext:
    done = pc - 1;  // the instruction before it fell through
  L_PendingJumped:
    goto fetched;
  }
#endif
newframe:
  if (L->hookmask & kMaskCall) VmCallHook(L, kHookCall, -1);
resume:
  ci = L->ci;
  ci->state |= kCallHasFrame;
  ci->closure = static_cast<qvLClosure*>(ClosureOf(ci->base - 1));
  ci->k = ci->closure->p->k;
  pc = ci->savedpc;
  done = pc;  // a frame entered or returned to: its start, or the call it made
  base = L->base;

  uint32_t i;
  qvScriptValue* ra;
  for (;;) {
    i = *pc++;
  fetched:
    if (PENDING_WORD()) {
      if (L->endFlag) {
        // Stop: drop the frames this loop started and return no results.
        SAVEPC();
        qvCallInfo* const entry = L->baseCi + entryCi;
        VmCloseUpvals(L, entry->base);
        L->ci = entry;
        L->base = entry->base;
        return L->top;
      }
      const uint8_t mask = L->hookmask;
      if ((mask & kMaskCount) || ((mask & kMaskLine) && !L->hookinit)) {
        PROTECT(TraceExec(L, pc));
      } else if (mask & kMaskLine) {
        // TraceExec's line step, inline, against the instruction that this frame ran last: the
        // hook is called only when the line event fires (the first instruction, a jump back or
        // to itself, a new line) and, on request, only when asked for.
        const uint32_t* const code = ci->closure->p->code;
        const int npc = int(pc - code) - 1;
        const int last = int(done - code) - 1;
        const int32_t* lines = ci->closure->p->sizelineinfo > 0 ? ci->closure->p->lineinfo
                                                                : nullptr;
        if ((!(mask & kMaskOnRequest) ||
             (PendingWord(L).load(std::memory_order_relaxed) & kPendingRequest)) &&
            (npc == 0 || npc <= last || (lines != nullptr && lines[npc] != lines[last]))) {
          // Cleared first: a request made while the hook runs is kept for the next event.
          if (mask & kMaskOnRequest)
            PendingWord(L).fetch_and(~kPendingRequest, std::memory_order_acquire);
          PROTECT(VmCallHook(L, kHookLine, lines != nullptr ? lines[npc] : 0));
        }
      } else {
        PendingWord(L).fetch_and(~kPendingRequest, std::memory_order_relaxed);  // nobody asked
      }
    }
    QV_COUNT_OPCODE(GetOp(i));
    VM_DISPATCH(GetOp(i)) {
      VM_CASE(OpMove)
      CopyValue(ra, base + GetB(i));
      VM_NEXT;
      VM_CASE(OpLoadConst)
      CopyValue(ra, ci->k + GetBx(i));
      VM_NEXT;
      VM_CASE(OpLoadBool)
      done = pc;
      SetNumber(ra, GetB(i));  // a number: there are no booleans in bytecode
      if (GetC(i) != 0) ++pc;
      VM_NEXT_JUMPED;
      VM_CASE(OpLoadNil)
      for (qvScriptValue* rb = base + GetB(i); ra <= rb; ++ra) SetNil(ra);
      VM_NEXT;
      VM_CASE(OpGetUpval)
      CopyValue(ra, ci->closure->upvals()[GetB(i)]->v);
      VM_NEXT;
      VM_CASE(OpGetGlobal) {
        // The constant's hint is written: the constants are the running prototype's own.
        qvScriptValue* key = const_cast<qvScriptValue*>(ci->k + GetBx(i));
        const qvScriptValue* v = VmTableGetConstantString(TableOf(&ci->closure->env), key);
        if (!IsNil(v)) {
          CopyValue(ra, v);
        } else {
          qvScriptValue r;
          PROTECT(r = VmGetTableValue(L, &ci->closure->env, key, qvMissing::kNil));
          base[GetA(i)] = r;
        }
        VM_NEXT;
      }
      VM_CASE(OpGetTable) {
        const qvScriptValue* rb = base + GetB(i);
        const qvScriptValue* key = RKC(i);
        if (IsTable(rb)) {
          qvTable* h = TableOf(rb);
          uint32_t index;
          if (IsNumber(key) && ArrayIndex(key->value.n, h->sizearray, &index)) {
            if (h->numeric) {
              const uint64_t w = h->words[index];
              if (w != 0) {
                SetNumber(ra, WordNumber(w));
                VM_NEXT;
              }
            } else if (!IsNil(&h->array[index])) {
              CopyValue(ra, &h->array[index]);
              VM_NEXT;
            }
          } else {
            // String keys, the most common, without the call and the switch on the key's type.
            const qvScriptValue* v = IsString(key) ? VmTableGetString(h, StringOf(key))
                                                   : VmTableGet(h, key);
            if (!IsNil(v)) {
              CopyValue(ra, v);
              VM_NEXT;
            }
          }
        }
        qvScriptValue r;
        PROTECT(r = VmGetTableValue(L, rb, key, qvMissing::kRaise));
        base[GetA(i)] = r;
        VM_NEXT;
      }
      VM_CASE(OpSetGlobal) {
        const qvScriptValue* key = ci->k + GetBx(i);
        const qvScriptValue* slot = VmTableGetString(TableOf(&ci->closure->env), StringOf(key));
        if (!IsNil(slot)) {
          if (IsNil(ra)) TableOf(&ci->closure->env)->nilvals = 1;
          CopyValue(const_cast<qvScriptValue*>(slot), ra);
        } else
          PROTECT(VmSetTableValue(L, &ci->closure->env, key, ra));
        VM_NEXT;
      }
      VM_CASE(OpSetUpval)
      CopyValue(ci->closure->upvals()[GetB(i)]->v, ra);
      VM_NEXT;
      VM_CASE(OpSetTable) {
        const qvScriptValue* key = RKB(i);
        const qvScriptValue* val = RKC(i);
        if (IsTable(ra)) {
          qvTable* h = TableOf(ra);
          if (IsNumber(key)) {
            // An integer key inside the array part: present, or new where no "__newindex" asks
            // for it, it is written in place (a number with a word, in a numeric part). The
            // metatable's absence bit comes first: while it is set the slot is written without
            // waiting for its old value to be read.
            uint32_t index;
            if (ArrayIndex(key->value.n, h->sizearray, &index)) {
              if (h->numeric) {
                uint64_t* w = &h->words[index];
                if (IsNumber(val) && HasNumberWord(val->value.n) &&
                    ((h->metatable->flags & (1u << kEventNewIndex)) || *w != 0 ||
                     VmFastMeta(L, h->metatable, kEventNewIndex) == nullptr)) {
                  *w = NumberWord(val->value.n);
                  VM_NEXT;
                }
              } else {
                qvScriptValue* s = &h->array[index];
                if ((h->metatable->flags & (1u << kEventNewIndex)) || !IsNil(s) ||
                    VmFastMeta(L, h->metatable, kEventNewIndex) == nullptr) {
                  CopyValue(s, val);
                  VM_NEXT;
                }
              }
              // The rest (a value without a word, "__newindex") the general way.
              PROTECT(VmSetTableValue(L, ra, key, val));
              VM_NEXT;
            }
          }
          const qvScriptValue* slot = IsString(key) ? VmTableGetString(h, StringOf(key))
                                                    : VmTableGet(h, key);
          if (!IsNil(slot)) {
            if (IsNil(val)) h->nilvals = 1;
            CopyValue(const_cast<qvScriptValue*>(slot), val);
            VM_NEXT;
          }
          if (VmFastMeta(L, h->metatable, kEventNewIndex) == nullptr) {  // a new key, written raw
            qvScriptValue v;
            CopyValue(&v, val);
            if (IsNil(&v)) h->nilvals = 1;
            if (IsNumber(key))  // by value: it may land in a numeric array part after a rehash
              PROTECT(VmTableSetValue(L, h, key, &v));
            else
              PROTECT(CopyValue(VmTableSetAfterGet(L, h, key, slot), &v));
            VM_NEXT;
          }
        }
        PROTECT(VmSetTableValue(L, ra, key, val));
        VM_NEXT;
      }
      VM_CASE(OpNewTable) {
        SAVEPC();
        uint64_t asize = NewTableArraySize(GetB(i));
        if (asize > (uint64_t(1) << kMaxTableBits)) VmRaiseError(L, ERR_TABLEOVERFLOW);
        // The collection comes before the new table: a large array part, fresh from the system,
        // would otherwise be read through once as zero pages and fault a second time when the
        // script first writes it.
        PROTECT(VmGCStep(L));
        qvTable* t = VmNewTableObject(L, uint32_t(asize), GetC(i));
        SetObject(base + GetA(i), kTypeTable, t);
        VM_NEXT;
      }
      VM_CASE(OpAdd)
      ARITH(kEventAdd, nb + nc)
      VM_CASE(OpSub)
      ARITH(kEventSub, nb - nc)
      VM_CASE(OpMul)
      ARITH(kEventMul, nb * nc)
      VM_CASE(OpDiv)
      SAVEPC();
      ARITH(kEventDiv, ArithNumbers(L, kEventDiv, nb, nc))
      VM_CASE(OpIntDiv)
      SAVEPC();
      ARITH(kEventDivInt, ArithNumbers(L, kEventDivInt, nb, nc))
      VM_CASE(OpMod)
      SAVEPC();
      ARITH(kEventMod, ArithNumbers(L, kEventMod, nb, nc))
      VM_CASE(OpShl)
      ARITH(kEventLsh, double(ToBits(nb) << (ToBits(nc) & 31)))
      VM_CASE(OpShr)
      ARITH(kEventRsh, double(ToBits(nb) >> (ToBits(nc) & 31)))
      VM_CASE(OpBitOr)
      ARITH(kEventOr, double(ToBits(nb) | ToBits(nc)))
      VM_CASE(OpBitAnd)
      ARITH(kEventAnd, double(ToBits(nb) & ToBits(nc)))
      VM_CASE(OpBitXor)
      ARITH(kEventXor, double(ToBits(nb) ^ ToBits(nc)))
      VM_CASE(OpPow)
      ARITH(kEventPow, std::pow(nb, nc))
      VM_CASE(OpNeg)
      UNARY(kEventUnm, -nb)
      VM_CASE(OpNot)
      SetNumber(ra, IsFalse(base + GetB(i)) ? 1 : 0);
      VM_NEXT;
      VM_CASE(OpBitNot)
      UNARY(kEventNot, double(~ToBits(nb)))
      VM_CASE(OpConcat) {
        const int b = GetB(i);
        const int c = GetC(i);
        PROTECT(VmConcatValues(L, c - b + 1, c, KeyedTable(base, *pc, GetA(i))); VmGCStep(L));
        CopyValue(base + GetA(i), base + b);
        VM_NEXT;
      }
      VM_CASE(OpJump)
      done = pc;
      if (IsGosub(i)) PROTECT(PushGosub(L, ci->closure->p, int32_t(pc - ci->closure->p->code)));
      pc += GetJump(i);
      VM_NEXT_JUMPED;
      VM_CASE(OpEq) {
        done = pc;
        const qvScriptValue* rb = RKB(i);
        const qvScriptValue* rc = RKC(i);
        bool res;
        if (IsNumber(rb) && IsNumber(rc)) [[likely]]
          res = rb->value.n == rc->value.n;
        else
          PROTECT(res = VmEqualValue(L, rb, rc));
        if (int(res) != GetA(i))
          ++pc;
        else
          TAKE_JUMP();
        VM_NEXT_JUMPED;
      }
      VM_CASE(OpLt) {
        done = pc;
        const qvScriptValue* rb = RKB(i);
        const qvScriptValue* rc = RKC(i);
        bool res;
        if (IsNumber(rb) && IsNumber(rc)) [[likely]]
          res = rb->value.n < rc->value.n;
        else
          PROTECT(res = VmLessThanValue(L, rb, rc, true));
        if (int(res) != GetA(i))
          ++pc;
        else
          TAKE_JUMP();
        VM_NEXT_JUMPED;
      }
      VM_CASE(OpLe) {
        done = pc;
        const qvScriptValue* rb = RKB(i);
        const qvScriptValue* rc = RKC(i);
        bool res;
        if (IsNumber(rb) && IsNumber(rc)) [[likely]]
          res = rb->value.n <= rc->value.n;
        else
          PROTECT(res = VmLessEqualValue(L, rb, rc));
        if (int(res) != GetA(i))
          ++pc;
        else
          TAKE_JUMP();
        VM_NEXT_JUMPED;
      }
      VM_CASE(OpTest) {
        done = pc;
        const qvScriptValue* rb = base + GetB(i);
        if (int(IsFalse(rb)) == GetC(i)) {
          ++pc;
        } else {
          CopyValue(ra, rb);
          TAKE_JUMP();
        }
        VM_NEXT_JUMPED;
      }
      VM_CASE(OpCall)
      if (IsFunction(ra) && !ClosureOf(ra)->isNative) [[likely]] {
        // The common script call, the pre-call's work done here: a fixed-parameter callee with
        // room for its frame and a free call record.
        qvLClosure* calleeClosure = static_cast<qvLClosure*>(ClosureOf(ra));
        const qvProto* p;
        if (calleeClosure == ci->closure) {
          // The running closure calls itself: the callee's prototype is the running one, taken
          // from the frame, so that its first instructions need not wait for the loads that
          // fetched the function value (a branch that the processor predicts stands between).
          calleeClosure = ci->closure;
          p = calleeClosure->p;
          QV_OPAQUE(calleeClosure);
          QV_OPAQUE(p);
        } else {
          p = calleeClosure->p;
        }
        qvScriptValue* const argsEnd = GetB(i) != 0
                                           ? ra + GetB(i)
                                           : std::max(L->top, ra + 1);  // none left: none passed
        if (!p->isVararg && ci != L->endCi && L->stackLast - argsEnd > p->maxstacksize) {
          ci->savedpc = pc;
          ci->state = kCallSavedPc | kCallHasFrame | kCallCalling;
          ci->nresults = GetC(i) - 1;
          qvCallInfo* const callee = ci + 1;
          L->ci = callee;
          qvScriptValue* const calleeBase = ra + 1;
          qvScriptValue* const frameTop = calleeBase + p->maxstacksize;
          L->base = callee->base = calleeBase;
          callee->top = frameTop;
          callee->savedpc = p->code;
          callee->tailcalls = 0;
          callee->closure = calleeClosure;
          callee->k = p->k;
          callee->state = kCallSavedPc | kCallHasFrame;
          // The registers past the parameters start as nil, and so do missing parameters and
          // arguments beyond the parameters. Four at once, past the frame top too where the frame
          // is smaller: the room checked above and the extra slots beyond the stack's last have
          // them.
          qvScriptValue* s = argsEnd;
          if (s > calleeBase + p->numparams) [[unlikely]]
            s = calleeBase + p->numparams;
          SetNil(s);
          SetNil(s + 1);
          SetNil(s + 2);
          SetNil(s + 3);
          for (s += 4; s < frameTop; ++s) SetNil(s);
          L->top = frameTop;
          if (L->hookmask & kMaskCall) goto newframe;
          // The callee's registers from what is at hand, as the frame entry would load them.
          ci = callee;
          pc = p->code;
          base = calleeBase;
          VM_NEXT;
        }
      }
      // a call the pre-call makes: on to the general path
      VM_CASE(OpTailCall) {
        const int b = GetB(i);
        const int nresults = GetC(i) - 1;
        if (b != 0)
          L->top = ra + b;
        else if (L->top < ra + 1)
          L->top = ra + 1;  // no arguments left by the previous instruction
        SAVEPC();
        L->currentInstruction = int32_t(
            pc - ci->closure->p->code);  // what a native's label request counts from
        int32_t word;
        qvScriptValue* first = VmPreCall(L, ra, &word);
        if (first == nullptr) {  // a script function: run it in this loop
          if (GetOp(i) == OpCall) {
            qvCallInfo* const caller = L->ci - 1;
            caller->state |= kCallCalling;
            caller->nresults = nresults;
            goto newframe;
          }
          // A tail call: the callee's frame replaces the current one.
          qvCallInfo* callee = L->ci;
          ci = callee - 1;
          if (L->openupval != nullptr) VmCloseUpvals(L, ci->base);
          qvScriptValue* func = ci->base - 1;
          const qvScriptValue* pfunc = callee->base - 1;
          const int moved = int(L->top - pfunc);
          for (int j = 0; j < moved; ++j) CopyValue(func + j, pfunc + j);
          ci->top = ci->base + (callee->top - callee->base);
          L->top = ci->top;
          ci->savedpc = callee->savedpc;
          ci->tailcalls++;
          ci->state = kCallSavedPc;
          L->ci = ci;
          L->base = ci->base;
          goto newframe;
        }
        // A native function has run.
        if (IsErrorWord(word))
          VmHostRaise(L, word);  // returns only while errors do not end the script
        VmPostCall(L, nresults, first);
        ci = L->ci;
        if (nresults >= 0) L->top = ci->top;
        base = L->base;
        if (word == -1 || word == -2) {
          done = pc;
          PROTECT(pc = LabelJump(L, ci->closure->p, pc, word));
          VM_NEXT_JUMPED;
        }
        VM_NEXT;
      }
      VM_CASE(OpReturn) {
        if (IsGosubReturn(i)) {
          SAVEPC();
          done = pc;
          pc = ci->closure->p->code + PopGosub(L, ci->closure->p);
          VM_NEXT_JUMPED;
        }
        const int b = GetB(i);
        // The end of the results; the stack top is set from it only where something reads it.
        qvScriptValue* const resultsEnd = b != 0 ? ra + b - 1 : std::max(L->top, ra);
        if (L->openupval != nullptr) VmCloseUpvals(L, base);
        qvCallInfo* caller = ci - 1;
        const int nresults = caller->nresults;
        if ((caller->state & kCallCalling) && nresults >= 0 && !(L->hookmask & kMaskReturn)) {
          // Back in a script caller that wants a fixed count: the post-call's work here, the
          // results down to the function slot. Nothing reads the popped record again.
          qvScriptValue* dst = base - 1;
          qvScriptValue* res = ra;
          L->ci = caller;
          if (b == nresults + 1) {  // as many as wanted
            if (nresults == 1)
              CopyValue(dst, res);
            else
              for (int j = 0; j < nresults; ++j) CopyValue(dst + j, res + j);
          } else {
            for (int j = 0; j < nresults; ++j)
              CopyValue(dst++, res < resultsEnd ? res++ : &kNilValue);
          }
          caller->state = kCallSavedPc | kCallHasFrame;
          // Back in the caller's frame, as the frame entry would load it.
          ci = caller;
          base = caller->base;
          L->base = base;
          L->top = caller->top;
          pc = caller->savedpc;
          VM_NEXT;
        }
        L->top = resultsEnd;
        ci->state = kCallSavedPc;
        ci->savedpc = pc;
        if (!(caller->state & kCallCalling)) return ra;  // back to native code
        // Continue in the script caller with the count its call instruction wants.
        VmPostCall(L, nresults, ra);
        if (nresults >= 0) L->top = L->ci->top;
        L->ci->state &= ~kCallCalling;
        goto resume;
      }
      VM_CASE(OpForLoop) {
        done = pc;
        double step, limit;
        if (IsNumber(ra) && IsNumber(ra + 1) && IsNumber(ra + 2)) {
          limit = ra[1].value.n;
          step = ra[2].value.n;
        } else {
          SAVEPC();
          if (!IsNumber(ra)) VmRaiseError(L, ERR_VALUEEXPECTED);
          limit = ForLoopOperand(L, ra + 1);
          step = ForLoopOperand(L, ra + 2);
        }
        double index = ra->value.n + step;
        if (step > 0 ? index <= limit : index >= limit) {
          ra->value.n = index;
          pc += GetSBx(i);
          // A body of one SETTABLE that stores a fixed number under the loop index into a
          // numeric array part runs here, both instructions per round, until anything asks for
          // the general path: the pending word before each of them (as the dispatch checks it),
          // a key outside the array part, or a hole where "__newindex" may be asked for.
          const uint32_t body = *pc;
          if (GetSBx(i) == -2 && GetOp(body) == OpSetTable && GetB(body) == GetA(i) &&
              (IsConstantRK(GetC(body)) || GetC(body) != GetA(i)) && IsTable(base + GetA(body))) {
            qvTable* const h = TableOf(base + GetA(body));
            const qvScriptValue* const val = RKC(body);
            if (h->numeric && IsNumber(val) && HasNumberWord(val->value.n)) {
              const uint64_t word = NumberWord(val->value.n);
              const bool absent = (h->metatable->flags & (1u << kEventNewIndex)) != 0;
              uint64_t* const words = h->words;
              const uint32_t size = h->sizearray;
              // The word eight rounds ahead is fetched now: strides of a cache line and more
              // leave the hardware's prefetcher behind, each store then waiting on its own line.
              const uintptr_t ahead = (std::fabs(step) <= 65536.0 && step == std::trunc(step))
                                          ? uintptr_t(int64_t(step) * 8 * int64_t(sizeof(uint64_t)))
                                          : 0;
              for (;;) {
                if (PendingWord(L).load(std::memory_order_relaxed)) break;
                uint32_t slot;
                if (!ArrayIndex(index, size, &slot) || (!absent && words[slot] == 0)) break;
                words[slot] = word;
                __builtin_prefetch(reinterpret_cast<const void*>(uintptr_t(words + slot) + ahead),
                                   1);
                QV_COUNT_OPCODE(OpSetTable);
                if (PendingWord(L).load(std::memory_order_relaxed)) {
                  done = pc + 1;  // the SETTABLE ran; the FORLOOP comes next
                  pc += 1;
                  break;
                }
                QV_COUNT_OPCODE(OpForLoop);
                index += step;
                if (!(step > 0 ? index <= limit : index >= limit)) {
                  pc += 2;  // past the FORLOOP
                  done = pc;
                  break;
                }
                ra->value.n = index;
              }
            }
          }
        }
        VM_NEXT_JUMPED;
      }
      VM_CASE(OpForInLoop) {
        done = pc;
        qvScriptValue* cb = ra + 3;
        CopyValue(cb + 2, ra + 2);
        CopyValue(cb + 1, ra + 1);
        CopyValue(cb, ra);
        L->top = cb + 3;
        const int nvar = GetC(i) + 1;
        PROTECT(VmCallChecked(L, cb, nvar));
        L->top = ci->top;
        ra = base + GetA(i);
        for (int j = 0; j < nvar; ++j) CopyValue(ra + 2 + j, ra + 3 + j);
        if (IsNil(ra + 2))
          ++pc;
        else
          TAKE_JUMP();
        VM_NEXT_JUMPED;
      }
      VM_CASE(OpForInPrep)
      done = pc;
      if (IsTable(ra)) {
        CopyValue(ra + 1, ra);
        const qvScriptValue* next = VmTableGetString(TableOf(&L->gt), G(L)->nextName);
        ra[0] = IsNil(next) ? G(L)->builtinNext : *next;
      }
      pc += GetSBx(i);
      VM_NEXT_JUMPED;
      VM_CASE(OpSetList) {
        const int bx = GetBx(i);
        PROTECT(SetList(L, ra, bx & ~31, (bx & 31) + 1));
        VM_NEXT;
      }
      VM_CASE(OpSetListTop) {
        // Bx is the items so far minus one, as for OpSetList: its low bits are no key.
        const int32_t n = std::max<int32_t>(0, int32_t(L->top - ra) - 1);
        PROTECT(SetList(L, ra, GetBx(i) & ~31, n));
        L->top = ci->top;
        VM_NEXT;
      }
      VM_CASE(OpClose)
      VmCloseUpvals(L, ra);
      VM_NEXT;
      VM_CASE(OpClosure) {
        qvProto* p = ci->closure->p->p[GetBx(i)];
        SAVEPC();
        done = pc;  // the upvalue words are passed over
        qvLClosure* ncl = VmNewScriptClosure(L, p->nups, &ci->closure->env);
        ncl->p = p;
        for (int j = 0; j < p->nups; ++j, ++pc) {
          const uint32_t u = *pc;
          if (GetOp(u) == OpGetUpval)
            ncl->upvals()[j] = ci->closure->upvals()[GetB(u)];
          else
            ncl->upvals()[j] = VmFindUpval(L, base + GetB(u));
        }
        SetObject(ra, kTypeFunction, ncl);
        PROTECT(VmGCStep(L));
        VM_NEXT_JUMPED;
      }
      VM_CASE(OpSelf) {
        const qvScriptValue obj = base[GetB(i)];
        const qvScriptValue* key = RKC(i);
        if (!IsString(key)) {
          SAVEPC();
          VmRaiseError(L, ERR_BADBYTECODE);
        }
        ra[1] = obj;
        if (IsTable(&obj)) {
          const qvScriptValue* v = VmTableGetString(TableOf(&obj), StringOf(key));
          if (!IsNil(v)) {
            CopyValue(ra, v);
            VM_NEXT;
          }
        }
        qvScriptValue
            r;  // indexed through R(B), which still holds the object, to name it in errors
        PROTECT(r = VmGetTableValue(L, base + GetB(i), key, qvMissing::kNil));
        base[GetA(i)] = r;
        VM_NEXT;
      }
      VM_NOOPS  // 43-63 do nothing
          VM_NEXT;
    }
  }
#undef RKB
#undef RKC
#undef SAVEPC
#undef QV_OPAQUE
#undef PENDING_WORD
#undef PROTECT
#undef TAKE_JUMP
#undef ARITH
#undef UNARY
#undef VM_DISPATCH
#undef VM_JUMP_THROUGH
#undef VM_CASE
#undef VM_NOOPS
#undef VM_NEXT
#undef VM_NEXT_JUMPED
#undef QV_SLOTS_8
#undef QV_SLOTS_64
#undef QV_SLOTS_448
#undef QV_OPCODE_SLOTS
#undef QV_COUNT_DISPATCHED
}

}  // namespace qv
