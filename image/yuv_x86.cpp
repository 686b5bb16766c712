// SIMD rows of the video frame conversion (SSE2 and AVX2), equal to the scalar reference
// (yuv_internal.h) byte for byte, eight pixels a step with 32-bit lanes.
//
// The numerators are the reference's, each product of a byte and a constant made by one
// multiply-add of 16-bit pairs: the lane holds (x, 128 x) and the constant (c mod 128, c / 128).
// The divisions are multiplications by reciprocals, exact for every numerator the bytes give:
// below 0 a channel is 0, so numerators are first held at 0 and above; the divisors' powers of
// two are shifted out (1635200 = 2^7 x 12775, 3287200 = 2^5 x 102725) and the quotient of what
// is left is the high bits of its product with the rounded-up reciprocal. Blue is divided as
// twice its numerator over red's divisor, which gives the same quotient and shares the luma
// product with red. Quotients stay below 2^15; packing with saturation limits them to 255.
#include <array>
#include <cstddef>
#include <cstring>
#include <utility>

#include "image/yuv_internal.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

namespace qv::image {

namespace {

// A constant as the multiply-add's pair of 16-bit factors.
constexpr int32_t Pair(int32_t c) { return (c & 127) | ((c >> 7) << 16); }

constexpr int32_t kYRed = Pair(1904000);  // also blue's, doubled
constexpr int32_t kVRed = Pair(2609823);
constexpr int32_t kURed2 = Pair(2 * 1649289);
constexpr int32_t kYGreen = Pair(3827562);
constexpr int32_t kUGreen = Pair(1287801);
constexpr int32_t kVGreen = Pair(2672387);
constexpr int32_t kRedBias = -363703744;
constexpr int32_t kBlueBias = 2 * -225932192;
constexpr int32_t kGreenBias = 447306710;
// floor(c / 12775) = (c x 336201) >> 32 for c < 2^23; floor(c / 102725) = (c x 85627579) >> 43
// for c < 2^26 (the image tests check every byte triple).
constexpr int32_t kRedShift = 7, kGreenShift = 5;
constexpr uint32_t kRedReciprocal = 336201u, kGreenReciprocal = 85627579u;
constexpr int kGreenExtra = 11;

void TailPixels(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t x, int32_t n,
                uint8_t* dst, int32_t format) {
  const int32_t bytes = YuvFormatBytes(format);
  for (; x < n; ++x) ConvertYuvPixel(dst + int64_t(x) * bytes, format, y[x], u[x >> 1], v[x >> 1]);
}

uint32_t LoadFour(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// Where each of a pixel's bytes comes from: 0 red, 1 green, 2 blue, 3 nothing (0).
struct ByteOrder {
  int at[4];
};
constexpr ByteOrder OrderOf(int32_t format) {
  switch (format) {
    case kPixBGR24:
    case kPixARGB32:
      return {{2, 1, 0, 3}};
    case kPixBGRx32:
      return {{3, 0, 1, 2}};
    case kPixRGBx32:
      return {{3, 2, 1, 0}};
    default:  // kPixRGB24, kPixxBGR32
      return {{0, 1, 2, 3}};
  }
}

constexpr bool SwapsRedBlue(int32_t format) {
  return format == kPixBGR555 || format == kPixBGR555PC || format == kPixBGR565 ||
         format == kPixBGR565PC;
}

// ----- SSE2 -----------------------------------------------------------------------------------

__attribute__((target("sse2"))) inline __m128i FormSse2(__m128i x) {
  return _mm_or_si128(x, _mm_slli_epi32(x, 23));
}

__attribute__((target("sse2"))) inline __m128i Times(__m128i form, int32_t pair) {
  return _mm_madd_epi16(form, _mm_set1_epi32(pair));
}

template <int32_t kShift, uint32_t kReciprocal, int kExtra>
__attribute__((target("sse2"))) inline __m128i DivideSse2(__m128i n) {
  n = _mm_andnot_si128(_mm_srai_epi32(n, 31), n);
  const __m128i c = _mm_srli_epi32(n, kShift);
  const __m128i m = _mm_set1_epi32(int32_t(kReciprocal));
  __m128i even = _mm_srli_epi64(_mm_mul_epu32(c, m), 32 + kExtra);
  __m128i odd = _mm_mul_epu32(_mm_srli_epi64(c, 32), m);
  if (kExtra) odd = _mm_srli_epi64(odd, kExtra);
  return _mm_or_si128(even, _mm_and_si128(odd, _mm_set_epi32(-1, 0, -1, 0)));
}

// Four pixels' quotients from luma and (already doubled) chroma bytes in 32-bit lanes.
__attribute__((target("sse2"))) inline void Channels4Sse2(__m128i y, __m128i u, __m128i v,
                                                          __m128i* r, __m128i* g, __m128i* b) {
  const __m128i fy = FormSse2(y), fu = FormSse2(u), fv = FormSse2(v);
  const __m128i yr = Times(fy, kYRed);
  __m128i nr = _mm_add_epi32(_mm_add_epi32(yr, Times(fv, kVRed)), _mm_set1_epi32(kRedBias));
  __m128i nb = _mm_add_epi32(_mm_add_epi32(yr, Times(fu, kURed2)), _mm_set1_epi32(kBlueBias));
  __m128i ng = _mm_add_epi32(Times(fy, kYGreen), _mm_set1_epi32(kGreenBias));
  ng = _mm_sub_epi32(ng, _mm_add_epi32(Times(fu, kUGreen), Times(fv, kVGreen)));
  *r = DivideSse2<kRedShift, kRedReciprocal, 0>(nr);
  *b = DivideSse2<kRedShift, kRedReciprocal, 0>(nb);
  *g = DivideSse2<kGreenShift, kGreenReciprocal, kGreenExtra>(ng);
}

// Eight pixels from x on as 16-bit channels limited to 0..255.
__attribute__((target("sse2"))) inline void Channels8Sse2(const uint8_t* y, const uint8_t* u,
                                                          const uint8_t* v, __m128i* r, __m128i* g,
                                                          __m128i* b) {
  const __m128i zero = _mm_setzero_si128();
  __m128i y16 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y)), zero);
  __m128i u8 = _mm_cvtsi32_si128(int32_t(LoadFour(u)));
  __m128i v8 = _mm_cvtsi32_si128(int32_t(LoadFour(v)));
  __m128i u16 = _mm_unpacklo_epi8(_mm_unpacklo_epi8(u8, u8), zero);
  __m128i v16 = _mm_unpacklo_epi8(_mm_unpacklo_epi8(v8, v8), zero);
  __m128i r0, g0, b0, r1, g1, b1;
  Channels4Sse2(_mm_unpacklo_epi16(y16, zero), _mm_unpacklo_epi16(u16, zero),
                _mm_unpacklo_epi16(v16, zero), &r0, &g0, &b0);
  Channels4Sse2(_mm_unpackhi_epi16(y16, zero), _mm_unpackhi_epi16(u16, zero),
                _mm_unpackhi_epi16(v16, zero), &r1, &g1, &b1);
  const __m128i top = _mm_set1_epi16(255);
  *r = _mm_min_epi16(_mm_packs_epi32(r0, r1), top);
  *g = _mm_min_epi16(_mm_packs_epi32(g0, g1), top);
  *b = _mm_min_epi16(_mm_packs_epi32(b0, b1), top);
}

