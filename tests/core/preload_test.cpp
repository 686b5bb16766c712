// Preloading through spy commands: every declared kind reaches its command with the arguments and
// option table it should, whether or not the command exists yet; pictures named again are shared
// through the image cache's options; a missing command or a failing one ends preloading naming
// the declaration.
#include "core/preload.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "core/errors.h"
#include "core/registry.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {
namespace {

std::vector<std::string> gCalls;
int32_t gFailId = -1;  // a spy call with this id fails with ERR_READ

std::string ValueText(qvScriptState* L, int index);

// A table as its keys in order with their values: {k=v, ...}.
std::string TableText(qvScriptState* L, int index) {
  index = VmAbsIndex(L, index);
  std::vector<std::pair<std::string, std::string>> items;
  VmPushNil(L);
  while (VmNext(L, index) != 0) {
    items.emplace_back(ValueText(L, -2), ValueText(L, -1));
    VmSetTop(L, -2);
  }
  std::sort(items.begin(), items.end());
  std::string text = "{";
  for (const auto& [key, value] : items) {
    if (text.size() > 1) text += ' ';
    text.append(key).append("=").append(value);
  }
  return text + "}";
}

std::string ValueText(qvScriptState* L, int index) {
  switch (VmType(L, index)) {
    case kTypeNumber: {
      char number[32];
      std::snprintf(number, sizeof number, "%.14g", VmToNumber(L, index));
      return number;
    }
    case kTypeString:
      return std::string("\"") + VmToString(L, index) + "\"";
    case kTypeTable:
      return TableText(L, index);
    default:
      return "?";
  }
}

// Records "name(arguments) line function quiet" and fails for the chosen id.
int32_t Spy(qvScriptState* L) {
  std::string call = VmToString(L, VmUpvalueIndex(1));
  call += "(";
  for (int i = 1; i <= VmGetTop(L); ++i) call += (i > 1 ? ", " : "") + ValueText(L, i);
  intptr_t quiet = 0;
  const qvAttrGetItem items[] = {{kAttrQuiet, &quiet}, {0, nullptr}};
  GetRuntimeAttrs(nullptr, items);
  call += ") line " + std::to_string(VmGetErrorLine(L)) + " " + GetCurrentFunctionName() +
          " quiet " + std::to_string(quiet);
  gCalls.push_back(call);
  if (VmType(L, 1) == kTypeNumber && VmToNumber(L, 1) == gFailId) return ERR_READ;
  return 0;
}

const char* const kCommands[] = {"loadbgpic",     "loadbrush",    "loadanim",   "openmusic",
                                 "loadsample",    "createbutton", "loadsprite", "openfile",
                                 "createkeydown", "openfont",     "openvideo",  "createdisplay"};

class PreloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    L = VmOpenState(CoreVmHost());
    ASSERT_NE(L, nullptr);
    SetProcessVm(L);
    for (const char* name : kCommands) {
      VmPushString(L, name);
      VmPushString(L, name);
      VmPushCClosure(L, Spy, 1);
      VmSetTable(L, kGlobalsIndex);
    }
    gCalls.clear();
    gFailId = -1;
    std::snprintf(state.scriptPath, sizeof state.scriptPath, "/apps/game.qva");
    state.appletOffset = 100;
  }
  void TearDown() override {
    ResetErrorFunctionName();
    FreeRegistries();
    SetProcessVm(nullptr);
    VmCloseState(L);
  }

  void Remove(const char* global) {
    VmPushString(L, global);
    VmPushNil(L);
    VmSetTable(L, kGlobalsIndex);
  }
  qvObjectDeclaration& Declare(int32_t kind, int32_t id, const std::string& file) {
    qvObjectDeclaration decl;
    decl.kind = kind;
    decl.id = id;
    decl.fileName = file;
    decl.extra1 = -1;
    decl.sourceLine = id * 10;
    settings.declarations.push_back(decl);
    return settings.declarations.back();
  }
  // The calls without the display that preloading adds.
  std::vector<std::string> ObjectCalls() const {
    std::vector<std::string> calls;
    for (const std::string& c : gCalls) {
      if (c.rfind("createdisplay", 0) != 0) calls.push_back(c);
    }
    return calls;
  }

  qvScriptState* L = nullptr;
  qvAppletSettings settings;
  qvPlayerState state;
};

