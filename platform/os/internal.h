// What the parts of the platform layer share among themselves; not for callers above platform/.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/sync.h"

namespace qv {

// Signals are eventfds. An auto-reset signal is cleared by the wait that takes it; a manual one
// stays set (a finished thread, a quit request). A loop signal also wakes the window system when
// it is set, because the main loop may be asleep in it rather than in poll().
struct qvSignal {
  int fd;
  bool manual;
  std::atomic<bool> wakesLoop;
};
qvSignal* CreateManualSignal();
// True when the signal was not marked before: a SetSignal already under way may have missed the
// mark and set it without waking the window system.
bool MarkLoopSignal(qvSignal* signal);
void WakeWindowSystem();  // main_loop.cpp

// Threads with a name and an explicit stack size (0: the default). `done`, when given, is set
// when fn returns.
struct qvThread;
qvThread* StartThread(const char* name, size_t stackSize, void (*fn)(void*), void* arg,
                      qvSignal* done);
void JoinThread(qvThread* thread);

// Waits for the thread of StartLeftoverRemoval (process.cpp), if one runs; main thread.
void FinishLeftoverRemoval();

// The one timer service of the platform, from InitPlatform to ShutdownPlatform.
class TimerService;
TimerService* Timers();

// Timer queue (timer_queue.cpp), called by the main loop and shutdown.
void MarkQueueTimerFired(uint64_t timerId);
void DeleteAllQueueTimers();

// The user asked to quit (a quit condition in a pass, a signal, standard output's reader gone).
void RequestQuit();
// Only the flag that QuitRequested reads, at once: async-signal-safe, for the signal handler,
// whose watcher thread then makes the full request.
void MarkQuitRequested();

// Signals of the process (signal_watch.cpp).
int StartSignalWatch();
// Tells the watcher to end without waiting for it; StopSignalWatch waits.
void RequestSignalWatchStop();
void StopSignalWatch();

// Debug-device blocks that no live player holds (textout.cpp): true when each could be removed.
bool RemoveAbandonedBlocks();
// The settings store's new files ("<file>.new<pid>") of players that no longer run
// (settings_store.cpp): true when each could be removed.
bool RemoveAbandonedStoreFiles();
// Enters the name of a file about to be written beside its target in this player's journal
// (process.cpp), so that a start after a kill removes it. Any thread.
void NotePartialFile(const char* name);

// Starts argv[0] (found on PATH when it has no "/") with exactly these arguments, no shell, its
// standard output on `outFd` (-1: the player's). 0 with *pid, or the errno of the failure.
int SpawnArgv(const std::vector<std::string>& argv, int outFd, int* pid);
// Collects a started program when it ends, without waiting for it here.
void CollectInBackground(int pid);
// Waits for a started program: its exit status, 128 + the signal, or -1.
int WaitForProgram(int pid);

// Runs fn(arg) on the main thread (main_loop.cpp): forwarded through the request block while a
// main loop runs and the caller is another thread, else in place. Returns fn's result.
int RunOnMainThread(int (*fn)(void*), void* arg);

// A change of the desktop's clipboard (input.cpp): posted from any thread, delivered to the
// clipboard-change handler by the main loop's pass (display-list lock held).
void PostClipboardChange();
void DeliverClipboardChange();

// Shutdown of the other parts.
void CloseTextOutput();
void ClosePorts();
void RemovePrivateTempDir();

}  // namespace qv
