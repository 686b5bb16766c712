// Fuzz target of the applet reader: the input is a whole container file, "QVA\0" included.
// With QV_FUZZ_REPLAY the same entry function replays the committed corpus as a unit test.
#include <cstdint>
#include <vector>

#include "core/applet.h"
#include "core/error_table.h"
#include "core/vfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The reader sees the bytes as a memory file of the file layer.
  std::vector<uint8_t> copy(data, data + size);
  char name[qv::kMaxPathLength + 1];
  if (!qv::RegisterMemoryFile("fuzz.qva", copy.data(), copy.size(), 1, nullptr, name,
                              sizeof name)) {
    return 0;
  }
  qv::qvFile* file = qv::OpenFileQ(name, qv::kFileRead);
  qv::UnregisterMemoryFile(name);
  if (file == nullptr) return 0;
  qv::qvAppletSettings settings;
  int code = qv::ReadApplet(file, "fuzz.qva", 0, &settings, 0);
  qv::CloseFileQ(file);
  // Only the reader's own codes may come back.
  using namespace qv;
  if (code != 0 && code != ERR_MEM && code != ERR_UNEXPECTEDEOF && code != ERR_APPLETVERSION &&
      code != ERR_UNKNOWNSEC) {
    __builtin_trap();
  }
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
