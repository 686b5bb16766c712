// The font front end: each operation goes to the engine of the font's kind. Bitmap fonts are the
// only engine yet; outline and system fonts never open, so their kinds draw and measure nothing.
#include <cmath>

#include "base/errors.h"
#include "text/bitmap_font.h"
#include "text/fonts.h"

namespace qv {

namespace {

// The characters of a text: its code points when it is to be read as well-formed UTF-8, else
// one character per byte.
std::vector<uint32_t> Characters(const char* text, size_t length, int32_t encoding) {
  std::vector<uint32_t> codes;
  if (DecodeUtf8(text, length, encoding, &codes) != 0) {
    codes.resize(length);
    for (size_t i = 0; i < length; ++i) codes[i] = static_cast<unsigned char>(text[i]);
  }
  return codes;
}

bool IsBitmapKind(const qvFont* font) {
  return (font->kind == kFontKindBitmap || font->kind == kFontKindColorBitmap) &&
         font->bitmap != nullptr;
}

}  // namespace

int32_t DecodeUtf8(const char* text, size_t length, int32_t encoding, std::vector<uint32_t>* out) {
  if (encoding != kEncodingUtf8) return ERR_USERABORT;
  std::vector<uint32_t> codes;
  codes.reserve(length);
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  for (size_t i = 0; i < length;) {
    const unsigned lead = bytes[i];
    if (lead < 0x80) {
      codes.push_back(lead);
      ++i;
      continue;
    }
    int ones = 0;
    while (ones < 8 && (lead & (0x80u >> ones)) != 0) ++ones;
    if (ones < 2 || ones > 5 || length - i < static_cast<size_t>(ones)) return ERR_USERABORT;
    uint32_t code = lead & (0x7Fu >> ones);
    for (int k = 1; k < ones; ++k) {
      const unsigned next = bytes[i + static_cast<size_t>(k)];
      if ((next & 0x80) == 0) return ERR_USERABORT;
      code = code << 6 | (next & 0x3F);
    }
    codes.push_back(code);
    i += static_cast<size_t>(ones);
  }
  *out = std::move(codes);
  return 0;
}

void RenderTextRun(const qvFont* font, const qvTextTarget& target, int32_t x, int32_t y,
                   const char* text, size_t length, int32_t, int32_t encoding,
                   const qvClipBox* clip, int64_t colour) {
  if (font == nullptr) font = GetDefaultFont();
  if (font == nullptr || !IsBitmapKind(font)) return;
  std::vector<uint32_t> codes = Characters(text, length, encoding);
  RenderBitmapFontText(font, target, x, y, codes.data(), codes.size(), clip, colour);
}

void MeasureTextRun(const qvFont* font, const char* text, size_t length, int32_t, int32_t encoding,
                    qvTextExtent* extent) {
  *extent = {};
  if (font == nullptr) font = GetDefaultFont();
  if (font == nullptr || !IsBitmapKind(font)) return;
  std::vector<uint32_t> codes = Characters(text, length, encoding);
  MeasureBitmapFontText(font, codes.data(), codes.size(), extent);
}

int32_t GetKerningCore(const qvFont*, const char*, size_t, int32_t, int32_t) {
  // Bitmap fonts keep their kerning per character, not per pair.
  return 0;
}

void FlushGlyphCache(qvFont*) {
  // Only outline fonts cache glyphs.
}

bool FontEngineDoesStyle(const qvFont* font, int32_t style) {
  // A system font draws every style but underlining itself; bitmap fonts draw none.
  return font != nullptr && font->kind == kFontKindSystem && style != kStyleUnderlined;
}

void SetFontScale(qvFont* font, double xScale, double yScale) {
  if (font == nullptr || font->scalable == 0) return;
  if (xScale == font->xScale && yScale == font->yScale) return;
  font->xScale = xScale;
  font->yScale = yScale;
  auto scaled = [&](int32_t unscaled) {
    double v = std::ceil(yScale * unscaled);
    return std::isfinite(v) && std::fabs(v) < 2147483647.0 ? static_cast<int32_t>(v) : 0;
  };
  font->height = scaled(font->unscaledHeight);
  font->baseline = scaled(font->unscaledBaseline);
}

}  // namespace qv
