// JPEG reading and writing over libjpeg. The library reports errors by jumping back to the
// recovery point of its caller, across our source and destination callbacks; so the glue is
// C-style, as for PNG: the state lives in a record owned by the outer function, the function that
// sets the recovery point keeps no locals of its own, every frame that a jump may cross holds only
// trivially destructible locals, and the outer function frees whatever the record still holds.
#include "image/jpeg_io.h"

// clang-format off
#include <cstdio>  // jpeglib.h wants FILE and size_t declared first
#include <jerror.h>
#include <jpeglib.h>
// clang-format on

#include <bit>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/errors.h"
#include "core/vfile.h"
#include "image/internal.h"
#include "image/picture.h"

namespace qv {

// The library's BGRX and XRGB layouts are the bytes of our pixel words only on a little-endian
// machine; they let it read into and write from the pixel array directly.
static_assert(std::endian::native == std::endian::little,
              "the JPEG glue hands 0xAARRGGBB words to the library as B, G, R, X bytes");

namespace {

constexpr int64_t kMaxPictureBytes = int64_t(1) << 31;
// Huffman-coded data spends at least one bit on every 8 x 8 block it codes, so a file of N bytes
// holds at most 512 N pixels; arithmetic coding can go below a bit a block, though not far in any
// picture worth storing. A larger declared picture would be mostly fill: refused before anything
// is allocated, unless small enough not to matter.
constexpr int64_t kHuffmanPixelsPerByte = 512;
constexpr int64_t kArithmeticPixelsPerByte = 2048;
constexpr int64_t kFreePixels = int64_t(1) << 20;
constexpr size_t kPieceSize = 4096;
// Rows asked of the library at once: enough for any sampling factor, so that it never has to
// keep a spare row of its own.
constexpr int kRowsAtOnce = 16;

struct JpegError {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

[[noreturn]] void JpegErrorExit(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
}
struct JpegSource;
JpegSource* SourceOf(j_common_ptr cinfo);
bool SourceRanDry(const JpegSource* src);

// A warning after the data ran dry means the decoder wanted bytes the file does not have (the
// Huffman decoder's "hit a marker"): the picture is cut, and is refused rather than shown with
// the rest filled in. The end-of-file warning itself comes for a file that lacks only its end
// marker too, which loads.
void JpegEmitMessage(j_common_ptr cinfo, int level) {
  if (level >= 0 || !cinfo->is_decompressor || cinfo->err->msg_code == JWRN_JPEG_EOF) return;
  if (SourceRanDry(SourceOf(cinfo))) {
    std::longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
  }
}
void JpegOutputMessage(j_common_ptr) {}
void JpegFormatMessage(j_common_ptr, char* buffer) { buffer[0] = '\0'; }
void JpegResetErrorMgr(j_common_ptr cinfo) {
  cinfo->err->num_warnings = 0;
  cinfo->err->msg_code = 0;
}

void InstallErrorManager(JpegError* error) {
  jpeg_std_error(&error->pub);
  error->pub.error_exit = JpegErrorExit;
  error->pub.emit_message = JpegEmitMessage;
  error->pub.output_message = JpegOutputMessage;
  error->pub.format_message = JpegFormatMessage;
  error->pub.reset_error_mgr = JpegResetErrorMgr;
  error->pub.trace_level = 0;
}

// ---- reading ----

struct JpegSource {
  jpeg_source_mgr pub;
  qvFile* file;  // null when reading memory
  const uint8_t* data;
  size_t size;
  size_t position;
  int64_t length;  // bytes in the file or block, for the bound on the picture's size
  bool startOfFile;
  bool ranDry;  // the data ended and the library was handed a made-up end marker
  JOCTET buffer[kPieceSize];
};

JpegSource* SourceOf(j_common_ptr cinfo) {
  return reinterpret_cast<JpegSource*>(reinterpret_cast<j_decompress_ptr>(cinfo)->src);
}
bool SourceRanDry(const JpegSource* src) { return src != nullptr && src->ranDry; }

void SourceInit(j_decompress_ptr cinfo) {
  reinterpret_cast<JpegSource*>(cinfo->src)->startOfFile = true;
}

boolean SourceFill(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<JpegSource*>(cinfo->src);
  size_t got = 0;
  if (src->file != nullptr) {
    got = ReadFileQ(src->file, src->buffer, kPieceSize);
    src->pub.next_input_byte = src->buffer;
  } else {
    // Memory is handed over in place, a piece at a time.
    size_t left = src->size - src->position;
    got = left < kPieceSize ? left : kPieceSize;
    src->pub.next_input_byte = src->data + src->position;
    src->position += got;
  }
  if (got == 0) {
    if (src->startOfFile) ERREXIT(cinfo, JERR_INPUT_EMPTY);
    // A made-up end of image: enough for a file that lacks only its end marker. A decoder that
    // still wants data warns, and the warning refuses the picture.
    src->ranDry = true;
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->buffer[0] = 0xFF;
    src->buffer[1] = JPEG_EOI;
    src->pub.next_input_byte = src->buffer;
    got = 2;
  }
  src->pub.bytes_in_buffer = got;
  src->startOfFile = false;
  return TRUE;
}

void SourceSkip(j_decompress_ptr cinfo, long count) {
  auto* src = reinterpret_cast<JpegSource*>(cinfo->src);
  if (count <= 0) return;
  while (size_t(count) > src->pub.bytes_in_buffer) {
    count -= long(src->pub.bytes_in_buffer);
    SourceFill(cinfo);
  }
  src->pub.next_input_byte += count;
  src->pub.bytes_in_buffer -= size_t(count);
}

void SourceTerm(j_decompress_ptr) {}

struct JpegReadState {
  JpegError error;
  jpeg_decompress_struct cinfo;
  JpegSource source;
  bool created;
  uint32_t* pixels;
  int32_t wordsPerRow;
  bool bitmapRows;  // the rows laid out as a bitmap's
  int32_t result;
};

// The library fills the unused byte of its BGRX layout with 0xFF; a picture without alpha has 0
// there. Eight words at a time so that the compiler turns the loop into vector code at -O2 too:
// a 24-megapixel picture spends a tenth of its decode here otherwise.
void ClearUnusedBytes(uint32_t* p, size_t count) {
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    for (size_t k = 0; k < 8; ++k) p[i + k] &= 0x00FFFFFF;
  }
  for (; i < count; ++i) p[i] &= 0x00FFFFFF;
}

bool IsAdobeMarked(j_decompress_ptr cinfo) {
  for (jpeg_saved_marker_ptr m = cinfo->marker_list; m != nullptr; m = m->next) {
    if (m->marker == JPEG_APP0 + 14 && m->data_length >= 12 &&
        std::memcmp(m->data, "Adobe", 5) == 0) {
      return true;
    }
  }
  return false;
}

// The reading work; runs below the recovery point and stores its outcome in state->result (a
// jump leaves the preset ERR_LOADPICTURE2 there).
void ReadJpegBody(JpegReadState* state, bool wantPixels, qvPictureFacts* facts) {
  j_decompress_ptr cinfo = &state->cinfo;
  jpeg_create_decompress(cinfo);
  state->created = true;
  JpegSource* src = &state->source;
  src->pub.init_source = SourceInit;
  src->pub.fill_input_buffer = SourceFill;
  src->pub.skip_input_data = SourceSkip;
  src->pub.resync_to_restart = jpeg_resync_to_restart;
  src->pub.term_source = SourceTerm;
  src->pub.bytes_in_buffer = 0;
  src->pub.next_input_byte = nullptr;
  cinfo->src = &src->pub;
  jpeg_save_markers(cinfo, JPEG_APP0 + 14, 256);
  jpeg_read_header(cinfo, TRUE);

  const bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
  if (!wantPixels) {
    facts->width = int32_t(cinfo->image_width);
    facts->height = int32_t(cinfo->image_height);
    state->result = 0;
    return;
  }
  cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRX;
  jpeg_calc_output_dimensions(cinfo);
  const size_t width = cinfo->output_width;
  const size_t height = cinfo->output_height;
  if (int64_t(width) * int64_t(height) * 4 > kMaxPictureBytes) {
    state->result = ERR_MEM;
    return;
  }
  const int64_t perByte = cinfo->arith_code ? kArithmeticPixelsPerByte : kHuffmanPixelsPerByte;
  const int64_t pixelCount = int64_t(width) * int64_t(height);
  if (pixelCount > kFreePixels && pixelCount / perByte > src->length) return;
  jpeg_start_decompress(cinfo);
  // One scan decodes as it reads: data that ran dry more than an MCU row (and the row read
  // ahead) before the last row is cut; the arithmetic decoder fills such rows without a word.
  const bool oneScan = !jpeg_has_multiple_scans(cinfo);
  const size_t slack = size_t(cinfo->max_v_samp_factor) * DCTSIZE * 2;
  if (cinfo->output_components != 4) return;  // ERR_LOADPICTURE2 stays
  // A large picture lands in fresh pages: with 4 KiB pages their faults cost as much as the
  // decode itself (23 000 faults for 24 megapixels); the block is on huge pages, one per 2 MiB.
  state->pixels = image::AllocPictureBlock(int64_t(width), int64_t(height), state->bitmapRows,
                                           &state->wordsPerRow);
  if (state->pixels == nullptr) {
    state->result = ERR_MEM;
    return;
  }
  const size_t perRow = size_t(state->wordsPerRow);
  if (cmyk) {
    const bool inverted = IsAdobeMarked(cinfo);
    JSAMPARRAY line = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo),
                                                  JPOOL_IMAGE, JDIMENSION(width * 4), 1);
    while (cinfo->output_scanline < height) {
      uint32_t* out = state->pixels + size_t(cinfo->output_scanline) * perRow;
      if (oneScan && src->ranDry && cinfo->output_scanline + slack < height) return;
      if (jpeg_read_scanlines(cinfo, line, 1) != 1) return;
      const JSAMPLE* s = line[0];
      for (size_t x = 0; x < width; ++x, s += 4)
        out[x] = CmykToRgb(s[0], s[1], s[2], s[3], inverted);
    }
  } else {
    JSAMPROW rows[kRowsAtOnce];
    while (cinfo->output_scanline < height) {
      const size_t first = cinfo->output_scanline;
      if (oneScan && src->ranDry && first + slack < height) return;
      size_t want = height - first < size_t(kRowsAtOnce) ? height - first : size_t(kRowsAtOnce);
      for (size_t r = 0; r < want; ++r) {
        rows[r] = reinterpret_cast<JSAMPROW>(state->pixels + (first + r) * perRow);
      }
      JDIMENSION got = jpeg_read_scanlines(cinfo, rows, JDIMENSION(want));
      if (got == 0) return;
      // Right behind the library, while the rows are still in the cache. Padded rows are
      // cleared with their spare words: those are left as they were, undefined either way.
      ClearUnusedBytes(state->pixels + first * perRow, size_t(got) * perRow - (perRow - width));
    }
  }
  jpeg_finish_decompress(cinfo);
  facts->wordsPerRow = state->wordsPerRow;
  facts->width = int32_t(width);
  facts->height = int32_t(height);
  state->result = 0;
}

