// The AVX2 paths of the alpha and mask rows of the scaler and the rotator. Each does the
// reference's arithmetic lane by lane (integers for the scaler, doubles in the reference's order
// for the rotator); gathers read four bytes at a byte's place, so they run only while those four
// stay inside the source row, and the reference finishes the row.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "base/support.h"
#include "image/internal.h"
#include "image/plane_rows.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

namespace qv::image {

namespace {

// Bit k of the index becomes bit 7 - k: lanes in order to a mask byte, most significant first.
constexpr std::array<uint8_t, 256> ReversedBits() {
  std::array<uint8_t, 256> t{};
  for (int v = 0; v < 256; ++v) {
    int r = 0;
    for (int k = 0; k < 8; ++k) r |= ((v >> k) & 1) << (7 - k);
    t[size_t(v)] = uint8_t(r);
  }
  return t;
}
constexpr std::array<uint8_t, 256> kReversed = ReversedBits();

__attribute__((target("avx2"))) inline __m256i GatherBytes(const uint8_t* base, __m256i index) {
  return _mm256_and_si256(_mm256_i32gather_epi32(reinterpret_cast<const int*>(base), index, 1),
                          _mm256_set1_epi32(0xFF));
}

// The low byte of each 32-bit lane, eight bytes in lane order.
__attribute__((target("avx2"))) inline void StoreLowBytes(uint8_t* d, __m256i v) {
  const __m256i pick = _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                        0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                        -1);
  __m256i b = _mm256_shuffle_epi8(v, pick);
  int32_t lo = _mm256_extract_epi32(b, 0), hi = _mm256_extract_epi32(b, 4);
  std::memcpy(d, &lo, 4);
  std::memcpy(d + 4, &hi, 4);
}

__attribute__((target("avx2"))) inline __m256i Lerp16(__m256i a, __m256i b, __m256i f) {
  return _mm256_add_epi32(a, _mm256_srai_epi32(_mm256_mullo_epi32(_mm256_sub_epi32(b, a), f), 16));
}

// 32-bit lanes carry i x step while it cannot pass 2^31.
bool StepFits(int64_t step, int32_t n) {
  return step >= 0 && (int64_t(n) + 8) * step < (int64_t(1) << 31);
}

bool CpuHasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

}  // namespace

bool PlaneRowsAvx2Available() {
  static const bool kHas = CpuHasAvx2();
  return kHas;
}

// (b - a) x f >> 16 added to a in 16-bit lanes, f 0..65535: the signed high product of f read
// as f - 65536 from 32768 on, plus b - a there, is the same floor.
__attribute__((target("avx2"))) inline __m128i Lerp16x8(__m128i a, __m128i b, __m128i f) {
  __m128i diff = _mm_sub_epi16(b, a);
  return _mm_add_epi16(_mm_add_epi16(a, _mm_mulhi_epi16(diff, f)),
                       _mm_and_si128(diff, _mm_srai_epi16(f, 15)));
}

// Eight 32-bit columns less the base, as the shuffle that widens those bytes to 16-bit lanes.
__attribute__((target("avx2"))) inline __m128i WideningShuffle(const int32_t* col, int32_t base) {
  __m128i b = _mm_set1_epi32(base);
  __m128i lo = _mm_sub_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(col)), b);
  __m128i hi = _mm_sub_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(col + 4)), b);
  __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(lo, hi), _mm_setzero_si128());
  return _mm_unpacklo_epi8(bytes, _mm_set1_epi8(char(0x80)));
}

__attribute__((target("avx2"))) int32_t BuildSmoothAlphaPlanAvx2(const SmoothColumns& c, int32_t n,
                                                                 int32_t rowBytes, uint8_t* plan) {
  int32_t k = 0;
  for (int32_t i = 0;
       i + 8 <= n && int64_t(c.col[i]) + 16 <= rowBytes && c.col1[i + 7] - c.col[i] < 16;
       i += 8, ++k) {
    uint8_t* p = plan + size_t(k) * kSmoothAlphaPlanBytes;
    const int32_t base = c.col[i];
    __m128i flo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c.frac + i));
    __m128i fhi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c.frac + i + 4));
    _mm_store_si128(reinterpret_cast<__m128i*>(p), WideningShuffle(c.col + i, base));
    _mm_store_si128(reinterpret_cast<__m128i*>(p + 16), WideningShuffle(c.col1 + i, base));
    _mm_store_si128(reinterpret_cast<__m128i*>(p + 32), _mm_packus_epi32(flo, fhi));
    std::memcpy(p + 48, &base, 4);
  }
  return k;
}

