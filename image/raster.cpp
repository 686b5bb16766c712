// The coverage rasteriser: coverage images and their matrix view, the status word, and the
// drawing of lines, thick segments, circles, ellipses and polygons into 8-bit coverage. Fixed
// point is 16.16 in 64 bits, so shapes far beyond 32767 pixels do not wrap; rows and steps that
// lie off the canvas are skipped arithmetically, not walked.
#include "image/raster.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/support.h"
#include "image/image.h"
#include "image/internal.h"

namespace qv {

namespace {

int32_t gStatus = 0;

inline void Fail(int32_t code) { gStatus = code; }

// Bytes per channel of a depth code, and the depth code of an image depth (-1: none).
int32_t DepthCode(int32_t depth) {
  static const int8_t kTable[20] = {-1, -1, 0,  1,  2,  3,  -1, -1, 5, 4,
                                    -1, -1, -1, -1, -1, -1, 6,  -1, 0, 0};
  int32_t index = ((depth >> 2) & 63) + (depth < 0 ? 1 : 0);
  return index < 20 ? kTable[index] : -1;
}

bool AllowedDepth(int32_t depth) {
  switch (uint32_t(depth)) {
    case 1:
    case 8:
    case 16:
    case 32:
    case 64:
    case 0x80000008u:
    case 0x80000010u:
    case 0x80000020u:
      return true;
    default:
      return false;
  }
}

int32_t ElementSize(int32_t type) {
  int32_t channels = ((type >> 3) & 63) + 1;
  return channels << ((0xBA50 >> ((type & 7) * 2)) & 3);
}

}  // namespace

int32_t RasterStatus() { return gStatus; }
void ClearRasterStatus() { gStatus = 0; }

void* AllocAligned(size_t size) {
  if (size > 0x40000000) {
    Fail(raster::kOutOfRange);
    return nullptr;
  }
  // The raw address lives in the pointer-sized word before the aligned block.
  size_t extra = sizeof(void*) + 31 + (size >= 4096 ? 32 : 0);
  auto* raw = static_cast<uint8_t*>(image::Allocate(size + extra, false));
  if (!raw) {
    Fail(raster::kNoMemory);
    return nullptr;
  }
  uintptr_t at = (reinterpret_cast<uintptr_t>(raw) + sizeof(void*) + 31) & ~uintptr_t(31);
  auto* block = reinterpret_cast<uint8_t*>(at);
  std::memcpy(block - sizeof(void*), &raw, sizeof(void*));
  return block;
}

void FreeAligned(void* block) {
  if (!block) return;
  if (reinterpret_cast<uintptr_t>(block) & 31) {
    Fail(raster::kBadAlignment);
    return;
  }
  void* raw;
  std::memcpy(&raw, static_cast<uint8_t*>(block) - sizeof(void*), sizeof(void*));
  std::free(raw);
}

qvRasterImage* CreateRasterImage(int32_t width, int32_t height, int32_t depth, int32_t channels) {
  if (width < 0 || height < 0) {
    Fail(raster::kBadSize);
    return nullptr;
  }
  if (!AllowedDepth(depth) || channels < 0) {
    Fail(raster::kBadDepth);
    return nullptr;
  }
  channels = std::max(channels, 1);
  int64_t bits = int64_t(depth & 0x7FFFFFFF) * channels * width;
  int64_t bytesPerRow = ((bits + 7) / 8 + 3) & ~int64_t(3);
  int64_t size = bytesPerRow * height;
  if (bytesPerRow > INT32_MAX || size > 0x40000000) {
    Fail(raster::kOutOfRange);
    return nullptr;
  }
  auto* image = static_cast<qvRasterImage*>(AllocAligned(sizeof(qvRasterImage)));
  if (!image) return nullptr;
  std::memset(image, 0, sizeof(qvRasterImage));
  image->marker = kRasterMarker;
  image->channels = channels;
  image->depth = depth;
  image->rowAlignment = 4;
  image->width = width;
  image->height = height;
  image->bytesPerRow = int32_t(bytesPerRow);
  image->imageSize = size;
  image->dataBlock = AllocAligned(size_t(std::max<int64_t>(size, 1)));
  if (!image->dataBlock) {
    FreeAligned(image);
    return nullptr;
  }
  image->data = static_cast<uint8_t*>(image->dataBlock);
  return image;
}

void ReleaseRasterImage(qvRasterImage** image) {
  if (!image) {
    Fail(raster::kNullPointer);
    return;
  }
  qvRasterImage* p = *image;
  if (!p) return;
  *image = nullptr;
  if (p->marker != kRasterMarker) {
    Fail(raster::kBadObject);
    return;
  }
  FreeAligned(p->dataBlock);
  FreeAligned(p);
}

qvRasterMatrix* GetRasterMatrixView(const qvRasterImage* image, qvRasterMatrix* matrix) {
  if (!image || !matrix) {
    Fail(raster::kNullPointer);
    return nullptr;
  }
  if (image->marker != kRasterMarker) {
    Fail(raster::kBadOrder);
    return nullptr;
  }
  if (!image->data) {
    Fail(raster::kNullPointer);
    return nullptr;
  }
  int32_t code = DepthCode(image->depth);
  if (code < 0) {
    Fail(raster::kBadDepth);
    return nullptr;
  }
  if (image->channels > 1 && image->dataOrder != 0) {
    Fail(raster::kBadOrder);
    return nullptr;
  }
  if (image->height < 1 || image->width < 1) {
    Fail(raster::kBadCount);
    return nullptr;
  }
  int32_t type = (code + (image->channels - 1) * 8) & 0x1FF;
  int64_t minimum = int64_t(image->width) * ElementSize(type);
  matrix->type = kRasterMatrixMarker | uint32_t(type);
  matrix->bytesPerRow = image->height == 1 ? 0 : image->bytesPerRow;
  if (image->height == 1 || image->bytesPerRow == minimum) matrix->type |= kRasterContinuous;
  matrix->data = image->data;
  matrix->rows = image->height;
  matrix->columns = image->width;
  return matrix;
}

void ClearRaster(qvRasterMatrix* m) {
  if (!m || (m->type & 0xFFFF0000u) != kRasterMatrixMarker || m->rows < 1 || m->columns < 1 ||
      !m->data) {
    Fail(raster::kNullPointer);
    return;
  }
  int64_t rowBytes = int64_t(m->columns) * ElementSize(int32_t(m->type & 0x1FF));
  if (m->type & kRasterContinuous) {
    std::memset(m->data, 0, size_t(rowBytes * m->rows));
    return;
  }
  for (int64_t y = 0; y < m->rows; ++y)
    std::memset(m->data + y * m->bytesPerRow, 0, size_t(rowBytes));
}

void ClearRaster(qvRasterImage* image) {
  qvRasterMatrix m;
  if (GetRasterMatrixView(image, &m)) ClearRaster(&m);
}

namespace raster {

namespace {

constexpr int64_t kOne = 65536;

// Sine of whole degrees 0 .. 450 in single precision; cos(a) is entry 450 - a.
struct SineTable {
  float v[451];
  SineTable() {
    for (int k = 0; k <= 450; ++k) v[k] = float(std::sin(k * 0.017453292519943295));
  }
};
const SineTable& Sines() {
  static const SineTable table;
  return table;
}

constexpr uint8_t kSlopeCorrection[32] = {181, 181, 181, 182, 182, 183, 184, 185, 187, 188, 190,
                                          192, 194, 196, 198, 201, 203, 206, 209, 211, 214, 218,
                                          221, 224, 227, 231, 235, 238, 242, 246, 250, 254};
constexpr int32_t kFilter[64] = {168, 177, 185, 194, 202, 210, 218, 224, 231, 236, 241, 246, 249,
                                 252, 254, 254, 254, 254, 252, 249, 246, 241, 236, 231, 224, 218,
                                 210, 202, 194, 185, 177, 168, 158, 149, 140, 131, 122, 114, 105,
                                 97,  89,  82,  75,  68,  62,  56,  50,  45,  40,  36,  32,  28,
                                 25,  22,  19,  16,  14,  12,  11,  9,   8,   7,   5,   5};

inline int Code(const Point& p, int64_t right, int64_t bottom) {
  return (p.x < 0 ? 1 : 0) | (p.x > right ? 2 : 0) | (p.y < 0 ? 4 : 0) | (p.y > bottom ? 8 : 0);
}

inline int64_t MulDiv(int64_t a, int64_t b, int64_t c) {
  __int128 v = __int128(a) * b / c;
  return int64_t(v);
}

// A span of row y from x1 to x2 (both included), held inside the canvas.
inline void Span(const Canvas& c, int64_t y, int64_t x1, int64_t x2) {
  if (y < 0 || y >= c.height) return;
  x1 = std::max<int64_t>(x1, 0);
  x2 = std::min<int64_t>(x2, c.width - 1);
  if (x1 > x2) return;
  std::memset(c.At(x1, y), 255, size_t(x2 - x1 + 1));
}

// The canvas moved 2 pixels in both ways, for the lines that keep their ends off the border.
Canvas Inset(const Canvas& c) {
  Canvas in = c;
  in.data = c.data + 2 * c.bytesPerRow + 2;
  in.width = c.width - 4;
  in.height = c.height - 4;
  return in;
}

inline void BlendToward255(uint8_t* p, int a) {
  int v = *p;
  v += ((255 - v) * a + 127) >> 8;
  v += ((255 - v) * a + 127) >> 8;
  *p = uint8_t(v);
}

}  // namespace

bool ClipLine(int64_t w, int64_t h, Point* p1, Point* p2) {
  if (w <= 0 || h <= 0) {
    Fail(kOutOfRange);
    return false;
  }
  const int64_t right = w - 1, bottom = h - 1;
  int c1 = Code(*p1, right, bottom), c2 = Code(*p2, right, bottom);
  if ((c1 | c2) == 0) return true;
  if (c1 & c2) return false;
  auto xCode = [&](const Point& p) { return (p.x < 0 ? 1 : 0) | (p.x > right ? 2 : 0); };
  if (c1 & 12) {
    int64_t y = (c1 & 4) ? 0 : bottom;
    p1->x += MulDiv(y - p1->y, p2->x - p1->x, p2->y - p1->y);
    p1->y = y;
    c1 = xCode(*p1);
  }
  if (c2 & 12) {
    int64_t y = (c2 & 4) ? 0 : bottom;
    p2->x += MulDiv(y - p2->y, p2->x - p1->x, p2->y - p1->y);
    p2->y = y;
    c2 = xCode(*p2);
  }
  if ((c1 & c2) == 0 && (c1 | c2) != 0) {
    if (c1) {
      int64_t x = (c1 & 1) ? 0 : right;
      p1->y += MulDiv(x - p1->x, p2->y - p1->y, p2->x - p1->x);
      p1->x = x;
    }
    if (c2) {
      int64_t x = (c2 & 1) ? 0 : right;
      p2->y += MulDiv(x - p2->x, p2->y - p1->y, p2->x - p1->x);
      p2->x = x;
    }
  }
  return (Code(*p1, right, bottom) | Code(*p2, right, bottom)) == 0;
}

void DrawLine8(const Canvas& c, int32_t lineType, Point p1, Point p2) {
  if (!ClipLine(c.width, c.height, &p1, &p2)) return;
  const bool four = lineType == 1 || lineType == 4;
  if (p2.x < p1.x) std::swap(p1, p2);
  int64_t dx = p2.x - p1.x, dy = p2.y - p1.y;
  int64_t rowStep = c.bytesPerRow, pixelStep = 1;
  if (dy < 0) dy = -dy, rowStep = -rowStep;
  if (dy > dx) std::swap(dx, dy), std::swap(rowStep, pixelStep);
  int64_t error, plusDelta, minusDelta, plusStep, minusStep, count;
  if (four) {
    error = 0, plusDelta = 2 * dx + 2 * dy, minusDelta = -2 * dy;
    plusStep = rowStep - pixelStep, minusStep = pixelStep, count = dx + dy + 1;
  } else {
    error = dx - 2 * dy, plusDelta = 2 * dx, minusDelta = -2 * dy;
    plusStep = rowStep, minusStep = pixelStep, count = dx + 1;
  }
  uint8_t* p = c.At(p1.x, p1.y);
  for (int64_t i = 0; i < count; ++i) {
    *p = 255;
    bool negative = error < 0;
    p += minusStep + (negative ? plusStep : 0);
    error += minusDelta + (negative ? plusDelta : 0);
  }
}

void DrawLineFixed(const Canvas& c, Point p1, Point p2) {
  const Canvas in = Inset(c);
  p1.x -= 2 * kOne, p1.y -= 2 * kOne, p2.x -= 2 * kOne, p2.y -= 2 * kOne;
  if (!ClipLine((int64_t(c.width) - 5) * kOne + 1, (int64_t(c.height) - 5) * kOne + 1, &p1, &p2))
    return;
  int64_t dx = p2.x - p1.x, dy = p2.y - p1.y;
  const bool xMajor = std::abs(dx) > std::abs(dy);
  auto major = [&](Point& p) -> int64_t& { return xMajor ? p.x : p.y; };
  auto minor = [&](Point& p) -> int64_t& { return xMajor ? p.y : p.x; };
  if (major(p2) < major(p1)) std::swap(p1, p2);
  int64_t extent = major(p2) - major(p1);
  int64_t step = MulDiv(minor(p2) - minor(p1), kOne, extent | 1);
  int64_t count = (major(p2) - major(p1)) >> 16;
  p1.x += 0x8000, p1.y += 0x8000;
  auto set = [&](int64_t mj, int64_t mn) {
    int64_t x = xMajor ? mj : mn, y = xMajor ? mn : mj;
    if (x >= 0 && y >= 0 && x < in.width + 0 && y < in.height + 0) *in.At(x, y) = 255;
  };
  set((major(p2) + 0x8000) >> 16, (minor(p2) + 0x8000) >> 16);
  int64_t mj = major(p1), mn = minor(p1);
  for (int64_t i = 0; i <= count; ++i, mj += kOne, mn += step) set(mj >> 16, mn >> 16);
}

void DrawLineAntialiased(const Canvas& c, Point p1, Point p2) {
  const Canvas in = Inset(c);
  p1.x -= 2 * kOne, p1.y -= 2 * kOne, p2.x -= 2 * kOne, p2.y -= 2 * kOne;
  if (!ClipLine((int64_t(c.width) - 5) * kOne + 1, (int64_t(c.height) - 5) * kOne + 1, &p1, &p2))
    return;
  int64_t dx = p2.x - p1.x, dy = p2.y - p1.y;
  const bool xMajor = std::abs(dx) > std::abs(dy);
  auto major = [&](Point& p) -> int64_t& { return xMajor ? p.x : p.y; };
  auto minor = [&](Point& p) -> int64_t& { return xMajor ? p.y : p.x; };
  if (major(p2) < major(p1)) std::swap(p1, p2);
  int64_t majorDelta = major(p2) - major(p1);
  int64_t step = MulDiv(minor(p2) - minor(p1), kOne, std::abs(majorDelta) | 1);
  major(p2) += kOne;
  int64_t count = (major(p2) >> 16) - (major(p1) >> 16);
  minor(p1) += ((step * -(major(p1) & 0xFFFF)) >> 16) + 0x8000;

  int64_t index = (step >> 11) & 63;
  if (step < 0) index ^= 63;
  const int64_t slope = (index & 32) ? 256 : kSlopeCorrection[index];
  const int64_t i = (major(p1) >> 9) & 0x78, j = (major(p2) >> 9) & 0x78;
  int64_t e[9];
  const int64_t t1 = ((0x78 - i) | 4) * slope, t2 = (j | 4) * slope, t0 = slope << 7;
  e[0] = 0;
  e[8] = slope;
  e[1] = e[3] = ((((j - i) & 0x78) | 4) * slope >> 8) & 0x1FF;
  e[2] = (t1 >> 8) & 0x1FF;
  e[4] = ((((j - i) + 0x80) | 4) * slope >> 8) & 0x1FF;
  e[5] = ((t1 + t0) >> 8) & 0x1FF;
  e[6] = (t2 >> 8) & 0x1FF;
  e[7] = ((t2 + t0) >> 8) & 0x1FF;

  int64_t mj = major(p1) >> 16, mn = minor(p1);
  for (int64_t k = count, s = 0; k >= 0; --k, ++s, ++mj, mn += step) {
    const int64_t corr = e[3 * std::min<int64_t>(s, 2) + std::min<int64_t>(k, 2)];
    const int64_t d = (mn >> 11) & 31;
    const int64_t weights[3] = {(corr * kFilter[d + 32] >> 8) & 255, (corr * kFilter[d] >> 8) & 255,
                                (corr * kFilter[63 - d] >> 8) & 255};
    for (int64_t across = 0; across < 3; ++across) {
      // The clip keeps the three pixels inside the full canvas: the inset leaves two on each side.
      int64_t m = (mn >> 16) - 1 + across;
      int64_t x = xMajor ? mj : m, y = xMajor ? m : mj;
      if (x < -2 || y < -2 || x >= in.width + 2 || y >= in.height + 2) continue;
      BlendToward255(in.At(x, y), int(weights[across]));
    }
  }
}

void DrawCircleRaster(const Canvas& c, Point centre, int64_t radius) {
  if (radius < 0) return;
  int64_t dx = radius, dy = 0, error = 0, plus = 1, minus = 2 * radius - 1;
  while (dx >= dy) {
    Span(c, centre.y - dy, centre.x - dx, centre.x + dx);
    Span(c, centre.y + dy, centre.x - dx, centre.x + dx);
    Span(c, centre.y - dx, centre.x - dy, centre.x + dy);
    Span(c, centre.y + dx, centre.x - dy, centre.x + dy);
    ++dy;
    error += plus;
    plus += 2;
    if (error > 0) {
      error -= minus;
      --dx;
      minus -= 2;
    }
  }
}

void EllipseToPolygon(Point centre, Point axes, int32_t rotation, int32_t start, int32_t end,
                      int32_t step, std::vector<Point>* points) {
  const float* sine = Sines().v;
  auto sin = [sine](int64_t a) { return double(sine[((a % 360) + 360) % 360]); };
  auto cos = [sine](int64_t a) { return double(sine[450 - ((a % 360) + 360) % 360]); };
  // Start and end ordered, a span over a full turn made one turn, the start brought into
  // 0 .. 359 (so angles stay below 720).
  int64_t a0 = std::min(start, end), a1 = std::max(start, end);
  if (a1 - a0 > 360) a0 = 0, a1 = 360;
  int64_t turns = a0 >= 0 ? a0 / 360 : -((-a0 + 359) / 360);
  a0 -= turns * 360, a1 -= turns * 360;
  const int64_t stride = std::max(step, 1);
  const double alpha = cos(rotation), beta = sin(rotation);
  points->clear();
  for (int64_t a = a0; a < a1 + stride; a += stride) {
    int64_t angle = std::min(a, a1);
    double x = double(axes.x) * cos(angle), y = double(axes.y) * sin(angle);
    // Nearest, ties to even, in 64 bits: 16.16 points may lie beyond 32 bits.
    Point p{int64_t(std::nearbyint(double(centre.x) + x * alpha - y * beta)),
            int64_t(std::nearbyint(double(centre.y) - x * beta - y * alpha))};
    if (!points->empty() && points->back().x == p.x && points->back().y == p.y) continue;
    points->push_back(p);
  }
  while (points->size() < 2) points->push_back(points->back());
}

void FillEllipseAntialiased(const Canvas& c, Point centre, Point axes, int32_t lineType) {
  if (axes.x < 0 || axes.y < 0) {
    Fail(kBadCount);
    return;
  }
  int64_t r = (std::max(axes.x, axes.y) + 0x8000) >> 16;
  int32_t step = r < 3 ? 90 : r < 10 ? 30 : r < 15 ? 18 : 5;
  std::vector<Point> points;
  try {
    EllipseToPolygon(centre, axes, 0, 0, 360, step, &points);
  } catch (const std::bad_alloc&) {
    Fail(kNoMemory);
    return;
  }
  FillConvexPolygon(c, points.data(), int32_t(points.size()), lineType, 16);
}

void FillConvexPolygon(const Canvas& c, const Point* v, int32_t count, int32_t lineType,
                       int32_t shift) {
  if (!v || count < 1 || shift < 0 || shift > 16) return;
  if (lineType == 16 && !c.antialiasOk) lineType = 8;
  const int64_t delta = shift > 0 ? int64_t(1) << (shift - 1) : 0;
  const int64_t leftRound = lineType < 16 ? 0x8000 : 0xFFFF;
  const int64_t rightRound = lineType < 16 ? 0x8000 : 0;
  const int32_t up = 16 - shift;
  auto fixed = [up](Point p) { return Point{p.x * (int64_t(1) << up), p.y * (int64_t(1) << up)}; };

  Point p0 = fixed(v[count - 1]);
  int64_t xmin = v[0].x, xmax = v[0].x, ymin = v[0].y, ymax = v[0].y;
  int32_t imin = 0;
  for (int32_t i = 0; i < count; ++i) {
    if (v[i].y < ymin) ymin = v[i].y, imin = i;
    ymax = std::max(ymax, v[i].y);
    xmax = std::max(xmax, v[i].x);
    xmin = std::min(xmin, v[i].x);
    Point p = fixed(v[i]);
    if (lineType > 8) {
      DrawLineAntialiased(c, p0, p);
    } else if (shift == 0) {
      DrawLine8(c, lineType, Point{p0.x >> 16, p0.y >> 16}, Point{p.x >> 16, p.y >> 16});
    } else {
      DrawLineFixed(c, p0, p);
    }
    p0 = p;
  }
  xmin = (xmin + delta) >> shift, xmax = (xmax + delta) >> shift;
  ymin = (ymin + delta) >> shift, ymax = (ymax + delta) >> shift;
  if (count < 3 || xmax < 0 || ymax < 0 || xmin >= c.width || ymin >= c.height) return;
  ymax = std::min<int64_t>(ymax, c.height - 1);

  struct Walker {
    int32_t index, direction;
    int64_t x, dx, endRow;
  } edge[2] = {{imin, 1, -kOne, 0, ymin}, {imin, count - 1, -kOne, 0, ymin}};
  int32_t edges = count;
  int64_t y = ymin;
  do {
    if (lineType < 16 || y < ymax || y == ymin) {
      for (auto& e : edge) {
        if (y < e.endRow) continue;
        int32_t i0 = e.index, i = i0 + e.direction;
        if (i >= count) i -= count;
        for (; edges-- > 0;) {
          int64_t row = (v[i].y + delta) >> shift;
          if (row > y) {
            int64_t xs = v[i0].x * (int64_t(1) << up), xe = v[i].x * (int64_t(1) << up);
            e.endRow = row;
            e.dx = ((xe - xs) * 2 + (row - y)) / (2 * (row - y));
            e.x = xs;
            e.index = i;
            break;
          }
          i0 = i;
          i += e.direction;
          if (i >= count) i -= count;
        }
      }
    }
    if (edges < 0) break;
    if (y >= 0) {
      const Walker& l = edge[0].x > edge[1].x ? edge[1] : edge[0];
      const Walker& r = edge[0].x > edge[1].x ? edge[0] : edge[1];
      Span(c, y, (l.x + leftRound) >> 16, (r.x + rightRound) >> 16);
    } else {
      // Rows above the canvas paint nothing: jump to the next row where a walker turns, or to
      // row 0, keeping the last of the skipped rows to step as usual.
      int64_t next = std::min({edge[0].endRow, edge[1].endRow, int64_t(0)});
      int64_t skip = next - y - 1;
      if (skip > 0) {
        edge[0].x += edge[0].dx * skip;
        edge[1].x += edge[1].dx * skip;
        y += skip;
      }
    }
    edge[0].x += edge[0].dx;
    edge[1].x += edge[1].dx;
  } while (++y <= ymax);
}

namespace {

struct Edge {
  int64_t x, dx, top, bottom;  // x at the top row (16.16), its change a row, rows [top, bottom)
};

void CollectPolygonEdges(const Canvas& c, const Point* v, int32_t count, int32_t lineType,
                         int32_t shift, std::vector<Edge>* edges) {
  const int64_t delta = shift > 0 ? int64_t(1) << (shift - 1) : 0;
  const int32_t up = 16 - shift;
  auto at = [&](const Point& p) { return Point{p.x * (int64_t(1) << up), (p.y + delta) >> shift}; };
  Point p0 = at(v[count - 1]);
  for (int32_t i = 0; i < count; ++i) {
    Point p1 = at(v[i]);
    if (lineType < 16) {
      DrawLine8(c, lineType, Point{(p0.x + 0x8000) >> 16, p0.y},
                Point{(p1.x + 0x8000) >> 16, p1.y});
    } else {
      DrawLineAntialiased(c, Point{p0.x, p0.y * kOne}, Point{p1.x, p1.y * kOne});
    }
    if (p0.y != p1.y) {
      Edge e;
      e.dx = (p1.x - p0.x) / (p1.y - p0.y);
      if (p0.y < p1.y) {
        e.x = p0.x, e.top = p0.y, e.bottom = p1.y;
      } else {
        e.x = p1.x, e.top = p1.y, e.bottom = p0.y;
      }
      edges->push_back(e);
    }
    p0 = p1;
  }
}

void FillEdgeList(const Canvas& c, std::vector<Edge>& edges) {
  if (edges.size() < 2) return;
  std::sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) {
    if (a.top != b.top) return a.top < b.top;
    if (a.x != b.x) return a.x < b.x;
    return a.dx < b.dx;
  });
  int64_t yMax = INT64_MIN;
  for (const Edge& e : edges) yMax = std::max(yMax, e.bottom);
  yMax = std::min<int64_t>(yMax, c.height);
  std::vector<int32_t> active;
  active.reserve(edges.size());
  size_t next = 0;
  const size_t total = edges.size();
  for (int64_t y = edges[0].top; y < yMax; ++y) {
    // Edges that end here leave; edges that start here join in x order (before an equal x).
    active.erase(std::remove_if(active.begin(), active.end(),
                                [&](int32_t k) { return edges[size_t(k)].bottom == y; }),
                 active.end());
    while (next < total && edges[next].top == y) {
      auto at = std::find_if(active.begin(), active.end(),
                             [&](int32_t k) { return !(edges[size_t(k)].x < edges[next].x); });
      active.insert(at, int32_t(next));
      ++next;
    }
    if (y < 0) {
      // Above the canvas nothing is painted: jump to the row before the next event.
      int64_t event = 0;
      if (next < total) event = std::min(event, edges[next].top);
      for (int32_t k : active) event = std::min(event, edges[size_t(k)].bottom);
      int64_t skip = std::max<int64_t>(event - y - 1, 0);
      for (size_t k = 0; k + 1 < active.size(); k += 2) {
        edges[size_t(active[k])].x += edges[size_t(active[k])].dx * (skip + 1);
        edges[size_t(active[k + 1])].x += edges[size_t(active[k + 1])].dx * (skip + 1);
      }
      y += skip;
    } else {
      for (size_t k = 0; k + 1 < active.size(); k += 2) {
        Edge& a = edges[size_t(active[k])];
        Edge& b = edges[size_t(active[k + 1])];
        int64_t lo = std::min(a.x, b.x), hi = std::max(a.x, b.x);
        Span(c, y, (lo + 0xFFFF) >> 16, hi >> 16);
        a.x += a.dx;
        b.x += b.dx;
      }
    }
    // A bubble pass until sorted: the order changes little from row to row.
    for (bool swapped = true; swapped;) {
      swapped = false;
      for (size_t k = 0; k + 1 < active.size(); ++k)
        if (edges[size_t(active[k])].x > edges[size_t(active[k + 1])].x) {
          std::swap(active[k], active[k + 1]);
          swapped = true;
        }
    }
  }
}

}  // namespace

