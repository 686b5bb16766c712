// The script virtual machine: the public interface that command handlers, plugins and the player
// core use. Values are addressed by stack index; the machine's records stay private (vm/state.h).
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv {

struct qvScriptState;
struct qvGCObject;

// Type codes of script values.
constexpr int32_t kTypeNone = -1;  // an index beyond the top; never stored
constexpr int32_t kTypeNil = 0;
constexpr int32_t kTypeBoolean = 1;
constexpr int32_t kTypeLightUserdata = 2;
constexpr int32_t kTypeNumber = 3;
constexpr int32_t kTypeString = 4;
constexpr int32_t kTypeTable = 5;
constexpr int32_t kTypeFunction = 6;
constexpr int32_t kTypeUserdata = 7;
constexpr int32_t kTypeThread = 8;

// A value slot: a 32-bit type code and an 8-byte payload.
union qvValuePayload {
  qvGCObject* gc;
  void* p;
  double n;
  int32_t b;
};
struct qvScriptValue {
  int32_t type;
  qvValuePayload value;
};
static_assert(sizeof(qvScriptValue) == 16, "a value slot is 16 bytes");

// A native function returns the number of values it pushed (0-999), -1 or -2 to run an applet
// label as a subroutine, or an error code (1000 and up).
using qvCFunction = int32_t (*)(qvScriptState* L);
// Chunk reader: returns the next block and stores its length; null or length 0 ends the data.
using qvReader = const char* (*)(qvScriptState* L, void* data, size_t* size);
// Chunk writer: receives the bytes of a dump; the result is ignored.
using qvWriter = int (*)(qvScriptState* L, const void* bytes, size_t size, void* data);
// Body of a protected run.
using qvProtectedBody = void (*)(qvScriptState* L, void* arg);

// Pseudo-indices.
constexpr int kRegistryIndex = -10000;
constexpr int kGlobalsIndex = -10001;
constexpr int VmUpvalueIndex(int i) { return kGlobalsIndex - i; }

// Result of VmCall and VmPCall with all results kept.
constexpr int kMultipleResults = -1;

// ---- state ----
struct qvVmHost;
// A new machine that reaches its embedding program through `host` (kept, not copied; null: the
// machine's default host, see vm/host.h). Null when memory runs out.
qvScriptState* VmOpenState(const qvVmHost* host = nullptr);
void VmCloseState(qvScriptState* L);
// The machine's only allocator: new size 0 frees; keeps the byte count exact.
void* VmRealloc(qvScriptState* L, void* block, size_t oldSize, size_t newSize);

// ---- stack ----
qvScriptValue* VmIndexToAddress(qvScriptState* L, int index);
int VmCheckStack(qvScriptState* L, int n);
int VmGetTop(qvScriptState* L);
void VmSetTop(qvScriptState* L, int index);
void VmRemove(qvScriptState* L, int index);
void VmInsert(qvScriptState* L, int index);
void VmReplace(qvScriptState* L, int index);
void VmPushValue(qvScriptState* L, int index);

// ---- reading ----
int32_t VmType(qvScriptState* L, int index);
int VmIsCFunction(qvScriptState* L, int index);
int VmIsNumber(qvScriptState* L, int index);
int VmIsString(qvScriptState* L, int index);
int VmIsUserdata(qvScriptState* L, int index);
int VmRawEqual(qvScriptState* L, int index1, int index2);
int VmEqual(qvScriptState* L, int index1, int index2);
// byteOrder nonzero: strings in byte order; 0: case-insensitive.
int VmLessThan(qvScriptState* L, int index1, int index2, int byteOrder);
double VmToNumber(qvScriptState* L, int index);
int VmToBoolean(qvScriptState* L, int index);
const char* VmToString(qvScriptState* L, int index);
size_t VmStrLen(qvScriptState* L, int index);
qvCFunction VmToCFunction(qvScriptState* L, int index);
void* VmToUserdata(qvScriptState* L, int index);
qvScriptState* VmToThread(qvScriptState* L, int index);
const void* VmToPointer(qvScriptState* L, int index);

// ---- pushing ----
void VmPushNil(qvScriptState* L);
void VmPushNumber(qvScriptState* L, double n);
void VmPushLightUserdata(qvScriptState* L, void* p);
void VmPushLString(qvScriptState* L, const char* s, size_t len);
void VmPushString(qvScriptState* L, const char* s);
void VmPushStringNoGC(qvScriptState* L, const char* s);
void VmPushCClosure(qvScriptState* L, qvCFunction fn, int n);

// ---- tables and environments ----
void VmGetTable(qvScriptState* L, int index);
void VmRawGet(qvScriptState* L, int index);
void VmRawGetI(qvScriptState* L, int index, int n);
void VmNewTable(qvScriptState* L);
void VmNewTableNoGC(qvScriptState* L);
int VmGetMetaTable(qvScriptState* L, int index);
void VmGetFEnv(qvScriptState* L, int index);
void VmSetTable(qvScriptState* L, int index);
void VmRawSet(qvScriptState* L, int index);
void VmRawSetI(qvScriptState* L, int index, int n);
int VmSetMetaTable(qvScriptState* L, int index);
int VmSetFEnv(qvScriptState* L, int index);
int VmNext(qvScriptState* L, int index);

// ---- calls ----
int32_t VmCall(qvScriptState* L, int nargs, int nresults);
int32_t VmPCall(qvScriptState* L, int nargs, int nresults, int errorFunction);
// Loads a chunk and pushes its main function; 0, or an error code and nothing pushed.
int32_t VmLoad(qvScriptState* L, qvReader reader, void* data, const char* chunkName);
// The reader for a chunk held in memory: the whole buffer on the first call, then nothing.
struct qvChunkBuffer {
  const char* data;
  size_t size;
};
const char* ChunkReader(qvScriptState* L, void* chunkBuffer, size_t* size);
// Writes the script function at index as a chunk; ERR_NOQVFUNC for anything else.
int32_t VmDump(qvScriptState* L, int index, qvWriter writer, void* data);

// ---- garbage collection ----
uint32_t VmGetGCThreshold(qvScriptState* L);
uint32_t VmGetGCCount(qvScriptState* L);
void VmSetGCThreshold(qvScriptState* L, uint32_t kilobytes);

// ---- miscellaneous ----
void VmConcat(qvScriptState* L, int n);
void* VmNewUserdata(qvScriptState* L, size_t size);
int VmPushUpvalues(qvScriptState* L);
const char* VmGetUpvalue(qvScriptState* L, int funcIndex, int n);
const char* VmSetUpvalue(qvScriptState* L, int funcIndex, int n);

// ---- errors ----
// Runs body(L, arg); returns 0, or the error code thrown inside it.
int32_t VmRunProtected(qvScriptState* L, qvProtectedBody body, void* arg);
// Unwinds to the innermost protected run with the code.
[[noreturn]] void VmThrow(qvScriptState* L, int32_t code);
// Records the script line and the function name, then throws the code.
[[noreturn]] void VmRaiseError(qvScriptState* L, int32_t code);
// A command's error word through the host: throws it, or returns 0 when the host lets the
// script go on.
int32_t VmHostRaise(qvScriptState* L, int32_t code);

// ---- hooks ----
// Events and mask bits.
constexpr int kHookCall = 0;
constexpr int kHookReturn = 1;
constexpr int kHookLine = 2;
constexpr int kHookCount = 3;
constexpr int kHookTailReturn = 4;
constexpr int kMaskCall = 1;
constexpr int kMaskReturn = 2;
constexpr int kMaskLine = 4;
constexpr int kMaskCount = 8;
// With kMaskLine (and without kMaskCount): the line hook runs at a line event only when
// VmRequestHook was called since it last ran. For a hook that has nothing to do unless something
// happened elsewhere, which then asks for it: the line events stay those of a plain line hook,
// and the interpreter pays nothing while no request is pending.
constexpr int kMaskOnRequest = 16;
struct qvDebugRecord {
  int32_t event;
  const char* name;
  const char* namewhat;
  const char* what;
  const char* source;
  int32_t currentline;  // -1 for call and return events
  int32_t nups;
  int32_t linedefined;
  char shortSrc[60];
  int32_t ci;  // call-record index; 0 stands for a folded tail call
};
// A nonzero error word left by the hook is thrown as an error code.
using qvHook = void (*)(qvScriptState* L, qvDebugRecord* ar, int32_t* error);
// Installs the hook for the mask (and the instruction count); a null hook or mask 0 removes it.
void VmSetHook(qvScriptState* L, qvHook hook, int mask, int count);
// Asks an on-request line hook to run at the next line event; nothing without one. Any thread.
void VmRequestHook(qvScriptState* L);

// ---- process words ----
// The End flag stops the interpreter before its next instruction; natives that call back into
// the machine poll it after each call.
int32_t VmGetEndFlag(qvScriptState* L);
void VmSetEndFlag(qvScriptState* L, int32_t on);
// Nonzero: every native function call is traced through OutputText.
int32_t VmGetTraceFlag(qvScriptState* L);
void VmSetTraceFlag(qvScriptState* L, int32_t on);
// The code of the most recent failed command (cleared before every native call except the
// one registered with VmSetLastErrorReader).
int32_t VmGetLastError(qvScriptState* L);
void VmSetLastError(qvScriptState* L, int32_t code);
void VmSetLastErrorReader(qvScriptState* L, qvCFunction fn);
// Registry reference of the script's error handler, -1 when none.
int32_t VmGetErrorHandlerRef(qvScriptState* L);
void VmSetErrorHandlerRef(qvScriptState* L, int32_t ref);
// 1 while the script's error handler runs.
int32_t VmGetInErrorHandler(qvScriptState* L);
// While nonzero the script's error handler is not called (the callback nesting counter).
int32_t VmGetHandlerSuppression(qvScriptState* L);
void VmSetHandlerSuppression(qvScriptState* L, int32_t count);
// Index of the instruction after the call in progress.
int32_t VmGetCurrentInstruction(qvScriptState* L);
// Offset of the label subroutine that a native's -1/-2 result runs.
int32_t VmGetJumpOffset(qvScriptState* L);
void VmSetJumpOffset(qvScriptState* L, int32_t offset);
// Script line of the failing instruction, -1 when unknown.
int32_t VmGetErrorLine(qvScriptState* L);
void VmSetErrorLine(qvScriptState* L, int32_t line);
// While the error line is unknown (-1), takes the current line of the level that called the
// running function: a command that fails reports the line of the instruction that called it.
void VmFillErrorLine(qvScriptState* L);

// Hands a failed command's code to the script's error handler (see the command contract);
// returns 0 when the handler ran, else the code of a failure inside it.
int32_t CallErrorHandler(qvScriptState* L, int32_t code);

}  // namespace qv
