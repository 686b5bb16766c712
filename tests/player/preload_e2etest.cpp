// Objects that an applet declares, made before its first line runs: from files beside it and from
// stretches of the applet itself, a picture that two declarations share, and the error line of a
// declaration that fails.
#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/player/player_fixture.h"

namespace qv::testing {
namespace {

// Applet lines map to the script's lines one to one, so that an error names its line.
constexpr char kLineMap[] = ".linemap 1 1000 0 \"main.qvs\" \"\"\n";

class PreloadTest : public PlayerTest {
 protected:
  void SetUp() override {
    PlayerTest::SetUp();
    std::filesystem::copy_file(std::string(QV_PNG_FIXTURES) + "/pil_rgba8.png", Path("pic.png"));
    std::filesystem::copy_file(std::string(QV_SOUND_DATA) + "/mono16.wav", Path("tone.wav"));
    std::filesystem::copy_file(std::string(QV_SOUND_DATA) + "/u8.wav", Path("tune.wav"));
    env_.push_back("SDL_AUDIODRIVER=dummy");
    WriteFile("data.txt", std::string("first line\nsecond line\n"));
  }

  // Assembles the script with every "@name@" in its declarations replaced by the stretch of the
  // applet where the linked file of that name lies: the stretch fields have a fixed width, so a
  // first assembly with zeros shows where the files land.
  std::vector<uint8_t> Build(std::string script, const std::vector<std::string>& linked) {
    std::string zeros = script;
    for (const std::string& name : linked) {
      zeros = std::regex_replace(zeros, std::regex("@" + name + "@"), "0,1");
    }
    std::vector<uint8_t> first = Assemble(zeros);
    for (const std::string& name : linked) {
      std::string text = ReadFile(name);
      std::vector<uint8_t> bytes(text.begin(), text.end());
      auto at = std::search(first.begin(), first.end(), bytes.begin(), bytes.end());
      EXPECT_NE(at, first.end()) << name;
      std::string stretch = std::to_string(at - first.begin()) + "," + std::to_string(bytes.size());
      script = std::regex_replace(script, std::regex("@" + name + "@"), stretch);
    }
    return Assemble(script);
  }
  std::vector<uint8_t> Assemble(const std::string& script) {
    qvasm::Options options;
    options.baseDir = dir_;
    qvasm::Result r = qvasm::AssembleApplet(qvasm::TranslateOrFail(script), options);
    for (const auto& d : r.diags) ADD_FAILURE() << "qvasm line " << d.line << ": " << d.message;
    return r.bytes;
  }
  // Runs the applet; what it printed, with the exit status on a line of its own.
  std::string RunApplet(const std::vector<uint8_t>& applet) {
    WriteFile("main.qva", applet);
    PlayerRun r = Run({"main.qva", "-QUIET", "-DEBUGDEVICE", "::file" + Path("out.txt")});
    return ReadFile("out.txt") + "[status " + std::to_string(r.status) + "]";
  }
};

TEST_F(PreloadTest, EveryDeclaredKindIsMadeFromAFileOrFromTheApplet) {
  std::vector<uint8_t> applet = Build(std::string(kLineMap) + R"(
.link "blob.png" "pic.png"
.link "blob.wav" "tone.wav"
.link "blob2.wav" "tune.wav"
.link "blob.txt" "data.txt"
.declare brush 1 "pic.png" line=1
.declare brush 2 "inner.png" line=2 x=1 y=1 stretch=@pic.png@
.declare sample 3 "tone.wav" line=3
.declare sample 4 "inner.wav" line=4 stretch=@tone.wav@
.declare music 5 "tune.wav" line=5
.declare music 6 "inner2.wav" line=6 stretch=@tune.wav@
.declare file 7 "data.txt" line=7
.declare file 8 "inner.txt" line=8 stretch=@data.txt@
.declare button 9 "" line=9 rect=1,2,3,4
.declare keydown 10 "a" line=10
ReadBrushPixel(1, 1, 1)
ReadBrushPixel(2, 0, 0)
ReadBrushPixel(1, 4, 4)
ReadBrushPixel(2, 3, 3)
FreeSample(3)
FreeSample(4)
CloseMusic(5)
CloseMusic(6)
ReadLine(7)
ReadLine(8)
ReadLine(8)
)",
                                      {"pic.png", "tone.wav", "tune.wav", "data.txt"});
  // Nothing of the names "inner.*" is on disk: those objects come from the applet.
  EXPECT_EQ(RunApplet(applet),
            "ReadBrushPixel(1, 1, 1) 5762801 -1\n"
            "ReadBrushPixel(2, 0, 0) 5762801 -1\n"
            "ReadBrushPixel(1, 4, 4) 1345137 -1\n"
            "ReadBrushPixel(2, 3, 3) 1345137 -1\n"
            "FreeSample(3)\nFreeSample(4)\nCloseMusic(5)\nCloseMusic(6)\n"
            "ReadLine(7) first line\nReadLine(8) first line\nReadLine(8) second line\n"
            "[status 0]");
}

TEST_F(PreloadTest, APictureThatTwoDeclarationsNameIsDecodedOnce) {
  // The second brush names a file that is not on disk: it can only come from the picture that
  // the first one, linked, decoded into the cache. A third one cut from it loads its alpha, which
  // the cache then keeps for it.
  std::vector<uint8_t> applet = Build(std::string(kLineMap) + R"(
.link "blob.png" "pic.png"
.declare brush 1 "shared.png" line=1 stretch=@pic.png@
.declare brush 2 "SHARED.png" line=2 x=4 y=4 width=2 height=1
.declare brush 3 "shared.png" line=3 extra2=1
ReadBrushPixel(1, 4, 4)
ReadBrushPixel(2, 0, 0)
ReadBrushPixel(2, 1, 1)
ReadBrushPixel(3, 4, 4)
)",
                                      {"pic.png"});
  std::filesystem::remove(Path("pic.png"));
  EXPECT_EQ(RunApplet(applet),
            "ReadBrushPixel(1, 4, 4) 1345137 -1\n"
            "ReadBrushPixel(2, 0, 0) 1345137 -1\n"
            "ReadBrushPixel(2, 1, 1) -1 -1\n"
            "ReadBrushPixel(3, 4, 4) 1345137 42\n"
            "[status 0]");
}

TEST_F(PreloadTest, AFailingDeclarationNamesItsLineAndALinkedFileByItsOwnName) {
  // The text file's bytes are no picture: the message names the declared name, not the chunk.
  std::vector<uint8_t> applet = Build(std::string(kLineMap) + R"(
.link "blob.txt" "data.txt"
.declare file 1 "data.txt" line=3
.declare brush 2 "ship.png" line=7 stretch=@data.txt@
.declare file 3 "data.txt" line=9
"not reached"
)",
                                      {"data.txt"});
  EXPECT_EQ(RunApplet(applet),
            "@_qverror7:main.qvs*Picture file \"ship.png\" is in an unknown/unsupported "
            "format!\n[status 1]");
}

}  // namespace
}  // namespace qv::testing
