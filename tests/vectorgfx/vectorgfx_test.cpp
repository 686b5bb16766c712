// The vector graphics plugin's geometry called directly: exact coverage of paths on whole pixels
// (fills, 1- and 4-pixel strokes), fill rules on nested squares, a circle's area, caps, joins and
// dashes, arcs and boxes, current points and translation, text through a DejaVu face, and
// streams that end early or hold numbers cairo cannot take.
#include "vectorgfx.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Stream {
  std::vector<uint8_t> b;
  Stream& I(int32_t v) {
    uint8_t raw[4];
    std::memcpy(raw, &v, 4);
    b.insert(b.end(), raw, raw + 4);
    return *this;
  }
  Stream& D(double v) {
    uint8_t raw[8];
    std::memcpy(raw, &v, 8);
    b.insert(b.end(), raw, raw + 8);
    return *this;
  }
  Stream& Move(double x, double y, int rel = 0) { return I(QV_SEG_MOVETO).I(rel).D(x).D(y); }
  Stream& Line(double x, double y, int rel = 0) { return I(QV_SEG_LINETO).I(rel).D(x).D(y); }
  Stream& Close() { return I(QV_SEG_CLOSEPATH); }
  Stream& Arc(double cx, double cy, double rx, double ry, double a0, double a1, int dir) {
    return I(QV_SEG_ARC).D(cx).D(cy).D(rx).D(ry).D(a0).D(a1).I(dir);
  }
  Stream& Box(double x, double y, double w, double h, int a = 0, int b2 = 0, int c = 0, int d = 0) {
    return I(QV_SEG_BOX).D(x).D(y).D(w).D(h).I(a).I(b2).I(c).I(d);
  }
  Stream& Text(int32_t font, int32_t size, const std::string& text) {
    I(QV_SEG_TEXT).I(font).I(size);
    b.insert(b.end(), text.begin(), text.end());
    size_t padded = ((text.size() + 1) / 4) * 4 + 4;
    b.insert(b.end(), padded - text.size(), 0);
    return *this;
  }
  // A square from (x, y) of side s, clockwise on the screen or not.
  Stream& Square(double x, double y, double s, bool clockwise) {
    Move(x, y);
    if (clockwise) {
      Line(x + s, y).Line(x + s, y + s).Line(x, y + s);
    } else {
      Line(x, y + s).Line(x + s, y + s).Line(x + s, y);
    }
    return Close();
  }
  Stream& End() { return I(0); }
};

qvPathStyle Style(int32_t join = 0, int32_t cap = 0, int32_t rule = 0) {
  qvPathStyle s{};
  s.join = join;
  s.cap = cap;
  s.fillRule = rule;
  return s;
}

struct Extents {
  double x, y, w, h;
};
Extents ExtentsOf(const Stream& s, bool fill, double width, const qvPathStyle& style = Style(),
                  bool antialias = true) {
  qvPathExtentsRequest r{};
  r.antialias = antialias ? 1 : 0;
  r.style = style;
  r.stream = s.b.data();
  r.streamBytes = s.b.size();
  r.fill = fill ? 1 : 0;
  r.lineWidth = width;
  EXPECT_NE(vgfx::PathExtents(&r), 0);
  return {r.x, r.y, r.width, r.height};
}

struct Canvas {
  int32_t w, h, stride;
  std::vector<uint8_t> px;
  Canvas(int32_t width, int32_t height, int32_t bytesPerRow = 0)
      : w(width),
        h(height),
        stride(bytesPerRow ? bytesPerRow : width),
        px(size_t(stride) * size_t(height)) {}
  uint8_t At(int x, int y) const { return px[size_t(y) * size_t(stride) + size_t(x)]; }
  // Rows of '#' (255), '.' (0) and '+' (anything between).
  std::string Picture() const {
    std::string out;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) out += At(x, y) == 255 ? '#' : At(x, y) == 0 ? '.' : '+';
      out += '\n';
    }
    return out;
  }
  double Sum() const {
    double sum = 0;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) sum += At(x, y) / 255.0;
    }
    return sum;
  }
};

