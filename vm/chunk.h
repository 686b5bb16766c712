// Bytecode chunks: the input stream over a reader, the loader, the verifier and the writer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vm/state.h"

namespace qv {

// The loader's input: blocks from a reader callback, refilled as they run out.
struct qvStream {
  size_t n;  // bytes left in the current block
  const char* p;
  qvReader reader;
  void* data;
  const char* name;
};

void VmStreamInit(qvStream* z, qvReader reader, void* data, const char* name);
// Refills from the reader: the first byte of the new block (consumed), or -1 at the end.
int VmStreamFill(qvStream* z);
// The next byte without consuming it, or -1 at the end.
int VmStreamPeek(qvStream* z);
// Reads n bytes; returns the number that could not be read (0 on success).
size_t VmStreamRead(qvStream* z, void* buffer, size_t n);

// A growable scratch buffer of the machine's allocator.
struct qvBuffer {
  char* data;
  size_t size;
};
void VmFreeBuffer(qvScriptState* L, qvBuffer* b);

// The binary loader: header, then the main function record; returns the main prototype.
qvProto* VmUndump(qvScriptState* L, qvStream* z, qvBuffer* buffer);

// 1 when the code passes the verifier.
int VmCheckCode(const qvProto* p);
// Symbolic execution up to lastpc. With reg = kNoRegister it only verifies; otherwise it
// returns the last instruction before lastpc that set the register. Returns the instruction
// (the last one when no register is asked for), 0 when the code is bad.
uint32_t VmVerifyCode(const qvProto* p, int lastpc, int reg);
// The same, giving the index of the setting instruction (-1 when none) and false for bad code.
bool VmSymbolicExec(const qvProto* p, int lastpc, int reg, int* setterPc);

// The writer.
struct qvDumpState {
  qvScriptState* L;
  qvWriter writer;
  void* data;
};
void VmDumpHeader(qvDumpState* D);
void VmDumpProto(const qvProto* p, const qvString* enclosingSource, qvDumpState* D);

// The chunk header's fixed values.
constexpr unsigned char kSignature[4] = {0x1B, 'Q', 'V', 'B'};
constexpr unsigned char kHeaderSizes[8] = {4, 4, 4, 6, 8, 9, 9, 8};
constexpr double kTestNumber = 31415926.535897933;
constexpr int kMaxFunctionNesting = 200;

}  // namespace qv
