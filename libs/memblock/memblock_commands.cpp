// Raw memory blocks: allocated and freed by id, numbers read and written big-endian (and read
// back unsigned) at byte offsets, strings, fills, copies, transfers to and from the dos library's
// open files, and hexadecimal dumps. Every range is computed in 64 bits, so no offset near the
// ends of the 32-bit range slips past a check.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/errors.h"
#include "base/support.h"
#include "core/args.h"
#include "core/registry.h"
#include "core/vfile.h"
#include "libs/dos/dos_files.h"
#include "libs/libraries.h"
#include "libs/memblock/commands.h"
#include "libs/memblock/memblocks.h"
#include "platform/textout.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {

namespace {

// Type codes of the system library's constants.
constexpr int32_t kMemInteger = 1;
constexpr int32_t kMemString = 3;
constexpr int32_t kMemShort = 6;
constexpr int32_t kMemByte = 7;

qvObjectHeader* gBlocks = nullptr;

void FreeBlock(qvScriptState* L, qvMemBlock* b) {
  for (qvObjectHeader** p = &gBlocks; *p != nullptr; p = &(*p)->next) {
    if (*p == &b->header) {
      *p = b->header.next;
      break;
    }
  }
  std::free(b->bytes);
  FreeObjectData(L, &b->header);
  std::free(b);
}

int32_t FindBlockArg(qvScriptState* L, int index, qvMemBlock** out) {
  return FindMemBlock(CheckObjectId(L, index), out);
}

// True when [offset, offset + count) lies inside the block.
bool InBlock(const qvMemBlock* b, int64_t offset, int64_t count) {
  return offset >= 0 && count >= 0 && offset + count <= int64_t(b->size);
}

void PutBigEndian(uint8_t* at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = uint8_t(value >> (8 * (bytes - 1 - i)));
}

uint32_t GetBigEndian(const uint8_t* at, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v = v << 8 | at[i];
  return v;
}

int WidthOf(int32_t type) {
  switch (type) {
    case kMemInteger:
      return 4;
    case kMemShort:
      return 2;
    case kMemByte:
      return 1;
    default:
      return 0;
  }
}

}  // namespace

int32_t RegisterMemBlocks() { return RegisterObjectList(&gBlocks); }

void FreeMemBlockLibrary(qvScriptState* L) {
  while (gBlocks != nullptr) FreeBlock(L, reinterpret_cast<qvMemBlock*>(gBlocks));
}

int32_t FindMemBlock(qvObjectId id, qvMemBlock** out) {
  return FindObjectAs(kObjectMemory, id, ERR_FINDMEMBLK, out);
}

