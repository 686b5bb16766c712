// Compressed files ("QVPK" over zlib) through the core's packer.
#include "base/errors.h"
#include "core/args.h"
#include "core/compress.h"
#include "libs/dos/commands.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

// CompressFile(source, destination): the destination's size.
int32_t CompressFile(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  const char* source = CheckName(L, 1);
  const char* dest = CheckName(L, 2);
  uint32_t size = 0;
  int32_t code = qv::CompressFile(source, dest, &size);
  if (code != 0) return code;
  VmPushNumber(L, size);
  return 1;
}

// DecompressFile(source, destination): the decompressed size.
int32_t DecompressFile(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  const char* source = CheckName(L, 1);
  const char* dest = CheckName(L, 2);
  uint32_t size = 0;
  int32_t code = qv::DecompressFile(source, dest, &size);
  if (code != 0) return code;
  VmPushNumber(L, size);
  return 1;
}

}  // namespace qv::cmd
