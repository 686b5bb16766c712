// JPEG decode of a 24-megapixel picture (6000x4000, 4:2:0, quality 90, one file for every case)
// and the encode of a 640x480 picture at quality 90. All decodes use the library's defaults (the
// same upsampling and colour conversion, so the same pixels as djpeg); what differs is where the
// pixels go:
// - DecodeLoadPicture: the player's loader, file through the buffered files, the pixels as
//   0x00RRGGBB words in a fresh 96 MB block (huge pages advised), the unused byte cleared.
// - DecodeLoadBrushPixels: what LoadBrush does with a picture file: LoadPicture, then its pixels
//   copied into a new bitmap (a second fresh 96 MB block), the loader's block freed.
// - DecodeBareLibjpeg: the textbook loop on stdio, the library's BGRX words into a fresh block of
//   the same size with the same advice, the unused byte left as the library writes it.
// - DecodeLibjpegStrip: djpeg's way in process: 3-byte RGB rows into one strip of 16 rows that is
//   overwritten each time; no picture is kept, so no fresh memory is touched.
// - DecodeDjpeg: the djpeg program, spawned directly (no shell): process start, its decode into
//   3-byte RGB rows and their PPM output to /dev/null. It keeps no picture either, so the pages
//   that the player's pixels need are on LoadPicture's side alone (about 6 ms of the kernel
//   clearing 96 MB with huge pages; with 4 KiB pages their 23 000 faults cost as much as the
//   decode).
// - EncodeSaveJpeg and EncodeBareLibjpeg: SaveJpeg beside the library's loop into memory.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

// clang-format off
#include <cstdio>  // jpeglib.h wants FILE and size_t declared first
#include <jpeglib.h>
// clang-format on

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/picture_bench.h"
#include "image/image.h"
#include "image/jpeg_io.h"
#include "image/picture.h"
#include "platform/memory.h"

namespace {

std::string TempPath(const char* name) {
  static const qv::bench::BenchFolder folder("qvjpegbench");
  return folder.File(name);
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

// The library's loop, into a fresh block as the player's loader allocates it. Returns the block
// (to be freed) or null.
uint32_t* BareDecode(const char* name) {
  FILE* f = std::fopen(name, "rb");
  if (f == nullptr) return nullptr;
  jpeg_decompress_struct cinfo;
  BareError error;
  uint32_t* volatile pixels = nullptr;
  cinfo.err = jpeg_std_error(&error.pub);
  error.pub.error_exit = BareErrorExit;
  if (setjmp(error.jump)) {
    jpeg_destroy_decompress(&cinfo);
    std::fclose(f);
    std::free(pixels);
    return nullptr;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_stdio_src(&cinfo, f);
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_EXT_BGRX;
  jpeg_start_decompress(&cinfo);
  const size_t width = cinfo.output_width, height = cinfo.output_height;
  pixels = static_cast<uint32_t*>(std::malloc(width * height * 4));
  if (pixels == nullptr) std::abort();
  qv::AdviseHugePages(pixels, width * height * 4);
  while (cinfo.output_scanline < height) {
    JSAMPROW rows[16];
    size_t first = cinfo.output_scanline;
    size_t want = std::min<size_t>(16, height - first);
    for (size_t r = 0; r < want; ++r) {
      rows[r] = reinterpret_cast<JSAMPROW>(pixels + (first + r) * width);
    }
    jpeg_read_scanlines(&cinfo, rows, JDIMENSION(want));
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  std::fclose(f);
  return pixels;
}

// djpeg's way: RGB rows into one strip that is overwritten, nothing kept.
bool StripDecode(const char* name) {
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
  jpeg_start_decompress(&cinfo);
  JSAMPARRAY strip = (*cinfo.mem->alloc_sarray)(
      reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
      cinfo.output_width * JDIMENSION(cinfo.output_components), 16);
  while (cinfo.output_scanline < cinfo.output_height) {
    jpeg_read_scanlines(&cinfo, strip, 16);
    benchmark::DoNotOptimize(strip[0][0]);
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

void BM_DecodeLoadBrushPixels(benchmark::State& state) {
  const std::string& name = BigFile();
  for (auto _ : state) {
    uint32_t* pixels = nullptr;
    qv::qvPictureFacts facts;
    qv::qvBitMap* bitmap = nullptr;
    if (qv::LoadPicture(name.c_str(), nullptr, &pixels, &facts) != 0 ||
        qv::AllocBitMapFromARGB(pixels, -1, facts.width, facts.height, facts.width, &bitmap,
                                nullptr) != 0) {
      std::free(pixels);
      state.SkipWithError("LoadPicture or the bitmap failed");
      break;
    }
    std::free(pixels);
    benchmark::DoNotOptimize(bitmap);
    qv::FreeBitMap(bitmap);
  }
}

void BM_DecodeBareLibjpeg(benchmark::State& state) {
  const std::string& name = BigFile();
  for (auto _ : state) {
    uint32_t* pixels = BareDecode(name.c_str());
    if (pixels == nullptr) {
      state.SkipWithError("libjpeg failed");
      break;
    }
    benchmark::DoNotOptimize(pixels);
    std::free(pixels);
  }
}

void BM_DecodeLibjpegStrip(benchmark::State& state) {
  const std::string& name = BigFile();
  for (auto _ : state) {
    if (!StripDecode(name.c_str())) {
      state.SkipWithError("libjpeg failed");
      break;
    }
  }
}

void BM_DecodeDjpeg(benchmark::State& state) {
  std::string program = "djpeg", option = "-outfile", target = "/dev/null", file = BigFile();
  char* argv[] = {program.data(), option.data(), target.data(), file.data(), nullptr};
  for (auto _ : state) {
    pid_t pid;
    int status = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv, environ) != 0 ||
        waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
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
BENCHMARK(BM_DecodeLoadBrushPixels)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_DecodeBareLibjpeg)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_DecodeLibjpegStrip)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_DecodeDjpeg)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();
BENCHMARK(BM_EncodeSaveJpeg)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_EncodeBareLibjpeg)->Unit(benchmark::kMillisecond)->MinTime(2);

}  // namespace

BENCHMARK_MAIN();
