// The clipboard's X11 part where the player is built without Xlib: there is no X display.
#include "base/errors.h"
#include "platform/clipboard.h"
#include "platform/x11/x11_clipboard.h"

namespace qv {

bool X11ClipboardAvailable() { return false; }
int32_t X11WriteClipboardText(const std::string&) { return ERR_CLIPOPEN; }
int32_t X11WriteClipboardPicture(const std::vector<uint8_t>&) { return ERR_CLIPOPEN; }
int32_t X11ClearClipboard() { return ERR_CLIPOPEN; }
int32_t X11ClipboardType() { return kClipboardEmpty; }
int32_t X11ReadClipboardText(std::string*) { return ERR_CLIPREAD; }
int32_t X11ReadClipboardPicture(std::vector<uint8_t>*) { return ERR_CLIPREAD; }
int32_t X11WatchClipboard(bool, void (*)()) { return ERR_CLIPOPEN; }
void CloseX11Clipboard() {}

}  // namespace qv
