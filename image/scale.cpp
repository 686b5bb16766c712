// The scaler: a hard path (nearest pixel, 16.16 columns, single-precision row sum) and a smooth
// path (bilinear from step and fraction tables), with the mask and the alpha plane alongside.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/errors.h"
#include "image/image.h"
#include "image/internal.h"
#include "image/plane_rows.h"

namespace qv {

namespace {

// The index tables of the calling thread: the script thread and a video thread never share
// them. They only grow, and a failed growth keeps the old ones.
struct ThreadScaleTables {
  uint32_t* columnFraction = nullptr;
  uint32_t* columnStep = nullptr;
  uint32_t* rowFraction = nullptr;
  uint32_t* rowStep = nullptr;
  int64_t columnCapacity = 0;  // largest new width the tables hold (entries: capacity + 1)
  int64_t rowCapacity = 0;
  void Free() {
    std::free(columnFraction);
    std::free(columnStep);
    std::free(rowFraction);
    std::free(rowStep);
    columnFraction = columnStep = rowFraction = rowStep = nullptr;
    columnCapacity = rowCapacity = 0;
  }
  ~ThreadScaleTables() { Free(); }
};
thread_local ThreadScaleTables tTables;

bool GrowPair(uint32_t** a, uint32_t** b, int64_t* capacity, int64_t wanted) {
  if (wanted <= *capacity) return true;
  size_t bytes = size_t(wanted + 1) * sizeof(uint32_t);
  auto* na = static_cast<uint32_t*>(image::Allocate(bytes, false));
  auto* nb = static_cast<uint32_t*>(image::Allocate(bytes, false));
  if (!na || !nb) {
    std::free(na);
    std::free(nb);
    return false;
  }
  std::free(*a);
  std::free(*b);
  *a = na;
  *b = nb;
  *capacity = wanted;
  return true;
}

// Fills n + 1 entries: the fraction of each result pixel and the source pixels to advance before
// it (entry 0 is 0).
void FillStepTable(uint32_t* fraction, uint32_t* step, int32_t size, int32_t newSize) {
  int64_t delta = int64_t((double(size) * 65536.0 - 65536.0) / double(newSize));
  int64_t u = 0;
  for (int32_t i = 0; i <= newSize; ++i) {
    fraction[i] = uint32_t(u & 0xFFFF);
    step[i] = uint32_t(u >> 16);
    u = (u & 0xFFFF) + delta;
  }
}

inline int Lerp16(int a, int b, int f) { return a + (((b - a) * f) >> 16); }

inline int Bilinear(int p00, int p01, int p10, int p11, int fx, int fy) {
  int top = Lerp16(p00, p01, fx);
  int bottom = Lerp16(p10, p11, fx);
  return Lerp16(top, bottom, fy);
}

// The byte positions of the three colour channels: everything but the spare byte.
inline uint32_t ColourBytes(int32_t format) {
  return format == kPixBGRx32 || format == kPixRGBx32 ? 0xFFFFFF00u : 0x00FFFFFFu;
}

inline uint32_t BilinearPixel(uint32_t p00, uint32_t p01, uint32_t p10, uint32_t p11, int fx,
                              int fy, uint32_t colourBytes) {
  uint32_t out = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    if (!((colourBytes >> shift) & 0xFF)) continue;
    auto channel = [shift](uint32_t p) { return int((p >> shift) & 0xFF); };
    int v = Bilinear(channel(p00), channel(p01), channel(p10), channel(p11), fx, fy);
    out |= uint32_t(v) << shift;
  }
  return out;
}

// The hard path's row walk: the row sum runs in single precision as it always has, and is
// clamped so that rounding at large upscales never steps past the last row.
template <typename RowFn>
void ForEachHardRow(int32_t height, int32_t newHeight, float rowRatio, RowFn fn) {
  float s = 0.0f;
  for (int32_t j = 0; j < newHeight; ++j) {
    int64_t row = int64_t(s);
    fn(j, int32_t(std::min<int64_t>(row, height - 1)));
    s += rowRatio;
  }
}

inline int64_t ColumnStep(float columnRatio) { return int64_t(columnRatio * 65536.0f); }

void ScaleSmooth(const ScaleRecord& r) {
  const ScaleTables& t = r.tables;
  if (!t.columnFraction || !t.columnStep || !t.rowFraction || !t.rowStep) return;
  FillStepTable(t.columnFraction, t.columnStep, r.width, r.newWidth);
  FillStepTable(t.rowFraction, t.rowStep, r.height, r.newHeight);
  const bool pixels = r.src && r.dst && r.bytesPerPixel == 4 && r.format >= kPixARGB32 &&
                      r.format <= kPixxBGR32;
  const bool mask = r.srcMask && r.dstMask;
  const bool alpha = r.srcAlpha && r.dstAlpha;
  const uint32_t colourBytes = ColourBytes(r.format);
  // The columns every row reads, for the alpha and mask rows; without room for them each row
  // walks the step table itself.
  int32_t* columns = nullptr;
  if (mask || alpha) {
    columns = static_cast<int32_t*>(
        image::Allocate(size_t(r.newWidth) * 2 * sizeof(int32_t), false));
    if (columns) {
      int64_t col = 0;
      for (int32_t i = 0; i < r.newWidth; ++i) {
        col = std::min<int64_t>(col + t.columnStep[i], r.width - 1);
        columns[i] = int32_t(col);
        columns[r.newWidth + i] = int32_t(std::min<int64_t>(col + 1, r.width - 1));
      }
    }
  }
  image::SmoothColumns smoothColumns{columns, columns ? columns + r.newWidth : nullptr,
                                     t.columnFraction};
  // The alpha rows' plan, made once for all rows (aligned for its vector loads); without room
  // for it the rows work out their columns each time.
  uint8_t* plan = nullptr;
  if (columns && alpha) {
    plan = static_cast<uint8_t*>(
        AllocAligned(size_t(r.newWidth / 8 + 1) * image::kSmoothAlphaPlanBytes));
    if (plan) {
      smoothColumns.plan = plan;
      smoothColumns.planChunks = image::BuildSmoothAlphaPlan(
          smoothColumns, r.newWidth, r.srcAlphaBytesPerRow - r.srcLeft, plan);
    }
  }
  // Where the path has the two passes, each source row is weighed across once and kept in a
  // ring of two while the result rows that read it are made: an upscale reads each source row
  // for two or three result rows. Without room for the ring every row weighs its own.
  const auto sourceRow = image::gPaths.smoothSourceRow;
  const auto blendRow = image::gPaths.smoothBlendRow;
  uint32_t* ring = nullptr;
  if (pixels && sourceRow && blendRow)
    ring = static_cast<uint32_t*>(
        image::Allocate(size_t(r.newWidth) * 2 * sizeof(uint32_t), false));
  int64_t held[2] = {-1, -1};
  // The ring slot holding source row want, weighed into the slot other than keep if absent.
  auto weighed = [&](int64_t want, int keep) {
    if (held[0] == want) return 0;
    if (held[1] == want) return 1;
    int k = keep == 0 ? 1 : 0;
    sourceRow(ring + int64_t(k) * r.newWidth,
              reinterpret_cast<const uint32_t*>(r.src) + want * r.srcPixelsPerRow, t.columnStep,
              t.columnFraction, r.newWidth, r.width);
    held[k] = want;
    return k;
  };
  int64_t row = 0;
  for (int32_t j = 0; j < r.newHeight; ++j) {
    row = std::min<int64_t>(row + t.rowStep[j], r.height - 1);
    int64_t row1 = std::min<int64_t>(row + 1, r.height - 1);  // a one-row source reads itself
    int fy = int(t.rowFraction[j]);
    if (ring) {
      // A zero fy, or one row read twice, leaves the first row as it is: Lerp16(a, b, 0) = a.
      const bool one = fy == 0 || row1 == row;
      int k0 = weighed(row, one ? -1 : held[0] == row1 ? 0 : held[1] == row1 ? 1 : -1);
      int k1 = one ? k0 : weighed(row1, k0);
      blendRow(reinterpret_cast<uint32_t*>(r.dst) + int64_t(j) * r.dstPixelsPerRow,
               ring + int64_t(k0) * r.newWidth, ring + int64_t(k1) * r.newWidth, r.newWidth, fy,
               colourBytes);
    } else if (pixels) {
      image::gPaths.smoothRow(reinterpret_cast<uint32_t*>(r.dst) + int64_t(j) * r.dstPixelsPerRow,
                              reinterpret_cast<const uint32_t*>(r.src) + row * r.srcPixelsPerRow,
                              reinterpret_cast<const uint32_t*>(r.src) + row1 * r.srcPixelsPerRow,
                              t.columnStep, t.columnFraction, r.newWidth, r.width, fy, colourBytes);
    }
    if (!mask && !alpha) continue;
    const uint8_t* a0 = alpha ? r.srcAlpha + row * r.srcAlphaBytesPerRow : nullptr;
    const uint8_t* a1 = alpha ? r.srcAlpha + row1 * r.srcAlphaBytesPerRow : nullptr;
    uint8_t* da = alpha ? r.dstAlpha + int64_t(j) * r.dstAlphaBytesPerRow : nullptr;
    const uint8_t* m = mask ? r.srcMask + row * r.srcMaskBytesPerRow : nullptr;
    uint8_t* dm = mask ? r.dstMask + int64_t(j) * r.dstMaskBytesPerRow : nullptr;
    if (columns) {
      if (alpha)
        image::SmoothAlphaRow(da, a0, a1, smoothColumns, r.newWidth, fy,
                              r.srcAlphaBytesPerRow - r.srcLeft);
      if (mask)
        image::MaskRow(dm, m, columns, 0, r.newWidth, r.width, r.srcLeft, r.srcMaskBytesPerRow);
      continue;
    }
    int64_t col = 0;
    for (int32_t i = 0; i < r.newWidth; ++i) {
      col = std::min<int64_t>(col + t.columnStep[i], r.width - 1);
      int64_t col1 = std::min<int64_t>(col + 1, r.width - 1);
      int fx = int(t.columnFraction[i]);
      if (alpha) da[i] = uint8_t(Bilinear(a0[col], a0[col1], a1[col], a1[col1], fx, fy));
      if (mask) image::PutMaskBit(dm, i, image::MaskBit(m, col + r.srcLeft));
    }
  }
  std::free(columns);
  std::free(ring);
  FreeAligned(plan);
}

int64_t PlaneWidth(const qvPlane* p) { return p->width > 0 || p->height > 0 ? p->width : -1; }
int64_t PlaneHeight(const qvPlane* p) { return p->width > 0 || p->height > 0 ? p->height : -1; }

}  // namespace

