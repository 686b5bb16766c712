// The multi-frame builder and loader: grid cutting from brushes and BGPics (sizes, counts, rows,
// offsets, each refusal, grids too large for 32 bits), anim files through the anim-source
// interface (GIFs made here by netpbm and gifsicle: frame pixels, the file's own transparency,
// delays, the script's transparent colour), the loader's options and the source's refusals.
#include "media/anim_build.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/errors.h"
#include "core/registry.h"
#include "display/bgpics.h"
#include "display/brushes.h"
#include "display/picture_files.h"
#include "display/sprites.h"
#include "media/anim_source.h"
#include "tests/fixtures/display_setup.h"
#include "tests/fixtures/run_command.h"
#include "tests/fixtures/temp_dir.h"

using namespace qv;

namespace {

constexpr int32_t kBrushWidth = 10;
constexpr int32_t kBrushHeight = 6;

// Every pixel of the test brush tells its place; the mask is clear on the odd columns of row 0.
uint32_t Colour(int32_t x, int32_t y) { return 0x100000u * uint32_t(y + 1) + uint32_t(x + 1); }
bool Visible(int32_t x, int32_t y) { return !(y == 0 && x % 2 == 1); }

class AnimBuildTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(test::OpenDisplayForTest(), 0); }
  void TearDown() override {
    FreeAnimFrames(&frames_);
    FreeImageCache();
    test::CloseDisplayForTest();
  }

  // Brush 1: kBrushWidth x kBrushHeight with its mask.
  void MakeBrush() {
    qvObjectId id{1, nullptr};
    qvBrush* brush = nullptr;
    ASSERT_EQ(
        AllocBrush(&id, false, kBrushWidth, kBrushHeight, 0, true, false, true, false, &brush), 0);
    for (int32_t y = 0; y < kBrushHeight; ++y) {
      for (int32_t x = 0; x < kBrushWidth; ++x) {
        WriteBitMapPixel(brush->bitmap, x, y, Colour(x, y));
        WriteBitMapPixel(brush->mask, x, y, Visible(x, y) ? 0 : 1);
      }
    }
  }

  int Build(const qvAnimGrid& grid, bool cutGrid = true) {
    qvAnimBuildRequest request;
    request.sourceKind = kAnimSourceBrush;
    request.sourceId = {1, nullptr};
    request.cutGrid = cutGrid;
    request.grid = grid;
    FreeAnimFrames(&frames_);
    return BuildAnimObject(nullptr, request, &frames_);
  }

  qvAnimFrames frames_;
};

struct GridCase {
  qvAnimGrid grid;
  int code;
  std::vector<std::pair<int32_t, int32_t>> corners;  // each frame's top left in the brush
};

