// Pieces that the assembler and the disassembler share: opcode numbers, instruction fields,
// the chunk header constants, and the text forms of numbers and strings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qv::qvasm {

enum Op : uint8_t {
  kMove,
  kLoadConst,
  kLoadBool,
  kLoadNil,
  kGetUpval,
  kGetGlobal,
  kGetTable,
  kSetGlobal,
  kSetUpval,
  kSetTable,
  kNewTable,
  kAdd,
  kSub,
  kMul,
  kDiv,
  kIntDiv,
  kMod,
  kShl,
  kShr,
  kBitOr,
  kBitAnd,
  kBitXor,
  kPow,
  kNeg,
  kNot,
  kBitNot,
  kConcat,
  kJump,
  kEq,
  kLt,
  kLe,
  kTest,
  kCall,
  kTailCall,
  kReturn,
  kForLoop,
  kForInLoop,
  kForInPrep,
  kSetList,
  kSetListTop,
  kClose,
  kClosure,
  kSelf,
};

// Instruction fields.
inline constexpr int kRkBase = 250;         // RK operands at or above this are constants
inline constexpr int kMaxRkConstant = 261;  // 250 + 261 = 511, the widest 9-bit field
inline constexpr int kMaxBx = (1 << 18) - 1;
inline constexpr int kSbxBias = 131071;
inline constexpr int kJumpBias = 8388607;
inline constexpr int kMaxStack = 250;

inline uint32_t OpOf(uint32_t w) { return w & 63; }
inline uint32_t AOf(uint32_t w) { return w >> 24; }
inline uint32_t BOf(uint32_t w) { return (w >> 15) & 511; }
inline uint32_t COf(uint32_t w) { return (w >> 6) & 511; }
inline uint32_t BxOf(uint32_t w) { return (w >> 6) & kMaxBx; }
inline int SbxOf(uint32_t w) { return static_cast<int>(BxOf(w)) - kSbxBias; }
inline int JumpOffsetOf(uint32_t w) { return static_cast<int>((w >> 6) & 0xFFFFFF) - kJumpBias; }
inline uint32_t JumpPatternOf(uint32_t w) { return w >> 30; }

inline uint32_t EncodeABC(uint32_t op, uint32_t a, uint32_t b, uint32_t c) {
  return op | c << 6 | b << 15 | a << 24;
}
inline uint32_t EncodeABx(uint32_t op, uint32_t a, uint32_t bx) { return op | bx << 6 | a << 24; }
inline uint32_t EncodeJump(int offset, uint32_t pattern) {
  return kJump | ((static_cast<uint32_t>(offset + kJumpBias) & 0xFFFFFF) << 6) | pattern << 30;
}
inline constexpr uint32_t kGosubPattern = 2;

// Chunk header.
inline constexpr uint8_t kSignature[4] = {0x1B, 'Q', 'V', 'B'};
inline constexpr uint8_t kSizes[8] = {4, 4, 4, 6, 8, 9, 9, 8};
inline constexpr double kTestNumber = 31415926.535897933;

// Constant type bytes.
inline constexpr uint8_t kTypeNil = 0;
inline constexpr uint8_t kTypeNumber = 3;
inline constexpr uint8_t kTypeString = 4;

// Text forms. Numbers: decimal, 0x hex, inf, -inf, nan, -0; integers: decimal or 0x hex.
std::optional<double> ParseNumber(std::string_view text);
std::optional<int64_t> ParseInteger(std::string_view text);
std::string FormatNumber(double v);  // shortest text that parses back to the same bits
std::string QuoteString(std::string_view bytes);

}  // namespace qv::qvasm
