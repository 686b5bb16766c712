// Runs dos-library scripts (written in the script notation of qvasm.h) through the real player
// in a fresh directory, and runs Debian's python3 there as the independent tool that makes
// fixtures and checks what the player wrote.
#pragma once

#include <cstdio>
#include <string>

#include "tests/player/player_fixture.h"

namespace qv::testing {

class DosTest : public PlayerTest {
 protected:
  // The debug output of the script (each printed line), the exit status in *status when given.
  std::string RunScript(const std::string& script, int* status = nullptr,
                        const std::vector<std::string>& extra = {}) {
    std::string text = qvasm::TranslateOrFail(script, qvasm::kNumberedErrors);
    if (text.empty()) return {};
    WriteFile("main.qva", Applet(text));
    std::filesystem::remove(Path("out.txt"));
    std::vector<std::string> args = {"main.qva", "-QUIET", "-DEBUGDEVICE",
                                     "::file" + Path("out.txt")};
    args.insert(args.end(), extra.begin(), extra.end());
    PlayerRun r = Run(args);
    if (status != nullptr) {
      *status = r.status;
    } else {
      EXPECT_EQ(r.status, 0) << r.err << "\n" << text;
    }
    last_ = r;
    return ReadFile("out.txt");
  }

  // Runs python3 code in the test's directory; its standard output.
  std::string Python(const std::string& code) {
    WriteFile("check.py", code);
    std::string command = "cd '" + dir_ + "' && /usr/bin/python3 check.py";
    int status = 0;
    std::string out = qvtest::RunCommand(command, &status);
    EXPECT_EQ(status, 0) << "python3 failed:\n" << code << "\n" << out;
    return out;
  }

  PlayerRun last_;
};

}  // namespace qv::testing
