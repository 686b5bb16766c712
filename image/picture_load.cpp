// Telling a picture's format and calling the reader of that format.
#include <cstring>

#include "base/errors.h"
#include "core/vfile.h"
#include "image/picture.h"

namespace qv {

namespace {

constexpr int64_t kHeadSize = 64;

bool HeadIs(const uint8_t* head, int offset, const char* text) {
  return std::memcmp(head + offset, text, std::strlen(text)) == 0;
}

}  // namespace

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

int LoadPicture(const char* name, const qvIlbmRequest* /*ilbm*/, uint32_t** outPixels,
                qvPictureFacts* facts) {
  SetErrorString(name);
  qvFile* probe = OpenFileQ(name, kFileRead);
  if (probe == nullptr) return ERR_READFILE;
  CloseFileQ(probe);
  qvPictureFacts read;
  int result = ERR_LOADPICTURE2;
  switch (IdentifyPicture(name)) {
    case kPicturePng:
      result = LoadPng(name, outPixels, &read);
      break;
    default:
      // ILBM, JPEG, BMP and GIF pictures have no reader yet; TIFF never has one.
      break;
  }
  if (result != 0) return result;
  *facts = read;
  return 0;
}

}  // namespace qv
