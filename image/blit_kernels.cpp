// The copy, fill and combine loops behind the blits, the alpha and byte-plane operations, the
// plane extractors and the flood fill. No kernel clips: callers hand over clipped rectangles.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "base/errors.h"
#include "image/format_rows.h"
#include "image/image.h"
#include "image/internal.h"

namespace qv {

using image::Blue;
using image::gPaths;
using image::Green;
using image::Red;

namespace {

// d + (((s - d) x a) >> 8) per channel of two 0x00RRGGBB values; the shift rounds toward minus
// infinity, so a rising channel stops one short at a = 255.
uint32_t BlendRGB(uint32_t d, uint32_t s, int a) {
  int r = Red(d) + (((Red(s) - Red(d)) * a) >> 8);
  int g = Green(d) + (((Green(s) - Green(d)) * a) >> 8);
  int b = Blue(d) + (((Blue(s) - Blue(d)) * a) >> 8);
  return uint32_t(r << 16 | g << 8 | b);
}

uint32_t BlendInFormat(int32_t format, uint32_t d, uint32_t s, int a) {
  return ConvertPixelOrder(
      format, BlendRGB(PixelToRGB(format, d) & 0xFFFFFF, PixelToRGB(format, s) & 0xFFFFFF, a));
}

}  // namespace

void BltBitMapKernel(const BltBitMapRecord& r) {
  if (r.width < 1 || r.height < 1) return;
  // A copy down inside one bitmap runs bottom-up so that no row is read after it was written.
  const bool upward = r.src == r.dst && r.dy > r.sy;
  for (int32_t i = 0; i < r.height; ++i) {
    int32_t y = upward ? r.height - 1 - i : i;
    const uint32_t* s = r.src + int64_t(r.sy + y) * r.srcPixelsPerRow + r.sx;
    uint32_t* d = r.dst + int64_t(r.dy + y) * r.dstPixelsPerRow + r.dx;
    if (!r.convert) {
      gPaths.copyRow(d, s, r.width);
      continue;
    }
    for (int32_t x = 0; x < r.width; ++x)
      d[x] = ConvertPixelOrder(r.dstFormat, PixelToRGB(r.srcFormat, s[x]) & 0xFFFFFF);
  }
}

void BltMaskKernel(const BltMaskRecord& r) {
  if (r.width < 1 || r.height < 1 || r.conversion < 0 || r.conversion > 2) return;
  for (int32_t y = 0; y < r.height; ++y) {
    const uint32_t* s = r.src + int64_t(r.sy + y) * r.srcPixelsPerRow + r.sx;
    uint32_t* d = r.dst + int64_t(r.dy + y) * r.dstPixelsPerRow + r.dx;
    const uint8_t* m = r.mask + int64_t(r.sy + y) * r.maskBytesPerRow;
    if (r.conversion == 0) {
      // The mask row from the byte holding the first column, and the bit inside it.
      gPaths.maskRow(d, s, m + (r.sx >> 3), r.sx & 7, r.width);
      continue;
    }
    for (int32_t x = 0; x < r.width; ++x) {
      if (!image::MaskBit(m, int64_t(r.sx) + x)) continue;
      d[x] = r.conversion == 1 ? ConvertPixelOrder(kPixBGRx32, s[x]) : s[x] << 8;
    }
  }
}

void BltTemplateKernel(const BltTemplateRecord& r) {
  if (r.width < 1 || r.height < 1) return;
  for (int32_t y = 0; y < r.height; ++y) {
    const uint8_t* t = r.tmpl + int64_t(r.ty + y) * r.tmplBytesPerRow;
    uint32_t* d = r.dst + int64_t(r.dy + y) * r.dstPixelsPerRow + r.dx;
    gPaths.templateRow(d, t + (r.tx >> 3), r.tx & 7, r.width, r.colour);
  }
}

void BltAlphaBitMapKernel(const BltAlphaBitMapRecord& r) {
  if (r.width < 1 || r.height < 1) return;
  // A copy down inside one bitmap runs bottom-up so that no row is read after it was written.
  const bool upward = r.src == r.dst && r.dy > r.sy;
  for (int32_t i = 0; i < r.height; ++i) {
    int32_t y = upward ? r.height - 1 - i : i;
    const uint32_t* s = r.src + int64_t(r.sy + y) * r.srcPixelsPerRow + r.sx;
    uint32_t* d = r.dst + int64_t(r.dy + y) * r.dstPixelsPerRow + r.dx;
    const uint8_t* a = r.alpha + int64_t(r.ay + y) * r.alphaBytesPerRow + r.ax;
    if (r.format == kPixARGB32) {
      gPaths.alphaRow(d, s, a, r.width);
      continue;
    }
    if (image::FormatRowsApply(r.format)) {
      image::AlphaRowInFormat(r.format, d, s, a, r.width);
      continue;
    }
    for (int32_t x = 0; x < r.width; ++x) {
      if (a[x] == 0) continue;
      d[x] = a[x] == 255 ? s[x] : BlendInFormat(r.format, d[x], s[x], a[x]);
    }
  }
}

void BltAlphaChannelKernel(const BltAlphaChannelRecord& r) {
  if (r.width < 1 || r.height < 1) return;
  int mode = r.mode;
  if (mode < 0 || mode > 4) mode = 0;
  if (mode == 3 && !r.coverage16) return;
  if (mode != 3 && !r.coverage) return;
  // Without a destination alpha the alpha-updating modes paint as plain blends.
  if ((mode == 2 || mode == 3) && !r.dstAlpha) mode = mode == 3 ? -3 : 1;
  for (int32_t y = 0; y < r.height; ++y) {
    uint32_t* d = r.dst + int64_t(r.dy + y) * r.dstPixelsPerRow + r.dx;
    const uint8_t* c8 = r.coverage ? r.coverage + int64_t(r.cy + y) * r.coverageBytesPerRow + r.cx
                                   : nullptr;
    const uint16_t* c16 = r.coverage16
                              ? r.coverage16 + int64_t(r.cy + y) * r.coverage16Stride + r.cx
                              : nullptr;
    const uint32_t* s = r.src ? r.src + int64_t(r.cy + y) * r.srcPixelsPerRow + r.cx : nullptr;
    uint8_t* da = r.dstAlpha ? r.dstAlpha + int64_t(r.dy + y) * r.dstAlphaBytesPerRow + r.dx
                             : nullptr;
    if (!s && (mode == 1 || mode == 4) && r.format == kPixARGB32) {
      gPaths.coverageRow(d, c8, r.colour, r.width, mode == 4);
      continue;
    }
    for (int32_t x = 0; x < r.width; ++x) {
      // Mode 3 paints the colour only; 16-bit coverage words carry 0-255.
      uint32_t k = (s && mode != 3 && mode != -3) ? s[x] : r.colour;
      int c = (mode == 3 || mode == -3) ? (c16[x] > 255 ? 255 : c16[x]) : c8[x];
      switch (mode) {
        case 0:
          if (c != 0) d[x] = k;
          break;
        case 4:
          if (c >= 64) {  // 64 is full coverage; larger words are no level of this mode
            d[x] = k;
            break;
          }
          c *= 4;
          [[fallthrough]];
        case 1:
        case -3:
          if (c == 255)
            d[x] = k;
          else if (c != 0)
            d[x] = BlendInFormat(r.format, d[x], k, c);
          break;
        case 2:
        case 3: {
          if (c == 0) break;
          int a = da[x];
          if (a != 0) {
            d[x] = c == 255 ? k : BlendInFormat(r.format, d[x], k, c);
            da[x] = uint8_t(((((c - a) * c) >> 8) + a) * r.opacity / 255);
          } else {
            d[x] = k;
            da[x] = uint8_t(c * r.opacity / 255);
          }
          break;
        }
      }
    }
  }
}

void BltBytesKernel(const BltBytesRecord& r) {
  if (r.width < 1 || r.height < 1) return;
  for (int32_t y = 0; y < r.height; ++y) {
    const uint8_t* s = r.src + int64_t(r.sy + y) * r.srcBytesPerRow + r.sx;
    uint8_t* d = r.dst + int64_t(r.dy + y) * r.dstBytesPerRow + r.dx;
    for (int32_t x = 0; x < r.width; ++x) {
      int sv = s[x], dv = d[x];
      switch (r.mode) {
        case 1:
          if (sv) dv = sv;
          break;
        case 2:
          if (sv) dv = 255 - sv;
          break;
        case 3:
          if (sv) dv = 255;
          break;
        case 4:
          if (sv) dv = sv * r.value / 255;
          break;
        case 5:
          if (sv && dv) dv = 255 - sv;
          break;
        case 6:
          if (sv) dv = r.value;
          break;
        case 7:
          dv = (sv && dv) ? sv : 0;
          break;
        case 8:
          if (sv == 255) dv = 255;
          break;
        default:
          dv = sv;
          break;
      }
      d[x] = uint8_t(dv);
    }
  }
}

void TemplateToBytesKernel(const TemplateToBytesRecord& r) {
  if (r.width < 1 || r.height < 1) return;
  for (int32_t y = 0; y < r.height; ++y) {
    const uint8_t* t = r.tmpl + int64_t(r.ty + y) * r.tmplBytesPerRow;
    uint8_t* d = r.dst + int64_t(r.dy + y) * r.dstBytesPerRow + r.dx;
    for (int32_t x = 0; x < r.width; ++x)
      if (image::MaskBit(t, int64_t(r.tx) + x)) d[x] = r.value;
  }
}

void SafeBltKernel(const SafeBltRecord& r) {
  if (r.width < 1 || r.height < 1) return;
  int64_t cx = int64_t(r.clipLeft) - r.clipOriginLeft, cy = int64_t(r.clipTop) - r.clipOriginTop;
  for (int32_t y = 0; y < r.height; ++y) {
    const uint8_t* c = r.clip + (cy + y) * r.clipBytesPerRow;
    if (r.objAlpha) {
      uint8_t* d = r.dst + int64_t(r.dy + y) * r.dstAlphaBytesPerRow + r.dx;
      const uint8_t* a = r.objAlpha + int64_t(r.dy + y) * r.objAlphaBytesPerRow + r.dx;
      for (int32_t x = 0; x < r.width; ++x) d[x] = image::MaskBit(c, cx + x) ? a[x] : 0;
    } else {
      uint8_t* d = r.dst + int64_t(r.dy + y) * r.dstMaskBytesPerRow;
      const uint8_t* o = r.objMask ? r.objMask + int64_t(r.dy + y) * r.dstMaskBytesPerRow : nullptr;
      for (int32_t x = 0; x < r.width; ++x) {
        int64_t at = int64_t(r.dx) + x;
        image::PutMaskBit(d, at, image::MaskBit(c, cx + x) && (!o || image::MaskBit(o, at)));
      }
    }
  }
}

void CopyThroughByteMaskKernel(const CopyThroughByteMaskRecord& r) {
  if (r.width < 1 || r.height < 1) return;
  // A copy down inside one bitmap runs bottom-up so that no row is read after it was written.
  const bool upward = r.src == r.dst && r.dy > r.sy;
  for (int32_t i = 0; i < r.height; ++i) {
    int32_t y = upward ? r.height - 1 - i : i;
    const uint32_t* s = r.src + int64_t(r.sy + y) * r.srcPixelsPerRow + r.sx;
    uint32_t* d = r.dst + int64_t(r.dy + y) * r.dstPixelsPerRow + r.dx;
    const uint8_t* m = r.byteMask + int64_t(r.byteMaskTop + y) * r.byteMaskBytesPerRow +
                       r.byteMaskLeft;
    for (int32_t x = 0; x < r.width; ++x)
      if (m[x]) d[x] = s[x];
  }
}

void FillPixelRectKernel(uint32_t* pixels, int32_t pixelsPerRow, int32_t left, int32_t top,
                         int32_t width, int32_t height, uint32_t value) {
  if (width < 1 || height < 1) return;
  for (int32_t y = 0; y < height; ++y)
    gPaths.fillRow(pixels + int64_t(top + y) * pixelsPerRow + left, value, width);
}

void FillBytesRectKernel(uint8_t* data, int32_t left, int32_t top, int32_t width, int32_t height,
                         int32_t bytesPerRow, uint8_t value) {
  if (width < 1 || height < 1) return;
  for (int32_t y = 0; y < height; ++y)
    std::memset(data + int64_t(top + y) * bytesPerRow + left, value, size_t(width));
}

void ScaleBytesKernel(const uint8_t* src, uint8_t* dst, int32_t factor, int32_t width,
                      int32_t height) {
  if (width < 1 || height < 1) return;
  const auto f = static_cast<uint16_t>(std::clamp(factor, 0, 255));
  int64_t n = int64_t(width) * height;
  // v / 255 for v up to 255 x 255 is (v + 1 + (v >> 8)) >> 8 exactly, in 16 bits: a loop the
  // compiler turns into vector code, where the division was done a byte at a time.
  for (int64_t i = 0; i < n; ++i) {
    auto v = static_cast<uint16_t>(src[i] * f);
    dst[i] = uint8_t((v + 1 + (v >> 8)) >> 8);
  }
}

void AlphaToMaskKernel(const uint8_t* alpha, uint8_t* mask, int32_t alphaBytesPerRow,
                       int32_t maskBytesPerRow, int32_t mode, const AlphaToMaskRect& rect) {
  if (rect.width < 1 || rect.height < 1) return;
  if (mode != 0 && mode != 1 && mode != 2 && mode != 3 && mode != 5) return;
  for (int32_t y = 0; y < rect.height; ++y) {
    const uint8_t* a = alpha + int64_t(rect.ay + y) * alphaBytesPerRow + rect.ax;
    uint8_t* m = mask + int64_t(rect.my + y) * maskBytesPerRow;
    for (int32_t x = 0; x < rect.width; ++x) {
      bool opaque = a[x] == 255;
      int64_t at = int64_t(rect.mx) + x;
      switch (mode) {
        case 0:
        case 2:
          image::PutMaskBit(m, at, opaque);
          break;
        case 1:
          image::PutMaskBit(m, at, !opaque);
          break;
        case 3:
          if (opaque) image::PutMaskBit(m, at, !image::MaskBit(m, at));
          break;
        case 5:
          if (opaque) image::SetMaskBit(m, at);
          break;
      }
    }
  }
}

void ExtractAlphaKernel(const uint32_t* pixels, int32_t width, int32_t height, int32_t pixelsPerRow,
                        uint8_t* alpha, int32_t alphaBytesPerRow) {
  for (int32_t y = 0; y < height; ++y) {
    const uint32_t* p = pixels + int64_t(y) * pixelsPerRow;
    uint8_t* a = alpha + int64_t(y) * alphaBytesPerRow;
    for (int32_t x = 0; x < width; ++x) a[x] = uint8_t(p[x] >> 24);
  }
}

int FloodFillKernel(const FloodFillRecord& r, int32_t x, int32_t y, uint32_t channelMask) {
  const int64_t left = r.areaLeft, top = r.areaTop;
  const int64_t right = left + r.areaWidth, bottom = top + r.areaHeight;  // exclusive
  if (r.areaWidth < 1 || r.areaHeight < 1 || x < left || x >= right || y < top || y >= bottom)
    return 0;
  const uint32_t border = r.border;
  // A fill colour with bits outside the channel mask must still read back as filled, else the
  // runs above and below would be entered again and again.
  const uint32_t fillSeen = r.fill & channelMask;
  auto at = [&](int64_t px, int64_t py) -> uint32_t& { return r.pixels[py * r.pixelsPerRow + px]; };
  auto isBorder = [&](int64_t px, int64_t py) { return (at(px, py) & channelMask) == border; };
  auto isOpen = [&](int64_t px, int64_t py) {
    uint32_t v = at(px, py) & channelMask;
    return v != border && v != fillSeen;
  };

  // One frame per filled run; it scans the row above, then the row below, entering each open
  // pixel in turn, as a recursion over runs would.
  struct Frame {
    int32_t y, left, right, scan;
    int32_t phase;  // 0 above, 1 below
  };
  auto fillRun = [&](int64_t sx, int64_t sy, Frame* out) {
    int64_t lx = sx;
    while (lx >= left && !isBorder(lx, sy)) {
      at(lx, sy) = r.fill;
      --lx;
    }
    if (lx == sx) return false;
    int64_t rx = sx + 1;
    while (rx < right && !isBorder(rx, sy)) {
      at(rx, sy) = r.fill;
      ++rx;
    }
    *out = Frame{int32_t(sy), int32_t(lx + 1), int32_t(rx - 1), int32_t(lx + 1), 0};
    return true;
  };

  std::vector<Frame> stack;
  Frame first;
  if (!fillRun(x, y, &first)) return 0;
  try {
    stack.push_back(first);
    while (!stack.empty()) {
      Frame& f = stack.back();
      if (f.phase == 0 && f.y <= top) f.phase = 1, f.scan = f.left;
      if (f.phase == 1 && f.y >= bottom - 1) {
        stack.pop_back();
        continue;
      }
      int64_t ny = f.phase == 0 ? f.y - 1 : f.y + 1;
      int64_t sx = f.scan;
      while (sx <= f.right && !isOpen(sx, ny)) ++sx;
      if (sx > f.right) {
        if (f.phase == 0) {
          f.phase = 1;
          f.scan = f.left;
        } else {
          stack.pop_back();
        }
        continue;
      }
      // After the entered run is filled its pixels read as filled, so the scan goes on past it.
      f.scan = int32_t(sx + 1);
      Frame next;
      if (fillRun(sx, ny, &next)) stack.push_back(next);
    }
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
  return 0;
}

}  // namespace qv
