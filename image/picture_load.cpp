// Telling a picture's format and calling the reader of that format.
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "base/errors.h"
#include "core/vfile.h"
#include "image/bmp_reader.h"
#include "image/gif_io.h"
#include "image/ilbm_io.h"
#include "image/internal.h"
#include "image/jpeg_io.h"
#include "image/picture.h"

namespace qv {

namespace {

constexpr int64_t kHeadSize = 64;

bool HeadIs(const uint8_t* head, int offset, const char* text) {
  return std::memcmp(head + offset, text, std::strlen(text)) == 0;
}

// The BMP reader works over memory: the whole file is read first.
int LoadBmpFile(const char* name, uint32_t** outPixels, qvPictureFacts* facts) {
  qvFile* file = OpenFileQ(name, kFileRead);
  if (file == nullptr) return ERR_READFILE;
  std::vector<uint8_t> bytes;
  std::vector<uint32_t> pixels;
  int32_t width = 0;
  int32_t height = 0;
  int result = 0;
  try {
    uint8_t block[65536];
    size_t got;
    while ((got = ReadFileQ(file, block, sizeof block)) > 0)
      bytes.insert(bytes.end(), block, block + got);
    result = LoadBmp(bytes.data(), bytes.size(), &width, &height,
                     outPixels != nullptr ? &pixels : nullptr);
  } catch (const std::bad_alloc&) {
    result = ERR_MEM;
  }
  CloseFileQ(file);
  if (result != 0) return result;
  if (outPixels != nullptr) {
    auto* out = static_cast<uint32_t*>(std::malloc(pixels.size() * 4));
    if (out == nullptr) return ERR_MEM;
    std::memcpy(out, pixels.data(), pixels.size() * 4);
    *outPixels = out;
  }
  facts->width = width;
  facts->height = height;
  return 0;
}

}  // namespace

namespace image {

uint32_t* AllocPictureBlock(int64_t width, int64_t height, bool bitmapRows, int32_t* wordsPerRow) {
  constexpr int64_t kMaxPlaneBytes = int64_t(1) << 31;
  const int64_t perRow = BitMapWordsPerRow(int32_t(width));
  if (bitmapRows && perRow * 4 * (height + 1) <= kMaxPlaneBytes) {
    *wordsPerRow = int32_t(perRow);
    return static_cast<uint32_t*>(Allocate(size_t(perRow * 4 * (height + 1)), false));
  }
  *wordsPerRow = int32_t(width);
  return static_cast<uint32_t*>(Allocate(size_t(width * height * 4 + 4), false));
}

}  // namespace image

int32_t IdentifyPictureBytes(const uint8_t* bytes, int64_t size) {
  // Zeros past the end, so that a short file never matches a test that reaches beyond it.
  uint8_t head[kHeadSize] = {};
  if (bytes != nullptr && size > 0)
    std::memcpy(head, bytes, size_t(size < kHeadSize ? size : kHeadSize));
  if (HeadIs(head, 0, "FORM") && HeadIs(head, 8, "ILBM")) return kPictureIlbm;
  // Every JPEG stream opens with SOI and a marker; asking for a JFIF or Exif segment as well
  // would refuse the Adobe-marked (CMYK) files.
  if (head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) return kPictureJpeg;
  if (head[0] == 0x89 && HeadIs(head, 1, "PNG")) return kPicturePng;
  if (HeadIs(head, 0, "BM")) return kPictureBmp;
  if (std::memcmp(head, "MM\0\x2a", 4) == 0 || std::memcmp(head, "II\x2a\0", 4) == 0) {
    return kPictureTiff;
  }
  if (HeadIs(head, 0, "GIF87a") || HeadIs(head, 0, "GIF89a")) return kPictureGif;
  return kPictureUnknown;
}

int32_t IdentifyPicture(const char* name) {
  qvFile* file = OpenFileQ(name, kFileRead);
  if (file == nullptr) return kPictureUnknown;
  uint8_t head[kHeadSize] = {};
  size_t got = ReadFileQ(file, head, sizeof head);
  CloseFileQ(file);
  return IdentifyPictureBytes(head, int64_t(got));
}

namespace {

int LoadPictureAs(const char* name, const qvIlbmRequest* ilbm, bool bitmapRows,
                  uint32_t** outPixels, qvPictureFacts* facts) {
  SetErrorString(name);
  qvFile* probe = OpenFileQ(name, kFileRead);
  if (probe == nullptr) return ERR_READFILE;
  CloseFileQ(probe);
  qvPictureFacts read;
  int result = ERR_LOADPICTURE2;
  switch (IdentifyPicture(name)) {
    case kPicturePng:
      result = LoadPng(name, outPixels, &read, bitmapRows);
      break;
    case kPictureIlbm:
      result = LoadIlbm(name, ilbm, outPixels, &read);
      break;
    case kPictureJpeg:
      result = LoadJpeg(name, nullptr, 0, outPixels, &read, bitmapRows);
      break;
    case kPictureBmp:
      result = LoadBmpFile(name, outPixels, &read);
      break;
    case kPictureGif:
      result = LoadGifPicture(name, outPixels, &read);
      break;
    default:
      // TIFF pictures never have a reader.
      break;
  }
  if (result != 0) return result;
  if (read.wordsPerRow == 0) read.wordsPerRow = read.width;
  *facts = read;
  return 0;
}

}  // namespace

int LoadPicture(const char* name, const qvIlbmRequest* ilbm, uint32_t** outPixels,
                qvPictureFacts* facts) {
  return LoadPictureAs(name, ilbm, false, outPixels, facts);
}

int LoadPictureForBitMap(const char* name, const qvIlbmRequest* ilbm, uint32_t** outPixels,
                         qvPictureFacts* facts) {
  return LoadPictureAs(name, ilbm, true, outPixels, facts);
}

}  // namespace qv
