// The front ends of the requesters: what a script's (or a plugin's) request becomes on the screen
// and what the user's answer means to it, whoever shows the requester (platform/requesters.h).
// Cancelling is an answer, not an error, except for the string requester. Script thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qv {

// Standard button sets of message requesters without a buttons text.
enum : int32_t {
  kMessageOkCancel = 0,     // OK answers 1, else 0
  kMessageYesNo = 1,        // Yes 1, else 0
  kMessageYesNoCancel = 2,  // Yes 1, No 2, else 0
  kMessageOk = 3,           // 1
};

// A message requester. With a buttons text ("Yes|No|Maybe") the buttons answer 1, 2, ... in
// order and the last one (and closing the requester) 0; without one, `kind` chooses a standard
// set. `defaultButton` counts from 1. *answer gets the answer. 0, or ERR_MEM.
int32_t MessageRequest(const char* title, const char* body, const char* buttons, int32_t kind,
                       int32_t defaultButton, int32_t icon, int32_t* answer);

// The filter of a file requester's pattern: "", "*" and "#?" mean all files ("*.*"); otherwise
// the extensions separated by "|" become "*.ext" joined by ";" (an extension that begins with a
// dot gets only the star).
std::string FilePatternFilter(const char* pattern);

enum : int32_t {
  kFileOpen = 0,
  kFileOpenMultiple = 1,
  kFileSave = 2,
};
// A file requester: *paths gets the chosen full paths (one, several only in kFileOpenMultiple
// mode), none when cancelled. Always 0.
int32_t FileRequest(const char* title, const char* pattern, int32_t mode, const char* directory,
                    const char* file, std::vector<std::string>* paths);

// A directory requester: *path gets the chosen path, "" when cancelled. Always 0.
int32_t PathRequest(const char* title, const char* initialPath, std::string* path);

enum : int32_t {
  kStringText = 0,
  kStringNumber = 3,
};
inline constexpr int32_t kStringLimit = 1024;
// Whether a text may stand in a numbers-only field while it is typed: a number with an optional
// "-" and at most one ".", or one of its beginnings "", "-", "." and "-.".
bool IsNumberInput(const std::string& text);
// A string requester offering `text` (cut to `maximum` characters; 0 or more than kStringLimit
// means kStringLimit); in kStringNumber kind only IsNumberInput texts are taken. *out gets the
// text, cut likewise. 0, or ERR_USERABORT when cancelled (*out is then "").
int32_t StringRequest(const char* title, const char* body, const char* text, int32_t kind,
                      int32_t maximum, bool password, std::string* out);

// The font requester's result.
struct qvFontChoice {
  std::string face;
  int32_t size = 0;       // points
  int32_t weight = 80;    // kWeightNormal or kWeightBold
  int32_t slant = 0;      // kSlantRoman or kSlantItalic
  int32_t italic = 0;     // 1 or 0
  int32_t bold = 0;       // 1 or 0
  int32_t underline = 0;  // never chosen here
  int32_t strikeout = 0;  // never chosen here
  uint32_t color = 0;     // 0xRRGGBB
};
enum : int32_t {
  kWeightNormal = 80,
  kWeightBold = 200,
  kSlantRoman = 0,
  kSlantItalic = 100,
};
// The font's name as scripts see it: the family, then the style word of a weight that is not
// normal, then that of a slant that is not roman ("DejaVu Sans Bold Italic").
std::string FontDisplayName(const qvFontChoice& font);
// A font requester: 0 with *chosen true and the font, or 0 with *chosen false when cancelled.
int32_t FontRequest(const char* title, const char* face, int32_t size, qvFontChoice* font,
                    bool* chosen);

// A list requester over the entries (an empty entry is shown as a blank); `initial` outside
// -1 .. n - 1 becomes -1. *index gets the entry chosen, or -1. Always 0.
int32_t ListRequest(const char* title, const char* body, const std::vector<std::string>& entries,
                    int32_t initial, int32_t* index);

// A colour requester starting at `initial` (0xRRGGBB, or -1) with the run's 16 custom colours;
// a chosen colour joins the custom colours. *rgb gets the colour and *chosen says whether one was
// chosen. Always 0.
int32_t ColorRequest(const char* title, int64_t initial, uint32_t* rgb, bool* chosen);

}  // namespace qv
