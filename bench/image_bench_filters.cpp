// The filters of the image engine beside ImageMagick's MagickCore (one thread), pixman's
// convolution filter with our square kernels, and memcpy of the same bytes, at 1920x1080 on one
// thread. Case names read <filter>/<implementation>/1920/1080: blur (radius 5, sigma 2), sharpen
// and emboss (radius 0, sigma 1: 7 x 7), edge (radius 1: 3 x 3), oilpaint (radius 3: 7 x 7),
// solarize (threshold 128), gamma (2.2, 1.8, 0.5). Before timing, each of ours is checked once
// against the scalar reference. The cases register themselves with the image_bench program.
#include <benchmark/benchmark.h>
#include <magick/MagickCore.h>
#include <pixman.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "image/image.h"

using namespace qv;

namespace {

constexpr int kW = 1920, kH = 1080;

// A picture of smooth gradients with noise on them: the histogram of oil paint and the limits
// of the convolutions meet what photographs give them.
struct Frame {
  qvBitMap* bm = AllocBitMap(kW, kH);
  Frame() {
    std::mt19937 rng(7);
    for (int y = 0; y < kH; ++y) {
      auto* row = reinterpret_cast<uint32_t*>(bm->pixels + int64_t(y) * bm->bytesPerRow);
      for (int x = 0; x < kW; ++x) {
        auto c = [&](int base) {
          return uint32_t(std::clamp(base + int(rng() % 24) - 12, 0, 255));
        };
        row[x] = c(x * 255 / kW) << 16 | c(y * 255 / kH) << 8 | c((x + y) * 255 / (kW + kH));
      }
    }
  }
  ~Frame() { FreeBitMap(bm); }
  Frame(const Frame&) = delete;
  Frame& operator=(const Frame&) = delete;
  void CopyFrom(const Frame& o) {
    std::memcpy(bm->pixels, o.bm->pixels, size_t(bm->bytesPerRow) * kH);
  }
  bool SameAs(const Frame& o) const {
    return std::memcmp(bm->pixels, o.bm->pixels, size_t(bm->bytesPerRow) * kH) == 0;
  }
  uint32_t* px() const { return reinterpret_cast<uint32_t*>(bm->pixels); }
};

std::string Name(const char* filter, const char* impl) {
  return std::string(filter) + "/" + impl + "/" + std::to_string(kW) + "/" + std::to_string(kH);
}

template <typename F>
void Add(const std::string& name, F f) {
  benchmark::RegisterBenchmark(name.c_str(), f)->Unit(benchmark::kMillisecond)->UseRealTime();
}

void Time(benchmark::State& st, const std::function<void()>& op) {
  for (auto _ : st) {
    op();
    benchmark::ClobberMemory();
  }
  st.SetBytesProcessed(st.iterations() * int64_t(kW) * kH * 4);
}

// Ours, timed on a fresh copy each run (the copy is outside the timing).
void Ours(const char* filter, std::function<void(qvBitMap*)> op) {
  Add(Name(filter, "quillvane"), [op](benchmark::State& st) {
    Frame source, a, b;
    a.CopyFrom(source);
    b.CopyFrom(source);
    const SimdLevel level = CurrentSimdLevel();
    op(a.bm);
    SetSimdLevel(SimdLevel::kScalar);
    op(b.bm);
    SetSimdLevel(level);
    if (!a.SameAs(b)) return st.SkipWithError("differs from the scalar reference");
    for (auto _ : st) {
      st.PauseTiming();
      a.CopyFrom(source);
      st.ResumeTiming();
      op(a.bm);
      benchmark::ClobberMemory();
    }
    st.SetBytesProcessed(st.iterations() * int64_t(kW) * kH * 4);
  });
}

// MagickCore on one thread: the picture goes in as BGRA bytes once; each run makes a new image.
void Magick(const char* filter, std::function<Image*(Image*, ExceptionInfo*)> op) {
  Add(Name(filter, "imagemagick"), [op](benchmark::State& st) {
    static bool started = false;
    if (!started) {
      setenv("MAGICK_THREAD_LIMIT", "1", 1);
      MagickCoreGenesis(nullptr, MagickFalse);
      SetMagickResourceLimit(ThreadResource, 1);
      started = true;
    }
    Frame source;
    ExceptionInfo* ex = AcquireExceptionInfo();
    std::vector<uint32_t> packed(size_t(kW) * kH);
    for (int y = 0; y < kH; ++y)
      std::memcpy(packed.data() + size_t(y) * kW,
                  source.bm->pixels + int64_t(y) * source.bm->bytesPerRow, size_t(kW) * 4);
    Image* image = ConstituteImage(kW, kH, "BGRP", CharPixel, packed.data(), ex);
    if (!image) return st.SkipWithError("MagickCore could not take the picture");
    Time(st, [&] {
      Image* out = op(image, ex);
      if (out && out != image) DestroyImage(out);
    });
    DestroyImage(image);
    DestroyExceptionInfo(ex);
  });
}

// Our square kernels, written out again for pixman (16.16 fixed point).
std::vector<double> SquareKernel(char mode, int taps, double sigma) {
  std::vector<double> k(size_t(taps) * taps);
  const int r = taps / 2;
  const double den = 2.0 * M_PI * sigma * sigma;
  for (int v = -r; v <= r; ++v)
    for (int u = -r; u <= r; ++u) {
      const double g = std::exp(-double(u * u + v * v) / (2.0 * sigma * sigma));
      double& e = k[size_t((v + r) * taps + u + r)];
      if (mode == 'e') e = u == -v ? (u >= 0 && v >= 0 ? 8.0 : -8.0) * g / den : 0.0;
      if (mode == 'g') e = -1.0;
      if (mode == 's') e = -g / den;
    }
  const size_t c = size_t(r * taps + r);
  double sum = 0;
  if (mode == 'g') k[c] = double(taps * taps - 1);
  if (mode == 's') {
    for (double e : k) sum += e;
    k[c] = -2.0 * sum;
  }
  sum = 0;
  for (double e : k) sum += e;
  const double scale = std::abs(sum) < 1e-10 ? 1.0 : 1.0 / sum;
  for (double& e : k) e *= scale;
  return k;
}

void Pixman(const char* filter, char mode, int taps) {
  Add(Name(filter, "pixman"), [mode, taps](benchmark::State& st) {
    Frame source, dest;
    const std::vector<double> k = SquareKernel(mode, taps, 1.0);
    std::vector<pixman_fixed_t> params{pixman_int_to_fixed(taps), pixman_int_to_fixed(taps)};
    for (double e : k) params.push_back(pixman_double_to_fixed(e));
    pixman_image_t* s = pixman_image_create_bits(PIXMAN_x8r8g8b8, kW, kH, source.px(),
                                                 source.bm->bytesPerRow);
    pixman_image_t* d = pixman_image_create_bits(PIXMAN_x8r8g8b8, kW, kH, dest.px(),
                                                 dest.bm->bytesPerRow);
    pixman_image_set_filter(s, PIXMAN_FILTER_CONVOLUTION, params.data(), int(params.size()));
    pixman_image_set_repeat(s, PIXMAN_REPEAT_PAD);
    Time(st,
         [&] { pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, kW, kH); });
    pixman_image_unref(s);
    pixman_image_unref(d);
  });
}

