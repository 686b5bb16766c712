// The bitmap operations in front of the kernels: results, the transform choice, the display-size
// snap, transparency, and every allocation failure turned into ERR_MEM with nothing leaked.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "base/errors.h"
#include "image/image.h"
#include "image_fixture.h"

using namespace qv;
using qv::testimage::AlphaAt;
using qv::testimage::BitMapPtr;
using qv::testimage::MaskBit;
using qv::testimage::PlanePtr;
using qv::testimage::Px;

namespace {

// A w x h picture whose pixel (x, y) is x + 16 y, with a mask set on even columns and an alpha
// of 10 x + y.
struct Picture {
  BitMapPtr bitmap;
  PlanePtr mask, alpha;
  Picture(int w, int h)
      : bitmap(AllocBitMap(w, h)),
        mask(AllocMask(w, h, true)),
        alpha(AllocAlphaChannel(w, h, true)) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        Px(bitmap.get(), x, y) = uint32_t(x + 16 * y);
        if (x % 2 == 0) WriteBitMapPixel(mask.get(), x, y, 0);
        AlphaAt(alpha.get(), x, y) = uint8_t(10 * x + y);
      }
  }
};

// The results of one transform, freed with the record.
struct Transformed {
  qvBitMap* bitmap = nullptr;
  qvPlane* mask = nullptr;
  qvPlane* alpha = nullptr;
  int32_t x = -1, y = -1, w = -1, h = -1;
  ~Transformed() {
    FreeBitMap(bitmap);
    FreeMaskOrAlpha(mask);
    FreeMaskOrAlpha(alpha);
  }
};

int Transform(const Picture& p, const double m[4], Transformed* out, int32_t mode = 0,
              bool withMask = true) {
  const double anchor[2] = {0, 0};
  return TransformBitMap(nullptr, mode, nullptr, p.bitmap.get(), withMask ? p.mask.get() : nullptr,
                         nullptr, 0, 0, 0, 0, p.bitmap->width, p.bitmap->height, anchor, m, false,
                         &out->bitmap, &out->mask, &out->alpha, &out->x, &out->y, &out->w, &out->h);
}

class HostScope {
 public:
  explicit HostScope(const qvImageHost& host) { SetImageHost(&host); }
  ~HostScope() { SetImageHost(nullptr); }
};

qvDisplayScale gScale;

}  // namespace

TEST(TransformBitMap, ScalesRotatesCopiesAndMirrors) {
  Picture p(6, 4);
  struct Case {
    const char* what;
    double m[4];
    int w, h;
  } cases[] = {
      {"scale 2", {2, 0, 0, 2}, 12, 8},
      {"quarter turn", {0, 1, -1, 0}, 4, 6},
      {"identity", {1, 0, 0, 1}, 6, 4},
      {"mirror", {-1, 0, 0, 1}, 6, 4},
  };
  for (auto& c : cases) {
    Transformed t;
    ASSERT_EQ(Transform(p, c.m, &t), 0) << c.what;
    ASSERT_TRUE(t.bitmap) << c.what;
    EXPECT_EQ(t.w, c.w) << c.what;
    EXPECT_EQ(t.h, c.h) << c.what;
    EXPECT_EQ(t.bitmap->width, c.w) << c.what;
    EXPECT_EQ(t.bitmap->height, c.h) << c.what;
    int32_t w, h;
    GetTransformedSize(c.m, 6, 4, &w, &h);
    EXPECT_EQ(w, c.w) << c.what;
    EXPECT_EQ(h, c.h) << c.what;
  }
  // The scale doubles pixels, the identity copies them with the mask, the mirror turns columns.
  Transformed s, id, mirror;
  double scale[4] = {2, 0, 0, 2}, one[4] = {1, 0, 0, 1}, flip[4] = {-1, 0, 0, 1};
  Transform(p, scale, &s);
  Transform(p, one, &id);
  Transform(p, flip, &mirror, 0, false);
  EXPECT_EQ(Px(s.bitmap, 5, 3), Px(p.bitmap.get(), 2, 1));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) {
      EXPECT_EQ(Px(id.bitmap, x, y), Px(p.bitmap.get(), x, y));
      EXPECT_EQ(MaskBit(id.mask, x, y), x % 2 == 0);
    }
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x)
      EXPECT_EQ(Px(mirror.bitmap, x, y) & 0xFFFFFF, Px(p.bitmap.get(), 5 - x, y)) << x << "," << y;
}

