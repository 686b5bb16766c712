// SIMD paths of the hot kernel rows (SSE2 and AVX2), each matching its scalar reference bit for
// bit. The blends use d + (((s - d) x a) >> 8) = (d x (256 - a) + s x a) >> 8, which stays inside
// 16 bits and needs no signed shift.
#include <cmath>
#include <cstring>

#include "base/support.h"
#include "image/internal.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

namespace qv::image {

namespace {

// The scalar tails share the reference's arithmetic.
inline uint32_t BlendOne(uint32_t d, uint32_t s, int a) {
  int r = Red(d) + (((Red(s) - Red(d)) * a) >> 8);
  int g = Green(d) + (((Green(s) - Green(d)) * a) >> 8);
  int b = Blue(d) + (((Blue(s) - Blue(d)) * a) >> 8);
  return uint32_t(r << 16 | g << 8 | b);
}

inline uint32_t SelectOne(uint32_t d, uint32_t s, int a) {
  return a == 0 ? d : a == 255 ? s : BlendOne(d, s, a);
}

inline int Coverage(int c, bool levels65) {
  if (!levels65) return c;
  return c >= 64 ? 255 : c * 4;
}

inline uint8_t MaskByteAt(const uint8_t* mask, int32_t i, int32_t bit0) {
  // Eight bits from column bit0 + i on; the second byte is read only when the bits span it.
  int64_t at = int64_t(bit0) + i;
  const uint8_t* p = mask + (at >> 3);
  int shift = int(at & 7);
  if (shift == 0) return p[0];
  return uint8_t((p[0] << shift) | (p[1] >> (8 - shift)));
}

void MemmoveRow(uint32_t* dst, const uint32_t* src, int32_t n) {
  std::memmove(dst, src, size_t(n) * 4);
}

// ----- SSE2 -----------------------------------------------------------------------------------

__attribute__((target("sse2"))) inline __m128i Blend4(__m128i d, __m128i s, __m128i a32) {
  // a32: each 32-bit lane holds its pixel's weight 0-255.
  const __m128i zero = _mm_setzero_si128();
  __m128i a = _mm_or_si128(a32, _mm_slli_epi32(a32, 16));  // the weight in both 16-bit halves
  __m128i alo = _mm_unpacklo_epi32(a, a), ahi = _mm_unpackhi_epi32(a, a);
  const __m128i k256 = _mm_set1_epi16(256);
  __m128i lo = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(d, zero), _mm_sub_epi16(k256, alo)),
                             _mm_mullo_epi16(_mm_unpacklo_epi8(s, zero), alo));
  __m128i hi = _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(d, zero), _mm_sub_epi16(k256, ahi)),
                             _mm_mullo_epi16(_mm_unpackhi_epi8(s, zero), ahi));
  __m128i r = _mm_packus_epi16(_mm_srli_epi16(lo, 8), _mm_srli_epi16(hi, 8));
  return _mm_and_si128(r, _mm_set1_epi32(0x00FFFFFF));
}

__attribute__((target("sse2"))) inline __m128i Select4(__m128i d, __m128i s, __m128i a32) {
  __m128i none = _mm_cmpeq_epi32(a32, _mm_setzero_si128());
  __m128i full = _mm_cmpeq_epi32(a32, _mm_set1_epi32(255));
  __m128i b = Blend4(d, s, a32);
  __m128i r = _mm_or_si128(_mm_and_si128(none, d), _mm_and_si128(full, s));
  return _mm_or_si128(r, _mm_andnot_si128(_mm_or_si128(none, full), b));
}

__attribute__((target("sse2"))) inline __m128i Load4Bytes(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  const __m128i zero = _mm_setzero_si128();
  return _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(v), zero), zero);
}

// Four lanes all-ones where bits 7-4 (first) or 3-0 of the byte are set.
__attribute__((target("sse2"))) inline __m128i BitLanes4(uint32_t nibble) {
  const __m128i bits = _mm_set_epi32(1, 2, 4, 8);
  __m128i v = _mm_and_si128(_mm_set1_epi32(int(nibble)), bits);
  return _mm_cmpeq_epi32(v, bits);
}

__attribute__((target("sse2"))) void FillRowSse2(uint32_t* dst, uint32_t value, int32_t n) {
  __m128i v = _mm_set1_epi32(int(value));
  int32_t i = 0;
  for (; i + 4 <= n; i += 4) _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), v);
  for (; i < n; ++i) dst[i] = value;
}

template <bool kTemplate>
__attribute__((target("sse2"))) void MaskedRowSse2(uint32_t* dst, const uint32_t* src,
                                                   uint32_t colour, const uint8_t* mask,
                                                   int32_t bit0, int32_t n) {
  __m128i c = _mm_set1_epi32(int(colour));
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint8_t m = MaskByteAt(mask, i, bit0);
    if (m == 0) continue;
    for (int half = 0; half < 2; ++half) {
      const int32_t at = i + 4 * half;
      auto* d = reinterpret_cast<__m128i*>(dst + at);
      __m128i s = kTemplate ? c : _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + at));
      __m128i sel = BitLanes4(half == 0 ? uint32_t(m >> 4) : uint32_t(m & 15));
      __m128i old = _mm_loadu_si128(d);
      _mm_storeu_si128(d, _mm_or_si128(_mm_and_si128(sel, s), _mm_andnot_si128(sel, old)));
    }
  }
  for (; i < n; ++i)
    if (MaskBit(mask, int64_t(bit0) + i)) dst[i] = kTemplate ? colour : src[i];
}

__attribute__((target("sse2"))) void MaskRowSse2(uint32_t* dst, const uint32_t* src,
                                                 const uint8_t* mask, int32_t bit0, int32_t n) {
  MaskedRowSse2<false>(dst, src, 0, mask, bit0, n);
}
__attribute__((target("sse2"))) void TemplateRowSse2(uint32_t* dst, const uint8_t* tmpl,
                                                     int32_t bit0, int32_t n, uint32_t colour) {
  MaskedRowSse2<true>(dst, nullptr, colour, tmpl, bit0, n);
}

