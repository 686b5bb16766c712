// Picture files: loading into brushes, the image cache, saving bitmaps as pictures, and the
// snapshot pictures.
#pragma once

#include <cstdint>
#include <vector>

#include "core/registry.h"
#include "display/bgpics.h"
#include "display/brushes.h"
#include "display/records.h"
#include "image/image.h"
#include "image/picture.h"

namespace qv {

// Picture files: loading into brushes, the image cache, saving bitmaps as pictures.

// A picture as the loaders hand it over: the shared pixels (rowWidth words a row) and, when
// asked for, its alpha channel split off into a plane of its own.
struct qvLoadedPicture {
  qvPixelBuffer* buffer;  // one reference for the caller
  qvPlane* alpha;         // or null
  int32_t width, height, rowWidth;
  int32_t alphaFlag;  // 1: the alpha bytes carry meaning
  int32_t kindFlag;
  int64_t transparentColour;  // -1 for none
  // The buffer's pixels are laid out as a bitmap's rows (see LoadPictureForBitMap): a brush of the
  // whole picture can take them over while the buffer has no other reference.
  bool bitmapRows;
};
// Loads a picture into a new pixel buffer (the image plugins first, in list order; then the
// built-in readers). A plugin's picture has no palette and gives kindFlag 1 when it is a vector
// picture. With `loadAlpha` the alpha channel is split into *alpha: ERR_NOALPHA for a
// picture without one. With `palette` not null it receives the 256-entry palette of an ILBM pen
// picture (the caller's, std::free), null for any other picture. 0, or the reader's error,
// ERR_NOALPHA or ERR_MEM with nothing left allocated and *out and *palette unchanged.
int LoadPictureWithPlugins(const char* name, const qvIlbmRequest* ilbm, bool loadAlpha,
                           qvLoadedPicture* out, uint32_t** palette);
// A brush's or an anim's picture: the image cache's entry `cachedName` when one is named (a
// reference to its pixels, its alpha channel with `loadAlpha`), else the file loaded as
// LoadPictureWithPlugins does, its alpha channel split off with `keepAlpha`. No palette is kept.
int LoadPictureOrCached(const char* file, const char* cachedName, bool loadAlpha, bool keepAlpha,
                        const qvIlbmRequest* ilbm, qvLoadedPicture* out);
// The image host's plugin transform: asks the plugin whose picture the pixel buffer holds to draw
// it again at the request's size through its matrix, and makes a bitmap (and an alpha channel
// when the picture has one) of the result. 0, ERR_TFIMAGE when the plugin fails or answers with
// another size, or ERR_MEM.
int TransformPluginPicture(void* plugin, void* pixelBuffer, const qvPluginTransform& request,
                           qvBitMap** outBitmap, qvPlane** outAlpha);

// The image cache keeps decoded pictures by name (compared without regard to case) for the
// loaders' "cache" and "cachedload" options. A node holds one reference on the pixel buffer and
// its own copy of the alpha channel.
struct qvCachedImage {
  qvPixelBuffer* buffer;  // one reference for the caller
  qvPlane* alpha;         // the caller's copy, or null
  int32_t width, height;
  int32_t word1, word2;  // the caller's
};
// 0 or ERR_MEM (then nothing was added). The alpha plane, when given, is copied.
int AddCachedImage(const char* name, int32_t width, int32_t height, int32_t word1,
                   qvPixelBuffer* buffer, const qvPlane* alpha, int32_t word2);
// 0 with a new reference on the buffer (and, with copyAlpha, a copy of the alpha channel), or
// ERR_CACHEERROR when no entry has the name or copyAlpha finds none, or ERR_MEM.
int FindCachedImage(const char* name, bool copyAlpha, qvCachedImage* out);
void FreeImageCache();

// What LoadBrush reads from its options.
struct qvBrushLoadOptions {
  int64_t transparentColour = -1;  // keyed out by a mask; -1 none
  bool loadAlpha = false;
  int32_t globalAlpha = -1;  // 0-255: an alpha channel of this value (scaling a loaded one)
  int32_t x = 0, y = 0;      // the part of the picture; a size of 0 takes the rest
  int32_t width = 0, height = 0;
  const char* cacheName = nullptr;       // add the picture to the image cache under this name
  const char* cachedLoadName = nullptr;  // take the picture from the image cache instead
  bool cacheAlpha = false;               // the cache keeps the alpha channel too
  qvIlbmRequest ilbm;
};
// Loads the file (or the cached picture) into a brush under the id: the picture is read first,
// then the id released, so that a failure leaves the old brush as it was and makes none.
// 0 or an error code: the loader's, ERR_MASKNALPHA, ERR_NEGCOORDS, ERR_COORDSRANGE,
// ERR_BADDIMENSIONS, ERR_CACHEERROR, ERR_MEM.
int LoadBrushFromFile(qvScriptState* L, qvObjectId* id, bool automatic, const char* file,
                      const qvBrushLoadOptions& options, qvBrush** out);

// What LoadBGPic reads from its options.
struct qvBGPicLoadOptions {
  int64_t transparentColour = -1;  // keyed out; -1 none
  bool loadAlpha = false;
  bool keepPalette = true;  // an ILBM pen picture's palette stays with the BGPic (GetPen)
  // Shown behind a transparent picture (kFillNone: the picture keeps its mask or alpha channel).
  qvBackfillSettings backfill{};
  qvIlbmRequest ilbm;
};
// Loads the file into a BGPic under the id: the picture is read (and rendered over the backfill)
// first, then the id released, so that a failure leaves the old BGPic as it was and makes none.
// A plugin's vector picture makes a generated BGPic that its plugin draws again at other sizes.
// 0 or an error code: the loader's, ERR_MASKNALPHA, the texture brush's FindBrush codes,
// DeleteBGPicNode's, ERR_MEM.
int LoadBGPicFromFile(qvScriptState* L, qvObjectId* id, bool automatic, const char* file,
                      const qvBGPicLoadOptions& options, qvBGPic** out);

// One pixel of a brush: its colour 0x00RRGGBB and its mask bit or alpha byte (-1 without mask
// and alpha). False for a position outside the brush.
bool ReadBrushPixelAt(const qvBrush* brush, int32_t x, int32_t y, uint32_t* colour,
                      int32_t* second);
// Writes the colour (its top byte dropped) and, with alpha >= 0, the mask bit (0 clears it) or
// the alpha byte; a position outside writes nothing.
void WriteBrushPixelAt(qvBrush* brush, int32_t x, int32_t y, uint32_t colour, int32_t alpha);

// Picture formats of the savers; other numbers would be picture-saver plugins.
enum : int32_t {
  kImageFormatBmp = 0,
  kImageFormatPng = 1,
  kImageFormatJpeg = 2,
  kImageFormatGif = 3,
  kImageFormatIlbm = 4
};

// A picture to save: ARGB words, `width` words a row.
struct qvSavePicture {
  const char* file = nullptr;
  const uint32_t* pixels = nullptr;
  int32_t width = 0, height = 0;
  bool hasMask = false;   // the pixels came from a masked bitmap
  int64_t colour = -1;    // the colour of masked-out pixels, -1 for none given
  bool alpha = false;     // the alpha bytes carry meaning
  int32_t quality = 90;   // 0-100, lossy formats
  int32_t colours = 256;  // palette formats
  int32_t dither = 0;     // palette formats
};
// One row of the saver table: the writer of a format.
using qvPictureWriter = int (*)(const qvSavePicture& picture);
struct qvPictureWriterRow {
  int32_t format;
  qvPictureWriter write;
};

// Width x height ARGB words (std::free) from the bitmap: with a mask, pixels whose bit is clear
// become the colour (keepAlpha: get alpha 0, the others 255); with an alpha channel the alpha
// bytes come from it and fully transparent pixels have the colour's low 24 bits OR-ed in;
// otherwise every alpha byte is 255. Null when it cannot be had.
uint32_t* BuildARGBPixels(const qvBitMap* bitmap, int32_t width, int32_t height,
                          const qvPlane* mask, const qvPlane* alpha, uint32_t colour,
                          bool keepAlpha);
// Writes the picture in the format (never frees its pixels). 0, the writer's error,
// ERR_UNSUPPORTEDFEAT for a built-in format without a writer yet, ERR_UNKNOWNIMGOUT for a number
// that no saver takes.
int SavePictureFile(int32_t format, const qvSavePicture& picture);
// BuildARGBPixels (keepAlpha off) and SavePictureFile. ERR_MEM when the pixels cannot be had.
int SaveBitMapAsPicture(int32_t format, const qvBitMap* bitmap, int32_t width, int32_t height,
                        const char* file, const qvPlane* mask, int64_t colour, const qvPlane* alpha,
                        int32_t quality, int32_t colours, int32_t dither);

// ---------------------------------------------------------------------------------------------
// Snapshots.

enum : int32_t { kSnapWindow = 0, kSnapDisplay = 1, kSnapDesktop = 2 };
// Writes a 24-bit BMP of the bitmap (no mask, no alpha). 0, ERR_WRITEFILE (name stored) or
// ERR_MEM.
int SaveBitMapAsBmp(const qvBitMap* bitmap, int32_t width, int32_t height, const char* fileName);
// A new bitmap of the snapshot type: 0 or an error code.
int GrabSnapshot(qvScriptState* L, int32_t type, qvBitMap** out, bool* owned);

}  // namespace qv
