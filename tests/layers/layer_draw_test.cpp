// The compositor with layers, pixel by pixel: small layers made with CreateLayerRecord over a
// plain BGPic, composed through Redraw into a bitmap of their own. The blends, the filter order,
// the modulate defaults, the border ring, the shadow's rectangle, the shape that its border
// covers, the renders of transformed layers and Redraw's refusals.
#include "layers/layer_draw.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/errors.h"
#include "core/errors.h"
#include "core/registry.h"
#include "display/display.h"
#include "layers/layers.h"
#include "vm/vm.h"

namespace qv {
namespace {

constexpr uint32_t kBackground = 0x204060;
constexpr int32_t kWidth = 64, kHeight = 48;

enum class Cover { kOpaque, kMask, kAlpha };

// Each channel d + (((s - d) a) >> 8), with 0 and 255 exact (the alpha blit's rule).
uint32_t Blend(uint32_t d, uint32_t s, int32_t a) {
  if (a <= 0) return d & 0xFFFFFF;
  if (a >= 255) return s & 0xFFFFFF;
  uint32_t out = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    auto dc = static_cast<int32_t>((d >> shift) & 0xFF),
         sc = static_cast<int32_t>((s >> shift) & 0xFF);
    out |= static_cast<uint32_t>((dc + (((sc - dc) * a) >> 8)) & 0xFF) << shift;
  }
  return out;
}
// Each channel s + (((d - s) t) >> 8): a source mixed in at transparency t.
uint32_t Mix(uint32_t d, uint32_t s, int32_t t) {
  uint32_t out = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    auto dc = static_cast<int32_t>((d >> shift) & 0xFF),
         sc = static_cast<int32_t>((s >> shift) & 0xFF);
    out |= static_cast<uint32_t>((sc + (((dc - sc) * t) >> 8)) & 0xFF) << shift;
  }
  return out;
}

uint32_t Pixel(const qvBitMap* b, int32_t x, int32_t y) {
  return reinterpret_cast<const uint32_t*>(b->pixels + int64_t{y} * b->bytesPerRow)[x] & 0xFFFFFF;
}
void SetPixel(qvBitMap* b, int32_t x, int32_t y, uint32_t c) {
  reinterpret_cast<uint32_t*>(b->pixels + int64_t{y} * b->bytesPerRow)[x] = c;
}

class LayerDrawTest : public ::testing::Test {
 protected:
  void SetUp() override {
    L = VmOpenState(CoreVmHost());
    SetProcessVm(L);
    ASSERT_EQ(OpenDisplaySubsystem(), 0);
    ASSERT_EQ(OpenLayerSystem(), 0);
    SetLayerHooks(nullptr);
    qvObjectId id{1, nullptr};
    ASSERT_EQ(CreateColorBGPic(&id, false, kWidth, kHeight, kBackground, &bgpic), 0);
    dst = AllocBitMap(kWidth, kHeight);
    ASSERT_NE(dst, nullptr);
  }
  void TearDown() override {
    FreeBitMap(dst);
    FreeLayerList(L, bgpic, true, true);
    SetLayerHooks(nullptr);
    CloseLayerSystem();
    FreeDisplaySubsystem(L);
    FreeRegistries();
    SetProcessVm(nullptr);
    VmCloseState(L);
  }

  static qvLayerOptions Options() {
    qvLayerOptions o;
    InitLayerOptions(&o);
    return o;
  }