__attribute__((target("avx2"))) void SmoothAlphaRowAvx2(uint8_t* d, const uint8_t* a0,
                                                        const uint8_t* a1, const SmoothColumns& c,
                                                        int32_t n, int32_t fy, int32_t rowBytes) {
  const __m256i fyv = _mm256_set1_epi32(fy);
  const __m128i fy16 = _mm_set1_epi16(int16_t(uint16_t(fy)));
  int32_t i = 0;
  // The planned groups: their shuffles and fractions made once for all rows.
  for (int32_t k = 0; k < c.planChunks; ++k, i += 8) {
    const uint8_t* p = c.plan + size_t(k) * kSmoothAlphaPlanBytes;
    int32_t base;
    std::memcpy(&base, p + 48, 4);
    __m128i s0 = _mm_load_si128(reinterpret_cast<const __m128i*>(p));
    __m128i s1 = _mm_load_si128(reinterpret_cast<const __m128i*>(p + 16));
    __m128i fx = _mm_load_si128(reinterpret_cast<const __m128i*>(p + 32));
    __m128i r0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a0 + base));
    __m128i r1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a1 + base));
    __m128i top = Lerp16x8(_mm_shuffle_epi8(r0, s0), _mm_shuffle_epi8(r0, s1), fx);
    __m128i bottom = Lerp16x8(_mm_shuffle_epi8(r1, s0), _mm_shuffle_epi8(r1, s1), fx);
    __m128i v = Lerp16x8(top, bottom, fy16);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d + i), _mm_packus_epi16(v, v));
  }
  // Eight results whose columns lie within 16 bytes (scaling up, or down a little): one load of
  // each row and byte shuffles in place of gathers.
  for (; i + 8 <= n && int64_t(c.col[i]) + 16 <= rowBytes && c.col1[i + 7] - c.col[i] < 16;
       i += 8) {
    const int32_t base = c.col[i];
    __m128i s0 = WideningShuffle(c.col + i, base), s1 = WideningShuffle(c.col1 + i, base);
    __m128i r0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a0 + base));
    __m128i r1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a1 + base));
    __m128i flo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c.frac + i));
    __m128i fhi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c.frac + i + 4));
    __m128i fx = _mm_packus_epi32(flo, fhi);
    __m128i top = Lerp16x8(_mm_shuffle_epi8(r0, s0), _mm_shuffle_epi8(r0, s1), fx);
    __m128i bottom = Lerp16x8(_mm_shuffle_epi8(r1, s0), _mm_shuffle_epi8(r1, s1), fx);
    __m128i v = Lerp16x8(top, bottom, fy16);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d + i), _mm_packus_epi16(v, v));
  }
  for (; i + 8 <= n && int64_t(c.col1[i + 7]) + 4 <= rowBytes &&
         c.col[i + 7] + int64_t(4) <= rowBytes;
       i += 8) {
    __m256i col = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c.col + i));
    __m256i col1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c.col1 + i));
    __m256i fx = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c.frac + i));
    __m256i top = Lerp16(GatherBytes(a0, col), GatherBytes(a0, col1), fx);
    __m256i bottom = Lerp16(GatherBytes(a1, col), GatherBytes(a1, col1), fx);
    StoreLowBytes(d + i, Lerp16(top, bottom, fyv));
  }
  if (i < n) {
    SmoothColumns rest{c.col + i, c.col1 + i, c.frac + i};
    SmoothAlphaRowScalar(d + i, a0, a1, rest, n - i, fy, rowBytes);
  }
}

