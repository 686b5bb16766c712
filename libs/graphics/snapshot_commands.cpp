// Snapshots of the window, the display or the desktop saved as pictures.
#include "base/errors.h"
#include "core/args.h"
#include "display/display.h"
#include "libs/graphics/commands.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

namespace {
constexpr int32_t kFormatBmp = 0;  // IMGFMT_BMP
}

int32_t SaveSnapshot(qvScriptState* L) {
  CheckArgCount(L, 1, 4);
  const char* fileName = VmCheckString(L, 1);
  int32_t type = VmOptInt(L, 2, kSnapWindow);
  int32_t format = VmOptInt(L, 3, kFormatBmp);
  qvBitMap* bitmap = nullptr;
  bool owned = false;
  int code = GrabSnapshot(L, type, &bitmap, &owned);
  if (code != 0) return code;
  // The other formats come with their writers.
  code = format == kFormatBmp ? SaveBitMapAsBmp(bitmap, bitmap->width, bitmap->height, fileName)
                              : ERR_UNKNOWNIMGOUT;
  if (owned) FreeBitMap(bitmap);
  return code;
}

}  // namespace qv::cmd
