// Platform start and shutdown, the main loop with its wait table and the script thread, window
// requests from other threads, and the script thread's take-over of the gathered window states.
//
// Wait table: 0 wake, 1 pointer moved, 2 request, 3 the script thread (set when it has ended and
// never cleared), 4 and up the notifications of playing audio channels. A pass waits until one of
// them is set or a window event arrives, handles the set slots in order, pumps the window events
// under the display-list lock, lets the display host gather its per-display flags and then sets
// the pass-done signal.
#include <pthread.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "base/errors.h"
#include "platform/input.h"
#include "platform/loop.h"
#include "platform/loop_hosts.h"
#include "platform/os/internal.h"
#include "platform/os/null_window_system.h"
#include "platform/os/timer_service.h"
#include "platform/os/window_native.h"
#include "platform/window_system.h"
#include "platform/x11/x11_clipboard.h"

namespace qv {

namespace {

constexpr uint32_t kStatesGathered = 1;
constexpr uint32_t kStatesQuit = 2;

constexpr size_t kScriptStackSize = 16u << 20;
constexpr int kPointerPollMs = 20;
// How long a pass sleeps at most after it marked a signal as the loop's own for the first time: a
// SetSignal under way may have missed the mark and so not wake the window system.
constexpr int kFreshSignalWaitMs = 50;

struct Platform {
  std::atomic<bool> initialised{false};
  std::atomic<bool> haveMain{false};
  pthread_t mainThread{};
  std::atomic<bool> loopRunning{false};

  qvLock* displayListLock = nullptr;
  qvSignal* slots[4] = {};  // wake, pointer moved, request, script thread
  qvSignal* passDone = nullptr;
  qvSignal* requestDone = nullptr;
  TimerService* timers = nullptr;

  // The request block: one request at a time.
  std::mutex requestMutex;
  WindowRequest requestCode{};
  int requestResult = 0;
  intptr_t requestArgs[4] = {};
  int (*requestCall)(void*) = nullptr;  // a call for the main thread instead of a request
  void* requestCallArg = nullptr;
  std::atomic<qvRequestHandler> handlers[6] = {};

  std::atomic<int> quitFlag{0};  // lock-free: the signal handler sets it
  static_assert(std::atomic<int>::is_always_lock_free);
  // What SyncWindowStates has to take over: kStatesGathered since its last run, kStatesQuit from
  // the quit request on. Clear, the call returns at once: the script's line hook calls it at
  // every new line, so that is its common case.
  std::atomic<uint32_t> statesWord{0};
  static_assert(std::atomic<uint32_t>::is_always_lock_free);
  std::atomic<int> quitOnCtrlC{1}, quitOnLeftButton{0}, quitOnEscape{0};
  std::atomic<int> frameLimit{0};

  std::mutex postMutex;
  std::vector<uint64_t> timerPosts;  // expired queue timers, for the main thread

  int lastPointerX = 0, lastPointerY = 0;  // timer thread only
  bool havePointer = false;
  // The pointer poll's timer and whether it rests (see WindowSystem::PointerChangesOnlyInPump).
  std::mutex pollMutex;
  uint64_t pointerPoll = 0;
  bool pollResting = false;

  std::mutex windowSystemMutex;  // against Wake and QueryPointer from other threads
  WindowSystem* windowSystem = nullptr;
  DisplayHost* displayHost = nullptr;
  AudioHost* audioHost = nullptr;

