// Buffered files over plain files, stretches of containers and in-memory files; the table of
// in-memory files; linked-file lookup and block copies.
#include "core/vfile.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "base/support.h"
#include "core/error_table.h"
#include "core/errors.h"

namespace qv {

struct qvMemoryFile {
  const uint8_t* data;
  uint64_t length;
  int32_t ref;
  std::function<void()> release;
  ~qvMemoryFile() {
    if (release) release();
  }
};

namespace {

constexpr size_t kCopyBlock = 16384;

// The parts of a virtual name.
struct VirtualName {
  bool memory = false;
  int64_t first = 0;  // offset of a stretch, or the reference of a memory file
  uint64_t length = 0;
  std::string tail;  // container path, or the memory address in hexadecimal
};

bool ParseDecimal(const char*& p, uint64_t* value) {
  if (*p < '0' || *p > '9') return false;
  uint64_t v = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (v > (UINT64_MAX - uint64_t(*p - '0')) / 10) return false;
    v = v * 10 + uint64_t(*p - '0');
  }
  *value = v;
  return true;
}

// Reads ":::chunk<n>:<len>*<display>/<tail>" or ":::chunkS<ref>:<len>*<display>/<tail>"; every
// number must fit, so a damaged name opens nothing.
bool ParseVirtualName(const char* name, VirtualName* out) {
  if (!IsVirtualName(name)) return false;
  const char* p = name + 8;
  uint64_t first = 0;
  if (*p == 'S') {
    out->memory = true;
    ++p;
    bool negative = *p == '-';
    if (negative) ++p;
    if (!ParseDecimal(p, &first) || first > uint64_t(INT32_MAX)) return false;
    out->first = negative ? -int64_t(first) : int64_t(first);
  } else {
    if (!ParseDecimal(p, &first) || first > uint64_t(INT64_MAX)) return false;
    out->first = int64_t(first);
  }
  if (*p++ != ':' || !ParseDecimal(p, &out->length) || *p != '*') return false;
  if (!out->memory && out->length > uint64_t(INT64_MAX) - first) return false;
  const char* slash = std::strchr(p, '/');
  if (!slash) return false;
  out->tail = slash + 1;
  return true;
}

// ---- the table of in-memory files ----

std::mutex& MemoryTableLock() {
  static std::mutex lock;
  return lock;
}
std::map<int32_t, std::shared_ptr<qvMemoryFile>>& MemoryTable() {
  static std::map<int32_t, std::shared_ptr<qvMemoryFile>> table;
  return table;
}

std::string HexAddress(const void* p) {
  char buf[32];
  std::snprintf(buf, sizeof(buf), "%" PRIxPTR, reinterpret_cast<uintptr_t>(p));
  return buf;
}

// The registered memory file that a parsed name denotes: reference, length and address must
// all match a live entry.
std::shared_ptr<qvMemoryFile> FindMemoryFile(const VirtualName& v) {
  std::lock_guard<std::mutex> guard(MemoryTableLock());
  auto it = MemoryTable().find(int32_t(v.first));
  if (it == MemoryTable().end()) return nullptr;
  const auto& entry = it->second;
  if (entry->length != v.length || HexAddress(entry->data) != v.tail) return nullptr;
  return entry;
}

int64_t SaturatingAdd(int64_t a, int64_t b) {
  int64_t r;
  if (__builtin_add_overflow(a, b, &r)) return b > 0 ? INT64_MAX : INT64_MIN;
  return r;
}

bool EndsWithNoCase(const char* text, const char* suffix) {
  size_t n = std::strlen(text), m = std::strlen(suffix);
  return n >= m && StrCaseCmp(text + n - m, suffix) == 0;
}

}  // namespace

bool RegisterMemoryFile(const char* displaySource, const void* data, uint64_t length, int32_t ref,
                        std::function<void()> release, char* out, size_t size) {
  int n = std::snprintf(out, size, ":::chunkS%" PRId32 ":%" PRIu64 "*%s/%s", ref, length,
                        GetDisplayName(displaySource), HexAddress(data).c_str());
  if (n < 0 || size_t(n) >= size || size_t(n) > kMaxPathLength) return false;
  auto entry = std::make_shared<qvMemoryFile>();
  entry->data = static_cast<const uint8_t*>(data);
  entry->length = length;
  entry->ref = ref;
  std::lock_guard<std::mutex> guard(MemoryTableLock());
  if (!MemoryTable().emplace(ref, entry).second) return false;
  entry->release = std::move(release);
  return true;
}

