// pngcompare: compares two PNG pictures pixel by pixel, as the applet tests compare the pictures a
// script saved with the ones they expect. It reads through libpng, not the player's own reader, so
// that a fault of that reader cannot hide in the comparison.
//
//   pngcompare EXPECTED.png ACTUAL.png [TOLERANCE]
//
// TOLERANCE (default 0) is the largest difference allowed in any one channel (alpha, red, green,
// blue) of a pixel. Exit status 0 when every pixel agrees within it; 1 when the sizes or pixels
// differ, with a report on standard output: the count of differing pixels and the first of them
// in reading order, each with its position and both colours as 0xAARRGGBB; 2 when a file cannot
// be read or the arguments are wrong.
#include <png.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kShown = 10;  // differing pixels listed by position

struct Picture {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> argb;  // A, R, G, B bytes a pixel, rows top down
};

// The picture as 8-bit ARGB; false with the reason in *error.
bool Read(const char* path, Picture* picture, std::string* error) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&image, path) == 0) {
    *error = image.message;
    return false;
  }
  image.format = PNG_FORMAT_ARGB;
  picture->width = image.width;
  picture->height = image.height;
  picture->argb.resize(PNG_IMAGE_SIZE(image));
  if (png_image_finish_read(&image, nullptr, picture->argb.data(), 0, nullptr) == 0) {
    *error = image.message;
    png_image_free(&image);
    return false;
  }
  return true;
}

uint32_t Pixel(const Picture& p, size_t index) {
  const uint8_t* b = &p.argb[index * 4];
  return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
}

int ChannelDifference(uint32_t a, uint32_t b) {
  int most = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    most = std::max(most, std::abs(int(a >> shift & 0xFF) - int(b >> shift & 0xFF)));
  }
  return most;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: pngcompare EXPECTED.png ACTUAL.png [TOLERANCE]\n");
    return 2;
  }
  int tolerance = 0;
  if (argc == 4) {
    char* end = nullptr;
    long value = std::strtol(argv[3], &end, 10);
    if (end == argv[3] || *end != '\0' || value < 0 || value > 255) {
      std::fprintf(stderr, "pngcompare: tolerance '%s' is not a number from 0 to 255\n", argv[3]);
      return 2;
    }
    tolerance = int(value);
  }
  Picture expected, actual;
  std::string error;
  if (!Read(argv[1], &expected, &error) || !Read(argv[2], &actual, &error)) {
    std::fprintf(stderr, "pngcompare: %s\n", error.c_str());
    return 2;
  }
  if (expected.width != actual.width || expected.height != actual.height) {
    std::printf("%s is %ux%u, expected %ux%u\n", argv[2], actual.width, actual.height,
                expected.width, expected.height);
    return 1;
  }
  size_t count = size_t(expected.width) * expected.height;
  size_t differing = 0;
  std::string shown;
  for (size_t i = 0; i < count; ++i) {
    uint32_t want = Pixel(expected, i), got = Pixel(actual, i);
    if (ChannelDifference(want, got) <= tolerance) continue;
    if (++differing <= kShown) {
      char line[96];
      std::snprintf(line, sizeof line, "  (%zu, %zu) expected 0x%08X actual 0x%08X\n",
                    i % expected.width, i / expected.width, want, got);
      shown += line;
    }
  }
  if (differing == 0) return 0;
  std::printf("%s: %zu of %zu pixels differ (tolerance %d); the first:\n%s", argv[2], differing,
              count, tolerance, shown.c_str());
  return 1;
}
