// CreateDisplay's tag table through the command itself, one row per rule: what a script may give
// and what it is refused with.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/errors.h"
#include "core/args.h"
#include "core/errors.h"
#include "core/registry.h"
#include "display/display.h"
#include "libs/libraries.h"
#include "platform/window_services.h"
#include "vm/vm.h"

namespace qv {
namespace {

// A field of the tag table: a number, a text, regions {type, x, y, width, height} or a list.
struct Field {
  std::string key;
  enum Kind { kNumber, kText, kRegions, kList } kind = kNumber;
  double number = 0;
  std::string text;
  std::vector<std::vector<double>> regions;
  std::vector<double> list;
};
Field Num(const char* key, double v) { return {key, Field::kNumber, v, {}, {}, {}}; }
Field Text(const char* key, std::string v) { return {key, Field::kText, 0, std::move(v), {}, {}}; }
Field Regions(const char* key, int count, std::vector<double> region = {14, 0, 0, 5, 5}) {
  return {key, Field::kRegions, 0, {}, std::vector<std::vector<double>>(count, region), {}};
}
Field List(const char* key, std::vector<double> v) {
  return {key, Field::kList, 0, {}, {}, std::move(v)};
}

class CreateDisplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ConfigureHeadlessScreen(qvScreenSetup{});
    L = VmOpenState(CoreVmHost());
    SetProcessVm(L);
    ASSERT_EQ(OpenLibrary(L, kDisplayLibrary), 0);
  }
  void TearDown() override {
    FreeDisplaySubsystem(L);
    FreeRegistries();
    SetProcessVm(nullptr);
    VmCloseState(L);
  }
  void PushFields(const std::vector<Field>& fields) {
    VmNewTable(L);
    for (const Field& f : fields) {
      VmPushString(L, f.key.c_str());
      switch (f.kind) {
        case Field::kNumber:
          VmPushNumber(L, f.number);
          break;
        case Field::kText:
          VmPushString(L, f.text.c_str());
          break;
        case Field::kRegions: {
          VmNewTable(L);
          int i = 0;
          for (const auto& r : f.regions) {
            VmNewTable(L);
            const char* keys[] = {"type", "x", "y", "width", "height"};
            for (int k = 0; k < 5; ++k) SetFieldNumber(L, keys[k], r[k]);
            VmRawSetI(L, -2, i++);
          }
          break;
        }
        case Field::kList: {
          VmNewTable(L);
          int i = 0;
          for (double v : f.list) {
            if (v == -999) {
              VmPushString(L, "red");
            } else {
              VmPushNumber(L, v);
            }
            VmRawSetI(L, -2, i++);
          }
          break;
        }
      }
      VmSetTable(L, -3);
    }
  }
  // CreateDisplay(id, {fields}): the command's word (a result count or an error code).
  int32_t Create(double id, const std::vector<Field>& fields) {
    int top = VmGetTop(L);
    VmPushString(L, "createdisplay");
    VmGetTable(L, kGlobalsIndex);
    VmPushNumber(L, id);
    PushFields(fields);
    int32_t word = VmPCall(L, 2, 0, 0);
    VmSetTop(L, top);
    return word;
  }
  qvScriptState* L = nullptr;
};

std::vector<double> Stops(int n) {
  std::vector<double> v;
  for (int i = 0; i < n; ++i) {
    v.push_back(0x10101 * i);
    v.push_back(i / 100.0);
  }
  return v;
}

