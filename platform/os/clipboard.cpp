// The clipboard: the X display's where there is one (the X11 part), else SDL's for text while
// SDL's video runs, else the player's own.
#include "platform/clipboard.h"

#include <mutex>

#include "base/errors.h"
#include "platform/os/dialog_backends.h"
#include "platform/os/internal.h"
#include "platform/x11/x11_clipboard.h"

namespace qv {

namespace {

std::mutex gMutex;
int32_t gType = kClipboardEmpty;
std::string gText;
std::vector<uint8_t> gPicture;

struct TextCall {
  const std::string* in;
  std::string* out;
};

int SetOnMain(void* arg) { return SdlSetClipboardText(*static_cast<TextCall*>(arg)->in); }
int HasOnMain(void*) { return SdlHasClipboardText() ? 1 : 0; }
int GetOnMain(void* arg) { return SdlGetClipboardText(static_cast<TextCall*>(arg)->out) ? 1 : 0; }

bool UseSdl() { return SdlVideoRunning(); }

void ForgetOwn() {
  gType = kClipboardEmpty;
  gText.clear();
  gPicture.clear();
}

}  // namespace

int32_t WriteClipboardText(const std::string& text) {
  std::lock_guard<std::mutex> lock(gMutex);
  if (X11ClipboardAvailable()) return X11WriteClipboardText(text);
  if (UseSdl()) {
    TextCall call{&text, nullptr};
    if (RunOnMainThread(SetOnMain, &call) != 0) return ERR_CLIPOPEN;
    ForgetOwn();  // SDL's clipboard answers from now on
    return 0;
  }
  gType = kClipboardText;
  gText = text;
  gPicture.clear();
  return 0;
}

int32_t WriteClipboardPicture(const std::vector<uint8_t>& dib) {
  std::lock_guard<std::mutex> lock(gMutex);
  if (X11ClipboardAvailable()) return X11WriteClipboardPicture(dib);
  gType = kClipboardPicture;
  gPicture = dib;
  gText.clear();
  return 0;
}

int32_t ClearClipboardData() {
  std::lock_guard<std::mutex> lock(gMutex);
  if (X11ClipboardAvailable()) return X11ClearClipboard();
  if (UseSdl()) {
    std::string empty;
    TextCall call{&empty, nullptr};
    if (RunOnMainThread(SetOnMain, &call) != 0) return ERR_CLIPOPEN;
  }
  ForgetOwn();
  return 0;
}

int32_t PeekClipboardType() {
  std::lock_guard<std::mutex> lock(gMutex);
  if (X11ClipboardAvailable()) return X11ClipboardType();
  if (gType == kClipboardPicture) return gType;
  if (UseSdl()) return RunOnMainThread(HasOnMain, nullptr) != 0 ? kClipboardText : kClipboardEmpty;
  return gType;
}

int32_t ReadClipboardText(std::string* text) {
  std::lock_guard<std::mutex> lock(gMutex);
  text->clear();
  if (X11ClipboardAvailable()) return X11ReadClipboardText(text);
  if (gType != kClipboardPicture && UseSdl()) {
    TextCall call{nullptr, text};
    return RunOnMainThread(GetOnMain, &call) != 0 ? 0 : ERR_CLIPREAD;
  }
  if (gType != kClipboardText) return ERR_CLIPREAD;
  *text = gText;
  return 0;
}

int32_t ReadClipboardPicture(std::vector<uint8_t>* dib) {
  std::lock_guard<std::mutex> lock(gMutex);
  if (X11ClipboardAvailable()) return X11ReadClipboardPicture(dib);
  if (gType != kClipboardPicture) return ERR_CLIPREAD;
  *dib = gPicture;
  return 0;
}

}  // namespace qv
