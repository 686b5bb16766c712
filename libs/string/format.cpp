#include "libs/string/format.h"

#include <cstdio>
#include <cstring>

#include "base/errors.h"

namespace qv::strlib {

namespace {

constexpr size_t kMaxSpecLength = 18;
// Without a precision, a text this long is appended as it is, never through the C library.
constexpr size_t kLongText = 100;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Appends what snprintf makes of the conversion and one value, sized by a first call: "%.99f" of
// 1e308 is over 400 bytes, and a width may pad a long text.
template <typename T>
void AppendFormatted(std::string* out, const char* spec, T value) {
  char small[128];
  int n = std::snprintf(small, sizeof small, spec, value);
  if (n < 0) return;
  if (size_t(n) < sizeof small) {
    out->append(small, size_t(n));
    return;
  }
  size_t at = out->size();
  out->resize(at + size_t(n) + 1);
  std::snprintf(out->data() + at, size_t(n) + 1, spec, value);
  out->resize(at + size_t(n));
}

void AppendQuoted(std::string* out, std::string_view text) {
  out->push_back('"');
  for (char c : text) {
    switch (c) {
      case '"':
      case '\\':
      case '\n':
        out->push_back('\\');
        out->push_back(c);
        break;
      case '\0':
        out->append("\\000", 4);
        break;
      default:
        out->push_back(c);
    }
  }
  out->push_back('"');
}

}  // namespace

int32_t FormatTemplate(std::string_view tmpl, qvFormatValues& values, std::string* out) {
  const char* p = tmpl.data();
  const char* end = p + tmpl.size();
  int arg = 0;
  while (p < end) {
    if (*p != '%') {
      const char* next = static_cast<const char*>(std::memchr(p, '%', size_t(end - p)));
      if (next == nullptr) next = end;
      out->append(p, size_t(next - p));
      p = next;
      continue;
    }
    const char* specStart = p++;
    if (p < end && *p == '%') {
      out->push_back('%');
      ++p;
      continue;
    }
    while (p < end && std::strchr("-+ #0", *p) != nullptr && *p != '\0') ++p;
    for (int digits = 0; p < end && IsDigit(*p); ++digits, ++p) {
      if (digits == 2) return ERR_WRONGUSAGE;
    }
    bool precision = false;
    if (p < end && *p == '.') {
      precision = true;
      ++p;
      for (int digits = 0; p < end && IsDigit(*p); ++digits, ++p) {
        if (digits == 2) return ERR_WRONGUSAGE;
      }
    }
    if (p >= end) return ERR_WRONGUSAGE;
    char letter = *p++;
    size_t specLength = size_t(p - specStart);
    if (specLength > kMaxSpecLength) return ERR_WRONGUSAGE;
    char spec[kMaxSpecLength + 1];
    std::memcpy(spec, specStart, specLength);
    spec[specLength] = '\0';
    switch (letter) {
      case 'e':
      case 'E':
      case 'f':
      case 'g':
      case 'G':
        AppendFormatted(out, spec, values.Number(arg++));
        break;
      case 'x':
      case 'X':
      case 'o':
      case 'u':
        AppendFormatted(out, spec, unsigned(uint32_t(values.Integer(arg++))));
        break;
      case 'c':
      case 'd':
      case 'i':
        AppendFormatted(out, spec, int(values.Integer(arg++)));
        break;
      case 's': {
        std::string_view text = values.Text(arg++);
        if (!precision && text.size() >= kLongText) {
          out->append(text);
        } else {
          // The C library stops at a zero byte, as the conversion's text would.
          std::string copy(text);
          AppendFormatted(out, spec, copy.c_str());
        }
        break;
      }
      case 'q':
        AppendQuoted(out, values.Text(arg++));
        break;
      default:
        return ERR_WRONGUSAGE;
    }
  }
  return 0;
}

}  // namespace qv::strlib
