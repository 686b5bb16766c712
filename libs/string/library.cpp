// The string library's table. ToString is here so far; DebugPrint converts its arguments
// through it.
#include "libs/libraries.h"
#include "libs/string/commands.h"

namespace qv {

namespace {

const qvLibraryRow kCommands[] = {
    {"ToString", cmd::ToString},
    {"Eval", cmd::Eval},
    {nullptr, nullptr},
};

}  // namespace

const qvLibrary kStringLibrary{"string", kCommands, nullptr, nullptr};

}  // namespace qv
