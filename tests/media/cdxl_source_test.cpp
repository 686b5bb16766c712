// The CDXL reader over memory files made by the test's own writer: the files it refuses, the
// packets of a file with sound in their order with their time stamps, palette and HAM frames
// against colours worked out here, the sound's sample values, seeks and the frame rate by chunk
// size.
#include "media/cdxl_source.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "base/errors.h"
#include "core/vfile.h"
#include "tests/fixtures/cdxl_builder.h"

namespace {

using qv::qvVideoPacket;
using qv::qvVideoSource;
using qvtest::CdxlLayout;

// A file of `frames` chunks: frame f has pens (x + y + f) % 16 and sound bytes f, f + 1, ...
std::vector<uint8_t> MakeFile(const CdxlLayout& l, int frames) {
  std::vector<uint16_t> palette;
  for (int i = 0; i < l.paletteBytes / 2; ++i)
    palette.push_back(uint16_t((i * 0x111 + 0x012) & 0xFFF));
  std::vector<uint8_t> out;
  for (int f = 0; f < frames; ++f) {
    std::vector<uint8_t> pens, sound;
    for (int y = 0; y < l.height; ++y)
      for (int x = 0; x < l.width; ++x) pens.push_back(uint8_t((x + y + f) % (1 << l.planes)));
    for (int i = 0; i < l.soundBytes; ++i) sound.push_back(uint8_t(f + i * 37));
    qvtest::AppendCdxlChunk(&out, l, uint32_t(f), pens, palette, sound);
  }
  return out;
}

class CdxlFile {
 public:
  explicit CdxlFile(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {
    static int32_t ref = 7000;
    EXPECT_TRUE(qv::RegisterMemoryFile("video.cdxl", bytes_.data(), bytes_.size(), ++ref, nullptr,
                                       name_, sizeof name_));
  }
  ~CdxlFile() { qv::UnregisterMemoryFile(name_); }
  int32_t Open(std::unique_ptr<qvVideoSource>* out) { return qv::OpenCdxlSource(name_, out); }

 private:
  std::vector<uint8_t> bytes_;
  char name_[qv::kMaxPathLength + 1];
};

TEST(CdxlSource, RefusesWhatIsNoPlayableCdxl) {
  struct Case {
    const char* what;
    void (*spoil)(CdxlLayout*);
    bool truncate = false;
  };
  const Case cases[] = {
      {"first chunk's type is not 1", [](CdxlLayout* l) { l->type = 2; }},
      {"second chunk of another size", [](CdxlLayout* l) { l->secondChunkDelta = 2; }},
      {"palette over 256 colours", [](CdxlLayout* l) { l->paletteBytes = 514; }},
      {"parts larger than the chunk", [](CdxlLayout* l) { l->chunkSizeDelta = -2; }},
      {"chunk smaller than its header",
       [](CdxlLayout* l) { l->chunkSizeDelta = -int64_t(qvtest::CdxlChunkSize(*l)) + 8; }},
      {"width 0", [](CdxlLayout* l) { l->width = 0; }},
      {"height 0", [](CdxlLayout* l) { l->height = 0; }},
      {"no planes", [](CdxlLayout* l) { l->planes = 0; }},
      {"nine planes", [](CdxlLayout* l) { l->planes = 9; }},
      {"chunky layout", [](CdxlLayout* l) { l->info = 0x20; }},
      {"bit-line layout", [](CdxlLayout* l) { l->info = 0x80; }},
      {"one chunk only: no second size to compare", nullptr, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CdxlLayout l;
    if (c.spoil != nullptr) c.spoil(&l);
    std::vector<uint8_t> bytes = MakeFile(l, 3);
    if (c.truncate) bytes.resize(qvtest::CdxlChunkSize(l));
    CdxlFile file(bytes);
    std::unique_ptr<qvVideoSource> source;
    EXPECT_EQ(file.Open(&source), qv::ERR_LOADVIDEO);
    EXPECT_EQ(source, nullptr);
  }
  std::unique_ptr<qvVideoSource> source;
  EXPECT_EQ(qv::OpenCdxlSource("/nonexistent/video.cdxl", &source), qv::ERR_READFILE);
}

TEST(CdxlSource, ChunksGiveVideoThenSoundWithOneTimeStamp) {
  CdxlLayout l;
  l.soundBytes = 6;
  l.padding = 3;
  // Three whole chunks and a partial fourth: the partial one is no frame.
  std::vector<uint8_t> bytes = MakeFile(l, 4);
  bytes.resize(bytes.size() - 5);
  CdxlFile file(bytes);
  std::unique_ptr<qvVideoSource> source;
  ASSERT_EQ(file.Open(&source), 0);
  const uint32_t chunk = qvtest::CdxlChunkSize(l);
  const double fps = 153600.0 / chunk;
  EXPECT_EQ(source->facts().width, 16);
  EXPECT_EQ(source->facts().height, 2);
  EXPECT_EQ(source->facts().frameCount, 3);
  EXPECT_EQ(source->facts().channels, 1);
  EXPECT_EQ(source->facts().frequency, int32_t(6 * fps));
  EXPECT_EQ(source->facts().durationMs, int32_t(3 / fps * 1000));
  EXPECT_TRUE(source->facts().seekable);
  EXPECT_STREQ(source->FormatName(), "CDXL");

  for (int f = 0; f < 3; ++f) {
    SCOPED_TRACE(f);
    qvVideoPacket video, sound;
    ASSERT_EQ(source->NextPacket(&video), 0);
    ASSERT_EQ(source->NextPacket(&sound), 0);
    EXPECT_EQ(video.kind, qv::kVideoPacketVideo);
    EXPECT_EQ(sound.kind, qv::kVideoPacketSound);
    EXPECT_DOUBLE_EQ(video.timeStamp, f / fps);
    EXPECT_DOUBLE_EQ(sound.timeStamp, video.timeStamp);

    std::vector<uint32_t> pixels(16 * 2, 0xDEADBEEF);
    double stamp = -5;
    ASSERT_EQ(source->DecodeVideo(video, pixels.data(), &stamp), 0);
    EXPECT_DOUBLE_EQ(stamp, video.timeStamp);
    for (int y = 0; y < 2; ++y) {
      for (int x = 0; x < 16; ++x) {
        const int pen = (x + y + f) % 16;
        const uint32_t rgb = (pen * 0x111 + 0x012) & 0xFFF;
        const uint32_t want = ((rgb >> 8) * 17) << 16 | (((rgb >> 4) & 15) * 17) << 8 |
                              (rgb & 15) * 17;
        ASSERT_EQ(pixels[y * 16 + x], want) << x << "," << y;
      }
    }
    int16_t pcm[8] = {};
    uint32_t got = 0;
    ASSERT_EQ(source->DecodeAudio(sound, pcm, sizeof pcm, &got), 0);
    ASSERT_EQ(got, 12u);
    for (int i = 0; i < 6; ++i) {
      EXPECT_EQ(pcm[i], int16_t(int8_t(uint8_t(f + i * 37))) * 256) << i;
    }
    source->FreePacket(&video);
    source->FreePacket(&sound);
  }
  qvVideoPacket end;
  EXPECT_EQ(source->NextPacket(&end), qv::kSourceEnd);
}

TEST(CdxlSource, HamFramesByPlaneCount) {
  // Pens: a palette entry, then blue, red and green changes holding the other components.
  struct Case {
    uint8_t planes;
    std::vector<uint8_t> pens;
    std::vector<uint32_t> want;
  };
  const Case cases[] = {
      {6, {0x03, 0x1F, 0x25, 0x3A}, {0x333333, 0x3333F0, 0x5033F0, 0x50A0F0}},
      {8, {0x05, 0x7F, 0x81, 0xC2}, {0x555555, 0x5555FC, 0x0455FC, 0x0408FC}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.planes));
    CdxlLayout l;
    l.info = 1;
    l.planes = c.planes;
    l.width = 4;
    l.height = 1;
    l.paletteBytes = 128;
    std::vector<uint16_t> palette(64);
    for (int i = 0; i < 64; ++i) palette[i] = uint16_t((i & 15) * 0x111);
    std::vector<uint8_t> bytes;
    for (uint32_t f = 0; f < 2; ++f) qvtest::AppendCdxlChunk(&bytes, l, f, c.pens, palette, {});
    CdxlFile file(bytes);
    std::unique_ptr<qvVideoSource> source;
    ASSERT_EQ(file.Open(&source), 0);
    qvVideoPacket video;
    ASSERT_EQ(source->NextPacket(&video), 0);
    std::vector<uint32_t> pixels(4);
    double stamp;
    ASSERT_EQ(source->DecodeVideo(video, pixels.data(), &stamp), 0);
    EXPECT_EQ(pixels, c.want);
    source->FreePacket(&video);
  }
}

TEST(CdxlSource, SeeksLandOnTheFrameOfTheTimeClampedToTheLast) {
  CdxlLayout l;
  l.soundBytes = 4;
  l.padding = 12800 - qvtest::CdxlChunkSize(l);  // 12 frames a second
  CdxlFile file(MakeFile(l, 5));
  std::unique_ptr<qvVideoSource> source;
  ASSERT_EQ(file.Open(&source), 0);
  const double fps = 153600.0 / qvtest::CdxlChunkSize(l);
  const int64_t ms2 = int64_t(std::ceil(2 / fps * 1000));
  const struct {
    int64_t ms;
    int frame;
  } cases[] = {{0, 0}, {-40, 0}, {ms2, 2}, {ms2 - 1, 1}, {int64_t(1) << 40, 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ms);
    qvVideoPacket first;
    ASSERT_EQ(source->NextPacket(&first), 0);  // leaves a sound packet pending
    source->FreePacket(&first);
    ASSERT_EQ(source->Seek(c.ms), 0);
    qvVideoPacket video;
    ASSERT_EQ(source->NextPacket(&video), 0);
    EXPECT_EQ(video.kind, qv::kVideoPacketVideo);
    EXPECT_DOUBLE_EQ(video.timeStamp, c.frame / fps);
    source->FreePacket(&video);
  }
}

TEST(CdxlSource, FrameRateFollowsTheChunkSize) {
  const struct {
    uint32_t chunk;
    double fps;
  } cases[] = {{13000, 153600.0 / 13000},
               {13001, 307200.0 / 13001},
               {40000, 307200.0 / 40000},
               {40001, 614400.0 / 40001}};
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(qv::CdxlFramesPerSecond(c.chunk), c.fps) << c.chunk;
  EXPECT_NEAR(qv::CdxlFramesPerSecond(13000), 11.8, 0.02);
  EXPECT_NEAR(qv::CdxlFramesPerSecond(13001), 23.6, 0.03);
}

}  // namespace
