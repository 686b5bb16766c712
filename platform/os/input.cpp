#include "platform/input.h"

#include <atomic>

#include "base/errors.h"

namespace qv {

namespace {
std::atomic<uint32_t> gQualifiers{0};
}  // namespace

uint32_t GetQualifiers() { return kQualifierAlways | gQualifiers.load(); }

void RecordQualifiers(uint32_t bits) { gQualifiers.store(bits & ~kQualifierAlways); }

int ReadJoystick(int, int32_t* direction, uint32_t* buttons) {
  if (direction) *direction = 8;
  if (buttons) *buttons = 0;
  return ERR_NOJOYATPORT;
}

int CountJoysticksCore(int32_t* count) {
  if (count) *count = 0;
  return 0;
}

int SetDropTarget(void*, bool) { return 0; }

int JoinClipboardChain(void*, bool) { return 0; }

}  // namespace qv
