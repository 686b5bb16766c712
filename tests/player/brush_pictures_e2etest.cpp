// Brushes and PNG pictures through the player program: every fixture loaded with LoadBrush gives
// its reference pixels through ReadBrushPixel; SaveBrush and SaveSnapshot write PNGs that
// pngcheck accepts and Pillow (an independent reader) reads back as the brush was; bad files are
// refused with their codes and leave no brush behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/fixtures/picture_reference.h"
#include "tests/player/player_fixture.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using testing::PlayerRun;
using testing::PlayerTest;

// Compares a PNG with reference pixels as Pillow reads it: mode "plain" (RGB, every pixel as
// the reference's colour), "alpha" (RGBA; fully transparent pixels white) or "key:K:F" (RGB; pixels
// of colour K become F). Prints "ok MODE WxH" or the first pixel that differs.
constexpr char kPillowCheck[] = R"(
import struct, sys
from PIL import Image
im = Image.open(sys.argv[1])
data = open(sys.argv[2], 'rb').read()
w, h, a = struct.unpack('<III', data[:12])
ref = struct.unpack('<%dI' % (w * h), data[12:])
mode = sys.argv[3]
if im.size != (w, h):
    print('size', im.size); sys.exit()
for y in range(h):
    for x in range(w):
        p = ref[y * w + x]
        rgb = ((p >> 16) & 255, (p >> 8) & 255, p & 255)
        if mode == 'alpha':
            want = (255, 255, 255, 0) if (p >> 24) == 0 else rgb + ((p >> 24),)
        elif mode.startswith('key:'):
            key, fill = (int(v, 0) for v in mode.split(':')[1:])
            q = fill if (p & 0xFFFFFF) == key else p
            want = ((q >> 16) & 255, (q >> 8) & 255, q & 255)
        else:
            want = rgb
        if im.getpixel((x, y)) != want:
            print('pixel', x, y, im.getpixel((x, y)), 'want', want); sys.exit()
print('ok', im.mode, '%dx%d' % im.size)
)";

class BrushPicturesE2eTest : public PlayerTest {
 protected:
  PlayerRun RunScript(const std::string& source) {
    WriteFile("b.qva", Applet(qvasm::TranslateOrFail(source, qvasm::kNumberedErrors)));
    return Run({"-QUIET", "b.qva"});
  }
  std::string PillowCheck(const std::string& png, const fs::path& reference,
                          const std::string& mode) {
    WriteFile("check.py", kPillowCheck);
    return Shell("/usr/bin/python3 " + Path("check.py") + " " + Path(png) + " " +
                 reference.string() + " " + mode);
  }
  // pngcheck's verdict: empty when it accepts the file.
  std::string PngCheck(const std::string& png) { return Shell("pngcheck -q " + Path(png)); }
};

