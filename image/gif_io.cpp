// GIF reading and writing. The decoder keeps the canvas (the screen as the frames decoded so far
// left it) and a table of every frame's file position, so that the next frame continues where the
// last one stopped and any other frame restarts at the latest key frame (one that covers the
// whole screen opaquely and is not restored afterwards). The writer uses the classic hashed LZW
// encoder and, for animations, writes only the box of pixels that changed.
#include "image/gif_io.h"

#include <array>
#include <cstdlib>
#include <cstring>

#include "base/errors.h"
#include "core/vfile.h"
#include "image/internal.h"
#include "platform/files.h"

namespace qv {

namespace {

constexpr int64_t kMaxPictureBytes = int64_t(1) << 31;
constexpr int32_t kTableGrowth = 4096;
constexpr int kMaxCodes = 4096;
constexpr size_t kFeedSize = 16384;
// A screen of up to this many pixels (16 MB, as 2048 x 2048) is taken on the header's word, however
// little of it the frames cover. A larger one must be one its file could have drawn: an LZW code
// stands for at most kMaxCodes pixels and takes at least three bits, so no byte of a file codes
// more than 2 * kMaxCodes pixels of frames. A few hundred bytes declaring a screen of gigabytes are
// refused, not filled with background.
constexpr int64_t kFreeScreenPixels = int64_t(1) << 22;
constexpr int64_t kPixelsPerFileByte = 2 * int64_t(kMaxCodes);

// Image data bytes gathered from their sub-blocks into one window, so that the decoder reads
// each code with one unaligned load; the 8 bytes behind the data are kept zero for that load.
struct DataFeed {
  qvFile* file;
  size_t end;     // bytes held
  int blockLeft;  // bytes of the current sub-block not yet read
  bool ended;     // the terminator (or the file's end) has been met
  uint8_t bytes[kFeedSize + 8];
};

struct FrameEntry {
  int32_t delay;  // hundredths of a second
  int32_t key;
  int64_t position;  // where the frame's blocks begin
};

}  // namespace

struct qvGifDecoder {
  qvFile* file;
  int32_t width;
  int32_t height;
  uint32_t global[256];
  uint32_t local[256];
  const uint32_t* current;
  uint32_t* canvas;
  uint32_t* save;
  int32_t background;
  int32_t next;  // the frame the file position stands before, -1 when unknown
  int32_t frames;
  int64_t dataStart;
  FrameEntry* table;
  int32_t capacity;
  // The frame being decoded.
  int32_t disposal;
  int32_t delay;
  int32_t left;
  int32_t top;
  int32_t frameWidth;
  int32_t frameHeight;
  int32_t transparent;  // -1 for none
  bool interlaced;
  // The streaming decoder's LZW tables.
  uint16_t prefix[kMaxCodes];
  uint8_t suffix[kMaxCodes];
  uint8_t first[kMaxCodes];    // each string's first byte
  uint16_t length[kMaxCodes];  // each string's length
  uint32_t colour[kMaxCodes];  // each string's last pixel in the current table's colours
  uint8_t stack[kMaxCodes + 1];
  // The forward decoder's table: each string as the place and length of its earlier copy in
  // the output.
  uint32_t start[kMaxCodes];
  uint32_t runLength[kMaxCodes];
  uint8_t* pens;  // a frame's pens in file order, for the frames not decoded into the canvas
  size_t pensSize;
  DataFeed feed;
};

namespace {

void FillWords(uint32_t* p, uint32_t value, int64_t n) {
  for (int64_t i = 0; i < n; ++i) p[i] = value;
}

// The frame's rectangle cut to the screen; false when nothing of it is on screen.
bool VisibleRect(const qvGifDecoder* g, int32_t* x0, int32_t* y0, int32_t* x1, int32_t* y1) {
  *x0 = g->left;
  *y0 = g->top;
  *x1 = g->left + g->frameWidth < g->width ? g->left + g->frameWidth : g->width;
  *y1 = g->top + g->frameHeight < g->height ? g->top + g->frameHeight : g->height;
  return *x0 < *x1 && *y0 < *y1;
}

void FillRect(qvGifDecoder* g, uint32_t colour) {
  int32_t x0, y0, x1, y1;
  if (!VisibleRect(g, &x0, &y0, &x1, &y1)) return;
  for (int32_t y = y0; y < y1; ++y)
    FillWords(g->canvas + int64_t(y) * g->width + x0, colour, x1 - x0);
}

void CopyRect(qvGifDecoder* g, uint32_t* to, const uint32_t* from) {
  int32_t x0, y0, x1, y1;
  if (!VisibleRect(g, &x0, &y0, &x1, &y1)) return;
  for (int32_t y = y0; y < y1; ++y) {
    int64_t at = int64_t(y) * g->width + x0;
    std::memcpy(to + at, from + at, size_t(x1 - x0) * 4);
  }
}

// What the frame just decoded leaves behind for the next one; then the global table is current
// again.
void ApplyDisposal(qvGifDecoder* g) {
  if (g->disposal == 2) {
    int32_t index = g->transparent >= 0 ? g->transparent : g->background;
    FillRect(g, g->current[index & 0xFF]);
  } else if (g->disposal == 3) {
    CopyRect(g, g->canvas, g->save);
  }
  g->current = g->global;
}

bool ReadColourTable(qvFile* file, uint32_t* table, int entries) {
  uint8_t rgb[768];
  if (ReadFileQ(file, rgb, size_t(entries) * 3) != size_t(entries) * 3) return false;
  for (size_t i = 0; i < size_t(entries); ++i) {
    table[i] = uint32_t(rgb[3 * i]) << 16 | uint32_t(rgb[3 * i + 1]) << 8 | rgb[3 * i + 2];
  }
  for (int i = entries; i < 256; ++i) table[i] = 0;
  return true;
}

// Skips data sub-blocks up to and with the terminator; false when the file ends first.
bool SkipSubBlocks(qvFile* file) {
  uint8_t skip[255];
  for (;;) {
    int length = ReadByteQ(file);
    if (length < 0) return false;
    if (length == 0) return true;
    if (ReadFileQ(file, skip, size_t(length)) != size_t(length)) return false;
  }
}

// The image data's sub-blocks as one stream of bytes.
struct BlockReader {
  qvFile* file;
  uint8_t data[255];
  int length;
  int position;
  bool ended;  // the terminator (or the file's end) has been met
};

inline int NextDataByte(BlockReader* r) {
  if (r->position >= r->length) {
    if (r->ended) return -1;
    int length = ReadByteQ(r->file);
    if (length <= 0) {
      r->ended = true;
      return -1;
    }
    size_t got = ReadFileQ(r->file, r->data, size_t(length));
    if (got < size_t(length)) r->ended = true;
    if (got == 0) return -1;
    r->length = int(got);
    r->position = 0;
  }
  return r->data[r->position++];
}

// Where the decoded pixels go: frame rows in file order (interlaced or not), cut to the screen.
struct PixelSink {
  uint32_t* row;  // the canvas row of the current frame row, null when below the screen
  int32_t x;
  int32_t y;
  int32_t pass;
  int32_t visibleWidth;  // frame columns that fall on the screen
  int64_t remaining;
};

constexpr int32_t kPassStart[4] = {0, 4, 2, 1};
constexpr int32_t kPassStep[4] = {8, 8, 4, 2};

void SetSinkRow(const qvGifDecoder* g, PixelSink* s) {
  int64_t canvasY = int64_t(g->top) + s->y;
  s->row = canvasY < g->height ? g->canvas + canvasY * g->width + g->left : nullptr;
}

void NextRow(const qvGifDecoder* g, PixelSink* s) {
  s->x = 0;
  if (!g->interlaced) {
    ++s->y;
  } else {
    s->y += kPassStep[s->pass];
    while (s->y >= g->frameHeight && s->pass < 3) {
      ++s->pass;
      s->y = kPassStart[s->pass];
    }
  }
  SetSinkRow(g, s);
}

inline void PutPixel(const qvGifDecoder* g, PixelSink* s, int index) {
  if (s->row != nullptr && s->x < s->visibleWidth && index != g->transparent) {
    s->row[s->x] = g->current[index];
  }
  --s->remaining;
  if (++s->x == g->frameWidth) NextRow(g, s);
}

// Puts the string of `code` (defined in the tables). A string inside one visible row of a frame
// without transparency is written straight from the tables, back to front; any other goes pixel
// by pixel through the stack.
inline void PutString(qvGifDecoder* g, PixelSink* s, int code, int clear) {
  int len = g->length[code];
  if (g->transparent < 0 && s->row != nullptr && len <= s->remaining &&
      s->x + len <= s->visibleWidth && s->x + len <= g->frameWidth) {
    uint32_t* to = s->row + s->x + len - 1;
    const uint16_t* prefix = g->prefix;
    const uint32_t* colour = g->colour;
    int c = code;
    while (c >= clear) {
      *to-- = colour[c];
      c = prefix[c];
    }
    *to = colour[c];
    s->x += len;
    s->remaining -= len;
    if (s->x == g->frameWidth) NextRow(g, s);
    return;
  }
  int top = 0;
  int c = code;
  while (c >= clear) {
    g->stack[top++] = g->suffix[c];
    c = g->prefix[c];
  }
  g->stack[top++] = uint8_t(c);
  while (top > 0 && s->remaining > 0) PutPixel(g, s, g->stack[--top]);
}

// The streaming decoder, for frames larger than the screen (whose pens would need more memory
// than the canvas): each string is walked back through its prefixes, and every pixel goes
// through the sink that cuts the frame to the screen. The same codes are refused as by the
// forward decoder below.
bool DecodeStreaming(qvGifDecoder* g, int minSize) {
  PixelSink sink{};
  sink.remaining = int64_t(g->frameWidth) * g->frameHeight;
  sink.visibleWidth = g->left < g->width ? g->width - g->left : 0;
  SetSinkRow(g, &sink);
  BlockReader in{};
  in.file = g->file;

  const int clear = 1 << minSize;
  const int end = clear + 1;
  for (int c = 0; c < clear; ++c) {
    g->first[c] = uint8_t(c);
    g->length[c] = 1;
    g->colour[c] = g->current[c];
  }
  int width = minSize + 1;
  int nextFree = clear + 2;
  int previous = -1;
  uint32_t bits = 0;
  int bitCount = 0;
  while (sink.remaining > 0) {
    while (bitCount < width) {
      int byte = NextDataByte(&in);
      if (byte < 0) return false;
      bits |= uint32_t(byte) << bitCount;
      bitCount += 8;
    }
    int code = int(bits & ((1u << width) - 1));
    bits >>= width;
    bitCount -= width;
    if (code == clear) {
      width = minSize + 1;
      nextFree = clear + 2;
      previous = -1;
      continue;
    }
    if (code == end) return false;
    if (previous < 0) {
      if (code > clear) return false;
      PutPixel(g, &sink, code);
      previous = code;
      continue;
    }
    if (code > nextFree || nextFree >= kMaxCodes) return false;
    // The new entry is the previous string and the first byte of this one; for the code being
    // defined right now (the string that repeats its own first byte) that byte is the previous
    // string's first.
    g->prefix[nextFree] = uint16_t(previous);
    uint8_t byte = code < nextFree ? g->first[code] : g->first[previous];
    g->suffix[nextFree] = byte;
    g->colour[nextFree] = g->current[byte];
    g->first[nextFree] = g->first[previous];
    g->length[nextFree] = uint16_t(g->length[previous] + 1);
    ++nextFree;
    if (nextFree >= (1 << width) && width < 12) ++width;
    PutString(g, &sink, code, clear);
    previous = code;
  }
  // The rest of the data (normally the end code) is passed over.
  return in.ended || SkipSubBlocks(g->file);
}

// Keeps the bytes from bit position *bit on and fills the window behind them from the
// sub-blocks; *bit is then counted from the window's start.
void Refill(DataFeed* f, uint64_t* bit) {
  size_t at = size_t(*bit >> 3);
  size_t keep = at < f->end ? f->end - at : 0;
  std::memmove(f->bytes, f->bytes + at, keep);
  f->end = keep;
  *bit &= 7;
  while (!f->ended && f->end < kFeedSize) {
    if (f->blockLeft == 0) {
      int length = ReadByteQ(f->file);
      if (length <= 0) {
        f->ended = true;
        break;
      }
      f->blockLeft = length;
    }
    size_t want = kFeedSize - f->end < size_t(f->blockLeft) ? kFeedSize - f->end
                                                            : size_t(f->blockLeft);
    size_t got = ReadFileQ(f->file, f->bytes + f->end, want);
    f->end += got;
    f->blockLeft -= int(got);
    if (got < want) f->ended = true;
  }
  std::memset(f->bytes + f->end, 0, 8);
}

// Copies n values from `from` to `to` front to back (`to` lies behind `from`, and the two may
// overlap: a string that repeats its own start). Whole blocks of kBlock values are moved at
// once when the distance allows and `room` values behind `to` may be written over.
template <typename T>
inline void CopyForward(T* to, const T* from, uint32_t n, int64_t room) {
  constexpr uint32_t kBlock = 32 / sizeof(T);
  if (to - from >= int64_t(kBlock) && room >= int64_t(n) + kBlock) {
    for (uint32_t i = 0; i < n; i += kBlock) std::memcpy(to + i, from + i, sizeof(T) * kBlock);
  } else {
    for (uint32_t i = 0; i < n; ++i) to[i] = from[i];
  }
}

// The forward decoder: `count` values into out, roots[c] for each root code c. A table entry is
// the previous string and the first value of the next one, which always stand one behind the
// other in the output, so the entry is kept as that place and length and a code's string is
// copied forward from its earlier copy, never reversed. A string reaching past the last value
// is cut. False for the codes DecodeImageData refuses.
template <typename T>
bool DecodeForward(qvGifDecoder* g, int minSize, const T* roots, T* out, int64_t count) {
  DataFeed* f = &g->feed;
  uint32_t* start = g->start;
  uint32_t* runLength = g->runLength;
  const int clear = 1 << minSize;
  const int end = clear + 1;
  int width = minSize + 1;
  uint64_t mask = (uint64_t(1) << width) - 1;
  int nextFree = clear + 2;
  int64_t pos = 0;
  int64_t previousPos = -1;
  uint32_t previousLength = 0;
  uint64_t bit = 0;
  while (pos < count) {
    if ((bit >> 3) + 8 > f->end && !f->ended) Refill(f, &bit);
    if (bit + uint64_t(width) > uint64_t(f->end) * 8) return false;
    uint64_t word;
    std::memcpy(&word, f->bytes + (bit >> 3), 8);
    int code = int((word >> (bit & 7)) & mask);
    bit += uint64_t(width);
    if (code == clear) {
      width = minSize + 1;
      mask = (uint64_t(1) << width) - 1;
      nextFree = clear + 2;
      previousPos = -1;
      continue;
    }
    if (code == end) return false;
    if (previousPos < 0) {
      if (code > clear) return false;
      out[pos] = roots[code];
      previousPos = pos++;
      previousLength = 1;
      continue;
    }
    if (code > nextFree || nextFree >= kMaxCodes) return false;
    start[nextFree] = uint32_t(previousPos);
    runLength[nextFree] = previousLength + 1;
    ++nextFree;
    if (nextFree >= (1 << width) && width < 12) {
      ++width;
      mask = (uint64_t(1) << width) - 1;
    }
    previousPos = pos;
    if (code < clear) {
      out[pos++] = roots[code];
      previousLength = 1;
      continue;
    }
    uint32_t n = runLength[code];
    previousLength = n;
    if (int64_t(n) > count - pos) n = uint32_t(count - pos);
    CopyForward(out + pos, out + start[code], n, count - pos);
    pos += n;
  }
  // The rest of the data (normally the end code) is passed over: what is left of this
  // sub-block, then the others.
  if (f->ended) return true;
  while (f->blockLeft > 0) {
    size_t want = size_t(f->blockLeft) < kFeedSize ? size_t(f->blockLeft) : kFeedSize;
    if (ReadFileQ(f->file, f->bytes, want) != want) return false;
    f->blockLeft -= int(want);
  }
  return SkipSubBlocks(f->file);
}

constexpr std::array<uint8_t, 256> MakeIdentity() {
  std::array<uint8_t, 256> table{};
  for (int i = 0; i < 256; ++i) table[size_t(i)] = uint8_t(i);
  return table;
}
// Root code c decodes to pen c.
constexpr std::array<uint8_t, 256> kIdentity = MakeIdentity();

// One frame row of pens onto canvas row y of the frame (cut to the screen), pens equal to the
// transparent one left out.
void PutPenRow(qvGifDecoder* g, int32_t y, const uint8_t* pens, int32_t visibleWidth) {
  int64_t canvasY = int64_t(g->top) + y;
  if (canvasY >= g->height) return;
  uint32_t* row = g->canvas + canvasY * g->width + g->left;
  const uint32_t* colours = g->current;
  if (g->transparent < 0) {
    for (int32_t x = 0; x < visibleWidth; ++x) row[x] = colours[pens[x]];
  } else {
    const int transparent = g->transparent;
    for (int32_t x = 0; x < visibleWidth; ++x)
      if (pens[x] != transparent) row[x] = colours[pens[x]];
  }
}

// Decodes the frame's image data into the canvas. False for damaged data: a code size above 8,
// a code beyond the next free one, a code that would need a 4097th table entry, or the end code
// or the end of the data before the last pixel (or when memory runs out). Data after the last
// pixel is skipped.
bool DecodeImageData(qvGifDecoder* g) {
  int minSize = ReadByteQ(g->file);
  if (minSize < 1 || minSize > 8) return false;
  const int64_t count = int64_t(g->frameWidth) * g->frameHeight;
  if (count > int64_t(g->width) * g->height) return DecodeStreaming(g, minSize);
  DataFeed* f = &g->feed;
  f->file = g->file;
  f->end = 0;
  f->blockLeft = 0;
  f->ended = false;
  // A frame whose rows follow one another on the canvas, opaque and in order, is decoded
  // straight into it as colours.
  if (!g->interlaced && g->transparent < 0 && g->left == 0 && g->frameWidth == g->width &&
      g->top + g->frameHeight <= g->height) {
    return DecodeForward(g, minSize, g->current, g->canvas + int64_t(g->top) * g->width, count);
  }
  if (size_t(count) > g->pensSize) {
    std::free(g->pens);
    g->pensSize = 0;
    g->pens = static_cast<uint8_t*>(image::Allocate(size_t(count), false));
    if (g->pens == nullptr) return false;
    g->pensSize = size_t(count);
  }
  if (!DecodeForward(g, minSize, kIdentity.data(), g->pens, count)) return false;
  const int32_t fw = g->frameWidth;
  int32_t visibleWidth = g->left < g->width ? g->width - g->left : 0;
  if (visibleWidth > fw) visibleWidth = fw;
  const uint8_t* pens = g->pens;
  if (!g->interlaced) {
    for (int32_t y = 0; y < g->frameHeight; ++y, pens += fw) PutPenRow(g, y, pens, visibleWidth);
    return true;
  }
  for (int pass = 0; pass < 4; ++pass) {
    for (int32_t y = kPassStart[pass]; y < g->frameHeight; y += kPassStep[pass], pens += fw)
      PutPenRow(g, y, pens, visibleWidth);
  }
  return true;
}

bool GrowTable(qvGifDecoder* g) {
  int64_t capacity = int64_t(g->capacity) + kTableGrowth;
  auto* table = static_cast<FrameEntry*>(
      image::Allocate(size_t(capacity) * sizeof(FrameEntry), true));
  if (table == nullptr) return false;
  std::memcpy(table, g->table, size_t(g->capacity) * sizeof(FrameEntry));
  std::free(g->table);
  g->table = table;
  g->capacity = int32_t(capacity);
  return true;
}

enum class ScanResult { kDone, kFailed, kNoMemory };

// Walks the blocks from the file position, frame g->next onwards. With `target` -1 every frame is
// entered into the frame table and its pixel data skipped; otherwise frames are decoded into the
// canvas until frame `target` has been decoded (its disposal not yet applied).
ScanResult Scan(qvGifDecoder* g, int32_t target) {
  bool all = target < 0;
  for (;;) {
    g->transparent = -1;
    g->disposal = 0;
    g->delay = 0;
    int64_t start = SeekFileQ(g->file, 0, kSeekCurrent);
    for (;;) {
      int byte = ReadByteQ(g->file);
      if (byte < 0 || byte == 0x3B) return all ? ScanResult::kDone : ScanResult::kFailed;
      if (byte == 0x21) {
        int label = ReadByteQ(g->file);
        if (label < 0) return ScanResult::kFailed;
        if (label == 0xF9) {
          uint8_t control[255] = {};
          int length = ReadByteQ(g->file);
          if (length < 0 || ReadFileQ(g->file, control, size_t(length)) != size_t(length)) {
            return ScanResult::kFailed;
          }
          if (length > 0 && !SkipSubBlocks(g->file)) return ScanResult::kFailed;
          g->disposal = (control[0] >> 2) & 7;
          g->delay = control[1] | control[2] << 8;
          g->transparent = (control[0] & 1) != 0 ? control[3] : -1;
        } else if (!SkipSubBlocks(g->file)) {
          return ScanResult::kFailed;
        }
        continue;
      }
      if (byte != 0x2C) continue;  // stray bytes are passed over
      uint8_t d[9];
      if (ReadFileQ(g->file, d, 9) != 9) return ScanResult::kFailed;
      g->left = d[0] | d[1] << 8;
      g->top = d[2] | d[3] << 8;
      g->frameWidth = d[4] | d[5] << 8;
      g->frameHeight = d[6] | d[7] << 8;
      g->interlaced = (d[8] & 0x40) != 0;
      if ((d[8] & 0x80) != 0) {
        if (!ReadColourTable(g->file, g->local, 2 << (d[8] & 7))) return ScanResult::kFailed;
        g->current = g->local;
      }
      if (all) {
        if (g->frames == g->capacity && !GrowTable(g)) return ScanResult::kNoMemory;
        FrameEntry& e = g->table[g->frames];
        e.delay = g->delay;
        e.position = start;
        e.key = g->frameWidth == g->width && g->frameHeight == g->height && g->left == 0 &&
                g->top == 0 && g->transparent < 0 && g->disposal != 3;
        ++g->frames;
        g->current = g->global;
        if (ReadByteQ(g->file) < 0 || !SkipSubBlocks(g->file)) return ScanResult::kFailed;
        break;
      }
      if (g->next == 0 && g->transparent >= 0 && g->disposal == 2) {
        FillWords(g->canvas, g->current[g->transparent], int64_t(g->width) * g->height);
      } else if (g->disposal == 3) {
        // Only animations that restore a frame's box need the copy of the canvas.
        if (g->save == nullptr) {
          g->save = static_cast<uint32_t*>(image::Allocate(size_t(g->width) * g->height * 4, true));
          if (g->save == nullptr) return ScanResult::kNoMemory;
        }
        CopyRect(g, g->save, g->canvas);
      }
      if (!DecodeImageData(g)) return ScanResult::kFailed;
      if (g->next++ == target) return ScanResult::kDone;
      ApplyDisposal(g);
      break;
    }
  }
}

void ResetCanvas(qvGifDecoder* g) {
  FillWords(g->canvas, g->global[g->background], int64_t(g->width) * g->height);
}

}  // namespace

void FreeGif(qvGifDecoder* gif) {
  if (gif == nullptr) return;
  if (gif->file != nullptr) CloseFileQ(gif->file);
  std::free(gif->table);
  std::free(gif->canvas);
  std::free(gif->save);
  std::free(gif->pens);
  std::free(gif);
}

int LoadGif(const char* name, bool infoOnly, qvGifInfo* info, qvGifDecoder** out) {
  *out = nullptr;
  qvFile* file = OpenFileQ(name, kFileRead);
  if (file == nullptr) return ERR_READFILE;
  uint8_t head[13];
  if (ReadFileQ(file, head, 13) != 13 ||
      (std::memcmp(head, "GIF87", 5) != 0 && std::memcmp(head, "GIF89", 5) != 0)) {
    CloseFileQ(file);
    return ERR_LOADPICTURE2;
  }
  int32_t width = head[6] | head[7] << 8;
  int32_t height = head[8] | head[9] << 8;
  if (width == 0 || height == 0) {
    CloseFileQ(file);
    return ERR_LOADPICTURE2;
  }
  if (infoOnly) {
    CloseFileQ(file);
    info->width = width;
    info->height = height;
    info->frames = 0;
    return 0;
  }
  if (int64_t(width) * height * 4 > kMaxPictureBytes) {
    CloseFileQ(file);
    return ERR_MEM;
  }
  if (int64_t(width) * height > kFreeScreenPixels) {
    const int64_t start = SeekFileQ(file, 0, kSeekEnd);
    const int64_t end = SeekFileQ(file, start, kSeekStart);
    if (int64_t(width) * height > (end - start) * kPixelsPerFileByte) {
      CloseFileQ(file);
      return ERR_LOADPICTURE2;
    }
  }
  auto* g = static_cast<qvGifDecoder*>(image::Allocate(sizeof(qvGifDecoder), true));
  if (g == nullptr) {
    CloseFileQ(file);
    return ERR_MEM;
  }
  g->file = file;
  g->width = width;
  g->height = height;
  g->background = head[11];
  g->current = g->global;
  g->next = -1;
  size_t pixels = size_t(width) * size_t(height);
  g->table = static_cast<FrameEntry*>(image::Allocate(kTableGrowth * sizeof(FrameEntry), true));
  g->canvas = static_cast<uint32_t*>(image::Allocate(pixels * 4, false));
  if (g->table == nullptr || g->canvas == nullptr) {
    FreeGif(g);
    return ERR_MEM;
  }
  g->capacity = kTableGrowth;
  if ((head[10] & 0x80) != 0 && !ReadColourTable(file, g->global, 2 << (head[10] & 7))) {
    FreeGif(g);
    return ERR_LOADPICTURE2;
  }
  // The canvas is filled when a frame is first asked for (unless a key frame covers it).
  g->dataStart = SeekFileQ(file, 0, kSeekCurrent);
  ScanResult scanned = Scan(g, -1);
  if (scanned != ScanResult::kDone || g->frames == 0) {
    FreeGif(g);
    return scanned == ScanResult::kNoMemory ? ERR_MEM : ERR_LOADPICTURE2;
  }
  g->next = -1;
  info->width = width;
  info->height = height;
  info->frames = g->frames;
  *out = g;
  return 0;
}

namespace {

// Brings the canvas to frame n as it shows (its disposal not applied). False on failure, when the
// canvas is left in no known state.
bool DecodeFrame(qvGifDecoder* g, int32_t n) {
  if (n != g->next) {
    int32_t key = n;
    while (key >= 0 && !g->table[key].key) --key;
    g->current = g->global;
    if (key >= 0) {
      SeekFileQ(g->file, g->table[key].position, kSeekStart);
      g->next = key;
    } else {
      ResetCanvas(g);
      SeekFileQ(g->file, g->dataStart, kSeekStart);
      g->next = 0;
    }
  }
  if (Scan(g, n) == ScanResult::kDone) return true;
  g->next = -1;  // the next call starts over
  return false;
}

}  // namespace

uint32_t* LoadGifFrame(qvGifDecoder* g, int32_t n) {
  if (g == nullptr || n < 0 || n >= g->frames) return nullptr;
  size_t bytes = size_t(g->width) * size_t(g->height) * 4;
  auto* pixels = static_cast<uint32_t*>(image::Allocate(bytes, false));
  if (pixels == nullptr) return nullptr;
  if (!DecodeFrame(g, n)) {
    std::free(pixels);
    return nullptr;
  }
  std::memcpy(pixels, g->canvas, bytes);
  ApplyDisposal(g);
  return pixels;
}

int32_t GetGifFrameDelay(const qvGifDecoder* g, int32_t n) {
  if (g == nullptr || n < 0 || n >= g->frames) return 0;
  return g->table[n].delay * 10;
}

int LoadGifPicture(const char* name, uint32_t** outPixels, qvPictureFacts* facts) {
  qvGifInfo info;
  qvGifDecoder* gif = nullptr;
  int result = LoadGif(name, outPixels == nullptr, &info, &gif);
  if (result != 0) return result;
  if (outPixels != nullptr) {
    // The decoder goes away at once, so frame 0's canvas itself is the picture.
    bool decoded = DecodeFrame(gif, 0);
    uint32_t* pixels = gif->canvas;
    if (decoded) gif->canvas = nullptr;
    FreeGif(gif);
    if (!decoded) return ERR_LOADPICTURE2;
    *outPixels = pixels;
  }
  facts->width = info.width;
  facts->height = info.height;
  facts->alpha = 0;
  return 0;
}

// ---- writing --------------------------------------------------------------------------------

namespace {

constexpr int kHashSlots = 5003;
constexpr int kSubBlock = 254;

}  // namespace

struct qvGifWriter {
  qvFile* file;
  char name[kMaxPathLength + 1];
  int32_t width;
  int32_t height;
  int32_t frames;
  bool failed;        // a write failed: the file is removed when the writer finishes
  uint8_t* previous;  // the previous frame's pens (optimised animations)
  int32_t previousWidth;
  int32_t previousHeight;
  uint8_t* scratch;
  size_t scratchSize;
  uint32_t previousPalette[256];
  // The LZW encoder.
  uint16_t hashCode[kHashSlots];
  uint16_t hashPrefix[kHashSlots];
  uint8_t hashChar[kHashSlots];
  uint8_t block[kSubBlock];
  int blockLength;
  uint32_t bits;
  int bitCount;
};

namespace {

bool Put(qvGifWriter* w, const void* data, size_t n) {
  if (w->failed) return false;
  if (WriteFileQ(w->file, data, n) != n) w->failed = true;
  return !w->failed;
}

bool PutByte(qvGifWriter* w, int byte) {
  uint8_t b = uint8_t(byte);
  return Put(w, &b, 1);
}

void FlushBlock(qvGifWriter* w) {
  if (w->blockLength == 0) return;
  PutByte(w, w->blockLength);
  Put(w, w->block, size_t(w->blockLength));
  w->blockLength = 0;
}

inline void PutCodeByte(qvGifWriter* w, uint8_t byte) {
  w->block[w->blockLength++] = byte;
  if (w->blockLength == kSubBlock) FlushBlock(w);
}

struct Encoder {
  int initialWidth;
  int width;
  int maxCode;
  int clear;
  int nextFree;
  bool cleared;
};

void OutputCode(qvGifWriter* w, Encoder* e, int code) {
  w->bits |= uint32_t(code) << w->bitCount;
  w->bitCount += e->width;
  while (w->bitCount >= 8) {
    PutCodeByte(w, uint8_t(w->bits));
    w->bits >>= 8;
    w->bitCount -= 8;
  }
  if (e->cleared) {
    e->width = e->initialWidth;
    e->maxCode = (1 << e->width) - 1;
    e->cleared = false;
  } else if (e->nextFree > e->maxCode) {
    ++e->width;
    e->maxCode = e->width == 12 ? kMaxCodes : (1 << e->width) - 1;
  }
}

// The box of `pens` (rows `stride` apart) as LZW data sub-blocks, without the terminator.
void EncodePixels(qvGifWriter* w, const uint8_t* pens, int32_t boxWidth, int32_t boxHeight,
                  int32_t stride, int minCodeSize) {
  Encoder e{};
  e.initialWidth = minCodeSize + 1;
  e.width = e.initialWidth;
  e.maxCode = (1 << e.width) - 1;
  e.clear = 1 << minCodeSize;
  e.nextFree = e.clear + 2;
  std::memset(w->hashCode, 0, sizeof w->hashCode);
  w->blockLength = 0;
  w->bits = 0;
  w->bitCount = 0;
  OutputCode(w, &e, e.clear);
  int prefix = pens[0];
  bool firstPixel = true;
  for (int32_t y = 0; y < boxHeight; ++y) {
    const uint8_t* row = pens + int64_t(y) * stride;
    for (int32_t x = 0; x < boxWidth; ++x) {
      if (firstPixel) {
        firstPixel = false;
        continue;
      }
      int c = row[x];
      int slot = (c << 4) + prefix;
      if (slot >= kHashSlots) slot -= kHashSlots;
      bool found = false;
      if (w->hashCode[slot] != 0) {
        if (w->hashPrefix[slot] == prefix && w->hashChar[slot] == c) {
          found = true;
        } else {
          int step = slot == 0 ? 1 : kHashSlots - slot;
          for (;;) {
            slot -= step;
            if (slot < 0) slot += kHashSlots;
            if (w->hashCode[slot] == 0) break;
            if (w->hashPrefix[slot] == prefix && w->hashChar[slot] == c) {
              found = true;
              break;
            }
          }
        }
      }
      if (found) {
        prefix = w->hashCode[slot];
        continue;
      }
      OutputCode(w, &e, prefix);
      if (e.nextFree < kMaxCodes) {
        w->hashCode[slot] = uint16_t(e.nextFree++);
        w->hashPrefix[slot] = uint16_t(prefix);
        w->hashChar[slot] = uint8_t(c);
      } else {
        std::memset(w->hashCode, 0, sizeof w->hashCode);
        e.nextFree = e.clear + 2;
        e.cleared = true;
        OutputCode(w, &e, e.clear);
      }
      prefix = c;
    }
  }
  OutputCode(w, &e, prefix);
  OutputCode(w, &e, e.clear + 1);
  if (w->bitCount > 0) PutCodeByte(w, uint8_t(w->bits));
  w->bits = 0;
  w->bitCount = 0;
  FlushBlock(w);
}

// Closes the file; on any failure the file is removed. ERR_WRITEFILE or 0.
int CloseWriterFile(qvGifWriter* w) {
  if (w->file == nullptr) return w->failed ? ERR_WRITEFILE : 0;
  bool closed = CloseFileQ(w->file) == 1;
  w->file = nullptr;
  if (closed && !w->failed) return 0;
  w->failed = true;
  char native[kMaxPathLength + 1];
  if (MakeNativePath(w->name, native, sizeof native) != nullptr) DeleteFileOrDir(native);
  SetErrorString(w->name);
  return ERR_WRITEFILE;
}

void FreeWriter(qvGifWriter* w) {
  std::free(w->previous);
  std::free(w->scratch);
  std::free(w);
}

}  // namespace

int SaveGif(const char* name, int32_t width, int32_t height, qvGifWriter** out) {
  *out = nullptr;
  if (std::strlen(name) > kMaxPathLength || width < 1 || height < 1 || width > 0xFFFF ||
      height > 0xFFFF) {
    SetErrorString(name);
    return ERR_WRITEFILE;
  }
  auto* w = static_cast<qvGifWriter*>(image::Allocate(sizeof(qvGifWriter), true));
  if (w == nullptr) return ERR_MEM;
  std::memcpy(w->name, name, std::strlen(name) + 1);
  w->width = width;
  w->height = height;
  w->scratchSize = size_t(width) * size_t(height);
  w->scratch = static_cast<uint8_t*>(image::Allocate(w->scratchSize, false));
  if (w->scratch == nullptr) {
    FreeWriter(w);
    return ERR_MEM;
  }
  w->file = OpenFileQ(name, kFileWrite);
  if (w->file == nullptr) {
    FreeWriter(w);
    SetErrorString(name);
    return ERR_WRITEFILE;
  }
  uint8_t head[13] = {'G',
                      'I',
                      'F',
                      '8',
                      '9',
                      'a',
                      uint8_t(width),
                      uint8_t(width >> 8),
                      uint8_t(height),
                      uint8_t(height >> 8),
                      0xF7,
                      0,
                      0};
  // The global table is a placeholder: every frame brings its own.
  uint8_t table[768] = "Pixels rule!";
  Put(w, head, sizeof head);
  Put(w, table, sizeof table);
  if (w->failed) {
    int result = CloseWriterFile(w);
    FreeWriter(w);
    return result;
  }
  *out = w;
  return 0;
}

int SaveAnimGif(qvGifWriter* w, const qvGifFrame& f) {
  if (w->failed) return ERR_WRITEFILE;
  if (f.pens == nullptr || f.palette == nullptr || f.width < 1 || f.height < 1 ||
      f.width > 0xFFFF || f.height > 0xFFFF || f.colours < 1 || f.colours > 256 ||
      f.transparentPen >= 256 || f.delayMs < 0) {
    return ERR_WRONGUSAGE;
  }
  int bits = 1;
  while ((1 << bits) < f.colours) ++bits;
  size_t count = size_t(f.width) * size_t(f.height);
  // A pen past the local table would be a code of the LZW control range.
  for (size_t i = 0; i < count; ++i)
    if (f.pens[i] >> bits != 0) return ERR_WRONGUSAGE;

  uint32_t palette[256];
  for (int i = 0; i < 256; ++i) palette[i] = i < f.colours ? f.palette[i] & 0xFFFFFF : 0xFFFFFFFF;
  bool hasPen = f.transparentPen >= 0;
  int transparentIndex = hasPen ? f.transparentPen : f.colours - 1;

  if (count > w->scratchSize) {
    auto* scratch = static_cast<uint8_t*>(image::Allocate(count, false));
    if (scratch == nullptr) return ERR_MEM;
    std::free(w->scratch);
    w->scratch = scratch;
    w->scratchSize = count;
  }
  int32_t delay = f.delayMs / 10 < 0xFFFF ? f.delayMs / 10 : 0xFFFF;
  uint8_t control[8] = {0x21,
                        0xF9,
                        0x04,
                        uint8_t(hasPen ? 0x09 : 0x05),
                        uint8_t(delay),
                        uint8_t(delay >> 8),
                        uint8_t(transparentIndex),
                        0};
  Put(w, control, sizeof control);
  if (w->frames == 0) {
    static const uint8_t kLoop[19] = {0x21, 0xFF, 0x0B, 'N', 'E', 'T', 'S', 'C', 'A', 'P',
                                      'E',  '2',  '.',  '0', 3,   1,   0,   0,   0};
    Put(w, kLoop, sizeof kLoop);
  }

  int32_t left = 0;
  int32_t top = 0;
  int32_t boxWidth = f.width;
  int32_t boxHeight = f.height;
  const uint8_t* source = f.pens;
  int32_t stride = f.width;
  if (w->previous != nullptr && f.optimise && !hasPen && w->previousWidth == f.width &&
      w->previousHeight == f.height) {
    // A pixel is unchanged when its previous colour's first entry in the new palette is its pen.
    int32_t cache[256];
    for (int32_t& c : cache) c = -2;
    int32_t x0 = f.width, y0 = -1, x1 = -1, y1 = -1;
    for (int32_t y = 0; y < f.height; ++y) {
      const uint8_t* now = f.pens + int64_t(y) * f.width;
      const uint8_t* before = w->previous + int64_t(y) * f.width;
      for (int32_t x = 0; x < f.width; ++x) {
        int32_t& mapped = cache[before[x]];
        if (mapped == -2) {
          mapped = -1;
          uint32_t colour = w->previousPalette[before[x]];
          for (int i = 0; i < f.colours; ++i)
            if (palette[i] == colour) {
              mapped = i;
              break;
            }
        }
        if (mapped == now[x]) continue;
        if (y0 < 0) y0 = y;
        y1 = y;
        if (x < x0) x0 = x;
        if (x > x1) x1 = x;
      }
    }
    if (y0 < 0) {
      x0 = y0 = 0;
      x1 = f.width >= 2 ? 1 : 0;
      y1 = 0;
    }
    left = x0;
    top = y0;
    boxWidth = x1 - x0 + 1;
    boxHeight = y1 - y0 + 1;
    // The box goes through the scratch area, where pixels that keep their colour become the
    // transparent entry so that the previous picture shows through.
    for (int32_t y = 0; y < boxHeight; ++y) {
      const uint8_t* now = f.pens + int64_t(top + y) * f.width + left;
      const uint8_t* before = w->previous + int64_t(top + y) * f.width + left;
      uint8_t* to = w->scratch + int64_t(y) * boxWidth;
      for (int32_t x = 0; x < boxWidth; ++x) {
        bool same = palette[now[x]] == w->previousPalette[before[x]];
        to[x] = same ? uint8_t(transparentIndex) : now[x];
      }
    }
    source = w->scratch;
    stride = boxWidth;
  }

  uint8_t descriptor[10] = {0x2C,
                            uint8_t(left),
                            uint8_t(left >> 8),
                            uint8_t(top),
                            uint8_t(top >> 8),
                            uint8_t(boxWidth),
                            uint8_t(boxWidth >> 8),
                            uint8_t(boxHeight),
                            uint8_t(boxHeight >> 8),
                            uint8_t(0x80 | (bits - 1))};
  Put(w, descriptor, sizeof descriptor);
  uint8_t table[768];
  for (size_t i = 0; i < (size_t(1) << bits); ++i) {
    table[3 * i] = uint8_t(palette[i] >> 16);
    table[3 * i + 1] = uint8_t(palette[i] >> 8);
    table[3 * i + 2] = uint8_t(palette[i]);
  }
  Put(w, table, size_t(3) << bits);
  int minCodeSize = bits < 2 ? 2 : bits;
  PutByte(w, minCodeSize);
  EncodePixels(w, source, boxWidth, boxHeight, stride, minCodeSize);
  PutByte(w, 0);
  if (w->failed) {
    CloseWriterFile(w);
    return ERR_WRITEFILE;
  }
  ++w->frames;
  if (f.optimise) {
    // The whole frame is kept (not just the box), so that every kept pen belongs to the kept
    // palette.
    if (w->previous == nullptr || w->previousWidth != f.width || w->previousHeight != f.height) {
      std::free(w->previous);
      w->previous = static_cast<uint8_t*>(image::Allocate(count, false));
      if (w->previous == nullptr) return ERR_MEM;
      w->previousWidth = f.width;
      w->previousHeight = f.height;
    }
    std::memcpy(w->previous, f.pens, count);
    std::memcpy(w->previousPalette, palette, sizeof palette);
  }
  return 0;
}

int FinishAnimGif(qvGifWriter* w) {
  if (w == nullptr) return 0;
  if (w->file != nullptr) PutByte(w, 0x3B);
  int result = CloseWriterFile(w);
  FreeWriter(w);
  return result;
}

}  // namespace qv
