// Names and places: tests and sizes of files, parts of paths, volumes, the current directory,
// directory listings (at once, or entry by entry through objects of type DIRECTORY), directories
// made with all their levels, renaming, attributes and dates as tables, temporary names, and
// programs started from the script, also programs linked into the applet.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/errors.h"
#include "base/support.h"
#include "core/args.h"
#include "core/dos_names.h"
#include "core/events.h"
#include "core/registry.h"
#include "core/tables.h"
#include "core/vfile.h"
#include "libs/dos/commands.h"
#include "libs/dos/dos_internal.h"
#include "platform/files.h"
#include "platform/process.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {

namespace {

struct qvDosDirectory {
  qvObjectHeader header;  // type DIRECTORY
  bool done;
  qvDirHandle* lock;
};

// A temporary name the library handed out, with the linked file copied into it, if any.
struct TempFile {
  std::string name;
  std::string source;
};

qvObjectHeader* gDirectories = nullptr;
std::vector<TempFile>* gTempFiles = nullptr;

constexpr size_t kPathBuffer = kMaxPathLength + 1;
constexpr size_t kCopyPiece = 16384;

void CloseDirectoryRecord(qvScriptState* L, qvDosDirectory* d) {
  for (qvObjectHeader** p = &gDirectories; *p != nullptr; p = &(*p)->next) {
    if (*p == &d->header) {
      *p = d->header.next;
      break;
    }
  }
  CloseDirQ(d->lock);
  FreeObjectData(L, &d->header);
  std::free(d);
}

int32_t FindDirectory(qvObjectId id, qvDosDirectory** out) {
  return FindObjectAs(kObjectDirectory, id, ERR_FINDDIR, out);
}

void SetField(qvScriptState* L, const char* key, const std::string& value) {
  VmPushString(L, key);
  VmPushLString(L, value.data(), value.size());
  VmRawSet(L, -3);
}

void SetField(qvScriptState* L, const char* key, double value) {
  VmPushString(L, key);
  VmPushNumber(L, value);
  VmRawSet(L, -3);
}

std::string DateText(const qvFileTime& time) {
  qvDate date{};
  FileTimeToDate(time, &date);
  return FormatDosDate(date);
}

// The file information fields into the table on the stack top.
void PushFileInfo(qvScriptState* L, const qvDirEntry& entry) {
  bool dir = entry.kind == FileKind::kDirectory;
  SetField(L, "type", dir ? 1 : 0);
  if (!dir) SetField(L, "size", double(entry.size));
  SetField(L, "flags", double(entry.attributes));
  SetField(L, "time", DateText(entry.times[QV_TIME_WRITE]));
  SetField(L, "lastaccesstime", DateText(entry.times[QV_TIME_ACCESS]));
  SetField(L, "creationtime", DateText(entry.times[QV_TIME_CREATION]));
}

// A new temporary name; with a linked file's virtual name, ending in its extension.
int32_t MakeDosTempFile(const char* virtualName, std::string* out) {
  char name[kPathBuffer];
  int32_t code = virtualName != nullptr ? MakeTempNameForChunk(name, sizeof name, virtualName)
                                        : CreateTempName(name, sizeof name);
  if (code != 0) return code;
  if (gTempFiles == nullptr) gTempFiles = new std::vector<TempFile>;
  gTempFiles->push_back({name, virtualName != nullptr ? virtualName : ""});
  *out = name;
  return 0;
}

// The program of a command line as the system can start it: a file linked into the applet is
// copied once into a temporary file that keeps its extension and may be run; a bare name that
// is no file here is looked up on PATH.
int32_t ResolveProgram(qvScriptState* L, const std::string& program, std::string* out) {
  const char* resolved = ResolveLinkedFile(L, program.c_str(), false, nullptr);
  if (!IsVirtualName(resolved)) {
    *out = resolved;
    char found[kPathBuffer];
    if (std::strchr(resolved, '/') == nullptr && std::strchr(resolved, '\\') == nullptr) {
      qvDirHandle* here = OpenDirQ(resolved, 0);
      if (here != nullptr) {
        CloseDirQ(here);
      } else if (FindProgramOnPath(resolved, found, sizeof found)) {
        *out = found;
      }
    }
    return 0;
  }
  std::string source = resolved;
  if (gTempFiles != nullptr) {
    for (const TempFile& t : *gTempFiles) {
      if (t.source == source) {
        *out = t.name;
        return 0;
      }
    }
  }
  std::string temp;
  int32_t code = MakeDosTempFile(source.c_str(), &temp);
  if (code != 0) return code;
  code = CopyFileBlocks(source.c_str(), temp.c_str());
  if (code == 0 && !MakeExecutable(temp.c_str())) {
    SetErrorString(temp.c_str());
    code = ERR_WRITEFILE;
  }
  if (code != 0) {
    DeleteFileOrDir(temp.c_str());
    return code;
  }
  *out = temp;
  return 0;
}

int32_t RunProgram(qvScriptState* L, RunMode mode) {
  CheckArgCount(L, 1, 2);
  const char* line = CheckName(L, 1);
  std::string program, arguments;
  if (!SplitCommandLine(line, &program, &arguments)) return ERR_WRONGUSAGE;
  bool reset = VmOptInt(L, 2, 1) != 0;
  std::string path;
  int32_t code = ResolveProgram(L, program, &path);
  if (code != 0) return code;
  code = ExecuteProgram(path.c_str(), arguments.c_str(), mode, nullptr);
  // Keys and buttons pressed while the program ran were meant for it.
  if (code == 0 && reset && CurrentDisplayInput() != nullptr) {
    ResetDisplayInputState(CurrentDisplayInput());
  }
  return code;
}

}  // namespace

