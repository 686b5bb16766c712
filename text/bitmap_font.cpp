// The bitmap font engine: ".font" files, the built-in font, drawing and measuring.
#include "text/bitmap_font.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <memory>
#include <new>

#include "base/errors.h"
#include "core/player_state.h"
#include "core/registry.h"
#include "core/vfile.h"

namespace qv {

namespace {

#include "builtin_font.inc"

// A file's bytes: font files are small, and a reader that has every byte at hand checks each
// offset against the size once. Files beyond this are no fonts.
constexpr int64_t kMaxFontFileSize = int64_t{64} << 20;
constexpr size_t kGlyphSpareBytes = 8;

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* out) {
  qvFile* file = OpenFileQ(path.c_str(), kFileRead);
  if (file == nullptr) return false;
  bool ok = true;
  std::vector<uint8_t> bytes;
  uint8_t block[16384];
  for (;;) {
    size_t got = ReadFileQ(file, block, sizeof block);
    if (got == 0) break;
    if (static_cast<int64_t>(bytes.size() + got) > kMaxFontFileSize) {
      ok = false;
      break;
    }
    bytes.insert(bytes.end(), block, block + got);
  }
  CloseFileQ(file);
  if (ok) *out = std::move(bytes);
  return ok;
}

// Big-endian reads at offsets the caller has checked.
uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
int16_t S16(const uint8_t* p) { return static_cast<int16_t>(U16(p)); }
uint32_t U32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// A stretch of the glyph file that a stored pointer (counted from byte 32) names: its start, or
// false when any of its `length` bytes lies beyond the file.
bool Stretch(size_t size, uint32_t pointer, uint64_t length, size_t* start) {
  uint64_t begin = uint64_t{32} + pointer;
  if (begin > size || length > size - begin) return false;
  *start = static_cast<size_t>(begin);
  return true;
}

bool ReadWords16(const uint8_t* data, size_t size, uint32_t pointer, int32_t count,
                 std::vector<int16_t>* out) {
  size_t at = 0;
  if (!Stretch(size, pointer, uint64_t(count) * 2, &at)) return false;
  out->resize(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) (*out)[i] = S16(data + at + size_t(i) * 2);
  return true;
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}
bool EndsWithFont(const std::string& name) {
  if (name.size() < 5) return false;
  std::string tail = name.substr(name.size() - 5);
  for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return tail == ".font";
}

// The colour strip: each pixel's index gathers bit i from plane i.
bool ReadColorGlyphs(const uint8_t* data, size_t size, qvBitmapFont* font) {
  const int32_t depth = data[144];
  const int32_t pick = data[148];
  int32_t planes = 0;
  for (int32_t i = 0; i < 8; ++i) {
    if ((pick >> i & 1) != 0 && i < depth) ++planes;
  }
  // The palette: 0x0RGB words, each 4-bit component repeated; slot 0 is the key.
  uint32_t palette[256] = {};
  size_t record = 0;
  if (!Stretch(size, U32(data + 150), 8, &record)) return false;
  const int32_t count = std::min<int32_t>(U16(data + record + 2), 256);
  size_t table = 0;
  if (!Stretch(size, U32(data + record + 4), uint64_t(count) * 2, &table)) return false;
  for (int32_t i = 0; i < count; ++i) {
    uint32_t rgb = U16(data + table + size_t(i) * 2);
    palette[i] = ((rgb >> 8 & 15) * 0x11) << 16 | ((rgb >> 4 & 15) * 0x11) << 8 | (rgb & 15) * 0x11;
  }
  palette[0] = kColorFontKey;

  const uint64_t planeBytes = uint64_t(font->height) * uint64_t(font->rowBytes);
  // The strip is 32 times a plane's bytes: a plane must be something the file could hold.
  if (planeBytes > size) return false;
  const uint8_t* planeData[8] = {};
  for (int32_t i = 0; i < planes; ++i) {
    uint32_t pointer = U32(data + 154 + size_t(i) * 4);
    if (pointer == 0) continue;
    size_t at = 0;
    if (!Stretch(size, pointer, planeBytes, &at)) return false;
    planeData[i] = data + at;
  }
  const int32_t width = font->rowBytes * 8;
  font->colorPixels.assign(size_t(width) * size_t(font->height), 0);
  for (int32_t y = 0; y < font->height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const size_t byte = size_t(y) * size_t(font->rowBytes) + size_t(x >> 3);
      const int bit = 7 - (x & 7);
      uint32_t index = 0;
      for (int32_t i = 0; i < planes; ++i) {
        if (planeData[i] != nullptr) index |= uint32_t(planeData[i][byte] >> bit & 1) << i;
      }
      font->colorPixels[size_t(y) * size_t(width) + size_t(x)] = palette[index];
    }
  }
  return true;
}

