// Memory blocks of the memblock library (objects of type MEMORY), for the libraries that load
// pictures or sounds from them.
#pragma once

#include <cstdint>

#include "core/registry.h"

namespace qv {

struct qvMemBlock {
  qvObjectHeader header;  // type MEMORY
  int32_t size;
  uint8_t* bytes;
};

// The block of that id: 0 with *out set; ERR_FINDARRAY for a handle that names none,
// ERR_FINDMEMBLK (the number stored) for a number.
int32_t FindMemBlock(qvObjectId id, qvMemBlock** out);

}  // namespace qv
