#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "base/errors.h"
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
  FileKind kind;
  while (ExamineNextEntry(lock, &name, &kind, nullptr)) {
    names.push_back(std::string(name) + (kind == FileKind::kDirectory ? "/" : ""));
  }
  return names;
}

}  // namespace

TEST_F(FilesTest, ScanSkipsDotNamesAndSortsWithoutCase) {
  Make(".hidden");
  Make("a.txt");
  Make("B.txt", "four");
  fs::create_directory(root + "/b");
  qvDirLock* lock = LockPath(root.c_str(), LockMode::kRead);
  ASSERT_NE(lock, nullptr);
  ASSERT_EQ(ExamineFirstEntry(lock), 0);
  EXPECT_EQ(Scan(lock), (std::vector<std::string>{"a.txt", "b/", "B.txt"}));
  // A restart gives the same entries again, with their details.
  ASSERT_EQ(ExamineFirstEntry(lock), 0);
  const char* name;
  FileKind kind;
  qvDirEntry entry{};
  ASSERT_TRUE(ExamineNextEntry(lock, &name, &kind, &entry));
  ASSERT_TRUE(ExamineNextEntry(lock, &name, &kind, &entry));
  EXPECT_STREQ(name, "b");
  EXPECT_EQ(kind, FileKind::kDirectory);
  EXPECT_EQ(entry.kind, FileKind::kDirectory);
  ASSERT_TRUE(ExamineNextEntry(lock, &name, &kind, &entry));
  EXPECT_STREQ(name, "B.txt");
  EXPECT_EQ(entry.size, 4);
  EXPECT_EQ(entry.kind, FileKind::kFile);
  EXPECT_FALSE(ExamineNextEntry(lock, &name, &kind, &entry));
  char buffer[1024];
  EXPECT_TRUE(GetLockName(lock, buffer, sizeof buffer));
  EXPECT_EQ(std::string(buffer), root);
  char cut[8];
  EXPECT_FALSE(GetLockName(lock, cut, sizeof cut));
  EXPECT_EQ(std::string(cut), root.substr(0, 7));
  CloseDirScan(lock);
}

// A directory that went away used to read as an empty one on a restart.
TEST_F(FilesTest, RestartOfAScanWhoseDirectoryIsGone) {
  std::string dir = root + "/d";
  fs::create_directory(dir);
  Make("d/x");
  qvDirLock* lock = LockPath(dir.c_str(), LockMode::kRead);
  ASSERT_NE(lock, nullptr);
  ASSERT_EQ(ExamineFirstEntry(lock), 0);
  EXPECT_EQ(Scan(lock), std::vector<std::string>{"x"});
  fs::remove_all(dir);
  EXPECT_EQ(ExamineFirstEntry(lock), ERR_EXAMINE);
  EXPECT_EQ(std::string(GetErrorString()), dir);
  EXPECT_TRUE(Scan(lock).empty());
  qvDirEntry entry{};
  EXPECT_FALSE(ExamineDirEntry(lock, &entry));
  CloseDirScan(lock);
}

TEST_F(FilesTest, LocksOfFilesAndMissingNames) {
  std::string file = Make("file.txt", "12345");
  qvDirLock* lock = LockPath(file.c_str(), LockMode::kRead);
  ASSERT_NE(lock, nullptr);
  EXPECT_EQ(ExamineFirstEntry(lock), ERR_NOTADIR);
  EXPECT_EQ(std::string(GetErrorString()), file);
  qvDirEntry entry{};
  ASSERT_TRUE(ExamineDirEntry(lock, &entry));
  EXPECT_EQ(entry.size, 5);
  EXPECT_EQ(entry.kind, FileKind::kFile);
  EXPECT_FALSE(ExamineNextEntry(lock, nullptr, nullptr, nullptr));
  CloseDirScan(lock);
  EXPECT_EQ(LockPath((root + "/missing").c_str(), LockMode::kRead), nullptr);
  testing::internal::CaptureStdout();
  EXPECT_EQ(LockPath(file.c_str(), LockMode::kWrite), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "QVOS_LOCK_WRITE unsupported.\n");
}

