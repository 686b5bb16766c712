// The Motion-JPEG AVI writer: the files are judged by ffprobe and ffmpeg, their header layout
// walked here byte by byte, and read back through the AVI anim source.
#include "media/avi_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/errors.h"
#include "media/anim_source.h"
#include "tests/fixtures/run_command.h"
#include "tests/fixtures/temp_dir.h"

using namespace qv;

namespace {

constexpr int32_t kWidth = 64, kHeight = 48;

// A smooth picture that moves with n: gradients and a box.
std::vector<uint32_t> Picture(int32_t n, int32_t width = kWidth, int32_t height = kHeight) {
  std::vector<uint32_t> p(size_t(width) * size_t(height));
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      uint32_t r = uint32_t(x * 255 / width), g = uint32_t(y * 255 / height), b = uint32_t(n * 40);
      if (x >= 10 + n * 4 && x < 26 + n * 4 && y >= 12 && y < 30) r = g = b = 230;
      p[size_t(y) * size_t(width) + size_t(x)] = (r & 255) << 16 | (g & 255) << 8 | (b & 255);
    }
  }
  return p;
}

double Psnr(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    for (int shift = 0; shift < 24; shift += 8) {
      const double d = double((a[i] >> shift) & 255) - double((b[i] >> shift) & 255);
      sum += d * d;
    }
  }
  const double mse = sum / double(a.size() * 3);
  return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

uint32_t Le32(const std::string& s, size_t at) {
  return uint32_t(uint8_t(s[at])) | uint32_t(uint8_t(s[at + 1])) << 8 |
         uint32_t(uint8_t(s[at + 2])) << 16 | uint32_t(uint8_t(s[at + 3])) << 24;
}

std::string Probe(const std::string& path, const char* stream, const char* entries) {
  return qvtest::RunCommand(std::string("ffprobe -v error -count_frames -select_streams ") +
                            stream + " -show_entries stream=" + entries +
                            " -of default=noprint_wrappers=1 '" + path + "'");
}

// Writes frames pictures 0..count-1 at the size; frames listed in `repeats` go without a picture.
void WriteFile(const std::string& path, int32_t fps, int32_t count,
               const std::vector<int32_t>& repeats = {}, const qvAviLimits& limits = {},
               int32_t width = kWidth, int32_t height = kHeight) {
  qvAviWriter* w = nullptr;
  ASSERT_EQ(OpenAVIWriter(path.c_str(), fps, width, height, 90, "test anim", &w, limits), 0);
  for (int32_t n = 0; n < count; ++n) {
    bool repeat = false;
    for (int32_t r : repeats) repeat = repeat || r == n;
    const std::vector<uint32_t> p = Picture(n, width, height);
    ASSERT_EQ(WriteAVIFrame(w, repeat ? nullptr : p.data(), width, width, height), 0) << n;
  }
  ASSERT_EQ(FinishAVIFile(w), 0);
}

TEST(AviWriter, TheAudioRateFitsAWholeNumberOfSamplesToEachFrame) {
  struct Case {
    int32_t fps, rate, samples;
  };
  const Case cases[] = {{25, 44100, 1764}, {24, 44088, 1837}, {29, 44080, 1520},
                        {11, 44099, 4009}, {1, 44100, 44100}, {1000000, 0, 0}};
  qvtest::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fps);
    qvAviWriter* w = nullptr;
    ASSERT_EQ(OpenAVIWriter(dir.Path("a.avi").c_str(), c.fps, 8, 8, 90, "", &w), 0);
    EXPECT_EQ(AVIWriterSampleRate(w), c.rate);
    EXPECT_EQ(AVIWriterSamplesPerFrame(w), c.samples);
    FreeAVIWriter(w);
  }
  // Rates that would make the microseconds per frame 0 or negative create nothing.
  for (int32_t fps : {0, -5, 1000001}) {
    qvAviWriter* w = nullptr;
    const std::string path = dir.Path("refused.avi");
    EXPECT_EQ(OpenAVIWriter(path.c_str(), fps, 8, 8, 90, "", &w), ERR_OUTOFRANGE) << fps;
    EXPECT_EQ(w, nullptr);
    EXPECT_TRUE(qvtest::ReadBytes(path).empty());
  }
}

