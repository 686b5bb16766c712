// The planar picture routines shared by the ILBM reader and writer, IFF ANIM and CDXL: ByteRun1
// unpacking and packing, planar-to-chunky conversion and the HAM and palette conversions to
// 0x00RRGGBB pixels. They work over memory only, so every reader feeds them the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qv {

// Bytes in one plane's row of a planar picture: a whole number of 16-bit words.
int32_t PlaneRowBytes(int32_t width);

// Decodes ByteRun1 data from src[*pos..srcLen) into exactly dstLen bytes of dst and advances *pos.
// A run reaching past dstLen is cut at its end (the bytes a cut literal would have copied are
// skipped in src), so a row never spills into the next. When src ends first, the rest of dst keeps
// what it held (callers zero it). Returns the number of bytes written.
size_t UnpackByteRun(const uint8_t* src, size_t srcLen, size_t* pos, uint8_t* dst, size_t dstLen);

// Appends src packed with ByteRun1 to out: literal runs of up to 128 bytes, replicate runs of 3 to
// 128 equal bytes (two equal bytes stay in a literal).
void PackByteRun(const uint8_t* src, size_t len, std::vector<uint8_t>* out);

// Gathers one row of pens from planes planes (planeRows[p] is plane p's row, plane 0 the lowest
// bit, pixels most significant bit first) into pens[0..width). Up to 8 planes.
void PlanarToChunky(const uint8_t* const* planeRows, int32_t planes, int32_t width, uint8_t* pens);

// PlanarToChunky and PensToArgb in one pass: one row of pixels through a 256-entry palette.
void PlanarToArgb(const uint8_t* const* planeRows, int32_t planes, int32_t width,
                  const uint32_t* palette, uint32_t* out);

// One row of HAM pens to pixels, starting from black. HAM6 uses the top two of six bits (0 palette
// entry, 1 blue, 2 red, 3 green from the low four bits x 16); HAM8 the top two of eight bits and
// the low six bits x 4. palette holds 16 (HAM6) or 64 (HAM8) entries.
void HamSixToArgb(const uint8_t* pens, int32_t width, const uint32_t* palette, uint32_t* out);
void HamEightToArgb(const uint8_t* pens, int32_t width, const uint32_t* palette, uint32_t* out);

// Pens through a 256-entry palette.
void PensToArgb(const uint8_t* pens, size_t count, const uint32_t* palette, uint32_t* out);

}  // namespace qv
