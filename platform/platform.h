// Every platform operation that the other subsystems call. Nothing above platform/ includes SDL or
// POSIX headers for these jobs: locks, signals, tasks, time, timers, the main loop with the script
// thread and its requests, text output and the debug device, message ports, files and programs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "core/support.h"  // qvTimeVal

namespace qv {

// ---------------------------------------------------------------------------------------------
// Locks and signals

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

// ---------------------------------------------------------------------------------------------
// Tasks: worker threads with a start handshake and a quit request that is never lost

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

// ---------------------------------------------------------------------------------------------
// Time

// Now as {seconds, microseconds} since 1970 (UTC); never goes backwards while the program runs.
void GetSysTime(qvTimeVal* now);
// Now in seconds since 1970, on the same clock as GetSysTime.
double GetUnixTimeFloat();
void DelayMs(int ms);
// From the local time and the user's locale, into two buffers of 64 bytes: kind 0 the short date
// in buffer1; 1 "MM-dd-yy" in buffer1 and "HH:mm:ss" in buffer2; 2 "HH:mm:ss" in buffer1; 3 the
// weekday's name in buffer1; other kinds leave both untouched.
void GetDateTimeText(int kind, char* buffer1, char* buffer2);

// ---------------------------------------------------------------------------------------------
// Timer queue: the script's intervals and time-outs

// The owning object's id {number, handle}.
struct qvTimerOwner {
  int32_t number;
  void* handle;
};
inline bool operator==(const qvTimerOwner& a, const qvTimerOwner& b) {
  return a.number == b.number && a.handle == b.handle;
}

struct qvQueueTimer;  // one per running interval (kind 0) or time-out (kind 1)

// Operations: 0 SetInterval (first expiry at once, then every ms), 1 SetTimeout (once after ms),
// 2 ClearInterval, 3 ClearTimeout, 4 ChangeInterval (restarts at once with the new period).
// 0, or ERR_MEM when a timer cannot be made; clearing or changing a missing timer returns 0.
int SetTimerQueueTimer(int operation, qvTimerOwner owner, int ms);
// The timer of that kind and owner, or null; *next gets its successor.
qvQueueTimer* FindTimerByOwner(int kind, qvTimerOwner owner, qvQueueTimer** next);
// Examines the record (null: the first one) and returns its successor (null at the end). For a
// record that fired: a time-out gives kind 1 and is removed, an interval gives kind 0 and is
// re-armed (several expiries between two calls are reported once); otherwise the kind is 9.
qvQueueTimer* TakeFiredTimer(qvQueueTimer* record, int* kind, qvTimerOwner* owner);
// Waits ms while the main loop keeps passing: 0 when the time passed, ERR_USERABORT when the user
// asked to quit meanwhile. Script thread.
int WaitTimeQueued(int ms);

// ---------------------------------------------------------------------------------------------
// Platform, main loop, script thread and requests

// 0, or ERR_MEM (timer service), ERR_CREATEEVENT (a signal). Failures leave what was made for
// ShutdownPlatform, which frees everything and removes the private temporary directory.
int InitPlatform();
void ShutdownPlatform();

// The script's body: runs the main chunk in a protected call and returns its status.
using qvScriptBody = std::function<int()>;
// The main thread's loop: starts the 20 ms pointer poll and the script thread (16 MB stack),
// waits on its handles and pumps window events until the script thread has ended; returns the
// body's result, or ERR_THREAD when the script thread cannot start.
int MessageLoop(const qvScriptBody& body);
// Sets the wake signal: the main loop makes one pass. Any thread.
void WakeMainLoop();
// Blocks until the main loop has finished its next pass; 0. Script thread.
int WaitMainLoopPass();
// Takes over the window states that the main thread gathered (through the display host); when
// the user asked to quit, calls the break handler and returns non-zero. Script thread.
int SyncWindowStates();
// 8 Ctrl+C quits (default on), 9 the left mouse button quits, 10 Escape quits (both default off),
// 16 the frames-per-second limit (0: the refresh rate); other codes are ignored.
void SetPlatformAttr(int code, int value);
int GetFrameLimit();
bool IsMainThread();
// The display-list lock: held by the main loop while it pumps window events and by
// SyncWindowStates.
qvLock* GetDisplayListLock();

// Window requests (1 open, 2 close, 3 activate a display's window, 4 join the clipboard chain,
// 5 tray icon) run on the main thread. A handler gets the four argument words.
using qvRequestHandler = int (*)(intptr_t a0, intptr_t a1, intptr_t a2, intptr_t a3);
void SetRequestHandler(int code, qvRequestHandler handler);
// Runs request `code` on the main thread: in place when called there or while no main loop runs,
// else forwarded through CallMainThread. Returns the handler's result for codes 1 and 5, else 0.
int RunWindowRequest(int code, intptr_t a0 = 0, intptr_t a1 = 0, intptr_t a2 = 0,
                     intptr_t a3 = 0);
// Hands the request to the main loop and blocks until it is done; one request at a time.
int CallMainThread(int code, intptr_t a0, intptr_t a1, intptr_t a2, intptr_t a3);

// The runtime's break word: called (on any thread) when the user asked to quit, by
// SyncWindowStates and on SIGINT or SIGTERM. A second such signal ends the process.
void SetBreakHandler(void (*handler)(void* data), void* data);
// The error text argument (the runtime's SetErrorString) for codes that name something.
void SetErrorTextHandler(void (*handler)(const char* text));

// Neighbours that later parts of the player plug in; see platform/os/loop_hosts.h.
class WindowSystem;
class DisplayHost;
class AudioHost;
// The window system that MessageLoop waits in and pumps (null: the built-in headless one). Set it
// before MessageLoop and back to null before destroying it; shutdown forgets all three.
void SetWindowSystem(WindowSystem* system);
void SetDisplayHost(DisplayHost* host);
void SetAudioHost(AudioHost* host);

// ---------------------------------------------------------------------------------------------
// Text output and the debug device

// Writes the text to standard output, to the "::file" device's file (flushed at once) or into
// the "::hwnd" device's shared block (at most 2047 bytes and a zero) for the host to read. Any
// thread.
void OutputText(const char* text);
// "::hwnd<n>": the host n gets all output; "::file<path>": the file gets it; else standard output.
void ParseOutputArgument(const char* device);
// One line of standard input (fgets); 0 at the end of input.
int ReadConsoleLine(char* buffer, int size);

// ---------------------------------------------------------------------------------------------
// Message ports between running players

// Names this program's port ("" or null: no port); 0 or ERR_CREATEPORT.
int SetPortName(const char* name);
// 0 once a running player took the message; ERR_WRONGUSAGE for one's own port; ERR_MEM;
// ERR_FINDPORT (with the port as error text) when no running player has that port.
int SendPortMessage(const char* port, const char* text);
// A received message: data holds the port name, a zero, the text and a zero; node and data are
// one block, freed with std::free.
struct qvPortMessage {
  qvPortMessage* next;
  char* data;
  size_t size;
};
// The oldest received message, unlinked (the caller frees it), or null.
qvPortMessage* TakePortMessage(char** data, size_t* size);

// ---------------------------------------------------------------------------------------------
// Files, paths and directory scans. Names arrive translated by the runtime; "\" is accepted as
// a separator.

// A file time: UTC seconds and nanoseconds since 1970.
struct qvFileTime {
  int64_t seconds;
  int32_t nanos;
};
enum : uint32_t {
  QV_FILEATTR_ARCHIVE = 0x20,
  QV_FILEATTR_HIDDEN = 0x80,
  QV_FILEATTR_SYSTEM = 0x100,
  QV_FILEATTR_READONLY = 0x8000,
  QV_FILEATTR_NORMAL = 0x10000,
};
enum { QV_TIME_CREATION = 0, QV_TIME_ACCESS = 1, QV_TIME_WRITE = 2 };
struct qvDirEntry {
  int64_t size;
  uint32_t attributes;  // QV_FILEATTR_ bits
  int isDirectory;
  qvFileTime times[3];  // creation, last access, last write
};
// {seconds, minutes, hours, day of month, month from 0, year} in local time.
struct qvDate {
  int seconds, minutes, hours, day, month, year;
};

struct qvDirLock;
// A read lock on an existing file or directory (empty name: the current directory), or null. A
// write lock prints "QVOS_LOCK_WRITE unsupported.\n" and fails.
qvDirLock* LockPath(const char* name, int write);
void CloseDirScan(qvDirLock* lock);
// A directory: restarts its scan, *isDir = 1, 0. A file: ERR_NOTADIR naming the path.
int ExamineFirstEntry(qvDirLock* lock, int* isDir);
// The lock's own file or directory; 1, or 0 when it cannot be examined.
int ExamineDirEntry(qvDirLock* lock, qvDirEntry* entry);
// The next entry (sorted without regard to case; names beginning with "." are passed over): 1
// with the name (valid until the next call), its directory flag and, when asked, its entry; 0
// at the end.
int ExamineNextEntry(qvDirLock* lock, const char** name, int* isDir, qvDirEntry* entry);
int GetLockName(qvDirLock* lock, char* buffer, size_t size);  // 1

// Deletes a file or an empty directory: 1, or 0 when it does not exist or cannot be deleted.
int DeleteFileOrDir(const char* name);
// 1, or 0 on failure; an existing target is never replaced.
int RenameFile(const char* oldName, const char* newName);
int MakeDirectoryCore(const char* name);  // 0 or ERR_CREATEDIR
// Makes the directory current and returns a copy of the previous one (free it with std::free),
// null when it cannot change.
char* ChangeCurrentDir(const char* name);
// The absolute, normalised path of a name (need not exist); 1.
int GetFullPath(const char* name, char* buffer, size_t size);
// Sets last access and last write (the creation time cannot be set here); 1, or 0 on failure.
int SetFileDates(const char* name, const qvFileTime times[3]);
// QV_FILEATTR_NORMAL wins over the rest; read-only takes the write permission away. 1, or 0.
int SetFileAttrBits(const char* name, uint32_t bits);
void FileTimeToDate(const qvFileTime& time, qvDate* date);
void DateToFileTime(const qvDate& date, qvFileTime* time);
// The name of the volume that holds the path (its mount point's last part, "/" for the root); 0.
int GetVolumeLabel(const char* root, char* buffer, size_t size);
// Free bytes (for the user) and used bytes of that volume; 0.
int GetDiskSpace(const char* root, uint64_t* freeBytes, uint64_t* usedBytes);
// Runs a program (an absolute name as it is, else joined to the current directory) with its
// arguments (split at blanks; double quotes group), without a shell. Unless async, waits for it and
// gives its exit status (128 + signal when killed). 0, or ERR_FILEEXIST (with the name as error
// text) when it cannot be started.
int ExecuteProgram(const char* name, const char* arguments, int async, int* exitStatus);
// A new name "qv....tmp" in the private temporary directory (made on first use, removed with
// everything in it at shutdown); the file itself does not exist. 0, or ERR_CREATEDIR.
int CreateTempName(char* buffer, size_t size);
// The full path of the program file; 1, or 0 when it does not fit.
int GetProgramPath(char* buffer, size_t size);

// The user's language as a LANGUAGE_ number (0 English ... 17 Russian), kLanguageUnknown (18)
// when the locale names none of them.
inline constexpr int kLanguageUnknown = 18;
int GetSystemLanguageCode();

}  // namespace qv
