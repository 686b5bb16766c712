// Styled runs, their shadows and edges, and the dilation of layer borders (see edge_draw.h).
#include "text/edge_draw.h"

#include <algorithm>
#include <new>

#include "base/errors.h"
#include "platform/textout.h"

namespace qv {
namespace {

int32_t Opacity(uint32_t colour) { return 255 - int32_t(colour >> 24); }

// (k x wk + d x wd) / total per channel.
uint32_t Mix(uint32_t k, int32_t wk, uint32_t d, int32_t wd, int32_t total) {
  uint32_t out = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    int32_t dc = int32_t((d >> shift) & 0xFF), kc = int32_t((k >> shift) & 0xFF);
    out |= uint32_t((kc * wk + dc * wd) / total) << shift;
  }
  return out;
}

uint32_t Blend(uint32_t d, uint32_t k, int32_t c) {
  uint32_t out = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    int32_t dc = int32_t((d >> shift) & 0xFF), kc = int32_t((k >> shift) & 0xFF);
    out |= uint32_t((kc * c + dc * (255 - c)) / 255) << shift;
  }
  return out;
}

// Paints a byte grid into the block at (left, top), clipped to the block: a cell's value is its
// coverage, drawn in the colour (or the cell's own colour from `colours`) with the colour's
// transparency; the block's mask gets every painted cell, its alpha the coverage composited over
// what it held, so that it ends as the union of everything painted.
void PaintGrid(const qvTextBlock& block, const uint8_t* cover, const uint32_t* colours,
               int32_t width, int32_t height, int32_t left, int32_t top, uint32_t colour) {
  qvBitMap* bm = block.bitmap;
  if (!bm || !bm->pixels || bm->bytesPerPixel != 4) return;
  int32_t x0 = std::max(left, 0), y0 = std::max(top, 0);
  auto x1 = static_cast<int32_t>(std::min<int64_t>(int64_t(left) + width, bm->width));
  auto y1 = static_cast<int32_t>(std::min<int64_t>(int64_t(top) + height, bm->height));
  if (block.mask) {
    x1 = std::min(x1, block.mask->width > 0 ? block.mask->width : x1);
    y1 = std::min(y1, block.mask->height > 0 ? block.mask->height : y1);
  }
  if (block.alpha) {
    x1 = std::min(x1, block.alpha->width > 0 ? block.alpha->width : x1);
    y1 = std::min(y1, block.alpha->height > 0 ? block.alpha->height : y1);
  }
  if (x1 <= x0 || y1 <= y0) return;
  const int32_t opacity = Opacity(colour);
  const uint32_t rgb = colour & 0xFFFFFF;
  for (int32_t y = y0; y < y1; ++y) {
    const uint8_t* c = cover + int64_t(y - top) * width - left;
    const uint32_t* k = colours ? colours + int64_t(y - top) * width - left : nullptr;
    auto* d = reinterpret_cast<uint32_t*>(bm->pixels + int64_t(y) * bm->bytesPerRow);
    uint8_t* m = block.mask ? block.mask->data + int64_t(y) * block.mask->bytesPerRow : nullptr;
    uint8_t* a = block.alpha ? block.alpha->data + int64_t(y) * block.alpha->bytesPerRow : nullptr;
    for (int32_t x = x0; x < x1; ++x) {
      int32_t v = c[x];
      if (v == 0) continue;
      uint32_t paint = k ? k[x] & 0xFFFFFF : rgb;
      if (m) m[x >> 3] |= uint8_t(0x80 >> (x & 7));
      if (a) {
        // Composited over what the block holds: a colour drawn at no opacity changes nothing.
        int32_t old = a[x], drawn = v * opacity / 255;
        int32_t under = old * (255 - drawn) / 255, total = drawn + under;
        if (total == 0) continue;
        d[x] = drawn == total ? paint : Mix(paint, drawn, d[x], under, total);
        a[x] = uint8_t(total);
      } else {
        d[x] = v == 255 ? paint : Blend(d[x], paint, v);
      }
    }
  }
}

// The sums of a sliding window along one line: out[k] = sum of in[k - span + 1 - lead .. k - lead]
// for k in [0, outLength), cells outside the input counting 0.
template <typename In, typename Out>
void WindowSums(const In* in, int64_t stride, int32_t length, int32_t span, int32_t lead, Out* out,
                int64_t outStride, int32_t outLength) {
  Out sum = 0;
  for (int32_t k = 0; k < outLength; ++k) {
    int32_t enter = k - lead, leave = k - lead - span;
    if (enter >= 0 && enter < length) sum += Out(in[enter * stride]);
    if (leave >= 0 && leave < length) sum -= Out(in[leave * stride]);
    out[k * outStride] = sum;
  }
}

