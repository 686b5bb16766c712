// The headless window backend: a desktop picture of the configured size and, per open window, a
// front buffer of its client area. Open, close and activate run on the main thread as window
// requests 1-3, as a real window system needs; the buffers are guarded by each window's lock, so
// a test may read them while the script thread draws.
#include "platform/window_services.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>

#include "base/errors.h"
#include "platform/loop.h"
#include "platform/time.h"

namespace qv {

struct qvWindow {
  std::mutex lock;
  bool open = false;
  bool active = false;
  qvWindowPlacement placement{};
  std::string title;
  std::vector<uint32_t> front;  // client width x height
  uint64_t openOrder = 0;
  int64_t lastPresent = 0;  // clock microseconds of the last paced frame
};

namespace {

std::mutex gScreenMutex;  // the set-up, the window list and the call log
qvScreenSetup gSetup;
std::pair<int32_t, int32_t> gDesktopSize{1920, 1080};
bool gModeChanged = false;
std::vector<qvWindow*> gWindows;
std::vector<qvWindowCallRecord> gCalls;
uint64_t gOpenCounter = 0;
bool gRecording = false;

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

// Request handlers: main thread.
int OpenRequest(intptr_t a0, intptr_t a1, intptr_t, intptr_t) {
  auto* window = reinterpret_cast<qvWindow*>(a0);
  const auto* placement = reinterpret_cast<const qvWindowPlacement*>(a1);
  std::lock_guard<std::mutex> guard(window->lock);
  size_t size = static_cast<size_t>(std::max(placement->width, 0)) *
                static_cast<size_t>(std::max(placement->height, 0));
  try {
    window->front.assign(size, 0);
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
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
  std::lock_guard<std::mutex> guard(window->lock);
  window->open = false;
  window->active = false;
  window->front.clear();
  window->front.shrink_to_fit();
  return 0;
}

int ActivateRequest(intptr_t a0, intptr_t a1, intptr_t, intptr_t) {
  auto* window = reinterpret_cast<qvWindow*>(a0);
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
  std::lock_guard<std::mutex> guard(gScreenMutex);
  if (displayFlags & 1) return {0, 0, 0, 0};
  return {gSetup.borderLeft, gSetup.borderTop, gSetup.borderLeft + gSetup.borderRight,
          gSetup.borderTop + gSetup.borderBottom};
}

int32_t GetScreenAttr(int32_t code, int32_t* rect) {
  switch (code) {
    case 5: {
      std::lock_guard<std::mutex> guard(gScreenMutex);
      return gSetup.depth;
    }
    case 14: {
      std::lock_guard<std::mutex> guard(gScreenMutex);
      return gSetup.width;
    }
    case 15: {
      std::lock_guard<std::mutex> guard(gScreenMutex);
      return gSetup.height;
    }
    case 16:
      return GetFrameLimit();
    case 23:
      if (rect != nullptr) GetPlacementArea(false, &rect[0], &rect[1], &rect[2], &rect[3]);
      return 0;
    default:
      return 0;
  }
}

void GetPlacementArea(bool wholeScreen, int32_t* x, int32_t* y, int32_t* width, int32_t* height) {
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

int OpenDisplayWindow(qvWindow* window, const qvWindowPlacement& placement) {
  if (window == nullptr) return ERR_MEM;
  InstallHandlers();
  int code = RunWindowRequest(WindowRequest::kOpen, reinterpret_cast<intptr_t>(window),
                              reinterpret_cast<intptr_t>(&placement));
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

bool IsWindowOpen(const qvWindow* window) {
  if (window == nullptr) return false;
  std::lock_guard<std::mutex> guard(const_cast<qvWindow*>(window)->lock);
  return window->open;
}

void SetWindowTitle(qvWindow* window, const char* title) {
  if (window == nullptr) return;
  std::lock_guard<std::mutex> guard(window->lock);
  window->title = title != nullptr ? title : "";
}

void BlitToWindow(const uint32_t* pixels, int32_t pixelsPerRow, int32_t sx, int32_t sy,
                  qvWindow* window, int32_t dx, int32_t dy, int32_t width, int32_t height,
                  int32_t stretchWidth, int32_t stretchHeight) {
  if (window == nullptr || pixels == nullptr || width < 1 || height < 1) return;
  bool stretch = stretchWidth > 0 && stretchHeight > 0;
  {
    std::lock_guard<std::mutex> guard(window->lock);
    if (!window->open) return;
    int32_t cw = window->placement.width, ch = window->placement.height;
    if (!stretch) {
      int32_t x = dx, y = dy, w = width, h = height, ox = sx, oy = sy;
      if (Clip(&x, &y, &w, &h, &ox, &oy, cw, ch)) {
        for (int32_t row = 0; row < h; ++row) {
          const uint32_t* src = pixels + int64_t{oy + row} * pixelsPerRow + ox;
          uint32_t* dst = window->front.data() + int64_t{y + row} * cw + x;
          for (int32_t col = 0; col < w; ++col) dst[col] = src[col] & 0x00FFFFFFu;
        }
      }
    } else {
      for (int32_t row = 0; row < stretchHeight; ++row) {
        int64_t y = int64_t{dy} + row;
        if (y < 0 || y >= ch) continue;
        int64_t srcRow = sy + int64_t{row} * height / stretchHeight;
        const uint32_t* src = pixels + srcRow * pixelsPerRow;
        uint32_t* dst = window->front.data() + y * cw;
        for (int32_t col = 0; col < stretchWidth; ++col) {
          int64_t x = int64_t{dx} + col;
          if (x < 0 || x >= cw) continue;
          dst[x] = src[sx + int64_t{col} * width / stretchWidth] & 0x00FFFFFFu;
        }
      }
    }
  }
  if (stretch) {
    Log({WindowCall::kStretch, window, sx, sy, dx, dy, stretchWidth, stretchHeight, 0});
  } else {
    Log({WindowCall::kBlit, window, sx, sy, dx, dy, width, height, 0});
  }
}

void FillWindowRect(qvWindow* window, int32_t x, int32_t y, int32_t width, int32_t height,
                    uint32_t colour) {
  if (window == nullptr) return;
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
    }
  }
  Log({WindowCall::kFill, window, 0, 0, x, y, width, height, colour});
}

void PlotWindowPixel(qvWindow* window, int32_t x, int32_t y, uint32_t colour) {
  if (window == nullptr) return;
  {
    std::lock_guard<std::mutex> guard(window->lock);
    if (!window->open) return;
    int32_t cw = window->placement.width, ch = window->placement.height;
    if (x >= 0 && y >= 0 && x < cw && y < ch) {
      window->front[static_cast<size_t>(y) * cw + x] = colour & 0x00FFFFFFu;
    }
  }
  Log({WindowCall::kPlot, window, 0, 0, x, y, 1, 1, colour});
}

void DrawWindowLine(qvWindow* window, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                    uint32_t colour) {
  if (window == nullptr) return;
  {
    std::lock_guard<std::mutex> guard(window->lock);
    if (!window->open) return;
    int32_t cw = window->placement.width, ch = window->placement.height;
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
  Log({WindowCall::kLine, window, x1, y1, x2, y2, 0, 0, colour});
}

void WaitVerticalFrame(qvWindow* window) {
  if (window == nullptr) return;
  Log({WindowCall::kPresent, window, 0, 0, 0, 0, 0, 0, 0});
  int limit = GetFrameLimit();
  if (limit <= 0) return;  // no refresh rate to follow without a screen
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

int FindBestDisplayMode(int32_t width, int32_t height, int32_t) {
  std::lock_guard<std::mutex> guard(gScreenMutex);
  auto modes = Modes();
  if (modes.empty()) return ERR_NODISPMODES;
  auto distance = [&](const std::pair<int32_t, int32_t>& m) {
    return std::llabs(int64_t{m.first} - width) + std::llabs(int64_t{m.second} - height);
  };
  auto best = std::min_element(modes.begin(), modes.end(), [&](const auto& a, const auto& b) {
    return distance(a) < distance(b);
  });
  gSetup.width = best->first;
  gSetup.height = best->second;
  gModeChanged = true;
  return 0;
}

int RestoreDisplayMode() {
  std::lock_guard<std::mutex> guard(gScreenMutex);
  gSetup.width = gDesktopSize.first;
  gSetup.height = gDesktopSize.second;
  gModeChanged = false;
  return 0;
}

int32_t ListDisplayModes(std::pair<int32_t, int32_t>* out, int32_t max) {
  std::lock_guard<std::mutex> guard(gScreenMutex);
  auto modes = Modes();
  if (out != nullptr) {
    for (int32_t i = 0; i < max && i < static_cast<int32_t>(modes.size()); ++i) out[i] = modes[i];
  }
  return static_cast<int32_t>(modes.size());
}

bool ReadWindowPixels(const qvWindow* window, std::vector<uint32_t>* pixels, int32_t* width,
                      int32_t* height) {
  if (window == nullptr) return false;
  std::lock_guard<std::mutex> guard(const_cast<qvWindow*>(window)->lock);
  if (!window->open) return false;
  if (pixels != nullptr) *pixels = window->front;
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

}  // namespace qv
