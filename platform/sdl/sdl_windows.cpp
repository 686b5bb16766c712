// Display windows over SDL2 video: one SDL window per open display window, the front buffer
// presented into the window's surface (SDL_UpdateWindowSurfaceRects), the screen and its modes,
// the border sizes as the window manager reports them. Everything here runs on the main thread;
// the window services forward the calls of other threads.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "base/errors.h"
#include "platform/loop.h"
#include "platform/sdl/sdl_internal.h"
#include "platform/sdl/sdl_library.h"
#include "platform/sdl/sdl_window_system.h"

namespace qv {

namespace {

constexpr uint32_t kBorderless = 1, kSizeable = 2;
// The flags that change a window's frame.
constexpr uint32_t kFrameFlags = kBorderless | kSizeable | 32;

bool NonEmpty(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0';
}

SDL_Cursor* MakeColorCursor(const qvPointerImage& image);

// Titles are the script's ISO-8859-1 text; SDL takes UTF-8.
std::string Utf8Title(const char* title) {
  std::string out;
  for (const char* c = title != nullptr ? title : ""; *c != '\0'; ++c) {
    auto byte = static_cast<unsigned char>(*c);
    if (byte < 0x80) {
      out += static_cast<char>(byte);
    } else {
      out += static_cast<char>(0xC0 | (byte >> 6));
      out += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return out;
}

// Copies front-buffer pixels (stride in words) into the locked surface at (x, y).
void CopyToSurface(const uint32_t* src, int32_t srcPerRow, SDL_Surface* surface, int32_t x,
                   int32_t y, int32_t width, int32_t height) {
  auto* dst = static_cast<uint8_t*>(surface->pixels) + int64_t{y} * surface->pitch +
              int64_t{x} * surface->format->BytesPerPixel;
  Uint32 format = surface->format->format;
  if (format == SDL_PIXELFORMAT_RGB888 || format == SDL_PIXELFORMAT_ARGB8888) {
    for (int32_t row = 0; row < height; ++row) {
      std::memcpy(dst + int64_t{row} * surface->pitch, src + int64_t{row} * srcPerRow,
                  static_cast<size_t>(width) * 4);
    }
  } else {
    SDL_ConvertPixels(width, height, SDL_PIXELFORMAT_RGB888, src, srcPerRow * 4, format, dst,
                      surface->pitch);
  }
}

class SdlWindows : public NativeWindows {
 public:
  SdlWindows() { ReadScreen(); }

  int Open(qvWindow* window, const qvWindowPlacement& p) override {
    auto* rec = SdlRecord(window);
    qvWindowFrame frame = Borders(p.flags);
    // SDL places the client area; the frame is the window manager's. A new window asks for the
    // outer corner: the window manager puts a new window's frame where the window asks to be.
    int32_t cx = p.x + frame.left, cy = p.y + frame.top;
    std::string title = Utf8Title(p.title);
    // The services write the shape on this thread only, before this call.
    bool wantShape = !window->shape.empty();
    // A shape is set once on a window of its size: a shaped window, or one that is to get a
    // shape, is made anew (as a display reopens its shaped window when it changes).
    if (rec != nullptr && (rec->shapeable || (wantShape && canShape_))) {
      Close(window);
      rec = nullptr;
    }
    if (rec == nullptr) {
      auto made = std::make_unique<qvSdlWindow>();
      Uint32 flags = SDL_WINDOW_HIDDEN;
      if (p.flags & kBorderless) flags |= SDL_WINDOW_BORDERLESS;
      if (p.flags & kSizeable) flags |= SDL_WINDOW_RESIZABLE;
      made->askedX = p.x;
      made->askedY = p.y;
      made->askedWidth = p.width;
      made->askedHeight = p.height;
      if (wantShape && canShape_) {
        made->sdl = SDL_CreateShapedWindow(
            title.c_str(), static_cast<unsigned>(p.x), static_cast<unsigned>(p.y),
            static_cast<unsigned>(p.width), static_cast<unsigned>(p.height), flags);
        // A driver that cannot shape (dummy, offscreen) gives a plain window, without an error.
        if (made->sdl == nullptr) canShape_ = false;
      }
      if (made->sdl != nullptr) {
        made->shapeable = true;
        // SDL makes shaped windows borderless and fixed: the display's frame and sizing return.
        if (!(p.flags & kBorderless)) SDL_SetWindowBordered(made->sdl, SDL_TRUE);
        if (p.flags & kSizeable) SDL_SetWindowResizable(made->sdl, SDL_TRUE);
      } else {
        made->sdl = SDL_CreateWindow(title.c_str(), p.x, p.y, p.width, p.height, flags);
      }
      if (made->sdl == nullptr) return ERR_WINDOW;
      made->flags = p.flags;
      // Not framed yet: the window manager publishes the frame once it has put one around it.
      made->frame = {0, 0, 0, 0};
      SDL_SetWindowData(made->sdl, "qv", window);
      // Drag areas and size zones of borderless windows; drivers without hit tests ignore it.
      SDL_SetWindowHitTest(made->sdl, HitTest, window);
      rec = made.release();
      window->native = rec;
      open_.push_back(window);
      if (rec->shapeable) {
        ApplyShape(window, rec);
        // A shaped window is made off the screen and placed once shaped (not framed yet).
        SDL_SetWindowPosition(rec->sdl, p.x, p.y);
      }
      SDL_SetHint(SDL_HINT_WINDOW_NO_ACTIVATION_WHEN_SHOWN, p.activate ? "0" : "1");
      SDL_ShowWindow(rec->sdl);
      if (p.activate) SDL_RaiseWindow(rec->sdl);
      MeasureBorders(rec);
    } else {
      rec->askedX = p.x;
      rec->askedY = p.y;
      rec->askedWidth = p.width;
      rec->askedHeight = p.height;
      rec->flags = p.flags;
      rec->frame = frame;
      SDL_SetWindowTitle(rec->sdl, title.c_str());
      SDL_SetWindowBordered(rec->sdl, (p.flags & kBorderless) ? SDL_FALSE : SDL_TRUE);
      SDL_SetWindowResizable(rec->sdl, (p.flags & kSizeable) ? SDL_TRUE : SDL_FALSE);
      SDL_SetWindowSize(rec->sdl, p.width, p.height);
      SDL_SetWindowPosition(rec->sdl, cx, cy);
      if (p.activate) SDL_RaiseWindow(rec->sdl);
    }
    ApplyFullScreen(rec, p.width, p.height);
    // Black until the first refresh, as the window's class paints it.
    if (SDL_Surface* surface = SDL_GetWindowSurface(rec->sdl)) {
      SDL_FillRect(surface, nullptr, 0);
      SDL_UpdateWindowSurface(rec->sdl);
    }
    return 0;
  }

  void Close(qvWindow* window) override {
    qvSdlWindow* rec = SdlRecord(window);
    if (rec == nullptr) return;
    SDL_DestroyWindow(rec->sdl);
    delete rec;
    window->native = nullptr;
    open_.erase(std::remove(open_.begin(), open_.end(), window), open_.end());
  }

  // Main thread: the windows still open.
  const std::vector<qvWindow*>& OpenWindows() const { return open_; }

  void Activate(qvWindow* window, bool activate) override {
    qvSdlWindow* rec = SdlRecord(window);
    // SDL raises only with the focus: a window that is not to be activated stays where it is.
    if (rec != nullptr && activate) SDL_RaiseWindow(rec->sdl);
  }

  void SetTitle(qvWindow* window, const char* title) override {
    if (qvSdlWindow* rec = SdlRecord(window))
      SDL_SetWindowTitle(rec->sdl, Utf8Title(title).c_str());
  }

  void Show(qvWindow* window, bool hide) override {
    qvSdlWindow* rec = SdlRecord(window);
    if (rec == nullptr) return;
    if (hide) {
      SDL_MinimizeWindow(rec->sdl);
    } else {
      SDL_RestoreWindow(rec->sdl);
    }
  }

  void MoveResize(qvWindow* window, int32_t x, int32_t y, int32_t width, int32_t height) override {
    qvSdlWindow* rec = SdlRecord(window);
    if (rec == nullptr) return;
    rec->askedX = x;
    rec->askedY = y;
    rec->askedWidth = width;
    rec->askedHeight = height;
    SDL_SetWindowSize(rec->sdl, width, height);
    SDL_SetWindowPosition(rec->sdl, x + rec->frame.left, y + rec->frame.top);
  }

  void Present(qvWindow* window, const qvDirtyRect* rects, int32_t count) override {
    qvSdlWindow* rec = SdlRecord(window);
    if (rec == nullptr) return;
    SDL_Surface* surface = SDL_GetWindowSurface(rec->sdl);
    if (surface == nullptr) return;
    if (SDL_MUSTLOCK(surface) && SDL_LockSurface(surface) != 0) return;
    // Only the rectangles are copied and updated: scattered small writes cost what they cover.
    SDL_Rect updated[qvDirtyList::kMaxRects];
    int n = 0;
    int32_t cw = window->placement.width;
    for (int32_t i = 0; i < count && n < qvDirtyList::kMaxRects; ++i) {
      // The surface may lag behind a size the program just asked for.
      int32_t x = rects[i].x1, y = rects[i].y1;
      int32_t width = std::min({rects[i].x2, cw, surface->w}) - x;
      int32_t height = std::min({rects[i].y2, window->placement.height, surface->h}) - y;
      if (width < 1 || height < 1 || x < 0 || y < 0) continue;
      CopyToSurface(window->front.data() + int64_t{y} * cw + x, cw, surface, x, y, width, height);
      updated[n++] = {x, y, width, height};
    }
    if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
    // Sent once the front buffer's lock is let go: the window system's copy of the surface (with
    // the wait for it) then overlaps the program's next frame.
    std::copy_n(updated, n, rec->pending);
    rec->pendingCount = n;
  }

  void FinishPresent(qvWindow* window) override {
    qvSdlWindow* rec = SdlRecord(window);
    if (rec == nullptr || rec->pendingCount == 0) return;
    SDL_UpdateWindowSurfaceRects(rec->sdl, rec->pending, rec->pendingCount);
    rec->pendingCount = 0;
  }

  bool ReadShown(qvWindow* window, std::vector<uint32_t>* pixels, int32_t* width,
                 int32_t* height) override {
    qvSdlWindow* rec = SdlRecord(window);
    if (rec == nullptr) return false;
    SDL_Surface* surface = SDL_GetWindowSurface(rec->sdl);
    if (surface == nullptr) return false;
    std::vector<uint32_t> shown(static_cast<size_t>(surface->w) * surface->h);
    if (SDL_MUSTLOCK(surface) && SDL_LockSurface(surface) != 0) return false;
    int failed = SDL_ConvertPixels(surface->w, surface->h, surface->format->format, surface->pixels,
                                   surface->pitch, SDL_PIXELFORMAT_RGB888, shown.data(),
                                   surface->w * 4);
    if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
    if (failed != 0) return false;
    for (uint32_t& p : shown) p &= 0x00FFFFFFu;
    pixels->swap(shown);
    *width = surface->w;
    *height = surface->h;
    return true;
  }

  void FreePointer(qvPointerImage* image) override {
    if (image->native == nullptr) return;
    // A cursor in use is first replaced: SDL must not keep a freed one.
    if (SDL_GetCursor() == static_cast<SDL_Cursor*>(image->native)) {
      if (SDL_Cursor* arrow = SDL_GetDefaultCursor()) SDL_SetCursor(arrow);
    }
    SDL_FreeCursor(static_cast<SDL_Cursor*>(image->native));
    image->native = nullptr;
  }

  void WarpPointer(qvWindow* window, int32_t x, int32_t y) override {
    if (qvSdlWindow* rec = SdlRecord(window)) SDL_WarpMouseInWindow(rec->sdl, x, y);
  }

  // Shows the pointer of the window under the pointer (or the focused or first window).
  void ApplyPointer() {
    qvWindow* window = nullptr;
    for (SDL_Window* sdl : {SDL_GetMouseFocus(), SDL_GetKeyboardFocus()}) {
      if (sdl != nullptr && window == nullptr) {
        window = static_cast<qvWindow*>(SDL_GetWindowData(sdl, "qv"));
      }
    }
    if (window == nullptr && !open_.empty()) window = open_.front();
    if (window == nullptr) return;
    qvPointerImage* image = nullptr;
    PointerShape shape = GetWindowPointer(window, &image);
    if (shape == PointerShape::kHidden) {
      SDL_ShowCursor(SDL_DISABLE);
      return;
    }
    SDL_ShowCursor(SDL_ENABLE);
    SDL_Cursor* cursor = nullptr;
    if (shape == PointerShape::kImage) {
      if (image->native == nullptr) image->native = MakeColorCursor(*image);
      cursor = static_cast<SDL_Cursor*>(image->native);
    } else if (shape == PointerShape::kBusy) {
      if (busy_ == nullptr) busy_ = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_WAIT);
      cursor = busy_;
    } else {
      cursor = SDL_GetDefaultCursor();
    }
    // Over a drag area or a size zone of a borderless window: the move or sizing pointer.
    int x = 0, y = 0;
    SDL_Window* under = SDL_GetMouseFocus();
    if (under != nullptr && SDL_GetWindowData(under, "qv") == window) {
      SDL_GetMouseState(&x, &y);
      WindowHit hit = HitTestWindow(window, x, y);
      if (hit != WindowHit::kNormal) cursor = ZoneCursor(hit);
    }
    // A driver without pointers of its own keeps the state only.
    if (cursor != nullptr && cursor != SDL_GetCursor()) SDL_SetCursor(cursor);
  }

  // The pointer shown over a drag area (move) or a size zone (the sizing pointer of its edge or
  // corner); null where the driver has none.
  SDL_Cursor* ZoneCursor(WindowHit hit) {
    // In the order of WindowHit from kDrag on.
    static constexpr SDL_SystemCursor kCursors[] = {
        SDL_SYSTEM_CURSOR_SIZEALL,  SDL_SYSTEM_CURSOR_SIZENWSE, SDL_SYSTEM_CURSOR_SIZENESW,
        SDL_SYSTEM_CURSOR_SIZENESW, SDL_SYSTEM_CURSOR_SIZENWSE, SDL_SYSTEM_CURSOR_SIZEWE,
        SDL_SYSTEM_CURSOR_SIZEWE,   SDL_SYSTEM_CURSOR_SIZENS,   SDL_SYSTEM_CURSOR_SIZENS,
    };
    int index = static_cast<int>(hit) - static_cast<int>(WindowHit::kDrag);
    if (index < 0 || index >= static_cast<int>(std::size(kCursors))) return nullptr;
    SDL_SystemCursor id = kCursors[index];
    if (zone_[id] == nullptr) zone_[id] = SDL_CreateSystemCursor(id);
    return zone_[id];
  }

  ~SdlWindows() override {
    if (busy_ != nullptr) SDL_FreeCursor(busy_);
    for (SDL_Cursor* cursor : zone_) {
      if (cursor != nullptr) SDL_FreeCursor(cursor);
    }
  }

  // The user resized the window: the shape, made for the old size, is no longer shown.
  void DropShape(qvWindow* window) {
    qvSdlWindow* rec = SdlRecord(window);
    if (rec == nullptr || !rec->shapeable) return;
    {
      std::lock_guard<std::mutex> guard(window->lock);
      if (window->shape.empty()) return;
      window->shape.clear();
      window->shapeWidth = window->shapeHeight = 0;
    }
#ifdef QV_HAVE_XSHAPE
    ClearX11Shape(rec->sdl);
#endif
  }

  qvWindowFrame Borders(uint32_t flags) override {
    std::lock_guard<std::mutex> guard(mutex_);
    auto found = borders_.find(flags & kFrameFlags);
    return found != borders_.end() ? found->second : qvWindowFrame{0, 0, 0, 0};
  }

  qvNativeScreen Screen() override {
    std::lock_guard<std::mutex> guard(mutex_);
    return screen_;
  }

  std::vector<std::pair<int32_t, int32_t>> Modes() override {
    std::vector<std::pair<int32_t, int32_t>> modes;
    int count = SDL_GetNumDisplayModes(0);
    for (int i = 0; i < count; ++i) {
      SDL_DisplayMode mode;
      if (SDL_GetDisplayMode(0, i, &mode) != 0) continue;
      std::pair<int32_t, int32_t> size{mode.w, mode.h};
      if (std::find(modes.begin(), modes.end(), size) == modes.end()) modes.push_back(size);
    }
    return modes;
  }

  int SwitchMode(int32_t width, int32_t height) override {
    SDL_DisplayMode want{0, width, height, 0, nullptr}, got;
    if (SDL_GetClosestDisplayMode(0, &want, &got) == nullptr) return ERR_SCREEN;
    std::lock_guard<std::mutex> guard(mutex_);
    fullMode_ = got;
    haveFullMode_ = true;
    screen_.width = got.w;
    screen_.height = got.h;
    screen_.refresh = got.refresh_rate != 0 ? got.refresh_rate : 60;
    return 0;
  }

  void RestoreMode() override {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      haveFullMode_ = false;
    }
    for (qvWindow* window : open_) {
      qvSdlWindow* rec = SdlRecord(window);
      if (!rec->fullScreen) continue;
      rec->fullScreen = false;
      SDL_SetWindowFullscreen(rec->sdl, 0);
    }
    ReadScreen();
  }

  bool Grab(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t* out,
            int32_t pixelsPerRow) override {
    for (int32_t row = 0; row < height; ++row) {
      std::fill_n(out + int64_t{row} * pixelsPerRow, width, 0u);
    }
#ifndef QV_NO_X11
    const char* driver = SDL_GetCurrentVideoDriver();
    if (driver != nullptr && std::strcmp(driver, "x11") == 0) {
      return GrabX11Root(x, y, width, height, out, pixelsPerRow);
    }
#else
    (void)x;
    (void)y;
#endif
    return false;
  }

 private:
  // Reads the desktop's size, depth, refresh rate and work area.
  void ReadScreen() {
    qvNativeScreen screen;
    SDL_DisplayMode mode;
    if (SDL_GetDesktopDisplayMode(0, &mode) == 0) {
      screen.width = mode.w;
      screen.height = mode.h;
      int bits = SDL_BITSPERPIXEL(mode.format);
      screen.depth = bits >= 24 ? 32 : bits;
      screen.refresh = mode.refresh_rate != 0 ? mode.refresh_rate : 60;
    }
    SDL_Rect usable;
    if (SDL_GetDisplayUsableBounds(0, &usable) == 0) {
      screen.workX = usable.x;
      screen.workY = usable.y;
      screen.workWidth = usable.w;
      screen.workHeight = usable.h;
    }
    std::lock_guard<std::mutex> guard(mutex_);
    screen_ = screen;
  }

 public:
  // The window's frame as the window manager publishes it (on X11 its _NET_FRAME_EXTENTS, which
  // come some time after the window is shown): kept for the window and for every window of its
  // flag set. True when it differs from what the window had.
  bool MeasureBorders(qvSdlWindow* rec) {
    qvWindowFrame frame{0, 0, 0, 0};
    if (!(rec->flags & kBorderless)) {
      int top = 0, left = 0, bottom = 0, right = 0;
      if (SDL_GetWindowBordersSize(rec->sdl, &top, &left, &bottom, &right) != 0) return false;
      frame = {left, top, left + right, top + bottom};
      // A window not framed yet reads 0: the frame of its flag set stays what it was.
      if (left != 0 || top != 0 || right != 0 || bottom != 0) {
        std::lock_guard<std::mutex> guard(mutex_);
        borders_[rec->flags & kFrameFlags] = frame;
      }
    }
    bool changed = frame.left != rec->frame.left || frame.top != rec->frame.top ||
                   frame.totalWidth != rec->frame.totalWidth ||
                   frame.totalHeight != rec->frame.totalHeight;
    rec->frame = frame;
    return changed;
  }

 private:
  // A borderless window of the full-screen mode's size takes the screen in that mode; a smaller
  // one stays a window where the program placed it (over the backdrop that fills the screen).
  void ApplyFullScreen(qvSdlWindow* rec, int32_t width, int32_t height) {
    SDL_DisplayMode mode;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      if (!haveFullMode_) return;
      mode = fullMode_;
    }
    if (!(rec->flags & kBorderless) || width != mode.w || height != mode.h) return;
    SDL_SetWindowDisplayMode(rec->sdl, &mode);
    if (SDL_SetWindowFullscreen(rec->sdl, SDL_WINDOW_FULLSCREEN) == 0) rec->fullScreen = true;
  }

