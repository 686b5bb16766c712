// The save options of the commands that write pictures (SaveBrush, SaveSnapshot, ...).
#include "core/args.h"
#include "libs/options/options.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {

void ReadSaveOptions(qvScriptState* L, int index, int32_t* quality, int32_t* colours,
                     int32_t* dither) {
  *quality = 90;
  *colours = 256;
  *dither = 0;
  if (VmGetTop(L) < index) return;
  if (VmType(L, index) == kTypeTable) {
    GetFieldInt(L, index, "quality", quality, nullptr);
    GetFieldInt(L, index, "colors", colours, nullptr);
    GetFieldInt(L, index, "dither", dither, nullptr);
    return;
  }
  *quality = VmOptInt(L, index, 90);
}

}  // namespace qv
