// Layer commands: switching layers on and off, adding objects as layers, showing, hiding,
// reordering, moving, removing and freeing layers, their names, shadows and borders, and the
// listing of the layer list. The work is the layer system's; these read the arguments.
#include <string>

#include "base/errors.h"
#include "base/support.h"
#include "core/args.h"
#include "display/displays.h"
#include "layers/layer_refresh.h"
#include "layers/layers.h"
#include "libs/layers/commands.h"
#include "platform/textout.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

namespace {

// RemoveLayer collects every member of a group before it removes any.
constexpr int32_t kMaxCollected = 256;

qvLayerArg ReadLayerArg(qvScriptState* L, int index) {
  qvLayerArg arg{qvLayerArg::kOther, 0.0, nullptr, index};
  switch (VmType(L, index)) {
    case kTypeNumber:
      arg.kind = qvLayerArg::kNumber;
      arg.number = VmToNumber(L, index);
      break;
    case kTypeString:
      arg.kind = qvLayerArg::kName;
      arg.name = VmToString(L, index);
      break;
    default:
      break;
  }
  return arg;
}

// The guard, with the display and the BGPic whose layers the command addresses.
int Guard(qvDisplay** display, qvBGPic** bgpic) {
  *display = CurrentDisplay();
  int code = CheckLayerGuard(*display);
  if (code != 0) return code;
  *bgpic = CurrentLayerBGPic(*display);
  return *bgpic != nullptr ? 0 : ERR_WRONGUSAGE;
}

// The guard, then the one layer that the argument names.
int GuardedLayer(const qvLayerArg& arg, qvBGPic** bgpic, qvLayer** layer) {
  qvDisplay* d = nullptr;
  int code = Guard(&d, bgpic);
  return code != 0 ? code : ResolveLayer(*bgpic, arg, layer);
}

int32_t ShowOrHide(qvScriptState* L, bool hidden) {
  int32_t x = kLayerKeepPosition, y = kLayerKeepPosition;
  if (hidden) {
    CheckArgCount(L, 1, 1);
  } else {
    CheckArgCount(L, 1, 3);
    x = VmOptInt(L, 2, kLayerKeepPosition);
    y = VmOptInt(L, 3, kLayerKeepPosition);
  }
  qvLayerArg arg = ReadLayerArg(L, 1);
  qvDisplay* d = nullptr;
  qvBGPic* bgpic = nullptr;
  int code = Guard(&d, &bgpic);
  if (code != 0) return code;
  qvLayer* layers[kMaxCollected];
  int32_t count = 0;
  code = CollectLayerOrGroup(bgpic, arg, layers, kMaxCollected, &count);
  if (code != 0) return code;
  bool isGroup = count > 1 ||
                 (arg.kind == qvLayerArg::kName && FindLayerByName(bgpic, arg.name) == 0);
  ShowHideLayersCore(L, d, layers, count, isGroup, x, y, hidden);
  return 0;
}

}  // namespace

int32_t EnableLayers(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  return EnableLayersCore(L, CurrentDisplay());
}

int32_t DisableLayers(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  return DisableLayersCore(L, CurrentDisplay());
}

int32_t InsertLayer(qvScriptState* L) {
  CheckArgCount(L, 5, 6);
  int32_t position = VmCheckInt(L, 1);
  int32_t type = VmCheckInt(L, 2);
  qvObjectId id = CheckObjectId(L, 3);
  int32_t x = VmCheckInt(L, 4);
  int32_t y = VmCheckInt(L, 5);
  bool hidden = VmOptInt(L, 6, 0) != 0;
  qvDisplay* d = nullptr;
  qvBGPic* bgpic = nullptr;
  int code = Guard(&d, &bgpic);
  if (code != 0) return code;
  return InsertObjectLayer(L, d, position, type, id, x, y, hidden);
}

int32_t ShowLayer(qvScriptState* L) { return ShowOrHide(L, false); }

int32_t HideLayer(qvScriptState* L) { return ShowOrHide(L, true); }

