// JPEG reading and writing over libjpeg: pictures from a file of the buffered-file layer or from a
// block of memory (a motion-JPEG frame) into 0x00RRGGBB words, and compression of such words into
// a block of memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qv {

struct qvPictureFacts;

// Reads the JPEG file `name`, or with `name` null the `size` bytes at `data`. With `outPixels` null
// only the size is read; otherwise *outPixels receives width x height words 0x00RRGGBB (std::free).
// CMYK and YCCK pictures are converted through CmykToRgb, inverted when an "Adobe" marker says so.
// Returns 0, ERR_READFILE (the file does not open), ERR_MEM (also above 2^31 bytes of pixels) or
// ERR_LOADPICTURE2 (anything the library refuses, an empty input among them; data that ends
// before the picture does, though a missing end marker alone is accepted; a picture of over 2^20
// pixels larger than its data could code, refused before its memory is taken).
// With `bitmapRows` the rows are laid out as a bitmap's (see LoadPictureForBitMap).
int LoadJpeg(const char* name, const uint8_t* data, size_t size, uint32_t** outPixels,
             qvPictureFacts* facts, bool bitmapRows = false);

// One CMYK sample as 0x00RRGGBB; with `inverted` every component is 255 minus itself first.
uint32_t CmykToRgb(uint32_t c, uint32_t m, uint32_t y, uint32_t k, bool inverted);

struct qvJpegRequest {
  const uint32_t* pixels = nullptr;
  int64_t bytesPerRow = 0;
  int32_t width = 0;
  int32_t height = 0;
  int32_t quality = 90;  // 1..100, baseline tables
  // false: words 0xAARRGGBB (blue in the lowest byte); true: red in the second byte of memory,
  // green in the third and blue in the fourth.
  bool redInSecondByte = false;
};

// Compresses the request's pixels into *out (replaced). Returns 0, or ERR_MEM when the library
// fails or memory runs out (nothing is kept in *out then).
int SaveJpeg(const qvJpegRequest& request, std::vector<uint8_t>* out);

}  // namespace qv
