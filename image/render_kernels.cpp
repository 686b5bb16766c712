// Plotting through a render record: single pixels, anti-aliased and thick lines, coverage images,
// rectangles, and the scan fill of polygons into 1-bit masks.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "image/image.h"
#include "image/internal.h"

namespace qv {

using image::Blue;
using image::Green;
using image::Red;

namespace {

// The coverage c as the current opacity, scaled by the base opacity when that is not full.
inline int ScaledOpacity(const qvRenderRecord& r, int c) {
  return r.baseOpacity != 255 ? c * r.baseOpacity / 255 : c;
}

inline void PlotAt(qvRenderRecord& r, int64_t x, int64_t y) {
  if (x < INT32_MIN || x > INT32_MAX || y < INT32_MIN || y > INT32_MAX) return;
  PlotRenderPixel(r, int32_t(x), int32_t(y));
}

}  // namespace

void PlotRenderPixel(qvRenderRecord& r, int32_t x, int32_t y) {
  // The target's own size always bounds a plot: a shape beyond it never writes past the planes.
  if (x < 0 || y < 0 || x >= r.width || y >= r.height) return;
  if (r.clip) {
    int64_t cx = int64_t(x) - r.clipLeft, cy = int64_t(y) - r.clipTop;
    if (cx < 0 || cy < 0 || cx >= r.clipWidth || cy >= r.clipHeight) return;
    if (r.clipMask && !image::MaskBit(r.clipMask + cy * r.clipMaskBytesPerRow, cx)) return;
  }
  if (r.pixels && r.bytesPerPixel == 4) {
    uint32_t* d = r.pixels + int64_t(y) * r.pixelsPerRow + x;
    uint32_t k = r.texture ? r.texture[int64_t(y) * r.texturePixelsPerRow + x] : r.pixel;
    if (r.opacity >= 255 || r.alpha) {
      *d = k;
    } else {
      uint32_t dc = PixelToRGB(r.format, *d) & 0xFFFFFF;
      uint32_t kc = PixelToRGB(r.format, k) & 0xFFFFFF;
      int a = std::max(r.opacity, 0);
      int red = Red(dc) + (((Red(kc) - Red(dc)) * a) >> 8);
      int green = Green(dc) + (((Green(kc) - Green(dc)) * a) >> 8);
      int blue = Blue(dc) + (((Blue(kc) - Blue(dc)) * a) >> 8);
      *d = ConvertPixelOrder(r.format, uint32_t(red << 16 | green << 8 | blue));
    }
  }
  if (r.mask) {
    uint8_t* row = r.mask + int64_t(y) * r.maskBytesPerRow;
    switch (r.maskMode) {
      case 0:
      case 2:
      case 5:
        image::SetMaskBit(row, x);
        break;
      case 1:
        image::ClearMaskBit(row, x);
        break;
      case 3:
        image::PutMaskBit(row, x, !image::MaskBit(row, x));
        break;
      default:
        break;
    }
  }
  if (r.alpha)
    r.alpha[int64_t(y) * r.alphaBytesPerRow + x] = uint8_t(std::clamp(r.opacity, 0, 255));
}

void DrawAntialiasedLineKernel(qvRenderRecord& r, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  if (x1 == x2 && y1 == y2) {
    r.opacity = r.baseOpacity;
    PlotRenderPixel(r, x1, y1);
    return;
  }
  // 16.16 in 64 bits: lines beyond 32767 pixels do not wrap.
  int64_t dx = int64_t(x2) - x1, dy = int64_t(y2) - y1;
  auto plotPair = [&](int64_t major, int64_t minor, bool steep) {
    int f = int((minor >> 8) & 255);
    int64_t m = minor >> 16;
    r.opacity = ScaledOpacity(r, 255 - f);
    steep ? PlotAt(r, m, major) : PlotAt(r, major, m);
    r.opacity = ScaledOpacity(r, f);
    steep ? PlotAt(r, m + 1, major) : PlotAt(r, major, m + 1);
  };
  // Only the steps over the target are walked: far ends cost nothing.
  if (std::abs(dx) <= std::abs(dy)) {
    if (dy < 0) std::swap(x1, x2), std::swap(y1, y2), dx = -dx, dy = -dy;
    int64_t step = dx * 65536 / dy;
    int64_t from = std::max<int64_t>(y1, 0), to = std::min<int64_t>(y2, int64_t(r.height) - 1);
    int64_t x = (int64_t(x1) << 16) + step * (from - y1);
    for (int64_t y = from; y <= to; ++y, x += step) plotPair(y, x, true);
  } else {
    if (dx < 0) std::swap(x1, x2), std::swap(y1, y2), dx = -dx, dy = -dy;
    if (dx == 0) return;  // cannot be: |dx| > |dy| here
    int64_t step = dy * 65536 / dx;
    int64_t from = std::max<int64_t>(x1, 0), to = std::min<int64_t>(x2, int64_t(r.width) - 1);
    int64_t y = (int64_t(y1) << 16) + step * (from - x1);
    for (int64_t x = from; x <= to; ++x, y += step) plotPair(x, y, false);
  }
}

void DrawLineKernel(qvRenderRecord& r, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  int64_t dx = int64_t(x2) - x1, dy = int64_t(y2) - y1;
  int64_t adx = std::abs(dx), ady = std::abs(dy);
  const bool steep = ady > adx;
  const int64_t major = steep ? ady : adx, minor = steep ? adx : ady;
  // The run across the line: the thickness over the sine (steep) or cosine (flat) of its angle.
  int64_t n = 1;
  if (major > 0) {
    double length = std::sqrt(double(adx) * double(adx) + double(ady) * double(ady));
    double across = r.thickness * length / double(major);
    if (across >= 1 && across < 2147483647.0) n = int64_t(across);
  }
  const int64_t majorStep = (steep ? dy : dx) < 0 ? -1 : 1;
  const int64_t minorStep = (steep ? dx : dy) < 0 ? -1 : 1;
  const int64_t a0 = steep ? y1 : x1, b0 = steep ? x1 : y1;
  const int64_t majorSize = steep ? r.height : r.width, minorSize = steep ? r.width : r.height;
  // Steps whose major coordinate lies outside the target plot nothing: the walk starts at the
  // first inside. After i steps the minor coordinate has moved floor((2 minor i + major) /
  // (2 major)) times and the error term is 2 minor (i + 1) - major - 2 major moves.
  int64_t iFrom = 0, iTo = major;
  if (majorStep > 0) {
    iFrom = std::max<int64_t>(iFrom, -a0);
    iTo = std::min<int64_t>(iTo, majorSize - 1 - a0);
  } else {
    iFrom = std::max<int64_t>(iFrom, a0 - (majorSize - 1));
    iTo = std::min<int64_t>(iTo, a0);
  }
  if (iFrom > iTo) return;
  __int128 moves = major > 0 ? (__int128(2) * minor * iFrom + major) / (__int128(2) * major) : 0;
  int64_t b = b0 + int64_t(moves) * minorStep;
  int64_t error = int64_t(__int128(2) * minor * (iFrom + 1) - major - __int128(2) * major * moves);
  for (int64_t i = iFrom, a = a0 + iFrom * majorStep; i <= iTo; ++i, a += majorStep) {
    int64_t from = std::max<int64_t>(b - n / 2, 0), to = std::min(b - n / 2 + n, minorSize);
    for (int64_t m = from; m < to; ++m) steep ? PlotAt(r, m, a) : PlotAt(r, a, m);
    if (error < 0) {
      error += 2 * minor;
    } else {
      error += 2 * (minor - major);
      b += minorStep;
    }
  }
}

void BlendCoverageKernel(const uint8_t* coverage, const uint8_t* second, int32_t left,
                         qvRenderRecord& r, int32_t width, int32_t height,
                         int32_t coverageBytesPerRow, int32_t top) {
  if (!coverage || width < 1 || height < 1) return;
  const int entryOpacity = r.opacity;
  // Only the part over the target is walked; PlotRenderPixel checks the clip on top.
  int64_t c0 = std::max<int64_t>(0, -int64_t(left));
  int64_t c1 = std::min<int64_t>(width, int64_t(r.width) - left);
  int64_t r0 = std::max<int64_t>(0, -int64_t(top));
  int64_t r1 = std::min<int64_t>(height, int64_t(r.height) - top);
  for (int64_t row = r0; row < r1; ++row) {
    const uint8_t* c = coverage + row * coverageBytesPerRow;
    const uint8_t* s = second ? second + row * coverageBytesPerRow : nullptr;
    for (int64_t col = c0; col < c1; ++col) {
      if (s && s[col]) {
        r.opacity = entryOpacity;
      } else if (c[col]) {
        r.opacity = ScaledOpacity(r, c[col]);
      } else {
        continue;
      }
      PlotRenderPixel(r, int32_t(left + col), int32_t(top + row));
    }
  }
}

void FillRenderRect(qvRenderRecord& r, int32_t x, int32_t y, int32_t width, int32_t height) {
  int64_t x0 = std::max<int64_t>(x, 0), y0 = std::max<int64_t>(y, 0);
  int64_t x1 = std::min<int64_t>(int64_t(x) + width, r.width);
  int64_t y1 = std::min<int64_t>(int64_t(y) + height, r.height);
  if (x0 >= x1 || y0 >= y1) return;
  // A solid fill of the pixels alone is one kernel call.
  if (!r.clip && !r.texture && !r.mask && !r.alpha && r.opacity >= 255) {
    if (r.pixels && r.bytesPerPixel == 4)
      FillPixelRectKernel(r.pixels, r.pixelsPerRow, int32_t(x0), int32_t(y0), int32_t(x1 - x0),
                          int32_t(y1 - y0), r.pixel);
    return;
  }
  for (int64_t j = y0; j < y1; ++j)
    for (int64_t i = x0; i < x1; ++i) PlotRenderPixel(r, int32_t(i), int32_t(j));
}

void FillBitMapRectRender(qvBitMap* bitmap, int32_t x, int32_t y, int32_t width, int32_t height,
                          uint32_t colour) {
  qvBitMapLock lock;
  if (!LockBitMap(bitmap, &lock)) return;
  qvRenderRecord r{};
  r.pixels = reinterpret_cast<uint32_t*>(lock.pixels);
  r.pixelsPerRow = lock.pixelsPerRow;
  r.bytesPerPixel = lock.bytesPerPixel;
  r.width = lock.width;
  r.height = lock.height;
  r.format = lock.format;
  r.colour = colour & 0xFFFFFF;
  r.pixel = ColorToPixelFormat(r.colour, lock.format);
  r.red = Red(r.colour), r.green = Green(r.colour), r.blue = Blue(r.colour);
  r.opacity = r.baseOpacity = 255;
  FillRenderRect(r, x, y, width, height);
  UnLockBitMap(&lock);
}

void FillMaskSpan(uint8_t* row, int32_t from, int32_t to) {
  if (from > to) return;
  int64_t a = from, b = to;
  int64_t firstByte = a >> 3, lastByte = b >> 3;
  uint8_t head = uint8_t(0xFFu >> (a & 7)), tail = uint8_t(0xFFu << (7 - (b & 7)));
  if (firstByte == lastByte) {
    row[firstByte] |= uint8_t(head & tail);
    return;
  }
  row[firstByte] |= head;
  for (int64_t i = firstByte + 1; i < lastByte; ++i) row[i] = 0xFF;
  row[lastByte] |= tail;
}

void FillPolygonKernel(uint8_t* mask, int32_t maskBytesPerRow, int32_t width, int32_t height,
                       int32_t* crossings, const int32_t* points, int32_t count) {
  if (!mask || !crossings || !points || count < 2 || width < 1 || height < 1) return;
  auto px = [points](int64_t i) { return int64_t(points[2 * i]); };
  auto py = [points](int64_t i) { return int64_t(points[2 * i + 1]); };
  int64_t minY = py(0), maxY = py(0);
  for (int32_t i = 1; i < count; ++i) {
    minY = std::min(minY, py(i));
    maxY = std::max(maxY, py(i));
  }
  // Rows outside the mask give nothing: walk only those inside.
  int64_t rowFrom = std::max<int64_t>(minY, 0), rowTo = std::min<int64_t>(maxY, height - 1);
  for (int64_t y = rowFrom; y <= rowTo; ++y) {
    int32_t n = 0;
    const bool lastRow = y == maxY;
    for (int32_t i = 0; i < count; ++i) {
      int32_t j = i == 0 ? count - 1 : i - 1;
      int64_t xa = px(j), ya = py(j), xb = px(i), yb = py(i);
      if (ya == yb) continue;
      if (ya > yb) std::swap(xa, xb), std::swap(ya, yb);
      if (!((ya <= y && y < yb) || (lastRow && ya < y && y <= yb))) continue;
      double x = double(xa) + double(xb - xa) * double(y - ya) / double(yb - ya) + 0.5;
      crossings[n++] = int32_t(std::clamp(std::trunc(x), -2147483648.0, 2147483647.0));
    }
    // Insertion sort: a row has few crossings.
    for (int32_t i = 1; i < n; ++i) {
      int32_t v = crossings[i], k = i;
      for (; k > 0 && crossings[k - 1] > v; --k) crossings[k] = crossings[k - 1];
      crossings[k] = v;
    }
    uint8_t* row = mask + y * maskBytesPerRow;
    for (int32_t k = 0; k + 1 < n; k += 2) {
      int32_t a = std::max(crossings[k], 0), b = std::min(crossings[k + 1], width - 1);
      FillMaskSpan(row, a, b);
    }
  }
}

}  // namespace qv