namespace image {

void SmoothRowScalar(uint32_t* d, const uint32_t* s0, const uint32_t* s1, const uint32_t* step,
                     const uint32_t* frac, int32_t n, int32_t width, int32_t fy,
                     uint32_t colourBytes) {
  int64_t col = 0;
  for (int32_t i = 0; i < n; ++i) {
    col = std::min<int64_t>(col + step[i], width - 1);
    int64_t col1 = std::min<int64_t>(col + 1, width - 1);
    d[i] = BilinearPixel(s0[col], s0[col1], s1[col], s1[col1], int(frac[i]), fy, colourBytes);
  }
}

void SmoothSourceRowScalar(uint32_t* out, const uint32_t* s, const uint32_t* step,
                           const uint32_t* frac, int32_t n, int32_t width) {
  int64_t col = 0;
  for (int32_t i = 0; i < n; ++i) {
    col = std::min<int64_t>(col + step[i], width - 1);
    int64_t col1 = std::min<int64_t>(col + 1, width - 1);
    uint32_t v = 0;
    for (int shift = 0; shift < 32; shift += 8)
      v |= uint32_t(
               Lerp16(int((s[col] >> shift) & 0xFF), int((s[col1] >> shift) & 0xFF), int(frac[i])))
           << shift;
    out[i] = v;
  }
}

void SmoothBlendRowScalar(uint32_t* d, const uint32_t* t0, const uint32_t* t1, int32_t n,
                          int32_t fy, uint32_t colourBytes) {
  for (int32_t i = 0; i < n; ++i) {
    uint32_t v = 0;
    for (int shift = 0; shift < 32; shift += 8)
      v |= uint32_t(Lerp16(int((t0[i] >> shift) & 0xFF), int((t1[i] >> shift) & 0xFF), fy))
           << shift;
    d[i] = v & colourBytes;
  }
}

void NearestRowScalar(uint32_t* d, const uint32_t* s, int64_t step, int32_t n) {
  int64_t u = 0;
  for (int32_t i = 0; i < n; ++i, u += step) d[i] = s[u >> 16];
}

}  // namespace image

