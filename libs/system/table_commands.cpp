// Tables and values: types, choices, arrays (items from index 0), metatables, raw access, the
// collector, iteration, deep copies, joining and sorting.
#include "base/errors.h"
#include "core/args.h"
#include "core/registry.h"
#include "core/tables.h"
#include "libs/system/commands.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

namespace {

// The script's type codes (the constants NIL .. THREAD); booleans have none.
int32_t ScriptTypeCode(int32_t type) {
  switch (type) {
    case kTypeNil:
      return 0;
    case kTypeNumber:
      return 2;
    case kTypeString:
      return 3;
    case kTypeTable:
      return 4;
    case kTypeFunction:
      return 5;
    case kTypeUserdata:
      return 8;
    case kTypeLightUserdata:
      return 9;
    case kTypeThread:
      return 10;
    default:
      return -1;
  }
}

void StepCallbackNesting(bool enter) {
  const qvAttrSetItem items[] = {{kAttrCallbackNesting, enter ? 1 : 0}, {0, 0}};
  SetRuntimeAttrs(nullptr, items);
}

// Calls the function at `fn` with the two values on the stack top in a protected call inside the
// callback nesting; leaves its one result. Returns 0 or the call's error code (nothing left).
int32_t CallBack(qvScriptState* L, int fn) {
  VmPushValue(L, fn);
  VmInsert(L, -3);
  StepCallbackNesting(true);
  int32_t code = VmPCall(L, 2, 1, 0);
  StepCallbackNesting(false);
  return code;
}

}  // namespace

// GetType(value): the script's type code, -1 for a boolean.
int32_t GetType(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  VmPushNumber(L, ScriptTypeCode(VmType(L, 1)));
  return 1;
}

// IIf(condition, a, b): b when the condition is Nil, 0 or "", else a; conditions of other types
// (booleans among them) are ERR_WRONGDTYPE.
int32_t IIf(qvScriptState* L) {
  CheckArgCount(L, 3, 3);
  bool truth;
  switch (VmType(L, 1)) {
    case kTypeNil:
      truth = false;
      break;
    case kTypeNumber:
      truth = VmToNumber(L, 1) != 0;
      break;
    case kTypeString:
      truth = VmStrLen(L, 1) != 0;
      break;
    default:
      return ERR_WRONGDTYPE;
  }
  VmPushValue(L, truth ? 2 : 3);
  return 1;
}

// InsertItem(table, value, pos = -1): items from pos move up; a position outside 0 .. count
// appends.
int32_t InsertItem(qvScriptState* L) {
  CheckArgCount(L, 2, 3);
  VmCheckTable(L, 1);
  int32_t pos = VmOptInt(L, 3, -1);
  int32_t n = CountArrayItems(L, 1);
  if (n == INT32_MAX) return ERR_WRONGUSAGE;
  if (pos < 0 || pos > n) pos = n;
  for (int32_t i = n; i > pos; --i) {
    VmRawGetI(L, 1, i - 1);
    VmRawSetI(L, 1, i);
  }
  VmPushValue(L, 2);
  VmRawSetI(L, 1, pos);
  return 0;
}

// RemoveItem(table, pos = -1): removes and returns item pos (the last one for a position outside
// the items); nothing for an empty array.
int32_t RemoveItem(qvScriptState* L) {
  CheckArgCount(L, 1, 2);
  VmCheckTable(L, 1);
  int32_t pos = VmOptInt(L, 2, -1);
  int32_t n = CountArrayItems(L, 1);
  if (n == 0) return 0;
  if (pos < 0 || pos > n - 1) pos = n - 1;
  VmRawGetI(L, 1, pos);
  for (int32_t i = pos; i < n - 1; ++i) {
    VmRawGetI(L, 1, i + 1);
    VmRawSetI(L, 1, i);
  }
  VmPushNil(L);
  VmRawSetI(L, 1, n - 1);
  return 1;
}