TEST(AviWriter, FfmpegReadsTheStreamsAndDecodesTheFramesCloseToTheirPictures) {
  qvtest::TempDir dir;
  struct Case {
    int32_t fps;
    const char* rate;
    const char* frameRate;
  };
  const Case cases[] = {{25, "44100", "25/1"}, {24, "44088", "500000/20833"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fps);
    const std::string path = dir.Path("out.avi");
    WriteFile(path, c.fps, 6, {3});
    EXPECT_EQ(Probe(path, "v", "codec_name,width,height,r_frame_rate,nb_read_frames"),
              std::string("codec_name=mjpeg\nwidth=64\nheight=48\nr_frame_rate=") + c.frameRate +
                  "\nnb_read_frames=6\n");
    EXPECT_EQ(Probe(path, "a", "codec_name,sample_rate,channels"),
              std::string("codec_name=pcm_s16le\nsample_rate=") + c.rate + "\nchannels=2\n");
    const std::string raw = qvtest::RunCommand("ffmpeg -v error -i '" + path +
                                               "' -fps_mode passthrough -f rawvideo -pix_fmt "
                                               "rgb24 -");
    const size_t frameBytes = size_t(kWidth) * kHeight * 3;
    ASSERT_EQ(raw.size(), frameBytes * 6);
    for (int32_t n = 0; n < 6; ++n) {
      std::vector<uint32_t> got(size_t(kWidth) * kHeight);
      for (size_t i = 0; i < got.size(); ++i) {
        const size_t at = size_t(n) * frameBytes + i * 3;
        got[i] = uint32_t(uint8_t(raw[at])) << 16 | uint32_t(uint8_t(raw[at + 1])) << 8 |
                 uint8_t(raw[at + 2]);
      }
      // Frame 3 came without a picture and repeats frame 2.
      EXPECT_GE(Psnr(got, Picture(n == 3 ? 2 : n)), 32.0) << "frame " << n;
    }
  }
}

TEST(AviWriter, HeadersKeepTheirFixedSizesAndTheFileReadsBack) {
  qvtest::TempDir dir;
  const std::string path = dir.Path("out.avi");
  // 8 x 8 frames compress to more than 8 x 8 x 3 bytes: the reader sizes its buffer per chunk.
  const int32_t width = 8, height = 8;
  WriteFile(path, 25, 4, {0, 3}, {}, width, height);
  const std::string s = qvtest::ReadBytes(path);
  ASSERT_GT(s.size(), 40000u);
  const uint32_t payload = 10 + 24 + 146;  // "test anim", the software's name, the comment
  struct Expect {
    size_t at;
    const char* id;
    uint32_t size;
  };
  const size_t audio = 12 + 12 + 64;
  const size_t video = audio + 8 + 16476;
  const size_t odml = video + 8 + 16500;
  const size_t info = odml + 8 + 16;
  const Expect layout[] = {
      {0, "RIFF", uint32_t(s.size() - 8)},
      {12, "LIST", 33120 + payload},
      {24, "avih", 56},
      {audio, "LIST", 16476},
      {audio + 12, "strh", 56},
      {audio + 76, "strf", 16},
      {audio + 100, "indx", 16376},
      {video, "LIST", 16500},
      {video + 12, "strh", 56},
      {video + 76, "strf", 40},
      {video + 124, "indx", 16376},
      {odml, "LIST", 16},
      {odml + 12, "dmlh", 4},
      {info, "LIST", 28 + payload},
  };
  for (const Expect& e : layout) {
    EXPECT_EQ(s.substr(e.at, 4), e.id) << e.at;
    EXPECT_EQ(Le32(s, e.at + 4), e.size) << e.id << " at " << e.at;
  }
  EXPECT_EQ(Le32(s, 24 + 8 + 16), 4u);  // total frames
  EXPECT_EQ(s.substr(info + 8, 8), "INFOINAM");
  const size_t movi = info + 8 + 28 + payload;
  EXPECT_EQ(s.substr(movi, 4), "LIST");
  EXPECT_EQ(s.substr(movi + 8, 4), "movi");
  const size_t idx1 = movi + 8 + Le32(s, movi + 4);
  EXPECT_EQ(s.substr(idx1, 4), "idx1");
  EXPECT_EQ(Le32(s, idx1 + 4), 4u * 32);
  EXPECT_EQ(idx1 + 8 + 4 * 32, s.size());
  // The frames' chunks: the motion-JPEG identifier in place of "JFIF".
  const size_t firstVideo = s.find("01dc", movi + 12 + 32768);
  ASSERT_NE(firstVideo, std::string::npos);
  EXPECT_EQ(s.substr(firstVideo + 8 + 6, 4), "AVI1");

  qvAnimSource* source = nullptr;
  ASSERT_EQ(OpenAnimSource(path.c_str(), &source), 0);
  ASSERT_EQ(source->frames, 4);
  ASSERT_EQ(source->width, width);
  std::vector<std::vector<uint32_t>> frames;
  for (int32_t n = 3; n >= 0; --n) {
    uint32_t* p = LoadAnimSourceFrame(source, n);
    ASSERT_NE(p, nullptr) << n;
    frames.insert(frames.begin(), std::vector<uint32_t>(p, p + width * height));
    FreeAnimSourceFrame(source, p);
  }
  CloseAnimSource(source);
  // Frame 0 had no picture and nothing before it: black. Frame 3 repeats frame 2.
  EXPECT_EQ(frames[0], std::vector<uint32_t>(size_t(width * height), 0u));
  EXPECT_EQ(frames[3], frames[2]);
  EXPECT_GE(Psnr(frames[1], Picture(1, width, height)), 32.0);
}

