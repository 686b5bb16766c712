// Gradient fills: the stop table and its lookup, the linear, radial and conical spans, and the
// stop-less angle gradient.
#include <algorithm>
#include <cmath>

#include "base/support.h"
#include "image/image.h"
#include "image/internal.h"

namespace qv {

namespace {

constexpr double kDegrees = 0.017453292519943295;
constexpr double kTwoPi = 6.283185307179586;

qvGradientEntry Entry(int32_t position, uint32_t colour) {
  colour &= 0xFFFFFF;
  qvGradientEntry e{};
  e.position = position;
  e.colour = colour;
  e.red = uint16_t(image::Red(colour) * 257);
  e.green = uint16_t(image::Green(colour) * 257);
  e.blue = uint16_t(image::Blue(colour) * 257);
  return e;
}

// A stop position in 16.16, held to 0 .. 65536 (NaN at 0).
int32_t StopPosition(double position) {
  if (!(position > 0)) return 0;
  if (position >= 1) return 65536;
  return int32_t(position * 65536);
}

// Linear weighting of two packed colours by w (0 .. 256), red and blue together.
inline uint32_t Weigh(uint32_t c0, uint32_t c1, uint32_t w) {
  uint32_t rb = (((c0 & 0xFF00FF) * (256 - w) + (c1 & 0xFF00FF) * w) >> 8) & 0xFF00FF;
  uint32_t g = (((c0 & 0xFF00) * (256 - w) + (c1 & 0xFF00) * w) >> 8) & 0xFF00;
  return rb | g;
}

// The segment [s0, s1) that a span walks; a pixel outside it looks the segment up again.
struct Cursor {
  const qvGradientTable& table;
  int64_t s0 = 1, s1 = 0;  // empty until the first lookup
  uint32_t c0 = 0, c1 = 0;
  int64_t inv = 0;

