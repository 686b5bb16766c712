// Brush distortion: the mapping coefficients of the perspective, arc, polar and barrel modes, the
// result's box, and the rendering that maps every result pixel back into the source and samples
// it, nearest or through an elliptical weighted average (EWA) with a Gaussian weight table.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "base/errors.h"
#include "image/image.h"
#include "image/internal.h"

namespace qv {

namespace {

using image::MaskBit;
using image::SetMaskBit;

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2.0 * kPi;
constexpr double kDegToRad = kPi / 180.0;
constexpr double kEpsilon = 1e-6;
constexpr int32_t kWeights = 1024;
constexpr int64_t kMaxPlaneBytes = int64_t(1) << 31;

struct Box {
  static constexpr double kInf = std::numeric_limits<double>::infinity();
  double minX = kInf, minY = kInf, maxX = -kInf, maxY = -kInf;
  void Add(double x, double y) {
    minX = std::min(minX, x), maxX = std::max(maxX, x);
    minY = std::min(minY, y), maxY = std::max(maxY, y);
  }
  bool Finite() const {
    return std::isfinite(minX) && std::isfinite(minY) && std::isfinite(maxX) && std::isfinite(maxY);
  }
};

int Fail(qvDistortJob& job, int code) {
  job.error = code;
  job.prepared = false;
  return code;
}

// The eight perspective coefficients by least squares over the four point pairs.
int PerspectiveCoefficients(qvDistortJob& job) {
  if (job.valueCount != 16) return ERR_WRONGUSAGE;
  double m[64] = {}, v[8] = {};
  auto add = [&](const double t[8], double value) {
    for (int i = 0; i < 8; ++i) {
      for (int j = 0; j < 8; ++j) m[i * 8 + j] += t[i] * t[j];
      v[i] += t[i] * value;
    }
  };
  for (ptrdiff_t g = 0; g < 4; ++g) {
    const double* p = job.values + 4 * g;
    const double u = p[0], w = p[1], x = p[2], y = p[3];
    const double tu[8] = {x, y, 1, 0, 0, 0, -x * u, -y * u};
    const double tv[8] = {0, 0, 0, x, y, 1, -x * w, -y * w};
    add(tu, u);
    add(tv, w);
  }
  if (!SolveGaussJordan(m, v, 8)) return ERR_WRONGUSAGE;
  double* c = job.coefficients;
  for (int i = 0; i < 8; ++i) c[i] = v[i];
  const double r = c[6] * job.values[2] + c[7] * job.values[3] + 1.0;
  c[8] = r < 0 ? -1.0 : 1.0;
  return 0;
}

int ArcCoefficients(qvDistortJob& job) {
  const int32_t n = job.valueCount;
  const double* a = job.values;
  const double w = job.source.width, h = job.source.height;
  if (n > 4) return ERR_WRONGUSAGE;
  if (n >= 1 && a[0] * kDegToRad < kEpsilon) return ERR_WRONGUSAGE;
  if (n >= 3 && a[2] < kEpsilon) return ERR_WRONGUSAGE;
  double* c = job.coefficients;
  c[0] = -kPi / 2;
  if (n >= 2) c[0] += a[1] * kDegToRad;
  c[1] = n >= 1 ? a[0] * kDegToRad : kPi / 2;
  c[0] -= kTwoPi * RoundHalfAway(c[0] / kTwoPi);
  c[3] = h - 1;
  c[2] = w / c[1] + c[3] / 2;
  if (n == 3) {
    c[3] = c[3] * a[2] / c[2];
    c[2] = a[2];
  } else if (n == 4) {
    c[3] = a[2] - a[3];
    c[2] = a[2];
  }
  c[4] = (w - 1) / 2;
  return 0;
}

int PolarCoefficients(qvDistortJob& job) {
  const int32_t n = job.valueCount;
  const double* a = job.values;
  const double w = job.source.width, h = job.source.height;
  if (n == 3 || n > 6) return ERR_WRONGUSAGE;
  double* c = job.coefficients;
  c[0] = n >= 1 ? a[0] : 0;
  c[1] = n >= 2 ? a[1] : 0;
  c[2] = n >= 4 ? a[2] : w / 2;
  c[3] = n >= 4 ? a[3] : h / 2;
  c[4] = n >= 5 ? a[4] * kDegToRad : -kPi;
  c[5] = n >= 6 ? a[5] * kDegToRad : c[4];
  if (std::fabs(c[4] - c[5]) < kEpsilon) c[5] += kTwoPi;
  if (std::fabs(c[0]) < kEpsilon) {
    c[0] = std::min({std::fabs(c[2]), std::fabs(c[3]), std::fabs(c[2] - w), std::fabs(c[3] - h)});
  } else if (std::fabs(c[0] + 1) < kEpsilon) {
    double far = 0;
    for (double cornerX : {0.0, w})
      for (double cornerY : {0.0, h})
        far = std::max(far, std::hypot(c[2] - cornerX, c[3] - cornerY));
    c[0] = far;
  }
  if (c[0] < kEpsilon || c[1] < -kEpsilon || c[0] - c[1] < kEpsilon) return ERR_WRONGUSAGE;
  c[6] = w / (c[5] - c[4]);
  c[7] = h / (c[0] - c[1]);
  return 0;
}

int BarrelCoefficients(qvDistortJob& job) {
  const int32_t n = job.valueCount;
  const double* a = job.values;
  if (n != 4 && n != 6 && n != 8 && n != 10) return ERR_WRONGUSAGE;
  const double w = job.source.width, h = job.source.height;
  const double s = 2 / std::min(w, h);
  double* c = job.coefficients;
  auto polynomial = [&](const double* v, double* out) {
    out[0] = v[0] * s * s * s;
    out[1] = v[1] * s * s;
    out[2] = v[2] * s;
    out[3] = v[3];
  };
  polynomial(a, c);
  polynomial(n >= 8 ? a + 4 : a, c + 4);
  c[8] = (w - 1) / 2;
  c[9] = (h - 1) / 2;
  if (n == 6) c[8] = a[4], c[9] = a[5];
  if (n == 10) c[8] = a[8], c[9] = a[9];
  return 0;
}

// The perspective's inverse (source to destination), scaled so that its last entry is 1.
void InvertPerspective(const double* c, double* inv) {
  const double det = 1.0 / (c[0] * c[4] - c[1] * c[3]);
  inv[0] = det * (c[4] - c[5] * c[7]);
  inv[1] = det * (c[2] * c[7] - c[1]);
  inv[2] = det * (c[1] * c[5] - c[2] * c[4]);
  inv[3] = det * (c[5] * c[6] - c[3]);
  inv[4] = det * (c[0] - c[2] * c[6]);
  inv[5] = det * (c[2] * c[3] - c[0] * c[5]);
  inv[6] = det * (c[3] * c[7] - c[4] * c[6]);
  inv[7] = det * (c[1] * c[6] - c[0] * c[7]);
}

// ---------------------------------------------------------------------------------------------
// Sampling.

struct Rgba {
  double r = 0, g = 0, b = 0, a = 0;
};

struct Sampler {
  const qvDistortJob& job;
  int32_t w, h, bpp;
  // EWA state.
  bool interpolate = false, limit = false;
  double e1 = 0, e2 = 0, e3 = 0, vExtent = 0, hExtent = 0, halfWidth = 0, slope = 0;
  double weights[kWeights];

