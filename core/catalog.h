// Locale catalogs: per-language files that replace the player's built-in texts by id.
//
// A catalog is either an IFF file (big-endian): "FORM", size, "CTLG", an "FVER" chunk at byte 12
// and, at an even offset after byte 16, a "STRS" chunk of entries {u32 id, u32 length, text
// padded to a multiple of 4}; or a plain text file whose line n (from 0) is the text of id n, with
// the escapes "\n", "\r" and "\t" (a backslash before any other character stands for itself and
// drops that character). Parsing never reads past the loaded bytes: whatever would lie beyond
// them is a text that the catalog does not have.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv {

struct qvCatalog;

// The catalog languages by the platform's language code; code kLanguageCount (18) means the
// system language is none of them. Directory names are spelled in UTF-8.
struct qvCatalogLanguage {
  const char* native;
  const char* english;
};
inline constexpr int kLanguageCount = 18;
extern const qvCatalogLanguage kCatalogLanguages[kLanguageCount];

// Reads the catalog `name` for the given language from "Catalogs/<language>/<name>", trying the
// English directory name, then the native one, first below the current directory and then below
// the program's directory. English (0), the built-in language, and unknown languages open
// nothing. Null when no catalog opens.
qvCatalog* OpenCatalogFile(const char* name, int languageCode);
// A catalog from bytes already in memory (copied). Null for an IFF file without "CTLGFVER" or
// without a "STRS" chunk.
qvCatalog* ParseCatalog(const void* data, size_t size);
// The catalog's text for `id`, or `fallback` when there is no catalog or no such text.
const char* LookupCatalogString(const qvCatalog* catalog, int32_t id, const char* fallback);
// Frees the catalog and its contents; null is allowed.
void FreeWithBuffer(qvCatalog* catalog);

// The catalog of the player's own texts (opened at start-up, closed at shutdown); null when none.
// The error texts and status lines are looked up in it first.
void SetPlayerCatalog(qvCatalog* catalog);
qvCatalog* GetPlayerCatalog();

}  // namespace qv