int32_t RegisterDosDirectories() { return RegisterObjectList(&gDirectories); }

void FreeDosDirectories(qvScriptState* L) {
  while (gDirectories != nullptr) {
    CloseDirectoryRecord(L, reinterpret_cast<qvDosDirectory*>(gDirectories));
  }
  if (gTempFiles != nullptr) {
    for (const TempFile& t : *gTempFiles) DeleteFileOrDir(t.name.c_str());
    delete gTempFiles;
    gTempFiles = nullptr;
  }
}

int32_t MakeAllDirectories(const char* path) {
  SetErrorString(path);
  // A path longer than the file routines take could be made only in part.
  if (std::strlen(path) > kMaxPathLength) return ERR_CREATEDIR;
  std::string copy = path;
  std::vector<std::string> made;
  // What fails half-way takes back the levels it made, deepest first.
  auto fail = [&made] {
    for (auto level = made.rbegin(); level != made.rend(); ++level) DeleteFileOrDir(level->c_str());
    return ERR_CREATEDIR;
  };
  for (size_t i = 1; i <= copy.size(); ++i) {
    if (i < copy.size() && copy[i] != '/' && copy[i] != '\\') continue;
    std::string prefix = copy.substr(0, i);
    qvDirHandle* lock = OpenDirQ(prefix.c_str(), 0);
    if (lock != nullptr) {
      qvDirEntry entry{};
      bool dir = ExamineFileQ(lock, &entry) == 0 && entry.kind == FileKind::kDirectory;
      CloseDirQ(lock);
      if (!dir) return fail();
    } else if (MakeDirectoryCore(prefix.c_str()) != 0) {
      return fail();
    } else {
      made.push_back(prefix);
    }
  }
  return 0;
}

