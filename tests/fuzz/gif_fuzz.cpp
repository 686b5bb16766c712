// Fuzz target of the GIF decoder: the first byte chooses an order of frame requests, the rest is
// the file, read through a memory file of the file layer. Every frame is decoded in sequence
// first; then the frames asked for in the chosen order (backwards, repeated, skipping) must come
// out equal to the sequential ones, failures included. Screens above a million pixels are passed
// over to keep the fuzzer's memory small.
// With QV_FUZZ_REPLAY the same entry function replays the committed corpus as a unit test.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/vfile.h"
#include "image/gif_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qv;
  if (size < 11) return 0;
  uint32_t seed = data[0];
  std::vector<uint8_t> copy(data + 1, data + size);
  if (int64_t(copy[6] | copy[7] << 8) * int64_t(copy[8] | copy[9] << 8) > (1 << 14)) return 0;
  char name[kMaxPathLength + 1];
  if (!RegisterMemoryFile("fuzz.gif", copy.data(), copy.size(), 1, nullptr, name, sizeof name)) {
    return 0;
  }
  qvGifInfo info;
  qvGifDecoder* gif = nullptr;
  if (LoadGif(name, false, &info, &gif) != 0) {
    if (gif != nullptr) __builtin_trap();
    UnregisterMemoryFile(name);
    return 0;
  }
  if (info.frames < 1 || info.width < 1 || info.height < 1) __builtin_trap();
  int32_t frames = info.frames < 32 ? info.frames : 32;
  size_t pixels = size_t(info.width) * size_t(info.height);
  std::vector<std::vector<uint32_t>> sequential(static_cast<size_t>(frames));
  for (int32_t n = 0; n < frames; ++n) {
    uint32_t* px = LoadGifFrame(gif, n);
    if (px != nullptr) sequential[size_t(n)].assign(px, px + pixels);
    std::free(px);
  }
  for (int i = 0; i < 12; ++i) {
    seed = seed * 1103515245u + 12345u;
    int32_t n = int32_t((seed >> 16) % uint32_t(frames));
    uint32_t* px = LoadGifFrame(gif, n);
    std::vector<uint32_t> got;
    if (px != nullptr) got.assign(px, px + pixels);
    std::free(px);
    if (got != sequential[size_t(n)]) __builtin_trap();
  }
  if (LoadGifFrame(gif, info.frames) != nullptr) __builtin_trap();
  FreeGif(gif);
  UnregisterMemoryFile(name);
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(GifFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
