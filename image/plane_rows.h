// Rows of the scaler's and the rotator's 8-bit alpha planes and 1-bit masks, each with its scalar
// reference and, on x86, an AVX2 path that matches it bit for bit. The path follows the kernel
// switch (SetSimdLevel): below AVX2 the references run.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv::image {

// The columns of a smooth-scaled row, the same for every row of one call: result pixel i reads
// columns col[i] and col1[i] with the 16-bit fraction frac[i].
struct SmoothColumns {
  const int32_t* col;
  const int32_t* col1;
  const uint32_t* frac;
  // Optional, from BuildSmoothAlphaPlan: the byte shuffles and fractions of the first planChunks
  // groups of eight results, the same for every row of a call.
  const uint8_t* plan = nullptr;
  int32_t planChunks = 0;
};
// The plan of a call's columns for SmoothAlphaRow (kSmoothAlphaPlanBytes per group of eight
// results, n / 8 groups at most): the number of leading groups it holds (0 off the AVX2 path).
constexpr size_t kSmoothAlphaPlanBytes = 64;
int32_t BuildSmoothAlphaPlan(const SmoothColumns& c, int32_t n, int32_t rowBytes, uint8_t* plan);

// Smooth-scaled alpha: d[i] = the 16.16 bilinear of a0[col], a0[col1], a1[col], a1[col1] with
// frac[i] and fy. `rowBytes` is what may be read from a0 and a1 (their bytes per row).
void SmoothAlphaRowScalar(uint8_t* d, const uint8_t* a0, const uint8_t* a1, const SmoothColumns& c,
                          int32_t n, int32_t fy, int32_t rowBytes);
// Nearest-scaled alpha: d[i] = s[min((i x step) >> 16, width - 1)].
void NearestAlphaRowScalar(uint8_t* d, const uint8_t* s, int64_t step, int32_t n, int32_t width,
                           int32_t rowBytes);
// A scaled mask row: bit i of d = bit (column(i) + left) of s, column(i) = col[i] (smooth) or
// min((i x step) >> 16, width - 1) (nearest, col null). Bits past n in d's last byte are kept.
void MaskRowScalar(uint8_t* d, const uint8_t* s, const int32_t* col, int64_t step, int32_t n,
                   int32_t width, int32_t left, int32_t rowBytes);
// Rotated alpha of result pixels x0..x1 of row y, the source plane opaque elsewhere: smooth, the
// bilinear of the four neighbours (SmoothNeighbours) in doubles, plus 0.5 and truncated; nearest,
// the byte at the truncated back-mapped point held inside the source.
void RotateAlphaRowScalar(uint8_t* d, int32_t x0, int32_t x1, int32_t y, const double inv[6],
                          const uint8_t* src, int32_t srcBytesPerRow, int32_t width, int32_t height,
                          bool smooth);

// The current paths.
void SmoothAlphaRow(uint8_t* d, const uint8_t* a0, const uint8_t* a1, const SmoothColumns& c,
                    int32_t n, int32_t fy, int32_t rowBytes);
void NearestAlphaRow(uint8_t* d, const uint8_t* s, int64_t step, int32_t n, int32_t width,
                     int32_t rowBytes);
void MaskRow(uint8_t* d, const uint8_t* s, const int32_t* col, int64_t step, int32_t n,
             int32_t width, int32_t left, int32_t rowBytes);
void RotateAlphaRow(uint8_t* d, int32_t x0, int32_t x1, int32_t y, const double inv[6],
                    const uint8_t* src, int32_t srcBytesPerRow, int32_t width, int32_t height,
                    bool smooth);

// Bilinear rotation of a masked picture (no alpha plane), for the AVX2 path only: in groups of
// four result pixels of x0..x1 whose sixteen neighbours are all opaque, the pixels (when `pixels`)
// are the plain bilinear ones and the mask bits those at the nearest source points (`nudged`);
// done[x - x0] tells which pixels it made, and the rotator makes the others itself.
struct MaskedRotateSource {
  const uint32_t* pixels;  // or null
  int32_t pixelsPerRow;
  const uint8_t* mask;
  int32_t maskBytesPerRow, maskLeft;
  int32_t width, height;
  uint32_t colourBytes;
};
bool MaskedRotateRowsApply();

// The AVX2 rows (plane_rows_x86.cpp); false when not built in or the CPU lacks AVX2.
bool PlaneRowsAvx2Available();
int32_t BuildSmoothAlphaPlanAvx2(const SmoothColumns& c, int32_t n, int32_t rowBytes,
                                 uint8_t* plan);
void SmoothAlphaRowAvx2(uint8_t* d, const uint8_t* a0, const uint8_t* a1, const SmoothColumns& c,
                        int32_t n, int32_t fy, int32_t rowBytes);
void NearestAlphaRowAvx2(uint8_t* d, const uint8_t* s, int64_t step, int32_t n, int32_t width,
                         int32_t rowBytes);
void MaskRowAvx2(uint8_t* d, const uint8_t* s, const int32_t* col, int64_t step, int32_t n,
                 int32_t width, int32_t left, int32_t rowBytes);
void RotateAlphaRowAvx2(uint8_t* d, int32_t x0, int32_t x1, int32_t y, const double inv[6],
                        const uint8_t* src, int32_t srcBytesPerRow, int32_t width, int32_t height,
                        bool smooth);
void RotateMaskedRowAvx2(uint32_t* d, uint8_t* dm, uint8_t* done, int32_t x0, int32_t x1, int32_t y,
                         const double inv[6], const double nudged[6], const MaskedRotateSource& s);

}  // namespace qv::image