TEST_F(CreateDisplayTest, TagRules) {
  struct Case {
    const char* what;
    std::vector<Field> fields;
    int32_t want;
  };
  const std::string title255(255, 't');
  const std::vector<Case> kCases = {
      {"no tags", {}, 0},
      {"title of 255", {Text("title", title255)}, 0},
      {"title of 256", {Text("title", title255 + "t")}, ERR_WRONGUSAGE},
      {"width 0", {Num("width", 0)}, ERR_WRONGUSAGE},
      {"height -1", {Num("height", -1)}, ERR_WRONGUSAGE},
      {"too large to allocate", {Num("width", 100000), Num("height", 100000)}, ERR_MEM},
      {"fill style 0", {Num("fillstyle", 0)}, ERR_WRONGUSAGE},
      {"fill style 4", {Num("fillstyle", 4)}, ERR_WRONGUSAGE},
      {"colour fill", {Num("fillstyle", 1), Num("color", 0xFF00FF)}, 0},
      {"texture brush missing", {Num("fillstyle", 3), Num("texturebrush", 9)}, ERR_FINDBRUSH},
      {"scale mode 3", {Num("scalemode", 3)}, ERR_WRONGUSAGE},
      {"scale mode -1", {Num("scalemode", -1)}, ERR_WRONGUSAGE},
      {"scale width 0", {Num("scalewidth", 0)}, ERR_WRONGUSAGE},
      {"auto scale", {Num("scalemode", 1), Num("scalewidth", 320), Num("scaleheight", 240)}, 0},
      {"scale percentage",
       {Num("scalemode", 1), Text("scalewidth", "50%"), Num("scaleheight", 9)},
       0},
      {"64 drag regions", {Regions("dragregion", 64)}, 0},
      {"65 drag regions", {Regions("dragregion", 65)}, ERR_WRONGUSAGE},
      {"65 size regions", {Regions("sizeregion", 65)}, ERR_WRONGUSAGE},
      {"region not a box", {Regions("dragregion", 1, {13, 0, 0, 5, 5})}, ERR_WRONGUSAGE},
      {"region at x -1", {Regions("dragregion", 1, {14, -1, 0, 5, 5})}, ERR_WRONGUSAGE},
      {"region of width 0", {Regions("sizeregion", 1, {14, 0, 0, 0, 5})}, ERR_WRONGUSAGE},
      {"missing BGPic", {Num("bgpic", 77)}, ERR_FINDBGPIC},
      {"one stop", {Num("fillstyle", 2), List("gradientcolors", Stops(1))}, ERR_WRONGUSAGE},
      {"65 stops", {Num("fillstyle", 2), List("gradientcolors", Stops(65))}, ERR_INTERNAL},
      {"colour without position",
       {Num("fillstyle", 2), List("gradientcolors", {0xFF, 0.0, 0xFF00})},
       ERR_MISSINGPARAMTR},
      {"a text among the stops",
       {Num("fillstyle", 2), List("gradientcolors", {0xFF, 0.0, -999, 1.0})},
       ERR_NUMTABLEARG},
      {"stop position 1.5",
       {Num("fillstyle", 2), List("gradientcolors", {0xFF, 0.0, 0xFF00, 1.5})},
       ERR_WRONGUSAGE},
      {"radial balance 1.5",
       {Num("fillstyle", 2), Num("gradientstyle", 3), Num("gradientbalance", 1.5)},
       ERR_WRONGUSAGE},
      {"conical centre -0.1",
       {Num("fillstyle", 2), Num("gradientstyle", 4), Num("gradientcenterx", -0.1)},
       ERR_WRONGUSAGE},
      {"gradient style 5", {Num("fillstyle", 2), Num("gradientstyle", 5)}, ERR_WRONGUSAGE},
      {"two stops", {Num("fillstyle", 2), List("gradientcolors", Stops(2))}, 0},
      {"64 stops", {Num("fillstyle", 2), List("gradientcolors", Stops(64))}, 0},
      {"linear balance is not read",
       {Num("fillstyle", 2), Num("gradientstyle", 2), Num("gradientbalance", 1.5)},
       0},
      {"radial gradient", {Num("fillstyle", 2), Num("gradientstyle", 3)}, 0},
      // A value of the wrong type raises past the command; the record made so far is freed.
      {"a table for a switch", {Num("width", 20), Regions("borderless", 1)}, -1},
      {"a table for a gradient centre",
       {Num("fillstyle", 2), Num("gradientstyle", 3), Regions("gradientcenterx", 1)},
       -1},
  };
  for (const Case& c : kCases) {
    int32_t word = Create(5, c.fields);
    if (c.want == -1) {
      EXPECT_GE(word, 1000) << c.what;
    } else {
      EXPECT_EQ(word, c.want) << c.what;
    }
    if (c.want == ERR_NUMTABLEARG) {
      EXPECT_STREQ(GetErrorString(), "gradientcolors");
    }
    qvDisplay* d = nullptr;
    EXPECT_EQ(FindDisplay({5, nullptr}, &d), c.want == 0 ? 0 : ERR_FINDDISPLAY) << c.what;
    if (d != nullptr) {
      EXPECT_EQ(d->state, kDisplayClosed) << c.what;
      EXPECT_EQ(FreeDisplayCore(L, {5, nullptr}, true), 0);
    }
    EXPECT_EQ(*BGPicListHead(), nullptr) << c.what;  // the display's own BGPic went with it
  }
}

