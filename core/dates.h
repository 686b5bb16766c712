// Dates as scripts write and compare them: the long form "dd-Mon-yyyy hh:mm:ss" with English
// month names, and the comparison of two such texts (or of their 11-character date parts).
#pragma once

#include <cstddef>

namespace qv {

struct qvLocalTime;

// Room for the long form and its terminator.
constexpr size_t kLongDateSize = 32;

// "dd-Mon-yyyy hh:mm:ss" (20 characters for years 1000-9999) into out[kLongDateSize].
void FormatLongDate(const qvLocalTime& time, char* out);

// Compares two long dates: both texts must be 20 characters long, or 11 with `dateOnly` (then
// the times are not compared); the month names are compared without regard to case. Gives
// *result 0 for equal dates, 1 when a is later, 2 when a is earlier, and returns true; returns
// false (no result) for texts of another length or with an unknown month name.
bool CompareDates(const char* a, size_t aLength, const char* b, size_t bLength, bool dateOnly,
                  int* result);

}  // namespace qv
