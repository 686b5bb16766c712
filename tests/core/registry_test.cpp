// Registries: command lookup, objects, runtime attributes, object data items and calls of script
// functions by name.
#include "core/registry.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/error_table.h"
#include "core/errors.h"
#include "core/eventqueue.h"
#include "core/player_state.h"

namespace qv {
namespace {

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    L = VmOpenState(CoreVmHost());
    ASSERT_NE(L, nullptr);
    SetProcessVm(L);
  }
  void TearDown() override {
    FreeRegistries();
    SetProcessVm(nullptr);
    VmCloseState(L);
    SetExitOnError(1);
  }

  // The value an item refers to, as text.
  std::string ItemValue(const qvObjectDataItem* item) {
    VmRawGetI(L, kRegistryIndex, item->ref);
    std::string s = VmType(L, -1) == kTypeNil ? "nil" : VmToString(L, -1);
    VmSetTop(L, -2);
    return s;
  }

  qvScriptState* L = nullptr;
};

int32_t NoOp(qvScriptState*) { return 0; }

TEST_F(RegistryTest, FindCommandGivesTheRegisteredSpellingOfTheFirstMatch) {
  static const qvLibraryRow brush[] = {
      {"LoadBrush", NoOp}, {"DisplayBrush", NoOp}, {nullptr, nullptr}};
  static const qvLibraryRow other[] = {{"DISPLAYBRUSH", NoOp}, {"Wait", NoOp}, {nullptr, nullptr}};
  static const qvLibrary libraries[] = {{"brush", brush, nullptr, nullptr},
                                        {"empty", nullptr, nullptr, nullptr},
                                        {"other", other, nullptr, nullptr}};
  for (const qvLibrary& library : libraries) ASSERT_EQ(OpenLibrary(L, library), 0);

  EXPECT_EQ(FindCommand("displaybrush"), brush[1].name);
  EXPECT_EQ(FindCommand("WAIT"), other[1].name);
  EXPECT_EQ(FindCommand("missing"), nullptr);
  EXPECT_EQ(FindCommand(nullptr), nullptr);
}

// Opening a library reaches every place a script or a report looks: the globals (lower-cased
// names), the constants, the library list, and the library's own open function last.
int32_t gOpenedWithCommand;
int32_t OpenReadsItsCommand(qvScriptState* L) {
  VmPushString(L, "loadbrush");
  VmGetTable(L, kGlobalsIndex);
  gOpenedWithCommand = VmType(L, -1) == kTypeFunction;
  VmSetTop(L, -2);
  return 0;
}
int32_t OpenFails(qvScriptState*) { return ERR_MEM; }

TEST_F(RegistryTest, OpenLibraryRegistersCommandsConstantsAndTheListThenRunsOpen) {
  static const qvLibraryRow commands[] = {{"LoadBrush", NoOp}, {nullptr, nullptr}};
  static const qvConstantRow constants[] = {
      {"BrushCenter", nullptr, -100000}, {"BrushName", "b", 0}, {nullptr, nullptr, 0}};
  static const qvLibrary brush{"brush", commands, constants, OpenReadsItsCommand};
  gOpenedWithCommand = 0;
  VmPushNumber(L, 7);  // something of the caller's on the stack
  ASSERT_EQ(OpenLibrary(L, brush), 0);
  EXPECT_EQ(VmGetTop(L), 1);
  EXPECT_EQ(gOpenedWithCommand, 1);
  EXPECT_EQ(FindCommand("LOADBRUSH"), commands[0].name);
  VmPushString(L, "LoadBrush");
  VmGetTable(L, kGlobalsIndex);
  EXPECT_EQ(VmType(L, -1), kTypeNil);  // only the lower-cased name
  VmSetTop(L, 1);
  double number = 0;
  const char* text = nullptr;
  EXPECT_EQ(VmGetConstant(L, "brushcenter", &text, &number), 1);
  EXPECT_EQ(number, -100000);
  EXPECT_EQ(VmGetConstant(L, "BRUSHNAME", &text, &number), 1);
  EXPECT_STREQ(text, "b");

  // A failing open function's code comes back; the tables are registered by then.
  static const qvLibrary failing{"failing", nullptr, nullptr, OpenFails};
  EXPECT_EQ(OpenLibrary(L, failing), ERR_MEM);
  EXPECT_EQ(VmGetTop(L), 1);
}

