// Error reports: the failing function, the source file and line through the applet's line maps,
// in the requester form and the debug-device form.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/error_table.h"
#include "core/errors.h"
#include "core/player_state.h"
#include "core/registry.h"
#include "core/runtime_buffers.h"
#include "tools/qvasm/gtest_support.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {
namespace {

struct ChunkReader {
  const std::vector<uint8_t>* bytes;
  bool done = false;
  static const char* Read(qvScriptState*, void* data, size_t* size) {
    auto* r = static_cast<ChunkReader*>(data);
    if (r->done) return nullptr;
    r->done = true;
    *size = r->bytes->size();
    return reinterpret_cast<const char*>(r->bytes->data());
  }
};

// Fails with "Cannot read file <path> !" naming the file it could not read.
int32_t ReadFails(qvScriptState*) {
  SetErrorString("/data/pictures/missing.png");
  return ERR_READFILE;
}

const qvLibraryRow kRows[] = {{"ReadFails", ReadFails}, {nullptr, nullptr}};
const qvLibrary kReportLibrary{"reporttest", kRows, nullptr, nullptr};

class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(AllocRuntimeBuffers(), 0);
    L = VmOpenState(CoreVmHost());
    ASSERT_NE(L, nullptr);
    VmRegistrySetPointer(L, "applet", &settings);
    SetReportScript(nullptr, 0);
    ASSERT_EQ(OpenLibrary(L, kReportLibrary), 0);
    SetExitOnError(1);
    ResetErrorFunctionName();
    SetRunning(1);
  }
  void TearDown() override {
    SetRunning(0);
    ResetErrorFunctionName();
    ForgetReportScript();
    VmCloseState(L);
    FreeRegistries();
    FreeRuntimeBuffers();
  }

  static void SetRunning(intptr_t on) {
    const qvAttrSetItem items[] = {{kAttrScriptRunning, on}, {0, 0}};
    SetRuntimeAttrs(nullptr, items);
  }

  // Runs the main function of the program; returns the status.
  int32_t Run(const std::string& text) {
    std::vector<uint8_t> bytes = qvasm::AssembleOrFail(text).bytes;
    ChunkReader reader{&bytes};
    int32_t status = VmLoad(L, ChunkReader::Read, &reader, "test");
    if (status != 0) return status;
    return VmPCall(L, 0, 0, 0);
  }

  struct Report {
    std::string message;
    const char* file = nullptr;
    int32_t line = 0;
    std::string requester;
    std::string debugLine;
  };
  Report MakeReport(int32_t code) {
    Report r;
    char message[kErrorMessageSize];
    BuildErrorReport(L, code, message, sizeof message, &r.file, &r.line);
    r.message = message;
    char text[4096];
    FormatErrorRequesterText(L, message, false, text, sizeof text);
    r.requester = text;
    FormatDebugDeviceError(r.file, r.line, message, text, sizeof text);
    r.debugLine = text;
    return r;
  }

  qvScriptState* L = nullptr;
  qvAppletSettings settings;
};

// Line 3 of the chunk calls the failing command.
constexpr char kCallAtLine3[] = R"(
.function main
  .line 1
  LOADCONST R0, 1
  .line 3
  GETGLOBAL R0, "readfails"
  CALL R0, nargs=0, nres=0
  RETURN R0, 1
.end
)";

TEST_F(ReportTest, NamesFileLineAndCommandThroughTheLineMaps) {
  settings.lineMaps = {{10, 20, 500, "other.qvs", ""}, {1, 9, 40, "game.qvs", ""}};
  ASSERT_EQ(Run(kCallAtLine3), ERR_READFILE);
  EXPECT_STREQ(GetCurrentFunctionName(), "ReadFails");  // the registered spelling
  Report r = MakeReport(ERR_READFILE);
  EXPECT_EQ(r.message, "Cannot read file missing.png !");
  ASSERT_NE(r.file, nullptr);
  EXPECT_STREQ(r.file, "game.qvs");
  EXPECT_EQ(r.line, 43);  // base 40 - first 1 + line 3 + 1
  EXPECT_EQ(
      r.requester,
      "Cannot read file missing.png !\nFile: game.qvs (current line: 43 - In function: ReadFails)");
  EXPECT_EQ(r.debugLine, "@_qverror43:game.qvs*Cannot read file missing.png !\n");
}

