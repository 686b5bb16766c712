// The image engine beside pixman and SDL2 on the same pictures (its shapes beside cairo, in
// image_bench_shapes.cpp), in one run on one thread, with memcpy and memset over the same rows as
// the bandwidth roof. Names read
// <case>/<implementation>/<sizes>; every run reports the bytes it wrote. Before timing, each of
// ours is checked once against the scalar reference. QV_IMAGE_SIMD=scalar|sse2|avx2 forces a path
// (for the scalar figures).
#include <SDL.h>
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "image/image.h"

using namespace qv;

namespace {

struct Picture {
  qvBitMap* bm = nullptr;
  explicit Picture(int w, int h, uint32_t seed = 0) : bm(AllocBitMap(w, h)) {
    std::mt19937 rng(seed);
    auto* p = reinterpret_cast<uint32_t*>(bm->pixels);
    size_t n = size_t(bm->bytesPerRow / 4) * (size_t(h) + 1);
    for (size_t i = 0; i < n; ++i) p[i] = rng();
  }
  ~Picture() { FreeBitMap(bm); }
  Picture(const Picture&) = delete;
  Picture& operator=(const Picture&) = delete;
  uint32_t* px() const { return reinterpret_cast<uint32_t*>(bm->pixels); }
  int ppr() const { return bm->bytesPerRow / 4; }
  pixman_image_t* Pixman(pixman_format_code_t f = PIXMAN_a8r8g8b8) const {
    return pixman_image_create_bits(f, bm->width, bm->height, px(), bm->bytesPerRow);
  }
  SDL_Surface* Sdl() const {
    return SDL_CreateRGBSurfaceWithFormatFrom(bm->pixels, bm->width, bm->height, 32,
                                              bm->bytesPerRow, SDL_PIXELFORMAT_ARGB8888);
  }
  bool SameAs(const Picture& o) const {
    for (int y = 0; y < bm->height; ++y)
      if (std::memcmp(bm->pixels + size_t(y) * bm->bytesPerRow,
                      o.bm->pixels + size_t(y) * o.bm->bytesPerRow, size_t(bm->width) * 4))
        return false;
    return true;
  }
};

// Runs our operation once on the best path and once on the scalar reference into fresh copies of
// the destination and compares them; false stops the case.
bool MatchesScalar(int dw, int dh, const std::function<void(Picture&)>& op) {
  Picture a(dw, dh, 9), b(dw, dh, 9);
  SimdLevel level = CurrentSimdLevel();
  op(a);
  SetSimdLevel(SimdLevel::kScalar);
  op(b);
  SetSimdLevel(level);
  return a.SameAs(b);
}

void Time(benchmark::State& state, int64_t bytesPerRun, const std::function<void()>& op) {
  for (auto _ : state) {
    op();
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * bytesPerRun);
}

std::string Name(const char* kase, const char* impl, std::vector<int> sizes) {
  char buffer[128];
  int n = std::snprintf(buffer, sizeof buffer, "%s/%s", kase, impl);
  for (int s : sizes) n += std::snprintf(buffer + n, sizeof buffer - size_t(n), "/%d", s);
  return buffer;
}

template <typename F>
void Add(const std::string& name, F f) {
  benchmark::RegisterBenchmark(name.c_str(), f)->Unit(benchmark::kMicrosecond)->UseRealTime();
}

void CopyAndFill(int w, int h) {
  const int64_t bytes = int64_t(w) * h * 4;
  Add(Name("copy", "quillvane", {w, h}), [=](benchmark::State& st) {
    Picture src(w, h, 1), dst(w, h, 2);
    if (!MatchesScalar(w, h, [&](Picture& d) { BltBitMap(src.bm, 0, 0, d.bm, 0, 0, w, h); }))
      return st.SkipWithError("differs from the scalar reference");
    Time(st, bytes, [&] { BltBitMap(src.bm, 0, 0, dst.bm, 0, 0, w, h); });
  });
  Add(Name("copy", "memcpy", {w, h}), [=](benchmark::State& st) {
    Picture src(w, h, 1), dst(w, h, 2);
    Time(st, bytes, [&] {
      for (int y = 0; y < h; ++y)
        std::memcpy(dst.bm->pixels + size_t(y) * dst.bm->bytesPerRow,
                    src.bm->pixels + size_t(y) * src.bm->bytesPerRow, size_t(w) * 4);
    });
  });
  Add(Name("copy", "pixman", {w, h}), [=](benchmark::State& st) {
    Picture src(w, h, 1), dst(w, h, 2);
    pixman_image_t *s = src.Pixman(), *d = dst.Pixman();
    Time(st, bytes,
         [&] { pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, w, h); });
    pixman_image_unref(s);
    pixman_image_unref(d);
  });
  Add(Name("copy", "sdl", {w, h}), [=](benchmark::State& st) {
    Picture src(w, h, 1), dst(w, h, 2);
    SDL_Surface *s = src.Sdl(), *d = dst.Sdl();
    SDL_SetSurfaceBlendMode(s, SDL_BLENDMODE_NONE);
    Time(st, bytes, [&] { SDL_BlitSurface(s, nullptr, d, nullptr); });
    SDL_FreeSurface(s);
    SDL_FreeSurface(d);
  });

