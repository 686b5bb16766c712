// The verifier: a symbolic execution that every loaded prototype must pass, and that also finds
// the instruction that last set a register (to name values in messages).
#include "vm/chunk.h"
#include "vm/opcodes.h"

namespace qv {

const uint8_t kOpModes[64] = {
    36, 97, 32, 36, 32, 97, 52,  65,  0,   24,  32, 56, 56, 56, 56,  56, 56, 56, 56, 56, 56, 56,
    56, 36, 36, 36, 52, 3,  152, 152, 152, 164, 0,  0,  0,  2,  128, 2,  1,  1,  0,  33, 52,
    // 43-63: no-ops
};

namespace {

struct Checker {
  const qvProto* p;
  bool ok = true;

  void Check(bool condition) {
    if (!condition) ok = false;
  }
  bool Reg(int r) const { return r >= 0 && r < p->maxstacksize; }
  bool RK(int x) const { return IsConstantRK(x) ? (x - kRKBase) < p->sizek : Reg(x); }
  bool Target(int dest) const { return dest >= 0 && dest < p->sizecode; }
  int OpAt(int pc) const { return GetOp(p->code[pc]); }
  // The instruction after an open call must consume its results.
  bool OpenUser(int pc) const {
    if (pc >= p->sizecode) return false;
    uint32_t i = p->code[pc];
    switch (GetOp(i)) {
      case OpCall:
      case OpTailCall:
      case OpReturn:
        return GetB(i) == 0;
      case OpSetListTop:
        return true;
      default:
        return false;
    }
  }
};

}  // namespace

bool VmSymbolicExec(const qvProto* pt, int lastpc, int reg, int* setterPc) {
  Checker c{pt};
  c.Check(pt->maxstacksize <= kMaxStack);
  c.Check(pt->numparams + (pt->isVararg ? 1 : 0) <= pt->maxstacksize);
  c.Check(pt->sizelineinfo == 0 || pt->sizelineinfo == pt->sizecode);
  c.Check(pt->sizecode > 0 && GetOp(pt->code[pt->sizecode - 1]) == OpReturn);
  c.Check(lastpc >= 0 && lastpc <= pt->sizecode);
  if (!c.ok) return false;
  int last = (reg == kNoRegister) ? pt->sizecode - 1 : -1;
  for (int pc = 0; pc < lastpc && c.ok; ++pc) {
    const uint32_t i = pt->code[pc];
    const int op = GetOp(i);
    const int a = GetA(i);
    const uint8_t mode = kOpModes[op];
    int b = 0;
    int cc = 0;
    if (op != OpJump) c.Check(c.Reg(a));
    switch (mode & kFormatMask) {
      case kFormatABC:
        b = GetB(i);
        cc = GetC(i);
        if (mode & kModeBReg) c.Check(c.Reg(b));
        if (mode & kModeBRK) c.Check(c.RK(b));
        if (mode & kModeCRK) c.Check(c.RK(cc));
        break;
      case kFormatABx:
        b = GetBx(i);
        if (mode & kModeBxK) c.Check(b < pt->sizek);
        break;
      case kFormatAsBx:
        b = GetSBx(i);
        break;
      default:
        b = GetJump(i);
        break;
    }
    if ((mode & kModeSetsA) && a == reg) last = pc;
    if (mode & kModeTest) c.Check(pc + 2 < pt->sizecode && c.OpAt(pc + 1) == OpJump);
    switch (op) {
      case OpLoadBool:
        if (cc != 0) c.Check(pc + 2 < pt->sizecode);
        break;
      case OpLoadNil:
        if (a <= reg && reg <= b) last = pc;
        break;
      case OpGetUpval:
      case OpSetUpval:
        c.Check(b < pt->nups);
        break;
      case OpGetGlobal:
      case OpSetGlobal:
        c.Check(b < pt->sizek && pt->k[b].type == kTypeString);
        break;
      case OpSelf:
        c.Check(c.Reg(a + 1));
        if (reg == a + 1) last = pc;
        break;
      case OpConcat:
        c.Check(cc < kRKBase && c.Reg(cc) && b < cc);
        break;
      case OpForLoop:
        c.Check(c.Reg(a + 2) && c.Target(pc + 1 + b));
        break;
      case OpForInPrep:
        c.Check(c.Reg(a + 1) && c.Target(pc + 1 + b));
        break;
      case OpForInLoop:
        c.Check(c.Reg(a + 5) && c.Reg(a + 2 + cc));
        if (reg >= a) last = pc;
        break;
      case OpJump: {
        int dest = pc + 1 + b;
        c.Check(c.Target(dest));
        if (c.ok && reg != kNoRegister && dest > pc && dest <= lastpc) pc += b;
        break;
      }
      case OpCall:
      case OpTailCall:
        if (b != 0) c.Check(c.Reg(a + b - 1));
        if (cc == 0)
          c.Check(c.OpenUser(pc + 1));
        else if (cc > 1)
          c.Check(c.Reg(a + cc - 2));
        if (reg >= a) last = pc;
        break;
      case OpReturn:
        if (cc != 1 && b > 1) c.Check(c.Reg(a + b - 2));
        break;
      case OpSetList:
        c.Check(c.Reg(a + (b & 31) + 1));
        break;
      case OpClosure: {
        c.Check(b < pt->sizep);
        if (!c.ok) break;
        int nup = pt->p[b]->nups;
        c.Check(pc + nup < pt->sizecode);
        for (int j = 1; c.ok && j <= nup; ++j) {
          int o = c.OpAt(pc + j);
          c.Check(o == OpGetUpval || o == OpMove);
        }
        if (reg != kNoRegister) pc += nup;  // the pseudo-instructions are not executed
        break;
      }
      default:
        break;
    }
  }
  if (!c.ok) return false;
  *setterPc = last;
  return true;
}

uint32_t VmVerifyCode(const qvProto* p, int lastpc, int reg) {
  int setter;
  if (!VmSymbolicExec(p, lastpc, reg, &setter)) return 0;
  return setter >= 0 ? p->code[setter] : 0;
}

int VmCheckCode(const qvProto* p) {
  int setter;
  return VmSymbolicExec(p, p->sizecode, kNoRegister, &setter) ? 1 : 0;
}

}  // namespace qv
