#include "image/bmp_reader.h"

#include <cstring>
#include <new>

#include "base/errors.h"

namespace qv {

namespace {

uint32_t Le32(const uint8_t* p) {
  return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
uint32_t Le16(const uint8_t* p) { return p[0] | (uint32_t{p[1]} << 8); }

constexpr size_t kFileHeader = 14;
constexpr uint32_t kMinInfoHeader = 40;
// RLE8 codes at most 255 pixels in a two-byte run, so a body codes at most 128 pixels a byte.
// Deltas and an early end of picture skip further, but a picture that would be mostly such
// skipped pen 0 is not allocated on the word of a few bytes: above this many pixels the body must
// be long enough to have coded them with runs.
constexpr int64_t kRle8PixelsPerByte = 128;
constexpr int64_t kRle8FreePixels = int64_t{1} << 20;

}  // namespace

bool DecodeBmpRle8(const uint8_t* src, size_t srcLen, int32_t width, int32_t height,
                   uint8_t* pens) {
  size_t p = 0;
  int64_t x = 0;
  int64_t row = 0;  // counted from the bottom, as stored
  while (p + 1 < srcLen && row < height) {
    uint32_t count = src[p];
    uint32_t value = src[p + 1];
    p += 2;
    uint8_t* line = pens + row * width;
    if (count > 0) {
      int64_t n = count;
      if (n > width - x) n = width - x;
      if (n > 0) std::memset(line + x, static_cast<int>(value), static_cast<size_t>(n));
      x += count;
      continue;
    }
    if (value == 0) {  // end of line
      x = 0;
      ++row;
    } else if (value == 1) {  // end of picture: the rest stays pen 0
      return true;
    } else if (value == 2) {
      if (p + 1 >= srcLen) return false;
      x += src[p];
      row += src[p + 1];
      p += 2;
      if (x > width || row >= height) return true;
    } else {
      size_t n = value;
      if (n > srcLen - p) return false;
      for (size_t i = 0; i < n; ++i) {
        if (x + static_cast<int64_t>(i) < width) line[x + i] = src[p + i];
      }
      x += static_cast<int64_t>(n);
      p += n + (n & 1);  // literals are padded to an even length
    }
  }
  // Out of data before the end-of-picture escape: whole only when every row was ended.
  return row >= height;
}

int LoadBmp(const uint8_t* data, size_t size, int32_t* width, int32_t* height,
            std::vector<uint32_t>* pixels) {
  if (size < kFileHeader + kMinInfoHeader || data[0] != 'B' || data[1] != 'M') {
    return ERR_LOADPICTURE2;
  }
  uint32_t dataOffset = Le32(data + 10);
  uint32_t headerSize = Le32(data + 14);
  if (headerSize < kMinInfoHeader || headerSize > size - kFileHeader) return ERR_LOADPICTURE2;
  int32_t w = static_cast<int32_t>(Le32(data + 18));
  int32_t h = static_cast<int32_t>(Le32(data + 22));
  uint32_t bits = Le16(data + 28);
  uint32_t compression = Le32(data + 30);
  uint32_t imageSize = Le32(data + 34);
  uint32_t coloursUsed = Le32(data + 46);
  if (w <= 0 || h <= 0) return ERR_LOADPICTURE2;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24) return ERR_LOADPICTURE2;
  if (compression != 0 && !(compression == 1 && bits == 8)) return ERR_LOADPICTURE2;
  // The size alone is read as the other readers read it, whatever the picture would need.
  if (pixels == nullptr) {
    *width = w;
    *height = h;
    return 0;
  }
  if (int64_t{w} * h * 4 > (int64_t{1} << 31)) return ERR_MEM;
  *width = w;
  *height = h;

  // A file cut short is refused, not shown with its missing part black: the rows must all be
  // there, and coded data as long as its header says.
  if (dataOffset > size) return ERR_LOADPICTURE2;
  const size_t count = static_cast<size_t>(w) * static_cast<size_t>(h);
  const uint8_t* body = data + dataOffset;
  const size_t bodyLen = size - dataOffset;
  if (compression == 1) {
    if (bodyLen < imageSize) return ERR_LOADPICTURE2;
    const int64_t coded = int64_t(bodyLen) * kRle8PixelsPerByte;
    if (int64_t(count) > kRle8FreePixels && int64_t(count) > coded) return ERR_LOADPICTURE2;
  } else if (bodyLen < (static_cast<size_t>(w) * bits + 31) / 32 * 4 * static_cast<size_t>(h)) {
    return ERR_LOADPICTURE2;
  }
  try {
    pixels->assign(count, 0);
    if (bits == 24) {
      const size_t stride = ((static_cast<size_t>(w) * 3 + 3) / 4) * 4;
      for (int32_t r = 0; r < h; ++r) {
        size_t start = static_cast<size_t>(r) * stride;
        uint32_t* out = pixels->data() + static_cast<size_t>(h - 1 - r) * w;
        for (int32_t x = 0; x < w; ++x) {
          size_t at = start + static_cast<size_t>(x) * 3;
          if (at + 3 > bodyLen) break;
          out[x] = (uint32_t{body[at + 2]} << 16) | (uint32_t{body[at + 1]} << 8) | body[at];
        }
      }
      return 0;
    }

    uint32_t palette[256] = {};
    const uint32_t maxColours = 1u << bits;
    if (coloursUsed == 0 || coloursUsed > maxColours) coloursUsed = maxColours;
    const size_t paletteAt = kFileHeader + headerSize;
    for (uint32_t i = 0; i < coloursUsed; ++i) {
      size_t at = paletteAt + static_cast<size_t>(i) * 4;
      if (at + 3 > size) break;
      palette[i] = (uint32_t{data[at + 2]} << 16) | (uint32_t{data[at + 1]} << 8) | data[at];
    }

    std::vector<uint8_t> pens(count, 0);  // bottom row first
    if (compression == 1) {
      if (!DecodeBmpRle8(body, bodyLen, w, h, pens.data())) {
        pixels->clear();
        return ERR_LOADPICTURE2;
      }
    } else {
      const size_t stride = ((static_cast<size_t>(w) * bits + 31) / 32) * 4;
      const uint32_t mask = maxColours - 1;
      const uint32_t perByte = 8 / bits;
      for (int32_t r = 0; r < h; ++r) {
        size_t start = static_cast<size_t>(r) * stride;
        uint8_t* line = pens.data() + static_cast<size_t>(r) * w;
        for (int32_t x = 0; x < w; ++x) {
          size_t at = start + static_cast<size_t>(x) / perByte;
          if (at >= bodyLen) break;
          uint32_t shift = 8 - bits - (static_cast<uint32_t>(x) % perByte) * bits;
          line[x] = static_cast<uint8_t>((body[at] >> shift) & mask);
        }
      }
    }
    for (int32_t r = 0; r < h; ++r) {
      const uint8_t* line = pens.data() + static_cast<size_t>(r) * w;
      uint32_t* out = pixels->data() + static_cast<size_t>(h - 1 - r) * w;
      for (int32_t x = 0; x < w; ++x) out[x] = palette[line[x]];
    }
  } catch (const std::bad_alloc&) {
    pixels->clear();
    return ERR_MEM;
  }
  return 0;
}

}  // namespace qv
