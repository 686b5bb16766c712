// What the string commands share: counts and positions read from numbers, and the guard that
// turns a failed allocation of a result into ERR_MEM.
#pragma once

#include <cmath>
#include <cstdint>
#include <new>

#include "base/errors.h"
#include "vm/auxlib.h"

namespace qv::strlib {

// Counts and positions are truncated toward zero and clamped far outside any string's length,
// so 1e12 is "past the end" rather than the low bits of a 64-bit integer; NaN counts as 0.
inline int64_t ToCount(double d) {
  if (std::isnan(d)) return 0;
  if (d >= 4611686018427387904.0) return INT64_C(4611686018427387904);
  if (d <= -4611686018427387904.0) return -INT64_C(4611686018427387904);
  return static_cast<int64_t>(d);
}
inline int64_t CheckCount(qvScriptState* L, int index) { return ToCount(VmCheckNumber(L, index)); }
inline int64_t OptCount(qvScriptState* L, int index, int64_t def) {
  return VmType(L, index) == kTypeNone ? def : CheckCount(L, index);
}

// Text in a base from 2 to 36 read as the C library's strtoul reads it with 32-bit longs: white
// space, a sign, "0x" in base 16, digits. A "-" negates modulo 2^32; a value beyond 4294967295
// saturates there whatever the sign. White space may follow the digits; anything else, or no
// digit at all, gives 0.
uint32_t ReadUnsignedInBase(const char* s, size_t len, int base);

// Runs a handler body; a std::bad_alloc from building a result becomes ERR_MEM. The machine's
// own errors pass through untouched.
template <typename Body>
int32_t Guard(Body body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
}

}  // namespace qv::strlib
