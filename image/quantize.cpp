// The median-cut quantiser. The histogram has 32 x 64 x 32 cells (R and B at 5 bits, G at 6,
// since the eye tells greens apart best), kept as the list of the cells that pixels reach with
// their counts: every box of the cut owns a stretch of that list, so that its work follows the
// colours it holds rather than the cells it spans. The inverse colour map is filled one block of
// 4 x 8 x 4 cells at a time, only for the blocks that pixels reach. Distances are scaled R x 2,
// G x 3, B x 1. The work per call follows the picture: a small one is counted by sorting its
// cells, never by clearing and scanning all of them.
#include "image/quantize.h"

#include <algorithm>
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
constexpr int kBlocks = kCells / kBlockCells;
// Up to this many pixels the histogram is counted by sorting their cells; above it, in the
// whole grid of cells.
constexpr int64_t kSortedHistogramPixels = 4096;

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

// A histogram cell that pixels reach, with its count (saturated at 0xFFFF).
struct ColourCell {
  uint8_t r, g, b;
  uint16_t count;
};

// A box of cells; cells[first, last) of the histogram list are the counted cells inside it.
struct ColourBox {
  int32_t r0, r1, g0, g1, b0, b1;
  int32_t volume;
  int32_t first, last;
  int32_t Colours() const { return last - first; }
};

struct Palette {
  int32_t count;
  int32_t r[256];
  int32_t g[256];
  int32_t b[256];
};

// The inverse colour map: each block that a pixel reached holds the palette index of each of its
// cells; blockSlot[block] is the block's place in `blocks` + 1, 0 while it is not filled.
struct Work {
  Palette palette;
  uint16_t blockSlot[kBlocks];
  int32_t blocksUsed;
  uint8_t* blocks;  // kBlockCells bytes a block
};

// Moves each bound inward to the counted cells inside (R, then G, then B), then works out the
// scaled volume. An empty box keeps its bounds.
void ShrinkColorBox(const ColourCell* cells, ColourBox* box) {
  if (box->first < box->last) {
    int r0 = 255, r1 = 0, g0 = 255, g1 = 0, b0 = 255, b1 = 0;
    for (int32_t i = box->first; i < box->last; ++i) {
      const ColourCell& c = cells[i];
      r0 = std::min<int>(r0, c.r);
      r1 = std::max<int>(r1, c.r);
      g0 = std::min<int>(g0, c.g);
      g1 = std::max<int>(g1, c.g);
      b0 = std::min<int>(b0, c.b);
      b1 = std::max<int>(b1, c.b);
    }
    box->r0 = r0;
    box->r1 = r1;
    box->g0 = g0;
    box->g1 = g1;
    box->b0 = b0;
    box->b1 = b1;
  }
  int32_t dr = (box->r1 - box->r0) * kStepR;
  int32_t dg = (box->g1 - box->g0) * kStepG;
  int32_t db = (box->b1 - box->b0) * kStepB;
  box->volume = dr * dr + dg * dg + db * db;
}

// Puts the cells whose coordinate on the axis is at most `mid` before the others; the first
// index of the others.
int32_t PartitionCells(ColourCell* cells, int32_t first, int32_t last, int axis, int mid) {
  ColourCell* split = std::partition(cells + first, cells + last, [axis, mid](const ColourCell& c) {
    return (axis == 0 ? c.r : axis == 1 ? c.g : c.b) <= mid;
  });
  return static_cast<int32_t>(split - cells);
}

