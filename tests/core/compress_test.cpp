#include "core/compress.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "core/error_table.h"
#include "core/errors.h"
#include "core/vfile.h"
#include "platform/loop.h"

using namespace qv;
namespace fs = std::filesystem;

namespace {

class CompressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    dir_ = fs::temp_directory_path() / ("qv_pack_" + std::to_string(rd()) + std::to_string(rd()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string Path(const std::string& leaf) const { return (dir_ / leaf).string(); }
  std::string Put(const std::string& leaf, const std::string& bytes) const {
    std::ofstream(Path(leaf), std::ios::binary) << bytes;
    return Path(leaf);
  }
  static std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // A container made by zlib itself, independent of the writer under test.
  static std::string Container(const std::string& magic, const std::string& data,
                               const std::string& reserved = std::string(4, '\0')) {
    uLongf bound = compressBound(uLong(data.size()));
    std::string z(bound, '\0');
    EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(z.data()), &bound,
                        reinterpret_cast<const Bytef*>(data.data()), uLong(data.size()),
                        Z_DEFAULT_COMPRESSION),
              Z_OK);
    z.resize(bound);
    return magic + reserved + z;
  }
  static std::string Noise(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s) c = char(gen());
    return s;
  }
  fs::path dir_;
};

}  // namespace

TEST(Compress, MapZlibError) {
  EXPECT_EQ(MapZlibError(Z_VERSION_ERROR), ERR_ZLIBVERSION);
  EXPECT_EQ(MapZlibError(Z_MEM_ERROR), ERR_MEM);
  EXPECT_EQ(MapZlibError(Z_DATA_ERROR), ERR_ZLIBDATA);
  EXPECT_EQ(MapZlibError(Z_STREAM_ERROR), ERR_ZLIBSTREAM);
  EXPECT_EQ(MapZlibError(Z_ERRNO), ERR_ZLIBIO);
  EXPECT_EQ(MapZlibError(Z_BUF_ERROR), ERR_UNKNOWN);
}

TEST_F(CompressTest, RoundTrips) {
  const std::string inputs[] = {
      "",
      "hello, hello, hello, hello",
      std::string(16384, 'a'),  // exactly one block
      Noise(16384 * 3 + 17, 1) + std::string(70000, 'z'),
  };
  for (const std::string& data : inputs) {
    std::string src = Put("src.bin", data), packed = Path("packed.qvpk"), back = Path("back.bin");
    uint32_t size = 1;
    ASSERT_EQ(CompressFile(src.c_str(), packed.c_str(), &size), 0);
    std::string container = Slurp(packed);
    EXPECT_EQ(size, container.size());
    ASSERT_GT(container.size(), 8u);
    EXPECT_EQ(container.substr(0, 8), std::string("QVPK\0\0\0\0", 8));
    // The stream is plain zlib.
    std::string plain(data.size() + 1, '\0');
    uLongf plainSize = uLongf(plain.size());
    ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(plain.data()), &plainSize,
                         reinterpret_cast<const Bytef*>(container.data() + 8),
                         uLong(container.size() - 8)),
              Z_OK);
    EXPECT_EQ(plain.substr(0, plainSize), data);

    size = 12345;
    ASSERT_EQ(DecompressFile(packed.c_str(), back.c_str(), &size), 0);
    EXPECT_EQ(size, data.size());
    EXPECT_EQ(Slurp(back), data);
  }
}

