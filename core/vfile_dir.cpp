// Directory handles: the platform's locks for plain names, a name of its own for virtual files.
#include <cstring>
#include <string>

#include "core/error_table.h"
#include "core/errors.h"
#include "core/vfile.h"

namespace qv {

namespace {

// The length that a virtual name carries: the number after its first ":" behind the prefix.
bool VirtualLength(const char* name, uint64_t* length) {
  const char* colon = std::strchr(name + 8, ':');
  if (!colon || colon[1] < '0' || colon[1] > '9') return false;
  uint64_t v = 0;
  for (const char* p = colon + 1; *p >= '0' && *p <= '9'; ++p) {
    if (v > (UINT64_MAX - uint64_t(*p - '0')) / 10) return false;
    v = v * 10 + uint64_t(*p - '0');
  }
  *length = v;
  return true;
}

}  // namespace

struct qvDirHandle {
  qvDirLock* lock = nullptr;  // null for a virtual name
  std::string name;           // the virtual name
};

qvDirHandle* OpenDirQ(const char* name, int mode) {
  auto handle = std::make_unique<qvDirHandle>();
  if (IsVirtualName(name)) {
    if (mode != 0) return nullptr;
    // A memory file must be a live one; a stretch needs a well-formed name.
    if (IsMemoryFileName(name)) {
      qvFile* probe = OpenFileQ(name, kFileRead);
      if (!probe) return nullptr;
      CloseFileQ(probe);
    } else {
      uint64_t length;
      if (!VirtualLength(name, &length) || !std::strchr(name, '*')) return nullptr;
    }
    handle->name = name;
    return handle.release();
  }
  char native[kMaxPathLength + 1];
  if (!MakeNativePath(name, native, sizeof(native))) return nullptr;
  handle->lock = LockPath(native, mode == 0 ? LockMode::kRead : LockMode::kWrite);
  return handle->lock ? handle.release() : nullptr;
}

void CloseDirQ(qvDirHandle* handle) {
  if (!handle) return;
  if (handle->lock) CloseDirScan(handle->lock);
  delete handle;
}

bool GetDirLockName(const qvDirHandle* handle, char* out, size_t size) {
  if (size == 0) return false;
  if (handle->lock) return GetLockName(handle->lock, out, size);
  if (!GetCurrentDir(out, size)) return false;
  const char* display = GetDisplayName(handle->name.c_str());
  return JoinPath(out, size, *display ? display : "unknown");
}

int ExamineFileQ(qvDirHandle* handle, qvDirEntry* entry) {
  if (handle->lock) return ExamineDirEntry(handle->lock, entry) ? 0 : ERR_EXAMINE;
  *entry = qvDirEntry{};
  uint64_t length = 0;
  VirtualLength(handle->name.c_str(), &length);
  entry->size = int64_t(length);
  entry->attributes = 15;
  qvFileTime time;
  DateToFileTime(qvDate{0, 0, 0, 16, 7, 1982}, &time);
  for (qvFileTime& t : entry->times) t = time;
  return 0;
}

int ExamineDirQ(qvDirHandle* handle) {
  if (!handle->lock) {
    SetErrorString(handle->name.c_str());
    return ERR_NOTADIR;
  }
  return ExamineFirstEntry(handle->lock);
}

bool ReadDirQ(qvDirHandle* handle, const char** name, FileKind* kind, qvDirEntry* entry) {
  return handle->lock && ExamineNextEntry(handle->lock, name, kind, entry);
}

}  // namespace qv
