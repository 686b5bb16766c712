// The scalar references of the alpha and mask rows of the scaler and the rotator, and the switch
// to their AVX2 paths.
#include "image/plane_rows.h"

#include <algorithm>
#include <cmath>

#include "base/support.h"
#include "image/image.h"
#include "image/internal.h"

namespace qv::image {

namespace {

inline int Lerp16(int a, int b, int f) { return a + (((b - a) * f) >> 16); }

bool UseAvx2() { return CurrentSimdLevel() == SimdLevel::kAvx2 && PlaneRowsAvx2Available(); }

}  // namespace

void SmoothAlphaRowScalar(uint8_t* d, const uint8_t* a0, const uint8_t* a1, const SmoothColumns& c,
                          int32_t n, int32_t fy, int32_t) {
  for (int32_t i = 0; i < n; ++i) {
    int fx = int(c.frac[i]);
    int top = Lerp16(a0[c.col[i]], a0[c.col1[i]], fx);
    int bottom = Lerp16(a1[c.col[i]], a1[c.col1[i]], fx);
    d[i] = uint8_t(Lerp16(top, bottom, fy));
  }
}

void NearestAlphaRowScalar(uint8_t* d, const uint8_t* s, int64_t step, int32_t n, int32_t width,
                           int32_t) {
  int64_t u = 0;
  for (int32_t i = 0; i < n; ++i, u += step) d[i] = s[std::min<int64_t>(u >> 16, width - 1)];
}

void MaskRowScalar(uint8_t* d, const uint8_t* s, const int32_t* col, int64_t step, int32_t n,
                   int32_t width, int32_t left, int32_t) {
  int64_t u = 0;
  for (int32_t i = 0; i < n; ++i, u += step) {
    int64_t c = col ? col[i] : std::min<int64_t>(u >> 16, width - 1);
    PutMaskBit(d, i, MaskBit(s, c + left));
  }
}

void RotateAlphaRowScalar(uint8_t* d, int32_t x0, int32_t x1, int32_t y, const double inv[6],
                          const uint8_t* src, int32_t srcBytesPerRow, int32_t width, int32_t height,
                          bool smooth) {
  for (int32_t x = x0; x <= x1; ++x) {
    double sx = inv[0] * x + inv[2] * y + inv[4];
    double sy = inv[1] * x + inv[3] * y + inv[5];
    if (!smooth) {
      int32_t ix = std::clamp(TruncateToInt(sx), 0, width - 1);
      int32_t iy = std::clamp(TruncateToInt(sy), 0, height - 1);
      d[x] = src[int64_t(iy) * srcBytesPerRow + ix];
      continue;
    }
    int32_t ix, iy, ix1, iy1;
    SmoothNeighbours(sx, width, &ix, &ix1);
    SmoothNeighbours(sy, height, &iy, &iy1);
    double fx = sx - std::floor(sx), fy = sy - std::floor(sy);
    const uint8_t* r0 = src + int64_t(iy) * srcBytesPerRow;
    const uint8_t* r1 = src + int64_t(iy1) * srcBytesPerRow;
    double v = (r0[ix] * (1 - fx) + r0[ix1] * fx) * (1 - fy) +
               (r1[ix] * (1 - fx) + r1[ix1] * fx) * fy;
    d[x] = uint8_t(TruncateToInt(v + 0.5) & 0xFF);
  }
}

bool MaskedRotateRowsApply() { return UseAvx2(); }

int32_t BuildSmoothAlphaPlan(const SmoothColumns& c, int32_t n, int32_t rowBytes, uint8_t* plan) {
  return UseAvx2() ? BuildSmoothAlphaPlanAvx2(c, n, rowBytes, plan) : 0;
}

void SmoothAlphaRow(uint8_t* d, const uint8_t* a0, const uint8_t* a1, const SmoothColumns& c,
                    int32_t n, int32_t fy, int32_t rowBytes) {
  (UseAvx2() ? SmoothAlphaRowAvx2 : SmoothAlphaRowScalar)(d, a0, a1, c, n, fy, rowBytes);
}

void NearestAlphaRow(uint8_t* d, const uint8_t* s, int64_t step, int32_t n, int32_t width,
                     int32_t rowBytes) {
  (UseAvx2() ? NearestAlphaRowAvx2 : NearestAlphaRowScalar)(d, s, step, n, width, rowBytes);
}

void MaskRow(uint8_t* d, const uint8_t* s, const int32_t* col, int64_t step, int32_t n,
             int32_t width, int32_t left, int32_t rowBytes) {
  (UseAvx2() ? MaskRowAvx2 : MaskRowScalar)(d, s, col, step, n, width, left, rowBytes);
}

void RotateAlphaRow(uint8_t* d, int32_t x0, int32_t x1, int32_t y, const double inv[6],
                    const uint8_t* src, int32_t srcBytesPerRow, int32_t width, int32_t height,
                    bool smooth) {
  (UseAvx2() ? RotateAlphaRowAvx2 : RotateAlphaRowScalar)(d, x0, x1, y, inv, src, srcBytesPerRow,
                                                          width, height, smooth);
}

}  // namespace qv::image