// The separable dilation: the window of the offsets iFrom..e (jFrom..e) along rows, then along
// columns. A cell of the grown grid at c' takes the sources c' - e - i.
void DilateSeparable(const uint8_t* src, int32_t width, int32_t height, int32_t e, int32_t iFrom,
                     int32_t jFrom, bool orOnly, std::vector<uint8_t>* out) {
  const int32_t ow = width + 2 * e, oh = height + 2 * e;
  out->assign(size_t(int64_t(ow) * oh), 0);
  if (iFrom > e || jFrom > e || width < 1 || height < 1) return;
  // Rows: out column c' sums the sources c' - e - e .. c' - e - iFrom.
  std::vector<uint32_t> rows(size_t(int64_t(ow) * height));
  std::vector<uint8_t> bits;
  const uint8_t* in = src;
  if (orOnly) {
    bits.resize(size_t(int64_t(width) * height));
    for (size_t n = 0; n < bits.size(); ++n) bits[n] = src[n] != 0;
    in = bits.data();
  }
  for (int32_t y = 0; y < height; ++y)
    WindowSums(in + int64_t(y) * width, 1, width, e - iFrom + 1, e + iFrom,
               rows.data() + int64_t(y) * ow, 1, ow);
  std::vector<uint32_t> column(static_cast<size_t>(oh));
  const uint32_t divisor = uint32_t(2 * e + 1);
  for (int32_t x = 0; x < ow; ++x) {
    WindowSums(rows.data() + x, ow, height, e - jFrom + 1, e + jFrom, column.data(), 1, oh);
    for (int32_t y = 0; y < oh; ++y) {
      uint32_t s = column[size_t(y)];
      uint8_t v = orOnly ? (s ? 255 : 0) : uint8_t(std::min<uint32_t>(255, s / divisor));
      (*out)[size_t(int64_t(y) * ow + x)] = v;
    }
  }
}

void DilateSquare(const uint8_t* src, int32_t width, int32_t height, int32_t e, int32_t iFrom,
                  int32_t jFrom, bool orOnly, std::vector<uint8_t>* out) {
  const int32_t ow = width + 2 * e, oh = height + 2 * e;
  out->assign(size_t(int64_t(ow) * oh), 0);
  std::vector<uint32_t> acc(out->size(), 0);
  for (int32_t j = jFrom; j <= e; ++j)
    for (int32_t i = iFrom; i <= e; ++i)
      for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
          uint8_t v = src[int64_t(y) * width + x];
          uint32_t& cell = acc[size_t(int64_t(y + e + j) * ow + (x + e + i))];
          if (orOnly) {
            if (v) cell = 1;
          } else {
            cell += v;
          }
        }
  for (size_t n = 0; n < acc.size(); ++n)
    (*out)[n] = orOnly ? (acc[n] ? 255 : 0)
                       : uint8_t(std::min<uint32_t>(255, acc[n] / uint32_t(2 * e + 1)));
}

bool ShapeCell(const qvRunShape& run, int32_t x, int32_t y, uint8_t* value) {
  const qvPlane* p = run.shape;
  if (!p || !p->data || x < 0 || y < 0 || x >= run.width) return false;
  if (p->width > 0 && x >= p->width) return false;
  if (p->height > 0 && y >= p->height) return false;
  if (run.coverage) {
    *value = p->data[int64_t(y) * p->bytesPerRow + x];
  } else {
    *value = (p->data[int64_t(y) * p->bytesPerRow + (x >> 3)] & (0x80 >> (x & 7))) ? 255 : 0;
  }
  return true;
}

}  // namespace

void ShadowOffset(int32_t direction, int32_t distance, int32_t* dx, int32_t* dy) {
  static constexpr int8_t kX[8] = {0, 1, 1, 1, 0, -1, -1, -1};
  static constexpr int8_t kY[8] = {-1, -1, 0, 1, 1, 1, 0, -1};
  if (direction < 0 || direction > 7) direction = 3;
  *dx = kX[direction] * distance;
  *dy = kY[direction] * distance;
}

