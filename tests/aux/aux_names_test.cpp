// Libraries, constants, labels and the registry helpers: names resolve without regard to case.
#include <string>

#include "aux_fixture.h"
#include "vm/auxlib.h"

namespace qv::testing {
namespace {

using NamesTest = MachineTest;

// Returns 1 plus its first upvalue, so a call shows which closure ran with which upvalue.
int32_t AddUpvalue(qvScriptState* L) {
  VmPushNumber(L, 1 + VmToNumber(L, VmUpvalueIndex(1)) + VmOptNumber(L, 1, 0));
  return 1;
}
int32_t Answer(qvScriptState* L) {
  VmPushString(L, "answered");
  return 1;
}

// Calls table[key] (table at the stack top) with one number argument; returns the result as text.
std::string CallField(qvScriptState* L, const char* key, double arg) {
  VmPushString(L, key);
  VmGetTable(L, -2);
  if (VmType(L, -1) != kTypeFunction) {
    VmSetTop(L, -2);
    return "not a function";
  }
  VmPushNumber(L, arg);
  EXPECT_EQ(VmCall(L, 1, 1), 0);
  std::string r = VmToString(L, -1);
  VmSetTop(L, -2);
  return r;
}

TEST_F(NamesTest, LibraryCommandsAreStoredUnderLowerCaseNamesWithTheirUpvalues) {
  const qvLibraryRow rows[] = {
      {"LoadBrush", AddUpvalue}, {"FreeBRUSH", Answer}, {nullptr, nullptr}};
  VmPushNumber(L, 40);  // the one upvalue
  VmRegisterLibrary(L, "brush", rows, 1);
  // The upvalue is popped; the library table stays.
  ASSERT_EQ(VmGetTop(L), 1);
  ASSERT_EQ(VmType(L, 1), kTypeTable);

  EXPECT_EQ(CallField(L, "loadbrush", 1), "42");
  EXPECT_EQ(CallField(L, "freebrush", 0), "answered");
  EXPECT_EQ(CallField(L, "LoadBrush", 0), "not a function");

  // The same table is globals["brush"], and a second registration extends it.
  VmPushString(L, "brush");
  VmGetTable(L, kGlobalsIndex);
  EXPECT_TRUE(VmRawEqual(L, -1, 1));
  VmSetTop(L, 0);
  const qvLibraryRow more[] = {{"DisplayBrush", Answer}, {nullptr, nullptr}};
  VmRegisterLibrary(L, "brush", more, 0);
  EXPECT_EQ(CallField(L, "displaybrush", 0), "answered");
  EXPECT_EQ(CallField(L, "loadbrush", 0), "41");
  VmSetTop(L, 0);
}

TEST_F(NamesTest, LibraryWithoutNameFillsTheTableBelowTheUpvalues) {
  VmNewTable(L);
  VmPushNumber(L, 10);
  VmPushNumber(L, 20);
  const qvLibraryRow rows[] = {{"Plus", AddUpvalue}, {nullptr, nullptr}};
  VmRegisterLibrary(L, nullptr, rows, 2);
  ASSERT_EQ(VmGetTop(L), 1);
  EXPECT_EQ(CallField(L, "plus", 0), "11");  // the first upvalue
  VmSetTop(L, 0);
}

TEST_F(NamesTest, ConstantsResolveWithoutRegardToCase) {
  const qvConstantRow rows[] = {{"Center", nullptr, -100000},
                                {"Greeting", "Hello", 0},
                                {"\xc4RGER", nullptr, 7},
                                {nullptr, nullptr, 0}};
  VmRegisterConstants(L, rows, 0);
  const qvConstantRow user[] = {
      {"MyValue", nullptr, 3}, {"Greeting", nullptr, 99}, {nullptr, nullptr, 0}};
  VmRegisterConstants(L, user, 1);
  EXPECT_EQ(VmGetTop(L), 0);

  struct Case {
    const char* name;
    int found;
    const char* string;
    double number;
  } cases[] = {
      {"CENTER", 1, nullptr, -100000}, {"center", 1, nullptr, -100000},
      {"greeting", 1, "Hello", 0},  // the player's constants come first
      {"GREETING", 1, "Hello", 0},     {"\xe4rger", 1, nullptr, 7},  // Latin-1 folding
      {"myvalue", 1, nullptr, 3},      {"MYVALUE", 1, nullptr, 3},
      {"nothing", 0, nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const char* s = "unset";
    double n = -1;
    ASSERT_EQ(VmGetConstant(L, c.name, &s, &n), c.found);
    if (!c.found) continue;
    if (c.string != nullptr) {
      EXPECT_STREQ(s, c.string);
    } else {
      EXPECT_EQ(s, nullptr);
      EXPECT_EQ(n, c.number);
    }
  }
  // Only "userconstants" holds MyValue.
  const char* s;
  double n;
  EXPECT_EQ(VmLookupConstant(L, "constants", "myvalue", &n, &s), 0);
  EXPECT_EQ(VmLookupConstant(L, "nosuchtable", "greeting", &n, &s), 0);
  EXPECT_EQ(VmGetTop(L), 0);
}

TEST_F(NamesTest, LongNamesAreCutAlikeWhenStoredAndLookedUp) {
  std::string longName(300, 'Q');
  std::string otherTail = std::string(kNameBufferSize - 1, 'q') + "different tail";
  const qvConstantRow rows[] = {{longName.c_str(), nullptr, 5}, {nullptr, nullptr, 0}};
  VmRegisterConstants(L, rows, 0);
  const char* s;
  double n = 0;
  EXPECT_EQ(VmGetConstant(L, longName.c_str(), &s, &n), 1);
  EXPECT_EQ(n, 5);
  EXPECT_EQ(VmGetConstant(L, otherTail.c_str(), &s, &n), 1);
  EXPECT_EQ(VmGetConstant(L, std::string(kNameBufferSize - 2, 'q').c_str(), &s, &n), 0);
}

TEST_F(NamesTest, LabelsAreFoundInLowerCase) {
  EXPECT_EQ(VmFindLabel(L, "start"), -1);  // no "labels" table yet
  VmPushString(L, "labels");
  VmNewTable(L);
  VmPushString(L, "mainloop");
  VmPushNumber(L, 17);
  VmRawSet(L, -3);
  VmPushString(L, "broken");
  VmPushString(L, "x");
  VmRawSet(L, -3);
  VmRawSet(L, kRegistryIndex);

  EXPECT_EQ(VmFindLabel(L, "MainLoop"), 17);
  EXPECT_EQ(VmFindLabel(L, "MAINLOOP"), 17);
  EXPECT_EQ(VmFindLabel(L, "missing"), -1);
  EXPECT_EQ(VmFindLabel(L, "broken"), -1);  // not a number
  EXPECT_EQ(VmFindLabel(L, std::string(1000, 'x').c_str()), -1);
  EXPECT_EQ(VmGetTop(L), 0);
}

TEST_F(NamesTest, RegistryHelpersRoundTripAndKeepTheStack) {
  int target = 0;
  VmPushNumber(L, 1);  // something of the caller's on the stack
  VmRegistrySetPointer(L, "applet", &target);
  VmRegistrySetString(L, "script", ":none:");
  VmPushString(L, "beginline");
  VmPushNumber(L, 12);
  VmRawSet(L, kRegistryIndex);

  EXPECT_EQ(VmRegistryGetUserdata(L, "applet"), &target);
  EXPECT_STREQ(VmRegistryGetString(L, "script"), ":none:");
  EXPECT_EQ(VmRegistryGetNumber(L, "beginline"), 12);
  EXPECT_EQ(VmRegistryGetUserdata(L, "missing"), nullptr);
  EXPECT_EQ(VmRegistryGetString(L, "missing"), nullptr);
  EXPECT_EQ(VmRegistryGetString(L, "beginline"), nullptr);  // a number is no string here
  EXPECT_EQ(VmRegistryGetNumber(L, "missing"), 0);
  EXPECT_EQ(VmGetTop(L), 1);
}

TEST_F(NamesTest, FindStringMatchesExactly) {
  const char* const list[] = {"none", "Alpha", "beta", nullptr};
  EXPECT_EQ(VmFindString("Alpha", list), 1);
  EXPECT_EQ(VmFindString("beta", list), 2);
  EXPECT_EQ(VmFindString("alpha", list), -1);
  EXPECT_EQ(VmFindString("", list), -1);
}

}  // namespace
}  // namespace qv::testing
