// The brush library's shared rules through the commands themselves: every command's argument
// counts (checked before anything else), the brush selected as output device refused before the
// lookup, vector brushes refused by the commands that work on pixels only, and the vector road
// of scaling and turning through a stand-in image plugin.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "base/errors.h"
#include "core/errors.h"
#include "core/registry.h"
#include "display/brush_edit.h"
#include "display/display.h"
#include "fixtures/display_setup.h"
#include "libs/libraries.h"
#include "platform/window_services.h"
#include "vm/vm.h"

namespace qv {
namespace {

// An argument that stands for an empty table.
constexpr double kTable = -123456.5;

class BrushCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ConfigureHeadlessScreen(qvScreenSetup{});
    L = VmOpenState(CoreVmHost());
    SetProcessVm(L);
    for (const qvLibrary* lib :
         {&kGraphicsLibrary, &kDisplayLibrary, &kBrushLibrary, &kBGPicLibrary}) {
      ASSERT_EQ(OpenLibrary(L, *lib), 0);
    }
    qvDisplayTags tags = test::TagsOf({{"width", 16}, {"height", 8}});
    qvObjectId id{1, nullptr};
    qvDisplay* display = nullptr;
    ASSERT_EQ(CreateDisplayCore(L, &id, false, &tags, &display), 0);
    ASSERT_EQ(OpenDisplayCore(L, display, true), 0);
    SetCurrentDisplay(display);
    SetOutputTarget(display->bgpic);
  }
  void TearDown() override {
    SetImageHost(nullptr);
    FreeDisplaySubsystem(L);
    FreeRegistries();
    SetProcessVm(nullptr);
    VmCloseState(L);
  }
  bool Registered(const char* name) {
    std::string lower(name);
    for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
    VmPushString(L, lower.c_str());
    VmGetTable(L, kGlobalsIndex);
    bool found = VmType(L, -1) != kTypeNil;
    VmSetTop(L, -2);
    return found;
  }
  // The command with number arguments (a table where the value is kTable): its word.
  int32_t Call(const char* name, const std::vector<double>& args) {
    int top = VmGetTop(L);
    std::string lower(name);
    for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
    VmPushString(L, lower.c_str());
    VmGetTable(L, kGlobalsIndex);
    for (double a : args) {
      if (a == kTable) {
        VmNewTable(L);
      } else {
        VmPushNumber(L, a);
      }
    }
    int32_t word = VmPCall(L, int(args.size()), 0, 0);
    VmSetTop(L, top);
    return word;
  }
  qvBrush* MakeBrush(int32_t number, int32_t kind, bool alpha = false) {
    qvObjectId id{number, nullptr};
    qvBrush* brush = nullptr;
    EXPECT_EQ(AllocBrush(&id, false, 6, 4, 0x102030, false, alpha, false, false, &brush), 0);
    brush->kind = kind;
    return brush;
  }
  qvScriptState* L = nullptr;
};

