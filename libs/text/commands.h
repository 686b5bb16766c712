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

}  // namespace qv::cmd
