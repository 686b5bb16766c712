// Cutting, joining, padding and case: the string commands that build one string from parts of
// their arguments. Positions count from 0; counts past either end are clipped.
#include <algorithm>
#include <cstdio>
#include <string>

#include "base/errors.h"
#include "base/support.h"
#include "core/args.h"
#include "libs/string/commands.h"
#include "libs/string/string_args.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

using strlib::CheckCount;
using strlib::Guard;
using strlib::OptCount;

namespace {

// The bytes of a string through a 256-byte table.
int32_t MapBytes(qvScriptState* L, const uint8_t* table) {
  CheckArgCount(L, 1, 1);
  size_t len;
  const char* s = VmCheckString(L, 1, &len);
  return Guard([&] {
    std::string out(s, len);
    for (char& c : out) c = char(table[uint8_t(c)]);
    VmPushLString(L, out.data(), out.size());
    return 1;
  });
}

void PushPart(qvScriptState* L, const char* s, int64_t from, int64_t count) {
  VmPushLString(L, s + from, size_t(count));
}

}  // namespace

// LowerStr(s)
int32_t LowerStr(qvScriptState* L) { return MapBytes(L, kLowerCase); }

// UpperStr(s)
int32_t UpperStr(qvScriptState* L) { return MapBytes(L, kUpperCase); }

// UnrightStr(s, n): s without its first n bytes.
int32_t UnrightStr(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  size_t len;
  const char* s = VmCheckString(L, 1, &len);
  int64_t n = CheckCount(L, 2);
  if (n < 0) return ERR_WRONGUSAGE;
  n = std::min<int64_t>(n, int64_t(len));
  PushPart(L, s, n, int64_t(len) - n);
  return 1;
}

// UnleftStr(s, n): s without its last n bytes.
int32_t UnleftStr(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  size_t len;
  const char* s = VmCheckString(L, 1, &len);
  int64_t n = CheckCount(L, 2);
  if (n < 0) return ERR_WRONGUSAGE;
  n = std::min<int64_t>(n, int64_t(len));
  PushPart(L, s, 0, int64_t(len) - n);
  return 1;
}

// Chr(code): a one-byte string; code 0 gives "".
int32_t Chr(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  int64_t code = CheckCount(L, 1);
  if (code < 0 || code > 255) return ERR_WRONGUSAGE;
  char c = char(code);
  VmPushLString(L, &c, code == 0 ? 0 : 1);
  return 1;
}

// MidStr(s, position, length): the bytes of [position, position + length) that lie in s.
int32_t MidStr(qvScriptState* L) {
  CheckArgCount(L, 3, 3);
  size_t len;
  const char* s = VmCheckString(L, 1, &len);
  int64_t pos = CheckCount(L, 2);
  int64_t count = CheckCount(L, 3);
  // A negative position takes the part of the window that reaches into the string.
  int64_t from = std::max<int64_t>(pos, 0);
  int64_t to = std::min<int64_t>(pos + count, int64_t(len));
  if (count < 1 || pos >= int64_t(len) || to <= from) {
    VmPushLString(L, "", 0);
  } else {
    PushPart(L, s, from, to - from);
  }
  return 1;
}

// RightStr(s, n): the last n bytes.
int32_t RightStr(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  size_t len;
  const char* s = VmCheckString(L, 1, &len);
  int64_t n = std::clamp<int64_t>(CheckCount(L, 2), 0, int64_t(len));
  PushPart(L, s, int64_t(len) - n, n);
  return 1;
}

// LeftStr(s, n): the first n bytes.
int32_t LeftStr(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  size_t len;
  const char* s = VmCheckString(L, 1, &len);
  int64_t n = std::clamp<int64_t>(CheckCount(L, 2), 0, int64_t(len));
  PushPart(L, s, 0, n);
  return 1;
}

// AddStr(a, b)
int32_t AddStr(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  VmCheckString(L, 1);
  VmCheckString(L, 2);
  VmSetTop(L, 2);
  VmConcat(L, 2);
  return 1;
}

// Asc(s): the first byte, 0 for "".
int32_t Asc(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  size_t len;
  const char* s = VmCheckString(L, 1, &len);
  VmPushNumber(L, len == 0 ? 0 : uint8_t(s[0]));
  return 1;
}

// StrLen(s): the byte length.
int32_t StrLen(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  size_t len;
  VmCheckString(L, 1, &len);
  VmPushNumber(L, double(len));
  return 1;
}

