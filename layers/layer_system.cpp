// The layer system's record: the walks over the layer lists that the core, the image engine and
// the display code need, registered with the core at the layers library's open.
#include "core/layer_system.h"

#include <algorithm>

#include "base/errors.h"
#include "base/support.h"
#include "core/attribute_table.h"
#include "display/bgpics.h"
#include "display/displays.h"
#include "layers/compositor.h"
#include "layers/layer_draw.h"
#include "layers/layer_refresh.h"
#include "layers/layers.h"

namespace qv {

namespace {

bool LayerMatches(const qvLayerHead* layer, int32_t kind, qvObjectId id) {
  bool kindMatches = layer->kind == kind ||
                     (kind == kObjectBrush && layer->kind == kObjectBrushPart) ||
                     (kind != kObjectBrush && layer->kind == kObjectNoObject);
  return kindMatches && layer->id.number == id.number && layer->id.handle == id.handle;
}

template <typename Visit>
void ForEachLayer(Visit visit) {
  for (qvObjectHeader* h = *BGPicListHead(); h != nullptr; h = h->next) {
    auto* bgpic = reinterpret_cast<qvBGPic*>(h);
    for (qvNode* n = bgpic->layers.head; n != nullptr && n->next != nullptr; n = n->next) {
      if (!visit(reinterpret_cast<qvLayerHead*>(n))) return;
    }
  }
}

// The plug's name look-up: the layers of the BGPic that the current display shows.
int32_t LayerByName(const char* name) {
  const qvDisplay* d = CurrentDisplay();
  return d != nullptr && d->bgpic != nullptr ? FindLayerByName(d->bgpic, name) : 0;
}

bool IsLayerAttribute(int32_t a) {
  switch (a) {
    case attr::kWidth:
    case attr::kHeight:
    case attr::kLayers:
    case attr::kXPos:
    case attr::kYPos:
    case attr::kType:
    case attr::kVisible:
    case attr::kNumFrames:
    case attr::kCurFrame:
    case attr::kLayerId:
    case attr::kText:
    case attr::kFrameDelay:
    case attr::kGroup:
    case attr::kRawXPos:
    case attr::kRawYPos:
    case attr::kRawWidth:
    case attr::kRawHeight:
    case attr::kZPos:
      return true;
    default:
      return attr::IsFontAttribute(a);
  }
}

// A layer of the BGPic whose layers the commands address, by its position or its name. The
// position and size are the drawn ones (the draw rectangle of what the display shows) except the
// raw position, which is where the script put the anchor point, and the raw size, the object's
// before its transform.
int32_t LayerAttribute(const qvAttrQuery& q, qvAttrAnswer* out) {
  const qvDisplay* d = CurrentDisplay();
  const qvBGPic* bgpic = CurrentLayerBGPic(d);
  int32_t position = q.id.number;
  if (q.name != nullptr) {
    position = bgpic != nullptr ? FindLayerByName(bgpic, q.name) : 0;
    if (position == 0) {
      SetErrorString(q.name);
      return ERR_FINDLAYER;
    }
  }
  const qvLayer* layer = bgpic != nullptr ? GetLayerByIndex(bgpic, position) : nullptr;
  if (layer == nullptr) return ERR_LAYERRANGE;
  const qvLayerState* base = layer->base;
  const qvLayerState* shown = layer->current;
  const bool anim = layer->kind == kObjectAnim;
  const auto* frames = anim ? static_cast<const qvAnimLayerState*>(shown) : nullptr;
  switch (q.attribute) {
    case attr::kWidth:
      out->Number(shown->drawWidth);
      return 0;
    case attr::kHeight:
      out->Number(shown->drawHeight);
      return 0;
    case attr::kXPos:
      out->Number(shown->drawX);
      return 0;
    case attr::kYPos:
      out->Number(shown->drawY);
      return 0;
    case attr::kRawXPos:
      out->Number(base->x);
      return 0;
    case attr::kRawYPos:
      out->Number(base->y);
      return 0;
    case attr::kRawWidth:
      out->Number(base->width);
      return 0;
    case attr::kRawHeight:
      out->Number(base->height);
      return 0;
    case attr::kLayers:
      out->Number(CountBGPicLayers(bgpic));
      return 0;
    case attr::kType:
      out->Number(layer->kind);
      return 0;
    case attr::kVisible:
      out->Number(layer->hidden ? 0 : 1);
      return 0;
    case attr::kNumFrames:
      out->Number(frames != nullptr ? frames->frameCount : 1);
      return 0;
    case attr::kCurFrame:
      out->Number(frames != nullptr ? frames->frame + 1 : 1);
      return 0;
    case attr::kLayerId:
      out->Id(layer->id);
      return 0;
    case attr::kFrameDelay:
      out->Number(0);
      return 0;
    case attr::kGroup:
      out->Text(layer->group);
      return 0;
    case attr::kZPos:
      out->Number(position);
      return 0;
    default:
      break;
  }
  // Text and its font come with text layers.
  return IsLayerAttribute(q.attribute) ? ERR_UNSUPPORTEDFEAT : ERR_UNKNOWNATTR;
}

// The compositor: a target with layers on a display that shows them is recomposed with them,
// anything else as its picture and its sprites.
void ComposeWithLayers(qvScriptState* L, qvDisplay* display, qvBGPic* target, qvBitMap* dst,
                       int32_t x, int32_t y, int32_t width, int32_t height, int32_t flags,
                       int32_t mode) {
  const bool layers = target != nullptr && CountBGPicLayers(target) > 0 &&
                      (display == nullptr || display->layersOn);
  if (!layers) {
    ComposeTarget(L, display, target, dst, x, y, width, height, flags, mode);
    return;
  }
  // Sprites never stand on a target with layers: the halves around a blit are one recompose.
  if (mode == kRecomposeAbove) return;
  // The display's bitmap holds what lies beneath its layers.
  int32_t from = display != nullptr && target == display->bgpic ? kRedrawFromDisplayBitmap : 0;
  // Cut to the target here: the compositor refuses a rectangle that starts off it.
  int64_t x1 = std::max<int64_t>(x, 0), y1 = std::max<int64_t>(y, 0);
  int64_t x2 = std::min<int64_t>(int64_t{x} + width, target->width);
  int64_t y2 = std::min<int64_t>(int64_t{y} + height, target->height);
  if (x2 <= x1 || y2 <= y1) return;
  Redraw(L, display, target, dst, static_cast<int32_t>(x1), static_cast<int32_t>(y1),
         static_cast<int32_t>(x2 - x1), static_cast<int32_t>(y2 - y1), flags | from);
}

// The layers made visible while their BGPic was the layer target are drawn from now.
void EndLayerTargetMarks(qvBGPic* bgpic) {
  for (qvLayer* l = FirstLayer(bgpic); l != nullptr; l = NextLayer(l)) l->skipDraw = 0;
}

qvLayer* LayerAtPosition(const qvBGPic* bgpic, int32_t position) {
  return GetLayerByIndex(bgpic, position);
}
void PlaceOfLayer(const qvLayer* layer, int32_t* x, int32_t* y, int32_t* width, int32_t* height) {
  *x = layer->base->x;
  *y = layer->base->y;
  *width = layer->base->width;
  *height = layer->base->height;
}
void MoveLayerAnchor(qvScriptState* L, qvBGPic* bgpic, qvLayer* layer, int32_t x, int32_t y) {
  MoveLayerCore(L, bgpic, layer, nullptr, x, y, false, 0, nullptr);
  bgpic->layersChanged = 1;
}

void FreeLayersOfBGPic(qvScriptState* L, qvBGPic* bgpic) { FreeLayerList(L, bgpic, false, false); }

const qvAttrKind kAttributeRows[] = {
    {kObjectLayer, qvAttrIdForm::kLayer, LayerAttribute},
    {0, qvAttrIdForm::kObject, nullptr},
};

const qvLayerSystem kLayerSystem = {
    LayerByName,     CountBGPicLayers,  IsObjectShownByLayer, RepointObjectLayers,
    SpritesMeetRect, ComposeWithLayers, AddObjectLayerCore,   EndLayerTargetMarks,
    LayerAtPosition, PlaceOfLayer,      MoveLayerAnchor,      FreeLayersOfBGPic,
};

}  // namespace

int32_t CountBGPicLayers(const qvBGPic* bgpic) {
  int32_t n = 0;
  for (const qvNode* node = bgpic->layers.head; node != nullptr && node->next != nullptr;
       node = node->next) {
    ++n;
  }
  return n;
}

bool IsObjectShownByLayer(int32_t kind, qvObjectId id, const qvLayer* except) {
  bool shown = false;
  ForEachLayer([&](qvLayerHead* layer) {
    if (layer != except && LayerMatches(layer, kind, id)) shown = true;
    return !shown;
  });
  return shown;
}

bool RepointObjectLayers(int32_t kind, qvObjectId id, void* newHandle) {
  bool any = false;
  ForEachLayer([&](qvLayerHead* layer) {
    if (LayerMatches(layer, kind, id)) {
      layer->id = {0, newHandle};
      any = true;
    }
    return true;
  });
  return any;
}

int32_t OpenLayerSystem() {
  if (OpenLayerBatchList() != 0) return ERR_MEM;
  RegisterLayerSystem(&kLayerSystem);
  return RegisterAttributeKinds(kAttributeRows);
}

void CloseLayerSystem() {
  RegisterLayerSystem(nullptr);
  FreeLayerBatchList();
}

}  // namespace qv