int32_t Draw(Canvas* c, const Stream& s, bool fill, double width, bool antialias = true,
             const qvPathStyle& style = Style(), double tx = 0, double ty = 0,
             const double* matrix = nullptr) {
  qvDrawPathRequest r{};
  r.style = style;
  r.antialias = antialias ? 1 : 0;
  r.stream = s.b.data();
  r.streamBytes = s.b.size();
  r.fill = fill ? 1 : 0;
  r.lineWidth = width;
  r.alpha = c->px.data();
  r.bytesPerRow = c->stride;
  r.translateX = tx;
  r.translateY = ty;
  const double identity[4] = {1, 0, 0, 1};
  std::memcpy(r.matrix, matrix ? matrix : identity, sizeof r.matrix);
  r.width = c->w;
  r.height = c->h;
  int32_t result = vgfx::DrawPathCoverage(&r);
  EXPECT_EQ(result, r.drawn);
  return result;
}

TEST(VectorGfx, FillsAndStrokesOnWholePixelsAreExact) {
  Stream box;
  box.Move(1, 1).Line(5, 1).Line(5, 4).Line(1, 4).Close().End();
  Extents e = ExtentsOf(box, true, 1);
  EXPECT_EQ(e.x, 1);
  EXPECT_EQ(e.y, 1);
  EXPECT_EQ(e.w, 4);
  EXPECT_EQ(e.h, 3);
  Canvas fill(7, 6);
  ASSERT_EQ(Draw(&fill, box, true, 1), 1);
  EXPECT_EQ(fill.Picture(),
            ".......\n"
            ".####..\n"
            ".####..\n"
            ".####..\n"
            ".......\n"
            ".......\n");

  // A 4-pixel stroke on whole pixels covers two pixels either side (mitre corners).
  Stream square;
  square.Square(3, 3, 4, true).End();
  e = ExtentsOf(square, false, 4);
  EXPECT_EQ(e.x, 1);
  EXPECT_EQ(e.w, 8);
  Canvas thick(10, 10);
  ASSERT_EQ(Draw(&thick, square, false, 4), 1);
  EXPECT_EQ(thick.Picture(),
            "..........\n"
            ".########.\n"
            ".########.\n"
            ".########.\n"
            ".########.\n"
            ".########.\n"
            ".########.\n"
            ".########.\n"
            ".########.\n"
            "..........\n");

  // A 1-pixel stroke is exact once moved by minus its extents, as the player draws it. The
  // extents are the geometry's, not snapped to pixels, with or without anti-aliasing.
  for (bool antialias : {true, false}) {
    e = ExtentsOf(square, false, 1, Style(), antialias);
    EXPECT_EQ(e.x, 2.5);
    EXPECT_EQ(e.w, 5);
  }
  Canvas thin(5, 5);
  ASSERT_EQ(Draw(&thin, square, false, 1, true, Style(), -e.x, -e.y), 1);
  EXPECT_EQ(thin.Picture(),
            "#####\n"
            "#...#\n"
            "#...#\n"
            "#...#\n"
            "#####\n");
}

TEST(VectorGfx, FillRulesOnNestedSquaresOfBothOrientations) {
  struct Case {
    bool innerClockwise;
    int32_t rule;
    bool holeFilled;
  };
  const Case cases[] = {
      {true, 0, true},    // winding, same turn: the inner square counts twice
      {true, 1, false},   // even-odd: a hole
      {false, 0, false},  // winding, opposite turn: the counts cancel
      {false, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.innerClockwise << " " << c.rule);
    Stream s;
    s.Square(0, 0, 8, true).Square(2, 2, 4, c.innerClockwise).End();
    Canvas canvas(8, 8);
    ASSERT_EQ(Draw(&canvas, s, true, 1, true, Style(0, 0, c.rule)), 1);
    EXPECT_EQ(canvas.At(4, 4), c.holeFilled ? 255 : 0);
    EXPECT_EQ(canvas.At(1, 1), 255);
  }
}

