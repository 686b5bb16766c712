// GetAttribute over an open headless display with a brush: one table of questions with their
// answers or error codes; and the frame and colour-depth commands of the graphics library.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <variant>
#include <vector>

#include "base/errors.h"
#include "core/args.h"
#include "core/errors.h"
#include "core/events.h"
#include "core/player_state.h"
#include "core/registry.h"
#include "display/display.h"
#include "libs/libraries.h"
#include "platform/loop.h"
#include "platform/window_services.h"
#include "tests/fixtures/script_call.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {
namespace {

using Value = qvtest::ScriptValue;
const Value kNil = qvtest::kNilValue;

class GraphicsAttribute : public ::testing::Test {
 protected:
  void SetUp() override {
    qvScreenSetup screen;
    screen.borderLeft = 3;
    screen.borderTop = 20;
    screen.borderRight = 5;
    screen.borderBottom = 4;
    ConfigureHeadlessScreen(screen);
    L = VmOpenState(CoreVmHost());
    SetProcessVm(L);
    for (const qvLibrary* lib :
         {&kGraphicsLibrary, &kEventLibrary, &kLayersLibrary, &kDisplayLibrary, &kSoundLibrary,
          &kBrushLibrary, &kBGPicLibrary, &kTextLibrary}) {
      ASSERT_EQ(OpenLibrary(L, *lib), 0);
    }
    qvDisplayTags tags;
    tags.width = 64;
    tags.height = 32;
    tags.title = "Attributes";
    tags.switchesGiven = tags.switchesOn = kDisplaySizeable;
    qvObjectId id{1, nullptr};
    ASSERT_EQ(CreateDisplayCore(L, &id, false, &tags, &display), 0);
    ASSERT_EQ(OpenDisplayCore(L, display, true), 0);
    SetCurrentDisplay(display);
    SetOutputTarget(display->bgpic);
    ASSERT_EQ(Call("createbrush", {7.0, 10.0, 6.0}).size(), 0u);
  }
  void TearDown() override {
    SetPlatformAttr(PlatformAttr::kFrameLimit, 0);
    FreeSoundLibrary(L);
    FreeEventLibrary(L);
    FreeDisplaySubsystem(L);
    FreeLayersLibrary();
    FreeTextLibrary(L);
    FreeRegistries();
    SetProcessVm(nullptr);
    VmCloseState(L);
  }
  // The results, or the error code alone (negated).
  std::vector<Value> Call(const char* name, const std::vector<Value>& args) {
    return qvtest::CallScriptCommand(L, name, args);
  }
  qvScriptState* L = nullptr;
  qvDisplay* display = nullptr;
};

constexpr double kDisplay = 21, kBGPic = 1, kBrush = 3, kEventHandler = 40, kInterval = 41,
                 kTimeout = 42, kFont = 43, kSprite = 32, kSample = 2, kLayer = 22, kTextOut = 9;
double Err(int code) { return -double(code); }

TEST_F(GraphicsAttribute, Table) {
  struct Case {
    const char* what;
    std::vector<Value> args;
    std::vector<Value> want;
  };
  const Case cases[] = {
      {"display width", {kDisplay, 1.0, 0.0}, {64.0}},
      {"display height", {kDisplay, 1.0, 1.0}, {32.0}},
      {"largest width: the screen less the frame", {kDisplay, 1.0, 2.0}, {1920.0 - 8}},
      {"largest height", {kDisplay, 1.0, 3.0}, {1080.0 - 24}},
      {"right frame edge", {kDisplay, 1.0, 26.0}, {5.0}},
      {"bottom frame edge", {kDisplay, 1.0, 27.0}, {4.0}},
      {"screen depth", {kDisplay, 1.0, 56.0}, {32.0}},
      {"title", {kDisplay, 1.0, 51.0}, {std::string("Attributes")}},
      {"state", {kDisplay, 1.0, 40.0}, {1.0}},
      {"windowed", {kDisplay, 1.0, 42.0}, {1.0}},
      {"sizeable", {kDisplay, 1.0, 48.0}, {1.0}},
      {"not borderless", {kDisplay, 1.0, 46.0}, {0.0}},
      {"not scaled: the display's size", {kDisplay, 1.0, 44.0}, {64.0}},
      {"right margin", {kDisplay, 1.0, 53.0}, {63.0}},
      {"output device: the display", {kDisplay, 1.0, 54.0}, {21.0, 1.0, 0.0}},
      {"no double buffer", {kDisplay, 1.0, 55.0}, {0.0}},
      {"mask mode", {kDisplay, 1.0, 63.0}, {0.0}},
      {"alpha intensity", {kDisplay, 1.0, 64.0}, {-1.0}},
      {"layers off", {kDisplay, 1.0, 69.0}, {0.0}},
      {"no pointer image", {kDisplay, 1.0, 38.0}, {kNil}},
      {"displays counted without an id", {kDisplay, 99.0, 60.0}, {1.0}},
      // A display's font attributes are the current font's: the built-in 8-pixel one.
      {"font ascender: the baseline", {kDisplay, 1.0, 30.0}, {6.0}},
      {"font descender: the rows below it", {kDisplay, 1.0, 31.0}, {2.0}},
      {"font name", {kDisplay, 1.0, 32.0}, {std::string("topaz")}},
      {"font size", {kDisplay, 1.0, 33.0}, {8.0}},
      {"font not scalable", {kDisplay, 1.0, 34.0}, {0.0}},
      {"font not anti-aliased", {kDisplay, 1.0, 35.0}, {0.0}},
      {"fonts counted without one", {kFont, 0.0, 60.0}, {0.0}},
      {"a missing font", {kFont, 4.0, 32.0}, {Err(ERR_FINDFONT2)}},
      {"an unknown attribute", {kDisplay, 1.0, 99.0}, {Err(ERR_UNKNOWNATTR)}},
      {"a missing display", {kDisplay, 2.0, 0.0}, {Err(ERR_FINDDISPLAY)}},
      {"brush width", {kBrush, 7.0, 0.0}, {10.0}},
      {"brush without transparency", {kBrush, 7.0, 5.0}, {4294967295.0}},
      {"brush raster", {kBrush, 7.0, 9.0}, {0.0}},
      {"brush without mask", {kBrush, 7.0, 16.0}, {0.0}},
      {"brush without alpha", {kBrush, 7.0, 17.0}, {0.0}},
      {"brush count", {kBrush, 0.0, 60.0}, {1.0}},
      {"a title is no brush's", {kBrush, 7.0, 51.0}, {Err(ERR_UNKNOWNATTR)}},
      {"a missing brush", {kBrush, 8.0, 0.0}, {Err(ERR_FINDBRUSH)}},
      {"BGPics counted", {kBGPic, 0.0, 60.0}, {1.0}},
      {"a missing BGPic", {kBGPic, 5.0, 0.0}, {Err(ERR_FINDBGPIC)}},
      {"no handler installed", {kEventHandler, std::string("OnKeyDown"), 58.0}, {kNil}},
      {"an unknown event", {kEventHandler, std::string("OnNothing"), 58.0}, {Err(ERR_WRONGUSAGE)}},
      {"a handler has no width",
       {kEventHandler, std::string("onkeyup"), 0.0},
       {Err(ERR_UNKNOWNATTR)}},
      {"intervals counted", {kInterval, 0.0, 60.0}, {0.0}},
      {"a missing interval", {kInterval, 3.0, 58.0}, {Err(ERR_FINDINTERVAL)}},
      {"a missing time-out", {kTimeout, 3.0, 59.0}, {Err(ERR_FINDTIMEOUT)}},
      {"sprites counted before sprites", {kSprite, 0.0, 60.0}, {0.0}},
      {"a missing sprite", {kSprite, 1.0, 0.0}, {Err(ERR_FINDSPRITE)}},
      {"a missing sample", {kSample, 1.0, 14.0}, {Err(ERR_FINDSAMPLE)}},
      {"a missing layer by name", {kLayer, std::string("top"), 0.0}, {Err(ERR_FINDLAYER)}},
      {"a missing layer by number", {kLayer, 1.0, 0.0}, {Err(ERR_LAYERRANGE)}},
      {"a kind without attributes", {kTextOut, 1.0, 0.0}, {Err(ERR_WRONGUSAGE)}},
      {"two arguments", {kDisplay, 1.0}, {Err(ERR_MISSINGPARAMTR)}},
  };
  for (const Case& c : cases) EXPECT_EQ(Call("getattribute", c.args), c.want) << c.what;
}

TEST_F(GraphicsAttribute, TheOutputDeviceFollowsSelectionsAndDoubleBuffering) {
  auto device = [&] { return Call("getattribute", {kDisplay, 1.0, 54.0}); };
  ASSERT_TRUE(Call("selectalphachannel", {7.0}).empty());
  EXPECT_EQ(device(), std::vector<Value>({kBrush, 7.0, 30.0}));
  ASSERT_TRUE(Call("endselect", {}).empty());
  ASSERT_TRUE(Call("selectbrush", {7.0}).empty());
  EXPECT_EQ(device(), std::vector<Value>({kBrush, 7.0, 3.0}));
  ASSERT_TRUE(Call("endselect", {}).empty());
  ASSERT_TRUE(Call("begindoublebuffer", {}).empty());
  EXPECT_EQ(device(), std::vector<Value>({38.0, 0.0, 0.0}));
  EXPECT_EQ(Call("getattribute", {kDisplay, 1.0, 55.0}), std::vector<Value>{1.0});
  // A selection suspends double buffering, which still counts.
  ASSERT_TRUE(Call("selectmask", {7.0}).empty());
  EXPECT_EQ(device(), std::vector<Value>({kBrush, 7.0, 28.0}));
  EXPECT_EQ(Call("getattribute", {kDisplay, 1.0, 55.0}), std::vector<Value>{1.0});
}

TEST_F(GraphicsAttribute, AnInstalledHandlerAndItsUserData) {
  OpenInputDisplay();
  qvHandlerSlot& slot = CurrentDisplayInput()->handlers[kOnMouseMove];
  VmPushString(L, "handler");
  slot.callback = VmRef(L, kRegistryIndex);
  VmPushNumber(L, 17);
  slot.userdata = VmRef(L, kRegistryIndex);
  EXPECT_EQ(Call("getattribute", {kEventHandler, std::string("OnMouseMove"), 58.0}),
            std::vector<Value>{std::string("handler")});
  EXPECT_EQ(Call("getattribute", {kEventHandler, std::string("onmousemove"), 59.0}),
            std::vector<Value>{17.0});
  CloseInputDisplay(L);
}

TEST_F(GraphicsAttribute, FrameLimitAndRealColours) {
  using V = std::vector<Value>;
  // The display's window opened: the limit is the refresh rate, 60 headless.
  EXPECT_EQ(Call("getfpslimit", {}), V{60.0});
  EXPECT_TRUE(Call("setfpslimit", {50.0}).empty());
  EXPECT_EQ(Call("getfpslimit", {}), V{50.0});
  EXPECT_TRUE(Call("setfpslimit", {-3.0}).empty());
  EXPECT_EQ(Call("getfpslimit", {}), V{0.0});
  RecordWindowCalls(true);
  EXPECT_TRUE(Call("vwait", {}).empty());
  auto calls = TakeWindowCalls();
  RecordWindowCalls(false);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].call, WindowCall::kPresent);
  EXPECT_EQ(calls[0].window, display->window);

  EXPECT_EQ(Call("getrealcolor", {double(0x123457)}), V{double(0x123457)});
  for (auto [depth, want] : {std::pair{16, 0x103450}, {15, 0x103050}}) {
    qvScreenSetup screen;
    screen.depth = depth;
    ConfigureHeadlessScreen(screen);
    EXPECT_EQ(Call("getrealcolor", {double(0x123457)}), V{double(want)}) << depth;
  }
}

