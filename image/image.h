// The image engine: 32-bit bitmaps with their 1-bit masks and 8-bit alpha planes, the pixel
// formats and their conversions, the pixel and blit kernels, the scaler and the rotator. It stands
// on base/ and the platform's text output only. Every function may be called from any thread
// unless its comment says otherwise; none keeps state shared between threads.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv {

// ---------------------------------------------------------------------------------------------
// Pixel formats. 16-bit values are the word as the processor reads it, 24-bit values are given in
// memory order (most significant byte first), 32-bit values are the word as read. "x" is a byte
// without colour; every conversion writes it as 0.
enum qvPixelFormat : int32_t {
  kPixRGB555 = 0,  // red 10-14, green 5-9, blue 0-4
  kPixBGR555 = 1,
  kPixRGB555PC = 2,  // 0 byte-swapped
  kPixBGR555PC = 3,  // 1 byte-swapped
  kPixRGB565 = 4,    // red 11-15, green 5-10, blue 0-4
  kPixBGR565 = 5,
  kPixRGB565PC = 6,  // 4 byte-swapped
  kPixBGR565PC = 7,  // 5 byte-swapped
  kPixRGB24 = 8,     // bytes R, G, B
  kPixBGR24 = 9,     // bytes B, G, R
  kPixARGB32 = 10,   // 0xAARRGGBB: every bitmap the player allocates
  kPixBGRx32 = 11,   // 0xBBGGRRxx
  kPixRGBx32 = 12,   // 0xRRGGBBxx
  kPixxBGR32 = 13,   // 0xxxBBGGRR
};

// ---------------------------------------------------------------------------------------------
// Raster records.

// A bitmap. Bitmaps made here are format 10 with 4 bytes per pixel, rows of (width & ~3) + 4
// pixels and height + 1 rows, never cleared: kernels may read a few pixels past the visible width
// and one row past the height.
struct qvBitMap {
  int32_t width;
  int32_t height;
  uint8_t* pixels;
  int32_t bytesPerRow;
  int32_t bytesPerPixel;
  int32_t format;  // a qvPixelFormat
};

// A 1-bit mask (width / 8 + 1 bytes per row, most significant bit first, a set bit is opaque) or
// an 8-bit alpha plane (width rounded up to 4 bytes per row). A foreign plane's data belongs to
// someone else and is never freed with the record. Wrapped rows have width and height 0: their
// size is the caller's to know.
struct qvPlane {
  uint8_t* data;
  int32_t width;
  int32_t height;
  int32_t bytesPerRow;
  int32_t spare[2];
  int32_t foreign;
};

// The lock view of a bitmap: a view that needs no release.
struct qvBitMapLock {
  uint8_t* pixels;
  int32_t valid;
  int32_t format;
  int32_t bytesPerPixel;
  int32_t pixelsPerRow;
  int32_t width;
  int32_t height;
};

// ---------------------------------------------------------------------------------------------
// Bitmaps, masks and alpha planes. Sizes are computed in 64 bits: a negative size or more than
// 2^31 bytes for one plane gives null (or ERR_MEM where a code is returned).

qvBitMap* AllocBitMap(int32_t width, int32_t height);
// A bitmap of which every byte is 0 (the spare pixels and row too). Its memory comes cleared from
// the allocator, which leaves fresh pages untouched: they cost nothing until written.
qvBitMap* AllocClearedBitMap(int32_t width, int32_t height);
void FreeBitMap(qvBitMap* bitmap);  // null is allowed
qvPlane* AllocMask(int32_t width, int32_t height, bool clear);
qvPlane* AllocAlphaChannel(int32_t width, int32_t height, bool clear);
void FreeMaskOrAlpha(qvPlane* plane);  // null is allowed; foreign data stays
// Bytes per row of a mask or an alpha plane of the width (0 for a negative width).
int32_t MaskBytesPerRow(int32_t width);
int32_t AlphaBytesPerRow(int32_t width);

// Foreign planes over caller memory; null when the record cannot be had.
qvPlane* WrapPlaneBuffer(uint8_t* data, int32_t width, int32_t height, int32_t bytesPerRow);
qvPlane* WrapPlaneRows(uint8_t* data, int32_t bytesPerRow);
void SetPlaneBuffer(qvPlane* plane, uint8_t* data, int32_t bytesPerRow);
// Plane records by value over caller memory (foreign), for one call's use.
qvPlane MakeTempMask(uint8_t* data, int32_t width, int32_t height);
qvPlane MakeTempPlane(uint8_t* data, int32_t bytesPerRow);

// Fills the lock view; false and an invalid view for a null bitmap.
bool LockBitMap(const qvBitMap* bitmap, qvBitMapLock* lock);
void UnLockBitMap(qvBitMapLock* lock);

// Single pixels. A bitmap pixel reads as 0x00RRGGBB by its format (0 for formats without a
// reader); a plane pixel reads as its mask bit. Points outside are read as 0 and never written.
uint32_t ReadBitMapPixel(const qvBitMap* bitmap, int32_t x, int32_t y);
uint32_t ReadBitMapPixel(const qvPlane* mask, int32_t x, int32_t y);
// On a bitmap the colour 0x00RRGGBB is stored in the bitmap's format (16-bit 5-6-5 and formats
// 10-13; others are left alone). On a mask, modes 0, 2 and 5 set the bit, 1 clears it, 3 inverts.
void WriteBitMapPixel(qvBitMap* bitmap, int32_t x, int32_t y, uint32_t colour);
void WriteBitMapPixel(qvPlane* mask, int32_t x, int32_t y, int32_t mode);

// A new array (std::free) of width x height ARGB words read from the top-left corner: format 10
// keeps its alpha byte. Null when the size exceeds the bitmap, is negative, or cannot be had.
uint32_t* ReadBitMapARGB(const qvBitMap* bitmap, int32_t width, int32_t height);
// A new bitmap from ARGB words (source stride in words); with a colour key other than -1 also a
// mask whose bits are set where the low 24 bits differ from the key. Returns 0, ERR_MEM or
// ERR_LOCKBMAP; nothing is stored on failure.
int AllocBitMapFromARGB(const uint32_t* argb, int64_t colourKey, int32_t width, int32_t height,
                        int32_t sourceWordsPerRow, qvBitMap** outBitmap, qvPlane** outMask);
// Words from one row of a bitmap to the next: the width rounded down to four, and four spare.
int32_t BitMapWordsPerRow(int32_t width);
// A bitmap made over a block of ARGB words that is already laid out as AllocBitMap lays out its
// own (BitMapWordsPerRow(width) words a row, height + 1 rows, from std::malloc or the image
// engine's allocator): the bitmap takes the block, no pixel is copied, and FreeBitMap frees it.
// The colour key and the mask as AllocBitMapFromARGB. Returns 0, or ERR_MEM with nothing stored
// and the block still the caller's.
int AdoptBitMapFromARGB(uint32_t* block, int64_t colourKey, int32_t width, int32_t height,
                        qvBitMap** outBitmap, qvPlane** outMask);

// Attributes. The typed accessors below answer for a null bitmap with 0.
enum BitMapAttr : int32_t {
  kBmaWidth = 0,
  kBmaBytesPerRow = 1,
  kBmaBytesPerRow2 = 2,
  kBmaWidth3 = 3,
  kBmaWidth4 = 4,
  kBmaMaskBytesPerRow = 11,
  kBmaPixelsPerRow = 17,
  kBmaHeight = 18,
  kBmaDepth = 21,
  kBmaRecord = 24,
};
// Numeric attributes by code (width, bytes per row, mask bytes per row for the width, pixels per
// row, height, depth 32); kBmaRecord and unknown codes give 0: use the record itself.
int32_t GetBitMapAttr(const qvBitMap* bitmap, int32_t code);
inline int32_t BitMapWidth(const qvBitMap* b) { return GetBitMapAttr(b, kBmaWidth); }
inline int32_t BitMapHeight(const qvBitMap* b) { return GetBitMapAttr(b, kBmaHeight); }
inline int32_t BitMapBytesPerRow(const qvBitMap* b) { return GetBitMapAttr(b, kBmaBytesPerRow); }
inline int32_t BitMapPixelsPerRow(const qvBitMap* b) { return GetBitMapAttr(b, kBmaPixelsPerRow); }
inline int32_t BitMapDepth(const qvBitMap* b) { return GetBitMapAttr(b, kBmaDepth); }

