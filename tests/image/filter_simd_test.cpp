// The filters' SIMD rows against their scalar reference, bit for bit, over random pictures: sizes
// 1-70 x 1-12, random strides, formats 10-13, every convolution mode with random radii and
// sigmas (emboss skips its zero taps), solarize at random thresholds and the ends, and gamma
// through random tables for random channels. One fixed
// seed and one fresh seed per run (logged; QV_SIMD_SEED replays one).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "image/image.h"

using namespace qv;

namespace {

std::vector<uint32_t> Seeds() {
  std::vector<uint32_t> seeds = {20261211u};
  if (const char* env = std::getenv("QV_SIMD_SEED"))
    seeds.push_back(uint32_t(std::strtoul(env, nullptr, 10)));
  else
    seeds.push_back(std::random_device{}());
  return seeds;
}

struct Picture {
  int w, h, stride, format;
  std::vector<uint32_t> px;
};

Picture Random(std::mt19937& rng) {
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  Picture p;
  p.w = pick(1, 70), p.h = pick(1, 12);
  p.stride = p.w + pick(0, 5);
  p.format = pick(10, 13);
  p.px.resize(size_t(p.stride) * size_t(p.h));
  // Flat runs as well as noise: the limits at 0 and 255 are met often.
  const int kind = pick(0, 2);
  for (auto& v : p.px)
    v = kind == 0   ? uint32_t(rng())
        : kind == 1 ? (rng() & 1 ? 0xFFFFFFFFu : 0u)
                    : rng() & 0x0F0F0F0F;
  return p;
}

}  // namespace

TEST(FilterSimd, RowsMatchTheScalarReference) {
  if (BestSimdLevel() < SimdLevel::kAvx2) GTEST_SKIP() << "no AVX2 here";
  const int32_t modes[] = {'b', 'e', 'g', 's'};
  for (uint32_t seed : Seeds()) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::printf("filter simd: seed %u\n", seed);
    std::mt19937 rng(seed);
    for (int iter = 0; iter < 600; ++iter) {
      const Picture base = Random(rng);
      const int32_t mode = modes[rng() % 4];
      const double radius = (rng() % 3 == 0) ? 0.0 : double(rng() % 40) / 10.0;
      const double sigma = double(rng() % 30 + 1) / 10.0;
      const int threshold = int(rng() % 260);
      uint8_t tables[3][256];
      for (auto& t : tables)
        for (uint8_t& e : t) e = uint8_t(rng());
      const int channels = int(rng() % 8);
      std::vector<uint32_t> results[2];
      for (int path = 0; path < 2; ++path) {
        SetSimdLevel(path == 0 ? SimdLevel::kScalar : SimdLevel::kAvx2);
        Picture p = base;
        ConvolveRecord r{};
        r.pixels = p.px.data();
        r.width = p.w, r.height = p.h, r.pixelsPerRow = p.stride;
        r.format = p.format, r.bytesPerPixel = 4;
        r.radius = radius, r.sigma = sigma, r.mode = mode;
        ConvolveKernel(r);
        SolarizeKernel(p.px.data(), p.w, p.h, p.stride, p.format, threshold);
        GammaKernel(GammaRecord{p.px.data(), p.w, p.h, p.stride, p.format, tables[0], tables[1],
                                tables[2], channels});
        results[path] = p.px;
      }
      ASSERT_EQ(results[0], results[1])
          << "case " << iter << " mode " << char(mode) << " " << base.w << "x" << base.h
          << " radius " << radius << " sigma " << sigma << " threshold " << threshold
          << " channels " << channels;
    }
  }
  SetSimdLevel(BestSimdLevel());
}
