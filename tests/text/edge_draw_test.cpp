// Styled runs drawn into a text block: the exact pixels and planes of bold, italic, underline,
// shadows, edges and colour-font runs, the dilation's separable form against its square of
// shifted copies, and layer borders.
#include "text/edge_draw.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "base/errors.h"
#include "image/image_fixture.h"

namespace qv {
namespace {

using testimage::AlphaAt;
using testimage::BitMapPtr;
using testimage::MaskBit;
using testimage::PlanePtr;
using testimage::Px;

constexpr uint32_t kText = 0x111111, kEdge = 0x222222, kShadow = 0x333333;

// A 1-bit shape plane from rows of "#" (set) and "." (clear).
struct ShapeFixture {
  std::vector<uint8_t> bytes;
  qvPlane plane{};
  int32_t width = 0;
  explicit ShapeFixture(const std::vector<std::string>& rows) {
    width = rows.empty() ? 0 : int32_t(rows[0].size());
    const int32_t bpr = MaskBytesPerRow(width);
    bytes.assign(size_t(bpr) * (rows.size() + 1), 0);
    for (size_t y = 0; y < rows.size(); ++y)
      for (size_t x = 0; x < rows[y].size(); ++x)
        if (rows[y][x] == '#') bytes[y * size_t(bpr) + x / 8] |= uint8_t(0x80 >> (x & 7));
    plane = MakeTempMask(bytes.data(), width, int32_t(rows.size()));
  }
};

// The block as letters: "." where the mask is clear, T, E, S for the text, edge and shadow
// colours where it is set, "?" for another colour and "!" for a pixel painted outside the mask.
std::vector<std::string> Picture(qvBitMap* bm, const qvPlane* mask) {
  std::vector<std::string> rows;
  for (int y = 0; y < bm->height; ++y) {
    std::string row;
    for (int x = 0; x < bm->width; ++x) {
      uint32_t p = Px(bm, x, y) & 0xFFFFFF;
      if (!MaskBit(mask, x, y)) {
        row += p ? '!' : '.';
        continue;
      }
      row += p == kText ? 'T' : p == kEdge ? 'E' : p == kShadow ? 'S' : '?';
    }
    rows.push_back(row);
  }
  return rows;
}

struct Block {
  BitMapPtr bitmap;
  PlanePtr mask, alpha;
  Block(int w, int h, bool withAlpha)
      : bitmap(AllocClearedBitMap(w, h)),
        mask(withAlpha ? nullptr : AllocMask(w, h, true)),
        alpha(withAlpha ? AllocAlphaChannel(w, h, true) : nullptr) {}
  qvTextBlock View() { return {bitmap.get(), mask.get(), alpha.get()}; }
};

qvTextSettings Style(int32_t flags) {
  qvTextSettings s;
  s.style = flags;
  s.colour = kText;
  s.edgeColour = kEdge;
  s.shadowColour = kShadow;
  s.edgeSize = 1;
  s.shadowSize = 2;
  s.shadowDirection = 3;
  return s;
}

struct RunCase {
  const char* name;
  int32_t flags;
  std::vector<std::string> shape;
  int32_t height, baseline, advance;
  int32_t x, y;
  int32_t edgeSize;
  std::vector<std::string> expected;  // 8 x 8
};

TEST(EdgeDraw, OneBitRunsGiveTheirExactPixelsAndMask) {
  const std::vector<RunCase> cases = {
      {"plain",
       kStyleNormal,
       {"#.", ".#", ".."},
       2,
       2,
       2,
       3,
       2,
       1,
       {"........", "........", "...T....", "....T...", "........", "........", "........",
        "........"}},
      {"bold smears one pixel right",
       kStyleBold,
       {"#.", ".#", ".."},
       2,
       2,
       2,
       3,
       2,
       1,
       {"........", "........", "...TT...", "....TT..", "........", "........", "........",
        "........"}},
      // Height 4, baseline 3: rows 0 and 1 lean one right, 2 and 3 stay, row 4 leans one left.
      {"italic shears by rows",
       kStyleItalic,
       {"#", "#", "#", "#", "#"},
       4,
       3,
       1,
       3,
       2,
       1,
       {"........", "........", "....T...", "....T...", "...T....", "...T....", "..T.....",
        "........"}},
      {"bold then italic",
       kStyleBold | kStyleItalic,
       {"#", "#", "#", "#", "#"},
       4,
       3,
       1,
       3,
       2,
       1,
       {"........", "........", "....TT..", "....TT..", "...TT...", "...TT...", "..TT....",
        "........"}},
      // One row below the baseline: the bar lies on the extra row (b + 1).
      {"underline one row below",
       kStyleUnderlined,
       {"."},
       4,
       3,
       3,
       3,
       2,
       1,
       {"........", "........", "........", "........", "........", "........", "...TTT..",
        "........"}},
      {"underline on the baseline row",
       kStyleUnderlined,
       {"."},
       3,
       3,
       3,
       3,
       2,
       1,
       {"........", "........", "........", "........", "........", "...TTT..", "........",
        "........"}},
      // Six rows below the baseline: two rows thick, starting two below it.
      {"underline two rows thick",
       kStyleUnderlined,
       {"."},
       7,
       1,
       4,
       2,
       0,
       1,
       {"........", "........", "........", "..TTTT..", "..TTTT..", "........", "........",
        "........"}},
      {"edge of 1 is a 3 x 3 block",
       kStyleEdge,
       {"#"},
       1,
       1,
       1,
       4,
       3,
       1,
       {"........", "........", "...EEE..", "...ETE..", "...EEE..", "........", "........",
        "........"}},
      {"edge of 2 around two pixels",
       kStyleEdge,
       {"#.#"},
       1,
       1,
       3,
       2,
       3,
       2,
       {"........", "EEEEEEE.", "EEEEEEE.", "EETETEE.", "EEEEEEE.", "EEEEEEE.", "........",
        "........"}},
      // The edged shadow is drawn first, the edge over it, the text last.
      {"shadow south-east with edge",
       kStyleShadow | kStyleEdge,
       {"#"},
       1,
       1,
       1,
       2,
       2,
       1,
       {"........", ".EEE....", ".ETE....", ".EEESS..", "...SSS..", "...SSS..", "........",
        "........"}},
      // An origin at x 0 leaves out the offsets that would start left of the block.
      {"edge offsets left of the block are skipped",
       kStyleEdge,
       {"..#"},
       1,
       1,
       3,
       0,
       3,
       2,
       {"........", "..EEE...", "..EEE...", "..TEE...", "..EEE...", "..EEE...", "........",
        "........"}},
  };
  for (const RunCase& c : cases) {
    SCOPED_TRACE(c.name);
    ShapeFixture shape(c.shape);
    qvRunShape run;
    run.shape = &shape.plane;
    run.width = shape.width;
    run.height = c.height;
    run.baseline = c.baseline;
    run.advance = c.advance;
    qvTextSettings style = Style(c.flags);
    style.edgeSize = c.edgeSize;
    Block block(8, 8, false);
    ASSERT_EQ(EdgeDraw(block.View(), c.x, c.y, style, run), 0);
    EXPECT_EQ(Picture(block.bitmap.get(), block.mask.get()), c.expected);
  }
}

TEST(EdgeDraw, ShadowDirectionsOffsetTheShape) {
  struct Row {
    int32_t direction, dx, dy;
  };
  const Row rows[] = {{0, 0, -2}, {1, 2, -2}, {2, 2, 0},   {3, 2, 2}, {4, 0, 2},
                      {5, -2, 2}, {6, -2, 0}, {7, -2, -2}, {8, 2, 2}, {-1, 2, 2}};
  ShapeFixture shape({"#"});
  qvRunShape run;
  run.shape = &shape.plane;
  run.width = 1;
  run.height = 1;
  run.baseline = 1;
  run.advance = 1;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.direction);
    qvTextSettings style = Style(kStyleShadow);
    style.shadowDirection = r.direction;
    Block block(8, 8, false);
    ASSERT_EQ(EdgeDraw(block.View(), 4, 4, style, run), 0);
    std::vector<std::string> pic = Picture(block.bitmap.get(), block.mask.get());
    EXPECT_EQ(pic[size_t(4 + r.dy)][size_t(4 + r.dx)], 'S');
    EXPECT_EQ(pic[4][4], 'T');
    int inked = 0;
    for (const std::string& row : pic)
      for (char ch : row) inked += ch != '.';
    EXPECT_EQ(inked, 2);
  }
}

