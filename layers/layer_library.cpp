// The work of the layers library's commands below the script: the guard, switching layers on and
// off, finding layers and groups, adding objects as layers, reordering, removing and freeing
// layers, their shadow and border blocks and the listing of DumpLayers.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/errors.h"
#include "base/support.h"
#include "display/async_draw.h"
#include "display/brushes.h"
#include "display/displays.h"
#include "display/output.h"
#include "display/sprites.h"
#include "layers/layer_refresh.h"
#include "layers/layers.h"

namespace qv {

static_assert(static_cast<int32_t>(kLayerDisplayScale) ==
                  static_cast<int32_t>(kLayerCreateDisplayScale),
              "one creation flag, two names");

namespace {

const char* LayerTypeName(int32_t type) {
  switch (type) {
    case kObjectBrush:
      return "BRUSH";
    case kObjectAnim:
      return "ANIM";
    case kObjectNoObject:
      return "NOOBJECT";
    case kObjectTextObject:
      return "TEXTOBJECT";
    case kObjectTextOut:
      return "TEXTOUT";
    case kObjectPrint:
      return "PRINT";
    case kObjectBrushPart:
      return "BRUSHPART";
    case kObjectBGPicPart:
      return "BGPICPART";
    case kObjectBox:
      return "BOX";
    case kObjectCircle:
      return "CIRCLE";
    case kObjectEllipse:
      return "ELLIPSE";
    case kObjectLine:
      return "LINE";
    case kObjectPolygon:
      return "POLYGON";
    case kObjectArc:
      return "ARC";
    case kObjectVectorPath:
      return "VECTORPATH";
    default:
      return "UNKNOWN";
  }
}

bool IsEmptyArea(const qvLayerArea& a) { return a.width < 1 || a.height < 1; }

// The area a layer covered before and after a change, on the BGPic the display shows.
void RefreshUnion(qvScriptState* L, const qvBGPic* bgpic, const qvLayerArea& before,
                  const qvLayerArea& after) {
  const qvDisplay* d = CurrentDisplay();
  if (d == nullptr || bgpic != d->bgpic) return;
  qvLayerArea a = UniteLayerAreas(before, after);
  if (!IsEmptyArea(a)) RefreshOrMarkRect(L, a.x, a.y, a.width, a.height);
}

bool UsedByAsyncDraw(const qvBGPic* bgpic) {
  for (qvLayer* l = FirstLayer(bgpic); l != nullptr; l = NextLayer(l)) {
    if (IsUsedByAsyncDraw(l)) return true;
  }
  return false;
}

}  // namespace

// ---- the guard and switching ----

int CheckLayerGuard(const qvDisplay* d) {
  if (d == nullptr) return ERR_WRONGUSAGE;
  switch (d->outputType) {
    case kOutputPicture: {
      const qvBGPic* target = OutputTarget();
      return target != nullptr && target->objectKind == kObjectAnim ? ERR_SELECTANIM
                                                                    : ERR_SELECTBRUSH;
    }
    case kOutputMask:
      return ERR_SELECTMASK;
    case kOutputAlpha:
      return ERR_SELECTALPHACHANNEL;
    default:
      break;
  }
  return d->layersOn ? 0 : ERR_NOLAYERS;
}

qvBGPic* CurrentLayerBGPic(const qvDisplay* d) {
  if (d == nullptr) return nullptr;
  if (d->outputType == kOutputBGPic && OutputTarget() != nullptr) return OutputTarget();
  return d->bgpic;
}

int EnableLayersCore(qvScriptState* L, qvDisplay* d) {
  if (d == nullptr) return ERR_WRONGUSAGE;
  if (IsAsyncDrawBusy() != 0) return ERR_LAYERSWITCH;
  if (d->doubleBuffer) return ERR_ENDDOUBLEBUFFER;
  if (d->outputType != kOutputDisplay) return ERR_LAYERSON;
  if (d->bgpic != nullptr && TargetSpriteEntries(d->bgpic) != nullptr) return ERR_NOSPRITES;
  if (d->layersOn) return 0;
  d->layersOn = 1;
  // The window-size bitmap is where layers are composed from now: it starts as the picture, or
  // as the picture with the layers kept while they were off.
  if (d->bgpic == nullptr || d->displayBitmap == nullptr || d->windowBitmap == nullptr) return 0;
  if (CountBGPicLayers(d->bgpic) > 0) {
    RefreshLayerRect(L, 0, 0, d->bgpic->width, d->bgpic->height);
  } else if (d->windowBitmap->width == d->displayBitmap->width &&
             d->windowBitmap->height == d->displayBitmap->height) {
    BltBitMap(d->displayBitmap, 0, 0, d->windowBitmap, 0, 0, d->displayBitmap->width,
              d->displayBitmap->height);
  }
  return 0;
}

int DisableLayersCore(qvScriptState*, qvDisplay* d) {
  if (d == nullptr) return ERR_WRONGUSAGE;
  if (IsAsyncDrawBusy() != 0) return ERR_LAYERSWITCH;
  if (d->outputType != kOutputDisplay) return ERR_LAYERSON;
  if (d->layerScale) return ERR_NODISLAYERS;
  d->layersOn = 0;
  return 0;
}

// ---- finding layers ----

int FindLayerOrGroup(const qvBGPic* bgpic, const qvLayerArg& arg, int32_t* index, qvLayer** out,
                     bool* isGroup) {
  *out = nullptr;
  *isGroup = false;
  if (arg.kind == qvLayerArg::kName) {
    int32_t position = FindLayerByName(bgpic, arg.name);
    if (position == 0) {
      // A group: the member after the one handed out before.
      qvLayer* found = nullptr;
      qvLayer* after = nullptr;
      int32_t i = 0, n = 0;
      for (qvLayer* l = FirstLayer(bgpic); l != nullptr; l = NextLayer(l), ++i) {
        if (l->group[0] == '\0' || StrCaseCmp(l->group, arg.name) != 0) continue;
        if (found == nullptr && i >= *index) {
          found = l;
          n = i;
        } else if (found != nullptr) {
          after = l;
          break;
        }
      }
      if (found == nullptr) {
        SetErrorString(arg.name);
        return ERR_FINDLAYER;
      }
      *isGroup = true;
      *index = after != nullptr ? n + 1 : -1;
      *out = found;
      return 0;
    }
    *out = GetLayerByIndex(bgpic, position);
    *index = -1;
    return 0;
  }
  int32_t position = 0;
  int code = FindLayer(bgpic, arg, &position);
  if (code != 0) return code;
  *out = GetLayerByIndex(bgpic, position);
  *index = -1;
  return *out != nullptr ? 0 : ERR_LAYERRANGE;
}

int CollectLayerOrGroup(const qvBGPic* bgpic, const qvLayerArg& arg, qvLayer** out,
                        int32_t capacity, int32_t* count) {
  *count = 0;
  int32_t index = 0;
  do {
    qvLayer* layer = nullptr;
    bool isGroup = false;
    int code = FindLayerOrGroup(bgpic, arg, &index, &layer, &isGroup);
    if (code != 0) return code;
    if (*count == capacity) return ERR_INTERNAL;
    out[(*count)++] = layer;
  } while (index != -1);
  return 0;
}

int ResolveLayer(const qvBGPic* bgpic, const qvLayerArg& arg, qvLayer** out) {
  int32_t position = 0;
  int code = FindLayer(bgpic, arg, &position);
  if (code != 0) return code;
  *out = GetLayerByIndex(bgpic, position);
  return *out != nullptr ? 0 : ERR_LAYERRANGE;
}

// ---- adding objects ----

int AddObjectLayerCore(qvScriptState* L, const qvObjectLayerArgs& a) {
  qvDisplay* d = CurrentDisplay();
  qvBGPic* bgpic = CurrentLayerBGPic(d);
  qvLayerState* state = bgpic != nullptr ? AllocLayerState(a.kind) : nullptr;
  qvLayerRequest r;
  r.bgpic = bgpic;
  r.display = d;
  r.type = a.kind;
  r.objectId = a.id;
  r.x = a.x;
  r.y = a.y;
  r.width = a.width;
  r.height = a.height;
  r.transform = a.transform;
  r.options = a.options;
  r.state = state;
  r.bitmap = a.bitmap;
  r.mask = a.mask;
  r.alpha = a.alpha;
  r.insertPos = a.insertPos;
  r.flags = a.flags;
  if (bgpic == nullptr) {
    FreeBitMap(a.bitmap);
    FreeMaskOrAlpha(a.mask);
    FreeMaskOrAlpha(a.alpha);
    return ERR_WRONGUSAGE;
  }
  if (state != nullptr) {
    state->x = a.x;
    state->y = a.y;
    state->width = a.width;
    state->height = a.height;
    if (a.kind == kObjectBrush || a.kind == kObjectBrushPart || a.kind == kObjectBGPicPart) {
      auto* b = static_cast<qvBrushLayerState*>(state);
      b->partX = a.srcX;
      b->partY = a.srcY;
    }
  }
  return CreateLayerRecord(L, r, nullptr);
}

int InsertObjectLayer(qvScriptState* L, qvDisplay* d, int32_t position, int32_t type, qvObjectId id,
                      int32_t x, int32_t y, bool hidden) {
  if (position < 0) return ERR_INVINSERT;
  qvBGPic* bgpic = CurrentLayerBGPic(d);
  const int32_t count = CountBGPicLayers(bgpic);
  if (position == 0 || position > count + 1) position = count + 1;
  switch (type) {
    case kObjectBrush: {
      qvBrush* brush = nullptr;
      int code = FindBrush(L, id, &brush, 0);
      if (code != 0) return code;
      qvObjectLayerArgs a;
      a.kind = kObjectBrush;
      a.id = id;
      a.x = ResolveCoordX(x, brush->width, bgpic->width, 0.0);
      a.y = ResolveCoordY(y, brush->height, bgpic->height, 0.0);
      a.width = brush->width;
      a.height = brush->height;
      a.insertPos = position;
      a.flags = kLayerDisplayScale | kLayerNoRefresh | (hidden ? kLayerHidden : 0);
      code = AddObjectLayerCore(L, a);
      if (code != 0) return code;
      break;
    }
    case kObjectAnim:
      // Anims come with their own subsystem.
      SetErrorNumber(id.number);
      return ERR_FINDANIM;
    case kObjectTextObject:
      SetErrorNumber(id.number);
      return ERR_FINDTEXTOBJECT;
    default:
      return ERR_WRONGUSAGE;
  }
  qvLayer* layer = GetLayerByIndex(bgpic, position);
  if (layer == nullptr) return ERR_LAYERRANGE;
  if (!hidden && layer->current != nullptr) {
    RefreshLayerArea(L, bgpic, layer);
  }
  return 0;
}

// ---- showing and hiding ----

void ShowHideLayersCore(qvScriptState* L, qvDisplay* d, qvLayer* const* layers, int32_t count,
                        bool isGroup, int32_t x, int32_t y, bool hidden) {
  qvBGPic* bgpic = CurrentLayerBGPic(d);
  // Where the members go: the offset of the resolved position from where they stand.
  int32_t offsetX = 0, offsetY = 0;
  const bool move = !hidden && (x != kLayerKeepPosition || y != kLayerKeepPosition);
  if (move && count > 0) {
    qvLayerArea box{};
    double anchorX = 0.0, anchorY = 0.0;
    int32_t originX = 0, originY = 0;
    if (isGroup) {
      for (int32_t i = 0; i < count; ++i) {
        const qvLayerState* b = layers[i]->base;
        box = UniteLayerAreas(box, {b->anchoredX, b->anchoredY, b->width, b->height});
      }
      originX = box.x;
      originY = box.y;
    } else {
      const qvLayerState* b = layers[0]->base;
      box = {b->x, b->y, b->width, b->height};
      anchorX = layers[0]->anchorX;
      anchorY = layers[0]->anchorY;
      originX = b->x;
      originY = b->y;
    }
    if (x != kLayerKeepPosition) {
      offsetX = ResolveCoordX(x, box.width, bgpic->width, anchorX) - originX;
    }
    if (y != kLayerKeepPosition) {
      offsetY = ResolveCoordY(y, box.height, bgpic->height, anchorY) - originY;
    }
  }
  bgpic->layersChanged = 1;
  const bool batch = d->outputType != kOutputBGPic;
  qvRectList* list = batch ? LayerBatchList() : nullptr;
  if (list != nullptr) ResetLayerBatchList();
  for (int32_t i = 0; i < count; ++i) {
    qvLayer* layer = layers[i];
    layer->hidden = hidden ? 1 : 0;
    if (move) {
      MoveLayerCore(L, bgpic, layer, nullptr, layer->base->x + offsetX, layer->base->y + offsetY,
                    false, 0, list);
    } else {
      MoveLayerCore(L, bgpic, layer, nullptr, kLayerKeepPosition, kLayerKeepPosition, false, 0,
                    list);
    }
  }
  if (list != nullptr) FlushDirtyRects(L, list);
}

// ---- order, removal, freeing ----

bool SetLayerZPosCore(qvBGPic* bgpic, qvLayer* layer, int32_t position) {
  const int32_t from = GetLayerPosition(bgpic, layer);
  const int32_t count = CountBGPicLayers(bgpic);
  if (from < 0) return false;
  if (position == 1) {
    if (from == 1) return false;
    RemoveListNode(&layer->node);
    AddListHead(&bgpic->layers, &layer->node);
  } else if (position == 0 || position > count) {
    if (from == count) return false;
    RemoveListNode(&layer->node);
    AddListTail(&bgpic->layers, &layer->node);
  } else {
    if (position == from) return false;
    qvLayer* at = GetLayerByIndex(bgpic, position);
    RemoveListNode(&layer->node);
    if (from < position) {
      InsertListNode(&bgpic->layers, &layer->node, &at->node);
    } else {
      qvNode* pred = at->node.prev;
      // The head's predecessor is the list header itself: insert at the head.
      InsertListNode(&bgpic->layers, &layer->node,
                     pred == reinterpret_cast<qvNode*>(&bgpic->layers) ? nullptr : pred);
    }
  }
  bgpic->layersChanged = 1;
  return true;
}

int RemoveLayersCore(qvScriptState* L, qvDisplay* d, qvLayer* const* layers, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    if (IsUsedByAsyncDraw(layers[i])) return ERR_REMADLAYER;
  }
  qvBGPic* bgpic = CurrentLayerBGPic(d);
  for (int32_t i = 0; i < count; ++i) {
    if (GetLayerPosition(bgpic, layers[i]) < 0) continue;
    DeleteLayerRecord(L, bgpic, layers[i], false);
  }
  bgpic->layersChanged = 1;
  return 0;
}

