// Helpers the image engine's own files share: mask bit access, rectangle clipping and the table
// of kernel paths that the SIMD switch fills.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/image.h"

namespace qv::image {

inline bool MaskBit(const uint8_t* row, int64_t x) { return (row[x >> 3] >> (7 - (x & 7))) & 1; }
inline void SetMaskBit(uint8_t* row, int64_t x) { row[x >> 3] |= uint8_t(0x80u >> (x & 7)); }
inline void ClearMaskBit(uint8_t* row, int64_t x) { row[x >> 3] &= uint8_t(~(0x80u >> (x & 7))); }
inline void PutMaskBit(uint8_t* row, int64_t x, bool on) {
  if (on)
    SetMaskBit(row, x);
  else
    ClearMaskBit(row, x);
}

// Clips a source and a destination rectangle of the same size to [0, srcW) x [0, srcH) and
// [0, dstW) x [0, dstH); false when nothing is left. Sizes of -1 mean "unknown, do not clip".
bool ClipBlit(int32_t* sx, int32_t* sy, int32_t* dx, int32_t* dy, int32_t* width, int32_t* height,
              int64_t srcW, int64_t srcH, int64_t dstW, int64_t dstH);

// Every block the image engine allocates comes from here (std::free releases it), so that the
// allocation fault of the test seam reaches each one. Null for a size of 0 or without memory.
void* Allocate(size_t size, bool clear);

// The block a picture reader decodes width x height pixels into (width and height at least 1,
// their 4-byte pixels at most 2^31 bytes): rows without padding and four bytes to spare, or with
// `bitmapRows` the rows of a bitmap (BitMapWordsPerRow, a spare row after the last) unless that
// layout would pass the limit of one plane. *wordsPerRow receives the layout taken. Large blocks
// start on a huge page and are backed by them: a picture lands in fresh pages, which with 4 KiB
// pages cost a fault each, as long as a fast decode of their contents. Null without memory.
uint32_t* AllocPictureBlock(int64_t width, int64_t height, bool bitmapRows, int32_t* wordsPerRow);

// Splits a 0x00RRGGBB value (or a format-10 pixel) into channels.
inline int Red(uint32_t rgb) { return int((rgb >> 16) & 0xFF); }
inline int Green(uint32_t rgb) { return int((rgb >> 8) & 0xFF); }
inline int Blue(uint32_t rgb) { return int(rgb & 0xFF); }

// Kernel paths: each hot kernel's current implementation. The scalar references live beside the
// public kernels as Scalar*; the table starts at the best path of the CPU.
struct KernelPaths {
  void (*copyRow)(uint32_t* dst, const uint32_t* src, int32_t n);
  void (*fillRow)(uint32_t* dst, uint32_t value, int32_t n);
  // Copies src[i] where bit (bit0 + i) of the mask row is set.
  void (*maskRow)(uint32_t* dst, const uint32_t* src, const uint8_t* mask, int32_t bit0, int32_t n);
  void (*templateRow)(uint32_t* dst, const uint8_t* tmpl, int32_t bit0, int32_t n, uint32_t colour);
  // Format-10 blends: d + (((s - d) x a) >> 8) per channel, top byte 0, a from the byte row.
  void (*alphaRow)(uint32_t* dst, const uint32_t* src, const uint8_t* alpha, int32_t n);
  // Coverage paint of one colour (mode 1; mode 4 with quarter steps when levels65 is set).
  void (*coverageRow)(uint32_t* dst, const uint8_t* cov, uint32_t colour, int32_t n, bool levels65);
  // Mix without a mask: s + (((d - s) x w) >> 8) per channel into dst, top byte 0.
  void (*mixRow)(uint32_t* dst, const uint32_t* src, int32_t weight, int32_t n);
  // The same where bit (bit0 + i) of the mask row is set; other pixels are left.
  void (*mixMaskRow)(uint32_t* dst, const uint32_t* src, const uint8_t* mask, int32_t bit0,
                     int32_t weight, int32_t n);
  // Tint: c + (((t - c) x level) >> 8) per channel, top byte 0.
  void (*tintRow)(uint32_t* px, uint32_t tint, int32_t level, int32_t n);
  // One smooth-scaled row: result pixel i reads columns col and min(col + 1, width - 1) of rows
  // s0 and s1, col advanced by step[i], with fraction frac[i] and the row's fy; only the bytes of
  // colourBytes are kept.
  void (*smoothRow)(uint32_t* d, const uint32_t* s0, const uint32_t* s1, const uint32_t* step,
                    const uint32_t* frac, int32_t n, int32_t width, int32_t fy,
                    uint32_t colourBytes);
  // Nearest rotation of result pixels x0..x1 of row y: source column trunc(i0 x + i2 y + tx)
  // and row trunc(i1 x + i3 y + ty), each held inside the source, as TruncateToInt truncates.
  void (*rotateRow)(uint32_t* d, int32_t x0, int32_t x1, int32_t y, const double inv[6],
                    const uint32_t* src, int32_t srcPixelsPerRow, int32_t width, int32_t height);
  // Bilinear rotation of an opaque picture (no mask): result pixels x0..x1 of row y, weighing
  // the neighbours SmoothNeighbours gives.
  void (*rotateSmoothRow)(uint32_t* d, int32_t x0, int32_t x1, int32_t y, const double inv[6],
                          const uint32_t* src, int32_t srcPixelsPerRow, int32_t width,
                          int32_t height, uint32_t colourBytes);
  // The smooth scaler in two passes, for paths where that is faster: smoothSourceRow weighs the
  // columns of one source row once (out[i] = per byte, all four, Lerp16 of columns col and
  // min(col + 1, width - 1) with frac[i], col walked as smoothRow walks it), and smoothBlendRow
  // weighs two such rows with the row's fy and keeps the bytes of colourBytes. Lerp16 of Lerp16s
  // is exactly smoothRow's arithmetic, so a weighed source row serves every result row it
  // touches. Null where smoothRow stays the path (the scalar reference).
  void (*smoothSourceRow)(uint32_t* out, const uint32_t* s, const uint32_t* step,
                          const uint32_t* frac, int32_t n, int32_t width);
  void (*smoothBlendRow)(uint32_t* d, const uint32_t* t0, const uint32_t* t1, int32_t n, int32_t fy,
                         uint32_t colourBytes);
  // Hard-scaled row: d[i] = s[(i x step) >> 16] for the n pixels (every index inside the row).
  void (*nearestRow)(uint32_t* d, const uint32_t* s, int64_t step, int32_t n);
  // One row of 1 to 8 planes to pens (PlanarToChunky), and to pixels through a 256-entry
  // palette (PlanarToArgb).
  void (*chunkyRow)(const uint8_t* const* planeRows, int32_t planes, int32_t width, uint8_t* pens);
  void (*paletteRow)(const uint8_t* const* planeRows, int32_t planes, int32_t width,
                     const uint32_t* palette, uint32_t* out);
};
// The two source columns (or rows) a bilinear sample at s weighs, each held inside 0..size - 1.
void SmoothNeighbours(double s, int32_t size, int32_t* first, int32_t* second);
void RotateRowScalar(uint32_t* d, int32_t x0, int32_t x1, int32_t y, const double inv[6],
                     const uint32_t* src, int32_t srcPixelsPerRow, int32_t width, int32_t height);
void RotateSmoothRowScalar(uint32_t* d, int32_t x0, int32_t x1, int32_t y, const double inv[6],
                           const uint32_t* src, int32_t srcPixelsPerRow, int32_t width,
                           int32_t height, uint32_t colourBytes);
void NearestRowScalar(uint32_t* d, const uint32_t* s, int64_t step, int32_t n);
// The scalar smooth row (scale.cpp).
void SmoothRowScalar(uint32_t* d, const uint32_t* s0, const uint32_t* s1, const uint32_t* step,
                     const uint32_t* frac, int32_t n, int32_t width, int32_t fy,
                     uint32_t colourBytes);
// The two passes' scalar rows, for the vector paths' ends.
void SmoothSourceRowScalar(uint32_t* out, const uint32_t* s, const uint32_t* step,
                           const uint32_t* frac, int32_t n, int32_t width);
void SmoothBlendRowScalar(uint32_t* d, const uint32_t* t0, const uint32_t* t1, int32_t n,
                          int32_t fy, uint32_t colourBytes);
// The scalar planar rows (planar.cpp), 1 to 8 planes.
void ChunkyRowScalar(const uint8_t* const* planeRows, int32_t planes, int32_t width, uint8_t* pens);
void PaletteRowScalar(const uint8_t* const* planeRows, int32_t planes, int32_t width,
                      const uint32_t* palette, uint32_t* out);
extern KernelPaths gPaths;
const KernelPaths& ScalarPaths();
const KernelPaths* Sse2Paths();  // null when not built in
const KernelPaths* Avx2Paths();

}  // namespace qv::image