// Blits. A null destination prints "ERROR! ... CALLED WITH DST=NULL!" through the text output.
// Rectangles are clipped to both sides (and to a mask or template that knows its size); both
// bitmaps need 4 bytes per pixel, others are left unchanged. The mask of BltMaskBitMap is read at
// the source coordinates.
void BltBitMap(const qvBitMap* src, int32_t sx, int32_t sy, qvBitMap* dst, int32_t dx, int32_t dy,
               int32_t width, int32_t height);
void BltMaskBitMap(const qvBitMap* src, int32_t sx, int32_t sy, qvBitMap* dst, int32_t dx,
                   int32_t dy, int32_t width, int32_t height, const qvPlane* mask);
void BltTemplate(const qvPlane* tmpl, int32_t sx, int32_t sy, qvBitMap* dst, int32_t dx, int32_t dy,
                 int32_t width, int32_t height, uint32_t colour);
void FillBitMapRect(qvBitMap* bitmap, int32_t x, int32_t y, int32_t width, int32_t height,
                    uint32_t colour);
// 1-bit rectangles. Modes of BltPlane by source bit: 0 and 5 set where 1; 1 clear where 1;
// 2 copy; 3 invert where 1; 4 clear where 0; others nothing. FillPlaneRect: 0, 2, 5 set, 1 clear,
// 3 invert, others nothing. Clipped to the planes that know their size.
void BltPlane(const qvPlane* src, int32_t sx, int32_t sy, qvPlane* dst, int32_t dx, int32_t dy,
              int32_t width, int32_t height, int32_t mode);
void FillPlaneRect(qvPlane* plane, int32_t x, int32_t y, int32_t width, int32_t height,
                   int32_t mode);
void ClearTwoResults(const qvBitMap* bitmap, int32_t x, int32_t y, int32_t* a, int32_t* b);

// ---------------------------------------------------------------------------------------------
// Formats and conversions.

// 0x00RRGGBB into the 32-bit channel order of formats 10-13 (10 and unknown codes unchanged).
uint32_t ConvertPixelOrder(int32_t format, uint32_t rgb);
// The inverse: 0x00RRGGBB from formats 11-13; 10 and unknown codes unchanged (alpha kept).
uint32_t PixelToRGB(int32_t format, uint32_t pixel);
// A colour 0x00RRGGBB as a pixel value of any of the 14 formats; 0 above 13.
uint32_t ColorToPixelFormat(uint32_t colour, int32_t format);
// RGB565 words to and from the 16-bit layouts 0-7; other layouts unchanged.
uint16_t Rgb565ToLayout(int32_t layout, uint16_t word);
uint16_t LayoutToRgb565(int32_t layout, uint16_t word);
// Packs three channels into formats 10 (0x00RRGGBB), 11, 12 or 13.
void PackRGBToPixel(uint8_t r, uint8_t g, uint8_t b, uint32_t* out, int32_t format);

// ---------------------------------------------------------------------------------------------
// Pixel kernels. Pointers are at the rectangle's top-left pixel; strides of 32-bit pixels are in
// pixels, of masks and 8-bit planes in bytes; a width or height below 1 does nothing. Kernels never
// clip: the caller has done it.

void ColorKeyMaskKernel(const uint32_t* pixels, uint8_t* mask, int32_t width, int32_t height,
                        int32_t maskBytesPerRow, uint32_t key, int32_t pixelsPerRow,
                        uint32_t channelMask);
// Pairs {old, new} up to the first old word 0xFFFFFFFF; later pairs see earlier replacements.
void ReplaceColorsKernel(int32_t width, int32_t height, const uint32_t* pairs, uint32_t* pixels,
                         int32_t pixelsPerRow, uint32_t channelMask);
void GrayKernel(uint32_t* pixels, int32_t width, int32_t height, int32_t format,
                int32_t pixelsPerRow, bool monochrome);
void InvertKernel(uint32_t* pixels, int32_t width, int32_t height, int32_t pixelsPerRow);
void InvertBytesKernel(uint8_t* data, int32_t rows, int32_t bytesPerRow);

struct TintRecord {
  uint32_t* pixels;  // the bitmap's first pixel
  int32_t left, top, width, height;
  uint32_t colour;  // 0x00RRGGBB
  int32_t level;    // 0 keeps the picture, 255 gives about the colour
  int32_t pixelsPerRow;
  int32_t format;
};
void TintKernel(const TintRecord& r);

struct MixRecord {
  const uint32_t* src;
  uint32_t* dst;
  const uint8_t* maskRow;  // or null
  int32_t maskColumn;      // the mask column of the first pixel
};
// Where the mask bit is set (or without a mask) each channel becomes
// s + (((d - s) x (255 - level)) >> 8): level is the source's share.
void MixKernel(const MixRecord& r, int32_t width, int32_t height, int32_t level, int32_t format,
               int32_t srcPixelsPerRow, int32_t dstPixelsPerRow, int32_t maskBytesPerRow);

struct FlipRecord {
  uint32_t* pixels;
  int32_t width, height, pixelsPerRow;
  uint8_t* mask;
  int32_t maskBytesPerRow;
  uint8_t* alpha;
  int32_t alphaBytesPerRow;
  bool horizontal;
  int32_t bytesPerPixel;
  uint8_t* scratch;  // mask bytes per row; for a horizontal mask flip only
};
void FlipKernel(const FlipRecord& r);

// ---------------------------------------------------------------------------------------------
// Blit kernels. Records hold the planes' base addresses; the kernel moves to the corners itself.

struct BltBitMapRecord {
  const uint32_t* src;
  uint32_t* dst;
  int32_t sx, sy, dx, dy, width, height;
  int32_t srcPixelsPerRow, dstPixelsPerRow;
  bool convert;  // carry the channels from srcFormat's order to dstFormat's, spare byte 0
  int32_t srcFormat, dstFormat;
};
void BltBitMapKernel(const BltBitMapRecord& r);

struct BltMaskRecord {
  const uint32_t* src;
  uint32_t* dst;
  const uint8_t* mask;
  int32_t sx, sy;  // also the mask's column and row
  int32_t dx, dy, width, height;
  int32_t srcPixelsPerRow, maskBytesPerRow, dstPixelsPerRow;
  int32_t conversion;  // 0 none, 1 to format 11, 2 to format 12, others write nothing
};
void BltMaskKernel(const BltMaskRecord& r);

struct BltTemplateRecord {
  const uint8_t* tmpl;
  uint32_t* dst;
  int32_t tx, ty, dx, dy, width, height;
  int32_t tmplBytesPerRow, dstPixelsPerRow;
  uint32_t colour;  // a pixel value
};
void BltTemplateKernel(const BltTemplateRecord& r);

struct BltAlphaBitMapRecord {
  const uint32_t* src;
  int32_t sx, sy, ax, ay, srcPixelsPerRow;
  uint32_t* dst;
  int32_t dx, dy, dstPixelsPerRow, width, height;
  const uint8_t* alpha;
  int32_t alphaBytesPerRow;
  int32_t format;
};
// Alpha 0 leaves the destination, 255 copies the source whole, else d + (((s - d) x a) >> 8) per
// channel with the top byte 0.
void BltAlphaBitMapKernel(const BltAlphaBitMapRecord& r);

struct BltAlphaChannelRecord {
  int32_t cx, cy;  // coverage (and source pixels, 16-bit coverage) left and top
  uint32_t* dst;
  int32_t dx, dy, dstPixelsPerRow, width, height;
  const uint8_t* coverage;
  uint8_t* dstAlpha;  // at the destination's coordinates
  int32_t coverageBytesPerRow, dstAlphaBytesPerRow;
  int32_t format;
  uint32_t colour;  // a pixel value
  // 0 set, 1 blend, 2 blend with alpha update, 3 as 2 from 16-bit coverage, 4 with 65 levels
  int32_t mode;
  int32_t opacity;             // 0-255, modes 2 and 3
  const uint16_t* coverage16;  // mode 3: values 0-255, stride in words
  int32_t coverage16Stride;
  const uint32_t* src;  // or null: the colour
  int32_t srcPixelsPerRow;
};
void BltAlphaChannelKernel(const BltAlphaChannelRecord& r);