  explicit Sampler(const qvDistortJob& j)
      : job(j), w(j.source.width), h(j.source.height), bpp(j.bytesPerPixel) {
    for (int32_t k = 0; k < kWeights; ++k) weights[k] = std::exp(-k * std::log(2.0) / 256);
  }

  const uint8_t* PixelAt(int64_t x, int64_t y) const {
    return job.source.pixels + (y * job.source.pixelsPerRow + x) * bpp;
  }

  // The source pixel's channels and alpha; false outside the source or where its mask is clear.
  bool Read(int64_t x, int64_t y, Rgba* out) const {
    if (x < 0 || y < 0 || x >= w || y >= h) return false;
    if (job.srcMask && !MaskBit(job.srcMask + y * job.srcMaskBytesPerRow, x)) return false;
    const uint8_t* p = PixelAt(x, y);
    uint32_t rgb = 0;
    if (bpp == 4) {
      uint32_t v;
      std::memcpy(&v, p, 4);
      rgb = job.format == kPixARGB32 ? v : PixelToRGB(job.format, v);
    } else if (bpp == 3) {
      rgb = job.format == kPixRGB24 ? uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]
                                    : uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    } else {
      uint16_t v;
      std::memcpy(&v, p, 2);
      if (job.format != kPixRGB565) v = LayoutToRgb565(job.format, v);
      rgb = uint32_t(v & 0xF800) << 8 | uint32_t(v & 0x07E0) << 5 | uint32_t(v & 0x1F) << 3;
    }
    out->r = (rgb >> 16) & 0xFF, out->g = (rgb >> 8) & 0xFF, out->b = rgb & 0xFF;
    out->a = job.srcAlpha ? job.srcAlpha[y * job.srcAlphaBytesPerRow + x] : 255;
    return true;
  }

