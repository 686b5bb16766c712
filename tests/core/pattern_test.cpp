// The pattern matcher on its own: captures up to the limit, the error of each malformed
// pattern, and long subjects that must not deepen the recursion.
#include "core/pattern.h"

#include <gtest/gtest.h>

#include <string>

#include "base/errors.h"

namespace qv {
namespace {

struct Found {
  int32_t code;
  bool matched;
  std::string whole;
  int level;
};

// The first match at or after the subject's start, as the iterator looks for it.
Found FindFirst(const std::string& s, const std::string& p) {
  qvPatternMatch m;
  PatternBegin(&m, s.data(), s.size(), p.data(), p.size());
  for (size_t at = 0; at <= s.size(); ++at) {
    const char* end;
    int32_t code = PatternMatchAt(&m, s.data() + at, p.data(), &end);
    if (code != 0) return {code, false, "", 0};
    if (end != nullptr) return {0, true, std::string(s.data() + at, end), m.level};
  }
  return {0, false, "", 0};
}

TEST(Pattern, MalformedPatternsGiveTheirCodes) {
  struct Case {
    const char* subject;
    const char* pattern;
    int32_t code;
  } cases[] = {
      {"abc", "%1", ERR_INVCAPIDX},     // no capture yet
      {"abc", "(a%1)", ERR_INVCAPIDX},  // the capture is still open
      {"abc", "a)", ERR_INVPATCAP},       {"abc", "a%", ERR_MALFORMPAT1},
      {"abc", "[a", ERR_MALFORMPAT2},     {"abc", "[a%", ERR_MALFORMPAT2},
      {"abc", "[]", ERR_MALFORMPAT2},  // "]" right after "[" is a member
      {"abc", "%b", ERR_UNBALANCEDPAT},   {"abc", "%bx", ERR_UNBALANCEDPAT},
      {"abc", "%fa", ERR_MISSINGOPBRACK}, {"abc", "%f", ERR_MISSINGOPBRACK},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindFirst(c.subject, c.pattern).code, c.code) << c.pattern;
  }
}

TEST(Pattern, ThirtyTwoCapturesFitAndTheThirtyThirdFails) {
  std::string subject(40, 'a');
  std::string p32, p33;
  for (int i = 0; i < 32; ++i) p32 += "(a)";
  p33 = p32 + "(a)";
  Found f = FindFirst(subject, p32);
  EXPECT_EQ(f.code, 0);
  EXPECT_EQ(f.level, 32);
  EXPECT_EQ(FindFirst(subject, p33).code, ERR_TOOMANYCAPTURES);
}

TEST(Pattern, CapturesAndPositions) {
  std::string s = "key = value";
  std::string p = "(%w+)%s*=%s*()(%w+)";
  qvPatternMatch m;
  PatternBegin(&m, s.data(), s.size(), p.data(), p.size());
  const char* end;
  ASSERT_EQ(PatternMatchAt(&m, s.data(), p.data(), &end), 0);
  ASSERT_NE(end, nullptr);
  const char* text;
  size_t len, position;
  ASSERT_EQ(PatternCapture(&m, 0, s.data(), end, &text, &len, &position), 0);
  EXPECT_EQ(std::string(text, len), "key");
  ASSERT_EQ(PatternCapture(&m, 1, s.data(), end, &text, &len, &position), 0);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(position, 7u);  // counted from 1
  ASSERT_EQ(PatternCapture(&m, 2, s.data(), end, &text, &len, &position), 0);
  EXPECT_EQ(std::string(text, len), "value");
  EXPECT_EQ(PatternCapture(&m, 3, s.data(), end, &text, &len, &position), ERR_INVCAPIDX);
}

TEST(Pattern, ClassesTakeLatin1LettersAndComplements) {
  struct Case {
    const char* subject;
    const char* pattern;
    const char* whole;
  } cases[] = {
      {"1 \xC9t\xE9!", "%a+", "\xC9t\xE9"},
      {"\xC9t\xE9", "%l+", "t\xE9"},
      {"t\xC9T\xE9", "%u+", "\xC9T"},
      {"ab12cd", "%D+", "ab"},
      {"ab \t\ncd", "%s+", " \t\n"},
      {"a\xF7"
       "b",
       "%A", "\xF7"},  // the division sign is no letter
      {"x-1,y", "[%d,-]+", "-1,"},
      {"ZZ", "[a-z]", ""},  // no match at all
  };
  for (const Case& c : cases) {
    Found f = FindFirst(c.subject, c.pattern);
    EXPECT_EQ(f.code, 0) << c.pattern;
    EXPECT_EQ(f.whole, c.whole) << c.pattern;
  }
}

// Single items loop instead of recursing, so megabyte subjects are no danger to the stack.
TEST(Pattern, LongSubjectsDoNotDeepenTheRecursion) {
  std::string s(4 << 20, 'a');
  s += "b";
  struct Case {
    const char* pattern;
    size_t length;
  } cases[] = {
      {"a*b", s.size()},     {"a-b", s.size()},          {".-$", s.size()},
      {"(a+)(b)", s.size()}, {"%f[%a]a*", s.size() - 1},
  };
  for (const Case& c : cases) {
    Found f = FindFirst(s, c.pattern);
    EXPECT_EQ(f.code, 0) << c.pattern;
    EXPECT_EQ(f.whole.size(), c.length) << c.pattern;
  }
}

TEST(Pattern, DeeplyNestedPatternsFailWithStackError) {
  std::string s(1000, 'a');
  std::string p;
  for (int i = 0; i < 300; ++i) p += "a?";
  EXPECT_EQ(FindFirst(s, p).code, ERR_STACK);
  // Well below the limit the same kind of pattern matches.
  EXPECT_EQ(FindFirst(s, p.substr(0, 2 * 150)).code, 0);
}

// Backtracking that would take 2^40 steps ends at the first poll that asks for it.
TEST(Pattern, PollEndsExponentialBacktracking) {
  std::string s(40, 'a');
  std::string p;
  for (int i = 0; i < 40; ++i) p += "a?";
  p += "b";
  qvPatternMatch m;
  PatternBegin(&m, s.data(), s.size(), p.data(), p.size());
  int polls = 0;
  m.poll = [](void* data) -> int32_t {
    return ++*static_cast<int*>(data) == 3 ? ERR_USERABORT : 0;
  };
  m.pollData = &polls;
  const char* end;
  EXPECT_EQ(PatternMatchAt(&m, s.data(), p.data(), &end), ERR_USERABORT);
  EXPECT_EQ(polls, 3);
  EXPECT_EQ(end, nullptr);
}

}  // namespace
}  // namespace qv
