// Fuzz target of the multi-frame loader: the first 28 bytes are the load's options (frames,
// frames per row, width, height, x, y as 32-bit little-endian words of any value; a flags byte:
// 1 loadalpha, 2 a transparent colour, 4 fromdisk; the colour's three bytes), the rest a GIF read
// through a memory file of the file layer, as an anim source or, with frames, as a picture cut
// into a grid. What comes back must be whole: on success every frame has a bitmap or a pixel
// source of the frames' size, on failure nothing is left. Screens above 4096 pixels are passed
// over to keep the fuzzer fast.
// With QV_FUZZ_REPLAY the same entry function replays the committed corpus as a unit test.
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/vfile.h"
#include "display/picture_files.h"
#include "image/image.h"
#include "media/anim_build.h"

namespace {

int32_t Word(const uint8_t* p) {
  return static_cast<int32_t>(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                              uint32_t(p[3]) << 24);
}

constexpr size_t kHeader = 28;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qv;
  if (size < kHeader + 10) return 0;
  const uint8_t* file = data + kHeader;
  if (std::memcmp(file, "GIF8", 4) != 0) return 0;
  if (int64_t(file[6] | file[7] << 8) * int64_t(file[8] | file[9] << 8) > (1 << 12)) return 0;
  qvAnimLoadOptions options;
  options.frames = Word(data);
  options.framesPerRow = Word(data + 4);
  options.width = Word(data + 8);
  options.height = Word(data + 12);
  options.x = Word(data + 16);
  options.y = Word(data + 20);
  const uint8_t flags = data[24];
  options.loadAlpha = (flags & 1) != 0;
  if (flags & 2) options.transparentColour = data[25] << 16 | data[26] << 8 | data[27];
  options.fromDisk = (flags & 4) != 0;
  std::vector<uint8_t> copy(file, data + size);
  char name[kMaxPathLength + 1];
  if (!RegisterMemoryFile("fuzz.gif", copy.data(), copy.size(), 1, nullptr, name, sizeof name)) {
    return 0;
  }
  qvAnimFrames frames;
  const int code = LoadAnimObject(nullptr, name, options, kAnimTargetSprite, &frames);
  if (code != 0) {
    if (frames.count != 0 || frames.bitmaps != nullptr || frames.pixelSources != nullptr) {
      __builtin_trap();
    }
  } else {
    if (frames.count < 1 || frames.width < 1 || frames.height < 1) __builtin_trap();
    for (int32_t i = 0; i < frames.count; ++i) {
      const qvBitMap* bitmap = frames.bitmaps[i];
      const bool source = frames.pixelSources != nullptr && frames.pixelSources[i] != nullptr;
      if (bitmap == nullptr && !source) __builtin_trap();
      if (bitmap != nullptr && (bitmap->width != frames.width || bitmap->height != frames.height)) {
        __builtin_trap();
      }
      if (source) {
        // Every word of the block is there to be read.
        volatile uint32_t last =
            frames.pixelSources[i][size_t(frames.width) * size_t(frames.height) - 1];
        (void)last;
      }
    }
  }
  FreeAnimFrames(&frames);
  FreeImageCache();
  UnregisterMemoryFile(name);
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(AnimLoadFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
