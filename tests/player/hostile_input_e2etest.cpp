// The player against small hostile inputs: picture files of a few hundred bytes that declare
// pictures of gigabytes are refused at once and in little memory, while whole pictures of the
// same formats still load.
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/player/player_fixture.h"

namespace qv::testing {
namespace {

using Bytes = std::vector<uint8_t>;

void PutBe16(Bytes* b, size_t at, uint32_t v) {
  (*b)[at] = uint8_t(v >> 8);
  (*b)[at + 1] = uint8_t(v);
}
void PutBe32(Bytes* b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + i] = uint8_t(v >> (24 - 8 * i));
}
void PutLe32(Bytes* b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + i] = uint8_t(v >> (8 * i));
}

Bytes ReadFixture(const std::string& name) {
  std::ifstream in(std::string(QV_PICTURE_FIXTURES) + "/" + name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// A 168-byte ILBM of 23000 x 23000 pixels of one plane, ByteRun1-coded: its body codes one row.
Bytes HugeIlbm() {
  Bytes b = {'F', 'O', 'R', 'M', 0, 0, 0, 0, 'I', 'L', 'B', 'M', 'B', 'M', 'H', 'D', 0, 0, 0, 20};
  b.resize(b.size() + 20, 0);
  PutBe16(&b, 20, 23000);
  PutBe16(&b, 22, 23000);
  b[28] = 1;  // planes
  b[30] = 1;  // ByteRun1
  b[34] = b[35] = 1;
  const uint8_t cmap[] = {'C', 'M', 'A', 'P', 0, 0, 0, 6, 0, 0, 0, 255, 255, 255};
  b.insert(b.end(), cmap, cmap + sizeof cmap);
  const uint8_t body[] = {'B', 'O', 'D', 'Y'};
  b.insert(b.end(), body, body + 4);
  const size_t sizeAt = b.size();
  b.resize(b.size() + 4);
  // Runs of 128 zero bytes: 2876 bytes a row need 23 of them.
  for (int i = 0; i < 23; ++i) b.insert(b.end(), {0x81, 0});
  while (b.size() < 168) b.insert(b.end(), {0x81, 0});
  b.resize(168);
  PutBe32(&b, sizeAt, uint32_t(b.size() - sizeAt - 4));
  PutBe32(&b, 4, uint32_t(b.size() - 8));
  return b;
}

// A JPEG of cjpeg's making whose frame header is made to say 23000 x 23000.
Bytes HugeJpeg() {
  Bytes b = ReadFixture("jpeg_baseline.jpg");
  for (size_t i = 2; i + 9 < b.size(); ++i) {
    if (b[i] == 0xFF && b[i + 1] == 0xC0) {
      PutBe16(&b, i + 5, 23000);
      PutBe16(&b, i + 7, 23000);
      break;
    }
  }
  return b;
}

// A 1,080-byte RLE8 BMP of 23170 x 23170 pixels: a palette of 256 and the end-of-picture escape.
Bytes HugeRle8Bmp() {
  Bytes b(54, 0);
  b[0] = 'B';
  b[1] = 'M';
  PutLe32(&b, 10, 54 + 1024);
  PutLe32(&b, 14, 40);
  PutLe32(&b, 18, 23170);
  PutLe32(&b, 22, 23170);
  b[26] = 1;
  b[28] = 8;
  PutLe32(&b, 30, 1);  // RLE8
  PutLe32(&b, 34, 2);
  b.resize(54 + 1024, 0x40);
  b.insert(b.end(), {0, 1});
  PutLe32(&b, 2, uint32_t(b.size()));
  return b;
}

class HostileInputE2eTest : public PlayerTest {
 protected:
  struct Measured {
    PlayerRun run;
    long peakKib = 0;
    double seconds = 0;
    double cpuSeconds = 0;  // user and system time: steadier than the wall clock on a busy machine
  };
  // Runs the script and measures the player's peak resident memory and its times.
  Measured RunMeasured(const std::string& script) {
    WriteFile("s.qva", Applet(qvasm::TranslateOrFail(script)));
    Measured m;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = Start({"-QUIET", "s.qva"});
    int status = 0;
    rusage usage{};
    EXPECT_EQ(wait4(pid, &status, 0, &usage), pid);
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    m.run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    m.run.out = ReadFile("stdout.txt");
    m.run.err = ReadFile("stderr.txt");
    m.peakKib = usage.ru_maxrss;
    return m;
  }
};

// Each file is refused with ERR_LOADPICTURE2 by LoadBrush, costing the run under 100 ms of
// processor time and 50 MB more than a run that loads nothing. Before, each took gigabytes.
TEST_F(HostileInputE2eTest, TinyFilesOfHugePicturesAreRefusedAtOnce) {
  struct Case {
    const char* name;
    Bytes bytes;
  } const cases[] = {
      {"huge.iff", HugeIlbm()},
      {"huge.jpg", HugeJpeg()},
      {"huge.bmp", HugeRle8Bmp()},
  };
  ASSERT_EQ(cases[0].bytes.size(), 168u);
  ASSERT_EQ(cases[2].bytes.size(), 1080u);
  const Measured idle = RunMeasured("x = 1\n");
  ASSERT_EQ(idle.run.status, 0) << idle.run.err;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(c.name, c.bytes);
    const std::string script = std::string("do LoadBrush(1, \"") + c.name + "\")\n";
    const Measured m = RunMeasured(script);
    EXPECT_EQ(m.run.status, 0) << m.run.err;
    EXPECT_EQ(m.run.out, "error ERR_LOADPICTURE2 LoadBrush\n");
    EXPECT_LT(m.peakKib - idle.peakKib, 50 * 1024) << m.peakKib << " KiB, idle " << idle.peakKib;
    EXPECT_LT(m.cpuSeconds - idle.cpuSeconds, 0.1)
        << m.cpuSeconds << " s, idle " << idle.cpuSeconds;
    EXPECT_LT(m.seconds, 5.0);
  }
}

// Whole pictures of the same formats, some of them large for their files (a flat JPEG, RLE8 runs
// of 255 pixels, ByteRun1 runs of 128 bytes), load as before.
TEST_F(HostileInputE2eTest, WholePicturesOfTheSameFormatsStillLoad) {
  int status = 0;
  const std::string made = qvtest::RunCommand(
      "cd " + dir_ +
          " && convert -size 2048x1024 xc:'#808080' -depth 8 -quality 90 flat.jpg"
          " && convert -size 2048x1024 xc:'#808080' -depth 8 -type palette -compress RLE BMP3:flat.bmp"
          " && convert -size 2048x1024 xc:'#808080' -depth 8 ppm:- | ppmtoilbm -compress > flat.iff",
      &status);
  ASSERT_EQ(status, 0) << made;
  std::string script;
  for (const char* name : {"flat.jpg", "flat.bmp", "flat.iff"}) {
    script += std::string("do LoadBrush(1, \"") + name + "\")\nReadBrushPixel(1, 2047, 1023)\n";
  }
  const Measured m = RunMeasured(script);
  ASSERT_EQ(m.run.status, 0) << m.run.err;
  const std::string each = "ReadBrushPixel(1, 2047, 1023) 8421504 -1\n";
  EXPECT_EQ(m.run.out, each + each + each);
}

}  // namespace
}  // namespace qv::testing
