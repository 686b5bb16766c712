#include <cstring>

#include "base/errors.h"
#include "core/vfile.h"
#include "media/pcm_sample.h"
#include "media/sound_stream.h"
#include "tests/media/sound_fixture.h"

using namespace qv;

namespace {

std::vector<int16_t> AsS16(const qvPcmSample* pcm) {
  std::vector<int16_t> v;
  for (uint32_t f = 0; f < pcm->frames; f++) {
    for (int c = 0; c < pcm->channels; c++)
      v.push_back(static_cast<int16_t>(PcmValue16(pcm, f, c)));
  }
  return v;
}

}  // namespace

TEST(SoundReaders, LoadedSamplesEqualSoxDecodes) {
  struct Row {
    const char* file;
    int32_t frequency, code;
    const char* format;
  };
  const Row rows[] = {
      {"mono8.8svx", 8000, kPcm8Mono, "IFF 8SVX"},
      {"stereo8.8svx", 8000, kPcm8Stereo, "IFF 8SVX"},
      {"mono16.16sv", 16000, kPcm16Mono, "IFF 16SV"},  // an odd chunk with its pad byte first
      {"stereo16.16sv", 16000, kPcm16Stereo, "IFF 16SV"},
      {"mono16.wav", 11025, kPcm16Mono, "RIFF WAVE"},
      {"stereo16.wav", 22050, kPcm16Stereo, "RIFF WAVE"},
      {"u8.wav", 8000, kPcm8Mono, "RIFF WAVE"},
      {"padded.wav", 11025, kPcm16Mono, "RIFF WAVE"},
  };
  ASSERT_EQ(InitAudio(), 0);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.file);
    std::string path = SoundData(r.file);
    qvPcmSample* pcm = nullptr;
    uint32_t bytes = 0;
    int32_t frequency = 0, code = -1;
    ASSERT_EQ(LoadSampleFile(path.c_str(), &pcm, &bytes, &frequency, &code), 0);
    EXPECT_EQ(frequency, r.frequency);
    EXPECT_EQ(code, r.code);
    EXPECT_EQ(bytes, pcm->frames * static_cast<uint32_t>(pcm->frameSize));
    auto want = ReadBytes(path + ".s16");
    auto got = AsS16(pcm);
    ASSERT_EQ(got.size() * 2, want.size());
    EXPECT_EQ(std::memcmp(got.data(), want.data(), want.size()), 0);
    FreePcmSample(pcm);
    qvSampleStream* s = nullptr;
    ASSERT_EQ(OpenSampleFile(path.c_str(), false, &s), 0);
    EXPECT_STREQ(GetSampleFormatName(s), r.format);
    CloseSampleStream(s);
  }
  ShutdownAudio();
}

TEST(SoundReaders, ReadingPastTheEndDeliversWhatIsLeftOnce) {
  std::string path = SoundData("stereo16.wav");
  qvSampleStream* s = nullptr;
  ASSERT_EQ(OpenSampleFile(path.c_str(), true, &s), 0);
  SeekSampleStream(s, s->frames - 20);
  std::vector<uint8_t> buf(1000 * 4);
  bool end = false;
  EXPECT_EQ(ReadSampleStream(s, buf.data(), 1000, &end), 20);
  EXPECT_TRUE(end);
  EXPECT_EQ(ReadSampleStream(s, buf.data(), 1000, &end), 0);
  int64_t before = s->position;
  SeekSampleStream(s, s->frames);  // beyond: the position stays
  EXPECT_EQ(s->position, before);
  CloseSampleStream(s);
}

// Edits of the voice header and the chunks that decide how a file is read.
TEST(SoundReaders, IffAndWaveHeaderRules) {
  auto mono = ReadBytes(SoundData("stereo8.8svx"));
  // The CHAN value 6 at offset 88 makes stereo; 2 and 4 play as mono.
  for (uint8_t chan : {2, 4}) {
    auto b = mono;
    b[91] = chan;
    std::string path = WriteTemp("chan.8svx", b);
    qvSampleStream* s = nullptr;
    ASSERT_EQ(OpenSampleFile(path.c_str(), false, &s), 0);
    EXPECT_EQ(s->channels, 1);
    EXPECT_EQ(s->frames, 320);  // both runs read as one
    CloseSampleStream(s);
  }
  // A compressed body is not the built-in reader's.
  auto packed = mono;
  packed[35] = 1;
  qvSampleStream probe{};
  std::string path = WriteTemp("packed.8svx", packed);
  qvFile* f = OpenFileQ(path.c_str(), kFileRead);
  EXPECT_FALSE(Open8svxFile(f, &probe));
  CloseFileQ(f);
  // An 18-byte "fmt " (with an extension size) is not the built-in WAVE reader's either.
  auto wav = ReadBytes(SoundData("mono16.wav"));
  std::vector<uint8_t> ext(wav.begin(), wav.begin() + 36);
  ext[16] = 18;
  ext.push_back(0);
  ext.push_back(0);
  ext.insert(ext.end(), wav.begin() + 36, wav.end());
  path = WriteTemp("ext.wav", ext);
  f = OpenFileQ(path.c_str(), kFileRead);
  EXPECT_FALSE(OpenWaveFile(f, &probe));
  CloseFileQ(f);
  const uint8_t head[12] = {'F', 'O', 'R', 'M', 0, 0, 0, 0, '1', '6', 'S', 'V'};
  EXPECT_EQ(DetectSampleStream(head, 12), kStream16sv);
  EXPECT_EQ(DetectSampleStream(head, 11), 0);
}

