// AsyncDrawFrame, CancelAsyncDraw and FinishAsyncDraw: the script's side of the asynchronous
// drawing objects (display/async_draw.h) that a transition, a move or an anim leaves it.
#include <optional>

#include "base/errors.h"
#include "core/args.h"
#include "display/async_draw.h"
#include "libs/graphics/commands.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

// AsyncDrawFrame(id [, frame]) -> finished: 0 after drawing a frame, 1 once the drawing has
// ended (the object is gone then).
int32_t AsyncDrawFrame(qvScriptState* L) {
  CheckArgCount(L, 1, 2);
  qvObjectId id = CheckObjectId(L, 1);
  std::optional<int32_t> frame;
  if (VmGetTop(L) >= 2 && VmType(L, 2) != kTypeNil) frame = VmCheckInt(L, 2);
  bool finished = false;
  int32_t code = qv::AsyncDrawFrame(L, id, frame, &finished);
  if (code != 0) return code;
  VmPushNumber(L, finished ? 1 : 0);
  return 1;
}

int32_t CancelAsyncDraw(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  return qv::CancelAsyncDraw(L, CheckObjectId(L, 1));
}

int32_t FinishAsyncDraw(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  return qv::FinishAsyncDraw(L, CheckObjectId(L, 1));
}

}  // namespace qv::cmd
