// Packing and unpacking files with zlib.
#include "core/compress.h"

#include <zlib.h>

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "core/error_table.h"
#include "core/errors.h"
#include "core/vfile.h"
#include "platform/files.h"
#include "platform/loop.h"

namespace qv {

namespace {

constexpr size_t kBlock = 16384;

struct FileCloser {
  void operator()(qvFile* f) const { CloseFileQ(f); }
};
using FilePtr = std::unique_ptr<qvFile, FileCloser>;

// Closes the destination, which flushes what is still buffered: a failure there is a failed
// write like any other.
int FinishDestination(FilePtr& dest, int result) {
  if (!CloseFileQ(dest.release()) && result == 0) result = ERR_WRITE;
  return result;
}

// A failed open: the name goes to the message.
int Failed(int code, const char* name) {
  SetErrorString(name);
  return code;
}

}  // namespace

int MapZlibError(int zlibResult) {
  switch (zlibResult) {
    case Z_VERSION_ERROR:
      return ERR_ZLIBVERSION;
    case Z_MEM_ERROR:
      return ERR_MEM;
    case Z_DATA_ERROR:
      return ERR_ZLIBDATA;
    case Z_STREAM_ERROR:
      return ERR_ZLIBSTREAM;
    case Z_ERRNO:
      return ERR_ZLIBIO;
    default:
      return ERR_UNKNOWN;
  }
}

int PackFile(const char magic[4], const char* source, const char* dest, uint64_t* size) {
  std::vector<unsigned char> in, out;
  try {
    in.resize(kBlock);
    out.resize(kBlock);
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
  FilePtr src(OpenFileQ(source, kFileRead));
  if (!src) return Failed(ERR_READFILE, source);
  // The new file replaces the destination: never when that is the source's own file.
  if (IsSameFile(source, dest)) return ERR_WRONGUSAGE;
  return WriteBeside(dest, [&](const char* temp) -> int32_t {
    FilePtr dst(OpenFileQ(temp, kFileWrite));
    if (!dst) return ERR_WRITEFILE;
    static const unsigned char kReserved[4] = {0, 0, 0, 0};
    if (WriteFileQ(dst.get(), magic, 4) != 4 || WriteFileQ(dst.get(), kReserved, 4) != 4) {
      return FinishDestination(dst, ERR_WRITE);
    }
    z_stream strm{};
    int ret = deflateInit(&strm, Z_DEFAULT_COMPRESSION);
    if (ret != Z_OK) return FinishDestination(dst, MapZlibError(ret));

    int result = 0;
    int flush = Z_NO_FLUSH;
    while (result == 0 && flush != Z_FINISH) {
      size_t n = ReadFileQ(src.get(), in.data(), kBlock);
      if (n < kBlock && !EofFileQ(src.get())) {
        result = ERR_READ;
        break;
      }
      flush = EofFileQ(src.get()) ? Z_FINISH : Z_NO_FLUSH;
      strm.next_in = in.data();
      strm.avail_in = uInt(n);
      do {
        strm.next_out = out.data();
        strm.avail_out = uInt(kBlock);
        ret = deflate(&strm, flush);
        if (ret == Z_STREAM_ERROR) {
          result = MapZlibError(ret);
          break;
        }
        size_t have = kBlock - strm.avail_out;
        if (have > 0 && WriteFileQ(dst.get(), out.data(), have) != have) {
          result = ERR_WRITE;
          break;
        }
      } while (strm.avail_out == 0);
    }
    deflateEnd(&strm);
    if (size) *size = uint64_t(SeekFileQ(dst.get(), 0, kSeekCurrent));
    return FinishDestination(dst, result);
  });
}

int UnpackFile(const char magic[4], const char* source, const char* dest, uint64_t offset,
               uint64_t* size) {
  std::vector<unsigned char> in, out;
  try {
    in.resize(kBlock);
    out.resize(kBlock);
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
  FilePtr src(OpenFileQ(source, kFileRead));
  if (!src) return Failed(ERR_READFILE, source);
  if (offset > uint64_t(INT64_MAX)) return ERR_PAKFORMAT;
  SeekFileQ(src.get(), int64_t(offset), kSeekStart);
  unsigned char head[4];
  if (ReadFileQ(src.get(), head, 4) != 4 || std::memcmp(head, magic, 4) != 0) {
    return ERR_PAKFORMAT;
  }
  SeekFileQ(src.get(), 4, kSeekCurrent);  // the reserved word
  if (IsSameFile(source, dest)) return ERR_WRONGUSAGE;
  return WriteBeside(dest, [&](const char* temp) -> int32_t {
    FilePtr dst(OpenFileQ(temp, kFileWrite));
    if (!dst) return ERR_WRITEFILE;
    z_stream strm{};
    int ret = inflateInit(&strm);
    if (ret != Z_OK) return FinishDestination(dst, MapZlibError(ret));

    int result = 0;
    bool ended = false;
    while (result == 0 && !ended) {
      size_t n = ReadFileQ(src.get(), in.data(), kBlock);
      if (n < kBlock && !EofFileQ(src.get())) {
        result = ERR_READ;
        break;
      }
      if (n == 0) break;
      strm.next_in = in.data();
      strm.avail_in = uInt(n);
      do {
        strm.next_out = out.data();
        strm.avail_out = uInt(kBlock);
        ret = inflate(&strm, Z_NO_FLUSH);
        if (ret == Z_NEED_DICT) ret = Z_DATA_ERROR;
        if (ret == Z_DATA_ERROR || ret == Z_MEM_ERROR || ret == Z_STREAM_ERROR) {
          result = MapZlibError(ret);
          break;
        }
        size_t have = kBlock - strm.avail_out;
        if (have > 0 && WriteFileQ(dst.get(), out.data(), have) != have) {
          result = ERR_WRITEFILE;
          break;
        }
        if (QuitRequested()) {
          result = ERR_USERABORT;
          break;
        }
      } while (strm.avail_out == 0 && ret != Z_STREAM_END);
      ended = ret == Z_STREAM_END;
    }
    inflateEnd(&strm);
    if (result == 0 && !ended) result = ERR_ZLIBDATA;
    if (size) *size = uint64_t(SeekFileQ(dst.get(), 0, kSeekCurrent));
    if (!CloseFileQ(dst.release()) && result == 0) result = ERR_WRITEFILE;
    return result;
  });
}

int CompressFile(const char* source, const char* dest, uint32_t* size) {
  uint64_t full = 0;
  int result = PackFile(kPackMagic, source, dest, &full);
  if (size) *size = uint32_t(full);
  return result;
}

int DecompressFile(const char* source, const char* dest, uint32_t* size) {
  uint64_t full = 0;
  int result = UnpackFile(kPackMagic, source, dest, 0, &full);
  if (size) *size = uint32_t(full);
  return result;
}

}  // namespace qv
