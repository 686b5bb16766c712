// The options of LoadSprite and LoadAnim read from a script's table (or a number that is the
// transparent colour) into the loader's record.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "base/errors.h"
#include "core/errors.h"
#include "core/registry.h"
#include "libs/options/options.h"
#include "vm/vm.h"

namespace qv {
namespace {

using Value = std::variant<double, std::string>;

struct ReadRun {
  std::vector<std::pair<const char*, Value>> fields;
  const Value* single;  // pushed in place of a table when set
  qvAnimLoadOptions options;
  qvAnimCacheNames names;
};

void ReadBody(qvScriptState* L, void* data) {
  auto* run = static_cast<ReadRun*>(data);
  VmSetTop(L, 0);
  auto push = [L](const Value& v) {
    if (const double* n = std::get_if<double>(&v)) {
      VmPushNumber(L, *n);
    } else {
      VmPushString(L, std::get<std::string>(v).c_str());
    }
  };
  if (run->single != nullptr) {
    push(*run->single);
  } else {
    VmNewTable(L);
    for (const auto& [key, value] : run->fields) {
      VmPushString(L, key);
      push(value);
      VmSetTable(L, -3);
    }
  }
  ReadAnimLoadOptions(L, 1, &run->options, &run->names);
  VmSetTop(L, 0);
}

class AnimOptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    L = VmOpenState(CoreVmHost());
    SetProcessVm(L);
  }
  void TearDown() override {
    FreeRegistries();
    SetProcessVm(nullptr);
    VmCloseState(L);
  }
  int Read(std::vector<std::pair<const char*, Value>> fields, const Value* single = nullptr) {
    run = std::make_unique<ReadRun>();
    run->fields = std::move(fields);
    run->single = single;
    return VmRunProtected(L, ReadBody, run.get());
  }
  qvScriptState* L = nullptr;
  std::unique_ptr<ReadRun> run;
};

TEST_F(AnimOptionsTest, TableKeysFillTheRecord) {
  ASSERT_EQ(Read({{"transparency", double{0xFF00FF}},
                  {"loadalpha", 1.0},
                  {"x", 3.0},
                  {"y", 4.0},
                  {"width", 16.0},
                  {"height", std::string("8")},
                  {"fpr", 5.0},
                  {"frames", 10.0},
                  {"fromdisk", 1.0},
                  {"cache", std::string("Strip.png")},
                  {"cachedload", std::string("other.png")},
                  {"cachealpha", 1.0}}),
            0);
  const qvAnimLoadOptions& o = run->options;
  EXPECT_EQ(o.transparentColour, 0xFF00FF);
  EXPECT_TRUE(o.loadAlpha);
  EXPECT_EQ(o.x, 3);
  EXPECT_EQ(o.y, 4);
  EXPECT_EQ(o.width, 16);
  EXPECT_EQ(o.height, 8);
  EXPECT_EQ(o.framesPerRow, 5);
  EXPECT_EQ(o.frames, 10);
  EXPECT_TRUE(o.fromDisk);
  ASSERT_NE(o.cacheName, nullptr);
  EXPECT_STREQ(o.cacheName, "Strip.png");
  ASSERT_NE(o.cachedLoadName, nullptr);
  EXPECT_STREQ(o.cachedLoadName, "other.png");
  EXPECT_TRUE(o.cacheAlpha);

  // Nothing given keeps the defaults; all 32 bits set is no colour; "loadalpha" 0 is off.
  ASSERT_EQ(Read({{"transparency", 4294967295.0}, {"loadalpha", 0.0}}), 0);
  EXPECT_EQ(run->options.transparentColour, -1);
  EXPECT_FALSE(run->options.loadAlpha);
  EXPECT_EQ(run->options.frames, 0);
  EXPECT_EQ(run->options.cacheName, nullptr);
}

TEST_F(AnimOptionsTest, ANumberIsTheTransparentColourAndAWrongTypeRaises) {
  const Value colour = double{0x12345678};
  ASSERT_EQ(Read({}, &colour), 0);
  EXPECT_EQ(run->options.transparentColour, 0x345678);  // the colour's low 24 bits
  const Value none = -1.0;
  ASSERT_EQ(Read({}, &none), 0);
  EXPECT_EQ(run->options.transparentColour, -1);
  EXPECT_NE(Read({{"frames", std::string("many")}}), 0);
}

}  // namespace
}  // namespace qv
