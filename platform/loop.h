// The platform's start and shutdown, the main loop that runs the script thread, and the requests
// that other threads hand to the main thread. The thread that calls InitPlatform and MessageLoop
// is the main thread.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/sync.h"

namespace qv {

// Starts the platform on the main thread: 0, or ERR_SEMAPHORE (the display-list lock),
// ERR_CREATEEVENT (a signal), ERR_MEM (the timer service), ERR_THREAD (the signal watch). A
// failure leaves what was made for ShutdownPlatform. Calling it again while started returns 0.
// From the first call on, SIGHUP, SIGINT, SIGTERM and SIGQUIT request a quit (see QuitRequested)
// instead of ending the process, and SIGPIPE is ignored; after ShutdownPlatform these signals are
// absorbed, so that one arriving while the process exits cannot cut its clean-up short.
int InitPlatform();
// Main thread, after MessageLoop has returned: frees everything, removes the private temporary
// directory and the debug device's block, and forgets the window system, the hosts and the
// platform clock. Nothing happens when the platform is not started.
void ShutdownPlatform();

// The script's body: runs the main chunk in a protected call and returns its status.
using qvScriptBody = std::function<int()>;
// The main thread's loop: starts the 20 ms pointer poll and the script thread (16 MB stack),
// waits on its handles and pumps window events until the script thread has ended; returns the
// body's result. ERR_THREAD when the platform is not started or the script thread cannot start;
// ERR_WRONGUSAGE when a main loop runs already.
int MessageLoop(const qvScriptBody& body);
// Sets the wake signal: the main loop makes one pass. Any thread.
void WakeMainLoop();
// Blocks until the main loop has finished a pass since the last such wait returned: 0. A pass that
// ended while nobody waited counts, so a caller that tests a condition and then waits never misses
// the pass that changed it. ERR_WRONGUSAGE at once when no main loop runs or on the main thread
// (which would wait for itself). Script thread (or another thread that is not the main one).
int WaitMainLoopPass();
// Takes over the window states that the main thread gathered (through the display host): 0, or
// ERR_USERABORT after calling the break handler when the user asked to quit. Script thread.
// When nothing was gathered and no quit was requested since the last call, it returns 0 at once
// after one relaxed atomic load: the player's line hook calls it at every new line.
int SyncWindowStates();
// Marks window states as gathered, so that the next SyncWindowStates takes them over. The main
// loop marks after every pass; whoever changes the gathered states outside a pass (or leaves
// work for the display host's SyncDisplays) marks too. Any thread.
void MarkWindowStatesGathered();
// Called on the marking thread after every mark and quit request, and after every
// SyncWindowStates that reports a quit (the request stands), so that a caller may call
// SyncWindowStates only when told (the player's line hook runs on request). Installing a watcher
// while something is marked calls it at once; null removes it. Any thread.
void SetStatesWatcher(void (*watcher)(void* data), void* data);

// The platform's switches, numbered as the script's attributes.
enum class PlatformAttr {
  kQuitOnCtrlC = 8,       // default on
  kQuitOnLeftButton = 9,  // default off
  kQuitOnEscape = 10,     // default off
  kFrameLimit = 16,       // frames per second; 0 (the default): the refresh rate, which a window
                          // that opens stores here
};
// True, or false for an attribute outside PlatformAttr. Any thread; InitPlatform restores the
// defaults.
bool SetPlatformAttr(PlatformAttr attr, int value);
// The kFrameLimit value. Any thread.
int GetFrameLimit();
// True on the thread that called InitPlatform or MessageLoop last. Any thread.
bool IsMainThread();
// True on the script thread that MessageLoop runs, while its body runs. Any thread.
bool IsScriptThread();
// The display-list lock (null while the platform is not started): held by the main loop while it
// pumps window events and by SyncWindowStates. Any thread.
qvLock* GetDisplayListLock();

// The requests that run on the main thread whoever asks for them.
enum class WindowRequest {
  kOpen = 1,            // open a display's window
  kClose = 2,           // close a display's window
  kActivate = 3,        // activate a display's window
  kClipboardChain = 4,  // join the clipboard chain
  kTrayIcon = 5,        // add or remove the tray icon
};
// A request's handler gets the four argument words; main thread.
using qvRequestHandler = int (*)(intptr_t a0, intptr_t a1, intptr_t a2, intptr_t a3);
// Installs the handler (null: none). True, or false for a request outside WindowRequest. Any
// thread.
bool SetRequestHandler(WindowRequest request, qvRequestHandler handler);
// Runs the request's handler on the main thread: in place when called there or while no main loop
// runs, else handed to the main loop and waited for (one request at a time). Returns the handler's
// result for kOpen and kTrayIcon, else 0; 0 also when no handler is installed or the request is
// outside WindowRequest. Any thread.
int RunWindowRequest(WindowRequest request, intptr_t a0 = 0, intptr_t a1 = 0, intptr_t a2 = 0,
                     intptr_t a3 = 0);

// Whether the user asked to quit since InitPlatform: one of the signals above, a quit condition of
// a display, or standard output's reader gone. The request stays until ShutdownPlatform (false
// while the platform is not started). Work that runs outside the script's lines (unpacking an
// applet) polls it. Any thread.
bool QuitRequested();
// The runtime's break word: called when the user asked to quit, by SyncWindowStates, and on the
// thread that noticed the request (the signal watch, a failed write to standard output). Any
// thread.
void SetBreakHandler(void (*handler)(void* data), void* data);

// Neighbours that later parts of the player plug in; see platform/window_system.h and
// platform/loop_hosts.h.
class WindowSystem;
class DisplayHost;
class AudioHost;
// The window system that MessageLoop waits in and pumps (null: the built-in headless one). Set it
// before MessageLoop and back to null before destroying it; shutdown forgets all three. Main
// thread.
void SetWindowSystem(WindowSystem* system);
void SetDisplayHost(DisplayHost* host);
void SetAudioHost(AudioHost* host);

}  // namespace qv
