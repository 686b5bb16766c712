// The shared double -> 32-bit integer conversions.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "base/support.h"

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

TEST(TruncateToInt, TruncatesTowardZeroWithINT_MINForWhatDoesNotFit) {
  const double inf = std::numeric_limits<double>::infinity();
  const int kMin = std::numeric_limits<int>::min();
  struct Case {
    double in;
    int out;
  } cases[] = {
      {-0.0, 0},
      {-0.9, 0},
      {1.9, 1},
      {-7.5, -7},
      {2147483647.999, 2147483647},
      {2147483648.0, kMin},
      {-2147483648.999, kMin},  // its integer part fits
      {-2147483649.0, kMin},
      {4294967296.0 + 5, kMin},  // no low bits kept
      {1e300, kMin},
      {-1e300, kMin},
      {std::nan(""), kMin},
      {inf, kMin},
      {-inf, kMin},
  };
  for (const Case& c : cases) EXPECT_EQ(TruncateToInt(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace qv
