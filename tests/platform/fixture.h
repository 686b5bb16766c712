#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/os/manual_clock.h"
#include "platform/platform.h"

// Starts the platform for each test and shuts it down after.
class PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(qv::InitPlatform(), 0); }
  void TearDown() override { qv::ShutdownPlatform(); }
};

// The platform on a clock that moves only when the test moves it: its timers run on the thread
// that calls clock.Advance, in time order.
class ManualClockTest : public PlatformTest {
 protected:
  void SetUp() override {
    qv::SetPlatformClock(&clock);
    PlatformTest::SetUp();
  }
  static constexpr int64_t kStart = int64_t{1700000000} * 1000000;
  qv::ManualClock clock{kStart};
  int64_t ElapsedMs() { return (clock.NowMicros() - kStart) / 1000; }
};

// Real milliseconds, for the smoke tests whose point is a real thread waking up.
inline double NowMs() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// Runs `release` on its own thread unless Disarm comes first, within ten seconds of real time, so
// that a fault which leaves a wait hanging fails the test instead of stopping the run. A correct
// run disarms it long before: it is no time limit on the behaviour under test.
class Watchdog {
 public:
  explicit Watchdog(std::function<void()> release)
      : thread_([this, release = std::move(release)] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (changed_.wait_for(lock, std::chrono::seconds(10), [this] { return disarmed_; }))
            return;
          fired_ = true;
          lock.unlock();
          release();
        }) {}
  ~Watchdog() {
    Disarm();
    thread_.join();
  }
  void Disarm() {
    std::lock_guard<std::mutex> lock(mutex_);
    disarmed_ = true;
    changed_.notify_all();
  }
  bool Fired() {
    std::lock_guard<std::mutex> lock(mutex_);
    return fired_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool disarmed_ = false;
  bool fired_ = false;
  std::thread thread_;
};

// Ninety scattered writes into an open window of the size (fills, plots, copies and stretches,
// some overlapping, some side by side: more rectangles than a dirty list holds), made on a thread
// of their own: with no main loop running, nothing presents them until the caller does.
inline void ScatterWritesOffTheMainThread(qv::qvWindow* window, int32_t width, int32_t height) {
  std::thread writer([=] {
    std::vector<uint32_t> src(64 * 48);
    for (size_t i = 0; i < src.size(); ++i) src[i] = 0xFF000000u | uint32_t(i * 0x0A0B0Du);
    for (int32_t i = 0; i < 90; ++i) {
      int32_t x = (i * 37) % width, y = (i * 53) % height;
      switch (i % 4) {
        case 0:
          qv::FillWindowRect(window, x, y, 3 + i % 9, 2 + i % 7, 0x00010203u * uint32_t(i + 1));
          break;
        case 1:
          qv::PlotWindowPixel(window, x, y, 0x00FFFFFFu - uint32_t(i));
          break;
        case 2:
          qv::BlitToWindow(src.data(), 64, i % 20, i % 10, window, x, y, 11, 5, 0, 0);
          break;
        default:
          qv::BlitToWindow(src.data(), 64, 1, 2, window, x - 4, y, 7, 3, 17, 9);
          break;
      }
    }
  });
  writer.join();
}