TEST(EdgeDraw, TransparentColoursCompositeIntoTheAlphaPlane) {
  ShapeFixture shape({"#."});
  qvRunShape run;
  run.shape = &shape.plane;
  run.width = 2;
  run.height = 1;
  run.baseline = 1;
  run.advance = 2;
  qvTextSettings style = Style(kStyleShadow);
  style.colour = 0x80000000u | kText;  // drawn at 127
  style.shadowDirection = 2;           // two to the right
  Block block(8, 4, true);
  ASSERT_EQ(EdgeDraw(block.View(), 1, 1, style, run), 0);
  qvPlane* a = block.alpha.get();
  EXPECT_EQ(AlphaAt(a, 1, 1), 127);
  EXPECT_EQ(Px(block.bitmap.get(), 1, 1) & 0xFFFFFF, kText);
  EXPECT_EQ(AlphaAt(a, 3, 1), 255);  // the opaque shadow
  EXPECT_EQ(Px(block.bitmap.get(), 3, 1) & 0xFFFFFF, kShadow);
  EXPECT_EQ(AlphaAt(a, 2, 1), 0);
  // Half-transparent text over an opaque shadow leaves the pixel opaque.
  style.shadowDirection = 0;
  style.shadowSize = 1;
  Block stacked(4, 4, true);
  ShapeFixture tall({"#", "#"});
  run.shape = &tall.plane;
  run.width = 1;
  run.height = 2;
  run.baseline = 2;
  ASSERT_EQ(EdgeDraw(stacked.View(), 1, 1, style, run), 0);
  EXPECT_EQ(AlphaAt(stacked.alpha.get(), 1, 0), 255);  // shadow only
  // Text at 127 over the opaque shadow: opaque, the colours mixed 127 : 128 (0x11 and 0x33 give
  // 0x22 in each channel).
  EXPECT_EQ(AlphaAt(stacked.alpha.get(), 1, 1), 255);
  EXPECT_EQ(Px(stacked.bitmap.get(), 1, 1) & 0xFFFFFF, 0x222222u);
  EXPECT_EQ(AlphaAt(stacked.alpha.get(), 1, 2), 127);  // text only
}