  void Scale(double dux, double duy, double dvx, double dvy) {
    interpolate = limit = false;
    e1 = dvx * dvx + dvy * dvy + 1;
    e2 = -2 * (dux * dvx + duy * dvy);
    e3 = dux * dux + duy * duy + 1;
    const double f = e1 * e3 - e2 * e2 / 4;
    if (!(f > 4)) {
      interpolate = true;
      return;
    }
    if (f > 1e6) {
      limit = true;
      return;
    }
    vExtent = std::sqrt(e1) + 1;
    hExtent = std::sqrt(e3) + 1;
    halfWidth = std::sqrt(f / e1) + 1;
    slope = -e2 / (2 * e1);
    // An ellipse many times the source's area costs more than it can tell.
    if (20.0 * double(w) * double(h) < 4 * vExtent * halfWidth) {
      limit = true;
      return;
    }
    e1 *= 1024 / f, e2 *= 1024 / f, e3 *= 1024 / f;
  }

  Rgba Bilinear(double u, double v) const {
    Rgba out;
    // Far outside, all four neighbours are: nothing to weigh (and no huge integer to convert).
    if (!(u > -2 && u < w + 1.0 && v > -2 && v < h + 1.0)) return out;
    const double x0 = std::floor(u), y0 = std::floor(v);
    const double fx = u - x0, fy = v - y0;
    const auto ix = int64_t(x0), iy = int64_t(y0);
    Rgba p[4];
    Read(ix, iy, &p[0]);
    Read(ix + 1, iy, &p[1]);
    Read(ix, iy + 1, &p[2]);
    Read(ix + 1, iy + 1, &p[3]);
    auto mix = [&](double Rgba::*c) {
      return (p[0].*c * (1 - fx) + p[1].*c * fx) * (1 - fy) +
             (p[2].*c * (1 - fx) + p[3].*c * fx) * fy;
    };
    out.r = mix(&Rgba::r), out.g = mix(&Rgba::g), out.b = mix(&Rgba::b), out.a = mix(&Rgba::a);
    return out;
  }

  static double ClampToByte(double x) {
    if (x < 0) return 0;
    if (x > 255) return 255;
    return std::trunc(x + 0.5);
  }

