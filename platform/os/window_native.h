// What the window services and a real window system beneath them share: the window record with
// its front buffer and the rectangles not yet presented, and the operations a window system does
// on the main thread. Without a window system installed the services run headless. Not for
// callers above platform/.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/os/front_buffer.h"
#include "platform/window_services.h"

namespace qv {

struct qvPointerImage {
  std::vector<uint32_t> pixels;  // width x height, 0xAARRGGBB
  int32_t width = 0, height = 0, hotX = 0, hotY = 0;
  void* native = nullptr;  // the window system's pointer, made on first use; main thread only
};

struct qvWindow {
  std::mutex lock;  // the front buffer, the dirty rectangles and the placement
  bool open = false;
  bool active = false;
  bool hidden = false;  // minimised by the program
  qvWindowPlacement placement{};
  std::string title;
  qvFrontPixels front;      // client width x height, 0x00RRGGBB
  bool frontBlank = false;  // every pixel of front 0: nothing written since it was made
  uint64_t openOrder = 0;
  int64_t lastPresent = 0;  // clock microseconds of the last paced frame
  qvDirtyList dirty;        // written since it was last presented
  void* native = nullptr;   // the window system's window; main thread only
  // The shape: client width x height bytes, 1 solid and 0 a hole; empty for a whole window.
  // Written on the main thread under the lock.
  std::vector<uint8_t> shape;
  int32_t shapeWidth = 0, shapeHeight = 0;
  // The drag areas and size zones, read by the window system's hit test under the lock.
  qvWindowZone drag[kMaxWindowZones]{}, size[kMaxWindowZones]{};
  int32_t dragCount = 0, sizeCount = 0;
  // The pointer over the client area.
  qvPointerImage* pointerImage = nullptr;
  bool pointerBusy = false;
  bool pointerHidden = false;
};

// The screen as the window system reports it.
struct qvNativeScreen {
  int32_t width = 0, height = 0, depth = 32, refresh = 60;
  int32_t workX = 0, workY = 0, workWidth = 0, workHeight = 0;
};

// A window system under the services. Every member runs on the main thread; the services forward
// the calls of other threads there.
class NativeWindows {
 public:
  virtual ~NativeWindows() = default;
  // Creates the window (or places an open one anew) with the record's shape, where it can shape
  // windows: 0 or ERR_WINDOW. The record's lock is not held.
  virtual int Open(qvWindow* window, const qvWindowPlacement& placement) = 0;
  virtual void Close(qvWindow* window) = 0;
  virtual void Activate(qvWindow* window, bool activate) = 0;
  virtual void SetTitle(qvWindow* window, const char* title) = 0;
  // Minimises (hide) or restores the window.
  virtual void Show(qvWindow* window, bool hide) = 0;
  // Moves the outer corner to (x, y) and sizes the client area.
  virtual void MoveResize(qvWindow* window, int32_t x, int32_t y, int32_t width,
                          int32_t height) = 0;
  // Takes the rectangles of the front buffer for the screen (inside the buffer, disjoint, count
  // at least 1); the record's lock is held. FinishPresent, called next without the lock, puts
  // what was taken on the screen: the writers of the front buffer go on meanwhile instead of
  // waiting for the window system to take the pixels.
  virtual void Present(qvWindow* window, const qvDirtyRect* rects, int32_t count) = 0;
  virtual void FinishPresent(qvWindow* /*window*/) {}
  // The frame of a window of these display flags; 0 where the window system reports none.
  virtual qvWindowFrame Borders(uint32_t flags) = 0;
  virtual qvNativeScreen Screen() = 0;
  virtual std::vector<std::pair<int32_t, int32_t>> Modes() = 0;
  // Switches the screen to the mode (0 or ERR_SCREEN), or back to the desktop's.
  virtual int SwitchMode(int32_t width, int32_t height) = 0;
  virtual void RestoreMode() = 0;
  // Grabs the screen rectangle into out (stride in words): true when the screen was read (the
  // windows on it included), false with black where it cannot be.
  virtual bool Grab(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t* out,
                    int32_t pixelsPerRow) = 0;
  // Frees the window system's side of a pointer picture.
  virtual void FreePointer(qvPointerImage* image) = 0;
  virtual void WarpPointer(qvWindow* window, int32_t x, int32_t y) = 0;
  // Reads what the window shows into pixels (0x00RRGGBB); false when it cannot.
  virtual bool ReadShown(qvWindow* window, std::vector<uint32_t>* pixels, int32_t* width,
                         int32_t* height) = 0;
};

// Installs the window system (null: headless again). Main thread, while no window is open.
void InstallNativeWindows(NativeWindows* native);
// The installed window system, or null.
NativeWindows* InstalledNativeWindows();
// Main thread: presents the dirty rectangles of every open window.
void PresentDirtyWindows();
// Main thread: marks the whole front buffer for presenting (the window was exposed).
void MarkWindowExposed(qvWindow* window);
// The event core's entry points (null members: not installed).
const qvWindowEvents* InstalledWindowEvents();
// Whether dropped files are wanted (SetDropTarget sets it).
void SetDropTargetFlag(bool on);
bool DropTargetOn();
// Reads the rectangle of an X display's root window into out (x11/x11_grab.cpp): false without
// an X display; what lies off the screen is left as it is.
bool GrabX11Root(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t* out,
                 int32_t pixelsPerRow);
// Closes the joysticks (sdl_joysticks.cpp); ShutdownPlatform calls it.
void ShutdownJoysticks();

}  // namespace qv
