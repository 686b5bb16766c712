#include "core/serial.h"

#include <cmath>
#include <cstring>
#include <new>
#include <unordered_set>
#include <vector>

#include "base/errors.h"
#include "core/vfile.h"
#include "platform/loop.h"
#include "vm/vm.h"

namespace qv {

namespace {

constexpr char kBinaryFunction[4] = {'Q', 'V', 'F', '0'};
constexpr char kTextFunction[4] = {'Q', 'V', 'F', '1'};
constexpr char kTableMagic[4] = {'Q', 'V', 'T', '0'};
constexpr size_t kBase64Line = 72;

enum : uint8_t { kTagEnd = 0, kTagNumber = 2, kTagString = 3, kTagTable = 4, kTagFunction = 5 };
enum class FunctionForm { kBinary, kText, kDetect };

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int64_t BytesLeft(const qvSerialFile* f) {
  return *f->position >= *f->length ? 0 : *f->length - *f->position;
}

bool IsHexDigit(uint8_t c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(uint8_t c) {
  if (c <= '9') return c - '0';
  return (c | 0x20) - 'a' + 10;
}

int32_t ReadU8(qvSerialFile* f, uint8_t* out) { return SerialRead(f, out, 1); }

int32_t ReadU32(qvSerialFile* f, uint32_t* out) {
  uint8_t b[4];
  int32_t code = SerialRead(f, b, 4);
  if (code == 0) *out = uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
  return code;
}

int32_t ReadDouble(qvSerialFile* f, double* out) {
  uint8_t b[8];
  int32_t code = SerialRead(f, b, 8);
  if (code != 0) return code;
  uint64_t bits = 0;
  for (uint8_t byte : b) bits = bits << 8 | byte;
  std::memcpy(out, &bits, 8);
  return 0;
}

// `count` bytes into `out`, checked against the bytes left before the allocation.
int32_t ReadBytes(qvSerialFile* f, uint64_t count, std::string* out) {
  if (count > uint64_t(BytesLeft(f))) return ERR_READRANGE;
  try {
    out->resize(size_t(count));
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
  return count == 0 ? 0 : SerialRead(f, out->data(), size_t(count));
}

int32_t WriteU8(qvSerialFile* f, uint8_t v) { return SerialWrite(f, &v, 1); }

int32_t WriteU32(qvSerialFile* f, uint32_t v) {
  const uint8_t b[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
  return SerialWrite(f, b, 4);
}

int32_t WriteDouble(qvSerialFile* f, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, 8);
  uint8_t b[8];
  for (int i = 0; i < 8; ++i) b[i] = uint8_t(bits >> (56 - 8 * i));
  return SerialWrite(f, b, 8);
}

struct DumpBuffer {
  std::string bytes;
  bool failed = false;
};

int DumpToBuffer(qvScriptState*, const void* bytes, size_t size, void* data) {
  auto* buffer = static_cast<DumpBuffer*>(data);
  if (buffer->failed) return 1;
  try {
    buffer->bytes.append(static_cast<const char*>(bytes), size);
  } catch (const std::bad_alloc&) {
    buffer->failed = true;
    return 1;
  }
  return 0;
}

// The length and the chunk of the function at `index`: 4 bytes and the chunk, or 8 hexadecimal
// digits and the chunk in Base64 lines.
int32_t WriteFunctionBody(qvScriptState* L, int index, bool text, qvSerialFile* f) {
  DumpBuffer dump;
  int32_t code = VmDump(L, index, DumpToBuffer, &dump);
  if (code != 0) return code;
  if (dump.failed) return ERR_MEM;
  if (!text) {
    if (dump.bytes.size() > UINT32_MAX) return ERR_MEM;
    code = WriteU32(f, uint32_t(dump.bytes.size()));
    return code != 0 ? code : SerialWrite(f, dump.bytes.data(), dump.bytes.size());
  }
  std::string encoded;
  try {
    encoded = Base64EncodeLines(reinterpret_cast<const uint8_t*>(dump.bytes.data()),
                                dump.bytes.size());
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
  if (encoded.size() > UINT32_MAX) return ERR_MEM;
  char length[9];
  for (int i = 0; i < 8; ++i) length[i] = "0123456789abcdef"[(encoded.size() >> (28 - 4 * i)) & 15];
  code = SerialWrite(f, length, 8);
  return code != 0 ? code : SerialWrite(f, encoded.data(), encoded.size());
}

// Reads a function body and pushes the function. kDetect takes a hexadecimal digit first as
// the text form: a binary length starting with such a byte would pass any real file's end.
int32_t ReadFunctionBody(qvScriptState* L, FunctionForm form, qvSerialFile* f) {
  uint8_t head[8];
  int32_t code = ReadU8(f, head);
  if (code != 0) return code;
  bool text = form == FunctionForm::kText || (form == FunctionForm::kDetect && IsHexDigit(head[0]));
  size_t headSize = text ? 8 : 4;
  code = SerialRead(f, head + 1, headSize - 1);
  if (code != 0) return code;
  uint64_t length = 0;
  for (size_t i = 0; i < headSize; ++i) {
    if (text) {
      if (!IsHexDigit(head[i])) return ERR_READFUNC;
      length = length << 4 | uint64_t(HexValue(head[i]));
    } else {
      length = length << 8 | head[i];
    }
  }
  std::string body;
  code = ReadBytes(f, length, &body);
  if (code != 0) return code;
  std::vector<uint8_t> decoded;
  qvChunkBuffer chunk{body.data(), body.size()};
  if (text) {
    try {
      code = Base64Decode(body.data(), body.size(), &decoded);
    } catch (const std::bad_alloc&) {
      return ERR_MEM;
    }
    if (code != 0) return code;
    chunk = {reinterpret_cast<const char*>(decoded.data()), decoded.size()};
  }
  return VmLoad(L, ChunkReader, &chunk, nullptr);
}

int32_t WriteTableBody(qvScriptState* L, int table, bool text, qvSerialFile* f,
                       std::vector<const void*>* path) {
  if (path->size() >= size_t(kMaxTableNesting)) return ERR_STACK;
  const void* self = VmToPointer(L, table);
  for (const void* t : *path) {
    if (t == self) return ERR_WRONGUSAGE;  // the stream cannot hold a cycle
  }
  if (!VmCheckStack(L, 3)) return ERR_STACK;
  path->push_back(self);
  int top = VmGetTop(L);
  int32_t code = 0;
  VmPushNil(L);
  while (code == 0 && VmNext(L, table)) {
    // A sub-table met again is written again (the format has no references), so a few levels of
    // shared tables write gigabytes: a quit is heard at every pair.
    code = SyncWindowStates();
    if (code != 0) break;
    int32_t valueType = VmType(L, -1);
    if (valueType == kTypeBoolean || valueType == kTypeThread || valueType == kTypeNil) {
      VmSetTop(L, -2);
      continue;
    }
    int32_t keyType = VmType(L, -2);
    if (keyType == kTypeNumber) {
      code = WriteU8(f, kTagNumber);
      if (code == 0) code = WriteDouble(f, VmToNumber(L, -2));
    } else if (keyType == kTypeString) {
      size_t len = VmStrLen(L, -2);
      if (len > UINT32_MAX) {
        code = ERR_WRONGUSAGE;
        break;
      }
      code = WriteU8(f, kTagString);
      if (code == 0) code = WriteU32(f, uint32_t(len));
      if (code == 0) code = SerialWrite(f, VmToString(L, -2), len);
    } else {
      code = ERR_WRONGUSAGE;
    }
    if (code != 0) break;
    switch (valueType) {
      case kTypeNumber:
        code = WriteU8(f, kTagNumber);
        if (code == 0) code = WriteDouble(f, VmToNumber(L, -1));
        break;
      case kTypeString: {
        size_t len = VmStrLen(L, -1);
        if (len > UINT32_MAX) {
          code = ERR_WRONGUSAGE;
          break;
        }
        code = WriteU8(f, kTagString);
        if (code == 0) code = WriteU32(f, uint32_t(len));
        if (code == 0) code = SerialWrite(f, VmToString(L, -1), len);
        break;
      }
      case kTypeTable:
        code = WriteU8(f, kTagTable);
        if (code == 0) code = WriteTableBody(L, VmGetTop(L), text, f, path);
        break;
      case kTypeFunction:
        code = WriteU8(f, kTagFunction);
        if (code == 0) code = WriteFunctionBody(L, VmGetTop(L), text, f);
        break;
      default:  // userdata of either kind: a number 0 holds its place
        code = WriteU8(f, kTagNumber);
        if (code == 0) code = WriteDouble(f, 0);
        break;
    }
    VmSetTop(L, -2);
  }
  VmSetTop(L, top);
  path->pop_back();
  return code != 0 ? code : WriteU8(f, kTagEnd);
}

int32_t ReadValue(qvScriptState* L, uint8_t tag, qvSerialFile* f, int depth);

// Reads a stream up to its end byte and pushes the table.
int32_t ReadTableBody(qvScriptState* L, qvSerialFile* f, int depth) {
  if (depth > kMaxTableNesting || !VmCheckStack(L, 4)) return ERR_STACK;
  int top = VmGetTop(L);
  VmNewTable(L);
  int table = top + 1;
  for (;;) {
    uint8_t tag;
    int32_t code = ReadU8(f, &tag);
    if (code == 0 && tag == kTagEnd) return 0;
    if (code == 0) {
      if (tag == kTagNumber) {
        double key;
        code = ReadDouble(f, &key);
        if (code == 0 && std::isnan(key)) code = ERR_READTABLE;
        if (code == 0) VmPushNumber(L, key);
      } else if (tag == kTagString) {
        uint32_t len;
        std::string key;
        code = ReadU32(f, &len);
        if (code == 0) code = ReadBytes(f, len, &key);
        if (code == 0) VmPushLString(L, key.data(), key.size());
      } else {
        code = ERR_READTABLE;
      }
    }
    if (code == 0) code = ReadU8(f, &tag);
    if (code == 0) code = ReadValue(L, tag, f, depth);
    if (code != 0) {
      VmSetTop(L, top);
      return code;
    }
    VmRawSet(L, table);
  }
}

int32_t ReadValue(qvScriptState* L, uint8_t tag, qvSerialFile* f, int depth) {
  switch (tag) {
    case kTagNumber: {
      double v;
      int32_t code = ReadDouble(f, &v);
      if (code == 0) VmPushNumber(L, v);
      return code;
    }
    case kTagString: {
      uint32_t len;
      std::string v;
      int32_t code = ReadU32(f, &len);
      if (code == 0) code = ReadBytes(f, len, &v);
      if (code == 0) VmPushLString(L, v.data(), v.size());
      return code;
    }
    case kTagTable:
      return ReadTableBody(L, f, depth + 1);
    case kTagFunction:
      return ReadFunctionBody(L, FunctionForm::kDetect, f);
    default:
      return ERR_READTABLE;
  }
}

}  // namespace

int32_t SerialRead(qvSerialFile* f, void* buffer, size_t count) {
  if (uint64_t(BytesLeft(f)) < count) return ERR_READRANGE;
  size_t n = ReadFileQ(f->file, buffer, count);
  *f->position += int64_t(n);
  return n == count ? 0 : ShortReadError(f->file);
}

int32_t SerialWrite(qvSerialFile* f, const void* buffer, size_t count) {
  size_t n = count == 0 ? 0 : WriteFileQ(f->file, buffer, count);
  *f->position += int64_t(n);
  if (*f->position > *f->length) *f->length = *f->position;
  return n == count ? 0 : ERR_WRITE;
}

int32_t WriteFunctionRecord(qvScriptState* L, int index, bool text, qvSerialFile* f) {
  index = index < 0 ? VmGetTop(L) + index + 1 : index;
  if (VmType(L, index) != kTypeFunction || VmIsCFunction(L, index)) return ERR_NOQVFUNC;
  int32_t code = SerialWrite(f, text ? kTextFunction : kBinaryFunction, 4);
  return code != 0 ? code : WriteFunctionBody(L, index, text, f);
}

int32_t ReadFunctionRecord(qvScriptState* L, qvSerialFile* f) {
  char magic[4];
  int32_t code = SerialRead(f, magic, 4);
  if (code != 0) return code;
  if (std::memcmp(magic, kBinaryFunction, 4) == 0) {
    return ReadFunctionBody(L, FunctionForm::kBinary, f);
  }
  if (std::memcmp(magic, kTextFunction, 4) == 0) {
    return ReadFunctionBody(L, FunctionForm::kText, f);
  }
  return ERR_READFUNC;
}

// What WriteTableBody would refuse, found before a byte is written, so that a refused table
// leaves no partial record in the file: a cycle, a key that is no number or string, a string too
// long for its count, nesting past the limit, a native function. A table already found sound is
// not walked again (`sound`), so tables shared many times cost one walk.
static int32_t CheckTableBody(qvScriptState* L, int table, std::vector<const void*>* path,
                              std::unordered_set<const void*>* sound) {
  if (path->size() >= size_t(kMaxTableNesting)) return ERR_STACK;
  const void* self = VmToPointer(L, table);
  if (sound->count(self) != 0) return 0;
  for (const void* t : *path) {
    if (t == self) return ERR_WRONGUSAGE;
  }
  if (!VmCheckStack(L, 3)) return ERR_STACK;
  path->push_back(self);
  int top = VmGetTop(L);
  int32_t code = 0;
  VmPushNil(L);
  while (code == 0 && VmNext(L, table)) {
    int32_t valueType = VmType(L, -1);
    if (valueType == kTypeBoolean || valueType == kTypeThread || valueType == kTypeNil) {
      VmSetTop(L, -2);
      continue;
    }
    int32_t keyType = VmType(L, -2);
    if ((keyType != kTypeNumber && keyType != kTypeString) ||
        (keyType == kTypeString && VmStrLen(L, -2) > UINT32_MAX) ||
        (valueType == kTypeString && VmStrLen(L, -1) > UINT32_MAX)) {
      code = ERR_WRONGUSAGE;
    } else if (valueType == kTypeTable) {
      code = CheckTableBody(L, VmGetTop(L), path, sound);
    } else if (valueType == kTypeFunction && VmIsCFunction(L, -1)) {
      code = ERR_NOQVFUNC;
    }
    VmSetTop(L, -2);
  }
  VmSetTop(L, top);
  path->pop_back();
  if (code == 0) sound->insert(self);
  return code;
}

int32_t WriteTableRecord(qvScriptState* L, int index, bool text, qvSerialFile* f) {
  index = index < 0 ? VmGetTop(L) + index + 1 : index;
  {
    std::vector<const void*> path;
    std::unordered_set<const void*> sound;
    int32_t code = CheckTableBody(L, index, &path, &sound);
    if (code != 0) return code;
  }
  int32_t code = SerialWrite(f, kTableMagic, 4);
  if (code != 0) return code;
  std::vector<const void*> path;
  return WriteTableBody(L, index, text, f, &path);
}

int32_t ReadTableRecord(qvScriptState* L, qvSerialFile* f) {
  char magic[4];
  int32_t code = SerialRead(f, magic, 4);
  if (code != 0) return code;
  if (std::memcmp(magic, kTableMagic, 4) != 0) return ERR_READTABLE;
  return ReadTableBody(L, f, 1);
}

std::string Base64EncodeLines(const uint8_t* data, size_t size) {
  std::string out;
  out.reserve(size / 3 * 4 + size / 54 * 2 + 8);
  size_t onLine = 0;
  auto put = [&](char c) {
    if (onLine == kBase64Line) {
      out += "\r\n";
      onLine = 0;
    }
    out += c;
    ++onLine;
  };
  size_t i = 0;
  for (; i + 3 <= size; i += 3) {
    uint32_t v = uint32_t(data[i]) << 16 | uint32_t(data[i + 1]) << 8 | data[i + 2];
    put(kAlphabet[v >> 18]);
    put(kAlphabet[(v >> 12) & 63]);
    put(kAlphabet[(v >> 6) & 63]);
    put(kAlphabet[v & 63]);
  }
  if (size - i == 1) {
    uint32_t v = uint32_t(data[i]) << 16;
    put(kAlphabet[v >> 18]);
    put(kAlphabet[(v >> 12) & 63]);
    put('=');
    put('=');
  } else if (size - i == 2) {
    uint32_t v = uint32_t(data[i]) << 16 | uint32_t(data[i + 1]) << 8;
    put(kAlphabet[v >> 18]);
    put(kAlphabet[(v >> 12) & 63]);
    put(kAlphabet[(v >> 6) & 63]);
    put('=');
  }
  return out;
}

int32_t Base64Decode(const char* text, size_t size, std::vector<uint8_t>* out) {
  out->clear();
  out->reserve(size / 4 * 3);
  int group[4];
  int n = 0;
  for (size_t i = 0; i < size; ++i) {
    auto c = uint8_t(text[i]);
    if (c < 33) continue;
    int v;
    if (c == '=') {
      // Padding only in the last two places of a group.
      if (n < 2) return ERR_BADBASE64;
      v = -1;
    } else {
      const char* hit = c != 0 ? std::strchr(kAlphabet, c) : nullptr;
      if (hit == nullptr) return ERR_BADBASE64;
      v = int(hit - kAlphabet);
      if (n == 3 && group[2] < 0) return ERR_BADBASE64;  // "=" then a letter
    }
    group[n++] = v;
    if (n < 4) continue;
    uint32_t bits = uint32_t(group[0]) << 18 | uint32_t(group[1]) << 12 |
                    uint32_t(group[2] < 0 ? 0 : group[2]) << 6 |
                    uint32_t(group[3] < 0 ? 0 : group[3]);
    out->push_back(uint8_t(bits >> 16));
    if (group[2] >= 0) out->push_back(uint8_t(bits >> 8));
    if (group[3] >= 0) out->push_back(uint8_t(bits));
    if (group[3] < 0) return 0;  // decoding stops after a group with padding
    n = 0;
  }
  return n == 0 ? 0 : ERR_BADBASE64;
}

}  // namespace qv
