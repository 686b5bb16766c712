// AVX2 rows of the filters, each matching its scalar reference (filters.cpp) bit for bit. The
// convolutions keep the reference's double arithmetic: the four byte lanes of a pixel are four
// doubles of one register, and every lane sums its products in the reference's order. Zero taps
// of a square kernel are skipped: adding a zero product leaves a sum as it is but for the sign of
// a zero, which the limit to 0..255 makes 0 either way.
#include <cstddef>
#include <cstring>

#include "image/filters_internal.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

namespace qv::image {

namespace {

// Two neighbouring pixels as two registers of four doubles.
__attribute__((target("avx2"))) inline void LoadPair(const uint32_t* p, __m256d* lo, __m256d* hi) {
  __m256i ints = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
  *lo = _mm256_cvtepi32_pd(_mm256_castsi256_si128(ints));
  *hi = _mm256_cvtepi32_pd(_mm256_extracti128_si256(ints, 1));
}

__attribute__((target("avx2"))) inline __m256d LoadOne(const uint32_t* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(v)));
}

// Limited to 0..255, truncated, packed back into a pixel.
__attribute__((target("avx2"))) inline uint32_t Store(__m256d sum, uint32_t keep) {
  sum = _mm256_min_pd(_mm256_max_pd(sum, _mm256_setzero_pd()), _mm256_set1_pd(255.0));
  __m128i ints = _mm256_cvttpd_epi32(sum);
  ints = _mm_packus_epi16(_mm_packus_epi32(ints, ints), ints);
  return uint32_t(_mm_cvtsi128_si32(ints)) & keep;
}

__attribute__((target("avx2"))) void BlurRowAvx2(uint32_t* out, const uint32_t* src,
                                                 const double* kernel, int32_t taps, int32_t n,
                                                 uint32_t keep) {
  int32_t x = 0;
  for (; x + 2 <= n; x += 2) {
    __m256d a = _mm256_setzero_pd(), b = _mm256_setzero_pd();
    for (int32_t k = 0; k < taps; ++k) {
      __m256d lo, hi;
      LoadPair(src + x + k, &lo, &hi);
      const __m256d c = _mm256_broadcast_sd(kernel + k);
      a = _mm256_add_pd(a, _mm256_mul_pd(c, lo));
      b = _mm256_add_pd(b, _mm256_mul_pd(c, hi));
    }
    out[x] = Store(a, keep);
    out[x + 1] = Store(b, keep);
  }
  for (; x < n; ++x) {
    __m256d a = _mm256_setzero_pd();
    for (int32_t k = 0; k < taps; ++k)
      a = _mm256_add_pd(a, _mm256_mul_pd(_mm256_broadcast_sd(kernel + k), LoadOne(src + x + k)));
    out[x] = Store(a, keep);
  }
}

__attribute__((target("avx2"))) void BlurColumnAvx2(uint32_t* out, const uint32_t* const* rows,
                                                    const double* kernel, int32_t taps, int32_t n,
                                                    uint32_t keep) {
  int32_t x = 0;
  for (; x + 2 <= n; x += 2) {
    __m256d a = _mm256_setzero_pd(), b = _mm256_setzero_pd();
    for (int32_t k = 0; k < taps; ++k) {
      __m256d lo, hi;
      LoadPair(rows[k] + x, &lo, &hi);
      const __m256d c = _mm256_broadcast_sd(kernel + k);
      a = _mm256_add_pd(a, _mm256_mul_pd(c, lo));
      b = _mm256_add_pd(b, _mm256_mul_pd(c, hi));
    }
    out[x] = Store(a, keep);
    out[x + 1] = Store(b, keep);
  }
  for (; x < n; ++x) {
    __m256d a = _mm256_setzero_pd();
    for (int32_t k = 0; k < taps; ++k)
      a = _mm256_add_pd(a, _mm256_mul_pd(_mm256_broadcast_sd(kernel + k), LoadOne(rows[k] + x)));
    out[x] = Store(a, keep);
  }
}

struct Tap {
  const uint32_t* row;  // the window row, at the tap's column
  double k;
};

__attribute__((target("avx2"))) void SquareRowAvx2(uint32_t* out, const uint32_t* const* rows,
                                                   const double* kernel, int32_t taps, int32_t n,
                                                   uint32_t keep) {
  constexpr int64_t kMaxTaps = 1024;
  Tap list[kMaxTaps];
  int64_t count = 0;
  const int64_t all = int64_t(taps) * taps;
  for (int64_t i = 0; i < all; ++i) {
    if (kernel[i] == 0.0) continue;
    if (count == kMaxTaps) {
      count = -1;
      break;
    }
    list[count++] = Tap{rows[i / taps] + i % taps, kernel[i]};
  }
  if (count < 0) {
    // A kernel of more than 1024 live taps: the reference's own loop.
    SquareRowScalar(out, rows, kernel, taps, n, keep);
    return;
  }
  int32_t x = 0;
  for (; x + 2 <= n; x += 2) {
    __m256d a = _mm256_setzero_pd(), b = _mm256_setzero_pd();
    for (int64_t t = 0; t < count; ++t) {
      __m256d lo, hi;
      LoadPair(list[t].row + x, &lo, &hi);
      const __m256d c = _mm256_set1_pd(list[t].k);
      a = _mm256_add_pd(a, _mm256_mul_pd(c, lo));
      b = _mm256_add_pd(b, _mm256_mul_pd(c, hi));
    }
    out[x] = Store(a, keep);
    out[x + 1] = Store(b, keep);
  }
  for (; x < n; ++x) {
    __m256d a = _mm256_setzero_pd();
    for (int64_t t = 0; t < count; ++t)
      a = _mm256_add_pd(a, _mm256_mul_pd(_mm256_set1_pd(list[t].k), LoadOne(list[t].row + x)));
    out[x] = Store(a, keep);
  }
}

