// Fuzz target of the settings store's reader: the input is a whole store file. What it reads must
// come back unchanged through the writer and the reader again.
// With QV_FUZZ_REPLAY the same entry function replays the committed corpus as a unit test.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/settings_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<qv::qvStoreEntry> entries;
  if (!qv::ParseStoreText(reinterpret_cast<const char*>(data), size, &entries)) return 0;
  std::string text = qv::FormatStoreText(entries);
  std::vector<qv::qvStoreEntry> again;
  if (!qv::ParseStoreText(text.data(), text.size(), &again)) std::abort();
  if (qv::FormatStoreText(again) != text) std::abort();
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(SettingsStoreFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
