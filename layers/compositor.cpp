// The sprites of a target: drawn over its picture and its layers in list order, each through its
// frame's mask or alpha channel and the clip region the target had when the sprite was shown; and
// the core's recompose, which goes through Redraw.
#include "layers/compositor.h"

#include <algorithm>
#include <cstdint>

#include "core/layer_system.h"
#include "display/display.h"
#include "display/sprites.h"
#include "layers/layer_draw.h"

namespace qv {

namespace {

struct Rect {
  int64_t x1, y1, x2, y2;  // x2, y2 exclusive
  bool Empty() const { return x1 >= x2 || y1 >= y2; }
  Rect Cut(const Rect& o) const {
    return {std::max(x1, o.x1), std::max(y1, o.y1), std::min(x2, o.x2), std::min(y2, o.y2)};
  }
};

Rect EntryRect(const qvSpriteEntry* e) {
  return {e->x, e->y, int64_t{e->x} + e->width, int64_t{e->y} + e->height};
}

bool MaskBit(const qvPlane* plane, int64_t x, int64_t y) {
  return (plane->data[y * plane->bytesPerRow + (x >> 3)] >> (7 - (x & 7))) & 1;
}

uint32_t Mix(uint32_t d, uint32_t s, uint32_t a) {
  if (a == 0) return d;
  if (a == 255) return s;
  uint32_t out = d & 0xFF000000u;
  for (int shift = 0; shift < 24; shift += 8) {
    auto dc = static_cast<int32_t>((d >> shift) & 0xFF),
         sc = static_cast<int32_t>((s >> shift) & 0xFF);
    auto c = static_cast<uint32_t>(dc + (((sc - dc) * static_cast<int32_t>(a)) >> 8));
    out |= (c & 0xFF) << shift;
  }
  return out;
}

// Pixel by pixel where the entry's clip region has a mask: the plain blits clip to rectangles
// only.
void DrawThroughClipMask(const qvBitMap* src, const qvPlane* mask, const qvPlane* alpha,
                         const qvClipRegion* clip, qvBitMap* dst, const Rect& r, int64_t sx0,
                         int64_t sy0) {
  if (src->bytesPerPixel != 4 || dst->bytesPerPixel != 4) return;
  for (int64_t y = r.y1; y < r.y2; ++y) {
    int64_t sy = sy0 + (y - r.y1);
    const auto* srow = reinterpret_cast<const uint32_t*>(src->pixels + sy * src->bytesPerRow);
    auto* drow = reinterpret_cast<uint32_t*>(dst->pixels + y * dst->bytesPerRow);
    for (int64_t x = r.x1; x < r.x2; ++x) {
      if (!ClipRegionAdmits(clip, static_cast<int32_t>(x), static_cast<int32_t>(y))) continue;
      int64_t sx = sx0 + (x - r.x1);
      if (mask != nullptr) {
        if (MaskBit(mask, sx, sy)) drow[x] = srow[sx];
      } else if (alpha != nullptr) {
        drow[x] = Mix(drow[x], srow[sx], alpha->data[sy * alpha->bytesPerRow + sx]);
      } else {
        drow[x] = srow[sx];
      }
    }
  }
}

void DrawEntry(const qvSpriteEntry* e, qvBitMap* dst, const Rect& area) {
  Rect r = EntryRect(e).Cut(area);
  const qvClipRegion* clip = e->clipRegion;
  if (clip != nullptr) {
    r = r.Cut({clip->x, clip->y, int64_t{clip->x} + clip->width, int64_t{clip->y} + clip->height});
  }
  if (r.Empty()) return;
  qvBitMap* bitmap = nullptr;
  qvPlane* mask = nullptr;
  qvPlane* alpha = nullptr;
  GetSpriteFrameBitMaps(e->sprite, e->frame - 1, &bitmap, &mask, &alpha);
  if (bitmap == nullptr) return;
  int64_t sx = r.x1 - e->x, sy = r.y1 - e->y;
  if (ClipRegionHasMask(clip)) {
    DrawThroughClipMask(bitmap, mask, alpha, clip, dst, r, sx, sy);
    return;
  }
  auto isx = static_cast<int32_t>(sx), isy = static_cast<int32_t>(sy);
  auto dx = static_cast<int32_t>(r.x1), dy = static_cast<int32_t>(r.y1);
  auto w = static_cast<int32_t>(r.x2 - r.x1), h = static_cast<int32_t>(r.y2 - r.y1);
  if (mask != nullptr) {
    BltMaskBitMap(bitmap, isx, isy, dst, dx, dy, w, h, mask);
  } else if (alpha != nullptr) {
    BltAlphaBitMap(bitmap, isx, isy, dst, dx, dy, w, h, alpha);
  } else {
    BltBitMap(bitmap, isx, isy, dst, dx, dy, w, h);
  }
}

}  // namespace

bool SpritesMeetRect(const qvBGPic* target, int32_t x, int32_t y, int32_t width, int32_t height) {
  Rect r{x, y, int64_t{x} + width, int64_t{y} + height};
  if (r.Empty()) return false;
  for (const qvSpriteEntry* e = TargetSpriteEntries(target); e != nullptr; e = e->next) {
    if (!EntryRect(e).Cut(r).Empty()) return true;
  }
  return false;
}

void DrawSpriteEntries(const qvBGPic* target, qvBitMap* dst, int32_t x, int32_t y, int32_t width,
                       int32_t height) {
  Rect area{x, y, int64_t{x} + width, int64_t{y} + height};
  for (const qvSpriteEntry* e = TargetSpriteEntries(target); e != nullptr; e = e->next) {
    // Most entries lie elsewhere: a plain test before any other work.
    if (e->x >= area.x2 || e->y >= area.y2 || int64_t{e->x} + e->width <= area.x1 ||
        int64_t{e->y} + e->height <= area.y1) {
      continue;
    }
    DrawEntry(e, dst, area);
  }
}

void ComposeTarget(qvScriptState* L, qvDisplay* display, qvBGPic* target, qvBitMap* dst, int32_t x,
                   int32_t y, int32_t width, int32_t height, int32_t flags, int32_t mode) {
  if (target == nullptr || dst == nullptr) return;
  // The blit road hands rectangles that may reach past the picture: cut here, so that Redraw's
  // complaints stay for callers that mean what they pass.
  Rect area = Rect{x, y, int64_t{x} + width, int64_t{y} + height}.Cut(
      {0, 0, std::min(target->width, dst->width), std::min(target->height, dst->height)});
  if (area.Empty()) return;
  if (mode == kRecomposeAbove) flags |= kRedrawSpritesOnly;
  if (mode == kRecomposeBeneath) flags |= kRedrawNoSprites;
  Redraw(L, display, target, dst, static_cast<int32_t>(area.x1), static_cast<int32_t>(area.y1),
         static_cast<int32_t>(area.x2 - area.x1), static_cast<int32_t>(area.y2 - area.y1), flags);
}

}  // namespace qv