// A fill is measured from its outline where that is certain, by cairo's tessellation otherwise:
// either way the box must be the one cairo's fill extents give at the same flattening, down to
// the last bit, or paths would move by a fraction of a pixel. Outlines whose extreme points are
// not filled (spikes, cancelling and doubled loops, a side along an edge) and random outlines of
// lines and curves, self-crossing, under both rules.
TEST(VectorGfx, FillExtentsAreCairosFillExtents) {
  struct Op {
    int32_t kind;  // QV_SEG_MOVETO, LINETO, CURVETO or CLOSEPATH
    double v[6];
  };
  using Outline = std::vector<Op>;
  auto square = [](double x, double y, double side, bool clockwise) {
    const double d = clockwise ? side : -side;
    Outline o = {{QV_SEG_MOVETO, {x, y}}};
    if (clockwise) {
      o.push_back({QV_SEG_LINETO, {x + d, y}});
      o.push_back({QV_SEG_LINETO, {x + d, y + d}});
      o.push_back({QV_SEG_LINETO, {x, y + d}});
    } else {
      o.push_back({QV_SEG_LINETO, {x, y - d}});
      o.push_back({QV_SEG_LINETO, {x - d, y - d}});
      o.push_back({QV_SEG_LINETO, {x - d, y}});
    }
    o.push_back({QV_SEG_CLOSEPATH, {}});
    return o;
  };
  auto join = [](Outline a, const Outline& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  struct Case {
    const char* what;
    Outline outline;
  };
  std::vector<Case> cases = {
      {"a square and the same square the other way round",
       join(square(0, 0, 10, true), square(0, 0, 10, false))},
      {"a square drawn twice", join(square(0, 0, 10, true), square(0, 0, 10, true))},
      {"a needle out of the left side",
       {{QV_SEG_MOVETO, {10, 10}},
        {QV_SEG_LINETO, {30, 10}},
        {QV_SEG_LINETO, {30, 30}},
        {QV_SEG_LINETO, {10, 30}},
        {QV_SEG_LINETO, {10, 20}},
        {QV_SEG_LINETO, {0, 20}},
        {QV_SEG_LINETO, {10, 20}},
        {QV_SEG_CLOSEPATH, {}}}},
      {"a needle folded back along itself",
       {{QV_SEG_MOVETO, {10, 10}},
        {QV_SEG_LINETO, {30, 10}},
        {QV_SEG_LINETO, {30, 30}},
        {QV_SEG_LINETO, {10, 30}},
        {QV_SEG_LINETO, {10, 21}},
        {QV_SEG_LINETO, {0.5, 20.5}},
        {QV_SEG_LINETO, {5, 20.75}},
        {QV_SEG_CLOSEPATH, {}}}},
      {"the left half cancelled by a loop the other way",
       join(square(0, 0, 100, true), {{QV_SEG_MOVETO, {0, 0}},
                                      {QV_SEG_LINETO, {0, 100}},
                                      {QV_SEG_LINETO, {50, 100}},
                                      {QV_SEG_LINETO, {50, 0}},
                                      {QV_SEG_CLOSEPATH, {}}})},
      {"a bow tie",
       {{QV_SEG_MOVETO, {0, 0}},
        {QV_SEG_LINETO, {40, 30}},
        {QV_SEG_LINETO, {40, 0}},
        {QV_SEG_LINETO, {0, 30}},
        {QV_SEG_CLOSEPATH, {}}}},
      {"a line there and back, and a lone point",
       {{QV_SEG_MOVETO, {0, 0}},
        {QV_SEG_LINETO, {40, 30}},
        {QV_SEG_MOVETO, {-5, -5}},
        {QV_SEG_MOVETO, {5, 5}},
        {QV_SEG_LINETO, {9, 5}},
        {QV_SEG_LINETO, {7, 9}}}},
      {"a curl of curves",
       {{QV_SEG_MOVETO, {20, 20}},
        {QV_SEG_CURVETO, {80, -10, 90, 60, 20, 50}},
        {QV_SEG_CURVETO, {-30, 40, 60, 10, 70, 90}},
        {QV_SEG_CLOSEPATH, {}}}},
  };
  uint32_t seed = 12345;
  auto next = [&seed](uint32_t range) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % range;
  };
  for (int i = 0; i < 600; ++i) {
    // Coarse grids make shared points, collinear edges and sides along edges; fine ones make
    // ordinary crossings and curves.
    const uint32_t grid = i % 3 == 0 ? 4 : i % 3 == 1 ? 16 : 4000;
    const double unit = i % 3 == 2 ? 1.0 / 16 : 1.0;
    auto coordinate = [&] { return next(grid) * unit; };
    Outline o;
    for (uint32_t sub = 1 + next(3); sub > 0; --sub) {
      o.push_back({QV_SEG_MOVETO, {coordinate(), coordinate()}});
      for (uint32_t k = 1 + next(7); k > 0; --k) {
        if (next(3) == 0) {
          Op c{QV_SEG_CURVETO, {}};
          for (double& v : c.v) v = coordinate();
          o.push_back(c);
        } else {
          o.push_back({QV_SEG_LINETO, {coordinate(), coordinate()}});
        }
      }
      if (next(2) == 0) o.push_back({QV_SEG_CLOSEPATH, {}});
    }
    cases.push_back({"random", o});
  }
  for (size_t i = 0; i < cases.size(); ++i) {
    for (int32_t rule : {0, 1}) {
      SCOPED_TRACE(testing::Message() << cases[i].what << " " << i << ", rule " << rule);
      Stream s;
      cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1);
      cairo_t* cr = cairo_create(surface);
      // The plugin's measuring scale and flattening for a path of this size.
      cairo_scale(cr, 256, 256);
      cairo_set_tolerance(cr, 0.1 * 256);
      cairo_set_fill_rule(cr, rule == 1 ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
      for (const Op& op : cases[i].outline) {
        const double* v = op.v;
        if (op.kind == QV_SEG_MOVETO) {
          s.Move(v[0], v[1]);
          cairo_move_to(cr, v[0], v[1]);
        } else if (op.kind == QV_SEG_LINETO) {
          s.Line(v[0], v[1]);
          cairo_line_to(cr, v[0], v[1]);
        } else if (op.kind == QV_SEG_CURVETO) {
          s.I(QV_SEG_CURVETO).I(0).D(v[0]).D(v[1]).D(v[2]).D(v[3]).D(v[4]).D(v[5]);
          cairo_curve_to(cr, v[0], v[1], v[2], v[3], v[4], v[5]);
        } else {
          s.Close();
          cairo_close_path(cr);
        }
      }
      s.End();
      double x0, y0, x1, y1;
      cairo_fill_extents(cr, &x0, &y0, &x1, &y1);
      cairo_destroy(cr);
      cairo_surface_destroy(surface);
      Extents want{x0, y0, x1 - x0, y1 - y0};
      if (!(want.w > 0) || !(want.h > 0)) want = {0, 0, 0, 0};
      const Extents e = ExtentsOf(s, true, 1, Style(0, 0, rule));
      EXPECT_EQ(e.x, want.x);
      EXPECT_EQ(e.y, want.y);
      EXPECT_EQ(e.w, want.w);
      EXPECT_EQ(e.h, want.h);
    }
  }
}

