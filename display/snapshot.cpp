// Snapshots of a display's window, its picture or the desktop, and the 24-bit BMP files they are
// saved in.
#include <cstring>
#include <new>
#include <vector>

#include "base/errors.h"
#include "core/vfile.h"
#include "display/display.h"
#include "display/internal.h"

namespace qv {

namespace {

void PutU16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void PutU32(uint8_t* p, uint32_t v) {
  PutU16(p, v);
  PutU16(p + 2, v >> 16);
}

// A bitmap of width x height from the screen at (x, y).
qvBitMap* GrabScreenBitMap(int32_t x, int32_t y, int32_t width, int32_t height) {
  qvBitMap* bitmap = AllocBitMap(width, height);
  if (bitmap != nullptr) {
    GrabScreen(x, y, width, height, reinterpret_cast<uint32_t*>(bitmap->pixels),
               bitmap->bytesPerRow / 4);
  }
  return bitmap;
}

}  // namespace

int SaveBitMapAsBmp(const qvBitMap* bitmap, int32_t width, int32_t height, const char* fileName) {
  if (bitmap == nullptr || width < 1 || height < 1) return ERR_WRONGUSAGE;
  // Rows of 3 bytes a pixel, padded by width mod 4 to a multiple of 4.
  int64_t rowBytes = int64_t{width} * 3 + width % 4;
  int64_t fileSize = rowBytes * height + 54;
  if (fileSize > 0xFFFFFFFFll) return ERR_MEM;
  std::vector<uint8_t> row;
  try {
    row.resize(static_cast<size_t>(rowBytes));
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
  qvFile* file = OpenFileQ(fileName, kFileWrite);
  if (file == nullptr) {
    SetErrorString(fileName);
    return ERR_WRITEFILE;
  }
  uint8_t header[54] = {'B', 'M'};
  PutU32(header + 2, static_cast<uint32_t>(fileSize));
  PutU32(header + 10, 54);
  PutU32(header + 14, 40);
  PutU32(header + 18, static_cast<uint32_t>(width));
  PutU32(header + 22, static_cast<uint32_t>(height));
  PutU16(header + 26, 1);
  PutU16(header + 28, 24);
  bool ok = WriteFileQ(file, header, sizeof header) == sizeof header;
  for (int32_t y = height - 1; ok && y >= 0; --y) {
    for (int32_t x = 0; x < width; ++x) {
      uint32_t p = ReadBitMapPixel(bitmap, x, y);
      row[static_cast<size_t>(x) * 3] = static_cast<uint8_t>(p);
      row[static_cast<size_t>(x) * 3 + 1] = static_cast<uint8_t>(p >> 8);
      row[static_cast<size_t>(x) * 3 + 2] = static_cast<uint8_t>(p >> 16);
    }
    ok = WriteFileQ(file, row.data(), row.size()) == row.size();
  }
  if (!CloseFileQ(file) || !ok) {
    SetErrorString(fileName);
    return ERR_WRITEFILE;
  }
  return 0;
}

int GrabSnapshot(qvScriptState* L, int32_t type, qvBitMap** out, bool* owned) {
  *out = nullptr;
  *owned = false;
  qvDisplay* d = CurrentDisplay();
  switch (type) {
    case kSnapWindow: {
      if (d == nullptr || d->state != kDisplayOpen) return ERR_CLOSEDDISPDRAW;
      qvWindowPlacement placement{};
      if (!GetWindowPlacement(d->window, &placement)) return ERR_CLOSEDDISPDRAW;
      *out = GrabScreenBitMap(placement.x, placement.y, d->width + d->frame.totalWidth,
                              d->height + d->frame.totalHeight);
      *owned = true;
      break;
    }
    case kSnapDisplay:
      if (d == nullptr) return ERR_WRONGUSAGE;
      if (d->doubleBuffer) {
        *out = d->backBuffer;
      } else {
        qvBitMap* composite = GetBGPicComposite(L, d, d->bgpic);
        if (composite == nullptr) return ERR_MEM;
        *out = CopyBitMap(composite, d->bgpic->width, d->bgpic->height);
        *owned = true;
      }
      break;
    case kSnapDesktop:
      *out = GrabScreenBitMap(0, 0, GetScreenAttr(14), GetScreenAttr(15));
      *owned = true;
      break;
    default:
      return ERR_WRONGUSAGE;
  }
  return *out != nullptr ? 0 : ERR_MEM;
}

}  // namespace qv