TEST(EdgeDraw, CoverageEdgesDivideTheSumByTheSide) {
  // One full cell with an edge of 1: each of the 3 x 3 sums is 255, divided by 3.
  std::vector<uint8_t> cells(8, 0);
  cells[0] = 255;
  qvPlane plane = MakeTempPlane(cells.data(), 4);
  qvRunShape run;
  run.shape = &plane;
  run.coverage = true;
  run.width = 1;
  run.height = 1;
  run.baseline = 1;
  run.advance = 1;
  qvTextSettings style = Style(kStyleEdge | kStyleBold | kStyleItalic);  // no software bold or lean
  Block block(5, 5, true);
  ASSERT_EQ(EdgeDraw(block.View(), 2, 2, style, run), 0);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) {
      SCOPED_TRACE(testing::Message() << x << "," << y);
      bool ring = x >= 1 && x <= 3 && y >= 1 && y <= 3;
      int want = (x == 2 && y == 2) ? 255 : ring ? 85 : 0;
      EXPECT_EQ(AlphaAt(block.alpha.get(), x, y), want);
      if (ring) {
        EXPECT_EQ(Px(block.bitmap.get(), x, y) & 0xFFFFFF, (x == 2 && y == 2) ? kText : kEdge);
      }
    }
}

TEST(EdgeDraw, EdgeSumsDoNotWrapAtLargeSizes) {
  // A 20 x 20 patch of coverage 230 at e = 8: the inner sums are 289 x 230 = 66470, which a
  // 16-bit accumulator wraps to 934 (934 / 17 = 54); the true sum clamps to 255.
  std::vector<uint8_t> patch(20 * 20, 230);
  std::vector<uint8_t> grown;
  DilateSum(patch.data(), 20, 20, 8, -8, -8, &grown);
  const int32_t gw = 20 + 16;
  EXPECT_EQ(grown[size_t(18 * gw + 18)], 255);
  // At the grown grid's corner only one cell of the patch counts: 230 / 17.
  EXPECT_EQ(grown[0], 230 / 17);

  // The same through a run: the block's alpha inside the patch's edge stays full.
  std::vector<uint8_t> cells(size_t(20) * 21, 230);
  qvPlane plane = MakeTempPlane(cells.data(), 20);
  qvRunShape run;
  run.shape = &plane;
  run.coverage = true;
  run.width = 20;
  run.height = 19;
  run.baseline = 19;
  qvTextSettings style = Style(kStyleEdge);
  style.edgeSize = 8;
  style.colour = 0xFF000000u;  // the text itself draws nothing: only the edge shows
  Block block(40, 40, true);
  ASSERT_EQ(EdgeDraw(block.View(), 9, 9, style, run), 0);
  EXPECT_EQ(AlphaAt(block.alpha.get(), 18, 18), 255);
  EXPECT_EQ(Px(block.bitmap.get(), 18, 18) & 0xFFFFFF, kEdge);
}

