// The pixel comparer of the applet tests, run as a separate process on pictures written here
// through libpng: agreement, the report of differing pixels (position, both colours, the count,
// at most ten listed), the tolerance at its edge, sizes that differ and files that are no PNG.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/fixtures/run_command.h"
#include "tests/fixtures/temp_dir.h"

namespace {

// A picture of 0xAARRGGBB pixels, rows top down.
struct Picture {
  uint32_t width;
  uint32_t height;
  std::vector<uint32_t> pixels;
};

Picture Filled(uint32_t width, uint32_t height, uint32_t colour) {
  return {width, height, std::vector<uint32_t>(size_t(width) * height, colour)};
}

void Save(const Picture& picture, const std::string& path) {
  std::vector<uint8_t> bytes;
  for (uint32_t p : picture.pixels) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(uint8_t(p >> shift));
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = picture.width;
  image.height = picture.height;
  image.format = PNG_FORMAT_ARGB;
  ASSERT_NE(png_image_write_to_file(&image, path.c_str(), 0, bytes.data(), 0, nullptr), 0)
      << image.message;
}

class PngCompare : public ::testing::Test {
 protected:
  // Compares a.png (expected) with b.png; the report, the exit status in status_.
  std::string Compare(const Picture& expected, const Picture& actual,
                      const std::string& tolerance = "") {
    Save(expected, dir_.Path("a.png"));
    Save(actual, dir_.Path("b.png"));
    return Run(dir_.Path("a.png") + " " + dir_.Path("b.png") + " " + tolerance);
  }
  std::string Run(const std::string& args) {
    return qvtest::RunCommand(std::string(QV_PNGCOMPARE) + " " + args + " 2>&1", &status_);
  }

  qvtest::TempDir dir_;
  int status_ = -1;
};

TEST_F(PngCompare, EqualPicturesPassSilently) {
  Picture p = Filled(7, 5, 0xFF203040);
  p.pixels[9] = 0x00000000;
  EXPECT_EQ(Compare(p, p), "");
  EXPECT_EQ(status_, 0);
}

TEST_F(PngCompare, OnePlantedPixelIsNamedByPositionAndColours) {
  Picture expected = Filled(7, 5, 0xFF203040);
  Picture actual = expected;
  actual.pixels[3 * 7 + 5] = 0xFF203041;  // (5, 3), one step of blue
  EXPECT_EQ(Compare(expected, actual), dir_.Path("b.png") +
                                           ": 1 of 35 pixels differ (tolerance 0); the first:\n"
                                           "  (5, 3) expected 0xFF203040 actual 0xFF203041\n");
  EXPECT_EQ(status_, 1);
  // Alpha alone counts as well.
  actual = expected;
  actual.pixels[0] = 0x80203040;
  EXPECT_NE(Compare(expected, actual).find("(0, 0) expected 0xFF203040 actual 0x80203040"),
            std::string::npos);
  EXPECT_EQ(status_, 1);
}

TEST_F(PngCompare, EveryDifferingPixelIsCountedAndTheFirstTenListedInReadingOrder) {
  Picture expected = Filled(4, 4, 0xFF000000);
  Picture actual = Filled(4, 4, 0xFFFFFFFF);
  std::string report = Compare(expected, actual);
  EXPECT_EQ(status_, 1);
  EXPECT_NE(report.find(": 16 of 16 pixels differ"), std::string::npos) << report;
  EXPECT_NE(report.find("  (1, 2) expected"), std::string::npos) << report;  // the tenth
  EXPECT_EQ(report.find("  (2, 2) expected"), std::string::npos) << report;  // the eleventh
}

// The tolerance bounds the largest difference in any one channel, not their sum.
TEST_F(PngCompare, ToleranceAllowsUpToItsDifferenceInEachChannel) {
  Picture expected = Filled(3, 2, 0xFF808080);
  Picture actual = Filled(3, 2, 0xFF838383);  // 3 in red, green and blue
  struct Case {
    const char* tolerance;
    int status;
  } cases[] = {{"3", 0}, {"2", 1}, {"255", 0}, {"0", 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tolerance);
    Compare(expected, actual, c.tolerance);
    EXPECT_EQ(status_, c.status);
  }
  EXPECT_NE(Compare(expected, actual, "2").find("(tolerance 2)"), std::string::npos);
}

TEST_F(PngCompare, DifferentSizesAreReportedNotCompared) {
  EXPECT_EQ(Compare(Filled(4, 3, 0xFF000000), Filled(3, 4, 0xFF000000)),
            dir_.Path("b.png") + " is 3x4, expected 4x3\n");
  EXPECT_EQ(status_, 1);
}

TEST_F(PngCompare, FilesThatAreNoPngAndBadArgumentsAreErrorsNotDifferences) {
  Save(Filled(2, 2, 0xFF000000), dir_.Path("a.png"));
  dir_.Write("text.png", "not a picture");
  std::string a = dir_.Path("a.png");
  for (const std::string& args :
       {a + " " + dir_.Path("missing.png"), a + " " + dir_.Path("text.png"), a, a + " " + a + " -1",
        a + " " + a + " 256", a + " " + a + " 1x"}) {
    SCOPED_TRACE(args);
    std::string out = Run(args);
    EXPECT_EQ(status_, 2) << out;
    EXPECT_FALSE(out.empty());
  }
}

}  // namespace
