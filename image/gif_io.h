// GIF pictures and animations: a decoder that scans a file's frames once and then hands out any
// frame as it shows on screen (sequential access continues, random access restarts at the latest
// frame that covers the whole screen), and a writer of single pictures and looping animations
// from frames already reduced to 256 colours. Files go through the core's buffered-file layer.
// A decoder or writer belongs to one thread at a time.
#pragma once

#include <cstdint>

#include "image/picture.h"

namespace qv {

struct qvGifDecoder;

struct qvGifInfo {
  int32_t width = 0;  // the logical screen
  int32_t height = 0;
  int32_t frames = 0;  // image descriptors met by the scan
};

// Opens the GIF `name` and scans all of its frames. With `infoOnly` only the screen size is read
// and *out stays null. Returns 0; ERR_READFILE when the file does not open; ERR_LOADPICTURE2 for a
// wrong signature, a screen of width or height 0, a screen of over 2^22 pixels that the file is
// too short to have coded, no frame at all or damaged data; ERR_MEM when
// memory runs out or the screen is above 2^31 bytes of pixels.
int LoadGif(const char* name, bool infoOnly, qvGifInfo* info, qvGifDecoder** out);

// Frame n (0-based) as it shows on screen: width x height words 0x00RRGGBB (std::free), or null
// when n is out of range, the data is damaged or memory runs out.
uint32_t* LoadGifFrame(qvGifDecoder* gif, int32_t n);

// The delay of frame n in milliseconds (0 when n is out of range).
int32_t GetGifFrameDelay(const qvGifDecoder* gif, int32_t n);

void FreeGif(qvGifDecoder* gif);

// The picture loader's GIF road: frame 0 as the picture (facts: width and height, no alpha).
int LoadGifPicture(const char* name, uint32_t** outPixels, qvPictureFacts* facts);

// ---- writing ----

struct qvGifWriter;

// Creates the file and writes the header and a placeholder global table. Returns 0, ERR_MEM, or
// ERR_WRITEFILE (the name stored as the error's text argument) when the file cannot be written.
int SaveGif(const char* name, int32_t width, int32_t height, qvGifWriter** out);

struct qvGifFrame {
  const uint8_t* pens = nullptr;  // width x height pens, rows without padding
  int32_t width = 0;
  int32_t height = 0;
  int32_t delayMs = 0;
  const uint32_t* palette = nullptr;  // 256 entries 0x00RRGGBB (the alpha byte is ignored)
  int32_t colours = 0;                // 1..256 entries used
  // The pen shown transparent, or -1. Without one the frame still marks entry colours - 1
  // transparent (disposal "keep", so that unchanged pixels show the previous frame): a caller
  // that has no transparency must leave that entry unused.
  int32_t transparentPen = -1;
  bool optimise = false;  // write only the box of changed pixels (without a transparent pen)
};

// Appends one frame. Returns 0, ERR_MEM, ERR_WRONGUSAGE for pens or colours out of range, or
// ERR_WRITEFILE when a write fails (the file is then removed; the writer only accepts
// FinishAnimGif afterwards).
int SaveAnimGif(qvGifWriter* writer, const qvGifFrame& frame);

// Writes the trailer, closes the file and frees the writer. Returns 0, or ERR_WRITEFILE when a
// write or the close failed at any point (the file is removed then).
int FinishAnimGif(qvGifWriter* writer);

}  // namespace qv
