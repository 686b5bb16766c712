// Filters and colour effects: Gaussian-derived convolutions over edge-extended copies, the level
// stretch, per-pixel colour transforms in hue/saturation/brightness and hue/saturation/lightness,
// oil paint, and the wrappers in front of them (locks, argument rules, the multi-step filters).
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/errors.h"
#include "image/filters_internal.h"
#include "image/image.h"
#include "image/internal.h"
#include "image/quantize.h"

namespace qv {

namespace image {

namespace {

inline int LaneOf(uint32_t p, int lane) { return int((p >> (8 * lane)) & 0xFF); }

inline uint32_t Limit(double s) {
  if (s <= 0) return 0;
  if (s >= 255) return 255;
  return uint32_t(s);
}

}  // namespace

void BlurRowScalar(uint32_t* out, const uint32_t* src, const double* kernel, int32_t taps,
                   int32_t n, uint32_t keep) {
  for (int32_t x = 0; x < n; ++x) {
    uint32_t result = 0;
    for (int lane = 0; lane < 4; ++lane) {
      if (!((keep >> (8 * lane)) & 0xFF)) continue;
      double sum = 0.0;
      for (int32_t k = 0; k < taps; ++k) sum += kernel[k] * LaneOf(src[x + k], lane);
      result |= Limit(sum) << (8 * lane);
    }
    out[x] = result;
  }
}

void BlurColumnScalar(uint32_t* out, const uint32_t* const* rows, const double* kernel,
                      int32_t taps, int32_t n, uint32_t keep) {
  for (int32_t x = 0; x < n; ++x) {
    uint32_t result = 0;
    for (int lane = 0; lane < 4; ++lane) {
      if (!((keep >> (8 * lane)) & 0xFF)) continue;
      double sum = 0.0;
      for (int32_t k = 0; k < taps; ++k) sum += kernel[k] * LaneOf(rows[k][x], lane);
      result |= Limit(sum) << (8 * lane);
    }
    out[x] = result;
  }
}

void SquareRowScalar(uint32_t* out, const uint32_t* const* rows, const double* kernel, int32_t taps,
                     int32_t n, uint32_t keep) {
  for (int32_t x = 0; x < n; ++x) {
    uint32_t result = 0;
    for (int lane = 0; lane < 4; ++lane) {
      if (!((keep >> (8 * lane)) & 0xFF)) continue;
      double sum = 0.0;
      for (int32_t v = 0; v < taps; ++v)
        for (int32_t u = 0; u < taps; ++u)
          sum += kernel[int64_t(v) * taps + u] * LaneOf(rows[v][x + u], lane);
      result |= Limit(sum) << (8 * lane);
    }
    out[x] = result;
  }
}

void GammaRowsScalar(uint32_t* p, int32_t width, int32_t height, int32_t pixelsPerRow,
                     const uint8_t (*lanes)[256], int /*spareLane*/) {
  for (int32_t y = 0; y < height; ++y) {
    uint32_t* row = p + int64_t(y) * pixelsPerRow;
    for (int32_t x = 0; x < width; ++x) {
      const uint32_t v = row[x];
      row[x] = uint32_t(lanes[0][v & 0xFF]) | uint32_t(lanes[1][v >> 8 & 0xFF]) << 8 |
               uint32_t(lanes[2][v >> 16 & 0xFF]) << 16 | uint32_t(lanes[3][v >> 24]) << 24;
    }
  }
}

void SolarizeRowScalar(uint32_t* p, int32_t n, uint32_t threshold, uint32_t keep) {
  for (int32_t x = 0; x < n; ++x) {
    uint32_t result = 0;
    for (int lane = 0; lane < 4; ++lane) {
      if (!((keep >> (8 * lane)) & 0xFF)) continue;
      uint32_t c = uint32_t(LaneOf(p[x], lane));
      result |= (c > threshold ? 255 - c : c) << (8 * lane);
    }
    p[x] = result;
  }
}

namespace {

constexpr FilterPaths kScalarFilters = {BlurRowScalar, BlurColumnScalar, SquareRowScalar,
                                        SolarizeRowScalar, GammaRowsScalar};

}  // namespace

const FilterPaths& CurrentFilterPaths() {
  if (CurrentSimdLevel() == SimdLevel::kAvx2)
    if (const FilterPaths* p = Avx2FilterPaths()) return *p;
  return kScalarFilters;
}

}  // namespace image

namespace {

using image::Allocate;

constexpr double kSqrt2Pi = 2.5066282746310002;
constexpr double kPi = 3.14159265358979323846;
constexpr int64_t kMaxPlaneBytes = int64_t(1) << 31;

// The colour bytes of a 32-bit format: the spare byte is the top one in formats 10 and 13.
uint32_t ColourBytes(int32_t format) {
  return format == kPixBGRx32 || format == kPixRGBx32 ? 0xFFFFFF00u : 0x00FFFFFFu;
}

// Where red, green and blue sit in a pixel word of the format (10 and unknown codes: 0x00RRGGBB).
struct Shifts {
  int r, g, b;
};
Shifts ChannelShifts(int32_t format) {
  switch (format) {
    case kPixBGRx32:
      return {8, 16, 24};
    case kPixRGBx32:
      return {24, 16, 8};
    case kPixxBGR32:
      return {0, 8, 16};
    default:
      return {16, 8, 0};
  }
}

inline int At(uint32_t p, int shift) { return int((p >> shift) & 0xFF); }
inline uint32_t Pack(int r, int g, int b, const Shifts& s) {
  return uint32_t(r) << s.r | uint32_t(g) << s.g | uint32_t(b) << s.b;
}
inline uint32_t LimitByte(double v) {
  if (v <= 0) return 0;
  if (v >= 255) return 255;
  return uint32_t(v);
}

// Green, red and blue summed in this order in double: the order fixes the last bit that the
// truncation sees.
inline double Intensity(int r, int g, int b) {
  double sum = 0.587 * g;
  sum += 0.299 * r;
  sum += 0.114 * b;
  return sum;
}

// An edge-extended copy of a plane of `lane`-byte entries: `border` entries more on each side,
// filled with the nearest edge entry; rows padded to a multiple of 4 entries plus 4.
template <typename T>
struct Extended {
  T* data = nullptr;
  int64_t stride = 0;  // entries
  ~Extended() { std::free(data); }
  bool Make(const T* src, int64_t srcStride, int32_t width, int32_t height, int64_t border) {
    const int64_t w = int64_t(width) + 2 * border, h = int64_t(height) + 2 * border;
    stride = ((w + 3) & ~int64_t{3}) + 4;
    if (stride > kMaxPlaneBytes || h > kMaxPlaneBytes ||
        stride > kMaxPlaneBytes / int64_t(sizeof(T)) / h)
      return false;
    if (!data) data = static_cast<T*>(Allocate(size_t(stride * h) * sizeof(T), false));
    if (!data) return false;
    Fill(src, srcStride, width, height, border);
    return true;
  }
  void Fill(const T* src, int64_t srcStride, int32_t width, int32_t height, int64_t border) {
    const int64_t h = int64_t(height) + 2 * border;
    for (int64_t y = 0; y < h; ++y) {
      const int64_t sy = std::clamp<int64_t>(y - border, 0, height - 1);
      const T* s = src + sy * srcStride;
      T* d = data + y * stride;
      std::fill(d, d + border, s[0]);
      std::memcpy(d + border, s, size_t(width) * sizeof(T));
      std::fill(d + border + width, d + border + width + border, s[width - 1]);
    }
  }
  T* Row(int64_t y) const { return data + y * stride; }
};

// A block of doubles from the image engine's allocator.
struct Doubles {
  double* p = nullptr;
  explicit Doubles(int64_t n) {
    if (n > 0 && n <= kMaxPlaneBytes / 8) p = static_cast<double*>(Allocate(size_t(n) * 8, true));
  }
  ~Doubles() { std::free(p); }
  Doubles(const Doubles&) = delete;
  Doubles& operator=(const Doubles&) = delete;
};

// The two blur passes read the image as its edge-extended copy would show it, without making
// that copy: the horizontal pass extends one row at a time, the vertical pass reads a copy of the
// first pass's result through row pointers held inside the picture.
template <typename T>
struct Scratch {
  T* data = nullptr;
  explicit Scratch(int64_t n) {
    if (n > 0 && n * int64_t(sizeof(T)) <= kMaxPlaneBytes)
      data = static_cast<T*>(Allocate(size_t(n) * sizeof(T), false));
  }
  ~Scratch() { std::free(data); }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
};

template <typename T>
void ExtendRow(const T* src, int32_t width, int64_t half, T* out) {
  std::fill(out, out + half, src[0]);
  std::memcpy(out + half, src, size_t(width) * sizeof(T));
  std::fill(out + half + width, out + 2 * half + width, src[width - 1]);
}

template <typename T>
void ColumnRows(const T* copy, int32_t width, int32_t height, int32_t y, int64_t half, int32_t taps,
                const T** rows) {
  for (int32_t k = 0; k < taps; ++k) {
    const int64_t sy = std::clamp<int64_t>(int64_t(y) + k - half, 0, height - 1);
    rows[k] = copy + sy * width;
  }
}

void BlurSeparable32(const image::FilterPaths& paths, uint32_t* px, int32_t width, int32_t height,
                     int32_t ppr, uint32_t keep, const double* kernel, int32_t taps) {
  const int64_t half = taps / 2;
  Scratch<uint32_t> row(int64_t(width) + 2 * half + 8);
  Scratch<uint32_t> copy(int64_t(width) * height);
  Scratch<const uint32_t*> rows(taps);
  if (!row.data || !copy.data || !rows.data) return;
  for (int32_t y = 0; y < height; ++y) {
    uint32_t* line = px + int64_t(y) * ppr;
    ExtendRow(line, width, half, row.data);
    paths.blurRow(line, row.data, kernel, taps, width, keep);
    std::memcpy(copy.data + int64_t(y) * width, line, size_t(width) * 4);
  }
  // The second pass reads the first's limited result.
  for (int32_t y = 0; y < height; ++y) {
    ColumnRows<uint32_t>(copy.data, width, height, y, half, taps, rows.data);
    paths.blurColumn(px + int64_t(y) * ppr, rows.data, kernel, taps, width, keep);
  }
}

void BlurSeparable8(uint8_t* alpha, int32_t width, int32_t height, int32_t bpr,
                    const double* kernel, int32_t taps) {
  const int64_t half = taps / 2;
  Scratch<uint8_t> row(int64_t(width) + 2 * half + 8);
  Scratch<uint8_t> copy(int64_t(width) * height);
  Scratch<const uint8_t*> rows(taps);
  if (!row.data || !copy.data || !rows.data) return;
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* d = alpha + int64_t(y) * bpr;
    ExtendRow(d, width, half, row.data);
    for (int32_t x = 0; x < width; ++x) {
      double sum = 0.0;
      for (int32_t k = 0; k < taps; ++k) sum += kernel[k] * row.data[x + k];
      d[x] = uint8_t(LimitByte(sum));
    }
    std::memcpy(copy.data + int64_t(y) * width, d, size_t(width));
  }
  for (int32_t y = 0; y < height; ++y) {
    ColumnRows<uint8_t>(copy.data, width, height, y, half, taps, rows.data);
    uint8_t* d = alpha + int64_t(y) * bpr;
    for (int32_t x = 0; x < width; ++x) {
      double sum = 0.0;
      for (int32_t k = 0; k < taps; ++k) sum += kernel[k] * rows.data[k][x];
      d[x] = uint8_t(LimitByte(sum));
    }
  }
}

void Convolve2D32(const image::FilterPaths& paths, uint32_t* px, int32_t width, int32_t height,
                  int32_t ppr, uint32_t keep, const double* kernel, int32_t taps) {
  const int64_t half = taps / 2;
  Extended<uint32_t> ext;
  if (!ext.Make(px, ppr, width, height, half)) return;
  std::vector<const uint32_t*> rows(static_cast<size_t>(taps));
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t v = 0; v < taps; ++v) rows[size_t(v)] = ext.Row(int64_t(y) + v);
    paths.squareRow(px + int64_t(y) * ppr, rows.data(), kernel, taps, width, keep);
  }
}

