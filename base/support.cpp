#include "base/support.h"

#include <cstdlib>
#include <cstring>

namespace qv {

void* AllocVecQ(size_t size, bool clear) {
  if (size == 0) return nullptr;
  return clear ? std::calloc(1, size) : std::malloc(size);
}

// ---- lists ----

void InitList(qvList* list) {
  list->head = reinterpret_cast<qvNode*>(&list->tail);
  list->tail = nullptr;
  list->tailPred = reinterpret_cast<qvNode*>(&list->head);
}

bool IsListEmpty(const qvList* list) {
  return list->tailPred == reinterpret_cast<const qvNode*>(&list->head);
}

void AddListHead(qvList* list, qvNode* node) { InsertListNode(list, node, nullptr); }

void AddListTail(qvList* list, qvNode* node) { InsertListNode(list, node, list->tailPred); }

qvNode* RemoveListHead(qvList* list) {
  if (IsListEmpty(list)) return nullptr;
  qvNode* node = list->head;
  RemoveListNode(node);
  return node;
}

void RemoveListNode(qvNode* node) {
  node->prev->next = node->next;
  node->next->prev = node->prev;
}

void InsertListNode(qvList* list, qvNode* node, qvNode* pred) {
  // The header's first two words act as a node before the first one, its last two as a node
  // after the last one.
  if (pred == nullptr) pred = reinterpret_cast<qvNode*>(&list->head);
  node->next = pred->next;
  node->prev = pred;
  pred->next->prev = node;
  pred->next = node;
}

// ---- case folding ----

namespace {
struct FoldTables {
  uint8_t upper[256];
  uint8_t lower[256];
  constexpr FoldTables() : upper(), lower() {
    for (int i = 0; i < 256; ++i) {
      upper[i] = static_cast<uint8_t>(i);
      lower[i] = static_cast<uint8_t>(i);
    }
    for (int c = 'a'; c <= 'z'; ++c) {
      upper[c] = static_cast<uint8_t>(c - 32);
      lower[c - 32] = static_cast<uint8_t>(c);
    }
    // Thorn (254) pairs with 222 too; only the division sign and y with diaeresis (255), whose
    // capital ISO-8859-1 lacks, stay as they are.
    for (int c = 224; c <= 254; ++c) {
      if (c == 247) continue;  // the division sign has no capital
      upper[c] = static_cast<uint8_t>(c - 32);
      lower[c - 32] = static_cast<uint8_t>(c);
    }
  }
};
constexpr FoldTables kFold;
}  // namespace

const uint8_t kUpperCase[256] = {
#define R(i) kFold.upper[i]
#define R8(i) \
  R(i), R((i) + 1), R((i) + 2), R((i) + 3), R((i) + 4), R((i) + 5), R((i) + 6), R((i) + 7)
#define R64(i)                                                                              \
  R8(i), R8((i) + 8), R8((i) + 16), R8((i) + 24), R8((i) + 32), R8((i) + 40), R8((i) + 48), \
      R8((i) + 56)
    R64(0), R64(64), R64(128), R64(192)
#undef R
};
const uint8_t kLowerCase[256] = {
#define R(i) kFold.lower[i]
    R64(0), R64(64), R64(128), R64(192)
#undef R
#undef R8
#undef R64
};

int StrCaseCmp(const char* a, const char* b) {
  if (a == b) return 0;
  const auto* p = reinterpret_cast<const unsigned char*>(a);
  const auto* q = reinterpret_cast<const unsigned char*>(b);
  for (;; ++p, ++q) {
    int d = kUpperCase[*p] - kUpperCase[*q];
    if (d != 0 || *p == 0) return d;
  }
}

int StrNCaseCmp(const char* a, const char* b, size_t n) {
  if (a == b || n == 0) return 0;
  const auto* p = reinterpret_cast<const unsigned char*>(a);
  const auto* q = reinterpret_cast<const unsigned char*>(b);
  for (; n > 0; --n, ++p, ++q) {
    int d = kUpperCase[*p] - kUpperCase[*q];
    if (d != 0 || *p == 0) return d;
  }
  return 0;
}

char* LowerCaseString(char* text) {
  for (auto* p = reinterpret_cast<unsigned char*>(text); *p; ++p) *p = kLowerCase[*p];
  return text;
}

int IsGraphChar(int c) { return (c >= 33 && c <= 126) || (c >= 161 && c <= 255); }

int IsLetterChar(int c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= 192 && c <= 255 && c != 247);
}

int IsAlnumChar(int c) { return IsLetterChar(c) || (c >= '0' && c <= '9'); }

// ---- rounding ----

int32_t RoundToInt(double v) {
  // Adding 2^52 + 2^51 leaves the rounded integer (ties to even, the FPU's default mode) in the
  // low bits of the mantissa.
  volatile double sum = v + 6755399441055744.0;
  double s = sum;
  uint64_t bits;
  std::memcpy(&bits, &s, sizeof bits);
  return static_cast<int32_t>(static_cast<uint32_t>(bits));
}

// ---- random numbers ----

namespace {
uint16_t g_x[3] = {0x330E, 0, 0};
uint16_t g_a[3] = {0xE66D, 0xDEEC, 0x0005};
uint16_t g_c = 0xB;
}  // namespace

void SeedRandom48(uint32_t seed) {
  g_x[0] = 0x330E;
  g_x[1] = static_cast<uint16_t>(seed);
  g_x[2] = static_cast<uint16_t>(seed >> 16);
  g_a[0] = 0xE66D;
  g_a[1] = 0xDEEC;
  g_a[2] = 0x0005;
  g_c = 0xB;
}

double Random48() {
  // x := (a * x + c) mod 2^48; unsigned 64-bit wrap-around keeps the low 48 bits exact.
  uint64_t x = g_x[0] | (uint64_t{g_x[1]} << 16) | (uint64_t{g_x[2]} << 32);
  uint64_t a = g_a[0] | (uint64_t{g_a[1]} << 16) | (uint64_t{g_a[2]} << 32);
  x = (a * x + g_c) & 0xFFFFFFFFFFFFull;
  g_x[0] = static_cast<uint16_t>(x);
  g_x[1] = static_cast<uint16_t>(x >> 16);
  g_x[2] = static_cast<uint16_t>(x >> 32);
  return static_cast<double>(x) * (1.0 / 281474976710656.0);
}

// ---- time values ----

void SubTimeVal(qvTimeVal* dest, const qvTimeVal* src) {
  if (dest->micros < src->micros) {
    dest->micros = dest->micros + 1000000 - src->micros;
    dest->seconds = dest->seconds - src->seconds - 1;
  } else {
    dest->micros -= src->micros;
    dest->seconds -= src->seconds;
  }
}

void AddTimeVal(qvTimeVal* dest, const qvTimeVal* src) {
  dest->micros += src->micros;
  dest->seconds += src->seconds;
  if (dest->micros >= 1000000) {
    dest->micros -= 1000000;
    dest->seconds += 1;
  }
}

int CmpTimeVal(const qvTimeVal* a, const qvTimeVal* b) {
  if (a->seconds != b->seconds) return a->seconds < b->seconds ? -1 : 1;
  if (a->micros != b->micros) return a->micros < b->micros ? -1 : 1;
  return 0;
}

}  // namespace qv
