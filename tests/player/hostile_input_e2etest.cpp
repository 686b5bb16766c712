// The player against small hostile inputs: picture files of a few hundred bytes that declare
// pictures of gigabytes are refused at once and in little memory, while whole pictures of the
// same formats still load; a tracker module that plays for hours is refused as a sample, and a
// playlist read as a sound opens nothing beside it; a quit ends a long module decode, a pattern
// scan over a megabyte and the write of a table of shared sub-tables at once.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/media/mod_writer.h"
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

// A 212-byte GIF of a 23170 x 23170 screen: two colours and one frame of one pixel, the rest of
// the file a comment.
Bytes HugeGif() {
  Bytes b = {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0x80, 0, 0, 0, 0, 0, 255, 255, 255};
  b[6] = b[8] = uint8_t(23170 & 0xFF);
  b[7] = b[9] = uint8_t(23170 >> 8);
  b.insert(b.end(), {0x21, 0xFE});
  const size_t text = 212 - b.size() - 2 - 16;  // the comment's length byte and end, the frame
  b.push_back(uint8_t(text));
  b.resize(b.size() + text, 'x');
  b.push_back(0);
  // The frame: 1 x 1 at the origin, minimum code size 2, codes clear, 0 and end.
  b.insert(b.end(), {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 0x01, 0, 0x3B});
  return b;
}

// The processor time a refusal may add to an idle run: the sanitizer build checks every
// allocation, and on a loaded machine that alone has added 30 ms.
#if defined(__SANITIZE_ADDRESS__)
constexpr double kRefusalSeconds = 0.5;
#else
constexpr double kRefusalSeconds = 0.1;
#endif

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
      {"huge.gif", HugeGif()},
  };
  ASSERT_EQ(cases[0].bytes.size(), 168u);
  ASSERT_EQ(cases[2].bytes.size(), 1080u);
  ASSERT_EQ(cases[3].bytes.size(), 212u);
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
    EXPECT_LT(m.cpuSeconds - idle.cpuSeconds, kRefusalSeconds)
        << m.cpuSeconds << " s, idle " << idle.cpuSeconds;
    EXPECT_LT(m.seconds, 5.0);
  }
}

// Whole pictures of the same formats, some of them large for their files (a flat JPEG, RLE8 runs
// of 255 pixels, ByteRun1 runs of 128 bytes, a GIF's LZW codes), load as before, and so does a GIF
// whose screen of 2048 x 2048 is mostly outside its one small frame.
TEST_F(HostileInputE2eTest, WholePicturesOfTheSameFormatsStillLoad) {
  int status = 0;
  const std::string made = qvtest::RunCommand(
      "cd " + dir_ +
          " && convert -size 2048x1024 xc:'#808080' -depth 8 -quality 90 flat.jpg"
          " && convert -size 2048x1024 xc:'#808080' -depth 8 -type palette -compress RLE BMP3:flat.bmp"
          " && convert -size 2048x1024 xc:'#808080' -depth 8 ppm:- | ppmtoilbm -compress > flat.iff"
          " && convert -size 2048x1024 xc:'#808080' flat.gif"
          " && convert -size 16x16 xc:'#808080' -page 2048x2048+2032+2032 corner.gif",
      &status);
  ASSERT_EQ(status, 0) << made;
  std::string script;
  for (const char* name : {"flat.jpg", "flat.bmp", "flat.iff", "flat.gif"}) {
    script += std::string("do LoadBrush(1, \"") + name + "\")\nReadBrushPixel(1, 2047, 1023)\n";
  }
  script += "do LoadBrush(1, \"corner.gif\")\nReadBrushPixel(1, 2047, 2047)\n";
  const Measured m = RunMeasured(script);
  ASSERT_EQ(m.run.status, 0) << m.run.err;
  const std::string each = "ReadBrushPixel(1, 2047, 1023) 8421504 -1\n";
  EXPECT_EQ(m.run.out, each + each + each + each + "ReadBrushPixel(1, 2047, 2047) 8421504 -1\n");
}

// A module of one sample whose rows last 31 ticks at 32 beats a minute (2.4 s each): 64 rows an
// order, so each order plays 155 s. With 0 orders: one order of rows of a tick at 255 beats a
// minute, a second in all.
std::vector<uint8_t> SlowModule(int orders) {
  ModWriter w;
  w.order.assign(size_t(std::max(orders, 1)), 0);
  ModSample s;
  for (int i = 0; i < 32; i++) s.data.push_back(static_cast<int8_t>(i * 8 - 128));
  s.repeatLength = 32;
  w.Sample(1) = s;
  w.Cell(0, 0, 0) = {428, 1, 0xF, orders > 0 ? 31 : 1};
  w.Cell(0, 0, 1) = {0, 0, 0xF, orders > 0 ? 32 : 255};
  return w.Bytes();
}

// How soon a quit must end the work. The sanitizer build checks every allocation and free of the
// work's megabytes on the way out, and on a loaded machine that alone has taken 250 ms.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kQuitMilliseconds = 500;
#else
constexpr int kQuitMilliseconds = 100;
#endif

// The processor time of a run that loads FFmpeg and three sounds: about a second under the
// sanitizers on a loaded machine, where decoding the module took minutes.
#if defined(__SANITIZE_ADDRESS__)
constexpr double kSoundRunSeconds = 6.0;
#else
constexpr double kSoundRunSeconds = 2.0;
#endif