// Every command of the library with its least and most arguments.
struct Counts {
  const char* name;
  int min, max;
};
const Counts kAllCommands[] = {
    {"CreateBrush", 3, 5},
    {"DisplayBrush", 3, 4},
    {"DisplayBrushPart", 7, 8},
    {"ScaleBrush", 3, 4},
    {"FreeBrush", 1, 1},
    {"TintBrush", 3, 3},
    {"ReplaceColors", 2, 2},
    {"InvertBrush", 1, 1},
    {"FlipBrush", 2, 2},
    {"MixBrush", 3, 3},
    {"BrushToGray", 1, 1},
    {"RotateBrush", 2, 5},
    {"TransformBrush", 5, 6},
    {"GetBrushLink", 3, 4},
    {"ConvertToBrush", 3, 4},
    {"CopyBrush", 2, 3},
    {"SetBrushTransparency", 2, 2},
    {"LoadBrush", 2, 5},
    {"SelectMask", 1, 3},
    {"SelectAlphaChannel", 1, 3},
    {"SelectBrush", 1, 3},
    {"SetMaskMode", 1, 1},
    {"SaveBrush", 2, 5},
    {"SetAlphaIntensity", 1, 1},
    {"DeleteAlphaChannel", 1, 1},
    {"CropBrush", 5, 5},
    {"InvertMask", 1, 1},
    {"InvertAlphaChannel", 1, 1},
    {"FloodFill", 3, 5},
    {"DeleteMask", 1, 1},
    {"BeginDoubleBuffer", 0, 1},
    {"EndDoubleBuffer", 0, 0},
    {"Flip", 0, 1},
    {"GrabDesktop", 1, 2},
    {"TrimBrush", 1, 1},
    {"RasterizeBrush", 1, 1},
    {"BlurBrush", 1, 3},
    {"EmbossBrush", 1, 2},
    {"EdgeBrush", 1, 2},
    {"SharpenBrush", 1, 2},
    {"SolarizeBrush", 2, 2},
    {"GammaBrush", 4, 4},
    {"ContrastBrush", 2, 3},
    {"ModulateBrush", 4, 4},
    {"SepiaToneBrush", 2, 2},
    {"CharcoalBrush", 2, 2},
    {"SwirlBrush", 2, 2},
    {"PixelateBrush", 2, 2},
    {"BrushToMonochrome", 1, 2},
    {"ChangeBrushTransparency", 2, 2},
    {"CreateShadowBrush", 3, 5},
    {"CreateBorderBrush", 3, 5},
    {"WaterRippleBrush", 1, 6},
    {"OilPaintBrush", 2, 2},
    {"BrushToRGBArray", 1, 2},
    {"RGBArrayToBrush", 4, 6},
    {"PerspectiveDistortBrush", 9, 10},
    {"ArcDistortBrush", 2, 6},
    {"PolarDistortBrush", 1, 8},
    {"BarrelDistortBrush", 4, 12},
    {"CreateGradientBrush", 6, 8},
    {"CreateTexturedBrush", 4, 6},
    {"ReadBrushPixel", 3, 3},
    {"WriteBrushPixel", 4, 5},
};

TEST_F(BrushCommandsTest, ArgumentCountsComeFirst) {
  ASSERT_EQ(std::size(kAllCommands), 64u);
  // Brush 7 exists and is the output device: a count error must still win over ERR_MODIFYABR,
  // and over the missing brush 9 the other arguments name.
  MakeBrush(7, kBrushRaster);
  for (const Counts& c : kAllCommands) {
    ASSERT_TRUE(Registered(c.name)) << c.name << " is not in the brush library";
    if (c.min > 0) {
      EXPECT_EQ(Call(c.name, std::vector<double>(size_t(c.min - 1), 9)), ERR_MISSINGPARAMTR)
          << c.name << " with " << c.min - 1;
    }
    EXPECT_EQ(Call(c.name, std::vector<double>(size_t(c.max + 1), 9)), ERR_TOOMANYARGS)
        << c.name << " with " << c.max + 1;
    // The counts at the edges are taken: a row whose range is wider than the command's fails.
    for (int count : {c.min, c.max}) {
      const int32_t word = Call(c.name, std::vector<double>(size_t(count), 9));
      EXPECT_NE(word, ERR_MISSINGPARAMTR) << c.name << " with " << count;
      EXPECT_NE(word, ERR_TOOMANYARGS) << c.name << " with " << count;
      // A creating command may have made brush 9: the next commands find none again.
      ASSERT_EQ(ReleaseBrushId(L, {9, nullptr}, false), 0);
    }
  }
  // Every command the library registers has its row here.
  std::set<std::string> listed;
  for (const Counts& c : kAllCommands) listed.insert(c.name);
  for (const qvLibraryRow* row = kBrushLibrary.commands; row->name != nullptr; ++row) {
    EXPECT_TRUE(listed.count(row->name)) << row->name << " has no row in the count table";
  }
}

