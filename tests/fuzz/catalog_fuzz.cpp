// Fuzz target of the locale catalog reader: the input is a whole catalog file. Every text that
// a lookup returns is read to its end, so a text reaching past the data shows up.
// With QV_FUZZ_REPLAY the same entry function replays the committed corpus as a unit test.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/catalog.h"

// Keeps the lengths (and so the reads of the texts) from being optimised away.
volatile size_t g_textBytes;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qv::qvCatalog* catalog = qv::ParseCatalog(data, size);
  if (catalog == nullptr) return 0;
  size_t total = 0;
  for (int32_t id = -1; id < 64; ++id) {
    total += std::strlen(qv::LookupCatalogString(catalog, id, ""));
  }
  // The ids that the input itself names.
  for (size_t i = 0; i + 4 <= size && i < 4096; i += 4) {
    int32_t id = int32_t(uint32_t(data[i]) << 24 | uint32_t(data[i + 1]) << 16 |
                         uint32_t(data[i + 2]) << 8 | data[i + 3]);
    total += std::strlen(qv::LookupCatalogString(catalog, id, ""));
  }
  qv::FreeWithBuffer(catalog);
  g_textBytes = total;
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(CatalogFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
