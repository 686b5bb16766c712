// Text into the output: a print at the display's text cursor and a text output at a position,
// laid out by text/ and blitted into the current output device with its clip region. Text layers
// come with the layer system. Script thread only.
#pragma once

#include <cstdint>
#include <string>

#include "core/registry.h"
#include "text/layout.h"

namespace qv {

// What a text output asks beyond the text settings.
struct qvTextOutRequest {
  int32_t x = 0, y = 0;  // coordinate constants allowed
  std::string text;
  int32_t align = kCoordLeft;
  int32_t wrapWidth = 0;  // 0: none
  int32_t encoding = kEncodingIso8859_1;
  uint32_t colour = 0;
  bool colourGiven = false;
  std::vector<int32_t> breaks;  // the "wordwraptable"
  bool breaksGiven = false;
};

// Draws the text at the request's position. `lookup` resolves "#" constants of format tags.
// Returns 0 or an error: the layout's, ERR_NOLAYERS while layers are on, ERR_WRONGUSAGE without a
// display, BindOutputDevice's and the blit's.
int32_t TextOutput(qvScriptState* L, const qvTextOutRequest& request,
                   const qvConstantLookup& lookup);
// Prints the text at the display's text cursor with its margins and tab stops and moves the
// cursor to the end of it. `literal` turns format tags off. Errors as TextOutput.
int32_t PrintText(qvScriptState* L, const std::string& text, bool literal,
                  const qvConstantLookup& lookup);

// The print settings of the current display. 0, or ERR_WRONGUSAGE without a display.
// SetMargins: left >= right gives ERR_WRONGUSAGE; a negative left becomes 0 and the right is cut
// to the output's width - 1; the cursor goes to (left, 0).
int32_t SetTextMargins(int32_t left, int32_t right);
// Locate: a coordinate constant gives ERR_NOCOORDCST; an x outside the margins becomes the left
// margin.
int32_t LocateTextCursor(int32_t x, int32_t y);
// AddTab: a negative stop gives ERR_NEGCOORDS, a 33rd ERR_INTERNAL; equal stops keep their order.
int32_t AddTextTab(int32_t position);
int32_t ResetTextTabs();

}  // namespace qv
