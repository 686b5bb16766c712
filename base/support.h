// Small helpers that the whole player shares: memory, doubly linked lists, ISO-8859-1 case
// folding and character classes, rounding, the 48-bit random generator and time values.
#pragma once

#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace qv {

// Memory: a block of `size` bytes from the C heap, zeroed when `clear` is set; null for size 0.
// Free with std::free.
void* AllocVecQ(size_t size, bool clear);

// Doubly linked lists with a tail-sentinel header: an empty list's head points at the header's
// tail word and its tail-predecessor at the header itself, so a node is the last one when its
// next node's next is null.
struct qvNode {
  qvNode* next;
  qvNode* prev;
};
struct qvList {
  qvNode* head;
  qvNode* tail;  // always null
  qvNode* tailPred;
};
void InitList(qvList* list);
bool IsListEmpty(const qvList* list);
void AddListHead(qvList* list, qvNode* node);
void AddListTail(qvList* list, qvNode* node);
qvNode* RemoveListHead(qvList* list);
void RemoveListNode(qvNode* node);
// A null predecessor inserts at the head.
void InsertListNode(qvList* list, qvNode* node, qvNode* pred);

// Case folding through the ISO-8859-1 tables (never the C locale).
extern const uint8_t kUpperCase[256];
extern const uint8_t kLowerCase[256];
inline uint8_t ToUpperChar(unsigned char c) { return kUpperCase[c]; }
inline uint8_t ToLowerChar(unsigned char c) { return kLowerCase[c]; }
int StrCaseCmp(const char* a, const char* b);
int StrNCaseCmp(const char* a, const char* b, size_t n);
char* LowerCaseString(char* text);
int IsGraphChar(int c);
int IsLetterChar(int c);
int IsAlnumChar(int c);

// Nearest integer, ties to even, keeping the low 32 bits.
int32_t RoundToInt(double v);

// Truncates toward zero and keeps the low 32 bits of the integer (as through a 64-bit integer),
// so 4294967295 gives -1; NaN and the infinities give 0. Untrusted doubles never reach a plain
// cast.
inline int32_t DoubleToInt32(double v) {
  if (v > -9223372036854775808.0 && v < 9223372036854775808.0)
    return static_cast<int32_t>(
        static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(v))));
  if (!std::isfinite(v)) return 0;
  double low = std::fmod(std::trunc(v), 4294967296.0);  // exact
  if (low < 0) low += 4294967296.0;
  return static_cast<int32_t>(static_cast<uint32_t>(low));
}

// Truncates toward zero to an int as the x86 truncating conversion does: NaN, the infinities
// and values whose integer part lies outside the int range give INT_MIN. Untrusted doubles
// never reach a plain cast.
inline int TruncateToInt(double v) {
  if (v > -2147483649.0 && v < 2147483648.0) return static_cast<int>(v);
  return INT_MIN;
}

// A sum or product made in 64 bits, held to the int32 range: rectangles at the far ends of the
// coordinate range grow to its end instead of wrapping round.
inline int32_t SaturateToInt32(int64_t v) {
  return v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : static_cast<int32_t>(v);
}

// The 48-bit linear congruential generator (multiplier 0x5DEECE66D, addend 0xB).
void SeedRandom48(uint32_t seed);
double Random48();

// {seconds, microseconds}, microseconds below 1000000.
struct qvTimeVal {
  uint32_t seconds;
  uint32_t micros;
};
void SubTimeVal(qvTimeVal* dest, const qvTimeVal* src);
void AddTimeVal(qvTimeVal* dest, const qvTimeVal* src);
int CmpTimeVal(const qvTimeVal* a, const qvTimeVal* b);

}  // namespace qv
