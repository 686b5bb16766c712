// The platform's start and shutdown, the main loop that runs the script thread, and the requests
// that other threads hand to the main thread.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/sync.h"

namespace qv {

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
// Whether the caller is the script thread that MessageLoop runs, while its body runs.
bool IsScriptThread();
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

// Neighbours that later parts of the player plug in; see platform/window_system.h and
// platform/loop_hosts.h.
class WindowSystem;
class DisplayHost;
class AudioHost;
// The window system that MessageLoop waits in and pumps (null: the built-in headless one). Set it
// before MessageLoop and back to null before destroying it; shutdown forgets all three.
void SetWindowSystem(WindowSystem* system);
void SetDisplayHost(DisplayHost* host);
void SetAudioHost(AudioHost* host);

}  // namespace qv
