// The clipboard: text, and pictures as device-independent bitmaps (core/dib.h). While SDL's video
// runs, text goes through SDL's clipboard (on the main thread, whoever asks); otherwise, and for
// pictures, the clipboard is the player's own and lasts as long as the run. Any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qv {

// What the clipboard holds, as the CLIPBOARD_ numbers of scripts.
enum : int32_t {
  kClipboardEmpty = 0,
  kClipboardText = 1,
  kClipboardPicture = 2,
  kClipboardOther = 4,
};

// Each returns 0, or ERR_CLIPOPEN when the clipboard cannot be reached (ERR_CLIPREAD when what it
// holds cannot be read).
int32_t WriteClipboardText(const std::string& text);
int32_t WriteClipboardPicture(const std::vector<uint8_t>& dib);
int32_t ClearClipboardData();
// The kind of what the clipboard holds.
int32_t PeekClipboardType();
int32_t ReadClipboardText(std::string* text);
int32_t ReadClipboardPicture(std::vector<uint8_t>* dib);

}  // namespace qv
