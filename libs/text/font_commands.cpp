// The text library's font commands: opening and choosing fonts, the style and colours of the
// text settings, font paths and the default encoding. The fonts themselves are text/'s.
#include <algorithm>
#include <string>

#include "base/errors.h"
#include "base/support.h"
#include "core/args.h"
#include "core/error_table.h"
#include "core/errors.h"
#include "core/registry.h"
#include "libs/text/commands.h"
#include "text/fonts.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {

namespace {

// The font that arguments first, first + 1 and (only as the last argument) an option table at
// first + 2 name: resolved through the cache, a linked font found by its plain name.
int32_t ParseFontArgs(qvScriptState* L, int first, qvFont** out) {
  bool linked = false;
  std::string name = ResolveLinkedFileArg(L, first, kLinkedFileFont, &linked);
  int32_t size = DoubleToInt32(VmCheckNumber(L, first + 1));
  int32_t engine = kFontEngineNative;
  int32_t cache = 1;
  if (VmGetTop(L) == first + 2) {
    VmCheckTable(L, first + 2);
    GetFieldInt(L, first + 2, "engine", &engine, nullptr);
    GetFieldInt(L, first + 2, "cache", &cache, nullptr);
  }
  PrintStatusMessage(GetErrorText(kTextOpeningFont), name.c_str(), true);
  int32_t code = ResolveFontName(name.c_str(), size, engine, cache, linked, out);
  if (code != 0) {
    PrintFailedMessage();
  } else {
    PrintDoneMessage();
  }
  return code;
}

// An encoding argument: ISO-8859-1 or UTF-8; anything else (negative numbers too, read as
// unsigned) is ERR_WRONGUSAGE.
int32_t CheckEncoding(int32_t encoding) {
  return static_cast<uint32_t>(encoding) > kEncodingUtf8 ? ERR_WRONGUSAGE : 0;
}

}  // namespace

namespace cmd {

// SetFont(name, size [, options])
int32_t SetFont(qvScriptState* L) {
  CheckArgCount(L, 2, 3);
  qvFont* font = nullptr;
  int32_t code = ParseFontArgs(L, 1, &font);
  if (code != 0) return code;
  GetTextSettings()->font = font;
  GetTextSettings()->style = kStyleNormal;
  return 0;
}

// SetFontColor(colour)
int32_t SetFontColor(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  GetTextSettings()->colour = static_cast<uint32_t>(DoubleToInt32(VmCheckNumber(L, 1)));
  return 0;
}

// SetFontStyle(style [, colour [, size [, direction]]]): NORMAL resets; SHADOW takes its colour,
// size and direction, EDGE its colour and size; other styles take nothing more.
int32_t SetFontStyle(qvScriptState* L) {
  CheckArgCount(L, 1, 4);
  qvTextSettings* s = GetTextSettings();
  const int32_t style = VmCheckInt(L, 1);
  const int top = VmGetTop(L);
  if ((style & kStyleNormal) != 0) {
    s->style = kStyleNormal;
    return 0;
  }
  if (style == kStyleShadow) {
    if (top >= 2) s->shadowColour = static_cast<uint32_t>(DoubleToInt32(VmCheckNumber(L, 2)));
    if (top >= 3) s->shadowSize = VmCheckInt(L, 3);
    if (top >= 4) s->shadowDirection = VmCheckInt(L, 4);
  } else if (style == kStyleEdge) {
    if (top > 3) return ERR_TOOMANYARGS;
    if (top >= 2) s->edgeColour = static_cast<uint32_t>(DoubleToInt32(VmCheckNumber(L, 2)));
    if (top >= 3) s->edgeSize = VmCheckInt(L, 3);
  } else if (top > 1) {
    return ERR_TOOMANYARGS;
  }
  s->style |= style;
  s->shadowSize = std::clamp(s->shadowSize, 1, 64);
  s->edgeSize = std::clamp(s->edgeSize, 1, 64);
  if (s->shadowDirection < kTextShadowNorth || s->shadowDirection > kTextShadowNorthWest) {
    s->shadowDirection = kTextShadowSouthEast;
  }
  return 0;
}

// OpenFont(id, name, size [, options]): Nil as id returns the new font object's handle.
int32_t OpenFont(qvScriptState* L) {
  CheckArgCount(L, 3, 4);
  qvOptionalId id = OptObjectId(L, 1);
  if (!id.automatic) FreeFontObject(L, {id.number, nullptr});
  qvFont* font = nullptr;
  int32_t code = ParseFontArgs(L, 2, &font);
  if (code != 0) return code;
  qvFontObject* object = nullptr;
  code = AddFontObject(id.number, id.automatic != 0, font, &object);
  if (code != 0) return code;
  return PushNewObjectId(L, id, object);
}

// CloseFont(id)
int32_t CloseFont(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  return FreeFontObject(L, CheckObjectId(L, 1));
}

// UseFont(id)
int32_t UseFont(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvFontObject* object = nullptr;
  int32_t code = FindFont(CheckObjectId(L, 1), &object);
  if (code != 0) return code;
  GetTextSettings()->font = object->font;
  GetTextSettings()->style = kStyleNormal;
  return 0;
}

// FreeGlyphCache(which [, id]): 0 every cached font, else the font of that font object.
int32_t FreeGlyphCache(qvScriptState* L) {
  CheckArgCount(L, 1, 2);
  const int32_t which = VmCheckInt(L, 1);
  qvFont* only = nullptr;
  if (which != 0) {
    qvFontObject* object = nullptr;
    int32_t code = FindFont(CheckObjectId(L, 2), &object);
    if (code != 0) return code;
    only = object->font;
  }
  for (qvFont* font : CachedFonts()) {
    if (only == nullptr || font == only) FlushGlyphCache(font);
  }
  return 0;
}

// SetDefaultEncoding(encoding)
int32_t SetDefaultEncoding(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  const int32_t encoding = VmCheckInt(L, 1);
  int32_t code = CheckEncoding(encoding);
  if (code != 0) return code;
  SetDefaultEncodingValue(encoding);
  return 0;
}

// AddFontPath(directory)
int32_t AddFontPath(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  return qv::AddFontPath(CheckName(L, 1));
}

// GetKerningPair(first, second [, encoding])
int32_t GetKerningPair(qvScriptState* L) {
  CheckArgCount(L, 2, 3);
  size_t firstLength = 0, secondLength = 0;
  const char* first = VmCheckString(L, 1, &firstLength);
  const char* second = VmCheckString(L, 2, &secondLength);
  const int32_t encoding = VmOptInt(L, 3, GetDefaultEncoding());
  int32_t code = CheckEncoding(encoding);
  if (code != 0) return code;
  int32_t kerning = 0;
  if (firstLength > 0 && secondLength > 0) {
    std::string pair(first, firstLength);
    pair.append(second, secondLength);
    const qvTextSettings* s = GetTextSettings();
    kerning = GetKerningCore(s->font, pair.data(), pair.size(), s->style, encoding);
  }
  VmPushNumber(L, kerning);
  return 1;
}

}  // namespace cmd

}  // namespace qv