__attribute__((target("sse2"))) void AlphaRowSse2(uint32_t* dst, const uint32_t* src,
                                                  const uint8_t* alpha, int32_t n) {
  int32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    auto* d = reinterpret_cast<__m128i*>(dst + i);
    __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    _mm_storeu_si128(d, Select4(_mm_loadu_si128(d), s, Load4Bytes(alpha + i)));
  }
  for (; i < n; ++i) dst[i] = SelectOne(dst[i], src[i], alpha[i]);
}

__attribute__((target("sse2"))) void CoverageRowSse2(uint32_t* dst, const uint8_t* cov,
                                                     uint32_t colour, int32_t n, bool levels65) {
  __m128i c = _mm_set1_epi32(int(colour));
  int32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    __m128i a = Load4Bytes(cov + i);
    if (levels65) {
      __m128i full = _mm_cmpgt_epi32(a, _mm_set1_epi32(63));
      a = _mm_or_si128(_mm_and_si128(full, _mm_set1_epi32(255)),
                       _mm_andnot_si128(full, _mm_slli_epi32(a, 2)));
    }
    auto* d = reinterpret_cast<__m128i*>(dst + i);
    _mm_storeu_si128(d, Select4(_mm_loadu_si128(d), c, a));
  }
  for (; i < n; ++i) dst[i] = SelectOne(dst[i], colour, Coverage(cov[i], levels65));
}

__attribute__((target("sse2"))) void MixRowSse2(uint32_t* dst, const uint32_t* src, int32_t weight,
                                                int32_t n) {
  __m128i w = _mm_set1_epi32(weight);
  int32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    auto* d = reinterpret_cast<__m128i*>(dst + i);
    __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    _mm_storeu_si128(d, Blend4(s, _mm_loadu_si128(d), w));
  }
  for (; i < n; ++i) dst[i] = BlendOne(src[i], dst[i], weight);
}

__attribute__((target("sse2"))) void MixMaskRowSse2(uint32_t* dst, const uint32_t* src,
                                                    const uint8_t* mask, int32_t bit0,
                                                    int32_t weight, int32_t n) {
  __m128i w = _mm_set1_epi32(weight);
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint8_t m = MaskByteAt(mask, i, bit0);
    if (m == 0) continue;
    for (int half = 0; half < 2; ++half) {
      const int32_t at = i + 4 * half;
      auto* d = reinterpret_cast<__m128i*>(dst + at);
      __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + at));
      __m128i old = _mm_loadu_si128(d);
      __m128i sel = BitLanes4(half == 0 ? uint32_t(m >> 4) : uint32_t(m & 15));
      __m128i mixed = Blend4(s, old, w);
      _mm_storeu_si128(d, _mm_or_si128(_mm_and_si128(sel, mixed), _mm_andnot_si128(sel, old)));
    }
  }
  for (; i < n; ++i)
    if (MaskBit(mask, int64_t(bit0) + i)) dst[i] = BlendOne(src[i], dst[i], weight);
}

__attribute__((target("sse2"))) void TintRowSse2(uint32_t* px, uint32_t tint, int32_t level,
                                                 int32_t n) {
  __m128i w = _mm_set1_epi32(level), t = _mm_set1_epi32(int(tint));
  int32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    auto* p = reinterpret_cast<__m128i*>(px + i);
    _mm_storeu_si128(p, Blend4(_mm_loadu_si128(p), t, w));
  }
  for (; i < n; ++i) px[i] = BlendOne(px[i], tint, level);
}

// ----- AVX2 -----------------------------------------------------------------------------------

__attribute__((target("avx2"))) inline __m256i Blend8(__m256i d, __m256i s, __m256i a32) {
  const __m256i zero = _mm256_setzero_si256();
  __m256i a = _mm256_or_si256(a32, _mm256_slli_epi32(a32, 16));
  // Unpacks work inside each 128-bit half, and so do the weights: they stay paired.
  __m256i alo = _mm256_unpacklo_epi32(a, a), ahi = _mm256_unpackhi_epi32(a, a);
  const __m256i k256 = _mm256_set1_epi16(256);
  __m256i lo = _mm256_add_epi16(
      _mm256_mullo_epi16(_mm256_unpacklo_epi8(d, zero), _mm256_sub_epi16(k256, alo)),
      _mm256_mullo_epi16(_mm256_unpacklo_epi8(s, zero), alo));
  __m256i hi = _mm256_add_epi16(
      _mm256_mullo_epi16(_mm256_unpackhi_epi8(d, zero), _mm256_sub_epi16(k256, ahi)),
      _mm256_mullo_epi16(_mm256_unpackhi_epi8(s, zero), ahi));
  __m256i r = _mm256_packus_epi16(_mm256_srli_epi16(lo, 8), _mm256_srli_epi16(hi, 8));
  return _mm256_and_si256(r, _mm256_set1_epi32(0x00FFFFFF));
}

__attribute__((target("avx2"))) inline __m256i Select8(__m256i d, __m256i s, __m256i a32) {
  __m256i none = _mm256_cmpeq_epi32(a32, _mm256_setzero_si256());
  __m256i full = _mm256_cmpeq_epi32(a32, _mm256_set1_epi32(255));
  __m256i b = Blend8(d, s, a32);
  b = _mm256_blendv_epi8(b, d, none);
  return _mm256_blendv_epi8(b, s, full);
}

__attribute__((target("avx2"))) inline __m256i Load8Bytes(const uint8_t* p) {
  return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
}

__attribute__((target("avx2"))) inline __m256i BitLanes8(uint8_t m) {
  const __m256i bits = _mm256_set_epi32(1, 2, 4, 8, 16, 32, 64, 128);
  __m256i v = _mm256_and_si256(_mm256_set1_epi32(m), bits);
  return _mm256_cmpeq_epi32(v, bits);
}

