#include "image/planar.h"

#include <array>
#include <bit>
#include <cstring>

#include "image/internal.h"

namespace qv {

int32_t PlaneRowBytes(int32_t width) { return ((width + 15) / 8) & ~1; }

namespace {

// Runs hold at most 128 bytes: they are moved in 16-byte pieces, the last one ending exactly at
// the run's end, and runs under 16 bytes with two overlapping word moves (never past the run);
// the string instructions a library call would use start too slowly for such lengths.
inline void CopyShort(uint8_t* d, const uint8_t* s, size_t n) {
  if (n >= 16) {
    uint8_t piece[16];
    for (size_t i = 0; i + 16 < n; i += 16) {
      std::memcpy(piece, s + i, 16);
      std::memcpy(d + i, piece, 16);
    }
    std::memcpy(piece, s + n - 16, 16);
    std::memcpy(d + n - 16, piece, 16);
  } else if (n >= 8) {
    uint64_t a, b;
    std::memcpy(&a, s, 8);
    std::memcpy(&b, s + n - 8, 8);
    std::memcpy(d, &a, 8);
    std::memcpy(d + n - 8, &b, 8);
  } else if (n >= 4) {
    uint32_t a, b;
    std::memcpy(&a, s, 4);
    std::memcpy(&b, s + n - 4, 4);
    std::memcpy(d, &a, 4);
    std::memcpy(d + n - 4, &b, 4);
  } else {
    for (size_t i = 0; i < n; ++i) d[i] = s[i];
  }
}

inline void FillShort(uint8_t* d, uint8_t value, size_t n) {
  if (n >= 16) {
    uint8_t piece[16];
    std::memset(piece, value, 16);
    for (size_t i = 0; i + 16 < n; i += 16) std::memcpy(d + i, piece, 16);
    std::memcpy(d + n - 16, piece, 16);
  } else if (n >= 8) {
    uint64_t v = value * 0x0101010101010101ull;
    std::memcpy(d, &v, 8);
    std::memcpy(d + n - 8, &v, 8);
  } else if (n >= 4) {
    uint32_t v = value * 0x01010101u;
    std::memcpy(d, &v, 4);
    std::memcpy(d + n - 4, &v, 4);
  } else {
    for (size_t i = 0; i < n; ++i) d[i] = value;
  }
}

}  // namespace

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
      CopyShort(dst + written, src + p, copy);
      written += copy;
      p += take;  // a literal cut at the row's end still consumes all its bytes
    } else if (n != -128) {
      if (p >= srcLen) break;
      uint8_t value = src[p++];
      size_t count = static_cast<size_t>(1 - n);
      size_t room = dstLen - written;
      if (count > room) count = room;
      FillShort(dst + written, value, count);
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

namespace {

// For one plane byte, the eight pens' worth of that bit: pixel i (bit 7 - i of the byte, the most
// significant first) becomes byte i of the word, 0 or 1. Eight pixels are then gathered at once by
// shifting each plane's word to its bit and OR-ing.
constexpr std::array<uint64_t, 256> MakeSpreadTable() {
  std::array<uint64_t, 256> table{};
  for (uint32_t b = 0; b < 256; ++b) {
    uint64_t word = 0;
    for (uint32_t i = 0; i < 8; ++i) {
      if (b & (0x80u >> i)) word |= uint64_t{1} << (8 * i);
    }
    table[b] = word;
  }
  return table;
}
constexpr std::array<uint64_t, 256> kSpread = MakeSpreadTable();

}  // namespace

namespace {

// The pens of the eight pixels of byte `group` of each plane row, pixel i in byte i of the word.
template <int Planes>
inline uint64_t GatherEight(const uint8_t* const* rows, size_t group) {
  uint64_t word = 0;
  for (int p = 0; p < Planes; ++p) word |= kSpread[rows[p][group]] << p;
  return word;
}

template <int Planes>
void ChunkyRow(const uint8_t* const* planeRows, int32_t width, uint8_t* pens) {
  const uint8_t* rows[Planes];
  for (int p = 0; p < Planes; ++p) rows[p] = planeRows[p];
  const size_t groups = size_t(width) / 8;
  for (size_t g = 0; g < groups; ++g) {
    uint64_t word = GatherEight<Planes>(rows, g);
    std::memcpy(pens + g * 8, &word, 8);
  }
  if (width % 8 != 0) {
    uint64_t word = GatherEight<Planes>(rows, groups);
    std::memcpy(pens + groups * 8, &word, size_t(width % 8));
  }
}

template <int Planes>
void PaletteRow(const uint8_t* const* planeRows, int32_t width, const uint32_t* palette,
                uint32_t* out) {
  const uint8_t* rows[Planes];
  for (int p = 0; p < Planes; ++p) rows[p] = planeRows[p];
  const size_t groups = size_t(width) / 8;
  for (size_t g = 0; g < groups; ++g) {
    uint64_t word = GatherEight<Planes>(rows, g);
    uint32_t* o = out + g * 8;
    for (int i = 0; i < 8; ++i) o[i] = palette[(word >> (8 * i)) & 0xFF];
  }
  if (width % 8 != 0) {
    uint64_t word = GatherEight<Planes>(rows, groups);
    uint32_t* o = out + groups * 8;
    for (int i = 0; i < width % 8; ++i) o[i] = palette[(word >> (8 * i)) & 0xFF];
  }
}

// The routine of each plane count 1 to 8, so that the plane loop unrolls.
template <template <int> class Fn, typename... Args>
void ByPlanes(int32_t planes, Args... args) {
  switch (planes) {
    case 1:
      Fn<1>::Run(args...);
      break;
    case 2:
      Fn<2>::Run(args...);
      break;
    case 3:
      Fn<3>::Run(args...);
      break;
    case 4:
      Fn<4>::Run(args...);
      break;
    case 5:
      Fn<5>::Run(args...);
      break;
    case 6:
      Fn<6>::Run(args...);
      break;
    case 7:
      Fn<7>::Run(args...);
      break;
    default:
      Fn<8>::Run(args...);
      break;
  }
}

template <int Planes>
struct ChunkyRowFn {
  static void Run(const uint8_t* const* rows, int32_t width, uint8_t* pens) {
    ChunkyRow<Planes>(rows, width, pens);
  }
};

template <int Planes>
struct PaletteRowFn {
  static void Run(const uint8_t* const* rows, int32_t width, const uint32_t* palette,
                  uint32_t* out) {
    PaletteRow<Planes>(rows, width, palette, out);
  }
};

}  // namespace

namespace image {

void ChunkyRowScalar(const uint8_t* const* planeRows, int32_t planes, int32_t width,
                     uint8_t* pens) {
  static_assert(std::endian::native == std::endian::little, "byte i of the word is pixel i");
  ByPlanes<ChunkyRowFn>(planes, planeRows, width, pens);
}

void PaletteRowScalar(const uint8_t* const* planeRows, int32_t planes, int32_t width,
                      const uint32_t* palette, uint32_t* out) {
  ByPlanes<PaletteRowFn>(planes, planeRows, width, palette, out);
}

}  // namespace image

void PlanarToChunky(const uint8_t* const* planeRows, int32_t planes, int32_t width, uint8_t* pens) {
  if (planes < 1) {
    std::memset(pens, 0, size_t(width));
    return;
  }
  image::gPaths.chunkyRow(planeRows, planes < 8 ? planes : 8, width, pens);
}

void PlanarToArgb(const uint8_t* const* planeRows, int32_t planes, int32_t width,
                  const uint32_t* palette, uint32_t* out) {
  if (planes < 1) {
    for (int32_t x = 0; x < width; ++x) out[x] = palette[0];
    return;
  }
  image::gPaths.paletteRow(planeRows, planes < 8 ? planes : 8, width, palette, out);
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
