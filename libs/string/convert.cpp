// Numbers as text and text as numbers, values as text, and checksums of strings.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/errors.h"
#include "base/support.h"
#include "core/args.h"
#include "core/checksum.h"
#include "core/options.h"
#include "core/value_text.h"
#include "libs/string/commands.h"
#include "libs/string/string_args.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::strlib {

namespace {

bool IsSpaceByte(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

}  // namespace

uint32_t ReadUnsignedInBase(const char* s, size_t len, int base) {
  const char* p = s;
  const char* end = s + len;
  while (p < end && IsSpaceByte(*p)) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = (*p++ == '-');
  if (base == 16 && end - p >= 3 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') &&
      DigitValue(p[2]) < 16)
    p += 2;
  const char* digits = p;
  uint64_t v = 0;
  bool overflow = false;
  for (; p < end && DigitValue(*p) < base; ++p) {
    v = v * uint64_t(base) + uint64_t(DigitValue(*p));
    if (v > 0xFFFFFFFFu) {
      overflow = true;
      v = 0xFFFFFFFFu;
    }
  }
  if (p == digits) return 0;
  while (p < end && IsSpaceByte(*p)) ++p;
  if (p != end) return 0;
  if (overflow) return 0xFFFFFFFFu;
  return negative ? uint32_t(0u - uint32_t(v)) : uint32_t(v);
}

}  // namespace qv::strlib

namespace qv::cmd {

using strlib::CheckCount;
using strlib::OptCount;
using strlib::ReadUnsignedInBase;

// Val(s): the number at the start of s ("-", "$" hexadecimal, else decimal) and how many
// characters it took.
int32_t Val(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  const char* s = VmCheckString(L, 1);
  size_t used = 0;
  int error = 0;
  double v = ParseNumber(s, &used, &error);
  VmPushNumber(L, error != 0 ? 0.0 : v);
  VmPushNumber(L, error != 0 ? 0.0 : double(used));
  return 2;
}

// StrStr(x, digits): x as the machine writes it with at most `digits` digits after the point
// (0 cuts the point, a negative count keeps the point alone); an exponent stays.
int32_t StrStr(qvScriptState* L) {
  CheckArgCount(L, 1, 2);
  double x = VmCheckNumber(L, 1);
  int64_t digits = OptCount(L, 2, 2);
  VmPushNumber(L, x);
  std::string text = VmToString(L, -1);
  size_t point = text.find('.');
  if (point != std::string::npos) {
    size_t fraction = point + 1;
    size_t exponent = fraction;
    while (exponent < text.size() && text[exponent] >= '0' && text[exponent] <= '9') ++exponent;
    size_t keep;
    if (digits == 0) {
      keep = point;
    } else if (digits < 0) {
      keep = fraction;
    } else {
      keep = fraction + size_t(std::min<int64_t>(digits, int64_t(exponent - fraction)));
    }
    text = text.substr(0, keep) + text.substr(exponent);
  }
  VmPushLString(L, text.data(), text.size());
  return 1;
}

// HexStr(value): "$" and the 32-bit word in upper-case hexadecimal.
int32_t HexStr(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  char text[16];
  std::snprintf(text, sizeof text, "$%X", unsigned(uint32_t(VmCheckInt(L, 1))));
  VmPushString(L, text);
  return 1;
}

// BinStr(value, width): binary digits of the 32-bit word (INTEGER), its low 16 bits (SHORT) or
// low 8 bits (BYTE); "" for another width.
int32_t BinStr(qvScriptState* L) {
  CheckArgCount(L, 1, 2);
  uint32_t v = uint32_t(VmCheckInt(L, 1));
  int64_t width = OptCount(L, 2, 1);
  int bits = width == 1 ? 32 : width == 6 ? 16 : width == 7 ? 8 : 0;
  char text[33];
  for (int i = 0; i < bits; ++i) text[i] = (v >> (bits - 1 - i)) & 1 ? '1' : '0';
  VmPushLString(L, text, size_t(bits));
  return 1;
}

// ToString(value): the text of the value.
int32_t ToString(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  PushValueText(L, 1);
  return 1;
}

// ToNumber(s, base): in base 10 the machine's own reading (0 for what it cannot read); in
// bases 2 to 36 an unsigned 32-bit number.
int32_t ToNumber(qvScriptState* L) {
  CheckArgCount(L, 1, 2);
  int64_t base = OptCount(L, 2, 10);
  if (base == 10) {
    VmPushNumber(L, VmToNumber(L, 1));
    return 1;
  }
  if (base < 2 || base > 36) return ERR_WRONGUSAGE;
  size_t len;
  const char* s = VmCheckString(L, 1, &len);
  VmPushNumber(L, ReadUnsignedInBase(s, len, int(base)));
  return 1;
}

// MD5Str(s): the MD5 digest in lower-case hexadecimal (the empty string has one too).
int32_t MD5Str(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  size_t len;
  const char* s = VmCheckString(L, 1, &len);
  char hex[33];
  Md5Hex(s, len, hex);
  VmPushString(L, hex);
  return 1;
}

// CRC32Str(s): the CRC-32 as an unsigned number.
int32_t CRC32Str(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  size_t len;
  const char* s = VmCheckString(L, 1, &len);
  if (len == 0) return ERR_WRONGUSAGE;
  VmPushNumber(L, Crc32(0, s, len));
  return 1;
}

}  // namespace qv::cmd