__attribute__((target("avx2"))) void FillRowAvx2(uint32_t* dst, uint32_t value, int32_t n) {
  __m256i v = _mm256_set1_epi32(int(value));
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), v);
  for (; i < n; ++i) dst[i] = value;
}

template <bool kTemplate>
__attribute__((target("avx2"))) void MaskedRowAvx2(uint32_t* dst, const uint32_t* src,
                                                   uint32_t colour, const uint8_t* mask,
                                                   int32_t bit0, int32_t n) {
  __m256i c = _mm256_set1_epi32(int(colour));
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint8_t m = MaskByteAt(mask, i, bit0);
    if (m == 0) continue;
    auto* d = reinterpret_cast<__m256i*>(dst + i);
    __m256i s = kTemplate ? c : _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
    if (m == 0xFF) {
      _mm256_storeu_si256(d, s);
    } else {
      _mm256_storeu_si256(d, _mm256_blendv_epi8(_mm256_loadu_si256(d), s, BitLanes8(m)));
    }
  }
  for (; i < n; ++i)
    if (MaskBit(mask, int64_t(bit0) + i)) dst[i] = kTemplate ? colour : src[i];
}

__attribute__((target("avx2"))) void MaskRowAvx2(uint32_t* dst, const uint32_t* src,
                                                 const uint8_t* mask, int32_t bit0, int32_t n) {
  MaskedRowAvx2<false>(dst, src, 0, mask, bit0, n);
}
__attribute__((target("avx2"))) void TemplateRowAvx2(uint32_t* dst, const uint8_t* tmpl,
                                                     int32_t bit0, int32_t n, uint32_t colour) {
  MaskedRowAvx2<true>(dst, nullptr, colour, tmpl, bit0, n);
}

__attribute__((target("avx2"))) void AlphaRowAvx2(uint32_t* dst, const uint32_t* src,
                                                  const uint8_t* alpha, int32_t n) {
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t a8;
    std::memcpy(&a8, alpha + i, 8);
    auto* d = reinterpret_cast<__m256i*>(dst + i);
    __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
    if (a8 == 0) continue;
    if (a8 == ~uint64_t(0)) {
      _mm256_storeu_si256(d, s);
      continue;
    }
    _mm256_storeu_si256(d, Select8(_mm256_loadu_si256(d), s, Load8Bytes(alpha + i)));
  }
  for (; i < n; ++i) dst[i] = SelectOne(dst[i], src[i], alpha[i]);
}

__attribute__((target("avx2"))) void CoverageRowAvx2(uint32_t* dst, const uint8_t* cov,
                                                     uint32_t colour, int32_t n, bool levels65) {
  __m256i c = _mm256_set1_epi32(int(colour));
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    __m256i a = Load8Bytes(cov + i);
    if (levels65) {
      __m256i full = _mm256_cmpgt_epi32(a, _mm256_set1_epi32(63));
      a = _mm256_blendv_epi8(_mm256_slli_epi32(a, 2), _mm256_set1_epi32(255), full);
    }
    auto* d = reinterpret_cast<__m256i*>(dst + i);
    _mm256_storeu_si256(d, Select8(_mm256_loadu_si256(d), c, a));
  }
  for (; i < n; ++i) dst[i] = SelectOne(dst[i], colour, Coverage(cov[i], levels65));
}

__attribute__((target("avx2"))) void MixRowAvx2(uint32_t* dst, const uint32_t* src, int32_t weight,
                                                int32_t n) {
  __m256i w = _mm256_set1_epi32(weight);
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    auto* d = reinterpret_cast<__m256i*>(dst + i);
    __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
    _mm256_storeu_si256(d, Blend8(s, _mm256_loadu_si256(d), w));
  }
  for (; i < n; ++i) dst[i] = BlendOne(src[i], dst[i], weight);
}

__attribute__((target("avx2"))) void MixMaskRowAvx2(uint32_t* dst, const uint32_t* src,
                                                    const uint8_t* mask, int32_t bit0,
                                                    int32_t weight, int32_t n) {
  __m256i w = _mm256_set1_epi32(weight);
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint8_t m = MaskByteAt(mask, i, bit0);
    if (m == 0) continue;
    auto* d = reinterpret_cast<__m256i*>(dst + i);
    __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
    __m256i old = _mm256_loadu_si256(d);
    __m256i mixed = Blend8(s, old, w);
    _mm256_storeu_si256(d, m == 0xFF ? mixed : _mm256_blendv_epi8(old, mixed, BitLanes8(m)));
  }
  for (; i < n; ++i)
    if (MaskBit(mask, int64_t(bit0) + i)) dst[i] = BlendOne(src[i], dst[i], weight);
}

__attribute__((target("avx2"))) void TintRowAvx2(uint32_t* px, uint32_t tint, int32_t level,
                                                 int32_t n) {
  __m256i w = _mm256_set1_epi32(level), t = _mm256_set1_epi32(int(tint));
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    auto* p = reinterpret_cast<__m256i*>(px + i);
    _mm256_storeu_si256(p, Blend8(_mm256_loadu_si256(p), t, w));
  }
  for (; i < n; ++i) px[i] = BlendOne(px[i], tint, level);
}

// ----- Smooth scaling (SSE2, also under AVX2: the gathers of single pixels would not pay) ------

// a + ((d x f) >> 16) for 16-bit lanes, d in -255..255 and f in 0..65535: the signed high
// product sees f - 65536 where f >= 32768, which takes exactly d off the floor; it is added back.
__attribute__((target("sse2"))) inline __m128i Lerp16x8(__m128i a, __m128i b, __m128i f,
                                                        __m128i fHigh) {
  __m128i d = _mm_sub_epi16(b, a);
  return _mm_add_epi16(_mm_add_epi16(a, _mm_mulhi_epi16(d, f)), _mm_and_si128(d, fHigh));
}

