// Text layout with the built-in 8 x 8 font (baseline 6): runs and their styles from format tags,
// word wrapping recorded and replayed, tab stops, trimming, alignment, block sizes and the print
// cursor.
#include "text/layout.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/errors.h"

namespace qv {
namespace {

class Layout : public testing::Test {
 protected:
  void SetUp() override {
    qvFont* font = nullptr;
    ASSERT_EQ(InitFontEngines(&font), 0);
    ASSERT_NE(font, nullptr);
    ASSERT_EQ(font->height, 8);
  }

  static qvTextLayoutState State(const std::string& text, int32_t wrap = 0) {
    qvTextLayoutState s;
    s.text = text;
    s.marginRight = wrap;
    s.style.colour = 0xFFFFFF;
    return s;
  }

  // One "text@x,y" per run, with "+B", "+I", "+U" for styles.
  static std::vector<std::string> Describe(const qvTextRuns& runs) {
    std::vector<std::string> out;
    for (const qvTextRun& r : runs.runs) {
      std::string d = runs.text.substr(r.offset, r.length) + "@" + std::to_string(r.x) + "," +
                      std::to_string(r.y);
      if (r.style.style & kStyleBold) d += "+B";
      if (r.style.style & kStyleItalic) d += "+I";
      if (r.style.style & kStyleUnderlined) d += "+U";
      out.push_back(d);
    }
    return out;
  }

