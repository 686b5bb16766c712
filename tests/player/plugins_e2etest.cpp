// Plugins through the player program: a copy of the player in the test's folder with the test
// plugins beside it (plugins load only from the player's own folder). Library commands and
// constants, the plugin listing, refused plugins and their reasons, held-back plugins, demands,
// the order of the shutdown calls, and the media plugin's pictures, savers and streams.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "base/errors.h"
#include "tests/player/player_fixture.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using testing::PlayerRun;
using testing::PlayerTest;

class PluginsE2eTest : public PlayerTest {
 protected:
  void SetUp() override {
    PlayerTest::SetUp();
    std::error_code ec;
    fs::create_hard_link(QV_PLAYER_PATH, Player(), ec);
    if (ec) fs::copy_file(QV_PLAYER_PATH, Player());
    env_.push_back("QV_PLUGIN_LOG=" + Path("calls.log"));
  }
  std::string Player() const { return Path("quillvane"); }
  void Install(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
      fs::copy_file(std::string(QV_TEST_PLUGIN_DIR) + "/" + name + ".qvp", Path(name + ".qvp"),
                    fs::copy_options::overwrite_existing);
    }
  }
  // Runs the script quietly; the debug output comes back.
  std::string RunScript(const std::string& script, std::vector<std::string> options = {},
                        int status = 0, const std::string& directives = "") {
    WriteFile("main.qva", Applet(directives + qvasm::TranslateOrFail(script)));
    std::vector<std::string> args = {"main.qva", "-QUIET", "-DEBUGDEVICE",
                                     "::file" + Path("debug.txt")};
    args.insert(args.end(), options.begin(), options.end());
    PlayerRun r = Run(args, Player());
    EXPECT_EQ(r.status, status) << r.out << r.err;
    return ReadFile("debug.txt");
  }
};

TEST_F(PluginsE2eTest, LibraryCommandsConstantsAndErrors) {
  Install({"mylib"});
  EXPECT_EQ(RunScript(R"(
mylib.add(2, 3)
mylib.greet("you")
GetConstant("#MYLIB_ANSWER")
GetConstant("#mylib_name")
do mylib.fail(GetConstant("#ERR_WRONGUSAGE"))
do mylib.refuse()
GetErrorName(mylib.declared())
mylib.add(1.5, 1)
)"),
            "mylib.add(2, 3) 5\n"
            "mylib.greet(\"you\") Hello, you!\n"
            "GetConstant(\"#MYLIB_ANSWER\") 42\n"
            "GetConstant(\"#mylib_name\") my library\n"
            "error ERR_WRONGUSAGE Fail\n"
            "error 1509 Refuse\n"
            "GetErrorName(mylib.declared()) Mylib refused by mylib!\n"
            "mylib.add(1.5, 1) 2.5\n");
  // The raising services unwind through the plugin's C frames and end the script.
  EXPECT_EQ(RunScript("do mylib.add(1)\n", {}, 1),
            "@_qverror-1:---*Number expected in argument 2!\n");
  EXPECT_EQ(RunScript("do mylib.raise(GetConstant(\"#ERR_SCREEN\"))\n", {}, 1),
            "@_qverror-1:---*Could not open screen!\n");
  EXPECT_EQ(ReadFile("calls.log").find("Raise returned"), std::string::npos);
  // InitLibrary's error ends the start-up with that error.
  env_.push_back("QV_MYLIB_INIT_ERROR=" + std::to_string(ERR_SCREEN));
  EXPECT_EQ(RunScript("mylib.add(2, 3)\n", {}, 1), "@_qverror0:\"\"*Could not open screen!\n");
}

TEST_F(PluginsE2eTest, ShutdownFreesLibrariesBeforeClosingPlugins) {
  Install({"mylib", "media"});
  RunScript("mylib.add(1, 1)\n");
  EXPECT_EQ(ReadFile("calls.log"),
            "media InitPlugin\n"
            "mylib InitPlugin\n"
            "mylib InitLibrary\n"
            "mylib FreeLibrary\n"
            "media ClosePlugin\n"
            "mylib ClosePlugin\n");
}

TEST_F(PluginsE2eTest, ExportPluginsListsEveryLoadedPlugin) {
  Install({"mylib", "media"});
  WriteFile("main.qva", Applet(qvasm::TranslateOrFail("mylib.add(1, 1)\n")));
  PlayerRun r = Run({"main.qva", "-QUIET", "-EXPORTPLUGINS", "plugins.txt"}, Player());
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(ReadFile("plugins.txt"),
            "::plugin\n2.0\n0x00000294\nMedia\nTest Author\nPictures, sounds and savers\n\n\n\n\n\n"
            "::plugin\n1.4\n0x00000002\nMy Library\nTest Author\nCommands for the tests\n\n"
            "https://example.invalid/mylib\n11.12.2026\n\n\n"
            "::commands\nmylib.Add\nmylib.Greet\nmylib.Fail\nmylib.Refuse\nmylib.Declared\n"
            "mylib.Raise\n"
            "::constants\nMYLIB_ANSWER\nMYLIB_NAME\n"
            "::end\n");
}