TEST(VectorGfx, CircleCoverageIsItsAreaAndSolidInside) {
  const double r = 40;
  Stream s;
  s.Arc(50, 50, r, r, 0, 360, 1).End();
  Extents e = ExtentsOf(s, true, 1);
  EXPECT_NEAR(e.x, 10, 1e-6);
  EXPECT_NEAR(e.w, 80, 1e-6);
  for (bool antialias : {true, false}) {
    SCOPED_TRACE(antialias);
    Canvas c(100, 100);
    ASSERT_EQ(Draw(&c, s, true, 1, antialias), 1);
    EXPECT_NEAR(c.Sum(), M_PI * r * r, M_PI * r * r * 0.015);
    for (int y = 20; y < 80; ++y) {
      for (int x = 20; x < 80; ++x) {
        if (std::hypot(x + 0.5 - 50, y + 0.5 - 50) < r - 1) {
          ASSERT_EQ(c.At(x, y), 255) << x << y;
        }
      }
    }
    if (!antialias) {
      EXPECT_EQ(c.Picture().find('+'), std::string::npos);
    }
  }
}

TEST(VectorGfx, CapsAndJoinsWidenTheExtentsAndDashesGapThePixels) {
  Stream line;
  line.Move(10, 10).Line(30, 10).End();
  const double caps[][2] = {{0, 10}, {1, 8}, {2, 8}};  // butt, round, square: left edge
  for (int cap = 0; cap < 3; ++cap) {
    Extents e = ExtentsOf(line, false, 4, Style(0, cap));
    EXPECT_NEAR(e.x, caps[cap][1], 1e-9) << cap;
    EXPECT_NEAR(e.y, 8, 1e-9) << cap;
    EXPECT_NEAR(e.h, 4, 1e-9) << cap;
  }
  // A sharp corner: the mitre reaches beyond the bevel and the round join.
  Stream corner;
  corner.Move(0, 20).Line(10, 0).Line(20, 20).End();
  const double mitre = ExtentsOf(corner, false, 4, Style(0)).y;
  const double round = ExtentsOf(corner, false, 4, Style(1)).y;
  const double bevel = ExtentsOf(corner, false, 4, Style(2)).y;
  EXPECT_LT(mitre, round);
  EXPECT_LT(round, bevel + 1e-9);

  const double pattern[] = {2, 2};
  qvPathStyle dashed = Style();
  dashed.dashes = pattern;
  dashed.dashCount = 2;
  Stream across;
  across.Move(0, 2).Line(12, 2).End();
  Canvas c(12, 4);
  ASSERT_EQ(Draw(&c, across, false, 2, true, dashed), 1);
  EXPECT_EQ(c.Picture(),
            "............\n"
            "##..##..##..\n"
            "##..##..##..\n"
            "............\n");
  // A pattern cairo refuses draws undashed, and the context stays usable.
  const double refused[][2] = {{-1, 2}, {0, 0}, {NAN, 1}};
  for (const auto& bad : refused) {
    dashed.dashes = bad;
    Canvas u(12, 4);
    ASSERT_EQ(Draw(&u, across, false, 2, true, dashed), 1);
    EXPECT_EQ(u.Picture(),
              "............\n"
              "############\n"
              "############\n"
              "............\n");
  }
}