TEST_F(CreateDisplayTest, DefaultsAndScaling) {
  ASSERT_EQ(Create(1, {}), 0);
  qvDisplay* d = nullptr;
  ASSERT_EQ(FindDisplay({1, nullptr}, &d), 0);
  EXPECT_EQ(d->width, 640);
  EXPECT_EQ(d->height, 480);
  EXPECT_STREQ(d->title, "Quillvane");
  EXPECT_EQ(d->x, -100000);
  EXPECT_EQ(d->bgpic->width, 640);
  EXPECT_TRUE(d->ownBGPic);

  ASSERT_EQ(Create(2, {Num("width", 200), Num("height", 100), Num("scalemode", 1),
                       Text("scalewidth", "50%"), Text("scaleheight", "150%")}),
            0);
  ASSERT_EQ(FindDisplay({2, nullptr}, &d), 0);
  EXPECT_EQ(d->bgpic->width, 200);
  EXPECT_EQ(d->width, 100);  // the window takes the scale size
  EXPECT_EQ(d->height, 150);
  EXPECT_TRUE(IsScaledDisplay(d));
}

TEST_F(CreateDisplayTest, BGPicsAndTheCurrentDisplay) {
  ASSERT_EQ(Create(1, {}), 0);
  qvDisplay* first = nullptr;
  ASSERT_EQ(FindDisplay({1, nullptr}, &first), 0);
  qvObjectId picture{8, nullptr};
  ASSERT_EQ(CreateColorBGPic(&picture, false, 30, 20, 0x00FF00, nullptr), 0);
  ASSERT_EQ(Create(2, {Num("bgpic", 8), Num("width", 5)}), 0);
  qvDisplay* second = nullptr;
  ASSERT_EQ(FindDisplay({2, nullptr}, &second), 0);
  EXPECT_EQ(second->width, 30);  // the size comes from the BGPic; size tags are skipped
  EXPECT_FALSE(second->ownBGPic);
  EXPECT_EQ(Create(3, {Num("bgpic", 8)}), ERR_MULTIBGPIC);

  SetCurrentDisplay(first);
  EXPECT_EQ(Create(1, {}), ERR_FREEADISPLAY);
  EXPECT_EQ(Create(2, {}), 0);  // re-created: the old one is freed, its BGPic stays
  qvBGPic* bgpic = nullptr;
  EXPECT_EQ(FindBGPic(L, picture, &bgpic, 0), 0);
  SetCurrentDisplay(nullptr);

  // Nil asks for an automatic id: the handle comes back.
  int top = VmGetTop(L);
  VmPushString(L, "createdisplay");
  VmGetTable(L, kGlobalsIndex);
  VmPushNil(L);
  ASSERT_EQ(VmPCall(L, 1, 1, 0), 0);
  ASSERT_EQ(VmType(L, -1), kTypeLightUserdata);
  qvDisplay* automatic = nullptr;
  EXPECT_EQ(FindDisplay({0, VmToUserdata(L, -1)}, &automatic), 0);
  EXPECT_EQ(automatic, VmToUserdata(L, -1));
  VmSetTop(L, top);
}

}  // namespace
}  // namespace qv