void RunJpegRead(JpegReadState* state, bool wantPixels, qvPictureFacts* facts) {
  if (setjmp(state->error.jump) != 0) return;
  ReadJpegBody(state, wantPixels, facts);
}

// ---- writing ----

// The destination collects the compressed data in a block that doubles as it fills.
struct JpegDestination {
  jpeg_destination_mgr pub;
  uint8_t* data;
  size_t size;
  size_t capacity;
  JOCTET buffer[kPieceSize];
};

void Append(j_compress_ptr cinfo, const JOCTET* bytes, size_t count) {
  auto* dest = reinterpret_cast<JpegDestination*>(cinfo->dest);
  if (count > dest->capacity - dest->size) {
    size_t grown = dest->capacity * 2;
    while (count > grown - dest->size) grown *= 2;
    auto* bigger = static_cast<uint8_t*>(std::realloc(dest->data, grown));
    if (bigger == nullptr) {
      ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 10);
      return;  // not reached: the error exit jumps back
    }
    dest->data = bigger;
    dest->capacity = grown;
  }
  std::memcpy(dest->data + dest->size, bytes, count);
  dest->size += count;
}

void DestinationInit(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<JpegDestination*>(cinfo->dest);
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = kPieceSize;
}

boolean DestinationEmpty(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<JpegDestination*>(cinfo->dest);
  Append(cinfo, dest->buffer, kPieceSize);
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = kPieceSize;
  return TRUE;
}