// Every fixture twice: plain (colour, second value -1) and, for pictures with alpha, with
// "loadalpha" (the alpha byte); pictures without alpha refuse "loadalpha" with ERR_NOALPHA.
TEST_F(BrushPicturesE2eTest, EveryFixtureLoadsAsItsReferencePixels) {
  std::vector<fs::path> fixtures = qvtest::FixturePictures(QV_PNG_FIXTURES, {".png"});
  ASSERT_GE(fixtures.size(), 30u);
  std::ostringstream script;
  std::vector<qvtest::PictureReference> refs;
  for (const fs::path& png : fixtures) {
    qvtest::PictureReference ref = qvtest::ReadPictureReference(
        fs::path(png).replace_extension(".argb"));
    refs.push_back(ref);
    script << "do LoadBrush(1, \"" << png.string() << "\")\n"
           << "do LoadBrush(2, \"" << png.string() << "\", {loadalpha = 1})\n"
           << "for y = 0, " << ref.height - 1 << "\nfor x = 0, " << ref.width - 1 << "\n"
           << "ReadBrushPixel(1, x, y)\n";
    if (ref.alpha) script << "ReadBrushPixel(2, x, y)\n";
    script << "end\nend\n";
  }
  PlayerRun r = RunScript(script.str());
  ASSERT_EQ(r.status, 0) << r.err;
  std::istringstream out(r.out);
  for (size_t i = 0; i < fixtures.size(); ++i) {
    const qvtest::PictureReference& ref = refs[i];
    std::string line;
    if (!ref.alpha) {
      std::getline(out, line);
      EXPECT_EQ(line, "error " + std::to_string(1170) + " LoadBrush") << fixtures[i];
    }
    for (uint32_t n = 0; n < ref.width * ref.height; ++n) {
      uint32_t p = ref.pixels[n];
      std::string plain = "ReadBrushPixel(1, x, y) " + std::to_string(p & 0xFFFFFF) + " -1";
      std::getline(out, line);
      ASSERT_EQ(line, plain) << fixtures[i] << " pixel " << n;
      if (ref.alpha) {
        std::getline(out, line);
        ASSERT_EQ(line, "ReadBrushPixel(2, x, y) " + std::to_string(p & 0xFFFFFF) + " " +
                            std::to_string(p >> 24))
            << fixtures[i] << " pixel " << n;
      }
    }
  }
  std::string rest;
  EXPECT_FALSE(std::getline(out, rest)) << rest;
}

// A brush with alpha saves as RGBA, one with a mask as RGB with the masked-out pixels in the
// colour given (white by default), a plain one as RGB; a BMP is the default format.
TEST_F(BrushPicturesE2eTest, SavedBrushesAreReadBackByPillow) {
  fs::path rgba = fs::path(QV_PNG_FIXTURES) / "pil_rgba8.png";
  fs::path rgb = fs::path(QV_PNG_FIXTURES) / "pil_rgb8.png";
  qvtest::PictureReference ref = qvtest::ReadPictureReference(
      fs::path(rgb).replace_extension(".argb"));
  uint32_t key = ref.pixels[3] & 0xFFFFFF;
  PlayerRun r = RunScript(
      "do LoadBrush(1, \"" + rgba.string() + "\", {loadalpha = 1})\n" +
      "do SaveBrush(1, \"alpha.png\", -1, 1)\n" + "do LoadBrush(2, \"" + rgb.string() + "\", " +
      std::to_string(key) + ")\n" + "do SaveBrush(2, \"keyed.png\", 0x00FF00, 1)\n" +
      "do SaveBrush(2, \"white.png\", -1, 1)\n" + "do LoadBrush(3, \"" + rgb.string() + "\")\n" +
      "do SaveBrush(3, \"plain.png\", -1, 1, {quality = 50})\n" +
      "do SaveBrush(3, \"plain.bmp\")\n" + "do DebugPrint(\"saved\")\n");
  ASSERT_EQ(r.status, 0) << r.err << r.out;
  EXPECT_EQ(r.out, "saved\n");
  for (const char* png : {"alpha.png", "keyed.png", "white.png", "plain.png"}) {
    EXPECT_EQ(PngCheck(png), "") << png;
  }
  fs::path rgbaRef = fs::path(rgba).replace_extension(".argb");
  fs::path rgbRef = fs::path(rgb).replace_extension(".argb");
  std::string size = std::to_string(ref.width) + "x" + std::to_string(ref.height);
  EXPECT_EQ(PillowCheck("alpha.png", rgbaRef, "alpha"), "ok RGBA " + size + "\n");
  EXPECT_EQ(PillowCheck("keyed.png", rgbRef, "key:" + std::to_string(key) + ":0x00FF00"),
            "ok RGB " + size + "\n");
  EXPECT_EQ(PillowCheck("white.png", rgbRef, "key:" + std::to_string(key) + ":0xFFFFFF"),
            "ok RGB " + size + "\n");
  EXPECT_EQ(PillowCheck("plain.png", rgbRef, "plain"), "ok RGB " + size + "\n");
  EXPECT_EQ(PillowCheck("plain.bmp", rgbRef, "plain"), "ok RGB " + size + "\n");
}

