// Bitmaps, planes, single pixels, ARGB arrays and the checked blit entry points.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/errors.h"
#include "image/image.h"
#include "image_fixture.h"

using namespace qv;
using qv::testimage::BitMapPtr;
using qv::testimage::MaskBit;
using qv::testimage::PlanePtr;
using qv::testimage::Px;

TEST(BitMap, RowsKeepFourSparePixelsAndOneSpareRow) {
  struct Case {
    int w, h, pixelsPerRow;
  } cases[] = {{1, 1, 4}, {3, 2, 4}, {4, 1, 8}, {7, 1, 8}, {8, 3, 12}, {0, 0, 4}};
  for (auto c : cases) {
    BitMapPtr b(AllocBitMap(c.w, c.h));
    ASSERT_TRUE(b) << c.w;
    EXPECT_EQ(BitMapPixelsPerRow(b.get()), c.pixelsPerRow) << c.w;
    EXPECT_EQ(b->bytesPerRow, c.pixelsPerRow * 4) << c.w;
    EXPECT_EQ(BitMapDepth(b.get()), 32);
    EXPECT_EQ(b->format, kPixARGB32);
    // The spare row and columns are real memory: touching them is clean under asan.
    std::memset(b->pixels, 0xAB, size_t(b->bytesPerRow) * (c.h + 1));
  }
}

TEST(BitMap, PlaneStrides) {
  PlanePtr m8(AllocMask(8, 2, true)), m7(AllocMask(7, 1, true)), m16(AllocMask(16, 1, true));
  PlanePtr a5(AllocAlphaChannel(5, 1, true)), a8(AllocAlphaChannel(8, 1, true));
  EXPECT_EQ(m8->bytesPerRow, 2);
  EXPECT_EQ(m7->bytesPerRow, 1);
  EXPECT_EQ(m16->bytesPerRow, 3);
  EXPECT_EQ(a5->bytesPerRow, 8);
  EXPECT_EQ(a8->bytesPerRow, 8);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(m8->data[i], 0);
}

TEST(BitMap, BadSizesGiveNull) {
  EXPECT_EQ(AllocBitMap(-1, 4), nullptr);
  EXPECT_EQ(AllocBitMap(4, -1), nullptr);
  EXPECT_EQ(AllocBitMap(1 << 29, 1), nullptr);  // a row alone is over 2^31 bytes
  EXPECT_EQ(AllocBitMap(65536, 32768), nullptr);
  EXPECT_EQ(AllocMask(-8, 1, false), nullptr);
  EXPECT_EQ(AllocAlphaChannel(65536, 65537, false), nullptr);
  EXPECT_EQ(AllocAlphaChannel(INT32_MAX, 1, false), nullptr);
  FreeBitMap(nullptr);
  FreeMaskOrAlpha(nullptr);
}

TEST(BitMap, WrappedPlanesAreForeign) {
  uint8_t buffer[64] = {};
  qvPlane* p = WrapPlaneBuffer(buffer, 10, 4, 2);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->foreign, 1);
  EXPECT_EQ(p->width, 10);
  FreeMaskOrAlpha(p);  // must not free the stack buffer
  p = WrapPlaneRows(buffer, 8);
  EXPECT_EQ(p->width, 0);
  EXPECT_EQ(p->height, 0);
  EXPECT_EQ(p->bytesPerRow, 8);
  FreeMaskOrAlpha(p);
  qvPlane* own = AllocMask(16, 2, true);
  SetPlaneBuffer(own, buffer, 3);  // frees its own data, takes the caller's
  EXPECT_EQ(own->data, buffer);
  EXPECT_EQ(own->foreign, 1);
  FreeMaskOrAlpha(own);
  qvPlane t = MakeTempMask(buffer, 13, 2);
  EXPECT_EQ(t.bytesPerRow, 2);
  EXPECT_EQ(t.foreign, 1);
  qvPlane q = MakeTempPlane(buffer, 12);
  EXPECT_EQ(q.bytesPerRow, 12);
  EXPECT_EQ(q.width, 0);
}

