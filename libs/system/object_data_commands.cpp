// Object data: named values that scripts attach to any object of the object registry, found by
// type and id. The values live as references in the machine's registry and go with the object.
#include <cstring>

#include "base/errors.h"
#include "core/args.h"
#include "core/registry.h"
#include "libs/system/commands.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {

namespace {

// The object of the type at `typeIndex` and the id at `typeIndex + 1`, or null with *code set:
// ERR_NOLAYERS for layers (they hold no data until layers exist), ERR_FINDARRAY for a missing
// object.
qvObjectHeader* FindOwner(qvScriptState* L, int typeIndex, int32_t* code) {
  int32_t type = VmCheckInt(L, typeIndex);
  qvObjectId id = CheckObjectId(L, typeIndex + 1);
  if (type == kObjectLayer) {
    *code = ERR_NOLAYERS;
    return nullptr;
  }
  qvObjectHeader* object = FindObject(type, id);
  if (object == nullptr) *code = ERR_FINDARRAY;
  return object;
}

// The key argument; an empty key is no key.
const char* CheckKey(qvScriptState* L, int index, int32_t* code) {
  const char* key = VmCheckString(L, index);
  if (*key == '\0') {
    *code = ERR_WRONGUSAGE;
    return nullptr;
  }
  return key;
}

void PushItem(qvScriptState* L, const qvObjectDataItem* item) {
  if (item->ref == kNoReference) {
    VmPushNil(L);
  } else {
    VmRawGetI(L, kRegistryIndex, item->ref);
  }
}

int32_t MissingItem(const char* key) {
  SetErrorString(key);
  return ERR_FINDOBJECTDATA;
}

}  // namespace

namespace cmd {

// SetObjectData(type, id, key, value): stores the value under the key (keys compare without
// regard to case), replacing what was there.
int32_t SetObjectData(qvScriptState* L) {
  CheckArgCount(L, 4, 4);
  int32_t code = 0;
  qvObjectHeader* object = FindOwner(L, 1, &code);
  if (object == nullptr) return code;
  const char* key = CheckKey(L, 3, &code);
  if (key == nullptr) return code;
  return SetObjectDataItem(L, key, 4, &object->data);
}

// GetObjectData(type, id, key): the value stored under the key.
int32_t GetObjectData(qvScriptState* L) {
  CheckArgCount(L, 3, 3);
  int32_t code = 0;
  qvObjectHeader* object = FindOwner(L, 1, &code);
  if (object == nullptr) return code;
  const char* key = CheckKey(L, 3, &code);
  if (key == nullptr) return code;
  const qvObjectDataItem* item = FindObjectDataItem(object->data, key);
  if (item == nullptr) return MissingItem(key);
  PushItem(L, item);
  return 1;
}

// CopyObjectData(source type, source id, type, id[, overwrite]): every item of the source; a key
// the destination has already keeps its value unless `overwrite` is set.
int32_t CopyObjectData(qvScriptState* L) {
  CheckArgCount(L, 4, 5);
  int32_t code = 0;
  qvObjectHeader* source = FindOwner(L, 1, &code);
  if (source == nullptr) return code;
  qvObjectHeader* target = FindOwner(L, 3, &code);
  if (target == nullptr) return code;
  bool overwrite = VmOptInt(L, 5, 0) != 0;
  if (source == target) return 0;
  for (const qvObjectDataItem* item = source->data; item != nullptr; item = item->next) {
    if (!overwrite && FindObjectDataItem(target->data, item->name) != nullptr) continue;
    PushItem(L, item);
    code = SetObjectDataItem(L, item->name, -1, &target->data);
    VmSetTop(L, -2);
    if (code != 0) return code;
  }
  return 0;
}

// ClearObjectData(type, id[, key]): frees the item of the key, or every item without one.
int32_t ClearObjectData(qvScriptState* L) {
  CheckArgCount(L, 2, 3);
  int32_t code = 0;
  qvObjectHeader* object = FindOwner(L, 1, &code);
  if (object == nullptr) return code;
  if (VmType(L, 3) <= kTypeNil) {
    FreeObjectData(L, object);
    return 0;
  }
  const char* key = CheckKey(L, 3, &code);
  if (key == nullptr) return code;
  return RemoveObjectDataItem(L, &object->data, key) != 0 ? 0 : MissingItem(key);
}

// GetObjects(type): a table of the ids of every object of the type (from index 0) and their
// number.
int32_t GetObjects(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  int32_t type = VmCheckInt(L, 1);
  VmNewTable(L);
  int32_t n = PushObjectIds(L, type);
  VmPushNumber(L, n);
  return 2;
}

// HaveObject(type, id): 1 when the object exists, else 0.
int32_t HaveObject(qvScriptState* L) {
  CheckArgCount(L, 2, 2);
  int32_t type = VmCheckInt(L, 1);
  qvObjectId id = CheckObjectId(L, 2);
  VmPushNumber(L, FindObject(type, id) != nullptr ? 1 : 0);
  return 1;
}

// GetObjectType(handle): the type of the object whose automatic handle it is, looked up in the
// object lists (the handle is never read as an address).
int32_t GetObjectType(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  qvObjectId id = CheckObjectId(L, 1);
  int32_t type = GetObjectTypeByHandle(id.handle);
  if (type < 0) return ERR_FINDARRAY;
  VmPushNumber(L, type);
  return 1;
}

}  // namespace cmd

}  // namespace qv
