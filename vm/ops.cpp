// The value rules that the interpreter and the stack interface share.
#include "vm/ops.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "base/errors.h"
#include "base/support.h"
#include "vm/call.h"
#include "vm/table.h"

namespace qv {

// ---- numbers and text ----

static_assert(std::endian::native == std::endian::little,
              "the digit words are stored low byte first");

// The eight decimal digits of v < 10^8 as values 0-9, the first in the lowest byte: both halves
// of four digits split into pairs and then into digits in one word, a few multiplications in
// place of a division per pair.
static uint64_t EightDigits(uint32_t v) {
  uint64_t m = (v / 10000) | (uint64_t(v % 10000) << 32);
  uint64_t q = ((m * 10486) >> 20) & 0x0000007F0000007Fu;  // each half / 100, exact below 10^4
  m = q | ((m - q * 100) << 16);
  q = ((m * 103) >> 10) & 0x000F000F000F000Fu;  // each pair / 10, exact below 100
  return q | ((m - q * 10) << 8);
}
constexpr uint64_t kZeroDigits = 0x3030303030303030u;

// The digits of v < 10^8 without leading zeros; stores eight bytes at p. Returns the count.
static int WriteDigits(char* p, uint32_t v) {
  const uint64_t digits = EightDigits(v);
  // The leading zeros are the low zero bytes; the last digit stays, so that 0 is "0".
  const int shift = __builtin_ctzll(digits | (uint64_t(1) << 56)) & 56;
  const uint64_t word = (digits + kZeroDigits) >> shift;
  std::memcpy(p, &word, sizeof word);
  return 8 - shift / 8;
}

// The digits of an integer below 10^14 in magnitude. buf has room for eight bytes past them.
[[gnu::always_inline]] static inline int FormatInteger(int64_t value, char* buf) {
  const uint64_t u = value < 0 ? 0 - uint64_t(value) : uint64_t(value);
  char* p = buf;
  if (value < 0) *p++ = '-';
  if (u < 100000000) {
    p += WriteDigits(p, uint32_t(u));
  } else {
    p += WriteDigits(p, uint32_t(u / 100000000));
    const uint64_t low = EightDigits(uint32_t(u % 100000000)) + kZeroDigits;
    std::memcpy(p, &low, sizeof low);
    p += 8;
  }
  *p = '\0';
  return int(p - buf);
}

[[gnu::noinline]] static int FormatFraction(double n, char* buf) {
  auto r = std::to_chars(buf, buf + kNumberBufferSize - 1, n, std::chars_format::general, 14);
  *r.ptr = '\0';
  return int(r.ptr - buf);
}

// VmNumberToString, inline where joins format numbers; the rest (fractions, large and special
// values) takes a call.
[[gnu::always_inline]] static inline int FormatNumber(double n, char* buf) {
  // Integers below 10^14 print all their digits under "%.14g" (-0 keeps its sign there).
  if (n > -1e14 && n < 1e14) {
    const auto i = static_cast<int64_t>(n);
    if (double(i) == n && !(i == 0 && std::signbit(n))) return FormatInteger(i, buf);
  }
  return FormatFraction(n, buf);
}

int VmNumberToString(double n, char* buf) { return FormatNumber(n, buf); }

int VmFormatNumberG(double n, char* buf) {
  auto r = std::to_chars(buf, buf + kNumberBufferSize - 1, n, std::chars_format::general, 6);
  *r.ptr = '\0';
  return int(r.ptr - buf);
}

static bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

static int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The magnitude class of a decimal text that does not fit a double: huge or tiny.
static double OutOfRangeValue(const char* s, const char* end) {
  bool negative = *s == '-';
  if (*s == '-' || *s == '+') ++s;
  long exponent = 0;  // decimal exponent of the first significant digit
  bool seenDigit = false;
  bool afterPoint = false;
  long position = 0;
  for (; s < end && (IsDigit(*s) || *s == '.'); ++s) {
    if (*s == '.') {
      afterPoint = true;
      continue;
    }
    if (!seenDigit && *s == '0') {
      if (afterPoint) --position;
      continue;
    }
    if (!seenDigit) {
      seenDigit = true;
      exponent = afterPoint ? position - 1 : 0;
    } else if (!afterPoint) {
      ++exponent;
    }
  }
  if (s < end && (*s == 'e' || *s == 'E')) {
    ++s;
    bool negativeExponent = s < end && *s == '-';
    if (s < end && (*s == '-' || *s == '+')) ++s;
    long e = 0;
    for (; s < end && IsDigit(*s); ++s) e = std::min(e * 10 + (*s - '0'), 100000L);
    exponent += negativeExponent ? -e : e;
  }
  double v = exponent > 0 ? HUGE_VAL : 0.0;
  return negative ? -v : v;
}

bool VmStringToNumber(const char* s, size_t len, double* out) {
  const char* p = s;
  const char* end = s + len;
  while (p < end && IsSpace(*p)) ++p;
  const char* digits = nullptr;
  if (p < end && *p == '$')
    digits = p + 1;
  else if (end - p > 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X'))
    digits = p + 2;
  if (digits != nullptr) {
    uint64_t v = 0;
    const char* q = digits;
    for (int h; q < end && (h = HexValue(*q)) >= 0; ++q)
      v = std::min<uint64_t>(v * 16 + h, 0xFFFFFFFFu);
    if (q == digits) return false;
    while (q < end && IsSpace(*q)) ++q;
    if (q != end) return false;
    *out = double(v);
    return true;
  }
  // [+-] digits [. digits] [e [+-] digits], with at least one mantissa digit.
  const char* start = p;
  if (p < end && (*p == '+' || *p == '-')) ++p;
  int mantissa = 0;
  while (p < end && IsDigit(*p)) ++p, ++mantissa;
  if (p < end && *p == '.') {
    ++p;
    while (p < end && IsDigit(*p)) ++p, ++mantissa;
  }
  if (mantissa == 0) return false;
  if (p < end && (*p == 'e' || *p == 'E')) {
    const char* q = p + 1;
    if (q < end && (*q == '+' || *q == '-')) ++q;
    if (q < end && IsDigit(*q)) {
      while (q < end && IsDigit(*q)) ++q;
      p = q;
    }
  }
  const char* numberEnd = p;
  while (p < end && IsSpace(*p)) ++p;
  if (p != end) return false;
  const char* first = (*start == '+') ? start + 1 : start;
  double v = 0;
  auto r = std::from_chars(first, numberEnd, v, std::chars_format::general);
  if (r.ec == std::errc::result_out_of_range)
    v = OutOfRangeValue(start, numberEnd);
  else if (r.ec != std::errc() || r.ptr != numberEnd)
    return false;
  *out = v;
  return true;
}

bool VmToNumberValue(const qvScriptValue* v, double* out) {
  switch (v->type) {
    case kTypeNumber:
      *out = v->value.n;
      return true;
    case kTypeNil:
      *out = 0;
      return true;
    case kTypeString:
      return VmStringToNumber(StringOf(v)->data(), StringOf(v)->len, out);
    default:
      return false;
  }
}

bool VmToStringInPlace(qvScriptState* L, qvScriptValue* v) {
  switch (v->type) {
    case kTypeString:
      return true;
    case kTypeNumber: {
      char buf[kNumberBufferSize];
      int n = VmNumberToString(v->value.n, buf);
      SetString(v, VmInternString(L, buf, size_t(n)));
      return true;
    }
    case kTypeNil:
      SetString(v, VmInternString(L, "", 0));
      return true;
    default:
      return false;
  }
}

// ---- metamethod calls ----

// f(a, b) with one result.
static qvScriptValue CallMetaResult(qvScriptState* L, const qvScriptValue* f,
                                    const qvScriptValue* a, const qvScriptValue* b) {
  qvScriptValue* top = L->top;  // the slots above the top exist (see kExtraStack)
  top[0] = *f;
  top[1] = *a;
  top[2] = *b;
  L->top = top + 3;
  VmCallChecked(L, L->top - 3, 1);
  --L->top;
  return *L->top;
}

// A metamethod result is false when nil or the number 0.
static bool MetaResultTrue(const qvScriptValue* v) {
  return !(IsNil(v) || (IsNumber(v) && v->value.n == 0) ||
           (v->type == kTypeBoolean && v->value.b == 0));
}

// The metamethod of the event when both values have the same one, else null.
static const qvScriptValue* CommonMeta(qvScriptState* L, const qvScriptValue* a,
                                       const qvScriptValue* b, qvEvent event) {
  const qvScriptValue* tm1 = VmGetMetamethod(L, a, event);
  if (IsNil(tm1)) return nullptr;
  const qvScriptValue* tm2 = VmGetMetamethod(L, b, event);
  return RawEqualValues(tm1, tm2) ? tm1 : nullptr;
}

// ---- comparison ----

[[noreturn]] static void MixedTypes(qvScriptState* L, const qvScriptValue* a,
                                    const qvScriptValue* b) {
  bool numStr = (IsNumber(a) && IsString(b)) || (IsString(a) && IsNumber(b));
  VmRaiseError(L, numStr ? ERR_NUMSTRCMP : ERR_WRONGOP);
}

bool VmEqualValue(qvScriptState* L, const qvScriptValue* a, const qvScriptValue* b) {
  if (a->type == b->type) {
    switch (a->type) {
      case kTypeNil:
        return true;
      case kTypeNumber:
        return a->value.n == b->value.n;
      case kTypeBoolean:
        return a->value.b == b->value.b;
      case kTypeTable:
      case kTypeUserdata: {
        if (a->value.gc == b->value.gc) return true;
        qvTable* mt1 = VmMetatableOf(a);
        qvTable* mt2 = VmMetatableOf(b);
        const qvScriptValue* tm1 = VmFastMeta(L, mt1, kEventEq);
        if (tm1 == nullptr) return false;
        if (mt1 != mt2) {
          const qvScriptValue* tm2 = VmFastMeta(L, mt2, kEventEq);
          if (tm2 == nullptr || !RawEqualValues(tm1, tm2)) return false;
        }
        qvScriptValue r = CallMetaResult(L, tm1, a, b);
        return MetaResultTrue(&r);
      }
      default:
        return a->value.p == b->value.p;
    }
  }
  // nil equals 0 and the empty string.
  if (IsNil(a) || IsNil(b)) {
    const qvScriptValue* o = IsNil(a) ? b : a;
    if (IsNumber(o)) return o->value.n == 0;
    if (IsString(o)) return StringOf(o)->len == 0;
    return false;
  }
  MixedTypes(L, a, b);
}

static int CompareStrings(qvScriptState* L, qvString* ls, qvString* rs, bool byteOrder) {
  // The case-insensitive order reads the texts up to their NULs.
  const char* l = byteOrder ? ls->data() : VmStringText(L, ls);
  const char* r = byteOrder ? rs->data() : VmStringText(L, rs);
  size_t ll = ls->len;
  size_t lr = rs->len;
  if (byteOrder) {
    int c = std::memcmp(l, r, std::min(ll, lr));
    if (c != 0) return c;
    return ll < lr ? -1 : (ll > lr ? 1 : 0);
  }
  // Case-insensitive, piece by piece across embedded NULs.
  for (;;) {
    int c = StrCaseCmp(l, r);
    if (c != 0) return c;
    size_t len = std::strlen(l);
    if (len == lr) return len == ll ? 0 : 1;
    if (len == ll) return -1;
    ++len;
    l += len;
    ll -= len;
    r += len;
    lr -= len;
  }
}

// Ordering when one side is nil: against a number nil is 0, against nil or a string the answer
// is fixed; anything else is an error.
static bool NilOrder(qvScriptState* L, const qvScriptValue* a, const qvScriptValue* b, bool orEqual,
                     bool* result) {
  if (!IsNil(a) && !IsNil(b)) return false;
  if (IsNil(a) && IsNil(b)) {
    *result = orEqual;
  } else {
    const qvScriptValue* o = IsNil(a) ? b : a;
    if (IsNumber(o)) {
      double x = IsNil(a) ? 0 : a->value.n;
      double y = IsNil(b) ? 0 : b->value.n;
      *result = orEqual ? x <= y : x < y;
    } else if (IsString(o)) {
      *result = false;
    } else {
      VmRaiseError(L, ERR_WRONGOP);
    }
  }
  return true;
}

bool VmLessThanValue(qvScriptState* L, const qvScriptValue* a, const qvScriptValue* b,
                     bool byteOrder) {
  if (IsNumber(a) && IsNumber(b)) return a->value.n < b->value.n;
  if (IsString(a) && IsString(b)) return CompareStrings(L, StringOf(a), StringOf(b), byteOrder) < 0;
  bool result;
  if (NilOrder(L, a, b, false, &result)) return result;
  if (a->type != b->type) MixedTypes(L, a, b);
  const qvScriptValue* tm = CommonMeta(L, a, b, kEventLt);
  if (tm == nullptr) VmRaiseError(L, ERR_WRONGOP);
  qvScriptValue r = CallMetaResult(L, tm, a, b);
  return MetaResultTrue(&r);
}

bool VmLessEqualValue(qvScriptState* L, const qvScriptValue* a, const qvScriptValue* b) {
  if (IsNumber(a) && IsNumber(b)) return a->value.n <= b->value.n;
  if (IsString(a) && IsString(b)) return CompareStrings(L, StringOf(a), StringOf(b), true) <= 0;
  bool result;
  if (NilOrder(L, a, b, true, &result)) return result;
  if (a->type != b->type) MixedTypes(L, a, b);
  if (const qvScriptValue* tm = CommonMeta(L, a, b, kEventLe)) {
    qvScriptValue r = CallMetaResult(L, tm, a, b);
    return MetaResultTrue(&r);
  }
  if (const qvScriptValue* tm = CommonMeta(L, b, a, kEventLt)) {  // not (b < a)
    qvScriptValue r = CallMetaResult(L, tm, b, a);
    return !MetaResultTrue(&r);
  }
  VmRaiseError(L, ERR_WRONGOP);
}

// ---- arithmetic ----

void VmRaiseZeroDivision(qvScriptState* L) { VmRaiseError(L, ERR_ZERODIVISION); }

qvScriptValue VmArith(qvScriptState* L, const qvScriptValue* a, const qvScriptValue* b,
                      qvEvent op) {
  double x, y;
  if (VmToNumberValue(a, &x) && VmToNumberValue(b, &y)) {
    qvScriptValue r;
    SetNumber(&r, ArithNumbers(L, op, x, y));
    return r;
  }
  const qvScriptValue* tm = VmGetMetamethod(L, a, op);
  if (IsNil(tm)) tm = VmGetMetamethod(L, b, op);
  if (!IsFunction(tm)) VmRaiseError(L, ERR_WRONGOP);
  return CallMetaResult(L, tm, a, b);
}

// ---- concatenation ----

// The longest string a concatenation may build; longer totals raise ERR_INTERNAL.
constexpr uint64_t kMaxConcatLength = 4294967293u;
// The largest block VmRealloc accepts: the buffer's growth stops there instead of doubling past
// it, so every total the allocator can hold is built.
constexpr size_t kMaxConcatBuffer = 0xFFFFFFFCu;

// The concatenation buffer, grown to hold at least n bytes (32 at least).
static char* OpenSpace(qvScriptState* L, size_t n) {
  qvScriptGlobal* g = G(L);
  if (n > g->buffsize) {
    if (n < 32) n = 32;
    g->buffer = static_cast<char*>(VmRealloc(L, g->buffer, g->buffsize, n));
    g->buffsize = n;
  }
  return g->buffer;
}

// A number joined within kNumberBufferSize bytes of the longest buffer: formatted aside, so that
// only a total above the length limit raises. Returns the new length.
[[gnu::noinline]] static size_t AppendNumberAtLimit(qvScriptState* L, double n, size_t pos) {
  char number[kNumberBufferSize];
  const auto len = size_t(VmNumberToString(n, number));
  if (uint64_t(pos) + len > kMaxConcatLength) VmRaiseError(L, ERR_INTERNAL);
  const size_t size = G(L)->buffsize;
  char* buffer = G(L)->buffer;
  if (pos + len > size)
    buffer = OpenSpace(L, std::max(pos + len, std::min(2 * size, kMaxConcatBuffer)));
  std::memcpy(buffer + pos, number, len);
  return pos + len;
}

// Strings, numbers ("%.14g") and nil ("") join without a metamethod.
static bool Joinable(const qvScriptValue* v) { return IsString(v) || IsNumber(v) || IsNil(v); }

// The string of a joined text. A key read from a table is most often there: that table's own key
// string, found there, costs no look into the string table. A key to store is most often new,
// which the string table's probe shows without a look into the table.
[[gnu::always_inline]] static inline qvString* InternJoined(qvScriptState* L, const char* text,
                                                            size_t len, qvJoinedKey keyOf) {
  const qvTable* t = keyOf.table;
  if (t == nullptr) return VmInternString(L, text, len);
  const uint32_t h = VmHashString(text, len);
  if (!keyOf.store) {
    qvString* s = VmTableFindStringKey(t, text, len, h);
    return s != nullptr ? s : VmInternHashed(L, text, len, h);
  }
  // The node that the store reads next is fetched while the string table is probed.
  __builtin_prefetch(HashPow2(t, h));
  return VmInternKey(L, text, len, h, t);
}

// The longest string that the join of two values copies into its own buffer.
constexpr size_t kShortJoinPart = 64;
static_assert(kShortJoinPart >= kNumberBufferSize, "a number is formatted in place");

// The join of two strings or numbers, by far the most common (a key made of a name and a
// number), built on the stack: none of the general join's buffer bookkeeping. False, with
// nothing changed, when a value is of another type or a string longer than kShortJoinPart.
static bool JoinTwoShort(qvScriptState* L, qvScriptValue* top, qvJoinedKey keyOf) {
  char text[2 * kShortJoinPart];
  size_t pos = 0;
  const auto append = [&](const qvScriptValue* v) {
    if (IsNumber(v)) {
      pos += size_t(FormatNumber(v->value.n, text + pos));
      return true;
    }
    if (!IsString(v) || StringOf(v)->len > kShortJoinPart) return false;
    CopyTextBytes(text + pos, StringOf(v)->data(), StringOf(v)->len);
    pos += StringOf(v)->len;
    return true;
  };
  if (!append(top - 2) || !append(top - 1)) return false;
  SetString(top - 2, InternJoined(L, text, pos, keyOf));
  return true;
}

// A left string from this length on is appended to in a text block (see qvTextBlock): its
// copy no longer fits a pool block, and a script that appends to it again and again would copy
// it whole every time.
constexpr size_t kAppendFrom = kPoolMaxBlock - kStringHeaderBytes;

// The join of the n values from `first` on, the first a string of kAppendFrom characters or more:
// the rest written after it in its text block where it ends that block and the block has room,
// else into a new block, so that a string grown piece by piece is copied a bounded number of
// times in all. False, with nothing changed, for a total too large for a block (the general
// join then raises what it raises).
static bool AppendJoin(qvScriptState* L, qvScriptValue* first, int n) {
  qvString* s = StringOf(first);
  uint64_t most = s->len;  // the total length at most: a number takes kNumberBufferSize
  for (int i = 1; i < n; ++i)
    most += IsString(first + i)   ? StringOf(first + i)->len
            : IsNumber(first + i) ? kNumberBufferSize
                                  : 0;
  constexpr uint64_t kMostRoom = kMaxConcatBuffer - sizeof(qvTextBlock) - 1;
  if (most > kMostRoom || most > kMaxConcatLength) return false;
  qvTextBlock* b = InTextBlock(s) ? BlockOf(s) : nullptr;
  qvTextBlock* fresh = nullptr;  // a block made here, which no string holds yet
  if (b == nullptr || b->fill != s->len || b->sealed != 0 || b->room() < most) {
    // A string already appended to is likely to be appended to again: room for as much again.
    // The first append to a plain string takes only what it needs.
    fresh = VmNewTextBlock(L, size_t(b != nullptr ? std::min(2 * most, kMostRoom) : most));
    std::memcpy(fresh->text(), s->data(), s->len);
    b = fresh;
  }
  char* text = b->text();
  size_t pos = s->len;
  for (int i = 1; i < n; ++i) {
    const qvScriptValue* v = first + i;
    if (IsString(v)) {
      std::memcpy(text + pos, StringOf(v)->data(), StringOf(v)->len);
      pos += StringOf(v)->len;
    } else if (IsNumber(v)) {
      pos += size_t(FormatNumber(v->value.n, text + pos));
    }
  }
  qvString* r;
  try {
    r = VmInternAppended(L, b, pos);
  } catch (...) {
    if (fresh != nullptr)
      VmFreeTextBlock(L, fresh);
    else
      text[b->fill] = '\0';  // what was written past it is nobody's
    throw;
  }
  if (fresh != nullptr && fresh->refs == 0) VmFreeTextBlock(L, fresh);
  SetString(first, r);
  return true;
}

[[gnu::noinline]] static void JoinValues(qvScriptState* L, int total, int last, qvJoinedKey keyOf) {
  do {
    qvScriptValue* top = L->base + last + 1;
    int n = 2;  // values joined in this pass
    if (!Joinable(top - 2) || !Joinable(top - 1)) {
      const qvScriptValue* tm = VmGetMetamethod(L, top - 2, kEventConcat);
      if (IsNil(tm)) tm = VmGetMetamethod(L, top - 1, kEventConcat);
      if (!IsFunction(tm)) VmRaiseError(L, ERR_CONCAT);
      qvScriptValue r = CallMetaResult(L, tm, top - 2, top - 1);
      L->base[last - 1] = r;
    } else {
      while (n < total && Joinable(top - n - 1)) ++n;
      if (IsString(top - n) && StringOf(top - n)->len >= kAppendFrom && AppendJoin(L, top - n, n)) {
        total -= n - 1;
        last -= n - 1;
        continue;
      }
      // Numbers are formatted straight into the buffer; only the result is interned.
      size_t pos = 0;
      size_t size = G(L)->buffsize;
      char* buffer = G(L)->buffer;
      for (int i = n; i > 0; --i) {
        const qvScriptValue* v = top - i;
        if (IsNumber(v) && pos + kNumberBufferSize <= kMaxConcatBuffer) {
          if (pos + kNumberBufferSize > size) {
            buffer = OpenSpace(
                L, std::max(pos + kNumberBufferSize, std::min(2 * size, kMaxConcatBuffer)));
            size = G(L)->buffsize;
          }
          pos += size_t(FormatNumber(v->value.n, buffer + pos));
          continue;
        }
        if (IsString(v)) {
          const size_t len = StringOf(v)->len;
          if (uint64_t(pos) + len > kMaxConcatLength) VmRaiseError(L, ERR_INTERNAL);
          if (pos + len > size) {
            buffer = OpenSpace(L, std::max(pos + len, std::min(2 * size, kMaxConcatBuffer)));
            size = G(L)->buffsize;
          }
          if (len > 0) std::memcpy(buffer + pos, StringOf(v)->data(), len);
          pos += len;
        } else if (IsNumber(v)) {
          pos = AppendNumberAtLimit(L, v->value.n, pos);
          buffer = G(L)->buffer;
          size = G(L)->buffsize;
        }
      }
      SetString(top - n,
                InternJoined(L, pos > 0 ? buffer : "", pos, n == total ? keyOf : qvJoinedKey{}));
    }
    total -= n - 1;
    last -= n - 1;
  } while (total > 1);
}

void VmConcatValues(qvScriptState* L, int total, int last, qvJoinedKey keyOf) {
  if (total == 2 && JoinTwoShort(L, L->base + last + 1, keyOf)) return;
  JoinValues(L, total, last, keyOf);
}

// ---- tables ----

constexpr int kMaxTagLoop = 100;

[[noreturn]] static void MissingField(qvScriptState* L, const qvScriptValue* key) {
  char text[512];
  if (IsNumber(key)) {
    VmFormatNumberG(key->value.n, text);
  } else if (IsString(key)) {
    std::snprintf(text, sizeof text, "\"%s\"", VmStringText(L, StringOf(key)));
  } else {
    std::snprintf(text, sizeof text, "?");
  }
  SetErrorString(text);
  VmRaiseError(L, ERR_FIELDINIT);
}

qvScriptValue VmGetTableValue(qvScriptState* L, const qvScriptValue* t, const qvScriptValue* key,
                              qvMissing missing) {
  for (int loop = 0; loop < kMaxTagLoop; ++loop) {
    const qvScriptValue* tm;
    if (IsTable(t)) {
      qvTable* h = TableOf(t);
      const qvScriptValue v = VmTableGetValue(h, key);
      if (!IsNil(&v)) return v;
      tm = VmFastMeta(L, h->metatable, kEventIndex);
      if (tm == nullptr) {
        if (missing == qvMissing::kRaise) MissingField(L, key);
        return kNilValue;
      }
    } else {
      tm = VmGetMetamethod(L, t, kEventIndex);
      if (IsNil(tm)) VmTypeError(L, t, ERR_TABLEDECLA, "{}");
    }
    if (IsFunction(tm)) return CallMetaResult(L, tm, t, key);
    t = tm;
  }
  SetErrorString("#1");
  VmRaiseError(L, ERR_INTERNAL1);
}

void VmSetTableValue(qvScriptState* L, const qvScriptValue* t, const qvScriptValue* key,
                     const qvScriptValue* val) {
  for (int loop = 0; loop < kMaxTagLoop; ++loop) {
    const qvScriptValue* tm;
    if (IsTable(t)) {
      qvTable* h = TableOf(t);
      // Present keys are written raw, and missing ones where no "__newindex" asks for them.
      const qvScriptValue old = VmTableGetValue(h, key);
      if (!IsNil(&old) || (tm = VmFastMeta(L, h->metatable, kEventNewIndex)) == nullptr) {
        VmTableSetValue(L, h, key, val);
        return;
      }
    } else {
      tm = VmGetMetamethod(L, t, kEventNewIndex);
      if (IsNil(tm)) VmTypeError(L, t, ERR_TABLEDECLA, "{}");
    }
    if (IsFunction(tm)) {
      qvScriptValue* top = L->top;
      top[0] = *tm;
      top[1] = *t;
      top[2] = *key;
      top[3] = *val;
      L->top = top + 4;
      VmCallChecked(L, L->top - 4, 0);
      return;
    }
    t = tm;
  }
  SetErrorString("#2");
  VmRaiseError(L, ERR_INTERNAL1);
}

}  // namespace qv
