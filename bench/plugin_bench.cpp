// Plugins (cmake --preset bench): a library plugin's command called from the script machine
// beside the same function built into the player, and LoadBrush of a 1024 x 768 picture that the
// media plugin reads beside the plugin's own LoadImage + GetImage + FreeImage of the file.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/plugins.h"
#include "core/registry.h"
#include "display/display.h"
#include "player/plugin_host.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

using namespace qv;

namespace {

constexpr int32_t kWidth = 1024, kHeight = 768;

// The built-in twin of the library plugin's mylib.add.
int32_t BuiltinAdd(qvScriptState* L) {
  double a = VmCheckNumber(L, 1);
  double b = VmCheckNumber(L, 2);
  VmPushNumber(L, a + b);
  return 1;
}

struct Fixture {
  qvScriptState* L = nullptr;
  std::string picture;

  Fixture() {
    L = VmOpenState(CoreVmHost());
    SetProcessVm(L);
    const qvAttrSetItem quiet[] = {{kAttrQuiet, 1}, {0, 0}};
    SetRuntimeAttrs(nullptr, quiet);
    SetPluginServiceFiller(FillPluginServices);
    // Every test plugin of the folder: the refused ones are passed over.
    StartPlugins(L, QV_TEST_PLUGIN_DIR, {});
    const qvLibraryRow rows[] = {{"BuiltinAdd", BuiltinAdd}, {nullptr, nullptr}};
    VmPushValue(L, kGlobalsIndex);
    VmRegisterLibrary(L, nullptr, rows, 0);
    VmSetTop(L, 0);
    char name[] = "/tmp/qv_plugin_bench_XXXXXX";
    int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    picture = name;
    std::vector<uint32_t> words = {uint32_t(kWidth), uint32_t(kHeight), 1};
    for (int32_t i = 0; i < kWidth * kHeight; ++i) words.push_back(0xFF000000u | uint32_t(i));
    FILE* f = std::fopen(name, "wb");
    std::fwrite("QVIM", 1, 4, f);
    std::fwrite(words.data(), 4, words.size(), f);
    std::fclose(f);
  }
  ~Fixture() {
    std::remove(picture.c_str());
    FreeAllBrushes(L);
    FreePluginLibraries(L);
    FreeRegistries();
    SetProcessVm(nullptr);
    VmCloseState(L);
    FreePlugins();
  }
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

// Pushes globals[table][name] (or globals[name]) and calls it with (i, 1) per iteration.
void CallLoop(benchmark::State& state, const char* table, const char* name) {
  qvScriptState* L = Shared().L;
  VmSetTop(L, 0);
  VmPushString(L, table != nullptr ? table : name);
  VmGetTable(L, kGlobalsIndex);
  if (table != nullptr) {
    VmPushString(L, name);
    VmGetTable(L, -2);
  }
  if (VmType(L, -1) != kTypeFunction) {
    state.SkipWithError("no such function");
    return;
  }
  const int fn = VmGetTop(L);
  double sum = 0;
  int i = 0;
  for (auto _ : state) {
    VmPushValue(L, fn);
    VmPushNumber(L, ++i);
    VmPushNumber(L, 1);
    if (VmPCall(L, 2, 1, 0) != 0) state.SkipWithError("call");
    sum += VmToNumber(L, -1);
    VmSetTop(L, fn);
  }
  benchmark::DoNotOptimize(sum);
  VmSetTop(L, 0);
}

void BM_PluginCommand(benchmark::State& state) { CallLoop(state, "mylib", "add"); }
BENCHMARK(BM_PluginCommand)->Name("Command/plugin/mylib.add");
void BM_BuiltinCommand(benchmark::State& state) { CallLoop(state, nullptr, "builtinadd"); }
BENCHMARK(BM_BuiltinCommand)->Name("Command/builtin/add");

void BM_LoadBrushViaPlugin(benchmark::State& state) {
  Fixture& f = Shared();
  qvObjectId id{1, nullptr};
  qvBrushLoadOptions options;
  for (auto _ : state) {
    if (LoadBrushFromFile(f.L, &id, false, f.picture.c_str(), options, nullptr) != 0) {
      state.SkipWithError("LoadBrush");
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight * 4);
}
BENCHMARK(BM_LoadBrushViaPlugin)->Name("LoadBrush/plugin/1024x768")->Unit(benchmark::kMillisecond);

void BM_PluginOwnLoad(benchmark::State& state) {
  Fixture& f = Shared();
  void* media = dlopen(QV_TEST_PLUGIN_DIR "/media.qvp", RTLD_NOW | RTLD_LOCAL);
  auto load = reinterpret_cast<void* (*)(const char*, qvImageFacts*)>(dlsym(media, "LoadImage"));
  auto get = reinterpret_cast<uint32_t* (*)(void*, qvImageFacts*)>(dlsym(media, "GetImage"));
  auto release = reinterpret_cast<void (*)(void*)>(dlsym(media, "FreeImage"));
  for (auto _ : state) {
    qvImageFacts facts{};
    void* image = load(f.picture.c_str(), &facts);
    benchmark::DoNotOptimize(get(image, &facts));
    release(image);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight * 4);
  dlclose(media);
}
BENCHMARK(BM_PluginOwnLoad)
    ->Name("LoadBrush/plugin_own_load/1024x768")
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
