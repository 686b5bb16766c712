// Plugins through the player program: a copy of the player in the test's folder with the test
// plugins beside it (plugins load only from the player's own folder). Library commands and
// constants, the plugin listing, refused plugins and their reasons, held-back plugins, demands,
// the order of the shutdown calls, and the media plugin's pictures, savers and streams.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/errors.h"
#include "include/qv_plugin.h"
#include "tests/player/disk_audio_fixture.h"
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

// The brush services: ApiLockBrush's record and ApiGetBrushARGB with its tags, for a plain
// brush, a masked one and one with an alpha channel; a missing brush cannot be locked.
TEST_F(PluginsE2eTest, BrushServicesDescribeTheBrush) {
  Install({"mylib"});
  EXPECT_EQ(RunScript(R"(
do CreateBrush(1, 3, 2, 0x123456)
mylib.brushinfo(1)
do CreateBrush(2, 2, 2, 0x102030, {mask = 1})
do WriteBrushPixel(2, 0, 0, 0x405060, 0)
mylib.brushinfo(2)
do CreateBrush(3, 4, 1, 0x0000FF, {alphachannel = 1})
mylib.brushinfo(3)
mylib.brushinfo(9)
)"),
            "mylib.brushinfo(1) 3 2 4 0 0 1 4279383126\n"
            "mylib.brushinfo(2) 2 2 4 1 0 0 4214880\n"
            "mylib.brushinfo(3) 4 1 4 0 1 0 4278190335\n"
            "mylib.brushinfo(9) Nil\n");
}

// ApiGetSampleData's facts of a sample, and its copy handed back as the sample's new data.
TEST_F(PluginsE2eTest, SampleDataServiceHandsACopyBack) {
  Install({"mylib", "media"});
  env_.push_back("SDL_AUDIODRIVER=dummy");
  EXPECT_EQ(RunScript(R"(
do CreateSample(1, {1000, -1000, 2000, -2000}, 22050, GetConstant("#STEREO16"))
mylib.sampledata(1)
do SaveSample(1, "s.out", GetConstant("#SMPFMT_QVSN"))
mylib.sampledata(7)
)"),
            "mylib.sampledata(1) 8 2 2 16 22050 2\n"
            "mylib.sampledata(7) Nil\n");
  EXPECT_EQ(ReadFile("s.out").substr(24), std::string("\xe9\x03\x18\xfc\xd0\x07\x30\xf8", 8));
}