TEST_F(AnimBuildTest, GridCutsFramesRowByRowOrRefuses) {
  MakeBrush();
  constexpr int32_t kHuge = 0x40000000;
  const GridCase cases[] = {
      // Rows of three from (1, 0): the grid reaches the right edge but one and the bottom edge.
      {{2, 3, 5, 3, 1, 0}, 0, {{1, 0}, {3, 0}, {5, 0}, {1, 3}, {3, 3}}},
      // Frames per row 0 or less: all in one row, exactly as wide as the brush from x.
      {{2, 2, 4, 0, 2, 4}, 0, {{2, 4}, {4, 4}, {6, 4}, {8, 4}}},
      {{2, 2, 4, -1, 2, 4}, 0, {{2, 4}, {4, 4}, {6, 4}, {8, 4}}},
      // One frame per row: a column.
      {{3, 2, 3, 1, 7, 0}, 0, {{7, 0}, {7, 2}, {7, 4}}},
      // The whole brush as one frame of a grid.
      {{10, 6, 1, 1, 0, 0}, 0, {{0, 0}}},
      // One column too many, one row too many, a wider row than the frames it holds.
      {{2, 3, 5, 5, 1, 0}, ERR_BRUSHSIZE, {}},
      {{2, 3, 4, 2, 0, 1}, ERR_BRUSHSIZE, {}},
      {{2, 2, 2, 6, 0, 0}, ERR_BRUSHSIZE, {}},
      // Count, width and height must be positive, and come before the corner's check.
      {{2, 2, 0, 1, 0, 0}, ERR_WRONGUSAGE, {}},
      {{0, 2, 1, 1, 0, 0}, ERR_WRONGUSAGE, {}},
      {{2, -1, 1, 1, 0, 0}, ERR_WRONGUSAGE, {}},
      {{2, 2, -3, 1, -1, 0}, ERR_WRONGUSAGE, {}},
      {{2, 2, 1, 1, -1, 0}, ERR_NEGCOORDS, {}},
      {{2, 2, 1, 1, 0, -1}, ERR_NEGCOORDS, {}},
      // Grids whose size wraps around in 32 bits to one that seems to fit.
      {{kHuge, 1, 4, 4, 0, 0}, ERR_BRUSHSIZE, {}},
      {{1, kHuge, 4, 1, 0, 0}, ERR_BRUSHSIZE, {}},
      {{2, 1, INT32_MAX, 0, 0, 0}, ERR_BRUSHSIZE, {}},
      {{1, 2, INT32_MAX, 1, 0, 0}, ERR_BRUSHSIZE, {}},
  };
  for (const GridCase& c : cases) {
    const qvAnimGrid& g = c.grid;
    SCOPED_TRACE(testing::Message()
                 << g.frameWidth << "x" << g.frameHeight << " count " << g.frameCount << " per row "
                 << g.framesPerRow << " at " << g.x << "," << g.y);
    ASSERT_EQ(Build(g), c.code);
    if (c.code != 0) {
      EXPECT_EQ(frames_.count, 0);
      EXPECT_EQ(frames_.bitmaps, nullptr);
      continue;
    }
    ASSERT_EQ(frames_.count, static_cast<int32_t>(c.corners.size()));
    EXPECT_EQ(frames_.width, g.frameWidth);
    EXPECT_EQ(frames_.height, g.frameHeight);
    for (int32_t i = 0; i < frames_.count; ++i) {
      auto [left, top] = c.corners[i];
      ASSERT_NE(frames_.bitmaps[i], nullptr);
      ASSERT_NE(frames_.masks[i], nullptr);
      EXPECT_EQ(frames_.alphas[i], nullptr);
      for (int32_t y = 0; y < g.frameHeight; ++y) {
        for (int32_t x = 0; x < g.frameWidth; ++x) {
          ASSERT_EQ(ReadBitMapPixel(frames_.bitmaps[i], x, y), Colour(left + x, top + y))
              << "frame " << i << " at " << x << "," << y;
          ASSERT_EQ(ReadBitMapPixel(frames_.masks[i], x, y) != 0, Visible(left + x, top + y))
              << "frame " << i << " at " << x << "," << y;
        }
      }
    }
  }
}

TEST_F(AnimBuildTest, WithoutAGridTheWholeSourceIsOneFrame) {
  MakeBrush();
  ASSERT_EQ(Build({}, false), 0);
  ASSERT_EQ(frames_.count, 1);
  EXPECT_EQ(frames_.width, kBrushWidth);
  EXPECT_EQ(frames_.height, kBrushHeight);
  EXPECT_EQ(ReadBitMapPixel(frames_.bitmaps[0], 9, 5), Colour(9, 5));
  EXPECT_EQ(ReadBitMapPixel(frames_.masks[0], 1, 0), 0u);

  // A BGPic's picture is cut alike: two frames of a 6 x 4 fill.
  qvObjectId bgpicId{2, nullptr};
  ASSERT_EQ(CreateColorBGPic(&bgpicId, false, 6, 4, 0x123456, nullptr), 0);
  qvAnimBuildRequest request;
  request.sourceKind = kAnimSourceBGPic;
  request.sourceId = bgpicId;
  request.cutGrid = true;
  request.grid = {3, 4, 2, 0, 0, 0};
  FreeAnimFrames(&frames_);
  ASSERT_EQ(BuildAnimObject(nullptr, request, &frames_), 0);
  ASSERT_EQ(frames_.count, 2);
  EXPECT_EQ(ReadBitMapPixel(frames_.bitmaps[1], 2, 3), 0x123456u);
  EXPECT_EQ(frames_.masks[1], nullptr);
}

