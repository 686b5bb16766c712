// The mask and alpha helpers of clip regions, layers and transitions (image/mask_ops.h).
#include "image/mask_ops.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdlib>

#include "base/errors.h"
#include "base/support.h"
#include "image/internal.h"
#include "platform/textout.h"

namespace qv {

namespace {

// A plane's size for clipping: wrapped rows know none.
int64_t KnownWidth(const qvPlane* p) { return p->width > 0 || p->height > 0 ? p->width : -1; }
int64_t KnownHeight(const qvPlane* p) { return p->width > 0 || p->height > 0 ? p->height : -1; }

bool Usable(const qvPlane* p) { return p != nullptr && p->data != nullptr; }

struct EllipseTables {
  std::array<int32_t, 360> cosine{}, sine{};
  EllipseTables() {
    constexpr double kPi = 3.14159265358979323846;
    for (int a = 0; a < 360; ++a) {
      cosine[a] = static_cast<int32_t>(std::lround(1024.0 * std::cos(a * kPi / 180.0)));
      sine[a] = static_cast<int32_t>(std::lround(1024.0 * std::sin(a * kPi / 180.0)));
    }
  }
};
const EllipseTables& Tables() {
  static const EllipseTables tables;
  return tables;
}

int32_t Degree(int64_t angle) {
  int64_t a = angle % 360;
  return static_cast<int32_t>(a < 0 ? a + 360 : a);
}

bool Inside(int32_t x, int32_t y, int32_t c, int32_t kind) {
  switch (kind) {
    case kKeepXAtLeast:
      return x >= c;
    case kKeepYAtLeast:
      return y >= c;
    case kKeepXAtMost:
      return x <= c;
    default:
      return y <= c;
  }
}

}  // namespace

void MaskToAlpha(const qvPlane* mask, int32_t x, int32_t y, qvPlane* alpha, int32_t dx, int32_t dy,
                 int32_t width, int32_t height, uint8_t value) {
  if (!Usable(mask) || !Usable(alpha)) return;
  if (!image::ClipBlit(&x, &y, &dx, &dy, &width, &height, KnownWidth(mask), KnownHeight(mask),
                       KnownWidth(alpha), KnownHeight(alpha))) {
    return;
  }
  for (int32_t row = 0; row < height; ++row) {
    const uint8_t* m = mask->data + int64_t{y + row} * mask->bytesPerRow;
    uint8_t* a = alpha->data + int64_t{dy + row} * alpha->bytesPerRow + dx;
    for (int32_t col = 0; col < width; ++col) {
      int64_t bit = int64_t{x} + col;
      a[col] = (m[bit >> 3] >> (7 - (bit & 7))) & 1 ? value : 0;
    }
  }
}

void AlphaToMask(const qvPlane* alpha, int32_t x, int32_t y, qvPlane* mask, int32_t dx, int32_t dy,
                 int32_t width, int32_t height, int32_t mode) {
  if (!Usable(alpha) || !Usable(mask)) return;
  if (!image::ClipBlit(&x, &y, &dx, &dy, &width, &height, KnownWidth(alpha), KnownHeight(alpha),
                       KnownWidth(mask), KnownHeight(mask))) {
    return;
  }
  AlphaToMaskKernel(alpha->data, mask->data, alpha->bytesPerRow, mask->bytesPerRow, mode,
                    {x, y, dx, dy, width, height});
}

void CombineAlphaChannels(const qvPlane* a, qvPlane* b, int32_t factor, int32_t width,
                          int32_t height) {
  if (!Usable(a) || !Usable(b) || width < 1 || height < 1) return;
  if (a->bytesPerRow != b->bytesPerRow || a->bytesPerRow < width) return;
  // The rows' padding goes along: the run is every byte of the plane.
  ScaleBytesKernel(a->data, b->data, std::clamp(factor, 0, 255), a->bytesPerRow, height);
}

void FillAlphaRect(qvPlane* alpha, int32_t x, int32_t y, int32_t width, int32_t height,
                   uint8_t value) {
  if (!Usable(alpha)) return;
  int32_t sx = 0, sy = 0;
  // The rectangle is clipped as a copy from an unbounded source.
  if (!image::ClipBlit(&sx, &sy, &x, &y, &width, &height, -1, -1, KnownWidth(alpha),
                       KnownHeight(alpha))) {
    return;
  }
  FillBytesRectKernel(alpha->data, x, y, width, height, alpha->bytesPerRow, value);
}

void BltAlphaChannel(const qvPlane* coverage, int32_t sx, int32_t sy, qvBitMap* dst, int32_t dx,
                     int32_t dy, int32_t width, int32_t height, uint32_t colour, int32_t mode,
                     int32_t opacity, qvPlane* dstAlpha, const qvBitMap* source) {
  if (dst == nullptr) {
    OutputText("ERROR! BLTALPHACHANNEL() CALLED WITH DST=NULL!\n");
    return;
  }
  qvBitMapLock dl, sl;
  if (!Usable(coverage) || !LockBitMap(dst, &dl) || dl.bytesPerPixel != 4) return;
  if (mode == 3) return;  // its coverage is 16-bit
  if (mode == 2 && !Usable(dstAlpha)) return;
  if (source != nullptr && (!LockBitMap(source, &sl) || sl.bytesPerPixel != 4)) return;
  // The source pixels are read at the coverage's coordinates: their size narrows its clip.
  int64_t srcW = KnownWidth(coverage), srcH = KnownHeight(coverage);
  if (source != nullptr) {
    srcW = srcW < 0 ? sl.width : std::min<int64_t>(srcW, sl.width);
    srcH = srcH < 0 ? sl.height : std::min<int64_t>(srcH, sl.height);
  }
  int64_t dstW = dl.width, dstH = dl.height;
  if (mode == 2 && KnownWidth(dstAlpha) >= 0) {
    dstW = std::min<int64_t>(dstW, dstAlpha->width);
    dstH = std::min<int64_t>(dstH, dstAlpha->height);
  }
  if (!image::ClipBlit(&sx, &sy, &dx, &dy, &width, &height, srcW, srcH, dstW, dstH)) return;
  BltAlphaChannelRecord r{};
  r.cx = sx, r.cy = sy;
  r.dst = reinterpret_cast<uint32_t*>(dl.pixels);
  r.dx = dx, r.dy = dy, r.dstPixelsPerRow = dl.pixelsPerRow;
  r.width = width, r.height = height;
  r.coverage = coverage->data;
  r.coverageBytesPerRow = coverage->bytesPerRow;
  r.dstAlpha = mode == 2 ? dstAlpha->data : nullptr;
  r.dstAlphaBytesPerRow = mode == 2 ? dstAlpha->bytesPerRow : 0;
  r.format = dl.format;
  r.colour = ColorToPixelFormat(colour & 0xFFFFFF, dl.format);
  r.mode = mode;
  r.opacity = std::clamp(opacity, 0, 255);
  if (source != nullptr) {
    r.src = reinterpret_cast<const uint32_t*>(sl.pixels);
    r.srcPixelsPerRow = sl.pixelsPerRow;
  }
  BltAlphaChannelKernel(r);
}

int FillMaskShape(qvPlane* mask, const int32_t* points, int32_t count) {
  if (!Usable(mask) || points == nullptr || count < 3) return 0;
  if (mask->width < 1 || mask->height < 1) return 0;
  auto* crossings = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * size_t(count)));
  if (crossings == nullptr) return ERR_MEM;
  FillPolygonKernel(mask->data, mask->bytesPerRow, mask->width, mask->height, crossings, points,
                    count);
  std::free(crossings);
  return 0;
}

