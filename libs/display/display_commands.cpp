// Display commands: creating displays.
#include "core/args.h"
#include "display/display.h"
#include "libs/display/commands.h"
#include "vm/vm.h"

namespace qv::cmd {

int32_t CreateDisplay(qvScriptState* L) {
  CheckArgCount(L, 1, 2);
  qvOptionalId optional = OptObjectId(L, 1);
  qvObjectId id{optional.number, nullptr};
  int code = CreateDisplayCore(L, &id, optional.automatic != 0, VmGetTop(L) >= 2 ? 2 : 0, nullptr);
  if (code != 0) return code;
  if (!optional.automatic) return 0;
  VmPushLightUserdata(L, id.handle);
  return 1;
}

}  // namespace qv::cmd
