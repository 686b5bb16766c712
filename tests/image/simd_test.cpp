// Every SIMD path the CPU has against the scalar reference, bit for bit, over random rectangles:
// widths 1-67, random offsets, strides, pixels, weights and masks. One fixed seed and one fresh
// seed per run (logged, so that a failure can be replayed with QV_SIMD_SEED).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "image/image.h"

using namespace qv;

namespace {

std::vector<uint32_t> Seeds() {
  std::vector<uint32_t> seeds = {20261210u};
  if (const char* env = std::getenv("QV_SIMD_SEED")) {
    seeds.push_back(uint32_t(std::strtoul(env, nullptr, 10)));
  } else {
    seeds.push_back(std::random_device{}());
  }
  return seeds;
}

std::vector<SimdLevel> FastLevels() {
  std::vector<SimdLevel> levels;
  for (SimdLevel l : {SimdLevel::kSse2, SimdLevel::kAvx2})
    if (l <= BestSimdLevel()) levels.push_back(l);
  return levels;
}

// One random case: a rectangle inside source and destination planes with their own strides.
struct Case {
  int w, h, sx, sy, dx, dy, srcStride, dstStride, maskStride;
  std::vector<uint32_t> src, dst;
  std::vector<uint8_t> bytes;  // alpha or coverage, at the source's place and stride
  std::vector<uint8_t> mask;   // 1-bit, at the source's place
  uint32_t colour;
  int level;

  explicit Case(std::mt19937& rng) {
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    w = pick(1, 67), h = pick(1, 4);
    sx = pick(0, 17), sy = pick(0, 2), dx = pick(0, 17), dy = pick(0, 2);
    srcStride = sx + w + pick(0, 9);
    dstStride = dx + w + pick(0, 9);
    maskStride = (srcStride + 7) / 8 + 1;
    src.resize(size_t(srcStride) * (sy + h));
    dst.resize(size_t(dstStride) * (dy + h));
    bytes.resize(src.size());
    mask.resize(size_t(maskStride) * (sy + h));
    for (auto& v : src) v = rng();
    for (auto& v : dst) v = rng();
    // Weights gather at the ends, where the paths branch, and fill the middle.
    for (auto& b : bytes) {
      int k = pick(0, 5);
      b = uint8_t(k == 0 ? 0 : k == 1 ? 255 : k == 2 ? pick(60, 68) : pick(0, 255));
    }
    // Whole runs of 0x00 and 0xFF bytes as well as mixed ones.
    for (auto& m : mask) {
      int k = pick(0, 3);
      m = uint8_t(k == 0 ? 0 : k == 1 ? 0xFF : rng());
    }
    colour = rng();
    level = pick(0, 3) == 0 ? (pick(0, 1) ? 0 : 255) : pick(0, 255);
  }
};

using Run = std::function<void(Case&)>;

void Compare(const char* name, const Run& run) {
  for (uint32_t seed : Seeds()) {
    SCOPED_TRACE(std::string(name) + " seed " + std::to_string(seed));
    testing::Test::RecordProperty(std::string("seed_") + name, std::to_string(seed));
    std::printf("%s: seed %u\n", name, seed);
    std::mt19937 rng(seed);
    for (int iter = 0; iter < 400; ++iter) {
      Case base(rng);
      Case want = base;
      SetSimdLevel(SimdLevel::kScalar);
      run(want);
      for (SimdLevel level : FastLevels()) {
        Case got = base;
        SetSimdLevel(level);
        run(got);
        ASSERT_EQ(got.dst, want.dst) << "level " << int(level) << " case " << iter << " w "
                                     << base.w << " sx " << base.sx << " dx " << base.dx;
        ASSERT_EQ(got.src, want.src);
      }
    }
  }
  SetSimdLevel(BestSimdLevel());
}

}  // namespace

TEST(Simd, TheCpuPathsAreChosen) {
  EXPECT_EQ(CurrentSimdLevel(), BestSimdLevel());
  EXPECT_EQ(SetSimdLevel(SimdLevel::kScalar), SimdLevel::kScalar);
  EXPECT_EQ(CurrentSimdLevel(), SimdLevel::kScalar);
  EXPECT_EQ(SetSimdLevel(SimdLevel(99)), BestSimdLevel());
  SetSimdLevel(BestSimdLevel());
}

TEST(Simd, Copy) {
  Compare("copy", [](Case& c) {
    BltBitMapKernel(BltBitMapRecord{c.src.data(), c.dst.data(), c.sx, c.sy, c.dx, c.dy, c.w, c.h,
                                    c.srcStride, c.dstStride, false, kPixARGB32, kPixARGB32});
  });
  // Inside one bitmap, down and right: the rows and pixels overlap.
  Compare("scroll", [](Case& c) {
    BltBitMapKernel(BltBitMapRecord{c.dst.data(), c.dst.data(), 0, 0, c.dx, c.dy, c.w, c.h,
                                    c.dstStride, c.dstStride, false, kPixARGB32, kPixARGB32});
  });
}