__attribute__((target("avx2"))) void NearestAlphaRowAvx2(uint8_t* d, const uint8_t* s, int64_t step,
                                                         int32_t n, int32_t width,
                                                         int32_t rowBytes) {
  if (!StepFits(step, n)) {
    NearestAlphaRowScalar(d, s, step, n, width, rowBytes);
    return;
  }
  const int32_t st = int32_t(step);
  __m256i u = _mm256_mullo_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7), _mm256_set1_epi32(st));
  const __m256i step8 = _mm256_set1_epi32(st * 8), last = _mm256_set1_epi32(width - 1);
  int32_t i = 0;
  for (; i + 8 <= n && std::min<int64_t>((int64_t(i) + 7) * step >> 16, width - 1) + 4 <= rowBytes;
       i += 8) {
    __m256i index = _mm256_min_epi32(_mm256_srli_epi32(u, 16), last);
    StoreLowBytes(d + i, GatherBytes(s, index));
    u = _mm256_add_epi32(u, step8);
  }
  for (int64_t v = int64_t(i) * step; i < n; ++i, v += step)
    d[i] = s[std::min<int64_t>(v >> 16, width - 1)];
}

__attribute__((target("avx2"))) void MaskRowAvx2(uint8_t* d, const uint8_t* s, const int32_t* col,
                                                 int64_t step, int32_t n, int32_t width,
                                                 int32_t left, int32_t rowBytes) {
  if (!col && !StepFits(step, n)) {
    MaskRowScalar(d, s, col, step, n, width, left, rowBytes);
    return;
  }
  const int32_t st = col ? 0 : int32_t(step);  // the nearest columns' step, known to fit
  __m256i u = _mm256_mullo_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7), _mm256_set1_epi32(st));
  const __m256i step8 = _mm256_set1_epi32(st * 8), last = _mm256_set1_epi32(width - 1);
  const __m256i leftv = _mm256_set1_epi32(left), seven = _mm256_set1_epi32(7);
  auto column = [&](int32_t i) {
    return col ? int64_t(col[i]) : std::min<int64_t>(int64_t(i) * step >> 16, width - 1);
  };
  int32_t i = 0;
  for (; i + 8 <= n && ((column(i + 7) + left) >> 3) + 4 <= rowBytes; i += 8) {
    __m256i c = col ? _mm256_loadu_si256(reinterpret_cast<const __m256i*>(col + i))
                    : _mm256_min_epi32(_mm256_srli_epi32(u, 16), last);
    __m256i bit = _mm256_add_epi32(c, leftv);
    __m256i bytes = GatherBytes(s, _mm256_srli_epi32(bit, 3));
    // The wanted bit to the lane's top: shift left by 24 + (bit & 7).
    __m256i shift = _mm256_add_epi32(_mm256_and_si256(bit, seven), _mm256_set1_epi32(24));
    int m = _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_sllv_epi32(bytes, shift)));
    d[i >> 3] = kReversed[size_t(m)];
    u = _mm256_add_epi32(u, step8);
  }
  for (; i < n; ++i) PutMaskBit(d, i, MaskBit(s, column(i) + left));
}

