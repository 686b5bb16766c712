// Fuzz target of the vector graphics plugin's four geometry entries: the first bytes choose the
// entry, the style (fill, anti-aliasing, join, cap, rule, a dash pattern that may be negative),
// the line width, a canvas of 1-64 pixels a side and a matrix (identity, scaled, turned,
// singular); the rest is the segment stream as it comes, handed over with its exact length in a
// buffer of its own, so that the sanitizers see any read past it. Text segments find a DejaVu face
// as font 1 when the system has it.
// With QV_FUZZ_REPLAY the same entry function replays the committed corpus as a unit test.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "plugins/vectorgfx/vectorgfx.h"
#include "tests/fuzz/byte_reader.h"

volatile uint32_t g_vectorSum;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const int32_t font = [] {
    qvVectorFontFace face{"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", nullptr, 0, 0};
    return vgfx::CreateFont(&face);
  }();
  (void)font;
  qv::fuzz::ByteReader in(data, size);
  const uint8_t entry = in.Byte() % 4;
  const uint8_t flags = in.Byte();
  const double lineWidth = double(int8_t(in.Byte())) / 4.0;
  const int32_t w = 1 + in.Byte() % 64, h = 1 + in.Byte() % 64;
  const uint8_t dashCount = in.Byte() % 5;
  double dashes[4];
  for (double& d : dashes) d = double(int8_t(in.Byte())) / 8.0;
  const uint8_t matrixKind = in.Byte() % 4;
  std::vector<uint8_t> stream(in.p, in.end);

  qvPathStyle style{};
  style.join = (flags >> 2) % 3;
  style.cap = (flags >> 4) % 3;
  style.fillRule = (flags >> 6) & 1;
  style.dashCount = dashCount;
  style.dashes = dashCount ? dashes : nullptr;
  style.dashOffset = dashes[0];
  uint32_t sum = 0;
  switch (entry) {
    case 0: {
      qvPathExtentsRequest r{};
      r.style = style;
      r.antialias = flags & 2;
      r.stream = stream.data();
      r.streamBytes = stream.size();
      r.fill = flags & 1;
      r.lineWidth = lineWidth;
      vgfx::PathExtents(&r);
      // Extents and points may be any double: only a finite one in range is kept.
      double extent = r.width + r.height;
      sum = extent >= 0 && extent < 4294967296.0 ? uint32_t(extent) : 0u;
      break;
    }
    case 1: {
      std::vector<uint8_t> alpha(size_t(w) * size_t(h));
      const double matrices[4][4] = {
          {1, 0, 0, 1}, {2, 0, 0, 0.5}, {0.6, 0.8, -0.8, 0.6}, {1, 1, 1, 1}};
      qvDrawPathRequest r{};
      r.style = style;
      r.antialias = flags & 2;
      r.stream = stream.data();
      r.streamBytes = stream.size();
      r.fill = flags & 1;
      r.lineWidth = lineWidth;
      r.alpha = alpha.data();
      r.bytesPerRow = w;
      r.translateX = double(int8_t(flags));
      r.translateY = lineWidth;
      std::memcpy(r.matrix, matrices[matrixKind], sizeof r.matrix);
      r.width = w;
      r.height = h;
      vgfx::DrawPathCoverage(&r);
      for (uint8_t v : alpha) sum += v;
      break;
    }
    case 2: {
      qvTranslatePathRequest r{stream.data(), stream.size(), lineWidth, -lineWidth};
      vgfx::TranslateStream(&r);
      for (uint8_t v : stream) sum += v;
      break;
    }
    default: {
      qvCurrentPointRequest r{};
      r.style = style;
      r.stream = stream.data();
      r.streamBytes = stream.size();
      vgfx::CurrentPoint(&r);
      double point = r.x + r.y;
      sum = point >= 0 && point < 4294967296.0 ? uint32_t(point) : 0u;
      break;
    }
  }
  g_vectorSum = sum;
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(VectorGfxFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
