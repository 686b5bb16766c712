// Time: the system time that never goes backwards, delays, and the date and time texts of the
// user's locale.
#pragma once

#include "base/support.h"  // qvTimeVal

namespace qv {

// Now as {seconds, microseconds} since 1970 (UTC); never goes backwards while the program runs.
void GetSysTime(qvTimeVal* now);
// Now in seconds since 1970, on the same clock as GetSysTime.
double GetUnixTimeFloat();
void DelayMs(int ms);
// From the local time and the user's locale, into two buffers of 64 bytes: kind 0 the short date
// in buffer1; 1 "MM-dd-yy" in buffer1 and "HH:mm:ss" in buffer2; 2 "HH:mm:ss" in buffer1; 3 the
// weekday's name in buffer1; other kinds leave both untouched.
void GetDateTimeText(int kind, char* buffer1, char* buffer2);

}  // namespace qv
