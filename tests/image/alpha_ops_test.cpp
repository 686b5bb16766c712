// Alpha blits, byte-plane copies and the box of a transformed rectangle.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

#include "image/image.h"
#include "image_fixture.h"

using namespace qv;
using qv::testimage::AlphaAt;
using qv::testimage::BitMapPtr;
using qv::testimage::PlanePtr;
using qv::testimage::Px;

TEST(BltAlphaBitMap, BlendsCopiesAndReadsTheAlphaAtTheSource) {
  BitMapPtr src(AllocBitMap(4, 1)), dst(AllocBitMap(4, 2));
  PlanePtr alpha(AllocAlphaChannel(4, 1, true));
  for (int x = 0; x < 4; ++x) Px(src.get(), x, 0) = 0xFF8000;
  uint8_t a[4] = {0, 128, 255, 7};
  for (int x = 0; x < 4; ++x) AlphaAt(alpha.get(), x, 0) = a[x];
  for (bool copy : {false, true}) {
    FillBitMapRect(dst.get(), 0, 0, 4, 2, 0);
    // One column in from the left on the source side, clipped at the destination's right.
    BltAlphaBitMap(src.get(), 1, 0, dst.get(), 2, 1, 5, 5, alpha.get(), copy);
    EXPECT_EQ(Px(dst.get(), 2, 1), copy ? 0xFF8000u : 0x7F4000u) << copy;
    EXPECT_EQ(Px(dst.get(), 3, 1), 0xFF8000u) << copy;
    EXPECT_EQ(Px(dst.get(), 1, 1), 0u);
    EXPECT_EQ(Px(dst.get(), 2, 0), 0u);
  }
  testing::internal::CaptureStdout();
  BltAlphaBitMap(src.get(), 0, 0, nullptr, 0, 0, 1, 1, alpha.get());
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "ERROR! BLTALPHABITMAP() CALLED WITH DST=NULL!\n");
}

TEST(CopyAlphaRect, CombinesByModeAndClipsBothSides) {
  PlanePtr src(AllocAlphaChannel(3, 2, true)), dst(AllocAlphaChannel(4, 2, true));
  AlphaAt(src.get(), 0, 0) = 10, AlphaAt(src.get(), 1, 0) = 0, AlphaAt(src.get(), 2, 0) = 30;
  AlphaAt(dst.get(), 1, 0) = 99;
  CopyAlphaRect(src.get(), 0, 0, dst.get(), 0, 0, 3, 1, 1, 0);  // copy where non-zero
  EXPECT_EQ(AlphaAt(dst.get(), 0, 0), 10);
  EXPECT_EQ(AlphaAt(dst.get(), 1, 0), 99);
  EXPECT_EQ(AlphaAt(dst.get(), 2, 0), 30);
  // A negative destination corner moves the source; the size is cut to both planes.
  // Mode 6 sets the value where the source is not 0: source column 2 (30) lands at column 0,
  // and the one row left of the destination's height is all that is written.
  CopyAlphaRect(src.get(), 0, 0, dst.get(), -2, 1, 100, 100, 6, 200);
  EXPECT_EQ(AlphaAt(dst.get(), 0, 1), 200);
  EXPECT_EQ(AlphaAt(dst.get(), 1, 1), 0);  // nothing beyond the source's width
  EXPECT_EQ(AlphaAt(dst.get(), 0, 0), 10);
}

TEST(TransformedBounds, BoxesOfTurnedRectangles) {
  struct Case {
    const char* what;
    double m[4];
    double ax, ay;
    int x, y, w, h;
  } cases[] = {
      {"identity", {1, 0, 0, 1}, 0, 0, 10, 20, 8, 4},
      {"scale 2", {2, 0, 0, 2}, 0, 0, 10, 20, 15, 7},
      {"quarter turn about the corner", {0, 1, -1, 0}, 0, 0, 7, 20, 4, 8},
      {"quarter turn about the centre", {0, 1, -1, 0}, 0.5, 0.5, 13, 18, 4, 8},
      {"mirror", {-1, 0, 0, 1}, 0, 0, 3, 20, 8, 4},
  };
  for (auto& c : cases) {
    int32_t x, y, w, h;
    GetTransformedBounds(10, 20, 8, 4, c.ax, c.ay, c.m, &x, &y, &w, &h);
    EXPECT_EQ(x, c.x) << c.what;
    EXPECT_EQ(y, c.y) << c.what;
    EXPECT_EQ(w, c.w) << c.what;
    EXPECT_EQ(h, c.h) << c.what;
  }
  // Far beyond 100000 the box is whole (no sentinel cuts it), and outputs may be null.
  double big[4] = {1000000, 0, 0, 1};
  int32_t w = 0;
  GetTransformedBounds(0, 0, 8, 4, 0, 0, big, nullptr, nullptr, &w, nullptr);
  EXPECT_EQ(w, 7000001);
  double nan[4] = {std::numeric_limits<double>::quiet_NaN(), 0, 0, 1};
  GetTransformedBounds(0, 0, 8, 4, 0, 0, nan, nullptr, nullptr, &w, nullptr);
  EXPECT_EQ(w, INT_MIN);
}
