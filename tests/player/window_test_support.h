// The whole player run inside the test's process, for the tests that work its windows: the test's
// thread is the player's main thread (as SDL wants), a thread of the test's own pushes the input
// beside it, and the applet's debug lines go to a file that both read.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "player/player.h"
#include "tests/fixtures/temp_dir.h"
#include "tools/qvasm/gtest_support.h"

namespace qv::testing {

class InProcessPlayerTest : public ::testing::Test {
 protected:
  // A fresh directory "/tmp/<prefix>XXXXXX" with the player's private temporary directory in it,
  // its windows on SDL's video driver `driver`.
  void MakeRunDirectory(const char* driver, const std::string& prefix) {
    setenv("SDL_VIDEODRIVER", driver, 1);
    std::string pattern = "/tmp/" + prefix + "XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    std::filesystem::create_directory(dir_ + "/tmp");
    setenv("TMPDIR", (dir_ + "/tmp").c_str(), 1);
  }
  void TearDown() override {
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  // What the applet has written so far.
  std::string Output() const { return qvtest::ReadBytes(dir_ + "/out.txt"); }
  bool WaitForOutput(const std::string& text) const {
    for (int i = 0; i < 1000; ++i) {
      if (Output().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  std::vector<std::string> Lines(const std::string& prefix) const {
    std::vector<std::string> found;
    std::istringstream lines(Output());
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind(prefix, 0) == 0) found.push_back(line);
    }
    return found;
  }
  // The lines that start with `prefix` once there are more than `seen` of them (ten seconds).
  std::vector<std::string> WaitForLines(const std::string& prefix, size_t seen = 0) const {
    std::vector<std::string> found;
    for (int i = 0; i < 1000; ++i) {
      found = Lines(prefix);
      if (found.size() > seen) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return found;
  }

  // Assembles `text` into the test's directory as `name` and plays it here while `beside` runs
  // on a thread of its own; the player's exit status once both are done.
  int Play(const std::string& text, const std::string& name, const std::function<void()>& beside) {
    qvasm::Result applet = qvasm::AssembleApplet(text);
    for (const auto& d : applet.diags)
      ADD_FAILURE() << "qvasm line " << d.line << ": " << d.message;
    std::string path = dir_ + "/" + name;
    qvtest::WriteBytes(path, applet.bytes);
    played_.store(false);
    std::thread other(beside);
    std::vector<std::string> args = {"quillvane", path, "-QUIET", "-DEBUGDEVICE",
                                     "::file" + dir_ + "/out.txt"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int status = PlayerMain(static_cast<int>(args.size()), argv.data());
    played_.store(true);
    other.join();
    return status;
  }

  std::string dir_;
  // Set once PlayerMain has returned: a helper thread can tell an applet that still waits.
  std::atomic<bool> played_{false};
};

}  // namespace qv::testing
