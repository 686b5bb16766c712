// Memory hints to the kernel.
#pragma once

#include <cstddef>

namespace qv {

// Asks the kernel to back the whole huge pages inside a block with huge pages (a hint: blocks read
// at random places skip most page-table walks). Any thread; nothing happens where the kernel has
// no such advice.
void AdviseHugePages(void* block, size_t size);

// Makes every page that holds a byte of the block resident and writable in one request, without
// changing its contents: a block about to be written throughout then costs no page fault per
// page (two where the first touch of a page reads it). False where the kernel cannot do it. Any
// thread.
bool PopulatePages(void* block, size_t size);

}  // namespace qv
