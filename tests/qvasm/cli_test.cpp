// The qvasm command line, run as a separate process.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/qvasm/gtest_support.h"

namespace fs = std::filesystem;

namespace {

const char* const kSource = R"(.header 11 "cli"
.link "data" "data.bin"
.function main
  .export "ONSTART"
  LOADCONST R0, "hello"
  RETURN R0, n=1
.end
)";

class QvasmCli : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "qvasm_cli_XXXXXX").string();
    dir_ = mkdtemp(tmpl.data());
    fs::create_directory(dir_ / "src");
    Write("src/in.qvasm", kSource);
    Write("src/data.bin", "linked bytes");
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Write(const std::string& name, const std::string& data) {
    std::ofstream(dir_ / name, std::ios::binary) << data;
  }
  std::vector<uint8_t> Read(const std::string& name) {
    std::ifstream in(dir_ / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  std::string ReadText(const std::string& name) {
    auto b = Read(name);
    return {b.begin(), b.end()};
  }
  // Runs the CLI in the temporary directory; returns its exit status.
  int Run(const std::string& args) {
    std::string cmd = "cd '" + dir_.string() + "' && '" QVASM_CLI "' " + args +
                      " >out.txt 2>err.txt";
    int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }

  fs::path dir_;
};

TEST_F(QvasmCli, AssemblesAndDisassembles) {
  ASSERT_EQ(Run("src/in.qvasm -o in.qvb"), 0) << ReadText("err.txt");
  auto chunk = Read("in.qvb");
  EXPECT_EQ(chunk, qvasm::AssembleOrFail(kSource).bytes);

  ASSERT_EQ(Run("--disasm in.qvb"), 0);
  std::string text = ReadText("out.txt");
  EXPECT_NE(text.find("LOADCONST R0, \"hello\""), std::string::npos) << text;
  EXPECT_EQ(qvasm::AssembleOrFail(text).bytes, chunk);
  ASSERT_EQ(Run("--disasm in.qvb -o in.txt"), 0);
  EXPECT_EQ(ReadText("in.txt"), text);
}

TEST_F(QvasmCli, WritesApplets) {
  qvasm::Options options;
  options.baseDir = (dir_ / "src").string();
  auto applet = qvasm::AssembleApplet(kSource, options).bytes;
  ASSERT_FALSE(applet.empty());

  // Linked files are found beside the source, whatever the working directory.
  ASSERT_EQ(Run("--applet src/in.qvasm -o in.qva"), 0) << ReadText("err.txt");
  EXPECT_EQ(Read("in.qva"), applet);

  ASSERT_EQ(Run("--applet src/in.qvasm --compress -o in.qvz"), 0) << ReadText("err.txt");
  auto packed = Read("in.qvz");
  ASSERT_GT(packed.size(), 8u);
  EXPECT_EQ(std::string(packed.begin(), packed.begin() + 4), std::string("QVZ\0", 4));
  std::vector<uint8_t> back(applet.size());
  uLongf size = back.size();
  ASSERT_EQ(uncompress(back.data(), &size, packed.data() + 8, packed.size() - 8), Z_OK);
  EXPECT_EQ(back, applet);

  std::vector<uint8_t> player(100, 0x90);
  const uint8_t descriptor[13] = {0xDE, 0xAD, 0xC0, 0xDE, 0xC0, 0xDE, 0xCA,
                                  0xFE, 0xC0, 0xCA, 0xC0, 0x1A, 0};
  player.insert(player.begin() + 80, descriptor, descriptor + 13);  // descriptor at 48
  Write("player", std::string(player.begin(), player.end()));
  ASSERT_EQ(Run("--applet src/in.qvasm --link-into player -o linked"), 0) << ReadText("err.txt");
  std::string error;
  EXPECT_EQ(Read("linked"), qvasm::LinkInto(player, applet, &error));
  EXPECT_EQ(fs::status(dir_ / "linked").permissions() & fs::perms::owner_exec,
            fs::perms::owner_exec);
  // Linking into a linked copy fails.
  EXPECT_EQ(Run("--applet src/in.qvasm --link-into linked -o again"), 1);
  EXPECT_NE(ReadText("err.txt").find("linked"), std::string::npos);
}

TEST_F(QvasmCli, ReportsErrors) {
  Write("bad.qvasm", ".function main\n  RETURN R0, 1\n  FROB R1\n.end\n");
  EXPECT_EQ(Run("bad.qvasm -o bad.qvb"), 1);
  EXPECT_NE(ReadText("err.txt").find("bad.qvasm:3: unknown mnemonic FROB"), std::string::npos)
      << ReadText("err.txt");
  EXPECT_FALSE(fs::exists(dir_ / "bad.qvb"));
  EXPECT_EQ(Run("missing.qvasm -o x.qvb"), 1);
  EXPECT_NE(ReadText("err.txt").find("cannot read missing.qvasm"), std::string::npos);
  for (const char* usage : {"", "src/in.qvasm", "src/in.qvasm --compress -o x",
                            "--disasm --applet x", "src/in.qvasm -o x --bogus", "a b -o x"}) {
    EXPECT_EQ(Run(usage), 1) << usage;
    EXPECT_NE(ReadText("err.txt").find("usage:"), std::string::npos) << usage;
  }
}

}  // namespace
