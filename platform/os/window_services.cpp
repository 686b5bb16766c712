// The window services: per open window a front buffer of its client area, guarded by the
// window's lock, so that any thread may draw and a test may read while the script thread draws.
// Open, close and activate run on the main thread as window requests 1-3. Headless, a desktop
// picture of the configured size stands for the screen; with a window system installed
// (window_native.h) the operations go to it on the main thread and every write marks a dirty
// rectangle that the main thread presents after its next pump.
#include "platform/window_services.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>

#include "base/errors.h"
#include "platform/loop.h"
#include "platform/os/front_buffer.h"
#include "platform/os/internal.h"
#include "platform/os/window_native.h"
#include "platform/time.h"

namespace qv {

bool MainLoopRunning();  // main_loop.cpp

namespace {

// The refresh rate of a screen that reports none.
constexpr int kDefaultRefreshRate = 60;

std::mutex gScreenMutex;  // the set-up, the window list and the call log
qvScreenSetup gSetup;
std::pair<int32_t, int32_t> gDesktopSize{1920, 1080};
bool gModeChanged = false;
std::vector<qvWindow*> gWindows;
std::vector<qvWindowCallRecord> gCalls;
uint64_t gOpenCounter = 0;
bool gRecording = false;
std::atomic<NativeWindows*> gNative{nullptr};
std::atomic<const qvWindowEvents*> gEvents{nullptr};
std::atomic<bool> gDropTarget{false};
std::atomic<bool (*)(const qvWindow*)> gModeSwitchGate{nullptr};

// Adds the rectangle to the window's dirty list; the caller holds its lock. True when the window
// was clean (the main loop has to be woken to present it).
// Every write to a front buffer marks what it wrote.
bool MarkDirty(qvWindow* window, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  window->frontBlank = false;
  return AddDirtyRect(&window->dirty, {x1, y1, x2, y2});
}

// After a write: a window system has to present it. The main loop's pump does, so it passes
// once; before it runs (start-up) or after it (shutdown) the main thread presents in place.
void AfterWrite(bool wasClean) {
  if (!wasClean || gNative.load() == nullptr) return;
  if (MainLoopRunning()) {
    WakeMainLoop();
  } else if (IsMainThread()) {
    PresentDirtyWindows();
  }
}

const std::pair<int32_t, int32_t> kBuiltInModes[] = {{640, 480},  {800, 600},   {1024, 768},
                                                     {1280, 720}, {1280, 1024}, {1920, 1080}};

void Log(const qvWindowCallRecord& record) {
  std::lock_guard<std::mutex> guard(gScreenMutex);
  if (gRecording) gCalls.push_back(record);
}

std::vector<std::pair<int32_t, int32_t>> Modes() {
  if (!gSetup.modes.empty()) return gSetup.modes;
  return {std::begin(kBuiltInModes), std::end(kBuiltInModes)};
}

// Whether a plane's pixel at (x, y) of a width x height window is solid; a plane of another size
// is read at the nearest pixel.
bool PlaneSolid(const qvShapePlane& plane, bool bits, int64_t x, int64_t y, int32_t width,
                int32_t height) {
  int64_t px = plane.width == width ? x : x * plane.width / width;
  int64_t py = plane.height == height ? y : y * plane.height / height;
  const uint8_t* row = plane.data + py * plane.bytesPerRow;
  if (bits) return (row[px >> 3] & (0x80 >> (px & 7))) != 0;
  return row[px] != 0;
}

bool UsablePlane(const qvShapePlane& plane) {
  return plane.data != nullptr && plane.width > 0 && plane.height > 0 && plane.bytesPerRow > 0;
}

// The binary shape of a width x height window: empty when the source holds no plane.
int BuildWindowShape(const qvWindowShapeSource* source, int32_t width, int32_t height,
                     std::vector<uint8_t>* solid) {
  solid->clear();
  if (source == nullptr || width < 1 || height < 1) return 0;
  bool mask = UsablePlane(source->mask), alpha = UsablePlane(source->alpha);
  if (!mask && !alpha) return 0;
  try {
    solid->assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* out = solid->data() + int64_t{y} * width;
    for (int32_t x = 0; x < width; ++x) {
      bool on = !mask || PlaneSolid(source->mask, true, x, y, width, height);
      out[x] = on && (!alpha || PlaneSolid(source->alpha, false, x, y, width, height)) ? 1 : 0;
    }
  }
  return 0;
}

// Request handlers: main thread.
int OpenRequest(intptr_t a0, intptr_t a1, intptr_t a2, intptr_t) {
  auto* window = reinterpret_cast<qvWindow*>(a0);
  const auto* placement = reinterpret_cast<const qvWindowPlacement*>(a1);
  auto* shape = reinterpret_cast<std::vector<uint8_t>*>(a2);
  size_t size = static_cast<size_t>(std::max(placement->width, 0)) *
                static_cast<size_t>(std::max(placement->height, 0));
  {
    std::lock_guard<std::mutex> guard(window->lock);
    if (!window->front.Reset(size)) return ERR_MEM;
    window->frontBlank = true;
    window->placement = *placement;
    window->placement.title = nullptr;
    window->dirty.count = 0;
    window->shape.swap(*shape);
    window->shapeWidth = window->shape.empty() ? 0 : placement->width;
    window->shapeHeight = window->shape.empty() ? 0 : placement->height;
  }
  // The window system's calls may wait for the window system; the record's lock is not held.
  if (NativeWindows* native = gNative.load()) {
    int code = native->Open(window, *placement);
    if (code != 0) {
      std::lock_guard<std::mutex> guard(window->lock);
      window->front.Release();
      window->shape.clear();
      window->open = false;
      return code;
    }
  }
  std::lock_guard<std::mutex> guard(window->lock);
  bool wasOpen = window->open;
  window->placement = *placement;
  window->placement.title = nullptr;
  window->title = placement->title != nullptr ? placement->title : "";
  window->open = true;
  window->active = placement->activate;
  if (!wasOpen) {
    std::lock_guard<std::mutex> screen(gScreenMutex);
    window->openOrder = ++gOpenCounter;
  }
  return 0;
}

int CloseRequest(intptr_t a0, intptr_t, intptr_t, intptr_t) {
  auto* window = reinterpret_cast<qvWindow*>(a0);
  if (NativeWindows* native = gNative.load()) native->Close(window);
  std::lock_guard<std::mutex> guard(window->lock);
  window->dirty.count = 0;
  window->open = false;
  window->active = false;
  window->front.Release();
  window->shape.clear();
  window->shape.shrink_to_fit();
  return 0;
}

int ActivateRequest(intptr_t a0, intptr_t a1, intptr_t, intptr_t) {
  auto* window = reinterpret_cast<qvWindow*>(a0);
  if (NativeWindows* native = gNative.load()) native->Activate(window, a1 != 0);
  std::lock_guard<std::mutex> guard(window->lock);
  if (window->open && a1 != 0) window->active = true;
  return 0;
}

void InstallHandlers() {
  SetRequestHandler(WindowRequest::kOpen, OpenRequest);
  SetRequestHandler(WindowRequest::kClose, CloseRequest);
  SetRequestHandler(WindowRequest::kActivate, ActivateRequest);
}

// Clips a rectangle at (x, y) to a w x h area; false when nothing is left.
bool Clip(int32_t* x, int32_t* y, int32_t* width, int32_t* height, int32_t* sx, int32_t* sy,
          int32_t areaWidth, int32_t areaHeight) {
  if (*x < 0) {
    *width += *x;
    *sx -= *x;
    *x = 0;
  }
  if (*y < 0) {
    *height += *y;
    *sy -= *y;
    *y = 0;
  }
  *width = static_cast<int32_t>(std::min<int64_t>(*width, int64_t{areaWidth} - *x));
  *height = static_cast<int32_t>(std::min<int64_t>(*height, int64_t{areaHeight} - *y));
  return *width > 0 && *height > 0;
}

}  // namespace

void ConfigureHeadlessScreen(const qvScreenSetup& setup) {
  std::lock_guard<std::mutex> guard(gScreenMutex);
  gSetup = setup;
  gDesktopSize = {setup.width, setup.height};
  gModeChanged = false;
  gCalls.clear();
}

qvWindowFrame ComputeWindowBorders(uint32_t displayFlags) {
  if (NativeWindows* native = gNative.load()) {
    if (displayFlags & 1) return {0, 0, 0, 0};
    return native->Borders(displayFlags);
  }
  std::lock_guard<std::mutex> guard(gScreenMutex);
  if (displayFlags & 1) return {0, 0, 0, 0};
  return {gSetup.borderLeft, gSetup.borderTop, gSetup.borderLeft + gSetup.borderRight,
          gSetup.borderTop + gSetup.borderBottom};
}

int32_t GetScreenAttr(ScreenAttr attr, int32_t* rect) {
  // Neither SDL nor a headless screen tells the size of its pointers: X11's cursor themes draw
  // the standard ones 32 pixels square at the usual resolution.
  if (attr == ScreenAttr::kPointerWidth || attr == ScreenAttr::kPointerHeight) return 32;
  if (NativeWindows* native = gNative.load()) {
    qvNativeScreen screen = native->Screen();
    switch (attr) {
      case ScreenAttr::kDepth:
        return screen.depth;
      case ScreenAttr::kWidth:
        return screen.width;
      case ScreenAttr::kHeight:
        return screen.height;
      case ScreenAttr::kFrameRate:
        return GetFrameLimit() > 0 ? GetFrameLimit() : screen.refresh;
      case ScreenAttr::kWorkArea:
        if (rect != nullptr) GetPlacementArea(false, &rect[0], &rect[1], &rect[2], &rect[3]);
        return 0;
      default:
        return 0;
    }
  }
  switch (attr) {
    case ScreenAttr::kDepth: {
      std::lock_guard<std::mutex> guard(gScreenMutex);
      return gSetup.depth;
    }
    case ScreenAttr::kWidth: {
      std::lock_guard<std::mutex> guard(gScreenMutex);
      return gSetup.width;
    }
    case ScreenAttr::kHeight: {
      std::lock_guard<std::mutex> guard(gScreenMutex);
      return gSetup.height;
    }
    case ScreenAttr::kFrameRate:
      return GetFrameLimit();
    case ScreenAttr::kWorkArea:
      if (rect != nullptr) GetPlacementArea(false, &rect[0], &rect[1], &rect[2], &rect[3]);
      return 0;
    default:
      return 0;
  }
}

void GetPlacementArea(bool wholeScreen, int32_t* x, int32_t* y, int32_t* width, int32_t* height) {
  if (NativeWindows* native = gNative.load()) {
    qvNativeScreen screen = native->Screen();
    bool whole = wholeScreen || screen.workWidth < 1 || screen.workHeight < 1;
    {
      std::lock_guard<std::mutex> guard(gScreenMutex);
      whole = whole || gModeChanged;
    }
    *x = whole ? 0 : screen.workX;
    *y = whole ? 0 : screen.workY;
    *width = whole ? screen.width : screen.workWidth;
    *height = whole ? screen.height : screen.workHeight;
    return;
  }
  std::lock_guard<std::mutex> guard(gScreenMutex);
  if (wholeScreen || gSetup.workWidth < 1 || gSetup.workHeight < 1 || gModeChanged) {
    *x = 0;
    *y = 0;
    *width = gSetup.width;
    *height = gSetup.height;
    return;
  }
  *x = gSetup.workX;
  *y = gSetup.workY;
  *width = gSetup.workWidth;
  *height = gSetup.workHeight;
}

bool WindowFits(int32_t x, int32_t y, int32_t totalWidth, int32_t totalHeight, bool wholeScreen) {
  int32_t ax, ay, aw, ah;
  GetPlacementArea(wholeScreen, &ax, &ay, &aw, &ah);
  (void)x;
  (void)y;
  // Only the size decides: a window may be placed partly off the area, as users drag them.
  return int64_t{totalWidth} <= aw && int64_t{totalHeight} <= ah;
}

qvWindow* AttachPlatformDisplay() {
  auto* window = new (std::nothrow) qvWindow;
  if (window == nullptr) return nullptr;
  std::lock_guard<std::mutex> guard(gScreenMutex);
  try {
    gWindows.push_back(window);
  } catch (const std::bad_alloc&) {
    delete window;
    return nullptr;
  }
  InstallHandlers();
  return window;
}

void DetachPlatformDisplay(qvWindow* window) {
  if (window == nullptr) return;
  CloseDisplayWindow(window);
  {
    std::lock_guard<std::mutex> guard(gScreenMutex);
    gWindows.erase(std::remove(gWindows.begin(), gWindows.end(), window), gWindows.end());
  }
  delete window;
}

int OpenDisplayWindow(qvWindow* window, const qvWindowPlacement& asked,
                      const qvWindowShapeSource* shapeSource) {
  if (window == nullptr) return ERR_MEM;
  InstallHandlers();
  std::vector<uint8_t> shape;
  int code = BuildWindowShape(shapeSource, asked.width, asked.height, &shape);
  if (code != 0) return code;
  qvWindowPlacement placement = asked;
  placement.shaped = !shape.empty();
  bool opening = !IsWindowOpen(window);
  code = RunWindowRequest(WindowRequest::kOpen, reinterpret_cast<intptr_t>(window),
                          reinterpret_cast<intptr_t>(&placement),
                          reinterpret_cast<intptr_t>(&shape));
  if (code == 0 && opening) {
    // A window that opens paces VWait at the screen's refresh rate (60 where none is known,
    // as headless): a limit set earlier gives way to it.
    NativeWindows* native = gNative.load();
    int refresh = native != nullptr ? native->Screen().refresh : 0;
    SetPlatformAttr(PlatformAttr::kFrameLimit, refresh > 0 ? refresh : kDefaultRefreshRate);
  }
  if (code == 0) {
    Log({WindowCall::kOpen, window, 0, 0, placement.x, placement.y, placement.width,
         placement.height, placement.activate ? 1u : 0u});
  }
  return code;
}

void CloseDisplayWindow(qvWindow* window) {
  if (window == nullptr || !IsWindowOpen(window)) return;
  InstallHandlers();
  RunWindowRequest(WindowRequest::kClose, reinterpret_cast<intptr_t>(window));
  Log({WindowCall::kClose, window, 0, 0, 0, 0, 0, 0, 0});
}

void ActivateDisplayWindow(qvWindow* window, bool activate) {
  if (window == nullptr || !IsWindowOpen(window)) return;
  InstallHandlers();
  RunWindowRequest(WindowRequest::kActivate, reinterpret_cast<intptr_t>(window), activate ? 1 : 0);
  Log({WindowCall::kActivate, window, 0, 0, 0, 0, 0, 0, activate ? 1u : 0u});
}

bool GetWindowShape(const qvWindow* window, std::vector<uint8_t>* solid, int32_t* width,
                    int32_t* height) {
  if (window == nullptr) return false;
  std::lock_guard<std::mutex> guard(const_cast<qvWindow*>(window)->lock);
  if (!window->open || window->shape.empty()) return false;
  if (solid != nullptr) *solid = window->shape;
  if (width != nullptr) *width = window->shapeWidth;
  if (height != nullptr) *height = window->shapeHeight;
  return true;
}

void CopyDragZones(qvWindow* window, const qvWindowZone* drag, int32_t dragCount,
                   const qvWindowZone* size, int32_t sizeCount) {
  if (window == nullptr) return;
  dragCount = drag != nullptr ? std::clamp(dragCount, 0, kMaxWindowZones) : 0;
  sizeCount = size != nullptr ? std::clamp(sizeCount, 0, kMaxWindowZones) : 0;
  std::lock_guard<std::mutex> guard(window->lock);
  std::copy_n(drag, dragCount, window->drag);
  std::copy_n(size, sizeCount, window->size);
  window->dragCount = dragCount;
  window->sizeCount = sizeCount;
}

namespace {

constexpr int32_t kBorderBand = 10;  // the width of the bands along a window's edges

bool Overlaps(const qvWindowZone& zone, int64_t x1, int64_t y1, int64_t x2, int64_t y2) {
  return int64_t{zone.x} < x2 && int64_t{zone.x} + zone.width > x1 && int64_t{zone.y} < y2 &&
         int64_t{zone.y} + zone.height > y1;
}

bool Contains(const qvWindowZone& zone, int32_t x, int32_t y) {
  return x >= zone.x && int64_t{x} < int64_t{zone.x} + zone.width && y >= zone.y &&
         int64_t{y} < int64_t{zone.y} + zone.height;
}

}  // namespace

int32_t HitTestSizeEdge(const qvWindowZone& zone, int32_t width, int32_t height) {
  if (zone.width < 1 || zone.height < 1) return 8;
  const int64_t w = width, h = height, b = kBorderBand;
  // {x1, y1, x2, y2} of each band, in the order the zones are numbered.
  const int64_t bands[8][4] = {
      {0, 0, b, b}, {0, h - b, b, h}, {w - b, 0, w, b}, {w - b, h - b, w, h},
      {0, 0, b, h}, {w - b, 0, w, h}, {0, 0, w, b},     {0, h - b, w, h},
  };
  for (int32_t i = 0; i < 8; ++i) {
    if (Overlaps(zone, bands[i][0], bands[i][1], bands[i][2], bands[i][3])) return i;
  }
  return 8;
}

WindowHit HitTestWindow(qvWindow* window, int32_t x, int32_t y) {
  if (window == nullptr) return WindowHit::kNormal;
  std::lock_guard<std::mutex> guard(window->lock);
  uint32_t flags = window->placement.flags;
  if (!window->open || !(flags & 1)) return WindowHit::kNormal;
  if (!(flags & 4)) {
    for (int32_t i = 0; i < window->dragCount; ++i) {
      if (Contains(window->drag[i], x, y)) return WindowHit::kDrag;
    }
  }
  if (flags & 2) {
    for (int32_t i = 0; i < window->sizeCount; ++i) {
      if (!Contains(window->size[i], x, y)) continue;
      int32_t edge = HitTestSizeEdge(window->size[i], window->placement.width,
                                     window->placement.height);
      if (edge < 8)
        return static_cast<WindowHit>(static_cast<int32_t>(WindowHit::kSizeTopLeft) + edge);
    }
  }
  return WindowHit::kNormal;
}

bool IsWindowOpen(const qvWindow* window) {
  if (window == nullptr) return false;
  std::lock_guard<std::mutex> guard(const_cast<qvWindow*>(window)->lock);
  return window->open;
}

void SetWindowTitle(qvWindow* window, const char* title) {
  if (window == nullptr) return;
  {
    std::lock_guard<std::mutex> guard(window->lock);
    window->title = title != nullptr ? title : "";
  }
  if (gNative.load() == nullptr || !IsWindowOpen(window)) return;
  struct Call {
    qvWindow* window;
    std::string title;
  } call{window, title != nullptr ? title : ""};
  RunOnMainThread(
      [](void* p) {
        auto* c = static_cast<Call*>(p);
        if (NativeWindows* native = gNative.load()) native->SetTitle(c->window, c->title.c_str());
        return 0;
      },
      &call);
}

void ShowDisplayWindow(qvWindow* window, bool hide) {
  if (window == nullptr || !IsWindowOpen(window)) return;
  {
    std::lock_guard<std::mutex> guard(window->lock);
    window->hidden = hide;
  }
  struct Call {
    qvWindow* window;
    bool hide;
  } call{window, hide};
  RunOnMainThread(
      [](void* p) {
        auto* c = static_cast<Call*>(p);
        if (NativeWindows* native = gNative.load()) native->Show(c->window, c->hide);
        return 0;
      },
      &call);
}

int MoveResizeWindow(qvWindow* window, int32_t x, int32_t y, int32_t width, int32_t height) {
  if (window == nullptr || !IsWindowOpen(window)) return 0;
  width = std::max(width, 1);
  height = std::max(height, 1);
  {
    std::lock_guard<std::mutex> guard(window->lock);
    int32_t oldWidth = window->placement.width, oldHeight = window->placement.height;
    if (width != oldWidth || height != oldHeight) {
      qvFrontPixels front;
      if (!front.Reset(static_cast<size_t>(width) * static_cast<size_t>(height))) return ERR_MEM;
      // What a blank buffer keeps is 0 already (and it stays blank).
      for (int32_t row = 0; !window->frontBlank && row < std::min(height, oldHeight); ++row) {
        std::copy_n(window->front.data() + int64_t{row} * oldWidth, std::min(width, oldWidth),
                    front.data() + int64_t{row} * width);
      }
      window->front.swap(front);
      window->dirty.count = 0;
    }
    window->placement.x = x;
    window->placement.y = y;
    window->placement.width = width;
    window->placement.height = height;
  }
  struct Call {
    qvWindow* window;
    int32_t x, y, width, height;
  } call{window, x, y, width, height};
  RunOnMainThread(
      [](void* p) {
        auto* c = static_cast<Call*>(p);
        if (NativeWindows* native = gNative.load()) {
          native->MoveResize(c->window, c->x, c->y, c->width, c->height);
          MarkWindowExposed(c->window);
        }
        return 0;
      },
      &call);
  return 0;
}

void BlitToWindow(const uint32_t* pixels, int32_t pixelsPerRow, int32_t sx, int32_t sy,
                  qvWindow* window, int32_t dx, int32_t dy, int32_t width, int32_t height,
                  int32_t stretchWidth, int32_t stretchHeight) {
  if (window == nullptr || pixels == nullptr || width < 1 || height < 1) return;
  bool stretch = stretchWidth > 0 && stretchHeight > 0;
  bool wasClean = false;
  {
    std::lock_guard<std::mutex> guard(window->lock);
    if (!window->open) return;
    int32_t cw = window->placement.width, ch = window->placement.height;
    if (!stretch) {
      int32_t x = dx, y = dy, w = width, h = height, ox = sx, oy = sy;
      if (Clip(&x, &y, &w, &h, &ox, &oy, cw, ch)) {
        CopyToFront(pixels + int64_t{oy} * pixelsPerRow + ox, pixelsPerRow,
                    window->front.data() + int64_t{y} * cw + x, cw, w, h, window->frontBlank);
        wasClean = MarkDirty(window, x, y, x + w, y + h);
      }
    } else {
      int64_t x1 = std::max<int64_t>(dx, 0), y1 = std::max<int64_t>(dy, 0);
      int64_t x2 = std::min<int64_t>(int64_t{dx} + stretchWidth, cw);
      int64_t y2 = std::min<int64_t>(int64_t{dy} + stretchHeight, ch);
      if (x1 < x2 && y1 < y2) {
        StretchToFront(pixels, pixelsPerRow, sx, sy, width, height, window->front.data(), cw, ch,
                       dx, dy, stretchWidth, stretchHeight);
        wasClean = MarkDirty(window, static_cast<int32_t>(x1), static_cast<int32_t>(y1),
                             static_cast<int32_t>(x2), static_cast<int32_t>(y2));
      }
    }
  }
  AfterWrite(wasClean);
  if (stretch) {
    Log({WindowCall::kStretch, window, sx, sy, dx, dy, stretchWidth, stretchHeight, 0});
  } else {
    Log({WindowCall::kBlit, window, sx, sy, dx, dy, width, height, 0});
  }
}

void FillWindowRect(qvWindow* window, int32_t x, int32_t y, int32_t width, int32_t height,
                    uint32_t colour) {
  if (window == nullptr) return;
  bool wasClean = false;
  {
    std::lock_guard<std::mutex> guard(window->lock);
    if (!window->open) return;
    int32_t ox = 0, oy = 0, w = width, h = height, cx = x, cy = y;
    int32_t cw = window->placement.width, ch = window->placement.height;
    if (Clip(&cx, &cy, &w, &h, &ox, &oy, cw, ch)) {
      for (int32_t row = 0; row < h; ++row) {
        uint32_t* dst = window->front.data() + int64_t{cy + row} * cw + cx;
        std::fill(dst, dst + w, colour & 0x00FFFFFFu);
      }
      wasClean = MarkDirty(window, cx, cy, cx + w, cy + h);
    }
  }
  AfterWrite(wasClean);
  Log({WindowCall::kFill, window, 0, 0, x, y, width, height, colour});
}

void PlotWindowPixel(qvWindow* window, int32_t x, int32_t y, uint32_t colour) {
  if (window == nullptr) return;
  bool wasClean = false;
  {
    std::lock_guard<std::mutex> guard(window->lock);
    if (!window->open) return;
    int32_t cw = window->placement.width, ch = window->placement.height;
    if (x >= 0 && y >= 0 && x < cw && y < ch) {
      window->front[static_cast<size_t>(y) * cw + x] = colour & 0x00FFFFFFu;
      wasClean = MarkDirty(window, x, y, x + 1, y + 1);
    }
  }
  AfterWrite(wasClean);
  Log({WindowCall::kPlot, window, 0, 0, x, y, 1, 1, colour});
}

void DrawWindowLine(qvWindow* window, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                    uint32_t colour) {
  if (window == nullptr) return;
  bool wasClean = false;
  {
    std::lock_guard<std::mutex> guard(window->lock);
    if (!window->open) return;
    int32_t cw = window->placement.width, ch = window->placement.height;
    // The bounding box of the line, clipped: what has to be presented.
    int64_t bx1 = std::max<int64_t>(std::min(x1, x2), 0);
    int64_t by1 = std::max<int64_t>(std::min(y1, y2), 0);
    int64_t bx2 = std::min<int64_t>(int64_t{std::max(x1, x2)} + 1, cw);
    int64_t by2 = std::min<int64_t>(int64_t{std::max(y1, y2)} + 1, ch);
    if (bx1 < bx2 && by1 < by2) {
      wasClean = MarkDirty(window, static_cast<int32_t>(bx1), static_cast<int32_t>(by1),
                           static_cast<int32_t>(bx2), static_cast<int32_t>(by2));
    }
    // Bresenham over 64-bit steps, so far-off end points cannot overflow.
    int64_t x = x1, y = y1;
    int64_t ddx = std::llabs(int64_t{x2} - x1), ddy = -std::llabs(int64_t{y2} - y1);
    int64_t stepX = x1 < x2 ? 1 : -1, stepY = y1 < y2 ? 1 : -1;
    int64_t err = ddx + ddy;
    for (;;) {
      if (x >= 0 && y >= 0 && x < cw && y < ch) {
        window->front[static_cast<size_t>(y) * cw + x] = colour & 0x00FFFFFFu;
      }
      if (x == x2 && y == y2) break;
      int64_t e2 = 2 * err;
      if (e2 >= ddy) {
        err += ddy;
        x += stepX;
      }
      if (e2 <= ddx) {
        err += ddx;
        y += stepY;
      }
    }
  }
  AfterWrite(wasClean);
  Log({WindowCall::kLine, window, x1, y1, x2, y2, 0, 0, colour});
}

void WaitVerticalFrame(qvWindow* window) {
  if (window == nullptr) return;
  Log({WindowCall::kPresent, window, 0, 0, 0, 0, 0, 0, 0});
  int limit = GetFrameLimit();
  // Headless there is no refresh rate to follow; a window system paces to its screen's.
  if (limit <= 0) {
    if (NativeWindows* native = gNative.load()) limit = native->Screen().refresh;
  }
  if (limit <= 0) return;
  int64_t frame = 1000000 / limit;
  int64_t now = PlatformClock()->NowMicros();
  int64_t due;
  {
    std::lock_guard<std::mutex> guard(window->lock);
    due = window->lastPresent + frame;
    window->lastPresent = due > now ? due : now;
  }
  if (due > now) DelayMs(static_cast<int>((due - now + 999) / 1000));
}

void GrabScreen(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t* out,
                int32_t pixelsPerRow) {
  if (out == nullptr || width < 1 || height < 1) return;
  std::vector<qvWindow*> windows;
  int32_t screenWidth, screenHeight;
  if (NativeWindows* native = gNative.load()) {
    // What the window system can read of the screen, with the windows' front buffers on it: a
    // screen that cannot be read still shows the player's own windows.
    struct Call {
      NativeWindows* native;
      int32_t x, y, width, height;
      uint32_t* out;
      int32_t pixelsPerRow;
    } call{native, x, y, width, height, out, pixelsPerRow};
    int read = RunOnMainThread(
        [](void* p) {
          auto* c = static_cast<Call*>(p);
          return c->native->Grab(c->x, c->y, c->width, c->height, c->out, c->pixelsPerRow) ? 1 : 0;
        },
        &call);
    if (read != 0) return;  // the screen as it is, the windows on it
    qvNativeScreen screen = native->Screen();
    screenWidth = screen.width;
    screenHeight = screen.height;
    std::lock_guard<std::mutex> guard(gScreenMutex);
    windows = gWindows;
  } else {
    uint32_t desktop;
    {
      std::lock_guard<std::mutex> guard(gScreenMutex);
      windows = gWindows;
      screenWidth = gSetup.width;
      screenHeight = gSetup.height;
      desktop = gSetup.desktopColour & 0x00FFFFFFu;
    }
    for (int32_t row = 0; row < height; ++row) {
      int64_t sy = int64_t{y} + row;
      for (int32_t col = 0; col < width; ++col) {
        int64_t sx = int64_t{x} + col;
        bool on = sx >= 0 && sy >= 0 && sx < screenWidth && sy < screenHeight;
        out[int64_t{row} * pixelsPerRow + col] = on ? desktop : 0;
      }
    }
  }
  std::sort(windows.begin(), windows.end(),
            [](const qvWindow* a, const qvWindow* b) { return a->openOrder < b->openOrder; });
  for (qvWindow* window : windows) {
    std::lock_guard<std::mutex> guard(window->lock);
    if (!window->open) continue;
    qvWindowFrame frame = ComputeWindowBorders(window->placement.flags);
    int32_t cw = window->placement.width, ch = window->placement.height;
    int64_t left = int64_t{window->placement.x} + frame.left;
    int64_t top = int64_t{window->placement.y} + frame.top;
    for (int32_t row = 0; row < ch; ++row) {
      int64_t sy = top + row, oy = sy - y;
      if (oy < 0 || oy >= height || sy < 0 || sy >= screenHeight) continue;
      for (int32_t col = 0; col < cw; ++col) {
        int64_t sx = left + col, ox = sx - x;
        if (ox < 0 || ox >= width || sx < 0 || sx >= screenWidth) continue;
        out[oy * pixelsPerRow + ox] = window->front[static_cast<size_t>(row) * cw + col];
      }
    }
  }
}

int32_t SelectDisplayMode(const std::pair<int32_t, int32_t>* modes, int32_t count, int32_t width,
                          int32_t height, int32_t depth) {
  if (depth > 32) return -1;  // every mode is a 32-bit one
  int32_t best = -1;
  int32_t bestWidth = 100000, bestHeight = 100000;
  for (int32_t i = 0; i < count; ++i) {
    const auto& m = modes[i];
    if (m.first < width || m.second < height) continue;
    if (m.first < bestWidth && m.second < bestHeight) {
      best = i;
      bestWidth = m.first;
      bestHeight = m.second;
    }
  }
  return best;
}

int FindBestDisplayMode(int32_t width, int32_t height, int32_t depth) {
  NativeWindows* native = gNative.load();
  std::vector<std::pair<int32_t, int32_t>> modes;
  if (native != nullptr) {
    struct Call {
      NativeWindows* native;
      std::vector<std::pair<int32_t, int32_t>>* modes;
    } call{native, &modes};
    RunOnMainThread(
        [](void* p) {
          auto* c = static_cast<Call*>(p);
          *c->modes = c->native->Modes();
          return 0;
        },
        &call);
  } else {
    std::lock_guard<std::mutex> guard(gScreenMutex);
    modes = Modes();
  }
  if (modes.empty()) return ERR_NODISPMODES;
  int32_t best = SelectDisplayMode(modes.data(), static_cast<int32_t>(modes.size()), width, height,
                                   depth);
  if (best < 0) return ERR_SCREEN;
  if (native != nullptr) {
    struct Call {
      NativeWindows* native;
      std::pair<int32_t, int32_t> mode;
    } call{native, modes[static_cast<size_t>(best)]};
    int code = RunOnMainThread(
        [](void* p) {
          auto* c = static_cast<Call*>(p);
          return c->native->SwitchMode(c->mode.first, c->mode.second);
        },
        &call);
    if (code != 0) return code;
  }
  std::lock_guard<std::mutex> guard(gScreenMutex);
  if (native == nullptr) {
    gSetup.width = modes[static_cast<size_t>(best)].first;
    gSetup.height = modes[static_cast<size_t>(best)].second;
  }
  gModeChanged = true;
  return 0;
}

int RestoreDisplayMode() {
  if (NativeWindows* native = gNative.load()) {
    RunOnMainThread(
        [](void* p) {
          static_cast<NativeWindows*>(p)->RestoreMode();
          return 0;
        },
        native);
    std::lock_guard<std::mutex> guard(gScreenMutex);
    gModeChanged = false;
    return 0;
  }
  std::lock_guard<std::mutex> guard(gScreenMutex);
  gSetup.width = gDesktopSize.first;
  gSetup.height = gDesktopSize.second;
  gModeChanged = false;
  return 0;
}

int32_t ListDisplayModes(std::pair<int32_t, int32_t>* out, int32_t max) {
  std::vector<std::pair<int32_t, int32_t>> modes;
  if (NativeWindows* native = gNative.load()) {
    struct Call {
      NativeWindows* native;
      std::vector<std::pair<int32_t, int32_t>>* modes;
    } call{native, &modes};
    RunOnMainThread(
        [](void* p) {
          auto* c = static_cast<Call*>(p);
          *c->modes = c->native->Modes();
          return 0;
        },
        &call);
  } else {
    std::lock_guard<std::mutex> guard(gScreenMutex);
    modes = Modes();
  }
  if (out != nullptr) {
    for (int32_t i = 0; i < max && i < static_cast<int32_t>(modes.size()); ++i) out[i] = modes[i];
  }
  return static_cast<int32_t>(modes.size());
}

int CreatePointerImage(const uint32_t* pixels, int32_t width, int32_t height, int32_t hotX,
                       int32_t hotY, qvPointerImage** out) {
  *out = nullptr;
  if (pixels == nullptr || width < 1 || height < 1 || hotX < 0 || hotY < 0 || hotX >= width ||
      hotY >= height) {
    return ERR_CREATEICON;
  }
  auto* image = new (std::nothrow) qvPointerImage;
  if (image == nullptr) return ERR_MEM;
  try {
    image->pixels.assign(pixels, pixels + int64_t{width} * height);
  } catch (const std::bad_alloc&) {
    delete image;
    return ERR_MEM;
  }
  image->width = width;
  image->height = height;
  image->hotX = hotX;
  image->hotY = hotY;
  *out = image;
  return 0;
}

void FreePointerImage(qvPointerImage* image) {
  if (image == nullptr) return;
  if (NativeWindows* native = gNative.load(); native != nullptr && image->native != nullptr) {
    struct Call {
      NativeWindows* native;
      qvPointerImage* image;
    } call{native, image};
    RunOnMainThread(
        [](void* p) {
          auto* c = static_cast<Call*>(p);
          c->native->FreePointer(c->image);
          return 0;
        },
        &call);
  }
  delete image;
}

namespace {

// Changes the window's pointer; the main thread applies it after its next pump.
template <typename Change>
void ChangePointer(qvWindow* window, Change change) {
  if (window == nullptr) return;
  {
    std::lock_guard<std::mutex> guard(window->lock);
    change(window);
  }
  if (gNative.load() != nullptr) WakeMainLoop();
}

}  // namespace

void SetPointerImage(qvWindow* window, qvPointerImage* image, bool busy) {
  ChangePointer(window, [&](qvWindow* w) {
    w->pointerImage = image;
    w->pointerBusy = image == nullptr && busy;
    w->pointerHidden = false;
  });
}

void ShowDisplayPointer(qvWindow* window) {
  ChangePointer(window, [](qvWindow* w) { w->pointerHidden = false; });
}

void HideDisplayPointer(qvWindow* window) {
  ChangePointer(window, [](qvWindow* w) { w->pointerHidden = true; });
}

PointerShape GetWindowPointer(qvWindow* window, qvPointerImage** image) {
  if (image != nullptr) *image = nullptr;
  if (window == nullptr) return PointerShape::kArrow;
  std::lock_guard<std::mutex> guard(window->lock);
  if (window->pointerHidden) return PointerShape::kHidden;
  if (window->pointerImage != nullptr) {
    if (image != nullptr) *image = window->pointerImage;
    return PointerShape::kImage;
  }
  return window->pointerBusy ? PointerShape::kBusy : PointerShape::kArrow;
}

void MovePointerTo(qvWindow* window, int32_t x, int32_t y) {
  NativeWindows* native = gNative.load();
  if (window == nullptr || native == nullptr || !IsWindowOpen(window)) return;
  struct Call {
    NativeWindows* native;
    qvWindow* window;
    int32_t x, y;
  } call{native, window, x, y};
  RunOnMainThread(
      [](void* p) {
        auto* c = static_cast<Call*>(p);
        c->native->WarpPointer(c->window, c->x, c->y);
        return 0;
      },
      &call);
}

bool ReadWindowPixels(const qvWindow* window, std::vector<uint32_t>* pixels, int32_t* width,
                      int32_t* height) {
  if (window == nullptr) return false;
  std::lock_guard<std::mutex> guard(const_cast<qvWindow*>(window)->lock);
  if (!window->open) return false;
  if (pixels != nullptr)
    pixels->assign(window->front.data(), window->front.data() + window->front.size());
  if (width != nullptr) *width = window->placement.width;
  if (height != nullptr) *height = window->placement.height;
  return true;
}

bool GetWindowPlacement(const qvWindow* window, qvWindowPlacement* out) {
  if (window == nullptr) return false;
  std::lock_guard<std::mutex> guard(const_cast<qvWindow*>(window)->lock);
  if (!window->open) return false;
  *out = window->placement;
  out->title = window->title.c_str();
  out->activate = window->active;
  return true;
}

bool ReadShownPixels(qvWindow* window, std::vector<uint32_t>* pixels, int32_t* width,
                     int32_t* height) {
  NativeWindows* native = gNative.load();
  if (native == nullptr) return ReadWindowPixels(window, pixels, width, height);
  if (window == nullptr || !IsWindowOpen(window)) return false;
  struct Call {
    NativeWindows* native;
    qvWindow* window;
    std::vector<uint32_t>* pixels;
    int32_t *width, *height;
  } call{native, window, pixels, width, height};
  return RunOnMainThread(
             [](void* p) {
               auto* c = static_cast<Call*>(p);
               std::vector<uint32_t> shown;
               int32_t w = 0, h = 0;
               if (!c->native->ReadShown(c->window, &shown, &w, &h)) return 0;
               if (c->pixels != nullptr) c->pixels->swap(shown);
               if (c->width != nullptr) *c->width = w;
               if (c->height != nullptr) *c->height = h;
               return 1;
             },
             &call) != 0;
}

void RecordWindowCalls(bool on) {
  std::lock_guard<std::mutex> guard(gScreenMutex);
  gRecording = on;
  if (!on) gCalls.clear();
}

std::vector<qvWindowCallRecord> TakeWindowCalls() {
  std::lock_guard<std::mutex> guard(gScreenMutex);
  std::vector<qvWindowCallRecord> calls;
  calls.swap(gCalls);
  return calls;
}

void SetWindowEvents(const qvWindowEvents* events) { gEvents.store(events); }

const qvWindowEvents* InstalledWindowEvents() { return gEvents.load(); }

void SetModeSwitchGate(bool (*gate)(const qvWindow* window)) { gModeSwitchGate.store(gate); }

bool ModeSwitchAllowed(const qvWindow* window) {
  auto gate = gModeSwitchGate.load();
  return gate == nullptr || gate(window);
}

void SetDropTargetFlag(bool on) { gDropTarget.store(on); }

bool DropTargetOn() { return gDropTarget.load(); }

void InstallNativeWindows(NativeWindows* native) { gNative.store(native); }

NativeWindows* InstalledNativeWindows() { return gNative.load(); }

void PresentDirtyWindows() {
  NativeWindows* native = gNative.load();
  if (native == nullptr) return;
  // The list stays locked: a window detached meanwhile is deleted only after it left the list.
  // The native side closes windows on this thread only, so a window presented stays open until
  // its present is finished.
  std::lock_guard<std::mutex> screen(gScreenMutex);
  for (qvWindow* window : gWindows) {
    {
      std::lock_guard<std::mutex> guard(window->lock);
      if (!window->open || window->dirty.count == 0) continue;
      native->Present(window, window->dirty.rects, window->dirty.count);
      window->dirty.count = 0;
    }
    native->FinishPresent(window);
  }
}

void MarkWindowExposed(qvWindow* window) {
  std::lock_guard<std::mutex> guard(window->lock);
  if (window->open) MarkDirty(window, 0, 0, window->placement.width, window->placement.height);
}

}  // namespace qv