template <int32_t kFormat>
__attribute__((target("sse2"))) inline __m128i Pack16(__m128i r, __m128i g, __m128i b) {
  if (SwapsRedBlue(kFormat)) std::swap(r, b);
  __m128i w;
  if (kFormat <= kPixBGR555PC) {
    w = _mm_or_si128(_mm_slli_epi16(_mm_and_si128(r, _mm_set1_epi16(0xF8)), 7),
                     _mm_slli_epi16(_mm_and_si128(g, _mm_set1_epi16(0xF8)), 2));
  } else {
    w = _mm_or_si128(_mm_slli_epi16(_mm_and_si128(r, _mm_set1_epi16(0xF8)), 8),
                     _mm_slli_epi16(_mm_and_si128(g, _mm_set1_epi16(0xFC)), 3));
  }
  w = _mm_or_si128(w, _mm_srli_epi16(b, 3));
  const bool swapped = kFormat == kPixRGB555PC || kFormat == kPixBGR555PC ||
                       kFormat == kPixRGB565PC || kFormat == kPixBGR565PC;
  if (swapped) w = _mm_or_si128(_mm_slli_epi16(w, 8), _mm_srli_epi16(w, 8));
  return w;
}

template <int32_t kFormat>
__attribute__((target("sse2"))) void YuvRowSse2(const uint8_t* y, const uint8_t* u,
                                                const uint8_t* v, int32_t n, uint8_t* dst,
                                                int32_t format) {
  constexpr int32_t kBytes = kFormat <= kPixBGR565PC ? 2 : kFormat <= kPixBGR24 ? 3 : 4;
  constexpr ByteOrder kOrder = OrderOf(kFormat);
  int32_t x = 0;
  for (; x + 8 <= n; x += 8) {
    __m128i r, g, b;
    Channels8Sse2(y + x, u + (x >> 1), v + (x >> 1), &r, &g, &b);
    uint8_t* d = dst + int64_t(x) * kBytes;
    if constexpr (kBytes == 2) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d), Pack16<kFormat>(r, g, b));
    } else {
      // Channel bytes in the low halves, then interleaved in the format's byte order.
      const __m128i bytes[4] = {_mm_packus_epi16(r, r), _mm_packus_epi16(g, g),
                                _mm_packus_epi16(b, b), _mm_setzero_si128()};
      __m128i lo = _mm_unpacklo_epi8(bytes[kOrder.at[0]], bytes[kOrder.at[1]]);
      __m128i hi = _mm_unpacklo_epi8(bytes[kOrder.at[2]], bytes[kOrder.at[3]]);
      __m128i p0 = _mm_unpacklo_epi16(lo, hi), p1 = _mm_unpackhi_epi16(lo, hi);
      if constexpr (kBytes == 4) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), p0);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), p1);
      } else {
        alignas(16) uint8_t words[32];
        _mm_store_si128(reinterpret_cast<__m128i*>(words), p0);
        _mm_store_si128(reinterpret_cast<__m128i*>(words + 16), p1);
        for (ptrdiff_t i = 0; i < 8; ++i) std::memcpy(d + 3 * i, words + 4 * i, 3);
      }
    }
  }
  TailPixels(y, u, v, x, n, dst, format);
}

