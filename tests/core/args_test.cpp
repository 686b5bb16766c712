// Argument and option-table readers: results, percent forms, constants, and the error argument
// stored before a raise.
#include "core/args.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "aux/aux_fixture.h"
#include "core/error_table.h"
#include "core/errors.h"
#include "core/eventqueue.h"
#include "core/player_state.h"

namespace qv {
namespace {

using testing::MachineTest;

std::string Num(double d) {
  char b[64];
  std::snprintf(b, sizeof b, "%.14g", d);
  return b;
}

using ArgsTest = MachineTest;

TEST_F(ArgsTest, CheckArgCountComparesWithMinimumAndMaximum) {
  struct Case {
    int min, max, given;
    int32_t code;
  } cases[] = {
      {0, 0, 0, 0},
      {0, 0, 1, ERR_TOOMANYARGS},
      {1, 0, 1, 0},
      {1, 0, 9, 0},
      {1, 0, 0, ERR_MISSINGPARAMTR},
      {2, 3, 1, ERR_MISSINGPARAMTR},
      {2, 3, 3, 0},
      {2, 3, 4, ERR_TOOMANYARGS},
      {0, 2, 2, 0},
      {0, 2, 3, ERR_TOOMANYARGS},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.min) + "," + std::to_string(c.max) + " with " +
                 std::to_string(c.given));
    qvScriptState* returned = nullptr;
    int32_t status = Run(
        [&] {
          for (int i = 0; i < c.given; ++i) VmPushNumber(L, i);
        },
        [&](qvScriptState* S) { returned = CheckArgCount(S, c.min, c.max); });
    EXPECT_EQ(status, c.code);
    if (c.code == 0) {
      EXPECT_NE(returned, nullptr);
    }
  }
}

int gObject;

TEST_F(ArgsTest, ObjectIdsFromHandlesNumbersAndNil) {
  enum Kind { kHandle, kNumber, kNil, kText };
  struct Case {
    Kind arg;
    bool optional;
    int32_t code;
    int32_t number;
    bool handle;
    int32_t automatic;
  } cases[] = {
      {kHandle, false, 0, 0, true, 0},
      {kNumber, false, 0, 5, false, 0},
      {kNil, false, 0, 0, false, 0},
      {kText, false, ERR_NUMEXPECTED, 0, false, 0},
      {kNumber, true, 0, 5, false, 0},
      {kNil, true, 0, 0, false, 1},
      {kText, true, ERR_NUMEXPECTED, 0, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.arg) + (c.optional ? " optional" : ""));
    SetErrorNumber(0);
    qvObjectId id{-1, nullptr};
    qvOptionalId opt{-1, -1};
    int32_t status = Run(
        [&] {
          VmPushNumber(L, 0);  // the id is argument 2
          switch (c.arg) {
            case kHandle:
              VmPushLightUserdata(L, &gObject);
              break;
            case kNumber:
              VmPushNumber(L, 5.7);
              break;
            case kNil:
              VmPushNil(L);
              break;
            case kText:
              VmPushString(L, "abc");
              break;
          }
        },
        [&](qvScriptState* S) {
          if (c.optional)
            opt = OptObjectId(S, 2);
          else
            id = CheckObjectId(S, 2);
        });
    ASSERT_EQ(status, c.code);
    if (c.code != 0) {
      EXPECT_EQ(GetErrorNumber(), 2);
    } else if (c.optional) {
      EXPECT_EQ(opt.number, c.number);
      EXPECT_EQ(opt.automatic, c.automatic);
    } else {
      EXPECT_EQ(id.number, c.number);
      EXPECT_EQ(id.handle, c.handle ? &gObject : nullptr);
    }
  }
}

struct PercentCase {
  const char* text;  // null: push `number` (or nil when `nil` is set)
  double number;
  bool nil;
  int32_t reference;
  int allow;
  int32_t code;
  double result;
  int percent;
};