TEST(BitMap, LockView) {
  BitMapPtr b(AllocBitMap(5, 3));
  qvBitMapLock lock;
  ASSERT_TRUE(LockBitMap(b.get(), &lock));
  EXPECT_EQ(lock.valid, 1);
  EXPECT_EQ(lock.pixels, b->pixels);
  EXPECT_EQ(lock.pixelsPerRow, 8);
  EXPECT_EQ(lock.width, 5);
  EXPECT_EQ(lock.height, 3);
  EXPECT_EQ(lock.bytesPerPixel, 4);
  UnLockBitMap(&lock);
  EXPECT_FALSE(LockBitMap(nullptr, &lock));
  EXPECT_EQ(lock.valid, 0);
}

TEST(BitMap, AttributesByCode) {
  BitMapPtr b(AllocBitMap(13, 6));
  struct Case {
    int32_t code, want;
  } cases[] = {{kBmaWidth, 13},
               {kBmaWidth3, 13},
               {kBmaWidth4, 13},
               {kBmaBytesPerRow, 64},
               {kBmaBytesPerRow2, 64},
               {kBmaMaskBytesPerRow, 2},
               {kBmaPixelsPerRow, 16},
               {kBmaHeight, 6},
               {kBmaDepth, 32},
               {kBmaRecord, 0},
               {99, 0}};
  for (auto c : cases) EXPECT_EQ(GetBitMapAttr(b.get(), c.code), c.want) << c.code;
  EXPECT_EQ(GetBitMapAttr(nullptr, kBmaWidth), 0);
}

// A hand-made bitmap of another format over caller memory.
struct ForeignBitMap {
  std::vector<uint8_t> bytes;
  qvBitMap bm{};
  ForeignBitMap(int32_t format, int32_t bpp, int w, int h) : bytes(size_t(w + 4) * bpp * (h + 1)) {
    bm.width = w, bm.height = h, bm.pixels = bytes.data(), bm.bytesPerRow = (w + 4) * bpp;
    bm.bytesPerPixel = bpp, bm.format = format;
  }
};

TEST(BitMap, PixelReadByFormat) {
  struct Case {
    int32_t format;
    int bpp;
    uint32_t stored;
    uint32_t want;
  } cases[] = {
      {kPixRGB565, 2, 0xFFFF, 0x00F8FCF8},     {kPixRGB565, 2, 0xF800, 0x00F80000},
      {kPixARGB32, 4, 0x80123456, 0x00123456},  // alpha dropped
      {kPixBGRx32, 4, 0x563412FF, 0x00123456}, {kPixRGBx32, 4, 0x123456FF, 0x00123456},
      {kPixxBGR32, 4, 0xFF563412, 0x00123456}, {kPixRGB24, 3, 0x123456, 0},  // no reader
  };
  for (auto c : cases) {
    ForeignBitMap f(c.format, c.bpp, 2, 2);
    std::memcpy(f.bytes.data() + f.bm.bytesPerRow + c.bpp, &c.stored, size_t(c.bpp));
    EXPECT_EQ(ReadBitMapPixel(&f.bm, 1, 1), c.want) << c.format;
  }
}

TEST(BitMap, PixelWriteByFormat) {
  struct Case {
    int32_t format;
    int bpp;
    uint32_t want;
  } cases[] = {{kPixRGB565, 2, 0x11AA},     {kPixARGB32, 4, 0x00123456},
               {kPixBGRx32, 4, 0x56341200}, {kPixRGBx32, 4, 0x12345600},
               {kPixxBGR32, 4, 0x00563412}, {kPixRGB24, 3, 0xEEEEEE}};
  for (auto c : cases) {
    ForeignBitMap f(c.format, c.bpp, 2, 2);
    std::memset(f.bytes.data(), 0xEE, f.bytes.size());
    WriteBitMapPixel(&f.bm, 1, 0, 0x123456);
    uint32_t got = 0;
    std::memcpy(&got, f.bytes.data() + c.bpp, size_t(c.bpp));
    EXPECT_EQ(got, c.want) << c.format;
  }
}