// A changing command with arguments that would work on brush 1.
struct Change {
  const char* name;
  std::vector<double> args;
  bool rasterOnly;
};
const std::vector<Change>& Changes() {
  static const std::vector<Change> kChanges = {
      {"ScaleBrush", {1, 3, 2}, false},
      {"TintBrush", {1, 0xFF0000, 128}, true},
      {"ReplaceColors", {1, kTable}, true},
      {"InvertBrush", {1}, true},
      {"FlipBrush", {1, 1}, true},
      {"MixBrush", {1, 2, 128}, true},
      {"BrushToGray", {1}, true},
      {"RotateBrush", {1, 90}, false},
      {"TransformBrush", {1, 0, 1, -1, 0}, false},
      {"SetBrushTransparency", {1, 0x102030}, true},
      {"DeleteAlphaChannel", {1}, true},
      {"CropBrush", {1, 1, 1, 2, 2}, true},
      {"InvertMask", {1}, true},
      {"InvertAlphaChannel", {1}, true},
      {"FloodFill", {1, 0, 0, 0xFF, 0xFF}, true},
      {"DeleteMask", {1}, true},
      {"TrimBrush", {1}, true},
      {"RasterizeBrush", {1}, false},
      {"ChangeBrushTransparency", {1, 28}, true},
      {"BlurBrush", {1, 1}, true},
      {"EmbossBrush", {1}, true},
      {"EdgeBrush", {1}, true},
      {"SharpenBrush", {1}, true},
      {"SolarizeBrush", {1, 128}, true},
      {"GammaBrush", {1, 2, 2, 2}, true},
      {"ContrastBrush", {1, 1}, true},
      {"ModulateBrush", {1, 1, 2, 1}, true},
      {"SepiaToneBrush", {1, 128}, true},
      {"CharcoalBrush", {1, 1}, true},
      {"SwirlBrush", {1, 90}, true},
      {"PixelateBrush", {1, 2}, true},
      {"BrushToMonochrome", {1}, true},
      {"WaterRippleBrush", {1}, true},
      {"OilPaintBrush", {1, 1}, true},
      {"PerspectiveDistortBrush", {1, 0, 0, 0, 0, 5, 0, 5, 0}, true},
      {"ArcDistortBrush", {1, 60}, true},
      {"PolarDistortBrush", {1}, true},
      {"BarrelDistortBrush", {1, 0, 0, 0}, true},
      {"WriteBrushPixel", {1, 0, 0, 0xFF}, true},
  };
  return kChanges;
}

TEST_F(BrushCommandsTest, TheOutputBrushIsRefusedBeforeTheLookup) {
  MakeBrush(2, kBrushRaster);
  for (const Change& c : Changes()) {
    ASSERT_TRUE(Registered(c.name)) << c.name << " is not in the brush library";
    qvBrush* brush = MakeBrush(1, kBrushRaster);
    ASSERT_EQ(SelectOutputDevice(L, kObjectBrush, {1, nullptr}, kOutputPicture, 0, 0, 0), 0);
    // Locked, the lookup would answer ERR_LOCKEDOBJ: the selection is refused before it.
    brush->locked = 1;
    EXPECT_EQ(Call(c.name, c.args), ERR_MODIFYABR) << c.name;
    brush->locked = 0;
    ASSERT_EQ(EndSelectOutput(L, CurrentDisplay(), true), 0);
    ASSERT_EQ(ReleaseBrushId(L, {1, nullptr}, true), 0);
    EXPECT_EQ(Call(c.name, c.args), ERR_FINDBRUSH) << c.name << " without brush 1";
  }
}

TEST_F(BrushCommandsTest, VectorBrushesOnlyWhereTheCommandTakesThem) {
  MakeBrush(2, kBrushRaster);
  for (const Change& c : Changes()) {
    ASSERT_TRUE(Registered(c.name)) << c.name << " is not in the brush library";
    qvBrush* brush = MakeBrush(1, kBrushVector);
    brush->transformed = 0;
    int32_t word = Call(c.name, c.args);
    if (c.rasterOnly) {
      EXPECT_EQ(word, ERR_BRUSHTYPE) << c.name;
    } else {
      // Without an image plugin a vector brush cannot be drawn anew; raster-only refusal would
      // be ERR_BRUSHTYPE.
      EXPECT_NE(word, ERR_BRUSHTYPE) << c.name;
    }
    ASSERT_EQ(ReleaseBrushId(L, {1, nullptr}, true), 0);
  }
}

// A pixel buffer of width x height ARGB words, one reference held.
qvPixelBuffer* MakeBuffer(int32_t width, int32_t height, uint32_t first) {
  auto* buffer = new qvPixelBuffer{};  // released as the player's own buffers are
  buffer->references = 1;
  buffer->rowWidth = width;
  buffer->pixels = static_cast<uint32_t*>(std::calloc(size_t(width) * height, sizeof(uint32_t)));
  for (int32_t i = 0; i < width * height; ++i) buffer->pixels[i] = first + uint32_t(i);
  return buffer;
}

