// Display 1 through the player program, headless: what opens at start-up for each declaration,
// and the snapshots of its window and picture, read back by Pillow (an independent reader).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/player/player_fixture.h"

namespace qv {
namespace {

using testing::PlayerRun;
using testing::PlayerTest;

// Saves SNAPWINDOW into win.bmp and SNAPDISPLAY into disp.bmp, then prints "saved".
constexpr char kSnapshots[] = R"(
.function main
  GETGLOBAL R0, "savesnapshot"
  LOADCONST R1, "win.bmp"
  LOADCONST R2, 0
  CALL R0, nargs=2, nres=0
  GETGLOBAL R0, "savesnapshot"
  LOADCONST R1, "disp.bmp"
  LOADCONST R2, 1
  CALL R0, nargs=2, nres=0
  GETGLOBAL R0, "debugprint"
  LOADCONST R1, "saved"
  CALL R0, nargs=1, nres=0
  RETURN R0, 1
.end
)";

class DisplayE2eTest : public PlayerTest {
 protected:
  PlayerRun RunApplet(const std::string& header, const std::string& body = kSnapshots) {
    WriteFile("d.qva", Applet(header + body));
    return Run({"-QUIET", "d.qva"});
  }
  // Pillow's view of a picture: "WxH MODE" and the listed pixels as r,g,b.
  std::string Pillow(const std::string& name, const std::string& points) {
    std::string cmd =
        "/usr/bin/python3 -c \"import sys; from PIL import Image; "
        "im = Image.open(sys.argv[1]); "
        "print('%dx%d %s %s' % (im.size[0], im.size[1], im.format, im.mode), end=''); "
        "[print(' %d,%d,%d' % im.getpixel((int(x), int(y))), end='') "
        "for x, y in (p.split(',') for p in sys.argv[2:])]\" " +
        Path(name) + " " + points + " 2>&1";
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
      char buffer[256];
      while (std::fgets(buffer, sizeof buffer, p) != nullptr) out += buffer;
      pclose(p);
    }
    return out;
  }
};

TEST_F(DisplayE2eTest, WithoutADeclarationDisplayOneOpensBlack) {
  PlayerRun r = RunApplet("");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "saved\n");
  EXPECT_EQ(Pillow("win.bmp", "0,0 639,479"), "640x480 BMP RGB 0,0,0 0,0,0");
  EXPECT_EQ(ReadFile("win.bmp").size(), 640u * 480 * 3 + 54);
  EXPECT_EQ(ReadFile("disp.bmp"), ReadFile("win.bmp"));
}

TEST_F(DisplayE2eTest, DeclaredSizeAndColourReachTheWindow) {
  // 33 pixels: rows of 99 + 1 bytes.
  PlayerRun r = RunApplet(".display size 33 21\n.display color 0x336699\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Pillow("win.bmp", "0,0 32,20 16,10"), "33x21 BMP RGB 51,102,153 51,102,153 51,102,153");
  EXPECT_EQ(ReadFile("win.bmp").size(), 100u * 21 + 54);
  EXPECT_EQ(ReadFile("disp.bmp"), ReadFile("win.bmp"));

  r = RunApplet(".display size 1 1\n.display color 0xFEDCBA\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile("win.bmp").size(), 58u);
  EXPECT_EQ(Pillow("win.bmp", "0,0"), "1x1 BMP RGB 254,220,186");
}

TEST_F(DisplayE2eTest, AHiddenDisplayStaysClosed) {
  PlayerRun r = RunApplet(".declare display 1 \"\" width=8 height=4 color=0xFF flags=0x800\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("Cannot use this function while display is closed!"), std::string::npos)
      << r.err;
  EXPECT_FALSE(Exists("win.bmp"));

  // Its picture is there all the same.
  const std::string displayOnly = R"(
.function main
  GETGLOBAL R0, "savesnapshot"
  LOADCONST R1, "disp.bmp"
  LOADCONST R2, 1
  CALL R0, nargs=2, nres=0
  RETURN R0, 1
.end
)";
  r = RunApplet(".declare display 1 \"\" width=8 height=4 color=0xFF flags=0x800\n", displayOnly);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Pillow("disp.bmp", "7,3"), "8x4 BMP RGB 0,0,255");
}

TEST_F(DisplayE2eTest, ADisplayLargerThanTheWorkAreaEndsTheStart) {
  PlayerRun r = RunApplet(".display size 2000 1000\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("Unable to change display size to 2000x1000 !"), std::string::npos) << r.err;
  EXPECT_FALSE(Exists("win.bmp"));
}

TEST_F(DisplayE2eTest, StatusTextsUnlessQuiet) {
  WriteFile("d.qva", Applet(".display size 8 8\n.function main\n  RETURN R0, 1\n.end\n"));
  PlayerRun r = Run({"d.qva"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Compiling script...done\nPreparing display...done\nAnd Action!\n"),
            std::string::npos)
      << r.out;
  r = Run({"-QUIET", "d.qva"});
  EXPECT_EQ(r.out, "");
}

}  // namespace
}  // namespace qv
