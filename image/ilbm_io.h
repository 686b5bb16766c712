// IFF ILBM pictures: the reader behind LoadPicture (1 to 8 planes through the palette, HAM6,
// HAM8, extra-half-brite, 24 planes; raw or ByteRun1 bodies) and the writer of 24-plane ByteRun1
// files.
#pragma once

#include <cstdint>
#include <vector>

namespace qv {

struct qvFile;
struct qvIlbmRequest;
struct qvPictureFacts;

// Looks for the chunk id byte by byte from the file's position: found, the file stands behind the
// id (at the chunk's size). Meeting "BODY" (unless that is the id) or the end of the file ends a
// pass; there are two, and one that starts at the end of the file starts again at byte 12.
bool FindIffChunk(qvFile* file, const char* id);

// Reads the ILBM file `name`; `request` may be null (no palette imposed, no transparency asked).
// With `outPixels` null only the size is read. Returns 0, ERR_READFILE, ERR_MEM (also above 2^31
// bytes of pixels) or ERR_LOADPICTURE2 (no BMHD, BODY or needed CMAP; width or height 0; 0, 9 to
// 23 or more than 24 planes; an unknown compression; a body short of the picture's rows, refused
// before the pixels are allocated when its size alone cannot hold them).
int LoadIlbm(const char* name, const qvIlbmRequest* request, uint32_t** outPixels,
             qvPictureFacts* facts);

// The whole file of a 24-plane ByteRun1 ILBM of `height` rows of `width` words 0x00RRGGBB,
// `bytesPerRow` apart, into *out (replaced). Returns 0, ERR_MEM, or ERR_WRITEFILE for a size the
// format cannot hold (0, or above 65535).
int EncodeIlbm(const uint32_t* pixels, int64_t bytesPerRow, int32_t width, int32_t height,
               std::vector<uint8_t>* out);

}  // namespace qv