void Convolve2D8(uint8_t* alpha, int32_t width, int32_t height, int32_t bpr, const double* kernel,
                 int32_t taps) {
  const int64_t half = taps / 2;
  Extended<uint8_t> ext;
  if (!ext.Make(alpha, bpr, width, height, half)) return;
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* d = alpha + int64_t(y) * bpr;
    for (int32_t x = 0; x < width; ++x) {
      double sum = 0.0;
      for (int32_t v = 0; v < taps; ++v) {
        const uint8_t* s = ext.Row(int64_t(y) + v) + x;
        for (int32_t u = 0; u < taps; ++u) sum += kernel[int64_t(v) * taps + u] * s[u];
      }
      d[x] = uint8_t(LimitByte(sum));
    }
  }
}

// exp(-d / (2 sigma^2)) / denominator for d = 0, 1, ...: the searches meet the same squared
// distances again and again.
struct GaussTerms {
  double sigma, denominator;
  std::vector<double> terms;
  double operator()(int64_t d) {
    while (int64_t(terms.size()) <= d) {
      double dd = double(terms.size());
      terms.push_back(std::exp(-dd / (2.0 * sigma * sigma)) / denominator);
    }
    return terms[size_t(d)];
  }
};

int32_t RadiusWidth(double radius) {
  double half = std::ceil(radius);
  if (half >= 1073741823.0) return INT32_MAX;  // (INT32_MAX - 1) / 2
  return int32_t(2 * int64_t(half) + 1);
}

