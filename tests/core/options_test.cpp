#include "core/options.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/errors.h"
#include "tests/fixtures/temp_dir.h"

using namespace qv;

namespace {

struct Parsed {
  int code = 0;
  qvPlayerState state;
  qvAppletSettings settings;
  qvOptionSlots slots;
};

// Parses a command line (program name added in front) and, when that succeeds and `apply` is
// set, applies the options.
Parsed Parse(std::vector<std::string> words, bool apply = false) {
  Parsed p;
  std::vector<const char*> argv{"quillvane"};
  for (const auto& w : words) argv.push_back(w.c_str());
  p.code = ParseArguments(static_cast<int>(argv.size()), argv.data(), &p.state, &p.slots);
  if (p.code == 0 && apply) p.code = ApplyOptions(p.slots, &p.state, &p.settings);
  return p;
}

const char* SlotText(const Parsed& p, int slot) {
  return p.slots.slot[slot].text ? p.slots.slot[slot].text->c_str() : nullptr;
}

}  // namespace

TEST(Options, TableHasEveryRowOnce) {
  EXPECT_EQ(kOptionTable.size(), 55u);
  for (size_t i = 0; i < kOptionTable.size(); ++i) {
    EXPECT_LT(kOptionTable[i].slot, kOptionSlotCount);
    EXPECT_GT(kOptionTable[i].slot, 0);
    for (size_t j = i + 1; j < kOptionTable.size(); ++j) {
      EXPECT_STRNE(kOptionTable[i].name, kOptionTable[j].name);
    }
  }
  const char* name = "skipplugins";
  const qvOption* o = FindOption(name, 11);
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(o->slot, kSlotSkipPlugins);
  EXPECT_TRUE(o->takesArgument);
  EXPECT_EQ(FindOption("SKIPPLUGIN", 10), nullptr);
  EXPECT_EQ(FindOption("PRIVATE1", 8)->slot, kSlotExportCommands);
  EXPECT_EQ(FindOption("private2", 8)->slot, kSlotExportConstants);
}

TEST(Options, CommandLineErrors) {
  struct Case {
    std::vector<std::string> words;
    int code;
  } cases[] = {
      {{}, ERR_CONFIG},
      {{"-QUIET"}, ERR_CONFIG},
      {{"-speed", "3"}, ERR_CONFIG},
      {{"a.qva", "b.qva"}, ERR_ARGS},
      {{"a.qva", "-BACKFILL"}, ERR_ARGS},
      {{"-BACKFILL", "-WINDOW", "a.qva"}, ERR_ARGS},
      {{"a\"b.qva"}, ERR_ARGS},
      {{"-", "a.qva"}, ERR_ARGS},
      {{"a.qva", "-DEPTH", "16", "x"}, ERR_ARGS},
      {{std::string(5000, 'x')}, ERR_ARGS},
      {{std::string(2000, 'x')}, ERR_ARGS},  // longer than the script path field
      {{"a.qva", "-QUIET", "-DEPTH", "8"}, 0},
      {{"a.qva", "-speed"}, 0},
  };
  for (const auto& c : cases) {
    std::string joined;
    for (const auto& w : c.words) joined += w.substr(0, 40) + " ";
    EXPECT_EQ(Parse(c.words).code, c.code) << joined;
  }
}

