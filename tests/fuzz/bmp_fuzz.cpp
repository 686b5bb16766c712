// Fuzz target of the BMP reader and the ByteRun1 unpacker: the input is a whole BMP file, also
// unpacked as ByteRun1 rows of 7 bytes. A picture that reads has exactly width x height pixels and
// no unpacked row outgrows its buffer.
// With QV_FUZZ_REPLAY the same entry function replays the committed corpus as a unit test.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "base/errors.h"
#include "image/bmp_reader.h"
#include "image/planar.h"

volatile uint32_t g_pixelSum;

// Pictures as large as the reader allows take milliseconds each to fill, which would keep the
// fuzzer at a few inputs a second; the reading of larger ones is left to the size check.
constexpr int64_t kMaxFuzzPixels = int64_t{1} << 16;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int32_t width = 0, height = 0;
  std::vector<uint32_t> pixels;
  // The size alone reads for any picture the full read takes.
  int rc = qv::LoadBmp(data, size, &width, &height, nullptr);
  if (rc != 0 && rc != qv::ERR_LOADPICTURE2) std::abort();
  const bool read = rc == 0 && int64_t{width} * height <= kMaxFuzzPixels;
  if (read) rc = qv::LoadBmp(data, size, &width, &height, &pixels);
  if (rc != 0 && rc != qv::ERR_LOADPICTURE2 && rc != qv::ERR_MEM) std::abort();
  if (read && rc == 0) {
    if (width < 1 || height < 1 || pixels.size() != size_t(width) * size_t(height)) std::abort();
    uint32_t sum = 0;
    for (uint32_t p : pixels) sum += p;
    g_pixelSum = sum;
  }
  size_t pos = 0;
  uint8_t row[7];
  while (pos < size) {
    size_t before = pos;
    if (qv::UnpackByteRun(data, size, &pos, row, sizeof row) > sizeof row) std::abort();
    if (pos <= before || pos > size) std::abort();
  }
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(BmpFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
