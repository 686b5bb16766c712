// The bitmap font engine inside text/: the ".font" contents and glyph files, the built-in 8-pixel
// font, and drawing and measuring with them. The readers take the file's bytes and trust none of
// them: every offset, count and length is checked against the bytes there are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "text/fonts.h"

namespace qv {

// The engine record of a bitmap font (kinds 1 and 2).
struct qvBitmapFont {
  int32_t height = 0;  // glyph rows
  int32_t style = 0;   // 0x40: a colour font
  int32_t flags = 0;   // 0x20: proportional
  int32_t nominalWidth = 0;
  int32_t baseline = 0;
  int32_t boldSmear = 0;
  int32_t accessors = 0;
  int32_t lowest = 0;
  int32_t highest = 0;
  int32_t rowBytes = 0;
  // Plain fonts: height rows of rowBytes bytes, all glyphs side by side, most significant bit
  // first, with a few spare bytes after the last row for the blit kernels' reads.
  std::vector<uint8_t> glyphData;
  // One word per character lowest..highest and one for the substitute glyph: bit offset in the
  // row (high 16 bits) and width (low 16 bits); each lies within the row.
  std::vector<uint32_t> locations;
  std::vector<int16_t> spacing;  // empty: none
  std::vector<int16_t> kerning;  // empty: none
  // Colour fonts: the glyph strip ((rowBytes * 8) x height, 0x00RRGGBB, the key where clear).
  std::vector<uint32_t> colorPixels;

  int32_t CharCount() const { return highest - lowest + 2; }
  bool IsColor() const { return (style & 0x40) != 0; }
  bool Proportional() const { return (flags & 0x20) != 0 || !spacing.empty() || !kerning.empty(); }
  // The location index of a character: its own, or the substitute's outside lowest..highest.
  int32_t IndexOf(uint32_t code) const {
    return code >= static_cast<uint32_t>(lowest) && code <= static_cast<uint32_t>(highest)
               ? static_cast<int32_t>(code) - lowest
               : CharCount() - 1;
  }
};

// The glyph file of a contents entry: the first entry of that height not named "::incomplete".
// `entry` gets its name as stored. False for a file that is not a contents file, a count beyond
// the bytes, a name without its terminator, or no such entry.
bool ReadFontContents(const uint8_t* data, size_t size, int32_t height, std::string* entry);
// A glyph file read into `font` (plain or colour). False for a wrong identifier, any pointer,
// count or length beyond the bytes, lowest above highest, or a location beyond the row.
bool ReadGlyphFile(const uint8_t* data, size_t size, qvBitmapFont* font);

// The path of the glyph file an entry names, beside the contents file `contentsPath`; a ":::chunk"
// entry is counted from the applet's start and gets the contents file's container. False when a
// ":::chunk" entry has no offset or it overflows.
bool GlyphFilePath(const std::string& contentsPath, const std::string& entry, uint64_t appletOffset,
                   std::string* path);

// Loads the font of that size from a contents file into `font` (kind 1 or 2; a colour font's
// strip stays pending while `preloading`). `name` becomes its name; null: the path's display
// name. False on any failure, with `font` as it was.
bool LoadBitmapFont(const char* path, int32_t size, qvFont* font, const char* name,
                    bool preloading);
// The built-in font "topaz" 8; null when memory fails.
qvFont* OpenDefaultBitmapFont();
void FreeBitmapFont(qvFont* font);
// The colour glyph bitmap and mask of a colour font from its strip; 0 or ERR_MEM.
int32_t BuildColorGlyphs(qvFont* font);

void RenderBitmapFontText(const qvFont* font, const qvTextTarget& target, int32_t x, int32_t y,
                          const uint32_t* codes, size_t count, const qvClipBox* clip,
                          int64_t colour);
void MeasureBitmapFontText(const qvFont* font, const uint32_t* codes, size_t count,
                           qvTextExtent* extent);

}  // namespace qv