TEST(Options, CommandLineSlotsAndUserArguments) {
  Parsed p = Parse({"-quiet", "game.qva", "-Depth", "16", "-speed", "3", "-SCRIPTALIAS", "My Game",
                    "-NOSOUND", "-level", "-2x"});
  ASSERT_EQ(p.code, 0);
  EXPECT_STREQ(SlotText(p, kSlotScript), "game.qva");
  EXPECT_STREQ(p.state.scriptPath, "game.qva");
  EXPECT_STREQ(p.state.givenScriptName, "game.qva");
  EXPECT_EQ(p.slots.slot[kSlotQuiet].flag, 1);
  EXPECT_EQ(p.slots.slot[kSlotNoSound].flag, 1);
  EXPECT_STREQ(SlotText(p, kSlotDepth), "16");
  EXPECT_STREQ(SlotText(p, kSlotScriptAlias), "My Game");
  EXPECT_NE(p.state.programPath[0], '\0');
  // "-2x" starts an option name of its own, so "level" keeps an empty value and "2x" waits
  // for a value that never comes.
  ASSERT_EQ(p.state.userArguments.size(), 3u);
  EXPECT_EQ(p.state.userArguments[0].name, "speed");
  EXPECT_EQ(p.state.userArguments[0].value, "3");
  EXPECT_EQ(p.state.userArguments[1].name, "level");
  EXPECT_EQ(p.state.userArguments[1].value, "");
  EXPECT_EQ(p.state.userArguments[2].name, "2x");

  // An empty word is a quoted empty value.
  Parsed e = Parse({"a.qva", "-SCRIPTALIAS", ""});
  ASSERT_EQ(e.code, 0);
  EXPECT_STREQ(SlotText(e, kSlotScriptAlias), "");
}

TEST(Options, CompileTargetIsMadeAbsolute) {
  Parsed p = Parse({"a.qva", "-COMPILE", "out.exe"}, true);
  ASSERT_EQ(p.code, 0);
  EXPECT_EQ(p.state.compileRequested, 1);
  std::string cwd = std::filesystem::current_path().string();
  EXPECT_EQ(std::string(p.state.compileTarget), cwd + "/out.exe");
  Parsed q = Parse({"a.qva", "-COMPILE", "/tmp/x.exe"});
  EXPECT_STREQ(q.state.compileTarget, "/tmp/x.exe");
}

TEST(Options, ParseNumber) {
  struct Case {
    const char* text;
    double value;
    size_t length;
    int error;
  } cases[] = {
      {"12", 12, 2, 0},
      {"-5", -5, 2, 0},
      {"50%", 50, 2, 0},
      {"12abc", 12, 2, 0},
      {"1.5e2", 150, 5, 0},
      // Beyond a double's range: infinity or 0 with every character of the number.
      {"1e400", HUGE_VAL, 5, 0},
      {"-1e400x", -HUGE_VAL, 6, 0},
      {"1.7976931348623159e308", HUGE_VAL, 22, 0},
      {"0.0001e320", HUGE_VAL, 10, 0},
      {"0.5e-400", 0, 8, 0},
      {"10000e-330", 0, 10, 0},
      {"1e99999999999999999999", HUGE_VAL, 22, 0},
      {"1e-99999999999999999999", 0, 23, 0},
      {"1e-320", 1e-320, 6, 0},  // subnormal, still in range
      {"0.0001e310", 1e306, 10, 0},
      {".5", 0.5, 2, 0},
      {"$FF", 255, 3, 0},
      {"$ff00", 65280, 5, 0},
      {"$-10", -16, 4, 0},
      {"-$10", -16, 4, 0},
      {"0x1F", 31, 4, 0},
      {"0X1f", 31, 4, 0},
      {"$FFFFFFFF", 4294967295.0, 9, 0},
      {"$1FFFFFFFF", 4294967295.0, 10, 0},
      {"%101", 5, 4, 0},
      {"%102", 2, 3, 0},
      {"$", 0, 1, ERR_SYNTAXERROR},
      {"0x", 0, 2, ERR_SYNTAXERROR},
      {"$G", 0, 1, ERR_SYNTAXERROR},
      {"%", 0, 1, ERR_SYNTAXERROR},
      {"abc", 0, 0, ERR_VALUEEXPECTED},
      {".", 0, 0, ERR_VALUEEXPECTED},
      {"-", 0, 0, ERR_VALUEEXPECTED},
      {"", 0, 0, ERR_VALUEEXPECTED},
      {" 5", 0, 0, ERR_VALUEEXPECTED},
  };
  for (const auto& c : cases) {
    size_t length = 99;
    int error = -1;
    double v = ParseNumber(c.text, &length, &error);
    EXPECT_EQ(error, c.error) << c.text;
    EXPECT_EQ(length, c.length) << c.text;
    if (c.error == 0) {
      EXPECT_DOUBLE_EQ(v, c.value) << c.text;
    }
  }
}

