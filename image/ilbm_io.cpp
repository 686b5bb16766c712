// The IFF ILBM reader and writer. The reader takes the chunks it needs by a byte-wise search (files
// written by old programs have odd chunk sizes and stray bytes), reads the body into memory and
// turns it into pixels a row at a time through the planar routines.
#include "image/ilbm_io.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "base/errors.h"
#include "core/vfile.h"
#include "image/picture.h"
#include "image/planar.h"

namespace qv {

namespace {

constexpr int64_t kMaxPictureBytes = int64_t(1) << 31;
constexpr int32_t kDeepPlanes = 24;

// BMHD fields, in file order after width and height.
struct IlbmHeader {
  int32_t width = 0;
  int32_t height = 0;
  int32_t planes = 0;
  int32_t masking = 0;  // 1: a mask plane follows each row's planes; 2: a transparent pen
  int32_t compression = 0;
  int32_t transparentPen = 0;
  bool halfBrite = false;
  bool hamSix = false;
  bool hamEight = false;
};

bool ReadExact(qvFile* file, void* buffer, size_t count) {
  return ReadFileQ(file, buffer, count) == count;
}

uint32_t Be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
uint32_t Be16(const uint8_t* p) { return (uint32_t{p[0]} << 8) | p[1]; }

// Reads BMHD and, for pen pictures, the CAMG flags. 0 or ERR_LOADPICTURE2.
int ReadIlbmHeader(qvFile* file, IlbmHeader* header) {
  uint8_t bmhd[4 + 20];
  if (!FindIffChunk(file, "BMHD") || !ReadExact(file, bmhd, sizeof bmhd)) return ERR_LOADPICTURE2;
  const uint8_t* b = bmhd + 4;
  header->width = int32_t(Be16(b));
  header->height = int32_t(Be16(b + 2));
  header->planes = b[8];
  header->masking = b[9];
  header->compression = b[10];
  header->transparentPen = int32_t(Be16(b + 12));
  if (header->width == 0 || header->height == 0) return ERR_LOADPICTURE2;
  // 9 to 23 planes and more than 24 have no meaning this reader knows.
  if (header->planes == 0 || (header->planes > 8 && header->planes != kDeepPlanes)) {
    return ERR_LOADPICTURE2;
  }
  if (header->compression > 1) return ERR_LOADPICTURE2;
  if (header->planes < kDeepPlanes && FindIffChunk(file, "CAMG")) {
    uint8_t camg[8];
    if (ReadExact(file, camg, sizeof camg)) {
      uint32_t mode = Be32(camg + 4);
      header->halfBrite = (mode & 0x80) != 0;
      if (mode & 0x800) {
        header->hamEight = header->planes >= 7;
        header->hamSix = !header->hamEight;
      }
    }
  }
  return 0;
}

// Reads the CMAP into palette (256 entries, zeroed by the caller): at most 256 entries, whatever
// the chunk's size says. With extra-half-brite, entries 32 to 63 are 0 to 31 at half brightness.
bool ReadIlbmCmap(qvFile* file, uint32_t* palette, bool halfBrite) {
  uint8_t size[4];
  if (!FindIffChunk(file, "CMAP") || !ReadExact(file, size, sizeof size)) return false;
  uint32_t entries = Be32(size) / 3;
  if (entries > 256) entries = 256;
  uint8_t rgb[256 * 3] = {};
  ReadFileQ(file, rgb, size_t(entries) * 3);  // a short chunk leaves black entries
  for (size_t i = 0; i < entries; ++i) {
    palette[i] = (uint32_t{rgb[i * 3]} << 16) | (uint32_t{rgb[i * 3 + 1]} << 8) | rgb[i * 3 + 2];
  }
  if (halfBrite) {
    for (int i = 0; i < 32; ++i) palette[32 + i] = (palette[i] >> 1) & 0x7F7F7F;
  }
  return true;
}

bool InPalette(const uint32_t* palette, uint32_t colour) {
  for (int i = 0; i < 256; ++i) {
    if (palette[i] == colour) return true;
  }
  return false;
}

// The palette adjustments of a pen picture without HAM; returns the transparent colour or -1.
int64_t AdjustPalette(const IlbmHeader& header, const qvIlbmRequest* request, uint32_t* palette) {
  if (request == nullptr) return -1;
  if (request->palette != nullptr) {
    for (int i = 0; i < 256 && request->palette[i] != 0xFFFFFFFFu; ++i) {
      palette[i] = request->palette[i] & 0xFFFFFF;
    }
    return -1;
  }
  if (request->transparentPen == -1 && !request->findFreeColour) return -1;
  if (header.planes == 1) {
    // A stencil: clear pixels are the transparent colour, set ones the pen asked for.
    int64_t transparent = palette[0];
    palette[1] = uint32_t(request->transparentPen) & 0xFFFFFF;
    return transparent;
  }
  if (header.masking == 2 && request->findFreeColour) {
    uint32_t colour = 0xA8A8A8;
    while (InPalette(palette, colour)) colour += 15;
    if (header.transparentPen < 256) palette[header.transparentPen] = colour;
    return colour;
  }
  return -1;
}

// Reads the body, `size` bytes, into *body. A file that ends before them is cut: ERR_LOADPICTURE2.
int ReadBody(qvFile* file, uint32_t size, std::vector<uint8_t>* body) {
  int64_t here = SeekFileQ(file, 0, kSeekEnd);
  int64_t end = SeekFileQ(file, here, kSeekStart);
  int64_t left = end > here ? end - here : 0;
  if (left < int64_t(size)) return ERR_LOADPICTURE2;
  try {
    body->resize(size);
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
  if (ReadFileQ(file, body->data(), size) != size) return ERR_LOADPICTURE2;
  return 0;
}

// Takes `count` raw bytes of src at *pos into dst; false when the body lacks them.
bool CopyRaw(const std::vector<uint8_t>& src, size_t* pos, uint8_t* dst, size_t count) {
  if (*pos > src.size() || count > src.size() - *pos) return false;
  if (count > 0) std::memcpy(dst, src.data() + *pos, count);
  *pos += count;
  return true;
}

// Unpacks one row of `count` bytes; false when the body ends inside it.
bool UnpackRow(const std::vector<uint8_t>& src, size_t* pos, uint8_t* dst, size_t count) {
  return UnpackByteRun(src.data(), src.size(), pos, dst, count) == count;
}

// The fewest body bytes that can hold every row: raw rows as they are, ByteRun1 rows at two bytes
// (a run) for every 128 bytes of a row, since no run reaches past its row's end. A body shorter
// than this is cut, and is refused before the picture's memory is taken.
int64_t LeastBodySize(const IlbmHeader& h) {
  const int64_t rowBytes = PlaneRowBytes(h.width);
  const int64_t rows = h.planes + (h.masking == 1 ? 1 : 0);
  auto runs = [](int64_t bytes) { return (bytes + 127) / 128 * 2; };
  if (h.compression == 0) return rowBytes * rows * h.height;
  if (h.planes == kDeepPlanes) return runs(rowBytes * rows) * h.height;
  return runs(rowBytes) * rows * h.height;
}

// Decodes the body into the pixel array, a row at a time. A body short of the picture's rows is
// refused with ERR_LOADPICTURE2 rather than shown with the missing rows black.
int DecodeBody(const IlbmHeader& h, const std::vector<uint8_t>& body, const uint32_t* palette,
               uint32_t* pixels) {
  const size_t rowBytes = size_t(PlaneRowBytes(h.width));
  const size_t planes = size_t(h.planes);
  const bool mask = h.masking == 1;
  const size_t width = size_t(h.width);
  std::vector<uint8_t> planar;
  std::vector<uint8_t> pens;
  try {
    planar.resize(rowBytes * (planes + 1));  // room for a mask row that is dropped
    pens.resize(width * (planes == size_t(kDeepPlanes) ? 3 : 1) + 8);
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
  const uint8_t* planeRows[kDeepPlanes + 1];
  for (size_t p = 0; p <= planes; ++p) planeRows[p] = planar.data() + p * rowBytes;
  size_t pos = 0;
  for (int32_t y = 0; y < h.height; ++y) {
    bool whole = true;
    if (h.compression == 0) {
      // The mask row is read into the spare row and dropped.
      for (size_t p = 0; p < planes + mask && whole; ++p)
        whole = CopyRaw(body, &pos, planar.data() + p * rowBytes, rowBytes);
    } else if (planes == size_t(kDeepPlanes)) {
      // Deep pictures are decoded as one stream per row across all their planes.
      whole = UnpackRow(body, &pos, planar.data(), rowBytes * (planes + mask));
    } else {
      for (size_t p = 0; p < planes + mask && whole; ++p)
        whole = UnpackRow(body, &pos, planar.data() + p * rowBytes, rowBytes);
    }
    if (!whole) return ERR_LOADPICTURE2;
    uint32_t* out = pixels + size_t(y) * width;
    if (planes == size_t(kDeepPlanes)) {
      // Planes 0-7 are red's bits, 8-15 green's, 16-23 blue's, lowest first.
      uint8_t* red = pens.data();
      uint8_t* green = red + width;
      uint8_t* blue = green + width;
      PlanarToChunky(planeRows, 8, h.width, red);
      PlanarToChunky(planeRows + 8, 8, h.width, green);
      PlanarToChunky(planeRows + 16, 8, h.width, blue);
      for (size_t x = 0; x < width; ++x) {
        out[x] = (uint32_t{red[x]} << 16) | (uint32_t{green[x]} << 8) | blue[x];
      }
      continue;
    }
    if (!h.hamSix && !h.hamEight) {
      PlanarToArgb(planeRows, h.planes, h.width, palette, out);
      continue;
    }
    PlanarToChunky(planeRows, h.planes, h.width, pens.data());
    if (h.hamSix) {
      HamSixToArgb(pens.data(), h.width, palette, out);
    } else {
      HamEightToArgb(pens.data(), h.width, palette, out);
    }
  }
  return 0;
}

int LoadIlbmFrom(qvFile* file, const qvIlbmRequest* request, uint32_t** outPixels,
                 qvPictureFacts* facts) {
  IlbmHeader h;
  int result = ReadIlbmHeader(file, &h);
  if (result != 0) return result;
  if (outPixels == nullptr) {
    facts->width = h.width;
    facts->height = h.height;
    return 0;
  }
  if (int64_t{h.width} * h.height * 4 > kMaxPictureBytes) return ERR_MEM;
  uint8_t size[4];
  if (!FindIffChunk(file, "BODY") || !ReadExact(file, size, sizeof size)) return ERR_LOADPICTURE2;
  std::vector<uint8_t> body;
  if (int64_t{Be32(size)} < LeastBodySize(h)) return ERR_LOADPICTURE2;
  result = ReadBody(file, Be32(size), &body);
  if (result != 0) return result;

  uint32_t palette[256] = {};
  int64_t transparent = -1;
  const bool pens = h.planes <= 8;
  if (pens) {
    if (!ReadIlbmCmap(file, palette, h.halfBrite)) return ERR_LOADPICTURE2;
    if (!h.hamSix && !h.hamEight) transparent = AdjustPalette(h, request, palette);
  }
  auto* pixels = static_cast<uint32_t*>(std::malloc(size_t(h.width) * size_t(h.height) * 4));
  if (pixels == nullptr) return ERR_MEM;
  uint32_t* handedPalette = nullptr;
  if (pens && !h.hamSix && !h.hamEight && request != nullptr && request->wantPalette) {
    handedPalette = static_cast<uint32_t*>(std::malloc(sizeof palette));
    if (handedPalette == nullptr) {
      std::free(pixels);
      return ERR_MEM;
    }
    std::memcpy(handedPalette, palette, sizeof palette);
  }
  result = DecodeBody(h, body, palette, pixels);
  if (result != 0) {
    std::free(pixels);
    std::free(handedPalette);
    return result;
  }
  *outPixels = pixels;
  facts->width = h.width;
  facts->height = h.height;
  facts->transparentColour = transparent;
  facts->palette = handedPalette;
  return 0;
}

void PutBe32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}
void PutBe16(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}

}  // namespace

bool FindIffChunk(qvFile* file, const char* id) {
  for (int pass = 0; pass < 2; ++pass) {
    if (EofFileQ(file)) SeekFileQ(file, 12, kSeekStart);
    uint8_t window[4];
    if (ReadFileQ(file, window, 4) != 4) continue;
    for (;;) {
      if (std::memcmp(window, id, 4) == 0) return true;
      if (std::memcmp(window, "BODY", 4) == 0) break;
      int next = ReadByteQ(file);
      if (next < 0) break;
      std::memmove(window, window + 1, 3);
      window[3] = uint8_t(next);
    }
  }
  return false;
}

int LoadIlbm(const char* name, const qvIlbmRequest* request, uint32_t** outPixels,
             qvPictureFacts* facts) {
  qvFile* file = OpenFileQ(name, kFileRead);
  if (file == nullptr) return ERR_READFILE;
  int result = LoadIlbmFrom(file, request, outPixels, facts);
  CloseFileQ(file);
  return result;
}

int EncodeIlbm(const uint32_t* pixels, int64_t bytesPerRow, int32_t width, int32_t height,
               std::vector<uint8_t>* out) {
  if (width < 1 || height < 1 || width > 0xFFFF || height > 0xFFFF) return ERR_WRITEFILE;
  const size_t rowBytes = size_t(PlaneRowBytes(width));
  try {
    // The header's ids, then its numbers over the zeros.
    static constexpr uint8_t kHead[48] = {
        'F', 'O', 'R', 'M', 0, 0, 0, 0, 'I', 'L', 'B', 'M', 'B', 'M', 'H', 'D',
        0,   0,   0,   20,  0, 0, 0, 0, 0,   0,   0,   0,   0,   0,   0,   0,
        0,   0,   0,   0,   0, 0, 0, 0, 'B', 'O', 'D', 'Y', 0,   0,   0,   0};
    std::vector<uint8_t> file(kHead, kHead + sizeof kHead);
    uint8_t* head = file.data();
    PutBe16(head + 20, uint32_t(width));
    PutBe16(head + 22, uint32_t(height));
    head[28] = kDeepPlanes;
    head[30] = 1;  // ByteRun1
    head[34] = 1;  // aspect 1:1
    head[35] = 1;
    PutBe16(head + 36, uint32_t(width));
    PutBe16(head + 38, uint32_t(height));
    std::vector<uint8_t> planes(rowBytes * kDeepPlanes);
    const auto* base = reinterpret_cast<const uint8_t*>(pixels);
    for (int32_t y = 0; y < height; ++y) {
      std::memset(planes.data(), 0, planes.size());
      const auto* row = reinterpret_cast<const uint32_t*>(base + int64_t{y} * bytesPerRow);
      for (int32_t x = 0; x < width; ++x) {
        const uint32_t rgb = row[x];
        // Plane 0-7: red's bits, 8-15: green's, 16-23: blue's.
        const uint32_t bits = ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16);
        const uint8_t bit = uint8_t(0x80 >> (x & 7));
        for (int32_t p = 0; p < kDeepPlanes; ++p) {
          if (bits & (1u << p)) planes[size_t(p) * rowBytes + size_t(x >> 3)] |= bit;
        }
      }
      for (int32_t p = 0; p < kDeepPlanes; ++p) {
        PackByteRun(planes.data() + size_t(p) * rowBytes, rowBytes, &file);
      }
    }
    const size_t bodySize = file.size() - 48;
    if (bodySize > 0xFFFFFFFFu - 41) return ERR_WRITEFILE;
    if (bodySize & 1) file.push_back(0);
    PutBe32(file.data() + 4, uint32_t(bodySize + (bodySize & 1) + 40));
    PutBe32(file.data() + 44, uint32_t(bodySize));
    out->swap(file);
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
  return 0;
}

}  // namespace qv