// The stand-in plugin: draws its picture at the asked size, every pixel the size's colour, with
// an alpha channel of 200, and keeps the last request.
qvPluginTransform gLastRequest;
int gTransformCalls = 0;
void* gLastImage = nullptr;
int FakeTransform(void*, void* image, const qvPluginTransform& request, qvBitMap** outBitmap,
                  qvPlane** outAlpha) {
  ++gTransformCalls;
  gLastRequest = request;
  gLastImage = image;
  *outBitmap = AllocBitMap(request.width, request.height);
  *outAlpha = AllocAlphaChannel(request.width, request.height, false);
  FillBitMapRect(*outBitmap, 0, 0, request.width, request.height,
                 uint32_t(request.width << 8 | request.height));
  for (int32_t y = 0; y < request.height; ++y) {
    for (int32_t x = 0; x < request.width; ++x) {
      (*outAlpha)->data[y * (*outAlpha)->bytesPerRow + x] = 200;
    }
  }
  return 0;
}

TEST_F(BrushCommandsTest, VectorBrushesAreTransformedByTheirPlugin) {
  qvImageHost host;
  host.pluginTransform = FakeTransform;
  SetImageHost(&host);
  qvBrush* brush = MakeBrush(1, kBrushVector);
  qvPixelBuffer* buffer = MakeBuffer(6, 4, 0);
  brush->pixelBuffer = buffer;
  gTransformCalls = 0;

  EXPECT_EQ(Call("ScaleBrush", {1, 12, 2}), 0);
  EXPECT_EQ(gTransformCalls, 1);
  EXPECT_EQ(gLastImage, buffer);
  EXPECT_DOUBLE_EQ(gLastRequest.transform[0], 2.0);
  EXPECT_DOUBLE_EQ(gLastRequest.transform[3], 0.5);
  EXPECT_EQ(brush->width, 12);
  EXPECT_EQ(brush->height, 2);
  EXPECT_EQ(brush->transformed, 1);
  EXPECT_EQ(brush->kind, kBrushVector);
  uint32_t colour = 0;
  int32_t second = 0;
  ASSERT_TRUE(ReadBrushPixelAt(brush, 11, 1, &colour, &second));
  EXPECT_EQ(colour, 0x0C02u);
  EXPECT_EQ(second, 200);

  // A quarter turn: the plugin gets the matrix and the turned box.
  EXPECT_EQ(Call("RotateBrush", {1, 90}), 0);
  EXPECT_EQ(gTransformCalls, 2);
  EXPECT_EQ(brush->width, 2);
  EXPECT_EQ(brush->height, 12);
  EXPECT_EQ(Call("TransformBrush", {1, 1, 0, 0, 1}), 0);
  EXPECT_EQ(gTransformCalls, 2) << "the identity copies without asking the plugin";

  // Raster now: the pixel buffer goes, and pixel commands take it.
  EXPECT_EQ(Call("RasterizeBrush", {1}), 0);
  EXPECT_EQ(brush->kind, kBrushRaster);
  EXPECT_EQ(brush->pixelBuffer, nullptr);
  EXPECT_EQ(Call("RasterizeBrush", {1}), ERR_WRONGUSAGE);
  EXPECT_EQ(Call("InvertBrush", {1}), 0);
  EXPECT_EQ(Call("ScaleBrush", {1, 4, 4}), 0);
  EXPECT_EQ(gTransformCalls, 2) << "a raster brush is scaled by the engine";

  // Without a plugin transform a vector brush cannot be drawn anew.
  SetImageHost(nullptr);
  MakeBrush(3, kBrushVector);
  EXPECT_EQ(Call("ScaleBrush", {3, 12, 2}), ERR_TFIMAGE);
  EXPECT_EQ(Call("ScaleBrush", {3, 6, 4}), 0) << "the same size does nothing";
}