TEST_F(CompressTest, ReadsContainersMadeByZlib) {
  std::string data = "The reserved word is skipped unread. " + Noise(5000, 2);
  std::string packed = Put("a.qvpk", Container("QVPK", data, "\x01\x02\x03\x04") + "trailing junk");
  uint32_t size = 0;
  ASSERT_EQ(DecompressFile(packed.c_str(), Path("out").c_str(), &size), 0);
  EXPECT_EQ(size, data.size());
  EXPECT_EQ(Slurp(Path("out")), data);

  // A compressed applet inside a larger file, and the same through a virtual name.
  std::string exe = Put("player",
                        std::string(1000, 'x') + Container(std::string("QVZ\0", 4), data));
  uint64_t full = 0;
  ASSERT_EQ(UnpackFile(kAppletPackMagic, exe.c_str(), Path("applet").c_str(), 1000, &full), 0);
  EXPECT_EQ(full, data.size());
  EXPECT_EQ(Slurp(Path("applet")), data);
  char chunk[kMaxPathLength + 1];
  ASSERT_TRUE(MakeChunkName("packed.qvpk", chunk, sizeof(chunk), 1000, fs::file_size(exe) - 1000, 0,
                            exe.c_str()));
  ASSERT_EQ(UnpackFile(kAppletPackMagic, chunk, Path("applet2").c_str(), 0, nullptr), 0);
  EXPECT_EQ(Slurp(Path("applet2")), data);
}

TEST_F(CompressTest, BadStreams) {
  std::string data = Noise(60000, 3);
  std::string good = Container("QVPK", data);
  uint32_t size = 0;

  // Cut short: ERR_ZLIBDATA, and the old file stays as it was, with nothing beside it.
  std::string cut = Put("cut", good.substr(0, good.size() / 2));
  Put("out", "the old file");
  EXPECT_EQ(DecompressFile(cut.c_str(), Path("out").c_str(), &size), ERR_ZLIBDATA);
  EXPECT_GT(size, 0u);
  EXPECT_TRUE(Slurp(Path("out")) == "the old file");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);
  // Without an old file none is left.
  EXPECT_EQ(DecompressFile(cut.c_str(), Path("new").c_str(), &size), ERR_ZLIBDATA);
  EXPECT_FALSE(fs::exists(Path("new")));

  std::string header = Put("hdr", "QVPK" + std::string(4, '\0'));
  EXPECT_EQ(DecompressFile(header.c_str(), Path("out").c_str(), &size), ERR_ZLIBDATA);

  std::string badHeader = good;
  badHeader[8] = '\x17';
  EXPECT_EQ(DecompressFile(Put("bh", badHeader).c_str(), Path("out").c_str(), &size), ERR_ZLIBDATA);
  std::string badSum = good;
  badSum.back() ^= 0x55;
  EXPECT_EQ(DecompressFile(Put("bs", badSum).c_str(), Path("out").c_str(), &size), ERR_ZLIBDATA);
  // A stream that asks for a preset dictionary counts as bad data.
  std::string dict = "QVPK" + std::string(4, '\0') + "\x78\x20" + std::string(4, '\0') + "xxxx";
  unsigned flg = 0x20;
  while ((0x7800 + flg) % 31 != 0) ++flg;
  dict[9] = char(flg);
  EXPECT_EQ(DecompressFile(Put("dict", dict).c_str(), Path("out").c_str(), &size), ERR_ZLIBDATA);

  // Another magic: ERR_PAKFORMAT and no destination at all.
  std::string other = Put("other", Container("QVPX", data));
  EXPECT_EQ(DecompressFile(other.c_str(), Path("never").c_str(), &size), ERR_PAKFORMAT);
  EXPECT_EQ(DecompressFile(Put("tiny", "QV").c_str(), Path("never").c_str(), &size), ERR_PAKFORMAT);
  EXPECT_FALSE(fs::exists(Path("never")));
  EXPECT_EQ(UnpackFile(kAppletPackMagic, Put("applet", Container("QVPK", data)).c_str(),
                       Path("never").c_str(), 0, nullptr),
            ERR_PAKFORMAT);
  EXPECT_FALSE(fs::exists(Path("never")));
}

