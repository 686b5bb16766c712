#include "core/dates.h"

#include <cstdio>
#include <cstring>

#include "base/support.h"
#include "platform/time.h"

namespace qv {

namespace {

constexpr const char* kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr size_t kLongDateLength = 20;
constexpr size_t kDatePartLength = 11;

// The text as "yyyymmddhhmmss" (or "yyyymmdd"), which orders as the dates do; false for an
// unknown month name.
bool SortableDate(const char* text, bool dateOnly, char* key) {
  int month = -1;
  for (int m = 0; m < 12; ++m) {
    if (StrNCaseCmp(text + 3, kMonthNames[m], 3) == 0) month = m + 1;
  }
  if (month < 0) return false;
  std::memcpy(key, text + 7, 4);  // year
  key[4] = static_cast<char>('0' + month / 10);
  key[5] = static_cast<char>('0' + month % 10);
  std::memcpy(key + 6, text, 2);  // day
  size_t length = 8;
  if (!dateOnly) {
    std::memcpy(key + 8, text + 12, 2);
    std::memcpy(key + 10, text + 15, 2);
    std::memcpy(key + 12, text + 18, 2);
    length = 14;
  }
  key[length] = '\0';
  return true;
}

}  // namespace

void FormatLongDate(const qvLocalTime& time, char* out) {
  int month = time.month >= 1 && time.month <= 12 ? time.month - 1 : 0;
  std::snprintf(out, kLongDateSize, "%.2d-%s-%.4d %.2d:%.2d:%.2d", time.day, kMonthNames[month],
                time.year, time.hour, time.minute, time.second);
}

bool CompareDates(const char* a, size_t aLength, const char* b, size_t bLength, bool dateOnly,
                  int* result) {
  size_t want = dateOnly ? kDatePartLength : kLongDateLength;
  if (aLength != want || bLength != want) return false;
  char keyA[16];
  char keyB[16];
  if (!SortableDate(a, dateOnly, keyA) || !SortableDate(b, dateOnly, keyB)) return false;
  int c = std::strcmp(keyA, keyB);
  *result = c == 0 ? 0 : (c > 0 ? 1 : 2);
  return true;
}

}  // namespace qv
