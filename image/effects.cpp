// The effect kernels that the brush effects and the transitions share (swirl, water ripple,
// pixelate, dissolve mask, line rolling) and the brush wrappers over the first three.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "base/errors.h"
#include "base/support.h"
#include "image/image.h"
#include "image/internal.h"

namespace qv {

namespace {

using image::MaskBit;
using image::PutMaskBit;

constexpr double kDegToRad = 0.017453292519943295;
constexpr double kTableStep = 0.001;
constexpr double kTwoPi = 6.283185307179586;

// floor(16 x sqrt(i)) for i = 0 .. 255, that is floor(sqrt(256 i)), made at compile time.
constexpr int32_t ExactRoot(int32_t n) {
  int32_t r = 0;
  while ((r + 1) * (r + 1) <= n) ++r;
  return r;
}
struct SqrtTable {
  uint8_t v[256];
  constexpr SqrtTable() : v() {
    for (int32_t i = 0; i < 256; ++i) v[i] = uint8_t(ExactRoot(256 * i));
  }
};
constexpr SqrtTable kSqrtTable;

// A table index: trunc(value / step) held to 0 .. kEffectTableSize - 1 (NaN gives 0).
int32_t TableIndex(double value) {
  double k = value / kTableStep;
  if (!(k >= 0)) return 0;
  if (k >= kEffectTableSize - 1) return kEffectTableSize - 1;
  return int32_t(k);
}

// trunc(v) held to 0 .. size - 1; NaN and the infinities are held too.
int32_t HoldInside(double v, int32_t size) {
  if (!(v >= 0)) return 0;
  if (v >= double(size - 1)) return size - 1;
  return int32_t(v);
}

// o + (((s - o) x level) >> 8) for each of the four bytes, two bytes at a time:
// (s level + o (256 - level)) >> 8 is the same floor, and no lane exceeds 16 bits.
uint32_t BlendToward(uint32_t o, uint32_t s, int32_t level) {
  const auto l = uint32_t(level), m = 256 - l;
  const uint32_t rb = ((s & 0x00FF00FFu) * l + (o & 0x00FF00FFu) * m) >> 8;
  const uint32_t ag = ((s >> 8) & 0x00FF00FFu) * l + ((o >> 8) & 0x00FF00FFu) * m;
  return (rb & 0x00FF00FFu) | (ag & 0xFF00FF00u);
}

// A tight copy of width x height units of `bytes` each from a strided plane (null on failure or
// when there is nothing to copy); *stride receives the copy's stride in units.
template <typename T>
T* TightCopy(const T* data, int32_t stride, int32_t width, int32_t height, int32_t* copyStride) {
  *copyStride = width;
  int64_t bytes = int64_t(width) * height * int64_t(sizeof(T));
  if (bytes <= 0 || bytes > (int64_t(1) << 31)) return nullptr;
  T* copy = static_cast<T*>(image::Allocate(size_t(bytes), false));
  if (!copy) return nullptr;
  for (int32_t y = 0; y < height; ++y)
    std::memcpy(copy + int64_t(y) * width, data + int64_t(y) * stride, size_t(width) * sizeof(T));
  return copy;
}

// The source planes of a still effect: the record's, or copies of the destination's, freed at the
// end of the call.
struct EffectSources {
  const uint32_t* pixels = nullptr;
  int32_t pixelsPerRow = 0;
  const uint8_t* mask = nullptr;
  int32_t maskBytesPerRow = 0;
  const uint8_t* alpha = nullptr;
  int32_t alphaBytesPerRow = 0;
  uint32_t* ownPixels = nullptr;
  uint8_t* ownMask = nullptr;
  uint8_t* ownAlpha = nullptr;
  EffectSources() = default;
  EffectSources(const EffectSources&) = delete;
  EffectSources& operator=(const EffectSources&) = delete;
  ~EffectSources() {
    std::free(ownPixels);
    std::free(ownMask);
    std::free(ownAlpha);
  }

  // 0 or ERR_MEM.
  int Take(const uint32_t* src, int32_t srcPPR, const uint32_t* dst, int32_t dstPPR,
           const uint8_t* srcMask, int32_t srcMaskBPR, const uint8_t* dstMask, int32_t dstMaskBPR,
           const uint8_t* srcAlpha, int32_t srcAlphaBPR, const uint8_t* dstAlpha,
           int32_t dstAlphaBPR, int32_t width, int32_t height) {
    if (src) {
      pixels = src, pixelsPerRow = srcPPR;
    } else if (dst) {
      pixels = ownPixels = TightCopy(dst, dstPPR, width, height, &pixelsPerRow);
      if (!ownPixels) return ERR_MEM;
    }
    if (srcMask) {
      mask = srcMask, maskBytesPerRow = srcMaskBPR;
    } else if (dstMask) {
      maskBytesPerRow = dstMaskBPR;
      int32_t unused = 0;
      mask = ownMask = TightCopy(dstMask, dstMaskBPR, dstMaskBPR, height, &unused);
      if (!ownMask) return ERR_MEM;
    }
    if (srcAlpha) {
      alpha = srcAlpha, alphaBytesPerRow = srcAlphaBPR;
    } else if (dstAlpha) {
      alpha = ownAlpha = TightCopy(dstAlpha, dstAlphaBPR, width, height, &alphaBytesPerRow);
      if (!ownAlpha) return ERR_MEM;
    }
    return 0;
  }
};

#if defined(__x86_64__) || defined(__i386__)
// The source positions scatter over the pictures: the cache lines a gather will want this many
// pixels later are asked for now, so that many misses are under way at once.
constexpr int32_t kPrefetchAhead = 64;

// The indices sy x pixelsPerRow + sx of eight positions; the caller has checked that every index
// of the plane fits in 32 bits.
__attribute__((target("avx2"))) inline __m256i Indices8(int32_t pixelsPerRow, const int32_t* sx,
                                                        const int32_t* sy) {
  const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sx));
  const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sy));
  return _mm256_add_epi32(_mm256_mullo_epi32(y, _mm256_set1_epi32(pixelsPerRow)), x);
}

__attribute__((target("avx2"))) inline __m256i Gather8(const uint32_t* plane, int32_t pixelsPerRow,
                                                       const int32_t* sx, const int32_t* sy) {
  return _mm256_i32gather_epi32(reinterpret_cast<const int*>(plane), Indices8(pixelsPerRow, sx, sy),
                                4);
}

__attribute__((target("avx2"))) inline void Prefetch8(const uint32_t* plane, int32_t pixelsPerRow,
                                                      const int32_t* sx, const int32_t* sy) {
  alignas(32) int32_t at[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(at), Indices8(pixelsPerRow, sx, sy));
  for (int32_t k = 0; k < 8; ++k)
    _mm_prefetch(reinterpret_cast<const char*>(plane + at[k]), _MM_HINT_T0);
}

__attribute__((target("avx2"))) int32_t CopyRowAvx2(const uint32_t* src, int32_t ppr,
                                                    const int32_t* sx, const int32_t* sy,
                                                    uint32_t* d, int32_t w) {
  int32_t x = 0;
  for (; x + 8 <= w; x += 8) {
    if (x + kPrefetchAhead + 8 <= w)
      Prefetch8(src, ppr, sx + x + kPrefetchAhead, sy + x + kPrefetchAhead);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + x), Gather8(src, ppr, sx + x, sy + x));
  }
  return x;
}

