// Requesters: the dialogs that hold the calling thread until the user answers (a message with
// buttons, files, a directory, a text, a font, an entry of a list, a colour). The platform only
// shows them and hands back what the user did; what that means to a script (which number a button
// answers, how a pattern becomes a filter, what a cancel gives) is decided by the front ends in
// core/requesters.h.
//
// Who shows a requester is chosen afresh for every call, from the environment at that moment:
//   1. scripted, when QUILLVANE_REQUESTER_SCRIPT names a file: nothing is shown and each requester
//      takes the next line of the file as its answer ("!cancel" or the end of the file cancels);
//   2. zenity, when it is on PATH and DISPLAY or WAYLAND_DISPLAY is set;
//   3. SDL's message box, for message requesters only, once SDL's video runs;
//   4. headless: the title and body go to standard error and the requester is cancelled at once.
// When QUILLVANE_REQUESTER_LOG names a file, every requester appends one tab-separated line that
// describes it there, whoever shows it.
//
// Every function here blocks its caller until the requester closes, with the modal flag set
// meanwhile (the main loop keeps pumping). Script thread, or any thread that is not the main one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qv {

struct qvMessageAsk {
  std::string title;
  std::string body;
  std::vector<std::string> buttons;  // at least one, in the order shown
  int defaultButton = 1;             // from 1
  int icon = 0;                      // 0 none, 1 information, 2 error, 3 warning, 4 question
};

enum class FileAskMode { kOpen = 0, kOpenMultiple = 1, kSave = 2 };
struct qvFileAsk {
  std::string title;
  std::string filter;  // patterns separated by ";" ("*.png;*.jpg"), "*.*" for all files
  FileAskMode mode = FileAskMode::kOpen;
  std::string directory;  // where to start ("" none)
  std::string file;       // the name offered ("" none)
};

struct qvPathAsk {
  std::string title;
  std::string initialPath;
};

struct qvStringAsk {
  std::string title;
  std::string body;
  std::string text;  // the text offered
  int kind = 0;      // 0 any text, 3 numbers only
  int maximum = 0;   // characters
  bool password = false;
  // Whether the requester may close with this text (null: any text). A refused text is taken
  // back: the scripted requester reads its next line, a dialog is shown again.
  bool (*accept)(const std::string& text) = nullptr;
};

struct qvFontAsk {
  std::string title;
  std::string face;  // "" none
  int size = 0;      // points, 0 none
};
struct qvFontAnswer {
  std::string family;
  int size = 0;
  bool bold = false;
  bool italic = false;
};

struct qvListAsk {
  std::string title;
  std::string body;
  std::vector<std::string> entries;
  int initial = -1;  // selected at first, -1 none
};

struct qvColorAsk {
  std::string title;
  int64_t initial = -1;              // 0xRRGGBB, or -1 none
  const uint32_t* custom = nullptr;  // 16 custom colours 0xRRGGBB, kept by the caller
};

// Each returns true with the answer, or false when the user cancelled, when nothing could be
// shown, or when the answer makes no sense for the request (an index outside the list, a colour
// that is no RRGGBB): the caller then gives its cancel answer.
// *pressed: the button pressed, from 1 in the order given.
bool AskMessage(const qvMessageAsk& ask, int* pressed);
// *paths: one full path, several only in kOpenMultiple mode.
bool AskFile(const qvFileAsk& ask, std::vector<std::string>* paths);
bool AskPath(const qvPathAsk& ask, std::string* path);
bool AskString(const qvStringAsk& ask, std::string* text);
bool AskFont(const qvFontAsk& ask, qvFontAnswer* answer);
// *index: from 0, within the entries.
bool AskList(const qvListAsk& ask, int* index);
// *rgb: 0xRRGGBB.
bool AskColor(const qvColorAsk& ask, uint32_t* rgb);

// Non-zero while a requester (or a program that is waited for) holds the script thread: the
// window procedure then repaints the windows itself. Any thread.
int ModalDepth();
// Brackets such a wait. Any thread.
void EnterModal();
void LeaveModal();

}  // namespace qv
