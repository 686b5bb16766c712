// libFuzzer target: the chunk loader and the verifier.
#include "tests/fuzz/vm_load_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!qv::fuzz::IsLoaderStatus(qv::fuzz::LoadChunk(data, size))) __builtin_trap();
  return 0;
}