  Add(Name("fill", "quillvane", {w, h}), [=](benchmark::State& st) {
    Picture dst(w, h, 2);
    if (!MatchesScalar(w, h, [&](Picture& d) { FillBitMapRect(d.bm, 0, 0, w, h, 0x555555); }))
      return st.SkipWithError("differs from the scalar reference");
    Time(st, bytes, [&] { FillBitMapRect(dst.bm, 0, 0, w, h, 0x555555); });
  });
  Add(Name("fill", "memset", {w, h}), [=](benchmark::State& st) {
    Picture dst(w, h, 2);
    Time(st, bytes, [&] {
      for (int y = 0; y < h; ++y)
        std::memset(dst.bm->pixels + size_t(y) * dst.bm->bytesPerRow, 0x55, size_t(w) * 4);
    });
  });
  Add(Name("fill", "pixman", {w, h}), [=](benchmark::State& st) {
    Picture dst(w, h, 2);
    Time(st, bytes, [&] { pixman_fill(dst.px(), dst.ppr(), 32, 0, 0, w, h, 0x555555); });
  });
  Add(Name("fill", "sdl", {w, h}), [=](benchmark::State& st) {
    Picture dst(w, h, 2);
    SDL_Surface* d = dst.Sdl();
    Time(st, bytes, [&] { SDL_FillRect(d, nullptr, 0x555555); });
    SDL_FreeSurface(d);
  });
}