// A plane record by value over a glyph strip; it knows its size, so blits clip to it.
qvPlane StripPlane(const qvBitmapFont& font) {
  qvPlane plane{};
  plane.data = const_cast<uint8_t*>(font.glyphData.data());
  plane.width = font.rowBytes * 8;
  plane.height = font.height;
  plane.bytesPerRow = font.rowBytes;
  plane.foreign = 1;
  return plane;
}

// The part of a glyph at (x, y) of `width` x `height` that lies in the clip box, with the glyph's
// source offsets moved alike; false when less than one pixel is left.
bool ClipGlyphRect(const qvClipBox* clip, int32_t* sx, int32_t* sy, int32_t* x, int32_t* y,
                   int32_t* width, int32_t* height) {
  if (clip != nullptr) {
    int64_t left = std::max<int64_t>(*x, clip->left);
    int64_t top = std::max<int64_t>(*y, clip->top);
    int64_t right = std::min<int64_t>(int64_t{*x} + *width, int64_t{clip->left} + clip->width);
    int64_t bottom = std::min<int64_t>(int64_t{*y} + *height, int64_t{clip->top} + clip->height);
    if (right - left < 1 || bottom - top < 1) return false;
    *sx += static_cast<int32_t>(left - *x);
    *sy += static_cast<int32_t>(top - *y);
    *x = static_cast<int32_t>(left);
    *y = static_cast<int32_t>(top);
    *width = static_cast<int32_t>(right - left);
    *height = static_cast<int32_t>(bottom - top);
  }
  return *width >= 1 && *height >= 1;
}

}  // namespace

bool ReadFontContents(const uint8_t* data, size_t size, int32_t height, std::string* entry) {
  if (size < 4) return false;
  const uint16_t id = U16(data);
  if (id != 0x0F00 && id != 0x0F02) return false;
  const int32_t count = S16(data + 2);
  if (count < 0 || uint64_t(count) * 260 > size - 4) return false;
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t* e = data + 4 + size_t(i) * 260;
    const void* end = std::memchr(e, 0, 256);
    if (end == nullptr) return false;
    if (S16(e + 256) != height) continue;
    std::string name(reinterpret_cast<const char*>(e), static_cast<const uint8_t*>(end) - e);
    if (name == "::incomplete") continue;
    *entry = std::move(name);
    return true;
  }
  return false;
}

bool ReadGlyphFile(const uint8_t* data, size_t size, qvBitmapFont* out) {
  if (size < 142 || U16(data + 50) != 0x0F80) return false;
  qvBitmapFont font;
  font.height = S16(data + 110);
  font.style = data[112];
  font.flags = data[113];
  font.nominalWidth = S16(data + 114);
  font.baseline = S16(data + 116);
  font.boldSmear = S16(data + 118);
  font.accessors = S16(data + 120);
  font.lowest = data[122];
  font.highest = data[123];
  font.rowBytes = U16(data + 128);
  if (font.height < 1 || font.lowest > font.highest) return false;
  const uint64_t planeBytes = uint64_t(font.height) * uint64_t(font.rowBytes);
  if (font.IsColor()) {
    if (size < 186 || !ReadColorGlyphs(data, size, &font)) return false;
  } else {
    size_t at = 0;
    if (!Stretch(size, U32(data + 124), planeBytes, &at)) return false;
    font.glyphData.assign(data + at, data + at + planeBytes);
    font.glyphData.resize(font.glyphData.size() + kGlyphSpareBytes, 0);
  }
  const int32_t count = font.CharCount();
  size_t at = 0;
  if (!Stretch(size, U32(data + 130), uint64_t(count) * 4, &at)) return false;
  font.locations.resize(size_t(count));
  const uint32_t rowBits = uint32_t(font.rowBytes) * 8;
  for (int32_t i = 0; i < count; ++i) {
    uint32_t word = U32(data + at + size_t(i) * 4);
    if ((word >> 16) + (word & 0xFFFF) > rowBits) return false;
    font.locations[size_t(i)] = word;
  }
  if (U32(data + 134) != 0 && !ReadWords16(data, size, U32(data + 134), count, &font.spacing)) {
    return false;
  }
  if (U32(data + 138) != 0 && !ReadWords16(data, size, U32(data + 138), count, &font.kerning)) {
    return false;
  }
  *out = std::move(font);
  return true;
}

