// Brushes from picture files, the image cache and the ARGB words that pictures are saved from.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "base/errors.h"
#include "core/errors.h"
#include "core/registry.h"
#include "display/display.h"
#include "fixtures/display_setup.h"
#include "fixtures/temp_path.h"

namespace qv {
namespace {

namespace fs = std::filesystem;

std::string Fixture(const char* name) { return (fs::path(QV_PNG_FIXTURES) / name).string(); }

class BrushPicturesTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(test::OpenDisplayForTest(), 0); }
  void TearDown() override { test::CloseDisplayForTest(); }
  int Load(int32_t number, const std::string& file, const qvBrushLoadOptions& o,
           qvBrush** out = nullptr) {
    qvObjectId id{number, nullptr};
    return LoadBrushFromFile(L, &id, false, file.c_str(), o, out);
  }
  qvBrush* Find(int32_t number) {
    qvBrush* brush = nullptr;
    FindBrush(L, {number, nullptr}, &brush, 0);
    return brush;
  }
  qvScriptState* L = nullptr;
};

// The part rectangle: inside, at the edges and outside, with its codes.
TEST_F(BrushPicturesTest, PartRectangles) {
  // pil_rgb8 is 13 x 7.
  struct Case {
    int32_t x, y, width, height;
    int code;
    int32_t wantWidth, wantHeight;
  } cases[] = {
      {0, 0, 0, 0, 0, 13, 7},
      {12, 6, 0, 0, 0, 1, 1},
      {3, 2, 4, 5, 0, 4, 5},
      {3, 2, 10, 5, 0, 10, 5},
      {3, 2, 11, 5, ERR_COORDSRANGE, 0, 0},
      {-1, 0, 0, 0, ERR_NEGCOORDS, 0, 0},
      {0, -1, 0, 0, ERR_NEGCOORDS, 0, 0},
      {13, 0, 0, 0, ERR_COORDSRANGE, 0, 0},
      {0, 7, 0, 0, ERR_COORDSRANGE, 0, 0},
      {0, 0, -2, 0, ERR_BADDIMENSIONS, 0, 0},
  };
  for (const Case& c : cases) {
    qvBrushLoadOptions o;
    o.x = c.x;
    o.y = c.y;
    o.width = c.width;
    o.height = c.height;
    qvBrush* brush = nullptr;
    std::string row = std::to_string(c.x) + "," + std::to_string(c.y) + " " +
                      std::to_string(c.width) + "x" + std::to_string(c.height);
    ASSERT_EQ(Load(1, Fixture("pil_rgb8.png"), o, &brush), c.code) << row;
    if (c.code != 0) {
      EXPECT_EQ(Find(1), nullptr) << row;
      continue;
    }
    EXPECT_EQ(brush->width, c.wantWidth) << row;
    EXPECT_EQ(brush->height, c.wantHeight) << row;
    // The brush's corner is the picture's pixel at the part's corner.
    qvBrush* whole = nullptr;
    ASSERT_EQ(Load(2, Fixture("pil_rgb8.png"), {}, &whole), 0);
    uint32_t a = 0, b = 0;
    int32_t sa = 0, sb = 0;
    ASSERT_TRUE(ReadBrushPixelAt(brush, c.wantWidth - 1, c.wantHeight - 1, &a, &sa));
    ASSERT_TRUE(ReadBrushPixelAt(whole, c.x + c.wantWidth - 1, c.y + c.wantHeight - 1, &b, &sb));
    EXPECT_EQ(a, b) << row;
    ASSERT_EQ(DeleteBrushNode(L, {1, nullptr}), 0);
  }
}