  // A layer that owns a w x h picture: the pixels (one colour, or the list row by row), opaque,
  // masked by the circle-ish inner pixels, or with an alpha of `level` everywhere.
  qvLayer* Add(int32_t x, int32_t y, int32_t w, int32_t h, const std::vector<uint32_t>& pixels,
               Cover cover, const qvLayerOptions& options, int32_t level = 255,
               const qvTransformBlock* transform = nullptr, int32_t type = kObjectBrush) {
    qvBitMap* bitmap = AllocBitMap(w, h);
    for (int32_t j = 0; j < h; ++j) {
      for (int32_t i = 0; i < w; ++i) {
        SetPixel(bitmap, i, j, pixels.size() == 1 ? pixels[0] : pixels[j * w + i]);
      }
    }
    qvPlane* mask = nullptr;
    qvPlane* alpha = nullptr;
    if (cover == Cover::kMask) {
      // Corners cut: the mask's shape differs from its rectangle.
      mask = AllocMask(w, h, true);
      for (int32_t j = 0; j < h; ++j) {
        for (int32_t i = 0; i < w; ++i) {
          bool corner = (i == 0 || i == w - 1) && (j == 0 || j == h - 1);
          if (!corner) WriteBitMapPixel(mask, i, j, 0);
        }
      }
    } else if (cover == Cover::kAlpha) {
      alpha = AllocAlphaChannel(w, h, true);
      for (int32_t j = 0; j < h; ++j) {
        for (int32_t i = 0; i < w; ++i) alpha->data[j * alpha->bytesPerRow + i] = uint8_t(level);
      }
    }
    qvLayerState* state = AllocLayerState(type);
    state->x = x;
    state->y = y;
    state->width = w;
    state->height = h;
    qvLayerRequest r;
    r.bgpic = bgpic;
    r.type = type;
    r.objectId = {0, bitmap};
    r.x = x;
    r.y = y;
    r.width = w;
    r.height = h;
    r.options = &options;
    r.transform = transform;
    r.state = state;
    r.bitmap = bitmap;
    r.mask = mask;
    r.alpha = alpha;
    qvLayer* layer = nullptr;
    EXPECT_EQ(CreateLayerRecord(L, r, &layer), 0);
    return layer;
  }

  void Compose(int32_t flags = 0) { Redraw(L, nullptr, bgpic, dst, 0, 0, kWidth, kHeight, flags); }

  qvScriptState* L = nullptr;
  qvBGPic* bgpic = nullptr;
  qvBitMap* dst = nullptr;
};

// ---------------------------------------------------------------------------------------------

