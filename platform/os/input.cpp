#include "platform/input.h"

#include <atomic>

#include "base/errors.h"
#include "platform/loop.h"
#include "platform/os/internal.h"
#include "platform/os/window_native.h"
#include "platform/x11/x11_clipboard.h"

namespace qv {

namespace {
std::atomic<uint32_t> gQualifiers{0};
std::atomic<void (*)()> gClipboardHandler{nullptr};
std::atomic<bool> gClipboardChanged{false};
}  // namespace

uint32_t GetQualifiers() { return kQualifierAlways | gQualifiers.load(); }

void RecordQualifiers(uint32_t bits) { gQualifiers.store(bits & ~kQualifierAlways); }

// One display takes drops: the flag is the window procedure's.
int SetDropTarget(void*, bool on) {
  SetDropTargetFlag(on);
  return 0;
}

int JoinClipboardChain(void*, bool on) {
  // Without XFixes the window simply hears nothing: no error, as without windows.
  if (X11ClipboardAvailable()) X11WatchClipboard(on, PostClipboardChange);
  return 0;
}

void SetClipboardChangeHandler(void (*handler)()) { gClipboardHandler.store(handler); }

void PostClipboardChange() {
  gClipboardChanged.store(true);
  WakeMainLoop();
}

void DeliverClipboardChange() {
  if (!gClipboardChanged.exchange(false)) return;
  if (void (*handler)() = gClipboardHandler.load()) handler();
}

}  // namespace qv