TEST(Simd, Fill) {
  Compare("fill", [](Case& c) {
    FillPixelRectKernel(c.dst.data(), c.dstStride, c.dx, c.dy, c.w, c.h, c.colour);
  });
}

TEST(Simd, MaskAndTemplate) {
  Compare("mask", [](Case& c) {
    BltMaskKernel(BltMaskRecord{c.src.data(), c.dst.data(), c.mask.data(), c.sx, c.sy, c.dx, c.dy,
                                c.w, c.h, c.srcStride, c.maskStride, c.dstStride, 0});
  });
  Compare("template", [](Case& c) {
    BltTemplateKernel(BltTemplateRecord{c.mask.data(), c.dst.data(), c.sx, c.sy, c.dx, c.dy, c.w,
                                        c.h, c.maskStride, c.dstStride, c.colour});
  });
}

TEST(Simd, AlphaBlend) {
  Compare("alpha", [](Case& c) {
    BltAlphaBitMapKernel(BltAlphaBitMapRecord{c.src.data(), c.sx, c.sy, c.sx, c.sy, c.srcStride,
                                              c.dst.data(), c.dx, c.dy, c.dstStride, c.w, c.h,
                                              c.bytes.data(), c.srcStride, kPixARGB32});
  });
}

TEST(Simd, CoveragePaint) {
  for (int mode : {1, 4}) {
    Compare(mode == 1 ? "coverage" : "coverage65", [mode](Case& c) {
      BltAlphaChannelRecord r{};
      r.cx = c.sx, r.cy = c.sy;
      r.dst = c.dst.data(), r.dx = c.dx, r.dy = c.dy, r.dstPixelsPerRow = c.dstStride;
      r.width = c.w, r.height = c.h;
      r.coverage = c.bytes.data(), r.coverageBytesPerRow = c.srcStride;
      r.format = kPixARGB32, r.colour = c.colour, r.mode = mode;
      BltAlphaChannelKernel(r);
    });
  }
}

TEST(Simd, MixAndTint) {
  Compare("mix", [](Case& c) {
    MixKernel(MixRecord{c.src.data() + int64_t(c.sy) * c.srcStride + c.sx,
                        c.dst.data() + int64_t(c.dy) * c.dstStride + c.dx, nullptr, 0},
              c.w, c.h, c.level, kPixARGB32, c.srcStride, c.dstStride, 0);
  });
  // The mask is read at the source's place, from a column inside a byte.
  Compare("mix through a mask", [](Case& c) {
    MixKernel(MixRecord{c.src.data() + int64_t(c.sy) * c.srcStride + c.sx,
                        c.dst.data() + int64_t(c.dy) * c.dstStride + c.dx,
                        c.mask.data() + int64_t(c.sy) * c.maskStride, c.sx},
              c.w, c.h, c.level, kPixARGB32, c.srcStride, c.dstStride, c.maskStride);
  });
  Compare("tint", [](Case& c) {
    TintKernel(TintRecord{c.dst.data(), c.dx, c.dy, c.w, c.h, c.colour & 0xFFFFFF, c.level,
                          c.dstStride, kPixARGB32});
  });
}

// Formats 11-13 go through the format-10 rows: 13 as it is, 11 and 12 turned a byte down.
TEST(Simd, BlendsInFormatsElevenToThirteen) {
  for (int32_t format : {kPixBGRx32, kPixRGBx32, kPixxBGR32}) {
    const std::string f = " in format " + std::to_string(format);
    Compare(("alpha" + f).c_str(), [format](Case& c) {
      BltAlphaBitMapKernel(BltAlphaBitMapRecord{c.src.data(), c.sx, c.sy, c.sx, c.sy, c.srcStride,
                                                c.dst.data(), c.dx, c.dy, c.dstStride, c.w, c.h,
                                                c.bytes.data(), c.srcStride, format});
    });
    Compare(("mix" + f).c_str(), [format](Case& c) {
      MixKernel(MixRecord{c.src.data() + int64_t(c.sy) * c.srcStride + c.sx,
                          c.dst.data() + int64_t(c.dy) * c.dstStride + c.dx, nullptr, 0},
                c.w, c.h, c.level, format, c.srcStride, c.dstStride, 0);
    });
    Compare(("mix through a mask" + f).c_str(), [format](Case& c) {
      MixKernel(MixRecord{c.src.data() + int64_t(c.sy) * c.srcStride + c.sx,
                          c.dst.data() + int64_t(c.dy) * c.dstStride + c.dx,
                          c.mask.data() + int64_t(c.sy) * c.maskStride, c.sx},
                c.w, c.h, c.level, format, c.srcStride, c.dstStride, c.maskStride);
    });
    Compare(("tint" + f).c_str(), [format](Case& c) {
      TintKernel(TintRecord{c.dst.data(), c.dx, c.dy, c.w, c.h, c.colour & 0xFFFFFF, c.level,
                            c.dstStride, format});
    });
  }
}