// The requester services write at most the 1024 bytes the interface grants, however long the
// answer; a cancelled requester answers 0.
TEST_F(PluginsE2eTest, RequesterServicesKeepToTheirBuffer) {
  Install({"mylib"});
  const std::string longPath = "/" + std::string(3000, 'd');
  WriteFile("answers.txt", "/tmp/short.txt\n" + longPath + "\n" + longPath + "\n");
  env_.push_back("QUILLVANE_REQUESTER_SCRIPT=" + Path("answers.txt"));
  EXPECT_EQ(RunScript("mylib.ask(0)\nmylib.ask(0)\nmylib.ask(1)\nmylib.ask(1)\n"),
            "mylib.ask(0) 1 14 1\n"
            "mylib.ask(0) 1 1023 1\n"
            "mylib.ask(1) 1 1023 1\n"
            "mylib.ask(1) 0 -1 1\n");
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
            "mylib.Raise\nmylib.BrushInfo\nmylib.SampleData\nmylib.Ask\n"
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

// Little-endian words after a four-byte magic: the media plugin's file formats.
std::string MediaFile(const char* magic, const std::vector<uint32_t>& words) {
  std::string bytes(magic, 4);
  for (uint32_t w : words) {
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(char(w >> shift));
  }
  return bytes;
}

std::vector<uint32_t> Words(const std::string& bytes, size_t from) {
  std::vector<uint32_t> words;
  for (size_t i = from; i + 4 <= bytes.size(); i += 4) {
    words.push_back(uint32_t(uint8_t(bytes[i])) | uint32_t(uint8_t(bytes[i + 1])) << 8 |
                    uint32_t(uint8_t(bytes[i + 2])) << 16 | uint32_t(uint8_t(bytes[i + 3])) << 24);
  }
  return words;
}

class MediaPluginE2eTest : public PluginsE2eTest {
 protected:
  void SetUp() override {
    PluginsE2eTest::SetUp();
    Install({"media", "vecstub"});
    // 3 x 2 with alpha: red, half-transparent green, invisible blue; then grey, white, black.
    const std::string picture = MediaFile(
        "QVIM", {3, 2, 1, 0xFFFF0000, 0x8000FF00, 0x000000FF, 0xFF808080, 0xFFFFFFFF, 0xFF000000});
    WriteFile("pic.qvim", picture);
    WriteFile("fake.png", picture);  // the plugin takes it whatever its name says
    WriteFile("opaque.qvim", MediaFile("QVIM", {2, 1, 0, 0xFF112233, 0xFF445566}));
    WriteFile("frame.qvvc", MediaFile("QVVC", {4, 3, 0x00FF00}));
  }
};

TEST_F(MediaPluginE2eTest, PicturesLoadThroughThePluginFirst) {
  EXPECT_EQ(RunScript(R"(
do LoadBrush(1, "pic.qvim")
ReadBrushPixel(1, 0, 0)
ReadBrushPixel(1, 2, 1)
do LoadBrush(2, "pic.qvim", {loadalpha = 1})
ReadBrushPixel(2, 1, 0)
ReadBrushPixel(2, 2, 0)
do LoadBrush(3, "opaque.qvim", {loadalpha = 1})
do LoadBrush(4, "fake.png")
ReadBrushPixel(4, 1, 1)
)"),
            "ReadBrushPixel(1, 0, 0) 16711680 -1\n"
            "ReadBrushPixel(1, 2, 1) 0 -1\n"
            "ReadBrushPixel(2, 1, 0) 65280 128\n"
            "ReadBrushPixel(2, 2, 0) 255 0\n"
            "error ERR_NOALPHA LoadBrush\n"
            "ReadBrushPixel(4, 1, 1) 16777215 -1\n");
  // IsPicture asks the plugins' IsImage first: its answer and the facts table's fields.
  std::string check = ".function main\n";
  for (const char* file : {"frame.qvvc", "fake.png", "opaque.qvim"}) {
    check += std::string("  GETGLOBAL R0, \"ispicture\"\n  LOADCONST R1, \"") + file +
             "\"\n  CALL R0, nargs=1, nres=2\n  GETGLOBAL R2, \"debugprint\"\n  MOVE R3, R0\n";
    int r = 4;
    for (const char* field : {"width", "height", "alpha", "vector"}) {
      check += "  GETTABLE R" + std::to_string(r++) + ", R1, \"" + field + "\"\n";
    }
    check += "  CALL R2, nargs=5, nres=0\n";
  }
  check += "  RETURN R0, 1\n.end\n";
  WriteFile("check.qva", Applet(check));
  PlayerRun r = Run({"check.qva", "-QUIET", "-DEBUGDEVICE", "::file" + Path("check.txt")},
                    Player());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile("check.txt"), "1 4 3 1 1\n1 3 2 1 0\n1 2 1 0 0\n");
}

TEST_F(MediaPluginE2eTest, VectorPicturesAreDrawnAgainWhenScaled) {
  EXPECT_EQ(RunScript(R"(
do LoadBrush(1, "frame.qvvc")
do CreateBrush(2, 12, 12)
do SelectBrush(2)
do DisplayBrush(1, 0, 0, {width = 8, height = 6})
do EndSelect()
ReadBrushPixel(2, 0, 0)
ReadBrushPixel(2, 1, 1)
ReadBrushPixel(2, 7, 5)
ReadBrushPixel(2, 6, 4)
)"),
            "ReadBrushPixel(2, 0, 0) 65280 -1\n"
            "ReadBrushPixel(2, 1, 1) 0 -1\n"
            "ReadBrushPixel(2, 7, 5) 65280 -1\n"
            "ReadBrushPixel(2, 6, 4) 0 -1\n");
  const std::string log = ReadFile("calls.log");
  EXPECT_NE(log.find("media TransformImage 2 0 0 2 8x6\n"), std::string::npos) << log;
}

