// Display options read from a script table into the transform and the layer options (the matrix
// built for a 100 x 50 object, as display/ builds it), and the defaults of the draw commands.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "base/errors.h"
#include "core/args.h"
#include "core/errors.h"
#include "core/registry.h"
#include "display/display.h"
#include "libs/libraries.h"
#include "libs/options/options.h"
#include "vm/vm.h"

namespace qv {
namespace {

// A value pushed by a function of the test's own: filter lists and other nested tables.
using Push = std::function<void(qvScriptState*)>;
using Value = std::variant<double, std::string, std::vector<double>, Push>;
struct Field {
  const char* key;
  Value value;
};

struct ParseRun {
  std::vector<Field> fields;
  bool asTable;
  int32_t flags;
  qvTransformBlock block;
  qvLayerOptions options;
  int code;
};

void ParseBody(qvScriptState* L, void* data) {
  auto* run = static_cast<ParseRun*>(data);
  VmSetTop(L, 0);
  if (run->asTable) {
    VmNewTable(L);
    for (const Field& f : run->fields) {
      VmPushString(L, f.key);
      if (const double* n = std::get_if<double>(&f.value)) {
        VmPushNumber(L, *n);
      } else if (const std::string* s = std::get_if<std::string>(&f.value)) {
        VmPushString(L, s->c_str());
      } else if (const Push* push = std::get_if<Push>(&f.value)) {
        (*push)(L);
      } else {
        VmNewTable(L);
        int i = 0;
        for (double v : std::get<std::vector<double>>(f.value)) {
          VmPushNumber(L, v);
          VmRawSetI(L, -2, i++);
        }
      }
      VmSetTable(L, -3);
    }
  } else {
    VmPushNumber(L, 5);
  }
  InitDisplayOptions(&run->block, &run->options, 0, 0, 1, run->flags);
  bool build = false;
  run->code = ReadDisplayOptions(L, 1, 1, run->flags, &run->block, &run->options, &build);
  if (run->code == 0 && build) {
    BuildTransformMatrix(&run->block, run->block.width, run->block.height, 100, 50,
                         run->block.scaleX, run->block.scaleY, run->block.rotate);
  }
  VmSetTop(L, 0);
}

class DisplayOptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    L = VmOpenState(CoreVmHost());
    SetProcessVm(L);
    ASSERT_EQ(OpenLibrary(L, kGraphicsLibrary), 0);
  }
  void TearDown() override {
    ResetDisplayOptionDefaults();
    FreeRegistries();
    SetProcessVm(nullptr);
    VmCloseState(L);
  }
  // The reader's code, or the code raised through the machine.
  int Parse(std::vector<Field> fields, int32_t flags = 0, bool asTable = true) {
    run = ParseRun{std::move(fields), asTable, flags, {}, {}, 0};
    int32_t raised = VmRunProtected(L, ParseBody, &run);
    return raised != 0 ? raised : run.code;
  }
  // SetDrawTagsDefault with the table on the stack: the command's word.
  int32_t SetDrawTagsDefault() {
    VmPushString(L, "setdrawtagsdefault");
    VmGetTable(L, kGlobalsIndex);
    VmInsert(L, -2);
    return VmPCall(L, 1, 0, 0);
  }
  std::vector<double> Matrix() const {
    const double* m = run.block.matrix;
    return {m[0], m[1], m[2], m[3]};
  }
  qvScriptState* L = nullptr;
  ParseRun run{};
};

using V = std::vector<double>;

