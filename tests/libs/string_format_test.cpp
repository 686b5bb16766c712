// The string library's pure parts: the FormatStr formatter with values from a table, the
// substring search with and without case, and strtoul-style reading in a base.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/errors.h"
#include "base/support.h"
#include "libs/string/format.h"
#include "libs/string/search.h"
#include "libs/string/string_args.h"

namespace qv::strlib {
namespace {

class ListValues final : public qvFormatValues {
 public:
  explicit ListValues(std::vector<double> numbers, std::vector<std::string> texts = {})
      : numbers_(std::move(numbers)), texts_(std::move(texts)) {}
  double Number(int i) override { return numbers_.at(size_t(i)); }
  int32_t Integer(int i) override { return DoubleToInt32Wrap(numbers_.at(size_t(i))); }
  std::string_view Text(int i) override { return texts_.at(size_t(i)); }

 private:
  static int32_t DoubleToInt32Wrap(double d) { return int32_t(uint32_t(uint64_t(int64_t(d)))); }
  std::vector<double> numbers_;
  std::vector<std::string> texts_;
};

std::string Format(const char* tmpl, std::vector<double> numbers,
                   std::vector<std::string> texts = {}, int32_t* code = nullptr) {
  ListValues values(std::move(numbers), std::move(texts));
  std::string out;
  int32_t c = FormatTemplate(tmpl, values, &out);
  if (code != nullptr) *code = c;
  return c == 0 ? out : "<error>";
}

TEST(FormatTemplate, SizesEveryPieceWithoutAFixedBuffer) {
  EXPECT_EQ(Format("%.99f", {1e308}).size(), 409u);
  EXPECT_EQ(Format("%99.99e|", {-1.5}).size(), 107u);  // "-1." 99 digits "e+00|"
  std::string longText(5000, 'x');
  // Long texts without a precision go in whole; with one, the precision cuts them.
  EXPECT_EQ(Format("%5s", {}, {longText}), longText);
  EXPECT_EQ(Format("%.3s", {}, {longText}), "xxx");
}

TEST(FormatTemplate, IntegerLettersWorkOnThe32BitWord) {
  EXPECT_EQ(Format("%x %X %o %u %d", {-1, 4294967296.0 + 255, 8, -1, 4294967295.0}),
            "ffffffff FF 10 4294967295 -1");
}

TEST(FormatTemplate, QuotesEscapeAndKeepZeroBytes) {
  EXPECT_EQ(Format("%q", {}, {std::string("a\"b\\c\nd\0e", 9)}),
            std::string("\"a\\\"b\\\\c\\\nd\\000e\""));
}

TEST(FormatTemplate, RefusesMalformedSpecs) {
  for (const char* bad :
       {"%123d", "%1.123f", "%", "abc%", "%5", "%.2", "%k", "%---------------10d"}) {
    int32_t code = 0;
    Format(bad, {1, 1}, {"a"}, &code);
    EXPECT_EQ(code, ERR_WRONGUSAGE) << bad;
  }
  int32_t code = -1;
  EXPECT_EQ(Format("%--------------10d", {1}, {}, &code), "1         ");
  EXPECT_EQ(code, 0);
}

TEST(FindBytes, CaseAndEdges) {
  struct Case {
    const char* s;
    const char* sub;
    size_t start;
    bool matchCase;
    size_t want;
  } cases[] = {
      {"Hello", "LL", 0, false, 2},
      {"Hello", "LL", 0, true, kNotFound},
      {"abcabc", "bc", 2, true, 4},
      {"abcabc", "bc", 5, true, kNotFound},
      {"abc", "", 0, true, kNotFound},
      {"ab", "abc", 0, false, kNotFound},
      {"\xC9T\xC9", "\xE9t\xE9", 0, false, 0},
      {"xxAbxab", "aB", 3, false, 5},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindBytes(c.s, std::strlen(c.s), c.sub, std::strlen(c.sub), c.start, c.matchCase),
              c.want)
        << c.s << " / " << c.sub;
  }
}

// The searcher (sixteen windows at a time where the text is long enough, a skip table after)
// against a plain scan, over seeded random texts of a small alphabet
// (with Latin-1 letters in both cases and zero bytes), so matches, near misses and skips all occur.
TEST(ByteSearcher, AgreesWithAPlainScan) {
  const char alphabet[] = {'a', 'A', 'b', '\xE9', '\xC9', '\0'};
  uint32_t x = 1;
  auto next = [&] { return (x = x * 1103515245u + 12345u) >> 16; };
  for (int round = 0; round < 20000; ++round) {
    std::string s(next() % 100, ' '), sub(1 + next() % 4, ' ');
    for (char& c : s) c = alphabet[next() % sizeof alphabet];
    for (char& c : sub) c = alphabet[next() % sizeof alphabet];
    bool matchCase = next() % 2 == 0;
    size_t start = next() % (s.size() + 2);
    size_t want = kNotFound;
    for (size_t i = start; want == kNotFound && i + sub.size() <= s.size(); ++i) {
      size_t k = 0;
      while (k < sub.size() &&
             (matchCase ? s[i + k] == sub[k]
                        : ToLowerChar(uint8_t(s[i + k])) == ToLowerChar(uint8_t(sub[k]))))
        ++k;
      if (k == sub.size()) want = i;
    }
    qvByteSearcher searcher(sub.data(), sub.size(), matchCase);
    ASSERT_EQ(searcher.Find(s.data(), s.size(), start), want) << "round " << round;
    ASSERT_EQ(FindBytes(s.data(), s.size(), sub.data(), sub.size(), start, matchCase), want)
        << "round " << round;
  }
}

TEST(ReadUnsignedInBase, FollowsThe32BitStrtoul) {
  struct Case {
    const char* text;
    int base;
    uint32_t want;
  } cases[] = {
      {"ff", 16, 255},
      {"ffz", 16, 0},
      {" 0x1A \n", 16, 26},
      {"0x", 16, 0},
      {"-1", 16, 4294967295u},
      {"-5", 10 + 1, 4294967291u},
      {"ffffffff", 16, 0xFFFFFFFFu},
      {"100000000", 16, 0xFFFFFFFFu},
      {"-100000000", 16, 0xFFFFFFFFu},
      {"zz", 36, 1295},
      {"2", 2, 0},
      {"", 8, 0},
      {"+7", 8, 7},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReadUnsignedInBase(c.text, std::strlen(c.text), c.base), c.want)
        << c.text << " base " << c.base;
  }
}

}  // namespace
}  // namespace qv::strlib