  // Sets the record's shape (client size, 1 solid) on a shaped window.
  static void ApplyShape(qvWindow* window, qvSdlWindow* rec) {
    int w = 0, h = 0;
    SDL_GetWindowSize(rec->sdl, &w, &h);
    SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormat(0, w, h, 32, SDL_PIXELFORMAT_ARGB8888);
    if (surface == nullptr) return;
    {
      std::lock_guard<std::mutex> guard(window->lock);
      bool whole = window->shape.empty() || window->shapeWidth != w || window->shapeHeight != h;
      for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(surface->pixels) +
                                                int64_t{y} * surface->pitch);
        const uint8_t* solid = whole ? nullptr : window->shape.data() + int64_t{y} * w;
        for (int x = 0; x < w; ++x) row[x] = solid == nullptr || solid[x] != 0 ? 0xFF000000u : 0;
      }
    }
    SDL_WindowShapeMode mode{};
    mode.mode = ShapeModeBinarizeAlpha;
    mode.parameters.binarizationCutoff = 1;
    SDL_SetWindowShape(rec->sdl, surface, &mode);
    SDL_FreeSurface(surface);
  }

  static SDL_HitTestResult HitTest(SDL_Window*, const SDL_Point* area, void* data) {
    // In the order of WindowHit.
    static constexpr SDL_HitTestResult kResults[] = {
        SDL_HITTEST_NORMAL,          SDL_HITTEST_DRAGGABLE,
        SDL_HITTEST_RESIZE_TOPLEFT,  SDL_HITTEST_RESIZE_BOTTOMLEFT,
        SDL_HITTEST_RESIZE_TOPRIGHT, SDL_HITTEST_RESIZE_BOTTOMRIGHT,
        SDL_HITTEST_RESIZE_LEFT,     SDL_HITTEST_RESIZE_RIGHT,
        SDL_HITTEST_RESIZE_TOP,      SDL_HITTEST_RESIZE_BOTTOM,
    };
    WindowHit hit = HitTestWindow(static_cast<qvWindow*>(data), area->x, area->y);
    return kResults[static_cast<int>(hit)];
  }

  std::mutex mutex_;  // what other threads read: the screen and the border sizes
  qvNativeScreen screen_;
  std::map<uint32_t, qvWindowFrame> borders_;
  SDL_DisplayMode fullMode_{};
  bool haveFullMode_ = false;
  std::vector<qvWindow*> open_;  // main thread only
  SDL_Cursor* busy_ = nullptr;
  SDL_Cursor* zone_[SDL_NUM_SYSTEM_CURSORS] = {};  // the move and sizing pointers, made on use
  bool canShape_ = true;  // false once the driver could not make a shaped window
};

