// Requesters shown by zenity.
#include "platform/os/dialog_backends.h"

namespace qv {

RequesterBackend* ZenityRequesters(const std::string&) { return nullptr; }

}  // namespace qv
