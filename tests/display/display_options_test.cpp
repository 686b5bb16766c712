// The display options as display/ takes them: the aspect-keeping sizes.
#include <gtest/gtest.h>

#include "base/errors.h"
#include "display/display.h"

namespace qv {
namespace {

TEST(ResolveScaleSizeTest, Cases) {
  constexpr int32_t kKeep = 100000;
  struct Case {
    int32_t srcWidth, srcHeight, width, height;
    int code;
    int32_t outWidth, outHeight;
  };
  const Case cases[] = {
      {640, 480, 320, kKeep, 0, 320, 240},
      {640, 480, kKeep, 240, 0, 320, 240},
      {640, 480, 100, 100, 0, 100, 100},
      {3, 2, 5, kKeep, 0, 5, 3},                     // 3.33 down
      {3, 2, 7, kKeep, 0, 7, 5},                     // 4.67 up
      {4, 3, 2, kKeep, 0, 2, 2},                     // 1.5 up
      {1000, 2, 1, kKeep, ERR_BADDIMENSIONS, 0, 0},  // nothing left of the height
      {2000000000, 1, kKeep, 2, ERR_BADDIMENSIONS, 0, 0},
      {640, 480, kKeep, kKeep, ERR_WRONGUSAGE, 0, 0},
      {640, 480, 0, 10, ERR_BADDIMENSIONS, 0, 0},
      {640, 480, 10, -5, ERR_BADDIMENSIONS, 0, 0},
      {0, 480, 10, kKeep, ERR_BADDIMENSIONS, 0, 0},
  };
  for (const Case& c : cases) {
    int32_t w = c.width, h = c.height;
    EXPECT_EQ(ResolveScaleSize(c.srcWidth, c.srcHeight, &w, &h), c.code)
        << c.srcWidth << "x" << c.srcHeight << " " << c.width << "x" << c.height;
    if (c.code == 0) {
      EXPECT_EQ(w, c.outWidth);
      EXPECT_EQ(h, c.outHeight);
    }
  }
}

}  // namespace
}  // namespace qv