TEST_F(DisplayOptionsTest, TransformKeys) {
  struct Case {
    const char* what;
    std::vector<Field> fields;
    int32_t flags;
    int code;
    V matrix;
  };
  const Case cases[] = {
      {"nothing given", {}, 0, 0, {1, 0, 0, 1}},
      {"scalex alone leaves the size unread",
       {{"scalex", 2.0}, {"width", 400.0}},
       0,
       0,
       {2, 0, 0, 1}},
      {"a size scales to it", {{"width", 200.0}, {"height", 25.0}}, 0, 0, {2, 0, 0, 0.5}},
      {"the size not read", {{"width", 200.0}}, kOptNoSize, 0, {1, 0, 0, 1}},
      {"a scale of 0", {{"scaley", 0.0}}, 0, ERR_WRONGUSAGE, {}},
      {"a given matrix", {{"transform", V{1, 0.5, 0, 2}}}, 0, 0, {1, 0.5, 0, 2}},
      {"a given matrix wins over scales",
       {{"transform", V{3, 0, 0, 3}}, {"scalex", 2.0}},
       0,
       0,
       {3, 0, 0, 3}},
      {"a given matrix with a 0", {{"transform", V{0, 1, -1, 1}}}, 0, ERR_WRONGUSAGE, {}},
      {"a given matrix with d 0", {{"transform", V{1, 0, 0, 0}}}, 0, ERR_WRONGUSAGE, {}},
      {"a matrix short of an item", {{"transform", V{1, 0, 0}}}, 0, ERR_MISSINGPARAMTR, {}},
      {"a matrix that is no table", {{"transform", 1.0}}, 0, ERR_TABEXPECTED2, {}},
      {"the rotation not read", {{"rotate", 90.0}}, kOptNoRotate, 0, {1, 0, 0, 1}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Parse(c.fields, c.flags), c.code) << c.what;
    if (c.code == 0) {
      EXPECT_EQ(Matrix(), c.matrix) << c.what;
    }
  }
  ASSERT_EQ(Parse({{"transform", V{1, 0.5, 0, 2}}}), 0);
  EXPECT_EQ(run.block.matrixGiven, 1);
  ASSERT_EQ(Parse({{"scalex", 2.0}}), 0);
  EXPECT_EQ(run.block.matrixGiven, 0);
}

TEST_F(DisplayOptionsTest, RotationsTurnClockwiseOnScreen) {
  ASSERT_EQ(Parse({{"rotate", 90.0}}), 0);
  // 90 degrees: x' = -y ... as the matrix {c, s, -s, c} of 270 degrees gives it.
  V m = Matrix();
  EXPECT_NEAR(m[0], 0, 1e-12);
  EXPECT_NEAR(m[1], -1, 1e-12);
  EXPECT_NEAR(m[2], 1, 1e-12);
  EXPECT_NEAR(m[3], 0, 1e-12);
  ASSERT_EQ(Parse({{"rotate", 10.0}}), 0);
  V ten = Matrix();
  ASSERT_EQ(Parse({{"rotate", 370.0}}), 0);
  EXPECT_EQ(Matrix(), ten);
  EXPECT_EQ(run.block.rotate, 10.0);
  ASSERT_EQ(Parse({{"rotate", -10.0}}), 0);
  V back = Matrix();
  EXPECT_NEAR(back[0], ten[0], 1e-12);
  EXPECT_NEAR(back[1], -ten[1], 1e-12);
  EXPECT_GT(back[1], 0.1);
  // A rotation of a scaled picture: the scales stay on their axes.
  ASSERT_EQ(Parse({{"rotate", 90.0}, {"width", 200.0}, {"height", 150.0}}), 0);
  m = Matrix();
  EXPECT_NEAR(m[1], -2, 1e-12);
  EXPECT_NEAR(m[2], 3, 1e-12);
  // Only with the flag does a rotation take the caller's smooth flag.
  ASSERT_EQ(Parse({{"rotate", 45.0}}), 0);
  EXPECT_EQ(run.block.smoothScale, 1);
  ASSERT_EQ(Parse({{"rotate", 45.0}}, kOptRotationSmooth), 0);
  EXPECT_EQ(run.block.smoothScale, 1);
  ASSERT_EQ(Parse({{"rotate", 0.0}}, kOptRotationSmooth), 0);
  EXPECT_EQ(run.block.smoothScale, 0);
}

