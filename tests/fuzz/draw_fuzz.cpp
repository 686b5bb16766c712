// Fuzz target of the draw library: the input bytes become a sequence of draw commands (boxes,
// points, ellipses, lines, circles, polygons, arcs, the style setters, reading and clearing) with
// sizes, radii, angles, points, styles, options and rotations near their limits, run through the
// script machine on a small headless display, now and then into a brush with an alpha channel or
// under a clip region with a mask. Every command must answer with success or an error code.
// With QV_FUZZ_REPLAY the same entry function replays the committed corpus as a unit test.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "core/errors.h"
#include "core/registry.h"
#include "display/display.h"
#include "display/draw.h"
#include "libs/libraries.h"
#include "platform/window_services.h"
#include "tests/fuzz/byte_reader.h"
#include "vm/vm.h"

namespace qv {
namespace {

const char* const kCommands[] = {
    "box",          "plot",      "ellipse", "line", "circle",       "polygon",
    "setfillstyle", "readpixel", "cls",     "arc",  "setformstyle", "setlinewidth",
};
constexpr int kCommandCount = sizeof kCommands / sizeof kCommands[0];

// Numbers worth trying beside small ones made from a byte: the special positions, whole turns,
// the limits of 32 bits and of the polygon count, colours with a transparency, and non-numbers.
const double kNumbers[] = {0,
                           1,
                           -1,
                           2,
                           3,
                           16,
                           32,
                           64,
                           65,
                           360,
                           -360,
                           720,
                           999,
                           1000,
                           100000,
                           -100000,
                           -90000,
                           -80000,
                           2147483647.0,
                           -2147483648.0,
                           4294967295.0,
                           2164195328.0,  // 0x80FF0000
                           4e12,
                           1e300,
                           std::numeric_limits<double>::infinity(),
                           std::numeric_limits<double>::quiet_NaN(),
                           0.5,
                           -0.25};
constexpr int kNumberCount = sizeof kNumbers / sizeof kNumbers[0];

const char* const kOptionKeys[] = {"rotate",    "scalex",     "scaley",    "width",
                                   "height",    "roundlevel", "cornera",   "cornerd",
                                   "thickness", "clockwise",  "transform", "anchorx"};
constexpr int kOptionKeyCount = sizeof kOptionKeys / sizeof kOptionKeys[0];

double Number(qv::fuzz::ByteReader& in) {
  uint8_t b = in.Byte();
  if (b < 2 * kNumberCount) return kNumbers[b % kNumberCount];
  return static_cast<double>(b) - 2 * kNumberCount - 40;  // about -40 .. 160
}

// A table of numbers from index 0 (polygon points) or of option keys.
void PushTable(qvScriptState* L, qv::fuzz::ByteReader& in) {
  qv::VmNewTable(L);
  uint8_t b = in.Byte();
  if (b & 1) {
    int count = b >> 1;
    for (int i = 0; i < count && !in.AtEnd(); ++i) {
      qv::VmPushNumber(L, Number(in));
      qv::VmRawSetI(L, -2, i);
    }
    return;
  }
  int count = (b >> 1) % 4;
  for (int i = 0; i < count; ++i) {
    const char* key = kOptionKeys[in.Byte() % kOptionKeyCount];
    qv::VmPushString(L, key);
    if (key[0] == 't' && key[1] == 'r') {
      qv::VmNewTable(L);
      for (int k = 0; k < 4; ++k) {
        qv::VmPushNumber(L, Number(in));
        qv::VmRawSetI(L, -2, k);
      }
    } else {
      qv::VmPushNumber(L, Number(in));
    }
    qv::VmSetTable(L, -3);
  }
}

qvScriptState* Machine() {
  static qvScriptState* L = [] {
    qv::ConfigureHeadlessScreen(qv::qvScreenSetup{});
    qvScriptState* state = qv::VmOpenState(qv::CoreVmHost());
    qv::SetProcessVm(state);
    for (const qv::qvLibrary* library :
         {&qv::kGraphicsLibrary, &qv::kDrawLibrary, &qv::kTextLibrary, &qv::kBrushLibrary,
          &qv::kBGPicLibrary, &qv::kDisplayLibrary}) {
      if (qv::OpenLibrary(state, *library) != 0) std::abort();
    }
    return state;
  }();
  return L;
}

// Display 1 of 24 x 16, open, current and drawn on; brush 1 of 9 x 7 with an alpha channel.
void Setup(qvScriptState* L) {
  // Each input starts from the library's style.
  if (qv::OpenDrawStyle() != 0) std::abort();
  qv::qvObjectId id{1, nullptr};
  qv::qvDisplayTags tags;
  tags.width = 24;
  tags.height = 16;
  qv::qvDisplay* display = nullptr;
  if (qv::CreateDisplayCore(L, &id, false, &tags, &display) != 0) std::abort();
  if (qv::OpenDisplayCore(L, display, true) != 0) std::abort();
  qv::SetCurrentDisplay(display);
  qv::SetOutputTarget(display->bgpic);
  if (qv::AllocBrush(&id, false, 9, 7, 0x336699, false, true, false, false, nullptr) != 0) {
    std::abort();
  }
}

}  // namespace
}  // namespace qv

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qv;
  qvScriptState* L = Machine();
  Setup(L);
  fuzz::ByteReader in(data, size);
  // A clip region with a mask of a checkerboard, set on the display's BGPic now and then.
  constexpr int32_t kMaskStride = 16 / 8 + 1;  // a mask's rows of 16 pixels (image/image.h)
  uint8_t maskBytes[16 * kMaskStride] = {};
  for (int row = 0; row < 16; ++row) {
    for (int i = 0; i < kMaskStride; ++i) maskBytes[row * kMaskStride + i] = row & 1 ? 0x55 : 0xAA;
  }
  qvPlane mask = MakeTempMask(maskBytes, 16, 16);
  qvClipRegion region{};
  region.x = 3;
  region.y = 0;
  region.width = 16;
  region.height = 16;
  region.bytesPerRow = kMaskStride;
  qvDisplay* display = CurrentDisplay();
  qvBGPic* shown = display->bgpic;
  bool selected = false;
  int steps = 0;
  while (!in.AtEnd() && steps++ < 64) {
    uint8_t op = in.Byte();
    if (op >= 240) {
      // Into the brush and back, or the clip region on and off.
      VmPushString(L, selected ? "endselect" : "selectbrush");
      VmGetTable(L, kGlobalsIndex);
      if (VmType(L, -1) != kTypeNil && op < 248) {
        int args = 0;
        if (!selected) {
          VmPushNumber(L, 1);
          VmPushNumber(L, op & 1);
          args = 2;
        }
        if (VmPCall(L, args, 0, 0) == 0) selected = !selected;
      } else {
        VmSetTop(L, -2);
        region.mask = op & 1 ? &mask : nullptr;
        shown->clipRegion = shown->clipRegion != nullptr ? nullptr : &region;
      }
      VmSetTop(L, 0);
      continue;
    }
    const char* name = kCommands[op % kCommandCount];
    VmPushString(L, name);
    VmGetTable(L, kGlobalsIndex);
    int args = in.Byte() % 10;
    for (int i = 0; i < args; ++i) {
      uint8_t kind = in.Byte();
      if (kind < 24) {
        PushTable(L, in);
      } else {
        VmPushNumber(L, Number(in));
      }
    }
    int32_t word = VmPCall(L, args, 0, 0);
    VmSetTop(L, 0);
    // Success, or an error code: nothing in between.
    if (word != 0 && word < 1000) std::abort();
  }
  shown->clipRegion = nullptr;
  if (selected) {
    VmPushString(L, "endselect");
    VmGetTable(L, kGlobalsIndex);
    VmPCall(L, 0, 0, 0);
    VmSetTop(L, 0);
  }
  FreeDisplaySubsystem(L);
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(DrawFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