// BlendToward on eight pixels: each byte lives in a 16-bit lane, where s level + o (256 - level)
// stays below 2^16 as it does in the scalar's 32-bit halves.
__attribute__((target("avx2"))) int32_t BlendRowAvx2(const uint32_t* src, int32_t ppr,
                                                     const uint32_t* second, int32_t secondPpr,
                                                     const int32_t* sx, const int32_t* sy,
                                                     uint32_t* d, int32_t w, int32_t level) {
  const __m256i low = _mm256_set1_epi32(0x00FF00FF);
  const __m256i l = _mm256_set1_epi16(int16_t(level)), m = _mm256_set1_epi16(int16_t(256 - level));
  int32_t x = 0;
  for (; x + 8 <= w; x += 8) {
    if (x + kPrefetchAhead + 8 <= w) {
      Prefetch8(src, ppr, sx + x + kPrefetchAhead, sy + x + kPrefetchAhead);
      Prefetch8(second, secondPpr, sx + x + kPrefetchAhead, sy + x + kPrefetchAhead);
    }
    const __m256i o = Gather8(second, secondPpr, sx + x, sy + x);
    const __m256i s = Gather8(src, ppr, sx + x, sy + x);
    const __m256i rb = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_and_si256(s, low), l),
                                        _mm256_mullo_epi16(_mm256_and_si256(o, low), m));
    const __m256i ag = _mm256_add_epi16(
        _mm256_mullo_epi16(_mm256_and_si256(_mm256_srli_epi32(s, 8), low), l),
        _mm256_mullo_epi16(_mm256_and_si256(_mm256_srli_epi32(o, 8), low), m));
    const __m256i out = _mm256_or_si256(_mm256_srli_epi16(rb, 8), _mm256_andnot_si256(low, ag));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + x), out);
  }
  return x;
}
#endif

// The byte range a plane of `rows` rows of `rowBytes` bytes at `stride` bytes spans.
struct Span {
  uintptr_t lo = 0, hi = 0;
  Span() = default;
  Span(const void* p, int64_t stride, int32_t rows, int64_t rowBytes) {
    if (!p) return;
    const auto base = reinterpret_cast<uintptr_t>(p);
    const int64_t last = int64_t(rows - 1) * stride;
    lo = base + uintptr_t(std::min<int64_t>(last, 0));
    hi = base + uintptr_t(std::max<int64_t>(last, 0) + rowBytes);
  }
  bool Meets(const Span& o) const { return lo < hi && o.lo < o.hi && lo < o.hi && o.lo < hi; }
};

// Whether a plane the effect reads overlaps one it writes: then the pixels must be written one
// by one in their order, as the reference writes them, for the reads to find what it found.
template <typename Record>
bool ReadsWhatItWrites(const Record& r, const EffectSources& s) {
  const int32_t w = r.width, h = r.height;
  const Span written[] = {
      Span(r.dst, int64_t(r.dstPixelsPerRow) * 4, h, int64_t(w) * 4),
      Span(r.dstMask, r.dstMaskBytesPerRow, h, (int64_t(w) + 7) / 8),
      Span(r.dstAlpha, r.dstAlphaBytesPerRow, h, w),
  };
  const Span read[] = {
      Span(s.pixels, int64_t(s.pixelsPerRow) * 4, h, int64_t(w) * 4),
      Span(r.second, int64_t(r.secondPixelsPerRow) * 4, h, int64_t(w) * 4),
      Span(r.transitionAlpha, r.transitionAlphaBytesPerRow, h, w),
      Span(s.mask, s.maskBytesPerRow, h, (int64_t(w) + 7) / 8),
      Span(s.alpha, s.alphaBytesPerRow, h, w),
  };
  for (const Span& a : written)
    for (const Span& b : read)
      if (a.Meets(b)) return true;
  return false;
}

// Whether every index sy x pixelsPerRow + sx of a plane fits in 32 bits (the vector gathers).
bool IndicesFit(int64_t pixelsPerRow, int32_t width, int32_t height) {
  return std::abs(int64_t(height - 1) * pixelsPerRow) + width <= INT32_MAX;
}

// What a swirl or ripple writes at (x, y) from the source position (sx, sy).
struct EffectOutput {
  const EffectSources& s;
  uint32_t* dst;
  int32_t dstPixelsPerRow;
  const uint32_t* second;
  int32_t secondPixelsPerRow;
  const uint8_t* transitionAlpha;
  int32_t transitionAlphaBytesPerRow;
  uint8_t* dstMask;
  int32_t dstMaskBytesPerRow;
  uint8_t* dstAlpha;
  int32_t dstAlphaBytesPerRow;
  bool blend;  // a transition: the second picture or the transition alpha take part
  bool invertLevel;
  int32_t level;
  SimdLevel path;
  int32_t width, height;

  // Pixels x0 .. x0 + n - 1 of row y from their source positions (sx[i], sy[i]).
  void PutRow(int32_t y, int32_t x0, int32_t n, const int32_t* sx, const int32_t* sy) const {
    uint32_t* d = dst ? dst + int64_t(y) * dstPixelsPerRow + x0 : nullptr;
    const uint32_t* src = s.pixels;
    const int64_t ppr = s.pixelsPerRow;
    if (!src) d = nullptr;
    if (blend && transitionAlpha) {
      uint8_t* da = dstAlpha ? dstAlpha + int64_t(y) * dstAlphaBytesPerRow + x0 : nullptr;
      const int32_t share = invertLevel ? 255 - level : level;
      for (int32_t x = 0; x < n; ++x) {
        const int32_t a = transitionAlpha[int64_t(sy[x]) * transitionAlphaBytesPerRow + sx[x]];
        if (a == 0) {
          if (da) da[x] = 0;
          continue;
        }
        if (d) d[x] = src[sy[x] * ppr + sx[x]];
        if (da) da[x] = uint8_t(a * share / 255);
      }
      return;
    }
    const bool wide = path == SimdLevel::kAvx2 && IndicesFit(ppr, width, height);
    if (blend && second) {
      if (!d) return;
      int32_t x = 0;
#if defined(__x86_64__) || defined(__i386__)
      if (wide && IndicesFit(secondPixelsPerRow, width, height))
        x = BlendRowAvx2(src, int32_t(ppr), second, secondPixelsPerRow, sx, sy, d, n, level);
#endif
      for (; x < n; ++x)
        d[x] = BlendToward(second[int64_t(sy[x]) * secondPixelsPerRow + sx[x]],
                           src[sy[x] * ppr + sx[x]], level);
      return;
    }
    if (d) {
      int32_t x = 0;
#if defined(__x86_64__) || defined(__i386__)
      if (wide) x = CopyRowAvx2(src, int32_t(ppr), sx, sy, d, n);
#endif
      for (; x < n; ++x) d[x] = src[sy[x] * ppr + sx[x]];
    }
    if (dstMask && s.mask) {
      uint8_t* row = dstMask + int64_t(y) * dstMaskBytesPerRow;
      for (int32_t x = 0; x < n; ++x)
        PutMaskBit(row, int64_t(x0) + x,
                   MaskBit(s.mask + int64_t(sy[x]) * s.maskBytesPerRow, sx[x]));
    }
    if (dstAlpha && s.alpha) {
      uint8_t* row = dstAlpha + int64_t(y) * dstAlphaBytesPerRow + x0;
      for (int32_t x = 0; x < n; ++x) row[x] = s.alpha[int64_t(sy[x]) * s.alphaBytesPerRow + sx[x]];
    }
  }
};