// A brush of a whole picture holds the loaded pixels as they are, whether it takes the loader's
// block (PNG and JPEG) or a copy (the other readers): colours, the alpha channel split off, and
// the mask of a colour key, pixel for pixel against the plain load of the same file.
TEST_F(BrushPicturesTest, WholePictureBrushesHoldTheLoadedPixels) {
  const std::string pictures[] = {
      Fixture("pil_rgb8.png"),
      Fixture("pil_rgba8.png"),
      Fixture("rgba8_adam7.png"),
      Fixture("pil_pal8_trns.png"),
      std::string(QV_PICTURE_FIXTURES) + "/jpeg_baseline.jpg",
      std::string(QV_PICTURE_FIXTURES) + "/jpeg_cmyk_pillow.jpg",
      std::string(QV_PICTURE_FIXTURES) + "/bmp_ppm_24.bmp",
  };
  for (const std::string& name : pictures) {
    SCOPED_TRACE(name);
    uint32_t* pixels = nullptr;
    qvPictureFacts facts;
    ASSERT_EQ(LoadPicture(name.c_str(), nullptr, &pixels, &facts), 0);
    auto pixel = [&](int32_t x, int32_t y) { return pixels[size_t(y) * facts.width + x]; };
    const uint32_t key = pixel(facts.width / 2, facts.height / 2) & 0xFFFFFF;
    qvBrushLoadOptions plain, keyed, alpha;
    keyed.transparentColour = key;
    alpha.loadAlpha = true;
    qvBrush* a = nullptr;
    qvBrush* b = nullptr;
    qvBrush* c = nullptr;
    ASSERT_EQ(Load(1, name, plain, &a), 0);
    ASSERT_EQ(Load(2, name, keyed, &b), 0);
    ASSERT_EQ(Load(3, name, alpha, &c), facts.alpha != 0 ? 0 : ERR_NOALPHA);
    ASSERT_EQ(a->width, facts.width);
    ASSERT_EQ(a->height, facts.height);
    int keyedPixels = 0;
    for (int32_t y = 0; y < facts.height; ++y) {
      for (int32_t x = 0; x < facts.width; ++x) {
        uint32_t colour = 0;
        int32_t second = 0;
        ASSERT_TRUE(ReadBrushPixelAt(a, x, y, &colour, &second));
        ASSERT_EQ(colour, pixel(x, y) & 0xFFFFFF) << x << "," << y;
        ASSERT_TRUE(ReadBrushPixelAt(b, x, y, &colour, &second));
        ASSERT_EQ(second, (pixel(x, y) & 0xFFFFFF) != key ? 1 : 0) << x << "," << y;
        keyedPixels += second == 0;
        if (c != nullptr) {
          ASSERT_TRUE(ReadBrushPixelAt(c, x, y, &colour, &second));
          ASSERT_EQ(second, int32_t(pixel(x, y) >> 24)) << x << "," << y;
        }
      }
    }
    EXPECT_GT(keyedPixels, 0);
    std::free(pixels);
    for (int32_t number : {1, 2, 3}) DeleteBrushNode(L, {number, nullptr});
  }
}

// Transparency, alpha and the global alpha: which planes the brush gets, and the refusals.
TEST_F(BrushPicturesTest, MaskAlphaAndGlobalAlpha) {
  qvBrush* brush = nullptr;
  qvBrushLoadOptions keyed;
  uint32_t key = 0;
  int32_t second = 0;
  ASSERT_EQ(Load(1, Fixture("pil_rgb8.png"), {}, &brush), 0);
  ASSERT_TRUE(ReadBrushPixelAt(brush, 4, 3, &key, &second));
  EXPECT_EQ(second, -1);
  keyed.transparentColour = key;
  ASSERT_EQ(Load(1, Fixture("pil_rgb8.png"), keyed, &brush), 0);
  ASSERT_NE(brush->mask, nullptr);
  EXPECT_EQ(brush->alpha, nullptr);
  uint32_t colour = 0;
  ASSERT_TRUE(ReadBrushPixelAt(brush, 4, 3, &colour, &second));
  EXPECT_EQ(second, 0);
  EXPECT_EQ(brush->transparentColour, static_cast<int32_t>(key));

  qvBrushLoadOptions global;
  global.globalAlpha = 128;
  ASSERT_EQ(Load(2, Fixture("pil_rgb8.png"), global, &brush), 0);
  ASSERT_NE(brush->alpha, nullptr);
  ASSERT_TRUE(ReadBrushPixelAt(brush, 12, 6, &colour, &second));
  EXPECT_EQ(second, 128);

  // A loaded alpha channel scaled by the global alpha.
  qvBrushLoadOptions both;
  both.loadAlpha = true;
  both.globalAlpha = 128;
  qvBrushLoadOptions alphaOnly;
  alphaOnly.loadAlpha = true;
  qvBrush* plain = nullptr;
  ASSERT_EQ(Load(3, Fixture("pil_rgba8.png"), alphaOnly, &plain), 0);
  ASSERT_EQ(Load(4, Fixture("pil_rgba8.png"), both, &brush), 0);
  for (int32_t x = 0; x < 13; ++x) {
    int32_t a = 0, b = 0;
    ReadBrushPixelAt(plain, x, 2, &colour, &a);
    ReadBrushPixelAt(brush, x, 2, &colour, &b);
    EXPECT_EQ(b, a * 128 / 255) << x;
  }

  qvBrushLoadOptions clash = keyed;
  clash.loadAlpha = true;
  EXPECT_EQ(Load(5, Fixture("pil_rgba8.png"), clash), ERR_MASKNALPHA);
  clash = keyed;
  clash.globalAlpha = 0;
  EXPECT_EQ(Load(5, Fixture("pil_rgba8.png"), clash), ERR_MASKNALPHA);
  global.globalAlpha = 256;
  EXPECT_EQ(Load(5, Fixture("pil_rgb8.png"), global), ERR_WRONGUSAGE);
  EXPECT_EQ(Load(5, Fixture("pil_rgb8.png"), alphaOnly), ERR_NOALPHA);
  EXPECT_EQ(Find(5), nullptr);
}

