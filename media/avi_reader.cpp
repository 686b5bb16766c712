// AVI reading: the header lists up to "movi", the legacy index behind it, and per frame the video
// stream's chunk, found through the index or by walking the chunks.
#include "media/avi_reader.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "base/errors.h"
#include "base/support.h"
#include "core/vfile.h"
#include "image/jpeg_io.h"
#include "image/picture.h"

namespace qv {

namespace {

constexpr int32_t kMaxStreams = 16;
constexpr int64_t kMaxFrameBytes = int64_t{1} << 31;

uint32_t LittleU32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint32_t LittleU16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }

// The Huffman tables that Motion-JPEG frames leave out: the JPEG standard's example tables for
// luminance and chrominance, as one DHT segment of 420 bytes.
constexpr uint8_t kDcLumBits[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
constexpr uint8_t kDcChromBits[16] = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
constexpr uint8_t kDcValues[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
constexpr uint8_t kAcLumBits[16] = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
constexpr uint8_t kAcLumValues[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61,
    0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52,
    0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25,
    0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45,
    0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64,
    0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99,
    0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6,
    0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3,
    0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8,
    0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};
constexpr uint8_t kAcChromBits[16] = {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77};
constexpr uint8_t kAcChromValues[162] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61,
    0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33,
    0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18,
    0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44,
    0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63,
    0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
    0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97,
    0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4,
    0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca,
    0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7,
    0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

constexpr size_t kStandardDhtSize = 420;

std::array<uint8_t, kStandardDhtSize> MakeStandardDht() {
  std::array<uint8_t, kStandardDhtSize> s{};
  size_t at = 0;
  s[at++] = 0xFF;
  s[at++] = 0xC4;
  s[at++] = (kStandardDhtSize - 2) >> 8;
  s[at++] = (kStandardDhtSize - 2) & 0xFF;
  auto table = [&](uint8_t classAndId, const uint8_t* bits, const uint8_t* values, size_t count) {
    s[at++] = classAndId;
    for (int i = 0; i < 16; ++i) s[at++] = bits[i];
    for (size_t i = 0; i < count; ++i) s[at++] = values[i];
  };
  table(0x00, kDcLumBits, kDcValues, sizeof kDcValues);
  table(0x01, kDcChromBits, kDcValues, sizeof kDcValues);
  table(0x10, kAcLumBits, kAcLumValues, sizeof kAcLumValues);
  table(0x11, kAcChromBits, kAcChromValues, sizeof kAcChromValues);
  return s;
}

const std::array<uint8_t, kStandardDhtSize> kStandardDht = MakeStandardDht();

struct IndexEntry {
  int64_t offset;  // of the chunk's header in the file
  uint32_t size;
};

enum : int32_t { kVideoRaw = 0, kVideoMjpeg = 1 };

}  // namespace

struct qvAviReader {
  qvFile* file = nullptr;
  int64_t fileSize = 0;
  int32_t kind = kVideoRaw;
  int32_t width = 0, height = 0;
  bool topDown = false;  // a negative bitmap height: rows stored from the top
  int32_t streams = 0;
  int32_t audioFormat = 0, audioChannels = 0, audioRate = 0, audioBlockAlign = 0, audioBits = 0;
  int32_t planes = 0, bitCount = 0;
  uint32_t compression = 0;
  int64_t movi = 0;      // the first byte behind the "movi" list's type
  int32_t next = 0;      // the frame that reading on from `position` reaches
  int64_t position = 0;  // where the walk continues
  int32_t total = 0;
  int32_t video = -1;
  std::vector<IndexEntry> index[kMaxStreams];
  char type[kMaxStreams][4] = {};
  char handler[kMaxStreams][4] = {};
  std::vector<uint8_t> buffer;  // one chunk (and, for Motion-JPEG, the tables put in)
  std::vector<uint8_t> chunk;
};

namespace {

bool Header(qvAviReader* a, int64_t pos, char id[4], uint32_t* size) {
  uint8_t head[8];
  if (pos < 0 || pos + 8 > a->fileSize) return false;
  SeekFileQ(a->file, pos, kSeekStart);
  if (ReadFileQ(a->file, head, 8) != 8) return false;
  std::memcpy(id, head, 4);
  *size = LittleU32(head + 4);
  return true;
}

bool ReadAt(qvAviReader* a, int64_t pos, size_t count, std::vector<uint8_t>* out) {
  if (pos < 0 || pos > a->fileSize || int64_t(count) > a->fileSize - pos) return false;
  try {
    out->resize(count);
  } catch (const std::bad_alloc&) {
    return false;
  }
  SeekFileQ(a->file, pos, kSeekStart);
  return count == 0 || ReadFileQ(a->file, out->data(), count) == count;
}

int64_t After(int64_t pos, uint32_t size) { return pos + 8 + int64_t{size} + (size & 1); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "NNdb", "NNdc" or "NNwb": the stream number, else -1.
int32_t ChunkStream(const char id[4]) {
  if (!IsDigit(id[0]) || !IsDigit(id[1])) return -1;
  const bool known = (id[2] == 'd' && (id[3] == 'b' || id[3] == 'c')) ||
                     (id[2] == 'w' && id[3] == 'b');
  return known ? (id[0] - '0') * 10 + (id[1] - '0') : -1;
}

bool SameFourCc(const char* a, const char* b) {
  for (int i = 0; i < 4; ++i) {
    if (ToLowerChar(static_cast<unsigned char>(a[i])) !=
        ToLowerChar(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// The legacy index behind "movi": per stream the chunks' header positions. Offsets count from the
// file's start or from the "movi" list's type; the first video entry tells which. Any entry that
// does not name a stream's chunk, or reaches outside the file, drops the whole index: the frames
// are then found by walking the chunks.
void ReadLegacyIndex(qvAviReader* a, int64_t pos, uint32_t size) {
  std::vector<uint8_t> data;
  if (!ReadAt(a, pos + 8, size, &data)) return;
  struct Raw {
    int32_t stream;
    uint32_t offset, size;
  };
  std::vector<Raw> raw;
  bool dropped = false;
  for (size_t at = 0; at + 16 <= data.size(); at += 16) {
    const char* id = reinterpret_cast<const char*>(data.data() + at);
    if (std::memcmp(id, "rec ", 4) == 0) continue;
    const int32_t stream = ChunkStream(id);
    if (stream < 0 || stream >= a->streams) {
      dropped = true;
      break;
    }
    raw.push_back({stream, LittleU32(data.data() + at + 8), LittleU32(data.data() + at + 12)});
  }
  if (dropped || raw.empty()) return;
  // Absolute when a chunk header of the stream stands at the first entry's offset.
  bool absolute = false;
  char id[4];
  uint32_t chunkSize;
  if (Header(a, raw[0].offset, id, &chunkSize) && ChunkStream(id) == raw[0].stream) {
    absolute = true;
  }
  const int64_t base = absolute ? 0 : a->movi - 4;
  for (const Raw& r : raw) {
    const int64_t offset = base + int64_t{r.offset};
    if (offset + 8 + int64_t{r.size} > a->fileSize) {
      for (auto& list : a->index) list.clear();
      return;
    }
    a->index[r.stream].push_back({offset, r.size});
  }
}

int Open(qvAviReader* a, const char* name) {
  a->file = OpenFileQ(name, kFileRead);
  if (a->file == nullptr) return ERR_READFILE;
  SeekFileQ(a->file, 0, kSeekEnd);
  a->fileSize = SeekFileQ(a->file, 0, kSeekStart);
  std::vector<uint8_t> data;
  if (!ReadAt(a, 0, 12, &data) || std::memcmp(data.data(), "RIFF", 4) != 0 ||
      std::memcmp(data.data() + 8, "AVI ", 4) != 0) {
    return ERR_OPENANIM2;
  }
  int32_t headerStreams = 0;
  int64_t pos = 12;
  int64_t moviList = -1;
  uint32_t moviSize = 0;
  char id[4];
  uint32_t size;
  while (Header(a, pos, id, &size)) {
    if (std::memcmp(id, "LIST", 4) == 0) {
      if (!ReadAt(a, pos + 8, 4, &data) || size < 4) return ERR_OPENANIM2;
      if (std::memcmp(data.data(), "movi", 4) == 0) {
        moviList = pos;
        moviSize = size;
        break;
      }
      pos += 12;  // into the list
      continue;
    }
    if (std::memcmp(id, "avih", 4) == 0) {
      if (size != 56 || !ReadAt(a, pos + 8, 56, &data)) return ERR_OPENANIM2;
      a->total = int32_t(LittleU32(data.data() + 16));
      headerStreams = int32_t(LittleU32(data.data() + 24));
      a->width = int32_t(LittleU32(data.data() + 32));
      a->height = int32_t(LittleU32(data.data() + 36));
      if (a->total <= 0 || headerStreams < 0 || headerStreams > kMaxStreams) return ERR_OPENANIM2;
    } else if (std::memcmp(id, "strh", 4) == 0) {
      if (size != 56 || !ReadAt(a, pos + 8, 56, &data)) return ERR_OPENANIM2;
      if (a->streams >= kMaxStreams) return ERR_OPENANIM2;
      std::memcpy(a->type[a->streams], data.data(), 4);
      std::memcpy(a->handler[a->streams], data.data() + 4, 4);
      ++a->streams;
    } else if (std::memcmp(id, "strf", 4) == 0) {
      if (a->streams == 0) return ERR_OPENANIM2;
      const int32_t stream = a->streams - 1;
      if (std::memcmp(a->type[stream], "auds", 4) == 0) {
        if (size < 16 || !ReadAt(a, pos + 8, 16, &data)) return ERR_OPENANIM2;
        if (LittleU16(data.data()) != 1) return ERR_OPENANIM2;
        a->audioFormat = 1;
        a->audioChannels = int32_t(LittleU16(data.data() + 2));
        a->audioRate = int32_t(LittleU32(data.data() + 4));
        a->audioBlockAlign = int32_t(LittleU16(data.data() + 12));
        a->audioBits = int32_t(LittleU16(data.data() + 14));
      } else if (std::memcmp(a->type[stream], "vids", 4) == 0) {
        if (size < 20 || !ReadAt(a, pos + 8, 20, &data)) return ERR_OPENANIM2;
        const int32_t width = int32_t(LittleU32(data.data() + 4));
        const int32_t height = int32_t(LittleU32(data.data() + 8));
        if (width != a->width || (height != a->height && int64_t{height} != -int64_t{a->height})) {
          return ERR_OPENANIM2;
        }
        a->topDown = height < 0;
        a->planes = int32_t(LittleU16(data.data() + 12));
        a->bitCount = int32_t(LittleU16(data.data() + 14));
        a->compression = LittleU32(data.data() + 16);
        a->video = stream;
      }
    }
    pos = After(pos, size);
  }
  if (moviList < 0 || a->video < 0 || a->streams < 1 || a->total < 1 || a->width < 1 ||
      a->height < 1) {
    return ERR_OPENANIM2;
  }
  const char* handler = a->handler[a->video];
  static const char kNoHandler[4] = {0, 0, 0, 0};
  if (SameFourCc(handler, "dib ") || SameFourCc(handler, "raw ") ||
      std::memcmp(handler, kNoHandler, 4) == 0) {
    if (a->bitCount != 24) return ERR_OPENANIM2;
    a->kind = kVideoRaw;
  } else if (SameFourCc(handler, "mjpg")) {
    a->kind = kVideoMjpeg;
  } else {
    return ERR_OPENANIM2;
  }
  if (int64_t{a->width} * a->height * 4 >= kMaxFrameBytes) return ERR_OPENANIM2;
  a->movi = moviList + 12;
  const int64_t behind = After(moviList, moviSize);
  if (Header(a, behind, id, &size) && std::memcmp(id, "idx1", 4) == 0) {
    ReadLegacyIndex(a, behind, size);
  }
  a->position = a->movi;
  a->next = 0;
  return 0;
}

uint32_t* DecodeRaw(qvAviReader* a, const std::vector<uint8_t>& data) {
  const size_t width = size_t(a->width);
  const size_t height = size_t(a->height);
  const size_t tight = width * 3;
  const size_t padded = (tight + 3) & ~size_t{3};
  size_t stride;
  if (data.size() == tight * height) {
    stride = tight;
  } else if (data.size() == padded * height) {
    stride = padded;
  } else {
    return nullptr;
  }
  auto* out = static_cast<uint32_t*>(std::malloc(width * height * 4));
  if (out == nullptr) return nullptr;
  for (size_t y = 0; y < height; ++y) {
    const uint8_t* in = data.data() + (a->topDown ? y : height - 1 - y) * stride;
    uint32_t* line = out + y * width;
    // Stored blue, green, red.
    for (size_t x = 0; x < width; ++x, in += 3) {
      line[x] = uint32_t(in[2]) << 16 | uint32_t(in[1]) << 8 | in[0];
    }
  }
  return out;
}

// The frame as a JPEG stream that the JPEG reader takes: the standard Huffman tables put in front
// of the scan when the frame came without any, an "AVI1" identifier read as "JFIF".
uint32_t* DecodeMjpeg(qvAviReader* a, const std::vector<uint8_t>& data) {
  if (data.size() < 2 || data[0] != 0xFF || data[1] != 0xD8) return nullptr;
  std::vector<uint8_t>& out = a->buffer;
  try {
    out.clear();
    out.reserve(data.size() + kStandardDhtSize);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  size_t pos = 2;
  bool tables = false;
  size_t scan = data.size();  // where the segments end
  while (pos + 1 < data.size()) {
    if (data[pos] != 0xFF) break;
    size_t at = pos + 1;
    while (at < data.size() && data[at] == 0xFF) ++at;  // fill bytes
    if (at >= data.size()) break;
    const uint8_t marker = data[at];
    if (marker == 0xDA) {
      scan = pos;
      break;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
      pos = at + 1;
      continue;
    }
    if (at + 2 >= data.size()) break;
    const size_t length = size_t(data[at + 1]) << 8 | data[at + 2];
    if (length < 2 || at + 1 + length > data.size()) break;
    if (marker == 0xC4) tables = true;
    pos = at + 1 + length;
  }
  if (scan == data.size()) {
    // No scan found among whole segments: the reader judges the frame as it stands.
    out.assign(data.begin(), data.end());
  } else {
    out.assign(data.begin(), data.begin() + std::ptrdiff_t(scan));
    if (!tables) out.insert(out.end(), kStandardDht.begin(), kStandardDht.end());
    out.insert(out.end(), data.begin() + std::ptrdiff_t(scan), data.end());
  }
  // An APP0 segment right behind the start marker carries the identifier at bytes 6 to 9.
  if (out.size() >= 10 && out[2] == 0xFF && out[3] == 0xE0 &&
      std::memcmp(&out[6], "AVI1", 4) == 0) {
    std::memcpy(&out[6], "JFIF", 4);
  }
  uint32_t* pixels = nullptr;
  qvPictureFacts facts;
  if (LoadJpeg(nullptr, out.data(), out.size(), &pixels, &facts) != 0) return nullptr;
  if (facts.width != a->width || facts.height != a->height) {
    std::free(pixels);
    return nullptr;
  }
  if (facts.wordsPerRow != a->width) {
    for (int32_t y = 1; y < a->height; ++y) {
      std::memmove(pixels + size_t(y) * size_t(a->width),
                   pixels + size_t(y) * size_t(facts.wordsPerRow), size_t(a->width) * 4);
    }
  }
  return pixels;
}

void Rewind(qvAviReader* a) {
  a->next = 0;
  a->position = a->movi;
}

}  // namespace

int OpenAviFile(const char* name, qvAviReader** out, int32_t* width, int32_t* height,
                int32_t* frames) {
  *out = nullptr;
  auto* a = new (std::nothrow) qvAviReader;
  if (a == nullptr) return ERR_MEM;
  const int code = Open(a, name);
  if (code != 0) {
    CloseAviFile(a);
    return code;
  }
  *out = a;
  *width = a->width;
  *height = a->height;
  *frames = a->total;
  return 0;
}

uint32_t* ReadAviFrame(qvAviReader* a, int32_t n) {
  if (a == nullptr || n < 0 || n >= a->total) return nullptr;
  int64_t pos;
  int32_t at;  // the frame that the next video chunk of the walk holds
  const std::vector<IndexEntry>& index = a->index[a->video];
  if (n == a->next) {
    pos = a->position;
    at = a->next;
  } else if (size_t(n) < index.size()) {
    pos = index[size_t(n)].offset;
    at = n;
  } else {
    pos = a->movi;
    at = 0;
  }
  char id[4];
  uint32_t size;
  const int32_t stream = a->video;
  bool found = false;
  while (Header(a, pos, id, &size)) {
    // Lists are entered, and so are the further RIFFs of files past their first gigabyte.
    if (std::memcmp(id, "LIST", 4) == 0 || std::memcmp(id, "RIFF", 4) == 0) {
      pos += 12;
      continue;
    }
    if (ChunkStream(id) == stream && id[2] == 'd') {
      if (at == n) {
        found = true;
        break;
      }
      ++at;
    }
    pos = After(pos, size);
  }
  if (!found || !ReadAt(a, pos + 8, size, &a->chunk)) {
    Rewind(a);
    return nullptr;
  }
  a->position = After(pos, size);
  a->next = n + 1;
  if (a->next >= a->total) Rewind(a);
  return a->kind == kVideoRaw ? DecodeRaw(a, a->chunk) : DecodeMjpeg(a, a->chunk);
}

void CloseAviFile(qvAviReader* a) {
  if (a == nullptr) return;
  if (a->file != nullptr) CloseFileQ(a->file);
  delete a;
}

}  // namespace qv
