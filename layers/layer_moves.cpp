// The changes of a layer's place that every other change is modelled on: moving a layer,
// swapping two in the list, and a renderer resizing the state it re-rendered.
#include <algorithm>
#include <cmath>

#include "base/errors.h"
#include "base/support.h"
#include "display/async_draw.h"
#include "display/displays.h"
#include "layers/layer_refresh.h"

namespace qv {

namespace {

// A draw rectangle at least as large as the rectangle the caller had before (an object that
// shrank).
qvLayerArea AtLeast(qvLayerArea r, const qvLayerArea* old) {
  if (old != nullptr) {
    r.width = std::max(r.width, old->width);
    r.height = std::max(r.height, old->height);
  }
  return r;
}

bool MeetsBGPic(const qvLayerArea& r, const qvBGPic* bgpic) {
  return r.width > 0 && r.height > 0 && int64_t{r.x} + r.width > 0 && r.x < bgpic->width &&
         int64_t{r.y} + r.height > 0 && r.y < bgpic->height;
}

int32_t Anchored(int32_t position, int32_t size, double anchor) {
  return SaturateToInt32(int64_t{position} - static_cast<int64_t>(std::trunc(size * anchor)));
}

void FreePlanes(qvPlaneSet* set) {
  FreeBitMap(set->bitmap);
  FreeMaskOrAlpha(set->mask);
  FreeMaskOrAlpha(set->alpha);
  *set = {nullptr, nullptr, nullptr};
}

}  // namespace

void MoveLayerState(qvLayerState* state, const qvLayer* layer, int32_t x, int32_t y) {
  int64_t offsetX = int64_t{state->drawX} - state->anchoredX;
  int64_t offsetY = int64_t{state->drawY} - state->anchoredY;
  int64_t dx = int64_t{x} - state->x, dy = int64_t{y} - state->y;
  state->x = x;
  state->y = y;
  const qvLayerState* base = layer->base != nullptr ? layer->base : state;
  if (layer->kind == kObjectLine) {
    // A line is placed by its end points, which no anchor shifts.
    state->anchoredX = x;
    state->anchoredY = y;
    auto* line = static_cast<qvShapeLayerState*>(state);
    line->x1 = SaturateToInt32(line->x1 + dx);
    line->y1 = SaturateToInt32(line->y1 + dy);
    line->x2 = SaturateToInt32(line->x2 + dx);
    line->y2 = SaturateToInt32(line->y2 + dy);
  } else {
    state->anchoredX = Anchored(x, base->width, layer->anchorX);
    state->anchoredY = Anchored(y, base->height, layer->anchorY);
  }
  state->drawX = SaturateToInt32(state->anchoredX + offsetX);
  state->drawY = SaturateToInt32(state->anchoredY + offsetY);
}

void MoveLayerCore(qvScriptState* L, qvBGPic* bgpic, qvLayer* layer, const qvLayerArea* oldRect,
                   int32_t x, int32_t y, bool noRefresh, int32_t flags, qvRectList* list,
                   qvLayerArea* area) {
  const qvDisplay* display = CurrentDisplay();
  bool effects = layer->shadow.on || layer->border.on;
  qvLayerArea oldBounds{};
  if (effects) oldBounds = GetLayerBounds(display, bgpic, layer, layer->current);
  qvLayerArea changed{};
  if (x == kLayerKeepPosition && y == kLayerKeepPosition) {
    changed = AtLeast(LayerDrawRect(layer->current), oldRect);
  } else {
    qvLayerArea before = AtLeast(LayerDrawRect(layer->current), oldRect);
    qvLayerState* base = layer->base;
    int32_t nx = (flags & kMoveRelativeX) != 0 ? SaturateToInt32(int64_t{base->x} + x)
                 : x == kLayerKeepPosition     ? base->x
                                               : x;
    int32_t ny = (flags & kMoveRelativeY) != 0 ? SaturateToInt32(int64_t{base->y} + y)
                 : y == kLayerKeepPosition     ? base->y
                                               : y;
    MoveLayerState(base, layer, nx, ny);
    if (layer->previous != nullptr && layer->previous != base) {
      MoveLayerState(layer->previous, layer, nx, ny);
    }
    qvLayerState* current = layer->current;
    if (current != nullptr && current != layer->previous && layer->previous != nullptr) {
      // The display-scaled render stands where the unscaled one does, at the display's scale.
      double sx = display != nullptr ? display->scaleX : 1.0;
      double sy = display != nullptr ? display->scaleY : 1.0;
      current->drawX = SaturateToInt32(
          static_cast<int64_t>(std::trunc(layer->previous->drawX * sx)));
      current->drawY = SaturateToInt32(
          static_cast<int64_t>(std::trunc(layer->previous->drawY * sy)));
    }
    changed = UniteLayerAreas(before, AtLeast(LayerDrawRect(layer->current), oldRect));
  }
  if (effects) {
    changed = UniteLayerAreas(changed, oldBounds);
    changed = UniteLayerAreas(changed, GetLayerBounds(display, bgpic, layer, layer->current));
  }
  if (area != nullptr) *area = changed;
  if (noRefresh) return;
  if (list != nullptr) {
    AddRectToList(list, changed.x, changed.y, changed.width, changed.height, true);
  } else {
    RefreshOrMarkRect(L, changed.x, changed.y, changed.width, changed.height);
  }
}

int SwapLayersCore(qvScriptState* L, qvBGPic* bgpic, int32_t positionA, int32_t positionB) {
  qvLayer* a = GetLayerByIndex(bgpic, std::min(positionA, positionB));
  qvLayer* b = GetLayerByIndex(bgpic, std::max(positionA, positionB));
  if (a == nullptr || b == nullptr) return ERR_LAYERRANGE;
  bgpic->layersChanged = 1;
  if (a == b) return 0;
  qvNode* beforeA = a->node.prev;
  qvNode* beforeB = b->node.prev;
  // b takes a's place; a then takes b's, which is right after b when they were neighbours.
  RemoveListNode(&b->node);
  InsertListNode(&bgpic->layers, &b->node, beforeA);
  if (beforeB != &a->node) {
    RemoveListNode(&a->node);
    InsertListNode(&bgpic->layers, &a->node, beforeB);
  }
  const qvDisplay* display = CurrentDisplay();
  qvLayerArea ra = GetLayerBounds(display, bgpic, a, a->current);
  qvLayerArea rb = GetLayerBounds(display, bgpic, b, b->current);
  // A layer that is nowhere on the BGPic is over or under the other nowhere.
  if (!MeetsBGPic(ra, bgpic) || !MeetsBGPic(rb, bgpic)) return 0;
  qvLayerArea r = UniteLayerAreas(ra, rb);
  RefreshOrMarkRect(L, r.x, r.y, r.width, r.height);
  return 0;
}

int SetLayerGeometry(qvScriptState* L, qvBGPic* bgpic, qvLayer* layer, qvLayerGeometryRect* rect,
                     int32_t x, int32_t y, int32_t width, int32_t height, qvBitMap* bitmap,
                     qvPlane* mask, qvPlane* alpha, int32_t flags) {
  qvLayerState* s = layer->current;
  const qvLayerState* base = layer->base != nullptr ? layer->base : s;
  qvLayerArea old = LayerDrawRect(s);
  if (rect != nullptr && rect->width == -1) {
    rect->x = old.x;
    rect->y = old.y;
    rect->width = old.width;
    rect->height = old.height;
  }
  if (!IsUsedByAsyncDraw(layer)) {
    // The new render planes first: on failure the state is as it was.
    qvPlaneSet render{nullptr, nullptr, nullptr};
    int32_t w = std::max(width, 1), h = std::max(height, 1);
    render.bitmap = AllocBitMap(w, h);
    if (render.bitmap != nullptr && s->render.mask != nullptr) render.mask = AllocMask(w, h, true);
    if (render.bitmap != nullptr && s->render.alpha != nullptr) {
      render.alpha = AllocAlphaChannel(w, h, true);
    }
    if (render.bitmap == nullptr || (s->render.mask != nullptr && render.mask == nullptr) ||
        (s->render.alpha != nullptr && render.alpha == nullptr)) {
      FreePlanes(&render);
      return ERR_MEM;
    }
    FreePlanes(&s->render);
    s->render = render;
    // What was built from the old render is stale at the new size.
    FreePlanes(&s->filtered);
    FreePlanes(&s->bordered);
    FreeMaskOrAlpha(s->shadowMask);
    s->shadowMask = nullptr;
  } else {
    NotifyAsyncDrawObjects(kAsyncDrawLayerRendered, reinterpret_cast<intptr_t>(layer));
  }
  s->drawWidth = width;
  s->drawHeight = height;
  if (layer->kind == kObjectLine) {
    if ((flags & kGeometryKeepLinePosition) == 0) {
      s->drawX = x;
      s->drawY = y;
    }
  } else {
    s->drawX = Anchored(x, base->width, layer->anchorX);
    s->drawY = Anchored(y, base->height, layer->anchorY);
  }
  if (bitmap != nullptr) {
    if (s->object.bitmap != bitmap) FreeBitMap(s->object.bitmap);
    if (s->object.mask != mask) FreeMaskOrAlpha(s->object.mask);
    if (s->object.alpha != alpha) FreeMaskOrAlpha(s->object.alpha);
    s->object = {bitmap, mask, alpha};
  }
  if (layer->hidden || layer->skipDraw || (rect != nullptr && rect->noRefresh)) return 0;
  if (bgpic == nullptr) return 0;
  qvLayerArea r = UniteLayerAreas(old, LayerDrawRect(s));
  RefreshOrMarkRect(L, r.x, r.y, r.width, r.height);
  return 0;
}

}  // namespace qv