struct BltBytesRecord {
  const uint8_t* src;
  int32_t sx, sy;
  uint8_t* dst;
  int32_t dx, dy, width, height, srcBytesPerRow, dstBytesPerRow;
  int32_t mode;  // 0-8
  int32_t value;
};
void BltBytesKernel(const BltBytesRecord& r);

struct TemplateToBytesRecord {
  const uint8_t* tmpl;
  int32_t tx, ty, tmplBytesPerRow;
  uint8_t* dst;
  int32_t dx, dy, dstBytesPerRow, width, height;
  uint8_t value;
};
void TemplateToBytesKernel(const TemplateToBytesRecord& r);

struct SafeBltRecord {
  const uint8_t* clip;
  uint8_t* dst;            // a mask, or an alpha plane when objAlpha is given
  const uint8_t* objMask;  // or null; at the destination's coordinates with its stride
  int32_t clipOriginLeft, clipOriginTop;
  int32_t dx, dy, clipLeft, clipTop, width, height;
  const uint8_t* objAlpha;  // or null
  int32_t dstAlphaBytesPerRow, dstMaskBytesPerRow, clipBytesPerRow, objAlphaBytesPerRow;
};
void SafeBltKernel(const SafeBltRecord& r);

struct CopyThroughByteMaskRecord {
  const uint32_t* src;
  int32_t sx, sy;
  const uint8_t* byteMask;
  int32_t byteMaskTop, srcPixelsPerRow;
  uint32_t* dst;
  int32_t dx, dy, dstPixelsPerRow, width, height, byteMaskLeft, byteMaskBytesPerRow;
};
void CopyThroughByteMaskKernel(const CopyThroughByteMaskRecord& r);

void FillPixelRectKernel(uint32_t* pixels, int32_t pixelsPerRow, int32_t left, int32_t top,
                         int32_t width, int32_t height, uint32_t value);
void FillBytesRectKernel(uint8_t* data, int32_t left, int32_t top, int32_t width, int32_t height,
                         int32_t bytesPerRow, uint8_t value);
// width x height bytes as one run: d = s x factor / 255.
void ScaleBytesKernel(const uint8_t* src, uint8_t* dst, int32_t factor, int32_t width,
                      int32_t height);
struct AlphaToMaskRect {
  int32_t ax, ay, mx, my, width, height;
};
// Modes: 0, 2 mask = (a == 255); 1 mask = (a != 255); 3 toggle where 255; 5 set where 255.
void AlphaToMaskKernel(const uint8_t* alpha, uint8_t* mask, int32_t alphaBytesPerRow,
                       int32_t maskBytesPerRow, int32_t mode, const AlphaToMaskRect& rect);
void ExtractAlphaKernel(const uint32_t* pixels, int32_t width, int32_t height, int32_t pixelsPerRow,
                        uint8_t* alpha, int32_t alphaBytesPerRow);

struct FloodFillRecord {
  uint32_t* pixels;
  int32_t areaWidth, areaHeight, pixelsPerRow;
  uint32_t border, fill;
  int32_t areaLeft, areaTop;
};
// Fills the run through (x, y) (bitmap coordinates) and every run it reaches, stopping at pixels
// whose bits under the channel mask equal the border. Returns 0, or ERR_MEM when its run stack
// cannot grow (the fill then stops part way).
int FloodFillKernel(const FloodFillRecord& r, int32_t x, int32_t y, uint32_t channelMask);

// ---------------------------------------------------------------------------------------------
// Scaling and rotation.

// The scaler's index tables belong to the calling thread: a video thread and the script thread
// never share them.
struct ScaleTables {
  uint32_t* columnFraction;
  uint32_t* rowFraction;
  uint32_t* columnStep;
  uint32_t* rowStep;
};
// Grows the calling thread's tables to new width + 1 and new height + 1 entries. ERR_MEM keeps
// the old tables.
int EnsureScaleTables(int32_t newWidth, int32_t newHeight);
// The calling thread's tables (null entries before the first EnsureScaleTables).
ScaleTables CurrentScaleTables();
void FreeScaleTables();

struct ScaleRecord {
  const uint8_t* src;  // at the rectangle's top-left
  uint8_t* dst;
  const uint8_t* srcMask;  // at the rectangle's top row
  uint8_t* dstMask;
  const uint8_t* srcAlpha;  // at the rectangle's top-left
  uint8_t* dstAlpha;
  int32_t srcLeft;  // the mask's first column
  int32_t srcTop;
  int32_t width, height, newWidth, newHeight;
  int32_t srcPixelsPerRow, dstPixelsPerRow;
  int32_t srcMaskBytesPerRow, dstMaskBytesPerRow, srcAlphaBytesPerRow, dstAlphaBytesPerRow;
  bool smooth;
  int32_t format;
  int32_t bytesPerPixel;
  ScaleTables tables;  // the smooth path's; filled by the kernel
};
// Without source pixels only the mask is scaled. Hard: nearest (4 bytes per pixel). Smooth:
// bilinear for formats 10-13; needs tables of newWidth + 1 and newHeight + 1 entries.
void ScaleBitMapKernel(const ScaleRecord& r);
void ScaleMaskKernel(const ScaleRecord& r, float columnRatio, float rowRatio);
void ScalePlaneNearestKernel(const ScaleRecord& r, float columnRatio, float rowRatio);
void ScaleHardKernel(const ScaleRecord& r);

// Scales the rectangle with its mask and alpha into new planes (or into dst, which must hold the
// new size; no mask or alpha then). A new size below 1 does nothing and returns 0. Returns 0,
// ERR_MEM, ERR_LOCKBMAP, or ERR_OUTOFRANGE for a rectangle outside the planes.
int ScaleBitMap(const qvBitMap* bitmap, const qvPlane* mask, const qvPlane* alpha, int32_t left,
                int32_t top, qvBitMap* dst, int32_t width, int32_t height, int32_t newWidth,
                int32_t newHeight, bool smooth, qvBitMap** outBitmap, qvPlane** outMask,
                qvPlane** outAlpha);

struct RotateRecord {
  const uint8_t* src;  // at the rectangle's top-left
  uint8_t* dst;
  const uint8_t* srcMask;  // at the rectangle's top row
  uint8_t* dstMask;
  const uint8_t* srcAlpha;  // at the rectangle's top-left
  uint8_t* dstAlpha;
  int32_t srcLeft, srcTop, srcWidth, srcHeight, srcPixelsPerRow;
  int32_t dstWidth, dstHeight, dstPixelsPerRow;
  int32_t srcMaskBytesPerRow, dstMaskBytesPerRow, srcAlphaBytesPerRow, dstAlphaBytesPerRow;
  const double* transform;  // a, b, c, d, e, f: (x, y) -> (a x + c y + e, b x + d y + f)
  bool smooth;
  int32_t format;
  int32_t bytesPerPixel;
};
// Maps every result pixel back through the inverse transform. A singular transform writes
// nothing.
void RotateKernel(const RotateRecord& r);
// The columns [first, last] of result row y whose back-mapped point lies inside the source;
// false when there is none.
bool RotateRowRange(const RotateRecord& r, const double inverse[6], int32_t y, int32_t* first,
                    int32_t* last);

// The box of a width x height rectangle under the matrix {a, b, c, d}: its size (from the corners
// rounded half up) and the offset the rotator subtracts (the least corner plus a half, truncated
// toward 0, which puts a turned or mirrored picture's pixels on whole result pixels).
void GetRotatedBox(const double matrix[4], int32_t width, int32_t height, int32_t* outWidth,
                   int32_t* outHeight, int32_t* outLeft, int32_t* outTop);
