// Brushes from JPEG, BMP and IFF ILBM pictures through the player program: every fixture of
// tests/fixtures/make_picture_fixtures.py loaded with LoadBrush gives its reference pixels through
// ReadBrushPixel and its size through IsPicture; a one-plane ILBM stencil keys its clear pixels
// out; SaveBrush and SaveSnapshot write JPEG files that decode exactly as cjpeg's file of the same
// quality and ILBM files that ilbmtoppm reads back; bad files are refused with their codes.
#include <gtest/gtest.h>

#include <algorithm>
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

// Prints, for two pictures that Pillow reads (the second may be a PPM from a tool), "same" or the
// first pixel that differs.
constexpr char kCompare[] = R"(
import sys
from PIL import Image
a, b = Image.open(sys.argv[1]).convert('RGB'), Image.open(sys.argv[2]).convert('RGB')
if a.size != b.size:
    print('size', a.size, b.size); sys.exit()
for i, (p, q) in enumerate(zip(a.getdata(), b.getdata())):
    if p != q:
        print('pixel', i % a.size[0], i // a.size[0], p, q); sys.exit()
print('same', '%dx%d' % a.size)
)";

class BrushFormatsE2eTest : public PlayerTest {
 protected:
  PlayerRun RunScript(const std::string& source) {
    WriteFile("b.qva", Applet(qvasm::TranslateOrFail(source, qvasm::kNumberedErrors)));
    return Run({"-QUIET", "b.qva"});
  }
  std::string Compare(const std::string& a, const std::string& b) {
    WriteFile("compare.py", kCompare);
    return Shell("/usr/bin/python3 " + Path("compare.py") + " " + a + " " + b);
  }
};

TEST_F(BrushFormatsE2eTest, EveryFixtureLoadsAsItsReferencePixels) {
  std::vector<fs::path> fixtures = qvtest::FixturePictures(QV_PICTURE_FIXTURES,
                                                           {".jpg", ".bmp", ".ilbm"});
  ASSERT_GE(fixtures.size(), 30u);
  std::ostringstream script;
  std::vector<qvtest::PictureReference> refs;
  for (const fs::path& file : fixtures) {
    qvtest::PictureReference ref = qvtest::ReadPictureReference(
        fs::path(file).replace_extension(".argb"));
    refs.push_back(ref);
    script << "do LoadBrush(1, \"" << file.string() << "\")\n"
           << "for y = 0, " << ref.height - 1 << "\nfor x = 0, " << ref.width - 1 << "\n"
           << "ReadBrushPixel(1, x, y)\nend\nend\n";
  }
  PlayerRun r = RunScript(script.str());
  ASSERT_EQ(r.status, 0) << r.err;
  std::istringstream out(r.out);
  for (size_t i = 0; i < fixtures.size(); ++i) {
    const qvtest::PictureReference& ref = refs[i];
    std::string line;
    for (uint32_t n = 0; n < ref.width * ref.height; ++n) {
      std::getline(out, line);
      ASSERT_EQ(line, "ReadBrushPixel(1, x, y) " + std::to_string(ref.pixels[n]) + " -1")
          << fixtures[i] << " pixel " << n;
    }
  }
  std::string rest;
  EXPECT_FALSE(std::getline(out, rest)) << rest;

  // IsPicture's answer and the size of its table, in the assembler's text: the notation passes one
  // result of a call on.
  std::string sizes = ".function main\n";
  std::string expected;
  for (size_t i = 0; i < fixtures.size(); ++i) {
    sizes += "  GETGLOBAL R0, \"ispicture\"\n  LOADCONST R1, \"" + fixtures[i].string() +
             "\"\n  CALL R0, nargs=1, nres=2\n  GETGLOBAL R2, \"debugprint\"\n"
             "  MOVE R3, R0\n  GETTABLE R4, R1, \"width\"\n  GETTABLE R5, R1, \"height\"\n"
             "  CALL R2, nargs=3, nres=0\n";
    expected += "1 " + std::to_string(refs[i].width) + " " + std::to_string(refs[i].height) + "\n";
  }
  sizes += "  RETURN R0, n=0\n.end\n";
  WriteFile("sizes.qva", Applet(sizes));
  PlayerRun s = Run({"-QUIET", "sizes.qva"});
  ASSERT_EQ(s.status, 0) << s.err;
  EXPECT_EQ(s.out, expected);
}

