// The dialog backends of the platform and what they share: dialogs.cpp picks one per call,
// logs the call and holds the modal flag around it.
#pragma once

#include <string>
#include <vector>

#include "platform/dialogs.h"

namespace qv {

// Shows requesters one way. Each returns true with the answer, false for the cancel answer.
class RequesterBackend {
 public:
  virtual ~RequesterBackend() = default;
  virtual bool Message(const qvMessageAsk& ask, int* pressed) = 0;
  virtual bool File(const qvFileAsk& ask, std::vector<std::string>* paths) = 0;
  virtual bool Path(const qvPathAsk& ask, std::string* path) = 0;
  virtual bool String(const qvStringAsk& ask, std::string* text) = 0;
  virtual bool Font(const qvFontAsk& ask, qvFontAnswer* answer) = 0;
  virtual bool List(const qvListAsk& ask, int* index) = 0;
  virtual bool Color(const qvColorAsk& ask, uint32_t* rgb) = 0;
};

// Answers from the lines of a file, kept open (and read on) while the same file is named.
RequesterBackend* ScriptedRequesters(const std::string& scriptPath);
// zenity at that path, run without a shell.
RequesterBackend* ZenityRequesters(const std::string& zenityPath);
// Says the requester on standard error and cancels it.
RequesterBackend* HeadlessRequesters();

// SDL's message box (sdl/sdl_message_box.cpp): true once SDL's video runs, and the button pressed
// (from 1); false when it cannot be shown or was closed without a button. The box: main thread.
bool SdlVideoRunning();
bool ShowSdlMessageBox(const qvMessageAsk& ask, int* pressed);
// SDL's clipboard text (sdl/sdl_clipboard.cpp); main thread only.
int SdlSetClipboardText(const std::string& text);
bool SdlHasClipboardText();
bool SdlGetClipboardText(std::string* text);

// Helpers of the backends: the text of a 0xRRGGBB colour as "RRGGBB", and its reverse (false for
// anything but six hexadecimal digits, after an optional "#").
std::string ColorText(uint32_t rgb);
bool ParseColorText(const std::string& text, uint32_t* rgb);

}  // namespace qv
