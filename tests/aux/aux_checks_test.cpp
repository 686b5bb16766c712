// Argument checks: conversions, defaults, the raised code and the stored argument index or field.
#include <cstdio>
#include <cstring>
#include <string>

#include "aux_fixture.h"
#include "core/error_table.h"
#include "core/errors.h"
#include "vm/auxlib.h"

namespace qv::testing {
namespace {

int32_t Dummy(qvScriptState*) { return 0; }
int gUserdataTarget;

// What a test pushes as arguments.
enum class Arg {
  kNil,
  kNumber,
  kBigNumber,
  kNegFraction,
  kNumericString,
  kHexString,
  kText,
  kTable,
  kLightUserdata,
  kFunction
};

void PushArg(qvScriptState* L, Arg a) {
  switch (a) {
    case Arg::kNil:
      VmPushNil(L);
      break;
    case Arg::kNumber:
      VmPushNumber(L, 2.5);
      break;
    case Arg::kBigNumber:
      VmPushNumber(L, 4294967295.0);
      break;
    case Arg::kNegFraction:
      VmPushNumber(L, -1.9);
      break;
    case Arg::kNumericString:
      VmPushString(L, " 12 ");
      break;
    case Arg::kHexString:
      VmPushString(L, "$FF");
      break;
    case Arg::kText:
      VmPushString(L, "abc");
      break;
    case Arg::kTable:
      VmNewTable(L);
      break;
    case Arg::kLightUserdata:
      VmPushLightUserdata(L, &gUserdataTarget);
      break;
    case Arg::kFunction:
      VmPushCClosure(L, Dummy, 0);
      break;
  }
}

std::string Num(double d) {
  char b[64];
  std::snprintf(b, sizeof b, "%.14g", d);
  return b;
}

// One check applied at argument `index`, described as text.
using Check = std::string (*)(qvScriptState* L, int index);

std::string CheckNumber(qvScriptState* L, int i) { return Num(VmCheckNumber(L, i)); }
std::string CheckInt(qvScriptState* L, int i) { return std::to_string(VmCheckInt(L, i)); }
std::string CheckString(qvScriptState* L, int i) {
  size_t len = 99;
  const char* s = VmCheckString(L, i, &len);
  // The argument itself is a string afterwards.
  return std::string(s, len) + "|" + std::to_string(VmType(L, i) == kTypeString);
}
std::string OptNumber5(qvScriptState* L, int i) { return Num(VmOptNumber(L, i, 5)); }
std::string OptInt7(qvScriptState* L, int i) { return std::to_string(VmOptInt(L, i, 7)); }
std::string OptStringDef(qvScriptState* L, int i) {
  size_t len = 99;
  const char* s = VmOptString(L, i, "def", &len);
  return std::string(s) + "|" + std::to_string(len);
}
std::string OptStringNull(qvScriptState* L, int i) {
  size_t len = 99;
  const char* s = VmOptString(L, i, nullptr, &len);
  return (s == nullptr ? std::string("null") : std::string(s)) + "|" + std::to_string(len);
}
std::string CheckTable(qvScriptState* L, int i) {
  VmCheckTable(L, i);
  return "ok";
}
std::string CheckFunction(qvScriptState* L, int i) {
  VmCheckFunction(L, i);
  return "ok";
}
std::string CheckTypeString(qvScriptState* L, int i) {
  return std::to_string(VmCheckType(L, i, kTypeString));
}
std::string CheckTypeNumber(qvScriptState* L, int i) {
  return std::to_string(VmCheckType(L, i, kTypeNumber));
}
std::string CheckTypeTable(qvScriptState* L, int i) {
  return std::to_string(VmCheckType(L, i, kTypeTable));
}
std::string CheckTypeFunction(qvScriptState* L, int i) {
  return std::to_string(VmCheckType(L, i, kTypeFunction));
}
std::string CheckTypeThread(qvScriptState* L, int i) {
  return std::to_string(VmCheckType(L, i, kTypeThread));
}
std::string CheckUserdata(qvScriptState* L, int i) {
  return VmCheckUserdata(L, i) == &gUserdataTarget ? "target" : "other";
}

struct CheckCase {
  const char* label;
  Check check;
  std::vector<Arg> args;  // the arguments of the call
  int index;              // where the check looks
  int32_t code;           // 0: the check passes with `result`
  std::string result;
};

class ArgumentCheckTest : public MachineTest, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(ArgumentCheckTest, GivesResultOrRaisesWithIndex) {
  const CheckCase& c = GetParam();
  std::string result;
  SetErrorNumber(-12345);
  SetErrorString("untouched");
  int32_t status = Run(
      [&] {
        for (Arg a : c.args) PushArg(L, a);
      },
      [&](qvScriptState* S) { result = c.check(S, c.index); });
  EXPECT_EQ(status, c.code);
  if (c.code == 0) {
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(GetErrorNumber(), -12345);
  } else {
    EXPECT_EQ(GetErrorNumber(), c.index);
  }
  EXPECT_STREQ(GetErrorString(), "untouched");
}

const CheckCase kCheckCases[] = {
    // Numbers: nil counts as 0, numeric strings convert, absent and other types raise.
    {"number_missing", CheckNumber, {}, 1, ERR_NUMEXPECTED, ""},
    {"number_missing_beyond_given", CheckNumber, {Arg::kNumber}, 2, ERR_NUMEXPECTED, ""},
    {"number_nil", CheckNumber, {Arg::kNil}, 1, 0, "0"},
    {"number_number", CheckNumber, {Arg::kNumber}, 1, 0, "2.5"},
    {"number_numeric_string", CheckNumber, {Arg::kNumericString}, 1, 0, "12"},
    {"number_hex_string", CheckNumber, {Arg::kHexString}, 1, 0, "255"},
    {"number_text", CheckNumber, {Arg::kNil, Arg::kText}, 2, ERR_NUMEXPECTED, ""},
    {"number_table", CheckNumber, {Arg::kTable}, 1, ERR_NUMEXPECTED, ""},
    {"number_function", CheckNumber, {Arg::kFunction}, 1, ERR_NUMEXPECTED, ""},
    {"number_light_userdata", CheckNumber, {Arg::kLightUserdata}, 1, ERR_NUMEXPECTED, ""},
    // Integers: toward zero through 64 bits, low 32 bits kept.
    {"int_big", CheckInt, {Arg::kBigNumber}, 1, 0, "-1"},
    {"int_negative_fraction", CheckInt, {Arg::kNegFraction}, 1, 0, "-1"},
    {"int_fraction", CheckInt, {Arg::kNumber}, 1, 0, "2"},
    {"int_nil", CheckInt, {Arg::kNil}, 1, 0, "0"},
    {"int_text", CheckInt, {Arg::kNumber, Arg::kNumber, Arg::kText}, 3, ERR_NUMEXPECTED, ""},
    // Defaults apply only to absent arguments.
    {"optnumber_absent", OptNumber5, {}, 1, 0, "5"},
    {"optnumber_nil", OptNumber5, {Arg::kNil}, 1, 0, "0"},
    {"optnumber_given", OptNumber5, {Arg::kNumber}, 1, 0, "2.5"},
    {"optnumber_text", OptNumber5, {Arg::kText}, 1, ERR_NUMEXPECTED, ""},
    {"optint_absent", OptInt7, {Arg::kNumber}, 2, 0, "7"},
    {"optint_nil", OptInt7, {Arg::kNil}, 1, 0, "0"},
    {"optint_table", OptInt7, {Arg::kTable}, 1, ERR_NUMEXPECTED, ""},
    // Strings: numbers become their text in place, nil the empty string.
    {"string_number", CheckString, {Arg::kNumber}, 1, 0, "2.5|1"},
    {"string_big_number", CheckString, {Arg::kBigNumber}, 1, 0, "4294967295|1"},
    {"string_nil", CheckString, {Arg::kNil}, 1, 0, "|1"},
    {"string_text", CheckString, {Arg::kText}, 1, 0, "abc|1"},
    {"string_missing", CheckString, {}, 1, ERR_STREXPECTED, ""},
    {"string_table", CheckString, {Arg::kText, Arg::kTable}, 2, ERR_STREXPECTED, ""},
    {"string_userdata", CheckString, {Arg::kLightUserdata}, 1, ERR_STREXPECTED, ""},
    {"optstring_absent", OptStringDef, {}, 1, 0, "def|3"},
    {"optstring_absent_null", OptStringNull, {}, 1, 0, "null|0"},
    {"optstring_nil", OptStringDef, {Arg::kNil}, 1, 0, "|0"},
    {"optstring_table", OptStringDef, {Arg::kTable}, 1, ERR_STREXPECTED, ""},
    // Exact types.
    {"table_table", CheckTable, {Arg::kTable}, 1, 0, "ok"},
    {"table_nil", CheckTable, {Arg::kNil}, 1, ERR_TABEXPECTED, ""},
    {"table_missing", CheckTable, {}, 1, ERR_TABEXPECTED, ""},
    {"function_function", CheckFunction, {Arg::kFunction}, 1, 0, "ok"},
    {"function_text", CheckFunction, {Arg::kNumber, Arg::kText}, 2, ERR_FUNCEXPECTED, ""},
    {"type_string_number", CheckTypeString, {Arg::kNumber}, 1, ERR_STREXPECTED, ""},
    {"type_string_text", CheckTypeString, {Arg::kText}, 1, 0, std::to_string(kTypeString)},
    {"type_number_numeric_string", CheckTypeNumber, {Arg::kNumericString}, 1, ERR_NUMEXPECTED, ""},
    {"type_table_nil", CheckTypeTable, {Arg::kNil}, 1, ERR_TABEXPECTED, ""},
    {"type_function_table", CheckTypeFunction, {Arg::kTable}, 1, ERR_FUNCEXPECTED, ""},
    {"type_thread_number", CheckTypeThread, {Arg::kNumber}, 1, ERR_UDEXPECTED, ""},
    {"userdata_light", CheckUserdata, {Arg::kLightUserdata}, 1, 0, "target"},
    {"userdata_number", CheckUserdata, {Arg::kNumber}, 1, ERR_UDEXPECTED, ""},
    {"userdata_missing", CheckUserdata, {Arg::kNumber}, 2, ERR_UDEXPECTED, ""},
};

INSTANTIATE_TEST_SUITE_P(Cases, ArgumentCheckTest, ::testing::ValuesIn(kCheckCases),
                         [](const ::testing::TestParamInfo<CheckCase>& info) {
                           return info.param.label;
                         });

using FieldCheckTest = MachineTest;

// Field checks name the field in the text argument and leave the numeric argument alone.
TEST_F(FieldCheckTest, NameTheFieldAndKeepTheArgumentIndex) {
  struct Case {
    const char* field;
    Arg value;
    int kind;  // 0 string, 1 number, 2 integer
    int32_t code;
    std::string result;
  } cases[] = {
      {"title", Arg::kNumber, 0, 0, "2.5"},
      {"title", Arg::kNil, 0, 0, ""},
      {"title", Arg::kTable, 0, ERR_STRTABLEARG, ""},
      {"width", Arg::kNumericString, 1, 0, "12"},
      {"width", Arg::kNil, 1, 0, "0"},
      {"width", Arg::kText, 1, ERR_NUMTABLEARG, ""},
      {"color", Arg::kBigNumber, 2, 0, "-1"},
      {"color", Arg::kFunction, 2, ERR_NUMTABLEARG, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.field) + " kind " + std::to_string(c.kind));
    SetErrorNumber(77);
    SetErrorString("before");
    std::string result;
    int32_t status = Run([&] { PushArg(L, c.value); },
                         [&](qvScriptState* S) {
                           if (c.kind == 0) {
                             size_t len = 0;
                             const char* s = VmCheckStringField(S, 1, c.field, &len);
                             result.assign(s, len);
                           } else if (c.kind == 1) {
                             result = Num(VmCheckNumberField(S, 1, c.field));
                           } else {
                             result = std::to_string(VmCheckIntField(S, 1, c.field));
                           }
                         });
    EXPECT_EQ(status, c.code);
    EXPECT_EQ(GetErrorNumber(), 77);
    if (c.code == 0) {
      EXPECT_EQ(result, c.result);
      EXPECT_STREQ(GetErrorString(), "before");
    } else {
      EXPECT_STREQ(GetErrorString(), c.field);
    }
  }
}

// The callback readers report through their out word and never raise.
TEST_F(FieldCheckTest, CallbackReadersReportWithoutRaising) {
  int32_t status = Run(
      [&] {
        VmPushString(L, "7");
        VmNewTable(L);
        VmPushNumber(L, 3);
        VmPushString(L, "x");
      },
      [&](qvScriptState* S) {
        int32_t err = -1;
        size_t len = 0;
        EXPECT_STREQ(VmGetCallbackString(S, 1, &len, &err), "7");
        EXPECT_EQ(err, 0);
        EXPECT_EQ(len, 1u);
        EXPECT_EQ(VmGetCallbackString(S, 2, &len, &err), nullptr);
        EXPECT_EQ(err, ERR_STRCALLBACK);
        EXPECT_STREQ(VmGetCallbackString(S, 3, nullptr, &err), "3");
        EXPECT_EQ(err, 0);
        EXPECT_EQ(VmGetCallbackString(S, 9, nullptr, &err), nullptr);
        EXPECT_EQ(err, ERR_STRCALLBACK);

        EXPECT_EQ(VmGetCallbackNumber(S, 1, &err), 7);
        EXPECT_EQ(err, 0);
        EXPECT_EQ(VmGetCallbackNumber(S, 2, &err), 0);
        EXPECT_EQ(err, ERR_NUMCALLBACK);
        EXPECT_EQ(VmGetCallbackNumber(S, 4, &err), 0);
        EXPECT_EQ(err, ERR_NUMCALLBACK);
        EXPECT_EQ(VmGetCallbackNumber(S, 3, &err), 3);
        EXPECT_EQ(err, 0);
      });
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace qv::testing
