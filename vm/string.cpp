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
  auto** newHash = VmNewZeroedVector<qvGCObject*>(L, newSize);
  for (uint32_t i = 0; i < tb->size; ++i) {
    PrefetchBucketsAhead(tb->hash, i, tb->size);
    if (i + 4 < tb->size && tb->hash[i + 4] != nullptr)  // where its head goes
      __builtin_prefetch(&newHash[static_cast<qvString*>(tb->hash[i + 4])->hash & (newSize - 1)],
                         1);
    qvGCObject* p = tb->hash[i];
    while (p != nullptr) {
      qvGCObject* next = p->next;
      uint32_t h = static_cast<qvString*>(p)->hash & (newSize - 1);
      p->next = newHash[h];
      newHash[h] = p;
      p = next;
    }
  }
  VmFreeVector(L, tb->hash, tb->size);
  tb->size = newSize;
  tb->hash = newHash;
}

qvString* VmInternString(qvScriptState* L, const char* s, size_t len) {
  return VmInternHashed(L, s, len, VmHashString(s, len));
}

qvString* VmInternHashed(qvScriptState* L, const char* s, size_t len, uint32_t h) {
  qvStringTable* tb = &G(L)->strt;
  for (qvGCObject* o = tb->hash[h & (tb->size - 1)]; o != nullptr; o = o->next) {
    auto* ts = static_cast<qvString*>(o);
    if (ts->hash == h && ts->len == len && std::memcmp(s, ts->data(), len) == 0) return ts;
  }
  const size_t size = StringBlockSize(len);
  auto* ts = static_cast<qvString*>(VmNewBlock(L, size));
  tb->bytes += size;
  if (size > kPoolMaxBlock) tb->nlong++;
  ts->type = kTypeString;
  ts->marked = 0;
  ts->reserved = 0;
  ts->hash = h;
  ts->len = static_cast<uint32_t>(len);
  std::memcpy(ts->data(), s, len);
  ts->data()[len] = '\0';
  qvGCObject** bucket = &tb->hash[h & (tb->size - 1)];
  ts->next = *bucket;
  *bucket = ts;
  tb->nuse++;
  if (tb->nuse > tb->size && tb->size <= 0x3FFFFFFEu) VmResizeStringTable(L, tb->size * 2);
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
