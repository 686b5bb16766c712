#include "core/options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>
#include <system_error>

#include "base/errors.h"
#include "base/support.h"
#include "core/error_table.h"
#include "core/vfile.h"
#include "platform/files.h"
#include "platform/process.h"

namespace qv {

namespace {

constexpr size_t kCommandLineSize = 4096;
constexpr size_t kIniNameLimit = 127;

// Copies `src` into a fixed field; false when it does not fit (the field is left alone).
template <size_t N>
bool CopyToField(char (&field)[N], std::string_view src) {
  if (src.size() >= N) return false;
  std::memcpy(field, src.data(), src.size());
  field[src.size()] = '\0';
  return true;
}

bool IsNameChar(char c) { return IsAlnumChar(static_cast<unsigned char>(c)) || c == '_'; }

void StoreProgramPath(qvPlayerState* state, const char* argv0) {
  char buffer[kPathSize];
  if (GetProgramPath(buffer, sizeof buffer)) {
    CopyToField(state->programPath, buffer);
    return;
  }
  if (argv0 == nullptr) return;
  CopyToField(state->programPath, GetFullPath(argv0, buffer, sizeof buffer) ? buffer : argv0);
}

// An absolute path, a path with a volume (":") or a path joined to the current directory.
std::string MakeAbsolute(const std::string& name) {
  if (name.find(':') != std::string::npos || (!name.empty() && name[0] == '/')) return name;
  char dir[kPathSize];
  if (!GetCurrentDir(dir, sizeof dir)) return name;
  std::string path = dir;
  if (!path.empty() && path.back() != '/') path += '/';
  return path + name;
}

// Reads a whole file through the file layer: 0, ERR_READFILE when it does not open, or ERR_MEM.
int ReadWholeFile(const char* name, std::string* text) {
  qvFile* file = OpenFileQ(name, kFileRead);
  if (file == nullptr) return ERR_READFILE;
  int result = 0;
  try {
    char block[4096];
    size_t got;
    while ((got = ReadFileQ(file, block, sizeof block)) > 0) text->append(block, got);
  } catch (const std::bad_alloc&) {
    result = ERR_MEM;
  }
  CloseFileQ(file);
  return result;
}

// The power of ten of the first significant digit of a decimal number text ("123" 2, "0.05e3"
// 1), the exponent kept within +-10^9; 0 for a text without one. Only its sign matters: it tells
// an overflow from an underflow.
int64_t DecimalExponent(const char* begin, const char* end) {
  const char* digitsEnd = begin;
  while (digitsEnd < end && ((*digitsEnd >= '0' && *digitsEnd <= '9') || *digitsEnd == '.')) {
    ++digitsEnd;
  }
  // The power of ten of the digit at p: the digits before the point count down to 0.
  int64_t place = std::find(begin, digitsEnd, '.') - begin - 1;
  const char* p = begin;
  for (; p < digitsEnd && (*p == '0' || *p == '.'); ++p) {
    if (*p == '0') --place;
  }
  if (p == digitsEnd) return 0;
  int64_t exponent = 0;
  if (digitsEnd < end && (*digitsEnd == 'e' || *digitsEnd == 'E')) {
    const char* q = digitsEnd + 1;
    bool negative = q < end && *q == '-';
    if (q < end && (*q == '+' || *q == '-')) ++q;
    for (; q < end && *q >= '0' && *q <= '9'; ++q) {
      exponent = std::min<int64_t>(exponent * 10 + (*q - '0'), 1000000000);
    }
    if (negative) exponent = -exponent;
  }
  return place + exponent;
}

// A switch's value in the INI file: "true", "yes", "on" or a non-zero leading integer.
int SwitchValue(const std::string& value) {
  const char* v = value.c_str();
  if (StrCaseCmp(v, "true") == 0 || StrCaseCmp(v, "yes") == 0 || StrCaseCmp(v, "on") == 0) return 1;
  if (*v == '-' || *v == '+') ++v;
  for (; *v >= '0' && *v <= '9'; ++v) {
    if (*v != '0') return 1;
  }
  return 0;
}

const char* Text(const qvOptionSlots& slots, int slot) {
  const auto& t = slots.slot[slot].text;
  return t ? t->c_str() : nullptr;
}

bool On(const qvOptionSlots& slots, int slot) { return slots.slot[slot].flag != 0; }

// Reads an optional numeric option into a 32-bit word, truncated toward zero.
int NumberOption(const qvOptionSlots& slots, int slot, int32_t* out) {
  const char* text = Text(slots, slot);
  if (text == nullptr) return 0;
  size_t length;
  int error;
  double v = ParseNumber(text, &length, &error);
  if (error != 0) return error;
  *out = DoubleToInt32(v);
  return 0;
}

// A scale size: a number, stored negated when "%" follows it.
int ScaleOption(const qvOptionSlots& slots, int slot, int32_t* out) {
  const char* text = Text(slots, slot);
  if (text == nullptr) return 0;
  size_t length;
  int error;
  double v = ParseNumber(text, &length, &error);
  if (error != 0) return error;
  *out = DoubleToInt32(v);
  if (text[length] == '%') *out = -*out;
  return 0;
}

int ApplyBackfill(const qvOptionSlots& slots, qvAppletSettings* settings) {
  static const struct {
    const char* name;
    int32_t type;
  } kTypes[] = {{"COLOR", kBackfillColor},
                {"RAINBOW", kBackfillGradient},
                {"GRADIENT", kBackfillGradient},
                {"TEXTURE", kBackfillTexture},
                {"PICTURE", kBackfillPicture}};
  const char* value = Text(slots, kSlotBackfill);
  int32_t type = 0;
  for (const auto& t : kTypes) {
    if (StrCaseCmp(value, t.name) == 0) {
      type = t.type;
      break;
    }
  }
  if (type == 0) return ERR_BACKFILL;
  const char* brush = Text(slots, kSlotBrush);
  const char* brushFile = Text(slots, kSlotBrushFile);
  bool start = Text(slots, kSlotStartColor) != nullptr;
  bool end = Text(slots, kSlotEndColor) != nullptr;
  if (brush != nullptr && brushFile != nullptr) return ERR_BACKFILL;
  if (type == kBackfillColor && !start) return ERR_BACKFILL;
  if (type == kBackfillGradient && !(start && end)) return ERR_BACKFILL;
  if ((type == kBackfillTexture || type == kBackfillPicture) && brush == nullptr &&
      brushFile == nullptr) {
    return ERR_BACKFILL;
  }
  qvBackfill& b = settings->backfill;
  b.type = type;
  if (int e = NumberOption(slots, kSlotBrush, &b.brushId)) return e;
  if (brushFile != nullptr && !CopyToField(b.file, brushFile)) return ERR_ARGS;
  if (int e = NumberOption(slots, kSlotStartColor, &b.startColor)) return e;
  return NumberOption(slots, kSlotEndColor, &b.endColor);
}

struct qvExeType {
  const char* name;
  uint32_t bit;
};

const qvExeType kExeTypes[] = {{"CLASSIC", 1},    {"CLASSICFPU", 2},   {"RETRO1", 4},
                               {"RETRO2", 16},    {"RETRO3", 8},       {"RETRO4", 32},
                               {"APPLET", 64},    {"WIN32", 128},      {"WIN32CONSOLE", 256},
                               {"LINUX", 512},    {"LINUXPPC", 16384}, {"MACOS", 1024},
                               {"MACOS86", 2048}, {"ANDROID", 4096},   {"IOS", 8192}};

// Words joined by "+"; a row matches a word that starts with its name followed by "+" or the end.
int ApplyExeType(const char* value, qvPlayerState* state) {
  state->exeTypes = 0;
  const char* p = value;
  for (;;) {
    const qvExeType* match = nullptr;
    for (const auto& t : kExeTypes) {
      size_t n = std::strlen(t.name);
      if (StrNCaseCmp(p, t.name, n) == 0 && (p[n] == '+' || p[n] == '\0')) {
        match = &t;
        break;
      }
    }
    if (match == nullptr) return ERR_EXETYPE;
    state->exeTypes |= match->bit;
    p += std::strlen(match->name);
    if (*p != '+') return 0;
    ++p;
  }
}

}  // namespace

const std::array<qvOption, kOptionCount> kOptionTable = {{
    {"WINDOW", kSlotWindow, false},
    {"BORDERLESS", kSlotBorderless, false},
    {"SIZEABLE", kSlotSizeable, false},
    {"FIXED", kSlotFixed, false},
    {"NOHIDE", kSlotNoHide, false},
    {"FULLSCREEN", kSlotFullScreen, false},
    {"FAKEFULLSCREEN", kSlotFakeFullScreen, false},
    {"OWNSCREEN", kSlotOwnScreen, false},
    {"SCRWIDTH", kSlotScrWidth, true},
    {"SCRHEIGHT", kSlotScrHeight, true},
    {"DEPTH", kSlotDepth, true},
    {"HIDEPOINTER", kSlotHidePointer, false},
    {"NOMODESWITCH", kSlotNoModeSwitch, false},
    {"BACKFILL", kSlotBackfill, true},
    {"STARTCOLOR", kSlotStartColor, true},
    {"ENDCOLOR", kSlotEndColor, true},
    {"BRUSHFILE", kSlotBrushFile, true},
    {"BRUSH", kSlotBrush, true},
    {"SCALEPICTURE", kSlotScalePicture, false},
    {"PICXPOS", kSlotPicXPos, true},
    {"PICYPOS", kSlotPicYPos, true},
    {"PICTRANS", kSlotPicTrans, true},
    {"HIDETITLEBAR", kSlotHideTitleBar, false},
    {"COMPILE", kSlotCompile, true},
    {"EXETYPE", kSlotExeType, true},
    {"COMPRESS", kSlotCompress, false},
    {"OVERWRITE", kSlotOverwrite, false},
    {"LOCKSETTINGS", kSlotLockSettings, false},
    {"LINKFILES", kSlotLinkFiles, true},
    {"LINKFONTS", kSlotLinkFonts, true},
    {"ICON16X16", kSlotIcon16, true},
    {"ICON24X24", kSlotIcon16 + 1, true},
    {"ICON32X32", kSlotIcon16 + 2, true},
    {"ICON48X48", kSlotIcon16 + 3, true},
    {"ICON128X128", kSlotIcon16 + 4, true},
    {"ICON256X256", kSlotIcon16 + 5, true},
    {"ICON512X512", kSlotIcon16 + 6, true},
    {"AUTOSCALE", kSlotAutoScale, false},
    {"LAYERSCALE", kSlotLayerScale, false},
    {"SCALEWIDTH", kSlotScaleWidth, true},
    {"SCALEHEIGHT", kSlotScaleHeight, true},
    {"SMOOTHSCALE", kSlotSmoothScale, false},
    {"KEEPPROPORTIONS", kSlotKeepProportions, false},
    {"FITSCALE", kSlotFitScale, false},
    {"EXPORTCOMMANDS", kSlotExportCommands, true},
    {"EXPORTCONSTANTS", kSlotExportConstants, true},
    {"EXPORTPLUGINS", kSlotExportPlugins, true},
    {"QUIET", kSlotQuiet, false},
    {"NOSOUND", kSlotNoSound, false},
    {"SKIPPLUGINS", kSlotSkipPlugins, true},
    {"DEBUGDEVICE", kSlotDebugDevice, true},
    {"PRIVATE1", kSlotExportCommands, true},
    {"PRIVATE2", kSlotExportConstants, true},
    {"PRIVATE3", kSlotPrivate3, true},
    {"SCRIPTALIAS", kSlotScriptAlias, true},
}};

const qvOption* FindOption(const char* name, size_t length) {
  for (const auto& o : kOptionTable) {
    if (std::strlen(o.name) == length && StrNCaseCmp(o.name, name, length) == 0) return &o;
  }
  return nullptr;
}

int ParseArguments(int argc, const char* const* argv, qvPlayerState* state, qvOptionSlots* slots) {
  StoreProgramPath(state, argc > 0 ? argv[0] : nullptr);

  // One line of the words: options as they stand, every other word in double quotes. A word
  // that holds a double quote itself cannot be told apart from its neighbours in that line.
  std::string line;
  for (int i = 1; i < argc; ++i) {
    const char* word = argv[i];
    if (i > 1) line += ' ';
    if (word[0] == '-') {
      line += word;
    } else {
      if (std::strchr(word, '"') != nullptr) return ERR_ARGS;
      line += '"';
      line += word;
      line += '"';
    }
    if (line.size() >= kCommandLineSize) return ERR_ARGS;
  }

  const qvOption* waitingOption = nullptr;
  qvUserArgument* waitingUser = nullptr;
  size_t i = 0;
  const size_t n = line.size();
  while (i < n) {
    char c = line[i];
    if (c == ' ') {
      ++i;
      continue;
    }
    if (c == '-') {
      if (waitingOption != nullptr) return ERR_ARGS;
      size_t start = ++i;
      while (i < n && IsNameChar(line[i])) ++i;
      if (i == start) return ERR_ARGS;
      waitingUser = nullptr;
      if (const qvOption* option = FindOption(&line[start], i - start)) {
        if (option->takesArgument) {
          waitingOption = option;
        } else {
          slots->slot[option->slot].flag = 1;
        }
      } else {
        state->userArguments.push_back({line.substr(start, i - start), std::string()});
        waitingUser = &state->userArguments.back();
      }
      continue;
    }
    std::string value;
    if (c == '"') {
      size_t close = line.find('"', i + 1);
      if (close == std::string::npos) return ERR_ARGS;
      value = line.substr(i + 1, close - i - 1);
      i = close + 1;
    } else {
      size_t end = line.find(' ', i);
      if (end == std::string::npos) end = n;
      value = line.substr(i, end - i);
      i = end;
    }
    if (waitingOption != nullptr) {
      slots->slot[waitingOption->slot].text = std::move(value);
      waitingOption = nullptr;
    } else if (waitingUser != nullptr) {
      waitingUser->value = std::move(value);
      waitingUser = nullptr;
    } else if (!slots->slot[kSlotScript].text) {
      slots->slot[kSlotScript].text = std::move(value);
    } else {
      return ERR_ARGS;
    }
  }
  if (waitingOption != nullptr) return ERR_ARGS;

  const char* script = Text(*slots, kSlotScript);
  if (script == nullptr) return ERR_CONFIG;
  if (!CopyToField(state->scriptPath, script) || !CopyToField(state->givenScriptName, script)) {
    return ERR_ARGS;
  }
  if (const char* compile = Text(*slots, kSlotCompile)) {
    if (!CopyToField(state->compileTarget, MakeAbsolute(compile))) return ERR_ARGS;
  }
  return 0;
}

std::string IniFileName(const char* scriptPath) {
  std::string name = scriptPath;
  size_t filePart = name.find_last_of("/\\");
  filePart = filePart == std::string::npos ? 0 : filePart + 1;
  size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot >= filePart) name.erase(dot);
  return name + ".ini";
}