// A one-plane ILBM with a pen argument: set pixels take the pen's colour, clear pixels the
// palette's entry 0, which the brush keys out; a colour the script gives wins over the reader's.
TEST_F(BrushFormatsE2eTest, IlbmStencilKeysItsClearPixels) {
  fs::path stencil = fs::path(QV_PICTURE_FIXTURES) / "ilbm_gen_stencil.ilbm";
  qvtest::PictureReference ref = qvtest::ReadPictureReference(
      fs::path(stencil).replace_extension(".argb"));
  ASSERT_EQ(ref.width, 4u);
  uint32_t clear = ref.pixels[0];  // the fixture's first row: clear, set, set, clear
  PlayerRun r = RunScript("do LoadBrush(1, \"" + stencil.string() + "\", -1, 0xFF0000)\n" +
                          "for x = 0, 3\nReadBrushPixel(1, x, 0)\nend\n" + "do LoadBrush(2, \"" +
                          stencil.string() + "\", " + std::to_string(ref.pixels[1]) +
                          ", 0xFF0000)\n" + "for x = 0, 3\nReadBrushPixel(2, x, 0)\nend\n");
  ASSERT_EQ(r.status, 0) << r.err;
  std::string c = std::to_string(clear), red = std::to_string(0xFF0000);
  EXPECT_EQ(r.out, "ReadBrushPixel(1, x, 0) " + c + " 0\nReadBrushPixel(1, x, 0) " + red +
                       " 1\nReadBrushPixel(1, x, 0) " + red + " 1\nReadBrushPixel(1, x, 0) " + c +
                       " 0\n"
                       // Keyed on the script's colour, which no pixel has after the pen: all
                       // visible.
                       "ReadBrushPixel(2, x, 0) " +
                       c + " 1\nReadBrushPixel(2, x, 0) " + red + " 1\nReadBrushPixel(2, x, 0) " +
                       red + " 1\nReadBrushPixel(2, x, 0) " + c + " 1\n");
}

