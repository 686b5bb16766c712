#include "platform/dynamic_library.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace qv {

qvDynamicLibrary* OpenDynamicLibrary(const char* path, const char** reason) {
  // dlopen of a name without a slash searches the library path: a plugin is a file we name.
  thread_local char text[512];
  if (path == nullptr || path[0] != '/') {
    std::snprintf(text, sizeof text, "%s: not a full path", path != nullptr ? path : "");
    if (reason != nullptr) *reason = text;
    return nullptr;
  }
  void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* error = dlerror();
    std::snprintf(text, sizeof text, "%s", error != nullptr ? error : "");
    if (reason != nullptr) *reason = text;
  }
  return static_cast<qvDynamicLibrary*>(handle);
}

void* FindLibrarySymbol(qvDynamicLibrary* library, const char* name) {
  if (library == nullptr) return nullptr;
  return dlsym(library, name);
}

void CloseDynamicLibrary(qvDynamicLibrary* library) {
  if (library != nullptr) dlclose(library);
}

namespace {

const char* const kFreeTypeNames[kFreeTypeFunctionCount] = {
    "FT_Init_FreeType",      "FT_Done_FreeType",
    "FT_New_Face",           "FT_New_Memory_Face",
    "FT_Load_Glyph",         "FT_Render_Glyph",
    "FT_Get_Glyph",          "FT_Done_Glyph",
    "FT_Outline_Transform",  "FT_Outline_Translate",
    "FT_Outline_Get_Bitmap", "FT_Outline_Get_CBox",
    "FT_Outline_Decompose",  "FT_Done_Face",
    "FT_Get_Char_Index",     "FT_Get_First_Char",
    "FT_Get_Next_Char",      "FT_Glyph_Transform",
    "FT_Set_Charmap",        "FT_Set_Pixel_Sizes",
    "FT_Set_Char_Size",      "FT_MulFix",
    "FT_Vector_Transform",   "FT_Get_Kerning",
    "FT_Get_Sfnt_Table",     "FT_Load_Sfnt_Table"};

// FreeType's "cannot open resource", for a plugin that calls into a library that is not there.
// The functions without an error result (FT_Done_Glyph, FT_Outline_Transform ...) ignore it.
long NoFreeType() { return 1; }

std::once_flag gFreeTypeOnce;
void* gFreeType[kFreeTypeFunctionCount];

void LoadFreeType() {
  void* library = dlopen("libfreetype.so.6", RTLD_NOW | RTLD_LOCAL);
  for (size_t i = 0; i < kFreeTypeFunctionCount; ++i) {
    void* f = library != nullptr ? dlsym(library, kFreeTypeNames[i]) : nullptr;
    gFreeType[i] = f != nullptr ? f : reinterpret_cast<void*>(&NoFreeType);
  }
  // The library stays loaded: plugins keep its functions until the process ends.
}

const char* const kFontFiles[kEmbeddedFontCount] = {"Vera.ttf", "VeraMono.ttf", "VeraSe.ttf"};
constexpr const char* kFontDirectory = "/usr/share/fonts/truetype/ttf-bitstream-vera/";
std::once_flag gFontOnce;
struct {
  void* data;
  size_t size;
} gFonts[kEmbeddedFontCount];

void ReadFonts() {
  for (int i = 0; i < kEmbeddedFontCount; ++i) {
    char path[256];
    std::snprintf(path, sizeof path, "%s%s", kFontDirectory, kFontFiles[i]);
    FILE* f = std::fopen(path, "rb");
    if (f == nullptr) continue;
    long size = -1;
    if (std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
    void* data = size > 0 ? std::malloc(static_cast<size_t>(size)) : nullptr;
    if (data != nullptr && std::fseek(f, 0, SEEK_SET) == 0 &&
        std::fread(data, 1, static_cast<size_t>(size), f) == static_cast<size_t>(size)) {
      gFonts[i] = {data, static_cast<size_t>(size)};
    } else {
      std::free(data);
    }
    std::fclose(f);
  }
}

}  // namespace

void GetFreeTypeFunctions(void* out[kFreeTypeFunctionCount]) {
  std::call_once(gFreeTypeOnce, LoadFreeType);
  for (size_t i = 0; i < kFreeTypeFunctionCount; ++i) out[i] = gFreeType[i];
}

const void* GetEmbeddedFont(int index, size_t* size) {
  std::call_once(gFontOnce, ReadFonts);
  if (index < 0 || index >= kEmbeddedFontCount) {
    *size = 0;
    return nullptr;
  }
  *size = gFonts[index].size;
  return gFonts[index].data;
}

}  // namespace qv
