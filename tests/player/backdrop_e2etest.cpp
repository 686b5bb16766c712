// The backdrop display through the player program on SDL's dummy video driver: SNAPDESKTOP of an
// applet whose backfill is a texture or a placed picture, in its window at start-up, in full
// screen after ChangeDisplayMode and back in a window. The pictures it is compared with are made
// by Pillow (an independent writer and reader) at test time, pixel for pixel.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/player/player_fixture.h"

namespace qv {
namespace {

using testing::PlayerRun;
using testing::PlayerTest;

// Pillow's side: "fixtures" writes the brush pictures the applets load; "check SNAP LAYOUT..."
// builds the screen that the snapshot should show and prints "ok WxH" or the first pixel that
// differs. A layout is "ground,ARGS" then "place,PICTURE,X,Y[,KEY]" and "box,X,Y,W,H,COLOUR"
// items, drawn in order; a ground is "tile,PICTURE", "colour,C" or "gradient,START,END" (the
// stop-less linear gradient at angle 0, which the bgpic tests' model gives per row). A box or a
// picture at "centre" is centred on the screen.
constexpr char kPictures[] = R"(
import sys
sys.path.insert(0, sys.argv[1])
from PIL import Image, ImageChops
import bgpic_pictures as model

def rgb(c):
    return ((c >> 16) & 255, (c >> 8) & 255, c & 255)

if sys.argv[2] == 'fixtures':
    # A 3 x 2 tile of six colours, and a 100 x 80 picture of stripes with a keyed cross.
    tile = Image.new('RGB', (3, 2))
    for y in range(2):
        for x in range(3):
            tile.putpixel((x, y), (10 + 80 * x, 20 + 100 * y, 200 - 50 * x))
    tile.save('tile.png')
    pic = Image.new('RGB', (100, 80))
    for y in range(80):
        for x in range(100):
            keyed = x in (30, 31) or y == 40
            pic.putpixel((x, y), (255, 0, 255) if keyed else (x * 2, y * 3, (x + y) & 255))
    pic.save('pic.png')
    sys.exit()

snap = Image.open(sys.argv[3]).convert('RGB')
W, H = snap.size
want = Image.new('RGB', (W, H))
for item in sys.argv[4:]:
    kind, *args = item.split(',')
    if kind == 'tile':
        tile = Image.open(args[0]).convert('RGB')
        for y in range(0, H, tile.height):
            for x in range(0, W, tile.width):
                want.paste(tile, (x, y))
    elif kind == 'colour':
        want.paste(rgb(int(args[0], 0)), (0, 0, W, H))
    elif kind == 'gradient':
        # Angle 0 depends on the row alone: the model's one column, stretched across.
        column = model.gradient(1, H, int(args[0], 0), int(args[1], 0), 0)
        want = column.resize((W, H), Image.NEAREST)
    elif kind == 'place':
        pic = Image.open(args[0]).convert('RGB')
        x = (W - pic.width) // 2 if args[1] == 'centre' else int(args[1])
        y = (H - pic.height) // 2 if args[2] == 'centre' else int(args[2])
        mask = None
        if len(args) > 3:
            key = rgb(int(args[3], 0))
            mask = Image.new('1', pic.size)
            mask.putdata([0 if p == key else 1 for p in pic.getdata()])
        want.paste(pic, (x, y), mask)
    elif kind == 'box':
        w, h = int(args[2]), int(args[3])
        x = (W - w) // 2 if args[0] == 'centre' else int(args[0])
        y = (H - h) // 2 if args[1] == 'centre' else int(args[1])
        want.paste(rgb(int(args[4], 0)), (x, y, x + w, y + h))
box = ImageChops.difference(snap, want).getbbox()
if box is None:
    print('ok %dx%d' % (W, H))
else:
    for y in range(box[1], box[3]):
        for x in range(box[0], box[2]):
            if snap.getpixel((x, y)) != want.getpixel((x, y)):
                print('pixel', x, y, snap.getpixel((x, y)), 'want', want.getpixel((x, y)))
                sys.exit()
)";

class BackdropE2eTest : public PlayerTest {
 protected:
  void SetUp() override {
    PlayerTest::SetUp();
    env_.push_back("SDL_VIDEODRIVER=dummy");
    WriteFile("pictures.py", kPictures);
    EXPECT_EQ(Pictures("fixtures"), "");
  }
  std::string Pictures(const std::string& args) {
    return Shell("cd " + dir_ + " && /usr/bin/python3 pictures.py " + QV_BGPIC_MODEL_DIR + " " +
                 args);
  }
  // Runs the script with the player's options; its debug output.
  std::string RunScript(const std::string& script, const std::vector<std::string>& options = {}) {
    WriteFile("main.qva", Applet(qvasm::TranslateOrFail(script)));
    std::vector<std::string> args = {"main.qva", "-QUIET", "-DEBUGDEVICE",
                                     "::file" + Path("debug.txt")};
    args.insert(args.end(), options.begin(), options.end());
    PlayerRun r = Run(args);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    return ReadFile("debug.txt");
  }
};

// Saves the desktop's snapshot as NAME.png.
std::string Snap(const std::string& name) {
  return "do SaveSnapshot(\"" + name +
         ".png\", GetConstant(\"#SNAPDESKTOP\"), GetConstant(\"#IMGFMT_PNG\"))\n";
}

constexpr char kFullScreen[] =
    "do ChangeDisplayMode(GetConstant(\"#DISPMODE_FULLSCREEN\"), 64, 48)\n";
constexpr char kWindowed[] = "do ChangeDisplayMode(GetConstant(\"#DISPMODE_WINDOWED\"))\n";

// The texture tiles the whole screen from its corner behind the display: at start-up around the
// window where the applet puts it, in full screen around the centred display, and again back in
// a window, where the display returns to its place (the applet's own backfill keeps its backdrop
// there).
TEST_F(BackdropE2eTest, ATextureBackfillTilesTheScreenBehindTheDisplay) {
  std::string script = std::string(
                           ".display size 64 48\n"
                           ".display pos 100 50\n"
                           ".display borderless 1\n"
                           ".display color 0x336699\n"
                           ".display backfill brush 7\n"
                           ".declare brush 7 \"tile.png\"\n") +
                       Snap("start") + kFullScreen + Snap("full") + kWindowed + Snap("back") +
                       "do DebugPrint(\"done\")\n";
  EXPECT_EQ(RunScript(script), "done\n");
  EXPECT_EQ(Pictures("check start.png tile,tile.png box,100,50,64,48,0x336699"), "ok 1024x768\n");
  EXPECT_EQ(Pictures("check full.png tile,tile.png box,centre,centre,64,48,0x336699"),
            "ok 1024x768\n");
  EXPECT_EQ(Pictures("check back.png tile,tile.png box,100,50,64,48,0x336699"), "ok 1024x768\n");
}

// A picture backfill lies on its gradient at the applet's position, cut at the screen's edges;
// from the command line (BRUSHFILE with PICTRANS) it is loaded with its key colour, which shows
// the ground through it, and its rim shows around the display in front of it.
TEST_F(BackdropE2eTest, APictureBackfillLiesWhereItIsPlacedOnItsGround) {
  std::string script = std::string(
                           ".display size 64 48\n"
                           ".display color 0x336699\n"
                           ".display backfill picture 8 960 -30 0x102030 0xF0E0D0\n"
                           ".declare brush 8 \"pic.png\"\n") +
                       kFullScreen + Snap("full") + "do DebugPrint(\"done\")\n";
  EXPECT_EQ(RunScript(script), "done\n");
  EXPECT_EQ(Pictures("check full.png gradient,0x102030,0xF0E0D0 place,pic.png,960,-30 "
                     "box,centre,centre,64,48,0x336699"),
            "ok 1024x768\n");

  EXPECT_EQ(RunScript(".display size 64 48\n.display color 0x336699\n" + std::string(kFullScreen) +
                          Snap("keyed") + "do DebugPrint(\"done\")\n",
                      {"-BACKFILL", "PICTURE", "-BRUSHFILE", "pic.png", "-PICTRANS", "$FF00FF",
                       "-PICXPOS", "470", "-PICYPOS", "350", "-STARTCOLOR", "$405060", "-ENDCOLOR",
                       "$0A0B0C"}),
            "done\n");
  EXPECT_EQ(Pictures("check keyed.png gradient,0x405060,0x0A0B0C place,pic.png,470,350,0xFF00FF "
                     "box,centre,centre,64,48,0x336699"),
            "ok 1024x768\n");
}

}  // namespace
}  // namespace qv