// A colour pointer from the picture's pixels; null where the driver has none.
SDL_Cursor* MakeColorCursor(const qvPointerImage& image) {
  SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormatFrom(
      const_cast<uint32_t*>(image.pixels.data()), image.width, image.height, 32, image.width * 4,
      SDL_PIXELFORMAT_ARGB8888);
  if (surface == nullptr) return nullptr;
  SDL_Cursor* cursor = SDL_CreateColorCursor(surface, image.hotX, image.hotY);
  SDL_FreeSurface(surface);
  return cursor;
}

std::unique_ptr<SdlWindowSystem> gSystem;
std::unique_ptr<SdlWindows> gWindows;

}  // namespace

qvSdlWindow* SdlRecord(qvWindow* window) {
  return window != nullptr ? static_cast<qvSdlWindow*>(window->native) : nullptr;
}

qvWindow* WindowFromSdlId(uint32_t id) {
  SDL_Window* sdl = SDL_GetWindowFromID(id);
  return sdl != nullptr ? static_cast<qvWindow*>(SDL_GetWindowData(sdl, "qv")) : nullptr;
}

bool SdlFullScreen() {
  if (!gWindows) return false;
  for (qvWindow* window : gWindows->OpenWindows()) {
    if (SdlRecord(window)->fullScreen) return true;
  }
  return false;
}

