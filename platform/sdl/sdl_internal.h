// What the SDL windows and their window procedure share; main thread only.
#pragma once

#include <cstdint>

#include "platform/os/window_native.h"
#include "platform/sdl/sdl_library.h"

namespace qv {

// The SDL side of an open window, hung on qvWindow::native.
struct qvSdlWindow {
  SDL_Window* sdl = nullptr;
  uint32_t flags = 0;     // the display's flags word
  qvWindowFrame frame{};  // as the window manager last published it
  // Where and how large the program last asked the window to be (the outer corner, the client
  // size): the window system's reports of these are the program's own move and size, or the
  // window manager's frame put around the window, not the user's.
  int32_t askedX = 0, askedY = 0, askedWidth = 0, askedHeight = 0;
  bool fullScreen = false;
  bool minimised = false;
  bool shapeable = false;  // made by SDL_CreateShapedWindow: its shape can be set
  // The rectangles copied into the window's surface and not yet sent to the window system.
  SDL_Rect pending[qvDirtyList::kMaxRects];
  int pendingCount = 0;
};

// The window that an SDL window id belongs to, or null.
qvWindow* WindowFromSdlId(uint32_t id);
qvSdlWindow* SdlRecord(qvWindow* window);
// Reads the window's frame again (sdl_windows.cpp): true when it changed.
bool MeasureSdlFrame(qvWindow* window);
// Reads every open window's frame again; a window whose frame changed keeps its client area where
// it is and reports its outer corner from it (the end of every pump).
void RefreshSdlFrames();
// The first open window (events that name no window go there), or null.
qvWindow* AnySdlWindow();

// The window procedure (sdl_events.cpp): every SDL event of a pump, then the end of the pump.
void SdlWindowEvent(const SDL_Event& event);
void SdlEndOfPump();
// Forgets the keys held (a window lost the focus or the system stops).
void ResetSdlKeys();
// Shows the pointer of the window under the pointer (sdl_windows.cpp): its own, or over a drag
// area or a size zone the move or sizing pointer.
void ApplySdlPointer();
// The pointer shown over a drag area or size zone of the hit; null for kNormal or where the
// driver has no pointers.
SDL_Cursor* SdlZoneCursor(WindowHit hit);
// True while the program is full screen (Alt+Return then switches back).
bool SdlFullScreen();
// Removes the shape of an X11 window, so that all of it shows and takes input
// (x11/x11_shape.cpp); nothing on other drivers.
void ClearX11Shape(SDL_Window* sdl);
// The user resized the window: a shape made for the old size is dropped (sdl_windows.cpp).
void DropSdlShape(qvWindow* window);

}  // namespace qv
