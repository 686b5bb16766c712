// Video frame conversion beside libswscale: a planar YUV 4:2:0 frame into 32-bit pixels at
// 1920x1080, one to one and scaled up from 640x360, with memcpy of the result's bytes as the
// roof. libswscale converts to BGRA (format 10's bytes) with its default BT.601 studio-range
// coefficients, nearest-pixel scaling (SWS_POINT) to match ours, on one thread. Names read
// <case>/<implementation>/<source size>/<result size>. Ours is checked once against the scalar
// reference before timing.
// The cases register themselves when the program starts.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include "image/image.h"

using namespace qv;

namespace {

constexpr int kDw = 1920, kDh = 1080;

std::string Name(const char* kase, const char* impl, int w, int h) {
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, "%s/%s/%d/%d/%d/%d", kase, impl, w, h, kDw, kDh);
  return buffer;
}

template <typename F>
void Add(const std::string& name, F f) {
  benchmark::RegisterBenchmark(name.c_str(), f)->Unit(benchmark::kMicrosecond)->UseRealTime();
}

// A frame of smooth luma and chroma with some noise, as decoded video looks.
struct Frame {
  int w, h;
  std::vector<uint8_t> planes[3];
  const uint8_t* data[3];
  int32_t strides[3];
  Frame(int width, int height) : w(width), h(height) {
    std::mt19937 rng(42);
    for (int p = 0; p < 3; ++p) {
      const int pw = p == 0 ? w : (w + 1) / 2, ph = p == 0 ? h : (h + 1) / 2;
      planes[p].resize(size_t(pw) * ph);
      for (int y = 0; y < ph; ++y)
        for (int x = 0; x < pw; ++x)
          planes[p][size_t(y) * pw + x] = uint8_t(
              (p == 0 ? 16 + (x + y) * 219 / (pw + ph) : 40 + (x * 7 + y * p) % 176) + (rng() & 7));
      data[p] = planes[p].data();
      strides[p] = pw;
    }
  }
};

void Convert(const Frame& f, uint8_t* dst, bool scaled) {
  YUVFrameRecord r{f.data, f.strides, dst, f.w, f.h, kDw, kDh, kDw, kPixARGB32, 4};
  scaled ? YUVToRGBScaleKernel(r) : YUVToRGBKernel(r);
}

void Cases(const char* kase, int w, int h) {
  const bool scaled = w != kDw || h != kDh;
  const int64_t bytes = int64_t(kDw) * kDh * 4;
  Add(Name(kase, "quillvane", w, h), [=](benchmark::State& st) {
    Frame f(w, h);
    std::vector<uint8_t> dst(static_cast<size_t>(bytes)), reference(dst.size());
    const SimdLevel level = CurrentSimdLevel();
    SetSimdLevel(SimdLevel::kScalar);
    Convert(f, reference.data(), scaled);
    SetSimdLevel(level);
    Convert(f, dst.data(), scaled);
    if (dst != reference) return st.SkipWithError("differs from the scalar reference");
    for (auto _ : st) {
      Convert(f, dst.data(), scaled);
      benchmark::DoNotOptimize(dst.data());
      benchmark::ClobberMemory();
    }
    st.SetBytesProcessed(st.iterations() * bytes);
  });
  Add(Name(kase, "swscale", w, h), [=](benchmark::State& st) {
    Frame f(w, h);
    std::vector<uint8_t> dst(static_cast<size_t>(bytes));
    SwsContext* sws = sws_getContext(w, h, AV_PIX_FMT_YUV420P, kDw, kDh, AV_PIX_FMT_BGRA, SWS_POINT,
                                     nullptr, nullptr, nullptr);
    if (!sws) return st.SkipWithError("no swscale context");
    const int srcStrides[3] = {f.strides[0], f.strides[1], f.strides[2]};
    uint8_t* dstPlanes[1] = {dst.data()};
    const int dstStrides[1] = {kDw * 4};
    for (auto _ : st) {
      sws_scale(sws, f.data, srcStrides, 0, h, dstPlanes, dstStrides);
      benchmark::DoNotOptimize(dst.data());
      benchmark::ClobberMemory();
    }
    st.SetBytesProcessed(st.iterations() * bytes);
    sws_freeContext(sws);
  });
}

const bool kRegistered = [] {
  Cases("yuv420_rgb32", kDw, kDh);
  Cases("yuv420_rgb32_scaled", 640, 360);
  Add(Name("yuv420_rgb32", "memcpy", kDw, kDh), [](benchmark::State& st) {
    const size_t bytes = size_t(kDw) * kDh * 4;
    std::vector<uint8_t> src(bytes, 1), dst(bytes);
    for (auto _ : st) {
      std::memcpy(dst.data(), src.data(), bytes);
      benchmark::DoNotOptimize(dst.data());
      benchmark::ClobberMemory();
    }
    st.SetBytesProcessed(st.iterations() * int64_t(bytes));
  });
  return true;
}();

}  // namespace
