// Values as text: ToString's text of every kind of value, and the debug line built through the
// script's global "tostring" with its failures.
#include "core/value_text.h"

#include <regex>
#include <string>

#include "core/errors.h"
#include "tests/vm/vm_fixture.h"
#include "vm/auxlib.h"

namespace qv::testing {
namespace {

int32_t TextOf(qvScriptState* L) {
  PushValueText(L, 1);
  return 1;
}
int32_t GivesNumber(qvScriptState* L) {
  VmPushNumber(L, 42);
  return 1;
}

// Stand-ins for "tostring" that give the text of "first" and misbehave on anything else, so that
// a line is half made when they do.
bool First(qvScriptState* L) {
  return VmType(L, 1) == kTypeString && std::string(VmToString(L, 1)) == "first";
}
int32_t GivesTable(qvScriptState* L) {
  if (First(L)) return TextOf(L);
  VmNewTable(L);
  return 1;
}
int32_t Fails(qvScriptState* L) { return First(L) ? TextOf(L) : ERR_WRONGUSAGE; }
int32_t Ends(qvScriptState* L) {
  if (!First(L)) VmSetEndFlag(L, 1);
  return TextOf(L);
}

// What MakeDebugLine gave inside a native call.
std::string gLine;
int32_t gCode;
int gTopBefore;
int gTopAfter;

int32_t DebugLine(qvScriptState* L) {
  gTopBefore = VmGetTop(L);
  gLine = "untouched";
  gCode = MakeDebugLine(L, gTopBefore, &gLine);
  gTopAfter = VmGetTop(L);
  return 0;
}

class ValueTextTest : public VmTest {
 protected:
  const qvVmHost* Host() const override { return CoreVmHost(); }

  // The text PushValueText gives for the value on the stack top (which it leaves there).
  std::string Text(int index = -1) {
    const int top = VmGetTop(L);
    PushValueText(L, index);
    EXPECT_EQ(VmGetTop(L), top + 1);
    std::string text = VmToString(L, -1);
    VmSetTop(L, top);
    return text;
  }

  // Runs debugline(...) over the arguments pushed by `push` with `tostring` as the global.
  template <typename Push>
  void RunDebugLine(qvCFunction tostring, Push push) {
    RegisterNative("tostring", tostring);
    VmPushCClosure(L, DebugLine, 0);
    const int nargs = push();
    ASSERT_EQ(VmPCall(L, nargs, 0, 0), 0);
    EXPECT_EQ(gTopAfter, gTopBefore) << "the stack is left as found";
  }
};

TEST_F(ValueTextTest, EveryKindOfValue) {
  VmPushNil(L);
  EXPECT_EQ(Text(), "Nil");
  struct {
    double n;
    const char* text;
  } numbers[] = {{1, "1"},        {-2.5, "-2.5"}, {0.1, "0.1"},
                 {1e20, "1e+20"}, {-0.0, "-0"},   {1.0 / 3, "0.33333333333333"}};
  for (const auto& k : numbers) {
    VmPushNumber(L, k.n);
    EXPECT_EQ(Text(), k.text);
    EXPECT_EQ(VmType(L, -1), kTypeNumber) << "the argument itself is not converted";
    VmSetTop(L, -2);
  }
  VmPushString(L, "100% sure");
  EXPECT_EQ(Text(), "100% sure");

  VmNewTable(L);
  EXPECT_TRUE(std::regex_match(Text(), std::regex("Table: 0x[0-9a-f]+")));
  VmPushCClosure(L, TextOf, 0);
  EXPECT_TRUE(std::regex_match(Text(), std::regex("Function: 0x[0-9a-f]+")));
  VmNewUserdata(L, 8);
  EXPECT_TRUE(std::regex_match(Text(), std::regex("UserData: 0x[0-9a-f]+")));
  int place = 0;
  VmPushLightUserdata(L, &place);
  char address[64];
  std::snprintf(address, sizeof address, "UserData: %p", static_cast<void*>(&place));
  EXPECT_EQ(Text(), address);
  // A relative index names the same value after the pushes PushValueText makes.
  EXPECT_EQ(Text(-5), "100% sure");
  EXPECT_EQ(Text(1), "Nil");
}

TEST_F(ValueTextTest, TheToStringMetamethodDecides) {
  VmNewTable(L);  // the value
  VmNewTable(L);  // its metatable
  VmPushString(L, "__tostring");
  VmPushCClosure(
      L,
      [](qvScriptState* L) -> int32_t {
        VmPushString(L, VmType(L, 1) == kTypeTable ? "a table of mine" : "?");
        return 1;
      },
      0);
  VmRawSet(L, -3);
  VmSetMetaTable(L, -2);
  EXPECT_EQ(Text(), "a table of mine");
}

TEST_F(ValueTextTest, TheDebugLineJoinsTheTextsOfTheGlobalToString) {
  RunDebugLine(TextOf, [&] {
    VmPushNumber(L, 1);
    VmPushString(L, "two");
    VmPushNil(L);
    VmPushString(L, "");
    VmPushString(L, "end");
    return 5;
  });
  EXPECT_EQ(gCode, 0);
  EXPECT_EQ(gLine, "1 two Nil  end\n");

  RunDebugLine(TextOf, [] { return 0; });
  EXPECT_EQ(gCode, 0);
  EXPECT_EQ(gLine, "\n");

  RunDebugLine(GivesNumber, [&] {
    VmPushString(L, "anything");
    return 1;
  });
  EXPECT_EQ(gCode, 0);
  EXPECT_EQ(gLine, "42\n");
}

// Whatever stops the line, nothing of it is left to write.
TEST_F(ValueTextTest, AFailingOrEndingToStringLeavesNoLine) {
  struct Case {
    const char* what;
    qvCFunction tostring;
    int32_t code;
  } cases[] = {
      {"gives a table", GivesTable, ERR_STRINGEXPECTED},
      {"fails", Fails, ERR_WRONGUSAGE},
      {"ends the script", Ends, 0},
  };
  for (const Case& k : cases) {
    VmSetEndFlag(L, 0);
    RunDebugLine(k.tostring, [&] {
      VmPushString(L, "first");
      VmPushString(L, "second");
      return 2;
    });
    EXPECT_EQ(gCode, k.code) << k.what;
    EXPECT_EQ(gLine, "") << k.what;
  }
  VmSetEndFlag(L, 0);
}

}  // namespace
}  // namespace qv::testing
