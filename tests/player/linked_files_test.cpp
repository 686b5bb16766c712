// Files linked into an applet, found by the names the script gives them after the player's own
// start-up: InitPlayer with a command line, OpenApplet, then the lookup that command handlers
// make (no command of the libraries opens files yet) and a read through the file layer.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "core/applet.h"
#include "core/args.h"
#include "core/errors.h"
#include "core/registry.h"
#include "core/vfile.h"
#include "player/player.h"
#include "tools/qvasm/gtest_support.h"
#include "vm/vm.h"

namespace qv {
namespace {

constexpr char kWords[] = "words linked into the applet\n";
constexpr char kLevel[] = "level 2 of 9";

class LinkedFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cwd_ = std::filesystem::current_path();
    char pattern[] = "/tmp/qv_linked_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    std::filesystem::create_directory(dir_ + "/tmp");
    setenv("TMPDIR", (dir_ + "/tmp").c_str(), 1);
    Write("words.txt", kWords);
    Write("level.dat", kLevel);
    qvasm::Options options;
    options.baseDir = dir_;
    qvasm::Result r = qvasm::AssembleApplet(R"(
.link "data\\words.txt" "words.txt"
.link "levels/two.dat" "level.dat"
.function main
  RETURN R0, 1
.end
)",
                                            options);
    for (const auto& d : r.diags) ADD_FAILURE() << "qvasm line " << d.line << ": " << d.message;
    applet_ = r.bytes;
    // The source files are gone by the time the applet runs: only the applet holds the bytes.
    std::filesystem::remove(dir_ + "/words.txt");
    std::filesystem::remove(dir_ + "/level.dat");
  }
  void TearDown() override {
    std::filesystem::current_path(cwd_);
    std::filesystem::remove_all(dir_);
    unsetenv("TMPDIR");
  }

  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(dir_ + "/" + name, std::ios::binary) << bytes;
  }

  // Starts the player on the applet file `script` as the program would, resolves each name and
  // reads what it opens ("(no file)" when nothing opens), and shuts the player down.
  std::vector<std::string> ReadThroughPlayer(const std::string& script,
                                             const std::vector<std::string>& names) {
    std::vector<std::string> contents;
    auto* state = new qvPlayerState;
    auto* settings = new qvAppletSettings;
    qvScriptState* L = VmOpenState(CoreVmHost());
    SetProcessVm(L);
    std::string program = "quillvane", path = dir_ + "/" + script, quiet = "-QUIET";
    char* argv[] = {program.data(), path.data(), quiet.data()};
    int code = InitPlayer(L, std::nullopt, settings, state, 3, argv);
    EXPECT_EQ(code, 0);
    qvAppletHost host;
    host.tempFileName = [] { return MakeTempFileName(); };
    if (code == 0) code = OpenApplet(settings, state, host);
    EXPECT_EQ(code, 0);
    for (const std::string& name : names) {
      bool isFont = true;
      const char* resolved = ResolveLinkedFile(L, name.c_str(), false, &isFont);
      EXPECT_FALSE(isFont) << name;
      qvFile* file = code == 0 ? OpenFileQ(resolved, kFileRead) : nullptr;
      if (file == nullptr) {
        contents.push_back("(no file)");
        continue;
      }
      std::string text;
      char block[64];
      for (size_t got; (got = ReadFileQ(file, block, sizeof block)) > 0;) text.append(block, got);
      CloseFileQ(file);
      contents.push_back(text);
    }
    ShutdownPlayer(L, code, state, settings);
    return contents;
  }

  std::filesystem::path cwd_;
  std::string dir_;
  std::vector<uint8_t> applet_;
};

TEST_F(LinkedFileTest, LinkedFilesOpenByTheirScriptNames) {
  Write("game.qva", std::string(applet_.begin(), applet_.end()));
  std::vector<uint8_t> packed = qvasm::CompressApplet(applet_);
  Write("game.qvz", std::string(packed.begin(), packed.end()));
  // Names compare without regard to case, and "/" and "\" are one separator; a name that is
  // not linked is a plain file name (and there is no such file).
  const std::vector<std::string> names = {"data/words.txt", "DATA\\Words.TXT", "levels\\two.dat",
                                          "words.txt"};
  const std::vector<std::string> expected = {kWords, kWords, kLevel, "(no file)"};
  // Plain, and unpacked into a temporary file whose stretches the names then denote.
  for (const char* script : {"game.qva", "game.qvz"}) {
    SCOPED_TRACE(script);
    EXPECT_EQ(ReadThroughPlayer(script, names), expected);
  }
}

}  // namespace
}  // namespace qv
