// Clocks: a monotonic counter plus one wall-clock base taken at the first use, so time values
// never go backwards and never overflow; the date and time texts of the user's locale.
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <locale.h>

#include "platform/os/internal.h"
#include "platform/time.h"

namespace qv {

static int64_t ReadClockMicros(clockid_t id) {
  timespec ts;
  clock_gettime(id, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

// Microseconds since 1970 on the monotonic clock.
static int64_t NowMicros() {
  static const int64_t base = ReadClockMicros(CLOCK_REALTIME) - ReadClockMicros(CLOCK_MONOTONIC);
  return base + ReadClockMicros(CLOCK_MONOTONIC);
}

void GetSysTime(qvTimeVal* now) {
  int64_t us = NowMicros();
  now->seconds = static_cast<uint32_t>(us / 1000000);
  now->micros = static_cast<uint32_t>(us % 1000000);
}

double GetUnixTimeFloat() { return static_cast<double>(NowMicros()) / 1e6; }

void DelayMs(int ms) {
  if (ms <= 0) return;
  timespec ts{ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) < 0 && errno == EINTR) {
  }
}

void GetDateTimeText(int kind, char* buffer1, char* buffer2) {
  if (kind < 0 || kind > 3) return;
  time_t t = time(nullptr);
  tm local;
  localtime_r(&t, &local);
  // The user's locale for names and the short date; the C locale when it is not installed.
  locale_t loc = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
  if (!loc) loc = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(0));
  if (!loc) return;
  switch (kind) {
    case 0: strftime_l(buffer1, 64, "%x", &local, loc); break;
    case 1:
      strftime_l(buffer1, 64, "%m-%d-%y", &local, loc);
      strftime_l(buffer2, 64, "%H:%M:%S", &local, loc);
      break;
    case 2: strftime_l(buffer1, 64, "%H:%M:%S", &local, loc); break;
    case 3: strftime_l(buffer1, 64, "%A", &local, loc); break;
  }
  freelocale(loc);
}

}  // namespace qv