int EnsureScaleTables(int32_t newWidth, int32_t newHeight) {
  constexpr int64_t kMaxEntries = (int64_t(1) << 29) - 1;
  if (newWidth > kMaxEntries || newHeight > kMaxEntries) return ERR_MEM;
  if (!GrowPair(&tTables.columnFraction, &tTables.columnStep, &tTables.columnCapacity, newWidth))
    return ERR_MEM;
  if (!GrowPair(&tTables.rowFraction, &tTables.rowStep, &tTables.rowCapacity, newHeight))
    return ERR_MEM;
  return 0;
}

ScaleTables CurrentScaleTables() {
  return ScaleTables{tTables.columnFraction, tTables.rowFraction, tTables.columnStep,
                     tTables.rowStep};
}

void FreeScaleTables() { tTables.Free(); }

void ScaleMaskKernel(const ScaleRecord& r, float columnRatio, float rowRatio) {
  if (!r.srcMask || !r.dstMask) return;
  int64_t step = ColumnStep(columnRatio);
  ForEachHardRow(r.height, r.newHeight, rowRatio, [&](int32_t j, int32_t row) {
    const uint8_t* s = r.srcMask + int64_t(row) * r.srcMaskBytesPerRow;
    uint8_t* d = r.dstMask + int64_t(j) * r.dstMaskBytesPerRow;
    image::MaskRow(d, s, nullptr, step, r.newWidth, r.width, r.srcLeft, r.srcMaskBytesPerRow);
  });
}

