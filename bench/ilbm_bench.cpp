// IFF ILBM decode of an 8-plane 1920x1080 ByteRun1 picture through LoadPicture (the body read,
// unpacked a plane row at a time, planar to chunky, pens through the palette) beside memcpy of
// its 8 MB of output pixels into a buffer already in memory.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/picture_bench.h"
#include "image/picture.h"
#include "image/planar.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080, kPlanes = 8;

void PutBe(std::vector<uint8_t>* out, uint32_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out->push_back(uint8_t(v >> (8 * i)));
}

// Bands of pens with noise in some of them, as a painted picture has: runs and literals both.
const std::string& PictureFile() {
  static std::string name = [] {
    const size_t rowBytes = size_t(qv::PlaneRowBytes(kWidth));
    std::vector<uint8_t> body;
    std::vector<uint8_t> plane(rowBytes);
    uint32_t seed = 7;
    std::vector<uint8_t> pens(kWidth);
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        seed = seed * 1664525u + 1013904223u;
        uint32_t pen = uint32_t((x / 40 + y / 30) & 255);
        if ((x / 200 + y / 100) & 1) pen ^= (seed >> 29);
        pens[size_t(x)] = uint8_t(pen);
      }
      for (int p = 0; p < kPlanes; ++p) {
        std::memset(plane.data(), 0, rowBytes);
        for (int x = 0; x < kWidth; ++x) {
          if ((pens[size_t(x)] >> p) & 1) plane[size_t(x) / 8] |= uint8_t(0x80 >> (x & 7));
        }
        qv::PackByteRun(plane.data(), rowBytes, &body);
      }
    }
    if (body.size() & 1) body.push_back(0);
    std::vector<uint8_t> chunks = {'B', 'M', 'H', 'D', 0, 0, 0, 20};
    PutBe(&chunks, kWidth, 2);
    PutBe(&chunks, kHeight, 2);
    PutBe(&chunks, 0, 4);
    chunks.insert(chunks.end(), {kPlanes, 0, 1, 0, 0, 0, 1, 1});
    PutBe(&chunks, kWidth, 2);
    PutBe(&chunks, kHeight, 2);
    chunks.insert(chunks.end(), {'C', 'A', 'M', 'G', 0, 0, 0, 4, 0, 0, 0x80, 0x04});
    chunks.insert(chunks.end(), {'C', 'M', 'A', 'P'});
    PutBe(&chunks, 768, 4);
    for (uint32_t i = 0; i < 256; ++i) chunks.insert(chunks.end(), {uint8_t(i), uint8_t(~i), 77});
    chunks.insert(chunks.end(), {'B', 'O', 'D', 'Y'});
    PutBe(&chunks, uint32_t(body.size()), 4);
    chunks.insert(chunks.end(), body.begin(), body.end());
    std::vector<uint8_t> file = {'F', 'O', 'R', 'M'};
    PutBe(&file, uint32_t(chunks.size() + 4), 4);
    file.insert(file.end(), {'I', 'L', 'B', 'M'});
    file.insert(file.end(), chunks.begin(), chunks.end());

    static const qv::bench::BenchFolder folder("qvilbmbench");
    std::string n = folder.File("picture.ilbm");
    FILE* f = std::fopen(n.c_str(), "wb");
    if (f == nullptr || std::fwrite(file.data(), 1, file.size(), f) != file.size()) std::abort();
    std::fclose(f);
    return n;
  }();
  return name;
}

void BM_DecodeLoadPicture(benchmark::State& state) {
  qv::bench::TimeLoadPicture(state, PictureFile());
}

void BM_MemcpyOutput(benchmark::State& state) {
  std::vector<uint32_t> from(size_t(kWidth) * kHeight, 0x123456);
  std::vector<uint32_t> to(from.size(), 0);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), from.size() * 4);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
}

BENCHMARK(BM_DecodeLoadPicture)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_MemcpyOutput)->Unit(benchmark::kMillisecond)->MinTime(2);

}  // namespace

BENCHMARK_MAIN();
