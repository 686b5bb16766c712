// The pattern commands: an iterator over the matches of a pattern, and replacement of matches
// by a template or by what a script function returns. The matcher itself is core/pattern.
#include <string>

#include "base/errors.h"
#include "core/args.h"
#include "core/pattern.h"
#include "libs/string/commands.h"
#include "libs/string/string_args.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

namespace {

// The replacement function ended the script: the command ends without results.
constexpr int32_t kScriptEndedInCallback = -1;

// Pushes the captures of the last match (the whole match when there are none). Returns their
// count or an error code.
int32_t PushCaptures(qvScriptState* L, const qvPatternMatch& m, const char* start, const char* end) {
  int n = m.level == 0 ? 1 : m.level;
  if (!VmCheckStack(L, n)) return ERR_STACK;
  for (int i = 0; i < n; ++i) {
    const char* text;
    size_t len, position;
    int32_t code = PatternCapture(&m, i, start, end, &text, &len, &position);
    if (code != 0) return code;
    if (text == nullptr) {
      VmPushNumber(L, double(position));
    } else {
      VmPushLString(L, text, len);
    }
  }
  return n;
}

// The iterator: upvalues 1 subject, 2 pattern, 3 the offset to search from.
int32_t NextMatch(qvScriptState* L) {
  size_t len, patLen;
  const char* s = VmToString(L, VmUpvalueIndex(1));
  len = VmStrLen(L, VmUpvalueIndex(1));
  const char* p = VmToString(L, VmUpvalueIndex(2));
  patLen = VmStrLen(L, VmUpvalueIndex(2));
  size_t offset = size_t(VmToNumber(L, VmUpvalueIndex(3)));
  qvPatternMatch m;
  PatternBegin(&m, s, len, p, patLen);
  // Offsets run up to the end itself, where an empty match can still be found.
  for (size_t at = offset; at <= len; ++at) {
    const char* src = s + at;
    const char* e;
    int32_t code = PatternMatchAt(&m, src, p, &e);
    if (code != 0) return code;
    if (e != nullptr) {
      // An empty match moves on by one byte, so the loop always ends.
      size_t next = size_t(e - s) + (e == src ? 1 : 0);
      VmPushNumber(L, double(next));
      VmReplace(L, VmUpvalueIndex(3));
      return PushCaptures(L, m, src, e);
    }
  }
  VmPushNumber(L, double(len) + 1);
  VmReplace(L, VmUpvalueIndex(3));
  return 0;
}

// Appends the replacement of one match: the template with "%1".."%9" as captures, or what the
// function at index 3 returns for the captures.
int32_t AddReplacement(qvScriptState* L, const qvPatternMatch& m, const char* start, const char* end,
                       std::string* out) {
  if (VmType(L, 3) == kTypeFunction) {
    VmPushValue(L, 3);
    int32_t n = PushCaptures(L, m, start, end);
    if (n >= kFirstErrorCode) {
      VmSetTop(L, 4);
      return n;
    }
    int32_t word = VmCall(L, n, 1);
    if (word >= kFirstErrorCode) return word;
    if (VmGetEndFlag(L)) return kScriptEndedInCallback;
    int32_t type = VmType(L, -1);
    if (type == kTypeString || type == kTypeNumber) {
      size_t len;
      const char* text = VmToString(L, -1);
      len = VmStrLen(L, -1);
      out->append(text, len);
    }
    VmSetTop(L, 4);
    return 0;
  }
  size_t len;
  const char* tmpl = VmToString(L, 3);
  len = VmStrLen(L, 3);
  for (size_t i = 0; i < len; ++i) {
    char c = tmpl[i];
    if (c != '%' || i + 1 == len) {
      out->push_back(c);
      continue;
    }
    c = tmpl[++i];
    if (c < '0' || c > '9') {
      out->push_back(c);
      continue;
    }
    // "%0", and any digit when the pattern has no captures, name no capture.
    int index = c - '1';
    if (index < 0 || index >= m.level) return ERR_INVCAPIDX;
    const char* text;
    size_t textLen, position;
    int32_t code = PatternCapture(&m, index, start, end, &text, &textLen, &position);
    if (code != 0) return code == ERR_UNFINISHEDCAPTURE ? ERR_INVCAPIDX : code;
    if (text == nullptr) {
      *out += std::to_string(position);
    } else {
      out->append(text, textLen);
    }
  }
  return 0;
}

}  // namespace

// PatternFindStr(s, pattern): an iterator over the matches for a generic for loop.
int32_t PatternFindStr(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  VmCheckString(L, 1);
  VmCheckString(L, 2);
  VmSetTop(L, 2);
  VmPushNumber(L, 0);
  VmPushCClosure(L, NextMatch, 3);
  return 1;
}

// PatternReplaceStr(s, pattern, replacement, maximum): the new string and the number of
// replacements.
int32_t PatternReplaceStr(qvScriptState* L) {
  CheckArgCount(L, 3, 4);
  size_t len, patLen;
  const char* s = VmCheckString(L, 1, &len);
  const char* p = VmCheckString(L, 2, &patLen);
  int32_t type = VmType(L, 3);
  if (type != kTypeString && type != kTypeNumber && type != kTypeFunction) return ERR_WRONGUSAGE;
  if (type == kTypeNumber) VmCheckString(L, 3);
  int64_t maximum = strlib::OptCount(L, 4, int64_t(len) + 1);
  VmSetTop(L, 4);
  const bool anchor = patLen > 0 && p[0] == '^';
  if (anchor) {
    ++p;
    --patLen;
  }
  return strlib::Guard([&]() -> int32_t {
    qvPatternMatch m;
    PatternBegin(&m, s, len, p, patLen);
    std::string out;
    const char* src = s;
    const char* end = s + len;
    int64_t count = 0;
    while (count < maximum) {
      const char* e;
      int32_t code = PatternMatchAt(&m, src, p, &e);
      if (code != 0) return code;
      if (e != nullptr) {
        ++count;
        code = AddReplacement(L, m, src, e, &out);
        if (code == kScriptEndedInCallback) return 0;
        if (code != 0) return code;
      }
      if (e != nullptr && e > src) {
        src = e;
      } else if (src < end) {
        out.push_back(*src++);
      } else {
        break;
      }
      if (anchor) break;
    }
    out.append(src, size_t(end - src));
    VmPushLString(L, out.data(), out.size());
    VmPushNumber(L, double(count));
    return 2;
  });
}

}  // namespace qv::cmd