TEST_F(RegistryTest, ObjectsAreFoundByTypeNumberAndHandle) {
  qvObjectHeader b1{kObjectBrush, 1, nullptr, 0, nullptr};
  qvObjectHeader bAuto{kObjectBrush, 0, nullptr, 0, nullptr};
  bAuto.handle = &bAuto;
  qvObjectHeader b7{kObjectBrush, 7, nullptr, 0, nullptr};
  b1.next = &bAuto;
  bAuto.next = &b7;
  qvObjectHeader* brushes = &b1;
  qvObjectHeader s1{kObjectSample, 1, nullptr, 0, nullptr};
  qvObjectHeader* samples = &s1;
  qvObjectHeader* empty = nullptr;
  ASSERT_EQ(RegisterObjectList(&brushes), 0);
  ASSERT_EQ(RegisterObjectList(&empty), 0);
  ASSERT_EQ(RegisterObjectList(&samples), 0);

  EXPECT_EQ(FindObject(kObjectBrush, {1, nullptr}), &b1);
  EXPECT_EQ(FindObject(kObjectSample, {1, nullptr}), &s1);
  EXPECT_EQ(FindObject(kObjectBrush, {0, &bAuto}), &bAuto);
  EXPECT_EQ(FindObject(kObjectBrush, {1, &bAuto}), nullptr);  // both words must match
  EXPECT_EQ(FindObject(kObjectBrush, {0, nullptr}), nullptr);
  EXPECT_EQ(FindObject(kObjectAnim, {7, nullptr}), nullptr);

  EXPECT_EQ(CountObjects(kObjectBrush), 3);
  EXPECT_EQ(CountObjects(kObjectSample), 1);
  EXPECT_EQ(CountObjects(kObjectAnim), 0);

  EXPECT_EQ(GetObjectTypeByHandle(&bAuto), kObjectBrush);
  EXPECT_EQ(GetObjectTypeByHandle(&b1), -1);  // b1 has no handle
  EXPECT_EQ(GetObjectTypeByHandle(nullptr), -1);

  VmNewTable(L);
  EXPECT_EQ(PushObjectIds(L, kObjectBrush), 3);
  VmRawGetI(L, 1, 0);
  EXPECT_EQ(VmToNumber(L, -1), 1);
  VmRawGetI(L, 1, 1);
  EXPECT_EQ(VmType(L, -1), kTypeLightUserdata);
  EXPECT_EQ(VmToUserdata(L, -1), &bAuto);
  VmRawGetI(L, 1, 2);
  EXPECT_EQ(VmToNumber(L, -1), 7);
  VmRawGetI(L, 1, 3);
  EXPECT_EQ(VmType(L, -1), kTypeNil);
  VmSetTop(L, 0);

  VmNewTable(L);
  EXPECT_EQ(PushObjectIds(L, kObjectVideo), 0);
  VmPushNil(L);
  EXPECT_EQ(VmNext(L, 1), 0);  // the table stays empty
  VmSetTop(L, 0);
}

struct ChainLog {
  std::vector<std::string> calls;
};
ChainLog gLog;

int SetFirst(void* context, uint32_t tag, intptr_t value) {
  gLog.calls.push_back("first " + std::to_string(tag) + "=" + std::to_string(value) +
                       (context != nullptr ? " ctx" : ""));
  return tag == 5;
}
int SetSecond(void* context, uint32_t tag, intptr_t value) {
  gLog.calls.push_back("second " + std::to_string(tag) + "=" + std::to_string(value) +
                       (context != nullptr ? " ctx" : ""));
  return tag == 5 || tag == 7;
}
int GetRunning(void*, uint32_t tag, intptr_t* out) {
  if (tag != kAttrScriptRunning) return 0;
  *out = 4242;
  return 1;
}

