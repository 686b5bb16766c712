// Replays the committed fuzz corpus in the normal build: only the loader's codes come out.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/fuzz/vm_load_harness.h"

namespace {

TEST(FuzzCorpus, LoaderCorpusGivesOnlyLoaderCodes) {
  const std::filesystem::path dir = std::filesystem::path(QV_FUZZ_CORPUS) / "vm_load";
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    int32_t status = qv::fuzz::LoadChunk(bytes.data(), bytes.size());
    EXPECT_TRUE(qv::fuzz::IsLoaderStatus(status)) << entry.path() << ": " << status;
    ++files;
  }
  EXPECT_GT(files, 10);
}

}  // namespace
