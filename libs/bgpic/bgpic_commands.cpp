// BGPic commands: showing a BGPic or a part of it, a BGPic as the output device, ending a
// selection, changing a BGPic's size, freeing one.
#include "base/errors.h"
#include "base/support.h"
#include "core/args.h"
#include "display/display.h"
#include "libs/bgpic/commands.h"
#include "libs/options/options.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

namespace {
constexpr int32_t kSelectLayers = 2;  // SELMODE_LAYERS
}

int32_t DisplayBGPic(qvScriptState* L) {
  CheckArgCount(L, 1, 2);
  qvObjectId id = CheckObjectId(L, 1);
  // A position only from a table in the last place; without one the window stays where it is.
  int32_t x = kPositionNotGiven, y = kPositionNotGiven;
  if (VmGetTop(L) == 2 && VmType(L, 2) == kTypeTable) {
    GetFieldInt(L, 2, "x", &x, nullptr);
    GetFieldInt(L, 2, "y", &y, nullptr);
  }
  return DisplayBGPicCore(L, id, x, y, nullptr);
}

int32_t SelectBGPic(qvScriptState* L) {
  CheckArgCount(L, 1, 3);
  int32_t mode = VmOptInt(L, 2, kSelectLayers);
  if (mode == kSelectLayers) {
    bool own = VmType(L, 1) == kTypeNil;
    qvObjectId id = own ? qvObjectId{0, nullptr} : CheckObjectId(L, 1);
    return SelectBGPicAsLayerTarget(L, id, own);
  }
  qvObjectId id = CheckObjectId(L, 1);
  return SelectOutputDevice(L, kObjectBGPic, id, kOutputPicture, 0, mode, VmOptInt(L, 3, 0));
}

int32_t EndSelect(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  qvDisplay* display = CurrentDisplay();
  if (display == nullptr || display->doubleBuffer) return ERR_WRONGUSAGE;
  return EndSelectOutput(L, display, false);
}

int32_t DisplayBGPicPart(qvScriptState* L) {
  CheckArgCount(L, 5, 8);
  qvDisplayObjectRequest r;
  r.kind = kObjectBGPicPart;
  r.id = CheckObjectId(L, 1);
  r.srcX = VmCheckInt(L, 2);
  r.srcY = VmCheckInt(L, 3);
  r.width = VmCheckInt(L, 4);
  r.height = VmCheckInt(L, 5);
  // Without a place the part goes to its own place.
  r.x = VmOptInt(L, 6, -1);
  r.y = VmOptInt(L, 7, -1);
  if (VmGetTop(L) >= 8) {
    if (VmType(L, 8) == kTypeTable) {
      int32_t layers = 0;
      GetFieldInt(L, 8, "layers", &layers, nullptr);
      r.composeLayers = layers != 0;
    } else {
      r.composeLayers = VmCheckInt(L, 8) != 0;
    }
  }
  // Only a table there holds options.
  qvTransformBlock transform;
  qvLayerOptions options;
  ReadShowOptions(L, 8, 0, &transform, &options, &r);
  return DisplayObjectCore(L, r, nullptr, nullptr);
}

int32_t ScaleBGPic(qvScriptState* L) {
  CheckArgCount(L, 3, 4);
  qvBGPic* bgpic = nullptr;
  int code = FindBGPicToResize(L, CheckObjectId(L, 1), &bgpic);
  if (code != 0) return code;
  int32_t width = DoubleToInt32(GetNumberOrPercent(L, 2, bgpic->width, 1, nullptr));
  int32_t height = DoubleToInt32(GetNumberOrPercent(L, 3, bgpic->height, 1, nullptr));
  bool smooth = VmOptInt(L, 4, 0) != 0;
  if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
  return ResizeBGPic(L, bgpic, width, height, smooth);
}

int32_t FreeBGPic(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  return DeleteBGPicNode(L, CheckObjectId(L, 1), true);
}

}  // namespace qv::cmd