// A row's source positions.
struct RowPositions {
  int32_t* sx = nullptr;
  int32_t* sy = nullptr;
  explicit RowPositions(int32_t w) {
    sx = static_cast<int32_t*>(image::Allocate(size_t(w) * 8, false));
    if (sx) sy = sx + w;
  }
  ~RowPositions() { std::free(sx); }
  RowPositions(const RowPositions&) = delete;
  RowPositions& operator=(const RowPositions&) = delete;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Integer square root.

int32_t IntSqrt(int64_t n) {
  if (n < 0) return -1;
  if (n < 256) return kSqrtTable.v[n] >> 4;
  // n = m x 4^k with m in 64 .. 255: the table's 16 sqrt(m) shifted by k estimates sqrt(n) to
  // about one part in 128.
  int32_t k = 0;
  uint64_t m = uint64_t(n);
  while (m >= 256) m >>= 2, ++k;
  uint64_t root = (uint64_t(kSqrtTable.v[m]) << k) >> 4;
  if (root == 0) root = 1;
  if (n >= 65536) root = (root + uint64_t(n) / root) / 2;  // one Newton step
  const auto un = uint64_t(n);
  while (root * root > un) --root;
  while ((root + 1) * (root + 1) <= un) ++root;
  return int32_t(root);
}

// ---------------------------------------------------------------------------------------------
// Swirl.

void InitSwirlTables(SwirlRecord& r) {
  for (int32_t k = 0; k < kEffectTableSize; ++k) {
    if (r.sine) r.sine[k] = std::sin(k * kTableStep);
    if (r.cosine) r.cosine[k] = std::cos(k * kTableStep);
  }
}

namespace {

// What the swirl's source positions depend on, the same for every row.
struct SwirlShape {
  const SwirlRecord* r;
  int32_t w, h, angle;
  double cx, cy, scaleX, scaleY, radius, radius2;
  const double* turns;  // sine and cosine by distance, or null

  // The turn depends on the whole distance d alone.
  void Turn(int64_t d, double* sn, double* cs) const {
    const double f = 1.0 - double(d) / radius;
    const double t = angle * kDegToRad * f * f;
    if (angle >= 0) {
      const int32_t k = TableIndex(t);
      *sn = r->sine[k], *cs = r->cosine[k];
    } else {
      *sn = std::sin(t), *cs = std::cos(t);
    }
  }
};

// The source positions of row y from column x to end: the reference of the vector rows.
void SwirlRowScalar(const SwirlShape& g, int32_t y, int32_t x, int32_t end, int32_t* sxs,
                    int32_t* sys) {
  const double dy = (y - g.cy) * g.scaleY;
  // Along a row the distance changes by little from one pixel to the next: its root is
  // carried and corrected, which gives floor(sqrt) exactly as IntSqrt does.
  int64_t d = -1;
  for (; x < end; ++x) {
    const double dx = (x - g.cx) * g.scaleX;
    const double dist2 = dx * dx + dy * dy;
    int32_t& sx = sxs[x];
    int32_t& sy = sys[x];
    sx = x, sy = y;
    if (dist2 < g.radius2 && g.angle != 0) {
      const auto n = int64_t(dist2);
      if (d < 0) {
        d = IntSqrt(n);
      } else {
        while (d * d > n) --d;
        while ((d + 1) * (d + 1) <= n) ++d;
      }
      double sn, cs;
      if (g.turns)
        sn = g.turns[2 * d], cs = g.turns[2 * d + 1];
      else
        g.Turn(d, &sn, &cs);
      // No turn is no move: dividing the stretch out again may land a hair short of the pixel.
      if (sn != 0.0 || cs != 1.0) {
        // Dividing by 1 changes nothing: only the stretched axis pays for its division.
        const double u = cs * dx - sn * dy, v = sn * dx + cs * dy;
        sx = HoldInside((g.scaleX == 1.0 ? u : u / g.scaleX) + g.cx, g.w);
        sy = HoldInside((g.scaleY == 1.0 ? v : v / g.scaleY) + g.cy, g.h);
      }
    }
  }
}

#if defined(__x86_64__) || defined(__i386__)
// The vector rows do the scalar row's operations in its order, so that every lane rounds as the
// scalar does. Two rows share most of their work: pixel (w - x, h - y) lies opposite (x, y)
// through the centre, so its offsets dx and dy are exactly the negated ones (x - w/2 is exact), its
// distance and turn are the same, and so are its u and v, negated. Only the last addition and the
// truncation are its own.

__attribute__((target("avx2"))) inline __m256d Abs4(__m256d v) {
  return _mm256_andnot_pd(_mm256_set1_pd(-0.0), v);
}

// Lanes within 2^-20 of a whole number.
__attribute__((target("avx2"))) inline __m256d NearWhole4(__m256d v) {
  const __m256d whole = _mm256_round_pd(v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
  return _mm256_cmp_pd(Abs4(_mm256_sub_pd(v, whole)), _mm256_set1_pd(1.0 / (1 << 20)), _CMP_LT_OQ);
}

// The quotient u / s where the lanes in `used` need it, without a division where that can be
// told apart: u x (1 / s) lies within 3 x 2^-53 |u / s| of it, so when that is below 2^20 the two
// sums with c (c + q, and c - q for the opposite row) differ by less than 2^-20, and truncate
// alike unless a whole number lies that near. Such lanes, NaN and larger quotients take the
// division.
template <bool kOpposite>
__attribute__((target("avx2"))) inline __m256d Quotient4(__m256d u, __m256d s, __m256d inverse,
                                                         __m256d c, __m256d used) {
  const __m256d q = _mm256_mul_pd(u, inverse);
  __m256d risky = _mm256_cmp_pd(Abs4(q), _mm256_set1_pd(double(1 << 20)), _CMP_NLT_UQ);
  risky = _mm256_or_pd(risky, NearWhole4(_mm256_add_pd(q, c)));
  if (kOpposite) risky = _mm256_or_pd(risky, NearWhole4(_mm256_sub_pd(c, q)));
  if (_mm256_movemask_pd(_mm256_and_pd(risky, used)) != 0) return _mm256_div_pd(u, s);
  return q;
}

// HoldInside on four lanes: max puts NaN and everything below 0 at 0 (it answers its second
// operand when either is NaN), min holds the top, truncation does the rest.
__attribute__((target("avx2"))) inline __m128i HoldInside4(__m256d v, __m256d top) {
  return _mm256_cvttpd_epi32(_mm256_min_pd(_mm256_max_pd(v, _mm256_setzero_pd()), top));
}

// The low halves of four 64-bit lanes: a 64-bit lane mask as a 32-bit one.
__attribute__((target("avx2"))) inline __m128i Narrow4(__m256d m) {
  const __m256i lows = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
  return _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(_mm256_castpd_si256(m), lows));
}

__attribute__((target("avx2"))) inline __m128i Reverse4(__m128i v) {
  return _mm_shuffle_epi32(v, _MM_SHUFFLE(0, 1, 2, 3));
}

// Row y from column x on, four pixels at a time, and with kOpposite row h - y at the opposite
// columns (x from 1, so that they stay inside). Returns where the lanes stopped. Needs the turn
// table and a turning angle. The root is the correctly rounded square root truncated: one too
// high where the rounding reached the next whole number, which its square shows.
template <bool kOpposite>
__attribute__((target("avx2"))) int32_t SwirlRowAvx2(const SwirlShape& g, int32_t y, int32_t x,
                                                     int32_t* sxs, int32_t* sys, int32_t* oxs,
                                                     int32_t* oys) {
  const double dy = (y - g.cy) * g.scaleY;
  const __m256d vdy = _mm256_set1_pd(dy), dy2 = _mm256_set1_pd(dy * dy);
  const __m256d cx = _mm256_set1_pd(g.cx), cy = _mm256_set1_pd(g.cy);
  const __m256d scaleX = _mm256_set1_pd(g.scaleX), scaleY = _mm256_set1_pd(g.scaleY);
  const __m256d inverseX = _mm256_set1_pd(1.0 / g.scaleX);
  const __m256d inverseY = _mm256_set1_pd(1.0 / g.scaleY);
  const __m256d radius2 = _mm256_set1_pd(g.radius2), one = _mm256_set1_pd(1.0);
  const __m256d zero = _mm256_setzero_pd();
  const __m256d topX = _mm256_set1_pd(double(g.w - 1)), topY = _mm256_set1_pd(double(g.h - 1));
  const __m256d steps = _mm256_setr_pd(0, 1, 2, 3);
  const __m128i stepsI = _mm_setr_epi32(0, 1, 2, 3), rowI = _mm_set1_epi32(y);
  const __m128i width = _mm_set1_epi32(g.w), oppositeRow = _mm_set1_epi32(g.h - y);
  const bool divideX = g.scaleX != 1.0, divideY = g.scaleY != 1.0;
  for (; x + 4 <= g.w; x += 4) {
    const __m128i xi = _mm_add_epi32(_mm_set1_epi32(x), stepsI);
    const __m256d dx = _mm256_mul_pd(_mm256_sub_pd(_mm256_add_pd(_mm256_set1_pd(x), steps), cx),
                                     scaleX);
    const __m256d dist2 = _mm256_add_pd(_mm256_mul_pd(dx, dx), dy2);
    const __m256d inside = _mm256_cmp_pd(dist2, radius2, _CMP_LT_OQ);
    __m128i sx = xi, sy = rowI, ox = _mm_sub_epi32(width, xi), oy = oppositeRow;
    if (_mm256_movemask_pd(inside) != 0) {
      const __m256d n = _mm256_round_pd(dist2, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
      __m256d d = _mm256_round_pd(_mm256_sqrt_pd(n), _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
      d = _mm256_sub_pd(d, _mm256_and_pd(_mm256_cmp_pd(_mm256_mul_pd(d, d), n, _CMP_GT_OQ), one));
      // Lanes outside read the first entry, which they do not use. Four pair loads and a
      // transposition cost less than two gathers.
      alignas(16) int32_t at[4];
      _mm_store_si128(reinterpret_cast<__m128i*>(at),
                      _mm256_cvttpd_epi32(_mm256_and_pd(d, inside)));
      const __m256d p02 = _mm256_insertf128_pd(
          _mm256_castpd128_pd256(_mm_loadu_pd(g.turns + 2 * ptrdiff_t(at[0]))),
          _mm_loadu_pd(g.turns + 2 * ptrdiff_t(at[2])), 1);
      const __m256d p13 = _mm256_insertf128_pd(
          _mm256_castpd128_pd256(_mm_loadu_pd(g.turns + 2 * ptrdiff_t(at[1]))),
          _mm_loadu_pd(g.turns + 2 * ptrdiff_t(at[3])), 1);
      const __m256d sn = _mm256_unpacklo_pd(p02, p13);
      const __m256d cs = _mm256_unpackhi_pd(p02, p13);
      const __m256d move = _mm256_and_pd(inside, _mm256_or_pd(_mm256_cmp_pd(sn, zero, _CMP_NEQ_UQ),
                                                              _mm256_cmp_pd(cs, one, _CMP_NEQ_UQ)));
      if (_mm256_movemask_pd(move) != 0) {
        __m256d u = _mm256_sub_pd(_mm256_mul_pd(cs, dx), _mm256_mul_pd(sn, vdy));
        __m256d v = _mm256_add_pd(_mm256_mul_pd(sn, dx), _mm256_mul_pd(cs, vdy));
        if (divideX) u = Quotient4<kOpposite>(u, scaleX, inverseX, cx, move);
        if (divideY) v = Quotient4<kOpposite>(v, scaleY, inverseY, cy, move);
        const __m128i moved = Narrow4(move);
        sx = _mm_blendv_epi8(sx, HoldInside4(_mm256_add_pd(u, cx), topX), moved);
        sy = _mm_blendv_epi8(sy, HoldInside4(_mm256_add_pd(v, cy), topY), moved);
        if (kOpposite) {
          ox = _mm_blendv_epi8(ox, HoldInside4(_mm256_sub_pd(cx, u), topX), moved);
          oy = _mm_blendv_epi8(oy, HoldInside4(_mm256_sub_pd(cy, v), topY), moved);
        }
      }
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sxs + x), sx);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sys + x), sy);
    if (kOpposite) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(oxs + g.w - x - 3), Reverse4(ox));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(oys + g.w - x - 3), Reverse4(oy));
    }
  }
  return x;
}
#endif

