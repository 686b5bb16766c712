// The player program end to end: start-up texts and failures with their exit statuses, the
// three ways an applet arrives, options from the INI file, user arguments, the vocabulary lists,
// temporary files, and quitting on a signal.
#include <cctype>
#include <regex>
#include <set>
#include <sstream>

#include "core/error_table.h"
#include "tests/player/demo_tour.h"
#include "tests/player/player_fixture.h"

namespace qv::testing {
namespace {

constexpr char kBanner[] =
    "QuillvanePlayer 5.2 [Linux]\nBrellcombe Interactive Studios, the Linux edition\n\n";
// The banner, then the scan of the plugins beside the player: the project's vector graphics
// plugin is built there.
constexpr char kStarted[] =
    "QuillvanePlayer 5.2 [Linux]\nBrellcombe Interactive Studios, the Linux edition\n\n"
    "Loading plugin vectorgfx.qvp...done\n";

constexpr char kHello[] = R"(
.linemap 1 10 0 "hello.qvs" ""
.function main
  .line 1
  GETGLOBAL R0, "debugprint"
  LOADCONST R1, "Hello from"
  LOADCONST R2, "the applet"
  CALL R0, nargs=2, nres=0
  .line 2
  NEWTABLE R2, 0, 0
  GETGLOBAL R0, "debugprint"
  MOVE R1, R2
  CALL R0, nargs=1, nres=0
  RETURN R0, 1
.end
)";

// Prints its user arguments: each name and value, then their number.
constexpr char kShowArguments[] = R"(
.function main
  GETGLOBAL R0, "getcommandline"
  CALL R0, nargs=0, nres=2
  LOADCONST R2, 0
  SUB R3, R1, 1
  LOADCONST R4, 1
  SUB R2, R2, R4
  JUMP @test
next:
  GETTABLE R6, R0, R2
  GETGLOBAL R7, "debugprint"
  GETTABLE R8, R6, "arg"
  GETTABLE R9, R6, "param"
  CALL R7, nargs=2, nres=0
test:
  FORLOOP R2, @next
  GETGLOBAL R7, "debugprint"
  MOVE R8, R1
  CALL R7, nargs=1, nres=0
  RETURN R0, 1
.end
)";

class CliTest : public PlayerTest {};

TEST_F(CliTest, StartupTextsInOrder) {
  WriteFile("hello.qva", Applet(kHello));
  PlayerRun r = Run({"hello.qva"});
  EXPECT_EQ(r.status, 0);
  const std::string texts = std::string(kStarted) +
                            "Opening script hello.qva...done\n"
                            "Compiling script...done\n"
                            "Loading applet hello.qva...done\n"
                            "Preparing display...done\n"
                            "And Action!\n"
                            "Hello from the applet\n";
  ASSERT_EQ(r.out.substr(0, texts.size()), texts);
  EXPECT_TRUE(std::regex_match(r.out.substr(texts.size()), std::regex("Table: 0x[0-9a-f]+\n")))
      << r.out;
  EXPECT_EQ(r.err, "");
}

// The catalog of the user's language replaces the built-in texts by id; a language without a
// catalog keeps them.
TEST_F(CliTest, TheLanguagesCatalogReplacesTexts) {
  WriteFile("hello.qva", Applet(kHello));
  std::vector<std::string> lines(107);
  lines[95] = "fertig";
  lines[97] =
      "Skript %s wird ge\xF6"
      "ffnet";
  lines[106] =
      "Skript wird \xFC"
      "bersetzt";
  std::string catalog;
  for (const std::string& line : lines) catalog += line + "\n";
  std::filesystem::create_directories(Path("Catalogs/german"));
  WriteFile("Catalogs/german/Quillvane.catalog", catalog);

  struct Case {
    const char* locale;
    const char* want;
  };
  const Case cases[] = {
      {"de_DE.UTF-8",
       "Loading plugin vectorgfx.qvp...fertig\nSkript hello.qva wird ge\xF6"
       "ffnet...fertig\nSkript wird \xFC"
       "bersetzt...fertig\n"},
      {"fr_FR.UTF-8",
       "Loading plugin vectorgfx.qvp...done\nOpening script hello.qva...done\nCompiling "
       "script...done\n"},
      {"C",
       "Loading plugin vectorgfx.qvp...done\nOpening script hello.qva...done\nCompiling "
       "script...done\n"},
  };
  for (const Case& k : cases) {
    setenv("LC_ALL", k.locale, 1);
    PlayerRun r = Run({"hello.qva"});
    EXPECT_EQ(r.status, 0) << k.locale;
    const std::string want = std::string(kBanner) + k.want;
    EXPECT_EQ(r.out.substr(0, want.size()), want) << k.locale;
  }
  unsetenv("LC_ALL");
}

