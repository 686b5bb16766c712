// The rotator: every result pixel is mapped back through the inverse of a 2 x 2 matrix plus an
// offset and sampled nearest or bilinear, with the mask or alpha plane as the second plane.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "base/errors.h"
#include "base/support.h"
#include "image/image.h"
#include "image/internal.h"
#include "image/plane_rows.h"

namespace qv {

namespace {

// Sizes and offsets from doubles that may be huge or not finite: NaN gives 0, the rest saturates,
// so a wild matrix asks for a bitmap that cannot be had instead of wrapping around.
int32_t SaturateToInt(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return TruncateToInt(v);
}

int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

// The interval of x for which k + coef x lies in [0, size]; false when it is empty.
bool SolveInside(double coef, double k, double size, double* lo, double* hi) {
  if (std::fabs(coef) < 1e-10) {
    if (k >= 0.0 && k <= size) {
      *lo = -HUGE_VAL;
      *hi = HUGE_VAL;
      return true;
    }
    return false;
  }
  double a = (0.0 - k) / coef, b = (size - k) / coef;
  *lo = std::min(a, b);
  *hi = std::max(a, b);
  return true;
}

bool Inverse(const double* t, double inv[6]) {
  double a = t[0], b = t[1], c = t[2], d = t[3], e = t[4], f = t[5];
  double det = a * d - c * b;
  if (det == 0.0 || !std::isfinite(det)) return false;
  inv[0] = d / det;
  inv[1] = -b / det;
  inv[2] = -c / det;
  inv[3] = a / det;
  inv[4] = -e * inv[0] - f * inv[2];
  inv[5] = -e * inv[1] - f * inv[3];
  for (int i = 0; i < 6; ++i)
    if (!std::isfinite(inv[i])) return false;
  return true;
}

inline uint32_t ColourBytes(int32_t format) {
  return format == kPixBGRx32 || format == kPixRGBx32 ? 0xFFFFFF00u : 0x00FFFFFFu;
}

inline double Mix4(double c00, double c01, double c10, double c11, double fx, double fy) {
  return (c00 * (1 - fx) + c01 * fx) * (1 - fy) + (c10 * (1 - fx) + c11 * fx) * fy;
}

// The channels of four neighbours weighted, rounded by adding 0.5 and truncated; the spare byte 0.
uint32_t SampleBilinear(uint32_t p00, uint32_t p01, uint32_t p10, uint32_t p11, double fx,
                        double fy, uint32_t colourBytes) {
  uint32_t out = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    if (!((colourBytes >> shift) & 0xFF)) continue;
    double v = Mix4((p00 >> shift) & 0xFF, (p01 >> shift) & 0xFF, (p10 >> shift) & 0xFF,
                    (p11 >> shift) & 0xFF, fx, fy);
    out |= uint32_t(TruncateToInt(v + 0.5) & 0xFF) << shift;
  }
  return out;
}

}  // namespace

namespace image {

void SmoothNeighbours(double s, int32_t size, int32_t* first, int32_t* second) {
  // Floor, not truncation: a point just left of column 0 weighs column 0 against itself, where
  // truncation would weigh in column 1 (the far side of the edge pixel).
  const int64_t i = TruncateToInt(std::floor(s));  // NaN and huge values: INT_MIN, held at 0
  *first = int32_t(std::clamp<int64_t>(i, 0, size - 1));
  *second = int32_t(std::clamp<int64_t>(i + 1, 0, size - 1));
}

void RotateRowScalar(uint32_t* d, int32_t x0, int32_t x1, int32_t y, const double inv[6],
                     const uint32_t* src, int32_t srcPixelsPerRow, int32_t width, int32_t height) {
  for (int32_t x = x0; x <= x1; ++x) {
    double sx = inv[0] * x + inv[2] * y + inv[4];
    double sy = inv[1] * x + inv[3] * y + inv[5];
    int32_t ix = Clamp(TruncateToInt(sx), 0, width - 1);
    int32_t iy = Clamp(TruncateToInt(sy), 0, height - 1);
    d[x] = src[int64_t(iy) * srcPixelsPerRow + ix];
  }
}

void RotateSmoothRowScalar(uint32_t* d, int32_t x0, int32_t x1, int32_t y, const double inv[6],
                           const uint32_t* src, int32_t srcPixelsPerRow, int32_t width,
                           int32_t height, uint32_t colourBytes) {
  for (int32_t x = x0; x <= x1; ++x) {
    double sx = inv[0] * x + inv[2] * y + inv[4];
    double sy = inv[1] * x + inv[3] * y + inv[5];
    int32_t ix, iy, ix1, iy1;
    SmoothNeighbours(sx, width, &ix, &ix1);
    SmoothNeighbours(sy, height, &iy, &iy1);
    double fx = sx - std::floor(sx), fy = sy - std::floor(sy);
    const uint32_t* r0 = src + int64_t(iy) * srcPixelsPerRow;
    const uint32_t* r1 = src + int64_t(iy1) * srcPixelsPerRow;
    d[x] = SampleBilinear(r0[ix], r0[ix1], r1[ix], r1[ix1], fx, fy, colourBytes);
  }
}

}  // namespace image