TEST_F(FilesTest, DeleteRenameAndMakeDirectory) {
  std::string a = Make("a.txt", "a"), b = Make("b.txt", "b");
  EXPECT_FALSE(RenameFile(a.c_str(), b.c_str()));  // never replaces
  EXPECT_EQ(std::ifstream(b).get(), 'b');
  std::string c = root + "\\c.txt";  // "\" is a separator too
  EXPECT_TRUE(RenameFile(a.c_str(), c.c_str()));
  EXPECT_TRUE(fs::exists(root + "/c.txt"));
  EXPECT_FALSE(fs::exists(a));
  EXPECT_FALSE(RenameFile(a.c_str(), (root + "/e.txt").c_str()));  // gone

  EXPECT_FALSE(DeleteFileOrDir((root + "/nothing").c_str()));
  EXPECT_EQ(MakeDirectoryCore((root + "/d").c_str()), 0);
  EXPECT_EQ(MakeDirectoryCore((root + "/d").c_str()), ERR_CREATEDIR);
  Make("d/inner");
  EXPECT_FALSE(DeleteFileOrDir((root + "/d").c_str()));  // not empty
  EXPECT_TRUE(DeleteFileOrDir((root + "/d/inner").c_str()));
  EXPECT_TRUE(DeleteFileOrDir((root + "/d").c_str()));
  EXPECT_FALSE(fs::exists(root + "/d"));
}

TEST_F(FilesTest, FullPathsAndCurrentDirectory) {
  char buffer[1024];
  EXPECT_TRUE(GetFullPath("/a/./b/../c//d", buffer, sizeof buffer));
  EXPECT_STREQ(buffer, "/a/c/d");
  EXPECT_TRUE(GetFullPath("/..", buffer, sizeof buffer));
  EXPECT_STREQ(buffer, "/");
  char small[5];
  EXPECT_FALSE(GetFullPath("/abcdefgh", small, sizeof small));
  EXPECT_STREQ(small, "/abc");
  EXPECT_TRUE(GetFullPath("/abc", small, sizeof small));  // just fits
  EXPECT_FALSE(GetFullPath("/abc", small, 0));

  char* previous = ChangeCurrentDir(root.c_str());
  ASSERT_NE(previous, nullptr);
  EXPECT_TRUE(GetFullPath("x\\y", buffer, sizeof buffer));
  EXPECT_EQ(std::string(buffer), root + "/x/y");
  ASSERT_TRUE(GetCurrentDir(buffer, sizeof buffer));
  EXPECT_EQ(std::string(buffer), root);
  std::vector<char> tight(root.size());
  EXPECT_FALSE(GetCurrentDir(tight.data(), tight.size()));
  tight.push_back('x');
  EXPECT_TRUE(GetCurrentDir(tight.data(), tight.size()));
  EXPECT_EQ(ChangeCurrentDir((root + "/missing").c_str()), nullptr);
  char* back = ChangeCurrentDir(previous);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(std::string(back), root);
  std::free(back);
  std::free(previous);
}

TEST_F(FilesTest, RealPathsAndSameFiles) {
  std::string file = Make("file.txt"), other = Make("other.txt");
  fs::create_symlink(file, root + "/link");
  fs::create_hard_link(file, root + "/hard");
  const std::string real = fs::canonical(file).string();
  char buffer[1024];
  ASSERT_TRUE(GetRealPath((root + "/link").c_str(), buffer, sizeof buffer));
  EXPECT_EQ(std::string(buffer), real);
  ASSERT_TRUE(GetRealPath((root + "\\.\\link").c_str(), buffer, sizeof buffer));
  EXPECT_EQ(std::string(buffer), real);
  std::strcpy(buffer, "untouched");
  EXPECT_FALSE(GetRealPath((root + "/missing").c_str(), buffer, sizeof buffer));
  EXPECT_STREQ(buffer, "untouched");
  std::vector<char> tight(real.size(), 'z');  // no room for the terminator
  EXPECT_FALSE(GetRealPath(file.c_str(), tight.data(), tight.size()));
  EXPECT_EQ(std::string(tight.begin(), tight.end()), std::string(real.size(), 'z'));

  EXPECT_TRUE(IsSameDiskFile(file.c_str(), (root + "/link").c_str()));
  EXPECT_TRUE(IsSameDiskFile((root + "\\hard").c_str(), file.c_str()));
  EXPECT_FALSE(IsSameDiskFile(file.c_str(), other.c_str()));
  EXPECT_FALSE(IsSameDiskFile(file.c_str(), (root + "/missing").c_str()));
}