// ListItems(table): the number of items from index 0.
int32_t ListItems(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  VmCheckTable(L, 1);
  VmPushNumber(L, CountArrayItems(L, 1));
  return 1;
}

// Unpack(table): the items as results.
int32_t Unpack(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  VmCheckTable(L, 1);
  int32_t n = CountArrayItems(L, 1);
  if (n >= 1000 || !VmCheckStack(L, n)) return ERR_STACK;  // results are counted below 1000
  for (int32_t i = 0; i < n; ++i) VmRawGetI(L, 1, i);
  return n;
}

// GetMetaTable(value): Nil, the metatable's "__metatable" field, or the metatable.
int32_t GetMetaTable(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  if (!VmGetMetaTable(L, 1)) {
    VmPushNil(L);
    return 1;
  }
  VmPushString(L, "__metatable");
  VmRawGet(L, -2);
  if (VmType(L, -1) == kTypeNil) VmSetTop(L, -2);
  return 1;
}

// SetMetaTable(table, metatable or Nil): refused for a metatable that protects itself with a
// "__metatable" field.
int32_t SetMetaTable(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  VmCheckTable(L, 1);
  int32_t type = VmType(L, 2);
  if (type != kTypeNil && type != kTypeTable) return ERR_TABLEORNIL;
  if (VmGetMetaTable(L, 1)) {
    VmPushString(L, "__metatable");
    VmRawGet(L, -2);
    bool protectedTable = VmType(L, -1) != kTypeNil;
    VmSetTop(L, -3);
    if (protectedTable) return ERR_PROTMETATABLE;
  }
  VmSetTop(L, 2);
  VmSetMetaTable(L, 1);
  return 1;
}

// RawEqual(a, b): 1 when the values are the same without metamethods, else 0.
int32_t RawEqual(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  VmPushNumber(L, VmRawEqual(L, 1, 2) ? 1 : 0);
  return 1;
}

// RawGet(table, key): the value without metamethods.
int32_t RawGet(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  VmCheckTable(L, 1);
  VmSetTop(L, 2);
  VmRawGet(L, 1);
  return 1;
}

// RawSet(table, key, value): stores without metamethods; returns the table.
int32_t RawSet(qvScriptState* L) {
  CheckArgCount(L, 3, 3);
  VmCheckTable(L, 1);
  if (VmType(L, 2) == kTypeNil) return ERR_WRONGUSAGE;  // Nil is no key
  VmSetTop(L, 3);
  VmRawSet(L, 1);
  return 1;
}

// GCInfo(): the memory in use and the collection threshold, in kilobytes.
int32_t GCInfo(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  VmPushNumber(L, VmGetGCCount(L));
  VmPushNumber(L, VmGetGCThreshold(L));
  return 2;
}

// CollectGarbage(limit = 0): the new threshold in kilobytes; 0 collects now.
int32_t CollectGarbage(qvScriptState* L) {
  CheckArgCount(L, 0, 1);
  double limit = VmOptNumber(L, 1, 0);
  if (limit < 0) limit = 0;
  VmSetGCThreshold(L, limit >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(limit));
  return 0;
}

// IPairs(table): the global "ipairs" iterator, the table and -1. Since the global "ipairs" is
// this command, IPairs(table, i) is the iterator's step: i + 1 and item i + 1, or nothing at the
// first Nil, which ends a generic for.
int32_t IPairs(qvScriptState* L) {
  CheckArgCount(L, 1, 2);
  VmCheckTable(L, 1);
  if (VmGetTop(L) == 2) {
    int32_t i = VmCheckInt(L, 2);
    if (i == INT32_MAX) return 0;
    int32_t next = i + 1;
    VmRawGetI(L, 1, next);
    if (VmType(L, -1) == kTypeNil) return 0;
    VmPushNumber(L, next);
    VmInsert(L, -2);
    return 2;
  }
  VmPushString(L, "ipairs");
  VmGetTable(L, kGlobalsIndex);
  VmPushValue(L, 1);
  VmPushNumber(L, -1);
  return 3;
}

