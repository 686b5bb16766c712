// What the picture benchmarks share: timing the player's own loader on one file.
#pragma once

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "image/picture.h"

namespace qv::bench {

// A folder of the run's own for the files a benchmark writes, removed with what is in it when the
// program ends: runs over weeks would otherwise fill the temporary folder, which every player
// start scans.
class BenchFolder {
 public:
  explicit BenchFolder(const char* prefix) : path_(std::string("/tmp/") + prefix + "XXXXXX") {
    if (mkdtemp(path_.data()) == nullptr) std::abort();
  }
  ~BenchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  BenchFolder(const BenchFolder&) = delete;
  BenchFolder& operator=(const BenchFolder&) = delete;
  std::string File(const char* name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// LoadPicture of `name` as the player calls it, the pixels freed after each run.
inline void TimeLoadPicture(benchmark::State& state, const std::string& name) {
  for (auto _ : state) {
    uint32_t* pixels = nullptr;
    qvPictureFacts facts;
    if (LoadPicture(name.c_str(), nullptr, &pixels, &facts) != 0) {
      state.SkipWithError("LoadPicture failed");
      break;
    }
    benchmark::DoNotOptimize(pixels);
    std::free(pixels);
  }
}

}  // namespace qv::bench