TEST_F(AnimBuildTest, MissingSourcesAnswerTheirFindersCodes) {
  struct Case {
    int32_t kind;
    int code;
  };
  const Case cases[] = {{kAnimSourceBrush, ERR_FINDBRUSH},
                        {kAnimSourceBGPic, ERR_FINDBGPIC},
                        {kAnimSourceAnim, ERR_FINDANIM}};
  for (const Case& c : cases) {
    qvAnimBuildRequest request;
    request.sourceKind = c.kind;
    request.sourceId = {77, nullptr};
    SetErrorNumber(0);
    EXPECT_EQ(BuildAnimObject(nullptr, request, &frames_), c.code) << c.kind;
    EXPECT_EQ(GetErrorNumber(), 77) << c.kind;
    int handle = 0;
    request.sourceId = {0, &handle};
    EXPECT_EQ(BuildAnimObject(nullptr, request, &frames_), ERR_FINDARRAY) << c.kind;
  }
}

// A sprite of `frames` frames of width x height (planes without content), or, with `links`,
// one that shows the frames of others.
qvSprite* AddTestSprite(int32_t number, int32_t width, int32_t height, int32_t frames,
                        std::vector<qvSprite*> links = {}) {
  qvObjectId id{number, nullptr};
  qvSprite* sprite = nullptr;
  if (!links.empty()) {
    auto** array = static_cast<qvSprite**>(std::calloc(links.size() + 1, sizeof(qvSprite*)));
    for (size_t i = 0; i < links.size(); ++i) array[i] = links[i];
    EXPECT_EQ(AddSprite(&id, false, width, height, nullptr, nullptr, nullptr, nullptr, frames, -1,
                        array, &sprite),
              0);
    return sprite;
  }
  auto** bitmaps = static_cast<qvBitMap**>(std::calloc(frames, sizeof(qvBitMap*)));
  auto** masks = static_cast<qvPlane**>(std::calloc(frames, sizeof(qvPlane*)));
  auto** alphas = static_cast<qvPlane**>(std::calloc(frames, sizeof(qvPlane*)));
  for (int32_t i = 0; i < frames; ++i) bitmaps[i] = AllocClearedBitMap(width, height);
  EXPECT_EQ(AddSprite(&id, false, width, height, nullptr, bitmaps, masks, alphas, frames, -1,
                      nullptr, &sprite),
            0);
  return sprite;
}

TEST_F(AnimBuildTest, SpritesOfOneSizeAreLinkedInOrder) {
  qvSprite* a = AddTestSprite(1, 8, 4, 2);
  qvSprite* b = AddTestSprite(2, 8, 4, 3);
  AddTestSprite(3, 4, 8, 1);
  AddTestSprite(4, 8, 4, 5, {a, b});
  struct Case {
    std::vector<int32_t> ids;
    int code;
  };
  const Case cases[] = {
      {{2, 1, 2}, 0},        {{1, 3}, ERR_WRONGSPRITESIZE}, {{1, 4}, ERR_SPRITELINK},
      {{4}, ERR_SPRITELINK}, {{1, 9}, ERR_FINDSPRITE},      {{}, ERR_WRONGUSAGE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ids.size());
    std::vector<qvObjectId> ids;
    for (int32_t n : c.ids) ids.push_back({n, nullptr});
    qvAnimBuildRequest request;
    request.sourceKind = kAnimSourceSprites;
    request.spriteIds = ids.data();
    request.spriteCount = static_cast<int32_t>(ids.size());
    FreeAnimFrames(&frames_);
    ASSERT_EQ(BuildAnimObject(nullptr, request, &frames_), c.code);
    if (c.code != 0) {
      EXPECT_EQ(frames_.links, nullptr);
      continue;
    }
    EXPECT_EQ(frames_.count, 3 + 2 + 3);
    EXPECT_EQ(frames_.width, 8);
    EXPECT_EQ(frames_.height, 4);
    EXPECT_EQ(frames_.bitmaps, nullptr);
    ASSERT_NE(frames_.links, nullptr);
    EXPECT_EQ(frames_.links[0], b);
    EXPECT_EQ(frames_.links[1], a);
    EXPECT_EQ(frames_.links[2], b);
    EXPECT_EQ(frames_.links[3], nullptr);
  }
}

// ---- anim files ----

struct GifFrame {
  std::vector<uint32_t> pixels;  // 0x00RRGGBB
  int32_t delayCs;
  int64_t transparent;  // the file's transparent colour, -1 none
};

constexpr int32_t kGifWidth = 4;
constexpr int32_t kGifHeight = 3;

