// The windows of displays: opening, closing and activating them (on the main thread), their
// frames and placement, copying pictures into them, the screen and its modes. Pixels cross this
// interface as 32-bit 0x00RRGGBB words with a stride in words, so nothing here knows the image
// engine's records.
//
// Each window owns a front buffer of its client area under its own lock, written by any thread.
// Headless (the default), the screen is a configurable desktop picture and the front buffers are
// all there is; tests configure the screen, read the front buffers and the call log. With the
// SDL window system started, every window is a real one and the main thread presents what was
// written to its front buffer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qv {

struct qvWindow;  // one per display; owned by the caller of AttachPlatformDisplay

// The headless screen. A work area width or height below 1 means the whole screen.
struct qvScreenSetup {
  int32_t width = 1920;
  int32_t height = 1080;
  int32_t depth = 32;
  int32_t workX = 0, workY = 0, workWidth = 0, workHeight = 0;
  // Frame of a window that is not borderless: left, top, right and bottom edges.
  int32_t borderLeft = 0, borderTop = 0, borderRight = 0, borderBottom = 0;
  uint32_t desktopColour = 0;                      // the desktop picture, 0x00RRGGBB
  std::vector<std::pair<int32_t, int32_t>> modes;  // screen modes; empty: a built-in list
};
// Replaces the screen's set-up and forgets the call log and any mode change. Any thread, while
// no window is open.
void ConfigureHeadlessScreen(const qvScreenSetup& setup);

// The frame around a window's client area.
struct qvWindowFrame {
  int32_t left, top;    // left edge width and top edge height
  int32_t totalWidth;   // left + right edges
  int32_t totalHeight;  // top + bottom edges
};
// The frame for a display's flags word (bit 1: borderless, no frame).
qvWindowFrame ComputeWindowBorders(uint32_t displayFlags);

// The screen queries; the numbers are the codes the queries have always had.
enum class ScreenAttr : int32_t {
  kDepth = 5,          // bits per pixel
  kPointerWidth = 12,  // the standard pointer's size
  kPointerHeight = 13,
  kWidth = 14,  // pixels
  kHeight = 15,
  kFrameRate = 16,    // the frame limit (the refresh rate of a real screen without one)
  kReservedTop = 22,  // the height kept free at the top (0)
  kWorkArea = 23,     // the work area into rect (x, y, width, height); answers 0
};
// The answer to a screen query; codes beyond the list answer 0.
int32_t GetScreenAttr(ScreenAttr attr, int32_t* rect = nullptr);
// The area a window is placed in: the whole screen, or the work area.
void GetPlacementArea(bool wholeScreen, int32_t* x, int32_t* y, int32_t* width, int32_t* height);
// True when a window of that outer size at that position lies inside the placement area.
bool WindowFits(int32_t x, int32_t y, int32_t totalWidth, int32_t totalHeight, bool wholeScreen);

// Which window system runs the windows.
enum class WindowSystemKind { kHeadless, kSdl };
// Starts the SDL window system when SDL_VIDEODRIVER names a driver or a display is there
// (DISPLAY, WAYLAND_DISPLAY), and makes it the main loop's; headless when none is asked for or
// SDL cannot start. Main thread, after InitPlatform and before any window opens.
WindowSystemKind StartWindowSystem();
// Closes every window and stops SDL's video; headless again. Main thread, after the main loop.
void StopWindowSystem();
WindowSystemKind ActiveWindowSystemKind();

// Where the window system hands what happens to the windows: the event core installs its window
// procedure here. Called on the main thread inside the main loop's pump, the display-list lock
// held, with the window it happened to (null when no window is named). Codes are the key table's,
// buttons the event types (1 left, 2 right, 16 middle), events the queue's window event types.
struct qvWindowEvents {
  void (*key)(const qvWindow* window, int32_t code, bool pressed, uint32_t qualifiers);
  void (*ctrlC)(const qvWindow* window);  // Ctrl+C: no key event, only the quit condition
  void (*button)(const qvWindow* window, int32_t type, bool pressed, int32_t x, int32_t y);
  void (*wheel)(const qvWindow* window, bool up);
  void (*pointer)(const qvWindow* window, int32_t x, int32_t y);
  void (*event)(const qvWindow* window, int32_t type, int32_t x, int32_t y);
  void (*drop)(const qvWindow* window, const std::vector<std::string>& names, int32_t x, int32_t y);
};
// Installs the entry points (null: none; events are then dropped). Any thread.
void SetWindowEvents(const qvWindowEvents* events);
// Whether Alt+Return over the window may switch between window and full screen: the window system
// asks on the main thread inside its pump (display-list lock held). Without a gate every window
// may. Installed from any thread (null: none).
void SetModeSwitchGate(bool (*gate)(const qvWindow* window));
bool ModeSwitchAllowed(const qvWindow* window);

