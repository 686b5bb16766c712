// BGPic commands: a BGPic as the output device, and ending a selection.
#include "base/errors.h"
#include "core/args.h"
#include "display/display.h"
#include "libs/bgpic/commands.h"
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

}  // namespace qv::cmd