// ----- AVX2 -----------------------------------------------------------------------------------

__attribute__((target("avx2"))) inline __m256i FormAvx2(__m256i x) {
  return _mm256_or_si256(x, _mm256_slli_epi32(x, 23));
}

__attribute__((target("avx2"))) inline __m256i Times(__m256i form, int32_t pair) {
  return _mm256_madd_epi16(form, _mm256_set1_epi32(pair));
}

template <int32_t kShift, uint32_t kReciprocal, int kExtra>
__attribute__((target("avx2"))) inline __m256i DivideAvx2(__m256i n) {
  const __m256i c = _mm256_srli_epi32(_mm256_max_epi32(n, _mm256_setzero_si256()), kShift);
  const __m256i m = _mm256_set1_epi32(int32_t(kReciprocal));
  __m256i even = _mm256_srli_epi64(_mm256_mul_epu32(c, m), 32 + kExtra);
  __m256i odd = _mm256_mul_epu32(_mm256_srli_epi64(c, 32), m);
  if (kExtra) odd = _mm256_srli_epi64(odd, kExtra);
  return _mm256_blend_epi32(even, odd, 0xAA);
}

// Eight pixels' channels as bytes, each 128-bit half holding four pixels as blue 0-3, green
// 4-7, red 8-11 and zeros 12-15.
__attribute__((target("avx2"))) inline __m256i Channels8Avx2(const uint8_t* y, const uint8_t* u,
                                                             const uint8_t* v) {
  __m256i y32 = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y)));
  __m128i u8 = _mm_cvtsi32_si128(int32_t(LoadFour(u)));
  __m128i v8 = _mm_cvtsi32_si128(int32_t(LoadFour(v)));
  __m256i u32 = _mm256_cvtepu8_epi32(_mm_unpacklo_epi8(u8, u8));
  __m256i v32 = _mm256_cvtepu8_epi32(_mm_unpacklo_epi8(v8, v8));
  const __m256i fy = FormAvx2(y32), fu = FormAvx2(u32), fv = FormAvx2(v32);
  const __m256i yr = Times(fy, kYRed);
  __m256i nr = _mm256_add_epi32(_mm256_add_epi32(yr, Times(fv, kVRed)),
                                _mm256_set1_epi32(kRedBias));
  __m256i nb = _mm256_add_epi32(_mm256_add_epi32(yr, Times(fu, kURed2)),
                                _mm256_set1_epi32(kBlueBias));
  __m256i ng = _mm256_add_epi32(Times(fy, kYGreen), _mm256_set1_epi32(kGreenBias));
  ng = _mm256_sub_epi32(ng, _mm256_add_epi32(Times(fu, kUGreen), Times(fv, kVGreen)));
  const __m256i r = DivideAvx2<kRedShift, kRedReciprocal, 0>(nr);
  const __m256i b = DivideAvx2<kRedShift, kRedReciprocal, 0>(nb);
  const __m256i g = DivideAvx2<kGreenShift, kGreenReciprocal, kGreenExtra>(ng);
  return _mm256_packus_epi16(_mm256_packs_epi32(b, g),
                             _mm256_packs_epi32(r, _mm256_setzero_si256()));
}

