// Fuzz target of the clip-region commands: the input bytes become a sequence of calls on a small
// headless display: regions made (BOX and MASK, at places and sizes near their limits), set,
// freed and asked about, brushes made, keyed, selected (as pictures, masks and alpha channels),
// drawn and freed, the display resized, and the layers' transformed regions and the polygon and
// ellipse helpers fed the same numbers. Every command must answer with success or an error code,
// no record may keep a region that is no longer listed, and nothing may crash or hang.
// With QV_FUZZ_REPLAY the same entry function replays the committed corpus as a unit test.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "base/support.h"
#include "core/errors.h"
#include "core/registry.h"
#include "display/clip_regions.h"
#include "display/display.h"
#include "image/mask_ops.h"
#include "libs/libraries.h"
#include "platform/window_services.h"
#include "vm/vm.h"

namespace {

// Numbers worth trying beside small ones made from a byte: the special positions, the edges of
// 32 bits, sizes that overflow when added.
const double kNumbers[] = {0,          1,           -1,           2,      -100000, -90000, -80000,
                           -70000,     -60000,      -40000,       -20000, 100000,  1e9,    -1e9,
                           2147483647, -2147483648, 4294967295.0, 65536,  -65536,  0.5};
constexpr int kNumberCount = sizeof kNumbers / sizeof kNumbers[0];

struct Bytes {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  int Next() { return at < size ? data[at++] : -1; }
  bool Done() const { return at >= size; }
};

double Number(Bytes& in) {
  int b = in.Next();
  if (b < 0) return 0;
  if (b < 60) return kNumbers[b % kNumberCount];
  return b - 60 - 40;  // -40 .. 155
}

int32_t SmallInt(Bytes& in) {
  double v = Number(in);
  return v > 1e6 ? 1000000 : (v < -1e6 ? -1000000 : static_cast<int32_t>(v));
}

qv::qvScriptState* Machine() {
  static qv::qvScriptState* L = [] {
    qv::qvScriptState* state = qv::VmOpenState(qv::CoreVmHost());
    qv::SetProcessVm(state);
    qv::OpenLibrary(state, qv::kGraphicsLibrary);
    qv::OpenLibrary(state, qv::kDisplayLibrary);
    qv::OpenLibrary(state, qv::kBrushLibrary);
    return state;
  }();
  return L;
}

// Calls a global command with the arguments pushed by `push`; aborts on an answer that is
// neither success nor an error code.
template <typename Push>
void Call(qv::qvScriptState* L, const char* name, Push push) {
  using namespace qv;
  int top = VmGetTop(L);
  VmPushString(L, name);
  VmGetTable(L, kGlobalsIndex);
  int count = push();
  int32_t word = VmPCall(L, count, 0, 0);
  VmSetTop(L, top);
  if (word != 0 && word < 1000) std::abort();
}

// A region id: 1-4 by number, or Nil (an automatic one) for creation.
void PushRegionId(qv::qvScriptState* L, Bytes& in, bool allowNil) {
  int b = in.Next();
  if (allowNil && b >= 0 && b % 6 == 5) {
    qv::VmPushNil(L);
  } else if (b >= 0 && b % 6 == 4) {
    qv::VmPushNumber(L, -1);  // NONE
  } else {
    qv::VmPushNumber(L, b < 0 ? 1 : b % 4 + 1);
  }
}

bool Listed(const qv::qvClipRegion* region) {
  for (qv::qvObjectHeader* h = *qv::ClipRegionListHead(); h != nullptr; h = h->next) {
    if (h == &region->header) return true;
  }
  return false;
}

void CheckNoDanglingRegion() {
  using namespace qv;
  auto check = [](const qvBGPic* b) {
    if (b != nullptr && b->clipRegion != nullptr && !Listed(b->clipRegion)) std::abort();
  };
  for (qvObjectHeader* h = *BGPicListHead(); h != nullptr; h = h->next) {
    check(reinterpret_cast<qvBGPic*>(h));
  }
  for (qvObjectHeader* h = *DisplayListHead(); h != nullptr; h = h->next) {
    auto* d = reinterpret_cast<qvDisplay*>(h);
    check(d->bgpic);
    check(d->selection);
    check(d->doubleBufferRecord);
  }
  check(OutputTarget());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qv;
  qvScriptState* L = Machine();
  Bytes in{data, size};
  ConfigureHeadlessScreen(qvScreenSetup{});
  qvObjectId displayId{1, nullptr};
  qvDisplayTags tags;
  tags.width = 32;
  tags.height = 24;
  qvDisplay* display = nullptr;
  if (CreateDisplayCore(L, &displayId, false, &tags, &display) != 0 ||
      OpenDisplayCore(L, display, true) != 0) {
    std::abort();
  }
  SetCurrentDisplay(display);
  SetOutputTarget(display->bgpic);

  // A bounded number of steps: every step reads at least one byte.
  for (int steps = 0; steps < 400 && !in.Done(); ++steps) {
    int op = in.Next() % 13;
    switch (op) {
      case 0:
        Call(L, "createclipregion", [&] {
          PushRegionId(L, in, true);
          VmPushNumber(L, in.Next() % 5 == 0 ? 27 : 14);  // another kind now and then
          for (int i = 0; i < 4; ++i) VmPushNumber(L, Number(in));
          return 6;
        });
        break;
      case 1:
        Call(L, "createclipregion", [&] {
          PushRegionId(L, in, true);
          VmPushNumber(L, 28);
          VmPushNumber(L, in.Next() % 3 + 1);
          VmPushNumber(L, Number(in));
          VmPushNumber(L, Number(in));
          return 5;
        });
        break;
      case 2:
        Call(L, "setclipregion", [&] {
          PushRegionId(L, in, false);
          return 1;
        });
        break;
      case 3:
        Call(L, "freeclipregion", [&] {
          PushRegionId(L, in, false);
          return 1;
        });
        break;
      case 4:
        Call(L, "displaybrush", [&] {
          VmPushNumber(L, in.Next() % 3 + 1);
          VmPushNumber(L, Number(in));
          VmPushNumber(L, Number(in));
          return 3;
        });
        break;
      case 5: {
        static const char* const kSelect[] = {"selectbrush", "selectmask", "selectalphachannel",
                                              "endselect"};
        const char* name = kSelect[static_cast<unsigned>(in.Next()) % 4];
        int id = in.Next() % 3 + 1;
        Call(L, name, [&] {
          if (name[0] == 'e') return 0;
          VmPushNumber(L, id);
          return 1;
        });
        break;
      }
      case 6: {
        int id = in.Next() % 3 + 1;
        int w = in.Next() % 40 + 1, h = in.Next() % 40 + 1;
        double colour = in.Next() % 2 ? 0xFF0000 : 0x000000;
        Call(L, "createbrush", [&] {
          VmPushNumber(L, id);
          VmPushNumber(L, w);
          VmPushNumber(L, h);
          VmPushNumber(L, colour);
          return 4;
        });
        // A pixel of another colour, then the first keyed: a mask of one set pixel.
        Call(L, "writebrushpixel", [&] {
          VmPushNumber(L, id);
          VmPushNumber(L, in.Next() % 40);
          VmPushNumber(L, in.Next() % 40);
          VmPushNumber(L, 0x00FF00);
          return 4;
        });
        Call(L, "setbrushtransparency", [&] {
          VmPushNumber(L, id);
          VmPushNumber(L, colour);
          return 2;
        });
        break;
      }
      case 7:
        Call(L, "freebrush", [&] {
          VmPushNumber(L, in.Next() % 3 + 1);
          return 1;
        });
        break;
      case 8:
        Call(L, "getattribute", [&] {
          VmPushNumber(L, 35);
          PushRegionId(L, in, false);
          VmPushNumber(L, in.Next() % 62);
          return 3;
        });
        break;
      case 9:
        Call(L, "changedisplaysize", [&] {
          VmPushNumber(L, in.Next() % 48 + 1);
          VmPushNumber(L, in.Next() % 48 + 1);
          return 2;
        });
        break;
      case 10: {
        // The layers' copy of a listed region under a matrix from the input.
        qvObjectHeader* head = *ClipRegionListHead();
        double matrix[4] = {Number(in) / 8, Number(in) / 8, Number(in) / 8, Number(in) / 8};
        double sx = Number(in) / 4, sy = Number(in) / 4;
        int flags = in.Next();
        // Matrices and factors up to 64 on regions of up to a million pixels: what is larger
        // only asks for gigabytes of mask, which the allocator answers alone.
        for (double& m : matrix) m = std::clamp(m, -64.0, 64.0);
        sx = std::clamp(sx, -64.0, 64.0);
        sy = std::clamp(sy, -64.0, 64.0);
        // The copy's bounding box is at most the region's times the matrix rows' sums times the
        // factors: beyond some 65,000 pixels a run only fills memory, so such inputs are skipped.
        auto* region = reinterpret_cast<qvClipRegion*>(head);
        if (head != nullptr) {
          double grow = (std::abs(matrix[0]) + std::abs(matrix[1]) + 1) *
                        (std::abs(matrix[2]) + std::abs(matrix[3]) + 1) * (std::abs(sx) + 1) *
                        (std::abs(sy) + 1);
          if (double(region->width) * region->height * grow > double(1 << 16)) head = nullptr;
        }
        if (head != nullptr) {
          qvClipRegion* copy = BuildTransformedClipRegion(reinterpret_cast<qvClipRegion*>(head), sx,
                                                          sy, matrix, flags & 1, flags & 2);
          if (copy != nullptr) {
            if (!copy->locked || copy->x < 0 || copy->y < 0) std::abort();
            if (copy->mask != nullptr &&
                (copy->mask->width < copy->width || copy->mask->height < copy->height)) {
              std::abort();
            }
            FreeClipRegionNode(L, copy);
          }
        }
        break;
      }
      case 11: {
        int count = in.Next() % 12 + 1;
        std::vector<int32_t> polygon(static_cast<size_t>(count) * 2);
        for (int32_t& v : polygon) v = SmallInt(in);
        std::vector<int32_t> out(polygon.size() * 2);
        int32_t n = ClipPolygonEdge(count, polygon.data(), out.data(), SmallInt(in), in.Next() % 4);
        if (n < 0 || n > 2 * count) std::abort();
        PurgeDetachedClipRegions(L);
        break;
      }
      case 12: {
        int32_t rx = SmallInt(in), ry = SmallInt(in);
        int32_t start = qv::DoubleToInt32(Number(in)), end = qv::DoubleToInt32(Number(in));
        std::vector<int32_t> points(2 * 64);
        int32_t n = BuildEllipsePoints(points.data(), 64, rx, ry, start, end);
        if (n < 0 || n > 64) std::abort();
        break;
      }
      default:
        break;
    }
    CheckNoDanglingRegion();
  }
  FreeDisplaySubsystem(L);
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(ClipRegionsFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