__attribute__((target("sse2"))) void SmoothRowSse2(uint32_t* d, const uint32_t* s0,
                                                   const uint32_t* s1, const uint32_t* step,
                                                   const uint32_t* frac, int32_t n, int32_t width,
                                                   int32_t fy, uint32_t colourBytes) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i fyv = _mm_set1_epi16(int16_t(uint16_t(fy)));
  const __m128i fyHigh = _mm_cmplt_epi16(fyv, zero);
  const __m128i keep = _mm_set1_epi32(int(colourBytes));
  int64_t col = 0;
  int32_t i = 0;
  // Two result pixels at a time while both have a right neighbour inside the source.
  for (; i + 2 <= n; i += 2) {
    int64_t c0 = col + step[i];
    int64_t c1 = c0 + step[i + 1];
    if (c1 + 1 > width - 1) break;
    col = c1;
    __m128i top0 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(s0 + c0)),
                                     zero);
    __m128i top1 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(s0 + c1)),
                                     zero);
    __m128i bot0 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(s1 + c0)),
                                     zero);
    __m128i bot1 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(s1 + c1)),
                                     zero);
    // Left neighbours of both pixels in one register, right neighbours in another.
    __m128i p00 = _mm_unpacklo_epi64(top0, top1), p01 = _mm_unpackhi_epi64(top0, top1);
    __m128i p10 = _mm_unpacklo_epi64(bot0, bot1), p11 = _mm_unpackhi_epi64(bot0, bot1);
    __m128i fx = _mm_unpacklo_epi64(_mm_set1_epi16(int16_t(uint16_t(frac[i]))),
                                    _mm_set1_epi16(int16_t(uint16_t(frac[i + 1]))));
    __m128i fxHigh = _mm_cmplt_epi16(fx, zero);
    __m128i top = Lerp16x8(p00, p01, fx, fxHigh);
    __m128i bottom = Lerp16x8(p10, p11, fx, fxHigh);
    __m128i r = Lerp16x8(top, bottom, fyv, fyHigh);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d + i),
                     _mm_and_si128(_mm_packus_epi16(r, zero), keep));
  }
  if (i < n) {
    // The rest, with the clamped right neighbour, on the reference: it continues from col.
    SmoothRowScalar(d + i, s0 + col, s1 + col, step + i, frac + i, n - i, int32_t(width - col), fy,
                    colourBytes);
  }
}

// ----- Rotation and hard scaling (AVX2: the gathers pay there; SSE2 keeps the reference) -------

__attribute__((target("avx2"))) void RotateRowAvx2(uint32_t* d, int32_t x0, int32_t x1, int32_t y,
                                                   const double inv[6], const uint32_t* src,
                                                   int32_t srcPixelsPerRow, int32_t width,
                                                   int32_t height) {
  // The same products and sums in the same order as the reference: no fused steps.
  const __m256d i0 = _mm256_set1_pd(inv[0]), i1 = _mm256_set1_pd(inv[1]);
  const __m256d ky = _mm256_set1_pd(inv[2] * y), ly = _mm256_set1_pd(inv[3] * y);
  const __m256d tx = _mm256_set1_pd(inv[4]), ty = _mm256_set1_pd(inv[5]);
  const __m128i zero = _mm_setzero_si128(), ppr = _mm_set1_epi32(srcPixelsPerRow);
  const __m128i wMax = _mm_set1_epi32(width - 1), hMax = _mm_set1_epi32(height - 1);
  int32_t x = x0;
  for (; x + 3 <= x1; x += 4) {
    __m256d xv = _mm256_set_pd(x + 3, x + 2, x + 1, x);
    __m256d sx = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(i0, xv), ky), tx);
    __m256d sy = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(i1, xv), ly), ty);
    // Out-of-range and NaN lanes truncate to INT_MIN, as TruncateToInt does, then clamp to 0.
    __m128i ix = _mm_min_epi32(_mm_max_epi32(_mm256_cvttpd_epi32(sx), zero), wMax);
    __m128i iy = _mm_min_epi32(_mm_max_epi32(_mm256_cvttpd_epi32(sy), zero), hMax);
    __m128i idx = _mm_add_epi32(_mm_mullo_epi32(iy, ppr), ix);
    __m128i px = _mm_i32gather_epi32(reinterpret_cast<const int*>(src), idx, 4);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + x), px);
  }
  if (x <= x1) RotateRowScalar(d, x, x1, y, inv, src, srcPixelsPerRow, width, height);
}

__attribute__((target("avx2"))) inline __m256d Channels(uint32_t p) {
  return _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(int(p))));
}

// One channel of four pixels as doubles.
__attribute__((target("avx2"))) inline __m256d ChannelPd(__m128i p, __m128i shift, __m128i mask) {
  return _mm256_cvtepi32_pd(_mm_and_si128(_mm_srl_epi32(p, shift), mask));
}