int FreeLayersCore(qvScriptState* L, qvDisplay* d, bool keep) {
  qvBGPic* bgpic = CurrentLayerBGPic(d);
  if (UsedByAsyncDraw(bgpic)) return ERR_REMADLAYER;
  const bool ownTarget = bgpic == d->bgpic;
  if (keep && !ownTarget) return ERR_WRONGUSAGE;
  bgpic->layersChanged = 1;
  const int32_t w = bgpic->width, h = bgpic->height;
  const bool buffers = d->displayBitmap != nullptr && d->windowBitmap != nullptr &&
                       d->windowBitmap->width == d->displayBitmap->width &&
                       d->windowBitmap->height == d->displayBitmap->height;
  if (keep) {
    // The layers' pixels become the background beneath whatever comes next.
    if (buffers && CountBGPicLayers(bgpic) > 0) {
      RedrawLayers(L, d, bgpic, d->windowBitmap, 0, 0, w, h, 0, kRecomposeAll);
      BltBitMap(d->windowBitmap, 0, 0, d->displayBitmap, 0, 0, w, h);
    }
    FreeLayerList(L, bgpic, true, true);
    return 0;
  }
  FreeLayerList(L, bgpic, true, true);
  if (!ownTarget) return 0;
  if (d->outputType == kOutputDisplay) {
    if (buffers) BltBitMap(d->displayBitmap, 0, 0, d->windowBitmap, 0, 0, w, h);
    RefreshDisplayRect(d->displayBitmap, 0, 0, d, 0, 0, w, h,
                       kRefreshStretch | kRefreshWholePicture);
  } else if (d->outputType == kOutputBGPic) {
    AddDirtyRect(0, 0, w, h);
  }
  return 0;
}

