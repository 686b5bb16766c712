// The layer records: the look-ups of the layer list, layer names, the state records by kind with
// their copies and frees, the creation of a layer with its rollback, copy-on-write re-rendering,
// reverting, deleting and freeing.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "base/errors.h"
#include "base/support.h"
#include "display/async_draw.h"
#include "display/brushes.h"
#include "display/buttons.h"
#include "display/clip_regions.h"
#include "display/displays.h"
#include "display/output.h"
#include "display/sprites.h"
#include "layers/layer_draw.h"
#include "layers/layer_refresh.h"
#include "layers/layers.h"

namespace qv {

namespace {

// The seam is for single-threaded tests; atomics keep it race-free all the same.
std::atomic<int64_t> gAllocCount{0};
std::atomic<int64_t> gFailAt{0};

void* LayerAlloc(size_t size) {
  int64_t call = ++gAllocCount;
  int64_t failAt = gFailAt;
  if (failAt > 0 && call == failAt) return nullptr;
  return std::calloc(1, size);
}

void TellAsyncDraws(int32_t message, qvLayer* layer) {
  NotifyAsyncDrawObjects(message, reinterpret_cast<intptr_t>(layer));
}
bool AsyncDrawUses(const qvLayer* layer) { return IsUsedByAsyncDraw(layer); }

const qvLayerHooks kDefaultHooks = {DrawLayerObject, RefreshLayerArea, TellAsyncDraws,
                                    AsyncDrawUses};
qvLayerHooks gHooks = kDefaultHooks;

bool IsBrushKind(int32_t type) {
  return type == kObjectBrush || type == kObjectBrushPart || type == kObjectBGPicPart;
}
bool IsTextLayoutKind(int32_t type) { return type == kObjectTextOut || type == kObjectPrint; }
bool IsTextKind(int32_t type) { return type == kObjectTextObject || IsTextLayoutKind(type); }

size_t StateSize(int32_t type) {
  if (IsBrushKind(type)) return sizeof(qvBrushLayerState);
  if (type == kObjectAnim) return sizeof(qvAnimLayerState);
  if (IsTextLayoutKind(type)) return sizeof(qvTextLayoutLayerState);
  if (IsShapeLayerKind(type)) return sizeof(qvShapeLayerState);
  if (type == kObjectVectorPath) return sizeof(qvVectorLayerState);
  return sizeof(qvLayerState);
}

// The kinds whose state can be copied for a re-render: every kind that shows something.
bool HasCopyRoutine(int32_t type) {
  return IsBrushKind(type) || type == kObjectAnim || IsTextKind(type) || IsShapeLayerKind(type) ||
         type == kObjectVectorPath;
}

// The object copies that a layer of the kind may have kept alive.
int32_t PurgeKindOf(int32_t type) {
  switch (type) {
    case kObjectBrush:
    case kObjectBrushPart:
      return kPurgeBrushes;
    case kObjectAnim:
      return kPurgeAnims;
    case kObjectTextObject:
      return kPurgeTextObjects;
    case kObjectBGPicPart:
      return kPurgeBGPics;
    default:
      return 0;
  }
}

template <typename T>
bool CopyArray(T** array, size_t count) {
  if (*array == nullptr || count == 0) {
    *array = nullptr;
    return true;
  }
  T* copy = static_cast<T*>(LayerAlloc(count * sizeof(T)));
  if (copy != nullptr) std::memcpy(copy, *array, count * sizeof(T));
  *array = copy;
  return copy != nullptr;
}

void FreePlaneSet(qvPlaneSet* set) {
  FreeBitMap(set->bitmap);
  FreeMaskOrAlpha(set->mask);
  FreeMaskOrAlpha(set->alpha);
  *set = {};
}

// The owned arrays of the kind's tail.
void FreeStateTail(int32_t type, qvLayerState* state) {
  if (IsTextLayoutKind(type)) {
    auto* t = static_cast<qvTextLayoutLayerState*>(state);
    std::free(t->text);
    std::free(t->tabs);
    std::free(t->lines);
    t->text = nullptr;
    t->tabs = nullptr;
    t->lines = nullptr;
  } else if (IsShapeLayerKind(type)) {
    auto* s = static_cast<qvShapeLayerState*>(state);
    std::free(s->vertices);
    s->vertices = nullptr;
  } else if (type == kObjectVectorPath) {
    auto* v = static_cast<qvVectorLayerState*>(state);
    std::free(v->pathData);
    std::free(v->dashes);
    v->pathData = nullptr;
    v->dashes = nullptr;
  }
}

// Deep copies of the tail's arrays in a record that was copied byte for byte; false (with the
// arrays copied so far freed and every pointer of the tail null or owned) when one fails.
bool CopyStateTail(int32_t type, qvLayerState* state) {
  bool ok = true;
  if (IsTextLayoutKind(type)) {
    auto* t = static_cast<qvTextLayoutLayerState*>(state);
    ok = CopyArray(&t->text, t->text != nullptr ? t->textLength + 1 : 0);
    ok = CopyArray(&t->tabs, static_cast<size_t>(std::max(t->tabCount, 0))) && ok;
    ok = CopyArray(&t->lines, t->lineBytes) && ok;
  } else if (IsShapeLayerKind(type)) {
    auto* s = static_cast<qvShapeLayerState*>(state);
    ok = CopyArray(&s->vertices, 2 * static_cast<size_t>(std::max(s->vertexCount, 0)));
  } else if (type == kObjectVectorPath) {
    auto* v = static_cast<qvVectorLayerState*>(state);
    ok = CopyArray(&v->pathData, v->pathLength);
    ok = CopyArray(&v->dashes, static_cast<size_t>(std::max(v->dashCount, 0))) && ok;
  } else if (IsBrushKind(type)) {
    auto* b = static_cast<qvBrushLayerState*>(state);
    b->partX = b->partY = 0;
  }
  if (!ok) FreeStateTail(type, state);
  return ok;
}

qvLayerArea AreaOf(const qvLayerState* state) {
  return {state->drawX, state->drawY, state->drawWidth, state->drawHeight};
}

bool IsIdentity(const double m[4]) {
  return m[0] == 1.0 && m[1] == 0.0 && m[2] == 0.0 && m[3] == 1.0;
}

// Buttons of the BGPic that stand for a layer.
void RemoveLayerButtons(qvScriptState* L, qvBGPic* bgpic, const qvLayer* layer) {
  for (bool again = true; again;) {
    again = false;
    for (auto* b = static_cast<qvBGPicButton*>(bgpic->buttons); b != nullptr; b = b->next) {
      if (b->type == kLayerButton && b->layer == layer) {
        FreeButton(L, bgpic, b->id);
        again = true;
        break;
      }
    }
  }
}
void RepointLayerButtons(qvBGPic* bgpic, const qvLayer* from, qvLayer* to) {
  for (auto* b = static_cast<qvBGPicButton*>(bgpic->buttons); b != nullptr; b = b->next) {
    if (b->type == kLayerButton && b->layer == from) b->layer = to;
  }
}

// Cosines and sines of the whole degrees 0..360.
struct TurnTable {
  double cosine[361], sine[361];
  TurnTable() {
    for (int i = 0; i <= 360; ++i) {
      double t = i * 0.017453292519943295;
      cosine[i] = std::cos(t);
      sine[i] = std::sin(t);
    }
    // The quarter turns exactly: where the one is 0 the angle is skipped, not divided by.
    for (int i : {90, 270}) cosine[i] = 0.0;
    for (int i : {0, 180, 360}) sine[i] = 0.0;
  }
};
const TurnTable& Turns() {
  static const TurnTable table;
  return table;
}

// A whole-degree angle whose cosine and sine take (p, q) to one scale: p / cos i within 0.0001
// of q / sin i, p of the cosine's sign. Angles where either is 0 are skipped.
bool FindTurn(double p, double q, double* scale) {
  const TurnTable& t = Turns();
  for (int i = 0; i <= 360; ++i) {
    if (t.cosine[i] == 0.0 || t.sine[i] == 0.0) continue;
    if ((p < 0.0) != (t.cosine[i] < 0.0)) continue;
    double s = p / t.cosine[i];
    if (std::fabs(s - q / t.sine[i]) <= 0.0001) {
      *scale = s;
      return true;
    }
  }
  return false;
}

}  // namespace

bool IsShapeLayerKind(int32_t type) {
  switch (type) {
    case kObjectBox:
    case kObjectCircle:
    case kObjectEllipse:
    case kObjectLine:
    case kObjectPolygon:
    case kObjectArc:
      return true;
    default:
      return false;
  }
}

void SetLayerAllocFault(int64_t n) {
  gFailAt = n > 0 ? n : 0;
  gAllocCount = 0;
}
int64_t LayerAllocCount() { return gAllocCount; }

void SetLayerHooks(const qvLayerHooks* hooks) {
  gHooks = kDefaultHooks;
  if (hooks == nullptr) return;
  if (hooks->drawLayerObject != nullptr) gHooks.drawLayerObject = hooks->drawLayerObject;
  if (hooks->refreshLayerArea != nullptr) gHooks.refreshLayerArea = hooks->refreshLayerArea;
  if (hooks->notifyAsyncDraw != nullptr) gHooks.notifyAsyncDraw = hooks->notifyAsyncDraw;
  if (hooks->isUsedByAsyncDraw != nullptr) gHooks.isUsedByAsyncDraw = hooks->isUsedByAsyncDraw;
}

// ---- look-ups ----

int32_t FindLayerByName(const qvBGPic* bgpic, const char* name) {
  int32_t position = 1;
  for (qvLayer* l = FirstLayer(bgpic); l != nullptr; l = NextLayer(l), ++position) {
    if (l->name != nullptr && StrCaseCmp(l->name, name) == 0) return position;
  }
  return 0;
}

int FindLayer(const qvBGPic* bgpic, const qvLayerArg& arg, int32_t* position) {
  switch (arg.kind) {
    case qvLayerArg::kNumber:
      *position = TruncateToInt(arg.number);
      return 0;
    case qvLayerArg::kName:
      *position = FindLayerByName(bgpic, arg.name);
      if (*position != 0) return 0;
      SetErrorString(arg.name);
      return ERR_FINDLAYER;
    default:
      SetErrorNumber(arg.argIndex);
      return ERR_STRORNUM;
  }
}

qvLayer* GetLayerByIndex(const qvBGPic* bgpic, int32_t position) {
  if (position < 1) return nullptr;
  qvLayer* l = FirstLayer(bgpic);
  for (int32_t i = 1; l != nullptr && i < position; ++i) l = NextLayer(l);
  return l;
}

int32_t GetLayerPosition(const qvBGPic* bgpic, const qvLayer* layer) {
  int32_t position = 1;
  for (qvLayer* l = FirstLayer(bgpic); l != nullptr; l = NextLayer(l), ++position) {
    if (l == layer) return position;
  }
  return -1;
}

int SetLayerNameCore(const qvBGPic* bgpic, qvLayer* layer, const char* name) {
  size_t length = std::strlen(name);
  if (length >= kLayerNameSize) return ERR_NAMETOOLONG;
  char* copy = nullptr;
  if (length > 0) {
    for (qvLayer* l = FirstLayer(bgpic); l != nullptr; l = NextLayer(l)) {
      if (l == layer) continue;
      if ((l->name != nullptr && StrCaseCmp(l->name, name) == 0) ||
          (l->group[0] != '\0' && StrCaseCmp(l->group, name) == 0)) {
        return ERR_NAMEUSED;
      }
    }
    copy = static_cast<char*>(LayerAlloc(length + 1));
    if (copy == nullptr) return ERR_MEM;
    std::memcpy(copy, name, length + 1);
  }
  std::free(layer->name);
  layer->name = copy;
  return 0;
}

// ---- states ----

qvLayerState* AllocLayerState(int32_t type) {
  return static_cast<qvLayerState*>(LayerAlloc(StateSize(type)));
}

qvLayerState* CloneLayerState(int32_t type, const qvLayerState* state) {
  if (!HasCopyRoutine(type)) return nullptr;
  auto* copy = static_cast<qvLayerState*>(LayerAlloc(StateSize(type)));
  if (copy == nullptr) return nullptr;
  std::memcpy(static_cast<void*>(copy), state, StateSize(type));
  // The buffers stay with the state they were made for; the copy makes its own.
  copy->object = copy->render = copy->filtered = copy->bordered = {};
  copy->shadowMask = nullptr;
  copy->clipRegion = nullptr;
  copy->ownsClipRegion = 0;
  if (!CopyStateTail(type, copy)) {
    std::free(copy);
    return nullptr;
  }
  return copy;
}

void FreeStateBuffers(qvScriptState* L, qvLayerState* state) {
  FreePlaneSet(&state->object);
  FreePlaneSet(&state->render);
  FreePlaneSet(&state->filtered);
  FreePlaneSet(&state->bordered);
  FreeMaskOrAlpha(state->shadowMask);
  state->shadowMask = nullptr;
  if (state->ownsClipRegion) FreeClipRegionNode(L, state->clipRegion);
  state->clipRegion = nullptr;
  state->ownsClipRegion = 0;
}

void FreeLayerState(qvScriptState* L, int32_t type, qvLayerState* state) {
  if (state == nullptr) return;
  FreeStateBuffers(L, state);
  FreeStateTail(type, state);
  std::free(state);
}

void FreeLayerContents(qvScriptState* L, qvLayer* layer) {
  ForEachDistinctState(layer, [&](qvLayerState* state) { FreeLayerState(L, layer->kind, state); });
  layer->base = layer->previous = layer->current = nullptr;
  std::free(layer->name);
  layer->name = nullptr;
  FreeRefList(L, layer->objectData);
  layer->objectData = nullptr;
}

void CopyLayerStyleFields(const qvLayer* from, qvLayer* to) {
  to->hidden = from->hidden;
  to->transparency = from->transparency;
  to->shadow = from->shadow;
  to->border = from->border;
  to->hasGeometryFilter = from->hasGeometryFilter;
  std::copy(from->filters, from->filters + kLayerFilterCount, to->filters);
}

bool DisplayScalesLayers(const qvDisplay* display, const qvBGPic* bgpic) {
  return display != nullptr && display->layerScale && bgpic == display->bgpic &&
         !(display->scaleX == 1.0 && display->scaleY == 1.0);
}

void ClassifyTextRotation(qvTransformBlock* block) {
  const double a = block->matrix[0], b = block->matrix[1];
  const double c = block->matrix[2], d = block->matrix[3];
  if (b == 0.0 && c == 0.0) return;
  block->isRotated = 1;
  double scaleX = 0, scaleY = 0;
  if (FindTurn(a, b, &scaleX) && FindTurn(d, -c, &scaleY) && std::fabs(scaleX - scaleY) <= 0.01) {
    block->isRotated = 0;
    block->rotatedScaleX = scaleX;
    block->rotatedScaleY = scaleY;
  }
}

// ---- re-rendering ----

int RebuildLayerState(qvScriptState* L, qvDisplay* display, qvBGPic* bgpic, qvLayer* layer,
                      int32_t mode, qvLayerArea* oldArea) {
  if (oldArea != nullptr) *oldArea = {};
  const int32_t type = layer->kind;
  const bool scaled = (mode & kRebuildScaled) != 0 && display != nullptr;
  if (IsTextKind(type)) ClassifyTextRotation(&layer->transform);
  qvTransformBlock t = layer->transform;
  const double sx = scaled ? display->scaleX : 1.0, sy = scaled ? display->scaleY : 1.0;
  if (scaled) {
    // The display's scale applies to where the transform puts the pixels.
    t.matrix[0] *= sx;
    t.matrix[2] *= sx;
    t.matrix[1] *= sy;
    t.matrix[3] *= sy;
    if (t.width != 0) t.width = RoundToInt(t.width * sx);
    if (t.height != 0) t.height = RoundToInt(t.height * sy);
    t.smoothScale = display->smoothScale;
    if (std::fabs(sx - sy) > 0.01) t.smoothScale = 1;
  }

  qvLayerState* base = layer->base;
  if (!HasCopyRoutine(type)) return 0;  // nothing of its own to render
  qvLayerState* fresh = CloneLayerState(type, base);
  if (fresh == nullptr) return ERR_MEM;

  qvLayerState* const oldPrevious = layer->previous;
  qvLayerState* const oldCurrent = layer->current;
  const bool currentDistinct = oldCurrent != base && oldCurrent != oldPrevious;
  // The state this pass replaces, whose render buffers the new one reuses.
  qvLayerState* replaced = nullptr;
  bool queued = false;
  if (scaled) {
    if (oldArea != nullptr && !(mode & kRebuildNoOldArea)) {
      *oldArea = AreaOf(currentDistinct ? oldCurrent : oldPrevious);
    }
    if (currentDistinct) replaced = oldCurrent;
    layer->current = fresh;
  } else {
    if (oldArea != nullptr) *oldArea = AreaOf(oldPrevious);
    if (oldPrevious != base) replaced = oldPrevious;
    layer->previous = fresh;
    // Until the scaled pass (or for good, without a display scale) the display shows the new
    // render; a scaled current of before is freed once it is replaced.
    layer->current = fresh;
    queued = DisplayScalesLayers(display, bgpic);
  }
  if (replaced != nullptr) {
    fresh->render = replaced->render;
    replaced->render = {};
  }

  int code = 0;
  if (base->clipRegion != nullptr) {
    if (!scaled && layer->noClipTransform) {
      fresh->clipRegion = base->clipRegion;
    } else {
      static const double kIdentity[4] = {1, 0, 0, 1};
      fresh->clipRegion = BuildTransformedClipRegion(
          base->clipRegion, sx, sy, layer->noClipTransform ? kIdentity : layer->transform.matrix,
          scaled, false);
      fresh->ownsClipRegion = 1;
      if (fresh->clipRegion == nullptr) code = ERR_MEM;
    }
  }
  fresh->x = base->x;
  fresh->y = base->y;
  fresh->width = base->width;
  fresh->height = base->height;
  if (scaled) {
    if (type == kObjectLine) {
      fresh->drawX = RoundToInt(base->drawX * sx);
      fresh->drawY = RoundToInt(base->drawY * sy);
    } else {
      fresh->x = RoundToInt(base->x * sx);
      fresh->y = RoundToInt(base->y * sy);
    }
  }
  if (code == 0) {
    code = gHooks.drawLayerObject(L, display, layer, fresh, t,
                                  kRenderLayer | (scaled ? kRenderScaled : 0));
  }
  if (code != 0) {
    layer->previous = oldPrevious;
    layer->current = oldCurrent;
    if (replaced != nullptr) {
      replaced->render = fresh->render;
      fresh->render = {};
    }
    FreeLayerState(L, type, fresh);
    return code;
  }

  if (queued) {
    code = RebuildLayerState(L, display, bgpic, layer, kRebuildScaled | (mode & kRebuildTransform),
                             nullptr);
  }
  if (replaced != nullptr) FreeLayerState(L, type, replaced);
  if (!scaled && currentDistinct && oldCurrent != replaced) FreeLayerState(L, type, oldCurrent);
  return code;
}

void RevertLayerStates(qvScriptState* L, qvBGPic* bgpic) {
  for (qvLayer* l = FirstLayer(bgpic); l != nullptr; l = NextLayer(l)) {
    qvLayerState* current = l->current;
    if (current == nullptr || current == l->base || current == l->previous) continue;
    bool hadRender = current->render.bitmap != nullptr || l->needsRenderBuffers;
    bool hadMask = current->render.mask != nullptr, hadAlpha = current->render.alpha != nullptr;
    int32_t w = current->drawWidth, h = current->drawHeight;
    FreeLayerState(L, l->kind, current);
    l->current = l->previous;
    if (!hadRender || l->current->render.bitmap != nullptr) continue;
    if (gHooks.isUsedByAsyncDraw(l)) {
      gHooks.notifyAsyncDraw(kAsyncDrawLayerRendered, l);
      continue;
    }
    // An empty render of the size the async draw or the next render fills; without memory the
    // layer is drawn from its object until then.
    qvPlaneSet render{AllocBitMap(w, h), hadMask ? AllocMask(w, h, true) : nullptr,
                      hadAlpha ? AllocAlphaChannel(w, h, true) : nullptr};
    if (render.bitmap == nullptr || (hadMask && render.mask == nullptr) ||
        (hadAlpha && render.alpha == nullptr)) {
      FreePlaneSet(&render);
    }
    l->current->render = render;
  }
  bgpic->layersChanged = 1;
}

// ---- creation, deletion, freeing ----

int CreateLayerRecord(qvScriptState* L, const qvLayerRequest& r, qvLayer** out) {
  if (out != nullptr) *out = nullptr;
  qvBGPic* bgpic = r.bgpic;
  qvLayerState* state = r.state;
  auto* layer = static_cast<qvLayer*>(LayerAlloc(sizeof(qvLayer)));
  if (layer == nullptr || state == nullptr) {
    // Nothing took the pixels yet.
    FreeLayerState(L, r.type, state);
    FreeBitMap(r.bitmap);
    FreeMaskOrAlpha(r.mask);
    FreeMaskOrAlpha(r.alpha);
    std::free(layer);
    return ERR_MEM;
  }
  state->object = {r.bitmap, r.mask, r.alpha};
  state->anchoredX = state->x;
  state->anchoredY = state->y;
  state->drawX = r.x;
  state->drawY = r.y;
  state->drawWidth = r.width;
  state->drawHeight = r.height;
  layer->kind = r.type;
  layer->base = layer->previous = layer->current = state;

  bool linked = false;
  auto fail = [&](int code) {
    if (linked) RemoveListNode(&layer->node);
    FreeLayerContents(L, layer);
    std::free(layer);
    return code;
  };

  int32_t flags = r.flags;
  int32_t insertPos = r.insertPos;
  const int32_t count = CountBGPicLayers(bgpic);
  qvLayerOptions defaults;
  const qvLayerOptions* options = r.options;
  if (options == nullptr) {
    InitLayerOptions(&defaults);
    layer->shadow = defaults.shadow;
    layer->border = defaults.border;
  } else {
    layer->transparency = options->transparency;
    layer->shadow = options->shadow;
    layer->border = options->border;
    std::copy(options->filters, options->filters + kLayerFilterCount, layer->filters);
    layer->hasGeometryFilter = HasGeometryFilters(layer->filters) ? 1 : 0;
    if (options->hidden) flags |= kLayerHidden;
    if (options->name[0] != '\0') {
      int code = SetLayerNameCore(bgpic, layer, options->name);
      if (code != 0) return fail(code);
    }
    if (options->insertPos > 0) insertPos = count > 0 ? std::min(options->insertPos, count + 1) : 1;
  }
  layer->hidden = (flags & kLayerHidden) ? 1 : 0;
  const qvDisplay* display = r.display;
  layer->skipDraw = !layer->hidden && display != nullptr && display->outputType == kOutputBGPic &&
                    bgpic == display->bgpic;
  if (!(flags & kLayerReplace)) state->clipRegion = bgpic->clipRegion;

  if (r.transform != nullptr) {
    layer->transform = *r.transform;
  } else {
    InitTransformBlock(&layer->transform);
  }
  layer->anchorX = layer->transform.anchorX;
  layer->anchorY = layer->transform.anchorY;
  if (r.type != kObjectLine) {
    // The anchor moves the corner; the render keeps its offset from it.
    int32_t ax = state->x - TruncateToInt(state->width * layer->anchorX);
    int32_t ay = state->y - TruncateToInt(state->height * layer->anchorY);
    state->drawX += ax - state->anchoredX;
    state->drawY += ay - state->anchoredY;
    state->anchoredX = ax;
    state->anchoredY = ay;
  }
  layer->id = r.objectId;
  layer->sourceId = r.objectId;

  qvNode* pred = nullptr;
  if (insertPos == kInsertOnTop || insertPos < 1) {
    pred = bgpic->layers.tailPred;
  } else if (insertPos > 1) {
    qvLayer* below = GetLayerByIndex(bgpic, insertPos - 1);
    pred = below != nullptr ? &below->node : bgpic->layers.tailPred;
  }
  if (pred == reinterpret_cast<qvNode*>(&bgpic->layers)) pred = nullptr;  // empty list
  InsertListNode(&bgpic->layers, &layer->node, pred);
  linked = true;
  qvLayer* old = (flags & kLayerReplace) ? NextLayer(layer) : nullptr;
  const bool insertedBelow = NextLayer(layer) != nullptr;
  if (old != nullptr) {
    // Rendered under the old layer's clip region and its rule for it.
    state->clipRegion = old->base->clipRegion;
    layer->noClipTransform = old->noClipTransform;
  }

  bool rerendered = false;
  if (!IsIdentity(layer->transform.matrix)) {
    int code = RebuildLayerState(L, r.display, bgpic, layer, kRebuildTransform);
    if (code != 0) return fail(code);
    rerendered = true;
  }
  if ((flags & kLayerDisplayScale) && DisplayScalesLayers(r.display, bgpic)) {
    int32_t mode = old != nullptr ? kRebuildScaled | kRebuildTransform | kRebuildNoOldArea
                                  : kRebuildScaled | kRebuildNoOldArea;
    int code = RebuildLayerState(L, r.display, bgpic, layer, mode);
    if (code != 0) return fail(code);
    rerendered = true;
  }
  bgpic->layersChanged = 1;

  if (old != nullptr) {
    // The clip region, the data and the buttons go over to the new layer with the old one's
    // place.
    if (old->base->ownsClipRegion) {
      state->ownsClipRegion = 1;
      old->base->ownsClipRegion = 0;
    }
    layer->objectData = old->objectData;
    old->objectData = nullptr;
    RepointLayerButtons(bgpic, old, layer);
    gHooks.notifyAsyncDraw(kAsyncDrawLayerRemoved, old);
    RemoveLayerButtons(L, bgpic, old);
    int32_t oldKind = old->kind;
    FreeLayerContents(L, old);
    RemoveListNode(&old->node);
    std::free(old);
    PurgeLayerCopies(L, PurgeKindOf(oldKind));
  }

  // A plain new top layer was blitted by the caller already.
  bool effects = HasActiveFilters(layer->filters) || layer->transparency != 0 || layer->shadow.on ||
                 layer->border.on;
  if (!layer->hidden &&
      (insertedBelow || old != nullptr || (rerendered && !(flags & kLayerNoRefresh)) || effects)) {
    gHooks.refreshLayerArea(L, bgpic, layer);
  }
  if (out != nullptr) *out = layer;
  return 0;
}

void DeleteLayerRecord(qvScriptState* L, qvBGPic* bgpic, qvLayer* layer, bool noRefresh) {
  int32_t kind = layer->kind;
  if (!noRefresh) {
    // Recomposed without it: the layer stands in the list as a placeholder that is not drawn.
    layer->kind = kObjectNoObject;
    gHooks.refreshLayerArea(L, bgpic, layer);
    layer->kind = kind;
  }
  RemoveLayerButtons(L, bgpic, layer);
  FreeLayerContents(L, layer);
  RemoveListNode(&layer->node);
  std::free(layer);
  bgpic->layersChanged = 1;
  PurgeLayerCopies(L, PurgeKindOf(kind));
}

void FreeLayerList(qvScriptState* L, qvBGPic* bgpic, bool purge, bool removeButtons) {
  for (qvLayer* layer = FirstLayer(bgpic); layer != nullptr;) {
    qvLayer* next = NextLayer(layer);
    if (removeButtons) RemoveLayerButtons(L, bgpic, layer);
    // A placeholder's states are freed too: each was allocated with the layer.
    FreeLayerContents(L, layer);
    RemoveListNode(&layer->node);
    std::free(layer);
    layer = next;
  }
  bgpic->layersChanged = 1;
  if (purge) PurgeLayerCopies(L, kPurgeAll);
}

void PurgeLayerCopies(qvScriptState* L, int32_t kinds) {
  if (kinds & kPurgeBrushes) PurgeDetachedBrushes(L);
  // Anims and text objects keep no copies for layers until their subsystems come.
  if (kinds & kPurgeBGPics) PurgeDetachedBGPics(L);
  PurgeDetachedClipRegions(L);
}

}  // namespace qv
