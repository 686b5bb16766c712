// The median-cut quantiser. The histogram has 32 x 64 x 32 cells (R and B at 5 bits, G at 6,
// since the eye tells greens apart best); after the palette is cut the same cells serve as the
// inverse colour map, holding palette index + 1 and filled one block of 4 x 8 x 4 cells at a time,
// only for the blocks that pixels reach. Distances are scaled R x 2, G x 3, B x 1.
#include "image/quantize.h"

#include <cstdlib>
#include <cstring>

#include "image/image.h"
#include "image/internal.h"

namespace qv {

namespace {

constexpr int kCellsR = 32;
constexpr int kCellsG = 64;
constexpr int kCellsB = 32;
constexpr int kCells = kCellsR * kCellsG * kCellsB;
constexpr int kScaleR = 2;
constexpr int kScaleG = 3;
constexpr int kScaleB = 1;
// One cell's extent in levels times the axis scale: the box volume and the split both weigh the
// axes by it.
constexpr int kStepR = 8 * kScaleR;
constexpr int kStepG = 4 * kScaleG;
constexpr int kStepB = 8 * kScaleB;
// The inverse map's blocks: 4 x 8 x 4 cells.
constexpr int kBlockR = 4;
constexpr int kBlockG = 8;
constexpr int kBlockB = 4;
constexpr int kBlockCells = kBlockR * kBlockG * kBlockB;

inline int CellIndex(int r, int g, int b) { return (r * kCellsG + g) * kCellsB + b; }

inline uint16_t Swap16(uint16_t w) { return uint16_t((w >> 8) | (w << 8)); }

inline void ReadRGB(uint8_t out[3], int32_t format, const uint8_t* p) {
  uint16_t w;
  uint32_t v;
  switch (format) {
    case kPixRGB555:
    case kPixRGB555PC:
      std::memcpy(&w, p, 2);
      if (format == kPixRGB555PC) w = Swap16(w);
      out[0] = uint8_t((w >> 7) & 0xF8);
      out[1] = uint8_t((w >> 2) & 0xF8);
      out[2] = uint8_t((w << 3) & 0xFF);
      return;
    case kPixBGR555:
    case kPixBGR555PC:
      std::memcpy(&w, p, 2);
      if (format == kPixBGR555PC) w = Swap16(w);
      out[0] = uint8_t((w << 3) & 0xFF);
      out[1] = uint8_t((w >> 2) & 0xF8);
      out[2] = uint8_t((w >> 7) & 0xF8);
      return;
    case kPixRGB565:
    case kPixRGB565PC:
      std::memcpy(&w, p, 2);
      if (format == kPixRGB565PC) w = Swap16(w);
      out[0] = uint8_t((w >> 8) & 0xF8);
      out[1] = uint8_t((w >> 3) & 0xFC);
      out[2] = uint8_t((w << 3) & 0xFF);
      return;
    case kPixBGR565:
    case kPixBGR565PC:
      std::memcpy(&w, p, 2);
      if (format == kPixBGR565PC) w = Swap16(w);
      out[0] = uint8_t((w << 3) & 0xFF);
      out[1] = uint8_t((w >> 3) & 0xFC);
      out[2] = uint8_t((w >> 8) & 0xF8);
      return;
    case kPixRGB24:
      out[0] = p[0];
      out[1] = p[1];
      out[2] = p[2];
      return;
    case kPixBGR24:
      out[0] = p[2];
      out[1] = p[1];
      out[2] = p[0];
      return;
    case kPixARGB32:
      std::memcpy(&v, p, 4);
      out[0] = uint8_t(v >> 16);
      out[1] = uint8_t(v >> 8);
      out[2] = uint8_t(v);
      return;
    case kPixBGRx32:
      std::memcpy(&v, p, 4);
      out[0] = uint8_t(v >> 8);
      out[1] = uint8_t(v >> 16);
      out[2] = uint8_t(v >> 24);
      return;
    case kPixRGBx32:
      std::memcpy(&v, p, 4);
      out[0] = uint8_t(v >> 24);
      out[1] = uint8_t(v >> 16);
      out[2] = uint8_t(v >> 8);
      return;
    case kPixxBGR32:
      std::memcpy(&v, p, 4);
      out[0] = uint8_t(v);
      out[1] = uint8_t(v >> 8);
      out[2] = uint8_t(v >> 16);
      return;
    default:
      return;
  }
}

struct ColourBox {
  int32_t r0, r1, g0, g1, b0, b1;
  int32_t volume;
  int32_t colours;  // nonzero cells inside
};

struct Palette {
  int32_t count;
  int32_t r[256];
  int32_t g[256];
  int32_t b[256];
};

struct Work {
  uint16_t* cells;  // histogram, then inverse map
  Palette palette;
};

bool PlaneRHasCell(const uint16_t* cells, int r, const ColourBox& box) {
  for (int g = box.g0; g <= box.g1; ++g) {
    const uint16_t* c = cells + CellIndex(r, g, box.b0);
    for (int b = box.b0; b <= box.b1; ++b)
      if (*c++ != 0) return true;
  }
  return false;
}

bool PlaneGHasCell(const uint16_t* cells, int g, const ColourBox& box) {
  for (int r = box.r0; r <= box.r1; ++r) {
    const uint16_t* c = cells + CellIndex(r, g, box.b0);
    for (int b = box.b0; b <= box.b1; ++b)
      if (*c++ != 0) return true;
  }
  return false;
}

bool PlaneBHasCell(const uint16_t* cells, int b, const ColourBox& box) {
  for (int r = box.r0; r <= box.r1; ++r)
    for (int g = box.g0; g <= box.g1; ++g)
      if (cells[CellIndex(r, g, b)] != 0) return true;
  return false;
}

// Moves each bound inward to the first plane with a counted cell (R, then G, then B), then
// works out the scaled volume and the number of counted cells. An empty box keeps its bounds.
void ShrinkColorBox(const uint16_t* cells, ColourBox* box) {
  if (box->r1 > box->r0) {
    for (int r = box->r0; r <= box->r1; ++r)
      if (PlaneRHasCell(cells, r, *box)) {
        box->r0 = r;
        break;
      }
    for (int r = box->r1; r >= box->r0; --r)
      if (PlaneRHasCell(cells, r, *box)) {
        box->r1 = r;
        break;
      }
  }
  if (box->g1 > box->g0) {
    for (int g = box->g0; g <= box->g1; ++g)
      if (PlaneGHasCell(cells, g, *box)) {
        box->g0 = g;
        break;
      }
    for (int g = box->g1; g >= box->g0; --g)
      if (PlaneGHasCell(cells, g, *box)) {
        box->g1 = g;
        break;
      }
  }
  if (box->b1 > box->b0) {
    for (int b = box->b0; b <= box->b1; ++b)
      if (PlaneBHasCell(cells, b, *box)) {
        box->b0 = b;
        break;
      }
    for (int b = box->b1; b >= box->b0; --b)
      if (PlaneBHasCell(cells, b, *box)) {
        box->b1 = b;
        break;
      }
  }
  int32_t dr = (box->r1 - box->r0) * kStepR;
  int32_t dg = (box->g1 - box->g0) * kStepG;
  int32_t db = (box->b1 - box->b0) * kStepB;
  box->volume = dr * dr + dg * dg + db * db;
  int32_t colours = 0;
  for (int r = box->r0; r <= box->r1; ++r)
    for (int g = box->g0; g <= box->g1; ++g) {
      const uint16_t* c = cells + CellIndex(r, g, box->b0);
      for (int b = box->b0; b <= box->b1; ++b)
        if (*c++ != 0) ++colours;
    }
  box->colours = colours;
}

// Splits boxes until there are `wanted` or none can be split. While the boxes are few the most
// populated one is cut (so that busy regions get colours first), later the largest one.
int MedianCutBoxes(const uint16_t* cells, ColourBox* boxes, int count, int wanted) {
  while (count < wanted) {
    ColourBox* pick = nullptr;
    if (count * 2 <= wanted) {
      int32_t best = 0;
      for (int i = 0; i < count; ++i)
        if (boxes[i].colours > best && boxes[i].volume > 0) {
          best = boxes[i].colours;
          pick = &boxes[i];
        }
    } else {
      int32_t best = 0;
      for (int i = 0; i < count; ++i)
        if (boxes[i].volume > best) {
          best = boxes[i].volume;
          pick = &boxes[i];
        }
    }
    if (pick == nullptr) break;
    ColourBox* added = &boxes[count];
    *added = *pick;
    int32_t dr = (pick->r1 - pick->r0) * kStepR;
    int32_t dg = (pick->g1 - pick->g0) * kStepG;
    int32_t db = (pick->b1 - pick->b0) * kStepB;
    int axis = 1;
    int32_t widest = dg;
    if (dr > widest) {
      widest = dr;
      axis = 0;
    }
    if (db > widest) axis = 2;
    switch (axis) {
      case 0: {
        int mid = (pick->r0 + pick->r1) / 2;
        pick->r1 = mid;
        added->r0 = mid + 1;
        break;
      }
      case 1: {
        int mid = (pick->g0 + pick->g1) / 2;
        pick->g1 = mid;
        added->g0 = mid + 1;
        break;
      }
      default: {
        int mid = (pick->b0 + pick->b1) / 2;
        pick->b1 = mid;
        added->b0 = mid + 1;
        break;
      }
    }
    ShrinkColorBox(cells, pick);
    ShrinkColorBox(cells, added);
    ++count;
  }
  return count;
}

// The count-weighted mean of the cell centres, rounded; an empty box is white.
void ComputeBoxColor(const uint16_t* cells, const ColourBox& box, Palette* palette, int index) {
  int64_t total = 0;
  int64_t sumR = 0;
  int64_t sumG = 0;
  int64_t sumB = 0;
  for (int r = box.r0; r <= box.r1; ++r)
    for (int g = box.g0; g <= box.g1; ++g) {
      const uint16_t* c = cells + CellIndex(r, g, box.b0);
      for (int b = box.b0; b <= box.b1; ++b) {
        int64_t n = *c++;
        if (n == 0) continue;
        total += n;
        sumR += n * (8 * r + 4);
        sumG += n * (4 * g + 2);
        sumB += n * (8 * b + 4);
      }
    }
  if (total == 0) {
    palette->r[index] = palette->g[index] = palette->b[index] = 255;
    return;
  }
  palette->r[index] = int32_t((sumR + total / 2) / total);
  palette->g[index] = int32_t((sumG + total / 2) / total);
  palette->b[index] = int32_t((sumB + total / 2) / total);
}

// Smallest and largest squared scaled distance from `x` to the range [lo, hi] with centre c.
inline void AxisDistances(int x, int lo, int hi, int scale, int32_t* least, int32_t* most) {
  int c = (lo + hi) >> 1;
  int32_t near = 0;
  int32_t far = 0;
  if (x < lo) {
    near = (x - lo) * scale;
    far = (x - hi) * scale;
  } else if (x > hi) {
    near = (x - hi) * scale;
    far = (x - lo) * scale;
  } else {
    far = (x <= c ? x - hi : x - lo) * scale;
  }
  *least += near * near;
  *most += far * far;
}

// Fills the block of the inverse map that holds the cell (cr, cg, cb): first the palette colours
// that can be nearest to some cell of the block, then the nearest of those for each cell.
void FillInverseMapBlock(Work* work, int cr, int cg, int cb) {
  const Palette& pal = work->palette;
  int br = cr & ~(kBlockR - 1);
  int bg = cg & ~(kBlockG - 1);
  int bb = cb & ~(kBlockB - 1);
  int minR = (cr >> 2) * 32 + 4;
  int maxR = minR + 24;
  int minG = (cg >> 3) * 32 + 2;
  int maxG = minG + 28;
  int minB = (cb >> 2) * 32 + 4;
  int maxB = minB + 24;

  int32_t least[256];
  int32_t bound = 0x7FFFFFFF;
  for (int i = 0; i < pal.count; ++i) {
    int32_t lo = 0;
    int32_t hi = 0;
    AxisDistances(pal.r[i], minR, maxR, kScaleR, &lo, &hi);
    AxisDistances(pal.g[i], minG, maxG, kScaleG, &lo, &hi);
    AxisDistances(pal.b[i], minB, maxB, kScaleB, &lo, &hi);
    least[i] = lo;
    if (hi < bound) bound = hi;
  }
  uint8_t candidates[256];
  int nCandidates = 0;
  for (int i = 0; i < pal.count; ++i)
    if (least[i] <= bound) candidates[nCandidates++] = uint8_t(i);

  int32_t bestDist[kBlockCells];
  uint8_t bestColour[kBlockCells] = {};
  for (int32_t& d : bestDist) d = 0x7FFFFFFF;
  for (int k = 0; k < nCandidates; ++k) {
    int i = candidates[k];
    int32_t incR = (minR - pal.r[i]) * kScaleR;
    int32_t incG = (minG - pal.g[i]) * kScaleG;
    int32_t incB = (minB - pal.b[i]) * kScaleB;
    int32_t dist0 = incR * incR + incG * incG + incB * incB;
    incR = incR * (2 * kStepR) + kStepR * kStepR;
    incG = incG * (2 * kStepG) + kStepG * kStepG;
    incB = incB * (2 * kStepB) + kStepB * kStepB;
    int cell = 0;
    int32_t xr = incR;
    for (int r = 0; r < kBlockR; ++r) {
      int32_t dist1 = dist0;
      int32_t xg = incG;
      for (int g = 0; g < kBlockG; ++g) {
        int32_t dist2 = dist1;
        int32_t xb = incB;
        for (int b = 0; b < kBlockB; ++b) {
          if (dist2 < bestDist[cell]) {
            bestDist[cell] = dist2;
            bestColour[cell] = uint8_t(i);
          }
          ++cell;
          dist2 += xb;
          xb += 2 * kStepB * kStepB;
        }
        dist1 += xg;
        xg += 2 * kStepG * kStepG;
      }
      dist0 += xr;
      xr += 2 * kStepR * kStepR;
    }
  }
  int cell = 0;
  for (int r = 0; r < kBlockR; ++r)
    for (int g = 0; g < kBlockG; ++g) {
      uint16_t* c = work->cells + CellIndex(br + r, bg + g, bb);
      for (int b = 0; b < kBlockB; ++b) *c++ = uint16_t(bestColour[cell++] + 1);
    }
}

inline int LookUp(Work* work, int r, int g, int b) {
  int cell = CellIndex(r >> 3, g >> 2, b >> 3);
  if (work->cells[cell] == 0) FillInverseMapBlock(work, r >> 3, g >> 2, b >> 3);
  return work->cells[cell] - 1;
}

inline bool IsTransparent(const uint8_t rgb[3], uint32_t transparent) {
  return transparent != kNoTransparentRGB && rgb[0] == ((transparent >> 16) & 0xFF) &&
         rgb[1] == ((transparent >> 8) & 0xFF) && rgb[2] == (transparent & 0xFF);
}

void BuildColorHistogram(const qvQuantizeRequest& q, uint16_t* cells) {
  for (int32_t y = 0; y < q.height; ++y) {
    const uint8_t* p = q.pixels + int64_t(y) * q.pixelsPerRow * q.bytesPerPixel;
    for (int32_t x = 0; x < q.width; ++x, p += q.bytesPerPixel) {
      uint8_t rgb[3] = {};
      ReadRGB(rgb, q.format, p);
      if (IsTransparent(rgb, q.transparent)) continue;
      uint16_t& c = cells[CellIndex(rgb[0] >> 3, rgb[1] >> 2, rgb[2] >> 3)];
      if (c != 0xFFFF) ++c;
    }
  }
}

void MapPixelsPlain(const qvQuantizeRequest& q, Work* work) {
  uint8_t* out = q.indices;
  int transparentIndex = work->palette.count;
  for (int32_t y = 0; y < q.height; ++y) {
    const uint8_t* p = q.pixels + int64_t(y) * q.pixelsPerRow * q.bytesPerPixel;
    for (int32_t x = 0; x < q.width; ++x, p += q.bytesPerPixel) {
      uint8_t rgb[3] = {};
      ReadRGB(rgb, q.format, p);
      *out++ = uint8_t(IsTransparent(rgb, q.transparent) ? transparentIndex
                                                         : LookUp(work, rgb[0], rgb[1], rgb[2]));
    }
  }
}

// Error limit: small errors pass whole, middling ones at half slope, large ones stop at 32, so
// that a sharp edge does not smear into a streak.
void InitErrorLimit(int32_t* limit /* index -255..255 at limit[e + 255] */) {
  for (int e = -255; e <= 255; ++e) {
    int a = e < 0 ? -e : e;
    int v = a <= 15 ? a : a <= 47 ? 16 + (a - 16) / 2 : 32;
    limit[e + 255] = e < 0 ? -v : v;
  }
}

// Floyd-Steinberg from left to right. Cell x + 1 of the error buffer holds the next row's sum
// (in sixteenths) for column x.
void MapPixelsDithered(const qvQuantizeRequest& q, Work* work, int16_t* errors,
                       const int32_t* limit) {
  uint8_t* out = q.indices;
  const Palette& pal = work->palette;
  const int32_t* palChannel[3] = {pal.r, pal.g, pal.b};
  int transparentIndex = pal.count;
  for (int32_t y = 0; y < q.height; ++y) {
    const uint8_t* p = q.pixels + int64_t(y) * q.pixelsPerRow * q.bytesPerPixel;
    int32_t carried[3] = {};
    int32_t belowPrev[3] = {};
    int32_t belowLast[3] = {};
    int16_t* cell = errors;  // cell x
    for (int32_t x = 0; x < q.width; ++x, p += q.bytesPerPixel, cell += 3) {
      uint8_t rgb[3] = {};
      ReadRGB(rgb, q.format, p);
      if (IsTransparent(rgb, q.transparent)) {
        *out++ = uint8_t(transparentIndex);
        cell[0] = cell[1] = cell[2] = 0;
        cell[3] = 0;
        continue;
      }
      int v[3];
      for (int c = 0; c < 3; ++c) {
        int32_t e = (carried[c] + cell[3 + c] + 8) >> 4;
        if (e < -255) e = -255;
        if (e > 255) e = 255;
        int32_t value = rgb[c] + limit[e + 255];
        v[c] = value < 0 ? 0 : value > 255 ? 255 : value;
      }
      int index = LookUp(work, v[0], v[1], v[2]);
      *out++ = uint8_t(index);
      for (int c = 0; c < 3; ++c) {
        int32_t e = v[c] - palChannel[c][index];
        cell[c] = int16_t(belowPrev[c] + 3 * e);
        belowPrev[c] = belowLast[c] + 5 * e;
        belowLast[c] = e;
        carried[c] = 7 * e;
      }
    }
    for (int c = 0; c < 3; ++c) cell[c] = int16_t(belowPrev[c]);
  }
}

}  // namespace

void ReadPixelRGB(uint8_t out[3], int32_t format, const uint8_t* pixel) {
  ReadRGB(out, format, pixel);
}

void QuantizeColors(qvQuantizeRequest* q) {
  q->result = false;
  if (q->pixels == nullptr || q->indices == nullptr || q->palette == nullptr ||
      q->colourCount == nullptr || q->width < 1 || q->height < 1 || q->bytesPerPixel < 1) {
    return;
  }
  bool spare = q->transparent != kNoTransparentRGB || q->reserve;
  int32_t wanted = *q->colourCount;
  int32_t most = spare ? 255 : 256;
  if (wanted > most) wanted = most;
  if (wanted < 1) return;

  auto* work = static_cast<Work*>(image::Allocate(sizeof(Work), true));
  auto* cells = static_cast<uint16_t*>(image::Allocate(kCells * sizeof(uint16_t), true));
  auto* boxes = static_cast<ColourBox*>(image::Allocate(sizeof(ColourBox) * size_t(wanted), true));
  int16_t* errors = nullptr;
  if (q->dither) {
    errors = static_cast<int16_t*>(
        image::Allocate((size_t(q->width) + 2) * 3 * sizeof(int16_t), true));
  }
  if (work == nullptr || cells == nullptr || boxes == nullptr || (q->dither && errors == nullptr)) {
    std::free(errors);
    std::free(boxes);
    std::free(cells);
    std::free(work);
    return;
  }
  work->cells = cells;

  BuildColorHistogram(*q, cells);

  boxes[0] = ColourBox{0, kCellsR - 1, 0, kCellsG - 1, 0, kCellsB - 1, 0, 0};
  ShrinkColorBox(cells, &boxes[0]);
  int count = MedianCutBoxes(cells, boxes, 1, wanted);
  Palette& pal = work->palette;
  for (int i = 0; i < count; ++i) ComputeBoxColor(cells, boxes[i], &pal, i);
  pal.count = count;
  if (q->transparent != kNoTransparentRGB) {
    pal.r[count] = int32_t((q->transparent >> 16) & 0xFF);
    pal.g[count] = int32_t((q->transparent >> 8) & 0xFF);
    pal.b[count] = int32_t(q->transparent & 0xFF);
  }

  std::memset(cells, 0, kCells * sizeof(uint16_t));
  if (q->dither) {
    int32_t limit[511];
    InitErrorLimit(limit);
    MapPixelsDithered(*q, work, errors, limit);
  } else {
    MapPixelsPlain(*q, work);
  }

  int32_t entries = count + (spare ? 1 : 0);
  for (int i = 0; i < entries; ++i) {
    q->palette[i] = (uint32_t(pal.r[i]) << 16) | (uint32_t(pal.g[i]) << 8) | uint32_t(pal.b[i]);
  }
  *q->colourCount = entries;
  q->result = true;
  std::free(errors);
  std::free(boxes);
  std::free(cells);
  std::free(work);
}

bool QuantizeBitMap(const uint8_t* pixels, int32_t format, int32_t bytesPerPixel, int32_t width,
                    int32_t height, int32_t pixelsPerRow, uint8_t* indices, uint32_t* palette,
                    int32_t* colourCount, uint32_t transparent, bool reserve, bool dither) {
  qvQuantizeRequest q;
  q.pixels = pixels;
  q.format = format;
  q.bytesPerPixel = bytesPerPixel;
  q.width = width;
  q.height = height;
  q.pixelsPerRow = pixelsPerRow;
  q.indices = indices;
  q.palette = palette;
  q.colourCount = colourCount;
  q.transparent = transparent;
  q.reserve = reserve;
  q.dither = dither;
  QuantizeColors(&q);
  return q.result;
}

}  // namespace qv
