// Device-independent bitmaps: writing 24-bit ones, checking and reading 24- and 32-bit ones.
#include "core/dib.h"

#include <climits>

#include "platform/clipboard.h"

namespace qv {

namespace {

uint32_t U32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

struct Layout {
  int32_t width;
  int32_t height;  // positive
  bool topDown;
  int bytesPerPixel;
  size_t stride;
  size_t offset;  // of the first row stored
};

// Every size from the header is checked against the block before it is used; products in 64 bits.
bool ReadLayout(const uint8_t* data, size_t size, Layout* out) {
  if (data == nullptr || size < kDibHeaderSize) return false;
  uint32_t headerSize = U32(data);
  int32_t width = static_cast<int32_t>(U32(data + 4));
  int32_t height = static_cast<int32_t>(U32(data + 8));
  uint16_t planes = U16(data + 12);
  uint16_t bits = U16(data + 14);
  uint32_t compression = U32(data + 16);
  uint32_t colorsUsed = U32(data + 32);
  if (headerSize < kDibHeaderSize || headerSize > size) return false;
  if (width <= 0 || height == 0 || height == INT32_MIN || planes != 1) return false;
  if ((bits != 24 && bits != 32) || compression != 0) return false;
  int64_t h = height < 0 ? -int64_t{height} : int64_t{height};
  if (int64_t{width} * h > kDibPixelLimit) return false;
  uint64_t stride = (uint64_t(width) * bits + 31) / 32 * 4;
  uint64_t offset = uint64_t{headerSize} + uint64_t{colorsUsed} * 4;
  if (offset > size || stride * uint64_t(h) > size - offset) return false;
  *out = Layout{width,    static_cast<int32_t>(h),     height < 0,
                bits / 8, static_cast<size_t>(stride), static_cast<size_t>(offset)};
  return true;
}

}  // namespace

std::vector<uint8_t> EncodeDib(const uint32_t* argb, int32_t width, int32_t height,
                               int32_t pixelsPerRow) {
  if (argb == nullptr || width < 1 || height < 1 || pixelsPerRow < width ||
      int64_t{width} * height > kDibPixelLimit) {
    return {};
  }
  size_t stride = size_t(width) * 3 + size_t(width) % 4;
  std::vector<uint8_t> dib(kDibHeaderSize + stride * size_t(height), 0);
  uint8_t* h = dib.data();
  Put32(h, kDibHeaderSize);
  Put32(h + 4, static_cast<uint32_t>(width));
  Put32(h + 8, static_cast<uint32_t>(height));
  Put16(h + 12, 1);
  Put16(h + 14, 24);
  Put32(h + 20, static_cast<uint32_t>(stride * size_t(height)));
  for (int32_t y = 0; y < height; ++y) {
    const uint32_t* src = argb + size_t(y) * size_t(pixelsPerRow);
    uint8_t* row = dib.data() + kDibHeaderSize + size_t(height - 1 - y) * stride;
    for (int32_t x = 0; x < width; ++x) {
      uint8_t* p = row + size_t(x) * 3;
      p[0] = static_cast<uint8_t>(src[x]);
      p[1] = static_cast<uint8_t>(src[x] >> 8);
      p[2] = static_cast<uint8_t>(src[x] >> 16);
    }
  }
  return dib;
}

bool CheckDib(const uint8_t* data, size_t size) {
  Layout layout;
  return ReadLayout(data, size, &layout);
}

bool DecodeDib(const uint8_t* data, size_t size, int32_t* width, int32_t* height,
               std::vector<uint32_t>* argb) {
  Layout l;
  if (!ReadLayout(data, size, &l)) return false;
  argb->assign(size_t(l.width) * size_t(l.height), 0);
  for (int32_t y = 0; y < l.height; ++y) {
    int32_t stored = l.topDown ? y : l.height - 1 - y;
    const uint8_t* row = data + l.offset + size_t(stored) * l.stride;
    uint32_t* dst = argb->data() + size_t(y) * size_t(l.width);
    for (int32_t x = 0; x < l.width; ++x) {
      const uint8_t* p = row + size_t(x) * size_t(l.bytesPerPixel);
      uint32_t alpha = l.bytesPerPixel == 4 ? p[3] : 0xFF;
      dst[x] = alpha << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
    }
  }
  *width = l.width;
  *height = l.height;
  return true;
}

int32_t ClipboardKind() {
  int32_t type = PeekClipboardType();
  if (type != kClipboardPicture) return type;
  std::vector<uint8_t> dib;
  if (ReadClipboardPicture(&dib) != 0 || !CheckDib(dib.data(), dib.size())) return kClipboardOther;
  return type;
}

}  // namespace qv
