// Dynamic libraries: plugins opened by path with every symbol bound at once and kept to
// themselves, their entry points found by name; FreeType's functions for the plugin host's
// table; the TrueType data of the fonts the player carries. Any thread.
#pragma once

#include <cstddef>

namespace qv {

struct qvDynamicLibrary;

// Opens the shared object (dlopen with RTLD_NOW | RTLD_LOCAL): the library, or null when it is
// not one, cannot be bound, or does not exist. *reason (when given) gets the loader's text (a
// static buffer of the calling thread, valid until its next call).
qvDynamicLibrary* OpenDynamicLibrary(const char* path, const char** reason = nullptr);
// The address of the exported symbol, or null.
void* FindLibrarySymbol(qvDynamicLibrary* library, const char* name);
// Closes the library (null is ignored).
void CloseDynamicLibrary(qvDynamicLibrary* library);

// The FreeType functions in the order of the plugin host's table, from FT_Init_FreeType to
// FT_Load_Sfnt_Table. The library is loaded on the first call; without it every entry is a
// function that answers FreeType's error 1 and does nothing.
constexpr size_t kFreeTypeFunctionCount = 26;
void GetFreeTypeFunctions(void* out[kFreeTypeFunctionCount]);

// The embedded TrueType fonts: 0 Bitstream Vera Sans, 1 Sans Mono, 2 Serif. Read from the
// installed font package on the first call and kept until the process ends; null and 0 when the
// file is missing.
constexpr int kEmbeddedFontCount = 3;
const void* GetEmbeddedFont(int index, size_t* size);

}  // namespace qv