TEST_F(PluginsE2eTest, RefusedPluginsAreReportedAndSkipped) {
  Install({"newer", "badname", "noentry", "cap400", "initzero", "noinit", "mylib"});
  WriteFile("notes.qvp", "This is a text file, not a plugin.\n");
  // An ELF header for another machine (AArch64), cut after the header.
  std::string elf =
      "\x7f"
      "ELF";
  elf += std::string("\x02\x01\x01\x00", 4) + std::string(8, '\0');
  elf += std::string("\x03\x00\xb7\x00", 4) + std::string(48, '\0');
  WriteFile("foreign.qvp", elf);
  // A shared object that is no plugin.
  fs::copy_file(QV_PLAIN_LIBRARY, Path("zlib.qvp"));
  WriteFile("main.qva", Applet(qvasm::TranslateOrFail("mylib.add(20, 22)\n")));
  PlayerRun r = Run({"main.qva", "-DEBUGDEVICE", "::file" + Path("debug.txt")}, Player());
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string lines[] = {
      "Loading plugin badname.qvp...failed\n(Reason: Cannot load plugin badname.qvp!)\n",
      "Loading plugin cap400.qvp...failed\n(Reason: Plugin type not recognized! (400))\n",
      "Loading plugin foreign.qvp...failed\n(Reason: Cannot load plugin foreign.qvp!)\n",
      "Loading plugin initzero.qvp...failed\n(Reason: Cannot load plugin initzero.qvp!)\n",
      "Loading plugin mylib.qvp...done\n",
      "Loading plugin newer.qvp...failed\n"
      "(Reason: This plugin requires at least Quillvane 5.3!)\n",
      "Loading plugin noentry.qvp...failed\n(Reason: Cannot load plugin noentry.qvp!)\n",
      "Loading plugin noinit.qvp...failed\n(Reason: Cannot load plugin noinit.qvp!)\n",
      "Loading plugin notes.qvp...failed\n(Reason: Cannot load plugin notes.qvp!)\n",
      "Loading plugin zlib.qvp...failed\n(Reason: Cannot load plugin zlib.qvp!)\n",
  };
  std::string all;
  for (const std::string& line : lines) all += line;
  // Status lines go where the script's output goes.
  const std::string out = ReadFile("debug.txt");
  EXPECT_NE(out.find(all), std::string::npos) << out;
  EXPECT_NE(out.find("And Action!\nmylib.add(20, 22) 42\n"), std::string::npos) << out;
  // ClosePlugin follows every InitPlugin that succeeded, and only those.
  EXPECT_EQ(ReadFile("calls.log"),
            "badname InitPlugin\nbadname ClosePlugin\n"
            "cap400 InitPlugin\ncap400 ClosePlugin\n"
            "initzero InitPlugin\n"
            "mylib InitPlugin\n"
            "newer InitPlugin\nnewer ClosePlugin\n"
            "noentry InitPlugin\nnoentry ClosePlugin\n"
            "mylib InitLibrary\nmylib FreeLibrary\nmylib ClosePlugin\n");
}

TEST_F(PluginsE2eTest, SkippedPluginsStayUnloaded) {
  Install({"mylib", "media"});
  const std::string script = "v = GetVersion()\nListItems(v.plugins)\nv.plugins[0]\n";
  EXPECT_EQ(RunScript(script + "v.plugins[1]\nmylib.add(1, 2)\n"),
            "ListItems(v.plugins) 2\nv.plugins[0] Media\nv.plugins[1] My Library\n"
            "mylib.add(1, 2) 3\n");
  EXPECT_EQ(RunScript(script + "mylib\n", {"-SKIPPLUGINS", "MYLIB"}),
            "ListItems(v.plugins) 1\nv.plugins[0] Media\nmylib Nil\n");
  EXPECT_EQ(RunScript("v = GetVersion()\nListItems(v.plugins)\n", {"-SKIPPLUGINS", "*"}),
            "ListItems(v.plugins) 0\n");
}

TEST_F(PluginsE2eTest, DemandsNameThePluginAndVersion) {
  Install({"mylib"});
  struct Case {
    const char* declaration;
    const char* skip;
    int status;
    const char* output;
  } cases[] = {
      {".declare plugin 0 \"mylib\" extra1=1 extra2=4\n", nullptr, 0, "mylib.add(1, 1) 2\n"},
      {".declare plugin 0 \"MyLib.qvp\" extra1=0 extra2=9\n", nullptr, 0, "mylib.add(1, 1) 2\n"},
      {".declare plugin 0 \"mylib\" extra1=1 extra2=5\n", nullptr, 1,
       "@_qverror0:\"\"*This program requires mylib.qvp 1.5!\n"},
      {".declare plugin 0 \"mylib\" extra1=2 extra2=0\n", nullptr, 1,
       "@_qverror0:\"\"*This program requires mylib.qvp 2.0!\n"},
      {".declare plugin 0 \"absent\" extra1=0 extra2=0\n", nullptr, 1,
       "@_qverror0:\"\"*This program requires absent.qvp!\n"},
      // A held-back plugin is loaded by the demand.
      {".declare plugin 0 \"mylib\" extra1=1 extra2=0\n", "mylib", 0, "mylib.add(1, 1) 2\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.declaration);
    std::vector<std::string> options;
    if (c.skip != nullptr) options = {"-SKIPPLUGINS", c.skip};
    EXPECT_EQ(RunScript("mylib.add(1, 1)\n", options, c.status, c.declaration), c.output);
  }
}

}  // namespace
}  // namespace qv
