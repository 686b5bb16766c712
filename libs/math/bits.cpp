// Bit commands on 32-bit words. Arguments go through the machine's integer check (truncated,
// low 32 bits kept), so an unsigned result such as 4294967295 reads back as the same word in the
// next command. Rotations and casts take a width: INTEGER (32 bits), SHORT/WORD (16), BYTE (8).
#include "base/errors.h"
#include "core/args.h"
#include "libs/math/commands.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

namespace {

// The width constants of the system library.
constexpr int32_t kWidthInteger = 1;
constexpr int32_t kWidthShort = 6;
constexpr int32_t kWidthByte = 7;

uint32_t Word(qvScriptState* L, int index) { return static_cast<uint32_t>(VmCheckInt(L, index)); }

int32_t PushUnsigned(qvScriptState* L, uint32_t v) {
  VmPushNumber(L, v);
  return 1;
}

// The bit number of BitSet, BitClear and BitTest: 0 to 31, else -1.
int BitNumber(qvScriptState* L, int index) {
  int32_t bit = VmCheckInt(L, index);
  return bit >= 0 && bit <= 31 ? bit : -1;
}

// The bit count of a width code, 0 for an unknown one.
int WidthBits(int32_t width) {
  switch (width) {
    case kWidthInteger:
      return 32;
    case kWidthShort:
      return 16;
    case kWidthByte:
      return 8;
    default:
      return 0;
  }
}

int32_t Rotate(qvScriptState* L, bool left) {
  CheckArgCount(L, 2, 3);
  uint32_t x = Word(L, 1);
  int count = VmCheckInt(L, 2) & 0xFF;
  int bits = WidthBits(VmOptInt(L, 3, kWidthInteger));
  if (bits == 0) return ERR_WRONGUSAGE;
  uint32_t mask = bits == 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
  x &= mask;
  count %= bits;
  if (left) count = (bits - count) % bits;  // a left rotation is a right one the other way
  if (count != 0) x = ((x >> count) | (x << (bits - count))) & mask;
  return PushUnsigned(L, x);
}

}  // namespace

int32_t Shl(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  uint32_t x = Word(L, 1);
  return PushUnsigned(L, x << (Word(L, 2) & 31));
}

int32_t Shr(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  uint32_t x = Word(L, 1);
  return PushUnsigned(L, x >> (Word(L, 2) & 31));
}

// Sar(x, n): the signed word shifted with its sign (right shifts of negative ints are
// arithmetic in C++20).
int32_t Sar(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  int32_t x = VmCheckInt(L, 1);
  VmPushNumber(L, x >> (Word(L, 2) & 31));
  return 1;
}

int32_t BitSet(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  uint32_t x = Word(L, 1);
  int bit = BitNumber(L, 2);
  if (bit < 0) return ERR_WRONGUSAGE;
  return PushUnsigned(L, x | (1u << bit));
}

int32_t BitClear(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  uint32_t x = Word(L, 1);
  int bit = BitNumber(L, 2);
  if (bit < 0) return ERR_WRONGUSAGE;
  return PushUnsigned(L, x & ~(1u << bit));
}

int32_t BitTest(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  uint32_t x = Word(L, 1);
  int bit = BitNumber(L, 2);
  if (bit < 0) return ERR_WRONGUSAGE;
  VmPushNumber(L, (x >> bit) & 1);
  return 1;
}

int32_t BitXor(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  uint32_t a = Word(L, 1);
  return PushUnsigned(L, a ^ Word(L, 2));
}

int32_t BitComplement(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  return PushUnsigned(L, ~Word(L, 1));
}

int32_t Ror(qvScriptState* L) { return Rotate(L, false); }
int32_t Rol(qvScriptState* L) { return Rotate(L, true); }

// Cast(x, signed, width): the low bits of x, sign-extended or not.
int32_t Cast(qvScriptState* L) {
  CheckArgCount(L, 3, 3);
  uint32_t x = Word(L, 1);
  bool isSigned = VmCheckInt(L, 2) != 0;
  switch (VmCheckInt(L, 3)) {
    case kWidthInteger:
      VmPushNumber(L, isSigned ? static_cast<double>(static_cast<int32_t>(x)) : x);
      return 1;
    case kWidthShort:
      VmPushNumber(L, isSigned ? static_cast<double>(static_cast<int16_t>(x)) : (x & 0xFFFF));
      return 1;
    case kWidthByte:
      VmPushNumber(L, isSigned ? static_cast<double>(static_cast<int8_t>(x)) : (x & 0xFF));
      return 1;
    default:
      return ERR_WRONGUSAGE;
  }
}

}  // namespace qv::cmd