// Splits boxes until there are `wanted` or none can be split. While the boxes are few the most
// populated one is cut (so that busy regions get colours first), later the largest one.
int MedianCutBoxes(ColourCell* cells, ColourBox* boxes, int count, int wanted) {
  while (count < wanted) {
    ColourBox* pick = nullptr;
    if (count * 2 <= wanted) {
      int32_t best = 0;
      for (int i = 0; i < count; ++i)
        if (boxes[i].Colours() > best && boxes[i].volume > 0) {
          best = boxes[i].Colours();
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
    int mid = 0;
    switch (axis) {
      case 0:
        mid = (pick->r0 + pick->r1) / 2;
        pick->r1 = mid;
        added->r0 = mid + 1;
        break;
      case 1:
        mid = (pick->g0 + pick->g1) / 2;
        pick->g1 = mid;
        added->g0 = mid + 1;
        break;
      default:
        mid = (pick->b0 + pick->b1) / 2;
        pick->b1 = mid;
        added->b0 = mid + 1;
        break;
    }
    int32_t split = PartitionCells(cells, pick->first, pick->last, axis, mid);
    pick->last = split;
    added->first = split;
    ShrinkColorBox(cells, pick);
    ShrinkColorBox(cells, added);
    ++count;
  }
  return count;
}

// The count-weighted mean of the cell centres, rounded; an empty box is white.
void ComputeBoxColor(const ColourCell* cells, const ColourBox& box, Palette* palette, int index) {
  int64_t total = 0;
  int64_t sumR = 0;
  int64_t sumG = 0;
  int64_t sumB = 0;
  for (int32_t i = box.first; i < box.last; ++i) {
    const ColourCell& c = cells[i];
    int64_t n = c.count;
    total += n;
    sumR += n * (8 * c.r + 4);
    sumG += n * (4 * c.g + 2);
    sumB += n * (8 * c.b + 4);
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

inline int BlockIndex(int cr, int cg, int cb) {
  return ((cr / kBlockR) * (kCellsG / kBlockG) + cg / kBlockG) * (kCellsB / kBlockB) + cb / kBlockB;
}

// Fills the block of the inverse map that holds the cell (cr, cg, cb): first the palette colours
// that can be nearest to some cell of the block, then the nearest of those for each cell.
void FillInverseMapBlock(Work* work, int cr, int cg, int cb) {
  const Palette& pal = work->palette;
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
  uint8_t* bestColour = work->blocks + size_t(work->blocksUsed) * kBlockCells;
  std::memset(bestColour, 0, kBlockCells);
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
  work->blockSlot[BlockIndex(cr, cg, cb)] = uint16_t(++work->blocksUsed);
}

inline int LookUp(Work* work, int r, int g, int b) {
  int cr = r >> 3, cg = g >> 2, cb = b >> 3;
  int block = BlockIndex(cr, cg, cb);
  if (work->blockSlot[block] == 0) FillInverseMapBlock(work, cr, cg, cb);
  int cell = ((cr % kBlockR) * kBlockG + cg % kBlockG) * kBlockB + cb % kBlockB;
  return work->blocks[size_t(work->blockSlot[block] - 1) * kBlockCells + cell];
}

inline bool IsTransparent(const uint8_t rgb[3], uint32_t transparent) {
  return transparent != kNoTransparentRGB && rgb[0] == ((transparent >> 16) & 0xFF) &&
         rgb[1] == ((transparent >> 8) & 0xFF) && rgb[2] == (transparent & 0xFF);
}

// Calls visit(cell index) for each pixel that is not transparent, row by row.
template <typename Visit>
void ForEachPixelCell(const qvQuantizeRequest& q, Visit visit) {
  for (int32_t y = 0; y < q.height; ++y) {
    const uint8_t* p = q.pixels + int64_t(y) * q.pixelsPerRow * q.bytesPerPixel;
    for (int32_t x = 0; x < q.width; ++x, p += q.bytesPerPixel) {
      uint8_t rgb[3] = {};
      ReadRGB(rgb, q.format, p);
      if (IsTransparent(rgb, q.transparent)) continue;
      visit(CellIndex(rgb[0] >> 3, rgb[1] >> 2, rgb[2] >> 3));
    }
  }
}

inline ColourCell CellAt(int index, uint32_t count) {
  return ColourCell{uint8_t(index / (kCellsG * kCellsB)), uint8_t(index / kCellsB % kCellsG),
                    uint8_t(index % kCellsB), uint16_t(count < 0xFFFF ? count : 0xFFFF)};
}

// The counted cells in ascending cell order into `cells` (room for min(pixels, kCells)); their
// number, or -1 when the grid's memory could not be had.
int32_t BuildColorHistogram(const qvQuantizeRequest& q, ColourCell* cells) {
  int32_t n = 0;
  if (int64_t{q.width} * q.height <= kSortedHistogramPixels) {
    uint16_t keys[kSortedHistogramPixels];
    int32_t pixels = 0;
    ForEachPixelCell(q, [&](int cell) { keys[pixels++] = uint16_t(cell); });
    std::sort(keys, keys + pixels);
    for (int32_t i = 0; i < pixels;) {
      int32_t run = i;
      while (run < pixels && keys[run] == keys[i]) ++run;
      cells[n++] = CellAt(keys[i], uint32_t(run - i));
      i = run;
    }
    return n;
  }
  auto* grid = static_cast<uint16_t*>(image::Allocate(kCells * sizeof(uint16_t), true));
  if (grid == nullptr) return -1;
  ForEachPixelCell(q, [grid](int cell) {
    if (grid[cell] != 0xFFFF) ++grid[cell];
  });
  for (int cell = 0; cell < kCells; ++cell)
    if (grid[cell] != 0) cells[n++] = CellAt(cell, grid[cell]);
  std::free(grid);
  return n;
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

  // A pixel adds at most one counted cell and reaches at most one block of the inverse map.
  int64_t pixels = int64_t{q->width} * q->height;
  size_t cellRoom = size_t(std::min<int64_t>(pixels, kCells));
  size_t blockRoom = size_t(std::min<int64_t>(pixels, kBlocks));
  auto* work = static_cast<Work*>(image::Allocate(sizeof(Work), true));
  auto* cells = static_cast<ColourCell*>(image::Allocate(sizeof(ColourCell) * cellRoom, false));
  auto* boxes = static_cast<ColourBox*>(image::Allocate(sizeof(ColourBox) * size_t(wanted), true));
  auto* blocks = static_cast<uint8_t*>(image::Allocate(blockRoom * kBlockCells, false));
  int16_t* errors = nullptr;
  if (q->dither) {
    errors = static_cast<int16_t*>(
        image::Allocate((size_t(q->width) + 2) * 3 * sizeof(int16_t), true));
  }
  int32_t counted = -1;
  if (work != nullptr && cells != nullptr && boxes != nullptr && blocks != nullptr &&
      (!q->dither || errors != nullptr)) {
    counted = BuildColorHistogram(*q, cells);
  }
  if (counted < 0) {
    std::free(errors);
    std::free(blocks);
    std::free(boxes);
    std::free(cells);
    std::free(work);
    return;
  }
  work->blocks = blocks;

  boxes[0] = ColourBox{0, kCellsR - 1, 0, kCellsG - 1, 0, kCellsB - 1, 0, 0, counted};
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
  std::free(blocks);
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
