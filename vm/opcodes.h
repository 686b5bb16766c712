// The instruction set: opcodes, field decoding and the op-mode table.
#pragma once

#include <cstdint>

namespace qv {

enum qvOpCode : uint8_t {
  OpMove,
  OpLoadConst,
  OpLoadBool,
  OpLoadNil,
  OpGetUpval,
  OpGetGlobal,
  OpGetTable,
  OpSetGlobal,
  OpSetUpval,
  OpSetTable,
  OpNewTable,
  OpAdd,
  OpSub,
  OpMul,
  OpDiv,
  OpIntDiv,
  OpMod,
  OpShl,
  OpShr,
  OpBitOr,
  OpBitAnd,
  OpBitXor,
  OpPow,
  OpNeg,
  OpNot,
  OpBitNot,
  OpConcat,
  OpJump,
  OpEq,
  OpLt,
  OpLe,
  OpTest,
  OpCall,
  OpTailCall,
  OpReturn,
  OpForLoop,
  OpForInLoop,
  OpForInPrep,
  OpSetList,
  OpSetListTop,
  OpClose,
  OpClosure,
  OpSelf,
};
constexpr int kOpCount = 43;  // 43-63 are no-ops

// Op-mode bits.
constexpr uint8_t kFormatMask = 3;  // 0 A B C, 1 A Bx, 2 A sBx, 3 the 24-bit jump
constexpr uint8_t kModeBReg = 4;
constexpr uint8_t kModeBRK = 8;
constexpr uint8_t kModeCRK = 16;
constexpr uint8_t kModeSetsA = 32;
constexpr uint8_t kModeBxK = 64;
constexpr uint8_t kModeTest = 128;
enum : uint8_t { kFormatABC, kFormatABx, kFormatAsBx, kFormatJump };

// One mode byte per opcode number 0-63.
extern const uint8_t kOpModes[64];

constexpr int kRKBase = 250;  // RK operands from 250 on are constants
constexpr int kMaxStack = 250;
constexpr int kNoRegister = 255;
constexpr int32_t kMaxSBx = 131071;
constexpr int32_t kJumpBias = 8388607;
constexpr uint32_t kGosubPattern = 2;

inline int GetOp(uint32_t i) { return int(i & 0x3F); }
inline int GetA(uint32_t i) { return int(i >> 24); }
inline int GetB(uint32_t i) { return int((i >> 15) & 0x1FF); }
inline int GetC(uint32_t i) { return int((i >> 6) & 0x1FF); }
inline int GetBx(uint32_t i) { return int((i >> 6) & 0x3FFFF); }
inline int GetSBx(uint32_t i) { return GetBx(i) - kMaxSBx; }
inline int GetJump(uint32_t i) { return int((i >> 6) & 0xFFFFFF) - kJumpBias; }
inline bool IsGosub(uint32_t i) { return (i >> 30) == kGosubPattern; }
inline bool IsConstantRK(int x) { return x >= kRKBase; }

#ifdef QV_VM_TEST_HOOKS
// How often the interpreter executed each opcode (test builds).
extern uint64_t gOpcodeCounts[64];
#endif

}  // namespace qv