TEST(TransformBitMap, OtherModesGiveTheSizeAndPluginsNeedAHost) {
  Picture p(6, 4);
  double scale[4] = {2, 0, 0, 3}, turn[4] = {0, 1, -1, 0};
  Transformed sizeOnly;
  EXPECT_EQ(Transform(p, scale, &sizeOnly, 7), 0);
  EXPECT_EQ(sizeOnly.bitmap, nullptr);
  EXPECT_EQ(sizeOnly.w, 12);
  EXPECT_EQ(sizeOnly.h, 12);
  Transformed none;
  EXPECT_EQ(Transform(p, turn, &none, kTransformPlugin), ERR_TFIMAGE);
  EXPECT_EQ(none.bitmap, nullptr);
  EXPECT_EQ(none.w, -1);
  // With a host the plugin answers; its planes come back as the results.
  qvImageHost host;
  host.pluginTransform = [](void*, void*, const qvPluginTransform& r, qvBitMap** b, qvPlane** a) {
    *b = AllocBitMap(r.width, r.height);
    *a = nullptr;
    return r.transform[2] == -1 ? 0 : ERR_TFIMAGE;
  };
  HostScope scope(host);
  Transformed viaPlugin;
  EXPECT_EQ(Transform(p, turn, &viaPlugin, kTransformPlugin), 0);
  ASSERT_TRUE(viaPlugin.bitmap);
  EXPECT_EQ(viaPlugin.bitmap->width, 4);
  EXPECT_EQ(viaPlugin.h, 6);
}

TEST(TransformBitMap, NonFiniteMatricesGiveASoundResult) {
  Picture p(6, 4);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  double cases[][4] = {{nan, 0, 0, 1}, {inf, 0, 0, 1}, {1, nan, nan, 1}, {0, inf, -inf, 0}};
  for (auto& m : cases) {
    Transformed t;
    int err = Transform(p, m, &t);
    EXPECT_TRUE(err == 0 || err == ERR_MEM || err == ERR_OUTOFRANGE) << err;
    if (err == 0) {
      ASSERT_TRUE(t.bitmap);
      EXPECT_GE(t.w, 1);
      EXPECT_GE(t.h, 1);
    }
  }
}

TEST(GetTransformedSize, AFullDisplayPictureHitsTheScaledDisplay) {
  gScale = {640, 480, 1.5, 1.5, 961, 721};
  qvImageHost host;
  host.displayScale = [](qvDisplayScale* out) {
    *out = gScale;
    return true;
  };
  HostScope scope(host);
  double m[4] = {1.5, 0, 0, 1.5};
  int32_t w, h;
  GetTransformedSize(m, 640, 480, &w, &h);
  EXPECT_EQ(w, 961);
  EXPECT_EQ(h, 721);
  // Any other size scales plainly.
  GetTransformedSize(m, 640, 479, &w, &h);
  EXPECT_EQ(w, 960);
  EXPECT_EQ(h, 718);
  // A full-display picture transformed by the display's scale becomes a picture of the
  // scaled size.
  Picture full(640, 480);
  Transformed t;
  ASSERT_EQ(Transform(full, m, &t, 0, false), 0);
  ASSERT_TRUE(t.bitmap);
  EXPECT_EQ(t.bitmap->width, 961);
  EXPECT_EQ(t.bitmap->height, 721);
  EXPECT_EQ(t.w, 961);
  // Without the host no display is scaled.
  SetImageHost(nullptr);
  GetTransformedSize(m, 640, 480, &w, &h);
  EXPECT_EQ(w, 960);
}