TEST(Options, ApplyDisplaySettings) {
  Parsed p = Parse(
      {"a.qva",        "-WINDOW", "-BORDERLESS",      "-SIZEABLE", "-FIXED",        "-NOMODESWITCH",
       "-HIDEPOINTER", "-NOHIDE", "-KEEPPROPORTIONS", "-FITSCALE", "-HIDETITLEBAR", "-SMOOTHSCALE",
       "-DEPTH",       "16",      "-SCRWIDTH",        "$400",      "-SCRHEIGHT",    "768.9",
       "-SCALEWIDTH",  "50%",     "-SCALEHEIGHT",     "300"},
      true);
  ASSERT_EQ(p.code, 0);
  const qvAppletSettings& s = p.settings;
  EXPECT_EQ(s.displayMode, kDisplayModeWindow);
  EXPECT_EQ(s.hideTitleBar, 1);
  // SMOOTHSCALE and the scale sizes only count with a scaling mode.
  EXPECT_EQ(s.displayFlags, 1u | 2 | 4 | 8 | 16 | 32 | 0x8000 | 0x10000);
  EXPECT_EQ(s.scaleWidth, 0);
  EXPECT_EQ(s.depth, 16);
  EXPECT_EQ(s.screenWidth, 1024);
  EXPECT_EQ(s.screenHeight, 768);

  Parsed q = Parse({"a.qva", "-LAYERSCALE", "-SMOOTHSCALE", "-SCALEWIDTH", "50%", "-SCALEHEIGHT",
                    "300", "-FULLSCREEN", "-WINDOW"},
                   true);
  ASSERT_EQ(q.code, 0);
  EXPECT_EQ(q.settings.displayFlags, kDisplayLayerScale | kDisplaySmoothScale);
  EXPECT_EQ(q.settings.scaleWidth, -50);
  EXPECT_EQ(q.settings.scaleHeight, 300);
  EXPECT_EQ(q.settings.displayMode, kDisplayModeFullScreen);

  EXPECT_EQ(Parse({"a.qva", "-OWNSCREEN"}, true).settings.displayMode, kDisplayModeOwnScreen);
  EXPECT_EQ(Parse({"a.qva", "-FAKEFULLSCREEN"}, true).settings.displayMode,
            kDisplayModeFakeFullScreen);
}

TEST(Options, ApplyErrors) {
  struct Case {
    std::vector<std::string> words;
    int code;
  } cases[] = {
      {{"a", "-FULLSCREEN", "-OWNSCREEN"}, ERR_ARGS},
      {{"a", "-FAKEFULLSCREEN", "-FULLSCREEN"}, ERR_ARGS},
      {{"a", "-AUTOSCALE", "-LAYERSCALE"}, ERR_ARGS},
      {{"a", "-AUTOSCALE", "-SCALEWIDTH", "x"}, ERR_VALUEEXPECTED},
      {{"a", "-DEPTH", "$"}, ERR_SYNTAXERROR},
      {{"a", "-PICXPOS", "left"}, ERR_VALUEEXPECTED},
      {{"a", "-EXETYPE", "win32+"}, ERR_EXETYPE},
      {{"a", "-EXETYPE", "vax"}, ERR_EXETYPE},
      {{"a", "-EXETYPE", "win32x"}, ERR_EXETYPE},
      {{"a", "-BACKFILL", "stripes"}, ERR_BACKFILL},
      {{"a", "-BACKFILL", "color"}, ERR_BACKFILL},
      {{"a", "-BACKFILL", "gradient", "-STARTCOLOR", "1"}, ERR_BACKFILL},
      {{"a", "-BACKFILL", "texture"}, ERR_BACKFILL},
      {{"a", "-BACKFILL", "picture", "-BRUSH", "1", "-BRUSHFILE", "x.png"}, ERR_BACKFILL},
      {{"a", "-BACKFILL", "color", "-STARTCOLOR", "red"}, ERR_VALUEEXPECTED},
      {{"a", "-SCRIPTALIAS", std::string(300, 'n')}, ERR_ARGS},
  };
  for (const auto& c : cases) {
    std::string joined;
    for (const auto& w : c.words) joined += w.substr(0, 20) + " ";
    EXPECT_EQ(Parse(c.words, true).code, c.code) << joined;
  }
}

