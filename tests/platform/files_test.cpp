#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "core/error_table.h"
#include "tests/platform/fixture.h"

using namespace qv;
namespace fs = std::filesystem;

namespace {

class FilesTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    char pattern[] = "/tmp/qvfilesXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root = pattern;
  }
  void TearDown() override {
    fs::permissions(root, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(root);
    PlatformTest::TearDown();
  }
  std::string Make(const std::string& name, const std::string& text = "data") {
    std::string path = root + "/" + name;
    std::ofstream(path) << text;
    return path;
  }
  std::string root;
};

std::vector<std::string> Scan(qvDirLock* lock) {
  std::vector<std::string> names;
  const char* name;
  int isDir;
  while (ExamineNextEntry(lock, &name, &isDir, nullptr)) {
    names.push_back(std::string(name) + (isDir ? "/" : ""));
  }
  return names;
}

std::string lastErrorText;
void KeepErrorText(const char* text) { lastErrorText = text; }

}  // namespace

TEST_F(FilesTest, ScanSkipsDotNamesAndSortsWithoutCase) {
  Make(".hidden");
  Make("a.txt");
  Make("B.txt", "four");
  fs::create_directory(root + "/b");
  qvDirLock* lock = LockPath(root.c_str(), 0);
  ASSERT_NE(lock, nullptr);
  int isDir = 0;
  ASSERT_EQ(ExamineFirstEntry(lock, &isDir), 0);
  EXPECT_EQ(isDir, 1);
  EXPECT_EQ(Scan(lock), (std::vector<std::string>{"a.txt", "b/", "B.txt"}));
  // A restart gives the same entries again, with their details.
  ASSERT_EQ(ExamineFirstEntry(lock, &isDir), 0);
  const char* name;
  qvDirEntry entry{};
  ASSERT_EQ(ExamineNextEntry(lock, &name, &isDir, &entry), 1);
  ASSERT_EQ(ExamineNextEntry(lock, &name, &isDir, &entry), 1);
  EXPECT_STREQ(name, "b");
  EXPECT_EQ(entry.isDirectory, 1);
  ASSERT_EQ(ExamineNextEntry(lock, &name, &isDir, &entry), 1);
  EXPECT_STREQ(name, "B.txt");
  EXPECT_EQ(entry.size, 4);
  EXPECT_EQ(entry.isDirectory, 0);
  char buffer[1024];
  EXPECT_EQ(GetLockName(lock, buffer, sizeof buffer), 1);
  EXPECT_EQ(std::string(buffer), root);
  CloseDirScan(lock);
}

TEST_F(FilesTest, LocksOfFilesAndMissingNames) {
  SetErrorTextHandler(KeepErrorText);
  std::string file = Make("file.txt", "12345");
  qvDirLock* lock = LockPath(file.c_str(), 0);
  ASSERT_NE(lock, nullptr);
  int isDir = -1;
  EXPECT_EQ(ExamineFirstEntry(lock, &isDir), ERR_NOTADIR);
  EXPECT_EQ(lastErrorText, file);
  qvDirEntry entry{};
  ASSERT_EQ(ExamineDirEntry(lock, &entry), 1);
  EXPECT_EQ(entry.size, 5);
  EXPECT_EQ(entry.isDirectory, 0);
  CloseDirScan(lock);
  EXPECT_EQ(LockPath((root + "/missing").c_str(), 0), nullptr);
  testing::internal::CaptureStdout();
  EXPECT_EQ(LockPath(file.c_str(), 1), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "QVOS_LOCK_WRITE unsupported.\n");
  SetErrorTextHandler(nullptr);
}

TEST_F(FilesTest, DeleteRenameAndMakeDirectory) {
  std::string a = Make("a.txt", "a"), b = Make("b.txt", "b");
  EXPECT_EQ(RenameFile(a.c_str(), b.c_str()), 0);  // never replaces
  EXPECT_EQ(std::ifstream(b).get(), 'b');
  std::string c = root + "\\c.txt";  // "\" is a separator too
  EXPECT_EQ(RenameFile(a.c_str(), c.c_str()), 1);
  EXPECT_TRUE(fs::exists(root + "/c.txt"));
  EXPECT_FALSE(fs::exists(a));

  EXPECT_EQ(DeleteFileOrDir((root + "/nothing").c_str()), 0);
  EXPECT_EQ(MakeDirectoryCore((root + "/d").c_str()), 0);
  EXPECT_EQ(MakeDirectoryCore((root + "/d").c_str()), ERR_CREATEDIR);
  Make("d/inner");
  EXPECT_EQ(DeleteFileOrDir((root + "/d").c_str()), 0);  // not empty
  EXPECT_EQ(DeleteFileOrDir((root + "/d/inner").c_str()), 1);
  EXPECT_EQ(DeleteFileOrDir((root + "/d").c_str()), 1);
  EXPECT_FALSE(fs::exists(root + "/d"));
}

TEST_F(FilesTest, FullPathsAndCurrentDirectory) {
  char buffer[1024];
  EXPECT_EQ(GetFullPath("/a/./b/../c//d", buffer, sizeof buffer), 1);
  EXPECT_STREQ(buffer, "/a/c/d");
  EXPECT_EQ(GetFullPath("/..", buffer, sizeof buffer), 1);
  EXPECT_STREQ(buffer, "/");
  char small[5];
  GetFullPath("/abcdefgh", small, sizeof small);
  EXPECT_STREQ(small, "/abc");

  char* previous = ChangeCurrentDir(root.c_str());
  ASSERT_NE(previous, nullptr);
  EXPECT_EQ(GetFullPath("x\\y", buffer, sizeof buffer), 1);
  EXPECT_EQ(std::string(buffer), root + "/x/y");
  EXPECT_EQ(ChangeCurrentDir((root + "/missing").c_str()), nullptr);
  char* back = ChangeCurrentDir(previous);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(std::string(back), root);
  std::free(back);
  std::free(previous);
}

