// Path helpers and the spelling of virtual file names.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/support.h"
#include "core/vfile.h"

namespace qv {

namespace {

constexpr char kChunkPrefix[] = ":::chunk";
constexpr char kMemoryPrefix[] = ":::chunkS";
constexpr char kProgDir[] = "PROGDIR:";

std::string& ProgramDir() {
  static std::string dir;
  return dir;
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// Copies `text` into `out`, cut to fit; false when it was cut.
bool CopyBounded(char* out, size_t size, const char* text) {
  if (size == 0) return false;
  size_t n = std::strlen(text);
  bool fits = n < size;
  if (!fits) n = size - 1;
  std::memcpy(out, text, n);
  out[n] = 0;
  return fits;
}

}  // namespace

void SetProgramDir(const char* dir) { ProgramDir() = dir ? dir : ""; }
const char* GetProgramDir() { return ProgramDir().c_str(); }

bool IsVirtualName(const char* name) {
  return std::strncmp(name, kChunkPrefix, sizeof(kChunkPrefix) - 1) == 0;
}

bool IsMemoryFileName(const char* name) {
  return std::strncmp(name, kMemoryPrefix, sizeof(kMemoryPrefix) - 1) == 0;
}

const char* GetDisplayName(const char* name) {
  if (std::strlen(name) < 2) return name;
  if (IsVirtualName(name)) {
    thread_local char buffer[kMaxDisplayName + 1];
    const char* star = std::strchr(name, '*');
    if (!star) {
      buffer[0] = 0;
      return buffer;
    }
    const char* begin = star + 1;
    const char* end = std::strchr(begin, '/');
    size_t n = end ? size_t(end - begin) : std::strlen(begin);
    if (n > kMaxDisplayName) n = kMaxDisplayName;
    std::memcpy(buffer, begin, n);
    buffer[n] = 0;
    return buffer;
  }
  const char* slash = std::strrchr(name, '/');
  const char* back = std::strrchr(name, '\\');
  const char* sep = slash > back ? slash : back;
  if (sep) return sep + 1;
  const char* colon = std::strrchr(name, ':');
  return colon ? colon + 1 : name;
}

const char* GetFilePart(const char* path) {
  while (*path == '/') ++path;
  const char* part = path;
  for (const char* p = path; *p; ++p) {
    if (IsSeparator(*p) || *p == ':') part = p + 1;
  }
  return part;
}

bool JoinPath(char* dir, size_t size, const char* name) {
  size_t len = std::strlen(dir);
  if (len >= size) return false;
  if (len > 0 && !IsSeparator(dir[len - 1])) {
    if (len + 1 >= size) return false;
    dir[len++] = '/';
    dir[len] = 0;
  }
  return CopyBounded(dir + len, size - len, name);
}

int ComparePaths(const char* a, const char* b) {
  for (;; ++a, ++b) {
    int ca = IsSeparator(*a) ? '/' : ToLowerChar(static_cast<unsigned char>(*a));
    int cb = IsSeparator(*b) ? '/' : ToLowerChar(static_cast<unsigned char>(*b));
    if (ca != cb) return ca - cb;
    if (ca == 0) return 0;
  }
}

char* MakeNativePath(const char* name, char* out, size_t size) {
  if (std::strlen(name) > kMaxPathLength) return nullptr;
  if (IsVirtualName(name)) return CopyBounded(out, size, name) ? out : nullptr;
  std::string path;
  if (std::strncmp(name, kProgDir, sizeof(kProgDir) - 1) == 0) {
    path = ProgramDir();
    const char* rest = name + sizeof(kProgDir) - 1;
    if (!path.empty() && !IsSeparator(path.back()) && *rest) path += '/';
    path += rest;
  } else {
    path = name;
  }
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  if (path.size() > kMaxPathLength) return nullptr;
  return CopyBounded(out, size, path.c_str()) ? out : nullptr;
}

bool ParseChunkName(const char* name, char* out, size_t size) {
  if (IsVirtualName(name) && !IsMemoryFileName(name)) {
    const char* star = std::strchr(name, '*');
    const char* slash = star ? std::strchr(star, '/') : nullptr;
    if (slash) return CopyBounded(out, size, slash + 1);
  }
  return CopyBounded(out, size, name);
}

bool GetChunkExtension(const char* name, char* out, size_t size) {
  const char* dot = std::strrchr(GetDisplayName(name), '.');
  if (!dot) return true;
  size_t len = 0;
  while (len < size && out[len]) ++len;
  if (len == size) return false;
  return CopyBounded(out + len, size - len, dot);
}

bool MakeChunkName(const char* displaySource, char* out, size_t size, uint64_t offset,
                   uint64_t length, uint64_t base, const char* container) {
  if (size == 0) return false;
  int n = std::snprintf(out, size, "%s%" PRIu64 ":%" PRIu64 "*%s/%s", kChunkPrefix, offset + base,
                        length, GetDisplayName(displaySource), container);
  return n >= 0 && size_t(n) < size && size_t(n) <= kMaxPathLength;
}

}  // namespace qv
