// The front buffer's pixel work: the dirty list stays disjoint, bounded and covering every write
// without growing into the box around scattered writes; the copy clears the alpha byte; the
// nearest stretch takes the truncated source pixel however it is placed and clipped.
#include "platform/os/front_buffer.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "platform/memory.h"

using namespace qv;

namespace {

std::string Show(const qvDirtyList& list) {
  std::vector<std::string> parts;
  for (int32_t i = 0; i < list.count; ++i) {
    const qvDirtyRect& r = list.rects[i];
    parts.push_back(std::to_string(r.x1) + "," + std::to_string(r.y1) + "-" + std::to_string(r.x2) +
                    "," + std::to_string(r.y2));
  }
  std::sort(parts.begin(), parts.end());
  std::string text;
  for (const auto& p : parts) text += (text.empty() ? "" : " ") + p;
  return text;
}

TEST(DirtyList, MergesWhatOverlapsOrSharesAnEdge) {
  struct Row {
    const char* what;
    std::vector<qvDirtyRect> added;
    const char* want;
  } rows[] = {
      {"empty ones are ignored", {{5, 5, 5, 9}, {3, 3, 2, 8}}, ""},
      {"apart", {{0, 0, 10, 10}, {30, 30, 40, 40}}, "0,0-10,10 30,30-40,40"},
      {"overlapping", {{0, 0, 10, 10}, {5, 5, 20, 20}}, "0,0-20,20"},
      {"inside", {{0, 0, 40, 40}, {5, 5, 6, 6}}, "0,0-40,40"},
      {"sharing an edge", {{0, 0, 10, 10}, {10, 2, 20, 8}}, "0,0-20,10"},
      {"meeting at a corner only", {{0, 0, 10, 10}, {10, 10, 20, 20}}, "0,0-10,10 10,10-20,20"},
      {"a diagonal of pixels",
       {{0, 0, 1, 1}, {1, 1, 2, 2}, {2, 2, 3, 3}},
       "0,0-1,1 1,1-2,2 2,2-3,3"},
      // The merged rectangle reaches a third one that neither part did.
      {"merging in a chain",
       {{0, 0, 10, 10}, {40, 0, 50, 10}, {5, 20, 45, 30}, {5, 5, 45, 25}},
       "0,0-50,30"},
      // Apart, but covering three quarters of their box: one copy.
      {"nearly the box", {{0, 0, 10, 10}, {0, 11, 10, 20}}, "0,0-10,20"},
      {"far from the box", {{0, 0, 10, 10}, {0, 16, 10, 20}}, "0,0-10,10 0,16-10,20"},
  };
  for (const Row& row : rows) {
    qvDirtyList list;
    for (const qvDirtyRect& r : row.added) AddDirtyRect(&list, r);
    EXPECT_EQ(Show(list), row.want) << row.what;
  }
}

TEST(DirtyList, TellsWhenTheListStopsBeingEmpty) {
  qvDirtyList list;
  EXPECT_FALSE(AddDirtyRect(&list, {4, 4, 4, 8}));
  EXPECT_TRUE(AddDirtyRect(&list, {0, 0, 2, 2}));
  EXPECT_FALSE(AddDirtyRect(&list, {8, 8, 9, 9}));
  EXPECT_FALSE(AddDirtyRect(&list, {0, 0, 2, 2}));
  list.count = 0;
  EXPECT_TRUE(AddDirtyRect(&list, {8, 8, 9, 9}));
}

// Random writes on a small buffer: after every one the list is bounded, disjoint, joins nothing
// and covers every pixel written since it was empty.
TEST(DirtyList, StaysDisjointBoundedAndCovering) {
  constexpr int32_t kW = 96, kH = 64;
  std::mt19937 random(18);
  for (int run = 0; run < 40; ++run) {
    qvDirtyList list;
    std::vector<bool> written(kW * kH, false);
    int32_t maxSide = 1 + run % 20;
    for (int step = 0; step < 120; ++step) {
      int32_t x = random() % kW, y = random() % kH;
      qvDirtyRect r{x, y, std::min<int32_t>(kW, x + 1 + random() % maxSide),
                    std::min<int32_t>(kH, y + 1 + random() % maxSide)};
      AddDirtyRect(&list, r);
      for (int32_t yy = r.y1; yy < r.y2; ++yy) {
        for (int32_t xx = r.x1; xx < r.x2; ++xx) written[yy * kW + xx] = true;
      }
      ASSERT_GE(list.count, 1);
      ASSERT_LE(list.count, qvDirtyList::kMaxRects);
      std::vector<int> cover(kW * kH, 0);
      for (int32_t i = 0; i < list.count; ++i) {
        const qvDirtyRect& a = list.rects[i];
        ASSERT_TRUE(a.x1 >= 0 && a.y1 >= 0 && a.x2 <= kW && a.y2 <= kH && a.x1 < a.x2 &&
                    a.y1 < a.y2);
        for (int32_t yy = a.y1; yy < a.y2; ++yy) {
          for (int32_t xx = a.x1; xx < a.x2; ++xx) ++cover[yy * kW + xx];
        }
        for (int32_t j = i + 1; j < list.count; ++j) {
          const qvDirtyRect& b = list.rects[j];
          bool xOverlap = a.x1 < b.x2 && b.x1 < a.x2, yOverlap = a.y1 < b.y2 && b.y1 < a.y2;
          bool xTouch = a.x1 <= b.x2 && b.x1 <= a.x2, yTouch = a.y1 <= b.y2 && b.y1 <= a.y2;
          ASSERT_FALSE((xOverlap && yTouch) || (yOverlap && xTouch)) << Show(list);
        }
      }
      for (int32_t p = 0; p < kW * kH; ++p) {
        ASSERT_LE(cover[p], 1) << "pixel " << p % kW << "," << p / kW << ": " << Show(list);
        if (written[p]) {
          ASSERT_EQ(cover[p], 1) << "pixel " << p % kW << "," << p / kW;
        }
      }
    }
  }
}

// Fifty small writes spread over a full-HD frame (more than the list holds) are presented as
// little more than themselves, never as the frame around them.
TEST(DirtyList, ScatteredWritesStaySmallPastTheBound) {
  qvDirtyList list;
  int64_t written = 0;
  for (int32_t i = 0; i < 50; ++i) {
    int32_t x = (i % 10) * 190, y = (i / 10) * 210;
    AddDirtyRect(&list, {x, y, x + 64, y + 64});
    written += 64 * 64;
  }
  int64_t covered = 0;
  for (int32_t i = 0; i < list.count; ++i) {
    const qvDirtyRect& r = list.rects[i];
    covered += int64_t{r.x2 - r.x1} * (r.y2 - r.y1);
  }
  EXPECT_LE(list.count, qvDirtyList::kMaxRects);
  EXPECT_LT(covered, 4 * written);
  EXPECT_LT(covered, 1920 * 1080 / 4);
}

TEST(CopyToFront, ClearsTheAlphaByteOfEveryWidth) {
  for (int32_t width = 1; width <= 19; ++width) {
    const int32_t stride = 24, height = 3;
    std::vector<uint32_t> src(stride * height), dst(stride * height, 0x77777777u);
    for (size_t i = 0; i < src.size(); ++i) src[i] = 0xA0000000u | uint32_t(i * 0x010203u);
    CopyToFront(src.data() + 1, stride, dst.data() + 2, stride, width, height);
    for (int32_t y = 0; y < height; ++y) {
      for (int32_t x = 0; x < stride; ++x) {
        uint32_t want = x >= 2 && x < 2 + width ? src[y * stride + x - 1] & 0x00FFFFFFu
                                                : 0x77777777u;
        ASSERT_EQ(dst[y * stride + x], want) << "width " << width << " at " << x << "," << y;
      }
    }
  }
}

// Into a blank buffer the rows that stay 0 are left unwritten; every pixel still comes out as the
// plain copy makes it: rows of zeros, rows with only alpha bits, a row whose one colour is last.
TEST(CopyToFront, IntoABlankBufferGivesThePlainCopy) {
  for (int32_t width = 1; width <= 19; ++width) {
    const int32_t stride = 24, height = 4;
    std::vector<uint32_t> src(stride * height, 0);
    for (int32_t x = 0; x < stride; ++x) src[1 * stride + x] = 0xFF000000u;
    src[2 * stride + width] = 0xFF000001u;  // the last pixel of the copied row (src + 1)
    for (int32_t x = 0; x < stride; ++x) src[3 * stride + x] = 0x12000000u | uint32_t(x);
    std::vector<uint32_t> plain(stride * height, 0), blank(stride * height, 0);
    CopyToFront(src.data() + 1, stride, plain.data() + 2, stride, width, height);
    CopyToFront(src.data() + 1, stride, blank.data() + 2, stride, width, height, true);
    ASSERT_EQ(blank, plain) << "width " << width;
  }
}

// A blank buffer and a large source no page of which was touched (a fresh black picture): neither
// is touched by the copy, and the buffer still reads as the copy of zeros.
TEST(CopyToFront, LeavesAnUntouchedSourceAndABlankBufferUntouched) {
  const int32_t width = 640, height = 480, stride = 700;
  const size_t bytes = size_t(stride) * height * 4;
  auto* src = static_cast<uint32_t*>(
      mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  auto* dst = static_cast<uint32_t*>(
      mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(src, MAP_FAILED);
  ASSERT_NE(dst, MAP_FAILED);
  CopyToFront(src + 3, stride, dst + 3, stride, width, height, true);
  EXPECT_TRUE(PagesNeverTouched(src, bytes));
  EXPECT_TRUE(PagesNeverTouched(dst, bytes));

  // One pixel written far down: the copy reads the source and brings that pixel over.
  src[size_t(400) * stride + 10] = 0xFF123456u;
  CopyToFront(src + 3, stride, dst + 3, stride, width, height, true);
  EXPECT_EQ(dst[size_t(400) * stride + 10], 0x00123456u);
  EXPECT_EQ(dst[size_t(400) * stride + 11], 0u);
  munmap(src, bytes);
  munmap(dst, bytes);
}

struct StretchCase {
  const char* what;
  int32_t sx, sy, width, height;    // the source rectangle in a bitmap of kSrcW x kSrcH
  int32_t frontWidth, frontHeight;  // the buffer
  int32_t dx, dy, stretchWidth, stretchHeight;
};

constexpr int32_t kSrcW = 1200, kSrcH = 40;
constexpr uint32_t kUntouched = 0x5A5A5A5Au;

std::vector<uint32_t> Source() {
  std::vector<uint32_t> src(size_t{kSrcW} * kSrcH);
  // Every pixel names its place, with an alpha byte the copy has to drop.
  for (int32_t y = 0; y < kSrcH; ++y) {
    for (int32_t x = 0; x < kSrcW; ++x) src[y * kSrcW + x] = 0xC0000000u | uint32_t(y << 12 | x);
  }
  return src;
}

// What the buffer must hold, worked out pixel by pixel from the definition.
std::vector<uint32_t> Expected(const StretchCase& c, const std::vector<uint32_t>& src) {
  std::vector<uint32_t> want(size_t(c.frontWidth) * c.frontHeight, kUntouched);
  for (int64_t y = 0; y < c.frontHeight; ++y) {
    for (int64_t x = 0; x < c.frontWidth; ++x) {
      int64_t i = x - c.dx, j = y - c.dy;
      if (i < 0 || j < 0 || i >= c.stretchWidth || j >= c.stretchHeight) continue;
      int64_t srcX = c.sx + i * c.width / c.stretchWidth;
      int64_t srcY = c.sy + j * c.height / c.stretchHeight;
      want[y * c.frontWidth + x] = src[srcY * kSrcW + srcX] & 0x00FFFFFFu;
    }
  }
  return want;
}

void ExpectSameFront(const std::vector<uint32_t>& got, const std::vector<uint32_t>& want,
                     int32_t frontWidth, const char* what, const char* how) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t p = 0; p < got.size(); ++p) {
    ASSERT_EQ(got[p], want[p]) << what << " (" << how << ") at " << p % frontWidth << ","
                               << p / frontWidth;
  }
}

TEST(StretchToFront, TakesTheTruncatedSourcePixelWhereverItLands) {
  const StretchCase cases[] = {
      {"three times wider, 2.25 times taller", 0, 0, 64, 16, 192, 36, 0, 0, 192, 36},
      {"shrunk by an odd ratio", 5, 3, 97, 31, 40, 13, 0, 0, 40, 13},
      {"one pixel filling the buffer", 7, 9, 1, 1, 11, 6, 0, 0, 11, 6},
      {"the same size", 2, 1, 30, 20, 30, 20, 0, 0, 30, 20},
      {"placed inside", 1, 1, 9, 7, 50, 40, 13, 11, 23, 17},
      {"clipped on the left and top", 0, 0, 40, 30, 30, 20, -17, -9, 55, 38},
      {"clipped on the right and bottom", 3, 2, 21, 13, 30, 20, 12, 9, 61, 29},
      {"clipped on every side", 0, 0, 50, 37, 25, 15, -40, -30, 113, 91},
      {"wider than a band of the column table", 10, 0, 1000, 10, 4500, 3, -100, 0, 4700, 3},
      // A stretch far beyond the buffer costs only the buffer's pixels.
      {"huge and clipped", 0, 0, 1200, 40, 16, 8, -1000000, -2000000, 2147000000, 2147000000},
      {"wholly outside", 0, 0, 8, 8, 16, 8, 16, 0, 8, 8},
  };
  std::vector<uint32_t> src = Source();
  for (const StretchCase& c : cases) {
    std::vector<uint32_t> want = Expected(c, src);
    std::vector<uint32_t> got(want.size(), kUntouched);
    StretchToFront(src.data(), kSrcW, c.sx, c.sy, c.width, c.height, got.data(), c.frontWidth,
                   c.frontHeight, c.dx, c.dy, c.stretchWidth, c.stretchHeight);
    ExpectSameFront(got, want, c.frontWidth, c.what, "fast");
  }
}

// Seeded random placements and ratios, each checked pixel by pixel against the definition.
TEST(StretchToFront, RandomPlacementsTakeTheirDefinedPixels) {
  std::vector<uint32_t> src = Source();
  std::mt19937 random(6105);
  for (int run = 0; run < 300; ++run) {
    StretchCase c{"random"};
    c.width = 1 + random() % 60;
    c.height = 1 + random() % 30;
    c.sx = random() % (kSrcW - c.width + 1);
    c.sy = random() % (kSrcH - c.height + 1);
    c.frontWidth = 1 + random() % 90;
    c.frontHeight = 1 + random() % 50;
    c.stretchWidth = 1 + random() % 150;
    c.stretchHeight = 1 + random() % 90;
    c.dx = int32_t(random() % 120) - 60;
    c.dy = int32_t(random() % 80) - 40;
    std::vector<uint32_t> want = Expected(c, src);
    std::vector<uint32_t> fast(want.size(), kUntouched);
    StretchToFront(src.data(), kSrcW, c.sx, c.sy, c.width, c.height, fast.data(), c.frontWidth,
                   c.frontHeight, c.dx, c.dy, c.stretchWidth, c.stretchHeight);
    std::string how = "run " + std::to_string(run);
    ExpectSameFront(fast, want, c.frontWidth, c.what, how.c_str());
  }
}

}  // namespace