// Writes each frame as a plain PPM, turns it into a GIF with netpbm and joins them with gifsicle
// (each with its delay; transparent pixels keep the frame before them).
std::string MakeGif(const qvtest::TempDir& dir, const std::string& name,
                    const std::vector<GifFrame>& frames) {
  std::string join = "gifsicle";
  for (size_t i = 0; i < frames.size(); ++i) {
    std::string ppm = "P3\n" + std::to_string(kGifWidth) + " " + std::to_string(kGifHeight) +
                      "\n255\n";
    for (uint32_t p : frames[i].pixels) {
      ppm += std::to_string(p >> 16 & 0xFF) + " " + std::to_string(p >> 8 & 0xFF) + " " +
             std::to_string(p & 0xFF) + "\n";
    }
    const std::string base = name + "_" + std::to_string(i);
    dir.Write(base + ".ppm", ppm);
    std::string convert = "ppmtogif";
    if (frames[i].transparent >= 0) {
      char rgb[32];
      std::snprintf(rgb, sizeof rgb, " -transparent=rgb:%02x/%02x/%02x",
                    unsigned(frames[i].transparent >> 16 & 0xFF),
                    unsigned(frames[i].transparent >> 8 & 0xFF),
                    unsigned(frames[i].transparent & 0xFF));
      convert += rgb;
    }
    int status = -1;
    qvtest::RunCommand(
        convert + " " + dir.Path(base + ".ppm") + " > " + dir.Path(base + ".gif") + " 2>/dev/null",
        &status);
    EXPECT_EQ(status, 0) << convert;
    join += " --delay " + std::to_string(frames[i].delayCs) + " " + dir.Path(base + ".gif");
  }
  int status = -1;
  qvtest::RunCommand(join + " > " + dir.Path(name) + " 2>&1", &status);
  EXPECT_EQ(status, 0) << join;
  return dir.Path(name);
}

constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kWhite = 0xFFFFFF;

std::vector<GifFrame> ThreeFrames() {
  std::vector<GifFrame> frames(3);
  frames[0] = {std::vector<uint32_t>(kGifWidth * kGifHeight, kRed), 10, -1};
  frames[0].pixels[5] = kWhite;
  // Blue where the file says transparent: frame 0 shows through there.
  frames[1] = {std::vector<uint32_t>(kGifWidth * kGifHeight, kGreen), 25, kBlue};
  frames[1].pixels[0] = kBlue;
  frames[1].pixels[5] = kBlue;
  frames[2] = {std::vector<uint32_t>(kGifWidth * kGifHeight, kBlue), 0, -1};
  frames[2].pixels[11] = kWhite;
  return frames;
}

// Frame n's pixel i as the screen shows it.
uint32_t Expected(const std::vector<GifFrame>& frames, int32_t n, int32_t i) {
  while (n > 0 && int64_t{frames[n].pixels[i]} == frames[n].transparent) --n;
  return frames[n].pixels[i];
}

