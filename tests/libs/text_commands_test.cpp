// The text library's settings commands: what SetFontStyle, SetFontColor, SetFont and UseFont
// leave in the text settings (the clamps and resets), and the refusals of the encoding readers.
#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "base/errors.h"
#include "core/errors.h"
#include "core/registry.h"
#include "libs/libraries.h"
#include "tests/fixtures/script_call.h"
#include "text/fonts.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {
namespace {

using Value = qvtest::ScriptValue;

class TextCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    L = VmOpenState(CoreVmHost());
    SetProcessVm(L);
    ASSERT_EQ(OpenLibrary(L, kTextLibrary), 0);
  }
  void TearDown() override {
    FreeTextLibrary(L);
    FreeRegistries();
    SetProcessVm(nullptr);
    VmCloseState(L);
  }
  // The results, or the error code alone (negated).
  std::vector<double> Call(const char* name, const std::vector<Value>& args) {
    return qvtest::CallScriptCommandNumbers(L, name, args);
  }
  qvScriptState* L = nullptr;
};

const std::vector<double> kDone;
std::vector<double> Err(int32_t code) { return {-double(code)}; }

TEST_F(TextCommands, SetFontStyleClampsResetsAndRefuses) {
  struct Case {
    const char* what;
    std::vector<Value> args;
    std::vector<double> result;
    int32_t style, shadowSize, direction, edgeSize;
    uint32_t shadowColour, edgeColour;
  } cases[] = {
      // Each row starts from the one before.
      {"shadow with all three", {32.0, 255.0, 100.0, 9.0}, kDone, 33, 64, 3, 2, 255, 0x0093DD},
      {"shadow size below 1", {32.0, 1.0, -5.0, 7.0}, kDone, 33, 1, 7, 2, 1, 0x0093DD},
      {"a direction below 0", {32.0, 1.0, 2.0, -1.0}, kDone, 33, 2, 3, 2, 1, 0x0093DD},
      {"edge with both", {64.0, double(0xFF0000), 65.0}, kDone, 97, 2, 3, 64, 1, 0xFF0000},
      {"edge size below 1", {64.0, 0.0, 0.0}, kDone, 97, 2, 3, 1, 1, 0},
      {"edge with a third", {64.0, 1.0, 2.0, 3.0}, Err(ERR_TOOMANYARGS), 97, 2, 3, 1, 1, 0},
      {"bold with a colour", {2.0, 1.0}, Err(ERR_TOOMANYARGS), 97, 2, 3, 1, 1, 0},
      {"shadow and edge together take nothing more",
       {96.0, 1.0},
       Err(ERR_TOOMANYARGS),
       97,
       2,
       3,
       1,
       1,
       0},
      {"bold ORed in", {2.0}, kDone, 99, 2, 3, 1, 1, 0},
      {"NORMAL resets and ignores the rest", {3.0, 5.0, 6.0}, kDone, 1, 2, 3, 1, 1, 0},
      {"too many for any style",
       {32.0, 1.0, 2.0, 3.0, 4.0},
       Err(ERR_TOOMANYARGS),
       1,
       2,
       3,
       1,
       1,
       0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Call("setfontstyle", c.args), c.result) << c.what;
    const qvTextSettings* s = GetTextSettings();
    EXPECT_EQ(s->style, c.style) << c.what;
    EXPECT_EQ(s->shadowSize, c.shadowSize) << c.what;
    EXPECT_EQ(s->shadowDirection, c.direction) << c.what;
    EXPECT_EQ(s->edgeSize, c.edgeSize) << c.what;
    EXPECT_EQ(s->shadowColour, c.shadowColour) << c.what;
    EXPECT_EQ(s->edgeColour, c.edgeColour) << c.what;
  }
}

TEST_F(TextCommands, SetFontAndUseFontResetTheStyle) {
  ASSERT_EQ(Call("setfontstyle", {2.0}), kDone);
  ASSERT_EQ(Call("setfontcolor", {4294967295.0}), kDone);
  EXPECT_EQ(GetTextSettings()->colour, 0xFFFFFFFFu);
  ASSERT_EQ(Call("setfont", {std::string("topaz"), 8.0}), kDone);
  EXPECT_EQ(GetTextSettings()->style, kStyleNormal);
  EXPECT_EQ(GetCurrentFont(), GetDefaultFont());
  ASSERT_EQ(Call("openfont", {4.0, std::string(":::default_bitmap"), 8.0}), kDone);
  ASSERT_EQ(Call("setfontstyle", {4.0}), kDone);
  ASSERT_EQ(Call("usefont", {4.0}), kDone);
  EXPECT_EQ(GetTextSettings()->style, kStyleNormal);
  // A failed SetFont leaves the settings alone.
  ASSERT_EQ(Call("setfontstyle", {8.0}), kDone);
  EXPECT_EQ(Call("setfont", {std::string("nothing"), 8.0}), Err(ERR_OPENFONT));
  EXPECT_EQ(GetTextSettings()->style, 9);
}

TEST_F(TextCommands, EncodingsAboveUtf8AreRefused) {
  struct Case {
    const char* command;
    std::vector<Value> args;
    std::vector<double> result;
  } cases[] = {
      {"setdefaultencoding", {1.0}, kDone},
      {"setdefaultencoding", {2.0}, Err(ERR_WRONGUSAGE)},
      {"setdefaultencoding", {-1.0}, Err(ERR_WRONGUSAGE)},
      // Bitmap fonts have no pair kerning; a malformed UTF-8 text is read as bytes.
      {"getkerningpair", {std::string("A"), std::string("V")}, {0.0}},
      {"getkerningpair", {std::string("\xC3\xA9"), std::string("\x80"), 1.0}, {0.0}},
      {"getkerningpair", {std::string(""), std::string("V")}, {0.0}},
      {"getkerningpair", {std::string("A"), std::string("V"), 2.0}, Err(ERR_WRONGUSAGE)},
  };
  for (const Case& c : cases) EXPECT_EQ(Call(c.command, c.args), c.result) << c.command;
  EXPECT_EQ(GetDefaultEncoding(), kEncodingUtf8);
}

}  // namespace
}  // namespace qv
