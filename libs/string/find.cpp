// Searching, replacing, counting and splitting by plain substrings.
#include <cstring>
#include <string>
#include <vector>

#include "base/errors.h"
#include "core/args.h"
#include "libs/string/commands.h"
#include "libs/string/search.h"
#include "libs/string/string_args.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

using strlib::CheckCount;
using strlib::FindBytes;
using strlib::Guard;
using strlib::kNotFound;
using strlib::OptCount;
using strlib::qvByteSearcher;

namespace {

// The arguments FindStr, ReplaceStr and CountStr share: the case flag and the start at
// `flagIndex` and the one after it.
struct SearchArgs {
  const char* s;
  size_t len;
  const char* sub;
  size_t subLen;
  bool matchCase;
  int64_t start;
};

SearchArgs ReadSearch(qvScriptState* L, int subIndex, int flagIndex) {
  SearchArgs a;
  a.s = VmCheckString(L, 1, &a.len);
  a.sub = VmCheckString(L, subIndex, &a.subLen);
  a.matchCase = OptCount(L, flagIndex, 1) != 0;
  a.start = OptCount(L, flagIndex + 1, 0);
  return a;
}

}  // namespace

// FindStr(s, sub, case flag, start): the first position of sub at or after start, or -1.
int32_t FindStr(qvScriptState* L) {
  CheckArgCount(L, 2, 4);
  SearchArgs a = ReadSearch(L, 2, 3);
  if (a.start < 0) return ERR_WRONGUSAGE;
  size_t start = a.start >= int64_t(a.len) ? a.len : size_t(a.start);
  size_t at = FindBytes(a.s, a.len, a.sub, a.subLen, start, a.matchCase);
  VmPushNumber(L, at == kNotFound ? -1.0 : double(at));
  return 1;
}

// ReplaceStr(s, search, replacement, case flag, start): every non-overlapping occurrence from
// start replaced.
int32_t ReplaceStr(qvScriptState* L) {
  CheckArgCount(L, 3, 5);
  SearchArgs a = ReadSearch(L, 2, 4);
  size_t replLen;
  const char* repl = VmCheckString(L, 3, &replLen);
  if (a.start < 0) return ERR_WRONGUSAGE;
  size_t from = a.start >= int64_t(a.len) ? a.len : size_t(a.start);
  qvByteSearcher searcher(a.sub, a.subLen, a.matchCase);
  size_t at = searcher.Find(a.s, a.len, from);
  if (at == kNotFound) {
    VmPushValue(L, 1);
    return 1;
  }
  return Guard([&] {
    // The places first, so the result is allocated once at its size.
    std::vector<size_t> places;
    for (; at != kNotFound; at = searcher.Find(a.s, a.len, at + a.subLen)) places.push_back(at);
    std::string out;
    out.reserve(a.len - places.size() * a.subLen + places.size() * replLen);
    out.append(a.s, from);
    for (size_t place : places) {
      out.append(a.s + from, place - from);
      out.append(repl, replLen);
      from = place + a.subLen;
    }
    out.append(a.s + from, a.len - from);
    VmPushLString(L, out.data(), out.size());
    return 1;
  });
}

// CountStr(s, sub, case flag, start): non-overlapping occurrences from start.
int32_t CountStr(qvScriptState* L) {
  CheckArgCount(L, 2, 4);
  SearchArgs a = ReadSearch(L, 2, 3);
  if (a.start < 0) return ERR_WRONGUSAGE;
  size_t from = a.start >= int64_t(a.len) ? a.len : size_t(a.start);
  double count = 0;
  qvByteSearcher searcher(a.sub, a.subLen, a.matchCase);
  for (size_t at; (at = searcher.Find(a.s, a.len, from)) != kNotFound;) {
    ++count;
    from = at + a.subLen;
  }
  VmPushNumber(L, count);
  return 1;
}

// SplitStr(s, separator): the pieces between one-byte separators at indices from 0, and their
// count.
int32_t SplitStr(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  size_t len, sepLen;
  const char* s = VmCheckString(L, 1, &len);
  const char* sep = VmCheckString(L, 2, &sepLen);
  if (sepLen != 1) return ERR_WRONGUSAGE;
  if (len >= size_t(INT32_MAX)) return ERR_MEM;
  VmNewTable(L);
  int index = 0;
  const char* p = s;
  const char* end = s + len;
  for (;;) {
    const char* hit = static_cast<const char*>(std::memchr(p, sep[0], size_t(end - p)));
    const char* pieceEnd = hit == nullptr ? end : hit;
    VmPushLString(L, p, size_t(pieceEnd - p));
    VmRawSetI(L, -2, index++);
    if (hit == nullptr) break;
    p = hit + 1;
  }
  VmPushNumber(L, index);
  return 2;
}

}  // namespace qv::cmd
