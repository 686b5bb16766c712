// FormatStr: the template through the formatter, the values read with the machine's checks.
#include <string>

#include "core/args.h"
#include "libs/string/commands.h"
#include "libs/string/format.h"
#include "libs/string/string_args.h"
#include "vm/auxlib.h"
#include "vm/vm.h"

namespace qv::cmd {

namespace {

// Value i of the template is argument i + 2.
class ArgumentValues final : public strlib::qvFormatValues {
 public:
  explicit ArgumentValues(qvScriptState* L) : L_(L) {}
  double Number(int i) override { return VmCheckNumber(L_, i + 2); }
  int32_t Integer(int i) override { return VmCheckInt(L_, i + 2); }
  std::string_view Text(int i) override {
    size_t len;
    const char* s = VmCheckString(L_, i + 2, &len);
    return {s, len};
  }

 private:
  qvScriptState* L_;
};

}  // namespace

// FormatStr(template, values ...)
int32_t FormatStr(qvScriptState* L) {
  size_t len;
  const char* tmpl = VmCheckString(L, 1, &len);
  return strlib::Guard([&] {
    std::string out;
    ArgumentValues values(L);
    int32_t code = strlib::FormatTemplate({tmpl, len}, values, &out);
    if (code != 0) return code;
    VmPushLString(L, out.data(), out.size());
    return 1;
  });
}

}  // namespace qv::cmd