// Every truncation and many corruptions of each fixture load or fail with a code; the sanitizer
// build checks that nothing reads outside.
TEST(SoundReaders, TruncatedAndCorruptFilesFailWithACode) {
  ASSERT_EQ(InitAudio(), 0);
  for (const char* name : {"stereo8.8svx", "stereo16.16sv", "padded.wav", "u8.wav"}) {
    auto bytes = ReadBytes(SoundData(name));
    for (size_t cut = 0; cut < bytes.size(); cut += (cut < 60 ? 1 : 37)) {
      std::vector<uint8_t> b(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
      std::string path = WriteTemp("cut", b);
      qvPcmSample* pcm = nullptr;
      uint32_t n;
      int32_t fr, code;
      int32_t err = LoadSampleFile(path.c_str(), &pcm, &n, &fr, &code);
      if (err == 0) {
        EXPECT_LE(n, cut);
        FreePcmSample(pcm);
      } else {
        EXPECT_TRUE(err == ERR_OPENSOUND || err == ERR_STREAMASSAMPLE || err == ERR_DIRECTSHOW)
            << name << " cut at " << cut << ": " << err;
      }
    }
    for (size_t i = 0; i < std::min<size_t>(bytes.size(), 100); i++) {
      for (uint8_t v : {0x00, 0xFF}) {
        auto b = bytes;
        b[i] = v;
        std::string path = WriteTemp("bad", b);
        qvPcmSample* pcm = nullptr;
        uint32_t n;
        int32_t fr, code;
        if (LoadSampleFile(path.c_str(), &pcm, &n, &fr, &code) == 0) FreePcmSample(pcm);
      }
    }
  }
  qvPcmSample* pcm = nullptr;
  uint32_t n;
  int32_t fr, code;
  EXPECT_EQ(LoadSampleFile("/nonexistent/x.wav", &pcm, &n, &fr, &code), ERR_READFILE);
  // A WAVE whose data chunk is empty has nothing to load.
  auto wav = ReadBytes(SoundData("mono16.wav"));
  std::vector<uint8_t> empty(wav.begin(), wav.begin() + 44);
  empty[40] = empty[41] = empty[42] = empty[43] = 0;
  std::string path = WriteTemp("empty.wav", empty);
  EXPECT_EQ(LoadSampleFile(path.c_str(), &pcm, &n, &fr, &code), ERR_STREAMASSAMPLE);
  ShutdownAudio();
}

TEST(SoundReaders, CustomStreamFeedsEndsAndStarves) {
  qvSampleStream* s = nullptr;
  ASSERT_EQ(CreateCustomStream(nullptr, 8000, kPcm8MonoSigned, &s), 0);
  EXPECT_FALSE(s->seekable);
  uint8_t a[] = {1, 2, 3};
  uint8_t b[] = {4, 5};
  ASSERT_EQ(QueueCustomFrames(s, a, 3), 0);
  ASSERT_EQ(QueueCustomFrames(s, b, 2), 0);
  EXPECT_EQ(CustomFramesLeft(s), 5);
  uint8_t out[8];
  bool end = false;
  EXPECT_EQ(ReadSampleStream(s, out, 4, &end), 4);
  EXPECT_EQ(std::memcmp(out, "\1\2\3\4", 4), 0);
  EXPECT_FALSE(end);
  // Starved: the last frame, then signed silence, and the full count.
  EXPECT_EQ(ReadSampleStream(s, out, 3, &end), 3);
  EXPECT_EQ(out[0], 5);
  EXPECT_EQ(out[1], 0);
  EXPECT_EQ(out[2], 0);
  ASSERT_EQ(QueueCustomFrames(s, a, 1), 0);
  ASSERT_EQ(QueueCustomFrames(s, nullptr, 0), 0);  // the end marker
  EXPECT_EQ(ReadSampleStream(s, out, 8, &end), 1);
  EXPECT_TRUE(end);
  EXPECT_EQ(s->custom->queued, 6);
  CloseSampleStream(s);
}