int UndoCore(qvScriptState* L, qvDisplay* d, int32_t type, qvObjectId id, int32_t level,
             bool noRefresh) {
  qvBGPic* bgpic = CurrentLayerBGPic(d);
  int32_t seen = 0;
  for (qvNode* n = bgpic->layers.tailPred; n != nullptr && n->prev != nullptr; n = n->prev) {
    qvLayer* l = LayerOfNode(n);
    if (l->kind != type || l->sourceId.number != id.number || l->sourceId.handle != id.handle) {
      continue;
    }
    if (++seen < level) continue;
    if (IsUsedByAsyncDraw(l)) return ERR_REMADLAYER;
    DeleteLayerRecord(L, bgpic, l, noRefresh);
    return 0;
  }
  return 0;
}

// ---- shadow and border ----

void SetLayerShadowCore(qvScriptState* L, qvBGPic* bgpic, qvLayer* layer,
                        const qvShadowBlock& shadow) {
  if (!layer->shadow.on && !shadow.on) return;
  bgpic->layersChanged = 1;
  qvLayerArea before = GetLayerBounds(CurrentDisplay(), bgpic, layer, layer->current);
  ForEachDistinctState(layer, [](qvLayerState* s) {
    FreeMaskOrAlpha(s->shadowMask);
    s->shadowMask = nullptr;
  });
  if (shadow.on) {
    layer->shadow = shadow;
  } else {
    layer->shadow.on = 0;
  }
  if (layer->hidden) return;
  RefreshUnion(L, bgpic, before, GetLayerBounds(CurrentDisplay(), bgpic, layer, layer->current));
}

