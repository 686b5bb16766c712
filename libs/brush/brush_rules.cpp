// The shared rules of the brush commands: finding the brush a command changes, and the ids of
// the brushes commands create.
#include "libs/brush/brush_rules.h"

#include <algorithm>

#include "base/errors.h"
#include "base/support.h"
#include "display/display.h"
#include "vm/vm.h"

namespace qv {

int FindBrushToModify(qvScriptState* L, qvObjectId id, int32_t flags, qvBrush** out) {
  *out = nullptr;
  if (IsSelectedOutput(kObjectBrush, id)) return ERR_MODIFYABR;
  return FindBrush(L, id, out, flags | kFindModify);
}

int CheckBrushToModify(qvScriptState* L, int index, int32_t flags, qvBrush** out) {
  return FindBrushToModify(L, CheckObjectId(L, index), flags, out);
}

int BeginNewBrush(qvScriptState* L, int index, qvOptionalId* optional, qvObjectId* id) {
  *optional = OptObjectId(L, index);
  *id = {optional->number, nullptr};
  if (optional->automatic) return 0;
  return ReleaseBrushId(L, *id, false);
}

int32_t FinishNewBrush(qvScriptState* L, qvOptionalId optional, qvObjectId id) {
  return PushNewObjectId(L, optional, id.handle);
}

int32_t CheckLevel(qvScriptState* L, int index) {
  double level = GetNumberOrPercent(L, index, 255, 0, nullptr);
  return std::clamp(TruncateToInt(level), 0, 255);
}

}  // namespace qv
