// What the filter kernels (filters.cpp) share with their SIMD rows (filters_simd.cpp): the
// scalar references and the table of the rows in force. A row works on 32-bit pixels by byte
// lanes: every lane is filtered alike and only the lanes of `keep` (the format's colour bytes)
// are written, the spare byte as 0.
#pragma once

#include <cstdint>

#include "image/image.h"

namespace qv::image {

// Blur rows: out[x] = sum over k of kernel[k] x src[x + k] (horizontal), or of
// kernel[k] x rows[k][x] (vertical), per lane, summed in k order from 0.0, limited to 0..255 and
// truncated.
void BlurRowScalar(uint32_t* out, const uint32_t* src, const double* kernel, int32_t taps,
                   int32_t n, uint32_t keep);
void BlurColumnScalar(uint32_t* out, const uint32_t* const* rows, const double* kernel,
                      int32_t taps, int32_t n, uint32_t keep);
// Square kernel rows: out[x] = sum over v, then u, of kernel[v x taps + u] x rows[v][x + u].
void SquareRowScalar(uint32_t* out, const uint32_t* const* rows, const double* kernel, int32_t taps,
                     int32_t n, uint32_t keep);
// Each colour lane above the threshold becomes 255 minus it.
void SolarizeRowScalar(uint32_t* p, int32_t n, uint32_t threshold, uint32_t keep);

// Each byte of the pixel words of the rectangle through the table of its place (lanes[0] for the
// lowest byte); the spare byte's table holds zeros.
void GammaRowsScalar(uint32_t* p, int32_t width, int32_t height, int32_t pixelsPerRow,
                     const uint8_t (*lanes)[256], int spareLane);

// Oil paint as its description reads: each window scanned whole over an edge-extended copy. The
// kernel runs it for small windows and checks its run-by-run scan of large ones against it.
void OilPaintReference(const OilPaintRecord& r);

struct FilterPaths {
  void (*blurRow)(uint32_t* out, const uint32_t* src, const double* kernel, int32_t taps, int32_t n,
                  uint32_t keep);
  void (*blurColumn)(uint32_t* out, const uint32_t* const* rows, const double* kernel, int32_t taps,
                     int32_t n, uint32_t keep);
  void (*squareRow)(uint32_t* out, const uint32_t* const* rows, const double* kernel, int32_t taps,
                    int32_t n, uint32_t keep);
  void (*solarizeRow)(uint32_t* p, int32_t n, uint32_t threshold, uint32_t keep);
  void (*gammaRows)(uint32_t* p, int32_t width, int32_t height, int32_t pixelsPerRow,
                    const uint8_t (*lanes)[256], int spareLane);
};
// The rows of the path in force (CurrentSimdLevel): AVX2 where it is chosen, else scalar. The
// AVX2 level looks the gamma tables up with AVX-512 VBMI where the processor has it (a table of
// 256 bytes is four registers: no AVX2 instruction looks up more than 16 entries).
const FilterPaths& CurrentFilterPaths();
const FilterPaths* Avx2FilterPaths();  // null when not built in

}  // namespace qv::image