  static qvConstantLookup Constants() {
    return [](const char* text, double* value, int* consumed) -> int32_t {
      if (std::strncmp(text, "#RED", 4) == 0) {
        *value = 0xFF0000;
        *consumed = 4;
        return 0;
      }
      return ERR_FINDCST;
    };
  }
};

TEST_F(Layout, RunsFollowTheTagsAndEscapes) {
  struct Row {
    const char* text;
    bool literal;
    std::vector<std::string> runs;
  };
  const Row rows[] = {
      {"a[b]b[/b]c", false, {"a@0,0", "b@8,0+B", "c@16,0"}},
      {"[[word]]", false, {"[word]@0,0"}},
      {"a[B ]b[/ b]c", false, {"a@0,0", "b@8,0+B", "c@16,0"}},
      {"x [i][u]y", false, {"x @0,0", "y@16,0+I+U"}},
      {"a]b[x", true, {"a]b[x@0,0"}},
      // A tag that changes nothing splits nothing.
      {"a[/b]b", false, {"ab@0,0"}},
      {"a\tb\r\nc", false, {"a b@0,0", "c@0,8"}},
      {"a\0b", false, {"a@0,0"}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    qvTextLayoutState s = State(std::string(r.text, r.text[1] == '\0' ? 3 : std::strlen(r.text)));
    qvTextRuns runs;
    ASSERT_EQ(BuildTextRuns(&s, kLayoutTextOut, r.literal, Constants(), &runs), 0);
    EXPECT_EQ(Describe(runs), r.runs);
  }
}

TEST_F(Layout, TagValuesSetColoursShadowsAndEdges) {
  qvTextLayoutState s = State(
      "[color=#RED]a[color=$10]b[/color]c [shadow=1, 3 ,5][edge=2,8]d[/shadow][/edge]e");
  qvTextRuns runs;
  ASSERT_EQ(BuildTextRuns(&s, kLayoutTextOut, false, Constants(), &runs), 0);
  // "a", "b", "c " (closed where the shadow tag begins the next word), "d", "e".
  ASSERT_EQ(runs.runs.size(), 5u);
  EXPECT_EQ(runs.runs[0].style.colour, 0xFF0000u);
  EXPECT_EQ(runs.runs[1].style.colour, 0x10u);
  EXPECT_EQ(runs.runs[2].style.colour, 0xFF0000u);  // popped back
  const qvTextSettings& d = runs.runs[3].style;
  EXPECT_EQ(d.style & (kStyleShadow | kStyleEdge), kStyleShadow | kStyleEdge);
  EXPECT_EQ(d.shadowColour, 1u);
  EXPECT_EQ(d.shadowSize, 3);
  EXPECT_EQ(d.shadowDirection, 5);
  EXPECT_EQ(d.edgeColour, 2u);
  EXPECT_EQ(d.edgeSize, 8);
  EXPECT_EQ(runs.runs[4].style.style & (kStyleShadow | kStyleEdge), 0);
  // The shadow's margins: south-west by 3, the edge 8 all round.
  EXPECT_EQ(runs.runs[3].extent.leftExtra, -8);
  EXPECT_EQ(runs.runs[3].extent.bottomExtra, 8);
}

TEST_F(Layout, BadTagsAreRefusedByName) {
  struct Row {
    const char* text;
    int32_t error;
  };
  const Row rows[] = {
      {"a]b", ERR_TEXTSYNTAX},
      {"[/color]a", ERR_TEXTSYNTAX},
      {"[x]a", ERR_UNKTEXTFMT},
      {"a[", ERR_UNKTEXTFMT},
      {"[bold]a", ERR_UNKTEXTFMT},
      {"[color]a", ERR_TEXTARG},
      {"[color=#NOPE]a", ERR_VALUEEXPECTED},
      {"[color=\"1\"]a", ERR_VALUEEXPECTED},
      {"[color=]a", ERR_VALUEEXPECTED},
      {"[color=1,2]a", ERR_SQBRACKETCLOSE},
      {"[b x]a", ERR_SQBRACKETCLOSE},
      {"[shadow=0,65]a", ERR_WRONGUSAGE},
      {"[shadow=0,0]a", ERR_WRONGUSAGE},
      {"[edge=0,9]a", ERR_WRONGUSAGE},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    qvTextLayoutState s = State(r.text);
    qvTextRuns runs;
    EXPECT_EQ(BuildTextRuns(&s, kLayoutTextOut, false, Constants(), &runs), r.error);
    EXPECT_TRUE(runs.runs.empty());
  }
  qvTextLayoutState s = State("a");
  s.encoding = 2;
  qvTextRuns runs;
  EXPECT_EQ(BuildTextRuns(&s, kLayoutTextOut, false, Constants(), &runs), ERR_WRONGUSAGE);
}

TEST_F(Layout, WordsWrapAndALongWordStaysWhole) {
  qvTextLayoutState s = State("aaa bb cccccccc dd", 40);
  qvTextRuns runs;
  ASSERT_EQ(BuildTextRuns(&s, kLayoutTextOut, false, Constants(), &runs), 0);
  EXPECT_EQ(Describe(runs),
            (std::vector<std::string>{"aaa @0,0", "bb @0,8", "cccccccc @0,16", "dd@0,24"}));
  EXPECT_EQ(s.breaks, (std::vector<int32_t>{1, 2, 3}));
  // A width that the text just fits breaks nothing.
  qvTextLayoutState fits = State("aaa bb", 48);
  ASSERT_EQ(BuildTextRuns(&fits, kLayoutTextOut, false, Constants(), &runs), 0);
  EXPECT_EQ(runs.runs.size(), 1u);
  EXPECT_TRUE(fits.breaks.empty());
}

TEST_F(Layout, BreakListsAreReplayedAndOwnedByTheirState) {
  qvTextLayoutState given = State("aaa bb cccccccc dd");
  given.breaks = {2};
  given.breaksKnown = true;
  qvTextRuns runs;
  ASSERT_EQ(BuildTextRuns(&given, kLayoutTextOut, false, Constants(), &runs), 0);
  EXPECT_EQ(Describe(runs), (std::vector<std::string>{"aaa bb @0,0", "cccccccc dd@0,8"}));

  // A first layout records; another state's layout leaves the list alone; laying the first out
  // again (wider now) breaks at the same words.
  qvTextLayoutState a = State("aaa bb cccccccc dd", 40);
  ASSERT_EQ(BuildTextRuns(&a, kLayoutTextOut, false, Constants(), &runs), 0);
  qvTextLayoutState b = State("x y z w", 8);
  ASSERT_EQ(BuildTextRuns(&b, kLayoutTextOut, false, Constants(), &runs), 0);
  EXPECT_EQ(b.breaks, (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(a.breaks, (std::vector<int32_t>{1, 2, 3}));
  a.marginRight = 1000;
  ASSERT_EQ(BuildTextRuns(&a, kLayoutTextOut, false, Constants(), &runs), 0);
  EXPECT_EQ(Describe(runs),
            (std::vector<std::string>{"aaa @0,0", "bb @0,8", "cccccccc @0,16", "dd@0,24"}));
}

TEST_F(Layout, AWordOfSeveralRunsMovesAsAWhole) {
  qvTextLayoutState s = State("aaa b[b]b[/b]b", 40);
  qvTextRuns runs;
  ASSERT_EQ(BuildTextRuns(&s, kLayoutTextOut, false, Constants(), &runs), 0);
  EXPECT_EQ(Describe(runs), (std::vector<std::string>{"aaa @0,0", "b@0,8", "b@8,8+B", "b@16,8"}));
}

TEST_F(Layout, PrintTabsMoveToStopsOrBreakAndAreReplayed) {
  struct Row {
    const char* text;
    std::vector<int32_t> tabs;
    int32_t marginRight;
    std::vector<std::string> runs;
    std::vector<int32_t> results;
  };
  const Row rows[] = {
      {"a\tb\tc\td", {16, 40}, 199, {"a@0,0", "b@16,0", "c@40,0", "d@0,8"}, {0, 1, -1}},
      // A stop at or beyond the wrap width breaks the line.
      {"a\tb\tc", {16, 40}, 31, {"a@0,0", "b@16,0", "c@0,8"}, {0, -1}},
      {"ab\tc", {}, 199, {"ab@0,0", "c@0,8"}, {-1}},
      // A stop equal to the pen is not beyond it.
      {"a\tb", {8, 24}, 199, {"a@0,0", "b@24,0"}, {1}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    qvTextLayoutState s = State(r.text);
    s.tabs = r.tabs;
    s.marginRight = r.marginRight;
    qvTextRuns runs;
    ASSERT_EQ(BuildTextRuns(&s, kLayoutPrint, false, Constants(), &runs), 0);
    EXPECT_EQ(Describe(runs), r.runs);
    EXPECT_EQ(s.tabResults, r.results);
    // Replayed: the stops may change, the result stays.
    s.tabs.push_back(1000);
    ASSERT_EQ(BuildTextRuns(&s, kLayoutPrint, false, Constants(), &runs), 0);
    EXPECT_EQ(Describe(runs), r.runs);
  }
}

TEST_F(Layout, TrailingBlanksGoWhenTheyWouldShow) {
  struct Row {
    const char* text;
    int32_t align;
    std::vector<std::string> runs;
  };
  const Row rows[] = {
      {"ab  ", kCoordLeft, {"ab  @0,0"}},    {"ab  ", kCoordRight, {"ab@0,0"}},
      {"[u]ab  ", kCoordLeft, {"ab@0,0+U"}}, {"ab \ncd  ", kCoordCenter, {"ab@0,0", "cd@0,8"}},
      {"ab [u] ", kCoordLeft, {"ab @0,0"}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    qvTextLayoutState s = State(r.text);
    s.align = r.align;
    qvTextRuns runs;
    ASSERT_EQ(BuildTextRuns(&s, kLayoutTextOut, false, Constants(), &runs), 0);
    EXPECT_EQ(Describe(runs), r.runs);
  }
}

TEST_F(Layout, BlocksAreSizedByInkShadowAndEdge) {
  struct Row {
    const char* name;
    int32_t style;
    const char* text;
    int32_t width, height, xOffset, yOffset;
  };
  const Row rows[] = {
      {"one line is 9 rows", kStyleNormal, "ab", 16, 9, 0, 0},
      {"two lines", kStyleNormal, "ab\nc", 16, 17, 0, 0},
      {"bold adds a column", kStyleBold, "ab", 17, 9, 0, 0},
      // Italic: right + 6 / 2, left - (8 - 6) / 2.
      {"italic leans", kStyleItalic, "ab", 20, 9, -1, 0},
      {"edge of 2", kStyleEdge, "ab", 20, 13, -2, -2},
      {"shadow south-east 4", kStyleShadow, "ab", 20, 13, 0, 0},
      {"empty text is one blank", kStyleNormal, "", 8, 9, 0, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    qvTextLayoutState s = State(r.text);
    s.style.style = r.style;
    qvTextBlockResult block;
    ASSERT_EQ(LayoutTextBlock(&s, kLayoutTextOut, false, Constants(), &block), 0);
    EXPECT_EQ(block.width, r.width);
    EXPECT_EQ(block.height, r.height);
    EXPECT_EQ(block.xOffset, r.xOffset);
    EXPECT_EQ(block.yOffset, r.yOffset);
    EXPECT_EQ(block.bitmap->width, r.width);
    EXPECT_NE(block.mask, nullptr);
    FreeTextBlock(&block);
  }
  qvTextLayoutState aa = State("a");
  aa.style.style = kStyleAntialias;
  qvTextBlockResult block;
  EXPECT_EQ(LayoutTextBlock(&aa, kLayoutTextOut, false, Constants(), &block), ERR_ANTIALIAS);
  qvTextLayoutState see = State("a");
  see.style.colour = 0x80FFFFFF;
  ASSERT_EQ(LayoutTextBlock(&see, kLayoutTextOut, false, Constants(), &block), 0);
  EXPECT_NE(block.alpha, nullptr);
  EXPECT_EQ(block.mask, nullptr);
  FreeTextBlock(&block);
}

TEST_F(Layout, LinesAlignByTheirInk) {
  struct Row {
    int32_t align;
    int32_t secondX;
  };
  // "aaaa" reaches 32, "bb" 16: right-aligned the second line moves 16, centred 8.
  for (const Row& r : {Row{kCoordLeft, 0}, Row{kCoordCenter, 8}, Row{kCoordRight, 16}}) {
    SCOPED_TRACE(r.align);
    qvTextLayoutState s = State("aaaa\nbb");
    s.align = r.align;
    qvTextRuns runs;
    ASSERT_EQ(BuildTextRuns(&s, kLayoutTextOut, false, Constants(), &runs), 0);
    qvTextBlockResult block;
    ASSERT_EQ(RenderTextRuns(&runs, s.align, 0, &block), 0);
    EXPECT_EQ(runs.runs[1].x, r.secondX);
    EXPECT_EQ(block.width, 32);
    FreeTextBlock(&block);
  }
}

TEST_F(Layout, PrintMovesTheCursorToTheEndOfTheText) {
  struct Row {
    const char* text;
    int32_t marginLeft, cursorX, cursorY;
    int32_t blockX, blockY, endX, endY;
  };
  const Row rows[] = {
      {"ab", 0, 0, 0, 0, 0, 16, 0},
      {"ab", 8, 24, 16, 24, 16, 40, 16},
      {"ab\ncd", 8, 24, 0, 8, 0, 24, 8},
      {"ab\n", 0, 0, 0, 0, 0, 0, 8},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    qvTextLayoutState s = State(r.text);
    s.marginLeft = r.marginLeft;
    s.marginRight = 639;
    s.cursorX = r.cursorX;
    s.cursorY = r.cursorY;
    qvTextBlockResult block;
    ASSERT_EQ(LayoutTextBlock(&s, kLayoutPrint, false, Constants(), &block), 0);
    EXPECT_EQ(block.xOffset, r.blockX);
    EXPECT_EQ(block.yOffset, r.blockY);
    EXPECT_EQ(s.cursorX, r.endX);
    EXPECT_EQ(s.cursorY, r.endY);
    FreeTextBlock(&block);
  }
}

TEST_F(Layout, ALongTextOfManyWordsIsMeasuredOnce) {
  // 200000 words on one line: measuring the whole pending text at every word's end would take
  // minutes; measured as it grows, the pass is linear.
  std::string text;
  for (int i = 0; i < 200000; ++i) text += "ab ";
  qvTextLayoutState s = State(text);
  qvTextRuns runs;
  ASSERT_EQ(BuildTextRuns(&s, kLayoutTextOut, false, Constants(), &runs), 0);
  ASSERT_EQ(runs.runs.size(), 1u);
  EXPECT_EQ(runs.runs[0].extent.font.advance, 200000 * 24);
  // Wrapped at 32 pixels: one word a line, up to the break list's 32767 entries.
  qvTextLayoutState wrapped = State(text.substr(0, 3 * 32768), 32);
  ASSERT_EQ(BuildTextRuns(&wrapped, kLayoutTextOut, false, Constants(), &runs), 0);
  EXPECT_EQ(runs.runs.size(), 32768u);
  EXPECT_EQ(runs.runs.back().y, 32767 * 8);
  qvTextLayoutState tooMany = State(text.substr(0, 3 * 32769), 32);
  EXPECT_EQ(BuildTextRuns(&tooMany, kLayoutTextOut, false, Constants(), &runs), ERR_INTERNAL);
}

}  // namespace
}  // namespace qv