TEST(BitMap, ARGBReadKeepsAlphaAndPointsOutsideAreIgnored) {
  BitMapPtr b(AllocBitMap(3, 2));
  Px(b.get(), 2, 1) = 0x80ABCDEF;
  EXPECT_EQ(ReadBitMapPixel(b.get(), 2, 1), 0x00ABCDEFu);
  std::unique_ptr<uint32_t, decltype(&std::free)> argb(ReadBitMapARGB(b.get(), 3, 2), &std::free);
  ASSERT_TRUE(argb);
  EXPECT_EQ(argb.get()[5], 0x80ABCDEFu);
  EXPECT_EQ(ReadBitMapARGB(b.get(), 4, 2), nullptr);
  EXPECT_EQ(ReadBitMapARGB(b.get(), -1, 2), nullptr);
  EXPECT_EQ(ReadBitMapARGB(nullptr, 1, 1), nullptr);

  uint32_t before = Px(b.get(), 0, 0);
  for (auto [x, y] : {std::pair{-1, 0}, {3, 0}, {0, 2}, {0, -1}, {INT32_MIN, INT32_MAX}}) {
    WriteBitMapPixel(b.get(), x, y, 0xFFFFFF);
    EXPECT_EQ(ReadBitMapPixel(b.get(), x, y), 0u);
  }
  EXPECT_EQ(Px(b.get(), 0, 0), before);
}

TEST(BitMap, MaskPixelModes) {
  struct Case {
    int32_t mode;
    bool from0, from1;
  } cases[] = {{0, 1, 1}, {1, 0, 0}, {2, 1, 1}, {3, 1, 0}, {4, 0, 1}, {5, 1, 1}, {9, 0, 1}};
  for (auto c : cases) {
    PlanePtr m(AllocMask(10, 2, true));
    WriteBitMapPixel(m.get(), 9, 1, c.mode);
    EXPECT_EQ(ReadBitMapPixel(m.get(), 9, 1), uint32_t(c.from0)) << c.mode;
    WriteBitMapPixel(m.get(), 3, 0, 0);
    WriteBitMapPixel(m.get(), 3, 0, c.mode);
    EXPECT_EQ(ReadBitMapPixel(m.get(), 3, 0), uint32_t(c.from1)) << c.mode;
  }
  PlanePtr m(AllocMask(10, 2, true));
  WriteBitMapPixel(m.get(), 10, 0, 0);  // outside: the spare bits stay clear
  EXPECT_EQ(m->data[1], 0);
}

TEST(BitMap, FromARGBWithStrideAndColourKey) {
  // 3 x 2 out of rows of 4 words; key 0x00FF00 ignores the alpha byte.
  const uint32_t argb[] = {0xFF00FF00, 0x11223344, 0x0000FF00, 0xDEADBEEF,
                           0x12345678, 0xAA00FF00, 0x00000000, 0xDEADBEEF};
  qvBitMap* bm = nullptr;
  qvPlane* mask = nullptr;
  ASSERT_EQ(AllocBitMapFromARGB(argb, 0x00FF00, 3, 2, 4, &bm, &mask), 0);
  BitMapPtr b(bm);
  PlanePtr m(mask);
  EXPECT_EQ(Px(b.get(), 1, 0), 0x11223344u);
  EXPECT_EQ(Px(b.get(), 0, 1), 0x12345678u);
  const bool want[2][3] = {{0, 1, 0}, {1, 0, 1}};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(MaskBit(m.get(), x, y), want[y][x]) << x << "," << y;

  qvBitMap* plain = nullptr;
  qvPlane* noMask = nullptr;
  ASSERT_EQ(AllocBitMapFromARGB(argb, -1, 2, 2, 4, &plain, &noMask), 0);
  EXPECT_EQ(noMask, nullptr);
  FreeBitMap(plain);
  qvBitMap* bad = nullptr;
  EXPECT_EQ(AllocBitMapFromARGB(argb, -1, -2, 2, 4, &bad, nullptr), ERR_MEM);
  EXPECT_EQ(bad, nullptr);
}

