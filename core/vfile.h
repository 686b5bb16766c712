// Virtual file names, buffered files (`qvFile`), directory handles and the small path helpers.
//
// Every file routine of the player accepts, next to ordinary paths:
//   ":::chunk<offset>:<length>*<display name>/<container path>"  a stretch of a larger file (a file
//       linked into an applet or an executable), read in place;
//   ":::chunkS<reference>:<length>*<display name>/<address>"     a string held in memory. Only names
//       of in-memory files registered in this process's table open; a name that carries any other
//       address is refused, so a script cannot make the player read arbitrary memory.
// Messages show the display name of such a name instead of the whole name.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv {

// Longest name (virtual names, paths) that the file routines take, without the terminator.
inline constexpr size_t kMaxPathLength = 1023;
// The display name of a virtual name is cut to this many characters.
inline constexpr size_t kMaxDisplayName = 259;

// ---- path helpers ----

// The program's own directory, which "PROGDIR:" stands for. Set once at start-up.
void SetProgramDir(const char* dir);
const char* GetProgramDir();

bool IsVirtualName(const char* name);        // begins with ":::chunk" (stretches and memory files)
bool IsMemoryFileName(const char* name);     // begins with ":::chunkS"

// The name shown to the user: for a virtual name the part between its first "*" and the next "/"
// (in a per-thread buffer, cut to kMaxDisplayName characters); otherwise the part after the last
// "/" or "\", else after a ":". Names shorter than 2 characters come back unchanged.
const char* GetDisplayName(const char* name);
// Pointer into `path` after the last "/", "\" or ":"; leading "/" characters do not count as
// separators.
const char* GetFilePart(const char* path);
// Appends "/" (unless `dir` is empty or ends in "/" or "\") and `name` to the buffer `dir` of
// `size` bytes. Returns false, with the result cut, when it does not fit.
bool JoinPath(char* dir, size_t size, const char* name);
// Case-insensitive comparison (ISO-8859-1 folding) in which "/" and "\" are equal; 0 when equal.
int ComparePaths(const char* a, const char* b);
// The name as the host opens it: a virtual name is copied unchanged; "PROGDIR:" becomes the
// program's directory; every "\" becomes "/". Returns `out`, or null when the name (or the
// result) is longer than kMaxPathLength or does not fit `out`.
char* MakeNativePath(const char* name, char* out, size_t size);
// The container path of a ":::chunk" stretch name; other names are copied unchanged. False when
// the result does not fit.
bool ParseChunkName(const char* name, char* out, size_t size);
// Appends the extension (from the last ".") of the display name of `name` to `out`.
bool GetChunkExtension(const char* name, char* out, size_t size);

// ":::chunk<offset + base>:<length>*<display name of displaySource>/<container>". False when
// the name does not fit `out` (which then holds a cut name that no routine opens).
bool MakeChunkName(const char* displaySource, char* out, size_t size, uint64_t offset,
                   uint64_t length, uint64_t base, const char* container);

}  // namespace qv
