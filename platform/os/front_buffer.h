// The pixel work on a window's front buffer, apart from its lock and its window: the list of
// rectangles written since the last present, and the copies and nearest stretches into the
// buffer. Not for callers above platform/.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv {

// A window's front buffer: client width x height pixels 0x00RRGGBB. A new buffer is cleared
// memory from the C allocator, whose fresh pages cost nothing until they are written: a window
// that opens on a black picture touches none of them.
class qvFrontPixels {
 public:
  qvFrontPixels() = default;
  qvFrontPixels(const qvFrontPixels&) = delete;
  qvFrontPixels& operator=(const qvFrontPixels&) = delete;
  ~qvFrontPixels();
  // `count` pixels, every one 0. False when the memory cannot be had; the buffer is then empty.
  bool Reset(size_t count);
  void Release();
  void swap(qvFrontPixels& other) noexcept;
  uint32_t* data() { return pixels_; }
  const uint32_t* data() const { return pixels_; }
  size_t size() const { return size_; }
  uint32_t& operator[](size_t i) { return pixels_[i]; }
  uint32_t operator[](size_t i) const { return pixels_[i]; }

 private:
  uint32_t* pixels_ = nullptr;
  size_t size_ = 0;
};

// A rectangle of the front buffer (x2, y2 exclusive).
struct qvDirtyRect {
  int32_t x1, y1, x2, y2;
};

// The parts of a front buffer written since it was last presented: disjoint rectangles, no two
// of them overlapping or sharing an edge, so that scattered small writes are presented as what
// they are instead of the box around them all. Bounded, so that a window written in many places
// costs no more to present than a few large copies.
struct qvDirtyList {
  static constexpr int32_t kMaxRects = 32;
  qvDirtyRect rects[kMaxRects];
  int32_t count = 0;
};

// Adds the rectangle (nothing when it is empty): merged with every rectangle it overlaps or shares
// an edge with; when the list is full, the two rectangles (the new one among them) whose box adds
// least to what they cover are merged; the whole list becomes its bounding box once the
// rectangles cover three quarters of it. Every pixel of the rectangle
// and of the list before is inside the list after. True when the list was empty before and is not
// now.
bool AddDirtyRect(qvDirtyList* list, qvDirtyRect rect);

// Copies width x height pixels from src (stride srcPerRow) to dst (stride dstPerRow), clearing
// the alpha byte. The caller has clipped the rectangle. `dstBlank`: every pixel of dst is 0 (a
// buffer nothing was written to); rows that would stay 0 are then not written, which leaves
// their fresh pages untouched, and a large source of which no page was ever touched (the
// process's own memory, so zeros) is not even read: a fresh black picture costs no fault.
void CopyToFront(const uint32_t* src, int32_t srcPerRow, uint32_t* dst, int32_t dstPerRow,
                 int32_t width, int32_t height, bool dstBlank = false);

// The nearest stretch of the source rectangle (sx, sy, width, height; stride pixelsPerRow) to
// stretchWidth x stretchHeight at (dx, dy) of a front buffer of frontWidth x frontHeight, clipped
// to the buffer, alpha cleared: buffer pixel (dx + i, dy + j) takes source pixel
// (sx + i * width / stretchWidth, sy + j * height / stretchHeight), the quotients truncated. All
// sizes are at least 1.
void StretchToFront(const uint32_t* pixels, int32_t pixelsPerRow, int32_t sx, int32_t sy,
                    int32_t width, int32_t height, uint32_t* front, int32_t frontWidth,
                    int32_t frontHeight, int32_t dx, int32_t dy, int32_t stretchWidth,
                    int32_t stretchHeight);

}  // namespace qv