bool RotateRowRange(const RotateRecord& r, const double inverse[6], int32_t y, int32_t* first,
                    int32_t* last) {
  double lo1, hi1, lo2, hi2;
  if (!SolveInside(inverse[0], inverse[2] * y + inverse[4], r.srcWidth, &lo1, &hi1) ||
      !SolveInside(inverse[1], inverse[3] * y + inverse[5], r.srcHeight, &lo2, &hi2))
    return false;
  double lo = std::max(lo1, lo2), hi = std::min(hi1, hi2);
  if (lo > hi) return false;
  double f = std::max(std::ceil(lo - 0.5), 0.0);
  double l = std::min(std::floor(hi + 0.5), double(r.dstWidth - 1));
  if (f > l) return false;
  *first = int32_t(f);
  *last = int32_t(l);
  return true;
}

void RotateKernel(const RotateRecord& r) {
  if (r.srcWidth < 1 || r.srcHeight < 1 || r.dstWidth < 1 || r.dstHeight < 1 || !r.transform)
    return;
  const double* t = r.transform;
  double inv[6];
  if (!Inverse(t, inv)) return;  // a singular matrix has no source point for any pixel
  // Each result pixel (x, y) is sampled at its own back-mapped point. A quarter turn or a mirror
  // maps onto whole source positions, which the rounding of cos and sin or of the inverse leaves
  // a hair below or above; truncating there would drop a row or a column and repeat its
  // neighbour. The nearest sampler and the row ranges take the point a little forward, far
  // below anything a pixel can show.
  constexpr double kNudge = 1e-9;
  const double nudged[6] = {inv[0], inv[1], inv[2], inv[3], inv[4] + kNudge, inv[5] + kNudge};

  double minY = HUGE_VAL, maxY = -HUGE_VAL;
  const double cx[4] = {0, double(r.srcWidth), 0, double(r.srcWidth)};
  const double cy[4] = {0, 0, double(r.srcHeight), double(r.srcHeight)};
  for (int i = 0; i < 4; ++i) {
    double y = t[1] * cx[i] + t[3] * cy[i] + t[5];
    minY = std::min(minY, y);
    maxY = std::max(maxY, y);
  }
  double y0 = std::max(std::ceil(minY - 0.5), 0.0);
  double y1 = std::min(std::floor(maxY + 0.5), double(r.dstHeight - 1));
  if (!(y0 <= y1)) return;

  const bool pixels = r.src && r.dst && r.bytesPerPixel == 4;
  const uint32_t colourBytes = ColourBytes(r.format);
  const int32_t w = r.srcWidth, h = r.srcHeight;
  auto srcPixel = [&](int32_t x, int32_t y) {
    return reinterpret_cast<const uint32_t*>(r.src)[int64_t(y) * r.srcPixelsPerRow + x];
  };
  auto opaque = [&](int32_t x, int32_t y) {
    return !r.srcMask ||
           image::MaskBit(r.srcMask + int64_t(y) * r.srcMaskBytesPerRow, int64_t(x) + r.srcLeft);
  };
  auto srcAlpha = [&](int32_t x, int32_t y) {
    return r.srcAlpha[int64_t(y) * r.srcAlphaBytesPerRow + x];
  };

  // A masked picture turned smoothly: groups of pixels whose neighbours are all opaque go by the
  // SIMD rows; `done` marks them for the row's loop below.
  uint8_t* done = nullptr;
  if (r.srcMask && !r.srcAlpha && r.smooth && image::MaskedRotateRowsApply())
    done = static_cast<uint8_t*>(image::Allocate(size_t(r.dstWidth), false));
  const image::MaskedRotateSource masked{
      pixels ? reinterpret_cast<const uint32_t*>(r.src) : nullptr,
      r.srcPixelsPerRow,
      r.srcMask,
      r.srcMaskBytesPerRow,
      r.srcLeft,
      w,
      h,
      colourBytes};

  for (int32_t y = int32_t(y0); y <= int32_t(y1); ++y) {
    int32_t first, last;
    if (!RotateRowRange(r, nudged, y, &first, &last)) continue;
    auto* d = reinterpret_cast<uint32_t*>(r.dst) + int64_t(y) * r.dstPixelsPerRow;
    uint8_t* dm = r.dstMask ? r.dstMask + int64_t(y) * r.dstMaskBytesPerRow : nullptr;
    uint8_t* da = r.dstAlpha ? r.dstAlpha + int64_t(y) * r.dstAlphaBytesPerRow : nullptr;
    if (!r.srcMask && !r.srcAlpha) {
      // The common case: the pixels by rows, the whole interval marked opaque.
      if (pixels && r.smooth)
        image::gPaths.rotateSmoothRow(d, first, last, y, inv,
                                      reinterpret_cast<const uint32_t*>(r.src), r.srcPixelsPerRow,
                                      w, h, colourBytes);
      else if (pixels)
        image::gPaths.rotateRow(d, first, last, y, nudged, reinterpret_cast<const uint32_t*>(r.src),
                                r.srcPixelsPerRow, w, h);
      if (dm)
        for (int32_t x = first; x <= last; ++x) image::SetMaskBit(dm, x);
      continue;
    }
    if (!r.srcMask) {
      // An alpha plane without a mask: every neighbour is opaque, so the pixels are the plain
      // rows' and the alpha has rows of its own.
      if (pixels && r.smooth)
        image::gPaths.rotateSmoothRow(d, first, last, y, inv,
                                      reinterpret_cast<const uint32_t*>(r.src), r.srcPixelsPerRow,
                                      w, h, colourBytes);
      else if (pixels)
        image::gPaths.rotateRow(d, first, last, y, nudged, reinterpret_cast<const uint32_t*>(r.src),
                                r.srcPixelsPerRow, w, h);
      if (da)
        image::RotateAlphaRow(da, first, last, y, r.smooth ? inv : nudged, r.srcAlpha,
                              r.srcAlphaBytesPerRow, w, h, r.smooth);
      if (dm)
        for (int32_t x = first; x <= last; ++x) image::SetMaskBit(dm, x);
      continue;
    }
    if (done) {
      image::RotateMaskedRowAvx2(reinterpret_cast<uint32_t*>(d), dm, done, first, last, y, inv,
                                 nudged, masked);
    }
    for (int32_t x = first; x <= last; ++x) {
      if (done && done[x - first]) continue;
      // The nearest source pixel: it gives the pixel, or with smoothing the mask bit.
      int32_t ix = Clamp(TruncateToInt(nudged[0] * x + nudged[2] * y + nudged[4]), 0, w - 1);
      int32_t iy = Clamp(TruncateToInt(nudged[1] * x + nudged[3] * y + nudged[5]), 0, h - 1);
      bool transparent = false;
      int alphaOut = 0;
      if (!r.smooth) {
        if (pixels) d[x] = srcPixel(ix, iy);
        if (r.srcAlpha) alphaOut = srcAlpha(ix, iy);
      } else {
        double sx = inv[0] * x + inv[2] * y + inv[4];
        double sy = inv[1] * x + inv[3] * y + inv[5];
        int32_t sx0, sx1, sy0, sy1;
        image::SmoothNeighbours(sx, w, &sx0, &sx1);
        image::SmoothNeighbours(sy, h, &sy0, &sy1);
        const int32_t px[4] = {sx0, sx1, sx0, sx1}, py[4] = {sy0, sy0, sy1, sy1};
        double fx = sx - std::floor(sx), fy = sy - std::floor(sy);
        // Transparent neighbours take the colour of the first opaque one, so edges do not
        // bleed the colour hidden under the mask.
        int firstOpaque = -1;
        bool op[4];
        for (int i = 0; i < 4; ++i) {
          op[i] = opaque(px[i], py[i]);
          if (op[i] && firstOpaque < 0) firstOpaque = i;
        }
        transparent = firstOpaque < 0;
        if (pixels && !transparent) {
          uint32_t p[4];
          for (int i = 0; i < 4; ++i)
            p[i] = srcPixel(op[i] ? px[i] : px[firstOpaque], op[i] ? py[i] : py[firstOpaque]);
          d[x] = SampleBilinear(p[0], p[1], p[2], p[3], fx, fy, colourBytes);
        }
        if (r.srcAlpha)
          alphaOut = TruncateToInt(Mix4(srcAlpha(px[0], py[0]), srcAlpha(px[1], py[1]),
                                        srcAlpha(px[2], py[2]), srcAlpha(px[3], py[3]), fx, fy) +
                                   0.5) &
                     0xFF;
      }
      if (da && r.srcAlpha) da[x] = uint8_t(alphaOut);
      if (dm) {
        bool on = r.srcMask ? (!transparent && opaque(ix, iy)) : true;
        image::PutMaskBit(dm, x, on);
      }
    }
  }
  std::free(done);
}

