// PNG reading and writing over libpng. libpng reports errors by jumping back to the recovery
// point of its caller, across our read and write callbacks; so the glue is C-style: the state
// lives in a record owned by the outer function, the function that sets the recovery point keeps
// no locals of its own, and every frame that a jump may cross holds only trivially destructible
// locals. The outer function frees whatever the record still holds, on every road.
#include <png.h>

#include <bit>
#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/errors.h"
#include "core/vfile.h"
#include "image/internal.h"
#include "image/picture.h"

namespace qv {

// libpng hands our rows over as bytes; B, G, R, A in memory is the word 0xAARRGGBB only on a
// little-endian machine, which lets libpng read into and write from the pixel array directly.
static_assert(std::endian::native == std::endian::little,
              "the PNG glue lets libpng work on 0xAARRGGBB words as B, G, R, A bytes");

namespace {

// One picture above this many bytes is refused before anything is allocated.
constexpr int64_t kMaxPictureBytes = int64_t(1) << 31;
constexpr png_uint_32 kMaxSide = png_uint_32(kMaxPictureBytes / 4);

struct PngState {
  std::jmp_buf jump;
  png_structp png;
  png_infop info;
  qvFile* file;
  uint32_t* pixels;
  int32_t wordsPerRow;
  bool bitmapRows;  // the rows laid out as a bitmap's
  bool ioFailed;    // a read or write of the file failed (as opposed to bad data or memory)
  int32_t result;
};

[[noreturn]] void PngErrorExit(png_structp png, png_const_charp) {
  auto* state = static_cast<PngState*>(png_get_error_ptr(png));
  std::longjmp(state->jump, 1);
}

void PngWarning(png_structp, png_const_charp) {}

void PngReadData(png_structp png, png_bytep data, size_t length) {
  auto* state = static_cast<PngState*>(png_get_io_ptr(png));
  if (ReadFileQ(state->file, data, length) != length) {
    state->ioFailed = true;
    png_error(png, "Read error!");
  }
}

void PngWriteData(png_structp png, png_bytep data, size_t length) {
  auto* state = static_cast<PngState*>(png_get_io_ptr(png));
  if (WriteFileQ(state->file, data, length) != length) {
    state->ioFailed = true;
    png_error(png, "Write error!");
  }
}

void PngFlushData(png_structp png) {
  auto* state = static_cast<PngState*>(png_get_io_ptr(png));
  if (FlushFileQ(state->file) != 1) {
    state->ioFailed = true;
    png_error(png, "Flush error!");
  }
}

// The reading work after the header; runs below the recovery point. Stores its outcome in
// state->result (the jump leaves the preset ERR_LOADPICTURE2 there).
void ReadPngBody(PngState* state, bool wantPixels, qvPictureFacts* facts) {
  png_structp png = state->png;
  png_infop info = state->info;
  png_set_read_fn(png, state, PngReadData);
  png_read_info(png, info);
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int depth = 0;
  int colourType = 0;
  png_get_IHDR(png, info, &width, &height, &depth, &colourType, nullptr, nullptr, nullptr);

  if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_expand(png);
  if (colourType == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  if (depth == 16) png_set_strip_16(png);
  if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA) {
    png_set_gray_to_rgb(png);
  }
  // Rows come out as B, G, R, A bytes: 0xAARRGGBB words; pictures without alpha get a 0 byte.
  png_set_bgr(png);
  png_set_filler(png, 0, PNG_FILLER_AFTER);
  int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  bool alpha = (png_get_color_type(png, info) & PNG_COLOR_MASK_ALPHA) != 0;
  if (png_get_rowbytes(png, info) != size_t(width) * 4) return;  // ERR_LOADPICTURE2 stays

  if (!wantPixels) {
    facts->width = int32_t(width);
    facts->height = int32_t(height);
    facts->alpha = alpha ? 1 : 0;
    state->result = 0;
    return;
  }
  if (int64_t(width) * int64_t(height) * 4 > kMaxPictureBytes) {
    state->result = ERR_MEM;
    return;
  }
  state->pixels = image::AllocPictureBlock(width, height, state->bitmapRows, &state->wordsPerRow);
  if (state->pixels == nullptr) {
    state->result = ERR_MEM;
    return;
  }
  // Every pass of an interlaced picture lands in the same array, so the array is the picture
  // buffer as well.
  const size_t perRow = size_t(state->wordsPerRow);
  for (int pass = 0; pass < passes; ++pass) {
    for (png_uint_32 y = 0; y < height; ++y) {
      png_read_row(png, reinterpret_cast<png_bytep>(state->pixels + size_t(y) * perRow), nullptr);
    }
  }
  png_read_end(png, nullptr);
  facts->wordsPerRow = state->wordsPerRow;
  facts->width = int32_t(width);
  facts->height = int32_t(height);
  facts->alpha = alpha ? 1 : 0;
  state->result = 0;
}

// Sets the recovery point and runs the body; keeps no locals that a jump could leave stale.
void RunPngRead(PngState* state, bool wantPixels, qvPictureFacts* facts) {
  if (setjmp(state->jump) != 0) return;
  ReadPngBody(state, wantPixels, facts);
}

void WritePngBody(PngState* state, const qvPngRequest* request) {
  png_structp png = state->png;
  png_set_write_fn(png, state, PngWriteData, PngFlushData);
  png_set_IHDR(png, state->info, png_uint_32(request->width), png_uint_32(request->height), 8,
               request->alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, state->info);
  png_set_bgr(png);
  // Without alpha the top byte of every word is dropped.
  if (!request->alpha) png_set_filler(png, 0, PNG_FILLER_AFTER);
  const auto* row = reinterpret_cast<const uint8_t*>(request->pixels);
  for (int32_t y = 0; y < request->height; ++y) {
    png_write_row(png, row);
    row += request->bytesPerRow;
  }
  png_write_end(png, nullptr);
  state->result = 0;
}

void RunPngWrite(PngState* state, const qvPngRequest* request) {
  if (setjmp(state->jump) != 0) return;
  WritePngBody(state, request);
}

}  // namespace

int LoadPng(const char* name, uint32_t** outPixels, qvPictureFacts* facts, bool bitmapRows) {
  PngState state{};
  state.bitmapRows = bitmapRows;
  state.file = OpenFileQ(name, kFileRead);
  if (state.file == nullptr) return ERR_READFILE;
  // The installed version string: libpng refuses structures made for another version.
  state.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, PngErrorExit, PngWarning);
  if (state.png != nullptr) state.info = png_create_info_struct(state.png);
  if (state.png == nullptr || state.info == nullptr) {
    png_destroy_read_struct(&state.png, &state.info, nullptr);
    CloseFileQ(state.file);
    return ERR_MEM;
  }
  // libpng refuses more than a million pixels a side unless told otherwise; the picture limit
  // allows a single row or column of 2^29.
  png_set_user_limits(state.png, kMaxSide, kMaxSide);
  qvPictureFacts read;
  state.result = ERR_LOADPICTURE2;
  RunPngRead(&state, outPixels != nullptr, &read);
  png_destroy_read_struct(&state.png, &state.info, nullptr);
  CloseFileQ(state.file);
  if (state.result != 0) {
    std::free(state.pixels);
    return state.result;
  }
  if (outPixels != nullptr) *outPixels = state.pixels;
  facts->width = read.width;
  facts->height = read.height;
  facts->alpha = read.alpha;
  facts->wordsPerRow = outPixels != nullptr ? read.wordsPerRow : read.width;
  return 0;
}

