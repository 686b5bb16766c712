// Whole files as strings and back, virtual files over a stretch of a file or over a script
// string, a byte-wise patch of one open file by another, the process environment, and the MD5
// and CRC-32 checksums of files.
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string>

#include "base/errors.h"
#include "core/args.h"
#include "core/checksum.h"
#include "core/events.h"
#include "core/registry.h"
#include "core/vfile.h"
#include "libs/dos/commands.h"
#include "libs/dos/dos_files.h"
#include "libs/dos/dos_internal.h"
#include "platform/desktop.h"
#include "platform/files.h"
#include "platform/process.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {

namespace {

constexpr size_t kChecksumPiece = 65536;
constexpr size_t kPatchPiece = 65536;

// The string files this library defined, by reference; their release needs the machine, which
// is gone once the library's teardown has run.
std::map<int32_t, std::string>* gStringFiles = nullptr;
qvScriptState* gStringFileVm = nullptr;

// The reference number that a ":::chunkS" name carries, or false.
bool StringFileRef(const char* name, int32_t* ref) {
  if (!IsMemoryFileName(name)) return false;
  const char* p = name + 9;
  char* end;
  long v = std::strtol(p, &end, 10);
  if (end == p || *end != ':' || v < INT32_MIN || v > INT32_MAX) return false;
  *ref = int32_t(v);
  return true;
}

void StepCallbackNesting(bool enter) {
  const qvAttrSetItem items[] = {{kAttrCallbackNesting, enter ? 1 : 0}, {0, 0}};
  SetRuntimeAttrs(nullptr, items);
}

// Feeds the file to `feed` in pieces: 0, ERR_MEM, ERR_READFILE (the name stored), ERR_READRANGE
// when it ended before its length (it shrank while read) or ERR_READ.
template <typename Feed>
int32_t ReadWholeFile(const char* name, Feed feed) {
  std::unique_ptr<uint8_t[]> piece(new (std::nothrow) uint8_t[kChecksumPiece]);
  if (!piece) return ERR_MEM;
  SetErrorString(name);
  qvFile* file = OpenFileQ(name, kFileRead);
  if (file == nullptr) return ERR_READFILE;
  for (;;) {
    size_t n = ReadFileQ(file, piece.get(), kChecksumPiece);
    if (n == 0) break;
    feed(piece.get(), n);
  }
  int32_t code = EofFileQ(file) != 0 ? 0 : ShortReadError(file);
  CloseFileQ(file);
  return code;
}

}  // namespace

void FreeStringFiles() {
  if (gStringFiles != nullptr) {
    // Strings no file holds open any more are released now, while the machine runs.
    for (const auto& entry : *gStringFiles) UnregisterMemoryFile(entry.second.c_str());
    delete gStringFiles;
    gStringFiles = nullptr;
  }
  gStringFileVm = nullptr;
}

