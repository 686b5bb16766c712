// Clocks: the system clock (a monotonic counter plus one wall-clock base taken at the first use,
// so time values never go backwards and never overflow), the platform's choice of clock, and the
// date and time texts of the user's locale.
#include <locale.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/os/internal.h"
#include "platform/time.h"

namespace qv {

namespace {

int64_t ReadClockMicros(clockid_t id) {
  timespec ts;
  clock_gettime(id, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

class MonotonicClock : public Clock {
 public:
  int64_t NowMicros() override {
    static const int64_t base = ReadClockMicros(CLOCK_REALTIME) - ReadClockMicros(CLOCK_MONOTONIC);
    return base + ReadClockMicros(CLOCK_MONOTONIC);
  }
  bool Attach(ClockListener*) override { return false; }
  void Detach(ClockListener*) override {}
};

std::atomic<Clock*> platformClock{nullptr};

}  // namespace

Clock* SystemClock() {
  static MonotonicClock clock;
  return &clock;
}

void SetPlatformClock(Clock* clock) { platformClock.store(clock); }

Clock* PlatformClock() {
  Clock* clock = platformClock.load();
  return clock ? clock : SystemClock();
}

void GetSysTime(qvTimeVal* now) {
  int64_t us = PlatformClock()->NowMicros();
  now->seconds = static_cast<uint32_t>(us / 1000000);
  now->micros = static_cast<uint32_t>(us % 1000000);
}

double GetUnixTimeFloat() { return static_cast<double>(PlatformClock()->NowMicros()) / 1e6; }

void DelayMs(int ms) {
  if (ms <= 0) return;
  timespec ts{ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) < 0 && errno == EINTR) {
  }
}

bool GetDateTimeText(DateText kind, char* buffer1, char* buffer2) {
  if (kind < DateText::kShortDate || kind > DateText::kWeekday) return false;
  // The wall clock as it is now, even when it was set since the start.
  time_t t = time(nullptr);
  tm local;
  localtime_r(&t, &local);
  // The user's locale for names and the short date; the C locale when it is not installed.
  locale_t loc = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
  if (!loc) loc = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(0));
  if (!loc) return false;
  switch (kind) {
    case DateText::kShortDate:
      strftime_l(buffer1, 64, "%x", &local, loc);
      break;
    case DateText::kDateAndTime:
      strftime_l(buffer1, 64, "%m-%d-%y", &local, loc);
      strftime_l(buffer2, 64, "%H:%M:%S", &local, loc);
      break;
    case DateText::kTime:
      strftime_l(buffer1, 64, "%H:%M:%S", &local, loc);
      break;
    case DateText::kWeekday:
      strftime_l(buffer1, 64, "%A", &local, loc);
      break;
  }
  freelocale(loc);
  return true;
}

void GetLocalTime(qvLocalTime* out) {
  time_t t = time(nullptr);
  tm local;
  localtime_r(&t, &local);
  *out = {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
          local.tm_hour,        local.tm_min,     local.tm_sec};
}

}  // namespace qv
