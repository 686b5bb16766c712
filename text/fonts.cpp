// Fonts by name: the engines' start, the cache of opened fonts, the font paths, the font objects
// of the script and the current text settings.
#include "text/fonts.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "base/errors.h"
#include "base/support.h"
#include "core/registry.h"
#include "core/vfile.h"
#include "text/bitmap_font.h"

namespace qv {

namespace {

struct CacheEntry {
  std::string name;  // the resolved name
  int32_t size;
  int32_t engine;
  int32_t cacheFlag;
  qvFont* font;
};

struct TextState {
  qvFont* defaultFont = nullptr;
  bool initialised = false;
  std::vector<CacheEntry> cache;
  std::vector<std::string> fontPaths;
  qvObjectHeader* fontObjects = nullptr;
  qvTextSettings settings;
  int32_t encoding = kEncodingIso8859_1;
};
TextState gText;

bool EqualNoCase(const std::string& a, const std::string& b) {
  return StrCaseCmp(a.c_str(), b.c_str()) == 0;
}
bool StartsWith(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}
bool EndsWithFontNoCase(const std::string& name) {
  return name.size() >= 5 && StrCaseCmp(name.c_str() + name.size() - 5, ".font") == 0;
}

// True while declared objects are loaded before the first display: colour fonts then keep
// their pixels until FinishColorFonts.
bool Preloading() {
  intptr_t flag = 0;
  qvAttrGetItem items[] = {{kAttrLoaderFlag, &flag}, {0, nullptr}};
  GetRuntimeAttrs(nullptr, items);
  return flag != 0;
}

int32_t CannotOpen(const char* name, int32_t size) {
  const char* shown = IsVirtualName(name) ? GetDisplayName(name) : name;
  std::string message = "Cannot open font ";
  message += shown;
  message += " with size " + std::to_string(size) + "!";
  SetErrorString(message.c_str());
  return ERR_OPENFONT;
}

// Offset and length of a ":::chunk<offset>:<length>*..." name.
bool ChunkStretch(const char* name, uint64_t* offset, uint64_t* length) {
  const char* p = name + std::strlen(":::chunk");
  const char* end = name + std::strlen(name);
  auto first = std::from_chars(p, end, *offset);
  if (first.ec != std::errc() || first.ptr == end || *first.ptr != ':') return false;
  auto second = std::from_chars(first.ptr + 1, end, *length);
  return second.ec == std::errc() && second.ptr != end && *second.ptr == '*';
}

// A linked font begins with a header: a flags word (2: only the system engine opens it; 4: a
// length and that many bytes of extra data follow). The stretch behind it is the font.
enum class LinkedEngine { kBitmap, kSystem };
int32_t ResolveLinkedFontChunk(const char* name, std::string* fontName, LinkedEngine* engine) {
  qvFile* file = OpenFileQ(name, kFileRead);
  if (file == nullptr) {
    SetErrorString(GetDisplayName(name));
    return ERR_READFILE;
  }
  uint8_t word[4];
  uint64_t header = 4;
  bool ok = ReadFileQ(file, word, 4) == 4;
  const uint32_t flags = uint32_t{word[0]} << 24 | uint32_t{word[1]} << 16 |
                         uint32_t{word[2]} << 8 | word[3];
  if (ok && (flags & 4) != 0) {
    ok = ReadFileQ(file, word, 4) == 4;
    // The extra data is not read: only its length counts.
    header += 4 + (uint64_t{word[0]} << 24 | uint64_t{word[1]} << 16 | uint64_t{word[2]} << 8 |
                   word[3]);
  }
  CloseFileQ(file);
  uint64_t offset = 0, length = 0;
  if (!ok || !ChunkStretch(name, &offset, &length) || header > length) return ERR_OPENFONT;
  char container[kMaxPathLength + 1];
  char chunk[kMaxPathLength + 1];
  if (!ParseChunkName(name, container, sizeof container)) return ERR_OPENFONT;
  std::string display = GetDisplayName(name);
  display = display.substr(0, display.find('/'));
  if (!MakeChunkName(display.c_str(), chunk, sizeof chunk, offset + header, length - header, 0,
                     container)) {
    return ERR_OPENFONT;
  }
  *fontName = chunk;
  *engine = (flags & 2) != 0 ? LinkedEngine::kSystem : LinkedEngine::kBitmap;
  return 0;
}

qvFontObject* AsFontObject(qvObjectHeader* header) {
  return reinterpret_cast<qvFontObject*>(header);
}

}  // namespace

// ---- engines ----

int32_t InitFontEngines(qvFont** defaultFont) {
  if (gText.defaultFont == nullptr) {
    gText.defaultFont = OpenDefaultBitmapFont();
    if (gText.defaultFont == nullptr) return ERR_MEM;
    // Outline fonts are not there yet: nothing else to start.
    gText.initialised = true;
  }
  if (defaultFont != nullptr) *defaultFont = gText.defaultFont;
  return 0;
}

void CloseFontEngines() {
  if (gText.defaultFont != nullptr) {
    FreeBitmapFont(gText.defaultFont);
    delete gText.defaultFont;
  }
  gText.defaultFont = nullptr;
  gText.initialised = false;
}

qvFont* GetDefaultFont() { return gText.defaultFont; }

void ReleaseFont(qvFont* font) {
  if (font == nullptr || font == gText.defaultFont) return;
  FreeBitmapFont(font);
  delete font;
}

// ---- opening ----

int32_t OpenFontCore(const char* name, int32_t size, int32_t engine, int32_t, bool linked,
                     qvFont** out) {
  int32_t code = InitFontEngines(nullptr);
  if (code != 0) return code;
  std::string fontName = name;
  bool bitmapAllowed = true;
  if (linked && IsVirtualName(name)) {
    LinkedEngine linkedEngine = LinkedEngine::kBitmap;
    code = ResolveLinkedFontChunk(name, &fontName, &linkedEngine);
    if (code == ERR_OPENFONT) return CannotOpen(name, size);
    if (code != 0) return code;
    bitmapAllowed = linkedEngine == LinkedEngine::kBitmap;
  }
  if (engine == kFontEngineNative) {
    if (StrCaseCmp(fontName.c_str(), "topaz") == 0 && size == 8) {
      *out = gText.defaultFont;
      return 0;
    }
    auto font = std::make_unique<qvFont>();
    const bool preloading = Preloading();
    bool loaded = false;
    if (bitmapAllowed) {
      if (IsVirtualName(fontName.c_str())) {
        loaded = LoadBitmapFont(fontName.c_str(), size, font.get(), nullptr, preloading);
      } else {
        std::string path;
        loaded = FindBitmapFontFile(fontName.c_str(), &path) &&
                 LoadBitmapFont(path.c_str(), size, font.get(), fontName.c_str(), preloading);
      }
    }
    // The system engine finds no font yet.
    if (loaded) {
      *out = font.release();
      return 0;
    }
  }
  // Outline fonts (engine 4) are not there yet.
  return CannotOpen(name, size);
}

int32_t ResolveFontName(const char* name, int32_t size, int32_t engine, int32_t cacheFlag,
                        bool linked, qvFont** out) {
  std::string wanted = name;
  if (wanted == ":::default_bitmap") {
    wanted = "topaz";
  } else if (wanted == ":::default_truetype" || wanted == ":::default_sans") {
    wanted = "Bitstream Vera Sans";
    engine = kFontEngineInbuilt;
  } else if (wanted == ":::default_serif") {
    wanted = "Bitstream Vera Serif";
    engine = kFontEngineInbuilt;
  } else if (wanted == ":::default_mono") {
    wanted = "Bitstream Vera Sans Mono";
    engine = kFontEngineInbuilt;
  } else if (!StartsWith(name, ":::chunk")) {
    if (engine != kFontEngineInbuilt && std::strcmp(GetDisplayName(name), name) != 0) {
      SetErrorString(name);
      return ERR_FONTPATH;
    }
    if (EndsWithFontNoCase(wanted)) wanted.resize(wanted.size() - 5);
  }
  for (;;) {
    for (const CacheEntry& entry : gText.cache) {
      if (entry.cacheFlag == cacheFlag && entry.engine == engine && entry.size == size &&
          EqualNoCase(entry.name, wanted)) {
        SetFontScale(entry.font, 1.0, 1.0);
        *out = entry.font;
        return 0;
      }
    }
    qvFont* font = nullptr;
    int32_t code = OpenFontCore(wanted.c_str(), size, engine, cacheFlag, linked, &font);
    if (code == 0) {
      if (font != gText.defaultFont) font->resolvedName = wanted;
      gText.cache.push_back({wanted, size, engine, cacheFlag, font});
      *out = font;
      return 0;
    }
    if (engine != kFontEngineInbuilt) return code;
    engine = kFontEngineNative;
  }
}

std::vector<qvFont*> CachedFonts() {
  std::vector<qvFont*> fonts;
  for (const CacheEntry& entry : gText.cache) fonts.push_back(entry.font);
  return fonts;
}

// ---- font paths ----

int32_t AddFontPath(const char* directory) {
  for (const std::string& path : gText.fontPaths) {
    if (EqualNoCase(path, directory)) return 0;
  }
  qvDirHandle* handle = OpenDirQ(directory, 0);
  char full[kMaxPathLength + 1];
  bool named = handle != nullptr && GetDirLockName(handle, full, sizeof full);
  if (handle != nullptr) CloseDirQ(handle);
  if (!named) {
    SetErrorString(directory);
    return ERR_LOCK2;
  }
  for (const std::string& path : gText.fontPaths) {
    if (EqualNoCase(path, full)) return 0;
  }
  gText.fontPaths.emplace_back(full);
  return 0;
}

const std::vector<std::string>& FontPaths() { return gText.fontPaths; }

bool FindBitmapFontFile(const char* name, std::string* path) {
  std::string file = name;
  if (!EndsWithFontNoCase(file)) file += ".font";
  std::vector<std::string> candidates;
  for (const std::string& dir : gText.fontPaths) {
    std::string candidate = dir;
    if (!dir.empty() && dir.back() != '/' && dir.back() != '\\') candidate += '/';
    candidate += file;
    candidates.push_back(std::move(candidate));
  }
  if (gText.fontPaths.empty()) candidates.push_back(file);
  candidates.push_back("Fonts/" + file);
  for (const std::string& candidate : candidates) {
    qvFile* f = OpenFileQ(candidate.c_str(), kFileRead);
    if (f == nullptr) continue;
    CloseFileQ(f);
    *path = candidate;
    return true;
  }
  return false;
}

// ---- font objects ----

qvObjectHeader** FontObjectListHead() { return &gText.fontObjects; }

int32_t FindFont(qvObjectId id, qvFontObject** out) {
  for (qvObjectHeader* h = gText.fontObjects; h != nullptr; h = h->next) {
    if (h->id == id.number && h->handle == id.handle) {
      *out = AsFontObject(h);
      return 0;
    }
  }
  *out = nullptr;
  if (id.handle != nullptr) return ERR_FINDARRAY;
  SetErrorNumber(id.number);
  return ERR_FINDFONT2;
}

int32_t AddFontObject(int32_t number, bool automatic, qvFont* font, qvFontObject** out) {
  auto* object = new (std::nothrow) qvFontObject{};
  if (object == nullptr) return ERR_MEM;
  object->font = font;
  AddObject(&gText.fontObjects, &object->header, kObjectFont, automatic ? 0 : number, automatic);
  if (out != nullptr) *out = object;
  return 0;
}

int32_t FreeFontObject(qvScriptState* L, qvObjectId id) {
  qvFontObject* object = nullptr;
  int32_t code = FindFont(id, &object);
  if (code != 0) return code;
  for (qvObjectHeader** link = &gText.fontObjects; *link != nullptr; link = &(*link)->next) {
    if (*link == &object->header) {
      *link = object->header.next;
      break;
    }
  }
  FreeObjectData(L, &object->header);
  delete object;
  return 0;
}

int32_t FinishColorFonts() {
  int32_t first = 0;
  for (qvObjectHeader* h = gText.fontObjects; h != nullptr; h = h->next) {
    qvFont* font = AsFontObject(h)->font;
    if (font == nullptr || font->pendingPixels.empty()) continue;
    int32_t code = BuildColorGlyphs(font);
    if (code != 0 && first == 0) first = code;
  }
  return first;
}

// ---- settings and the library's state ----

qvTextSettings* GetTextSettings() { return &gText.settings; }
qvFont* GetCurrentFont() { return gText.settings.font; }
int32_t GetDefaultEncoding() { return gText.encoding; }
void SetDefaultEncodingValue(int32_t encoding) { gText.encoding = encoding; }

int32_t InitTextState() {
  qvFont* font = nullptr;
  int32_t code = InitFontEngines(&font);
  if (code != 0) return code;
  gText.settings = qvTextSettings{};
  gText.settings.font = font;
  gText.encoding = kEncodingIso8859_1;
  return 0;
}

void FreeTextState(qvScriptState* L) {
  while (gText.fontObjects != nullptr) {
    qvObjectHeader* next = gText.fontObjects->next;
    FreeObjectData(L, gText.fontObjects);
    delete AsFontObject(gText.fontObjects);
    gText.fontObjects = next;
  }
  for (CacheEntry& entry : gText.cache) ReleaseFont(entry.font);
  gText.cache.clear();
  gText.fontPaths.clear();
  gText.settings = qvTextSettings{};
  gText.encoding = kEncodingIso8859_1;
  CloseFontEngines();
}

}  // namespace qv