TEST_F(CompressTest, FileErrors) {
  std::string data = Noise(40000, 4);
  std::string src = Put("src", data);
  uint32_t size = 0;
  EXPECT_EQ(CompressFile(Path("missing").c_str(), Path("x").c_str(), &size), ERR_READFILE);
  EXPECT_EQ(std::string(GetErrorString()), Path("missing"));
  EXPECT_EQ(DecompressFile(Path("missing").c_str(), Path("x").c_str(), &size), ERR_READFILE);
  EXPECT_EQ(CompressFile(src.c_str(), Path("no/dir/x").c_str(), &size), ERR_WRITEFILE);
  EXPECT_EQ(std::string(GetErrorString()), Path("no/dir/x"));
  std::string packed = Put("packed", Container("QVPK", data));
  EXPECT_EQ(DecompressFile(packed.c_str(), Path("no/dir/x").c_str(), &size), ERR_WRITEFILE);
  if (fs::exists("/dev/full")) {
    EXPECT_EQ(CompressFile(src.c_str(), "/dev/full", &size), ERR_WRITE);
    // A full file system names the file that could not be written.
    SetErrorString("");
    EXPECT_EQ(DecompressFile(packed.c_str(), "/dev/full", &size), ERR_WRITEFILE);
    EXPECT_EQ(std::string(GetErrorString()), "/dev/full");
  }

  // Onto itself: refused before anything is written, in both directions.
  std::string same = dir_.string() + "/./src";
  EXPECT_EQ(CompressFile(src.c_str(), same.c_str(), &size), ERR_WRONGUSAGE);
  EXPECT_EQ(Slurp(src), data);
  EXPECT_EQ(DecompressFile(packed.c_str(), packed.c_str(), &size), ERR_WRONGUSAGE);
  EXPECT_EQ(Slurp(packed), Container("QVPK", data));
  // Nor onto the container of a stretch that is being read.
  char chunk[kMaxPathLength + 1];
  ASSERT_TRUE(MakeChunkName("src", chunk, sizeof(chunk), 0, data.size(), 0, src.c_str()));
  EXPECT_EQ(CompressFile(chunk, src.c_str(), &size), ERR_WRONGUSAGE);
  EXPECT_EQ(Slurp(src), data);
}

// Runs at the same time on one destination: each writes a file of its own beside it, so the
// destination is always one whole archive, of one of the sources, and nothing else is left.
TEST_F(CompressTest, RunsAtOnceOnOneDestinationLeaveOneWholeArchive) {
  constexpr int kRuns = 8;
  std::vector<std::string> sources;
  for (int i = 0; i < kRuns; ++i) sources.push_back(Noise((2 << 20) + size_t(i) * 1000, 10 + i));
  for (int i = 0; i < kRuns; ++i) Put("src" + std::to_string(i), sources[size_t(i)]);
  std::string packed = Path("packed"), back = Path("back");
  std::vector<std::thread> threads;
  std::vector<int> codes(kRuns, -1);
  for (int i = 0; i < kRuns; ++i) {
    threads.emplace_back([&, i] {
      uint32_t size = 0;
      codes[size_t(i)] = CompressFile(Path("src" + std::to_string(i)).c_str(), packed.c_str(),
                                      &size);
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(codes, std::vector<int>(kRuns, 0));
  uint32_t size = 0;
  ASSERT_EQ(DecompressFile(packed.c_str(), back.c_str(), &size), 0);
  EXPECT_NE(std::find(sources.begin(), sources.end(), Slurp(back)), sources.end());
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), kRuns + 2);
}

// A small file may inflate to gigabytes: a quit request stops it at once, and what was written
// goes. Without the request the same file inflates whole.
TEST_F(CompressTest, AQuitRequestStopsInflatingAndRemovesWhatWasWritten) {
  std::string packed = Put("packed", Container("QVPK", std::string(1 << 20, 'a')));
  uint32_t size = 0;
  ASSERT_EQ(InitPlatform(), 0);
  kill(getpid(), SIGINT);
  for (int i = 0; i < 10000 && !QuitRequested(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(QuitRequested());
  EXPECT_EQ(DecompressFile(packed.c_str(), Path("out").c_str(), &size), ERR_USERABORT);
  EXPECT_FALSE(fs::exists(Path("out")));
  ShutdownPlatform();
  EXPECT_EQ(DecompressFile(packed.c_str(), Path("out").c_str(), &size), 0);
  EXPECT_EQ(size, 1u << 20);
}