void GetRotatedBox(const double matrix[4], int32_t width, int32_t height, int32_t* outWidth,
                   int32_t* outHeight, int32_t* outLeft, int32_t* outTop) {
  const double cx[4] = {0, double(width), double(width), 0};
  const double cy[4] = {0, 0, double(height), double(height)};
  double minX = HUGE_VAL, maxX = -HUGE_VAL, minY = HUGE_VAL, maxY = -HUGE_VAL;
  for (int i = 0; i < 4; ++i) {
    // The size: corners rounded half up on both sides of 0, since truncating a negative corner
    // would lose a row or a column of every turned or mirrored picture.
    double x = std::floor(matrix[0] * cx[i] + matrix[2] * cy[i] + 0.5);
    double y = std::floor(matrix[1] * cx[i] + matrix[3] * cy[i] + 0.5);
    minX = std::min(minX, x);
    maxX = std::max(maxX, x);
    minY = std::min(minY, y);
    maxY = std::max(maxY, y);
  }
  if (outWidth) *outWidth = SaturateToInt(std::ceil(maxX - minX - 0.5));
  if (outHeight) *outHeight = SaturateToInt(std::ceil(maxY - minY - 0.5));
  // The offset: the least corner with half added and truncated toward 0. Sampling pixel (x, y) at
  // its back-mapped point, a picture turned or mirrored by this offset reads source column
  // w - 1 - x for a far corner of -w, so every column and row is read exactly once.
  auto offset = [](double least) { return SaturateToInt(std::trunc(least + 0.5)); };
  if (outLeft || outTop) {
    double leastX = HUGE_VAL, leastY = HUGE_VAL;
    for (int i = 0; i < 4; ++i) {
      leastX = std::min(leastX, matrix[0] * cx[i] + matrix[2] * cy[i]);
      leastY = std::min(leastY, matrix[1] * cx[i] + matrix[3] * cy[i]);
    }
    if (outLeft) *outLeft = offset(leastX);
    if (outTop) *outTop = offset(leastY);
  }
}

