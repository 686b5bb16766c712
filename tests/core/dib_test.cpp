// The clipboard's picture format: rows written bottom up and padded, and a reader that checks
// every size in the header against the block before it reads a pixel.
#include "core/dib.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/clipboard.h"

namespace qv {
namespace {

void Put32(std::vector<uint8_t>* b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put16(std::vector<uint8_t>* b, size_t at, uint16_t v) {
  (*b)[at] = static_cast<uint8_t>(v);
  (*b)[at + 1] = static_cast<uint8_t>(v >> 8);
}

// A header of the given fields followed by `rowBytes` bytes of pixels.
std::vector<uint8_t> Header(int32_t w, int32_t h, uint16_t bits, size_t rowBytes,
                            uint32_t compression = 0, uint32_t colorsUsed = 0) {
  std::vector<uint8_t> b(kDibHeaderSize + rowBytes, 0);
  Put32(&b, 0, kDibHeaderSize);
  Put32(&b, 4, static_cast<uint32_t>(w));
  Put32(&b, 8, static_cast<uint32_t>(h));
  Put16(&b, 12, 1);
  Put16(&b, 14, bits);
  Put32(&b, 16, compression);
  Put32(&b, 32, colorsUsed);
  return b;
}

TEST(Dib, AThreeByTwoPictureHasTwelveByteRowsBottomUp) {
  const uint32_t argb[6] = {0xFF112233, 0x00445566, 0x80778899,   // top row
                            0xFFAABBCC, 0xFFDDEEFF, 0xFF010203};  // bottom row
  std::vector<uint8_t> dib = EncodeDib(argb, 3, 2, 3);
  ASSERT_EQ(dib.size(), kDibHeaderSize + 2 * 12);
  const uint8_t header[] = {40, 0, 0,  0, 3, 0, 0, 0, 2,  0, 0, 0,
                            1,  0, 24, 0, 0, 0, 0, 0, 24, 0, 0, 0};
  EXPECT_EQ(std::memcmp(dib.data(), header, sizeof header), 0);
  const uint8_t rows[] = {0xCC, 0xBB, 0xAA, 0xFF, 0xEE, 0xDD, 0x03, 0x02, 0x01, 0, 0, 0,
                          0x33, 0x22, 0x11, 0x66, 0x55, 0x44, 0x99, 0x88, 0x77, 0, 0, 0};
  EXPECT_EQ(std::memcmp(dib.data() + kDibHeaderSize, rows, sizeof rows), 0);

  int32_t w = 0, h = 0;
  std::vector<uint32_t> back;
  ASSERT_TRUE(DecodeDib(dib.data(), dib.size(), &w, &h, &back));
  EXPECT_EQ(w, 3);
  EXPECT_EQ(h, 2);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(back[i], argb[i] | 0xFF000000u) << i;  // opaque
}

TEST(Dib, ThirtyTwoBitRowsKeepAlphaAndTopDownRowsReadInOrder) {
  std::vector<uint8_t> dib = Header(1, -2, 32, 8);
  const uint8_t px[] = {1, 2, 3, 4, 5, 6, 7, 8};
  std::memcpy(dib.data() + kDibHeaderSize, px, 8);
  int32_t w = 0, h = 0;
  std::vector<uint32_t> out;
  ASSERT_TRUE(DecodeDib(dib.data(), dib.size(), &w, &h, &out));
  EXPECT_EQ(h, 2);
  EXPECT_EQ(out[0], 0x04030201u);
  EXPECT_EQ(out[1], 0x08070605u);
  // A colour table before the rows is skipped.
  std::vector<uint8_t> table = Header(1, 1, 24, 8 + 4, 0, 2);
  table[kDibHeaderSize + 8] = 0x10;
  ASSERT_TRUE(DecodeDib(table.data(), table.size(), &w, &h, &out));
  EXPECT_EQ(out[0], 0xFF000010u);
}

TEST(Dib, PicturesThatCannotBeReadAreRefusedBeforeAnyPixel) {
  struct Case {
    const char* what;
    std::vector<uint8_t> block;
  };
  std::vector<uint8_t> shortHeader = Header(1, 1, 24, 4);
  Put32(&shortHeader, 0, 12);
  std::vector<uint8_t> twoPlanes = Header(1, 1, 24, 4);
  Put16(&twoPlanes, 12, 2);
  Case cases[] = {
      {"16 bits", Header(2, 2, 16, 8)},
      {"8 bits", Header(2, 2, 8, 8 + 1024)},
      {"bit fields", Header(2, 2, 32, 16 + 12, 3)},
      {"no width", Header(0, 2, 24, 16)},
      {"negative width", Header(-2, 2, 24, 16)},
      {"no height", Header(2, 0, 24, 16)},
      {"smallest height", Header(2, INT32_MIN, 24, 16)},
      {"rows cut short", Header(3, 2, 24, 23)},
      {"huge sides, small block", Header(0x7FFFFFFF, 0x7FFFFFFF, 32, 16)},
      {"too many pixels", Header(1 << 15, 1 << 14, 24, 64)},
      {"colour table past the end", Header(1, 1, 24, 4, 0, 0x40000000)},
      {"old header size", shortHeader},
      {"two planes", twoPlanes},
      {"half a header", std::vector<uint8_t>(39, 0)},
  };
  for (const Case& c : cases) {
    int32_t w = -1, h = -1;
    std::vector<uint32_t> out;
    EXPECT_FALSE(CheckDib(c.block.data(), c.block.size())) << c.what;
    EXPECT_FALSE(DecodeDib(c.block.data(), c.block.size(), &w, &h, &out)) << c.what;
    EXPECT_TRUE(out.empty()) << c.what;
    EXPECT_EQ(w, -1) << c.what;
  }
  // Every cut of a good block is refused.
  const uint32_t px[4] = {1, 2, 3, 4};
  std::vector<uint8_t> good = EncodeDib(px, 2, 2, 2);
  for (size_t n = 0; n < good.size(); ++n) EXPECT_FALSE(CheckDib(good.data(), n)) << n;
  EXPECT_TRUE(CheckDib(good.data(), good.size()));
}

TEST(Dib, NothingIsWrittenForAnEmptyPicture) {
  const uint32_t px[1] = {0};
  EXPECT_TRUE(EncodeDib(px, 0, 1, 1).empty());
  EXPECT_TRUE(EncodeDib(px, 1, 0, 1).empty());
  EXPECT_TRUE(EncodeDib(nullptr, 1, 1, 1).empty());
  EXPECT_TRUE(EncodeDib(px, 2, 1, 1).empty());  // rows shorter than the width
}

TEST(Dib, AClipboardPictureThatCannotBeReadIsOfTheOtherKind) {
  const uint32_t px[6] = {1, 2, 3, 4, 5, 6};
  ASSERT_EQ(WriteClipboardPicture(EncodeDib(px, 3, 2, 3)), 0);
  EXPECT_EQ(ClipboardKind(), kClipboardPicture);
  ASSERT_EQ(WriteClipboardPicture(Header(2, 2, 16, 8)), 0);
  EXPECT_EQ(PeekClipboardType(), kClipboardPicture);
  EXPECT_EQ(ClipboardKind(), kClipboardOther);
  ASSERT_EQ(WriteClipboardText("words"), 0);
  EXPECT_EQ(ClipboardKind(), kClipboardText);
  ASSERT_EQ(ClearClipboardData(), 0);
  EXPECT_EQ(ClipboardKind(), kClipboardEmpty);
}

}  // namespace
}  // namespace qv