// The square kernel of emboss, edge or sharpen, scaled by 1 / its sum.
void BuildSquareKernel(int32_t mode, int32_t taps, double sigma, double* k) {
  const int32_t r = taps / 2;
  if (std::abs(sigma) <= 1e-10) sigma = 1.0;
  const double denominator = 2.0 * kPi * sigma * sigma;
  for (int32_t v = -r; v <= r; ++v) {
    for (int32_t u = -r; u <= r; ++u) {
      double& e = k[int64_t(v + r) * taps + (u + r)];
      const double g = std::exp(-double(int64_t(u) * u + int64_t(v) * v) / (2.0 * sigma * sigma));
      if (mode == 'e') {
        e = u == -v ? (u >= 0 && v >= 0 ? 8.0 : -8.0) * g / denominator : 0.0;
      } else if (mode == 'g') {
        e = -1.0;
      } else {
        e = -g / denominator;
      }
    }
  }
  const int64_t centre = int64_t(r) * taps + r;
  if (mode == 'g') k[centre] = double(int64_t(taps) * taps - 1);
  const int64_t n = int64_t(taps) * taps;
  if (mode == 's') {
    double sum = 0.0;
    for (int64_t i = 0; i < n; ++i) sum += k[i];
    k[centre] = -2.0 * sum;
  }
  double sum = 0.0;
  for (int64_t i = 0; i < n; ++i) sum += k[i];
  const double scale = std::abs(sum) < 1e-10 ? 1.0 : 1.0 / sum;
  for (int64_t i = 0; i < n; ++i) k[i] *= scale;
}

// The 2-D search with the image's bound: emboss and sharpen do nothing past it anyway.
int32_t SearchWidth2D(double radius, double sigma, int64_t limit) {
  if (radius > 0) return RadiusWidth(radius);
  if (!std::isfinite(sigma)) return 1;
  GaussTerms edge{sigma, kSqrt2Pi * sigma, {}};
  GaussTerms cell{sigma, 2.0 * kPi * sigma * sigma, {}};
  for (int64_t width = 5;; width += 2) {
    const int64_t h = width / 2;
    double n = 0.0;
    for (int64_t v = -h; v <= h; ++v)
      for (int64_t u = -h; u <= h; ++u) n += cell(u * u + v * v);
    const double e = edge(h * h);
    if (e / n < 0.00392156862745098) return int32_t(width - 2);
    if (width - 2 > limit) return int32_t(width);
  }
}

}  // namespace

int32_t OptimalKernelWidth1D(double radius, double sigma) {
  if (radius > 0) return RadiusWidth(radius);
  if (std::abs(sigma) <= 1e-10) return 1;
  if (!std::isfinite(sigma)) return 1;
  GaussTerms term{sigma, kSqrt2Pi * sigma, {}};
  // The edge term is the least of the 2h + 1 terms, so the search ends by width 257.
  for (int64_t width = 5; width < 1024; width += 2) {
    const int64_t h = width / 2;
    double n = 0.0;
    for (int64_t u = -h; u <= h; ++u) n += term(u * u);
    const double e = term(h * h);
    if (std::trunc(255.0 * e / n) < 1.0) return int32_t(width - 2);
  }
  return 1;
}

int32_t OptimalKernelWidth2D(double radius, double sigma, int32_t limit) {
  return SearchWidth2D(radius, sigma, std::max<int64_t>(limit, 1));
}

bool BuildBlurKernel(int32_t width, double sigma, double* kernel) {
  if (width < 1) return false;
  std::fill(kernel, kernel + width, 0.0);
  const int64_t bias = 3 * int64_t(width) / 2;
  for (int64_t i = -bias; i <= bias; ++i)
    kernel[(i + bias) / 3] += std::exp(-double(i * i) / (18.0 * sigma * sigma)) /
                              (kSqrt2Pi * sigma);
  double sum = 0.0;
  for (int32_t i = 0; i < width; ++i) sum += kernel[i];
  if (!(sum > 0) || !std::isfinite(sum)) return false;
  for (int32_t i = 0; i < width; ++i) kernel[i] /= sum;
  return true;
}

void ConvolveKernel(const ConvolveRecord& r) {
  if (r.width < 1 || r.height < 1) return;
  if (!std::isfinite(r.radius) || !std::isfinite(r.sigma)) return;
  uint32_t* px = r.bytesPerPixel == 4 ? r.pixels : nullptr;
  if (!px && !r.alpha) return;
  const image::FilterPaths& paths = image::CurrentFilterPaths();
  const uint32_t keep = ColourBytes(r.format);
  if (r.mode == 'b') {
    const double sigma = std::abs(r.sigma);
    if (sigma < 1e-10) return;
    const int32_t taps = OptimalKernelWidth1D(r.radius, sigma);
    // The extended copy decides whether the blur can be had at all, before the kernel is made.
    const int64_t border = 2 * int64_t(taps / 2);
    if (border > kMaxPlaneBytes ||
        double(int64_t(r.width) + border + 8) * double(int64_t(r.height) + border) >
            double(kMaxPlaneBytes) / 4)
      return;
    Doubles kernel(taps);
    if (!kernel.p || !BuildBlurKernel(taps, sigma, kernel.p)) return;
    if (px) BlurSeparable32(paths, px, r.width, r.height, r.pixelsPerRow, keep, kernel.p, taps);
    if (r.alpha) BlurSeparable8(r.alpha, r.width, r.height, r.alphaBytesPerRow, kernel.p, taps);
    return;
  }
  if (r.mode != 'e' && r.mode != 'g' && r.mode != 's') return;
  const int64_t limit = std::min(r.width, r.height);
  const int32_t taps = r.mode == 'g' ? OptimalKernelWidth1D(r.radius, 0.5)
                                     : SearchWidth2D(r.radius, r.sigma, limit);
  if (taps % 2 == 0 || taps > limit) return;
  Doubles kernel(int64_t(taps) * taps);
  if (!kernel.p) return;
  BuildSquareKernel(r.mode, taps, r.sigma, kernel.p);
  if (px) Convolve2D32(paths, px, r.width, r.height, r.pixelsPerRow, keep, kernel.p, taps);
  if (r.alpha) Convolve2D8(r.alpha, r.width, r.height, r.alphaBytesPerRow, kernel.p, taps);
}

