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
  const uint32_t shift = 32 - uint32_t(__builtin_ctz(newSize));
  // Where a string lands is far from the last one: fetched ahead. Beyond the tag's reach the
  // place comes from the string's own hash, fetched further ahead still.
  constexpr uint32_t kAhead = 8;
  const bool fromStrings = shift < 32 - kStringTagBits;
  for (uint32_t i = 0; i < tb->size; ++i) {
    if (fromStrings && i + 2 * kAhead < tb->size && tb->slots[i + 2 * kAhead].word != 0)
      __builtin_prefetch(SlotString(tb->slots[i + 2 * kAhead]));
    if (i + kAhead < tb->size && tb->slots[i + kAhead].word != 0)
      __builtin_prefetch(&newSlots[SlotHome(tb->slots[i + kAhead], shift)], 1);
    const qvStringSlot slot = tb->slots[i];
    if (slot.word != 0) newSlots[StringFreeSlot(newSlots, mask, SlotHome(slot, shift))] = slot;
  }
  VmFreeVector(L, tb->slots, tb->size);
  tb->size = newSize;
  tb->shift = shift;
  tb->slots = newSlots;
}

qvString* VmInternString(qvScriptState* L, const char* s, size_t len) {
  return VmInternHashed(L, s, len, VmHashString(s, len));
}

qvString* VmInternHashed(qvScriptState* L, const char* s, size_t len, uint32_t h) {
  qvStringTable* tb = &G(L)->strt;
  const uint32_t scrambled = StringScramble(h);
  const uint32_t tag = StringTag(scrambled);
  uint32_t mask = tb->size - 1;
  uint32_t i = StringHome(scrambled, tb->shift);
  for (; tb->slots[i].word != 0; i = (i + 1) & mask) {
    const qvStringSlot slot = tb->slots[i];
    if (SlotTag(slot) != tag) continue;
    qvString* ts = SlotString(slot);
    if (ts->hash == h && ts->len == len && std::memcmp(s, ts->data(), len) == 0) return ts;
  }
  // The table grows before the string is made: a failure leaves nothing half done.
  if (uint64_t(tb->nuse + 1) * 4 > uint64_t(tb->size) * 3) {
    VmResizeStringTable(L, tb->size * 2);
    mask = tb->size - 1;
    i = StringFreeSlot(tb->slots, mask, StringHome(scrambled, tb->shift));
  }
  const size_t size = StringBlockSize(len);
  auto* ts = static_cast<qvString*>(VmNewBlock(L, size));
  if (!StringAddressFits(ts)) {
    VmRealloc(L, ts, size, 0);
    VmThrow(L, ERR_MEM);
  }
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
  tb->slots[i] = MakeStringSlot(ts, tag);
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
