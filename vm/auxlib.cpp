// The auxiliary layer: built on the stack interface only, never on the machine's records.
#include "vm/auxlib.h"

#include <algorithm>
#include <cstring>

#include "base/errors.h"
#include "base/support.h"

namespace qv {

namespace {

constexpr const char* kLabelsTable = "labels";
constexpr const char* kConstantsTable = "constants";
constexpr const char* kUserConstantsTable = "userconstants";

// Pieces of a string buffer stay fewer than this on the stack.
constexpr int kMaxBufferPieces = 10;

void Pop(qvScriptState* L, int n) { VmSetTop(L, -n - 1); }

// Copies a name into `out` (cut to fit) and lower-cases the copy.
void LowerName(char (&out)[kNameBufferSize], const char* name) {
  size_t n = std::min(std::strlen(name), kNameBufferSize - 1);
  std::memcpy(out, name, n);
  out[n] = '\0';
  LowerCaseString(out);
}

[[noreturn]] void ArgError(qvScriptState* L, int index, int32_t code) {
  SetErrorNumber(index);
  VmRaiseError(L, code);
}

[[noreturn]] void FieldError(qvScriptState* L, const char* field, int32_t code) {
  SetErrorString(field);
  VmRaiseError(L, code);
}

// A number, a numeric string or nil; only a zero result needs the second look that tells a real
// 0 from a failed conversion.
bool ReadNumber(qvScriptState* L, int index, double* out) {
  double d = VmToNumber(L, index);
  if (d == 0 && !VmIsNumber(L, index)) return false;
  *out = d;
  return true;
}

// A string, or a number or nil converted in place; null for anything else.
const char* ReadString(qvScriptState* L, int index, size_t* len) {
  const char* s = VmToString(L, index);
  if (s != nullptr && len != nullptr) *len = VmStrLen(L, index);
  return s;
}

int32_t ExpectedTypeCode(int32_t type) {
  switch (type) {
    case kTypeNumber:
      return ERR_NUMEXPECTED;
    case kTypeString:
      return ERR_STREXPECTED;
    case kTypeTable:
      return ERR_TABEXPECTED;
    case kTypeFunction:
      return ERR_FUNCEXPECTED;
    default:
      return ERR_UDEXPECTED;
  }
}

// Pushes registry[name].
void PushRegistryField(qvScriptState* L, const char* name) {
  VmPushString(L, name);
  VmRawGet(L, kRegistryIndex);
}

}  // namespace

int VmAbsIndex(qvScriptState* L, int index) {
  return (index < 0 && index > kRegistryIndex) ? VmGetTop(L) + index + 1 : index;
}

// ---- argument checks ----

void VmCheckTable(qvScriptState* L, int index) {
  if (VmType(L, index) != kTypeTable) ArgError(L, index, ERR_TABEXPECTED);
}

void VmCheckFunction(qvScriptState* L, int index) {
  if (VmType(L, index) != kTypeFunction) ArgError(L, index, ERR_FUNCEXPECTED);
}

int32_t VmCheckType(qvScriptState* L, int index, int32_t type) {
  if (VmType(L, index) != type) ArgError(L, index, ExpectedTypeCode(type));
  return type;
}

void* VmCheckUserdata(qvScriptState* L, int index) {
  if (!VmIsUserdata(L, index)) ArgError(L, index, ERR_UDEXPECTED);
  return VmToUserdata(L, index);
}

const char* VmCheckString(qvScriptState* L, int index, size_t* len) {
  const char* s = ReadString(L, index, len);
  if (s == nullptr) ArgError(L, index, ERR_STREXPECTED);
  return s;
}

const char* VmOptString(qvScriptState* L, int index, const char* def, size_t* len) {
  if (VmType(L, index) != kTypeNone) return VmCheckString(L, index, len);
  if (len != nullptr) *len = def != nullptr ? std::strlen(def) : 0;
  return def;
}

double VmCheckNumber(qvScriptState* L, int index) {
  double d;
  if (!ReadNumber(L, index, &d)) ArgError(L, index, ERR_NUMEXPECTED);
  return d;
}

int32_t VmCheckInt(qvScriptState* L, int index) { return DoubleToInt32(VmCheckNumber(L, index)); }

double VmOptNumber(qvScriptState* L, int index, double def) {
  return VmType(L, index) == kTypeNone ? def : VmCheckNumber(L, index);
}

int32_t VmOptInt(qvScriptState* L, int index, int32_t def) {
  return VmType(L, index) == kTypeNone ? def : VmCheckInt(L, index);
}

const char* VmCheckStringField(qvScriptState* L, int index, const char* field, size_t* len) {
  const char* s = ReadString(L, index, len);
  if (s == nullptr) FieldError(L, field, ERR_STRTABLEARG);
  return s;
}

double VmCheckNumberField(qvScriptState* L, int index, const char* field) {
  double d;
  if (!ReadNumber(L, index, &d)) FieldError(L, field, ERR_NUMTABLEARG);
  return d;
}

int32_t VmCheckIntField(qvScriptState* L, int index, const char* field) {
  return DoubleToInt32(VmCheckNumberField(L, index, field));
}

const char* VmGetCallbackString(qvScriptState* L, int index, size_t* len, int32_t* error) {
  if (!VmIsString(L, index)) {
    *error = ERR_STRCALLBACK;
    return nullptr;
  }
  *error = 0;
  return ReadString(L, index, len);
}

double VmGetCallbackNumber(qvScriptState* L, int index, int32_t* error) {
  double d = 0;
  *error = ReadNumber(L, index, &d) ? 0 : ERR_NUMCALLBACK;
  return d;
}

// ---- registry helpers ----

void* VmRegistryGetUserdata(qvScriptState* L, const char* name) {
  PushRegistryField(L, name);
  void* p = VmToUserdata(L, -1);
  Pop(L, 1);
  return p;
}

const char* VmRegistryGetString(qvScriptState* L, const char* name) {
  PushRegistryField(L, name);
  // Only a string held by the registry outlives the pop; a number would be converted on the
  // stack copy alone.
  const char* s = VmType(L, -1) == kTypeString ? VmToString(L, -1) : nullptr;
  Pop(L, 1);
  return s;
}

double VmRegistryGetNumber(qvScriptState* L, const char* name) {
  PushRegistryField(L, name);
  double d = VmToNumber(L, -1);
  Pop(L, 1);
  return d;
}

void VmRegistrySetPointer(qvScriptState* L, const char* name, void* pointer) {
  VmPushString(L, name);
  VmPushLightUserdata(L, pointer);
  VmRawSet(L, kRegistryIndex);
}

void VmRegistrySetString(qvScriptState* L, const char* name, const char* text) {
  VmPushString(L, name);
  VmPushString(L, text);
  VmRawSet(L, kRegistryIndex);
}

// ---- labels, constants, libraries ----

int32_t VmFindLabel(qvScriptState* L, const char* name) {
  if (name == nullptr) return -1;
  char key[kNameBufferSize];
  LowerName(key, name);
  PushRegistryField(L, kLabelsTable);
  int32_t result = -1;
  if (VmType(L, -1) == kTypeTable) {
    VmPushString(L, key);
    VmRawGet(L, -2);
    if (VmType(L, -1) == kTypeNumber) result = DoubleToInt32(VmToNumber(L, -1));
    Pop(L, 1);
  }
  Pop(L, 1);
  return result;
}

int VmLookupConstant(qvScriptState* L, const char* table, const char* name, double* number,
                     const char** string) {
  if (name == nullptr) return 0;
  char key[kNameBufferSize];
  LowerName(key, name);
  PushRegistryField(L, table);
  int found = 0;
  if (VmType(L, -1) == kTypeTable) {
    VmPushString(L, key);
    VmRawGet(L, -2);
    if (VmType(L, -1) == kTypeNumber) {
      *number = VmToNumber(L, -1);
      *string = nullptr;
      found = 1;
    } else if (VmType(L, -1) == kTypeString) {
      *string = VmToString(L, -1);  // the table keeps the string alive
      found = 1;
    }
    Pop(L, 1);
  }
  Pop(L, 1);
  return found;
}

int VmGetConstant(qvScriptState* L, const char* name, const char** string, double* number) {
  return VmLookupConstant(L, kConstantsTable, name, number, string) ||
         VmLookupConstant(L, kUserConstantsTable, name, number, string);
}

void VmRegisterConstants(qvScriptState* L, const qvConstantRow* rows, int user) {
  const char* table = user ? kUserConstantsTable : kConstantsTable;
  PushRegistryField(L, table);
  if (VmType(L, -1) != kTypeTable) {
    Pop(L, 1);
    VmNewTable(L);
    VmPushString(L, table);
    VmPushValue(L, -2);
    VmRawSet(L, kRegistryIndex);
  }
  for (const qvConstantRow* row = rows; row->name != nullptr; ++row) {
    char key[kNameBufferSize];
    LowerName(key, row->name);
    VmPushString(L, key);
    if (row->string != nullptr)
      VmPushString(L, row->string);
    else
      VmPushNumber(L, row->number);
    VmRawSet(L, -3);
  }
  Pop(L, 1);
}

void VmRegisterLibrary(qvScriptState* L, const char* library, const qvLibraryRow* rows, int nup) {
  if (library != nullptr) {
    VmPushString(L, library);
    VmGetTable(L, kGlobalsIndex);
    if (VmType(L, -1) != kTypeTable) {
      Pop(L, 1);
      VmNewTable(L);
      VmPushString(L, library);
      VmPushValue(L, -2);
      VmSetTable(L, kGlobalsIndex);
    }
    VmInsert(L, -(nup + 1));
  }
  for (const qvLibraryRow* row = rows; row->name != nullptr; ++row) {
    char key[kNameBufferSize];
    LowerName(key, row->name);
    VmPushString(L, key);
    for (int i = 0; i < nup; ++i) VmPushValue(L, -(nup + 1));
    VmPushCClosure(L, row->function, nup);
    VmSetTable(L, -(nup + 3));
  }
  Pop(L, nup);
}

int VmFindString(const char* text, const char* const* list) {
  for (int i = 0; list[i] != nullptr; ++i)
    if (std::strcmp(list[i], text) == 0) return i;
  return -1;
}

// ---- named metatables ----

int VmNewMetaTable(qvScriptState* L, const char* name) {
  PushRegistryField(L, name);
  if (VmType(L, -1) != kTypeNil) return 0;
  Pop(L, 1);
  VmNewTable(L);
  VmPushString(L, name);
  VmPushValue(L, -2);
  VmRawSet(L, kRegistryIndex);
  VmPushValue(L, -1);
  VmPushString(L, name);
  VmRawSet(L, kRegistryIndex);
  return 1;
}

void VmGetNamedMetaTable(qvScriptState* L, const char* name) { PushRegistryField(L, name); }

void* VmCheckUdata(qvScriptState* L, int index, const char* name) {
  index = VmAbsIndex(L, index);
  void* p = VmToUserdata(L, index);
  if (p == nullptr || !VmGetMetaTable(L, index)) return nullptr;
  VmGetNamedMetaTable(L, name);
  bool same = VmRawEqual(L, -1, -2);
  Pop(L, 2);
  return same ? p : nullptr;
}

int VmGetMetaField(qvScriptState* L, int index, const char* field) {
  if (!VmGetMetaTable(L, index)) return 0;
  VmPushString(L, field);
  VmRawGet(L, -2);
  if (VmType(L, -1) == kTypeNil) {
    Pop(L, 2);
    return 0;
  }
  VmRemove(L, -2);
  return 1;
}

int VmCallMeta(qvScriptState* L, int index, const char* field) {
  index = VmAbsIndex(L, index);
  if (!VmGetMetaField(L, index, field)) return 0;
  VmPushValue(L, index);
  int32_t word = VmCall(L, 1, 1);
  // A native metamethod that fails hands back its error code like any command.
  if (word >= kFirstErrorCode || (word < 0 && word != -1 && word != -2)) VmHostRaise(L, word);
  return 1;
}

// ---- array sizes ----

void VmGetSizesTable(qvScriptState* L) {
  VmRawGetI(L, kRegistryIndex, kSizesTableKey);
  if (VmType(L, -1) == kTypeTable) return;
  Pop(L, 1);
  VmNewTable(L);
  VmPushString(L, "__mode");
  VmPushString(L, "k");
  VmRawSet(L, -3);
  VmPushValue(L, -1);
  VmSetMetaTable(L, -2);
  VmPushValue(L, -1);
  VmRawSetI(L, kRegistryIndex, kSizesTableKey);
}

namespace {
// Pushes t.n (raw) and tells whether it is a number >= 0.
bool PushOwnN(qvScriptState* L, int t) {
  VmPushString(L, "n");
  VmRawGet(L, t);
  return VmType(L, -1) == kTypeNumber && VmToNumber(L, -1) >= 0;
}
}  // namespace

void VmSetN(qvScriptState* L, int tableIndex, int n) {
  int t = VmAbsIndex(L, tableIndex);
  bool own = PushOwnN(L, t);
  Pop(L, 1);
  if (own) {
    VmPushString(L, "n");
    VmPushNumber(L, n);
    VmRawSet(L, t);
    return;
  }
  VmGetSizesTable(L);
  VmPushValue(L, t);
  VmPushNumber(L, n);
  VmRawSet(L, -3);
  Pop(L, 1);
}

int VmGetN(qvScriptState* L, int tableIndex) {
  int t = VmAbsIndex(L, tableIndex);
  if (PushOwnN(L, t)) {
    int n = DoubleToInt32(VmToNumber(L, -1));
    Pop(L, 1);
    return n;
  }
  Pop(L, 1);
  VmGetSizesTable(L);
  VmPushValue(L, t);
  VmRawGet(L, -2);
  if (VmType(L, -1) == kTypeNumber) {
    int n = DoubleToInt32(VmToNumber(L, -1));
    Pop(L, 2);
    return n;
  }
  Pop(L, 2);
  int n = 0;
  for (;;) {
    VmRawGetI(L, t, n + 1);
    bool present = VmType(L, -1) != kTypeNil;
    Pop(L, 1);
    if (!present) return n;
    ++n;
  }
}

// ---- references ----

int32_t VmRef(qvScriptState* L, int tableIndex) {
  int t = VmAbsIndex(L, tableIndex);
  if (VmType(L, -1) == kTypeNil) {
    Pop(L, 1);
    return kNoReference;
  }
  VmRawGetI(L, t, 1);
  int32_t free = VmType(L, -1) == kTypeNumber ? DoubleToInt32(VmToNumber(L, -1)) : 0;
  Pop(L, 1);
  int32_t ref;
  if (free >= kFirstReference) {
    ref = free;
    VmRawGetI(L, t, ref);
    VmRawSetI(L, t, 1);
  } else {
    ref = std::max(VmGetN(L, t), kFirstReference - 1) + 1;
    VmSetN(L, t, ref);
  }
  VmRawSetI(L, t, ref);
  return ref;
}

void VmUnref(qvScriptState* L, int tableIndex, int32_t ref) {
  // Slots 1 and 2 hold the free list and the sizes table; a reference never handed out would
  // later be handed out twice.
  if (ref < kFirstReference) return;
  int t = VmAbsIndex(L, tableIndex);
  if (ref > VmGetN(L, t)) return;
  VmRawGetI(L, t, 1);
  VmRawSetI(L, t, ref);
  VmPushNumber(L, ref);
  VmRawSetI(L, t, 1);
}

// ---- string buffer ----

namespace {

size_t BufferUsed(const qvStringBuffer* b) { return size_t(b->p - b->buffer); }

// Joins the top pieces so that there stay fewer than kMaxBufferPieces, larger ones lower down.
void AdjustPieces(qvStringBuffer* b) {
  qvScriptState* L = b->L;
  if (b->pieces <= 1) return;
  int run = 1;
  size_t runLength = VmStrLen(L, -1);
  while (run < b->pieces) {
    size_t lower = VmStrLen(L, -(run + 1));
    if (b->pieces - run + 1 < kMaxBufferPieces && runLength <= lower) break;
    runLength += lower;
    ++run;
  }
  VmConcat(L, run);
  b->pieces -= run - 1;
}

// Pushes the inline contents as a piece; false when they are empty.
bool PushInline(qvStringBuffer* b) {
  size_t n = BufferUsed(b);
  if (n == 0) return false;
  VmPushLString(b->L, b->buffer, n);
  b->p = b->buffer;
  b->pieces++;
  return true;
}

}  // namespace

void VmBufferInit(qvScriptState* L, qvStringBuffer* b) {
  b->L = L;
  b->p = b->buffer;
  b->pieces = 0;
}

void VmBufferAddLString(qvStringBuffer* b, const char* s, size_t n) {
  while (n > 0) {
    size_t room = kStringBufferSize - BufferUsed(b);
    if (room == 0) {
      PushInline(b);
      AdjustPieces(b);
      continue;
    }
    size_t k = std::min(room, n);
    std::memcpy(b->p, s, k);
    b->p += k;
    s += k;
    n -= k;
  }
}

void VmBufferAddString(qvStringBuffer* b, const char* s) {
  VmBufferAddLString(b, s, std::strlen(s));
}

void VmBufferAddValue(qvStringBuffer* b) {
  qvScriptState* L = b->L;
  size_t n = 0;
  const char* s = ReadString(L, -1, &n);
  if (s == nullptr || n <= kStringBufferSize - BufferUsed(b)) {
    if (s != nullptr) {
      std::memcpy(b->p, s, n);
      b->p += n;
    }
    Pop(L, 1);
    return;
  }
  if (PushInline(b)) VmInsert(L, -2);
  b->pieces++;
  AdjustPieces(b);
}

char* VmBufferFlush(qvStringBuffer* b) {
  if (PushInline(b)) AdjustPieces(b);
  return b->buffer;
}

void VmBufferPushResult(qvStringBuffer* b) {
  PushInline(b);
  VmConcat(b->L, b->pieces);
  b->pieces = 1;
}

}  // namespace qv
