// Text layout: a text split into runs of one style by its format tags, placed in lines with word
// wrapping, tab stops and alignment, and rendered into a block bitmap with its mask or alpha
// plane. The print, text output and text object paths of the text library all lay out here; the
// block is then the caller's to blit, transform or keep. Script thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "text/edge_draw.h"
#include "text/fonts.h"

namespace qv {

// The kinds of layout.
enum : int32_t { kLayoutTextObject = 8, kLayoutTextOut = 9, kLayoutPrint = 11 };
// Coordinate constants, which also name the alignments.
enum : int32_t {
  kCoordCenter = -100000,
  kCoordLeft = -90000,
  kCoordRight = -80000,
  kCoordTop = -70000,
  kCoordBottom = -60000,
};
// Entries a break list may hold.
constexpr size_t kMaxBreaks = 32767;
constexpr size_t kMaxTabStops = 32;

// One print, text output or text object. Each state owns its break and tab-result lists: a later
// layout of another state never touches them.
struct qvTextLayoutState {
  int32_t x = 0, y = 0;  // may hold coordinate constants
  qvTextSettings style;
  std::string text;
  int32_t align = kCoordLeft;
  int32_t cursorX = 0, cursorY = 0;  // print only
  // Print: the margins. Text output and objects: the right margin is the wrap width (0 none).
  int32_t marginLeft = 0, marginRight = 0;
  std::vector<int32_t> tabs;  // ascending
  // Indexes of the words that begin a new line; recorded by the first layout unless given.
  std::vector<int32_t> breaks;
  bool breaksKnown = false;  // set: the list is replayed
  // For each tab of a print: the stop used, or -1 for a line break; replayed once recorded.
  std::vector<int32_t> tabResults;
  bool tabsKnown = false;
  int32_t encoding = kEncodingIso8859_1;
};

// The extent of a styled piece of text: the font's measure, the width drawn (ink included), and
// what shadow and edge add on each side (top and left negative).
struct qvStyledExtent {
  qvTextExtent font;
  int32_t drawnWidth = 0;
  int32_t topExtra = 0, bottomExtra = 0, leftExtra = 0, rightExtra = 0;
};
void MeasureStyledText(const char* text, size_t length, int32_t encoding,
                       const qvTextSettings& style, qvStyledExtent* out);

// One piece of text in one style; its text is runs.text[offset, offset + length).
struct qvTextRun {
  size_t offset = 0, length = 0;
  int32_t x = 0, y = 0;  // from the block's origin; y is the line's top
  qvStyledExtent extent;
  qvTextSettings style;
};

struct qvTextRuns {
  std::vector<qvTextRun> runs;
  std::string text;  // the text without tags; a tab of text output is a blank
  int32_t fontHeight = 0;
  int32_t encoding = kEncodingIso8859_1;
  int32_t endX = 0, endY = 0;  // the pen after the last character, from the block's origin
};

// Looks up a script constant named by the text after "#": 0 with the value and the characters
// consumed (the "#" included), or an error.
using qvConstantLookup = std::function<int32_t(const char* text, double* value, int* consumed)>;

// Splits the state's text into runs (see qvTextRuns), recording or replaying the state's break
// and tab lists. `literal` takes brackets as plain characters. Returns 0 or the error:
// ERR_TEXTSYNTAX (a single "]", "[/color]" with no colour to restore), ERR_UNKTEXTFMT,
// ERR_TEXTARG ("[color]"), ERR_VALUEEXPECTED, ERR_SQBRACKETCLOSE, ERR_WRONGUSAGE (a shadow size
// outside 1..64, an edge size outside 1..8, an encoding above 1), ERR_MEM.
int32_t BuildTextRuns(qvTextLayoutState* state, int32_t kind, bool literal,
                      const qvConstantLookup& lookup, qvTextRuns* out);

// The block of laid-out runs: its bitmap with a 1-bit mask, or with an alpha plane when the text
// is anti-aliased or a colour drawn has a transparency. The offsets are where the block's
// top-left lies against the layout's origin.
struct qvTextBlockResult {
  qvBitMap* bitmap = nullptr;
  qvPlane* mask = nullptr;
  qvPlane* alpha = nullptr;
  int32_t width = 0, height = 0;
  int32_t xOffset = 0, yOffset = 0;
};
void FreeTextBlock(qvTextBlockResult* block);

// Aligns the runs line by line and draws them into a new block. `widthLimit` (0: none) cuts the
// block's width. Returns 0 or ERR_MEM (nothing stored).
int32_t RenderTextRuns(qvTextRuns* runs, int32_t align, int32_t widthLimit, qvTextBlockResult* out);

// The whole layout of a text as a block (the general path): ERR_ANTIALIAS for the anti-aliased
// style on a font that cannot draw it, an empty text laid out as one blank, a text without runs
// as a 1 x font-height block. For a print the state's cursor moves to the end of the text.
int32_t LayoutTextBlock(qvTextLayoutState* state, int32_t kind, bool literal,
                        const qvConstantLookup& lookup, qvTextBlockResult* out);

}  // namespace qv
