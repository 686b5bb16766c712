// The training run of the script machine: a mix of the work scripts give it (calls and tail
// calls, number loops, tables by index and by name, methods, closures over locals, strings
// joined from names and numbers, and the garbage all of that leaves), run on the machine built
// with GCC's profile counters, under a line hook as the player always has one. The counts it
// leaves behind are the profile the player's machine is then compiled with.
//
// Usage: vm_train   (exit status 0 when every program gave its known result)
#include <cstdio>
#include <vector>

#include "tools/qvasm/qvasm.h"
#include "vm/vm.h"

namespace {

struct Program {
  const char* name;
  const char* text;  // a main function returning one number
  double want;
};

const Program kPrograms[] = {
    {"tak(18, 12, 6)", R"qv(
.function main
  .line 1
  CLOSURE R0, tak
  SETGLOBAL R0, "tak"
  LOADCONST R1, 18
  LOADCONST R2, 12
  LOADCONST R3, 6
  CALL R0, nargs=3, nres=1
  RETURN R0, n=1
  .function tak params=3
    .line 1
    LT 0, R1, R0
    JUMP @done
    .line 2
    GETGLOBAL R3, "tak"
    SUB R4, R0, 1
    MOVE R5, R1
    MOVE R6, R2
    CALL R3, nargs=3, nres=1
    GETGLOBAL R4, "tak"
    SUB R5, R1, 1
    MOVE R6, R2
    MOVE R7, R0
    CALL R4, nargs=3, nres=1
    GETGLOBAL R5, "tak"
    SUB R6, R2, 1
    MOVE R7, R0
    MOVE R8, R1
    CALL R5, nargs=3, nres=1
    .line 3
    GETGLOBAL R6, "tak"
    MOVE R7, R3
    MOVE R8, R4
    MOVE R9, R5
    TAILCALL R6, nargs=3, nres=all
    RETURN R6, n=top
  done:
    .line 4
    RETURN R2, n=1
  .end
.end
)qv",
     7},
    {"Collatz steps of 1 to 3000", R"qv(
.function main
  .line 1
  LOADCONST R0, 0
  LOADCONST R1, 0
  LOADCONST R2, 3000
  LOADCONST R3, 1
  JUMP @next
body:
  .line 2
  MOVE R4, R1
  JUMP @check
step:
  .line 3
  MOD R5, R4, 2
  EQ 0, R5, 0
  JUMP @odd
  .line 4
  DIV R4, R4, 2
  JUMP @count
odd:
  .line 5
  MUL R4, R4, 3
  ADD R4, R4, 1
count:
  .line 6
  ADD R0, R0, 1
check:
  .line 7
  LT 0, 1, R4
  JUMP @next
  JUMP @step
next:
  FORLOOP R1, @body
  RETURN R0, n=1
.end
)qv",
     215063},
    {"insertion sort of 600 numbers", R"qv(
.function main
  .line 1
  NEWTABLE R0, 0, 0
  LOADCONST R1, 1
  LOADCONST R2, 0
  LOADCONST R3, 600
  LOADCONST R4, 1
  JUMP @fill_test
fill:
  .line 2
  MUL R1, R1, 75
  ADD R1, R1, 74
  MOD R1, R1, 65537
  SETTABLE R0, R2, R1
fill_test:
  FORLOOP R2, @fill
  .line 3
  LOADCONST R2, 1
  LOADCONST R3, 600
  LOADCONST R4, 1
  JUMP @sort_test
sort:
  .line 4
  GETTABLE R5, R0, R2
  SUB R6, R2, 1
inner:
  .line 5
  LT 0, R6, 1
  JUMP @compare
  JUMP @place
compare:
  GETTABLE R7, R0, R6
  LT 0, R5, R7
  JUMP @place
  .line 6
  ADD R8, R6, 1
  SETTABLE R0, R8, R7
  SUB R6, R6, 1
  JUMP @inner
place:
  .line 7
  ADD R8, R6, 1
  SETTABLE R0, R8, R5
sort_test:
  FORLOOP R2, @sort
  .line 8
  LOADCONST R9, 0
  LOADCONST R2, 0
  LOADCONST R3, 600
  LOADCONST R4, 1
  JUMP @sum_test
sum:
  .line 9
  GETTABLE R7, R0, R2
  MUL R7, R7, R2
  ADD R9, R9, R7
sum_test:
  FORLOOP R2, @sum
  RETURN R9, n=1
.end
)qv",
     8039332537},
    {"20000 records and their methods", R"qv(
.function main
  .line 1
  LOADCONST R0, 0
  CLOSURE R1, area
  LOADCONST R2, 0
  LOADCONST R3, 20000
  LOADCONST R4, 1
  JUMP @test
body:
  .line 2
  NEWTABLE R5, arr=0 hashlog=2
  SETTABLE R5, "x", R2
  ADD R6, R2, 1
  SETTABLE R5, "y", R6
  SETTABLE R5, "area", R1
  .line 3
  SELF R6, R5, "area"
  CALL R6, nargs=1, nres=1
  ADD R0, R0, R6
test:
  FORLOOP R2, @body
  RETURN R0, n=1
  .function area params=1
    .line 10
    GETTABLE R1, R0, "x"
    GETTABLE R2, R0, "y"
    MUL R1, R1, R2
    RETURN R1, n=1
  .end
.end
)qv",
     2667066680000},
    {"names, sums by name and a counter", R"qv(
.function main
  .line 1
  LOADCONST R0, 0
  CLOSURE R1, inc [R0]
  NEWTABLE R2, 0, 0
  LOADCONST R3, -1
  LOADCONST R4, 499
  LOADCONST R5, 1
  JUMP @zero_test
zero:
  .line 2
  LOADCONST R7, "n"
  MOVE R8, R3
  CONCAT R7, R7, R8
  SETTABLE R2, R7, 0
zero_test:
  FORLOOP R3, @zero
  LOADCONST R3, 0
  LOADCONST R4, 20000
  LOADCONST R5, 1
  JUMP @test
body:
  .line 3
  MOD R6, R3, 500
  LOADCONST R7, "n"
  MOVE R8, R6
  CONCAT R7, R7, R8
  GETTABLE R8, R2, R7
  ADD R8, R8, R3
  SETTABLE R2, R7, R8
  MOVE R9, R1
  CALL R9, nargs=0, nres=0
  LOADCONST R11, "item"
  MOVE R12, R3
  LOADCONST R13, ","
  MUL R14, R3, 2
  CONCAT R11, R11, R14
test:
  FORLOOP R3, @body
  .line 5
  LOADCONST R10, 0
  LOADCONST R3, -1
  LOADCONST R4, 499
  LOADCONST R5, 1
  JUMP @sum_test
sum:
  .line 6
  LOADCONST R7, "n"
  MOVE R8, R3
  CONCAT R7, R7, R8
  GETTABLE R8, R2, R7
  ADD R10, R10, R8
sum_test:
  FORLOOP R3, @sum
  .line 7
  ADD R10, R10, R0
  EQ 0, R11, "item20000,40000"
  JUMP @done
  ADD R10, R10, 1
done:
  RETURN R10, n=1
  .function inc
    .upvalue "n"
    .line 20
    GETUPVAL R0, U0
    ADD R0, R0, 1
    SETUPVAL R0, U0
    RETURN R0, n=0
  .end
.end
)qv",
     200030001},
};