namespace qv {
namespace {

TEST_F(CreateDisplayTest, TextureBackgroundsTileFromTheirOffsets) {
  // A 2 x 2 brush: 1 2 / 3 4.
  qvObjectId brushId{4, nullptr};
  qvBrush* brush = nullptr;
  ASSERT_EQ(AllocBrush(&brushId, false, 2, 2, 0, false, false, false, false, &brush), 0);
  WriteBitMapPixel(brush->bitmap, 0, 0, 1);
  WriteBitMapPixel(brush->bitmap, 1, 0, 2);
  WriteBitMapPixel(brush->bitmap, 0, 1, 3);
  WriteBitMapPixel(brush->bitmap, 1, 1, 4);
  ASSERT_EQ(Create(1, {Num("width", 5), Num("height", 3), Num("fillstyle", 3),
                       Num("texturebrush", 4), Num("texturex", 1), Num("texturey", -3)}),
            0);
  qvDisplay* d = nullptr;
  ASSERT_EQ(FindDisplay({1, nullptr}, &d), 0);
  // x starts at source column 1; y -3 becomes -3 mod 2 + 2 = 1.
  const uint32_t want[3][5] = {{4, 3, 4, 3, 4}, {2, 1, 2, 1, 2}, {4, 3, 4, 3, 4}};
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 5; ++x) {
      EXPECT_EQ(ReadBitMapPixel(d->bgpic->current.bitmap, x, y), want[y][x]) << x << "," << y;
    }
  }
}

TEST_F(CreateDisplayTest, WindowsTakeTheirDisplaysShapeAndRegions) {
  // A 40 x 30 BGPic whose mask leaves out the left half of the top row and whose alpha channel is
  // 0 in the right half of the bottom row.
  qvBitMap* bitmap = AllocBitMap(40, 30);
  qvPlane* mask = AllocMask(40, 30, true);
  qvPlane* alpha = AllocAlphaChannel(40, 30, true);
  ASSERT_TRUE(bitmap != nullptr && mask != nullptr && alpha != nullptr);
  FillBitMapRect(bitmap, 0, 0, 40, 30, 0x336699);
  std::vector<uint8_t> want(40 * 30, 1);
  for (int32_t y = 0; y < 30; ++y) {
    for (int32_t x = 0; x < 40; ++x) {
      WriteBitMapPixel(mask, x, y, y == 0 && x < 20 ? 1 : 0);  // mode 1 clears, 0 sets
      alpha->data[y * alpha->bytesPerRow + x] = y == 29 && x >= 20 ? 0 : 200;
      want[y * 40 + x] = (y == 0 && x < 20) || (y == 29 && x >= 20) ? 0 : 1;
    }
  }
  qvObjectId picture{5, nullptr};
  qvBGPic* bgpic = nullptr;
  ASSERT_EQ(AddBGPic(&picture, false, 0, 40, 30, 40, nullptr, bitmap, nullptr, -1, mask, alpha,
                     nullptr, &bgpic),
            0);
  ASSERT_EQ(
      Create(1, {Num("bgpic", 5), Num("sizeable", 1), Regions("dragregion", 1, {14, 2, 3, 4, 2}),
                 Regions("sizeregion", 1, {14, 0, 12, 3, 4})}),
      0);
  qvDisplay* d = nullptr;
  ASSERT_EQ(FindDisplay({1, nullptr}, &d), 0);
  ASSERT_EQ(OpenDisplayCore(L, d, true), 0);
  EXPECT_TRUE(d->flags & 1);  // an alpha channel makes the window borderless
  std::vector<uint8_t> solid;
  int32_t w = 0, h = 0;
  ASSERT_TRUE(GetWindowShape(d->window, &solid, &w, &h));
  EXPECT_EQ(w, 40);
  EXPECT_EQ(h, 30);
  EXPECT_EQ(solid, want);
  // The regions of the tags, in window coordinates.
  EXPECT_EQ(HitTestWindow(d->window, 2, 3), WindowHit::kDrag);
  EXPECT_EQ(HitTestWindow(d->window, 6, 3), WindowHit::kNormal);
  EXPECT_EQ(HitTestWindow(d->window, 1, 13), WindowHit::kSizeLeft);
  EXPECT_EQ(HitTestWindow(d->window, 38, 28), WindowHit::kNormal);  // no default size zone

  // Without a mask, alpha or regions: an unshaped window with the default drag strip (15 rows,
  // cut to the display) and the bottom-right size square.
  ASSERT_EQ(
      Create(2, {Num("width", 40), Num("height", 30), Num("borderless", 1), Num("sizeable", 1)}),
      0);
  ASSERT_EQ(FindDisplay({2, nullptr}, &d), 0);
  ASSERT_EQ(OpenDisplayCore(L, d, true), 0);
  EXPECT_FALSE(GetWindowShape(d->window, nullptr, nullptr, nullptr));
  EXPECT_EQ(HitTestWindow(d->window, 39, 14), WindowHit::kDrag);
  EXPECT_EQ(HitTestWindow(d->window, 39, 15), WindowHit::kNormal);
  EXPECT_EQ(HitTestWindow(d->window, 30, 20), WindowHit::kSizeBottomRight);
  EXPECT_EQ(HitTestWindow(d->window, 29, 29), WindowHit::kNormal);

  // A scaled display hands over its regions scaled to the window: twice the size here.
  ASSERT_EQ(Create(3, {Num("width", 40), Num("height", 30), Num("borderless", 1),
                       Num("scalemode", 1), Num("scalewidth", 80), Num("scaleheight", 60),
                       Regions("dragregion", 1, {14, 10, 10, 5, 5})}),
            0);
  ASSERT_EQ(FindDisplay({3, nullptr}, &d), 0);
  d->scaleX = d->scaleY = 2.0;  // as start-up sets them
  ASSERT_EQ(OpenDisplayCore(L, d, true), 0);
  EXPECT_EQ(HitTestWindow(d->window, 29, 29), WindowHit::kDrag);
  EXPECT_EQ(HitTestWindow(d->window, 30, 30), WindowHit::kNormal);
}

