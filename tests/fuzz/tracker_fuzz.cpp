// Fuzz target of the tracker replayer: the input is a whole module file. A parsed module renders
// 120 ms (a row at the default speed) in pieces, with position jumps posted between them (some
// past the song), so that rows from all over the song have their first tick; every sample
// position must stay inside its sample. Per-frame mixing is most of a run's cost and reaches no
// new code after the first ticks: a second of audio held the target near 150 runs a second.
// With QV_FUZZ_REPLAY the same entry function replays the committed corpus.
#include <cstdint>
#include <memory>
#include <vector>

#include "media/tracker.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto m = std::make_unique<qv::qvTrackerModule>();
  if (qv::ParseTrackerModule(data, size, m.get()) != 0) return 0;
  constexpr int kPieces = 12;
  constexpr int kPieceFrames = 480;  // 10 ms
  std::vector<int16_t> out(2 * kPieceFrames);
  uint32_t seed = static_cast<uint32_t>(size);
  for (int piece = 0; piece < kPieces; piece++) {
    seed = seed * 1103515245u + 12345u;
    if (piece % 3 == 2) m->jumpRequest.store(static_cast<int32_t>(seed >> 16 & 0x7F) << 8);
    qv::MixTrackerAudio(m.get(), out.data(), kPieceFrames);
    for (const auto& c : m->channels) {
      if (c.position < 0 || c.sample == 0) continue;
      const qv::qvTrackerSample& s = m->samples[c.sample - 1];
      if (c.position >= (s.loops ? s.loopEnd : s.length) + c.step + (1 << 14)) __builtin_trap();
    }
    if (m->position < 0 || m->position >= m->songLength || m->row < 0 || m->row > 63) {
      __builtin_trap();
    }
  }
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(TrackerFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