TEST_F(GraphicsAttribute, GetPenReadsThePaletteThePictureLoaderKept) {
  // A target without a palette answers "no colour" for every pen.
  EXPECT_EQ(Call("getpen", {3.0}), std::vector<Value>{4294967295.0});
  // The loader keeps an ILBM's palette when asked: the file's CMAP entries, black behind them.
  const std::string ilbm = std::string(QV_PICTURE_FIXTURES) + "/ilbm_byterun.ilbm";
  std::ifstream in(ilbm, std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  const std::string cmap = "CMAP";
  auto at = size_t(std::search(bytes.begin(), bytes.end(), cmap.begin(), cmap.end()) -
                   bytes.begin()) +
            4;
  ASSERT_LT(at + 4, bytes.size());
  const size_t entries = (size_t(bytes[at]) << 24 | size_t(bytes[at + 1]) << 16 |
                          size_t(bytes[at + 2]) << 8 | bytes[at + 3]) /
                         3;
  ASSERT_GE(entries, 2u);
  qvLoadedPicture picture{};
  uint32_t* palette = nullptr;
  ASSERT_EQ(LoadPictureWithPlugins(ilbm.c_str(), nullptr, false, &picture, &palette), 0);
  ReleasePixelBuffer(picture.buffer);
  ASSERT_NE(palette, nullptr);
  for (size_t i = 0; i < 256; ++i) {
    const uint8_t* rgb = bytes.data() + at + 4 + 3 * i;
    uint32_t want = i < entries ? uint32_t(rgb[0]) << 16 | uint32_t(rgb[1]) << 8 | rgb[2] : 0;
    ASSERT_EQ(palette[i], want) << i;
  }
  // Pens outside 0..255 are held at the ends. The BGPic frees its palette.
  display->bgpic->ownedBlock = palette;
  palette[255] = 0xABCDEF;
  for (double pen : {0.0, 1.0, -7.0, 255.0, 300.0}) {
    int index = pen < 0 ? 0 : pen > 255 ? 255 : int(pen);
    EXPECT_EQ(Call("getpen", {pen}), std::vector<Value>{double(palette[index])}) << pen;
  }
  // Pictures of other formats bring none.
  const std::string png = std::string(QV_PNG_FIXTURES) + "/grey1.png";
  uint32_t* none = palette;
  ASSERT_EQ(LoadPictureWithPlugins(png.c_str(), nullptr, false, &picture, &none), 0);
  ReleasePixelBuffer(picture.buffer);
  EXPECT_EQ(none, nullptr);
}

}  // namespace
}  // namespace qv