bool UnregisterMemoryFile(const char* name) {
  VirtualName v;
  if (!IsMemoryFileName(name) || !ParseVirtualName(name, &v)) return false;
  std::shared_ptr<qvMemoryFile> dropped;  // released outside the lock
  std::lock_guard<std::mutex> guard(MemoryTableLock());
  auto it = MemoryTable().find(int32_t(v.first));
  if (it == MemoryTable().end()) return false;
  dropped = std::move(it->second);
  MemoryTable().erase(it);
  return true;
}

// ---- buffered files ----

qvFile* OpenFileQ(const char* name, int mode) {
  if (mode != kFileRead && mode != kFileWrite && mode != kFileReadWrite) return nullptr;
  auto file = std::make_unique<qvFile>();
  if (IsVirtualName(name)) {
    VirtualName v;
    if (mode != kFileRead || !ParseVirtualName(name, &v)) return nullptr;
    file->chunk = true;
    file->length = int64_t(v.length);
    if (v.memory) {
      file->memoryEntry = FindMemoryFile(v);
      if (!file->memoryEntry) return nullptr;
      file->memory = file->memoryEntry->data;
      return file.release();
    }
    char container[kMaxPathLength + 1];
    if (!MakeNativePath(v.tail.c_str(), container, sizeof(container))) return nullptr;
    file->start = v.first;
    file->stream = OpenDiskFile(container, qvDiskFileMode::kRead);
    if (!file->stream) return nullptr;
    if (!SeekDiskFile(file->stream, file->start, qvSeekFrom::kStart)) {
      CloseDiskFile(file->stream);
      return nullptr;
    }
    return file.release();
  }
  char path[kMaxPathLength + 1];
  if (!MakeNativePath(name, path, sizeof(path))) return nullptr;
  static const qvDiskFileMode kModes[] = {qvDiskFileMode::kRead, qvDiskFileMode::kWrite,
                                          qvDiskFileMode::kUpdate};
  file->stream = OpenDiskFile(path, kModes[mode]);
  if (!file->stream && mode == kFileReadWrite) {
    // A missing file is made first, then opened once more.
    if (qvDiskFile* made = OpenDiskFile(path, qvDiskFileMode::kWrite)) {
      CloseDiskFile(made);
      file->stream = OpenDiskFile(path, qvDiskFileMode::kUpdate);
    }
  }
  if (!file->stream) return nullptr;
  file->length = -1;
  if (mode == kFileRead) {
    if (!SeekDiskFile(file->stream, 0, qvSeekFrom::kEnd) ||
        (file->length = TellDiskFile(file->stream)) < 0 ||
        !SeekDiskFile(file->stream, 0, qvSeekFrom::kStart)) {
      CloseDiskFile(file->stream);
      return nullptr;
    }
  }
  return file.release();
}

int CloseFileQ(qvFile* file) {
  if (!file) return 1;
  int ok = 1;
  if (file->stream && !CloseDiskFile(file->stream)) ok = 0;
  delete file;
  return ok;
}

int64_t SeekFileQ(qvFile* file, int64_t offset, int mode) {
  int64_t old = file->position;
  int64_t target;
  switch (mode) {
    case kSeekCurrent:
      target = SaturatingAdd(SaturatingAdd(file->start, file->position), offset);
      break;
    case kSeekStart:
      target = SaturatingAdd(file->start, offset);
      break;
    case kSeekEnd:
      if (file->length < 0) {
        // A file being written: its end is wherever the stream's end is now.
        if (file->stream && SeekDiskFile(file->stream, offset, qvSeekFrom::kEnd)) {
          int64_t at = TellDiskFile(file->stream);
          if (at >= 0) file->position = at - file->start;
        }
        file->lastWasWrite = false;
        return old;
      }
      target = SaturatingAdd(SaturatingAdd(file->start, file->length), offset);
      break;
    default:
      target = offset;
      break;
  }
  if (file->chunk) target = std::min(target, file->start + file->length);
  target = std::max(target, file->start);
  if (file->stream) SeekDiskFile(file->stream, target, qvSeekFrom::kStart);
  file->position = target - file->start;
  file->lastWasWrite = false;
  return old;
}

size_t ReadFileQ(qvFile* file, void* buffer, size_t count) {
  if (count == 0) return 0;
  if (file->chunk) {
    if (file->position >= file->length) return 0;
    count = size_t(std::min<uint64_t>(count, uint64_t(file->length - file->position)));
  }
  if (file->memory) {
    std::memcpy(buffer, file->memory + file->position, count);
    file->position += int64_t(count);
    return count;
  }
  if (!file->stream) return 0;
  if (file->lastWasWrite) {
    SeekDiskFile(file->stream, file->start + file->position, qvSeekFrom::kStart);
    file->lastWasWrite = false;
  }
  size_t n = ReadDiskFile(file->stream, buffer, count);
  file->position += int64_t(n);
  return n;
}