// Rotates (or skews) the rectangle into a new cleared bitmap with a cleared alpha plane (when
// the source has alpha) or mask. Returns 0, ERR_MEM, ERR_LOCKBMAP or ERR_OUTOFRANGE.
int RotateBitMap(const qvBitMap* bitmap, const qvPlane* mask, const qvPlane* alpha, int32_t left,
                 int32_t top, int32_t width, int32_t height, const double matrix[4], bool smooth,
                 qvBitMap** outBitmap, qvPlane** outMask, qvPlane** outAlpha, int32_t* outWidth,
                 int32_t* outHeight);

// ---------------------------------------------------------------------------------------------
// Bitmap operations. Each checks its arguments, locks what it needs (every lock taken is released
// on every path), runs its kernel and returns 0, ERR_MEM or ERR_LOCKBMAP; a failing call frees
// exactly what it made and stores nothing. Kernels on pixels run only on 4 bytes per pixel (the
// call still returns 0). Rectangles are clipped to the planes. Where a lock view may be given,
// the call uses it and neither locks nor releases.

struct qvStyleEffects;

// Zeroes height x pixels-per-row pixels, or with spareColumnsOnly the columns from the width to
// the end of each row (those the scaler reads).
void ClearBitMap(qvBitMap* bitmap, bool spareColumnsOnly);
int TintBitMap(qvBitMap* bitmap, int32_t left, int32_t top, int32_t width, int32_t height,
               uint32_t colour, int32_t level);
// Mixes the source's rectangle at (sx, sy) into the destination's at (dx, dy), level being the
// source's share (0-255); a source mask is read at the source's coordinates. With a source alpha
// (alphaWidth x alphaHeight, at the source's coordinates) the source is blended through a scratch
// copy of the alpha scaled by level / 255.
int MixBitMaps(qvBitMap* dst, const qvBitMap* src, const qvPlane* srcMask, int32_t dx, int32_t dy,
               int32_t sx, int32_t sy, int32_t width, int32_t height, int32_t level,
               const qvPlane* srcAlpha, int32_t alphaWidth, int32_t alphaHeight);
int GrayBitMap(qvBitMap* bitmap, int32_t width, int32_t height, bool monochrome,
               const qvBitMapLock* lock = nullptr);
int InvertBitMap(qvBitMap* bitmap, int32_t width, int32_t height,
                 const qvBitMapLock* lock = nullptr);
// Flips the top-left width x height of every plane given (the bitmap may be null).
int FlipBitMap(qvBitMap* bitmap, qvPlane* mask, qvPlane* alpha, int32_t width, int32_t height,
               bool horizontal);
// New width x height copies of the planes that are given (absent inputs give absent outputs).
// With fastMemory a failed bitmap allocation is tried once more.
int CopyBitMapRegion(const qvBitMap* bitmap, const qvPlane* mask, const qvPlane* alpha,
                     int32_t left, int32_t top, int32_t width, int32_t height, bool fastMemory,
                     qvBitMap** outBitmap, qvPlane** outMask, qvPlane** outAlpha);
// A new mask of width x height, set where the pixel differs from the key 0x00RRGGBB (alpha or
// spare byte ignored); null when the lock or the allocation fails.
qvPlane* CreateColorKeyMask(const qvBitMap* bitmap, int32_t width, int32_t height, uint32_t key);

// The size of a width x height picture under the matrix {a, b, c, d}. Without rotation or skew
// (b = c = 0) it is trunc(width |a|) x trunc(height |d|), each at least 1, unchanged for a = d = 1,
// and the scaled display's size when the matrix is the display's scale and the size its
// unscaled size; otherwise the rotated box's.
void GetTransformedSize(const double matrix[4], int32_t width, int32_t height, int32_t* outWidth,
                        int32_t* outHeight);
enum : int32_t { kTransformBitMap = 0, kTransformPlugin = 1 };
// Transforms the rectangle of a picture drawn at (x, y) about the anchor fractions: the box of
// the result goes to outX, outY (GetTransformedBounds) and its size to outWidth, outHeight.
// Mode 0: a pure scale (b = c = 0, a, d >= 0) copies (a = d = 1) or scales, any other matrix
// rotates. Mode 1: the plugin's picture; the identity copies the bitmap, anything else asks the
// host's plugin transform (ERR_TFIMAGE without one). Other modes give the size only.
int TransformBitMap(void* pluginImage, int32_t mode, void* plugin, const qvBitMap* bitmap,
                    const qvPlane* mask, const qvPlane* alpha, int32_t left, int32_t top, int32_t x,
                    int32_t y, int32_t width, int32_t height, const double anchor[2],
                    const double matrix[4], bool smooth, qvBitMap** outBitmap, qvPlane** outMask,
                    qvPlane** outAlpha, int32_t* outX, int32_t* outY, int32_t* outWidth,
                    int32_t* outHeight);
// Scales an alpha plane by factor / 255; without one, makes one: factor where the mask is set
// (the mask is then freed and its handle cleared) or factor everywhere.
int ApplyTransparencyToAlpha(qvPlane** alpha, qvPlane** mask, int32_t width, int32_t height,
                             int32_t factor);
// Applies a draw style's filters and transparency to a freshly drawn picture, unless the
// display's layers are on (the layer applies the style then) or there is no style.
int ApplyStyleTransparency(const qvStyleEffects* style, qvBitMap* bitmap, qvPlane** mask,
                           qvPlane** alpha, int32_t width, int32_t height);

// ---------------------------------------------------------------------------------------------
// Alpha blits and transformed bounds.

// Blends the source into the destination by the alpha plane, read at the source's coordinates:
// 0 keeps the destination, 255 copies, else d + (((s - d) x a) >> 8) per channel. With
// copyWhereNonZero every pixel whose alpha byte is not 0 is copied whole. Clipped to both bitmaps
// and to an alpha plane that knows its size; both need 4 bytes per pixel. A null destination
// prints "ERROR! BLTALPHABITMAP() CALLED WITH DST=NULL!".
void BltAlphaBitMap(const qvBitMap* src, int32_t sx, int32_t sy, qvBitMap* dst, int32_t dx,
                    int32_t dy, int32_t width, int32_t height, const qvPlane* alpha,
                    bool copyWhereNonZero = false);
// Combines an 8-bit plane into another by one of the modes of BltBytesKernel. The rectangle is
// always clipped: a negative corner on either side moves the other, and the size is cut to both
// planes where they know their size.
void CopyAlphaRect(const qvPlane* src, int32_t sx, int32_t sy, qvPlane* dst, int32_t dx, int32_t dy,
                   int32_t width, int32_t height, int32_t mode, int32_t value);

// The box of the width x height rectangle at (x, y) whose corners (0, 0) .. (width - 1,
// height - 1) turn about the anchor (anchorX x width, anchorY x height) by the matrix {m0, m1,
// m2, m3}: x' = m0 (px - ax) + m2 (py - ay) + ax, y' = m1 (px - ax) + m3 (py - ay) + ay. The box
// starts from the first corner; outX = trunc(x + min x), outWidth = trunc(max x - min x + 1), and
// so for y. Any output may be null; non-finite or huge values give INT_MIN.
void GetTransformedBounds(int32_t x, int32_t y, int32_t width, int32_t height, double anchorX,
                          double anchorY, const double matrix[4], int32_t* outX, int32_t* outY,
                          int32_t* outWidth, int32_t* outHeight);

// ---------------------------------------------------------------------------------------------
// What the image engine asks of the display code. Until a display subsystem sets a host, every
// question answers "none": no display is scaled, layers are off, no filter runs and image plugins
// cannot transform.

// A scaled display: its unscaled size, its scale factors and the size it is shown at.
struct qvDisplayScale {
  int32_t width, height;
  double scaleX, scaleY;
  int32_t scaledWidth, scaledHeight;
};

// The parts of a draw style that the image engine applies to a freshly drawn picture.
struct qvStyleEffects {
  int32_t transparency;  // 0 opaque .. 255 invisible
  const void* filters;   // the display code's filter slots, or null
};

// A transform request to an image plugin: the six doubles {a, b, c, d, e, f} and the new size.
struct qvPluginTransform {
  double transform[6];
  int32_t width, height;
  bool smooth;
};