TEST_F(LayerDrawTest, AlphaAndTransparencyBlendExactly) {
  constexpr uint32_t s = 0xC08010;
  struct Case {
    const char* what;
    Cover cover;
    int32_t alpha, transparency;
    uint32_t expected;
  };
  const Case cases[] = {
      {"opaque", Cover::kOpaque, 255, 0, s},
      {"alpha 128", Cover::kAlpha, 128, 0, Blend(kBackground, s, 128)},
      {"alpha 1", Cover::kAlpha, 1, 0, Blend(kBackground, s, 1)},
      {"alpha 0", Cover::kAlpha, 0, 0, kBackground},
      {"transparency 100", Cover::kOpaque, 255, 100, Mix(kBackground, s, 100)},
      {"transparency 100, masked", Cover::kMask, 255, 100, Mix(kBackground, s, 100)},
      {"transparency 255", Cover::kOpaque, 255, 255, kBackground},
      // The transparency scales the alpha by (255 - t) / 255 before the blend.
      {"alpha 200, transparency 55", Cover::kAlpha, 200, 55,
       Blend(kBackground, s, 200 * 200 / 255)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FreeLayerList(L, bgpic, true, true);
    qvLayerOptions o = Options();
    o.transparency = c.transparency;
    Add(10, 10, 4, 4, {s}, c.cover, o, c.alpha);
    Compose();
    EXPECT_EQ(Pixel(dst, 11, 11), c.expected);
    EXPECT_EQ(Pixel(dst, 9, 11), kBackground);
    if (c.cover == Cover::kMask) {
      EXPECT_EQ(Pixel(dst, 10, 10), kBackground);  // a cut corner
    }
  }
}

TEST_F(LayerDrawTest, LayersStackBottomToTopAndHiddenOnesAddNothing) {
  qvLayerOptions o = Options();
  Add(10, 10, 6, 6, {0xFF0000}, Cover::kOpaque, o);
  Add(12, 12, 6, 6, {0x00FF00}, Cover::kAlpha, o, 128);
  qvLayerOptions hidden = Options();
  hidden.hidden = 1;
  hidden.shadow.on = 1;
  hidden.border.on = 1;
  Add(0, 0, 30, 30, {0x0000FF}, Cover::kOpaque, hidden);
  Compose();
  EXPECT_EQ(Pixel(dst, 11, 11), 0xFF0000u);
  EXPECT_EQ(Pixel(dst, 13, 13), Blend(0xFF0000, 0x00FF00, 128));
  EXPECT_EQ(Pixel(dst, 17, 17), Blend(kBackground, 0x00FF00, 128));
  EXPECT_EQ(Pixel(dst, 25, 25), kBackground);
}

TEST_F(LayerDrawTest, FiltersRunByDescendingPriorityTiesInSlotOrder) {
  // Two pixels, so that a flip shows; tint and invert do not commute.
  const std::vector<uint32_t> picture = {0x102030, 0xE0A040};
  struct Step {
    int32_t filter;
    int32_t priority;
  };
  struct Case {
    const char* what;
    std::vector<Step> slots;
    std::vector<int32_t> order;  // the order the filters must run in
  };
  const Case cases[] = {
      {"equal priorities: slot order",
       {{kFilterTint, 0}, {kFilterInvert, 0}},
       {kFilterInvert, kFilterTint}},
      {"a higher priority first",
       {{kFilterTint, 10}, {kFilterInvert, 0}},
       {kFilterTint, kFilterInvert}},
      {"priority, then slots",
       {{kFilterXFlip, 5}, {kFilterGrayscale, 5}, {kFilterTint, 9}},
       {kFilterTint, kFilterGrayscale, kFilterXFlip}},
      {"255 before 254 before 0",
       {{kFilterInvert, 0}, {kFilterTint, 254}, {kFilterGrayscale, 255}},
       {kFilterGrayscale, kFilterTint, kFilterInvert}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FreeLayerList(L, bgpic, true, true);
    qvLayerOptions o = Options();
    for (const Step& s : c.slots) {
      o.filters[s.filter].on = 1;
      o.filters[s.filter].priority = uint8_t(s.priority);
    }
    o.filters[kFilterTint].ints[0] = 0x00FF00;
    o.filters[kFilterTint].ints[1] = 100;
    Add(20, 20, 2, 1, picture, Cover::kOpaque, o);
    Compose();

    // The same filters straight through the image engine in the expected order.
    qvBitMap* expected = AllocBitMap(2, 1);
    SetPixel(expected, 0, 0, picture[0]);
    SetPixel(expected, 1, 0, picture[1]);
    for (int32_t f : c.order) {
      switch (f) {
        case kFilterTint:
          TintBitMap(expected, 0, 0, 2, 1, 0x00FF00, 100);
          break;
        case kFilterInvert:
          InvertBitMap(expected, 2, 1);
          break;
        case kFilterGrayscale:
          GrayBitMap(expected, 2, 1, false);
          break;
        case kFilterXFlip:
          FlipBitMap(expected, nullptr, nullptr, 2, 1, true);
          break;
      }
    }
    EXPECT_EQ(Pixel(dst, 20, 20), Pixel(expected, 0, 0));
    EXPECT_EQ(Pixel(dst, 21, 20), Pixel(expected, 1, 0));
    FreeBitMap(expected);
  }
}

TEST_F(LayerDrawTest, ModulateTakesPercents) {
  const std::vector<uint32_t> picture = {0x806040};
  // The defaults (100, 100, 100) leave the picture; 50 percent brightness darkens it.
  qvLayerOptions o = Options();
  o.filters[kFilterModulate].on = 1;
  Add(5, 5, 2, 2, picture, Cover::kOpaque, o);
  qvLayerOptions half = Options();
  half.filters[kFilterModulate].on = 1;
  half.filters[kFilterModulate].floats[0] = 50;
  Add(15, 5, 2, 2, picture, Cover::kOpaque, half);
  Compose();
  EXPECT_EQ(Pixel(dst, 5, 5), 0x806040u);
  qvBitMap* expected = AllocBitMap(1, 1);
  SetPixel(expected, 0, 0, 0x806040);
  ModulateBitMap(expected, 1, 1, 0.5, 1.0, 1.0);
  EXPECT_EQ(Pixel(dst, 15, 5), Pixel(expected, 0, 0));
  EXPECT_NE(Pixel(dst, 15, 5), 0x806040u);
  FreeBitMap(expected);
}

TEST_F(LayerDrawTest, BorderRing) {
  constexpr uint32_t object = 0xFF0000, ring = 0x00FF00;
  struct Case {
    const char* what;
    uint32_t borderColour;
    int32_t transparency, layerFade;
    uint32_t expectedRing;
  };
  const Case cases[] = {
      {"solid", ring, 0, 0, ring},
      // The colour's alpha byte is the border's transparency: an alpha of 255 - A.
      {"transparent colour", 0x80000000u | ring, 0, 0, Blend(kBackground, ring, 127)},
      // The layer's transparency mixes the border as it mixes the object.
      {"layer transparency", ring, 64, 0, Mix(kBackground, ring, 64)},
      // layerFade 1 + 128: the opacity 255 scaled to 128.
      {"faded", ring, 0, 129, Mix(kBackground, ring, 255 - 128)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FreeLayerList(L, bgpic, true, true);
    qvLayerOptions o = Options();
    o.border = {1, c.borderColour, 2};
    o.transparency = c.transparency;
    qvLayer* layer = Add(10, 10, 4, 4, {object}, Cover::kOpaque, o);
    layer->layerFade = c.layerFade;
    Compose();
    for (int32_t i = 8; i < 16; ++i) {
      for (int32_t j = 8; j < 16; ++j) {
        bool inside = i >= 10 && i < 14 && j >= 10 && j < 14;
        // Under the object the border is solid too: the object is mixed over the ring's colour.
        uint32_t want = !inside               ? c.expectedRing
                        : c.transparency != 0 ? Mix(c.expectedRing, object, c.transparency)
                                              : object;
        ASSERT_EQ(Pixel(dst, i, j), want) << i << "," << j;
      }
    }
    EXPECT_EQ(Pixel(dst, 7, 10), kBackground);
    EXPECT_EQ(Pixel(dst, 16, 13), kBackground);
    EXPECT_EQ(Pixel(dst, 10, 16), kBackground);
  }
}

TEST_F(LayerDrawTest, AMaskedObjectsBorderFollowsItsShape) {
  qvLayerOptions o = Options();
  o.border = {1, 0x00FF00, 1};
  Add(20, 20, 8, 8, {0xFF0000}, Cover::kMask, o);
  Compose();
  EXPECT_EQ(Pixel(dst, 20, 20), 0x00FF00u);  // the object's cut corner shows the border
  EXPECT_EQ(Pixel(dst, 19, 24), 0x00FF00u);
  EXPECT_EQ(Pixel(dst, 24, 24), 0xFF0000u);
  EXPECT_EQ(Pixel(dst, 17, 24), kBackground);
}

TEST_F(LayerDrawTest, NothingIsDrawnOutsideTheShadowRect) {
  for (int32_t direction = kShadowNorth; direction <= kShadowNorthWest; ++direction) {
    for (bool border : {false, true}) {
      SCOPED_TRACE("direction " + std::to_string(direction) + (border ? " bordered" : ""));
      FreeLayerList(L, bgpic, true, true);
      qvLayerOptions o = Options();
      o.shadow = {1, 0x40000000u, 6, direction, 3.0, 1.0};
      o.border = {border ? 1 : 0, 0x0000FF, 2};
      qvLayer* layer = Add(24, 18, 10, 8, {0xFFFFFF}, Cover::kAlpha, o, 200);
      Compose();
      qvLayerArea s = GetShadowRect(layer, layer->current, 1.0, 1.0);
      EXPECT_EQ(s.width, (border ? 14 : 10) + 6);
      int32_t changedOutsideObject = 0;
      for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
          if (Pixel(dst, x, y) == kBackground) continue;
          bool inShadow = x >= s.x && x < s.x + s.width && y >= s.y && y < s.y + s.height;
          bool inObject = x >= 22 && x < 36 && y >= 16 && y < 28;  // with the border
          ASSERT_TRUE(inShadow || inObject) << x << "," << y;
          if (!inObject) ++changedOutsideObject;
        }
      }
      EXPECT_GT(changedOutsideObject, 0);  // the shadow shows
    }
  }
}

// Each pixel of the shadow is the destination moved toward the shadow's colour by the blurred
// coverage, d + (((c - d) a) >> 8) per channel, for every level the blur gives; the
// destination's top byte stays.
TEST_F(LayerDrawTest, TheShadowBlendsItsColourByTheCoverageInEveryChannel) {
  qvLayerOptions o = Options();
  o.shadow = {1, 0x30E08010u, 5, kShadowSouthEast, 4.0, 1.5};
  qvLayer* layer = Add(18, 12, 12, 10, {0xFFFFFF}, Cover::kAlpha, o, 180);
  // A background of every channel value, with a top byte of its own.
  for (int32_t y = 0; y < kHeight; ++y) {
    for (int32_t x = 0; x < kWidth; ++x) {
      SetPixel(bgpic->current.bitmap, x, y, 0x5A000000u | uint32_t(x * 0x0B0305 + y * 0x051107));
    }
  }
  Compose();
  const qvPlane* m = layer->current->shadowMask;
  ASSERT_NE(m, nullptr);
  qvLayerArea s = GetShadowRect(layer, layer->current, 1.0, 1.0);
  int32_t levels = 0;
  for (int32_t y = s.y; y < s.y + std::min(s.height, m->height); ++y) {
    for (int32_t x = s.x; x < s.x + std::min(s.width, m->width); ++x) {
      if (x >= 18 && x < 30 && y >= 12 && y < 22) continue;  // the object over it
      const uint32_t d = 0x5A000000u | uint32_t(x * 0x0B0305 + y * 0x051107);
      const int32_t a = m->data[(y - s.y) * m->bytesPerRow + (x - s.x)];
      uint32_t want = d & 0xFF000000u;
      for (int shift = 0; shift < 24; shift += 8) {
        auto dc = static_cast<int32_t>((d >> shift) & 0xFF);
        auto cc = static_cast<int32_t>((o.shadow.colour >> shift) & 0xFF);
        want |= static_cast<uint32_t>((dc + (((cc - dc) * a) >> 8)) & 0xFF) << shift;
      }
      uint32_t got = reinterpret_cast<const uint32_t*>(dst->pixels +
                                                       int64_t{y} * dst->bytesPerRow)[x];
      ASSERT_EQ(got, want) << x << "," << y << " coverage " << a;
      if (a != 0) ++levels;
    }
  }
  EXPECT_GT(levels, 0);
}

TEST_F(LayerDrawTest, ShadowFadeScalesTheShadowsOpacity) {
  qvLayerOptions o = Options();
  o.shadow = {1, 0x00000000u, 8, kShadowEast, 1.0, 0.5};
  qvLayer* layer = Add(10, 10, 6, 6, {0xFFFFFF}, Cover::kOpaque, o);
  layer->shadowFade = 1;  // level 0: no shadow at all
  Compose();
  EXPECT_EQ(Pixel(dst, 20, 12), kBackground);
  // The mask is cached: the fade's owner clears it when the fade changes.
  FreeMaskOrAlpha(layer->current->shadowMask);
  layer->current->shadowMask = nullptr;
  layer->shadowFade = 0;
  Compose();
  EXPECT_NE(Pixel(dst, 20, 12), kBackground);
}

TEST_F(LayerDrawTest, AnOutlineShapeOfItsBorderColourShowsOnlyTheBorder) {
  // Colour and border colour half transparent: drawn once, the outline is one blend of it.
  constexpr uint32_t colour = 0x80FF0000u;
  qvLayerOptions o = Options();
  o.border = {1, colour, 1};
  qvTransformBlock t;
  InitTransformBlock(&t);
  t.matrix[0] = t.matrix[3] = 2.0;  // rendered by the shape renderer at twice its size
  qvLayerState* state = AllocLayerState(kObjectBox);
  auto* shape = static_cast<qvShapeLayerState*>(state);
  InitDrawStyle(&shape->style);
  shape->colour = colour;
  state->x = 20;
  state->y = 14;
  state->width = 10;
  state->height = 10;
  qvLayerRequest r;
  r.bgpic = bgpic;
  r.type = kObjectBox;
  r.x = 20;
  r.y = 14;
  r.width = 10;
  r.height = 10;
  r.options = &o;
  r.transform = &t;
  r.state = state;
  qvLayer* layer = nullptr;
  ASSERT_EQ(CreateLayerRecord(L, r, &layer), 0);
  ASSERT_NE(layer->current->render.bitmap, nullptr);
  Compose();
  const uint32_t once = Blend(kBackground, colour, 127);
  int32_t onceCount = 0;
  for (int32_t y = 0; y < kHeight; ++y) {
    for (int32_t x = 0; x < kWidth; ++x) {
      uint32_t p = Pixel(dst, x, y);
      if (p == once) ++onceCount;
      // Twice blended (object over border) would be more red than once.
      ASSERT_LE((p >> 16) & 0xFF, (once >> 16) & 0xFF) << x << "," << y;
    }
  }
  EXPECT_GT(onceCount, 0);
}

TEST_F(LayerDrawTest, TransformedLayersRenderAndKeepTheirFilters) {
  qvTransformBlock t;
  InitTransformBlock(&t);
  t.matrix[0] = t.matrix[3] = 2.0;
  t.anchorX = t.anchorY = 0.0;
  qvLayerOptions o = Options();
  o.filters[kFilterInvert].on = 1;
  qvLayer* layer = Add(10, 10, 4, 4, {0x00FF00}, Cover::kOpaque, o, 255, &t);
  ASSERT_NE(layer->current->render.bitmap, nullptr);
  EXPECT_EQ(layer->current->drawWidth, 8);
  Compose();
  EXPECT_EQ(Pixel(dst, 10, 10), 0xFF00FFu);
  EXPECT_EQ(Pixel(dst, 17, 17), 0xFF00FFu);
  EXPECT_EQ(Pixel(dst, 18, 17), kBackground);
}

TEST_F(LayerDrawTest, ALineLayerRendersAtItsTransform) {
  qvTransformBlock t;
  InitTransformBlock(&t);
  t.matrix[0] = t.matrix[3] = 2.0;
  t.anchorX = t.anchorY = 0.0;
  qvLayerState* state = AllocLayerState(kObjectLine);
  auto* line = static_cast<qvShapeLayerState*>(state);
  InitDrawStyle(&line->style);
  line->colour = 0xFFFF00;
  line->x1 = 10;
  line->y1 = 30;
  line->x2 = 19;
  line->y2 = 30;
  line->thickness = 1;
  qvLayerOptions o = Options();
  qvLayerRequest r;
  r.bgpic = bgpic;
  r.type = kObjectLine;
  r.x = 10;
  r.y = 30;
  r.width = 10;
  r.height = 1;
  r.options = &o;
  r.transform = &t;
  r.state = state;
  qvLayer* layer = nullptr;
  ASSERT_EQ(CreateLayerRecord(L, r, &layer), 0);
  Compose();
  // Twice as long from the same first end.
  for (int32_t x = 10; x <= 28; ++x) EXPECT_EQ(Pixel(dst, x, 30), 0xFFFF00u) << x;
  EXPECT_EQ(Pixel(dst, 9, 30), kBackground);
  EXPECT_EQ(Pixel(dst, 29, 30), kBackground);
  EXPECT_EQ(Pixel(dst, 15, 29), kBackground);
}

TEST_F(LayerDrawTest, ARotatedOpaqueObjectsBorderFollowsItsTurn) {
  qvTransformBlock t;
  InitTransformBlock(&t);
  t.matrix[0] = t.matrix[3] = 0.70710678;
  t.matrix[1] = 0.70710678;
  t.matrix[2] = -0.70710678;
  qvLayerOptions o = Options();
  o.border = {1, 0x00FF00, 1};
  qvLayer* layer = Add(32, 24, 12, 12, {0xFF0000}, Cover::kOpaque, o, 255, &t);
  Compose();
  const qvLayerState* s = layer->current;
  int32_t bx = s->drawX - s->borderOffsetX, by = s->drawY - s->borderOffsetY;
  // The corners of the turned square's box lie outside the square and its border.
  EXPECT_EQ(Pixel(dst, bx, by), kBackground);
  EXPECT_EQ(Pixel(dst, bx + s->borderWidth - 1, by + s->borderHeight - 1), kBackground);
  EXPECT_EQ(Pixel(dst, s->drawX + s->drawWidth / 2, s->drawY + s->drawHeight / 2), 0xFF0000u);
  bool ringAbove = false;
  for (int32_t y = by; y < s->drawY; ++y)
    ringAbove |= Pixel(dst, s->drawX + s->drawWidth / 2, y) == 0x00FF00u;
  EXPECT_TRUE(ringAbove);
}

TEST_F(LayerDrawTest, RedrawFlagsAndRefusals) {
  qvLayerOptions o = Options();
  Add(10, 10, 4, 4, {0xFF0000}, Cover::kOpaque, o);
  FillBitMapRect(dst, 0, 0, kWidth, kHeight, 0x111111);
  Compose(kRedrawSpritesOnly);  // no sprites here: nothing at all
  EXPECT_EQ(Pixel(dst, 11, 11), 0x111111u);
  EXPECT_EQ(Pixel(dst, 0, 0), 0x111111u);

  // A rectangle past the BGPic is cut to it.
  qvBitMap* big = AllocBitMap(kWidth + 10, kHeight + 10);
  FillBitMapRect(big, 0, 0, kWidth + 10, kHeight + 10, 0x111111);
  Redraw(L, nullptr, bgpic, big, 8, 8, kWidth + 10, kHeight + 10, 0);
  EXPECT_EQ(Pixel(big, 11, 11), 0xFF0000u);
  EXPECT_EQ(Pixel(big, kWidth - 1, kHeight - 1), kBackground);
  EXPECT_EQ(Pixel(big, kWidth, kHeight), 0x111111u);
  EXPECT_EQ(Pixel(big, 7, 7), 0x111111u);
  FreeBitMap(big);

  struct Case {
    int32_t x, y, w, h;
    bool withDst;
    const char* line;
  };
  const Case cases[] = {
      {0, 0, 0, 5, true, "ERROR! REDRAW CALLED WITH WIDTH/HEIGHT <= 0\n"},
      {0, 0, 5, -1, true, "ERROR! REDRAW CALLED WITH WIDTH/HEIGHT <= 0\n"},
      {-1, 0, 5, 5, true, "ERROR! REDRAW CALLED WITH NEGATIVE X/Y COORDINATES\n"},
      {0, -3, 5, 5, true, "ERROR! REDRAW CALLED WITH NEGATIVE X/Y COORDINATES\n"},
      {0, 0, 5, 5, false, "ERROR! REDRAW CALLED WITHOUT DSTBM\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    FillBitMapRect(dst, 0, 0, kWidth, kHeight, 0x111111);
    testing::internal::CaptureStdout();
    Redraw(L, nullptr, bgpic, c.withDst ? dst : nullptr, c.x, c.y, c.w, c.h, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.line);
    EXPECT_EQ(Pixel(dst, 0, 0), 0x111111u);
  }
}

TEST_F(LayerDrawTest, TheBackgroundAndTheStateByTheFlags) {
  qvLayerOptions o = Options();
  qvLayer* layer = Add(10, 10, 4, 4, {0xFF0000}, Cover::kOpaque, o);
  // A display whose own picture beneath the layers differs from the BGPic's.
  qvBitMap* displayBitmap = AllocBitMap(kWidth, kHeight);
  FillBitMapRect(displayBitmap, 0, 0, kWidth, kHeight, 0x0000AA);
  qvBitMap* original = AllocBitMap(kWidth, kHeight);
  FillBitMapRect(original, 0, 0, kWidth, kHeight, 0x00AA00);
  qvDisplay display{};
  display.displayBitmap = displayBitmap;
  display.scaleX = display.scaleY = 1.0;
  qvBitMap* savedOriginal = bgpic->original.bitmap;
  bgpic->original.bitmap = original;
  // A current state of its own that shows nothing: the object's pixels are the base's alone.
  qvLayerState* current = CloneLayerState(kObjectBrush, layer->previous);
  ASSERT_NE(current, nullptr);
  layer->current = current;

  struct Case {
    const char* what;
    bool ownBGPic;
    int32_t flags;
    uint32_t background;
    bool layerShown;
  };
  const Case cases[] = {
      {"the display's own BGPic: its bitmap", true, 0, 0x0000AA, false},
      {"another BGPic: its current picture", false, 0, kBackground, false},
      {"flag 4: the display's bitmap", false, kRedrawFromDisplayBitmap, 0x0000AA, false},
      {"flag 8: the BGPic's picture", true, kRedrawFromBGPic, kBackground, false},
      {"flag 16: the original and the unscaled states", true, kRedrawUnscaled, 0x00AA00, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    display.bgpic = c.ownBGPic ? bgpic : nullptr;
    Redraw(L, &display, bgpic, dst, 0, 0, kWidth, kHeight, c.flags);
    EXPECT_EQ(Pixel(dst, 0, 0), c.background);
    EXPECT_EQ(Pixel(dst, 11, 11), c.layerShown ? 0xFF0000u : c.background);
  }
  layer->current = layer->previous;
  FreeLayerState(L, kObjectBrush, current);
  bgpic->original.bitmap = savedOriginal;
  FreeBitMap(original);
  FreeBitMap(displayBitmap);
}

TEST_F(LayerDrawTest, ClippedLayerBitmapHonoursTheRegionsMask) {
  qvBitMap* src = AllocBitMap(4, 1);
  FillBitMapRect(src, 0, 0, 4, 1, 0xFF0000);
  qvClipRegion clip{};
  clip.x = 10;
  clip.y = 0;
  clip.width = 3;  // the fourth pixel lies outside the region
  clip.height = 1;
  clip.mask = AllocMask(3, 1, true);
  WriteBitMapPixel(clip.mask, 0, 0, 0);
  WriteBitMapPixel(clip.mask, 2, 0, 0);
  for (int32_t t : {0, 100}) {
    SCOPED_TRACE(t);
    FillBitMapRect(dst, 0, 0, kWidth, kHeight, 0x0000FF);
    ASSERT_EQ(DrawClippedLayerBitmap(L, src, nullptr, nullptr, 0, 0, dst, 10, 0, 4, 1, t, &clip),
              0);
    uint32_t in = t == 0 ? 0xFF0000 : Mix(0x0000FF, 0xFF0000, t);
    EXPECT_EQ(Pixel(dst, 10, 0), in);
    EXPECT_EQ(Pixel(dst, 11, 0), 0x0000FFu);
    EXPECT_EQ(Pixel(dst, 12, 0), in);
    EXPECT_EQ(Pixel(dst, 13, 0), 0x0000FFu);
  }
  FreeMaskOrAlpha(clip.mask);
  FreeBitMap(src);
}

TEST_F(LayerDrawTest, LayerPixelsAndTheirRefusals) {
  qvLayerOptions o = Options();
  qvLayer* layer = Add(10, 10, 4, 4, {0xFF0000}, Cover::kOpaque, o);
  qvLayerPixels px{};
  ASSERT_EQ(GetLayerObjectBitmaps(L, layer, layer->current, true, true, -1, &px), 0);
  EXPECT_EQ(px.bitmap, layer->current->object.bitmap);
  EXPECT_EQ(px.width, 4);

  struct Case {
    const char* what;
    int32_t kind;
  };
  const Case cases[] = {{"no object", kObjectNoObject}, {"a box without a render", kObjectBox}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    qvLayer fake{};
    qvShapeLayerState state{};
    fake.kind = c.kind;
    fake.base = fake.previous = fake.current = &state;
    EXPECT_EQ(GetLayerObjectBitmaps(L, &fake, &state, true, true, -1, &px), ERR_WRONGUSAGE);
  }
}

TEST(RotatedInset, GrowsWithTheTransform) {
  const double identity[4] = {1, 0, 0, 1}, twice[4] = {2, 0, 0, 2}, quarter[4] = {0, 1, -1, 0};
  EXPECT_EQ(GetRotatedInset(identity, 10, 6, 3), 3);
  EXPECT_EQ(GetRotatedInset(twice, 10, 6, 3), 6);
  EXPECT_EQ(GetRotatedInset(quarter, 10, 6, 3), 3);
}

}  // namespace
}  // namespace qv