int32_t ClipPolygonEdge(int32_t count, const int32_t* points, int32_t* out, int32_t c,
                        int32_t kind) {
  int32_t written = 0;
  auto put = [&](int32_t x, int32_t y) {
    out[2 * ptrdiff_t{written}] = x;
    out[2 * ptrdiff_t{written} + 1] = y;
    ++written;
  };
  for (int32_t i = 0; i < count; ++i) {
    // The edge from point i to the next, the last closing back to the first.
    int32_t j = i + 1 < count ? i + 1 : 0;
    int32_t x1 = points[2 * ptrdiff_t{i}], y1 = points[2 * ptrdiff_t{i} + 1];
    int32_t x2 = points[2 * ptrdiff_t{j}], y2 = points[2 * ptrdiff_t{j} + 1];
    bool in1 = Inside(x1, y1, c, kind), in2 = Inside(x2, y2, c, kind);
    if (in1) put(x1, y1);
    if (in1 == in2) continue;
    int32_t x, y;
    double dx = double(x2) - x1, dy = double(y2) - y1;
    if (kind == kKeepXAtLeast || kind == kKeepXAtMost) {
      // The ends lie on both sides of x = c: they differ in x.
      x = c;
      y = DoubleToInt32(y1 + std::trunc(dy / dx * (double(c) - x1)));
    } else {
      y = c;
      // A vertical edge meets the boundary straight below or above its start; a slope of
      // (y2 - y1) / 0 would divide by zero.
      x = x1 == x2 ? x1 : DoubleToInt32(x1 + std::trunc((double(c) - y1) / (dy / dx)));
    }
    put(x, y);
  }
  return written;
}

int64_t EllipsePointCount(int32_t startAngle, int32_t endAngle) {
  if (endAngle < startAngle) return 0;
  int64_t n = int64_t{endAngle} - startAngle + 1;
  return startAngle == 0 && endAngle == 360 ? n : n + 2;
}

int32_t BuildEllipsePoints(int32_t* points, int32_t capacity, int32_t rx, int32_t ry,
                           int32_t startAngle, int32_t endAngle) {
  if (endAngle < startAngle || capacity < 1) return 0;
  const EllipseTables& t = Tables();
  const int64_t w = 2 * int64_t{rx} + 1, h = 2 * int64_t{ry} + 1;
  int32_t n = 0;
  auto put = [&](int64_t x, int64_t y) {
    if (n >= capacity) return;
    points[2 * ptrdiff_t{n}] = static_cast<int32_t>(std::clamp<int64_t>(x, INT32_MIN, INT32_MAX));
    points[2 * ptrdiff_t{n} + 1] = static_cast<int32_t>(
        std::clamp<int64_t>(y, INT32_MIN, INT32_MAX));
    ++n;
  };
  for (int64_t a = startAngle; a <= endAngle && n < capacity; ++a) {
    int32_t d = Degree(a);
    // Integer division truncates toward zero, as the outline's maths wants.
    put(rx + t.cosine[d] * w / 2048, ry + t.sine[d] * h / 2048);
  }
  if (!(startAngle == 0 && endAngle == 360) && n > 0) {
    int32_t fx = points[0], fy = points[1];
    put(rx, ry);
    put(fx, fy);
  }
  return n;
}

int32_t EllipseCos1024(int32_t degree) { return Tables().cosine[Degree(degree)]; }
int32_t EllipseSin1024(int32_t degree) { return Tables().sine[Degree(degree)]; }

}  // namespace qv
