// Names that hold a zero byte, through the player: the system would take only the part before it
// ("victim" of "victim\0/etc") and act on another file than the script named. Every command that
// takes a name, a path, a pattern or an environment variable refuses such a one with
// ERR_WRONGUSAGE and touches nothing.
#include <algorithm>
#include <cstdlib>

#include "tests/player/dos_fixture.h"

namespace qv::testing {
namespace {

// Each call with the name in one of its name arguments; z is "victim\0/etc", d "plain\0x".
constexpr const char* kCalls[] = {
    "Exists(z)",
    "FileSize(z)",
    "PathPart(z)",
    "FilePart(z)",
    "GetVolumeName(z)",
    "GetVolumeInfo(z, 0)",
    "ChangeDirectory(z)",
    "MakeDirectory(z)",
    "FullPath(z, \"x\")",
    "FullPath(\"x\", z)",
    "Rename(z, \"renamed\")",
    "Rename(\"plain\", z)",
    "IsDirectory(z)",
    "ReadDirectory(z, {}, {})",
    "OpenDirectory(1, z)",
    "GetFileAttributes(z)",
    "SetFileAttributes(z, {flags = 32768})",
    "Execute(z)",
    "Run(z)",
    "OpenFile(1, z)",
    "OpenFile(2, d, 1006)",
    "FileLines(z)",
    "FileToString(z)",
    "StringToFile(\"x\", d)",
    "DefineVirtualFile(z, 0, 1, \"v\")",
    "DefineVirtualFile(\"plain\", 0, 1, z)",
    "DefineVirtualFileFromString(\"x\", z)",
    "UndefineVirtualStringFile(z)",
    "GetEnv(z)",
    "SetEnv(z, \"1\")",
    "SetEnv(\"QV_NAME_TEST\", z)",
    "UnsetEnv(z)",
    "MD5(z)",
    "CRC32(z)",
    "CompressFile(z, \"out\")",
    "CompressFile(\"plain\", d)",
    "DecompressFile(z, \"out\")",
    "DecompressFile(\"plain\", d)",
    "CopyFile(z, \"copy\")",
    "CopyFile(\"plain\", z)",
    "CopyFile(\"plain\", \"copies\", z)",
    "CopyFile(\"plain\", \"copies\", Nil, Nil, Nil, z)",
    "MatchPattern(z, \"*\")",
    "MatchPattern(\"victim\", z)",
    "DeleteFile(z)",
    "DeleteFile(\"victim\", Nil, Nil, z)",
    "DownloadFile(\"http://127.0.0.1:9/\", {file = d})",
    "SaveBrush(1, d)",
    "SaveSnapshot(d)",
    "SaveSample(1, d)",
    "LoadBrush(2, z)",
    "LoadSample(2, z)",
    "OpenCatalog(z)",
    "ReadRegistryKey(0, z)",
    "WriteRegistryKey(0, z, 1)",
    "CreateShortcut(d, \"x\", \"y\")",
    "GetShortcutPath(z)",
};

// The files of the test's folder, without the run's own.
std::vector<std::string> Files(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
    std::string name = e.path().string().substr(dir.size() + 1);
    if (name != "main.qva" && name != "out.txt" && name != "stdout.txt" && name != "stderr.txt" &&
        name.rfind("tmp", 0) != 0 && name != "config") {
      names.push_back(name);
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(DosTest, NamesWithAZeroByteAreRefusedAndNothingIsTouched) {
  std::filesystem::create_directory(Path("victim"));
  WriteFile("victim/inside", "inside");
  WriteFile("plain", "plain bytes");
  std::filesystem::create_directory(Path("config"));
  env_.push_back("XDG_CONFIG_HOME=" + Path("config"));
  const std::vector<std::string> before = Files(dir_);
  for (const char* call : kCalls) {
    SCOPED_TRACE(call);
    int status = 0;
    std::string out = RunScript(std::string("z = \"victim\\0/etc\"\nd = \"plain\\0x\"\n") +
                                    "do CreateBrush(1, 4, 4)\n" +
                                    "QV_ENV = GetEnv(\"QV_NAME_TEST\")\n" + "do " + call + "\n",
                                &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.find("*Wrong usage/parameters for this command!"), std::string::npos) << out;
    EXPECT_EQ(ReadFile("victim/inside"), "inside");
    EXPECT_EQ(ReadFile("plain"), "plain bytes");
    EXPECT_EQ(Files(dir_), before);
    EXPECT_FALSE(std::filesystem::exists(Path("config/quillvane")));
  }
}

}  // namespace
}  // namespace qv::testing