struct qvImageHost {
  // True with *out filled while the current display is shown scaled.
  bool (*displayScale)(qvDisplayScale* out) = nullptr;
  // True while the current display's layers are on (a layer then applies a style itself).
  bool (*layersOn)() = nullptr;
  // Applies every switched-on filter of the slots to the planes (which it may replace).
  void (*applyFilters)(const void* filters, qvBitMap* bitmap, qvPlane** mask, qvPlane** alpha,
                       int32_t width, int32_t height) = nullptr;
  // Asks the plugin for its picture transformed: 0 with new planes (the alpha may stay null),
  // or an error code.
  int (*pluginTransform)(void* plugin, void* pluginImage, const qvPluginTransform& request,
                         qvBitMap** outBitmap, qvPlane** outAlpha) = nullptr;
};
// Copies the host's members (null restores "none"). Script thread only.
void SetImageHost(const qvImageHost* host);
const qvImageHost& CurrentImageHost();

// ---------------------------------------------------------------------------------------------
// Rendering through a target record: points, lines, coverage images and mask polygons.

// The target of shape drawing. Every plot is clipped to the target's size and, with the clip flag,
// to the clip rectangle and its mask (indexed from the rectangle's corner).
struct qvRenderRecord {
  uint32_t* pixels;  // or null: only the mask and alpha targets are drawn
  int32_t pixelsPerRow;
  int32_t bytesPerPixel;    // pixels are plotted only when 4
  int32_t width, height;    // the target's size (planes included)
  const uint32_t* texture;  // or null; read at the plotted pixel's coordinates
  int32_t texturePixelsPerRow;
  uint8_t* mask;  // 1-bit target or null
  int32_t maskBytesPerRow;
  uint8_t* alpha;  // 8-bit target or null: receives the opacity
  int32_t alphaBytesPerRow;
  int32_t spare[4];  // the draw library's
  int32_t thickness;
  int32_t format;
  uint32_t colour;  // 0x00RRGGBB
  uint32_t pixel;   // the colour in the target's format
  int32_t opacity;  // 0-255: the current opacity
  int32_t baseOpacity;
  int32_t red, green, blue;
  bool clip;
  int32_t clipLeft, clipTop, clipWidth, clipHeight;
  const uint8_t* clipMask;  // or null
  int32_t clipMaskBytesPerRow;
  int32_t maskMode;  // 0, 2, 5 set; 1 clear; 3 toggle; 4 leave
};

// Plots one pixel: the texture's pixel or the colour, stored as it is when the opacity is 255 or
// an alpha target is given, else blended d + (((k - d) x opacity) >> 8) per channel; then the mask
// target by the mask mode and the alpha target's byte = the opacity.
void PlotRenderPixel(qvRenderRecord& r, int32_t x, int32_t y);
// A one-pixel line, two pixels a step with coverages 255 - f and f (f the 8-bit fraction), each
// times base opacity / 255; a single point plots at the base opacity.
void DrawAntialiasedLineKernel(qvRenderRecord& r, int32_t x1, int32_t y1, int32_t x2, int32_t y2);
// A thick line: Bresenham along the major axis with a centred run of trunc(thickness / sin) (steep)
// or trunc(thickness / cos) (flat) pixels, at least 1, across it.
void DrawLineKernel(qvRenderRecord& r, int32_t x1, int32_t y1, int32_t x2, int32_t y2);
// Paints through a coverage image placed at (left, top): each byte c > 0 plots at opacity c (times
// base / 255); where a second plane (same stride) has a byte > 0 the pixel plots at the opacity
// the record had on entry.
void BlendCoverageKernel(const uint8_t* coverage, const uint8_t* second, int32_t left,
                         qvRenderRecord& r, int32_t width, int32_t height,
                         int32_t coverageBytesPerRow, int32_t top);
// Fills the rectangle (clipped to the target) through PlotRenderPixel at the record's opacity.
void FillRenderRect(qvRenderRecord& r, int32_t x, int32_t y, int32_t width, int32_t height);
// Fills the rectangle of a bitmap with the colour 0x00RRGGBB through a solid render record.
void FillBitMapRectRender(qvBitMap* bitmap, int32_t x, int32_t y, int32_t width, int32_t height,
                          uint32_t colour);

// Sets the bits of a mask row from column `from` to column `to`, both included.
void FillMaskSpan(uint8_t* row, int32_t from, int32_t to);
// Scan-fills the closed polygon of `count` {x, y} pairs into the width x height mask: per row
// the crossings x_t + (x_b - x_t)(y - t) / (b - t) + 0.5, truncated, of the edges with t <= y < b
// (on the last row also t < y <= b), sorted, filled pairwise with both ends included. The
// crossing buffer holds at least `count` words.
void FillPolygonKernel(uint8_t* mask, int32_t maskBytesPerRow, int32_t width, int32_t height,
                       int32_t* crossings, const int32_t* points, int32_t count);

// ---------------------------------------------------------------------------------------------
// Gradients.

enum qvGradientType : int32_t { kGradientLinear = 2, kGradientRadial = 3, kGradientConical = 4 };
constexpr int32_t kMaxGradientStops = 64;

struct qvGradientStop {
  uint32_t colour;  // 0x00RRGGBB
  double position;  // 0 .. 1
};

// A gradient as the drawing code describes it.
struct qvGradient {
  int32_t type;  // a qvGradientType
  uint32_t startColour, endColour;
  int32_t stopCount;  // 0 - 64; without stops the start and end colours are used
  int32_t angle;      // degrees (linear and conical)
  qvGradientStop stops[kMaxGradientStops];
  double centreX, centreY;  // fractions of the size (radial and conical)
  double balance;           // conical: where the end colour lies, 0 .. 1
  double border;            // radial: the share of the radius given up, 0 .. 0.99
};

// One entry of the stop table: a position in 16.16 (0 .. 65536) and its colour.
struct qvGradientEntry {
  int32_t position;
  uint32_t colour;            // 0x00RRGGBB
  uint16_t red, green, blue;  // 8-bit value x 257
};
struct qvGradientTable {
  qvGradientEntry entries[kMaxGradientStops + 1];
  int32_t count;
};
// The stop table of a descriptor: its stops sorted stably by position (or the start and end
// colours; a conical sweep gets end, start at the balance, end).
void BuildGradientTable(const qvGradient& g, qvGradientTable* table);
enum class GradientLookup : int32_t { kClamp = 0, kRepeat = 1 };
// The colour at position p (16.16) between the two stops around it: w = ((p - s0) x inv) >> 16,
// inv = ((s1 - s0) / 2 + 2^24) / (s1 - s0), red and blue weighted together. Stops at one position
// give the later stop's colour.
uint32_t GradientStopLookup(const qvGradientTable& table, int64_t p, GradientLookup mode);

struct GradientRecord {
  uint8_t* pixels;
  int32_t bytesPerPixel;
  int32_t format;
  int32_t left, top, width, height;
  int32_t pixelsPerRow;
  const qvGradient* gradient;
};
// Fills the rectangle (the caller clips) with the gradient; only on 4 bytes per pixel.
void GradientKernel(const GradientRecord& r);
// The stop-less linear gradient from `start` (t = 0) toward `end` at an angle in degrees: 0 top to
// bottom, 90 left to right, 180 bottom to top, 270 right to left.
void GradientAngleKernel(uint32_t end, uint32_t* pixels, int32_t left, int32_t top, int32_t width,
                         uint32_t start, int32_t angle, int32_t pixelsPerRow, int32_t format,
                         int32_t height);
// One row of each kind: pixels at (x0 .. x0 + n - 1, y) of a width x height gradient area.
void LinearGradientSpan(uint32_t* d, int32_t x0, int32_t y, int32_t n, int32_t width,
                        int32_t height, const qvGradient& g, const qvGradientTable& table,
                        int32_t format);
void RadialGradientSpan(uint32_t* d, int32_t x0, int32_t y, int32_t n, int32_t width,
                        int32_t height, const qvGradient& g, const qvGradientTable& table,
                        int32_t format);