__attribute__((target("avx2"))) void RotateSmoothRowAvx2(uint32_t* d, int32_t x0, int32_t x1,
                                                         int32_t y, const double inv[6],
                                                         const uint32_t* src,
                                                         int32_t srcPixelsPerRow, int32_t width,
                                                         int32_t height, uint32_t colourBytes) {
  // Four pixels at a time, one channel after the other in four double lanes: the reference's
  // products and sums, in its order, lane by lane.
  const __m256d i0 = _mm256_set1_pd(inv[0]), i1 = _mm256_set1_pd(inv[1]);
  const __m256d ky = _mm256_set1_pd(inv[2] * y), ly = _mm256_set1_pd(inv[3] * y);
  const __m256d e = _mm256_set1_pd(inv[4]), f = _mm256_set1_pd(inv[5]);
  const __m256d one = _mm256_set1_pd(1.0), half = _mm256_set1_pd(0.5);
  const __m128i zero = _mm_setzero_si128(), minusOne = _mm_set1_epi32(-1);
  const __m128i lastX = _mm_set1_epi32(width - 1), lastY = _mm_set1_epi32(height - 1);
  const __m128i stride = _mm_set1_epi32(srcPixelsPerRow), byteMask = _mm_set1_epi32(0xFF);
  const int* base = reinterpret_cast<const int*>(src);
  int32_t x = x0;
  for (; x + 3 <= x1; x += 4) {
    __m256d xv = _mm256_setr_pd(x, x + 1, x + 2, x + 3);
    __m256d sx = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(i0, xv), ky), e);
    __m256d sy = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(i1, xv), ly), f);
    __m256d flx = _mm256_floor_pd(sx), fly = _mm256_floor_pd(sy);
    // SmoothNeighbours lane by lane: the truncated floor (NaN and huge values INT_MIN) held
    // inside, and the next one from max(i, -1) + 1, which cannot overflow.
    __m128i tx = _mm256_cvttpd_epi32(flx), ty = _mm256_cvttpd_epi32(fly);
    __m128i ix = _mm_min_epi32(_mm_max_epi32(tx, zero), lastX);
    __m128i iy = _mm_min_epi32(_mm_max_epi32(ty, zero), lastY);
    __m128i ix1 = _mm_min_epi32(_mm_sub_epi32(_mm_max_epi32(tx, minusOne), minusOne), lastX);
    __m128i iy1 = _mm_min_epi32(_mm_sub_epi32(_mm_max_epi32(ty, minusOne), minusOne), lastY);
    __m128i row0 = _mm_mullo_epi32(iy, stride), row1 = _mm_mullo_epi32(iy1, stride);
    __m128i p00 = _mm_i32gather_epi32(base, _mm_add_epi32(row0, ix), 4);
    __m128i p01 = _mm_i32gather_epi32(base, _mm_add_epi32(row0, ix1), 4);
    __m128i p10 = _mm_i32gather_epi32(base, _mm_add_epi32(row1, ix), 4);
    __m128i p11 = _mm_i32gather_epi32(base, _mm_add_epi32(row1, ix1), 4);
    __m256d fx = _mm256_sub_pd(sx, flx), fy = _mm256_sub_pd(sy, fly);
    __m256d gx = _mm256_sub_pd(one, fx), gy = _mm256_sub_pd(one, fy);
    __m128i out = zero;
    for (int shift = 0; shift < 32; shift += 8) {
      if (!((colourBytes >> shift) & 0xFF)) continue;
      const __m128i sh = _mm_cvtsi32_si128(shift);
      __m256d top = _mm256_add_pd(_mm256_mul_pd(ChannelPd(p00, sh, byteMask), gx),
                                  _mm256_mul_pd(ChannelPd(p01, sh, byteMask), fx));
      __m256d bottom = _mm256_add_pd(_mm256_mul_pd(ChannelPd(p10, sh, byteMask), gx),
                                     _mm256_mul_pd(ChannelPd(p11, sh, byteMask), fx));
      __m256d v = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(top, gy), _mm256_mul_pd(bottom, fy)),
                                half);
      __m128i c = _mm_and_si128(_mm256_cvttpd_epi32(v), byteMask);
      out = _mm_or_si128(out, _mm_sll_epi32(c, sh));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + x), out);
  }
  // The last pixels one at a time, the four channels side by side.
  for (; x <= x1; ++x) {
    double sx = inv[0] * x + inv[2] * y + inv[4];
    double sy = inv[1] * x + inv[3] * y + inv[5];
    int32_t ix, iy, ix1, iy1;
    SmoothNeighbours(sx, width, &ix, &ix1);
    SmoothNeighbours(sy, height, &iy, &iy1);
    double fx = sx - std::floor(sx), fy = sy - std::floor(sy);
    const uint32_t* r0 = src + int64_t(iy) * srcPixelsPerRow;
    const uint32_t* r1 = src + int64_t(iy1) * srcPixelsPerRow;
    __m256d gx = _mm256_set1_pd(1 - fx), fxv = _mm256_set1_pd(fx);
    __m256d top = _mm256_add_pd(_mm256_mul_pd(Channels(r0[ix]), gx),
                                _mm256_mul_pd(Channels(r0[ix1]), fxv));
    __m256d bottom = _mm256_add_pd(_mm256_mul_pd(Channels(r1[ix]), gx),
                                   _mm256_mul_pd(Channels(r1[ix1]), fxv));
    __m256d v = _mm256_add_pd(_mm256_mul_pd(top, _mm256_set1_pd(1 - fy)),
                              _mm256_mul_pd(bottom, _mm256_set1_pd(fy)));
    __m128i c = _mm256_cvttpd_epi32(_mm256_add_pd(v, half));
    c = _mm_packus_epi16(_mm_packus_epi32(c, c), c);
    d[x] = uint32_t(_mm_cvtsi128_si32(c)) & colourBytes;
  }
}

__attribute__((target("avx2"))) void NearestRowAvx2(uint32_t* d, const uint32_t* s, int64_t step,
                                                    int32_t n) {
  // 32-bit lanes carry u while it cannot pass 2^31; longer rows stay on the reference.
  if (step < 0 || (int64_t(n) + 8) * step >= (int64_t(1) << 31)) {
    NearestRowScalar(d, s, step, n);
    return;
  }
  const int32_t st = int32_t(step);
  __m256i u = _mm256_mullo_epi32(_mm256_set_epi32(7, 6, 5, 4, 3, 2, 1, 0), _mm256_set1_epi32(st));
  const __m256i step8 = _mm256_set1_epi32(st * 8);
  // Upscaling: eight results come from at most eight neighbouring pixels, which one load and one
  // lane permutation serve while the load stays inside the columns the row uses (the row's last
  // column, not its width, bounds every load).
  const int64_t last = n > 0 ? ((int64_t(n) - 1) * step) >> 16 : 0;
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    __m256i idx = _mm256_srli_epi32(u, 16);
    int32_t first = int32_t((int64_t(i) * step) >> 16);
    __m256i px;
    if (step <= 65536 && first + 7 <= last) {
      __m256i row = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + first));
      px = _mm256_permutevar8x32_epi32(row, _mm256_sub_epi32(idx, _mm256_set1_epi32(first)));
    } else if (step <= 2 * int64_t(65536) && first + 15 <= last) {
      // Down to half size eight results lie within sixteen pixels: two loads, a permutation of
      // each (it reads the low three bits of the index) and a choice by the index's bit 3. The
      // gather is slower than the scalar row here.
      __m256i at = _mm256_sub_epi32(idx, _mm256_set1_epi32(first));
      __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + first));
      __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + first + 8));
      __m256i high = _mm256_cmpgt_epi32(at, _mm256_set1_epi32(7));
      px = _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(lo, at),
                              _mm256_permutevar8x32_epi32(hi, at), high);
    } else {
      px = _mm256_i32gather_epi32(reinterpret_cast<const int*>(s), idx, 4);
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), px);
    u = _mm256_add_epi32(u, step8);
  }
  for (int64_t v = int64_t(i) * step; i < n; ++i, v += step) d[i] = s[v >> 16];
}

