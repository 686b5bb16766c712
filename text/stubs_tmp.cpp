// Bodies still to come; the header's contract holds for what is here.
#include "text/fonts.h"

namespace qv {

void RenderTextRun(const qvFont*, const qvTextTarget&, int32_t, int32_t, const char*, size_t,
                   int32_t, int32_t, const qvClipBox*, int64_t) {}
void MeasureTextRun(const qvFont*, const char*, size_t, int32_t, int32_t, qvTextExtent* extent) {
  *extent = {};
}
int32_t GetKerningCore(const qvFont*, const char*, size_t, int32_t, int32_t) { return 0; }
void FlushGlyphCache(qvFont*) {}
bool FontEngineDoesStyle(const qvFont*, int32_t) { return false; }
void SetFontScale(qvFont*, double, double) {}
int32_t DecodeUtf8(const char*, size_t, int32_t, std::vector<uint32_t>*) { return ERR_USERABORT; }
int32_t InitFontEngines(qvFont** defaultFont) {
  *defaultFont = nullptr;
  return 0;
}
void CloseFontEngines() {}
qvFont* GetDefaultFont() { return nullptr; }
int32_t OpenFontCore(const char*, int32_t, int32_t, int32_t, bool, qvFont**) {
  return ERR_OPENFONT;
}
int32_t ResolveFontName(const char*, int32_t, int32_t, int32_t, bool, qvFont**) {
  return ERR_OPENFONT;
}
void ReleaseFont(qvFont*) {}
std::vector<qvFont*> CachedFonts() { return {}; }
int32_t AddFontPath(const char*) { return 0; }
const std::vector<std::string>& FontPaths() {
  static const std::vector<std::string> kNone;
  return kNone;
}
bool FindBitmapFontFile(const char*, std::string*) { return false; }
int32_t FindFont(qvObjectId, qvFontObject**) { return ERR_FINDFONT2; }
int32_t AddFontObject(int32_t, bool, qvFont*, qvFontObject**) { return ERR_MEM; }
int32_t FreeFontObject(qvScriptState*, qvObjectId) { return ERR_FINDFONT2; }
int32_t FinishColorFonts() { return 0; }
qvTextSettings* GetTextSettings() {
  static qvTextSettings settings;
  return &settings;
}
qvFont* GetCurrentFont() { return GetTextSettings()->font; }
int32_t GetDefaultEncoding() { return 0; }
void SetDefaultEncodingValue(int32_t) {}
int32_t InitTextState() { return 0; }
void FreeTextState(qvScriptState*) {}

}  // namespace qv
