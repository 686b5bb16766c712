// Video frame conversion: planar YUV 4:2:0 frames to the pixel formats, one to one or scaled to
// the destination size by the nearest source pixel. The scalar rows are the reference; the SIMD
// rows (yuv_x86.cpp) give the same bytes.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "image/image.h"
#include "image/internal.h"
#include "image/yuv_internal.h"

namespace qv::image {

void YuvRowScalar(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t n, uint8_t* dst,
                  int32_t format) {
  const int32_t bytes = YuvFormatBytes(format);
  for (int32_t x = 0; x < n; ++x)
    ConvertYuvPixel(dst + int64_t(x) * bytes, format, y[x], u[x >> 1], v[x >> 1]);
}

namespace {

YuvRowFn RowOfLevel(SimdLevel level) {
  YuvRowFn row = nullptr;
  if (level == SimdLevel::kAvx2) row = Avx2YuvRow();
  if (level == SimdLevel::kSse2) row = Sse2YuvRow();
  return row ? row : YuvRowScalar;
}

bool HasPlanes(const YUVFrameRecord& r) {
  return r.planes && r.strides && r.planes[0] && r.planes[1] && r.planes[2] && r.dst;
}

const uint8_t* PlaneRow(const YUVFrameRecord& r, int plane, int64_t row) {
  return r.planes[plane] + row * r.strides[plane];
}

// The scaled reference as the conversion is defined: rows by a single-precision sum, columns in
// 16.16 fixed point, per pixel. The row sum can overshoot the last row after many steps, so rows
// (and with them chroma rows) are held inside the frame; columns are held too, though their
// fixed-point walk never passes the width below 2^24 result columns.
void ScaleReference(const YUVFrameRecord& r, int32_t bytes, float rowRatio, int64_t step) {
  float s = 0.0f;
  for (int32_t j = 0; j < r.dstHeight; ++j, s += rowRatio) {
    const int64_t row = std::min<int64_t>(int64_t(s), r.srcHeight - 1);
    const uint8_t* ys = PlaneRow(r, 0, row);
    const uint8_t* us = PlaneRow(r, 1, row >> 1);
    const uint8_t* vs = PlaneRow(r, 2, row >> 1);
    uint8_t* d = r.dst + int64_t(j) * r.dstPixelsPerRow * bytes;
    int64_t u = 0;
    for (int32_t i = 0; i < r.dstWidth; ++i, u += step) {
      const int64_t col = std::min<int64_t>(u >> 16, r.srcWidth - 1);
      ConvertYuvPixel(d + int64_t(i) * bytes, r.format, ys[col], us[col >> 1], vs[col >> 1]);
    }
  }
}

// The fast scaled path: a result pixel at column u >> 16 reads luma there and chroma at
// u >> 17, which is where the one-to-one row puts that column's pixel. So each source row in use
// is converted once as it stands and its pixels picked by column, and a result row whose source
// row is the previous one's is a copy of that row. False without memory for the source row.
bool ScaleByRows(const YUVFrameRecord& r, int32_t bytes, float rowRatio, int64_t step,
                 YuvRowFn convert) {
  const int64_t lastColumn = (int64_t(r.dstWidth) - 1) * step >> 16;
  const bool inside = lastColumn < r.srcWidth;
  const int32_t used = int32_t(std::min<int64_t>(lastColumn, r.srcWidth - 1) + 1);
  auto* line = static_cast<uint8_t*>(Allocate(size_t(used) * size_t(bytes), false));
  if (!line) return false;
  const int64_t dstBytesPerRow = int64_t(r.dstPixelsPerRow) * bytes;
  const size_t rowBytes = size_t(r.dstWidth) * size_t(bytes);
  int64_t previous = -1;
  float s = 0.0f;
  for (int32_t j = 0; j < r.dstHeight; ++j, s += rowRatio) {
    const int64_t row = std::min<int64_t>(int64_t(s), r.srcHeight - 1);
    uint8_t* d = r.dst + j * dstBytesPerRow;
    if (row == previous) {
      std::memcpy(d, d - dstBytesPerRow, rowBytes);
      continue;
    }
    previous = row;
    convert(PlaneRow(r, 0, row), PlaneRow(r, 1, row >> 1), PlaneRow(r, 2, row >> 1), used, line,
            r.format);
    if (bytes == 4 && inside) {
      gPaths.nearestRow(reinterpret_cast<uint32_t*>(d), reinterpret_cast<const uint32_t*>(line),
                        step, r.dstWidth);
      continue;
    }
    int64_t u = 0;
    for (int32_t i = 0; i < r.dstWidth; ++i, u += step) {
      const int64_t col = std::min<int64_t>(u >> 16, used - 1);
      std::memcpy(d + int64_t(i) * bytes, line + col * bytes, size_t(bytes));
    }
  }
  std::free(line);
  return true;
}

}  // namespace

}  // namespace qv::image

namespace qv {

using image::YuvFormatBytes;

void YUVToRGBKernel(const YUVFrameRecord& r) {
  if (!image::HasPlanes(r) || r.srcWidth < 1 || r.srcHeight < 1) return;
  if (r.dstPixelsPerRow < r.srcWidth) return;
  const int32_t bytes = YuvFormatBytes(r.format);
  if (bytes == 0 || bytes != r.bytesPerPixel) return;
  const image::YuvRowFn convert = image::RowOfLevel(CurrentSimdLevel());
  const int64_t dstBytesPerRow = int64_t(r.dstPixelsPerRow) * bytes;
  for (int32_t j = 0; j < r.srcHeight; ++j) {
    convert(image::PlaneRow(r, 0, j), image::PlaneRow(r, 1, j >> 1), image::PlaneRow(r, 2, j >> 1),
            r.srcWidth, r.dst + j * dstBytesPerRow, r.format);
  }
}

void YUVToRGBScaleKernel(const YUVFrameRecord& r) {
  if (!image::HasPlanes(r) || r.srcWidth < 1 || r.srcHeight < 1) return;
  if (r.dstWidth < 1 || r.dstHeight < 1 || r.dstPixelsPerRow < r.dstWidth) return;
  const int32_t bytes = YuvFormatBytes(r.format);
  if (bytes == 0) return;
  const float columnRatio = float(r.srcWidth) / float(r.dstWidth);
  const float rowRatio = float(r.srcHeight) / float(r.dstHeight);
  const int64_t step = int64_t(columnRatio * 65536.0f);
  const SimdLevel level = CurrentSimdLevel();
  if (level != SimdLevel::kScalar &&
      image::ScaleByRows(r, bytes, rowRatio, step, image::RowOfLevel(level)))
    return;
  image::ScaleReference(r, bytes, rowRatio, step);
}

}  // namespace qv
