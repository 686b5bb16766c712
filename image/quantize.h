// Colour quantisation: a two-pass median-cut quantiser that reduces a picture of any pixel format
// to at most 256 palette colours and one palette index per pixel, with plain or Floyd-Steinberg
// mapping. Used by the GIF writer, picture saving and the dithered monochrome conversion.
// Every function may be called from any thread; all state lives in blocks allocated per call.
#pragma once

#include <cstdint>

namespace qv {

// Reads one pixel of `format` (a qvPixelFormat) at `pixel` into out[0..2] = R, G, B. 5- and 6-bit
// channels are shifted up with zero low bits. A format above 13 leaves `out` unchanged.
void ReadPixelRGB(uint8_t out[3], int32_t format, const uint8_t* pixel);

// "No transparent colour": no pixel is ever compared with it.
inline constexpr uint32_t kNoTransparentRGB = 0xFFFFFFFFu;

struct qvQuantizeRequest {
  const uint8_t* pixels = nullptr;  // the first pixel
  int32_t format = 0;               // a qvPixelFormat
  int32_t bytesPerPixel = 4;
  int32_t width = 0;
  int32_t height = 0;
  int32_t pixelsPerRow = 0;     // the source row stride in pixels
  uint8_t* indices = nullptr;   // width x height bytes, rows without padding
  uint32_t* palette = nullptr;  // up to 256 entries 0x00RRGGBB
  // In: the wanted number of colours; out: the number of palette entries written. The wanted
  // number is lowered to 256, or 255 when an entry is reserved.
  int32_t* colourCount = nullptr;
  // 0x00RRGGBB compared with every pixel's R, G, B; such pixels get the entry behind the box
  // colours, which holds this colour. kNoTransparentRGB for none.
  uint32_t transparent = kNoTransparentRGB;
  bool reserve = false;  // reserve one entry (black) even without a transparent colour
  bool dither = false;   // Floyd-Steinberg error diffusion
  bool result = false;   // true on success
};

// Runs both passes: fills the indices, the palette and the count and sets `result`. A wanted
// count below 1, a size below 1 or a failed allocation leaves `result` false and writes neither
// the palette nor the count.
void QuantizeColors(qvQuantizeRequest* request);

// Fills a request in this order and runs QuantizeColors; answers its result.
bool QuantizeBitMap(const uint8_t* pixels, int32_t format, int32_t bytesPerPixel, int32_t width,
                    int32_t height, int32_t pixelsPerRow, uint8_t* indices, uint32_t* palette,
                    int32_t* colourCount, uint32_t transparent, bool reserve, bool dither);

}  // namespace qv