int SavePng(const qvPngRequest& request) {
  if (request.width < 1 || request.height < 1 || request.pixels == nullptr) return ERR_WRITEFILE;
  PngState state{};
  state.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, PngErrorExit, PngWarning);
  if (state.png != nullptr) state.info = png_create_info_struct(state.png);
  if (state.png == nullptr || state.info == nullptr) {
    png_destroy_write_struct(&state.png, &state.info);
    return ERR_MEM;
  }
  state.file = OpenFileQ(request.name, kFileWrite);
  if (state.file == nullptr) {
    png_destroy_write_struct(&state.png, &state.info);
    return ERR_WRITEFILE;
  }
  state.result = ERR_MEM;
  RunPngWrite(&state, &request);
  png_destroy_write_struct(&state.png, &state.info);
  bool closed = CloseFileQ(state.file) == 1;
  if (state.ioFailed || (state.result == 0 && !closed)) return ERR_WRITEFILE;
  return state.result;
}

int SavePngSnapshot(const char* name, const uint32_t* pixels, int32_t width, int32_t height,
                    bool alpha) {
  SetErrorString(name);
  qvPngRequest request;
  request.name = name;
  request.pixels = pixels;
  request.bytesPerRow = int64_t{width} * 4;
  request.width = width;
  request.height = height;
  request.alpha = alpha;
  return SavePng(request);
}

}  // namespace qv