// Whether the vector rows can take the swirl.
bool SwirlLanes(const SwirlShape& g, SimdLevel path) {
#if defined(__x86_64__) || defined(__i386__)
  return path == SimdLevel::kAvx2 && g.turns && g.angle != 0;
#else
  (void)g, (void)path;
  return false;
#endif
}

void SwirlRow(const SwirlShape& g, int32_t y, int32_t* sxs, int32_t* sys, bool lanes) {
  int32_t x = 0;
#if defined(__x86_64__) || defined(__i386__)
  if (lanes) x = SwirlRowAvx2<false>(g, y, 0, sxs, sys, nullptr, nullptr);
#else
  (void)lanes;
#endif
  SwirlRowScalar(g, y, x, g.w, sxs, sys);
}

// Rows y and h - y (0 < y < h - y) together: see SwirlRowAvx2.
void SwirlRowPair(const SwirlShape& g, int32_t y, int32_t* sxs, int32_t* sys, int32_t* oxs,
                  int32_t* oys) {
  int32_t x = 1;
#if defined(__x86_64__) || defined(__i386__)
  x = SwirlRowAvx2<true>(g, y, 1, sxs, sys, oxs, oys);
#endif
  SwirlRowScalar(g, y, 0, 1, sxs, sys);
  SwirlRowScalar(g, y, x, g.w, sxs, sys);
  // Row h - y's lanes filled columns w - x + 1 .. w - 1.
  SwirlRowScalar(g, g.h - y, 0, g.w - x + 1, oxs, oys);
}

}  // namespace

