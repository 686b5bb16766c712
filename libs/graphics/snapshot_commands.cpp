// Snapshots of the window, the display or the desktop saved as pictures.
#include "base/errors.h"
#include "core/args.h"
#include "display/display.h"
#include "libs/graphics/commands.h"
#include "libs/options/options.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

int32_t SaveSnapshot(qvScriptState* L) {
  CheckArgCount(L, 1, 4);
  const char* fileName = CheckName(L, 1);
  int32_t type = VmOptInt(L, 2, kSnapWindow);
  int32_t format = VmOptInt(L, 3, kImageFormatBmp);
  int32_t quality = 0, colours = 0, dither = 0;
  ReadSaveOptions(L, 4, &quality, &colours, &dither);
  qvBitMap* bitmap = nullptr;
  bool owned = false;
  int code = GrabSnapshot(L, type, &bitmap, &owned);
  if (code != 0) return code;
  code = SaveBitMapAsPicture(format, bitmap, bitmap->width, bitmap->height, fileName, nullptr, -1,
                             nullptr, quality, colours, dither);
  if (owned) FreeBitMap(bitmap);
  return code;
}

}  // namespace qv::cmd