void SolarizeKernel(uint32_t* pixels, int32_t width, int32_t height, int32_t pixelsPerRow,
                    int32_t format, int32_t threshold) {
  if (width < 1 || height < 1) return;
  const image::FilterPaths& paths = image::CurrentFilterPaths();
  const uint32_t t = uint32_t(std::clamp(threshold, 0, 255));
  for (int32_t y = 0; y < height; ++y)
    paths.solarizeRow(pixels + int64_t(y) * pixelsPerRow, width, t, ColourBytes(format));
}

void BuildGammaTable(double gamma, uint8_t table[256]) {
  if (!(gamma > 0)) {
    std::memset(table, 0, 256);
    return;
  }
  for (int i = 0; i < 256; ++i) {
    double v = 255.0 * std::pow(i / 255.0, 1.0 / gamma) + 0.5;
    table[i] = uint8_t(LimitByte(std::trunc(v)));
  }
}

void GammaKernel(const GammaRecord& r) {
  const Shifts s = ChannelShifts(r.format);
  // One table for each byte of the pixel word: the channels' tables (or the identity) at their
  // places, zeros for the spare byte.
  alignas(64) uint8_t lanes[4][256] = {};
  for (int i = 0; i < 256; ++i) {
    lanes[s.r / 8][i] = (r.channels & 1) && r.red ? r.red[i] : uint8_t(i);
    lanes[s.g / 8][i] = (r.channels & 2) && r.green ? r.green[i] : uint8_t(i);
    lanes[s.b / 8][i] = (r.channels & 4) && r.blue ? r.blue[i] : uint8_t(i);
  }
  const int spare = ColourBytes(r.format) & 0xFF ? 3 : 0;
  image::CurrentFilterPaths().gammaRows(r.pixels, r.width, r.height, r.pixelsPerRow, lanes, spare);
}

namespace {

// One contrast step of one pixel; `curve` holds the new brightness for each maximum channel.
uint32_t ContrastPixel(uint32_t p, const Shifts& s, const double* curve) {
  const int r = At(p, s.r), g = At(p, s.g), b = At(p, s.b);
  const int max = std::max({r, g, b}), min = std::min({r, g, b});
  double hue = 0.0, saturation = 0.0;
  if (max != 0) {
    const double delta = max - min;
    saturation = delta / max;
    if (delta != 0) {
      if (r == max)
        hue = (g - b) / delta;
      else if (g == max)
        hue = 2.0 + (b - r) / delta;
      else
        hue = 4.0 + (r - g) / delta;
      hue /= 6.0;
      if (hue < 0) hue += 1.0;
    }
  }
  const double bright = curve[max];
  if (saturation == 0.0) {
    const uint32_t v = LimitByte(bright * 255.0);
    return Pack(int(v), int(v), int(v), s);
  }
  const double h6 = 6.0 * (hue - std::floor(hue));
  const double f = h6 - std::floor(h6);
  const double pp = bright * (1.0 - saturation);
  const double q = bright * (1.0 - saturation * f);
  const double t = bright * (1.0 - saturation * (1.0 - f));
  double rr, gg, bb;
  switch (int(std::floor(h6))) {
    case 0:
      rr = bright, gg = t, bb = pp;
      break;
    case 1:
      rr = q, gg = bright, bb = pp;
      break;
    case 2:
      rr = pp, gg = bright, bb = t;
      break;
    case 3:
      rr = pp, gg = q, bb = bright;
      break;
    case 4:
      rr = t, gg = pp, bb = bright;
      break;
    default:
      rr = bright, gg = pp, bb = q;
      break;
  }
  return Pack(int(LimitByte(rr * 255.0)), int(LimitByte(gg * 255.0)), int(LimitByte(bb * 255.0)),
              s);
}

void ContrastCurve(int32_t sign, double curve[256]) {
  for (int m = 0; m < 256; ++m) {
    double bright = m / 255.0;
    bright += 0.5 * sign * (0.5 * (std::sin(kPi * (bright - 0.5)) + 1.0) - bright);
    curve[m] = std::clamp(bright, 0.0, 1.0);
  }
}

// Runs the contrast step `times` times on every pixel. A pixel's steps depend on the pixel alone,
// so each pixel is stepped on its own and stops once it comes back to a value it had: from there
// its values repeat, and the rest of the steps are counted off the cycle.
void ContrastRepeat(uint32_t* pixels, int32_t width, int32_t height, int32_t ppr, int32_t format,
                    int32_t sign, int64_t times) {
  const Shifts s = ChannelShifts(format);
  const uint32_t keep = ColourBytes(format);
  double curve[256];
  ContrastCurve(sign, curve);
  constexpr int kHistory = 64;
  uint32_t seen[kHistory];
  for (int32_t y = 0; y < height; ++y) {
    uint32_t* row = pixels + int64_t(y) * ppr;
    for (int32_t x = 0; x < width; ++x) {
      // seen[i] holds the value after i steps while the steps fit the history.
      uint32_t v = row[x] & keep;
      int64_t step = 0;
      int count = 0;
      while (step < times) {
        if (count == step && count < kHistory) seen[count++] = v;
        v = ContrastPixel(v, s, curve);
        ++step;
        if (count != step) continue;
        int at = -1;
        for (int i = 0; i < count; ++i)
          if (seen[i] == v) at = i;
        if (at < 0) continue;
        for (int64_t rest = (times - step) % (step - at); rest > 0; --rest)
          v = ContrastPixel(v, s, curve);
        break;
      }
      row[x] = v;
    }
  }
}

}  // namespace

void ContrastKernel(uint32_t* pixels, int32_t width, int32_t height, int32_t pixelsPerRow,
                    int32_t format, int32_t sign) {
  const Shifts s = ChannelShifts(format);
  double curve[256];
  ContrastCurve(sign, curve);
  for (int32_t y = 0; y < height; ++y) {
    uint32_t* row = pixels + int64_t(y) * pixelsPerRow;
    for (int32_t x = 0; x < width; ++x) row[x] = ContrastPixel(row[x], s, curve);
  }
}

namespace {

double HueToChannel(double m1, double m2, double h) {
  if (h < 0) h += 1.0;
  if (h > 1) h -= 1.0;
  if (6.0 * h < 1.0) return m1 + (m2 - m1) * 6.0 * h;
  if (2.0 * h < 1.0) return m2;
  if (3.0 * h < 2.0) return m1 + (m2 - m1) * (2.0 / 3.0 - h) * 6.0;
  return m1;
}

}  // namespace

