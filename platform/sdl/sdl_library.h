// SDL2, loaded when the player first needs it (a window system on a display, the sound output, a
// joystick) instead of at start-up: linked directly it pulls in some fifty shared libraries (X11,
// Wayland, PulseAudio and their own dependencies) whose loading and binding cost every run
// several milliseconds before its first line, also the headless runs that never touch SDL.
//
// Include this header, never <SDL.h>, in the platform's SDL code, after any other SDL header: it
// names every SDL function that code calls and redirects each name to the loaded table, so the
// code reads as plain SDL. A function missing from the list fails the build at the link.
#pragma once

#include <SDL.h>
#include <SDL_shape.h>

struct SDL_SysWMinfo;

namespace qv {

// Every SDL function the platform calls: X(function). SDL_GetWindowWMInfo, declared in the header
// of the system's window manager (which brings Xlib's macros), is a member of its own.
#define QV_SDL_FUNCTIONS(X)             \
  X(SDL_AddEventWatch)                  \
  X(SDL_CaptureMouse)                   \
  X(SDL_CloseAudioDevice)               \
  X(SDL_ConvertPixels)                  \
  X(SDL_CreateColorCursor)              \
  X(SDL_CreateRGBSurfaceWithFormat)     \
  X(SDL_CreateRGBSurfaceWithFormatFrom) \
  X(SDL_CreateShapedWindow)             \
  X(SDL_CreateSystemCursor)             \
  X(SDL_CreateWindow)                   \
  X(SDL_DelEventWatch)                  \
  X(SDL_DestroyWindow)                  \
  X(SDL_FillRect)                       \
  X(SDL_FreeCursor)                     \
  X(SDL_FreeSurface)                    \
  X(SDL_GetClipboardText)               \
  X(SDL_GetClosestDisplayMode)          \
  X(SDL_GetCurrentVideoDriver)          \
  X(SDL_GetError)                       \
  X(SDL_GetCursor)                      \
  X(SDL_GetDefaultCursor)               \
  X(SDL_GetDesktopDisplayMode)          \
  X(SDL_GetDisplayMode)                 \
  X(SDL_GetDisplayUsableBounds)         \
  X(SDL_GetGlobalMouseState)            \
  X(SDL_GetKeyboardFocus)               \
  X(SDL_GetModState)                    \
  X(SDL_GetMouseFocus)                  \
  X(SDL_GetMouseState)                  \
  X(SDL_GetNumDisplayModes)             \
  X(SDL_GetWindowBordersSize)           \
  X(SDL_GetWindowData)                  \
  X(SDL_GetWindowFromID)                \
  X(SDL_GetWindowPosition)              \
  X(SDL_GetWindowSize)                  \
  X(SDL_GetWindowSurface)               \
  X(SDL_HasClipboardText)               \
  X(SDL_InitSubSystem)                  \
  X(SDL_JoystickClose)                  \
  X(SDL_JoystickGetAttached)            \
  X(SDL_JoystickGetAxis)                \
  X(SDL_JoystickGetButton)              \
  X(SDL_JoystickNumAxes)                \
  X(SDL_JoystickNumButtons)             \
  X(SDL_JoystickOpen)                   \
  X(SDL_JoystickUpdate)                 \
  X(SDL_LockSurface)                    \
  X(SDL_MinimizeWindow)                 \
  X(SDL_NumJoysticks)                   \
  X(SDL_OpenAudioDevice)                \
  X(SDL_PauseAudioDevice)               \
  X(SDL_PeepEvents)                     \
  X(SDL_PollEvent)                      \
  X(SDL_PushEvent)                      \
  X(SDL_Quit)                           \
  X(SDL_SetError)                       \
  X(SDL_QuitSubSystem)                  \
  X(SDL_RaiseWindow)                    \
  X(SDL_RegisterEvents)                 \
  X(SDL_RestoreWindow)                  \
  X(SDL_SetClipboardText)               \
  X(SDL_SetCursor)                      \
  X(SDL_SetHint)                        \
  X(SDL_SetWindowBordered)              \
  X(SDL_SetWindowData)                  \
  X(SDL_SetWindowDisplayMode)           \
  X(SDL_SetWindowFullscreen)            \
  X(SDL_SetWindowHitTest)               \
  X(SDL_SetWindowPosition)              \
  X(SDL_SetWindowResizable)             \
  X(SDL_SetWindowShape)                 \
  X(SDL_SetWindowSize)                  \
  X(SDL_SetWindowTitle)                 \
  X(SDL_ShowCursor)                     \
  X(SDL_ShowMessageBox)                 \
  X(SDL_ShowWindow)                     \
  X(SDL_TLSCleanup)                     \
  X(SDL_UnlockSurface)                  \
  X(SDL_UpdateWindowSurface)            \
  X(SDL_UpdateWindowSurfaceRects)       \
  X(SDL_WaitEventTimeout)               \
  X(SDL_WarpMouseInWindow)              \
  X(SDL_WasInit)                        \
  X(SDL_free)                           \
  X(SDL_strcmp)

struct qvSdl {
// NOLINTNEXTLINE(bugprone-macro-parentheses): the argument names a member
#define QV_SDL_MEMBER(name) decltype(&::name) name;
  QV_SDL_FUNCTIONS(QV_SDL_MEMBER)
#undef QV_SDL_MEMBER
  SDL_bool (*SDL_GetWindowWMInfo)(SDL_Window*, SDL_SysWMinfo*);
};

// Loads the library on the first call (any thread; later calls answer at once). False when it
// or one of its functions is missing: then every function of the table does nothing and answers
// zero, and an SDL subsystem must not be started.
bool LoadSdl();

// The table: SDL's own functions once LoadSdl succeeded, before that (or after it failed) the
// ones that do nothing. Any thread.
const qvSdl* SdlFunctions();

}  // namespace qv

