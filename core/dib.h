// Device-independent bitmaps, the picture format of the clipboard: a 40-byte information header
// (little-endian: size, width, height, planes, bits per pixel, compression, image size, two
// resolutions, colours used, colours important), then the rows from the bottom up (from the top
// down when the height is negative), each padded to a multiple of 4 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qv {

inline constexpr size_t kDibHeaderSize = 40;
// The largest picture read, in pixels: far beyond any screen, far below what would exhaust memory.
inline constexpr int64_t kDibPixelLimit = int64_t{1} << 28;

// A 24-bit picture of width x height pixels 0xAARRGGBB (rows of `pixelsPerRow` pixels, top row
// first; alpha is dropped): the header and the rows from the bottom up, each row width x 3 bytes
// padded to a multiple of 4. Empty for a side below 1 or a picture over kDibPixelLimit.
std::vector<uint8_t> EncodeDib(const uint32_t* argb, int32_t width, int32_t height,
                               int32_t pixelsPerRow);

// Reads a 24- or 32-bit uncompressed picture into width x height pixels 0xAARRGGBB, top row
// first (24-bit pixels opaque, 32-bit ones keep their fourth byte as alpha). False, with nothing
// read, for anything else: a block shorter than its header, a header size below 40, a side of 0
// or a negative width, planes other than 1, another depth or compression, more pixels than
// kDibPixelLimit, or rows (with a colour table) that do not fit in the block.
bool DecodeDib(const uint8_t* data, size_t size, int32_t* width, int32_t* height,
               std::vector<uint32_t>* argb);
// The same checks without reading the pixels.
bool CheckDib(const uint8_t* data, size_t size);

// What the clipboard holds (platform/clipboard.h), with a picture that these checks refuse
// counted as kClipboardOther.
int32_t ClipboardKind();

}  // namespace qv
