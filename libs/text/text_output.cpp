// The text library's output commands: printing at the cursor, text at a position, measuring, and
// the print settings (margins, cursor, tab stops). The layout is text/'s, the output display/'s.
#include "display/text_output.h"

#include <string>
#include <vector>

#include "base/errors.h"
#include "base/support.h"
#include "core/args.h"
#include "core/value_text.h"
#include "libs/text/commands.h"
#include "text/fonts.h"
#include "text/layout.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {

namespace {

// Format tags name script constants with "#".
qvConstantLookup ConstantsOf(qvScriptState* L) {
  return [L](const char* text, double* value, int* consumed) {
    return LookupConstant(L, text, value, consumed);
  };
}

int32_t EncodingArg(qvScriptState* L, int index, int32_t* encoding) {
  *encoding = VmOptInt(L, index, GetDefaultEncoding());
  return static_cast<uint32_t>(*encoding) > kEncodingUtf8 ? ERR_WRONGUSAGE : 0;
}

// The arguments through "tostring", joined with one blank.
int32_t ArgumentsText(qvScriptState* L, std::string* text) {
  int32_t code = MakeDebugLine(L, VmGetTop(L), text);
  if (code != 0) return code;
  if (!text->empty() && text->back() == '\n') text->pop_back();
  return 0;
}

}  // namespace

namespace cmd {

// Print(...)
int32_t Print(qvScriptState* L) {
  std::string text;
  int32_t code = ArgumentsText(L, &text);
  if (code != 0) return code;
  return PrintText(L, text, false, ConstantsOf(L));
}

// NPrint(...)
int32_t NPrint(qvScriptState* L) {
  std::string text;
  int32_t code = ArgumentsText(L, &text);
  if (code != 0) return code;
  text += '\n';
  return PrintText(L, text, false, ConstantsOf(L));
}

// TextOut(x, y, text [, options]) or TextOut(x, y, text [, align [, wrap width]])
int32_t TextOut(qvScriptState* L) {
  CheckArgCount(L, 3, 5);
  qvTextOutRequest r;
  r.x = DoubleToInt32(VmCheckNumber(L, 1));
  r.y = DoubleToInt32(VmCheckNumber(L, 2));
  size_t length = 0;
  const char* text = VmCheckString(L, 3, &length);
  r.text.assign(text, length);
  r.encoding = GetDefaultEncoding();
  if (VmGetTop(L) == 4 && VmType(L, 4) == kTypeTable) {
    GetFieldInt(L, 4, "align", &r.align, nullptr);
    GetFieldInt(L, 4, "wordwrap", &r.wrapWidth, nullptr);
    GetFieldInt(L, 4, "encoding", &r.encoding, nullptr);
    int found = 0;
    GetFieldUInt(L, 4, "color", &r.colour, &found);
    r.colourGiven = found != 0;
    VmPushString(L, "wordwraptable");
    VmGetTable(L, 4);
    if (VmType(L, -1) == kTypeTable) {
      r.breaksGiven = true;
      for (int i = 0;; ++i) {
        VmRawGetI(L, -1, i);
        if (VmType(L, -1) == kTypeNil) {
          VmSetTop(L, -2);
          break;
        }
        if (r.breaks.size() >= kMaxBreaks) {
          VmSetTop(L, -3);
          return ERR_INTERNAL;
        }
        r.breaks.push_back(DoubleToInt32(VmCheckNumber(L, -1)));
        VmSetTop(L, -2);
      }
    }
    VmSetTop(L, -2);
  } else {
    r.align = VmOptInt(L, 4, kCoordLeft);
    r.wrapWidth = VmOptInt(L, 5, 0);
  }
  if (r.align != kCoordLeft && r.align != kCoordCenter && r.align != kCoordRight)
    return ERR_WRONGUSAGE;
  return TextOutput(L, r, ConstantsOf(L));
}

// TextWidth(text [, encoding])
int32_t TextWidth(qvScriptState* L) {
  CheckArgCount(L, 1, 2);
  size_t length = 0;
  const char* text = VmCheckString(L, 1, &length);
  int32_t encoding = 0;
  if (int32_t code = EncodingArg(L, 2, &encoding)) return code;
  const qvTextSettings* s = GetTextSettings();
  qvTextExtent e;
  if (length > 0) MeasureTextRun(s->font, text, length, s->style, encoding, &e);
  VmPushNumber(L, e.advance);
  return 1;
}

// TextHeight(text)
int32_t TextHeight(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  VmCheckString(L, 1);
  const qvFont* font = GetCurrentFont();
  if (font == nullptr) font = GetDefaultFont();
  VmPushNumber(L, font ? font->height : 0);
  return 1;
}

// TextExtent(text [, encoding])
int32_t TextExtent(qvScriptState* L) {
  CheckArgCount(L, 1, 2);
  size_t length = 0;
  const char* text = VmCheckString(L, 1, &length);
  int32_t encoding = 0;
  if (int32_t code = EncodingArg(L, 2, &encoding)) return code;
  qvStyledExtent e;
  MeasureStyledText(text, length, encoding, *GetTextSettings(), &e);
  VmNewTable(L);
  SetFieldInt(L, "minx", e.font.left + e.leftExtra);
  SetFieldInt(L, "maxx", e.font.right + e.rightExtra);
  SetFieldInt(L, "miny", e.font.top + e.topExtra);
  SetFieldInt(L, "maxy", e.font.bottom + e.bottomExtra);
  SetFieldInt(L, "width", e.font.advance);
  SetFieldInt(L, "height", e.font.height);
  return 1;
}

// SetMargins(left, right)
int32_t SetMargins(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  return SetTextMargins(DoubleToInt32(VmCheckNumber(L, 1)), DoubleToInt32(VmCheckNumber(L, 2)));
}

// Locate(x, y)
int32_t Locate(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  return LocateTextCursor(DoubleToInt32(VmCheckNumber(L, 1)), DoubleToInt32(VmCheckNumber(L, 2)));
}

// AddTab(position, ...)
int32_t AddTab(qvScriptState* L) {
  const int count = VmGetTop(L);
  if (count < 1) VmCheckNumber(L, 1);
  for (int i = 1; i <= count; ++i) {
    if (int32_t code = AddTextTab(DoubleToInt32(VmCheckNumber(L, i)))) return code;
  }
  return 0;
}

// ResetTabs()
int32_t ResetTabs(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  return ResetTextTabs();
}

}  // namespace cmd

}  // namespace qv