TEST_F(RegistryTest, RuntimeAttributesCountHandledTags) {
  const qvAttrSetItem nesting[] = {{11, 1}, {11, 1}, {11, 0}, {0, 0}};
  EXPECT_EQ(SetRuntimeAttrs(nullptr, nesting), 3);
  intptr_t count = -1;
  const qvAttrGetItem getNesting[] = {{11, &count}, {0, nullptr}};
  EXPECT_EQ(GetRuntimeAttrs(nullptr, getNesting), 1);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(VmGetHandlerSuppression(L), 1);  // the error path sees the same count

  // An unbalanced leave stops at 0.
  const qvAttrSetItem leave[] = {{11, 0}, {11, 0}, {11, 0}, {0, 0}};
  EXPECT_EQ(SetRuntimeAttrs(nullptr, leave), 3);
  GetRuntimeAttrs(nullptr, getNesting);
  EXPECT_EQ(count, 0);

  // Core switches.
  const qvAttrSetItem core[] = {{12, 0}, {2, 1}, {6, 1}, {23, 1}, {0, 0}};
  EXPECT_EQ(SetRuntimeAttrs(nullptr, core), 4);
  EXPECT_EQ(GetExitOnError(), 0);
  EXPECT_EQ(IsScriptRunning(), 1);
  intptr_t exitOnError = -1, quiet = -1, loader = -1, age = -1, running = -1;
  const qvAttrGetItem gets[] = {{12, &exitOnError}, {2, &quiet},    {6, &loader},
                                {1, &age},          {23, &running}, {0, nullptr}};
  EXPECT_EQ(GetRuntimeAttrs(nullptr, gets), 4);  // 23 is left to the chain
  EXPECT_EQ(exitOnError, 0);
  EXPECT_EQ(quiet, 1);
  EXPECT_EQ(loader, 1);
  EXPECT_EQ(age, 1500);
  EXPECT_EQ(running, -1);
  const qvAttrSetItem reset[] = {{12, 1}, {2, 0}, {6, 0}, {23, 0}, {0, 0}};
  SetRuntimeAttrs(nullptr, reset);

  // Chains: the first handler that accepts a tag ends the search; unhandled tags do not count.
  gLog.calls.clear();
  ASSERT_EQ(AddSetAttrHandler(SetFirst), 0);
  ASSERT_EQ(AddSetAttrHandler(SetSecond), 0);
  ASSERT_EQ(AddGetAttrHandler(GetRunning), 0);
  int context = 0;
  const qvAttrSetItem chained[] = {{5, 50}, {7, 70}, {99, 9}, {0, 0}};
  EXPECT_EQ(SetRuntimeAttrs(&context, chained), 2);
  EXPECT_EQ(gLog.calls,
            (std::vector<std::string>{"first 5=50 ctx", "first 7=70 ctx", "second 7=70 ctx",
                                      "first 99=9 ctx", "second 99=9 ctx"}));
  EXPECT_EQ(GetRuntimeAttrs(nullptr, gets), 5);
  EXPECT_EQ(running, 4242);
}

TEST_F(RegistryTest, StaleEventAgeReachesTheEventQueue) {
  ASSERT_EQ(AllocRuntimeBuffers(), 0);
  const qvAttrSetItem set[] = {{1, 250}, {0, 0}};
  EXPECT_EQ(SetRuntimeAttrs(nullptr, set), 1);
  EXPECT_EQ(RuntimeEventQueue()->StaleLimit(), 250);
  const qvAttrSetItem back[] = {{1, 1500}, {0, 0}};
  SetRuntimeAttrs(nullptr, back);
  FreeRuntimeBuffers();
}