int SwirlKernel(SwirlRecord& r, int32_t angle) {
  const int32_t w = r.width, h = r.height;
  if (w < 1 || h < 1 || !r.sine || !r.cosine) return 0;
  // The level rises with the whole transition (0 .. 720); the swirl itself folds back after 359.
  const int32_t level = int32_t(std::clamp<int64_t>(int64_t(angle) * 255 / 720, 0, 255));
  if (angle > 359) angle = int32_t(std::max<int64_t>(720 - int64_t(angle), -359));
  const bool blend = r.second || r.transitionAlpha;
  EffectSources s;
  // A blend writes pixels (and the transition's alpha) only: no mask or alpha source is needed.
  if (int code = s.Take(r.src, r.srcPixelsPerRow, r.dst, r.dstPixelsPerRow,
                        blend ? nullptr : r.srcMask, r.srcMaskBytesPerRow,
                        blend ? nullptr : r.dstMask, r.dstMaskBytesPerRow,
                        blend ? nullptr : r.srcAlpha, r.srcAlphaBytesPerRow,
                        blend ? nullptr : r.dstAlpha, r.dstAlphaBytesPerRow, w, h);
      code != 0)
    return code;
  const SimdLevel path = ReadsWhatItWrites(r, s) ? SimdLevel::kScalar : CurrentSimdLevel();
  const EffectOutput out{s,
                         r.dst,
                         r.dstPixelsPerRow,
                         r.second,
                         r.secondPixelsPerRow,
                         r.transitionAlpha,
                         r.transitionAlphaBytesPerRow,
                         r.dstMask,
                         r.dstMaskBytesPerRow,
                         r.dstAlpha,
                         r.dstAlphaBytesPerRow,
                         blend,
                         r.invertLevel,
                         level,
                         path,
                         w,
                         h};
  SwirlShape g{};
  g.r = &r;
  g.w = w, g.h = h, g.angle = angle;
  g.cx = w / 2.0, g.cy = h / 2.0;
  g.radius = std::max(g.cx, g.cy);
  // The swirl fills the ellipse inscribed in the picture: the shorter axis is stretched.
  g.scaleX = 1.0, g.scaleY = 1.0;
  if (h < w)
    g.scaleY = double(w) / h;
  else
    g.scaleX = double(h) / w;
  g.radius2 = g.radius * g.radius;
  // One sine and cosine per distance, made once (or per pixel when the table cannot be had).
  const int64_t distances = int64_t(g.radius) + 1;
  auto* turns = distances <= (int64_t(1) << 20)
                    ? static_cast<double*>(image::Allocate(size_t(distances) * 16, false))
                    : nullptr;
  if (turns && angle != 0)
    for (int64_t d = 0; d < distances; ++d) g.Turn(d, &turns[2 * d], &turns[2 * d + 1]);
  g.turns = turns;
  RowPositions at(w), opposite(w);
  if (!at.sx || !opposite.sx) {
    std::free(turns);
    return ERR_MEM;
  }
  const bool lanes = SwirlLanes(g, path);
  int32_t y = 0;
  if (lanes) {
    // Rows 0, then 1 and h - 1, 2 and h - 2, ..., and the middle one of an even height alone.
    SwirlRow(g, 0, at.sx, at.sy, lanes);
    out.PutRow(0, 0, w, at.sx, at.sy);
    for (y = 1; y < h - y; ++y) {
      SwirlRowPair(g, y, at.sx, at.sy, opposite.sx, opposite.sy);
      out.PutRow(y, 0, w, at.sx, at.sy);
      out.PutRow(h - y, 0, w, opposite.sx, opposite.sy);
    }
    if (y == h - y) {
      SwirlRow(g, y, at.sx, at.sy, lanes);
      out.PutRow(y, 0, w, at.sx, at.sy);
    }
  } else {
    for (; y < h; ++y) {
      SwirlRow(g, y, at.sx, at.sy, lanes);
      out.PutRow(y, 0, w, at.sx, at.sy);
    }
  }
  std::free(turns);
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Water ripple.

void InitRippleTables(RippleRecord& r, double centreX, double centreY) {
  if (r.sine)
    for (int32_t k = 0; k < kEffectTableSize; ++k) r.sine[k] = std::sin(k * kTableStep);
  auto fraction = [](double f) { return f >= 0 ? std::min(f, 1.0) : 0.0; };  // NaN gives 0
  const int32_t w = std::max(r.width, 0), h = std::max(r.height, 0);
  r.centreX = int32_t(w * fraction(centreX));
  r.centreY = int32_t(h * fraction(centreY));
  r.radius = std::max(r.centreX, r.centreY);
  r.cursor = r.distance;
  if (!r.distance) return;
  int32_t* d = r.distance;
  for (int32_t y = 0; y < h; ++y) {
    const int64_t ey = int64_t(y) - r.centreY;
    for (int32_t x = 0; x < w; ++x) {
      const int64_t ex = int64_t(x) - r.centreX;
      *d++ = IntSqrt(ex * ex + ey * ey);
    }
  }
}

namespace {

// The displacement factor of a pixel at distance d: what multiplies its offset from the centre.
double RippleFactor(const RippleRecord& r, double phase, int32_t d) {
  double angle = std::fmod(d / r.wavelength * kTwoPi - phase, kTwoPi);
  if (angle < 0) angle += kTwoPi;
  double k = (double(r.radius) - d) / r.radius * r.sine[TableIndex(angle)] * r.amplitude;
  if (d != 0) k *= r.wavelength / d;
  return k;
}

#if defined(__x86_64__) || defined(__i386__)
// The scalar row's operations in its order on four lanes, from the row's distances on at the
// cursor; stops before four distances of which one lies outside the factor table.
__attribute__((target("avx2"))) int32_t RippleRowAvx2(const RippleRecord& r, const double* factors,
                                                      int64_t distances, int32_t y, int32_t* sxs,
                                                      int32_t* sys) {
  const int32_t* row = r.cursor;
  const __m128i stepsI = _mm_setr_epi32(0, 1, 2, 3), centreX = _mm_set1_epi32(r.centreX);
  const __m128i below = _mm_set1_epi32(int32_t(distances)), minus = _mm_set1_epi32(-1);
  const __m256d ey = _mm256_set1_pd(double(y - r.centreY)), row0 = _mm256_set1_pd(double(y));
  const __m256d topX = _mm256_set1_pd(double(r.width - 1));
  const __m256d topY = _mm256_set1_pd(double(r.height - 1));
  const __m256d all = _mm256_castsi256_pd(_mm256_set1_epi32(-1));
  int32_t x = 0;
  for (; x + 4 <= r.width; x += 4) {
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
    const __m128i inTable = _mm_and_si128(_mm_cmpgt_epi32(d, minus), _mm_cmpgt_epi32(below, d));
    if (_mm_movemask_epi8(inTable) != 0xFFFF) break;
    const __m256d k = _mm256_mask_i32gather_pd(_mm256_setzero_pd(), factors, d, all, 8);
    const __m128i xi = _mm_add_epi32(_mm_set1_epi32(x), stepsI);
    const __m256d ex = _mm256_cvtepi32_pd(_mm_sub_epi32(xi, centreX));
    const __m256d sx = _mm256_add_pd(_mm256_mul_pd(ex, k), _mm256_cvtepi32_pd(xi));
    const __m256d sy = _mm256_add_pd(_mm256_mul_pd(ey, k), row0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sxs + x), HoldInside4(sx, topX));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sys + x), HoldInside4(sy, topY));
  }
  return x;
}
#endif

}  // namespace

void RippleDisplace(RippleRecord& r, double phase, int32_t x, int32_t y) {
  const int32_t d = *r.cursor++;
  r.resultX = x, r.resultY = y;
  if (r.radius <= 0) return;  // a centre in the corner has no ripple
  const double k = RippleFactor(r, phase, d);
  r.resultX = HoldInside((x - r.centreX) * k + x, r.width);
  r.resultY = HoldInside((y - r.centreY) * k + y, r.height);
}

