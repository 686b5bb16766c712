#include "base/support.h"
#include "core/args.h"
#include "libs/options/options.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {

namespace {

// A colour where all 32 bits are set (NOTRANSPARENCY, -1) stands for none.
int64_t ColourOrNone(uint32_t word) { return word == 0xFFFFFFFFu ? -1 : int64_t{word & 0xFFFFFF}; }

}  // namespace

void ReadAnimLoadOptions(qvScriptState* L, int index, qvAnimLoadOptions* options,
                         qvAnimCacheNames* names) {
  if (VmGetTop(L) < index || VmType(L, index) == kTypeNil) return;
  if (VmType(L, index) != kTypeTable) {
    options->transparentColour = ColourOrNone(
        static_cast<uint32_t>(DoubleToInt32(VmCheckNumber(L, index))));
    return;
  }
  uint32_t colour = 0;
  if (GetFieldUInt(L, index, "transparency", &colour, nullptr)) {
    options->transparentColour = ColourOrNone(colour);
  }
  GetFieldFlag(L, index, "loadalpha", &options->loadAlpha, nullptr);
  GetFieldInt(L, index, "x", &options->x, nullptr);
  GetFieldInt(L, index, "y", &options->y, nullptr);
  GetFieldInt(L, index, "width", &options->width, nullptr);
  GetFieldInt(L, index, "height", &options->height, nullptr);
  GetFieldInt(L, index, "fpr", &options->framesPerRow, nullptr);
  GetFieldInt(L, index, "frames", &options->frames, nullptr);
  GetFieldFlag(L, index, "fromdisk", &options->fromDisk, nullptr);
  if (GetFieldString(L, index, "cache", names->cache, sizeof names->cache, nullptr)) {
    options->cacheName = names->cache;
  }
  if (GetFieldString(L, index, "cachedload", names->cachedLoad, sizeof names->cachedLoad,
                     nullptr)) {
    options->cachedLoadName = names->cachedLoad;
  }
  GetFieldFlag(L, index, "cachealpha", &options->cacheAlpha, nullptr);
}

}  // namespace qv