// "cache" keeps the decoded picture by name; "cachedload" takes it without reading the file,
// with its alpha channel only when it was kept ("loadalpha" or "cachealpha").
TEST_F(BrushPicturesTest, ImageCacheRoads) {
  qvBrushLoadOptions store;
  store.cacheName = "Pictures/One";
  ASSERT_EQ(Load(1, Fixture("pil_rgba8.png"), store), 0);
  qvBrushLoadOptions fromCache;
  fromCache.cachedLoadName = "PICTURES/one";  // names compare without regard to case
  qvBrush* cached = nullptr;
  ASSERT_EQ(Load(2, "no-such-file.png", fromCache, &cached), 0);
  qvBrush* original = Find(1);
  ASSERT_NE(original, nullptr);
  // The cache keeps its pixels apart from the brush that stored them: drawing on that brush
  // leaves the cached picture as it was loaded.
  uint32_t before = 0;
  int32_t beforeAlpha = 0;
  ReadBrushPixelAt(cached, 5, 5, &before, &beforeAlpha);
  WriteBrushPixelAt(original, 5, 5, ~before & 0xFFFFFF, -1);
  qvBrush* again = nullptr;
  ASSERT_EQ(Load(3, "no-such-file.png", fromCache, &again), 0);
  uint32_t after = 0;
  ReadBrushPixelAt(again, 5, 5, &after, &beforeAlpha);
  EXPECT_EQ(after, before);
  ASSERT_EQ(DeleteBrushNode(L, {3, nullptr}), 0);
  WriteBrushPixelAt(original, 5, 5, before, -1);
  for (int32_t y = 0; y < 7; ++y) {
    for (int32_t x = 0; x < 13; ++x) {
      uint32_t a = 0, b = 0;
      int32_t sa = 0, sb = 0;
      ReadBrushPixelAt(original, x, y, &a, &sa);
      ReadBrushPixelAt(cached, x, y, &b, &sb);
      ASSERT_EQ(a, b) << x << "," << y;
    }
  }
  // Kept without alpha: asking for it is a cache error; the brush under the id stays.
  fromCache.loadAlpha = true;
  EXPECT_EQ(Load(2, "", fromCache), ERR_CACHEERROR);
  EXPECT_EQ(Find(2), cached);
  fromCache.cachedLoadName = "missing";
  fromCache.loadAlpha = false;
  EXPECT_EQ(Load(3, "", fromCache), ERR_CACHEERROR);

  // Kept with alpha through "cachealpha" while the brush itself takes none.
  store.cacheName = "two";
  store.cacheAlpha = true;
  qvBrush* brush = nullptr;
  ASSERT_EQ(Load(4, Fixture("pil_rgba8.png"), store, &brush), 0);
  EXPECT_EQ(brush->alpha, nullptr);
  fromCache.cachedLoadName = "two";
  fromCache.loadAlpha = true;
  ASSERT_EQ(Load(5, "", fromCache, &brush), 0);
  ASSERT_NE(brush->alpha, nullptr);
  // The cache's alpha is a copy: a later brush from it sees the bytes as cached.
  WriteBrushPixelAt(brush, 0, 0, 0, 7);
  ASSERT_EQ(Load(6, "", fromCache, &brush), 0);
  uint32_t colour = 0;
  int32_t a = 0;
  ReadBrushPixelAt(brush, 0, 0, &colour, &a);
  EXPECT_NE(a, 7);
}

TEST_F(BrushPicturesTest, CacheHoldsReferencesUntilFreed) {
  auto* buffer = new qvPixelBuffer{1, static_cast<uint32_t*>(std::calloc(4, 4)), 2};
  qvPlane* alpha = AllocAlphaChannel(2, 2, true);
  ASSERT_EQ(AddCachedImage("a", 2, 2, 5, buffer, alpha, 6), 0);
  ASSERT_EQ(AddCachedImage("b", 2, 2, 0, buffer, nullptr, 0), 0);
  FreeMaskOrAlpha(alpha);
  EXPECT_EQ(buffer->references, 3);
  qvCachedImage out{};
  ASSERT_EQ(FindCachedImage("A", true, &out), 0);
  EXPECT_EQ(out.buffer, buffer);
  EXPECT_EQ(out.word1, 5);
  EXPECT_EQ(out.word2, 6);
  ASSERT_NE(out.alpha, nullptr);
  FreeMaskOrAlpha(out.alpha);
  EXPECT_EQ(buffer->references, 4);
  EXPECT_EQ(FindCachedImage("b", true, &out), ERR_CACHEERROR);
  FreeImageCache();
  EXPECT_EQ(buffer->references, 2);
  EXPECT_EQ(FindCachedImage("a", false, &out), ERR_CACHEERROR);
  ReleasePixelBuffer(buffer);
  ReleasePixelBuffer(buffer);
}