size_t ReadUntilQ(qvFile* file, void* buffer, size_t count, int delimiter) {
  if (count == 0) return 0;
  if (file->chunk) {
    if (file->position >= file->length) return 0;
    count = size_t(std::min<uint64_t>(count, uint64_t(file->length - file->position)));
  }
  if (file->memory) {
    const uint8_t* from = file->memory + file->position;
    const void* hit = std::memchr(from, delimiter, count);
    if (hit) count = size_t(static_cast<const uint8_t*>(hit) - from) + 1;
    std::memcpy(buffer, from, count);
    file->position += int64_t(count);
    return count;
  }
  if (!file->stream) return 0;
  if (file->lastWasWrite) {
    SeekDiskFile(file->stream, file->start + file->position, qvSeekFrom::kStart);
    file->lastWasWrite = false;
  }
  size_t n = ReadDiskFileUntil(file->stream, buffer, count, delimiter);
  file->position += int64_t(n);
  return n;
}

int ReadByteQ(qvFile* file) {
  uint8_t byte;
  return ReadFileQ(file, &byte, 1) == 1 ? byte : -1;
}

size_t WriteFileQ(qvFile* file, const void* buffer, size_t count) {
  if (!file->stream || file->chunk || count == 0) return 0;
  if (!file->lastWasWrite) {
    SeekDiskFile(file->stream, file->start + file->position, qvSeekFrom::kStart);
    file->lastWasWrite = true;
  }
  size_t n = WriteDiskFile(file->stream, buffer, count);
  file->position += int64_t(n);
  return n;
}

int WriteByteQ(qvFile* file, int byte) {
  uint8_t b = uint8_t(byte);
  return WriteFileQ(file, &b, 1) == 1 ? b : -1;
}

int FlushFileQ(qvFile* file) {
  if (file->stream) FlushDiskFile(file->stream);
  return 1;
}

int EofFileQ(const qvFile* file) {
  return file->length < 0 || file->position >= file->length ? 1 : 0;
}

int32_t ShortReadError(const qvFile* file) {
  return file->stream != nullptr && DiskFileAtEnd(file->stream) ? ERR_READRANGE : ERR_READ;
}

uint32_t ReadU32BE(qvFile* file) {
  uint32_t v = 0;
  for (int shift = 24; shift >= 0; shift -= 8) v |= uint32_t(ReadByteQ(file)) << shift;
  return v;
}

uint32_t ReadU32LE(qvFile* file) {
  uint32_t v = 0;
  for (int shift = 0; shift <= 24; shift += 8) v |= uint32_t(ReadByteQ(file)) << shift;
  return v;
}

uint16_t ReadU16BE(qvFile* file) {
  uint32_t hi = uint32_t(ReadByteQ(file)), lo = uint32_t(ReadByteQ(file));
  return uint16_t(hi << 8 | lo);
}

uint16_t ReadU16LE(qvFile* file) {
  uint32_t lo = uint32_t(ReadByteQ(file)), hi = uint32_t(ReadByteQ(file));
  return uint16_t(hi << 8 | lo);
}

int WriteU32BE(qvFile* file, uint32_t value) {
  int r = 0;
  for (int shift = 24; shift >= 0; shift -= 8) r = WriteByteQ(file, int(value >> shift & 0xFF));
  return r;
}

int WriteU32LE(qvFile* file, uint32_t value) {
  int r = 0;
  for (int shift = 0; shift <= 24; shift += 8) r = WriteByteQ(file, int(value >> shift & 0xFF));
  return r;
}

int WriteU16BE(qvFile* file, uint16_t value) {
  WriteByteQ(file, value >> 8);
  return WriteByteQ(file, value & 0xFF);
}

int WriteU16LE(qvFile* file, uint16_t value) {
  WriteByteQ(file, value & 0xFF);
  return WriteByteQ(file, value >> 8);
}

bool IsSameFile(const char* source, const char* target) {
  if (IsMemoryFileName(source) || IsVirtualName(target)) return false;
  char underlying[kMaxPathLength + 1], container[kMaxPathLength + 1], dest[kMaxPathLength + 1];
  if (!ParseChunkName(source, container, sizeof(container)) ||
      !MakeNativePath(container, underlying, sizeof(underlying)) ||
      !MakeNativePath(target, dest, sizeof(dest))) {
    return false;
  }
  return IsSameDiskFile(underlying, dest);
}