void ModulateKernel(const ModulateRecord& r) {
  const Shifts s = ChannelShifts(r.format);
  const double hueShift = 0.5 * (0.01 * r.hue - 1.0);
  const double satFactor = 0.01 * r.saturation, lightFactor = 0.01 * r.brightness;
  for (int32_t y = 0; y < r.height; ++y) {
    uint32_t* row = r.pixels + int64_t(y) * r.pixelsPerRow;
    for (int32_t x = 0; x < r.width; ++x) {
      const uint32_t p = row[x];
      const double red = At(p, s.r) / 255.0, green = At(p, s.g) / 255.0, blue = At(p, s.b) / 255.0;
      const double max = std::max({red, green, blue}), min = std::min({red, green, blue});
      double lightness = (max + min) / 2.0, saturation = 0.0, hue = 0.0;
      if (max != min) {
        const double delta = max - min;
        saturation = lightness <= 0.5 ? delta / (max + min) : delta / (2.0 - max - min);
        if (red == max)
          hue = (green - blue) / delta;
        else if (green == max)
          hue = 2.0 + (blue - red) / delta;
        else
          hue = 4.0 + (red - green) / delta;
        hue /= 6.0;
        if (hue < 0) hue += 1.0;
      }
      hue += hueShift;
      if (hue < 0) hue += 1.0;
      if (hue > 1) hue -= 1.0;
      saturation *= satFactor;
      lightness *= lightFactor;
      uint32_t rr, gg, bb;
      if (saturation == 0.0) {
        rr = gg = bb = LimitByte(lightness * 255.0);
      } else {
        const double m2 = lightness <= 0.5 ? lightness * (1.0 + saturation)
                                           : lightness + saturation - lightness * saturation;
        const double m1 = 2.0 * lightness - m2;
        rr = LimitByte(HueToChannel(m1, m2, hue + 1.0 / 3.0) * 255.0);
        gg = LimitByte(HueToChannel(m1, m2, hue) * 255.0);
        bb = LimitByte(HueToChannel(m1, m2, hue - 1.0 / 3.0) * 255.0);
      }
      row[x] = Pack(int(rr), int(gg), int(bb), s);
    }
  }
}

void NormalizeKernel(const NormalizeRecord& r) {
  if (r.bytesPerPixel != 4 || r.width < 1 || r.height < 1) return;
  const Shifts s = ChannelShifts(r.format);
  int64_t histogram[256] = {};
  for (int32_t y = 0; y < r.height; ++y) {
    const uint32_t* row = r.pixels + int64_t(y) * r.pixelsPerRow;
    for (int32_t x = 0; x < r.width; ++x) {
      const uint32_t p = row[x];
      ++histogram[int(Intensity(At(p, s.r), At(p, s.g), At(p, s.b)))];
    }
  }
  // The three channel histograms are the intensity's: one pair of levels and one map serve all.
  const int64_t total = int64_t(r.width) * r.height;
  int low = -1, high = -1;
  int64_t running = 0;
  for (int level = 0; level < 256; ++level) {
    running += histogram[level];
    if (running > r.lowCount) {
      low = level;
      break;
    }
  }
  running = 0;
  for (int level = 255; level >= 0; --level) {
    running += histogram[level];
    if (running > total - r.highCount) {
      high = level;
      break;
    }
  }
  // Without both levels (a picture of one pixel has no high one) or with one level the channels
  // are left.
  if (low < 0 || high < 0 || low == high) return;
  uint8_t map[256];
  for (int v = 0; v < 256; ++v)
    map[v] = uint8_t(v < low ? 0 : v > high ? 255 : (v - low) * 255 / (high - low));
  for (int32_t y = 0; y < r.height; ++y) {
    uint32_t* row = r.pixels + int64_t(y) * r.pixelsPerRow;
    for (int32_t x = 0; x < r.width; ++x) {
      const uint32_t p = row[x];
      row[x] = Pack(map[At(p, s.r)], map[At(p, s.g)], map[At(p, s.b)], s);
    }
  }
}

void SepiaKernel(uint32_t* pixels, int32_t width, int32_t height, int32_t pixelsPerRow,
                 int32_t format, int32_t threshold) {
  const Shifts s = ChannelShifts(format);
  const double t = std::clamp(threshold, 0, 255);
  const double t7_6 = 7.0 * t / 6.0, t_6 = t / 6.0, t_7 = t / 7.0;
  for (int32_t y = 0; y < height; ++y) {
    uint32_t* row = pixels + int64_t(y) * pixelsPerRow;
    for (int32_t x = 0; x < width; ++x) {
      const uint32_t p = row[x];
      const double i = Intensity(At(p, s.r), At(p, s.g), At(p, s.b));
      const double red = i > t ? 255.0 : i + 255.0 - t;
      double green = i > t7_6 ? 255.0 : i + 255.0 - t7_6;
      double blue = i < t_6 ? 0.0 : i - t_6;
      green = std::max(green, t_7);
      blue = std::max(blue, t_7);
      row[x] = Pack(int(LimitByte(red)), int(LimitByte(green)), int(LimitByte(blue)), s);
    }
  }
}

namespace {

int32_t OilPaintWidth(const OilPaintRecord& r) {
  if (r.width < 1 || r.height < 1 || !std::isfinite(r.radius)) return 0;
  const int32_t taps = SearchWidth2D(r.radius, 0.5, INT32_MAX);
  // The window's edge-extended copy bounds the window as for the other filters.
  const int64_t side = int64_t(taps / 2) * 2;
  const int64_t stride = ((int64_t(r.width) + side + 3) & ~int64_t{3}) + 4;
  if (double(stride) * double(int64_t(r.height) + side) > double(kMaxPlaneBytes) / 4) return 0;
  return taps;
}

// The intensity bin of every pixel of the rectangle, rows of `width` bytes.
uint8_t* IntensityBins(const OilPaintRecord& r) {
  auto* bins = static_cast<uint8_t*>(Allocate(size_t(int64_t(r.width) * r.height), false));
  if (!bins) return nullptr;
  const Shifts s = ChannelShifts(r.format);
  for (int32_t y = 0; y < r.height; ++y) {
    const uint32_t* row = r.pixels + int64_t(y) * r.pixelsPerRow;
    uint8_t* b = bins + int64_t(y) * r.width;
    for (int32_t x = 0; x < r.width; ++x)
      b[x] = uint8_t(Intensity(At(row[x], s.r), At(row[x], s.g), At(row[x], s.b)));
  }
  return bins;
}

// A window's rows (or columns) as runs of one source row: the window's part beyond the picture
// repeats the edge.
struct Run {
  int32_t at;
  int64_t count;
};
int Runs(int64_t centre, int64_t half, int32_t size, Run* out) {
  const int64_t first = centre - half, last = centre + half;
  const int64_t from = std::max<int64_t>(first, 0), to = std::min<int64_t>(last, size - 1);
  int n = 0;
  for (int64_t i = from; i <= to; ++i) out[n++] = Run{int32_t(i), 1};
  out[0].count += from - first;
  out[n - 1].count += last - to;
  return n;
}

}  // namespace

