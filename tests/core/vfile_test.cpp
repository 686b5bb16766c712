#include "core/vfile.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/error_table.h"
#include "core/errors.h"
#include "platform/loop.h"

using namespace qv;
namespace fs = std::filesystem;

namespace {

class VfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    dir_ = fs::temp_directory_path() / ("qv_vfile_" + std::to_string(rd()) + std::to_string(rd()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string Path(const std::string& leaf) const { return (dir_ / leaf).string(); }
  std::string Write(const std::string& leaf, const std::string& bytes) const {
    std::ofstream(Path(leaf), std::ios::binary) << bytes;
    return Path(leaf);
  }
  static std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static std::string ReadAll(qvFile* f) {
    std::string out;
    char buf[7];  // odd size: several reads, the last one short
    size_t n;
    while ((n = ReadFileQ(f, buf, sizeof(buf))) > 0) out.append(buf, n);
    return out;
  }
  std::string Chunk(uint64_t offset, uint64_t length, const std::string& container) const {
    char name[kMaxPathLength + 1];
    EXPECT_TRUE(
        MakeChunkName("sub/inner.bin", name, sizeof(name), offset, length, 0, container.c_str()));
    return name;
  }
  fs::path dir_;
};

}  // namespace

TEST_F(VfileTest, StretchReadsStayInside) {
  std::string container = Write("container.bin", "0123456789ABCDEFGHIJ");
  qvFile* f = OpenFileQ(Chunk(5, 10, container).c_str(), kFileRead);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(ReadAll(f), "56789ABCDE");
  EXPECT_EQ(EofFileQ(f), 1);
  EXPECT_EQ(ReadByteQ(f), -1);

  // Seeks are kept within the stretch at both ends.
  EXPECT_EQ(SeekFileQ(f, 500, kSeekStart), 10);
  EXPECT_EQ(SeekFileQ(f, 0, kSeekCurrent), 10);
  EXPECT_EQ(ReadByteQ(f), -1);
  EXPECT_EQ(EofFileQ(f), 1);
  SeekFileQ(f, -100, kSeekCurrent);
  EXPECT_EQ(SeekFileQ(f, 0, kSeekCurrent), 0);
  EXPECT_EQ(ReadByteQ(f), '5');
  SeekFileQ(f, -3, kSeekEnd);
  EXPECT_EQ(ReadByteQ(f), 'C');
  SeekFileQ(f, INT64_MAX, kSeekCurrent);  // no overflow past the end either
  EXPECT_EQ(SeekFileQ(f, 0, kSeekCurrent), 10);
  SeekFileQ(f, INT64_MIN, kSeekStart);
  EXPECT_EQ(SeekFileQ(f, 0, kSeekCurrent), 0);

  // Seek from the end returns the old position; from the start then returns the length.
  SeekFileQ(f, 4, kSeekStart);
  EXPECT_EQ(SeekFileQ(f, 0, kSeekEnd), 4);
  EXPECT_EQ(SeekFileQ(f, 0, kSeekStart), 10);
  EXPECT_EQ(ReadU32BE(f), 0x35363738u);  // "5678"
  EXPECT_EQ(ReadU16LE(f), 0x4139u);      // "9A"
  EXPECT_EQ(WriteFileQ(f, "x", 1), 0u);
  EXPECT_EQ(CloseFileQ(f), 1);
  EXPECT_EQ(Slurp(container), "0123456789ABCDEFGHIJ");

  // A stretch that runs past its container's end ends with the container.
  f = OpenFileQ(Chunk(15, 100, container).c_str(), kFileRead);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(ReadAll(f), "FGHIJ");
  CloseFileQ(f);
}

TEST_F(VfileTest, StretchNamesAreCheckedBeforeOpening) {
  std::string container = Write("c.bin", "abcdef");
  EXPECT_EQ(OpenFileQ(Chunk(0, 6, container).c_str(), kFileWrite), nullptr);
  EXPECT_EQ(OpenFileQ(Chunk(0, 6, container).c_str(), kFileReadWrite), nullptr);
  const std::string bad[] = {
      ":::chunk",
      ":::chunk0:6",
      ":::chunk0:6*c.bin",                              // no container
      ":::chunkX:6*c.bin/" + container,                 // no offset
      ":::chunk0*c.bin/" + container,                   // no length
      ":::chunk99999999999999999999:1*c/" + container,  // does not fit 64 bits
      ":::chunk9223372036854775807:2*c/" + container,   // offset + length overflows
      ":::chunk0:6*c.bin/" + Path("missing.bin"),
  };
  for (const std::string& name : bad) {
    EXPECT_EQ(OpenFileQ(name.c_str(), kFileRead), nullptr) << name;
  }
}

TEST_F(VfileTest, MemoryFilesOpenOnlyUnderTheirRegisteredName) {
  static const char kData[] = "hello memory";
  int released = 0;
  char name[kMaxPathLength + 1];
  ASSERT_TRUE(RegisterMemoryFile(
      "dir/greeting.txt", kData, 12, 42, [&] { ++released; }, name, sizeof(name)));
  EXPECT_TRUE(IsMemoryFileName(name));
  EXPECT_STREQ(GetDisplayName(name), "greeting.txt");
  EXPECT_FALSE(RegisterMemoryFile("other", kData, 3, 42, nullptr, name + 0, 0));  // no room
  char dup[kMaxPathLength + 1];
  EXPECT_FALSE(RegisterMemoryFile("other", kData, 3, 42, nullptr, dup, sizeof(dup)));

  qvFile* f = OpenFileQ(name, kFileRead);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(ReadAll(f), "hello memory");
  EXPECT_EQ(SeekFileQ(f, 1000, kSeekStart), 12);
  EXPECT_EQ(SeekFileQ(f, -1000, kSeekEnd), 12);
  EXPECT_EQ(ReadByteQ(f), 'h');
  EXPECT_EQ(OpenFileQ(name, kFileWrite), nullptr);

  // Names that a script could make up: another address, length or reference, or garbage.
  char forged[128];
  std::snprintf(forged, sizeof(forged), ":::chunkS42:12*x/%" PRIxPTR,
                reinterpret_cast<uintptr_t>(&released));
  EXPECT_EQ(OpenFileQ(forged, kFileRead), nullptr);
  std::snprintf(forged, sizeof(forged), ":::chunkS42:4096*x/%" PRIxPTR,
                reinterpret_cast<uintptr_t>(kData));
  EXPECT_EQ(OpenFileQ(forged, kFileRead), nullptr);
  std::snprintf(forged, sizeof(forged), ":::chunkS43:12*x/%" PRIxPTR,
                reinterpret_cast<uintptr_t>(kData));
  EXPECT_EQ(OpenFileQ(forged, kFileRead), nullptr);
  EXPECT_EQ(OpenFileQ(":::chunkS42:12*x/", kFileRead), nullptr);
  EXPECT_EQ(OpenDirQ(forged, 0), nullptr);

  // Unregistered while open: the open file keeps working and the bytes are released after it.
  EXPECT_TRUE(UnregisterMemoryFile(name));
  EXPECT_FALSE(UnregisterMemoryFile(name));
  EXPECT_EQ(OpenFileQ(name, kFileRead), nullptr);
  EXPECT_EQ(released, 0);
  EXPECT_EQ(ReadByteQ(f), 'e');
  CloseFileQ(f);
  EXPECT_EQ(released, 1);
}

TEST_F(VfileTest, PlainFilesRoundTrip) {
  std::string path = Path("plain.bin");
  qvFile* f = OpenFileQ(path.c_str(), kFileWrite);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(EofFileQ(f), 1);  // length unknown while writing
  EXPECT_EQ(WriteU32BE(f, 0x01020304u), 4);
  EXPECT_EQ(WriteU32LE(f, 0x01020304u), 1);
  EXPECT_EQ(WriteU16BE(f, 0xA1B2), 0xB2);
  EXPECT_EQ(WriteU16LE(f, 0xA1B2), 0xA1);
  EXPECT_EQ(WriteFileQ(f, "xyz", 3), 3u);
  EXPECT_EQ(SeekFileQ(f, 0, kSeekEnd), 15);
  EXPECT_EQ(FlushFileQ(f), 1);
  EXPECT_EQ(CloseFileQ(f), 1);

  f = OpenFileQ(path.c_str(), kFileRead);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->length, 15);
  EXPECT_EQ(ReadU32BE(f), 0x01020304u);
  EXPECT_EQ(ReadU32LE(f), 0x01020304u);
  EXPECT_EQ(ReadU16BE(f), 0xA1B2);
  EXPECT_EQ(ReadU16LE(f), 0xA1B2);
  EXPECT_EQ(EofFileQ(f), 0);
  EXPECT_EQ(ReadAll(f), "xyz");
  EXPECT_EQ(EofFileQ(f), 1);
  EXPECT_EQ(ReadByteQ(f), -1);
  EXPECT_EQ(SeekFileQ(f, 0, kSeekCurrent), 15);  // a failed read does not move on
  SeekFileQ(f, -20, kSeekCurrent);
  EXPECT_EQ(SeekFileQ(f, 0, kSeekCurrent), 0);
  CloseFileQ(f);

