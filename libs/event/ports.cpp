// Messages between running players: naming this player's port and sending texts to others'.
#include "platform/ports.h"

#include <string>

#include "base/errors.h"
#include "core/args.h"
#include "core/events.h"
#include "libs/event/commands.h"

namespace qv::cmd {

namespace {
constexpr size_t kPortNameLimit = 127;
}  // namespace

// CreatePort(name): the port of the current display.
int32_t CreatePort(qvScriptState* L) {
  CheckArgCount(L, 1, 1);
  size_t len;
  const char* name = VmCheckString(L, 1, &len);
  if (len > kPortNameLimit || CurrentDisplayInput() == nullptr) return ERR_WRONGUSAGE;
  return SetPortName(name);
}

// SendMessage(port, command [, argument ...]): the command, then each argument after a blank in
// double quotes.
int32_t SendMessage(qvScriptState* L) {
  CheckArgCount(L, 2, 0);
  const char* port = VmCheckString(L, 1);
  size_t len;
  const char* command = VmCheckString(L, 2, &len);
  if (len == 0 || std::string_view(command, len).find(' ') != std::string_view::npos)
    return ERR_WRONGUSAGE;
  std::string text;
  try {
    text.assign(command, len);
    for (int i = 3, n = VmGetTop(L); i <= n; ++i) {
      size_t argLen;
      const char* arg = VmCheckString(L, i, &argLen);
      text += " \"";
      text.append(arg, argLen);
      text += '"';
    }
  } catch (const std::bad_alloc&) {
    return ERR_MEM;
  }
  return SendPortMessage(port, text.c_str());
}

}  // namespace qv::cmd