namespace image {

void OilPaintReference(const OilPaintRecord& r) {
  const int32_t taps = OilPaintWidth(r);
  if (taps < 1) return;
  const int64_t half = taps / 2;
  Extended<uint32_t> ext;
  if (!ext.Make(r.pixels, r.pixelsPerRow, r.width, r.height, half)) return;
  // Each pixel's intensity once, beside the extended copy.
  const int64_t extWidth = int64_t(r.width) + 2 * half, extHeight = int64_t(r.height) + 2 * half;
  uint8_t* bins = static_cast<uint8_t*>(Allocate(size_t(extWidth * extHeight), false));
  if (!bins) return;
  const Shifts s = ChannelShifts(r.format);
  const uint32_t keep = ColourBytes(r.format);
  for (int64_t y = 0; y < extHeight; ++y) {
    const uint32_t* row = ext.Row(y);
    for (int64_t x = 0; x < extWidth; ++x)
      bins[y * extWidth + x] = uint8_t(
          Intensity(At(row[x], s.r), At(row[x], s.g), At(row[x], s.b)));
  }
  uint32_t counts[256];
  for (int32_t y = 0; y < r.height; ++y) {
    uint32_t* out = r.pixels + int64_t(y) * r.pixelsPerRow;
    for (int32_t x = 0; x < r.width; ++x) {
      std::memset(counts, 0, sizeof counts);
      uint32_t best = 0;
      uint32_t chosen = 0;
      for (int64_t v = 0; v < taps; ++v) {
        const uint8_t* b = bins + (y + v) * extWidth + x;
        const uint32_t* p = ext.Row(y + v) + x;
        for (int64_t u = 0; u < taps; ++u) {
          const uint32_t c = ++counts[b[u]];
          if (c > best) {
            best = c;
            chosen = p[u];
          }
        }
      }
      out[x] = chosen & keep;
    }
  }
  std::free(bins);
}

}  // namespace image

// Small windows scan as the reference does. A large one is scanned by runs of repeated rows and
// columns (its part beyond the picture), so that its cost follows the picture's size, not the
// window's: first the count of every intensity gives the greatest count M; then the window is
// walked once more, the rows of a run jumped over whole while no intensity of count M can reach
// M within them, and the pixel at which one first reaches M is the one chosen (the reference's
// choice: a later count only equals M, never exceeds it).
void OilPaintKernel(const OilPaintRecord& r) {
  const int32_t taps = OilPaintWidth(r);
  if (taps < 1) return;
  if (taps <= 15) {
    image::OilPaintReference(r);
    return;
  }
  const int64_t half = taps / 2;
  // The result is written over the picture: the source is read from a copy.
  Scratch<uint32_t> copy(int64_t(r.width) * r.height);
  Scratch<Run> rowRuns(int64_t(r.height)), columnRuns(int64_t(r.width));
  uint8_t* bins = IntensityBins(r);
  if (!copy.data || !rowRuns.data || !columnRuns.data || !bins) {
    std::free(bins);
    return;
  }
  for (int32_t y = 0; y < r.height; ++y)
    std::memcpy(copy.data + int64_t(y) * r.width, r.pixels + int64_t(y) * r.pixelsPerRow,
                size_t(r.width) * 4);
  const uint32_t keep = ColourBytes(r.format);
  int64_t total[256] = {}, reached[256] = {}, inRow[256] = {};
  bool wins[256] = {};
  uint8_t winners[256];
  for (int32_t y = 0; y < r.height; ++y) {
    const int rows = Runs(y, half, r.height, rowRuns.data);
    for (int32_t x = 0; x < r.width; ++x) {
      const int columns = Runs(x, half, r.width, columnRuns.data);
      int64_t most = 0;
      for (int i = 0; i < rows; ++i) {
        const uint8_t* b = bins + int64_t(rowRuns.data[i].at) * r.width;
        for (int j = 0; j < columns; ++j) {
          int64_t& t = total[b[columnRuns.data[j].at]];
          t += rowRuns.data[i].count * columnRuns.data[j].count;
          most = std::max(most, t);
        }
      }
      int nWinners = 0;
      for (int b = 0; b < 256; ++b) {
        if (total[b] == most) {
          wins[b] = true;
          winners[nWinners++] = uint8_t(b);
        }
        total[b] = 0;
      }
      uint32_t chosen = 0;
      bool found = false;
      for (int i = 0; i < rows && !found; ++i) {
        const int32_t sy = rowRuns.data[i].at;
        const uint8_t* b = bins + int64_t(sy) * r.width;
        for (int j = 0; j < columns; ++j)
          if (wins[b[columnRuns.data[j].at]])
            inRow[b[columnRuns.data[j].at]] += columnRuns.data[j].count;
        // The first repeat of this row in which a winner reaches M, if any.
        int64_t first = INT64_MAX;
        for (int w = 0; w < nWinners; ++w) {
          const uint8_t k = winners[w];
          if (inRow[k] > 0) first = std::min(first, (most - reached[k] + inRow[k] - 1) / inRow[k]);
        }
        const int64_t repeats = rowRuns.data[i].count;
        const int64_t whole = first <= repeats ? first - 1 : repeats;
        for (int w = 0; w < nWinners; ++w) reached[winners[w]] += whole * inRow[winners[w]];
        if (first <= repeats) {
          for (int j = 0; j < columns && !found; ++j) {
            const int32_t sx = columnRuns.data[j].at;
            if (!wins[b[sx]]) continue;
            int64_t& c = reached[b[sx]];
            c += columnRuns.data[j].count;
            if (c >= most) {
              chosen = copy.data[int64_t(sy) * r.width + sx];
              found = true;
            }
          }
        }
        for (int w = 0; w < nWinners; ++w) inRow[winners[w]] = 0;
      }
      for (int w = 0; w < nWinners; ++w) {
        wins[winners[w]] = false;
        reached[winners[w]] = 0;
      }
      r.pixels[int64_t(y) * r.pixelsPerRow + x] = chosen & keep;
    }
  }
  std::free(bins);
}

// ---------------------------------------------------------------------------------------------
// Wrappers.

