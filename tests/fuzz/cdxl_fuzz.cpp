// Fuzz target of the CDXL reader: the input is a whole file, read through a memory file. An
// opened file gives every packet in order (video, then sound of the same time stamp), each
// decoded into buffers of exactly the announced size, then a seek into the middle and one packet
// more. With QV_FUZZ_REPLAY the same entry function replays the committed corpus as a unit test.
#include <cstdint>
#include <memory>
#include <vector>

#include "base/errors.h"
#include "core/vfile.h"
#include "media/cdxl_source.h"

volatile uint32_t g_pixelSum;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qv;
  std::vector<uint8_t> copy(data, data + size);
  char name[kMaxPathLength + 1];
  if (!RegisterMemoryFile("fuzz.cdxl", copy.data(), copy.size(), 1, nullptr, name, sizeof name)) {
    return 0;
  }
  std::unique_ptr<qvVideoSource> source;
  const int32_t code = OpenCdxlSource(name, &source);
  if (code != 0 && code != ERR_LOADVIDEO && code != ERR_MEM) __builtin_trap();
  if (code == 0) {
    const qvVideoFacts& facts = source->facts();
    if (facts.width < 1 || facts.height < 1 || facts.frameCount < 1) __builtin_trap();
    std::vector<uint32_t> pixels(size_t(facts.width) * size_t(facts.height));
    std::vector<int16_t> pcm(32768);
    double lastStamp = -1.0;
    uint32_t sum = 0;
    int packets = 0;
    for (;;) {
      qvVideoPacket packet;
      const int32_t got = source->NextPacket(&packet);
      if (got == kSourceEnd) break;
      if (got != 0) break;  // a read error ends the file as a player would
      if (packet.timeStamp < lastStamp) __builtin_trap();
      lastStamp = packet.timeStamp;
      if (packet.kind == kVideoPacketVideo) {
        double stamp;
        if (source->DecodeVideo(packet, pixels.data(), &stamp) != 0) __builtin_trap();
        for (uint32_t p : pixels) sum += p;
      } else {
        uint32_t bytes = 0;
        if (source->DecodeAudio(packet, pcm.data(), uint32_t(pcm.size() * 2), &bytes) != 0) {
          __builtin_trap();
        }
        if (facts.channels == 0) __builtin_trap();
      }
      source->FreePacket(&packet);
      ++packets;
    }
    if (packets < facts.frameCount) __builtin_trap();
    if (source->Seek(facts.durationMs / 2) != 0) __builtin_trap();
    qvVideoPacket packet;
    if (source->NextPacket(&packet) == 0) {
      if (packet.kind != kVideoPacketVideo) __builtin_trap();
      source->FreePacket(&packet);
    }
    g_pixelSum = sum;
  }
  source.reset();
  UnregisterMemoryFile(name);
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(CdxlFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