void ConicalGradientSpan(uint32_t* d, int32_t x0, int32_t y, int32_t n, int32_t width,
                         int32_t height, const qvGradient& g, const qvGradientTable& table,
                         int32_t format);

// ---------------------------------------------------------------------------------------------
// Coverage images: 8-bit planes that the rasteriser draws polygons and lines into (255 where a
// shape covers a pixel, blended values along anti-aliased edges), painted with
// BlendCoverageKernel. Script thread only: RasterStatus is one word for the whole core.

constexpr int32_t kRasterMarker = 112;
struct qvRasterImage {
  int32_t marker;        // kRasterMarker
  int32_t channels;      // at least 1
  int32_t depth;         // bits per channel; the sign bit marks signed kinds
  int32_t dataOrder;     // 0: channels interleaved
  int32_t origin;        // 0: top row first
  int32_t rowAlignment;  // 4
  int32_t width, height;
  int64_t imageSize;    // height x bytesPerRow
  uint8_t* data;        // the first row
  int32_t bytesPerRow;  // the row's bytes rounded up to a multiple of 4
  void* dataBlock;      // the aligned block that holds the rows
};

// The view through which the drawing reads an image.
constexpr uint32_t kRasterMatrixMarker = 0x42420000u;
constexpr uint32_t kRasterContinuous = 0x4000u;
struct qvRasterMatrix {
  uint32_t type;  // the marker, the continuity flag and the element type (bits 0-8)
  int32_t bytesPerRow;
  uint8_t* data;
  int32_t rows, columns;
};

// 0 while all is well, else the negative code of the last failure (codes in image/raster.h).
int32_t RasterStatus();
void ClearRasterStatus();

// 32-byte aligned blocks (null above 2^30 bytes or without memory); FreeAligned refuses an
// address that is not aligned. Both go through the image engine's allocator.
void* AllocAligned(size_t size);
void FreeAligned(void* block);

// An image of width x height with `channels` channels of `depth` bits (1, 8, 16, 32, 64, or the
// signed 8, 16, 32); its pixels are not cleared. Null with the status set on failure.
qvRasterImage* CreateRasterImage(int32_t width, int32_t height, int32_t depth, int32_t channels);
void ReleaseRasterImage(qvRasterImage** image);  // null and an empty handle are allowed
// Fills and returns the view, or null with the status set.
qvRasterMatrix* GetRasterMatrixView(const qvRasterImage* image, qvRasterMatrix* matrix);
void ClearRaster(qvRasterImage* image);
void ClearRaster(qvRasterMatrix* matrix);

// A cleared coverage image (depth 8, one channel); the first row and the bytes per row go to the
// optional outputs. On failure *outImage stays null.
void CreateCoverageImage(int32_t width, int32_t height, qvRasterImage** outImage, uint8_t** outData,
                         int32_t* outBytesPerRow);
// A closed polygon of `count` {x, y} pairs (pixels): filled by the even-odd rule when thickness
// is 0, else its outline at that thickness with round corners; anti-aliased when asked.
void DrawPolygonCoverage(qvRasterImage* image, const int32_t* points, int32_t count, bool antialias,
                         int32_t thickness);
// A line with round caps (thickness 0 or 1: one pixel wide; 0-255).
void DrawLineCoverage(qvRasterImage* image, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                      bool antialias, int32_t thickness);
void ReleaseCoverageImage(qvRasterImage* image);

// ---------------------------------------------------------------------------------------------
// Effect kernels that the brush effects and the transitions share: swirl, water ripple, pixelate,
// dissolve mask and line rolling. Pointers are at the picture's top-left; strides of 32-bit pixels
// are in pixels, of masks and 8-bit planes in bytes; a plane pointer of null is skipped. Kernels
// return 0, or ERR_MEM when a copy they make of the destination cannot be had.

// floor(sqrt(n)) for n >= 0 (every 64-bit n), -1 for a negative n.
int32_t IntSqrt(int64_t n);

// Sine and cosine tables of the swirl and the ripple: entry k is sin (cos) of k x 0.001.
constexpr int32_t kEffectTableSize = 6300;

struct SwirlRecord {
  const uint32_t* src;     // or null: a copy of the destination
  const uint32_t* second;  // the picture the transition starts from, or null
  uint32_t* dst;
  int32_t srcPixelsPerRow, secondPixelsPerRow, dstPixelsPerRow;
  double* sine;  // kEffectTableSize entries each
  double* cosine;
  int32_t format, width, height;
  bool invertLevel;
  const uint8_t* transitionAlpha;  // or null
  int32_t transitionAlphaBytesPerRow;
  uint8_t* dstAlpha;
  int32_t dstAlphaBytesPerRow;
  const uint8_t* srcMask;  // or null: a copy of the destination mask
  int32_t srcMaskBytesPerRow;
  uint8_t* dstMask;
  int32_t dstMaskBytesPerRow;
  const uint8_t* srcAlpha;  // or null: a copy of the destination alpha
  int32_t srcAlphaBytesPerRow;
};
void InitSwirlTables(SwirlRecord& r);
// Swirls by the angle in degrees: a still picture without a second picture and a transition
// alpha; a blend toward the second picture by the level angle x 255 / 720 with one; the level
// scales the transition alpha with the other. Angles above 359 fold to 720 - angle.
int SwirlKernel(SwirlRecord& r, int32_t angle);

struct RippleRecord {
  const uint32_t* src;  // or null: a copy of the destination
  const uint32_t* second;
  uint32_t* dst;
  int32_t srcPixelsPerRow, secondPixelsPerRow, dstPixelsPerRow;
  int32_t* distance;  // width x height entries, row by row
  double* sine;       // kEffectTableSize entries
  double wavelength;  // at least 1
  double amplitude;   // a transition step overwrites it
  double amplitudePerStep;
  int32_t steps;
  int32_t width, height, format;
  bool invertLevel;
  const uint8_t* transitionAlpha;
  int32_t transitionAlphaBytesPerRow;
  uint8_t* dstAlpha;
  int32_t dstAlphaBytesPerRow;
  int32_t centreX, centreY;
  const int32_t* cursor;  // the running pointer into the distance table
  int32_t radius;
  int32_t resultX, resultY;  // RippleDisplace's source column and row
  double phase;              // of a still picture
  const uint8_t* srcMask;
  int32_t srcMaskBytesPerRow;
  uint8_t* dstMask;
  int32_t dstMaskBytesPerRow;
  const uint8_t* srcAlpha;  // or null: a copy of the destination alpha
  int32_t srcAlphaBytesPerRow;
};
// Fills the sine table, the centre (trunc(width x cx), trunc(height x cy), fractions clamped to
// 0 .. 1), the radius (the larger centre coordinate) and the distance table.
void InitRippleTables(RippleRecord& r, double centreX, double centreY);
// One pixel's source position into resultX, resultY at the record's amplitude, its distance read
// through the cursor.
void RippleDisplace(RippleRecord& r, double phase, int32_t x, int32_t y);
// step -1: a still picture with the record's amplitude and phase; else transition step s of
// 2 x steps.
int RippleKernel(RippleRecord& r, int32_t step);

struct PixelateRecord {
  const uint32_t* src;  // a copy: the kernel reads it while it writes dst
  uint32_t* dst;
  const uint8_t* srcMask;
  uint8_t* dstMask;
  const uint8_t* srcAlpha;
  uint8_t* dstAlpha;
  int32_t srcPixelsPerRow, dstPixelsPerRow;
  int32_t srcMaskBytesPerRow, dstMaskBytesPerRow;
  int32_t srcAlphaBytesPerRow, dstAlphaBytesPerRow;
  int32_t width, height;
  int32_t blockSize;  // below 1 does nothing
};
void PixelateKernel(const PixelateRecord& r);

struct DissolveRecord {
  const uint8_t* src;  // the source mask or alpha plane, or null
  uint8_t* dst;
  int32_t width, height;
  int32_t srcBytesPerRow, dstBytesPerRow;
  const uint8_t* noise;  // width x height bytes, row by row without padding
  bool bytePlane;        // false: 1-bit masks; true: 8-bit alpha planes
  bool invert;
};
// A pixel is shown where (noise < level) differs from the invert flag: it takes the source's bit
// or byte (set, 255, without a source), a hidden pixel 0.
void DissolveMaskKernel(const DissolveRecord& r, int32_t level);

