// The transfer client against curl: DownloadFile's core fetching 1 GiB from a loopback HTTP/1.1
// server (tests/network/peers/http_peer.py) to a file and to memory, beside `curl -o` on the same
// resource from the same server in the same run; and the processor time that a transfer spends
// while the peer stalls for 5 s (the wait must sleep, not spin).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "core/transfer.h"
#include "tests/network/peer.h"

namespace {

constexpr uint64_t kSize = 1ull << 30;

qv::testing::Peer* gPeer = nullptr;
qv::testing::TempDir* gDir = nullptr;

std::string BigUrl() { return gPeer->Url("http", "/big/" + std::to_string(kSize)); }

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void Download(benchmark::State& state, bool toFile) {
  for (auto _ : state) {
    qv::qvTransferOptions options;
    options.url = BigUrl();
    options.hasFile = toFile;
    options.file = gDir->Path("ours.bin");
    qv::qvNetContext ctx;
    qv::InitNetContext(&ctx, nullptr, 10000);
    qv::qvTransferResult result;
    int32_t code = qv::RunTransfer(&ctx, options, &result);
    if (code != 0 || result.count != kSize) state.SkipWithError("the transfer failed");
    benchmark::DoNotOptimize(result.data.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

void BM_DownloadFileToFile(benchmark::State& state) { Download(state, true); }
void BM_DownloadFileToMemory(benchmark::State& state) { Download(state, false); }

void BM_CurlToFile(benchmark::State& state) {
  std::string url = BigUrl();
  std::string out = gDir->Path("curl.bin");
  for (auto _ : state) {
    pid_t pid = fork();
    if (pid == 0) {
      execl("/usr/bin/curl", "curl", "-s", "-o", out.c_str(), url.c_str(), nullptr);
      _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("curl failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

// A peer that sends 3 of 10 announced bytes and then nothing: the transfer waits out its 5 s
// time-out. The counter is the processor time of that wait.
void BM_StalledPeerCpu(benchmark::State& state) {
  for (auto _ : state) {
    qv::qvTransferOptions options;
    options.url = gPeer->Url("http", "/stall");
    qv::qvNetContext ctx;
    qv::InitNetContext(&ctx, nullptr, 5000);
    qv::qvTransferResult result;
    double cpu = CpuSeconds();
    int32_t code = qv::RunTransfer(&ctx, options, &result);
    state.counters["cpu_ms"] = (CpuSeconds() - cpu) * 1000;
    if (code == 0) state.SkipWithError("the stalled transfer succeeded");
  }
}

BENCHMARK(BM_DownloadFileToFile)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_DownloadFileToMemory)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_CurlToFile)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_StalledPeerCpu)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  qv::testing::TempDir dir;
  qv::testing::Peer peer;
  if (!peer.Start({qv::testing::PeerScript("http_peer.py")})) {
    std::fprintf(stderr, "the loopback HTTP peer did not start\n");
    return 1;
  }
  gPeer = &peer;
  gDir = &dir;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
