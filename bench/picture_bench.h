// What the picture benchmarks share: timing the player's own loader on one file.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "image/picture.h"

namespace qv::bench {

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