TEST_F(RegistryTest, ObjectDataItemsIgnoreCaseAndManageTheirReferences) {
  qvObjectDataItem* list = nullptr;
  VmPushString(L, "fast");
  VmPushNumber(L, 3);
  VmPushString(L, "red");
  ASSERT_EQ(SetObjectDataItem(L, "Speed", 1, &list), 0);
  ASSERT_EQ(SetObjectDataItem(L, "Color", -1, &list), 0);
  ASSERT_EQ(SetObjectDataItem(L, "SPEED", 2, &list), 0);  // replaces
  VmSetTop(L, 0);

  ASSERT_NE(list, nullptr);
  EXPECT_STREQ(list->name, "Speed");
  EXPECT_EQ(ItemValue(list), "3");
  ASSERT_NE(list->next, nullptr);
  EXPECT_STREQ(list->next->name, "Color");
  EXPECT_EQ(list->next->next, nullptr);
  EXPECT_EQ(FindObjectDataItem(list, "speed"), list);
  EXPECT_EQ(FindObjectDataItem(list, "COLOR"), list->next);
  EXPECT_EQ(FindObjectDataItem(list, "size"), nullptr);

  qvObjectDataItem* copy = nullptr;
  ASSERT_EQ(CopyObjectDataList(L, list, &copy), 0);
  ASSERT_NE(copy, nullptr);
  ASSERT_NE(copy->next, nullptr);
  EXPECT_NE(copy->ref, list->ref);
  EXPECT_EQ(ItemValue(copy), "3");
  EXPECT_EQ(ItemValue(copy->next), "red");
  EXPECT_STREQ(copy->next->name, "Color");

  EXPECT_EQ(RemoveObjectDataItem(L, &list, "color"), 1);
  EXPECT_EQ(RemoveObjectDataItem(L, &list, "color"), 0);
  EXPECT_EQ(list->next, nullptr);
  EXPECT_EQ(ItemValue(copy->next), "red");  // the copy keeps its own reference
  FreeRefList(L, list);
  FreeRefList(L, copy);

  // Replacing and removing release their references: cycles reuse the same few slots.
  int highest = VmGetN(L, kRegistryIndex);
  for (int i = 0; i < 1000; ++i) {
    qvObjectDataItem* items = nullptr;
    VmPushNumber(L, i);
    SetObjectDataItem(L, "a", -1, &items);
    SetObjectDataItem(L, "A", -1, &items);
    SetObjectDataItem(L, "b", -1, &items);
    VmSetTop(L, 0);
    RemoveObjectDataItem(L, &items, "B");
    FreeRefList(L, items);
  }
  EXPECT_LE(VmGetN(L, kRegistryIndex), highest + 2);
}

TEST_F(RegistryTest, AnObjectsDataGoesWithItWithOrWithoutAMachine) {
  qvObjectHeader object{kObjectTimer, 1, nullptr, 0, nullptr, nullptr};
  int afterFirst = 0;
  for (int i = 0; i < 1000; ++i) {
    VmPushNumber(L, i);
    ASSERT_EQ(SetObjectDataItem(L, "a", -1, &object.data), 0);
    ASSERT_EQ(SetObjectDataItem(L, "b", -1, &object.data), 0);
    VmSetTop(L, 0);
    FreeObjectData(L, &object);
    EXPECT_EQ(object.data, nullptr);
    if (i == 0) afterFirst = VmGetN(L, kRegistryIndex);
  }
  EXPECT_EQ(VmGetN(L, kRegistryIndex), afterFirst);  // the references went back each time
  // At shutdown after the machine closed only the items themselves are freed (ASan sees the rest).
  VmPushNumber(L, 1);
  ASSERT_EQ(SetObjectDataItem(L, "c", -1, &object.data), 0);
  VmSetTop(L, 0);
  FreeObjectData(nullptr, &object);
  EXPECT_EQ(object.data, nullptr);
}

// Records its arguments and answers with two results.
std::vector<std::string> gArgs;
int32_t CreateThing(qvScriptState* L) {
  gArgs.clear();
  for (int i = 1; i <= VmGetTop(L); ++i) {
    switch (VmType(L, i)) {
      case kTypeNil:
        gArgs.push_back("nil");
        break;
      case kTypeLightUserdata:
        gArgs.push_back("handle");
        break;
      default:
        gArgs.push_back(VmToString(L, i));
        break;
    }
  }
  VmPushString(L, "made");
  VmPushNumber(L, VmGetTop(L) - 1);
  return 2;
}
int32_t Failing(qvScriptState*) { return ERR_WRONGUSAGE; }