TEST_F(DisplayOptionsTest, AnchorsSmoothingAndTransparency) {
  struct Case {
    const char* what;
    std::vector<Field> fields;
    int code;
    double anchorX, anchorY;
    int32_t smooth, transparency;
  };
  const Case cases[] = {
      {"anchors inside 0..1", {{"anchorx", 0.5}, {"anchory", 1.0}}, 0, 0.5, 1.0, 1, 0},
      {"an anchor beyond 1", {{"anchorx", 1.5}}, ERR_WRONGUSAGE, 0, 0, 0, 0},
      {"an anchor below 0", {{"anchory", -0.1}}, ERR_WRONGUSAGE, 0, 0, 0, 0},
      {"smoothing switched off", {{"smoothscale", 0.0}}, 0, 0, 0, 0, 0},
      {"transparency clamped above", {{"transparency", 300.0}}, 0, 0, 0, 1, 255},
      {"transparency clamped below", {{"transparency", -5.0}}, 0, 0, 0, 1, 0},
      {"transparency as a percentage of 255",
       {{"transparency", std::string("50%")}},
       0,
       0,
       0,
       1,
       127},
      {"a huge transparency", {{"transparency", 1e300}}, 0, 0, 0, 1, 255},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Parse(c.fields), c.code) << c.what;
    if (c.code != 0) continue;
    EXPECT_EQ(run.block.anchorX, c.anchorX) << c.what;
    EXPECT_EQ(run.block.anchorY, c.anchorY) << c.what;
    EXPECT_EQ(run.block.smoothScale, c.smooth) << c.what;
    EXPECT_EQ(run.options.transparency, c.transparency) << c.what;
    EXPECT_EQ(run.options.renderNeeded, c.transparency != 0) << c.what;
  }
}

TEST_F(DisplayOptionsTest, TheArgumentItself) {
  EXPECT_EQ(Parse({}, 0, false), 0);
  EXPECT_EQ(Parse({}, kOptTableRequired, false), ERR_TABEXPECTED);
  EXPECT_EQ(GetErrorNumber(), 1);
  // An absent argument reads nothing even when a table is required.
  qvTransformBlock block{};
  InitDisplayOptions(&block, nullptr, 0, 0, 0, 0);
  bool build = true;
  EXPECT_EQ(ReadDisplayOptions(L, 3, 0, kOptTableRequired, &block, nullptr, &build), 0);
  EXPECT_EQ(block.scaleX, 1.0);
  EXPECT_FALSE(build);
}

TEST_F(DisplayOptionsTest, DefaultsChangeOnlyWhenTheWholeTableReads) {
  ASSERT_EQ(Parse({{"scalex", 2.0}, {"transparency", 10.0}}), 0);
  VmSetTop(L, 0);
  VmNewTable(L);
  SetFieldNumber(L, "scalex", 3);
  SetFieldNumber(L, "transparency", 20);
  SetFieldNumber(L, "shadow", 1);
  SetFieldNumber(L, "shadowsize", 9);
  SetFieldNumber(L, "bordersize", 5);
  ASSERT_EQ(SetDrawTagsDefault(), 0);
  qvTransformBlock block{};
  qvLayerOptions options{};
  InitDisplayOptions(&block, &options, 0, 0, 0, 0);
  EXPECT_EQ(block.matrix[0], 3.0);
  EXPECT_EQ(options.transparency, 20);
  // The default shadow and border blocks are replaced with the rest; what the table left out
  // keeps its default.
  EXPECT_EQ(options.shadow.on, 1);
  EXPECT_EQ(options.shadow.size, 9);
  EXPECT_EQ(options.shadow.radius, 5.0);
  EXPECT_EQ(options.border.size, 5);
  EXPECT_EQ(options.border.on, 0);

  VmSetTop(L, 0);
  VmNewTable(L);
  SetFieldNumber(L, "scalex", 5);
  SetFieldNumber(L, "anchorx", 2);
  EXPECT_EQ(SetDrawTagsDefault(), ERR_WRONGUSAGE);
  InitDisplayOptions(&block, &options, 0, 0, 0, 0);
  EXPECT_EQ(block.matrix[0], 3.0);
  VmSetTop(L, 0);
}

