// Copying and deleting files and directory trees, filtered by wildcard pattern lists, with a
// script callback that follows the progress and answers questions (overwrite, unprotect, abort);
// MatchPattern. Symbolic links below the name given are never followed: deleting removes the
// link, copying makes the same link, and a linked directory is never entered. Every target is
// written beside itself under a temporary name and renamed over the old one when complete, so a
// failed or aborted copy leaves the old target as it was. The current directory never changes.
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "base/errors.h"
#include "core/args.h"
#include "core/dos_names.h"
#include "core/registry.h"
#include "core/vfile.h"
#include "libs/dos/commands.h"
#include "libs/dos/dos_internal.h"
#include "platform/files.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {

namespace {

constexpr size_t kCopyPiece = 16384;

// Callback actions.
constexpr int kCopyStatus = 0;
constexpr int kCopyOverwrite = 1;
constexpr int kCopyUnprotect = 2;
constexpr int kDeleteStatus = 0;
constexpr int kDeleteUnprotect = 1;

// What a copy or delete run carries along.
struct Walk {
  qvScriptState* L;
  int callback = 0;  // stack index of the function, 0 for none
  int userdata = 0;  // stack index of the value, 0 for none
  const char* patterns = nullptr;
  bool filterDirs = true;
};

// The optional argument at `index`: absent or Nil is none.
bool Given(qvScriptState* L, int index) {
  int32_t t = VmType(L, index);
  return t != kTypeNone && t != kTypeNil;
}

void StepCallbackNesting(bool enter) {
  const qvAttrSetItem items[] = {{kAttrCallbackNesting, enter ? 1 : 0}, {0, 0}};
  SetRuntimeAttrs(nullptr, items);
}

struct Field {
  const char* key;
  const char* text;  // null: the number
  double number;
};

// Calls the callback with {action, fields..., userdata}: 0 with its answer; ERR_USERABORT when
// the script ended inside; the call's error code.
int32_t Ask(Walk& w, int action, std::initializer_list<Field> fields, double* answer) {
  qvScriptState* L = w.L;
  int top = VmGetTop(L);
  VmPushValue(L, w.callback);
  VmNewTable(L);
  VmPushString(L, "action");
  VmPushNumber(L, action);
  VmRawSet(L, -3);
  for (const Field& f : fields) {
    VmPushString(L, f.key);
    if (f.text != nullptr) {
      VmPushString(L, f.text);
    } else {
      VmPushNumber(L, f.number);
    }
    VmRawSet(L, -3);
  }
  if (w.userdata != 0) {
    VmPushString(L, "userdata");
    VmPushValue(L, w.userdata);
    VmRawSet(L, -3);
  }
  StepCallbackNesting(true);
  int32_t code = VmPCall(L, 1, 1, 0);
  StepCallbackNesting(false);
  if (code == 0) {
    if (VmGetEndFlag(L)) {
      code = ERR_USERABORT;
    } else {
      *answer = VmGetCallbackNumber(L, -1, &code);
    }
  }
  VmSetTop(L, top);
  return code;
}

std::string Join(const std::string& dir, const char* name) {
  if (dir.empty()) return name;
  char last = dir.back();
  return last == '/' || last == '\\' ? dir + name : dir + "/" + name;
}

bool Matches(const Walk& w, const char* name) {
  return w.patterns == nullptr || MatchPatternList(w.patterns, name);
}

bool Examine(const std::string& name, qvDirEntry* entry) {
  qvDirHandle* lock = OpenDirQ(name.c_str(), 0);
  if (lock == nullptr) return false;
  bool ok = ExamineFileQ(lock, entry) == 0;
  CloseDirQ(lock);
  return ok;
}

// ---- deleting ----

int32_t DeleteOne(Walk& w, const std::string& path, const char* name) {
  if (!Matches(w, name)) return 0;
  if (IsSymbolicLink(path.c_str())) {
    if (w.callback != 0) {
      double answer = 0;
      int32_t code = Ask(w, kDeleteStatus, {{"file", path.c_str(), 0}}, &answer);
      if (code != 0) return code;
      if (answer == 1) return ERR_USERABORT;
    }
    return DeleteFileOrDir(path.c_str()) ? 0 : ERR_DELETEFILE;
  }
  qvDirEntry entry{};
  if (!Examine(path, &entry)) {
    SetErrorString(path.c_str());
    return ERR_DELETEFILE;
  }
  char full[kMaxPathLength + 1];
  if (!GetFullPath(path.c_str(), full, sizeof full)) std::strcpy(full, "");
  if (entry.attributes & QV_FILEATTR_READONLY) {
    if (w.callback == 0) return 0;
    double answer = 0;
    int32_t code = Ask(w, kDeleteUnprotect, {{"file", full, 0}}, &answer);
    if (code != 0) return code;
    if (answer == -1) return ERR_USERABORT;
    if (answer == 0) return 0;
    SetFileAttrBits(path.c_str(), QV_FILEATTR_NORMAL);
  }
  if (w.callback != 0) {
    double answer = 0;
    int32_t code = Ask(w, kDeleteStatus, {{"file", full, 0}}, &answer);
    if (code != 0) return code;
    if (answer == 1) return ERR_USERABORT;
  }
  if (!DeleteFileOrDir(path.c_str())) {
    SetErrorString(path.c_str());
    return ERR_DELETEFILE;
  }
  return 0;
}

int32_t DeleteTree(Walk& w, const std::string& dir, bool removeSelf, const char* selfName) {
  qvDirHandle* lock = OpenDirQ(dir.c_str(), 0);
  if (lock == nullptr) {
    SetErrorString(dir.c_str());
    return ERR_LOCK2;
  }
  int32_t code = ExamineDirQ(lock);
  const char* name;
  FileKind kind;
  while (code == 0 && ReadDirQ(lock, &name, &kind, nullptr)) {
    std::string path = Join(dir, name);
    if (kind == FileKind::kDirectory && !IsSymbolicLink(path.c_str())) {
      if (w.patterns != nullptr && w.filterDirs && !MatchPatternList(w.patterns, name)) continue;
      code = DeleteTree(w, path, true, name);
    } else {
      code = DeleteOne(w, path, name);
    }
  }
  CloseDirQ(lock);
  if (code != 0) return code;
  // With a pattern list the directory goes only when its name matches and it is empty by now;
  // whether it could go is not reported.
  if (removeSelf) DeleteOne(w, dir, selfName);
  return 0;
}

// ---- copying ----

// Copies one file (or recreates one link) into `destDir`.
int32_t CopyOne(Walk& w, const std::string& source, const char* name, const std::string& destDir,
                const char* newName, bool inTree) {
  if (!Matches(w, name)) return 0;
  std::string target = Join(destDir, newName != nullptr ? newName : GetDisplayName(source.c_str()));
  if (!IsVirtualName(source.c_str()) && IsSymbolicLink(source.c_str())) {
    char link[kMaxPathLength + 1];
    if (!ReadSymbolicLink(source.c_str(), link, sizeof link)) {
      SetErrorString(source.c_str());
      return ERR_READFILE;
    }
    DeleteFileOrDir(target.c_str());  // a link replaces what was there
    if (!MakeSymbolicLink(link, target.c_str())) {
      SetErrorString(target.c_str());
      return ERR_WRITEFILE;
    }
    return 0;
  }
  if (IsSameFile(source.c_str(), target.c_str()) ||
      (!IsVirtualName(source.c_str()) && IsSameDiskFile(source.c_str(), target.c_str()))) {
    return inTree ? 0 : ERR_WRONGUSAGE;  // it would be emptied before it is read
  }
  qvDirEntry old{};
  bool exists = Examine(target, &old);
  if (exists) {
    if (w.callback != 0) {
      double answer = 0;
      int32_t code = Ask(w, kCopyOverwrite,
                         {{"source", source.c_str(), 0}, {"destination", target.c_str(), 0}},
                         &answer);
      if (code != 0) return code;
      if (answer == -1) return ERR_USERABORT;
      if (answer == 0) return 0;
    }
    if (old.attributes & QV_FILEATTR_READONLY) {
      if (w.callback == 0) return 0;
      double answer = 0;
      int32_t code = Ask(w, kCopyUnprotect, {{"destination", target.c_str(), 0}}, &answer);
      if (code != 0) return code;
      if (answer == -1) return ERR_USERABORT;
      if (answer == 0) return 0;
    }
  }
  SetErrorString(source.c_str());
  qvFile* in = OpenFileQ(source.c_str(), kFileRead);
  if (in == nullptr) return ERR_READFILE;
  SeekFileQ(in, 0, kSeekEnd);
  int64_t size = in->position;
  SeekFileQ(in, 0, kSeekStart);
  char temp[kMaxPathLength + 1];
  qvFile* out = nullptr;
  if (MakeSiblingTempName(target.c_str(), temp, sizeof temp)) out = OpenFileQ(temp, kFileWrite);
  if (out == nullptr) {
    CloseFileQ(in);
    SetErrorString(target.c_str());
    return ERR_WRITEFILE;
  }
  if (exists) CopyPermissions(target.c_str(), temp);
  int32_t code = 0;
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[kCopyPiece]);
  char* piece = buffer.get();
  if (piece == nullptr) code = ERR_MEM;
  int64_t copied = 0;
  while (code == 0) {
    size_t n = ReadFileQ(in, piece, kCopyPiece);
    if (n == 0) {
      if (copied < size) code = ShortReadError(in);
      break;
    }
    if (WriteFileQ(out, piece, n) != n) {
      code = ERR_WRITE;
      break;
    }
    copied += int64_t(n);
    if (w.callback != 0) {
      double answer = 0;
      code = Ask(w, kCopyStatus,
                 {{"source", source.c_str(), 0},
                  {"destination", target.c_str(), 0},
                  {"copied", nullptr, double(copied)},
                  {"filesize", nullptr, double(size)}},
                 &answer);
      if (code == 0 && answer == 1) code = ERR_USERABORT;
      if (code != 0) break;
    }
  }
  CloseFileQ(in);
  if (!CloseFileQ(out) && code == 0) code = ERR_WRITE;
  if (code == 0) {
    qvDirEntry info{};
    if (Examine(source, &info)) {
      SetFileDates(temp, info.times);
      SetFileAttrBits(temp, (info.attributes & QV_FILEATTR_READONLY)
                                ? uint32_t(QV_FILEATTR_READONLY)
                                : uint32_t(QV_FILEATTR_NORMAL));
    }
    // An unprotected old target gives way only now, when the new bytes are complete.
    if (exists && (old.attributes & QV_FILEATTR_READONLY)) {
      SetFileAttrBits(target.c_str(), QV_FILEATTR_NORMAL);
    }
    if (!ReplaceFile(temp, target.c_str())) {
      SetErrorString(target.c_str());
      code = ERR_WRITEFILE;
    }
  }
  if (code != 0) DeleteFileOrDir(temp);
  return code;
}