  Rgba Ewa(double u, double v) const {
    const auto first = int64_t(std::trunc(v - vExtent));
    const auto last = int64_t(std::trunc(v + vExtent + 1));
    const auto count = int64_t(std::trunc(2 * halfWidth)) + 1;
    double u1 = u + (double(first) - v) * slope - halfWidth;
    Rgba sum;
    double weightSum = 0;
    int32_t hits = 0;
    for (int64_t row = first; row < last; ++row, u1 += slope) {
      const auto x0 = int64_t(std::trunc(u1));
      const double U = double(x0) - u, V = double(row) - v;
      double q = (e1 * U + e2 * V) * U + e3 * V * V;
      double dq = e1 * (2 * U + 1) + e2 * V;
      const double ddq = 2 * e1;
      for (int64_t k = 0; k < count; ++k, q += dq, dq += ddq) {
        if (!(q < kWeights)) continue;
        const double weight = weights[q > 0 ? int32_t(q) : 0];
        ++hits;
        weightSum += weight;
        Rgba p;
        if (Read(x0 + k, row, &p)) {
          sum.r += weight * p.r, sum.g += weight * p.g, sum.b += weight * p.b;
          sum.a += weight * p.a;
        }
      }
    }
    if (hits <= 3 || weightSum < 1) return Bilinear(u, v);
    return {ClampToByte(sum.r / weightSum), ClampToByte(sum.g / weightSum),
            ClampToByte(sum.b / weightSum), ClampToByte(sum.a / weightSum)};
  }
};

// The source point of result point (X, Y) and its four partial derivatives; the validity (0 or
// less: nothing there).
struct Mapped {
  double sx, sy;
  double dux, duy, dvx, dvy;
  double validity;
};

Mapped MapPoint(const qvDistortJob& job, double X, double Y) {
  const double* c = job.coefficients;
  const double w = job.source.width;
  Mapped m{0, 0, 0, 0, 0, 0, 1};
  switch (job.mode) {
    case kDistortPerspective: {
      const double p = c[0] * X + c[1] * Y + c[2];
      const double q = c[3] * X + c[4] * Y + c[5];
      const double r = c[6] * X + c[7] * Y + 1;
      m.validity = r * c[8] < 0 ? 0 : 1;
      // Near the horizon the validity falls off over half a pixel.
      if (std::fabs(c[6]) > std::fabs(c[7])) {
        if (2 * std::fabs(r) < std::fabs(c[6])) m.validity = 0.5 - c[8] * r / c[6];
      } else if (2 * std::fabs(r) < std::fabs(c[7])) {
        m.validity = 0.5 - c[8] * r / c[7];
      }
      if (m.validity > 0) {
        m.sx = p / r - 0.5, m.sy = q / r - 0.5;
        const double r2 = r * r;
        m.dux = (r * c[0] - p * c[6]) / r2, m.duy = (r * c[1] - p * c[7]) / r2;
        m.dvx = (r * c[3] - q * c[6]) / r2, m.dvy = (r * c[4] - q * c[7]) / r2;
      }
      break;
    }
    case kDistortArc: {
      double t = (std::atan2(Y, X) - c[0]) / kTwoPi;
      t -= RoundHalfAway(t);
      const double R = std::hypot(X, Y);
      m.dux = R > kEpsilon ? c[1] / (kTwoPi * R) : 2.0 * job.outWidth;
      m.dvy = c[3];
      m.sx = c[1] * t + c[4];
      m.sy = (c[2] - R) * c[3] - 0.5;
      break;
    }
    case kDistortPolar: {
      const double ex = X - c[2], ey = Y - c[3];
      double t = (std::atan2(ex, ey) - (c[4] + c[5]) / 2) / kTwoPi;
      t -= RoundHalfAway(t);
      const double R = std::hypot(ex, ey);
      m.dux = R > kEpsilon ? c[6] / (kTwoPi * R) : 2.0 * job.outWidth;
      m.dvy = c[7];
      m.sx = kTwoPi * t * c[6] + w / 2 - 0.5;
      m.sy = (R - c[1]) * c[7] - 0.5;
      break;
    }
    case kDistortBarrel: {
      const double ex = X - c[8], ey = Y - c[9];
      const double R = std::sqrt(ex * ex + ey * ey);
      if (R > kEpsilon) {
        const double fx = ((c[0] * R + c[1]) * R + c[2]) * R + c[3];
        const double fy = ((c[4] * R + c[5]) * R + c[6]) * R + c[7];
        const double gx = ((3 * c[0] * R + 2 * c[1]) * R + c[2]) / R;
        const double gy = ((3 * c[4] * R + 2 * c[5]) * R + c[6]) / R;
        m.sx = ex * fx + c[8] - 0.5, m.sy = ey * fy + c[9] - 0.5;
        m.dux = gx * ex * ex + fx, m.duy = gx * ex * ey;
        m.dvx = gy * ex * ey, m.dvy = gy * ey * ey + fy;
      } else {
        m.sx = c[8] - 0.5, m.sy = c[9] - 0.5;
        m.dux = c[3], m.dvy = c[7];
      }
      break;
    }
    default:
      m.validity = 0;
  }
  return m;
}

void WritePixel(const qvDistortJob& job, uint8_t* d, const Rgba& c) {
  auto byte = [](double v) { return uint32_t(std::clamp(std::floor(v + 0.5), 0.0, 255.0)); };
  const uint32_t R = byte(c.r), G = byte(c.g), B = byte(c.b);
  if (job.bytesPerPixel == 4) {
    uint32_t v = R << 16 | G << 8 | B;
    if (job.format != kPixARGB32) v = ConvertPixelOrder(job.format, v);
    std::memcpy(d, &v, 4);
  } else if (job.bytesPerPixel == 3) {
    const bool rgb = job.format == kPixRGB24;
    d[0] = uint8_t(rgb ? R : B), d[1] = uint8_t(G), d[2] = uint8_t(rgb ? B : R);
  } else {
    auto v = uint16_t((R & 0xF8) << 8 | (G & 0xFC) << 3 | B >> 3);
    if (job.format != kPixRGB565) v = Rgb565ToLayout(job.format, v);
    std::memcpy(d, &v, 2);
  }
}

}  // namespace

