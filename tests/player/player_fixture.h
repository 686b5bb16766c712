// Runs the real player program in a fresh directory per test: its arguments, standard output,
// standard error and exit status, with the private temporary directory kept inside the test's
// directory so that leftovers can be seen.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/fixtures/run_command.h"
#include "tools/qvasm/gtest_support.h"

namespace qv::testing {

// Prints one line, then loops until it is stopped.
inline constexpr char kLoop[] = R"(
.function main
  .line 1
  GETGLOBAL R0, "debugprint"
  LOADCONST R1, "looping"
  CALL R0, nargs=1, nres=0
top:
  .line 2
  JUMP @top
  RETURN R0, 1
.end
)";

struct PlayerRun {
  int status = -1;  // the exit status, or 128 + the signal
  std::string out;
  std::string err;
};

class PlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qv_player_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    std::filesystem::create_directory(TempDir());
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  // Where the player makes its private temporary directory.
  std::string TempDir() const { return Path("tmp"); }

  void WriteFile(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
  }
  void WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) const {
    WriteFile(name, std::string(bytes.begin(), bytes.end()));
  }
  std::string ReadFile(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool Exists(const std::string& name) const { return std::filesystem::exists(Path(name)); }
  // A shell command's standard output and errors, with "[status N]" after them when it did not
  // exit with 0: one string for a test to compare and show.
  static std::string Shell(const std::string& command) {
    int status = 0;
    std::string out = qvtest::RunCommand(command + " 2>&1", &status);
    if (status != 0) out += "[status " + std::to_string(status) + "]";
    return out;
  }

  static std::vector<uint8_t> Applet(const std::string& text) {
    qvasm::Result r = qvasm::AssembleApplet(text);
    for (const auto& d : r.diags) ADD_FAILURE() << "qvasm line " << d.line << ": " << d.message;
    return r.bytes;
  }
  static std::vector<uint8_t> PlayerBytes() {
    std::ifstream in(QV_PLAYER_PATH, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }

  // Starts `program` (the player by default) in the test's directory.
  pid_t Start(const std::vector<std::string>& args, const std::string& program = QV_PLAYER_PATH) {
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    std::string out = Path("stdout.txt"), err = Path("stderr.txt");
    std::string tmp = "TMPDIR=" + TempDir();
    pid_t pid = fork();
    if (pid == 0) {
      int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (o < 0 || e < 0 || chdir(dir_.c_str()) != 0) _exit(126);
      dup2(o, 1);
      dup2(e, 2);
      putenv(tmp.data());
      for (const std::string& name : unsetEnv_) unsetenv(name.c_str());
      for (std::string& setting : env_) putenv(setting.data());
      for (int signal : ignoredSignals_) ::signal(signal, SIG_IGN);
      execv(cargv[0], cargv.data());
      _exit(127);
    }
    return pid;
  }
  PlayerRun Wait(pid_t pid) {
    PlayerRun r;
    int status = 0;
    if (waitpid(pid, &status, 0) == pid) {
      r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    r.out = ReadFile("stdout.txt");
    r.err = ReadFile("stderr.txt");
    return r;
  }
  PlayerRun Run(const std::vector<std::string>& args, const std::string& program = QV_PLAYER_PATH) {
    return Wait(Start(args, program));
  }

  // What is left in the temporary directory.
  std::vector<std::string> TempLeftovers() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::recursive_directory_iterator(TempDir())) {
      names.push_back(e.path().string());
    }
    return names;
  }

  std::string dir_;
  // Changes to the environment of the players that Start runs: "NAME=VALUE" settings, and names
  // to remove first.
  std::vector<std::string> env_;
  std::vector<std::string> unsetEnv_;
  // Signals that the players Start runs begin ignoring, as under nohup.
  std::vector<int> ignoredSignals_;
};

}  // namespace qv::testing
