// The compositor with layers: Redraw, the choice of a layer's pixels, its border, its shadow and
// the clipped blit that every part of a layer goes through.
#include "layers/layer_draw.h"

#include <algorithm>
#include <cmath>

#include "base/errors.h"
#include "base/support.h"
#include "display/brushes.h"
#include "display/clip_regions.h"
#include "display/displays.h"
#include "display/output.h"
#include "layers/compositor.h"
#include "platform/textout.h"

namespace qv {

namespace {

struct Rect {
  int64_t x1, y1, x2, y2;  // x2, y2 exclusive
  bool Empty() const { return x1 >= x2 || y1 >= y2; }
  Rect Cut(const Rect& o) const {
    return {std::max(x1, o.x1), std::max(y1, o.y1), std::min(x2, o.x2), std::min(y2, o.y2)};
  }
  int32_t X() const { return static_cast<int32_t>(x1); }
  int32_t Y() const { return static_cast<int32_t>(y1); }
  int32_t W() const { return static_cast<int32_t>(x2 - x1); }
  int32_t H() const { return static_cast<int32_t>(y2 - y1); }
};
Rect RectOf(int32_t x, int32_t y, int32_t w, int32_t h) {
  return {x, y, int64_t{x} + w, int64_t{y} + h};
}
Rect RectOf(const qvLayerArea& a) { return RectOf(a.x, a.y, a.width, a.height); }

void FreeSet(qvPlaneSet* set) {
  FreeBitMap(set->bitmap);
  FreeMaskOrAlpha(set->mask);
  FreeMaskOrAlpha(set->alpha);
  *set = {};
}

int32_t PlaneWidth(const qvBitMap* b) { return b != nullptr ? b->width : 0; }
int32_t PlaneHeight(const qvBitMap* b) { return b != nullptr ? b->height : 0; }

// A level scaled by a fade word (0: none; else 1 + the level 0..255).
int32_t Faded(int32_t level, int32_t fade) {
  return fade != 0 ? level * std::clamp(fade - 1, 0, 255) / 255 : level;
}

// Copies the rectangle of src into dst where the clip region admits the pixel.
void CopyThroughClip(const qvBitMap* src, qvBitMap* dst, int32_t dx, int32_t dy, int32_t w,
                     int32_t h, const qvClipRegion* clip) {
  for (int32_t y = 0; y < h; ++y) {
    const auto* s = reinterpret_cast<const uint32_t*>(src->pixels + int64_t{y} * src->bytesPerRow);
    auto* d = reinterpret_cast<uint32_t*>(dst->pixels + int64_t{dy + y} * dst->bytesPerRow);
    for (int32_t x = 0; x < w; ++x) {
      if (ClipRegionAdmits(clip, dx + x, dy + y)) d[dx + x] = s[x];
    }
  }
}

// The plain blit of a source with its mask or alpha (a mask wins), no transparency.
void BlitPlanes(const qvBitMap* src, const qvPlane* mask, const qvPlane* alpha, int32_t sx,
                int32_t sy, qvBitMap* dst, int32_t dx, int32_t dy, int32_t w, int32_t h) {
  if (mask != nullptr) {
    BltMaskBitMap(src, sx, sy, dst, dx, dy, w, h, mask);
  } else if (alpha != nullptr) {
    BltAlphaBitMap(src, sx, sy, dst, dx, dy, w, h, alpha);
  } else {
    BltBitMap(src, sx, sy, dst, dx, dy, w, h);
  }
}

// The source's rectangle mixed in at 255 - t: s + (((d - s) t) >> 8) through a mask, an alpha
// scaled by (255 - t) / 255, or everywhere.
int MixPlanes(const qvBitMap* src, const qvPlane* mask, const qvPlane* alpha, int32_t sx,
              int32_t sy, qvBitMap* dst, int32_t dx, int32_t dy, int32_t w, int32_t h, int32_t t) {
  return MixBitMaps(dst, src, alpha != nullptr ? nullptr : mask, dx, dy, sx, sy, w, h, 255 - t,
                    mask != nullptr ? nullptr : alpha, sx + w, sy + h);
}

// The layer's state pixels or, without them, the object's own.
int ObjectPixels(qvScriptState* L, const qvLayer* layer, const qvLayerState* state,
                 qvLayerPixels* out) {
  switch (layer->kind) {
    case kObjectBrush:
    case kObjectBrushPart: {
      qvBrush* brush = nullptr;
      int code = FindBrush(L, layer->id, &brush, kFindLayerCopies);
      if (code != 0) return code;
      const auto* b = static_cast<const qvBrushLayerState*>(state);
      int32_t px = layer->kind == kObjectBrushPart ? std::max(b->partX, 0) : 0;
      int32_t py = layer->kind == kObjectBrushPart ? std::max(b->partY, 0) : 0;
      int32_t w = state->width > 0 ? state->width : brush->width;
      int32_t h = state->height > 0 ? state->height : brush->height;
      *out = {brush->bitmap,
              brush->mask,
              brush->alpha,
              std::min(w, brush->width - px),
              std::min(h, brush->height - py),
              px,
              py,
              brush->kind == kBrushVector,
              false};
      return 0;
    }
    case kObjectBGPicPart: {
      qvBGPic* bgpic = nullptr;
      if (layer->id.number == -1 && layer->id.handle == nullptr) {
        const qvDisplay* d = CurrentDisplay();
        bgpic = d != nullptr ? d->bgpic : nullptr;
        if (bgpic == nullptr) return ERR_WRONGUSAGE;
      } else {
        int code = FindBGPic(L, layer->id, &bgpic, kFindLayerCopies);
        if (code != 0) return code;
      }
      const auto* b = static_cast<const qvBrushLayerState*>(state);
      int32_t px = std::max(b->partX, 0), py = std::max(b->partY, 0);
      int32_t w = state->width > 0 ? state->width : bgpic->width;
      int32_t h = state->height > 0 ? state->height : bgpic->height;
      *out = {bgpic->current.bitmap,
              bgpic->current.mask,
              bgpic->current.alpha,
              std::min(w, bgpic->width - px),
              std::min(h, bgpic->height - py),
              px,
              py,
              false,
              false};
      return 0;
    }
    default:
      // Anims and text objects draw from their own subsystems, which are not here yet: until
      // they come such a layer shows only pixels its state holds. Shapes and paths have no
      // pixels but their renders.
      return ERR_WRONGUSAGE;
  }
}

// The drawn rectangle of a plane set: the draw size, cut to the bitmap.
void SetPixels(const qvPlaneSet& set, const qvLayerState* state, bool filtered,
               qvLayerPixels* out) {
  int32_t w = state->drawWidth > 0 ? std::min(state->drawWidth, PlaneWidth(set.bitmap))
                                   : PlaneWidth(set.bitmap);
  int32_t h = state->drawHeight > 0 ? std::min(state->drawHeight, PlaneHeight(set.bitmap))
                                    : PlaneHeight(set.bitmap);
  *out = {set.bitmap, set.mask, set.alpha, w, h, 0, 0, false, filtered};
}

// One pixel of the shadow's colour at the given coverage. Red and blue go together in one word:
// each channel's d (256 - a) + c a stays below 2^16, so neither spills into the other.
inline uint32_t Shade(uint32_t d, uint32_t colour, uint32_t level) {
  const uint32_t keep = 256 - level;
  uint32_t rb = ((d & 0xFF00FFu) * keep + (colour & 0xFF00FFu) * level) >> 8;
  uint32_t g = ((d & 0xFF00u) * keep + (colour & 0xFF00u) * level) >> 8;
  return (d & 0xFF000000u) | (rb & 0xFF00FFu) | (g & 0xFF00u);
}

// A row of the shadow: no coverage leaves the pixel as it is, which the blend does anyway, so
// the loop has no branch.
void ShadeRow(uint32_t* d, const uint8_t* a, uint32_t colour, int32_t n) {
  for (int32_t x = 0; x < n; ++x) d[x] = Shade(d[x], colour, a[x]);
}

void DrawShadow(qvScriptState* L, qvLayer* layer, qvLayerState* state, double sx, double sy,
                const Rect& clip, qvBitMap* dst) {
  if (layer->border.on) BuildLayerBorder(L, layer, state, sx, sy, nullptr);
  if (state->shadowMask == nullptr) {
    int32_t opacity = Faded(255 - static_cast<int32_t>(layer->shadow.colour >> 24),
                            layer->shadowFade);
    qvLayerPixels src{};
    if (state->bordered.bitmap != nullptr) {
      src = {state->bordered.bitmap,
             state->bordered.mask,
             state->bordered.alpha,
             state->borderWidth,
             state->borderHeight,
             0,
             0,
             false,
             false};
    } else if (GetLayerObjectBitmaps(L, layer, state, true, true, -1, &src) != 0) {
      return;
    }
    state->shadowMask = BuildShadowAlpha(src.alpha, src.mask, src.srcX, src.srcY, src.width,
                                         src.height, layer->shadow.radius, layer->shadow.sigma,
                                         opacity, false, false);
    if (state->shadowMask == nullptr) return;
  }
  qvLayerArea area = GetShadowRect(layer, state, sx, sy);
  const qvPlane* m = state->shadowMask;
  Rect r = RectOf(area.x, area.y, std::min(area.width, m->width), std::min(area.height, m->height))
               .Cut(clip);
  if (r.Empty()) return;
  // The colour through the blurred coverage: d + (((c - d) a) >> 8) per channel, which is
  // (d (256 - a) + c a) >> 8; the destination's top byte stays.
  const uint32_t colour = layer->shadow.colour;
  const qvClipRegion* region = state->clipRegion;
  const bool test = ClipRegionHasMask(region);
  for (int64_t y = r.y1; y < r.y2; ++y) {
    const uint8_t* a = m->data + (y - area.y) * m->bytesPerRow + (r.x1 - area.x);
    auto* d = reinterpret_cast<uint32_t*>(dst->pixels + y * dst->bytesPerRow) + r.x1;
    const auto n = static_cast<int32_t>(r.x2 - r.x1);
    if (!test) {
      ShadeRow(d, a, colour, n);
      continue;
    }
    for (int32_t x = 0; x < n; ++x) {
      if (a[x] == 0 ||
          !ClipRegionAdmits(region, static_cast<int32_t>(r.x1 + x), static_cast<int32_t>(y))) {
        continue;
      }
      d[x] = Shade(d[x], colour, a[x]);
    }
  }
}

// The border covers an outline shape of its own colour: the shape itself is not drawn.
bool HiddenByBorder(const qvLayer* layer, const qvLayerState* state) {
  if (!layer->border.on || !IsShapeLayerKind(layer->kind)) return false;
  const auto* s = static_cast<const qvShapeLayerState*>(state);
  return s->style.fillStyle == kFillNone && s->colour == layer->border.colour;
}

void DrawOneLayer(qvScriptState* L, const qvDisplay* display, const qvBGPic* bgpic, qvLayer* layer,
                  bool unscaled, const Rect& area, qvBitMap* dst) {
  if (layer->kind == kObjectNoObject) return;
  qvLayerState* state = unscaled ? layer->previous : layer->current;
  if (state == nullptr) return;
  Rect clip = area;
  if (const qvClipRegion* c = state->clipRegion; c != nullptr) {
    clip = clip.Cut(RectOf(c->x, c->y, c->width, c->height));
  }
  if (clip.Empty() || layer->hidden || layer->skipDraw) return;
  // A layer whose filters cannot be made is left out rather than shown unfiltered.
  if (EnsureFilteredBitmap(L, layer, state) != 0) return;
  double sx = 1.0, sy = 1.0;
  if (!unscaled) LayerStateScale(display, bgpic, layer, state, &sx, &sy);

  if (layer->shadow.on) DrawShadow(L, layer, state, sx, sy, clip, dst);

  if (layer->border.on) {
    qvLayerArea b{};
    if (BuildLayerBorder(L, layer, state, sx, sy, &b) == 0 && state->bordered.bitmap != nullptr) {
      Rect r = RectOf(b).Cut(clip);
      if (!r.Empty()) {
        int32_t opacity = Faded(255 - std::clamp(layer->transparency, 0, 255), layer->layerFade);
        DrawClippedLayerBitmap(L, state->bordered.bitmap, state->bordered.mask,
                               state->bordered.alpha, static_cast<int32_t>(r.x1 - b.x),
                               static_cast<int32_t>(r.y1 - b.y), dst, r.X(), r.Y(), r.W(), r.H(),
                               255 - opacity, state->clipRegion);
      }
    }
  }

  if (HiddenByBorder(layer, state)) return;
  qvLayerPixels px{};
  if (GetLayerObjectBitmaps(L, layer, state, true, true, -1, &px) != 0 || px.bitmap == nullptr) {
    return;
  }
  Rect r = RectOf(state->drawX, state->drawY, px.width, px.height).Cut(clip);
  if (r.Empty()) return;
  DrawClippedLayerBitmap(L, px.bitmap, px.mask, px.alpha,
                         static_cast<int32_t>(px.srcX + (r.x1 - state->drawX)),
                         static_cast<int32_t>(px.srcY + (r.y1 - state->drawY)), dst, r.X(), r.Y(),
                         r.W(), r.H(), layer->transparency, state->clipRegion);
}

}  // namespace

void Redraw(qvScriptState* L, qvDisplay* display, qvBGPic* bgpic, qvBitMap* dst, int32_t x,
            int32_t y, int32_t width, int32_t height, int32_t flags) {
  if (width < 1 || height < 1) {
    OutputText("ERROR! REDRAW CALLED WITH WIDTH/HEIGHT <= 0\n");
    return;
  }
  if (x < 0 || y < 0) {
    OutputText("ERROR! REDRAW CALLED WITH NEGATIVE X/Y COORDINATES\n");
    return;
  }
  if (dst == nullptr) {
    OutputText("ERROR! REDRAW CALLED WITHOUT DSTBM\n");
    return;
  }
  if (bgpic == nullptr) return;
  const bool unscaled = (flags & kRedrawUnscaled) != 0;
  const int32_t bw = unscaled ? bgpic->originalWidth : bgpic->width;
  const int32_t bh = unscaled ? bgpic->originalHeight : bgpic->height;
  // Cut to the destination too: nothing is written past a bitmap smaller than the BGPic.
  Rect area =
      RectOf(x, y, width, height).Cut({0, 0, std::min(bw, dst->width), std::min(bh, dst->height)});
  if (area.Empty()) return;

  if (!(flags & kRedrawSpritesOnly)) {
    const qvBitMap* background = bgpic->current.bitmap;
    if (unscaled) {
      background = bgpic->original.bitmap;
    } else if (flags & kRedrawFromBGPic) {
      background = bgpic->current.bitmap;
    } else if (display != nullptr &&
               ((flags & kRedrawFromDisplayBitmap) || display->bgpic == bgpic)) {
      background = display->displayBitmap;
    }
    if (background != nullptr && background != dst) {
      BltBitMap(background, area.X(), area.Y(), dst, area.X(), area.Y(), area.W(), area.H());
    }
    for (qvLayer* layer = FirstLayer(bgpic); layer != nullptr; layer = NextLayer(layer)) {
      DrawOneLayer(L, display, bgpic, layer, unscaled, area, dst);
    }
  }
  if (!(flags & kRedrawNoSprites)) {
    DrawSpriteEntries(bgpic, dst, area.X(), area.Y(), area.W(), area.H());
  }
}

int GetLayerObjectBitmaps(qvScriptState* L, const qvLayer* layer, const qvLayerState* state,
                          bool useFiltered, bool useRender, int32_t, qvLayerPixels* out) {
  *out = {};
  if (layer->kind == kObjectNoObject || state == nullptr) return ERR_WRONGUSAGE;
  // The filtered planes are made from the render (or the object) and so stand for it: a layer
  // with a transform or a display scale keeps its filters.
  if (useFiltered && state->filtered.bitmap != nullptr) {
    SetPixels(state->filtered, state, true, out);
  } else if (useRender && state->render.bitmap != nullptr) {
    SetPixels(state->render, state, false, out);
  } else if (state->object.bitmap != nullptr) {
    SetPixels(state->object, state, false, out);
  } else {
    return ObjectPixels(L, layer, state, out);
  }
  return 0;
}

void LayerStateScale(const qvDisplay* display, const qvBGPic* bgpic, const qvLayer* layer,
                     const qvLayerState* state, double* scaleX, double* scaleY) {
  bool scaled = DisplayScalesLayers(display, bgpic) && state == layer->current &&
                state != layer->previous;
  *scaleX = scaled ? display->scaleX : 1.0;
  *scaleY = scaled ? display->scaleY : 1.0;
}

int DrawLayer(qvScriptState* L, qvLayer* layer, const qvLayerState* state, uint32_t colour,
              int32_t size, double scaleX, double scaleY, qvBorderRender* out) {
  *out = {};
  // The border goes round what is drawn at this state's transform and scale: its render, or
  // the object's pixels where there is none (never the filtered picture).
  qvLayerPixels px{};
  int code = GetLayerObjectBitmaps(L, layer, state, false, true, -1, &px);
  if (code != 0) return code;
  if (px.bitmap == nullptr || px.width < 1 || px.height < 1) return ERR_WRONGUSAGE;
  size = std::max(size, 1);
  const double* m = layer->transform.matrix;
  const double scaled[4] = {m[0] * scaleX, m[1] * scaleY, m[2] * scaleX, m[3] * scaleY};
  int32_t s = size;
  if (!(scaled[0] == 1.0 && scaled[1] == 0.0 && scaled[2] == 0.0 && scaled[3] == 1.0)) {
    int32_t w = state->width > 0 ? state->width : px.width;
    int32_t h = state->height > 0 ? state->height : px.height;
    s = std::max(GetRotatedInset(scaled, w, h, size), 1);
  }
  const int64_t bw = int64_t{px.width} + 2 * int64_t{s}, bh = int64_t{px.height} + 2 * int64_t{s};
  if (bw > INT32_MAX || bh > INT32_MAX) return ERR_MEM;
  qvPlaneSet set{AllocBitMap(static_cast<int32_t>(bw), static_cast<int32_t>(bh)), nullptr, nullptr};
  if (set.bitmap == nullptr) return ERR_MEM;
  FillBitMapRect(set.bitmap, 0, 0, set.bitmap->width, set.bitmap->height, colour & 0xFFFFFFu);
  if (px.mask != nullptr || px.alpha != nullptr) {
    // The silhouette grown by s with a hard edge; a wide border is softened by a second blur.
    set.alpha = BuildShadowAlpha(px.alpha, px.mask, px.srcX, px.srcY, px.width, px.height, s,
                                 s / 3.0, 255, true, size >= 4);
    if (set.alpha == nullptr) {
      FreeSet(&set);
      return ERR_MEM;
    }
  }
  const int32_t transparency = static_cast<int32_t>(colour >> 24);
  if (transparency != 0) {
    code = ApplyTransparencyToAlpha(&set.alpha, &set.mask, set.bitmap->width, set.bitmap->height,
                                    255 - transparency);
    if (code != 0) {
      FreeSet(&set);
      return code;
    }
  }
  *out = {set, s, s, set.bitmap->width, set.bitmap->height};
  return 0;
}

int BuildLayerBorder(qvScriptState* L, qvLayer* layer, qvLayerState* state, double scaleX,
                     double scaleY, qvLayerArea* out) {
  if (state->bordered.bitmap == nullptr) {
    qvBorderRender b{};
    int code = DrawLayer(L, layer, state, layer->border.colour, layer->border.size, scaleX, scaleY,
                         &b);
    if (code != 0) {
      if (out != nullptr) *out = {};
      return code;
    }
    state->bordered = b.planes;
    state->borderOffsetX = b.offsetX;
    state->borderOffsetY = b.offsetY;
    state->borderWidth = b.width;
    state->borderHeight = b.height;
  }
  if (out != nullptr) {
    *out = {state->drawX - state->borderOffsetX, state->drawY - state->borderOffsetY,
            state->borderWidth, state->borderHeight};
  }
  return 0;
}

qvLayerArea GetShadowRect(const qvLayer* layer, const qvLayerState* state, double scaleX,
                          double scaleY) {
  qvLayerArea a{state->drawX, state->drawY, state->drawWidth, state->drawHeight};
  if (layer->border.on && state->borderWidth > 0) {
    a = {state->drawX - state->borderOffsetX, state->drawY - state->borderOffsetY,
         state->borderWidth, state->borderHeight};
  }
  const int32_t r = std::max(TruncateToInt(layer->shadow.radius), 0);
  a = {a.x - r, a.y - r, a.width + 2 * r, a.height + 2 * r};
  const int32_t dx = TruncateToInt(layer->shadow.size * scaleX);
  const int32_t dy = TruncateToInt(layer->shadow.size * scaleY);
  switch (layer->shadow.direction) {
    case kShadowNorth:
    case kShadowNorthEast:
    case kShadowNorthWest:
      a.y -= dy;
      break;
    case kShadowSouthEast:
    case kShadowSouth:
    case kShadowSouthWest:
      a.y += dy;
      break;
    default:
      break;
  }
  switch (layer->shadow.direction) {
    case kShadowNorthEast:
    case kShadowEast:
    case kShadowSouthEast:
      a.x += dx;
      break;
    case kShadowSouthWest:
    case kShadowWest:
    case kShadowNorthWest:
      a.x -= dx;
      break;
    default:
      break;
  }
  return a;
}

int DrawClippedLayerBitmap(qvScriptState*, const qvBitMap* src, const qvPlane* mask,
                           const qvPlane* alpha, int32_t sx, int32_t sy, qvBitMap* dst, int32_t dx,
                           int32_t dy, int32_t width, int32_t height, int32_t transparency,
                           const qvClipRegion* clip) {
  if (src == nullptr || dst == nullptr) return 0;
  // The compositor writes into a plain bitmap of its own: the output road (SafeBlt) would also
  // update the output's planes and refresh the window, which a recompose must not.
  if (!ClipBltRect(clip, &sx, &sy, &dx, &dy, &width, &height, src->width, src->height, dst->width,
                   dst->height, true)) {
    return 0;
  }
  const int32_t t = std::clamp(transparency, 0, 255);
  if (t == 255) return 0;
  if (!ClipRegionHasMask(clip)) {
    if (t == 0) {
      BlitPlanes(src, mask, alpha, sx, sy, dst, dx, dy, width, height);
      return 0;
    }
    return MixPlanes(src, mask, alpha, sx, sy, dst, dx, dy, width, height, t);
  }
  // Through the region's mask: composed on a copy of the destination's area, which is copied
  // back where the mask admits it.
  qvBitMap* temp = AllocBitMap(width, height);
  if (temp == nullptr) return ERR_MEM;
  BltBitMap(dst, dx, dy, temp, 0, 0, width, height);
  int code = 0;
  if (t == 0) {
    // The planes are read at the source's coordinates: a view that starts at the corner.
    BlitPlanes(src, mask, alpha, sx, sy, temp, 0, 0, width, height);
  } else {
    code = MixPlanes(src, mask, alpha, sx, sy, temp, 0, 0, width, height, t);
  }
  if (code == 0) CopyThroughClip(temp, dst, dx, dy, width, height, clip);
  FreeBitMap(temp);
  return code;
}

int32_t GetRotatedInset(const double matrix[4], int32_t width, int32_t height, int32_t border) {
  int32_t w0 = 0, h0 = 0, w1 = 0, h1 = 0;
  GetTransformedBounds(0, 0, width, height, 0.5, 0.5, matrix, nullptr, nullptr, &w0, &h0);
  GetTransformedBounds(0, 0, width + 2 * border, height + 2 * border, 0.5, 0.5, matrix, nullptr,
                       nullptr, &w1, &h1);
  if (w0 == INT32_MIN || w1 == INT32_MIN || h0 == INT32_MIN || h1 == INT32_MIN) return border;
  int64_t grow = std::max(int64_t{w1} - w0, int64_t{h1} - h0);
  return static_cast<int32_t>(std::clamp<int64_t>((grow + 1) / 2, 0, INT32_MAX));
}

}  // namespace qv