int RippleKernel(RippleRecord& r, int32_t step) {
  const int32_t w = r.width, h = r.height;
  if (w < 1 || h < 1 || !r.distance || !r.sine) return 0;
  if (!(r.wavelength >= 1)) r.wavelength = 1;
  double phase = r.phase;
  int32_t level = 0;
  const bool still = step == -1;
  if (!still) {
    const int64_t n = std::max(r.steps, 1), s = step;
    r.amplitude = double(std::min(s, 2 * n - s)) * r.amplitudePerStep;
    phase = double(s);
    level = int32_t(std::clamp<int64_t>(s * 255 / (2 * n), 0, 255));
  }
  const bool blend = !still && (r.second || r.transitionAlpha);
  EffectSources s;
  if (int code = s.Take(r.src, r.srcPixelsPerRow, r.dst, r.dstPixelsPerRow, r.srcMask,
                        r.srcMaskBytesPerRow, r.dstMask, r.dstMaskBytesPerRow, r.srcAlpha,
                        r.srcAlphaBytesPerRow, r.dstAlpha, r.dstAlphaBytesPerRow, w, h);
      code != 0)
    return code;
  const EffectOutput out{s,
                         r.dst,
                         r.dstPixelsPerRow,
                         r.second,
                         r.secondPixelsPerRow,
                         r.transitionAlpha,
                         r.transitionAlphaBytesPerRow,
                         r.dstMask,
                         r.dstMaskBytesPerRow,
                         r.dstAlpha,
                         r.dstAlphaBytesPerRow,
                         blend,
                         r.invertLevel,
                         level,
                         ReadsWhatItWrites(r, s) ? SimdLevel::kScalar : CurrentSimdLevel(),
                         w,
                         h};
  r.cursor = r.distance;
  // The factor depends on the distance alone: one per distance up to the farthest corner, made
  // once (without the table every pixel computes its own).
  const int64_t farX = std::max<int64_t>(r.centreX, int64_t(w) - 1 - r.centreX);
  const int64_t farY = std::max<int64_t>(r.centreY, int64_t(h) - 1 - r.centreY);
  const int64_t distances = int64_t(IntSqrt(farX * farX + farY * farY)) + 1;
  auto* factors = r.radius > 0 && distances <= (int64_t(1) << 20)
                      ? static_cast<double*>(image::Allocate(size_t(distances) * 8, false))
                      : nullptr;
  RowPositions at(w);
  if (!at.sx) {
    std::free(factors);
    return ERR_MEM;
  }
  if (factors)
    for (int64_t d = 0; d < distances; ++d) factors[d] = RippleFactor(r, phase, int32_t(d));
  const bool lanes = factors && out.path == SimdLevel::kAvx2;
  for (int32_t y = 0; y < h; ++y) {
    int32_t x = 0;
#if defined(__x86_64__) || defined(__i386__)
    if (lanes) {
      x = RippleRowAvx2(r, factors, distances, y, at.sx, at.sy);
      r.cursor += x;
    }
#else
    (void)lanes;
#endif
    for (; x < w; ++x) {
      if (!factors) {
        RippleDisplace(r, phase, x, y);
        at.sx[x] = r.resultX, at.sy[x] = r.resultY;
        continue;
      }
      const int32_t d = *r.cursor++;
      // A table filled by someone else may hold any distance.
      const double k = d >= 0 && d < distances ? factors[d] : RippleFactor(r, phase, d);
      at.sx[x] = HoldInside((x - r.centreX) * k + x, w);
      at.sy[x] = HoldInside((y - r.centreY) * k + y, h);
    }
    out.PutRow(y, 0, w, at.sx, at.sy);
  }
  std::free(factors);
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Pixelate.

void PixelateKernel(const PixelateRecord& r) {
  const int32_t w = r.width, h = r.height, b = r.blockSize;
  if (w < 1 || h < 1 || b < 1) return;
  const bool pixels = r.src && r.dst;
  for (int32_t by = 0; by < h; by += std::min(b, h - by)) {
    const int32_t bh = std::min(b, h - by);
    for (int32_t bx = 0; bx < w; bx += std::min(b, w - bx)) {
      const int32_t bw = std::min(b, w - bx);
      bool fill = true;
      if (r.srcMask) {
        fill = MaskBit(r.srcMask + int64_t(by) * r.srcMaskBytesPerRow, bx);
        if (r.dstMask)
          for (int32_t y = by; y < by + bh; ++y) {
            uint8_t* row = r.dstMask + int64_t(y) * r.dstMaskBytesPerRow;
            for (int32_t x = bx; x < bx + bw; ++x) PutMaskBit(row, x, fill);
          }
      } else if (r.srcAlpha) {
        const uint8_t a = r.srcAlpha[int64_t(by) * r.srcAlphaBytesPerRow + bx];
        fill = a != 0;
        if (r.dstAlpha)
          for (int32_t y = by; y < by + bh; ++y)
            std::memset(r.dstAlpha + int64_t(y) * r.dstAlphaBytesPerRow + bx, a, size_t(bw));
      }
      if (!fill || !pixels) continue;
      const uint32_t p = r.src[int64_t(by) * r.srcPixelsPerRow + bx];
      for (int32_t y = by; y < by + bh; ++y)
        std::fill_n(r.dst + int64_t(y) * r.dstPixelsPerRow + bx, bw, p);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Dissolve mask.

namespace {

// Bit-reversed bytes: SSE2 collects compare results least significant bit first, masks hold the
// leftmost pixel in the top bit.
struct ReverseTable {
  uint8_t v[256];
  constexpr ReverseTable() : v() {
    for (int i = 0; i < 256; ++i) {
      int r = 0;
      for (int b = 0; b < 8; ++b)
        if (i & (1 << b)) r |= 0x80 >> b;
      v[i] = uint8_t(r);
    }
  }
};
constexpr ReverseTable kReverse;

// The plain rows: the reference of the vector ones, and their tails.
void DissolveMaskRowScalar(const uint8_t* noise, const uint8_t* src, uint8_t* dst, int32_t x,
                           int32_t width, int32_t level, bool invert) {
  const uint8_t flip = invert ? 0xFF : 0x00;
  for (; x + 8 <= width; x += 8) {
    uint8_t bits = 0;
    for (int32_t k = 0; k < 8; ++k) bits |= uint8_t((noise[x + k] < level) << (7 - k));
    bits ^= flip;
    if (src) bits &= src[x >> 3];
    dst[x >> 3] = bits;
  }
  for (; x < width; ++x) {
    const bool shown = (noise[x] < level) != invert;
    PutMaskBit(dst, x, shown && (!src || MaskBit(src, x)));
  }
}

void DissolveByteRowScalar(const uint8_t* noise, const uint8_t* src, uint8_t* dst, int32_t x,
                           int32_t width, int32_t level, bool invert) {
  for (; x < width; ++x) {
    const bool shown = (noise[x] < level) != invert;
    dst[x] = shown ? (src ? src[x] : 0xFF) : 0;
  }
}

#if defined(__x86_64__) || defined(__i386__)
// Sixteen pixels: noise <= level - 1 (level 1 .. 256 as level - 1 .. 255), unsigned.
__attribute__((target("sse2"))) inline __m128i Below16(const uint8_t* noise, __m128i top) {
  const __m128i n = _mm_loadu_si128(reinterpret_cast<const __m128i*>(noise));
  return _mm_cmpeq_epi8(_mm_max_epu8(n, top), top);
}

__attribute__((target("sse2"))) int32_t DissolveMaskRowSse2(const uint8_t* noise,
                                                            const uint8_t* src, uint8_t* dst,
                                                            int32_t width, int32_t level,
                                                            bool invert) {
  int32_t x = 0;
  if (level < 1) return x;
  const __m128i top = _mm_set1_epi8(char(level - 1));
  const uint8_t flip = invert ? 0xFF : 0x00;
  for (; x + 16 <= width; x += 16) {
    const int bits = _mm_movemask_epi8(Below16(noise + x, top));
    uint8_t b0 = kReverse.v[bits & 0xFF] ^ flip, b1 = kReverse.v[(bits >> 8) & 0xFF] ^ flip;
    if (src) b0 &= src[x >> 3], b1 &= src[(x >> 3) + 1];
    dst[x >> 3] = b0;
    dst[(x >> 3) + 1] = b1;
  }
  return x;
}

__attribute__((target("sse2"))) int32_t DissolveByteRowSse2(const uint8_t* noise,
                                                            const uint8_t* src, uint8_t* dst,
                                                            int32_t width, int32_t level,
                                                            bool invert) {
  int32_t x = 0;
  if (level < 1) return x;
  const __m128i top = _mm_set1_epi8(char(level - 1));
  const __m128i flip = _mm_set1_epi8(invert ? char(0xFF) : 0);
  const __m128i full = _mm_set1_epi8(char(0xFF));
  for (; x + 16 <= width; x += 16) {
    const __m128i shown = _mm_xor_si128(Below16(noise + x, top), flip);
    const __m128i s = src ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x)) : full;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x), _mm_and_si128(shown, s));
  }
  return x;
}

__attribute__((target("avx2"))) inline __m256i Below32(const uint8_t* noise, __m256i top) {
  const __m256i n = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(noise));
  return _mm256_cmpeq_epi8(_mm256_max_epu8(n, top), top);
}