void ApplySdlPointer() {
  if (gWindows) gWindows->ApplyPointer();
}

SDL_Cursor* SdlZoneCursor(WindowHit hit) { return gWindows ? gWindows->ZoneCursor(hit) : nullptr; }

void DropSdlShape(qvWindow* window) {
  if (gWindows) gWindows->DropShape(window);
}

bool MeasureSdlFrame(qvWindow* window) {
  qvSdlWindow* rec = SdlRecord(window);
  return gWindows && rec != nullptr && gWindows->MeasureBorders(rec);
}

void RefreshSdlFrames() {
  if (!gWindows) return;
  for (qvWindow* window : gWindows->OpenWindows()) {
    qvSdlWindow* rec = SdlRecord(window);
    if (rec->fullScreen || !gWindows->MeasureBorders(rec)) continue;
    // Framed without a move of the client area: the outer corner is where the frame now puts it.
    int cx = 0, cy = 0;
    SDL_GetWindowPosition(rec->sdl, &cx, &cy);
    rec->askedX = cx - rec->frame.left;
    rec->askedY = cy - rec->frame.top;
    std::lock_guard<std::mutex> guard(window->lock);
    window->placement.x = rec->askedX;
    window->placement.y = rec->askedY;
  }
}

qvWindow* AnySdlWindow() {
  return gWindows && !gWindows->OpenWindows().empty() ? gWindows->OpenWindows().front() : nullptr;
}

