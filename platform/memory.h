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

// True when no page that holds a byte of the block has been made resident or swapped out since it
// was mapped or last given back: memory of the process's own (the C heap, an anonymous mapping)
// then still reads as zeros throughout, and reading it would only cost page faults. False when
// any page was touched, even by a read, or when the kernel does not say. Any thread; one read of
// the kernel's page map, so for large blocks about to be read whole.
bool PagesNeverTouched(const void* block, size_t size);

// Large blocks straight from the kernel, in whole huge pages and backed by them where it allows:
// the first touch of a huge page then costs one fault instead of 512, and a block read at random
// places skips most page-table walks. Sizes are rounded up to whole huge pages the same way by
// all three, so a block is given back or resized with the size it was made or last resized
// with. MapBlock gives a zeroed block, or null; ResizeMappedBlock keeps the contents up to the
// smaller size (the bytes beyond are undefined) and may move the block; null when it cannot, the
// block then as it was. Any thread.
void* MapBlock(size_t size);
void* ResizeMappedBlock(void* block, size_t oldSize, size_t newSize);
void UnmapBlock(void* block, size_t size);

// A block of the C heap (std::free gives it back) on the same terms: it starts on a huge page,
// fills whole ones and is advised to be backed by them. Zeroed when `clear`; null when there is
// no memory. Any thread.
void* AllocHugePageBlock(size_t size, bool clear);

}  // namespace qv