// A list (from index 0) of the pushed values.
Push List(std::vector<Push> items) {
  return [items](qvScriptState* L) {
    VmNewTable(L);
    for (size_t i = 0; i < items.size(); ++i) {
      items[i](L);
      VmRawSetI(L, -2, static_cast<int>(i));
    }
  };
}
Push Number(double n) {
  return [n](qvScriptState* L) { VmPushNumber(L, n); };
}
Push Text(std::string text) {
  return [text](qvScriptState* L) { VmPushString(L, text.c_str()); };
}
// A table of the given fields (a filter list entry).
Push Table(std::vector<std::pair<const char*, Push>> fields) {
  return [fields](qvScriptState* L) {
    VmNewTable(L);
    for (const auto& [key, push] : fields) {
      VmPushString(L, key);
      push(L);
      VmSetTable(L, -3);
    }
  };
}
// {name = name, priority = priority, args = {args...}}; a negative priority is left out.
Push Filter(const char* name, double priority = -1, std::vector<Push> args = {}) {
  std::vector<std::pair<const char*, Push>> fields{{"name", Text(name)}};
  if (priority >= 0) fields.emplace_back("priority", Number(priority));
  if (!args.empty()) fields.emplace_back("args", List(std::move(args)));
  return Table(std::move(fields));
}

TEST_F(DisplayOptionsTest, LayerKeysAndTheirCodes) {
  struct Case {
    const char* what;
    std::vector<Field> fields;
    int code;
    std::string errorText;  // the message's argument, where the code has one
  };
  const std::string longest(255, 'n');
  const Case cases[] = {
      {"a negative insert position", {{"insertpos", -1.0}}, ERR_INVINSERT, ""},
      {"insert position 0 is the caller's own", {{"insertpos", 0.0}}, 0, ""},
      {"a shadow radius below 1", {{"shadow", 1.0}, {"shadowradius", 0.99}}, ERR_WRONGUSAGE, ""},
      {"a negative shadow size", {{"shadow", 1.0}, {"shadowsize", -1.0}}, ERR_WRONGUSAGE, ""},
      {"a shadow sigma of 0", {{"shadow", 1.0}, {"shadowsigma", 0.0}}, ERR_WRONGUSAGE, ""},
      {"a shadow sigma of NaN", {{"shadow", 1.0}, {"shadowsigma", NAN}}, ERR_WRONGUSAGE, ""},
      {"shadow keys of a shadow that is off are not read",
       {{"shadow", 0.0}, {"shadowradius", 0.0}, {"shadowsigma", -1.0}},
       0,
       ""},
      {"a border of size 0", {{"border", 1.0}, {"bordersize", 0.0}}, ERR_WRONGUSAGE, ""},
      {"a border that is off may have size 0", {{"bordersize", 0.0}}, 0, ""},
      {"the edge names are not the display options'",
       {{"border", 1.0}, {"edgesize", 0.0}, {"outlinethickness", 0.0}},
       0,
       ""},
      {"filters that are no table", {{"filters", 1.0}}, ERR_TABEXPECTED2, "filters"},
      {"a filter entry that is no table",
       {{"filters", List({Filter("blur"), Number(3)})}},
       ERR_TABEXPECTED2,
       "filters"},
      {"a filter entry without a name",
       {{"filters", List({Filter("blur"), Table({{"priority", Number(1)}})})}},
       ERR_NOFILTERNAME,
       "1"},
      {"a filter name that is no text",
       {{"filters", List({Table({{"name", Number(7)}})})}},
       ERR_STRTABLEARG,
       "name"},
      {"an unknown filter", {{"filters", List({Filter("blurry")})}}, ERR_UNKNOWNFILTER, "blurry"},
      {"a priority that is no number",
       {{"filters", List({Table({{"name", Text("blur")}, {"priority", Text("high")}})})}},
       ERR_NUMTABLEARG,
       "priority"},
      {"an argument that is no number",
       {{"filters", List({Filter("gamma", 0, {Number(1), Text("x")})})}},
       ERR_NUMTABLEARG,
       "args"},
      {"arguments that are no list",
       {{"filters", List({Table({{"name", Text("blur")}, {"args", Number(2)}})})}},
       ERR_TABEXPECTED2,
       "args"},
      {"a name of 255 characters", {{"name", longest}}, 0, ""},
      {"a name of 256 characters", {{"name", longest + "n"}}, ERR_NAMETOOLONG, ""},
  };
  for (const Case& c : cases) {
    SetErrorString("");
    EXPECT_EQ(Parse(c.fields), c.code) << c.what;
    if (!c.errorText.empty()) {
      EXPECT_STREQ(GetErrorString(), c.errorText.c_str()) << c.what;
    }
  }
}

