// The command handlers of the text library; library.cpp lists them.
#pragma once

#include <cstdint>

namespace qv {
struct qvScriptState;
}

namespace qv::cmd {

// font_commands.cpp: fonts, the text settings and the encoding
int32_t SetFont(qvScriptState* L);
int32_t SetFontColor(qvScriptState* L);
int32_t SetFontStyle(qvScriptState* L);
int32_t OpenFont(qvScriptState* L);
int32_t CloseFont(qvScriptState* L);
int32_t UseFont(qvScriptState* L);
int32_t FreeGlyphCache(qvScriptState* L);
int32_t SetDefaultEncoding(qvScriptState* L);
int32_t AddFontPath(qvScriptState* L);
int32_t GetKerningPair(qvScriptState* L);

// text_output.cpp: text into the output, measuring, the print settings
int32_t Print(qvScriptState* L);
int32_t NPrint(qvScriptState* L);
int32_t TextOut(qvScriptState* L);
int32_t TextWidth(qvScriptState* L);
int32_t TextHeight(qvScriptState* L);
int32_t TextExtent(qvScriptState* L);
int32_t SetMargins(qvScriptState* L);
int32_t Locate(qvScriptState* L);
int32_t AddTab(qvScriptState* L);
int32_t ResetTabs(qvScriptState* L);

}  // namespace qv::cmd