bool GlyphFilePath(const std::string& contentsPath, const std::string& entry, uint64_t appletOffset,
                   std::string* path) {
  static constexpr char kChunk[] = ":::chunk";
  if (!StartsWith(entry, kChunk)) {
    size_t slash = contentsPath.find_last_of('/');
    std::string dir = slash == std::string::npos ? "" : contentsPath.substr(0, slash);
    *path = dir.empty() ? entry : dir + "/" + entry;
    return true;
  }
  const char* digits = entry.c_str() + sizeof kChunk - 1;
  const char* end = entry.c_str() + entry.size();
  uint64_t offset = 0;
  auto [rest, error] = std::from_chars(digits, end, offset);
  if (error != std::errc() || offset > UINT64_MAX - appletOffset) return false;
  size_t slash = contentsPath.find('/');
  std::string container = slash == std::string::npos ? "" : contentsPath.substr(slash + 1);
  *path = kChunk + std::to_string(offset + appletOffset) + std::string(rest, end) + container;
  return true;
}

bool LoadBitmapFont(const char* path, int32_t size, qvFont* font, const char* name,
                    bool preloading) {
  std::string contentsPath = path;
  if (!StartsWith(contentsPath, ":::chunk") && !EndsWithFont(contentsPath)) {
    contentsPath += ".font";
  }
  std::vector<uint8_t> bytes;
  std::string entry, glyphPath;
  if (!ReadWholeFile(contentsPath, &bytes) ||
      !ReadFontContents(bytes.data(), bytes.size(), size, &entry)) {
    return false;
  }
  const qvPlayerState* state = GetProcessPlayerState();
  const uint64_t appletOffset = state != nullptr ? state->appletOffset : 0;
  if (!GlyphFilePath(contentsPath, entry, appletOffset, &glyphPath) ||
      !ReadWholeFile(glyphPath, &bytes)) {
    return false;
  }
  auto record = std::make_unique<qvBitmapFont>();
  if (!ReadGlyphFile(bytes.data(), bytes.size(), record.get())) return false;
  font->kind = record->IsColor() ? kFontKindColorBitmap : kFontKindBitmap;
  font->loadedName = name != nullptr ? name : GetDisplayName(path);
  font->size = size;
  font->height = record->height;
  font->baseline = record->baseline;
  font->antialias = 0;
  if (record->IsColor()) {
    font->pendingWidth = record->rowBytes * 8;
    font->pendingHeight = record->height;
    font->pendingPixels = std::move(record->colorPixels);
  }
  font->bitmap = record.release();
  if (font->kind == kFontKindColorBitmap && !preloading && BuildColorGlyphs(font) != 0) {
    FreeBitmapFont(font);
    return false;
  }
  return true;
}

int32_t BuildColorGlyphs(qvFont* font) {
  if (font->pendingPixels.empty()) return 0;
  qvBitMap* bitmap = nullptr;
  qvPlane* mask = nullptr;
  int code = AllocBitMapFromARGB(font->pendingPixels.data(), kColorFontKey, font->pendingWidth,
                                 font->pendingHeight, font->pendingWidth, &bitmap, &mask);
  if (code != 0) return code;
  font->colorGlyphs = bitmap;
  font->colorMask = mask;
  font->pendingPixels = {};
  font->pendingWidth = font->pendingHeight = 0;
  return 0;
}

qvFont* OpenDefaultBitmapFont() {
  auto font = std::make_unique<qvFont>();
  auto record = std::make_unique<qvBitmapFont>();
  record->height = 8;
  record->nominalWidth = 8;
  record->baseline = 6;
  record->boldSmear = 1;
  record->lowest = 32;
  record->highest = 255;
  record->rowBytes = kBuiltinRowBytes;
  record->glyphData.assign(std::begin(kBuiltinGlyphs), std::end(kBuiltinGlyphs));
  record->glyphData.resize(record->glyphData.size() + kGlyphSpareBytes, 0);
  record->locations.assign(std::begin(kBuiltinLocations), std::end(kBuiltinLocations));
  font->loadedName = "topaz";
  font->resolvedName = "topaz";
  font->size = 8;
  font->height = font->unscaledHeight = 8;
  font->baseline = font->unscaledBaseline = 6;
  font->kind = kFontKindBitmap;
  font->bitmap = record.release();
  return font.release();
}