TEST_F(FilesTest, AttributesAndDates) {
  std::string f = Make("f.txt");
  EXPECT_EQ(SetFileAttrBits(f.c_str(), QV_FILEATTR_READONLY), 1);
  qvDirLock* lock = LockPath(f.c_str(), 0);
  qvDirEntry entry{};
  ExamineDirEntry(lock, &entry);
  CloseDirScan(lock);
  EXPECT_TRUE(entry.attributes & QV_FILEATTR_READONLY);
  EXPECT_EQ(SetFileAttrBits(f.c_str(), QV_FILEATTR_READONLY | QV_FILEATTR_NORMAL), 1);
  lock = LockPath(f.c_str(), 0);
  ExamineDirEntry(lock, &entry);
  CloseDirScan(lock);
  EXPECT_FALSE(entry.attributes & QV_FILEATTR_READONLY);

  qvDate date{7, 6, 5, 2, 0, 2020};  // 2 January 2020 05:06:07 local time
  qvFileTime times[3];
  DateToFileTime(date, &times[QV_TIME_WRITE]);
  times[QV_TIME_ACCESS] = times[QV_TIME_WRITE];
  times[QV_TIME_CREATION] = times[QV_TIME_WRITE];
  EXPECT_EQ(SetFileDates(f.c_str(), times), 1);
  lock = LockPath(f.c_str(), 0);
  ExamineDirEntry(lock, &entry);
  CloseDirScan(lock);
  qvDate back{};
  FileTimeToDate(entry.times[QV_TIME_WRITE], &back);
  EXPECT_EQ(back.month, 0);  // January
  EXPECT_EQ(back.day, 2);
  EXPECT_EQ(back.year, 2020);
  EXPECT_EQ(back.hours, 5);
  EXPECT_EQ(back.minutes, 6);
  EXPECT_EQ(back.seconds, 7);
  EXPECT_EQ(SetFileDates((root + "/missing").c_str(), times), 0);
}

TEST_F(FilesTest, Volumes) {
  char label[256];
  EXPECT_EQ(GetVolumeLabel("/", label, sizeof label), 0);
  EXPECT_STREQ(label, "/");
  uint64_t freeBytes = 0, usedBytes = 0;
  EXPECT_EQ(GetDiskSpace(root.c_str(), &freeBytes, &usedBytes), 0);
  EXPECT_GT(freeBytes + usedBytes, 0u);
}

TEST_F(FilesTest, TemporaryNamesLiveInOnePrivateDirectoryRemovedAtShutdown) {
  char a[1024], b[1024];
  ASSERT_EQ(CreateTempName(a, sizeof a), 0);
  ASSERT_EQ(CreateTempName(b, sizeof b), 0);
  EXPECT_STRNE(a, b);
  fs::path dir = fs::path(a).parent_path();
  EXPECT_EQ(dir, fs::path(b).parent_path());
  EXPECT_EQ(fs::path(a).filename().string().substr(0, 2), "qv");
  EXPECT_FALSE(fs::exists(a));
  struct stat st;
  ASSERT_EQ(stat(dir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  std::ofstream(a) << "left behind";
  fs::create_directory(b);
  std::ofstream(std::string(b) + "/inner") << "x";
  ShutdownPlatform();
  EXPECT_FALSE(fs::exists(dir));
}

TEST_F(FilesTest, ExecutesProgramsWithArgumentsAndExitStatus) {
  std::string out = root + "/args.txt";
  int status = -1;
  std::string args = "args " + out + " one \"two words\" three";
  ASSERT_EQ(ExecuteProgram(QV_PLATFORM_PEER, args.c_str(), 0, &status), 0);
  EXPECT_EQ(status, 0);
  std::ifstream in(out);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"one", "two words", "three"}));

  ASSERT_EQ(ExecuteProgram(QV_PLATFORM_PEER, "exit 7", 0, &status), 0);
  EXPECT_EQ(status, 7);
  // A relative name is found in the current directory.
  fs::path peer(QV_PLATFORM_PEER);
  char* previous = ChangeCurrentDir(peer.parent_path().c_str());
  ASSERT_EQ(ExecuteProgram(peer.filename().c_str(), "exit 3", 0, &status), 0);
  EXPECT_EQ(status, 3);
  std::free(ChangeCurrentDir(previous));
  std::free(previous);

  EXPECT_EQ(ExecuteProgram((root + "/no such program").c_str(), "", 0, &status),
            ERR_FILEEXIST);
  double t0 = NowMs();
  EXPECT_EQ(ExecuteProgram("/bin/sleep", "1", 1, &status), 0);  // not waited for
  EXPECT_LT(NowMs() - t0, 500);
}

TEST_F(FilesTest, ProgramPath) {
  char buffer[1024];
  ASSERT_EQ(GetProgramPath(buffer, sizeof buffer), 1);
  EXPECT_EQ(fs::path(buffer).filename(), "platform_tests");
  char tiny[4];
  EXPECT_EQ(GetProgramPath(tiny, sizeof tiny), 0);
}