__attribute__((target("avx2"))) void SolarizeRowAvx2(uint32_t* p, int32_t n, uint32_t threshold,
                                                     uint32_t keep) {
  const __m256i k = _mm256_set1_epi32(int(keep));
  if (threshold >= 255) {
    int32_t x = 0;
    for (; x + 8 <= n; x += 8) {
      auto* d = reinterpret_cast<__m256i*>(p + x);
      _mm256_storeu_si256(d, _mm256_and_si256(_mm256_loadu_si256(d), k));
    }
    for (; x < n; ++x) p[x] &= keep;
    return;
  }
  // c > t is c == max(c, t + 1) in unsigned bytes; 255 - c is c XOR 255.
  const __m256i above = _mm256_set1_epi8(char(threshold + 1));
  const __m256i ones = _mm256_set1_epi8(char(0xFF));
  int32_t x = 0;
  for (; x + 8 <= n; x += 8) {
    auto* d = reinterpret_cast<__m256i*>(p + x);
    __m256i v = _mm256_loadu_si256(d);
    __m256i flip = _mm256_cmpeq_epi8(_mm256_max_epu8(v, above), v);
    v = _mm256_xor_si256(v, _mm256_and_si256(flip, ones));
    _mm256_storeu_si256(d, _mm256_and_si256(v, k));
  }
  if (x < n) SolarizeRowScalar(p + x, n - x, threshold, keep);
}

// 64 bytes a step: each byte's table lookup is two 128-entry permutes of two table registers
// each, picked by the index's top bit; the bytes of each place of the pixel word come from their
// own table, and the spare place's table of zeros is left out.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void GammaRowsVbmi(
    uint32_t* p, int32_t width, int32_t height, int32_t pixelsPerRow, const uint8_t (*lanes)[256],
    int spareLane) {
  __m512i tables[4][4];
  for (int l = 0; l < 4; ++l)
    for (int q = 0; q < 4; ++q) tables[l][q] = _mm512_loadu_si512(lanes[l] + ptrdiff_t{64} * q);
  const __mmask64 place[4] = {0x1111111111111111ull, 0x2222222222222222ull, 0x4444444444444444ull,
                              0x8888888888888888ull};
  // The three colour places, the spare one left out: its bytes stay 0.
  int live[3], n = 0;
  for (int l = 0; l < 4; ++l)
    if (l != spareLane) live[n++] = l;
  for (int32_t y = 0; y < height; ++y) {
    uint32_t* row = p + int64_t(y) * pixelsPerRow;
    int32_t x = 0;
    for (; x + 16 <= width; x += 16) {
      const __m512i v = _mm512_loadu_si512(row + x);
      const __mmask64 high = _mm512_movepi8_mask(v);
      __m512i out = _mm512_setzero_si512();
      for (int l : live) {
        const __m512i lo = _mm512_maskz_permutex2var_epi8(_kandn_mask64(high, place[l]),
                                                          tables[l][0], v, tables[l][1]);
        const __m512i hi = _mm512_maskz_permutex2var_epi8(_kand_mask64(high, place[l]),
                                                          tables[l][2], v, tables[l][3]);
        out = _mm512_ternarylogic_epi32(out, lo, hi, 0xFE);  // out | lo | hi
      }
      _mm512_storeu_si512(row + x, out);
    }
    if (x < width) GammaRowsScalar(row + x, width - x, 1, pixelsPerRow, lanes, spareLane);
  }
}

constexpr FilterPaths kAvx2 = {BlurRowAvx2, BlurColumnAvx2, SquareRowAvx2, SolarizeRowAvx2,
                               GammaRowsScalar};
constexpr FilterPaths kAvx2Vbmi = {BlurRowAvx2, BlurColumnAvx2, SquareRowAvx2, SolarizeRowAvx2,
                                   GammaRowsVbmi};

}  // namespace

const FilterPaths* Avx2FilterPaths() {
  static const bool vbmi = __builtin_cpu_supports("avx512bw") &&
                           __builtin_cpu_supports("avx512vbmi");
  return vbmi ? &kAvx2Vbmi : &kAvx2;
}

}  // namespace qv::image

#else

namespace qv::image {
const FilterPaths* Avx2FilterPaths() { return nullptr; }
}  // namespace qv::image

#endif
