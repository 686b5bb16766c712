// The requesters' front ends: the answer rules over whatever the platform shows.
#include "core/requesters.h"

#include <cstring>

#include "base/errors.h"
#include "platform/dialogs.h"

namespace qv {

namespace {

std::vector<std::string> Split(const char* text, char separator) {
  std::vector<std::string> parts;
  std::string current;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == separator) {
      parts.push_back(current);
      current.clear();
    } else {
      current += *p;
    }
  }
  parts.push_back(current);
  return parts;
}

const char* Text(const char* s) { return s != nullptr ? s : ""; }

// The run's custom colours of the colour requester; a new choice takes the next slot in turn.
uint32_t gCustomColors[16] = {0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF,
                              0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF,
                              0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF};
int gNextCustomColor = 0;

bool AcceptNumberInput(const std::string& text) { return IsNumberInput(text); }

}  // namespace

int32_t MessageRequest(const char* title, const char* body, const char* buttons, int32_t kind,
                       int32_t defaultButton, int32_t icon, int32_t* answer) {
  qvMessageAsk ask;
  ask.title = Text(title);
  ask.body = Text(body);
  ask.icon = icon;
  ask.defaultButton = defaultButton >= 1 ? defaultButton : 1;
  // What each button answers, by its position.
  std::vector<int32_t> answers;
  if (buttons != nullptr) {
    ask.buttons = Split(buttons, '|');
    for (size_t i = 0; i + 1 < ask.buttons.size(); ++i) answers.push_back(int32_t(i) + 1);
    answers.push_back(0);
  } else {
    switch (kind) {
      case kMessageYesNo:
        ask.buttons = {"Yes", "No"};
        answers = {1, 0};
        break;
      case kMessageYesNoCancel:
        ask.buttons = {"Yes", "No", "Cancel"};
        answers = {1, 2, 0};
        break;
      case kMessageOk:
        ask.buttons = {"OK"};
        answers = {1};
        break;
      default:
        ask.buttons = {"OK", "Cancel"};
        answers = {1, 0};
        break;
    }
  }
  if (ask.defaultButton > static_cast<int>(ask.buttons.size())) ask.defaultButton = 1;
  int pressed = 0;
  *answer = 0;
  if (AskMessage(ask, &pressed) && pressed >= 1 && pressed <= static_cast<int>(answers.size())) {
    *answer = answers[pressed - 1];
  }
  return 0;
}

std::string FilePatternFilter(const char* pattern) {
  const char* p = Text(pattern);
  if (*p == '\0' || std::strcmp(p, "*") == 0 || std::strcmp(p, "#?") == 0) return "*.*";
  std::string filter;
  for (const std::string& ext : Split(p, '|')) {
    if (!filter.empty()) filter += ';';
    filter += ext.starts_with('.') ? "*" + ext : "*." + ext;
  }
  return filter;
}

int32_t FileRequest(const char* title, const char* pattern, int32_t mode, const char* directory,
                    const char* file, std::vector<std::string>* paths) {
  qvFileAsk ask;
  ask.title = Text(title);
  ask.filter = FilePatternFilter(pattern);
  ask.mode = mode == kFileOpenMultiple ? FileAskMode::kOpenMultiple
             : mode == kFileSave       ? FileAskMode::kSave
                                       : FileAskMode::kOpen;
  ask.directory = Text(directory);
  ask.file = Text(file);
  paths->clear();
  if (!AskFile(ask, paths)) paths->clear();
  return 0;
}

int32_t PathRequest(const char* title, const char* initialPath, std::string* path) {
  qvPathAsk ask{Text(title), Text(initialPath)};
  if (!AskPath(ask, path)) path->clear();
  return 0;
}

bool IsNumberInput(const std::string& text) {
  size_t i = 0;
  if (i < text.size() && text[i] == '-') ++i;
  bool point = false;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c == '.' && !point) {
      point = true;
    } else if (c < '0' || c > '9') {
      return false;
    }
  }
  return true;
}

int32_t StringRequest(const char* title, const char* body, const char* text, int32_t kind,
                      int32_t maximum, bool password, std::string* out) {
  if (maximum <= 0 || maximum > kStringLimit) maximum = kStringLimit;
  qvStringAsk ask;
  ask.title = Text(title);
  ask.body = Text(body);
  ask.text = Text(text);
  if (ask.text.size() > static_cast<size_t>(maximum)) ask.text.resize(maximum);
  ask.kind = kind;
  ask.maximum = maximum;
  ask.password = password;
  if (kind == kStringNumber) ask.accept = AcceptNumberInput;
  if (!AskString(ask, out)) {
    out->clear();
    return ERR_USERABORT;
  }
  // The field holds no more than its maximum, whatever a backend handed back.
  if (out->size() > static_cast<size_t>(maximum)) out->resize(maximum);
  return 0;
}

std::string FontDisplayName(const qvFontChoice& font) {
  std::string name = font.face;
  if (font.weight != kWeightNormal) name += font.weight >= kWeightBold ? " Bold" : " Light";
  if (font.slant != kSlantRoman) name += " Italic";
  return name;
}

int32_t FontRequest(const char* title, const char* face, int32_t size, qvFontChoice* font,
                    bool* chosen) {
  qvFontAsk ask{Text(title), Text(face), size > 0 ? size : 0};
  qvFontAnswer answer;
  *chosen = AskFont(ask, &answer);
  *font = qvFontChoice{};
  if (!*chosen) return 0;
  font->face = answer.family;
  font->size = answer.size;
  font->bold = answer.bold ? 1 : 0;
  font->italic = answer.italic ? 1 : 0;
  font->weight = answer.bold ? kWeightBold : kWeightNormal;
  font->slant = answer.italic ? kSlantItalic : kSlantRoman;
  return 0;
}

int32_t ListRequest(const char* title, const char* body, const std::vector<std::string>& entries,
                    int32_t initial, int32_t* index) {
  qvListAsk ask;
  ask.title = Text(title);
  ask.body = Text(body);
  for (const std::string& e : entries) ask.entries.push_back(e.empty() ? " " : e);
  int32_t n = static_cast<int32_t>(entries.size());
  ask.initial = initial >= -1 && initial < n ? initial : -1;
  int chosen = -1;
  *index = AskList(ask, &chosen) && chosen >= 0 && chosen < n ? chosen : -1;
  return 0;
}

int32_t ColorRequest(const char* title, int64_t initial, uint32_t* rgb, bool* chosen) {
  qvColorAsk ask;
  ask.title = Text(title);
  ask.initial = initial >= 0 ? (initial & 0xFFFFFF) : -1;
  ask.custom = gCustomColors;
  uint32_t color = 0;
  *chosen = AskColor(ask, &color);
  *rgb = *chosen ? (color & 0xFFFFFF) : 0;
  if (*chosen) {
    bool known = false;
    for (uint32_t c : gCustomColors) known |= c == *rgb;
    if (!known) {
      gCustomColors[gNextCustomColor] = *rgb;
      gNextCustomColor = (gNextCustomColor + 1) % 16;
    }
  }
  return 0;
}

}  // namespace qv
