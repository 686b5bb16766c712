// The desktop's clipboard over X11: one connection of its own, whose events one thread reads.
// Every Xlib call on the connection happens under one mutex; a caller that waits for another
// program's answer sleeps on a condition variable while the thread collects it.
#include "platform/x11/x11_clipboard.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "base/errors.h"
#include "platform/clipboard.h"
#include "platform/os/internal.h"

// Xlib's macros (None, Bool, Status) come last, so that they reach no other header.
#include <X11/Xatom.h>

#include "platform/x11/x11_library.h"

namespace qv {

namespace {

constexpr size_t kBmpFileHeaderSize = 14;
// An owner that sends nothing for this long has given up (or never answers).
constexpr auto kAnswerTime = std::chrono::seconds(1);
// Nothing larger is taken from another program.
constexpr size_t kMaxTransfer = size_t{256} << 20;

enum AtomIndex {
  kClipboardAtom,
  kTargets,
  kUtf8,
  kText,
  kTextPlain,
  kTextPlainUtf8,
  kImageBmp,
  kIncr,
  kTransfer,  // the property of our window that answers arrive in
  kAtomCount,
};
const char* const kAtomNames[kAtomCount] = {
    "CLIPBOARD", "TARGETS", "UTF8_STRING",  "TEXT", "text/plain", "text/plain;charset=utf-8",
    "image/bmp", "INCR",    "QV_CLIPBOARD",
};

// One conversion of the clipboard in flight.
struct Transfer {
  bool active = false;
  bool done = false;
  bool ok = false;
  bool incremental = false;
  Atom target = None;  // what was asked for: an answer to another request is not this one's
  Atom type = None;
  std::vector<uint8_t> data;
  std::chrono::steady_clock::time_point lastProgress;
};

struct X11Clipboard {
  std::mutex mutex;  // the connection and everything below
  std::condition_variable progress;
  bool tried = false;
  Display* display = nullptr;
  Window window = None;
  Atom atoms[kAtomCount] = {};
  int fixesEvent = -1;  // XFixes' first event number; -1 without XFixes
  size_t maxProperty = 0;
  int wake[2] = {-1, -1};
  qvThread* thread = nullptr;
  bool stop = false;
  void (*changed)() = nullptr;
  // What the player offers while it owns the clipboard: text bytes or a BMP file.
  int32_t ownedKind = kClipboardEmpty;
  std::vector<uint8_t> owned;
  Transfer transfer;
};
X11Clipboard g;

XErrorHandler gPreviousErrorHandler = nullptr;

// A requestor that went away while we answered it is no reason to end the program: errors on our
// connection are dropped, others go to the handler that was there before.
int OnXError(Display* display, XErrorEvent* event) {
  if (display == g.display) return 0;
  return gPreviousErrorHandler != nullptr ? gPreviousErrorHandler(display, event) : 0;
}

void WakeThread() {
  if (g.wake[1] < 0) return;
  const char byte = 1;
  ssize_t ignored = write(g.wake[1], &byte, 1);
  (void)ignored;
}

bool IsTextTarget(Atom target) {
  return target == g.atoms[kUtf8] || target == XA_STRING || target == g.atoms[kText] ||
         target == g.atoms[kTextPlain] || target == g.atoms[kTextPlainUtf8];
}

// Reads and deletes a property of our window. False when it is missing or too large.
bool TakeProperty(Atom property, Atom* type, std::vector<uint8_t>* out, bool append) {
  Atom actualType = None;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(g.display, g.window, property, 0, LONG_MAX / 4, True, AnyPropertyType,
                         &actualType, &format, &items, &after, &data) != Success) {
    return false;
  }
  bool ok = actualType != None;
  if (ok) {
    size_t unit = format == 32 ? sizeof(long) : format == 16 ? sizeof(short) : 1;
    size_t bytes = items * unit;
    size_t have = append ? out->size() : 0;
    ok = bytes <= kMaxTransfer - have;
    if (ok) {
      try {
        if (!append) out->clear();
        out->insert(out->end(), data, data + bytes);
      } catch (const std::bad_alloc&) {
        ok = false;
      }
    }
    *type = actualType;
  }
  if (data != nullptr) XFree(data);
  return ok;
}

void Finish(bool ok) {
  g.transfer.done = true;
  g.transfer.ok = ok;
  g.progress.notify_all();
}

void OnSelectionNotify(const XSelectionEvent& e) {
  if (!g.transfer.active || g.transfer.done || e.requestor != g.window ||
      e.selection != g.atoms[kClipboardAtom] || e.target != g.transfer.target) {
    return;
  }
  if (e.property == None) return Finish(false);
  Atom type = None;
  if (!TakeProperty(e.property, &type, &g.transfer.data, false)) return Finish(false);
  g.transfer.lastProgress = std::chrono::steady_clock::now();
  if (type == g.atoms[kIncr]) {
    // The owner sends the data in pieces, each after we deleted the one before.
    g.transfer.incremental = true;
    g.transfer.data.clear();
    return;
  }
  g.transfer.type = type;
  Finish(true);
}

void OnPropertyNotify(const XPropertyEvent& e) {
  if (!g.transfer.active || g.transfer.done || !g.transfer.incremental || e.window != g.window ||
      e.atom != g.atoms[kTransfer] || e.state != PropertyNewValue) {
    return;
  }
  size_t before = g.transfer.data.size();
  Atom type = None;
  if (!TakeProperty(e.atom, &type, &g.transfer.data, true)) return Finish(false);
  g.transfer.lastProgress = std::chrono::steady_clock::now();
  g.transfer.type = type;
  if (g.transfer.data.size() == before) Finish(true);  // an empty piece ends it
}

// Answers another program's request for what the player owns.
void OnSelectionRequest(const XSelectionRequestEvent& e) {
  XSelectionEvent reply{};
  reply.type = SelectionNotify;
  reply.display = e.display;
  reply.requestor = e.requestor;
  reply.selection = e.selection;
  reply.target = e.target;
  reply.time = e.time;
  reply.property = None;
  Atom property = e.property != None ? e.property : e.target;
  bool text = g.ownedKind == kClipboardText;
  bool picture = g.ownedKind == kClipboardPicture;
  if (e.selection == g.atoms[kClipboardAtom] && (text || picture)) {
    if (e.target == g.atoms[kTargets]) {
      Atom list[8];
      int n = 0;
      list[n++] = g.atoms[kTargets];
      if (picture) list[n++] = g.atoms[kImageBmp];
      if (text) {
        for (Atom a : {g.atoms[kUtf8], g.atoms[kTextPlainUtf8], XA_STRING, g.atoms[kText],
                       g.atoms[kTextPlain]}) {
          list[n++] = a;
        }
      }
      XChangeProperty(g.display, e.requestor, property, XA_ATOM, 32, PropModeReplace,
                      reinterpret_cast<unsigned char*>(list), n);
      reply.property = property;
    } else if (((text && IsTextTarget(e.target)) || (picture && e.target == g.atoms[kImageBmp])) &&
               g.owned.size() <= g.maxProperty) {
      Atom type = e.target == g.atoms[kText] ? g.atoms[kUtf8] : e.target;
      XChangeProperty(g.display, e.requestor, property, type, 8, PropModeReplace, g.owned.data(),
                      static_cast<int>(g.owned.size()));
      reply.property = property;
    }
  }
  XSendEvent(g.display, e.requestor, False, NoEventMask, reinterpret_cast<XEvent*>(&reply));
}

// Handles one event; true when the clipboard got a new owner.
bool HandleEvent(XEvent* event) {
  switch (event->type) {
    case SelectionRequest:
      OnSelectionRequest(event->xselectionrequest);
      return false;
    case SelectionClear:
      if (event->xselectionclear.selection == g.atoms[kClipboardAtom]) {
        g.ownedKind = kClipboardEmpty;
        g.owned.clear();
      }
      return false;
    case SelectionNotify:
      OnSelectionNotify(event->xselection);
      return false;
    case PropertyNotify:
      OnPropertyNotify(event->xproperty);
      return false;
    default:
      return g.fixesEvent >= 0 && event->type == g.fixesEvent + XFixesSelectionNotify;
  }
}

void ThreadMain(void*) {
  const int connection = ConnectionNumber(g.display);
  for (;;) {
    bool changed = false;
    void (*notify)() = nullptr;
    {
      std::lock_guard<std::mutex> lock(g.mutex);
      if (g.stop) return;
      while (XPending(g.display) > 0) {
        XEvent event;
        XNextEvent(g.display, &event);
        changed |= HandleEvent(&event);
      }
      // No flush here: the last XPending sent what the handlers wrote, and a flush also reads
      // what has arrived into Xlib's queue, where poll would not see it until the next event.
      notify = g.changed;
    }
    if (changed && notify != nullptr) notify();
    pollfd fds[2] = {{connection, POLLIN, 0}, {g.wake[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents & POLLIN) {
      char buffer[64];
      while (read(g.wake[0], buffer, sizeof buffer) > 0) {
      }
    }
    if (fds[0].revents & (POLLERR | POLLHUP)) {
      // The display went away: nothing will come any more.
      std::lock_guard<std::mutex> lock(g.mutex);
      g.stop = true;
      if (g.transfer.active) Finish(false);
      return;
    }
  }
}

bool OpenConnection() {
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || name[0] == '\0') return false;
  if (!LoadXlib()) return false;
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return false;
  if (pipe2(g.wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    XCloseDisplay(display);
    g.wake[0] = g.wake[1] = -1;
    return false;
  }
  g.display = display;
  if (gPreviousErrorHandler == nullptr) gPreviousErrorHandler = XSetErrorHandler(OnXError);
  XInternAtoms(display, const_cast<char**>(kAtomNames), kAtomCount, False, g.atoms);
  g.window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
  XSelectInput(display, g.window, PropertyChangeMask);
  int eventBase = 0, errorBase = 0;
  g.fixesEvent = XFixesQueryExtension(display, &eventBase, &errorBase) ? eventBase : -1;
  long units = XExtendedMaxRequestSize(display);
  if (units == 0) units = XMaxRequestSize(display);
  // A request is counted in 4-byte units; leave room for its own header.
  g.maxProperty = units > 1024 ? static_cast<size_t>(units) * 4 - 4096 : 0;
  XFlush(display);
  g.stop = false;
  g.thread = StartThread("x11 clipboard", 0, ThreadMain, nullptr, nullptr);
  if (g.thread == nullptr) {
    XDestroyWindow(display, g.window);
    XCloseDisplay(display);
    close(g.wake[0]);
    close(g.wake[1]);
    g.wake[0] = g.wake[1] = -1;
    g.display = nullptr;
    g.window = None;
    return false;
  }
  return true;
}

// Converts the clipboard to `target` and waits for the owner's answer. Mutex held.
bool Convert(std::unique_lock<std::mutex>& lock, Atom target, Atom* type,
             std::vector<uint8_t>* data) {
  auto idle = [] { return !g.transfer.active; };
  if (!g.progress.wait_for(lock, kAnswerTime, idle) || g.stop) return false;
  g.transfer = Transfer{};
  g.transfer.active = true;
  g.transfer.target = target;
  g.transfer.lastProgress = std::chrono::steady_clock::now();
  XDeleteProperty(g.display, g.window, g.atoms[kTransfer]);
  XConvertSelection(g.display, g.atoms[kClipboardAtom], target, g.atoms[kTransfer], g.window,
                    CurrentTime);
  XFlush(g.display);
  WakeThread();
  while (!g.transfer.done) {
    g.progress.wait_for(lock, std::chrono::milliseconds(50));
    if (!g.transfer.done &&
        (g.stop || std::chrono::steady_clock::now() - g.transfer.lastProgress > kAnswerTime)) {
      break;
    }
  }
  bool ok = g.transfer.done && g.transfer.ok;
  if (ok) {
    *type = g.transfer.type;
    data->swap(g.transfer.data);
  }
  g.transfer = Transfer{};
  g.progress.notify_all();
  return ok;
}

// What another owner offers, by its list of targets (nothing when it gives none).
struct Offer {
  bool picture = false;
  bool text = false;
};
Offer OwnerOffers(std::unique_lock<std::mutex>& lock) {
  Offer offer;
  Atom type = None;
  std::vector<uint8_t> data;
  if (!Convert(lock, g.atoms[kTargets], &type, &data) || type != XA_ATOM) return offer;
  std::vector<Atom> targets(data.size() / sizeof(Atom));
  if (!targets.empty()) std::memcpy(targets.data(), data.data(), targets.size() * sizeof(Atom));
  for (Atom a : targets) {
    offer.picture |= a == g.atoms[kImageBmp];
    offer.text |= IsTextTarget(a);
  }
  return offer;
}

// The round trip may read events into Xlib's queue: the thread is woken to handle them.
bool OwnedByUs() {
  bool ours = XGetSelectionOwner(g.display, g.atoms[kClipboardAtom]) == g.window;
  WakeThread();
  return ours;
}

int32_t TakeOwnership(int32_t kind, std::vector<uint8_t> bytes) {
  std::lock_guard<std::mutex> lock(g.mutex);
  if (g.display == nullptr || g.stop) return ERR_CLIPOPEN;
  g.owned.swap(bytes);
  g.ownedKind = kind;
  XSetSelectionOwner(g.display, g.atoms[kClipboardAtom], g.window, CurrentTime);
  bool owner = OwnedByUs();
  if (!owner) {
    g.ownedKind = kClipboardEmpty;
    g.owned.clear();
  }
  XFlush(g.display);
  WakeThread();
  return owner ? 0 : ERR_CLIPOPEN;
}

}  // namespace

bool X11ClipboardAvailable() {
  std::lock_guard<std::mutex> lock(g.mutex);
  if (!g.tried) {
    g.tried = true;
    OpenConnection();
  }
  return g.display != nullptr && !g.stop;
}

int32_t X11WriteClipboardText(const std::string& text) {
  try {
    return TakeOwnership(kClipboardText, std::vector<uint8_t>(text.begin(), text.end()));
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
}

int32_t X11WriteClipboardPicture(const std::vector<uint8_t>& dib) {
  // The file header: "BM", the file's size, two reserved words, where the pixels begin (after
  // the information header and the colour table that the bitmap's header announces).
  uint64_t fileSize = kBmpFileHeaderSize + uint64_t{dib.size()};
  if (dib.size() < 40 || fileSize > UINT32_MAX) return ERR_CLIPOPEN;
  auto word = [&](size_t at) {
    return uint32_t{dib[at]} | uint32_t{dib[at + 1]} << 8 | uint32_t{dib[at + 2]} << 16 |
           uint32_t{dib[at + 3]} << 24;
  };
  uint64_t offset = kBmpFileHeaderSize + uint64_t{word(0)} + uint64_t{word(32)} * 4;
  std::vector<uint8_t> file;
  try {
    file.reserve(fileSize);
    file = {'B', 'M'};
    for (uint64_t v : {fileSize, uint64_t{0}, offset}) {
      for (int i = 0; i < 4; ++i) file.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    file.insert(file.end(), dib.begin(), dib.end());
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
  return TakeOwnership(kClipboardPicture, std::move(file));
}

int32_t X11ClearClipboard() {
  std::lock_guard<std::mutex> lock(g.mutex);
  if (g.display == nullptr || g.stop) return ERR_CLIPOPEN;
  g.ownedKind = kClipboardEmpty;
  g.owned.clear();
  XSetSelectionOwner(g.display, g.atoms[kClipboardAtom], None, CurrentTime);
  XFlush(g.display);
  WakeThread();
  return 0;
}

int32_t X11ClipboardType() {
  std::unique_lock<std::mutex> lock(g.mutex);
  if (g.display == nullptr || g.stop) return kClipboardEmpty;
  Window owner = XGetSelectionOwner(g.display, g.atoms[kClipboardAtom]);
  WakeThread();
  if (owner == None) return kClipboardEmpty;
  if (owner == g.window) return g.ownedKind;
  Offer offer = OwnerOffers(lock);
  return offer.picture ? kClipboardPicture : offer.text ? kClipboardText : kClipboardOther;
}

int32_t X11ReadClipboardText(std::string* text) {
  std::unique_lock<std::mutex> lock(g.mutex);
  text->clear();
  if (g.display == nullptr || g.stop) return ERR_CLIPREAD;
  if (OwnedByUs()) {
    if (g.ownedKind != kClipboardText) return ERR_CLIPREAD;
    text->assign(g.owned.begin(), g.owned.end());
    return 0;
  }
  // Some owners answer any target with what they hold: only an offered text is text.
  if (!OwnerOffers(lock).text) return ERR_CLIPREAD;
  Atom type = None;
  std::vector<uint8_t> data;
  for (Atom target : {g.atoms[kUtf8], XA_STRING}) {
    if (Convert(lock, target, &type, &data)) {
      text->assign(data.begin(), data.end());
      return 0;
    }
  }
  return ERR_CLIPREAD;
}

int32_t X11ReadClipboardPicture(std::vector<uint8_t>* dib) {
  std::unique_lock<std::mutex> lock(g.mutex);
  if (g.display == nullptr || g.stop) return ERR_CLIPREAD;
  std::vector<uint8_t> file;
  if (OwnedByUs()) {
    if (g.ownedKind != kClipboardPicture) return ERR_CLIPREAD;
    file = g.owned;
  } else {
    Atom type = None;
    if (!OwnerOffers(lock).picture || !Convert(lock, g.atoms[kImageBmp], &type, &file)) {
      return ERR_CLIPREAD;
    }
  }
  if (file.size() < kBmpFileHeaderSize || file[0] != 'B' || file[1] != 'M') return ERR_CLIPREAD;
  dib->assign(file.begin() + kBmpFileHeaderSize, file.end());
  return 0;
}

int32_t X11WatchClipboard(bool on, void (*changed)()) {
  std::lock_guard<std::mutex> lock(g.mutex);
  if (g.display == nullptr || g.stop || g.fixesEvent < 0) return ERR_CLIPOPEN;
  unsigned long mask = on ? XFixesSetSelectionOwnerNotifyMask |
                                XFixesSelectionWindowDestroyNotifyMask |
                                XFixesSelectionClientCloseNotifyMask
                          : 0;
  XFixesSelectSelectionInput(g.display, g.window, g.atoms[kClipboardAtom], mask);
  g.changed = on ? changed : nullptr;
  XFlush(g.display);
  WakeThread();
  return 0;
}

void CloseX11Clipboard() {
  qvThread* thread = nullptr;
  {
    std::lock_guard<std::mutex> lock(g.mutex);
    g.stop = true;
    thread = g.thread;
    g.thread = nullptr;
    WakeThread();
  }
  JoinThread(thread);
  std::lock_guard<std::mutex> lock(g.mutex);
  if (g.display != nullptr) {
    XDestroyWindow(g.display, g.window);
    XCloseDisplay(g.display);
  }
  for (int& fd : g.wake) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
  g.display = nullptr;
  g.window = None;
  g.changed = nullptr;
  g.ownedKind = kClipboardEmpty;
  g.owned.clear();
  g.transfer = Transfer{};
  g.tried = false;
  g.stop = false;
}

}  // namespace qv
