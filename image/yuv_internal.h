// What the video frame conversion (yuv.cpp) shares with its SIMD rows (yuv_x86.cpp): the
// per-pixel arithmetic and packing of the scalar reference, and the row of each path.
#pragma once

#include <cstdint>
#include <cstring>

#include "image/image.h"

namespace qv::image {

// Studio-range BT.601 in integers: each channel is one numerator over one divisor, the quotient
// truncated toward zero and limited to 0..255. The constants carry the +0.5 that rounds.
inline int YuvChannel(int32_t numerator, int32_t divisor) {
  int32_t q = numerator / divisor;
  return q < 0 ? 0 : q > 255 ? 255 : int(q);
}
inline int YuvRed(int y, int v) {
  return YuvChannel(1904000 * y + 2609823 * v - 363703744, 1635200);
}
inline int YuvGreen(int y, int u, int v) {
  return YuvChannel(3827562 * y - 1287801 * u - 2672387 * v + 447306710, 3287200);
}
inline int YuvBlue(int y, int u) {
  return YuvChannel(952000 * y + 1649289 * u - 225932192, 817600);
}

// Bytes of one pixel of the format: 2, 3 or 4; 0 for a format outside 0-13.
inline int32_t YuvFormatBytes(int32_t format) {
  if (format >= kPixRGB555 && format <= kPixBGR565PC) return 2;
  if (format == kPixRGB24 || format == kPixBGR24) return 3;
  if (format >= kPixARGB32 && format <= kPixxBGR32) return 4;
  return 0;
}

// Stores one pixel of the format (0-13) at d: 16-bit words and 32-bit words as the processor
// writes them, 24-bit pixels in memory order.
inline void StoreYuvPixel(uint8_t* d, int32_t format, int r, int g, int b) {
  if (format == kPixBGR555 || format == kPixBGR555PC || format == kPixBGR565 ||
      format == kPixBGR565PC) {
    int t = r;
    r = b;
    b = t;
  }
  uint16_t w16;
  uint32_t w32;
  switch (format) {
    case kPixRGB555:
    case kPixBGR555:
    case kPixRGB555PC:
    case kPixBGR555PC:
      w16 = uint16_t(((r & 0xF8) << 7) | ((g & 0xF8) << 2) | (b >> 3));
      if (format >= kPixRGB555PC) w16 = uint16_t(w16 << 8 | w16 >> 8);
      std::memcpy(d, &w16, 2);
      return;
    case kPixRGB565:
    case kPixBGR565:
    case kPixRGB565PC:
    case kPixBGR565PC:
      w16 = uint16_t(((r & 0xF8) << 8) | ((g & 0xFC) << 3) | (b >> 3));
      if (format >= kPixRGB565PC) w16 = uint16_t(w16 << 8 | w16 >> 8);
      std::memcpy(d, &w16, 2);
      return;
    case kPixRGB24:
      d[0] = uint8_t(r), d[1] = uint8_t(g), d[2] = uint8_t(b);
      return;
    case kPixBGR24:
      d[0] = uint8_t(b), d[1] = uint8_t(g), d[2] = uint8_t(r);
      return;
    case kPixARGB32:
      w32 = uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b);
      break;
    case kPixBGRx32:
      w32 = uint32_t(b) << 24 | uint32_t(g) << 16 | uint32_t(r) << 8;
      break;
    case kPixRGBx32:
      w32 = uint32_t(r) << 24 | uint32_t(g) << 16 | uint32_t(b) << 8;
      break;
    case kPixxBGR32:
      w32 = uint32_t(b) << 16 | uint32_t(g) << 8 | uint32_t(r);
      break;
    default:
      return;
  }
  std::memcpy(d, &w32, 4);
}

inline void ConvertYuvPixel(uint8_t* d, int32_t format, int y, int u, int v) {
  StoreYuvPixel(d, format, YuvRed(y, v), YuvGreen(y, u, v), YuvBlue(y, u));
}

// One row: pixel x of n from luma y[x] and chroma u[x / 2], v[x / 2], stored in the format
// (YuvFormatBytes(format) bytes each, which must not be 0) from dst on.
using YuvRowFn = void (*)(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t n,
                          uint8_t* dst, int32_t format);
void YuvRowScalar(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t n, uint8_t* dst,
                  int32_t format);
YuvRowFn Sse2YuvRow();  // null when not built in
YuvRowFn Avx2YuvRow();

}  // namespace qv::image
