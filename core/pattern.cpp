#include "core/pattern.h"

#include <cstring>

#include "base/errors.h"
#include "base/support.h"

namespace qv {

namespace {

constexpr char kEscape = '%';

// Matching errors leave the whole attempt at once; PatternMatchAt turns them into codes.
struct PatternError {
  int32_t code;
};

[[noreturn]] void Fail(int32_t code) { throw PatternError{code}; }

// Character classes on bytes, fixed whatever the C locale says; letters are ISO-8859-1.
bool IsLower(int c) { return IsLetterChar(c) && ToUpperChar(uint8_t(c)) != c; }
bool IsUpper(int c) { return IsLetterChar(c) && ToLowerChar(uint8_t(c)) != c; }
bool IsDigitByte(int c) { return c >= '0' && c <= '9'; }
bool IsSpaceByte(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsControl(int c) { return c < 32 || c == 127; }
bool IsPunct(int c) { return c > 32 && c < 127 && !IsAlnumChar(c); }
bool IsHex(int c) { return IsDigitByte(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Whether byte c is in class cl ("%" and cl); an unknown letter stands for itself.
bool MatchClass(int c, int cl) {
  bool res;
  switch (ToLowerChar(uint8_t(cl))) {
    case 'a':
      res = IsLetterChar(c);
      break;
    case 'c':
      res = IsControl(c);
      break;
    case 'd':
      res = IsDigitByte(c);
      break;
    case 'l':
      res = IsLower(c);
      break;
    case 'p':
      res = IsPunct(c);
      break;
    case 's':
      res = IsSpaceByte(c);
      break;
    case 'u':
      res = IsUpper(c);
      break;
    case 'w':
      res = IsAlnumChar(c);
      break;
    case 'x':
      res = IsHex(c);
      break;
    case 'z':
      res = (c == 0);
      break;
    default:
      return cl == c;
  }
  // Only the ASCII upper-case letter complements; the table would fold Latin-1 ones too.
  if (cl >= 'A' && cl <= 'Z') res = !res;
  return res;
}

class Matcher {
 public:
  explicit Matcher(qvPatternMatch* m) : m_(m) {}

  const char* Match(const char* s, const char* p);

 private:
  const char* ClassEnd(const char* p) const {
    const char* pend = m_->patternEnd;
    if (p >= pend) Fail(ERR_MALFORMPAT1);
    char c = *p++;
    if (c == kEscape) {
      if (p >= pend) Fail(ERR_MALFORMPAT1);
      return p + 1;
    }
    if (c == '[') {
      if (p < pend && *p == '^') ++p;
      // The first member may be "]" (after "[" or "[^").
      do {
        if (p >= pend) Fail(ERR_MALFORMPAT2);
        c = *p++;
        if (c == kEscape) {
          if (p >= pend) Fail(ERR_MALFORMPAT2);
          ++p;
        }
      } while (p >= pend || *p != ']');
      return p + 1;
    }
    return p;
  }

  // [p, ec) is a set with its brackets; ec points at the closing "]".
  static bool MatchBracketClass(int c, const char* p, const char* ec) {
    bool sig = true;
    if (p[1] == '^') {
      sig = false;
      ++p;
    }
    while (++p < ec) {
      if (*p == kEscape) {
        ++p;
        if (MatchClass(c, uint8_t(*p))) return sig;
      } else if (p + 2 < ec && p[1] == '-') {
        if (uint8_t(p[0]) <= c && c <= uint8_t(p[2])) return sig;
        p += 2;
      } else if (uint8_t(*p) == c) {
        return sig;
      }
    }
    return !sig;
  }

  bool SingleMatch(const char* s, const char* p, const char* ep) const {
    if (s >= m_->subjectEnd) return false;
    int c = uint8_t(*s);
    switch (*p) {
      case '.':
        return true;
      case kEscape:
        return MatchClass(c, uint8_t(p[1]));
      case '[':
        return MatchBracketClass(c, p, ep - 1);
      default:
        return uint8_t(*p) == c;
    }
  }

  // Counts `units` of work (a step, or a byte scanned) and asks the poll function whenever the
  // count passes a multiple of kPatternPollSteps: one step of the matcher may scan the whole
  // subject, so the scanning loops count their bytes too.
  void Charge(uint32_t units) const {
    const uint32_t before = m_->steps;
    m_->steps += units;
    if (m_->poll != nullptr && before / kPatternPollSteps != m_->steps / kPatternPollSteps) {
      int32_t code = m_->poll(m_->pollData);
      if (code != 0) Fail(code);
    }
  }

  const char* MatchBalance(const char* s, const char* p) const {
    if (p + 1 >= m_->patternEnd) Fail(ERR_UNBALANCEDPAT);
    if (s >= m_->subjectEnd || *s != *p) return nullptr;
    char open = p[0], close = p[1];
    int cont = 1;
    while (++s < m_->subjectEnd) {
      Charge(1);
      if (*s == close) {
        if (--cont == 0) return s + 1;
      } else if (*s == open) {
        ++cont;
      }
    }
    return nullptr;
  }

  const char* MaxExpand(const char* s, const char* p, const char* ep) {
    ptrdiff_t i = 0;
    while (SingleMatch(s + i, p, ep)) {
      ++i;
      Charge(1);
    }
    // Longest first, then one fewer at a time.
    while (i >= 0) {
      const char* res = Match(s + i, ep + 1);
      if (res != nullptr) return res;
      --i;
    }
    return nullptr;
  }

  const char* MinExpand(const char* s, const char* p, const char* ep) {
    for (;;) {
      const char* res = Match(s, ep + 1);
      if (res != nullptr) return res;
      if (!SingleMatch(s, p, ep)) return nullptr;
      ++s;
    }
  }

  const char* StartCapture(const char* s, const char* p, ptrdiff_t what) {
    if (m_->level >= kMaxPatternCaptures) Fail(ERR_TOOMANYCAPTURES);
    int level = m_->level;
    m_->capture[level].start = s;
    m_->capture[level].length = what;
    m_->level = level + 1;
    const char* res = Match(s, p);
    if (res == nullptr) m_->level--;
    return res;
  }

  const char* EndCapture(const char* s, const char* p) {
    int l = -1;
    for (int level = m_->level - 1; level >= 0; --level) {
      if (m_->capture[level].length == kCaptureUnfinished) {
        l = level;
        break;
      }
    }
    if (l < 0) Fail(ERR_INVPATCAP);
    m_->capture[l].length = s - m_->capture[l].start;
    const char* res = Match(s, p);
    if (res == nullptr) m_->capture[l].length = kCaptureUnfinished;
    return res;
  }

  const char* MatchCapture(const char* s, int digit) const {
    int l = digit - '1';
    if (l < 0 || l >= m_->level || m_->capture[l].length == kCaptureUnfinished) Fail(ERR_INVCAPIDX);
    // A position capture holds no bytes to compare; nothing matches it.
    if (m_->capture[l].length == kCapturePosition) return nullptr;
    size_t len = size_t(m_->capture[l].length);
    if (size_t(m_->subjectEnd - s) < len) return nullptr;
    // In pieces, so that a long capture compared at every position still polls.
    constexpr size_t kPiece = 4096;
    for (size_t at = 0; at < len; at += kPiece) {
      const size_t n = len - at < kPiece ? len - at : kPiece;
      if (std::memcmp(m_->capture[l].start + at, s + at, n) != 0) return nullptr;
      Charge(uint32_t(n / 16 + 1));
    }
    return s + len;
  }

  qvPatternMatch* m_;
};

const char* Matcher::Match(const char* s, const char* p) {
  if (++m_->depth > kMaxPatternDepth) Fail(ERR_STACK);
  Charge(1);
  const char* pend = m_->patternEnd;
  const char* result = nullptr;
  for (;;) {  // single items and the other steps without a choice loop here
    if (p == pend) {
      result = s;
      break;
    }
    if (*p == '(') {
      result = (p + 1 < pend && p[1] == ')') ? StartCapture(s, p + 2, kCapturePosition)
                                             : StartCapture(s, p + 1, kCaptureUnfinished);
      break;
    }
    if (*p == ')') {
      result = EndCapture(s, p + 1);
      break;
    }
    if (*p == '$' && p + 1 == pend) {
      result = (s == m_->subjectEnd) ? s : nullptr;
      break;
    }
    if (*p == kEscape && p + 1 < pend && p[1] == 'b') {
      s = MatchBalance(s, p + 2);
      if (s == nullptr) break;
      p += 4;
      continue;
    }
    if (*p == kEscape && p + 1 < pend && p[1] == 'f') {
      p += 2;
      if (p >= pend || *p != '[') Fail(ERR_MISSINGOPBRACK);
      const char* ep = ClassEnd(p);
      int previous = (s == m_->subject) ? 0 : uint8_t(s[-1]);
      int current = (s < m_->subjectEnd) ? uint8_t(*s) : 0;
      if (MatchBracketClass(previous, p, ep - 1) || !MatchBracketClass(current, p, ep - 1)) break;
      p = ep;
      continue;
    }
    if (*p == kEscape && p + 1 < pend && IsDigitByte(uint8_t(p[1]))) {
      s = MatchCapture(s, uint8_t(p[1]));
      if (s == nullptr) break;
      p += 2;
      continue;
    }
    const char* ep = ClassEnd(p);
    bool m = SingleMatch(s, p, ep);
    char op = (ep < pend) ? *ep : '\0';
    if (ep < pend && op == '?') {
      if (m) {
        const char* res = Match(s + 1, ep + 1);
        if (res != nullptr) {
          result = res;
          break;
        }
      }
      p = ep + 1;
      continue;
    }
    if (ep < pend && op == '*') {
      result = MaxExpand(s, p, ep);
      break;
    }
    if (ep < pend && op == '+') {
      result = m ? MaxExpand(s + 1, p, ep) : nullptr;
      break;
    }
    if (ep < pend && op == '-') {
      result = MinExpand(s, p, ep);
      break;
    }
    if (!m) break;
    ++s;
    p = ep;
  }
  m_->depth--;
  return result;
}

}  // namespace

void PatternBegin(qvPatternMatch* m, const char* subject, size_t size, const char* pattern,
                  size_t patternSize) {
  m->subject = subject;
  m->subjectEnd = subject + size;
  m->patternEnd = pattern + patternSize;
  m->level = 0;
  m->depth = 0;
  m->poll = nullptr;
  m->pollData = nullptr;
  m->steps = 0;
}

int32_t PatternMatchAt(qvPatternMatch* m, const char* at, const char* pattern, const char** end) {
  m->level = 0;
  m->depth = 0;
  try {
    *end = Matcher(m).Match(at, pattern);
  } catch (const PatternError& e) {
    *end = nullptr;
    return e.code;
  }
  return 0;
}

int32_t PatternCapture(const qvPatternMatch* m, int i, const char* matchStart, const char* matchEnd,
                       const char** start, size_t* length, size_t* position) {
  *start = nullptr;
  *length = 0;
  *position = 0;
  if (m->level == 0 && i == 0) {
    *start = matchStart;
    *length = size_t(matchEnd - matchStart);
    return 0;
  }
  if (i < 0 || i >= m->level) return ERR_INVCAPIDX;
  const qvPatternCapture& c = m->capture[i];
  if (c.length == kCaptureUnfinished) return ERR_UNFINISHEDCAPTURE;
  if (c.length == kCapturePosition) {
    *position = size_t(c.start - m->subject) + 1;
    return 0;
  }
  *start = c.start;
  *length = size_t(c.length);
  return 0;
}

int32_t PatternExpandTemplate(const qvPatternMatch& m, const char* tmpl, size_t size,
                              const char* start, const char* end, std::string* out) {
  for (size_t i = 0; i < size; ++i) {
    char c = tmpl[i];
    if (c != '%' || i + 1 == size) {
      out->push_back(c);
      continue;
    }
    c = tmpl[++i];
    if (!IsDigitByte(uint8_t(c))) {
      out->push_back(c);
      continue;
    }
    int index = c - '1';
    if (index < 0 || index >= m.level) return ERR_INVCAPIDX;
    const char* text;
    size_t length, position;
    if (PatternCapture(&m, index, start, end, &text, &length, &position) != 0) return ERR_INVCAPIDX;
    if (text == nullptr) {
      *out += std::to_string(position);
    } else {
      out->append(text, length);
    }
  }
  return 0;
}

int32_t PatternReplace(const char* subject, size_t size, const char* pattern, size_t patternSize,
                       int64_t maximum, qvPatternReplacer& replacer, std::string* out,
                       int64_t* count, int32_t (*poll)(void* data), void* pollData) {
  *count = 0;
  const bool anchor = patternSize > 0 && pattern[0] == '^';
  if (anchor) {
    ++pattern;
    --patternSize;
  }
  qvPatternMatch m;
  PatternBegin(&m, subject, size, pattern, patternSize);
  m.poll = poll;
  m.pollData = pollData;
  const char* src = subject;
  const char* end = subject + size;
  while (*count < maximum) {
    const char* e;
    int32_t code = PatternMatchAt(&m, src, pattern, &e);
    if (code != 0) return code;
    if (e != nullptr) {
      ++*count;
      code = replacer.Add(m, src, e, out);
      if (code != 0) return code;
    }
    if (e != nullptr && e > src) {
      src = e;
    } else if (src < end) {
      // NOLINTNEXTLINE(clang-analyzer-core.NullDereference): src < end, so it points into subject
      out->push_back(*src++);
    } else {
      break;
    }
    if (anchor) break;
  }
  out->append(src, size_t(end - src));
  return 0;
}

}  // namespace qv