int ReadIniFile(qvOptionSlots* slots, qvPlayerState* state) {
  std::string name = IniFileName(state->scriptPath);
  std::string text;
  int read = ReadWholeFile(name.c_str(), &text);
  if (read != 0) return read == ERR_READFILE ? 0 : read;

  const size_t n = text.size();
  // Editors that save UTF-8 may start the file with a byte-order mark.
  size_t i = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  auto skipBlanks = [&] {
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
  };
  while (i < n) {
    char c = text[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
      continue;
    }
    if (c == '#' || c == '[') {
      while (i < n && text[i] != '\n') ++i;
      continue;
    }
    if (!IsLetterChar(static_cast<unsigned char>(c))) return ERR_INISYNTAX;
    size_t start = i;
    while (i < n && IsNameChar(text[i])) ++i;
    if (i - start > kIniNameLimit) return ERR_INISYNTAX;
    std::string key = text.substr(start, i - start);
    skipBlanks();
    if (i >= n || text[i] != '=') return ERR_INISYNTAX;
    ++i;
    skipBlanks();
    std::string value;
    if (i < n && text[i] == '"') {
      size_t j = i + 1;
      while (j < n && text[j] != '"') {
        if (text[j] == '\r' || text[j] == '\n') return ERR_INISYNTAX;
        ++j;
      }
      if (j >= n) return ERR_INISYNTAX;
      value = text.substr(i + 1, j - i - 1);
      i = j + 1;
    } else {
      size_t j = i;
      while (j < n && text[j] != '\r' && text[j] != '\n') ++j;
      size_t end = j;
      while (end > i && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
      value = text.substr(i, end - i);
      i = j;
    }
    if (const qvOption* option = FindOption(key.data(), key.size())) {
      if (option->takesArgument) {
        slots->slot[option->slot].text = std::move(value);
      } else {
        slots->slot[option->slot].flag = SwitchValue(value);
      }
    } else {
      state->userArguments.push_back({std::move(key), std::move(value)});
    }
  }
  return 0;
}

double ParseNumber(const char* text, size_t* length, int* error) {
  const char* p = text;
  bool negative = false;
  *error = 0;
  if (*p == '-') {
    negative = true;
    ++p;
  }
  int radix = 0;
  if (*p == '$') {
    radix = 16;
    ++p;
    if (*p == '-') {
      negative = !negative;
      ++p;
    }
  } else if (*p == '%') {
    radix = 2;
    ++p;
  } else if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    radix = 16;
    p += 2;
  }
  double value;
  if (radix != 0) {
    // Read as an unsigned 32-bit number: further digits push the high ones out.
    uint32_t v = 0;
    const char* digits = p;
    for (;; ++p) {
      int d;
      if (*p >= '0' && *p <= '9') {
        d = *p - '0';
      } else if (*p >= 'a' && *p <= 'f') {
        d = *p - 'a' + 10;
      } else if (*p >= 'A' && *p <= 'F') {
        d = *p - 'A' + 10;
      } else {
        break;
      }
      if (d >= radix) break;
      v = v * static_cast<uint32_t>(radix) + static_cast<uint32_t>(d);
    }
    if (p == digits) {
      *error = ERR_SYNTAXERROR;
      *length = static_cast<size_t>(p - text);
      return 0.0;
    }
    value = v;
  } else {
    bool digit = *p >= '0' && *p <= '9';
    bool pointDigit = *p == '.' && p[1] >= '0' && p[1] <= '9';
    if (!digit && !pointDigit) {
      *error = ERR_VALUEEXPECTED;
      *length = 0;
      return 0.0;
    }
    auto r = std::from_chars(p, p + std::strlen(p), value, std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range) {
      // Read as the C library reads it: too large is infinity, too small is 0.
      value = DecimalExponent(p, r.ptr) > 0 ? HUGE_VAL : 0.0;
    } else if (r.ec != std::errc()) {
      *error = ERR_VALUEEXPECTED;
      *length = 0;
      return 0.0;
    }
    p = r.ptr;
  }
  *length = static_cast<size_t>(p - text);
  return negative ? -value : value;
}