namespace {

bool FilterView(const qvBitMap* bitmap, const qvBitMapLock* given, qvBitMapLock* view) {
  if (given) {
    *view = *given;
    return view->valid && view->pixels;
  }
  return LockBitMap(bitmap, view);
}

bool ClipTo(const qvBitMapLock& v, int32_t* width, int32_t* height) {
  *width = std::min(*width, v.width);
  *height = std::min(*height, v.height);
  return *width > 0 && *height > 0;
}

// A plane that knows its size holds the rectangle to it.
void ClipToPlane(const qvPlane* p, int32_t* width, int32_t* height) {
  if (p && (p->width > 0 || p->height > 0)) {
    *width = std::min(*width, p->width);
    *height = std::min(*height, p->height);
  }
}

uint32_t* Pixels(const qvBitMapLock& v) { return reinterpret_cast<uint32_t*>(v.pixels); }

double NotNegative(double v) { return v > 0 ? v : 0.0; }

}  // namespace

int ConvolveBitMap(int32_t mode, qvBitMap* bitmap, qvPlane* alpha, int32_t width, int32_t height,
                   double radius, double sigma, const qvBitMapLock* lock) {
  radius = NotNegative(radius);
  if (radius == 0) sigma = 1.0;
  qvBitMapLock v{};
  const bool withBitmap = bitmap || lock;
  if (withBitmap && !FilterView(bitmap, lock, &v)) return ERR_LOCKBMAP;
  if (withBitmap) ClipTo(v, &width, &height);
  if (alpha && !alpha->data) alpha = nullptr;
  ClipToPlane(alpha, &width, &height);
  ConvolveRecord r{};
  r.pixels = withBitmap ? Pixels(v) : nullptr;
  r.width = width, r.height = height;
  r.pixelsPerRow = v.pixelsPerRow;
  r.format = withBitmap ? v.format : kPixARGB32;
  r.bytesPerPixel = v.bytesPerPixel;
  r.alpha = alpha ? alpha->data : nullptr;
  r.alphaBytesPerRow = alpha ? alpha->bytesPerRow : 0;
  r.radius = radius, r.sigma = sigma, r.mode = mode;
  if (width > 0 && height > 0) ConvolveKernel(r);
  if (withBitmap && !lock) UnLockBitMap(&v);
  return 0;
}

int SolarizeBitMap(qvBitMap* bitmap, int32_t width, int32_t height, int32_t threshold) {
  qvBitMapLock v;
  if (!LockBitMap(bitmap, &v)) return ERR_LOCKBMAP;
  if (v.bytesPerPixel == 4 && ClipTo(v, &width, &height))
    SolarizeKernel(Pixels(v), width, height, v.pixelsPerRow, v.format,
                   std::clamp(threshold, 0, 255));
  UnLockBitMap(&v);
  return 0;
}

int GammaBitMap(qvBitMap* bitmap, int32_t width, int32_t height, double red, double green,
                double blue) {
  red = NotNegative(red), green = NotNegative(green), blue = NotNegative(blue);
  const int channels = (red != 1.0 ? 1 : 0) | (green != 1.0 ? 2 : 0) | (blue != 1.0 ? 4 : 0);
  if (channels == 0) return 0;
  qvBitMapLock v;
  if (!LockBitMap(bitmap, &v)) return ERR_LOCKBMAP;
  if (v.bytesPerPixel == 4 && ClipTo(v, &width, &height)) {
    // Equal gammas share one table: green takes red's, blue red's or green's.
    uint8_t* made[3] = {};
    const double gammas[3] = {red, green, blue};
    const uint8_t* tables[3] = {};
    bool ok = true;
    for (int c = 0; c < 3 && ok; ++c) {
      if (!(channels & (1 << c))) continue;
      for (int o = 0; o < c && !tables[c]; ++o)
        if ((channels & (1 << o)) && gammas[o] == gammas[c]) tables[c] = tables[o];
      if (tables[c]) continue;
      made[c] = static_cast<uint8_t*>(image::Allocate(256, false));
      if (!made[c]) {
        ok = false;
        break;
      }
      BuildGammaTable(gammas[c], made[c]);
      tables[c] = made[c];
    }
    if (ok) {
      GammaRecord r{Pixels(v), width,     height,    v.pixelsPerRow, v.format,
                    tables[0], tables[1], tables[2], channels};
      GammaKernel(r);
    }
    for (uint8_t* t : made) std::free(t);
  }
  UnLockBitMap(&v);
  return 0;
}

int ContrastBitMap(qvBitMap* bitmap, int32_t width, int32_t height, bool sharpen, int32_t times,
                   const qvBitMapLock* lock) {
  qvBitMapLock v;
  if (!FilterView(bitmap, lock, &v)) return ERR_LOCKBMAP;
  if (times >= 1 && v.bytesPerPixel == 4 && ClipTo(v, &width, &height)) {
    if (times == 1)
      ContrastKernel(Pixels(v), width, height, v.pixelsPerRow, v.format, sharpen ? 1 : -1);
    else
      ContrastRepeat(Pixels(v), width, height, v.pixelsPerRow, v.format, sharpen ? 1 : -1, times);
  }
  if (!lock) UnLockBitMap(&v);
  return 0;
}

int ModulateBitMap(qvBitMap* bitmap, int32_t width, int32_t height, double brightness,
                   double saturation, double hue) {
  brightness = std::min(NotNegative(brightness), 1000.0);
  saturation = std::min(NotNegative(saturation), 1000.0);
  hue = std::min(NotNegative(hue), 2.0);
  if (brightness == 1.0 && saturation == 1.0 && hue == 1.0) return 0;
  qvBitMapLock v;
  if (!LockBitMap(bitmap, &v)) return ERR_LOCKBMAP;
  if (v.bytesPerPixel == 4 && ClipTo(v, &width, &height)) {
    ModulateRecord r{Pixels(v),
                     width,
                     height,
                     v.pixelsPerRow,
                     v.format,
                     int32_t(brightness * 100),
                     int32_t(saturation * 100),
                     int32_t(hue * 100)};
    ModulateKernel(r);
  }
  UnLockBitMap(&v);
  return 0;
}

int NormalizeLevels(qvBitMap* bitmap, int32_t width, int32_t height, int64_t lowCount,
                    int64_t highCount, const qvBitMapLock* lock) {
  qvBitMapLock v;
  if (!FilterView(bitmap, lock, &v)) return ERR_LOCKBMAP;
  if (ClipTo(v, &width, &height)) {
    NormalizeRecord r{Pixels(v), width,     height,   v.pixelsPerRow,
                      lowCount,  highCount, v.format, v.bytesPerPixel};
    NormalizeKernel(r);
  }
  if (!lock) UnLockBitMap(&v);
  return 0;
}

