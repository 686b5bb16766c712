// Fuzz target of the applet reader: the input is a whole container file, "QVA\0" included.
// With QV_FUZZ_REPLAY the same entry function replays the committed corpus as a unit test.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "core/applet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::vector<uint8_t> copy(data, data + size);
  std::FILE* file = fmemopen(copy.data(), copy.size(), "rb");
  if (file == nullptr) return 0;
  qv::qvAppletSettings settings;
  int code = qv::ReadApplet(file, "fuzz.qva", 0, &settings, 0);
  std::fclose(file);
  // Only the reader's own codes may come back.
  if (code != 0 && code != 1000 && code != 1198 && code != 1209 && code != 1210) __builtin_trap();
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(AppletFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
