// Compressed files: a four-byte magic, four reserved bytes and one zlib stream of the file's
// bytes. The dos library's files use "QVPK", compressed applets "QVZ" and a zero byte. Both
// directions stream through two 16384-byte buffers, so any file size takes constant memory.
#pragma once

#include <cstdint>

namespace qv {

inline constexpr char kPackMagic[4] = {'Q', 'V', 'P', 'K'};
inline constexpr char kAppletPackMagic[4] = {'Q', 'V', 'Z', '\0'};

// A zlib result as an error code: Z_VERSION_ERROR ERR_ZLIBVERSION, Z_MEM_ERROR ERR_MEM,
// Z_DATA_ERROR ERR_ZLIBDATA, Z_STREAM_ERROR ERR_ZLIBSTREAM, Z_ERRNO ERR_ZLIBIO, anything else
// ERR_UNKNOWN.
int MapZlibError(int zlibResult);

// Compresses `source` (any name the file routines take) into `dest`, through a new file beside it
// that replaces it only when complete (WriteBeside): a failure, a full disk or a killed run leaves
// an old destination as it was. `size` gets the destination's length, header included. Returns 0,
// ERR_MEM, ERR_READFILE or ERR_WRITEFILE (with the name that does not open stored as the error's
// text argument), ERR_WRONGUSAGE when `dest` is the source's own file, ERR_READ on a short read,
// ERR_WRITE on a short write, or a zlib error.
int PackFile(const char magic[4], const char* source, const char* dest, uint64_t* size);
// Checks the magic at `offset` in `source` (ERR_PAKFORMAT when it differs; no destination is made
// then) and inflates the stream behind it into `dest` by the same road as PackFile; `size` (may be
// null) gets the bytes inflated. A stream that ends early gives ERR_ZLIBDATA. A destination that
// cannot take the bytes (a full file system) gives ERR_WRITEFILE with its name as the text
// argument. A small file may inflate to gigabytes: a quit request (QuitRequested) stops the
// inflation within a 16384-byte block with ERR_USERABORT. Whatever fails, an old destination stays
// as it was and no partial one is left. Other codes as for PackFile.
int UnpackFile(const char magic[4], const char* source, const char* dest, uint64_t offset,
               uint64_t* size);

// PackFile with "QVPK"; `size` gets the destination's size as an unsigned 32-bit number.
int CompressFile(const char* source, const char* dest, uint32_t* size);
// UnpackFile with "QVPK" at offset 0; `size` gets the decompressed size as 32 bits.
int DecompressFile(const char* source, const char* dest, uint32_t* size);

}  // namespace qv
