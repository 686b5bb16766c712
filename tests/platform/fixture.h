#pragma once

#include <gtest/gtest.h>

#include <chrono>

#include "platform/platform.h"

// Starts the platform for each test and shuts it down after.
class PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(qv::InitPlatform(), 0); }
  void TearDown() override { qv::ShutdownPlatform(); }
};

inline double NowMs() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}
