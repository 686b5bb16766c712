// The printf-like templates of FormatStr, apart from the script machine: the values come through
// an interface, so the fuzz target and tests drive the formatter directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qv::strlib {

// The values of one template, the first spec taking value 0. A reader that cannot give the
// value (missing, wrong type) does not return (the machine's argument checks raise).
class qvFormatValues {
 public:
  virtual double Number(int i) = 0;          // "e", "E", "f", "g", "G"
  virtual int32_t Integer(int i) = 0;        // "c", "d", "i", "o", "u", "x", "X": the 32-bit word
  virtual std::string_view Text(int i) = 0;  // "s", "q"

 protected:
  ~qvFormatValues() = default;
};

// Appends the template's text to *out. A spec is "%", flags from "-+ #0", a width of at most
// two digits, optionally "." and a precision of at most two digits, and a letter; "%%" is "%".
// Returns 0, or ERR_WRONGUSAGE for a third digit, a spec of 19 characters or more, an unknown
// letter or a "%" at the end. May throw std::bad_alloc.
int32_t FormatTemplate(std::string_view tmpl, qvFormatValues& values, std::string* out);

}  // namespace qv::strlib
