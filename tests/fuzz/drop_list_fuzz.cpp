// Fuzz target of the dropped-file list reader: the input is the list's bytes (names, each ended
// by a zero, an empty name ending the list) in a buffer of exactly its size. Every name must lie
// inside the bytes, hold no zero and be followed by one unless the bytes end.
// With QV_FUZZ_REPLAY the same entry function replays the committed corpus as a unit test.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/events.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  char* bytes = static_cast<char*>(std::malloc(size ? size : 1));
  if (bytes == nullptr) return 0;
  if (size) std::memcpy(bytes, data, size);
  const char* at = bytes;
  for (std::string_view name : qv::ReadDropList(bytes, size)) {
    if (name.data() != at || name.empty()) std::abort();
    if (std::memchr(name.data(), '\0', name.size()) != nullptr) std::abort();
    size_t end = static_cast<size_t>(name.data() - bytes) + name.size();
    if (end > size || (end < size && bytes[end] != '\0')) std::abort();
    at = name.data() + name.size() + 1;
  }
  std::free(bytes);
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(DropListFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
