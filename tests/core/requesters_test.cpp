// The requesters' answer rules that do not need a requester: patterns as filters, what a
// numbers-only field takes while it is typed, and the font name with its style words.
#include "core/requesters.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

TEST(RequesterRules, PatternsBecomeFilters) {
  struct Case {
    const char* pattern;
    const char* filter;
  } cases[] = {
      {"", "*.*"},
      {"*", "*.*"},
      {"#?", "*.*"},
      {nullptr, "*.*"},
      {"png", "*.png"},
      {"png|.jpg", "*.png;*.jpg"},
      {"png||gif", "*.png;*.;*.gif"},  // an empty extension stays a pattern of its own
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FilePatternFilter(c.pattern), c.filter) << (c.pattern ? c.pattern : "(null)");
  }
}

TEST(RequesterRules, NumbersOnlyFieldsTakeNumbersAndTheirBeginnings) {
  for (const char* ok : {"", "-", ".", "-.", "0", "-12", "3.25", "-0.5", "7."}) {
    EXPECT_TRUE(IsNumberInput(ok)) << ok;
  }
  for (const char* bad : {"a", "1a", "--1", "1.2.3", "1-", " 1", "1e5", "+1", "$FF"}) {
    EXPECT_FALSE(IsNumberInput(bad)) << bad;
  }
}

TEST(RequesterRules, FontNamesCarryTheStyleWordsOfWeightAndSlant) {
  qvFontChoice font;
  font.face = "DejaVu Sans";
  EXPECT_EQ(FontDisplayName(font), "DejaVu Sans");
  font.weight = kWeightBold;
  EXPECT_EQ(FontDisplayName(font), "DejaVu Sans Bold");
  font.slant = kSlantItalic;
  EXPECT_EQ(FontDisplayName(font), "DejaVu Sans Bold Italic");
  font.weight = kWeightNormal;
  EXPECT_EQ(FontDisplayName(font), "DejaVu Sans Italic");
}

}  // namespace
}  // namespace qv
