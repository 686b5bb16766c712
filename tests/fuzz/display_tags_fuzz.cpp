// Fuzz target of CreateDisplay's tag table and the gradient options: the input bytes become the
// fields of a tag table (numbers, texts, region lists and colour-stop lists under the keys the
// command reads), and the command runs on it through the script machine. Every answer must be
// success or an error code, and a display that was made must hold what its rules allow.
// With QV_FUZZ_REPLAY the same entry function replays the committed corpus as a unit test.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/errors.h"
#include "core/registry.h"
#include "display/display.h"
#include "libs/libraries.h"
#include "platform/window_services.h"
#include "vm/gc.h"
#include "vm/vm.h"

namespace {

const char* const kKeys[] = {
    "dragregion",
    "sizeregion",
    "borderless",
    "sizeable",
    "fixed",
    "nohide",
    "x",
    "y",
    "scalewidth",
    "scaleheight",
    "scalemode",
    "bgpic",
    "width",
    "height",
    "fillstyle",
    "color",
    "texturebrush",
    "texturex",
    "texturey",
    "title",
    "hidden",
    "layers",
    "private1",
    "gradientstyle",
    "gradientstartcolor",
    "gradientendcolor",
    "gradientangle",
    "gradientcenterx",
    "gradientcentery",
    "gradientbalance",
    "gradientborder",
    "gradientcolors",
};
constexpr size_t kKeyCount = sizeof kKeys / sizeof kKeys[0];
// Numbers worth trying beside small ones made from a byte.
const double kNumbers[] = {0, 1, -1,  14,  64,     65,      0.5,          1.5,   -0.25, 2,
                           3, 4, 255, 256, 100000, -100000, 4294967295.0, 1e300, 3000,  0.999};

struct Bytes {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  int Next() { return at < size ? data[at++] : -1; }
};

double Number(Bytes& in) {
  int b = in.Next();
  if (b < 0) return 0;
  if (b < 40) return kNumbers[b % 20];
  return b - 40 - 16;  // -16 .. 199
}

// A display of a side the screen can show, 3000 x 3000 say, spends a run clearing, filling and
// freeing tens of megabytes under the sanitizers and reaches no code that 256 x 256 does not:
// sides above kMaxSide are taken as kMaxSide, and a display starts at kStartWidth x
// kStartHeight in place of the default 640 x 480 until the input gives its own sides. Sides no
// display can have (negative, 2^31 and more, 1e300) stay.
constexpr double kMaxSide = 256;
constexpr double kStartWidth = 64;
constexpr double kStartHeight = 48;
bool IsSideKey(const char* key) {
  for (const char* side : {"width", "height", "scalewidth", "scaleheight"}) {
    if (std::strcmp(key, side) == 0) return true;
  }
  return false;
}

qv::qvScriptState* Machine() {
  static qv::qvScriptState* L = [] {
    qv::qvScriptState* state = qv::VmOpenState(qv::CoreVmHost());
    qv::SetProcessVm(state);
    qv::OpenLibrary(state, qv::kDisplayLibrary);
    return state;
  }();
  return L;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qv;
  qvScriptState* L = Machine();
  Bytes in{data, size};
  int top = VmGetTop(L);
  VmPushString(L, "createdisplay");
  VmGetTable(L, kGlobalsIndex);
  VmPushNumber(L, 1);
  VmNewTable(L);
  VmPushString(L, "width");
  VmPushNumber(L, kStartWidth);
  VmSetTable(L, -3);
  VmPushString(L, "height");
  VmPushNumber(L, kStartHeight);
  VmSetTable(L, -3);
  for (int b = in.Next(); b >= 0; b = in.Next()) {
    const char* key = kKeys[static_cast<size_t>(b) % kKeyCount];
    int kind = (b / static_cast<int>(kKeyCount)) % 4;
    VmPushString(L, key);
    if (kind == 0) {
      double n = Number(in);
      if (IsSideKey(key) && n > kMaxSide && n < 2147483648.0) n = kMaxSide;
      VmPushNumber(L, n);
    } else if (kind == 1) {
      int length = in.Next();
      std::string text;
      for (int i = 0; i < length * 2 && in.at < in.size; ++i) text.push_back(char(in.Next()));
      // A side given as text is read as its number: the same cap.
      double n = std::strtod(text.c_str(), nullptr);
      if (IsSideKey(key) && n > kMaxSide && n < 2147483648.0) text = "256";
      VmPushLString(L, text.data(), text.size());
    } else if (kind == 2) {
      int count = in.Next() % 70;
      VmNewTable(L);
      for (int i = 0; i < count; ++i) {
        VmNewTable(L);
        for (const char* field : {"type", "x", "y", "width", "height"}) {
          VmPushString(L, field);
          VmPushNumber(L, std::strcmp(field, "type") == 0 ? 14 : Number(in));
          VmSetTable(L, -3);
        }
        VmRawSetI(L, -2, i);
      }
    } else {
      int count = in.Next() % 140;
      VmNewTable(L);
      for (int i = 0; i < count; ++i) {
        VmPushNumber(L, Number(in));
        VmRawSetI(L, -2, i);
      }
    }
    VmSetTable(L, -3);
  }
  int32_t word = VmPCall(L, 2, 0, 0);
  VmSetTop(L, top);
  if (word != 0 && word < 1000) std::abort();
  qvDisplay* display = nullptr;
  bool made = FindDisplay({1, nullptr}, &display) == 0;
  if (made != (word == 0)) std::abort();
  if (made) {
    if (display->width < 1 || display->height < 1 || display->bgpic == nullptr) std::abort();
    if (display->dragCount > kMaxRegions || display->sizeCount > kMaxRegions) std::abort();
    if (std::strlen(display->title) > 255) std::abort();
    if (display->backfill.gradient.stopCount > kMaxGradientStops) std::abort();
  }
  FreeDisplaySubsystem(L);
  // The run's tables and strings go now: a run that leaves more blocks allocated than it freed
  // makes the fuzzer look for a leak, a scan of the whole heap that cost more than the run.
  VmCheckGC(L);
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(DisplayTagsFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