TEST_F(AnimBuildTest, GifFramesKeepTheirPixelsAndDelaysUntilADisplayTurnsThemIntoPlanes) {
  qvtest::TempDir dir;
  const auto source = ThreeFrames();
  const std::string gif = MakeGif(dir, "three.gif", source);
  qvAnimLoadOptions options;
  options.transparentColour = kWhite;
  ASSERT_EQ(LoadAnimObject(nullptr, gif.c_str(), options, kAnimTargetSprite, &frames_), 0);
  ASSERT_EQ(frames_.count, 3);
  EXPECT_EQ(frames_.width, kGifWidth);
  EXPECT_EQ(frames_.height, kGifHeight);
  EXPECT_EQ(frames_.transparentColour, int32_t{kWhite});
  ASSERT_NE(frames_.delays, nullptr);
  EXPECT_EQ(frames_.delays[0], 100);
  EXPECT_EQ(frames_.delays[1], 250);
  EXPECT_EQ(frames_.delays[2], 0);
  // No display is open: the frames are pixel sources.
  ASSERT_NE(frames_.pixelSources, nullptr);
  for (int32_t n = 0; n < 3; ++n) {
    SCOPED_TRACE(n);
    ASSERT_NE(frames_.pixelSources[n], nullptr);
    EXPECT_EQ(frames_.bitmaps[n], nullptr);
    for (int32_t i = 0; i < kGifWidth * kGifHeight; ++i) {
      EXPECT_EQ(frames_.pixelSources[n][i] & 0xFFFFFF, Expected(source, n, i)) << i;
    }
    ASSERT_EQ(
        ConvertAnimFramePixels(frames_.width, frames_.height, frames_.transparentColour,
                               &frames_.pixelSources[n], &frames_.bitmaps[n], &frames_.masks[n]),
        0);
    EXPECT_EQ(frames_.pixelSources[n], nullptr);
    ASSERT_NE(frames_.masks[n], nullptr);
    for (int32_t i = 0; i < kGifWidth * kGifHeight; ++i) {
      const int32_t x = i % kGifWidth, y = i / kGifWidth;
      EXPECT_EQ(ReadBitMapPixel(frames_.bitmaps[n], x, y), Expected(source, n, i)) << i;
      // The script's colour is keyed out, whichever frame it shows in.
      EXPECT_EQ(ReadBitMapPixel(frames_.masks[n], x, y) != 0, Expected(source, n, i) != kWhite)
          << i;
    }
  }
  // Converting again leaves the frame alone.
  qvBitMap* before = frames_.bitmaps[0];
  EXPECT_EQ(ConvertAnimFramePixels(frames_.width, frames_.height, -1, &frames_.pixelSources[0],
                                   &frames_.bitmaps[0], &frames_.masks[0]),
            0);
  EXPECT_EQ(frames_.bitmaps[0], before);
}

