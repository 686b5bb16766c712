// Fuzz target of the IFF ILBM reader and writer: the input is a whole ILBM file, read through a
// memory file in both modes, plainly and with a stencil pen, a free transparent colour and the
// palette asked for. A load must agree with the information read, every pixel handed out is read,
// and a picture read is written by the 24-plane writer and read back unchanged.
// With QV_FUZZ_REPLAY the same entry function replays the committed corpus as a unit test.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/errors.h"
#include "core/vfile.h"
#include "image/ilbm_io.h"
#include "image/picture.h"

volatile uint32_t g_pixelSum;

namespace {

int LoadFrom(const std::vector<uint8_t>& bytes, const qv::qvIlbmRequest* request, uint32_t** pixels,
             qv::qvPictureFacts* facts) {
  char name[qv::kMaxPathLength + 1];
  if (!qv::RegisterMemoryFile("fuzz.iff", bytes.data(), bytes.size(), 1, nullptr, name,
                              sizeof name)) {
    return -1;
  }
  int code = qv::LoadIlbm(name, request, pixels, facts);
  qv::UnregisterMemoryFile(name);
  return code;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qv;
  std::vector<uint8_t> copy(data, data + size);
  qvPictureFacts info;
  int infoCode = LoadFrom(copy, nullptr, nullptr, &info);
  if (infoCode == -1) return 0;
  // Pictures of up to 2^31 bytes are read, but filling large ones keeps the fuzzer at a few inputs
  // a second; the reading of larger ones is left to the size check.
  if (infoCode == 0 && int64_t{info.width} * info.height > (int64_t{1} << 14)) return 0;
  qvIlbmRequest stencil;
  stencil.transparentPen = 0xFF0000;
  stencil.findFreeColour = true;
  stencil.wantPalette = true;
  const qvIlbmRequest* const requests[] = {nullptr, &stencil};
  for (const qvIlbmRequest* request : requests) {
    uint32_t* pixels = nullptr;
    qvPictureFacts facts;
    int code = LoadFrom(copy, request, &pixels, &facts);
    if (infoCode != 0 && infoCode != ERR_LOADPICTURE2) __builtin_trap();
    if (code != 0 && code != ERR_MEM && code != ERR_LOADPICTURE2) __builtin_trap();
    if (code != 0) {
      if (pixels != nullptr) __builtin_trap();
      continue;
    }
    if (infoCode != 0 || info.width != facts.width || info.height != facts.height) __builtin_trap();
    const size_t count = size_t(facts.width) * size_t(facts.height);
    uint32_t sum = 0;
    for (size_t i = 0; i < count; ++i) sum += pixels[i];
    if (facts.palette != nullptr) {
      for (int i = 0; i < 256; ++i) sum += facts.palette[i];
    }
    g_pixelSum = sum;
    std::vector<uint8_t> written;
    if (EncodeIlbm(pixels, int64_t{facts.width} * 4, facts.width, facts.height, &written) == 0) {
      uint32_t* back = nullptr;
      qvPictureFacts again;
      if (LoadFrom(written, nullptr, &back, &again) != 0) __builtin_trap();
      if (std::memcmp(back, pixels, count * 4) != 0) __builtin_trap();
      std::free(back);
    }
    std::free(pixels);
    std::free(facts.palette);
  }
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(IlbmFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