TEST_F(ArgsTest, NumbersOrPercentages) {
  const PercentCase cases[] = {
      {"50%", 0, false, 640, 0, 0, 320, 0},
      {"50%", 0, false, 0, 0, 0, 0.5, 1},
      {"100%", 0, false, 480, 0, 0, 480, 0},
      {"150%", 0, false, 640, 0, ERR_PERCENTFORMAT, 0, 0},
      {"150%", 0, false, 640, 1, 0, 960, 0},
      {"-5%", 0, false, 640, 0, ERR_PERCENTFORMAT, 0, 0},
      {"-5%", 0, false, 640, 1, ERR_PERCENTFORMAT, 0, 0},
      {"12", 0, false, 640, 0, 0, 12, 0},
      {" 12px", 0, false, 640, 0, 0, 12, 0},
      {"-7", 0, false, 640, 0, 0, -7, 0},
      {"2.5e1%", 0, false, 200, 0, 0, 50, 0},
      {"0x10", 0, false, 0, 0, 0, 16, 0},
      {"nan%", 0, false, 640, 1, ERR_PERCENTFORMAT, 0, 0},
      {"abc", 0, false, 640, 0, ERR_PERCENTFORMAT, 0, 0},
      {"%", 0, false, 640, 0, ERR_PERCENTFORMAT, 0, 0},
      {"", 0, false, 640, 0, ERR_PERCENTFORMAT, 0, 0},
      {nullptr, 42, false, 640, 0, 0, 42, 0},
      {nullptr, 0, true, 640, 0, 0, 0, 0},
  };
  for (const PercentCase& c : cases) {
    SCOPED_TRACE(c.text != nullptr ? c.text : (c.nil ? "nil" : "number"));
    SetErrorNumber(0);
    double result = -1;
    int percent = -1;
    int32_t status = Run(
        [&] {
          VmPushNumber(L, 0);
          VmPushNumber(L, 0);
          if (c.text != nullptr)
            VmPushString(L, c.text);
          else if (c.nil)
            VmPushNil(L);
          else
            VmPushNumber(L, c.number);
        },
        [&](qvScriptState* S) {
          result = GetNumberOrPercent(S, 3, c.reference, c.allow, &percent);
        });
    ASSERT_EQ(status, c.code);
    if (c.code == 0) {
      EXPECT_DOUBLE_EQ(result, c.result);
      EXPECT_EQ(percent, c.percent);
    } else {
      EXPECT_EQ(GetErrorNumber(), 3);
    }
  }
  // Any other type: ERR_STRORNUM with the index; a null flag pointer is fine.
  SetErrorNumber(0);
  EXPECT_EQ(Run([&] { VmNewTable(L); },
                [](qvScriptState* S) { GetNumberOrPercent(S, 1, 0, 0, nullptr); }),
            ERR_STRORNUM);
  EXPECT_EQ(GetErrorNumber(), 1);
}