double RoundHalfAway(double v) { return std::round(v); }

bool SolveGaussJordan(double* a, double* b, int32_t n) {
  if (n < 1 || n > 16) return false;
  for (int32_t i = 0; i < n * n; ++i)
    if (!std::isfinite(a[i])) return false;
  for (int32_t i = 0; i < n; ++i)
    if (!std::isfinite(b[i])) return false;
  // Rows and columns are first scaled by powers of two (exactly) to largest entries near 1: the
  // perspective's normal equations mix terms of x^2 u^2 with terms of 1, and a pivot is told from
  // rounding noise only against entries of its own size.
  double columnScale[16];
  for (int32_t i = 0; i < n; ++i) {
    double big = 0;
    for (int32_t j = 0; j < n; ++j) big = std::max(big, std::fabs(a[i * n + j]));
    if (big == 0) return false;
    const double s = std::ldexp(1.0, -std::ilogb(big));
    for (int32_t j = 0; j < n; ++j) a[i * n + j] *= s;
    b[i] *= s;
  }
  for (int32_t j = 0; j < n; ++j) {
    double big = 0;
    for (int32_t i = 0; i < n; ++i) big = std::max(big, std::fabs(a[i * n + j]));
    if (big == 0) return false;
    columnScale[j] = std::ldexp(1.0, -std::ilogb(big));
    for (int32_t i = 0; i < n; ++i) a[i * n + j] *= columnScale[j];
  }
  int32_t column[16];  // which unknown each column of the pivoted matrix stands for
  for (int32_t i = 0; i < n; ++i) column[i] = i;
  constexpr double kTiny = 1e-12;
  for (int32_t k = 0; k < n; ++k) {
    int32_t pr = k, pc = k;
    double best = -1;
    for (int32_t i = k; i < n; ++i)
      for (int32_t j = k; j < n; ++j)
        if (std::fabs(a[i * n + j]) > best) best = std::fabs(a[i * n + j]), pr = i, pc = j;
    if (!(best > kTiny)) return false;
    if (pr != k) {
      for (int32_t j = 0; j < n; ++j) std::swap(a[k * n + j], a[pr * n + j]);
      std::swap(b[k], b[pr]);
    }
    if (pc != k) {
      for (int32_t i = 0; i < n; ++i) std::swap(a[i * n + k], a[i * n + pc]);
      std::swap(column[k], column[pc]);
    }
    const double pivot = a[k * n + k];
    for (int32_t j = 0; j < n; ++j) a[k * n + j] /= pivot;
    b[k] /= pivot;
    for (int32_t i = 0; i < n; ++i) {
      if (i == k) continue;
      const double f = a[i * n + k];
      if (f == 0) continue;
      for (int32_t j = 0; j < n; ++j) a[i * n + j] -= f * a[k * n + j];
      b[i] -= f * b[k];
    }
  }
  double x[16];
  for (int32_t k = 0; k < n; ++k) x[column[k]] = b[k];
  for (int32_t k = 0; k < n; ++k) b[k] = x[k] * columnScale[k];
  return true;
}