__attribute__((target("avx2"))) inline __m256i Lerp16x16(__m256i a, __m256i b, __m256i f,
                                                         __m256i fHigh) {
  __m256i d = _mm256_sub_epi16(b, a);
  return _mm256_add_epi16(_mm256_add_epi16(a, _mm256_mulhi_epi16(d, f)),
                          _mm256_and_si256(d, fHigh));
}

// Left and right neighbours of four result pixels from one source row: pixels 0 and 1 in the
// low half, 2 and 3 in the high half, 16 bits per channel.
__attribute__((target("avx2"))) inline void Neighbours4(const uint32_t* row, const int64_t c[4],
                                                        __m256i* left, __m256i* right) {
  auto pair = [&](int k) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + c[k])); };
  __m256i t = _mm256_set_m128i(_mm_unpacklo_epi64(pair(2), pair(3)),
                               _mm_unpacklo_epi64(pair(0), pair(1)));
  const __m256i zero = _mm256_setzero_si256();
  __m256i lo = _mm256_unpacklo_epi8(t, zero), hi = _mm256_unpackhi_epi8(t, zero);
  *left = _mm256_unpacklo_epi64(lo, hi);
  *right = _mm256_unpackhi_epi64(lo, hi);
}

__attribute__((target("avx2"))) void SmoothRowAvx2(uint32_t* d, const uint32_t* s0,
                                                   const uint32_t* s1, const uint32_t* step,
                                                   const uint32_t* frac, int32_t n, int32_t width,
                                                   int32_t fy, uint32_t colourBytes) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i fyv = _mm256_set1_epi16(int16_t(uint16_t(fy)));
  const __m256i fyHigh = _mm256_cmpgt_epi16(zero, fyv);
  const __m128i keep = _mm_set1_epi32(int(colourBytes));
  // Each 64-bit lane's low 16 bits into its four 16-bit slots.
  const __m256i spread = _mm256_setr_epi8(0, 1, 0, 1, 0, 1, 0, 1, 8, 9, 8, 9, 8, 9, 8, 9, 0, 1, 0,
                                          1, 0, 1, 0, 1, 8, 9, 8, 9, 8, 9, 8, 9);
  int64_t col = 0;
  int32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    int64_t c[4];
    c[0] = col + step[i];
    c[1] = c[0] + step[i + 1];
    c[2] = c[1] + step[i + 2];
    c[3] = c[2] + step[i + 3];
    if (c[3] + 1 > width - 1) break;
    col = c[3];
    __m256i p00, p01, p10, p11;
    Neighbours4(s0, c, &p00, &p01);
    Neighbours4(s1, c, &p10, &p11);
    __m256i fx = _mm256_cvtepu32_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(frac + i)));
    fx = _mm256_shuffle_epi8(fx, spread);
    __m256i fxHigh = _mm256_cmpgt_epi16(zero, fx);
    __m256i top = Lerp16x16(p00, p01, fx, fxHigh);
    __m256i bottom = Lerp16x16(p10, p11, fx, fxHigh);
    __m256i r = _mm256_packus_epi16(Lerp16x16(top, bottom, fyv, fyHigh), zero);
    r = _mm256_permute4x64_epi64(r, 0x08);  // the two low quarters side by side
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i),
                     _mm_and_si128(_mm256_castsi256_si128(r), keep));
  }
  if (i < n)
    SmoothRowSse2(d + i, s0 + col, s1 + col, step + i, frac + i, n - i, int32_t(width - col), fy,
                  colourBytes);
}

// Four column fractions, each in the four 16-bit slots of its pixel.
__attribute__((target("avx2"))) inline __m256i Fractions4(const uint32_t* f) {
  const __m256i spread = _mm256_setr_epi8(0, 1, 0, 1, 0, 1, 0, 1, 8, 9, 8, 9, 8, 9, 8, 9, 0, 1, 0,
                                          1, 0, 1, 0, 1, 8, 9, 8, 9, 8, 9, 8, 9);
  __m256i fx = _mm256_cvtepu32_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(f)));
  return _mm256_shuffle_epi8(fx, spread);
}

// The first pass: eight result columns of one source row per step, both neighbours of each
// pixel from one 8-byte load. Only the rest, where the right neighbour is clamped, goes scalar.
__attribute__((target("avx2"))) void SmoothSourceRowAvx2(uint32_t* out, const uint32_t* s,
                                                         const uint32_t* step, const uint32_t* frac,
                                                         int32_t n, int32_t width) {
  const __m256i zero = _mm256_setzero_si256();
  int64_t col = 0;
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    int64_t c[8];
    c[0] = col + step[i];
    for (int k = 1; k < 8; ++k) c[k] = c[k - 1] + step[i + k];
    if (c[7] + 1 > width - 1) break;
    col = c[7];
    __m256i l0, r0, l1, r1;
    Neighbours4(s, c, &l0, &r0);
    Neighbours4(s, c + 4, &l1, &r1);
    __m256i f0 = Fractions4(frac + i), f1 = Fractions4(frac + i + 4);
    __m256i a = Lerp16x16(l0, r0, f0, _mm256_cmpgt_epi16(zero, f0));
    __m256i b = Lerp16x16(l1, r1, f1, _mm256_cmpgt_epi16(zero, f1));
    // packus interleaves the halves: pixels 0 1 4 5 | 2 3 6 7; the permutation restores them.
    __m256i p = _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), p);
  }
  if (i < n)
    SmoothSourceRowScalar(out + i, s + col, step + i, frac + i, n - i, int32_t(width - col));
}

