// Fuzz targets of the anim sources: the first byte chooses an order of frame requests, the rest is
// the file, read through a memory file of the file layer. Built as iff_anim_fuzz, avi_anim_fuzz
// and gif_source_fuzz; each passes over files of the other types. The source opens, every frame
// (up to 32) is asked for in sequence, then frames in the chosen order: backwards, repeated,
// skipping. IFF and GIF frames depend on the file alone, so they must come out equal to the
// sequential ones, failures included; an AVI frame may be found by its index or by walking, which
// a damaged file lets disagree, so there every frame must only be whole. Pictures above 2^16
// pixels are passed over to keep the fuzzer's memory small.
// With QV_FUZZ_REPLAY the same entry function replays the committed corpus as a unit test.
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/vfile.h"
#include "media/anim_source.h"

namespace {

constexpr int64_t kMaxPixels = int64_t{1} << 16;

// An IFF picture's size is allocated when it opens: every BMHD must stay small.
bool SmallIff(const std::vector<uint8_t>& file) {
  for (size_t at = 0; at + 12 <= file.size(); ++at) {
    if (std::memcmp(&file[at], "BMHD", 4) != 0) continue;
    const int64_t width = file[at + 8] << 8 | file[at + 9];
    const int64_t height = file[at + 10] << 8 | file[at + 11];
    if (width * height > kMaxPixels) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qv;
  if (size < 13) return 0;
  uint32_t seed = data[0];
  std::vector<uint8_t> copy(data + 1, data + size);
  if (!SmallIff(copy)) return 0;
  char name[kMaxPathLength + 1];
  if (!RegisterMemoryFile("fuzz.anim", copy.data(), copy.size(), 1, nullptr, name, sizeof name)) {
    return 0;
  }
  qvAnimSource* source = nullptr;
  if (IdentifyAnim(name) != QV_FUZZ_KIND || OpenAnimSource(name, &source) != 0) {
    if (source != nullptr) __builtin_trap();
    UnregisterMemoryFile(name);
    return 0;
  }
  if (source->frames < 1 || source->width < 1 || source->height < 1) __builtin_trap();
  const size_t pixels = size_t(source->width) * size_t(source->height);
  if (int64_t(pixels) > kMaxPixels) {
    CloseAnimSource(source);
    UnregisterMemoryFile(name);
    return 0;
  }
  const int32_t frames = source->frames < 32 ? source->frames : 32;
  const bool fixed = QV_FUZZ_KIND != kAnimFileAvi;
  std::vector<std::vector<uint32_t>> sequential(static_cast<size_t>(frames));
  auto take = [&](int32_t n) {
    uint32_t* px = LoadAnimSourceFrame(source, n);
    std::vector<uint32_t> got;
    if (px != nullptr) got.assign(px, px + pixels);  // every word must be there to read
    FreeAnimSourceFrame(source, px);
    (void)GetAnimSourceFrameDelay(source, n);
    return got;
  };
  for (int32_t n = 0; n < frames; ++n) sequential[size_t(n)] = take(n);
  for (int i = 0; i < 12; ++i) {
    seed = seed * 1103515245u + 12345u;
    const int32_t n = int32_t((seed >> 16) % uint32_t(frames));
    const std::vector<uint32_t> got = take(n);
    if (fixed && got != sequential[size_t(n)]) __builtin_trap();
  }
  if (LoadAnimSourceFrame(source, source->frames) != nullptr) __builtin_trap();
  CloseAnimSource(source);
  UnregisterMemoryFile(name);
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

#if QV_FUZZ_KIND == 1
#define QV_ANIM_FUZZ_SUITE IffAnimFuzz
#elif QV_FUZZ_KIND == 2
#define QV_ANIM_FUZZ_SUITE GifSourceFuzz
#else
#define QV_ANIM_FUZZ_SUITE AviAnimFuzz
#endif

TEST(QV_ANIM_FUZZ_SUITE, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
