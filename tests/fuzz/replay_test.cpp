// Replays the committed fuzz corpus in the normal build: only the loader's codes come out.
#include "tests/fuzz/replay.h"

#include <gtest/gtest.h>

#include "tests/fuzz/vm_load_harness.h"

namespace {

TEST(FuzzCorpus, LoaderCorpusGivesOnlyLoaderCodes) {
  const std::filesystem::path dir = std::filesystem::path(QV_FUZZ_CORPUS) / "vm_load";
  int files = qv::fuzz::ReplayCorpus(dir, [](const std::vector<uint8_t>& bytes) {
    int32_t status = qv::fuzz::LoadChunk(bytes.data(), bytes.size());
    EXPECT_TRUE(qv::fuzz::IsLoaderStatus(status)) << status;
  });
  EXPECT_GT(files, 10);
}

}  // namespace