TEST(Options, ApplyBackfillAndPicture) {
  Parsed p = Parse(
      {"a", "-BACKFILL", "Gradient", "-STARTCOLOR", "$FF0000", "-ENDCOLOR", "0xFFFFFFFF",
       "-SCALEPICTURE", "-PICXPOS", "3.7", "-PICYPOS", "12", "-PICTRANS", "$00FF00"},
      true);
  ASSERT_EQ(p.code, 0);
  const qvBackfill& b = p.settings.backfill;
  EXPECT_EQ(b.type, kBackfillGradient);
  EXPECT_EQ(b.startColor, 0xFF0000);
  EXPECT_EQ(b.endColor, -1);
  EXPECT_EQ(b.scalePicture, 1);
  EXPECT_EQ(b.pictureX, 3);
  EXPECT_EQ(b.pictureY, 12);
  EXPECT_EQ(b.transparentColor, 0x00FF00);
  // On the command line "-3.7" would be an option name; the INI file can give such a value.
  p.slots.slot[kSlotPicXPos].text = "-3.7";
  ASSERT_EQ(ApplyOptions(p.slots, &p.state, &p.settings), 0);
  EXPECT_EQ(p.settings.backfill.pictureX, -3);
  EXPECT_EQ(Parse({"a", "-PICXPOS", "-3"}).code, ERR_ARGS);

  Parsed t = Parse({"a", "-BACKFILL", "PICTURE", "-BRUSHFILE", "tiles/bg.png"}, true);
  ASSERT_EQ(t.code, 0);
  EXPECT_EQ(t.settings.backfill.type, kBackfillPicture);
  EXPECT_STREQ(t.settings.backfill.file, "tiles/bg.png");
  Parsed r = Parse({"a", "-BACKFILL", "texture", "-BRUSH", "7"}, true);
  EXPECT_EQ(r.settings.backfill.type, kBackfillTexture);
  EXPECT_EQ(r.settings.backfill.brushId, 7);
  EXPECT_EQ(Parse({"a", "-BACKFILL", "rainbow", "-STARTCOLOR", "1", "-ENDCOLOR", "2"}, true)
                .settings.backfill.type,
            kBackfillGradient);
}

TEST(Options, ApplyPlayerStateFields) {
  qvtest::TempDir dir;
  std::string icon = dir.Write("icon.png", "x");
  Parsed p = Parse({"a",
                    "-QUIET",
                    "-NOSOUND",
                    "-OVERWRITE",
                    "-LOCKSETTINGS",
                    "-COMPRESS",
                    "-EXETYPE",
                    "win32+LINUX",
                    "-EXPORTCOMMANDS",
                    "cmds.txt",
                    "-PRIVATE2",
                    "consts.txt",
                    "-EXPORTPLUGINS",
                    "plugins.txt",
                    "-SKIPPLUGINS",
                    "one.qvp|two||three",
                    "-PRIVATE3",
                    "p3",
                    "-SCRIPTALIAS",
                    "Alias",
                    "-DEBUGDEVICE",
                    "::file/tmp/out.txt",
                    "-ICON16X16",
                    icon,
                    "-ICON512X512",
                    "missing.png"},
                   true);
  ASSERT_EQ(p.code, 0);
  const qvPlayerState& s = p.state;
  EXPECT_EQ(s.quiet, 1);
  EXPECT_EQ(s.noSound, 1);
  EXPECT_EQ(s.overwrite, 1);
  EXPECT_EQ(s.lockSettings, 1);
  EXPECT_EQ(s.compress, 1);
  EXPECT_EQ(s.compileRequested, 0);
  EXPECT_EQ(s.exeTypes, 640u);
  EXPECT_EQ(s.exportCommands, "cmds.txt");
  EXPECT_EQ(s.exportConstants, "consts.txt");
  EXPECT_EQ(s.exportPlugins, "plugins.txt");
  EXPECT_EQ(s.skipPlugins, (std::vector<std::string>{"one.qvp", "two", "three"}));
  EXPECT_EQ(s.private3, "p3");
  EXPECT_STREQ(s.scriptAlias, "Alias");
  EXPECT_EQ(s.debugDevice, 1);
  EXPECT_EQ(s.debugDeviceTarget, "::file/tmp/out.txt");
  EXPECT_EQ(s.iconPaths[0], std::filesystem::canonical(icon).string());
  EXPECT_EQ(s.iconPaths[1], "");
  EXPECT_EQ(s.iconPaths[6], "missing.png");

  struct {
    const char* value;
    uint32_t mask;
  } exeTypes[] = {{"classic", 1},
                  {"CLASSICFPU", 2},
                  {"retro1+retro2+retro3+retro4", 60},
                  {"APPLET", 64},
                  {"win32console", 256},
                  {"linuxppc+macos86", 18432},
                  {"macos+android+ios", 1024 | 4096 | 8192}};
  for (const auto& e : exeTypes) {
    EXPECT_EQ(Parse({"a", "-EXETYPE", e.value}, true).state.exeTypes, e.mask) << e.value;
  }
}