TEST_F(CreateDisplayTest, TheMainDisplay) {
  ASSERT_EQ(Create(1, {}), 0);
  qvDisplay* first = nullptr;
  ASSERT_EQ(FindDisplay({1, nullptr}, &first), 0);
  EXPECT_TRUE(IsMainDisplay(first));
  ASSERT_EQ(Create(2, {}), 0);
  qvDisplay* second = nullptr;
  ASSERT_EQ(FindDisplay({2, nullptr}, &second), 0);
  EXPECT_FALSE(IsMainDisplay(first));
  EXPECT_FALSE(IsMainDisplay(second));
  // A whole-screen display goes to the head; the one after it is the main display.
  ASSERT_EQ(FreeDisplayCore(L, {2, nullptr}, true), 0);
  ASSERT_EQ(Create(3, {Num("private1", 1)}), 0);
  EXPECT_EQ(reinterpret_cast<qvDisplay*>(*DisplayListHead())->header.id, 3);
  EXPECT_TRUE(IsMainDisplay(first));
}

TEST_F(CreateDisplayTest, PreloadedPicturesGetPlanesOfTheirOwn) {
  // A 3 x 1 picture from a pixel buffer whose middle pixel is the transparent colour, over a
  // colour fill.
  auto* buffer = new qvPixelBuffer{1, static_cast<uint32_t*>(std::malloc(4 * 4)), 4};
  const uint32_t pixels[4] = {0xFF112233, 0xFF00FF00, 0xFF445566, 0};
  std::memcpy(buffer->pixels, pixels, sizeof pixels);
  qvBackfillSettings settings{};
  settings.fillStyle = kFillColour;
  settings.colour = 0xABCDEF;
  qvObjectId id{6, nullptr};
  qvBGPic* bgpic = nullptr;
  ASSERT_EQ(AddBGPic(&id, false, 0, 3, 1, 4, buffer, nullptr, nullptr, 0x00FF00, nullptr, nullptr,
                     &settings, &bgpic),
            0);
  ASSERT_EQ(ResolvePreloadedBGPics(L), 0);
  EXPECT_EQ(bgpic->pixelBuffer, nullptr);
  ASSERT_NE(bgpic->current.bitmap, nullptr);
  EXPECT_EQ(bgpic->current.bitmap, bgpic->original.bitmap);
  EXPECT_EQ(bgpic->current.mask, nullptr);
  EXPECT_EQ(ReadBitMapPixel(bgpic->current.bitmap, 0, 0), 0x112233u);
  EXPECT_EQ(ReadBitMapPixel(bgpic->current.bitmap, 1, 0), 0xABCDEFu);
  EXPECT_EQ(ReadBitMapPixel(bgpic->current.bitmap, 2, 0), 0x445566u);
}

}  // namespace
}  // namespace qv