void DestinationTerm(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<JpegDestination*>(cinfo->dest);
  Append(cinfo, dest->buffer, kPieceSize - dest->pub.free_in_buffer);
}

struct JpegWriteState {
  JpegError error;
  jpeg_compress_struct cinfo;
  JpegDestination destination;
  bool created;
  int32_t result;
};

void WriteJpegBody(JpegWriteState* state, const qvJpegRequest* request) {
  j_compress_ptr cinfo = &state->cinfo;
  jpeg_create_compress(cinfo);
  state->created = true;
  JpegDestination* dest = &state->destination;
  dest->pub.init_destination = DestinationInit;
  dest->pub.empty_output_buffer = DestinationEmpty;
  dest->pub.term_destination = DestinationTerm;
  cinfo->dest = &dest->pub;
  cinfo->image_width = JDIMENSION(request->width);
  cinfo->image_height = JDIMENSION(request->height);
  cinfo->input_components = 4;
  cinfo->in_color_space = request->redInSecondByte ? JCS_EXT_XRGB : JCS_EXT_BGRX;
  jpeg_set_defaults(cinfo);
  int quality = request->quality < 1 ? 1 : (request->quality > 100 ? 100 : request->quality);
  jpeg_set_quality(cinfo, quality, TRUE);
  jpeg_start_compress(cinfo, TRUE);
  const auto* base = reinterpret_cast<const uint8_t*>(request->pixels);
  while (cinfo->next_scanline < cinfo->image_height) {
    // The library only reads the rows; its interface is not const.
    auto row = const_cast<JSAMPROW>(base + int64_t(cinfo->next_scanline) * request->bytesPerRow);
    jpeg_write_scanlines(cinfo, &row, 1);
  }
  jpeg_finish_compress(cinfo);
  state->result = 0;
}