TEST(Options, IniFileName) {
  EXPECT_EQ(IniFileName("/a/b.c/script"), "/a/b.c/script.ini");
  EXPECT_EQ(IniFileName("/a/game.qva"), "/a/game.ini");
  EXPECT_EQ(IniFileName("dir/x.tar.gz"), "dir/x.tar.ini");
  EXPECT_EQ(IniFileName("x"), "x.ini");
  EXPECT_EQ(IniFileName("d.x\\y"), "d.x\\y.ini");
}

class IniTest : public ::testing::Test {
 protected:
  // Parses `words` with the script in the temporary directory, then reads `ini` beside it.
  Parsed Run(const std::string& ini, std::vector<std::string> words = {}) {
    std::string script = dir_.Write("game.qva", "QVA");
    std::filesystem::remove(dir_.Path("game.ini"));
    if (!ini.empty()) dir_.Write("game.ini", ini);
    words.insert(words.begin(), script);
    Parsed p = Parse(words);
    if (p.code == 0) p.code = ReadIniFile(&p.slots, &p.state);
    return p;
  }
  qvtest::TempDir dir_;
};

TEST_F(IniTest, MissingOrEmptyFileIsNoError) {
  EXPECT_EQ(Run("").code, 0);
  std::string script = dir_.Write("game.qva", "QVA");
  dir_.Write("game.ini", "");
  Parsed p = Parse({script});
  EXPECT_EQ(ReadIniFile(&p.slots, &p.state), 0);
}

TEST_F(IniTest, ValuesSwitchesAndUserArguments) {
  Parsed p = Run(
      "# comment line\n"
      "[Section]\n"
      "  DEPTH = 16  \t\r\n"
      "scriptalias\t=\t\"Quoted  Value \"\n"
      "BACKFILL=color\n"
      "Speed = fast lane \n"
      "\n"
      "QUIET=yes\n",
      {"-DEPTH", "8", "-NOSOUND", "-SCRIPTALIAS", "cmd"});
  ASSERT_EQ(p.code, 0);
  EXPECT_STREQ(SlotText(p, kSlotDepth), "16");  // the INI file wins
  EXPECT_STREQ(SlotText(p, kSlotScriptAlias), "Quoted  Value ");
  EXPECT_STREQ(SlotText(p, kSlotBackfill), "color");
  EXPECT_EQ(p.slots.slot[kSlotQuiet].flag, 1);
  EXPECT_EQ(p.slots.slot[kSlotNoSound].flag, 1);  // untouched
  ASSERT_EQ(p.state.userArguments.size(), 1u);
  EXPECT_EQ(p.state.userArguments[0].name, "Speed");
  EXPECT_EQ(p.state.userArguments[0].value, "fast lane");

  // A user argument of the command line stays, the INI file's comes after it.
  Parsed q = Run("level=3\n", {"-level", "1"});
  ASSERT_EQ(q.state.userArguments.size(), 2u);
  EXPECT_EQ(q.state.userArguments[0].value, "1");
  EXPECT_EQ(q.state.userArguments[1].value, "3");
}

