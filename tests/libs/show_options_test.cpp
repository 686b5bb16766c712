// The options table of the commands that show an object: whatever refuses it, a returned code or
// a field of the wrong type, is reported after the object's own errors, as the command always
// did.
#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "base/errors.h"
#include "core/errors.h"
#include "core/registry.h"
#include "display/display.h"
#include "fixtures/display_setup.h"
#include "libs/libraries.h"
#include "platform/window_services.h"
#include "vm/vm.h"

namespace qv {
namespace {

using Option = std::variant<double, std::string>;
struct Options {
  bool table = true;  // false: the text "no table" stands in the options' place
  std::vector<std::pair<const char*, Option>> fields;
};

class ShowOptionsTest : public ::testing::Test {
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
    qvObjectId brush{1, nullptr};
    ASSERT_EQ(AllocBrush(&brush, false, 4, 4, 0xFF0000, false, false, false, false, nullptr), 0);
  }
  void TearDown() override {
    FreeDisplaySubsystem(L);
    FreeRegistries();
    SetProcessVm(nullptr);
    VmCloseState(L);
  }
  // The command with its numbers and the options last: the command's word.
  int32_t Call(const char* name, const std::vector<double>& numbers, const Options& options) {
    int top = VmGetTop(L);
    VmPushString(L, name);
    VmGetTable(L, kGlobalsIndex);
    for (double n : numbers) VmPushNumber(L, n);
    if (options.table) {
      VmNewTable(L);
      for (const auto& [key, value] : options.fields) {
        VmPushString(L, key);
        if (const double* n = std::get_if<double>(&value)) {
          VmPushNumber(L, *n);
        } else {
          VmPushString(L, std::get<std::string>(value).c_str());
        }
        VmSetTable(L, -3);
      }
    } else {
      VmPushString(L, "no table");
    }
    int32_t word = VmPCall(L, static_cast<int>(numbers.size()) + 1, 0, 0);
    EXPECT_EQ(VmGetTop(L), top) << name;
    VmSetTop(L, top);
    return word;
  }
  qvScriptState* L = nullptr;
};

TEST_F(ShowOptionsTest, TheObjectsOwnErrorsComeBeforeTheOptions) {
  const Options noTable{false, {}};
  const Options textScale{true, {{"scalex", std::string("wide")}}};
  const Options farAnchor{true, {{"anchorx", 5.0}}};
  struct Case {
    const char* what;
    const char* command;
    std::vector<double> numbers;
    Options options;
    int32_t want;
  };
  const Case cases[] = {
      // DisplayBrushPart(id, srcx, srcy, x, y, width, height, options)
      {"width 0, no table", "displaybrushpart", {1, 0, 0, 0, 0, 0, 2}, noTable, ERR_BADDIMENSIONS},
      {"width 0, a text scale",
       "displaybrushpart",
       {1, 0, 0, 0, 0, 0, 2},
       textScale,
       ERR_BADDIMENSIONS},
      {"no brush, a text scale",
       "displaybrushpart",
       {9, 0, 0, 0, 0, 2, 2},
       textScale,
       ERR_FINDBRUSH},
      {"a text scale", "displaybrushpart", {1, 0, 0, 0, 0, 2, 2}, textScale, ERR_NUMTABLEARG},
      {"no table", "displaybrushpart", {1, 0, 0, 0, 0, 2, 2}, noTable, ERR_TABEXPECTED},
      // DisplayBrush(id, x, y, options)
      {"no brush, an anchor beyond 1", "displaybrush", {9, 0, 0}, farAnchor, ERR_FINDBRUSH},
      {"an anchor beyond 1", "displaybrush", {1, 0, 0}, farAnchor, ERR_WRONGUSAGE},
      // DisplayBGPicPart(id, srcx, srcy, width, height, x, y, options)
      {"no BGPic, a text scale",
       "displaybgpicpart",
       {9, 0, 0, 2, 2, 0, 0},
       textScale,
       ERR_FINDBGPIC},
      {"the display's BGPic, a text scale",
       "displaybgpicpart",
       {-1, 0, 0, 2, 2, 0, 0},
       textScale,
       ERR_NUMTABLEARG},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Call(c.command, c.numbers, c.options), c.want) << c.what;
  }
  // The refusal of a field names it; that of the argument its position.
  ASSERT_EQ(Call("displaybrushpart", {1, 0, 0, 0, 0, 2, 2}, textScale), ERR_NUMTABLEARG);
  EXPECT_EQ(std::string(GetErrorString()), "scalex");
  ASSERT_EQ(Call("displaybrush", {1, 0, 0}, noTable), ERR_TABEXPECTED);
  EXPECT_EQ(GetErrorNumber(), 4);
}

}  // namespace
}  // namespace qv
