// The settings store (the scripts' registry): 10 000 writes of a number, each one locking the
// root's file, rewriting it beside itself and renaming it into place, and 10 000 reads, beside the
// floor: a bare loop that writes the same bytes to a new file and renames it into place.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/settings_store.h"

namespace {

constexpr int kOperations = 10000;

// A private XDG_CONFIG_HOME for the run.
class Scratch {
 public:
  Scratch() {
    char pattern[] = "/tmp/qv_registry_bench_XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    dir_ = pattern;
    setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
  }
  ~Scratch() { std::filesystem::remove_all(dir_); }
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
};

void Writes(benchmark::State& state) {
  Scratch scratch;
  for (auto _ : state) {
    for (int i = 0; i < kOperations; ++i) {
      qv::qvStoreValue v;
      v.type = qv::StoreType::kDword;
      v.number = static_cast<uint32_t>(i);
      if (qv::WriteStoreValue(4, "Software/Quillvane/Bench", "Count", v) != 0) std::abort();
    }
  }
  state.SetItemsProcessed(state.iterations() * kOperations);
}

void Reads(benchmark::State& state) {
  Scratch scratch;
  qv::qvStoreValue v;
  v.type = qv::StoreType::kDword;
  v.number = 42;
  if (qv::WriteStoreValue(4, "Software/Quillvane/Bench", "Count", v) != 0) std::abort();
  for (auto _ : state) {
    for (int i = 0; i < kOperations; ++i) {
      qv::qvStoreValue out;
      if (qv::ReadStoreValue(4, "Software/Quillvane/Bench", "Count", &out) != 0) std::abort();
      benchmark::DoNotOptimize(out.number);
    }
  }
  state.SetItemsProcessed(state.iterations() * kOperations);
}

// The floor of a write: the same file text written to a new file and renamed into place.
void BareWriteAndRename(benchmark::State& state) {
  Scratch scratch;
  std::string path = scratch.dir() + "/store.ini";
  std::string temp = path + ".new";
  for (auto _ : state) {
    for (int i = 0; i < kOperations; ++i) {
      char text[64];
      int n = std::snprintf(text, sizeof text, "[Software/Quillvane/Bench]\nCount=dword:%08x\n", i);
      int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
      if (fd < 0 || write(fd, text, static_cast<size_t>(n)) != n || close(fd) != 0 ||
          rename(temp.c_str(), path.c_str()) != 0) {
        std::abort();
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * kOperations);
}

BENCHMARK(Writes)->Unit(benchmark::kMillisecond);
BENCHMARK(BareWriteAndRename)->Unit(benchmark::kMillisecond);
BENCHMARK(Reads)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
