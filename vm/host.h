// What the machine asks of the program that embeds it: how a command's error is raised, where the
// failing function is recorded, how a message reads, where the call trace goes, the memory hints
// and where large blocks come from. The host hands one record to VmOpenState; the machine never
// reaches the player's own code any other way. Every member but the memory hint and the large
// blocks must be set.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv {

struct qvScriptState;

constexpr size_t kLargeBlock = size_t(1) << 20;

// Blocks of kLargeBlock bytes and more straight from the system, where it can back them with
// large pages (a first touch then costs one fault for many pages). `map` gives a zeroed block or
// null; `remap` grows or shrinks one, keeping its contents up to the smaller size (the bytes
// beyond are undefined), or gives null and leaves it as it was; `unmap` gives one back. Each is
// told the size the block was made or last remapped with. All three null: such blocks come from
// the C heap like the others.
struct qvLargeBlocks {
  void* (*map)(size_t size);
  void* (*remap)(void* block, size_t oldSize, size_t newSize);
  void (*unmap)(void* block, size_t size);
};

struct qvVmHost {
  // A command's (or a metamethod's, finaliser's, iterator's) error word: records it and either
  // throws it through VmThrow or returns 0 so the script goes on.
  int32_t (*raiseError)(qvScriptState* L, int32_t code);
  // Called before the machine throws an error of its own: notes the failing function and line.
  void (*noteErrorFunction)(qvScriptState* L);
  // The noted function's name ("----" when unknown), and forgetting it once it was reported.
  const char* (*errorFunctionName)();
  void (*forgetErrorFunction)();
  // The finished message of a code (with the stored error arguments), cut to `size`.
  void (*formatMessage)(int32_t code, char* out, size_t size);
  // Text of the call trace.
  void (*outputText)(const char* text);
  // Makes the pages of a fresh block resident and writable in one request; false where that
  // cannot be done (the machine then writes one byte of each page itself).
  bool (*populatePages)(void* block, size_t size);
  // Where blocks of kLargeBlock bytes and more come from.
  qvLargeBlocks largeBlocks;
};

// The host a machine uses when VmOpenState gets none: every error ends the protected run, the
// function name is unknown, a message is "Error <code>" with its text argument, the trace goes
// to standard output, no memory hint is given and every block comes from the C heap.
const qvVmHost* VmDefaultHost();

}  // namespace qv
