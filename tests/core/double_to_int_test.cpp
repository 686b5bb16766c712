// The shared double -> 32-bit integer conversion.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/support.h"

namespace qv {
namespace {

TEST(DoubleToInt32, TruncatesTowardZeroAndKeepsTheLow32Bits) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double in;
    int32_t out;
  } cases[] = {
      {0.0, 0},
      {-1.9, -1},
      {1.9, 1},
      {2147483647.0, 2147483647},
      {2147483648.0, std::numeric_limits<int32_t>::min()},
      {4294967295.0, -1},
      {4294967296.0 + 5, 5},
      {-4294967297.0, -1},
      {1e19, -1981284352},  // beyond the 64-bit range: still the low 32 bits
      {-1e19, 1981284352},
      {std::nan(""), 0},
      {inf, 0},
      {-inf, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(DoubleToInt32(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace qv
