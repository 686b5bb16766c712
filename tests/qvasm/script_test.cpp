// The script notation front end: what each construct becomes, the lines it refuses (with the
// line named), the error handler every script installs, and the command line reading *.qvs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fixtures/run_command.h"
#include "tests/fixtures/temp_dir.h"
#include "tools/qvasm/gtest_support.h"

namespace {

// Every construct of the notation once.
const char* const kEveryConstruct = R"(.header 11 "script"
; a comment line
x = OpenFile(Nil, "a;b.bin", 1006)   ; a comment after code, ";" in the string kept
do WriteInt(x, -2)
ReadInt(x)
t = {7, "eight", key = 0x10, [3] = {}}
t.key
t[1]
for i = 1, 3
  for v in Pairs(t)
    break
  end
  do Check(i, v)
end
function cb(msg, n)
  do DebugPrint(msg, n)
  return n
end
do SetHandler(@cb)
Say("quote \" and back\\slash")
)";

std::string Translate(const std::string& script) { return qvasm::TranslateOrFail(script); }

TEST(ScriptNotation, EveryConstructAssemblesAsAnApplet) {
  std::string text = Translate(kEveryConstruct);
  qvasm::Result r = qvasm::AssembleApplet(text);
  for (const auto& d : r.diags) ADD_FAILURE() << d.line << ": " << d.message << "\n" << text;
  // Directives come before the program, whatever their line.
  EXPECT_EQ(text.rfind(".header 11 \"script\"\n.function main\n", 0), 0u) << text;
  // A printed line shows its text as written, escaped for the assembler, and all its results.
  EXPECT_NE(text.find("LOADCONST R1, \"Say(\\\"quote \\\\\\\" and back\\\\\\\\slash\\\")\"\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("CALL R0, nargs=top, nres=0"), std::string::npos);
  // Commands are globals in lower case; names of the script keep their case as fields.
  EXPECT_NE(text.find("GETGLOBAL R0, \"openfile\""), std::string::npos);
  EXPECT_NE(text.find("SETTABLE R0, \"key\", R1"), std::string::npos);
  // The string keeps its ";".
  EXPECT_NE(text.find("\"a;b.bin\""), std::string::npos);
}

// A loop variable is the loop's register inside it; after an inner loop that reused the name, the
// outer loop's variable is its own again, not a global.
TEST(ScriptNotation, LoopVariablesAreScopedToTheirLoop) {
  std::string text = Translate(
      "for i = 1, 2\n"
      "  for i = 5, 6\n"
      "  end\n"
      "  do F(i)\n"
      "end\n"
      "do G(i)\n");
  EXPECT_TRUE(qvasm::AssembleApplet(text).ok()) << text;
  EXPECT_NE(text.find("GETGLOBAL R3, \"f\"\n  MOVE R4, R0\n"), std::string::npos) << text;
  // After the loops, i is a global, and only there.
  EXPECT_EQ(text.find("\"i\""), text.find("GETGLOBAL R1, \"i\"\n") + 14) << text;
}

// Each refused script names the line of the fault: for a block without its end, the line that
// opened it.
TEST(ScriptNotation, RefusedLinesAreNamed) {
  struct Case {
    const char* script;
    int line;
    const char* message;
  } cases[] = {
      {"x = 1\ny = \n", 2, "expression expected"},
      {"Say(\"open)\n", 1, "unterminated string"},
      {"x = 1\nfor i = 1, 2\n  do F()\n", 2, "for without its end"},
      {"function f(a)\n  return a\n", 1, "function without its end"},
      {"do F()\nend\ndo G()\n", 2, "end without a loop or function"},
      {"break\n", 1, "break outside a loop"},
      {"x = 1 2\n", 1, "unexpected text"},
      {"for i 1, 2\nend\n", 1, "'=' or 'in' expected"},
      {"t = {[1 = 2}\n", 1, "expected ]"},
      {"function f(,)\nend\n", 1, "parameter expected"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    qvasm::ScriptText t = qvasm::TranslateScript(c.script);
    ASSERT_EQ(t.diags.size(), 1u);
    EXPECT_EQ(t.diags[0].line, c.line);
    EXPECT_EQ(t.diags[0].message.rfind(c.message, 0), 0u) << t.diags[0].message;
    EXPECT_TRUE(t.text.empty());
  }
}

// The handler prints codes through a table of the built-in names, every code first mapped to
// itself; with names off it prints the code as it came.
TEST(ScriptNotation, ErrorHandlerNamesBuiltInCodesUnlessAskedForNumbers) {
  std::string named = Translate("do F()\n");
  size_t handler = named.find(".function onerror__");
  ASSERT_NE(handler, std::string::npos);
  EXPECT_NE(named.find("SETTABLE R4, R0, R0", handler), std::string::npos);
  EXPECT_NE(named.find("LOADCONST R6, \"ERR_FINDBRUSH\"", handler), std::string::npos);
  EXPECT_TRUE(qvasm::AssembleApplet(named).ok());
  std::string numbered = qvasm::TranslateOrFail("do F()\n", qvasm::kNumberedErrors);
  EXPECT_EQ(numbered.find("ERR_"), std::string::npos);
  EXPECT_NE(numbered.find("MOVE R6, R0\n"), std::string::npos);
  EXPECT_TRUE(qvasm::AssembleApplet(numbered).ok());
}

class ScriptCli : public ::testing::Test {
 protected:
  int Run(const std::string& args) {
    int status = 0;
    out_ = qvtest::RunCommand("cd '" + dir_.path() + "' && '" QVASM_CLI "' " + args + " 2>&1",
                              &status);
    return status;
  }
  qvtest::TempDir dir_;
  std::string out_;
};

TEST_F(ScriptCli, ReadsQvsFilesInTheNotationAndShowsTheirAssemblerText) {
  const std::string script = ".link \"data\" \"data.bin\"\nx = 1\nx\n";
  dir_.Write("main.qvs", script);
  dir_.Write("data.bin", "linked");
  std::string text = Translate(script);

  ASSERT_EQ(Run("--script main.qvs"), 0) << out_;
  EXPECT_EQ(out_, text);
  ASSERT_EQ(Run("--script main.qvs -o main.qvasm"), 0) << out_;
  EXPECT_EQ(dir_.Read("main.qvasm"), text);

  qvasm::Options options;
  options.baseDir = dir_.path();
  std::vector<uint8_t> applet = qvasm::AssembleApplet(text, options).bytes;
  ASSERT_FALSE(applet.empty());
  ASSERT_EQ(Run("--applet main.qvs -o main.qva"), 0) << out_;
  EXPECT_EQ(dir_.Read("main.qva"), std::string(applet.begin(), applet.end()));
  // The same text under the assembler's name is read as assembler text, and refused.
  dir_.Write("same.qvasm", script);
  EXPECT_EQ(Run("--applet same.qvasm -o same.qva"), 1);
}

TEST_F(ScriptCli, ReportsTheScriptsLineAndRefusesMixedModes) {
  dir_.Write("bad.qvs", "x = 1\nfor i = 1, 2\n");
  EXPECT_EQ(Run("--applet bad.qvs -o bad.qva"), 1);
  EXPECT_EQ(out_, "bad.qvs:2: for without its end: for i = 1, 2\n");
  EXPECT_EQ(Run("--script bad.qvs"), 1);
  for (const char* usage : {"--script --applet bad.qvs -o x", "--script --disasm bad.qvs",
                            "--script bad.qvs --compress"}) {
    EXPECT_EQ(Run(usage), 1) << usage;
    EXPECT_NE(out_.find("usage:"), std::string::npos) << usage;
  }
}

}  // namespace
