// Number to text: every value prints as "%.14g" would, whichever path formats it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "vm/ops.h"

namespace qv::testing {
namespace {

std::string Ours(double n) {
  char buf[kNumberBufferSize];
  const int len = VmNumberToString(n, buf);
  EXPECT_EQ(size_t(len), std::strlen(buf));
  return buf;
}

std::string Printf(double n) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14g", n);
  return buf;
}

TEST(NumberText, PrintsLikePercent14g) {
  const double cases[] = {0,
                          -0.0,
                          1,
                          -1,
                          9,
                          -9,
                          10,
                          -10,
                          99,
                          -99,
                          100,
                          -100,
                          101,
                          1000,
                          65535,
                          4294967295.0,
                          2147483648.0,
                          -2147483648.0,
                          12345678901234,
                          -12345678901234,
                          99999999999999,
                          -99999999999999,
                          1e14,
                          -1e14,
                          123456789012345,
                          9007199254740992.0,
                          1e300,
                          -1e300,
                          0.5,
                          -2.5,
                          1.0 / 3,
                          1e-5,
                          123456.789,
                          5e-324,
                          HUGE_VAL,
                          -HUGE_VAL};
  for (double n : cases) EXPECT_EQ(Ours(n), Printf(n)) << n;
  // Every digit count and the split at eight digits: each power of ten and its neighbours.
  for (double power = 1; power <= 1e15; power *= 10) {
    for (double n : {power - 1, power, power + 1}) {
      EXPECT_EQ(Ours(n), Printf(n)) << n;
      EXPECT_EQ(Ours(-n), Printf(-n)) << -n;
    }
  }
  // Eight digits are made at once: a stride through them meets every digit in every place.
  for (double n = 0; n < 1e8; n += 9973) ASSERT_EQ(Ours(n), Printf(n)) << n;
  std::mt19937_64 random(42);
  for (int i = 0; i < 20000; ++i) {
    const int digits = int(random() % 16);
    const double n = double(int64_t(random() % uint64_t(std::pow(10.0, digits) + 1))) *
                     (random() % 2 ? 1 : -1);
    ASSERT_EQ(Ours(n), Printf(n)) << n;
    const double fraction = n / double(1 + random() % 1000);
    ASSERT_EQ(Ours(fraction), Printf(fraction)) << fraction;
  }
}

}  // namespace
}  // namespace qv::testing