// Plain files by mode, with positions set and told, as the file layer drives them.
TEST_F(FilesTest, DiskFiles) {
  const std::string name = root + "/data.bin";
  EXPECT_EQ(OpenDiskFile(name.c_str(), qvDiskFileMode::kRead), nullptr);
  EXPECT_EQ(OpenDiskFile(name.c_str(), qvDiskFileMode::kUpdate), nullptr);
  // Linux would open a directory for reading: the platform does not.
  EXPECT_EQ(OpenDiskFile(root.c_str(), qvDiskFileMode::kRead), nullptr);
  EXPECT_EQ(OpenDiskFile(root.c_str(), qvDiskFileMode::kUpdate), nullptr);

  qvDiskFile* f = OpenDiskFile(name.c_str(), qvDiskFileMode::kWrite);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(WriteDiskFile(f, "hello world", 11), 11u);
  EXPECT_TRUE(FlushDiskFile(f));
  EXPECT_TRUE(CloseDiskFile(f));

  f = OpenDiskFile((root + "\\data.bin").c_str(), qvDiskFileMode::kUpdate);
  ASSERT_NE(f, nullptr);
  char text[32] = {};
  EXPECT_EQ(ReadDiskFile(f, text, 5), 5u);
  EXPECT_STREQ(text, "hello");
  ASSERT_TRUE(SeekDiskFile(f, 0, qvSeekFrom::kCurrent));  // between a read and a write
  EXPECT_EQ(WriteDiskFile(f, "!!", 2), 2u);
  EXPECT_EQ(TellDiskFile(f), 7);
  EXPECT_FALSE(SeekDiskFile(f, -8, qvSeekFrom::kCurrent));
  EXPECT_EQ(TellDiskFile(f), 7);
  ASSERT_TRUE(SeekDiskFile(f, -4, qvSeekFrom::kEnd));
  EXPECT_EQ(TellDiskFile(f), 7);
  ASSERT_TRUE(SeekDiskFile(f, 0, qvSeekFrom::kStart));
  EXPECT_EQ(ReadDiskFile(f, text, sizeof text), 11u);
  EXPECT_EQ(std::string(text, 11), "hello!!orld");
  EXPECT_EQ(ReadDiskFile(f, text, sizeof text), 0u);
  ASSERT_TRUE(SeekDiskFile(f, 10, qvSeekFrom::kEnd));  // past the end is allowed
  EXPECT_EQ(TellDiskFile(f), 21);
  EXPECT_TRUE(CloseDiskFile(f));
  EXPECT_TRUE(CloseDiskFile(nullptr));

  // Writing empties an existing file.
  f = OpenDiskFile(name.c_str(), qvDiskFileMode::kWrite);
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(CloseDiskFile(f));
  EXPECT_EQ(fs::file_size(name), 0u);

  // Buffered bytes that the system refuses make the close fail.
  if (fs::exists("/dev/full")) {
    f = OpenDiskFile("/dev/full", qvDiskFileMode::kWrite);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(WriteDiskFile(f, "lost", 4), 4u);  // still in the buffer
    EXPECT_FALSE(CloseDiskFile(f));
  }
}