// Pairs(table): the global "nextitem", the table and Nil.
int32_t Pairs(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  VmCheckTable(L, 1);
  VmPushString(L, "nextitem");
  VmGetTable(L, kGlobalsIndex);
  VmPushValue(L, 1);
  VmPushNil(L);
  return 3;
}

// NextItem(table, key): the next key and its value, or Nil after the last.
int32_t NextItem(qvScriptState* L) {
  CheckArgCount(L, 1, 2);
  VmCheckTable(L, 1);
  VmSetTop(L, 2);
  if (VmNext(L, 1)) return 2;
  VmPushNil(L);
  return 1;
}

// CopyTable(table): a deep copy.
int32_t CopyTable(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  VmCheckTable(L, 1);
  int32_t code = qv::CopyTable(L, 1);
  return code != 0 ? code : 1;
}

// ForEach(table, function): calls the function with every key and value; a result other than
// Nil ends the walk and is returned.
int32_t ForEach(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  VmCheckTable(L, 1);
  VmCheckFunction(L, 2);
  VmSetTop(L, 2);
  VmPushNil(L);
  while (VmNext(L, 1)) {
    VmPushValue(L, -2);
    VmInsert(L, -2);  // key, key, value
    int32_t code = CallBack(L, 2);
    if (code != 0) return code;
    if (VmGetEndFlag(L)) return 0;
    if (VmType(L, -1) != kTypeNil) return 1;
    VmSetTop(L, -2);
  }
  return 0;
}

// ForEachI(table, function): the same over items 0, 1, ... up to the first Nil.
int32_t ForEachI(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  VmCheckTable(L, 1);
  VmCheckFunction(L, 2);
  VmSetTop(L, 2);
  for (int32_t i = 0; i < INT32_MAX; ++i) {
    VmRawGetI(L, 1, i);
    if (VmType(L, -1) == kTypeNil) return 0;
    VmPushNumber(L, i);
    VmInsert(L, -2);
    int32_t code = CallBack(L, 2);
    if (code != 0) return code;
    if (VmGetEndFlag(L)) return 0;
    if (VmType(L, -1) != kTypeNil) return 1;
    VmSetTop(L, -2);
  }
  return 0;
}

// Concat(table, separator = "", start = 0, end = 0): items start .. end (0: the last) joined
// with the separator; items must be strings or numbers (ERR_STRINGEXPECTED).
int32_t Concat(qvScriptState* L) {
  CheckArgCount(L, 1, 4);
  VmCheckTable(L, 1);
  size_t sepLen = 0;
  const char* sep = VmOptString(L, 2, "", &sepLen);
  if (sep == nullptr) sep = "";
  int32_t first = VmOptInt(L, 3, 0);
  int32_t last = VmOptInt(L, 4, 0);
  if (last == 0) last = CountArrayItems(L, 1) - 1;
  qvStringBuffer b;
  VmBufferInit(L, &b);
  for (int32_t i = first; i <= last; ++i) {
    VmRawGetI(L, 1, i);
    int32_t type = VmType(L, -1);
    if (type != kTypeString && type != kTypeNumber) return ERR_STRINGEXPECTED;
    VmBufferAddValue(&b);
    if (i != last) VmBufferAddLString(&b, sep, sepLen);
    if (i == INT32_MAX) break;
  }
  VmBufferPushResult(&b);
  return 1;
}

// Sort(table, compare): sorts the items in place.
int32_t Sort(qvScriptState* L) {
  CheckArgCount(L, 1, 2);
  VmCheckTable(L, 1);
  int compare = 0;
  if (VmGetTop(L) >= 2 && VmType(L, 2) != kTypeNil) {
    VmCheckFunction(L, 2);
    compare = 2;
  }
  return SortTable(L, 1, compare);
}

}  // namespace qv::cmd
