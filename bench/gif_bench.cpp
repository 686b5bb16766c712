// GIF decode of a 1920x1080 picture of 256 colours: LoadPicture (through the buffered-file layer,
// into 0xAARRGGBB words) beside giflib's DGifSlurp followed by the same colour mapping of its
// pens. The file is made once by the quantiser and our writer.
#include <benchmark/benchmark.h>
#include <gif_lib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/picture_bench.h"
#include "image/gif_io.h"
#include "image/image.h"
#include "image/picture.h"
#include "image/quantize.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

const std::string& PictureFile() {
  static std::string name = [] {
    static const qv::bench::BenchFolder folder("qvgifbench");
    std::string n = folder.File("picture.gif");
    // Gradients with edges and some noise, like a photograph reduced to 256 colours.
    std::vector<uint32_t> argb(size_t(kWidth) * kHeight);
    uint32_t seed = 1;
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        seed = seed * 1664525u + 1013904223u;
        uint32_t noise = (seed >> 28) & 7;
        uint32_t r = uint32_t(x * 255 / kWidth), g = uint32_t(y * 255 / kHeight);
        uint32_t b = ((x / 64 + y / 64) & 1) ? 200 : 40;
        argb[size_t(y) * kWidth + x] = (r + noise) % 256 << 16 | g << 8 | (b + noise);
      }
    }
    std::vector<uint8_t> pens(argb.size());
    std::vector<uint32_t> palette(256);
    int32_t colours = 256;
    if (!qv::QuantizeBitMap(reinterpret_cast<const uint8_t*>(argb.data()), qv::kPixARGB32, 4,
                            kWidth, kHeight, kWidth, pens.data(), palette.data(), &colours,
                            qv::kNoTransparentRGB, true, false)) {
      std::abort();
    }
    qv::qvGifWriter* writer = nullptr;
    if (qv::SaveGif(n.c_str(), kWidth, kHeight, &writer) != 0) std::abort();
    qv::qvGifFrame frame;
    frame.pens = pens.data();
    frame.width = kWidth;
    frame.height = kHeight;
    frame.palette = palette.data();
    frame.colours = colours;
    if (qv::SaveAnimGif(writer, frame) != 0 || qv::FinishAnimGif(writer) != 0) std::abort();
    return n;
  }();
  return name;
}

void BM_DecodeLoadPicture(benchmark::State& state) {
  qv::bench::TimeLoadPicture(state, PictureFile());
}

void BM_DecodeGiflibSlurp(benchmark::State& state) {
  const std::string& name = PictureFile();
  for (auto _ : state) {
    int error = 0;
    GifFileType* gif = DGifOpenFileName(name.c_str(), &error);
    if (gif == nullptr || DGifSlurp(gif) != GIF_OK) std::abort();
    const SavedImage& image = gif->SavedImages[0];
    const ColorMapObject* map = image.ImageDesc.ColorMap != nullptr ? image.ImageDesc.ColorMap
                                                                    : gif->SColorMap;
    uint32_t table[256] = {};
    for (int i = 0; i < map->ColorCount; ++i) {
      const GifColorType& c = map->Colors[i];
      table[i] = uint32_t(c.Red) << 16 | uint32_t(c.Green) << 8 | c.Blue;
    }
    size_t count = size_t(gif->SWidth) * gif->SHeight;
    auto* pixels = static_cast<uint32_t*>(std::malloc(count * 4));
    for (size_t i = 0; i < count; ++i) pixels[i] = table[image.RasterBits[i]];
    benchmark::DoNotOptimize(pixels[count - 1]);
    std::free(pixels);
    DGifCloseFile(gif, &error);
  }
}

}  // namespace

BENCHMARK(BM_DecodeLoadPicture)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_DecodeGiflibSlurp)->Unit(benchmark::kMillisecond)->MinTime(3);

BENCHMARK_MAIN();