TEST_F(DisplayOptionsTest, LayerKeysStoredAndTheirDefaults) {
  // Nothing given: the default blocks, and nothing to recompose.
  ASSERT_EQ(Parse({}), 0);
  const qvLayerOptions& o = run.options;
  EXPECT_EQ(o.shadow.on, 0);
  EXPECT_EQ(o.shadow.colour, 0x80000000u);
  EXPECT_EQ(o.shadow.size, 4);
  EXPECT_EQ(o.shadow.direction, kShadowSouthEast);
  EXPECT_EQ(o.shadow.radius, 5.0);
  EXPECT_EQ(o.shadow.sigma, 5.0 / 3.0);
  EXPECT_EQ(o.border.colour, 0u);
  EXPECT_EQ(o.border.size, 2);
  EXPECT_EQ(o.renderNeeded, 0);
  EXPECT_FALSE(HasActiveFilters(o.filters));

  // Each key alone that makes the object need its layer recomposed.
  struct Case {
    const char* what;
    std::vector<Field> fields;
  };
  const Case recompose[] = {
      {"hidden", {{"hidden", 1.0}}},
      {"a shadow", {{"shadow", 1.0}}},
      {"a border", {{"border", 1.0}}},
      {"a tint", {{"tint", 1.0}}},
      {"a filter", {{"filters", List({Filter("invert")})}}},
  };
  for (const Case& c : recompose) {
    ASSERT_EQ(Parse(c.fields), 0) << c.what;
    EXPECT_EQ(run.options.renderNeeded, 1) << c.what;
  }

  ASSERT_EQ(Parse({{"shadow", 1.0},
                   {"shadowcolor", double{0x40102030}},
                   {"shadowdir", 6.0},
                   {"shadowsize", 0.0},
                   {"shadowradius", 1.0},
                   {"shadowsigma", 0.5},
                   {"border", 1.0},
                   {"bordercolor", double{0xFF00FF00}},
                   {"bordersize", 1.0},
                   {"name", std::string("Sky")}}),
            0);
  EXPECT_EQ(o.shadow.colour, 0x40102030u);
  EXPECT_EQ(o.shadow.direction, 6);
  EXPECT_EQ(o.shadow.size, 0);
  EXPECT_EQ(o.shadow.radius, 1.0);
  EXPECT_EQ(o.shadow.sigma, 0.5);
  EXPECT_EQ(o.border.on, 1);
  EXPECT_EQ(o.border.colour, 0xFF00FF00u);
  EXPECT_EQ(o.border.size, 1);
  EXPECT_STREQ(o.name, "Sky");

  // The tint: a level (clamped, or a percentage of 255) and its colour; a tint of its own tints
  // towards white, as a "tint" filter without arguments does.
  ASSERT_EQ(Parse({{"tint", 300.0}}), 0);
  EXPECT_EQ(o.filters[kFilterTint].on, 1);
  EXPECT_EQ(o.filters[kFilterTint].ints[1], 255);
  EXPECT_EQ(o.filters[kFilterTint].ints[0], 0xFFFFFF);
  ASSERT_EQ(Parse({{"tint", std::string("50%")}, {"tintcolor", double{0xFF0000}}}), 0);
  EXPECT_EQ(o.filters[kFilterTint].ints[1], 127);
  EXPECT_EQ(o.filters[kFilterTint].ints[0], 0xFF0000);
  // A tint of 0 switches off the slot that a filter list switched on... only when read after
  // it: the list is read last and wins.
  ASSERT_EQ(Parse({{"tint", 0.0}, {"filters", List({Filter("tint")})}}), 0);
  EXPECT_EQ(o.filters[kFilterTint].on, 1);

  // With no layers an insert position beyond the top is the top: 1.
  ASSERT_EQ(Parse({{"insertpos", 5.0}}), 0);
  EXPECT_EQ(o.insertPos, 1);
}

