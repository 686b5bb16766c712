// Directory handles over plain paths and virtual names, and file information.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "core/error_table.h"
#include "core/support.h"
#include "core/vfile.h"

namespace fs = std::filesystem;

namespace qv {

namespace {

struct DirEntry {
  std::string name;
  qvFileInfo info;
};

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

int64_t ToUnixSeconds(fs::file_time_type t) {
  auto sys = std::chrono::file_clock::to_sys(t);
  return std::chrono::duration_cast<std::chrono::seconds>(sys.time_since_epoch()).count();
}

bool FillInfo(const fs::path& path, qvFileInfo* info) {
  std::error_code ec;
  fs::file_status st = fs::status(path, ec);
  if (ec || !fs::exists(st)) return false;
  *info = qvFileInfo{};
  info->directory = fs::is_directory(st);
  if (!info->directory) {
    uintmax_t size = fs::file_size(path, ec);
    info->size = ec ? 0 : size;
  }
  if ((st.permissions() & fs::perms::owner_write) == fs::perms::none) {
    info->flags |= kFileAttrReadOnly;
  }
  std::string leaf = path.filename().string();
  if (!leaf.empty() && leaf[0] == '.' && leaf != "." && leaf != "..") {
    info->flags |= kFileAttrHidden;
  }
  fs::file_time_type written = fs::last_write_time(path, ec);
  if (!ec) info->creation = info->access = info->write = ToUnixSeconds(written);
  return true;
}

bool CopyName(const std::string& text, char* out, size_t size) {
  if (size == 0) return false;
  size_t n = std::min(text.size(), size - 1);
  std::memcpy(out, text.data(), n);
  out[n] = 0;
  return n == text.size();
}

}  // namespace

struct qvDirHandle {
  bool isVirtual = false;
  std::string name;  // the virtual name, or the full path
  std::vector<DirEntry> entries;
  size_t next = 0;
};

qvDirHandle* OpenDirQ(const char* name, int mode) {
  if (mode != 0) return nullptr;
  auto handle = std::make_unique<qvDirHandle>();
  if (IsVirtualName(name)) {
    // A memory file must be a live one; a stretch needs a well-formed name.
    if (IsMemoryFileName(name)) {
      qvFile* probe = OpenFileQ(name, kFileRead);
      if (!probe) return nullptr;
      CloseFileQ(probe);
    } else {
      uint64_t length;
      if (!VirtualLength(name, &length) || !std::strchr(name, '*')) return nullptr;
    }
    handle->isVirtual = true;
    handle->name = name;
    return handle.release();
  }
  std::error_code ec;
  fs::path path;
  if (*name) {
    char native[kMaxPathLength + 1];
    if (!MakeNativePath(name, native, sizeof(native))) return nullptr;
    path = fs::absolute(native, ec);
  } else {
    path = fs::current_path(ec);
  }
  if (ec) return nullptr;
  path = path.lexically_normal();
  std::string full = path.string();
  while (full.size() > 1 && full.back() == '/') full.pop_back();
  if (!fs::exists(full, ec)) return nullptr;
  handle->name = full;
  return handle.release();
}

void CloseDirQ(qvDirHandle* handle) { delete handle; }

bool GetDirLockName(const qvDirHandle* handle, char* out, size_t size) {
  if (!handle->isVirtual) return CopyName(handle->name, out, size);
  std::error_code ec;
  std::string dir = fs::current_path(ec).string();
  if (!CopyName(dir, out, size)) return false;
  const char* display = GetDisplayName(handle->name.c_str());
  return JoinPath(out, size, *display ? display : "unknown");
}

int ExamineFileQ(const qvDirHandle* handle, qvFileInfo* info) {
  if (handle->isVirtual) {
    *info = qvFileInfo{};
    VirtualLength(handle->name.c_str(), &info->size);
    info->flags = 15;
    std::tm date{};
    date.tm_year = 82;
    date.tm_mon = 7;
    date.tm_mday = 16;
    date.tm_isdst = -1;
    info->creation = info->access = info->write = int64_t(std::mktime(&date));
    return 0;
  }
  return FillInfo(handle->name, info) ? 0 : ERR_EXAMINE;
}

int ExamineDirQ(qvDirHandle* handle) {
  std::error_code ec;
  if (handle->isVirtual || !fs::is_directory(handle->name, ec)) return ERR_NOTADIR;
  handle->entries.clear();
  handle->next = 0;
  for (fs::directory_iterator it(handle->name, ec), end; !ec && it != end; it.increment(ec)) {
    std::string leaf = it->path().filename().string();
    if (leaf.empty() || leaf[0] == '.') continue;
    DirEntry entry{leaf, {}};
    if (FillInfo(it->path(), &entry.info)) handle->entries.push_back(std::move(entry));
  }
  std::sort(handle->entries.begin(), handle->entries.end(),
            [](const DirEntry& a, const DirEntry& b) {
              int c = StrCaseCmp(a.name.c_str(), b.name.c_str());
              return c != 0 ? c < 0 : a.name < b.name;
            });
  return 0;
}

int ReadDirQ(qvDirHandle* handle, char* name, size_t size, qvFileInfo* info) {
  if (handle->next >= handle->entries.size()) return 0;
  const DirEntry& entry = handle->entries[handle->next++];
  CopyName(entry.name, name, size);
  if (info) *info = entry.info;
  return 1;
}

}  // namespace qv
