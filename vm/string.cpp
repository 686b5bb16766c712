// Interned strings and full userdata.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/errors.h"
#include "vm/state.h"
#include "vm/table.h"

#if defined(__SANITIZE_ADDRESS__)
#define QV_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QV_LEAK_CHECKED 1
#endif
#endif
#ifdef QV_LEAK_CHECKED
#include <sanitizer/lsan_interface.h>
#endif

namespace qv {

static uint32_t HashStep(uint32_t h, unsigned char c) { return h ^ ((h << 5) + (h >> 2) + c); }

uint32_t VmHashString(const char* s, size_t len) {
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  uint32_t h = static_cast<uint32_t>(len);
  if (len < 32) {  // every character, without the sampling step's arithmetic
    // From the last character back, four a step after the odd ones: the chain is serial, so
    // what unrolling saves is the loop's own count and test per character.
    const unsigned char* q = p + len;
    if (len & 1) h = HashStep(h, *--q);
    if (len & 2) {
      h = HashStep(h, q[-1]);
      h = HashStep(h, q[-2]);
      q -= 2;
    }
    for (; q != p; q -= 4) {
      h = HashStep(h, q[-1]);
      h = HashStep(h, q[-2]);
      h = HashStep(h, q[-3]);
      h = HashStep(h, q[-4]);
    }
    return h;
  }
  size_t step = (len >> 5) + 1;  // long strings hash a sample of about 32 characters
  for (size_t i = len; i >= step; i -= step) h = HashStep(h, p[i - 1]);
  return h;
}

namespace {

uint64_t Load64(const char* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
uint64_t Load32(const char* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
// The full product folded to 64 bits: every bit of either factor reaches the high half.
uint64_t Fold(uint64_t a, uint64_t b) {
  const unsigned __int128 r = static_cast<unsigned __int128>(a) * b;
  return uint64_t(r) ^ uint64_t(r >> 64);
}
constexpr uint64_t kSpread0 = 0x9E3779B97F4A7C15u;
constexpr uint64_t kSpread1 = 0xC2B2AE3D27D4EB4Fu;

}  // namespace

// The chain of the string table hash over the 16-byte steps of a text of `len` characters from
// `*at` on: every step but the last 1-16 characters, which the hash's end reads.
static inline uint64_t InternChain(const char* s, size_t len, size_t* at, uint64_t seed) {
  size_t i = *at;
  for (; len - i > 16; i += 16) seed = Fold(Load64(s + i) ^ kSpread1, Load64(s + i + 8) ^ seed);
  *at = i;
  return seed;
}

// The hash of a text whose chain is `seed`.
static inline uint32_t InternEnd(const char* s, size_t len, uint64_t seed) {
  return uint32_t(Fold(Load64(s + len - 16) ^ kSpread1, Load64(s + len - 8) ^ seed ^ len) >> 16);
}

// Eight or sixteen characters per step, whole words at a time: a string of a few words costs a
// couple of multiplications where the script hash's chain takes a few cycles per character.
// Every character counts, long strings too. The length enters at the end, so that the chain
// over a text's first steps is the same for every longer text: a string made by appending
// hashes only its new characters (see qvTextBlock).
static inline uint32_t InternHash(const char* s, size_t len) {
  uint64_t a = 0;
  uint64_t b = 0;
  if (len > 16) {
    size_t at = 0;
    return InternEnd(s, len, InternChain(s, len, &at, kSpread0));
  }
  if (len >= 8) {
    a = Load64(s);
    b = Load64(s + len - 8);
  } else if (len >= 4) {
    a = Load32(s);
    b = Load32(s + len - 4);
  } else if (len > 0) {
    a = (uint64_t(uint8_t(s[0])) << 16) | (uint64_t(uint8_t(s[len >> 1])) << 8) |
        uint8_t(s[len - 1]);
  }
  return uint32_t(Fold(a ^ kSpread1, b ^ kSpread0 ^ len) >> 16);
}

uint32_t VmInternHash(const char* s, size_t len) { return InternHash(s, len); }

void VmFreeStringPlaces(qvScriptState* L, qvStringTable* tb) {
  VmRealloc(L, tb->slots, size_t(tb->size) * kStringPlaceBytes, 0);
}

namespace {

// For each pattern of eight full places (bit b: place b), the offsets of the full ones in its
// low bytes, and their number.
struct PlaceOffsets {
  uint64_t offsets[256];
  uint8_t count[256];
};
constexpr PlaceOffsets MakePlaceOffsets() {
  PlaceOffsets t{};
  for (uint32_t bits = 0; bits < 256; ++bits) {
    uint32_t n = 0;
    for (uint32_t b = 0; b < 8; ++b)
      if (bits & (1u << b)) t.offsets[bits] |= uint64_t(b) << (8 * n++);
    t.count[bits] = uint8_t(n);
  }
  return t;
}
constexpr PlaceOffsets kPlaceOffsets = MakePlaceOffsets();

}  // namespace

uint32_t VmFullStringPlaces(const uint8_t* checks, uint32_t base, uint32_t from, uint32_t to,
                            uint8_t* out) {
  uint32_t n = 0;
  for (uint32_t w = 0; base + w < to; w += 8) {
    uint64_t word;
    std::memcpy(&word, checks + base + w, sizeof word);
    // The top bit of each check byte, byte b to bit b (the byte order of every platform the
    // player runs on).
    uint32_t bits = uint32_t(((word & 0x8080808080808080u) * 0x0002040810204081u) >> 56);
    if (base + w < from) bits &= 0xFFu << (from - base - w);
    if (base + w + 8 > to) bits &= (1u << (to - base - w)) - 1;
    const uint64_t offsets = kPlaceOffsets.offsets[bits] + w * 0x0101010101010101u;
    std::memcpy(out + n, &offsets, sizeof offsets);
    n += kPlaceOffsets.count[bits];
  }
  return n;
}

void VmResizeStringTable(qvScriptState* L, uint32_t newSize) {
  qvStringTable* tb = &G(L)->strt;
  auto* newSlots = static_cast<qvStringSlot*>(VmNewZeroed(L, size_t(newSize) * kStringPlaceBytes));
  auto* newChecks = reinterpret_cast<uint8_t*>(newSlots + newSize);
  const uint32_t mask = newSize - 1;
  const uint32_t shift = 32 - uint32_t(__builtin_ctz(newSize));
  const uint8_t* checks = tb->checks;
  const qvStringSlot* slots = tb->slots;
  // The strings go over in slot order, and so in the order of their first slots, old and new
  // alike: the new places are written from start to end. Beyond the tag's reach a string's
  // place comes from its own characters, read at random places: those strings are fetched
  // ahead.
  constexpr uint32_t kAhead = 16;
  uint8_t full[kStringPlaceRun + 8];
  const bool fromStrings = shift < 32 - kStringTagBits;
  for (uint32_t i0 = 0; i0 < tb->size; i0 += kStringPlaceRun) {
    const uint32_t n = VmFullStringPlaces(checks, i0, i0, std::min(tb->size, i0 + kStringPlaceRun),
                                          full);
    auto place = [&](uint32_t i, uint32_t home) {
      const uint32_t j = StringFreeSlot(newChecks, mask, home);
      newSlots[j] = slots[i];
      newChecks[j] = checks[i];
    };
    if (fromStrings) {
      for (uint32_t x = 0; x < n; ++x) {
        if (x + kAhead < n) __builtin_prefetch(SlotString(slots[i0 + full[x + kAhead]]));
        place(i0 + full[x], SlotHome(slots[i0 + full[x]], shift));
      }
    } else {
      const uint32_t tagShift = shift - (32 - kStringTagBits);
      for (uint32_t x = 0; x < n; ++x) {
        const uint32_t i = i0 + full[x];
        place(i, SlotTag(slots[i]) >> tagShift);
      }
    }
  }
  VmFreeStringPlaces(L, tb);
  tb->size = newSize;
  tb->shift = shift;
  tb->slots = newSlots;
  tb->checks = newChecks;
}

// The header and characters of a new string, and its place in the table.
[[gnu::always_inline]] static inline void MakeString(qvStringTable* tb, qvString* ts, const char* s,
                                                     size_t len, uint32_t h, bool known,
                                                     uint32_t scrambled, uint32_t i) {
  ts->next = nullptr;  // strings are listed by the table alone
  ts->type = kTypeString;
  ts->marked = 0;
  ts->hashKnown = known ? 1 : 0;
  ts->wasKey = 0;
  ts->cachedHash = h;
  ts->len = static_cast<uint32_t>(len);
  CopyTextBytes(InlineText(ts), s, len);
  InlineText(ts)[len] = '\0';
  tb->slots[i] = MakeStringSlot(ts, StringTag(scrambled));
  tb->checks[i] = StringCheck(scrambled);
  tb->nuse++;
}

// A block at an address that a slot cannot hold (see StringAddressFits) goes back: no memory for
// the string.
[[noreturn, gnu::noinline]] static void RefuseBlock(qvScriptState* L, void* block, size_t size) {
  VmRealloc(L, block, size, 0);
  VmThrow(L, ERR_MEM);
}

// Intern from the probe on, for every case: a string found beyond a place with its check byte,
// a table to grow first, a block that takes a call.
[[gnu::noinline]] static qvString* InternFully(qvScriptState* L, const char* s, size_t len,
                                               uint32_t h, bool known, uint32_t scrambled) {
  qvStringTable* tb = &G(L)->strt;
  const uint32_t tag = StringTag(scrambled);
  const uint8_t check = StringCheck(scrambled);
  uint32_t mask = tb->size - 1;
  uint32_t i = StringHome(scrambled, tb->shift);
  for (; tb->checks[i] != 0; i = (i + 1) & mask) {
    if (tb->checks[i] != check) continue;
    const qvStringSlot slot = tb->slots[i];
    if (SlotTag(slot) != tag) continue;
    qvString* ts = SlotString(slot);
    if (ts->len == len && SameTextBytes(s, ts->data(), len)) return ts;
  }
  // The table grows before the string is made: a failure leaves nothing half done.
  if (uint64_t(tb->nuse + 1) * 4 > uint64_t(tb->size) * 3) {
    VmResizeStringTable(L, tb->size * 2);
    mask = tb->size - 1;
    i = StringFreeSlot(tb->checks, mask, StringHome(scrambled, tb->shift));
  }
  const size_t size = StringBlockSize(len);
  auto* ts = static_cast<qvString*>(VmNewBlock(L, size));
  if (!StringAddressFits(ts)) RefuseBlock(L, ts, size);
  tb->bytes += size;
  if (size > kPoolMaxBlock) {
    tb->nlong++;
#ifdef QV_LEAK_CHECKED
    // The table keeps a long string only as a shifted, tagged address, which a leak check made
    // while the machine runs cannot follow; the collector frees it.
    __lsan_ignore_object(ts);
#endif
  }
  MakeString(tb, ts, s, len, h, known, scrambled, i);
  return ts;
}

// The string table is probed with VmInternHash. A new string keeps the caller's hash when it is
// `known`, and is hashed otherwise when first asked (StringHash). The common new string, whose
// probe meets a free place before any place with its check byte, in a table with room and a
// pooled block at hand, is made without a call; everything else goes through InternFully. With
// `keyOf`, a string the probe may have found is first looked for among the table's keys.
[[gnu::always_inline]] static inline qvString* Intern(qvScriptState* L, const char* s, size_t len,
                                                      uint32_t h, bool known,
                                                      const qvTable* keyOf = nullptr) {
  qvStringTable* tb = &G(L)->strt;
  const uint32_t scrambled = StringScramble(InternHash(s, len));
  const uint8_t check = StringCheck(scrambled);
  const uint32_t mask = tb->size - 1;
  uint32_t i = StringHome(scrambled, tb->shift);
  while (tb->checks[i] != 0 && tb->checks[i] != check) i = (i + 1) & mask;
  if (keyOf != nullptr && tb->checks[i] != 0) {
    qvString* key = VmTableFindStringKey(keyOf, s, len, h);
    if (key != nullptr) return key;
  }
  if (tb->checks[i] == 0 && uint64_t(tb->nuse + 1) * 4 <= uint64_t(tb->size) * 3) {
    const size_t size = StringBlockSize(len);
    auto* ts = static_cast<qvString*>(VmTakeBlock(L, size));
    if (ts != nullptr) {
      if (!StringAddressFits(ts)) RefuseBlock(L, ts, size);
      tb->bytes += size;
      MakeString(tb, ts, s, len, h, known, scrambled, i);
      return ts;
    }
  }
  return InternFully(L, s, len, h, known, scrambled);
}

// ---- text blocks ----

qvTextBlock* VmNewTextBlock(qvScriptState* L, size_t room) {
  const size_t size = sizeof(qvTextBlock) + room + 1;
  auto* b = static_cast<qvTextBlock*>(VmRealloc(L, nullptr, 0, size));
  b->size = size;
  b->hashSeed = kSpread0;
  b->fill = 0;
  b->hashedTo = 0;
  b->refs = 0;
  b->sealed = 0;
  b->text()[0] = '\0';
  return b;
}

void VmFreeTextBlock(qvScriptState* L, qvTextBlock* b) { VmRealloc(L, b, b->size, 0); }

void VmReleaseText(qvScriptState* L, qvString* s) {
  qvTextBlock* b = BlockOf(s);
  if (--b->refs == 0) VmFreeTextBlock(L, b);
}

static void SetBlock(qvString* s, qvTextBlock* b) {
  const auto address = reinterpret_cast<uintptr_t>(b);
  std::memcpy(reinterpret_cast<char*>(s) + kBlockTextOffset, &address, sizeof address);
}

qvString* VmInternAppended(qvScriptState* L, qvTextBlock* b, size_t len) {
  char* text = b->text();
  size_t at = b->hashedTo;
  const uint64_t seed = InternChain(text, len, &at, b->hashSeed);
  const uint32_t hash = InternEnd(text, len, seed);
  qvStringTable* tb = &G(L)->strt;
  const uint32_t scrambled = StringScramble(hash);
  const uint32_t tag = StringTag(scrambled);
  const uint8_t check = StringCheck(scrambled);
  uint32_t mask = tb->size - 1;
  uint32_t i = StringHome(scrambled, tb->shift);
  for (; tb->checks[i] != 0; i = (i + 1) & mask) {
    if (tb->checks[i] != check || SlotTag(tb->slots[i]) != tag) continue;
    qvString* ts = SlotString(tb->slots[i]);
    if (ts->len == len && std::memcmp(text, ts->data(), len) == 0) {
      text[b->fill] = '\0';  // the characters written past it are nobody's
      return ts;
    }
  }
  if (uint64_t(tb->nuse + 1) * 4 > uint64_t(tb->size) * 3) {
    VmResizeStringTable(L, tb->size * 2);
    mask = tb->size - 1;
    i = StringFreeSlot(tb->checks, mask, StringHome(scrambled, tb->shift));
  }
  auto* ts = static_cast<qvString*>(VmNewBlock(L, kBlockStringBytes));
  if (!StringAddressFits(ts)) RefuseBlock(L, ts, kBlockStringBytes);
  tb->bytes += kBlockStringBytes;
  tb->nlong++;
  ts->next = nullptr;
  ts->type = kTypeString;
  ts->marked = kTextBlockBit;
  ts->hashKnown = 0;
  ts->wasKey = 0;
  ts->cachedHash = 0;
  ts->len = static_cast<uint32_t>(len);
  std::memcpy(reinterpret_cast<char*>(ts) + kStringHeaderBytes, &hash, sizeof hash);
  SetBlock(ts, b);
  b->refs++;
  b->fill = static_cast<uint32_t>(len);
  text[len] = '\0';
  b->hashedTo = static_cast<uint32_t>(at);
  b->hashSeed = seed;
  tb->slots[i] = MakeStringSlot(ts, tag);
  tb->checks[i] = check;
  tb->nuse++;
  return ts;
}

uint32_t VmKeptInternHash(const qvString* s) {
  uint32_t hash;
  std::memcpy(&hash, reinterpret_cast<const char*>(s) + kStringHeaderBytes, sizeof hash);
  return hash;
}

const char* VmStringText(qvScriptState* L, qvString* s) {
  if (!InTextBlock(s)) return s->data();
  qvTextBlock* b = BlockOf(s);
  if (s->len != b->fill) {
    // Longer strings of the block follow its characters: it takes a block of its own, of its
    // exact size.
    qvTextBlock* own = VmNewTextBlock(L, s->len);
    std::memcpy(own->text(), b->text(), s->len);
    own->text()[s->len] = '\0';
    own->fill = s->len;
    own->refs = 1;
    SetBlock(s, own);
    if (--b->refs == 0) VmFreeTextBlock(L, b);
    b = own;
  }
  b->sealed = 1;
  return b->text();
}

uint32_t VmMakeStringHash(qvString* s) {
  s->cachedHash = VmHashString(s->data(), s->len);
  s->hashKnown = 1;
  return s->cachedHash;
}

qvString* VmInternString(qvScriptState* L, const char* s, size_t len) {
  return Intern(L, s, len, 0, false);
}

qvString* VmInternHashed(qvScriptState* L, const char* s, size_t len, uint32_t h) {
  return Intern(L, s, len, h, true);
}

qvString* VmInternKey(qvScriptState* L, const char* s, size_t len, uint32_t h,
                      const qvTable* keyOf) {
  return Intern(L, s, len, h, true, keyOf);
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
