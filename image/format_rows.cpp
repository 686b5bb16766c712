// Format-10 row kernels over rows of formats 11-13 (see format_rows.h).
#include "image/format_rows.h"

#include <algorithm>

#include "image/image.h"
#include "image/internal.h"

namespace qv::image {

namespace {

constexpr int32_t kChunk = 256;

inline uint32_t Down(uint32_t v) { return v >> 8 | v << 24; }
inline uint32_t Up(uint32_t v) { return v << 8 | v >> 24; }

bool HighBytes(int32_t format) { return format == kPixBGRx32 || format == kPixRGBx32; }

}  // namespace

bool FormatRowsApply(int32_t format) {
  return format >= kPixBGRx32 && format <= kPixxBGR32 && CurrentSimdLevel() != SimdLevel::kScalar;
}

void AlphaRowInFormat(int32_t format, uint32_t* d, const uint32_t* s, const uint8_t* a, int32_t n) {
  if (!HighBytes(format)) {
    gPaths.alphaRow(d, s, a, n);
    return;
  }
  uint32_t td[kChunk], ts[kChunk];
  for (int32_t at = 0; at < n; at += kChunk) {
    int32_t m = std::min(kChunk, n - at);
    for (int32_t i = 0; i < m; ++i) td[i] = Down(d[at + i]), ts[i] = Down(s[at + i]);
    gPaths.alphaRow(td, ts, a + at, m);
    for (int32_t i = 0; i < m; ++i) d[at + i] = Up(td[i]);
  }
}

void MixRowInFormat(int32_t format, uint32_t* d, const uint32_t* s, const uint8_t* mask,
                    int32_t bit0, int32_t weight, int32_t n) {
  if (!HighBytes(format)) {
    if (mask)
      gPaths.mixMaskRow(d, s, mask, bit0, weight, n);
    else
      gPaths.mixRow(d, s, weight, n);
    return;
  }
  uint32_t td[kChunk], ts[kChunk];
  for (int32_t at = 0; at < n; at += kChunk) {
    int32_t m = std::min(kChunk, n - at);
    for (int32_t i = 0; i < m; ++i) td[i] = Down(d[at + i]), ts[i] = Down(s[at + i]);
    if (mask) {
      // The mask's column moves on by whole bytes with the chunk.
      int64_t bit = int64_t(bit0) + at;
      gPaths.mixMaskRow(td, ts, mask + (bit >> 3), int32_t(bit & 7), weight, m);
    } else {
      gPaths.mixRow(td, ts, weight, m);
    }
    for (int32_t i = 0; i < m; ++i) d[at + i] = Up(td[i]);
  }
}

void TintRowInFormat(int32_t format, uint32_t* p, uint32_t colour, int32_t level, int32_t n) {
  uint32_t tint = ConvertPixelOrder(format, colour & 0xFFFFFF);
  if (!HighBytes(format)) {
    gPaths.tintRow(p, tint, level, n);
    return;
  }
  uint32_t t[kChunk];
  for (int32_t at = 0; at < n; at += kChunk) {
    int32_t m = std::min(kChunk, n - at);
    for (int32_t i = 0; i < m; ++i) t[i] = Down(p[at + i]);
    gPaths.tintRow(t, Down(tint), level, m);
    for (int32_t i = 0; i < m; ++i) p[at + i] = Up(t[i]);
  }
}

}  // namespace qv::image
