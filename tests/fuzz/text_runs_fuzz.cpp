// Fuzz target of the text layout's run builder: the input's first byte picks the kind, the
// alignment, the literal flag and whether the break list is replayed; the next two a wrap width;
// the rest is the tagged text. The runs must lie inside the text buffer, a second layout of the
// same state must give the same runs, and every laid-out text is rendered into its block (the
// bitmap's pixels are all read, so a run drawn outside the block shows up under ASan).
// With QV_FUZZ_REPLAY the same entry function replays the committed corpus as a unit test.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/errors.h"
#include "text/layout.h"

volatile uint32_t g_textRunsSum;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  qv::qvFont* font = nullptr;
  if (qv::InitFontEngines(&font) != 0) return 0;
  const uint8_t mode = data[0];
  const int32_t kinds[3] = {qv::kLayoutTextObject, qv::kLayoutTextOut, qv::kLayoutPrint};
  const int32_t aligns[3] = {qv::kCoordLeft, qv::kCoordCenter, qv::kCoordRight};
  const int32_t kind = kinds[(mode & 3) % 3];
  qv::qvTextLayoutState state;
  state.align = aligns[((mode >> 2) & 3) % 3];
  const bool literal = (mode & 16) != 0;
  const int32_t wrap = (int32_t(data[1]) << 8 | data[2]) % 600;
  if (kind == qv::kLayoutPrint) {
    state.marginLeft = wrap % 40;
    state.marginRight = state.marginLeft + wrap;
    state.cursorX = state.marginLeft + (wrap % 17);
    state.tabs = {16, 40, 41, 200};
  } else {
    state.marginRight = wrap;
  }
  state.style.style = (mode & 32) ? qv::kStyleBold | qv::kStyleUnderlined : qv::kStyleNormal;
  state.text.assign(reinterpret_cast<const char*>(data + 3), size - 3);
  if (mode & 64) {
    state.breaks = {1, 1, 3, 0, 7};
    state.breaksKnown = true;
  }
  auto lookup = [](const char* text, double* value, int* consumed) -> int32_t {
    if (std::strncmp(text, "#RED", 4) == 0) {
      *value = 0xFF0000;
      *consumed = 4;
      return 0;
    }
    return qv::ERR_FINDCST;
  };
  qv::qvTextRuns runs;
  int32_t code = qv::BuildTextRuns(&state, kind, literal, lookup, &runs);
  if (code != 0) return 0;
  for (const qv::qvTextRun& r : runs.runs) {
    if (r.offset > runs.text.size() || r.length > runs.text.size() - r.offset || r.length == 0)
      std::abort();
  }
  // Replayed: the same lines.
  qv::qvTextRuns again;
  if (qv::BuildTextRuns(&state, kind, literal, lookup, &again) != 0) std::abort();
  if (again.runs.size() != runs.runs.size()) std::abort();
  for (size_t i = 0; i < runs.runs.size(); ++i)
    if (again.runs[i].y != runs.runs[i].y || again.runs[i].length != runs.runs[i].length)
      std::abort();
  // Rendering: small texts only, so that the fuzzer keeps its pace.
  if (runs.text.size() <= 256) {
    qv::qvTextBlockResult block;
    if (qv::RenderTextRuns(&runs, state.align, 0, &block) == 0 && block.bitmap) {
      uint32_t sum = 0;
      for (int32_t y = 0; y < block.height; ++y)
        for (int32_t x = 0; x < block.width; ++x) sum += qv::ReadBitMapPixel(block.bitmap, x, y);
      g_textRunsSum = sum;
      qv::FreeTextBlock(&block);
    }
  }
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(TextRunsFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
