// The scalar reference of each hot kernel's inner row, and the switch between it and the SIMD
// paths of the CPU.
#include <cstring>

#include "image/image.h"
#include "image/internal.h"

namespace qv::image {

namespace {

// Overlapping rows (a scroll inside one bitmap) copy as memmove does.
void CopyRow(uint32_t* dst, const uint32_t* src, int32_t n) {
  if (reinterpret_cast<uintptr_t>(dst) <= reinterpret_cast<uintptr_t>(src) ||
      reinterpret_cast<uintptr_t>(dst) >= reinterpret_cast<uintptr_t>(src + n)) {
    for (int32_t i = 0; i < n; ++i) dst[i] = src[i];
  } else {
    for (int32_t i = n - 1; i >= 0; --i) dst[i] = src[i];
  }
}

void FillRow(uint32_t* dst, uint32_t value, int32_t n) {
  for (int32_t i = 0; i < n; ++i) dst[i] = value;
}

void MaskRow(uint32_t* dst, const uint32_t* src, const uint8_t* mask, int32_t bit0, int32_t n) {
  for (int32_t i = 0; i < n; ++i)
    if (MaskBit(mask, int64_t(bit0) + i)) dst[i] = src[i];
}

void TemplateRow(uint32_t* dst, const uint8_t* tmpl, int32_t bit0, int32_t n, uint32_t colour) {
  for (int32_t i = 0; i < n; ++i)
    if (MaskBit(tmpl, int64_t(bit0) + i)) dst[i] = colour;
}

uint32_t Blend(uint32_t d, uint32_t s, int a) {
  int r = Red(d) + (((Red(s) - Red(d)) * a) >> 8);
  int g = Green(d) + (((Green(s) - Green(d)) * a) >> 8);
  int b = Blue(d) + (((Blue(s) - Blue(d)) * a) >> 8);
  return uint32_t(r << 16 | g << 8 | b);
}

void AlphaRow(uint32_t* dst, const uint32_t* src, const uint8_t* alpha, int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    int a = alpha[i];
    if (a == 0) continue;
    dst[i] = a == 255 ? src[i] : Blend(dst[i], src[i], a);
  }
}

void CoverageRow(uint32_t* dst, const uint8_t* cov, uint32_t colour, int32_t n, bool levels65) {
  for (int32_t i = 0; i < n; ++i) {
    int c = cov[i];
    if (levels65) {
      if (c >= 64) {
        dst[i] = colour;
        continue;
      }
      c *= 4;
    }
    if (c == 0) continue;
    dst[i] = c == 255 ? colour : Blend(dst[i], colour, c);
  }
}

void MixRow(uint32_t* dst, const uint32_t* src, int32_t weight, int32_t n) {
  for (int32_t i = 0; i < n; ++i) dst[i] = Blend(src[i], dst[i], weight);
}

void MixMaskRow(uint32_t* dst, const uint32_t* src, const uint8_t* mask, int32_t bit0,
                int32_t weight, int32_t n) {
  for (int32_t i = 0; i < n; ++i)
    if (MaskBit(mask, int64_t(bit0) + i)) dst[i] = Blend(src[i], dst[i], weight);
}

void TintRow(uint32_t* px, uint32_t tint, int32_t level, int32_t n) {
  for (int32_t i = 0; i < n; ++i) px[i] = Blend(px[i], tint, level);
}

constexpr KernelPaths kScalar = {
    CopyRow, FillRow,    MaskRow,          TemplateRow,     AlphaRow,        CoverageRow,
    MixRow,  MixMaskRow, TintRow,          SmoothRowScalar, RotateRowScalar, RotateSmoothRowScalar,
    nullptr, nullptr,    NearestRowScalar, ChunkyRowScalar, PaletteRowScalar};

SimdLevel DetectBest() {
  __builtin_cpu_init();
  if (Avx2Paths() && __builtin_cpu_supports("avx2")) return SimdLevel::kAvx2;
  if (Sse2Paths() && __builtin_cpu_supports("sse2")) return SimdLevel::kSse2;
  return SimdLevel::kScalar;
}

const KernelPaths& PathsFor(SimdLevel level) {
  if (level == SimdLevel::kAvx2) return *Avx2Paths();
  if (level == SimdLevel::kSse2) return *Sse2Paths();
  return kScalar;
}

}  // namespace

KernelPaths gPaths = kScalar;  // constant-initialized: kernels run before any dynamic init

namespace {

SimdLevel gLevel = [] {
  SimdLevel best = DetectBest();
  gPaths = PathsFor(best);
  return best;
}();

}  // namespace

const KernelPaths& ScalarPaths() { return kScalar; }

}  // namespace qv::image

namespace qv {

SimdLevel BestSimdLevel() {
  static const SimdLevel best = image::DetectBest();
  return best;
}

SimdLevel CurrentSimdLevel() { return image::gLevel; }

SimdLevel SetSimdLevel(SimdLevel level) {
  if (level > BestSimdLevel()) level = BestSimdLevel();
  if (level < SimdLevel::kScalar) level = SimdLevel::kScalar;
  image::gLevel = level;
  image::gPaths = image::PathsFor(level);
  return level;
}

}  // namespace qv