// The byte shuffle that takes Channels8Avx2's layout to four pixels of the format.
constexpr int8_t ShuffleByte(int32_t format, int i) {
  const ByteOrder order = OrderOf(format);
  const int bytes = format <= kPixBGR24 ? 3 : 4;
  const int pixel = i / bytes, k = i % bytes;
  if (pixel >= 4) return -128;             // past the four pixels: 0
  constexpr int kFrom[4] = {8, 4, 0, 12};  // red, green, blue, zero
  return int8_t(kFrom[order.at[k]] + (order.at[k] == 3 ? 0 : pixel));
}

template <int32_t kFormat>
__attribute__((target("avx2"))) inline __m256i ShuffleOf() {
  return _mm256_setr_epi8(
      ShuffleByte(kFormat, 0), ShuffleByte(kFormat, 1), ShuffleByte(kFormat, 2),
      ShuffleByte(kFormat, 3), ShuffleByte(kFormat, 4), ShuffleByte(kFormat, 5),
      ShuffleByte(kFormat, 6), ShuffleByte(kFormat, 7), ShuffleByte(kFormat, 8),
      ShuffleByte(kFormat, 9), ShuffleByte(kFormat, 10), ShuffleByte(kFormat, 11),
      ShuffleByte(kFormat, 12), ShuffleByte(kFormat, 13), ShuffleByte(kFormat, 14),
      ShuffleByte(kFormat, 15), ShuffleByte(kFormat, 0), ShuffleByte(kFormat, 1),
      ShuffleByte(kFormat, 2), ShuffleByte(kFormat, 3), ShuffleByte(kFormat, 4),
      ShuffleByte(kFormat, 5), ShuffleByte(kFormat, 6), ShuffleByte(kFormat, 7),
      ShuffleByte(kFormat, 8), ShuffleByte(kFormat, 9), ShuffleByte(kFormat, 10),
      ShuffleByte(kFormat, 11), ShuffleByte(kFormat, 12), ShuffleByte(kFormat, 13),
      ShuffleByte(kFormat, 14), ShuffleByte(kFormat, 15));
}

