// Screen grabs from an X display: the root window read through Xlib, on a connection of its own
// (SDL's stays SDL's). Built where Xlib is found.
#include <algorithm>
#include <cstdint>

#include "platform/os/window_native.h"
#include "platform/x11/x11_library.h"

namespace qv {

namespace {

// One colour of a pixel as 0-255, by the image's mask of it.
uint32_t Channel(unsigned long pixel, unsigned long mask) {
  if (mask == 0) return 0;
  int shift = __builtin_ctzl(mask);
  unsigned long max = mask >> shift;
  return static_cast<uint32_t>(((pixel & mask) >> shift) * 255 / max);
}

}  // namespace

bool GrabX11Root(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t* out,
                 int32_t pixelsPerRow) {
  if (!LoadXlib()) return false;
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return false;
  Window root = DefaultRootWindow(display);
  XWindowAttributes attributes;
  bool done = false;
  if (XGetWindowAttributes(display, root, &attributes) != 0) {
    // Only the part on the screen can be read; the rest stays as it is (black).
    int32_t x1 = std::max(x, 0), y1 = std::max(y, 0);
    int64_t x2 = std::min<int64_t>(int64_t{x} + width, attributes.width);
    int64_t y2 = std::min<int64_t>(int64_t{y} + height, attributes.height);
    if (x1 < x2 && y1 < y2) {
      auto w = static_cast<unsigned>(x2 - x1), h = static_cast<unsigned>(y2 - y1);
      if (XImage* image = XGetImage(display, root, x1, y1, w, h, AllPlanes, ZPixmap)) {
        for (unsigned row = 0; row < h; ++row) {
          uint32_t* dst = out + int64_t{y1 - y + static_cast<int32_t>(row)} * pixelsPerRow +
                          (x1 - x);
          for (unsigned col = 0; col < w; ++col) {
            unsigned long p = XGetPixel(image, static_cast<int>(col), static_cast<int>(row));
            dst[col] = Channel(p, image->red_mask) << 16 | Channel(p, image->green_mask) << 8 |
                       Channel(p, image->blue_mask);
          }
        }
        XDestroyImage(image);
        done = true;
      }
    }
  }
  XCloseDisplay(display);
  return done;
}

}  // namespace qv
