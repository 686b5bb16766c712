// Timers, dates and waiting. Timers are objects of type TIMER, addressed by the number the script
// chose or by an automatic handle; they measure milliseconds on the platform's clock and can be
// paused. Waits go through the platform's queued wait, which keeps the main loop passing and ends
// early when the user asks to quit.
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "base/errors.h"
#include "base/support.h"
#include "core/args.h"
#include "core/dates.h"
#include "core/registry.h"
#include "libs/libraries.h"
#include "libs/system/commands.h"
#include "platform/time.h"
#include "platform/timers.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv {

namespace {

struct qvTimer {
  qvObjectHeader header;
  int64_t start;   // microseconds on the platform clock when the timer last started
  int64_t offset;  // microseconds counted before that start (everything, while paused)
  bool paused;
};

qvObjectHeader* gTimers = nullptr;

int64_t NowMicros() { return PlatformClock()->NowMicros(); }

int64_t ElapsedMicros(const qvTimer* t) {
  return t->paused ? t->offset : NowMicros() - t->start + t->offset;
}
// Whole milliseconds: scripts see the count in steps of one millisecond.
int64_t ElapsedMillis(const qvTimer* t) { return ElapsedMicros(t) / 1000; }

// The timer of the argument at `index`, or null after storing the error: ERR_FINDTIMER with the
// number, ERR_FINDARRAY for a handle.
qvTimer* FindTimer(qvScriptState* L, int index, int32_t* code) {
  qvObjectId id = CheckObjectId(L, index);
  qvTimer* t = nullptr;
  *code = FindObjectAs(kObjectTimer, id, ERR_FINDTIMER, &t);
  return t;
}

void Unlink(qvScriptState* L, qvTimer* t) {
  for (qvObjectHeader** p = &gTimers; *p != nullptr; p = &(*p)->next) {
    if (*p == &t->header) {
      *p = t->header.next;
      FreeObjectData(L, &t->header);
      std::free(t);
      return;
    }
  }
}

void Restart(qvTimer* t, int64_t offsetMicros) {
  t->offset = offsetMicros;
  t->start = NowMicros();
  t->paused = false;
}

// Milliseconds as the platform's wait takes them.
int ClampMs(double ms) { return ms >= INT_MAX ? INT_MAX : static_cast<int>(ms); }

// The Wait command's units.
constexpr int32_t kUnitSeconds = 0;
constexpr int32_t kUnitMilliseconds = 1;
constexpr int32_t kUnitTicks = 2;
constexpr double kTickMs = 20;

// GetDateNum's kinds.
constexpr int32_t kDateYear = 0;
constexpr int32_t kDateMonth = 1;
constexpr int32_t kDateDay = 2;
constexpr int32_t kDateTime = 3;

}  // namespace

int32_t OpenTimers() { return RegisterObjectList(&gTimers); }

void FreeSystemLibrary() {
  FreeScriptCatalog();
  while (gTimers != nullptr) {
    qvObjectHeader* next = gTimers->next;
    FreeObjectData(GetProcessVm(), gTimers);
    std::free(gTimers);
    gTimers = next;
  }
}

