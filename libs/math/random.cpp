// Random numbers from the runtime's 48-bit generator, which the library seeds when it opens.
#include "base/errors.h"
#include "base/support.h"
#include "core/args.h"
#include "libs/math/commands.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

// Rnd(n): a whole number from 0 to n - 1; 0 for n = 0, ERR_WRONGUSAGE for n < 0.
int32_t Rnd(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  int32_t n = VmCheckInt(L, 1);
  if (n < 0) return ERR_WRONGUSAGE;
  // The product lies in [0, n), inside the int range, so the truncation is exact.
  VmPushNumber(L, static_cast<int32_t>(n * Random48()));
  return 1;
}

// RndF(): a double in [0, 1).
int32_t RndF(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  VmPushNumber(L, Random48());
  return 1;
}

}  // namespace qv::cmd