void FillPolygonEdges(const Canvas& c, const Point* const* contours, const int32_t* counts,
                      int32_t contourCount, int32_t lineType, int32_t shift) {
  if (contourCount <= 0) return Fail(kBadObject);
  if (!contours || !counts) return Fail(kNullPointer);
  if (shift < 0 || shift > 16) return Fail(kOutOfRange);
  if (lineType == 16 && !c.antialiasOk) lineType = 8;
  try {
    std::vector<Edge> edges;
    for (int32_t i = 0; i < contourCount; ++i) {
      if (counts[i] < 0) return Fail(kOutOfRange);
      if (counts[i] == 0) continue;
      if (!contours[i]) return Fail(kNullPointer);
      CollectPolygonEdges(c, contours[i], counts[i], lineType, shift, &edges);
    }
    FillEdgeList(c, edges);
  } catch (const std::bad_alloc&) {
    Fail(kNoMemory);
  }
}

void DrawLineSegment(const Canvas& c, Point p0, Point p1, int32_t thickness, int32_t lineType,
                     int32_t capFlags, int32_t shift) {
  if (lineType == 16 && !c.antialiasOk) lineType = 8;
  const int32_t up = 16 - shift;
  p0 = {p0.x * (int64_t(1) << up), p0.y * (int64_t(1) << up)};
  p1 = {p1.x * (int64_t(1) << up), p1.y * (int64_t(1) << up)};
  if (thickness < 2) {
    if (lineType == 16) {
      DrawLineAntialiased(c, p0, p1);
    } else if (lineType == 1 || lineType == 4 || shift == 0) {
      DrawLine8(c, lineType, Point{(p0.x + 0x8000) >> 16, (p0.y + 0x8000) >> 16},
                Point{(p1.x + 0x8000) >> 16, (p1.y + 0x8000) >> 16});
    } else {
      DrawLineFixed(c, p0, p1);
    }
    return;
  }
  const int64_t h = int64_t(thickness) * 32768;
  const double ex = double(p0.x - p1.x) / 65536.0, ey = double(p1.y - p0.y) / 65536.0;
  const double r2 = ex * ex + ey * ey;
  int64_t ddx = 0, ddy = 0;
  if (std::abs(r2) > 2.220446049250313e-16) {
    // The exact single-precision reciprocal of the root: the width never depends on an
    // approximation that differs between processors.
    const double f = double(h) * double(1.0f / std::sqrt(float(r2)));
    ddx = int64_t(std::nearbyint(ey * f));
    ddy = int64_t(std::nearbyint(ex * f));
  }
  const Point quad[4] = {{p0.x + ddx, p0.y + ddy},
                         {p0.x - ddx, p0.y - ddy},
                         {p1.x - ddx, p1.y - ddy},
                         {p1.x + ddx, p1.y + ddy}};
  FillConvexPolygon(c, quad, 4, lineType, 16);
  for (int k = 0; k < 2; ++k) {
    if (!(capFlags & (k + 1))) continue;
    const Point& p = k == 0 ? p0 : p1;
    if (lineType < 16) {
      DrawCircleRaster(c, Point{(p.x + 0x8000) >> 16, (p.y + 0x8000) >> 16}, h >> 16);
    } else {
      FillEllipseAntialiased(c, p, Point{h, h}, lineType);
    }
  }
}