TEST_F(ArgsTest, ConstantsAreLookedUpWithoutRegardToCase) {
  std::string name64(64, 'L');
  std::string name70 = name64 + "ONGER";
  const qvConstantRow rows[] = {{"Center", nullptr, -100000},
                                {"Greeting", "hello", 0},
                                {name64.c_str(), nullptr, 64},
                                {"A_b$c!", nullptr, 5},
                                {nullptr, nullptr, 0}};
  VmRegisterConstants(L, rows, 0);
  const qvConstantRow user[] = {{"MyConst", nullptr, 9}, {nullptr, nullptr, 0}};
  VmRegisterConstants(L, user, 1);

  struct Case {
    std::string text;
    int32_t code;
    double value;
    int consumed;
  } cases[] = {
      {"#CENTER", 0, -100000, 7},
      {"#center+5", 0, -100000, 7},
      {"#A_B$C!)", 0, 5, 7},
      {"#myconst", 0, 9, 8},
      {"#" + name70, 0, 64, 65},  // cut after 64 characters
      {"CENTER", ERR_WRONGUSAGE, 0, 0},
      {"#GREETING", ERR_WRONGUSAGE, 0, 0},  // a text constant is no number
      {"#5x", ERR_SYNTAXERROR, 0, 0},
      {"#$x", ERR_SYNTAXERROR, 0, 0},
      {"#", ERR_SYNTAXERROR, 0, 0},
      {"#_unknown", ERR_FINDCST, 0, 0},
      {"#Nothing", ERR_FINDCST, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    double value = -1;
    int consumed = -1;
    EXPECT_EQ(LookupConstant(L, c.text.c_str(), &value, &consumed), c.code);
    if (c.code == 0) {
      EXPECT_EQ(value, c.value);
      EXPECT_EQ(consumed, c.consumed);
    }
  }
  EXPECT_EQ(VmGetTop(L), 0);
}

TEST_F(ArgsTest, SetFieldsFillTheTableOnTop) {
  int target = 0;
  VmNewTable(L);
  SetFieldInt(L, "i", -3);
  SetFieldNumber(L, "n", 2.5);
  SetFieldString(L, "s", "text");
  SetFieldObjectId(L, "num", {12, nullptr});
  SetFieldObjectId(L, "auto", {0, &target});
  ASSERT_EQ(VmGetTop(L), 1);
  auto field = [&](const char* key) {
    VmPushString(L, key);
    VmRawGet(L, 1);
  };
  field("i");
  EXPECT_EQ(VmToNumber(L, -1), -3);
  field("n");
  EXPECT_EQ(VmToNumber(L, -1), 2.5);
  field("s");
  EXPECT_STREQ(VmToString(L, -1), "text");
  field("num");
  EXPECT_EQ(VmType(L, -1), kTypeNumber);
  EXPECT_EQ(VmToNumber(L, -1), 12);
  field("auto");
  EXPECT_EQ(VmType(L, -1), kTypeLightUserdata);
  EXPECT_EQ(VmToUserdata(L, -1), &target);
  VmSetTop(L, 0);
}

// The option table that the field readers read, as argument 2 of the call.
void PushOptions(qvScriptState* L) {
  VmPushNumber(L, 0);
  VmNewTable(L);
  auto number = [&](const char* k, double v) { SetFieldNumber(L, k, v); };
  auto text = [&](const char* k, const char* v) { SetFieldString(L, k, v); };
  number("fraction", 7.9);
  number("negative", -7.9);
  number("white", 4294967295.0);
  text("numtext", "12");
  text("word", "text that is long");
  text("pct", "25%");
  text("pct150", "150%");
  text("negpct", "-5%");
  text("plain", "33.9");
  text("bad", "abc");
  text("layer", "Background");
  SetFieldObjectId(L, "handle", {0, &gObject});
  number("layernum", 3);
  number("zero", 0);
  text("zerotext", "0");
  VmPushString(L, "sub");
  VmNewTable(L);
  VmPushString(L, "matrix");
  VmNewTable(L);
  for (int i = 0; i < 4; ++i) {
    VmPushNumber(L, i == 0 || i == 3 ? 1 : 0.5 * i);
    VmRawSetI(L, -2, i);
  }
  VmSetTable(L, -3);  // sub.matrix
  VmPushString(L, "short");
  VmNewTable(L);
  for (int i = 0; i < 3; ++i) {
    VmPushNumber(L, i);
    VmRawSetI(L, -2, i);
  }
  VmSetTable(L, -3);  // sub.short
  VmPushString(L, "textitem");
  VmNewTable(L);
  for (int i = 0; i < 4; ++i) {
    VmPushString(L, i == 2 ? "x" : "1");
    VmRawSetI(L, -2, i);
  }
  VmSetTable(L, -3);  // sub.textitem
  VmSetTable(L, -3);
}

enum class Reader {
  kInt,
  kUInt,
  kNumber,
  kString,
  kObjectId,
  kLayer,
  kSize,
  kSizeAllow,
  kNumPct,
  kNumPctAllow,
  kMatrix,
  kFlag
};

struct FieldCase {
  Reader reader;
  const char* key;
  int32_t code;
  std::string result;     // when it succeeds
  std::string errorText;  // the stored text argument when it fails
};

// Runs one reader on the option table (argument 2, or the subtable for matrices).
std::string ReadWith(qvScriptState* S, Reader r, const char* key, int* found) {
  int t = 2;
  if (r == Reader::kMatrix) {
    VmPushString(S, "sub");
    VmGetTable(S, 2);
    t = -1;  // relative indices work too
  }
  switch (r) {
    case Reader::kInt: {
      int32_t v = -99;
      return GetFieldInt(S, t, key, &v, found) ? std::to_string(v) : "absent";
    }
    case Reader::kUInt: {
      uint32_t v = 99;
      return GetFieldUInt(S, t, key, &v, found) ? std::to_string(v) : "absent";
    }
    case Reader::kNumber: {
      double v = -99;
      return GetFieldNumber(S, t, key, &v, found) ? Num(v) : "absent";
    }
    case Reader::kString: {
      char buf[8] = "unset";
      return GetFieldString(S, t, key, buf, sizeof buf, found) ? std::string(buf)
                                                               : "absent:" + std::string(buf);
    }
    case Reader::kObjectId: {
      qvObjectId id{-99, nullptr};
      if (!GetFieldObjectId(S, t, key, &id, found)) return "absent";
      return std::to_string(id.number) + (id.handle == &gObject ? "+handle" : "");
    }
    case Reader::kLayer: {
      int32_t v = -99;
      return GetFieldLayer(S, t, key, &v, found) ? std::to_string(v) : "absent";
    }
    case Reader::kSize:
    case Reader::kSizeAllow: {
      int32_t v = -99;
      return GetFieldSizeOrPercent(S, t, key, r == Reader::kSizeAllow, &v, found)
                 ? std::to_string(v)
                 : "absent";
    }
    case Reader::kNumPct:
    case Reader::kNumPctAllow: {
      double v = -99;
      int pct = -1;
      if (!GetFieldNumberOrPercent(S, t, key, r == Reader::kNumPct ? 640 : 0,
                                   r == Reader::kNumPctAllow, &pct, &v, found))
        return "absent";
      return Num(v) + (pct ? "p" : "");
    }
    case Reader::kFlag: {
      bool on = false;
      if (!GetFieldFlag(S, t, key, &on, found)) return "absent";
      return on ? "on" : "off";
    }
    case Reader::kMatrix: {
      double m[4] = {-9, -9, -9, -9};
      if (!GetFieldMatrix(S, t, key, m, found)) return "absent";
      return Num(m[0]) + "," + Num(m[1]) + "," + Num(m[2]) + "," + Num(m[3]);
    }
  }
  return "";
}

TEST_F(ArgsTest, FieldReadersReadConvertOrNameTheKey) {
  const FieldCase cases[] = {
      {Reader::kInt, "fraction", 0, "7", ""},
      {Reader::kInt, "negative", 0, "-7", ""},
      {Reader::kInt, "numtext", 0, "12", ""},
      {Reader::kInt, "word", ERR_NUMTABLEARG, "", "word"},
      {Reader::kInt, "missing", 0, "absent", ""},
      {Reader::kUInt, "white", 0, "4294967295", ""},
      {Reader::kUInt, "bad", ERR_NUMTABLEARG, "", "bad"},
      {Reader::kNumber, "fraction", 0, "7.9", ""},
      {Reader::kNumber, "sub", ERR_NUMTABLEARG, "", "sub"},
      {Reader::kString, "word", 0, "text th", ""},  // cut to the 8-byte buffer
      {Reader::kString, "fraction", 0, "7.9", ""},
      {Reader::kString, "sub", ERR_STRTABLEARG, "", "sub"},
      {Reader::kString, "missing", 0, "absent:unset", ""},
      {Reader::kObjectId, "handle", 0, "0+handle", ""},
      {Reader::kObjectId, "fraction", 0, "7", ""},
      {Reader::kObjectId, "word", ERR_NUMTABLEARG, "", "word"},
      {Reader::kLayer, "layernum", 0, "3", ""},
      {Reader::kLayer, "layer", ERR_FINDLAYER, "", "Background"},  // no BGPic has layers yet
      {Reader::kLayer, "sub", ERR_WRONGUSAGE, "", "sub"},
      {Reader::kSize, "pct", 0, "-25", ""},
      {Reader::kSize, "plain", 0, "33", ""},
      {Reader::kSize, "fraction", 0, "7", ""},
      {Reader::kSize, "pct150", ERR_PERCENTFORMATSTR, "", "pct150"},
      {Reader::kSizeAllow, "pct150", 0, "-150", ""},
      {Reader::kSizeAllow, "negpct", ERR_PERCENTFORMATSTR, "", "negpct"},
      {Reader::kSize, "bad", ERR_PERCENTFORMATSTR, "", "bad"},
      {Reader::kSize, "sub", ERR_NUMTABLEARG, "", "sub"},
      {Reader::kNumPct, "pct", 0, "160", ""},
      {Reader::kNumPctAllow, "pct150", 0, "1.5p", ""},
      {Reader::kNumPct, "pct150", ERR_PERCENTFORMAT, "", "pct150"},
      {Reader::kNumPct, "fraction", 0, "7.9", ""},
      {Reader::kNumPct, "sub", ERR_STRORNUM, "", "sub"},
      {Reader::kMatrix, "matrix", 0, "1,0.5,1,1", ""},
      {Reader::kMatrix, "short", ERR_MISSINGPARAMTR, "", "short"},
      {Reader::kMatrix, "textitem", ERR_NUMTABLEARG, "", "textitem"},
      {Reader::kMatrix, "nosuch", 0, "absent", ""},
      // Scripts switch flags off with 0; any other number is on.
      {Reader::kFlag, "zero", 0, "off", ""},
      {Reader::kFlag, "zerotext", 0, "off", ""},
      {Reader::kFlag, "fraction", 0, "on", ""},
      {Reader::kFlag, "negative", 0, "on", ""},
      {Reader::kFlag, "numtext", 0, "on", ""},
      {Reader::kFlag, "word", ERR_NUMTABLEARG, "", "word"},
      {Reader::kFlag, "missing", 0, "absent", ""},
  };
  for (const FieldCase& c : cases) {
    SCOPED_TRACE(std::string(c.key) + " reader " + std::to_string(int(c.reader)));
    SetErrorString("before");
    SetErrorNumber(-1);
    std::string result;
    int found = 0;
    int top = -1;
    int32_t status = Run([&] { PushOptions(L); },
                         [&](qvScriptState* S) {
                           int before = VmGetTop(S);
                           result = ReadWith(S, c.reader, c.key, &found);
                           top = VmGetTop(S) - before - (c.reader == Reader::kMatrix ? 1 : 0);
                         });
    ASSERT_EQ(status, c.code);
    if (c.code == 0) {
      EXPECT_EQ(result, c.result);
      EXPECT_EQ(found, result.rfind("absent", 0) == 0 ? 0 : 1);
      EXPECT_EQ(top, 0);  // the field is popped
    } else {
      EXPECT_EQ(GetErrorString(), c.errorText);
      // Percentages of a field also name the option table's argument position.
      if (c.code == ERR_PERCENTFORMAT || c.code == ERR_STRORNUM) {
        EXPECT_EQ(GetErrorNumber(), 2);
      }
    }
  }
}

// File names resolve to the applet's linked files through the runtime's name buffer.
class FileNameTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    ASSERT_EQ(AllocRuntimeBuffers(), 0);
    settings_.linkedFiles = {{"::font:Sans", "", "", 200, 60}, {"data\\pic.png", "", "", 100, 50}};
    state_.appletOffset = 1000;
    std::snprintf(state_.scriptPath, sizeof state_.scriptPath, "/apps/demo");
    VmRegistrySetPointer(L, "applet", &settings_);
    SetProcessPlayerState(&state_);
  }
  void TearDown() override {
    SetProcessPlayerState(nullptr);
    FreeRuntimeBuffers();
    MachineTest::TearDown();
  }
  qvAppletSettings settings_;
  qvPlayerState state_;
};