TEST(Blit, NullDestinationPrintsTheEntryPoint) {
  BitMapPtr src(AllocBitMap(4, 4));
  PlanePtr mask(AllocMask(4, 4, true));
  struct Case {
    std::string want;
    void (*call)(const qvBitMap*, const qvPlane*);
  } cases[] = {
      {"ERROR! BLTBITMAP() CALLED WITH DST=NULL!\n",
       [](const qvBitMap* s, const qvPlane*) { BltBitMap(s, 0, 0, nullptr, 0, 0, 1, 1); }},
      {"ERROR! BLTMASK() CALLED WITH DST=NULL!\n",
       [](const qvBitMap* s, const qvPlane* m) { BltMaskBitMap(s, 0, 0, nullptr, 0, 0, 1, 1, m); }},
      {"ERROR! BLTTEMPLATE() CALLED WITH DST=NULL!\n",
       [](const qvBitMap*, const qvPlane* m) { BltTemplate(m, 0, 0, nullptr, 0, 0, 1, 1, 0); }},
  };
  for (auto& c : cases) {
    testing::internal::CaptureStdout();
    c.call(src.get(), mask.get());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.want);
  }
}

TEST(Blit, RectanglesAreClippedToBothSides) {
  struct Case {
    int sx, sy, dx, dy, w, h;
  } cases[] = {{0, 0, 0, 0, 8, 8},
               {-3, -2, 0, 0, 8, 8},
               {0, 0, -3, -2, 8, 8},
               {5, 5, 0, 0, 8, 8},
               {0, 0, 5, 5, 8, 8},
               {-100, 0, 0, 0, 200, 3},
               {0, 0, 0, 0, INT32_MAX, INT32_MAX},
               {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, INT32_MAX, 2},
               {2, 2, 2, 2, -5, 3},
               {9, 0, 0, 0, 2, 2},
               {0, 0, 7, 6, 4, 4}};
  for (auto c : cases) {
    BitMapPtr src(testimage::Pattern(6, 5, 1));
    BitMapPtr dst(testimage::Pattern(7, 6, 2));
    BitMapPtr want(testimage::Pattern(7, 6, 2));
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 7; ++x) {
        int64_t sx = int64_t(x) - c.dx + c.sx, sy = int64_t(y) - c.dy + c.sy;
        bool in = x >= c.dx && y >= c.dy && int64_t(x) < int64_t(c.dx) + c.w &&
                  int64_t(y) < int64_t(c.dy) + c.h && sx >= 0 && sy >= 0 && sx < 6 && sy < 5;
        if (in) Px(want.get(), x, y) = Px(src.get(), int(sx), int(sy));
      }
    BltBitMap(src.get(), c.sx, c.sy, dst.get(), c.dx, c.dy, c.w, c.h);
    EXPECT_TRUE(testimage::SamePixels(dst.get(), want.get())) << c.sx << " " << c.dx << " " << c.w;

    PlanePtr mask(AllocMask(6, 5, false));
    std::memset(mask->data, 0xA5, size_t(mask->bytesPerRow) * 5);
    BitMapPtr dst2(testimage::Pattern(7, 6, 2));
    BltMaskBitMap(src.get(), c.sx, c.sy, dst2.get(), c.dx, c.dy, c.w, c.h, mask.get());
    BltTemplate(mask.get(), c.sx, c.sy, dst2.get(), c.dx, c.dy, c.w, c.h, 0x123456);
    FillBitMapRect(dst2.get(), c.dx, c.dy, c.w, c.h, 0x654321);
  }
}

TEST(Blit, MaskBlitFromMidByteColumn) {
  // Source column 13 is bit 2 of byte 1: only columns whose bit is set arrive.
  BitMapPtr src(testimage::Pattern(24, 2, 7));
  BitMapPtr dst(testimage::Pattern(10, 2, 8));
  BitMapPtr before(testimage::Pattern(10, 2, 8));
  PlanePtr mask(AllocMask(24, 2, true));
  mask->data[1] = 0x24;  // columns 10 and 13
  mask->data[2] = 0x80;  // column 16
  BltMaskBitMap(src.get(), 13, 0, dst.get(), 0, 0, 8, 2, mask.get());
  for (int x = 0; x < 8; ++x) {
    bool on = x == 0 || x == 3;
    EXPECT_EQ(Px(dst.get(), x, 0), on ? Px(src.get(), 13 + x, 0) : Px(before.get(), x, 0)) << x;
    EXPECT_EQ(Px(dst.get(), x, 1), Px(before.get(), x, 1)) << x;
  }
}