int32_t RemoveLayer(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvLayerArg arg = ReadLayerArg(L, 1);
  qvDisplay* d = nullptr;
  qvBGPic* bgpic = nullptr;
  int code = Guard(&d, &bgpic);
  if (code != 0) return code;
  qvLayer* layers[kMaxCollected];
  int32_t count = 0;
  code = CollectLayerOrGroup(bgpic, arg, layers, kMaxCollected, &count);
  if (code != 0) return code;
  return RemoveLayersCore(L, d, layers, count);
}

int32_t SwapLayers(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvLayerArg a = ReadLayerArg(L, 1);
  qvLayerArg b = ReadLayerArg(L, 2);
  qvDisplay* d = nullptr;
  qvBGPic* bgpic = nullptr;
  int code = Guard(&d, &bgpic);
  if (code != 0) return code;
  int32_t positionA = 0, positionB = 0;
  code = FindLayer(bgpic, a, &positionA);
  if (code == 0) code = FindLayer(bgpic, b, &positionB);
  if (code != 0) return code;
  if (positionA == positionB) return ERR_WRONGUSAGE;
  return SwapLayersCore(L, bgpic, positionA, positionB);
}

int32_t LayerToFront(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvLayerArg arg = ReadLayerArg(L, 1);
  qvBGPic* bgpic = nullptr;
  qvLayer* layer = nullptr;
  int code = GuardedLayer(arg, &bgpic, &layer);
  if (code != 0) return code;
  int32_t position = GetLayerPosition(bgpic, layer);
  int32_t top = CountBGPicLayers(bgpic);
  return position == top ? 0 : SwapLayersCore(L, bgpic, position, top);
}

int32_t LayerToBack(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvLayerArg arg = ReadLayerArg(L, 1);
  qvBGPic* bgpic = nullptr;
  qvLayer* layer = nullptr;
  int code = GuardedLayer(arg, &bgpic, &layer);
  if (code != 0) return code;
  int32_t position = GetLayerPosition(bgpic, layer);
  return position == 1 ? 0 : SwapLayersCore(L, bgpic, position, 1);
}

int32_t SetLayerZPos(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  qvLayerArg arg = ReadLayerArg(L, 1);
  qvLayerArg to = ReadLayerArg(L, 2);
  qvBGPic* bgpic = nullptr;
  qvLayer* layer = nullptr;
  int code = GuardedLayer(arg, &bgpic, &layer);
  if (code != 0) return code;
  int32_t position = 0;
  code = FindLayer(bgpic, to, &position);
  if (code != 0) return code;
  if (position < 0 || position == GetLayerPosition(bgpic, layer)) return ERR_WRONGUSAGE;
  if (SetLayerZPosCore(bgpic, layer, position) && !layer->hidden) {
    RefreshLayerArea(L, bgpic, layer);
  }
  return 0;
}

int32_t TranslateLayer(qvScriptState* L) {
  CheckArgCount(L, 3, 3);
  qvLayerArg arg = ReadLayerArg(L, 1);
  int32_t dx = VmCheckInt(L, 2);
  int32_t dy = VmCheckInt(L, 3);
  qvBGPic* bgpic = nullptr;
  qvLayer* layer = nullptr;
  int code = GuardedLayer(arg, &bgpic, &layer);
  if (code != 0) return code;
  MoveLayerCore(L, bgpic, layer, nullptr, dx, dy, false, kMoveRelativeX | kMoveRelativeY, nullptr);
  bgpic->layersChanged = 1;
  return 0;
}

int32_t FreeLayers(qvScriptState* L) {
  CheckArgCount(L, 0, 1);
  bool keep = VmOptInt(L, 1, 1) != 0;
  qvDisplay* d = nullptr;
  qvBGPic* bgpic = nullptr;
  int code = Guard(&d, &bgpic);
  if (code != 0) return code;
  return FreeLayersCore(L, d, keep);
}

int32_t SetLayerName(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  int32_t position = VmCheckInt(L, 1);
  const char* name = VmCheckString(L, 2);
  qvDisplay* d = nullptr;
  qvBGPic* bgpic = nullptr;
  int code = Guard(&d, &bgpic);
  if (code != 0) return code;
  if (position < 1) position = CountBGPicLayers(bgpic);
  qvLayer* layer = GetLayerByIndex(bgpic, position);
  if (layer == nullptr) return ERR_LAYERRANGE;
  return SetLayerNameCore(bgpic, layer, name);
}