// PadNum(n, width): n in decimal, zeros on the left up to width.
int32_t PadNum(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  int64_t n = CheckCount(L, 1);
  int64_t width = CheckCount(L, 2);
  if (n < 0 || width < 1 || n > INT32_MAX) return ERR_WRONGUSAGE;
  char digits[16];
  int used = std::snprintf(digits, sizeof digits, "%d", int(n));
  return Guard([&] {
    std::string out;
    if (width > used) out.assign(size_t(width - used), '0');
    out.append(digits, size_t(used));
    VmPushLString(L, out.data(), out.size());
    return 1;
  });
}

// StrToArray(s): t[i] = byte i from 0, and a 0 after the last byte.
int32_t StrToArray(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  size_t len;
  const char* s = VmCheckString(L, 1, &len);
  if (len >= size_t(INT32_MAX)) return ERR_MEM;
  VmNewTable(L);
  for (size_t i = 0; i < len; ++i) {
    VmPushNumber(L, uint8_t(s[i]));
    VmRawSetI(L, -2, int(i));
  }
  VmPushNumber(L, 0);
  VmRawSetI(L, -2, int(len));
  return 1;
}

// TrimStr(s, character, side): side 0 trims the front, any other side the back.
int32_t TrimStr(qvScriptState* L) {
  CheckArgCount(L, 3, 3);
  size_t len, charLen;
  const char* s = VmCheckString(L, 1, &len);
  const char* ch = VmCheckString(L, 2, &charLen);
  int64_t side = CheckCount(L, 3);
  if (charLen != 1) return ERR_WRONGUSAGE;
  size_t from = 0, to = len;
  if (side == 0) {
    while (from < to && s[from] == ch[0]) ++from;
  } else {
    while (to > from && s[to - 1] == ch[0]) --to;
  }
  VmPushLString(L, s + from, to - from);
  return 1;
}

// UnmidStr(s, position, length): s without [position, position + length).
int32_t UnmidStr(qvScriptState* L) {
  CheckArgCount(L, 3, 3);
  size_t len;
  const char* s = VmCheckString(L, 1, &len);
  int64_t pos = CheckCount(L, 2);
  int64_t count = CheckCount(L, 3);
  if (pos < 0 || count < 0) return ERR_WRONGUSAGE;
  // A position past the end removes nothing.
  int64_t from = std::min<int64_t>(pos, int64_t(len));
  int64_t to = std::min<int64_t>(from + count, int64_t(len));
  return Guard([&] {
    std::string out(s, size_t(from));
    out.append(s + to, len - size_t(to));
    VmPushLString(L, out.data(), out.size());
    return 1;
  });
}

// InsertStr(s, insert, position, overwrite): insert placed at position (clipped to the end),
// either pushing the rest back or taking the place of as many bytes.
int32_t InsertStr(qvScriptState* L) {
  CheckArgCount(L, 3, 4);
  size_t len, insLen;
  const char* s = VmCheckString(L, 1, &len);
  const char* ins = VmCheckString(L, 2, &insLen);
  int64_t pos = CheckCount(L, 3);
  bool overwrite = OptCount(L, 4, 0) != 0;
  if (pos < 0) return ERR_WRONGUSAGE;
  size_t at = size_t(std::min<int64_t>(pos, int64_t(len)));
  size_t rest = overwrite ? std::min(len, at + insLen) : at;
  return Guard([&] {
    std::string out(s, at);
    out.append(ins, insLen);
    out.append(s + rest, len - rest);
    VmPushLString(L, out.data(), out.size());
    return 1;
  });
}

// RepeatStr(s, n): s n times.
int32_t RepeatStr(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  size_t len;
  const char* s = VmCheckString(L, 1, &len);
  int64_t n = CheckCount(L, 2);
  if (n < 1) return ERR_WRONGUSAGE;
  // No script string reaches 2^31 bytes; refuse before multiplying into an allocation.
  if (len != 0 && uint64_t(n) > uint64_t(INT32_MAX) / len) return ERR_MEM;
  return Guard([&] {
    std::string out;
    out.reserve(len * size_t(n));
    for (int64_t i = 0; i < n; ++i) out.append(s, len);
    VmPushLString(L, out.data(), out.size());
    return 1;
  });
}

}  // namespace qv::cmd
