#include "core/attribute_table.h"

#include "base/errors.h"

namespace qv {

namespace {

// Object kinds are small numbers (core/registry.h); one slot each.
constexpr int32_t kKindSlots = 64;
const qvAttrKind* gKinds[kKindSlots] = {};

}  // namespace

int32_t RegisterAttributeKinds(const qvAttrKind* rows) {
  for (const qvAttrKind* row = rows; row->answer != nullptr; ++row) {
    if (row->kind < 0 || row->kind >= kKindSlots) return ERR_OUTOFRANGE;
    gKinds[row->kind] = row;
  }
  return 0;
}

const qvAttrKind* FindAttributeKind(int32_t kind) {
  return kind >= 0 && kind < kKindSlots ? gKinds[kind] : nullptr;
}

void ForgetAttributeKinds() {
  for (const qvAttrKind*& row : gKinds) row = nullptr;
}

}  // namespace qv