namespace cmd {

int32_t Exists(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  const char* name = ResolveLinkedFileArg(L, 1, kLinkedFileFile, nullptr);
  qvDirHandle* lock = *name != '\0' ? OpenDirQ(name, 0) : nullptr;
  CloseDirQ(lock);
  VmPushNumber(L, lock != nullptr ? 1 : 0);
  return 1;
}

int32_t FileSize(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  const char* name = ResolveLinkedFileArg(L, 1, kLinkedFileFile, nullptr);
  qvDirHandle* lock = *name != '\0' ? OpenDirQ(name, 0) : nullptr;
  qvDirEntry entry{};
  double size = -1;
  if (lock != nullptr && ExamineFileQ(lock, &entry) == 0) size = double(entry.size);
  CloseDirQ(lock);
  VmPushNumber(L, size);
  return 1;
}

int32_t PathPart(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  const char* path = CheckName(L, 1);
  if (IsVirtualName(path)) return ERR_WRONGUSAGE;
  const char* file = GetFilePart(path);
  VmPushLString(L, path, size_t(file - path));
  return 1;
}

int32_t FilePart(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  VmPushString(L, GetDisplayName(CheckName(L, 1)));
  return 1;
}

int32_t GetVolumeName(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  const char* path = CheckName(L, 1);
  if (*path == '\0') return ERR_WRONGUSAGE;
  char native[kPathBuffer], label[256];
  if (MakeNativePath(path, native, sizeof native) == nullptr) return ERR_WRONGUSAGE;
  if (!GetVolumeLabel(native, label, sizeof label)) {
    SetErrorString(path);
    return ERR_LOCK2;
  }
  VmPushString(L, label);
  return 1;
}

// GetVolumeInfo(volume, FREESPACE or USEDSPACE): bytes.
int32_t GetVolumeInfo(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  const char* path = CheckName(L, 1);
  int32_t kind = VmCheckInt(L, 2);
  if (*path == '\0') return ERR_WRONGUSAGE;
  char native[kPathBuffer];
  if (MakeNativePath(path, native, sizeof native) == nullptr) return ERR_WRONGUSAGE;
  uint64_t freeBytes, usedBytes;
  if (!GetDiskSpace(native, &freeBytes, &usedBytes)) {
    SetErrorString(path);
    return ERR_LOCK2;
  }
  VmPushNumber(L, double(kind != 0 ? freeBytes : usedBytes));
  return 1;
}

int32_t ChangeDirectory(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  const char* path = CheckName(L, 1);
  char native[kPathBuffer];
  char* previous = MakeNativePath(path, native, sizeof native) != nullptr && *native != '\0'
                       ? ChangeCurrentDir(native)
                       : nullptr;
  if (previous == nullptr) {
    SetErrorString(path);
    return ERR_LOCK2;
  }
  std::free(previous);
  return 0;
}

int32_t GetCurrentDirectory(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  char dir[kPathBuffer];
  if (!GetCurrentDir(dir, sizeof dir)) dir[0] = '\0';
  VmPushString(L, dir);
  return 1;
}

int32_t MakeDirectory(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  const char* path = CheckName(L, 1);
  if (*path == '\0' || IsVirtualName(path)) return ERR_WRONGUSAGE;
  return MakeAllDirectories(path);
}

int32_t FullPath(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  char joined[kPathBuffer];
  const char* dir = CheckName(L, 1);
  const char* name = CheckName(L, 2);
  // A path the file routines would not take is refused, never cut to fit.
  size_t length = std::strlen(dir);
  if (length >= sizeof joined) return ERR_NAMETOOLONG;
  std::memcpy(joined, dir, length + 1);
  if (!JoinPath(joined, sizeof joined, name)) return ERR_NAMETOOLONG;
  VmPushString(L, joined);
  return 1;
}

// Rename(old, new): the file keeps its directory; an existing file is never replaced.
int32_t Rename(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  const char* from = CheckName(L, 1);
  const char* to = CheckName(L, 2);
  if (*from == '\0' || *to == '\0' || IsVirtualName(from) || IsVirtualName(to)) {
    return ERR_WRONGUSAGE;
  }
  std::string newName = GetFilePart(to);
  std::string dir(from, size_t(GetFilePart(from) - from));
  char target[kPathBuffer];
  std::strncpy(target, dir.c_str(), sizeof target - 1);
  target[sizeof target - 1] = '\0';
  JoinPath(target, sizeof target, newName.c_str());
  char nativeFrom[kPathBuffer], nativeTo[kPathBuffer];
  SetErrorString(from);
  if (newName.empty() || MakeNativePath(from, nativeFrom, sizeof nativeFrom) == nullptr ||
      MakeNativePath(target, nativeTo, sizeof nativeTo) == nullptr ||
      !RenameFile(nativeFrom, nativeTo)) {
    return ERR_RENAME;
  }
  return 0;
}

int32_t IsDirectory(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  const char* name = CheckName(L, 1);
  SetErrorString(name);
  qvDirHandle* lock = OpenDirQ(name, 0);
  if (lock == nullptr) return ERR_LOCK2;
  qvDirEntry entry{};
  int32_t code = ExamineFileQ(lock, &entry);
  CloseDirQ(lock);
  if (code != 0) return ERR_WRONGUSAGE;
  VmPushNumber(L, entry.kind == FileKind::kDirectory ? 1 : 0);
  return 1;
}

// ReadDirectory(dir, files, dirs, sort = 1): the names into both tables from index 0, each list
// ended by ""; the two counts.
int32_t ReadDirectory(qvScriptState* L) {
  CheckArgCount(L, 3, 4);
  const char* name = CheckName(L, 1);
  VmCheckTable(L, 2);
  VmCheckTable(L, 3);
  bool sort = VmOptInt(L, 4, 1) != 0;
  SetErrorString(name);
  qvDirHandle* lock = OpenDirQ(name, 0);
  if (lock == nullptr) return ERR_LOCK2;
  int32_t code = ExamineDirQ(lock);
  if (code != 0) {
    CloseDirQ(lock);
    return code;
  }
  int files = 0, dirs = 0;
  const char* entryName;
  FileKind kind;
  while (ReadDirQ(lock, &entryName, &kind, nullptr)) {
    bool dir = kind == FileKind::kDirectory;
    VmPushString(L, entryName);
    VmRawSetI(L, dir ? 3 : 2, dir ? dirs++ : files++);
  }
  CloseDirQ(lock);
  VmPushString(L, "");
  VmRawSetI(L, 2, files);
  VmPushString(L, "");
  VmRawSetI(L, 3, dirs);
  if (sort) {
    code = SortTable(L, 2, 0);
    if (code == 0) code = SortTable(L, 3, 0);
    if (code != 0) return code;
  }
  VmPushNumber(L, files);
  VmPushNumber(L, dirs);
  return 2;
}

int32_t OpenDirectory(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvOptionalId id = OptObjectId(L, 1);
  const char* name = CheckName(L, 2);
  if (!id.automatic) {
    if (auto* old = reinterpret_cast<qvDosDirectory*>(
            FindObject(kObjectDirectory, {id.number, nullptr}))) {
      CloseDirectoryRecord(L, old);
    }
  }
  SetErrorString(name);
  qvDirHandle* lock = OpenDirQ(name, 0);
  if (lock == nullptr) return ERR_LOCK2;
  int32_t code = ExamineDirQ(lock);
  if (code != 0) {
    CloseDirQ(lock);
    return code;
  }
  auto* d = static_cast<qvDosDirectory*>(AllocVecQ(sizeof(qvDosDirectory), true));
  if (d == nullptr) {
    CloseDirQ(lock);
    return ERR_MEM;
  }
  d->lock = lock;
  AddObject(&gDirectories, &d->header, kObjectDirectory, id.number, id.automatic);
  return PushNewObjectId(L, id, d);
}

int32_t NextDirectoryEntry(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvDosDirectory* d;
  int32_t code = FindDirectory(CheckObjectId(L, 1), &d);
  if (code != 0) return code;
  if (d->done) return 0;
  const char* name;
  FileKind kind;
  qvDirEntry entry{};
  if (!ReadDirQ(d->lock, &name, &kind, &entry)) {
    d->done = true;
    return 0;
  }
  VmNewTable(L);
  SetField(L, "name", std::string(name));
  PushFileInfo(L, entry);
  return 1;
}

int32_t CloseDirectory(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvDosDirectory* d;
  int32_t code = FindDirectory(CheckObjectId(L, 1), &d);
  if (code != 0) return code;
  CloseDirectoryRecord(L, d);
  return 0;
}

int32_t GetFileAttributes(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  const char* given = CheckName(L, 1);
  std::string givenCopy = given;
  std::string name = ResolveLinkedFileArg(L, 1, kLinkedFileFile, nullptr);
  SetErrorString(name.c_str());
  qvDirHandle* lock = OpenDirQ(name.c_str(), 0);
  if (lock == nullptr) return ERR_LOCK2;
  qvDirEntry entry{};
  int32_t code = ExamineFileQ(lock, &entry);
  char full[kPathBuffer];
  if (!GetDirLockName(lock, full, sizeof full)) full[0] = '\0';
  CloseDirQ(lock);
  if (code != 0) return code;
  bool isVirtual = IsVirtualName(name.c_str());
  VmNewTable(L);
  SetField(L, "path", isVirtual ? givenCopy : std::string(full));
  SetField(L, "virtual", isVirtual ? 1 : 0);
  PushFileInfo(L, entry);
  return 1;
}

// SetFileAttributes(name, table): "flags" and the three date texts that the table has.
int32_t SetFileAttributes(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  const char* name = CheckName(L, 1);
  VmCheckTable(L, 2);
  if (IsVirtualName(name)) return ERR_WRONGUSAGE;
  SetErrorString(name);
  qvDirHandle* lock = OpenDirQ(name, 0);
  if (lock == nullptr) return ERR_LOCK2;
  qvDirEntry entry{};
  int32_t code = ExamineFileQ(lock, &entry);
  CloseDirQ(lock);
  if (code != 0) return code;
  char native[kPathBuffer];
  if (MakeNativePath(name, native, sizeof native) == nullptr) return ERR_WRONGUSAGE;
  int32_t flags;
  if (GetFieldInt(L, 2, "flags", &flags, nullptr) && !SetFileAttrBits(native, uint32_t(flags))) {
    return ERR_SETFILEATTR;
  }
  static const struct {
    const char* key;
    int index;
  } kDates[] = {{"time", QV_TIME_WRITE},
                {"lastaccesstime", QV_TIME_ACCESS},
                {"creationtime", QV_TIME_CREATION}};
  bool any = false;
  for (const auto& d : kDates) {
    VmPushString(L, d.key);
    VmGetTable(L, 2);
    if (VmType(L, -1) == kTypeNil) {
      VmSetTop(L, -2);
      continue;
    }
    size_t len = 0;
    const char* text = VmIsString(L, -1) ? VmToString(L, -1) : nullptr;
    if (text != nullptr) len = VmStrLen(L, -1);
    qvDate date{};
    if (text == nullptr || !ParseDosDate(text, len, &date) ||
        !DateToFileTime(date, &entry.times[d.index])) {
      return ERR_INVALIDDATE;
    }
    VmSetTop(L, -2);
    any = true;
  }
  if (any && !SetFileDates(native, entry.times)) return ERR_SETFILEDATE;
  return 0;
}

int32_t GetTempFileName(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  std::string name;
  int32_t code = MakeDosTempFile(nullptr, &name);
  if (code != 0) return code;
  VmPushString(L, name.c_str());
  return 1;
}

int32_t Execute(qvScriptState* L) { return RunProgram(L, RunMode::kWait); }

int32_t Run(qvScriptState* L) { return RunProgram(L, RunMode::kAsync); }

}  // namespace cmd

}  // namespace qv
