// BGPic commands: a BGPic as the output device, ending a selection, showing a part of a BGPic.
#include "base/errors.h"
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

}  // namespace qv::cmd
