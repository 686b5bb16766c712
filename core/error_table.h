// Error codes' script constant names, the built-in texts and the message formatter.
//
// A code (base/errors.h) becomes its message through the code-to-text-id table and the text
// table, which a locale catalog may override by id.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/errors.h"

namespace qv {

// Ids of the texts that the player uses outside error messages.
enum qvTextId : int32_t {
  kTextUnknownError = 91,        // "Unknown error code!"
  kTextCurrentLine = 92,         // "current line"
  kTextOk = 94,                  // "OK"
  kTextDone = 95,                // "done"
  kTextOpeningScript = 97,       // "Opening script %s"
  kTextPreparingDisplay = 99,    // "Preparing display"
  kTextCompilingScript = 106,    // "Compiling script"
  kTextLoadingPlugin = 107,      // "Loading plugin %s"
  kTextFailed = 108,             // "failed"
  kTextFile = 194,               // "File"
  kTextInFunction = 280,         // "In function"
  kTextOpeningFile = 286,        // "Opening file %s"
  kTextLoadingApplet = 287,      // "Loading applet %s"
  kTextSelectDisplayMode = 288,  // "Please select desired display mode!"
  kTextCancel = 307,             // "Cancel"
  kTextAndAction = 372,          // "And Action!"
  kTextDisplayModeChoice = 445,  // "Full screen|Windowed"
  kTextOpeningFont = 518,        // "Opening font %s"
  kTextLoadingSample = 519,      // "Loading sample %s"
  kTextLoadingMusic = 520,       // "Loading music %s"
  kTextLoadingVideo = 521,       // "Loading video %s"
  kTextPluginReason = 616,       // "(Reason: %s)\n"
};
// Text ids run from 0 to kLastTextId.
inline constexpr int32_t kLastTextId = 680;

struct qvErrorName {
  int32_t code;
  const char* name;
};
struct qvTextPair {
  int32_t id;
  const char* text;
};

// ERR_NONE and the 505 built-in codes with their names, in code order (for registering the
// script constants).
std::span<const qvErrorName> ErrorNames();
// The built-in texts, in id order.
std::span<const qvTextPair> BuiltinTexts();

// The text id of a built-in code; -1 for the codes whose whole message is the text argument
// (ERR_OPENFONT, ERR_ERRORCALLED); kTextUnknownError for numbers that are no built-in code.
int32_t ErrorTextId(int32_t code);
// The built-in text of an id, or null.
const char* GetBuiltinText(int32_t id);
// The player catalog's text of an id when it has one, else the built-in text, else null.
const char* GetErrorText(int32_t id);

// Declares an error with the given message text (copied) and returns its code: 1509 for the
// first, then counting up; ERR_MEM when memory runs out.
int32_t RegisterErrorName(const char* text);
// The text of a declared error, or null when no such code was declared.
const char* GetDeclaredErrorText(int32_t code);
// Forgets every declared error (shutdown).
void FreeDeclaredErrors();

// Writes the finished message of `code` into `out` (`size` bytes, always terminated, cut when
// too long) with the stored text argument for "%s" and the number argument for "%d"/"%ld".
// A text argument that is a virtual file name shows as its display name; so does any path for
// the file-reading and file-format errors. Returns the length written.
size_t FormatErrorTextWith(int32_t code, const char* textArg, int32_t numberArg, char* out,
                           size_t size);
// The same with the error arguments stored through SetErrorString and SetErrorNumber.
void FormatErrorText(int32_t code, char* out, size_t size);
// A text (a built-in or catalog text) with `textArg` for each "%s" and "%" for "%%"; every other
// "%" sequence stays as it stands. Cut to `size`; returns the length written.
size_t FormatTextArgument(const char* text, const char* textArg, char* out, size_t size);

}  // namespace qv
