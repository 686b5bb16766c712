// Dirty rectangles and the copies into a front buffer (front_buffer.h).
#include "platform/os/front_buffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/memory.h"

namespace qv {

namespace {

constexpr uint32_t kColourBits = 0x00FFFFFFu;
// From this many source bytes on, one look at the page map costs less than reading untouched
// pages, each of which faults.
constexpr int64_t kAskPageMapBytes = int64_t(64) << 10;

int64_t Area(const qvDirtyRect& r) { return int64_t{r.x2 - r.x1} * (r.y2 - r.y1); }

qvDirtyRect Union(const qvDirtyRect& a, const qvDirtyRect& b) {
  return {std::min(a.x1, b.x1), std::min(a.y1, b.y1), std::max(a.x2, b.x2), std::max(a.y2, b.y2)};
}

// Overlapping, or side by side along a common edge: their union covers little more than they do.
// Rectangles that meet only at a corner stay apart (a diagonal of pixels is no square).
bool Joins(const qvDirtyRect& a, const qvDirtyRect& b) {
  bool xOverlap = a.x1 < b.x2 && b.x1 < a.x2, yOverlap = a.y1 < b.y2 && b.y1 < a.y2;
  bool xTouch = a.x1 <= b.x2 && b.x1 <= a.x2, yTouch = a.y1 <= b.y2 && b.y1 <= a.y2;
  return (xOverlap && yTouch) || (yOverlap && xTouch);
}

void RemoveAt(qvDirtyList* list, int32_t i) { list->rects[i] = list->rects[--list->count]; }

}  // namespace

bool AddDirtyRect(qvDirtyList* list, qvDirtyRect rect) {
  if (rect.x1 >= rect.x2 || rect.y1 >= rect.y2) return false;
  bool wasEmpty = list->count == 0;
  // A merged rectangle may reach others: merge until it joins none, keeping the list disjoint.
  for (;;) {
    bool merged = false;
    for (int32_t i = 0; i < list->count; ++i) {
      if (Joins(list->rects[i], rect)) {
        rect = Union(rect, list->rects[i]);
        RemoveAt(list, i);
        merged = true;
        break;
      }
    }
    if (merged) continue;
    if (list->count < qvDirtyList::kMaxRects) break;
    // Full: the two rectangles (the new one included) whose box adds least to what they cover
    // become one.
    int32_t bestI = 0, bestJ = -1;  // j = -1: the new rectangle
    int64_t bestGrowth = INT64_MAX;
    for (int32_t i = 0; i < list->count; ++i) {
      const qvDirtyRect& a = list->rects[i];
      int64_t growth = Area(Union(a, rect)) - Area(a) - Area(rect);
      if (growth < bestGrowth) {
        bestGrowth = growth;
        bestI = i;
        bestJ = -1;
      }
      for (int32_t j = i + 1; j < list->count; ++j) {
        const qvDirtyRect& b = list->rects[j];
        growth = Area(Union(a, b)) - Area(a) - Area(b);
        if (growth < bestGrowth) {
          bestGrowth = growth;
          bestI = i;
          bestJ = j;
        }
      }
    }
    if (bestJ < 0) {
      rect = Union(rect, list->rects[bestI]);
      RemoveAt(list, bestI);
    } else {
      // The new rectangle joins none of the others: it takes the freed place, and the merged
      // pair is added in its turn.
      qvDirtyRect pair = Union(list->rects[bestI], list->rects[bestJ]);
      RemoveAt(list, bestJ);
      RemoveAt(list, bestI);
      list->rects[list->count++] = rect;
      rect = pair;
    }
  }
  list->rects[list->count++] = rect;
  // Disjoint rectangles covering most of their box are presented faster as the one box.
  qvDirtyRect box = list->rects[0];
  int64_t covered = 0;
  for (int32_t i = 0; i < list->count; ++i) {
    box = Union(box, list->rects[i]);
    covered += Area(list->rects[i]);
  }
  if (list->count > 1 && covered * 4 >= Area(box) * 3) {
    list->rects[0] = box;
    list->count = 1;
  }
  return wasEmpty;
}

qvFrontPixels::~qvFrontPixels() { std::free(pixels_); }

bool qvFrontPixels::Reset(size_t count) {
  Release();
  if (count == 0) return true;
  pixels_ = static_cast<uint32_t*>(std::calloc(count, sizeof(uint32_t)));
  if (pixels_ == nullptr) return false;
  size_ = count;
  return true;
}

void qvFrontPixels::Release() {
  std::free(pixels_);
  pixels_ = nullptr;
  size_ = 0;
}

void qvFrontPixels::swap(qvFrontPixels& other) noexcept {
  std::swap(pixels_, other.pixels_);
  std::swap(size_, other.size_);
}

void CopyToFront(const uint32_t* src, int32_t srcPerRow, uint32_t* dst, int32_t dstPerRow,
                 int32_t width, int32_t height, bool dstBlank) {
  // Eight pixels at a time in the compiler's vector type: a loop the optimiser may or may not
  // vectorise (it does not at -O2) would leave a full frame twice as slow as a copy.
  using Pixels4 = uint32_t __attribute__((vector_size(16)));
  const Pixels4 mask = {kColourBits, kColourBits, kColourBits, kColourBits};
  if (dstBlank && height > 0 && width > 0 && srcPerRow >= width) {
    const int64_t bytes = (int64_t{height - 1} * srcPerRow + width) * int64_t{sizeof(uint32_t)};
    if (bytes >= kAskPageMapBytes && PagesNeverTouched(src, size_t(bytes))) return;
  }
  for (int32_t row = 0; row < height; ++row) {
    const uint32_t* s = src + int64_t{row} * srcPerRow;
    uint32_t* d = dst + int64_t{row} * dstPerRow;
    if (dstBlank) {
      uint32_t any = 0;
      for (int32_t col = 0; col < width; ++col) any |= s[col];
      if ((any & kColourBits) == 0) continue;
    }
    int32_t col = 0;
    for (; col + 8 <= width; col += 8) {
      Pixels4 a, b;
      std::memcpy(&a, s + col, sizeof a);
      std::memcpy(&b, s + col + 4, sizeof b);
      a &= mask;
      b &= mask;
      std::memcpy(d + col, &a, sizeof a);
      std::memcpy(d + col + 4, &b, sizeof b);
    }
    for (; col < width; ++col) d[col] = s[col] & kColourBits;
  }
}

void StretchToFront(const uint32_t* pixels, int32_t pixelsPerRow, int32_t sx, int32_t sy,
                    int32_t width, int32_t height, uint32_t* front, int32_t frontWidth,
                    int32_t frontHeight, int32_t dx, int32_t dy, int32_t stretchWidth,
                    int32_t stretchHeight) {
  // Only the rows and columns inside the buffer are visited: a huge stretch costs its clip.
  int64_t x1 = std::max<int64_t>(dx, 0), y1 = std::max<int64_t>(dy, 0);
  int64_t x2 = std::min<int64_t>(int64_t{dx} + stretchWidth, frontWidth);
  int64_t y2 = std::min<int64_t>(int64_t{dy} + stretchHeight, frontHeight);
  // The source column of each buffer column is worked out once per stretch (per band of columns,
  // so that the table lives on the stack), not once per pixel.
  constexpr int64_t kBand = 2048;
  int32_t columns[kBand];
  for (int64_t bandX = x1; bandX < x2; bandX += kBand) {
    int32_t n = static_cast<int32_t>(std::min(kBand, x2 - bandX));
    for (int32_t i = 0; i < n; ++i) {
      columns[i] = static_cast<int32_t>((bandX + i - dx) * width / stretchWidth);
    }
    // Rows that take the same source row are the same pixels: copied from the row above.
    const uint32_t* above = nullptr;
    int64_t aboveRow = 0;
    for (int64_t y = y1; y < y2; ++y) {
      int64_t srcRow = sy + (y - dy) * height / stretchHeight;
      uint32_t* dst = front + y * frontWidth + bandX;
      if (above != nullptr && srcRow == aboveRow) {
        std::memcpy(dst, above, static_cast<size_t>(n) * 4);
      } else {
        const uint32_t* src = pixels + srcRow * pixelsPerRow + sx;
        for (int32_t i = 0; i < n; ++i) dst[i] = src[columns[i]] & kColourBits;
        aboveRow = srcRow;
      }
      above = dst;
    }
  }
}

}  // namespace qv
