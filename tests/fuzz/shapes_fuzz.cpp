// Fuzz target of the shape drawing: the first bytes choose a canvas (1-64 pixels a side), a
// drawing (coverage polygon fill or outline, coverage line, mask polygon, render-record lines,
// gradient) and its switches; the rest are 32-bit coordinates taken whole, so points near and
// beyond 2^30 come up as often as small ones. Every drawing stays inside its planes (the
// sanitizers check) and ends in bounded time.
// With QV_FUZZ_REPLAY the same entry function replays the committed corpus as a unit test.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "image/image.h"
#include "tests/fuzz/byte_reader.h"

volatile uint32_t g_shapeSum;

using namespace qv;

namespace {

struct Reader : fuzz::ByteReader {
  using ByteReader::ByteReader;
  double Fraction() { return double(Byte()) / 200.0 - 0.1; }  // a little outside 0 .. 1 too
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in(data, size);
  const int w = 1 + in.Byte() % 64, h = 1 + in.Byte() % 64;
  const uint8_t kind = in.Byte() % 6;
  const bool antialias = in.Byte() & 1;
  const int32_t thickness = int32_t(in.Byte()) - 2;  // -2 .. 253
  std::vector<int32_t> points;
  while (!in.AtEnd() && points.size() < 64) points.push_back(in.Int());
  if (points.size() % 2) points.pop_back();
  const int32_t count = int32_t(points.size() / 2);
  uint32_t sum = 0;

  if (kind <= 2) {
    qvRasterImage* image = nullptr;
    uint8_t* cov = nullptr;
    int32_t bytesPerRow = 0;
    CreateCoverageImage(w, h, &image, &cov, &bytesPerRow);
    if (!image) return 0;
    if (kind == 0) DrawPolygonCoverage(image, points.data(), count, antialias, 0);
    if (kind == 1) DrawPolygonCoverage(image, points.data(), count, antialias, thickness);
    if (kind == 2 && count >= 2)
      DrawLineCoverage(image, points[0], points[1], points[2], points[3], antialias, thickness);
    for (int64_t i = 0; i < int64_t(bytesPerRow) * h; ++i) sum += cov[i];
    ReleaseCoverageImage(image);
  } else if (kind == 3) {
    std::vector<uint8_t> mask(size_t(MaskBytesPerRow(w)) * size_t(h));
    std::vector<int32_t> crossings(size_t(count) + 1);
    FillPolygonKernel(mask.data(), MaskBytesPerRow(w), w, h, crossings.data(), points.data(),
                      count);
    for (uint8_t b : mask) sum += b;
  } else if (kind == 4) {
    std::vector<uint32_t> px(size_t(w) * size_t(h));
    std::vector<uint8_t> alpha(size_t(w) * size_t(h));
    qvRenderRecord r{};
    r.pixels = px.data();
    r.pixelsPerRow = w;
    r.bytesPerPixel = 4;
    r.width = w;
    r.height = h;
    r.alpha = antialias ? alpha.data() : nullptr;
    r.alphaBytesPerRow = w;
    r.pixel = r.colour = 0xFFFFFF;
    r.opacity = 255;
    r.baseOpacity = 100 + thickness % 156;
    r.thickness = thickness;
    for (int32_t i = 0; i + 1 < count; i += 2) {
      const int32_t* p = points.data() + 2 * i;
      DrawAntialiasedLineKernel(r, p[0], p[1], p[2], p[3]);
      DrawLineKernel(r, p[0], p[1], p[2], p[3]);
    }
    for (uint32_t v : px) sum += v;
  } else {
    std::vector<uint32_t> px(size_t(w) * size_t(h));
    qvGradient g{};
    g.type = 2 + (thickness & 3);  // 5 is no gradient: nothing drawn
    g.startColour = uint32_t(in.Int());
    g.endColour = uint32_t(in.Int());
    g.angle = count > 0 ? points[0] : 0;
    g.stopCount = count > 1 ? points[1] % 70 : 0;  // beyond 64 and negative counts too
    for (int i = 0; i < kMaxGradientStops; ++i)
      g.stops[i] = {uint32_t(i * 0x030507), double(int8_t(i * 37)) / 100.0};
    g.centreX = in.Fraction(), g.centreY = in.Fraction();
    g.balance = in.Fraction(), g.border = in.Fraction();
    GradientKernel(
        GradientRecord{reinterpret_cast<uint8_t*>(px.data()), 4, kPixARGB32, 0, 0, w, h, w, &g});
    for (uint32_t v : px) sum += v;
  }
  g_shapeSum = sum;
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(ShapesFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