TEST_F(PreloadTest, EachKindCallsItsCommandWithItsArgumentsAndOptions) {
  qvObjectDeclaration& bgpic = Declare(kDeclBGPic, 1, "back.png");
  qvBGPicDecl b;
  b.fillStyle = 2;
  b.gradient.startColor = 0x102030;
  b.gradient.endColor = 0xFFFFFF;
  b.gradient.colors = {{0xFF0000, 0.25}, {0x00FF00, 0.75}};
  bgpic.sub = b;
  bgpic.extra1 = 0xFF00FF;
  qvObjectDeclaration& brush = Declare(kDeclBrush, 2, "ship.png");
  brush.sub = qvBrushDecl{16, 8, 1, 2, -1, 1};
  brush.extra2 = 1;
  qvObjectDeclaration& anim = Declare(kDeclAnim, 3, "walk.gif");
  anim.sub = qvAnimDecl{1, 8, 8, 4, 2, 0, 0};
  Declare(kDeclMusic, 4, "song.ogg");
  Declare(kDeclSample, 5, "boom.wav");
  qvObjectDeclaration& button = Declare(kDeclButton, 6, "");
  button.sub = qvButtonDecl{{1, 2, 30, 40}};
  Declare(kDeclKeyHandler, 7, "ESC");
  qvObjectDeclaration& sprite = Declare(kDeclSprite, 8, "ball.png");
  sprite.sub = qvSpriteDecl{4, 4, 2, 2, 0, 4};
  qvObjectDeclaration& file = Declare(kDeclFile, 9, "data.txt");
  file.baseDirectory = "/levels";
  qvObjectDeclaration& font = Declare(kDeclFont, 10, "sans.ttf");
  font.extra1 = 12;
  font.extra2 = 0x10000 | 2;
  qvObjectDeclaration& video = Declare(kDeclVideo, 11, "intro.avi");
  video.linkedOffset = 5000;
  video.linkedLength = 77;
  video.callerFlag = 1;

  ASSERT_EQ(PreloadObjects(L, &settings, &state), 0);
  std::vector<std::string> want;
  want.push_back(
      "loadbgpic(1, \"back.png\", {\"fillstyle\"=2 \"gradientangle\"=0 \"gradientbalance\"=0.5 "
      "\"gradientborder\"=0 \"gradientcenterx\"=0.5 \"gradientcentery\"=0.5 "
      "\"gradientcolors\"={0=16711680 1=0.25 2=65280 3=0.75} \"gradientendcolor\"=16777215 "
      "\"gradientstartcolor\"=1056816 \"gradientstyle\"=2 \"loadalpha\"=0 "
      "\"transparency\"=16711935}) line 10 LoadBGPic quiet 0");
  want.push_back(
      "loadbrush(2, \"ship.png\", {\"hardware\"=1 \"height\"=8 \"loadalpha\"=1 \"width\"=16 "
      "\"x\"=1 \"y\"=2}) line 20 LoadBrush quiet 0");
  want.push_back(
      "loadanim(3, \"walk.gif\", {\"fpr\"=2 \"frames\"=4 \"fromdisk\"=1 \"height\"=8 "
      "\"loadalpha\"=0 \"width\"=8 \"x\"=0 \"y\"=0}) line 30 LoadAnim quiet 0");
  want.push_back("openmusic(4, \"song.ogg\") line 40 OpenMusic quiet 0");
  want.push_back("loadsample(5, \"boom.wav\") line 50 LoadSample quiet 0");
  want.push_back("createbutton(6, 1, 2, 30, 40) line 60 CreateButton quiet 0");
  want.push_back("createkeydown(7, \"ESC\") line 70 CreateKeyDown quiet 0");
  want.push_back(
      "loadsprite(8, \"ball.png\", {\"fpr\"=2 \"frames\"=2 \"height\"=4 \"loadalpha\"=0 "
      "\"width\"=4 \"x\"=0 \"y\"=4}) line 80 LoadSprite quiet 0");
  want.push_back("openfile(9, \"/levels/data.txt\", 1005) line 90 OpenFile quiet 0");
  want.push_back(
      "openfont(10, \"sans.ttf\", 12, {\"cache\"=0 \"engine\"=2}) line 100 OpenFont quiet 0");
  want.push_back(
      "openvideo(11, \":::chunk5100:77*intro.avi//apps/game.qva\") line 110 OpenVideo quiet 1");
  EXPECT_EQ(ObjectCalls(), want);
  ASSERT_EQ(gCalls.size(), want.size() + 1);
  EXPECT_EQ(gCalls.back().substr(0, 17), "createdisplay(1, ");
  EXPECT_TRUE(settings.declarations.empty());  // freed once made
}

