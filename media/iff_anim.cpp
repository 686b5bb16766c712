// IFF ANIM reading: the first ILBM form gives the picture, its palette and mode; every further
// form holds one delta against the frame two back (or, with an interleave of 1, an exclusive-or
// delta against the frame before).
#include "media/iff_anim.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "base/errors.h"
#include "core/vfile.h"
#include "image/planar.h"

namespace qv {

namespace {

constexpr int32_t kMaxPlanes = 8;
constexpr int32_t kDeltaPlanes = 8;  // plane offsets at the head of a DLTA chunk
constexpr int32_t kByteVertical = 5;
// The words of a frame are handed out as one block, so its size stays below 2^31 bytes.
constexpr int64_t kMaxFrameBytes = int64_t{1} << 31;

uint32_t BigU32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
uint32_t BigU16(const uint8_t* p) { return uint32_t(p[0]) << 8 | p[1]; }

}  // namespace

struct qvIffAnim {
  qvFile* file = nullptr;
  int64_t fileSize = 0;
  int32_t width = 0, height = 0, planes = 0, masking = 0, compression = 0;
  int32_t rowBytes = 0;  // of one plane
  bool ehb = false, ham6 = false, ham8 = false;
  size_t planeBytes = 0;            // rowBytes x height
  std::vector<uint8_t> first;       // plane after plane
  std::vector<uint8_t> work[2];     // the double buffers
  int32_t target = 0;               // the buffer the next delta goes into
  std::vector<uint8_t> pens;        // one row
  uint32_t palette[256] = {};       // the current one
  uint32_t firstPalette[256] = {};  // the first frame's
  int32_t frames = 0;
  int32_t next = 0;     // the frame that the next request decodes without going back
  int64_t nextPos = 0;  // where the delta of frame `next` (from 1) begins
  int64_t firstDelta = 0;
  std::vector<uint32_t> delays;  // sixtieths of a second, one per frame
};

namespace {

// Reads `count` bytes at `pos` into *out; false when they are not all in the file.
bool ReadAt(qvIffAnim* a, int64_t pos, size_t count, std::vector<uint8_t>* out) {
  if (pos < 0 || pos > a->fileSize || int64_t(count) > a->fileSize - pos) return false;
  try {
    out->resize(count);
  } catch (const std::bad_alloc&) {
    return false;
  }
  SeekFileQ(a->file, pos, kSeekStart);
  return count == 0 || ReadFileQ(a->file, out->data(), count) == count;
}

// The id and size of the chunk header at pos; false when the header is not in the file.
bool ChunkHeader(qvIffAnim* a, int64_t pos, char id[4], uint32_t* size) {
  uint8_t head[8];
  if (pos < 0 || pos + 8 > a->fileSize) return false;
  SeekFileQ(a->file, pos, kSeekStart);
  if (ReadFileQ(a->file, head, 8) != 8) return false;
  std::memcpy(id, head, 4);
  *size = BigU32(head + 4);
  return true;
}

// The position behind a chunk of this size that starts at pos (data padded to even length).
int64_t After(int64_t pos, uint32_t size) { return pos + 8 + int64_t{size} + (size & 1); }

void ReadPalette(const std::vector<uint8_t>& data, bool ehb, uint32_t* palette) {
  const size_t entries = std::min<size_t>(data.size() / 3, 256);
  for (size_t i = 0; i < entries; ++i) {
    palette[i] = uint32_t(data[i * 3]) << 16 | uint32_t(data[i * 3 + 1]) << 8 | data[i * 3 + 2];
  }
  if (ehb) {
    for (int i = 0; i < 32; ++i) palette[32 + i] = (palette[i] >> 1) & 0x7F7F7F;
  }
}

// The BODY into the first frame's planes, row by row and plane by plane; a mask plane stored with
// the rows is read past.
bool ReadBody(qvIffAnim* a, const std::vector<uint8_t>& body) {
  const size_t row = size_t(a->rowBytes);
  const int32_t stored = a->planes + (a->masking == 1 ? 1 : 0);
  std::vector<uint8_t> spare(row);
  size_t pos = 0;
  for (int32_t y = 0; y < a->height; ++y) {
    for (int32_t p = 0; p < stored; ++p) {
      uint8_t* dst = p < a->planes ? a->first.data() + size_t(p) * a->planeBytes + size_t(y) * row
                                   : spare.data();
      if (a->compression == 1) {
        UnpackByteRun(body.data(), body.size(), &pos, dst, row);
      } else {
        const size_t n = std::min(row, body.size() - std::min(pos, body.size()));
        if (n > 0) std::memcpy(dst, body.data() + pos, n);
        pos += n;
      }
    }
  }
  return true;
}

void Rewind(qvIffAnim* a) {
  std::memcpy(a->work[0].data(), a->first.data(), a->first.size());
  std::memcpy(a->work[1].data(), a->first.data(), a->first.size());
  std::memcpy(a->palette, a->firstPalette, sizeof a->palette);
  a->target = 0;
  a->next = 0;
  a->nextPos = a->firstDelta;
}

// One plane's byte-vertical delta at data[offset..): column by column, an operation count and
// that many operations. False when an operation reaches past the data or past the plane's rows.
bool DecodeVerticalPlane(const std::vector<uint8_t>& data, size_t offset, uint8_t* plane,
                         int32_t rowBytes, int32_t height, bool exclusive) {
  size_t pos = offset;
  const size_t end = data.size();
  const size_t stride = size_t(rowBytes);
  for (int32_t column = 0; column < rowBytes; ++column) {
    if (pos >= end) return false;
    int32_t ops = data[pos++];
    int32_t y = 0;
    uint8_t* at = plane + column;
    while (ops-- > 0) {
      if (pos >= end) return false;
      const uint8_t op = data[pos++];
      if (op & 0x80) {
        const int32_t count = op & 0x7F;
        if (count > height - y || size_t(count) > end - pos) return false;
        for (int32_t i = 0; i < count; ++i, ++y) {
          uint8_t& b = at[size_t(y) * stride];
          b = exclusive ? uint8_t(b ^ data[pos++]) : data[pos++];
        }
      } else if (op != 0) {
        if (op > height - y) return false;
        y += op;
      } else {
        if (end - pos < 2) return false;
        const int32_t count = data[pos];
        const uint8_t value = data[pos + 1];
        pos += 2;
        if (count > height - y) return false;
        for (int32_t i = 0; i < count; ++i, ++y) {
          uint8_t& b = at[size_t(y) * stride];
          b = exclusive ? uint8_t(b ^ value) : value;
        }
      }
    }
  }
  return true;
}

// The delta form at the file position `pos` into the selected buffer; *decoded is the buffer it
// went into, *after the position behind the form.
bool DecodeDelta(qvIffAnim* a, int64_t pos, const std::vector<uint8_t>** decoded, int64_t* after) {
  char id[4];
  uint32_t size;
  if (!ChunkHeader(a, pos, id, &size) || std::memcmp(id, "FORM", 4) != 0) return false;
  const int64_t formEnd = std::min(a->fileSize, pos + 8 + int64_t{size});
  *after = After(pos, size);
  int64_t at = pos + 12;
  int32_t interleave = 0;
  bool operationSeen = false;
  std::vector<uint8_t> data;
  while (ChunkHeader(a, at, id, &size) && at + 8 + int64_t{size} <= formEnd) {
    if (std::memcmp(id, "ANHD", 4) == 0) {
      if (!ReadAt(a, at + 8, size, &data) || data.size() < 19) return false;
      if (data[0] != kByteVertical) return false;
      interleave = data[18];
      operationSeen = true;
    } else if (std::memcmp(id, "CMAP", 4) == 0) {
      if (!ReadAt(a, at + 8, size, &data)) return false;
      ReadPalette(data, a->ehb, a->palette);
    } else if (std::memcmp(id, "DLTA", 4) == 0) {
      // Without a header there is no operation to trust the delta to.
      if (!operationSeen || !ReadAt(a, at + 8, size, &data)) return false;
      if (data.size() < size_t{kDeltaPlanes} * 4) return false;
      std::vector<uint8_t>& buffer = a->work[a->target];
      for (int32_t p = 0; p < a->planes; ++p) {
        const uint32_t offset = BigU32(data.data() + size_t(p) * 4);
        if (offset == 0) continue;
        if (offset >= data.size()) return false;
        if (!DecodeVerticalPlane(data, offset, buffer.data() + size_t(p) * a->planeBytes,
                                 a->rowBytes, a->height, interleave == 1)) {
          return false;
        }
      }
      *decoded = &buffer;
      if (interleave == 0) a->target ^= 1;
      return true;
    }
    at = After(at, size);
  }
  return false;
}

uint32_t* Convert(qvIffAnim* a, const std::vector<uint8_t>& planes) {
  const size_t count = size_t(a->width) * size_t(a->height);
  auto* out = static_cast<uint32_t*>(std::malloc(count * 4));
  if (out == nullptr) return nullptr;
  const uint8_t* rows[kMaxPlanes];
  for (int32_t y = 0; y < a->height; ++y) {
    for (int32_t p = 0; p < a->planes; ++p) {
      rows[p] = planes.data() + size_t(p) * a->planeBytes + size_t(y) * size_t(a->rowBytes);
    }
    uint32_t* line = out + size_t(y) * size_t(a->width);
    if (a->ham6 || a->ham8) {
      PlanarToChunky(rows, a->planes, a->width, a->pens.data());
      if (a->ham8) {
        HamEightToArgb(a->pens.data(), a->width, a->palette, line);
      } else {
        HamSixToArgb(a->pens.data(), a->width, a->palette, line);
      }
    } else {
      PlanarToArgb(rows, a->planes, a->width, a->palette, line);
    }
  }
  return out;
}

// Steps from form to form behind the first: counts them and notes each one's delay (its ANHD's
// relative time, which belongs to the frame shown before it). False when something other than a
// form stands where one should.
bool WalkForms(qvIffAnim* a, int64_t end, int32_t* count) {
  int64_t pos = a->firstDelta;
  std::vector<uint8_t> anhd;
  *count = 1;
  while (pos + 8 <= end) {
    char id[4];
    uint32_t size;
    if (!ChunkHeader(a, pos, id, &size) || std::memcmp(id, "FORM", 4) != 0) return false;
    const int64_t formEnd = std::min(end, pos + 8 + int64_t{size});
    for (int64_t at = pos + 12; at + 8 <= formEnd;) {
      char cid[4];
      uint32_t csize;
      if (!ChunkHeader(a, at, cid, &csize)) break;
      if (std::memcmp(cid, "ANHD", 4) == 0) {
        if (csize >= 18 && ReadAt(a, at + 8, 18, &anhd)) {
          if (size_t(*count) > a->delays.size()) a->delays.resize(size_t(*count));
          a->delays[size_t(*count) - 1] = BigU32(anhd.data() + 14);
        }
        break;
      }
      at = After(at, csize);
    }
    ++*count;
    if (*count >= 0x7FFFFFFF) return false;
    pos = After(pos, size);
  }
  return true;
}

int Open(qvIffAnim* a, const char* name) {
  a->file = OpenFileQ(name, kFileRead);
  if (a->file == nullptr) return ERR_READFILE;
  SeekFileQ(a->file, 0, kSeekEnd);
  a->fileSize = SeekFileQ(a->file, 0, kSeekStart);
  char id[4];
  uint32_t size;
  std::vector<uint8_t> data;
  // The outer form and the first ILBM form.
  if (!ChunkHeader(a, 0, id, &size) || std::memcmp(id, "FORM", 4) != 0) return ERR_OPENANIM2;
  const int64_t end = std::min(a->fileSize, 8 + int64_t{size});
  uint32_t firstSize;
  if (!ChunkHeader(a, 12, id, &firstSize) || std::memcmp(id, "FORM", 4) != 0) {
    return ERR_OPENANIM2;
  }
  bool header = false;
  int32_t dpanFrames = 0;
  int64_t pos = 24;
  for (;;) {
    if (!ChunkHeader(a, pos, id, &size)) return ERR_OPENANIM2;
    if (std::memcmp(id, "BODY", 4) == 0) break;
    if (!ReadAt(a, pos + 8, size, &data)) return ERR_OPENANIM2;
    if (std::memcmp(id, "BMHD", 4) == 0) {
      if (data.size() < 11) return ERR_OPENANIM2;
      a->width = int32_t(BigU16(data.data()));
      a->height = int32_t(BigU16(data.data() + 2));
      a->planes = data[8];
      a->masking = data[9];
      a->compression = data[10];
      header = true;
    } else if (std::memcmp(id, "ANHD", 4) == 0) {
      if (data.size() >= 18) a->delays.assign(1, BigU32(data.data() + 14));
    } else if (std::memcmp(id, "CMAP", 4) == 0) {
      ReadPalette(data, false, a->palette);
    } else if (std::memcmp(id, "DPAN", 4) == 0) {
      if (data.size() >= 4) dpanFrames = int32_t(BigU16(data.data() + 2));
    } else if (std::memcmp(id, "CAMG", 4) == 0) {
      if (data.size() >= 4) {
        const uint32_t mode = BigU32(data.data());
        a->ehb = (mode & 0x80) != 0;
        if (mode & 0x800) {
          a->ham8 = a->planes >= 7;
          a->ham6 = !a->ham8;
        }
      }
    }
    pos = After(pos, size);
  }
  if (!header || a->width < 1 || a->height < 1 || a->planes < 1 || a->planes > kMaxPlanes ||
      a->compression > 1) {
    return ERR_OPENANIM2;
  }
  // A CAMG read before the BMHD judged HAM by a plane count of 0.
  if (a->ham6 || a->ham8) {
    a->ham8 = a->planes >= 7;
    a->ham6 = !a->ham8;
  }
  if (a->ehb) ReadPalette({}, true, a->palette);
  a->rowBytes = PlaneRowBytes(a->width);
  const int64_t planeBytes = int64_t{a->rowBytes} * a->height;
  if (planeBytes * a->planes >= kMaxFrameBytes ||
      int64_t{a->width} * a->height * 4 >= kMaxFrameBytes) {
    return ERR_MEM;
  }
  a->planeBytes = size_t(planeBytes);
  std::vector<uint8_t> body;
  if (!ReadAt(a, pos + 8, size, &body)) return ERR_OPENANIM2;
  try {
    a->first.assign(a->planeBytes * size_t(a->planes), 0);
    a->work[0].resize(a->first.size());
    a->work[1].resize(a->first.size());
    a->pens.resize(size_t(a->width));
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
  ReadBody(a, body);
  std::memcpy(a->firstPalette, a->palette, sizeof a->palette);
  const int64_t behindBody = After(pos, size);
  // The deltas begin behind the first form, or right behind its BODY.
  const int64_t candidates[] = {20 + int64_t{firstSize} + (firstSize & 1), behindBody};
  a->firstDelta = -1;
  for (int64_t c : candidates) {
    if (ChunkHeader(a, c, id, &size) && std::memcmp(id, "FORM", 4) == 0) {
      a->firstDelta = c;
      break;
    }
  }
  if (a->firstDelta < 0) return ERR_OPENANIM2;
  int32_t counted = 0;
  const bool walked = WalkForms(a, end, &counted);
  if (dpanFrames > 0) {
    a->frames = dpanFrames;
  } else if (walked) {
    a->frames = counted;
  } else {
    return ERR_OPENANIM2;
  }
  try {
    a->delays.resize(size_t(a->frames));
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
  Rewind(a);
  return 0;
}

}  // namespace

int LoadIffAnim(const char* name, qvIffAnim** out, int32_t* width, int32_t* height,
                int32_t* frames) {
  *out = nullptr;
  auto* a = new (std::nothrow) qvIffAnim;
  if (a == nullptr) return ERR_MEM;
  int code = Open(a, name);
  if (code != 0) {
    FreeIffAnim(a);
    return code;
  }
  *out = a;
  *width = a->width;
  *height = a->height;
  *frames = a->frames;
  return 0;
}

uint32_t* LoadIffAnimFrame(qvIffAnim* a, int32_t n) {
  if (a == nullptr || n < 0 || n >= a->frames) return nullptr;
  if (n < a->next) Rewind(a);
  const std::vector<uint8_t>* shown = &a->first;
  if (a->next == 0) a->next = 1;  // frame 0 is the first picture itself
  while (a->next <= n) {
    int64_t after = 0;
    if (!DecodeDelta(a, a->nextPos, &shown, &after)) {
      // The buffers hold a half-made frame: the next request starts again from the first.
      Rewind(a);
      return nullptr;
    }
    a->nextPos = after;
    ++a->next;
  }
  uint32_t* frame = Convert(a, *shown);
  if (a->next >= a->frames) Rewind(a);
  return frame;
}

int32_t GetIffAnimFrameDelay(const qvIffAnim* a, int32_t n) {
  if (a == nullptr || n < 0 || size_t(n) >= a->delays.size()) return 0;
  return int32_t(int64_t{a->delays[size_t(n)]} * 1000 / 60);
}

void FreeIffAnim(qvIffAnim* a) {
  if (a == nullptr) return;
  if (a->file != nullptr) CloseFileQ(a->file);
  delete a;
}

}  // namespace qv