  // Reading and writing one file: a missing file is made; reads after writes see the data.
  std::string rw = Path("rw.bin");
  f = OpenFileQ(rw.c_str(), kFileReadWrite);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(WriteFileQ(f, "abcdef", 6), 6u);
  SeekFileQ(f, 2, kSeekStart);
  EXPECT_EQ(ReadByteQ(f), 'c');
  EXPECT_EQ(WriteByteQ(f, 'X'), 'X');
  EXPECT_EQ(ReadByteQ(f), 'e');
  CloseFileQ(f);
  EXPECT_EQ(Slurp(rw), "abcXef");

  EXPECT_EQ(OpenFileQ(Path("missing").c_str(), kFileRead), nullptr);
  EXPECT_EQ(OpenFileQ(dir_.string().c_str(), kFileRead), nullptr);
  EXPECT_EQ(OpenFileQ(path.c_str(), 7), nullptr);
}

// A whole file replaces the old one by a rename, yet what the name stands for stays: a symbolic
// link stays a link and the file it names gets the bytes; names hard-linked to the file still
// share it; mode and owner stay; what is not a plain file is written in place or refused.
TEST_F(VfileTest, WholeFilesKeepWhatTheNameStandsFor) {
  auto write = [](const std::string& name, const std::string& bytes) {
    return WriteWholeFile(name.c_str(), bytes.data(), bytes.size());
  };
  auto isLink = [](const std::string& name) { return fs::is_symlink(fs::symlink_status(name)); };
  fs::create_directory(dir_ / "sub");
  Write("target.txt", "old");
  fs::create_symlink("../target.txt", dir_ / "sub/link.txt");  // relative to the link's folder
  fs::create_symlink("sub/link.txt", dir_ / "chain.txt");
  EXPECT_EQ(write(Path("sub/link.txt"), "first"), 0);
  EXPECT_EQ(write(Path("chain.txt"), "second"), 0);
  EXPECT_TRUE(isLink(Path("sub/link.txt")));
  EXPECT_TRUE(isLink(Path("chain.txt")));
  EXPECT_EQ(Slurp(Path("target.txt")), "second");
  // A link to nothing yet makes the file it names.
  fs::create_symlink("made.txt", dir_ / "dangling.txt");
  EXPECT_EQ(write(Path("dangling.txt"), "made"), 0);
  EXPECT_TRUE(isLink(Path("dangling.txt")));
  EXPECT_EQ(Slurp(Path("made.txt")), "made");
  // Links that go round name no file.
  fs::create_symlink("loop2", dir_ / "loop1");
  fs::create_symlink("loop1", dir_ / "loop2");
  EXPECT_EQ(write(Path("loop1"), "x"), ERR_WRITEFILE);

  Write("one.txt", "old");
  fs::create_hard_link(dir_ / "one.txt", dir_ / "two.txt");
  EXPECT_EQ(write(Path("two.txt"), "both"), 0);
  EXPECT_EQ(Slurp(Path("one.txt")), "both");
  EXPECT_TRUE(fs::equivalent(dir_ / "one.txt", dir_ / "two.txt"));

  Write("mode.txt", "old");
  ASSERT_EQ(chmod(Path("mode.txt").c_str(), 04751), 0);
  EXPECT_EQ(write(Path("mode.txt"), "new"), 0);
  struct stat st {};
  ASSERT_EQ(stat(Path("mode.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 04751u);
  if (geteuid() == 0) {
    Write("owned.txt", "old");
    ASSERT_EQ(chown(Path("owned.txt").c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(Path("owned.txt").c_str(), 0600), 0);
    EXPECT_EQ(write(Path("owned.txt"), "new"), 0);
    ASSERT_EQ(stat(Path("owned.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(Slurp(Path("owned.txt")), "new");
  }

  // A directory, also behind a link, cannot be opened for writing.
  fs::create_directory(dir_ / "adir");
  fs::create_directory_symlink("adir", dir_ / "dirlink");
  EXPECT_EQ(write(Path("adir"), "x"), ERR_WRITEFILE);
  EXPECT_EQ(std::string(GetErrorString()), Path("adir"));
  EXPECT_EQ(write(Path("dirlink"), "x"), ERR_WRITEFILE);
  EXPECT_TRUE(fs::is_directory(dir_ / "adir"));
  EXPECT_TRUE(isLink(Path("dirlink")));
  // A device is written into, never replaced by a plain file; a pipe that nobody reads is
  // refused rather than waited for.
  if (fs::exists("/dev/full")) {
    EXPECT_EQ(write("/dev/full", "x"), ERR_WRITE);
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
  }
  ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0600), 0);
  EXPECT_EQ(write(Path("pipe"), "x"), ERR_WRITEFILE);
  EXPECT_TRUE(fs::is_fifo(dir_ / "pipe"));
  // No file written beside a target is left behind.
  for (const auto& e : fs::recursive_directory_iterator(dir_)) {
    EXPECT_NE(e.path().filename().string().rfind(".qv", 0), 0u) << e.path();
  }
}

// The user's right to write the file decides, not the right to write its folder: a file that
// may not be written is refused even in a folder anyone may write, and a file that may be written
// is written in a folder that may not. The writes run in a child process as the user "nobody"
// when the test runs as root, whom no permission stops.
TEST_F(VfileTest, WholeFilesNeedTheRightToWriteTheFile) {
  fs::create_directory(dir_ / "open");
  ASSERT_EQ(chmod(Path("open").c_str(), 0777), 0);
  fs::create_directory(dir_ / "closed");
  Write("closed/free.txt", "old");
  ASSERT_EQ(chmod(Path("closed/free.txt").c_str(), 0666), 0);
  ASSERT_EQ(chmod(Path("closed").c_str(), 0555), 0);
  Write("open/theirs.txt", "old");
  // Owned by root, read-only for the others; a user who owns it may not write it either.
  ASSERT_EQ(chmod(Path("open/theirs.txt").c_str(), geteuid() == 0 ? 0644 : 0444), 0);
  ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);

  pid_t pid = fork();
  ASSERT_NE(pid, -1);
  if (pid == 0) {
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
      _exit(100);
    int failures = 0;
    if (WriteWholeFile(Path("open/theirs.txt").c_str(), "new", 3) != ERR_WRITEFILE) failures |= 1;
    std::string mine = Path("open/mine.txt");
    if (WriteWholeFile(mine.c_str(), "mine", 4) != 0 || chmod(mine.c_str(), 0444) != 0 ||
        WriteWholeFile(mine.c_str(), "new", 3) != ERR_WRITEFILE) {
      failures |= 2;
    }
    if (WriteWholeFile(Path("closed/free.txt").c_str(), "new", 3) != 0) failures |= 4;
    _exit(failures);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  int failures = WEXITSTATUS(status);
  ASSERT_NE(failures, 100) << "could not become the user nobody";
  EXPECT_EQ(failures & 1, 0) << "a file of another user, read-only for the others, was replaced";
  EXPECT_EQ(failures & 2, 0) << "the user's own read-only file was replaced";
  EXPECT_EQ(failures & 4, 0) << "a file the user may write was not written";
  EXPECT_EQ(Slurp(Path("open/theirs.txt")), "old");
  EXPECT_EQ(Slurp(Path("open/mine.txt")), "mine");
  EXPECT_EQ(Slurp(Path("closed/free.txt")), "new");
  chmod(Path("closed").c_str(), 0755);
}

TEST_F(VfileTest, ProgDirAndBackslashes) {
  Write("prog.txt", "P");
  SetProgramDir(dir_.string().c_str());
  qvFile* f = OpenFileQ("PROGDIR:prog.txt", kFileRead);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(ReadByteQ(f), 'P');
  CloseFileQ(f);
  SetProgramDir("");
  fs::create_directories(dir_ / "sub");
  Write("sub/inner.txt", "I");
  std::string windows = dir_.string() + "\\sub\\inner.txt";
  f = OpenFileQ(windows.c_str(), kFileRead);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(ReadByteQ(f), 'I');
  CloseFileQ(f);
}

TEST_F(VfileTest, CopyFileBlocks) {
  std::string data(40000, 0);
  for (size_t i = 0; i < data.size(); ++i) data[i] = char(i * 7 + i / 251);
  std::string source = Write("source.bin", data);
  std::string target = Path("target.bin");
  EXPECT_EQ(CopyFileBlocks(source.c_str(), target.c_str()), 0);
  EXPECT_EQ(Slurp(target), data);

  // A stretch copies into a plain file.
  EXPECT_EQ(CopyFileBlocks(Chunk(100, 20000, source).c_str(), target.c_str()), 0);
  EXPECT_EQ(Slurp(target), data.substr(100, 20000));

  Write("empty.bin", "");
  EXPECT_EQ(CopyFileBlocks(Path("empty.bin").c_str(), target.c_str()), 0);
  EXPECT_EQ(Slurp(target), "");

  EXPECT_EQ(CopyFileBlocks(Path("missing.bin").c_str(), target.c_str()), ERR_READFILE);
  EXPECT_EQ(std::string(GetErrorString()), Path("missing.bin"));
  EXPECT_EQ(CopyFileBlocks(source.c_str(), Path("no/such/dir/t.bin").c_str()), ERR_WRITEFILE);
  EXPECT_EQ(std::string(GetErrorString()), Path("no/such/dir/t.bin"));
  // A full device takes the open but not the data: a failure, never success.
  if (fs::exists("/dev/full")) {
    EXPECT_EQ(CopyFileBlocks(source.c_str(), "/dev/full"), ERR_WRITEFILE);
  }
  // A stretch whose container ends early: the file ended, no read failed.
  EXPECT_EQ(CopyFileBlocks(Chunk(39990, 100, source).c_str(), target.c_str()), ERR_READRANGE);

  // Copying a file onto itself (or onto the container of a stretch) would empty it first.
  std::string alias = dir_.string() + "/./source.bin";
  EXPECT_EQ(CopyFileBlocks(source.c_str(), alias.c_str()), ERR_WRONGUSAGE);
  EXPECT_EQ(CopyFileBlocks(Chunk(0, 10, source).c_str(), source.c_str()), ERR_WRONGUSAGE);
  EXPECT_EQ(Slurp(source), data);
}

TEST(VfileLinks, ResolveLinkedFile) {
  std::vector<qvLinkedFile> links = {
      {"::font:Sans", "", "", 200, 60},
      {"data\\pic.png", "", "", 100, 50},
      {"other.txt", "/apps/data.pak", "", 7, 3},
  };
  char out[kMaxPathLength + 1];
  bool isFont = true;

  const char* r = ResolveLinkedFile(links, 1000, "/apps/demo", "data/Pic.PNG", false, &isFont, out,
                                    sizeof(out));
  EXPECT_STREQ(r, ":::chunk1100:50*pic.png//apps/demo");
  EXPECT_FALSE(isFont);
  r = ResolveLinkedFile(links, 1000, "/apps/demo", "other.txt", false, &isFont, out, sizeof(out));
  EXPECT_STREQ(r, ":::chunk1007:3*other.txt//apps/data.pak");

  // Fonts: "x.font" looks for the font x; the font records never match ordinary names.
  r = ResolveLinkedFile(links, 0, "s", "Sans.font", true, &isFont, out, sizeof(out));
  EXPECT_STREQ(r, ":::chunk200:60*Sans/s");
  EXPECT_TRUE(isFont);
  r = ResolveLinkedFile(links, 0, "s", "sans", true, &isFont, out, sizeof(out));
  EXPECT_STREQ(r, ":::chunk200:60*Sans/s");
  EXPECT_STREQ(ResolveLinkedFile(links, 0, "s", "Sans", false, &isFont, out, sizeof(out)), "Sans");
  EXPECT_FALSE(isFont);
  // ".ttf" and ".otf" are ordinary files even in a font lookup.
  links[2].name = "Face.TTF";
  r = ResolveLinkedFile(links, 0, "s", "face.ttf", true, &isFont, out, sizeof(out));
  EXPECT_STREQ(r, ":::chunk7:3*Face.TTF//apps/data.pak");
  EXPECT_FALSE(isFont);
  EXPECT_STREQ(ResolveLinkedFile(links, 0, "s", "none.png", false, &isFont, out, sizeof(out)),
               "none.png");
  EXPECT_STREQ(ResolveLinkedFile({}, 0, "s", "x", true, nullptr, out, sizeof(out)), "x");
}

TEST_F(VfileTest, Directories) {
  Write("b.txt", "bb");
  Write("A.txt", "a");
  Write(".hidden", "h");
  fs::create_directories(dir_ / "c");
  qvDirHandle* h = OpenDirQ(dir_.string().c_str(), 0);
  ASSERT_NE(h, nullptr);
  char name[kMaxPathLength + 1];
  ASSERT_TRUE(GetDirLockName(h, name, sizeof(name)));
  EXPECT_EQ(name, dir_.string());
  qvDirEntry entry;
  EXPECT_EQ(ExamineFileQ(h, &entry), 0);
  EXPECT_EQ(entry.kind, FileKind::kDirectory);
  ASSERT_EQ(ExamineDirQ(h), 0);
  std::vector<std::string> seen;
  const char* leaf;
  FileKind kind;
  while (ReadDirQ(h, &leaf, &kind, &entry)) {
    seen.push_back(leaf);
    if (seen.back() == "b.txt") {
      EXPECT_EQ(entry.size, 2);
      EXPECT_EQ(kind, FileKind::kFile);
    }
    if (seen.back() == "c") {
      EXPECT_EQ(kind, FileKind::kDirectory);
    }
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"A.txt", "b.txt", "c"}));
  CloseDirQ(h);

  // "PROGDIR:" works here too.
  SetProgramDir(dir_.string().c_str());
  h = OpenDirQ("PROGDIR:b.txt", 0);
  SetProgramDir("");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(ExamineFileQ(h, &entry), 0);
  EXPECT_EQ(entry.size, 2);
  EXPECT_EQ(entry.kind, FileKind::kFile);
  SetErrorString("");
  EXPECT_EQ(ExamineDirQ(h), ERR_NOTADIR);
  CloseDirQ(h);

  EXPECT_EQ(OpenDirQ(Path("missing").c_str(), 0), nullptr);
  EXPECT_EQ(OpenDirQ(dir_.string().c_str(), 1), nullptr);
  h = OpenDirQ("", 0);
  ASSERT_NE(h, nullptr);
  ASSERT_TRUE(GetDirLockName(h, name, sizeof(name)));
  EXPECT_EQ(name, fs::current_path().string());
  CloseDirQ(h);
}

TEST_F(VfileTest, VirtualDirectoryHandles) {
  std::string container = Write("c.bin", "0123456789");
  std::string chunk = Chunk(2, 5, container);
  qvDirHandle* h = OpenDirQ(chunk.c_str(), 0);
  ASSERT_NE(h, nullptr);
  qvDirEntry entry;
  EXPECT_EQ(ExamineFileQ(h, &entry), 0);
  EXPECT_EQ(entry.kind, FileKind::kFile);
  EXPECT_EQ(entry.size, 5);
  EXPECT_EQ(entry.attributes, 15u);
  std::time_t t = std::time_t(entry.times[QV_TIME_WRITE].seconds);
  std::tm local = *std::localtime(&t);
  EXPECT_EQ(local.tm_year, 82);
  EXPECT_EQ(local.tm_mon, 7);
  EXPECT_EQ(local.tm_mday, 16);
  EXPECT_EQ(local.tm_hour, 0);
  EXPECT_EQ(entry.times[QV_TIME_CREATION].seconds, entry.times[QV_TIME_WRITE].seconds);
  EXPECT_EQ(ExamineDirQ(h), ERR_NOTADIR);
  EXPECT_EQ(std::string(GetErrorString()), chunk);
  const char* leaf;
  EXPECT_FALSE(ReadDirQ(h, &leaf, nullptr, nullptr));
  char name[kMaxPathLength + 1];
  ASSERT_TRUE(GetDirLockName(h, name, sizeof(name)));
  EXPECT_EQ(name, (fs::current_path() / "inner.bin").string());
  CloseDirQ(h);
  EXPECT_EQ(OpenDirQ(":::chunk1*x/y", 0), nullptr);
  EXPECT_EQ(OpenDirQ(chunk.c_str(), 1), nullptr);
}

TEST(VfileTemp, TempNamesKeepTheLinkedFileExtension) {
  ASSERT_EQ(InitPlatform(), 0);  // its shutdown removes the private temporary directory
  char name[kMaxPathLength + 1];
  ASSERT_EQ(MakeTempNameForChunk(name, sizeof(name), ":::chunk5:10*Logo.PNG/x.exe"), 0);
  std::string path = name;
  EXPECT_EQ(path.substr(path.size() - 4), ".PNG");
  EXPECT_FALSE(fs::exists(path));
  char other[kMaxPathLength + 1];
  ASSERT_EQ(MakeTempNameForChunk(other, sizeof(other), ":::chunk5:10*noext/x.exe"), 0);
  EXPECT_NE(path.substr(0, path.size() - 4), other);
  char tiny[8];
  EXPECT_NE(MakeTempNameForChunk(tiny, sizeof(tiny), ":::chunk5:10*a.png/x.exe"), 0);
  fs::path dir = fs::path(path).parent_path();
  ShutdownPlatform();
  EXPECT_FALSE(fs::exists(dir));
}
