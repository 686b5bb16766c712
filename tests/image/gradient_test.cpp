// Gradients: the stop table and its lookup, the three spans and the stop-less angle gradient.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "image/image.h"

using namespace qv;

namespace {

struct Picture {
  int w, h;
  std::vector<uint32_t> px;
  Picture(int width, int height) : w(width), h(height), px(size_t(w * h), 0xDEADBEEF) {}
  uint32_t At(int x, int y) const { return px[size_t(y * w + x)]; }
  void Draw(const qvGradient& g, int32_t format = kPixARGB32) {
    GradientKernel(
        GradientRecord{reinterpret_cast<uint8_t*>(px.data()), 4, format, 0, 0, w, h, w, &g});
  }
};

qvGradient Stops(int32_t type, std::vector<std::pair<uint32_t, double>> stops) {
  qvGradient g{};
  g.type = type;
  g.centreX = g.centreY = g.balance = 0.5;
  g.stopCount = int32_t(stops.size());
  for (size_t i = 0; i < stops.size(); ++i) g.stops[i] = {stops[i].first, stops[i].second};
  return g;
}

int Channel(uint32_t c, int shift) { return int((c >> shift) & 255); }

// PSNR over the three channels of two pictures.
double Psnr(const Picture& a, const std::vector<double>& ref) {
  double se = 0;
  for (size_t i = 0; i < a.px.size(); ++i)
    for (int k = 0; k < 3; ++k) {
      double d = Channel(a.px[i], 16 - 8 * k) - ref[i * 3 + size_t(k)];
      se += d * d;
    }
  double mse = se / double(a.px.size() * 3);
  return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace

TEST(GradientAngle, FourByFourAtZeroAndNinety) {
  // Black to white: t = j at 0 degrees and t = i at 90, each channel t x 255 / 4.
  const uint32_t levels[4] = {0x000000, 0x3F3F3F, 0x7F7F7F, 0xBFBFBF};
  Picture a(4, 4), b(4, 4);
  GradientAngleKernel(0xFFFFFF, a.px.data(), 0, 0, 4, 0x000000, 0, 4, kPixARGB32, 4);
  GradientAngleKernel(0xFFFFFF, b.px.data(), 0, 0, 4, 0x000000, 90, 4, kPixARGB32, 4);
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(a.At(i, j), levels[j]) << i << "," << j;
      EXPECT_EQ(b.At(i, j), levels[i]) << i << "," << j;
    }
}

TEST(GradientAngle, QuadrantsFollowTheirFormulas) {
  // t by quadrant on 4 x 4, black to white (channel t x 255 / 4): from 91 degrees on the
  // formulas count from the far edge, so t runs 4 .. 1 there.
  struct Case {
    int angle;
    bool byColumn;  // t depends on the column (else on the row)
    int t[4];
  } cases[] = {
      {180, false, {4, 3, 2, 1}}, {270, true, {4, 3, 2, 1}},  {-90, true, {4, 3, 2, 1}},
      {450, true, {0, 1, 2, 3}},  {360, false, {0, 1, 2, 3}}, {-360, false, {0, 1, 2, 3}},
  };
  for (auto c : cases) {
    Picture p(4, 4);
    GradientAngleKernel(0xFFFFFF, p.px.data(), 0, 0, 4, 0x000000, c.angle, 4, kPixARGB32, 4);
    for (int j = 0; j < 4; ++j)
      for (int i = 0; i < 4; ++i) {
        int t = c.t[c.byColumn ? i : j];
        EXPECT_EQ(p.At(i, j), uint32_t(t * 255 / 4) * 0x010101u) << c.angle << " " << i << "," << j;
      }
  }
  // A diagonal: the start corner holds the start colour, the far corner is the brightest.
  Picture d(4, 4);
  GradientAngleKernel(0xFFFFFF, d.px.data(), 0, 0, 4, 0x000000, 45, 4, kPixARGB32, 4);
  EXPECT_EQ(d.At(0, 0), 0u);
  for (uint32_t v : d.px) EXPECT_LE(v, d.At(3, 3));
  // Drawn inside a larger picture at an offset, nothing outside the rectangle changes.
  Picture e(6, 5);
  GradientAngleKernel(0xFFFFFF, e.px.data(), 1, 2, 3, 0x000000, 0, 6, kPixARGB32, 2);
  EXPECT_EQ(e.At(0, 2), 0xDEADBEEFu);
  EXPECT_EQ(e.At(1, 2), 0u);
  EXPECT_EQ(e.At(3, 3), 0x7F7F7Fu);
  EXPECT_EQ(e.At(4, 3), 0xDEADBEEFu);
  EXPECT_EQ(e.At(1, 4), 0xDEADBEEFu);
}

TEST(GradientKernel, StoresInTheTargetFormatAndOnlyOnFourBytes) {
  Picture p(2, 1);
  qvGradient g = Stops(kGradientLinear, {{0x112233, 0}, {0x112233, 1}});
  p.Draw(g, kPixBGRx32);
  EXPECT_EQ(p.At(0, 0), 0x33221100u);
  Picture q(2, 1);
  GradientKernel(
      GradientRecord{reinterpret_cast<uint8_t*>(q.px.data()), 2, kPixARGB32, 0, 0, 2, 1, 2, &g});
  EXPECT_EQ(q.At(0, 0), 0xDEADBEEFu);
}

TEST(GradientStops, OneRepeatedColourFillsThatColour) {
  for (int32_t type : {kGradientLinear, kGradientRadial, kGradientConical}) {
    Picture p(9, 7);
    p.Draw(Stops(type, {{0x4080C0, 0}, {0x4080C0, 0.3}, {0x4080C0, 1}}));
    for (uint32_t v : p.px) EXPECT_EQ(v, 0x4080C0u) << type;
  }
}

TEST(GradientStops, LookupWeighsBetweenNeighboursAndLaterStopsWinTies) {
  qvGradient g = Stops(kGradientLinear,
                       {{0x00FF00, 1}, {0x000000, 0}, {0xFF0000, 0.5}, {0x0000FF, 0.5}});
  qvGradientTable t;
  BuildGradientTable(g, &t);
  ASSERT_EQ(t.count, 4);
  // Sorted stably: red before blue at 0.5.
  EXPECT_EQ(t.entries[1].colour, 0xFF0000u);
  EXPECT_EQ(t.entries[2].colour, 0x0000FFu);
  EXPECT_EQ(t.entries[2].blue, 0xFFFF);
  struct Case {
    int64_t p;
    uint32_t want;
  } cases[] = {
      {-5, 0x000000},    {0, 0x000000},     {16384, 0x7F0000},  // halfway to red: w = 128
      {32767, 0xFE0000},                                        // just short of the tie
      {32768, 0x0000FF},  // the later stop at the shared position
      {49152, 0x007F7F},  // halfway from blue to green
      {65536, 0x00FF00}, {70000, 0x00FF00},
  };
  for (auto c : cases) EXPECT_EQ(GradientStopLookup(t, c.p, GradientLookup::kClamp), c.want) << c.p;
  EXPECT_EQ(GradientStopLookup(t, 65536 + 16384, GradientLookup::kRepeat), 0x7F0000u);
}

TEST(GradientStops, ColoursSitAtTheirPositions) {
  qvGradient g = Stops(kGradientLinear, {{0xFF0000, 0}, {0x00FF00, 0.5}, {0x0000FF, 1}});
  g.angle = 90;  // left to right
  Picture p(101, 3);
  p.Draw(g);
  for (int y = 0; y < 3; ++y) {
    EXPECT_EQ(p.At(0, y), 0xFF0000u);
    EXPECT_EQ(p.At(50, y), 0x00FF00u);
    EXPECT_EQ(p.At(100, y), 0x0000FFu);
  }
}

namespace {

// The analytic colour of a two-stop gradient at fraction f, clamped.
void Analytic(std::vector<double>& ref, size_t i, uint32_t c0, uint32_t c1, double f) {
  f = std::clamp(f, 0.0, 1.0);
  for (int k = 0; k < 3; ++k) {
    int s = 16 - 8 * k;
    ref[i * 3 + size_t(k)] = Channel(c0, s) + (Channel(c1, s) - Channel(c0, s)) * f;
  }
}

}  // namespace

TEST(GradientRadial, MatchesTheAnalyticPictureAndGrowsAlongTheAxis) {
  const int w = 160, h = 120;
  qvGradient g = Stops(kGradientRadial, {{0x000000, 0}, {0xFFFFFF, 1}});
  g.centreX = 0.25, g.centreY = 0.5, g.border = 0.2;
  Picture p(w, h);
  p.Draw(g);
  double radius = std::sqrt(double(w * w + h * h)) * (0.25 + 0.5) * 0.8;
  std::vector<double> ref(size_t(w * h * 3));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      Analytic(ref, size_t(y * w + x), 0x000000, 0xFFFFFF,
               std::hypot(x - 0.25 * w, y - 0.5 * h) / radius);
  EXPECT_GT(Psnr(p, ref), 40.0);
  EXPECT_EQ(p.At(40, 60), 0u);  // the centre holds the first stop
  for (int x = 41; x < w; ++x) EXPECT_GE(Channel(p.At(x, 60), 8), Channel(p.At(x - 1, 60), 8)) << x;
}

TEST(GradientConical, MatchesTheAnalyticSweepAndItsSeamMeetsItself) {
  const int w = 128, h = 128;
  qvGradient g{};
  g.type = kGradientConical;
  g.startColour = 0xFFFFFF;
  g.endColour = 0x000000;
  g.centreX = g.centreY = g.balance = 0.5;
  Picture p(w, h);
  p.Draw(g);
  std::vector<double> ref(size_t(w * h * 3));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double turn = std::atan2(y - 64.0, x - 64.0);
      if (turn < 0) turn += 2 * M_PI;
      double f = turn / (2 * M_PI);
      // End colour at 0, start at the balance, end again at a full turn.
      Analytic(ref, size_t(y * w + x), 0x000000, 0xFFFFFF, f < 0.5 ? f * 2 : (1 - f) * 2);
    }
  EXPECT_GT(Psnr(p, ref), 40.0);
  // Along the axis at angle 0 the sweep starts at the end colour; across the seam (rows just
  // above and below it) both sides match.
  EXPECT_EQ(p.At(127, 64), 0u);
  for (int x = 80; x < w; ++x)
    EXPECT_NEAR(Channel(p.At(x, 63), 8), Channel(p.At(x, 65), 8), 4) << x;
  // The sweep grows monotonically along the upper half circle's axis from angle 0 to 180.
  int last = -1;
  for (int a = 0; a <= 180; a += 5) {
    double t = a * M_PI / 180;
    int v = Channel(p.At(int(64 + 50 * std::cos(t)), int(64 + 50 * std::sin(t))), 8);
    EXPECT_GE(v, last - 2) << a;
    last = v;
  }
  EXPECT_GE(last, 250);
}
