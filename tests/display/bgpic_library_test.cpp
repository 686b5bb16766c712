// BGPics where a script cannot look: RenderBGPicAtSize for each kind of picture (scaled, generated
// again from its fill, drawn again by its plugin), and DeleteBGPicNode and PurgeDetachedBGPics
// against layers that a test puts in a BGPic's layer list and against the displays that show a
// BGPic.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/errors.h"
#include "core/errors.h"
#include "core/plugins.h"
#include "display/display.h"
#include "display/internal.h"
#include "fixtures/display_setup.h"
#include "layers/layers.h"
#include "platform/window_services.h"

namespace qv {
namespace {

// ---- a plugin picture: the image draws itself again at the size asked for ----

struct FakeImage {
  std::vector<uint32_t> pixels;
  int32_t width = 0, height = 0;
  double matrix[4] = {};
  int32_t calls = 0;
  bool wrongSize = false;  // answers with one row more than asked
  bool alpha = false;
};

uint32_t PluginPixel(int32_t x, int32_t y) {
  return 0x80000000u | static_cast<uint32_t>(x) << 8 | static_cast<uint32_t>(y);
}

int32_t FakeTransform(void* handle, const double* m, int32_t width, int32_t height) {
  auto* image = static_cast<FakeImage*>(handle);
  ++image->calls;
  std::memcpy(image->matrix, m, sizeof image->matrix);
  image->width = width;
  image->height = height + (image->wrongSize ? 1 : 0);
  image->pixels.assign(static_cast<size_t>(image->width) * image->height, 0);
  for (int32_t y = 0; y < image->height; ++y) {
    for (int32_t x = 0; x < image->width; ++x) {
      image->pixels[static_cast<size_t>(y) * image->width + x] = PluginPixel(x, y);
    }
  }
  return 1;
}

uint32_t* FakeGetImage(void* handle, qvImageFacts* facts) {
  auto* image = static_cast<FakeImage*>(handle);
  facts->width = image->width;
  facts->height = image->height;
  facts->pixelsPerRow = image->width;
  facts->alpha = image->alpha ? 1 : 0;
  return image->pixels.data();
}

void FakeFreeImage(void*) {}

qvPluginInfo FakePlugin() {
  qvPluginInfo info{};
  info.transformImage = FakeTransform;
  info.getImage = FakeGetImage;
  info.freeImage = FakeFreeImage;
  return info;
}

std::vector<uint32_t> Pixels(const qvBitMap* bitmap) {
  std::vector<uint32_t> out;
  for (int32_t y = 0; y < bitmap->height; ++y) {
    for (int32_t x = 0; x < bitmap->width; ++x) {
      out.push_back(ReadBitMapPixel(bitmap, x, y) & 0xFFFFFFu);
    }
  }
  return out;
}

class BGPicLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ConfigureHeadlessScreen(qvScreenSetup{});
    ASSERT_EQ(test::OpenDisplayForTest(), 0);
    // DeleteBGPicNode asks the layer system which layers show a BGPic: the layers code's own.
    ASSERT_EQ(OpenLayerSystem(), 0);
  }
  void TearDown() override {
    FreeAllBGPics(L);
    CloseLayerSystem();
    test::CloseDisplayForTest();
  }
  static int CountBGPics() {
    int n = 0;
    for (qvObjectHeader* h = *BGPicListHead(); h != nullptr; h = h->next) ++n;
    return n;
  }
  qvBGPic* MakeBGPic(int32_t number, uint32_t colour, int32_t width = 8, int32_t height = 6) {
    qvObjectId id{number, nullptr};
    qvBGPic* bgpic = nullptr;
    EXPECT_EQ(CreateColorBGPic(&id, false, width, height, colour, &bgpic), 0);
    return bgpic;
  }
  // An open display on the BGPic, current and drawn to.
  qvDisplay* ShowOnDisplay(int32_t number, int32_t bgpic) {
    qvObjectId id{number, nullptr};
    qvDisplayTags tags = test::TagsOf({{"bgpic", bgpic}});
    qvDisplay* d = nullptr;
    EXPECT_EQ(CreateDisplayCore(L, &id, false, &tags, &d), 0);
    if (d == nullptr) return nullptr;
    EXPECT_EQ(OpenDisplayCore(L, d, true), 0);
    SetCurrentDisplay(d);
    SetOutputTarget(d->bgpic);
    return d;
  }
  qvScriptState* L = nullptr;
};

