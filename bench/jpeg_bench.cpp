// JPEG decode of a 24-megapixel picture (6000x4000, 4:2:0, quality 90) through LoadPicture beside
// a bare libjpeg loop on stdio that decodes into the same 32-bit words and beside the djpeg tool
// (process start and its PPM output to /dev/null included); and the encode of a 640x480 picture
// at quality 90 through SaveJpeg beside the library's loop into memory.
#include <benchmark/benchmark.h>
#include <unistd.h>

// clang-format off
#include <cstdio>  // jpeglib.h wants FILE and size_t declared first
#include <jpeglib.h>
// clang-format on

#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/picture_bench.h"
#include "image/jpeg_io.h"
#include "image/picture.h"

namespace {

std::string TempPath(const char* name) {
  static std::string dir = [] {
    char tmpl[] = "/tmp/qvjpegbenchXXXXXX";
    return std::string(mkdtemp(tmpl) ? tmpl : "/tmp");
  }();
  return dir + "/" + name;
}

// Smooth areas, edges and some noise.
std::vector<uint32_t> MakePicture(int width, int height) {
  std::vector<uint32_t> p(size_t(width) * height);
  uint32_t seed = 1;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      seed = seed * 1664525u + 1013904223u;
      uint32_t noise = (seed >> 28) & 7;
      uint32_t r = uint32_t(x >> 4) & 255, g = uint32_t(y >> 4) & 255;
      uint32_t b = ((x ^ y) & 64) ? 200 : 30;
      p[size_t(y) * width + x] = (r + noise) % 256 << 16 | g << 8 | (b + noise);
    }
  }
  return p;
}

constexpr int kBigWidth = 6000, kBigHeight = 4000;
constexpr int kSmallWidth = 640, kSmallHeight = 480;

const std::string& BigFile() {
  static std::string name = [] {
    std::vector<uint32_t> pixels = MakePicture(kBigWidth, kBigHeight);
    qv::qvJpegRequest request;
    request.pixels = pixels.data();
    request.bytesPerRow = int64_t{kBigWidth} * 4;
    request.width = kBigWidth;
    request.height = kBigHeight;
    request.quality = 90;
    std::vector<uint8_t> bytes;
    if (qv::SaveJpeg(request, &bytes) != 0) std::abort();
    std::string n = TempPath("big.jpg");
    FILE* f = std::fopen(n.c_str(), "wb");
    if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
    std::fclose(f);
    return n;
  }();
  return name;
}

const std::vector<uint32_t>& SmallPicture() {
  static std::vector<uint32_t> pixels = MakePicture(kSmallWidth, kSmallHeight);
  return pixels;
}

struct BareError {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

[[noreturn]] void BareErrorExit(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<BareError*>(cinfo->err)->jump, 1);
}

bool BareDecode(const char* name, std::vector<uint32_t>* out) {
  FILE* f = std::fopen(name, "rb");
  if (f == nullptr) return false;
  jpeg_decompress_struct cinfo;
  BareError error;
  cinfo.err = jpeg_std_error(&error.pub);
  error.pub.error_exit = BareErrorExit;
  if (setjmp(error.jump)) {
    jpeg_destroy_decompress(&cinfo);
    std::fclose(f);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_stdio_src(&cinfo, f);
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_EXT_BGRX;
  jpeg_start_decompress(&cinfo);
  const size_t width = cinfo.output_width;
  out->resize(width * cinfo.output_height);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW rows[16];
    size_t first = cinfo.output_scanline;
    size_t want = std::min<size_t>(16, cinfo.output_height - first);
    for (size_t r = 0; r < want; ++r) {
      rows[r] = reinterpret_cast<JSAMPROW>(out->data() + (first + r) * width);
    }
    jpeg_read_scanlines(&cinfo, rows, JDIMENSION(want));
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  std::fclose(f);
  return true;
}

bool BareEncode(const uint32_t* pixels, int width, int height, std::vector<uint8_t>* out) {
  jpeg_compress_struct cinfo;
  BareError error;
  cinfo.err = jpeg_std_error(&error.pub);
  error.pub.error_exit = BareErrorExit;
  unsigned char* data = nullptr;
  unsigned long size = 0;
  if (setjmp(error.jump)) {
    jpeg_destroy_compress(&cinfo);
    std::free(data);
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, &data, &size);
  cinfo.image_width = JDIMENSION(width);
  cinfo.image_height = JDIMENSION(height);
  cinfo.input_components = 4;
  cinfo.in_color_space = JCS_EXT_BGRX;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    auto row = reinterpret_cast<JSAMPROW>(const_cast<uint32_t*>(pixels) +
                                          size_t(cinfo.next_scanline) * width);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  out->assign(data, data + size);
  std::free(data);
  return true;
}

void BM_DecodeLoadPicture(benchmark::State& state) { qv::bench::TimeLoadPicture(state, BigFile()); }

void BM_DecodeBareLibjpeg(benchmark::State& state) {
  const std::string& name = BigFile();
  for (auto _ : state) {
    std::vector<uint32_t> pixels;
    if (!BareDecode(name.c_str(), &pixels)) {
      state.SkipWithError("libjpeg failed");
      break;
    }
    benchmark::DoNotOptimize(pixels.data());
  }
}

void BM_DecodeDjpeg(benchmark::State& state) {
  std::string command = "djpeg -outfile /dev/null '" + BigFile() + "'";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("djpeg failed");
      break;
    }
  }
}

void BM_EncodeSaveJpeg(benchmark::State& state) {
  qv::qvJpegRequest request;
  request.pixels = SmallPicture().data();
  request.bytesPerRow = int64_t{kSmallWidth} * 4;
  request.width = kSmallWidth;
  request.height = kSmallHeight;
  request.quality = 90;
  for (auto _ : state) {
    std::vector<uint8_t> out;
    if (qv::SaveJpeg(request, &out) != 0) {
      state.SkipWithError("SaveJpeg failed");
      break;
    }
    benchmark::DoNotOptimize(out.data());
  }
}

void BM_EncodeBareLibjpeg(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<uint8_t> out;
    if (!BareEncode(SmallPicture().data(), kSmallWidth, kSmallHeight, &out)) {
      state.SkipWithError("libjpeg failed");
      break;
    }
    benchmark::DoNotOptimize(out.data());
  }
}

BENCHMARK(BM_DecodeLoadPicture)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_DecodeBareLibjpeg)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_DecodeDjpeg)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_EncodeSaveJpeg)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_EncodeBareLibjpeg)->Unit(benchmark::kMillisecond)->MinTime(2);

}  // namespace

BENCHMARK_MAIN();
