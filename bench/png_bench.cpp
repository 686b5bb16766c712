// PNG decode and encode of a 4096x4096 RGBA picture: LoadPicture and SavePng (through the
// buffered-file layer) beside a bare libpng loop on stdio with the same transformations (expand,
// tRNS to alpha, strip 16, grey to RGB, BGR order with a filler byte) and the same compression
// level. The ratio of each pair is printed after the run.
#include <benchmark/benchmark.h>
#include <png.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/picture_bench.h"
#include "image/picture.h"

namespace {

constexpr int kSize = 4096;

std::string TempPath(const char* name) {
  static std::string dir = [] {
    char tmpl[] = "/tmp/qvpngbenchXXXXXX";
    return std::string(mkdtemp(tmpl) ? tmpl : "/tmp");
  }();
  return dir + "/" + name;
}

// A picture with smooth areas, edges and some noise, so that the filters and zlib both work.
const std::vector<uint32_t>& Picture() {
  static std::vector<uint32_t> pixels = [] {
    std::vector<uint32_t> p(size_t(kSize) * kSize);
    uint32_t seed = 1;
    for (int y = 0; y < kSize; ++y) {
      for (int x = 0; x < kSize; ++x) {
        seed = seed * 1664525u + 1013904223u;
        uint32_t noise = (seed >> 28) & 7;
        uint32_t r = uint32_t(x >> 4) & 255, g = uint32_t(y >> 4) & 255;
        uint32_t b = ((x ^ y) & 64) ? 200 : 30;
        uint32_t a = ((x / 512 + y / 512) & 1) ? 255 : 128 + (x & 127);
        p[size_t(y) * kSize + x] = a << 24 | (r + noise) % 256 << 16 | g << 8 | (b + noise);
      }
    }
    return p;
  }();
  return pixels;
}

const std::string& PictureFile() {
  static std::string name = [] {
    std::string n = TempPath("picture.png");
    qv::qvPngRequest request;
    request.name = n.c_str();
    request.pixels = Picture().data();
    request.bytesPerRow = int64_t(kSize) * 4;
    request.width = kSize;
    request.height = kSize;
    request.alpha = true;
    if (qv::SavePng(request) != 0) std::abort();
    return n;
  }();
  return name;
}

// ---- the bare libpng loops ----

bool BareDecode(const char* name, std::vector<uint32_t>* out) {
  FILE* f = std::fopen(name, "rb");
  if (f == nullptr) return false;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return false;
  }
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
  out->resize(size_t(width) * height);
  for (int pass = 0; pass < passes; ++pass) {
    for (png_uint_32 y = 0; y < height; ++y) {
      png_read_row(png, reinterpret_cast<png_bytep>(out->data() + size_t(y) * width), nullptr);
    }
  }
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(f);
  return true;
}

bool BareEncode(const char* name, const uint32_t* pixels, int width, int height) {
  FILE* f = std::fopen(name, "wb");
  if (f == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB_ALPHA,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_set_bgr(png);
  for (int y = 0; y < height; ++y) {
    png_write_row(png, reinterpret_cast<png_const_bytep>(pixels + size_t(y) * width));
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(f) == 0;
}

// ---- the cases ----

void BM_DecodeLoadPicture(benchmark::State& state) {
  qv::bench::TimeLoadPicture(state, PictureFile());
}

void BM_DecodeBareLibpng(benchmark::State& state) {
  const std::string& name = PictureFile();
  for (auto _ : state) {
    std::vector<uint32_t> pixels;
    if (!BareDecode(name.c_str(), &pixels)) {
      state.SkipWithError("libpng failed");
      break;
    }
    benchmark::DoNotOptimize(pixels.data());
  }
}

void BM_EncodeSavePng(benchmark::State& state) {
  std::string name = TempPath("ours.png");
  qv::qvPngRequest request;
  request.name = name.c_str();
  request.pixels = Picture().data();
  request.bytesPerRow = int64_t(kSize) * 4;
  request.width = kSize;
  request.height = kSize;
  request.alpha = true;
  for (auto _ : state) {
    if (qv::SavePng(request) != 0) {
      state.SkipWithError("SavePng failed");
      break;
    }
  }
}

void BM_EncodeBareLibpng(benchmark::State& state) {
  std::string name = TempPath("bare.png");
  for (auto _ : state) {
    if (!BareEncode(name.c_str(), Picture().data(), kSize, kSize)) {
      state.SkipWithError("libpng failed");
      break;
    }
  }
}

BENCHMARK(BM_DecodeLoadPicture)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_DecodeBareLibpng)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_EncodeSavePng)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_EncodeBareLibpng)->Unit(benchmark::kMillisecond)->MinTime(3);

}  // namespace

BENCHMARK_MAIN();