TEST_F(CliTest, ScriptAliasNamesTheScript) {
  WriteFile("hello.qva", Applet(kHello));
  PlayerRun r = Run({"hello.qva", "-SCRIPTALIAS", "My Game"});
  EXPECT_NE(r.out.find("Opening script My Game...done\n"), std::string::npos) << r.out;
}

TEST_F(CliTest, NoScriptEndsSilently) {
  PlayerRun r = Run({});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

// Each failure: what is given, the message on standard error and the texts before it.
TEST_F(CliTest, FailuresAreReportedWithStatusOne) {
  std::vector<uint8_t> hello = Applet(kHello);
  std::vector<uint8_t> newer = hello;
  newer[6] = 3;  // version 5.3
  std::vector<uint8_t> unknown = {'Q', 'V', 'A', 0, 10, 5, 2, 77};
  std::vector<uint8_t> cut(hello.begin(), hello.end() - 10);
  WriteFile("hello.qva", hello);
  WriteFile("newer.qva", newer);
  WriteFile("unknown.qva", unknown);
  WriteFile("cut.qva", cut);
  WriteFile("notes.txt", std::string("just some text"));

  const std::string opening = std::string(kStarted) + "Opening script ";
  struct Case {
    std::vector<std::string> args;
    std::string err;
    std::string out;
  } cases[] = {
      {{"missing.qva"}, "File " + Path("missing.qva") + " does not exist!\n", kStarted},
      {{"notes.txt"}, "notes.txt is no Quillvane applet!\n", opening + "notes.txt..."},
      {{"newer.qva"}, "This applet requires at least Quillvane 5.3!\n", opening + "newer.qva..."},
      {{"unknown.qva"}, "Unknown section in applet!\n", opening + "unknown.qva..."},
      {{"cut.qva"}, "Unexpected end of file!\n", opening + "cut.qva..."},
      {{"hello.qva", "-COMPILE", "out.exe"},
       "Compilation is not possible with QuillvanePlayer!\n",
       opening + "hello.qva...done\nCompiling script...done\n"},
      {{"hello.qva", "extra.qva"}, "Wrong arguments specified!\n", ""},
      {{"hello.qva", "-BACKFILL"}, "Wrong arguments specified!\n", ""},
  };
  for (const Case& c : cases) {
    PlayerRun r = Run(c.args);
    EXPECT_EQ(r.status, 1) << c.args[0];
    EXPECT_EQ(r.err, c.err) << c.args[0];
    EXPECT_EQ(r.out, c.out) << c.args[0];
  }
}

TEST_F(CliTest, FailuresBeforeAnyLineGoToTheDebugDevice) {
  WriteFile("notes.txt", std::string("just some text"));
  PlayerRun r = Run({"notes.txt", "-DEBUGDEVICE", "::file" + Path("debug.txt")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ReadFile("debug.txt"), std::string(kStarted) +
                                       "Opening script notes.txt...failed\n"
                                       "@_qverror0:\"\"*notes.txt is no Quillvane applet!\n");
}

TEST_F(CliTest, ARuntimeErrorNamesFileLineAndCommandOnTheConsole) {
  WriteFile("fail.qva", Applet(R"(
.linemap 1 10 30 "fail.qvs" ""
.function main
  .line 4
  GETGLOBAL R0, "assert"
  LOADCONST R1, 0
  CALL R0, nargs=1, nres=0
  RETURN R0, 1
.end
)"));
  PlayerRun r = Run({"fail.qva", "-QUIET"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Assertion failed!\nFile: fail.qvs (current line: 34 - In function: Assert)\n");
}

// An applet made of several source files: the line map of the failing function's own source
// names the file and the line, not a map of another source that covers the same chunk lines.
TEST_F(CliTest, ARuntimeErrorTakesTheLineMapOfItsSource) {
  WriteFile("multi.qva", Applet(R"(
.linemap 1 10 0 "main.qvs" ""
.linemap 1 10 200 "library.qvs" "@lib"
.function main
  .line 2
  CLOSURE R0, helper
  CALL R0, nargs=0, nres=0
  RETURN R0, 1
  .function helper
    .source "@lib"
    .line 7
    GETGLOBAL R0, "assert"
    LOADCONST R1, 0
    CALL R0, nargs=1, nres=0
    RETURN R0, 1
  .end
.end
)"));
  PlayerRun r = Run({"multi.qva", "-QUIET", "-DEBUGDEVICE", "::file" + Path("debug.txt")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(ReadFile("debug.txt"), "@_qverror207:library.qvs*Assertion failed!\n");
}

TEST_F(CliTest, DeclaredObjectsAreRefusedNamingTheDeclaration) {
  std::vector<uint8_t> applet = Applet(R"(
.linemap 1 50 100 "objects.qvs" ""
.function main
  RETURN R0, 1
.end
)");
  // A video without a file declared on line 12, inserted after the version record: its preload
  // fails, and the error names the declaration's line.
  std::vector<uint8_t> decl = {2,  0, 0, 0, 1,  // tag 2, one declaration
                               11, 0, 0, 0, 7,  // a video, id 7
                               0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                               0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // extra words
                               0,  0, 0, 12};                        // source line
  std::vector<uint8_t> objects = applet;
  objects.insert(objects.begin() + 7, decl.begin(), decl.end());
  WriteFile("objects.qva", objects);
  PlayerRun r = Run({"objects.qva", "-QUIET", "-DEBUGDEVICE", "::file" + Path("debug.txt")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(ReadFile("debug.txt"), "@_qverror112:objects.qvs*Cannot read file  !\n");

  // A required plugin (version 1.0), whose name lies behind the container; no plugin is there.
  const std::string name = "fancyplugin";
  std::vector<uint8_t> require = {2, 0, 0, 0, 1, 12, 0, 0, 0, 0};
  uint32_t at = uint32_t(applet.size() + 10 + 7 * 4);
  for (uint32_t word : {at, uint32_t(name.size()), 0u, 0u, 1u, 0u, 5u}) {
    for (int shift = 24; shift >= 0; shift -= 8) require.push_back(uint8_t(word >> shift));
  }
  std::vector<uint8_t> plugin = applet;
  plugin.insert(plugin.begin() + 7, require.begin(), require.end());
  ASSERT_EQ(plugin.size(), at);
  plugin.insert(plugin.end(), name.begin(), name.end());
  WriteFile("plugin.qva", plugin);
  r = Run({"plugin.qva", "-QUIET", "-DEBUGDEVICE", "::file" + Path("debug.txt")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(ReadFile("debug.txt"), "@_qverror0:\"\"*This program requires fancyplugin.qvp 1.0!\n");
}

// The same applet as a plain file, as a compressed container and appended to a copy of the
// player gives the same output; the linked player is quiet.
TEST_F(CliTest, PlainCompressedAndLinkedAppletsAgree) {
  std::vector<uint8_t> applet = Applet(R"(
.linemap 1 10 0 "same.qvs" ""
.function main
  .line 1
  GETGLOBAL R0, "debugprint"
  LOADCONST R1, "one"
  LOADCONST R2, 2
  CALL R0, nargs=2, nres=0
  .line 3
  GETGLOBAL R0, "error"
  LOADCONST R1, "three"
  CALL R0, nargs=1, nres=0
  RETURN R0, 1
.end
)");
  WriteFile("same.qva", applet);
  WriteFile("same.qvz", qvasm::CompressApplet(applet));
  std::string error;
  WriteFile("linked", qvasm::LinkInto(PlayerBytes(), applet, &error));
  ASSERT_EQ(error, "");
  std::filesystem::permissions(Path("linked"), std::filesystem::perms::owner_exec,
                               std::filesystem::perm_options::add);

  const std::string expected = "one 2\n@_qverror3:same.qvs*three\n";
  PlayerRun plain = Run({"same.qva", "-QUIET", "-DEBUGDEVICE", "::file" + Path("plain.txt")});
  EXPECT_EQ(plain.status, 1);
  EXPECT_EQ(ReadFile("plain.txt"), expected);
  PlayerRun packed = Run({"same.qvz", "-QUIET", "-DEBUGDEVICE", "::file" + Path("packed.txt")});
  EXPECT_EQ(packed.status, 1);
  EXPECT_EQ(ReadFile("packed.txt"), expected);
  PlayerRun linked = Run({"-DEBUGDEVICE", "::file" + Path("linked.txt")}, Path("linked"));
  EXPECT_EQ(linked.status, 1);
  EXPECT_EQ(ReadFile("linked.txt"), expected);
  // Without options the linked player prints no banner and no status lines.
  PlayerRun console = Run({}, Path("linked"));
  EXPECT_EQ(console.status, 1);
  EXPECT_EQ(console.out, "one 2\n");
  EXPECT_EQ(console.err, "three\nFile: same.qvs (current line: 3 - In function: Error)\n");
  EXPECT_EQ(TempLeftovers(), std::vector<std::string>{});
}

TEST_F(CliTest, IniFileBesideTheScriptOverridesTheCommandLine) {
  WriteFile("game.qva", Applet(kHello));
  WriteFile("game.ini",
            "# switches and values read after the command line\n"
            "[player]\n"
            "QUIET = no\n"
            "DebugDevice = \"::file" +
                Path("from ini.txt") + "\"\n");
  PlayerRun r = Run(
      {"game.qva", "-QUIET", "-DEBUGDEVICE", "::file" + Path("from command line.txt")});
  EXPECT_EQ(r.status, 0);
  EXPECT_FALSE(Exists("from command line.txt"));
  std::string out = ReadFile("from ini.txt");
  EXPECT_EQ(out.rfind(kBanner, 0), 0u) << out;  // QUIET was switched off again
  EXPECT_NE(out.find("Hello from the applet\n"), std::string::npos) << out;

  WriteFile("game.ini", "QUIET = yes\nbroken line\n");
  r = Run({"game.qva"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Syntax error in configuration file!\n");
}

// The applet's name is a name of the player's file layer, as the INI file's is: "\" separates
// too and "PROGDIR:" stands for the player's directory. A relative name whose absolute form does
// not fit is refused like an absolute one that long, before anything is read.
TEST_F(CliTest, TheAppletPathIsANameOfTheFileLayer) {
  std::filesystem::create_directories(Path("games/bin"));
  WriteFile("games/hello.qva", Applet(kHello));
  WriteFile("games/hello.ini", "QUIET = yes\n");
  PlayerRun r = Run({"games\\hello.qva"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("Hello from the applet\n", 0), 0u) << r.out;  // quiet from the INI file

  WriteFile("games/bin/quillvane", PlayerBytes());
  std::filesystem::permissions(Path("games/bin/quillvane"), std::filesystem::perms::owner_exec,
                               std::filesystem::perm_options::add);
  WriteFile("games/bin/beside.qva", Applet(kHello));
  WriteFile("games/bin/beside.ini", "QUIET = yes\n");
  for (const char* name : {"PROGDIR:beside.qva", "PROGDIR:..\\hello.qva"}) {
    r = Run({name}, Path("games/bin/quillvane"));
    EXPECT_EQ(r.status, 0) << name << ": " << r.err;
    EXPECT_EQ(r.out.rfind("Hello from the applet\n", 0), 0u) << name << ": " << r.out;
  }

  std::string relative;
  for (int i = 0; i < 5; ++i) relative += std::string(200, char('a' + i)) + "/";
  relative += "hello.qva";
  ASSERT_LT(relative.size(), 1024u);
  ASSERT_GT(Path(relative).size(), 1023u);
  std::filesystem::create_directories(Path(relative).substr(0, Path(relative).rfind('/')));
  WriteFile(relative, Applet(kHello));
  for (const std::string& name : {relative, Path(relative)}) {
    r = Run({name, "-QUIET"});
    EXPECT_EQ(r.status, 1) << name.size();
    EXPECT_EQ(r.err, "Wrong arguments specified!\n") << name.size();
    EXPECT_EQ(r.out, "") << name.size();
  }
}

// The link databases of a compile run are read with the options: one that cannot be read or
// holds a malformed line ends the run before the banner; a good one lets the run go on until the
// compile request ends it, once the main chunk has loaded.
TEST_F(CliTest, LinkDatabasesAreReadBeforeTheCompileRequestEndsTheRun) {
  WriteFile("hello.qva", Applet(kHello));
  WriteFile("files.txt", "pictures/logo.png\r\n\"music/the theme.ogg\"\n\n");
  WriteFile("fonts.txt", "Sans.font\n");
  WriteFile("broken.txt", "logo.png title.png\n");
  const std::string loaded = std::string(kStarted) +
                             "Opening script hello.qva...done\nCompiling script...done\n";
  struct Case {
    std::vector<std::string> args;
    std::string err;
    std::string out;
  } cases[] = {
      {{"-LINKFILES", "missing.txt"}, "Cannot read file missing.txt !\n", ""},
      {{"-LINKFONTS", "missing.txt"}, "Cannot read file missing.txt !\n", ""},
      {{"-LINKFILES", "broken.txt"}, "Syntax error in link file database!\n", ""},
      {{"-LINKFILES", "files.txt", "-LINKFONTS", "broken.txt"},
       "Syntax error in link file database!\n",
       ""},
      {{"-LINKFILES", "files.txt", "-LINKFONTS", "fonts.txt"},
       "Compilation is not possible with QuillvanePlayer!\n",
       loaded},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"hello.qva", "-COMPILE", "out.exe"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    PlayerRun r = Run(args);
    const std::string trace = c.args[0] + " " + c.args[1] + (c.args.size() > 2 ? " ..." : "");
    EXPECT_EQ(r.status, 1) << trace;
    EXPECT_EQ(r.err, c.err) << trace;
    EXPECT_EQ(r.out, c.out) << trace;
  }
  // Without a compile request the databases are not read.
  PlayerRun r = Run({"hello.qva", "-QUIET", "-LINKFILES", "missing.txt"});
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(CliTest, UnknownOptionsReachTheScriptAsUserArguments) {
  WriteFile("args.qva", Applet(kShowArguments));
  WriteFile("args.ini", "level = 7\n");
  PlayerRun r = Run({"args.qva", "-speed", "3", "-QUIET", "-player", "Ann Lee"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "speed 3\nplayer Ann Lee\nlevel 7\n3\n");
}

TEST_F(CliTest, VocabularyLists) {
  PlayerRun r = Run({"unused.qva", "-QUIET", "-EXPORTCOMMANDS", "commands.txt", "-EXPORTCONSTANTS",
                     "constants.txt"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  std::string commands = ReadFile("commands.txt");
  // Every library in its place; the ones whose commands are not written yet are empty.
  std::vector<std::string> lines;
  std::istringstream in(commands);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "::string");
  EXPECT_NE(commands.find("\nToString\n"), std::string::npos) << commands;
  EXPECT_EQ(lines[2], "LowerStr");
  EXPECT_EQ(lines.back(), "::end");
  std::vector<std::string> names;
  for (size_t i = 0; i + 1 < lines.size(); ++i) {
    ASSERT_EQ(lines[i].rfind("::", 0), 0u) << i;
    names.push_back(lines[i].substr(2));
    i += std::stoul(lines[i + 1]) + 1;
  }
  EXPECT_EQ(
      names,
      (std::vector<std::string>{
          "string", "math",         "graphics", "draw",     "moveobject",     "dos",     "event",
          "system", "layers",       "text",     "anim",     "display",        "sound",   "brush",
          "bgpic",  "transitionfx", "sprite",   "memblock", "vectorgraphics", "network", "video"}));
  // The system library's first rows, in order.
  EXPECT_NE(commands.find("::system\n"), std::string::npos) << commands;
  EXPECT_NE(commands.find("\nEnd\nError\nAssert\nGetLastError\nGetErrorName\n"
                          "ExitOnError\nRaiseOnError\nDebugPrint\nDebugStr\nDebugVal\n"
                          "DebugOutput\nGetCommandLine\n",
                          commands.find("::system\n")),
            std::string::npos)
      << commands;

  std::set<std::string> constants;
  size_t constantLines = 0;
  std::istringstream cin(ReadFile("constants.txt"));
  for (std::string line; std::getline(cin, line); ++constantLines) constants.insert(line);
  // Each constant once, every error code among them, and a few of each library's (the count
  // grows with every library, so it is not pinned here).
  EXPECT_EQ(constants.size(), constantLines);
  for (const qvErrorName& error : ErrorNames()) {
    std::string name = error.name;
    for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(constants.count(name), 1u) << name;
  }
  for (const char* name :
       {"err_none", "err_mem", "err_nomimeviewer", "seconds", "lightuserdata", "pi", "joynodir",
        "onbuttonrightclick", "receiveline", "networkudp", "mode_readwrite", "dostype_directory",
        "center", "viddrv_quillvane", "udpobject", "attrpubscreen"}) {
    EXPECT_EQ(constants.count(name), 1u) << name;
  }

  r = Run({"unused.qva", "-EXPORTCOMMANDS", Path("no/such/dir/commands.txt")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Cannot write to file " + Path("no/such/dir/commands.txt") + " !\n");
}

TEST_F(CliTest, NoTemporaryFileIsLeftBehind) {
  std::vector<uint8_t> failing = Applet(R"(
.function main
  GETGLOBAL R0, "error"
  LOADCONST R1, "stop"
  CALL R0, nargs=1, nres=0
  RETURN R0, 1
.end
)");
  WriteFile("hello.qvz", qvasm::CompressApplet(Applet(kHello)));
  WriteFile("failing.qvz", qvasm::CompressApplet(failing));
  PlayerRun r = Run({"hello.qvz", "-QUIET"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(TempLeftovers(), std::vector<std::string>{});
  r = Run({"failing.qvz", "-QUIET"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "stop\nFile: --- (current line: -1 - In function: Error)\n");
  EXPECT_EQ(TempLeftovers(), std::vector<std::string>{});
}

TEST_F(CliTest, InterruptEndsTheRunThroughShutdown) {
  WriteFile("loop.qvz", qvasm::CompressApplet(Applet(kLoop)));
  for (int signal : {SIGINT, SIGTERM}) {
    std::filesystem::remove(Path("debug.txt"));
    pid_t pid = Start({"loop.qvz", "-QUIET", "-DEBUGDEVICE", "::file" + Path("debug.txt")});
    // The script runs once it has printed its line; the unpacked applet is in the temporary
    // directory meanwhile.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (ReadFile("debug.txt") != "looping\n" && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(ReadFile("debug.txt"), "looping\n");
    EXPECT_FALSE(TempLeftovers().empty());
    kill(pid, signal);
    PlayerRun r = Wait(pid);
    EXPECT_EQ(r.status, 0) << signal;
    EXPECT_EQ(ReadFile("debug.txt"), "looping\n");
    EXPECT_EQ(TempLeftovers(), std::vector<std::string>{});
  }
}

// The demo waits for a key or a close in its window; nobody is there to give one, so an
// interrupt ends it as a user would. (demo_test.cpp gives them on SDL's dummy driver.) It runs
// headless and where no sound device opens: its tone is silent and it goes on.
TEST_F(CliTest, TheDemoApplet) {
  unsetEnv_ = {"DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER"};
  env_.push_back("SDL_AUDIODRIVER=no_such_driver");
  pid_t pid = Start({QV_DEMO_APPLET, "-QUIET", "-DEBUGDEVICE", "::file" + Path("debug.txt")});
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (ReadFile("debug.txt").find("close it to end.\n") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGINT);
  PlayerRun r = Wait(pid);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ReadFile("debug.txt"), qvtest::kDemoTour);
}

}  // namespace
}  // namespace qv::testing