int ReadLinkDatabase(const char* name, qvAppletSettings* settings, bool fontFlag) {
  static constexpr char kFontPrefix[] = "::font:";
  static constexpr char kFontSuffix[] = ".font";
  constexpr size_t kSuffixLength = sizeof kFontSuffix - 1;
  std::string text;
  if (int e = ReadWholeFile(name, &text)) {
    if (e == ERR_READFILE) SetErrorString(name);
    return e;
  }
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    char c = text[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
      continue;
    }
    std::string entry;
    if (c == '"') {
      size_t close = text.find_first_of("\"\r\n", i + 1);
      if (close == std::string::npos || text[close] != '"') return ERR_LFSYNTAX;
      entry = text.substr(i + 1, close - i - 1);
      i = close + 1;
    } else {
      size_t end = text.find_first_of(" \t\r\n", i);
      if (end == std::string::npos) end = n;
      entry = text.substr(i, end - i);
      i = end;
    }
    // The rest of the line may hold only blanks.
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i < n && text[i] == '\r') ++i;
    if (i < n && text[i] != '\n') return ERR_LFSYNTAX;

    qvLinkedFile file;
    file.sourcePath = entry;
    if (fontFlag) {
      if (entry.size() >= kSuffixLength &&
          StrCaseCmp(entry.c_str() + entry.size() - kSuffixLength, kFontSuffix) == 0) {
        entry.resize(entry.size() - kSuffixLength);
      }
      entry.insert(0, kFontPrefix);
    }
    // A font named only ".font" is as empty as "".
    if (entry.empty() || entry == kFontPrefix || entry.size() >= kPathSize) return ERR_LFSYNTAX;
    bool listed = std::any_of(settings->linkedFiles.begin(), settings->linkedFiles.end(),
                              [&](const qvLinkedFile& known) {
                                return ComparePaths(known.name.c_str(), entry.c_str()) == 0;
                              });
    if (listed) continue;
    file.name = std::move(entry);
    try {
      settings->linkedFiles.push_back(std::move(file));
    } catch (const std::bad_alloc&) {
      return ERR_MEM;
    }
  }
  return 0;
}