TEST(AviWriter, AStreamWithoutFramesIsAWholeFile) {
  qvtest::TempDir dir;
  const std::string path = dir.Path("empty.avi");
  qvAviWriter* w = nullptr;
  ASSERT_EQ(OpenAVIWriter(path.c_str(), 25, 16, 16, 90, "", &w), 0);
  ASSERT_EQ(FinishAVIFile(w), 0);
  const std::string s = qvtest::ReadBytes(path);
  EXPECT_EQ(Le32(s, 4), s.size() - 8);
  EXPECT_EQ(Le32(s, 24 + 8 + 4), 0u);   // the highest rate
  EXPECT_EQ(Le32(s, 24 + 8 + 16), 0u);  // the frames
}

TEST(AviWriter, LoweredLimitsMakeFurtherRiffsAndIndexPairsThatFfprobeCountsInFull) {
  qvtest::TempDir dir;
  const std::string path = dir.Path("big.avi");
  qvAviLimits limits;
  limits.first = 100000;
  limits.further = 60000;
  WriteFile(path, 25, 40, {}, limits);
  const std::string s = qvtest::ReadBytes(path);
  int32_t riffs = 0;
  for (size_t at = 0; at + 12 <= s.size(); at += 8 + size_t(Le32(s, at + 4))) {
    ASSERT_EQ(s.substr(at, 4), "RIFF") << at;
    EXPECT_EQ(s.substr(at + 8, 4), riffs == 0 ? "AVI " : "AVIX");
    ++riffs;
  }
  EXPECT_GE(riffs, 3);
  // One pair of standard indexes per RIFF, each in the super indexes.
  const size_t audioIndex = 12 + 12 + 64 + 100;
  EXPECT_EQ(Le32(s, audioIndex + 12), uint32_t(riffs));
  EXPECT_EQ(Probe(path, "v", "nb_read_frames"), "nb_read_frames=40\n");
  // The legacy index covers the first RIFF only: later frames are found by walking into the others.
  qvAnimSource* source = nullptr;
  ASSERT_EQ(OpenAnimSource(path.c_str(), &source), 0);
  ASSERT_EQ(source->frames, 40);
  for (int32_t n : {39, 20, 38}) {
    uint32_t* p = LoadAnimSourceFrame(source, n);
    ASSERT_NE(p, nullptr) << n;
    EXPECT_GE(Psnr(std::vector<uint32_t>(p, p + kWidth * kHeight), Picture(n)), 32.0) << n;
    FreeAnimSourceFrame(source, p);
  }
  CloseAnimSource(source);

  // The 2045th frame of a RIFF starts a second pair.
  const std::string many = dir.Path("many.avi");
  {
    qvAviWriter* w = nullptr;
    ASSERT_EQ(OpenAVIWriter(many.c_str(), 1000, 8, 8, 50, "", &w), 0);
    const std::vector<uint32_t> p = Picture(1, 8, 8);
    for (int32_t n = 0; n < 2045; ++n) {
      ASSERT_EQ(WriteAVIFrame(w, n == 0 ? p.data() : nullptr, 8, 8, 8), 0);
    }
    ASSERT_EQ(FinishAVIFile(w), 0);
  }
  const std::string m = qvtest::ReadBytes(many);
  EXPECT_EQ(Le32(m, audioIndex + 12), 2u);
  EXPECT_EQ(Probe(many, "v", "nb_read_frames"), "nb_read_frames=2045\n");
}

TEST(AviWriter, AFullIndexOfIndexesAndAFullDiskAreRefused) {
  qvtest::TempDir dir;
  qvAviLimits limits;
  limits.first = 1;
  limits.further = 1;  // every frame its own RIFF and index pair
  qvAviWriter* w = nullptr;
  ASSERT_EQ(OpenAVIWriter(dir.Path("full.avi").c_str(), 1000, 8, 8, 50, "", &w, limits), 0);
  const std::vector<uint32_t> p = Picture(0, 8, 8);
  for (int32_t n = 0; n < 1022; ++n) ASSERT_EQ(WriteAVIFrame(w, p.data(), 8, 8, 8), 0) << n;
  EXPECT_EQ(WriteAVIFrame(w, p.data(), 8, 8, 8), ERR_SAVEANIM);
  EXPECT_EQ(FinishAVIFile(w), 0);
  EXPECT_EQ(Probe(dir.Path("full.avi"), "v", "nb_read_frames"), "nb_read_frames=1022\n");

  // Every write is checked: a device that takes nothing fails the headers.
  EXPECT_EQ(OpenAVIWriter("/dev/full", 25, 8, 8, 90, "", &w), ERR_WRITEFILE);
  EXPECT_EQ(w, nullptr);
}

}  // namespace
