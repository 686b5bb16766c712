// Where the script is: call levels, the function, source and line of each, and names for
// functions and values.
#pragma once

#include <cstddef>

#include "vm/state.h"

namespace qv {

// Selects a call level for VmGetInfo: 0 is the running function, and each script level below
// also counts the tail calls folded into it. A level inside such a run gets the record index 0
// (the tail-call entry). Returns 0 when the level does not exist.
int VmGetStack(qvScriptState* L, int level, qvDebugRecord* ar);

// Fills the record for each letter of `options` about the level that ar->ci selects:
//   "S" source, short source, line defined and kind ("C", "main", "Quillvane" or "tail");
//   "l" current line (-1 when unknown); "u" upvalue count; "n" name and name kind;
//   "f" pushes the function (nil for a tail-call entry).
// A leading ">" describes the function on top of the stack instead, which is popped; anything
// but a function there raises ERR_FUNCEXPECTED. Returns 0 when a letter is unknown (the others
// are still filled) or the record index does not select a live level, else 1.
int VmGetInfo(qvScriptState* L, const char* options, qvDebugRecord* ar);

// The short form of a source name for messages, written into `size` bytes with the NUL:
// "=name" gives name, "@path" the path (its tail after "..." when long), any other source
// [string "first line"].
void VmChunkId(char* out, const char* source, size_t size);

// A name for the value in register `reg` of a script call record: "local", "global", "field" or
// "method" with the name in *name, or null.
const char* VmVariableName(qvScriptState* L, const qvCallInfo* ci, int reg, const char** name);

}  // namespace qv