int ApplyOptions(const qvOptionSlots& slots, qvPlayerState* state, qvAppletSettings* settings) {
  // COMPILE is only recorded here: the run refuses it once the main chunk has loaded.
  if (Text(slots, kSlotCompile) != nullptr) state->compileRequested = 1;

  if (On(slots, kSlotWindow)) settings->displayMode = kDisplayModeWindow;
  if (On(slots, kSlotHideTitleBar)) settings->hideTitleBar = 1;

  static const struct {
    int slot;
    uint32_t flag;
  } kFlags[] = {{kSlotBorderless, kDisplayBorderless},
                {kSlotSizeable, kDisplaySizeable},
                {kSlotFixed, kDisplayFixed},
                {kSlotNoModeSwitch, kDisplayNoModeSwitch},
                {kSlotHidePointer, kDisplayHidePointer},
                {kSlotNoHide, kDisplayNoHide},
                {kSlotAutoScale, kDisplayAutoScale},
                {kSlotLayerScale, kDisplayLayerScale},
                {kSlotKeepProportions, kDisplayKeepProportions},
                {kSlotFitScale, kDisplayFitScale}};
  if (On(slots, kSlotAutoScale) && On(slots, kSlotLayerScale)) return ERR_ARGS;
  for (const auto& f : kFlags) {
    if (On(slots, f.slot)) settings->displayFlags |= f.flag;
  }
  bool scaling = On(slots, kSlotAutoScale) || On(slots, kSlotLayerScale);
  if (scaling && On(slots, kSlotSmoothScale)) settings->displayFlags |= kDisplaySmoothScale;

  if (On(slots, kSlotOverwrite)) state->overwrite = 1;
  if (On(slots, kSlotLockSettings)) state->lockSettings = 1;
  if (On(slots, kSlotCompress)) state->compress = 1;

  if (scaling) {
    if (int e = ScaleOption(slots, kSlotScaleWidth, &settings->scaleWidth)) return e;
    if (int e = ScaleOption(slots, kSlotScaleHeight, &settings->scaleHeight)) return e;
  }

  int screens = 0;
  if (On(slots, kSlotOwnScreen)) {
    settings->displayMode = kDisplayModeOwnScreen;
    ++screens;
  }
  if (On(slots, kSlotFakeFullScreen)) {
    settings->displayMode = kDisplayModeFakeFullScreen;
    ++screens;
  }
  if (On(slots, kSlotFullScreen)) {
    settings->displayMode = kDisplayModeFullScreen;
    ++screens;
  }
  if (screens > 1) return ERR_ARGS;

  if (int e = NumberOption(slots, kSlotDepth, &settings->depth)) return e;
  if (int e = NumberOption(slots, kSlotScrWidth, &settings->screenWidth)) return e;
  if (int e = NumberOption(slots, kSlotScrHeight, &settings->screenHeight)) return e;

  if (Text(slots, kSlotBackfill) != nullptr) {
    if (int e = ApplyBackfill(slots, settings)) return e;
  }
  if (On(slots, kSlotScalePicture)) settings->backfill.scalePicture = 1;
  if (int e = NumberOption(slots, kSlotPicXPos, &settings->backfill.pictureX)) return e;
  if (int e = NumberOption(slots, kSlotPicYPos, &settings->backfill.pictureY)) return e;
  if (int e = NumberOption(slots, kSlotPicTrans, &settings->backfill.transparentColor)) return e;

  if (On(slots, kSlotQuiet)) state->quiet = 1;
  if (On(slots, kSlotNoSound)) state->noSound = 1;

  if (const char* exeType = Text(slots, kSlotExeType)) {
    if (int e = ApplyExeType(exeType, state)) return e;
  }

  if (const char* t = Text(slots, kSlotExportCommands)) state->exportCommands = t;
  if (const char* t = Text(slots, kSlotExportConstants)) state->exportConstants = t;
  if (const char* t = Text(slots, kSlotExportPlugins)) state->exportPlugins = t;
  if (const char* t = Text(slots, kSlotSkipPlugins)) {
    std::string_view list = t;
    while (!list.empty()) {
      size_t bar = list.find('|');
      std::string_view item = list.substr(0, bar);
      if (!item.empty()) state->skipPlugins.emplace_back(item);
      list = bar == std::string_view::npos ? std::string_view() : list.substr(bar + 1);
    }
  }

  if (const char* t = Text(slots, kSlotPrivate3)) state->private3 = t;
  if (const char* t = Text(slots, kSlotScriptAlias)) {
    if (!CopyToField(state->scriptAlias, t)) return ERR_ARGS;
  }

  // The link databases only serve a compile run, which ends the run (ERR_PLAYERCOMP) once the
  // main chunk has loaded; a database that cannot be read ends it here already.
  if (state->compileRequested) {
    if (const char* t = Text(slots, kSlotLinkFiles)) {
      if (int e = ReadLinkDatabase(t, settings, false)) return e;
    }
    if (const char* t = Text(slots, kSlotLinkFonts)) {
      if (int e = ReadLinkDatabase(t, settings, true)) return e;
    }
  }

  if (const char* t = Text(slots, kSlotDebugDevice)) {
    state->debugDevice = 1;
    state->debugDeviceTarget = t;
  }

  // Icon files are only recorded (they serve a compile run): the full path when the file
  // exists, else the name as given.
  for (int i = 0; i < kIconSizeCount; ++i) {
    const char* name = Text(slots, kSlotIcon16 + i);
    if (name == nullptr) continue;
    char full[kPathSize];
    state->iconPaths[i] = GetRealPath(name, full, sizeof full) ? full : name;
  }
  return 0;
}

}  // namespace qv
