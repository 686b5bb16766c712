// Script tables as arrays (items at 0, 1, 2, ... up to the first Nil), sorted in place and copied
// deeply. The dos library sorts directory listings through SortTable. Script thread only; every
// function leaves the stack as it found it.
#pragma once

#include <cstdint>

namespace qv {

struct qvScriptState;

// The number of consecutive non-Nil items from index 0 of the table at `table`.
int32_t CountArrayItems(qvScriptState* L, int table);

// Sorts items 0 .. n - 1 of the table at `table` in place: n is CountArrayItems, and without a
// comparison function the count also stops at the first empty string. The order is the
// machine's less-than, or the function at stack index `compare` (0: none) called with (a, b),
// whose non-zero number result puts a first. Returns 0; ERR_STACK when the stack has no room for
// the work; ERR_SORTFUNC when an inconsistent order would run past the array's ends (no item
// outside 0 .. n - 1 is ever read); ERR_NUMCALLBACK when the function gives no number. Errors
// inside the function or the machine's comparisons unwind through the machine.
int32_t SortTable(qvScriptState* L, int table, int compare);
// SortTable without the fast path that sorts numbers outside the machine: tests compare both.
int32_t SortTableReference(qvScriptState* L, int table, int compare);

// Pushes a deep copy of the table at `table`: values that are tables are copied recursively,
// keys and other values are kept. A table met again while it is still being copied (a cycle)
// maps to its copy, so the copy has the same cycle; a table met again on a separate branch is
// copied again. Returns 0 with the copy pushed, or ERR_STACK (nothing pushed) when the nesting
// is too deep.
int32_t CopyTable(qvScriptState* L, int table);

}  // namespace qv
