// SavePictureFile's GIF road, read back by Pillow: a picture of up to 255 histogram cells comes
// back as each cell's centre, plain or dithered, with no pixel transparent (the quantiser keeps
// the entry that the frame marks transparent free); colour counts outside 2..256 are refused.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/errors.h"
#include "display/display.h"
#include "tests/fixtures/temp_dir.h"

namespace qv {
namespace {

// The picture as Pillow reads it: RGBA bytes, empty when Pillow fails.
std::vector<uint8_t> PillowRgba(const std::string& gif, const std::string& raw) {
  std::string cmd =
      "/usr/bin/python3 -c \"import sys; from PIL import Image; "
      "open(sys.argv[2], 'wb').write(Image.open(sys.argv[1]).convert('RGBA')"
      ".tobytes())\" '" +
      gif + "' '" + raw + "'";
  if (std::system(cmd.c_str()) != 0) return {};
  std::ifstream in(raw, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

TEST(SaveGifPicture, CellCentresComeBackInPillowWithNoPixelTransparent) {
  qvtest::TempDir dir;
  // 255 distinct cells, each pixel at its cell's centre (R and B 8c + 4, G 4c + 2), white (the
  // colour a transparent entry would be mistaken for) among them.
  const int width = 17;
  const int height = 15;
  std::vector<uint32_t> pixels;
  for (int i = 0; i < width * height - 1; ++i) {
    uint32_t r = uint32_t(i % 32) * 8 + 4;
    uint32_t g = uint32_t((i * 7) % 64) * 4 + 2;
    uint32_t b = uint32_t(i / 32) * 8 + 4;
    pixels.push_back(0xFF000000u | r << 16 | g << 8 | b);
  }
  pixels.push_back(0xFFFCFEFC);  // the white cell
  for (int dither : {0, 1}) {
    SCOPED_TRACE(dither);
    std::string file = dir.Path("p.gif");
    qvSavePicture picture;
    picture.file = file.c_str();
    picture.pixels = pixels.data();
    picture.width = width;
    picture.height = height;
    picture.dither = dither;
    ASSERT_EQ(SavePictureFile(kImageFormatGif, picture), 0);
    std::vector<uint8_t> rgba = PillowRgba(file, dir.Path("p.raw"));
    ASSERT_EQ(rgba.size(), pixels.size() * 4);
    for (size_t i = 0; i < pixels.size(); ++i) {
      uint32_t got = uint32_t(rgba[4 * i]) << 16 | uint32_t(rgba[4 * i + 1]) << 8 | rgba[4 * i + 2];
      ASSERT_EQ(got, pixels[i] & 0xFFFFFF) << i;
      ASSERT_EQ(rgba[4 * i + 3], 255) << i;
    }
  }
}

TEST(SaveGifPicture, ColourCountsOutsideTwoTo256AreRefused) {
  qvtest::TempDir dir;
  std::string file = dir.Path("r.gif");
  std::vector<uint32_t> pixels(6, 0xFF102030);
  qvSavePicture picture;
  picture.file = file.c_str();
  picture.pixels = pixels.data();
  picture.width = 3;
  picture.height = 2;
  for (int32_t colours : {-1, 0, 1, 257, 1000}) {
    picture.colours = colours;
    EXPECT_EQ(SavePictureFile(kImageFormatGif, picture), ERR_WRONGUSAGE) << colours;
    EXPECT_FALSE(std::filesystem::exists(file)) << colours;
  }
  for (int32_t colours : {2, 256}) {
    picture.colours = colours;
    EXPECT_EQ(SavePictureFile(kImageFormatGif, picture), 0) << colours;
    std::vector<uint8_t> rgba = PillowRgba(file, dir.Path("r.raw"));
    ASSERT_EQ(rgba.size(), 24u);
    // Each channel comes back as its cell's centre: R 0x10 in cell 2 (20), G 0x20 in cell 8
    // (34), B 0x30 in cell 6 (52).
    EXPECT_EQ(rgba[0], 20);
    EXPECT_EQ(rgba[1], 34);
    EXPECT_EQ(rgba[2], 52);
    EXPECT_EQ(rgba[3], 255);
  }
}

}  // namespace
}  // namespace qv