void DistortPrepare(qvDistortJob& job) {
  job.error = 0;
  job.prepared = false;
  const double w = job.source.width, h = job.source.height;
  if (job.source.width < 1 || job.source.height < 1 || job.valueCount < 0 ||
      job.valueCount > kDistortMaxValues) {
    Fail(job, ERR_WRONGUSAGE);
    return;
  }
  int code = ERR_WRONGUSAGE;
  switch (job.mode) {
    case kDistortPerspective:
      code = PerspectiveCoefficients(job);
      break;
    case kDistortArc:
      code = ArcCoefficients(job);
      break;
    case kDistortPolar:
      code = PolarCoefficients(job);
      break;
    case kDistortBarrel:
      code = BarrelCoefficients(job);
      break;
    default:
      break;
  }
  if (code != 0) {
    Fail(job, code);
    return;
  }
  double* c = job.coefficients;
  Box box;
  bool boxed = true;
  switch (job.mode) {
    case kDistortPerspective: {
      double inv[8];
      InvertPerspective(c, inv);
      for (double x : {0.0, w})
        for (double y : {0.0, h}) {
          double d = inv[6] * x + inv[7] * y + 1;
          if (std::fabs(d) < kEpsilon) d = 1;
          box.Add((inv[0] * x + inv[1] * y + inv[2]) / d, (inv[3] * x + inv[4] * y + inv[5]) / d);
        }
      break;
    }
    case kDistortArc: {
      const double from = c[0] - c[1] / 2, to = c[0] + c[1] / 2;
      for (double a : {from, to}) {
        box.Add(c[2] * std::cos(a), c[2] * std::sin(a));
        box.Add((c[2] - c[3]) * std::cos(a), (c[2] - c[3]) * std::sin(a));
      }
      // The outer edge bulges at each quarter turn it passes; four of them reach every side, so
      // a huge arc angle stops there.
      double a = std::ceil(from / (kPi / 2)) * (kPi / 2);
      for (int32_t quarter = 0; quarter < 4 && a < to; ++quarter, a += kPi / 2)
        box.Add(c[2] * std::cos(a), c[2] * std::sin(a));
      c[1] = kTwoPi * w / c[1];
      c[3] = h / c[3];
      break;
    }
    case kDistortPolar:
      if (job.valueCount < 2) c[2] = c[3] = 0;
      box.Add(c[2] - c[0], c[3] - c[0]);
      box.Add(c[2] + c[0], c[3] + c[0]);
      c[7] = h / (c[0] - c[1]);
      break;
    default:
      boxed = false;
  }
  if (!boxed) {
    job.outWidth = job.source.width, job.outHeight = job.source.height;
    job.outX = job.outY = 0;
  } else {
    if (!box.Finite()) {
      Fail(job, ERR_WRONGUSAGE);
      return;
    }
    const double x = std::floor(box.minX - 0.5), y = std::floor(box.minY - 0.5);
    const double width = std::ceil(box.maxX - x + 0.5), height = std::ceil(box.maxY - y + 0.5);
    if (x < INT32_MIN || y < INT32_MIN || x > INT32_MAX || y > INT32_MAX) {
      Fail(job, ERR_WRONGUSAGE);
      return;
    }
    // The result bitmap's rows hold (width & ~3) + 4 pixels of 4 bytes, and one spare row; the
    // product of two sides near 2^31 would pass 64 bits, so the rows are compared by division.
    if (width > INT32_MAX - 4 || height > INT32_MAX - 1 ||
        ((int64_t(width) & ~int64_t(3)) + 4) * 4 > kMaxPlaneBytes / (int64_t(height) + 1)) {
      Fail(job, ERR_MEM);
      return;
    }
    job.outX = int32_t(x), job.outY = int32_t(y);
    job.outWidth = int32_t(width), job.outHeight = int32_t(height);
  }
  job.prepared = true;
}