namespace cmd {

// StartTimer(id or Nil): a new running timer (a timer of that number starts afresh); returns the
// handle of an automatic one.
int32_t StartTimer(qvScriptState* L) {
  CheckArgCount(L, 1, 2);
  qvOptionalId id = OptObjectId(L, 1);
  if (!id.automatic) {
    if (auto* old = reinterpret_cast<qvTimer*>(FindObject(kObjectTimer, {id.number, nullptr})))
      Unlink(L, old);
  }
  auto* t = static_cast<qvTimer*>(AllocVecQ(sizeof(qvTimer), true));
  if (t == nullptr) return ERR_MEM;
  Restart(t, 0);
  AddObject(&gTimers, &t->header, kObjectTimer, id.number, id.automatic);
  return PushNewObjectId(L, id, t);
}

// GetTimer(id): the milliseconds counted.
int32_t GetTimer(qvScriptState* L) {
  CheckArgCount(L, 1, 2);
  int32_t code = 0;
  qvTimer* t = FindTimer(L, 1, &code);
  if (t == nullptr) return code;
  VmPushNumber(L, static_cast<double>(ElapsedMillis(t)));
  return 1;
}

// PauseTimer(id): keeps the count until ResumeTimer.
int32_t PauseTimer(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  int32_t code = 0;
  qvTimer* t = FindTimer(L, 1, &code);
  if (t == nullptr) return code;
  if (!t->paused) {
    t->offset = ElapsedMicros(t);
    t->start = 0;
    t->paused = true;
  }
  return 0;
}

int32_t ResumeTimer(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  int32_t code = 0;
  qvTimer* t = FindTimer(L, 1, &code);
  if (t == nullptr) return code;
  if (t->paused) Restart(t, t->offset);
  return 0;
}

// ResetTimer(id, milliseconds = 0): runs again from the given count.
int32_t ResetTimer(qvScriptState* L) {
  CheckArgCount(L, 1, 2);
  int32_t code = 0;
  qvTimer* t = FindTimer(L, 1, &code);
  if (t == nullptr) return code;
  double ms = VmOptNumber(L, 2, 0);
  if (!(std::fabs(ms) < 9.2e15)) return ERR_WRONGUSAGE;  // beyond the microsecond count
  Restart(t, static_cast<int64_t>(ms * 1000));
  return 0;
}

int32_t StopTimer(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  int32_t code = 0;
  qvTimer* t = FindTimer(L, 1, &code);
  if (t == nullptr) return code;
  Unlink(L, t);
  return 0;
}

// WaitTimer(id, milliseconds, reset = 1): waits until the timer has counted that far, then with
// reset starts it again from 0. A paused timer would never get there: ERR_WRONGUSAGE.
int32_t WaitTimer(qvScriptState* L) {
  CheckArgCount(L, 2, 3);
  int32_t code = 0;
  qvTimer* t = FindTimer(L, 1, &code);
  if (t == nullptr) return code;
  double target = VmCheckNumber(L, 2);
  bool reset = VmOptInt(L, 3, 1) != 0;
  if (t->paused) return ERR_WRONGUSAGE;
  for (;;) {
    double left = target - static_cast<double>(ElapsedMillis(t));
    if (!(left > 0)) break;
    code = WaitTimeQueued(ClampMs(std::ceil(left)));
    if (code != 0) return code;
    // The timer may have gone while the wait let other code run.
    t = reinterpret_cast<qvTimer*>(FindObject(kObjectTimer, CheckObjectId(L, 1)));
    if (t == nullptr) return 0;
  }
  if (reset) Restart(t, 0);
  return 0;
}

// Wait(time, unit = TICKS): seconds, milliseconds or ticks of 20 ms; below 1 returns at once.
// The user's quit request ends the wait with ERR_USERABORT, which ends the script quietly.
int32_t Wait(qvScriptState* L) {
  CheckArgCount(L, 1, 2);
  double time = VmCheckNumber(L, 1);
  int32_t unit = VmOptInt(L, 2, kUnitTicks);
  double ms;
  switch (unit) {
    case kUnitSeconds:
      ms = time * 1000;
      break;
    case kUnitMilliseconds:
      ms = time;
      break;
    case kUnitTicks:
      ms = time * kTickMs;
      break;
    default:
      return ERR_WRONGUSAGE;
  }
  if (!(time >= 1)) return 0;
  return WaitTimeQueued(ClampMs(ms));
}

// GetDate(long = 0): the locale's short date, or "dd-Mon-yyyy hh:mm:ss".
int32_t GetDate(qvScriptState* L) {
  CheckArgCount(L, 0, 1);
  if (VmOptInt(L, 1, 0) == 0) {
    char date[64] = "";
    char unused[64];
    GetDateTimeText(DateText::kShortDate, date, unused);
    VmPushString(L, date);
    return 1;
  }
  qvLocalTime now;
  GetLocalTime(&now);
  char text[kLongDateSize];
  FormatLongDate(now, text);
  VmPushString(L, text);
  return 1;
}

// GetTime(seconds = 0): "hh:mm:ss", or "hh:mm".
int32_t GetTime(qvScriptState* L) {
  CheckArgCount(L, 0, 1);
  bool seconds = VmOptInt(L, 1, 0) != 0;
  char text[64] = "";
  char unused[64];
  GetDateTimeText(DateText::kTime, text, unused);
  size_t length = std::strlen(text);
  if (!seconds && length >= 3) text[length - 3] = '\0';
  VmPushString(L, text);
  return 1;
}

// GetWeekday(): the weekday's name in the user's language.
int32_t GetWeekday(qvScriptState* L) {
  CheckArgCount(L, 0, 0);
  char text[64] = "";
  char unused[64];
  GetDateTimeText(DateText::kWeekday, text, unused);
  VmPushString(L, text);
  return 1;
}

// GetDateNum(kind): the year (in full), month, day, or the time as the number hhmmss.
int32_t GetDateNum(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  int32_t kind = VmCheckInt(L, 1);
  qvLocalTime now;
  GetLocalTime(&now);
  switch (kind) {
    case kDateYear:
      VmPushNumber(L, now.year);
      return 1;
    case kDateMonth:
      VmPushNumber(L, now.month);
      return 1;
    case kDateDay:
      VmPushNumber(L, now.day);
      return 1;
    case kDateTime:
      VmPushNumber(L, now.hour * 10000 + now.minute * 100 + now.second);
      return 1;
    default:
      return ERR_WRONGUSAGE;
  }
}

// CompareDates(a, b, dateonly = 0): 0 equal, 1 a later, 2 a earlier; no result for texts that
// are not long dates (or, with dateonly, their date parts).
int32_t CompareDates(qvScriptState* L) {
  CheckArgCount(L, 2, 3);
  size_t aLength = 0;
  size_t bLength = 0;
  const char* a = VmCheckString(L, 1, &aLength);
  const char* b = VmCheckString(L, 2, &bLength);
  bool dateOnly = VmOptInt(L, 3, 0) != 0;
  int result = 0;
  if (!qv::CompareDates(a, aLength, b, bLength, dateOnly, &result)) return 0;
  VmPushNumber(L, result);
  return 1;
}

}  // namespace cmd

}  // namespace qv