int32_t CopyTree(Walk& w, const std::string& source, const std::string& dest, bool top) {
  std::string target = top ? dest : Join(dest, GetDisplayName(source.c_str()));
  int32_t code = MakeAllDirectories(target.c_str());
  if (code != 0) return code;
  qvDirHandle* lock = OpenDirQ(source.c_str(), 0);
  if (lock == nullptr) {
    SetErrorString(source.c_str());
    return ERR_LOCK2;
  }
  code = ExamineDirQ(lock);
  const char* name;
  FileKind kind;
  while (code == 0 && ReadDirQ(lock, &name, &kind, nullptr)) {
    std::string path = Join(source, name);
    if (kind == FileKind::kDirectory && !IsSymbolicLink(path.c_str())) {
      if (w.patterns != nullptr && w.filterDirs && !MatchPatternList(w.patterns, name)) continue;
      code = CopyTree(w, path, target, false);
    } else {
      code = CopyOne(w, path, name, target, nullptr, true);
    }
  }
  CloseDirQ(lock);
  if (code != 0) return code;
  qvDirEntry info{};
  if (!Examine(source, &info)) {
    SetErrorString(source.c_str());
    return ERR_EXAMINE;
  }
  SetFileDates(target.c_str(), info.times);
  SetFileAttrBits(target.c_str(), info.attributes);
  return 0;
}