TEST_F(RegistryTest, ScriptFunctionsAreCalledByNameWithTypedArguments) {
  static const qvLibraryRow rows[] = {
      {"CreateThing", CreateThing}, {"Failing", Failing}, {nullptr, nullptr}};
  VmPushValue(L, kGlobalsIndex);
  VmRegisterLibrary(L, nullptr, rows, 0);  // commands as globals
  VmSetTop(L, 0);

  int handle = 0;
  qvObjectId byNumber{12, nullptr};
  qvObjectId byHandle{0, &handle};
  const qvScriptArg args[] = {
      {kArgInt, -5, nullptr},       {kArgUInt, 4294967295LL, nullptr}, {kArgString, 0, "text"},
      {kArgNil, 0, nullptr},        {kArgHandle, 0, &handle},          {kArgObjectId, 0, &byNumber},
      {kArgObjectId, 0, &byHandle},
  };
  EXPECT_EQ(CallScriptFunction(L, "CREATETHING", 2, 7, args), 0);
  EXPECT_EQ(gArgs, (std::vector<std::string>{"-5", "4294967295", "text", "nil", "handle", "12",
                                             "handle"}));
  ASSERT_EQ(VmGetTop(L), 2);
  EXPECT_STREQ(VmToString(L, 1), "made");
  EXPECT_EQ(VmToNumber(L, 2), 7);
  VmSetTop(L, 0);

  EXPECT_EQ(CallScriptFunction(L, "failing", 0, 0, nullptr), ERR_WRONGUSAGE);
  EXPECT_EQ(CallScriptFunction(nullptr, "creatething", 0, 0, nullptr), 0);
  EXPECT_EQ(VmGetTop(L), 0);
}

TEST_F(RegistryTest, AppletSettingsComeFromTheRegistryOfTheGivenOrProcessMachine) {
  EXPECT_EQ(GetAppletSettings(L), nullptr);
  qvAppletSettings settings;
  VmRegistrySetPointer(L, "applet", &settings);
  EXPECT_EQ(GetAppletSettings(L), &settings);
  EXPECT_EQ(GetAppletSettings(nullptr), &settings);
  SetProcessVm(nullptr);
  EXPECT_EQ(GetAppletSettings(nullptr), nullptr);
}

std::string Slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST_F(RegistryTest, CommandAndConstantDumpsWriteOneNamePerLine) {
  static const qvLibraryRow brush[] = {
      {"LoadBrush", NoOp}, {"DisplayBrush", NoOp}, {nullptr, nullptr}};
  static const qvLibraryRow none[] = {{nullptr, nullptr}};
  static const qvLibrary libraries[] = {{"brush", brush, nullptr, nullptr},
                                        {"video", none, nullptr, nullptr},
                                        {"sound", nullptr, nullptr, nullptr}};
  for (const qvLibrary& library : libraries) ASSERT_EQ(OpenLibrary(L, library), 0);
  const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                    ("qv_dump_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string commands = (dir / "commands.txt").string();
  EXPECT_EQ(DumpCommandNames(commands.c_str()), 1);
  EXPECT_EQ(Slurp(commands),
            "::brush\n2\nLoadBrush\nDisplayBrush\n::video\n0\n::sound\n0\n::end\n");

  const qvConstantRow rows[] = {{"Center", nullptr, 1},
                                {"Greeting", "hi", 0},
                                {"NoColor", nullptr, 2},
                                {nullptr, nullptr, 0}};
  VmRegisterConstants(L, rows, 0);
  const qvConstantRow user[] = {{"Mine", nullptr, 3}, {nullptr, nullptr, 0}};
  VmRegisterConstants(L, user, 1);
  const std::string constants = (dir / "constants.txt").string();
  EXPECT_EQ(DumpConstantNames(L, constants.c_str()), 1);
  std::istringstream lines(Slurp(constants));
  std::multiset<std::string> names;
  for (std::string line; std::getline(lines, line);) names.insert(line);
  EXPECT_EQ(names, (std::multiset<std::string>{"center", "greeting", "nocolor"}));  // table order
  EXPECT_EQ(VmGetTop(L), 0);

  const std::string unwritable = (dir / "missing" / "x.txt").string();
  EXPECT_EQ(DumpCommandNames(unwritable.c_str()), 0);
  EXPECT_EQ(DumpConstantNames(L, unwritable.c_str()), 0);
  std::filesystem::remove_all(dir);
}

TEST_F(RegistryTest, UserResourcesAreRecordedOnlyWithoutName) {
  int data = 0;
  EXPECT_EQ(AddUserResource(nullptr, 5, &data), 1);
  EXPECT_EQ(AddUserResource("named", 5, &data), 0);
}

}  // namespace
}  // namespace qv
