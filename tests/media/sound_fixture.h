// Helpers of the sound engine tests: fixture files, temporary files, offline rendering.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fixtures/temp_path.h"
#include "media/audio_channels.h"
#include "platform/mixer.h"

inline std::string SoundData(const std::string& name) {
  return std::string(QV_SOUND_DATA) + "/" + name;
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

// A file under the test's temporary directory, written from bytes.
inline std::string WriteTemp(const std::string& name, const std::vector<uint8_t>& bytes) {
  // Named after the test and the run: suites run in parallel, and test runs of other checkouts,
  // share the directory.
  std::string path = qvtest::TempPath(
      std::string("sound_") + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
      "_" + name);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return path;
}

inline std::vector<int16_t> Render(int frames) {
  std::vector<int16_t> out(static_cast<size_t>(frames) * 2);
  qv::RenderMix(out.data(), frames);
  return out;
}

// The audio engine started for each test, stopped after.
class AudioTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(qv::InitAudio(), 0); }
  void TearDown() override { qv::ShutdownAudio(); }
};