namespace cmd {

// FileToString(name): the bytes and their count.
int32_t FileToString(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  const char* name = CheckName(L, 1);
  std::string bytes;
  int32_t code;
  try {
    code = ReadWholeFile(name, [&](const uint8_t* p, size_t n) {
      bytes.append(reinterpret_cast<const char*>(p), n);
    });
  } catch (const std::bad_alloc&) {
    code = ERR_MEM;
  }
  if (code != 0) return code;
  VmPushLString(L, bytes.data(), bytes.size());
  VmPushNumber(L, double(bytes.size()));
  return 2;
}

// StringToFile(string, name): the whole file, or on failure the old one as it was.
int32_t StringToFile(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  size_t len = 0;
  const char* text = VmCheckString(L, 1, &len);
  const char* name = CheckName(L, 2);
  return WriteWholeFile(name, text, len);
}

// DefineVirtualFile(container, offset, length, display name): a name of that stretch.
int32_t DefineVirtualFile(qvScriptState* L) {
  CheckArgCount(L, 4, 4);
  const char* container = CheckName(L, 1);
  double offset = VmCheckNumber(L, 2);
  double length = VmCheckNumber(L, 3);
  const char* display = CheckName(L, 4);
  if (*container == '\0' || IsVirtualName(container) || !(offset >= 0) || !(length >= 1) ||
      offset > 9e15 || length > 9e15) {
    return ERR_WRONGUSAGE;
  }
  char name[kMaxPathLength + 1];
  if (!MakeChunkName(display, name, sizeof name, uint64_t(offset), uint64_t(length), 0,
                     container)) {
    return ERR_WRONGUSAGE;
  }
  VmPushString(L, name);
  return 1;
}

// DefineVirtualFileFromString(string, display name): a name of the string's bytes, which stay
// alive until UndefineVirtualStringFile and the last file open on them is closed.
int32_t DefineVirtualFileFromString(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  size_t len = 0;
  const char* text = VmCheckString(L, 1, &len);
  const char* display = CheckName(L, 2);
  if (len == 0) return ERR_WRONGUSAGE;
  if (gStringFiles == nullptr) gStringFiles = new std::map<int32_t, std::string>;
  VmPushValue(L, 1);
  int32_t ref = VmRef(L, kRegistryIndex);
  char name[kMaxPathLength + 1];
  qvScriptState* vm = L;
  gStringFileVm = L;
  bool ok = RegisterMemoryFile(
      display, text, len, ref,
      [vm, ref] {
        if (gStringFileVm == vm) VmUnref(vm, kRegistryIndex, ref);
      },
      name, sizeof name);
  if (!ok) {
    VmUnref(L, kRegistryIndex, ref);
    return ERR_WRONGUSAGE;
  }
  (*gStringFiles)[ref] = name;
  VmPushString(L, name);
  return 1;
}

int32_t UndefineVirtualStringFile(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  const char* name = CheckName(L, 1);
  int32_t ref;
  if (!StringFileRef(name, &ref) || gStringFiles == nullptr || gStringFiles->count(ref) == 0 ||
      !UnregisterMemoryFile(name)) {
    return ERR_WRONGUSAGE;
  }
  gStringFiles->erase(ref);
  return 0;
}

// ApplyPatch(source, patch, destination, callback): each source byte XOR the next patch byte,
// or its complement once the patch has ended; the callback sees each whole percent.
int32_t ApplyPatch(qvScriptState* L) {
  CheckArgCount(L, 3, 4);
  qvDosFile *src, *patch, *dst;
  int32_t code = FindReadableFile(L, 1, &src);
  if (code == 0) code = FindReadableFile(L, 2, &patch);
  if (code == 0) code = FindWritableFile(L, 3, &dst);
  if (code != 0) return code;
  bool callback = VmType(L, 4) != kTypeNone && VmType(L, 4) != kTypeNil;
  if (callback) VmCheckFunction(L, 4);
  int64_t total = src->length - src->position;
  if (total <= 0) return 0;
  std::unique_ptr<uint8_t[]> in(new (std::nothrow) uint8_t[kPatchPiece]);
  std::unique_ptr<uint8_t[]> with(new (std::nothrow) uint8_t[kPatchPiece]);
  if (!in || !with) return ERR_MEM;
  int64_t done = 0;
  int64_t percent = 0;
  while (done < total) {
    size_t n = size_t(std::min<int64_t>(total - done, kPatchPiece));
    code = ReadBigEndianValue(src, src->file, in.get(), true, n);
    if (code != 0) return code;
    int64_t patchLeft = patch->length - patch->position;
    size_t p = size_t(std::max<int64_t>(0, std::min<int64_t>(patchLeft, int64_t(n))));
    if (p > 0) {
      code = ReadBigEndianValue(patch, patch->file, with.get(), true, p);
      if (code != 0) return code;
    }
    for (size_t i = 0; i < n; ++i) in[i] = i < p ? uint8_t(in[i] ^ with[i]) : uint8_t(~in[i]);
    code = WriteDosBytes(dst, in.get(), n);
    if (code != 0) return code;
    int64_t before = done;
    done += int64_t(n);
    // One call per whole percent reached, as if the bytes went one by one.
    for (int64_t b = before + 1; callback && b <= done;) {
      int64_t whole = b * 100 / total;
      if (whole != percent) {
        percent = whole;
        VmPushValue(L, 4);
        VmNewTable(L);
        VmPushString(L, "progress");
        VmPushNumber(L, double(whole));
        VmRawSet(L, -3);
        StepCallbackNesting(true);
        code = VmPCall(L, 1, 1, 0);
        StepCallbackNesting(false);
        if (code != 0) return code;
        VmSetTop(L, -2);
        if (VmGetEndFlag(L)) return 0;
      }
      // The next byte whose count reaches the next whole percent.
      int64_t next = ((percent + 1) * total + 99) / 100;
      b = std::max(b + 1, next);
    }
    int32_t quit = 0;
    if (CheckBreak(L, 0, &quit) != 0) return 0;
  }
  return 0;
}

// GetEnv(name): the value ("" when unset) and 1 when set, else 0.
int32_t GetEnv(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  std::string value;
  bool set = GetEnvVar(CheckName(L, 1), &value);
  VmPushLString(L, value.data(), set ? value.size() : 0);
  VmPushNumber(L, set ? 1 : 0);
  return 2;
}

int32_t SetEnv(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  const char* name = CheckName(L, 1);
  const char* value = CheckName(L, 2);
  return SetEnvVar(name, value);
}

int32_t UnsetEnv(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  return UnsetEnvVar(CheckName(L, 1));
}

int32_t MD5(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  const char* name = CheckName(L, 1);
  if (*name == '\0') return ERR_WRONGUSAGE;
  qvMd5 md5;
  Md5Init(&md5);
  int32_t code = ReadWholeFile(name, [&](const uint8_t* p, size_t n) { Md5Update(&md5, p, n); });
  if (code != 0) return code;
  char hex[33];
  Md5FinalHex(&md5, hex);
  VmPushString(L, hex);
  return 1;
}

int32_t CRC32(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  const char* name = CheckName(L, 1);
  if (*name == '\0') return ERR_WRONGUSAGE;
  uint32_t crc = 0;
  int32_t code = ReadWholeFile(name, [&](const uint8_t* p, size_t n) { crc = Crc32(crc, p, n); });
  if (code != 0) return code;
  VmPushNumber(L, crc);
  return 1;
}

}  // namespace cmd

}  // namespace qv
