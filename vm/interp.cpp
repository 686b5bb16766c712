// The interpreter loop arrives with the bytecode loader; until then no script function can be
// built from a chunk, and a hand-made one is refused.
#include "vm/call.h"
#include "vm/errcodes.h"

namespace qv {

qvScriptValue* VmExecute(qvScriptState* L) { VmRaiseError(L, vmerr::kBadBytecode); }

}  // namespace qv