TEST(VectorGfx, ArcsRunByDirectionAndBoxesRoundTheirCorners) {
  // 0 to 90 degrees, clockwise on the screen: the quarter below and right of the centre.
  Stream pie;
  pie.Move(10, 10).Arc(10, 10, 8, 8, 0, 90, 1).Close().End();
  Canvas c(20, 20);
  ASSERT_EQ(Draw(&c, pie, true, 1), 1);
  EXPECT_EQ(c.At(13, 13), 255);
  EXPECT_EQ(c.At(6, 6), 0);
  EXPECT_EQ(c.At(6, 13), 0);
  // The same angles counter-clockwise: the other three quarters.
  Stream other;
  other.Move(10, 10).Arc(10, 10, 8, 8, 0, 90, 0).Close().End();
  Canvas d(20, 20);
  ASSERT_EQ(Draw(&d, other, true, 1), 1);
  EXPECT_EQ(d.At(13, 13), 0);
  EXPECT_EQ(d.At(6, 6), 255);
  EXPECT_EQ(d.At(6, 13), 255);

  // Corner levels a-d: top-left, top-right, bottom-right, bottom-left; 100% rounds with half the
  // shorter side.
  Stream box;
  box.Box(0, 0, 20, 20, 100, 0, 0, 0).End();
  Canvas b(20, 20);
  ASSERT_EQ(Draw(&b, box, true, 1), 1);
  EXPECT_EQ(b.At(0, 0), 0);
  EXPECT_EQ(b.At(19, 0), 255);
  EXPECT_EQ(b.At(19, 19), 255);
  EXPECT_EQ(b.At(0, 19), 255);
  EXPECT_EQ(b.At(10, 0), 255);
}