TEST_F(BGPicLibraryTest, APictureIsScaledWithItsMask) {
  // A 2 x 2 picture of four colours whose top-right pixel is masked out, at 4 x 6.
  qvBitMap* bitmap = AllocBitMap(2, 2);
  qvPlane* mask = AllocMask(2, 2, false);
  ASSERT_NE(bitmap, nullptr);
  ASSERT_NE(mask, nullptr);
  const uint32_t colours[4] = {0x110000, 0x002200, 0x000033, 0x444444};
  for (int i = 0; i < 4; ++i) WriteBitMapPixel(bitmap, i % 2, i / 2, colours[i]);
  std::memset(mask->data, 0xFF, static_cast<size_t>(mask->bytesPerRow) * 2);
  mask->data[0] = 0x80;  // row 0: only x = 0 shows
  qvBitMap* out = nullptr;
  qvPlane* outMask = nullptr;
  qvPlane* outAlpha = nullptr;
  ASSERT_EQ(RenderBGPicAtSize(L, kBGPicPicture, bitmap, mask, nullptr, nullptr, 2, 2, nullptr, 4, 6,
                              false, &out, &outMask, &outAlpha),
            0);
  ASSERT_NE(out, nullptr);
  ASSERT_NE(outMask, nullptr);
  EXPECT_EQ(outAlpha, nullptr);
  for (int32_t y = 0; y < 6; ++y) {
    for (int32_t x = 0; x < 4; ++x) {
      int source = (y / 3) * 2 + x / 2;
      EXPECT_EQ(ReadBitMapPixel(out, x, y) & 0xFFFFFF, colours[source]) << x << "," << y;
      EXPECT_EQ(ReadBitMapPixel(outMask, x, y), source == 1 ? 0u : 1u) << x << "," << y;
    }
  }
  FreeBitMap(out);
  FreeMaskOrAlpha(outMask);
  FreeBitMap(bitmap);
  FreeMaskOrAlpha(mask);
}

TEST_F(BGPicLibraryTest, AGeneratedPictureIsGeneratedAgainNotStretched) {
  qvBrush* tile = nullptr;
  qvObjectId tileId{4, nullptr};
  ASSERT_EQ(AllocBrush(&tileId, false, 3, 2, 0, false, false, false, false, &tile), 0);
  for (int32_t i = 0; i < 6; ++i) WriteBitMapPixel(tile->bitmap, i % 3, i / 3, 0x010101u * (i + 1));

  qvBackfillSettings gradient{};
  gradient.fillStyle = kFillGradient;
  InitGradientDefaults(&gradient.gradient);
  gradient.gradient.startColour = 0x000000;
  gradient.gradient.endColour = 0xFFFFFF;
  gradient.gradient.angle = 30;
  qvBackfillSettings texture{};
  texture.fillStyle = kFillTexture;
  InitGradientDefaults(&texture.gradient);
  texture.textureBrush = tileId;
  texture.textureX = -4;  // wraps as the tiling does: column 2
  texture.textureY = 3;   // row 1

  struct Case {
    const char* what;
    qvBackfillSettings* settings;
  };
  const Case kCases[] = {{"gradient", &gradient}, {"texture", &texture}};
  for (const Case& c : kCases) {
    // The picture at 5 x 4 first, then at 23 x 9 from the settings alone: the same as the fill
    // made at that size, which a scaled 5 x 4 picture could not be.
    qvBitMap* small = AllocBitMap(5, 4);
    ASSERT_EQ(FillBackground(L, small, 5, 4, c.settings), 0) << c.what;
    qvBitMap* out = nullptr;
    qvPlane* mask = nullptr;
    qvPlane* alpha = nullptr;
    ASSERT_EQ(RenderBGPicAtSize(L, kBGPicGenerated, small, nullptr, nullptr, nullptr, 5, 4,
                                c.settings, 23, 9, false, &out, &mask, &alpha),
              0)
        << c.what;
    qvBitMap* direct = AllocBitMap(23, 9);
    ASSERT_EQ(FillBackground(L, direct, 23, 9, c.settings), 0) << c.what;
    EXPECT_EQ(Pixels(out), Pixels(direct)) << c.what;
    EXPECT_EQ(mask, nullptr) << c.what;
    EXPECT_EQ(alpha, nullptr) << c.what;
    FreeBitMap(out);
    FreeBitMap(direct);
    FreeBitMap(small);
  }
  // The texture's corner is the tile's pixel at the wrapped offsets.
  EXPECT_EQ(ReadBitMapPixel(texture.textureCache, 2, 1) & 0xFFFFFF, 0x060606u);
  FreeBitMap(texture.textureCache);
}