// The player's break check has nothing to do unless asked: the hook runs on request only.
void Hook(qv::qvScriptState*, qv::qvDebugRecord*, int32_t*) {}

struct ChunkReader {
  const std::vector<uint8_t>* bytes;
  bool done;
  static const char* Read(qv::qvScriptState*, void* data, size_t* size) {
    auto* r = static_cast<ChunkReader*>(data);
    if (r->done) {
      *size = 0;
      return nullptr;
    }
    r->done = true;
    *size = r->bytes->size();
    return reinterpret_cast<const char*>(r->bytes->data());
  }
};

// Runs one program: true when it gave its result.
bool Run(const Program& program) {
  const qvasm::Result chunk = qvasm::Assemble(program.text);
  if (!chunk.ok()) {
    std::fprintf(stderr, "vm_train: %s: line %d: %s\n", program.name, chunk.diags[0].line,
                 chunk.diags[0].message.c_str());
    return false;
  }
  qv::qvScriptState* L = qv::VmOpenState();
  if (L == nullptr) return false;
  ChunkReader reader{&chunk.bytes, false};
  int32_t status = qv::VmLoad(L, ChunkReader::Read, &reader, program.name);
  if (status == 0) {
    qv::VmSetHook(L, Hook, qv::kMaskLine | qv::kMaskOnRequest, 0);
    qv::VmRequestHook(L);  // once, so that the hook's own road is taken too
    status = qv::VmPCall(L, 0, 1, 0);
  }
  bool ok = status == 0;
  if (!ok) {
    std::fprintf(stderr, "vm_train: %s: error %d\n", program.name, status);
  } else if (const double got = qv::VmToNumber(L, -1); got != program.want) {
    std::fprintf(stderr, "vm_train: %s: %.17g, not %.17g\n", program.name, got, program.want);
    ok = false;
  }
  qv::VmCloseState(L);
  return ok;
}

}  // namespace

int main() {
  bool ok = true;
  for (const Program& program : kPrograms) ok = Run(program) && ok;
  return ok ? 0 : 1;
}