TEST_F(MediaPluginE2eTest, SaversTakeTheirFormatNumbers) {
  env_.push_back("SDL_AUDIODRIVER=dummy");
  EXPECT_EQ(RunScript(R"(
GetConstant("#IMGFMT_QVPAL")
GetConstant("#IMGFMT_QVARGB")
GetConstant("#SMPFMT_QVSN")
do LoadBrush(1, "pic.qvim", {loadalpha = 1})
do SaveBrush(1, "pal.out", 0xFF00FF, GetConstant("#IMGFMT_QVPAL"), {quality = 70, colors = 8})
do SaveBrush(1, "argb.out", -1, GetConstant("#IMGFMT_QVARGB"))
do CreateBrush(2, 2, 1, 0x102030, {mask = 1})
do WriteBrushPixel(2, 1, 0, 0x405060, 0)
do SaveBrush(2, "key.out", 0xFF00FF, GetConstant("#IMGFMT_QVPAL"))
do SaveBrush(1, "none.out", -1, 99)
do CreateSample(1, {1000, -1000, 2000, -2000}, 22050, GetConstant("#STEREO16"))
do SaveSample(1, "s.out", GetConstant("#SMPFMT_QVSN"))
do SaveSample(1, "none.out", 99)
)"),
            "GetConstant(\"#IMGFMT_QVPAL\") 77\n"
            "GetConstant(\"#IMGFMT_QVARGB\") 78\n"
            "GetConstant(\"#SMPFMT_QVSN\") 9\n"
            "error ERR_UNKNOWNIMGOUT SaveBrush\n"
            "error ERR_UNKNOWNSMPOUT SaveSample\n");
  // The palette saver: indices and a palette, no transparent entry for a picture with alpha.
  const std::string pal = ReadFile("pal.out");
  ASSERT_EQ(pal.substr(0, 4), "QVIP");
  std::vector<uint32_t> head = Words(pal, 4);
  ASSERT_GE(head.size(), 5u);
  EXPECT_EQ(head[0], 3u);
  EXPECT_EQ(head[1], 2u);
  EXPECT_EQ(head[2], 0u);  // flags
  EXPECT_EQ(head[4], 70u);
  const uint32_t colours = head[3];
  ASSERT_LE(colours, 8u);
  ASSERT_EQ(pal.size(), 24 + 4 * colours + 6);
  std::vector<uint32_t> palette(head.begin() + 5, head.begin() + 5 + colours);
  // The quantiser's colours stand near the picture's (its boxes keep five bits a channel); the
  // invisible pixel has the save's colour OR-ed in.
  const uint32_t rgb[6] = {0xFF0000, 0x00FF00, 0xFF00FF, 0x808080, 0xFFFFFF, 0x000000};
  for (int i = 0; i < 6; ++i) {
    const auto index = uint8_t(pal[24 + 4 * colours + size_t(i)]);
    ASSERT_LT(index, colours);
    for (int shift = 0; shift < 24; shift += 8) {
      const int got = int(palette[index] >> shift & 255), want = int(rgb[i] >> shift & 255);
      EXPECT_LE(std::abs(got - want), 8) << "pixel " << i << " channel " << shift;
    }
  }
  // The 32-bit saver keeps alpha: flag 1 and the ARGB words as the brush holds them.
  const std::string argb = ReadFile("argb.out");
  ASSERT_EQ(argb.substr(0, 4), "QVIA");
  // An invisible pixel takes the save's colour (none given: white) beneath its zero alpha.
  EXPECT_EQ(Words(argb, 4),
            (std::vector<uint32_t>{3, 2, QV_SAVE_HASALPHA, 90, 0xFFFF0000, 0x8000FF00, 0x00FFFFFF,
                                   0xFF808080, 0xFFFFFFFF, 0xFF000000}));
  // A masked picture: its transparent colour is the palette's last entry, flag 2.
  const std::string key = ReadFile("key.out");
  head = Words(key, 4);
  ASSERT_GE(head.size(), 5u);
  EXPECT_EQ(head[2], QV_SAVE_TRANSPARENTLAST);
  const uint32_t keyColours = head[3];
  ASSERT_EQ(key.size(), 24 + 4 * keyColours + 2);
  EXPECT_EQ(head[5 + keyColours - 1] & 0xFFFFFF, 0xFF00FFu);
  EXPECT_EQ(uint8_t(key[24 + 4 * keyColours]), 0);
  EXPECT_EQ(uint8_t(key[24 + 4 * keyColours + 1]), keyColours - 1);
  // The sample saver: the PCM as the sample holds it, 16-bit signed.
  const std::string sample = ReadFile("s.out");
  ASSERT_EQ(sample.substr(0, 4), "QVSN");
  EXPECT_EQ(Words(sample.substr(0, 24), 4), (std::vector<uint32_t>{22050, 2, 16, 2, 2}));
  EXPECT_EQ(sample.substr(24), std::string("\xe8\x03\x18\xfc\xd0\x07\x30\xf8", 8));
  EXPECT_FALSE(Exists("none.out"));
}