TEST(EdgeDraw, ColourFontRunsKeepTheirColoursAndGetNoShadowEdgeOrBold) {
  ShapeFixture shape({"##", "..", ".."});
  BitMapPtr glyphs(AllocClearedBitMap(2, 3));
  Px(glyphs.get(), 0, 0) = 0xFF0000;
  Px(glyphs.get(), 1, 0) = 0x00FF00;
  qvRunShape run;
  run.shape = &shape.plane;
  run.colourGlyphs = glyphs.get();
  run.width = 2;
  run.height = 2;
  run.baseline = 1;
  run.advance = 3;
  qvTextSettings style = Style(kStyleShadow | kStyleEdge | kStyleBold | kStyleUnderlined);
  Block block(6, 5, false);
  ASSERT_EQ(EdgeDraw(block.View(), 1, 1, style, run), 0);
  // Glyph pixels in their own colours, the underline (one row below the baseline) in the text
  // colour, nothing else.
  EXPECT_EQ(Px(block.bitmap.get(), 1, 1) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(Px(block.bitmap.get(), 2, 1) & 0xFFFFFF, 0x00FF00u);
  std::vector<std::string> pic = Picture(block.bitmap.get(), block.mask.get());
  EXPECT_EQ(pic, (std::vector<std::string>{"......", ".??...", "......", ".TTT..", "......"}));
}

TEST(Dilation, SeparableFormGivesTheSquaresBytes) {
  std::mt19937 rng(1234);
  for (int32_t e : {1, 2, 3, 7, 8, 9, 16}) {
    for (int trial = 0; trial < 12; ++trial) {
      const int32_t w = 1 + int32_t(rng() % 20), h = 1 + int32_t(rng() % 20);
      std::vector<uint8_t> src(size_t(w) * h);
      for (uint8_t& v : src) v = (rng() % 3 == 0) ? 0 : uint8_t(rng());
      // Mostly the whole square; sometimes cut on the left or the top, or wholly.
      int32_t iFrom = -e, jFrom = -e;
      if (trial % 3 == 1) iFrom = -e + int32_t(rng() % uint32_t(2 * e + 2));
      if (trial % 4 == 2) jFrom = -e + int32_t(rng() % uint32_t(2 * e + 2));
      SCOPED_TRACE(testing::Message()
                   << "e " << e << " size " << w << "x" << h << " from " << iFrom << "," << jFrom);
      std::vector<uint8_t> fast, square;
      DilateOr(src.data(), w, h, e, iFrom, jFrom, &fast);
      DilateOrSquare(src.data(), w, h, e, iFrom, jFrom, &square);
      EXPECT_EQ(fast, square);
      DilateSum(src.data(), w, h, e, iFrom, jFrom, &fast);
      DilateSumSquare(src.data(), w, h, e, iFrom, jFrom, &square);
      EXPECT_EQ(fast, square);
    }
  }
}

TEST(MakeLayerEdge, GrowsTheShapeByItsSizeInEachPlaneKind) {
  const uint32_t colour = 0x80123456;
  BitMapPtr object(AllocClearedBitMap(2, 1));
  {  // A mask: OR over the offsets 0..2s, the colour drawn through it.
    PlanePtr mask(AllocMask(2, 1, true));
    mask->data[0] = 0x80;  // "#."
    qvLayerEdge edge;
    ASSERT_EQ(MakeLayerEdge(object.get(), mask.get(), nullptr, 2, 1, colour, 1, &edge), 0);
    EXPECT_EQ(edge.width, 5);
    EXPECT_EQ(edge.height, 4);
    EXPECT_EQ(edge.xOffset, 1);
    EXPECT_EQ(edge.yOffset, 1);
    ASSERT_NE(edge.mask, nullptr);
    EXPECT_EQ(edge.alpha, nullptr);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 5; ++x) {
        bool in = x <= 2 && y <= 2;
        EXPECT_EQ(MaskBit(edge.mask, x, y), in) << x << "," << y;
        EXPECT_EQ(Px(edge.bitmap, x, y) & 0xFFFFFF, in ? 0x123456u : 0u) << x << "," << y;
      }
    FreeLayerEdge(&edge);
  }
  {  // An alpha plane: the sum over the offsets divided by 2s + 1.
    PlanePtr alpha(AllocAlphaChannel(2, 1, true));
    AlphaAt(alpha.get(), 0, 0) = 200;
    AlphaAt(alpha.get(), 1, 0) = 90;
    qvLayerEdge edge;
    ASSERT_EQ(MakeLayerEdge(object.get(), nullptr, alpha.get(), 2, 1, colour, 1, &edge), 0);
    ASSERT_NE(edge.alpha, nullptr);
    EXPECT_EQ(edge.mask, nullptr);
    const int row[5] = {200 / 3, 290 / 3, 290 / 3, 90 / 3, 0};
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 5; ++x)
        EXPECT_EQ(AlphaAt(edge.alpha, x, y), y <= 2 ? row[x] : 0) << x << "," << y;
    FreeLayerEdge(&edge);
  }
  {  // Neither: the whole picture is the colour.
    qvLayerEdge edge;
    ASSERT_EQ(MakeLayerEdge(object.get(), nullptr, nullptr, 2, 1, colour, 2, &edge), 0);
    EXPECT_EQ(edge.mask, nullptr);
    EXPECT_EQ(edge.alpha, nullptr);
    EXPECT_EQ(edge.width, 7);
    EXPECT_EQ(Px(edge.bitmap, 6, 5) & 0xFFFFFF, 0x123456u);
    FreeLayerEdge(&edge);
  }
}