void FreeBitmapFont(qvFont* font) {
  delete font->bitmap;
  font->bitmap = nullptr;
  FreeBitMap(font->colorGlyphs);
  FreeMaskOrAlpha(font->colorMask);
  font->colorGlyphs = nullptr;
  font->colorMask = nullptr;
  font->pendingPixels = {};
}

void RenderBitmapFontText(const qvFont* font, const qvTextTarget& target, int32_t x, int32_t y,
                          const uint32_t* codes, size_t count, const qvClipBox* clip,
                          int64_t colour) {
  const qvBitmapFont& f = *font->bitmap;
  const bool colorFont = font->kind == kFontKindColorBitmap;
  qvPlane strip = StripPlane(f);
  // Positions add up in 64 bits: a long text in a wide font walks far past any bitmap.
  int64_t pen = x;
  for (size_t i = 0; i < count; ++i) {
    const int32_t index = f.IndexOf(codes[i]);
    if (!f.kerning.empty()) pen += f.kerning[size_t(index)];
    const uint32_t location = f.locations[size_t(index)];
    int32_t sx = static_cast<int32_t>(location >> 16), sy = 0;
    int32_t width = static_cast<int32_t>(location & 0xFFFF), height = f.height;
    int32_t gx = static_cast<int32_t>(std::clamp<int64_t>(pen, INT32_MIN / 2, INT32_MAX / 2));
    int32_t gy = y;
    if (ClipGlyphRect(clip, &sx, &sy, &gx, &gy, &width, &height)) {
      if (colorFont) {
        if (font->colorGlyphs != nullptr && target.bitmap != nullptr) {
          BltMaskBitMap(font->colorGlyphs, sx, sy, target.bitmap, gx, gy, width, height,
                        font->colorMask);
        }
        if (colour == kShapeMode && target.plane != nullptr && font->colorMask != nullptr) {
          BltPlane(font->colorMask, sx, sy, target.plane, gx, gy, width, height, 0);
        }
      } else if (colour == kShapeMode) {
        if (target.plane != nullptr)
          BltPlane(&strip, sx, sy, target.plane, gx, gy, width, height, 0);
      } else if (target.bitmap != nullptr) {
        BltTemplate(&strip, sx, sy, target.bitmap, gx, gy, width, height,
                    static_cast<uint32_t>(colour) & 0xFFFFFF);
      }
    }
    pen += f.spacing.empty() ? f.nominalWidth : f.spacing[size_t(index)];
  }
}

void MeasureBitmapFontText(const qvFont* font, const uint32_t* codes, size_t count,
                           qvTextExtent* extent) {
  const qvBitmapFont& f = *font->bitmap;
  *extent = {};
  extent->height = f.height;
  extent->top = -f.baseline;
  extent->bottom = f.height - f.baseline - 1;
  int64_t advance = 0, left = 0, right = 0;
  if (!f.Proportional()) {
    advance = int64_t{f.nominalWidth} * int64_t(count);
    right = advance - 1;
  } else {
    int64_t x = 0;
    for (size_t i = 0; i < count; ++i) {
      const int32_t index = f.IndexOf(codes[i]);
      if (!f.kerning.empty()) x += f.kerning[size_t(index)];
      left = std::min(left, x);
      right = std::max(right, x);
      const int64_t glyphEnd = x + (f.locations[size_t(index)] & 0xFFFF);
      left = std::min(left, glyphEnd);
      right = std::max(right, glyphEnd);
      x += f.spacing.empty() ? f.nominalWidth : f.spacing[size_t(index)];
      left = std::min(left, x);
      right = std::max(right, x);
    }
    advance = x;
    right -= 1;
  }
  auto clamp32 = [](int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
  };
  extent->advance = clamp32(advance);
  extent->left = clamp32(left);
  extent->right = clamp32(right);
}

}  // namespace qv