TEST(ApplyTransparencyToAlpha, MaskBecomesFactorAndZeroAndIsFreed) {
  Picture p(9, 2);
  qvPlane* mask = p.mask.release();
  qvPlane* alpha = nullptr;
  ASSERT_EQ(ApplyTransparencyToAlpha(&alpha, &mask, 9, 2, 77), 0);
  EXPECT_EQ(mask, nullptr);
  ASSERT_TRUE(alpha);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 9; ++x) EXPECT_EQ(AlphaAt(alpha, x, y), x % 2 == 0 ? 77 : 0) << x;
  // An existing alpha is scaled by factor / 255; without a mask the factor fills a new one.
  ASSERT_EQ(ApplyTransparencyToAlpha(&alpha, &mask, 9, 2, 128), 0);
  EXPECT_EQ(AlphaAt(alpha, 0, 0), 77 * 128 / 255);
  FreeMaskOrAlpha(alpha);
  alpha = nullptr;
  ASSERT_EQ(ApplyTransparencyToAlpha(&alpha, &mask, 3, 1, 200), 0);
  EXPECT_EQ(AlphaAt(alpha, 2, 0), 200);
  FreeMaskOrAlpha(alpha);
}

TEST(ApplyStyleTransparency, LayersOnOrNoStyleLeaveThePicture) {
  Picture p(4, 1);
  qvPlane* alpha = p.alpha.release();
  qvPlane* mask = nullptr;
  qvStyleEffects style{55, nullptr};
  EXPECT_EQ(ApplyStyleTransparency(nullptr, p.bitmap.get(), &mask, &alpha, 4, 1), 0);
  EXPECT_EQ(AlphaAt(alpha, 3, 0), 30);
  {
    qvImageHost host;
    host.layersOn = [] { return true; };
    HostScope scope(host);
    EXPECT_EQ(ApplyStyleTransparency(&style, p.bitmap.get(), &mask, &alpha, 4, 1), 0);
    EXPECT_EQ(AlphaAt(alpha, 3, 0), 30);
  }
  EXPECT_EQ(ApplyStyleTransparency(&style, p.bitmap.get(), &mask, &alpha, 4, 1), 0);
  EXPECT_EQ(AlphaAt(alpha, 3, 0), 30 * 200 / 255);
  FreeMaskOrAlpha(alpha);
}