// The roll transition's block: each destination line (row, or column with `columns`) of the band
// of `diameter` lines from `position` is copied from the source line trunc(table[i] / divisor) +
// offset; lines whose destination or source falls outside the picture are skipped.
struct RollRecord {
  const uint32_t* src;
  uint32_t* dst;
  int32_t srcPixelsPerRow, dstPixelsPerRow;
  const uint8_t* srcMask;
  int32_t srcMaskBytesPerRow;
  uint8_t* dstMask;
  int32_t dstMaskBytesPerRow;
  const uint8_t* srcAlpha;
  int32_t srcAlphaBytesPerRow;
  uint8_t* dstAlpha;
  int32_t dstAlphaBytesPerRow;
  int32_t width, height;  // of both pictures
  int32_t diameter;       // lines in the band and entries in the table
  bool columns;
  int32_t position;  // the band's first destination line
  const double* table;
  double divisor;
  int32_t offset;
  int32_t bytesPerPixel;  // lines are copied only with 4
  // Outputs.
  bool drawn;
  int32_t firstLine;  // -100000 when none
  int32_t lineCount;
};
// Copies the rectangle through the source mask (its bits copied, pixels where set), else through
// the source alpha (pixels and alpha where it is not 0, alpha 0 elsewhere), else plainly. The
// caller clips.
void RollLineKernel(RollRecord& r, int32_t srcLeft, int32_t srcTop, int32_t width, int32_t height,
                    int32_t dstLeft, int32_t dstTop);
void RollRowsKernel(RollRecord& r);

// Swirls, pixelates or ripples the top-left width x height of a picture with its mask and alpha
// (either may be null). The angle is clamped to -359 .. 359; a block size below 2 does nothing;
// the ripple's centre fractions are clamped to 0 .. 1 and its wavelength held at 1 or more.
// 0, ERR_MEM or ERR_LOCKBMAP.
int SwirlBitMap(qvBitMap* bitmap, qvPlane* mask, qvPlane* alpha, int32_t width, int32_t height,
                int32_t angle);
int PixelateBitMap(qvBitMap* bitmap, qvPlane* mask, qvPlane* alpha, int32_t width, int32_t height,
                   int32_t blockSize);
int WaterRippleBitMap(qvBitMap* bitmap, qvPlane* mask, qvPlane* alpha, int32_t width,
                      int32_t height, double wavelength, double amplitude, double phase,
                      double centreX, double centreY);

// ---------------------------------------------------------------------------------------------
// Brush distortion: a mode and its values give coefficients and the result's size
// (DistortPrepare), then every result pixel is mapped back into the source and sampled, nearest
// or by an elliptical weighted average (DistortRender).

enum : int32_t {
  kDistortPerspective = 4,  // 16 values: four {source x, source y, destination x, destination y}
  kDistortArc = 9,          // 0-4: arc angle, rotation (degrees), top radius, bottom radius
  kDistortPolar = 10,       // 0-6 but not 3: outer, inner radius, centre x, y, start, end angle
  kDistortBarrel = 12,      // 4, 6, 8 or 10: a, b, c, d [, centre] or x and y sets [, centre]
};
constexpr int32_t kDistortMaxValues = 16;

struct qvDistortImage {
  int32_t width, height;
  int32_t x, y;     // offsets, 0 here
  uint8_t* pixels;  // bytesPerPixel x pixelsPerRow a row
  int32_t pixelsPerRow;
};

struct qvDistortJob {
  int32_t mode;
  int32_t valueCount;
  double values[kDistortMaxValues];
  qvDistortImage source, destination;
  double coefficients[10];
  bool prepared;  // the coefficients hold
  int32_t outWidth, outHeight;
  int32_t outX, outY;
  bool smooth;
  int32_t error;  // 0, ERR_MEM or ERR_WRONGUSAGE
  const uint8_t* srcMask;
  int32_t srcMaskBytesPerRow;
  uint8_t* dstMask;  // cleared
  int32_t dstMaskBytesPerRow;
  const uint8_t* srcAlpha;
  int32_t srcAlphaBytesPerRow;
  uint8_t* dstAlpha;  // cleared
  int32_t dstAlphaBytesPerRow;
  int32_t format;
  int32_t bytesPerPixel;  // 2, 3 or 4
};
// Half away from zero: 2.5 gives 3, -2.5 gives -3.
double RoundHalfAway(double v);
// Solves the n x n system a x = b in place (b receives x) by Gauss-Jordan elimination with full
// pivoting; false for a singular matrix.
bool SolveGaussJordan(double* a, double* b, int32_t n);
// The coefficients and the output size and offset; on failure job.error is ERR_WRONGUSAGE
// (unusable values, a singular perspective) or ERR_MEM (a result plane over 2^31 bytes).
void DistortPrepare(qvDistortJob& job);
// Fills the destination and its plane; needs DistortPrepare's coefficients.
void DistortRender(qvDistortJob& job);
// The distortion of the width x height picture with its mask or alpha into a new bitmap with a new
// mask (source mask, or neither without smoothing) or alpha channel (source alpha, or neither
// with smoothing). 0, ERR_WRONGUSAGE, ERR_MEM or ERR_LOCKBMAP; nothing is stored on failure.
int DistortBitMap(const qvBitMap* bitmap, const qvPlane* mask, const qvPlane* alpha, int32_t width,
                  int32_t height, int32_t mode, int32_t valueCount, const double* values,
                  bool smooth, qvBitMap** outBitmap, qvPlane** outMask, qvPlane** outAlpha,
                  int32_t* outWidth, int32_t* outHeight);
// Filters and colour effects on 32-bit pixels of formats 10-13 (each pixel's colour bytes are
// filtered and its spare byte written as 0) and on 8-bit alpha planes. Arithmetic is double
// precision; "limited" means held to 0..255 and then truncated toward 0. Kernels skip a plane
// whose data is null; an allocation failure inside a kernel (edge-extended copies, kernels,
// tables) skips the filter silently, and so does an edge-extended copy over 2^31 bytes.

// Kernel widths. A positive radius gives 2 ceil(radius) + 1 (at most INT32_MAX); otherwise the
// width is searched from 5 up by twos, from the Gaussian of sigma, and the first width whose edge
// weight falls below 1/255 of the sum, less 2, is returned. 1D: a sigma within 1e-10 of 0 gives
// 1. 2D: the search stops past `limit` and returns a width above it. A sigma that is not finite
// gives 1.
int32_t OptimalKernelWidth1D(double radius, double sigma);
int32_t OptimalKernelWidth2D(double radius, double sigma, int32_t limit = 1023);
// A normalised 1-D Gaussian of `width` entries, each gathering three sub-samples: entry
// (i + 3 width / 2) / 3 sums exp(-i^2 / (18 sigma^2)) / (sqrt(2 pi) sigma) for i = -3 width / 2 ..
// 3 width / 2. False (kernel unspecified) when the sum is not a positive finite number.
bool BuildBlurKernel(int32_t width, double sigma, double* kernel);

struct ConvolveRecord {
  uint32_t* pixels;  // or null
  int32_t width, height, pixelsPerRow, format, bytesPerPixel;
  uint8_t* alpha;  // or null
  int32_t alphaBytesPerRow;
  double radius, sigma;
  int32_t mode;  // 'b' blur, 'e' emboss, 'g' edge, 's' sharpen; others do nothing
};
// Blur: two separable passes of BuildBlurKernel (the first limited before the second reads it);
// a |sigma| below 1e-10 does nothing. Emboss, edge, sharpen: one square kernel, which does
// nothing when its width is even or larger than the width or the height. Pixels (4 bytes per
// pixel) and the alpha plane are filtered alike. A radius or sigma that is not finite does
// nothing.
void ConvolveKernel(const ConvolveRecord& r);
void SolarizeKernel(uint32_t* pixels, int32_t width, int32_t height, int32_t pixelsPerRow,
                    int32_t format, int32_t threshold);