// The second pass: two weighed rows by the row's fraction, eight pixels per step.
__attribute__((target("avx2"))) void SmoothBlendRowAvx2(uint32_t* d, const uint32_t* t0,
                                                        const uint32_t* t1, int32_t n, int32_t fy,
                                                        uint32_t colourBytes) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i fyv = _mm256_set1_epi16(int16_t(uint16_t(fy)));
  const __m256i fyHigh = _mm256_cmpgt_epi16(zero, fyv);
  const __m256i keep = _mm256_set1_epi32(int(colourBytes));
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t0 + i));
    __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t1 + i));
    __m256i lo = Lerp16x16(_mm256_unpacklo_epi8(a, zero), _mm256_unpacklo_epi8(b, zero), fyv,
                           fyHigh);
    __m256i hi = Lerp16x16(_mm256_unpackhi_epi8(a, zero), _mm256_unpackhi_epi8(b, zero), fyv,
                           fyHigh);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i),
                        _mm256_and_si256(_mm256_packus_epi16(lo, hi), keep));
  }
  if (i < n) SmoothBlendRowScalar(d + i, t0 + i, t1 + i, n - i, fy, colourBytes);
}

// Planar to chunky, 128 pixels at a time: the 16 bytes of each plane are interleaved until
// each 64-bit lane holds one byte of every plane (plane p in byte p), an 8 x 8 bit matrix that
// three swaps transpose; byte 7 - i of the lane is then the pen of pixel i.
template <int Delta>
__attribute__((target("sse2"))) inline __m128i SwapBits(__m128i x, __m128i mask) {
  __m128i t = _mm_and_si128(_mm_xor_si128(x, _mm_srli_epi64(x, Delta)), mask);
  return _mm_xor_si128(_mm_xor_si128(x, t), _mm_slli_epi64(t, Delta));
}

// The pens of the 16 groups of eight pixels from byte `at` of every plane row: lane word j
// holds group j.
__attribute__((target("sse2"))) inline void PenBlock(const uint8_t* const* rows, int32_t planes,
                                                     size_t at, uint64_t lanes[16]) {
  __m128i p[8];
  for (int i = 0; i < 8; ++i) {
    p[i] = i < planes ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[i] + at))
                      : _mm_setzero_si128();
  }
  __m128i a[8];  // planes 2k and 2k + 1 byte by byte: groups 0-7, then 8-15
  for (size_t k = 0; k < 8; k += 2) {
    a[k] = _mm_unpacklo_epi8(p[k], p[k + 1]);
    a[k + 1] = _mm_unpackhi_epi8(p[k], p[k + 1]);
  }
  __m128i b[8];  // planes 0-3 (then 4-7) of groups 0-3, 4-7, 8-11, 12-15
  for (size_t h = 0; h < 8; h += 4) {
    b[h] = _mm_unpacklo_epi16(a[h], a[h + 2]);
    b[h + 1] = _mm_unpackhi_epi16(a[h], a[h + 2]);
    b[h + 2] = _mm_unpacklo_epi16(a[h + 1], a[h + 3]);
    b[h + 3] = _mm_unpackhi_epi16(a[h + 1], a[h + 3]);
  }
  const __m128i m1 = _mm_set1_epi64x(0x00AA00AA00AA00AALL);
  const __m128i m2 = _mm_set1_epi64x(0x0000CCCC0000CCCCLL);
  const __m128i m3 = _mm_set1_epi64x(0x00000000F0F0F0F0LL);
  for (size_t q = 0; q < 4; ++q) {
    __m128i c[2] = {_mm_unpacklo_epi32(b[q], b[q + 4]), _mm_unpackhi_epi32(b[q], b[q + 4])};
    for (size_t k = 0; k < 2; ++k) {
      __m128i x = SwapBits<28>(SwapBits<14>(SwapBits<7>(c[k], m1), m2), m3);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes + 4 * q + 2 * k), x);
    }
  }
}

// The rows from byte `at` on, for the scalar tail.
inline void RowsFrom(const uint8_t* const* rows, int32_t planes, size_t at, const uint8_t** out) {
  for (int32_t i = 0; i < planes; ++i) out[i] = rows[i] + at;
}

__attribute__((target("sse2"))) void ChunkyRowSse2(const uint8_t* const* rows, int32_t planes,
                                                   int32_t width, uint8_t* pens) {
  size_t at = 0;
  alignas(16) uint64_t lanes[16];
  for (; at + 16 <= size_t(width) / 8; at += 16) {
    PenBlock(rows, planes, at, lanes);
    for (int j = 0; j < 16; ++j) {
      uint64_t word = __builtin_bswap64(lanes[j]);
      std::memcpy(pens + 8 * (at + size_t(j)), &word, 8);
    }
  }
  if (int64_t(at) * 8 < width) {
    const uint8_t* tail[8];
    RowsFrom(rows, planes, at, tail);
    ChunkyRowScalar(tail, planes, width - int32_t(at) * 8, pens + at * 8);
  }
}

// The eight pixels of one lane word through the palette: from the last pixel back, two pens (a
// low byte and the byte above it) to a shift.
inline void PutEightPens(uint64_t word, const uint32_t* palette, uint32_t* o) {
  for (int i = 7; i > 0; i -= 2, word >>= 16) {
    o[i] = palette[word & 0xFF];
    o[i - 1] = palette[(word >> 8) & 0xFF];
  }
}