TEST(BitMapOps, TintMixGrayInvertFlipAndClear) {
  Picture p(5, 3);
  BitMapPtr b(AllocBitMap(5, 3));
  FillBitMapRect(b.get(), 0, 0, 5, 3, 0x000000);
  EXPECT_EQ(TintBitMap(b.get(), 3, 1, 10, 10, 0xFF0000, 128), 0);  // clipped to the bitmap
  EXPECT_EQ(Px(b.get(), 3, 1), 0x7F0000u);
  EXPECT_EQ(Px(b.get(), 2, 1), 0u);
  EXPECT_EQ(TintBitMap(nullptr, 0, 0, 1, 1, 0, 0), ERR_LOCKBMAP);
  // Mix: level is the source's share; the source mask is read at the source's coordinates.
  FillBitMapRect(b.get(), 0, 0, 5, 3, 0x0000FF);
  BitMapPtr white(AllocBitMap(5, 3));
  FillBitMapRect(white.get(), 0, 0, 5, 3, 0xFFFFFF);
  EXPECT_EQ(MixBitMaps(b.get(), white.get(), p.mask.get(), 0, 0, 1, 0, 4, 1, 255, nullptr, 0, 0),
            0);
  EXPECT_EQ(Px(b.get(), 0, 0), 0x0000FFu);  // source column 1: mask clear
  EXPECT_EQ(Px(b.get(), 1, 0), 0xFFFFFFu);  // source column 2: mask set
  // With a source alpha the scaled scratch alpha carries the blend.
  FillBitMapRect(b.get(), 0, 0, 5, 3, 0);
  PlanePtr full(AllocAlphaChannel(5, 3, false));
  FillPlaneRect(full.get(), 0, 0, 0, 0, 0);
  for (int x = 0; x < 5; ++x) AlphaAt(full.get(), x, 0) = 255;
  EXPECT_EQ(MixBitMaps(b.get(), white.get(), nullptr, 0, 0, 0, 0, 5, 1, 128, full.get(), 5, 1), 0);
  EXPECT_EQ(Px(b.get(), 2, 0), 0x7F7F7Fu);  // alpha 255 x 128 / 255 = 128
  // Gray and invert over the top-left rectangle only, also through a given lock view.
  FillBitMapRect(b.get(), 0, 0, 5, 3, 0x102030);
  qvBitMapLock lock;
  ASSERT_TRUE(LockBitMap(b.get(), &lock));
  EXPECT_EQ(InvertBitMap(b.get(), 2, 1, &lock), 0);
  EXPECT_EQ(Px(b.get(), 1, 0), ~0x102030u);
  EXPECT_EQ(Px(b.get(), 2, 0), 0x102030u);
  EXPECT_EQ(GrayBitMap(b.get(), 5, 3, true, nullptr), 0);
  EXPECT_EQ(Px(b.get(), 4, 2), 0u);
  EXPECT_EQ(GrayBitMap(nullptr, 1, 1, false), ERR_LOCKBMAP);
  // Flip turns every plane given.
  Picture f(5, 3);
  EXPECT_EQ(FlipBitMap(f.bitmap.get(), f.mask.get(), f.alpha.get(), 5, 3, true), 0);
  EXPECT_EQ(Px(f.bitmap.get(), 0, 1), 4u + 16);
  EXPECT_TRUE(MaskBit(f.mask.get(), 0, 0));  // column 4 was even
  EXPECT_FALSE(MaskBit(f.mask.get(), 1, 0));
  EXPECT_EQ(AlphaAt(f.alpha.get(), 0, 2), 42);
  EXPECT_EQ(FlipBitMap(nullptr, nullptr, f.alpha.get(), 5, 3, false), 0);
  EXPECT_EQ(AlphaAt(f.alpha.get(), 0, 0), 42);
  // Clearing the spare columns leaves the picture.
  ClearBitMap(f.bitmap.get(), true);
  EXPECT_EQ(Px(f.bitmap.get(), 4, 2), 32u);
  EXPECT_EQ(Px(f.bitmap.get(), 5, 2), 0u);
  EXPECT_EQ(Px(f.bitmap.get(), 7, 0), 0u);
  ClearBitMap(f.bitmap.get(), false);
  EXPECT_EQ(Px(f.bitmap.get(), 4, 2), 0u);
}

