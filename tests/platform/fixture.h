#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

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