TEST(MakeLayerEdge, LargeBordersKeepTheirFullSums) {
  // 17 x 17 alpha of 230 at s = 8: the centre's sum 289 x 230 wraps in 16 bits (to 934, giving
  // 54); in 32 bits it is 66470 / 17, clamped to 255.
  BitMapPtr object(AllocClearedBitMap(17, 17));
  PlanePtr alpha(AllocAlphaChannel(17, 17, true));
  for (int y = 0; y < 17; ++y)
    for (int x = 0; x < 17; ++x) AlphaAt(alpha.get(), x, y) = 230;
  qvLayerEdge edge;
  ASSERT_EQ(MakeLayerEdge(object.get(), nullptr, alpha.get(), 17, 17, 0xFF, 8, &edge), 0);
  EXPECT_EQ(edge.width, 34);
  EXPECT_EQ(AlphaAt(edge.alpha, 16, 16), 255);
  EXPECT_EQ(AlphaAt(edge.alpha, 0, 0), 230 / 17);
  FreeLayerEdge(&edge);
  // The largest size, 64, over a full object.
  qvLayerEdge big;
  ASSERT_EQ(MakeLayerEdge(object.get(), nullptr, alpha.get(), 17, 17, 0xFF, 64, &big), 0);
  EXPECT_EQ(big.width, 17 + 129);
  EXPECT_EQ(AlphaAt(big.alpha, 72, 72), 255);
  FreeLayerEdge(&big);
}

}  // namespace
}  // namespace qv