// A faded alpha source gives what the alpha blit gives with the alpha scaled beforehand, for
// windows inside the source, at its edges and clipped by the destination on either side.
TEST(BitMapOps, MixWithAnAlphaReadsTheScaledAlphaAtTheSourcesCoordinates) {
  constexpr int32_t kW = 37, kH = 11;
  BitMapPtr src(AllocBitMap(kW, kH));
  PlanePtr alpha(AllocAlphaChannel(kW, kH, false));
  ASSERT_TRUE(src && alpha);
  for (int32_t y = 0; y < kH; ++y) {
    for (int32_t x = 0; x < kW; ++x) {
      reinterpret_cast<uint32_t*>(
          src->pixels + int64_t{y} * src->bytesPerRow)[x] = uint32_t(x * 0x070503 + y * 0x110D0B) &
                                                            0xFFFFFF;
      AlphaAt(alpha.get(), x, y) = uint8_t((x * 41 + y * 29) % 256);
    }
  }
  struct Case {
    int32_t dx, dy, sx, sy, w, h, level;
  };
  const Case cases[] = {
      {0, 0, 0, 0, kW, kH, 255},  {3, 2, 5, 4, 20, 6, 100}, {0, 0, 9, 3, 40, 20, 77},
      {-4, -2, 2, 1, 30, 9, 200}, {20, 5, 0, 0, kW, kH, 1}, {1, 1, 30, 8, 7, 3, 254},
      {2, 0, -3, -2, 12, 8, 128},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.dx) + "," + std::to_string(c.dy) + " from " +
                 std::to_string(c.sx) + "," + std::to_string(c.sy) + " level " +
                 std::to_string(c.level));
    BitMapPtr got(AllocBitMap(48, 16)), want(AllocBitMap(48, 16));
    PlanePtr scaled(AllocAlphaChannel(kW, kH, false));
    ASSERT_TRUE(got && want && scaled);
    FillBitMapRect(got.get(), 0, 0, 48, 16, 0x336699);
    FillBitMapRect(want.get(), 0, 0, 48, 16, 0x336699);
    for (int32_t y = 0; y < kH; ++y) {
      for (int32_t x = 0; x < kW; ++x) {
        AlphaAt(scaled.get(), x, y) = uint8_t(AlphaAt(alpha.get(), x, y) * c.level / 255);
      }
    }
    ASSERT_EQ(MixBitMaps(got.get(), src.get(), nullptr, c.dx, c.dy, c.sx, c.sy, c.w, c.h, c.level,
                         alpha.get(), kW, kH),
              0);
    BltAlphaBitMap(src.get(), c.sx, c.sy, want.get(), c.dx, c.dy, c.w, c.h, scaled.get());
    for (int32_t y = 0; y < 16; ++y) {
      for (int32_t x = 0; x < 48; ++x)
        ASSERT_EQ(Px(got.get(), x, y), Px(want.get(), x, y)) << x << "," << y;
    }
  }
}

TEST(BitMapOps, CopyRegionAndColourKeyMask) {
  Picture p(6, 4);
  qvBitMap* b = nullptr;
  qvPlane *m = nullptr, *a = nullptr;
  ASSERT_EQ(
      CopyBitMapRegion(p.bitmap.get(), p.mask.get(), p.alpha.get(), 1, 2, 3, 2, false, &b, &m, &a),
      0);
  EXPECT_EQ(Px(b, 0, 0), 1u + 32);
  EXPECT_EQ(Px(b, 2, 1), 3u + 48);
  EXPECT_FALSE(MaskBit(m, 0, 0));
  EXPECT_TRUE(MaskBit(m, 1, 1));
  EXPECT_EQ(AlphaAt(a, 2, 1), 33);
  FreeBitMap(b), FreeMaskOrAlpha(m), FreeMaskOrAlpha(a);
  EXPECT_EQ(
      CopyBitMapRegion(p.bitmap.get(), nullptr, nullptr, 4, 0, 3, 1, false, &b, nullptr, nullptr),
      ERR_OUTOFRANGE);
  // The key's bits clear the mask where the colour matches, whatever the spare byte holds.
  Px(p.bitmap.get(), 2, 1) = 0xAB000012;
  PlanePtr key(CreateColorKeyMask(p.bitmap.get(), 6, 4, 0x000012));
  ASSERT_TRUE(key);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(MaskBit(key.get(), x, y), !(x == 2 && y == 1)) << x;
  EXPECT_EQ(CreateColorKeyMask(nullptr, 1, 1, 0), nullptr);
}

