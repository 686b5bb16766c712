// CreatePointer, FreePointer, SetPointer, ShowPointer, HidePointer and MovePointer: read the
// script's arguments and hand the pointer work to the display code (display/pointers.h).
#include "base/errors.h"
#include "core/args.h"
#include "display/pointers.h"
#include "libs/graphics/commands.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

// CreatePointer(id, BRUSH, brush [, hotx, hoty]), (id, SPRITE, sprite [, frame [, hotx, hoty]])
// or (id, POINTER, STDPTR_SYSTEM or STDPTR_BUSY): Nil as the id returns the new pointer's handle.
int32_t CreatePointer(qvScriptState* L) {
  CheckArgCount(L, 3, 6);
  qvOptionalId optional = OptObjectId(L, 1);
  qvPointerRequest request{};
  int32_t source = VmCheckInt(L, 2);
  int32_t code = 0;
  if (source == kObjectBrush) {
    CheckArgCount(L, 3, 5);
    code = PointerPictureFromBrush(L, CheckObjectId(L, 3), &request.picture);
    request.hotX = VmOptInt(L, 4, -1);
    request.hotY = VmOptInt(L, 5, -1);
  } else if (source == kObjectPointer) {
    CheckArgCount(L, 3, 3);
    request.standardPointer = true;
    request.standard = VmCheckInt(L, 3);
  } else {
    return ERR_WRONGUSAGE;
  }
  if (code != 0) return code;
  qvObjectId id{optional.number, nullptr};
  qvPointer* pointer = nullptr;
  code = qv::CreatePointer(L, &id, optional.automatic != 0, request, &pointer);
  if (code != 0) return code;
  return PushNewObjectId(L, optional, pointer);
}

int32_t FreePointer(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  return qv::FreePointer(L, CheckObjectId(L, 1));
}

int32_t SetPointer(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  return qv::SetPointer(L, CheckObjectId(L, 1));
}

int32_t ShowPointer(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  qv::ShowPointer(true);
  return 0;
}

int32_t HidePointer(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  qv::ShowPointer(false);
  return 0;
}

int32_t MovePointer(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  int32_t x = VmCheckInt(L, 1);
  int32_t y = VmCheckInt(L, 2);
  qv::MovePointer(x, y);
  return 0;
}

}  // namespace qv::cmd
