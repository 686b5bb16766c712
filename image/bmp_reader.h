// The BMP picture reader over a file's bytes in memory: 1, 4 and 8 bits through the palette
// (8 bits also RLE8-coded), 24 bits as B, G, R; rows bottom-up, padded to 4 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qv {

// Reads width and height (and with pixels not null the picture as 0x00RRGGBB words, top row
// first). Returns 0, ERR_MEM (pixels asked for a picture of over 2^31 bytes) or ERR_LOADPICTURE2
// (not a BMP, a header under 40 bytes or cut short, width or height of 0 or less, a bit count or
// compression it does not read, or pixel data cut short: rows missing, RLE8 data shorter than its
// header's image size, ending before the picture does, or too short to have coded a picture of
// over 2^20 pixels with runs). The size alone is read for any picture, however large.
int LoadBmp(const uint8_t* data, size_t size, int32_t* width, int32_t* height,
            std::vector<uint32_t>* pixels);

// Decodes RLE8 data into pens (width x height, bottom row first, zeroed by the caller). Runs and
// literals stop at their row's end; a delta past the row or the top ends the data. False when the
// data runs out before its end-of-picture escape, in a literal or a delta, or before every row
// was ended; what was decoded is in the pens all the same.
bool DecodeBmpRle8(const uint8_t* src, size_t srcLen, int32_t width, int32_t height, uint8_t* pens);

}  // namespace qv