  std::atomic<void (*)(void*)> breakHandler{nullptr};
  std::atomic<void*> breakData{nullptr};
  std::atomic<void (*)(void*)> statesWatcher{nullptr};
  std::atomic<void*> watcherData{nullptr};
};

Platform g;

// Marks the states word and tells the watcher.
void MarkStates(uint32_t bits) {
  g.statesWord.fetch_or(bits, std::memory_order_release);
  if (auto watcher = g.statesWatcher.load()) watcher(g.watcherData.load());
}

WindowSystem* ActiveWindowSystem() {
  static NullWindowSystem headless;
  return g.windowSystem ? g.windowSystem : &headless;
}

// A resting poll's timer is due in about 24 days; the next pass wakes it.
constexpr int kRestingPollMs = INT32_MAX;

void PointerPollCallback(uint64_t, void*) {
  // Held across the query and the decision to rest, so that a pass that pumped a new position
  // after the query finds the poll resting and wakes it.
  std::lock_guard<std::mutex> pollLock(g.pollMutex);
  int x, y;
  bool onlyInPump;
  {
    std::lock_guard<std::mutex> lock(g.windowSystemMutex);
    WindowSystem* ws = ActiveWindowSystem();
    if (!ws->QueryPointer(&x, &y)) return;
    // Without a window system the pointer is the headless one, which nothing moves: the poll
    // rests as soon as it has seen it, and a window system set later is woken by the next pass.
    onlyInPump = g.windowSystem == nullptr || ws->PointerChangesOnlyInPump();
  }
  if (g.havePointer && x == g.lastPointerX && y == g.lastPointerY) {
    if (onlyInPump && !g.pollResting &&
        g.timers->Change(g.pointerPoll, kRestingPollMs, kRestingPollMs)) {
      g.pollResting = true;
    }
    return;
  }
  bool first = !g.havePointer;
  g.havePointer = true;
  g.lastPointerX = x;
  g.lastPointerY = y;
  if (!first) SetSignal(g.slots[1]);
}

struct ScriptRun {
  const qvScriptBody* body;
  int result;
};

thread_local bool tScriptThread = false;

void ScriptThreadEntry(void* p) {
  auto* run = static_cast<ScriptRun*>(p);
  tScriptThread = true;
  run->result = (*run->body)();
  tScriptThread = false;
}

bool KnownRequest(WindowRequest request) {
  return request >= WindowRequest::kOpen && request <= WindowRequest::kTrayIcon;
}

int RunHandler(WindowRequest request, const intptr_t* a) {
  qvRequestHandler handler = KnownRequest(request) ? g.handlers[static_cast<int>(request)].load()
                                                   : nullptr;
  int result = handler ? handler(a[0], a[1], a[2], a[3]) : 0;
  return request == WindowRequest::kOpen || request == WindowRequest::kTrayIcon ? result : 0;
}

// Hands the request to the main loop and blocks until it is done. Never on the main thread, which
// would wait for itself.
int ForwardRequest(WindowRequest request, const intptr_t* a) {
  std::lock_guard<std::mutex> lock(g.requestMutex);
  g.requestCode = request;
  for (int i = 0; i < 4; ++i) g.requestArgs[i] = a[i];
  g.requestResult = 0;
  SetSignal(g.slots[2]);
  WaitSignal(g.requestDone);
  return g.requestResult;
}

// The wait table; *fresh is true when one of its signals was marked as the loop's own just now.
int BuildWaitHandles(qvSignal** table, bool* fresh) {
  int n = 0;
  for (qvSignal* s : g.slots) table[n++] = s;
  *fresh = false;
  if (g.audioHost) {
    int more = g.audioHost->CollectChannelSignals(table + 4, 8);
    more = more < 0 ? 0 : more > 8 ? 8 : more;
    for (int i = 0; i < more; ++i) *fresh |= MarkLoopSignal(table[4 + i]);
    n += more;
  }
  return n;
}

// 1 when the loop must end.
int DispatchLoopEvent(qvSignal** table, int slot, bool* pointerMoved) {
  switch (slot) {
    case 0:
      return 0;
    case 1:
      *pointerMoved = true;
      return 0;
    case 2:
      g.requestResult = g.requestCall != nullptr ? g.requestCall(g.requestCallArg)
                                                 : RunHandler(g.requestCode, g.requestArgs);
      SetSignal(g.requestDone);
      return 0;
    case 3:
      return 1;
    default:
      if (g.audioHost) g.audioHost->OnChannelEvent(table[slot]);
      return 0;
  }
}

bool RunPass() {
  bool pointerMoved = false;
  qvSignal* table[12];
  bool fresh;
  int n = BuildWaitHandles(table, &fresh);
  WindowSystem* ws = ActiveWindowSystem();
  int slot = WaitAnySignal(table, n, 0);
  if (slot < 0) {
    int fds[12];
    for (int i = 0; i < n; ++i) fds[i] = table[i]->fd;
    // Without a fresh signal nothing is looked at again on a clock: the pointer poll, the timers
    // and every other thread set loop signals, which wake the window system.
    ws->Wait(fds, n, fresh ? kFreshSignalWaitMs : -1);
    slot = WaitAnySignal(table, n, 0);
  }
  bool end = false;
  if (slot >= 0) {
    end = DispatchLoopEvent(table, slot, &pointerMoved);
    for (int j = slot + 1; j < n; ++j) {
      if (WaitAnySignal(&table[j], 1, 0) == 0) end |= DispatchLoopEvent(table, j, &pointerMoved);
    }
  }
  EnterLock(g.displayListLock);
  ws->Pump();
  {
    // The pump may have seen the pointer move: the poll looks again within its period.
    std::lock_guard<std::mutex> lock(g.pollMutex);
    if (g.pollResting) {
      g.pollResting = false;
      g.timers->Change(g.pointerPoll, kPointerPollMs, kPointerPollMs);
    }
  }
  DeliverClipboardChange();
  std::vector<uint64_t> posts;
  {
    std::lock_guard<std::mutex> lock(g.postMutex);
    posts.swap(g.timerPosts);
  }
  for (uint64_t id : posts) MarkQueueTimerFired(id);
  // The pump may have gathered states for the script thread to take over.
  MarkStates(kStatesGathered);
  if (g.displayHost) {
    qvQuitSwitches switches{g.quitOnCtrlC.load(), g.quitOnLeftButton.load(), g.quitOnEscape.load()};
    if (g.displayHost->EndPass(pointerMoved, switches)) {
      g.quitFlag.store(1);
      MarkStates(kStatesQuit);
    }
  }
  LeaveLock(g.displayListLock);
  SetSignal(g.passDone);
  return end;
}

}  // namespace

TimerService* Timers() { return g.timers; }

bool MainLoopRunning() { return g.loopRunning.load(); }

void PostTimerExpiry(uint64_t timerId) {
  {
    std::lock_guard<std::mutex> lock(g.postMutex);
    g.timerPosts.push_back(timerId);
  }
  WakeMainLoop();
}

void WakeWindowSystem() {
  std::lock_guard<std::mutex> lock(g.windowSystemMutex);
  ActiveWindowSystem()->Wake();
}

bool QuitRequested() { return g.quitFlag.load() != 0; }

void MarkQuitRequested() {
  g.quitFlag.store(1, std::memory_order_relaxed);
  MarkStates(kStatesQuit);
}

void MarkWindowStatesGathered() { MarkStates(kStatesGathered); }

void RequestQuit() {
  g.quitFlag.store(1);
  MarkStates(kStatesQuit);
  if (auto handler = g.breakHandler.load()) handler(g.breakData.load());
  if (g.initialised.load()) WakeMainLoop();
}

int InitPlatform() {
  if (g.initialised.load()) return 0;
  g.mainThread = pthread_self();
  g.haveMain.store(true);
  g.quitFlag.store(0);
  g.statesWord.store(kStatesGathered);  // the first call takes over whatever stands
  g.quitOnCtrlC.store(1);
  g.quitOnLeftButton.store(0);
  g.quitOnEscape.store(0);
  g.frameLimit.store(0);
  g.havePointer = false;
  g.initialised.store(true);  // from here on ShutdownPlatform frees what was made

  g.displayListLock = CreateLock();
  if (!g.displayListLock) return ERR_SEMAPHORE;
  g.passDone = CreateSignal();
  g.requestDone = CreateSignal();
  for (int i = 0; i < 3; ++i) g.slots[i] = CreateSignal();
  if (!g.passDone || !g.requestDone || !g.slots[0] || !g.slots[1] || !g.slots[2]) {
    return ERR_CREATEEVENT;
  }
  for (int i = 0; i < 3; ++i) MarkLoopSignal(g.slots[i]);
  g.timers = new TimerService(PlatformClock());
  if (!g.timers->Start()) return ERR_MEM;
  return StartSignalWatch();
}

void ShutdownPlatform() {
  if (!g.initialised.load()) return;
  FinishLeftoverRemoval();
  DeleteAllQueueTimers();
  // Both threads are told first and then waited for: each takes a while to wake.
  if (g.timers) g.timers->RequestStop();
  RequestSignalWatchStop();
  delete g.timers;  // stops its thread
  g.timers = nullptr;
  StopSignalWatch();
  ClosePorts();
  CloseX11Clipboard();
  ShutdownJoysticks();
  RecordQualifiers(0);
  CloseTextOutput();
  RemovePrivateTempDir();
  {
    std::lock_guard<std::mutex> lock(g.postMutex);
    g.timerPosts.clear();
  }
  {
    std::lock_guard<std::mutex> lock(g.windowSystemMutex);
    g.windowSystem = nullptr;
  }
  g.displayHost = nullptr;
  g.audioHost = nullptr;
  for (int i = 0; i < 3; ++i) {
    DeleteSignal(g.slots[i]);
    g.slots[i] = nullptr;
  }
  DeleteSignal(g.passDone);
  DeleteSignal(g.requestDone);
  g.passDone = g.requestDone = nullptr;
  DeleteLock(g.displayListLock);
  g.displayListLock = nullptr;
  SetPlatformClock(nullptr);
  g.quitFlag.store(0);  // no platform, no request
  g.statesWord.store(0);
  g.initialised.store(false);
}

int MessageLoop(const qvScriptBody& body) {
  if (g.loopRunning.load()) return ERR_WRONGUSAGE;
  if (!g.initialised.load() || !g.timers) return ERR_THREAD;
  g.mainThread = pthread_self();
  g.haveMain.store(true);
  uint64_t pointerPoll;
  {
    std::lock_guard<std::mutex> lock(g.pollMutex);
    pointerPoll = g.timers->Add(kPointerPollMs, kPointerPollMs, PointerPollCallback, nullptr);
    g.pointerPoll = pointerPoll;
    g.pollResting = false;
  }
  qvSignal* done = CreateManualSignal();
  if (!done) {
    g.timers->Delete(pointerPoll);
    return ERR_THREAD;
  }
  MarkLoopSignal(done);
  g.slots[3] = done;
  ScriptRun run{&body, 0};
  g.loopRunning.store(true);
  qvThread* script = StartThread("qv script", kScriptStackSize, ScriptThreadEntry, &run, done);
  if (!script) {
    g.loopRunning.store(false);
    g.slots[3] = nullptr;
    DeleteSignal(done);
    g.timers->Delete(pointerPoll);
    return ERR_THREAD;
  }
  while (!RunPass()) {
  }
  JoinThread(script);
  g.loopRunning.store(false);
  g.slots[3] = nullptr;
  DeleteSignal(done);
  g.timers->Delete(pointerPoll);
  return run.result;
}

void WakeMainLoop() {
  if (g.slots[0]) SetSignal(g.slots[0]);
}

int WaitMainLoopPass() {
  if (!g.loopRunning.load() || IsMainThread()) return ERR_WRONGUSAGE;
  WaitSignal(g.passDone);
  return 0;
}

int SyncWindowStates() {
  if (g.statesWord.load(std::memory_order_relaxed) == 0) return 0;  // nothing to take over
  // Cleared before the copy: states gathered from here on are marked again for the next call.
  g.statesWord.fetch_and(~kStatesGathered, std::memory_order_acquire);
  if (g.displayHost && g.displayListLock) {
    EnterLock(g.displayListLock);
    g.displayHost->SyncDisplays();
    LeaveLock(g.displayListLock);
  }
  if (!g.quitFlag.load()) return 0;
  if (auto handler = g.breakHandler.load()) handler(g.breakData.load());
  // The request stands: the watcher hears of it again for the next call.
  if (auto watcher = g.statesWatcher.load()) watcher(g.watcherData.load());
  return ERR_USERABORT;
}

bool SetPlatformAttr(PlatformAttr attr, int value) {
  switch (attr) {
    case PlatformAttr::kQuitOnCtrlC:
      g.quitOnCtrlC.store(value);
      return true;
    case PlatformAttr::kQuitOnLeftButton:
      g.quitOnLeftButton.store(value);
      return true;
    case PlatformAttr::kQuitOnEscape:
      g.quitOnEscape.store(value);
      return true;
    case PlatformAttr::kFrameLimit:
      g.frameLimit.store(value);
      return true;
  }
  return false;
}

int GetFrameLimit() { return g.frameLimit.load(); }

bool IsScriptThread() { return tScriptThread; }

bool IsMainThread() { return g.haveMain.load() && pthread_equal(pthread_self(), g.mainThread); }

qvLock* GetDisplayListLock() { return g.displayListLock; }

bool SetRequestHandler(WindowRequest request, qvRequestHandler handler) {
  if (!KnownRequest(request)) return false;
  g.handlers[static_cast<int>(request)].store(handler);
  return true;
}

int RunOnMainThread(int (*fn)(void*), void* arg) {
  if (!g.loopRunning.load() || IsMainThread()) return fn(arg);
  std::lock_guard<std::mutex> lock(g.requestMutex);
  g.requestCall = fn;
  g.requestCallArg = arg;
  g.requestResult = 0;
  SetSignal(g.slots[2]);
  WaitSignal(g.requestDone);
  int result = g.requestResult;
  g.requestCall = nullptr;
  g.requestCallArg = nullptr;
  return result;
}

int RunWindowRequest(WindowRequest request, intptr_t a0, intptr_t a1, intptr_t a2, intptr_t a3) {
  const intptr_t args[4] = {a0, a1, a2, a3};
  if (g.loopRunning.load() && !IsMainThread()) return ForwardRequest(request, args);
  return RunHandler(request, args);
}

void SetBreakHandler(void (*handler)(void*), void* data) {
  g.breakData.store(data);
  g.breakHandler.store(handler);
}

void SetStatesWatcher(void (*watcher)(void*), void* data) {
  g.statesWatcher.store(nullptr);
  g.watcherData.store(data);
  g.statesWatcher.store(watcher);
  if (watcher && g.statesWord.load() != 0) watcher(data);  // what stands already
}

void SetWindowSystem(WindowSystem* system) {
  {
    std::lock_guard<std::mutex> lock(g.windowSystemMutex);
    g.windowSystem = system;
  }
  // A poll that rested on the headless pointer looks at the new system's within its period.
  std::lock_guard<std::mutex> lock(g.pollMutex);
  if (g.pollResting && g.timers) {
    g.pollResting = false;
    g.timers->Change(g.pointerPoll, kPointerPollMs, kPointerPollMs);
  }
}

void SetDisplayHost(DisplayHost* host) {
  g.displayHost = host;
  MarkWindowStatesGathered();  // a new host's states are taken over at the next call
}

void SetAudioHost(AudioHost* host) { g.audioHost = host; }

}  // namespace qv
