// The clipboard on an X display, run under xvfb-run: pictures and text go to and come from
// another program (xclip), whatever else is there reads as "other", clearing leaves no owner, and
// watching tells of every new owner.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "base/errors.h"
#include "fixtures/run_command.h"
#include "fixtures/temp_path.h"
#include "platform/clipboard.h"
#include "platform/platform.h"
#include "platform/x11/x11_clipboard.h"

namespace qv {
namespace {

using qvtest::RunCommand;

std::string TempFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::string path = qvtest::TempPath(name);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return path;
}

// Another program takes the clipboard with the file's bytes as `target`. xclip takes it after its
// first process has returned and stays behind to answer until the clipboard has a new owner, so
// the clipboard is emptied first and then watched until it has an owner again.
void OfferFromXclip(const std::string& target, const std::string& file) {
  ASSERT_EQ(ClearClipboardData(), 0);
  ASSERT_EQ(std::system(("xclip -selection clipboard -t '" + target + "' -i " + file).c_str()), 0);
  for (int i = 0; i < 300; ++i) {
    if (std::system("xclip -selection clipboard -t TARGETS -o >/dev/null 2>&1") == 0) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  FAIL() << "xclip did not take the clipboard";
}

// A 24-bit bitmap of width x height, written by hand: pixel (x, y) is x, y, x + y (blue, green,
// red), rows from the bottom up, each padded to 4 bytes.
std::vector<uint8_t> HandMadeDib(int width, int height) {
  std::vector<uint8_t> dib(40, 0);
  auto put = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) dib[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  size_t row = (size_t(width) * 3 + 3) / 4 * 4;
  put(0, 40);
  put(4, uint32_t(width));
  put(8, uint32_t(height));
  dib[12] = 1;
  dib[14] = 24;
  put(20, uint32_t(row * height));
  for (int y = height - 1; y >= 0; --y) {
    size_t start = dib.size();
    for (int x = 0; x < width; ++x) {
      dib.push_back(uint8_t(x));
      dib.push_back(uint8_t(y));
      dib.push_back(uint8_t(x + y));
    }
    dib.resize(start + row, 0);
  }
  return dib;
}

std::vector<uint8_t> BmpFile(const std::vector<uint8_t>& dib) {
  std::vector<uint8_t> file = {'B', 'M'};
  uint32_t size = uint32_t(14 + dib.size());
  for (uint32_t v : {size, 0u, 54u}) {
    for (int i = 0; i < 4; ++i) file.push_back(uint8_t(v >> (8 * i)));
  }
  file.insert(file.end(), dib.begin(), dib.end());
  return file;
}

class X11ClipboardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(X11ClipboardAvailable()) << "run under xvfb-run";
    ASSERT_EQ(ClearClipboardData(), 0);
  }
};

TEST_F(X11ClipboardTest, APictureGoesOutAsABmpFile) {
  std::vector<uint8_t> dib = HandMadeDib(3, 2);
  ASSERT_EQ(WriteClipboardPicture(dib), 0);
  EXPECT_EQ(PeekClipboardType(), kClipboardPicture);
  std::string targets = RunCommand("xclip -selection clipboard -t TARGETS -o");
  EXPECT_NE(targets.find("image/bmp"), std::string::npos) << targets;
  EXPECT_EQ(targets.find("UTF8_STRING"), std::string::npos) << targets;
  std::string bmp = RunCommand("xclip -selection clipboard -t image/bmp -o");
  std::vector<uint8_t> want = BmpFile(dib);
  EXPECT_TRUE(bmp == std::string(want.begin(), want.end())) << bmp.size() << " bytes";
  // Text is not what it holds.
  int status = 0;
  RunCommand("xclip -selection clipboard -t UTF8_STRING -o 2>/dev/null", &status);
  EXPECT_NE(status, 0);
}

TEST_F(X11ClipboardTest, PicturesComeInWholeAtAnySize) {
  // 8 x 4 fits one property; 900 x 600 (1.6 MB) comes in pieces.
  for (auto [w, h] : {std::pair{8, 4}, {900, 600}}) {
    std::vector<uint8_t> dib = HandMadeDib(w, h);
    OfferFromXclip("image/bmp", TempFile("qv_x11_in.bmp", BmpFile(dib)));
    EXPECT_EQ(PeekClipboardType(), kClipboardPicture) << w;
    std::vector<uint8_t> got;
    ASSERT_EQ(ReadClipboardPicture(&got), 0) << w;
    EXPECT_TRUE(got == dib) << w << ": " << got.size() << " bytes, want " << dib.size();
    std::string text;
    EXPECT_EQ(ReadClipboardText(&text), ERR_CLIPREAD) << w;
  }
}

