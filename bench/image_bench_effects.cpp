// The effect kernels and the brush distortions at 1920x1080 on one thread, beside ImageMagick's
// MagickCore (its swirl, wave and distort, limited to one thread) and memcpy of the same bytes.
// Names read <case>/<implementation>/1920/1080. One swirl, ripple, pixelate or roll step is one
// frame of a transition (frame/memcpy copies one picture's bytes, the least a frame costs);
// dissolve thresholds the noise field into a 1-bit mask (/mask) or an
// alpha plane (/alpha) beside memcpy of the noise field's bytes; the distortions run the smooth
// path (EWA) against MagickCore's default resampling, and the nearest one on its own. MagickCore's
// swirl and wave sample the nearest pixel, as ours do.
// The cases register themselves when the program starts.
#include <benchmark/benchmark.h>
#include <magick/MagickCore.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "image/image.h"

using namespace qv;

namespace {

constexpr int kW = 1920, kH = 1080;

std::string Name(const char* kase, const char* impl) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "%s/%s/%d/%d", kase, impl, kW, kH);
  return buffer;
}

template <typename F>
void Add(const std::string& name, F f) {
  benchmark::RegisterBenchmark(name.c_str(), f)->Unit(benchmark::kMillisecond)->UseRealTime();
}

std::vector<uint32_t> Picture(uint32_t seed) {
  std::vector<uint32_t> p(size_t(kW) * kH);
  std::mt19937 rng(seed);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      p[size_t(y) * kW + x] = uint32_t((x * 255 / kW) << 16 | (y * 255 / kH) << 8 | (rng() & 63));
  return p;
}

// MagickCore on one thread, started once.
void StartMagick() {
  static bool started = false;
  if (started) return;
  MagickCoreGenesis(nullptr, MagickFalse);
  SetMagickResourceLimit(ThreadResource, 1);
  started = true;
}

Image* MagickPicture(const std::vector<uint32_t>& p) {
  ExceptionInfo* e = AcquireExceptionInfo();
  // Format-10 words are B, G, R, x bytes in memory.
  Image* image = ConstituteImage(kW, kH, "BGRP", CharPixel, p.data(), e);
  DestroyExceptionInfo(e);
  // Swirl and wave sample as ours do: the nearest pixel.
  image->interpolate = NearestNeighborInterpolatePixel;
  return image;
}

void SwirlCases() {
  Add(Name("swirl", "quillvane"), [](benchmark::State& state) {
    const auto src = Picture(1), second = Picture(2);
    std::vector<uint32_t> dst(src.size());
    std::vector<double> sine(kEffectTableSize), cosine(kEffectTableSize);
    SwirlRecord r{};
    r.src = src.data(), r.second = second.data(), r.dst = dst.data();
    r.srcPixelsPerRow = r.secondPixelsPerRow = r.dstPixelsPerRow = kW;
    r.sine = sine.data(), r.cosine = cosine.data();
    r.width = kW, r.height = kH;
    InitSwirlTables(r);
    for (auto _ : state) {
      SwirlKernel(r, 200);
      benchmark::DoNotOptimize(dst.data());
    }
  });
  Add(Name("swirl", "imagemagick"), [](benchmark::State& state) {
    StartMagick();
    Image* image = MagickPicture(Picture(1));
    ExceptionInfo* e = AcquireExceptionInfo();
    for (auto _ : state) {
      Image* out = SwirlImage(image, 200, e);
      DestroyImage(out);
    }
    DestroyExceptionInfo(e);
    DestroyImage(image);
  });
}

void RippleCases() {
  Add(Name("ripple", "quillvane"), [](benchmark::State& state) {
    const auto src = Picture(1), second = Picture(2);
    std::vector<uint32_t> dst(src.size());
    std::vector<int32_t> distance(src.size());
    std::vector<double> sine(kEffectTableSize);
    RippleRecord r{};
    r.src = src.data(), r.second = second.data(), r.dst = dst.data();
    r.srcPixelsPerRow = r.secondPixelsPerRow = r.dstPixelsPerRow = kW;
    r.distance = distance.data(), r.sine = sine.data();
    r.wavelength = 0.05 * kW;
    r.amplitudePerStep = 32.0 / 25;
    r.steps = 25;
    r.width = kW, r.height = kH;
    InitRippleTables(r, 0.5, 0.5);
    for (auto _ : state) {
      RippleKernel(r, 20);
      benchmark::DoNotOptimize(dst.data());
    }
  });
  Add(Name("ripple", "imagemagick"), [](benchmark::State& state) {
    StartMagick();
    Image* image = MagickPicture(Picture(1));
    ExceptionInfo* e = AcquireExceptionInfo();
    for (auto _ : state) {
      Image* out = WaveImage(image, 16, 96, e);
      DestroyImage(out);
    }
    DestroyExceptionInfo(e);
    DestroyImage(image);
  });
}

// The least a frame costs: memcpy of the picture's bytes, the anchor of the swirl and ripple
// steps, which read one or two pictures at displaced points and write a third.
void FrameCopyCase() {
  Add(Name("frame", "memcpy"), [](benchmark::State& state) {
    const auto src = Picture(1);
    std::vector<uint32_t> dst(src.size());
    for (auto _ : state) {
      std::memcpy(dst.data(), src.data(), src.size() * 4);
      benchmark::DoNotOptimize(dst.data());
    }
  });
}