void DrawThickLine(const Canvas& c, Point p1, Point p2, int32_t thickness, int32_t lineType,
                   int32_t shift) {
  if (uint32_t(thickness) > 255 || uint32_t(shift) > 16) return Fail(kOutOfRange);
  DrawLineSegment(c, p1, p2, thickness, lineType, 3, shift);
}

void DrawPolyLines(const Canvas& c, const Point* const* contours, const int32_t* counts,
                   int32_t contourCount, bool closed, int32_t thickness, int32_t lineType,
                   int32_t shift) {
  if (contourCount < 1 || thickness < -1 || thickness > 255) return Fail(kBadObject);
  if (!contours || !counts) return Fail(kNullPointer);
  if (uint32_t(shift) > 16) return Fail(kOutOfRange);
  for (int32_t k = 0; k < contourCount; ++k) {
    const Point* v = contours[k];
    const int32_t count = counts[k];
    if (count < 1) continue;
    if (!v) return Fail(kNullPointer);
    int32_t flags = closed ? 2 : 3;
    Point p0 = v[closed ? count - 1 : 0];
    for (int32_t i = closed ? 0 : 1; i < count; ++i) {
      DrawLineSegment(c, p0, v[i], thickness, lineType, flags, shift);
      p0 = v[i];
      flags = 2;
    }
  }
}

