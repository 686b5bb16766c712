// Memory hints to the kernel.
#pragma once

#include <cstddef>

namespace qv {

// Asks the kernel to back the whole huge pages inside a block with huge pages (a hint: blocks read
// at random places skip most page-table walks). Any thread; nothing happens where the kernel has
// no such advice.
void AdviseHugePages(void* block, size_t size);

}  // namespace qv