TEST_F(PreloadTest, APictureNamedAgainIsDecodedOnceIntoTheCache) {
  // a.png: the brush decodes, the anim (which loads alpha) and the sprite take it from the cache;
  // b.png: an anim without frames decodes nothing for others, so the brush after it decodes for
  // the one after itself.
  Declare(kDeclBrush, 1, "a.png").sub = qvBrushDecl{};
  qvObjectDeclaration& anim = Declare(kDeclAnim, 2, "A.PNG");
  anim.sub = qvAnimDecl{0, 0, 0, 2, 0, 0, 0};
  anim.extra2 = 1;
  Declare(kDeclSprite, 3, "a.png").sub = qvSpriteDecl{0, 0, 1, 0, 0, 0};
  Declare(kDeclAnim, 4, "b.png").sub = qvAnimDecl{};
  Declare(kDeclBrush, 5, "b.png").sub = qvBrushDecl{};
  Declare(kDeclBrush, 6, "b.png").sub = qvBrushDecl{};
  Declare(kDeclSample, 7, "a.png");  // not a picture
  ASSERT_EQ(PreloadObjects(L, &settings, &state), 0);
  std::vector<std::string> calls = ObjectCalls();
  ASSERT_EQ(calls.size(), 7u);
  auto has = [&](size_t i, const std::string& part) {
    return calls[i].find(part) != std::string::npos;
  };
  EXPECT_TRUE(has(0, "\"cache\"=\"a.png\" \"cachealpha\"=1")) << calls[0];
  EXPECT_FALSE(has(0, "cachedload")) << calls[0];
  EXPECT_TRUE(has(1, "\"cachedload\"=\"A.PNG\"")) << calls[1];
  EXPECT_TRUE(has(2, "\"cachedload\"=\"a.png\"")) << calls[2];
  EXPECT_FALSE(has(3, "cache")) << calls[3];
  EXPECT_TRUE(has(4, "\"cache\"=\"b.png\" \"cachealpha\"=0")) << calls[4];
  EXPECT_FALSE(has(4, "cachedload")) << calls[4];  // the anim decoded nothing to share
  EXPECT_TRUE(has(5, "\"cachedload\"=\"b.png\"")) << calls[5];
  EXPECT_FALSE(has(5, "\"cache\"=")) << calls[5];
}

TEST_F(PreloadTest, AMissingOrFailingCommandEndsPreloadingNamingTheDeclaration) {
  Remove("loadanim");
  Declare(kDeclSample, 1, "a.wav");
  Declare(kDeclAnim, 2, "walk.gif").sub = qvAnimDecl{};
  Declare(kDeclSample, 3, "b.wav");
  EXPECT_EQ(PreloadObjects(L, &settings, &state), ERR_UNIMPLCMD);
  EXPECT_EQ(VmGetErrorLine(L), 20);
  EXPECT_STREQ(GetCurrentFunctionName(), "LoadAnim");
  EXPECT_EQ(gCalls.size(), 1u);

  gCalls.clear();
  settings.declarations.erase(settings.declarations.begin() + 1);
  gFailId = 1;
  EXPECT_EQ(PreloadObjects(L, &settings, &state), ERR_READ);
  EXPECT_EQ(VmGetErrorLine(L), 10);
  EXPECT_STREQ(GetCurrentFunctionName(), "LoadSample");
  EXPECT_EQ(gCalls.size(), 1u);
}

TEST_F(PreloadTest, ARequiredPluginIsDemandedBeforeAnyObject) {
  Declare(kDeclSample, 1, "a.wav");
  Declare(kDeclPlugin, 0, "fancy.qvp");
  EXPECT_EQ(PreloadObjects(L, &settings, &state), ERR_REQUIREPLUGIN);
  EXPECT_TRUE(gCalls.empty());
}

TEST_F(PreloadTest, TheAppletOrThePlayerBeingQuietSilencesEveryCommand) {
  Declare(kDeclSample, 1, "a.wav");
  state.quiet = 1;
  ASSERT_EQ(PreloadObjects(L, &settings, &state), 0);
  ASSERT_FALSE(gCalls.empty());
  EXPECT_NE(gCalls[0].find("quiet 1"), std::string::npos) << gCalls[0];
}

}  // namespace
}  // namespace qv
