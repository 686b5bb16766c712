// The desktop's clipboard over X11 (the CLIPBOARD selection), for platform/os/clipboard.cpp: text
// as UTF8_STRING and STRING, pictures as "image/bmp" (a BMP file: a 14-byte file header before
// the device-independent bitmap), and notices of every change of its owner through XFixes. A
// thread of its own answers the other programs' requests while the player owns the clipboard.
// Built when Xlib and XFixes are found; otherwise every call answers "no X display". Any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qv {

// True when DISPLAY names an X display that opens (tried once, on the first call).
bool X11ClipboardAvailable();
// Makes the player the clipboard's owner with this text or picture (a device-independent bitmap).
// 0, or ERR_CLIPOPEN when the ownership cannot be had.
int32_t X11WriteClipboardText(const std::string& text);
int32_t X11WriteClipboardPicture(const std::vector<uint8_t>& dib);
// Leaves the clipboard without an owner: 0 or ERR_CLIPOPEN.
int32_t X11ClearClipboard();
// What the owner offers, as the kClipboard* numbers: a picture before text, 4 for anything else.
int32_t X11ClipboardType();
// The owner's text or picture (the bitmap without the BMP file header): 0, or ERR_CLIPREAD when it
// offers none or does not answer within a second.
int32_t X11ReadClipboardText(std::string* text);
int32_t X11ReadClipboardPicture(std::vector<uint8_t>* dib);
// Calls `changed` (on the clipboard's thread) whenever the clipboard gets a new owner, while on;
// off stops it. 0, or ERR_CLIPOPEN without an X display or the XFixes extension.
int32_t X11WatchClipboard(bool on, void (*changed)());
// Closes the connection and ends the thread (platform shutdown).
void CloseX11Clipboard();

}  // namespace qv