void AlphaAndMasked(int w, int h) {
  const int64_t bytes = int64_t(w) * h * 4;
  // One alpha plane and one mask for everyone: random weights and random bits in runs.
  auto makeAlpha = [=] {
    qvPlane* a = AllocAlphaChannel(w, h, false);
    std::mt19937 rng(5);
    for (int64_t i = 0; i < int64_t(a->bytesPerRow) * h; ++i) a->data[i] = uint8_t(rng());
    return a;
  };
  auto makeMask = [=] {
    qvPlane* m = AllocMask(w, h, false);
    std::mt19937 rng(6);
    for (int64_t i = 0; i < int64_t(m->bytesPerRow) * h; ++i) {
      uint32_t k = rng() % 3;
      m->data[i] = uint8_t(k == 0 ? 0 : k == 1 ? 0xFF : rng());
    }
    return m;
  };
  Add(Name("alpha", "quillvane", {w, h}), [=](benchmark::State& st) {
    Picture src(w, h, 1), dst(w, h, 2);
    qvPlane* a = makeAlpha();
    auto op = [&](Picture& d) {
      BltAlphaBitMapKernel(BltAlphaBitMapRecord{src.px(), 0, 0, 0, 0, src.ppr(), d.px(), 0, 0,
                                                d.ppr(), w, h, a->data, a->bytesPerRow,
                                                kPixARGB32});
    };
    if (!MatchesScalar(w, h, op)) return st.SkipWithError("differs from the scalar reference");
    Time(st, bytes, [&] { op(dst); });
    FreeMaskOrAlpha(a);
  });
  Add(Name("alpha", "pixman", {w, h}), [=](benchmark::State& st) {
    Picture src(w, h, 1), dst(w, h, 2);
    qvPlane* a = makeAlpha();
    pixman_image_t *s = src.Pixman(PIXMAN_x8r8g8b8), *d = dst.Pixman(PIXMAN_x8r8g8b8);
    pixman_image_t* m = pixman_image_create_bits(
        PIXMAN_a8, w, h, reinterpret_cast<uint32_t*>(a->data), a->bytesPerRow);
    Time(st, bytes,
         [&] { pixman_image_composite32(PIXMAN_OP_OVER, s, m, d, 0, 0, 0, 0, 0, 0, w, h); });
    pixman_image_unref(s);
    pixman_image_unref(m);
    pixman_image_unref(d);
    FreeMaskOrAlpha(a);
  });

  Add(Name("masked", "quillvane", {w, h}), [=](benchmark::State& st) {
    Picture src(w, h, 1), dst(w, h, 2);
    qvPlane* m = makeMask();
    if (!MatchesScalar(w, h, [&](Picture& d) { BltMaskBitMap(src.bm, 0, 0, d.bm, 0, 0, w, h, m); }))
      return st.SkipWithError("differs from the scalar reference");
    Time(st, bytes, [&] { BltMaskBitMap(src.bm, 0, 0, dst.bm, 0, 0, w, h, m); });
    FreeMaskOrAlpha(m);
  });
  Add(Name("masked", "pixman", {w, h}), [=](benchmark::State& st) {
    Picture src(w, h, 1), dst(w, h, 2);
    qvPlane* m = makeMask();
    // The same visible pixels in pixman's a1 layout: word rows, least significant bit first.
    int words = (w + 31) / 32;
    std::vector<uint32_t> a1(size_t(words) * h, 0);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (ReadBitMapPixel(m, x, y)) a1[size_t(y) * words + x / 32] |= 1u << (x % 32);
    pixman_image_t *s = src.Pixman(), *d = dst.Pixman();
    pixman_image_t* mi = pixman_image_create_bits(PIXMAN_a1, w, h, a1.data(), words * 4);
    Time(st, bytes,
         [&] { pixman_image_composite32(PIXMAN_OP_SRC, s, mi, d, 0, 0, 0, 0, 0, 0, w, h); });
    pixman_image_unref(s);
    pixman_image_unref(mi);
    pixman_image_unref(d);
    FreeMaskOrAlpha(m);
  });
  Add(Name("masked", "sdl", {w, h}), [=](benchmark::State& st) {
    // SDL has no 1-bit mask: the colour key marks the same pixels in a copy of the source.
    Picture src(w, h, 1), dst(w, h, 2);
    qvPlane* m = makeMask();
    const uint32_t key = 0xFF00FE01;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        uint32_t& p = src.px()[size_t(y) * src.ppr() + x];
        if (!ReadBitMapPixel(m, x, y))
          p = key;
        else if (p == key)
          p ^= 1;
      }
    SDL_Surface *s = src.Sdl(), *d = dst.Sdl();
    SDL_SetSurfaceBlendMode(s, SDL_BLENDMODE_NONE);
    SDL_SetColorKey(s, SDL_TRUE, key);
    Time(st, bytes, [&] { SDL_BlitSurface(s, nullptr, d, nullptr); });
    SDL_FreeSurface(s);
    SDL_FreeSurface(d);
    FreeMaskOrAlpha(m);
  });
}

void Scaling(int w, int h, int nw, int nh) {
  const int64_t bytes = int64_t(nw) * nh * 4;
  for (bool smooth : {false, true}) {
    const char* kase = smooth ? "scale_smooth" : "scale_nearest";
    Add(Name(kase, "quillvane", {w, h, nw, nh}), [=](benchmark::State& st) {
      Picture src(w, h, 1), dst(nw, nh, 2);
      auto op = [&](Picture& d) {
        ScaleBitMap(src.bm, nullptr, nullptr, 0, 0, d.bm, w, h, nw, nh, smooth, nullptr, nullptr,
                    nullptr);
      };
      if (!MatchesScalar(nw, nh, op)) return st.SkipWithError("differs from the scalar reference");
      Time(st, bytes, [&] { op(dst); });
    });
    Add(Name(kase, "pixman", {w, h, nw, nh}), [=](benchmark::State& st) {
      Picture src(w, h, 1), dst(nw, nh, 2);
      pixman_image_t *s = src.Pixman(PIXMAN_x8r8g8b8), *d = dst.Pixman(PIXMAN_x8r8g8b8);
      pixman_transform_t t;
      pixman_transform_init_scale(&t, pixman_double_to_fixed(double(w) / nw),
                                  pixman_double_to_fixed(double(h) / nh));
      pixman_image_set_transform(s, &t);
      pixman_image_set_filter(s, smooth ? PIXMAN_FILTER_BILINEAR : PIXMAN_FILTER_NEAREST, nullptr,
                              0);
      pixman_image_set_repeat(s, PIXMAN_REPEAT_PAD);
      Time(st, bytes, [&] {
        pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, nw, nh);
      });
      pixman_image_unref(s);
      pixman_image_unref(d);
    });
    Add(Name(kase, "sdl", {w, h, nw, nh}), [=](benchmark::State& st) {
      Picture src(w, h, 1), dst(nw, nh, 2);
      SDL_Surface *s = src.Sdl(), *d = dst.Sdl();
      SDL_SetSurfaceBlendMode(s, SDL_BLENDMODE_NONE);
      SDL_Rect to{0, 0, nw, nh};
      Time(st, bytes, [&] {
        if (smooth)
          SDL_SoftStretchLinear(s, nullptr, d, nullptr);
        else
          SDL_BlitScaled(s, nullptr, d, &to);
      });
      SDL_FreeSurface(s);
      SDL_FreeSurface(d);
    });
  }
}