// A trailing "/" or "\" is cut (not from "/" itself).
std::string CutSeparator(std::string name, bool* had) {
  *had = name.size() > 1 && (name.back() == '/' || name.back() == '\\');
  if (*had) name.pop_back();
  return name;
}

}  // namespace

namespace cmd {

int32_t MatchPattern(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  const char* name = CheckName(L, 1);
  const char* list = CheckName(L, 2);
  VmPushNumber(L, MatchPatternList(list, name) ? 1 : 0);
  return 1;
}

// DeleteFile(name, callback, userdata, patterns, filter directories = 1)
int32_t DeleteFile(qvScriptState* L) {
  CheckArgCount(L, 1, 5);
  const char* given = CheckName(L, 1);
  Walk w{L};
  if (Given(L, 2)) {
    VmCheckFunction(L, 2);
    w.callback = 2;
  }
  if (Given(L, 3)) w.userdata = 3;
  if (Given(L, 4)) w.patterns = CheckName(L, 4);
  w.filterDirs = VmOptInt(L, 5, 1) != 0;
  if (*given == '\0' || IsVirtualName(given)) return ERR_WRONGUSAGE;
  char native[kMaxPathLength + 1];
  if (MakeNativePath(given, native, sizeof native) == nullptr) return ERR_WRONGUSAGE;
  bool trailing;
  std::string name = CutSeparator(native, &trailing);
  bool keepSelf = trailing || w.patterns != nullptr;
  int32_t code;
  if (IsSymbolicLink(name.c_str())) {
    // The link itself goes, never what it points to.
    code = w.patterns != nullptr ? ERR_NODIRPATTERN : DeleteOne(w, name, GetFilePart(name.c_str()));
  } else {
    qvDirEntry entry{};
    SetErrorString(given);
    qvDirHandle* lock = OpenDirQ(name.c_str(), 0);
    if (lock == nullptr) return ERR_LOCK2;
    code = ExamineFileQ(lock, &entry);
    CloseDirQ(lock);
    if (code != 0) return code;
    if (entry.kind != FileKind::kDirectory) {
      code = w.patterns != nullptr ? ERR_NODIRPATTERN
                                   : DeleteOne(w, name, GetFilePart(name.c_str()));
    } else {
      code = DeleteTree(w, name, !keepSelf, GetFilePart(name.c_str()));
    }
  }
  return code == ERR_USERABORT ? 0 : code;
}

// CopyFile(source, destination directory, new name, callback, userdata, patterns,
// filter directories = 1)
int32_t CopyFile(qvScriptState* L) {
  CheckArgCount(L, 2, 7);
  const char* source = CheckName(L, 1);
  const char* dest = CheckName(L, 2);
  Walk w{L};
  const char* newName = Given(L, 3) ? CheckName(L, 3) : nullptr;
  if (newName != nullptr && *newName == '\0') newName = nullptr;
  if (Given(L, 4)) {
    VmCheckFunction(L, 4);
    w.callback = 4;
  }
  if (Given(L, 5)) w.userdata = 5;
  if (Given(L, 6)) w.patterns = CheckName(L, 6);
  w.filterDirs = VmOptInt(L, 7, 1) != 0;
  if (*source == '\0' && *dest == '\0') return ERR_WRONGUSAGE;
  char from[kMaxPathLength + 1], to[kMaxPathLength + 1];
  if (MakeNativePath(source, from, sizeof from) == nullptr ||
      MakeNativePath(dest, to, sizeof to) == nullptr) {
    return ERR_WRONGUSAGE;
  }
  bool trailing;
  std::string src = w.patterns != nullptr ? CutSeparator(from, &trailing) : std::string(from);
  std::string destDir = to;
  qvDirHandle* destLock = OpenDirQ(destDir.c_str(), 0);
  if (destLock == nullptr) {
    int32_t code = MakeAllDirectories(destDir.c_str());
    if (code != 0) return code;
  }
  CloseDirQ(destLock);
  int32_t code;
  if (!IsVirtualName(src.c_str()) && IsSymbolicLink(src.c_str())) {
    code = w.patterns != nullptr
               ? ERR_NODIRPATTERN
               : CopyOne(w, src, GetFilePart(src.c_str()), destDir, newName, false);
  } else {
    SetErrorString(source);
    qvDirHandle* lock = OpenDirQ(src.c_str(), 0);
    if (lock == nullptr) return ERR_LOCK2;
    qvDirEntry entry{};
    code = ExamineFileQ(lock, &entry);
    CloseDirQ(lock);
    if (code != 0) return ERR_LOCK2;
    if (entry.kind != FileKind::kDirectory) {
      code = w.patterns != nullptr
                 ? ERR_NODIRPATTERN
                 : CopyOne(w, src, GetDisplayName(src.c_str()), destDir, newName, false);
    } else if (newName != nullptr) {
      code = ERR_WRONGUSAGE;
    } else {
      code = CopyTree(w, src, destDir, true);
    }
  }
  return code == ERR_USERABORT ? 0 : code;
}

}  // namespace cmd

}  // namespace qv