__attribute__((target("avx2"))) int32_t DissolveMaskRowAvx2(const uint8_t* noise,
                                                            const uint8_t* src, uint8_t* dst,
                                                            int32_t width, int32_t level,
                                                            bool invert) {
  int32_t x = 0;
  if (level < 1) return x;
  const __m256i top = _mm256_set1_epi8(char(level - 1));
  // Each group of eight pixels reversed, so that the compare's sign bits come out with the
  // leftmost pixel in each byte's top bit, as masks hold it.
  const __m256i reverse = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8, 7,
                                           6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
  const uint32_t flip = invert ? 0xFFFFFFFFu : 0;
  for (; x + 32 <= width; x += 32) {
    const __m256i below = _mm256_shuffle_epi8(Below32(noise + x, top), reverse);
    uint32_t bits = uint32_t(_mm256_movemask_epi8(below)) ^ flip;
    if (src) {
      uint32_t s;
      std::memcpy(&s, src + (x >> 3), 4);
      bits &= s;
    }
    std::memcpy(dst + (x >> 3), &bits, 4);
  }
  return x;
}

__attribute__((target("avx2"))) int32_t DissolveByteRowAvx2(const uint8_t* noise,
                                                            const uint8_t* src, uint8_t* dst,
                                                            int32_t width, int32_t level,
                                                            bool invert) {
  int32_t x = 0;
  if (level < 1) return x;
  const __m256i top = _mm256_set1_epi8(char(level - 1));
  const __m256i flip = _mm256_set1_epi8(invert ? char(0xFF) : 0);
  for (; x + 32 <= width; x += 32) {
    __m256i shown = _mm256_xor_si256(Below32(noise + x, top), flip);
    if (src)
      shown = _mm256_and_si256(shown,
                               _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + x)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + x), shown);
  }
  return x;
}
#endif

void DissolveMaskRow(const uint8_t* noise, const uint8_t* src, uint8_t* dst, int32_t width,
                     int32_t level, bool invert, SimdLevel path) {
  int32_t x = 0;
#if defined(__x86_64__) || defined(__i386__)
  if (path == SimdLevel::kAvx2)
    x = DissolveMaskRowAvx2(noise, src, dst, width, level, invert);
  else if (path == SimdLevel::kSse2)
    x = DissolveMaskRowSse2(noise, src, dst, width, level, invert);
#endif
  DissolveMaskRowScalar(noise, src, dst, x, width, level, invert);
}

void DissolveByteRow(const uint8_t* noise, const uint8_t* src, uint8_t* dst, int32_t width,
                     int32_t level, bool invert, SimdLevel path) {
  int32_t x = 0;
#if defined(__x86_64__) || defined(__i386__)
  if (path == SimdLevel::kAvx2)
    x = DissolveByteRowAvx2(noise, src, dst, width, level, invert);
  else if (path == SimdLevel::kSse2)
    x = DissolveByteRowSse2(noise, src, dst, width, level, invert);
#endif
  DissolveByteRowScalar(noise, src, dst, x, width, level, invert);
}

}  // namespace

void DissolveMaskKernel(const DissolveRecord& r, int32_t level) {
  if (r.width < 1 || r.height < 1 || !r.dst || !r.noise) return;
  level = std::clamp(level, 0, 256);
  const SimdLevel path = CurrentSimdLevel();
  for (int32_t y = 0; y < r.height; ++y) {
    const uint8_t* noise = r.noise + int64_t(y) * r.width;
    const uint8_t* src = r.src ? r.src + int64_t(y) * r.srcBytesPerRow : nullptr;
    uint8_t* dst = r.dst + int64_t(y) * r.dstBytesPerRow;
    if (r.bytePlane)
      DissolveByteRow(noise, src, dst, r.width, level, r.invert, path);
    else
      DissolveMaskRow(noise, src, dst, r.width, level, r.invert, path);
  }
}

// ---------------------------------------------------------------------------------------------
// Line rolling.

void RollLineKernel(RollRecord& r, int32_t srcLeft, int32_t srcTop, int32_t width, int32_t height,
                    int32_t dstLeft, int32_t dstTop) {
  if (width < 1 || height < 1 || !r.src || !r.dst) return;
  for (int32_t j = 0; j < height; ++j) {
    const int64_t sy = int64_t(srcTop) + j, dy = int64_t(dstTop) + j;
    const uint32_t* s = r.src + sy * r.srcPixelsPerRow + srcLeft;
    uint32_t* d = r.dst + dy * r.dstPixelsPerRow + dstLeft;
    if (r.srcMask) {
      const uint8_t* sm = r.srcMask + sy * r.srcMaskBytesPerRow;
      uint8_t* dm = r.dstMask ? r.dstMask + dy * r.dstMaskBytesPerRow : nullptr;
      for (int32_t i = 0; i < width; ++i) {
        const bool on = MaskBit(sm, int64_t(srcLeft) + i);
        if (dm) PutMaskBit(dm, int64_t(dstLeft) + i, on);
        if (on) d[i] = s[i];
      }
    } else if (r.srcAlpha) {
      const uint8_t* sa = r.srcAlpha + sy * r.srcAlphaBytesPerRow + srcLeft;
      uint8_t* da = r.dstAlpha ? r.dstAlpha + dy * r.dstAlphaBytesPerRow + dstLeft : nullptr;
      for (int32_t i = 0; i < width; ++i) {
        if (sa[i]) d[i] = s[i];
        if (da) da[i] = sa[i];
      }
    } else {
      std::memcpy(d, s, size_t(width) * 4);
    }
  }
}