int32_t WriteBeside(const char* name, const std::function<int32_t(const char* temp)>& write) {
  char native[kMaxPathLength + 1], path[kMaxPathLength + 1], temp[kMaxPathLength + 1];
  SetErrorString(name);
  if (IsVirtualName(name) || MakeNativePath(name, native, sizeof native) == nullptr) {
    return ERR_WRITEFILE;
  }
  bool exists = false, inPlace = false;
  int32_t code = PrepareFileReplace(native, path, sizeof path, &exists, &inPlace);
  if (code != 0) return code;
  // Where no new file can be made beside it (a folder the user may not write) or take its owner,
  // an existing file is written into, as opening it for writing would.
  if (!inPlace && !CreateReplacementFile(path, exists, temp, sizeof temp)) {
    if (!exists) return ERR_WRITEFILE;
    inPlace = true;
  }
  if (inPlace) {
    code = write(path);
  } else {
    code = write(temp);
    if (code == 0) {
      if (exists) CopyPermissions(path, temp);
      if (!ReplaceFile(temp, path)) code = ERR_WRITE;
    }
    if (code != 0) DeleteFileOrDir(temp);
  }
  SetErrorString(name);
  return code;
}

int32_t WriteWholeFile(const char* name, const void* data, size_t size) {
  return WriteBeside(name, [&](const char* temp) -> int32_t {
    qvFile* file = OpenFileQ(temp, kFileWrite);
    if (file == nullptr) return ERR_WRITEFILE;
    bool ok = size == 0 || WriteFileQ(file, data, size) == size;
    ok = CloseFileQ(file) != 0 && ok;
    return ok ? 0 : ERR_WRITE;
  });
}

int CopyFileBlocks(const char* source, const char* target) {
  std::vector<uint8_t> buffer;
  try {
    buffer.resize(kCopyBlock);
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
  SetErrorString(source);
  qvFile* in = OpenFileQ(source, kFileRead);
  if (!in) return ERR_READFILE;
  // Opening the target for writing empties it: never when it is the source's own file.
  if (IsSameFile(source, target)) {
    CloseFileQ(in);
    return ERR_WRONGUSAGE;
  }
  SetErrorString(target);
  qvFile* out = OpenFileQ(target, kFileWrite);
  if (!out) {
    CloseFileQ(in);
    return ERR_WRITEFILE;
  }
  SeekFileQ(in, 0, kSeekEnd);
  int64_t left = SeekFileQ(in, 0, kSeekStart);
  int result = 0;
  while (left > 0 && result == 0) {
    size_t want = size_t(std::min<int64_t>(left, int64_t(kCopyBlock)));
    size_t got = ReadFileQ(in, buffer.data(), want);
    if (got < want) result = ShortReadError(in);
    if (got > 0 && WriteFileQ(out, buffer.data(), got) != got) result = ERR_WRITEFILE;
    left -= int64_t(got);
  }
  CloseFileQ(in);
  if (!CloseFileQ(out) && result == 0) result = ERR_WRITEFILE;
  return result;
}

int MakeTempNameForChunk(char* out, size_t size, const char* virtualName) {
  int result = CreateTempName(out, size);
  if (result != 0) return result;
  return GetChunkExtension(virtualName, out, size) ? 0 : ERR_NAMETOOLONG;
}

// ---- linked files ----

const char* ResolveLinkedFile(std::span<const qvLinkedFile> files, uint64_t appletOffset,
                              const char* scriptPath, const char* name, bool fontFlag, bool* isFont,
                              char* out, size_t size) {
  static constexpr char kFontPrefix[] = "::font:";
  constexpr size_t kPrefixLength = sizeof(kFontPrefix) - 1;
  if (isFont) *isFont = false;
  std::string wanted = name;
  if (fontFlag) {
    if (EndsWithNoCase(name, ".ttf") || EndsWithNoCase(name, ".otf")) {
      fontFlag = false;
    } else if (EndsWithNoCase(name, ".font")) {
      wanted.resize(wanted.size() - 5);
    }
  }
  for (const qvLinkedFile& rec : files) {
    bool fontRecord = rec.name.compare(0, kPrefixLength, kFontPrefix) == 0;
    if (fontRecord != fontFlag) continue;
    const char* recName = rec.name.c_str() + (fontRecord ? kPrefixLength : 0);
    bool match = fontRecord ? StrCaseCmp(recName, wanted.c_str()) == 0
                            : ComparePaths(recName, wanted.c_str()) == 0;
    if (!match) continue;
    const char* container = rec.containerPath.empty() ? scriptPath : rec.containerPath.c_str();
    if (!MakeChunkName(recName, out, size, rec.offset, rec.length, appletOffset, container)) {
      return name;
    }
    if (isFont) *isFont = fontFlag;
    return out;
  }
  return name;
}

}  // namespace qv