  uint32_t At(int64_t p) {
    if (p >= s0 && p < s1) return Weigh(c0, c1, uint32_t(((p - s0) * inv) >> 16));
    const int32_t n = table.count;
    const qvGradientEntry* e = table.entries;
    if (p < e[0].position) return e[0].colour;
    if (p >= e[n - 1].position) return e[n - 1].colour;
    // The first stop past p: stops at one position leave the later one below p.
    int32_t i = 1;
    while (e[i].position <= p) ++i;
    s0 = e[i - 1].position, s1 = e[i].position;
    c0 = e[i - 1].colour, c1 = e[i].colour;
    inv = (((s1 - s0) / 2) + 16777216) / (s1 - s0);
    return Weigh(c0, c1, uint32_t(((p - s0) * inv) >> 16));
  }
};

inline uint32_t Channel(int64_t v) { return uint32_t(std::clamp<int64_t>(v, 0, 255)); }

inline void Store(uint32_t* d, uint32_t rgb, int32_t format) {
  *d = ConvertPixelOrder(format, rgb);
}

// A double position as 16.16, held far inside 64 bits (NaN at 0).
inline int64_t Position(double v) {
  if (!(v > -1e12)) return std::isnan(v) ? 0 : int64_t(-1e12);
  if (v > 1e12) return int64_t(1e12);
  return int64_t(std::floor(v));
}

}  // namespace

void BuildGradientTable(const qvGradient& g, qvGradientTable* table) {
  table->count = 0;
  auto* e = table->entries;
  int32_t n = std::clamp(g.stopCount, 0, kMaxGradientStops);
  if (n > 0) {
    for (int32_t i = 0; i < n; ++i)
      e[i] = Entry(StopPosition(g.stops[i].position), g.stops[i].colour);
    std::stable_sort(e, e + n, [](const qvGradientEntry& a, const qvGradientEntry& b) {
      return a.position < b.position;
    });
    table->count = n;
    return;
  }
  if (g.type == kGradientConical) {
    // The sweep runs end, start at the balance, end: it comes back to its first colour.
    e[0] = Entry(0, g.endColour);
    e[1] = Entry(StopPosition(g.balance), g.startColour);
    e[2] = Entry(65536, g.endColour);
    table->count = 3;
    return;
  }
  e[0] = Entry(0, g.startColour);
  e[1] = Entry(65536, g.endColour);
  table->count = 2;
}

uint32_t GradientStopLookup(const qvGradientTable& table, int64_t p, GradientLookup mode) {
  if (table.count < 1) return 0;
  if (mode == GradientLookup::kRepeat) p &= 0xFFFF;
  Cursor cursor{table};
  return cursor.At(p);
}

void LinearGradientSpan(uint32_t* d, int32_t x0, int32_t y, int32_t n, int32_t width,
                        int32_t height, const qvGradient& g, const qvGradientTable& table,
                        int32_t format) {
  // The direction of the angle (0 down, 90 right); positions run along it from the corner
  // where the projection is smallest to the opposite one.
  int32_t a = 360 - ((g.angle % 360 + 360) % 360);
  double theta = a * kDegrees;
  double ux = -std::sin(theta), uy = std::cos(theta);
  double w1 = std::max(width - 1, 0), h1 = std::max(height - 1, 0);
  double lo = std::min(0.0, ux * w1) + std::min(0.0, uy * h1);
  double span = std::abs(ux) * w1 + std::abs(uy) * h1;
  double scale = span > 1e-9 ? 65536.0 / span : 0;
  Cursor cursor{table};
  double base = (uy * y - lo) * scale, step = ux * scale;
  for (int32_t i = 0; i < n; ++i)
    Store(d + i, cursor.At(Position(base + (x0 + i) * step + 0.5)), format);
}

void RadialGradientSpan(uint32_t* d, int32_t x0, int32_t y, int32_t n, int32_t width,
                        int32_t height, const qvGradient& g, const qvGradientTable& table,
                        int32_t format) {
  double cx = g.centreX * width, cy = g.centreY * height;
  double border = std::isnan(g.border) ? 0 : std::clamp(g.border, 0.0, 0.99);
  double reach = std::max(std::abs(0.5 - g.centreX), std::abs(0.5 - g.centreY)) + 0.5;
  double radius = std::sqrt(double(width) * width + double(height) * height) * reach * (1 - border);
  double scale = radius > 1e-9 ? 65536.0 / radius : 0;
  Cursor cursor{table};
  double dy = y - cy;
  for (int32_t i = 0; i < n; ++i) {
    double dx = x0 + i - cx;
    Store(d + i, cursor.At(Position(std::sqrt(dx * dx + dy * dy) * scale + 0.5)), format);
  }
}

void ConicalGradientSpan(uint32_t* d, int32_t x0, int32_t y, int32_t n, int32_t width,
                         int32_t height, const qvGradient& g, const qvGradientTable& table,
                         int32_t format) {
  double cx = g.centreX * width, cy = g.centreY * height;
  double start = (g.angle % 360) * kDegrees;
  Cursor cursor{table};
  double dy = y - cy;
  for (int32_t i = 0; i < n; ++i) {
    double turn = std::atan2(dy, x0 + i - cx) - start;
    turn -= std::floor(turn / kTwoPi) * kTwoPi;
    int64_t p = Position(turn / kTwoPi * 65536.0 + 0.5);
    // Every second period runs backwards, so the sweep meets itself without a seam.
    p = (p & 0x10000) ? 65536 - (p & 0xFFFF) : (p & 0xFFFF);
    Store(d + i, cursor.At(p), format);
  }
}

void GradientKernel(const GradientRecord& r) {
  if (!r.gradient || !r.pixels || r.bytesPerPixel != 4 || r.width < 1 || r.height < 1) return;
  const qvGradient& g = *r.gradient;
  auto* base = reinterpret_cast<uint32_t*>(r.pixels);
  if (g.type == kGradientLinear && g.stopCount <= 0) {
    GradientAngleKernel(g.endColour, base, r.left, r.top, r.width, g.startColour, g.angle,
                        r.pixelsPerRow, r.format, r.height);
    return;
  }
  decltype(&LinearGradientSpan) span = nullptr;
  if (g.type == kGradientLinear) span = LinearGradientSpan;
  if (g.type == kGradientRadial) span = RadialGradientSpan;
  if (g.type == kGradientConical) span = ConicalGradientSpan;
  if (!span) return;
  qvGradientTable table;
  BuildGradientTable(g, &table);
  for (int32_t y = 0; y < r.height; ++y)
    span(base + int64_t(r.top + y) * r.pixelsPerRow + r.left, 0, y, r.width, r.width, r.height, g,
         table, r.format);
}

void GradientAngleKernel(uint32_t end, uint32_t* pixels, int32_t left, int32_t top, int32_t width,
                         uint32_t start, int32_t angle, int32_t pixelsPerRow, int32_t format,
                         int32_t height) {
  if (!pixels || width < 1 || height < 1) return;
  // c and s come from the raw angle; only the quadrant choice uses the angle brought into
  // 0 .. 359.
  double theta = double(angle) * 3.141592653589793 / 180.0;
  const int64_t c = TruncateToInt(-255.0 * std::cos(theta));
  const int64_t s = TruncateToInt(255.0 * std::sin(theta));
  int64_t a = angle < 0 ? 360 - ((-int64_t(angle)) % 360) : angle % 360;
  if (a == 360) a = 0;
  const int64_t W = width, H = height;
  // t = H (numerator) / denominator; the numerator at (i, j) is n0 + ni i + nj j.
  int64_t den, n0, ni, nj;
  if (a <= 90) {
    den = s * W - c * H, n0 = 0, ni = s, nj = -c;
  } else if (a <= 180) {
    den = s * W + c * H, n0 = c * H, ni = s, nj = -c;
  } else if (a <= 270) {
    den = s * W - c * H, n0 = s * W - c * H, ni = -s, nj = c;
  } else {
    den = s * W + c * H, n0 = s * W, ni = -s, nj = c;
  }
  const int sr = image::Red(start), sg = image::Green(start), sb = image::Blue(start);
  const int64_t dr = image::Red(end) - sr, dg = image::Green(end) - sg, db = image::Blue(end) - sb;
  for (int64_t j = 0; j < H; ++j) {
    uint32_t* d = pixels + (top + j) * pixelsPerRow + left;
    int64_t num = n0 + nj * j;
    for (int64_t i = 0; i < W; ++i, num += ni) {
      int64_t t = den != 0 ? H * num / den : 0;
      uint32_t rgb = Channel(sr + t * dr / H) << 16 | Channel(sg + t * dg / H) << 8 |
                     Channel(sb + t * db / H);
      Store(d + i, rgb, format);
    }
  }
}

}  // namespace qv
