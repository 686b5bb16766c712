// Pictures from files: telling a picture's format from its first bytes, loading it into a plain
// array of 0xAARRGGBB words, and writing such an array as a PNG file. Files go through the
// core's buffered-file layer, so ":::chunk" stretches, memory files and linked files work without
// copies. Every function may be called from any thread; none keeps state between calls.
#pragma once

#include <cstdint>

namespace qv {

// Picture formats as IdentifyPicture answers them.
enum qvPictureType : int32_t {
  kPictureUnknown = 0,  // also a file that does not open
  kPictureIlbm = 1,
  kPictureJpeg = 2,
  kPicturePng = 3,
  kPictureBmp = 4,
  kPictureTiff = 5,  // recognised, never loaded
  kPictureGif = 6,
};

// The format of the file from its first 64 bytes (a shorter file reads as zeros past its end).
int32_t IdentifyPicture(const char* name);
// The same test over bytes already in memory (at most the first 64 are looked at).
int32_t IdentifyPictureBytes(const uint8_t* head, int64_t size);

// What the ILBM reader needs besides the file; the other readers ignore it.
struct qvIlbmRequest {
  // 256 entries 0x00RRGGBB imposed over the file's palette up to the first -1, or null.
  const uint32_t* palette = nullptr;
  // Not -1 (or with findFreeColour): a one-plane picture's clear pixels become transparent and its
  // set pixels this colour; a picture marked with a transparent pen gets a colour of its own there.
  int32_t transparentPen = -1;
  bool findFreeColour = false;
  bool wantPalette = false;  // hand out the palette of a pen picture in qvPictureFacts::palette
};

// The facts of a loaded picture.
struct qvPictureFacts {
  int32_t width = 0;
  int32_t height = 0;
  int32_t alpha = 0;               // 1: the alpha bytes carry meaning
  int32_t wordsPerRow = 0;         // from one row of the pixels to the next
  int64_t transparentColour = -1;  // RGB standing for transparency, -1 for none
  uint32_t* palette = nullptr;     // ILBM pen pictures when asked: 256 entries (std::free)
};

// Loads the picture `name` (stored as the error text argument first, so that a message names the
// file). With `outPixels` null only the facts are read and nothing is allocated; otherwise
// *outPixels receives width x height words without row padding (std::free). Returns 0,
// ERR_READFILE when the file does not open, ERR_LOADPICTURE2 for unknown, unsupported, damaged
// or cut formats, or ERR_MEM (also for pictures above 2^31 bytes, refused before allocation).
// On failure nothing is stored and nothing stays allocated.
int LoadPicture(const char* name, const qvIlbmRequest* ilbm, uint32_t** outPixels,
                qvPictureFacts* facts);
// LoadPicture for a picture that is to become a bitmap: the PNG and JPEG readers lay their rows
// out as a bitmap's (facts->wordsPerRow is BitMapWordsPerRow(width), a spare row follows the last,
// the spare words undefined), so that AdoptBitMapFromARGB can take the block without a copy; the
// other readers give rows without padding (wordsPerRow is the width).
int LoadPictureForBitMap(const char* name, const qvIlbmRequest* ilbm, uint32_t** outPixels,
                         qvPictureFacts* facts);

// The PNG reader behind LoadPicture, with the same contract; the alpha flag is set for pictures
// with an alpha channel or a tRNS chunk. With `bitmapRows` the rows are laid out as
// LoadPictureForBitMap says.
int LoadPng(const char* name, uint32_t** outPixels, qvPictureFacts* facts, bool bitmapRows = false);

// Writes `height` rows of `width` words (0xAARRGGBB, `bytesPerRow` apart) as an 8-bit RGB PNG,
// or RGBA with `alpha`. Returns 0, ERR_MEM, or ERR_WRITEFILE when the file does not open or a
// write, flush or the close fails.
struct qvPngRequest {
  const char* name = nullptr;
  const uint32_t* pixels = nullptr;
  int64_t bytesPerRow = 0;
  int32_t width = 0;
  int32_t height = 0;
  bool alpha = false;
};
int SavePng(const qvPngRequest& request);

// Writes width x height words (no row padding) as a PNG, RGBA with `alpha`, after storing the
// name as the error text argument, so that a failure's message names the file. SavePng's results.
int SavePngSnapshot(const char* name, const uint32_t* pixels, int32_t width, int32_t height,
                    bool alpha);

}  // namespace qv