__attribute__((target("avx2"))) void RotateAlphaRowAvx2(uint8_t* d, int32_t x0, int32_t x1,
                                                        int32_t y, const double inv[6],
                                                        const uint8_t* src, int32_t srcBytesPerRow,
                                                        int32_t width, int32_t height,
                                                        bool smooth) {
  const __m256d i0 = _mm256_set1_pd(inv[0]), i1 = _mm256_set1_pd(inv[1]);
  const __m256d ky = _mm256_set1_pd(inv[2] * y), ly = _mm256_set1_pd(inv[3] * y);
  const __m256d e = _mm256_set1_pd(inv[4]), f = _mm256_set1_pd(inv[5]);
  const __m256d one = _mm256_set1_pd(1.0), half = _mm256_set1_pd(0.5);
  const __m128i zero = _mm_setzero_si128(), minusOne = _mm_set1_epi32(-1);
  const __m128i lastX = _mm_set1_epi32(width - 1), lastY = _mm_set1_epi32(height - 1);
  alignas(16) int32_t ix[4], iy[4], ix1[4], iy1[4];
  int32_t x = x0;
  for (; x + 3 <= x1; x += 4) {
    __m256d xv = _mm256_setr_pd(x, x + 1, x + 2, x + 3);
    __m256d sx = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(i0, xv), ky), e);
    __m256d sy = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(i1, xv), ly), f);
    if (!smooth) {
      // Truncation as TruncateToInt: NaN and values out of range give INT_MIN, held at 0.
      __m128i cx = _mm_min_epi32(_mm_max_epi32(_mm256_cvttpd_epi32(sx), zero), lastX);
      __m128i cy = _mm_min_epi32(_mm_max_epi32(_mm256_cvttpd_epi32(sy), zero), lastY);
      _mm_store_si128(reinterpret_cast<__m128i*>(ix), cx);
      _mm_store_si128(reinterpret_cast<__m128i*>(iy), cy);
      for (int k = 0; k < 4; ++k) d[x + k] = src[int64_t(iy[k]) * srcBytesPerRow + ix[k]];
      continue;
    }
    __m256d flx = _mm256_floor_pd(sx), fly = _mm256_floor_pd(sy);
    __m128i tx = _mm256_cvttpd_epi32(flx), ty = _mm256_cvttpd_epi32(fly);
    // The second neighbour from max(i, -1) + 1: the same as i + 1 held inside, without overflow.
    _mm_store_si128(reinterpret_cast<__m128i*>(ix), _mm_min_epi32(_mm_max_epi32(tx, zero), lastX));
    _mm_store_si128(reinterpret_cast<__m128i*>(iy), _mm_min_epi32(_mm_max_epi32(ty, zero), lastY));
    _mm_store_si128(reinterpret_cast<__m128i*>(ix1),
                    _mm_min_epi32(_mm_sub_epi32(_mm_max_epi32(tx, minusOne), minusOne), lastX));
    _mm_store_si128(reinterpret_cast<__m128i*>(iy1),
                    _mm_min_epi32(_mm_sub_epi32(_mm_max_epi32(ty, minusOne), minusOne), lastY));
    alignas(32) double c00[4], c01[4], c10[4], c11[4];
    for (int k = 0; k < 4; ++k) {
      const uint8_t* r0 = src + int64_t(iy[k]) * srcBytesPerRow;
      const uint8_t* r1 = src + int64_t(iy1[k]) * srcBytesPerRow;
      c00[k] = r0[ix[k]], c01[k] = r0[ix1[k]], c10[k] = r1[ix[k]], c11[k] = r1[ix1[k]];
    }
    __m256d fx = _mm256_sub_pd(sx, flx), fy = _mm256_sub_pd(sy, fly);
    __m256d gx = _mm256_sub_pd(one, fx), gy = _mm256_sub_pd(one, fy);
    __m256d top = _mm256_add_pd(_mm256_mul_pd(_mm256_load_pd(c00), gx),
                                _mm256_mul_pd(_mm256_load_pd(c01), fx));
    __m256d bottom = _mm256_add_pd(_mm256_mul_pd(_mm256_load_pd(c10), gx),
                                   _mm256_mul_pd(_mm256_load_pd(c11), fx));
    __m256d v = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(top, gy), _mm256_mul_pd(bottom, fy)),
                              half);
    alignas(16) int32_t out[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(out), _mm256_cvttpd_epi32(v));
    for (int k = 0; k < 4; ++k) d[x + k] = uint8_t(out[k] & 0xFF);
  }
  if (x <= x1) RotateAlphaRowScalar(d, x, x1, y, inv, src, srcBytesPerRow, width, height, smooth);
}

