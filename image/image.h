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

// The box of a width x height rectangle under the matrix {a, b, c, d}: its size and the top-left
// corner (which the rotator subtracts).
void GetRotatedBox(const double matrix[4], int32_t width, int32_t height, int32_t* outWidth,
                   int32_t* outHeight, int32_t* outLeft, int32_t* outTop);
// Rotates (or skews) the rectangle into a new cleared bitmap with a cleared alpha plane (when
// the source has alpha) or mask. Returns 0, ERR_MEM, ERR_LOCKBMAP or ERR_OUTOFRANGE.
int RotateBitMap(const qvBitMap* bitmap, const qvPlane* mask, const qvPlane* alpha, int32_t left,
                 int32_t top, int32_t width, int32_t height, const double matrix[4], bool smooth,
                 qvBitMap** outBitmap, qvPlane** outMask, qvPlane** outAlpha, int32_t* outWidth,
                 int32_t* outHeight);

// ---------------------------------------------------------------------------------------------
// Kernel paths. The hot kernels have a plain scalar version and SIMD versions picked from the
// CPU at start; the switch forces one (a path the CPU lacks falls back to the best it has).
enum class SimdLevel : int32_t { kScalar = 0, kSse2 = 1, kAvx2 = 2 };
SimdLevel BestSimdLevel();
SimdLevel CurrentSimdLevel();
// Returns the level now in force. Not for use while another thread runs kernels.
SimdLevel SetSimdLevel(SimdLevel level);

}  // namespace qv