void ScalePlaneNearestKernel(const ScaleRecord& r, float columnRatio, float rowRatio) {
  if (!r.srcAlpha || !r.dstAlpha) return;
  int64_t step = ColumnStep(columnRatio);
  ForEachHardRow(r.height, r.newHeight, rowRatio, [&](int32_t j, int32_t row) {
    const uint8_t* s = r.srcAlpha + int64_t(row) * r.srcAlphaBytesPerRow;
    uint8_t* d = r.dstAlpha + int64_t(j) * r.dstAlphaBytesPerRow;
    image::NearestAlphaRow(d, s, step, r.newWidth, r.width, r.srcAlphaBytesPerRow - r.srcLeft);
  });
}

void ScaleHardKernel(const ScaleRecord& r) {
  if (!r.src || !r.dst || r.bytesPerPixel != 4) return;
  float rx = float(r.width) / float(r.newWidth);
  float ry = float(r.height) / float(r.newHeight);
  int64_t step = ColumnStep(rx);
  // Columns only grow: when the last one is inside, no pixel needs the clamp.
  const bool inside = ((int64_t(r.newWidth) - 1) * step >> 16) < r.width;
  ForEachHardRow(r.height, r.newHeight, ry, [&](int32_t j, int32_t row) {
    const auto* s = reinterpret_cast<const uint32_t*>(r.src) + int64_t(row) * r.srcPixelsPerRow;
    auto* d = reinterpret_cast<uint32_t*>(r.dst) + int64_t(j) * r.dstPixelsPerRow;
    int64_t u = 0;
    if (inside) {
      image::gPaths.nearestRow(d, s, step, r.newWidth);
    } else {
      for (int32_t i = 0; i < r.newWidth; ++i, u += step)
        d[i] = s[std::min<int64_t>(u >> 16, r.width - 1)];
    }
  });
}

void ScaleBitMapKernel(const ScaleRecord& r) {
  if (r.width < 1 || r.height < 1 || r.newWidth < 1 || r.newHeight < 1) return;
  if (r.smooth) {
    ScaleSmooth(r);
    return;
  }
  float rx = float(r.width) / float(r.newWidth);
  float ry = float(r.height) / float(r.newHeight);
  ScaleMaskKernel(r, rx, ry);
  ScalePlaneNearestKernel(r, rx, ry);
  ScaleHardKernel(r);
}