namespace cmd {

// AllocMem(id or Nil, size): a block of that many bytes, not cleared.
int32_t AllocMem(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvOptionalId id = OptObjectId(L, 1);
  int32_t size = VmCheckInt(L, 2);
  if (!id.automatic) {
    if (auto* old = reinterpret_cast<qvMemBlock*>(
            FindObject(kObjectMemory, {id.number, nullptr}))) {
      FreeBlock(L, old);
    }
  }
  if (size <= 0) return ERR_MEM;
  auto* b = static_cast<qvMemBlock*>(AllocVecQ(sizeof(qvMemBlock), true));
  if (b == nullptr) return ERR_MEM;
  b->bytes = static_cast<uint8_t*>(std::malloc(size_t(size)));
  if (b->bytes == nullptr) {
    std::free(b);
    return ERR_MEM;
  }
  b->size = size;
  AddObject(&gBlocks, &b->header, kObjectMemory, id.number, id.automatic);
  return PushNewObjectId(L, id, b);
}

int32_t FreeMem(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvMemBlock* b;
  int32_t code = FindBlockArg(L, 1, &b);
  if (code != 0) return code;
  FreeBlock(L, b);
  return 0;
}

// Peek(id, offset, type = INTEGER, count = 0)
int32_t Peek(qvScriptState* L) {
  CheckArgCount(L, 2, 4);
  qvMemBlock* b;
  int32_t code = FindBlockArg(L, 1, &b);
  if (code != 0) return code;
  int64_t offset = VmCheckInt(L, 2);
  int32_t type = VmOptInt(L, 3, kMemInteger);
  int64_t count = VmOptInt(L, 4, 0);
  if (offset < 0) return ERR_MEMRANGE;
  if (type == kMemString) {
    if (count < 0) return ERR_WRONGUSAGE;
    if (count == 0) {
      if (!InBlock(b, offset, 1)) return ERR_MEMRANGE;
      int64_t end = offset;
      while (end < b->size) {
        int c = b->bytes[end];
        if (!IsGraphChar(c) && c != ' ' && c != '\t' && c != '\n' && c != '\r') break;
        ++end;
      }
      count = end - offset;
    } else if (!InBlock(b, offset, count)) {
      return ERR_MEMRANGE;
    }
    VmPushLString(L, reinterpret_cast<const char*>(b->bytes + offset), size_t(count));
    return 1;
  }
  int width = WidthOf(type);
  if (width == 0) return ERR_WRONGUSAGE;
  if (!InBlock(b, offset, width)) return ERR_MEMRANGE;
  VmPushNumber(L, GetBigEndian(b->bytes + offset, width));
  return 1;
}

// Poke(id, offset, value, type = INTEGER)
int32_t Poke(qvScriptState* L) {
  CheckArgCount(L, 3, 4);
  qvMemBlock* b;
  int32_t code = FindBlockArg(L, 1, &b);
  if (code != 0) return code;
  int64_t offset = VmCheckInt(L, 2);
  int32_t type = VmOptInt(L, 4, kMemInteger);
  if (offset < 0) return ERR_MEMRANGE;
  if (type == kMemString) {
    size_t len = 0;
    const char* text = VmCheckString(L, 3, &len);
    if (!InBlock(b, offset, int64_t(len) + 1)) return ERR_MEMRANGE;
    std::memcpy(b->bytes + offset, text, len);
    b->bytes[offset + int64_t(len)] = 0;
    return 0;
  }
  int width = WidthOf(type);
  if (width == 0) return ERR_WRONGUSAGE;
  uint32_t value = uint32_t(VmCheckInt(L, 3));
  if (!InBlock(b, offset, width)) return ERR_MEMRANGE;
  PutBigEndian(b->bytes + offset, value, width);
  return 0;
}

// FillMem(id, value, count, offset = 0, type = BYTE)
int32_t FillMem(qvScriptState* L) {
  CheckArgCount(L, 3, 5);
  qvMemBlock* b;
  int32_t code = FindBlockArg(L, 1, &b);
  if (code != 0) return code;
  uint32_t value = uint32_t(VmCheckInt(L, 2));
  int64_t count = VmCheckInt(L, 3);
  int64_t offset = VmOptInt(L, 4, 0);
  int32_t type = VmOptInt(L, 5, kMemByte);
  if (count < 1) return 0;
  if (!InBlock(b, offset, count)) return ERR_MEMRANGE;
  int width = WidthOf(type);
  if (width == 0 || offset % width != 0 || count % width != 0) return ERR_WRONGUSAGE;
  for (int64_t at = offset; at < offset + count; at += width) {
    PutBigEndian(b->bytes + at, value, width);
  }
  return 0;
}

// CopyMem(source, destination, count, source offset = 0, destination offset = 0)
int32_t CopyMem(qvScriptState* L) {
  CheckArgCount(L, 3, 5);
  int64_t count = VmCheckInt(L, 3);
  int64_t from = VmOptInt(L, 4, 0);
  int64_t to = VmOptInt(L, 5, 0);
  if (from < 0 || to < 0) return ERR_MEMRANGE;
  qvMemBlock *src, *dst;
  int32_t code = FindBlockArg(L, 1, &src);
  if (code == 0) code = FindBlockArg(L, 2, &dst);
  if (code != 0) return code;
  if (src == dst) return ERR_WRONGUSAGE;
  if (count < 1) return 0;
  if (!InBlock(src, from, count) || !InBlock(dst, to, count)) return ERR_MEMRANGE;
  std::memcpy(dst->bytes + to, src->bytes + from, size_t(count));
  return 0;
}

// ReadMem(file, block, count, offset = 0): bytes from the file's position into the block.
int32_t ReadMem(qvScriptState* L) {
  CheckArgCount(L, 3, 4);
  qvDosFile* f;
  int32_t code = FindReadableFile(L, 1, &f);
  if (code != 0) return code;
  qvMemBlock* b;
  code = FindBlockArg(L, 2, &b);
  if (code != 0) return code;
  int64_t count = VmCheckInt(L, 3);
  int64_t offset = VmOptInt(L, 4, 0);
  if (offset < 0) return ERR_WRONGUSAGE;
  if (count < 1) return 0;
  if (!InBlock(b, offset, count)) return ERR_MEMRANGE;
  size_t n = ReadFileQ(f->file, b->bytes + offset, size_t(count));
  f->position += int64_t(n);
  return n == size_t(count) ? 0 : ERR_READ;
}

// WriteMem(file, block, count, offset = 0): bytes of the block at the file's position.
int32_t WriteMem(qvScriptState* L) {
  CheckArgCount(L, 3, 4);
  qvDosFile* f;
  int32_t code = FindWritableFile(L, 1, &f);
  if (code != 0) return code;
  qvMemBlock* b;
  code = FindBlockArg(L, 2, &b);
  if (code != 0) return code;
  int64_t count = VmCheckInt(L, 3);
  int64_t offset = VmOptInt(L, 4, 0);
  if (offset < 0) return ERR_WRONGUSAGE;
  if (count < 1) return 0;
  if (!InBlock(b, offset, count)) return ERR_MEMRANGE;
  return WriteDosBytes(f, b->bytes + offset, size_t(count));
}

// DumpMem(id, count = whole block, offset = 0): 16 bytes a line as hexadecimal and text.
int32_t DumpMem(qvScriptState* L) {
  CheckArgCount(L, 1, 3);
  qvMemBlock* b;
  int32_t code = FindBlockArg(L, 1, &b);
  if (code != 0) return code;
  int64_t count = VmOptInt(L, 2, 0);
  int64_t offset = VmOptInt(L, 3, 0);
  if (offset < 0) return ERR_WRONGUSAGE;
  if (count < 1) count = b->size - offset;
  if (!InBlock(b, offset, count)) return ERR_MEMRANGE;
  std::string text;
  for (int64_t line = 0; line < count; line += 16) {
    char part[16];
    std::snprintf(part, sizeof part, "%.8x: ", unsigned(offset + line));
    text += part;
    int64_t n = std::min<int64_t>(16, count - line);
    for (int64_t i = 0; i < 16; ++i) {
      if (i < n) {
        std::snprintf(part, sizeof part, "%.2x ", b->bytes[offset + line + i]);
        text += part;
      } else {
        text += "   ";
      }
    }
    for (int64_t i = 0; i < n; ++i) {
      int c = b->bytes[offset + line + i];
      text += IsGraphChar(c) || c == ' ' ? char(c) : '.';
    }
    text += '\n';
  }
  OutputText(text.c_str());
  return 0;
}

}  // namespace cmd

}  // namespace qv