TEST_F(FilesTest, AttributesAndDates) {
  std::string f = Make("f.txt");
  EXPECT_TRUE(SetFileAttrBits(f.c_str(), QV_FILEATTR_READONLY));
  qvDirLock* lock = LockPath(f.c_str(), LockMode::kRead);
  qvDirEntry entry{};
  ExamineDirEntry(lock, &entry);
  CloseDirScan(lock);
  EXPECT_TRUE(entry.attributes & QV_FILEATTR_READONLY);
  EXPECT_TRUE(SetFileAttrBits(f.c_str(), QV_FILEATTR_READONLY | QV_FILEATTR_NORMAL));
  EXPECT_FALSE(SetFileAttrBits((root + "/missing").c_str(), QV_FILEATTR_NORMAL));
  lock = LockPath(f.c_str(), LockMode::kRead);
  ExamineDirEntry(lock, &entry);
  CloseDirScan(lock);
  EXPECT_FALSE(entry.attributes & QV_FILEATTR_READONLY);

  qvDate date{7, 6, 5, 2, 0, 2020};  // 2 January 2020 05:06:07 local time
  qvFileTime times[3];
  DateToFileTime(date, &times[QV_TIME_WRITE]);
  times[QV_TIME_ACCESS] = times[QV_TIME_WRITE];
  times[QV_TIME_CREATION] = times[QV_TIME_WRITE];
  EXPECT_TRUE(SetFileDates(f.c_str(), times));
  lock = LockPath(f.c_str(), LockMode::kRead);
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
  EXPECT_FALSE(SetFileDates((root + "/missing").c_str(), times));
}

