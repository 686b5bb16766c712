// The value rules that the interpreter and the stack interface share: conversions, truth,
// equality, ordering, arithmetic, concatenation and table access with metamethods.
#pragma once

#include <cmath>
#include <cstdint>

#include "base/support.h"
#include "vm/state.h"

namespace qv {

// ---- numbers and text ----

// "%.14g" into buf (at least kNumberBufferSize bytes); returns the length.
constexpr int kNumberBufferSize = 48;
int VmNumberToString(double n, char* buf);
// "%g" (precision 6) into buf.
int VmFormatNumberG(double n, char* buf);
// Reads "$hex", "0xhex" (saturating at 4294967295) or a decimal number; white space may
// surround it. False when the text is not a number.
bool VmStringToNumber(const char* s, size_t len, double* out);

// The bit operators' operands: the low 32 bits of the value truncated toward zero.
inline uint32_t ToBits(double d) { return static_cast<uint32_t>(DoubleToInt32(d)); }
// Integer division's and remainder's operands: the value truncated toward zero to an int, with
// NaN, the infinities and out-of-range values as INT_MIN (so 7 % 4294967296 is 7, no division
// by zero).
inline int32_t ToIntOperand(double d) { return TruncateToInt(d); }

// A number from a number, nil (0) or a numeric string.
bool VmToNumberValue(const qvScriptValue* v, double* out);
// Converts a number ("%.14g") or nil ("") in place; false for other non-strings.
bool VmToStringInPlace(qvScriptState* L, qvScriptValue* v);

// ---- truth and comparison ----

// False are nil, false, the number 0 and the empty string.
inline bool IsFalse(const qvScriptValue* v) {
  switch (v->type) {
    case kTypeNil:
      return true;
    case kTypeBoolean:
      return v->value.b == 0;
    case kTypeNumber:
      return v->value.n == 0;
    case kTypeString:
      return static_cast<qvString*>(v->value.gc)->len == 0;
    default:
      return false;
  }
}

bool VmEqualValue(qvScriptState* L, const qvScriptValue* a, const qvScriptValue* b);
bool VmLessThanValue(qvScriptState* L, const qvScriptValue* a, const qvScriptValue* b,
                     bool byteOrder);
bool VmLessEqualValue(qvScriptState* L, const qvScriptValue* a, const qvScriptValue* b);

// ---- arithmetic ----

// The operation of an arithmetic event on two numbers; division by zero raises ERR_ZERODIVISION.
inline double ArithNumbers(qvScriptState* L, qvEvent op, double x, double y);
// Operands that are not both numbers: conversion, then the event's metamethod.
qvScriptValue VmArith(qvScriptState* L, const qvScriptValue* a, const qvScriptValue* b, qvEvent op);
[[noreturn]] void VmRaiseZeroDivision(qvScriptState* L);

inline double ArithNumbers(qvScriptState* L, qvEvent op, double x, double y) {
  switch (op) {
    case kEventAdd:
      return x + y;
    case kEventSub:
      return x - y;
    case kEventMul:
      return x * y;
    case kEventDiv:
      if (y == 0) VmRaiseZeroDivision(L);
      return x / y;
    case kEventDivInt:
    case kEventMod: {
      // In 64 bits, so that INT_MIN / -1 gives 2147483648 instead of overflowing.
      int64_t a = ToIntOperand(x);
      int64_t b = ToIntOperand(y);
      if (b == 0) VmRaiseZeroDivision(L);
      return double(op == kEventDivInt ? a / b : a % b);
    }
    case kEventLsh:
      return double(ToBits(x) << (ToBits(y) & 31));
    case kEventRsh:
      return double(ToBits(x) >> (ToBits(y) & 31));
    case kEventOr:
      return double(ToBits(x) | ToBits(y));
    case kEventAnd:
      return double(ToBits(x) & ToBits(y));
    case kEventXor:
      return double(ToBits(x) ^ ToBits(y));
    case kEventPow:
      return std::pow(x, y);
    case kEventUnm:
      return -x;
    case kEventNot:
      return double(~ToBits(x));
    default:
      return 0;
  }
}

// ---- concatenation ----

// The table that a join's result indexes at once, if any, and whether to store under it: a key
// being stored is most often new, one being read most often there.
struct qvJoinedKey {
  const qvTable* table = nullptr;
  bool store = false;
};
// Joins the `total` values ending at slot base + last into base + last - total + 1. With
// `keyOf`, a result that is already a key of that table is the table's own key string.
void VmConcatValues(qvScriptState* L, int total, int last, qvJoinedKey keyOf = {});

// ---- tables ----

enum class qvMissing { kNil, kRaise };
// t[key] with "__index" handling; a missing key yields nil or raises ERR_FIELDINIT.
qvScriptValue VmGetTableValue(qvScriptState* L, const qvScriptValue* t, const qvScriptValue* key,
                              qvMissing missing);
// t[key] = val with "__newindex" handling.
void VmSetTableValue(qvScriptState* L, const qvScriptValue* t, const qvScriptValue* key,
                     const qvScriptValue* val);

}  // namespace qv
