// The dos library's open files, for the libraries that read and write them too (sound, memblock)
// and for the dos commands themselves. A file object keeps its own position and length: every
// transfer moves them, so a read past the known end is refused before any byte moves.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/registry.h"

namespace qv {

struct qvFile;

// Access of a file object.
enum : int32_t { kDosAccessRead = 0, kDosAccessWrite = 1, kDosAccessReadWrite = 2 };

struct qvDosFile {
  qvObjectHeader header;  // type FILE
  int32_t openArg;        // the mode the script gave
  int32_t access;
  int64_t position;  // the current byte offset
  int64_t length;    // taken at open, raised by writes
  qvFile* file;
};

// The file object of that id: 0 with *out set; ERR_FINDARRAY for a handle that names none,
// ERR_FINDFILE (the number stored) for a number.
int32_t FindFile(qvObjectId id, qvDosFile** out);
// The file object of argument `index`, checked for reading (ERR_WRITEONLY) or writing
// (ERR_READONLY); raises through the machine on a bad argument. 0 or the error code.
int32_t FindReadableFile(qvScriptState* L, int index, qvDosFile** out);
int32_t FindWritableFile(qvScriptState* L, int index, qvDosFile** out);

// Reads `count` bytes into `buffer`. With a record: ERR_READRANGE, moving nothing, when they
// would pass its length; its position grows by the bytes read. Fewer bytes give ERR_READ. Unless
// `raw`, counts 2, 4 and 8 are turned from big-endian into the host's order.
int32_t ReadBigEndianValue(qvDosFile* record, qvFile* file, void* buffer, bool raw, size_t count);
// Writes `count` bytes at the record's position; the position grows by the bytes written and the
// length follows it. ERR_WRITE when fewer were written.
int32_t WriteDosBytes(qvDosFile* record, const void* buffer, size_t count);
// Moves the record and its file to `position` (0 .. length): 0, or ERR_SEEK.
int32_t SeekDosFile(qvDosFile* record, int64_t position);

}  // namespace qv