void DistortRender(qvDistortJob& job) {
  if (!job.prepared || !job.destination.pixels || !job.source.pixels) return;
  const int32_t bpp = job.bytesPerPixel;
  if (bpp < 2 || bpp > 4) return;
  auto* sampler = static_cast<Sampler*>(image::Allocate(sizeof(Sampler), false));
  if (!sampler) {
    Fail(job, ERR_MEM);
    return;
  }
  new (sampler) Sampler(job);
  const int32_t w = job.source.width, h = job.source.height;
  for (int32_t j = 0; j < job.outHeight; ++j) {
    const double Y = double(j) + job.outY + 0.5;
    uint8_t* row = job.destination.pixels + int64_t(j) * job.destination.pixelsPerRow * bpp;
    uint8_t* maskRow = job.dstMask ? job.dstMask + int64_t(j) * job.dstMaskBytesPerRow : nullptr;
    uint8_t* alphaRow = job.dstAlpha ? job.dstAlpha + int64_t(j) * job.dstAlphaBytesPerRow
                                     : nullptr;
    for (int32_t i = 0; i < job.outWidth; ++i) {
      const double X = double(i) + job.outX + 0.5;
      uint8_t* d = row + int64_t(i) * bpp;
      const Mapped m = MapPoint(job, X, Y);
      // Beyond the horizon, or a point that is no number: nothing is there.
      if (!(m.validity > 0) || !std::isfinite(m.sx) || !std::isfinite(m.sy)) {
        std::memset(d, 0, size_t(bpp));
        continue;
      }
      bool nearest = !job.smooth;
      Rgba c;
      if (job.smooth) {
        sampler->Scale(m.dux, m.duy, m.dvx, m.dvy);
        if (sampler->interpolate || sampler->limit) {
          c = sampler->Bilinear(m.sx, m.sy);
        } else if (m.sx + sampler->hExtent < 0 || m.sx - sampler->hExtent > w ||
                   m.sy + sampler->vExtent < 0 || m.sy - sampler->vExtent > h) {
          nearest = true;
        } else {
          c = sampler->Ewa(m.sx, m.sy);
        }
      }
      if (nearest) {
        // Truncation toward zero: a point a little left of the source still samples column 0.
        if (!(m.sx > -1 && m.sx < w && m.sy > -1 && m.sy < h)) {
          std::memset(d, 0, size_t(bpp));
          continue;
        }
        const auto sx = int32_t(m.sx), sy = int32_t(m.sy);
        std::memcpy(d, sampler->PixelAt(sx, sy), size_t(bpp));
        if (alphaRow)
          alphaRow[i] = job.srcAlpha ? job.srcAlpha[int64_t(sy) * job.srcAlphaBytesPerRow + sx]
                                     : 255;
        if (maskRow &&
            (!job.srcMask || MaskBit(job.srcMask + int64_t(sy) * job.srcMaskBytesPerRow, sx)))
          SetMaskBit(maskRow, i);
        continue;
      }
      WritePixel(job, d, c);
      const double a = std::clamp(std::floor(c.a + 0.5), 0.0, 255.0);
      if (alphaRow) alphaRow[i] = uint8_t(a);
      if (maskRow && a != 0) SetMaskBit(maskRow, i);
    }
  }
  sampler->~Sampler();
  std::free(sampler);
}

