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
  // Runs a Python check with the arguments; its output.
  std::string Python(const std::string& script, const std::string& args) {
    WriteFile("check.py", script);
    std::string cmd = "/usr/bin/python3 " + Path("check.py") + " " + args + " 2>&1";
    return qvtest::RunCommand(cmd);
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
    return qvtest::RunCommand(cmd);
  }
};

// Checks a picture against the stop-less angle gradient, computed here from its definition:
// prints "ok" or the first pixel that differs.
constexpr char kAngleCheck[] = R"(
import math, sys
from PIL import Image
im = Image.open(sys.argv[1]).convert('RGB')
W, H = im.size
S, E, A = int(sys.argv[2], 0), int(sys.argv[3], 0), int(sys.argv[4])
def tdiv(a, b):
    q = abs(a) // abs(b)
    return q if (a >= 0) == (b > 0) else -q
th = A * math.pi / 180
c, s = math.trunc(-255 * math.cos(th)), math.trunc(255 * math.sin(th))
a = 360 - ((-A) % 360) if A < 0 else A % 360
for j in range(H):
    for i in range(W):
        if a <= 90: num, den = s * i - c * j, s * W - c * H
        elif a <= 180: num, den = s * i + c * (H - j), s * W + c * H
        elif a <= 270: num, den = s * (W - i) - c * (H - j), s * W - c * H
        else: num, den = s * (W - i) + c * j, s * W + c * H
        t = tdiv(H * num, den) if den else 0
        want = tuple(((S >> k) & 255) + tdiv(t * (((E >> k) & 255) - ((S >> k) & 255)), H)
                     for k in (16, 8, 0))
        if im.getpixel((i, j)) != want:
            print('pixel', i, j, im.getpixel((i, j)), 'want', want)
            sys.exit()
print('ok')
)";

// Checks that the first picture is the nearest stretch of the second to its size.
constexpr char kStretchCheck[] = R"(
import sys
from PIL import Image
win, disp = Image.open(sys.argv[1]).convert('RGB'), Image.open(sys.argv[2]).convert('RGB')
(W, H), (w, h) = win.size, disp.size
for y in range(H):
    for x in range(W):
        if win.getpixel((x, y)) != disp.getpixel((x * w // W, y * h // H)):
            print('pixel', x, y)
            sys.exit()
print('ok %dx%d from %dx%d' % (W, H, w, h))
)";

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

TEST_F(DisplayE2eTest, AGradientFillHasTheAngleKernelsValues) {
  for (int angle : {0, 90, 135, 180, 200, 270, 300, -45, 405}) {
    std::string decl =
        ".declare display 1 \"\" width=23 height=11 fillstyle=2 color=0x102030 "
        "endcolor=0xF0E0D0 angle=" +
        std::to_string(angle) + "\n";
    PlayerRun r = RunApplet(decl);
    ASSERT_EQ(r.status, 0) << angle << r.err;
    EXPECT_EQ(Python(kAngleCheck, Path("disp.bmp") + " 0x102030 0xF0E0D0 " + std::to_string(angle)),
              "ok\n")
        << angle;
    // After opening, the window shows the display's picture.
    EXPECT_EQ(ReadFile("win.bmp"), ReadFile("disp.bmp")) << angle;
  }
}

TEST_F(DisplayE2eTest, AnAutoScaledWindowIsTheNearestStretch) {
  PlayerRun r = RunApplet(
      ".declare display 1 \"\" width=6 height=4 fillstyle=2 color=0x000000 endcolor=0xFFFFFF "
      "angle=90 flags=0x40 scalewidth=13 scaleheight=9\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Python(kAngleCheck, Path("disp.bmp") + " 0 0xFFFFFF 90"), "ok\n");
  EXPECT_EQ(Python(kStretchCheck, Path("win.bmp") + " " + Path("disp.bmp")), "ok 13x9 from 6x4\n");
  // Percentages of the display's size (stored negative in the declaration).
  r = RunApplet(
      ".declare display 1 \"\" width=10 height=4 fillstyle=2 color=0x000000 endcolor=0xFFFFFF "
      "angle=45 flags=0x40 scalewidth=-250 scaleheight=-150\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Python(kStretchCheck, Path("win.bmp") + " " + Path("disp.bmp")), "ok 25x6 from 10x4\n");
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
  EXPECT_NE(r.out.find("Compiling script...done\nLoading applet d.qva...done\n"
                       "Preparing display...done\nAnd Action!\n"),
            std::string::npos)
      << r.out;
  r = Run({"-QUIET", "d.qva"});
  EXPECT_EQ(r.out, "");
}

}  // namespace
}  // namespace qv