TEST(Simd, SmoothScale) {
  for (uint32_t seed : Seeds()) {
    SCOPED_TRACE("smooth scale seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int iter = 0; iter < 300; ++iter) {
      int w = pick(1, 67), h = pick(1, 5), nw = pick(1, 140), nh = pick(1, 6);
      int sx = pick(0, 9), srcStride = sx + w + pick(1, 9), dstStride = nw + pick(0, 9);
      int format = pick(kPixARGB32, kPixxBGR32);
      // One spare row and column, as bitmaps have: the vector path reads right neighbours.
      std::vector<uint32_t> src(size_t(srcStride) * (h + 1));
      for (auto& v : src) v = rng();
      std::vector<uint32_t> base(size_t(dstStride) * nh);
      for (auto& v : base) v = rng();
      ASSERT_EQ(EnsureScaleTables(nw, nh), 0);
      ScaleRecord r{};
      r.src = reinterpret_cast<const uint8_t*>(src.data() + sx);
      r.width = w, r.height = h, r.newWidth = nw, r.newHeight = nh;
      r.srcPixelsPerRow = srcStride, r.dstPixelsPerRow = dstStride;
      r.smooth = true, r.format = format, r.bytesPerPixel = 4;
      r.tables = CurrentScaleTables();
      SetSimdLevel(SimdLevel::kScalar);
      std::vector<uint32_t> want = base;
      r.dst = reinterpret_cast<uint8_t*>(want.data());
      ScaleBitMapKernel(r);
      for (SimdLevel level : FastLevels()) {
        SetSimdLevel(level);
        std::vector<uint32_t> got = base;
        r.dst = reinterpret_cast<uint8_t*>(got.data());
        ScaleBitMapKernel(r);
        ASSERT_EQ(got, want) << "level " << int(level) << " case " << iter << " " << w << "x" << h
                             << " to " << nw << "x" << nh;
      }
    }
  }
  SetSimdLevel(BestSimdLevel());
}

TEST(Simd, HardScaleAndRotation) {
  for (uint32_t seed : Seeds()) {
    SCOPED_TRACE("hard scale and rotation seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    auto real = [&](double lo, double hi) {
      return std::uniform_real_distribution<double>(lo, hi)(rng);
    };
    for (int iter = 0; iter < 300; ++iter) {
      int w = pick(1, 67), h = pick(1, 9), sx = pick(0, 9), srcStride = sx + w + pick(1, 9);
      std::vector<uint32_t> src(size_t(srcStride) * (h + 1));
      for (auto& v : src) v = rng();
      // Hard scale to a random size.
      int nw = pick(1, 160), nh = pick(1, 12), dstStride = nw + pick(0, 9);
      ScaleRecord s{};
      s.src = reinterpret_cast<const uint8_t*>(src.data() + sx);
      s.width = w, s.height = h, s.newWidth = nw, s.newHeight = nh;
      s.srcPixelsPerRow = srcStride, s.dstPixelsPerRow = dstStride;
      s.format = kPixARGB32, s.bytesPerPixel = 4;
      // Rotate by a random matrix, now and then a wild one, into a box of random size.
      double m[6] = {real(-2, 2), real(-2, 2),   real(-2, 2),
                     real(-2, 2), real(-40, 40), real(-40, 40)};
      if (pick(0, 9) == 0) m[pick(0, 3)] = pick(0, 1) ? 1e12 : 1e-12;
      int bw = pick(1, 90), bh = pick(1, 20), boxStride = bw + pick(0, 9);
      RotateRecord r{};
      r.src = s.src, r.srcWidth = w, r.srcHeight = h, r.srcPixelsPerRow = srcStride;
      r.dstWidth = bw, r.dstHeight = bh, r.dstPixelsPerRow = boxStride;
      r.transform = m, r.format = pick(kPixARGB32, kPixxBGR32), r.bytesPerPixel = 4;
      r.smooth = pick(0, 1) == 1;
      std::vector<uint32_t> scaledBase(size_t(dstStride) * nh), rotatedBase(size_t(boxStride) * bh);
      for (auto& v : scaledBase) v = rng();
      for (auto& v : rotatedBase) v = rng();
      auto run = [&](std::vector<uint32_t>& scaled, std::vector<uint32_t>& rotated) {
        s.dst = reinterpret_cast<uint8_t*>(scaled.data());
        ScaleBitMapKernel(s);
        r.dst = reinterpret_cast<uint8_t*>(rotated.data());
        RotateKernel(r);
      };
      SetSimdLevel(SimdLevel::kScalar);
      std::vector<uint32_t> wantScaled = scaledBase, wantRotated = rotatedBase;
      run(wantScaled, wantRotated);
      for (SimdLevel level : FastLevels()) {
        SetSimdLevel(level);
        std::vector<uint32_t> gotScaled = scaledBase, gotRotated = rotatedBase;
        run(gotScaled, gotRotated);
        ASSERT_EQ(gotScaled, wantScaled) << "level " << int(level) << " case " << iter << " " << w
                                         << "x" << h << " to " << nw << "x" << nh;
        ASSERT_EQ(gotRotated, wantRotated)
            << "level " << int(level) << " case " << iter << (r.smooth ? " smooth" : " nearest");
      }
    }
  }
  SetSimdLevel(BestSimdLevel());
}