int ScaleBitMap(const qvBitMap* bitmap, const qvPlane* mask, const qvPlane* alpha, int32_t left,
                int32_t top, qvBitMap* dst, int32_t width, int32_t height, int32_t newWidth,
                int32_t newHeight, bool smooth, qvBitMap** outBitmap, qvPlane** outMask,
                qvPlane** outAlpha) {
  if (newWidth < 1 || newHeight < 1) return 0;
  if (mask && !mask->data) mask = nullptr;
  if (alpha && !alpha->data) alpha = nullptr;
  // The rectangle must lie inside every plane that knows its size.
  auto inside = [&](int64_t w, int64_t h) {
    return w < 0 || (int64_t(left) + width <= w && int64_t(top) + height <= h);
  };
  if (width < 1 || height < 1 || left < 0 || top < 0 ||
      (bitmap && !inside(bitmap->width, bitmap->height)) ||
      (mask && !inside(PlaneWidth(mask), PlaneHeight(mask))) ||
      (alpha && !inside(PlaneWidth(alpha), PlaneHeight(alpha))))
    return ERR_OUTOFRANGE;
  if (dst && (dst->width < newWidth || dst->height < newHeight)) return ERR_OUTOFRANGE;
  if (int err = EnsureScaleTables(newWidth, newHeight)) return err;

  qvBitMap* newBitmap = nullptr;
  qvPlane* newMask = nullptr;
  qvPlane* newAlpha = nullptr;
  auto freeMade = [&] {
    FreeBitMap(newBitmap);
    FreeMaskOrAlpha(newMask);
    FreeMaskOrAlpha(newAlpha);
  };
  qvBitMap* result = dst;
  if (!dst) {
    if ((bitmap && !(newBitmap = AllocBitMap(newWidth, newHeight))) ||
        (mask && !(newMask = AllocMask(newWidth, newHeight, false))) ||
        (alpha && !(newAlpha = AllocAlphaChannel(newWidth, newHeight, false)))) {
      freeMade();
      return ERR_MEM;
    }
    result = newBitmap;
  }

  ScaleRecord r{};
  qvBitMapLock sl{}, dl{};
  if (bitmap) {
    if (!LockBitMap(bitmap, &sl) || !LockBitMap(result, &dl)) {
      freeMade();
      return ERR_LOCKBMAP;
    }
    r.src = sl.pixels + int64_t(top) * bitmap->bytesPerRow + int64_t(left) * sl.bytesPerPixel;
    r.dst = dl.pixels;
    r.srcPixelsPerRow = sl.pixelsPerRow;
    r.dstPixelsPerRow = dl.pixelsPerRow;
    r.format = sl.format;
    // One depth for both sides: a result of another depth gets no pixels.
    r.bytesPerPixel = sl.bytesPerPixel == dl.bytesPerPixel ? sl.bytesPerPixel : 0;
  }
  if (newMask) {
    r.srcMask = mask->data + int64_t(top) * mask->bytesPerRow;
    r.dstMask = newMask->data;
    r.srcMaskBytesPerRow = mask->bytesPerRow;
    r.dstMaskBytesPerRow = newMask->bytesPerRow;
  }
  if (newAlpha) {
    r.srcAlpha = alpha->data + int64_t(top) * alpha->bytesPerRow + left;
    r.dstAlpha = newAlpha->data;
    r.srcAlphaBytesPerRow = alpha->bytesPerRow;
    r.dstAlphaBytesPerRow = newAlpha->bytesPerRow;
  }
  r.srcLeft = left;
  r.srcTop = top;
  r.width = width;
  r.height = height;
  r.newWidth = newWidth;
  r.newHeight = newHeight;
  r.smooth = smooth;
  r.tables = CurrentScaleTables();
  ScaleBitMapKernel(r);
  UnLockBitMap(&sl);
  UnLockBitMap(&dl);
  if (dst) return 0;
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
  return 0;
}

}  // namespace qv
