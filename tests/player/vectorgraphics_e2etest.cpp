// Vector paths through the player program with the vector graphics plugin beside it (as the build
// puts it), and without it (-SKIPPLUGINS *): the listing of the plugin, what works and what fails
// without one, a circle's coverage against its area, dashes in the pixels, and the draw library's
// shapes drawn through temporary paths. Pictures are saved as PNG and read back by Pillow.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/player/player_fixture.h"

namespace qv {
namespace {

using testing::PlayerRun;
using testing::PlayerTest;

class VectorGraphicsE2eTest : public PlayerTest {
 protected:
  // Runs the script quietly; the debug output comes back.
  std::string RunScript(const std::string& script, std::vector<std::string> options = {}) {
    WriteFile("main.qva", Applet(qvasm::TranslateOrFail(script)));
    std::vector<std::string> args = {"main.qva", "-QUIET", "-DEBUGDEVICE",
                                     "::file" + Path("debug.txt")};
    args.insert(args.end(), options.begin(), options.end());
    PlayerRun r = Run(args);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    return ReadFile("debug.txt");
  }
  // Pillow's answer to a few lines of Python about the picture (its pixels as `im`, mode L).
  std::string Pillow(const std::string& png, const std::string& code) {
    WriteFile("check.py",
              "import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1])"
              ".convert('L')\nw, h = im.size\npx = [[im.getpixel((x, y)) for x in "
              "range(w)] for y in range(h)]\n" +
                  code);
    return Shell("/usr/bin/python3 " + Path("check.py") + " " + Path(png));
  }
};

TEST_F(VectorGraphicsE2eTest, ExportPluginsListsTheVectorPlugin) {
  WriteFile("main.qva", Applet(qvasm::TranslateOrFail("IsPathEmpty(StartPath(Nil))\n")));
  PlayerRun r = Run({"main.qva", "-QUIET", "-EXPORTPLUGINS", "plugins.txt"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(ReadFile("plugins.txt").substr(0, 36), "::plugin\n1.0\n0x00000020\nVector graph");
}

TEST_F(VectorGraphicsE2eTest, WithoutThePluginOnlyBuildingWorks) {
  EXPECT_EQ(RunScript(R"(
do StartPath(1)
GetPathExtents(1)
GetCurrentPoint(1)
do MoveTo(1, 1, 2)
do RelLineTo(1, 5, 0)
do CurveTo(1, 1, 1, 2, 2, 3, 3)
do AddArcToPath(1, 5, 5, 2, 3, 0, 90)
do AddCircleToPath(1, 5, 5, 2)
do AddEllipseToPath(1, 5, 5, 2, 3)
do AddBoxToPath(1, 0, 0, 4, 4, {roundlevel = 150})
do StartSubPath(1)
do ClosePath(1)
do SetDash(0, 2, 2)
do SetLineJoin(1)
do CopyPath(1, 2)
do AppendPath(2, 1)
IsPathEmpty(2)
do TranslatePath(1, 0, 0)
do TranslatePath(1, 3, 0)
GetPathExtents(1)
GetCurrentPoint(1)
do NormalizePath(1)
do DrawPath(1, 0, 0)
do AddTextToPath(1, "a")
do ForcePathUse(1)
do Box(0, 0, 4, 4)
do Circle(5, 5, 3)
do Line(0, 0, 3, 3)
do ForcePathUse(0)
do Box(0, 0, 4, 4)
)",
                      {"-SKIPPLUGINS", "*"}),
            "GetPathExtents(1) 0 0 0 0\n"
            "GetCurrentPoint(1) 0 0\n"
            "IsPathEmpty(2) 0\n"
            "error ERR_VECGFXPLUGIN TranslatePath\n"
            "error ERR_VECGFXPLUGIN GetPathExtents\n"
            "GetPathExtents(1)\n"
            "error ERR_VECGFXPLUGIN GetCurrentPoint\n"
            "GetCurrentPoint(1)\n"
            "error ERR_VECGFXPLUGIN NormalizePath\n"
            "error ERR_VECGFXPLUGIN DrawPath\n"
            "error ERR_VECGFXPLUGIN AddTextToPath\n"
            "error ERR_VECGFXPLUGIN Box\n"
            "error ERR_VECGFXPLUGIN Circle\n");
}

TEST_F(VectorGraphicsE2eTest, CircleCoverageIsItsAreaAndSolidInside) {
  // Radius 20 about (25, 25) on a black 50x50 brush, white, with anti-aliasing (16) and without.
  EXPECT_EQ(RunScript(R"(
do StartPath(1)
do AddCircleToPath(1, 0, 0, 20)
do SetFillStyle(1)
do CreateBrush(1, 50, 50, 0)
do CreateBrush(2, 50, 50, 0)
do SetFormStyle(16)
do SelectBrush(1)
do DrawPath(1, 5, 5, 0xFFFFFF)
do EndSelect()
do SetFormStyle(1)
do SelectBrush(2)
do DrawPath(1, 5, 5, 0xFFFFFF)
do EndSelect()
do SaveBrush(1, "smooth.png", -1, 1)
do SaveBrush(2, "plain.png", -1, 1)
GetPathExtents(1)
)"),
            "GetPathExtents(1) -20 -20 40 40\n");
  const std::string check =
      "import math\n"
      "area = sum(v for row in px for v in row) / 255.0\n"
      "want = math.pi * 400\n"
      "solid = all(px[y][x] == 255 for y in range(h) for x in range(w)\n"
      "            if math.hypot(x + 0.5 - 25, y + 0.5 - 25) < 19)\n"
      "levels = sorted(set(v for row in px for v in row))\n"
      "print(abs(area - want) / want < 0.015, solid, len(levels) > 2)\n";
  EXPECT_EQ(Pillow("smooth.png", check), "True True True\n");
  EXPECT_EQ(Pillow("plain.png", check), "True True False\n");
}

TEST_F(VectorGraphicsE2eTest, DashesGapTheStrokeAndCapsJoinsWidenItsExtents) {
  EXPECT_EQ(RunScript(R"(
do StartPath(1)
do MoveTo(1, 0, 0)
do LineTo(1, 24, 0)
do SetFillStyle(0, 2)
do SetDash(0, 3, 1)
do CreateBrush(1, 30, 4, 0)
do SelectBrush(1)
do DrawPath(1, 0, 0, 0xFFFFFF)
do EndSelect()
do SaveBrush(1, "dashed.png", -1, 1)
do SetDash(0, -1)
GetPathExtents(1)
do SetLineCap(1)
GetPathExtents(1)
do StartPath(2)
do MoveTo(2, 0, 20)
do LineTo(2, 10, 0)
do LineTo(2, 20, 20)
do SetLineJoin(2)
GetPathExtents(2)
do SetLineJoin(0)
GetPathExtents(2)
)"),
            "GetPathExtents(1) 0 -1 24 2\n"
            "GetPathExtents(1) -1 -1 26 2\n"
            // Round caps at the feet (their flattening within a hundredth of a pixel); a bevel at
            // the apex reaches sin(atan(1/2)) above it, a mitre sqrt(5).
            "GetPathExtents(2) -1 -0.44721984863281 22 21.444885253906\n"
            "GetPathExtents(2) -1 -2.2360687255859 22 23.233734130859\n");
  EXPECT_EQ(Pillow("dashed.png",
                   "print(''.join('#' if v == 255 else '.' for v in px[0]))\n"
                   "print(''.join('#' if v == 255 else '.' for v in px[1]))\n"
                   "print(''.join('#' if v == 255 else '.' for v in px[2]))\n"),
            "###.###.###.###.###.###.......\n"
            "###.###.###.###.###.###.......\n"
            "..............................\n");
}

TEST_F(VectorGraphicsE2eTest, ForcedPathShapesMatchThePlainShapes) {
  // A box with and without its forms, and a line, drawn plainly into brush 1 and with ForcePathUse
  // into brush 2: the same pixels.
  const std::string draw = R"(
do Box(4, 4, 12, 8, 0xFF0000)
do SetFormStyle(32, 0x000080, 3, 3)
do SetFormStyle(64, 0x00FF00, 2)
do Box(24, 4, 10, 10, 0xFF0000)
do SetFormStyle(1)
do Line(0, 29, 39, 20, 0xFFFFFF)
)";
  EXPECT_EQ(RunScript("do SetFillStyle(1)\ndo CreateBrush(1, 40, 30, 0)\ndo CreateBrush(2, 40, 30, "
                      "0)\ndo SelectBrush(1)\n" +
                      draw + "do EndSelect()\ndo ForcePathUse(1)\ndo SelectBrush(2)\n" + draw +
                      "do EndSelect()\ndo ForcePathUse(0)\n"
                      "do SaveBrush(1, \"plain.png\", -1, 1)\n"
                      "do SaveBrush(2, \"path.png\", -1, 1)\n"),
            "");
  WriteFile("compare.py",
            "import sys\nfrom PIL import Image\na = Image.open(sys.argv[1]).convert('RGB')\n"
            "b = Image.open(sys.argv[2]).convert('RGB')\n"
            "print(sum(a.getpixel((x, y)) != b.getpixel((x, y)) for y in range(30) for x in "
            "range(40)), a.getpixel((5, 5)), a.getpixel((0, 29)))\n");
  EXPECT_EQ(Shell("/usr/bin/python3 " + Path("compare.py") + " " + Path("plain.png") + " " +
                  Path("path.png")),
            "0 (255, 0, 0) (255, 255, 255)\n");
}

TEST_F(VectorGraphicsE2eTest, OptionsScaleTurnAndFadeThePath) {
  EXPECT_EQ(RunScript(R"(
do StartPath(1)
do AddBoxToPath(1, 0, 0, 4, 2)
do SetFillStyle(1)
do CreateBrush(1, 20, 12, 0)
do SelectBrush(1)
do DrawPath(1, 1, 1, 0xFFFFFF, {scalex = 2, scaley = 3})
do DrawPath(1, 12, 1, 0xFFFFFF, {rotate = 90})
do DrawPath(1, 1, 9, 0xFFFFFF, {transparency = 128})
do EndSelect()
do SaveBrush(1, "o.png", -1, 1)
)"),
            "");
  EXPECT_EQ(Pillow("o.png",
                   "for row in px:\n"
                   "  print(''.join('#' if v == 255 else '.' if v == 0 else\n"
                   "                '+' if 120 <= v <= 135 else '?' for v in row))\n"),
            "....................\n"
            ".########...##......\n"
            ".########...##......\n"
            ".########...##......\n"
            ".########...##......\n"
            ".########...........\n"
            ".########...........\n"
            "....................\n"
            "....................\n"
            ".++++...............\n"
            ".++++...............\n"
            "....................\n");
}

TEST_F(VectorGraphicsE2eTest, OutlinesIgnoreShadowAndEdge) {
  // A box path stroked 2 wide with SHADOW and EDGE set, and without them: the same pixels.
  const std::string draw = "do DrawPath(1, 3, 3, 0xFF0000)\n";
  EXPECT_EQ(RunScript("do StartPath(1)\ndo AddBoxToPath(1, 0, 0, 10, 6)\ndo SetFillStyle(0, 2)\n"
                      "do CreateBrush(1, 20, 20, 0)\ndo CreateBrush(2, 20, 20, 0)\n"
                      "do SelectBrush(1)\n" +
                      draw +
                      "do EndSelect()\ndo SetFormStyle(32, 0x000080, 3, 3)\n"
                      "do SetFormStyle(64, 0x00FF00, 2)\ndo SelectBrush(2)\n" +
                      draw +
                      "do EndSelect()\ndo SaveBrush(1, \"plain.png\", -1, 1)\n"
                      "do SaveBrush(2, \"forms.png\", -1, 1)\n"),
            "");
  WriteFile("compare.py",
            "import sys\nfrom PIL import Image\na = Image.open(sys.argv[1]).convert('RGB')\n"
            "b = Image.open(sys.argv[2]).convert('RGB')\n"
            "print(sum(a.getpixel((x, y)) != b.getpixel((x, y)) for y in range(20) for x in "
            "range(20)), a.getpixel((3, 3)), a.getpixel((6, 6)))\n");
  EXPECT_EQ(Shell("/usr/bin/python3 " + Path("compare.py") + " " + Path("plain.png") + " " +
                  Path("forms.png")),
            "0 (255, 0, 0) (0, 0, 0)\n");
}

}  // namespace
}  // namespace qv
