// Fuzz target of the shape geometry and its rasterising: the first bytes choose a shape (box,
// rounded box, circle, ellipse, polygon, arc), its drawn size, arc angles, corner levels, a
// matrix and anchor and a draw style; the rest are polygon points taken as whole 32-bit words,
// so sizes, radii, angles and points near and beyond their limits come up as often as small
// ones. Outlines are built and grown for every input; small shapes are rasterised, huge ones must
// be refused as memory at once. Everything stays inside its planes (the sanitizers check) and ends
// in bounded time. With QV_FUZZ_REPLAY the same entry function replays the committed corpus.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/errors.h"
#include "display/records.h"
#include "display/shapes.h"
#include "tests/fuzz/byte_reader.h"

volatile uint32_t g_shapeGeometrySum;

using namespace qv;

namespace {

// A matrix entry: mostly ordinary scales and turns, now and then zero, huge or not a number.
double MatrixEntry(fuzz::ByteReader& in) {
  const int32_t v = in.Int();
  switch (v & 7) {
    case 0:
      return 0.0;
    case 1:
      return std::nan("");
    case 2:
      return double(v) * 1e300;
    default:
      return double(v >> 3) / 65536.0;
  }
}

uint32_t Sum(const qvShapeImage& img) {
  uint32_t sum = uint32_t(img.x) + uint32_t(img.y) * 3u;
  for (int32_t y = 0; y < img.height; ++y) {
    sum += ReadBitMapPixel(img.bitmap, img.width / 2, y);
    if (img.alpha) sum += img.alpha->data[int64_t(y) * img.alpha->bytesPerRow + img.width / 2];
    if (img.mask) sum += ReadBitMapPixel(img.mask, img.width / 2, y);
  }
  return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ByteReader in(data, size);
  static const int32_t kTypes[] = {kShapeBox, kShapeBox, kShapeCircle, kShapeEllipse, kShapePolygon,
                                   kShapeArc, 99};
  const uint8_t kind = in.Byte() % 7;
  qvShapeParams p{};
  p.type = kTypes[kind];
  // Sizes: small most of the time, whole words otherwise.
  const uint8_t sizeMode = in.Byte();
  p.width = sizeMode & 1 ? in.Int() : 1 + in.Byte() % 80;
  p.height = sizeMode & 2 ? in.Int() : 1 + in.Byte() % 80;
  p.startAngle = in.Int();
  p.endAngle = in.Int();
  p.clockwise = in.Byte() & 1;
  for (int32_t& c : p.corners) c = kind == 1 ? int8_t(in.Byte()) : 0;
  qvTransformBlock t{};
  t.matrix[0] = t.matrix[3] = 1.0;
  if (in.Byte() & 1) {
    for (double& m : t.matrix) m = MatrixEntry(in);
  }
  t.anchorX = double(in.Byte()) / 200.0;
  t.anchorY = double(in.Byte()) / 200.0;
  p.transform = &t;

  qvDrawStyle style;
  InitDrawStyle(&style);
  style.fillStyle = in.Byte() % 4;
  style.formStyle = in.Byte() & (kFormAntialias | kFormShadow | kFormEdge | kFormNormal);
  style.edgeSize = in.Byte() % 66;
  style.edgeColour = uint32_t(in.Int());
  style.shadowDistance = in.Byte() % 66;
  style.shadowDirection = in.Byte() % 9;
  style.shadowColour = uint32_t(in.Int());
  style.lineWidth = in.Byte() % 40;
  style.gradient.angle = in.Int();
  const uint32_t colour = uint32_t(in.Int());

  std::vector<qvPointD> points;
  while (!in.AtEnd() && points.size() < 64) {
    const int32_t x = in.Int(), y = in.Int();
    // Small points most of the time, so that polygons are drawn and not only refused.
    points.push_back((x & 1) ? qvPointD{double(x), double(y)}
                             : qvPointD{double((x >> 1) % 100), double((y >> 1) % 100)});
  }
  p.points = points.data();
  p.pointCount = int32_t(points.size());

  uint32_t sum = 0;
  std::vector<qvPointD> arc;
  sum += uint32_t(GenerateEllipseArc(&arc, p.width, p.height, double(p.startAngle) / 7.0,
                                     double(p.endAngle) / 3.0, int64_t(p.startAngle) * 4099,
                                     int64_t(p.endAngle) * -8191, ShapeMatrixOf(t), t.anchorX * 40,
                                     t.anchorY * 40, p.clockwise, true));
  qvShapeOutline outline;
  if (MakeShapeOutline(p, &outline) == 0) {
    const std::vector<qvPointD> grown = OffsetOutline(
        outline.points.data(), int32_t(outline.points.size()), style.edgeSize);
    sum += uint32_t(grown.size());
    const int64_t area = int64_t(outline.width) * outline.height;
    const qvRasterRequest request{colour, &style, ShapeMatrixOf(t), bool(sizeMode & 4)};
    qvShapeImage img{};
    if (outline.width >= 1 && outline.height >= 1 && area <= 1 << 14) {
      if (RasteriseShape(nullptr, outline, request, &img) == 0) sum += Sum(img);
      FreeShapeImage(&img);
      const std::vector<qvPointI> whole = RoundOutline(outline.points.data(),
                                                       int32_t(outline.points.size()));
      if (DrawAntialiasedShape(whole.data(), int32_t(whole.size()), outline.width, outline.height,
                               colour, style.formStyle & kFormAntialias, (sizeMode >> 3) % 6,
                               &img) == 0)
        sum += Sum(img);
      FreeShapeImage(&img);
    } else if (area > (int64_t(1) << 31)) {
      // Beyond what a picture may hold: refused before anything is drawn.
      if (RasteriseShape(nullptr, outline, request, &img) != ERR_MEM) __builtin_trap();
    }
  }
  g_shapeGeometrySum = sum;
  return 0;
}

#ifdef QV_FUZZ_REPLAY
#include "tests/fuzz/replay.h"

TEST(ShapeGeometryFuzz, ReplayCorpus) {
  int files = qv::fuzz::ReplayCorpus(QV_FUZZ_CORPUS, [](const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
  });
  EXPECT_GT(files, 0);
}
#endif
