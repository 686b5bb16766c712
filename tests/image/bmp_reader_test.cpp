#include "image/bmp_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "base/errors.h"

namespace qv {
namespace {

using Bytes = std::vector<uint8_t>;
using Pixels = std::vector<uint32_t>;

void Put32(Bytes* b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

struct BmpSpec {
  int32_t width = 1;
  int32_t height = 1;
  uint16_t bits = 24;
  uint32_t compression = 0;
  uint32_t headerSize = 40;
  uint32_t coloursUsed = 0;
  std::vector<uint32_t> palette;  // 0x00RRGGBB, written as B, G, R, 0
  Bytes pixelData;
};

Bytes MakeBmp(const BmpSpec& s) {
  // A header under 40 bytes still gets the fields written, then is cut to its size.
  Bytes b(14 + (s.headerSize < 40 ? 40 : s.headerSize), 0);
  b[0] = 'B';
  b[1] = 'M';
  Put32(&b, 14, s.headerSize);
  Put32(&b, 18, static_cast<uint32_t>(s.width));
  Put32(&b, 22, static_cast<uint32_t>(s.height));
  b[26] = 1;
  b[28] = static_cast<uint8_t>(s.bits);
  Put32(&b, 30, s.compression);
  Put32(&b, 46, s.coloursUsed);
  b.resize(14 + s.headerSize);
  for (uint32_t c : s.palette) {
    b.push_back(static_cast<uint8_t>(c));
    b.push_back(static_cast<uint8_t>(c >> 8));
    b.push_back(static_cast<uint8_t>(c >> 16));
    b.push_back(0);
  }
  Put32(&b, 10, static_cast<uint32_t>(b.size()));
  b.insert(b.end(), s.pixelData.begin(), s.pixelData.end());
  Put32(&b, 2, static_cast<uint32_t>(b.size()));
  return b;
}

int Load(const Bytes& file, int32_t* w, int32_t* h, Pixels* px) {
  return LoadBmp(file.data(), file.size(), w, h, px);
}

TEST(BmpReaderTest, TwentyFourBitPaddedRowsBottomUp) {
  BmpSpec s;
  s.width = 3;
  s.height = 2;
  // Bottom row first; 9 bytes of pixels and 3 of padding each.
  s.pixelData = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0xEE, 0xEE, 0xEE,
                 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0xEE, 0xEE, 0xEE};
  int32_t w = 0, h = 0;
  Pixels px;
  ASSERT_EQ(Load(MakeBmp(s), &w, &h, &px), 0);
  EXPECT_EQ(w, 3);
  EXPECT_EQ(h, 2);
  EXPECT_EQ(px, (Pixels{0x131211, 0x161514, 0x191817, 0x030201, 0x060504, 0x090807}));
}

TEST(BmpReaderTest, PenDepthsThroughThePalette) {
  struct Case {
    const char* name;
    uint16_t bits;
    int32_t width;
    Bytes row;
    Pixels want;
  };
  const Pixels pal = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};
  const Case cases[] = {
      {"1 bit msb first", 1, 10, {0b10110000, 0b01000000, 0, 0}, {1, 0, 1, 1, 0, 0, 0, 0, 0, 1}},
      {"4 bits high nibble first", 4, 3, {0x12, 0x30, 0, 0}, {1, 2, 3}},
      {"8 bits", 8, 5, {3, 2, 1, 0, 3, 0, 0, 0}, {3, 2, 1, 0, 3}},
  };
  for (const Case& c : cases) {
    BmpSpec s;
    s.bits = c.bits;
    s.width = c.width;
    s.palette = pal;
    s.coloursUsed = 4;
    s.pixelData = c.row;
    int32_t w = 0, h = 0;
    Pixels px;
    ASSERT_EQ(Load(MakeBmp(s), &w, &h, &px), 0) << c.name;
    Pixels want;
    for (uint32_t pen : c.want) want.push_back(pal[pen]);
    EXPECT_EQ(px, want) << c.name;
  }
}

TEST(BmpReaderTest, PaletteFollowsTheHeaderSizeAndColoursUsedIsCapped) {
  BmpSpec s;
  s.bits = 1;
  s.width = 2;
  s.headerSize = 124;    // the palette starts at 138, not 54
  s.coloursUsed = 1000;  // more than two entries cannot be meant
  s.palette = {0x102030, 0x405060};
  s.pixelData = {0b01000000, 0, 0, 0};
  int32_t w = 0, h = 0;
  Pixels px;
  ASSERT_EQ(Load(MakeBmp(s), &w, &h, &px), 0);
  EXPECT_EQ(px, (Pixels{0x102030, 0x405060}));
}

// A file cut short is refused: its missing part is not shown black. The 102-byte case is a header,
// twelve palette entries and no pixel data at all.
TEST(BmpReaderTest, CutDataIsRefused) {
  struct Case {
    const char* name;
    BmpSpec spec;
    size_t drop;  // bytes cut from the file's end
  };
  auto with = [](auto change) {
    BmpSpec s;
    change(&s);
    return s;
  };
  const Case cases[] = {
      {"no pixel data", with([](BmpSpec* s) {
         s->bits = 8, s->width = 4, s->height = 2, s->palette.assign(12, 0x0000AA);
       }),
       0},
      {"the top row missing", with([](BmpSpec* s) {
         s->bits = 8, s->width = 4, s->height = 2, s->palette = {0xAA, 0xBB00};
         s->pixelData = {1, 1, 1, 1};
       }),
       0},
      {"the last row short of its padding",
       with([](BmpSpec* s) { s->width = 2, s->height = 2, s->pixelData.assign(16, 7); }), 1},
      {"1 bit, one byte short", with([](BmpSpec* s) {
         s->bits = 1, s->width = 40, s->height = 3, s->palette = {0, 0xFFFFFF};
         s->pixelData.assign(24, 0x55);
       }),
       1},
      {"data offset past the end", with([](BmpSpec* s) {
         s->bits = 8, s->palette = {0, 0x111111}, s->pixelData.assign(4, 1);
       }),
       5},
      {"RLE8 ending before the picture does", with([](BmpSpec* s) {
         s->bits = 8, s->compression = 1, s->width = 2, s->height = 2, s->palette = {0, 0x111111};
         s->pixelData = {2, 1, 0, 0, 2, 1};
       }),
       0},
      {"RLE8 shorter than its image size", with([](BmpSpec* s) {
         s->bits = 8, s->compression = 1, s->width = 2, s->height = 2, s->palette = {0, 0x111111};
         s->pixelData = {2, 1, 0, 0, 2, 1, 0, 0, 0, 1};
       }),
       1},
  };
  for (const Case& c : cases) {
    Bytes file = MakeBmp(c.spec);
    if (c.spec.compression == 1) Put32(&file, 34, uint32_t(c.spec.pixelData.size()));
    file.resize(file.size() - c.drop);
    int32_t w = 0, h = 0;
    Pixels px;
    EXPECT_EQ(Load(file, &w, &h, &px), ERR_LOADPICTURE2) << c.name;
    EXPECT_TRUE(px.empty()) << c.name;
  }
  BmpSpec empty = cases[0].spec;
  EXPECT_EQ(MakeBmp(empty).size(), 102u);
  // The size alone needs no pixel data.
  int32_t w = 0, h = 0;
  EXPECT_EQ(Load(MakeBmp(empty), &w, &h, nullptr), 0);
  EXPECT_EQ(w, 4);
}

TEST(BmpReaderTest, RefusedHeaders) {
  struct Case {
    const char* name;
    BmpSpec spec;
    int want;
  };
  auto with = [](auto change) {
    BmpSpec s;
    s.pixelData = {0, 0, 0, 0};
    change(&s);
    return s;
  };
  const Case cases[] = {
      {"negative height", with([](BmpSpec* s) { s->height = -1; }), ERR_LOADPICTURE2},
      {"zero width", with([](BmpSpec* s) { s->width = 0; }), ERR_LOADPICTURE2},
      {"16 bits", with([](BmpSpec* s) { s->bits = 16; }), ERR_LOADPICTURE2},
      {"32 bits", with([](BmpSpec* s) { s->bits = 32; }), ERR_LOADPICTURE2},
      {"RLE8 at 24 bits", with([](BmpSpec* s) { s->compression = 1; }), ERR_LOADPICTURE2},
      {"RLE4", with([](BmpSpec* s) { s->bits = 4, s->compression = 2; }), ERR_LOADPICTURE2},
      {"core header", with([](BmpSpec* s) { s->headerSize = 12, s->pixelData.resize(64); }),
       ERR_LOADPICTURE2},
      {"too large", with([](BmpSpec* s) { s->width = 65536, s->height = 8193; }), ERR_MEM},
  };
  for (const Case& c : cases) {
    int32_t w = 0, h = 0;
    Pixels px;
    EXPECT_EQ(Load(MakeBmp(c.spec), &w, &h, &px), c.want) << c.name;
  }
  int32_t w = 0, h = 0;
  Pixels px;
  Bytes file = MakeBmp(BmpSpec{});
  file[0] = 'X';
  EXPECT_EQ(Load(file, &w, &h, &px), ERR_LOADPICTURE2);
  file = MakeBmp(BmpSpec{});
  file.resize(30);  // shorter than its header
  EXPECT_EQ(Load(file, &w, &h, &px), ERR_LOADPICTURE2);
}

// The size alone is read without pixel data, and for a picture above the limit too, as the other
// readers give it.
TEST(BmpReaderTest, InformationOnlyGivesTheSize) {
  for (int32_t height : {480, 600000}) {
    BmpSpec s;
    s.width = 640;
    s.height = height;  // no pixel data at all
    int32_t w = 0, h = 0;
    ASSERT_EQ(Load(MakeBmp(s), &w, &h, nullptr), 0);
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, height);
  }
}

