// Alpha brushes scaled and turned: the image engine's bitmap with its 8-bit alpha plane beside
// pixman's a8r8g8b8 picture (the alpha in each pixel), both bilinear, in the same run on one
// thread. Names read <case>/<implementation>/<width>/<height>: scale_alpha makes a 1920x1080
// picture from a 1280x720 one; rotate_alpha turns a 1920x1080 picture by 30 degrees, and
// rotate_mask a masked one (ours only, the scalar reference beside the best path). The cases
// register themselves before main runs.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "image/image.h"

using namespace qv;

namespace {

std::string PlaneName(const char* kase, const char* impl, int w, int h) {
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, "%s/%s/%d/%d", kase, impl, w, h);
  return buffer;
}

template <typename F>
void AddPlane(const std::string& name, F f) {
  benchmark::RegisterBenchmark(name.c_str(), f)->Unit(benchmark::kMicrosecond)->UseRealTime();
}

// A seeded picture with an alpha plane whose values cover 0..255.
struct AlphaPicture {
  qvBitMap* bm;
  qvPlane* alpha;
  AlphaPicture(int w, int h, uint32_t seed)
      : bm(AllocBitMap(w, h)), alpha(AllocAlphaChannel(w, h, false)) {
    std::mt19937 rng(seed);
    auto* p = reinterpret_cast<uint32_t*>(bm->pixels);
    for (size_t i = 0; i < size_t(bm->bytesPerRow / 4) * (size_t(h) + 1); ++i)
      p[i] = rng() & 0xFFFFFF;
    for (size_t i = 0; i < size_t(alpha->bytesPerRow) * size_t(h); ++i)
      alpha->data[i] = uint8_t(rng());
  }
  ~AlphaPicture() {
    FreeBitMap(bm);
    FreeMaskOrAlpha(alpha);
  }
  AlphaPicture(const AlphaPicture&) = delete;
  AlphaPicture& operator=(const AlphaPicture&) = delete;
  // The same picture as pixman's a8r8g8b8 (a copy with the alpha in each pixel's top byte).
  pixman_image_t* Pixman() const {
    pixman_image_t* img = pixman_image_create_bits(PIXMAN_a8r8g8b8, bm->width, bm->height, nullptr,
                                                   0);
    auto* out = pixman_image_get_data(img);
    int stride = pixman_image_get_stride(img) / 4;
    for (int y = 0; y < bm->height; ++y) {
      const auto* s = reinterpret_cast<const uint32_t*>(bm->pixels + size_t(y) * bm->bytesPerRow);
      for (int x = 0; x < bm->width; ++x)
        out[size_t(y) * size_t(stride) + size_t(x)] =
            s[x] | uint32_t(alpha->data[size_t(y) * size_t(alpha->bytesPerRow) + size_t(x)]) << 24;
    }
    return img;
  }
};

// Our result on the best path equals the scalar reference's, pixels and alpha.
bool PlanesEqual(const qvBitMap* a, const qvPlane* aa, const qvBitMap* b, const qvPlane* ba) {
  if (a->width != b->width || a->height != b->height) return false;
  for (int y = 0; y < a->height; ++y) {
    if (std::memcmp(a->pixels + size_t(y) * a->bytesPerRow, b->pixels + size_t(y) * b->bytesPerRow,
                    size_t(a->width) * 4) != 0 ||
        std::memcmp(aa->data + size_t(y) * aa->bytesPerRow, ba->data + size_t(y) * ba->bytesPerRow,
                    size_t(a->width)) != 0)
      return false;
  }
  return true;
}

void ScaleAlpha(int w, int h, int nw, int nh) {
  const int64_t bytes = int64_t(nw) * nh * 5;
  AddPlane(PlaneName("scale_alpha", "quillvane", nw, nh), [=](benchmark::State& st) {
    AlphaPicture src(w, h, 1);
    auto op = [&](qvBitMap** b, qvPlane** a) {
      return ScaleBitMap(src.bm, nullptr, src.alpha, 0, 0, nullptr, w, h, nw, nh, true, b, nullptr,
                         a);
    };
    qvBitMap *b1 = nullptr, *b2 = nullptr;
    qvPlane *a1 = nullptr, *a2 = nullptr;
    op(&b1, &a1);
    SimdLevel level = CurrentSimdLevel();
    SetSimdLevel(SimdLevel::kScalar);
    op(&b2, &a2);
    SetSimdLevel(level);
    bool same = PlanesEqual(b1, a1, b2, a2);
    FreeBitMap(b1), FreeBitMap(b2), FreeMaskOrAlpha(a1), FreeMaskOrAlpha(a2);
    if (!same) return st.SkipWithError("differs from the scalar reference");
    for (auto _ : st) {
      qvBitMap* b = nullptr;
      qvPlane* a = nullptr;
      op(&b, &a);
      FreeBitMap(b);
      FreeMaskOrAlpha(a);
    }
    st.SetBytesProcessed(st.iterations() * bytes);
  });
  AddPlane(PlaneName("scale_alpha", "pixman", nw, nh), [=](benchmark::State& st) {
    AlphaPicture src(w, h, 1);
    pixman_image_t* s = src.Pixman();
    pixman_transform_t t;
    pixman_transform_init_scale(&t, pixman_double_to_fixed(double(w) / nw),
                                pixman_double_to_fixed(double(h) / nh));
    pixman_image_set_transform(s, &t);
    pixman_image_set_filter(s, PIXMAN_FILTER_BILINEAR, nullptr, 0);
    pixman_image_set_repeat(s, PIXMAN_REPEAT_PAD);
    for (auto _ : st) {
      // A new picture each time, as ours makes new planes.
      pixman_image_t* d = pixman_image_create_bits(PIXMAN_a8r8g8b8, nw, nh, nullptr, 0);
      pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, nw, nh);
      benchmark::DoNotOptimize(pixman_image_get_data(d));
      pixman_image_unref(d);
    }
    st.SetBytesProcessed(st.iterations() * int64_t(nw) * nh * 4);
    pixman_image_unref(s);
  });
}