struct GammaRecord {
  uint32_t* pixels;
  int32_t width, height, pixelsPerRow, format;
  const uint8_t* red;  // 256-entry tables, used for the channels of the mask
  const uint8_t* green;
  const uint8_t* blue;
  int32_t channels;  // 1 red, 2 green, 4 blue
};
void GammaKernel(const GammaRecord& r);
// Entry i is 255 (i / 255)^(1 / gamma) plus a half, truncated and held to 0..255; gamma 0 (or
// less, or NaN) gives all zeros.
void BuildGammaTable(double gamma, uint8_t table[256]);
// One step of the brightness curve in hue/saturation/brightness: sign +1 sharpens, -1 softens.
void ContrastKernel(uint32_t* pixels, int32_t width, int32_t height, int32_t pixelsPerRow,
                    int32_t format, int32_t sign);
struct ModulateRecord {
  uint32_t* pixels;
  int32_t width, height, pixelsPerRow, format;
  int32_t brightness, saturation, hue;  // percents, 100 unchanged
};
void ModulateKernel(const ModulateRecord& r);
struct NormalizeRecord {
  uint32_t* pixels;
  int32_t width, height, pixelsPerRow;
  int64_t lowCount, highCount;
  int32_t format, bytesPerPixel;
};
// Stretches the levels between the intensity below which lowCount pixels lie and the one above
// which width x height - highCount lie. A channel without both levels, or whose two levels are
// one, is left as it is.
void NormalizeKernel(const NormalizeRecord& r);
void SepiaKernel(uint32_t* pixels, int32_t width, int32_t height, int32_t pixelsPerRow,
                 int32_t format, int32_t threshold);
struct OilPaintRecord {
  uint32_t* pixels;
  int32_t width, height, pixelsPerRow, format;
  double radius;
};
// Each pixel becomes the pixel of its window (OptimalKernelWidth2D(radius, 0.5) wide) at which
// the most frequent intensity first reached its count.
void OilPaintKernel(const OilPaintRecord& r);

// The wrappers: the top-left width x height (cut to the planes), 0 or ERR_LOCKBMAP (and ERR_MEM
// where said); where a lock view may be given they use it and neither lock nor release.
// Convolution: a negative (or NaN) radius is 0, and a radius of 0 takes sigma 1.0. The bitmap or
// the alpha may be null.
int ConvolveBitMap(int32_t mode, qvBitMap* bitmap, qvPlane* alpha, int32_t width, int32_t height,
                   double radius, double sigma, const qvBitMapLock* lock = nullptr);
int SolarizeBitMap(qvBitMap* bitmap, int32_t width, int32_t height, int32_t threshold);
// A negative (or NaN) gamma counts as 0; a channel of gamma 1.0 is left. All three 1.0 return 0
// without locking. Channels of equal gamma share one table.
int GammaBitMap(qvBitMap* bitmap, int32_t width, int32_t height, double red, double green,
                double blue);
int ContrastBitMap(qvBitMap* bitmap, int32_t width, int32_t height, bool sharpen, int32_t times,
                   const qvBitMapLock* lock = nullptr);
// Factors, 1.0 unchanged; negative (or NaN) counts as 0; brightness and saturation are held to
// 1000, hue to 2 (a full turn each way), and passed as trunc(factor x 100). All three 1.0 return
// 0 without locking.
int ModulateBitMap(qvBitMap* bitmap, int32_t width, int32_t height, double brightness,
                   double saturation, double hue);
int NormalizeLevels(qvBitMap* bitmap, int32_t width, int32_t height, int64_t lowCount,
                    int64_t highCount, const qvBitMapLock* lock = nullptr);
// On one lock: sepia (threshold held to 0..255), the level stretch with 2% and 99% of the
// pixels, one sharpening contrast step.
int SepiaToneBitMap(qvBitMap* bitmap, int32_t width, int32_t height, int32_t threshold);
// On one lock: gray, edge (radius), blur (radius, sigma), the level stretch, invert, gray; the
// alpha is edge-filtered and blurred along.
int CharcoalBitMap(qvBitMap* bitmap, qvPlane* alpha, int32_t width, int32_t height, double radius,
                   double sigma);
int OilPaintBitMap(qvBitMap* bitmap, int32_t width, int32_t height, double radius);
// Black and white: plain (gray below 129 black), or dithered to the two colours the quantiser
// picks, the lighter of them white; a picture of one colour is white when its gray is 129 or
// more. 0, ERR_MEM, ERR_LOCKBMAP.
int MonochromeBitMap(qvBitMap* bitmap, int32_t width, int32_t height, bool dither);
// A new alpha channel of (width + 2r) x (height + 2r), r = trunc(radius) (a negative or NaN
// radius is 0), holding the picture's shape at (r, r) with `value`: where the alpha source's
// rectangle at (left, top) is not 0, else where the mask source's bits are set, else everywhere;
// blurred with radius and sigma; with hardEdge every nonzero byte then becomes 255, and with
// secondBlur and an alpha source it is blurred again (radius / 2, sigma radius / 6). Null when
// the size is below 1, beyond 2^31 bytes or cannot be had.
qvPlane* BuildShadowAlpha(const qvPlane* alphaSource, const qvPlane* maskSource, int32_t left,
                          int32_t top, int32_t width, int32_t height, double radius, double sigma,
                          int32_t value, bool hardEdge, bool secondBlur);
// Pixels from colour bytes (the brush library's pixel tables).

// Stores the colour given as three bytes R, G, B at dst as one pixel of the format (0-13): two
// bytes for the 16-bit layouts, three in memory order for 8 and 9, four for 10-13. Other formats
// write nothing.
void ConvertPixels(const uint8_t rgb[3], uint8_t* dst, int32_t format);

// ---------------------------------------------------------------------------------------------
// Video frame conversion: planar YUV 4:2:0 frames (studio range, BT.601) into a pixel format.
// Pixel (x, y) reads luma (x, y) and the chroma of its 2 x 2 block, (x / 2, y / 2).

// A decoded frame and where it goes. The chroma planes are half the frame's width and height,
// rounded up. Strides are bytes from one row to the next (negative for a plane stored bottom up).
struct YUVFrameRecord {
  const uint8_t* const* planes;  // luma Y, chroma U, chroma V
  const int32_t* strides;        // of Y, U, V
  uint8_t* dst;
  int32_t srcWidth, srcHeight;
  int32_t dstWidth, dstHeight;  // the scaled kernel's
  int32_t dstPixelsPerRow;      // at least the width written
  int32_t format;               // a qvPixelFormat
  int32_t bytesPerPixel;        // the unscaled kernel's: 2, 3 or 4 as the format packs
};
// Converts srcWidth x srcHeight pixels one to one. Nothing is written for a format that does not
// pack into bytesPerPixel bytes, a missing plane, a size below 1 or rows narrower than the frame.
void YUVToRGBKernel(const YUVFrameRecord& r);
// Converts while scaling to dstWidth x dstHeight by the nearest source pixel (rows by a
// single-precision sum of the row ratio, held inside the frame; columns in 16.16 fixed point).
// The format alone gives the bytes per pixel; nothing is written for the cases above.
void YUVToRGBScaleKernel(const YUVFrameRecord& r);

// ---------------------------------------------------------------------------------------------
// Test seam: the n-th allocation of the image engine from now on fails (n >= 1; 0 switches the
// fault off). ImageAllocCount answers the allocations made since the last SetImageAllocFault.
void SetImageAllocFault(int64_t n);
int64_t ImageAllocCount();

// ---------------------------------------------------------------------------------------------
// Kernel paths. The hot kernels have a plain scalar version and SIMD versions picked from the
// CPU at start; the switch forces one (a path the CPU lacks falls back to the best it has).
enum class SimdLevel : int32_t { kScalar = 0, kSse2 = 1, kAvx2 = 2 };
SimdLevel BestSimdLevel();
SimdLevel CurrentSimdLevel();
// Returns the level now in force. Not for use while another thread runs kernels.
SimdLevel SetSimdLevel(SimdLevel level);

}  // namespace qv
