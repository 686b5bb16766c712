// The runtime buffers that start-up creates together with the event queue (core/eventqueue.h):
// the name buffer for virtual file names and the current-source buffer of error messages. This
// header stays apart from the queue's so that code beside the script machine's internals can
// reach the buffers.
#pragma once

#include <cstddef>

namespace qv {

constexpr size_t kRuntimeBufferSize = 1024;

// The process's event queue and its two 1024-byte runtime buffers: the name buffer for virtual
// file names and the current-source buffer of error messages (initially "?"). Returns 0 or ERR_MEM.
int AllocRuntimeBuffers();
// Frees the queue with the data its events own, and both buffers. Call after every thread that
// posts events has ended.
void FreeRuntimeBuffers();

// Null outside AllocRuntimeBuffers .. FreeRuntimeBuffers.
char* RuntimeNameBuffer();
char* CurrentSourceBuffer();

}  // namespace qv
