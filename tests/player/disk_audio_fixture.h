// Runs the real player with SDL's disk audio driver: the mix the device received is captured in
// mix.raw (16-bit stereo at 48000 Hz) in the test's directory and read back as values.
#pragma once

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/player/player_fixture.h"

namespace qv::testing {

// 16-bit host-order values of raw bytes.
inline std::vector<int16_t> PcmValues(const std::string& raw) {
  std::vector<int16_t> v(raw.size() / 2);
  std::memcpy(v.data(), raw.data(), v.size() * 2);
  return v;
}

class DiskAudioTest : public PlayerTest {
 protected:
  void SetUp() override {
    PlayerTest::SetUp();
    // The child inherits these: the mix goes to a file, no sound card is needed.
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", Path("mix.raw").c_str(), 1);
    // Real time: the music's refill thread keeps pace with the device.
    unsetenv("SDL_DISKAUDIODELAY");
  }
  void TearDown() override {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    unsetenv("SDL_DISKAUDIOFILE");
    unsetenv("SDL_DISKAUDIODELAY");
    PlayerTest::TearDown();
  }

  // The captured mix, interleaved left and right.
  std::vector<int16_t> Mix() const { return PcmValues(ReadFile("mix.raw")); }
};

// Index of the first frame (pair) from `from` on with a nonzero value.
inline size_t FirstSound(const std::vector<int16_t>& v, size_t from) {
  size_t i = from;
  while (i + 1 < v.size() && v[i] == 0 && v[i + 1] == 0) i += 2;
  return i;
}

}  // namespace qv::testing
