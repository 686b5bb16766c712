// Fonts: the font record every text operation draws and measures through, the front end that
// passes each operation to the font's engine (bitmap fonts today; outline and system fonts come
// later), the cache of opened fonts, the font objects of the script, the font paths and the
// current text settings. Nothing here needs a display: glyphs are drawn into bitmaps and planes.
// Script thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/attribute_table.h"
#include "core/registry.h"
#include "image/image.h"

namespace qv {

// Text styles (flags) and shadow directions, as the text library's constants name them.
enum : int32_t {
  kStyleNormal = 1,
  kStyleBold = 2,
  kStyleItalic = 4,
  kStyleUnderlined = 8,
  kStyleAntialias = 16,
  kStyleShadow = 32,
  kStyleEdge = 64,
};
enum : int32_t {
  kTextShadowNorth = 0,
  kTextShadowSouthEast = 3,
  kTextShadowNorthWest = 7,
};
// Text encodings.
enum : int32_t { kEncodingIso8859_1 = 0, kEncodingUtf8 = 1 };
// Engines a font is asked of (the option "engine") and the kinds an opened font has.
enum : int32_t { kFontEngineNative = 0, kFontEngineInbuilt = 4 };
enum : int32_t {
  kFontKindBitmap = 1,       // plain bitmap font: one bit per pixel, drawn in the text colour
  kFontKindColorBitmap = 2,  // colour bitmap font: drawn in its own colours
  kFontKindSystem = 3,
  kFontKindOutline = 4,
};
// The key colour of a colour bitmap font's transparent pixels.
constexpr uint32_t kColorFontKey = 0xEEE6D2;

struct qvBitmapFont;

// One opened font. The cache owns every font but the built-in one (see ReleaseFont).
struct qvFont {
  std::string loadedName;    // the name the engine gives the font
  std::string resolvedName;  // the name ResolveFontName opened it under
  int32_t size = 0;          // as requested, in pixels
  int32_t height = 0;        // line height at the current scale
  int32_t baseline = 0;      // top of a line to the baseline, at the current scale
  int32_t unscaledHeight = 0;
  int32_t unscaledBaseline = 0;
  int32_t kind = 0;       // kFontKind...
  int32_t scalable = 0;   // 1 when SetFontScale may change the font
  int32_t antialias = 0;  // 1 when the engine can draw anti-aliased text
  double xScale = 1.0;
  double yScale = 1.0;
  qvBitmapFont* bitmap = nullptr;  // the engine record of kinds 1 and 2
  // Colour bitmap fonts: the glyph strip and its mask, or, while objects are preloaded before
  // the first display, the strip's pixels (0x00RRGGBB, the key where transparent).
  qvBitMap* colorGlyphs = nullptr;
  qvPlane* colorMask = nullptr;
  std::vector<uint32_t> pendingPixels;
  int32_t pendingWidth = 0;
  int32_t pendingHeight = 0;
  void* vectorFont = nullptr;  // the vector-path library's handle; null until outline fonts
};

// What measuring a run of text gives: advance, height, the left ink edge, the top edge (minus
// the baseline), the right ink edge (inclusive) and the bottom edge (height - baseline - 1).
struct qvTextExtent {
  int32_t advance = 0;
  int32_t height = 0;
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
};

// A clip box for drawing: glyph pixels outside it are not drawn.
struct qvClipBox {
  int32_t left;
  int32_t top;
  int32_t width;
  int32_t height;
};

// Where a run is drawn. With a colour, plain glyphs go into `bitmap` in that colour and colour
// glyphs through their mask. In shape mode (colour -1) plain glyph bits are OR-ed into the 1-bit
// `plane`; colour glyphs go into `bitmap` and their mask is OR-ed into `plane`.
struct qvTextTarget {
  qvBitMap* bitmap = nullptr;
  qvPlane* plane = nullptr;
};
constexpr int64_t kShapeMode = -1;

// The current text settings: read by every text command, copied into every text object.
struct qvTextSettings {
  int32_t style = kStyleNormal;
  uint32_t colour = 0xFFFFFF;  // 0xTTRRGGBB, TT a transparency (0 opaque)
  uint32_t shadowColour = 0;
  uint32_t edgeColour = 0x0093DD;
  int32_t shadowSize = 4;  // 1..64
  int32_t shadowDirection = kTextShadowSouthEast;
  int32_t edgeSize = 2;  // 1..64
  qvFont* font = nullptr;
};

// ---- the front end: each operation by the font's kind; a null font is the built-in font ----

// Draws `length` bytes of text with the line's top at y. Draws nothing for a kind without an
// engine. The clip box may be null (the target's own bounds clip).
void RenderTextRun(const qvFont* font, const qvTextTarget& target, int32_t x, int32_t y,
                   const char* text, size_t length, int32_t style, int32_t encoding,
                   const qvClipBox* clip, int64_t colour);
// Fills `extent`; a kind without an engine leaves it zero.
void MeasureTextRun(const qvFont* font, const char* text, size_t length, int32_t style,
                    int32_t encoding, qvTextExtent* extent);
// The kerning in pixels between the two characters of `text` (0 for bitmap fonts).
int32_t GetKerningCore(const qvFont* font, const char* text, size_t length, int32_t style,
                       int32_t encoding);
void FlushGlyphCache(qvFont* font);
// True when the engine draws that style itself (never for bitmap fonts).
bool FontEngineDoesStyle(const qvFont* font, int32_t style);
// Sets the scales of a scalable font (others stay as they are); height and baseline follow.
void SetFontScale(qvFont* font, double xScale, double yScale);

// Code points of a text in the encoding: 0 with `out` filled, or ERR_USERABORT when the text is
// not to be decoded (ISO-8859-1) or is not well-formed UTF-8; the caller then takes each byte as
// one character.
int32_t DecodeUtf8(const char* text, size_t length, int32_t encoding, std::vector<uint32_t>* out);

// ---- fonts by name ----

// Engines started and the built-in font made; 0 or ERR_MEM. Later calls only hand it out.
int32_t InitFontEngines(qvFont** defaultFont);
void CloseFontEngines();
// The built-in 8-pixel font, or null before InitFontEngines.
qvFont* GetDefaultFont();
// Opens a font through its engine (see ResolveFontName for the names): 0 with *out, ERR_OPENFONT
// (its message names the font and size), ERR_READFILE for a linked font that does not open,
// ERR_MEM.
int32_t OpenFontCore(const char* name, int32_t size, int32_t engine, int32_t cacheFlag, bool linked,
                     qvFont** out);
// The cached font of that name, size, engine and cache flag (its scale reset), or a new one opened
// and cached. ":::default_bitmap" is "topaz"; the other ":::default_" names the outline faces. A
// name other than a ":::chunk" name must be a bare file name unless the outline engine is asked
// (else ERR_FONTPATH); a trailing ".font" is cut. An outline font that fails is retried with
// engine 0. 0 with *out, or the error.
int32_t ResolveFontName(const char* name, int32_t size, int32_t engine, int32_t cacheFlag,
                        bool linked, qvFont** out);
// Closes a font unless it is the built-in one.
void ReleaseFont(qvFont* font);
// Every cached font, in the order opened.
std::vector<qvFont*> CachedFonts();

// ---- font paths ----

// Appends a directory (already listed, without regard to case: accepted as it is); 0, or
// ERR_LOCK2 with the name when it cannot be opened.
int32_t AddFontPath(const char* directory);
const std::vector<std::string>& FontPaths();
// The path of the ".font" contents file of `name` in the font paths (or the current directory
// when none is set), then in "Fonts/"; false when none opens.
bool FindBitmapFontFile(const char* name, std::string* path);

// ---- font objects (type FONT) ----

struct qvFontObject {
  qvObjectHeader header;
  qvFont* font;  // the cache's
};
// The head of the font objects' list, which the library registers with the object registry.
qvObjectHeader** FontObjectListHead();
// The font object of that id: 0, or ERR_FINDFONT2 with the number (ERR_FINDARRAY for a handle).
int32_t FindFont(qvObjectId id, qvFontObject** out);
// Adds a font object for the font; 0 or ERR_MEM.
int32_t AddFontObject(int32_t number, bool automatic, qvFont* font, qvFontObject** out);
// Unlinks and frees the object and its data items; the font stays cached. Errors as FindFont.
int32_t FreeFontObject(qvScriptState* L, qvObjectId id);
// Builds the glyph bitmap of every colour font loaded before the first display; 0 or the first
// error.
int32_t FinishColorFonts();

// ---- GetAttribute ----

// The ATTRFONT... attributes of a font (null: the built-in one): ascender = baseline, descender
// = height - baseline, the name, size, scalable and anti-alias flags. ERR_UNKNOWNATTR for any
// other attribute.
int32_t AnswerFontAttribute(const qvFont* font, int32_t attribute, qvAttrAnswer* out);
// The row of FONT objects; 0 or the registry's error.
int32_t RegisterFontAttributes();

// ---- the text settings and the library's state ----

qvTextSettings* GetTextSettings();
qvFont* GetCurrentFont();
int32_t GetDefaultEncoding();
void SetDefaultEncodingValue(int32_t encoding);
// The library's state at open: settings at their defaults with the built-in font, the font
// object list registered. 0 or an error.
int32_t InitTextState();
// Teardown: font objects, cached fonts, font paths and the engines. L may be null.
void FreeTextState(qvScriptState* L);

}  // namespace qv
