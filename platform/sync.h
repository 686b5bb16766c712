// Locks and signals: the recursive locks that guard shared state and the auto-reset signals that
// threads wait on, one at a time or several in slot order.
#pragma once

namespace qv {

// A recursive lock on the heap: the same thread may enter it again, each enter matched by a leave.
struct qvLock;
qvLock* CreateLock();  // null when out of memory
void DeleteLock(qvLock* lock);
void EnterLock(qvLock* lock);
void LeaveLock(qvLock* lock);

// An auto-reset signal, created clear: setting it releases one waiter and clears it again; a set
// with nobody waiting stays until the next wait.
struct qvSignal;
qvSignal* CreateSignal();  // null on failure
void DeleteSignal(qvSignal* signal);
void SetSignal(qvSignal* signal);
void WaitSignal(qvSignal* signal);
// Waits until one of up to 12 signals is set and returns its index; when several are set the
// lowest index wins. timeoutMs < 0 waits for ever, 0 only tests; -1 when the time ran out.
int WaitAnySignal(qvSignal* const* signals, int count, int timeoutMs);

}  // namespace qv
