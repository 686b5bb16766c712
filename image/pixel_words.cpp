// Single pixels from colour bytes: what the brush library's pixel tables are built with.
#include <cstring>

#include "image/image.h"

namespace qv {

void ConvertPixels(const uint8_t rgb[3], uint8_t* dst, int32_t format) {
  uint32_t colour = (uint32_t{rgb[0]} << 16) | (uint32_t{rgb[1]} << 8) | rgb[2];
  uint32_t value = ColorToPixelFormat(colour, format);
  if (format >= kPixRGB555 && format <= kPixBGR565PC) {
    auto word = static_cast<uint16_t>(value);
    std::memcpy(dst, &word, sizeof word);
  } else if (format == kPixRGB24 || format == kPixBGR24) {
    dst[0] = static_cast<uint8_t>(value >> 16);
    dst[1] = static_cast<uint8_t>(value >> 8);
    dst[2] = static_cast<uint8_t>(value);
  } else if (format >= kPixARGB32 && format <= kPixxBGR32) {
    std::memcpy(dst, &value, sizeof value);
  }
}

}  // namespace qv
