// The layer that command handlers use on top of the stack interface: argument checks that raise
// the matching error with the argument's position, the player's named registry tables (labels,
// constants), library registration, named metatables, array sizes, integer references and a
// string buffer that spills onto the stack.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vm/vm.h"

namespace qv {

// A row of a constant list; a null name ends the list. `string` is null for a number constant.
struct qvConstantRow {
  const char* name;
  const char* string;
  double number;
};

// A row of a library's function list; a null name ends the list.
struct qvLibraryRow {
  const char* name;
  qvCFunction function;
};

// Names are lower-cased in buffers of this size; longer names are cut to fit, the same way when
// they are stored and when they are looked up.
constexpr size_t kNameBufferSize = 128;

// Registry keys.
constexpr int kSizesTableKey = 2;
constexpr int kFirstReference = 3;    // references start here; t[1] heads the free list
constexpr int32_t kNoReference = -1;  // what VmRef gives for nil

// A stack-relative index as an absolute one, so that later pushes do not move what it names;
// pseudo-indices stay as they are.
int VmAbsIndex(qvScriptState* L, int index);

// ---- argument checks ----
// On failure a check stores the argument's index as the numeric error argument (the field checks
// store the field name as the text argument instead) and raises through VmRaiseError.

void VmCheckTable(qvScriptState* L, int index);
void VmCheckFunction(qvScriptState* L, int index);
int32_t VmCheckType(qvScriptState* L, int index, int32_t type);
void* VmCheckUserdata(qvScriptState* L, int index);
// A string, or a number or nil converted in place ("%.14g", nil to ""). `len` may be null.
const char* VmCheckString(qvScriptState* L, int index, size_t* len = nullptr);
// The default (with its length, 0 for a null default) only when the argument is absent.
const char* VmOptString(qvScriptState* L, int index, const char* def, size_t* len = nullptr);
// A number, a numeric string, or nil as 0.
double VmCheckNumber(qvScriptState* L, int index);
// VmCheckNumber truncated toward zero, keeping the low 32 bits.
int32_t VmCheckInt(qvScriptState* L, int index);
// The default only when the argument is absent; nil gives 0.
double VmOptNumber(qvScriptState* L, int index, double def);
int32_t VmOptInt(qvScriptState* L, int index, int32_t def);

// Checks of a value read from an option table; `field` names it in the message.
const char* VmCheckStringField(qvScriptState* L, int index, const char* field,
                               size_t* len = nullptr);
double VmCheckNumberField(qvScriptState* L, int index, const char* field);
int32_t VmCheckIntField(qvScriptState* L, int index, const char* field);

// Results of script callbacks: never raise; *error gets 0 or the code for the caller to raise.
const char* VmGetCallbackString(qvScriptState* L, int index, size_t* len, int32_t* error);
double VmGetCallbackNumber(qvScriptState* L, int index, int32_t* error);

// ---- registry helpers (the stack is left as found) ----

void* VmRegistryGetUserdata(qvScriptState* L, const char* name);
const char* VmRegistryGetString(qvScriptState* L, const char* name);
double VmRegistryGetNumber(qvScriptState* L, const char* name);
void VmRegistrySetPointer(qvScriptState* L, const char* name, void* pointer);
void VmRegistrySetString(qvScriptState* L, const char* name, const char* text);

// ---- labels, constants, libraries ----

// The instruction index of a label (name without regard to case), -1 when unknown.
int32_t VmFindLabel(qvScriptState* L, const char* name);
// 1 when registry[table] has the constant (name without regard to case): a number sets *number
// and clears *string, a string sets *string. 0 when the table or the name is missing.
int VmLookupConstant(qvScriptState* L, const char* table, const char* name, double* number,
                     const char** string);
// VmLookupConstant in "constants", then in "userconstants".
int VmGetConstant(qvScriptState* L, const char* name, const char** string, double* number);
// Stores the rows under lower-cased names in "constants" ("userconstants" with `user` set).
void VmRegisterConstants(qvScriptState* L, const qvConstantRow* rows, int user);
// Stores each row's function under its lower-cased name, as a closure with copies of the `nup`
// values on the stack top, in globals[library] (made when missing) or, with a null library
// name, in the table just below those values. Pops the values; the library table stays pushed.
void VmRegisterLibrary(qvScriptState* L, const char* library, const qvLibraryRow* rows, int nup);
// Index of the exact match of `text` in a null-terminated list, -1 when absent.
int VmFindString(const char* text, const char* const* list);

// ---- named metatables ----

// 1 with a new table pushed and registered (registry[name] = table, registry[table] = name), or
// 0 with the existing registry[name] pushed.
int VmNewMetaTable(qvScriptState* L, const char* name);
void VmGetNamedMetaTable(qvScriptState* L, const char* name);
// The userdata pointer when the value's metatable is the one registered under `name`, else null.
void* VmCheckUdata(qvScriptState* L, int index, const char* name);
// 1 with the metatable's field pushed (raw read), else 0 and nothing pushed.
int VmGetMetaField(qvScriptState* L, int index, const char* field);
// Calls the metatable's field with the value, one result pushed: 1; no such field: 0.
int VmCallMeta(qvScriptState* L, int index, const char* field);

// ---- array sizes ----

// Pushes the weak-keyed sizes table (registry[2]), making it when missing.
void VmGetSizesTable(qvScriptState* L);
void VmSetN(qvScriptState* L, int tableIndex, int n);
int VmGetN(qvScriptState* L, int tableIndex);

// ---- references ----

// Pops the top value and stores it in the table under a new reference (3 and up); nil gives
// kNoReference and stores nothing.
int32_t VmRef(qvScriptState* L, int tableIndex);
// Frees a reference for reuse. Values that VmRef never handed out (below 3, above the highest
// one given) are ignored.
void VmUnref(qvScriptState* L, int tableIndex, int32_t ref);

// ---- string buffer ----

constexpr size_t kStringBufferSize = 1024;

// Lives on the caller's C stack; its pieces live on the script stack above the caller's values
// until VmBufferPushResult joins them.
struct qvStringBuffer {
  char* p;     // next free byte of `buffer`
  int pieces;  // pieces already pushed on the stack
  qvScriptState* L;
  char buffer[kStringBufferSize];
};

void VmBufferInit(qvScriptState* L, qvStringBuffer* b);
void VmBufferAddLString(qvStringBuffer* b, const char* s, size_t n);
void VmBufferAddString(qvStringBuffer* b, const char* s);
// Appends the string (or number) on the stack top and pops it.
void VmBufferAddValue(qvStringBuffer* b);
// Pushes the inline contents as a piece when not empty; returns the emptied inline buffer.
char* VmBufferFlush(qvStringBuffer* b);
// Leaves the whole text as one string on the stack.
void VmBufferPushResult(qvStringBuffer* b);

}  // namespace qv
