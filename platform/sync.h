// Locks and signals: the recursive locks that guard shared state and the auto-reset signals that
// threads wait on, one at a time or several in slot order. Every function here may be called on
// any thread.
#pragma once

namespace qv {

// A recursive lock on the heap: the same thread may enter it again, each enter matched by a leave.
struct qvLock;
// A new lock, or null when out of memory.
qvLock* CreateLock();
// Frees the lock (null is ignored); no thread may hold it.
void DeleteLock(qvLock* lock);
// Blocks until the calling thread holds the lock.
void EnterLock(qvLock* lock);
// Leaves one enter of the calling thread, which must hold the lock.
void LeaveLock(qvLock* lock);

// An auto-reset signal, created clear: setting it releases one waiter and clears it again; a set
// with nobody waiting stays until the next wait.
struct qvSignal;
// A new signal, or null when the system has no descriptor or memory left.
qvSignal* CreateSignal();
// Frees the signal (null is ignored); no thread may be waiting on it.
void DeleteSignal(qvSignal* signal);
// Sets the signal (null is ignored). The signal is not touched after the set, so the waiter it
// releases may delete it at once.
void SetSignal(qvSignal* signal);
// Blocks until the signal is set and takes it: true, or false for a null signal or a failed wait.
bool WaitSignal(qvSignal* signal);

// What WaitAnySignal returns besides the index of the signal it took.
enum WaitResult : int {
  kWaitTimedOut = -1,  // the time ran out with none of the signals set
  kWaitFailed = -2,    // a count outside 1..kMaxWaitSignals, a null signal, or the system refused
};
inline constexpr int kMaxWaitSignals = 12;
// Waits until one of `count` signals is set, takes it and returns its index; when several are set
// the lowest index wins. timeoutMs < 0 waits for ever, 0 only tests. kWaitTimedOut or kWaitFailed
// otherwise.
int WaitAnySignal(qvSignal* const* signals, int count, int timeoutMs);

}  // namespace qv
