// Options of the player: the option table that serves the command line and the INI file, the
// parsers for both, and ApplyOptions, which turns the parsed slots into fields of the player
// state and the applet settings.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>

#include "core/player_state.h"

namespace qv {

struct qvOption {
  const char* name;
  int slot;
  bool takesArgument;
};

constexpr int kOptionCount = 55;
constexpr int kOptionSlotCount = 69;
extern const std::array<qvOption, kOptionCount> kOptionTable;

// Slot numbers of the option table. Slot 0 holds the script name. PRIVATE1 and PRIVATE2 share
// the slots of EXPORTCOMMANDS and EXPORTCONSTANTS.
enum : int {
  kSlotScript = 0,
  kSlotWindow = 1,
  kSlotBorderless = 2,
  kSlotSizeable = 3,
  kSlotBackfill = 4,
  kSlotHideTitleBar = 5,
  kSlotBrush = 6,
  kSlotStartColor = 7,
  kSlotEndColor = 8,
  kSlotDepth = 9,
  kSlotCompile = 10,
  kSlotQuiet = 11,
  kSlotBrushFile = 13,
  kSlotFixed = 15,
  kSlotNoSound = 16,
  kSlotExeType = 17,
  kSlotScalePicture = 18,
  kSlotPicXPos = 19,
  kSlotPicYPos = 20,
  kSlotPicTrans = 21,
  kSlotFullScreen = 22,
  kSlotExportCommands = 23,
  kSlotExportConstants = 24,
  kSlotNoHide = 26,
  kSlotOwnScreen = 27,
  kSlotScrWidth = 28,
  kSlotScrHeight = 29,
  kSlotFakeFullScreen = 30,
  kSlotHidePointer = 31,
  kSlotNoModeSwitch = 32,
  kSlotLinkFiles = 33,
  kSlotDebugDevice = 34,
  kSlotCompress = 35,
  kSlotOverwrite = 36,
  kSlotAutoScale = 37,
  kSlotScaleWidth = 38,
  kSlotScaleHeight = 39,
  kSlotSmoothScale = 40,
  kSlotLayerScale = 41,
  kSlotLockSettings = 48,
  kSlotLinkFonts = 49,
  kSlotPrivate3 = 50,
  kSlotScriptAlias = 52,
  kSlotIcon16 = 53,  // ICON16X16 to ICON512X512 take slots 53 to 59
  kSlotKeepProportions = 60,
  kSlotFitScale = 61,
  kSlotExportPlugins = 65,
  kSlotSkipPlugins = 66,
};

// One option slot: a switch holds 1 when set (the INI file may also store 0); an option that
// takes an argument holds its value text.
struct qvOptionValue {
  int flag = 0;
  std::optional<std::string> text;
};

struct qvOptionSlots {
  std::array<qvOptionValue, kOptionSlotCount> slot;
};

// Looks an option name up without regard to case; null when it names no option.
const qvOption* FindOption(const char* name, size_t length);

// Parses the command line into the slots (values of options, the script name in slot 0) and
// the player state (program path, script path, given name, user arguments, compile target).
// Returns 0, ERR_CONFIG (no script word) or ERR_ARGS (wrong arguments).
int ParseArguments(int argc, const char* const* argv, qvPlayerState* state, qvOptionSlots* slots);

// The INI file's name for a script path: the extension of its file part replaced by ".ini".
std::string IniFileName(const char* scriptPath);

// Reads the INI file named after the state's script path (a name of the file layer, so "\"
// and "PROGDIR:" work), storing its values over those of the command line. Returns 0 (also when
// there is no INI file), ERR_MEM or ERR_INISYNTAX.
int ReadIniFile(qvOptionSlots* slots, qvPlayerState* state);

// Reads a number as the options write them: decimal, "$" or "0x" hexadecimal, "%" binary, each with
// an optional leading "-". A decimal beyond a double's range reads as an infinity or 0, with all
// its characters. `length` receives the characters consumed, `error` 0, ERR_SYNTAXERROR (a prefix
// without digits) or ERR_VALUEEXPECTED (no number).
double ParseNumber(const char* text, size_t* length, int* error);

// Turns the slots into the fields of the player state and the applet settings. Returns 0 or
// the error code of the first setting that fails.
int ApplyOptions(const qvOptionSlots& slots, qvPlayerState* state, qvAppletSettings* settings);

// Reads a link database, one file name per line (a plain word, or a double-quoted text that may
// hold blanks), and adds each name not yet listed to the settings' linked files; with `fontFlag`
// the names are fonts ("x.font" is the font "x"), recorded as "::font:" and the name. Returns 0,
// ERR_MEM, ERR_READFILE (the database's name stored as the error's text argument) when it cannot be
// read, or ERR_LFSYNTAX for a line with more than one name, an unclosed quote, an empty name or a
// record name of more than 1023 characters.
int ReadLinkDatabase(const char* name, qvAppletSettings* settings, bool fontFlag);

}  // namespace qv
