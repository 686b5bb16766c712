// Fuzz target of the picture loader: the input is a whole picture file, read through a memory
// file of the file layer by IdentifyPicture and by LoadPicture in both modes. Only the loader's
// own codes may come back, a load must agree with the information read of the same bytes, and
// every pixel handed out is read (so a short array shows up under the sanitizers). The load for a
// bitmap must give the same answer and the same pixels, its rows laid out as it says.
// With QV_FUZZ_REPLAY the same entry function replays the committed corpus as a unit test.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "base/errors.h"
#include "core/vfile.h"
#include "image/image.h"
#include "image/picture.h"

// Keeps the pixel reads from being optimised away.
volatile uint32_t g_pixelSum;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qv;
  std::vector<uint8_t> copy(data, data + size);
  char name[kMaxPathLength + 1];
  if (!RegisterMemoryFile("fuzz.png", copy.data(), copy.size(), 1, nullptr, name, sizeof name)) {
    return 0;
  }
  int32_t type = IdentifyPicture(name);
  if (type < kPictureUnknown || type > kPictureGif) __builtin_trap();
  qvPictureFacts info;
  int infoCode = LoadPicture(name, nullptr, nullptr, &info);
  // Filling pictures as large as the readers allow (a GIF's screen is filled whatever its frames
  // cover) keeps the fuzzer at a few inputs a second; the reading of larger ones is left to the
  // size checks.
  if (infoCode == 0 && int64_t(info.width) * info.height > (int64_t(1) << 16)) {
    UnregisterMemoryFile(name);
    return 0;
  }
  uint32_t* pixels = nullptr;
  qvPictureFacts facts;
  int code = LoadPicture(name, nullptr, &pixels, &facts);
  uint32_t* rows = nullptr;
  qvPictureFacts rowFacts;
  int rowCode = LoadPictureForBitMap(name, nullptr, &rows, &rowFacts);
  UnregisterMemoryFile(name);
  if (rowCode != code) __builtin_trap();
  if (rowCode == 0) {
    if (rowFacts.width != facts.width || rowFacts.height != facts.height ||
        rowFacts.alpha != facts.alpha || facts.wordsPerRow != facts.width ||
        (rowFacts.wordsPerRow != facts.width &&
         rowFacts.wordsPerRow != BitMapWordsPerRow(facts.width))) {
      __builtin_trap();
    }
    for (size_t y = 0; y < size_t(facts.height); ++y) {
      for (size_t x = 0; x < size_t(facts.width); ++x) {
        if (rows[y * size_t(rowFacts.wordsPerRow) + x] != pixels[y * size_t(facts.width) + x])
          __builtin_trap();
      }
    }
    std::free(rows);
  } else if (rows != nullptr) {
    __builtin_trap();
  }
  if (code != 0 && code != ERR_MEM && code != ERR_LOADPICTURE2) __builtin_trap();
  if (infoCode != 0 && infoCode != ERR_LOADPICTURE2) __builtin_trap();
  if (code == 0) {
    if (infoCode != 0 || info.width != facts.width || info.height != facts.height ||
        info.alpha != facts.alpha || facts.width < 1 || facts.height < 1) {
      __builtin_trap();
    }
    uint32_t sum = 0;
    for (size_t i = 0; i < size_t(facts.width) * size_t(facts.height); ++i) sum += pixels[i];
    g_pixelSum = sum;
    std::free(pixels);
  } else if (pixels != nullptr) {
    __builtin_trap();
  }
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(PictureFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