// The display's picture as PNG equals the same snapshot as BMP (whose writer has its own tests);
// a GIF snapshot is written; unknown formats are refused.
TEST_F(BrushPicturesE2eTest, SnapshotsSaveAsPng) {
  PlayerRun r = RunScript(
      ".display size 37 11\n"
      ".display backfill gradient 0x102030 0xF0E0D0\n"
      "do SaveSnapshot(\"d.png\", 1, 1)\n"
      "do SaveSnapshot(\"d.bmp\", 1)\n"
      "do SaveSnapshot(\"d.gif\", 1, 3)\n"
      "do SaveSnapshot(\"d.x\", 1, 77)\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "error " + std::to_string(1486) + " SaveSnapshot\n");
  EXPECT_EQ(PngCheck("d.png"), "");
  EXPECT_EQ(
      Shell("/usr/bin/python3 -c \"import sys; from PIL import Image; "
            "a, b = Image.open(sys.argv[1]), Image.open(sys.argv[2]); "
            "print(a.mode, a.size, list(a.getdata()) == list(b.convert('RGB').getdata()))\" " +
            Path("d.png") + " " + Path("d.bmp")),
      "RGB (37, 11) True\n");
  EXPECT_EQ(Shell("/usr/bin/python3 -c \"import sys; from PIL import Image; "
                  "a = Image.open(sys.argv[1]); print(a.format, a.size)\" " +
                  Path("d.gif")),
            "GIF (37, 11)\n");
  EXPECT_FALSE(Exists("d.x"));
}

// Files that are missing, empty, foreign, cut short, corrupt or claim a huge size are refused
// with their codes; no brush is left under the id, and a brush already there stays.
TEST_F(BrushPicturesE2eTest, BadFilesAreRefusedAndLeaveNoBrush) {
  std::string good;
  {
    std::ifstream in(fs::path(QV_PNG_FIXTURES) / "pil_rgb8.png", std::ios::binary);
    good.assign(std::istreambuf_iterator<char>(in), {});
  }
  ASSERT_GT(good.size(), 100u);
  WriteFile("empty.png", "");
  WriteFile("foreign.png", "just some text, no picture at all\n");
  WriteFile("cut.png", good.substr(0, good.size() / 2));
  std::string corrupt = good;
  corrupt[good.size() - 20] ^= 0x55;  // inside the pixel data: its checksum fails
  WriteFile("corrupt.png", corrupt);
  // A well-formed header of 100000 x 100000 RGBA pixels and an empty data chunk: the size is
  // refused before anything is allocated for the pixels.
  auto chunk = [](const std::string& kind, const std::string& body) {
    std::string typed = kind + body;
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : typed) {
      crc ^= c;
      for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    crc = ~crc;
    std::string out;
    for (uint32_t v : {uint32_t(body.size()), crc}) {
      std::string word;
      for (int shift = 24; shift >= 0; shift -= 8) word += char((v >> shift) & 0xFF);
      out += word;
      if (out.size() == 4) out += typed;
    }
    return out;
  };
  const char ihdr[] = {0, 1, char(0x86), char(0xA0), 0, 1, char(0x86), char(0xA0), 8, 6, 0, 0, 0};
  std::string huge = good.substr(0, 8) + chunk("IHDR", std::string(ihdr, sizeof ihdr)) +
                     chunk("IDAT", "") + chunk("IEND", "");
  WriteFile("huge.png", huge);
  std::string script = "do CreateBrush(6, 2, 2, 0x123456)\n";
  for (const char* name :
       {"missing.png", "empty.png", "foreign.png", "cut.png", "corrupt.png", "huge.png"}) {
    script += std::string("do LoadBrush(5, \"") + name + "\")\nReadBrushPixel(5, 0, 0)\n";
    script += std::string("do LoadBrush(6, \"") + name + "\")\nReadBrushPixel(6, 0, 0)\n";
  }
  PlayerRun r = RunScript(script);
  ASSERT_EQ(r.status, 0) << r.err;
  std::string expected;
  for (int code : {1045, 1358, 1358, 1358, 1358, 1000}) {
    std::string e = "error " + std::to_string(code) + " LoadBrush\n";
    expected += e + "error " + std::to_string(1174) + " ReadBrushPixel\nReadBrushPixel(5, 0, 0)\n";
    expected += e + "ReadBrushPixel(6, 0, 0) " + std::to_string(0x123456) + " -1\n";
  }
  EXPECT_EQ(r.out, expected);
}

// Single pixels: colour without its top byte, the mask bit or alpha byte (-1 without either), the
// special positions against the brush, -1 outside, and the refusals.
TEST_F(BrushPicturesE2eTest, PixelsAreReadAndWritten) {
  PlayerRun r = RunScript(
      "do CreateBrush(1, 5, 4, 0x112233)\n"
      "do CreateBrush(2, 5, 4, 0, {mask = 1})\n"
      "do CreateBrush(3, 5, 4, 0, {alphachannel = 1})\n"
      "ReadBrushPixel(1, 4, 3)\n"
      "do WriteBrushPixel(1, -80000, -60000, 0xFFABCDEF)\n"  // RIGHT, BOTTOM
      "ReadBrushPixel(1, 4, 3)\n"
      "do WriteBrushPixel(1, -100000, -100000, 0x010203, 0)\n"  // CENTER; no planes to write
      "ReadBrushPixel(1, 2, 1)\n"
      "ReadBrushPixel(1, 5, 0)\n"
      "ReadBrushPixel(1, -1, 0)\n"
      "ReadBrushPixel(1, 0, 4)\n"
      "do WriteBrushPixel(1, 5, 0, 0xFFFFFF)\n"
      "ReadBrushPixel(2, 0, 0)\n"
      "do WriteBrushPixel(2, 0, 0, 0x0000FF, 0)\n"
      "ReadBrushPixel(2, 0, 0)\n"
      "do WriteBrushPixel(2, 0, 0, 0x0000FF, 9)\n"
      "ReadBrushPixel(2, 0, 0)\n"
      "do WriteBrushPixel(3, 1, 1, 0x00FF00, 77)\n"
      "ReadBrushPixel(3, 1, 1)\n"
      "ReadBrushPixel(3, 0, 1)\n"
      "do WriteBrushPixel(3, 1, 1, 0, 256)\n"
      "do WriteBrushPixel(3, 1, 1, 0, -1)\n"
      "do SelectBrush(3)\n"
      "do WriteBrushPixel(3, 1, 1, 0)\n"
      "ReadBrushPixel(3, 1, 1)\n"
      "do EndSelect()\n"
      "do ReadBrushPixel(9, 0, 0)\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "ReadBrushPixel(1, 4, 3) 1122867 -1\n"
            "ReadBrushPixel(1, 4, 3) 11259375 -1\n"
            "ReadBrushPixel(1, 2, 1) 66051 -1\n"
            "ReadBrushPixel(1, 5, 0) -1 -1\n"
            "ReadBrushPixel(1, -1, 0) -1 -1\n"
            "ReadBrushPixel(1, 0, 4) -1 -1\n"
            "ReadBrushPixel(2, 0, 0) 0 1\n"
            "ReadBrushPixel(2, 0, 0) 255 0\n"
            "ReadBrushPixel(2, 0, 0) 255 1\n"
            "ReadBrushPixel(3, 1, 1) 65280 77\n"
            "ReadBrushPixel(3, 0, 1) 0 255\n"
            "error 1055 WriteBrushPixel\n"
            "error 1055 WriteBrushPixel\n"
            "error 1149 WriteBrushPixel\n"
            "ReadBrushPixel(3, 1, 1) 65280 77\n"
            "error 1174 ReadBrushPixel\n");
}

}  // namespace
}  // namespace qv