TEST_F(IniTest, SwitchValues) {
  struct Case {
    const char* value;
    int flag;
  } cases[] = {{"yes", 1}, {"TRUE", 1}, {"On", 1},      {"1", 1},   {"2", 1},
               {"-1", 1},  {"007", 1},  {"no", 0},      {"off", 0}, {"false", 0},
               {"0", 0},   {"", 0},     {"\"yes\"", 1}, {"x1", 0}};
  for (const auto& c : cases) {
    Parsed p = Run(std::string("NOSOUND=") + c.value + "\n", {"-NOSOUND"});
    ASSERT_EQ(p.code, 0) << c.value;
    EXPECT_EQ(p.slots.slot[kSlotNoSound].flag, c.flag) << c.value;
  }
}

TEST_F(IniTest, SyntaxErrors) {
  const std::string longName(128, 'N');
  const std::string okName(127, 'N');
  struct Case {
    std::string ini;
    int code;
  } cases[] = {
      {"1DEPTH=3\n", ERR_INISYNTAX},
      {"_X=1\n", ERR_INISYNTAX},
      {"DEPTH 16\n", ERR_INISYNTAX},
      {"DEPTH\n=16\n", ERR_INISYNTAX},
      {"DEPTH", ERR_INISYNTAX},
      {"ALIAS=\"open\n", ERR_INISYNTAX},
      {"ALIAS=\"open", ERR_INISYNTAX},
      {"ALIAS=\"one\" two\n", ERR_INISYNTAX},
      {longName + "=1\n", ERR_INISYNTAX},
      {okName + "=1\n", 0},
      {"  # indented comment\nDEPTH=1", 0},
      {"DEPTH=", 0},
      // A byte-order mark counts only as the file's first bytes, and only whole.
      {"DEPTH=1\n\xEF\xBB\xBF"
       "QUIET=1\n",
       ERR_INISYNTAX},
      {"\xEF\xBB\xBF\xEF\xBB\xBF"
       "DEPTH=1\n",
       ERR_INISYNTAX},
      {"\xEF\xBB"
       "DEPTH=1\n",
       ERR_INISYNTAX},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Run(c.ini).code, c.code) << c.ini.substr(0, 30);
  }
}

// Editors that save UTF-8 may start the file with a byte-order mark.
TEST_F(IniTest, ByteOrderMarkIsSkipped) {
  Parsed p = Run(
      "\xEF\xBB\xBF"
      "DEPTH=16\nQUIET=yes\n");
  ASSERT_EQ(p.code, 0);
  EXPECT_STREQ(SlotText(p, kSlotDepth), "16");
  EXPECT_EQ(p.slots.slot[kSlotQuiet].flag, 1);
  EXPECT_EQ(Run("\xEF\xBB\xBF").code, 0);
}

TEST_F(IniTest, ApplyAfterIni) {
  Parsed p = Run("FULLSCREEN=1\n", {"-OWNSCREEN"});
  ASSERT_EQ(p.code, 0);
  EXPECT_EQ(ApplyOptions(p.slots, &p.state, &p.settings), ERR_ARGS);
  Parsed q = Run("OWNSCREEN=off\nFULLSCREEN=on\n", {"-OWNSCREEN"});
  ASSERT_EQ(q.code, 0);
  EXPECT_EQ(ApplyOptions(q.slots, &q.state, &q.settings), 0);
  EXPECT_EQ(q.settings.displayMode, kDisplayModeFullScreen);
}

