// Fuzz target of the JPEG reader over memory (as motion-JPEG frames are read): the input is a
// whole JPEG stream, read in both modes. Only the reader's own codes may come back, a load must
// agree with the information read of the same bytes, and every pixel handed out is read (so a
// short array shows up under the sanitizers).
// With QV_FUZZ_REPLAY the same entry function replays the committed corpus as a unit test.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "base/errors.h"
#include "image/jpeg_io.h"
#include "image/picture.h"

volatile uint32_t g_pixelSum;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qv;
  qvPictureFacts info;
  int infoCode = LoadJpeg(nullptr, data, size, nullptr, &info);
  if (infoCode != 0 && infoCode != ERR_LOADPICTURE2) __builtin_trap();
  // Decoding pictures as large as the reader allows keeps the fuzzer at a few hundred inputs a
  // second; the reading of larger ones is left to the size check.
  if (infoCode == 0 && int64_t(info.width) * info.height > (int64_t(1) << 14)) return 0;
  uint32_t* pixels = nullptr;
  qvPictureFacts facts;
  int code = LoadJpeg(nullptr, data, size, &pixels, &facts);
  if (infoCode != 0 && infoCode != ERR_LOADPICTURE2) __builtin_trap();
  if (code != 0 && code != ERR_MEM && code != ERR_LOADPICTURE2) __builtin_trap();
  if (code != 0) {
    if (pixels != nullptr) __builtin_trap();
    return 0;
  }
  if (infoCode != 0 || info.width != facts.width || info.height != facts.height ||
      facts.width < 1 || facts.height < 1) {
    __builtin_trap();
  }
  uint32_t sum = 0;
  for (size_t i = 0; i < size_t(facts.width) * size_t(facts.height); ++i) {
    if (pixels[i] >> 24) __builtin_trap();  // no alpha
    sum += pixels[i];
  }
  g_pixelSum = sum;
  std::free(pixels);
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(JpegFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
