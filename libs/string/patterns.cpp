// The pattern commands: an iterator over the matches of a pattern, and replacement of matches
// by a template or by what a script function returns. The matcher itself is core/pattern.
#include <string>

#include "base/errors.h"
#include "core/args.h"
#include "core/pattern.h"
#include "libs/string/commands.h"
#include "libs/string/string_args.h"
#include "platform/loop.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

namespace {

// The replacement function ended the script: the command ends without results.
constexpr int32_t kScriptEndedInCallback = -1;

// A pattern that backtracks for a long time still ends on the user's break (ERR_USERABORT,
// which ends the script quietly).
int32_t PollBreak(void*) { return SyncWindowStates(); }

// Pushes the captures of the last match (the whole match when there are none). Returns their
// count or an error code.
int32_t PushCaptures(qvScriptState* L, const qvPatternMatch& m, const char* start,
                     const char* end) {
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
  m.poll = PollBreak;
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

// A match replaced by what the function at index 3 returns for its captures: a string or a
// number is inserted, anything else removes the match.
class FunctionReplacer final : public qvPatternReplacer {
 public:
  explicit FunctionReplacer(qvScriptState* L) : L_(L) {}
  int32_t Add(const qvPatternMatch& m, const char* start, const char* end,
              std::string* out) override {
    VmPushValue(L_, 3);
    int32_t n = PushCaptures(L_, m, start, end);
    if (n >= kFirstErrorCode) {
      VmSetTop(L_, 4);
      return n;
    }
    int32_t word = VmCall(L_, n, 1);
    if (word >= kFirstErrorCode) return word;
    if (VmGetEndFlag(L_)) return kScriptEndedInCallback;
    int32_t type = VmType(L_, -1);
    if (type == kTypeString || type == kTypeNumber) {
      const char* text = VmToString(L_, -1);
      out->append(text, VmStrLen(L_, -1));
    }
    VmSetTop(L_, 4);
    return 0;
  }

 private:
  qvScriptState* L_;
};

class TemplateReplacer final : public qvPatternReplacer {
 public:
  TemplateReplacer(const char* tmpl, size_t size) : tmpl_(tmpl), size_(size) {}
  int32_t Add(const qvPatternMatch& m, const char* start, const char* end,
              std::string* out) override {
    return PatternExpandTemplate(m, tmpl_, size_, start, end, out);
  }

 private:
  const char* tmpl_;
  size_t size_;
};

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
  return strlib::Guard([&]() -> int32_t {
    std::string out;
    int64_t count = 0;
    int32_t code;
    if (type == kTypeFunction) {
      FunctionReplacer replacer(L);
      code = PatternReplace(s, len, p, patLen, maximum, replacer, &out, &count, PollBreak);
    } else {
      size_t tmplLen;
      const char* tmpl = VmCheckString(L, 3, &tmplLen);
      TemplateReplacer replacer(tmpl, tmplLen);
      code = PatternReplace(s, len, p, patLen, maximum, replacer, &out, &count, PollBreak);
    }
    if (code == kScriptEndedInCallback) return 0;
    if (code != 0) return code;
    VmPushLString(L, out.data(), out.size());
    VmPushNumber(L, double(count));
    return 2;
  });
}

}  // namespace qv::cmd