void Memcpy(const char* filter) {
  Add(Name(filter, "memcpy"), [](benchmark::State& st) {
    Frame a, b;
    Time(st, [&] {
      for (int y = 0; y < kH; ++y)
        std::memcpy(b.bm->pixels + int64_t(y) * b.bm->bytesPerRow,
                    a.bm->pixels + int64_t(y) * a.bm->bytesPerRow, size_t(kW) * 4);
    });
  });
}

void Register() {
  Ours("blur", [](qvBitMap* b) { ConvolveBitMap('b', b, nullptr, kW, kH, 5, 2); });
  Magick("blur", [](Image* i, ExceptionInfo* ex) { return BlurImage(i, 5, 2, ex); });

  Ours("sharpen", [](qvBitMap* b) { ConvolveBitMap('s', b, nullptr, kW, kH, 0, 1); });
  Magick("sharpen", [](Image* i, ExceptionInfo* ex) { return SharpenImage(i, 0, 1, ex); });
  Pixman("sharpen", 's', 7);

  Ours("emboss", [](qvBitMap* b) { ConvolveBitMap('e', b, nullptr, kW, kH, 0, 1); });
  Magick("emboss", [](Image* i, ExceptionInfo* ex) { return EmbossImage(i, 0, 1, ex); });
  Pixman("emboss", 'e', 7);

  Ours("edge", [](qvBitMap* b) { ConvolveBitMap('g', b, nullptr, kW, kH, 1, 1); });
  Magick("edge", [](Image* i, ExceptionInfo* ex) { return EdgeImage(i, 1, ex); });
  Pixman("edge", 'g', 3);

  Ours("oilpaint", [](qvBitMap* b) { OilPaintBitMap(b, kW, kH, 3); });
  Magick("oilpaint", [](Image* i, ExceptionInfo* ex) { return OilPaintImage(i, 3, ex); });

  Ours("solarize", [](qvBitMap* b) { SolarizeBitMap(b, kW, kH, 128); });
  Magick("solarize", [](Image* i, ExceptionInfo*) {
    SolarizeImage(i, 128 * 257.0);
    return i;
  });
  Memcpy("solarize");

  Ours("gamma", [](qvBitMap* b) { GammaBitMap(b, kW, kH, 2.2, 1.8, 0.5); });
  Magick("gamma", [](Image* i, ExceptionInfo*) {
    GammaImage(i, "2.2,1.8,0.5");
    return i;
  });
  Memcpy("gamma");
}

const bool kRegistered = (Register(), true);

}  // namespace