TEST(Blit, TemplateAndFillConvertTheColour) {
  BitMapPtr dst(AllocBitMap(9, 2));
  FillBitMapRect(dst.get(), 0, 0, 9, 2, 0x00ABCDEF);
  EXPECT_EQ(Px(dst.get(), 8, 1), 0x00ABCDEFu);
  uint8_t bits[2 * 2] = {0x81, 0x80, 0x00, 0x00};
  qvPlane t = MakeTempMask(bits, 9, 2);
  BltTemplate(&t, 0, 0, dst.get(), 0, 0, 9, 2, 0x112233);
  EXPECT_EQ(Px(dst.get(), 0, 0), 0x112233u);
  EXPECT_EQ(Px(dst.get(), 7, 0), 0x112233u);
  EXPECT_EQ(Px(dst.get(), 8, 0), 0x112233u);
  EXPECT_EQ(Px(dst.get(), 1, 0), 0x00ABCDEFu);
  EXPECT_EQ(Px(dst.get(), 0, 1), 0x00ABCDEFu);
}

TEST(Blit, OtherDepthsAreLeftAlone) {
  ForeignBitMap f(kPixRGB565, 2, 4, 4);
  BitMapPtr src(testimage::Pattern(4, 4, 3));
  std::vector<uint8_t> before = f.bytes;
  BltBitMap(src.get(), 0, 0, &f.bm, 0, 0, 4, 4);
  BltBitMap(&f.bm, 0, 0, src.get(), 0, 0, 4, 4);
  FillBitMapRect(&f.bm, 0, 0, 4, 4, 0xFFFFFF);
  EXPECT_EQ(f.bytes, before);
}

TEST(Plane, BltPlaneModes) {
  // Source row bits 1100, destination 1010 over 4 columns starting at column 6 (mid byte).
  struct Case {
    int mode;
    const char* want;
  } cases[] = {{0, "1110"}, {1, "0010"}, {2, "1100"}, {3, "0110"},
               {4, "1000"}, {5, "1110"}, {6, "1010"}};
  for (auto c : cases) {
    PlanePtr src(AllocMask(12, 1, true)), dst(AllocMask(12, 1, true));
    for (int i = 0; i < 4; ++i) {
      if ("1100"[i] == '1') WriteBitMapPixel(src.get(), 6 + i, 0, 0);
      if ("1010"[i] == '1') WriteBitMapPixel(dst.get(), 6 + i, 0, 0);
    }
    BltPlane(src.get(), 6, 0, dst.get(), 6, 0, 4, 1, c.mode);
    std::string got;
    for (int i = 0; i < 4; ++i) got += MaskBit(dst.get(), 6 + i, 0) ? '1' : '0';
    EXPECT_EQ(got, c.want) << c.mode;
  }
}

TEST(Plane, InvertUnderOnesAndClearUnderZeros) {
  PlanePtr ones(AllocMask(20, 3, false)), zeros(AllocMask(20, 3, true));
  std::memset(ones->data, 0xFF, size_t(ones->bytesPerRow) * 3);
  PlanePtr dst(AllocMask(20, 3, false));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 20; ++x) WriteBitMapPixel(dst.get(), x, y, (x + y) % 3 ? 0 : 1);
  PlanePtr orig(AllocMask(20, 3, false));
  std::memcpy(orig->data, dst->data, size_t(dst->bytesPerRow) * 3);
  BltPlane(ones.get(), 0, 0, dst.get(), 3, 1, 13, 2, 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 20; ++x) {
      bool in = x >= 3 && x < 16 && y >= 1;
      EXPECT_EQ(MaskBit(dst.get(), x, y), in != MaskBit(orig.get(), x, y)) << x << "," << y;
    }
  BltPlane(zeros.get(), 0, 0, dst.get(), 2, 0, 17, 3, 4);
  for (int y = 0; y < 3; ++y)
    for (int x = 2; x < 19; ++x) EXPECT_FALSE(MaskBit(dst.get(), x, y)) << x;
}