void RollRowsKernel(RollRecord& r) {
  r.drawn = false;
  r.firstLine = -100000;
  r.lineCount = 0;
  if (r.bytesPerPixel != 4 || !r.src || !r.dst || !r.table || r.width < 1 || r.height < 1) return;
  const int64_t lines = r.columns ? r.width : r.height;
  for (int32_t i = 0; i < r.diameter; ++i) {
    const int64_t dl = int64_t(r.position) + i;
    if (dl < 0 || dl >= lines) continue;
    const double v = r.table[i] / r.divisor;
    if (!(v > -4e9 && v < 4e9)) continue;  // NaN, the infinities and lines far outside
    const int64_t sl = int64_t(v) + r.offset;
    if (sl < 0 || sl >= lines) continue;
    if (r.columns)
      RollLineKernel(r, int32_t(sl), 0, 1, r.height, int32_t(dl), 0);
    else
      RollLineKernel(r, 0, int32_t(sl), r.width, 1, 0, int32_t(dl));
    if (!r.drawn) r.drawn = true, r.firstLine = int32_t(dl);
    ++r.lineCount;
  }
}

// ---------------------------------------------------------------------------------------------
// Brush wrappers.

namespace {

// The top-left rectangle that every given plane holds; false when it is empty.
bool CommonSize(const qvBitMap* bitmap, const qvPlane* mask, const qvPlane* alpha, int32_t* width,
                int32_t* height) {
  int32_t w = *width, h = *height;
  if (bitmap) w = std::min(w, bitmap->width), h = std::min(h, bitmap->height);
  for (const qvPlane* p : {mask, alpha})
    if (p && (p->width > 0 || p->height > 0)) w = std::min(w, p->width), h = std::min(h, p->height);
  *width = w, *height = h;
  return w > 0 && h > 0;
}

struct Doubles {
  double* p = nullptr;
  explicit Doubles(int32_t n) : p(static_cast<double*>(image::Allocate(size_t(n) * 8, false))) {}
  ~Doubles() { std::free(p); }
  Doubles(const Doubles&) = delete;
  Doubles& operator=(const Doubles&) = delete;
};

}  // namespace

int SwirlBitMap(qvBitMap* bitmap, qvPlane* mask, qvPlane* alpha, int32_t width, int32_t height,
                int32_t angle) {
  if (mask && !mask->data) mask = nullptr;
  if (alpha && !alpha->data) alpha = nullptr;
  angle = std::clamp(angle, -359, 359);
  if (!CommonSize(bitmap, mask, alpha, &width, &height)) return 0;
  Doubles sine(kEffectTableSize), cosine(kEffectTableSize);
  if (!sine.p || !cosine.p) return ERR_MEM;
  qvBitMapLock lock{};
  if (bitmap && !LockBitMap(bitmap, &lock)) return ERR_LOCKBMAP;
  SwirlRecord r{};
  if (bitmap && lock.bytesPerPixel == 4) {
    r.dst = reinterpret_cast<uint32_t*>(lock.pixels);
    r.dstPixelsPerRow = lock.pixelsPerRow;
    r.format = lock.format;
  }
  r.sine = sine.p, r.cosine = cosine.p;
  r.width = width, r.height = height;
  if (mask) r.dstMask = mask->data, r.dstMaskBytesPerRow = mask->bytesPerRow;
  if (alpha) r.dstAlpha = alpha->data, r.dstAlphaBytesPerRow = alpha->bytesPerRow;
  InitSwirlTables(r);
  int code = SwirlKernel(r, angle);
  if (bitmap) UnLockBitMap(&lock);
  return code;
}

int PixelateBitMap(qvBitMap* bitmap, qvPlane* mask, qvPlane* alpha, int32_t width, int32_t height,
                   int32_t blockSize) {
  if (blockSize < 2) return 0;
  if (mask && !mask->data) mask = nullptr;
  if (alpha && !alpha->data) alpha = nullptr;
  if (!CommonSize(bitmap, mask, alpha, &width, &height)) return 0;
  qvBitMap* copy = nullptr;
  qvPlane* copyMask = nullptr;
  qvPlane* copyAlpha = nullptr;
  if (int code = CopyBitMapRegion(bitmap, mask, alpha, 0, 0, width, height, false, &copy, &copyMask,
                                  &copyAlpha);
      code != 0)
    return code;
  int code = 0;
  qvBitMapLock from{}, to{};
  if (bitmap && (!LockBitMap(copy, &from) || !LockBitMap(bitmap, &to))) {
    code = ERR_LOCKBMAP;
  } else {
    PixelateRecord r{};
    if (bitmap && to.bytesPerPixel == 4 && from.bytesPerPixel == 4) {
      r.src = reinterpret_cast<const uint32_t*>(from.pixels);
      r.dst = reinterpret_cast<uint32_t*>(to.pixels);
      r.srcPixelsPerRow = from.pixelsPerRow, r.dstPixelsPerRow = to.pixelsPerRow;
    }
    if (mask) {
      r.srcMask = copyMask->data, r.srcMaskBytesPerRow = copyMask->bytesPerRow;
      r.dstMask = mask->data, r.dstMaskBytesPerRow = mask->bytesPerRow;
    }
    if (alpha) {
      r.srcAlpha = copyAlpha->data, r.srcAlphaBytesPerRow = copyAlpha->bytesPerRow;
      r.dstAlpha = alpha->data, r.dstAlphaBytesPerRow = alpha->bytesPerRow;
    }
    r.width = width, r.height = height;
    r.blockSize = std::min({width, height, blockSize});
    PixelateKernel(r);
  }
  if (bitmap) UnLockBitMap(&from), UnLockBitMap(&to);
  FreeBitMap(copy);
  FreeMaskOrAlpha(copyMask);
  FreeMaskOrAlpha(copyAlpha);
  return code;
}

int WaterRippleBitMap(qvBitMap* bitmap, qvPlane* mask, qvPlane* alpha, int32_t width,
                      int32_t height, double wavelength, double amplitude, double phase,
                      double centreX, double centreY) {
  if (mask && !mask->data) mask = nullptr;
  if (alpha && !alpha->data) alpha = nullptr;
  if (!CommonSize(bitmap, mask, alpha, &width, &height)) return 0;
  const int64_t distanceBytes = int64_t(width) * height * 4;
  if (distanceBytes > (int64_t(1) << 31)) return ERR_MEM;
  auto* distance = static_cast<int32_t*>(image::Allocate(size_t(distanceBytes), false));
  Doubles sine(kEffectTableSize);
  if (!distance || !sine.p) {
    std::free(distance);
    return ERR_MEM;
  }
  qvBitMapLock lock{};
  if (bitmap && !LockBitMap(bitmap, &lock)) {
    std::free(distance);
    return ERR_LOCKBMAP;
  }
  RippleRecord r{};
  if (bitmap && lock.bytesPerPixel == 4) {
    r.dst = reinterpret_cast<uint32_t*>(lock.pixels);
    r.dstPixelsPerRow = lock.pixelsPerRow;
    r.format = lock.format;
  }
  r.distance = distance, r.sine = sine.p;
  r.wavelength = wavelength >= 1 ? wavelength : 1.0;  // NaN gives 1
  r.amplitude = amplitude;
  r.phase = phase;
  r.width = width, r.height = height;
  if (mask) r.dstMask = mask->data, r.dstMaskBytesPerRow = mask->bytesPerRow;
  if (alpha) r.dstAlpha = alpha->data, r.dstAlphaBytesPerRow = alpha->bytesPerRow;
  InitRippleTables(r, centreX, centreY);
  int code = RippleKernel(r, -1);
  if (bitmap) UnLockBitMap(&lock);
  std::free(distance);
  return code;
}

}  // namespace qv
