// The vector graphics plugin's geometry over cairo (see vectorgfx.h for how segments are read).
#include "vectorgfx.h"

#include <cairo-ft.h>
#include <cairo.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace vgfx {

namespace {

constexpr double kPi = 3.14159265358979323846;
// cairo keeps coordinates in 24.8 fixed point: beyond this size its path would be cut off, so
// such a path's extents come from its own points instead.
constexpr double kCairoRange = 4194304.0;
// The largest side of one cairo image surface, kept a multiple of 4 so that every tile's rows
// start on a word.
constexpr int32_t kTile = 32764;

// ---- fonts ----

struct Font {
  FT_Face face;
  cairo_font_face_t* cairo;
  void* data;  // a copy of the caller's bytes for a face in memory
};
FT_Library gFreeType = nullptr;
std::vector<Font*> gFonts;  // handle n is gFonts[n - 1]

const cairo_user_data_key_t kFaceKey{};

void DoneFace(void* p) {
  auto* font = static_cast<Font*>(p);
  FT_Done_Face(font->face);
  std::free(font->data);
  delete font;
}

Font* FontOf(int32_t handle) {
  if (handle < 1 || size_t(handle) > gFonts.size()) return nullptr;
  return gFonts[size_t(handle) - 1];
}

// ---- reading the stream ----

struct Reader {
  const uint8_t* s;
  size_t n;
  size_t at = 0;

