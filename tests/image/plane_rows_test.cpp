// The scaler's and the rotator's alpha and mask planes on the AVX2 path against the scalar
// reference, bit for bit, over random pictures: sizes 1-90, left edges inside wider planes,
// up- and downscaling both ways, smooth and nearest, and random turns and skews of pictures with
// an alpha plane or a mostly opaque mask. One fixed seed
// and one fresh seed per run (logged; QV_SIMD_SEED replays one). The planes are allocated at
// their exact size, so a path that reads past a row's end shows under the sanitizers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "image/image.h"

using namespace qv;

namespace {

std::vector<uint32_t> Seeds() {
  std::vector<uint32_t> seeds = {20261211u};
  if (const char* env = std::getenv("QV_SIMD_SEED")) {
    seeds.push_back(uint32_t(std::strtoul(env, nullptr, 10)));
  } else {
    seeds.push_back(std::random_device{}());
  }
  return seeds;
}

struct Planes {
  qvBitMap* bitmap = nullptr;
  qvPlane* mask = nullptr;
  qvPlane* alpha = nullptr;
  int32_t width = 0, height = 0;
  ~Planes() {
    FreeBitMap(bitmap);
    FreeMaskOrAlpha(mask);
    FreeMaskOrAlpha(alpha);
  }
};

void Fill(std::mt19937& rng, Planes* p, int32_t w, int32_t h, bool withMask) {
  p->bitmap = AllocBitMap(w, h);
  auto* px = reinterpret_cast<uint32_t*>(p->bitmap->pixels);
  for (size_t i = 0; i < size_t(p->bitmap->bytesPerRow / 4) * size_t(h + 1); ++i) px[i] = rng();
  if (withMask) {
    p->mask = AllocMask(w, h, true);
    // Mostly opaque, so that whole groups of neighbours are, with holes and ragged edges.
    for (int32_t i = 0; i < p->mask->bytesPerRow * h; ++i)
      p->mask->data[i] = uint8_t(rng() % 4 != 0 ? 0xFF : rng());
  } else {
    p->alpha = AllocAlphaChannel(w, h, true);
    for (int32_t i = 0; i < p->alpha->bytesPerRow * h; ++i) {
      int k = int(rng() % 4);
      p->alpha->data[i] = uint8_t(k == 0 ? 0 : k == 1 ? 255 : rng());
    }
  }
}

// The visible part of two results, row by row.
void ExpectSame(const Planes& a, const Planes& b, const std::string& what) {
  ASSERT_EQ(a.width, b.width) << what;
  ASSERT_EQ(a.height, b.height) << what;
  for (int32_t y = 0; y < a.height; ++y) {
    ASSERT_EQ(
        std::memcmp(a.bitmap->pixels + size_t(y) * a.bitmap->bytesPerRow,
                    b.bitmap->pixels + size_t(y) * b.bitmap->bytesPerRow, size_t(a.width) * 4),
        0)
        << what << " pixels, row " << y;
    if (a.alpha) {
      ASSERT_EQ(std::memcmp(a.alpha->data + size_t(y) * a.alpha->bytesPerRow,
                            b.alpha->data + size_t(y) * b.alpha->bytesPerRow, size_t(a.width)),
                0)
          << what << " alpha, row " << y;
    }
    if (a.mask) {
      for (int32_t x = 0; x < a.width; ++x) {
        auto bit = [&](const qvPlane* m) {
          return (m->data[size_t(y) * m->bytesPerRow + size_t(x >> 3)] >> (7 - (x & 7))) & 1;
        };
        ASSERT_EQ(bit(a.mask), bit(b.mask)) << what << " mask at " << x << ", " << y;
      }
    }
  }
}

class PlaneRowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (BestSimdLevel() < SimdLevel::kAvx2) GTEST_SKIP() << "no AVX2 on this processor";
  }
  void TearDown() override { SetSimdLevel(BestSimdLevel()); }
};

TEST_F(PlaneRowsTest, ScaledPlanesMatchTheReference) {
  for (uint32_t seed : Seeds()) {
    std::printf("scaled planes: seed %u\n", seed);
    std::mt19937 rng(seed);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int round = 0; round < 400; ++round) {
      const bool withMask = round % 2 == 0, smooth = round % 4 < 2;
      Planes source;
      int32_t w = pick(1, 90), h = pick(1, 12);
      Fill(rng, &source, w, h, withMask);
      int32_t left = pick(0, w - 1), top = pick(0, h - 1);
      int32_t width = pick(1, w - left), height = pick(1, h - top);
      int32_t newWidth = pick(1, 200), newHeight = pick(1, 8);
      const std::string what = "seed " + std::to_string(seed) + " round " + std::to_string(round) +
                               (smooth ? " smooth" : " nearest") + (withMask ? " mask" : " alpha");
      Planes results[2];
      for (int path = 0; path < 2; ++path) {
        SetSimdLevel(path == 0 ? SimdLevel::kScalar : SimdLevel::kAvx2);
        Planes& p = results[path];
        ASSERT_EQ(ScaleBitMap(source.bitmap, source.mask, source.alpha, left, top, nullptr, width,
                              height, newWidth, newHeight, smooth, &p.bitmap, &p.mask, &p.alpha),
                  0)
            << what;
        p.width = newWidth, p.height = newHeight;
      }
      ExpectSame(results[0], results[1], what);
    }
  }
}

TEST_F(PlaneRowsTest, TurnedPlanesMatchTheReference) {
  for (uint32_t seed : Seeds()) {
    std::printf("turned planes: seed %u\n", seed);
    std::mt19937 rng(seed);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int round = 0; round < 600; ++round) {
      const bool smooth = round % 2 == 0, withMask = round % 4 >= 2;
      Planes source;
      int32_t w = pick(1, 90), h = pick(1, 40);
      Fill(rng, &source, w, h, withMask);
      double angle = round % 5 == 0 ? 90.0 * pick(0, 3) : pick(0, 3599) / 10.0;
      double rad = angle * M_PI / 180.0, scale = pick(5, 30) / 10.0;
      double skew = round % 7 == 0 ? pick(-10, 10) / 10.0 : 0.0;
      const double matrix[4] = {scale * std::cos(rad), scale * std::sin(rad) + skew,
                                -scale * std::sin(rad), scale * std::cos(rad)};
      const std::string what = "seed " + std::to_string(seed) + " round " + std::to_string(round) +
                               " angle " + std::to_string(angle);
      Planes results[2];
      for (int path = 0; path < 2; ++path) {
        SetSimdLevel(path == 0 ? SimdLevel::kScalar : SimdLevel::kAvx2);
        Planes& p = results[path];
        ASSERT_EQ(RotateBitMap(source.bitmap, source.mask, source.alpha, 0, 0, w, h, matrix, smooth,
                               &p.bitmap, &p.mask, &p.alpha, &p.width, &p.height),
                  0)
            << what;
      }
      ExpectSame(results[0], results[1], what);
    }
  }
}

}  // namespace