int BuildStyledShape(const qvTextSettings& style, const qvRunShape& run, StyledShape* out) {
  const int32_t h = std::max(run.height, 0);
  const int32_t b = std::clamp(run.baseline, 0, h);
  const int32_t rows = h + 1;
  const bool colourFont = run.colourGlyphs != nullptr;
  const bool oneBit = !run.coverage;
  // Software bold and italic work on 1-bit shapes; a colour font's glyphs lean but never smear.
  const bool bold = (style.style & kStyleBold) && run.softBold && oneBit && !colourFont;
  const bool italic = (style.style & kStyleItalic) && run.softItalic && oneBit;
  const bool underline = (style.style & kStyleUnderlined) && run.softUnderline;
  // Row r leans right by b / 2 - r / 2: rows above the baseline right, rows below it left.
  auto lean = [&](int32_t r) { return italic ? b / 2 - r / 2 : 0; };
  const int32_t origin = std::max(0, -lean(rows - 1));
  const int32_t width = std::max(
      1, std::max(origin + std::max(run.width, 0) + (bold ? 1 : 0) + std::max(lean(0), 0),
                  origin + std::max(run.advance, 0)));
  try {
    out->cover.assign(size_t(int64_t(width) * rows), 0);
    out->colours.assign(colourFont ? out->cover.size() : 0, 0);
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
  out->width = width;
  out->height = rows;
  out->origin = origin;
  for (int32_t y = 0; y < rows; ++y) {
    uint8_t* row = out->cover.data() + int64_t(y) * width;
    const int32_t shift = origin + lean(y);
    for (int32_t x = 0; x < run.width; ++x) {
      uint8_t v = 0;
      if (!ShapeCell(run, x, y, &v) || v == 0) continue;
      int32_t to = x + shift;
      row[to] = std::max(row[to], v);
      if (bold) row[to + 1] = 255;
      if (colourFont) {
        uint32_t k = ReadBitMapPixel(run.colourGlyphs, x, y);
        out->colours[size_t(int64_t(y) * width + to)] = k;
      }
    }
  }
  if (underline && run.advance > 0) {
    const int32_t below = h - b;
    const int32_t thickness = std::max(1, below / 3);
    const int32_t top = below == 0 ? b : below == 1 ? b + 1 : b + thickness;
    for (int32_t y = top; y < std::min(top + thickness, rows); ++y)
      for (int32_t x = origin; x < origin + run.advance; ++x) {
        out->cover[size_t(int64_t(y) * width + x)] = 255;
        if (colourFont) out->colours[size_t(int64_t(y) * width + x)] = style.colour & 0xFFFFFF;
      }
  }
  return 0;
}

void DilateOr(const uint8_t* src, int32_t width, int32_t height, int32_t e, int32_t iFrom,
              int32_t jFrom, std::vector<uint8_t>* out) {
  DilateSeparable(src, width, height, e, iFrom, jFrom, true, out);
}
void DilateOrSquare(const uint8_t* src, int32_t width, int32_t height, int32_t e, int32_t iFrom,
                    int32_t jFrom, std::vector<uint8_t>* out) {
  DilateSquare(src, width, height, e, iFrom, jFrom, true, out);
}
void DilateSum(const uint8_t* src, int32_t width, int32_t height, int32_t e, int32_t iFrom,
               int32_t jFrom, std::vector<uint8_t>* out) {
  DilateSeparable(src, width, height, e, iFrom, jFrom, false, out);
}
void DilateSumSquare(const uint8_t* src, int32_t width, int32_t height, int32_t e, int32_t iFrom,
                     int32_t jFrom, std::vector<uint8_t>* out) {
  DilateSquare(src, width, height, e, iFrom, jFrom, false, out);
}

int EdgeDraw(const qvTextBlock& block, int32_t x, int32_t y, const qvTextSettings& style,
             const qvRunShape& run) {
  StyledShape shape;
  if (int rc = BuildStyledShape(style, run, &shape)) return rc;
  const int32_t left = x - shape.origin;
  if (run.colourGlyphs) {
    PaintGrid(block, shape.cover.data(), shape.colours.data(), shape.width, shape.height, left, y,
              style.colour);
    return 0;
  }
  bool warned = false;
  // The edged shape at a run origin (ox, oy): the dilation's offsets that would put the shape
  // left of or above the block are left out.
  auto drawEdged = [&](int32_t ox, int32_t oy, uint32_t colour) -> int {
    const int32_t e = std::clamp(style.edgeSize, 1, 64);
    const int32_t iFrom = std::max(-e, -ox), jFrom = std::max(-e, -oy);
    if ((iFrom > -e || jFrom > -e) && !warned) {
      OutputText("ERROR! EDGEDRAW CALLED WITH NEGATIVE X/Y!\n");
      warned = true;
    }
    std::vector<uint8_t> grown;
    try {
      if (run.coverage)
        DilateSum(shape.cover.data(), shape.width, shape.height, e, iFrom, jFrom, &grown);
      else
        DilateOr(shape.cover.data(), shape.width, shape.height, e, iFrom, jFrom, &grown);
    } catch (const std::bad_alloc&) {
      return ERR_MEM;
    }
    PaintGrid(block, grown.data(), nullptr, shape.width + 2 * e, shape.height + 2 * e,
              ox - shape.origin - e, oy - e, colour);
    return 0;
  };
  if (style.style & kStyleShadow) {
    int32_t dx = 0, dy = 0;
    ShadowOffset(style.shadowDirection, std::clamp(style.shadowSize, 1, 64), &dx, &dy);
    if (style.style & kStyleEdge) {
      if (int rc = drawEdged(x + dx, y + dy, style.shadowColour)) return rc;
    } else {
      PaintGrid(block, shape.cover.data(), nullptr, shape.width, shape.height, left + dx, y + dy,
                style.shadowColour);
    }
  }
  if (style.style & kStyleEdge) {
    if (int rc = drawEdged(x, y, style.edgeColour)) return rc;
  }
  PaintGrid(block, shape.cover.data(), nullptr, shape.width, shape.height, left, y, style.colour);
  return 0;
}

int MakeLayerEdge(const qvBitMap* bitmap, const qvPlane* mask, const qvPlane* alpha, int32_t width,
                  int32_t height, uint32_t colour, int32_t size, qvLayerEdge* out) {
  *out = qvLayerEdge{};
  if (width < 1 || height < 1 || !bitmap) return ERR_MEM;
  const int32_t s = std::clamp(size, 0, 64);
  const int64_t ow = int64_t(width) + int64_t{2} * s + 1, oh = int64_t(height) + int64_t{2} * s + 1;
  if (ow > INT32_MAX / 4 || oh > INT32_MAX / 4) return ERR_MEM;
  qvLayerEdge edge;
  edge.xOffset = s;
  edge.yOffset = s;
  edge.width = int32_t(ow);
  edge.height = int32_t(oh);
  edge.bitmap = AllocClearedBitMap(edge.width, edge.height);
  if (!edge.bitmap) return ERR_MEM;
  const uint32_t rgb = colour & 0xFFFFFF;
  if (!alpha && !mask) {
    FillBitMapRect(edge.bitmap, 0, 0, edge.width, edge.height, rgb);
    *out = edge;
    return 0;
  }
  std::vector<uint8_t> shape, grown;
  try {
    shape.assign(size_t(int64_t(width) * height), 0);
    for (int32_t y = 0; y < height; ++y)
      for (int32_t x = 0; x < width; ++x) {
        uint8_t v = 0;
        if (alpha) {
          if ((alpha->width <= 0 || x < alpha->width) && (alpha->height <= 0 || y < alpha->height))
            v = alpha->data[int64_t(y) * alpha->bytesPerRow + x];
        } else if ((mask->width <= 0 || x < mask->width) &&
                   (mask->height <= 0 || y < mask->height)) {
          v = (mask->data[int64_t(y) * mask->bytesPerRow + (x >> 3)] & (0x80 >> (x & 7))) ? 255 : 0;
        }
        shape[size_t(int64_t(y) * width + x)] = v;
      }
    // Offsets 0..2s of the object are the dilation's -s..s around the object placed at s.
    if (alpha)
      DilateSum(shape.data(), width, height, s, -s, -s, &grown);
    else
      DilateOr(shape.data(), width, height, s, -s, -s, &grown);
  } catch (const std::bad_alloc&) {
    FreeBitMap(edge.bitmap);
    return ERR_MEM;
  }
  if (alpha)
    edge.alpha = AllocAlphaChannel(edge.width, edge.height, true);
  else
    edge.mask = AllocMask(edge.width, edge.height, true);
  if (!edge.alpha && !edge.mask) {
    FreeBitMap(edge.bitmap);
    return ERR_MEM;
  }
  const int32_t gw = width + 2 * s;
  for (int32_t y = 0; y < height + 2 * s; ++y) {
    auto* d = reinterpret_cast<uint32_t*>(edge.bitmap->pixels +
                                          int64_t(y) * edge.bitmap->bytesPerRow);
    for (int32_t x = 0; x < gw; ++x) {
      uint8_t v = grown[size_t(int64_t(y) * gw + x)];
      if (v == 0) continue;
      d[x] = rgb;
      if (edge.alpha)
        edge.alpha->data[int64_t(y) * edge.alpha->bytesPerRow + x] = v;
      else
        edge.mask->data[int64_t(y) * edge.mask->bytesPerRow + (x >> 3)] |= uint8_t(0x80 >> (x & 7));
    }
  }
  *out = edge;
  return 0;
}

void FreeLayerEdge(qvLayerEdge* edge) {
  if (!edge) return;
  FreeBitMap(edge->bitmap);
  FreeMaskOrAlpha(edge->mask);
  FreeMaskOrAlpha(edge->alpha);
  *edge = qvLayerEdge{};
}

}  // namespace qv
