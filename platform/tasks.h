// Tasks: worker threads with a start handshake and a quit request that is never lost.
#pragma once

#include "platform/sync.h"

namespace qv {

struct qvTask;
using qvTaskEntry = void (*)(qvTask* task);

// Creator side, any thread but the task's own.
//
// Starts the thread and waits until it calls SignalTaskStarted (then the task is returned) or
// ReportTaskResult with an error code (then the thread is joined and null returned). Null also
// when the thread or its start-up signal cannot be made.
qvTask* CreateTask(const char* name, qvTaskEntry entry, void* data);
// Requests the quit, waits for the thread to end and frees the task (null is ignored).
void EndTask(qvTask* task);

// Task side, the task's own thread. CreateTaskQuitEvent comes first; the thread's last act is
// ReportTaskResult.
//
// Makes the task's quit signal: 0, or ERR_CREATEEVENT (report it and end).
int CreateTaskQuitEvent(qvTask* task);
void* GetTaskData(qvTask* task);
// Releases the creator: CreateTask returns the task.
void SignalTaskStarted(qvTask* task);
// The task's result, 0 or an error code. Before SignalTaskStarted it also releases the creator,
// and an error code makes CreateTask fail.
void ReportTaskResult(qvTask* task, int result);
// True once EndTask has asked the thread to quit; the request stays (testing does not consume it).
bool TaskQuitRequested(qvTask* task);
// Why WaitQueueSignal returned.
enum class QueueWake { kQueue, kQuit };
// Leaves the lock once, waits for the queue signal or the task's quit request (only the queue
// signal when the task is null) and enters the lock again. kQuit also when the wait failed, so a
// worker ends rather than spins.
QueueWake WaitQueueSignal(qvSignal* queueSignal, qvLock* lock, qvTask* task);
// Waits up to timeoutMs (< 0: for ever) for `signal` or the task's quit request: kQueue when the
// signal came or the time ran out, kQuit for the quit or a failed wait.
QueueWake WaitTaskSignal(qvSignal* signal, qvTask* task, int timeoutMs);

// Best effort, any thread: real-time scheduling for the calling thread when the system allows it.
void RaiseThreadPriority();

}  // namespace qv