__attribute__((target("avx2"))) void RotateMaskedRowAvx2(uint32_t* d, uint8_t* dm, uint8_t* done,
                                                         int32_t x0, int32_t x1, int32_t y,
                                                         const double inv[6],
                                                         const double nudged[6],
                                                         const MaskedRotateSource& s) {
  const __m256d i0 = _mm256_set1_pd(inv[0]), i1 = _mm256_set1_pd(inv[1]);
  const __m256d ky = _mm256_set1_pd(inv[2] * y), ly = _mm256_set1_pd(inv[3] * y);
  const __m256d e = _mm256_set1_pd(inv[4]), f = _mm256_set1_pd(inv[5]);
  const __m128i zero = _mm_setzero_si128(), minusOne = _mm_set1_epi32(-1);
  const __m128i lastX = _mm_set1_epi32(s.width - 1), lastY = _mm_set1_epi32(s.height - 1);
  alignas(16) int32_t ix[4], iy[4], ix1[4], iy1[4];
  auto opaque = [&](int32_t x, int32_t yy) {
    return MaskBit(s.mask + int64_t(yy) * s.maskBytesPerRow, int64_t(x) + s.maskLeft);
  };
  std::memset(done, 0, size_t(int64_t(x1) - x0 + 1));
  for (int32_t x = x0; x + 3 <= x1; x += 4) {
    __m256d xv = _mm256_setr_pd(x, x + 1, x + 2, x + 3);
    __m256d flx = _mm256_floor_pd(_mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(i0, xv), ky), e));
    __m256d fly = _mm256_floor_pd(_mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(i1, xv), ly), f));
    __m128i tx = _mm256_cvttpd_epi32(flx), ty = _mm256_cvttpd_epi32(fly);
    _mm_store_si128(reinterpret_cast<__m128i*>(ix), _mm_min_epi32(_mm_max_epi32(tx, zero), lastX));
    _mm_store_si128(reinterpret_cast<__m128i*>(iy), _mm_min_epi32(_mm_max_epi32(ty, zero), lastY));
    _mm_store_si128(reinterpret_cast<__m128i*>(ix1),
                    _mm_min_epi32(_mm_sub_epi32(_mm_max_epi32(tx, minusOne), minusOne), lastX));
    _mm_store_si128(reinterpret_cast<__m128i*>(iy1),
                    _mm_min_epi32(_mm_sub_epi32(_mm_max_epi32(ty, minusOne), minusOne), lastY));
    bool all = true;
    for (int k = 0; k < 4 && all; ++k) {
      all = opaque(ix[k], iy[k]) && opaque(ix1[k], iy[k]) && opaque(ix[k], iy1[k]) &&
            opaque(ix1[k], iy1[k]);
    }
    if (!all) continue;
    if (s.pixels) {
      gPaths.rotateSmoothRow(d, x, x + 3, y, inv, s.pixels, s.pixelsPerRow, s.width, s.height,
                             s.colourBytes);
    }
    for (int k = 0; k < 4; ++k) {
      if (dm) {
        int32_t xx = x + k;
        int32_t nx = std::clamp(TruncateToInt(nudged[0] * xx + nudged[2] * y + nudged[4]), 0,
                                s.width - 1);
        int32_t ny = std::clamp(TruncateToInt(nudged[1] * xx + nudged[3] * y + nudged[5]), 0,
                                s.height - 1);
        PutMaskBit(dm, xx, opaque(nx, ny));
      }
      done[x + k - x0] = 1;
    }
  }
}

}  // namespace qv::image

#else

namespace qv::image {
bool PlaneRowsAvx2Available() { return false; }
int32_t BuildSmoothAlphaPlanAvx2(const SmoothColumns&, int32_t, int32_t, uint8_t*) { return 0; }
void SmoothAlphaRowAvx2(uint8_t* d, const uint8_t* a0, const uint8_t* a1, const SmoothColumns& c,
                        int32_t n, int32_t fy, int32_t rowBytes) {
  SmoothAlphaRowScalar(d, a0, a1, c, n, fy, rowBytes);
}
void NearestAlphaRowAvx2(uint8_t* d, const uint8_t* s, int64_t step, int32_t n, int32_t width,
                         int32_t rowBytes) {
  NearestAlphaRowScalar(d, s, step, n, width, rowBytes);
}
void MaskRowAvx2(uint8_t* d, const uint8_t* s, const int32_t* col, int64_t step, int32_t n,
                 int32_t width, int32_t left, int32_t rowBytes) {
  MaskRowScalar(d, s, col, step, n, width, left, rowBytes);
}
void RotateAlphaRowAvx2(uint8_t* d, int32_t x0, int32_t x1, int32_t y, const double inv[6],
                        const uint8_t* src, int32_t srcBytesPerRow, int32_t width, int32_t height,
                        bool smooth) {
  RotateAlphaRowScalar(d, x0, x1, y, inv, src, srcBytesPerRow, width, height, smooth);
}
void RotateMaskedRowAvx2(uint32_t*, uint8_t*, uint8_t* done, int32_t x0, int32_t x1, int32_t,
                         const double*, const double*, const MaskedRotateSource&) {
  std::memset(done, 0, size_t(int64_t(x1) - x0 + 1));
}
}  // namespace qv::image

#endif
