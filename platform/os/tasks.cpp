// Threads and worker tasks. A task's quit request is a manual-reset signal owned by the task
// record: it stays set once requested, and it lives until EndTask has joined the thread, so the
// creator can never set a signal that the thread already closed.
#include "platform/tasks.h"

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <cstring>
#include <new>

#include "base/errors.h"
#include "platform/os/internal.h"

namespace qv {

struct qvThread {
  pthread_t id;
  char name[16];
  void (*fn)(void*);
  void* arg;
  qvSignal* done;
};

static void* ThreadMain(void* p) {
  auto* thread = static_cast<qvThread*>(p);
  pthread_setname_np(pthread_self(), thread->name);
  thread->fn(thread->arg);
  if (thread->done) SetSignal(thread->done);
  return nullptr;
}

qvThread* StartThread(const char* name, size_t stackSize, void (*fn)(void*), void* arg,
                      qvSignal* done) {
  auto* thread = new (std::nothrow) qvThread{};
  if (!thread) return nullptr;
  // Thread names are limited to 15 bytes.
  std::strncpy(thread->name, name ? name : "qv", sizeof thread->name - 1);
  thread->fn = fn;
  thread->arg = arg;
  thread->done = done;
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  if (stackSize) pthread_attr_setstacksize(&attr, stackSize);
  int rc = pthread_create(&thread->id, &attr, ThreadMain, thread);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete thread;
    return nullptr;
  }
  return thread;
}

void JoinThread(qvThread* thread) {
  if (!thread) return;
  pthread_join(thread->id, nullptr);
  delete thread;
}

struct qvTask {
  void* data;
  qvSignal* started;  // the creator waits on it during the start
  qvSignal* quit;     // manual reset: a request is never lost
  qvThread* thread;
  qvTaskEntry entry;
  std::atomic<int> result;
  bool startDone;  // thread side: the creator was released
};

static void TaskMain(void* p) {
  auto* task = static_cast<qvTask*>(p);
  task->entry(task);
  // An entry that ended without a word would leave its creator waiting for ever.
  if (!task->startDone) ReportTaskResult(task, ERR_THREAD);
}

qvTask* CreateTask(const char* name, qvTaskEntry entry, void* data) {
  auto* task = new (std::nothrow) qvTask{};
  if (!task) return nullptr;
  task->data = data;
  task->entry = entry;
  task->started = CreateSignal();
  if (task->started) task->thread = StartThread(name, 0, TaskMain, task, nullptr);
  if (!task->thread) {
    DeleteSignal(task->started);
    delete task;
    return nullptr;
  }
  WaitSignal(task->started);
  DeleteSignal(task->started);
  task->started = nullptr;
  if (task->result.load() != 0) {
    JoinThread(task->thread);
    DeleteSignal(task->quit);
    delete task;
    return nullptr;
  }
  return task;
}

void EndTask(qvTask* task) {
  if (!task) return;
  if (task->quit) SetSignal(task->quit);
  JoinThread(task->thread);
  DeleteSignal(task->quit);
  delete task;
}

int CreateTaskQuitEvent(qvTask* task) {
  task->quit = CreateManualSignal();
  return task->quit ? 0 : ERR_CREATEEVENT;
}

void* GetTaskData(qvTask* task) { return task->data; }

void SignalTaskStarted(qvTask* task) {
  task->startDone = true;
  SetSignal(task->started);
}

// After the start the creator has deleted the start-up signal: only a thread that never
// released it does so here.
void ReportTaskResult(qvTask* task, int result) {
  task->result.store(result);
  if (!task->startDone) {
    task->startDone = true;
    SetSignal(task->started);
  }
}

bool TaskQuitRequested(qvTask* task) { return task->quit && WaitAnySignal(&task->quit, 1, 0) == 0; }

QueueWake WaitQueueSignal(qvSignal* queueSignal, qvLock* lock, qvTask* task) {
  qvSignal* signals[2] = {queueSignal, task ? task->quit : nullptr};
  LeaveLock(lock);
  int slot = WaitAnySignal(signals, signals[1] ? 2 : 1, -1);
  EnterLock(lock);
  return slot == 0 ? QueueWake::kQueue : QueueWake::kQuit;
}

QueueWake WaitTaskSignal(qvSignal* signal, qvTask* task, int timeoutMs) {
  qvSignal* signals[2] = {signal, task->quit};
  int slot = WaitAnySignal(signals, 2, timeoutMs);
  return slot == 0 || slot == kWaitTimedOut ? QueueWake::kQueue : QueueWake::kQuit;
}

void RaiseThreadPriority() {
  sched_param param{};
  param.sched_priority = sched_get_priority_max(SCHED_RR);
  pthread_setschedparam(pthread_self(), SCHED_RR, &param);  // refused without the right: fine
}

}  // namespace qv