void Rotation(int w, int h) {
  const double deg = 30.0 * M_PI / 180.0;
  const double m[4] = {std::cos(deg), std::sin(deg), -std::sin(deg), std::cos(deg)};
  int32_t bw, bh, bl, bt;
  GetRotatedBox(m, w, h, &bw, &bh, &bl, &bt);
  const double t[6] = {m[0], m[1], m[2], m[3], -double(bl), -double(bt)};
  const int64_t bytes = int64_t(bw) * bh * 4;
  Add(Name("rotate", "quillvane", {w, h}), [=](benchmark::State& st) {
    Picture src(w, h, 1), dst(bw, bh, 2);
    qvPlane* mask = AllocMask(bw, bh, true);
    auto op = [&](Picture& d) {
      RotateRecord r{};
      r.src = src.bm->pixels, r.dst = d.bm->pixels, r.dstMask = mask->data;
      r.srcWidth = w, r.srcHeight = h, r.srcPixelsPerRow = src.ppr();
      r.dstWidth = bw, r.dstHeight = bh, r.dstPixelsPerRow = d.ppr();
      r.dstMaskBytesPerRow = mask->bytesPerRow;
      r.transform = t, r.format = kPixARGB32, r.bytesPerPixel = 4;
      RotateKernel(r);
    };
    if (!MatchesScalar(bw, bh, op)) return st.SkipWithError("differs from the scalar reference");
    Time(st, bytes, [&] { op(dst); });
    FreeMaskOrAlpha(mask);
  });
  Add(Name("rotate", "pixman", {w, h}), [=](benchmark::State& st) {
    Picture src(w, h, 1), dst(bw, bh, 2);
    pixman_image_t *s = src.Pixman(), *d = dst.Pixman();
    // pixman maps destination points to the source: the inverse of ours.
    double det = m[0] * m[3] - m[2] * m[1];
    double i0 = m[3] / det, i1 = -m[1] / det, i2 = -m[2] / det, i3 = m[0] / det;
    pixman_transform_t tr;
    pixman_transform_init_identity(&tr);
    tr.matrix[0][0] = pixman_double_to_fixed(i0);
    tr.matrix[0][1] = pixman_double_to_fixed(i2);
    tr.matrix[0][2] = pixman_double_to_fixed(-t[4] * i0 - t[5] * i2);
    tr.matrix[1][0] = pixman_double_to_fixed(i1);
    tr.matrix[1][1] = pixman_double_to_fixed(i3);
    tr.matrix[1][2] = pixman_double_to_fixed(-t[4] * i1 - t[5] * i3);
    pixman_image_set_transform(s, &tr);
    pixman_image_set_filter(s, PIXMAN_FILTER_NEAREST, nullptr, 0);
    Time(st, bytes,
         [&] { pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, bw, bh); });
    pixman_image_unref(s);
    pixman_image_unref(d);
  });
}

}  // namespace

void RegisterShapeCases();  // image_bench_shapes.cpp

int main(int argc, char** argv) {
  if (const char* forced = std::getenv("QV_IMAGE_SIMD")) {
    std::string f = forced;
    SetSimdLevel(f == "scalar" ? SimdLevel::kScalar
                 : f == "sse2" ? SimdLevel::kSse2
                               : SimdLevel::kAvx2);
  }
  std::printf("image kernels: path %d (0 scalar, 1 SSE2, 2 AVX2)\n", int(CurrentSimdLevel()));
  for (auto [w, h] : {std::pair{640, 480}, {1920, 1080}, {3840, 2160}}) CopyAndFill(w, h);
  for (auto [w, h] : {std::pair{640, 480}, {1920, 1080}}) AlphaAndMasked(w, h);
  Scaling(640, 480, 1920, 1080);
  Scaling(1920, 1080, 1280, 720);
  Rotation(1024, 768);
  RegisterShapeCases();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
