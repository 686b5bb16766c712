// Values as text.
#include "core/args.h"
#include "core/value_text.h"
#include "libs/string/commands.h"

namespace qv::cmd {

// ToString(value): the text of the value.
int32_t ToString(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  PushValueText(L, 1);
  return 1;
}

}  // namespace qv::cmd
