// Compressed music through the platform's decoder, with files the ffmpeg tool makes at test time.
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "base/errors.h"
#include "fixtures/temp_path.h"
#include "media/pcm_sample.h"
#include "media/sound_stream.h"
#include "platform/time.h"
#include "tests/media/sound_fixture.h"

using namespace qv;

namespace {

// Makes `name` with the ffmpeg tool: `seconds` of two tones, 44100 Hz stereo.
std::string MakeCoded(const std::string& name, double seconds) {
  std::string path = qvtest::TempPath("coded_" + name);
  std::string cmd = "ffmpeg -loglevel error -y -f lavfi -i \"sine=frequency=440:duration=" +
                    std::to_string(seconds) +
                    "\" -f lavfi -i \"sine=frequency=660:duration=" + std::to_string(seconds) +
                    "\" -filter_complex amerge -ar 44100 \"" + path + "\"";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  return path;
}

// What the ffmpeg tool decodes: 16-bit interleaved.
std::vector<int16_t> ToolDecode(const std::string& path) {
  std::string raw = path + ".raw";
  std::string cmd = "ffmpeg -loglevel error -y -i \"" + path + "\" -f s16le \"" + raw + "\"";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  auto bytes = ReadBytes(raw);
  std::vector<int16_t> v(bytes.size() / 2);
  std::memcpy(v.data(), bytes.data(), v.size() * 2);
  return v;
}

std::vector<int16_t> ReadAll(qvSampleStream* s) {
  std::vector<int16_t> all;
  std::vector<int16_t> buf(4096 * 2);
  while (true) {
    bool end = false;
    int32_t got = ReadSampleStream(s, buf.data(), 4096, &end);
    all.insert(all.end(), buf.begin(), buf.begin() + got * s->channels);
    if (end || got == 0) break;
  }
  return all;
}

}  // namespace

class Decoded : public ::testing::TestWithParam<const char*> {};

TEST_P(Decoded, DecodesLikeTheToolAndSeeksExactly) {
  std::string path = MakeCoded(std::string("tones.") + GetParam(), 1.5);
  auto want = ToolDecode(path);
  for (bool music : {false, true}) {
    SCOPED_TRACE(music ? "streamed through the ring" : "decoded on the caller's thread");
    qvSampleStream* s = nullptr;
    ASSERT_EQ(OpenSampleFile(path.c_str(), music, &s), 0);
    EXPECT_EQ(s->type, kStreamDecoded);
    EXPECT_STREQ(GetSampleFormatName(s), "DirectShow stream");
    EXPECT_EQ(s->frequency, 44100);
    EXPECT_EQ(s->channels, 2);
    EXPECT_EQ(s->code, kPcm16Stereo);
    EXPECT_NEAR(static_cast<double>(s->frames), 1.5 * 44100, 44100 * 0.1);
    auto got = ReadAll(s);
    ASSERT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want);
    // Seeks land on the exact frame: what follows equals the whole decode from there, to the end.
    // Each but the first comes after a partial read.
    for (int64_t target :
         {int64_t{0}, int64_t{12345}, int64_t{44100}, int64_t{777}, int64_t{9728}}) {
      SeekSampleStream(s, target);
      std::vector<int16_t> part(3000 * 2);
      bool partEnd = false;
      ReadSampleStream(s, part.data(), 3000, &partEnd);
      SeekSampleStream(s, target);
      EXPECT_EQ(s->position, target);
      auto rest = ReadAll(s);
      ASSERT_EQ(rest.size(), want.size() - static_cast<size_t>(target) * 2) << target;
      for (size_t i = 0; i < rest.size(); i++) {
        ASSERT_EQ(rest[i], want[static_cast<size_t>(target) * 2 + i])
            << "target " << target << " value " << i;
      }
    }
    CloseSampleStream(s);
  }
  // Loaded whole as a sample.
  qvPcmSample* pcm = nullptr;
  uint32_t bytes;
  int32_t frequency, code;
  ASSERT_EQ(InitAudio(), 0);
  ASSERT_EQ(LoadSampleFile(path.c_str(), &pcm, &bytes, &frequency, &code), 0);
  EXPECT_EQ(bytes, want.size() * 2);
  EXPECT_EQ(std::memcmp(pcm->data, want.data(), bytes), 0);
  FreePcmSample(pcm);
  ShutdownAudio();
}

INSTANTIATE_TEST_SUITE_P(Formats, Decoded, ::testing::Values("mp3", "ogg"));

TEST(Decoder, FilesNothingUnderstandsFailWithACode) {
  std::vector<uint8_t> noise(5000);
  for (size_t i = 0; i < noise.size(); i++) noise[i] = static_cast<uint8_t>(i * 7919 >> 3);
  qvSampleStream* s = nullptr;
  EXPECT_EQ(OpenSampleFile(WriteTemp("noise.bin", noise).c_str(), true, &s), ERR_OPENSOUND);
  EXPECT_EQ(OpenSampleFile(WriteTemp("empty.bin", {}).c_str(), false, &s), ERR_OPENSOUND);
  // Every truncation of a real file opens and reads to an end, or fails with a code.
  std::string path = MakeCoded("short.ogg", 0.2);
  auto bytes = ReadBytes(path);
  for (size_t cut = 0; cut < bytes.size(); cut += 97) {
    std::vector<uint8_t> b(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
    int32_t err = OpenSampleFile(WriteTemp("cut.ogg", b).c_str(), true, &s);
    if (err == 0) {
      ReadAll(s);
      CloseSampleStream(s);
    } else {
      EXPECT_TRUE(err == ERR_OPENSOUND || err == ERR_DIRECTSHOW) << err;
    }
  }
}
