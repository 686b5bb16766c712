// Brush commands: creating and freeing brushes.
#include "base/errors.h"
#include "base/support.h"
#include "core/args.h"
#include "display/display.h"
#include "libs/brush/commands.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

int32_t CreateBrush(qvScriptState* L) {
  CheckArgCount(L, 3, 5);
  qvOptionalId optional = OptObjectId(L, 1);
  int32_t width = VmCheckInt(L, 2);
  int32_t height = VmCheckInt(L, 3);
  auto colour = static_cast<uint32_t>(DoubleToInt32(VmOptNumber(L, 4, 0)));
  int32_t alpha = 0, mask = 0, clear = 0;
  if (VmGetTop(L) >= 5 && VmType(L, 5) == kTypeTable) {
    GetFieldInt(L, 5, "alphachannel", &alpha, nullptr);
    GetFieldInt(L, 5, "mask", &mask, nullptr);
    GetFieldInt(L, 5, "clear", &clear, nullptr);
  }
  if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
  if (alpha && mask) return ERR_WRONGUSAGE;
  qvObjectId id{optional.number, nullptr};
  if (!optional.automatic) {
    int code = ReleaseBrushId(L, id, false);
    if (code != 0) return code;
  }
  int code = AllocBrush(&id, optional.automatic != 0, width, height, colour, mask != 0, alpha != 0,
                        clear != 0, false, nullptr);
  if (code != 0) return code;
  if (!optional.automatic) return 0;
  VmPushLightUserdata(L, id.handle);
  return 1;
}

int32_t FreeBrush(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  return ReleaseBrushId(L, CheckObjectId(L, 1), true);
}

}  // namespace qv::cmd