void PixelateCases() {
  Add(Name("pixelate", "quillvane"), [](benchmark::State& state) {
    const auto src = Picture(1);
    std::vector<uint32_t> dst(src.size());
    PixelateRecord r{};
    r.src = src.data(), r.dst = dst.data();
    r.srcPixelsPerRow = r.dstPixelsPerRow = kW;
    r.width = kW, r.height = kH, r.blockSize = 8;
    for (auto _ : state) {
      PixelateKernel(r);
      benchmark::DoNotOptimize(dst.data());
    }
  });
}

void DissolveCases() {
  for (bool bytes : {false, true}) {
    Add(Name("dissolve", bytes ? "quillvane/alpha" : "quillvane/mask"),
        [bytes](benchmark::State& state) {
          std::vector<uint8_t> noise(size_t(kW) * kH);
          std::mt19937 rng(3);
          for (auto& n : noise) n = uint8_t(rng() % 255);
          const int32_t bpr = bytes ? AlphaBytesPerRow(kW) : MaskBytesPerRow(kW);
          std::vector<uint8_t> src(size_t(bpr) * kH, 0xFF), dst(src.size());
          const DissolveRecord r{src.data(), dst.data(),   kW,    kH,   bpr,
                                 bpr,        noise.data(), bytes, false};
          int32_t level = 0;
          for (auto _ : state) {
            DissolveMaskKernel(r, level);
            level = (level + 4) & 255;
            benchmark::DoNotOptimize(dst.data());
          }
          state.SetBytesProcessed(int64_t(state.iterations()) * kW * kH);
        });
  }
  Add(Name("dissolve", "memcpy"), [](benchmark::State& state) {
    std::vector<uint8_t> a(size_t(kW) * kH, 1), b(a.size());
    for (auto _ : state) {
      std::memcpy(b.data(), a.data(), a.size());
      benchmark::DoNotOptimize(b.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kW * kH);
  });
}

// One frame of the wallpaper roll from the top: a band of height / 2 rows mapped through the
// angle table.
void RollCases() {
  Add(Name("roll", "quillvane"), [](benchmark::State& state) {
    const auto src = Picture(1);
    std::vector<uint32_t> dst(src.size());
    const int32_t diameter = kH / 2;
    std::vector<double> table(static_cast<size_t>(diameter));
    for (int32_t i = 0; i < diameter; ++i)
      table[size_t(i)] = std::asin(1.0 - 2.0 * i / diameter) + M_PI / 2;
    RollRecord r{};
    r.src = src.data(), r.dst = dst.data();
    r.srcPixelsPerRow = r.dstPixelsPerRow = kW;
    r.width = kW, r.height = kH;
    r.diameter = diameter;
    r.position = kH / 4;
    r.table = table.data();
    r.divisor = 2.0 / diameter;
    r.offset = kH / 4;
    r.bytesPerPixel = 4;
    for (auto _ : state) {
      RollRowsKernel(r);
      benchmark::DoNotOptimize(dst.data());
    }
  });
}

struct DistortCase {
  const char* word;
  int32_t mode;
  std::vector<double> values;
  DistortImageMethod magickMethod;
  std::vector<double> magickValues;
  bool bestFit;
};

void DistortCases() {
  const double w = kW, h = kH;
  const DistortCase cases[] = {
      {"distort_perspective",
       kDistortPerspective,
       {0, 0, 100, 60, w, 0, w - 300, 0, w, h, w - 80, h - 40, 0, h, 0, h - 200},
       PerspectiveDistortion,
       {0, 0, 100, 60, w, 0, w - 300, 0, w, h, w - 80, h - 40, 0, h, 0, h - 200},
       true},
      {"distort_barrel",
       kDistortBarrel,
       {0.2, 0.0, 0.0, 0.8},
       BarrelDistortion,
       {0.2, 0.0, 0.0, 0.8},
       false},
  };
  for (const DistortCase& c : cases) {
    for (bool smooth : {true, false}) {
      Add(Name(c.word, smooth ? "quillvane" : "quillvane_nearest"),
          [c, smooth](benchmark::State& state) {
            qvBitMap* b = AllocBitMap(kW, kH);
            const auto p = Picture(1);
            for (int y = 0; y < kH; ++y)
              std::memcpy(b->pixels + size_t(y) * b->bytesPerRow, &p[size_t(y) * kW], kW * 4);
            for (auto _ : state) {
              qvBitMap* out = nullptr;
              qvPlane* mask = nullptr;
              qvPlane* alpha = nullptr;
              int32_t ow = 0, oh = 0;
              DistortBitMap(b, nullptr, nullptr, kW, kH, c.mode, int32_t(c.values.size()),
                            c.values.data(), smooth, &out, &mask, &alpha, &ow, &oh);
              FreeBitMap(out);
              FreeMaskOrAlpha(mask);
              FreeMaskOrAlpha(alpha);
            }
            FreeBitMap(b);
          });
    }
    Add(Name(c.word, "imagemagick"), [c](benchmark::State& state) {
      StartMagick();
      Image* image = MagickPicture(Picture(1));
      ExceptionInfo* e = AcquireExceptionInfo();
      for (auto _ : state) {
        Image* out = DistortImage(image, c.magickMethod, c.magickValues.size(),
                                  c.magickValues.data(), c.bestFit ? MagickTrue : MagickFalse, e);
        DestroyImage(out);
      }
      DestroyExceptionInfo(e);
      DestroyImage(image);
    });
  }
}

const bool kRegistered = [] {
  SwirlCases();
  RippleCases();
  FrameCopyCase();
  PixelateCases();
  DissolveCases();
  RollCases();
  DistortCases();
  return true;
}();

}  // namespace