// Link databases: one name per line, plain or quoted; the names that end up in the linked-file
// list, or the error.
TEST(LinkDatabase, EntriesAndSyntax) {
  qvtest::TempDir dir;
  const std::string longest(1023, 'n');
  struct Case {
    std::string text;
    bool fonts;
    int code;
    std::vector<std::string> names;
  } cases[] = {
      {"", false, 0, {}},
      {"a.png\nb.png", false, 0, {"a.png", "b.png"}},
      {"  a.png \t\r\n\n\t\"with blanks.png\"\t\r\n\r\n", false, 0, {"a.png", "with blanks.png"}},
      {"x\"y.png\n", false, 0, {"x\"y.png"}},
      // Names the lookup would not tell apart are listed once.
      {"a.png\nA.PNG\ndir\\x.png\ndir/X.png\n", false, 0, {"a.png", "dir\\x.png"}},
      {"Sans.font\nSerif.FONT\nMono\nx.ttf\nsans\n",
       true,
       0,
       {"::font:Sans", "::font:Serif", "::font:Mono", "::font:x.ttf"}},
      {longest + "\n", false, 0, {longest}},
      {longest + "\n", true, ERR_LFSYNTAX, {}},  // "::font:" makes it too long
      {longest + "n\n", false, ERR_LFSYNTAX, {}},
      {"a.png b.png\n", false, ERR_LFSYNTAX, {}},
      {"a.png\rb.png\n", false, ERR_LFSYNTAX, {}},
      {"\"a.png\"b.png\n", false, ERR_LFSYNTAX, {}},
      {"\"open.png\n", false, ERR_LFSYNTAX, {}},
      {"\"open.png", false, ERR_LFSYNTAX, {}},
      {"\"\"\n", false, ERR_LFSYNTAX, {}},
      {".font\n", true, ERR_LFSYNTAX, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 40) + (c.fonts ? " (fonts)" : ""));
    std::string db = dir.Write("db.txt", c.text);
    qvAppletSettings settings;
    ASSERT_EQ(ReadLinkDatabase(db.c_str(), &settings, c.fonts), c.code);
    if (c.code != 0) continue;
    std::vector<std::string> names;
    for (const qvLinkedFile& f : settings.linkedFiles) {
      names.push_back(f.name);
      EXPECT_TRUE(f.containerPath.empty());
      EXPECT_EQ(f.offset, 0u);
      EXPECT_EQ(f.length, 0u);
    }
    EXPECT_EQ(names, c.names);
  }
}

TEST(LinkDatabase, ListedNamesMissingFilesAndTheCompileRequest) {
  qvtest::TempDir dir;
  // Names that the applet already links are not added again; a font and a file may share one.
  std::string files = dir.Write("files.txt", "logo.png\nSans\n");
  std::string fonts = dir.Write("fonts.txt", "Sans.font\n");
  qvAppletSettings settings;
  settings.linkedFiles = {{"LOGO.PNG", "", "", 10, 20}};
  ASSERT_EQ(ReadLinkDatabase(files.c_str(), &settings, false), 0);
  ASSERT_EQ(ReadLinkDatabase(fonts.c_str(), &settings, true), 0);
  ASSERT_EQ(settings.linkedFiles.size(), 3u);
  EXPECT_EQ(settings.linkedFiles[0].length, 20u);
  EXPECT_EQ(settings.linkedFiles[1].name, "Sans");
  EXPECT_EQ(settings.linkedFiles[2].name, "::font:Sans");
  EXPECT_EQ(settings.linkedFiles[2].sourcePath, "Sans.font");  // what a compile run would read

  SetErrorString("");
  const std::string missing = dir.Path("missing.txt");
  EXPECT_EQ(ReadLinkDatabase(missing.c_str(), &settings, false), ERR_READFILE);
  EXPECT_STREQ(GetErrorString(), missing.c_str());
  EXPECT_EQ(ReadLinkDatabase(dir.path().c_str(), &settings, false), ERR_READFILE);  // a directory

  // ApplyOptions reads both databases for a compile run only.
  Parsed plain = Parse({"game.qva", "-LINKFILES", missing, "-LINKFONTS", fonts}, true);
  EXPECT_EQ(plain.code, 0);
  EXPECT_TRUE(plain.settings.linkedFiles.empty());
  Parsed compile = Parse({"game.qva", "-COMPILE", "out", "-LINKFILES", files, "-LINKFONTS", fonts},
                         true);
  EXPECT_EQ(compile.code, 0);
  EXPECT_EQ(compile.settings.linkedFiles.size(), 3u);
  EXPECT_EQ(Parse({"game.qva", "-COMPILE", "out", "-LINKFONTS", missing}, true).code, ERR_READFILE);
}
