// Loads one chunk the way the fuzz target and the corpus replay do: delivered in pieces whose
// size the first byte chooses; on success written back and loaded again, then run with an
// instruction budget (and, in test builds, a memory cap): verified code must never crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/errors.h"
#include "vm/opcodes.h"
#include "vm/state.h"
#include "vm/vm.h"

namespace qv::fuzz {

struct PieceReader {
  const uint8_t* data;
  size_t size;
  size_t piece;
  size_t pos;
  static const char* Read(qvScriptState*, void* arg, size_t* size) {
    auto* r = static_cast<PieceReader*>(arg);
    size_t n = r->size - r->pos;
    if (n > r->piece) n = r->piece;
    *size = n;
    const char* p = reinterpret_cast<const char*>(r->data + r->pos);
    r->pos += n;
    return n > 0 ? p : nullptr;
  }
};

// Stops a run after about 20000 instructions.
inline int gBudget;
inline void BudgetHook(qvScriptState*, qvDebugRecord*, int32_t* error) {
  if (--gBudget <= 0) *error = ERR_INTERNAL;
}

// Chunks that build tables of thousands of slots in a loop cost seconds per run without telling
// more; they are loaded but not run.
inline bool WorthRunning(const qvProto* p) {
  for (int i = 0; i < p->sizecode; ++i) {
    uint32_t code = p->code[i];
    if (GetOp(code) == OpNewTable && (GetC(code) > 8 || (GetB(code) >> 3) > 10)) return false;
  }
  for (int i = 0; i < p->sizep; ++i)
    if (!WorthRunning(p->p[i])) return false;
  return true;
}

inline int Collect(qvScriptState*, const void* bytes, size_t size, void* arg) {
  auto* out = static_cast<std::vector<uint8_t>*>(arg);
  out->insert(out->end(), static_cast<const uint8_t*>(bytes),
              static_cast<const uint8_t*>(bytes) + size);
  return 0;
}

// The load status; a chunk that loads must survive the round trip, else 0x7FFFFFFF.
inline int32_t LoadChunk(const uint8_t* data, size_t size) {
  qvScriptState* L = VmOpenState();
  if (L == nullptr) return ERR_MEM;
  const size_t piece = size > 0 ? 1 + data[0] % 16 : 1;
  PieceReader reader{data, size, piece, 0};
  int32_t status = VmLoad(L, PieceReader::Read, &reader, "fuzz");
  if (status == 0) {
    std::vector<uint8_t> first, second;
    VmDump(L, -1, Collect, &first);
    PieceReader again{first.data(), first.size(), first.size(), 0};
    if (VmLoad(L, PieceReader::Read, &again, "fuzz") != 0) status = 0x7FFFFFFF;
    VmDump(L, -1, Collect, &second);
    if (first != second) status = 0x7FFFFFFF;
    const auto* main = static_cast<const qvLClosure*>(ClosureOf(VmIndexToAddress(L, -1)));
    if (!WorthRunning(main->p)) {
      VmCloseState(L);
      return status;
    }
    gBudget = 20;
    VmSetHook(L, BudgetHook, kMaskCount, 1000);
#ifdef QV_VM_TEST_HOOKS
    gAllocationLimit = G(L)->nblocks + (64u << 20);
#endif
    VmPCall(L, 0, 0, 0);  // any outcome but a crash
#ifdef QV_VM_TEST_HOOKS
    gAllocationLimit = UINT64_MAX;
#endif
  }
  VmCloseState(L);
  return status;
}

inline bool IsLoaderStatus(int32_t status) {
  return status == 0 || status == ERR_MEM ||
         (status >= ERR_UNEXPECTEDEOF && status <= ERR_UNKNUMFMT);
}

}  // namespace qv::fuzz
