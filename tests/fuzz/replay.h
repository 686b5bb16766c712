// Replays a committed fuzz corpus in the normal build: each file's bytes go to `check`, with the
// file's name on any failure. Returns how many files were read.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace qv::fuzz {

template <typename Check>
int ReplayCorpus(const std::filesystem::path& dir, Check check) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    SCOPED_TRACE(entry.path().string());
    check(bytes);
    ++files;
  }
  return files;
}

}  // namespace qv::fuzz