TEST_F(BrushCommandsTest, PreloadedBrushesGetPlanesOfTheirOwn) {
  // A raster brush cut from a 4x3 picture at (1, 1), 2x2, keyed on the colour of (2, 2).
  qvBrush* raster = MakeBrush(1, kBrushRaster);
  raster->pixelBuffer = MakeBuffer(4, 3, 0x100);
  raster->sourceX = 1, raster->sourceY = 1, raster->sourceWidth = 2, raster->sourceHeight = 2;
  raster->transparentColour = 0x100 + 2 * 4 + 2;
  qvBrush* vector = MakeBrush(2, kBrushVector);
  vector->pixelBuffer = MakeBuffer(6, 4, 0x200);
  ASSERT_EQ(ResolvePreloadedBrushes(), 0);

  EXPECT_EQ(raster->pixelBuffer, nullptr);
  EXPECT_EQ(raster->width, 2);
  EXPECT_EQ(raster->height, 2);
  uint32_t colour = 0;
  int32_t second = 0;
  ASSERT_TRUE(ReadBrushPixelAt(raster, 0, 0, &colour, &second));
  EXPECT_EQ(colour, 0x100u + 5);
  EXPECT_EQ(second, 1);
  ASSERT_TRUE(ReadBrushPixelAt(raster, 1, 1, &colour, &second));
  EXPECT_EQ(colour, 0x100u + 10);
  EXPECT_EQ(second, 0) << "the transparent colour is keyed out";

  ASSERT_NE(vector->pixelBuffer, nullptr) << "a vector brush keeps what its plugin draws from";
  ASSERT_TRUE(ReadBrushPixelAt(vector, 5, 3, &colour, &second));
  EXPECT_EQ(colour, 0x200u + 23);
  EXPECT_EQ(second, -1);
}

TEST_F(BrushCommandsTest, GeneratedPicturesForBrushesAndBGPics) {
  qvBrush* texture = MakeBrush(1, kBrushRaster);
  WriteBrushPixelAt(texture, 5, 3, 0xABCDEF, -1);
  qvObjectId id{0, nullptr};
  qvObjectHeader* made = nullptr;
  // The same tiling for both kinds: (0, 0) of the result is the texture's (5, 3).
  ASSERT_EQ(CreateTexturedPicture(L, kObjectBGPic, &id, true, 8, 8, {1, nullptr}, 5, 3, &made), 0);
  auto* bgpic = reinterpret_cast<qvBGPic*>(made);
  EXPECT_EQ(bgpic->kind, kBGPicGenerated);
  EXPECT_EQ(bgpic->settings.fillStyle, kFillTexture);
  EXPECT_EQ(ReadBitMapPixel(bgpic->original.bitmap, 0, 0), 0xABCDEFu);
  EXPECT_EQ(ReadBitMapPixel(bgpic->original.bitmap, 6, 4), 0xABCDEFu);
  EXPECT_EQ(bgpic->settings.textureCache, nullptr) << "the fill's copy of the tile is freed";
  qvObjectId brushId{2, nullptr};
  ASSERT_EQ(
      CreateTexturedPicture(L, kObjectBrush, &brushId, false, 8, 8, {1, nullptr}, 5, 3, &made), 0);
  EXPECT_EQ(ReadBitMapPixel(reinterpret_cast<qvBrush*>(made)->bitmap, 6, 4), 0xABCDEFu);
  EXPECT_EQ(
      CreateTexturedPicture(L, kObjectBrush, &brushId, false, 8, 8, {2, nullptr}, 0, 0, nullptr),
      ERR_WRONGUSAGE)
      << "the texture would be freed to make room for itself";

  qvGradient gradient{};
  InitGradientDefaults(&gradient);
  gradient.startColour = 0xFF0000, gradient.endColour = 0x0000FF;
  ASSERT_EQ(CreateGradientPicture(L, kObjectBGPic, &id, true, 4, 4, gradient, &made), 0);
  bgpic = reinterpret_cast<qvBGPic*>(made);
  EXPECT_EQ(bgpic->settings.fillStyle, kFillGradient);
  EXPECT_EQ(ReadBitMapPixel(bgpic->original.bitmap, 0, 0), 0xFF0000u);
  EXPECT_EQ(CreateGradientPicture(L, kObjectBGPic, &id, true, 0, 4, gradient, nullptr),
            ERR_BADDIMENSIONS);
}

}  // namespace
}  // namespace qv
