// Alpha blits between bitmaps and 8-bit planes, and the box of a transformed rectangle.
#include <algorithm>
#include <cmath>

#include "base/support.h"
#include "image/image.h"
#include "image/internal.h"
#include "platform/textout.h"

namespace qv {

namespace {

// A plane's size for clipping: wrapped rows know none.
int64_t KnownWidth(const qvPlane* p) { return p->width > 0 || p->height > 0 ? p->width : -1; }
int64_t KnownHeight(const qvPlane* p) { return p->width > 0 || p->height > 0 ? p->height : -1; }

}  // namespace

void BltAlphaBitMap(const qvBitMap* src, int32_t sx, int32_t sy, qvBitMap* dst, int32_t dx,
                    int32_t dy, int32_t width, int32_t height, const qvPlane* alpha,
                    bool copyWhereNonZero) {
  if (!dst) {
    OutputText("ERROR! BLTALPHABITMAP() CALLED WITH DST=NULL!\n");
    return;
  }
  qvBitMapLock sl, dl;
  if (!LockBitMap(src, &sl) || !LockBitMap(dst, &dl) || !alpha || !alpha->data) return;
  if (sl.bytesPerPixel != 4 || dl.bytesPerPixel != 4) return;
  // The alpha is read at the source's coordinates: the source's clip is narrowed to it.
  int64_t srcW = sl.width, srcH = sl.height;
  if (KnownWidth(alpha) >= 0) {
    srcW = std::min<int64_t>(srcW, alpha->width);
    srcH = std::min<int64_t>(srcH, alpha->height);
  }
  if (!image::ClipBlit(&sx, &sy, &dx, &dy, &width, &height, srcW, srcH, dl.width, dl.height))
    return;
  const auto* s = reinterpret_cast<const uint32_t*>(sl.pixels);
  auto* d = reinterpret_cast<uint32_t*>(dl.pixels);
  if (copyWhereNonZero) {
    CopyThroughByteMaskRecord r{};
    r.src = s, r.sx = sx, r.sy = sy;
    r.byteMask = alpha->data, r.byteMaskTop = sy, r.byteMaskLeft = sx;
    r.byteMaskBytesPerRow = alpha->bytesPerRow;
    r.srcPixelsPerRow = sl.pixelsPerRow;
    r.dst = d, r.dx = dx, r.dy = dy, r.dstPixelsPerRow = dl.pixelsPerRow;
    r.width = width, r.height = height;
    CopyThroughByteMaskKernel(r);
    return;
  }
  BltAlphaBitMapRecord r{};
  r.src = s, r.sx = sx, r.sy = sy, r.ax = sx, r.ay = sy;
  r.srcPixelsPerRow = sl.pixelsPerRow;
  r.dst = d, r.dx = dx, r.dy = dy, r.dstPixelsPerRow = dl.pixelsPerRow;
  r.width = width, r.height = height;
  r.alpha = alpha->data;
  r.alphaBytesPerRow = alpha->bytesPerRow;
  r.format = dl.format;
  BltAlphaBitMapKernel(r);
}

void CopyAlphaRect(const qvPlane* src, int32_t sx, int32_t sy, qvPlane* dst, int32_t dx, int32_t dy,
                   int32_t width, int32_t height, int32_t mode, int32_t value) {
  if (!src || !dst || !src->data || !dst->data) return;
  if (!image::ClipBlit(&sx, &sy, &dx, &dy, &width, &height, KnownWidth(src), KnownHeight(src),
                       KnownWidth(dst), KnownHeight(dst)))
    return;
  BltBytesRecord r{};
  r.src = src->data, r.sx = sx, r.sy = sy;
  r.dst = dst->data, r.dx = dx, r.dy = dy;
  r.width = width, r.height = height;
  r.srcBytesPerRow = src->bytesPerRow;
  r.dstBytesPerRow = dst->bytesPerRow;
  r.mode = mode;
  r.value = value;
  BltBytesKernel(r);
}

void GetTransformedBounds(int32_t x, int32_t y, int32_t width, int32_t height, double anchorX,
                          double anchorY, const double matrix[4], int32_t* outX, int32_t* outY,
                          int32_t* outWidth, int32_t* outHeight) {
  const double ax = anchorX * width, ay = anchorY * height;
  const double cx[4] = {0, double(width) - 1, 0, double(width) - 1};
  const double cy[4] = {0, 0, double(height) - 1, double(height) - 1};
  double minX = 0, maxX = 0, minY = 0, maxY = 0;
  for (int i = 0; i < 4; ++i) {
    double px = matrix[0] * (cx[i] - ax) + matrix[2] * (cy[i] - ay) + ax;
    double py = matrix[1] * (cx[i] - ax) + matrix[3] * (cy[i] - ay) + ay;
    // The box starts from the first corner: fixed sentinels would cut boxes beyond them.
    if (i == 0) {
      minX = maxX = px;
      minY = maxY = py;
      continue;
    }
    minX = std::min(minX, px), maxX = std::max(maxX, px);
    minY = std::min(minY, py), maxY = std::max(maxY, py);
  }
  if (outX) *outX = TruncateToInt(x + minX);
  if (outY) *outY = TruncateToInt(y + minY);
  if (outWidth) *outWidth = TruncateToInt(maxX - minX + 1);
  if (outHeight) *outHeight = TruncateToInt(maxY - minY + 1);
}

}  // namespace qv