int RotateBitMap(const qvBitMap* bitmap, const qvPlane* mask, const qvPlane* alpha, int32_t left,
                 int32_t top, int32_t width, int32_t height, const double matrix[4], bool smooth,
                 qvBitMap** outBitmap, qvPlane** outMask, qvPlane** outAlpha, int32_t* outWidth,
                 int32_t* outHeight) {
  if (mask && !mask->data) mask = nullptr;
  if (alpha && !alpha->data) alpha = nullptr;
  auto inside = [&](const qvPlane* p) {
    if (p->width <= 0 && p->height <= 0) return true;  // wrapped rows: the caller's to know
    return int64_t(left) + width <= p->width && int64_t(top) + height <= p->height;
  };
  if (!matrix || width < 1 || height < 1 || left < 0 || top < 0 ||
      (bitmap &&
       (int64_t(left) + width > bitmap->width || int64_t(top) + height > bitmap->height)) ||
      (mask && !inside(mask)) || (alpha && !inside(alpha)))
    return ERR_OUTOFRANGE;

  int32_t newWidth, newHeight, boxLeft, boxTop;
  GetRotatedBox(matrix, width, height, &newWidth, &newHeight, &boxLeft, &boxTop);
  newWidth = std::max(newWidth, 1);
  newHeight = std::max(newHeight, 1);

  qvBitMap* newBitmap = nullptr;
  qvPlane* newMask = nullptr;
  qvPlane* newAlpha = nullptr;
  auto freeMade = [&] {
    FreeBitMap(newBitmap);
    FreeMaskOrAlpha(newMask);
    FreeMaskOrAlpha(newAlpha);
  };
  if (bitmap) {
    newBitmap = AllocBitMap(newWidth, newHeight);
    if (!newBitmap) return ERR_MEM;
    // Cleared: the corners outside the picture, and every pixel of a singular matrix, stay 0.
    std::memset(newBitmap->pixels, 0, size_t(newBitmap->bytesPerRow) * (size_t(newHeight) + 1));
  }
  if (alpha)
    newAlpha = AllocAlphaChannel(newWidth, newHeight, true);
  else
    newMask = AllocMask(newWidth, newHeight, true);
  if (!newAlpha && !newMask) {
    freeMade();
    return ERR_MEM;
  }

  RotateRecord r{};
  qvBitMapLock sl{}, dl{};
  if (bitmap) {
    if (!LockBitMap(bitmap, &sl) || !LockBitMap(newBitmap, &dl)) {
      freeMade();
      return ERR_LOCKBMAP;
    }
    r.src = sl.pixels + int64_t(top) * bitmap->bytesPerRow + int64_t(left) * sl.bytesPerPixel;
    r.dst = dl.pixels;
    r.srcPixelsPerRow = sl.pixelsPerRow;
    r.dstPixelsPerRow = dl.pixelsPerRow;
    r.format = sl.format;
    r.bytesPerPixel = sl.bytesPerPixel;
  }
  if (mask) {
    r.srcMask = mask->data + int64_t(top) * mask->bytesPerRow;
    r.srcMaskBytesPerRow = mask->bytesPerRow;
  }
  if (alpha) {
    r.srcAlpha = alpha->data + int64_t(top) * alpha->bytesPerRow + left;
    r.srcAlphaBytesPerRow = alpha->bytesPerRow;
  }
  if (newMask) {
    r.dstMask = newMask->data;
    r.dstMaskBytesPerRow = newMask->bytesPerRow;
  }
  if (newAlpha) {
    r.dstAlpha = newAlpha->data;
    r.dstAlphaBytesPerRow = newAlpha->bytesPerRow;
  }
  const double transform[6] = {matrix[0], matrix[1],        matrix[2],
                               matrix[3], -double(boxLeft), -double(boxTop)};
  r.srcLeft = left;
  r.srcTop = top;
  r.srcWidth = width;
  r.srcHeight = height;
  r.dstWidth = newWidth;
  r.dstHeight = newHeight;
  r.transform = transform;
  r.smooth = smooth;
  RotateKernel(r);
  UnLockBitMap(&sl);
  UnLockBitMap(&dl);
  if (outBitmap)
    *outBitmap = newBitmap;
  else
    FreeBitMap(newBitmap);
  if (outMask)
    *outMask = newMask;
  else
    FreeMaskOrAlpha(newMask);
  if (outAlpha)
    *outAlpha = newAlpha;
  else
    FreeMaskOrAlpha(newAlpha);
  if (outWidth) *outWidth = newWidth;
  if (outHeight) *outHeight = newHeight;
  return 0;
}

}  // namespace qv
