// Fuzz target of the display options table that every command showing an object takes, the layer
// keys included: the input bytes become the fields of an options table (numbers, texts, matrices
// and filter lists under the keys the reader knows) and the reader runs on it with flags from the
// input. Every answer must be success or an error code; what a success stores must lie within the
// ranges the layer code relies on.
// With QV_FUZZ_REPLAY the same entry function replays the committed corpus as a unit test.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/errors.h"
#include "core/registry.h"
#include "display/show.h"
#include "libs/libraries.h"
#include "libs/options/options.h"
#include "vm/gc.h"
#include "vm/vm.h"

namespace {

const char* const kKeys[] = {
    "transform",    "scalex",      "scaley",  "width",       "height",       "rotate",
    "smoothscale",  "anchorx",     "anchory", "hidden",      "transparency", "tint",
    "tintcolor",    "insertpos",   "shadow",  "shadowcolor", "shadowdir",    "shadowsize",
    "shadowradius", "shadowsigma", "border",  "bordercolor", "bordersize",   "edgesize",
    "filters",      "name",
};
constexpr size_t kKeyCount = sizeof kKeys / sizeof kKeys[0];
const char* const kFilterNames[] = {"blur",     "tint",  "gamma",    "waterripple", "sepiatone",
                                    "pixelate", "XFLIP", "nonesuch", "modulate",    ""};
constexpr size_t kFilterNameCount = sizeof kFilterNames / sizeof kFilterNames[0];
const char* const kEntryKeys[] = {"name", "priority", "args", "disable"};
const double kNumbers[] = {
    0,   1,        -1,        0.5,   0.99,         1.5,          255,    256, 300, -0.0,
    NAN, INFINITY, -INFINITY, 1e300, 4294967295.0, 2147483648.0, 100000, 360, 370, 5};

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

void PushText(qv::qvScriptState* L, Bytes& in) {
  int length = in.Next();
  std::string text;
  // Lengths up to 2 x 255 reach past the name's 255 characters.
  for (int i = 0; i < length * 2 && in.at < in.size; ++i) text.push_back(char(in.Next()));
  if (!text.empty() && text[0] == '%') text = std::to_string(in.Next()) + "%";
  qv::VmPushLString(L, text.data(), text.size());
}

// A scalar, a text or a list of numbers, by the selector.
void PushValue(qv::qvScriptState* L, Bytes& in, int selector) {
  using namespace qv;
  switch (selector % 3) {
    case 0:
      VmPushNumber(L, Number(in));
      break;
    case 1:
      PushText(L, in);
      break;
    default: {
      int count = in.Next() % 7;
      VmNewTable(L);
      for (int i = 0; i < count; ++i) {
        VmPushNumber(L, Number(in));
        VmRawSetI(L, -2, i);
      }
    }
  }
}

// A filter list: entries that are tables of the entry keys, or now and then another value.
void PushFilters(qv::qvScriptState* L, Bytes& in) {
  using namespace qv;
  int count = in.Next() % 6;
  VmNewTable(L);
  for (int i = 0; i < count; ++i) {
    int b = in.Next();
    if (b >= 0 && b % 16 == 15) {
      VmPushNumber(L, b);
    } else {
      VmNewTable(L);
      for (int fields = in.Next() % 5; fields > 0; --fields) {
        int k = in.Next();
        if (k < 0) break;
        VmPushString(L, kEntryKeys[k % 4]);
        if (k % 4 == 0 && (k / 4) % 4 != 3) {
          VmPushString(L, kFilterNames[static_cast<size_t>(in.Next() & 0xFF) % kFilterNameCount]);
        } else {
          PushValue(L, in, k / 4);
        }
        VmSetTable(L, -3);
      }
    }
    VmRawSetI(L, -2, i);
  }
}

qv::qvScriptState* Machine() {
  static qv::qvScriptState* L = [] {
    qv::qvScriptState* state = qv::VmOpenState(qv::CoreVmHost());
    qv::SetProcessVm(state);
    qv::OpenLibrary(state, qv::kGraphicsLibrary);
    return state;
  }();
  return L;
}

struct Run {
  Bytes* in;
  int32_t flags;
  qv::qvTransformBlock block;
  qv::qvLayerOptions options;
  bool build;
  int code;
};

void Body(qv::qvScriptState* L, void* data) {
  using namespace qv;
  auto* run = static_cast<Run*>(data);
  Bytes& in = *run->in;
  VmNewTable(L);
  for (int b = in.Next(); b >= 0; b = in.Next()) {
    const char* key = kKeys[static_cast<size_t>(b) % kKeyCount];
    VmPushString(L, key);
    if (std::strcmp(key, "filters") == 0 && b / kKeyCount % 4 != 3) {
      PushFilters(L, in);
    } else {
      PushValue(L, in, static_cast<int>(b / kKeyCount));
    }
    VmSetTable(L, -3);
  }
  InitDisplayOptions(&run->block, &run->options, 0, 0, 1, run->flags);
  run->code = ReadDisplayOptions(L, VmGetTop(L), 1, run->flags, &run->block, &run->options,
                                 &run->build);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qv;
  qvScriptState* L = Machine();
  Bytes in{data, size};
  Run run{&in, in.Next() & 0x1E, {}, {}, false, 0};
  int top = VmGetTop(L);
  int32_t raised = VmRunProtected(L, Body, &run);
  VmSetTop(L, top);
  int code = raised != 0 ? raised : run.code;
  if (code != 0 && code < 1000) std::abort();
  if (code == 0) {
    const qvLayerOptions& o = run.options;
    const qvTransformBlock& t = run.block;
    if (o.transparency < 0 || o.transparency > 255 || o.insertPos < 0) std::abort();
    if (o.filters[kFilterTint].on &&
        (o.filters[kFilterTint].ints[1] < 0 || o.filters[kFilterTint].ints[1] > 255)) {
      std::abort();
    }
    if (o.shadow.on && !(o.shadow.radius >= 1.0 && o.shadow.sigma > 0.0 && o.shadow.size >= 0)) {
      std::abort();
    }
    if (o.border.on && o.border.size < 1) std::abort();
    if (std::memchr(o.name, 0, kLayerNameSize) == nullptr) std::abort();
    bool needed = o.hidden || o.transparency != 0 || HasActiveFilters(o.filters) || o.shadow.on ||
                  o.border.on;
    if (needed != (o.renderNeeded != 0)) std::abort();
    if (!(t.anchorX >= 0.0 && t.anchorX <= 1.0 && t.anchorY >= 0.0 && t.anchorY <= 1.0)) {
      std::abort();
    }
    if (t.matrixGiven && (t.matrix[0] == 0.0 || t.matrix[3] == 0.0)) std::abort();
    if (run.build) {
      qvTransformBlock built = t;
      BuildTransformMatrix(&built, built.width, built.height, 64, 48, built.scaleX, built.scaleY,
                           built.rotate);
    }
  }
  // The run's tables and strings go now, or the fuzzer takes the growing heap for a leak.
  VmCheckGC(L);
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(DisplayOptionsFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