// Dates come from scripts: a year beyond what the system's time holds used to overflow an int.
TEST(FileDates, DatesTheSystemCannotExpressAreRefused) {
  const char* oldTz = std::getenv("TZ");
  std::string savedTz = oldTz ? oldTz : "";
  setenv("TZ", "UTC", 1);
  tzset();
  const qvFileTime marker{12345, 6};
  struct ToTime {
    const char* what;
    qvDate date;
    bool ok;
    int64_t seconds;
  } toTime[] = {
      {"the last second of 1969", {59, 59, 23, 31, 11, 1969}, true, -1},
      {"the 32nd of January", {0, 0, 0, 32, 0, 1970}, true, 31 * 86400},
      {"the smallest year", {0, 0, 0, 1, 0, INT_MIN}, false, marker.seconds},
      {"months past the largest year", {0, 0, 0, 1, INT_MAX, INT_MAX}, false, marker.seconds},
  };
  for (const ToTime& c : toTime) {
    qvFileTime t = marker;
    EXPECT_EQ(DateToFileTime(c.date, &t), c.ok) << c.what;
    EXPECT_EQ(t.seconds, c.seconds) << c.what;
  }
  // The largest year itself fits a 64-bit time and comes back.
  qvFileTime last = marker;
  ASSERT_TRUE(DateToFileTime({0, 0, 0, 1, 0, INT_MAX}, &last));
  qvDate back{};
  ASSERT_TRUE(FileTimeToDate(last, &back));
  EXPECT_EQ(back.year, INT_MAX);
  struct ToDate {
    const char* what;
    int64_t seconds;
    bool ok;
    int year;
  } toDate[] = {
      {"1969", -1, true, 1969},
      {"a year past the largest int", (int64_t{INT_MAX} + 1000 - 1970) * 31556952, false, 0},
      {"the largest time", INT64_MAX, false, 0},
      {"the smallest time", INT64_MIN, false, 0},
  };
  for (const ToDate& c : toDate) {
    qvDate d{1, 2, 3, 4, 5, 6};
    EXPECT_EQ(FileTimeToDate({c.seconds, 0}, &d), c.ok) << c.what;
    EXPECT_EQ(d.year, c.ok ? c.year : 6) << c.what;
  }
  if (oldTz)
    setenv("TZ", savedTz.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

TEST_F(FilesTest, Volumes) {
  char label[256];
  EXPECT_TRUE(GetVolumeLabel("/", label, sizeof label));
  EXPECT_STREQ(label, "/");
  EXPECT_FALSE(GetVolumeLabel((root + "/missing").c_str(), label, sizeof label));
  EXPECT_STREQ(label, "");
  uint64_t freeBytes = 0, usedBytes = 0;
  EXPECT_TRUE(GetDiskSpace(root.c_str(), &freeBytes, &usedBytes));
  EXPECT_GT(freeBytes + usedBytes, 0u);
  EXPECT_FALSE(GetDiskSpace((root + "/missing").c_str(), &freeBytes, &usedBytes));
  EXPECT_EQ(freeBytes + usedBytes, 0u);
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

// A player killed beyond any clean-up leaves its private directory; the next start removes it by
// the pid in its name, and only when that process is gone.
TEST_F(FilesTest, LeftoversOfEndedPlayersGoAndALivePlayersStay) {
  pid_t dead = fork();
  if (dead == 0) _exit(0);
  ASSERT_GT(dead, 0);
  ASSERT_EQ(waitpid(dead, nullptr, 0), dead);
  const std::string live = std::to_string(getppid());
  const std::string gone = std::to_string(dead);
  fs::create_directories(root + "/quillvane-" + gone + "-a1B2c3/sub");
  Make("quillvane-" + gone + "-a1B2c3/qv0001.tmp");
  Make("quillvane-" + gone + "-a1B2c3/sub/inner");
  fs::create_directory(root + "/outside");
  Make("outside/kept");
  fs::create_directory_symlink(root + "/outside", root + "/quillvane-" + gone + "-linked");
  const char* kept[] = {"quillvane-LIVE-a1B2c3", "quillvane-a1B2c3",  "quillvane-GONE-toolong",
                        "quillvane-GONE",        "quillvane--a1B2c3", "quillvane-GONEx-a1B2c3"};
  std::vector<std::string> keptPaths;
  for (std::string name : kept) {
    if (auto at = name.find("LIVE"); at != std::string::npos) name.replace(at, 4, live);
    if (auto at = name.find("GONE"); at != std::string::npos) name.replace(at, 4, gone);
    keptPaths.push_back(root + "/" + name);
    fs::create_directory(keptPaths.back());
  }
  Make("quillvane-" + gone + "-file12");  // not a directory

  setenv("TMPDIR", root.c_str(), 1);
  EXPECT_TRUE(RemoveLeftoversOfEndedPlayers());
  unsetenv("TMPDIR");
  EXPECT_FALSE(fs::exists(root + "/quillvane-" + gone + "-a1B2c3"));
  for (const std::string& path : keptPaths) EXPECT_TRUE(fs::exists(path)) << path;
  EXPECT_TRUE(fs::exists(root + "/quillvane-" + gone + "-file12"));
  EXPECT_TRUE(fs::exists(root + "/outside/kept"));  // a link is not followed
}

TEST_F(FilesTest, ExecutesProgramsWithArgumentsAndExitStatus) {
  std::string out = root + "/args.txt";
  int status = -1;
  std::string args = "args " + out + " one \"two words\" three";
  ASSERT_EQ(ExecuteProgram(QV_PLATFORM_PEER, args.c_str(), RunMode::kWait, &status), 0);
  EXPECT_EQ(status, 0);
  std::ifstream in(out);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"one", "two words", "three"}));

  ASSERT_EQ(ExecuteProgram(QV_PLATFORM_PEER, "exit 7", RunMode::kWait, &status), 0);
  EXPECT_EQ(status, 7);
  // A relative name is found in the current directory.
  fs::path peer(QV_PLATFORM_PEER);
  char* previous = ChangeCurrentDir(peer.parent_path().c_str());
  ASSERT_EQ(ExecuteProgram(peer.filename().c_str(), "exit 3", RunMode::kWait, &status), 0);
  EXPECT_EQ(status, 3);
  std::free(ChangeCurrentDir(previous));
  std::free(previous);

  EXPECT_EQ(ExecuteProgram((root + "/no such program").c_str(), "", RunMode::kWait, &status),
            ERR_FILEEXIST);
  // The player ignores SIGPIPE; a program it runs gets the default back.
  ASSERT_EQ(ExecuteProgram("/bin/sh", "-c \"kill -PIPE $$\"", RunMode::kWait, &status), 0);
  EXPECT_EQ(status, 128 + SIGPIPE);
  double t0 = NowMs();
  EXPECT_EQ(ExecuteProgram("/bin/sleep", "1", RunMode::kAsync, &status), 0);  // not waited for
  EXPECT_LT(NowMs() - t0, 500);
}

TEST_F(FilesTest, ProgramPath) {
  char buffer[1024];
  ASSERT_TRUE(GetProgramPath(buffer, sizeof buffer));
  EXPECT_EQ(fs::path(buffer).filename(), "platform_tests");
  char tiny[4];
  EXPECT_FALSE(GetProgramPath(tiny, sizeof tiny));
  EXPECT_STREQ(tiny, "");
}
