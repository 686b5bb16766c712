// Fuzz target of the clipboard's picture reader: the input is a whole picture block. The check and
// the reader must agree, and a picture that reads has exactly width x height pixels.
// With QV_FUZZ_REPLAY the same entry function replays the committed corpus as a unit test.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/dib.h"

volatile uint32_t g_pixelSum;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int32_t width = 0, height = 0;
  std::vector<uint32_t> argb;
  bool checked = qv::CheckDib(data, size);
  bool read = qv::DecodeDib(data, size, &width, &height, &argb);
  if (checked != read) std::abort();
  if (!read) return 0;
  if (width < 1 || height < 1 || argb.size() != size_t(width) * size_t(height)) std::abort();
  uint32_t sum = 0;
  for (uint32_t p : argb) sum += p;
  g_pixelSum = sum;
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(DibFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
