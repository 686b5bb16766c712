// Time: the clock that the platform reads (the system's, or one that tests move by hand), the
// system time that never goes backwards, delays, and the date and time texts of the user's locale.
#pragma once

#include <cstdint>

#include "base/support.h"  // qvTimeVal

namespace qv {

// Something that has deadlines on a clock: the timer service. A clock that runs by itself leaves
// the waiting to the listener's own thread; a clock that is moved by hand calls the listener as it
// passes the listener's deadlines.
class ClockListener {
 public:
  virtual ~ClockListener() = default;
  // The earliest deadline in the clock's microseconds; INT64_MAX when there is none.
  virtual int64_t NextDueMicros() = 0;
  // Runs what is due at the clock's present time.
  virtual void RunDue() = 0;
};

// What the timers, the main loop and the system time read.
class Clock {
 public:
  virtual ~Clock() = default;
  // Microseconds since 1970 (UTC); never goes backwards. Any thread.
  virtual int64_t NowMicros() = 0;
  // True when the clock takes the listener and runs its deadlines itself as it is moved; false
  // for a clock that runs by itself (the listener then sleeps on its own thread until its
  // deadlines). Detach before the listener goes away; it waits for a call into it to end.
  virtual bool Attach(ClockListener* listener) = 0;
  virtual void Detach(ClockListener* listener) = 0;
};

// The system's clock: the monotonic clock plus one wall-clock base taken at its first use, so it
// never goes backwards and never overflows. It runs by itself.
Clock* SystemClock();
// The clock of the platform (null: the system's). Set it on the main thread before InitPlatform,
// while no other platform thread runs; ShutdownPlatform goes back to the system's.
void SetPlatformClock(Clock* clock);
Clock* PlatformClock();

// Now as {seconds, microseconds} since 1970 (UTC) on the platform clock. Any thread.
void GetSysTime(qvTimeVal* now);
// Now in seconds since 1970 on the platform clock. Any thread.
double GetUnixTimeFloat();
// Sleeps ms of real time, whatever the platform clock (nothing for ms <= 0). Any thread.
void DelayMs(int ms);

// What GetDateTimeText writes.
enum class DateText {
  kShortDate,    // the locale's short date in buffer1
  kDateAndTime,  // "MM-dd-yy" in buffer1 and "HH:mm:ss" in buffer2
  kTime,         // "HH:mm:ss" in buffer1
  kWeekday,      // the weekday's name in buffer1
};
// From the local wall-clock time and the user's locale, into buffers of 64 bytes each. False, with
// both buffers untouched, for a kind outside DateText or when no locale can be made. Any thread.
bool GetDateTimeText(DateText kind, char* buffer1, char* buffer2);

// The local wall-clock time in numbers, the year in full.
struct qvLocalTime {
  int year;    // e.g. 2026
  int month;   // 1-12
  int day;     // 1-31
  int hour;    // 0-23
  int minute;  // 0-59
  int second;  // 0-60
};
// Now, from the local wall-clock time. Any thread.
void GetLocalTime(qvLocalTime* out);

}  // namespace qv