void RunJpegWrite(JpegWriteState* state, const qvJpegRequest* request) {
  if (setjmp(state->error.jump) != 0) return;
  WriteJpegBody(state, request);
}

}  // namespace

uint32_t CmykToRgb(uint32_t c, uint32_t m, uint32_t y, uint32_t k, bool inverted) {
  if (inverted) {
    c = 255 - c;
    m = 255 - m;
    y = 255 - y;
    k = 255 - k;
  }
  uint32_t r = (255 - c) * (255 - k) / 255;
  uint32_t g = (255 - m) * (255 - k) / 255;
  uint32_t b = (255 - y) * (255 - k) / 255;
  return (r << 16) | (g << 8) | b;
}

int LoadJpeg(const char* name, const uint8_t* data, size_t size, uint32_t** outPixels,
             qvPictureFacts* facts, bool bitmapRows) {
  // Several kilobytes of library records: on the heap, and zeroed so that a failure during the
  // creation finds nothing to free.
  auto* state = static_cast<JpegReadState*>(std::calloc(1, sizeof(JpegReadState)));
  if (state == nullptr) return ERR_MEM;
  if (name != nullptr) {
    state->source.file = OpenFileQ(name, kFileRead);
    if (state->source.file == nullptr) {
      std::free(state);
      return ERR_READFILE;
    }
    const int64_t start = SeekFileQ(state->source.file, 0, kSeekEnd);
    state->source.length = SeekFileQ(state->source.file, start, kSeekStart) - start;
  } else {
    state->source.data = data;
    state->source.size = size;
    state->source.length = int64_t(size);
  }
  state->bitmapRows = bitmapRows;
  InstallErrorManager(&state->error);
  state->cinfo.err = &state->error.pub;
  state->result = ERR_LOADPICTURE2;
  qvPictureFacts read;
  RunJpegRead(state, outPixels != nullptr, &read);
  if (state->created) jpeg_destroy_decompress(&state->cinfo);
  if (state->source.file != nullptr) CloseFileQ(state->source.file);
  int result = state->result;
  uint32_t* pixels = state->pixels;
  std::free(state);
  if (result != 0) {
    std::free(pixels);
    return result;
  }
  if (outPixels != nullptr) *outPixels = pixels;
  facts->width = read.width;
  facts->height = read.height;
  facts->wordsPerRow = outPixels != nullptr ? read.wordsPerRow : read.width;
  return 0;
}

int SaveJpeg(const qvJpegRequest& request, std::vector<uint8_t>* out) {
  if (request.width < 1 || request.height < 1 || request.pixels == nullptr) return ERR_MEM;
  auto* state = static_cast<JpegWriteState*>(std::calloc(1, sizeof(JpegWriteState)));
  if (state == nullptr) return ERR_MEM;
  // A first guess at the size; the block grows past it when the data needs more.
  size_t guess = size_t(request.width) * size_t(request.height) / 4 + kPieceSize;
  state->destination.data = static_cast<uint8_t*>(std::malloc(guess));
  state->destination.capacity = guess;
  int result = ERR_MEM;
  if (state->destination.data != nullptr) {
    InstallErrorManager(&state->error);
    state->cinfo.err = &state->error.pub;
    state->result = ERR_MEM;
    RunJpegWrite(state, &request);
    if (state->created) jpeg_destroy_compress(&state->cinfo);
    result = state->result;
    if (result == 0) {
      try {
        out->assign(state->destination.data, state->destination.data + state->destination.size);
      } catch (const std::bad_alloc&) {
        result = ERR_MEM;
      }
    }
  }
  std::free(state->destination.data);
  std::free(state);
  return result;
}

}  // namespace qv
