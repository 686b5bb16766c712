// The text library's table: its commands and its constants (the draw library shares the styles
// and shadow directions).
#include "base/errors.h"
#include "core/registry.h"
#include "libs/libraries.h"
#include "libs/text/commands.h"
#include "text/fonts.h"

namespace qv {

namespace {

const qvLibraryRow kCommands[] = {
    {"SetFont", cmd::SetFont},
    {"SetFontColor", cmd::SetFontColor},
    {"SetFontStyle", cmd::SetFontStyle},
    {"OpenFont", cmd::OpenFont},
    {"CloseFont", cmd::CloseFont},
    {"UseFont", cmd::UseFont},
    {"FreeGlyphCache", cmd::FreeGlyphCache},
    {"SetDefaultEncoding", cmd::SetDefaultEncoding},
    {"AddFontPath", cmd::AddFontPath},
    {"GetKerningPair", cmd::GetKerningPair},
    // Text output and the print settings.
    {"Print", cmd::Print},
    {"NPrint", cmd::NPrint},
    {"TextOut", cmd::TextOut},
    {"TextWidth", cmd::TextWidth},
    {"TextHeight", cmd::TextHeight},
    {"TextExtent", cmd::TextExtent},
    {"SetMargins", cmd::SetMargins},
    {"Locate", cmd::Locate},
    {"AddTab", cmd::AddTab},
    {"ResetTabs", cmd::ResetTabs},
    {nullptr, nullptr},
};

const qvConstantRow kConstants[] = {
    {"NORMAL", nullptr, 1},
    {"BOLD", nullptr, 2},
    {"ITALIC", nullptr, 4},
    {"UNDERLINED", nullptr, 8},
    {"ALL", nullptr, 0},
    {"ALPHANUMERICAL", nullptr, 1},
    {"ALPHABETICAL", nullptr, 2},
    {"NUMERICAL", nullptr, 3},
    {"HEXNUMERICAL", nullptr, 4},
    {"ANTIALIAS", nullptr, 16},
    {"SHADOW", nullptr, 32},
    {"EDGE", nullptr, 64},
    {"SHDWNORTH", nullptr, 0},
    {"SHDWNORTHEAST", nullptr, 1},
    {"SHDWEAST", nullptr, 2},
    {"SHDWSOUTHEAST", nullptr, 3},
    {"SHDWSOUTH", nullptr, 4},
    {"SHDWSOUTHWEST", nullptr, 5},
    {"SHDWWEST", nullptr, 6},
    {"SHDWNORTHWEST", nullptr, 7},
    {"BITMAP_DEFAULT", ":::default_bitmap", 0},
    {"TRUETYPE_DEFAULT", ":::default_truetype", 0},
    {"SANS", ":::default_sans", 0},
    {"SERIF", ":::default_serif", 0},
    {"MONOSPACE", ":::default_mono", 0},
    {"FONTENGINE_NATIVE", nullptr, 0},
    {"FONTENGINE_INBUILT", nullptr, 4},
    {"FONTWEIGHT_THIN", nullptr, 0},
    {"FONTWEIGHT_EXTRALIGHT", nullptr, 40},
    {"FONTWEIGHT_ULTRALIGHT", nullptr, 40},
    {"FONTWEIGHT_LIGHT", nullptr, 50},
    {"FONTWEIGHT_BOOK", nullptr, 75},
    {"FONTWEIGHT_NORMAL", nullptr, 80},
    {"FONTWEIGHT_REGULAR", nullptr, 80},
    {"FONTWEIGHT_MEDIUM", nullptr, 100},
    {"FONTWEIGHT_SEMIBOLD", nullptr, 180},
    {"FONTWEIGHT_DEMIBOLD", nullptr, 180},
    {"FONTWEIGHT_BOLD", nullptr, 200},
    {"FONTWEIGHT_EXTRABOLD", nullptr, 205},
    {"FONTWEIGHT_ULTRABOLD", nullptr, 205},
    {"FONTWEIGHT_HEAVY", nullptr, 210},
    {"FONTWEIGHT_BLACK", nullptr, 210},
    {"FONTWEIGHT_EXTRABLACK", nullptr, 215},
    {"FONTWEIGHT_ULTRABLACK", nullptr, 215},
    {"FONTSLANT_ROMAN", nullptr, 0},
    {"FONTSLANT_ITALIC", nullptr, 100},
    {"FONTSLANT_OBLIQUE", nullptr, 110},
    {"ENCODING_ISO8859_1", nullptr, 0},
    {"ENCODING_UTF8", nullptr, 1},
    {nullptr, nullptr, 0},
};

// The settings at their defaults with the built-in font, the font objects' list and their
// GetAttribute row.
int32_t OpenText(qvScriptState*) {
  int32_t code = InitTextState();
  if (code == 0) code = RegisterObjectList(FontObjectListHead());
  if (code == 0) code = RegisterFontAttributes();
  return code;
}

}  // namespace

const qvLibrary kTextLibrary{"text", kCommands, kConstants, OpenText};

void FreeTextLibrary(qvScriptState* L) { FreeTextState(L); }

}  // namespace qv