void SetLayerBorderCore(qvScriptState* L, qvBGPic* bgpic, qvLayer* layer,
                        const qvBorderBlock& border) {
  if (!layer->border.on && !border.on) return;
  bgpic->layersChanged = 1;
  qvLayerArea before = GetLayerBounds(CurrentDisplay(), bgpic, layer, layer->current);
  ForEachDistinctState(layer, [](qvLayerState* s) {
    FreeBitMap(s->bordered.bitmap);
    FreeMaskOrAlpha(s->bordered.mask);
    FreeMaskOrAlpha(s->bordered.alpha);
    s->bordered = {};
    FreeMaskOrAlpha(s->shadowMask);
    s->shadowMask = nullptr;
  });
  if (border.on) {
    layer->border = border;
  } else {
    layer->border.on = 0;
  }
  if (layer->hidden) return;
  RefreshUnion(L, bgpic, before, GetLayerBounds(CurrentDisplay(), bgpic, layer, layer->current));
}

// ---- inspecting ----

std::string DumpLayersText(const qvBGPic* bgpic, int32_t which) {
  std::string text;
  char line[1024];
  std::snprintf(line, sizeof(line),
                "LAYER SYSTEM INFO - BGPIC: %d (%p)\nsizeof(qvLayer): %d\nLayers: %d\n",
                bgpic->header.id, bgpic->header.handle, static_cast<int>(sizeof(qvLayer)),
                CountBGPicLayers(bgpic));
  text += line;
  int32_t position = 1;
  for (qvLayer* l = FirstLayer(bgpic); l != nullptr; l = NextLayer(l), ++position) {
    const qvLayerState* s = which == 1 ? l->previous : which == 2 ? l->current : l->base;
    std::snprintf(line, sizeof(line),
                  "(%d) %s #%d (%p / \"%s\") - X: %d (%d) - Y: %d (%d) - Width: %d (%d) - "
                  "Height: %d (%d) - Visible: %d\n",
                  position, LayerTypeName(l->kind), l->id.number, l->id.handle,
                  l->name != nullptr ? l->name : "", s->x, s->drawX, s->y, s->drawY, s->width,
                  s->drawWidth, s->height, s->drawHeight, l->hidden ? 0 : 1);
    text += line;
  }
  return text;
}

int32_t GetLayerAtPosCore(const qvBGPic* bgpic, int32_t x, int32_t y, const char** name) {
  *name = "";
  int32_t position = CountBGPicLayers(bgpic);
  for (qvNode* n = bgpic->layers.tailPred; n != nullptr && n->prev != nullptr;
       n = n->prev, --position) {
    const qvLayer* l = LayerOfNode(n);
    const qvLayerState* s = l->current;
    if (s == nullptr || l->kind == kObjectNoObject) continue;
    if (x >= s->drawX && y >= s->drawY && int64_t{x} < int64_t{s->drawX} + s->drawWidth &&
        int64_t{y} < int64_t{s->drawY} + s->drawHeight) {
      if (l->name != nullptr) *name = l->name;
      return position;
    }
  }
  return 0;
}

}  // namespace qv
