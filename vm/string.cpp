// Interned strings and full userdata.
#include <cstring>

#include "base/errors.h"
#include "vm/state.h"
#include "vm/table.h"

namespace qv {

uint32_t VmHashString(const char* s, size_t len) {
  uint32_t h = static_cast<uint32_t>(len);
  if (len < 32) {  // every character, without the sampling step's arithmetic
    for (size_t i = len; i > 0; --i)
      h ^= (h << 5) + (h >> 2) + static_cast<unsigned char>(s[i - 1]);
    return h;
  }
  size_t step = (len >> 5) + 1;  // long strings hash a sample of about 32 characters
  for (size_t i = len; i >= step; i -= step)
    h ^= (h << 5) + (h >> 2) + static_cast<unsigned char>(s[i - 1]);
  return h;
}

void VmResizeStringTable(qvScriptState* L, uint32_t newSize) {
  qvStringTable* tb = &G(L)->strt;
  auto* newSlots = VmNewZeroedVector<qvStringSlot>(L, newSize);
  const uint32_t mask = newSize - 1;
  constexpr uint32_t kAhead = 8;  // where a string lands is far from the last one: fetched ahead
  for (uint32_t i = 0; i < tb->size; ++i) {
    if (i + kAhead < tb->size && tb->slots[i + kAhead].s != nullptr)
      __builtin_prefetch(&newSlots[tb->slots[i + kAhead].hash & mask], 1);
    const qvStringSlot& slot = tb->slots[i];
    if (slot.s != nullptr) newSlots[StringFreeSlot(newSlots, mask, slot.hash)] = slot;
  }
  VmFreeVector(L, tb->slots, tb->size);
  tb->size = newSize;
  tb->slots = newSlots;
}

qvString* VmInternString(qvScriptState* L, const char* s, size_t len) {
  return VmInternHashed(L, s, len, VmHashString(s, len));
}

qvString* VmInternHashed(qvScriptState* L, const char* s, size_t len, uint32_t h) {
  qvStringTable* tb = &G(L)->strt;
  uint32_t mask = tb->size - 1;
  uint32_t i = h & mask;
  for (; tb->slots[i].s != nullptr; i = (i + 1) & mask) {
    const qvStringSlot& slot = tb->slots[i];
    if (slot.hash == h && slot.s->len == len && std::memcmp(s, slot.s->data(), len) == 0)
      return slot.s;
  }
  // The table grows before the string is made: a failure leaves nothing half done.
  if (uint64_t(tb->nuse + 1) * 4 > uint64_t(tb->size) * 3) {
    VmResizeStringTable(L, tb->size * 2);
    mask = tb->size - 1;
    i = StringFreeSlot(tb->slots, mask, h);
  }
  const size_t size = StringBlockSize(len);
  auto* ts = static_cast<qvString*>(VmNewBlock(L, size));
  tb->bytes += size;
  if (size > kPoolMaxBlock) tb->nlong++;
  ts->next = nullptr;  // strings are listed by the table alone
  ts->type = kTypeString;
  ts->marked = 0;
  ts->reserved = 0;
  ts->hash = h;
  ts->len = static_cast<uint32_t>(len);
  std::memcpy(ts->data(), s, len);
  ts->data()[len] = '\0';
  tb->slots[i] = {ts, h};
  tb->nuse++;
  return ts;
}

qvString* VmInternCString(qvScriptState* L, const char* s) {
  return VmInternString(L, s, std::strlen(s));
}

qvUserdata* VmNewUserdataObject(qvScriptState* L, size_t size) {
  if (size >= 0xFFFFFFFDu - sizeof(qvUserdata)) VmRaiseError(L, ERR_MEM);
  auto* u = static_cast<qvUserdata*>(VmRealloc(L, nullptr, 0, sizeof(qvUserdata) + size));
  u->type = kTypeUserdata;
  u->marked = kNotFinalisedBit;
  u->len = size;
  u->metatable = TableOf(&G(L)->defaultMeta);
  u->next = G(L)->rootudata;
  G(L)->rootudata = u;
  return u;
}

}  // namespace qv
