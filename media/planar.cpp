#include "media/planar.h"

#include <cstring>

namespace qv {

int32_t PlaneRowBytes(int32_t width) { return ((width + 15) / 8) & ~1; }

size_t UnpackByteRun(const uint8_t* src, size_t srcLen, size_t* pos, uint8_t* dst, size_t dstLen) {
  size_t p = *pos;
  size_t written = 0;
  while (written < dstLen && p < srcLen) {
    int32_t n = src[p++];
    if (n >= 128) n -= 256;  // the control byte is signed
    if (n >= 0) {
      size_t count = static_cast<size_t>(n) + 1;
      size_t avail = srcLen - p;
      size_t take = count < avail ? count : avail;
      size_t room = dstLen - written;
      size_t copy = take < room ? take : room;
      std::memcpy(dst + written, src + p, copy);
      written += copy;
      p += take;  // a literal cut at the row's end still consumes all its bytes
    } else if (n != -128) {
      if (p >= srcLen) break;
      uint8_t value = src[p++];
      size_t count = static_cast<size_t>(1 - n);
      size_t room = dstLen - written;
      if (count > room) count = room;
      std::memset(dst + written, value, count);
      written += count;
    }
  }
  *pos = p;
  return written;
}

void PackByteRun(const uint8_t* src, size_t len, std::vector<uint8_t>* out) {
  size_t i = 0;
  while (i < len) {
    size_t run = 1;
    while (i + run < len && run < 128 && src[i + run] == src[i]) ++run;
    if (run >= 3) {
      out->push_back(static_cast<uint8_t>(257 - run));  // -(run - 1) as a byte
      out->push_back(src[i]);
      i += run;
      continue;
    }
    // A literal lasts until three equal bytes start or it holds 128.
    size_t start = i;
    size_t count = 0;
    while (i < len && count < 128) {
      if (i + 2 < len && src[i] == src[i + 1] && src[i] == src[i + 2]) break;
      ++i;
      ++count;
    }
    out->push_back(static_cast<uint8_t>(count - 1));
    out->insert(out->end(), src + start, src + start + count);
  }
}

void PlanarToChunky(const uint8_t* const* planeRows, int32_t planes, int32_t width, uint8_t* pens) {
  for (int32_t x = 0; x < width; ++x) {
    uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
    uint8_t pen = 0;
    for (int32_t p = 0; p < planes; ++p) {
      if (planeRows[p][x >> 3] & bit) pen |= static_cast<uint8_t>(1 << p);
    }
    pens[x] = pen;
  }
}

namespace {

// controlShift: 4 for HAM6, 6 for HAM8; the value's scale makes it an 8-bit component.
void HamToArgb(const uint8_t* pens, int32_t width, const uint32_t* palette, int32_t controlShift,
               uint32_t scale, uint32_t* out) {
  uint32_t valueMask = (1u << controlShift) - 1;
  uint32_t colour = 0;  // every row starts from black
  for (int32_t x = 0; x < width; ++x) {
    uint32_t pen = pens[x];
    uint32_t value = (pen & valueMask) * scale;
    switch ((pen >> controlShift) & 3) {
      case 0:
        colour = palette[pen & valueMask] & 0xFFFFFF;
        break;
      case 1:
        colour = (colour & 0xFFFF00) | value;
        break;
      case 2:
        colour = (colour & 0x00FFFF) | (value << 16);
        break;
      default:
        colour = (colour & 0xFF00FF) | (value << 8);
        break;
    }
    out[x] = colour;
  }
}

}  // namespace

void HamSixToArgb(const uint8_t* pens, int32_t width, const uint32_t* palette, uint32_t* out) {
  HamToArgb(pens, width, palette, 4, 16, out);
}

void HamEightToArgb(const uint8_t* pens, int32_t width, const uint32_t* palette, uint32_t* out) {
  HamToArgb(pens, width, palette, 6, 4, out);
}

void PensToArgb(const uint8_t* pens, size_t count, const uint32_t* palette, uint32_t* out) {
  for (size_t i = 0; i < count; ++i) out[i] = palette[pens[i]];
}

}  // namespace qv