class QuitE2eTest : public HostileInputE2eTest {
 protected:
  void SetUp() override {
    HostileInputE2eTest::SetUp();
    env_.push_back("SDL_AUDIODRIVER=dummy");
  }
  // Runs the script, which prints "start" before its long work; SIGINT follows `delay` after the
  // line appears. Returns the time from the signal to the player's end; the run must end as a
  // user abort (status 0) with nothing on standard error.
  std::chrono::milliseconds QuitDuring(const std::string& script, std::chrono::milliseconds delay) {
    WriteFile("s.qva", Applet(qvasm::TranslateOrFail(script)));
    std::filesystem::remove(Path("debug.txt"));
    pid_t pid = Start({"-QUIET", "s.qva", "-DEBUGDEVICE", "::file" + Path("debug.txt")});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (ReadFile("debug.txt") != "start\n" && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(ReadFile("debug.txt"), "start\n");
    std::this_thread::sleep_for(delay);
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, WNOHANG), 0) << "the work ended before the signal";
    const auto sent = std::chrono::steady_clock::now();
    kill(pid, SIGINT);
    // Beyond ten seconds it is plainly not heard: stop it rather than wait for the work.
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() - sent > std::chrono::seconds(10)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ADD_FAILURE() << "SIGINT not heard";
        break;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - sent);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(ReadFile("debug.txt"), "start\n");
    EXPECT_EQ(ReadFile("stderr.txt"), "");
    return took;
  }
};

// A 2,108-byte module that plays for 5 h 30 min is refused as a sample before it is decoded (it
// took minutes and gigabytes); a playlist of the concatenating kind is no sound, and the file it
// names beside it is not read as one.
TEST_F(QuitE2eTest, SoundsASampleCannotHoldAndPlaylistsAreRefused) {
  WriteFile("long.mod", SlowModule(128));
  qvtest::RunCommand("cd " + dir_ +
                     " && ffmpeg -loglevel error -y -f lavfi -i sine=duration=0.2 beside.wav");
  ASSERT_TRUE(Exists("beside.wav"));
  WriteFile("list.ffconcat", "ffconcat version 1.0\nfile beside.wav\n");
  const Measured m = RunMeasured(
      "do LoadSample(1, \"long.mod\")\ndo LoadSample(2, \"list.ffconcat\")\n"
      "do LoadSample(3, \"beside.wav\")\nx = 1\n");
  EXPECT_EQ(m.run.status, 0) << m.run.err;
  EXPECT_EQ(m.run.out, "error ERR_LOADSOUND LoadSample\nerror ERR_OPENSOUND LoadSample\n");
  EXPECT_LT(m.cpuSeconds, kSoundRunSeconds);
}

// SIGINT during LoadSample of a module of 5 minutes, a "%b()" scan over a megabyte of "(" (a
// million scans of up to a megabyte each) and WriteTable of 26 levels of {a = t, b = t} (2^26
// copies of the innermost table): each run ends within 100 ms of the time an idle player takes to
// end. Before, each went on for tens of seconds.
TEST_F(QuitE2eTest, AQuitEndsLongDecodesScansAndWrites) {
  WriteFile("slow.mod", SlowModule(2));
  struct Case {
    const char* name;
    std::string script;
  } const cases[] = {
      {"module decode",
       "do debugprint(\"start\")\ndo LoadSample(1, \"slow.mod\")\n"
       "do debugprint(\"decoded\")\n"},
      {"balance scan",
       "s = RepeatStr(\"(\", 1000000)\ndo debugprint(\"start\")\n"
       "do PatternReplaceStr(s, \"%b()\", \"\")\ndo debugprint(\"scanned\")\n"},
      {"shared tables",
       "t = {x = 1}\nfor i = 1, 26\nt = {a = t, b = t}\nend\n"
       "do OpenFile(1, \"/dev/null\", 1006)\ndo debugprint(\"start\")\ndo WriteTable(1, t)\n"
       "do debugprint(\"written\")\n"},
  };
  // Ending a player takes its time whatever it was doing (the sanitizers' checks, and for one that
  // has loaded FFmpeg and opened its sound the libraries' own clean-up: on a busy machine hundreds
  // of milliseconds). Each case is measured against the same player ended while idle, after a
  // short decode for the module's case.
  WriteFile("short.mod", SlowModule(0));
  const char kIdle[] = "do debugprint(\"start\")\nfor i = 1, 2000000000\nx = i\nend\n";
  const auto idle = QuitDuring(kIdle, std::chrono::milliseconds(300));
  const auto idleSound = QuitDuring(std::string("do LoadSample(2, \"short.mod\")\n") + kIdle,
                                    std::chrono::milliseconds(300));
  // The best of three tries: a loaded machine may hold any one run back for a while, where a
  // quit that is not heard holds every run back for seconds.
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto base = std::string(c.name) == "module decode" ? idleSound : idle;
    auto best = std::chrono::milliseconds::max();
    for (int attempt = 0; attempt < 3 && best.count() >= kQuitMilliseconds; ++attempt) {
      best = std::min(best, QuitDuring(c.script, std::chrono::milliseconds(300)) - base);
    }
    EXPECT_LT(best.count(), kQuitMilliseconds) << "beyond an idle end of " << base.count() << " ms";
  }
}

}  // namespace
}  // namespace qv::testing
