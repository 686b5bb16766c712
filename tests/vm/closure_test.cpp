// Closures and upvalues: one shared upvalue per stack slot, closing, and re-pointing when the
// stack moves.
#include "tests/vm/state_fixture.h"
#include "vm/func.h"
#include "vm/gc.h"

namespace qv::testing {
namespace {

class ClosureTest : public StateTest {
 protected:
  // A prototype with one upvalue, named when `named` is set.
  qvProto* MakeProto(bool named) {
    qvProto* p = VmNewProto(L);
    p->nups = 1;
    if (named) {
      p->upvalues = VmNewVector<qvString*>(L, 1);
      p->upvalues[0] = VmInternCString(L, "counter");
      p->sizeupvalues = 1;
    }
    return p;
  }
  // Pushes a script closure over the open upvalue of a stack slot.
  void PushClosureOver(qvProto* p, int slotIndex) {
    qvLClosure* c = VmNewScriptClosure(L, 1, &L->gt);
    c->p = p;
    c->upvals()[0] = VmFindUpval(L, VmIndexToAddress(L, slotIndex));
    SetObject(VmPushSlot(L), kTypeFunction, c);
  }
  qvUpVal* UpvalOf(int closureIndex) {
    return static_cast<qvLClosure*>(ClosureOf(VmIndexToAddress(L, closureIndex)))->upvals()[0];
  }
};

TEST_F(ClosureTest, ClosuresOverOneSlotShareItsUpvalueBeforeAndAfterClosing) {
  qvProto* p = MakeProto(true);
  VmPushNumber(L, 1);     // 1: the variable
  PushClosureOver(p, 1);  // 2
  PushClosureOver(p, 1);  // 3
  ASSERT_EQ(UpvalOf(2), UpvalOf(3));

  VmPushNumber(L, 5);
  EXPECT_STREQ(VmSetUpvalue(L, 2, 1), "counter");
  EXPECT_EQ(VmToNumber(L, 1), 5);  // open: the write reaches the stack slot
  VmGetUpvalue(L, 3, 1);
  EXPECT_EQ(VmToNumber(L, -1), 5);
  VmSetTop(L, 3);

  VmCloseUpvals(L, VmIndexToAddress(L, 1));  // the frame ends
  qvUpVal* uv = UpvalOf(2);
  EXPECT_EQ(uv->v, &uv->closed);
  VmPushNumber(L, 9);
  VmReplace(L, 1);  // the old slot no longer matters
  VmPushNumber(L, 6);
  VmSetUpvalue(L, 3, 1);
  VmGetUpvalue(L, 2, 1);
  EXPECT_EQ(VmToNumber(L, -1), 6);
  VmSetTop(L, 3);
  // A closure made now over the same slot gets a fresh upvalue.
  PushClosureOver(p, 1);
  EXPECT_NE(UpvalOf(4), uv);
  VmGetUpvalue(L, 4, 1);
  EXPECT_EQ(VmToNumber(L, -1), 9);
}

TEST_F(ClosureTest, OpenUpvaluesStaySortedAndFollowTheStack) {
  for (int i = 1; i <= 6; ++i) VmPushNumber(L, i * 10);
  for (int slot : {3, 1, 6, 2, 5, 4}) VmFindUpval(L, VmIndexToAddress(L, slot));
  int count = 0;
  qvScriptValue* previous = nullptr;
  for (qvGCObject* o = L->openupval; o != nullptr; o = o->next, ++count) {
    auto* uv = static_cast<qvUpVal*>(o);
    if (previous != nullptr) {
      EXPECT_LT(uv->v, previous);
    }
    previous = uv->v;
  }
  EXPECT_EQ(count, 6);
  qvScriptValue* before = L->stack;
  for (int i = 0; i < 20000; ++i) VmPushNumber(L, i);  // the stack moves
  EXPECT_NE(L->stack, before);
  for (qvGCObject* o = L->openupval; o != nullptr; o = o->next) {
    auto* uv = static_cast<qvUpVal*>(o);
    int slot = int(uv->v - L->base) + 1;
    EXPECT_EQ(uv->v, VmIndexToAddress(L, slot));
    EXPECT_EQ(uv->v->value.n, slot * 10);
  }
  VmCloseUpvals(L, L->base);
}

TEST_F(ClosureTest, UpvalueNamesOfNativeAndScriptFunctions) {
  VmPushNumber(L, 1);
  PushClosureOver(MakeProto(false), 1);
  for (int n = 0; n <= 2; ++n)
    EXPECT_EQ(VmGetUpvalue(L, 2, n), nullptr) << n;  // no names: none exposed
  VmPushNumber(L, 3);
  VmPushCClosure(
      L, [](qvScriptState*) -> int32_t { return 0; }, 1);
  EXPECT_STREQ(VmGetUpvalue(L, -1, 1), "");
  EXPECT_EQ(VmToNumber(L, -1), 3);
  VmCloseUpvals(L, L->base);
}

TEST_F(ClosureTest, ClosedUpvaluesLiveAsLongAsTheirClosures) {
  VmSetGCThreshold(L, 0);
  uint64_t baseline = G(L)->nblocks;
  qvProto* p = MakeProto(true);
  VmPushString(L, "shared value");
  PushClosureOver(p, 1);
  PushClosureOver(p, 1);
  VmCloseUpvals(L, VmIndexToAddress(L, 1));
  VmRemove(L, 1);
  VmRemove(L, 1);  // only the second closure keeps the upvalue
  VmSetGCThreshold(L, 0);
  VmGetUpvalue(L, 1, 1);
  EXPECT_STREQ(VmToString(L, -1), "shared value");
  VmSetTop(L, 0);
  VmSetGCThreshold(L, 0);
  EXPECT_EQ(G(L)->nblocks, baseline);
}

TEST_F(ClosureTest, LocalNamesFollowTheActiveRanges) {
  qvProto* p = VmNewProto(L);
  p->locvars = VmNewVector<qvLocVar>(L, 3);
  p->sizelocvars = 3;
  p->locvars[0] = {VmInternCString(L, "a"), 0, 10};
  p->locvars[1] = {VmInternCString(L, "b"), 2, 5};
  p->locvars[2] = {VmInternCString(L, "c"), 5, 10};
  EXPECT_STREQ(VmLocalName(p, 1, 0), "a");
  EXPECT_EQ(VmLocalName(p, 2, 0), nullptr);
  EXPECT_STREQ(VmLocalName(p, 2, 3), "b");
  EXPECT_STREQ(VmLocalName(p, 2, 5), "c");
  EXPECT_EQ(VmLocalName(p, 1, 10), nullptr);
}

}  // namespace
}  // namespace qv::testing
