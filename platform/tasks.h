// Tasks: worker threads with a start handshake and a quit request that is never lost.
#pragma once

#include "platform/sync.h"

namespace qv {

struct qvTask;
using qvTaskEntry = void (*)(qvTask* task);

// Starts the thread and waits until it calls SignalTaskStarted (then the task is returned) or
// ReportTaskResult with an error (then the thread is joined and null returned).
qvTask* CreateTask(const char* name, qvTaskEntry entry, void* data);
// Requests the quit, waits for the thread to end and frees the task.
void EndTask(qvTask* task);
// Thread side. CreateTaskQuitEvent comes first and returns the task (null when its quit signal
// cannot be made); the thread's last act is ReportTaskResult.
qvTask* CreateTaskQuitEvent(qvTask* task);
void* GetTaskData(qvTask* task);
void SignalTaskStarted(qvTask* task);
void ReportTaskResult(qvTask* task, int result);
// 1 once EndTask has asked the thread to quit; the request stays (testing does not consume it).
int TaskQuitRequested(qvTask* task);
// Leaves the lock once, waits for the queue signal or the task's quit request (only the queue
// signal when the task is null) and enters the lock again: 0 for the queue signal, -1 for a quit.
int WaitQueueSignal(qvSignal* queueSignal, qvLock* lock, qvTask* task);
// Best effort: real-time scheduling for the calling thread when the system allows it.
void RaiseThreadPriority();

}  // namespace qv