TEST_F(X11ClipboardTest, TextBothWaysAndOtherKinds) {
  ASSERT_EQ(WriteClipboardText("out\tgoing\n"), 0);
  EXPECT_EQ(PeekClipboardType(), kClipboardText);
  EXPECT_EQ(RunCommand("xclip -selection clipboard -o"), "out\tgoing\n");
  EXPECT_EQ(RunCommand("xclip -selection clipboard -t STRING -o"), "out\tgoing\n");

  std::string file = TempFile("qv_x11_in.txt", {'c', 'o', 'm', 'i', 'n', 'g'});
  OfferFromXclip("UTF8_STRING", file);
  EXPECT_EQ(PeekClipboardType(), kClipboardText);
  std::string text;
  ASSERT_EQ(ReadClipboardText(&text), 0);
  EXPECT_EQ(text, "coming");
  std::vector<uint8_t> picture;
  EXPECT_EQ(ReadClipboardPicture(&picture), ERR_CLIPREAD);

  OfferFromXclip("application/x-quillvane-test", file);
  EXPECT_EQ(PeekClipboardType(), kClipboardOther);
  EXPECT_EQ(ReadClipboardText(&text), ERR_CLIPREAD);

  // Clearing leaves the clipboard without an owner, whoever had it.
  ASSERT_EQ(ClearClipboardData(), 0);
  EXPECT_EQ(PeekClipboardType(), kClipboardEmpty);
  int status = 0;
  RunCommand("xclip -selection clipboard -o 2>/dev/null", &status);
  EXPECT_NE(status, 0);
}

std::atomic<int> gChanges{0};
void CountChange() { gChanges.fetch_add(1); }

bool WaitForChanges(int atLeast) {
  for (int i = 0; i < 200 && gChanges.load() < atLeast; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return gChanges.load() >= atLeast;
}

TEST_F(X11ClipboardTest, WatchingTellsOfEveryNewOwnerUntilItStops) {
  std::string file = TempFile("qv_x11_watch.txt", {'w'});
  gChanges = 0;
  ASSERT_EQ(X11WatchClipboard(true, CountChange), 0);
  OfferFromXclip("UTF8_STRING", file);
  EXPECT_TRUE(WaitForChanges(1));
  int seen = gChanges.load();
  ASSERT_EQ(WriteClipboardText("mine"), 0);  // the player's own change counts as well
  EXPECT_TRUE(WaitForChanges(seen + 1));
  ASSERT_EQ(X11WatchClipboard(false, nullptr), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  seen = gChanges.load();
  OfferFromXclip("UTF8_STRING", file);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(gChanges.load(), seen);
}

std::atomic<int> gHandled{0};
std::atomic<bool> gHandledOffMain{false};
void OnChange() {
  gHandled.fetch_add(1);
  if (!IsMainThread()) gHandledOffMain = true;
}

// A display's window that joined the chain hears of changes through the clipboard-change handler,
// on the main thread in a pass of the main loop, and stops hearing when it leaves.
TEST(X11ClipboardLoopTest, ChangesReachTheHandlerOnTheMainThread) {
  ASSERT_EQ(InitPlatform(), 0);
  SetClipboardChangeHandler(OnChange);
  int window = 0;
  ASSERT_EQ(JoinClipboardChain(&window, true), 0);
  std::string file = TempFile("qv_x11_loop.txt", {'l'});
  int heard = 0, heardAfterLeaving = 0;
  int rc = MessageLoop([&] {
    OfferFromXclip("UTF8_STRING", file);
    for (int i = 0; i < 200 && gHandled.load() == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    heard = gHandled.load();
    JoinClipboardChain(&window, false);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    int before = gHandled.load();
    OfferFromXclip("UTF8_STRING", file);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    heardAfterLeaving = gHandled.load() - before;
    return 0;
  });
  SetClipboardChangeHandler(nullptr);
  ShutdownPlatform();
  EXPECT_EQ(rc, 0);
  EXPECT_GE(heard, 1);
  EXPECT_EQ(heardAfterLeaving, 0);
  EXPECT_FALSE(gHandledOffMain.load());
}

}  // namespace
}  // namespace qv