// An RLE8 body too short to have coded its picture with runs is not taken at its word for a
// picture of pen 0 above 2^20 pixels; below that an early end of picture still loads.
TEST(BmpReaderTest, Rle8BodyMustJustifyALargePicture) {
  struct Case {
    int32_t width, height;
    size_t runs;  // two-byte runs of 255 pixels before the end-of-picture escape
    int want;
  } const cases[] = {
      {1024, 1024, 0, 0},  // 2^20 pixels: loads as pen 0
      {1025, 1024, 0, ERR_LOADPICTURE2},
      {23170, 23170, 0, ERR_LOADPICTURE2},
      {4096, 1024, 16383, 0},  // 4 Mi pixels in 32,768 bytes: 128 a byte
      {4096, 1024, 16382, ERR_LOADPICTURE2},
  };
  for (const Case& c : cases) {
    BmpSpec s;
    s.bits = 8;
    s.compression = 1;
    s.width = c.width;
    s.height = c.height;
    s.palette = {0x123456, 0xABCDEF};
    for (size_t i = 0; i < c.runs; ++i) s.pixelData.insert(s.pixelData.end(), {255, 1});
    s.pixelData.insert(s.pixelData.end(), {0, 1});
    int32_t w = 0, h = 0;
    Pixels px;
    EXPECT_EQ(Load(MakeBmp(s), &w, &h, &px), c.want) << c.width << "x" << c.height;
    if (c.want == 0) EXPECT_EQ(px.front(), 0x123456u);  // the top row, never coded
  }
}