TEST_F(BGPicLibraryTest, APluginPictureDrawsItselfAgainThroughItsTransform) {
  qvPluginInfo info = FakePlugin();
  FakeImage image;
  FakeTransform(&image, std::vector<double>(4, 1.0).data(), 4, 3);
  image.calls = 0;
  auto* buffer = new qvPixelBuffer{1, image.pixels.data(), 4, &info, &image};
  qvBitMap* own = AllocBitMap(4, 3);

  struct Case {
    const char* what;
    bool alpha, wrongSize;
    int want;
  };
  const Case kCases[] = {
      {"opaque", false, false, 0},
      {"with alpha", true, false, 0},
      {"answering another size", false, true, ERR_TFIMAGE},
  };
  for (const Case& c : kCases) {
    image.alpha = c.alpha;
    image.wrongSize = c.wrongSize;
    qvBitMap* out = nullptr;
    qvPlane* mask = nullptr;
    qvPlane* alpha = nullptr;
    EXPECT_EQ(RenderBGPicAtSize(L, kBGPicGenerated, own, nullptr, nullptr, buffer, 4, 3, nullptr, 8,
                                6, true, &out, &mask, &alpha),
              c.want)
        << c.what;
    EXPECT_EQ(image.matrix[0], 2.0) << c.what;
    EXPECT_EQ(image.matrix[1], 0.0) << c.what;
    EXPECT_EQ(image.matrix[2], 0.0) << c.what;
    EXPECT_EQ(image.matrix[3], 2.0) << c.what;
    if (c.want != 0) {
      EXPECT_EQ(out, nullptr) << c.what;
      continue;
    }
    ASSERT_NE(out, nullptr) << c.what;
    EXPECT_EQ(out->width, 8) << c.what;
    EXPECT_EQ(ReadBitMapPixel(out, 7, 5) & 0xFFFFFF, PluginPixel(7, 5) & 0xFFFFFF) << c.what;
    ASSERT_EQ(alpha != nullptr, c.alpha) << c.what;
    if (alpha != nullptr) {
      EXPECT_EQ(alpha->data[0], 0x80) << c.what;
    }
    FreeBitMap(out);
    FreeMaskOrAlpha(mask);
    FreeMaskOrAlpha(alpha);
  }
  EXPECT_EQ(image.calls, 3);
  FreeBitMap(own);
  ReleasePixelBuffer(buffer);
}

TEST_F(BGPicLibraryTest, ASizeBelowOneIsRefusedForEveryKind) {
  qvBitMap* bitmap = AllocBitMap(2, 2);
  qvBackfillSettings fill{};
  fill.fillStyle = kFillColour;
  for (int32_t kind : {kBGPicPicture, kBGPicGenerated}) {
    for (auto [w, h] : {std::pair{0, 5}, std::pair{5, -1}}) {
      qvBitMap* out = reinterpret_cast<qvBitMap*>(1);
      qvPlane* mask = nullptr;
      qvPlane* alpha = nullptr;
      EXPECT_EQ(RenderBGPicAtSize(L, kind, bitmap, nullptr, nullptr, nullptr, 2, 2, &fill, w, h,
                                  false, &out, &mask, &alpha),
                ERR_BADDIMENSIONS)
          << kind << " " << w << "x" << h;
      EXPECT_EQ(out, nullptr);
    }
  }
  FreeBitMap(bitmap);
}

TEST_F(BGPicLibraryTest, FreeingABGPicALayerShowsKeepsItForTheLayer) {
  qvBGPic* shown = MakeBGPic(5, 0x111111);
  qvBGPic* holder = MakeBGPic(6, 0);
  qvLayerHead layer{{nullptr, nullptr}, kObjectBGPicPart, {5, nullptr}};
  AddListTail(&holder->layers, &layer.node);

  ASSERT_EQ(DeleteBGPicNode(L, {5, nullptr}, true), 0);
  EXPECT_TRUE(shown->layerCopy);
  EXPECT_EQ(shown->header.id, 0);
  EXPECT_EQ(shown->header.handle, shown);
  EXPECT_EQ(layer.id.number, 0);
  EXPECT_EQ(layer.id.handle, shown);
  qvBGPic* found = nullptr;
  EXPECT_EQ(FindBGPic(L, {5, nullptr}, &found, 0), ERR_FINDBGPIC);
  // The id is free at once; the kept picture is the layer's.
  qvBGPic* again = MakeBGPic(5, 0x222222);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(ReadBitMapPixel(shown->current.bitmap, 0, 0) & 0xFFFFFF, 0x111111u);

  PurgeDetachedBGPics(L);
  EXPECT_EQ(CountBGPics(), 3);
  RemoveListNode(&layer.node);
  PurgeDetachedBGPics(L);
  EXPECT_EQ(CountBGPics(), 2);
  EXPECT_EQ(FindBGPic(L, {5, nullptr}, &found, 0), 0);
  EXPECT_EQ(found, again);
}

