// Saving bitmaps as picture files: the ARGB words built from a bitmap with its mask or alpha
// channel, the table of built-in writers by format, and the 24-bit BMP writer.
#include <cstdlib>
#include <new>
#include <vector>

#include "base/errors.h"
#include "core/plugins.h"
#include "core/vfile.h"
#include "display/display.h"
#include "image/gif_io.h"
#include "image/ilbm_io.h"
#include "image/image.h"
#include "image/jpeg_io.h"
#include "image/picture.h"
#include "image/quantize.h"

namespace qv {

namespace {

void PutU16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void PutU32(uint8_t* p, uint32_t v) {
  PutU16(p, v);
  PutU16(p + 2, v >> 16);
}

// 24 bits a pixel, rows bottom first, each padded by width mod 4 bytes to a multiple of 4.
int WriteBmp(const qvSavePicture& picture) {
  const int32_t width = picture.width;
  const int32_t height = picture.height;
  if (picture.pixels == nullptr || width < 1 || height < 1) return ERR_WRONGUSAGE;
  int64_t rowBytes = int64_t{width} * 3 + width % 4;
  int64_t fileSize = rowBytes * height + 54;
  if (fileSize > 0xFFFFFFFFll) return ERR_MEM;
  std::vector<uint8_t> row;
  try {
    row.resize(static_cast<size_t>(rowBytes));
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
  qvFile* file = OpenFileQ(picture.file, kFileWrite);
  if (file == nullptr) {
    SetErrorString(picture.file);
    return ERR_WRITEFILE;
  }
  uint8_t header[54] = {'B', 'M'};
  PutU32(header + 2, static_cast<uint32_t>(fileSize));
  PutU32(header + 10, 54);
  PutU32(header + 14, 40);
  PutU32(header + 18, static_cast<uint32_t>(width));
  PutU32(header + 22, static_cast<uint32_t>(height));
  PutU16(header + 26, 1);
  PutU16(header + 28, 24);
  bool ok = WriteFileQ(file, header, sizeof header) == sizeof header;
  for (int32_t y = height - 1; ok && y >= 0; --y) {
    const uint32_t* in = picture.pixels + static_cast<size_t>(y) * width;
    for (int32_t x = 0; x < width; ++x) {
      uint32_t p = in[x];
      row[static_cast<size_t>(x) * 3] = static_cast<uint8_t>(p);
      row[static_cast<size_t>(x) * 3 + 1] = static_cast<uint8_t>(p >> 8);
      row[static_cast<size_t>(x) * 3 + 2] = static_cast<uint8_t>(p >> 16);
    }
    ok = WriteFileQ(file, row.data(), row.size()) == row.size();
  }
  if (!CloseFileQ(file) || !ok) {
    SetErrorString(picture.file);
    return ERR_WRITEFILE;
  }
  return 0;
}

int WritePng(const qvSavePicture& picture) {
  return SavePngSnapshot(picture.file, picture.pixels, picture.width, picture.height,
                         picture.alpha);
}

// JPEG and ILBM pictures are made whole in memory, then written in one piece.
int WriteEncoded(const char* file, const std::vector<uint8_t>& bytes) {
  qvFile* out = OpenFileQ(file, kFileWrite);
  if (out == nullptr) return ERR_WRITEFILE;
  bool ok = bytes.empty() || WriteFileQ(out, bytes.data(), bytes.size()) == bytes.size();
  ok = CloseFileQ(out) != 0 && ok;
  return ok ? 0 : ERR_WRITEFILE;
}

int WriteJpeg(const qvSavePicture& picture) {
  SetErrorString(picture.file);
  qvJpegRequest request;
  request.pixels = picture.pixels;
  request.bytesPerRow = int64_t{picture.width} * 4;
  request.width = picture.width;
  request.height = picture.height;
  request.quality = picture.quality;
  std::vector<uint8_t> bytes;
  int code = SaveJpeg(request, &bytes);
  return code != 0 ? code : WriteEncoded(picture.file, bytes);
}

int WriteIlbm(const qvSavePicture& picture) {
  SetErrorString(picture.file);
  std::vector<uint8_t> bytes;
  int code = EncodeIlbm(picture.pixels, int64_t{picture.width} * 4, picture.width, picture.height,
                        &bytes);
  return code != 0 ? code : WriteEncoded(picture.file, bytes);
}

// Quantised to at most the asked colours, with one spare entry reserved: a frame written without
// a transparent pen marks its last entry transparent, so no pixel may use that entry.
int WriteGif(const qvSavePicture& picture) {
  const int32_t width = picture.width;
  const int32_t height = picture.height;
  if (picture.pixels == nullptr || width < 1 || height < 1 || picture.colours < 2 ||
      picture.colours > 256) {
    return ERR_WRONGUSAGE;
  }
  std::vector<uint8_t> pens;
  try {
    pens.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
  uint32_t palette[256] = {};
  int32_t colours = picture.colours;
  if (!QuantizeBitMap(reinterpret_cast<const uint8_t*>(picture.pixels), kPixARGB32, 4, width,
                      height, width, pens.data(), palette, &colours, kNoTransparentRGB, true,
                      picture.dither != 0)) {
    return ERR_MEM;
  }
  qvGifWriter* writer = nullptr;
  int code = SaveGif(picture.file, width, height, &writer);
  if (code != 0) return code;
  qvGifFrame frame;
  frame.pens = pens.data();
  frame.width = width;
  frame.height = height;
  frame.palette = palette;
  frame.colours = colours;
  code = SaveAnimGif(writer, frame);
  int finished = FinishAnimGif(writer);
  return code != 0 ? code : finished;
}

// The built-in writers by format; a format missing here is looked up among the saver plugins.
const qvPictureWriterRow kPictureWriters[] = {
    {kImageFormatBmp, WriteBmp}, {kImageFormatPng, WritePng},   {kImageFormatJpeg, WriteJpeg},
    {kImageFormatGif, WriteGif}, {kImageFormatIlbm, WriteIlbm},
};

// A picture-saver plugin's save: 32-bit pixels for a plugin that takes them (with the alpha flag
// when it keeps alpha and the picture has it), else indices into a palette quantised to the
// asked colours, whose last entry is the transparent colour of a masked picture.
int WriteWithPlugin(const qvPluginInfo* saver, const qvSavePicture& picture) {
  const int32_t width = picture.width;
  const int32_t height = picture.height;
  if (picture.pixels == nullptr || width < 1 || height < 1) return ERR_WRONGUSAGE;
  qvImageSave save{};
  save.width = width;
  save.height = height;
  save.quality = picture.quality;
  save.file = picture.file;
  std::vector<uint8_t> indices;
  uint32_t palette[256] = {};
  if (saver->imageSaver.flags & QV_SAVE_ARGB) {
    save.pixels = picture.pixels;
    save.bytesPerRow = width * 4;
    if (picture.alpha && (saver->imageSaver.flags & QV_SAVE_CANALPHA)) {
      save.flags |= QV_SAVE_HASALPHA;
    }
  } else {
    if (picture.colours < 2 || picture.colours > 256) return ERR_WRONGUSAGE;
    try {
      indices.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    } catch (const std::bad_alloc&) {
      return ERR_MEM;
    }
    const bool keyed = picture.hasMask && picture.colour != -1;
    const uint32_t transparent = keyed ? static_cast<uint32_t>(picture.colour) & 0xFFFFFF
                                       : kNoTransparentRGB;
    int32_t colours = picture.colours;
    if (!QuantizeBitMap(reinterpret_cast<const uint8_t*>(picture.pixels), kPixARGB32, 4, width,
                        height, width, indices.data(), palette, &colours, transparent, false,
                        picture.dither != 0)) {
      return ERR_MEM;
    }
    save.pixels = indices.data();
    save.bytesPerRow = width;
    save.palette = palette;
    save.paletteSize = colours;
    if (keyed) save.flags |= QV_SAVE_TRANSPARENTLAST;
  }
  return saver->saveImage(&save) != 0 ? 0 : ERR_SAVEIMAGE;
}

bool MaskBit(const qvPlane* mask, int32_t x, int32_t y) {
  return (mask->data[static_cast<size_t>(y) * mask->bytesPerRow + static_cast<size_t>(x >> 3)] &
          (0x80 >> (x & 7))) != 0;
}

}  // namespace

uint32_t* BuildARGBPixels(const qvBitMap* bitmap, int32_t width, int32_t height,
                          const qvPlane* mask, const qvPlane* alpha, uint32_t colour,
                          bool keepAlpha) {
  uint32_t* pixels = ReadBitMapARGB(bitmap, width, height);
  if (pixels == nullptr) return nullptr;
  for (int32_t y = 0; y < height; ++y) {
    uint32_t* row = pixels + static_cast<size_t>(y) * width;
    for (int32_t x = 0; x < width; ++x) {
      uint32_t p = row[x];
      if (mask != nullptr) {
        bool visible = MaskBit(mask, x, y);
        if (keepAlpha) {
          p = (p & 0xFFFFFF) | (visible ? 0xFF000000u : 0);
        } else if (!visible) {
          p = colour;
        }
      } else if (alpha != nullptr) {
        uint32_t a = alpha->data[static_cast<size_t>(y) * alpha->bytesPerRow + x];
        p = (p & 0xFFFFFF) | (a << 24);
        if (a == 0) p |= colour & 0xFFFFFF;
      } else {
        p |= 0xFF000000u;
      }
      row[x] = p;
    }
  }
  return pixels;
}

int SavePictureFile(int32_t format, const qvSavePicture& picture) {
  for (const qvPictureWriterRow& row : kPictureWriters) {
    if (row.format != format) continue;
    // Every writer makes its file beside the target, which only a complete picture replaces:
    // a save that fails part-way keeps the old file (unless it had to be written in place).
    int code = WriteBeside(picture.file, [&](const char* temp) {
      qvSavePicture beside = picture;
      beside.file = temp;
      return static_cast<int32_t>(row.write(beside));
    });
    return code == ERR_WRITE ? ERR_WRITEFILE : code;
  }
  // Any other number is the format id of a picture-saver plugin.
  const qvPluginInfo* saver = FindSaverPlugin(QV_CAP_IMAGESAVER, static_cast<uint32_t>(format));
  if (saver == nullptr) return ERR_UNKNOWNIMGOUT;
  return WriteBeside(picture.file, [&](const char* temp) {
    qvSavePicture beside = picture;
    beside.file = temp;
    return static_cast<int32_t>(WriteWithPlugin(saver, beside));
  });
}

int SaveBitMapAsPicture(int32_t format, const qvBitMap* bitmap, int32_t width, int32_t height,
                        const char* file, const qvPlane* mask, int64_t colour, const qvPlane* alpha,
                        int32_t quality, int32_t colours, int32_t dither) {
  uint32_t* pixels = BuildARGBPixels(bitmap, width, height, mask, alpha,
                                     static_cast<uint32_t>(colour), false);
  if (pixels == nullptr) return ERR_MEM;
  qvSavePicture picture;
  picture.file = file;
  picture.pixels = pixels;
  picture.width = width;
  picture.height = height;
  picture.hasMask = mask != nullptr;
  picture.colour = colour;
  picture.alpha = mask == nullptr && alpha != nullptr;
  picture.quality = quality;
  picture.colours = colours;
  picture.dither = dither;
  int code = SavePictureFile(format, picture);
  std::free(pixels);
  return code;
}

int SaveBitMapAsBmp(const qvBitMap* bitmap, int32_t width, int32_t height, const char* fileName) {
  if (bitmap == nullptr || width < 1 || height < 1) return ERR_WRONGUSAGE;
  return SaveBitMapAsPicture(kImageFormatBmp, bitmap, width, height, fileName, nullptr, -1, nullptr,
                             90, 256, 0);
}

}  // namespace qv