TEST(BmpReaderTest, Rle8Cases) {
  struct Case {
    const char* name;
    Bytes data;
    Bytes want;  // 4 x 3 pens, bottom row first
    bool whole;  // the data ended the picture before it ran out
  };
  const Case cases[] = {
      {"runs and end of line",
       {2, 5, 0, 0, 4, 6, 0, 1},
       {5, 5, 0, 0, 6, 6, 6, 6, 0, 0, 0, 0},
       true},
      {"run cut at the row end", {9, 7, 0, 0, 1, 8}, {7, 7, 7, 7, 8, 0, 0, 0, 0, 0, 0, 0}, false},
      {"odd literal padded", {0, 3, 1, 2, 3, 0, 1, 9}, {1, 2, 3, 9, 0, 0, 0, 0, 0, 0, 0, 0}, false},
      {"literal cut at the row end keeps the stream",
       {1, 4, 0, 6, 1, 2, 3, 4, 5, 6, 0, 0, 1, 9, 0, 1},
       {4, 1, 2, 3, 9, 0, 0, 0, 0, 0, 0, 0},
       true},
      {"literal cut by the data's end",
       {0, 4, 1, 2, 3},
       {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       false},
      {"delta cut by the data's end", {0, 2, 1}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, false},
      {"delta right and up", {0, 2, 1, 1, 1, 3}, {0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0}, false},
      {"delta past the top ends",
       {1, 3, 0, 2, 0, 5, 1, 4},
       {3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       true},
      {"delta past the row ends", {0, 2, 9, 0, 1, 4}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, true},
      {"end of picture leaves the rest",
       {1, 3, 0, 1, 4, 4},
       {3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       true},
      {"every row ended without the escape",
       {4, 1, 0, 0, 4, 2, 0, 0, 4, 3, 0, 0},
       {1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3},
       true},
      {"lines past the top are ignored",
       {0, 0, 0, 0, 0, 0, 0, 0, 2, 7},
       {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       true},
  };
  for (const Case& c : cases) {
    Bytes pens(12, 0);
    EXPECT_EQ(DecodeBmpRle8(c.data.data(), c.data.size(), 4, 3, pens.data()), c.whole) << c.name;
    EXPECT_EQ(pens, c.want) << c.name;
  }
}

TEST(BmpReaderTest, Rle8ThroughTheReaderIsTopRowFirst) {
  BmpSpec s;
  s.bits = 8;
  s.compression = 1;
  s.width = 2;
  s.height = 2;
  s.palette = {0, 0x111111, 0x222222};
  s.pixelData = {2, 1, 0, 0, 2, 2, 0, 1};
  int32_t w = 0, h = 0;
  Pixels px;
  ASSERT_EQ(Load(MakeBmp(s), &w, &h, &px), 0);
  EXPECT_EQ(px, (Pixels{0x222222, 0x222222, 0x111111, 0x111111}));
}

}  // namespace
}  // namespace qv