// Every allocation of a wrapper fails in turn: the wrapper returns ERR_MEM (or null), stores
// nothing and leaks nothing (the asan preset checks the leaks); the inputs stay as they were.
TEST(BitMapOps, EachAllocationFailureGivesErrMemAndLeaksNothing) {
  Picture p(20, 9);
  double scale[4] = {2, 0, 0, 1.5}, turn[4] = {0.6, 0.8, -0.8, 0.6}, one[4] = {1, 0, 0, 1};
  struct Case {
    std::string what;
    std::function<int()> call;
  };
  std::vector<Case> cases = {
      {"transform scale",
       [&] {
         Transformed t;
         int err = Transform(p, scale, &t);
         EXPECT_TRUE(err != 0 || t.bitmap);
         if (err) {
           EXPECT_EQ(t.bitmap, nullptr);
         }
         return err;
       }},
      {"transform rotate",
       [&] {
         Transformed t;
         int err = Transform(p, turn, &t);
         if (err) {
           EXPECT_EQ(t.mask, nullptr);
         }
         return err;
       }},
      {"transform copy",
       [&] {
         Transformed t;
         int err = Transform(p, one, &t);
         if (err) {
           EXPECT_EQ(t.mask, nullptr);
         }
         return err;
       }},
      {"copy region",
       [&] {
         qvBitMap* b = nullptr;
         qvPlane *m = nullptr, *a = nullptr;
         int err = CopyBitMapRegion(p.bitmap.get(), p.mask.get(), p.alpha.get(), 0, 0, 20, 9, false,
                                    &b, &m, &a);
         if (err) {
           EXPECT_TRUE(!b && !m && !a);
         }
         FreeBitMap(b), FreeMaskOrAlpha(m), FreeMaskOrAlpha(a);
         return err;
       }},
      {"mix with alpha",
       [&] {
         BitMapPtr d(AllocBitMap(20, 9));
         if (!d) return int(ERR_MEM);
         return MixBitMaps(d.get(), p.bitmap.get(), nullptr, 0, 0, 0, 0, 20, 9, 100, p.alpha.get(),
                           20, 9);
       }},
      {"flip with mask",
       [&] { return FlipBitMap(p.bitmap.get(), p.mask.get(), nullptr, 20, 9, true); }},
      {"colour key",
       [&] {
         qvPlane* k = CreateColorKeyMask(p.bitmap.get(), 20, 9, 5);
         FreeMaskOrAlpha(k);
         return k ? 0 : int(ERR_MEM);
       }},
      {"transparency from a mask",
       [&] {
         qvPlane* mask = AllocMask(20, 9, true);
         if (!mask) return int(ERR_MEM);
         qvPlane* alpha = nullptr;
         int err = ApplyTransparencyToAlpha(&alpha, &mask, 20, 9, 9);
         if (err) {
           EXPECT_TRUE(mask && !alpha);
         }  // the mask stays on failure
         FreeMaskOrAlpha(mask), FreeMaskOrAlpha(alpha);
         return err;
       }},
      {"style transparency",
       [&] {
         qvPlane *mask = nullptr, *alpha = nullptr;
         qvStyleEffects style{10, nullptr};
         int err = ApplyStyleTransparency(&style, p.bitmap.get(), &mask, &alpha, 20, 9);
         FreeMaskOrAlpha(alpha);
         return err;
       }},
  };
  for (auto& c : cases) {
    int64_t n = 1;
    for (; n < 100; ++n) {
      SetImageAllocFault(n);
      int err = c.call();
      bool reached = ImageAllocCount() >= n;
      SetImageAllocFault(0);
      if (!reached) {
        EXPECT_EQ(err, 0) << c.what << " with no failure";
        break;
      }
      EXPECT_EQ(err, ERR_MEM) << c.what << " failing allocation " << n;
    }
    EXPECT_GT(n, 1) << c.what << " allocates nothing";
    EXPECT_LT(n, 100) << c.what;
  }
  // The inputs are untouched by the failures above (only the flips ran, an even number of times
  // when every call flipped, and never on a failed call).
  EXPECT_EQ(AlphaAt(p.alpha.get(), 3, 2), 32);
}