// The low 64 bits of each half, side by side.
__attribute__((target("avx2"))) inline __m128i LowQuarters(__m256i a) {
  return _mm256_castsi256_si128(_mm256_permute4x64_epi64(a, 0x08));
}

template <int32_t kFormat>
__attribute__((target("avx2"))) inline __m128i Pack16Avx2(__m256i c) {
  // 16-bit channels of the eight pixels in order: blue and green from the low bytes of each
  // half, red from the high ones.
  const __m256i zero = _mm256_setzero_si256();
  const __m256i lo = _mm256_unpacklo_epi8(c, zero), hi = _mm256_unpackhi_epi8(c, zero);
  __m128i b = LowQuarters(lo), g = LowQuarters(_mm256_srli_si256(lo, 8)), r = LowQuarters(hi);
  return Pack16<kFormat>(r, g, b);
}

template <int32_t kFormat>
__attribute__((target("avx2"))) void YuvRowAvx2(const uint8_t* y, const uint8_t* u,
                                                const uint8_t* v, int32_t n, uint8_t* dst,
                                                int32_t format) {
  constexpr int32_t kBytes = kFormat <= kPixBGR565PC ? 2 : kFormat <= kPixBGR24 ? 3 : 4;
  int32_t x = 0;
  for (; x + 8 <= n; x += 8) {
    const __m256i c = Channels8Avx2(y + x, u + (x >> 1), v + (x >> 1));
    uint8_t* d = dst + int64_t(x) * kBytes;
    if constexpr (kBytes == 2) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d), Pack16Avx2<kFormat>(c));
    } else {
      const __m256i p = _mm256_shuffle_epi8(c, ShuffleOf<kFormat>());
      if constexpr (kBytes == 4) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), p);
      } else {
        // Twelve bytes from each half.
        const __m128i halves[2] = {_mm256_castsi256_si128(p), _mm256_extracti128_si256(p, 1)};
        for (ptrdiff_t h = 0; h < 2; ++h) {
          _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 12 * h), halves[h]);
          const uint32_t last = uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(halves[h], 8)));
          std::memcpy(d + 12 * h + 8, &last, 4);
        }
      }
    }
  }
  TailPixels(y, u, v, x, n, dst, format);
}

template <size_t... kFormats>
constexpr std::array<YuvRowFn, 14> Sse2Rows(std::index_sequence<kFormats...>) {
  return {YuvRowSse2<int32_t(kFormats)>...};
}
template <size_t... kFormats>
constexpr std::array<YuvRowFn, 14> Avx2Rows(std::index_sequence<kFormats...>) {
  return {YuvRowAvx2<int32_t(kFormats)>...};
}
constexpr auto kSse2Rows = Sse2Rows(std::make_index_sequence<14>());
constexpr auto kAvx2Rows = Avx2Rows(std::make_index_sequence<14>());

void AnyRowSse2(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t n, uint8_t* dst,
                int32_t format) {
  if (format >= 0 && format < 14) kSse2Rows[size_t(format)](y, u, v, n, dst, format);
}
void AnyRowAvx2(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t n, uint8_t* dst,
                int32_t format) {
  if (format >= 0 && format < 14) kAvx2Rows[size_t(format)](y, u, v, n, dst, format);
}

}  // namespace

YuvRowFn Sse2YuvRow() { return AnyRowSse2; }
YuvRowFn Avx2YuvRow() { return AnyRowAvx2; }

}  // namespace qv::image

#else

namespace qv::image {
YuvRowFn Sse2YuvRow() { return nullptr; }
YuvRowFn Avx2YuvRow() { return nullptr; }
}  // namespace qv::image

#endif
