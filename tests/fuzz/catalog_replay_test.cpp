// Runs every file of the committed catalog corpus through the fuzz target's entry point.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

TEST(CatalogFuzzCorpus, Replays) {
  namespace fs = std::filesystem;
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(QV_CATALOG_CORPUS)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    ++files;
  }
  EXPECT_GT(files, 0u);
}