TEST_F(BGPicLibraryTest, DeleteBGPicNodeRefusals) {
  MakeBGPic(7, 0);
  qvBGPic* locked = MakeBGPic(8, 0);
  locked->locked = 1;
  struct Case {
    const char* what;
    int32_t number;
    bool mustExist;
    int want;
  };
  const Case kCases[] = {
      {"absent, must exist", 9, true, ERR_FINDBGPIC},
      {"absent, may be absent", 9, false, 0},
      {"locked, may be absent", 8, false, ERR_LOCKEDOBJ},
      {"locked, must exist", 8, true, ERR_LOCKEDOBJ},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(DeleteBGPicNode(L, {c.number, nullptr}, c.mustExist), c.want) << c.what;
  }
  EXPECT_EQ(CountBGPics(), 2);
  locked->locked = 0;
}

TEST_F(BGPicLibraryTest, ADisplaysBackgroundFreedByTheScriptGoesWhenTheDisplayMovesOn) {
  MakeBGPic(2, 0xAA0000, 40, 30);
  MakeBGPic(3, 0x00BB00, 24, 16);
  qvDisplay* d = ShowOnDisplay(1, 2);
  ASSERT_NE(d, nullptr);
  qvBGPic* first = d->bgpic;
  int before = CountBGPics();

  ASSERT_EQ(DeleteBGPicNode(L, {2, nullptr}, true), 0);
  EXPECT_TRUE(first->layerCopy);
  PurgeDetachedBGPics(L);  // the display still shows it
  EXPECT_EQ(CountBGPics(), before);
  EXPECT_EQ(d->bgpic, first);

  ASSERT_EQ(DisplayBGPicCore(L, {3, nullptr}, kPositionNotGiven, kPositionNotGiven, nullptr), 0);
  EXPECT_EQ(d->bgpic->header.id, 3);
  EXPECT_EQ(CountBGPics(), before - 1);
  int32_t w = 0, h = 0;
  std::vector<uint32_t> shown;
  ASSERT_TRUE(ReadWindowPixels(d->window, &shown, &w, &h));
  EXPECT_EQ(w, 24);
  EXPECT_EQ(h, 16);
  EXPECT_EQ(shown[0] & 0xFFFFFF, 0x00BB00u);
}

TEST_F(BGPicLibraryTest, ABackgroundStaysWhileADisplayThatIsNotCurrentShowsIt) {
  MakeBGPic(2, 0xAA0000, 40, 30);
  MakeBGPic(3, 0x00BB00, 24, 16);
  qvDisplay* behind = ShowOnDisplay(1, 2);
  ASSERT_NE(ShowOnDisplay(2, 3), nullptr);
  ASSERT_NE(behind, nullptr);
  int before = CountBGPics();
  ASSERT_EQ(DeleteBGPicNode(L, {2, nullptr}, true), 0);
  PurgeDetachedBGPics(L);
  EXPECT_EQ(CountBGPics(), before);
  EXPECT_EQ(ReadBitMapPixel(behind->bgpic->current.bitmap, 0, 0) & 0xFFFFFF, 0xAA0000u);
}

TEST_F(BGPicLibraryTest, ATransitionGetsThePicturesBeforeAndAfter) {
  MakeBGPic(2, 0xAA0000, 40, 30);
  MakeBGPic(3, 0x00BB00, 20, 10);
  qvDisplay* d = ShowOnDisplay(1, 2);
  ASSERT_NE(d, nullptr);
  qvBGPicTransition t{reinterpret_cast<qvBitMap*>(1), reinterpret_cast<qvBitMap*>(1)};
  ASSERT_EQ(DisplayBGPicCore(L, {3, nullptr}, 0, 0, &t), 0);
  ASSERT_NE(t.before, nullptr);
  ASSERT_NE(t.after, nullptr);
  // The old picture at the new size, which the window shows again for the effect to start from.
  EXPECT_EQ(Pixels(t.before), std::vector<uint32_t>(200, 0xAA0000));
  EXPECT_EQ(Pixels(t.after), std::vector<uint32_t>(200, 0x00BB00));
  int32_t w = 0, h = 0;
  std::vector<uint32_t> shown;
  ASSERT_TRUE(ReadWindowPixels(d->window, &shown, &w, &h));
  EXPECT_EQ(shown[0] & 0xFFFFFF, 0xAA0000u);
  FreeBitMap(t.before);
  FreeBitMap(t.after);

  // A refusal hands nothing out.
  t = {reinterpret_cast<qvBitMap*>(1), reinterpret_cast<qvBitMap*>(1)};
  EXPECT_EQ(DisplayBGPicCore(L, {9, nullptr}, 0, 0, &t), ERR_FINDBGPIC);
  EXPECT_EQ(t.before, nullptr);
  EXPECT_EQ(t.after, nullptr);
}

}  // namespace
}  // namespace qv