  bool Int(int32_t* v) {
    if (n - at < 4) return false;
    std::memcpy(v, s + at, 4);
    at += 4;
    return true;
  }
  bool Double(double* v) {
    if (n - at < 8) return false;
    std::memcpy(v, s + at, 8);
    at += 8;
    return true;
  }
  bool Doubles(double* v, int count) {
    for (int i = 0; i < count; ++i) {
      if (!Double(&v[i])) return false;
    }
    return true;
  }
  // A text with its zero, padded to (n rounded down to 4) + 4 bytes.
  bool Text(const char** text, size_t* length) {
    const void* zero = std::memchr(s + at, 0, n - at);
    if (zero == nullptr) return false;
    size_t len = size_t(static_cast<const uint8_t*>(zero) - (s + at));
    size_t padded = ((len + 1) / 4) * 4 + 4;
    if (n - at < padded) return false;
    *text = reinterpret_cast<const char*>(s + at);
    *length = len;
    at += padded;
    return true;
  }
};

bool AllFinite(const double* v, int count) {
  for (int i = 0; i < count; ++i) {
    if (!std::isfinite(v[i])) return false;
  }
  return true;
}

bool ValidUtf8(const char* text, size_t length) {
  const auto* p = reinterpret_cast<const uint8_t*>(text);
  size_t i = 0;
  while (i < length) {
    uint8_t c = p[i];
    int more = c < 0x80             ? 0
               : (c & 0xE0) == 0xC0 ? 1
               : (c & 0xF0) == 0xE0 ? 2
               : (c & 0xF8) == 0xF0 ? 3
                                    : -1;
    if (more < 0 || (more == 1 && c < 0xC2) || length - i <= size_t(more)) return false;
    uint32_t cp = c & (0x3F >> more);
    for (int k = 1; k <= more; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      cp = cp << 6 | (p[i + k] & 0x3F);
    }
    if ((more == 2 && cp < 0x800) || (more == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += size_t(more) + 1;
  }
  return true;
}

// What a walk found besides the cairo path.
struct Walk {
  bool bad = false;   // a non-finite number or a text that is not UTF-8
  bool huge = false;  // a coordinate beyond cairo's range
  bool any = false;
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // the box of every point, control point and radius

  void Add(double x, double y) {
    if (std::fabs(x) > kCairoRange || std::fabs(y) > kCairoRange) huge = true;
    if (!any) {
      x0 = x1 = x;
      y0 = y1 = y;
      any = true;
      return;
    }
    x0 = std::min(x0, x);
    x1 = std::max(x1, x);
    y0 = std::min(y0, y);
    y1 = std::max(y1, y);
  }
};

// The pen position in the path's own coordinates, kept here rather than asked of cairo, so that
// the walk does the same whatever the matrix is.
struct Pen {
  bool has = false;
  double x = 0, y = 0;
  double startX = 0, startY = 0;

  void MoveTo(double px, double py) {
    has = true;
    x = startX = px;
    y = startY = py;
  }
  void LineTo(double px, double py) {
    if (!has) {
      MoveTo(px, py);
      return;
    }
    x = px;
    y = py;
  }
};

void RoundedBox(cairo_t* cr, Pen* pen, double x, double y, double w, double h,
                const int32_t levels[4]) {
  if (w < 0) {
    x += w;
    w = -w;
  }
  if (h < 0) {
    y += h;
    h = -h;
  }
  double half = std::min(w, h) / 2;
  double r[4];
  for (int i = 0; i < 4; ++i) r[i] = half * std::clamp(levels[i], 0, 100) / 100.0;
  if (cr != nullptr) {
    cairo_new_sub_path(cr);
    cairo_move_to(cr, x + r[0], y);
    cairo_line_to(cr, x + w - r[1], y);
    if (r[1] > 0) cairo_arc(cr, x + w - r[1], y + r[1], r[1], -kPi / 2, 0);
    cairo_line_to(cr, x + w, y + h - r[2]);
    if (r[2] > 0) cairo_arc(cr, x + w - r[2], y + h - r[2], r[2], 0, kPi / 2);
    cairo_line_to(cr, x + r[3], y + h);
    if (r[3] > 0) cairo_arc(cr, x + r[3], y + h - r[3], r[3], kPi / 2, kPi);
    cairo_line_to(cr, x, y + r[0]);
    if (r[0] > 0) cairo_arc(cr, x + r[0], y + r[0], r[0], kPi, 3 * kPi / 2);
    cairo_close_path(cr);
  }
  pen->MoveTo(x + r[0], y);
}

void ArcSegment(cairo_t* cr, Pen* pen, Walk* walk, const double v[6], int32_t direction) {
  const double cx = v[0], cy = v[1];
  const double rx = std::fabs(v[2]), ry = std::fabs(v[3]);
  double a0 = v[4], span = v[5] - v[4];
  const bool whole = !(std::fabs(span) < 360);
  a0 = std::fmod(a0, 360.0);
  double a1 = whole ? a0 + (direction != 0 ? 360.0 : -360.0) : a0 + span;
  walk->Add(cx - rx, cy - ry);
  walk->Add(cx + rx, cy + ry);
  const double sx = cx + rx * std::cos(a0 * kPi / 180), sy = cy + ry * std::sin(a0 * kPi / 180);
  const double ex = cx + rx * std::cos(a1 * kPi / 180), ey = cy + ry * std::sin(a1 * kPi / 180);
  // A radius too small or too large for an invertible scale is drawn as its end points.
  const bool flat = !(rx * ry > 1e-12) || rx > kCairoRange || ry > kCairoRange;
  if (whole) {
    if (cr != nullptr && !flat && !walk->huge) {
      cairo_new_sub_path(cr);
      cairo_save(cr);
      cairo_translate(cr, cx, cy);
      cairo_scale(cr, rx, ry);
      if (direction != 0) {
        cairo_arc(cr, 0, 0, 1, a0 * kPi / 180, a1 * kPi / 180);
      } else {
        cairo_arc_negative(cr, 0, 0, 1, a0 * kPi / 180, a1 * kPi / 180);
      }
      cairo_restore(cr);
      cairo_close_path(cr);
    }
    pen->MoveTo(sx, sy);
    return;
  }
  if (cr != nullptr && !walk->huge) {
    if (flat) {
      if (pen->has) {
        cairo_line_to(cr, sx, sy);
      } else {
        cairo_move_to(cr, sx, sy);
      }
      cairo_line_to(cr, ex, ey);
    } else {
      cairo_save(cr);
      cairo_translate(cr, cx, cy);
      cairo_scale(cr, rx, ry);
      // Without a current point cairo starts the arc at its first point.
      if (direction != 0) {
        cairo_arc(cr, 0, 0, 1, a0 * kPi / 180, a1 * kPi / 180);
      } else {
        cairo_arc_negative(cr, 0, 0, 1, a0 * kPi / 180, a1 * kPi / 180);
      }
      cairo_restore(cr);
    }
  }
  if (!pen->has) pen->MoveTo(sx, sy);
  pen->LineTo(ex, ey);
}

void TextSegment(cairo_t* cr, Pen* pen, Walk* walk, int32_t handle, int32_t size, const char* text,
                 size_t length) {
  if (!ValidUtf8(text, length)) {
    walk->bad = true;
    return;
  }
  Font* font = FontOf(handle);
  if (font == nullptr || size < 1 || size > 100000 || length == 0) return;
  // Text needs a context of its own to be measured when the caller only walks.
  cairo_surface_t* scratch = nullptr;
  cairo_t* c = cr;
  if (c == nullptr) {
    scratch = cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1);
    c = cairo_create(scratch);
  }
  cairo_set_font_face(c, font->cairo);
  cairo_set_font_size(c, size);
  cairo_text_extents_t te;
  cairo_text_extents(c, text, &te);
  walk->Add(pen->x + te.x_bearing, pen->y + te.y_bearing);
  walk->Add(pen->x + te.x_bearing + te.width, pen->y + te.y_bearing + te.height);
  if (cr != nullptr && !walk->huge) {
    cairo_move_to(cr, pen->x, pen->y);
    cairo_text_path(cr, text);
  }
  double nx = pen->x + te.x_advance, ny = pen->y + te.y_advance;
  if (scratch != nullptr) {
    cairo_destroy(c);
    cairo_surface_destroy(scratch);
  }
  if (!pen->has) pen->MoveTo(pen->x, pen->y);
  pen->LineTo(nx, ny);
}

// Walks the stream into cr (null: only the pen and the box).
Walk WalkStream(cairo_t* cr, const uint8_t* stream, size_t bytes, Pen* pen) {
  Walk walk;
  if (stream == nullptr) return walk;
  Reader r{stream, bytes};
  int32_t op;
  while (!walk.bad && r.Int(&op) && op != QV_SEG_END) {
    double v[6];
    int32_t a, b, c[4];
    switch (op) {
      case QV_SEG_MOVETO:
      case QV_SEG_LINETO: {
        if (!r.Int(&a) || !r.Doubles(v, 2)) return walk;
        if (!AllFinite(v, 2)) {
          walk.bad = true;
          break;
        }
        double bx = a != 0 && pen->has ? pen->x : 0, by = a != 0 && pen->has ? pen->y : 0;
        double x = bx + v[0], y = by + v[1];
        walk.Add(x, y);
        if (cr != nullptr && !walk.huge) {
          if (op == QV_SEG_MOVETO || !pen->has) {
            cairo_move_to(cr, x, y);
          } else {
            cairo_line_to(cr, x, y);
          }
        }
        if (op == QV_SEG_MOVETO) {
          pen->MoveTo(x, y);
        } else {
          pen->LineTo(x, y);
        }
        break;
      }
      case QV_SEG_CURVETO: {
        if (!r.Int(&a) || !r.Doubles(v, 6)) return walk;
        if (!AllFinite(v, 6)) {
          walk.bad = true;
          break;
        }
        double bx = a != 0 && pen->has ? pen->x : 0, by = a != 0 && pen->has ? pen->y : 0;
        for (int i = 0; i < 6; i += 2) {
          v[i] += bx;
          v[i + 1] += by;
          walk.Add(v[i], v[i + 1]);
        }
        if (cr != nullptr && !walk.huge) {
          if (!pen->has) cairo_move_to(cr, v[0], v[1]);
          cairo_curve_to(cr, v[0], v[1], v[2], v[3], v[4], v[5]);
        }
        if (!pen->has) pen->MoveTo(v[0], v[1]);
        pen->LineTo(v[4], v[5]);
        break;
      }
      case QV_SEG_STARTSUBPATH:
        if (cr != nullptr) cairo_new_sub_path(cr);
        pen->has = false;
        break;
      case QV_SEG_CLOSEPATH:
        if (pen->has) {
          if (cr != nullptr && !walk.huge) cairo_close_path(cr);
          pen->x = pen->startX;
          pen->y = pen->startY;
        }
        break;
      case QV_SEG_ARC:
        if (!r.Doubles(v, 6) || !r.Int(&a)) return walk;
        if (!AllFinite(v, 6)) {
          walk.bad = true;
          break;
        }
        ArcSegment(cr, pen, &walk, v, a);
        break;
      case QV_SEG_BOX:
        if (!r.Doubles(v, 4) || !r.Int(&c[0]) || !r.Int(&c[1]) || !r.Int(&c[2]) || !r.Int(&c[3])) {
          return walk;
        }
        if (!AllFinite(v, 4)) {
          walk.bad = true;
          break;
        }
        walk.Add(v[0], v[1]);
        walk.Add(v[0] + v[2], v[1] + v[3]);
        RoundedBox(walk.huge ? nullptr : cr, pen, v[0], v[1], v[2], v[3], c);
        break;
      case QV_SEG_TEXT: {
        const char* text;
        size_t length;
        if (!r.Int(&a) || !r.Int(&b) || !r.Text(&text, &length)) return walk;
        TextSegment(cr, pen, &walk, a, b, text, length);
        break;
      }
      default:
        return walk;
    }
  }
  return walk;
}

void ApplyStyle(cairo_t* cr, const qvPathStyle& style, bool antialias, double lineWidth) {
  cairo_set_line_join(cr, style.join == 1   ? CAIRO_LINE_JOIN_ROUND
                          : style.join == 2 ? CAIRO_LINE_JOIN_BEVEL
                                            : CAIRO_LINE_JOIN_MITER);
  cairo_set_line_cap(cr, style.cap == 1   ? CAIRO_LINE_CAP_ROUND
                         : style.cap == 2 ? CAIRO_LINE_CAP_SQUARE
                                          : CAIRO_LINE_CAP_BUTT);
  cairo_set_fill_rule(cr, style.fillRule == 1 ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
  cairo_set_antialias(cr, antialias ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
  cairo_set_line_width(cr, std::isfinite(lineWidth) && lineWidth > 0 ? lineWidth : 0);
  // A pattern cairo would refuse (and with it every later call) is left out: undashed.
  if (style.dashes != nullptr && style.dashCount > 0 && std::isfinite(style.dashOffset)) {
    bool usable = false;
    for (int32_t i = 0; i < style.dashCount; ++i) {
      double d = style.dashes[i];
      if (!std::isfinite(d) || d < 0) return;
      if (d > 0) usable = true;
    }
    if (usable) cairo_set_dash(cr, style.dashes, style.dashCount, style.dashOffset);
  }
}

bool EmptyBox(double x0, double y0, double x1, double y1) { return !(x1 > x0) || !(y1 > y0); }

// ---- a fill's extents from its outline ----
//
// cairo measures a fill by tessellating it into trapezoids, which costs more than filling it: a
// 2000-curve ring took 12 ms to measure and 4 ms to draw. The filled area's box is the box of the
// flattened outline whenever each of the outline's four extreme points is filled right beside
// it, and that can be seen at the points themselves: an extreme vertex that is the only point on
// its side's line, with its two edges apart, has the outline crossed once between them, a winding
// of plus or minus one, filled under either rule. cairo's trapezoids then reach that vertex
// exactly, so both ways give the same numbers. Outlines where that is not certain (a vertex met
// twice there, a spike, a side along an edge, cancelling loops) are measured by cairo.

// A point in cairo's device fixed point: exact, so sides and turns compare exactly.
struct FixedPoint {
  int64_t x, y;
};

// The flattened outline as closed rings (a fill closes every sub-path), repeated points dropped,
// a ring without an edge left out. Kept between measurements: a drawn path is measured each time,
// and a fresh block for its points cost page faults that outweighed the scan.
struct Outline {
  std::vector<FixedPoint> points;
  std::vector<size_t> ringStarts;  // and the end of the last ring
};
thread_local Outline gOutline;
// Blocks larger than this are given back after each measurement.
constexpr size_t kKeptOutlinePoints = size_t{1} << 16;

bool FlatRings(cairo_t* cr, double unitsPerUser, Outline* out) {
  out->points.clear();
  out->ringStarts.clear();
  cairo_path_t* flat = cairo_copy_path_flat(cr);
  if (flat->status != CAIRO_STATUS_SUCCESS) {
    cairo_path_destroy(flat);
    return false;
  }
  std::vector<FixedPoint>& points = out->points;
  std::vector<size_t>& starts = out->ringStarts;
  // A point takes two entries.
  points.reserve(size_t(flat->num_data) / 2 + 1);
  bool open = false;  // a ring is taking line segments
  FixedPoint move{0, 0};
  auto add = [&](FixedPoint p) {
    if (points.size() > starts.back() && points.back().x == p.x && points.back().y == p.y) return;
    points.push_back(p);
  };
  auto endRing = [&] {
    if (starts.empty()) return;
    const size_t start = starts.back();
    if (points.size() > start + 1 && points.back().x == points[start].x &&
        points.back().y == points[start].y) {
      points.pop_back();
    }
    if (points.size() - start < 2) {
      points.resize(start);
      starts.pop_back();
    }
  };
  auto fixed = [&](const cairo_path_data_t& d) {
    return FixedPoint{std::llround(d.point.x * unitsPerUser),
                      std::llround(d.point.y * unitsPerUser)};
  };
  bool ok = true;
  for (int i = 0; ok && i < flat->num_data; i += flat->data[i].header.length) {
    const cairo_path_data_t* d = &flat->data[i];
    switch (d->header.type) {
      case CAIRO_PATH_MOVE_TO:
        endRing();
        starts.push_back(points.size());
        move = fixed(d[1]);
        add(move);
        open = true;
        break;
      case CAIRO_PATH_LINE_TO:
        if (!open) {
          endRing();
          starts.push_back(points.size());
          add(move);
          open = true;
        }
        add(fixed(d[1]));
        break;
      case CAIRO_PATH_CLOSE_PATH:
        open = false;
        break;
      default:  // a flattened path holds no curves
        ok = false;
        break;
    }
  }
  endRing();
  cairo_path_destroy(flat);
  starts.push_back(points.size());
  return ok;
}

// The outline's box when each of its sides is certainly reached by the filled area; false when
// cairo must measure the fill itself.
bool FillBoxOfOutline(cairo_t* cr, double unitsPerUser, double* x0, double* y0, double* x1,
                      double* y1) {
  Outline& outline = gOutline;
  const std::vector<FixedPoint>& points = outline.points;
  const std::vector<size_t>& starts = outline.ringStarts;
  // The one vertex furthest along (dx, dy) when it is alone on that side's line and its edges
  // leave it in different directions; null otherwise.
  auto extreme = [&](int64_t dx, int64_t dy) -> const FixedPoint* {
    size_t found = 0, count = 0;
    int64_t best = 0;
    for (size_t i = 0; i < points.size(); ++i) {
      const int64_t k = points[i].x * dx + points[i].y * dy;
      if (i == 0 || k > best) {
        found = i;
        count = 1;
        best = k;
      } else if (k == best) {
        ++count;
      }
    }
    if (count != 1) return nullptr;
    const size_t ring = size_t(std::upper_bound(starts.begin(), starts.end(), found) -
                               starts.begin()) -
                        1;
    const size_t start = starts[ring], end = starts[ring + 1];
    if (end - start < 3) return nullptr;
    const FixedPoint& v = points[found];
    const FixedPoint& prev = points[found == start ? end - 1 : found - 1];
    const FixedPoint& next = points[found + 1 == end ? start : found + 1];
    const __int128 turn = __int128(prev.x - v.x) * (next.y - v.y) -
                          __int128(prev.y - v.y) * (next.x - v.x);
    return turn != 0 ? &v : nullptr;
  };
  bool known = false;
  if (FlatRings(cr, unitsPerUser, &outline) && !points.empty()) {
    const FixedPoint* left = extreme(-1, 0);
    const FixedPoint* top = extreme(0, -1);
    const FixedPoint* right = extreme(1, 0);
    const FixedPoint* bottom = extreme(0, 1);
    if (left != nullptr && top != nullptr && right != nullptr && bottom != nullptr) {
      // Back to the user's units as cairo gives them: a power of two, so exactly.
      *x0 = double(left->x) / unitsPerUser;
      *y0 = double(top->y) / unitsPerUser;
      *x1 = double(right->x) / unitsPerUser;
      *y1 = double(bottom->y) / unitsPerUser;
      known = true;
    }
  }
  if (outline.points.capacity() > kKeptOutlinePoints) outline = Outline{};
  return known;
}

}  // namespace

int32_t PathExtents(qvPathExtentsRequest* r) {
  r->x = r->y = r->width = r->height = 0;
  // cairo keeps 8 bits of fraction: the path is measured as large as its range allows (up to
  // 256 times), so that the extents are exact to far less than a pixel. Without anti-aliasing
  // cairo would snap them to whole pixels: they are measured as the smooth geometry.
  Pen first;
  const Walk outline = WalkStream(nullptr, r->stream, r->streamBytes, &first);
  double reach = std::max(
      {std::fabs(outline.x0), std::fabs(outline.x1), std::fabs(outline.y0), std::fabs(outline.y1)});
  if (std::isfinite(r->lineWidth) && r->lineWidth > 0) reach += r->lineWidth * 5;
  double scale = 256;
  while (scale > 1 && reach * scale >= kCairoRange) scale /= 2;
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1);
  cairo_t* cr = cairo_create(surface);
  cairo_scale(cr, scale, scale);
  // A fill's curves are flattened to a tenth of a pixel, as they are drawn; a stroke's round
  // joins and caps to a hundredth, since they stand out of the path by half the width. cairo
  // would otherwise flatten to a tenth of a device unit, 256 times finer than either.
  cairo_set_tolerance(cr, (r->fill ? 0.1 : 0.01) * scale);
  ApplyStyle(cr, r->style, true, r->lineWidth);
  Pen pen;
  Walk walk = WalkStream(cr, r->stream, r->streamBytes, &pen);
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  if (!walk.bad && walk.huge) {
    // Beyond cairo's range: the box of the points, grown by what a stroke can add (a mitre
    // reaches five widths at cairo's default limit of 10).
    double grow = r->fill ? 0 : std::max(0.0, r->lineWidth) * 5;
    x0 = walk.x0 - grow;
    y0 = walk.y0 - grow;
    x1 = walk.x1 + grow;
    y1 = walk.y1 + grow;
  } else if (!walk.bad) {
    if (r->fill) {
      // cairo's device units are 1/256 of a pixel at the scale.
      if (!FillBoxOfOutline(cr, scale * 256, &x0, &y0, &x1, &y1)) {
        cairo_fill_extents(cr, &x0, &y0, &x1, &y1);
      }
    } else if (r->lineWidth > 0) {
      cairo_stroke_extents(cr, &x0, &y0, &x1, &y1);
    }
  }
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  if (!EmptyBox(x0, y0, x1, y1)) {
    r->x = x0 + r->translateX;
    r->y = y0 + r->translateY;
    r->width = x1 - x0;
    r->height = y1 - y0;
  }
  return 1;
}

int32_t CurrentPoint(qvCurrentPointRequest* r) {
  r->x = r->y = 0;
  Pen pen;
  Walk walk = WalkStream(nullptr, r->stream, r->streamBytes, &pen);
  if (!walk.bad && pen.has) {
    r->x = pen.x;
    r->y = pen.y;
  }
  return 1;
}

int32_t TranslateStream(qvTranslatePathRequest* r) {
  if (r->stream == nullptr || !std::isfinite(r->dx) || !std::isfinite(r->dy)) return 0;
  Reader rd{r->stream, r->streamBytes};
  auto shift = [&](size_t at, double by) {
    double v;
    std::memcpy(&v, r->stream + at, 8);
    v += by;
    std::memcpy(r->stream + at, &v, 8);
  };
  int32_t op, a, skip;
  double v[6];
  const char* text;
  size_t length;
  while (rd.Int(&op) && op != QV_SEG_END) {
    size_t at = rd.at;
    switch (op) {
      case QV_SEG_MOVETO:
      case QV_SEG_LINETO:
        if (!rd.Int(&a) || !rd.Doubles(v, 2)) return 1;
        if (a == 0) {
          shift(at + 4, r->dx);
          shift(at + 12, r->dy);
        }
        break;
      case QV_SEG_CURVETO:
        if (!rd.Int(&a) || !rd.Doubles(v, 6)) return 1;
        if (a == 0) {
          for (int i = 0; i < 3; ++i) {
            shift(at + 4 + 16 * size_t(i), r->dx);
            shift(at + 12 + 16 * size_t(i), r->dy);
          }
        }
        break;
      case QV_SEG_STARTSUBPATH:
      case QV_SEG_CLOSEPATH:
        break;
      case QV_SEG_ARC:
        if (!rd.Doubles(v, 6) || !rd.Int(&a)) return 1;
        shift(at, r->dx);
        shift(at + 8, r->dy);
        break;
      case QV_SEG_BOX:
        if (!rd.Doubles(v, 4) || !rd.Int(&a) || !rd.Int(&a) || !rd.Int(&a) || !rd.Int(&a)) {
          return 1;
        }
        shift(at, r->dx);
        shift(at + 8, r->dy);
        break;
      case QV_SEG_TEXT:
        // Text is laid from the current point, which its earlier segments moved.
        if (!rd.Int(&a) || !rd.Int(&skip) || !rd.Text(&text, &length)) return 1;
        break;
      default:
        return 1;
    }
  }
  return 1;
}

int32_t DrawPathCoverage(qvDrawPathRequest* r) {
  r->drawn = 0;
  if (r->alpha == nullptr || r->width < 1 || r->height < 1 || r->bytesPerRow < r->width) return 0;
  const double* m = r->matrix;
  const double det = m[0] * m[3] - m[1] * m[2];
  if (!AllFinite(m, 4) || !std::isfinite(r->translateX) || !std::isfinite(r->translateY) ||
      !(std::fabs(det) > 1e-12) || !std::isfinite(det)) {
    return 0;
  }
  const bool fill = r->fill != 0;
  if (!fill && !(std::isfinite(r->lineWidth) && r->lineWidth > 0)) return 0;
  const bool direct = r->bytesPerRow % 4 == 0;
  for (int32_t top = 0; top < r->height; top += kTile) {
    for (int32_t left = 0; left < r->width; left += kTile) {
      const int32_t w = std::min(kTile, r->width - left), h = std::min(kTile, r->height - top);
      uint8_t* origin = r->alpha + size_t(top) * size_t(r->bytesPerRow) + size_t(left);
      cairo_surface_t* surface = direct ? cairo_image_surface_create_for_data(
                                              origin, CAIRO_FORMAT_A8, w, h, r->bytesPerRow)
                                        : cairo_image_surface_create(CAIRO_FORMAT_A8, w, h);
      if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return r->drawn;
      }
      cairo_t* cr = cairo_create(surface);
      cairo_matrix_t matrix;
      cairo_matrix_init(&matrix, m[0], m[1], m[2], m[3], r->translateX - left, r->translateY - top);
      cairo_set_matrix(cr, &matrix);
      ApplyStyle(cr, r->style, r->antialias != 0, r->lineWidth);
      Pen pen;
      Walk walk = WalkStream(cr, r->stream, r->streamBytes, &pen);
      // Nothing to draw: no segments, numbers cairo cannot take, or a path without extents.
      if (!walk.bad && !walk.huge && walk.any) {
        cairo_set_source_rgba(cr, 0, 0, 0, 1);
        if (fill) {
          cairo_fill(cr);
        } else {
          cairo_stroke(cr);
        }
        cairo_surface_flush(surface);
        if (!direct) {
          const uint8_t* data = cairo_image_surface_get_data(surface);
          const int stride = cairo_image_surface_get_stride(surface);
          for (int32_t y = 0; y < h; ++y) {
            uint8_t* row = origin + size_t(y) * size_t(r->bytesPerRow);
            const uint8_t* from = data + size_t(y) * size_t(stride);
            for (int32_t x = 0; x < w; ++x) row[x] = std::max(row[x], from[x]);
          }
        }
        r->drawn = 1;
      }
      cairo_destroy(cr);
      cairo_surface_destroy(surface);
    }
  }
  return r->drawn;
}

int32_t CreateFont(const qvVectorFontFace* face) {
  if (face == nullptr) return 0;
  if (gFreeType == nullptr && FT_Init_FreeType(&gFreeType) != 0) {
    gFreeType = nullptr;
    return 0;
  }
  auto* font = new Font{};
  FT_Error error;
  if (face->file != nullptr) {
    error = FT_New_Face(gFreeType, face->file, face->faceIndex, &font->face);
  } else {
    if (face->data == nullptr || face->size == 0) {
      delete font;
      return 0;
    }
    font->data = std::malloc(face->size);
    if (font->data == nullptr) {
      delete font;
      return 0;
    }
    std::memcpy(font->data, face->data, face->size);
    error = FT_New_Memory_Face(gFreeType, static_cast<const FT_Byte*>(font->data),
                               FT_Long(face->size), face->faceIndex, &font->face);
  }
  if (error != 0) {
    std::free(font->data);
    delete font;
    return 0;
  }
  // Only outlines make paths.
  if (!FT_IS_SCALABLE(font->face)) {
    DoneFace(font);
    return 0;
  }
  font->cairo = cairo_ft_font_face_create_for_ft_face(font->face, 0);
  if (cairo_font_face_set_user_data(font->cairo, &kFaceKey, font, DoneFace) !=
      CAIRO_STATUS_SUCCESS) {
    cairo_font_face_destroy(font->cairo);
    DoneFace(font);
    return 0;
  }
  for (size_t i = 0; i < gFonts.size(); ++i) {
    if (gFonts[i] == nullptr) {
      gFonts[i] = font;
      return int32_t(i + 1);
    }
  }
  gFonts.push_back(font);
  return int32_t(gFonts.size());
}

void FreeFont(int32_t handle) {
  Font* font = FontOf(handle);
  if (font == nullptr) return;
  gFonts[size_t(handle) - 1] = nullptr;
  // The face goes with cairo's last reference to it.
  cairo_font_face_destroy(font->cairo);
}

void FreeAllFonts() {
  for (size_t i = 0; i < gFonts.size(); ++i) FreeFont(int32_t(i + 1));
  gFonts.clear();
  // FreeType stays open: cairo's caches may hold a face until the process ends, and its last
  // release calls FT_Done_Face.
}

}  // namespace vgfx