TEST_F(FileNameTest, ArgumentsAndFieldsResolveByKind) {
  struct Case {
    const char* name;
    int kind;
    std::string resolved;
    bool font;
  } cases[] = {
      {"data/Pic.PNG", kLinkedFileFile, ":::chunk1100:50*pic.png//apps/demo", false},
      {"data/Pic.PNG", kLinkedFileNone, "data/Pic.PNG", false},
      {"Sans.font", kLinkedFileFont, ":::chunk1200:60*Sans//apps/demo", true},
      {"Sans", kLinkedFileFile, "Sans", false},
      {"other.png", kLinkedFileFile, "other.png", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " kind " + std::to_string(c.kind));
    std::string fromArg, fromField;
    bool argFont = !c.font, fieldFont = !c.font;
    size_t len = 0;
    int found = 0;
    int32_t status = Run(
        [&] {
          VmPushString(L, c.name);
          VmNewTable(L);
          SetFieldString(L, "file", c.name);
        },
        [&](qvScriptState* S) {
          if (c.kind != kLinkedFileNone) fromArg = ResolveLinkedFileArg(S, 1, c.kind, &argFont);
          char* copy = nullptr;
          ASSERT_EQ(GetFieldFileName(S, 2, "file", c.kind, &fieldFont, &copy, &len, &found), 1);
          ASSERT_NE(copy, nullptr);
          fromField = copy;
          std::free(copy);
          char* untouched = nullptr;
          EXPECT_EQ(GetFieldFileName(S, 2, "nofile", c.kind, nullptr, &untouched, nullptr, nullptr),
                    0);
          EXPECT_EQ(untouched, nullptr);
        });
    ASSERT_EQ(status, 0);
    EXPECT_EQ(fromField, c.resolved);
    EXPECT_EQ(len, c.resolved.size());
    EXPECT_EQ(found, 1);
    if (c.kind != kLinkedFileNone) {
      EXPECT_EQ(fromArg, c.resolved);
      EXPECT_EQ(argFont, c.font);
      EXPECT_EQ(fieldFont, c.font);
    }
  }
  // A non-text field names its key; a missing argument its index.
  SetErrorNumber(0);
  EXPECT_EQ(Run(
                [&] {
                  VmNewTable(L);
                  VmPushString(L, "file");
                  VmNewTable(L);
                  VmSetTable(L, -3);
                },
                [](qvScriptState* S) {
                  char* copy = nullptr;
                  GetFieldFileName(S, 1, "file", kLinkedFileFile, nullptr, &copy, nullptr, nullptr);
                }),
            ERR_STRTABLEARG);
  EXPECT_STREQ(GetErrorString(), "file");
  EXPECT_EQ(Run([](qvScriptState* S) { ResolveLinkedFileArg(S, 1, kLinkedFileFile, nullptr); }),
            ERR_STREXPECTED);
  EXPECT_EQ(GetErrorNumber(), 1);

  // Without an applet nothing is linked.
  SetProcessPlayerState(nullptr);
  EXPECT_STREQ(ResolveLinkedFile(L, "data/Pic.PNG", false, nullptr), "data/Pic.PNG");
}

TEST(ObjectSize, ProductsAreCheckedForOverflow) {
  struct Case {
    int32_t width, height, unit;
    int32_t code;
    size_t bytes;
  } cases[] = {
      {640, 480, 4, 0, 640u * 480u * 4u},
      {0, 480, 4, 0, 0},
      {46340, 46340, 1, 0, 2147395600u},
      {46341, 46341, 1, ERR_MEM, 0},
      {23170, 23170, 4, 0, 2147395600u},
      {23171, 23171, 4, ERR_MEM, 0},
      {0x7FFFFFFF, 0x7FFFFFFF, 4, ERR_MEM, 0},
      {-1, 10, 4, ERR_MEM, 0},
      {10, -1, 4, ERR_MEM, 0},
  };
  for (const Case& c : cases) {
    size_t bytes = 12345;
    EXPECT_EQ(CheckObjectSize(c.width, c.height, c.unit, &bytes), c.code)
        << c.width << "x" << c.height;
    if (c.code == 0) {
      EXPECT_EQ(bytes, c.bytes);
    }
  }
}

}  // namespace
}  // namespace qv