// A window record for a display; null when memory runs out. Detaching closes an open window.
qvWindow* AttachPlatformDisplay();
void DetachPlatformDisplay(qvWindow* window);

struct qvWindowPlacement {
  int32_t x, y;           // outer top-left corner on the screen
  int32_t width, height;  // client area
  uint32_t flags;         // the display's flags word
  const char* title;
  bool activate;
  bool shaped;  // the window has a shape (set by OpenDisplayWindow from the shape it is given)
};

// A plane that shapes a window: rows of bytesPerRow bytes, width x height pixels.
struct qvShapePlane {
  const uint8_t* data = nullptr;  // null: no plane
  int32_t width = 0, height = 0, bytesPerRow = 0;
};
// What a window is shaped from: a 1-bit mask (most significant bit first, a set bit is solid)
// and an 8-bit alpha plane (0 is a hole, any other value solid: a window's shape is binary, and a
// pixel that shows at all stays part of the window). With both, a pixel must be solid in each.
// Planes of another size than the client area are read at the nearest pixel.
struct qvWindowShapeSource {
  qvShapePlane mask, alpha;
};
// Opens the window (a request to the main thread, code 1) with a front buffer of the client size
// filled with 0. 0, or ERR_MEM / ERR_OPENDISPLAY. An open window is resized and moved. With a
// shape source that holds a plane the window is shaped; where the window system cannot shape
// windows it is a plain one (no error). Reopening without a shape makes the window whole again.
// A window that opens sets the frame limit (PlatformAttr::kFrameLimit) to the screen's refresh
// rate, 60 where none is known: a limit set before gives way.
int OpenDisplayWindow(qvWindow* window, const qvWindowPlacement& placement,
                      const qvWindowShapeSource* shape = nullptr);
// The shape an open window was given (shown where the window system can shape windows): one
// byte per client pixel, 1 solid and 0 a hole. False for a closed or unshaped window, also once
// the user resized it, which drops the shape.
bool GetWindowShape(const qvWindow* window, std::vector<uint8_t>* solid, int32_t* width,
                    int32_t* height);

// Drag areas and size zones of a borderless window, in client coordinates.
struct qvWindowZone {
  int32_t x, y, width, height;
};
constexpr int32_t kMaxWindowZones = 64;
// Gives the window the drag areas and size zones of its display (at most kMaxWindowZones of
// each; more are ignored). Kept while the window closes and opens again. Any thread.
void CopyDragZones(qvWindow* window, const qvWindowZone* drag, int32_t dragCount,
                   const qvWindowZone* size, int32_t sizeCount);
// The border zone a size zone lies on, by the 10-pixel bands of a width x height window that it
// touches, in this order: the corner squares top-left 0, bottom-left 1, top-right 2,
// bottom-right 3, then the bands left 4, right 5, top 6, bottom 7; 8 when it touches none.
int32_t HitTestSizeEdge(const qvWindowZone& zone, int32_t width, int32_t height);
// What a press at (x, y) of the client area does: the size values follow the border zones 0-7.
enum class WindowHit {
  kNormal,
  kDrag,
  kSizeTopLeft,
  kSizeBottomLeft,
  kSizeTopRight,
  kSizeBottomRight,
  kSizeLeft,
  kSizeRight,
  kSizeTop,
  kSizeBottom,
};
// Only a borderless window has drag areas (unless "fixed", flag 4) and size zones (when
// "sizeable", flag 2, and on a border zone); drag areas come first. Any thread: the zones are
// read under the window's lock.
WindowHit HitTestWindow(qvWindow* window, int32_t x, int32_t y);
// Closes the window (request 2); nothing when it is closed.
void CloseDisplayWindow(qvWindow* window);
// Brings the window forward (request 3); with activate false it is only raised.
void ActivateDisplayWindow(qvWindow* window, bool activate);
bool IsWindowOpen(const qvWindow* window);
void SetWindowTitle(qvWindow* window, const char* title);
// Minimises (hide) or restores an open window.
void ShowDisplayWindow(qvWindow* window, bool hide);
// Moves the outer corner of an open window to (x, y) and gives it a client area of width x
// height; the front buffer takes the new size (what fits is kept). The window system reports
// neither as a move or size of the user's. 0, or ERR_MEM.
int MoveResizeWindow(qvWindow* window, int32_t x, int32_t y, int32_t width, int32_t height);

