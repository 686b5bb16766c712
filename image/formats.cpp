// The fourteen pixel formats, their conversions, and the per-pixel kernels: colour key, colour
// replacement, gray, invert, tint, mix and the flips.
#include <algorithm>
#include <cstring>

#include "image/format_rows.h"
#include "image/image.h"
#include "image/internal.h"

namespace qv {

using image::Blue;
using image::Green;
using image::Red;

uint32_t ConvertPixelOrder(int32_t format, uint32_t rgb) {
  switch (format) {
    case kPixBGRx32:
      return (uint32_t(Blue(rgb)) << 24) | (uint32_t(Green(rgb)) << 16) | (uint32_t(Red(rgb)) << 8);
    case kPixRGBx32:
      return rgb << 8;
    case kPixxBGR32:
      return (uint32_t(Blue(rgb)) << 16) | (rgb & 0xFF00) | uint32_t(Red(rgb));
    default:
      return rgb;
  }
}

uint32_t PixelToRGB(int32_t format, uint32_t pixel) {
  switch (format) {
    case kPixBGRx32:
      return ((pixel >> 8) & 0xFF) << 16 | ((pixel >> 16) & 0xFF) << 8 | (pixel >> 24);
    case kPixRGBx32:
      return pixel >> 8;
    case kPixxBGR32:
      return (pixel & 0xFF) << 16 | (pixel & 0xFF00) | ((pixel >> 16) & 0xFF);
    default:
      return pixel;
  }
}

namespace {

uint16_t Swap16(uint32_t v) { return uint16_t(((v & 0xFF) << 8) | ((v >> 8) & 0xFF)); }

}  // namespace

uint32_t ColorToPixelFormat(uint32_t colour, int32_t format) {
  uint32_t r = Red(colour), g = Green(colour), b = Blue(colour);
  uint32_t rgb555 = ((r & 0xF8) << 7) | ((g & 0xF8) << 2) | (b >> 3);
  uint32_t bgr555 = ((b & 0xF8) << 7) | ((g & 0xF8) << 2) | (r >> 3);
  uint32_t rgb565 = ((r & 0xF8) << 8) | ((g & 0xFC) << 3) | (b >> 3);
  uint32_t bgr565 = ((b & 0xF8) << 8) | ((g & 0xFC) << 3) | (r >> 3);
  switch (format) {
    case kPixRGB555:
      return rgb555;
    case kPixBGR555:
      return bgr555;
    case kPixRGB555PC:
      return Swap16(rgb555);
    case kPixBGR555PC:
      return Swap16(bgr555);
    case kPixRGB565:
      return rgb565;
    case kPixBGR565:
      return bgr565;
    case kPixRGB565PC:
      return Swap16(rgb565);
    case kPixBGR565PC:
      return Swap16(bgr565);
    case kPixRGB24:
    case kPixARGB32:
      return colour & 0xFFFFFF;
    case kPixBGR24:
    case kPixxBGR32:
      return (b << 16) | (g << 8) | r;
    case kPixBGRx32:
      return (b << 24) | (g << 16) | (r << 8);
    case kPixRGBx32:
      return (colour & 0xFFFFFF) << 8;
    default:
      return 0;
  }
}

uint16_t Rgb565ToLayout(int32_t layout, uint16_t word) {
  uint32_t r = word >> 11, g6 = (word >> 5) & 0x3F, b = word & 0x1F;
  uint32_t g5 = g6 >> 1;  // a 555 layout has no room for the lowest green bit
  switch (layout) {
    case 0:
      return uint16_t((r << 10) | (g5 << 5) | b);
    case 1:
      return uint16_t((b << 10) | (g5 << 5) | r);
    case 2:
      return Swap16((r << 10) | (g5 << 5) | b);
    case 3:
      return Swap16((b << 10) | (g5 << 5) | r);
    case 5:
      return uint16_t((b << 11) | (g6 << 5) | r);
    case 6:
      return Swap16(word);
    case 7:
      return Swap16((b << 11) | (g6 << 5) | r);
    default:
      return word;
  }
}

uint16_t LayoutToRgb565(int32_t layout, uint16_t word) {
  auto from555 = [](uint32_t hi, uint32_t g5, uint32_t lo) {
    return uint16_t((hi << 11) | (g5 << 6) | lo);
  };
  switch (layout) {
    case 0:
      return from555((word >> 10) & 0x1F, (word >> 5) & 0x1F, word & 0x1F);
    case 1:
      return from555(word & 0x1F, (word >> 5) & 0x1F, (word >> 10) & 0x1F);
    case 2:
      return LayoutToRgb565(0, Swap16(word));
    case 3:
      return LayoutToRgb565(1, Swap16(word));
    case 5:
      return uint16_t(((word & 0x1F) << 11) | (word & 0x07E0) | (word >> 11));
    case 6:
      return Swap16(word);
    case 7:
      return LayoutToRgb565(5, Swap16(word));
    default:
      return word;
  }
}

void PackRGBToPixel(uint8_t r, uint8_t g, uint8_t b, uint32_t* out, int32_t format) {
  uint32_t R = r, G = g, B = b;
  switch (format) {
    case kPixARGB32:
      *out = (R << 16) | (G << 8) | B;
      break;
    case kPixBGRx32:
      *out = (B << 24) | (G << 16) | (R << 8);
      break;
    case kPixRGBx32:
      *out = (R << 24) | (G << 16) | (B << 8);
      break;
    case kPixxBGR32:
      *out = (B << 16) | (G << 8) | R;
      break;
    default:
      break;
  }
}

void ColorKeyMaskKernel(const uint32_t* pixels, uint8_t* mask, int32_t width, int32_t height,
                        int32_t maskBytesPerRow, uint32_t key, int32_t pixelsPerRow,
                        uint32_t channelMask) {
  for (int32_t y = 0; y < height; ++y) {
    const uint32_t* p = pixels + int64_t(y) * pixelsPerRow;
    uint8_t* m = mask + int64_t(y) * maskBytesPerRow;
    for (int32_t x = 0; x < width; ++x) image::PutMaskBit(m, x, (p[x] & channelMask) != key);
  }
}

void ReplaceColorsKernel(int32_t width, int32_t height, const uint32_t* pairs, uint32_t* pixels,
                         int32_t pixelsPerRow, uint32_t channelMask) {
  if (!pairs || pairs[0] == 0xFFFFFFFF) return;
  for (int32_t y = 0; y < height; ++y) {
    uint32_t* p = pixels + int64_t(y) * pixelsPerRow;
    for (int32_t x = 0; x < width; ++x) {
      uint32_t v = p[x];
      for (const uint32_t* pair = pairs; pair[0] != 0xFFFFFFFF; pair += 2)
        if ((v & channelMask) == pair[0]) v = pair[1];
      p[x] = v;
    }
  }
}

void GrayKernel(uint32_t* pixels, int32_t width, int32_t height, int32_t format,
                int32_t pixelsPerRow, bool monochrome) {
  for (int32_t y = 0; y < height; ++y) {
    uint32_t* p = pixels + int64_t(y) * pixelsPerRow;
    for (int32_t x = 0; x < width; ++x) {
      uint32_t rgb = PixelToRGB(format, p[x]);
      // Summed green, red, blue in double: the order fixes the last bit of the truncation.
      double sum = 0.587 * Green(rgb);
      sum += 0.299 * Red(rgb);
      sum += 0.114 * Blue(rgb);
      uint32_t gray = uint32_t(sum);
      if (monochrome) gray = gray < 129 ? 0 : 255;
      p[x] = ConvertPixelOrder(format, gray * 0x010101u);
    }
  }
}

void InvertKernel(uint32_t* pixels, int32_t width, int32_t height, int32_t pixelsPerRow) {
  for (int32_t y = 0; y < height; ++y) {
    uint32_t* p = pixels + int64_t(y) * pixelsPerRow;
    for (int32_t x = 0; x < width; ++x) p[x] = ~p[x];
  }
}

void InvertBytesKernel(uint8_t* data, int32_t rows, int32_t bytesPerRow) {
  for (int32_t y = 0; y < rows; ++y) {
    uint8_t* d = data + int64_t(y) * bytesPerRow;
    for (int32_t x = 0; x < bytesPerRow; ++x) d[x] = uint8_t(~d[x]);
  }
}

void TintKernel(const TintRecord& r) {
  if (r.width < 1 || r.height < 1) return;
  for (int32_t y = 0; y < r.height; ++y) {
    uint32_t* p = r.pixels + int64_t(r.top + y) * r.pixelsPerRow + r.left;
    if (r.format == kPixARGB32) {
      image::gPaths.tintRow(p, r.colour, r.level, r.width);
      continue;
    }
    if (image::FormatRowsApply(r.format)) {
      image::TintRowInFormat(r.format, p, r.colour, r.level, r.width);
      continue;
    }
    for (int32_t x = 0; x < r.width; ++x) {
      uint32_t c = PixelToRGB(r.format, p[x]);
      int ch[3] = {Red(c), Green(c), Blue(c)};
      int t[3] = {Red(r.colour), Green(r.colour), Blue(r.colour)};
      for (int i = 0; i < 3; ++i) ch[i] += ((t[i] - ch[i]) * r.level) >> 8;
      p[x] = ConvertPixelOrder(r.format, uint32_t(ch[0] << 16 | ch[1] << 8 | ch[2]) & 0xFFFFFF);
    }
  }
}

void MixKernel(const MixRecord& r, int32_t width, int32_t height, int32_t level, int32_t format,
               int32_t srcPixelsPerRow, int32_t dstPixelsPerRow, int32_t maskBytesPerRow) {
  if (width < 1 || height < 1) return;
  int weight = 255 - level;
  for (int32_t y = 0; y < height; ++y) {
    const uint32_t* s = r.src + int64_t(y) * srcPixelsPerRow;
    uint32_t* d = r.dst + int64_t(y) * dstPixelsPerRow;
    const uint8_t* m = r.maskRow ? r.maskRow + int64_t(y) * maskBytesPerRow : nullptr;
    if (format == kPixARGB32) {
      if (m) {
        image::gPaths.mixMaskRow(d, s, m + (r.maskColumn >> 3), r.maskColumn & 7, weight, width);
      } else {
        image::gPaths.mixRow(d, s, weight, width);
      }
      continue;
    }
    if (image::FormatRowsApply(format)) {
      if (m) {
        image::MixRowInFormat(format, d, s, m + (r.maskColumn >> 3), r.maskColumn & 7, weight,
                              width);
      } else {
        image::MixRowInFormat(format, d, s, nullptr, 0, weight, width);
      }
      continue;
    }
    for (int32_t x = 0; x < width; ++x) {
      if (m && !image::MaskBit(m, int64_t(r.maskColumn) + x)) continue;
      uint32_t sv = PixelToRGB(format, s[x]), dv = PixelToRGB(format, d[x]);
      int sc[3] = {Red(sv), Green(sv), Blue(sv)};
      int dc[3] = {Red(dv), Green(dv), Blue(dv)};
      for (int i = 0; i < 3; ++i) sc[i] += ((dc[i] - sc[i]) * weight) >> 8;
      d[x] = ConvertPixelOrder(format, uint32_t(sc[0] << 16 | sc[1] << 8 | sc[2]) & 0xFFFFFF);
    }
  }
}

void FlipKernel(const FlipRecord& r) {
  if (r.width < 1 || r.height < 1) return;
  int32_t w = r.width, h = r.height;
  if (r.pixels && r.bytesPerPixel == 4) {
    if (r.horizontal) {
      for (int32_t y = 0; y < h; ++y)
        std::reverse(r.pixels + int64_t(y) * r.pixelsPerRow,
                     r.pixels + int64_t(y) * r.pixelsPerRow + w);
    } else {
      for (int32_t y = 0; y < h / 2; ++y)
        std::swap_ranges(r.pixels + int64_t(y) * r.pixelsPerRow,
                         r.pixels + int64_t(y) * r.pixelsPerRow + w,
                         r.pixels + int64_t(h - 1 - y) * r.pixelsPerRow);
    }
  }
  if (r.mask) {
    if (r.horizontal) {
      if (r.scratch) {
        for (int32_t y = 0; y < h; ++y) {
          uint8_t* row = r.mask + int64_t(y) * r.maskBytesPerRow;
          std::memcpy(r.scratch, row, size_t(r.maskBytesPerRow));
          for (int32_t i = 0; i < w; ++i)
            image::PutMaskBit(row, i, image::MaskBit(r.scratch, w - 1 - i));
        }
      }
    } else {
      for (int32_t y = 0; y < h / 2; ++y)
        std::swap_ranges(r.mask + int64_t(y) * r.maskBytesPerRow,
                         r.mask + int64_t(y + 1) * r.maskBytesPerRow,
                         r.mask + int64_t(h - 1 - y) * r.maskBytesPerRow);
    }
  }
  if (r.alpha) {
    if (r.horizontal) {
      for (int32_t y = 0; y < h; ++y)
        std::reverse(r.alpha + int64_t(y) * r.alphaBytesPerRow,
                     r.alpha + int64_t(y) * r.alphaBytesPerRow + w);
    } else {
      for (int32_t y = 0; y < h / 2; ++y)
        std::swap_ranges(r.alpha + int64_t(y) * r.alphaBytesPerRow,
                         r.alpha + int64_t(y + 1) * r.alphaBytesPerRow,
                         r.alpha + int64_t(h - 1 - y) * r.alphaBytesPerRow);
    }
  }
}

}  // namespace qv