bool CanvasOf(qvRasterImage* image, Canvas* canvas) {
  qvRasterMatrix m;
  if (!GetRasterMatrixView(image, &m)) return false;
  canvas->data = m.data;
  canvas->bytesPerRow = image->bytesPerRow;
  canvas->width = m.columns;
  canvas->height = m.rows;
  canvas->antialiasOk = (m.type & 7) == 0;
  return true;
}

}  // namespace raster

void CreateCoverageImage(int32_t width, int32_t height, qvRasterImage** outImage, uint8_t** outData,
                         int32_t* outBytesPerRow) {
  if (!outImage) return Fail(raster::kNullPointer);
  *outImage = nullptr;
  qvRasterImage* image = CreateRasterImage(width, height, 8, 1);
  if (!image) return;
  std::memset(image->data, 0, size_t(image->imageSize));
  *outImage = image;
  if (outData) *outData = image->data;
  if (outBytesPerRow) *outBytesPerRow = image->bytesPerRow;
}

void DrawPolygonCoverage(qvRasterImage* image, const int32_t* points, int32_t count, bool antialias,
                         int32_t thickness) {
  ClearRasterStatus();
  raster::Canvas c;
  if (!points || count < 1 || !raster::CanvasOf(image, &c)) return;
  auto* copy = static_cast<raster::Point*>(
      image::Allocate(size_t(count) * sizeof(raster::Point), false));
  if (!copy) return;
  for (int32_t i = 0; i < count; ++i)
    copy[i] = {points[2 * int64_t(i)], points[2 * int64_t(i) + 1]};
  const raster::Point* contour = copy;
  const int32_t lineType = antialias ? 16 : 8;
  if (thickness == 0)
    raster::FillPolygonEdges(c, &contour, &count, 1, lineType, 0);
  else
    raster::DrawPolyLines(c, &contour, &count, 1, true, thickness, lineType, 0);
  std::free(copy);
}

void DrawLineCoverage(qvRasterImage* image, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                      bool antialias, int32_t thickness) {
  ClearRasterStatus();
  raster::Canvas c;
  if (!raster::CanvasOf(image, &c)) return;
  raster::DrawThickLine(c, raster::Point{x1, y1}, raster::Point{x2, y2}, thickness,
                        antialias ? 16 : 8, 0);
}

void ReleaseCoverageImage(qvRasterImage* image) {
  ClearRasterStatus();
  if (image) ReleaseRasterImage(&image);
}

}  // namespace qv