int32_t LayerExists(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  const char* name = VmCheckString(L, 1);
  qvDisplay* d = nullptr;
  qvBGPic* bgpic = nullptr;
  int code = Guard(&d, &bgpic);
  if (code != 0) return code;
  VmPushNumber(L, FindLayerByName(bgpic, name) != 0 ? 1 : 0);
  return 1;
}

int32_t GetLayerAtPos(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  int32_t x = VmCheckInt(L, 1);
  int32_t y = VmCheckInt(L, 2);
  qvDisplay* d = nullptr;
  qvBGPic* bgpic = nullptr;
  int code = Guard(&d, &bgpic);
  if (code != 0) return code;
  const char* name = "";
  VmPushNumber(L, GetLayerAtPosCore(bgpic, x, y, &name));
  VmPushString(L, name);
  return 2;
}

int32_t DumpLayers(qvScriptState* L) {
  CheckArgCount(L, 0, 1);
  int32_t which = VmOptInt(L, 1, 0);
  qvDisplay* d = nullptr;
  qvBGPic* bgpic = nullptr;
  int code = Guard(&d, &bgpic);
  if (code != 0) return code;
  OutputText(DumpLayersText(bgpic, which).c_str());
  return 0;
}

int32_t SetLayerShadow(qvScriptState* L) {
  CheckArgCount(L, 2, 7);
  qvLayerArg arg = ReadLayerArg(L, 1);
  qvShadowBlock shadow{};
  shadow.on = VmCheckInt(L, 2) != 0 ? 1 : 0;
  shadow.colour = static_cast<uint32_t>(DoubleToInt32(VmOptNumber(L, 3, 2147483648.0)));
  shadow.radius = VmOptNumber(L, 4, 5.0);
  shadow.size = VmOptInt(L, 5, 4);
  shadow.direction = VmOptInt(L, 6, kShadowSouthEast);
  shadow.sigma = VmOptNumber(L, 7, shadow.radius / 3.0);
  if (shadow.radius < 1.0 || shadow.size < 0 || !(shadow.sigma > 0.0)) return ERR_WRONGUSAGE;
  qvBGPic* bgpic = nullptr;
  qvLayer* layer = nullptr;
  int code = GuardedLayer(arg, &bgpic, &layer);
  if (code != 0) return code;
  SetLayerShadowCore(L, bgpic, layer, shadow);
  return 0;
}

int32_t SetLayerBorder(qvScriptState* L) {
  CheckArgCount(L, 2, 4);
  qvLayerArg arg = ReadLayerArg(L, 1);
  qvBorderBlock border{};
  border.on = VmCheckInt(L, 2) != 0 ? 1 : 0;
  border.colour = static_cast<uint32_t>(DoubleToInt32(VmOptNumber(L, 3, 0)));
  border.size = VmOptInt(L, 4, 2);
  if (border.size < 1) return ERR_WRONGUSAGE;
  qvBGPic* bgpic = nullptr;
  qvLayer* layer = nullptr;
  int code = GuardedLayer(arg, &bgpic, &layer);
  if (code != 0) return code;
  SetLayerBorderCore(L, bgpic, layer, border);
  return 0;
}

int32_t Undo(qvScriptState* L) {
  CheckArgCount(L, 1, 4);
  int32_t type = VmCheckInt(L, 1);
  qvObjectId id{0, nullptr};
  if (VmType(L, 2) != kTypeNone && VmType(L, 2) != kTypeNil) id = CheckObjectId(L, 2);
  int32_t level = VmOptInt(L, 3, 1);
  bool noRefresh = VmOptInt(L, 4, 0) != 0;
  qvDisplay* d = nullptr;
  qvBGPic* bgpic = nullptr;
  int code = Guard(&d, &bgpic);
  if (code != 0) return code;
  return UndoCore(L, d, type, id, level, noRefresh);
}

}  // namespace qv::cmd