WindowSystemKind StartWindowSystem() {
  if (gSystem) return WindowSystemKind::kSdl;
  if (!NonEmpty("SDL_VIDEODRIVER") && !NonEmpty("DISPLAY") && !NonEmpty("WAYLAND_DISPLAY")) {
    return WindowSystemKind::kHeadless;
  }
  std::unique_ptr<SdlWindowSystem> system = SdlWindowSystem::Create();
  if (!system) return WindowSystemKind::kHeadless;
  system->SetEventHandler(SdlWindowEvent);
  system->SetAfterPump(SdlEndOfPump);
  gWindows = std::make_unique<SdlWindows>();
  gSystem = std::move(system);
  InstallNativeWindows(gWindows.get());
  SetWindowSystem(gSystem.get());
  return WindowSystemKind::kSdl;
}

void StopWindowSystem() {
  if (!gSystem) return;
  SetWindowSystem(nullptr);
  InstallNativeWindows(nullptr);
  ResetSdlKeys();
  // Windows a caller left open lose their SDL side; the services see them closed.
  while (!gWindows->OpenWindows().empty()) {
    qvWindow* window = gWindows->OpenWindows().front();
    gWindows->Close(window);
    std::lock_guard<std::mutex> guard(window->lock);
    window->open = false;
  }
  gWindows.reset();
  gSystem.reset();
}

WindowSystemKind ActiveWindowSystemKind() {
  return gSystem ? WindowSystemKind::kSdl : WindowSystemKind::kHeadless;
}

}  // namespace qv
