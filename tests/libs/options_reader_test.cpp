// Display options read from a script table into the transform and the layer options (the matrix
// built for a 100 x 50 object, as display/ builds it), and the defaults of the draw commands.
#include <gtest/gtest.h>

#include <cmath>
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

using Value = std::variant<double, std::string, std::vector<double>>;
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
  ASSERT_EQ(SetDrawTagsDefault(), 0);
  qvTransformBlock block{};
  qvLayerOptions options{};
  InitDisplayOptions(&block, &options, 0, 0, 0, 0);
  EXPECT_EQ(block.matrix[0], 3.0);
  EXPECT_EQ(options.transparency, 20);

  VmSetTop(L, 0);
  VmNewTable(L);
  SetFieldNumber(L, "scalex", 5);
  SetFieldNumber(L, "anchorx", 2);
  EXPECT_EQ(SetDrawTagsDefault(), ERR_WRONGUSAGE);
  InitDisplayOptions(&block, &options, 0, 0, 0, 0);
  EXPECT_EQ(block.matrix[0], 3.0);
  VmSetTop(L, 0);
}

}  // namespace
}  // namespace qv
