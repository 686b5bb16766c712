// Script values stored in files: functions as bytecode records ("QVF0" binary, "QVF1" Base64
// text in 72-character CRLF lines) and tables as tagged big-endian streams ("QVT0"), written at
// the file's position and read back from it, also amid other data. Every length read from a file
// is checked against the bytes left before anything is allocated; errors come back as codes, never
// as a crash. Script thread only; the machine may still raise on memory exhaustion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qv {

struct qvFile;
struct qvScriptState;

// A file with its owner's counters: every transfer moves *position, a write past *length raises
// it, and no read passes *length.
struct qvSerialFile {
  qvFile* file;
  int64_t* position;
  int64_t* length;
};

// Tables nest at most this deep, when written and when read (deeper: ERR_STACK).
inline constexpr int kMaxTableNesting = 1000;

// Reads `count` bytes: ERR_READRANGE (nothing moved) when fewer are left before the length,
// ERR_READ when the file gives fewer.
int32_t SerialRead(qvSerialFile* f, void* buffer, size_t count);
// Writes `count` bytes: ERR_WRITE when fewer were written.
int32_t SerialWrite(qvSerialFile* f, const void* buffer, size_t count);

// The function at `index` as a record; ERR_NOQVFUNC for a native function, ERR_WRITE, ERR_MEM.
int32_t WriteFunctionRecord(qvScriptState* L, int index, bool text, qvSerialFile* f);
// Pushes the function of the record at the position. ERR_READFUNC for another magic or a text
// length that is not 8 hexadecimal digits, ERR_BADBASE64, ERR_READRANGE, ERR_READ, or the
// loader's code; nothing pushed then.
int32_t ReadFunctionRecord(qvScriptState* L, qvSerialFile* f);
// The table at `index` as a record, function values in the text form when `text` is set. Pairs
// whose value is a boolean or a thread are left out; userdata values are written as 0.
// ERR_WRONGUSAGE for a key that is no number or string, or a table that contains itself;
// ERR_STACK beyond kMaxTableNesting levels; ERR_WRITE; the dump's codes; ERR_USERABORT when the
// user asks to quit while it writes.
int32_t WriteTableRecord(qvScriptState* L, int index, bool text, qvSerialFile* f);
// Pushes a new table read from the record at the position. ERR_READTABLE for another magic, an
// unknown tag or a key that cannot be one (NaN); ERR_STACK beyond kMaxTableNesting levels;
// ERR_READRANGE, ERR_READ, and the function reader's codes. Nothing pushed on failure.
int32_t ReadTableRecord(qvScriptState* L, qvSerialFile* f);

// Base64 (RFC 4648, "=" padding) with CR LF after every 72 characters but the last.
std::string Base64EncodeLines(const uint8_t* data, size_t size);
// Characters below 33 are passed over; 0, or ERR_BADBASE64 for any other character outside the
// alphabet or text that ends inside a group. Decoding stops after a group with padding.
int32_t Base64Decode(const char* text, size_t size, std::vector<uint8_t>* out);

}  // namespace qv