// SaveBrush and SaveSnapshot in JPEG at a quality decode exactly as cjpeg's file of the same
// pixels and quality; in ILBM, ilbmtoppm reads back the brush's pixels.
TEST_F(BrushFormatsE2eTest, SavedJpegAndIlbmAreReadByTheTools) {
  fs::path source = fs::path(QV_PICTURE_FIXTURES) / "bmp_ppm_24.bmp";
  PlayerRun r = RunScript(
      ".display size 37 11\n"
      ".display backfill gradient 0x102030 0xF0E0D0\n"
      "do LoadBrush(1, \"" +
      source.string() +
      "\")\n"
      "do SaveBrush(1, \"q80.jpg\", -1, 2, {quality = 80})\n"
      "do SaveBrush(1, \"q90.jpg\", -1, 2)\n"
      "do SaveBrush(1, \"b.ilbm\", -1, 4)\n"
      "do SaveSnapshot(\"d.jpg\", 1, 2, 75)\n"
      "do SaveSnapshot(\"d.ilbm\", 1, 4)\n"
      "do SaveSnapshot(\"d.bmp\", 1)\n"
      "do SaveBrush(1, \"nodir/b.jpg\", -1, 2)\n"
      "do SaveBrush(1, \"nodir/b.ilbm\", -1, 4)\n"
      "do DebugPrint(\"saved\")\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "error 1052 SaveBrush\nerror 1052 SaveBrush\nsaved\n");
  // The tools' files of the same pixels.
  std::string bmp = source.string();
  EXPECT_EQ(Shell("bmptopnm -quiet " + bmp + " > " + Path("src.ppm")), "");
  EXPECT_EQ(Shell("bmptopnm -quiet " + Path("d.bmp") + " > " + Path("d.ppm")), "");
  for (const char* q : {"80", "90"}) {
    std::string ref = Path(std::string("cjpeg") + q + ".jpg");
    EXPECT_EQ(Shell(std::string("cjpeg -quality ") + q + " " + Path("src.ppm") + " > " + ref), "");
    EXPECT_EQ(Compare(Path(std::string("q") + q + ".jpg"), ref), "same 37x23\n") << q;
  }
  EXPECT_EQ(Shell("cjpeg -quality 75 " + Path("d.ppm") + " > " + Path("d_ref.jpg")), "");
  EXPECT_EQ(Compare(Path("d.jpg"), Path("d_ref.jpg")), "same 37x11\n");
  EXPECT_EQ(Shell("ilbmtoppm -quiet " + Path("b.ilbm") + " > " + Path("b.ppm")), "");
  EXPECT_EQ(Compare(Path("b.ppm"), Path("src.ppm")), "same 37x23\n");
  EXPECT_EQ(Shell("ilbmtoppm -quiet " + Path("d.ilbm") + " > " + Path("dl.ppm")), "");
  EXPECT_EQ(Compare(Path("dl.ppm"), Path("d.ppm")), "same 37x11\n");
}

// Cut, foreign and damaged files of each format are refused with their codes and leave no brush;
// with ExitOnError on, the run ends with status 1 and a report naming the file.
TEST_F(BrushFormatsE2eTest, BadFilesAreRefused) {
  auto read = [](const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  std::string jpeg = read(fs::path(QV_PICTURE_FIXTURES) / "jpeg_baseline.jpg");
  std::string ilbm = read(fs::path(QV_PICTURE_FIXTURES) / "ilbm_byterun.ilbm");
  std::string bmp = read(fs::path(QV_PICTURE_FIXTURES) / "bmp_ppm_8.bmp");
  WriteFile("header.jpg", jpeg.substr(0, 100));
  WriteFile("soi.jpg", "\xFF\xD8\xFF");
  WriteFile("nobody.ilbm", ilbm.substr(0, ilbm.find("BODY")));
  std::string planes = ilbm;
  planes[28] = 12;  // 12 planes: no reader for them
  WriteFile("planes.ilbm", planes);
  std::string huge = ilbm;
  huge[20] = huge[21] = huge[22] = huge[23] = char(0xFF);  // 65535 x 65535
  WriteFile("huge.ilbm", huge);
  std::string bits = bmp;
  bits[28] = 16;  // 16 bits a pixel: not read
  WriteFile("bits.bmp", bits);
  WriteFile("short.bmp", bmp.substr(0, 30));
  std::string script = "do CreateBrush(6, 2, 2, 0x123456)\n";
  const char* names[] = {"header.jpg", "soi.jpg",  "nobody.ilbm", "planes.ilbm",
                         "huge.ilbm",  "bits.bmp", "short.bmp"};
  for (const char* name : names) {
    script += std::string("do LoadBrush(5, \"") + name + "\")\nReadBrushPixel(5, 0, 0)\n";
    script += std::string("do LoadBrush(6, \"") + name + "\")\nReadBrushPixel(6, 0, 0)\n";
  }
  PlayerRun r = RunScript(script);
  ASSERT_EQ(r.status, 0) << r.err;
  std::string expected;
  for (int code : {1358, 1358, 1358, 1358, 1000, 1358, 1358}) {
    std::string e = "error " + std::to_string(code) + " LoadBrush\n";
    expected += e + "error 1174 ReadBrushPixel\nReadBrushPixel(5, 0, 0)\n";
    expected += e + "ReadBrushPixel(6, 0, 0) " + std::to_string(0x123456) + " -1\n";
  }
  EXPECT_EQ(r.out, expected);

  // Without the script's error handler the default ExitOnError ends the run.
  WriteFile("exit.qva", Applet(".function main\n"
                               "  GETGLOBAL R0, \"loadbrush\"\n"
                               "  LOADCONST R1, 1\n"
                               "  LOADCONST R2, \"soi.jpg\"\n"
                               "  CALL R0, nargs=2, nres=0\n"
                               "  RETURN R0, n=0\n"
                               ".end\n"));
  PlayerRun exitRun = Run({"-QUIET", "exit.qva"});
  EXPECT_EQ(exitRun.status, 1);
  EXPECT_NE(exitRun.err.find("soi.jpg"), std::string::npos) << exitRun.err;
}

}  // namespace
}  // namespace qv
