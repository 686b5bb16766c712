// Brushes as pictures of the desktop: copied to and pasted from the clipboard (as a 24-bit
// device-independent bitmap, core/dib.h) and shown as the tray icon.
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "base/errors.h"
#include "core/dib.h"
#include "display/display.h"
#include "platform/clipboard.h"
#include "platform/desktop.h"

namespace qv {

int ReadBrushPicture(qvScriptState* L, qvObjectId id, std::vector<uint32_t>* argb, int32_t* width,
                     int32_t* height) {
  qvBrush* brush = nullptr;
  int code = FindBrush(L, id, &brush, kFindRasterOnly);
  if (code != 0) return code;
  std::unique_ptr<uint32_t, decltype(&std::free)> pixels(
      ReadBitMapARGB(brush->bitmap, brush->width, brush->height), &std::free);
  if (pixels == nullptr) return ERR_MEM;
  try {
    argb->assign(pixels.get(), pixels.get() + size_t(brush->width) * size_t(brush->height));
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
  *width = brush->width;
  *height = brush->height;
  return 0;
}

int CopyBrushToClipboard(qvScriptState* L, qvObjectId id) {
  std::vector<uint32_t> argb;
  int32_t width = 0, height = 0;
  int code = ReadBrushPicture(L, id, &argb, &width, &height);
  if (code != 0) return code;
  std::vector<uint8_t> dib;
  try {
    dib = EncodeDib(argb.data(), width, height, width);
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
  if (dib.empty()) return ERR_MEM;  // larger than any picture the clipboard carries
  return WriteClipboardPicture(dib);
}

int PasteClipboardBrush(qvObjectId* id, qvBrush** out) {
  std::vector<uint8_t> dib;
  int code = ReadClipboardPicture(&dib);
  if (code != 0) return code;
  int32_t width = 0, height = 0;
  std::vector<uint32_t> argb;
  try {
    if (!DecodeDib(dib.data(), dib.size(), &width, &height, &argb)) return ERR_CLIPREAD;
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
  qvBitMap* bitmap = nullptr;
  code = AllocBitMapFromARGB(argb.data(), kNoTransparentColour, width, height, width, &bitmap,
                             nullptr);
  if (code != 0) return code;
  code = AddBrush(id, true, kBrushRaster, width, height, width, 0, nullptr, bitmap,
                  kNoTransparentColour, nullptr, nullptr, out);
  if (code != 0) FreeBitMap(bitmap);
  return code;
}

int SetBrushTrayIcon(qvScriptState* L, qvObjectId id, const char* tooltip) {
  std::vector<uint32_t> argb;
  int32_t width = 0, height = 0;
  int code = ReadBrushPicture(L, id, &argb, &width, &height);
  if (code != 0) return code;
  return SetTrayIconPicture(argb.data(), width, height, tooltip);
}

}  // namespace qv