void RotateAlpha(int w, int h) {
  const double deg = 30.0 * M_PI / 180.0;
  const double m[4] = {std::cos(deg), std::sin(deg), -std::sin(deg), std::cos(deg)};
  int32_t bw, bh, bl, bt;
  GetRotatedBox(m, w, h, &bw, &bh, &bl, &bt);
  AddPlane(PlaneName("rotate_alpha", "quillvane", w, h), [=](benchmark::State& st) {
    AlphaPicture src(w, h, 1);
    auto op = [&](qvBitMap** b, qvPlane** a) {
      return RotateBitMap(src.bm, nullptr, src.alpha, 0, 0, w, h, m, true, b, nullptr, a, nullptr,
                          nullptr);
    };
    qvBitMap *b1 = nullptr, *b2 = nullptr;
    qvPlane *a1 = nullptr, *a2 = nullptr;
    op(&b1, &a1);
    SimdLevel level = CurrentSimdLevel();
    SetSimdLevel(SimdLevel::kScalar);
    op(&b2, &a2);
    SetSimdLevel(level);
    bool same = PlanesEqual(b1, a1, b2, a2);
    FreeBitMap(b1), FreeBitMap(b2), FreeMaskOrAlpha(a1), FreeMaskOrAlpha(a2);
    if (!same) return st.SkipWithError("differs from the scalar reference");
    for (auto _ : st) {
      qvBitMap* b = nullptr;
      qvPlane* a = nullptr;
      op(&b, &a);
      FreeBitMap(b);
      FreeMaskOrAlpha(a);
    }
    st.SetBytesProcessed(st.iterations() * int64_t(bw) * bh * 5);
  });
  AddPlane(PlaneName("rotate_alpha", "pixman", w, h), [=](benchmark::State& st) {
    AlphaPicture src(w, h, 1);
    pixman_image_t* s = src.Pixman();
    // pixman maps destination points to the source: the inverse of ours.
    double det = m[0] * m[3] - m[2] * m[1];
    double i0 = m[3] / det, i1 = -m[1] / det, i2 = -m[2] / det, i3 = m[0] / det;
    double e = -double(bl), f = -double(bt);
    pixman_transform_t tr;
    pixman_transform_init_identity(&tr);
    tr.matrix[0][0] = pixman_double_to_fixed(i0);
    tr.matrix[0][1] = pixman_double_to_fixed(i2);
    tr.matrix[0][2] = pixman_double_to_fixed(-e * i0 - f * i2);
    tr.matrix[1][0] = pixman_double_to_fixed(i1);
    tr.matrix[1][1] = pixman_double_to_fixed(i3);
    tr.matrix[1][2] = pixman_double_to_fixed(-e * i1 - f * i3);
    pixman_image_set_transform(s, &tr);
    pixman_image_set_filter(s, PIXMAN_FILTER_BILINEAR, nullptr, 0);
    for (auto _ : st) {
      pixman_image_t* d = pixman_image_create_bits(PIXMAN_a8r8g8b8, bw, bh, nullptr, 0);
      pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, bw, bh);
      benchmark::DoNotOptimize(pixman_image_get_data(d));
      pixman_image_unref(d);
    }
    st.SetBytesProcessed(st.iterations() * int64_t(bw) * bh * 4);
    pixman_image_unref(s);
  });
}

// The masked picture turned the same way, our road only (pixman has no 1-bit plane beside a
// picture): the scalar reference against the best path, for the speed the SIMD rows give.
void RotateMask(int w, int h) {
  const double deg = 30.0 * M_PI / 180.0;
  const double m[4] = {std::cos(deg), std::sin(deg), -std::sin(deg), std::cos(deg)};
  int32_t bw, bh;
  GetRotatedBox(m, w, h, &bw, &bh, nullptr, nullptr);
  for (bool scalar : {false, true}) {
    AddPlane(PlaneName("rotate_mask", scalar ? "quillvane-scalar" : "quillvane", w, h),
             [=](benchmark::State& st) {
               AlphaPicture src(w, h, 1);
               // Opaque but for a hole in the middle.
               qvPlane* mask = AllocMask(w, h, false);
               FillPlaneRect(mask, 0, 0, w, h, 0);
               FillPlaneRect(mask, w / 3, h / 3, w / 3, h / 3, 1);
               SimdLevel level = CurrentSimdLevel();
               if (scalar) SetSimdLevel(SimdLevel::kScalar);
               for (auto _ : st) {
                 qvBitMap* b = nullptr;
                 qvPlane* pm = nullptr;
                 RotateBitMap(src.bm, mask, nullptr, 0, 0, w, h, m, true, &b, &pm, nullptr, nullptr,
                              nullptr);
                 FreeBitMap(b);
                 FreeMaskOrAlpha(pm);
               }
               SetSimdLevel(level);
               FreeMaskOrAlpha(mask);
               st.SetBytesProcessed(st.iterations() * int64_t(bw) * bh * 4);
             });
  }
}

const bool kRegistered = [] {
  ScaleAlpha(1280, 720, 1920, 1080);
  RotateAlpha(1920, 1080);
  RotateMask(1920, 1080);
  return true;
}();

}  // namespace