// Copies a rectangle of `pixels` into the window's client area at (dx, dy), or, with a stretch
// size, stretches it to stretchWidth x stretchHeight: result pixel (x, y) takes source
// (sx + trunc(x * width / stretchWidth), sy + trunc(y * height / stretchHeight)). Clipped to the
// client area; nothing on a closed window.
void BlitToWindow(const uint32_t* pixels, int32_t pixelsPerRow, int32_t sx, int32_t sy,
                  qvWindow* window, int32_t dx, int32_t dy, int32_t width, int32_t height,
                  int32_t stretchWidth, int32_t stretchHeight);
void FillWindowRect(qvWindow* window, int32_t x, int32_t y, int32_t width, int32_t height,
                    uint32_t colour);
void PlotWindowPixel(qvWindow* window, int32_t x, int32_t y, uint32_t colour);
// A one-pixel line, both end pixels included.
void DrawWindowLine(qvWindow* window, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                    uint32_t colour);
// Presents the window and waits until the next frame under the frame limit (none when the limit
// is 0). Script thread.
void WaitVerticalFrame(qvWindow* window);

// Grabs width x height of the screen at (x, y) into out (stride in words): the desktop picture
// with every open window's front buffer on it (in opening order), outside the screen 0.
void GrabScreen(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t* out,
                int32_t pixelsPerRow);

// Screen modes. FindBestDisplayMode switches to the smallest listed mode that holds the size
// (SelectDisplayMode): 0, ERR_NODISPMODES without modes, ERR_SCREEN when none holds it or the
// switch fails. RestoreDisplayMode goes back to the desktop's: 0.
int FindBestDisplayMode(int32_t width, int32_t height, int32_t depth);
// The index of the mode FindBestDisplayMode takes, -1 for none: among the modes at least width x
// height, the first one smaller in both sides than every one before it. Modes are 32-bit: a
// depth above 32 fits none.
int32_t SelectDisplayMode(const std::pair<int32_t, int32_t>* modes, int32_t count, int32_t width,
                          int32_t height, int32_t depth);
int RestoreDisplayMode();
// The number of modes; with `out` the {width, height} pairs are written (at most max).
int32_t ListDisplayModes(std::pair<int32_t, int32_t>* out, int32_t max);

// ---- pointers ----

// A pointer picture with its hot spot.
struct qvPointerImage;
// A pointer from width x height pixels (0xAARRGGBB, top-down; the alpha channel is the
// transparency) with the hot spot at (hotX, hotY): 0, ERR_MEM, or ERR_CREATEICON for a size below
// 1 or a hot spot outside the picture. Any thread.
int CreatePointerImage(const uint32_t* pixels, int32_t width, int32_t height, int32_t hotX,
                       int32_t hotY, qvPointerImage** out);
// Frees a pointer that no window shows any more (null: nothing). Any thread.
void FreePointerImage(qvPointerImage* image);
// The pointers a window can show.
enum class PointerShape { kArrow, kBusy, kImage, kHidden };
// Gives the window the picture, or without one the busy pointer (busy) or the arrow; a hidden
// pointer shows again. The main thread applies the pointer of the window under the pointer after
// its next pump. Any thread.
void SetPointerImage(qvWindow* window, qvPointerImage* image, bool busy);
void ShowDisplayPointer(qvWindow* window);
void HideDisplayPointer(qvWindow* window);
// What the window shows over its client area (the picture in *image when kImage).
PointerShape GetWindowPointer(qvWindow* window, qvPointerImage** image);
// Moves the pointer to (x, y) of the window's client area (nothing headless). Any thread.
void MovePointerTo(qvWindow* window, int32_t x, int32_t y);

// ---- for tests ----

// The client size and a copy of the front buffer; false for a closed window.
bool ReadWindowPixels(const qvWindow* window, std::vector<uint32_t>* pixels, int32_t* width,
                      int32_t* height);
// The outer position and the activation of an open window.
bool GetWindowPlacement(const qvWindow* window, qvWindowPlacement* out);
// What the window system shows of the window (headless: the front buffer); false for a closed
// window. Any thread but one that holds the display-list
// lock while the main loop runs.
bool ReadShownPixels(qvWindow* window, std::vector<uint32_t>* pixels, int32_t* width,
                     int32_t* height);

enum class WindowCall { kOpen, kClose, kActivate, kBlit, kStretch, kFill, kPlot, kLine, kPresent };
struct qvWindowCallRecord {
  WindowCall call;
  const qvWindow* window;
  int32_t sx, sy, x, y, width, height;  // stretch: width and height are the stretch size
  uint32_t colour;
};
// Starts or stops recording the calls (off at start, so a long run keeps no log).
void RecordWindowCalls(bool on);
// The calls recorded since the last take (or the set-up), oldest first; the log is emptied.
std::vector<qvWindowCallRecord> TakeWindowCalls();

}  // namespace qv