// The ARGB words pictures are saved from: a mask puts the colour (or alpha 0 when alpha is kept)
// where its bit is clear, an alpha channel gives the alpha bytes and ORs the colour into fully
// transparent pixels, a plain bitmap is opaque.
TEST(BuildARGBPixels, MaskAlphaAndPlain) {
  qvBitMap* bitmap = AllocBitMap(3, 1);
  WriteBitMapPixel(bitmap, 0, 0, 0x102030);
  WriteBitMapPixel(bitmap, 1, 0, 0x405060);
  WriteBitMapPixel(bitmap, 2, 0, 0x708090);
  qvPlane* mask = AllocMask(3, 1, true);
  WriteBitMapPixel(mask, 1, 0, 0);
  qvPlane* alpha = AllocAlphaChannel(3, 1, true);
  alpha->data[1] = 200;
  alpha->data[2] = 255;
  struct Case {
    const char* what;
    const qvPlane* mask;
    const qvPlane* alpha;
    uint32_t colour;
    bool keepAlpha;
    uint32_t want[3];
  } cases[] = {
      {"mask, colour", mask, nullptr, 0xFFFFFFFF, false, {0xFFFFFFFF, 0x00405060, 0xFFFFFFFF}},
      {"mask, alpha kept", mask, nullptr, 0xFFFFFFFF, true, {0x00102030, 0xFF405060, 0x00708090}},
      {"alpha", nullptr, alpha, 0x000F0F, false, {0x00102F3F, 0xC8405060, 0xFF708090}},
      {"plain", nullptr, nullptr, 0, false, {0xFF102030, 0xFF405060, 0xFF708090}},
  };
  for (const Case& c : cases) {
    uint32_t* pixels = BuildARGBPixels(bitmap, 3, 1, c.mask, c.alpha, c.colour, c.keepAlpha);
    ASSERT_NE(pixels, nullptr) << c.what;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(pixels[i], c.want[i]) << c.what << " " << i;
    std::free(pixels);
  }
  FreeBitMap(bitmap);
  FreeMaskOrAlpha(mask);
  FreeMaskOrAlpha(alpha);
}

TEST(SavePictureFile, FormatsWithoutAWriter) {
  uint32_t pixel = 0;
  qvSavePicture picture;
  picture.file = "/nonexistent-dir/never-written";
  picture.pixels = &pixel;
  picture.width = picture.height = 1;
  EXPECT_EQ(SavePictureFile(5, picture), ERR_UNKNOWNIMGOUT);
  EXPECT_EQ(SavePictureFile(-1, picture), ERR_UNKNOWNIMGOUT);
  for (int32_t format :
       {kImageFormatPng, kImageFormatBmp, kImageFormatJpeg, kImageFormatIlbm, kImageFormatGif}) {
    EXPECT_EQ(SavePictureFile(format, picture), ERR_WRITEFILE) << format;
  }
}

TEST(SavePictureFile, AFailedSaveKeepsTheOldFile) {
  // A file-size limit far below the picture stops every writer part-way; the old file must
  // survive and no temporary file may be left beside it.
  std::string dir = qvtest::TempPath("save_keep");
  std::filesystem::create_directories(dir);
  std::string target = dir + "/picture";
  std::vector<uint32_t> pixels(size_t{256} * 256);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint32_t(i * 2654435761u) | 0xFF000000u;
  qvSavePicture picture;
  picture.file = target.c_str();
  picture.pixels = pixels.data();
  picture.width = picture.height = 256;
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  for (int32_t format :
       {kImageFormatPng, kImageFormatBmp, kImageFormatJpeg, kImageFormatIlbm, kImageFormatGif}) {
    { std::ofstream(target, std::ios::binary) << "old contents"; }
    rlimit low = old;
    low.rlim_cur = 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &low), 0);
    int code = SavePictureFile(format, picture);
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(code, ERR_WRITEFILE) << format;
    std::ifstream in(target, std::ios::binary);
    std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(kept, "old contents") << format;
    size_t files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++files;
    EXPECT_EQ(files, 1u) << format;
    // Without the limit the same save replaces the file.
    EXPECT_EQ(SavePictureFile(format, picture), 0) << format;
    EXPECT_GT(std::filesystem::file_size(target), 1024u) << format;
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace qv