TEST(Plane, FillPlaneRectModesAndClipping) {
  struct Case {
    int mode;
    bool want0, want1;
  } cases[] = {{0, 1, 1}, {1, 0, 0}, {2, 1, 1}, {3, 1, 0}, {4, 0, 1}, {5, 1, 1}, {7, 0, 1}};
  for (auto c : cases) {
    PlanePtr p(AllocMask(11, 2, true));
    WriteBitMapPixel(p.get(), 10, 1, 0);
    FillPlaneRect(p.get(), 5, 0, 100, 100, c.mode);  // clipped to 11 x 2
    EXPECT_EQ(MaskBit(p.get(), 5, 0), c.want0) << c.mode;
    EXPECT_EQ(MaskBit(p.get(), 10, 1), c.want1) << c.mode;
    EXPECT_FALSE(MaskBit(p.get(), 4, 0)) << c.mode;
    EXPECT_EQ(p->data[1] & 0x1F, 0) << c.mode;  // bits past the width untouched
  }
  FillPlaneRect(nullptr, 0, 0, 1, 1, 0);
  int32_t a = 5, b = 6;
  ClearTwoResults(nullptr, 0, 0, &a, &b);
  EXPECT_EQ(a, 0);
  EXPECT_EQ(b, 0);
}

TEST(Blit, ScrollInsideOneBitmap) {
  // Down-right and up-left inside one bitmap: every pixel arrives as it was before the blit.
  for (int d : {1, -1}) {
    for (SimdLevel level : {SimdLevel::kScalar, BestSimdLevel()}) {
      SetSimdLevel(level);
      BitMapPtr b(testimage::Pattern(23, 9, 4)), orig(testimage::Pattern(23, 9, 4));
      int s0 = d > 0 ? 0 : 2, d0 = d > 0 ? 2 : 0;
      BltBitMap(b.get(), s0, s0, b.get(), d0, d0, 21, 7);
      for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 21; ++x)
          ASSERT_EQ(Px(b.get(), d0 + x, d0 + y), Px(orig.get(), s0 + x, s0 + y)) << x << "," << y;
    }
  }
  SetSimdLevel(BestSimdLevel());
}

TEST(Blit, AbsentPlanesAndWrappedRowsDoNothingHarmful) {
  BitMapPtr src(testimage::Pattern(9, 9, 1)), dst(testimage::Pattern(9, 9, 2));
  BitMapPtr want(testimage::Pattern(9, 9, 2));
  qvBitMap empty{};  // no pixels at all
  qvPlane noData{};
  BltMaskBitMap(src.get(), 0, 0, dst.get(), 0, 0, 9, 9, nullptr);
  BltMaskBitMap(src.get(), 0, 0, dst.get(), 0, 0, 9, 9, &noData);
  BltMaskBitMap(nullptr, 0, 0, dst.get(), 0, 0, 9, 9, &noData);
  BltTemplate(nullptr, 0, 0, dst.get(), 0, 0, 9, 9, 0);
  BltTemplate(&noData, 0, 0, dst.get(), 0, 0, 9, 9, 0);
  BltBitMap(&empty, 0, 0, dst.get(), 0, 0, 9, 9);
  BltBitMap(src.get(), 0, 0, &empty, 0, 0, 9, 9);
  FillBitMapRect(&empty, 0, 0, 9, 9, 0);
  FillBitMapRect(nullptr, 0, 0, 9, 9, 0);
  BltPlane(nullptr, 0, 0, &noData, 0, 0, 9, 9, 2);
  EXPECT_TRUE(testimage::SamePixels(dst.get(), want.get()));
  EXPECT_EQ(ReadBitMapPixel(&empty, 0, 0), 0u);
  EXPECT_EQ(ReadBitMapPixel(static_cast<const qvPlane*>(nullptr), 0, 0), 0u);
  WriteBitMapPixel(&noData, 0, 0, 0);

  // Wrapped rows know no size: the rectangle is the caller's to keep inside, and is used as
  // given (clipped to the bitmap only).
  std::vector<uint8_t> rows(2 * 9, 0xFF);
  qvPlane* wrapped = WrapPlaneRows(rows.data(), 2);
  BltMaskBitMap(src.get(), 0, 0, dst.get(), 0, 0, 9, 9, wrapped);
  EXPECT_EQ(Px(dst.get(), 8, 8), Px(src.get(), 8, 8));
  FreeMaskOrAlpha(wrapped);
}
