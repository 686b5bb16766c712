// GetAttribute: one question about an object of any kind. The subsystems answer through the rows
// they register (core/attribute_table.h); here the script's arguments are read and the answer
// pushed. The kinds whose subsystems are still to come have rows here: their objects are found
// (their not-found errors hold) and answer when their subsystems come.
#include <cstdint>
#include <initializer_list>
#include <iterator>

#include "base/errors.h"
#include "core/args.h"
#include "core/attribute_table.h"
#include "core/registry.h"
#include "libs/graphics/commands.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {

namespace {

// A kind whose subsystem is still to come: how its objects are missed and what it will answer.
struct PendingKind {
  int32_t kind;
  int32_t notFound;
  std::initializer_list<int32_t> attributes;  // ATTRCOUNT is always known
  bool fontAttributes;
};
const PendingKind kPendingKinds[] = {
    {kObjectAnim,
     ERR_FINDANIM,
     {attr::kWidth, attr::kHeight, attr::kTransparentColor, attr::kNumFrames, attr::kHasMask,
      attr::kHasAlpha, attr::kFrameDelay},
     false},
    {kObjectTextObject, ERR_FINDTEXTOBJECT, {attr::kWidth, attr::kHeight, attr::kText}, true},
    {kObjectVideo,
     ERR_FINDVIDEO,
     {attr::kWidth, attr::kHeight, attr::kNumFrames, attr::kDuration, attr::kPosition,
      attr::kFormat, attr::kCanSeek, attr::kDriver},
     false},
    {kObjectMemory, ERR_FINDMEMBLK, {attr::kSize}, false},
    {kObjectFile, ERR_FINDFILE, {attr::kType}, false},
    {kObjectDirectory, ERR_FINDDIR, {}, false},
    {kObjectVectorPath, ERR_FINDPATH, {}, false},
    {kObjectMoveList, ERR_FINDMOVE, {}, false},
    {kObjectAnimStream, ERR_FINDANIMSTREAM, {}, false},
    {kObjectTimer, ERR_FINDTIMER, {}, false},
    {kObjectClient, ERR_FINDCLIENT, {}, false},
    {kObjectServer, ERR_FINDSERVER, {}, false},
    {kObjectUdpObject, ERR_FINDUDPOBJECT, {}, false},
};

bool IsIn(std::initializer_list<int32_t> list, int32_t value) {
  for (int32_t v : list) {
    if (v == value) return true;
  }
  return false;
}

int32_t PendingAttribute(const qvAttrQuery& q, qvAttrAnswer*) {
  for (const PendingKind& pending : kPendingKinds) {
    if (pending.kind != q.kind) continue;
    if (FindObject(pending.kind, q.id) == nullptr) return ObjectNotFound(q.id, pending.notFound);
    bool known = IsIn(pending.attributes, q.attribute) ||
                 (pending.fontAttributes && attr::IsFontAttribute(q.attribute));
    return known ? ERR_UNSUPPORTEDFEAT : ERR_UNKNOWNATTR;
  }
  return ERR_WRONGUSAGE;
}

constexpr size_t kPendingCount = std::size(kPendingKinds);

struct PendingRows {
  qvAttrKind rows[kPendingCount + 1];
  PendingRows() : rows{} {
    for (size_t i = 0; i < kPendingCount; ++i) {
      rows[i] = {kPendingKinds[i].kind, qvAttrIdForm::kObject, PendingAttribute};
    }
    rows[kPendingCount] = {0, qvAttrIdForm::kObject, nullptr};
  }
};

void PushValue(qvScriptState* L, const qvAttrValue& value) {
  switch (value.type) {
    case qvAttrValue::kNumber:
      VmPushNumber(L, value.number);
      break;
    case qvAttrValue::kText:
      VmPushString(L, value.text);
      break;
    case qvAttrValue::kObjectId:
      if (value.id.handle != nullptr) {
        VmPushLightUserdata(L, value.id.handle);
      } else {
        VmPushNumber(L, value.id.number);
      }
      break;
    case qvAttrValue::kNil:
      VmPushNil(L);
      break;
    case qvAttrValue::kReference:
      if (value.reference == kNoReference) {
        VmPushNil(L);
      } else {
        VmRawGetI(L, kRegistryIndex, value.reference);
      }
      break;
  }
}

}  // namespace

int32_t RegisterPendingAttributes() {
  static const PendingRows kRows;
  return RegisterAttributeKinds(kRows.rows);
}

namespace cmd {

int32_t GetAttribute(qvScriptState* L) {
  CheckArgCount(L, 3, 4);
  int32_t kind = VmCheckInt(L, 1);
  int32_t attribute = VmCheckInt(L, 3);
  const qvAttrKind* row = FindAttributeKind(kind);
  if (row == nullptr) return ERR_WRONGUSAGE;
  if (attribute == attr::kCount) {
    VmPushNumber(L, CountObjects(kind));
    return 1;
  }
  qvAttrQuery query{L, kind, attribute, {}, nullptr};
  switch (row->idForm) {
    case qvAttrIdForm::kObject:
      query.id = CheckObjectId(L, 2);
      break;
    case qvAttrIdForm::kEventName:
      query.name = VmCheckString(L, 2);
      break;
    case qvAttrIdForm::kLayer:
      if (VmType(L, 2) == kTypeString) {
        query.name = VmToString(L, 2);
      } else {
        query.id.number = VmCheckInt(L, 2);
      }
      break;
  }
  qvAttrAnswer answer;
  int32_t code = row->answer(query, &answer);
  if (code != 0) return code;
  for (int32_t i = 0; i < answer.count; ++i) PushValue(L, answer.values[i]);
  return answer.count;
}

}  // namespace cmd

}  // namespace qv
