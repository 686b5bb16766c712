// Fuzz targets of the built-in sound readers: the input is a whole sound file. Built as
// iff_sound_fuzz (IFF 8SVX and 16SV) and wave_fuzz (RIFF WAVE); each reads every frame it
// announces in pieces of changing size, seeks, and checks that no read delivers more than asked
// or than the file holds. With QV_FUZZ_REPLAY the same entry function replays the committed corpus.
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/vfile.h"
#include "media/sound_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::vector<uint8_t> copy(data, data + size);
  char name[qv::kMaxPathLength + 1];
  if (!qv::RegisterMemoryFile("fuzz.snd", copy.data(), copy.size(), 1, nullptr, name,
                              sizeof name)) {
    return 0;
  }
  qv::qvFile* file = qv::OpenFileQ(name, qv::kFileRead);
  qv::UnregisterMemoryFile(name);
  if (file == nullptr) return 0;
  qv::qvSampleStream s{};
  s.file = file;
  s.seekable = true;
#ifdef QV_FUZZ_WAVE
  s.type = qv::kStreamWave;
  bool known = qv::OpenWaveFile(file, &s);
#else
  s.type = size > 11 && std::memcmp(data + 8, "16SV", 4) == 0 ? qv::kStream16sv : qv::kStream8svx;
  bool known = s.type == qv::kStream16sv ? qv::Open16svFile(file, &s) : qv::Open8svxFile(file, &s);
#endif
  if (known) {
    // What a reader announces must lie inside the file.
    if (s.dataOffset + s.dataSize > static_cast<int64_t>(size) || s.frames < 0) __builtin_trap();
    std::vector<uint8_t> buffer(4096 * 4);
    int32_t piece = 1;
    int64_t total = 0;
    for (int rounds = 0; rounds < 100000; rounds++) {
      bool end = false;
      int32_t got = qv::ReadSampleStream(&s, buffer.data(), piece, &end);
      if (got < 0 || got > piece) __builtin_trap();
      total += got;
      if (end || got == 0) break;
      piece = piece * 3 % 4093 + 1;
    }
    if (total > s.frames) __builtin_trap();
    qv::SeekSampleStream(&s, s.frames / 2);
    bool end = false;
    qv::ReadSampleStream(&s, buffer.data(), 4096, &end);
  }
  qv::CloseFileQ(file);
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(SoundReaderFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