__attribute__((target("sse2"))) void PaletteRowSse2(const uint8_t* const* rows, int32_t planes,
                                                    int32_t width, const uint32_t* palette,
                                                    uint32_t* out) {
  size_t at = 0;
  alignas(16) uint64_t lanes[16];
  for (; at + 16 <= size_t(width) / 8; at += 16) {
    PenBlock(rows, planes, at, lanes);
    uint32_t* o = out + at * 8;
    for (int j = 0; j < 16; ++j, o += 8) PutEightPens(lanes[j], palette, o);
  }
  if (int64_t(at) * 8 < width) {
    const uint8_t* tail[8];
    RowsFrom(rows, planes, at, tail);
    PaletteRowScalar(tail, planes, width - int32_t(at) * 8, palette, out + at * 8);
  }
}

// The AVX2 path: PenBlock on 32 bytes of each plane (256 pixels), the two 128-bit halves
// holding groups 0-15 and 16-31; the interleaving works within each half as above.
template <int Delta>
__attribute__((target("avx2"))) inline __m256i SwapBits256(__m256i x, __m256i mask) {
  __m256i t = _mm256_and_si256(_mm256_xor_si256(x, _mm256_srli_epi64(x, Delta)), mask);
  return _mm256_xor_si256(_mm256_xor_si256(x, t), _mm256_slli_epi64(t, Delta));
}

__attribute__((target("avx2"))) inline void PenBlock256(const uint8_t* const* rows, int32_t planes,
                                                        size_t at, uint64_t lanes[32]) {
  __m256i p[8];
  for (size_t i = 0; i < 8; ++i) {
    p[i] = int32_t(i) < planes ? _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[i] + at))
                               : _mm256_setzero_si256();
  }
  __m256i a[8];
  for (size_t k = 0; k < 8; k += 2) {
    a[k] = _mm256_unpacklo_epi8(p[k], p[k + 1]);
    a[k + 1] = _mm256_unpackhi_epi8(p[k], p[k + 1]);
  }
  __m256i b[8];
  for (size_t h = 0; h < 8; h += 4) {
    b[h] = _mm256_unpacklo_epi16(a[h], a[h + 2]);
    b[h + 1] = _mm256_unpackhi_epi16(a[h], a[h + 2]);
    b[h + 2] = _mm256_unpacklo_epi16(a[h + 1], a[h + 3]);
    b[h + 3] = _mm256_unpackhi_epi16(a[h + 1], a[h + 3]);
  }
  const __m256i m1 = _mm256_set1_epi64x(0x00AA00AA00AA00AALL);
  const __m256i m2 = _mm256_set1_epi64x(0x0000CCCC0000CCCCLL);
  const __m256i m3 = _mm256_set1_epi64x(0x00000000F0F0F0F0LL);
  for (size_t q = 0; q < 4; ++q) {
    __m256i c[2] = {_mm256_unpacklo_epi32(b[q], b[q + 4]), _mm256_unpackhi_epi32(b[q], b[q + 4])};
    for (size_t k = 0; k < 2; ++k) {
      __m256i x = SwapBits256<28>(SwapBits256<14>(SwapBits256<7>(c[k], m1), m2), m3);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes + 4 * q + 2 * k),
                       _mm256_castsi256_si128(x));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes + 16 + 4 * q + 2 * k),
                       _mm256_extracti128_si256(x, 1));
    }
  }
}

__attribute__((target("avx2"))) void ChunkyRowAvx2(const uint8_t* const* rows, int32_t planes,
                                                   int32_t width, uint8_t* pens) {
  size_t at = 0;
  alignas(32) uint64_t lanes[32];
  for (; at + 32 <= size_t(width) / 8; at += 32) {
    PenBlock256(rows, planes, at, lanes);
    for (size_t j = 0; j < 32; ++j) {
      uint64_t word = __builtin_bswap64(lanes[j]);
      std::memcpy(pens + 8 * (at + j), &word, 8);
    }
  }
  const uint8_t* tail[8];
  RowsFrom(rows, planes, at, tail);
  if (int64_t(at) * 8 < width) ChunkyRowSse2(tail, planes, width - int32_t(at) * 8, pens + at * 8);
}

__attribute__((target("avx2"))) void PaletteRowAvx2(const uint8_t* const* rows, int32_t planes,
                                                    int32_t width, const uint32_t* palette,
                                                    uint32_t* out) {
  size_t at = 0;
  alignas(32) uint64_t lanes[32];
  for (; at + 32 <= size_t(width) / 8; at += 32) {
    PenBlock256(rows, planes, at, lanes);
    uint32_t* o = out + at * 8;
    for (size_t j = 0; j < 32; ++j, o += 8) PutEightPens(lanes[j], palette, o);
  }
  const uint8_t* tail[8];
  RowsFrom(rows, planes, at, tail);
  if (int64_t(at) * 8 < width) {
    PaletteRowSse2(tail, planes, width - int32_t(at) * 8, palette, out + at * 8);
  }
}

constexpr KernelPaths kSse2 = {MemmoveRow,      FillRowSse2,     MaskRowSse2,
                               TemplateRowSse2, AlphaRowSse2,    CoverageRowSse2,
                               MixRowSse2,      MixMaskRowSse2,  TintRowSse2,
                               SmoothRowSse2,   RotateRowScalar, RotateSmoothRowScalar,
                               nullptr,         nullptr,         NearestRowScalar,
                               ChunkyRowSse2,   PaletteRowSse2};
constexpr KernelPaths kAvx2 = {
    MemmoveRow,      FillRowAvx2,         MaskRowAvx2,         TemplateRowAvx2,    AlphaRowAvx2,
    CoverageRowAvx2, MixRowAvx2,          MixMaskRowAvx2,      TintRowAvx2,        SmoothRowAvx2,
    RotateRowAvx2,   RotateSmoothRowAvx2, SmoothSourceRowAvx2, SmoothBlendRowAvx2, NearestRowAvx2,
    ChunkyRowAvx2,   PaletteRowAvx2};

}  // namespace

const KernelPaths* Sse2Paths() { return &kSse2; }
const KernelPaths* Avx2Paths() { return &kAvx2; }

}  // namespace qv::image

#else

namespace qv::image {
const KernelPaths* Sse2Paths() { return nullptr; }
const KernelPaths* Avx2Paths() { return nullptr; }
}  // namespace qv::image

#endif
