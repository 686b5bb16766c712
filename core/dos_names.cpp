#include "core/dos_names.h"

#include <cstdio>
#include <cstring>

#include "base/support.h"

namespace qv {

namespace {

const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The class at `p` (just after "["): sets *end past its "]" and returns whether `c` belongs to
// it; false with *end null when the class has no closing "]".
bool MatchClass(const unsigned char* p, unsigned char c, const unsigned char** end) {
  bool negate = *p == '!';
  if (negate) ++p;
  const unsigned char* first = p;
  bool hit = false;
  while (*p != '\0' && (*p != ']' || p == first)) {
    if (p[1] == '-' && p[2] != '\0' && p[2] != ']' && p[0] < p[2]) {
      if (c >= p[0] && c <= p[2]) hit = true;
      p += 3;
    } else {
      if (c == *p) hit = true;
      ++p;
    }
  }
  if (*p != ']') {
    *end = nullptr;
    return false;
  }
  *end = p + 1;
  return hit != negate;
}

// One token of the pattern against one character: the token's length in *step, 0 for "*".
bool MatchOne(const unsigned char* p, unsigned char c, size_t* step) {
  switch (*p) {
    case '#':
      *step = 1;
      return c >= '0' && c <= '9';
    case '?':
      *step = 1;
      return true;
    case '[': {
      const unsigned char* end;
      bool hit = MatchClass(p + 1, c, &end);
      if (end != nullptr) {
        *step = size_t(end - p);
        return hit;
      }
      *step = 1;
      return c == '[';
    }
    default:
      *step = 1;
      return c == *p;
  }
}

int ReadNumber(const char* text, size_t at, size_t length) {
  int v = 0;
  bool any = false;
  for (size_t i = at; i < length && text[i] >= '0' && text[i] <= '9' && v < 100000; ++i) {
    v = v * 10 + (text[i] - '0');
    any = true;
  }
  return any ? v : -1;
}

}  // namespace

bool WildcardMatch(const char* name, const char* pattern) {
  auto n = reinterpret_cast<const unsigned char*>(name);
  auto p = reinterpret_cast<const unsigned char*>(pattern);
  // The last "*" and the name position it was tried at: a mismatch later tries it one further.
  const unsigned char* starP = nullptr;
  const unsigned char* starN = nullptr;
  while (*n != '\0') {
    if (*p == '*') {
      while (*p == '*') ++p;
      if (*p == '\0') return true;
      starP = p;
      starN = n;
      continue;
    }
    size_t step;
    if (*p != '\0' && MatchOne(p, *n, &step)) {
      p += step;
      ++n;
      continue;
    }
    if (starP == nullptr) return false;
    p = starP;
    n = ++starN;
  }
  while (*p == '*') ++p;
  return *p == '\0';
}

bool MatchPatternList(const char* list, const char* name) {
  if (*list == '\0') return false;
  std::string pattern;
  for (const char* p = list;; ++p) {
    if (*p == ';' || *p == '\0') {
      if (WildcardMatch(name, pattern.c_str())) return true;
      pattern.clear();
      if (*p == '\0') return false;
    } else {
      pattern += *p;
    }
  }
}

std::string FormatDosDate(const qvDate& date) {
  char text[64];
  int month = date.month >= 0 && date.month < 12 ? date.month : 0;
  std::snprintf(text, sizeof text, "%.2d-%s-%d %.2d:%.2d:%.2d", date.day, kMonths[month], date.year,
                date.hours, date.minutes, date.seconds);
  return text;
}

bool ParseDosDate(const char* text, size_t length, qvDate* date) {
  if (length < 20) return false;
  if (text[2] != '-' || text[6] != '-' || text[11] != ' ' || text[14] != ':' || text[17] != ':') {
    return false;
  }
  qvDate d{};
  d.day = ReadNumber(text, 0, 2);
  d.month = -1;
  for (int m = 0; m < 12; ++m) {
    if (StrNCaseCmp(text + 3, kMonths[m], 3) == 0) d.month = m;
  }
  d.year = ReadNumber(text, 7, 11);
  d.hours = ReadNumber(text, 12, 14);
  d.minutes = ReadNumber(text, 15, 17);
  d.seconds = ReadNumber(text, 18, length);
  if (d.day < 1 || d.day > 31 || d.month < 0 || d.year < 0 || d.hours < 0 || d.hours > 23 ||
      d.minutes < 0 || d.minutes > 59 || d.seconds < 0 || d.seconds > 59) {
    return false;
  }
  *date = d;
  return true;
}

bool SplitCommandLine(const char* line, std::string* program, std::string* arguments) {
  if (*line == '\0') return false;
  const char* rest;
  if (*line == '"') {
    const char* close = std::strchr(line + 1, '"');
    if (close == nullptr) return false;
    program->assign(line + 1, size_t(close - line - 1));
    rest = close + 1;
  } else {
    const char* blank = line;
    while (*blank != '\0' && *blank != ' ' && *blank != '\t') ++blank;
    program->assign(line, size_t(blank - line));
    rest = blank;
  }
  while (*rest == ' ' || *rest == '\t') ++rest;
  arguments->assign(rest);
  return !program->empty();
}

}  // namespace qv