TEST_F(ReportTest, WithoutAMatchingMapTheFileIsUnknown) {
  settings.lineMaps = {{10, 20, 500, "other.qvs", ""}, {1, 9, 40, "game.qvs", "@elsewhere"}};
  ASSERT_EQ(Run(kCallAtLine3), ERR_READFILE);
  Report r = MakeReport(ERR_READFILE);
  EXPECT_STREQ(r.file, "---");
  EXPECT_EQ(r.line, -1);
  EXPECT_EQ(r.debugLine, "@_qverror-1:---*Cannot read file missing.png !\n");
}

TEST_F(ReportTest, BeforeAScriptRunsOnlyTheMessage) {
  SetRunning(0);
  SetErrorString("/games/missing.qva");
  Report r = MakeReport(ERR_FILEEXIST);
  EXPECT_EQ(r.file, nullptr);
  EXPECT_EQ(r.line, 0);
  EXPECT_EQ(r.requester, "File /games/missing.qva does not exist!");
  EXPECT_EQ(r.debugLine, "@_qverror0:\"\"*File /games/missing.qva does not exist!\n");
}

TEST_F(ReportTest, AnErrorInAnUnnamedFunction) {
  settings.lineMaps = {{1, 100, 0, "game.qvs", ""}};
  ASSERT_EQ(Run(R"(
.function main
  .line 2
  CLOSURE R0, divide
  CALL R0, nargs=0, nres=0
  RETURN R0, 1
  .function divide
    .line 7
    LOADCONST R0, 0
    DIV R0, 1, R0
    RETURN R0, 1
  .end
.end
)"),
            ERR_ZERODIVISION);
  Report r = MakeReport(ERR_ZERODIVISION);
  EXPECT_EQ(r.line, 7);
  EXPECT_EQ(r.requester,
            "Division by zero!\nFile: game.qvs (current line: 7 - In function: <<unnamed>>)");
}

TEST_F(ReportTest, WithExitOnErrorOffTheCommandGoesOn) {
  SetExitOnError(0);
  ASSERT_EQ(Run(kCallAtLine3), 0);
  EXPECT_EQ(VmGetLastError(L), ERR_READFILE);
  EXPECT_STREQ(GetCurrentFunctionName(), "----");
  EXPECT_EQ(VmGetErrorLine(L), -1);
  SetExitOnError(1);
}

TEST_F(ReportTest, WithoutAFunctionNameTheRequesterLineIsShorter) {
  settings.lineMaps = {{1, 9, 0, "/games/src/game.qvs", ""}};
  VmSetErrorLine(L, 5);
  char text[256];
  FormatErrorRequesterText(L, "Boom", false, text, sizeof text);
  // The file shows as its display name.
  EXPECT_STREQ(text, "Boom\nFile: game.qvs (current line: 5)");
  FormatErrorRequesterText(L, "Boom", true, text, sizeof text);
  EXPECT_STREQ(text, "Boom");
}

TEST_F(ReportTest, EveryTextIsBounded) {
  std::string longName(3000, 'n');
  settings.lineMaps = {{1, 9, 0, longName, ""}};
  VmSetErrorLine(L, 5);
  SetCurrentFunctionName(std::string(1000, 'f').c_str());
  EXPECT_EQ(std::strlen(GetCurrentFunctionName()), kFunctionNameSize - 1);
  std::string message(5000, 'm');
  char small[64];
  EXPECT_EQ(FormatErrorRequesterText(L, message.c_str(), false, small, sizeof small), 63u);
  EXPECT_EQ(std::strlen(small), 63u);
  EXPECT_EQ(FormatDebugDeviceError(longName.c_str(), 5, message.c_str(), small, sizeof small), 63u);
  EXPECT_EQ(std::string(small, 12), "@_qverror5:n");
  SetErrorString(std::string(900, 'e').c_str());
  EXPECT_EQ(std::strlen(GetErrorString()), kErrorStringSize - 1);
}

}  // namespace
}  // namespace qv
