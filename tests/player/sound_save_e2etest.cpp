// SaveSample through the player, read back by tools of their own: python3's wave module, sox and
// soxi, and a byte image python3 builds from the values; a save that fails part-way under a file
// size limit leaves the old file as it was and nothing beside it.
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "base/errors.h"
#include "tests/player/dos_fixture.h"

namespace qv::testing {
namespace {

class SaveSampleTest : public DosTest {
 protected:
  void SetUp() override {
    DosTest::SetUp();
    setenv("SDL_AUDIODRIVER", "dummy", 1);
  }
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) {
      names.insert(e.path().filename().string());
    }
    return names;
  }
};

TEST_F(SaveSampleTest, SavedFilesReadBackThroughWaveSoxAndSoxi) {
  // Each: script format, values; the data sizes need 3, 1, 2, 0 and 0 pad bytes.
  struct Case {
    int format;
    const char* values;
  };
  const Case cases[] = {{0, "-128, -1, 0, 127, 5"},
                        {0, "1, 2, 3"},
                        {1, "-32768, 32767, 1"},
                        {2, "1, -2, 3, -4"},
                        {3, "100, -100, 2000, -2000"}};
  std::string script, list;
  for (int i = 0; i < 5; i++) {
    std::string n = std::to_string(i + 1);
    script += "do CreateSample(" + n + ", {" + cases[i].values + "}, 22050, " +
              std::to_string(cases[i].format) + ")\ndo SaveSample(" + n + ", \"s" + n + ".wav\")\n";
    list += std::string(i ? ", " : "") + "(" + std::to_string(cases[i].format) + ", [" +
            cases[i].values + "])";
  }
  EXPECT_EQ(RunScript(script), "");
  std::string out = Python(R"(
import struct, subprocess, wave
cases = [)" + list + R"(]
for i, (fmt, values) in enumerate(cases):
  name = 's%d.wav' % (i + 1)
  channels = 2 if fmt >= 2 else 1
  width = 2 if fmt % 2 else 1
  data = bytes(v + 128 for v in values) if width == 1 else struct.pack('<%dh' % len(values), *values)
  pad = (4 - len(data) % 4) % 4
  image = (b'RIFF' + struct.pack('<I', 36 + len(data) + pad) + b'WAVEfmt ' +
           struct.pack('<IHHIIHH', 16, 1, channels, 22050, 22050 * channels * width,
                       channels * width, 8 * width) +
           b'data' + struct.pack('<I', len(data)) + data + bytes(pad))
  got = open(name, 'rb').read()
  w = wave.open(name)
  frames = w.readframes(w.getnframes())
  soxi = subprocess.run(['soxi', '-c', name], capture_output=True, text=True).stdout.split()
  for opt in ('-r', '-b', '-s'):
    soxi += subprocess.run(['soxi', opt, name], capture_output=True, text=True).stdout.split()
  s16 = subprocess.run(['sox', name, '-t', 's16', '-'], capture_output=True).stdout
  decoded = list(struct.unpack('<%dh' % (len(s16) // 2), s16))
  want = [v * 256 for v in values] if width == 1 else values
  print(name, got == image, w.getnchannels() == channels, w.getsampwidth() == width,
        w.getframerate(), frames == data, soxi == [str(channels), '22050', str(8 * width),
        str(len(values) // channels)], decoded == want)
)");
  std::string want;
  for (int i = 1; i <= 5; i++)
    want += "s" + std::to_string(i) + ".wav True True True 22050 True True True\n";
  EXPECT_EQ(out, want);
}

TEST_F(SaveSampleTest, LoadedSvxSavesTheBytesSoxDecodesAsUnsigned) {
  std::filesystem::copy_file(std::string(QV_SOUND_DATA) + "/mono8.8svx", Path("in.8svx"));
  EXPECT_EQ(RunScript("do LoadSample(1, \"in.8svx\")\ndo SaveSample(1, \"out.wav\")\n"), "");
  std::string out = Python(R"(
import struct, subprocess
got = open('out.wav', 'rb').read()
size = struct.unpack('<I', got[40:44])[0]
u8 = subprocess.run(['sox', 'in.8svx', '-t', 'u8', '-'], capture_output=True).stdout
print(len(u8) > 0, got[44:44 + size] == u8)
)");
  EXPECT_EQ(out, "True True\n");
}

TEST_F(SaveSampleTest, SaveCutShortByTheFileSizeLimitKeepsTheOldFile) {
  WriteFile("old.wav", std::string("old contents"));
  // 4000 bytes of sample against a limit of 2048: the write fails part-way (SIGXFSZ ignored).
  std::string text = qvasm::TranslateOrFail(R"(
do AllocMem(1, 4000)
do FillMem(1, 7, 4000)
do CreateSample(1, {source = "memory", id = 1}, 8000, 1, 2000)
do CreateSample(2, {source = "memory", id = 1}, 8000, 1, 10)
SaveSample(1, "old.wav")
SaveSample(2, "small.wav")
)",
                                            qvasm::kNumberedErrors);
  WriteFile("main.qva", Applet(text));
  std::set<std::string> before = Names();
  PlayerRun r = Run({"-c",
                     "trap '' XFSZ; ulimit -f 4; exec \"$0\" main.qva -QUIET -DEBUGDEVICE ::file" +
                         Path("out.txt"),
                     QV_PLAYER_PATH},
                    "/bin/sh");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile("out.txt"), "error " + std::to_string(ERR_WRITEFILE) +
                                     " SaveSample\nSaveSample(1, \"old.wav\")\nSaveSample(2, "
                                     "\"small.wav\")\n");
  EXPECT_EQ(ReadFile("old.wav"), "old contents");
  EXPECT_EQ(ReadFile("small.wav").size(), 44u + 20u);
  before.insert({"small.wav", "out.txt", "stdout.txt", "stderr.txt"});
  EXPECT_EQ(Names(), before);
}

}  // namespace
}  // namespace qv::testing