namespace {

void StretchLevels(qvBitMap* bitmap, int32_t width, int32_t height, const qvBitMapLock& v) {
  const double n = double(width) * height;
  NormalizeLevels(bitmap, width, height, int64_t(0.02 * n), int64_t(0.99 * n), &v);
}

}  // namespace

int SepiaToneBitMap(qvBitMap* bitmap, int32_t width, int32_t height, int32_t threshold) {
  qvBitMapLock v;
  if (!LockBitMap(bitmap, &v)) return ERR_LOCKBMAP;
  if (v.bytesPerPixel == 4 && ClipTo(v, &width, &height)) {
    SepiaKernel(Pixels(v), width, height, v.pixelsPerRow, v.format, std::clamp(threshold, 0, 255));
    StretchLevels(bitmap, width, height, v);
    ContrastBitMap(bitmap, width, height, true, 1, &v);
  }
  UnLockBitMap(&v);
  return 0;
}

int CharcoalBitMap(qvBitMap* bitmap, qvPlane* alpha, int32_t width, int32_t height, double radius,
                   double sigma) {
  radius = NotNegative(radius);
  qvBitMapLock v;
  if (!LockBitMap(bitmap, &v)) return ERR_LOCKBMAP;
  if (ClipTo(v, &width, &height)) {
    GrayBitMap(bitmap, width, height, false, &v);
    ConvolveBitMap('g', bitmap, alpha, width, height, radius, 0.0, &v);
    ConvolveBitMap('b', bitmap, alpha, width, height, radius, sigma, &v);
    StretchLevels(bitmap, width, height, v);
    InvertBitMap(bitmap, width, height, &v);
    GrayBitMap(bitmap, width, height, false, &v);
  }
  UnLockBitMap(&v);
  return 0;
}

int OilPaintBitMap(qvBitMap* bitmap, int32_t width, int32_t height, double radius) {
  qvBitMapLock v;
  if (!LockBitMap(bitmap, &v)) return ERR_LOCKBMAP;
  if (v.bytesPerPixel == 4 && ClipTo(v, &width, &height)) {
    OilPaintRecord r{Pixels(v), width, height, v.pixelsPerRow, v.format, NotNegative(radius)};
    OilPaintKernel(r);
  }
  UnLockBitMap(&v);
  return 0;
}

int MonochromeBitMap(qvBitMap* bitmap, int32_t width, int32_t height, bool dither) {
  if (!dither) return GrayBitMap(bitmap, width, height, true);
  qvBitMapLock v;
  if (!LockBitMap(bitmap, &v)) return ERR_LOCKBMAP;
  int code = 0;
  if (v.bytesPerPixel == 4 && ClipTo(v, &width, &height)) {
    const int64_t count = int64_t(width) * height;
    auto* indices = count <= kMaxPlaneBytes ? static_cast<uint8_t*>(Allocate(size_t(count), false))
                                            : nullptr;
    uint32_t palette[256] = {};
    int32_t colours = 2;
    if (!indices || !QuantizeBitMap(v.pixels, v.format, 4, width, height, v.pixelsPerRow, indices,
                                    palette, &colours, kNoTransparentRGB, false, true)) {
      code = ERR_MEM;
    } else {
      // White for the lighter of the two colours (the quantiser numbers them by its boxes, not by
      // their lightness). Where the quantiser put every pixel in one box (a picture of one
      // colour) there is nothing to dither: each pixel goes by its gray, as without dithering.
      bool used[2] = {};
      for (int64_t i = 0; i < count; ++i) used[indices[i] != 0] = true;
      if (colours < 2 || !used[0] || !used[1]) {
        GrayKernel(Pixels(v), width, height, v.format, v.pixelsPerRow, true);
      } else {
        auto gray = [](uint32_t c) {
          return int(Intensity(int(c >> 16 & 0xFF), int(c >> 8 & 0xFF), int(c & 0xFF)));
        };
        const bool firstLighter = gray(palette[0]) > gray(palette[1]);
        const uint32_t on = ColourBytes(v.format);
        for (int32_t y = 0; y < height; ++y) {
          uint32_t* row = Pixels(v) + int64_t(y) * v.pixelsPerRow;
          const uint8_t* index = indices + int64_t(y) * width;
          for (int32_t x = 0; x < width; ++x) row[x] = (index[x] != 0) != firstLighter ? on : 0;
        }
      }
    }
    std::free(indices);
  }
  UnLockBitMap(&v);
  return code;
}

qvPlane* BuildShadowAlpha(const qvPlane* alphaSource, const qvPlane* maskSource, int32_t left,
                          int32_t top, int32_t width, int32_t height, double radius, double sigma,
                          int32_t value, bool hardEdge, bool secondBlur) {
  radius = NotNegative(radius);
  if (width < 1 || height < 1) return nullptr;
  const int64_t r = radius >= 1e9 ? int64_t(1e9) : int64_t(radius);
  const int64_t w = width + 2 * r, h = height + 2 * r;
  if (w > INT32_MAX || h > INT32_MAX || w * h > kMaxPlaneBytes) return nullptr;
  qvPlane* plane = AllocAlphaChannel(int32_t(w), int32_t(h), true);
  if (!plane) return nullptr;
  const uint8_t v = uint8_t(std::clamp(value, 0, 255));
  if (alphaSource && !alphaSource->data) alphaSource = nullptr;
  if (maskSource && !maskSource->data) maskSource = nullptr;
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* d = plane->data + (r + y) * plane->bytesPerRow + r;
    const int64_t sy = int64_t(top) + y;
    for (int32_t x = 0; x < width; ++x) {
      const int64_t sx = int64_t(left) + x;
      bool on = true;
      if (alphaSource || maskSource) {
        const qvPlane* s = alphaSource ? alphaSource : maskSource;
        const bool knows = s->width > 0 || s->height > 0;
        if (sx < 0 || sy < 0 || (knows && (sx >= s->width || sy >= s->height))) {
          on = false;
        } else if (alphaSource) {
          on = s->data[sy * s->bytesPerRow + sx] != 0;
        } else {
          on = image::MaskBit(s->data + sy * s->bytesPerRow, sx);
        }
      }
      if (on) d[x] = v;
    }
  }
  ConvolveBitMap('b', nullptr, plane, int32_t(w), int32_t(h), radius, sigma);
  if (hardEdge) {
    for (int64_t y = 0; y < h; ++y) {
      uint8_t* d = plane->data + y * plane->bytesPerRow;
      for (int64_t x = 0; x < w; ++x)
        if (d[x]) d[x] = 255;
    }
    if (secondBlur && alphaSource)
      ConvolveBitMap('b', nullptr, plane, int32_t(w), int32_t(h), radius * 0.5, radius * 0.5 / 3.0);
  }
  return plane;
}

}  // namespace qv