#ifndef QV_SDL_NO_REDIRECT
#define SDL_AddEventWatch (::qv::SdlFunctions()->SDL_AddEventWatch)
#define SDL_CaptureMouse (::qv::SdlFunctions()->SDL_CaptureMouse)
#define SDL_CloseAudioDevice (::qv::SdlFunctions()->SDL_CloseAudioDevice)
#define SDL_ConvertPixels (::qv::SdlFunctions()->SDL_ConvertPixels)
#define SDL_CreateColorCursor (::qv::SdlFunctions()->SDL_CreateColorCursor)
#define SDL_CreateRGBSurfaceWithFormat (::qv::SdlFunctions()->SDL_CreateRGBSurfaceWithFormat)
#define SDL_CreateRGBSurfaceWithFormatFrom \
  (::qv::SdlFunctions()->SDL_CreateRGBSurfaceWithFormatFrom)
#define SDL_CreateShapedWindow (::qv::SdlFunctions()->SDL_CreateShapedWindow)
#define SDL_CreateSystemCursor (::qv::SdlFunctions()->SDL_CreateSystemCursor)
#define SDL_CreateWindow (::qv::SdlFunctions()->SDL_CreateWindow)
#define SDL_DelEventWatch (::qv::SdlFunctions()->SDL_DelEventWatch)
#define SDL_DestroyWindow (::qv::SdlFunctions()->SDL_DestroyWindow)
#define SDL_FillRect (::qv::SdlFunctions()->SDL_FillRect)
#define SDL_FreeCursor (::qv::SdlFunctions()->SDL_FreeCursor)
#define SDL_FreeSurface (::qv::SdlFunctions()->SDL_FreeSurface)
#define SDL_GetClipboardText (::qv::SdlFunctions()->SDL_GetClipboardText)
#define SDL_GetClosestDisplayMode (::qv::SdlFunctions()->SDL_GetClosestDisplayMode)
#define SDL_GetCurrentVideoDriver (::qv::SdlFunctions()->SDL_GetCurrentVideoDriver)
#define SDL_GetError (::qv::SdlFunctions()->SDL_GetError)
#define SDL_GetCursor (::qv::SdlFunctions()->SDL_GetCursor)
#define SDL_GetDefaultCursor (::qv::SdlFunctions()->SDL_GetDefaultCursor)
#define SDL_GetDesktopDisplayMode (::qv::SdlFunctions()->SDL_GetDesktopDisplayMode)
#define SDL_GetDisplayMode (::qv::SdlFunctions()->SDL_GetDisplayMode)
#define SDL_GetDisplayUsableBounds (::qv::SdlFunctions()->SDL_GetDisplayUsableBounds)
#define SDL_GetGlobalMouseState (::qv::SdlFunctions()->SDL_GetGlobalMouseState)
#define SDL_GetKeyboardFocus (::qv::SdlFunctions()->SDL_GetKeyboardFocus)
#define SDL_GetModState (::qv::SdlFunctions()->SDL_GetModState)
#define SDL_GetMouseFocus (::qv::SdlFunctions()->SDL_GetMouseFocus)
#define SDL_GetMouseState (::qv::SdlFunctions()->SDL_GetMouseState)
#define SDL_GetNumDisplayModes (::qv::SdlFunctions()->SDL_GetNumDisplayModes)
#define SDL_GetWindowBordersSize (::qv::SdlFunctions()->SDL_GetWindowBordersSize)
#define SDL_GetWindowData (::qv::SdlFunctions()->SDL_GetWindowData)
#define SDL_GetWindowFromID (::qv::SdlFunctions()->SDL_GetWindowFromID)
#define SDL_GetWindowPosition (::qv::SdlFunctions()->SDL_GetWindowPosition)
#define SDL_GetWindowSize (::qv::SdlFunctions()->SDL_GetWindowSize)
#define SDL_GetWindowSurface (::qv::SdlFunctions()->SDL_GetWindowSurface)
#define SDL_GetWindowWMInfo (::qv::SdlFunctions()->SDL_GetWindowWMInfo)
#define SDL_HasClipboardText (::qv::SdlFunctions()->SDL_HasClipboardText)
#define SDL_InitSubSystem (::qv::SdlFunctions()->SDL_InitSubSystem)
#define SDL_JoystickClose (::qv::SdlFunctions()->SDL_JoystickClose)
#define SDL_JoystickGetAttached (::qv::SdlFunctions()->SDL_JoystickGetAttached)
#define SDL_JoystickGetAxis (::qv::SdlFunctions()->SDL_JoystickGetAxis)
#define SDL_JoystickGetButton (::qv::SdlFunctions()->SDL_JoystickGetButton)
#define SDL_JoystickNumAxes (::qv::SdlFunctions()->SDL_JoystickNumAxes)
#define SDL_JoystickNumButtons (::qv::SdlFunctions()->SDL_JoystickNumButtons)
#define SDL_JoystickOpen (::qv::SdlFunctions()->SDL_JoystickOpen)
#define SDL_JoystickUpdate (::qv::SdlFunctions()->SDL_JoystickUpdate)
#define SDL_LockSurface (::qv::SdlFunctions()->SDL_LockSurface)
#define SDL_MinimizeWindow (::qv::SdlFunctions()->SDL_MinimizeWindow)
#define SDL_NumJoysticks (::qv::SdlFunctions()->SDL_NumJoysticks)
#define SDL_OpenAudioDevice (::qv::SdlFunctions()->SDL_OpenAudioDevice)
#define SDL_PauseAudioDevice (::qv::SdlFunctions()->SDL_PauseAudioDevice)
#define SDL_PeepEvents (::qv::SdlFunctions()->SDL_PeepEvents)
#define SDL_PollEvent (::qv::SdlFunctions()->SDL_PollEvent)
#define SDL_PushEvent (::qv::SdlFunctions()->SDL_PushEvent)
#define SDL_Quit (::qv::SdlFunctions()->SDL_Quit)
#define SDL_SetError (::qv::SdlFunctions()->SDL_SetError)
#define SDL_QuitSubSystem (::qv::SdlFunctions()->SDL_QuitSubSystem)
#define SDL_RaiseWindow (::qv::SdlFunctions()->SDL_RaiseWindow)
#define SDL_RegisterEvents (::qv::SdlFunctions()->SDL_RegisterEvents)
#define SDL_RestoreWindow (::qv::SdlFunctions()->SDL_RestoreWindow)
#define SDL_SetClipboardText (::qv::SdlFunctions()->SDL_SetClipboardText)
#define SDL_SetCursor (::qv::SdlFunctions()->SDL_SetCursor)
#define SDL_SetHint (::qv::SdlFunctions()->SDL_SetHint)
#define SDL_SetWindowBordered (::qv::SdlFunctions()->SDL_SetWindowBordered)
#define SDL_SetWindowData (::qv::SdlFunctions()->SDL_SetWindowData)
#define SDL_SetWindowDisplayMode (::qv::SdlFunctions()->SDL_SetWindowDisplayMode)
#define SDL_SetWindowFullscreen (::qv::SdlFunctions()->SDL_SetWindowFullscreen)
#define SDL_SetWindowHitTest (::qv::SdlFunctions()->SDL_SetWindowHitTest)
#define SDL_SetWindowPosition (::qv::SdlFunctions()->SDL_SetWindowPosition)
#define SDL_SetWindowResizable (::qv::SdlFunctions()->SDL_SetWindowResizable)
#define SDL_SetWindowShape (::qv::SdlFunctions()->SDL_SetWindowShape)
#define SDL_SetWindowSize (::qv::SdlFunctions()->SDL_SetWindowSize)
#define SDL_SetWindowTitle (::qv::SdlFunctions()->SDL_SetWindowTitle)
#define SDL_ShowCursor (::qv::SdlFunctions()->SDL_ShowCursor)
#define SDL_ShowMessageBox (::qv::SdlFunctions()->SDL_ShowMessageBox)
#define SDL_ShowWindow (::qv::SdlFunctions()->SDL_ShowWindow)
#define SDL_TLSCleanup (::qv::SdlFunctions()->SDL_TLSCleanup)
#define SDL_UnlockSurface (::qv::SdlFunctions()->SDL_UnlockSurface)
#define SDL_UpdateWindowSurface (::qv::SdlFunctions()->SDL_UpdateWindowSurface)
#define SDL_UpdateWindowSurfaceRects (::qv::SdlFunctions()->SDL_UpdateWindowSurfaceRects)
#define SDL_WaitEventTimeout (::qv::SdlFunctions()->SDL_WaitEventTimeout)
#define SDL_WarpMouseInWindow (::qv::SdlFunctions()->SDL_WarpMouseInWindow)
#define SDL_WasInit (::qv::SdlFunctions()->SDL_WasInit)
// Where SDL's header makes these the C library's own (for a static analyser), they stay so.
#ifndef SDL_free
#define SDL_free (::qv::SdlFunctions()->SDL_free)
#endif
#ifndef SDL_strcmp
#define SDL_strcmp (::qv::SdlFunctions()->SDL_strcmp)
#endif
#endif