TEST(VectorGfx, CurrentPointsFollowRelativeSegmentsClosesAndSubPaths) {
  struct Case {
    Stream s;
    double x, y;
  };
  std::vector<Case> cases;
  cases.push_back({Stream().Move(5, 6, 1).End(), 5, 6});  // relative without a point: from 0, 0
  cases.push_back({Stream().Move(5, 6).Line(1, 2, 1).Line(-3, 0, 1).End(), 3, 8});
  cases.push_back({Stream().Move(5, 6).Line(9, 9).Close().End(), 5, 6});
  cases.push_back({Stream().Move(5, 6).I(QV_SEG_STARTSUBPATH).End(), 0, 0});
  cases.push_back({Stream().Move(1, 1).Box(10, 20, 5, 5).End(), 10, 20});
  cases.push_back({Stream().Move(50, 50).Arc(50, 50, 10, 10, 0, 90, 1).End(), 50, 60});
  for (size_t i = 0; i < cases.size(); ++i) {
    qvCurrentPointRequest r{};
    r.stream = cases[i].s.b.data();
    r.streamBytes = cases[i].s.b.size();
    ASSERT_NE(vgfx::CurrentPoint(&r), 0);
    EXPECT_NEAR(r.x, cases[i].x, 1e-9) << i;
    EXPECT_NEAR(r.y, cases[i].y, 1e-9) << i;
  }
}

TEST(VectorGfx, TranslationMovesAbsoluteCoordinatesOnly) {
  Stream s;
  s.Move(1, 2).Line(3, 4, 1).Arc(10, 20, 5, 6, 0, 90, 1).Box(7, 8, 9, 10, 1, 2, 3, 4);
  s.I(QV_SEG_CURVETO).I(0).D(1).D(1).D(2).D(2).D(3).D(3).Text(1, 12, "ab").End();
  Stream want;
  want.Move(11, -18).Line(3, 4, 1).Arc(20, 0, 5, 6, 0, 90, 1).Box(17, -12, 9, 10, 1, 2, 3, 4);
  want.I(QV_SEG_CURVETO).I(0).D(11).D(-19).D(12).D(-18).D(13).D(-17).Text(1, 12, "ab").End();
  qvTranslatePathRequest r{s.b.data(), s.b.size(), 10, -20};
  ASSERT_NE(vgfx::TranslateStream(&r), 0);
  EXPECT_EQ(s.b, want.b);
}

