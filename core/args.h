// How command handlers read their arguments beyond the machine's checks: the argument count,
// object ids, numbers given as percentages, #NAME constants, and the fields of option tables.
// Readers raise through the machine and do not return on failure, after storing the argument's
// index (numbers) or the field's key (table fields) as the error argument; the ones that return
// a code say so.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/registry.h"

namespace qv {

// The id a creating command receives: a number, or automatic (the script passed Nil).
struct qvOptionalId {
  int32_t number;
  int32_t automatic;
};

// What a creating command returns: nothing for a chosen number, the record's handle (light
// userdata) for an automatic id.
int PushNewObjectId(qvScriptState* L, qvOptionalId id, void* record);

constexpr size_t kConstantNameLimit = 64;

// Returns L. Raises ERR_TOOMANYARGS when min and max are both 0 and any argument is given,
// ERR_MISSINGPARAMTR when fewer than min are given, ERR_TOOMANYARGS when max > 0 and more than max
// are given.
qvScriptState* CheckArgCount(qvScriptState* L, int min, int max);

// A light userdata gives {0, handle}; anything else the integer check's value.
qvObjectId CheckObjectId(qvScriptState* L, int index);
// Nil gives {0, automatic}; anything else the integer check's value.
qvOptionalId OptObjectId(qvScriptState* L, int index);

// A number (or Nil), or a text: a plain number, or a number followed by "%" (0 to 100, beyond
// 100 only with `allowOver100`). A percentage gives value x reference / 100 with a nonzero
// reference; with reference 0 it gives value / 100 and sets *percent (which may be null).
double GetNumberOrPercent(qvScriptState* L, int index, int32_t reference, int allowOver100,
                          int* percent);

// Reads "#NAME" (NAME: a letter or "_", then letters, digits, "_", "$", "!"; cut after 64
// characters) and looks it up in the constants, then the user constants. Returns 0 with the value
// and the characters consumed (the name's length + 1; `consumed` may be null), ERR_WRONGUSAGE when
// the text does not start with "#" or the constant holds a text, ERR_SYNTAXERROR for a bad first
// character, ERR_FINDCST for an unknown constant. Does not raise.
int32_t LookupConstant(qvScriptState* L, const char* text, double* value, int* consumed);
// The same for a constant of either kind: *string gets its text (valid while the constant is
// registered), or null with the number in *value.
int32_t LookupConstantValue(qvScriptState* L, const char* text, const char** string, double* value,
                            int* consumed);

// Fill the table on the stack top: table[key] = value.
void SetFieldInt(qvScriptState* L, const char* key, int32_t value);
void SetFieldNumber(qvScriptState* L, const char* key, double value);
void SetFieldString(qvScriptState* L, const char* key, const char* value);
void SetFieldObjectId(qvScriptState* L, const char* key, qvObjectId id);  // handle or number

// Option-table readers: read table[key] when it is not Nil, set *found (may be null) to 1 and
// return 1; an absent field returns 0 and leaves *out and *found alone.
int GetFieldInt(qvScriptState* L, int table, const char* key, int32_t* out, int* found);
// Values up to 4294967295 (colours).
int GetFieldUInt(qvScriptState* L, int table, const char* key, uint32_t* out, int* found);
int GetFieldNumber(qvScriptState* L, int table, const char* key, double* out, int* found);
// A switch: a number (or a text of one) is on unless it is 0, since 0 is the only "off" a
// script, which has no booleans, can write; a boolean is itself; another type raises
// ERR_NUMTABLEARG with the key.
int GetFieldFlag(qvScriptState* L, int table, const char* key, bool* out, int* found);
// Copies the text into out[size], cut to fit.
int GetFieldString(qvScriptState* L, int table, const char* key, char* out, size_t size,
                   int* found);
int GetFieldObjectId(qvScriptState* L, int table, const char* key, qvObjectId* out, int* found);
// A layer number, or a layer name in the current BGPic giving its 1-based position (ERR_FINDLAYER
// with the name when there is none); any other type raises ERR_WRONGUSAGE.
int GetFieldLayer(qvScriptState* L, int table, const char* key, int32_t* out, int* found);
// A number as integer, or a text "n%" as -n (a negative size is a percentage); ERR_PERCENTFORMATSTR
// for a bad text or a percentage out of range.
int GetFieldSizeOrPercent(qvScriptState* L, int table, const char* key, int allowOver100,
                          int32_t* out, int* found);
// The field through GetNumberOrPercent; a failure names the key and the table's argument index.
int GetFieldNumberOrPercent(qvScriptState* L, int table, const char* key, int32_t reference,
                            int allowOver100, int* percent, double* out, int* found);
// A subtable whose items 0-3 are numbers (ERR_TABEXPECTED2 for no table, ERR_MISSINGPARAMTR for a
// missing item, ERR_NUMTABLEARG for one that is no number).
int GetFieldMatrix(qvScriptState* L, int table, const char* key, double out[4], int* found);

// A name that becomes a path, an environment variable, a settings key or a program's command
// line: the string argument at `index`, refused with ERR_WRONGUSAGE when it holds a zero byte,
// as the system would take only the part before it and act on another name.
const char* CheckName(qvScriptState* L, int index);
// The same for a string argument that is optional (absent or Nil gives null).
const char* OptName(qvScriptState* L, int index);
// The same for the string value at `index` read from the table field `key` (the key is stored
// for the message of a value of the wrong type).
const char* CheckNameField(qvScriptState* L, int index, const char* key);

// Linked-file kinds of the file-name readers.
enum : int {
  kLinkedFileNone = 0,  // the name as given
  kLinkedFileFile = 1,  // a file linked into the applet is found by its plain name
  kLinkedFileFont = 2,  // likewise for a linked font ("x.font" is the font "x")
};

// The ":::chunk" name of the applet's linked file (or, with `fontFlag`, linked font) that `name`
// refers to, or `name` itself when none does. The name lives in the runtime's name buffer until
// the next call. *isFont (may be null) tells whether a font matched.
const char* ResolveLinkedFile(qvScriptState* L, const char* name, bool fontFlag, bool* isFont);
// The string argument at `index`, resolved as `kind` says (any kind but a font is a file).
const char* ResolveLinkedFileArg(qvScriptState* L, int index, int kind, bool* isFont);
// A file-name field, resolved unless `kind` is kLinkedFileNone, in a new allocation of
// length + 1 bytes (*out; free with std::free) with its length in *len (may be null). An
// allocation failure returns 0 with *out null.
int GetFieldFileName(qvScriptState* L, int table, const char* key, int kind, bool* isFont,
                     char** out, size_t* len, int* found);

// The byte size of an object of width x height units of `unitSize` bytes: 0, or ERR_MEM when a
// side is negative or the size exceeds what one allocation may hold (2^31 - 1 bytes).
int32_t CheckObjectSize(int32_t width, int32_t height, int32_t unitSize, size_t* bytes);

}  // namespace qv