int DistortBitMap(const qvBitMap* bitmap, const qvPlane* mask, const qvPlane* alpha, int32_t width,
                  int32_t height, int32_t mode, int32_t valueCount, const double* values,
                  bool smooth, qvBitMap** outBitmap, qvPlane** outMask, qvPlane** outAlpha,
                  int32_t* outWidth, int32_t* outHeight) {
  if (mask && !mask->data) mask = nullptr;
  if (alpha && !alpha->data) alpha = nullptr;
  if (!bitmap || valueCount < 0 || valueCount > kDistortMaxValues || (valueCount > 0 && !values))
    return ERR_WRONGUSAGE;
  width = std::min(width, bitmap->width), height = std::min(height, bitmap->height);
  for (const qvPlane* p : {mask, alpha})
    if (p && (p->width > 0 || p->height > 0))
      width = std::min(width, p->width), height = std::min(height, p->height);
  if (width < 1 || height < 1) return ERR_WRONGUSAGE;
  qvDistortJob job{};
  job.mode = mode;
  job.valueCount = valueCount;
  for (int32_t i = 0; i < valueCount; ++i) job.values[i] = values[i];
  job.source.width = width, job.source.height = height;
  job.smooth = smooth;
  DistortPrepare(job);
  if (job.error != 0) return job.error;
  qvBitMapLock from{};
  if (!LockBitMap(bitmap, &from)) return ERR_LOCKBMAP;
  // Pixels that only a 4-byte source fills start cleared.
  qvBitMap* result = from.bytesPerPixel == 4 ? AllocBitMap(job.outWidth, job.outHeight)
                                             : AllocClearedBitMap(job.outWidth, job.outHeight);
  // A new plane: the source's kind, or for a source with neither a mask for the hard edges of
  // nearest sampling and an alpha channel for the partial edges of smoothing.
  const bool wantMask = mask || (!alpha && !smooth);
  qvPlane* plane = wantMask ? AllocMask(job.outWidth, job.outHeight, true)
                            : AllocAlphaChannel(job.outWidth, job.outHeight, true);
  if (!result || !plane) {
    FreeBitMap(result);
    FreeMaskOrAlpha(plane);
    return ERR_MEM;
  }
  qvBitMapLock to{};
  if (!LockBitMap(result, &to)) {
    FreeBitMap(result);
    FreeMaskOrAlpha(plane);
    return ERR_LOCKBMAP;
  }
  if (from.bytesPerPixel == 4) {
    result->format = from.format;
    job.source.pixels = from.pixels;
    job.source.pixelsPerRow = from.pixelsPerRow;
    job.destination.pixels = to.pixels;
    job.destination.pixelsPerRow = to.pixelsPerRow;
  }
  job.destination.width = job.outWidth, job.destination.height = job.outHeight;
  if (mask) job.srcMask = mask->data, job.srcMaskBytesPerRow = mask->bytesPerRow;
  if (alpha && !mask) job.srcAlpha = alpha->data, job.srcAlphaBytesPerRow = alpha->bytesPerRow;
  if (wantMask)
    job.dstMask = plane->data, job.dstMaskBytesPerRow = plane->bytesPerRow;
  else
    job.dstAlpha = plane->data, job.dstAlphaBytesPerRow = plane->bytesPerRow;
  job.format = from.format;
  job.bytesPerPixel = from.bytesPerPixel;
  DistortRender(job);
  UnLockBitMap(&to);
  UnLockBitMap(&from);
  if (job.error != 0) {
    FreeBitMap(result);
    FreeMaskOrAlpha(plane);
    return job.error;
  }
  *outBitmap = result;
  if (outMask) *outMask = wantMask ? plane : nullptr;
  if (outAlpha) *outAlpha = wantMask ? nullptr : plane;
  if (!outMask && wantMask) FreeMaskOrAlpha(plane);
  if (!outAlpha && !wantMask) FreeMaskOrAlpha(plane);
  *outWidth = job.outWidth;
  *outHeight = job.outHeight;
  return 0;
}

}  // namespace qv