TEST(VectorGfx, StreamsEndAtTheirBytesAndBadNumbersEmptyThePath) {
  Stream whole;
  whole.Square(0, 0, 4, true).End();
  // Every cut of the stream ends the walk early and reads no byte beyond the length given
  // (the sanitizers watch a copy of exactly that length).
  for (size_t cut = 0; cut <= whole.b.size(); ++cut) {
    std::vector<uint8_t> part(whole.b.begin(), whole.b.begin() + long(cut));
    Stream s;
    s.b = part;
    ExtentsOf(s, true, 1);
    Canvas c(4, 4);
    Draw(&c, s, true, 1);
    qvTranslatePathRequest t{s.b.data(), s.b.size(), 1, 1};
    vgfx::TranslateStream(&t);
  }
  // Unknown opcode, text without its zero: the walk stops there.
  Stream unknown;
  unknown.Square(0, 0, 4, true).I(77).Square(10, 10, 4, true).End();
  EXPECT_EQ(ExtentsOf(unknown, true, 1).w, 4);
  Stream open;
  open.Square(0, 0, 4, true).I(QV_SEG_TEXT).I(1).I(12).I(0x41414141);
  EXPECT_EQ(ExtentsOf(open, true, 1).w, 4);

  // Non-finite numbers empty the whole path.
  const double bad[] = {NAN, INFINITY, -INFINITY};
  for (double v : bad) {
    Stream s;
    s.Square(0, 0, 4, true).Line(v, 1).End();
    Extents e = ExtentsOf(s, true, 1);
    EXPECT_EQ(e.w, 0);
    EXPECT_EQ(e.h, 0);
    Canvas c(4, 4);
    EXPECT_EQ(Draw(&c, s, true, 1), 0);
    EXPECT_EQ(c.Sum(), 0);
  }
  // Coordinates beyond cairo's range keep their true extents.
  Stream far;
  far.Box(0, 0, 3e9, 10).End();
  EXPECT_EQ(ExtentsOf(far, true, 1).w, 3e9);
  // A singular matrix draws nothing.
  Canvas c(4, 4);
  const double flat[4] = {1, 0, 0, 0};
  EXPECT_EQ(Draw(&c, whole, true, 1, true, Style(), 0, 0, flat), 0);
}

TEST(VectorGfx, MatrixAndRowsThatAreNotWords) {
  Stream s;
  s.Square(0, 0, 2, true).End();
  const double twice[4] = {2, 0, 0, 2};
  // 7 bytes a row: not a whole number of words, drawn through a scratch surface.
  Canvas c(6, 6, 7);
  c.px.assign(c.px.size(), 0);
  ASSERT_EQ(Draw(&c, s, true, 1, true, Style(), 1, 1, twice), 1);
  EXPECT_EQ(c.Picture(),
            "......\n"
            ".####.\n"
            ".####.\n"
            ".####.\n"
            ".####.\n"
            "......\n");
}

TEST(VectorGfx, TextLaysTheFaceOutlinesAlongTheBaseline) {
  qvVectorFontFace face{QV_TEST_FONT, nullptr, 0, 0};
  const int32_t font = vgfx::CreateFont(&face);
  ASSERT_NE(font, 0);
  Stream s;
  s.Move(10, 40).Text(font, 32, "Hi").End();
  Extents e = ExtentsOf(s, true, 1);
  EXPECT_GT(e.w, 20);
  EXPECT_LT(e.w, 60);
  EXPECT_NEAR(e.y + e.h, 40, 1.0);  // "Hi" stands on the baseline
  EXPECT_NEAR(e.h, 23, 3.0);        // cap height of a 32-pixel face
  qvCurrentPointRequest p{};
  p.stream = s.b.data();
  p.streamBytes = s.b.size();
  vgfx::CurrentPoint(&p);
  EXPECT_GT(p.x, 10 + e.w);
  EXPECT_EQ(p.y, 40);
  Canvas c(80, 50);
  ASSERT_EQ(Draw(&c, s, true, 1), 1);
  EXPECT_GT(c.Sum(), 50);
  // Text that is not UTF-8 empties the path; an unknown font draws no text.
  Stream bad;
  bad.Move(10, 40).Text(font, 32, "\xFF").End();
  EXPECT_EQ(ExtentsOf(bad, true, 1).w, 0);
  Stream unknown;
  unknown.Square(0, 0, 4, true).Text(font + 5, 32, "Hi").End();
  EXPECT_EQ(ExtentsOf(unknown, true, 1).w, 4);
  vgfx::FreeFont(font);

  // A file that is no font, and missing bytes, give no handle.
  qvVectorFontFace notFont{"/etc/hostname", nullptr, 0, 0};
  EXPECT_EQ(vgfx::CreateFont(&notFont), 0);
  qvVectorFontFace empty{nullptr, nullptr, 0, 0};
  EXPECT_EQ(vgfx::CreateFont(&empty), 0);
  vgfx::FreeAllFonts();
}

}  // namespace
