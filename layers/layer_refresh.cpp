// The bounds of layers, the rectangle lists that collect what is to be recomposed, and the
// refresh or marking of a rectangle by the output device.
#include "layers/layer_refresh.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "base/errors.h"
#include "base/support.h"
#include "display/displays.h"
#include "display/sprites.h"
#include "layers/layer_draw.h"

namespace qv {

namespace {

constexpr int32_t kListGrowth = 1024;

qvRectList gBatchList{nullptr, 0, 0};

// The border the compositor builds round an object under a turn or a shear reaches further than
// its size: at most the size times the matrix's column sums on each side, and two pixels more
// where it is drawn as a box.
int32_t BorderReach(const qvLayer* layer) {
  const double* m = layer->transform.matrix;
  int32_t size = std::max(layer->border.size, 0);
  if (m[1] == 0.0 && m[2] == 0.0 && m[0] == 1.0 && m[3] == 1.0) return size;
  double factor = std::max(std::fabs(m[0]) + std::fabs(m[1]), std::fabs(m[2]) + std::fabs(m[3]));
  return SaturateToInt32(static_cast<int64_t>(std::ceil(size * std::max(factor, 1.0)))) + 2;
}

void FreeEntries(qvRectList* list) {
  delete[] list->entries;
  *list = {nullptr, 0, 0};
}

}  // namespace

qvLayerArea UniteLayerAreas(const qvLayerArea& a, const qvLayerArea& b) {
  if (a.width <= 0 || a.height <= 0) return b;
  if (b.width <= 0 || b.height <= 0) return a;
  int64_t x1 = std::min(a.x, b.x), y1 = std::min(a.y, b.y);
  int64_t x2 = std::max(int64_t{a.x} + a.width, int64_t{b.x} + b.width);
  int64_t y2 = std::max(int64_t{a.y} + a.height, int64_t{b.y} + b.height);
  return {SaturateToInt32(x1), SaturateToInt32(y1), SaturateToInt32(x2 - x1),
          SaturateToInt32(y2 - y1)};
}

qvLayerArea LayerDrawRect(const qvLayerState* state) {
  return {state->drawX, state->drawY, state->drawWidth, state->drawHeight};
}

qvLayerArea LayerBorderedRect(const qvLayer* layer, const qvLayerState* state) {
  if (state->bordered.bitmap != nullptr && state->borderWidth > 0 && state->borderHeight > 0) {
    return {SaturateToInt32(int64_t{state->drawX} - state->borderOffsetX),
            SaturateToInt32(int64_t{state->drawY} - state->borderOffsetY), state->borderWidth,
            state->borderHeight};
  }
  int64_t reach = BorderReach(layer);
  return {SaturateToInt32(state->drawX - reach), SaturateToInt32(state->drawY - reach),
          SaturateToInt32(state->drawWidth + 2 * reach),
          SaturateToInt32(state->drawHeight + 2 * reach)};
}

qvLayerArea LayerShadowRect(const qvDisplay* display, const qvBGPic* bgpic, const qvLayer* layer,
                            const qvLayerState* state) {
  // The compositor's own rectangle, cast by the bordered rectangle as the bounds see it (the
  // reach of a border not built yet included).
  qvLayerState geometry = *state;
  if (layer->border.on) {
    qvLayerArea b = LayerBorderedRect(layer, state);
    geometry.borderOffsetX = SaturateToInt32(int64_t{state->drawX} - b.x);
    geometry.borderOffsetY = SaturateToInt32(int64_t{state->drawY} - b.y);
    geometry.borderWidth = b.width;
    geometry.borderHeight = b.height;
  }
  double sx = 1.0, sy = 1.0;
  LayerStateScale(display, bgpic, layer, state, &sx, &sy);
  return GetShadowRect(layer, &geometry, sx, sy);
}

qvLayerArea GetLayerBounds(const qvDisplay* display, const qvBGPic* bgpic, const qvLayer* layer,
                           const qvLayerState* state) {
  qvLayerArea r = LayerDrawRect(state);
  if (layer->border.on) r = UniteLayerAreas(r, LayerBorderedRect(layer, state));
  if (layer->shadow.on) r = UniteLayerAreas(r, LayerShadowRect(display, bgpic, layer, state));
  return r;
}

bool IsLayerUncovered(const qvBGPic* bgpic, const qvLayer* layer) {
  (void)bgpic;  // the layers above are the ones after it in its own list
  const qvLayerState* s = layer->current;
  if (s == nullptr) return true;
  int64_t x2 = int64_t{s->drawX} + s->drawWidth, y2 = int64_t{s->drawY} + s->drawHeight;
  for (const qvLayer* above = NextLayer(layer); above != nullptr; above = NextLayer(above)) {
    if (above->hidden || above->skipDraw || above->kind == kObjectNoObject) continue;
    const qvLayerState* a = above->current;
    if (a == nullptr || a->drawWidth <= 0 || a->drawHeight <= 0) continue;
    if (a->drawX < x2 && s->drawX < int64_t{a->drawX} + a->drawWidth && a->drawY < y2 &&
        s->drawY < int64_t{a->drawY} + a->drawHeight) {
      return false;
    }
  }
  return true;
}

// ---- rectangle lists ----

void AddRectToList(qvRectList* list, int32_t x, int32_t y, int32_t width, int32_t height,
                   bool grow) {
  if (list == nullptr || width <= 0 || height <= 0) return;
  if (list->count >= list->capacity) return;  // full: everything is refreshed already
  if (list->count + 1 == list->capacity && grow) {
    // Grown before the last slot is taken: a list that entries filled would read as "refresh
    // everything", and one that was marked so must never lose the mark by growing.
    int64_t capacity = int64_t{list->capacity} + kListGrowth;
    qvRect* entries = capacity <= INT32_MAX ? new (std::nothrow)
                                                  qvRect[static_cast<size_t>(capacity)]
                                            : nullptr;
    if (entries == nullptr) {
      list->count = list->capacity;  // the rectangle is not lost: everything is refreshed
      return;
    }
    std::copy(list->entries, list->entries + list->count, entries);
    delete[] list->entries;
    list->entries = entries;
    list->capacity = static_cast<int32_t>(capacity);
  }
  // Without growth the last slot makes the list full, which refreshes everything: no rectangle
  // is ever dropped.
  list->entries[list->count++] = {x, y, SaturateToInt32(int64_t{x} + width - 1),
                                  SaturateToInt32(int64_t{y} + height - 1)};
}

void AddLayerDirtyRect(const qvDisplay* display, const qvBGPic* bgpic, qvRectList* list,
                       const qvLayer* layer, const qvLayerState* state) {
  qvLayerArea r = GetLayerBounds(display, bgpic, layer, state);
  AddRectToList(list, r.x, r.y, r.width, r.height, true);
}

void FlushDirtyRects(qvScriptState* L, qvRectList* list) {
  if (list == nullptr || list->entries == nullptr) return;
  qvDisplay* d = CurrentDisplay();
  if (d == nullptr || d->bgpic == nullptr) {
    list->count = 0;
    return;
  }
  // The display's own list is flushed at the selection's end, with the display the output.
  auto refresh = [&](int32_t x, int32_t y, int32_t w, int32_t h) {
    if (list == &d->dirty) {
      RefreshLayerRect(L, x, y, w, h);
    } else {
      RefreshOrMarkRect(L, x, y, w, h);
    }
  };
  if (list->count >= list->capacity) {
    // Full: what its entries hold is stale or partial; the whole picture is recomposed once.
    list->count = 0;
    refresh(0, 0, d->bgpic->width, d->bgpic->height);
    return;
  }
  MergeDirtyRects(list);
  int32_t count = list->count;
  list->count = 0;
  for (int32_t i = 0; i < count; ++i) {
    const qvRect& r = list->entries[i];
    if (r.x1 == kAbsorbedRect) continue;
    refresh(r.x1, r.y1, SaturateToInt32(int64_t{r.x2} - r.x1 + 1),
            SaturateToInt32(int64_t{r.y2} - r.y1 + 1));
  }
}

int OpenLayerBatchList() {
  if (gBatchList.entries != nullptr) {
    gBatchList.count = 0;
    return 0;
  }
  gBatchList.entries = new (std::nothrow) qvRect[kListGrowth];
  if (gBatchList.entries == nullptr) return ERR_MEM;
  gBatchList.capacity = kListGrowth;
  gBatchList.count = 0;
  return 0;
}

void FreeLayerBatchList() { FreeEntries(&gBatchList); }

qvRectList* LayerBatchList() { return &gBatchList; }

void ResetLayerBatchList() { gBatchList.count = 0; }

// ---- refresh ----

void RefreshOrMarkRect(qvScriptState* L, int32_t x, int32_t y, int32_t width, int32_t height) {
  qvDisplay* d = CurrentDisplay();
  if (d == nullptr || d->bgpic == nullptr) return;
  if (d->outputType == kOutputDisplay) {
    RefreshLayerRect(L, x, y, width, height);
  } else if (d->outputType == kOutputBGPic) {
    AddRectToList(&d->dirty, x, y, width, height, true);
  }
}

void RefreshLayerArea(qvScriptState* L, qvBGPic* bgpic, qvLayer* layer) {
  qvDisplay* d = CurrentDisplay();
  if (d == nullptr || layer->current == nullptr || bgpic != d->bgpic) return;
  qvLayerArea r = GetLayerBounds(d, bgpic, layer, layer->current);
  RefreshOrMarkRect(L, r.x, r.y, r.width, r.height);
}

}  // namespace qv
