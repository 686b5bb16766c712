// CreateClipRegion, SetClipRegion and FreeClipRegion: read the script's arguments and hand the
// region work to the display code (display/clip_regions.h).
#include "base/errors.h"
#include "core/args.h"
#include "display/clip_regions.h"
#include "libs/graphics/commands.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

// CreateClipRegion(id, BOX, x, y, width, height) or (id, MASK, brush, x, y): Nil as the id
// returns the new region's handle.
int32_t CreateClipRegion(qvScriptState* L) {
  CheckArgCount(L, 5, 6);
  qvOptionalId optional = OptObjectId(L, 1);
  qvClipRegionRequest request{};
  request.kind = VmCheckInt(L, 2);
  if (request.kind == kObjectMask) {
    CheckArgCount(L, 5, 5);
    request.brush = CheckObjectId(L, 3);
    request.x = VmCheckInt(L, 4);
    request.y = VmCheckInt(L, 5);
  } else if (request.kind == kObjectBox) {
    CheckArgCount(L, 6, 6);
    request.x = VmCheckInt(L, 3);
    request.y = VmCheckInt(L, 4);
    request.width = VmCheckInt(L, 5);
    request.height = VmCheckInt(L, 6);
  } else {
    return ERR_WRONGUSAGE;
  }
  qvObjectId id{optional.number, nullptr};
  qvClipRegion* region = nullptr;
  int32_t code = qv::CreateClipRegion(L, &id, optional.automatic != 0, request, &region);
  if (code != 0) return code;
  return PushNewObjectId(L, optional, region);
}

// SetClipRegion(id or NONE): NONE (or 0) clears the output's region.
int32_t SetClipRegion(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvObjectId id = CheckObjectId(L, 1);
  bool none = id.handle == nullptr && (id.number == 0 || id.number == -1);
  return qv::SetClipRegion(L, id, none);
}

int32_t FreeClipRegion(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  return FreeClipRegionCore(L, CheckObjectId(L, 1), true);
}

}  // namespace qv::cmd
