// The anchor of bench/picture_load.sh: a bare libpng or libjpeg-turbo program that decodes one
// picture into a fresh block of huge-page memory as 0xAARRGGBB words (the library's B, G, R, X
// bytes, the same transformations as the player's readers), then exits. It also writes the
// pictures the script times.
//   picture_load_anchor png|jpeg FILE            decode FILE
//   picture_load_anchor make-png|make-jpeg FILE W H   write a W x H picture with edges and noise
#include <sys/mman.h>

// clang-format off
#include <cstdio>  // jpeglib.h wants FILE and size_t declared first
#include <jpeglib.h>
// clang-format on
#include <png.h>

#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kHugePage = size_t(2) << 20;

uint32_t* HugeBlock(size_t bytes) {
  bytes = (bytes + kHugePage - 1) & ~(kHugePage - 1);
  void* p = std::aligned_alloc(kHugePage, bytes);
  if (p != nullptr) madvise(p, bytes, MADV_HUGEPAGE);
  return static_cast<uint32_t*>(p);
}

// Something of every row, so that the decode cannot be left out.
uint32_t Sum(const uint32_t* pixels, size_t width, size_t height) {
  uint32_t sum = 0;
  for (size_t y = 0; y < height; ++y) sum += pixels[y * width + (y % width)];
  return sum;
}

int DecodePng(const char* name) {
  FILE* f = std::fopen(name, "rb");
  if (f == nullptr) return 1;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) return 1;
  png_init_io(png, f);
  png_read_info(png, info);
  png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
  int depth = png_get_bit_depth(png, info), type = png_get_color_type(png, info);
  if (type == PNG_COLOR_TYPE_PALETTE) png_set_expand(png);
  if (type == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  if (depth == 16) png_set_strip_16(png);
  if (type == PNG_COLOR_TYPE_GRAY || type == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  png_set_bgr(png);
  png_set_filler(png, 0, PNG_FILLER_AFTER);
  int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  uint32_t* pixels = HugeBlock(size_t(width) * height * 4);
  if (pixels == nullptr) return 1;
  for (int pass = 0; pass < passes; ++pass) {
    for (png_uint_32 y = 0; y < height; ++y)
      png_read_row(png, reinterpret_cast<png_bytep>(pixels + size_t(y) * width), nullptr);
  }
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(f);
  std::printf("%u\n", Sum(pixels, width, height));
  std::free(pixels);
  return 0;
}

int DecodeJpeg(const char* name) {
  FILE* f = std::fopen(name, "rb");
  if (f == nullptr) return 1;
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr error;
  cinfo.err = jpeg_std_error(&error);
  jpeg_create_decompress(&cinfo);
  jpeg_stdio_src(&cinfo, f);
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_EXT_BGRX;
  jpeg_start_decompress(&cinfo);
  const size_t width = cinfo.output_width, height = cinfo.output_height;
  uint32_t* pixels = HugeBlock(width * height * 4);
  if (pixels == nullptr) return 1;
  JSAMPROW rows[16];
  while (cinfo.output_scanline < height) {
    size_t first = cinfo.output_scanline, want = height - first < 16 ? height - first : 16;
    for (size_t r = 0; r < want; ++r)
      rows[r] = reinterpret_cast<JSAMPROW>(pixels + (first + r) * width);
    jpeg_read_scanlines(&cinfo, rows, JDIMENSION(want));
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  std::fclose(f);
  std::printf("%u\n", Sum(pixels, width, height));
  std::free(pixels);
  return 0;
}

// Smooth areas, edges and some noise: a photograph's mix of easy and hard parts.
std::vector<uint8_t> MakeRgb(int width, int height) {
  std::vector<uint8_t> p(size_t(width) * height * 3);
  uint32_t seed = 1;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      seed = seed * 1664525u + 1013904223u;
      uint32_t noise = (seed >> 28) & 7;
      uint8_t* o = &p[(size_t(y) * width + x) * 3];
      o[0] = uint8_t((x >> 4) + noise);
      o[1] = uint8_t(y >> 4);
      o[2] = uint8_t((((x ^ y) & 64) ? 200 : 30) + noise);
    }
  }
  return p;
}

int MakePng(const char* name, int width, int height) {
  std::vector<uint8_t> rgb = MakeRgb(width, height);
  FILE* f = std::fopen(name, "wb");
  if (f == nullptr) return 1;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) return 1;
  png_init_io(png, f);
  png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y) png_write_row(png, &rgb[size_t(y) * width * 3]);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(f) == 0 ? 0 : 1;
}

int MakeJpeg(const char* name, int width, int height) {
  std::vector<uint8_t> rgb = MakeRgb(width, height);
  FILE* f = std::fopen(name, "wb");
  if (f == nullptr) return 1;
  jpeg_compress_struct cinfo;
  jpeg_error_mgr error;
  cinfo.err = jpeg_std_error(&error);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, f);
  cinfo.image_width = JDIMENSION(width);
  cinfo.image_height = JDIMENSION(height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = &rgb[size_t(cinfo.next_scanline) * width * 3];
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return std::fclose(f) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "png") == 0) return DecodePng(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "jpeg") == 0) return DecodeJpeg(argv[2]);
  if (argc == 5 && std::strcmp(argv[1], "make-png") == 0)
    return MakePng(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
  if (argc == 5 && std::strcmp(argv[1], "make-jpeg") == 0)
    return MakeJpeg(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
  std::fprintf(stderr, "usage: %s png|jpeg FILE | make-png|make-jpeg FILE W H\n", argv[0]);
  return 2;
}