TEST_F(MediaPluginE2eTest, SoundStreamsPlayThroughThePlugin) {
  // A tenth of a second of 16-bit stereo at 48000 Hz: 3000 left, -3000 right.
  std::vector<uint32_t> words = {48000, 2, 16, 4800, 2};
  for (int i = 0; i < 4800; ++i) words.push_back(0xF4480BB8u);
  WriteFile("tone.qvsn", MediaFile("QVSN", words));
  env_.push_back("SDL_AUDIODRIVER=disk");
  env_.push_back("SDL_DISKAUDIOFILE=" + Path("mix.raw"));
  EXPECT_EQ(RunScript(R"(
function onend(msg)
  return 0
end
do OpenMusic(1, "tone.qvsn")
GetAttribute(GetConstant("#MUSIC"), 1, GetConstant("#ATTRFORMAT"))
do InstallEventHandler({onmusicend = @onend})
do PlayMusic(1)
do WaitEvent()
do LoadSample(2, "tone.qvsn")
GetAttribute(GetConstant("#SAMPLE"), 2, GetConstant("#ATTRDURATION"))
)"),
            "GetAttribute(GetConstant(\"#MUSIC\"), 1, GetConstant(\"#ATTRFORMAT\")) QV Sound\n"
            "GetAttribute(GetConstant(\"#SAMPLE\"), 2, GetConstant(\"#ATTRDURATION\")) 100\n");
  const std::vector<int16_t> mix = testing::PcmValues(ReadFile("mix.raw"));
  size_t heard = 0;
  for (size_t i = 0; i + 1 < mix.size(); i += 2) heard += mix[i] > 0 && mix[i + 1] < 0;
  EXPECT_GT(heard, 4000u);
  EXPECT_NE(ReadFile("calls.log").find("media OpenStream\n"), std::string::npos);
}

// A plugin that answers against its own facts is refused or gives the operation's error, never
// read past its buffers: the media plugin misbehaves as the file's name asks.
TEST_F(MediaPluginE2eTest, MisbehavingPluginsAreRefusedOrGiveTheirError) {
  const std::string raster = MediaFile("QVIM", {3, 2, 0, 1, 2, 3, 4, 5, 6});
  const std::string vector = MediaFile("QVVC", {4, 3, 0x00FF00});
  const std::string sound = MediaFile("QVSN", {22050, 1, 8, 4, 2, 0});
  const struct {
    const char* file;
    const std::string& bytes;
    const char* script;
    const char* output;
  } cases[] = {
      {"hostile-nullpixels.qvim", raster, "do LoadBrush(1, \"hostile-nullpixels.qvim\")\n",
       "error ERR_LOADPICTURE2 LoadBrush\n"},
      {"hostile-shortrow.qvim", raster, "do LoadBrush(1, \"hostile-shortrow.qvim\")\n",
       "error ERR_LOADPICTURE2 LoadBrush\n"},
      {"hostile-grown.qvim", raster, "do LoadBrush(1, \"hostile-grown.qvim\")\n",
       "error ERR_LOADPICTURE2 LoadBrush\n"},
      {"hostile-grown.qvvc", vector, "do LoadBrush(1, \"hostile-grown.qvvc\")\n",
       "error ERR_LOADPICTURE2 LoadBrush\n"},
      // The transform's error, and again on a second try: the picture stays whole.
      {"hostile-wrongsize.qvvc", vector,
       "do LoadBrush(1, \"hostile-wrongsize.qvvc\")\n"
       "do DisplayBrush(1, 0, 0, {width = 8, height = 6})\n"
       "do DisplayBrush(1, 0, 0, {width = 5, height = 5})\n"
       "do DisplayBrush(1, 0, 0)\n",
       "error ERR_TFIMAGE DisplayBrush\nerror ERR_TFIMAGE DisplayBrush\n"},
      {"hostile-channels3.qvsn", sound, "do OpenMusic(1, \"hostile-channels3.qvsn\")\n",
       "error ERR_UNKNOWNMUSFMT OpenMusic\n"},
      {"hostile-bits12.qvsn", sound, "do LoadSample(1, \"hostile-bits12.qvsn\")\n",
       "error ERR_OPENSOUND LoadSample\n"},
      {"hostile-frequency0.qvsn", sound, "do OpenMusic(1, \"hostile-frequency0.qvsn\")\n",
       "error ERR_UNKNOWNMUSFMT OpenMusic\n"},
  };
  env_.push_back("SDL_AUDIODRIVER=dummy");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    WriteFile(c.file, c.bytes);
    EXPECT_EQ(RunScript(c.script), c.output);
  }
}

}  // namespace
}  // namespace qv
