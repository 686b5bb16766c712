// Shapes and gradients of the image engine beside cairo (coverage into A8 surfaces) and pixman
// (gradients into a8r8g8b8), in the same run on one thread. Names read <case>/<implementation>/
// <sizes>: polygon_aa/<impl>/<points>/<side> for the star and /<diameter>/<side> for the circle;
// line_aa and line_thick /<thickness>/<side> for 1000 seeded random lines; the gradients
// /<width>/<height>.
#include <benchmark/benchmark.h>
#include <cairo.h>
#include <pixman.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "image/image.h"

using namespace qv;

namespace {

std::string ShapeName(const char* kase, const char* impl, std::vector<int> sizes) {
  char buffer[128];
  int n = std::snprintf(buffer, sizeof buffer, "%s/%s", kase, impl);
  for (int s : sizes) n += std::snprintf(buffer + n, sizeof buffer - size_t(n), "/%d", s);
  return buffer;
}

template <typename F>
void AddShape(const std::string& name, F f) {
  benchmark::RegisterBenchmark(name.c_str(), f)->Unit(benchmark::kMicrosecond)->UseRealTime();
}

// A star of n points (alternating radii) or a circle as a polygon, centred in the side.
std::vector<int32_t> StarPoints(int n, int side) {
  std::vector<int32_t> p;
  for (int k = 0; k < 2 * n; ++k) {
    double r = (k % 2 ? 0.2 : 0.48) * side, a = M_PI * k / n;
    p.push_back(int32_t(std::lround(side / 2.0 + r * std::cos(a))));
    p.push_back(int32_t(std::lround(side / 2.0 + r * std::sin(a))));
  }
  return p;
}

std::vector<int32_t> CirclePoints(int diameter, int side) {
  std::vector<int32_t> p;
  const int n = 1000;
  for (int k = 0; k < n; ++k) {
    double a = 2 * M_PI * k / n;
    p.push_back(int32_t(std::lround(side / 2.0 + diameter / 2.0 * std::cos(a))));
    p.push_back(int32_t(std::lround(side / 2.0 + diameter / 2.0 * std::sin(a))));
  }
  return p;
}

struct A8 {
  qvRasterImage* image = nullptr;
  uint8_t* data = nullptr;
  int32_t bytesPerRow = 0;
  int side;
  explicit A8(int s) : side(s) { CreateCoverageImage(s, s, &image, &data, &bytesPerRow); }
  ~A8() { ReleaseCoverageImage(image); }
  void Clear() { std::memset(data, 0, size_t(bytesPerRow) * size_t(side)); }
};

struct CairoA8 {
  cairo_surface_t* surface;
  cairo_t* cr;
  int side;
  explicit CairoA8(int s)
      : surface(cairo_image_surface_create(CAIRO_FORMAT_A8, s, s)),
        cr(cairo_create(surface)),
        side(s) {}
  ~CairoA8() {
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
  }
  void Clear() {
    cairo_surface_flush(surface);
    std::memset(cairo_image_surface_get_data(surface), 0,
                size_t(cairo_image_surface_get_stride(surface)) * size_t(side));
    cairo_surface_mark_dirty(surface);
  }
};

void Polygon(const char* label, std::vector<int32_t> pts, int size0, int side) {
  AddShape(ShapeName("polygon_aa", "quillvane", {size0, side}), [=](benchmark::State& st) {
    A8 a(side);
    for (auto _ : st) {
      a.Clear();
      DrawPolygonCoverage(a.image, pts.data(), int32_t(pts.size() / 2), true, 0);
      benchmark::DoNotOptimize(a.data);
    }
    st.SetLabel(label);
  });
  AddShape(ShapeName("polygon_aa", "cairo", {size0, side}), [=](benchmark::State& st) {
    CairoA8 c(side);
    cairo_set_fill_rule(c.cr, CAIRO_FILL_RULE_EVEN_ODD);
    for (auto _ : st) {
      c.Clear();
      cairo_move_to(c.cr, pts[0], pts[1]);
      for (size_t i = 2; i < pts.size(); i += 2) cairo_line_to(c.cr, pts[i], pts[i + 1]);
      cairo_close_path(c.cr);
      cairo_fill(c.cr);
      cairo_surface_flush(c.surface);
    }
    st.SetLabel(label);
  });
}

std::vector<int32_t> RandomLines(int side) {
  std::mt19937 rng(42);
  std::uniform_int_distribution<int32_t> at(0, side - 1);
  std::vector<int32_t> v(4000);
  for (auto& x : v) x = at(rng);
  return v;
}

void Lines(const char* kase, int thickness, int side) {
  const std::vector<int32_t> lines = RandomLines(side);
  AddShape(ShapeName(kase, "quillvane", {thickness, side}), [=](benchmark::State& st) {
    A8 a(side);
    for (auto _ : st) {
      a.Clear();
      for (size_t i = 0; i < lines.size(); i += 4)
        DrawLineCoverage(a.image, lines[i], lines[i + 1], lines[i + 2], lines[i + 3], true,
                         thickness);
      benchmark::DoNotOptimize(a.data);
    }
  });
  AddShape(ShapeName(kase, "cairo", {thickness, side}), [=](benchmark::State& st) {
    CairoA8 c(side);
    cairo_set_line_width(c.cr, thickness);
    cairo_set_line_cap(c.cr, CAIRO_LINE_CAP_ROUND);
    for (auto _ : st) {
      c.Clear();
      for (size_t i = 0; i < lines.size(); i += 4) {
        cairo_move_to(c.cr, lines[i] + 0.5, lines[i + 1] + 0.5);
        cairo_line_to(c.cr, lines[i + 2] + 0.5, lines[i + 3] + 0.5);
        cairo_stroke(c.cr);
      }
      cairo_surface_flush(c.surface);
    }
  });
}

void Gradient(const char* kase, int32_t type, int w, int h) {
  AddShape(ShapeName(kase, "quillvane", {w, h}), [=](benchmark::State& st) {
    qvBitMap* bm = AllocBitMap(w, h);
    qvGradient g{};
    g.type = type;
    g.stopCount = 3;
    g.stops[0] = {0x000000, 0};
    g.stops[1] = {0xFF8000, 0.5};
    g.stops[2] = {0xFFFFFF, 1};
    g.angle = 30;
    g.centreX = g.centreY = g.balance = 0.5;
    GradientRecord r{bm->pixels, 4, bm->format, 0, 0, w, h, bm->bytesPerRow / 4, &g};
    for (auto _ : st) {
      GradientKernel(r);
      benchmark::ClobberMemory();
    }
    st.SetBytesProcessed(st.iterations() * int64_t(w) * h * 4);
    FreeBitMap(bm);
  });
  AddShape(ShapeName(kase, "pixman", {w, h}), [=](benchmark::State& st) {
    std::vector<uint32_t> px(size_t(w) * h);
    pixman_image_t* dst = pixman_image_create_bits(PIXMAN_a8r8g8b8, w, h, px.data(), w * 4);
    pixman_gradient_stop_t stops[3] = {
        {pixman_double_to_fixed(0), {0, 0, 0, 0xFFFF}},
        {pixman_double_to_fixed(0.5), {0xFFFF, 0x8080, 0, 0xFFFF}},
        {pixman_double_to_fixed(1), {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}}};
    pixman_point_fixed_t centre = {pixman_int_to_fixed(w / 2), pixman_int_to_fixed(h / 2)};
    pixman_image_t* src = nullptr;
    if (type == kGradientLinear) {
      pixman_point_fixed_t p1 = {0, 0}, p2 = {pixman_int_to_fixed(w), pixman_int_to_fixed(h)};
      src = pixman_image_create_linear_gradient(&p1, &p2, stops, 3);
    } else if (type == kGradientRadial) {
      double radius = std::sqrt(double(w) * w + double(h) * h) / 2;
      src = pixman_image_create_radial_gradient(&centre, &centre, 0, pixman_double_to_fixed(radius),
                                                stops, 3);
    } else {
      src = pixman_image_create_conical_gradient(&centre, pixman_double_to_fixed(30), stops, 3);
    }
    for (auto _ : st) {
      pixman_image_composite32(PIXMAN_OP_SRC, src, nullptr, dst, 0, 0, 0, 0, 0, 0, w, h);
      benchmark::ClobberMemory();
    }
    st.SetBytesProcessed(st.iterations() * int64_t(w) * h * 4);
    pixman_image_unref(src);
    pixman_image_unref(dst);
  });
}

}  // namespace

void RegisterShapeCases() {
  const int side = 1024;
  Polygon("100-point star", StarPoints(100, side), 100, side);
  Polygon("1000-pixel circle", CirclePoints(1000, side), 1000, side);
  Lines("line_aa", 1, side);
  Lines("line_thick", 5, side);
  Lines("line_thick", 20, side);
  Gradient("gradient_linear", kGradientLinear, 1920, 1080);
  Gradient("gradient_radial", kGradientRadial, 1920, 1080);
  Gradient("gradient_conical", kGradientConical, 1920, 1080);
}
