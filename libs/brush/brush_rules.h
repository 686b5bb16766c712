// The rules every brush command keeps: the argument count is checked before anything else (by
// CheckArgCount, which raises), a changing command refuses the brush that is the output device
// before it looks the brush up, finds it for modification (layers showing it keep a copy) and,
// unless it works on vector brushes too, refuses a vector brush; a creating command releases an
// explicit id first and returns the handle of an automatic one.
#pragma once

#include <cstdint>

#include "core/args.h"
#include "display/brushes.h"

namespace qv {

// FindBrush flags of the changing commands: raster brushes only (a vector brush gets
// ERR_BRUSHTYPE), or any kind (scaling and turning, which a vector brush's plugin does itself).
enum : int32_t {
  kModifyRaster = kFindModify | kFindRasterOnly,
  kModifyAnyKind = kFindModify | kFindHardware,
};

// The brush a changing command works on: ERR_MODIFYABR when it is the current output device (a
// brush, its mask or its alpha channel selected), checked before the lookup; then FindBrush with
// the flags. 0 or the first error.
int FindBrushToModify(qvScriptState* L, qvObjectId id, int32_t flags, qvBrush** out);
// The same for the id at argument `index`.
int CheckBrushToModify(qvScriptState* L, int index, int32_t flags, qvBrush** out);

// The id of a brush a command creates, at argument `index` (Nil: automatic). An explicit id is
// released first (ReleaseBrushId, must exist 0). 0 or its error.
int BeginNewBrush(qvScriptState* L, int index, qvOptionalId* optional, qvObjectId* id);
// What a creating command returns: its new handle (1 value) for an automatic id, else 0 values.
int32_t FinishNewBrush(qvScriptState* L, qvOptionalId optional, qvObjectId id);

// A level argument: a number, or a percentage text of 255, clamped to 0 .. 255.
int32_t CheckLevel(qvScriptState* L, int index);

}  // namespace qv