TEST_F(DisplayOptionsTest, FilterLists) {
  // Arguments fill the slot in the order of the filter's kinds (integers and levels, then
  // floats); those not given take the filter's defaults; a level may be a percentage.
  ASSERT_EQ(Parse({{"filters", List({Filter("waterripple", 7, {Number(10), Number(2)}),
                                     Filter("sepiatone", -1, {Text("50%")}),
                                     Filter("gamma", 255, {Number(0.5)})})}}),
            0);
  const qvFilterSlot* f = run.options.filters;
  EXPECT_EQ(f[kFilterWaterRipple].on, 1);
  EXPECT_EQ(f[kFilterWaterRipple].priority, 7);
  EXPECT_EQ(f[kFilterWaterRipple].ints[0], 10);
  EXPECT_EQ(f[kFilterWaterRipple].ints[1], 2);
  EXPECT_EQ(f[kFilterWaterRipple].ints[2], 0);
  EXPECT_EQ(f[kFilterWaterRipple].floats[0], 0.5f);
  EXPECT_EQ(f[kFilterWaterRipple].floats[1], 0.5f);
  EXPECT_EQ(f[kFilterSepiaTone].ints[0], 127);
  EXPECT_EQ(f[kFilterSepiaTone].priority, 0);
  EXPECT_EQ(f[kFilterGamma].floats[0], 0.5f);
  EXPECT_EQ(f[kFilterGamma].floats[1], 1.0f);
  EXPECT_EQ(f[kFilterGamma].priority, 255);
  EXPECT_TRUE(HasGeometryFilters(f));  // waterripple moves pixels
  EXPECT_EQ(f[kFilterBlur].on, 0);

  // Of two entries for one slot the later wins; "disable" switches a slot off; names are read
  // without regard to case.
  ASSERT_EQ(Parse({{"filters", List({Filter("BLUR", 3, {Number(9)}), Filter("blur", 1),
                                     Table({{"name", Text("invert")}, {"disable", Number(1)}})})}}),
            0);
  EXPECT_EQ(f[kFilterBlur].on, 1);
  EXPECT_EQ(f[kFilterBlur].priority, 1);
  EXPECT_EQ(f[kFilterBlur].floats[0], 5.0f);
  EXPECT_EQ(f[kFilterInvert].on, 0);
  EXPECT_FALSE(HasGeometryFilters(f));

  // A refused list changes no slot, not even those of the entries before the bad one.
  qvFilterSlot slots[kLayerFilterCount]{};
  VmSetTop(L, 0);
  List({Filter("invert"), Filter("nonesuch")})(L);
  bool changed = true;
  EXPECT_EQ(ReadLayerFilters(L, 1, slots, &changed), ERR_UNKNOWNFILTER);
  EXPECT_EQ(slots[kFilterInvert].on, 0);
  VmSetTop(L, 0);
  List({Filter("invert")})(L);
  ASSERT_EQ(ReadLayerFilters(L, 1, slots, &changed), 0);
  EXPECT_TRUE(changed);
  ASSERT_EQ(ReadLayerFilters(L, 1, slots, &changed), 0);
  EXPECT_FALSE(changed);
  VmSetTop(L, 0);
}

TEST_F(DisplayOptionsTest, BorderKeysWithTheEdgeNames) {
  struct Case {
    const char* what;
    std::vector<std::pair<const char*, Push>> fields;
    int code;
    int32_t size;
    uint32_t colour;
  };
  const Case cases[] = {
      {"the edge names",
       {{"border", Number(1)}, {"edgesize", Number(3)}, {"edgecolor", Number(9)}},
       0,
       3,
       9},
      {"outlinethickness after edgesize wins",
       {{"edgesize", Number(3)}, {"outlinethickness", Number(5)}},
       0,
       5,
       0},
      {"an edge size below 1 for a border that is on",
       {{"border", Number(1)}, {"outlinethickness", Number(0)}},
       ERR_WRONGUSAGE,
       0,
       0},
  };
  for (const Case& c : cases) {
    VmSetTop(L, 0);
    Table(c.fields)(L);
    qvBorderBlock border{0, 0, 2};
    EXPECT_EQ(ReadBorderOptions(L, 1, true, &border), c.code) << c.what;
    if (c.code == 0) {
      EXPECT_EQ(border.size, c.size) << c.what;
      EXPECT_EQ(border.colour, c.colour) << c.what;
    } else {
      EXPECT_EQ(border.size, 2) << c.what;  // unchanged
    }
  }
  VmSetTop(L, 0);
}

}  // namespace
}  // namespace qv