TEST_F(AnimBuildTest, LoaderOptionsChooseThePictureRoadAndRefuseWhatCannotGoTogether) {
  qvtest::TempDir dir;
  const auto source = ThreeFrames();
  const std::string gif = MakeGif(dir, "three.gif", source);

  struct Case {
    const char* what;
    qvAnimLoadOptions options;
    int code;
    int32_t count, width, height;
  };
  qvAnimLoadOptions alphaAndKey;
  alphaAndKey.loadAlpha = true;
  alphaAndKey.transparentColour = 0;
  qvAnimLoadOptions alpha;
  alpha.loadAlpha = true;
  qvAnimLoadOptions framesFromDisk;
  framesFromDisk.frames = 2;
  framesFromDisk.height = 1;
  framesFromDisk.width = 2;
  framesFromDisk.fromDisk = true;
  // "frames" reads the file as a picture (frame 0) cut into a grid.
  qvAnimLoadOptions grid;
  grid.frames = 3;
  grid.framesPerRow = 2;
  grid.width = 2;
  grid.height = 1;
  grid.y = 1;
  qvAnimLoadOptions noHeight = grid;
  noHeight.height = 0;
  qvAnimLoadOptions tooLarge = grid;
  tooLarge.y = 2;
  const Case cases[] = {
      {"loadalpha with a colour", alphaAndKey, ERR_MASKNALPHA, 0, 0, 0},
      {"loadalpha of a GIF", alpha, ERR_NOALPHA, 0, 0, 0},
      {"frames with fromdisk", framesFromDisk, ERR_WRONGUSAGE, 0, 0, 0},
      {"a grid of the picture", grid, 0, 3, 2, 1},
      {"frames without a height", noHeight, 0, 1, kGifWidth, kGifHeight},
      {"a grid beyond the picture", tooLarge, ERR_BRUSHSIZE, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FreeAnimFrames(&frames_);
    ASSERT_EQ(LoadAnimObject(nullptr, gif.c_str(), c.options, kAnimTargetSprite, &frames_), c.code);
    EXPECT_EQ(frames_.count, c.count);
    EXPECT_EQ(frames_.width, c.width);
    EXPECT_EQ(frames_.height, c.height);
    if (c.code == 0) {
      EXPECT_EQ(frames_.pixelSources, nullptr);
      EXPECT_EQ(frames_.delays, nullptr);
    }
  }
  // The grid's frames are frame 0's pixels from row 1: (0,1), (2,1), then (0,2).
  FreeAnimFrames(&frames_);
  ASSERT_EQ(LoadAnimObject(nullptr, gif.c_str(), grid, kAnimTargetSprite, &frames_), 0);
  EXPECT_EQ(ReadBitMapPixel(frames_.bitmaps[0], 1, 0), kWhite);  // pixel 5
  EXPECT_EQ(ReadBitMapPixel(frames_.bitmaps[1], 0, 0), kRed);
  EXPECT_EQ(ReadBitMapPixel(frames_.bitmaps[2], 1, 0), kRed);

  // A picture added to the image cache is loaded from there, whatever file is named.
  qvAnimLoadOptions cache = grid;
  cache.cacheName = "Shared";
  FreeAnimFrames(&frames_);
  ASSERT_EQ(LoadAnimObject(nullptr, gif.c_str(), cache, kAnimTargetSprite, &frames_), 0);
  qvAnimLoadOptions cached;
  cached.cachedLoadName = "shared";
  FreeAnimFrames(&frames_);
  const std::string missing = dir.Path("missing.gif");
  ASSERT_EQ(LoadAnimObject(nullptr, missing.c_str(), cached, kAnimTargetSprite, &frames_), 0);
  ASSERT_EQ(frames_.count, 1);
  EXPECT_EQ(ReadBitMapPixel(frames_.bitmaps[0], 1, 1), kWhite);
  cached.cachedLoadName = "other";
  FreeAnimFrames(&frames_);
  EXPECT_EQ(LoadAnimObject(nullptr, missing.c_str(), cached, kAnimTargetSprite, &frames_),
            ERR_CACHEERROR);
}

TEST_F(AnimBuildTest, AnimSourcesNameTheFileTheyRefuse) {
  qvtest::TempDir dir;
  const std::string three = MakeGif(dir, "three.gif", ThreeFrames());
  const std::string one = MakeGif(dir, "one.gif", {ThreeFrames()[0]});
  const std::string iff = dir.Write("anim.iff", std::string("FORM\0\0\0\x20"
                                                            "ANIMFORM",
                                                            16));
  const std::string broken = dir.Write("broken.gif", std::string("GIF89a\x04\0\x03\0\0\0\0", 13));
  const std::string text = dir.Write("text.txt", "no anim here");
  struct Case {
    std::string file;
    int32_t type;
    int code;
  };
  const Case cases[] = {
      {three, kAnimFileGif, 0},
      {iff, kAnimFileIff, ERR_OPENANIM2},  // no reader for the type yet
      {broken, kAnimFileGif, ERR_OPENANIM2},
      {text, kAnimFileNone, ERR_OPENANIM2},
      {dir.Path("missing.gif"), kAnimFileNone, ERR_READFILE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(IdentifyAnim(c.file.c_str()), c.type);
    SetErrorString("");
    qvAnimSource* source = nullptr;
    ASSERT_EQ(OpenAnimSource(c.file.c_str(), &source), c.code);
    if (c.code != 0) {
      EXPECT_EQ(source, nullptr);
      EXPECT_EQ(std::string(GetErrorString()), c.file);
      continue;
    }
    EXPECT_EQ(source->frames, 3);
    EXPECT_EQ(LoadAnimSourceFrame(source, 3), nullptr);
    EXPECT_EQ(LoadAnimSourceFrame(source, -1), nullptr);
    EXPECT_EQ(GetAnimSourceFrameDelay(source, 1), 250);
    EXPECT_EQ(GetAnimSourceFrameDelay(source, 3), 0);
    // Random access: the last frame first, then the first.
    uint32_t* last = LoadAnimSourceFrame(source, 2);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last[11] & 0xFFFFFF, kWhite);
    FreeAnimSourceFrame(source, last);
    uint32_t* first = LoadAnimSourceFrame(source, 0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first[0] & 0xFFFFFF, kRed);
    FreeAnimSourceFrame(source, first);
    CloseAnimSource(source);
  }
  EXPECT_TRUE(IsAnimFile(three.c_str()));
  EXPECT_FALSE(IsAnimFile(one.c_str()));
  EXPECT_FALSE(IsAnimFile(text.c_str()));
  // The loader takes a one-frame GIF as an anim of one frame, and a broken GIF is refused.
  ASSERT_EQ(LoadAnimObject(nullptr, one.c_str(), {}, kAnimTargetSprite, &frames_), 0);
  EXPECT_EQ(frames_.count, 1);
  FreeAnimFrames(&frames_);
  EXPECT_EQ(LoadAnimObject(nullptr, broken.c_str(), {}, kAnimTargetSprite, &frames_),
            ERR_OPENANIM2);
}

}  // namespace
